// SPDX-License-Identifier: MIT
// DAC and ADC references, DAC value, interrupt detection mode and clock output.
#include "settings/DevSettings.hpp"
#include "settings/SettingsAccess.hpp"

namespace Corvane {

using SettingsAccess::ChangeFlashChipSettings;
using SettingsAccess::ChangeRuntimeSettings;
using SettingsAccess::ChangeSelected;
using SettingsAccess::FromSelectedChipSettings;
using SettingsAccess::IsSelector;
using SettingsAccess::RuntimeGroup;

namespace {

// Marks a run-time settings byte as one the device is to apply.
constexpr std::uint8_t kApply = 0x80;

// Reference selector 0 to 3 as the 3-bit code: 0 -> 0 (supply), 1, 2, 3 -> 3, 5, 7.
std::uint8_t ReferenceCode(std::int32_t selector) {
    return selector == 0 ? 0 : static_cast<std::uint8_t>((selector << 1) | 1);
}

// The selector a 3-bit reference code stands for; -9 for code 1.
std::int32_t ReferenceSelector(std::uint8_t code) {
    if ((code & 1u) == 0) return 0;
    if (code == 1) return VREF_INVALID;
    return code >> 1;
}

// The run-time DAC and ADC settings. Their getters take the answer of a
// device that reports a non-zero status all the same; only a failed
// exchange is returned.
template <typename Take>
std::int32_t FromRuntimeAnalog(Take&& take) {
    SettingsImage image;
    const std::int32_t result = DevCom::ReadSramSettings(image);
    if (result < 0) return result;
    return take(image);
}

std::int32_t SetRuntimeByte(std::uint8_t SettingsImage::*field, RuntimeGroup group,
                            std::uint8_t value) {
    SettingsImage image;
    image.*field = static_cast<std::uint8_t>(kApply | value);
    return ChangeRuntimeSettings(image, group);
}

}  // namespace

std::int32_t DevSettings::int_GetDacVoltageReference() {
    return FromRuntimeAnalog(
        [](const SettingsImage& image) { return ReferenceSelector(image.dacReference); });
}

std::int32_t DevSettings::int_SetDacVoltageReference(std::int32_t vRefValue) {
    if (vRefValue < 0 || vRefValue > 3) return INVALID_ARG_1;
    return SetRuntimeByte(&SettingsImage::dacReference, RuntimeGroup::DacReference,
                          ReferenceCode(vRefValue));
}

std::int32_t DevSettings::int_GetDacValue() {
    return FromRuntimeAnalog(
        [](const SettingsImage& image) -> std::int32_t { return image.dacValue; });
}

std::int32_t DevSettings::int_SetDacValue(std::int32_t dacValue) {
    if (dacValue < 0 || dacValue > 31) return INVALID_ARG_1;
    return SetRuntimeByte(&SettingsImage::dacValue, RuntimeGroup::DacValue,
                          static_cast<std::uint8_t>(dacValue));
}

std::int32_t DevSettings::int_GetAdcVoltageReference() {
    return FromRuntimeAnalog(
        [](const SettingsImage& image) { return ReferenceSelector(image.adcReference); });
}

std::int32_t DevSettings::int_SetAdcVoltageReference(std::int32_t vRefValue) {
    if (vRefValue < 0 || vRefValue > 3) return INVALID_ARG_1;
    return SetRuntimeByte(&SettingsImage::adcReference, RuntimeGroup::AdcReference,
                          ReferenceCode(vRefValue));
}

std::int32_t DevSettings::int_GetInterruptPinMode(std::int32_t whichToGet) {
    return FromSelectedChipSettings(
        whichToGet, [](const SettingsImage& image) -> std::int32_t { return image.interruptMode; });
}

std::int32_t DevSettings::int_SetInterruptPinMode(std::int32_t whichToSet,
                                                  std::int32_t interruptPinModeToSet) {
    if (!IsSelector(whichToSet)) return INVALID_ARG_1;
    if (interruptPinModeToSet < 1 || interruptPinModeToSet > 3) return INVALID_ARG_2;
    const auto mode = static_cast<std::uint8_t>(interruptPinModeToSet);
    return ChangeSelected(
        whichToSet,
        [&] {
            SettingsImage image;
            image.interruptMode = mode;
            return ChangeRuntimeSettings(image, RuntimeGroup::InterruptMode);
        },
        [&] {
            return ChangeFlashChipSettings(
                [&](SettingsImage& image) { image.interruptMode = mode; });
        });
}

std::int32_t DevSettings::int_GetClockPinDividerValue(std::int32_t whichToGet) {
    return FromSelectedChipSettings(whichToGet, [](const SettingsImage& image) -> std::int32_t {
        return image.clockOutDivider;
    });
}

std::int32_t DevSettings::int_GetClockPinDutyCycle(std::int32_t whichToGet) {
    return FromSelectedChipSettings(whichToGet, [](const SettingsImage& image) -> std::int32_t {
        return image.clockOutDutyCycle;
    });
}

std::int32_t DevSettings::int_SetClockPinConfiguration(std::int32_t whichToSet,
                                                       std::int32_t clockDividerValueToSet,
                                                       std::int32_t dutyCycleToSet) {
    if (!IsSelector(whichToSet)) return INVALID_ARG_1;
    char hardwareVersion[3];
    const std::int32_t result = int_GetHardwareVersion(hardwareVersion);
    if (result != SUCCESS) return result;
    if (clockDividerValueToSet < 1 || clockDividerValueToSet > 7) return INVALID_ARG_2;
    if (dutyCycleToSet < 0 || dutyCycleToSet > 3) return INVALID_ARG_3;
    const auto divider = static_cast<std::uint8_t>(clockDividerValueToSet);
    const auto duty = static_cast<std::uint8_t>(dutyCycleToSet);
    const auto setClock = [&](SettingsImage& image) {
        image.clockOutDivider = divider;
        image.clockOutDutyCycle = duty;
    };
    return ChangeSelected(
        whichToSet,
        [&] {
            SettingsImage image;
            setClock(image);
            return ChangeRuntimeSettings(image, RuntimeGroup::Clock);
        },
        [&] { return ChangeFlashChipSettings(setClock); });
}

}  // namespace Corvane
