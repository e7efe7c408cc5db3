// SPDX-License-Identifier: MIT
// The ATL classes Windows callers use around COM interfaces: CComPtr and
// CComQIPtr (counted references), CComBSTR (an owned BSTR), CComVariant (an
// owned VARIANT), the text conversions CW2A and CA2W (UTF-8 here),
// CAtlException and ATLASSERT. Allocation failures throw CAtlException
// (E_OUTOFMEMORY) where ATL throws; conversions of the library's strings
// throw _com_error (comutil.h).
#pragma once

#include <locale.h>

#include <cassert>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>

#include "comutil.h"
#include "wintypes.h"

#ifndef ATLASSERT
#define ATLASSERT(expr) assert(expr)
#endif

// Raised by ATL helpers (variant and path copies) that run out of memory.
class CAtlException {
  public:
    CAtlException(HRESULT hr = E_FAIL) noexcept : m_hr(hr) {}  // NOLINT
    operator HRESULT() const noexcept { return m_hr; }         // NOLINT
    HRESULT m_hr;
};

[[noreturn]] inline void AtlThrow(HRESULT hr) {
    throw CAtlException(hr);
}

namespace xmlutil_detail {

// A new reference to `source` as a T: a plain upcast when Q derives from T,
// else QueryInterface for `iid`. Null when `source` is null or does not answer.
template <class T, class Q>
T* QueryAs(Q* source, const IID& iid) noexcept {
    if (source == nullptr) return nullptr;
    if constexpr (std::is_base_of_v<T, Q>) {
        source->AddRef();
        return source;
    } else {
        T* out = nullptr;
        if (FAILED(source->QueryInterface(iid, reinterpret_cast<void**>(&out)))) out = nullptr;
        return out;
    }
}

}  // namespace xmlutil_detail

// Counted reference to a COM interface. Copies add a reference, destruction
// releases it, `&` hands out the raw slot for [out] parameters (it must be
// empty then, as in ATL: release it first). Compares with NULL, 0, nullptr
// and raw pointers.
template <class T>
class CComPtr {
  public:
    T* p;

    CComPtr() noexcept : p(nullptr) {}
    CComPtr(T* lp) noexcept : p(lp) {  // NOLINT(google-explicit-constructor)
        if (p) p->AddRef();
    }
    CComPtr(const CComPtr& other) noexcept : CComPtr(other.p) {}
    CComPtr(CComPtr&& other) noexcept : p(other.p) { other.p = nullptr; }
    // From a reference to a derived interface: a plain upcast.
    template <class Q, std::enable_if_t<std::is_base_of_v<T, Q>, int> = 0>
    CComPtr(const CComPtr<Q>& other) noexcept : CComPtr(static_cast<T*>(other.p)) {}  // NOLINT
    // From a reference to another interface: QueryInterface (empty when refused).
    template <class Q, std::enable_if_t<!std::is_base_of_v<T, Q>, int> = 0>
    explicit CComPtr(const CComPtr<Q>& other) noexcept
        : p(xmlutil_detail::QueryAs<T>(other.p, __uuidof(T))) {}
    ~CComPtr() {
        if (p) p->Release();
    }

    T* operator=(T* lp) noexcept {
        if (lp != p) {
            if (lp) lp->AddRef();
            T* old = p;
            p = lp;
            if (old) old->Release();
        }
        return p;
    }
    T* operator=(const CComPtr& other) noexcept { return *this = other.p; }
    T* operator=(CComPtr&& other) noexcept {
        // operator& is overloaded (it hands out the slot), hence addressof.
        if (this != std::addressof(other)) {
            T* old = p;
            p = other.p;
            other.p = nullptr;
            if (old) old->Release();
        }
        return p;
    }
    // From another interface's reference: QueryInterface (empty when refused).
    template <class Q>
    T* operator=(const CComPtr<Q>& other) noexcept {
        Attach(xmlutil_detail::QueryAs<T>(other.p, __uuidof(T)));
        return p;
    }

