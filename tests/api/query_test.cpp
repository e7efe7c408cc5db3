// SPDX-License-Identifier: MIT
// Document access and path queries: the root element, the document handle,
// and selecting one or every node by expression, with and without context.
#include <memory>
#include <string>
#include <vector>

#include "support/private_access.h"
#include "support/scripted_dom.h"
#include "support/test_util.h"

namespace {

using xmlutil::test::XmlTest;

std::wstring AttrOf(IXMLDOMNode* node, const wchar_t* name) {
    CComPtr<IXMLDOMElement> element;
    if (node->QueryInterface(IID_IXMLDOMElement, reinterpret_cast<void**>(&element)) != S_OK) {
        return L"<not an element>";
    }
    BSTR attrName = SysAllocString(name);
    VARIANT value;
    VariantInit(&value);
    element->getAttribute(attrName, &value);
    SysFreeString(attrName);
    std::wstring result = value.vt == VT_BSTR && value.bstrVal != nullptr ? value.bstrVal : L"";
    VariantClear(&value);
    return result;
}

std::wstring NameOf(IXMLDOMNode* node) {
    BSTR name = nullptr;
    EXPECT_HR(node->get_nodeName(&name), S_OK);
    std::wstring result = name != nullptr ? name : L"";
    SysFreeString(name);
    return result;
}

const wchar_t* const kMenus =
    L"<Root>"
    L"<Menu id=\"m1\"><Item id=\"i1\"/><Item id=\"i2\"/></Menu>"
    L"<Menu id=\"m2\"><Item id=\"i3\"/></Menu>"
    L"</Root>";

class QueryTest : public XmlTest {
  protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(Load(kMenus)); }
    CComPtr<IXMLDOMNode> Stale() { return Node(L"/Root"); }
};

// ---- GetSingleNode ----------------------------------------------------------------

TEST_F(QueryTest, SingleNodeIsTheFirstMatch) {
    CComPtr<IXMLDOMNode> node;
    EXPECT_HR(util.GetSingleNode(L"/Root/Menu", node), S_OK);
    ASSERT_TRUE(node);
    EXPECT_EQ(AttrOf(node, L"id"), L"m1");

    // From the document, a relative path selects what the absolute one does.
    CComPtr<IXMLDOMNode> relative;
    EXPECT_HR(util.GetSingleNode(L"Root/Menu", relative), S_OK);
    EXPECT_EQ(relative, node.p);
    EXPECT_HR(util.GetSingleNode(L"//Item[@id='i3']", node), S_OK);
    EXPECT_EQ(AttrOf(node, L"id"), L"i3");
}

TEST_F(QueryTest, SingleNodeFromAContext) {
    CComPtr<IXMLDOMNode> second = Node(L"/Root/Menu[2]");
    CComPtr<IXMLDOMNode> item;
    EXPECT_HR(util.GetSingleNode(L"Item", item, second), S_OK);
    EXPECT_EQ(AttrOf(item, L"id"), L"i3");
    // An absolute path ignores the context.
    EXPECT_HR(util.GetSingleNode(L"/Root/Menu/Item", item, second), S_OK);
    EXPECT_EQ(AttrOf(item, L"id"), L"i1");
    EXPECT_HR(util.GetSingleNode(L"..", item, second), S_OK);
    EXPECT_EQ(NameOf(item), L"Root");
}

TEST_F(QueryTest, SingleNodeMissOrMalformedEmptiesTheHandle) {
    CComPtr<IXMLDOMNode> node = Stale();
    EXPECT_HR(util.GetSingleNode(L"/Root/Nothing", node), S_FALSE);
    EXPECT_FALSE(node);
    EXPECT_EQ(util.IsError(), 1);

    node = Stale();
    const long hr = util.GetSingleNode(L"/Root/[", node);
    EXPECT_LT(hr, 0);
    EXPECT_FALSE(node);
    EXPECT_HR(CXMLUtilTestAccess::RecordedResult(util), hr);
    // An expression that yields no node-set is refused too.
    EXPECT_LT(util.GetSingleNode(L"count(//Item)", node), 0);

    // The next success clears the error.
    EXPECT_HR(util.GetSingleNode(L"/Root", node), S_OK);
    EXPECT_EQ(util.IsError(), 0);
}

