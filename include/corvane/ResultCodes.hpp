// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

#include "corvane/Export.hpp"

namespace Corvane {

// Every operation reports its outcome as one signed integer: 0 for success,
// a negative code below for a failure, the device's non-zero status byte
// (1 to 255) passed through, or the value a reading operation asked for.
constexpr std::int32_t SUCCESS = 0;
constexpr std::int32_t DEVICE_INDEX_ERROR = -2;
constexpr std::int32_t REPORT_WRITE_FAILED = -4;
constexpr std::int32_t REPORT_READ_FAILED = -5;
constexpr std::int32_t RESPONSE_MISMATCH = -6;
constexpr std::int32_t SMB_SPEED_CMD_FAILED = -8;
constexpr std::int32_t VREF_INVALID = -9;
constexpr std::int32_t PIN_NOT_GPIO = -10;
constexpr std::int32_t SMB_NO_REPEATED_START = -11;
constexpr std::int32_t PEC_MISMATCH = -12;
constexpr std::int32_t FLASH_LOCKED = -13;
constexpr std::int32_t PASSWORD_REJECTED = -14;
constexpr std::int32_t POWER_SOURCE_INVALID = -15;
constexpr std::int32_t I2C_STATE_ERROR = -18;
constexpr std::int32_t I2C_RETRIES_EXHAUSTED = -19;
constexpr std::int32_t SPEED_CMD_FAILED = -22;
constexpr std::int32_t I2C_NOT_ACKNOWLEDGED = -23;
constexpr std::int32_t READ_CMD_REJECTED = -24;
constexpr std::int32_t GET_DATA_REJECTED = -25;
constexpr std::int32_t READ_DATA_ERROR = -26;
constexpr std::int32_t READ_OVERRUN = -27;
constexpr std::int32_t INVALID_ARG_1 = -201;
constexpr std::int32_t INVALID_ARG_2 = -202;
constexpr std::int32_t INVALID_ARG_3 = -203;
constexpr std::int32_t INVALID_ARG_4 = -204;
// Codes of the I2cBus layer (I2cBus.hpp).
constexpr std::int32_t I2CBUS_INVALID_ARGUMENT = -300;
constexpr std::int32_t I2CBUS_NOT_SUPPORTED = -301;
constexpr std::int32_t I2CBUS_SHORT_READ = -302;
constexpr std::int32_t I2CBUS_BLOCK_COUNT_INVALID = -303;
// Failures the C interface (corvane/corvane.h) reports where C++ would raise.
constexpr std::int32_t OUT_OF_MEMORY = -400;
constexpr std::int32_t HOST_ERROR = -401;
constexpr std::int32_t NULL_HANDLE = -402;
// Codes of the bridge handles (BridgeHandle.hpp, I2cBus, the C interface).
constexpr std::int32_t BRIDGE_NOT_FOUND = -500;  // opening: no attached bridge matches
constexpr std::int32_t BRIDGE_UNPLUGGED = -501;  // the handle's own bridge is not attached
// Another program kept the bridge busy for longer than the wait allowed.
constexpr std::int32_t BRIDGE_BUSY = -502;

// The name of a result code: "SUCCESS", "I2C_NOT_ACKNOWLEDGED", ...;
// "DEVICE_STATUS" for 1 to 255 and "UNKNOWN_RESULT" for a value no operation
// returns. The text is static and never null.
CORVANE_API const char* ResultCodeName(std::int32_t code) noexcept;

// A one-line description of a result code for people, without a trailing
// period. Static text, never null.
CORVANE_API const char* ResultCodeDescription(std::int32_t code) noexcept;

// What a non-zero status byte in the chip's answer means (1 to 255, the
// DEVICE_STATUS results): 2 the flash is locked for good, 3 it is protected by
// a password that was not given, 4 too many wrong passwords since the chip was
// last reset. Static text without a trailing period, never null.
CORVANE_API const char* DeviceStatusDescription(std::int32_t status) noexcept;

}  // namespace Corvane
