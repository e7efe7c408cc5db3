// SPDX-License-Identifier: MIT
// The DOM objects' tree operations, through the COM-shaped interfaces only:
// creation, appending and its refusals, removal, identity, names, text,
// clones, live child lists.
#include <gtest/gtest.h>
#include <libxml/tree.h>

#include <algorithm>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/xmldom/document_factory.h"
#include "platform/xmldom/dom_node.h"
#include "platform/xmldom/utf.h"
#include "support/dom_test_util.h"
#include "support/fake_dom.h"
#include "support/test_util.h"
#include "xmlutil/atl.h"
#include "xmlutil/msxml.h"

namespace {

using namespace xmlutil::test::dom;  // NOLINT(google-build-using-namespace)

using xmlutil::test::HrEquals;

CComPtr<IXMLDOMNode> AsNode(IUnknown* object) {
    CComPtr<IXMLDOMNode> node;
    if (object != nullptr) {
        object->QueryInterface(IID_IXMLDOMNode, reinterpret_cast<void**>(&node));
    }
    return node;
}

CComPtr<IXMLDOMNode> Element(IXMLDOMDocument* doc, const wchar_t* name) {
    CComPtr<IXMLDOMElement> element;
    EXPECT_EQ(doc->createElement(Arg(name), &element), S_OK);
    return AsNode(element);
}

CComPtr<IXMLDOMNode> TextNode(IXMLDOMDocument* doc, const wchar_t* data) {
    CComPtr<IXMLDOMText> text;
    EXPECT_EQ(doc->createTextNode(Arg(data), &text), S_OK);
    return AsNode(text);
}

void Append(IXMLDOMNode* parent, IXMLDOMNode* child) {
    CComPtr<IXMLDOMNode> out;
    ASSERT_EQ(parent->appendChild(child, &out), S_OK);
    EXPECT_EQ(out.p, child);
}

// The names of a node's children, in order, read through its child list.
std::vector<std::wstring> ChildNames(IXMLDOMNode* parent) {
    std::vector<std::wstring> names;
    CComPtr<IXMLDOMNodeList> list;
    if (parent->get_childNodes(&list) != S_OK) return {L"<no list>"};
    long length = -1;
    list->get_length(&length);
    for (long i = 0; i < length; ++i) {
        CComPtr<IXMLDOMNode> item;
        if (list->get_item(i, &item) == S_OK) names.push_back(NameOf(item));
    }
    return names;
}

// A document <root><a/><b>text</b></root> built by hand.
struct Built {
    CComPtr<IXMLDOMDocument> doc = NewDocument();
    CComPtr<IXMLDOMNode> root = Element(doc, L"root");
    CComPtr<IXMLDOMNode> a = Element(doc, L"a");
    CComPtr<IXMLDOMNode> b = Element(doc, L"b");
    Built() {
        Append(doc, root);
        Append(root, a);
        Append(root, b);
        Append(b, TextNode(doc, L"text"));
    }
};

TEST(DomCreation, NewDocumentIsEmptyAndNodesStartOutsideTheTree) {
    CComPtr<IXMLDOMDocument> doc = NewDocument();
    VARIANT_BOOL has = VARIANT_TRUE;
    EXPECT_EQ(doc->hasChildNodes(&has), S_FALSE);
    EXPECT_EQ(has, VARIANT_FALSE);
    CComPtr<IXMLDOMElement> root;
    EXPECT_EQ(doc->get_documentElement(&root), S_FALSE);
    EXPECT_EQ(root.p, nullptr);

    CComPtr<IXMLDOMNode> element = Element(doc, L"item");
    CComPtr<IXMLDOMNode> parent;
    EXPECT_EQ(element->get_parentNode(&parent), S_FALSE);
    EXPECT_EQ(parent.p, nullptr);
    CComPtr<IXMLDOMDocument> owner;
    ASSERT_EQ(element->get_ownerDocument(&owner), S_OK);
    EXPECT_TRUE(owner.IsEqualObject(doc));
    EXPECT_EQ(doc->hasChildNodes(&has), S_FALSE);
}

TEST(DomCreation, CreateNodeMakesAnElementFromVtI4OrVtI2) {
    CComPtr<IXMLDOMDocument> doc = NewDocument();
    for (VARTYPE vt : {VT_I4, VT_I2}) {
        VARIANT type;
        VariantInit(&type);
        type.vt = vt;
        if (vt == VT_I4) type.lVal = NODE_ELEMENT;
        if (vt == VT_I2) type.iVal = NODE_ELEMENT;
        CComPtr<IXMLDOMNode> node;
        ASSERT_EQ(doc->createNode(type, Arg(L"Item"), nullptr, &node), S_OK);
        DOMNodeType kind = NODE_INVALID;
        node->get_nodeType(&kind);
        EXPECT_EQ(kind, NODE_ELEMENT);
        EXPECT_EQ(NameOf(node), L"Item");
        CComPtr<IXMLDOMElement> element;
        EXPECT_EQ(node.QueryInterface(&element), S_OK);
    }
}

TEST(DomCreation, InvalidNamesAndTextAreRefused) {
    CComPtr<IXMLDOMDocument> doc = NewDocument();
    VARIANT type;
    VariantInit(&type);
    type.vt = VT_I4;
    type.lVal = NODE_ELEMENT;
    for (const wchar_t* bad : {L"", L"1abc", L"a b", L"a:b:c", L"<x>", L"xmlns:p"}) {
        CComPtr<IXMLDOMNode> node;
        EXPECT_HR(doc->createNode(type, Arg(bad), nullptr, &node), E_INVALIDARG) << bad;
        EXPECT_EQ(node.p, nullptr);
        CComPtr<IXMLDOMElement> element;
        EXPECT_HR(doc->createElement(Arg(bad), &element), E_INVALIDARG) << bad;
    }
    CComPtr<IXMLDOMNode> nullName;
    EXPECT_HR(doc->createNode(type, nullptr, nullptr, &nullName), E_INVALIDARG);

    const wchar_t controlChar[] = {L'a', 0x1, 0};
    const wchar_t surrogate[] = {L'a', static_cast<wchar_t>(0xD800), 0};
    const wchar_t nonCharacter[] = {static_cast<wchar_t>(0xFFFE), 0};
    const wchar_t beyondUnicode[] = {static_cast<wchar_t>(0x110000), 0};
    for (const wchar_t* bad : {controlChar, surrogate, nonCharacter, beyondUnicode}) {
        CComPtr<IXMLDOMText> text;
        EXPECT_HR(doc->createTextNode(Arg(bad), &text), E_INVALIDARG);
        CComPtr<IXMLDOMElement> element;
        EXPECT_HR(doc->createElement(Arg(bad), &element), E_INVALIDARG);
    }
    CComPtr<IXMLDOMComment> comment;
    EXPECT_HR(doc->createComment(Arg(L"a--b"), &comment), E_INVALIDARG);
    EXPECT_HR(doc->createComment(Arg(L"ends-"), &comment), E_INVALIDARG);
    EXPECT_HR(doc->createComment(Arg(L"fine - here"), &comment), S_OK);
    CComPtr<IXMLDOMCDATASection> cdata;
    EXPECT_HR(doc->createCDATASection(Arg(L"x]]>y"), &cdata), E_INVALIDARG);
    CComPtr<IXMLDOMProcessingInstruction> pi;
    EXPECT_HR(doc->createProcessingInstruction(Arg(L"t"), Arg(L"a?>b"), &pi), E_INVALIDARG);
    EXPECT_HR(doc->createProcessingInstruction(Arg(L"XmL"), Arg(L""), &pi), E_INVALIDARG);
    EXPECT_HR(doc->createProcessingInstruction(Arg(L"xml"), Arg(L"nonsense"), &pi), E_INVALIDARG);
    EXPECT_HR(doc->createProcessingInstruction(Arg(L"xml"),
                                               Arg(L"version=\"1.0\" encoding=\"gb2312\""), &pi),
              S_OK);
}

// True when the loader reads `xml` as a document.
bool Loads(const std::wstring& xml) {
    CComPtr<IXMLDOMDocument> doc = NewDocument();
    VARIANT_BOOL ok = VARIANT_FALSE;
    return doc->loadXML(Arg(xml), &ok) == S_OK && ok == VARIANT_TRUE;
}

// Element and attribute names are accepted exactly when the loader accepts
// them (XML 1.0 fifth edition: U+10000-U+EFFFF, U+F900, U+FFFD among them),
// the prefix "xmlns" being refused: what is read can be written back.
TEST(DomCreation, NamesAreAcceptedExactlyWhenTheLoaderAcceptsThem) {
    CComPtr<IXMLDOMDocument> doc = NewDocument();
    CComPtr<IXMLDOMElement> root;
    ASSERT_HR(doc->createElement(Arg(L"r"), &root), S_OK);
    const std::wstring alphabet =
        L"aZ_9-.:\u00e9\u4e2d\u00b7\U00010000\uF900\uFFFD\U000EFFFF\U000F0000\uFDD0\u0300"
        L"\u203F\u037E\u2FF0\u00D7";
    std::mt19937 rng(7);
    for (int round = 0; round < 4000; ++round) {
        std::wstring name;
        const int length = std::uniform_int_distribution<int>(0, 6)(rng);
        for (int i = 0; i < length; ++i) {
            name += alphabet[std::uniform_int_distribution<size_t>(0, alphabet.size() - 1)(rng)];
        }
        if (round % 10 == 0) name = L"xmlns" + name;
        const size_t colon = name.find(L':');
        const std::wstring declaration =
            colon == std::wstring::npos ? L"" : L" xmlns:" + name.substr(0, colon) + L"='urn:p'";
        const bool loads = Loads(L"<" + name + declaration + L"/>");
        CComPtr<IXMLDOMElement> element;
        EXPECT_HR(doc->createElement(Arg(name), &element), loads ? S_OK : E_INVALIDARG)
            << testing::PrintToString(name);
        // Attribute names that declare ("xmlns") are a case of their own, and
        // a prefix must be declared on the element: unprefixed names only.
        if (name == L"xmlns" || colon != std::wstring::npos) continue;
        EXPECT_HR(root->setAttribute(Arg(name), StringValue(L"v")),
                  Loads(L"<r " + name + L"='v'/>") ? S_OK : E_INVALIDARG)
            << testing::PrintToString(name);
    }
}

TEST(DomIdentity, EveryHandleToOneNodeGivesOneIUnknown) {
    Built t;
    CComPtr<IXMLDOMNode> first;
    ASSERT_EQ(t.root->get_firstChild(&first), S_OK);
    CComPtr<IUnknown> viaNavigation;
    CComPtr<IUnknown> viaCreation;
    first->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&viaNavigation));
    t.a->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&viaCreation));
    EXPECT_EQ(viaNavigation.p, viaCreation.p);

    CComPtr<IXMLDOMNode> docAsParent;
    ASSERT_EQ(t.root->get_parentNode(&docAsParent), S_OK);
    EXPECT_TRUE(docAsParent.IsEqualObject(t.doc));

    CComPtr<IXMLDOMAttribute> notAnAttribute;
    EXPECT_EQ(t.a.QueryInterface(&notAnAttribute), E_NOINTERFACE);
    EXPECT_EQ(notAnAttribute.p, nullptr);
}

