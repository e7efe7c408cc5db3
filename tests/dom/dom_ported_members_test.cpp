// SPDX-License-Identifier: MIT
// The members ported code calls beyond the basic ones: interface IDs,
// character data, splitText, replaceChild, normalize, fragments, attribute
// nodes, qualified map items, search by tag name or ID, and the document's
// state. Handles to the nodes each edit touches are used again afterwards,
// so a dangling one shows up under the sanitizer build.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/dom_test_util.h"
#include "support/test_util.h"

namespace {

using namespace xmlutil::test::dom;  // NOLINT(google-build-using-namespace)

template <class I>
CComPtr<I> As(IUnknown* object) {
    CComPtr<I> out;
    if (object != nullptr) object->QueryInterface(__uuidof(I), reinterpret_cast<void**>(&out));
    return out;
}

CComPtr<IXMLDOMNode> Select(IXMLDOMNode* context, const wchar_t* path) {
    CComPtr<IXMLDOMNode> node;
    EXPECT_EQ(context->selectSingleNode(Arg(path), &node), S_OK) << path;
    return node;
}

// The slot of a handle emptied first (a call fills it without releasing).
template <class I>
I** Out(CComPtr<I>& handle) {
    handle.Release();
    return &handle;
}

std::wstring DataOf(IXMLDOMCharacterData* data) {
    return Text([&](BSTR* out) { return data->get_data(out); });
}

CComPtr<IXMLDOMNode> Parent(IXMLDOMNode* node) {
    CComPtr<IXMLDOMNode> parent;
    node->get_parentNode(&parent);
    return parent;
}

long LengthOf(IXMLDOMNodeList* list) {
    long length = -1;
    list->get_length(&length);
    return length;
}

constexpr wchar_t kMixed[] =
    L"<!DOCTYPE r [<!ATTLIST e id ID #IMPLIED>]>"
    L"<r a='1'><e id='x1'>text<![CDATA[cd]]><!--note--><?pi data?></e><e/></r>";

TEST(DomPortedMembers, EachNodeKindAnswersItsInterfacesAndTypeString) {
    CComPtr<IXMLDOMDocument> doc = Parsed(kMixed);
    struct Case {
        const wchar_t* path;
        const wchar_t* typeString;
        IID iid;
        bool characterData;
    };
    const Case cases[] = {
        {L"/r", L"element", IID_IXMLDOMElement, false},
        {L"/r/@a", L"attribute", IID_IXMLDOMAttribute, false},
        {L"//e/text()", L"text", IID_IXMLDOMText, true},
        {L"//e/text()[2]", L"cdatasection", IID_IXMLDOMCDATASection, true},
        {L"//comment()", L"comment", IID_IXMLDOMComment, true},
        {L"//processing-instruction()", L"processinginstruction", IID_IXMLDOMProcessingInstruction,
         false},
    };
    for (const Case& c : cases) {
        CComPtr<IXMLDOMNode> node = Select(doc, c.path);
        ASSERT_TRUE(node) << c.path;
        EXPECT_EQ(Text([&](BSTR* out) { return node->get_nodeTypeString(out); }), c.typeString);
        void* typed = nullptr;
        EXPECT_EQ(node->QueryInterface(c.iid, &typed), S_OK) << c.path;
        if (typed != nullptr) static_cast<IUnknown*>(typed)->Release();
        EXPECT_EQ(As<IXMLDOMCharacterData>(node) != nullptr, c.characterData) << c.path;
    }
    CComPtr<IXMLDOMDocumentType> doctype;
    ASSERT_EQ(doc->get_doctype(&doctype), S_OK);
    EXPECT_EQ(Text([&](BSTR* out) { return doctype->get_name(out); }), L"r");
    EXPECT_EQ(Text([&](BSTR* out) { return doctype->get_nodeTypeString(out); }), L"documenttype");
    EXPECT_EQ(Text([&](BSTR* out) { return doc->get_nodeTypeString(out); }), L"document");
    CComPtr<IXMLDOMDocumentFragment> fragment;
    ASSERT_EQ(doc->createDocumentFragment(&fragment), S_OK);
    EXPECT_EQ(Text([&](BSTR* out) { return fragment->get_nodeTypeString(out); }),
              L"documentfragment");
}

TEST(DomPortedMembers, CharacterDataEditsCountWideCharacters) {
    CComPtr<IXMLDOMDocument> doc = Parsed(L"<r>a\U0001F600bcd</r>");
    CComPtr<IXMLDOMText> text = As<IXMLDOMText>(Select(doc, L"/r/text()"));
    ASSERT_TRUE(text);
    long length = 0;
    EXPECT_EQ(text->get_length(&length), S_OK);
    EXPECT_EQ(length, 5);  // the emoji is one unit
    EXPECT_EQ(Text([&](BSTR* out) { return text->substringData(1, 2, out); }), L"\U0001F600b");
    EXPECT_EQ(Text([&](BSTR* out) { return text->substringData(3, 99, out); }), L"cd");
    EXPECT_EQ(text->insertData(1, Arg(L"<")), S_OK);
    EXPECT_EQ(text->deleteData(2, 1), S_OK);
    EXPECT_EQ(text->replaceData(2, 1, Arg(L"B")), S_OK);
    EXPECT_EQ(text->appendData(Arg(L"&")), S_OK);
    EXPECT_EQ(DataOf(text), L"a<Bcd&");
    EXPECT_EQ(XmlOf(Select(doc, L"/r")), L"<r>a&lt;Bcd&amp;</r>");

    for (long offset : {-1L, 7L}) {
        BSTR out = nullptr;
        EXPECT_HR(text->substringData(offset, 1, &out), E_INVALIDARG);
        EXPECT_HR(text->deleteData(offset, 1), E_INVALIDARG);
    }
    EXPECT_HR(text->deleteData(0, -1), E_INVALIDARG);
    EXPECT_EQ(DataOf(text), L"a<Bcd&");
}

TEST(DomPortedMembers, CharacterDataEditsKeepTheRefusalsOfEachKind) {
    CComPtr<IXMLDOMDocument> doc = Parsed(L"<r><!--a-x-b--><![CDATA[]]]></r>");
    CComPtr<IXMLDOMComment> comment = As<IXMLDOMComment>(Select(doc, L"//comment()"));
    CComPtr<IXMLDOMCDATASection> cdata = As<IXMLDOMCDATASection>(Select(doc, L"/r/text()"));
    ASSERT_TRUE(comment && cdata);
    EXPECT_HR(comment->deleteData(2, 1), E_INVALIDARG);  // would make "a--b"
    EXPECT_HR(comment->appendData(Arg(L"-")), E_INVALIDARG);
    EXPECT_HR(cdata->appendData(Arg(L"]>")), E_INVALIDARG);
    const wchar_t control[] = {L'x', 0x1, 0};
    EXPECT_HR(comment->insertData(0, Arg(control)), E_INVALIDARG);
    EXPECT_EQ(DataOf(comment), L"a-x-b");
    EXPECT_EQ(DataOf(cdata), L"]");

    CComPtr<IXMLDOMProcessingInstruction> pi;
    ASSERT_EQ(doc->createProcessingInstruction(Arg(L"t"), Arg(L"d"), &pi), S_OK);
    EXPECT_EQ(Text([&](BSTR* out) { return pi->get_target(out); }), L"t");
    EXPECT_HR(pi->put_data(Arg(L"a?>b")), E_INVALIDARG);
    EXPECT_EQ(pi->put_data(Arg(L"e")), S_OK);
    EXPECT_EQ(Text([&](BSTR* out) { return pi->get_data(out); }), L"e");
}

TEST(DomPortedMembers, SplitTextKeepsBothHalvesInPlaceAndValid) {
    for (const wchar_t* xml : {L"<r>hello world<x/></r>", L"<r><![CDATA[hello world]]><x/></r>"}) {
        CComPtr<IXMLDOMDocument> doc = Parsed(xml);
        CComPtr<IXMLDOMText> left = As<IXMLDOMText>(Select(doc, L"/r/text()"));
        ASSERT_TRUE(left);
        CComPtr<IXMLDOMText> right;
        ASSERT_EQ(left->splitText(5, Out(right)), S_OK);
        doc.Release();  // the handles keep the document
        EXPECT_EQ(DataOf(left), L"hello");
        EXPECT_EQ(DataOf(right), L" world");
        EXPECT_EQ(NameOf(right), NameOf(left));
        CComPtr<IXMLDOMNode> next;
        ASSERT_EQ(left->get_nextSibling(&next), S_OK);
        EXPECT_TRUE(next.IsEqualObject(right));
        EXPECT_EQ(TextOf(Parent(right)), L"hello world");
        EXPECT_HR(left->splitText(6, Out(right)), E_INVALIDARG);
    }
}

TEST(DomPortedMembers, ReplaceChildDetachesTheOldNodeAndRefusesWithTreeUnchanged) {
    CComPtr<IXMLDOMDocument> doc = Parsed(L"<r><a/><b/></r>");
    CComPtr<IXMLDOMNode> r = Select(doc, L"/r");
    CComPtr<IXMLDOMNode> a = Select(doc, L"/r/a");
    CComPtr<IXMLDOMNode> b = Select(doc, L"/r/b");
    CComPtr<IXMLDOMElement> c;
    ASSERT_EQ(doc->createElement(Arg(L"c"), &c), S_OK);
    CComPtr<IXMLDOMNode> old;
    ASSERT_EQ(r->replaceChild(c, a, Out(old)), S_OK);
    EXPECT_TRUE(old.IsEqualObject(a));
    EXPECT_EQ(XmlOf(r), L"<r><c/><b/></r>");
    EXPECT_FALSE(Parent(a));
    EXPECT_EQ(As<IXMLDOMElement>(a)->setAttribute(Arg(L"k"), StringValue(L"v")), S_OK);
    EXPECT_EQ(XmlOf(a), L"<a k=\"v\"/>");

    EXPECT_HR(r->replaceChild(b, a, Out(old)), E_INVALIDARG);  // a is no child now
    CComPtr<IXMLDOMAttribute> attribute;
    ASSERT_EQ(doc->createAttribute(Arg(L"n"), &attribute), S_OK);
    EXPECT_HR(r->replaceChild(attribute, b, Out(old)), E_FAIL);
    EXPECT_HR(r->replaceChild(r, b, Out(old)), E_FAIL);  // an ancestor of itself
    EXPECT_EQ(XmlOf(r), L"<r><c/><b/></r>");
    EXPECT_EQ(r->replaceChild(b, c, Out(old)), S_OK);  // its own next sibling takes its place
    EXPECT_EQ(XmlOf(doc), L"<r><b/></r>\n");

    ASSERT_EQ(doc->putref_documentElement(As<IXMLDOMElement>(a)), S_OK);
    EXPECT_EQ(XmlOf(doc), L"<a k=\"v\"/>\n");
    EXPECT_FALSE(Parent(r));
    EXPECT_EQ(XmlOf(r), L"<r><b/></r>");
}

TEST(DomPortedMembers, NormalizeJoinsTextIntoTheFirstNodeAndKeepsTheOthersValid) {
    CComPtr<IXMLDOMDocument> doc = Parsed(L"<r><x/></r>");
    CComPtr<IXMLDOMNode> r = Select(doc, L"/r");
    std::vector<CComPtr<IXMLDOMText>> texts;
    for (const wchar_t* data : {L"a", L"", L"b"}) {
        CComPtr<IXMLDOMText> text;
        ASSERT_EQ(doc->createTextNode(Arg(data), &text), S_OK);
        CComPtr<IXMLDOMNode> x = Select(doc, L"/r/x");
        ASSERT_EQ(x->appendChild(text, nullptr), S_OK);
        texts.push_back(text);
    }
    ASSERT_EQ(As<IXMLDOMElement>(r)->normalize(), S_OK);
    CComPtr<IXMLDOMNodeList> children;
    ASSERT_EQ(Select(doc, L"/r/x")->get_childNodes(&children), S_OK);
    EXPECT_EQ(LengthOf(children), 1);
    EXPECT_EQ(DataOf(texts[0]), L"ab");
    EXPECT_FALSE(Parent(texts[2]));
    EXPECT_EQ(DataOf(texts[2]), L"b");
    EXPECT_EQ(texts[2]->appendData(Arg(L"!")), S_OK);
    EXPECT_EQ(XmlOf(r), L"<r><x>ab</x></r>");
}

TEST(DomPortedMembers, AppendingAFragmentMovesItsChildrenOrNothing) {
    CComPtr<IXMLDOMDocument> doc = Parsed(L"<r><z/></r>");
    CComPtr<IXMLDOMDocumentFragment> fragment;
    ASSERT_EQ(doc->createDocumentFragment(&fragment), S_OK);
    CComPtr<IXMLDOMElement> a;
    CComPtr<IXMLDOMElement> b;
    ASSERT_EQ(doc->createElement(Arg(L"a"), &a), S_OK);
    ASSERT_EQ(doc->createElement(Arg(L"b"), &b), S_OK);
    ASSERT_EQ(fragment->appendChild(a, nullptr), S_OK);
    ASSERT_EQ(fragment->appendChild(b, nullptr), S_OK);
    EXPECT_EQ(XmlOf(fragment), L"<a/><b/>");

    {  // a fragment never inserted goes with its children (the leak check sees it)
        CComPtr<IXMLDOMDocumentFragment> dropped;
        ASSERT_EQ(doc->createDocumentFragment(&dropped), S_OK);
        CComPtr<IXMLDOMElement> orphan;
        ASSERT_EQ(doc->createElement(Arg(L"o"), &orphan), S_OK);
        ASSERT_EQ(dropped->appendChild(orphan, nullptr), S_OK);
    }

    CComPtr<IXMLDOMDocument> empty = NewDocument();
    EXPECT_HR(empty->appendChild(fragment, nullptr), E_FAIL);  // two document elements
    EXPECT_EQ(XmlOf(fragment), L"<a/><b/>");

    CComPtr<IXMLDOMNode> z = Select(doc, L"/r/z");
    VARIANT before;
    VariantInit(&before);
    before.vt = VT_UNKNOWN;
    before.punkVal = z;
    CComPtr<IXMLDOMNode> out;
    ASSERT_EQ(Select(doc, L"/r")->insertBefore(fragment, before, &out), S_OK);
    EXPECT_TRUE(out.IsEqualObject(fragment));
    EXPECT_EQ(XmlOf(doc), L"<r><a/><b/><z/></r>\n");
    VARIANT_BOOL has = VARIANT_TRUE;
    EXPECT_EQ(fragment->hasChildNodes(&has), S_FALSE);
    EXPECT_EQ(NameOf(Parent(b)), L"r");
    EXPECT_EQ(b->setAttribute(Arg(L"k"), StringValue(L"v")), S_OK);
    EXPECT_EQ(XmlOf(Select(doc, L"/r")), L"<r><a/><b k=\"v\"/><z/></r>");
}

TEST(DomPortedMembers, AttributeNodesAreFoundSetAndRemovedByNode) {
    CComPtr<IXMLDOMDocument> doc = Parsed(L"<r xmlns:p='urn:p' a='1' p:a='2'/>");
    CComPtr<IXMLDOMElement> r = As<IXMLDOMElement>(Select(doc, L"/r"));
    CComPtr<IXMLDOMAttribute> a;
    ASSERT_EQ(r->getAttributeNode(Arg(L"a"), &a), S_OK);
    EXPECT_EQ(TextOf(a), L"1");
    EXPECT_EQ(r->getAttributeNode(Arg(L"none"), Out(a)), S_FALSE);
    EXPECT_FALSE(a);

    CComPtr<IXMLDOMAttribute> fresh;
    ASSERT_EQ(doc->createAttribute(Arg(L"a"), &fresh), S_OK);
    ASSERT_EQ(fresh->put_value(StringValue(L"new")), S_OK);
    CComPtr<IXMLDOMAttribute> replaced;
    ASSERT_EQ(r->setAttributeNode(fresh, &replaced), S_OK);
    ASSERT_TRUE(replaced);
    EXPECT_EQ(TextOf(replaced), L"1");
    CComPtr<IXMLDOMElement> other;
    ASSERT_EQ(doc->createElement(Arg(L"o"), &other), S_OK);
    EXPECT_HR(other->setAttributeNode(fresh, nullptr), E_FAIL);  // in use by r

    CComPtr<IXMLDOMAttribute> removed;
    EXPECT_HR(other->removeAttributeNode(fresh, &removed), E_INVALIDARG);
    ASSERT_EQ(r->removeAttributeNode(fresh, &removed), S_OK);
    EXPECT_TRUE(removed.IsEqualObject(fresh));
    EXPECT_EQ(TextOf(fresh), L"new");
    EXPECT_EQ(XmlOf(r), L"<r xmlns:p=\"urn:p\" p:a=\"2\"/>");

    CComPtr<IXMLDOMNamedNodeMap> map;
    ASSERT_EQ(r->get_attributes(&map), S_OK);
    CComPtr<IXMLDOMNode> item;
    ASSERT_EQ(map->getQualifiedItem(Arg(L"a"), Arg(L"urn:p"), Out(item)), S_OK);
    EXPECT_EQ(TextOf(item), L"2");
    EXPECT_EQ(map->getQualifiedItem(Arg(L"a"), nullptr, Out(item)), S_FALSE);
    ASSERT_EQ(map->getQualifiedItem(Arg(L"p"), Arg(L"http://www.w3.org/2000/xmlns/"), Out(item)),
              S_OK);
    EXPECT_EQ(TextOf(item), L"urn:p");
    std::vector<std::wstring> names;
    for (CComPtr<IXMLDOMNode> next; map->nextNode(&next) == S_OK; next.Release()) {
        names.push_back(NameOf(next));
    }
    EXPECT_EQ(names, (std::vector<std::wstring>{L"xmlns:p", L"p:a"}));
    EXPECT_EQ(map->reset(), S_OK);
    ASSERT_EQ(map->removeQualifiedItem(Arg(L"a"), Arg(L"urn:p"), Out(item)), S_OK);
    EXPECT_EQ(map->nextNode(Out(item)), S_OK);
    EXPECT_EQ(NameOf(item), L"xmlns:p");
    EXPECT_EQ(map->nextNode(Out(item)), S_FALSE);
}

TEST(DomPortedMembers, ElementsAreFoundByTagNameAndId) {
    CComPtr<IXMLDOMDocument> doc = Parsed(kMixed);
    CComPtr<IXMLDOMElement> r = As<IXMLDOMElement>(Select(doc, L"/r"));
    for (const wchar_t* name : {L"e", L"*", L"r", L"none"}) {
        CComPtr<IXMLDOMNodeList> fromDoc;
        CComPtr<IXMLDOMNodeList> fromRoot;
        ASSERT_EQ(doc->getElementsByTagName(Arg(name), &fromDoc), S_OK);
        ASSERT_EQ(r->getElementsByTagName(Arg(name), &fromRoot), S_OK);
        const std::wstring name_(name);
        const long expected = name_ == L"e" ? 2 : name_ == L"*" ? 3 : name_ == L"r" ? 1 : 0;
        EXPECT_EQ(LengthOf(fromDoc), expected) << name;
        EXPECT_EQ(LengthOf(fromRoot), expected - (name_ == L"*" || name_ == L"r" ? 1 : 0)) << name;
    }
    CComPtr<IXMLDOMNode> found;
    ASSERT_EQ(doc->nodeFromID(Arg(L"x1"), Out(found)), S_OK);
    EXPECT_TRUE(found.IsEqualObject(Select(doc, L"//e[1]")));
    EXPECT_EQ(doc->nodeFromID(Arg(L"x2"), Out(found)), S_FALSE);
}

TEST(DomPortedMembers, EntityReferencesJoinATreeOnlyWhereTheyResolve) {
    CComPtr<IXMLDOMDocument> doc = Parsed(L"<r/>");
    CComPtr<IXMLDOMNode> r = Select(doc, L"/r");
    CComPtr<IXMLDOMEntityReference> amp;
    ASSERT_EQ(doc->createEntityReference(Arg(L"amp"), &amp), S_OK);
    ASSERT_EQ(r->appendChild(amp, nullptr), S_OK);
    EXPECT_EQ(XmlOf(r), L"<r>&amp;</r>");
    CComPtr<IXMLDOMEntityReference> unknown;
    ASSERT_EQ(doc->createEntityReference(Arg(L"undeclared"), Out(unknown)), S_OK);
    EXPECT_HR(r->appendChild(unknown, nullptr), E_FAIL);
    EXPECT_HR(doc->createEntityReference(Arg(L"a b"), Out(unknown)), E_INVALIDARG);
    EXPECT_EQ(XmlOf(r), L"<r>&amp;</r>");
    // Copied and moved like any other child.
    CComPtr<IXMLDOMNode> copy;
    ASSERT_EQ(r->cloneNode(VARIANT_TRUE, &copy), S_OK);
    CComPtr<IXMLDOMDocument> other = Parsed(L"<o/>");
    ASSERT_EQ(Select(other, L"/o")->appendChild(copy, nullptr), S_OK);
    ASSERT_EQ(Select(other, L"/o")->appendChild(amp, nullptr), S_OK);
    EXPECT_EQ(XmlOf(Select(other, L"/o")), L"<o><r>&amp;</r>&amp;</o>");

    // Under an external DTD (never read) an undeclared entity still loads.
    CComPtr<IXMLDOMDocument> page = Parsed(L"<!DOCTYPE p SYSTEM 'p.dtd'><p><a>&nbsp;</a><b/></p>");
    CComPtr<IXMLDOMNode> nbsp;
    ASSERT_EQ(Select(page, L"/p/a")->get_firstChild(&nbsp), S_OK);
    EXPECT_EQ(Text([&](BSTR* out) { return nbsp->get_nodeTypeString(out); }), L"entityreference");
    EXPECT_EQ(Select(page, L"/p/b")->appendChild(nbsp, nullptr), S_OK);
    EXPECT_EQ(XmlOf(Select(page, L"/p")), L"<p><a/><b>&nbsp;</b></p>");
    EXPECT_HR(r->appendChild(nbsp, nullptr), E_FAIL);
}

TEST(DomPortedMembers, DocumentReportsItsStateAndTypedValuesAreText) {
    CComPtr<IXMLDOMDocument> doc = Parsed(L"<r>5</r>");
    long state = 0;
    EXPECT_EQ(doc->get_readyState(&state), S_OK);
    EXPECT_EQ(state, 4);
    BSTR url = nullptr;
    EXPECT_EQ(doc->get_url(&url), S_FALSE);
    EXPECT_EQ(url, nullptr);
    EXPECT_EQ(doc->abort(), S_OK);
    VARIANT_BOOL resolve = VARIANT_TRUE;
    EXPECT_EQ(doc->put_resolveExternals(VARIANT_TRUE), S_OK);
    EXPECT_EQ(doc->get_resolveExternals(&resolve), S_OK);
    EXPECT_EQ(resolve, VARIANT_TRUE);

    CComPtr<IXMLDOMNode> r = Select(doc, L"/r");
    VARIANT value;
    ASSERT_EQ(r->get_nodeTypedValue(&value), S_OK);
    EXPECT_EQ(value.vt, VT_BSTR);
    EXPECT_EQ(std::wstring(value.bstrVal), L"5");
    VariantClear(&value);
    ASSERT_EQ(r->get_dataType(&value), S_FALSE);
    EXPECT_EQ(value.vt, VT_NULL);
    EXPECT_EQ(r->put_nodeTypedValue(StringValue(L"six")), S_OK);
    EXPECT_EQ(XmlOf(r), L"<r>six</r>");
    BSTR out = nullptr;
    EXPECT_HR(r->transformNode(doc, &out), E_NOTIMPL);

    xmlutil::test::TempDir dir;
    ASSERT_EQ(doc->save(StringValue(dir.WideFile("d.xml"))), S_OK);
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(doc->load(StringValue(dir.WideFile("d.xml")), &ok), S_OK);
    EXPECT_EQ(Text([&](BSTR* got) { return doc->get_url(got); }), dir.WideFile("d.xml"));
    ASSERT_EQ(doc->loadXML(Arg(L"<r/>"), &ok), S_OK);
    EXPECT_EQ(doc->get_url(&url), S_FALSE);
}

}  // namespace

