// SPDX-License-Identifier: MIT
// The one UTF-8 codec of the library and the tool: how long a sequence is,
// which code point a sequence carries (refusing overlong forms, surrogates and
// values beyond U+10FFFF), and the bytes of a code point. Header-only and free
// of any other header of the project, so every layer (the engine, the DOM
// objects, the library's own text output, the command-line tool) can use it.
// Callers decide what a malformed sequence or a value that is no Unicode
// scalar value becomes (U+FFFD, a refusal, a failure code).
#pragma once

#include <cstddef>
#include <string>
#include <type_traits>

namespace xmlutil::utf8 {

constexpr char32_t kReplacement = 0xFFFD;

// True for a Unicode scalar value: at most U+10FFFF and no surrogate.
constexpr bool IsScalarValue(char32_t c) noexcept {
    return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
}

// The code point a wchar_t unit holds (wchar_t is 32 bits here and may be
// signed: read it as unsigned), or U+FFFD when that is no scalar value.
constexpr char32_t ScalarOrReplacement(wchar_t unit) noexcept {
    const auto c = static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(unit));
    return IsScalarValue(c) ? c : kReplacement;
}

// The length of the sequence `lead` starts: 1 to 4, or 0 for a byte that
// cannot start one (a continuation byte, 0xF8 and above).
constexpr std::size_t SequenceLength(unsigned char lead) noexcept {
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if ((lead & 0xF8) == 0xF0) return 4;
    return 0;
}

// One decoded sequence: its code point and how many bytes it took; `length`
// is 0 when the bytes do not start a well-formed sequence.
struct Decoded {
    char32_t code = 0;
    std::size_t length = 0;
};

// Decodes the sequence at `p` without reading at or past `end` (p < end).
// Truncated sequences, bad continuation bytes, overlong forms, surrogates and
// values beyond U+10FFFF are malformed.
constexpr Decoded Decode(const unsigned char* p, const unsigned char* end) noexcept {
    const std::size_t length = SequenceLength(*p);
    if (length == 0 || static_cast<std::size_t>(end - p) < length) return {};
    if (length == 1) return {*p, 1};
    constexpr char32_t kLeadBits[] = {0, 0, 0x1F, 0x0F, 0x07};
    constexpr char32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};  // shorter is overlong
    char32_t c = *p & kLeadBits[length];
    for (std::size_t i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) return {};
        c = (c << 6) | (p[i] & 0x3F);
    }
    if (c < kShortest[length] || !IsScalarValue(c)) return {};
    return {c, length};
}

// Appends the UTF-8 bytes of `c`, which must be at most U+10FFFF (the caller
// has checked or replaced it). Throws std::bad_alloc.
inline void Append(char32_t c, std::string& out) {
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

}  // namespace xmlutil::utf8
