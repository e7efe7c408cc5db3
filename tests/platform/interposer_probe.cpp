// SPDX-License-Identifier: MIT
// A program that defines its own SysFreeString, SysAllocString and
// VariantClear, as a program with a COM layer of its own may. Linked with the
// shared library, it must receive none of the library's internal calls: the
// library's calls bind inside the library. Exits 0 when none arrived.
#include <cstdio>

#include "xmlutil/XMLUtil.h"

namespace {
int interposedCalls = 0;
}  // namespace

extern "C" {
BSTR SysAllocString(const OLECHAR*) {
    ++interposedCalls;
    return nullptr;
}
void SysFreeString(BSTR) {
    ++interposedCalls;
}
HRESULT VariantClear(VARIANT*) {
    ++interposedCalls;
    return S_OK;
}
}

int main() {
    std::wstring value;
    {
        CXMLUtil doc;
        doc.LoadXML(L"<a x='1'>text</a>");
        doc.SetNodeValue(L"/a", L"changed");
        doc.GetNodeValue(L"/a", value);
    }
    const bool ok = interposedCalls == 0 && value == L"changed";
    std::printf("%s: %d of the library's calls reached the program's functions; text \"%ls\"\n",
                ok ? "ok" : "FAILED", interposedCalls, value.c_str());
    return ok ? 0 : 1;
}
