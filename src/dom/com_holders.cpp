// SPDX-License-Identifier: MIT
#include "dom/com_holders.h"

#include <cstddef>
#include <cstring>
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

BstrArg::BstrArg(const std::wstring& text, Failure failure) {
    static_assert(offsetof(Inline, chars) == offsetof(Inline, byteCount) + sizeof(uint32_t),
                  "the byte count sits right before the characters, as in a BSTR");
    // Copied and measured in one pass: the texts are mostly a few characters,
    // where library calls would cost more than the copy.
    const wchar_t* source = text.c_str();
    size_t length = 0;
    while (length < kInlineChars && source[length] != L'\0') {
        inline_.chars[length] = source[length];
        ++length;
    }
    if (source[length] == L'\0') {
        inline_.chars[length] = L'\0';
        inline_.byteCount = static_cast<uint32_t>(length * sizeof(OLECHAR));
        text_ = inline_.chars;
        return;
    }
    length = std::wcslen(source);
    BSTR copy = SysAllocStringLen(source, static_cast<UINT>(length));
    if (copy == nullptr) {
        if (failure == Failure::kAtlException) throw CAtlException(E_OUTOFMEMORY);
        throw _com_error(E_OUTOFMEMORY);
    }
    *heap_.out() = copy;
    text_ = copy;
}

VARIANT BstrArg::variant() const noexcept {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = text_;
    return v;
}

Variant Variant::Int32(LONG value) noexcept {
    Variant result;
    result.v_.vt = VT_I4;
    result.v_.lVal = value;
    return result;
}

}  // namespace xmlutil::dom
