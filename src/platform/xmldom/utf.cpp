// SPDX-License-Identifier: MIT
#include "platform/xmldom/utf.h"

#include <cstring>
#include <cwchar>
#include <limits>
#include <new>
#include <vector>

#include "common/utf8.h"

namespace xmlutil::xmldom {

namespace {

// Decodes one UTF-8 sequence at `p` (not past `end`); a malformed sequence
// yields U+FFFD and consumes one byte.
char32_t DecodeOne(const unsigned char*& p, const unsigned char* end) {
    const utf8::Decoded decoded = utf8::Decode(p, end);
    if (decoded.length == 0) {
        ++p;
        return utf8::kReplacement;
    }
    p += decoded.length;
    return decoded.code;
}

bool IsAscii(const char* text, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0x80) != 0) return false;
    }
    return true;
}

// NameStartChar of XML 1.0 fifth edition, without the colon.
bool IsNameStartChar(char32_t c) {
    if (c < 0x80) return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    return (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
           (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) ||
           (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
           (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
           (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0xEFFFF);
}

// NameChar of XML 1.0 fifth edition, without the colon.
bool IsNameChar(char32_t c) {
    return IsNameStartChar(c) || c == '-' || c == '.' || (c >= '0' && c <= '9') || c == 0xB7 ||
           (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

}  // namespace

bool IsNcName(std::string_view utf8) noexcept {
    if (utf8.empty()) return false;
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const auto* end = p + utf8.size();
    for (bool first = true; p < end; first = false) {
        const unsigned char* at = p;
        const char32_t c = DecodeOne(p, end);
        if (c == 0xFFFD && p - at != 3) return false;  // malformed, not a U+FFFD
        if (!(first ? IsNameStartChar(c) : IsNameChar(c))) return false;
    }
    return true;
}

bool IsQName(std::string_view utf8) noexcept {
    const size_t colon = utf8.find(':');
    if (colon == std::string_view::npos) return IsNcName(utf8);
    return IsNcName(utf8.substr(0, colon)) && IsNcName(utf8.substr(colon + 1));
}

bool IsXmlChar(char32_t c) noexcept {
    if (c < 0x20) return c == 0x9 || c == 0xA || c == 0xD;
    if (c <= 0xD7FF) return true;
    if (c < 0xE000) return false;
    if (c <= 0xFFFD) return true;
    return c >= 0x10000 && c <= 0x10FFFF;
}

HRESULT Utf8FromBstr(BSTR text, std::string& utf8) {
    utf8.clear();
    if (text == nullptr) return S_OK;
    // Read up to the NUL, not from the length prefix: callers also pass plain
    // wide strings. Printable ASCII, the common case, is gathered in runs
    // and appended a run at a time; other characters are encoded one by one.
    char run[128];
    const wchar_t* p = text;
    for (;;) {
        size_t n = 0;
        while (n < sizeof run && p[n] >= 0x20 && p[n] < 0x7F) {
            run[n] = static_cast<char>(p[n]);
            ++n;
        }
        utf8.append(run, n);
        p += n;
        if (n == sizeof run) continue;
        if (*p == L'\0') return S_OK;
        const auto c = static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(*p));
        if (!IsXmlChar(c)) return E_INVALIDARG;
        utf8::Append(c, utf8);
        ++p;
    }
}

HRESULT BstrFromUtf8(const char* utf8, BSTR* out) noexcept {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    const char* source = utf8 == nullptr ? "" : utf8;
    const size_t size = std::strlen(source);
    if (size > std::numeric_limits<UINT>::max()) return E_OUTOFMEMORY;  // no BSTR holds it
    if (IsAscii(source, size)) {
        // One character per byte: written straight into the string.
        *out = SysAllocStringLen(nullptr, static_cast<UINT>(size));
        if (*out == nullptr) return E_OUTOFMEMORY;
        for (size_t i = 0; i < size; ++i) (*out)[i] = static_cast<wchar_t>(source[i]);
        return S_OK;
    }
    try {
        std::vector<wchar_t> wide;
        wide.reserve(size);
        const auto* p = reinterpret_cast<const unsigned char*>(source);
        const auto* end = p + size;
        while (p < end) wide.push_back(static_cast<wchar_t>(DecodeOne(p, end)));
        *out = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return *out == nullptr ? E_OUTOFMEMORY : S_OK;
}

void AppendWideFromUtf8(const char* utf8, std::wstring& out) {
    if (utf8 == nullptr) return;
    const size_t size = std::strlen(utf8);
    out.reserve(out.size() + size);
    const auto* p = reinterpret_cast<const unsigned char*>(utf8);
    const auto* end = p + size;
    while (p < end) {
        // ASCII, the common case, without a call per character.
        if (*p < 0x80) {
            out.push_back(static_cast<wchar_t>(*p++));
        } else {
            out.push_back(static_cast<wchar_t>(DecodeOne(p, end)));
        }
    }
}

HRESULT BstrFromUtf8(const std::string& utf8, BSTR* out) noexcept {
    return BstrFromUtf8(utf8.c_str(), out);
}

}  // namespace xmlutil::xmldom