    operator T*() const noexcept { return p; }  // NOLINT(google-explicit-constructor)
    T& operator*() const noexcept { return *p; }
    T** operator&() noexcept { return &p; }
    T* operator->() const noexcept { return p; }
    bool operator!() const noexcept { return p == nullptr; }
    bool operator<(T* other) const noexcept { return p < other; }
    // One overload per comparison, so NULL, 0 and nullptr all pick it.
    bool operator==(T* other) const noexcept { return p == other; }
    bool operator!=(T* other) const noexcept { return p != other; }

    void Release() noexcept {
        T* old = p;
        if (old) {
            p = nullptr;
            old->Release();
        }
    }
    // Takes over a reference without adding one.
    void Attach(T* other) noexcept {
        if (p) p->Release();
        p = other;
    }
    // Gives up the reference without releasing it.
    T* Detach() noexcept {
        T* old = p;
        p = nullptr;
        return old;
    }
    HRESULT CopyTo(T** target) const noexcept {
        if (target == nullptr) return E_POINTER;
        *target = p;
        if (p) p->AddRef();
        return S_OK;
    }
    template <class Q>
    HRESULT QueryInterface(Q** target) const noexcept {
        if (target == nullptr) return E_POINTER;
        if (p == nullptr) return E_POINTER;
        return p->QueryInterface(__uuidof(Q), reinterpret_cast<void**>(target));
    }
    // Creates an object of the class and holds its T interface (replacing
    // what was held); the CoCreateInstance result.
    HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter = nullptr,
                             DWORD dwClsContext = CLSCTX_ALL) noexcept {
        T* made = nullptr;
        const HRESULT hr = ::CoCreateInstance(rclsid, pUnkOuter, dwClsContext, __uuidof(T),
                                              reinterpret_cast<void**>(&made));
        Attach(SUCCEEDED(hr) ? made : nullptr);
        return hr;
    }
    // The same for a class named by its ProgID ("Msxml2.DOMDocument.6.0").
    HRESULT CoCreateInstance(LPCOLESTR szProgID, LPUNKNOWN pUnkOuter = nullptr,
                             DWORD dwClsContext = CLSCTX_ALL) noexcept {
        CLSID clsid;
        const HRESULT hr = CLSIDFromProgID(szProgID, &clsid);
        if (FAILED(hr)) return hr;
        return CoCreateInstance(clsid, pUnkOuter, dwClsContext);
    }
    // True when both point to the same COM object (compared through IUnknown).
    bool IsEqualObject(IUnknown* other) const noexcept {
        if (p == nullptr && other == nullptr) return true;
        if (p == nullptr || other == nullptr) return false;
        CComPtr<IUnknown> mine;
        CComPtr<IUnknown> theirs;
        p->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&mine.p));
        other->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&theirs.p));
        return mine.p == theirs.p;
    }
};

// A CComPtr that asks the object for its interface (QueryInterface for
// `*piid`, or T's own id) whenever it is given another interface pointer,
// and is empty when the object does not answer.
template <class T, const IID* piid = nullptr>
class CComQIPtr : public CComPtr<T> {
  public:
    CComQIPtr() noexcept = default;
    CComQIPtr(const CComQIPtr& other) noexcept : CComPtr<T>(other.p) {}
    CComQIPtr(T* lp) noexcept : CComPtr<T>(lp) {}  // NOLINT(google-explicit-constructor)
    template <class Q, std::enable_if_t<std::is_base_of_v<IUnknown, Q>, int> = 0>
    CComQIPtr(Q* lp) noexcept {  // NOLINT(google-explicit-constructor)
        this->p = xmlutil_detail::QueryAs<T>(lp, Iid());
    }
    template <class Q>
    CComQIPtr(const CComPtr<Q>& other) noexcept : CComQIPtr(other.p) {}  // NOLINT

