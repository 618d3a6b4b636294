// SPDX-License-Identifier: MIT
#include "corvane/DevSettings_M.hpp"

#include <algorithm>
#include <array>

#include "corvane/ResultCodes.hpp"
#include "interface/ApiLock.hpp"
#include "interface/CallerArrays.hpp"
#include "settings/DevSettings.hpp"

namespace Corvane {

namespace {

constexpr std::size_t kStringBufferUnits = 64;
constexpr std::size_t kSerialNumberBufferUnits = 65;
constexpr std::size_t kFirmwareVersionBytes = 4;
constexpr std::size_t kHardwareVersionBytes = 3;
constexpr std::size_t kPins = 4;

using PinBuffer = std::array<std::uint8_t, kPins>;

// Runs a native text getter on a zeroed buffer of N units: when the result is
// 0, `text` becomes the units up to the first zero unit; otherwise it stays.
template <std::size_t N, typename Char>
std::int32_t TextInto(std::int32_t (*native)(Char*), std::basic_string<Char>& text) {
    std::array<Char, N> buffer{};
    const std::int32_t result = native(buffer.data());
    if (result == SUCCESS) text.assign(buffer.data());
    return result;
}

template <std::size_t N, typename Char>
std::optional<std::basic_string<Char>> TextResult(std::int32_t (*native)(Char*)) {
    std::basic_string<Char> text;
    if (TextInto<N>(native, text) != SUCCESS) return std::nullopt;
    return text;
}

}  // namespace

DevSettings_M::DevSettings_M(std::uint32_t vendorId, std::uint32_t productId)
    : Settings_UM(new DevSettings(vendorId, productId)) {}

DevSettings_M::~DevSettings_M() {
    Dispose(true);
}

void DevSettings_M::Dispose() {
    Dispose(true);
}

void DevSettings_M::Dispose(bool disposing) {
    if (disposing) {
        delete Settings_UM;
        Settings_UM = nullptr;
    }
}

std::optional<std::u16string> DevSettings_M::GetSerialNumber() {
    auto lock = LockApi();
    return TextResult<kSerialNumberBufferUnits>(&DevSettings::int_GetSerialNumber);
}

std::int32_t DevSettings_M::GetSerialNumber(std::u16string& text) {
    auto lock = LockApi();
    return TextInto<kSerialNumberBufferUnits>(&DevSettings::int_GetSerialNumber, text);
}

std::int32_t DevSettings_M::SetSerialNumber(const char16_t* serialNumberToSet) {
    auto lock = LockApi();
    return DevSettings::int_SetSerialNumber(serialNumberToSet);
}

std::int32_t DevSettings_M::GetSerialNumberEnumerationEnable() {
    auto lock = LockApi();
    return DevSettings::int_GetSerialNumberEnumerationEnable();
}

std::int32_t DevSettings_M::SetSerialNumberEnumerationEnable(bool enable) {
    auto lock = LockApi();
    return DevSettings::int_SetSerialNumberEnumerationEnable(enable);
}

bool DevSettings_M::GetConnectionStatus() {
    auto lock = LockApi();
    return DevSettings::int_GetConnectionStatus();
}

std::int64_t DevSettings_M::GetUsbVid() {
    auto lock = LockApi();
    return DevSettings::int_GetUsbVid();
}

std::int64_t DevSettings_M::GetUsbPid() {
    auto lock = LockApi();
    return DevSettings::int_GetUsbPid();
}

std::int32_t DevSettings_M::SetUsbVidPid(std::uint32_t vid, std::uint32_t pid) {
    auto lock = LockApi();
    return DevSettings::int_SetUsbVidPid(vid, pid);
}

std::int32_t DevSettings_M::GetUsbPowerSource() {
    auto lock = LockApi();
    return DevSettings::int_GetUsbPowerSource();
}

std::int32_t DevSettings_M::SetUsbPowerSource(std::int32_t powerSourceToSet) {
    auto lock = LockApi();
    return DevSettings::int_SetUsbPowerSource(powerSourceToSet);
}

std::int32_t DevSettings_M::GetUsbRemoteWakeupEnable() {
    auto lock = LockApi();
    return DevSettings::int_GetUsbRemoteWakeupEnable();
}

std::int32_t DevSettings_M::SetUsbRemoteWakeupEnable(bool remoteWakeupEnable) {
    auto lock = LockApi();
    return DevSettings::int_SetUsbRemoteWakeupEnable(remoteWakeupEnable);
}

std::int32_t DevSettings_M::GetUsbCurrentRequirement() {
    auto lock = LockApi();
    return DevSettings::int_GetUsbCurrentRequirement();
}

std::int32_t DevSettings_M::SetUsbCurrentRequirement(std::int32_t newCurrentValue) {
    auto lock = LockApi();
    return DevSettings::int_SetUsbCurrentRequirement(newCurrentValue);
}

std::optional<std::u16string> DevSettings_M::GetUsbStringManufacturer() {
    auto lock = LockApi();
    return TextResult<kStringBufferUnits>(&DevSettings::int_GetUsbStringManufacturer);
}

std::int32_t DevSettings_M::GetUsbStringManufacturer(std::u16string& text) {
    auto lock = LockApi();
    return TextInto<kStringBufferUnits>(&DevSettings::int_GetUsbStringManufacturer, text);
}

std::int32_t DevSettings_M::SetUsbStringManufacturer(const char16_t* newString) {
    auto lock = LockApi();
    return DevSettings::int_SetUsbStringManufacturer(newString);
}

std::optional<std::u16string> DevSettings_M::GetUsbStringDescriptor() {
    auto lock = LockApi();
    return TextResult<kStringBufferUnits>(&DevSettings::int_GetUsbStringDescriptor);
}

std::int32_t DevSettings_M::GetUsbStringDescriptor(std::u16string& text) {
    auto lock = LockApi();
    return TextInto<kStringBufferUnits>(&DevSettings::int_GetUsbStringDescriptor, text);
}

std::int32_t DevSettings_M::SetUsbStringDescriptor(const char16_t* newString) {
    auto lock = LockApi();
    return DevSettings::int_SetUsbStringDescriptor(newString);
}

std::int32_t DevSettings_M::GetFlashProtectionState() {
    auto lock = LockApi();
    return DevSettings::int_GetFlashProtectionState();
}

std::int32_t DevSettings_M::SetFlashProtectionOff() {
    auto lock = LockApi();
    return DevSettings::int_SetFlashProtectionOff();
}

std::int32_t DevSettings_M::SetFlashPermanentLock() {
    auto lock = LockApi();
    return DevSettings::int_SetFlashPermanentLock();
}

std::int32_t DevSettings_M::SetFlashPasswordProtection(const char* newPassword) {
    auto lock = LockApi();
    return DevSettings::int_SetFlashPasswordProtection(newPassword);
}

std::int32_t DevSettings_M::GetGpPinConfiguration(std::int32_t whichToGet,
                                                  std::span<std::uint8_t> ioPinDesignations,
                                                  std::span<std::uint8_t> ioPinDirections,
                                                  std::span<std::uint8_t> ioPinValues) {
    auto lock = LockApi();
    PinBuffer designations{}, directions{}, values{};
    const std::int32_t result = DevSettings::int_GetGpPinConfiguration(
        whichToGet, designations.data(), directions.data(), values.data());
    if (result == SUCCESS) {
        // All three are checked before any is written, so a bad one leaves
        // every caller's array as it was.
        RequireElements(ioPinDesignations, kPins, "ioPinDesignations");
        RequireElements(ioPinDirections, kPins, "ioPinDirections");
        RequireElements(ioPinValues, kPins, "ioPinValues");
        std::copy(designations.begin(), designations.end(), ioPinDesignations.begin());
        std::copy(directions.begin(), directions.end(), ioPinDirections.begin());
        std::copy(values.begin(), values.end(), ioPinValues.begin());
    }
    return result;
}

std::int32_t DevSettings_M::SetGpPinConfiguration(std::int32_t whichToGet,
                                                  std::span<const std::uint8_t> ioPinDesignations,
                                                  std::span<const std::uint8_t> ioPinDirections,
                                                  std::span<const std::uint8_t> ioPinValues) {
    auto lock = LockApi();
    RequireElements(ioPinDesignations, kPins, "ioPinDesignations");
    RequireElements(ioPinDirections, kPins, "ioPinDirections");
    RequireElements(ioPinValues, kPins, "ioPinValues");
    PinBuffer designations{}, directions{}, values{};
    std::copy_n(ioPinDesignations.begin(), kPins, designations.begin());
    std::copy_n(ioPinDirections.begin(), kPins, directions.begin());
    std::copy_n(ioPinValues.begin(), kPins, values.begin());
    return DevSettings::int_SetGpPinConfiguration(whichToGet, designations.data(),
                                                  directions.data(), values.data());
}

std::int32_t DevSettings_M::GetGpPinDirection(std::int32_t whichToGet, std::uint8_t pinNumber) {
    auto lock = LockApi();
    return DevSettings::int_GetGpPinDirection(whichToGet, pinNumber);
}

std::int32_t DevSettings_M::SetGpPinDirection(std::int32_t whichToSet, std::uint8_t pinNumber,
                                              std::uint8_t directionToSet) {
    auto lock = LockApi();
    return DevSettings::int_SetGpPinDirection(whichToSet, pinNumber, directionToSet);
}

std::int32_t DevSettings_M::GetDacVoltageReference() {
    auto lock = LockApi();
    return DevSettings::int_GetDacVoltageReference();
}

std::int32_t DevSettings_M::SetDacVoltageReference(std::int32_t vRefValue) {
    auto lock = LockApi();
    return DevSettings::int_SetDacVoltageReference(vRefValue);
}

std::int32_t DevSettings_M::GetDacValue() {
    auto lock = LockApi();
    return DevSettings::int_GetDacValue();
}

std::int32_t DevSettings_M::SetDacValue(std::int32_t dacValue) {
    auto lock = LockApi();
    return DevSettings::int_SetDacValue(dacValue);
}

std::int32_t DevSettings_M::GetAdcVoltageReference() {
    auto lock = LockApi();
    return DevSettings::int_GetAdcVoltageReference();
}

std::int32_t DevSettings_M::SetAdcVoltageReference(std::int32_t vRefValue) {
    auto lock = LockApi();
    return DevSettings::int_SetAdcVoltageReference(vRefValue);
}

std::int32_t DevSettings_M::GetInterruptPinMode(std::int32_t whichToGet) {
    auto lock = LockApi();
    return DevSettings::int_GetInterruptPinMode(whichToGet);
}

std::int32_t DevSettings_M::SetInterruptPinMode(std::int32_t whichToSet,
                                                std::int32_t interruptPinModeToSet) {
    auto lock = LockApi();
    return DevSettings::int_SetInterruptPinMode(whichToSet, interruptPinModeToSet);
}

std::int32_t DevSettings_M::GetClockPinDividerValue(std::int32_t whichToGet) {
    auto lock = LockApi();
    return DevSettings::int_GetClockPinDividerValue(whichToGet);
}

std::int32_t DevSettings_M::GetClockPinDutyCycle(std::int32_t whichToGet) {
    auto lock = LockApi();
    return DevSettings::int_GetClockPinDutyCycle(whichToGet);
}

std::int32_t DevSettings_M::SetClockPinConfiguration(std::int32_t whichToSet,
                                                     std::int32_t clockDividerValueToSet,
                                                     std::int32_t dutyCycleToSet) {
    auto lock = LockApi();
    return DevSettings::int_SetClockPinConfiguration(whichToSet, clockDividerValueToSet,
                                                     dutyCycleToSet);
}

std::int32_t DevSettings_M::GetInitialPinValueLedUartTx() {
    auto lock = LockApi();
    return DevSettings::int_GetInitialPinValueLedUartTx();
}

std::int32_t DevSettings_M::SetInitialPinValueLedUartTx(std::int32_t newInitialPinValue) {
    auto lock = LockApi();
    return DevSettings::int_SetInitialPinValueLedUartTx(newInitialPinValue);
}

std::int32_t DevSettings_M::GetInitialPinValueLedUartRx() {
    auto lock = LockApi();
    return DevSettings::int_GetInitialPinValueLedUartRx();
}

std::int32_t DevSettings_M::SetInitialPinValueLedUartRx(std::int32_t newInitialPinValue) {
    auto lock = LockApi();
    return DevSettings::int_SetInitialPinValueLedUartRx(newInitialPinValue);
}

std::int32_t DevSettings_M::GetInitialPinValueLedI2c() {
    auto lock = LockApi();
    return DevSettings::int_GetInitialPinValueLedI2c();
}

std::int32_t DevSettings_M::SetInitialPinValueLedI2c(std::int32_t newInitialPinValue) {
    auto lock = LockApi();
    return DevSettings::int_SetInitialPinValueLedI2c(newInitialPinValue);
}

std::int32_t DevSettings_M::GetInitialPinValueSspnd() {
    auto lock = LockApi();
    return DevSettings::int_GetInitialPinValueSspnd();
}

std::int32_t DevSettings_M::SetInitialPinValueSspnd(std::int32_t newInitialPinValue) {
    auto lock = LockApi();
    return DevSettings::int_SetInitialPinValueSspnd(newInitialPinValue);
}

std::int32_t DevSettings_M::GetInitialPinValueUsbcfg() {
    auto lock = LockApi();
    return DevSettings::int_GetInitialPinValueUsbcfg();
}

std::int32_t DevSettings_M::SetInitialPinValueUsbcfg(std::int32_t newInitialPinValue) {
    auto lock = LockApi();
    return DevSettings::int_SetInitialPinValueUsbcfg(newInitialPinValue);
}

std::optional<std::string> DevSettings_M::GetFirmwareVersion() {
    auto lock = LockApi();
    return TextResult<kFirmwareVersionBytes>(&DevSettings::int_GetFirmwareVersion);
}

std::int32_t DevSettings_M::GetFirmwareVersion(std::string& text) {
    auto lock = LockApi();
    return TextInto<kFirmwareVersionBytes>(&DevSettings::int_GetFirmwareVersion, text);
}

std::optional<std::string> DevSettings_M::GetHardwareVersion() {
    auto lock = LockApi();
    return TextResult<kHardwareVersionBytes>(&DevSettings::int_GetHardwareVersion);
}

}  // namespace Corvane
