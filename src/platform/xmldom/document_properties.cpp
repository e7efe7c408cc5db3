// SPDX-License-Identifier: MIT
#include "platform/xmldom/document_properties.h"

#include "platform/xmldom/utf.h"

namespace xmlutil::xmldom {

namespace {

HRESULT BoolFrom(const VARIANT& value, bool& out) {
    switch (value.vt) {
        case VT_BOOL:
            out = value.boolVal != VARIANT_FALSE;
            return S_OK;
        case VT_I4:
            out = value.lVal != 0;
            return S_OK;
        case VT_I2:
            out = value.iVal != 0;
            return S_OK;
        default:
            return E_INVALIDARG;
    }
}

HRESULT CountFrom(const VARIANT& value, long& out) {
    if (value.vt == VT_I4) {
        out = value.lVal;
    } else if (value.vt == VT_I2) {
        out = value.iVal;
    } else {
        return E_INVALIDARG;
    }
    return out < 0 ? E_INVALIDARG : S_OK;
}

HRESULT StringFrom(const VARIANT& value, std::wstring& out) {
    if (value.vt != VT_BSTR) return E_INVALIDARG;
    out = value.bstrVal != nullptr ? value.bstrVal : L"";
    return S_OK;
}

HRESULT PutString(const std::wstring& text, VARIANT* out) {
    BSTR copy = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (copy == nullptr) return E_OUTOFMEMORY;
    out->vt = VT_BSTR;
    out->bstrVal = copy;
    return S_OK;
}

HRESULT PutBool(bool flag, VARIANT* out) {
    out->vt = VT_BOOL;
    out->boolVal = flag ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

}  // namespace

DocumentProperties::Flag* DocumentProperties::FindFlag(const std::wstring& name) {
    for (Flag& flag : flags_) {
        if (name == flag.name) return &flag;
    }
    return nullptr;
}

HRESULT DocumentProperties::Set(const std::wstring& name, const VARIANT& value,
                                std::string& reason) {
    if (name == L"SelectionNamespaces") {
        std::wstring text;
        HRESULT hr = StringFrom(value, text);
        if (FAILED(hr)) return hr;
        std::string utf8;
        hr = Utf8FromBstr(value.bstrVal, utf8);
        if (FAILED(hr)) return hr;
        std::optional<PrefixBindings> bindings = ParseSelectionNamespaces(utf8, reason);
        if (!bindings) return E_FAIL;
        selectionNamespacesText_ = std::move(text);
        selectionNamespaces_ = std::move(*bindings);
        return S_OK;
    }
    if (name == L"SelectionLanguage") {
        std::wstring language;
        const HRESULT hr = StringFrom(value, language);
        if (FAILED(hr)) return hr;
        if (language != L"XPath" && language != L"XSLPattern") {
            reason = "SelectionLanguage is XPath or XSLPattern";
            return E_FAIL;
        }
        selectionLanguage_ = std::move(language);
        return S_OK;
    }
    if (name == L"ProhibitDTD") return BoolFrom(value, prohibitDtd_);
    if (name == L"MaxElementDepth") {
        long depth = 0;
        const HRESULT hr = CountFrom(value, depth);
        if (SUCCEEDED(hr)) maxElementDepth_ = depth;
        return hr;
    }
    Flag* flag = FindFlag(name);
    if (flag == nullptr) return E_INVALIDARG;
    return BoolFrom(value, flag->value);
}

HRESULT DocumentProperties::Get(const std::wstring& name, VARIANT* value) const {
    if (value == nullptr) return E_POINTER;
    VariantInit(value);
    if (name == L"SelectionNamespaces") return PutString(selectionNamespacesText_, value);
    if (name == L"SelectionLanguage") return PutString(selectionLanguage_, value);
    if (name == L"ProhibitDTD") return PutBool(prohibitDtd_, value);
    if (name == L"MaxElementDepth") {
        value->vt = VT_I4;
        value->lVal = maxElementDepth_;
        return S_OK;
    }
    for (const Flag& flag : flags_) {
        if (name == flag.name) return PutBool(flag.value, value);
    }
    return E_INVALIDARG;
}

}  // namespace xmlutil::xmldom
