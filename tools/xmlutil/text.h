// SPDX-License-Identifier: MIT
// Conversion between the terminal's UTF-8 (arguments, output) and the wide
// strings of the library (wchar_t holds one Unicode code point here).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace xmlutil::tool {

// The code points of well-formed UTF-8; nothing for malformed input
// (truncated or overlong sequences, surrogates, values beyond U+10FFFF).
std::optional<std::wstring> WideFromUtf8(std::string_view utf8);

// UTF-8 of the wide text; a value that is not a Unicode scalar value becomes
// U+FFFD, so the output is always well-formed.
std::string Utf8FromWide(std::wstring_view wide);

}  // namespace xmlutil::tool
