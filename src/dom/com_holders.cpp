// SPDX-License-Identifier: MIT
#include "dom/com_holders.h"

#include <cwchar>

namespace xmlutil::dom {
namespace {

BSTR CopyUpToNul(const wchar_t* text) {
    const size_t length = std::wcslen(text);
    return SysAllocStringLen(text, static_cast<UINT>(length));
}

}  // namespace

Bstr::Bstr(const std::wstring& text) : s_(CopyUpToNul(text.c_str())) {
    if (s_ == nullptr) throw _com_error(E_OUTOFMEMORY);
}

Bstr::Bstr(const wchar_t* text) {
    if (text == nullptr) return;
    s_ = CopyUpToNul(text);
    if (s_ == nullptr) throw _com_error(E_OUTOFMEMORY);
}

Bstr& Bstr::operator=(Bstr&& other) noexcept {
    if (this != &other) {
        SysFreeString(s_);
        s_ = other.s_;
        other.s_ = nullptr;
    }
    return *this;
}

BSTR* Bstr::out() noexcept {
    SysFreeString(s_);
    s_ = nullptr;
    return &s_;
}

Variant Variant::String(const std::wstring& text) {
    Variant result;
    BSTR copy = CopyUpToNul(text.c_str());
    if (copy == nullptr) throw CAtlException(E_OUTOFMEMORY);
    result.v_.vt = VT_BSTR;
    result.v_.bstrVal = copy;
    return result;
}

Variant Variant::Int32(LONG value) noexcept {
    Variant result;
    result.v_.vt = VT_I4;
    result.v_.lVal = value;
    return result;
}

}  // namespace xmlutil::dom
