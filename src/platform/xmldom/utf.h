// SPDX-License-Identifier: MIT
// The one place where the DOM objects convert between BSTR (wchar_t, one
// Unicode code point per unit) and the UTF-8 libxml2 speaks, and where text
// is checked against what XML 1.0 can hold.
#pragma once

#include <string>

#include "xmlutil/wintypes.h"

namespace xmlutil::xmldom {

// Appends the UTF-8 bytes of one code point (below U+110000).
void AppendUtf8(char32_t c, std::string& out);

// Decodes one UTF-8 sequence at `p` (not past `end`) and moves past it; a
// malformed or overlong sequence, a surrogate or a value beyond U+10FFFF
// yields U+FFFD and consumes one byte.
char32_t DecodeUtf8(const unsigned char*& p, const unsigned char* end);

// True for a code point XML 1.0 allows in a document (#x9, #xA, #xD,
// #x20-#xD7FF, #xE000-#xFFFD, #x10000-#x10FFFF).
bool IsXmlChar(char32_t c) noexcept;

// The text of `text` up to its first NUL (a null BSTR is "") as UTF-8.
// E_INVALIDARG when it holds a character XML 1.0 cannot hold; `utf8` is then
// unspecified. Throws std::bad_alloc.
HRESULT Utf8FromBstr(BSTR text, std::string& utf8);

// A new BSTR holding UTF-8 text (a malformed sequence becomes U+FFFD); null
// `utf8` gives "". E_OUTOFMEMORY when it cannot be allocated.
HRESULT BstrFromUtf8(const char* utf8, BSTR* out) noexcept;
HRESULT BstrFromUtf8(const std::string& utf8, BSTR* out) noexcept;

// Appends UTF-8 text (up to its NUL) to `out` as BstrFromUtf8 would decode
// it. Throws std::bad_alloc.
void AppendWideFromUtf8(const char* utf8, std::wstring& out);

}  // namespace xmlutil::xmldom
