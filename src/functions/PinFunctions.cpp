// SPDX-License-Identifier: MIT
#include <cstring>

#include "corvane/ResultCodes.hpp"
#include "functions/DevFunctions.hpp"
#include "protocol/DevCom.hpp"
#include "protocol/Records.hpp"

namespace Corvane {

namespace {

constexpr std::uint8_t kPinCount = 4;
constexpr std::uint8_t kNotGpioValue = 0xEE;
constexpr std::uint8_t kPasswordRejectedStatus = 0x03;

}  // namespace

std::int32_t DevFunctions::int_ResetDevice() {
    return DevCom::ResetChip();
}

std::int32_t DevFunctions::int_GetAdcData(std::uint16_t* adc) {
    StatusReply reply;
    return DevCom::StatusSetParameters(1, 0, 0, reply, adc);
}

std::int32_t DevFunctions::int_ClearInterruptPinState() {
    const SettingsImage unused;
    return DevCom::WriteSramSettings(unused, 0, 0, 0, 0, 1, 0, 0);
}

std::int32_t DevFunctions::int_GetInterruptPinState() {
    // Without the cancel request: reading the flag leaves a transfer alone.
    StatusReply reply;
    const std::int32_t result = DevCom::StatusSetParameters(0, 0, 0, reply, nullptr);
    return result != SUCCESS ? result : reply.interruptFlag;
}

std::int32_t DevFunctions::int_ReadGpioPinValue(std::uint8_t pinNumber) {
    if (pinNumber >= kPinCount) return INVALID_ARG_1;
    std::uint8_t values[kPinCount] = {};
    const std::int32_t result = DevCom::ReadGpioValues(nullptr, values);
    if (result != SUCCESS) return result;
    if (values[pinNumber] == kNotGpioValue) return PIN_NOT_GPIO;
    return values[pinNumber];
}

std::int32_t DevFunctions::int_WriteGpioPinValue(std::uint8_t pinNumber, std::uint8_t pinValue) {
    if (pinNumber >= kPinCount) return INVALID_ARG_1;
    if (pinValue > 1) return INVALID_ARG_2;
    std::uint8_t value[kPinCount] = {};
    std::uint8_t alterValue[kPinCount] = {};
    const std::uint8_t unchanged[kPinCount] = {};
    value[pinNumber] = pinValue;
    alterValue[pinNumber] = 1;
    return DevCom::WriteGpioValues(unchanged, value, unchanged, alterValue);
}

std::int32_t DevFunctions::int_EnterAccessPassword(const char* password) {
    if (password == nullptr || std::strlen(password) < kPasswordBytes) return INVALID_ARG_1;
    Report request{};
    request[0] = SEND_FLASH_ACCESS_PASSWORD;
    request[1] = 0x00;
    std::memcpy(&request[Records::kAccessPassword.first], password, kPasswordBytes);
    Report answer{};
    if (const std::int32_t result =
            DevCom::ExchangeCommand(request, answer, Records::kAccessPassword);
        result != SUCCESS) {
        return result;
    }
    if (answer[1] == kPasswordRejectedStatus) return PASSWORD_REJECTED;
    if (answer[1] != 0) return answer[1];
    DevCom::StoreAccessPassword(password);
    return SUCCESS;
}

}  // namespace Corvane
