// SPDX-License-Identifier: MIT
#include "corvane/Diagnostics.hpp"
#include "platform/linux/LinuxHidrawPlatform.hpp"

namespace Corvane {

std::shared_ptr<Platform> MakeSystemPlatform() {
    return std::make_shared<LinuxHidrawPlatform>();
}

std::vector<DeviceNodeStatus> ProbeDeviceNodes(std::uint16_t vendorId, std::uint16_t productId) {
    return LinuxHidrawPlatform().ProbeNodes(vendorId, productId);
}

}  // namespace Corvane
