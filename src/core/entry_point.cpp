// SPDX-License-Identifier: MIT
#include "core/entry_point.h"

#include "platform/xmldom/startup.h"

namespace xmlutil::core {
namespace {

// The one piece of module-wide state: the attach-time CoInitializeEx result.
HRESULT comInitialization = S_OK;

}  // namespace

BOOL DllMain(HINSTANCE /*module*/, DWORD reason, LPVOID /*reserved*/) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            // The DOM service starts before any caller's thread can reach it.
            xmlutil::xmldom::StartDomService();
            comInitialization = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            break;
        case DLL_PROCESS_DETACH:
            // S_FALSE (COM was already up on this thread) or a failure means
            // this library added no initialisation to undo.
            if (comInitialization == S_OK) CoUninitialize();
            break;
        default:
            break;
    }
    return TRUE;
}

HRESULT ComInitializationResult() {
    return comInitialization;
}

}  // namespace xmlutil::core

namespace {

// The loader runs these on the thread that loads and unloads the library.
// The module handle is not used by the entry point, so none is looked up.
__attribute__((constructor)) void AttachProcess() {
    xmlutil::core::DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
}

__attribute__((destructor)) void DetachProcess() {
    xmlutil::core::DllMain(nullptr, DLL_PROCESS_DETACH, nullptr);
}

}  // namespace
