// SPDX-License-Identifier: MIT
#pragma once

// Who may use the web interface: whoever holds the token the command printed.
// The server listens on 127.0.0.1, but every program on the machine and
// every web page the browser shows can reach that address, so:
// - each request carries the token: in the URL the command printed (once;
//   the answer sets a cookie and sends the browser on without it), in that
//   cookie afterwards, or in the X-Corvane-Token header (scripts);
// - the Host header must name this server by address or as localhost, so a
//   foreign name that resolves to 127.0.0.1 (DNS rebinding) gets nothing;
// - a request that comes from a page (Origin, Sec-Fetch-Site) must come from
//   this server's own pages, and one that changes something on the cookie
//   alone must say so with its Origin: no other site can make the browser
//   send one.

#include <cstdint>
#include <optional>
#include <string>

#include "HttpServer.hpp"

namespace CorvaneTool::Ui {

class Access {
  public:
    // `token` empty: a new random one.
    explicit Access(std::uint16_t port, std::string token = {});

    const std::string& Token() const { return token_; }
    // The address to open: "http://127.0.0.1:PORT/?token=…".
    std::string Url() const;

    // The refusal for a request that may not be served (403, a first visit's
    // redirect with the cookie); nothing when it may.
    std::optional<HttpResponse> Check(const HttpRequest& request) const;

  private:
    bool OwnOrigin(const std::string& origin) const;
    bool TokenMatches(const std::string& given) const;
    std::string CookieName() const;

    std::uint16_t port_;
    std::string token_;
};

}  // namespace CorvaneTool::Ui
