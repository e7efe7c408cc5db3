// SPDX-License-Identifier: MIT
// The IXMLDOMNode, IXMLDOMElement and IXMLDOMAttribute operations, written
// once for every kind of node (the wrappers and the document object forward
// here). Each may throw std::bad_alloc; the forwarding methods turn that into
// E_OUTOFMEMORY.
#pragma once

#include <string>

#include "platform/xmldom/dom_node.h"

namespace xmlutil::xmldom::ops {

// True when `text` can be a comment's text: XML has no escape for "--"
// inside a comment, nor for a "-" just before its end.
bool IsCommentText(const std::string& text);

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
HRESULT GetNodeTypeString(DomNode& self, BSTR* typeString);
HRESULT ReplaceChild(DomNode& self, IXMLDOMNode* newChild, IXMLDOMNode* oldChild,
                     IXMLDOMNode** outOldChild);
HRESULT GetNodeTypedValue(DomNode& self, VARIANT* value);
HRESULT PutNodeTypedValue(DomNode& self, const VARIANT& value);

// IXMLDOMElement
HRESULT GetAttribute(DomNode& self, BSTR name, VARIANT* value);
HRESULT SetAttribute(DomNode& self, BSTR name, const VARIANT& value);
HRESULT RemoveAttribute(DomNode& self, BSTR name);
// (element_ops.cpp)
HRESULT GetAttributeNode(DomNode& self, BSTR name, IXMLDOMAttribute** attribute);
HRESULT SetAttributeNode(DomNode& self, IXMLDOMAttribute* attribute, IXMLDOMAttribute** replaced);
HRESULT RemoveAttributeNode(DomNode& self, IXMLDOMAttribute* attribute, IXMLDOMAttribute** removed);
// The elements below `self` (an element, or the document) named `tagName`.
HRESULT GetElementsByTagName(DomNode& self, BSTR tagName, IXMLDOMNodeList** list);
HRESULT Normalize(DomNode& self);

// IXMLDOMCharacterData, IXMLDOMText, IXMLDOMProcessingInstruction
// (character_data.cpp)
HRESULT GetData(DomNode& self, BSTR* data);
HRESULT GetDataLength(DomNode& self, long* length);
HRESULT SubstringData(DomNode& self, long offset, long count, BSTR* data);
// Replaces `count` characters from `offset` by `data`: insertData, deleteData
// (no data), appendData (offset at the end) and replaceData in one.
HRESULT ReplaceData(DomNode& self, long offset, long count, BSTR data);
HRESULT AppendData(DomNode& self, BSTR data);
HRESULT SplitText(DomNode& self, long offset, IXMLDOMText** right);
HRESULT GetTarget(DomNode& self, BSTR* target);

}  // namespace xmlutil::xmldom::ops
