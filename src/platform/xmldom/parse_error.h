// SPDX-License-Identifier: MIT
// The parse error object: what IXMLDOMDocument::get_parseError hands out,
// and the state a document keeps of its last load to fill it.
#pragma once

#include <string>

#include "platform/xmldom/engine/engine.h"
#include "xmlutil/msxml.h"

namespace xmlutil::xmldom {

// What a parse error object reports; all zero and empty after a successful load.
struct ParseErrorState {
    long errorCode = 0;
    std::wstring url;
    std::wstring reason;
    std::wstring srcText;
    long line = 0;
    long linepos = 0;
    long filepos = 0;
};

// The state for a parse that failed as `failure` says. Throws std::bad_alloc.
ParseErrorState ParseErrorFrom(const ParseFailure& failure, const std::wstring& url);

// The state for a load that failed before parsing: a file that could not be
// opened (`code` from opening it), or a source that names no file
// (E_INVALIDARG). Throws std::bad_alloc.
ParseErrorState ParseErrorBeforeParsing(HRESULT code, const std::wstring& url);

// A new parse error object reporting a copy of `state`. E_OUTOFMEMORY.
HRESULT MakeParseError(const ParseErrorState& state, IXMLDOMParseError** out);

}  // namespace xmlutil::xmldom
