// SPDX-License-Identifier: MIT
#include "platform/linux/HidrawLock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

namespace Corvane {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kRetry = std::chrono::milliseconds(1);
// How long a program that found the lock free stands back while the program
// it let go first still waits to take it.
constexpr auto kStandBack = std::chrono::milliseconds(50);
// hidraw queues 64 reports per reader; more reads than that find none.
constexpr int kMostQueued = 256;

enum class Try { Taken, Held, Error };

Try TryLock(int fd) {
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return Try::Taken;
        if (errno == EWOULDBLOCK) return Try::Held;
        if (errno != EINTR) return Try::Error;
    }
}

// The waiting mark: a shared record lock on byte 0. F_OFD locks belong to the
// open file like flock(), so a program's mark goes with its descriptor.
void Mark(int fd, short type) {
    struct flock record {};
    record.l_type = type;
    record.l_whence = SEEK_SET;
    record.l_start = 0;
    record.l_len = 1;
    // A mark that cannot be set only costs fairness.
    [[maybe_unused]] const int rc = ::fcntl(fd, F_OFD_SETLK, &record);
}

// Whether another open file of the node carries the waiting mark.
bool OthersWait(int fd) {
    struct flock record {};
    record.l_type = F_WRLCK;
    record.l_whence = SEEK_SET;
    record.l_start = 0;
    record.l_len = 1;
    return ::fcntl(fd, F_OFD_GETLK, &record) == 0 && record.l_type != F_UNLCK;
}

void DiscardQueued(int fd) {
    std::array<std::uint8_t, kWireReportSize> report{};
    for (int i = 0; i < kMostQueued; ++i) {
        const ssize_t n = ::read(fd, report.data(), report.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // EAGAIN: the queue is empty (the node is non-blocking)
    }
}

std::string ProcessName(const std::string& procRoot, long pid) {
    std::ifstream comm(procRoot + "/" + std::to_string(pid) + "/comm");
    std::string name;
    if (std::getline(comm, name) && !name.empty()) {
        return name + " (pid " + std::to_string(pid) + ")";
    }
    return "pid " + std::to_string(pid);
}

}  // namespace

LockOutcome LockNode(int fd, std::uint32_t timeoutMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::optional<Clock::time_point> standBackUntil;
    switch (TryLock(fd)) {
        case Try::Taken:
            if (timeoutMs == 0 || !OthersWait(fd)) {
                DiscardQueued(fd);
                return LockOutcome::Held;
            }
            // Back for the next operation while another program waits.
            ::flock(fd, LOCK_UN);
            standBackUntil = Clock::now() + kStandBack;
            break;
        case Try::Held:
            break;
        case Try::Error:
            return LockOutcome::Failed;
    }
    Mark(fd, F_RDLCK);
    LockOutcome outcome = LockOutcome::Busy;
    for (;;) {
        const Clock::time_point now = Clock::now();
        const bool standingBack = standBackUntil && now < *standBackUntil && OthersWait(fd);
        if (!standingBack) {
            const Try attempt = TryLock(fd);
            if (attempt != Try::Held) {
                outcome = attempt == Try::Taken ? LockOutcome::Held : LockOutcome::Failed;
                break;
            }
        }
        if (now >= deadline) break;
        std::this_thread::sleep_for(std::min<Clock::duration>(kRetry, deadline - now));
    }
    Mark(fd, F_UNLCK);
    if (outcome == LockOutcome::Held) DiscardQueued(fd);
    return outcome;
}

void UnlockNode(int fd) {
    ::flock(fd, LOCK_UN);
}

std::string NodeLockHolder(int fd, const std::string& procRoot) {
    struct stat node {};
    if (::fstat(fd, &node) != 0) return {};
    std::ifstream locks(procRoot + "/locks");
    std::string line;
    while (std::getline(locks, line)) {
        // "1: FLOCK  ADVISORY  WRITE 1234 00:05:321 0 EOF"; a waiter's line
        // has "->" after the number.
        std::istringstream fields(line);
        std::string number, kind, mode, access, where;
        long pid = 0;
        if (!(fields >> number >> kind >> mode >> access >> pid >> where)) continue;
        if (kind != "FLOCK" || access != "WRITE" || pid <= 0) continue;
        unsigned major = 0, minor = 0;
        unsigned long inode = 0;
        if (std::sscanf(where.c_str(), "%x:%x:%lu", &major, &minor, &inode) != 3) continue;
        if (major != ::major(node.st_dev) || minor != ::minor(node.st_dev) ||
            inode != node.st_ino) {
            continue;
        }
        return ProcessName(procRoot, pid);
    }
    return {};
}

}  // namespace Corvane
