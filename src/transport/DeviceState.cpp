#include "transport/DeviceState.hpp"

namespace Corvane {

char16_t wcDevName[kMaxDevices][kPathChars] = {};
std::array<char16_t*, kMaxDevices> pwcDevName = {};
std::array<bool, kMaxDevices> aubStatusDevice = {};
std::array<PlatformHandle, kMaxDevices> hWrtHandleLst = InvalidHandles();
std::array<PlatformHandle, kMaxDevices> hRdHandleLst = InvalidHandles();
std::int32_t iNumDevices = 0;

std::int32_t iSelectedDevice = 0;
char16_t wcSelectedDevicePath[kPathChars] = {};
bool bFirstRun = true;
bool DeviceDetected = false;
PlatformHandle hWriteHandle = kInvalidHandle;
PlatformHandle hReadHandle = kInvalidHandle;
PlatformHandle hEventObject = kInvalidHandle;
std::uint32_t VID = 0x3A7C;
std::uint32_t PID = 0x01D5;
std::array<std::uint8_t, kPasswordBytes> accessPassword = {};

std::shared_ptr<Platform> channelPlatform;

std::recursive_mutex& DeviceStateMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

}  // namespace Corvane