    T* operator=(const CComQIPtr& other) noexcept { return CComPtr<T>::operator=(other.p); }
    T* operator=(T* lp) noexcept { return CComPtr<T>::operator=(lp); }
    template <class Q, std::enable_if_t<std::is_base_of_v<IUnknown, Q>, int> = 0>
    T* operator=(Q* lp) noexcept {
        this->Attach(xmlutil_detail::QueryAs<T>(lp, Iid()));
        return this->p;
    }
    template <class Q>
    T* operator=(const CComPtr<Q>& other) noexcept {
        return *this = other.p;
    }

  private:
    static const IID& Iid() noexcept { return piid != nullptr ? *piid : __uuidof(T); }
};

// ---- text conversions: UTF-8 is the narrow encoding ------------------------
// Each holds its converted copy; the pointer it gives lives as long as it.
// Throw std::bad_alloc when out of memory.
class CW2A {
  public:
    explicit CW2A(const wchar_t* text, UINT codePage = CP_UTF8)
        : null_(text == nullptr), text_(xmlutil_detail::Utf8FromWide(text)) {
        (void)codePage;  // every narrow code page is UTF-8 here
    }
    CW2A(const CW2A&) = delete;
    CW2A& operator=(const CW2A&) = delete;
    operator char*() const noexcept { return null_ ? nullptr : text_.data(); }  // NOLINT

  private:
    bool null_;
    mutable std::string text_;
};

class CA2W {
  public:
    explicit CA2W(const char* text, UINT codePage = CP_UTF8)
        : null_(text == nullptr), text_(xmlutil_detail::WideFromUtf8(text)) {
        (void)codePage;
    }
    CA2W(const CA2W&) = delete;
    CA2W& operator=(const CA2W&) = delete;
    operator wchar_t*() const noexcept { return null_ ? nullptr : text_.data(); }  // NOLINT

  private:
    bool null_;
    mutable std::wstring text_;
};

// A wide copy of wide text (what the TCHAR conversions become in a Unicode build).
class CW2W {
  public:
    explicit CW2W(const wchar_t* text, UINT codePage = CP_UTF8)
        : null_(text == nullptr), text_(text == nullptr ? L"" : text) {
        (void)codePage;
    }
    CW2W(const CW2W&) = delete;
    CW2W& operator=(const CW2W&) = delete;
    operator wchar_t*() const noexcept { return null_ ? nullptr : text_.data(); }  // NOLINT

  private:
    bool null_;
    mutable std::wstring text_;
};

// ---- CComBSTR ----------------------------------------------------------------
// An owned BSTR (m_str), freed on destruction. A null m_str reads as "" in
// comparisons. `&` frees what it holds and hands out the empty slot, so that
// reusing one CComBSTR for several [out] arguments leaks nothing. Throws
// CAtlException(E_OUTOFMEMORY) where a copy cannot be made, except the
// members that return an HRESULT, which answer E_OUTOFMEMORY.
class CComBSTR {
  public:
    BSTR m_str;

    CComBSTR() noexcept : m_str(nullptr) {}
    // `nSize` zero characters (null for 0).
    explicit CComBSTR(int nSize) : m_str(nullptr) {
        if (nSize < 0) AtlThrow(E_INVALIDARG);
        if (nSize > 0) m_str = Checked(SysAllocStringLen(nullptr, static_cast<UINT>(nSize)));
    }
    // The first `nSize` characters of `sz` (zeros when `sz` is null).
    CComBSTR(int nSize, LPCOLESTR sz) : m_str(nullptr) {
        if (nSize < 0) AtlThrow(E_INVALIDARG);
        if (nSize > 0) m_str = Checked(SysAllocStringLen(sz, static_cast<UINT>(nSize)));
    }
    CComBSTR(LPCOLESTR pSrc) : m_str(nullptr) {  // NOLINT(google-explicit-constructor)
        if (pSrc != nullptr) m_str = Checked(SysAllocString(pSrc));
    }
    // UTF-8 text.
    CComBSTR(const char* pSrc) : m_str(nullptr) {  // NOLINT(google-explicit-constructor)
        if (pSrc != nullptr) m_str = FromUtf8(pSrc);
    }
    CComBSTR(const CComBSTR& src) : m_str(nullptr) {
        if (src.m_str != nullptr) m_str = Checked(src.Copy());
    }
    CComBSTR(CComBSTR&& src) noexcept : m_str(std::exchange(src.m_str, nullptr)) {}
    ~CComBSTR() { SysFreeString(m_str); }

