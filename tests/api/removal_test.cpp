// SPDX-License-Identifier: MIT
// Pruning the tree: RemoveChild, RemoveNode and RemoveAllChild, and the
// lifetime of node handles the caller keeps across removals.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fake_dom.h"
#include "support/private_access.h"
#include "support/test_util.h"
#include "xmlutil/XMLUtil.h"

namespace {

std::wstring XmlOf(CXMLUtil& util, CComPtr<IXMLDOMNode> node = CComPtr<IXMLDOMNode>()) {
    std::wstring xml;
    EXPECT_HR(util.GetXML(xml, node), S_OK);
    return xml;
}

CComPtr<IXMLDOMNode> Select(CXMLUtil& util, const std::wstring& path) {
    CComPtr<IXMLDOMNode> node;
    EXPECT_HR(util.GetSingleNode(path, node), S_OK);
    return node;
}

HRESULT Recorded(const CXMLUtil& util) {
    return CXMLUtilTestAccess::RecordedResult(util);
}

class Removal : public xmlutil::test::XmlTest {
  protected:
    void SetUp() override {
        Load(
            L"<r><a id=\"1\"><x/></a><a id=\"2\"/>"
            L"<mix k=\"v\">t1<c/><!--note-->t2<d><e/></d></mix>"
            L"<only>just text</only><none/></r>");
    }
};

TEST_F(Removal, RemoveNodeByPathTakesOnlyTheFirstMatch) {
    EXPECT_HR(util.RemoveNode(L"/r/a"), S_OK);
    EXPECT_EQ(Recorded(util), S_OK);
    long count = 0;
    EXPECT_HR(util.GetNodesCount(L"/r/a", count), S_OK);
    EXPECT_EQ(count, 1);
    std::wstring id;
    EXPECT_HR(util.GetNodeAttr(L"/r/a", L"id", id), S_OK);
    EXPECT_EQ(id, L"2");
}

TEST_F(Removal, PathsThatSelectNothingChangeNothing) {
    const std::wstring before = XmlOf(util);
    EXPECT_HR(util.RemoveNode(L"/r/missing"), S_FALSE);
    EXPECT_EQ(util.IsError(), 1);
    EXPECT_HR(util.RemoveAllChild(L"/r/missing"), S_FALSE);
    EXPECT_LT(util.RemoveNode(L"/r/["), 0);
    EXPECT_LT(util.RemoveAllChild(L"//a[@id="), 0);
    EXPECT_LT(Recorded(util), 0);
    EXPECT_EQ(XmlOf(util), before);
}

TEST_F(Removal, NodesWithoutParentAreLeftWithSFalse) {
    // An attribute has no parent node in the DOM: it stays on its element.
    EXPECT_HR(util.RemoveNode(L"/r/a/@id"), S_FALSE);
    std::wstring id;
    EXPECT_HR(util.GetNodeAttr(L"/r/a", L"id", id), S_OK);
    EXPECT_EQ(id, L"1");

    CComPtr<IXMLDOMNode> detached = util.CreateNode(L"loose", L"");
    ASSERT_NE(detached, nullptr);
    EXPECT_HR(util.RemoveNode(detached), S_FALSE);

    CComPtr<IXMLDOMDocument> doc = util.GetDomDocument();
    EXPECT_HR(util.RemoveNode(CComPtr<IXMLDOMNode>(doc)), S_FALSE);

    // A node already removed has no parent any more.
    CComPtr<IXMLDOMNode> none = Node(L"/r/none");
    EXPECT_HR(util.RemoveNode(none), S_OK);
    EXPECT_HR(util.RemoveNode(none), S_FALSE);
}

TEST_F(Removal, RemovingTheDocumentElementLeavesNone) {
    EXPECT_HR(util.RemoveNode(L"/r"), S_OK);
    CComPtr<IXMLDOMNode> root;
    EXPECT_HR(util.GetRootNode(root), S_FALSE);
    // The document accepts a new element at the top again.
    EXPECT_NE(util.AppendChildNode(CComPtr<IXMLDOMNode>(), L"fresh", L""), nullptr);
    EXPECT_EQ(XmlOf(util), L"<fresh/>\n");
}

TEST_F(Removal, RemoveChildRefusesANodeThatIsNotAChild) {
    const std::wstring before = XmlOf(util);
    CComPtr<IXMLDOMNode> grandchild = Node(L"/r/a/x");
    EXPECT_LT(util.RemoveChild(Node(L"/r"), grandchild), 0);
    EXPECT_EQ(util.IsError(), 1);
    EXPECT_EQ(XmlOf(util), before);
    EXPECT_HR(util.RemoveChild(Node(L"/r/a"), grandchild), S_OK);
    EXPECT_EQ(XmlOf(util, Node(L"/r/a")), L"<a id=\"1\"/>");
}

TEST_F(Removal, RemoveAllChildTakesEveryKindOfChildAndKeepsAttributes) {
    EXPECT_HR(util.RemoveAllChild(L"/r/mix"), S_OK);
    EXPECT_EQ(XmlOf(util, Node(L"/r/mix")), L"<mix k=\"v\"/>");
    EXPECT_HR(util.RemoveAllChild(L"/r/only"), S_OK);
    std::wstring text = L"stale";
    EXPECT_HR(util.GetNodeValue(L"/r/only", text), S_OK);
    EXPECT_EQ(text, L"");
    // A node without children: success, nothing changes.
    const std::wstring before = XmlOf(util);
    EXPECT_HR(util.RemoveAllChild(L"/r/none"), S_OK);
    EXPECT_EQ(XmlOf(util), before);
}

// A parent whose child list is a snapshot that does not follow removals, and
// whose removals answer a scripted result per child.
class ScriptedParent : public fake_dom::Node {
  public:
    HRESULT removeChild(IXMLDOMNode* child, IXMLDOMNode** removed) override {
        *removed = nullptr;
        removedOrder.push_back(child);
        return child == refusing ? E_FAIL : S_OK;
    }
    std::vector<IXMLDOMNode*> removedOrder;
    IXMLDOMNode* refusing = nullptr;
};

class RemoveAllChildOverAList : public ::testing::Test {
  protected:
    void SetUp() override {
        list.items = {&kids[0], &kids[1], &kids[2], &kids[3]};
        parent.children = &list;
    }
    CXMLUtil util;
    fake_dom::Node kids[4];
    fake_dom::List list;
    ScriptedParent parent;
};

TEST_F(RemoveAllChildOverAList, RemovesEachFetchedChildOnceInOrderPastFailures) {
    list.failing = {1};  // this child cannot be fetched: skipped, not recorded
    parent.refusing = &kids[2];
    // The refused child is still there: its failure is the result, although
    // the removal after it succeeded.
    EXPECT_HR(util.RemoveAllChild(CComPtr<IXMLDOMNode>(&parent)), E_FAIL);
    EXPECT_EQ(parent.removedOrder, (std::vector<IXMLDOMNode*>{&kids[0], &kids[2], &kids[3]}));
    for (const fake_dom::Node& kid : kids) EXPECT_EQ(kid.refs(), 0);
    EXPECT_EQ(list.refs(), 0);
}

TEST_F(RemoveAllChildOverAList, ResultIsTheLastRemovalsOrTheLengthFailure) {
    parent.refusing = &kids[3];
    EXPECT_HR(util.RemoveAllChild(CComPtr<IXMLDOMNode>(&parent)), E_FAIL);
    EXPECT_EQ(parent.removedOrder.size(), 4u);

    parent.removedOrder.clear();
    list.failing = {0, 1, 2, 3};  // nothing fetched: the length's success stands
    EXPECT_HR(util.RemoveAllChild(CComPtr<IXMLDOMNode>(&parent)), S_OK);
    EXPECT_TRUE(parent.removedOrder.empty());

    list.lengthResult = E_OUTOFMEMORY;
    EXPECT_HR(util.RemoveAllChild(CComPtr<IXMLDOMNode>(&parent)), E_OUTOFMEMORY);
    parent.childNodesResult = E_ACCESSDENIED;
    EXPECT_HR(util.RemoveAllChild(CComPtr<IXMLDOMNode>(&parent)), E_ACCESSDENIED);
    EXPECT_TRUE(parent.removedOrder.empty());
    EXPECT_EQ(CXMLUtilTestAccess::RecordedResult(util), E_ACCESSDENIED);
}

TEST(RemovedNodes, HandlesStayValidAfterEveryDocumentObjectIsGone) {
    CComPtr<IXMLDOMNode> removedByNode;
    CComPtr<IXMLDOMNode> removedWithSiblings;
    CComPtr<IXMLDOMNode> stillInTree;
    {
        CXMLUtil util;
        ASSERT_HR(util.LoadXML(L"<r xmlns:p=\"urn:p\"><one><p:deep a=\"1\">x</p:deep></one>"
                               L"<many><m>1</m><m>2</m></many><kept>k</kept></r>"),
                  S_OK);
        removedByNode = Select(util, L"/r/one");
        removedWithSiblings = Select(util, L"/r/many/m[2]");
        stillInTree = Select(util, L"/r/kept");
        CXMLUtil sharer(util);
        EXPECT_HR(sharer.RemoveNode(removedByNode), S_OK);
        EXPECT_HR(util.RemoveAllChild(L"/r/many"), S_OK);
        EXPECT_EQ(XmlOf(util), L"<r xmlns:p=\"urn:p\"><many/><kept>k</kept></r>\n");
    }
    // Every document object is gone; the handles still read their nodes, and
    // the removed subtree still says what its prefix means.
    CXMLUtil reader;
    const std::wstring removedXml = XmlOf(reader, removedByNode);
    CXMLUtil reloaded;
    ASSERT_HR(reloaded.LoadXML(removedXml.c_str()), S_OK);
    std::wstring attr;
    EXPECT_HR(reloaded.GetNodeAttr(L"/one/*", L"a", attr), S_OK);
    EXPECT_EQ(attr, L"1");
    EXPECT_EQ(XmlOf(reader, removedWithSiblings), L"<m>2</m>");
    EXPECT_EQ(XmlOf(reader, stillInTree), L"<kept>k</kept>");

    // ... and can be placed elsewhere, by copy and by moving the node itself.
    CXMLUtil target;
    ASSERT_HR(target.LoadXML(L"<t/>"), S_OK);
    CComPtr<IXMLDOMNode> root = Select(target, L"/t");
    EXPECT_NE(target.AppendChildNode(root, removedByNode, VARIANT_TRUE), nullptr);
    CComPtr<IXMLDOMNode> moved;
    EXPECT_HR(root->appendChild(removedWithSiblings, &moved), S_OK);
    std::vector<std::wstring> texts;
    EXPECT_HR(target.GetNodeValues(L"/t/*", texts), S_OK);
    EXPECT_EQ(texts, (std::vector<std::wstring>{L"x", L"2"}));
    const std::wstring targetXml = XmlOf(target);
    EXPECT_HR(reloaded.LoadXML(targetXml.c_str()), S_OK);
}

}  // namespace
