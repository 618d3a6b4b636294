// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "corvane/Export.hpp"

namespace Corvane {

class DevSettings;
class VrelUsbI2c;

// The device's configuration (VrelUsbI2c::Settings): current settings and the
// power-up settings kept in flash. Integer results pass through unchanged
// (ResultCodes.hpp); text results are std::nullopt exactly when the native
// operation failed. Each text getter also comes with a `text` argument: it
// returns the result code and sets `text` only on success. Selectors take the DllConstants values.
//
// Pin arrays hold GP0 to GP3 in elements 0 to 3; a span shorter than four
// elements raises std::out_of_range (a null one std::invalid_argument):
// GetGpPinConfiguration checks all three arrays after a successful exchange
// and before it writes any of them, so a short third array leaves the first
// two untouched; SetGpPinConfiguration checks them before anything is sent.
//
// USB strings are UTF-16 code units passed through unchanged, at most 30.
// A setter given a null text or a longer one returns -201 and sends nothing.
// A getter gives std::nullopt when the device refuses the read (a non-zero
// status), never an empty text for it. A record whose length byte is odd
// ends with half a code unit; that half is dropped.
class CORVANE_API DevSettings_M {
  public:
    virtual ~DevSettings_M();
    DevSettings_M(const DevSettings_M&) = delete;
    DevSettings_M& operator=(const DevSettings_M&) = delete;

    std::optional<std::u16string> GetSerialNumber();
    std::int32_t GetSerialNumber(std::u16string& text);
    std::int32_t SetSerialNumber(const char16_t* serialNumberToSet);
    std::int32_t GetSerialNumberEnumerationEnable();
    std::int32_t SetSerialNumberEnumerationEnable(bool enable);

    // Runs a discovery pass; true when the selected device is connected.
    bool GetConnectionStatus();

    std::int64_t GetUsbVid();
    std::int64_t GetUsbPid();
    std::int32_t SetUsbVidPid(std::uint32_t vid, std::uint32_t pid);
    // 0 = bus powered, 1 = self powered.
    std::int32_t GetUsbPowerSource();
    std::int32_t SetUsbPowerSource(std::int32_t powerSourceToSet);
    std::int32_t GetUsbRemoteWakeupEnable();
    std::int32_t SetUsbRemoteWakeupEnable(bool remoteWakeupEnable);
    // Milliamperes: even, 100 to 500 when set.
    std::int32_t GetUsbCurrentRequirement();
    std::int32_t SetUsbCurrentRequirement(std::int32_t newCurrentValue);

    std::optional<std::u16string> GetUsbStringManufacturer();
    std::int32_t GetUsbStringManufacturer(std::u16string& text);
    std::int32_t SetUsbStringManufacturer(const char16_t* newString);
    std::optional<std::u16string> GetUsbStringDescriptor();
    std::int32_t GetUsbStringDescriptor(std::u16string& text);
    std::int32_t SetUsbStringDescriptor(const char16_t* newString);

    // 0 = not protected, 1 = password, 2 = permanently locked.
    std::int32_t GetFlashProtectionState();
    std::int32_t SetFlashProtectionOff();
    std::int32_t SetFlashPermanentLock();
    // Turns password protection on with the first 8 characters of
    // `newPassword`, which later chip-settings writes carry. A null password
    // or one shorter than 8 characters returns -201 and sends nothing: the
    // device takes only 8-character passwords at entry, so a shorter one
    // could never be given again. When the write is known not to have been
    // carried out (-4: not sent; a device status: refused) the previous
    // password stays remembered, as the device still has it; after -5 or -6
    // the outcome is unknown and the new password is remembered.
    std::int32_t SetFlashPasswordProtection(const char* newPassword);

    std::int32_t GetGpPinConfiguration(std::int32_t whichToGet,
                                       std::span<std::uint8_t> ioPinDesignations,
                                       std::span<std::uint8_t> ioPinDirections,
                                       std::span<std::uint8_t> ioPinValues);
    std::int32_t SetGpPinConfiguration(std::int32_t whichToGet,
                                       std::span<const std::uint8_t> ioPinDesignations,
                                       std::span<const std::uint8_t> ioPinDirections,
                                       std::span<const std::uint8_t> ioPinValues);
    // CURRENT_SETTINGS_ONLY: the pin's live direction (-10 when it is not a
    // GPIO). PWRUP_DEFAULTS_ONLY: its direction bit in the flash GP record.
    // BOTH returns -201, as for every getter with a selector: the two copies
    // may differ and one result cannot stand for both.
    std::int32_t GetGpPinDirection(std::int32_t whichToGet, std::uint8_t pinNumber);
    // PWRUP_DEFAULTS_ONLY changes the pin's direction bit in the flash GP
    // record, leaving the other pins and fields as read. BOTH changes the
    // live direction first and then the record; if the first fails, flash is
    // left alone.
    std::int32_t SetGpPinDirection(std::int32_t whichToSet, std::uint8_t pinNumber,
                                   std::uint8_t directionToSet);

    std::int32_t GetDacVoltageReference();
    std::int32_t SetDacVoltageReference(std::int32_t vRefValue);
    std::int32_t GetDacValue();
    std::int32_t SetDacValue(std::int32_t dacValue);
    std::int32_t GetAdcVoltageReference();
    std::int32_t SetAdcVoltageReference(std::int32_t vRefValue);

    std::int32_t GetInterruptPinMode(std::int32_t whichToGet);
    std::int32_t SetInterruptPinMode(std::int32_t whichToSet, std::int32_t interruptPinModeToSet);
    std::int32_t GetClockPinDividerValue(std::int32_t whichToGet);
    std::int32_t GetClockPinDutyCycle(std::int32_t whichToGet);
    std::int32_t SetClockPinConfiguration(std::int32_t whichToSet,
                                          std::int32_t clockDividerValueToSet,
                                          std::int32_t dutyCycleToSet);

    std::int32_t GetInitialPinValueLedUartTx();
    std::int32_t SetInitialPinValueLedUartTx(std::int32_t newInitialPinValue);
    std::int32_t GetInitialPinValueLedUartRx();
    std::int32_t SetInitialPinValueLedUartRx(std::int32_t newInitialPinValue);
    std::int32_t GetInitialPinValueLedI2c();
    std::int32_t SetInitialPinValueLedI2c(std::int32_t newInitialPinValue);
    std::int32_t GetInitialPinValueSspnd();
    std::int32_t SetInitialPinValueSspnd(std::int32_t newInitialPinValue);
    std::int32_t GetInitialPinValueUsbcfg();
    std::int32_t SetInitialPinValueUsbcfg(std::int32_t newInitialPinValue);

    // "X.Y" from the device's firmware revision characters.
    std::optional<std::string> GetFirmwareVersion();
    std::int32_t GetFirmwareVersion(std::string& text);
    // The device's two hardware revision characters, e.g. "A6".
    std::optional<std::string> GetHardwareVersion();

    void Dispose();

  protected:
    virtual void Dispose(bool disposing);

  private:
    friend class VrelUsbI2c;
    DevSettings_M(std::uint32_t vendorId, std::uint32_t productId);

    DevSettings* Settings_UM = nullptr;
};

}  // namespace Corvane
