// SPDX-License-Identifier: MIT
// Laying a document out for `format`: the indentation is written into the
// tree as whitespace text and the document told to keep whitespace, so the
// library saves it as laid out, in the file's own encoding.
#pragma once

#include <xmlutil/atl.h>
#include <xmlutil/msxml.h>

namespace xmlutil::tool {

// Indents every element that holds no text of its own by `indent` spaces a
// level (a line per child); none, and no line breaks, when `indent` is
// negative. Mixed content and xml:space="preserve" are left as they are.
// Must run on a document loaded without whitespace (as the tool loads).
HRESULT LayOut(const CComPtr<IXMLDOMDocument>& doc, int indent);

}  // namespace xmlutil::tool
