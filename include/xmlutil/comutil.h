// SPDX-License-Identifier: MIT
// The compiler COM support classes Windows code uses around COM calls:
// _com_error (what a failed call throws), _bstr_t (a shared, counted BSTR
// that also reads as UTF-8) and _variant_t (a VARIANT that converts to and
// from the common types). Conversions that fail and allocations that run out
// of memory throw _com_error.
#pragma once

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "wintypes.h"

class _bstr_t;
class _variant_t;

namespace xmlutil_detail {

// `length` wide characters (-1: up to the NUL) as UTF-8; a code point that is
// no Unicode scalar value becomes U+FFFD. Throws std::bad_alloc.
inline std::string Utf8FromWide(const wchar_t* text, int length = -1) {
    if (text == nullptr) return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), size, nullptr, nullptr);
    if (length < 0 && !out.empty()) out.pop_back();  // the NUL that was counted
    return out;
}

// `length` bytes of UTF-8 (-1: up to the NUL) as wide text; a malformed
// sequence becomes U+FFFD. Throws std::bad_alloc.
inline std::wstring WideFromUtf8(const char* text, int length = -1) {
    if (text == nullptr) return std::wstring();
    const int size = MultiByteToWideChar(CP_UTF8, 0, text, length, nullptr, 0);
    std::wstring out(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, length, out.data(), size);
    if (length < 0 && !out.empty()) out.pop_back();
    return out;
}

// The system's text for the codes this platform produces; null for others.
inline const wchar_t* SystemMessageOf(HRESULT hr) noexcept {
    switch (hr) {
        case S_OK:
            return L"The operation completed successfully.";
        case S_FALSE:
            return L"Incorrect function.";
        case E_NOTIMPL:
            return L"Not implemented";
        case E_NOINTERFACE:
            return L"No such interface supported";
        case E_POINTER:
            return L"Invalid pointer";
        case E_ABORT:
            return L"Operation aborted";
        case E_FAIL:
            return L"Unspecified error";
        case E_UNEXPECTED:
            return L"Catastrophic failure";
        case E_ACCESSDENIED:
            return L"Access is denied.";
        case E_HANDLE:
            return L"The handle is invalid.";
        case E_OUTOFMEMORY:
            return L"Not enough memory resources are available to complete this operation.";
        case E_INVALIDARG:
            return L"The parameter is incorrect.";
        case E_PENDING:
            return L"The data necessary to complete this operation is not yet available.";
        case CLASS_E_NOAGGREGATION:
            return L"Class does not support aggregation (or class object is remote)";
        case REGDB_E_CLASSNOTREG:
            return L"Class not registered";
        case CO_E_NOTINITIALIZED:
            return L"CoInitialize has not been called.";
        case RPC_E_CHANGED_MODE:
            return L"Cannot change thread mode after it is set.";
        case DISP_E_TYPEMISMATCH:
            return L"Type mismatch.";
        case DISP_E_OVERFLOW:
            return L"Out of present range.";
        case DISP_E_BADVARTYPE:
            return L"Bad variable type.";
        case DISP_E_BADINDEX:
            return L"Invalid index.";
        case DISP_E_ARRAYISLOCKED:
            return L"Memory is locked.";
        case HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND):
            return L"The system cannot find the file specified.";
        case HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND):
            return L"The system cannot find the path specified.";
        case HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY):
            return L"Not enough memory resources are available to process this command.";
        case HRESULT_FROM_WIN32(ERROR_WRITE_FAULT):
            return L"The system cannot write to the specified device.";
        case HRESULT_FROM_WIN32(ERROR_READ_FAULT):
            return L"The system cannot read from the specified device.";
        case HRESULT_FROM_WIN32(ERROR_HANDLE_DISK_FULL):
            return L"The disk is full.";
        case HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED):
            return L"The request is not supported.";
        case HRESULT_FROM_WIN32(ERROR_FILE_EXISTS):
            return L"The file exists.";
        case HRESULT_FROM_WIN32(ERROR_DISK_FULL):
            return L"There is not enough space on the disk.";
        case HRESULT_FROM_WIN32(ERROR_INVALID_NAME):
            return L"The filename, directory name, or volume label syntax is incorrect.";
        case HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS):
            return L"Cannot create a file when that file already exists.";
        case HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE):
            return L"The file size exceeds the limit allowed and cannot be saved.";
        case HRESULT_FROM_WIN32(ERROR_DIRECTORY):
            return L"The directory name is invalid.";
        case HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION):
            return L"No mapping for the Unicode character exists in the target multi-byte code "
                   L"page.";
        default:
            return nullptr;
    }
}

