// SPDX-License-Identifier: MIT
#include "text.h"

#include <cstdint>

namespace xmlutil::tool {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsScalarValue(char32_t c) {
    return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
}

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Length of the sequence a lead byte starts and the bits it contributes;
// 0 for a byte that cannot start one.
int SequenceLength(unsigned char lead, char32_t& bits) {
    if (lead < 0x80) {
        bits = lead;
        return 1;
    }
    if ((lead & 0xE0) == 0xC0) {
        bits = lead & 0x1F;
        return 2;
    }
    if ((lead & 0xF0) == 0xE0) {
        bits = lead & 0x0F;
        return 3;
    }
    if ((lead & 0xF8) == 0xF0) {
        bits = lead & 0x07;
        return 4;
    }
    return 0;
}

// The smallest code point each sequence length may carry (shorter forms are
// overlong encodings, which UTF-8 forbids).
constexpr char32_t kMinimumForLength[] = {0, 0, 0x80, 0x800, 0x10000};

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

}  // namespace

std::optional<std::wstring> WideFromUtf8(std::string_view utf8) {
    std::wstring wide;
    wide.reserve(utf8.size());
    size_t i = 0;
    while (i < utf8.size()) {
        char32_t c = 0;
        const int length = SequenceLength(static_cast<unsigned char>(utf8[i]), c);
        if (length == 0 || utf8.size() - i < static_cast<size_t>(length)) return std::nullopt;
        for (int k = 1; k < length; ++k) {
            const auto byte = static_cast<unsigned char>(utf8[i + k]);
            if (!IsContinuation(byte)) return std::nullopt;
            c = (c << 6) | (byte & 0x3F);
        }
        if (c < kMinimumForLength[length] || !IsScalarValue(c)) return std::nullopt;
        wide += static_cast<wchar_t>(c);
        i += static_cast<size_t>(length);
    }
    return wide;
}

std::string Utf8FromWide(std::wstring_view wide) {
    std::string out;
    out.reserve(wide.size());
    for (const wchar_t unit : wide) {
        const auto c = static_cast<char32_t>(static_cast<std::uint32_t>(unit));
        AppendUtf8(IsScalarValue(c) ? c : kReplacement, out);
    }
    return out;
}

}  // namespace xmlutil::tool
