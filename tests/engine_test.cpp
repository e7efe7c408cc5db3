// SPDX-License-Identifier: MIT
// The XML engine under the DOM service: parsing defences and tree shape,
// serialising and saving, XPath selection.
#include "platform/xmldom/engine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace xmlutil::xmldom {
namespace {

XmlDocPtr Parse(const std::string& text, bool preserve = false) {
    ParseRequest request;
    request.data = text.data();
    request.size = text.size();
    request.preserveWhiteSpace = preserve;
    XmlDocPtr doc;
    EXPECT_EQ(ParseDocument(request, doc), S_OK) << text;
    return doc;
}

std::string Xml(xmlNode* node) {
    std::string out;
    EXPECT_EQ(SerializeToUtf8(node, out), S_OK);
    return out;
}

std::string Xml(xmlDoc* doc) {
    return Xml(reinterpret_cast<xmlNode*>(doc));
}

TEST(EngineSmoke, ParseSerializeSelect) {
    XmlDocPtr doc = Parse("<?xml version=\"1.0\"?>\n<a>\n  <b x='1'>t</b>\n  <b/>\n</a>");
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(Xml(doc.get()), "<?xml version=\"1.0\"?>\n<a><b x=\"1\">t</b><b/></a>\n");
    XPathEvaluator xpath;
    std::vector<XPathHit> hits;
    ASSERT_EQ(xpath.Select(doc.get(), nullptr, "//b", false, hits), S_OK);
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(Xml(hits[0].node), "<b x=\"1\">t</b>");
    std::string bytes;
    ASSERT_EQ(SerializeForSave(doc.get(), true, bytes), S_OK);
    EXPECT_EQ(bytes, "<?xml version=\"1.0\"?>\n<a>\n  <b x=\"1\">t</b>\n  <b/>\n</a>\n");
}

}  // namespace
}  // namespace xmlutil::xmldom
