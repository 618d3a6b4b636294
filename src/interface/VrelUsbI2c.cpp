// SPDX-License-Identifier: MIT
#include "corvane/VrelUsbI2c.hpp"

#include "interface/ApiLock.hpp"

namespace Corvane {

namespace {
constexpr std::uint32_t kDefaultVendorId = 0x3A7C;
constexpr std::uint32_t kDefaultProductId = 0x01D5;
}  // namespace

VrelUsbI2c::VrelUsbI2c() : VrelUsbI2c(kDefaultVendorId, kDefaultProductId) {}

VrelUsbI2c::VrelUsbI2c(std::uint32_t vendorId, std::uint32_t productId) {
    auto lock = LockApi();
    // Settings first: its counterpart resets the device state for these IDs.
    Settings = std::shared_ptr<DevSettings_M>(new DevSettings_M(vendorId, productId));
    Functions = std::shared_ptr<DevFunctions_M>(new DevFunctions_M());
    Management = std::shared_ptr<DevManagement_M>(new DevManagement_M());
}

VrelUsbI2c::~VrelUsbI2c() = default;

void VrelUsbI2c::Dispose() {
    Dispose(true);
}

void VrelUsbI2c::Dispose(bool) {
    // The facets stay usable and are disposed one by one by their holders.
    disposed_ = true;
}

}  // namespace Corvane
