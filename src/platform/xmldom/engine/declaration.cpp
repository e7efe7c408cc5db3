// SPDX-License-Identifier: MIT
#include "platform/xmldom/engine/declaration.h"

#include <cstring>

namespace xmlutil::xmldom {
namespace {

// Reads the XML 1.0 declaration grammar over one string, front to back.
class DeclarationReader {
  public:
    explicit DeclarationReader(std::string_view text) : text_(text) {}

    bool AtEnd() const { return pos_ == text_.size(); }

    // Skips white space; true when there was at least one character of it.
    bool SkipSpace() {
        const size_t start = pos_;
        while (pos_ < text_.size() && IsXmlSpace(text_[pos_])) ++pos_;
        return pos_ > start;
    }

    bool Peek(std::string_view word) const { return text_.substr(pos_, word.size()) == word; }

    // `name Eq quoted-value`; the value is returned without its quotes.
    bool ReadPseudoAttribute(std::string_view name, std::string& value) {
        if (!Peek(name)) return false;
        pos_ += name.size();
        SkipSpace();
        if (pos_ >= text_.size() || text_[pos_] != '=') return false;
        ++pos_;
        SkipSpace();
        if (pos_ >= text_.size()) return false;
        const char quote = text_[pos_];
        if (quote != '"' && quote != '\'') return false;
        const size_t close = text_.find(quote, pos_ + 1);
        if (close == std::string_view::npos) return false;
        value.assign(text_.substr(pos_ + 1, close - pos_ - 1));
        pos_ = close + 1;
        return true;
    }

  private:
    std::string_view text_;
    size_t pos_ = 0;
};

bool IsAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool IsAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

// VersionNum ::= '1.' [0-9]+
bool IsVersionNumber(const std::string& v) {
    if (v.size() < 3 || v[0] != '1' || v[1] != '.') return false;
    for (size_t i = 2; i < v.size(); ++i) {
        if (!IsAsciiDigit(v[i])) return false;
    }
    return true;
}

// EncName ::= [A-Za-z] ([A-Za-z0-9._] | '-')*
bool IsEncodingName(const std::string& e) {
    if (e.empty() || !IsAsciiLetter(e[0])) return false;
    for (char c : e) {
        if (!IsAsciiLetter(c) && !IsAsciiDigit(c) && c != '.' && c != '_' && c != '-') return false;
    }
    return true;
}

}  // namespace

std::optional<XmlDeclaration> ParseDeclarationData(std::string_view data) {
    DeclarationReader reader(data);
    XmlDeclaration decl;
    reader.SkipSpace();
    if (!reader.ReadPseudoAttribute("version", decl.version) || !IsVersionNumber(decl.version)) {
        return std::nullopt;
    }
    bool spaced = reader.SkipSpace();
    if (spaced && reader.Peek("encoding")) {
        if (!reader.ReadPseudoAttribute("encoding", decl.encoding) ||
            !IsEncodingName(decl.encoding)) {
            return std::nullopt;
        }
        spaced = reader.SkipSpace();
    }
    if (spaced && reader.Peek("standalone")) {
        if (!reader.ReadPseudoAttribute("standalone", decl.standalone) ||
            (decl.standalone != "yes" && decl.standalone != "no")) {
            return std::nullopt;
        }
        reader.SkipSpace();
    }
    if (!reader.AtEnd()) return std::nullopt;
    return decl;
}

std::string DeclarationDataForText(std::string_view data) {
    const std::optional<XmlDeclaration> decl = ParseDeclarationData(data);
    if (!decl || decl->encoding.empty()) return std::string(data);
    std::string text = "version=\"" + decl->version + "\"";
    if (!decl->standalone.empty()) text += " standalone=\"" + decl->standalone + "\"";
    return text;
}

InputLayout DetectInputLayout(const unsigned char* b, size_t n) {
    InputLayout layout;
    if (n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
        layout.markSize = 3;
        layout.utf8Mark = true;
        return layout;
    }
    if (n >= 2 && ((b[0] == 0xFE && b[1] == 0xFF) || (b[0] == 0xFF && b[1] == 0xFE))) {
        layout.unitSize = 2;
        layout.bigEndian = b[0] == 0xFE;
        layout.markSize = 2;
        layout.utf16Mark = true;
        return layout;
    }
    if (n < 4) return layout;
    if (b[0] == 0x00 && b[1] == 0x3C && b[2] == 0x00 && b[3] == 0x3F) {
        layout.unitSize = 2;
        layout.bigEndian = true;
    } else if (b[0] == 0x3C && b[1] == 0x00 && b[2] == 0x3F && b[3] == 0x00) {
        layout.unitSize = 2;
    } else if (b[0] == 0x00 && b[1] == 0x00 && b[2] == 0x00 && b[3] == 0x3C) {
        layout.unitSize = 4;
        layout.bigEndian = true;
    } else if (b[0] == 0x3C && b[1] == 0x00 && b[2] == 0x00 && b[3] == 0x00) {
        layout.unitSize = 4;
    }
    return layout;
}

std::optional<std::string> ReadLeadingDeclaration(const unsigned char* bytes, size_t size,
                                                  const InputLayout& layout) {
    // A declaration is short; one far longer than this is not one we keep.
    constexpr size_t kMaxDeclarationChars = 4096;
    const size_t unit = layout.unitSize;
    const size_t lowByte = layout.bigEndian ? unit - 1 : 0;
    std::string ascii;
    for (size_t pos = layout.markSize; pos + unit <= size && ascii.size() < kMaxDeclarationChars;
         pos += unit) {
        unsigned char c = bytes[pos + lowByte];
        for (size_t i = 0; i < unit; ++i) {
            if (i != lowByte && bytes[pos + i] != 0) c = 0x80;  // not an ASCII character
        }
        if (c >= 0x80 || c == 0) break;
        ascii.push_back(static_cast<char>(c));
        if (ascii.size() >= 2 && ascii.compare(ascii.size() - 2, 2, "?>") == 0) break;
    }
    constexpr std::string_view kOpen = "<?xml";
    if (ascii.size() < kOpen.size() + 3 || ascii.compare(0, kOpen.size(), kOpen) != 0 ||
        !IsXmlSpace(ascii[kOpen.size()]) || ascii.compare(ascii.size() - 2, 2, "?>") != 0) {
        return std::nullopt;
    }
    size_t first = kOpen.size();
    size_t last = ascii.size() - 2;
    while (first < last && IsXmlSpace(ascii[first])) ++first;
    while (last > first && IsXmlSpace(ascii[last - 1])) --last;
    return ascii.substr(first, last - first);
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

}  // namespace xmlutil::xmldom
