// SPDX-License-Identifier: MIT
// Loads the shared library with dlopen, as a plugin host or a language
// binding does, from the main thread ("main") or from a second thread
// ("thread"), then checks on the loading thread that the entry point ran
// there (COM is already up in the multithreaded apartment) and that the
// library works. Exits 0 when all holds; prints what failed otherwise.
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <thread>

#include "xmlutil/wintypes.h"

namespace {

bool LoadAndCheck(const char* path) {
    void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::printf("dlopen failed: %s\n", dlerror());
        return false;
    }
    auto coInitializeEx =
        reinterpret_cast<HRESULT (*)(LPVOID, DWORD)>(dlsym(library, "CoInitializeEx"));
    auto coUninitialize = reinterpret_cast<void (*)()>(dlsym(library, "CoUninitialize"));
    auto sysAllocString =
        reinterpret_cast<BSTR (*)(const OLECHAR*)>(dlsym(library, "SysAllocString"));
    auto sysStringLen = reinterpret_cast<UINT (*)(BSTR)>(dlsym(library, "SysStringLen"));
    auto sysFreeString = reinterpret_cast<void (*)(BSTR)>(dlsym(library, "SysFreeString"));
    if (!coInitializeEx || !coUninitialize || !sysAllocString || !sysStringLen || !sysFreeString) {
        std::printf("a C function is not exported\n");
        return false;
    }
    bool ok = true;
    // The entry point initialised COM on this thread: asking again only counts.
    const HRESULT again = coInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (again != S_FALSE) {
        std::printf("CoInitializeEx on the loading thread answered %ld, expected S_FALSE\n",
                    static_cast<long>(again));
        ok = false;
    }
    if (SUCCEEDED(again)) coUninitialize();
    BSTR text = sysAllocString(L"loaded");
    if (text == nullptr || sysStringLen(text) != 6) {
        std::printf("SysAllocString did not work\n");
        ok = false;
    }
    sysFreeString(text);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || (std::strcmp(argv[1], "main") != 0 && std::strcmp(argv[1], "thread") != 0)) {
        std::printf("usage: dlopen_probe main|thread LIBRARY\n");
        return 2;
    }
    bool ok = false;
    if (std::strcmp(argv[1], "main") == 0) {
        ok = LoadAndCheck(argv[2]);
    } else {
        std::thread loader([&ok, argv] { ok = LoadAndCheck(argv[2]); });
        loader.join();
    }
    std::printf("%s: dlopen from the %s thread\n", ok ? "ok" : "FAILED", argv[1]);
    return ok ? 0 : 1;
}
