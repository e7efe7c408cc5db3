// SPDX-License-Identifier: MIT
// VariantChangeType: the source value is read into one of a few kinds
// (integer, real, boolean, date, text), then written as the target type with
// its range checked. Texts are those of variant_text.h.
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "platform/com/variant_text.h"
#include "xmlutil/wintypes.h"

namespace {

using xmlutil::com::NumberText;

// A variant's value on its way to another type.
struct Value {
    enum class Kind { kEmpty, kSigned, kUnsigned, kReal, kBool, kDate, kText } kind = Kind::kEmpty;
    LONGLONG integer = 0;
    ULONGLONG unsignedInteger = 0;
    double real = 0;  // also the date
    bool boolean = false;
    bool single = false;  // a VT_R4 value: written as the shortest float text
    std::wstring text;
};

bool IsKnownType(VARTYPE vt) {
    if ((vt & VT_ARRAY) != 0) return true;
    switch (vt & VT_TYPEMASK) {
        case VT_EMPTY:
        case VT_NULL:
        case VT_I2:
        case VT_I4:
        case VT_R4:
        case VT_R8:
        case VT_CY:
        case VT_DATE:
        case VT_BSTR:
        case VT_DISPATCH:
        case VT_ERROR:
        case VT_BOOL:
        case VT_VARIANT:
        case VT_UNKNOWN:
        case VT_DECIMAL:
        case VT_I1:
        case VT_UI1:
        case VT_UI2:
        case VT_UI4:
        case VT_I8:
        case VT_UI8:
        case VT_INT:
        case VT_UINT:
            return true;
        default:
            return false;
    }
}

size_t ValueBytes(VARTYPE vt) {
    switch (vt) {
        case VT_I1:
        case VT_UI1:
            return 1;
        case VT_I2:
        case VT_UI2:
        case VT_BOOL:
            return 2;
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_R4:
        case VT_ERROR:
            return 4;
        case VT_I8:
        case VT_UI8:
        case VT_R8:
        case VT_DATE:
            return 8;
        case VT_BSTR:
            return sizeof(BSTR);
        default:
            return 0;
    }
}

// A VT_BYREF variant as the plain variant it points at (borrowing, not owning).
HRESULT Dereference(const VARIANT& source, VARIANT& value) {
    if ((source.vt & VT_BYREF) == 0) {
        value = source;
        return S_OK;
    }
    const VARTYPE type = source.vt & ~VT_BYREF;
    if (source.byref == nullptr) return E_INVALIDARG;
    if (type == VT_VARIANT) return Dereference(*source.pvarVal, value);
    const size_t bytes = ValueBytes(type);
    if (bytes == 0) return DISP_E_TYPEMISMATCH;
    VariantInit(&value);
    value.vt = type;
    std::memcpy(&value.llVal, source.byref, bytes);
    return S_OK;
}

HRESULT Read(const VARIANT& v, Value& out) {
    using Kind = Value::Kind;
    switch (v.vt) {
        case VT_EMPTY:
            out.kind = Kind::kEmpty;
            break;
        case VT_I1:
            out.kind = Kind::kSigned, out.integer = static_cast<signed char>(v.cVal);
            break;
        case VT_I2:
            out.kind = Kind::kSigned, out.integer = v.iVal;
            break;
        case VT_I4:
            out.kind = Kind::kSigned, out.integer = v.lVal;
            break;
        case VT_INT:
            out.kind = Kind::kSigned, out.integer = v.intVal;
            break;
        case VT_I8:
            out.kind = Kind::kSigned, out.integer = v.llVal;
            break;
        case VT_UI1:
            out.kind = Kind::kUnsigned, out.unsignedInteger = v.bVal;
            break;
        case VT_UI2:
            out.kind = Kind::kUnsigned, out.unsignedInteger = v.uiVal;
            break;
        case VT_UI4:
            out.kind = Kind::kUnsigned, out.unsignedInteger = v.ulVal;
            break;
        case VT_UINT:
            out.kind = Kind::kUnsigned, out.unsignedInteger = v.uintVal;
            break;
        case VT_UI8:
            out.kind = Kind::kUnsigned, out.unsignedInteger = v.ullVal;
            break;
        case VT_R4:
            out.kind = Kind::kReal, out.real = v.fltVal, out.single = true;
            break;
        case VT_R8:
            out.kind = Kind::kReal, out.real = v.dblVal;
            break;
        case VT_DATE:
            out.kind = Kind::kDate, out.real = v.date;
            break;
        case VT_BOOL:
            out.kind = Kind::kBool, out.boolean = v.boolVal != VARIANT_FALSE;
            break;
        case VT_BSTR:
            out.kind = Kind::kText;
            if (v.bstrVal != nullptr) out.text.assign(v.bstrVal, SysStringLen(v.bstrVal));
            break;
        default:
            return IsKnownType(v.vt) ? DISP_E_TYPEMISMATCH : DISP_E_BADVARTYPE;
    }
    return S_OK;
}

// Text as the number it reads as, for a numeric target.
HRESULT NumberFromText(Value& value) {
    const std::optional<NumberText> number = xmlutil::com::ReadNumber(value.text);
    if (!number) return DISP_E_TYPEMISMATCH;
    switch (number->kind) {
        case NumberText::Kind::kSigned:
            value.kind = Value::Kind::kSigned, value.integer = number->integer;
            break;
        case NumberText::Kind::kUnsigned:
            value.kind = Value::Kind::kUnsigned, value.unsignedInteger = number->unsignedInteger;
            break;
        case NumberText::Kind::kReal:
            value.kind = Value::Kind::kReal, value.real = number->real;
            break;
    }
    return S_OK;
}

// The value as an integer in [low, high], fractions rounded half to even.
HRESULT ToInteger(Value value, long double low, long double high, long double& out) {
    using Kind = Value::Kind;
    if (value.kind == Kind::kText) {
        const HRESULT hr = NumberFromText(value);
        if (hr != S_OK) return hr;
    }
    switch (value.kind) {
        case Kind::kEmpty:
            out = 0;
            break;
        case Kind::kSigned:
            out = static_cast<long double>(value.integer);
            break;
        case Kind::kUnsigned:
            out = static_cast<long double>(value.unsignedInteger);
            break;
        case Kind::kBool:
            out = value.boolean ? -1 : 0;
            break;
        case Kind::kReal:
        case Kind::kDate:
            if (std::isnan(value.real)) return DISP_E_OVERFLOW;
            out = std::nearbyint(static_cast<long double>(value.real));
            break;
        case Kind::kText:
            return DISP_E_TYPEMISMATCH;
    }
    // All bits set for true, as VARIANT_TRUE reads in an unsigned type.
    if (value.kind == Kind::kBool && value.boolean && low == 0) out = high;
    return out < low || out > high ? DISP_E_OVERFLOW : S_OK;
}

HRESULT ToReal(Value value, double& out) {
    using Kind = Value::Kind;
    if (value.kind == Kind::kText) {
        const HRESULT hr = NumberFromText(value);
        if (hr != S_OK) return hr;
    }
    switch (value.kind) {
        case Kind::kEmpty:
            out = 0;
            break;
        case Kind::kSigned:
            out = static_cast<double>(value.integer);
            break;
        case Kind::kUnsigned:
            out = static_cast<double>(value.unsignedInteger);
            break;
        case Kind::kBool:
            out = value.boolean ? -1 : 0;
            break;
        case Kind::kReal:
        case Kind::kDate:
            out = value.real;
            break;
        case Kind::kText:
            return DISP_E_TYPEMISMATCH;
    }
    return S_OK;
}

HRESULT ToBool(const Value& value, bool& out) {
    if (value.kind == Value::Kind::kBool) {
        out = value.boolean;
        return S_OK;
    }
    if (value.kind == Value::Kind::kText) {
        const std::optional<bool> read = xmlutil::com::ReadBool(value.text);
        if (!read) return DISP_E_TYPEMISMATCH;
        out = *read;
        return S_OK;
    }
    double real = 0;
    const HRESULT hr = ToReal(value, real);
    out = real != 0;
    return hr;
}

HRESULT ToDate(const Value& value, DATE& out) {
    if (value.kind == Value::Kind::kText) return xmlutil::com::ReadDate(value.text, out);
    const HRESULT hr = ToReal(value, out);
    if (hr != S_OK) return hr;
    return xmlutil::com::IsDateInRange(out) ? S_OK : DISP_E_OVERFLOW;
}

HRESULT ToText(const Value& value, USHORT flags, std::wstring& out) {
    using Kind = Value::Kind;
    switch (value.kind) {
        case Kind::kEmpty:
            out.clear();
            break;
        case Kind::kSigned:
            out = xmlutil::com::TextOfInteger(value.integer);
            break;
        case Kind::kUnsigned:
            out = xmlutil::com::TextOfUnsigned(value.unsignedInteger);
            break;
        case Kind::kReal:
            out = value.single ? xmlutil::com::TextOfFloat(static_cast<float>(value.real))
                               : xmlutil::com::TextOfReal(value.real);
            break;
        case Kind::kBool:
            if ((flags & VARIANT_ALPHABOOL) != 0) {
                out = value.boolean ? L"True" : L"False";
            } else {
                out = value.boolean ? L"-1" : L"0";
            }
            break;
        case Kind::kDate:
            return xmlutil::com::TextOfDate(value.real, out);
        case Kind::kText:
            out = value.text;
            break;
    }
    return S_OK;
}

template <class T>
HRESULT WriteInteger(const Value& value, T& field) {
    long double integer = 0;
    const HRESULT hr = ToInteger(value, static_cast<long double>(std::numeric_limits<T>::min()),
                                 static_cast<long double>(std::numeric_limits<T>::max()), integer);
    if (hr == S_OK) field = static_cast<T>(integer);
    return hr;
}

HRESULT WriteFloat(const Value& value, FLOAT& field) {
    double real = 0;
    const HRESULT hr = ToReal(value, real);
    if (hr != S_OK) return hr;
    if (std::isfinite(real) && std::fabs(real) > FLT_MAX) return DISP_E_OVERFLOW;
    field = static_cast<float>(real);
    return S_OK;
}

HRESULT WriteBool(const Value& value, VARIANT_BOOL& field) {
    bool boolean = false;
    const HRESULT hr = ToBool(value, boolean);
    if (hr == S_OK) field = boolean ? VARIANT_TRUE : VARIANT_FALSE;
    return hr;
}

HRESULT WriteText(const Value& value, USHORT flags, BSTR& field) {
    std::wstring text;
    const HRESULT hr = ToText(value, flags, text);
    if (hr != S_OK) return hr;
    field = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return field == nullptr ? E_OUTOFMEMORY : S_OK;
}

// Writes `value` as type `vt` into `result`, whose vt is set on success.
HRESULT Write(const Value& value, USHORT flags, VARTYPE vt, VARIANT& result) {
    HRESULT hr = DISP_E_TYPEMISMATCH;
    switch (vt) {
        case VT_I1:
            hr = WriteInteger(value, result.cVal);
            break;
        case VT_I2:
            hr = WriteInteger(value, result.iVal);
            break;
        case VT_I4:
            hr = WriteInteger(value, result.lVal);
            break;
        case VT_INT:
            hr = WriteInteger(value, result.intVal);
            break;
        case VT_I8:
            hr = WriteInteger(value, result.llVal);
            break;
        case VT_UI1:
            hr = WriteInteger(value, result.bVal);
            break;
        case VT_UI2:
            hr = WriteInteger(value, result.uiVal);
            break;
        case VT_UI4:
            hr = WriteInteger(value, result.ulVal);
            break;
        case VT_UINT:
            hr = WriteInteger(value, result.uintVal);
            break;
        case VT_UI8:
            hr = WriteInteger(value, result.ullVal);
            break;
        case VT_R4:
            hr = WriteFloat(value, result.fltVal);
            break;
        case VT_R8:
            hr = ToReal(value, result.dblVal);
            break;
        case VT_DATE:
            hr = ToDate(value, result.date);
            break;
        case VT_BOOL:
            hr = WriteBool(value, result.boolVal);
            break;
        case VT_BSTR:
            hr = WriteText(value, flags, result.bstrVal);
            break;
        default:
            break;
    }
    if (hr == S_OK) result.vt = vt;
    return hr;
}

bool IsInterface(VARTYPE vt) {
    return vt == VT_UNKNOWN || vt == VT_DISPATCH;
}

// Between IUnknown and IDispatch, through QueryInterface.
HRESULT ConvertInterface(const VARIANT& source, VARTYPE vt, VARIANT& result) {
    if (!IsInterface(source.vt)) return DISP_E_TYPEMISMATCH;
    result.vt = vt;
    if (source.punkVal == nullptr) return S_OK;
    const IID& iid = vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown;
    const HRESULT hr =
        source.punkVal->QueryInterface(iid, reinterpret_cast<void**>(&result.punkVal));
    if (FAILED(hr)) VariantInit(&result);
    return FAILED(hr) ? DISP_E_TYPEMISMATCH : S_OK;
}

HRESULT Convert(const VARIANT& source, USHORT flags, VARTYPE vt, VARIANT& result) {
    if (!IsKnownType(vt) || !IsKnownType(source.vt)) return DISP_E_BADVARTYPE;
    if (vt == source.vt) return VariantCopy(&result, &source);
    VARIANT plain;
    HRESULT hr = Dereference(source, plain);
    if (hr != S_OK) return hr;
    if (vt == plain.vt) return VariantCopy(&result, &plain);
    if (IsInterface(vt)) return ConvertInterface(plain, vt, result);
    Value value;
    hr = Read(plain, value);
    if (hr != S_OK) return hr;
    return Write(value, flags, vt, result);
}

}  // namespace

extern "C" {

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* source, USHORT flags, VARTYPE vt) {
    if (dest == nullptr || source == nullptr) return E_INVALIDARG;
    VARIANT result;
    VariantInit(&result);
    HRESULT hr = E_OUTOFMEMORY;
    try {
        hr = Convert(*source, flags, vt, result);
    } catch (const std::bad_alloc&) {
    }
    if (hr != S_OK) {
        VariantClear(&result);
        return hr;
    }
    // `dest` may be `source`: it is cleared only once the result is made.
    hr = VariantClear(dest);
    if (FAILED(hr)) {
        VariantClear(&result);
        return hr;
    }
    *dest = result;
    return S_OK;
}

HRESULT VariantChangeTypeEx(VARIANT* dest, const VARIANT* source, LCID, USHORT flags, VARTYPE vt) {
    return VariantChangeType(dest, source, flags, vt);
}

}  // extern "C"