TEST(DomTree, AppendInsertAndNavigate) {
    Built t;
    CComPtr<IXMLDOMNode> c = Element(t.doc, L"c");
    VARIANT before;
    VariantInit(&before);
    before.vt = VT_UNKNOWN;
    before.punkVal = t.b;
    CComPtr<IXMLDOMNode> inserted;
    ASSERT_EQ(t.root->insertBefore(c, before, &inserted), S_OK);
    EXPECT_EQ(inserted.p, c.p);
    EXPECT_EQ(ChildNames(t.root), (std::vector<std::wstring>{L"a", L"c", L"b"}));

    // Appending a node already in the tree moves it; a null out-pointer is fine.
    ASSERT_EQ(t.root->appendChild(t.a, nullptr), S_OK);
    EXPECT_EQ(ChildNames(t.root), (std::vector<std::wstring>{L"c", L"b", L"a"}));

    CComPtr<IXMLDOMNode> next;
    EXPECT_EQ(t.a->get_nextSibling(&next), S_FALSE);
    EXPECT_EQ(next.p, nullptr);
    CComPtr<IXMLDOMNode> prev;
    ASSERT_EQ(t.a->get_previousSibling(&prev), S_OK);
    EXPECT_EQ(prev.p, t.b.p);
    CComPtr<IXMLDOMNode> last;
    ASSERT_EQ(t.root->get_lastChild(&last), S_OK);
    EXPECT_EQ(last.p, t.a.p);
    CComPtr<IXMLDOMNode> none;
    EXPECT_EQ(t.a->get_firstChild(&none), S_FALSE);

    // A reference node that is not a child of the parent is refused.
    before.punkVal = t.root;
    EXPECT_HR(t.root->insertBefore(Element(t.doc, L"d"), before, nullptr), E_INVALIDARG);
    EXPECT_EQ(ChildNames(t.root), (std::vector<std::wstring>{L"c", L"b", L"a"}));
}

