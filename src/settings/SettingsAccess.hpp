// SPDX-License-Identifier: MIT
#pragma once

// How the settings operations reach the device's two copies of its settings:
// the flash records loaded at power-up and the run-time settings.

#include <cstdint>
#include <type_traits>
#include <utility>

#include "corvane/DllConstants.hpp"
#include "corvane/ResultCodes.hpp"
#include "protocol/DevCom.hpp"

namespace Corvane::SettingsAccess {

// Reads the flash chip settings record and returns `take(image)`; a read
// that failed or that the device refused is returned instead.
template <typename Take>
auto FromFlashChipSettings(Take&& take) {
    SettingsImage image;
    const std::int32_t result = DevCom::ReadFlashChipSettings(image);
    using Result = decltype(take(image));
    if (result != SUCCESS) return Result{result};
    return take(image);
}

// The read-modify-write of the flash chip settings record. `change` alters
// the image it is given; it may return a non-zero code instead, which is
// returned with nothing written. All fields it leaves alone go back as read.
// The write carries `password` (null: the remembered access password).
template <typename Change>
std::int32_t ChangeFlashChipSettings(Change&& change, const char* password = nullptr) {
    SettingsImage image;
    std::int32_t result = DevCom::ReadFlashChipSettings(image);
    if (result != SUCCESS) return result;
    if constexpr (std::is_void_v<std::invoke_result_t<Change&, SettingsImage&>>) {
        change(image);
    } else {
        result = change(image);
        if (result != SUCCESS) return result;
    }
    return DevCom::WriteFlashChipSettings(image, password);
}

// The one field group a run-time settings change carries.
enum class RuntimeGroup { Clock, DacReference, DacValue, AdcReference, InterruptMode, GpSettings };

std::int32_t ChangeRuntimeSettings(const SettingsImage& image, RuntimeGroup group);

inline bool IsSelector(std::int32_t which) {
    return which == DllConstants::CURRENT_SETTINGS_ONLY ||
           which == DllConstants::PWRUP_DEFAULTS_ONLY || which == DllConstants::BOTH;
}

// Reads the copy a getter's selector names (BOTH is refused with -201) and
// returns `take(image)`, or the read's non-zero result.
template <typename Take>
std::int32_t FromSelectedChipSettings(std::int32_t whichToGet, Take&& take) {
    SettingsImage image;
    std::int32_t result = INVALID_ARG_1;
    if (whichToGet == DllConstants::CURRENT_SETTINGS_ONLY) {
        result = DevCom::ReadSramSettings(image);
    } else if (whichToGet == DllConstants::PWRUP_DEFAULTS_ONLY) {
        result = DevCom::ReadFlashChipSettings(image);
    }
    if (result != SUCCESS) return result;
    return take(image);
}

// Applies a change to the copies a setter's (already checked) selector
// names: the run-time settings first; if that fails, flash is left alone.
template <typename Runtime, typename Flash>
std::int32_t ChangeSelected(std::int32_t whichToSet, Runtime&& runtime, Flash&& flash) {
    if (whichToSet != DllConstants::PWRUP_DEFAULTS_ONLY) {
        const std::int32_t result = runtime();
        if (result != SUCCESS) return result;
    }
    if (whichToSet != DllConstants::CURRENT_SETTINGS_ONLY) {
        const std::int32_t result = flash();
        if (result != SUCCESS) return result;
    }
    return SUCCESS;
}

}  // namespace Corvane::SettingsAccess
