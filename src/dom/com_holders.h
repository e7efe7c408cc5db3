// SPDX-License-Identifier: MIT
// RAII owners for the strings and variants that cross to the DOM service.
// Text crosses as the NUL-terminated form of the caller's string: an embedded
// NUL ends what the DOM service sees, and what comes back is read up to its
// first NUL, as on Windows.
#pragma once

#include <cstdint>
#include <string>

#include "xmlutil/atl.h"
#include "xmlutil/wintypes.h"

namespace xmlutil::dom {

// Owns one BSTR (possibly null, which the DOM service reads as "").
class Bstr {
  public:
    Bstr() = default;
    // Copies `text` up to its first NUL; throws _com_error(E_OUTOFMEMORY).
    explicit Bstr(const std::wstring& text);
    // Copies a NUL-terminated string; a null pointer gives a null BSTR.
    explicit Bstr(const wchar_t* text);
    ~Bstr() { SysFreeString(s_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    Bstr(Bstr&& other) noexcept : s_(other.s_) { other.s_ = nullptr; }
    Bstr& operator=(Bstr&& other) noexcept;

    BSTR get() const noexcept { return s_; }
    // The slot for an [out] BSTR parameter; frees what was held first.
    BSTR* out() noexcept;
    // The text up to its first NUL; "" for a null BSTR.
    std::wstring str() const { return s_ == nullptr ? std::wstring() : std::wstring(s_); }
    bool isNull() const noexcept { return s_ == nullptr; }

  private:
    BSTR s_ = nullptr;
};

// Owns one VARIANT; cleared (its BSTR freed) on destruction.
class Variant {
  public:
    Variant() noexcept { VariantInit(&v_); }
    ~Variant() { VariantClear(&v_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    Variant(Variant&& other) noexcept : v_(other.v_) { VariantInit(&other.v_); }

    // A VT_I4 holding `value`.
    static Variant Int32(LONG value) noexcept;

    const VARIANT& get() const noexcept { return v_; }
    VARIANT* out() noexcept {
        VariantClear(&v_);
        return &v_;
    }

  private:
    VARIANT v_;
};

// The text of an [in] argument for the length of one call: a BSTR, or a
// VT_BSTR variant holding it, that the callee only reads (COM leaves [in]
// strings to the caller). A short text is laid out in the object itself the
// way SysAllocString lays it out (the byte count, the characters, a NUL), so
// the common call allocates nothing; a longer one is allocated, and running
// out of memory throws what the owner it stands in for throws:
// _com_error(E_OUTOFMEMORY) as Bstr, CAtlException(E_OUTOFMEMORY) as ATL's
// variant copy.
class BstrArg {
  public:
    enum class Failure { kComError, kAtlException };

    // Copies `text` up to its first NUL.
    explicit BstrArg(const std::wstring& text, Failure failure = Failure::kComError);
    BstrArg(const BstrArg&) = delete;
    BstrArg& operator=(const BstrArg&) = delete;

    BSTR get() const noexcept { return text_; }
    // A VT_BSTR variant holding get(): never to be cleared.
    VARIANT variant() const noexcept;

  private:
    static constexpr size_t kInlineChars = 64;
    struct Inline {
        uint32_t unused;
        uint32_t byteCount;  // where SysStringByteLen reads it: just before the text
        OLECHAR chars[kInlineChars + 1];
    };

    Inline inline_;
    Bstr heap_;
    BSTR text_;
};

}  // namespace xmlutil::dom