    CComBSTR& operator=(const CComBSTR& src) {
        if (m_str != src.m_str) Attach(src.m_str == nullptr ? nullptr : Checked(src.Copy()));
        return *this;
    }
    CComBSTR& operator=(CComBSTR&& src) noexcept {
        if (this != std::addressof(src)) Attach(std::exchange(src.m_str, nullptr));
        return *this;
    }
    CComBSTR& operator=(LPCOLESTR pSrc) {
        if (pSrc != m_str) Attach(pSrc == nullptr ? nullptr : Checked(SysAllocString(pSrc)));
        return *this;
    }
    CComBSTR& operator=(const char* pSrc) {
        Attach(pSrc == nullptr ? nullptr : FromUtf8(pSrc));
        return *this;
    }

    unsigned int Length() const noexcept { return SysStringLen(m_str); }
    unsigned int ByteLength() const noexcept { return SysStringByteLen(m_str); }
    operator BSTR() const noexcept { return m_str; }  // NOLINT(google-explicit-constructor)
    BSTR* operator&() noexcept {
        Empty();
        return &m_str;
    }
    bool operator!() const noexcept { return m_str == nullptr; }

    // A new BSTR with the same text (the caller frees it); null when empty or
    // out of memory.
    BSTR Copy() const noexcept {
        if (m_str == nullptr) return nullptr;
        return SysAllocStringByteLen(reinterpret_cast<const char*>(m_str), ByteLength());
    }
    HRESULT CopyTo(BSTR* pbstr) const noexcept {
        if (pbstr == nullptr) return E_POINTER;
        *pbstr = Copy();
        return *pbstr == nullptr && m_str != nullptr ? E_OUTOFMEMORY : S_OK;
    }
    // Writes a VT_BSTR copy into an uninitialised or empty variant.
    HRESULT CopyTo(VARIANT* pvarDest) const noexcept {
        if (pvarDest == nullptr) return E_POINTER;
        VariantInit(pvarDest);
        pvarDest->vt = VT_BSTR;
        return CopyTo(&pvarDest->bstrVal);
    }
    // Takes `src` over, freeing what was held.
    void Attach(BSTR src) noexcept {
        if (m_str != src) {
            SysFreeString(m_str);
            m_str = src;
        }
    }
    // Hands the BSTR over to the caller.
    BSTR Detach() noexcept { return std::exchange(m_str, nullptr); }
    void Empty() noexcept {
        SysFreeString(m_str);
        m_str = nullptr;
    }

