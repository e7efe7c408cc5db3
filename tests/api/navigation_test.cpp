// SPDX-License-Identifier: MIT
// Child navigation: first child, next sibling, the child list and the child
// count, which all see the same children of every node type.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fake_dom.h"
#include "support/private_access.h"
#include "support/test_util.h"

namespace {

using xmlutil::test::XmlTest;
using NodeList = std::vector<CComPtr<IXMLDOMNode>>;

DOMNodeType TypeOf(IXMLDOMNode* node) {
    DOMNodeType type = NODE_INVALID;
    EXPECT_HR(node->get_nodeType(&type), S_OK);
    return type;
}

class NavigationTest : public XmlTest {};

TEST_F(NavigationTest, AllFormsSeeChildrenOfEveryTypeInOrder) {
    ASSERT_NO_FATAL_FAILURE(Load(L"<r><p>lead<child>x</child><!--note--></p></r>"));
    const CComPtr<IXMLDOMNode> p = Node(L"/r/p");

    long count = -1;
    EXPECT_HR(util.GetChildNodeCount(p, count), S_OK);
    EXPECT_EQ(count, 3);

    NodeList children;
    EXPECT_HR(util.GetChildNodes(p, children), S_OK);
    ASSERT_EQ(children.size(), 3u);
    EXPECT_EQ(TypeOf(children[0]), NODE_TEXT);
    EXPECT_EQ(TypeOf(children[1]), NODE_ELEMENT);
    EXPECT_EQ(TypeOf(children[2]), NODE_COMMENT);

    // Walking first child and siblings meets the same nodes.
    CComPtr<IXMLDOMNode> step;
    EXPECT_HR(util.GetFirstChildNode(p, step), S_OK);
    for (const CComPtr<IXMLDOMNode>& expected : children) {
        ASSERT_TRUE(step);
        EXPECT_TRUE(step.IsEqualObject(expected));
        const CComPtr<IXMLDOMNode> current = step;
        util.GetNextSiblingNode(current, step);
    }
    EXPECT_HR(CXMLUtilTestAccess::RecordedResult(util), S_FALSE) << "after the last child";
    EXPECT_FALSE(step);
    EXPECT_EQ(util.IsError(), 1);
}

TEST_F(NavigationTest, PathFormsUseTheFirstMatchInTheWholeDocument) {
    ASSERT_NO_FATAL_FAILURE(Load(L"<r><s><a/><b/></s><s><c/></s></r>"));
    CComPtr<IXMLDOMNode> first;
    EXPECT_HR(util.GetFirstChildNode(std::wstring(L"//s"), first), S_OK);
    EXPECT_TRUE(first.IsEqualObject(Node(L"/r/s/a")));
    NodeList children;
    EXPECT_HR(util.GetChildNodes(std::wstring(L"//s"), children), S_OK);
    EXPECT_EQ(children.size(), 2u);
    long count = 0;
    EXPECT_HR(util.GetChildNodeCount(std::wstring(L"/r"), count), S_OK);
    EXPECT_EQ(count, 2);
}

TEST_F(NavigationTest, ChildlessElementGivesEmptyResults) {
    ASSERT_NO_FATAL_FAILURE(Load(L"<r><leaf/><other/></r>"));
    const CComPtr<IXMLDOMNode> leaf = Node(L"/r/leaf");

    CComPtr<IXMLDOMNode> child = Node(L"/r/other");
    EXPECT_HR(util.GetFirstChildNode(leaf, child), S_FALSE);
    EXPECT_FALSE(child) << "the handle passed in is emptied";
    EXPECT_EQ(util.IsError(), 1);

    long count = 99;
    EXPECT_HR(util.GetChildNodeCount(leaf, count), S_OK);
    EXPECT_EQ(count, 0);

    NodeList children{Node(L"/r/other")};
    EXPECT_HR(util.GetChildNodes(leaf, children), S_OK);
    EXPECT_TRUE(children.empty());

    CComPtr<IXMLDOMNode> sibling = leaf;
    EXPECT_HR(util.GetNextSiblingNode(Node(L"/r/other"), sibling), S_FALSE);
    EXPECT_FALSE(sibling);
}

TEST_F(NavigationTest, RepeatedChildListReplacesRatherThanAppends) {
    ASSERT_NO_FATAL_FAILURE(Load(L"<r><a/><b/></r>"));
    NodeList children;
    EXPECT_HR(util.GetChildNodes(Node(L"/r"), children), S_OK);
    EXPECT_HR(util.GetChildNodes(std::wstring(L"/r"), children), S_OK);
    EXPECT_EQ(children.size(), 2u);
}

// Answers a real document never gives, from scripted stand-ins.
class NavigationFaultTest : public XmlTest {};

TEST_F(NavigationFaultTest, UnreadableItemIsSkippedWithoutFailingTheList) {
    fake_dom::Node a, b, c;
    fake_dom::List list;
    list.items = {&a, &b, &c};
    list.failing = {1};
    fake_dom::Node parent;
    parent.children = &list;

    NodeList children;
    EXPECT_HR(util.GetChildNodes(&parent, children), S_OK);
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(children[0].p, &a);
    EXPECT_EQ(children[1].p, &c);
    EXPECT_EQ(a.refs(), 1) << "the list holds exactly one reference per entry";
    children.clear();
    EXPECT_EQ(a.refs() + c.refs() + list.refs() + parent.refs(), 0);
}

TEST_F(NavigationFaultTest, ListOrLengthFailureIsReturnedAndRecorded) {
    fake_dom::Node kept;
    fake_dom::List list;
    fake_dom::Node parent;
    parent.children = &list;

    for (bool listFails : {true, false}) {
        parent.childNodesResult = listFails ? E_OUTOFMEMORY : S_OK;
        list.lengthResult = listFails ? S_OK : E_FAIL;
        const HRESULT expected = listFails ? E_OUTOFMEMORY : E_FAIL;

        NodeList children{&kept};
        EXPECT_HR(util.GetChildNodes(&parent, children), expected);
        EXPECT_TRUE(children.empty()) << "the by-node list is cleared first";
        long count = 7;
        EXPECT_HR(util.GetChildNodeCount(&parent, count), expected);
        EXPECT_EQ(count, 7) << "the count is only written on success";
        EXPECT_HR(CXMLUtilTestAccess::RecordedResult(util), expected);
    }
    EXPECT_EQ(parent.refs() + list.refs() + kept.refs(), 0);
}

}  // namespace
