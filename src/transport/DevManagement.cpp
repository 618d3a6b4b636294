// SPDX-License-Identifier: MIT
#include "transport/DevManagement.hpp"

#include "transport/DevComTransport.hpp"
#include "transport/DeviceState.hpp"

namespace Corvane {

std::int32_t DevManagement::int_GetDevCount() {
    return DeviceState::Default().iNumDevices;
}

std::int32_t DevManagement::int_GetSelectedDevNumber() {
    return DeviceState::Default().iSelectedDevice;
}

std::int32_t DevManagement::int_GetSelectedDevInfo(char* buffer) {
    return DevComTransport::GetSelectedDevicePath(buffer);
}

std::int32_t DevManagement::int_SelectDev(std::int32_t devNum) {
    return DevComTransport::SelectDevice(devNum);
}

}  // namespace Corvane
