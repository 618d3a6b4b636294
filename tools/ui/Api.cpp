// SPDX-License-Identifier: MIT
#include "Api.hpp"

#include <fmt/format.h>
#include <corvane/LibraryLock.hpp>

#include <chrono>

#include "../Numbers.hpp"

namespace CorvaneTool::Ui {

namespace {

// A streamed endpoint's progress goes out at most this often (and at its end).
constexpr auto kProgressInterval = std::chrono::milliseconds(100);

struct Outcome {
    int status = 200;
    Json document;
};

Json ErrorDocument(std::int32_t code, const std::string& name, const std::string& message) {
    return Json{{"code", code}, {"name", name}, {"message", message}};
}

// The answer for the exception in flight, as the tool's --json reports it.
Outcome CurrentError() {
    try {
        throw;
    } catch (const UsageError& error) {
        return {400, ErrorDocument(2, "USAGE", error.what())};
    } catch (const Failure& failure) {
        if (failure.code) {
            return {502, ErrorDocument(*failure.code, Corvane::ResultCodeName(*failure.code),
                                       failure.explanation)};
        }
        return {failure.name == "NOT_CONFIRMED" ? 428 : 500,
                ErrorDocument(1, failure.name, failure.explanation)};
    } catch (const Json::exception& error) {
        return {400, ErrorDocument(2, "USAGE", std::string("in the request: ") + error.what())};
    } catch (const std::exception& error) {
        return {500, ErrorDocument(1, "FAILED", error.what())};
    }
}

HttpResponse JsonResponse(int status, const Json& document) {
    return {status, "application/json", document.dump(), {}};
}

}  // namespace

Api::Api(ApiHooks hooks) : hooks_(std::move(hooks)) {}

void Api::Add(std::string method, std::string path, Endpoint endpoint, EndpointKind kind) {
    entries_.push_back({std::move(method), std::move(path), std::move(endpoint), kind});
}

Route Api::Dispatch(const HttpRequest& request) const {
    const Entry* match = nullptr;
    bool pathKnown = false;
    for (const Entry& entry : entries_) {
        if (entry.path != request.path) continue;
        pathKnown = true;
        if (entry.method == request.method) match = &entry;
    }
    if (!match) {
        return pathKnown ? JsonResponse(405, ErrorDocument(2, "USAGE",
                                                           request.method + " does not apply here"))
                         : JsonResponse(
                               404, ErrorDocument(2, "USAGE", "no such request: " + request.path));
    }
    Json arguments = Json::object();
    if (!request.body.empty()) {
        arguments = Json::parse(request.body, nullptr, false);
        if (arguments.is_discarded() || !arguments.is_object()) {
            return JsonResponse(400, ErrorDocument(2, "USAGE", "the request is no JSON object"));
        }
    }
    return Job([this, match, arguments = std::move(arguments)](Reply& reply) {
        Call call;
        call.arguments = arguments;
        call.gone = [&reply] { return reply.Gone(); };
        const bool streamed = match->kind.streamed;
        if (streamed) {
            reply.Begin(200, "application/x-ndjson");
            std::chrono::steady_clock::time_point last{};
            call.progress = [&reply, last](std::string_view stage, std::size_t done,
                                           std::size_t total) mutable {
                const auto now = std::chrono::steady_clock::now();
                if (done < total && now - last < kProgressInterval) return;
                last = now;
                const Json progress = {
                    {"stage", std::string(stage)}, {"done", done}, {"total", total}};
                reply.Write(Json{{"progress", progress}}.dump() + "\n");
            };
        }
        Json result;
        std::optional<Outcome> failure;
        {
            // One request's operations as one unit: nothing else reaches the library between them.
            Corvane::LibraryLock lock;
            try {
                if (hooks_.before) hooks_.before();
                result = match->endpoint(call);
            } catch (...) {
                failure = CurrentError();
            }
            try {
                if (hooks_.after) hooks_.after(match->path);
                if (match->kind.changes && hooks_.changed) hooks_.changed();
            } catch (...) {
                if (!failure) failure = CurrentError();
            }
        }
        if (streamed) {
            reply.Write(
                (failure ? Json{{"error", failure->document}} : Json{{"result", result}}).dump() +
                "\n");
            reply.End();
        } else {
            reply.Send(failure ? JsonResponse(failure->status, failure->document)
                               : JsonResponse(200, result));
        }
    });
}

std::uint32_t NumberArgument(const Json& arguments, const std::string& name, std::uint32_t min,
                             std::uint32_t max) {
    const auto found = arguments.find(name);
    if (found == arguments.end() || found->is_null()) throw UsageError("missing " + name);
    if (found->is_number_unsigned()) {
        const auto value = found->get<std::uint64_t>();
        if (value < min || value > max) {
            throw UsageError(
                fmt::format("{} is {}, but must lie within {} and {}", name, value, min, max));
        }
        return static_cast<std::uint32_t>(value);
    }
    if (found->is_string()) return ParseNumber(found->get<std::string>(), name, min, max);
    throw UsageError(name + " is no number");
}

}  // namespace CorvaneTool::Ui
