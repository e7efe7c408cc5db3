// SPDX-License-Identifier: MIT
// IXMLDOMDocument2: how it is reached, its properties, and how prefixes in
// expressions resolve when SelectionNamespaces leaves them open.
#include <gtest/gtest.h>

#include <string>

#include "support/dom_test_util.h"
#include "support/test_util.h"
#include "xmlutil/XMLUtil.h"

namespace {

using namespace xmlutil::test::dom;  // NOLINT(google-build-using-namespace)

CComPtr<IXMLDOMDocument2> Document2(IXMLDOMDocument* doc) {
    CComPtr<IXMLDOMDocument2> doc2;
    EXPECT_EQ(doc->QueryInterface(IID_IXMLDOMDocument2, reinterpret_cast<void**>(&doc2)), S_OK);
    return doc2;
}

VARIANT Bool(bool value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

VARIANT Long(long value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = static_cast<LONG>(value);
    return v;
}

std::wstring StringProperty(IXMLDOMDocument2* doc, const wchar_t* name) {
    VARIANT v;
    VariantInit(&v);
    if (doc->getProperty(Arg(name), &v) != S_OK || v.vt != VT_BSTR) return L"<failed>";
    std::wstring text = v.bstrVal != nullptr ? v.bstrVal : L"";
    VariantClear(&v);
    return text;
}

long ErrorCodeOf(IXMLDOMDocument* doc) {
    CComPtr<IXMLDOMParseError> error;
    long code = -1;
    if (doc->get_parseError(&error) == S_OK) error->get_errorCode(&code);
    return code;
}

// The description of this thread's error object (taking it), as
// _com_error::Description reads it.
std::string FailureOf(IXMLDOMDocument*) {
    CComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK) return "<none>";
    BSTR description = nullptr;
    info->GetDescription(&description);
    std::string text;  // the reasons tested here are ASCII
    for (const wchar_t* c = description; c != nullptr && *c != L'\0'; ++c) {
        text += static_cast<char>(*c);
    }
    SysFreeString(description);
    return text;
}

TEST(Document2, EveryClassNameCreatesTheSameDocument) {
    for (const CLSID& clsid : {CLSID_DOMDocument, CLSID_DOMDocument30, CLSID_DOMDocument60,
                               CLSID_FreeThreadedDOMDocument, CLSID_FreeThreadedDOMDocument30,
                               CLSID_FreeThreadedDOMDocument60}) {
        CComPtr<IXMLDOMDocument2> doc;
        ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument2,
                                   reinterpret_cast<void**>(&doc)),
                  S_OK);
        CComPtr<IUnknown> asDocument, asDocument2;
        doc->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&asDocument));
        Document2(doc)->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&asDocument2));
        EXPECT_EQ(asDocument, asDocument2);
        EXPECT_EQ(doc->validate(nullptr), E_NOTIMPL);
        EXPECT_EQ(doc->get_namespaces(nullptr), E_NOTIMPL);
    }
}

TEST(Document2, PropertiesTakeTheirValuesAndRefuseTheRest) {
    CComPtr<IXMLDOMDocument2> doc = Document2(NewDocument());
    // A string value, or else a VT_BOOL (number 1 or 0) or VT_I4 (other numbers).
    const struct {
        const wchar_t* name;
        const wchar_t* text;
        long number;
        HRESULT set;
        HRESULT get;
    } cases[] = {
        {L"NoSuchProperty", nullptr, 1, E_INVALIDARG, E_INVALIDARG},
        {L"selectionlanguage", L"XPath", 0, E_INVALIDARG, E_INVALIDARG},  // names are exact
        {L"ProhibitDTD", L"true", 0, E_INVALIDARG, S_OK},
        {L"MaxElementDepth", nullptr, -1, E_INVALIDARG, S_OK},
        {L"SelectionNamespaces", nullptr, 1, E_INVALIDARG, S_OK},
        {L"SelectionLanguage", L"XQuery", 0, E_FAIL, S_OK},
        {L"SelectionLanguage", L"XSLPattern", 0, S_OK, S_OK},
        {L"ValidateOnParse", nullptr, 0, S_OK, S_OK},
        {L"ResolveExternals", nullptr, 1, S_OK, S_OK},
        {L"AllowDocumentFunction", nullptr, 1, S_OK, S_OK},
        {L"NewParser", nullptr, 1, S_OK, S_OK},
        {L"ServerHTTPRequest", nullptr, 1, S_OK, S_OK},
        {L"AllowXsltScript", nullptr, 1, S_OK, S_OK},
        {L"MultipleErrorMessages", nullptr, 1, S_OK, S_OK},
    };
    for (const auto& c : cases) {
        StringValue text(c.text != nullptr ? c.text : L"");
        const bool isBool = c.number == 0 || c.number == 1;
        const VARIANT value = c.text != nullptr ? static_cast<VARIANT>(text)
                              : isBool          ? Bool(c.number == 1)
                                                : Long(c.number);
        EXPECT_EQ(doc->setProperty(Arg(c.name), value), c.set) << c.name;
        VARIANT read;
        VariantInit(&read);
        EXPECT_EQ(doc->getProperty(Arg(c.name), &read), c.get) << c.name;
        if (c.set == S_OK && value.vt == VT_BOOL) {
            EXPECT_EQ(read.vt, VT_BOOL);
            EXPECT_EQ(read.boolVal, value.boolVal) << c.name;
        }
        VariantClear(&read);
    }
    EXPECT_EQ(StringProperty(doc, L"SelectionLanguage"), L"XSLPattern");
    VARIANT_BOOL validating = VARIANT_TRUE;
    doc->get_validateOnParse(&validating);
    EXPECT_EQ(validating, VARIANT_FALSE);  // one flag, two ways to reach it
}

