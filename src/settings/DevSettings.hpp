// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

namespace Corvane {

// Native counterpart of DevSettings_M. Holds no data; constructing one resets
// the process-wide device state for the given IDs.
//
// Every operation returns 0 (or the value asked for), -4/-5/-6 when an
// exchange failed, the device's non-zero status byte, or -201 to -204 for
// the first argument that failed its check (nothing sent then).
class DevSettings {
  public:
    DevSettings(std::uint32_t vendorId, std::uint32_t productId);

    // Runs a discovery pass; returns whether the selected device is connected.
    static bool int_GetConnectionStatus();

    // ---- chip power-up settings (flash chip settings record) ----------------
    // Setters read the record, change their field and write it back carrying
    // the remembered access password.
    static std::int64_t int_GetUsbVid();
    static std::int64_t int_GetUsbPid();
    // Only the low 16 bits of each ID are kept.
    static std::int32_t int_SetUsbVidPid(std::uint32_t vid, std::uint32_t pid);
    // 0 bus powered, 1 self powered, -15 when the attributes say neither.
    static std::int32_t int_GetUsbPowerSource();
    // Replaces the whole attributes byte, remote wakeup included.
    static std::int32_t int_SetUsbPowerSource(std::int32_t powerSourceToSet);
    static std::int32_t int_GetUsbRemoteWakeupEnable();
    static std::int32_t int_SetUsbRemoteWakeupEnable(bool remoteWakeupEnable);
    static std::int32_t int_GetUsbCurrentRequirement();
    // Even milliamperes from 100 to 500.
    static std::int32_t int_SetUsbCurrentRequirement(std::int32_t newCurrentValue);
    static std::int32_t int_GetSerialNumberEnumerationEnable();
    static std::int32_t int_SetSerialNumberEnumerationEnable(bool enable);
    // The state the device runs with (its run-time copy).
    static std::int32_t int_GetFlashProtectionState();
    // -13 when the flash is locked for good (nothing written).
    static std::int32_t int_SetFlashProtectionOff();
    static std::int32_t int_SetFlashPermanentLock();
    // `newPassword` needs at least 8 characters (its first 8 are used), else
    // -201 with nothing sent. The new password is remembered unless the
    // write is known not to have been carried out (-4, or refused by the device).
    static std::int32_t int_SetFlashPasswordProtection(const char* newPassword);
    static std::int32_t int_GetInitialPinValueLedUartTx();
    static std::int32_t int_SetInitialPinValueLedUartTx(std::int32_t newInitialPinValue);
    static std::int32_t int_GetInitialPinValueLedUartRx();
    static std::int32_t int_SetInitialPinValueLedUartRx(std::int32_t newInitialPinValue);
    static std::int32_t int_GetInitialPinValueLedI2c();
    static std::int32_t int_SetInitialPinValueLedI2c(std::int32_t newInitialPinValue);
    static std::int32_t int_GetInitialPinValueSspnd();
    static std::int32_t int_SetInitialPinValueSspnd(std::int32_t newInitialPinValue);
    static std::int32_t int_GetInitialPinValueUsbcfg();
    static std::int32_t int_SetInitialPinValueUsbcfg(std::int32_t newInitialPinValue);

    // ---- USB strings and versions ---------------------------------------------
    // Getters fill `buffer` (room for at least 31 units) with the terminated
    // text; setters take terminated text of at most 30 units. Null: -201.
    static std::int32_t int_GetUsbStringManufacturer(char16_t* buffer);
    static std::int32_t int_SetUsbStringManufacturer(const char16_t* text);
    static std::int32_t int_GetUsbStringDescriptor(char16_t* buffer);
    static std::int32_t int_SetUsbStringDescriptor(const char16_t* text);
    static std::int32_t int_GetSerialNumber(char16_t* buffer);
    static std::int32_t int_SetSerialNumber(const char16_t* text);
    // "X.Y" and a NUL in 4 bytes; untouched unless the result is 0.
    static std::int32_t int_GetFirmwareVersion(char* buffer);
    // Two characters and a NUL in 3 bytes; untouched unless the result is 0.
    static std::int32_t int_GetHardwareVersion(char* buffer);

    // ---- GP pins ------------------------------------------------------------------
    // Each array holds GP0 to GP3.
    static std::int32_t int_GetGpPinConfiguration(std::int32_t whichToGet,
                                                  std::uint8_t* ioPinDesignations,
                                                  std::uint8_t* ioPinDirections,
                                                  std::uint8_t* ioPinValues);
    static std::int32_t int_SetGpPinConfiguration(std::int32_t whichToGet,
                                                  const std::uint8_t* ioPinDesignations,
                                                  const std::uint8_t* ioPinDirections,
                                                  const std::uint8_t* ioPinValues);
    // Current: the live GPIO direction (-10 when the pin is not a GPIO).
    // Power-up: the direction bit of the flash GP record. BOTH: -201.
    static std::int32_t int_GetGpPinDirection(std::int32_t whichToGet, std::uint8_t pinNumber);
    // Power-up: read-modify-write of the flash GP record. BOTH: the live
    // direction first, then the record.
    static std::int32_t int_SetGpPinDirection(std::int32_t whichToSet, std::uint8_t pinNumber,
                                              std::uint8_t directionToSet);

    // ---- analog, interrupt and clock ------------------------------------------
    // DAC and ADC: run-time settings only. The getters take the answer of a
    // device that reports a non-zero status all the same.
    static std::int32_t int_GetDacVoltageReference();
    static std::int32_t int_SetDacVoltageReference(std::int32_t vRefValue);
    static std::int32_t int_GetDacValue();
    static std::int32_t int_SetDacValue(std::int32_t dacValue);
    static std::int32_t int_GetAdcVoltageReference();
    static std::int32_t int_SetAdcVoltageReference(std::int32_t vRefValue);
    static std::int32_t int_GetInterruptPinMode(std::int32_t whichToGet);
    static std::int32_t int_SetInterruptPinMode(std::int32_t whichToSet,
                                                std::int32_t interruptPinModeToSet);
    static std::int32_t int_GetClockPinDividerValue(std::int32_t whichToGet);
    static std::int32_t int_GetClockPinDutyCycle(std::int32_t whichToGet);
    // Asks for the hardware version before checking divider and duty.
    static std::int32_t int_SetClockPinConfiguration(std::int32_t whichToSet,
                                                     std::int32_t clockDividerValueToSet,
                                                     std::int32_t dutyCycleToSet);
};

}  // namespace Corvane
