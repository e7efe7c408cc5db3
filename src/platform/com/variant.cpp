// SPDX-License-Identifier: MIT
// VARIANT ownership: what a variant owns (a BSTR, an interface reference, an
// array) is freed by VariantClear and duplicated by VariantCopy.
#include "xmlutil/wintypes.h"

namespace {

bool OwnsInterface(VARTYPE vt) {
    return vt == VT_UNKNOWN || vt == VT_DISPATCH;
}

// Byte arrays are the only arrays made here; any array a variant holds is one.
bool OwnsArray(VARTYPE vt) {
    return (vt & VT_ARRAY) != 0 && (vt & VT_BYREF) == 0;
}

}  // namespace

extern "C" {

void VariantInit(VARIANT* v) {
    if (v == nullptr) return;
    v->vt = VT_EMPTY;
    v->wReserved1 = v->wReserved2 = v->wReserved3 = 0;
    v->llVal = 0;
}

HRESULT VariantClear(VARIANT* v) {
    if (v == nullptr) return E_INVALIDARG;
    if (OwnsArray(v->vt)) {
        const HRESULT hr = SafeArrayDestroy(v->parray);
        if (FAILED(hr)) return hr;
    } else if (v->vt == VT_BSTR) {
        SysFreeString(v->bstrVal);
    } else if (OwnsInterface(v->vt) && v->punkVal != nullptr) {
        v->punkVal->Release();
    }
    VariantInit(v);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* source) {
    if (dest == nullptr || source == nullptr) return E_INVALIDARG;
    if (dest == source) return S_OK;
    VARIANT copy = *source;
    if (OwnsArray(source->vt)) {
        copy.parray = nullptr;
        if (source->parray != nullptr) {
            const HRESULT hr = SafeArrayCopy(source->parray, &copy.parray);
            if (FAILED(hr)) return hr;
        }
    } else if (source->vt == VT_BSTR && source->bstrVal != nullptr) {
        copy.bstrVal = SysAllocStringByteLen(reinterpret_cast<const char*>(source->bstrVal),
                                             SysStringByteLen(source->bstrVal));
        if (copy.bstrVal == nullptr) return E_OUTOFMEMORY;
    } else if (OwnsInterface(source->vt) && source->punkVal != nullptr) {
        source->punkVal->AddRef();
    }
    const HRESULT cleared = VariantClear(dest);
    if (FAILED(cleared)) {
        VariantClear(&copy);
        return cleared;
    }
    *dest = copy;
    return S_OK;
}

}  // extern "C"
