// SPDX-License-Identifier: MIT
// Named child lookup: the first direct child whose name without prefix equals
// the given name, and reading or writing that child's text.
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

class ChildLookupTest : public XmlTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(
            Load(L"<r xmlns:p='urn:p'><s>lead<a>1</a><b>2</b><a>3</a><p:q>4</p:q>"
                 L"<c><d>deep</d></c><n>x<i>y</i>z</n></s></r>"));
        parent = Node(L"/r/s");
    }
    std::vector<std::wstring> Texts(const wchar_t* xpath) {
        std::vector<std::wstring> texts;
        EXPECT_HR(util.GetNodeValues(xpath, texts), S_OK);
        return texts;
    }
    CComPtr<IXMLDOMNode> parent;
};

TEST_F(ChildLookupTest, FirstMatchInDocumentOrderWins) {
    const CComPtr<IXMLDOMNode> a = util.GetChildNode(parent, L"a");
    ASSERT_TRUE(a);
    EXPECT_TRUE(a.IsEqualObject(Node(L"/r/s/a[1]")));
    EXPECT_HR(Recorded(util), S_OK);

    std::wstring value;
    EXPECT_HR(util.GetChildNodeValue(parent, L"a", value), S_OK);
    EXPECT_EQ(value, L"1");

    EXPECT_HR(util.SetChildNodeVaule(parent, L"a", L"one"), S_OK);
    EXPECT_EQ(Texts(L"/r/s/a"), (std::vector<std::wstring>{L"one", L"3"}));

    EXPECT_HR(util.GetChildNodeValue(parent, L"n", value), S_OK);
    EXPECT_EQ(value, L"xyz") << "the child's whole text, nested elements included";
}

TEST_F(ChildLookupTest, NamesMatchWholeCaseSensitiveAndWithoutPrefix) {
    EXPECT_TRUE(util.GetChildNode(parent, L"q")) << "p:q is found as q";
    struct Miss {
        const wchar_t* why;
        std::wstring name;
    };
    for (const Miss& miss : {Miss{L"prefixed name", L"p:q"}, Miss{L"other case", L"A"},
                             Miss{L"grandchild", L"d"}, Miss{L"prefix of a name", L"b2"},
                             Miss{L"text node", L"text"}, Miss{L"embedded NUL", {L"a\0x", 3}}}) {
        SCOPED_TRACE(miss.why);
        EXPECT_FALSE(util.GetChildNode(parent, miss.name));
        EXPECT_HR(Recorded(util), S_FALSE);
        EXPECT_EQ(util.IsError(), 1);
    }
}

// Text, comment and CDATA children have the empty base name: the empty name
// finds the first of them, like any other name.
TEST_F(ChildLookupTest, EmptyNameFindsTheFirstNamelessChild) {
    const CComPtr<IXMLDOMNode> text = util.GetChildNode(parent, L"");
    ASSERT_TRUE(text);
    EXPECT_TRUE(text.IsEqualObject(Node(L"/r/s/text()")));
    EXPECT_EQ(util.IsError(), 0);
    std::wstring value;
    EXPECT_HR(util.GetChildNodeValue(parent, L"", value), S_OK);
    EXPECT_EQ(value, L"lead");
    EXPECT_HR(util.SetChildNodeVaule(parent, L"", L"new lead"), S_OK);
    EXPECT_EQ(Texts(L"/r/s/text()"), std::vector<std::wstring>{L"new lead"});
    EXPECT_FALSE(util.GetChildNode(Node(L"/r/s/c"), L"")) << "c holds only an element";
    EXPECT_HR(util.GetChildNodeValue(Node(L"/r/s/c"), L"", value), S_FALSE);
    EXPECT_EQ(value, L"lead");
}

TEST_F(ChildLookupTest, MissingChildKeepsTheValueAndCreatesNothing) {
    long before = 0;
    ASSERT_HR(util.GetChildNodeCount(parent, before), S_OK);

    std::wstring value = L"kept";
    EXPECT_HR(util.GetChildNodeValue(parent, L"zz", value), S_FALSE);
    EXPECT_EQ(value, L"kept");
    EXPECT_HR(util.SetChildNodeVaule(parent, L"zz", L"new"), S_FALSE);
    EXPECT_HR(util.SetChildNodeVaule(parent, L"A", L"new"), S_FALSE);
    EXPECT_EQ(Texts(L"/r/s/text()"), std::vector<std::wstring>{L"lead"});

    long after = 0;
    ASSERT_HR(util.GetChildNodeCount(parent, after), S_OK);
    EXPECT_EQ(after, before);
    EXPECT_FALSE(util.GetChildNode(Node(L"/r/s/b/text()"), L"b")) << "a text node has no children";
    EXPECT_HR(Recorded(util), S_FALSE);
}

TEST_F(ChildLookupTest, RefusedTextIsPassedOnAndTheChildKeepsItsText) {
    EXPECT_HR(util.SetChildNodeVaule(parent, L"b", std::wstring(L"\u0001")), E_INVALIDARG);
    EXPECT_HR(Recorded(util), E_INVALIDARG);
    EXPECT_EQ(Texts(L"/r/s/b"), std::vector<std::wstring>{L"2"});
}

// Answers a real document never gives, from scripted stand-ins.
class ChildLookupFaultTest : public XmlTest {};

TEST_F(ChildLookupFaultTest, UnreadableChildrenArePassedOverWithoutBeingRecorded) {
    fake_dom::Node unreadableName, wanted, later;
    unreadableName.baseNameResult = E_FAIL;
    wanted.baseName = L"a";
    wanted.text = L"found";
    later.baseName = L"a";
    fake_dom::List list;
    list.items = {&later, &unreadableName, &wanted, &later};
    list.failing = {0};  // the first item cannot be read at all
    fake_dom::Node parent;
    parent.children = &list;

    std::wstring value;
    EXPECT_HR(util.GetChildNodeValue(&parent, L"a", value), S_OK);
    EXPECT_EQ(value, L"found");
    EXPECT_EQ(util.GetChildNode(&parent, L"a").p, &wanted);
    EXPECT_EQ(wanted.refs() + later.refs() + unreadableName.refs() + list.refs(), 0);
}

TEST_F(ChildLookupFaultTest, ListFailuresLeaveAnEmptyHandleAndTheValueKept) {
    fake_dom::List list;
    fake_dom::Node parent;
    parent.children = &list;
    parent.childNodesResult = E_OUTOFMEMORY;
    std::wstring value = L"kept";
    EXPECT_HR(util.GetChildNodeValue(&parent, L"a", value), E_OUTOFMEMORY);
    EXPECT_EQ(value, L"kept");

    parent.childNodesResult = S_OK;
    list.lengthResult = E_FAIL;
    EXPECT_FALSE(util.GetChildNode(&parent, L"a"));
    EXPECT_HR(Recorded(util), E_FAIL);
    EXPECT_HR(util.SetChildNodeVaule(&parent, L"a", L"v"), E_FAIL);
}

}  // namespace
