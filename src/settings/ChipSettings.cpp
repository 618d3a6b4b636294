// SPDX-License-Identifier: MIT
// Single fields of the flash chip settings record: USB identity and power,
// serial-number enumeration, flash protection and the initial pin values.
#include <cstddef>

#include "settings/DevSettings.hpp"
#include "settings/SettingsAccess.hpp"

namespace Corvane {

using SettingsAccess::ChangeFlashChipSettings;
using SettingsAccess::FromFlashChipSettings;

namespace {

constexpr std::uint8_t kBusPowered = 0x80;
constexpr std::uint8_t kSelfPowered = 0x40;
constexpr std::uint8_t kRemoteWakeup = 0x20;
constexpr std::uint8_t kLockedForGood = 2;
constexpr std::uint8_t kPasswordProtected = 1;

using Field = std::uint8_t SettingsImage::*;

std::int32_t GetField(Field field) {
    return FromFlashChipSettings(
        [field](const SettingsImage& image) -> std::int32_t { return image.*field; });
}

// Setters of 0/1 fields that take an int32 check it; those taking a bool cannot be wrong.
std::int32_t SetFlag(Field field, std::int32_t value) {
    if (value != 0 && value != 1) return INVALID_ARG_1;
    return ChangeFlashChipSettings(
        [&](SettingsImage& image) { image.*field = static_cast<std::uint8_t>(value); });
}

// Whether a chip settings write with this result may have reached the
// device's flash: only a write that was never sent (-4, BRIDGE_BUSY) or that
// the device refused (its status) is known to have left it unchanged.
bool MayHaveBeenWritten(std::int32_t result) {
    return result != REPORT_WRITE_FAILED && result != BRIDGE_BUSY && result <= 0;
}

}  // namespace

std::int64_t DevSettings::int_GetUsbVid() {
    return FromFlashChipSettings(
        [](const SettingsImage& image) -> std::int64_t { return image.usbVid; });
}

std::int64_t DevSettings::int_GetUsbPid() {
    return FromFlashChipSettings(
        [](const SettingsImage& image) -> std::int64_t { return image.usbPid; });
}

std::int32_t DevSettings::int_SetUsbVidPid(std::uint32_t vid, std::uint32_t pid) {
    return ChangeFlashChipSettings([&](SettingsImage& image) {
        image.usbVid = static_cast<std::uint16_t>(vid & 0xFFFFu);
        image.usbPid = static_cast<std::uint16_t>(pid & 0xFFFFu);
    });
}

std::int32_t DevSettings::int_GetUsbPowerSource() {
    return FromFlashChipSettings([](const SettingsImage& image) -> std::int32_t {
        if (image.powerAttributes & kBusPowered) return 0;
        if (image.powerAttributes & kSelfPowered) return 1;
        return POWER_SOURCE_INVALID;
    });
}

std::int32_t DevSettings::int_SetUsbPowerSource(std::int32_t powerSourceToSet) {
    if (powerSourceToSet != 0 && powerSourceToSet != 1) return INVALID_ARG_1;
    return ChangeFlashChipSettings([&](SettingsImage& image) {
        image.powerAttributes = powerSourceToSet == 0 ? kBusPowered : kSelfPowered;
    });
}

std::int32_t DevSettings::int_GetUsbRemoteWakeupEnable() {
    return FromFlashChipSettings([](const SettingsImage& image) -> std::int32_t {
        return (image.powerAttributes & kRemoteWakeup) ? 1 : 0;
    });
}

std::int32_t DevSettings::int_SetUsbRemoteWakeupEnable(bool remoteWakeupEnable) {
    return ChangeFlashChipSettings([&](SettingsImage& image) {
        image.powerAttributes = static_cast<std::uint8_t>(
            remoteWakeupEnable ? (image.powerAttributes | kRemoteWakeup)
                               : (image.powerAttributes & ~kRemoteWakeup));
    });
}

std::int32_t DevSettings::int_GetUsbCurrentRequirement() {
    return FromFlashChipSettings(
        [](const SettingsImage& image) -> std::int32_t { return image.currentRequirementMa; });
}

std::int32_t DevSettings::int_SetUsbCurrentRequirement(std::int32_t newCurrentValue) {
    if (newCurrentValue < 100 || newCurrentValue > 500 || newCurrentValue % 2 != 0) {
        return INVALID_ARG_1;
    }
    return ChangeFlashChipSettings([&](SettingsImage& image) {
        image.currentRequirementMa = static_cast<std::uint16_t>(newCurrentValue);
    });
}

std::int32_t DevSettings::int_GetSerialNumberEnumerationEnable() {
    return GetField(&SettingsImage::serialNumberEnumeration);
}

std::int32_t DevSettings::int_SetSerialNumberEnumerationEnable(bool enable) {
    return SetFlag(&SettingsImage::serialNumberEnumeration, enable ? 1 : 0);
}

std::int32_t DevSettings::int_GetFlashProtectionState() {
    SettingsImage image;
    const std::int32_t result = DevCom::ReadSramSettings(image);
    return result != SUCCESS ? result : image.flashProtection;
}

std::int32_t DevSettings::int_SetFlashProtectionOff() {
    return ChangeFlashChipSettings([](SettingsImage& image) -> std::int32_t {
        if (image.flashProtection == kLockedForGood) return FLASH_LOCKED;
        image.flashProtection = 0;
        return SUCCESS;
    });
}

std::int32_t DevSettings::int_SetFlashPermanentLock() {
    return ChangeFlashChipSettings(
        [](SettingsImage& image) { image.flashProtection = kLockedForGood; });
}

std::int32_t DevSettings::int_SetFlashPasswordProtection(const char* newPassword) {
    // The access-password entry takes exactly 8 characters: a shorter
    // password could never be entered again and would lock the flash out.
    std::size_t length = 0;
    while (newPassword && length < kPasswordBytes && newPassword[length] != '\0') ++length;
    if (length < kPasswordBytes) return INVALID_ARG_1;

    bool writeSent = false;
    const std::int32_t result = ChangeFlashChipSettings(
        [&](SettingsImage& image) -> std::int32_t {
            if (image.flashProtection == kLockedForGood) return FLASH_LOCKED;
            image.flashProtection = kPasswordProtected;
            writeSent = true;
            return SUCCESS;
        },
        newPassword);
    // Later writes must carry the password the device holds: keep the old
    // one while the device is known to have kept it too.
    if (writeSent && MayHaveBeenWritten(result)) DevCom::StoreAccessPassword(newPassword);
    return result;
}

std::int32_t DevSettings::int_GetInitialPinValueLedUartTx() {
    return GetField(&SettingsImage::initLedUartTx);
}

std::int32_t DevSettings::int_SetInitialPinValueLedUartTx(std::int32_t newInitialPinValue) {
    return SetFlag(&SettingsImage::initLedUartTx, newInitialPinValue);
}

std::int32_t DevSettings::int_GetInitialPinValueLedUartRx() {
    return GetField(&SettingsImage::initLedUartRx);
}

std::int32_t DevSettings::int_SetInitialPinValueLedUartRx(std::int32_t newInitialPinValue) {
    return SetFlag(&SettingsImage::initLedUartRx, newInitialPinValue);
}

std::int32_t DevSettings::int_GetInitialPinValueLedI2c() {
    return GetField(&SettingsImage::initLedI2c);
}

std::int32_t DevSettings::int_SetInitialPinValueLedI2c(std::int32_t newInitialPinValue) {
    return SetFlag(&SettingsImage::initLedI2c, newInitialPinValue);
}

std::int32_t DevSettings::int_GetInitialPinValueSspnd() {
    return GetField(&SettingsImage::initSspnd);
}

std::int32_t DevSettings::int_SetInitialPinValueSspnd(std::int32_t newInitialPinValue) {
    return SetFlag(&SettingsImage::initSspnd, newInitialPinValue);
}

std::int32_t DevSettings::int_GetInitialPinValueUsbcfg() {
    return GetField(&SettingsImage::initUsbcfg);
}

std::int32_t DevSettings::int_SetInitialPinValueUsbcfg(std::int32_t newInitialPinValue) {
    return SetFlag(&SettingsImage::initUsbcfg, newInitialPinValue);
}

}  // namespace Corvane
