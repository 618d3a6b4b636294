// SPDX-License-Identifier: MIT
#include "protocol/DevCom.hpp"

#include <algorithm>

#include "corvane/ResultCodes.hpp"
#include "protocol/Records.hpp"

namespace Corvane {

DevCom LowLvlCom;

namespace {

// How a command's answer is judged after the echo test.
enum class StatusTest {
    SetCommand,  // non-zero status: returned, nothing decoded
    RecordRead,  // decoded first, then the status returned
};

// The common command exchange: write, read, echo test, status test.
template <typename Decode>
std::int32_t RunCommand(const Report& request, StatusTest test, Decode&& decode,
                        SecretBytes secret = {}) {
    Report answer{};
    if (const std::int32_t result = DevCom::ExchangeCommand(request, answer, secret);
        result != SUCCESS) {
        return result;
    }
    switch (test) {
        case StatusTest::SetCommand:
            if (answer[1] != 0) return answer[1];
            decode(answer);
            return SUCCESS;
        case StatusTest::RecordRead:
            decode(answer);
            return answer[1];
    }
    return SUCCESS;
}

std::int32_t RunCommand(const Report& request, StatusTest test) {
    return RunCommand(request, test, [](const Report&) {});
}

// A request with the command code (and sub-code) in place and zeros elsewhere.
Report Request(std::uint8_t command, std::uint8_t byte1 = 0) {
    Report request;
    DevCom::ClearReportTail(request, 0);
    request[0] = command;
    request[1] = byte1;
    return request;
}

Records::PinBytes Pins(const std::uint8_t* values) {
    Records::PinBytes pins{};
    std::copy(values, values + 4, pins.begin());
    return pins;
}

}  // namespace

std::int32_t DevCom::ExchangeCommand(const Report& request, Report& answer, SecretBytes secret) {
    if (!WriteReport(request, secret)) return WriteFailure();
    if (!ReadReport(answer)) return REPORT_READ_FAILED;
    if (answer[0] != request[0]) return RESPONSE_MISMATCH;
    return SUCCESS;
}

std::int32_t DevCom::WriteFailure() {
    return BridgeWasBusy() ? BRIDGE_BUSY : REPORT_WRITE_FAILED;
}

void DevCom::ClearReportTail(Report& report, std::size_t first) {
    if (first < report.size()) {
        std::fill(report.begin() + static_cast<std::ptrdiff_t>(first), report.end(), 0);
    }
}

std::int32_t DevCom::StatusSetParameters(std::uint8_t cancelTransfer, std::uint8_t setSpeed,
                                         std::uint8_t speedDivider, StatusReply& reply,
                                         std::uint16_t* adcReadings) {
    Report request = Request(STATUS_SET_PARAMETERS);
    Records::EncodeStatus(cancelTransfer, setSpeed, speedDivider, request);
    return RunCommand(request, StatusTest::SetCommand, [&](const Report& answer) {
        reply.cancelStatus = Records::DecodeEngineStatus(answer).cancelStatus;
        reply.revision = {answer[48], answer[49], answer[46], answer[47]};
        reply.interruptFlag = answer[24] != 0 ? 1 : 0;
        if (adcReadings) {
            for (std::size_t k = 0; k < 3; ++k) {
                adcReadings[k] = static_cast<std::uint16_t>(
                    (answer[50 + 2 * k] | (answer[51 + 2 * k] << 8)) & 0x3FF);
            }
        }
    });
}

std::int32_t DevCom::ReadFlashChipSettings(SettingsImage& image) {
    return RunCommand(Request(READ_FLASH_DATA, FLASH_CHIP_SETTINGS), StatusTest::RecordRead,
                      [&](const Report& answer) {
                          Records::DecodeChipSettings(answer, Records::LedBits::Take, image);
                      });
}

std::int32_t DevCom::WriteFlashChipSettings(const SettingsImage& image, const char* password) {
    Report request = Request(WRITE_FLASH_DATA, FLASH_CHIP_SETTINGS);
    const Records::Password bytes =
        password ? Records::PasswordBytes(password) : RememberedPassword();
    Records::EncodeChipSettings(image, bytes, request);
    return RunCommand(
        request, StatusTest::SetCommand, [](const Report&) {}, Records::kChipSettingsPassword);
}

std::int32_t DevCom::ReadFlashGpSettings(std::uint8_t* designation, std::uint8_t* direction,
                                         std::uint8_t* outputValue) {
    return RunCommand(Request(READ_FLASH_DATA, FLASH_GP_SETTINGS), StatusTest::RecordRead,
                      [&](const Report& answer) {
                          Records::PinBytes d{}, r{}, v{};
                          Records::DecodePinBytes(answer, 4, d, r, v);
                          std::copy(d.begin(), d.end(), designation);
                          std::copy(r.begin(), r.end(), direction);
                          std::copy(v.begin(), v.end(), outputValue);
                      });
}

std::int32_t DevCom::WriteFlashGpSettings(const std::uint8_t* designation,
                                          const std::uint8_t* direction,
                                          const std::uint8_t* outputValue) {
    Report request = Request(WRITE_FLASH_DATA, FLASH_GP_SETTINGS);
    Records::EncodePinBytes(Pins(designation), Pins(direction), Pins(outputValue), 2, request);
    return RunCommand(request, StatusTest::SetCommand);
}

std::int32_t DevCom::ReadFlashString(std::uint8_t subCode, char16_t* text) {
    // A refused read is no blank record: its status is returned, no text.
    return RunCommand(
        Request(READ_FLASH_DATA, subCode), StatusTest::SetCommand,
        [&](const Report& answer) { Records::DecodeString(answer, text, kMaxStringUnits + 1); });
}

std::int32_t DevCom::WriteFlashString(std::uint8_t subCode, const char16_t* text) {
    std::size_t units = 0;
    while (text[units] != u'\0') {
        // Refuse rather than cut: a longer string does not fit one report.
        if (++units > kMaxStringUnits) return INVALID_ARG_1;
    }
    Report request = Request(WRITE_FLASH_DATA, subCode);
    Records::EncodeString(text, units, request);
    return RunCommand(request, StatusTest::SetCommand);
}

std::int32_t DevCom::ReadSramSettings(SettingsImage& image) {
    return RunCommand(Request(GET_SRAM_SETTINGS), StatusTest::RecordRead,
                      [&](const Report& answer) {
                          Records::DecodeChipSettings(answer, Records::LedBits::Leave, image);
                          Records::PinBytes d{}, r{}, v{};
                          Records::DecodePinBytes(answer, 22, d, r, v);
                          image.gpDesignation = d;
                          image.gpDirection = r;
                          image.gpOutputValue = v;
                      });
}

std::int32_t DevCom::WriteSramSettings(const SettingsImage& image, std::uint8_t alterClock,
                                       std::uint8_t alterDacReference, std::uint8_t alterDacValue,
                                       std::uint8_t alterAdcReference,
                                       std::uint8_t clearInterruptFlag,
                                       std::uint8_t alterInterruptMode,
                                       std::uint8_t alterGpSettings) {
    Report request{};
    Records::EncodeSramChange(
        image,
        {alterClock == 1, alterDacReference == 1, alterDacValue == 1, alterAdcReference == 1,
         clearInterruptFlag == 1, alterInterruptMode == 1, alterGpSettings == 1},
        request);
    return RunCommand(request, StatusTest::SetCommand);
}

std::int32_t DevCom::ReadGpioValues(std::uint8_t* direction, std::uint8_t* value) {
    return RunCommand(Request(GET_GPIO_VALUES), StatusTest::RecordRead, [&](const Report& answer) {
        Records::DecodeGpioValues(answer, direction, value);
    });
}

std::int32_t DevCom::WriteGpioValues(const std::uint8_t* direction, const std::uint8_t* value,
                                     const std::uint8_t* alterDirection,
                                     const std::uint8_t* alterValue) {
    Report request = Request(SET_GPIO_VALUES);
    Records::EncodeGpioValues(direction, value, alterDirection, alterValue, request);
    return RunCommand(request, StatusTest::SetCommand);
}

std::int32_t DevCom::ResetChip() {
    Report request = Request(RESET_CHIP, 0xAB);
    request[2] = 0xCD;
    request[3] = 0xEF;
    return WriteReport(request) ? SUCCESS : WriteFailure();
}

void DevCom::StoreAccessPassword(const char* password) {
    RememberPassword(Records::PasswordBytes(password));
}

}  // namespace Corvane
