// SPDX-License-Identifier: MIT
#pragma once

// The web interface's HTTP/1.1 server. It listens on 127.0.0.1 only. One
// I/O thread reads requests and writes responses for every connection; what a
// request asks of the bridge runs on one worker thread, one request after the
// other in the order they came, so that no two requests' operations ever
// interleave. A client that goes away while its request is worked on is
// noticed (Reply::Gone), so that a long transfer can stop between two steps
// and leave the bridge as after any finished operation.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace CorvaneTool::Ui {

struct HttpRequest {
    std::string method;                          // "GET"
    std::string path;                            // "/api/bus/scan", without the query
    std::string query;                           // "token=…", without the '?'
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;

    // The header's value; empty when the request has none.
    std::string Header(std::string_view lowerCaseName) const;
};

struct HttpResponse {
    int status = 200;
    std::string contentType;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
};

// How the worker answers a request: one whole response, or a response sent
// in pieces as the work goes on (chunked). Each call returns at once; the
// I/O thread writes in the order of the calls.
class Reply {
  public:
    virtual ~Reply() = default;
    virtual void Send(HttpResponse response) = 0;
    virtual void Begin(int status, const std::string& contentType) = 0;
    virtual void Write(std::string piece) = 0;
    virtual void End() = 0;
    // True once the client closed its connection or the server is stopping:
    // nobody waits for the answer any more.
    virtual bool Gone() const = 0;
};

// Work for the worker thread. A job that neither sends nor ends its reply
// gets a 500 response; one whose client is gone before it starts is dropped.
using Job = std::function<void(Reply&)>;

// What becomes of a request, decided on the I/O thread: a response at once,
// or a job.
using Route = std::variant<HttpResponse, Job>;
using Router = std::function<Route(const HttpRequest&)>;

class HttpServer {
  public:
    // Listens on 127.0.0.1:`port` (0: a free port the system picks). A
    // Failure when the port cannot be had.
    HttpServer(std::uint16_t port, Router router);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    std::uint16_t Port() const;

    // Serves until Stop(), Ctrl-C or SIGTERM. The job in progress then sees
    // its client gone and is waited for; jobs not begun are dropped.
    void Run();
    // May be called from any thread.
    void Stop();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace CorvaneTool::Ui
