// SPDX-License-Identifier: MIT
#pragma once

// The web interface's API under /api/: each endpoint takes a JSON object and
// answers one, by calling the function that the tool's command of the same
// name calls. Requests reach the endpoints on the server's worker thread, one
// at a time, with the library's lock held for the whole request, so that no
// other work on the bridge comes between the operations of one request.
//
// A failure is answered as the tool's --json answers it: {"code", "name",
// "message"}, code being the library's result code where there is one (status
// 502: the bridge or the bus failed), USAGE (400) for arguments that cannot
// be, NOT_CONFIRMED (428) for a flash write without its confirmation
// (Confirmations.hpp), and FAILED (500) for the rest.
//
// A streamed endpoint answers with one JSON document per line
// (application/x-ndjson): {"progress": {"stage", "done", "total"}} while it
// works, then {"result": …} or {"error": {"code", "name", "message"}}.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "../Tool.hpp"
#include "HttpServer.hpp"

namespace CorvaneTool::Ui {

// What an endpoint is given.
struct Call {
    Json arguments = Json::object();  // the request's JSON object
    // Progress of long work; streamed endpoints send it to the client.
    std::function<void(std::string_view stage, std::size_t done, std::size_t total)> progress;
    // True once nobody waits for the answer (the browser went away, the
    // server stops): long work stops at its next step.
    std::function<bool()> gone;
};

using Endpoint = std::function<Json(Call& call)>;

struct EndpointKind {
    bool streamed = false;
    // Whether it may change the bridge's or its bus's state (the virtual
    // chip's state is kept after each such request).
    bool changes = false;
};

// What runs around every request, with the library's lock held.
struct ApiHooks {
    std::function<void()> before;
    std::function<void(const std::string& path)> after;
    // After a request of an endpoint that may change something.
    std::function<void()> changed;
};

class Api {
  public:
    explicit Api(ApiHooks hooks = {});

    void Add(std::string method, std::string path, Endpoint endpoint, EndpointKind kind = {});

    // The job for a request under /api/; a 404 or 405 response for a path or
    // method no endpoint has.
    Route Dispatch(const HttpRequest& request) const;

  private:
    struct Entry {
        std::string method;
        std::string path;
        Endpoint endpoint;
        EndpointKind kind;
    };
    std::vector<Entry> entries_;
    ApiHooks hooks_;
};

// Reads a required argument, as the tool's command lines read them: a number
// may be a JSON number or text ("0x50", "010"). UsageError names the argument.
std::uint32_t NumberArgument(const Json& arguments, const std::string& name, std::uint32_t min,
                             std::uint32_t max);

}  // namespace CorvaneTool::Ui
