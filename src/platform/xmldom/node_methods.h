// SPDX-License-Identifier: MIT
// NodeMethods<I>: the IXMLDOMNode methods for any interface I derived from
// IXMLDOMNode, each forwarding to the one shared implementation in ops.
#pragma once

#include "platform/xmldom/node_ops.h"

namespace xmlutil::xmldom {

template <class I>
class NodeMethods : public I {
  public:
    HRESULT get_nodeName(BSTR* name) override {
        return Guarded([&] { return ops::GetNodeName(Self(), name); });
    }
    HRESULT get_nodeValue(VARIANT* value) override {
        return Guarded([&] { return ops::GetNodeValue(Self(), value); });
    }
    HRESULT put_nodeValue(VARIANT value) override {
        return Guarded([&] { return ops::PutNodeValue(Self(), value); });
    }
    HRESULT get_nodeType(DOMNodeType* type) override {
        return Guarded([&] { return ops::GetNodeType(Self(), type); });
    }
    HRESULT get_parentNode(IXMLDOMNode** parent) override {
        return Guarded([&] { return ops::GetParentNode(Self(), parent); });
    }
    HRESULT get_childNodes(IXMLDOMNodeList** childList) override {
        return Guarded([&] { return ops::GetChildNodes(Self(), childList); });
    }
    HRESULT get_firstChild(IXMLDOMNode** firstChild) override {
        return Guarded([&] { return ops::GetFirstChild(Self(), firstChild); });
    }
    HRESULT get_lastChild(IXMLDOMNode** lastChild) override {
        return Guarded([&] { return ops::GetLastChild(Self(), lastChild); });
    }
    HRESULT get_previousSibling(IXMLDOMNode** previousSibling) override {
        return Guarded([&] { return ops::GetPreviousSibling(Self(), previousSibling); });
    }
    HRESULT get_nextSibling(IXMLDOMNode** nextSibling) override {
        return Guarded([&] { return ops::GetNextSibling(Self(), nextSibling); });
    }
    HRESULT get_attributes(IXMLDOMNamedNodeMap** attributeMap) override {
        return Guarded([&] { return ops::GetAttributes(Self(), attributeMap); });
    }
    HRESULT insertBefore(IXMLDOMNode* newChild, VARIANT refChild,
                         IXMLDOMNode** outNewChild) override {
        return Guarded([&] { return ops::InsertBefore(Self(), newChild, refChild, outNewChild); });
    }
    HRESULT removeChild(IXMLDOMNode* childNode, IXMLDOMNode** oldChild) override {
        return Guarded([&] { return ops::RemoveChild(Self(), childNode, oldChild); });
    }
    HRESULT appendChild(IXMLDOMNode* newChild, IXMLDOMNode** outNewChild) override {
        return Guarded([&] { return ops::AppendChild(Self(), newChild, outNewChild); });
    }
    HRESULT hasChildNodes(VARIANT_BOOL* hasChild) override {
        return Guarded([&] { return ops::HasChildNodes(Self(), hasChild); });
    }
    HRESULT get_ownerDocument(IXMLDOMDocument** document) override {
        return Guarded([&] { return ops::GetOwnerDocument(Self(), document); });
    }
    HRESULT cloneNode(VARIANT_BOOL deep, IXMLDOMNode** cloneRoot) override {
        return Guarded([&] { return ops::CloneNode(Self(), deep, cloneRoot); });
    }
    HRESULT get_text(BSTR* text) override {
        return Guarded([&] { return ops::GetText(Self(), text); });
    }
    HRESULT put_text(BSTR text) override {
        return Guarded([&] { return ops::PutText(Self(), text); });
    }
    HRESULT get_xml(BSTR* xmlString) override {
        return Guarded([&] { return ops::GetXml(Self(), xmlString); });
    }
    HRESULT selectNodes(BSTR queryString, IXMLDOMNodeList** resultList) override {
        return Guarded([&] { return ops::SelectNodes(Self(), queryString, resultList); });
    }
    HRESULT selectSingleNode(BSTR queryString, IXMLDOMNode** resultNode) override {
        return Guarded([&] { return ops::SelectSingleNode(Self(), queryString, resultNode); });
    }
    HRESULT get_namespaceURI(BSTR* namespaceURI) override {
        return Guarded([&] { return ops::GetNamespaceUri(Self(), namespaceURI); });
    }
    HRESULT get_prefix(BSTR* prefix) override {
        return Guarded([&] { return ops::GetPrefix(Self(), prefix); });
    }
    HRESULT get_baseName(BSTR* nameString) override {
        return Guarded([&] { return ops::GetBaseName(Self(), nameString); });
    }

    // ---- the rest of the node surface ported code calls ----
    HRESULT get_nodeTypeString(BSTR* nodeType) override {
        return Guarded([&] { return ops::GetNodeTypeString(Self(), nodeType); });
    }
    HRESULT replaceChild(IXMLDOMNode* newChild, IXMLDOMNode* oldChild,
                         IXMLDOMNode** outOldChild) override {
        return Guarded([&] { return ops::ReplaceChild(Self(), newChild, oldChild, outOldChild); });
    }
    HRESULT get_specified(VARIANT_BOOL* isSpecified) override {
        if (isSpecified == nullptr) return E_POINTER;
        *isSpecified = VARIANT_TRUE;
        return S_OK;
    }
    HRESULT get_definition(IXMLDOMNode** definitionNode) override {
        if (definitionNode == nullptr) return E_POINTER;
        *definitionNode = nullptr;
        return S_FALSE;
    }
    HRESULT get_nodeTypedValue(VARIANT* typedValue) override {
        return Guarded([&] { return ops::GetNodeTypedValue(Self(), typedValue); });
    }
    HRESULT put_nodeTypedValue(VARIANT typedValue) override {
        return Guarded([&] { return ops::PutNodeTypedValue(Self(), typedValue); });
    }
    HRESULT get_dataType(VARIANT* dataTypeName) override {
        if (dataTypeName == nullptr) return E_POINTER;
        VariantInit(dataTypeName);
        dataTypeName->vt = VT_NULL;
        return S_FALSE;
    }
    HRESULT transformNode(IXMLDOMNode* /*stylesheet*/, BSTR* xmlString) override {
        if (xmlString != nullptr) *xmlString = nullptr;
        return E_NOTIMPL;
    }
    HRESULT get_parsed(VARIANT_BOOL* isParsed) override {
        if (isParsed == nullptr) return E_POINTER;
        *isParsed = VARIANT_TRUE;
        return S_OK;
    }
    HRESULT transformNodeToObject(IXMLDOMNode* /*stylesheet*/, VARIANT /*outputObject*/) override {
        return E_NOTIMPL;
    }

  protected:
    // The node these methods work on.
    virtual DomNode& Self() = 0;
    ~NodeMethods() = default;
};

}  // namespace xmlutil::xmldom
