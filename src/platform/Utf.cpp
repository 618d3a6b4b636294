// SPDX-License-Identifier: MIT
#include "corvane/Utf.hpp"

#include <cstdint>

namespace Corvane {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

// The code point starting at utf8[i] and its length; length 0 when the
// sequence is malformed.
std::pair<char32_t, std::size_t> DecodeUtf8(std::string_view utf8, std::size_t i) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    if (lead < 0x80) return {lead, 1};
    std::size_t length = 0;
    char32_t c = 0;
    char32_t smallest = 0;  // anything below needs fewer bytes: overlong
    if ((lead & 0xE0) == 0xC0) {
        length = 2, c = lead & 0x1Fu, smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, c = lead & 0x0Fu, smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, c = lead & 0x07u, smallest = 0x10000;
    } else {
        return {0, 0};
    }
    if (i + length > utf8.size()) return {0, 0};
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(utf8[i + k]);
        if ((next & 0xC0) != 0x80) return {0, 0};
        c = (c << 6) | (next & 0x3Fu);
    }
    if (c < smallest || c > 0x10FFFF || IsSurrogate(c)) return {0, 0};
    return {c, length};
}

void AppendUtf16(std::u16string& out, char32_t c) {
    if (c >= 0x10000) {
        c -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(c));
    }
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// One pass for both policies: `strict` gives up at the first fault, otherwise
// the fault becomes U+FFFD and the conversion goes on after its first unit.
std::optional<std::u16string> ToUtf16(std::string_view utf8, bool strict) {
    std::u16string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const auto [c, length] = DecodeUtf8(utf8, i);
        if (length == 0) {
            if (strict) return std::nullopt;
            out.push_back(static_cast<char16_t>(kReplacement));
            ++i;
            continue;
        }
        AppendUtf16(out, c);
        i += length;
    }
    return out;
}

std::optional<std::string> ToUtf8(std::u16string_view utf16, bool strict) {
    std::string out;
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        char32_t c = utf16[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (utf16[++i] - 0xDC00u);
        } else if (IsSurrogate(c)) {
            if (strict) return std::nullopt;
            c = kReplacement;
        }
        AppendUtf8(out, c);
    }
    return out;
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
    return *ToUtf16(utf8, false);
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
    return *ToUtf8(utf16, false);
}

std::optional<std::u16string> Utf8ToUtf16Strict(std::string_view utf8) {
    return ToUtf16(utf8, true);
}

std::optional<std::string> Utf16ToUtf8Strict(std::u16string_view utf16) {
    return ToUtf8(utf16, true);
}

}  // namespace Corvane
