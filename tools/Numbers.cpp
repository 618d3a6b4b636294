#include "Numbers.hpp"

#include <fmt/format.h>

#include <cctype>
#include <charconv>
#include <optional>

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

std::optional<std::uint64_t> DecimalOrHex(std::string_view text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        return Digits(text.substr(2), 16);
    }
    return Digits(text, 10);
}

}  // namespace

std::uint32_t ParseNumber(std::string_view text, std::string_view what, std::uint32_t min,
                          std::uint32_t max) {
    const auto value = DecimalOrHex(text);
    if (!value) {
        throw UsageError(fmt::format(
            "{} must be a number (decimal, or hexadecimal with 0x), not '{}'", what, text));
    }
    if (*value < min || *value > max) {
        throw UsageError(fmt::format("{} must be {} to {}, not {}", what, min, max, text));
    }
    return static_cast<std::uint32_t>(*value);
}

std::uint16_t ParseHexId(std::string_view text, std::string_view what) {
    std::string_view digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.remove_prefix(2);
    }
    const auto value = digits.size() <= 4 ? Digits(digits, 16) : std::nullopt;
    if (!value) {
        throw UsageError(
            fmt::format("{} must be four hexadecimal digits (e.g. 3a7c), not '{}'", what, text));
    }
    return static_cast<std::uint16_t>(*value);
}

std::uint8_t ParseAddress(std::string_view text) {
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
    if (*value < kFirstAddress || *value > kLastAddress) {
        throw UsageError(fmt::format("ADDR must be a 7-bit I2C address from {} to {}, not {}",
                                     Hex(kFirstAddress), Hex(kLastAddress), text));
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

std::size_t ParseSize(std::string_view text, std::string_view what, std::size_t min,
                      std::size_t max) {
    std::string_view number = text;
    std::uint64_t unit = 1;
    for (std::string_view suffix : {"KiB", "kiB", "K", "k"}) {
        if (number.size() > suffix.size() && number.ends_with(suffix)) {
            number.remove_suffix(suffix.size());
            unit = 1024;
            break;
        }
    }
    const auto value = DecimalOrHex(number);
    if (!value) {
        throw UsageError(
            fmt::format("{} must be a byte count such as 32768 or 32K, not '{}'", what, text));
    }
    const std::uint64_t bytes = *value * unit;
    if (*value > (1u << 30) || bytes < min || bytes > max) {
        throw UsageError(fmt::format("{} must be {} to {} bytes, not {}", what, min, max, text));
    }
    return static_cast<std::size_t>(bytes);
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

std::u16string Utf16(std::string_view utf8) {
    std::u16string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const int length = lead < 0x80           ? 1
                           : (lead >> 5) == 0x6  ? 2
                           : (lead >> 4) == 0xE  ? 3
                           : (lead >> 3) == 0x1E ? 4
                                                 : 0;
        if (length == 0 || i + static_cast<std::size_t>(length) > utf8.size()) {
            throw UsageError("the text is not valid UTF-8");
        }
        std::uint32_t code = length == 1 ? lead : lead & (0x7Fu >> length);
        for (int k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(utf8[i + static_cast<std::size_t>(k)]);
            if ((next & 0xC0) != 0x80) throw UsageError("the text is not valid UTF-8");
            code = (code << 6) | (next & 0x3Fu);
        }
        i += static_cast<std::size_t>(length);
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
    }
    return out;
}

std::string Utf8(std::u16string_view utf16) {
    std::string out;
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        std::uint32_t code = utf16[i];
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (utf16[i + 1] - 0xDC00u);
            ++i;
        } else if (code >= 0xD800 && code < 0xE000) {
            code = 0xFFFD;  // a lone surrogate
        }
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (code >> 18)));
            out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return out;
}

}  // namespace CorvaneTool