    HRESULT Append(const CComBSTR& bstrSrc) noexcept { return AppendBSTR(bstrSrc.m_str); }
    HRESULT Append(LPCOLESTR lpsz) noexcept {
        return lpsz == nullptr ? S_OK : Append(lpsz, static_cast<int>(std::wcslen(lpsz)));
    }
    HRESULT Append(LPCOLESTR lpsz, int nLen) noexcept {
        if (nLen < 0) return E_INVALIDARG;
        if (lpsz == nullptr || nLen == 0) return S_OK;
        const UINT held = Length();
        BSTR joined = SysAllocStringLen(nullptr, held + static_cast<UINT>(nLen));
        if (joined == nullptr) return E_OUTOFMEMORY;
        if (held != 0) std::wmemcpy(joined, m_str, held);
        std::wmemcpy(joined + held, lpsz, static_cast<size_t>(nLen));
        Attach(joined);
        return S_OK;
    }
    HRESULT Append(wchar_t ch) noexcept { return Append(&ch, 1); }
    // One byte taken as the character of the same value (ASCII; Latin-1 above).
    HRESULT Append(char ch) noexcept {
        const wchar_t wide = static_cast<unsigned char>(ch);
        return Append(&wide, 1);
    }
    // UTF-8 text.
    HRESULT Append(const char* lpsz) noexcept {
        if (lpsz == nullptr) return S_OK;
        try {
            const std::wstring wide = xmlutil_detail::WideFromUtf8(lpsz);
            return Append(wide.data(), static_cast<int>(wide.size()));
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }
    HRESULT AppendBSTR(BSTR p) noexcept {
        return p == nullptr ? S_OK : Append(p, static_cast<int>(SysStringLen(p)));
    }
    CComBSTR& operator+=(const CComBSTR& bstrSrc) { return Throwing(Append(bstrSrc)); }
    CComBSTR& operator+=(LPCOLESTR pszSrc) { return Throwing(Append(pszSrc)); }
    CComBSTR& operator+=(wchar_t ch) { return Throwing(Append(ch)); }

    // Case mapping by Unicode character properties (not the process locale).
    HRESULT ToLower() noexcept { return MapCase(false); }
    HRESULT ToUpper() noexcept { return MapCase(true); }

    bool operator==(const CComBSTR& other) const noexcept {
        return Compare(other.m_str, other.Length()) == 0;
    }
    bool operator!=(const CComBSTR& other) const noexcept { return !(*this == other); }
    bool operator<(const CComBSTR& other) const noexcept {
        return Compare(other.m_str, other.Length()) < 0;
    }
    // A null pointer (NULL, 0, nullptr) equals only a null m_str.
    bool operator==(LPCOLESTR text) const noexcept {
        if (text == nullptr) return m_str == nullptr;
        return Compare(text, static_cast<unsigned int>(std::wcslen(text))) == 0;
    }
    bool operator!=(LPCOLESTR text) const noexcept { return !(*this == text); }
    friend bool operator==(LPCOLESTR text, const CComBSTR& s) noexcept { return s == text; }
    friend bool operator!=(LPCOLESTR text, const CComBSTR& s) noexcept { return s != text; }

  private:
    static BSTR Checked(BSTR made) {
        if (made == nullptr) AtlThrow(E_OUTOFMEMORY);
        return made;
    }
    static BSTR FromUtf8(const char* text) {
        const std::wstring wide = xmlutil_detail::WideFromUtf8(text);
        return Checked(SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size())));
    }
    CComBSTR& Throwing(HRESULT hr) {
        if (FAILED(hr)) AtlThrow(hr);
        return *this;
    }
    int Compare(const wchar_t* text, unsigned int length) const noexcept {
        const unsigned int mine = Length();
        for (unsigned int i = 0; i < mine && i < length; ++i) {
            if (m_str[i] != text[i]) return m_str[i] < text[i] ? -1 : 1;
        }
        return mine == length ? 0 : (mine < length ? -1 : 1);
    }
    HRESULT MapCase(bool upper) noexcept {
        // A UTF-8 locale object for the character properties, made once.
        static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
        const unsigned int length = Length();
        for (unsigned int i = 0; i < length; ++i) {
            const wint_t c = static_cast<wint_t>(m_str[i]);
            const wint_t mapped = unicode == nullptr
                                      ? (upper ? std::towupper(c) : std::towlower(c))
                                      : (upper ? towupper_l(c, unicode) : towlower_l(c, unicode));
            m_str[i] = static_cast<wchar_t>(mapped);
        }
        return S_OK;
    }
};

