// SPDX-License-Identifier: MIT
// SAFEARRAY for what callers pass in variants: one-dimensional vectors of
// bytes (VT_ARRAY | VT_UI1), e.g. a file's contents handed to the DOM's load.
// The descriptor and the data are two blocks; cLocks counts the accesses
// that keep the array from being destroyed.
#include <cstdlib>
#include <cstring>

#include "xmlutil/wintypes.h"

namespace {

constexpr USHORT kFeatureHaveVartype = 0x0080;  // FADF_HAVEVARTYPE

bool IsByteType(VARTYPE vt) {
    return vt == VT_UI1 || vt == VT_I1;
}

size_t DataBytes(const SAFEARRAY* array) {
    return static_cast<size_t>(array->rgsabound[0].cElements) * array->cbElements;
}

SAFEARRAY* NewVector(LONG lowerBound, ULONG count) {
    auto* array = static_cast<SAFEARRAY*>(std::calloc(1, sizeof(SAFEARRAY)));
    if (array == nullptr) return nullptr;
    // At least one byte, so that an empty vector still has data to point at.
    array->pvData = std::calloc(count == 0 ? 1 : count, 1);
    if (array->pvData == nullptr) {
        std::free(array);
        return nullptr;
    }
    array->cDims = 1;
    array->fFeatures = kFeatureHaveVartype;
    array->cbElements = 1;
    array->rgsabound[0] = {count, lowerBound};
    return array;
}

HRESULT CheckDimension(SAFEARRAY* array, UINT dimension, const LONG* out) {
    if (array == nullptr || out == nullptr) return E_INVALIDARG;
    if (dimension != 1) return DISP_E_BADINDEX;
    return S_OK;
}

}  // namespace

extern "C" {

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG count) {
    if (!IsByteType(vt)) return nullptr;
    return NewVector(lowerBound, count);
}

HRESULT SafeArrayDestroy(SAFEARRAY* array) {
    if (array == nullptr) return S_OK;
    if (array->cLocks != 0) return DISP_E_ARRAYISLOCKED;
    std::free(array->pvData);
    std::free(array);
    return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data) {
    if (array == nullptr || data == nullptr) return E_INVALIDARG;
    ++array->cLocks;
    *data = array->pvData;
    return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* array) {
    if (array == nullptr) return E_INVALIDARG;
    if (array->cLocks == 0) return E_UNEXPECTED;
    --array->cLocks;
    return S_OK;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dimension, LONG* lowerBound) {
    const HRESULT hr = CheckDimension(array, dimension, lowerBound);
    if (hr == S_OK) *lowerBound = array->rgsabound[0].lLbound;
    return hr;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dimension, LONG* upperBound) {
    const HRESULT hr = CheckDimension(array, dimension, upperBound);
    if (hr == S_OK) {
        const SAFEARRAYBOUND& bound = array->rgsabound[0];
        *upperBound = static_cast<LONG>(static_cast<int64_t>(bound.lLbound) + bound.cElements - 1);
    }
    return hr;
}

UINT SafeArrayGetDim(SAFEARRAY* array) {
    return array == nullptr ? 0 : array->cDims;
}

UINT SafeArrayGetElemsize(SAFEARRAY* array) {
    return array == nullptr ? 0 : array->cbElements;
}

HRESULT SafeArrayCopy(SAFEARRAY* array, SAFEARRAY** copy) {
    if (copy == nullptr) return E_INVALIDARG;
    *copy = nullptr;
    if (array == nullptr) return S_OK;
    SAFEARRAY* made = NewVector(array->rgsabound[0].lLbound, array->rgsabound[0].cElements);
    if (made == nullptr) return E_OUTOFMEMORY;
    std::memcpy(made->pvData, array->pvData, DataBytes(array));
    *copy = made;
    return S_OK;
}

}  // extern "C"