// Copies of a list's items moving to another document leave the list's
// cursor in place (the walk stays O(1) a step) and the items right; a list
// under a detached subtree that moves follows it to its new nodes.
TEST(DomTree, ChildListsStayRightWhileNodesMoveToAnotherDocument) {
    Built from;
    Built to;
    for (const wchar_t* name : {L"c", L"d", L"e"}) Append(from.root, Element(from.doc, name));
    CComPtr<IXMLDOMNodeList> list;
    ASSERT_EQ(from.root->get_childNodes(&list), S_OK);
    std::vector<std::wstring> walked;
    for (long i = 0;; ++i) {
        CComPtr<IXMLDOMNode> item;
        if (list->get_item(i, &item) != S_OK) break;
        walked.push_back(NameOf(item));
        CComPtr<IXMLDOMNode> copy;
        ASSERT_EQ(item->cloneNode(VARIANT_TRUE, &copy), S_OK);
        Append(to.root, copy);
    }
    EXPECT_EQ(walked, (std::vector<std::wstring>{L"a", L"b", L"c", L"d", L"e"}));
    EXPECT_EQ(ChildNames(to.root),
              (std::vector<std::wstring>{L"a", L"b", L"a", L"b", L"c", L"d", L"e"}));

    CComPtr<IXMLDOMNode> detached = Element(from.doc, L"x");
    Append(detached, Element(from.doc, L"y"));
    Append(detached, Element(from.doc, L"z"));
    CComPtr<IXMLDOMNodeList> moving;
    ASSERT_EQ(detached->get_childNodes(&moving), S_OK);
    CComPtr<IXMLDOMNode> last;
    ASSERT_EQ(moving->get_item(1, &last), S_OK);  // the cursor rests on z
    Append(to.root, detached);                    // z and y are copied, the old ones freed
    CComPtr<IXMLDOMNode> first;
    ASSERT_EQ(moving->get_item(0, &first), S_OK);
    EXPECT_EQ(NameOf(first), L"y");
    CComPtr<IXMLDOMNode> second;
    ASSERT_EQ(moving->get_item(1, &second), S_OK);
    EXPECT_EQ(second.p, last.p);  // the same handle, now on the copy
    CComPtr<IXMLDOMNode> parent;
    ASSERT_EQ(second->get_parentNode(&parent), S_OK);
    EXPECT_EQ(parent.p, detached.p);
}

TEST(DomTree, AppendRefusalsLeaveTheTreeUnchanged) {
    Built t;
    const std::vector<std::wstring> rootChildren = ChildNames(t.root);
    const std::vector<std::wstring> topLevel = ChildNames(t.doc);

    EXPECT_HR(t.root->appendChild(nullptr, nullptr), E_INVALIDARG);
    // The parent itself, and an ancestor of the parent.
    EXPECT_TRUE(FAILED(t.root->appendChild(t.root, nullptr)));
    EXPECT_TRUE(FAILED(t.b->appendChild(t.root, nullptr)));
    // A second root element, text at the top of the document.
    EXPECT_TRUE(FAILED(t.doc->appendChild(Element(t.doc, L"second"), nullptr)));
    EXPECT_TRUE(FAILED(t.doc->appendChild(TextNode(t.doc, L"loose"), nullptr)));
    // The document itself and an attribute are not children.
    EXPECT_TRUE(FAILED(t.root->appendChild(t.doc, nullptr)));
    CComPtr<IXMLDOMAttribute> attr;
    ASSERT_EQ(t.doc->createAttribute(Arg(L"x"), &attr), S_OK);
    EXPECT_TRUE(FAILED(t.root->appendChild(AsNode(attr), nullptr)));
    // A declaration behind the root element, and a declaration inside an element.
    CComPtr<IXMLDOMProcessingInstruction> decl;
    ASSERT_EQ(t.doc->createProcessingInstruction(Arg(L"xml"), Arg(L"version=\"1.0\""), &decl),
              S_OK);
    EXPECT_TRUE(FAILED(t.doc->appendChild(AsNode(decl), nullptr)));
    EXPECT_TRUE(FAILED(t.root->appendChild(AsNode(decl), nullptr)));

    EXPECT_EQ(ChildNames(t.root), rootChildren);
    EXPECT_EQ(ChildNames(t.doc), topLevel);
    CComPtr<IXMLDOMNode> parent;
    EXPECT_EQ(AsNode(decl)->get_parentNode(&parent), S_FALSE);
}

