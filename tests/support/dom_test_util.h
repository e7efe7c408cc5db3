// SPDX-License-Identifier: MIT
// Helpers for tests that drive the DOM service through its COM interfaces.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/xmldom/document_factory.h"
#include "xmlutil/atl.h"
#include "xmlutil/msxml.h"

namespace xmlutil::test::dom {

// Owns a BSTR argument for the length of one call.
class Arg {
  public:
    explicit Arg(const wchar_t* text) : s_(SysAllocString(text)) {}
    explicit Arg(const std::wstring& text) : s_(SysAllocString(text.c_str())) {}
    ~Arg() { SysFreeString(s_); }
    Arg(const Arg&) = delete;
    Arg& operator=(const Arg&) = delete;
    operator BSTR() const { return s_; }  // NOLINT

  private:
    BSTR s_;
};

// Owns a VT_BSTR variant argument (a text value, a path) for one call.
class StringValue {
  public:
    explicit StringValue(const wchar_t* text) {
        VariantInit(&v_);
        v_.vt = VT_BSTR;
        v_.bstrVal = SysAllocString(text);
    }
    explicit StringValue(const std::wstring& text) : StringValue(text.c_str()) {}
    ~StringValue() { VariantClear(&v_); }
    StringValue(const StringValue&) = delete;
    StringValue& operator=(const StringValue&) = delete;
    operator VARIANT() const { return v_; }  // NOLINT

  private:
    VARIANT v_;
};

// A new, empty document from the DOM service.
inline CComPtr<IXMLDOMDocument> NewDocument() {
    CComPtr<IXMLDOMDocument> doc;
    EXPECT_EQ(xmlutil::xmldom::CreateDocument(IID_IXMLDOMDocument, reinterpret_cast<void**>(&doc)),
              S_OK);
    return doc;
}

// A document holding the parsed text (the parse is expected to succeed).
inline CComPtr<IXMLDOMDocument> Parsed(const wchar_t* xml) {
    CComPtr<IXMLDOMDocument> doc = NewDocument();
    VARIANT_BOOL ok = VARIANT_FALSE;
    EXPECT_EQ(doc->loadXML(Arg(xml), &ok), S_OK);
    EXPECT_EQ(ok, VARIANT_TRUE);
    return doc;
}

// Calls a BSTR getter and returns the text ("<failed>" when it fails).
template <class Getter>
std::wstring Text(Getter get) {
    BSTR out = nullptr;
    const HRESULT hr = get(&out);
    std::wstring text = FAILED(hr) ? L"<failed>" : (out == nullptr ? L"" : out);
    SysFreeString(out);
    return text;
}

inline std::wstring NameOf(IXMLDOMNode* node) {
    return Text([&](BSTR* out) { return node->get_nodeName(out); });
}
inline std::wstring TextOf(IXMLDOMNode* node) {
    return Text([&](BSTR* out) { return node->get_text(out); });
}
inline std::wstring XmlOf(IXMLDOMNode* node) {
    return Text([&](BSTR* out) { return node->get_xml(out); });
}
inline std::wstring BaseNameOf(IXMLDOMNode* node) {
    return Text([&](BSTR* out) { return node->get_baseName(out); });
}

}  // namespace xmlutil::test::dom
