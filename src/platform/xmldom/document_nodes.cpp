// SPDX-License-Identifier: MIT
// The IXMLDOMDocument members beyond loading, saving and creating the basic
// node kinds: fragments and entity references, finding elements by tag name
// or ID, replacing the document element, the document type, and the state a
// ported caller reads (URL, ready state, resolveExternals).
#include <string>

#include "platform/xmldom/document_object.h"
#include "platform/xmldom/node_ops.h"
#include "platform/xmldom/tree.h"
#include "platform/xmldom/utf.h"

namespace xmlutil::xmldom {

namespace {

constexpr long kReadyStateCompleted = 4;

// A node just made (null when libxml2 could not), handed out as interface I;
// freed again when it cannot be.
template <class I>
HRESULT HandOut(xmlNode* made, I** out) {
    if (made == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = WrapNodeAs(made, out);
    if (FAILED(hr) && WrapperOf(made) == nullptr) xmlFreeNode(made);
    return hr;
}

}  // namespace

HRESULT DocumentObject::get_doctype(IXMLDOMDocumentType** documentType) {
    if (documentType == nullptr) return E_POINTER;
    *documentType = nullptr;
    xmlDtd* dtd = doc_->intSubset;
    if (dtd == nullptr) return S_FALSE;
    return WrapNodeAs(reinterpret_cast<xmlNode*>(dtd), documentType);
}

HRESULT DocumentObject::get_implementation(IXMLDOMImplementation** impl) {
    if (impl != nullptr) *impl = nullptr;
    return E_NOTIMPL;
}

HRESULT DocumentObject::putref_documentElement(IXMLDOMElement* DOMElement) {
    if (DOMElement == nullptr) return E_INVALIDARG;
    return Guarded([&]() -> HRESULT {
        xmlNode* root = xmlDocGetRootElement(doc_);
        if (root == nullptr) return ops::AppendChild(*this, DOMElement, nullptr);
        CComPtr<IXMLDOMNode> current;
        const HRESULT hr = WrapNode(root, &current.p);
        if (FAILED(hr)) return hr;
        return ops::ReplaceChild(*this, DOMElement, current, nullptr);
    });
}

HRESULT DocumentObject::createDocumentFragment(IXMLDOMDocumentFragment** docFrag) {
    if (docFrag == nullptr) return E_POINTER;
    *docFrag = nullptr;
    return Guarded([&] { return HandOut(xmlNewDocFragment(doc_), docFrag); });
}

HRESULT DocumentObject::createEntityReference(BSTR name, IXMLDOMEntityReference** entityRef) {
    if (entityRef == nullptr) return E_POINTER;
    *entityRef = nullptr;
    return Guarded([&]() -> HRESULT {
        std::string utf8;
        if (FAILED(Utf8FromBstr(name, utf8)) || utf8.empty() ||
            xmlValidateName(ToXml(utf8.c_str()), 0) != 0) {
            return E_INVALIDARG;
        }
        xmlNode* made = xmlNewReference(doc_, ToXml(utf8.c_str()));
        if (made != nullptr && made->name == nullptr) {
            xmlFreeNode(made);
            made = nullptr;
        }
        return HandOut(made, entityRef);
    });
}

HRESULT DocumentObject::getElementsByTagName(BSTR tagName, IXMLDOMNodeList** resultList) {
    return Guarded([&] { return ops::GetElementsByTagName(*this, tagName, resultList); });
}

HRESULT DocumentObject::nodeFromID(BSTR idString, IXMLDOMNode** node) {
    if (node == nullptr) return E_POINTER;
    *node = nullptr;
    return Guarded([&]() -> HRESULT {
        std::string id;
        if (FAILED(Utf8FromBstr(idString, id))) return S_FALSE;
        xmlAttr* attr = xmlGetID(doc_, ToXml(id.c_str()));
        if (attr == nullptr || attr->parent == nullptr) return S_FALSE;
        return WrapNode(attr->parent, node);
    });
}

HRESULT DocumentObject::get_readyState(long* value) {
    if (value == nullptr) return E_POINTER;
    *value = kReadyStateCompleted;
    return S_OK;
}

HRESULT DocumentObject::get_url(BSTR* urlString) {
    if (urlString == nullptr) return E_POINTER;
    *urlString = nullptr;
    if (url_.empty()) return S_FALSE;
    return BstrFromUtf8(url_, urlString);
}

HRESULT DocumentObject::abort() {
    return S_OK;
}

HRESULT DocumentObject::get_resolveExternals(VARIANT_BOOL* isResolving) {
    if (isResolving == nullptr) return E_POINTER;
    *isResolving = resolveExternals_;
    return S_OK;
}

// Stored and reported; external DTDs and entities are never read.
HRESULT DocumentObject::put_resolveExternals(VARIANT_BOOL isResolving) {
    resolveExternals_ = isResolving != 0 ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

}  // namespace xmlutil::xmldom
