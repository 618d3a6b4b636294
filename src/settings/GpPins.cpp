// SPDX-License-Identifier: MIT
// Designation, direction and output value of GP0 to GP3, in the run-time
// settings, in the flash GP record, or both.
#include <algorithm>

#include "settings/DevSettings.hpp"
#include "settings/SettingsAccess.hpp"

namespace Corvane {

using SettingsAccess::ChangeSelected;
using SettingsAccess::IsSelector;

namespace {

constexpr std::size_t kPins = 4;
constexpr std::uint8_t kNotGpioDirection = 0xEF;
constexpr std::uint8_t kHighestDesignation = 4;

using PinArray = std::array<std::uint8_t, kPins>;

bool IsBit(std::uint8_t value) {
    return value == 0 || value == 1;
}

}  // namespace

std::int32_t DevSettings::int_GetGpPinConfiguration(std::int32_t whichToGet,
                                                    std::uint8_t* ioPinDesignations,
                                                    std::uint8_t* ioPinDirections,
                                                    std::uint8_t* ioPinValues) {
    if (whichToGet == DllConstants::PWRUP_DEFAULTS_ONLY) {
        return DevCom::ReadFlashGpSettings(ioPinDesignations, ioPinDirections, ioPinValues);
    }
    // The run-time settings; any other selector, BOTH included, is refused there.
    return SettingsAccess::FromSelectedChipSettings(whichToGet, [&](const SettingsImage& image) {
        std::copy(image.gpDesignation.begin(), image.gpDesignation.end(), ioPinDesignations);
        std::copy(image.gpDirection.begin(), image.gpDirection.end(), ioPinDirections);
        std::copy(image.gpOutputValue.begin(), image.gpOutputValue.end(), ioPinValues);
        return SUCCESS;
    });
}

std::int32_t DevSettings::int_SetGpPinConfiguration(std::int32_t whichToGet,
                                                    const std::uint8_t* ioPinDesignations,
                                                    const std::uint8_t* ioPinDirections,
                                                    const std::uint8_t* ioPinValues) {
    if (!IsSelector(whichToGet)) return INVALID_ARG_1;
    for (std::size_t pin = 0; pin < kPins; ++pin) {
        if (ioPinDesignations[pin] > kHighestDesignation) return INVALID_ARG_2;
        if (!IsBit(ioPinDirections[pin])) return INVALID_ARG_3;
        if (!IsBit(ioPinValues[pin])) return INVALID_ARG_4;
    }
    return ChangeSelected(
        whichToGet,
        [&] {
            SettingsImage image;
            std::copy_n(ioPinDesignations, kPins, image.gpDesignation.begin());
            std::copy_n(ioPinDirections, kPins, image.gpDirection.begin());
            std::copy_n(ioPinValues, kPins, image.gpOutputValue.begin());
            return SettingsAccess::ChangeRuntimeSettings(image,
                                                         SettingsAccess::RuntimeGroup::GpSettings);
        },
        [&] {
            return DevCom::WriteFlashGpSettings(ioPinDesignations, ioPinDirections, ioPinValues);
        });
}

std::int32_t DevSettings::int_GetGpPinDirection(std::int32_t whichToGet, std::uint8_t pinNumber) {
    // BOTH names two copies that may differ; like every other getter with a
    // selector, this one refuses it rather than pick one.
    if (whichToGet != DllConstants::CURRENT_SETTINGS_ONLY &&
        whichToGet != DllConstants::PWRUP_DEFAULTS_ONLY) {
        return INVALID_ARG_1;
    }
    if (pinNumber >= kPins) return INVALID_ARG_2;
    PinArray designation{}, direction{}, value{};
    if (whichToGet == DllConstants::PWRUP_DEFAULTS_ONLY) {
        const std::int32_t result =
            DevCom::ReadFlashGpSettings(designation.data(), direction.data(), value.data());
        return result != SUCCESS ? result : direction[pinNumber];
    }
    const std::int32_t result = DevCom::ReadGpioValues(direction.data(), nullptr);
    if (result != SUCCESS) return result;
    return direction[pinNumber] == kNotGpioDirection ? PIN_NOT_GPIO : direction[pinNumber];
}

std::int32_t DevSettings::int_SetGpPinDirection(std::int32_t whichToSet, std::uint8_t pinNumber,
                                                std::uint8_t directionToSet) {
    if (!IsSelector(whichToSet)) return INVALID_ARG_1;
    if (pinNumber >= kPins) return INVALID_ARG_2;
    if (!IsBit(directionToSet)) return INVALID_ARG_3;
    return ChangeSelected(
        whichToSet,
        [&] {
            PinArray direction{}, value{}, alterDirection{}, alterValue{};
            direction[pinNumber] = directionToSet;
            alterDirection[pinNumber] = 1;
            return DevCom::WriteGpioValues(direction.data(), value.data(), alterDirection.data(),
                                           alterValue.data());
        },
        [&] {
            // Read-modify-write of the GP record: the other pins and fields stay.
            PinArray designation{}, direction{}, value{};
            const std::int32_t result =
                DevCom::ReadFlashGpSettings(designation.data(), direction.data(), value.data());
            if (result != SUCCESS) return result;
            direction[pinNumber] = directionToSet;
            return DevCom::WriteFlashGpSettings(designation.data(), direction.data(), value.data());
        });
}

}  // namespace Corvane