// A node object the caller implemented itself is not part of any document:
// every method that takes a node refuses it without touching the tree or
// the object (its reference count comes back to where it was).
TEST(DomTree, NodesOfOtherImplementationsAreRefused) {
    Built t;
    const std::vector<std::wstring> before = ChildNames(t.root);
    fake_dom::Node stranger;
    EXPECT_HR(t.root->appendChild(&stranger, nullptr), E_INVALIDARG);
    VARIANT reference;
    VariantInit(&reference);
    reference.vt = VT_UNKNOWN;
    reference.punkVal = t.a;
    EXPECT_TRUE(FAILED(t.root->insertBefore(&stranger, reference, nullptr)));
    reference.punkVal = &stranger;
    EXPECT_TRUE(FAILED(t.root->insertBefore(Element(t.doc, L"c"), reference, nullptr)));
    EXPECT_HR(t.root->removeChild(&stranger, nullptr), E_INVALIDARG);
    CComPtr<IXMLDOMNamedNodeMap> attributes;
    ASSERT_EQ(t.root->get_attributes(&attributes), S_OK);
    EXPECT_HR(attributes->setNamedItem(&stranger, nullptr), E_INVALIDARG);
    EXPECT_EQ(ChildNames(t.root), before);
    EXPECT_EQ(stranger.refs(), 0);
}

TEST(DomTree, DeclarationIsAcceptedOnlyFirst) {
    CComPtr<IXMLDOMDocument> doc = NewDocument();
    CComPtr<IXMLDOMProcessingInstruction> decl;
    ASSERT_EQ(doc->createProcessingInstruction(Arg(L"xml"), Arg(L"version=\"1.0\""), &decl), S_OK);
    ASSERT_EQ(doc->appendChild(AsNode(decl), nullptr), S_OK);
    Append(doc, Element(doc, L"Root"));
    EXPECT_EQ(ChildNames(doc), (std::vector<std::wstring>{L"xml", L"Root"}));
    // Nothing may go in front of the declaration.
    VARIANT before;
    VariantInit(&before);
    before.vt = VT_UNKNOWN;
    before.punkVal = decl;
    CComPtr<IXMLDOMComment> comment;
    ASSERT_EQ(doc->createComment(Arg(L"c"), &comment), S_OK);
    EXPECT_TRUE(FAILED(doc->insertBefore(AsNode(comment), before, nullptr)));
    EXPECT_EQ(ChildNames(doc), (std::vector<std::wstring>{L"xml", L"Root"}));
}

TEST(DomTree, RemoveChildDetachesAndRefusesStrangers) {
    Built t;
    CComPtr<IXMLDOMNode> removed;
    ASSERT_EQ(t.root->removeChild(t.b, &removed), S_OK);
    EXPECT_EQ(removed.p, t.b.p);
    EXPECT_EQ(ChildNames(t.root), (std::vector<std::wstring>{L"a"}));
    CComPtr<IXMLDOMNode> parent;
    EXPECT_EQ(t.b->get_parentNode(&parent), S_FALSE);
    EXPECT_EQ(TextOf(t.b), L"text");  // the subtree came along

    EXPECT_HR(t.root->removeChild(t.b, nullptr), E_INVALIDARG);  // no longer a child
    EXPECT_HR(t.root->removeChild(nullptr, nullptr), E_INVALIDARG);
    EXPECT_HR(t.a->removeChild(t.root, nullptr), E_INVALIDARG);
    // It can go back in.
    Append(t.root, t.b);
    EXPECT_EQ(ChildNames(t.root), (std::vector<std::wstring>{L"a", L"b"}));
}

TEST(DomText, TextPerNodeType) {
    Built t;
    Append(t.a, TextNode(t.doc, L"  one "));
    CComPtr<IXMLDOMComment> comment;
    ASSERT_EQ(t.doc->createComment(Arg(L"note"), &comment), S_OK);
    Append(t.a, AsNode(comment));
    CComPtr<IXMLDOMCDATASection> cdata;
    ASSERT_EQ(t.doc->createCDATASection(Arg(L"<two>"), &cdata), S_OK);
    Append(t.a, AsNode(cdata));

    // Descendants' text and CDATA exactly, comments left out, nothing trimmed.
    EXPECT_EQ(TextOf(t.a), L"  one <two>");
    EXPECT_EQ(TextOf(t.root), L"  one <two>text");
    EXPECT_EQ(TextOf(t.doc), L"  one <two>text");
    EXPECT_EQ(TextOf(AsNode(comment)), L"note");
    EXPECT_EQ(NameOf(AsNode(comment)), L"#comment");
    EXPECT_EQ(NameOf(AsNode(cdata)), L"#cdata-section");
    EXPECT_EQ(NameOf(t.doc), L"#document");

    VARIANT value;
    EXPECT_EQ(t.root->get_nodeValue(&value), S_FALSE);
    EXPECT_EQ(value.vt, VT_NULL);
    EXPECT_HR(t.doc->put_text(Arg(L"x")), E_FAIL);
}

