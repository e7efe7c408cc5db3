// SPDX-License-Identifier: MIT
// `get` of an expression that yields a value rather than nodes: the value as
// text, as xmllint --xpath prints it.
#pragma once

#include <string>

#include "session.h"

namespace xmlutil::tool {

// The value of `expression` in the document as text: a number as an integer
// when it is one ("4"), else in the fewest digits that read back the same
// ("0.1"), "NaN", "Infinity", "-Infinity"; a boolean as "true" or "false"; a
// string as it is. The document's result code when it cannot be evaluated.
HRESULT EvaluateToText(Document& doc, const std::wstring& expression, std::wstring& text);

// A number as EvaluateToText writes it.
std::string NumberText(double number);

}  // namespace xmlutil::tool
