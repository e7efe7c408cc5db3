// SPDX-License-Identifier: MIT
// The library's load-time entry point: what DllMain does on Windows, run by a
// shared-library constructor and destructor, on the thread that loads the
// library (the main thread before main() for a program linked with it, the
// calling thread for dlopen). Internal and hidden: no other library in the
// process can interpose on it. A static archive only links the objects a
// program refers to: the document object refers to this one, so every
// program that makes a CXMLUtil (LoadMenuXml does too) runs it.
#pragma once

#include "xmlutil/wintypes.h"

namespace xmlutil::core {

// The entry point's Windows result type (the public headers leave BOOL to
// programs that include <windows.h>).
using BOOL = int;

// DLL_PROCESS_ATTACH: starts the DOM service (libxml2's parser state), then
// initialises COM on the calling thread as a multithreaded apartment and
// remembers the result. DLL_PROCESS_DETACH:
// releases COM only when that result was S_OK. Other reasons do nothing.
// Always TRUE, so a failing COM initialisation never fails the load.
__attribute__((visibility("hidden"))) BOOL DllMain(HINSTANCE module, DWORD reason, LPVOID reserved);

// The CoInitializeEx result of the last process attach (S_OK before any).
__attribute__((visibility("hidden"))) HRESULT ComInitializationResult();

}  // namespace xmlutil::core