// ---- CComVariant -------------------------------------------------------------
// An owned VARIANT (its fields are this object's), cleared on destruction.
// `long` is 64 bits here: a long that does not fit in VT_I4 is held as VT_I8.
// Construction and assignment throw CAtlException(E_OUTOFMEMORY) when a copy
// cannot be made.
class CComVariant : public VARIANT {
  public:
    CComVariant() noexcept { VariantInit(this); }
    CComVariant(const VARIANT& src) : CComVariant() {
        Throwing(VariantCopy(this, &src));
    }  // NOLINT
    CComVariant(const CComVariant& src) : CComVariant(static_cast<const VARIANT&>(src)) {}
    CComVariant(CComVariant&& src) noexcept : VARIANT(src) { VariantInit(&src); }
    CComVariant(LPCOLESTR lpszSrc) : CComVariant() { SetText(CComBSTR(lpszSrc)); }        // NOLINT
    CComVariant(const char* lpszSrc) : CComVariant() { SetText(CComBSTR(lpszSrc)); }      // NOLINT
    CComVariant(const CComBSTR& bstrSrc) : CComVariant() { SetText(CComBSTR(bstrSrc)); }  // NOLINT
    CComVariant(bool bSrc) noexcept : CComVariant() {                                     // NOLINT
        vt = VT_BOOL;
        boolVal = bSrc ? VARIANT_TRUE : VARIANT_FALSE;
    }
    CComVariant(int nSrc, VARTYPE vtSrc = VT_I4) noexcept : CComVariant() {
        SetInteger(nSrc, vtSrc);
    }  // NOLINT
    CComVariant(long nSrc, VARTYPE vtSrc = VT_I4) noexcept : CComVariant() {
        SetInteger(nSrc, vtSrc);
    }                                                                                    // NOLINT
    CComVariant(short nSrc) noexcept : CComVariant() { SetInteger(nSrc, VT_I2); }        // NOLINT
    CComVariant(LONGLONG nSrc) noexcept : CComVariant() { Set(VT_I8, llVal, nSrc); }     // NOLINT
    CComVariant(ULONGLONG nSrc) noexcept : CComVariant() { Set(VT_UI8, ullVal, nSrc); }  // NOLINT
    CComVariant(BYTE nSrc) noexcept : CComVariant() { Set(VT_UI1, bVal, nSrc); }         // NOLINT
    CComVariant(char cSrc) noexcept : CComVariant() { Set(VT_I1, cVal, cSrc); }          // NOLINT
    CComVariant(unsigned short nSrc) noexcept : CComVariant() {
        Set(VT_UI2, uiVal, nSrc);
    }                                                                                  // NOLINT
    CComVariant(unsigned int nSrc, VARTYPE vtSrc = VT_UI4) noexcept : CComVariant() {  // NOLINT
        Set(vtSrc == VT_UINT ? VT_UINT : VT_UI4, ulVal, nSrc);
    }
    CComVariant(unsigned long nSrc) noexcept : CComVariant() {  // NOLINT
        if (nSrc <= 0xFFFFFFFFul) {
            Set(VT_UI4, ulVal, nSrc);
        } else {
            Set(VT_UI8, ullVal, nSrc);
        }
    }
    CComVariant(float fltSrc) noexcept : CComVariant() { Set(VT_R4, fltVal, fltSrc); }  // NOLINT
    // VT_R8, or VT_DATE when asked.
    CComVariant(double dblSrc, VARTYPE vtSrc = VT_R8) noexcept : CComVariant() {  // NOLINT
        Set(vtSrc == VT_DATE ? VT_DATE : VT_R8, dblVal, dblSrc);
    }
    // Holds a reference to the interface.
    CComVariant(IDispatch* pSrc) noexcept : CComVariant() {
        SetInterface(VT_DISPATCH, pSrc);
    }  // NOLINT
    CComVariant(IUnknown* pSrc) noexcept : CComVariant() {
        SetInterface(VT_UNKNOWN, pSrc);
    }  // NOLINT
    // A VT_ARRAY | VT_UI1 copy of the byte vector.
    CComVariant(const SAFEARRAY* pSrc) : CComVariant() {  // NOLINT
        SAFEARRAY* copy = nullptr;
        Throwing(SafeArrayCopy(const_cast<SAFEARRAY*>(pSrc), &copy));
        vt = VT_ARRAY | VT_UI1;
        parray = copy;
    }
    ~CComVariant() { VariantClear(this); }