// Same type and value: BSTRs by text, interfaces, arrays and references by
// pointer.
inline bool VariantsEqual(const VARIANT& a, const VARIANT& b) noexcept {
    if (&a == &b) return true;
    if (a.vt != b.vt) return false;
    switch (a.vt) {
        case VT_EMPTY:
        case VT_NULL:
            return true;
        case VT_BSTR:
            return SysStringLen(a.bstrVal) == SysStringLen(b.bstrVal) &&
                   std::wmemcmp(a.bstrVal == nullptr ? L"" : a.bstrVal,
                                b.bstrVal == nullptr ? L"" : b.bstrVal,
                                SysStringLen(a.bstrVal)) == 0;
        case VT_I1:
        case VT_UI1:
            return a.bVal == b.bVal;
        case VT_I2:
        case VT_UI2:
        case VT_BOOL:
            return a.uiVal == b.uiVal;
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_ERROR:
            return a.ulVal == b.ulVal;
        case VT_R4:
            return a.fltVal == b.fltVal;
        case VT_R8:
            return a.dblVal == b.dblVal;
        case VT_DATE:
            return a.date == b.date;
        case VT_I8:
        case VT_UI8:
            return a.ullVal == b.ullVal;
        default:
            return a.byref == b.byref;
    }
}

}  // namespace xmlutil_detail

// ---- _com_error ------------------------------------------------------------
// A failed COM call: its HRESULT and, when the failing code left one, its
// error object (description, source).
class _com_error {
  public:
    // Takes `perrinfo` over, or adds a reference to it when `fAddRef`.
    _com_error(HRESULT hr, IErrorInfo* perrinfo = nullptr, bool fAddRef = false) noexcept
        : m_hresult(hr), m_perrinfo(perrinfo) {
        if (m_perrinfo != nullptr && fAddRef) m_perrinfo->AddRef();
    }
    _com_error(const _com_error& that) noexcept
        : _com_error(that.m_hresult, that.m_perrinfo, true) {}
    _com_error& operator=(const _com_error& that) noexcept {
        if (that.m_perrinfo != nullptr) that.m_perrinfo->AddRef();
        if (m_perrinfo != nullptr) m_perrinfo->Release();
        m_hresult = that.m_hresult;
        m_perrinfo = that.m_perrinfo;
        return *this;
    }
    virtual ~_com_error() {
        if (m_perrinfo != nullptr) m_perrinfo->Release();
    }

    HRESULT Error() const noexcept { return m_hresult; }
    // The WORD code of an HRESULT in 0x80040200..0x8004FFFF, else 0.
    WORD WCode() const noexcept { return HRESULTToWCode(m_hresult); }
    // The error object with a reference added (the caller releases it); null when none.
    IErrorInfo* ErrorInfo() const noexcept {
        if (m_perrinfo != nullptr) m_perrinfo->AddRef();
        return m_perrinfo;
    }
    // The error object's texts; empty when there is none.
    _bstr_t Description() const;
    _bstr_t Source() const;
    _bstr_t HelpFile() const;
    DWORD HelpContext() const noexcept {
        DWORD context = 0;
        if (m_perrinfo != nullptr) m_perrinfo->GetHelpContext(&context);
        return context;
    }
    ::GUID GUID() const noexcept {
        ::GUID guid{};
        if (m_perrinfo != nullptr) m_perrinfo->GetGUID(&guid);
        return guid;
    }
    // The system's text for the code ("Unspecified error" for E_FAIL),
    // "IDispatch error #n" for a WORD code, else "Unknown error 0x8XXXXXXX".
    // Valid while this object lives.
    const wchar_t* ErrorMessage() const noexcept {
        const wchar_t* known = xmlutil_detail::SystemMessageOf(m_hresult);
        if (known != nullptr) return known;
        constexpr size_t kSize = sizeof m_message / sizeof m_message[0];
        if (WCode() != 0) {
            std::swprintf(m_message, kSize, L"IDispatch error #%u", static_cast<unsigned>(WCode()));
        } else {
            std::swprintf(m_message, kSize, L"Unknown error 0x%0X",
                          static_cast<unsigned>(m_hresult));
        }
        return m_message;
    }

