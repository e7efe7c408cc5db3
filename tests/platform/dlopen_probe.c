/* SPDX-License-Identifier: MIT
   A C program that loads the shared library with dlopen, as a plugin host or a
   language binding does, from the main thread ("main") or from a second
   thread ("thread"), then checks on the loading thread that the entry point
   ran there (COM is already up in the multithreaded apartment: asking again
   answers S_FALSE) and that the library works. Exits 0 when all holds. */
#include <dlfcn.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

/* The C functions' types as the library exports them. */
typedef int32_t (*CoInitializeExFn)(void*, uint32_t);
typedef void (*CoUninitializeFn)(void);
typedef wchar_t* (*SysAllocStringFn)(const wchar_t*);
typedef unsigned int (*SysStringLenFn)(wchar_t*);
typedef void (*SysFreeStringFn)(wchar_t*);

enum { kSOk = 0, kSFalse = 1, kMultithreaded = 0 };

static const char* libraryPath;
static int ok;

static void* LoadAndCheck(void* unused) {
    (void)unused;
    void* library = dlopen(libraryPath, RTLD_NOW | RTLD_LOCAL);
    if (library == NULL) {
        printf("dlopen failed: %s\n", dlerror());
        return NULL;
    }
    CoInitializeExFn coInitializeEx = (CoInitializeExFn)dlsym(library, "CoInitializeEx");
    CoUninitializeFn coUninitialize = (CoUninitializeFn)dlsym(library, "CoUninitialize");
    SysAllocStringFn sysAllocString = (SysAllocStringFn)dlsym(library, "SysAllocString");
    SysStringLenFn sysStringLen = (SysStringLenFn)dlsym(library, "SysStringLen");
    SysFreeStringFn sysFreeString = (SysFreeStringFn)dlsym(library, "SysFreeString");
    if (!coInitializeEx || !coUninitialize || !sysAllocString || !sysStringLen || !sysFreeString) {
        printf("a C function is not exported\n");
        return NULL;
    }
    ok = 1;
    const int32_t again = coInitializeEx(NULL, kMultithreaded);
    if (again != kSFalse) {
        printf("CoInitializeEx on the loading thread answered %ld, expected S_FALSE\n",
               (long)again);
        ok = 0;
    }
    if (again >= 0) coUninitialize();
    wchar_t* text = sysAllocString(L"loaded");
    if (text == NULL || sysStringLen(text) != 6) {
        printf("SysAllocString did not work\n");
        ok = 0;
    }
    sysFreeString(text);
    return NULL;
}

int main(int argc, char** argv) {
    if (argc != 3 || (strcmp(argv[1], "main") != 0 && strcmp(argv[1], "thread") != 0)) {
        printf("usage: dlopen_probe main|thread LIBRARY\n");
        return 2;
    }
    libraryPath = argv[2];
    if (strcmp(argv[1], "main") == 0) {
        LoadAndCheck(NULL);
    } else {
        pthread_t loader;
        if (pthread_create(&loader, NULL, LoadAndCheck, NULL) != 0) return 2;
        pthread_join(loader, NULL);
    }
    printf("%s: dlopen from %s thread\n", ok ? "ok" : "FAILED",
           strcmp(argv[1], "main") == 0 ? "the main" : "a second");
    return ok ? 0 : 1;
}
