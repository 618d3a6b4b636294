// SPDX-License-Identifier: MIT
#include "HttpServer.hpp"

#include <fmt/format.h>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include "../Tool.hpp"

namespace CorvaneTool::Ui {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

// An EEPROM image (64 KiB at most) with room to spare.
constexpr std::size_t kBodyLimit = 1 << 20;
// A browser opens six at most; the rest are refused before they cost a thread's time.
constexpr std::size_t kMostConnections = 32;
constexpr auto kIdleTime = std::chrono::seconds(60);
constexpr auto kWriteTime = std::chrono::seconds(30);

// Every response: nothing kept in caches (answers are the bridge's state of
// the moment), no content sniffing, and no Referer that would carry the
// token of a first visit's URL anywhere.
void AddCommonHeaders(http::response_header<>& header) {
    header.set(http::field::cache_control, "no-store");
    header.set("X-Content-Type-Options", "nosniff");
    header.set("Referrer-Policy", "no-referrer");
}

}  // namespace

std::string HttpRequest::Header(std::string_view lowerCaseName) const {
    const auto found = headers.find(std::string(lowerCaseName));
    return found == headers.end() ? std::string() : found->second;
}

// The connection and listener classes have internal linkage: a class of the
// same name elsewhere in the program must not share their member functions.
namespace {

class Session;

struct Server {
    Server(std::uint16_t port, Router handler);

    void Accept();
    void Queue(std::function<void()> job);
    void Work();
    void Stop();

    net::io_context io{1};
    tcp::acceptor acceptor{io};
    net::signal_set signals{io, SIGINT, SIGTERM};
    Router router;
    std::atomic<bool> stopping{false};
    // The worker's queue.
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> jobs;
    // The I/O thread's own.
    std::vector<std::weak_ptr<Session>> sessions;
};

// One connection, on the I/O thread. It reads a request, answers it and
// reads the next; while a job works on a request it watches the socket, so
// that a client closing it is noticed before the answer is written.
class Session : public std::enable_shared_from_this<Session> {
  public:
    Session(tcp::socket socket, Server& server) : stream_(std::move(socket)), server_(server) {}

    void Start() { Read(); }
    net::any_io_executor Executor() { return stream_.get_executor(); }
    bool Gone() const { return gone_ || server_.stopping; }
    void Close();

    void Send(HttpResponse response);
    void Begin(int status, const std::string& contentType);
    void Write(const std::string& piece);
    void End();

  private:
    void Read();
    void OnRead(beast::error_code error);
    void Dispatch(http::request<http::string_body> message);
    void Watch();
    void Enqueue(std::string bytes, bool last);
    void WriteNext();
    void Finished();

    beast::tcp_stream stream_;
    Server& server_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    std::atomic<bool> gone_{false};
    unsigned version_ = 11;
    bool keepAlive_ = true;
    std::deque<std::string> out_;
    bool writing_ = false;
    bool responseDone_ = false;
    bool watching_ = false;
    bool readAfterWatch_ = false;
};

// The worker's side of a session: each call is carried out on the I/O thread.
class SessionReply : public Reply {
  public:
    explicit SessionReply(std::shared_ptr<Session> session) : session_(std::move(session)) {}
    void Send(HttpResponse response) override {
        done_ = true;
        Post([response = std::move(response)](Session& s) mutable { s.Send(std::move(response)); });
    }
    void Begin(int status, const std::string& contentType) override {
        begun_ = true;
        Post([status, contentType](Session& s) { s.Begin(status, contentType); });
    }
    void Write(std::string piece) override {
        Post([piece = std::move(piece)](Session& s) { s.Write(piece); });
    }
    void End() override {
        done_ = true;
        Post([](Session& s) { s.End(); });
    }
    bool Gone() const override { return session_->Gone(); }
    bool Answered() const { return done_; }
    bool Begun() const { return begun_; }

