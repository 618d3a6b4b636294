// SPDX-License-Identifier: MIT
#pragma once

// Parsing of the numbers people type, and the text forms the tool prints.
// Every parser throws UsageError with a message naming the argument.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace CorvaneTool {

// As i2c-tools reads numbers: hexadecimal with 0x, octal with a leading 0,
// decimal otherwise; within [min, max].
std::uint32_t ParseNumber(std::string_view text, std::string_view what, std::uint32_t min,
                          std::uint32_t max);
// A USB vendor or product ID, read as every other number (0x3a7c); a bare
// hexadecimal text is refused with a hint rather than taken as decimal.
std::uint16_t ParseId(std::string_view text, std::string_view what);
// "0x3a7c": how IDs are printed, so that they can be typed back.
std::string IdText(unsigned id);
// A 7-bit I2C address, 0x03 to 0x77; with `all` (i2c-tools' -a) 0x00 to 0x7f.
std::uint8_t ParseAddress(std::string_view text, bool all = false);
std::uint8_t ParseByte(std::string_view text, std::string_view what);
std::vector<std::uint8_t> ParseBytes(const std::vector<std::string>& texts, std::string_view what);
// A frequency in Hz; k and M suffixes count kHz and MHz (400k, 1M, 3.4M).
std::uint32_t ParseSpeed(std::string_view text, std::string_view what, std::uint32_t min,
                         std::uint32_t max);
// A byte count; K (k, KiB) counts kibibytes and M (MiB) mebibytes.
std::size_t ParseSize(std::string_view text, std::string_view what, std::size_t min,
                      std::size_t max);
// on/off, 1/0, true/false, yes/no, enabled/disabled.
bool ParseSwitch(std::string_view text, std::string_view what);

inline constexpr std::uint8_t kFirstAddress = 0x03;
inline constexpr std::uint8_t kLastAddress = 0x77;

std::string Lower(std::string_view text);

// "0x5a".
std::string Hex(unsigned value, int digits = 2);
// "0x12 0x34": bytes as i2ctransfer prints them.
std::string ByteList(std::span<const std::uint8_t> bytes);

}  // namespace CorvaneTool