    // Assigning any value the constructors take: the old value is cleared.
    CComVariant& operator=(const CComVariant& src) {
        if (this != &src) Throwing(VariantCopy(this, &src));
        return *this;
    }
    CComVariant& operator=(CComVariant&& src) noexcept {
        const VARIANT mine = *this;
        *static_cast<VARIANT*>(this) = src;
        *static_cast<VARIANT*>(&src) = mine;
        return *this;
    }
    template <class Value>
    CComVariant& operator=(const Value& value) {
        return *this = CComVariant(value);
    }

    HRESULT Clear() noexcept { return VariantClear(this); }
    HRESULT Copy(const VARIANT* pSrc) noexcept { return VariantCopy(this, pSrc); }
    // A new copy of the text of a VT_BSTR value; DISP_E_TYPEMISMATCH otherwise.
    HRESULT CopyTo(BSTR* pstrDest) const noexcept {
        if (pstrDest == nullptr) return E_POINTER;
        if (vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
        *pstrDest = SysAllocStringByteLen(reinterpret_cast<const char*>(bstrVal),
                                          SysStringByteLen(bstrVal));
        return *pstrDest == nullptr && bstrVal != nullptr ? E_OUTOFMEMORY : S_OK;
    }
    // Takes `pSrc`'s value over (leaving it VT_EMPTY), clearing what was held.
    HRESULT Attach(VARIANT* pSrc) noexcept {
        if (pSrc == nullptr) return E_INVALIDARG;
        const HRESULT hr = Clear();
        if (FAILED(hr)) return hr;
        *static_cast<VARIANT*>(this) = *pSrc;
        pSrc->vt = VT_EMPTY;
        return S_OK;
    }
    // Hands the value over into `pDest` (cleared first), leaving this VT_EMPTY.
    HRESULT Detach(VARIANT* pDest) noexcept {
        if (pDest == nullptr) return E_POINTER;
        const HRESULT hr = VariantClear(pDest);
        if (FAILED(hr)) return hr;
        *pDest = *this;
        vt = VT_EMPTY;
        return S_OK;
    }
    // Converts in place (or from `pSrc`) with VariantChangeType.
    HRESULT ChangeType(VARTYPE vtNew, const VARIANT* pSrc = nullptr) noexcept {
        return VariantChangeType(this, pSrc != nullptr ? pSrc : this, 0, vtNew);
    }

    // Same type and value (BSTRs by text, interfaces and arrays by pointer).
    bool operator==(const VARIANT& varSrc) const noexcept {
        return xmlutil_detail::VariantsEqual(*this, varSrc);
    }
    bool operator!=(const VARIANT& varSrc) const noexcept { return !(*this == varSrc); }

  private:
    static void Throwing(HRESULT hr) {
        if (FAILED(hr)) AtlThrow(hr);
    }
    template <class Field, class Value>
    void Set(VARTYPE type, Field& field, Value value) noexcept {
        vt = type;
        field = static_cast<Field>(value);
    }
    template <class Integer>
    void SetInteger(Integer value, VARTYPE type) noexcept {
        if (type == VT_I2 && value >= -32768 && value <= 32767) {
            Set(VT_I2, iVal, value);
        } else if (type == VT_ERROR) {
            Set(VT_ERROR, scode, value);
        } else if (value >= INT32_MIN && value <= INT32_MAX) {
            Set(type == VT_INT ? VT_INT : VT_I4, lVal, value);
        } else {
            Set(VT_I8, llVal, value);
        }
    }
    void SetText(CComBSTR text) {
        if (text.m_str == nullptr) text.Attach(SysAllocStringLen(nullptr, 0));  // "" for null text
        if (text.m_str == nullptr) AtlThrow(E_OUTOFMEMORY);
        vt = VT_BSTR;
        bstrVal = text.Detach();
    }
    void SetInterface(VARTYPE type, IUnknown* pointer) noexcept {
        vt = type;
        punkVal = pointer;
        if (pointer != nullptr) pointer->AddRef();
    }
};
