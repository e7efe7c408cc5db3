// SPDX-License-Identifier: MIT
// Creation of a DOM document object: what CoCreateInstance(CLSID_DOMDocument)
// hands out. Declared without libxml2 so the COM stand-in can call it.
#pragma once

#include "xmlutil/wintypes.h"

namespace xmlutil::xmldom {

// A new, empty document: answers the interface `riid` through `*out`
// (IXMLDOMDocument2, IXMLDOMDocument, IXMLDOMNode or IUnknown), E_NOINTERFACE for any other,
// E_OUTOFMEMORY when it cannot be made.
HRESULT CreateDocument(REFIID riid, void** out);

}  // namespace xmlutil::xmldom
