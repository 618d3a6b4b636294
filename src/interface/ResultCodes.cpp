// SPDX-License-Identifier: MIT
#include "corvane/ResultCodes.hpp"

namespace Corvane {

namespace {

struct ResultCodeInfo {
    std::int32_t code;
    const char* name;
    const char* description;
};

constexpr ResultCodeInfo kResultCodes[] = {
    {SUCCESS, "SUCCESS", "the operation completed"},
    {DEVICE_INDEX_ERROR, "DEVICE_INDEX_ERROR", "the device number is not below the device count"},
    {REPORT_WRITE_FAILED, "REPORT_WRITE_FAILED",
     "the command report was not sent: no device connected, or the write did not complete"},
    {REPORT_READ_FAILED, "REPORT_READ_FAILED",
     "the device's response report was not received in time"},
    {RESPONSE_MISMATCH, "RESPONSE_MISMATCH",
     "the response does not echo the command code of the request"},
    {SMB_SPEED_CMD_FAILED, "SMB_SPEED_CMD_FAILED",
     "the device refused the SMBus speed set-up command"},
    {VREF_INVALID, "VREF_INVALID", "the device reported a voltage reference code no selector sets"},
    {PIN_NOT_GPIO, "PIN_NOT_GPIO", "the pin is not configured for general-purpose I/O"},
    {SMB_NO_REPEATED_START, "SMB_NO_REPEATED_START",
     "the bus went idle after the register write instead of waiting for the repeated start"},
    {PEC_MISMATCH, "PEC_MISMATCH", "the packet error code of the SMBus read does not match"},
    {FLASH_LOCKED, "FLASH_LOCKED", "the flash is permanently locked"},
    {PASSWORD_REJECTED, "PASSWORD_REJECTED", "the device did not accept the access password"},
    {POWER_SOURCE_INVALID, "POWER_SOURCE_INVALID",
     "the power attributes name neither bus nor self power"},
    {I2C_STATE_ERROR, "I2C_STATE_ERROR", "the device's I2C engine reported an error state"},
    {I2C_RETRIES_EXHAUSTED, "I2C_RETRIES_EXHAUSTED",
     "the device kept refusing or did not finish the bus transfer"},
    {SPEED_CMD_FAILED, "SPEED_CMD_FAILED", "the device refused the bus speed set-up command"},
    {I2C_NOT_ACKNOWLEDGED, "I2C_NOT_ACKNOWLEDGED", "the target did not acknowledge"},
    {READ_CMD_REJECTED, "READ_CMD_REJECTED", "the device refused the read command"},
    {GET_DATA_REJECTED, "GET_DATA_REJECTED", "the device refused to deliver read data"},
    {READ_DATA_ERROR, "READ_DATA_ERROR", "the read data never became ready"},
    {READ_OVERRUN, "READ_OVERRUN", "the device offered more bytes than were asked for"},
    {INVALID_ARG_1, "INVALID_ARG_1", "the first argument is out of range or missing"},
    {INVALID_ARG_2, "INVALID_ARG_2", "the second argument is out of range or missing"},
    {INVALID_ARG_3, "INVALID_ARG_3", "the third argument (often the byte count) is out of range"},
    {INVALID_ARG_4, "INVALID_ARG_4", "the fourth argument is out of range"},
    {I2CBUS_INVALID_ARGUMENT, "I2CBUS_INVALID_ARGUMENT",
     "an address above 0x7F, a missing data span or a block above 32 bytes"},
    {I2CBUS_NOT_SUPPORTED, "I2CBUS_NOT_SUPPORTED",
     "the bridge cannot carry out this sequence of messages"},
    {I2CBUS_SHORT_READ, "I2CBUS_SHORT_READ", "the read ended with fewer bytes than were asked for"},
    {I2CBUS_BLOCK_COUNT_INVALID, "I2CBUS_BLOCK_COUNT_INVALID",
     "the target announced an SMBus block of 0 or more than 32 bytes"},
    {OUT_OF_MEMORY, "OUT_OF_MEMORY", "the library ran out of memory"},
    {HOST_ERROR, "HOST_ERROR", "an unexpected error inside the library stopped the operation"},
    {NULL_HANDLE, "NULL_HANDLE", "the handle given is null or of another kind"},
    {BRIDGE_NOT_FOUND, "BRIDGE_NOT_FOUND", "no attached bridge matches the one asked for"},
    {BRIDGE_UNPLUGGED, "BRIDGE_UNPLUGGED",
     "the handle's bridge is not attached; the handle works again once it is back"},
    {BRIDGE_BUSY, "BRIDGE_BUSY",
     "another program kept the bridge busy for longer than the wait allowed"},
};

const ResultCodeInfo* Find(std::int32_t code) {
    for (const auto& info : kResultCodes) {
        if (info.code == code) return &info;
    }
    return nullptr;
}

}  // namespace

const char* ResultCodeName(std::int32_t code) noexcept {
    if (const auto* info = Find(code)) return info->name;
    if (code >= 1 && code <= 255) return "DEVICE_STATUS";
    return "UNKNOWN_RESULT";
}

const char* ResultCodeDescription(std::int32_t code) noexcept {
    if (const auto* info = Find(code)) return info->description;
    if (code >= 1 && code <= 255) return DeviceStatusDescription(code);
    return "not a result code of this library";
}

const char* DeviceStatusDescription(std::int32_t status) noexcept {
    switch (status) {
        case 2:
            return "the chip refused: its flash is locked for good";
        case 3:
            return "the chip refused: its flash is protected by a password";
        case 4:
            return "the chip refused: too many wrong passwords since it was last reset";
        default:
            return "the device answered with this non-zero status";
    }
}

}  // namespace Corvane
