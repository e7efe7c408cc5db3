// SPDX-License-Identifier: MIT
// The IXMLDOMElement operations on attribute nodes, the search by tag name
// (shared with the document) and normalize.
#include <string>
#include <vector>

#include "platform/xmldom/attributes.h"
#include "platform/xmldom/document_object.h"
#include "platform/xmldom/lists.h"
#include "platform/xmldom/node_ops.h"
#include "platform/xmldom/tree.h"
#include "platform/xmldom/utf.h"

namespace xmlutil::xmldom::ops {

namespace {

HRESULT AsAttribute(IXMLDOMNode* node, IXMLDOMAttribute** out) {
    return node->QueryInterface(IID_IXMLDOMAttribute, reinterpret_cast<void**>(out));
}

// The attribute `attribute` stands for, when it is one of this service's.
DomNode* AttributeArgument(IXMLDOMAttribute* attribute) {
    DomNode* node = attribute == nullptr ? nullptr : AsDomNode(attribute);
    return node != nullptr && node->XmlNode()->type == XML_ATTRIBUTE_NODE ? node : nullptr;
}

bool IsBlankText(const xmlNode* node) {
    return node->type == XML_TEXT_NODE && (node->content == nullptr || node->content[0] == '\0');
}

// Joins each run of adjacent text nodes among the children of `element`
// into its first node and removes empty text nodes. Removed nodes that a
// handle holds stay valid, detached.
void NormalizeChildren(xmlNode* element) {
    xmlNode* child = element->children;
    while (child != nullptr) {
        xmlNode* next = child->next;
        if (child->type != XML_TEXT_NODE) {
            child = next;
            continue;
        }
        if (next != nullptr && next->type == XML_TEXT_NODE) {
            std::string joined = child->content == nullptr ? "" : FromXml(child->content);
            joined += next->content == nullptr ? "" : FromXml(next->content);
            tree::SetLeafContent(child, joined);
            tree::Remove(next);
            continue;  // the same node again, with its new next sibling
        }
        if (IsBlankText(child)) tree::Remove(child);
        child = next;
    }
}

}  // namespace

HRESULT GetAttributeNode(DomNode& self, BSTR name, IXMLDOMAttribute** attribute) {
    if (attribute == nullptr) return E_POINTER;
    *attribute = nullptr;
    CComPtr<IXMLDOMNamedNodeMap> map;
    HRESULT hr = MakeAttributeMap(self, &map.p);
    if (FAILED(hr)) return hr;
    CComPtr<IXMLDOMNode> found;
    hr = map->getNamedItem(name, &found.p);
    if (hr != S_OK) return hr;
    return AsAttribute(found, attribute);
}

HRESULT SetAttributeNode(DomNode& self, IXMLDOMAttribute* attribute, IXMLDOMAttribute** replaced) {
    if (replaced != nullptr) *replaced = nullptr;
    DomNode* incoming = AttributeArgument(attribute);
    if (incoming == nullptr) return E_INVALIDARG;
    xmlNode* element = self.XmlNode();
    xmlNode* attr = incoming->XmlNode();
    // The one it replaces, held so that it stays valid once detached.
    CComPtr<IXMLDOMNode> previous;
    xmlAttr* same = attrs::FindAttribute(element, attrs::QualifiedName(attr));
    if (same != nullptr && reinterpret_cast<xmlNode*>(same) != attr) {
        const HRESULT hr = WrapNode(reinterpret_cast<xmlNode*>(same), &previous.p);
        if (FAILED(hr)) return hr;
    }
    CComPtr<IXMLDOMNode> keep(incoming->NodeInterface());
    incoming->Owner().Changed();  // before a move may let that owner go
    const HRESULT hr = attrs::SetNode(self, *incoming);
    self.Owner().Changed();
    if (hr != S_OK) return hr;
    if (previous != nullptr && AsDomNode(previous)->XmlNode()->parent == nullptr &&
        replaced != nullptr) {
        return AsAttribute(previous, replaced);
    }
    return S_OK;
}

HRESULT RemoveAttributeNode(DomNode& self, IXMLDOMAttribute* attribute,
                            IXMLDOMAttribute** removed) {
    if (removed != nullptr) *removed = nullptr;
    DomNode* outgoing = AttributeArgument(attribute);
    if (outgoing == nullptr) return E_INVALIDARG;
    xmlNode* element = self.XmlNode();
    xmlNode* attr = outgoing->XmlNode();
    const std::string qname = attrs::QualifiedName(attr);
    if (outgoing->ReadOnly()) {
        // A namespace declaration read from this element: removed by name.
        std::string declared;
        if (!attrs::IsDeclarationName(qname, &declared) ||
            attrs::FindDeclaration(element, declared) == nullptr) {
            return E_INVALIDARG;
        }
        const HRESULT hr = attrs::RemoveByName(self, qname, nullptr);
        if (hr != S_OK) return hr;
    } else {
        if (attr->parent != element) return E_INVALIDARG;
        tree::Remove(attr);  // held by the caller's handle: stays, detached
    }
    self.Owner().Changed();
    if (removed == nullptr) return S_OK;
    attribute->AddRef();
    *removed = attribute;
    return S_OK;
}

HRESULT GetElementsByTagName(DomNode& self, BSTR tagName, IXMLDOMNodeList** list) {
    if (list == nullptr) return E_POINTER;
    *list = nullptr;
    std::string wanted;
    if (FAILED(Utf8FromBstr(tagName, wanted))) return E_INVALIDARG;
    const bool all = wanted == "*";
    xmlNode* top = self.XmlNode();
    std::vector<CComPtr<IXMLDOMNode>> found;
    HRESULT hr = S_OK;
    tree::FindInSubtree(top, [&](xmlNode* node) {
        if (node == top || node->type != XML_ELEMENT_NODE) return false;
        if (!all && attrs::QualifiedName(node) != wanted) return false;
        CComPtr<IXMLDOMNode> wrapped;
        hr = WrapNode(node, &wrapped.p);
        if (FAILED(hr)) return true;  // stops the walk
        found.push_back(std::move(wrapped));
        return false;
    });
    if (FAILED(hr)) return hr;
    return MakeSelectionList(std::move(found), list);
}

HRESULT Normalize(DomNode& self) {
    std::vector<xmlNode*> elements;
    tree::ForEachInSubtree(self.XmlNode(), [&elements](xmlNode* node) {
        if (node->type == XML_ELEMENT_NODE) elements.push_back(node);
    });
    for (xmlNode* element : elements) NormalizeChildren(element);
    self.Owner().Changed();
    return S_OK;
}

}  // namespace xmlutil::xmldom::ops
