// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

#include "corvane/Export.hpp"

namespace Corvane {

// Named values that callers pass to the settings operations.
class CORVANE_API DllConstants {
  public:
    DllConstants() = default;

    static constexpr std::int32_t OFF = 0;
    static constexpr std::int32_t DISABLED = 0;
    static constexpr std::int32_t ON = 1;
    static constexpr std::int32_t ENABLED = 1;
    // Selector whichToGet / whichToSet: the device's current (volatile) settings.
    static constexpr std::int32_t CURRENT_SETTINGS_ONLY = 0;
    // Selector: the power-up defaults kept in the device's flash.
    static constexpr std::int32_t PWRUP_DEFAULTS_ONLY = 1;
    // Selector (setters only): current settings first, then flash.
    static constexpr std::int32_t BOTH = 2;
};

}  // namespace Corvane
