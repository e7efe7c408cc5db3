// SPDX-License-Identifier: MIT
// The XML declaration as the engine keeps it: the data of a processing
// instruction with target "xml" (`version="1.0" encoding="gb2312"`), read from
// the start of the input when parsing and checked before it is written out.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace xmlutil::xmldom {

inline constexpr char kDeclarationTarget[] = "xml";

struct XmlDeclaration {
    std::string version;
    std::string encoding;    // empty when the declaration names none
    std::string standalone;  // empty, "yes" or "no"
};

// Parses declaration data (what stands between `<?xml` and `?>`) by the XML 1.0
// grammar: version first, then optional encoding and standalone, in that
// order. Nothing when the data is not a valid declaration.
std::optional<XmlDeclaration> ParseDeclarationData(std::string_view data);

// The declaration data as the DOM's text of a node shows it: without its
// encoding pseudo-attribute (that text is Unicode, whatever the file's bytes
// were), version and standalone kept. Data that is no valid declaration, or
// names no encoding, is returned as it is.
std::string DeclarationDataForText(std::string_view data);

// How the bytes of a document are laid out, as told by its first bytes.
struct InputLayout {
    size_t unitSize = 1;     // 1 for byte encodings, 2 for UTF-16, 4 for UTF-32
    bool bigEndian = false;  // byte order of multi-byte units
    size_t markSize = 0;     // length of the byte-order mark, 0 when none
    bool utf16Mark = false;  // FE FF or FF FE
    bool utf8Mark = false;   // EF BB BF
};

// Detects a byte-order mark or the UTF-16/UTF-32 pattern of a leading "<?" or
// "<"; anything else is taken as a byte encoding.
InputLayout DetectInputLayout(const unsigned char* bytes, size_t size);

// The data of the XML declaration the input starts with (after its byte-order
// mark), trimmed, exactly as written; nothing when it starts otherwise.
std::optional<std::string> ReadLeadingDeclaration(const unsigned char* bytes, size_t size,
                                                  const InputLayout& layout);

// True for the characters XML calls white space (S).
inline bool IsXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// ASCII case-insensitive equality (encoding names are compared this way).
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace xmlutil::xmldom