    static HRESULT WCodeToHRESULT(WORD wCode) noexcept {
        return wCode >= 0xFE00 ? XMLUTIL_HR(0x8004FFFF) : XMLUTIL_HR(0x80040200u + wCode);
    }
    static WORD HRESULTToWCode(HRESULT hr) noexcept {
        const auto code = static_cast<uint32_t>(hr);
        return code >= 0x80040200u && code <= 0x8004FFFFu ? static_cast<WORD>(code - 0x80040200u)
                                                          : WORD{0};
    }

  private:
    _bstr_t Text(HRESULT (IErrorInfo::*getter)(BSTR*)) const;

    HRESULT m_hresult;
    IErrorInfo* m_perrinfo;
    mutable wchar_t m_message[32] = {};
};

// Throws _com_error for `hr` with this thread's error object (taken) when
// there is one.
[[noreturn]] inline void _com_issue_error(HRESULT hr) {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK) info = nullptr;
    throw _com_error(hr, info);
}
// Throws _com_error for `hr` holding `perrinfo` (taken over).
[[noreturn]] inline void _com_raise_error(HRESULT hr, IErrorInfo* perrinfo = nullptr) {
    throw _com_error(hr, perrinfo);
}
// Throws _com_error for `hr`, with this thread's error object when `punk`
// says (ISupportErrorInfo) that it sets one for `riid`.
[[noreturn]] inline void _com_issue_errorex(HRESULT hr, IUnknown* punk, REFIID riid) {
    IErrorInfo* info = nullptr;
    ISupportErrorInfo* support = nullptr;
    if (punk != nullptr && SUCCEEDED(punk->QueryInterface(IID_ISupportErrorInfo,
                                                          reinterpret_cast<void**>(&support)))) {
        if (support->InterfaceSupportsErrorInfo(riid) == S_OK && GetErrorInfo(0, &info) != S_OK) {
            info = nullptr;
        }
        support->Release();
    }
    throw _com_error(hr, info);
}

// ---- _bstr_t ---------------------------------------------------------------
// A BSTR shared by copies (counted), freed with the last one. Reads as wide
// text and as UTF-8; a null _bstr_t reads as "" in comparisons and as null
// pointers. Throws _com_error(E_OUTOFMEMORY) when out of memory.
class _bstr_t {
  public:
    _bstr_t() noexcept = default;
    _bstr_t(const _bstr_t& s) noexcept = default;
    _bstr_t(_bstr_t&& s) noexcept = default;
    _bstr_t(const char* s) : data_(Make(s)) {}     // NOLINT: UTF-8 text
    _bstr_t(const wchar_t* s) : data_(Make(s)) {}  // NOLINT
    // (A _variant_t converts to _bstr_t through its operator _bstr_t.)
    // Copies `bstr`, or takes it over when `fCopy` is false.
    _bstr_t(BSTR bstr, bool fCopy) : data_(fCopy ? Make(bstr) : Adopt(bstr)) {}
    ~_bstr_t() = default;

    _bstr_t& operator=(const _bstr_t& s) noexcept = default;
    _bstr_t& operator=(_bstr_t&& s) noexcept = default;
    _bstr_t& operator=(const char* s) { return *this = _bstr_t(s); }
    _bstr_t& operator=(const wchar_t* s) { return *this = _bstr_t(s); }

    _bstr_t& operator+=(const _bstr_t& s) { return *this = *this + s; }
    _bstr_t operator+(const _bstr_t& s) const {
        const unsigned int a = length();
        const unsigned int b = s.length();
        BSTR joined = SysAllocStringLen(nullptr, a + b);
        if (joined == nullptr) _com_issue_error(E_OUTOFMEMORY);
        if (a != 0) std::wmemcpy(joined, Wide(), a);
        if (b != 0) std::wmemcpy(joined + a, s.Wide(), b);
        return _bstr_t(joined, false);
    }
    friend _bstr_t operator+(const char* a, const _bstr_t& b) { return _bstr_t(a) + b; }
    friend _bstr_t operator+(const wchar_t* a, const _bstr_t& b) { return _bstr_t(a) + b; }

