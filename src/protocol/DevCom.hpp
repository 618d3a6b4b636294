// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>

#include "protocol/CommandCodes.hpp"
#include "protocol/SettingsImage.hpp"
#include "transport/DevComTransport.hpp"

namespace Corvane {

// What the status/set-parameters command yields.
struct StatusReply {
    std::uint8_t cancelStatus = 0;
    // Firmware revision characters 0 and 1, hardware revision characters 2 and 3.
    std::array<std::uint8_t, 4> revision{};
    // The interrupt flag (1 when the interrupt input saw an edge of its mode
    // since it was last cleared).
    std::uint8_t interruptFlag = 0;
};

// The command operations. Each builds its request (unused bytes zero), runs
// the common exchange and decodes the answer. Results: 0; -4 when the request
// was not sent, -5 when no answer came, -6 when the answer does not echo the
// command code (nothing decoded); or the device's non-zero status byte.
// Record reads decode their outputs before returning a non-zero status.
class DevCom : public DevComTransport {
  public:
    // The common exchange: sends `request`, reads `answer` and tests the echo.
    // 0, or -4 / -5 / -6; the status byte is left to the caller.
    // `secret`: where the request carries a password.
    static std::int32_t ExchangeCommand(const Report& request, Report& answer,
                                        SecretBytes secret = {});

    // The result of a command report that WriteReport() did not send:
    // BRIDGE_BUSY when another program kept the device busy, else -4.
    static std::int32_t WriteFailure();

    // Sets bytes `first` to 63 of a report to zero; 64 or more changes nothing.
    static void ClearReportTail(Report& report, std::size_t first);

    // A flag counts as set only when it is exactly 1. `reply` and
    // `adcReadings` (room for three, may be null) are written only on 0.
    static std::int32_t StatusSetParameters(std::uint8_t cancelTransfer, std::uint8_t setSpeed,
                                            std::uint8_t speedDivider, StatusReply& reply,
                                            std::uint16_t* adcReadings);

    static std::int32_t ReadFlashChipSettings(SettingsImage& image);
    // `password`: NUL-terminated text whose first 8 bytes travel (zero bytes
    // after a shorter one), or null for the remembered access password.
    static std::int32_t WriteFlashChipSettings(const SettingsImage& image, const char* password);

    static std::int32_t ReadFlashGpSettings(std::uint8_t* designation, std::uint8_t* direction,
                                            std::uint8_t* outputValue);
    static std::int32_t WriteFlashGpSettings(const std::uint8_t* designation,
                                             const std::uint8_t* direction,
                                             const std::uint8_t* outputValue);

    // Decodes the string record into `text` (room for at least 31 units). A
    // non-zero status byte is returned and `text` is not written.
    static std::int32_t ReadFlashString(std::uint8_t subCode, char16_t* text);
    // `text` is zero-terminated; more than 30 units give -201 with nothing sent.
    static std::int32_t WriteFlashString(std::uint8_t subCode, const char16_t* text);

    static std::int32_t ReadSramSettings(SettingsImage& image);
    static std::int32_t WriteSramSettings(
        const SettingsImage& image, std::uint8_t alterClock, std::uint8_t alterDacReference,
        std::uint8_t alterDacValue, std::uint8_t alterAdcReference, std::uint8_t clearInterruptFlag,
        std::uint8_t alterInterruptMode, std::uint8_t alterGpSettings);

    // Either array may be null; each present one gets the raw answer bytes.
    static std::int32_t ReadGpioValues(std::uint8_t* direction, std::uint8_t* value);
    static std::int32_t WriteGpioValues(const std::uint8_t* direction, const std::uint8_t* value,
                                        const std::uint8_t* alterDirection,
                                        const std::uint8_t* alterValue);

    // Writes the reset report; no answer is read. 0 or -4.
    static std::int32_t ResetChip();

    // Remembers the first 8 bytes of `password` (zero-padded) as the access
    // password that every later chip-settings write carries.
    static void StoreAccessPassword(const char* password);
};

// The one instance of the low-level command class. The library calls the
// static members directly and never uses it; it stays because callers of the
// original interface reach the command class through it.
extern DevCom LowLvlCom;

}  // namespace Corvane
