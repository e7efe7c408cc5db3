// SPDX-License-Identifier: MIT
// The ATL and compiler-COM-support helpers ported code uses around the DOM:
// CComBSTR, CComVariant, CComPtr/CComQIPtr, _bstr_t, _variant_t, _com_error,
// and the UTF-8 conversions under CW2A/CA2W. Run under ASan, these tests
// also show that each helper frees what it owns.
#include <gtest/gtest.h>

#include <string>

#include "support/test_util.h"

namespace {

std::wstring TextOf(BSTR s) {
    return s == nullptr ? L"<null>" : std::wstring(s, SysStringLen(s));
}

TEST(CComBSTR, ConstructionAppendAndComparison) {
    CComBSTR empty;
    EXPECT_TRUE(!empty);
    EXPECT_TRUE(empty == NULL);
    EXPECT_TRUE(empty == L"");  // a null BSTR reads as ""
    CComBSTR part(3, L"abcdef");
    EXPECT_EQ(TextOf(part), L"abc");
    CComBSTR text(L"x");
    EXPECT_HR(text.Append(part), S_OK);
    EXPECT_HR(text.Append(L'-'), S_OK);
    EXPECT_HR(text.Append("\xC3\xA9"), S_OK);  // UTF-8 é
    text += L"!";
    EXPECT_EQ(TextOf(text), L"xabc-\u00E9!");
    EXPECT_EQ(text.Length(), 7u);
    EXPECT_TRUE(text == L"xabc-\u00E9!");
    EXPECT_TRUE(L"xabc-\u00E9!" == text);
    EXPECT_TRUE(text != CComBSTR(L"xabc"));
    EXPECT_HR(text.ToUpper(), S_OK);
    EXPECT_EQ(TextOf(text), L"XABC-\u00C9!");
    CComBSTR copy(text);
    EXPECT_NE(copy.m_str, text.m_str);
    EXPECT_TRUE(copy == text);
}

TEST(CComBSTR, OwnershipMembers) {
    CComBSTR held(L"one");
    BSTR taken = held.Detach();
    EXPECT_EQ(held.m_str, nullptr);
    held.Attach(taken);
    BSTR copy = nullptr;
    EXPECT_HR(held.CopyTo(&copy), S_OK);
    EXPECT_EQ(TextOf(copy), L"one");
    SysFreeString(copy);
    // Reused for [out] arguments: each & frees what the last call gave.
    for (const wchar_t* value : {L"a", L"b"}) {
        BSTR* slot = &held;
        EXPECT_EQ(*slot, nullptr);
        *slot = SysAllocString(value);
    }
    EXPECT_EQ(TextOf(held), L"b");
    held.Empty();
    EXPECT_TRUE(!held);
}

TEST(CComVariant, EachConstructorHoldsTheTypeWindowsCodeExpects) {
    const struct {
        CComVariant value;
        VARTYPE vt;
        const wchar_t* text;
    } cases[] = {
        {CComVariant(true), VT_BOOL, L"-1"},
        {CComVariant(42), VT_I4, L"42"},
        {CComVariant(42L), VT_I4, L"42"},
        {CComVariant(1L << 40), VT_I8, L"1099511627776"},  // long is 64 bits here
        {CComVariant(static_cast<short>(-7)), VT_I2, L"-7"},
        {CComVariant(2.5), VT_R8, L"2.5"},
        {CComVariant(L"w"), VT_BSTR, L"w"},
        {CComVariant("\xC3\xA9"), VT_BSTR, L"\u00E9"},
        {CComVariant(CComBSTR(L"b")), VT_BSTR, L"b"},
        {CComVariant(static_cast<LPCOLESTR>(nullptr)), VT_BSTR, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.text);
        EXPECT_EQ(c.value.vt, c.vt);
        CComVariant text(c.value);
        ASSERT_HR(text.ChangeType(VT_BSTR), S_OK);
        EXPECT_EQ(TextOf(text.bstrVal), c.text);
        EXPECT_TRUE(CComVariant(c.value) == c.value);
    }
    EXPECT_FALSE(CComVariant(1) == CComVariant(1L << 40));
}

TEST(CComVariant, AssignAttachDetachKeepOneOwner) {
    CComVariant v(L"first");
    v = 5;  // frees the text
    EXPECT_EQ(v.vt, VT_I4);
    v = L"second";
    VARIANT raw;
    VariantInit(&raw);
    EXPECT_HR(v.Detach(&raw), S_OK);
    EXPECT_EQ(v.vt, VT_EMPTY);
    EXPECT_EQ(TextOf(raw.bstrVal), L"second");
    EXPECT_HR(v.Attach(&raw), S_OK);
    EXPECT_EQ(raw.vt, VT_EMPTY);
    BSTR copy = nullptr;
    EXPECT_HR(v.CopyTo(&copy), S_OK);
    EXPECT_EQ(TextOf(copy), L"second");
    SysFreeString(copy);
}

TEST(CComPtr, QueryInterfaceOnConstructionAssignmentAndCreation) {
    CComPtr<IXMLDOMDocument> doc;
    ASSERT_HR(doc.CoCreateInstance(L"Msxml2.DOMDocument.6.0"), S_OK);
    EXPECT_FALSE(doc == NULL);
    EXPECT_TRUE(doc != 0);
    EXPECT_TRUE(doc != nullptr);
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_HR(doc->loadXML(CComBSTR(L"<r><a/></r>"), &ok), S_OK);

    CComPtr<IXMLDOMNode> node = doc;  // upcast
    CComQIPtr<IXMLDOMDocument> back(node);
    EXPECT_TRUE(back == doc.p);
    CComQIPtr<IXMLDOMElement> notAnElement = node;
    EXPECT_TRUE(notAnElement == NULL);

    CComPtr<IXMLDOMNode> first;
    ASSERT_HR(doc->selectSingleNode(CComBSTR(L"/r/a"), &first), S_OK);
    CComPtr<IXMLDOMElement> element;
    element = first;  // QueryInterface
    EXPECT_TRUE(element != NULL);
    CComPtr<IXMLDOMElement> explicitQuery(first);
    EXPECT_TRUE(explicitQuery.IsEqualObject(element));

    CComPtr<IXMLDOMDocument> other;
    EXPECT_HR(other.CoCreateInstance(L"No.Such.Class"), CO_E_CLASSSTRING);
}

TEST(BstrT, SharedTextReadsAsWideAndUtf8) {
    _bstr_t a(L"caf\u00E9");
    _bstr_t b = a;  // shares
    EXPECT_EQ(static_cast<const wchar_t*>(a), static_cast<const wchar_t*>(b));
    EXPECT_STREQ(static_cast<const char*>(a), "caf\xC3\xA9");
    _bstr_t joined = "x" + a + L"y";
    EXPECT_EQ(joined.length(), 6u);
    EXPECT_TRUE(joined == L"xcaf\u00E9y");
    EXPECT_TRUE(a < joined);
    EXPECT_FALSE(joined < a);
    BSTR detached = b.Detach();  // a still holds its own
    EXPECT_EQ(TextOf(detached), L"caf\u00E9");
    EXPECT_NE(detached, static_cast<const wchar_t*>(a));
    SysFreeString(detached);
    _bstr_t out;
    *out.GetAddress() = SysAllocString(L"filled");
    EXPECT_TRUE(out == "filled");
    EXPECT_TRUE(!_bstr_t());
}

TEST(VariantT, ExtractsTheCommonTypesAndThrowsWhenItCannot) {
    EXPECT_EQ(static_cast<long>(_variant_t(L" 42 ")), 42);
    EXPECT_EQ(static_cast<double>(_variant_t(L"2.5")), 2.5);
    EXPECT_TRUE(static_cast<bool>(_variant_t(L"True")));
    EXPECT_TRUE(static_cast<_bstr_t>(_variant_t(7L)) == L"7");
    _variant_t v(L"abc");
    try {
        static_cast<void>(static_cast<long>(v));
        ADD_FAILURE() << "no exception";
    } catch (const _com_error& e) {
        EXPECT_HR(e.Error(), DISP_E_TYPEMISMATCH);
    }
    v.ChangeType(VT_BSTR, nullptr);
    EXPECT_EQ(v.vt, VT_BSTR);
    v.Clear();
    EXPECT_EQ(v.vt, VT_EMPTY);
}

TEST(ComError, CarriesTheThreadsErrorObjectAndTheSystemText) {
    CComPtr<ICreateErrorInfo> create;
    ASSERT_HR(CreateErrorInfo(&create), S_OK);
    create->SetDescription(const_cast<LPOLESTR>(L"no settings file"));
    create->SetSource(const_cast<LPOLESTR>(L"Settings"));
    CComQIPtr<IErrorInfo> info(create);
    ASSERT_HR(SetErrorInfo(0, info), S_OK);
    try {
        _com_issue_error(E_FAIL);
    } catch (const _com_error& e) {
        EXPECT_TRUE(e.Description() == L"no settings file");
        EXPECT_TRUE(e.Source() == L"Settings");
        EXPECT_STREQ(e.ErrorMessage(), L"Unspecified error");
        _com_error copy = e;
        EXPECT_TRUE(copy.Description() == e.Description());
    }
    EXPECT_EQ(_com_error(XMLUTIL_HR(0x80040205)).WCode(), 5);
    EXPECT_STREQ(_com_error(XMLUTIL_HR(0x80041234)).ErrorMessage(), L"IDispatch error #4148");
    EXPECT_STREQ(_com_error(XMLUTIL_HR(0x8123ABCD)).ErrorMessage(), L"Unknown error 0x8123ABCD");
    EXPECT_TRUE(_com_error(E_FAIL).Description() == L"");
}

TEST(CodePages, Utf8ConversionsFollowTheWindowsLengthRules) {
    const wchar_t wide[] = L"a\u00E9\U0001F600";
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr), 8);
    char small[4];
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, wide, -1, small, 4, nullptr, nullptr), 0);
    EXPECT_STREQ(CW2A(wide), "a\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_STREQ(CA2W("a\xC3\xA9\xF0\x9F\x98\x80"), wide);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xFFx", 2, nullptr, 0), 2);  // U+FFFD, x
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xFFx", 2, nullptr, 0), 0);
    EXPECT_EQ(MultiByteToWideChar(1252 + 1, 0, "x", 1, nullptr, 0), 0);  // not a UTF-8 code page
    EXPECT_EQ(static_cast<char*>(CW2A(nullptr)), nullptr);
}

}  // namespace