TEST(DomText, PutTextIsLiteralAndReplacesAllChildren) {
    Built t;
    ASSERT_EQ(t.root->put_text(Arg(L"a &amp; <b> &undefined;")), S_OK);
    EXPECT_EQ(TextOf(t.root), L"a &amp; <b> &undefined;");
    std::vector<std::wstring> names = ChildNames(t.root);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"#text"}));

    ASSERT_EQ(t.root->put_text(Arg(L"")), S_OK);
    VARIANT_BOOL has = VARIANT_TRUE;
    EXPECT_EQ(t.root->hasChildNodes(&has), S_FALSE);

    // Refused text changes nothing.
    ASSERT_EQ(t.root->put_text(Arg(L"kept")), S_OK);
    const wchar_t bad[] = {L'x', 0x8, 0};
    EXPECT_HR(t.root->put_text(Arg(bad)), E_INVALIDARG);
    EXPECT_EQ(TextOf(t.root), L"kept");

    CComPtr<IXMLDOMNode> text;
    ASSERT_EQ(t.root->get_firstChild(&text), S_OK);
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(L"changed <&>");
    EXPECT_EQ(text->put_nodeValue(value), S_OK);
    VariantClear(&value);
    EXPECT_EQ(TextOf(t.root), L"changed <&>");
    EXPECT_HR(t.root->put_nodeValue(value), E_FAIL);

    CComPtr<IXMLDOMComment> comment;
    ASSERT_EQ(t.doc->createComment(Arg(L"ok"), &comment), S_OK);
    EXPECT_HR(comment->put_text(Arg(L"not -- ok")), E_INVALIDARG);
    EXPECT_EQ(TextOf(AsNode(comment)), L"ok");
}

TEST(DomNames, BaseNamesPrefixesAndNodeNames) {
    CComPtr<IXMLDOMDocument> doc = NewDocument();
    CComPtr<IXMLDOMNode> root = Element(doc, L"root");
    Append(doc, root);
    CComPtr<IXMLDOMElement> rootElement;
    ASSERT_EQ(root.QueryInterface(&rootElement), S_OK);
    VARIANT uri;
    VariantInit(&uri);
    uri.vt = VT_BSTR;
    uri.bstrVal = SysAllocString(L"urn:p");
    ASSERT_EQ(rootElement->setAttribute(Arg(L"xmlns:p"), uri), S_OK);
    VariantClear(&uri);

    CComPtr<IXMLDOMNode> prefixed = Element(doc, L"p:item");
    EXPECT_EQ(BaseNameOf(prefixed), L"item");
    Append(root, prefixed);
    EXPECT_EQ(NameOf(prefixed), L"p:item");
    EXPECT_EQ(BaseNameOf(prefixed), L"item");
    EXPECT_EQ(Text([&](BSTR* out) { return prefixed->get_prefix(out); }), L"p");
    EXPECT_EQ(Text([&](BSTR* out) { return prefixed->get_namespaceURI(out); }), L"urn:p");

    CComPtr<IXMLDOMNode> text = TextNode(doc, L"t");
    EXPECT_EQ(BaseNameOf(text), L"");  // never libxml2's internal name "text"
    EXPECT_EQ(NameOf(text), L"#text");
    CComPtr<IXMLDOMProcessingInstruction> pi;
    ASSERT_EQ(doc->createProcessingInstruction(Arg(L"target"), Arg(L"data"), &pi), S_OK);
    EXPECT_EQ(BaseNameOf(AsNode(pi)), L"target");
    EXPECT_EQ(BaseNameOf(doc), L"");

    // A prefix declared nowhere in scope is refused where the element is placed.
    CComPtr<IXMLDOMNode> undeclared = Element(doc, L"q:item");
    EXPECT_HR(root->appendChild(undeclared, nullptr), E_INVALIDARG);
    EXPECT_EQ(ChildNames(root), (std::vector<std::wstring>{L"p:item"}));
}

TEST(DomLists, LiveChildListFollowsEdits) {
    Built t;
    CComPtr<IXMLDOMNodeList> list;
    ASSERT_EQ(t.root->get_childNodes(&list), S_OK);
    long length = 0;
    ASSERT_EQ(list->get_length(&length), S_OK);
    EXPECT_EQ(length, 2);
    CComPtr<IXMLDOMNode> item;
    ASSERT_EQ(list->get_item(1, &item), S_OK);
    EXPECT_EQ(item.p, t.b.p);

    Append(t.root, Element(t.doc, L"c"));
    ASSERT_EQ(t.root->removeChild(t.a, nullptr), S_OK);
    ASSERT_EQ(list->get_length(&length), S_OK);
    EXPECT_EQ(length, 2);
    item.Release();
    ASSERT_EQ(list->get_item(1, &item), S_OK);
    EXPECT_EQ(NameOf(item), L"c");
    item.Release();
    ASSERT_EQ(list->get_item(0, &item), S_OK);
    EXPECT_EQ(NameOf(item), L"b");

    item.Release();
    EXPECT_EQ(list->get_item(2, &item), S_FALSE);
    EXPECT_EQ(item.p, nullptr);
    EXPECT_EQ(list->get_item(-1, &item), S_FALSE);

    // nextNode walks the same children, then reports the end.
    std::vector<std::wstring> walked;
    for (CComPtr<IXMLDOMNode> next; list->nextNode(&next) == S_OK; next.Release()) {
        walked.push_back(NameOf(next));
    }
    EXPECT_EQ(walked, (std::vector<std::wstring>{L"b", L"c"}));
}

