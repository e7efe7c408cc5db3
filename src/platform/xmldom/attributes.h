// SPDX-License-Identifier: MIT
// Names of elements and attributes, and the attribute operations shared by
// IXMLDOMElement and IXMLDOMNamedNodeMap. Namespace declarations are seen as
// attributes named "xmlns" and "xmlns:p" (base names "xmlns" and "p").
//
// An element or attribute made with a prefixed name is not bound to a
// namespace until it is placed: its libxml2 name holds "p:x" and its
// namespace is null. Appending the element, or setting the attribute on an
// element, binds the prefix to the declaration in scope there (and is refused
// when there is none, since the saved file would not load).
#pragma once

#include <string>
#include <string_view>

#include "platform/xmldom/dom_node.h"

namespace xmlutil::xmldom::attrs {

inline constexpr char kXmlnsUri[] = "http://www.w3.org/2000/xmlns/";

std::string QualifiedName(const xmlNode* node);
std::string LocalName(const xmlNode* node);
std::string Prefix(const xmlNode* node);
std::string NamespaceUri(const xmlNode* node);

// Renames an element or attribute. Throws std::bad_alloc.
void SetName(xmlNode* node, const std::string& name);

// The parts of "p:x" ("" and "x" for "x").
std::string PrefixOf(const std::string& qname);
std::string LocalOf(const std::string& qname);
// True for "xmlns" (declared prefix "") and "xmlns:p" (declared prefix "p").
bool IsDeclarationName(std::string_view qname, std::string* declaredPrefix);
// A name an element or attribute may have: a QName whose prefix is not
// "xmlns" (attributes named "xmlns"/"xmlns:p" are declarations, see above).
bool IsValidNodeName(const std::string& qname);

// The attribute of `element` with that qualified name, or null.
xmlAttr* FindAttribute(xmlNode* element, const std::string& qname);
// The declaration of `prefix` ("" for the default namespace) on `element`.
xmlNs* FindDeclaration(xmlNode* element, const std::string& prefix);
// A read-only, detached attribute node of `doc` reporting a declaration
// ("xmlns:p" or "xmlns" holding the URI), owned by its wrapper. Throws
// std::bad_alloc.
HRESULT WrapDeclaration(xmlDoc* doc, const xmlChar* prefix, const xmlChar* uri, IXMLDOMNode** out);

// Declares (or re-declares) a namespace on an element. E_INVALIDARG for a
// declaration XML forbids; E_FAIL when the element or nodes below it would
// read back in another namespace than they are in.
HRESULT SetDeclaration(xmlNode* element, const std::string& prefix, const std::string& uri);
// Gives an element just made the namespace it is named in, declared on
// itself. E_INVALIDARG for a declaration XML forbids.
HRESULT DeclareOwnNamespace(xmlNode* element, const std::string& prefix, const std::string& uri);
// True when removing `existing`, a declaration on `element`, would leave
// nodes reading back in another namespace.
bool RemovalMovesNodes(xmlNode* element, const xmlNs* existing);
// S_FALSE when the element has no such declaration; E_FAIL while removing
// it would move nodes (see RemovalMovesNodes).
HRESULT RemoveDeclaration(xmlNode* element, const std::string& prefix);

// Sets a value by qualified name, adding the attribute when absent.
HRESULT SetValue(DomNode& element, const std::string& qname, const std::string& value);
// Puts a detached attribute node (possibly of another document) on the
// element, replacing the one with the same name.
HRESULT SetNode(DomNode& element, DomNode& attribute);
// What createAttribute(qname), put_nodeValue(value) and setNamedItem on the
// element do together, in one step (the qualified name and the value already
// checked as createAttribute and put_nodeValue check them). Throws
// std::bad_alloc.
HRESULT SetNew(DomNode& element, const std::string& qname, const std::string& value);
// Removes by qualified name; S_FALSE when absent. `removed` (may be null)
// receives the removed node.
HRESULT RemoveByName(DomNode& element, const std::string& qname, IXMLDOMNode** removed);

}  // namespace xmlutil::xmldom::attrs
