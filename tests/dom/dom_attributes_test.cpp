// SPDX-License-Identifier: MIT
// Attributes through IXMLDOMElement, IXMLDOMAttribute and the attribute map,
// namespace declarations included.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/xmldom/document_factory.h"
#include "support/dom_test_util.h"
#include "support/test_util.h"
#include "xmlutil/atl.h"
#include "xmlutil/msxml.h"

namespace {

using namespace xmlutil::test::dom;  // NOLINT(google-build-using-namespace)

using xmlutil::test::HrEquals;

CComPtr<IXMLDOMElement> RootOf(IXMLDOMDocument* doc) {
    CComPtr<IXMLDOMElement> root;
    EXPECT_EQ(doc->get_documentElement(&root), S_OK);
    return root;
}

std::wstring Attribute(IXMLDOMElement* element, const wchar_t* name) {
    VARIANT value;
    const HRESULT hr = element->getAttribute(Arg(name), &value);
    if (hr == S_FALSE) {
        EXPECT_EQ(value.vt, VT_NULL);
        return L"<absent>";
    }
    std::wstring text = hr == S_OK && value.vt == VT_BSTR ? value.bstrVal : L"<failed>";
    VariantClear(&value);
    return text;
}

// (base name, text) of every entry of the element's attribute map.
std::vector<std::pair<std::wstring, std::wstring>> MapEntries(IXMLDOMNode* element) {
    std::vector<std::pair<std::wstring, std::wstring>> entries;
    CComPtr<IXMLDOMNamedNodeMap> map;
    if (element->get_attributes(&map) != S_OK) return entries;
    long length = 0;
    map->get_length(&length);
    for (long i = 0; i < length; ++i) {
        CComPtr<IXMLDOMNode> item;
        if (map->get_item(i, &item) != S_OK) continue;
        entries.emplace_back(Text([&](BSTR* out) { return item->get_baseName(out); }),
                             Text([&](BSTR* out) { return item->get_text(out); }));
    }
    return entries;
}

using Entries = std::vector<std::pair<std::wstring, std::wstring>>;

TEST(DomAttributes, MapShowsDeclarationsAsAttributes) {
    CComPtr<IXMLDOMDocument> doc =
        Parsed(L"<r xmlns=\"urn:d\" xmlns:p=\"urn:p\" a=\"1\" p:b=\"2\"/>");
    CComPtr<IXMLDOMElement> root = RootOf(doc);
    EXPECT_EQ(MapEntries(root),
              (Entries{{L"xmlns", L"urn:d"}, {L"p", L"urn:p"}, {L"a", L"1"}, {L"b", L"2"}}));
    CComPtr<IXMLDOMNamedNodeMap> map;
    ASSERT_EQ(root->get_attributes(&map), S_OK);
    CComPtr<IXMLDOMNode> declaration;
    ASSERT_EQ(map->getNamedItem(Arg(L"xmlns:p"), &declaration), S_OK);
    EXPECT_EQ(Text([&](BSTR* out) { return declaration->get_nodeName(out); }), L"xmlns:p");
    EXPECT_EQ(Text([&](BSTR* out) { return declaration->get_prefix(out); }), L"xmlns");
    CComPtr<IXMLDOMNode> prefixed;
    ASSERT_EQ(map->getNamedItem(Arg(L"p:b"), &prefixed), S_OK);
    EXPECT_EQ(Text([&](BSTR* out) { return prefixed->get_namespaceURI(out); }), L"urn:p");
    CComPtr<IXMLDOMNode> absent;
    EXPECT_EQ(map->getNamedItem(Arg(L"b"), &absent), S_FALSE);
    EXPECT_EQ(map->get_item(4, &absent), S_FALSE);
    EXPECT_EQ(absent.p, nullptr);

    // Only elements have a map.
    CComPtr<IXMLDOMNode> text;
    ASSERT_EQ(doc->createTextNode(Arg(L"t"), reinterpret_cast<IXMLDOMText**>(&text)), S_OK);
    CComPtr<IXMLDOMNamedNodeMap> none;
    EXPECT_EQ(text->get_attributes(&none), S_FALSE);
    EXPECT_EQ(none.p, nullptr);
    EXPECT_EQ(doc->get_attributes(&none), S_FALSE);
}

TEST(DomAttributes, SetNamedItemAddsOrReplacesAndKeepsTheOldHandle) {
    CComPtr<IXMLDOMDocument> doc = Parsed(L"<r a=\"old\" b=\"x\"/>");
    CComPtr<IXMLDOMElement> root = RootOf(doc);
    CComPtr<IXMLDOMNamedNodeMap> map;
    ASSERT_EQ(root->get_attributes(&map), S_OK);
    CComPtr<IXMLDOMNode> old;
    ASSERT_EQ(map->getNamedItem(Arg(L"a"), &old), S_OK);

    CComPtr<IXMLDOMAttribute> replacement;
    ASSERT_EQ(doc->createAttribute(Arg(L"a"), &replacement), S_OK);
    ASSERT_EQ(replacement->put_nodeValue(StringValue(L"new & <literal>")), S_OK);
    ASSERT_EQ(map->setNamedItem(replacement, nullptr), S_OK);
    EXPECT_EQ(Attribute(root, L"a"), L"new & <literal>");
    // Replaced in place; the old attribute lives on, detached.
    EXPECT_EQ(MapEntries(root), (Entries{{L"a", L"new & <literal>"}, {L"b", L"x"}}));
    EXPECT_EQ(Text([&](BSTR* out) { return old->get_text(out); }), L"old");

    CComPtr<IXMLDOMAttribute> added;
    ASSERT_EQ(doc->createAttribute(Arg(L"c"), &added), S_OK);
    CComPtr<IXMLDOMNode> returned;
    ASSERT_EQ(map->setNamedItem(added, &returned), S_OK);
    EXPECT_TRUE(returned.IsEqualObject(added));
    EXPECT_EQ(Attribute(root, L"c"), L"");
    // An attribute set on one element cannot be set on another.
    CComPtr<IXMLDOMElement> other;
    ASSERT_EQ(doc->createElement(Arg(L"other"), &other), S_OK);
    CComPtr<IXMLDOMNamedNodeMap> otherMap;
    ASSERT_EQ(other->get_attributes(&otherMap), S_OK);
    EXPECT_TRUE(FAILED(otherMap->setNamedItem(added, nullptr)));
    EXPECT_HR(otherMap->setNamedItem(nullptr, nullptr), E_INVALIDARG);
    EXPECT_HR(otherMap->setNamedItem(other, nullptr), E_INVALIDARG);

    CComPtr<IXMLDOMNode> removed;
    ASSERT_EQ(map->removeNamedItem(Arg(L"b"), &removed), S_OK);
    EXPECT_EQ(Text([&](BSTR* out) { return removed->get_text(out); }), L"x");
    EXPECT_EQ(map->removeNamedItem(Arg(L"b"), nullptr), S_FALSE);
    EXPECT_EQ(Attribute(root, L"b"), L"<absent>");
    CComPtr<IXMLDOMNode> parent;
    EXPECT_EQ(old->get_parentNode(&parent), S_FALSE);
}

TEST(DomAttributes, AttributeFromAnotherDocumentIsAdopted) {
    CComPtr<IXMLDOMDocument> target = Parsed(L"<r/>");
    CComPtr<IXMLDOMElement> root = RootOf(target);
    CComPtr<IXMLDOMAttribute> foreign;
    {
        CComPtr<IXMLDOMDocument> source = Parsed(L"<s/>");
        ASSERT_EQ(source->createAttribute(Arg(L"ID"), &foreign), S_OK);
        ASSERT_EQ(foreign->put_value(StringValue(L"Win32_001122334455")), S_OK);
    }
    CComPtr<IXMLDOMNamedNodeMap> map;
    ASSERT_EQ(root->get_attributes(&map), S_OK);
    ASSERT_EQ(map->setNamedItem(foreign, nullptr), S_OK);
    EXPECT_EQ(Attribute(root, L"ID"), L"Win32_001122334455");
    CComPtr<IXMLDOMDocument> owner;
    ASSERT_EQ(foreign->get_ownerDocument(&owner), S_OK);
    EXPECT_TRUE(owner.IsEqualObject(target));
    EXPECT_EQ(Text([&](BSTR* out) { return root->get_xml(out); }),
              L"<r ID=\"Win32_001122334455\"/>");
}

TEST(DomAttributes, ElementAttributeMethods) {
    CComPtr<IXMLDOMDocument> doc = Parsed(L"<r xmlns:p=\"urn:p\"/>");
    CComPtr<IXMLDOMElement> root = RootOf(doc);
    EXPECT_EQ(Attribute(root, L"missing"), L"<absent>");
    ASSERT_EQ(root->setAttribute(Arg(L"a"), StringValue(L"1")), S_OK);
    ASSERT_EQ(root->setAttribute(Arg(L"a"), StringValue(L"2")), S_OK);
    ASSERT_EQ(root->setAttribute(Arg(L"p:a"), StringValue(L"3")), S_OK);
    EXPECT_EQ(Attribute(root, L"a"), L"2");
    EXPECT_EQ(Attribute(root, L"p:a"), L"3");
    EXPECT_EQ(Attribute(root, L"xmlns:p"), L"urn:p");
    VARIANT number;
    VariantInit(&number);
    number.vt = VT_I4;
    number.lVal = -42;
    ASSERT_EQ(root->setAttribute(Arg(L"n"), number), S_OK);
    EXPECT_EQ(Attribute(root, L"n"), L"-42");

    // Refusals change nothing.
    EXPECT_HR(root->setAttribute(Arg(L"q:a"), StringValue(L"x")), E_INVALIDARG);
    EXPECT_HR(root->setAttribute(Arg(L"1bad"), StringValue(L"x")), E_INVALIDARG);
    const wchar_t control[] = {L'v', 0x1F, 0};
    EXPECT_HR(root->setAttribute(Arg(L"a"), StringValue(control)), E_INVALIDARG);
    EXPECT_EQ(Attribute(root, L"a"), L"2");
    // A declaration still used cannot be removed or re-bound.
    EXPECT_TRUE(FAILED(root->removeAttribute(Arg(L"xmlns:p"))));
    EXPECT_TRUE(FAILED(root->setAttribute(Arg(L"xmlns:p"), StringValue(L"urn:other"))));
    EXPECT_EQ(Attribute(root, L"xmlns:p"), L"urn:p");

    ASSERT_EQ(root->removeAttribute(Arg(L"p:a")), S_OK);
    ASSERT_EQ(root->removeAttribute(Arg(L"xmlns:p")), S_OK);
    EXPECT_EQ(root->removeAttribute(Arg(L"xmlns:p")), S_FALSE);
    ASSERT_EQ(root->setAttribute(Arg(L"xmlns:q"), StringValue(L"urn:q")), S_OK);
    ASSERT_EQ(root->setAttribute(Arg(L"q:z"), StringValue(L"ok")), S_OK);
    EXPECT_EQ(Text([&](BSTR* out) { return root->get_xml(out); }),
              L"<r xmlns:q=\"urn:q\" a=\"2\" n=\"-42\" q:z=\"ok\"/>");
}

TEST(DomAttributes, AttributeNodeReadsAsValueAndHasNoParent) {
    CComPtr<IXMLDOMDocument> doc = Parsed(L"<r k=\"v\"/>");
    CComPtr<IXMLDOMNode> attribute;
    ASSERT_EQ(doc->selectSingleNode(Arg(L"/r/@k"), &attribute), S_OK);
    DOMNodeType type = NODE_INVALID;
    attribute->get_nodeType(&type);
    EXPECT_EQ(type, NODE_ATTRIBUTE);
    CComPtr<IXMLDOMNode> parent;
    EXPECT_EQ(attribute->get_parentNode(&parent), S_FALSE);
    EXPECT_EQ(parent.p, nullptr);
    CComPtr<IXMLDOMAttribute> typed;
    ASSERT_EQ(attribute.QueryInterface(&typed), S_OK);
    EXPECT_EQ(Text([&](BSTR* out) { return typed->get_name(out); }), L"k");
    ASSERT_EQ(attribute->put_text(Arg(L"&amp;")), S_OK);
    VARIANT value;
    ASSERT_EQ(typed->get_value(&value), S_OK);
    EXPECT_STREQ(value.bstrVal, L"&amp;");
    VariantClear(&value);
    const std::wstring xml = Text([&](BSTR* out) { return doc->get_xml(out); });
    EXPECT_NE(xml.find(L"k=\"&amp;amp;\""), std::wstring::npos) << xml;
}

TEST(DomAttributes, IdTableFollowsValueChanges) {
    CComPtr<IXMLDOMDocument> doc = Parsed(L"<r><a xml:id=\"one\">A</a><b>B</b></r>");
    CComPtr<IXMLDOMNode> id;
    ASSERT_EQ(doc->selectSingleNode(Arg(L"/r/a/@xml:id"), &id), S_OK);
    CComPtr<IXMLDOMNode> found;
    ASSERT_EQ(doc->selectSingleNode(Arg(L"id('one')"), &found), S_OK);
    EXPECT_EQ(Text([&](BSTR* out) { return found->get_text(out); }), L"A");
    found.Release();

    ASSERT_EQ(id->put_text(Arg(L"two")), S_OK);
    EXPECT_EQ(doc->selectSingleNode(Arg(L"id('one')"), &found), S_FALSE);
    ASSERT_EQ(doc->selectSingleNode(Arg(L"id('two')"), &found), S_OK);
    EXPECT_EQ(Text([&](BSTR* out) { return found->get_text(out); }), L"A");
    found.Release();

    // Removing the element takes its ID out of the table; the handle survives.
    CComPtr<IXMLDOMNode> root;
    ASSERT_EQ(doc->selectSingleNode(Arg(L"/r"), &root), S_OK);
    CComPtr<IXMLDOMNode> a;
    ASSERT_EQ(doc->selectSingleNode(Arg(L"/r/a"), &a), S_OK);
    ASSERT_EQ(root->removeChild(a, nullptr), S_OK);
    EXPECT_EQ(doc->selectSingleNode(Arg(L"id('two')"), &found), S_FALSE);
    a.Release();
    id.Release();
    EXPECT_EQ(doc->selectSingleNode(Arg(L"id('two')"), &found), S_FALSE);
}

}  // namespace