// Live lists compare change numbers for equality, across documents and
// threads: no value may be handed out twice, and none is zero (a list's
// "never read" mark).
TEST(DomLists, ChangeNumbersAreNeverHandedOutTwice) {
    constexpr int kThreads = 4;
    constexpr int kEach = 200000;  // several of each thread's reserved blocks
    std::vector<std::vector<uint64_t>> taken(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&taken, t] {
            for (int i = 0; i < kEach; ++i) taken[t].push_back(xmlutil::xmldom::NextGeneration());
        });
    }
    for (std::thread& thread : threads) thread.join();
    std::vector<uint64_t> all;
    for (const auto& values : taken) all.insert(all.end(), values.begin(), values.end());
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
    EXPECT_NE(all.front(), 0u);
}

TEST(DomLists, IndexWalkMatchesTheTreeInBothDirections) {
    CComPtr<IXMLDOMDocument> doc = NewDocument();
    CComPtr<IXMLDOMNode> root = Element(doc, L"root");
    Append(doc, root);
    for (int i = 0; i < 50; ++i) {
        Append(root, Element(doc, (L"e" + std::to_wstring(i)).c_str()));
    }
    CComPtr<IXMLDOMNodeList> list;
    ASSERT_EQ(root->get_childNodes(&list), S_OK);
    for (long i : {0L, 10L, 11L, 49L, 48L, 3L, 25L, 24L}) {
        CComPtr<IXMLDOMNode> item;
        ASSERT_EQ(list->get_item(i, &item), S_OK) << i;
        EXPECT_EQ(NameOf(item), L"e" + std::to_wstring(i));
    }
}

TEST(DomClone, DeepAndShallowCopiesAreUnattached) {
    Built t;
    CComPtr<IXMLDOMElement> rootElement;
    ASSERT_EQ(t.root.QueryInterface(&rootElement), S_OK);
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(L"1");
    ASSERT_EQ(rootElement->setAttribute(Arg(L"id"), v), S_OK);
    VariantClear(&v);

    CComPtr<IXMLDOMNode> deep;
    ASSERT_EQ(t.root->cloneNode(VARIANT_TRUE, &deep), S_OK);
    EXPECT_FALSE(deep.IsEqualObject(t.root));
    CComPtr<IXMLDOMNode> parent;
    EXPECT_EQ(deep->get_parentNode(&parent), S_FALSE);
    EXPECT_EQ(ChildNames(deep), (std::vector<std::wstring>{L"a", L"b"}));
    EXPECT_EQ(TextOf(deep), L"text");
    CComPtr<IXMLDOMElement> deepElement;
    ASSERT_EQ(deep.QueryInterface(&deepElement), S_OK);
    VARIANT got;
    ASSERT_EQ(deepElement->getAttribute(Arg(L"id"), &got), S_OK);
    EXPECT_STREQ(got.bstrVal, L"1");
    VariantClear(&got);

    CComPtr<IXMLDOMNode> shallow;
    ASSERT_EQ(t.root->cloneNode(VARIANT_FALSE, &shallow), S_OK);
    VARIANT_BOOL has = VARIANT_TRUE;
    EXPECT_EQ(shallow->hasChildNodes(&has), S_FALSE);
    EXPECT_EQ(NameOf(shallow), L"root");

    // The copy is independent of the original.
    ASSERT_EQ(deep->put_text(Arg(L"changed")), S_OK);
    EXPECT_EQ(TextOf(t.root), L"text");
    CComPtr<IXMLDOMDocument> owner;
    ASSERT_EQ(deep->get_ownerDocument(&owner), S_OK);
    EXPECT_TRUE(owner.IsEqualObject(t.doc));
}

TEST(DomCrossDocument, AppendMovesANodeAndTheCopyOutlivesItsSource) {
    CComPtr<IXMLDOMDocument> target = NewDocument();
    CComPtr<IXMLDOMNode> targetRoot = Element(target, L"target");
    Append(target, targetRoot);
    CComPtr<IXMLDOMNode> copy;
    {
        Built source;
        ASSERT_EQ(source.root->cloneNode(VARIANT_TRUE, &copy), S_OK);
        Append(targetRoot, copy);
        // Moving a node that is in the source's tree takes it out of there.
        Append(targetRoot, source.a);
        EXPECT_EQ(ChildNames(source.root), (std::vector<std::wstring>{L"b"}));
        CComPtr<IXMLDOMDocument> owner;
        ASSERT_EQ(source.a->get_ownerDocument(&owner), S_OK);
        EXPECT_TRUE(owner.IsEqualObject(target));
    }
    EXPECT_EQ(ChildNames(targetRoot), (std::vector<std::wstring>{L"root", L"a"}));
    EXPECT_EQ(TextOf(copy), L"text");
    ASSERT_EQ(copy->put_text(Arg(L"still mine")), S_OK);
    EXPECT_EQ(TextOf(targetRoot), L"still mine");
}

}  // namespace

