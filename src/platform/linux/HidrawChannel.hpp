// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <thread>

#include "corvane/Platform.hpp"

namespace Corvane {

// One open hidraw node, write-only or read-only; owns the descriptor.
//
// Reads poll() the descriptor with the time-out and then read() one report.
//
// Writes cannot be bounded that way: poll() on hidraw always reports the node
// writable, and for a USB device write() sends the report synchronously
// (usbhid waits up to 5 s for the device to take it, O_NONBLOCK or not). So a
// write channel hands each report to a thread of its own and the caller waits
// for that thread at most the time-out. A write still inside the kernel then
// finishes there by itself; the channel stays usable (the next write waits for
// it within its own time-out), and closing it never waits: the thread closes
// the descriptor when the kernel lets go. The caller waits for the write's own
// outcome rather than going on to wait for the answer: a write that fails must
// fail the write, not the read after it, whose failure means something else to
// the callers (the command may have reached the device).
//
// Where the node's driver never makes a write wait for the device (uhid),
// `directWrites` writes on the caller's thread instead and saves the two
// thread switches per report; a full non-blocking node is still waited for
// at most the time-out.
class HidrawChannel {
  public:
    HidrawChannel(int fd, ChannelAccess access, bool directWrites = false);
    ~HidrawChannel();
    HidrawChannel(const HidrawChannel&) = delete;
    HidrawChannel& operator=(const HidrawChannel&) = delete;

    ChannelAccess Access() const { return access_; }
    int Fd() const { return fd_; }
    // Detach() has released the node.
    bool Gone() const { return gone_; }

    // Writes the 65-byte report (report ID first) in one write().
    TransferOutcome Write(std::span<const std::uint8_t, kWireReportSize> report,
                          std::uint32_t timeoutMs);

    // Reads one report. hidraw delivers a device's 64 bytes without a report
    // ID when the device uses none; a 65-byte report starts with its ID.
    TransferOutcome Read(std::span<std::uint8_t, kWireReportSize> report, std::uint32_t timeoutMs);

    // Stops a write that still waits for room in the node (one already inside
    // the kernel's write path runs to its end).
    void Cancel();

    // The device has left: releases the node while the handle stays valid, by
    // swapping the descriptor for /dev/null opened the other way round, so a
    // write or read that reaches it fails (EBADF) instead of "succeeding".
    // Every later transfer reports Gone. Safe from another thread.
    void Detach(int writeOnlyNull, int readOnlyNull);

  private:
    struct Writer;

    const int fd_;
    const ChannelAccess access_;
    const bool directWrites_;
    std::atomic<bool> gone_{false};
    std::shared_ptr<Writer> writer_;  // write channels, from the first write on
    std::thread thread_;
};

}  // namespace Corvane
