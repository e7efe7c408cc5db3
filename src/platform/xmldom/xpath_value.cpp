// SPDX-License-Identifier: MIT
#include "platform/xmldom/xpath_value.h"

#include <new>
#include <string>

#include "platform/xmldom/document_object.h"
#include "platform/xmldom/utf.h"

namespace xmlutil::xmldom {
namespace {

HRESULT StoreValue(const XPathValue& result, VARIANT* value) {
    switch (result.kind) {
        case XPathValue::Kind::kNumber:
            value->vt = VT_R8;
            value->dblVal = result.number;
            return S_OK;
        case XPathValue::Kind::kBoolean:
            value->vt = VT_BOOL;
            value->boolVal = result.boolean ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        case XPathValue::Kind::kString: {
            BSTR text = nullptr;
            const HRESULT hr = BstrFromUtf8(result.text, &text);
            if (FAILED(hr)) return hr;
            value->vt = VT_BSTR;
            value->bstrVal = text;
            return S_OK;
        }
    }
    return E_UNEXPECTED;
}

class XPathValueObject final : public IXmlutilXPathValue {
  public:
    explicit XPathValueObject(DocumentObject& document) : document_(document) {
        document_.AddRef();
    }

    HRESULT evaluate(BSTR expression, VARIANT* value) override {
        if (value == nullptr) return E_POINTER;
        VariantInit(value);
        return Guarded([&]() -> HRESULT {
            std::string utf8;
            if (FAILED(Utf8FromBstr(expression, utf8))) return E_FAIL;
            XPathValue result;
            const HRESULT hr = document_.EvaluateValue(utf8, result);
            return FAILED(hr) ? hr : StoreValue(result, value);
        });
    }

    HRESULT QueryInterface(REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (riid == IID_IXmlutilXPathValue) {
            *out = static_cast<IXmlutilXPathValue*>(this);
            AddRef();
            return S_OK;
        }
        // The document's interfaces, IUnknown among them (one identity).
        return document_.QueryInterface(riid, out);
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

  private:
    ~XPathValueObject() { document_.Release(); }

    DocumentObject& document_;
    ULONG refs_ = 1;
};

}  // namespace

HRESULT CreateXPathValue(DocumentObject& document, void** out) noexcept {
    // Owned by its reference count.
    XPathValueObject* made = new (std::nothrow) XPathValueObject(document);
    *out = made;
    return made == nullptr ? E_OUTOFMEMORY : S_OK;
}

}  // namespace xmlutil::xmldom