TEST_F(QueryTest, EmbeddedNulEndsTheExpression) {
    CComPtr<IXMLDOMNode> node;
    EXPECT_HR(util.GetSingleNode(std::wstring(L"/Root/Menu\0garbage[", 19), node), S_OK);
    EXPECT_EQ(AttrOf(node, L"id"), L"m1");
}

// ---- GetNodes / GetNodesCount ---------------------------------------------------------

TEST_F(QueryTest, NodesInDocumentOrder) {
    std::vector<CComPtr<IXMLDOMNode>> nodes{Stale(), Stale()};
    EXPECT_HR(util.GetNodes(L"//Item", nodes), S_OK);
    ASSERT_EQ(nodes.size(), 3u);
    EXPECT_EQ(AttrOf(nodes[0], L"id"), L"i1");
    EXPECT_EQ(AttrOf(nodes[1], L"id"), L"i2");
    EXPECT_EQ(AttrOf(nodes[2], L"id"), L"i3");

    EXPECT_HR(util.GetNodes(L"Item", nodes, Node(L"/Root/Menu[1]")), S_OK);
    ASSERT_EQ(nodes.size(), 2u);
    EXPECT_EQ(AttrOf(nodes[1], L"id"), L"i2");
}

TEST_F(QueryTest, NoMatchClearsButMalformedKeeps) {
    std::vector<CComPtr<IXMLDOMNode>> nodes{Stale()};
    EXPECT_HR(util.GetNodes(L"/Root/Nothing", nodes), S_OK);
    EXPECT_TRUE(nodes.empty());
    EXPECT_EQ(util.IsError(), 0);

    nodes.push_back(Stale());
    EXPECT_LT(util.GetNodes(L"//Item[", nodes), 0);
    ASSERT_EQ(nodes.size(), 1u);
    EXPECT_EQ(NameOf(nodes[0]), L"Root");
    EXPECT_LT(util.GetNodes(L"string(/Root)", nodes), 0);
    EXPECT_EQ(nodes.size(), 1u);
}

// The count is taken without listing the nodes: it must still be the number
// GetNodes lists, namespace-axis hits, unions and sorted results included.
TEST_F(QueryTest, CountIsWhatGetNodesLists) {
    CXMLUtil doc;
    ASSERT_HR(doc.LoadXML(L"<r xmlns:p='urn:p'><a id='1'><b/></a><a id='2'/><b/></r>"), S_OK);
    for (const wchar_t* path : {L"//a", L"//b | //a", L"//namespace::*", L"//@id", L"/r/*[2]",
                                L"//b/ancestor-or-self::*"}) {
        std::vector<CComPtr<IXMLDOMNode>> nodes;
        long count = -1;
        ASSERT_HR(doc.GetNodes(path, nodes), S_OK) << path;
        ASSERT_HR(doc.GetNodesCount(path, count), S_OK) << path;
        EXPECT_EQ(count, static_cast<long>(nodes.size())) << path;
    }
}

TEST_F(QueryTest, CountMatchesWithoutTouchingOnFailure) {
    long count = -1;
    EXPECT_HR(util.GetNodesCount(L"//Item", count), S_OK);
    EXPECT_EQ(count, 3);
    EXPECT_HR(util.GetNodesCount(L"/Root/Nothing", count), S_OK);
    EXPECT_EQ(count, 0);
    count = 42;
    EXPECT_LT(util.GetNodesCount(L"//Item[", count), 0);
    EXPECT_EQ(count, 42);
    EXPECT_EQ(util.IsError(), 1);
}

// Many matches: every one is handed out, once, in order (an off-by-one or a
// skipped index shows up here, as would a walk that restarts per item).
TEST(QueryMany, TenThousandMatchesInOrder) {
    std::wstring xml = L"<r>";
    for (int i = 0; i < 10000; ++i) xml += L"<e n=\"" + std::to_wstring(i) + L"\"/>";
    xml += L"</r>";
    CXMLUtil util;
    ASSERT_HR(util.LoadXML(xml.c_str()), S_OK);
    std::vector<CComPtr<IXMLDOMNode>> nodes;
    ASSERT_HR(util.GetNodes(L"/r/e", nodes), S_OK);
    ASSERT_EQ(nodes.size(), 10000u);
    for (int i : {0, 1, 4999, 9998, 9999}) {
        EXPECT_EQ(AttrOf(nodes[static_cast<size_t>(i)], L"n"), std::to_wstring(i));
    }
    long count = 0;
    EXPECT_HR(util.GetNodesCount(L"/r/e[@n >= 5000]", count), S_OK);
    EXPECT_EQ(count, 5000);
}