    operator const wchar_t*() const noexcept { return Wide(); }  // NOLINT
    operator wchar_t*() const noexcept { return Wide(); }        // NOLINT
    // The text as UTF-8, kept with the shared string.
    operator const char*() const { return Narrow(); }  // NOLINT
    operator char*() const { return Narrow(); }        // NOLINT

    bool operator!() const noexcept { return Wide() == nullptr; }
    bool operator==(const _bstr_t& s) const noexcept { return Compare(s) == 0; }
    bool operator!=(const _bstr_t& s) const noexcept { return Compare(s) != 0; }
    bool operator<(const _bstr_t& s) const noexcept { return Compare(s) < 0; }
    bool operator>(const _bstr_t& s) const noexcept { return Compare(s) > 0; }
    bool operator<=(const _bstr_t& s) const noexcept { return Compare(s) <= 0; }
    bool operator>=(const _bstr_t& s) const noexcept { return Compare(s) >= 0; }
    bool operator==(const wchar_t* s) const { return *this == _bstr_t(s); }
    bool operator!=(const wchar_t* s) const { return *this != _bstr_t(s); }
    bool operator==(const char* s) const { return *this == _bstr_t(s); }
    bool operator!=(const char* s) const { return *this != _bstr_t(s); }
    friend bool operator==(const wchar_t* a, const _bstr_t& b) { return b == a; }
    friend bool operator!=(const wchar_t* a, const _bstr_t& b) { return b != a; }
    friend bool operator==(const char* a, const _bstr_t& b) { return b == a; }
    friend bool operator!=(const char* a, const _bstr_t& b) { return b != a; }

    // A new copy of the BSTR the caller frees, or (fCopy false) the shared one.
    BSTR copy(bool fCopy = true) const {
        if (!fCopy) return Wide();
        BSTR s = Wide();
        if (s == nullptr) return nullptr;
        BSTR made = SysAllocStringByteLen(reinterpret_cast<const char*>(s), SysStringByteLen(s));
        if (made == nullptr) _com_issue_error(E_OUTOFMEMORY);
        return made;
    }
    unsigned int length() const noexcept { return SysStringLen(Wide()); }
    // Replaces the text by a copy of `s`.
    void Assign(BSTR s) { *this = _bstr_t(s, true); }
    // The BSTR slot of this object (made unshared first); for [in, out] arguments.
    BSTR& GetBSTR() {
        Unshare();
        return data_->bstr;
    }
    // Frees the text and hands out the empty slot, for [out] arguments.
    BSTR* GetAddress() {
        data_ = Adopt(nullptr);
        return &data_->bstr;
    }
    // Takes `s` over (the previous text is released).
    void Attach(BSTR s) { data_ = Adopt(s); }
    // Hands the BSTR over to the caller (a copy while other copies share it).
    BSTR Detach() {
        if (!data_) return nullptr;
        BSTR s = data_.use_count() == 1 ? std::exchange(data_->bstr, nullptr) : copy();
        data_.reset();
        return s;
    }

  private:
    struct Data {
        BSTR bstr = nullptr;
        std::unique_ptr<std::string> utf8;  // made when first asked for
        explicit Data(BSTR s) noexcept : bstr(s) {}
        Data(const Data&) = delete;
        Data& operator=(const Data&) = delete;
        ~Data() { SysFreeString(bstr); }
    };

    static std::shared_ptr<Data> Adopt(BSTR s) {
        try {
            return std::make_shared<Data>(s);
        } catch (const std::bad_alloc&) {
            SysFreeString(s);
            _com_issue_error(E_OUTOFMEMORY);
        }
    }
    static std::shared_ptr<Data> Make(const wchar_t* s) {
        if (s == nullptr) return nullptr;
        BSTR made = SysAllocString(s);
        if (made == nullptr) _com_issue_error(E_OUTOFMEMORY);
        return Adopt(made);
    }
    static std::shared_ptr<Data> Make(BSTR s) {
        if (s == nullptr) return nullptr;
        BSTR made = SysAllocStringByteLen(reinterpret_cast<const char*>(s), SysStringByteLen(s));
        if (made == nullptr) _com_issue_error(E_OUTOFMEMORY);
        return Adopt(made);
    }
    static std::shared_ptr<Data> Make(const char* s) {
        if (s == nullptr) return nullptr;
        const std::wstring wide = xmlutil_detail::WideFromUtf8(s);
        BSTR made = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
        if (made == nullptr) _com_issue_error(E_OUTOFMEMORY);
        return Adopt(made);
    }

