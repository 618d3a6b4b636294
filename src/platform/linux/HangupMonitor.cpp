// SPDX-License-Identifier: MIT
#include "platform/linux/HangupMonitor.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/linux/HidrawChannel.hpp"
#include "platform/linux/QuietThread.hpp"

namespace Corvane {

HangupMonitor::HangupMonitor()
    : wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      writeOnlyNull_(::open("/dev/null", O_WRONLY | O_CLOEXEC)),
      readOnlyNull_(::open("/dev/null", O_RDONLY | O_CLOEXEC)) {}

HangupMonitor::~HangupMonitor() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        WakeLocked();
    }
    if (thread_.joinable()) thread_.join();
    for (int fd : {wakeFd_, writeOnlyNull_, readOnlyNull_}) {
        if (fd >= 0) ::close(fd);
    }
}

void HangupMonitor::WakeLocked() {
    if (wakePending_) return;
    wakePending_ = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

void HangupMonitor::Watch(HidrawChannel* channel) {
    std::lock_guard lock(mutex_);
    // Without these the channels still work; only the early release is lost.
    if (wakeFd_ < 0 || writeOnlyNull_ < 0 || readOnlyNull_ < 0) return;
    if (!started_) {
        started_ = true;
        running_ = StartQuietThread(thread_, [this] { Run(); });
    }
    if (!running_) return;
    const std::uint64_t number = nextNumber_++;
    watched_[number] = channel;
    numbers_[channel] = number;
    WakeLocked();
}

void HangupMonitor::Forget(HidrawChannel* channel) {
    std::lock_guard lock(mutex_);
    const auto it = numbers_.find(channel);
    if (it == numbers_.end()) return;
    watched_.erase(it->second);
    numbers_.erase(it);
    WakeLocked();
}

void HangupMonitor::Run() {
    std::vector<pollfd> fds;
    std::vector<std::uint64_t> numbers;
    for (;;) {
        fds.assign(1, pollfd{wakeFd_, POLLIN, 0});
        numbers.assign(1, 0);
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
            wakePending_ = false;  // changes from now on are not in this poll set
            for (const auto& [number, channel] : watched_) {
                fds.push_back({channel->Fd(), 0, 0});  // hang-ups are reported without asking
                numbers.push_back(number);
            }
        }
        if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) return;
        if (fds[0].revents != 0) {
            std::uint64_t count = 0;
            while (::read(wakeFd_, &count, sizeof count) > 0) {
            }
        }
        std::lock_guard lock(mutex_);
        for (std::size_t i = 1; i < fds.size(); ++i) {
            if ((fds[i].revents & (POLLERR | POLLHUP)) == 0) continue;
            // A channel forgotten meanwhile may have had its number reused: skip it.
            const auto it = watched_.find(numbers[i]);
            if (it == watched_.end()) continue;
            it->second->Detach(writeOnlyNull_, readOnlyNull_);
            numbers_.erase(it->second);
            watched_.erase(it);
        }
    }
}

}  // namespace Corvane