namespace {

CComPtr<IXMLDOMNode> Select(IXMLDOMNode* context, const wchar_t* path) {
    CComPtr<IXMLDOMNode> node;
    EXPECT_EQ(context->selectSingleNode(Arg(path), &node), S_OK) << path;
    return node;
}

// Parsed documents keep names and short texts in a dictionary of their own:
// what moves or is copied across must not keep pointing into the source's.
TEST(DomCrossDocument, ParsedNodesOfEveryKindMoveAndCopyAcross) {
    const wchar_t* source =
        L"<R xmlns:p=\"urn:p\"><M a=\"1\" p:b=\"2\">one<!-- c --><?pi data?><![CDATA[x]]>"
        L"<p:I>\"</p:I></M></R>";
    CComPtr<IXMLDOMDocument> target = Parsed(L"<T><x/></T>");
    CComPtr<IXMLDOMNode> targetRoot = Select(target, L"/T");
    std::vector<CComPtr<IXMLDOMNode>> copies;
    {
        CComPtr<IXMLDOMDocument> from = Parsed(source);
        CComPtr<IXMLDOMNode> m = Select(from, L"/R/M");
        for (const wchar_t* path :
             {L"/R/M/text()", L"/R/M/comment()", L"/R/M/processing-instruction()",
              L"/R/M/@*[local-name()='b']"}) {
            CComPtr<IXMLDOMNode> copy;
            ASSERT_EQ(Select(from, path)->cloneNode(VARIANT_TRUE, &copy), S_OK) << path;
            copies.push_back(copy);
        }
        CComPtr<IXMLDOMNode> deep;
        ASSERT_EQ(m->cloneNode(VARIANT_TRUE, &deep), S_OK);
        Append(targetRoot, deep);
        Append(targetRoot, Select(from, L"/R/M/comment()"));  // moved, not copied
        Append(targetRoot, m);
    }
    for (size_t i = 0; i < 3; ++i) Append(targetRoot, copies[i]);
    CComPtr<IXMLDOMNode> attribute = copies[3];
    copies.clear();
    EXPECT_EQ(NameOf(attribute), L"p:b");
    EXPECT_EQ(Text([&](BSTR* out) { return attribute->get_namespaceURI(out); }), L"urn:p");
    const std::wstring expected =
        L"<T><x/><M xmlns:p=\"urn:p\" a=\"1\" p:b=\"2\">one<!-- c --><?pi data?><![CDATA[x]]>"
        L"<p:I>\"</p:I></M><!-- c --><M xmlns:p=\"urn:p\" a=\"1\" p:b=\"2\">one<?pi data?>"
        L"<![CDATA[x]]><p:I>\"</p:I></M>one<!-- c --><?pi data?></T>";
    EXPECT_EQ(Text([&](BSTR* out) { return targetRoot->get_xml(out); }), expected);
    target.Release();
    EXPECT_EQ(TextOf(targetRoot), L"onex\"onex\"one");
}

}  // namespace

namespace {

// Far deeper than libxml2's recursive copy and tree functions survive: every
// walk here must be iterative.
TEST(DomDeepTree, HundredThousandLevelsCopyMoveAndRelease) {
    constexpr int kDepth = 100000;
    CComPtr<IXMLDOMDocument> doc = NewDocument();
    CComPtr<IXMLDOMNode> top = Element(doc, L"leaf");
    Append(top, TextNode(doc, L"bottom"));
    for (int i = 1; i < kDepth; ++i) {  // built from the bottom up
        CComPtr<IXMLDOMNode> parent = Element(doc, L"n");
        ASSERT_EQ(parent->appendChild(top, nullptr), S_OK);
        top = parent;
    }
    Append(doc, top);
    EXPECT_EQ(TextOf(doc), L"bottom");

    CComPtr<IXMLDOMNode> copy;
    ASSERT_EQ(top->cloneNode(VARIANT_TRUE, &copy), S_OK);
    EXPECT_EQ(TextOf(copy), L"bottom");

    CComPtr<IXMLDOMDocument> other = NewDocument();
    Append(other, copy);  // a move across documents copies the whole depth
    ASSERT_EQ(doc->removeChild(top, nullptr), S_OK);
    doc.Release();
    EXPECT_EQ(TextOf(top), L"bottom");
    EXPECT_EQ(TextOf(other), L"bottom");
}

}  // namespace

