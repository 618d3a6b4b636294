// SPDX-License-Identifier: MIT
#include "platform/linux/HidrawChannel.hpp"

#include <fcntl.h>
#include <linux/futex.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
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

// The futex calls on a 32-bit atomic (the same object the kernel sees).
int FutexWait(std::atomic<std::uint32_t>& word, std::uint32_t expected, const timespec* deadline) {
    static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t));
    // An absolute deadline on the monotonic clock; none waits for good.
    const long rc = ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word),
                              FUTEX_WAIT_BITSET | FUTEX_PRIVATE_FLAG, expected, deadline, nullptr,
                              FUTEX_BITSET_MATCH_ANY);
    return rc == 0 ? 0 : errno;
}

void FutexWake(std::atomic<std::uint32_t>& word) {
    ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAKE | FUTEX_PRIVATE_FLAG,
              INT_MAX, nullptr, nullptr, 0);
}

timespec MonotonicDeadline(std::uint32_t timeoutMs) {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    t.tv_sec += static_cast<time_t>(timeoutMs / 1000);
    t.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1'000'000L;
    if (t.tv_nsec >= 1'000'000'000L) {
        t.tv_nsec -= 1'000'000'000L;
        ++t.tv_sec;
    }
    return t;
}

void Wake(int wakeFd) {
    const std::uint64_t one = 1;
    // Only an overflowing counter fails, and that wakes the thread all the same.
    [[maybe_unused]] const ssize_t n = ::write(wakeFd, &one, sizeof one);
}

