// SPDX-License-Identifier: MIT
// CComPtr, _com_error and CAtlException with the members Windows callers use.
#pragma once

#include <cstddef>
#include <memory>
#include <utility>

#include "wintypes.h"

// Counted reference to a COM interface. Copies add a reference, destruction
// releases it, `&` hands out the raw slot for [out] parameters.
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

    operator T*() const noexcept { return p; }  // NOLINT(google-explicit-constructor)
    T& operator*() const noexcept { return *p; }
    T** operator&() noexcept { return &p; }
    T* operator->() const noexcept { return p; }
    bool operator!() const noexcept { return p == nullptr; }
    bool operator<(T* other) const noexcept { return p < other; }
    bool operator==(T* other) const noexcept { return p == other; }
    bool operator!=(T* other) const noexcept { return p != other; }
    bool operator==(std::nullptr_t) const noexcept { return p == nullptr; }
    bool operator!=(std::nullptr_t) const noexcept { return p != nullptr; }

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

// Raised by string conversions that run out of memory (E_OUTOFMEMORY).
class _com_error {
public:
    explicit _com_error(HRESULT hr) noexcept : m_hresult(hr) {}
    HRESULT Error() const noexcept { return m_hresult; }

private:
    HRESULT m_hresult;
};

// Raised by ATL helpers (variant and path copies) that run out of memory.
class CAtlException {
public:
    CAtlException(HRESULT hr = E_FAIL) noexcept : m_hr(hr) {}  // NOLINT
    operator HRESULT() const noexcept { return m_hr; }          // NOLINT
    HRESULT m_hr;
};

[[noreturn]] inline void AtlThrow(HRESULT hr) { throw CAtlException(hr); }
