// SPDX-License-Identifier: MIT
// Wide text made printable on a byte stream. Standard output stays byte
// oriented (never switched to wide), so a caller's own printf keeps working
// beside the library's messages.
#pragma once

#include <string>

namespace xmlutil::dom {

// `text` up to its first NUL as UTF-8. A value that is no Unicode scalar value
// (a lone surrogate, anything beyond U+10FFFF) becomes U+FFFD.
std::string Utf8UpToNul(const std::wstring& text);

}  // namespace xmlutil::dom
