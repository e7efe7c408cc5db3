// SPDX-License-Identifier: MIT
// VARIANT ownership (copy, clear, byte arrays) and VariantChangeType's
// conversions: the texts it writes, what it reads, ranges and rounding.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "support/test_util.h"

namespace {

// A variant cleared when the test ends.
struct Var : VARIANT {
    Var() { VariantInit(this); }
    ~Var() { VariantClear(this); }
    Var(const Var&) = delete;
    Var& operator=(const Var&) = delete;
};

Var* Make(Var* v, VARTYPE vt, double number) {
    v->vt = vt;
    switch (vt) {
        case VT_I4:
            v->lVal = static_cast<LONG>(number);
            break;
        case VT_I8:
            v->llVal = static_cast<LONGLONG>(number);
            break;
        case VT_UI4:
            v->ulVal = static_cast<ULONG>(number);
            break;
        case VT_R4:
            v->fltVal = static_cast<float>(number);
            break;
        case VT_R8:
            v->dblVal = number;
            break;
        case VT_DATE:
            v->date = number;
            break;
        case VT_BOOL:
            v->boolVal = number != 0 ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        default:
            ADD_FAILURE() << "no maker for " << vt;
    }
    return v;
}

std::wstring ToText(const VARIANT& source, USHORT flags = 0) {
    Var text;
    EXPECT_HR(VariantChangeType(&text, &source, flags, VT_BSTR), S_OK);
    return text.vt == VT_BSTR ? std::wstring(text.bstrVal, SysStringLen(text.bstrVal)) : L"?";
}

double NumberOf(const VARIANT& v) {
    switch (v.vt) {
        case VT_I4:
            return v.lVal;
        case VT_I8:
            return static_cast<double>(v.llVal);
        case VT_UI4:
            return v.ulVal;
        case VT_R8:
            return v.dblVal;
        case VT_DATE:
            return v.date;
        case VT_BOOL:
            return v.boolVal;
        default:
            return NAN;
    }
}

TEST(VariantChangeType, WritesTheDocumentedTexts) {
    struct Case {
        VARTYPE vt;
        double value;
        USHORT flags;
        const wchar_t* text;
    } const cases[] = {
        {VT_I4, -42, 0, L"-42"},
        {VT_I8, -9e9, 0, L"-9000000000"},
        {VT_UI4, 4294967295.0, 0, L"4294967295"},
        {VT_R8, 0.1, 0, L"0.1"},
        {VT_R8, 1e20, 0, L"1e+20"},
        {VT_R8, -2.5, 0, L"-2.5"},
        {VT_R8, 1.0 / 3, 0, L"0.3333333333333333"},
        {VT_R4, 0.1, 0, L"0.1"},
        {VT_BOOL, 1, 0, L"-1"},
        {VT_BOOL, 0, 0, L"0"},
        {VT_BOOL, 1, VARIANT_ALPHABOOL, L"True"},
        {VT_BOOL, 0, VARIANT_ALPHABOOL, L"False"},
        {VT_DATE, 0, 0, L"1899-12-30"},
        {VT_DATE, 45352.5, 0, L"2024-03-01T12:00:00"},
        {VT_DATE, 2.0 + 1.0 / 86400 / 4, 0, L"1900-01-01T00:00:00.250"},
        {VT_DATE, -1.25, 0, L"1899-12-29T06:00:00"},
        {VT_DATE, -657434, 0, L"0100-01-01"},
    };
    for (const Case& c : cases) {
        Var source;
        EXPECT_EQ(ToText(*Make(&source, c.vt, c.value), c.flags), c.text) << c.text;
    }
}

TEST(VariantChangeType, ReadsTextsInEveryLocaleTheSame) {
    struct Case {
        const wchar_t* text;
        VARTYPE vt;
        HRESULT hr;
        double value;
    } const cases[] = {
        {L" 42 ", VT_I4, S_OK, 42},
        {L"+7", VT_I4, S_OK, 7},
        {L"2.5", VT_I4, S_OK, 2},  // half to even
        {L"3.5", VT_I4, S_OK, 4},
        {L"1e3", VT_I4, S_OK, 1000},
        {L"2147483648", VT_I4, DISP_E_OVERFLOW, 0},
        {L"-2147483648", VT_I4, S_OK, -2147483648.0},
        {L"-1", VT_UI4, DISP_E_OVERFLOW, 0},
        {L"9223372036854775807", VT_I8, S_OK, 9223372036854775807.0},
        {L"abc", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {L"", VT_R8, DISP_E_TYPEMISMATCH, 0},
        {L"1,5", VT_R8, DISP_E_TYPEMISMATCH, 0},
        {L"1.5", VT_R8, S_OK, 1.5},
        {L"-0.1e-2", VT_R8, S_OK, -0.001},
        {L"true", VT_BOOL, S_OK, VARIANT_TRUE},
        {L"FALSE", VT_BOOL, S_OK, VARIANT_FALSE},
        {L"-1", VT_BOOL, S_OK, VARIANT_TRUE},
        {L"0", VT_BOOL, S_OK, VARIANT_FALSE},
        {L"yes", VT_BOOL, DISP_E_TYPEMISMATCH, 0},
        {L"2024-03-01", VT_DATE, S_OK, 45352},
        {L"2024-03-01T12:00", VT_DATE, S_OK, 45352.5},
        {L"2024-03-01 06:00:00.5", VT_DATE, S_OK, 45352.25 + 0.5 / 86400},
        {L"1899-12-29T06:00:00", VT_DATE, S_OK, -1.25},
        {L"2023-02-29", VT_DATE, DISP_E_TYPEMISMATCH, 0},
        {L"2024-03-01T24:00", VT_DATE, DISP_E_TYPEMISMATCH, 0},
        {L"0099-12-31", VT_DATE, DISP_E_OVERFLOW, 0},
        {L"45352", VT_DATE, DISP_E_TYPEMISMATCH, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.text << " -> " << c.vt);
        Var source;
        source.vt = VT_BSTR;
        source.bstrVal = SysAllocString(c.text);
        Var result;
        result.vt = VT_I2;  // untouched on failure
        EXPECT_HR(VariantChangeType(&result, &source, 0, c.vt), c.hr);
        if (c.hr == S_OK) {
            EXPECT_EQ(result.vt, c.vt);
            EXPECT_NEAR(NumberOf(result), c.value, 1e-9);
        } else {
            EXPECT_EQ(result.vt, VT_I2);
        }
    }
}

TEST(VariantChangeType, NumbersConvertWithRangeChecksAndRounding) {
    struct Case {
        VARTYPE from;
        double value;
        VARTYPE to;
        HRESULT hr;
        double expected;
    } const cases[] = {
        {VT_R8, 2.5, VT_I4, S_OK, 2},
        {VT_R8, -3.5, VT_I4, S_OK, -4},
        {VT_R8, 3e9, VT_I4, DISP_E_OVERFLOW, 0},
        {VT_R8, 3e9, VT_UI4, S_OK, 3e9},
        {VT_R8, 3e9, VT_I8, S_OK, 3e9},
        {VT_I4, -1, VT_UI4, DISP_E_OVERFLOW, 0},
        {VT_BOOL, 1, VT_I4, S_OK, -1},
        {VT_BOOL, 1, VT_UI4, S_OK, 4294967295.0},
        {VT_I4, 7, VT_BOOL, S_OK, VARIANT_TRUE},
        {VT_R8, 1e300, VT_R4, DISP_E_OVERFLOW, 0},
        {VT_I4, 3, VT_DATE, S_OK, 3},
        {VT_R8, 1e7, VT_DATE, DISP_E_OVERFLOW, 0},
        {VT_DATE, 1.75, VT_I4, S_OK, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.from << " " << c.value << " -> " << c.to);
        Var source;
        Var result;
        EXPECT_HR(VariantChangeType(&result, Make(&source, c.from, c.value), 0, c.to), c.hr);
        if (c.hr == S_OK) {
            EXPECT_EQ(NumberOf(result), c.expected);
        }
    }
}

TEST(VariantChangeType, EveryDoubleReadsBackFromItsText) {
    for (double value :
         {0.1, 1.0 / 3, 123456789.125, 5e-324, 1.7976931348623157e308, -0.0, 6.02214076e23}) {
        Var source;
        const std::wstring text = ToText(*Make(&source, VT_R8, value));
        Var back;
        back.vt = VT_BSTR;
        back.bstrVal = SysAllocString(text.c_str());
        ASSERT_HR(VariantChangeType(&back, &back, 0, VT_R8), S_OK);  // in place
        EXPECT_EQ(back.dblVal, value) << testing::Message() << text;
    }
}

TEST(VariantChangeType, EmptyNullAndUnknownTypes) {
    Var empty;
    EXPECT_EQ(ToText(empty), L"");
    Var result;
    EXPECT_HR(VariantChangeType(&result, &empty, 0, VT_I4), S_OK);
    EXPECT_EQ(result.lVal, 0);
    Var null;
    null.vt = VT_NULL;
    EXPECT_HR(VariantChangeType(&result, &null, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
    EXPECT_HR(VariantChangeType(&result, &empty, 0, 15), DISP_E_BADVARTYPE);
    EXPECT_HR(VariantChangeType(nullptr, &empty, 0, VT_I4), E_INVALIDARG);
}

TEST(VariantCopy, DuplicatesWhatTheSourceOwns) {
    Var text;
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocStringLen(L"a\0b", 3);
    Var copy;
    ASSERT_HR(VariantCopy(&copy, &text), S_OK);
    ASSERT_NE(copy.bstrVal, text.bstrVal);
    EXPECT_EQ(std::wstring(copy.bstrVal, SysStringLen(copy.bstrVal)), std::wstring(L"a\0b", 3));

    Var bytes;
    bytes.vt = VT_ARRAY | VT_UI1;
    bytes.parray = SafeArrayCreateVector(VT_UI1, 0, 3);
    ASSERT_NE(bytes.parray, nullptr);
    static_cast<BYTE*>(bytes.parray->pvData)[2] = 7;
    ASSERT_HR(VariantCopy(&copy, &bytes), S_OK);  // frees the BSTR copy first
    ASSERT_NE(copy.parray, bytes.parray);
    void* data = nullptr;
    ASSERT_HR(SafeArrayAccessData(copy.parray, &data), S_OK);
    EXPECT_EQ(static_cast<BYTE*>(data)[2], 7);
    EXPECT_HR(VariantClear(&copy), DISP_E_ARRAYISLOCKED);  // the data is in use
    EXPECT_HR(SafeArrayUnaccessData(copy.parray), S_OK);
}

TEST(SafeArray, ByteVectorBoundsAndLocks) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 5, 0);
    ASSERT_NE(array, nullptr);
    LONG low = 0;
    LONG high = 0;
    EXPECT_HR(SafeArrayGetLBound(array, 1, &low), S_OK);
    EXPECT_HR(SafeArrayGetUBound(array, 1, &high), S_OK);
    EXPECT_EQ(low, 5);
    EXPECT_EQ(high, 4);  // empty: one below the lower bound
    EXPECT_HR(SafeArrayGetUBound(array, 2, &high), DISP_E_BADINDEX);
    EXPECT_HR(SafeArrayUnaccessData(array), E_UNEXPECTED);
    EXPECT_HR(SafeArrayDestroy(array), S_OK);
    EXPECT_EQ(SafeArrayCreateVector(VT_BSTR, 0, 1), nullptr);
}

}  // namespace
