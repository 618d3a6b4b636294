// SPDX-License-Identifier: MIT
#include "settings/SettingsAccess.hpp"

namespace Corvane::SettingsAccess {

std::int32_t ChangeRuntimeSettings(const SettingsImage& image, RuntimeGroup group) {
    const auto flag = [group](RuntimeGroup wanted) -> std::uint8_t { return group == wanted; };
    return DevCom::WriteSramSettings(
        image, flag(RuntimeGroup::Clock), flag(RuntimeGroup::DacReference),
        flag(RuntimeGroup::DacValue), flag(RuntimeGroup::AdcReference), 0,
        flag(RuntimeGroup::InterruptMode), flag(RuntimeGroup::GpSettings));
}

}  // namespace Corvane::SettingsAccess
