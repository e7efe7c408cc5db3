// SPDX-License-Identifier: MIT
// Calls made wrongly: an empty node handle where it means the document or
// nothing, an object without a document, a node of another document, a
// removed node, an attribute or namespace node where an element is
// expected; XPath that is malformed or selects attributes, namespace nodes or
// no node-set; text that XML cannot hold. Each must return its code, record it, and change nothing
// it should not (the sanitizer build checks that nothing is touched wrongly).
#include <string>
#include <vector>

#include "support/private_access.h"
#include "support/test_util.h"

namespace {

using Handle = CComPtr<IXMLDOMNode>;
using xmlutil::test::TempDir;
using xmlutil::test::XmlTest;

const wchar_t kDoc[] =
    L"<Root xmlns:p=\"urn:p\" k=\"v\"><Menu><Item a=\"1\">one</Item><p:Item>two</p:Item>"
    L"<!-- c --></Menu><Other/></Root>";

std::wstring XmlOf(CXMLUtil& doc) {
    std::wstring xml = L"(GetXML failed)";
    doc.GetXML(xml);
    return xml;
}

HRESULT Recorded(const CXMLUtil& doc) {
    return CXMLUtilTestAccess::RecordedResult(doc);
}

// ---- an empty node handle --------------------------------------------------------
// Where it must not be empty, every member's refusal is checked by one table
// in path_forms_test.cpp; here, the members for which it means something.

TEST(Misuse, EmptyNodeHandleWhereItMeansTheDocumentOrNothing) {
    CXMLUtil doc;
    ASSERT_HR(doc.LoadXML(kDoc), S_OK);
    Handle none;
    ASSERT_HR(doc.GetSingleNode(L"/nothing", none), S_FALSE);
    // The copy form with nothing to copy: empty result, recorded result kept.
    EXPECT_FALSE(doc.AppendChildNode(Handle(), Handle(), VARIANT_TRUE));
    EXPECT_HR(Recorded(doc), S_FALSE);
    // The node constructor with nothing to copy records a failure.
    CXMLUtil copy{Handle()};
    EXPECT_EQ(copy.IsError(), 1);
    Handle root;
    EXPECT_HR(copy.GetRootNode(root), S_FALSE);
    // LoadMenuXml with no target appends nothing and answers 0.
    TempDir dir;
    xmlutil::test::WriteFileBytes(dir.File("menu.xml"), "<Root><Menu><Item/></Menu></Root>");
    Handle noParent;
    EXPECT_EQ(LoadMenuXml(noParent, dir.WideFile("menu.xml").c_str()), 0);
    // ... and with no path, nothing is appended to a real target.
    Handle target;
    ASSERT_HR(doc.GetRootNode(target), S_OK);
    const std::wstring before = XmlOf(doc);
    EXPECT_EQ(LoadMenuXml(target, nullptr), 0);
    EXPECT_EQ(XmlOf(doc), before);
}

// ---- an object without a document -------------------------------------------------

TEST(Misuse, ObjectWithoutDocumentRefusesEveryMember) {
    CXMLUtil holder;
    ASSERT_HR(holder.LoadXML(kDoc), S_OK);
    Handle element;
    ASSERT_HR(holder.GetSingleNode(L"/Root/Menu/Item", element), S_OK);
    const std::wstring before = XmlOf(holder);

    CXMLUtil empty{CComPtr<IXMLDOMDocument>()};
    ASSERT_EQ(CXMLUtilTestAccess::Document(empty), nullptr);
    std::wstring text = L"kept";
    long count = -1;
    Handle out;
    std::vector<Handle> nodes;
    EXPECT_HR(empty.LoadXML(L"<a/>"), E_POINTER);
    EXPECT_HR(empty.Load(L"/nonexistent.xml"), E_POINTER);
    EXPECT_HR(empty.Save(L"/tmp/never-written-by-xmlutil.xml"), E_POINTER);
    EXPECT_HR(empty.GetXML(text), E_POINTER);
    EXPECT_HR(empty.AppendProcessingInstruction(), E_POINTER);
    // GetDOMElement and GetSingleNode empty their output first; the other
    // queries leave theirs as passed.
    CComPtr<IXMLDOMElement> root;
    ASSERT_HR(holder.GetDOMElement(root), S_OK);
    EXPECT_HR(empty.GetDOMElement(root), E_POINTER);
    EXPECT_FALSE(root);
    out = element;
    nodes = {element};
    EXPECT_HR(empty.GetRootNode(out), E_POINTER);
    EXPECT_EQ(out, element);
    EXPECT_HR(empty.GetNodes(L"/*", nodes), E_POINTER);
    EXPECT_EQ(nodes.size(), 1u);
    EXPECT_HR(empty.GetSingleNode(L"/*", out), E_POINTER);
    EXPECT_FALSE(out);
    EXPECT_HR(empty.GetNodesCount(L"/*", count), E_POINTER);
    EXPECT_HR(empty.GetNodeValue(L"/*", text), E_POINTER);
    EXPECT_HR(empty.SetNodeValue(L"/*", L"x"), E_POINTER);
    EXPECT_FALSE(empty.CreateNode(L"a", L""));
    EXPECT_FALSE(empty.AppendChildNode(Handle(), L"a", L""));
    EXPECT_FALSE(empty.AppendChildNode(element, L"a", L""));
    EXPECT_FALSE(empty.CreateXMLWithID());
    EXPECT_NE(empty.IsError(), 0);
    // Attributes are made by the object's own document: there is none.
    EXPECT_HR(empty.SetNodeAttr(element, L"a", L"2"), E_POINTER);
    EXPECT_EQ(text, L"kept");
    EXPECT_EQ(count, -1);
    EXPECT_FALSE(empty.GetDomDocument());
    EXPECT_EQ(XmlOf(holder), before);
}

// ---- a node of another document ----------------------------------------------------

TEST(Misuse, NodesOfAnotherDocument) {
    CXMLUtil a;
    CXMLUtil b;
    ASSERT_HR(a.LoadXML(L"<A><x/></A>"), S_OK);
    ASSERT_HR(b.LoadXML(kDoc), S_OK);
    Handle aRoot, bItem, bMenu;
    ASSERT_HR(a.GetRootNode(aRoot), S_OK);
    ASSERT_HR(b.GetSingleNode(L"/Root/Menu/Item", bItem), S_OK);
    ASSERT_HR(b.GetSingleNode(L"/Root/Menu", bMenu), S_OK);
    const std::wstring aBefore = XmlOf(a);

    // Reading through the wrong object reads the node.
    std::wstring text;
    EXPECT_HR(a.GetNodeValue(bItem, text), S_OK);
    EXPECT_EQ(text, L"one");

    // A child of another document is not a child: refused, nothing moves.
    const std::wstring bBefore = XmlOf(b);
    EXPECT_LT(a.RemoveChild(aRoot, bItem), 0);
    EXPECT_EQ(XmlOf(a), aBefore);
    EXPECT_EQ(XmlOf(b), bBefore);

    // An attribute made by a's document lands on b's element (adopted).
    EXPECT_HR(a.SetNodeAttr(bItem, L"from", L"a"), S_OK);
    std::wstring value;
    EXPECT_HR(b.GetNodeAttr(L"/Root/Menu/Item", L"from", value), S_OK);
    EXPECT_EQ(value, L"a");
    EXPECT_EQ(XmlOf(a), aBefore);

    // An element made by a's document appended under b's node moves into b.
    Handle added = a.AppendChildNode(bMenu, L"Added", L"text");
    ASSERT_TRUE(added);
    EXPECT_HR(b.GetNodeValue(L"/Root/Menu/Added", value), S_OK);
    EXPECT_EQ(value, L"text");
    EXPECT_EQ(XmlOf(a), aBefore);

    // Copies across documents in both directions.
    EXPECT_TRUE(a.AppendChildNode(aRoot, bMenu, VARIANT_TRUE));
    EXPECT_TRUE(b.AppendChildNode(bMenu, aRoot, VARIANT_FALSE));

    // Both documents still serialise to text that loads, whichever goes first.
    for (CXMLUtil* doc : {&a, &b}) {
        CXMLUtil again;
        EXPECT_HR(again.LoadXML(XmlOf(*doc).c_str()), S_OK) << XmlOf(*doc);
    }
    a = CXMLUtil();
    EXPECT_HR(b.GetNodeValue(added, value), S_OK);
    EXPECT_EQ(value, L"text");
}

// ---- a node that was removed -----------------------------------------------------------

TEST(Misuse, RemovedNodeStaysUsableAndOutsideTheTree) {
    CXMLUtil doc;
    ASSERT_HR(doc.LoadXML(kDoc), S_OK);
    Handle menu, item, other;
    ASSERT_HR(doc.GetSingleNode(L"/Root/Menu", menu), S_OK);
    ASSERT_HR(doc.GetSingleNode(L"/Root/Menu/Item", item), S_OK);
    ASSERT_HR(doc.GetSingleNode(L"/Root/Other", other), S_OK);
    ASSERT_HR(doc.RemoveNode(menu), S_OK);
    const std::wstring after = XmlOf(doc);
    EXPECT_EQ(after.find(L"Menu"), std::wstring::npos);

    EXPECT_HR(doc.RemoveNode(menu), S_FALSE);
    EXPECT_LT(doc.RemoveChild(other, menu), 0);
    Handle sibling;
    EXPECT_HR(doc.GetNextSiblingNode(menu, sibling), S_FALSE);
    EXPECT_HR(doc.SetNodeValue(item, L"changed"), S_OK);
    EXPECT_HR(doc.SetNodeAttr(menu, L"gone", L"yes"), S_OK);
    EXPECT_TRUE(doc.AppendChildNode(menu, L"Inside", L"x"));
    std::wstring xml;
    EXPECT_HR(doc.GetXML(xml, menu), S_OK);
    EXPECT_NE(xml.find(L"changed"), std::wstring::npos);
    EXPECT_NE(xml.find(L"Inside"), std::wstring::npos);
    EXPECT_EQ(XmlOf(doc), after) << "editing a removed subtree reached the document";

    CXMLUtil copy(menu);
    EXPECT_HR(Recorded(copy), S_OK);
    // Put a copy back, then drop the document's content while holding handles.
    EXPECT_TRUE(doc.AppendChildNode(other, menu, VARIANT_TRUE));
    EXPECT_NE(XmlOf(doc).find(L"changed"), std::wstring::npos);
    ASSERT_HR(doc.LoadXML(L"<fresh/>"), S_OK);
    std::wstring text;
    EXPECT_HR(doc.GetNodeValue(other, text), S_OK);
    EXPECT_HR(doc.RemoveAllChild(other), S_OK);
    EXPECT_HR(doc.GetNodeValue(item, text), S_OK);
    EXPECT_EQ(text, L"changed");
}

// ---- attribute and namespace nodes where an element is expected -------------------------

class NonElementTest : public XmlTest {
  protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(Load(kDoc)); }
};

