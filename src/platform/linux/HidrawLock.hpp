// SPDX-License-Identifier: MIT
#pragma once

// The inter-process lock of a hidraw node (Platform::LockChannel): flock()
// on one of the node's descriptors, so it belongs to that open file and goes
// when the file is closed, also when its program dies.

#include <cstdint>
#include <string>

#include "corvane/Platform.hpp"

namespace Corvane {

// Takes the node's lock on `fd`, trying every millisecond for at most
// timeoutMs, then discards the input reports queued on `fd` (hidraw hands
// every reader a copy of every report, so they answered other programs).
//
// flock() is not fair: a program that runs one operation after the other
// would take the lock again before a waiter wakes. So waiters announce
// themselves with a shared record lock on byte 0 of their own descriptor
// (record locks and flock() do not see each other on Linux), and a program
// that finds the lock free while another waits lets that one go first.
LockOutcome LockNode(int fd, std::uint32_t timeoutMs);

void UnlockNode(int fd);

// Who holds the node's lock, from /proc/locks and /proc/PID/comm:
// "corvane-i2cdev (pid 1234)", or "pid 1234" when the name cannot be read.
// Empty when nobody does or /proc cannot tell.
std::string NodeLockHolder(int fd, const std::string& procRoot = "/proc");

}  // namespace Corvane
