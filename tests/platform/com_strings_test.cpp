// SPDX-License-Identifier: MIT
// The [in] string arguments the library hands to the DOM service: whatever
// their length, the callee sees a proper BSTR of the text up to its first NUL.
#include <gtest/gtest.h>

#include <string>

#include "dom/com_holders.h"
#include "platform/com/alloc_hooks.h"

namespace {

using xmlutil::dom::BstrArg;

std::wstring Text(size_t length) {
    std::wstring text;
    for (size_t i = 0; i < length; ++i) text += static_cast<wchar_t>(L'a' + i % 26);
    return text;
}

TEST(BstrArg, EveryLengthReadsAsABstrOfTheText) {
    for (size_t length : {0, 1, 5, 63, 64, 65, 200, 5000}) {
        SCOPED_TRACE(length);
        const std::wstring text = Text(length);
        const BstrArg arg(text);
        ASSERT_NE(arg.get(), nullptr);
        EXPECT_EQ(SysStringLen(arg.get()), length);
        EXPECT_EQ(SysStringByteLen(arg.get()), length * sizeof(OLECHAR));
        EXPECT_EQ(std::wstring(arg.get(), SysStringLen(arg.get())), text);
        EXPECT_EQ(arg.get()[length], L'\0');
        const VARIANT v = arg.variant();
        EXPECT_EQ(v.vt, VT_BSTR);
        EXPECT_EQ(v.bstrVal, arg.get());
    }
}

TEST(BstrArg, TheTextEndsAtItsFirstNul) {
    for (size_t at : {0, 3, 64, 100}) {
        SCOPED_TRACE(at);
        std::wstring text = Text(150);
        text[at] = L'\0';
        const BstrArg arg(text);
        EXPECT_EQ(SysStringLen(arg.get()), at);
        EXPECT_EQ(std::wstring(arg.get()), text.substr(0, at));
    }
}

// Only a long text is allocated, so only a long text can meet a shortage,
// and it throws what the string owner it stands in for throws.
TEST(BstrArg, OnlyLongTextsAllocateAndTheirFailureThrowsAsDocumented) {
    xmlutil::com::FailStringAllocationAfter(0);
    EXPECT_NO_THROW(BstrArg(Text(64)));
    EXPECT_THROW(BstrArg(Text(65)), _com_error);
    EXPECT_THROW(BstrArg(Text(65), BstrArg::Failure::kAtlException), CAtlException);
    xmlutil::com::ClearStringAllocationFailure();
}

}  // namespace
