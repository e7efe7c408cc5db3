// SPDX-License-Identifier: MIT
// Linked with the library as a static archive, which brings in only the
// objects the program refers to: the entry point must still have run on the
// main thread before main() (COM is up in the multithreaded apartment, so a
// single-threaded one is refused), and the library must work.
#include <cstdio>

#include "xmlutil/XMLUtil.h"

int main() {
    const HRESULT single = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    CXMLUtil doc;
    std::wstring value;
    const HRESULT loaded = doc.LoadXML(L"<a>static</a>");
    doc.GetNodeValue(L"/a", value);
    const bool ok = single == RPC_E_CHANGED_MODE && loaded == S_OK && value == L"static";
    std::printf("%s: CoInitializeEx(apartment-threaded) answered %ld, text \"%ls\"\n",
                ok ? "ok" : "FAILED", static_cast<long>(single), value.c_str());
    if (SUCCEEDED(single)) CoUninitialize();
    return ok ? 0 : 1;
}
