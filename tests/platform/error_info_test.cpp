// SPDX-License-Identifier: MIT
// Error objects: what a failing call records is read back once, on its own
// thread only.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "support/test_util.h"

namespace {

CComPtr<IErrorInfo> MakeError(const wchar_t* description, const wchar_t* source) {
    CComPtr<ICreateErrorInfo> create;
    EXPECT_HR(CreateErrorInfo(&create), S_OK);
    EXPECT_HR(create->SetDescription(const_cast<LPOLESTR>(description)), S_OK);
    EXPECT_HR(create->SetSource(const_cast<LPOLESTR>(source)), S_OK);
    EXPECT_HR(create->SetGUID(IID_IDispatch), S_OK);
    CComPtr<IErrorInfo> error;
    EXPECT_HR(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&error)), S_OK);
    return error;
}

std::wstring Take(HRESULT (IErrorInfo::*getter)(BSTR*), IErrorInfo* error) {
    BSTR text = nullptr;
    EXPECT_HR((error->*getter)(&text), S_OK);
    std::wstring value(text, SysStringLen(text));
    SysFreeString(text);
    return value;
}

TEST(ErrorInfo, IsTakenOnceAndKeepsWhatWasSet) {
    ASSERT_HR(SetErrorInfo(0, MakeError(L"bad input", L"Reader")), S_OK);
    CComPtr<IErrorInfo> taken;
    ASSERT_HR(GetErrorInfo(0, &taken), S_OK);
    EXPECT_EQ(Take(&IErrorInfo::GetDescription, taken), L"bad input");
    EXPECT_EQ(Take(&IErrorInfo::GetSource, taken), L"Reader");
    EXPECT_EQ(Take(&IErrorInfo::GetHelpFile, taken), L"");
    GUID guid{};
    EXPECT_HR(taken->GetGUID(&guid), S_OK);
    EXPECT_TRUE(IsEqualGUID(guid, IID_IDispatch));

    IErrorInfo* again = reinterpret_cast<IErrorInfo*>(&guid);
    EXPECT_HR(GetErrorInfo(0, &again), S_FALSE);
    EXPECT_EQ(again, nullptr);
}

TEST(ErrorInfo, EachThreadHasItsOwn) {
    ASSERT_HR(SetErrorInfo(0, MakeError(L"main", L"")), S_OK);
    std::thread other([] {
        IErrorInfo* none = nullptr;
        EXPECT_HR(GetErrorInfo(0, &none), S_FALSE);
        // Left set when the thread ends: released with the thread.
        EXPECT_HR(SetErrorInfo(0, MakeError(L"other", L"")), S_OK);
    });
    other.join();
    CComPtr<IErrorInfo> mine;
    ASSERT_HR(GetErrorInfo(0, &mine), S_OK);
    EXPECT_EQ(Take(&IErrorInfo::GetDescription, mine), L"main");
    ASSERT_HR(SetErrorInfo(0, MakeError(L"replaced", L"")), S_OK);
    ASSERT_HR(SetErrorInfo(0, nullptr), S_OK);  // clears
    CComPtr<IErrorInfo> none;
    EXPECT_HR(GetErrorInfo(0, &none), S_FALSE);
}

}  // namespace