    BSTR Wide() const noexcept { return data_ ? data_->bstr : nullptr; }
    char* Narrow() const {
        if (!data_ || data_->bstr == nullptr) return nullptr;
        if (!data_->utf8) {
            data_->utf8 = std::make_unique<std::string>(
                xmlutil_detail::Utf8FromWide(data_->bstr, static_cast<int>(length())));
        }
        return data_->utf8->data();
    }
    void Unshare() {
        if (!data_) {
            data_ = Adopt(nullptr);
        } else if (data_.use_count() > 1) {
            data_ = Adopt(copy());
        }
        data_->utf8.reset();  // the caller may change the text
    }
    int Compare(const _bstr_t& s) const noexcept {
        const unsigned int a = length();
        const unsigned int b = s.length();
        for (unsigned int i = 0; i < a && i < b; ++i) {
            if (Wide()[i] != s.Wide()[i]) return Wide()[i] < s.Wide()[i] ? -1 : 1;
        }
        return a == b ? 0 : (a < b ? -1 : 1);
    }

    std::shared_ptr<Data> data_;
};

inline _bstr_t _com_error::Text(HRESULT (IErrorInfo::*getter)(BSTR*)) const {
    BSTR text = nullptr;
    if (m_perrinfo == nullptr || FAILED((m_perrinfo->*getter)(&text))) return _bstr_t();
    return _bstr_t(text, false);
}
inline _bstr_t _com_error::Description() const {
    return Text(&IErrorInfo::GetDescription);
}
inline _bstr_t _com_error::Source() const {
    return Text(&IErrorInfo::GetSource);
}
inline _bstr_t _com_error::HelpFile() const {
    return Text(&IErrorInfo::GetHelpFile);
}

// ---- _variant_t ------------------------------------------------------------
// A VARIANT that owns its value, made from and read as the common types.
// Reading converts with VariantChangeType and throws _com_error when it
// cannot. `long` is 64 bits here: a long that does not fit in VT_I4 is held
// as VT_I8, and reading a long accepts any 64-bit value.
class _variant_t : public VARIANT {
  public:
    _variant_t() noexcept { VariantInit(this); }
    _variant_t(const VARIANT& src) { CopyFrom(src); }  // NOLINT
    _variant_t(const VARIANT* src) {                   // NOLINT
        if (src == nullptr) _com_issue_error(E_POINTER);
        CopyFrom(*src);
    }
    _variant_t(const _variant_t& src) : _variant_t(static_cast<const VARIANT&>(src)) {}
    _variant_t(_variant_t&& src) noexcept : VARIANT(src) { VariantInit(&src); }
    // Copies `src`, or takes its value over (leaving it VT_EMPTY) when `fCopy` is false.
    _variant_t(VARIANT& src, bool fCopy) {
        if (fCopy) {
            CopyFrom(src);
        } else {
            *static_cast<VARIANT*>(this) = src;
            VariantInit(&src);
        }
    }
    _variant_t(short s, VARTYPE vtSrc = VT_I2) : _variant_t() { SetInteger(s, vtSrc); }  // NOLINT
    _variant_t(long l, VARTYPE vtSrc = VT_I4) : _variant_t() { SetInteger(l, vtSrc); }   // NOLINT
    _variant_t(int i, VARTYPE vtSrc = VT_I4) : _variant_t() { SetInteger(i, vtSrc); }    // NOLINT
    _variant_t(unsigned short s) : _variant_t() { Set(VT_UI2, uiVal, s); }               // NOLINT
    _variant_t(unsigned int u) : _variant_t() { Set(VT_UI4, ulVal, u); }                 // NOLINT
    _variant_t(unsigned long u) : _variant_t() {                                         // NOLINT
        if (u <= 0xFFFFFFFFul) {
            Set(VT_UI4, ulVal, static_cast<ULONG>(u));
        } else {
            Set(VT_UI8, ullVal, u);
        }
    }
    _variant_t(LONGLONG l) : _variant_t() { Set(VT_I8, llVal, l); }     // NOLINT
    _variant_t(ULONGLONG u) : _variant_t() { Set(VT_UI8, ullVal, u); }  // NOLINT
    _variant_t(float f) : _variant_t() { Set(VT_R4, fltVal, f); }       // NOLINT
    _variant_t(double d, VARTYPE vtSrc = VT_R8) : _variant_t() {        // NOLINT: VT_R8 or VT_DATE
        Set(vtSrc == VT_DATE ? VT_DATE : VT_R8, dblVal, d);
    }
    _variant_t(bool b) : _variant_t() {
        Set(VT_BOOL, boolVal, b ? VARIANT_TRUE : VARIANT_FALSE);
    }                                                                     // NOLINT
    _variant_t(BYTE b) : _variant_t() { Set(VT_UI1, bVal, b); }           // NOLINT
    _variant_t(char c) : _variant_t() { Set(VT_I1, cVal, c); }            // NOLINT
    _variant_t(const wchar_t* s) : _variant_t() { SetText(_bstr_t(s)); }  // NOLINT
    _variant_t(const char* s) : _variant_t() { SetText(_bstr_t(s)); }     // NOLINT
    _variant_t(const _bstr_t& s) : _variant_t() { SetText(s); }           // NOLINT
    // Holds the interface (adding a reference unless `fAddRef` is false).
    _variant_t(IUnknown* p, bool fAddRef = true) : _variant_t() {
        SetInterface(VT_UNKNOWN, p, fAddRef);
    }                                                               // NOLINT
    _variant_t(IDispatch* p, bool fAddRef = true) : _variant_t() {  // NOLINT
        SetInterface(VT_DISPATCH, p, fAddRef);
    }
    ~_variant_t() { VariantClear(this); }

