// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

namespace Corvane {

// Command codes: byte 0 of a command report, echoed in byte 0 of its answer.
inline constexpr std::uint8_t STATUS_SET_PARAMETERS = 0x10;
inline constexpr std::uint8_t GET_I2C_DATA = 0x40;
inline constexpr std::uint8_t SET_GPIO_VALUES = 0x50;
inline constexpr std::uint8_t GET_GPIO_VALUES = 0x51;
inline constexpr std::uint8_t SET_SRAM_SETTINGS = 0x60;
inline constexpr std::uint8_t GET_SRAM_SETTINGS = 0x61;
inline constexpr std::uint8_t RESET_CHIP = 0x70;
inline constexpr std::uint8_t I2C_WRITE_DATA = 0x90;
inline constexpr std::uint8_t I2C_READ_DATA = 0x91;
inline constexpr std::uint8_t I2C_READ_DATA_REPEATED_START = 0x93;
inline constexpr std::uint8_t I2C_WRITE_DATA_NO_STOP = 0x94;
inline constexpr std::uint8_t READ_FLASH_DATA = 0xB0;
inline constexpr std::uint8_t WRITE_FLASH_DATA = 0xB1;
inline constexpr std::uint8_t SEND_FLASH_ACCESS_PASSWORD = 0xB2;

// Flash record sub-codes: byte 1 of READ_FLASH_DATA and WRITE_FLASH_DATA.
inline constexpr std::uint8_t FLASH_CHIP_SETTINGS = 0;
inline constexpr std::uint8_t FLASH_GP_SETTINGS = 1;
inline constexpr std::uint8_t FLASH_USB_MANUFACTURER = 2;
inline constexpr std::uint8_t FLASH_USB_DESCRIPTOR = 3;
inline constexpr std::uint8_t FLASH_SERIAL_NUMBER = 4;

// Longest USB string a flash record holds, in UTF-16 code units.
inline constexpr std::size_t kMaxStringUnits = 30;

}  // namespace Corvane