namespace {

TEST(DomNames, NamespacesOfCreatedElementsSurviveSerialisation) {
    CComPtr<IXMLDOMDocument> doc = Parsed(L"<r xmlns=\"urn:d\"><in/></r>");
    CComPtr<IXMLDOMNode> root = Select(doc, L"/*");
    // Created without a namespace: kept out of the default one declared above.
    CComPtr<IXMLDOMNode> plain = Element(doc, L"plain");
    Append(root, plain);
    // Created with one: declares it itself, so it is bound wherever it goes.
    VARIANT type;
    VariantInit(&type);
    type.vt = VT_I4;
    type.lVal = NODE_ELEMENT;
    CComPtr<IXMLDOMNode> qualified;
    ASSERT_EQ(doc->createNode(type, Arg(L"p:q"), Arg(L"urn:p"), &qualified), S_OK);
    EXPECT_EQ(Text([&](BSTR* out) { return qualified->get_namespaceURI(out); }), L"urn:p");
    Append(root, qualified);
    // Unprefixed, in a namespace of its own: declares it as the default.
    CComPtr<IXMLDOMNode> defaulted;
    ASSERT_EQ(doc->createNode(type, Arg(L"u"), Arg(L"urn:u"), &defaulted), S_OK);
    EXPECT_EQ(Text([&](BSTR* out) { return defaulted->get_namespaceURI(out); }), L"urn:u");
    Append(root, defaulted);
    const std::wstring xml = Text([&](BSTR* out) { return root->get_xml(out); });
    EXPECT_EQ(xml,
              L"<r xmlns=\"urn:d\"><in/><plain xmlns=\"\"/><p:q xmlns:p=\"urn:p\"/>"
              L"<u xmlns=\"urn:u\"/></r>");
    CComPtr<IXMLDOMDocument> again = Parsed(xml.c_str());
    CComPtr<IXMLDOMNode> reread = Select(again, L"/*/*[local-name()='plain']");
    EXPECT_EQ(Text([&](BSTR* out) { return reread->get_namespaceURI(out); }), L"");
}

// An insertion keeps where the node it placed stands for the next insertion
// under it: a declaration or a detachment made in between must still count.
TEST(DomTree, InsertionsSeeTheChangesMadeBetweenThem) {
    CComPtr<IXMLDOMDocument> doc = Parsed(L"<r/>");
    CComPtr<IXMLDOMNode> root = Select(doc, L"/r");
    CComPtr<IXMLDOMNode> a = Element(doc, L"a");
    Append(root, a);
    CComPtr<IXMLDOMElement> rootElement;
    ASSERT_EQ(root->QueryInterface(IID_IXMLDOMElement, reinterpret_cast<void**>(&rootElement)),
              S_OK);
    VARIANT uri;
    VariantInit(&uri);
    uri.vt = VT_BSTR;
    uri.bstrVal = SysAllocString(L"urn:p");
    ASSERT_EQ(rootElement->setAttribute(Arg(L"xmlns:p"), uri), S_OK);
    ASSERT_EQ(rootElement->setAttribute(Arg(L"xmlns:q"), uri), S_OK);
    VariantClear(&uri);
    CComPtr<IXMLDOMNode> bound = Element(doc, L"p:e");
    Append(a, bound);
    EXPECT_EQ(Text([&](BSTR* out) { return bound->get_namespaceURI(out); }), L"urn:p");

    // Replacing the root's children detaches `a`: q is no longer in scope below it.
    ASSERT_EQ(root->put_text(Arg(L"t")), S_OK);
    CComPtr<IXMLDOMNode> unbound = Element(doc, L"q:g");
    EXPECT_TRUE(FAILED(bound->appendChild(unbound, nullptr)));
    EXPECT_EQ(Text([&](BSTR* out) { return a->get_xml(out); }), L"<a xmlns:p=\"urn:p\"><p:e/></a>");
}

// Nodes that are not children of the parent (an attribute, whose libxml2
// parent is its element; a namespace node; a declaration read from the
// attribute map; the document; a node of another document) are refused as
// the reference node, as the new child (but the node of another document,
// which moves) and as the removed child, and nothing changes.
TEST(DomTree, NodesThatAreNotChildrenAreRefusedAsEveryNodeArgument) {
    CComPtr<IXMLDOMDocument> doc = Parsed(L"<Root xmlns:p='urn:p' ID='1'><a/></Root>");
    CComPtr<IXMLDOMDocument> other = Parsed(L"<Other><b/></Other>");
    CComPtr<IXMLDOMNode> root = Select(doc, L"/Root");
    CComPtr<IXMLDOMNamedNodeMap> map;
    ASSERT_EQ(root->get_attributes(&map), S_OK);
    CComPtr<IXMLDOMNode> declaration;
    ASSERT_EQ(map->getNamedItem(Arg(L"xmlns:p"), &declaration), S_OK);
    struct Stranger {
        CComPtr<IXMLDOMNode> node;
        bool movesAsNewChild;
    };
    const Stranger strangers[] = {{Select(doc, L"/Root/@ID"), false},
                                  {Select(doc, L"/Root/namespace::p"), false},
                                  {declaration, false},
                                  {AsNode(doc), false},
                                  {Select(other, L"/Other/b"), true}};
    const std::wstring xml = XmlOf(doc);
    for (const Stranger& stranger : strangers) {
        SCOPED_TRACE(NameOf(stranger.node));
        VARIANT reference;
        VariantInit(&reference);
        reference.vt = VT_UNKNOWN;
        reference.punkVal = stranger.node;
        EXPECT_TRUE(FAILED(root->insertBefore(Element(doc, L"Item"), reference, nullptr)));
        EXPECT_TRUE(FAILED(doc->insertBefore(Element(doc, L"Item"), reference, nullptr)));
        EXPECT_TRUE(FAILED(root->removeChild(stranger.node, nullptr)));
        EXPECT_TRUE(FAILED(doc->removeChild(stranger.node, nullptr)));
        if (!stranger.movesAsNewChild) {
            EXPECT_TRUE(FAILED(root->appendChild(stranger.node, nullptr)));
            EXPECT_TRUE(FAILED(root->insertBefore(stranger.node, VARIANT(), nullptr)));
        }
        EXPECT_EQ(XmlOf(doc), xml);
    }
    EXPECT_EQ(XmlOf(other), L"<Other><b/></Other>\n");
}

// An element never goes in front of the document type: the file would not load.
TEST(DomTree, ElementIsRefusedInFrontOfTheDocumentType) {
    CComPtr<IXMLDOMDocument> doc = Parsed(L"<!DOCTYPE r><r/>");
    CComPtr<IXMLDOMNode> root = Select(doc, L"/r");
    ASSERT_EQ(doc->removeChild(root, nullptr), S_OK);
    VARIANT reference;
    VariantInit(&reference);
    reference.vt = VT_UNKNOWN;
    ASSERT_EQ(doc->get_firstChild(reinterpret_cast<IXMLDOMNode**>(&reference.punkVal)), S_OK);
    EXPECT_HR(doc->insertBefore(root, reference, nullptr), E_FAIL);
    EXPECT_EQ(doc->appendChild(root, nullptr), S_OK);
    VariantClear(&reference);
    EXPECT_EQ(XmlOf(Parsed(XmlOf(doc).c_str())), XmlOf(doc));
}

}  // namespace