TEST(Document2, MalformedSelectionNamespacesChangeNothing) {
    CComPtr<IXMLDOMDocument2> doc = Document2(NewDocument());
    ASSERT_EQ(doc->setProperty(Arg(L"SelectionNamespaces"), StringValue(L"xmlns:p='urn:a'")), S_OK);
    for (const wchar_t* bad : {L"xmlns='urn:a'", L"xmlns:p=''", L"xmlns:p='a' xmlns:p='b'",
                               L"xmlns:1p='a'", L"xmlns:p='a'xmlns:q='b'", L"xmlns:xml='urn:x'",
                               L"xmlns:xmlns='a'", L"p='a'", L"xmlns:p='a", L"xmlns:p"}) {
        EXPECT_EQ(doc->setProperty(Arg(L"SelectionNamespaces"), StringValue(bad)), E_FAIL) << bad;
        EXPECT_EQ(FailureOf(doc).rfind("SelectionNamespaces is malformed: ", 0), 0u) << bad;
    }
    EXPECT_EQ(StringProperty(doc, L"SelectionNamespaces"), L"xmlns:p='urn:a'");
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(doc->loadXML(Arg(L"<r xmlns='urn:a'><i/></r>"), &ok), S_OK);
    CComPtr<IXMLDOMNode> found;
    EXPECT_EQ(doc->selectSingleNode(Arg(L"/p:r/p:i"), &found), S_OK);
}

TEST(Document2, ProhibitDtdAndMaxElementDepthRefuseWithTheirKind) {
    CComPtr<IXMLDOMDocument2> doc = Document2(NewDocument());
    VARIANT_BOOL ok = VARIANT_FALSE;
    const wchar_t* const withDtd = L"<!DOCTYPE r [<!ENTITY e 'x'>]><r>&e;</r>";
    EXPECT_EQ(doc->loadXML(Arg(withDtd), &ok), S_OK);
    ASSERT_EQ(doc->setProperty(Arg(L"ProhibitDTD"), Bool(true)), S_OK);
    EXPECT_EQ(doc->loadXML(Arg(withDtd), &ok), S_FALSE);
    EXPECT_EQ(ErrorCodeOf(doc), XMLUTIL_E_DTD_REFUSED);

    EXPECT_EQ(doc->loadXML(Arg(L"<a><b><c/></b></a>"), &ok), S_OK);
    ASSERT_EQ(doc->setProperty(Arg(L"MaxElementDepth"), Long(2)), S_OK);
    EXPECT_EQ(doc->loadXML(Arg(L"<a><b><c/></b></a>"), &ok), S_FALSE);
    EXPECT_EQ(ErrorCodeOf(doc), XMLUTIL_E_TOO_LARGE);
    EXPECT_EQ(doc->loadXML(Arg(L"<a><b/></a>"), &ok), S_OK);
}

TEST(Document2, PrefixesOfTheDocumentResolveUnlessUndeclaredOrAmbiguous) {
    CComPtr<IXMLDOMDocument> doc = Parsed(
        L"<p:Root xmlns:p='urn:a'><p:Menu/><x xmlns:q='urn:b'/><y xmlns:q='urn:c'/>"
        L"<d xmlns='urn:d'><Item/></d></p:Root>");
    // A fresh handle per call: `&` on a handle that holds a node would leak it.
    const auto select = [&doc](const wchar_t* path) {
        CComPtr<IXMLDOMNode> node;
        return doc->selectSingleNode(Arg(path), &node);
    };
    EXPECT_EQ(select(L"/p:Root/p:Menu"), S_OK);
    EXPECT_EQ(FailureOf(doc), "<none>");
    EXPECT_EQ(select(L"//z:Menu"), E_FAIL);
    EXPECT_NE(FailureOf(doc).find("'z'"), std::string::npos) << FailureOf(doc);
    EXPECT_EQ(select(L"//q:x"), E_FAIL);
    EXPECT_NE(FailureOf(doc).find("'urn:b', 'urn:c'"), std::string::npos) << FailureOf(doc);
    // XPath 1.0: an unprefixed step matches no-namespace elements only.
    EXPECT_EQ(select(L"//d/Item"), S_FALSE);

    ASSERT_EQ(Document2(doc)->setProperty(Arg(L"SelectionNamespaces"),
                                          StringValue(L"xmlns:q='urn:c' xmlns:m='urn:d'")),
              S_OK);
    EXPECT_EQ(select(L"//m:d/m:Item"), S_OK);
    EXPECT_EQ(select(L"//q:*"), S_FALSE);  // settled: no q:* element

    // A declaration added later is seen by the next selection.
    CComPtr<IXMLDOMElement> root;
    ASSERT_EQ(doc->get_documentElement(&root), S_OK);
    ASSERT_EQ(root->setAttribute(Arg(L"xmlns:z"), StringValue(L"urn:a")), S_OK);
    EXPECT_EQ(select(L"/z:Root/z:Menu"), S_OK);
}

}  // namespace