TEST_F(NonElementTest, AttributeNodeAsElement) {
    Handle attr = Node(L"/Root/@k");
    Handle item = Node(L"/Root/Menu/Item");
    const std::wstring before = XmlOf(util);
    std::wstring text = L"kept";
    std::vector<std::wstring> names{L"kept"}, values{L"kept"};

    EXPECT_HR(util.GetNodeAttr(attr, L"k", text), S_FALSE);
    EXPECT_HR(util.GetNodeAttrs(attr, names, values), S_FALSE);
    EXPECT_EQ(text, L"kept");
    EXPECT_EQ(names.size(), 1u);
    EXPECT_HR(util.SetNodeAttr(attr, L"x", L"y"), S_FALSE);
    EXPECT_HR(util.AddIDToNode(attr), S_FALSE);
    EXPECT_HR(util.RemoveNode(attr), S_FALSE);
    EXPECT_LT(util.RemoveChild(Node(L"/Root"), attr), 0);
    EXPECT_FALSE(util.AppendChildNode(attr, L"New", L"t"));
    EXPECT_LT(Recorded(util), 0);
    EXPECT_FALSE(util.AppendChildNode(item, attr, VARIANT_TRUE));
    EXPECT_LT(Recorded(util), 0);
    EXPECT_FALSE(util.AppendChildNode(attr, item, VARIANT_TRUE));
    EXPECT_FALSE(util.GetChildNode(attr, L"Item"));
    Handle sibling;
    EXPECT_HR(util.GetNextSiblingNode(attr, sibling), S_FALSE);
    EXPECT_EQ(XmlOf(util), before);

    // Its text is its value, readable and writable.
    EXPECT_HR(util.GetNodeValue(attr, text), S_OK);
    EXPECT_EQ(text, L"v");
    EXPECT_HR(util.SetNodeValue(attr, L"w&<\""), S_OK);
    EXPECT_HR(util.GetNodeAttr(L"/Root", L"k", text), S_OK);
    EXPECT_EQ(text, L"w&<\"");

    // A copy of an attribute is no document.
    CXMLUtil copy(attr);
    EXPECT_HR(Recorded(copy), S_FALSE);
}

