// SPDX-License-Identifier: MIT
#include "corvane/DevManagement_M.hpp"

#include "interface/ApiLock.hpp"
#include "transport/DevManagement.hpp"

namespace Corvane {

DevManagement_M::DevManagement_M() : DevManagement_UM(new DevManagement()) {}

DevManagement_M::~DevManagement_M() {
    Dispose(true);
}

void DevManagement_M::Dispose() {
    Dispose(true);
}

void DevManagement_M::Dispose(bool disposing) {
    if (disposing) {
        delete DevManagement_UM;
        DevManagement_UM = nullptr;
    }
}

std::int32_t DevManagement_M::GetDevCount() {
    auto lock = LockApi();
    return DevManagement::int_GetDevCount();
}

std::int32_t DevManagement_M::GetSelectedDevNum() {
    auto lock = LockApi();
    return DevManagement::int_GetSelectedDevNumber();
}

std::string DevManagement_M::GetSelectedDevInfo() {
    auto lock = LockApi();
    char buffer[256] = {};
    DevManagement::int_GetSelectedDevInfo(buffer);
    return std::string(buffer);
}

std::int32_t DevManagement_M::SelectDev(std::int32_t devNum) {
    auto lock = LockApi();
    return DevManagement::int_SelectDev(devNum);
}

}  // namespace Corvane
