#include "platform/linux/HidrawChannel.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <span>
#include "platform/linux/QuietThread.hpp"

namespace Corvane {

namespace {

using Clock = std::chrono::steady_clock;
using WireReport = std::array<std::uint8_t, kWireReportSize>;

// An errno of read() or write() on a node. The device is gone for everything
// but a time-out reported by the kernel and a shortage of memory.
TransferOutcome OutcomeOfError(int error) {
    switch (error) {
        case ETIMEDOUT:
            return TransferOutcome::TimedOut;
        case ENOMEM:
        case ENOBUFS:
            return TransferOutcome::Failed;
        default:  // ENODEV, EIO, ESHUTDOWN, EPIPE, EBADF, ...
            return TransferOutcome::Gone;
    }
}

// Milliseconds for poll(), rounded up so a wait never ends before the deadline.
int PollTimeout(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, INT_MAX));
}

void DrainWake(int wakeFd) {
    std::uint64_t count = 0;
    while (::read(wakeFd, &count, sizeof count) == static_cast<ssize_t>(sizeof count)) {
    }
}

void Wake(int wakeFd) {
    const std::uint64_t one = 1;
    // Only an overflowing counter fails, and that wakes the thread all the same.
    [[maybe_unused]] const ssize_t n = ::write(wakeFd, &one, sizeof one);
}

// Writes one whole report, waiting for room where the node is non-blocking
// and full (a FIFO; hidraw always takes it) until `deadline`, if any, or
// until `wakeFd`, if any, is signalled (both count as timed out).
TransferOutcome WriteWhole(int fd, std::span<const std::uint8_t, kWireReportSize> wire, int wakeFd,
                           std::optional<Clock::time_point> deadline) {
    for (;;) {
        const ssize_t n = ::write(fd, wire.data(), wire.size());
        if (n == static_cast<ssize_t>(wire.size())) return TransferOutcome::Done;
        if (n >= 0) return TransferOutcome::Gone;  // reports are never split: not a HID node
        if (errno == EINTR) continue;
        if (errno != EAGAIN) return OutcomeOfError(errno);
        pollfd fds[2] = {{fd, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
        const int ready = ::poll(fds, wakeFd >= 0 ? 2 : 1, deadline ? PollTimeout(*deadline) : -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return TransferOutcome::Failed;
        }
        if (ready == 0) return TransferOutcome::TimedOut;
        // Cancelled, or the channel is closing.
        if (wakeFd >= 0 && fds[1].revents != 0) return TransferOutcome::TimedOut;
        if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return TransferOutcome::Gone;
    }
}

}  // namespace

// State shared by a write channel and its thread.
struct HidrawChannel::Writer {
    Writer(int fd, int wakeFd) : fd(fd), wakeFd(wakeFd) {}

    std::mutex mutex;
    std::condition_variable changed;
    const int fd;
    const int wakeFd;  // eventfd: stops the thread's wait for room in the node
    WireReport report{};
    std::uint64_t job = 0;                            // number of the report handed over last
    std::uint64_t finished = 0;                       // number of the report written last
    TransferOutcome outcome = TransferOutcome::Done;  // of `finished`
    bool queued = false;                              // `job` waits for the thread
    bool running = false;                             // the thread is writing
    bool closing = false;

    static void Run(std::shared_ptr<Writer> self) {
        Writer& w = *self;
        std::unique_lock lock(w.mutex);
        for (;;) {
            w.changed.wait(lock, [&] { return w.queued || w.closing; });
            if (w.closing) break;
            w.queued = false;
            w.running = true;
            const std::uint64_t job = w.job;
            const WireReport wire = w.report;
            DrainWake(w.wakeFd);  // a cancel from before this report is not meant for it
            lock.unlock();
            const TransferOutcome outcome = WriteWhole(w.fd, wire, w.wakeFd, std::nullopt);
            lock.lock();
            w.running = false;
            w.finished = job;
            w.outcome = outcome;
            w.changed.notify_all();
        }
        lock.unlock();
        ::close(w.fd);
        ::close(w.wakeFd);
    }
};

HidrawChannel::HidrawChannel(int fd, ChannelAccess access, bool directWrites)
    : fd_(fd), access_(access), directWrites_(directWrites) {}

HidrawChannel::~HidrawChannel() {
    if (!writer_) {
        ::close(fd_);
        return;
    }
    bool idle = false;
    {
        std::lock_guard lock(writer_->mutex);
        writer_->closing = true;
        idle = !writer_->running;
        Wake(writer_->wakeFd);
    }
    writer_->changed.notify_all();
    // A write still in the kernel may take seconds: the thread closes the node then.
    if (idle) {
        thread_.join();
    } else {
        thread_.detach();
    }
}

TransferOutcome HidrawChannel::Write(std::span<const std::uint8_t, kWireReportSize> report,
                                     std::uint32_t timeoutMs) {
    if (access_ != ChannelAccess::Write || gone_) return TransferOutcome::Gone;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    if (directWrites_) return WriteWhole(fd_, report, -1, deadline);
    if (!writer_) {
        const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wakeFd < 0) return TransferOutcome::Failed;
        auto writer = std::make_shared<Writer>(fd_, wakeFd);
        if (!StartQuietThread(thread_, [writer] { Writer::Run(writer); })) {
            ::close(wakeFd);
            return TransferOutcome::Failed;
        }
        writer_ = std::move(writer);
    }

    Writer& w = *writer_;
    std::unique_lock lock(w.mutex);
    // An earlier write may still be inside the kernel.
    if (!w.changed.wait_until(lock, deadline, [&] { return !w.running && !w.queued; })) {
        return TransferOutcome::TimedOut;
    }
    std::copy(report.begin(), report.end(), w.report.begin());
    w.queued = true;
    const std::uint64_t job = ++w.job;
    w.changed.notify_all();
    if (!w.changed.wait_until(lock, deadline, [&] { return w.finished == job; })) {
        return TransferOutcome::TimedOut;
    }
    return w.outcome;
}