TEST_F(NonElementTest, NamespaceNodeAsElement) {
    std::vector<Handle> nsNodes;
    ASSERT_HR(util.GetNodes(L"/Root/namespace::p", nsNodes), S_OK);
    ASSERT_EQ(nsNodes.size(), 1u);
    Handle ns = nsNodes.front();
    Handle item = Node(L"/Root/Menu/Item");
    const std::wstring before = XmlOf(util);

    std::wstring name, text;
    EXPECT_HR(util.GetNodeValue(ns, name, text), S_OK);
    EXPECT_EQ(text, L"urn:p");
    // A namespace-axis result is not part of the tree: nothing done through it
    // may change the document, and what cannot be done is refused.
    const long setText = util.SetNodeValue(ns, L"urn:changed");
    EXPECT_NE(setText, S_OK) << "a change that cannot reach the document was reported as done";
    EXPECT_NE(util.SetNodeAttr(ns, L"x", L"y"), S_OK);
    EXPECT_NE(util.RemoveNode(ns), S_OK);
    util.RemoveAllChild(ns);
    EXPECT_FALSE(util.AppendChildNode(ns, L"New", L"t"));
    EXPECT_FALSE(util.AppendChildNode(item, ns, VARIANT_TRUE));
    EXPECT_EQ(XmlOf(util), before);
}

