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

// Decimal, or hexadecimal with 0x; within [min, max].
std::uint32_t ParseNumber(std::string_view text, std::string_view what, std::uint32_t min,
                          std::uint32_t max);
// Hexadecimal with or without 0x (USB vendor and product IDs).
std::uint16_t ParseHexId(std::string_view text, std::string_view what);
// A 7-bit I2C address, 0x03 to 0x77.
std::uint8_t ParseAddress(std::string_view text);
std::uint8_t ParseByte(std::string_view text, std::string_view what);
std::vector<std::uint8_t> ParseBytes(const std::vector<std::string>& texts, std::string_view what);
// A byte count; a K suffix (K, k, KiB) counts kibibytes.
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

// UTF-8 to UTF-16 and back (USB strings are UTF-16 code units).
std::u16string Utf16(std::string_view utf8);
std::string Utf8(std::u16string_view utf16);

}  // namespace CorvaneTool
