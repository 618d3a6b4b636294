// SPDX-License-Identifier: MIT
#include "Access.hpp"

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <random>

#include "../Numbers.hpp"

namespace CorvaneTool::Ui {

namespace {

constexpr std::size_t kTokenBytes = 16;

std::string NewToken() {
    std::random_device random;
    std::string token;
    for (std::size_t i = 0; i < kTokenBytes; ++i) {
        token += fmt::format("{:02x}", static_cast<unsigned>(random() & 0xFFu));
    }
    return token;
}

// The value of cookie `name` in a Cookie header ("a=1; b=2").
std::string CookieValue(const std::string& header, const std::string& name) {
    std::size_t at = 0;
    while (at < header.size()) {
        const std::size_t end = std::min(header.find(';', at), header.size());
        std::string_view pair(header.data() + at, end - at);
        while (!pair.empty() && pair.front() == ' ') pair.remove_prefix(1);
        if (pair.starts_with(name + "=")) return std::string(pair.substr(name.size() + 1));
        at = end + 1;
    }
    return {};
}

// The value of `token` in a query string.
std::string QueryToken(const std::string& query) {
    std::size_t at = 0;
    while (at < query.size()) {
        const std::size_t end = std::min(query.find('&', at), query.size());
        const std::string_view pair(query.data() + at, end - at);
        if (pair.starts_with("token=")) return std::string(pair.substr(6));
        at = end + 1;
    }
    return {};
}

HttpResponse Refusal(const HttpRequest& request, const std::string& why) {
    if (request.path.starts_with("/api/")) {
        return {403,
                "application/json",
                nlohmann::ordered_json{{"code", 403}, {"name", "REFUSED"}, {"message", why}}.dump(),
                {}};
    }
    return {403, "text/plain; charset=utf-8", why + "\n", {}};
}

}  // namespace

Access::Access(std::uint16_t port, std::string token)
    : port_(port), token_(token.empty() ? NewToken() : std::move(token)) {}

std::string Access::Url() const {
    return fmt::format("http://127.0.0.1:{}/?token={}", port_, token_);
}

std::string Access::CookieName() const {
    // Cookies are kept per host, not per port: each server has its own.
    return fmt::format("corvane-ui-{}", port_);
}

bool Access::OwnOrigin(const std::string& origin) const {
    return origin == fmt::format("http://127.0.0.1:{}", port_) ||
           Lower(origin) == fmt::format("http://localhost:{}", port_);
}

bool Access::TokenMatches(const std::string& given) const {
    // Compared in full whatever differs, so the time taken tells nothing.
    unsigned differences = given.size() == token_.size() ? 0 : 1;
    for (std::size_t i = 0; i < token_.size(); ++i) {
        differences |= static_cast<unsigned char>(token_[i] ^ (i < given.size() ? given[i] : 0));
    }
    return differences == 0;
}

std::optional<HttpResponse> Access::Check(const HttpRequest& request) const {
    const std::string host = Lower(request.Header("host"));
    if (host != fmt::format("127.0.0.1:{}", port_) && host != fmt::format("localhost:{}", port_)) {
        return Refusal(
            request,
            fmt::format("this server answers to 127.0.0.1:{} and localhost:{} only", port_, port_));
    }
    const std::string origin = request.Header("origin");
    if (!origin.empty() && !OwnOrigin(origin)) {
        return Refusal(request, "requests from other sites' pages are refused");
    }
    const std::string site = request.Header("sec-fetch-site");
    if (!site.empty() && site != "same-origin" && site != "none") {
        return Refusal(request, "requests from other sites' pages are refused");
    }
    const bool reads = request.method == "GET";

    if (TokenMatches(request.Header("x-corvane-token"))) return std::nullopt;
    if (TokenMatches(CookieValue(request.Header("cookie"), CookieName()))) {
        if (!reads && origin.empty()) {
            return Refusal(request, "a change needs the Origin header of this server's page");
        }
        return std::nullopt;
    }
    if (reads && TokenMatches(QueryToken(request.query))) {
        // The token leaves the address bar (and the history) for the cookie.
        return HttpResponse{303,
                            "text/plain",
                            "",
                            {{"Location", "/"},
                             {"Set-Cookie", fmt::format("{}={}; Path=/; HttpOnly; SameSite=Strict",
                                                        CookieName(), token_)}}};
    }
    return Refusal(request,
                   "open the address that 'corvane ui' printed: it carries the access token");
}

}  // namespace CorvaneTool::Ui
