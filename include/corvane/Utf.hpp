// SPDX-License-Identifier: MIT
#pragma once

// UTF-8 and UTF-16 conversion: USB strings are UTF-16 code units, the text
// people type and systems store (sysfs, file names) is UTF-8.

#include <optional>
#include <string>
#include <string_view>

#include "corvane/Export.hpp"

namespace Corvane {

// Each malformed UTF-8 sequence (a stray or truncated byte, an overlong or
// surrogate encoding, a value above U+10FFFF) becomes U+FFFD.
CORVANE_API std::u16string Utf8ToUtf16(std::string_view utf8);
// Each lone surrogate becomes U+FFFD.
CORVANE_API std::string Utf16ToUtf8(std::u16string_view utf16);

// The same, but nothing at the first malformed sequence or lone surrogate:
// for text that must arrive as it stands (input, paths).
CORVANE_API std::optional<std::u16string> Utf8ToUtf16Strict(std::string_view utf8);
CORVANE_API std::optional<std::string> Utf16ToUtf8Strict(std::u16string_view utf16);

}  // namespace Corvane
