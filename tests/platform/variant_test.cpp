// SPDX-License-Identifier: MIT
// VARIANT ownership: copy, clear, byte arrays.
#include <gtest/gtest.h>

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