// Trees built far deeper than any file loads are searched to the bottom,
// whichever way they were built: libxml2 streams simple `//` paths and its
// stream stops 10,000 levels down.
TEST(QueryMany, DeepTreesAreSearchedToTheBottom) {
    constexpr long kDepth = 10050;
    auto count = [](CXMLUtil& util, const wchar_t* path) {
        long n = -1;
        EXPECT_HR(util.GetNodesCount(path, n), S_OK) << path;
        return n;
    };
    // Top down: each element appended under the last.
    CXMLUtil topDown;
    CComPtr<IXMLDOMNode> cur = topDown.AppendChildNode(CComPtr<IXMLDOMNode>(), L"r", L"");
    ASSERT_TRUE(cur);
    for (long i = 0; i < kDepth; ++i) cur = topDown.AppendChildNode(cur, L"e", L"");
    ASSERT_TRUE(cur);
    ASSERT_HR(topDown.SetNodeAttr(cur, L"id", L"bottom"), S_OK);
    EXPECT_EQ(count(topDown, L"//e"), kDepth);
    EXPECT_EQ(count(topDown, L"/r//e"), kDepth);
    EXPECT_EQ(count(topDown, L"//*"), kDepth + 1);
    std::vector<CComPtr<IXMLDOMNode>> nodes;
    ASSERT_HR(topDown.GetNodes(L"//e", nodes), S_OK);
    ASSERT_EQ(nodes.size(), static_cast<size_t>(kDepth));
    EXPECT_TRUE(nodes.back().IsEqualObject(cur));
    CComPtr<IXMLDOMNode> found;
    ASSERT_HR(topDown.GetSingleNode(L"//e[@id='bottom']", found), S_OK);  // from the index
    EXPECT_TRUE(found.IsEqualObject(cur));

    // Bottom up: a detached chain grown at its top, then put in place.
    CXMLUtil bottomUp;
    CComPtr<IXMLDOMNode> root = bottomUp.AppendChildNode(CComPtr<IXMLDOMNode>(), L"r", L"");
    CComPtr<IXMLDOMNode> top = bottomUp.CreateNode(L"e", L"");
    for (long i = 1; i < kDepth; ++i) {
        CComPtr<IXMLDOMNode> above = bottomUp.CreateNode(L"e", L"");
        CComPtr<IXMLDOMNode> appended;
        ASSERT_HR(above->appendChild(top, &appended), S_OK);
        top = above;
    }
    CComPtr<IXMLDOMNode> placed;
    ASSERT_HR(root->appendChild(top, &placed), S_OK);
    EXPECT_EQ(count(bottomUp, L"//e"), kDepth);

    // Copied into a document that was never deep.
    CXMLUtil copy;
    ASSERT_HR(copy.LoadXML(L"<x/>"), S_OK);
    CComPtr<IXMLDOMNode> x;
    ASSERT_HR(copy.GetRootNode(x), S_OK);
    ASSERT_TRUE(copy.AppendChildNode(x, top, VARIANT_TRUE));
    EXPECT_EQ(count(copy, L"//e"), kDepth);
}

// Results the real service rarely gives: what is recorded, what is skipped,
// and which outputs stay as passed.
class ScriptedQueryTest : public QueryTest {
  protected:
    void SetUp() override {
        QueryTest::SetUp();
        item = Node(L"//Item[@id='i2']");
        doc.onSelectNodes = [this](BSTR, IXMLDOMNodeList** out) {
            list.AddRef();
            *out = &list;
            return S_OK;
        };
    }
    xmlutil::test::ScriptedList list;
    xmlutil::test::ScriptedDocument doc;
    CComPtr<IXMLDOMNode> item;
};

