// SPDX-License-Identifier: MIT
// The attribute bound read ahead of the parser: only attributes of start
// tags count, whatever else holds '=' signs and however the input is cut.
#include "platform/xmldom/engine/attribute_bound.h"

#include <gtest/gtest.h>

#include <string>

#include "xmlutil/load_limits.h"

namespace xmlutil::xmldom {
namespace {

// A start tag with `count` attributes.
std::string Tag(size_t count) {
    std::string tag = "<e";
    for (size_t i = 0; i < count; ++i) tag += " a" + std::to_string(i) + "=\"v\"";
    return tag + ">";
}

// Scanned whole and byte by byte: both answers must agree.
bool WithinBound(const std::string& markup) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(markup.data());
    AttributeBound whole;
    AttributeBound piecewise;
    bool piecesOk = true;
    for (size_t i = 0; i < markup.size(); ++i) piecesOk = piecewise.Scan(bytes + i, 1) && piecesOk;
    const bool wholeOk = whole.Scan(bytes, markup.size());
    EXPECT_EQ(wholeOk, piecesOk) << markup.substr(0, 80);
    return wholeOk;
}

TEST(AttributeBound, CountsOnlyTheAttributesOfEachStartTag) {
    const std::string full = Tag(kMaxAttributesPerElement);
    const std::string over = Tag(kMaxAttributesPerElement + 1);
    EXPECT_TRUE(WithinBound(full + full + "</e></e>"));  // per tag, not per document
    EXPECT_FALSE(WithinBound(over));
    // '=' in values, text, comments, CDATA, instructions, end tags and the
    // document type are no attributes; a quoted '>' does not end the tag.
    const std::string equals(kMaxAttributesPerElement + 1, '=');
    const std::string elsewhere[] = {
        "<e a=\"" + equals + "\" b='>" + equals + "'/>",
        "<e>" + equals + "</e>",
        "<!--" + equals + "--->" + full,
        "<e><![CDATA[" + equals + "]]]></e>",
        "<?pi " + equals +
            "?"
            "?>" +
            full,
        "<!DOCTYPE e [<!ENTITY x \"" + equals + "]>\"><!--]>" + equals + "--><?p ]>" + equals +
            "?>]>" + full,
    };
    for (const std::string& markup : elsewhere) EXPECT_TRUE(WithinBound(markup));
    // A quoted value does not hide the attributes after it.
    EXPECT_FALSE(WithinBound("<e z='>'" + over.substr(2)));
    EXPECT_FALSE(WithinBound("<!-- c -->" + over));
}

// Tags too short to hold more attributes than allowed are passed over
// unread; the tightest one that can (four bytes an attribute, markup right
// after it) is still counted.
TEST(AttributeBound, TheTightestTagOverTheBoundIsCounted) {
    std::string tight = "<e";
    for (size_t i = 0; i <= kMaxAttributesPerElement; ++i) tight += "a=''";
    EXPECT_FALSE(WithinBound(tight + "/><next/>"));
}

TEST(AttributeBound, ReadsUtf16ByCodeUnits) {
    const std::string over = Tag(kMaxAttributesPerElement + 1);
    std::string little, big;
    for (const char c : over) {
        little += std::string{c, '\0'};
        big += std::string{'\0', c};
    }
    AttributeBound littleBound(2, false), bigBound(2, true);
    EXPECT_FALSE(
        littleBound.Scan(reinterpret_cast<const unsigned char*>(little.data()), little.size()));
    EXPECT_FALSE(bigBound.Scan(reinterpret_cast<const unsigned char*>(big.data()), big.size()));
    // A unit whose other byte is ASCII is no markup: U+3D3C is neither '<' nor '='.
    const std::string notMarkup = std::string(kMaxAttributesPerElement + 2, '\x3d') + "\x3c";
    EXPECT_TRUE(AttributeBound(2, false).Scan(
        reinterpret_cast<const unsigned char*>(notMarkup.data()), notMarkup.size() & ~size_t{1}));
}

}  // namespace
}  // namespace xmlutil::xmldom