TEST(DomPortedMembers, ValueSettersTakeEveryVariantAsItsText) {
    struct Case {
        VARTYPE vt;
        const wchar_t* text;
        void (*fill)(VARIANT&);
    };
    const Case cases[] = {
        {VT_BOOL, L"-1", [](VARIANT& v) { v.boolVal = VARIANT_TRUE; }},
        {VT_R8, L"0.1", [](VARIANT& v) { v.dblVal = 0.1; }},
        {VT_I8, L"9007199254740993", [](VARIANT& v) { v.llVal = 9007199254740993LL; }},
        {VT_UI4, L"4294967295", [](VARIANT& v) { v.ulVal = 4294967295u; }},
        {VT_DATE, L"2024-03-01", [](VARIANT& v) { v.date = 45352.0; }},
        {VT_I2, L"-7", [](VARIANT& v) { v.iVal = -7; }},
    };
    CComPtr<IXMLDOMDocument> doc = Parsed(L"<r a=''><e/>t</r>");
    CComPtr<IXMLDOMElement> r = As<IXMLDOMElement>(Select(doc, L"/r"));
    CComPtr<IXMLDOMAttribute> a = As<IXMLDOMAttribute>(Select(doc, L"/r/@a"));
    CComPtr<IXMLDOMNode> e = Select(doc, L"/r/e");
    CComPtr<IXMLDOMNode> t = Select(doc, L"/r/text()");
    for (const Case& c : cases) {
        VARIANT value;
        VariantInit(&value);
        value.vt = c.vt;
        c.fill(value);
        ASSERT_EQ(r->setAttribute(Arg(L"k"), value), S_OK) << c.text;
        ASSERT_EQ(a->put_value(value), S_OK);
        ASSERT_EQ(e->put_nodeTypedValue(value), S_OK);
        ASSERT_EQ(t->put_nodeValue(value), S_OK);
        const std::wstring x(c.text);
        EXPECT_EQ(XmlOf(r),
                  L"<r a=\"" + x + L"\" k=\"" + x + L"\"><e>" + x + L"</e>" + x + L"</r>");
    }
    VARIANT nothing;
    VariantInit(&nothing);
    EXPECT_HR(r->setAttribute(Arg(L"k"), nothing), E_INVALIDARG);
    EXPECT_HR(t->put_nodeValue(nothing), E_INVALIDARG);
    EXPECT_EQ(TextOf(t), L"-7");
}