TEST_F(ScriptedQueryTest, ItemsThatCannotBeHadAreSkipped) {
    list.entries = {{S_OK, item}, {E_FAIL, nullptr}, {S_FALSE, nullptr}, {S_OK, item}};
    CXMLUtil scripted{CComPtr<IXMLDOMDocument>(&doc)};
    std::vector<CComPtr<IXMLDOMNode>> nodes;
    EXPECT_HR(scripted.GetNodes(L"//x", nodes), S_OK);
    ASSERT_EQ(nodes.size(), 2u);
    EXPECT_EQ(nodes[1], item.p);
}

TEST_F(ScriptedQueryTest, FailingLengthKeepsOutputs) {
    list.entries = {{S_OK, item}};
    list.lengthResult = E_UNEXPECTED;
    CXMLUtil scripted{CComPtr<IXMLDOMDocument>(&doc)};
    std::vector<CComPtr<IXMLDOMNode>> nodes{Stale()};
    long count = 7;
    EXPECT_HR(scripted.GetNodes(L"//x", nodes), E_UNEXPECTED);
    ASSERT_EQ(nodes.size(), 1u);
    EXPECT_EQ(NameOf(nodes[0]), L"Root");
    EXPECT_HR(scripted.GetNodesCount(L"//x", count), E_UNEXPECTED);
    EXPECT_EQ(count, 7);
    EXPECT_EQ(list.references, 0u) << "list leaked";
}

// A failure that still hands back a node does not leave it in the output.
TEST_F(ScriptedQueryTest, FailedSelectionLeavesNoNode) {
    doc.onSelectSingleNode = [this](BSTR, IXMLDOMNode** out) {
        item->AddRef();
        *out = item;
        return E_FAIL;
    };
    CXMLUtil scripted{CComPtr<IXMLDOMDocument>(&doc)};
    CComPtr<IXMLDOMNode> node = Stale();
    EXPECT_HR(scripted.GetSingleNode(L"//x", node), E_FAIL);
    EXPECT_FALSE(node);
}

// ---- root element and document ---------------------------------------------------------

TEST(RootAccess, RootOfALoadedDocument) {
    CXMLUtil util;
    ASSERT_HR(util.LoadXML(L"<!-- lead --><Root a=\"1\"/>"), S_OK);
    CComPtr<IXMLDOMNode> node;
    EXPECT_HR(util.GetRootNode(node), S_OK);
    EXPECT_EQ(NameOf(node), L"Root");
    CComPtr<IXMLDOMElement> element;
    EXPECT_HR(util.GetDOMElement(element), S_OK);
    ASSERT_TRUE(element);
    EXPECT_EQ(NameOf(element), L"Root");
    // One node, one object: the two handles agree on identity.
    EXPECT_TRUE(node.IsEqualObject(element));
}

TEST(RootAccess, NoRootElement) {
    CXMLUtil other;
    ASSERT_HR(other.LoadXML(L"<held/>"), S_OK);
    CComPtr<IXMLDOMNode> held;
    ASSERT_HR(other.GetRootNode(held), S_OK);
    CComPtr<IXMLDOMElement> heldElement;
    ASSERT_HR(other.GetDOMElement(heldElement), S_OK);

    CXMLUtil util;
    CComPtr<IXMLDOMNode> node = held;
    EXPECT_HR(util.GetRootNode(node), S_FALSE);
    EXPECT_EQ(node, held.p) << "GetRootNode keeps the handle it was given";
    CComPtr<IXMLDOMElement> element = heldElement;
    EXPECT_HR(util.GetDOMElement(element), S_FALSE);
    EXPECT_FALSE(element) << "GetDOMElement empties its handle";
    EXPECT_EQ(util.IsError(), 1);
}

TEST(RootAccess, HandlesOutliveTheObject) {
    CComPtr<IXMLDOMDocument> doc;
    CComPtr<IXMLDOMNode> menu;
    {
        CXMLUtil util;
        ASSERT_HR(util.LoadXML(kMenus), S_OK);
        doc = util.GetDomDocument();
        ASSERT_HR(util.GetSingleNode(L"/Root/Menu[2]", menu), S_OK);
    }
    CXMLUtil again(doc);
    long count = 0;
    EXPECT_HR(again.GetNodesCount(L"//Item", count), S_OK);
    EXPECT_EQ(count, 3);
    CComPtr<IXMLDOMNode> item;
    EXPECT_HR(again.GetSingleNode(L"Item", item, menu), S_OK);
    EXPECT_EQ(AttrOf(item, L"id"), L"i3");
}

}  // namespace
