// SPDX-License-Identifier: MIT
// Reading the prefixes of XPath expressions, and the reasons resolution
// gives for a prefix it cannot bind.
#include "platform/xmldom/engine/xpath_namespaces.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace xmlutil::xmldom {
namespace {

using Prefixes = std::vector<std::string>;

TEST(XPathPrefixes, OnlyNamePrefixesCount) {
    const struct {
        const char* expression;
        Prefixes prefixes;
    } cases[] = {
        {"/Root/Menu", {}},
        {"/p:Root/p:Menu/q:x", {"p", "q"}},
        {"child::p:a/descendant-or-self::node()/q:*", {"p", "q"}},
        {"//a[@p:id='q:x' and \"r:y\"=.]", {"p"}},
        {"p:f($v:x, 1.5, ../b-c:d)", {"p", "v", "b-c"}},
        {"//xml:a/@xml:lang", {}},
        {"//\xE4\xB8\xAD:a", {"\xE4\xB8\xAD"}},
        {"'unclosed p:a", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PrefixesUsedIn(c.expression), c.prefixes) << c.expression;
    }
}

TEST(XPathPrefixes, ResolutionFailuresNameThePrefix) {
    const std::string xml = "<r xmlns:a='urn:1'><s xmlns:a='urn:2' xmlns:b='urn:3'/></r>";
    XmlDocPtr doc(xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr, 0));
    ASSERT_NE(doc, nullptr);
    DocumentPrefixes declared;
    declared.Read(doc.get());
    const auto document = [&declared] { return &declared; };
    PrefixBindings resolved;
    std::string reason;
    EXPECT_TRUE(ResolvePrefixes("//b:x", {}, document, resolved, reason));
    ASSERT_EQ(resolved.size(), 1u);
    EXPECT_EQ(resolved[0].uri, "urn:3");
    EXPECT_FALSE(ResolvePrefixes("//b:x/c:y", {}, document, resolved, reason));
    EXPECT_EQ(reason,
              "The namespace prefix 'c' is declared nowhere in the document and not bound by "
              "SelectionNamespaces");
    EXPECT_FALSE(ResolvePrefixes("//a:x", {}, document, resolved, reason));
    EXPECT_EQ(reason,
              "The namespace prefix 'a' is bound to different namespaces ('urn:1', 'urn:2') in "
              "the document; bind it with SelectionNamespaces");
    EXPECT_TRUE(ResolvePrefixes("//a:x", {{"a", "urn:2"}}, document, resolved, reason));
}

}  // namespace
}  // namespace xmlutil::xmldom
