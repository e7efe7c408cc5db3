// SPDX-License-Identifier: MIT
// Error objects: a failing call describes its failure in an object made by
// CreateErrorInfo and hands it to SetErrorInfo; the caller takes it back with
// GetErrorInfo. As in COM, each thread has its own current error object, and
// taking it clears it.
#include <atomic>
#include <new>
#include <string>

#include "xmlutil/atl.h"
#include "xmlutil/wintypes.h"

namespace {

// Text held by an error object; a null string reads as "".
class ErrorText {
  public:
    HRESULT Set(LPCOLESTR text) {
        try {
            text_ = text == nullptr ? L"" : text;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }
    HRESULT CopyTo(BSTR* out) const {
        if (out == nullptr) return E_INVALIDARG;
        *out = SysAllocStringLen(text_.data(), static_cast<UINT>(text_.size()));
        return *out == nullptr ? E_OUTOFMEMORY : S_OK;
    }

  private:
    std::wstring text_;
};

// One object answers both the read and the write interface.
class ErrorObject final : public IErrorInfo, public ICreateErrorInfo {
  public:
    HRESULT QueryInterface(REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IErrorInfo) {
            *out = static_cast<IErrorInfo*>(this);
        } else if (riid == IID_ICreateErrorInfo) {
            *out = static_cast<ICreateErrorInfo*>(this);
        } else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG Release() override {
        const ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete this;  // owned by its reference count
        return left;
    }

    HRESULT GetGUID(GUID* guid) override {
        if (guid == nullptr) return E_INVALIDARG;
        *guid = guid_;
        return S_OK;
    }
    HRESULT GetSource(BSTR* out) override { return source_.CopyTo(out); }
    HRESULT GetDescription(BSTR* out) override { return description_.CopyTo(out); }
    HRESULT GetHelpFile(BSTR* out) override { return helpFile_.CopyTo(out); }
    HRESULT GetHelpContext(DWORD* context) override {
        if (context == nullptr) return E_INVALIDARG;
        *context = helpContext_;
        return S_OK;
    }

    HRESULT SetGUID(REFGUID guid) override {
        guid_ = guid;
        return S_OK;
    }
    HRESULT SetSource(LPOLESTR text) override { return source_.Set(text); }
    HRESULT SetDescription(LPOLESTR text) override { return description_.Set(text); }
    HRESULT SetHelpFile(LPOLESTR text) override { return helpFile_.Set(text); }
    HRESULT SetHelpContext(DWORD context) override {
        helpContext_ = context;
        return S_OK;
    }

  private:
    std::atomic<ULONG> refs_{1};
    GUID guid_{};
    ErrorText source_;
    ErrorText description_;
    ErrorText helpFile_;
    DWORD helpContext_ = 0;
};

// The thread's current error object; released when the thread ends.
thread_local CComPtr<IErrorInfo> currentError;

}  // namespace

extern "C" {

HRESULT CreateErrorInfo(ICreateErrorInfo** out) {
    if (out == nullptr) return E_INVALIDARG;
    ErrorObject* made = new (std::nothrow) ErrorObject();
    *out = made;
    return made == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* error) {
    if (reserved != 0) return E_INVALIDARG;
    currentError = error;
    return S_OK;
}

HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** out) {
    if (out == nullptr || reserved != 0) return E_INVALIDARG;
    *out = currentError.Detach();
    return *out == nullptr ? S_FALSE : S_OK;
}

}  // extern "C"
