// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>

namespace Corvane {

// Native counterpart of DevFunctions_M: bus transfers and pin functions.
// Holds no data; every operation is static and returns a result code.
class DevFunctions {
  public:
    DevFunctions() = default;

    // ---- pin, ADC, reset and password functions --------------------------------
    // Writes the reset report; 0, or -4 when it was not sent.
    static std::int32_t int_ResetDevice();
    // On 0, adc[0..2] hold the three 10-bit readings; otherwise adc is untouched.
    // Also cancels any bus transfer the chip is carrying out.
    static std::int32_t int_GetAdcData(std::uint16_t* adc);
    static std::int32_t int_ClearInterruptPinState();
    static std::int32_t int_GetInterruptPinState();
    // The pin's level (0 or 1), -10 when the pin is not a GPIO, or a failure.
    static std::int32_t int_ReadGpioPinValue(std::uint8_t pinNumber);
    static std::int32_t int_WriteGpioPinValue(std::uint8_t pinNumber, std::uint8_t pinValue);
    // Presents the first 8 bytes of `password` (at least 8 required); on
    // acceptance they become the remembered access password.
    static std::int32_t int_EnterAccessPassword(const char* password);

    // ---- I2C and SMBus transfers ------------------------------------------------
    // Addresses are 8-bit address bytes (7-bit address in bits 7-1), sent as
    // given. Speeds are in Hz, from 46,333 to 4,000,000 (the divider the
    // chip takes is one byte); any other speed returns INVALID_ARG_4 before
    // anything is sent. Counts are at most 65,535
    // (65,534 for SMBus with PEC).

    // Writes numberOfBytesToWrite bytes of dataToWrite to the target.
    static std::int32_t int_WriteI2cData(std::uint8_t i2cAddress, const std::uint8_t* dataToWrite,
                                         std::uint32_t numberOfBytesToWrite,
                                         std::uint32_t i2cSpeed);

    // Reads up to numberOfBytesToRead bytes into i2cDataReceived; bytes stored
    // before a failure stay there.
    static std::int32_t int_ReadI2cData(std::uint8_t i2cAddress, std::uint8_t* i2cDataReceived,
                                        std::uint32_t numberOfBytesToRead, std::uint32_t i2cSpeed);

    // The combined transfer: numberOfBytesToWrite bytes (at least 1) written
    // without STOP, the wait for the repeated START, then numberOfBytesToRead
    // bytes (at least 1) read. With no bytes to write, the plain read of
    // int_ReadI2cData. Returns the number of bytes received, which is smaller
    // than asked when the device ended the read early, or a negative code.
    static std::int32_t int_WriteReadI2cData(std::uint8_t i2cAddress,
                                             const std::uint8_t* dataToWrite,
                                             std::uint32_t numberOfBytesToWrite,
                                             std::uint8_t* dataReceived,
                                             std::uint32_t numberOfBytesToRead,
                                             std::uint32_t i2cSpeed);

    // Cancels the transfer in progress; the device's cancellation status
    // (0 to 255) on success.
    static std::int32_t int_StopI2cDataTransfer();

    // SMBus block write; usesPEC non-zero appends the PEC of the address byte
    // and the data.
    static std::int32_t int_SmbWriteBlock(std::uint8_t smbAddress,
                                          const std::uint8_t* smbDataToSend,
                                          std::uint32_t numberOfBytesToWrite,
                                          std::uint32_t smbSpeed, std::uint8_t usesPEC);

    // SMBus block read of readRegIndex after a repeated START; usesPEC non-zero
    // reads one byte more and checks it as the PEC. `bytesReceived`, when
    // given, gets the number of data bytes that arrived.
    static std::int32_t int_SmbReadBlock(std::uint8_t smbAddress, std::uint8_t* smbReadData,
                                         std::uint32_t numberOfBytesToRead, std::uint32_t smbSpeed,
                                         std::uint8_t usesPEC, std::uint8_t readRegIndex,
                                         std::uint32_t* bytesReceived = nullptr);

    // Nibble table of the CRC-8 with polynomial 0x07 (SMBus PEC).
    static constexpr std::array<std::uint8_t, 16> CRC_Table = {0x00, 0x07, 0x0E, 0x09, 0x1C, 0x1B,
                                                               0x12, 0x15, 0x38, 0x3F, 0x36, 0x31,
                                                               0x24, 0x23, 0x2A, 0x2D};

    // One PEC step: the running CRC `crc` after the next byte `data`.
    static std::uint8_t CRC_Update(std::uint8_t data, std::uint8_t crc);
    // The running CRC `crc` after `count` bytes of `data`.
    static std::uint8_t CRC_Over(std::uint8_t crc, const std::uint8_t* data, std::uint32_t count);
};

}  // namespace Corvane
