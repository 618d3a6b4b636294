#pragma once

// The process-wide device state: the table of matching devices, the selected
// device and the connection to it. Every library object shares it.

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>

#include "corvane/Platform.hpp"

namespace Corvane {

inline constexpr int kMaxDevices = 64;
inline constexpr int kPathChars = 256;              // per path slot, terminator included
inline constexpr std::size_t kNarrowPathMax = 200;  // bytes of a path converted to narrow text
inline constexpr std::uint32_t kTransferTimeoutMs = 1000;
inline constexpr std::size_t kPasswordBytes = 8;

constexpr std::array<PlatformHandle, kMaxDevices> InvalidHandles() {
    std::array<PlatformHandle, kMaxDevices> handles{};
    handles.fill(kInvalidHandle);
    return handles;
}

// Device table.
extern char16_t wcDevName[kMaxDevices][kPathChars];
extern std::array<char16_t*, kMaxDevices> pwcDevName;
extern std::array<bool, kMaxDevices> aubStatusDevice;
extern std::array<PlatformHandle, kMaxDevices> hWrtHandleLst;
extern std::array<PlatformHandle, kMaxDevices> hRdHandleLst;
extern std::int32_t iNumDevices;

// Selection and connection.
extern std::int32_t iSelectedDevice;
extern char16_t wcSelectedDevicePath[kPathChars];
extern bool bFirstRun;
extern bool DeviceDetected;
extern PlatformHandle hWriteHandle;
extern PlatformHandle hReadHandle;
extern PlatformHandle hEventObject;
extern std::uint32_t VID;
extern std::uint32_t PID;
extern std::array<std::uint8_t, kPasswordBytes> accessPassword;

// The platform whose channels and event the state holds; they are closed on
// it even after SetPlatform() installed another one.
extern std::shared_ptr<Platform> channelPlatform;

// Held for the whole of every public operation, so calls from several
// threads never interleave their reports on the shared channels.
std::recursive_mutex& DeviceStateMutex();

}  // namespace Corvane
