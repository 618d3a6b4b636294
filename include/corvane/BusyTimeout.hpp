// SPDX-License-Identifier: MIT
#pragma once

// Several programs may use one bridge at the same time: the corvane tool,
// corvane-i2cdev serving it as /dev/i2c-N, an application of its own. Every
// public operation that talks to the bridge holds the bridge's inter-process
// lock from its first report to its last (a whole transfer, from the speed
// set-up to the last data answer; a whole settings read-modify-write), as the
// kernel's adapter lock covers one i2c_transfer. Programs then interleave
// whole operations, never single reports. On Linux the lock is flock() on the
// hidraw node, on Windows a named mutex of the device path.
//
// An operation that finds the bridge locked waits, as a kernel I2C client
// waits for a busy adapter, but at most the busy time-out. Past it the
// operation fails with BRIDGE_BUSY and has sent nothing. The time-out is
// process-wide and takes effect at the next operation.

#include <cstdint>
#include <string>

#include "corvane/Export.hpp"

namespace Corvane {

// The longest single operation, a 65,535-byte transfer with fixed pacing,
// takes 16.4 s at 100 kHz and 32.8 s at the slowest speed (46,333 Hz) where a
// report exchange takes 2 ms; the default waits that out with room for
// refused chunks and a slower host.
inline constexpr std::uint32_t kDefaultBusyTimeoutMs = 60'000;

// 0 makes an operation try the lock once and fail at once when it is held.
CORVANE_API void SetBusyTimeout(std::uint32_t ms);
CORVANE_API std::uint32_t GetBusyTimeout();

// Who held the bridge when the calling thread's last BRIDGE_BUSY came, as the
// platform can tell: "corvane-i2cdev (pid 1234)" on Linux; empty where it
// cannot (Windows) or before any BRIDGE_BUSY.
CORVANE_API std::string LastBusyHolder();

}  // namespace Corvane
