#include "transport/DevManagement.hpp"

#include "transport/DevComTransport.hpp"

namespace Corvane {

std::int32_t DevManagement::int_GetDevCount() {
    return iNumDevices;
}

std::int32_t DevManagement::int_GetSelectedDevNumber() {
    return iSelectedDevice;
}

std::int32_t DevManagement::int_GetSelectedDevInfo(char* buffer) {
    return DevComTransport::GetSelectedDevicePath(buffer);
}

std::int32_t DevManagement::int_SelectDev(std::int32_t devNum) {
    return DevComTransport::SelectDevice(devNum);
}

}  // namespace Corvane
