// SPDX-License-Identifier: MIT
#include "Numbers.hpp"

#include <fmt/format.h>

#include <cctype>
#include <charconv>
#include <initializer_list>
#include <optional>
#include <utility>

#include "Tool.hpp"

namespace CorvaneTool {

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

namespace {

// Whole text as an unsigned number in `base`; nothing else may follow.
std::optional<std::uint64_t> Digits(std::string_view text, int base) {
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// strtol's base 0, as i2c-tools reads its arguments.
std::optional<std::uint64_t> DecimalOrHex(std::string_view text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        return Digits(text.substr(2), 16);
    }
    if (text.size() > 1 && text[0] == '0') return Digits(text.substr(1), 8);
    return Digits(text, 10);
}

// The number before a unit suffix, times the suffix's unit; a fraction is
// allowed with a suffix ("3.4M").
std::optional<std::uint64_t> Scaled(
    std::string_view text,
    std::initializer_list<std::pair<std::string_view, std::uint64_t>> units) {
    for (const auto& [suffix, unit] : units) {
        if (text.size() <= suffix.size() || !text.ends_with(suffix)) continue;
        std::string_view number = text.substr(0, text.size() - suffix.size());
        const std::size_t point = number.find('.');
        if (point == std::string_view::npos) {
            const auto whole = DecimalOrHex(number);
            if (!whole || *whole > (1u << 30)) return std::nullopt;
            return *whole * unit;
        }
        const auto whole = Digits(number.substr(0, point), 10);
        std::string_view fraction = number.substr(point + 1);
        if (!whole || *whole > (1u << 30) || fraction.empty() || fraction.size() > 6)
            return std::nullopt;
        const auto part = Digits(fraction, 10);
        if (!part) return std::nullopt;
        std::uint64_t scale = 1;
        for (std::size_t i = 0; i < fraction.size(); ++i) scale *= 10;
        if ((*part * unit) % scale != 0) return std::nullopt;
        return *whole * unit + *part * unit / scale;
    }
    return DecimalOrHex(text);
}

}  // namespace

std::uint32_t ParseNumber(std::string_view text, std::string_view what, std::uint32_t min,
                          std::uint32_t max) {
    const auto value = DecimalOrHex(text);
    if (!value && text.starts_with('-') && DecimalOrHex(text.substr(1))) {
        throw UsageError(fmt::format("{} must be {} to {}, not {}", what, min, max, text));
    }
    if (!value) {
        throw UsageError(fmt::format(
            "{} must be a number (decimal, 0x hexadecimal or 0 octal), not '{}'", what, text));
    }
    if (*value < min || *value > max) {
        throw UsageError(fmt::format("{} must be {} to {}, not {}", what, min, max, text));
    }
    return static_cast<std::uint32_t>(*value);
}

std::uint16_t ParseId(std::string_view text, std::string_view what) {
    const bool hexDigitsOnly =
        !text.empty() && text.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos;
    if (!DecimalOrHex(text) && hexDigitsOnly && text.size() <= 4) {
        throw UsageError(fmt::format(
            "{} must be a number; a hexadecimal ID takes 0x (0x{}), as every number here", what,
            Lower(text)));
    }
    return static_cast<std::uint16_t>(ParseNumber(text, what, 0, 0xFFFF));
}

std::string IdText(unsigned id) {
    return Hex(id, 4);
}

std::uint8_t ParseAddress(std::string_view text, bool all) {
    const auto value = DecimalOrHex(text);
    if (!value) {
        throw UsageError(
            fmt::format("ADDR must be a 7-bit I2C address such as 0x50, not '{}'", text));
    }
    if (*value > 0x7F && *value <= 0xFF) {
        throw UsageError(fmt::format(
            "ADDR {} is not a 7-bit I2C address; as an 8-bit address byte it would be {} "
            "(addresses here are 7-bit, {} to {})",
            text, Hex(static_cast<unsigned>(*value >> 1)), Hex(kFirstAddress), Hex(kLastAddress)));
    }
    const unsigned first = all ? 0x00 : kFirstAddress, last = all ? 0x7F : kLastAddress;
    if (*value < first || *value > last) {
        throw UsageError(fmt::format("ADDR must be a 7-bit I2C address from {} to {}{}, not {}",
                                     Hex(first), Hex(last), all ? "" : " (0x00 to 0x7f with -a)",
                                     text));
    }
    return static_cast<std::uint8_t>(*value);
}

std::uint8_t ParseByte(std::string_view text, std::string_view what) {
    return static_cast<std::uint8_t>(ParseNumber(text, what, 0, 0xFF));
}

std::vector<std::uint8_t> ParseBytes(const std::vector<std::string>& texts, std::string_view what) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(texts.size());
    for (const std::string& text : texts) bytes.push_back(ParseByte(text, what));
    return bytes;
}

std::uint32_t ParseSpeed(std::string_view text, std::string_view what, std::uint32_t min,
                         std::uint32_t max) {
    const auto hz = Scaled(
        text,
        {{"MHz", 1'000'000}, {"M", 1'000'000}, {"kHz", 1000}, {"k", 1000}, {"K", 1000}, {"Hz", 1}});
    if (!hz) {
        throw UsageError(
            fmt::format("{} must be a frequency such as 100000, 400k or 1M, not '{}'", what, text));
    }
    if (*hz < min || *hz > max) {
        throw UsageError(fmt::format("{} must be {} to {} Hz, not {}", what, min, max, text));
    }
    return static_cast<std::uint32_t>(*hz);
}

std::size_t ParseSize(std::string_view text, std::string_view what, std::size_t min,
                      std::size_t max) {
    const auto bytes = Scaled(text, {{"KiB", 1024},
                                     {"kiB", 1024},
                                     {"K", 1024},
                                     {"k", 1024},
                                     {"MiB", 1024 * 1024},
                                     {"M", 1024 * 1024}});
    if (!bytes) {
        throw UsageError(
            fmt::format("{} must be a byte count such as 32768 or 32K, not '{}'", what, text));
    }
    if (*bytes < min || *bytes > max) {
        throw UsageError(fmt::format("{} must be {} to {} bytes, not {}", what, min, max, text));
    }
    return static_cast<std::size_t>(*bytes);
}

bool ParseSwitch(std::string_view text, std::string_view what) {
    const std::string lower = Lower(text);
    for (const char* on : {"on", "1", "true", "yes", "enabled", "enable"}) {
        if (lower == on) return true;
    }
    for (const char* off : {"off", "0", "false", "no", "disabled", "disable"}) {
        if (lower == off) return false;
    }
    throw UsageError(fmt::format("{} must be on or off, not '{}'", what, text));
}

std::string Hex(unsigned value, int digits) {
    return fmt::format("0x{:0{}x}", value, digits);
}

std::string ByteList(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i) text += ' ';
        text += fmt::format("0x{:02x}", bytes[i]);
    }
    return text;
}

}  // namespace CorvaneTool
