// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <thread>

namespace Corvane {

class HidrawChannel;

// Lets go of the nodes of devices that have left, the moment they leave.
//
// hidraw gives a node's number to a new device only once every descriptor of
// the old one is closed, and takes the lowest free number. The library notices
// a removal only at its next transfer; a device that resets or is replugged
// before that would come back under another number, and the selection (which
// remembers the path) would never find it again. So a thread waits for hang-ups
// on every open channel and swaps the channel's descriptor for /dev/null
// (HidrawChannel::Detach: the handle stays valid, its transfers report Gone).
class HangupMonitor {
  public:
    HangupMonitor();
    ~HangupMonitor();
    HangupMonitor(const HangupMonitor&) = delete;
    HangupMonitor& operator=(const HangupMonitor&) = delete;

    void Watch(HidrawChannel* channel);
    // Must come before the channel closes its descriptor.
    void Forget(HidrawChannel* channel);

  private:
    void Run();
    void WakeLocked();

    std::mutex mutex_;
    std::map<std::uint64_t, HidrawChannel*> watched_;  // by watch number, never reused
    std::map<HidrawChannel*, std::uint64_t> numbers_;
    std::uint64_t nextNumber_ = 1;
    bool stopping_ = false;
    // A wake-up is on its way: one is enough for any number of changes (a
    // discovery pass closes and reopens every bridge's channels).
    bool wakePending_ = false;
    int wakeFd_ = -1;
    int writeOnlyNull_ = -1;
    int readOnlyNull_ = -1;
    std::thread thread_;
    bool started_ = false;
    bool running_ = false;
};

}  // namespace Corvane