  private:
    template <typename Action>
    void Post(Action action) {
        net::post(session_->Executor(),
                  [session = session_, action = std::move(action)]() mutable { action(*session); });
    }
    std::shared_ptr<Session> session_;
    bool done_ = false;
    bool begun_ = false;
};

void Session::Close() {
    gone_ = true;
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
    stream_.close();
}

void Session::Read() {
    parser_.emplace();
    parser_->body_limit(kBodyLimit);
    stream_.expires_after(kIdleTime);
    http::async_read(
        stream_, buffer_, *parser_,
        [self = shared_from_this()](beast::error_code error, std::size_t) { self->OnRead(error); });
}

void Session::OnRead(beast::error_code error) {
    if (error == http::error::body_limit) {
        keepAlive_ = false;
        responseDone_ = false;
        Send({413, "text/plain", "too large\n", {}});
        return;
    }
    if (error) {
        Close();
        return;
    }
    Dispatch(parser_->release());
}

void Session::Dispatch(http::request<http::string_body> message) {
    version_ = message.version();
    keepAlive_ = message.keep_alive();
    responseDone_ = false;
    HttpRequest request;
    request.method = std::string(message.method_string());
    const std::string target(message.target());
    const auto question = target.find('?');
    request.path = target.substr(0, question);
    if (question != std::string::npos) request.query = target.substr(question + 1);
    for (const auto& field : message) {
        std::string name(field.name_string());
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        request.headers[name] = std::string(field.value());
    }
    request.body = std::move(message.body());

    Route route;
    try {
        route = server_.router(request);
    } catch (const std::exception& error) {
        route = HttpResponse{500, "text/plain", std::string(error.what()) + "\n", {}};
    }
    if (auto* response = std::get_if<HttpResponse>(&route)) {
        Send(std::move(*response));
        return;
    }
    // Until the job answers, only the watch reads; no time-out cuts a long job short.
    stream_.expires_never();
    // A next request already read (pipelined) says the client is still there.
    if (buffer_.size() == 0) Watch();
    server_.Queue([self = shared_from_this(), job = std::move(std::get<Job>(route))] {
        // Nobody waits for the answer of a request whose client left while it
        // was queued: it is not carried out.
        if (self->Gone()) return;
        SessionReply reply(self);
        try {
            job(reply);
        } catch (const std::exception& error) {
            if (!reply.Answered() && !reply.Begun()) {
                reply.Send({500, "text/plain", std::string(error.what()) + "\n", {}});
            }
        }
        if (reply.Begun() && !reply.Answered()) reply.End();
        if (!reply.Answered()) reply.Send({500, "text/plain", "no answer\n", {}});
    });
}

// Reads while a job runs: the end of the stream says the client went away.
// Bytes that arrive instead belong to the next request and stay in the buffer.
void Session::Watch() {
    watching_ = true;
    stream_.async_read_some(buffer_.prepare(512),
                            [self = shared_from_this()](beast::error_code error, std::size_t n) {
                                self->watching_ = false;
                                if (error) {
                                    self->gone_ = true;
                                    if (self->responseDone_ && !self->writing_) self->Close();
                                    return;
                                }
                                self->buffer_.commit(n);
                                if (std::exchange(self->readAfterWatch_, false)) self->Read();
                            });
}

void Session::Send(HttpResponse response) {
    http::response<http::string_body> message{static_cast<http::status>(response.status), version_};
    AddCommonHeaders(message.base());
    if (!response.contentType.empty()) message.set(http::field::content_type, response.contentType);
    for (const auto& [name, value] : response.headers) message.insert(name, value);
    message.keep_alive(keepAlive_);
    message.body() = std::move(response.body);
    message.prepare_payload();
    std::ostringstream text;
    text << message;
    Enqueue(text.str(), true);
}

void Session::Begin(int status, const std::string& contentType) {
    http::response<http::empty_body> message{static_cast<http::status>(status), version_};
    AddCommonHeaders(message.base());
    message.set(http::field::content_type, contentType);
    message.keep_alive(keepAlive_);
    message.chunked(true);
    std::ostringstream text;
    text << message.base();
    Enqueue(text.str(), false);
}

void Session::Write(const std::string& piece) {
    if (piece.empty()) return;  // an empty chunk would end the response
    Enqueue(fmt::format("{:x}\r\n{}\r\n", piece.size(), piece), false);
}

void Session::End() {
    Enqueue("0\r\n\r\n", true);
}

void Session::Enqueue(std::string bytes, bool last) {
    if (responseDone_) return;
    responseDone_ = last;
    if (gone_) {
        // Nobody to write to; the connection ends with the response.
        if (last && !watching_) Close();
        return;
    }
    out_.push_back(std::move(bytes));
    if (!writing_) WriteNext();
}

void Session::WriteNext() {
    writing_ = true;
    stream_.expires_after(kWriteTime);
    net::async_write(stream_, net::buffer(out_.front()),
                     [self = shared_from_this()](beast::error_code error, std::size_t) {
                         if (error) {
                             self->Close();
                             return;
                         }
                         self->out_.pop_front();
                         if (!self->out_.empty()) {
                             self->WriteNext();
                             return;
                         }
                         self->writing_ = false;
                         // The write's time limit would also end the watch.
                         self->stream_.expires_never();
                         if (self->responseDone_) self->Finished();
                     });
}

void Session::Finished() {
    if (!keepAlive_ || Gone()) {
        Close();
    } else if (watching_) {
        // The watch becomes the wait for the next request.
        stream_.expires_after(kIdleTime);
        readAfterWatch_ = true;
    } else {
        Read();
    }
}

Server::Server(std::uint16_t port, Router handler) : router(std::move(handler)) {
    const tcp::endpoint endpoint(net::ip::make_address_v4("127.0.0.1"), port);
    beast::error_code error;
    acceptor.open(endpoint.protocol(), error);
#if !defined(_WIN32)
    // On Windows the same option would let another program take the port over.
    if (!error) acceptor.set_option(net::socket_base::reuse_address(true), error);
#endif
    if (!error) acceptor.bind(endpoint, error);
    if (!error) acceptor.listen(net::socket_base::max_listen_connections, error);
    if (error) {
        throw Failure(fmt::format("cannot listen on 127.0.0.1:{}: {}", port, error.message()));
    }
}

void Server::Accept() {
    acceptor.async_accept([this](beast::error_code error, tcp::socket socket) {
        if (error || stopping) return;
        std::erase_if(sessions, [](const std::weak_ptr<Session>& s) { return s.expired(); });
        if (sessions.size() < kMostConnections) {
            auto session = std::make_shared<Session>(std::move(socket), *this);
            sessions.push_back(session);
            session->Start();
        }
        Accept();
    });
}

void Server::Queue(std::function<void()> job) {
    {
        std::lock_guard lock(mutex);
        jobs.push_back(std::move(job));
    }
    wake.notify_one();
}

void Server::Work() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(mutex);
            wake.wait(lock, [this] { return stopping || !jobs.empty(); });
            if (stopping) return;
            job = std::move(jobs.front());
            jobs.pop_front();
        }
        job();
    }
}

void Server::Stop() {
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    io.stop();
}

}  // namespace

struct HttpServer::Impl : Server {
    using Server::Server;
};

HttpServer::HttpServer(std::uint16_t port, Router router)
    : impl_(std::make_unique<Impl>(port, std::move(router))) {}

HttpServer::~HttpServer() = default;

std::uint16_t HttpServer::Port() const {
    return impl_->acceptor.local_endpoint().port();
}

void HttpServer::Run() {
    Impl& impl = *impl_;
    impl.signals.async_wait([&impl](beast::error_code error, int) {
        if (!error) impl.Stop();
    });
    impl.Accept();
    std::thread worker([&impl] { impl.Work(); });
    impl.io.run();
    impl.Stop();
    worker.join();
    std::lock_guard lock(impl.mutex);
    impl.jobs.clear();
}

void HttpServer::Stop() {
    impl_->Stop();
}

}  // namespace CorvaneTool::Ui
