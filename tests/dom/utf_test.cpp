// SPDX-License-Identifier: MIT
// Wide text to UTF-8 and back, as every string crossing the DOM service is
// converted: checked against a plain encoder written out here.
#include "platform/xmldom/utf.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/test_util.h"

namespace {

using xmlutil::xmldom::BstrFromUtf8;
using xmlutil::xmldom::Utf8FromBstr;

bool IsXmlCharacter(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// The reference: one character at a time, no fast path.
bool ReferenceUtf8(const std::wstring& text, std::string& out) {
    out.clear();
    for (wchar_t w : text) {
        const auto c = static_cast<char32_t>(w);
        if (!IsXmlCharacter(c)) return false;
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
    return true;
}

// Runs of printable ASCII of every length around the converter's run size,
// broken by characters of each UTF-8 length and, now and then, by one XML
// cannot hold.
std::wstring RandomText(std::mt19937& rng) {
    std::wstring text;
    const int pieces = std::uniform_int_distribution<int>(0, 6)(rng);
    for (int i = 0; i < pieces; ++i) {
        const int run = std::uniform_int_distribution<int>(0, 300)(rng);
        for (int k = 0; k < run; ++k) text += static_cast<wchar_t>(0x20 + (k * 7 + i) % 0x5F);
        static const wchar_t kOthers[] = {L'\t', L'\n', 0xE9, 0x4E2D, 0xFFFD, 0x1F600, 0x7F};
        text += kOthers[std::uniform_int_distribution<int>(0, 6)(rng)];
        if (std::uniform_int_distribution<int>(0, 40)(rng) == 0) {
            static const wchar_t kRefused[] = {0x1, 0x1F, 0xFFFE, 0xD800};
            text += kRefused[std::uniform_int_distribution<int>(0, 3)(rng)];
        }
    }
    return text;
}

TEST(Utf8FromBstr, AgreesWithAPlainEncoderAndRoundTrips) {
    std::mt19937 rng(20261208);
    for (int round = 0; round < 3000; ++round) {
        const std::wstring text = RandomText(rng);
        std::string expected;
        const bool valid = ReferenceUtf8(text, expected);
        std::string got = "left over";
        const HRESULT hr = Utf8FromBstr(const_cast<wchar_t*>(text.c_str()), got);
        ASSERT_EQ(hr, valid ? S_OK : E_INVALIDARG) << round;
        if (!valid) continue;
        ASSERT_EQ(got, expected) << round;
        BSTR back = nullptr;
        ASSERT_EQ(BstrFromUtf8(got.c_str(), &back), S_OK);
        EXPECT_EQ(std::wstring(back, SysStringLen(back)), text) << round;
        SysFreeString(back);
    }
}

TEST(Utf8FromBstr, NullIsEmptyAndTheTextEndsAtItsFirstNul) {
    std::string out = "x";
    EXPECT_EQ(Utf8FromBstr(nullptr, out), S_OK);
    EXPECT_EQ(out, "");
    std::wstring text(200, L'a');
    text[150] = L'\0';
    EXPECT_EQ(Utf8FromBstr(const_cast<wchar_t*>(text.c_str()), out), S_OK);
    EXPECT_EQ(out, std::string(150, 'a'));
}

}  // namespace