    _variant_t& operator=(const _variant_t& src) {
        if (this != &src) {
            _variant_t copy(src);
            Swap(copy);
        }
        return *this;
    }
    _variant_t& operator=(_variant_t&& src) noexcept {
        Swap(src);
        return *this;
    }
    _variant_t& operator=(const VARIANT& src) { return *this = _variant_t(src); }

    // Reading: converts to the type (throws _com_error when it cannot).
    operator short() const { return Read(VT_I2).iVal; }                     // NOLINT
    operator unsigned short() const { return Read(VT_UI2).uiVal; }          // NOLINT
    operator int() const { return Read(VT_INT).intVal; }                    // NOLINT
    operator unsigned int() const { return Read(VT_UINT).uintVal; }         // NOLINT
    operator long() const { return static_cast<long>(Read(VT_I8).llVal); }  // NOLINT
    operator unsigned long() const {
        return static_cast<unsigned long>(Read(VT_UI8).ullVal);
    }                                                                         // NOLINT
    operator LONGLONG() const { return Read(VT_I8).llVal; }                   // NOLINT
    operator ULONGLONG() const { return Read(VT_UI8).ullVal; }                // NOLINT
    operator float() const { return Read(VT_R4).fltVal; }                     // NOLINT
    operator double() const { return Read(VT_R8).dblVal; }                    // NOLINT
    operator bool() const { return Read(VT_BOOL).boolVal != VARIANT_FALSE; }  // NOLINT
    operator BYTE() const { return Read(VT_UI1).bVal; }                       // NOLINT
    operator char() const { return Read(VT_I1).cVal; }                        // NOLINT
    operator _bstr_t() const {                                                // NOLINT
        _variant_t text = Read(VT_BSTR);
        return _bstr_t(std::exchange(text.bstrVal, nullptr), false);
    }
    // The interface with a reference added (the caller releases it).
    operator IUnknown*() const { return Read(VT_UNKNOWN).TakeInterface(); }  // NOLINT
    operator IDispatch*() const {                                            // NOLINT
        return static_cast<IDispatch*>(Read(VT_DISPATCH).TakeInterface());
    }

