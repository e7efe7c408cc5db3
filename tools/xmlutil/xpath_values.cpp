// SPDX-License-Identifier: MIT
#include "xpath_values.h"

#include <xmlutil/xpath_value.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace xmlutil::tool {
namespace {

// Owns a VARIANT the document fills.
class ReceivedVariant {
  public:
    ReceivedVariant() { VariantInit(&value_); }
    ~ReceivedVariant() { VariantClear(&value_); }
    ReceivedVariant(const ReceivedVariant&) = delete;
    ReceivedVariant& operator=(const ReceivedVariant&) = delete;
    VARIANT* Slot() { return &value_; }
    const VARIANT& Get() const { return value_; }

  private:
    VARIANT value_;
};

}  // namespace

std::string NumberText(double number) {
    if (std::isnan(number)) return "NaN";
    if (std::isinf(number)) return number < 0 ? "-Infinity" : "Infinity";
    if (number == 0) return "0";  // -0 too, as XPath writes it
    char text[32];
    if (std::fabs(number) < 1e15 && number == std::trunc(number)) {
        std::snprintf(text, sizeof text, "%.0f", number);
        return text;
    }
    for (int digits = 1; digits <= 17; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, number);
        if (std::strtod(text, nullptr) == number) break;
    }
    return text;
}

HRESULT EvaluateToText(Document& doc, const std::wstring& expression, std::wstring& text) {
    CComPtr<IXmlutilXPathValue> values;
    HRESULT hr = doc.GetDomDocument().QueryInterface(&values);
    if (hr != S_OK) return hr;
    ReceivedVariant value;
    hr = values->evaluate(OwnedBstr(expression).Get(), value.Slot());
    if (hr != S_OK) return hr;
    const VARIANT& v = value.Get();
    switch (v.vt) {
        case VT_R8: {
            const std::string number = NumberText(v.dblVal);
            text.assign(number.begin(), number.end());
            return S_OK;
        }
        case VT_BOOL:
            text = v.boolVal != VARIANT_FALSE ? L"true" : L"false";
            return S_OK;
        case VT_BSTR:
            text.assign(v.bstrVal == nullptr ? L"" : v.bstrVal, SysStringLen(v.bstrVal));
            return S_OK;
        default:
            return E_UNEXPECTED;
    }
}

}  // namespace xmlutil::tool
