// SPDX-License-Identifier: MIT
#include "CuseServer.hpp"

#define FUSE_USE_VERSION 35
#include <cuse_lowlevel.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/uio.h>

#include <cerrno>
#include <cstdlib>

#include <chrono>
#include <cstdint>
#include <iostream>
#include <memory>
#include <thread>
#include <vector>

namespace CorvaneI2cDev {

namespace {

CuseServer& Server(fuse_req_t req) {
    return *static_cast<CuseServer*>(fuse_req_userdata(req));
}

// An open file and the bridge's presence it was opened in.
struct CuseFile {
    OpenFile file;
    std::uint64_t generation;
};

CuseFile& Entry(const fuse_file_info* fi) {
    return *reinterpret_cast<CuseFile*>(static_cast<std::uintptr_t>(fi->fh));
}

OpenFile& File(const fuse_file_info* fi) {
    return Entry(fi).file;
}

// Answers ENODEV for a file whose bridge has gone since it was opened.
bool Gone(fuse_req_t req, const fuse_file_info* fi) {
    if (Server(req).Current(Entry(fi).generation)) return false;
    fuse_reply_err(req, ENODEV);
    return true;
}

void Open(fuse_req_t req, fuse_file_info* fi) {
    const std::uint64_t generation = Server(req).OpenFile();
    if (!Server(req).Current(generation)) {
        Server(req).CloseFile();
        fuse_reply_err(req, ENODEV);
        return;
    }
    fi->fh = reinterpret_cast<std::uintptr_t>(new CuseFile{OpenFile{}, generation});
    fi->nonseekable = 1;
    if (fuse_reply_open(req, fi) != 0) {
        delete &Entry(fi);
        Server(req).CloseFile();
    }
}

void Release(fuse_req_t req, fuse_file_info* fi) {
    delete &Entry(fi);
    Server(req).CloseFile();
    fuse_reply_err(req, 0);
}

void Read(fuse_req_t req, std::size_t size, off_t, fuse_file_info* fi) {
    if (Gone(req, fi)) return;
    std::vector<std::uint8_t> data(std::min(size, I2cDevAdapter::kMaxMessage));
    const std::int32_t result = Server(req).Adapter().Read(File(fi), data);
    if (result < 0) {
        fuse_reply_err(req, -result);
    } else {
        fuse_reply_buf(req, reinterpret_cast<const char*>(data.data()),
                       static_cast<std::size_t>(result));
    }
}

void Write(fuse_req_t req, const char* buf, std::size_t size, off_t, fuse_file_info* fi) {
    if (Gone(req, fi)) return;
    const std::int32_t result =
        Server(req).Adapter().Write(File(fi), {reinterpret_cast<const std::uint8_t*>(buf), size});
    if (result < 0) {
        fuse_reply_err(req, -result);
    } else {
        fuse_reply_write(req, static_cast<std::size_t>(result));
    }
}

std::vector<iovec> Iovecs(const std::vector<ClientRegion>& regions) {
    std::vector<iovec> iovecs;
    for (const ClientRegion& region : regions) {
        iovecs.push_back(
            {reinterpret_cast<void*>(static_cast<std::uintptr_t>(region.address)), region.size});
    }
    return iovecs;
}

void Ioctl(fuse_req_t req, int cmd, void* arg, fuse_file_info* fi, unsigned flags,
           const void* in_buf, std::size_t in_bufsz, std::size_t out_bufsz) {
    if (Gone(req, fi)) return;
    // A 32-bit client on this 64-bit kernel: its structures hold 4-byte pointers.
    const ClientAbi abi = (flags & FUSE_IOCTL_COMPAT) != 0 ? ClientAbi::Bits32 : ClientAbi::Native;
    const IoctlReply reply = Server(req).Adapter().Ioctl(
        File(fi), static_cast<std::uint32_t>(cmd), reinterpret_cast<std::uintptr_t>(arg), abi,
        {static_cast<const std::uint8_t*>(in_buf), in_bufsz}, out_bufsz);
    if (reply.retry) {
        const std::vector<iovec> fetch = Iovecs(reply.fetch), store = Iovecs(reply.store);
        fuse_reply_ioctl_retry(req, fetch.data(), fetch.size(), store.data(), store.size());
    } else if (reply.error != 0) {
        fuse_reply_err(req, reply.error);
    } else {
        fuse_reply_ioctl(req, reply.result, reply.out.data(), reply.out.size());
    }
}

void InitDone(void* userdata) {
    static_cast<CuseServer*>(userdata)->NodeReady();
}

}  // namespace

CuseServer::CuseServer(I2cDevAdapter& adapter, std::string name)
    : adapter_(adapter), name_(std::move(name)) {}

std::uint64_t CuseServer::OpenFile() {
    ++openFiles_;
    return generation_;
}

void CuseServer::EveryPeriod(std::chrono::milliseconds period, std::function<bool()> tick) {
    period_ = period;
    tick_ = std::move(tick);
}

// fuse_session_loop, with the tick between requests. Signals end it as they
// end that loop: libfuse's handlers mark the session exited, and poll() returns.
int CuseServer::Serve(fuse_session* session) {
    if (!tick_) return fuse_session_loop(session);
    fuse_buf buf{};
    int status = 0;
    auto next = std::chrono::steady_clock::now() + period_;
    while (!fuse_session_exited(session)) {
        pollfd request{fuse_session_fd(session), POLLIN, 0};
        const int ready = poll(&request, 1, static_cast<int>(period_.count()));
        const bool interrupted = ready < 0;
        if (interrupted && errno != EINTR) {
            status = -errno;
            break;
        }
        if (ready > 0) {
            const int received = fuse_session_receive_buf(session, &buf);
            if (received == -EINTR || received == -EAGAIN) continue;
            if (received <= 0) {
                status = received;
                break;
            }
            fuse_session_process_buf(session, &buf);
        }
        if (const auto now = std::chrono::steady_clock::now(); interrupted || now >= next) {
            next = now + period_;
            if (!tick_()) {
                stoppedByTick_ = true;
                break;
            }
        }
    }
    std::free(buf.mem);
    return status;
}

void CuseServer::NodeReady() {
    // The kernel has registered the device; devtmpfs or udev makes the node.
    const std::string path = "/dev/" + name_;
    struct stat node {};
    for (int i = 0; i < 500 && stat(path.c_str(), &node) != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (ready_) ready_(path);
}

int CuseServer::Run(std::function<void(const std::string& path)> ready) {
    ready_ = std::move(ready);
    const std::string devname = "DEVNAME=" + name_;
    const char* info[] = {devname.c_str()};
    cuse_info ci{};
    ci.dev_info_argc = 1;
    ci.dev_info_argv = info;
    ci.flags = CUSE_UNRESTRICTED_IOCTL;  // i2c-dev ioctls carry pointers and no sizes

    cuse_lowlevel_ops ops{};
    ops.init_done = InitDone;
    ops.open = Open;
    ops.read = Read;
    ops.write = Write;
    ops.release = Release;
    ops.ioctl = Ioctl;

    // Foreground and single-threaded: the caller has daemonised already, and
    // one thread serves one transfer at a time.
    char program[] = "corvane-i2cdev", foreground[] = "-f", single[] = "-s";
    char* argv[] = {program, foreground, single, nullptr};
    int multithreaded = 0;
    fuse_session* session = cuse_lowlevel_setup(3, argv, &ci, &ops, &multithreaded, this);
    if (session == nullptr) {
        std::cerr << "corvane-i2cdev: cannot create /dev/" << name_
                  << " (CUSE needs /dev/cuse: 'modprobe cuse', and root)\n";
        return 1;
    }
    stoppedByTick_ = false;
    const int status = Serve(session);
    cuse_lowlevel_teardown(session);
    return status < 0 ? 1 : 0;
}

}  // namespace CorvaneI2cDev
