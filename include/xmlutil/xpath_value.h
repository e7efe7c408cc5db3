// SPDX-License-Identifier: MIT
// An extension of the DOM document beyond the MSXML interfaces: the value of
// an XPath 1.0 expression that yields a number, a string or a boolean
// (count(//Item), string(/a/@b), //a = 'x'), which selectNodes and
// selectSingleNode refuse with E_FAIL because they yield no nodes. Reached
// from the document by QueryInterface:
//
//     CComPtr<IXmlutilXPathValue> values;
//     if (doc.QueryInterface(&values) == S_OK) values->evaluate(expression, &value);
#pragma once

#include "wintypes.h"

inline constexpr IID IID_IXmlutilXPathValue = {
    0xFB544195, 0x8CA9, 0x4C7A, {0x88, 0x09, 0xE7, 0x3A, 0x1C, 0x2D, 0x4E, 0x21}};

struct IXmlutilXPathValue : IUnknown {
    // Evaluates the expression against the whole document, with the prefixes
    // the document binds for its selections. S_OK and `value` (which the
    // caller clears with VariantClear) holding VT_R8 for a number (NaN and
    // the infinities included), VT_BSTR for a string, VT_BOOL for a boolean;
    // a node-set gives VT_BSTR, the string value of its first node in
    // document order ("" for none). E_FAIL for a malformed expression,
    // E_ABORT past the work limit of one evaluation (as selections have),
    // E_POINTER for a null `value`, E_OUTOFMEMORY.
    virtual HRESULT evaluate(BSTR expression, VARIANT* value) = 0;
};

XMLUTIL_DEFINE_UUIDOF(IXmlutilXPathValue, IID_IXmlutilXPathValue);
