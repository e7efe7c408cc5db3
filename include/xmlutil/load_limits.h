// SPDX-License-Identifier: MIT
// The limits of what Load and LoadXML accept. They are the XML parser's
// defaults, kept on purpose (lifting them would also lift its protection
// against entity amplification), plus a bound of the library's own on the
// attributes of one element. Save and GetXML refuse to write what the loader
// would refuse, so whatever the library writes it loads again.
#pragma once

#include <cstddef>

namespace xmlutil {

// One name, in bytes of UTF-8: an element or attribute name (prefix and
// local name each), a namespace prefix, a processing instruction's target,
// an entity reference. Longer names are refused by the loader; Save and
// GetXML answer HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE) and write nothing.
inline constexpr size_t kMaxNameBytes = 50000;

// One piece of text, in bytes of UTF-8 after character references are
// resolved: a text (adjacent texts load as one, so they count together), an
// attribute value or namespace URI, a comment, a CDATA section (adjacent
// sections count together), a processing instruction's data. Longer text is
// refused by the loader; Save and GetXML answer
// HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE) and write nothing.
inline constexpr size_t kMaxTextBytes = 10000000;

// Attributes of one element, namespace declarations included. The parser
// checks the attributes of a tag for duplicates (and links each behind the
// others) in time that grows with the square of their number, while it reads
// the tag: the loader refuses a start tag with more before the parser reads
// it, so that a 1 MB file loads in about a second of CPU at worst. Real
// documents stay far below it. Save and GetXML answer
// HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE) for an element with more.
inline constexpr size_t kMaxAttributesPerElement = 4000;

// Elements nested in one another. A deeper file is refused by the loader;
// Save refuses a deeper tree with E_FAIL.
inline constexpr size_t kMaxElementDepth = 257;

// Entities whose replacement text references another entity, and so on.
// Referenced from content, a chain of up to this many entities loads (the
// last holding the text), and a longer one is refused by the parser's own
// loop limit (the 18-entity chain, 19 levels counting the document).
inline constexpr size_t kMaxEntityChain = 17;
// The same, referenced from an attribute value.
inline constexpr size_t kMaxEntityChainInAttribute = 8;

}  // namespace xmlutil
