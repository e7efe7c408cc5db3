// SPDX-License-Identifier: MIT
#include "layout.h"

#include <string>
#include <vector>

#include "session.h"

namespace xmlutil::tool {
namespace {

std::vector<NodePtr> ChildrenOf(IXMLDOMNode* node) {
    std::vector<NodePtr> children;
    NodePtr child;
    node->get_firstChild(&child);
    while (child) {
        children.push_back(child);
        NodePtr next;
        child->get_nextSibling(&next);
        child = next;
    }
    return children;
}

DOMNodeType TypeOf(IXMLDOMNode* node) {
    DOMNodeType type = NODE_INVALID;
    if (node->get_nodeType(&type) != S_OK) type = NODE_INVALID;
    return type;
}

// Text of its own (or an entity that stands for text): indenting it would
// change what it says.
bool HoldsText(const std::vector<NodePtr>& children) {
    for (const NodePtr& child : children) {
        const DOMNodeType type = TypeOf(child);
        if (type == NODE_TEXT || type == NODE_CDATA_SECTION || type == NODE_ENTITY_REFERENCE) {
            return true;
        }
    }
    return false;
}

bool PreservesSpace(IXMLDOMNode* node) {
    CComPtr<IXMLDOMElement> element;
    if (CComPtr<IXMLDOMNode>(node).QueryInterface(&element) != S_OK) return false;
    VARIANT value;
    VariantInit(&value);
    const HRESULT hr = element->getAttribute(OwnedBstr(L"xml:space").Get(), &value);
    const bool preserve = hr == S_OK && value.vt == VT_BSTR && value.bstrVal != nullptr &&
                          std::wstring(value.bstrVal) == L"preserve";
    VariantClear(&value);
    return preserve;
}

class Indenter {
  public:
    Indenter(IXMLDOMDocument* doc, int indent) : doc_(doc), indent_(indent) {}

    HRESULT Element(IXMLDOMNode* element, int depth) {
        const std::vector<NodePtr> children = ChildrenOf(element);
        if (children.empty() || HoldsText(children) || PreservesSpace(element)) return S_OK;
        for (const NodePtr& child : children) {
            HRESULT hr = Insert(element, child, depth + 1);
            if (hr == S_OK && TypeOf(child) == NODE_ELEMENT) hr = Element(child, depth + 1);
            if (hr != S_OK) return hr;
        }
        return Insert(element, NodePtr(), depth);
    }

  private:
    // A line break and the indentation of `depth` before `before` (at the
    // end when empty).
    HRESULT Insert(IXMLDOMNode* parent, const NodePtr& before, int depth) {
        const std::wstring text = L"\n" + std::wstring(static_cast<size_t>(depth * indent_), L' ');
        CComPtr<IXMLDOMText> space;
        HRESULT hr = doc_->createTextNode(OwnedBstr(text).Get(), &space);
        if (hr != S_OK) return hr;
        VARIANT where;
        VariantInit(&where);
        if (before) {
            where.vt = VT_UNKNOWN;
            where.punkVal = before;  // borrowed: `before` holds it
        }
        NodePtr placed;
        return parent->insertBefore(space, where, &placed);
    }

    IXMLDOMDocument* doc_;
    int indent_;
};

}  // namespace

HRESULT LayOut(const CComPtr<IXMLDOMDocument>& doc, int indent) {
    HRESULT hr = doc->put_preserveWhiteSpace(VARIANT_TRUE);
    if (hr != S_OK || indent < 0) return hr;
    CComPtr<IXMLDOMElement> root;
    hr = doc->get_documentElement(&root);
    if (hr != S_OK) return hr;
    NodePtr rootNode;
    hr = root.QueryInterface(&rootNode);
    if (hr != S_OK) return hr;
    return Indenter(doc, indent).Element(rootNode, 0);
}

}  // namespace xmlutil::tool
