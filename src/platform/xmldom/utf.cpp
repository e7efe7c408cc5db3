// SPDX-License-Identifier: MIT
#include "platform/xmldom/utf.h"

#include <cstring>
#include <cwchar>
#include <limits>
#include <new>
#include <vector>

namespace xmlutil::xmldom {

void AppendUtf8(char32_t c, std::string& out) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Decodes one UTF-8 sequence at `p` (not past `end`); a malformed or overlong
// sequence yields U+FFFD and consumes one byte.
char32_t DecodeUtf8(const unsigned char*& p, const unsigned char* end) {
    const unsigned char lead = *p++;
    if (lead < 0x80) return lead;
    int extra;
    char32_t c;
    char32_t minimum;
    if ((lead & 0xE0) == 0xC0) {
        extra = 1, c = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, c = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, c = lead & 0x07, minimum = 0x10000;
    } else {
        return 0xFFFD;
    }
    if (end - p < extra) return 0xFFFD;
    for (int i = 0; i < extra; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0xFFFD;
        c = (c << 6) | (p[i] & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0xFFFD;
    p += extra;
    return c;
}

namespace {

bool IsAscii(const char* text, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0x80) != 0) return false;
    }
    return true;
}

}  // namespace

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
        AppendUtf8(c, utf8);
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
        while (p < end) wide.push_back(static_cast<wchar_t>(DecodeUtf8(p, end)));
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
    while (p < end) out.push_back(static_cast<wchar_t>(DecodeUtf8(p, end)));
}

HRESULT BstrFromUtf8(const std::string& utf8, BSTR* out) noexcept {
    return BstrFromUtf8(utf8.c_str(), out);
}

}  // namespace xmlutil::xmldom
