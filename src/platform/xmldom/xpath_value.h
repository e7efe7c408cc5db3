// SPDX-License-Identifier: MIT
// The document's IXmlutilXPathValue: a small object of its own that the
// document hands out on QueryInterface, keeping the document alive.
#pragma once

#include "xmlutil/xpath_value.h"

namespace xmlutil::xmldom {

class DocumentObject;

// A new IXmlutilXPathValue of `document` in *out (one reference).
// E_OUTOFMEMORY.
HRESULT CreateXPathValue(DocumentObject& document, void** out) noexcept;

}  // namespace xmlutil::xmldom
