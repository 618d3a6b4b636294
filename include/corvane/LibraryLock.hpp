// SPDX-License-Identifier: MIT
#pragma once

// The library's process-wide lock and a look at its device state, for code
// that runs several operations as one unit (the bridge handles of
// BridgeHandle.hpp are built on these).
//
// Every public operation holds the lock for its whole duration; it is
// recursive, so operations called while a LibraryLock is held take it again
// and run as usual, and no other thread's operation runs between them.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "corvane/Export.hpp"

namespace Corvane {

class CORVANE_API LibraryLock {
  public:
    LibraryLock();
    ~LibraryLock();
    LibraryLock(const LibraryLock&) = delete;
    LibraryLock& operator=(const LibraryLock&) = delete;

  private:
    struct Held;
    std::unique_ptr<Held> held_;
};

// What the process-wide device state holds now. Nothing is searched for:
// the device list is the last discovery pass's. Paths are UTF-8.
struct DeviceStateView {
    std::uint32_t vendorId = 0;  // the IDs the library searches for
    std::uint32_t productId = 0;
    std::string selectedPath;   // what Management->GetSelectedDevInfo() names
    std::string connectedPath;  // the device the connection is open on; empty when none
    // Discovery passes run so far in the process. Every new connection is
    // made by one, so while this stays the same the connection is the same.
    std::uint64_t discoveryPasses = 0;
};
CORVANE_API DeviceStateView ViewDeviceState();

// The paths of the devices the last discovery pass found, numbered as
// Management->SelectDev() numbers them.
CORVANE_API std::vector<std::string> FoundDevicePaths();

}  // namespace Corvane
