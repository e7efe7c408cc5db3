// SPDX-License-Identifier: MIT
// Wide text made printable, and the library's messages on standard output.
#pragma once

#include <string>

namespace xmlutil::dom {

// `text` up to its first NUL as UTF-8. A value that is no Unicode scalar value
// (a lone surrogate, anything beyond U+10FFFF) becomes U+FFFD.
std::string Utf8UpToNul(const std::wstring& text);

// Writes `message` (up to its first NUL) to standard output the way the
// caller's own output uses it, so that neither the message nor the caller's
// later output is lost: as wide text once the caller has written wide text
// (a byte write would then be dropped), as UTF-8 through stdio once it has
// written bytes, and straight to the descriptor while it has written
// nothing, which leaves the stream free for whichever kind comes first.
void PrintToStdout(const std::wstring& message);

}  // namespace xmlutil::dom