// Writes one whole report, waiting for room where the node is non-blocking
// and full (a FIFO; hidraw always takes it) until `deadline`, if any, or
// until `wakeFd`, if any, is signalled and `stopped()` (both count as timed
// out). Wake-ups left from earlier reports are cleared only here, where a
// wait needs them, so a report that goes straight through costs no read of
// `wakeFd`; whoever signals makes `stopped()` true first.
template <class Stopped>
TransferOutcome WriteWhole(int fd, std::span<const std::uint8_t, kWireReportSize> wire, int wakeFd,
                           std::optional<Clock::time_point> deadline, Stopped stopped) {
    bool drained = false;
    for (;;) {
        const ssize_t n = ::write(fd, wire.data(), wire.size());
        if (n == static_cast<ssize_t>(wire.size())) return TransferOutcome::Done;
        if (n >= 0) return TransferOutcome::Gone;  // reports are never split: not a HID node
        if (errno == EINTR) continue;
        if (errno != EAGAIN) return OutcomeOfError(errno);
        if (wakeFd >= 0 && !drained) {
            DrainWake(wakeFd);
            drained = true;
        }
        if (stopped()) return TransferOutcome::TimedOut;
        pollfd fds[2] = {{fd, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
        const int ready = ::poll(fds, wakeFd >= 0 ? 2 : 1, deadline ? PollTimeout(*deadline) : -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return TransferOutcome::Failed;
        }
        if (ready == 0) return TransferOutcome::TimedOut;
        if (wakeFd >= 0 && fds[1].revents != 0) {
            if (stopped())
                return TransferOutcome::TimedOut;  // cancelled, or the channel is closing
            DrainWake(wakeFd);
        }
        if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return TransferOutcome::Gone;
    }
}

}  // namespace

// State shared by a write channel and its thread. The hand-off is two
// counters that double as futex words, so a report costs one wake-up each
// way and none for a side that is not asleep: a mutex and condition variable
// cost more switches where the woken thread runs at once (one CPU) and finds
// the mutex still held.
struct HidrawChannel::Writer {
    Writer(int fd, int wakeFd) : fd(fd), wakeFd(wakeFd) {}
    // Whichever of the channel and its thread lets go last closes the node:
    // the thread, after a write that outlived the channel.
    ~Writer() {
        ::close(fd);
        ::close(wakeFd);
    }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    const int fd;
    const int wakeFd;     // eventfd: stops the thread's wait for room in the node
    WireReport report{};  // the caller's while posted == finished, the thread's otherwise
    std::atomic<std::uint32_t> posted{0};    // number of the report handed over last
    std::atomic<std::uint32_t> finished{0};  // number of the report written (or dropped) last
    std::atomic<TransferOutcome> outcome{TransferOutcome::Done};  // of `finished`
    std::atomic<bool> dropPosted{false};  // the report posted last was cancelled: not to be written
    std::atomic<bool> closing{false};
    std::atomic<bool> threadAsleep{false};
    std::atomic<bool> callerAsleep{false};

    static void Run(std::shared_ptr<Writer> self) {
        Writer& w = *self;
        std::uint32_t taken = 0;
        while (!w.closing) {
            if (w.posted == taken) {
                // Announce the sleep before the last look, so a report posted
                // meanwhile either is seen here or wakes the futex.
                w.threadAsleep = true;
                if (w.posted == taken && !w.closing) FutexWait(w.posted, taken, nullptr);
                w.threadAsleep = false;
                continue;
            }
            taken = w.posted;
            if (w.closing) break;  // the closing channel's own change of `posted`
            const auto stopped = [&w] { return w.dropPosted || w.closing; };
            const TransferOutcome outcome =
                stopped() ? TransferOutcome::TimedOut
                          : WriteWhole(w.fd, w.report, w.wakeFd, std::nullopt, stopped);
            w.outcome.store(outcome, std::memory_order_relaxed);
            w.finished = taken;
            if (w.callerAsleep) FutexWake(w.finished);
        }
    }

    // Waits until report `job` is finished or `deadline` passes; false then.
    bool AwaitFinished(std::uint32_t job, const timespec& deadline) {
        for (;;) {
            const std::uint32_t seen = finished;
            if (seen == job) return true;
            callerAsleep = true;
            const bool timedOut =
                finished == seen && FutexWait(finished, seen, &deadline) == ETIMEDOUT;
            callerAsleep = false;
            if (timedOut) return finished == job;
        }
    }
};

HidrawChannel::HidrawChannel(int fd, ChannelAccess access, bool directWrites)
    : fd_(fd), access_(access), directWrites_(directWrites) {}

HidrawChannel::~HidrawChannel() {
    if (!writer_) {
        ::close(fd_);
        return;
    }
    Writer& w = *writer_;
    const bool idle = w.finished == w.posted;
    w.closing = true;
    Wake(w.wakeFd);
    // A new value, so that a thread just going to sleep does not.
    ++w.posted;
    FutexWake(w.posted);
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
    if (directWrites_) {
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        return WriteWhole(fd_, report, -1, deadline, [] { return false; });
    }
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
    const timespec deadline = MonotonicDeadline(timeoutMs);
    // An earlier write may still be inside the kernel.
    if (!w.AwaitFinished(w.posted, deadline)) return TransferOutcome::TimedOut;
    std::copy(report.begin(), report.end(), w.report.begin());
    w.dropPosted = false;
    const std::uint32_t job = w.posted + 1;
    w.posted = job;
    if (w.threadAsleep) FutexWake(w.posted);
    if (!w.AwaitFinished(job, deadline)) return TransferOutcome::TimedOut;
    return w.outcome.load(std::memory_order_relaxed);
}

TransferOutcome HidrawChannel::Read(std::span<std::uint8_t, kWireReportSize> report,
                                    std::uint32_t timeoutMs) {
    if (access_ != ChannelAccess::Read || gone_) return TransferOutcome::Gone;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    WireReport buffer{};
    // The first wait takes the whole time-out as it is, without reading the clock again.
    int waitMs = static_cast<int>(std::min<std::uint32_t>(timeoutMs, INT_MAX));
    for (;; waitMs = PollTimeout(deadline)) {
        pollfd fds{fd_, POLLIN, 0};
        const int ready = ::poll(&fds, 1, waitMs);
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
    Writer& w = *writer_;
    if (w.finished == w.posted) return;
    w.dropPosted = true;
    Wake(w.wakeFd);
}

void HidrawChannel::Detach(int writeOnlyNull, int readOnlyNull) {
    gone_ = true;
    ::dup3(access_ == ChannelAccess::Write ? readOnlyNull : writeOnlyNull, fd_, O_CLOEXEC);
}

}  // namespace Corvane
