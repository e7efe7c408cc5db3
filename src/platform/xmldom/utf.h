// SPDX-License-Identifier: MIT
// The one place where the DOM objects convert between BSTR (wchar_t, one
// Unicode code point per unit) and the UTF-8 libxml2 speaks, and where text
// is checked against what XML 1.0 can hold.
#pragma once

#include <string>
#include <string_view>

#include "xmlutil/wintypes.h"

namespace xmlutil::xmldom {

// True for a code point XML 1.0 allows in a document (#x9, #xA, #xD,
// #x20-#xD7FF, #xE000-#xFFFD, #x10000-#x10FFFF).
bool IsXmlChar(char32_t c) noexcept;

// True for a name without a colon (an NCName) as XML 1.0 fifth edition and
// Namespaces in XML define it, in UTF-8: the names the loader accepts for a
// prefix, a local name or a processing-instruction target.
bool IsNcName(std::string_view utf8) noexcept;
// True for an NCName, or two joined by one colon (prefix and local name):
// the element and attribute names the loader accepts.
bool IsQName(std::string_view utf8) noexcept;

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
