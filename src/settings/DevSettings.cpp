// SPDX-License-Identifier: MIT
#include "settings/DevSettings.hpp"

#include "transport/DevComTransport.hpp"

namespace Corvane {

DevSettings::DevSettings(std::uint32_t vendorId, std::uint32_t productId) {
    DevComTransport::ResetState(vendorId, productId);
}

bool DevSettings::int_GetConnectionStatus() {
    return DevComTransport::DiscoverDevices();
}

}  // namespace Corvane