// Handles to namespace-axis results outlive their list and their document.
TEST(Misuse, NamespaceHandlesOutliveTheirList) {
    Handle kept;
    {
        CXMLUtil doc;
        ASSERT_HR(doc.LoadXML(L"<a xmlns:p=\"urn:p\" xmlns=\"urn:d\"><b xmlns:q=\"urn:q\"/></a>"),
                  S_OK);
        std::vector<Handle> list;
        ASSERT_HR(doc.GetNodes(L"//namespace::*", list), S_OK);
        ASSERT_GE(list.size(), 5u);  // xml, p, default on a; the same and q on b
        kept = list[list.size() / 2];
        ASSERT_HR(doc.LoadXML(L"<other/>"), S_OK);  // the tree it came from is gone too
    }
    CXMLUtil reader;
    std::wstring name, text, xml;
    EXPECT_HR(reader.GetNodeValue(kept, name, text), S_OK);
    EXPECT_FALSE(text.empty());
    EXPECT_HR(reader.GetXML(xml, kept), S_OK);
    // Like an attribute, its only child (if any) is the text of its value.
    Handle child;
    if (reader.GetFirstChildNode(kept, child) == S_OK) {
        std::wstring childText;
        EXPECT_HR(reader.GetNodeValue(child, childText), S_OK);
        EXPECT_EQ(childText, text);
    }
}

