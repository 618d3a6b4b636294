// SPDX-License-Identifier: MIT
#include "platform/NullPlatform.hpp"

#include "corvane/Diagnostics.hpp"

#include <chrono>
#include <thread>

namespace Corvane {

void NullPlatform::SleepMs(std::uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void NullPlatform::SleepUs(std::uint32_t us) {
    std::this_thread::sleep_for(std::chrono::microseconds(us));
}

#if !defined(_WIN32) && !defined(__linux__)
std::shared_ptr<Platform> MakeSystemPlatform() {
    return std::make_shared<NullPlatform>();
}
#endif

#if !defined(__linux__) && !defined(_WIN32)
// Only the Linux and Windows backends have device nodes to probe.
std::vector<DeviceNodeStatus> ProbeDeviceNodes(std::uint16_t, std::uint16_t) {
    return {};
}
#endif

}  // namespace Corvane
