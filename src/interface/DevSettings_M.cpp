#include "corvane/DevSettings_M.hpp"

#include "interface/ApiLock.hpp"
#include "settings/DevSettings.hpp"

namespace Corvane {

DevSettings_M::DevSettings_M(std::uint32_t vendorId, std::uint32_t productId)
    : Settings_UM(new DevSettings(vendorId, productId)) {}

DevSettings_M::~DevSettings_M() { Dispose(true); }

void DevSettings_M::Dispose() { Dispose(true); }

void DevSettings_M::Dispose(bool disposing) {
    if (disposing) {
        delete Settings_UM;
        Settings_UM = nullptr;
    }
}

bool DevSettings_M::GetConnectionStatus() {
    auto lock = LockApi();
    return DevSettings::int_GetConnectionStatus();
}

}  // namespace Corvane