// ---- XPath that is malformed or selects what paths do not expect --------------------------

TEST_F(NonElementTest, MalformedAndNonNodeSetExpressionsChangeNothing) {
    const std::wstring before = XmlOf(util);
    const std::vector<std::wstring> expressions = {
        L"//Item[",       L"",      L"///",        L"count(//Item)",
        L"string(/Root)", L"1 + 1", L"//Item[@a=", L"//\xD800"};
    for (size_t i = 0; i < expressions.size(); ++i) {
        const std::wstring& xpath = expressions[i];
        SCOPED_TRACE(testing::Message() << "expression #" << i);
        Handle out = Node(L"/Root/Other");
        std::vector<Handle> nodes{out};
        long count = -9;
        std::wstring text = L"kept";
        std::vector<std::wstring> names{L"kept"}, values{L"kept"};
        EXPECT_LT(util.GetSingleNode(xpath, out), 0);
        EXPECT_FALSE(out);
        EXPECT_LT(util.GetNodes(xpath, nodes), 0);
        EXPECT_EQ(nodes.size(), 1u);
        EXPECT_LT(util.GetNodesCount(xpath, count), 0);
        EXPECT_EQ(count, -9);
        EXPECT_LT(util.GetNodeValue(xpath, text), 0);
        EXPECT_LT(util.GetNodeAttrs(xpath, names, values), 0);
        EXPECT_LT(util.SetNodeValue(xpath, L"x"), 0);
        EXPECT_LT(util.SetNodeAttr(xpath, L"x", L"y"), 0);
        EXPECT_LT(util.RemoveNode(xpath), 0);
        EXPECT_LT(util.RemoveAllChild(xpath), 0);
        EXPECT_LT(util.GetChildNodeCount(xpath, count), 0);
        EXPECT_EQ(text, L"kept");
        EXPECT_EQ(names.size(), 1u);
        EXPECT_EQ(count, -9);
        EXPECT_EQ(util.IsError(), 1);
        EXPECT_EQ(XmlOf(util), before);
    }
}

TEST_F(NonElementTest, PathsThatSelectAttributes) {
    long count = 0;
    EXPECT_HR(util.GetNodesCount(L"//@*", count), S_OK);
    EXPECT_EQ(count, 2);  // k and a: to XPath a namespace declaration is no attribute
    std::wstring text;
    EXPECT_HR(util.GetNodeValue(L"/Root/Menu/Item/@a", text), S_OK);
    EXPECT_EQ(text, L"1");
    EXPECT_HR(util.SetNodeValue(L"/Root/Menu/Item/@a", L"2"), S_OK);
    EXPECT_HR(util.GetNodeAttr(L"/Root/Menu/Item", L"a", text), S_OK);
    EXPECT_EQ(text, L"2");
    // An attribute has no parent node: RemoveNode leaves it where it is.
    EXPECT_HR(util.RemoveNode(L"/Root/Menu/Item/@a"), S_FALSE);
    EXPECT_HR(util.GetNodesCount(L"//@a", count), S_OK);
    EXPECT_EQ(count, 1);
}

// ---- text XML cannot hold ---------------------------------------------------------------

struct BadText {
    const char* what;
    std::wstring text;
};

std::vector<BadText> TextsXmlCannotHold() {
    return {
        {"lone high surrogate", std::wstring(L"a") + wchar_t(0xD800) + L"b"},
        {"lone low surrogate", std::wstring(1, wchar_t(0xDFFF))},
        {"beyond U+10FFFF", std::wstring(L"a") + wchar_t(0x110000)},
        {"U+0001", std::wstring(L"a\x0001")},
        {"U+001F", std::wstring(L"\x001F")},
        {"U+FFFE", std::wstring(L"\xFFFE")},
    };
}

