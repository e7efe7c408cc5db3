// SPDX-License-Identifier: MIT
// The parts of the COM runtime the library and its callers use: per-thread
// initialisation with a threading model, creation of the one class it
// serves, and task memory.
#include <cstdlib>
#include <cwchar>

#include "platform/xmldom/document_factory.h"
#include "xmlutil/msxml.h"
#include "xmlutil/wintypes.h"

namespace {

// COM initialisation is per thread: a count of successful CoInitializeEx calls
// and the threading model the first one chose.
struct ThreadApartment {
    int initCount = 0;
    DWORD model = COINIT_MULTITHREADED;
};
thread_local ThreadApartment apartment;

DWORD ModelOf(DWORD coInit) { return coInit & COINIT_APARTMENTTHREADED; }

}  // namespace

extern "C" {

HRESULT CoInitializeEx(LPVOID, DWORD coInit) {
    const DWORD model = ModelOf(coInit);
    if (apartment.initCount > 0) {
        if (apartment.model != model) return RPC_E_CHANGED_MODE;
        ++apartment.initCount;
        return S_FALSE;
    }
    apartment.model = model;
    apartment.initCount = 1;
    return S_OK;
}

HRESULT CoInitialize(LPVOID reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

void CoUninitialize() {
    if (apartment.initCount > 0) --apartment.initCount;
}

// Serves CLSID_DOMDocument only. A thread that has not initialised COM is not
// refused: the document needs no apartment of its own here.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD, REFIID riid, LPVOID* out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_DOMDocument)) return REGDB_E_CLASSNOTREG;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return xmlutil::xmldom::CreateDocument(riid, out);
}

// The DOM document's ProgIDs, versioned or not, name the one class served.
HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid) {
    if (progId == nullptr || clsid == nullptr) return E_INVALIDARG;
    static const wchar_t* const kDocumentProgIds[] = {L"Msxml2.DOMDocument",
                                                      L"Msxml2.DOMDocument.3.0",
                                                      L"Msxml2.DOMDocument.6.0",
                                                      L"Msxml2.FreeThreadedDOMDocument",
                                                      L"Msxml2.FreeThreadedDOMDocument.3.0",
                                                      L"Msxml2.FreeThreadedDOMDocument.6.0",
                                                      L"Microsoft.XMLDOM",
                                                      L"Microsoft.FreeThreadedXMLDOM",
                                                      L"MSXML.DOMDocument"};
    for (const wchar_t* known : kDocumentProgIds) {
        if (wcscasecmp(progId, known) == 0) {
            *clsid = CLSID_DOMDocument;
            return S_OK;
        }
    }
    return CO_E_CLASSSTRING;
}

// Task memory is the C heap; a zero-byte request still gives a block to free.
LPVOID CoTaskMemAlloc(size_t bytes) {
    return std::malloc(bytes == 0 ? 1 : bytes);
}

LPVOID CoTaskMemRealloc(LPVOID block, size_t bytes) {
    return std::realloc(block, bytes == 0 ? 1 : bytes);
}

void CoTaskMemFree(LPVOID block) {
    std::free(block);
}

}  // extern "C"