TransferOutcome HidrawChannel::Read(std::span<std::uint8_t, kWireReportSize> report,
                                    std::uint32_t timeoutMs) {
    if (access_ != ChannelAccess::Read || gone_) return TransferOutcome::Gone;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    WireReport buffer{};
    for (;;) {
        pollfd fds{fd_, POLLIN, 0};
        const int ready = ::poll(&fds, 1, PollTimeout(deadline));
        if (ready < 0) {
            if (errno == EINTR) continue;
            return TransferOutcome::Failed;
        }
        if (ready == 0) return TransferOutcome::TimedOut;
        // A report queued before the device left is still delivered, unless
        // the hang-up monitor released the node first.
        if ((fds.revents & POLLIN) == 0) return TransferOutcome::Gone;
        const ssize_t n = ::read(fd_, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno != EINTR && errno != EAGAIN) return OutcomeOfError(errno);
            if (Clock::now() >= deadline) return TransferOutcome::TimedOut;
            continue;
        }
        if (n == 0) return TransferOutcome::Gone;  // end of file: nothing will come
        const auto count = static_cast<std::size_t>(n);
        if (count == kWireReportSize) {
            std::copy(buffer.begin(), buffer.end(), report.begin());
        } else {
            report[0] = 0x00;
            std::copy_n(buffer.begin(), count, report.begin() + 1);
            std::fill(report.begin() + 1 + static_cast<std::ptrdiff_t>(count), report.end(), 0);
        }
        return TransferOutcome::Done;
    }
}

void HidrawChannel::Cancel() {
    if (!writer_) return;
    std::lock_guard lock(writer_->mutex);
    writer_->queued = false;
    if (writer_->running) Wake(writer_->wakeFd);
}

void HidrawChannel::Detach(int writeOnlyNull, int readOnlyNull) {
    gone_ = true;
    ::dup3(access_ == ChannelAccess::Write ? readOnlyNull : writeOnlyNull, fd_, O_CLOEXEC);
}

}  // namespace Corvane