TEST_F(NonElementTest, TextXmlCannotHoldIsRefusedEverywhere) {
    Handle item = Node(L"/Root/Menu/Item");
    Handle menu = Node(L"/Root/Menu");
    for (const BadText& bad : TextsXmlCannotHold()) {
        SCOPED_TRACE(bad.what);
        const std::wstring before = XmlOf(util);
        EXPECT_HR(util.SetNodeValue(item, bad.text), E_INVALIDARG);
        EXPECT_HR(util.SetNodeValue(L"/Root/@k", bad.text), E_INVALIDARG);
        EXPECT_HR(util.SetNodeAttr(item, L"a", bad.text), E_INVALIDARG);
        EXPECT_LT(util.SetNodeAttr(item, L"n" + bad.text, L"v"), 0);
        EXPECT_HR(util.SetChildNodeVaule(menu, L"Item", bad.text), E_INVALIDARG);
        EXPECT_FALSE(util.AppendChildNode(menu, L"e" + bad.text, L""));
        EXPECT_FALSE(util.CreateNode(L"e" + bad.text, L""));
        EXPECT_EQ(XmlOf(util), before);
        // The element may be appended, but the refused text is reported.
        if (util.AppendChildNode(menu, L"ok", bad.text)) {
            EXPECT_HR(Recorded(util), E_INVALIDARG);
        }
        util.RemoveNode(L"/Root/Menu/ok");
        EXPECT_EQ(XmlOf(util), before);

        CXMLUtil other;
        const std::wstring markup = L"<a>" + bad.text + L"</a>";
        EXPECT_HR(other.LoadXML(markup.c_str()), S_FALSE);
        const std::wstring attrMarkup = L"<a b=\"" + bad.text + L"\"/>";
        EXPECT_HR(other.LoadXML(attrMarkup.c_str()), S_FALSE);

        // Paths with such text select nothing or are refused; nothing changes.
        Handle out;
        const long hr = util.GetSingleNode(L"//*[.='" + bad.text + L"']", out);
        EXPECT_TRUE(hr == S_FALSE || hr < 0) << hr;
        TempDir dir;
        EXPECT_LT(util.Save(dir.WideFile("f") + bad.text), 0);
        EXPECT_TRUE(dir.Entries().empty());
        EXPECT_HR(other.Load(dir.WideFile("f") + bad.text), S_FALSE);
    }
}

TEST_F(NonElementTest, EmbeddedNulEndsTheTextTheDocumentSees) {
    const std::wstring withNul(L"ab\0cd", 5);
    Handle item = Node(L"/Root/Menu/Item");
    std::wstring text;
    EXPECT_HR(util.SetNodeValue(item, withNul), S_OK);
    EXPECT_HR(util.GetNodeValue(item, text), S_OK);
    EXPECT_EQ(text, L"ab");
    EXPECT_HR(util.SetNodeAttr(item, withNul, withNul), S_OK);
    EXPECT_HR(util.GetNodeAttr(item, L"ab", text), S_OK);
    EXPECT_EQ(text, L"ab");
    Handle added = util.AppendChildNode(item, std::wstring(L"New\0Evil", 8), withNul);
    ASSERT_TRUE(added);
    std::wstring name;
    EXPECT_HR(util.GetNodeValue(added, name, text), S_OK);
    EXPECT_EQ(name, L"New");
    EXPECT_EQ(text, L"ab");
    Handle found;
    EXPECT_HR(util.GetSingleNode(std::wstring(L"/Root/Other\0[", 13), found), S_OK);

    TempDir dir;
    xmlutil::test::WriteFileBytes(dir.File("in.xml"), "<in/>");
    CXMLUtil other;
    EXPECT_HR(other.Load(dir.WideFile("in.xml") + std::wstring(L"\0.evil", 6)), S_OK);
    EXPECT_HR(other.Save(dir.WideFile("out.xml") + std::wstring(L"\0.evil", 6)), S_OK);
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"in.xml", "out.xml"}));
}

}  // namespace
