// SPDX-License-Identifier: MIT
#pragma once

// The transport's state: the table of matching devices, the selected device
// and the connection to it. One default instance serves the whole process
// (every library object addresses the same devices); only the transport and
// its own tests include this header, the layers above reach what they need
// through DevComTransport.

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>

#include "corvane/Platform.hpp"
#include "transport/DevComTransport.hpp"

namespace Corvane {

inline constexpr int kMaxDevices = 64;
inline constexpr int kPathChars = 256;              // per path slot, terminator included
inline constexpr std::size_t kNarrowPathMax = 200;  // bytes of a path converted to narrow text
inline constexpr std::uint32_t kTransferTimeoutMs = 1000;

// The asynchronous-I/O record every transfer shares: its completion event and
// its file offset (always 0: HID reports have no position). The system's own
// record lives in the platform backend, which must keep it until a cancelled
// transfer has let go of it; this is what the transport sets it up with.
struct TransferRecord {
    PlatformHandle event = kInvalidHandle;
    std::uint64_t offset = 0;
};

struct DeviceState {
    // The instance every library object in the process shares.
    static DeviceState& Default();

    // Device table.
    char16_t wcDevName[kMaxDevices][kPathChars] = {};
    // Entry i's path once appended, null after a reset. Written, never read by
    // the library: callers of the original interface could walk the table
    // through it, and tests still do.
    std::array<char16_t*, kMaxDevices> pwcDevName = {};
    std::array<bool, kMaxDevices> aubStatusDevice = {};
    std::array<PlatformHandle, kMaxDevices> hWrtHandleLst = InvalidHandles();
    std::array<PlatformHandle, kMaxDevices> hRdHandleLst = InvalidHandles();
    std::int32_t iNumDevices = 0;

    // Selection and connection.
    std::int32_t iSelectedDevice = 0;
    char16_t wcSelectedDevicePath[kPathChars] = {};
    bool bFirstRun = true;
    bool DeviceDetected = false;
    PlatformHandle hWriteHandle = kInvalidHandle;
    PlatformHandle hReadHandle = kInvalidHandle;
    PlatformHandle hEventObject = kInvalidHandle;
    TransferRecord HIDOverlapped;
    std::uint32_t VID = 0x3A7C;
    std::uint32_t PID = 0x01D5;
    AccessPassword accessPassword = {};

    // Discovery passes run in this process: a connection made since a given
    // count may be to another device than the one seen then.
    std::uint64_t discoveryPasses = 0;

    // The platform whose channels and event the state holds; they are closed
    // on it even after SetPlatform() installed another one.
    std::shared_ptr<Platform> channelPlatform;

    // Held for the whole of every public operation, so calls from several
    // threads never interleave their reports on the shared channels.
    std::recursive_mutex apiMutex;

    // Public operations under way (nested ones count too), under apiMutex.
    int operationDepth = 0;
    // The read channel that holds the device's inter-process lock for the
    // operation under way, or kInvalidHandle.
    PlatformHandle lockedChannel = kInvalidHandle;
    // The last exchange failed because another program held the device for
    // the whole busy time-out.
    bool bridgeBusy = false;

  private:
    static constexpr std::array<PlatformHandle, kMaxDevices> InvalidHandles() {
        std::array<PlatformHandle, kMaxDevices> handles{};
        handles.fill(kInvalidHandle);
        return handles;
    }
};

}  // namespace Corvane
