// SPDX-License-Identifier: MIT
// Decoding GB2312 with only its non-ASCII runs through iconv must give what
// iconv gives for the whole input, however the input is cut into pieces,
// and must refuse what iconv refuses.
#include "platform/xmldom/engine/transcode.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace xmlutil::xmldom {
namespace {

// iconv over the whole input at once; nothing when it refuses it.
std::optional<std::string> WholeConversion(const std::string& from, const std::string& to,
                                           const std::string& text) {
    IconvHandle cd(to.c_str(), from.c_str());
    EXPECT_TRUE(cd.Valid());
    std::string out(text.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* outPtr = out.data();
    size_t outLeft = out.size();
    if (iconv(cd.get(), &in, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) {
        return std::nullopt;
    }
    out.resize(out.size() - outLeft);
    return out;
}

// Decodes `text` cut at the given positions; nothing when refused.
std::optional<std::string> DecodeInPieces(const std::string& text, std::vector<size_t> cuts) {
    InputDecoder decoder("GB2312");
    EXPECT_TRUE(decoder.Ready());
    cuts.push_back(text.size());
    std::string out;
    size_t from = 0;
    for (size_t cut : cuts) {
        if (!decoder.Decode(text.data() + from, cut - from, out)) return std::nullopt;
        from = cut;
    }
    if (!decoder.Complete()) return std::nullopt;
    return out;
}

// GB2312 text: ASCII runs and characters from every row of the set.
std::string MixedGb2312(std::mt19937& random, size_t units) {
    std::string text;
    std::uniform_int_distribution<int> kind(0, 3);
    std::uniform_int_distribution<int> ascii(0x20, 0x7E);
    std::uniform_int_distribution<int> row(0xB0, 0xD6);  // rows of hanzi, all 94 cells used
    std::uniform_int_distribution<int> cell(0xA1, 0xFE);
    for (size_t i = 0; i < units; ++i) {
        if (kind(random) == 0) {
            text += static_cast<char>(ascii(random));
        } else {
            text += static_cast<char>(row(random));
            text += static_cast<char>(cell(random));
        }
    }
    return text + "\xA1\xA1\xA3\xA1\xA8\xA6";  // punctuation and pinyin rows too
}

TEST(InputDecoder, AnyCutDecodesAsTheWholeInput) {
    std::mt19937 random(7);
    const std::string text = MixedGb2312(random, 40);
    const auto whole = WholeConversion("GB2312", "UTF-8", text);
    ASSERT_TRUE(whole.has_value());
    for (size_t cut = 0; cut <= text.size(); ++cut) {
        EXPECT_EQ(DecodeInPieces(text, {cut}), whole) << "cut at " << cut;
    }
    std::vector<size_t> everyByte;
    for (size_t at = 1; at < text.size(); ++at) everyByte.push_back(at);
    EXPECT_EQ(DecodeInPieces(text, everyByte), whole);

    for (int round = 0; round < 200; ++round) {
        const std::string longer = MixedGb2312(random, 300);
        std::vector<size_t> cuts;
        std::uniform_int_distribution<size_t> at(0, longer.size());
        for (int i = 0; i < 5; ++i) cuts.push_back(at(random));
        std::sort(cuts.begin(), cuts.end());
        EXPECT_EQ(DecodeInPieces(longer, cuts), WholeConversion("GB2312", "UTF-8", longer));
    }
}

// The feed decodes while libxml2 reads, where nothing may be thrown: with the
// room SpaceFor names, decoding never reallocates, whatever the piece holds
// (all ASCII, all two-byte characters, a character carried over).
TEST(InputDecoder, DecodesWithinTheRoomItNames) {
    std::mt19937 random(3);
    const size_t piece = 4096;
    std::string out;
    out.reserve(InputDecoder::SpaceFor(piece));
    const char* const room = out.data();
    InputDecoder decoder("GB2312");
    ASSERT_TRUE(decoder.Ready());
    const std::string kinds[] = {std::string(piece, 'a'), MixedGb2312(random, piece),
                                 std::string("\xD6\xD0", 2)};
    for (int round = 0; round < 50; ++round) {
        std::string text;
        while (text.size() < 3 * piece) text += kinds[random() % 3];
        std::string hanzi;
        while (hanzi.size() < piece) hanzi += "\xD6\xD0";
        text += hanzi.substr(0, piece - 1);  // a whole piece of two-byte characters, cut
        for (size_t at = 0; at < text.size(); at += piece) {
            out.clear();
            ASSERT_TRUE(decoder.Decode(text.data() + at, std::min(piece, text.size() - at), out));
            ASSERT_EQ(out.data(), room) << "reallocated in round " << round;
        }
        out.clear();
        ASSERT_TRUE(decoder.Decode("\xD0", 1, out));  // completes the cut character
        ASSERT_TRUE(decoder.Complete());
    }
}

TEST(InputDecoder, RefusesWhatGb2312DoesNotHave) {
    for (const std::string bad : {"a\xA1"
                                  "Ab",
                                  "\xFF\xA1", "x\x80y", "\xD6", "ab\xD6\xD0\xD6",
                                  "\xA1\xA1\xAA\xA1"}) {  // row 0xAA is unassigned
        EXPECT_FALSE(WholeConversion("GB2312", "UTF-8", bad).has_value()) << bad;
        for (size_t cut = 0; cut <= bad.size(); ++cut) {
            EXPECT_FALSE(DecodeInPieces(bad, {cut}).has_value()) << bad << " cut at " << cut;
        }
    }
}

// The names taken as GB2312 must really keep ASCII apart: no byte below
// 0x80 may end a two-byte character, and ASCII must decode as itself.
TEST(InputDecoder, EveryNameTakenKeepsAsciiApartInIconv) {
    const std::vector<std::string> names = {"GB2312", "gb2312", "EUC-CN", "euccn", "CSGB2312"};
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(KeepsAsciiApart(name));
        std::string ascii;
        for (int c = 1; c < 0x80; ++c) ascii += static_cast<char>(c);
        EXPECT_EQ(WholeConversion(name, "UTF-8", ascii), ascii);
        for (int lead = 0x80; lead <= 0xFF; ++lead) {
            for (int trail = 0; trail < 0x80; ++trail) {
                const std::string pair = {static_cast<char>(lead), static_cast<char>(trail)};
                ASSERT_FALSE(WholeConversion(name, "UTF-8", pair).has_value())
                    << std::hex << lead << " " << trail;
            }
        }
    }
    // Encodings whose second bytes may be ASCII, the raw set, and shift
    // states are left to the plain path.
    for (const char* other : {"GBK", "GB18030", "BIG5", "SHIFT_JIS", "GB_2312-80", "ISO-2022-CN"}) {
        EXPECT_FALSE(KeepsAsciiApart(other)) << other;
    }
}

TEST(InputDecoder, RunLengthsMatchAByteByByteCount) {
    std::mt19937 random(11);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> high(0, 40);
    for (int round = 0; round < 500; ++round) {
        std::string bytes;
        const size_t size = static_cast<size_t>(round % 37);
        for (size_t i = 0; i < size; ++i) {
            bytes +=
                static_cast<char>(high(random) == 0 ? byte(random) | 0x80 : byte(random) & 0x7F);
        }
        size_t ascii = 0;
        while (ascii < size && static_cast<unsigned char>(bytes[ascii]) < 0x80) ++ascii;
        EXPECT_EQ(AsciiRunLength(bytes.data(), size), ascii) << round;
        size_t other = 0;
        while (other + ascii < size && static_cast<unsigned char>(bytes[ascii + other]) >= 0x80)
            ++other;
        EXPECT_EQ(NonAsciiRunLength(bytes.data() + ascii, size - ascii), other) << round;
    }
}

}  // namespace
}  // namespace xmlutil::xmldom