    bool operator==(const VARIANT& v) const noexcept { return Equals(v); }
    bool operator==(const VARIANT* v) const noexcept { return v != nullptr && Equals(*v); }
    bool operator!=(const VARIANT& v) const noexcept { return !Equals(v); }
    bool operator!=(const VARIANT* v) const noexcept { return !(*this == v); }

    // Converts in place (or from `src`) to `vartype`; throws _com_error.
    void ChangeType(VARTYPE vartype, const _variant_t* src = nullptr) {
        const VARIANT* from = src != nullptr ? static_cast<const VARIANT*>(src) : this;
        const HRESULT hr = VariantChangeType(this, from, 0, vartype);
        if (FAILED(hr)) _com_issue_error(hr);
    }
    // Frees the value; throws _com_error when it cannot (an accessed array).
    void Clear() {
        const HRESULT hr = VariantClear(this);
        if (FAILED(hr)) _com_issue_error(hr);
    }
    // Takes `src`'s value over, leaving it VT_EMPTY.
    void Attach(VARIANT& src) {
        Clear();
        *static_cast<VARIANT*>(this) = src;
        VariantInit(&src);
    }
    // Hands the value over, leaving this VT_EMPTY.
    VARIANT Detach() noexcept {
        VARIANT out = *this;
        VariantInit(this);
        return out;
    }
    // Holds the UTF-8 text as VT_BSTR.
    void SetString(const char* s) { *this = _variant_t(s); }

  private:
    void CopyFrom(const VARIANT& src) {
        VariantInit(this);
        const HRESULT hr = VariantCopy(this, &src);
        if (FAILED(hr)) _com_issue_error(hr);
    }
    template <class Field, class Value>
    void Set(VARTYPE type, Field& field, Value value) noexcept {
        vt = type;
        field = static_cast<Field>(value);
    }
    template <class Integer>
    void SetInteger(Integer value, VARTYPE type) {
        if (type == VT_I2 && value >= -32768 && value <= 32767) {
            Set(VT_I2, iVal, value);
        } else if (type == VT_ERROR) {
            Set(VT_ERROR, scode, value);
        } else if (type == VT_BOOL) {
            Set(VT_BOOL, boolVal, value != 0 ? VARIANT_TRUE : VARIANT_FALSE);
        } else if (value >= INT32_MIN && value <= INT32_MAX) {
            Set(VT_I4, lVal, value);
        } else {
            Set(VT_I8, llVal, value);
        }
    }
    void SetText(const _bstr_t& s) {
        vt = VT_BSTR;
        bstrVal = s.copy();
        if (bstrVal == nullptr) bstrVal = SysAllocStringLen(nullptr, 0);  // "" for a null text
        if (bstrVal == nullptr) {
            vt = VT_EMPTY;
            _com_issue_error(E_OUTOFMEMORY);
        }
    }
    void SetInterface(VARTYPE type, IUnknown* p, bool addRef) noexcept {
        vt = type;
        punkVal = p;
        if (p != nullptr && addRef) p->AddRef();
    }
    _variant_t Read(VARTYPE type) const {
        _variant_t out;
        const HRESULT hr = VariantChangeType(&out, this, 0, type);
        if (FAILED(hr)) _com_issue_error(hr);
        return out;
    }
    IUnknown* TakeInterface() noexcept {
        IUnknown* p = punkVal;
        VariantInit(this);
        return p;
    }
    void Swap(_variant_t& other) noexcept {
        const VARIANT mine = *this;
        *static_cast<VARIANT*>(this) = other;
        *static_cast<VARIANT*>(&other) = mine;
    }
    bool Equals(const VARIANT& v) const noexcept { return xmlutil_detail::VariantsEqual(*this, v); }
};

// Conversions Windows code calls by name: the caller frees the result
// (SysFreeString, delete[]). Throw _com_error(E_OUTOFMEMORY).
namespace _com_util {
inline BSTR ConvertStringToBSTR(const char* s) {
    return _bstr_t(s).Detach();
}
inline char* ConvertBSTRToString(BSTR s) {
    if (s == nullptr) return nullptr;
    const std::string utf8 = xmlutil_detail::Utf8FromWide(s, static_cast<int>(SysStringLen(s)));
    char* out = new char[utf8.size() + 1];
    std::memcpy(out, utf8.c_str(), utf8.size() + 1);
    return out;
}
}  // namespace _com_util
