// SPDX-License-Identifier: MIT
#include "xmlutil/wintypes.h"

extern "C" {

void VariantInit(VARIANT* v) {
    if (v == nullptr) return;
    v->vt = VT_EMPTY;
    v->wReserved1 = v->wReserved2 = v->wReserved3 = 0;
    v->llVal = 0;
}

HRESULT VariantClear(VARIANT* v) {
    if (v == nullptr) return E_INVALIDARG;
    switch (v->vt) {
        case VT_BSTR:
            SysFreeString(v->bstrVal);
            break;
        case VT_UNKNOWN:
            if (v->punkVal != nullptr) v->punkVal->Release();
            break;
        default:
            break;
    }
    VariantInit(v);
    return S_OK;
}

}  // extern "C"
