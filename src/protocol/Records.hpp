// SPDX-License-Identifier: MIT
#pragma once

// Byte layouts of the command reports and their answers. Each record's
// encoder and decoder sit side by side; the command operations in DevCom
// only choose which to use.

#include <array>
#include <cstdint>

#include "protocol/SettingsImage.hpp"
#include "transport/DevComTransport.hpp"

namespace Corvane::Records {

using Password = std::array<std::uint8_t, kPasswordBytes>;
using PinBytes = std::array<std::uint8_t, 4>;

// The 8 bytes of a password given as NUL-terminated text: its first 8 bytes,
// zero bytes after a shorter one.
Password PasswordBytes(const char* text);

// Where the chip-settings write and the access-password command carry the password.
inline constexpr SecretBytes kChipSettingsPassword{12, kPasswordBytes};
inline constexpr SecretBytes kAccessPassword{2, kPasswordBytes};

// ---- chip settings ----------------------------------------------------------
// Flash record as read (answer bytes 4 to 13) and the run-time settings answer,
// which shares that layout but does not carry the three LED initial values.
enum class LedBits { Take, Leave };
void DecodeChipSettings(const Report& answer, LedBits leds, SettingsImage& image);
// Flash record as written (request bytes 2 to 19): the same fields two bytes
// further forward, then the password.
void EncodeChipSettings(const SettingsImage& image, const Password& password, Report& request);

// ---- GP pin settings --------------------------------------------------------
// One pin byte: bit 4 output value, bit 3 direction, bits 2-0 designation.
void DecodePinBytes(const Report& answer, std::size_t first, PinBytes& designation,
                    PinBytes& direction, PinBytes& outputValue);
void EncodePinBytes(const PinBytes& designation, const PinBytes& direction,
                    const PinBytes& outputValue, std::size_t first, Report& request);

// ---- run-time settings change ---------------------------------------------
struct SramChange {
    bool alterClock = false;
    bool alterDacReference = false;
    bool alterDacValue = false;
    bool alterAdcReference = false;
    bool clearInterruptFlag = false;
    bool alterInterruptMode = false;
    bool alterGpSettings = false;
};
void EncodeSramChange(const SettingsImage& image, const SramChange& change, Report& request);
// Byte 6 of a run-time change for an interrupt mode (1 to 3; else 0).
std::uint8_t InterruptModeByte(std::uint8_t mode);

// ---- USB string records ---------------------------------------------------
// Decodes into `text` (room for `capacity` units, terminator included): stops
// at the length the record claims, at byte 63 and at the capacity; an odd
// length drops the half unit.
void DecodeString(const Report& answer, char16_t* text, std::size_t capacity);
// Encodes `units` code units (at most kMaxStringUnits).
void EncodeString(const char16_t* text, std::size_t units, Report& request);

// ---- GPIO values ----------------------------------------------------------
// Answer bytes 2, 4, 6, 8: values; 3, 5, 7, 9: directions (raw, markers included).
void DecodeGpioValues(const Report& answer, std::uint8_t* direction, std::uint8_t* value);
void EncodeGpioValues(const std::uint8_t* direction, const std::uint8_t* value,
                      const std::uint8_t* alterDirection, const std::uint8_t* alterValue,
                      Report& request);

// ---- status / set-parameters ---------------------------------------------
// A flag counts as set only when it is exactly 1.
void EncodeStatus(std::uint8_t cancelTransfer, std::uint8_t setSpeed, std::uint8_t speedDivider,
                  Report& request);
// Whether a status request asks to cancel the transfer in progress.
bool DecodeCancelRequest(const Report& request);
// The I2C engine's part of the answer (bytes 1, 2, 3, 8 and 20).
struct EngineStatus {
    bool refused;               // byte 1 non-zero; the other bytes still hold
    std::uint8_t cancelStatus;  // byte 2
    bool speedTaken;            // byte 3 is 0x20
    std::uint8_t state;         // byte 8: 0x00 idle, 0x45 waiting for a repeated START, ...
    bool writeFailed;           // byte 20, bit 6: the target did not acknowledge
};
EngineStatus DecodeEngineStatus(const Report& answer);

// ---- I2C data and read commands -------------------------------------------
// Bytes 0 to 3: code, total count (low byte first, the same in every chunk)
// and the address byte.
struct TransferHeader {
    std::uint8_t command;
    std::uint32_t total;
    std::uint8_t address;
};
void EncodeTransferHeader(const TransferHeader& header, Report& request);
TransferHeader DecodeTransferHeader(const Report& request);

}  // namespace Corvane::Records
