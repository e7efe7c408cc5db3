// SPDX-License-Identifier: MIT
// Node text: reading a node's text (with or without its base name), the texts
// of every match, and replacing a node's content by text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fake_dom.h"
#include "support/private_access.h"
#include "support/test_util.h"

namespace {

using xmlutil::test::XmlTest;

HRESULT Recorded(const CXMLUtil& util) {
    return CXMLUtilTestAccess::RecordedResult(util);
}

class NodeValueTest : public XmlTest {};

TEST_F(NodeValueTest, ElementTextIncludesEveryDescendantsText) {
    ASSERT_NO_FATAL_FAILURE(Load(L"<r>one <b>two <i>2</i></b> three<!--no--><?pi no?></r>"));
    std::wstring text = L"old";
    EXPECT_HR(util.GetNodeValue(Node(L"/r"), text), S_OK);
    EXPECT_EQ(text, L"one two 2 three");

    std::wstring byPath;
    EXPECT_HR(util.GetNodeValue(std::wstring(L"/r/b"), byPath), S_OK);
    EXPECT_EQ(byPath, L"two 2");
}

TEST_F(NodeValueTest, ElementWithoutTextReadsEmptyAndSucceeds) {
    ASSERT_NO_FATAL_FAILURE(Load(L"<r><e/><f a='1'><g/></f></r>"));
    std::wstring text = L"stale";
    EXPECT_HR(util.GetNodeValue(Node(L"/r/e"), text), S_OK);
    EXPECT_EQ(text, L"");
    text = L"stale";
    EXPECT_HR(util.GetNodeValue(Node(L"/r/f"), text), S_OK);
    EXPECT_EQ(text, L"");
    EXPECT_EQ(util.IsError(), 0);
}

TEST_F(NodeValueTest, NameFormGivesBaseNameWithoutPrefix) {
    ASSERT_NO_FATAL_FAILURE(Load(L"<r xmlns:p='urn:p'><p:item>x<p:sub>y</p:sub></p:item></r>"));
    std::wstring name = L"old";
    std::wstring text = L"old";
    EXPECT_HR(util.GetNodeValue(Node(L"/r/*"), name, text), S_OK);
    EXPECT_EQ(name, L"item");
    EXPECT_EQ(text, L"xy");
}

TEST_F(NodeValueTest, ReadFailuresFromTheDomServiceArePassedOn) {
    fake_dom::Node node;
    node.textResult = E_OUTOFMEMORY;
    std::wstring text = L"stale";
    EXPECT_HR(util.GetNodeValue(&node, text), E_OUTOFMEMORY);
    EXPECT_EQ(text, L"") << "a failed read leaves the text empty";
    EXPECT_HR(Recorded(util), E_OUTOFMEMORY);

    // Base name failing: the name is emptied and the text is not touched.
    node.baseNameResult = E_FAIL;
    std::wstring name = L"stale";
    text = L"untouched";
    EXPECT_HR(util.GetNodeValue(&node, name, text), E_FAIL);
    EXPECT_EQ(name, L"");
    EXPECT_EQ(text, L"untouched");

    // Base name read, text failing: the name stays filled.
    node.baseNameResult = S_OK;
    node.baseName = L"item";
    EXPECT_HR(util.GetNodeValue(&node, name, text), E_OUTOFMEMORY);
    EXPECT_EQ(name, L"item");
    EXPECT_EQ(text, L"");

    // A null string handed over with S_OK reads as empty.
    node.textResult = S_OK;
    node.baseName = nullptr;
    node.text = nullptr;
    name = text = L"stale";
    EXPECT_HR(util.GetNodeValue(&node, name, text), S_OK);
    EXPECT_EQ(name, L"");
    EXPECT_EQ(text, L"");
    EXPECT_EQ(node.refs(), 0) << "every reference taken is released";
}

class NodeValuesTest : public XmlTest {};

TEST_F(NodeValuesTest, CollectsEveryMatchInDocumentOrderReplacingTheList) {
    ASSERT_NO_FATAL_FAILURE(Load(L"<r><a>1</a><b><a>2</a></b><a/><a>4</a></r>"));
    std::vector<std::wstring> texts{L"old", L"entries"};
    EXPECT_HR(util.GetNodeValues(L"//a", texts), S_OK);
    EXPECT_EQ(texts, (std::vector<std::wstring>{L"1", L"2", L"", L"4"}));
}

TEST_F(NodeValuesTest, NoMatchSucceedsWithAnEmptiedList) {
    ASSERT_NO_FATAL_FAILURE(Load(L"<r><a>1</a></r>"));
    std::vector<std::wstring> texts{L"old"};
    EXPECT_HR(util.GetNodeValues(L"//missing", texts), S_OK);
    EXPECT_TRUE(texts.empty());
    EXPECT_EQ(util.IsError(), 0);
}

class SetNodeValueTest : public XmlTest {};

TEST_F(SetNodeValueTest, ReplacesTheWholeContentAndReadsBack) {
    ASSERT_NO_FATAL_FAILURE(Load(L"<r><a>x<b>y</b><!--c--></a></r>"));
    const CComPtr<IXMLDOMNode> a = Node(L"/r/a");
    EXPECT_HR(util.SetNodeValue(a, L"new <&> text \U0001F600"), S_OK);
    std::wstring text;
    EXPECT_HR(util.GetNodeValue(a, text), S_OK);
    EXPECT_EQ(text, L"new <&> text \U0001F600") << "text is stored literally, not parsed";
    long count = -1;
    EXPECT_HR(util.GetChildNodeCount(a, count), S_OK);
    EXPECT_EQ(count, 1) << "the old children are gone";

    EXPECT_HR(util.SetNodeValue(a, L""), S_OK);
    EXPECT_HR(util.GetNodeValue(a, text), S_OK);
    EXPECT_EQ(text, L"");
}

TEST_F(SetNodeValueTest, PathFormWritesOnlyTheFirstMatch) {
    ASSERT_NO_FATAL_FAILURE(Load(L"<r><a>1</a><a>2</a></r>"));
    EXPECT_HR(util.SetNodeValue(std::wstring(L"/r/a"), std::wstring(L"9")), S_OK);
    std::vector<std::wstring> texts;
    EXPECT_HR(util.GetNodeValues(L"/r/a", texts), S_OK);
    EXPECT_EQ(texts, (std::vector<std::wstring>{L"9", L"2"}));
}

TEST_F(SetNodeValueTest, TextEndsAtAnEmbeddedNul) {
    ASSERT_NO_FATAL_FAILURE(Load(L"<r>old</r>"));
    EXPECT_HR(util.SetNodeValue(Node(L"/r"), std::wstring(L"ab\0cd", 5)), S_OK);
    std::wstring text;
    EXPECT_HR(util.GetNodeValue(std::wstring(L"/r"), text), S_OK);
    EXPECT_EQ(text, L"ab");
}

TEST_F(SetNodeValueTest, TextXmlCannotHoldIsRefusedAndNothingChanges) {
    ASSERT_NO_FATAL_FAILURE(Load(L"<r><a>keep<b/></a></r>"));
    std::wstring before;
    ASSERT_HR(util.GetXML(before), S_OK);
    for (const std::wstring& bad : {std::wstring(L"bell\u0007"), std::wstring(L"x\x0B"),
                                    std::wstring(1, static_cast<wchar_t>(0xD800)),
                                    std::wstring(1, static_cast<wchar_t>(0xFFFE))}) {
        EXPECT_HR(util.SetNodeValue(Node(L"/r/a"), bad), E_INVALIDARG);
        EXPECT_HR(Recorded(util), E_INVALIDARG);
        EXPECT_HR(util.SetNodeValue(std::wstring(L"/r/a"), bad), E_INVALIDARG);
    }
    std::wstring after;
    ASSERT_HR(util.GetXML(after), S_OK);
    EXPECT_EQ(after, before);
}

}  // namespace
