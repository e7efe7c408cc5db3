// SPDX-License-Identifier: MIT
// The IXMLDOMNode, IXMLDOMElement and IXMLDOMAttribute operations, written
// once for every kind of node (the wrappers and the document object forward
// here). Each may throw std::bad_alloc; the forwarding methods turn that into
// E_OUTOFMEMORY.
#pragma once

#include "platform/xmldom/dom_node.h"

namespace xmlutil::xmldom::ops {

HRESULT GetNodeName(DomNode& self, BSTR* name);
HRESULT GetNodeValue(DomNode& self, VARIANT* value);
HRESULT PutNodeValue(DomNode& self, const VARIANT& value);
HRESULT GetNodeType(DomNode& self, DOMNodeType* type);
HRESULT GetParentNode(DomNode& self, IXMLDOMNode** parent);
HRESULT GetChildNodes(DomNode& self, IXMLDOMNodeList** list);
HRESULT GetFirstChild(DomNode& self, IXMLDOMNode** child);
HRESULT GetLastChild(DomNode& self, IXMLDOMNode** child);
HRESULT GetPreviousSibling(DomNode& self, IXMLDOMNode** sibling);
HRESULT GetNextSibling(DomNode& self, IXMLDOMNode** sibling);
HRESULT GetAttributes(DomNode& self, IXMLDOMNamedNodeMap** map);
HRESULT InsertBefore(DomNode& self, IXMLDOMNode* newChild, const VARIANT& refChild,
                     IXMLDOMNode** outNewChild);
HRESULT RemoveChild(DomNode& self, IXMLDOMNode* child, IXMLDOMNode** oldChild);
HRESULT AppendChild(DomNode& self, IXMLDOMNode* newChild, IXMLDOMNode** outNewChild);
HRESULT HasChildNodes(DomNode& self, VARIANT_BOOL* hasChild);
HRESULT GetOwnerDocument(DomNode& self, IXMLDOMDocument** document);
HRESULT CloneNode(DomNode& self, VARIANT_BOOL deep, IXMLDOMNode** clone);
HRESULT GetText(DomNode& self, BSTR* text);
HRESULT PutText(DomNode& self, BSTR text);
HRESULT GetXml(DomNode& self, BSTR* xml);
HRESULT SelectNodes(DomNode& self, BSTR query, IXMLDOMNodeList** list);
HRESULT SelectSingleNode(DomNode& self, BSTR query, IXMLDOMNode** node);
// How many nodes SelectNodes would list, without wrapping any of them.
HRESULT CountSelected(DomNode& self, BSTR query, long& count);
HRESULT GetNamespaceUri(DomNode& self, BSTR* uri);
HRESULT GetPrefix(DomNode& self, BSTR* prefix);
HRESULT GetBaseName(DomNode& self, BSTR* name);

// IXMLDOMElement
HRESULT GetAttribute(DomNode& self, BSTR name, VARIANT* value);
HRESULT SetAttribute(DomNode& self, BSTR name, const VARIANT& value);
HRESULT RemoveAttribute(DomNode& self, BSTR name);

}  // namespace xmlutil::xmldom::ops
