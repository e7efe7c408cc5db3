// SPDX-License-Identifier: MIT
// The XML DOM interfaces (MSXML names, GUIDs and method signatures) that the
// library and its callers use. libxmlutil implements them over libxml2; the
// document class is created with CoCreateInstance(CLSID_DOMDocument, ...).
#pragma once

#include "wintypes.h"

#define XMLUTIL_MSXML_GUID(d1)                             \
    {                                                      \
        d1, 0x7B36, 0x11D2, {                              \
            0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60 \
        }                                                  \
    }

inline constexpr CLSID CLSID_DOMDocument = XMLUTIL_MSXML_GUID(0x2933BF90);
inline constexpr IID IID_IXMLDOMNode = XMLUTIL_MSXML_GUID(0x2933BF80);
inline constexpr IID IID_IXMLDOMDocument = XMLUTIL_MSXML_GUID(0x2933BF81);
inline constexpr IID IID_IXMLDOMNodeList = XMLUTIL_MSXML_GUID(0x2933BF82);
inline constexpr IID IID_IXMLDOMNamedNodeMap = XMLUTIL_MSXML_GUID(0x2933BF83);
inline constexpr IID IID_IXMLDOMAttribute = XMLUTIL_MSXML_GUID(0x2933BF85);
inline constexpr IID IID_IXMLDOMElement = XMLUTIL_MSXML_GUID(0x2933BF86);
inline constexpr IID IID_IXMLDOMText = XMLUTIL_MSXML_GUID(0x2933BF87);
inline constexpr IID IID_IXMLDOMComment = XMLUTIL_MSXML_GUID(0x2933BF88);
inline constexpr IID IID_IXMLDOMProcessingInstruction = XMLUTIL_MSXML_GUID(0x2933BF89);
inline constexpr IID IID_IXMLDOMCDATASection = XMLUTIL_MSXML_GUID(0x2933BF8A);

// ---- parse errors ----
inline constexpr IID IID_IXMLDOMParseError = {
    0x3EFAA426, 0x272F, 0x11D2, {0x83, 0x6F, 0x00, 0x00, 0xF8, 0x7A, 0x77, 0x82}};

// IXMLDOMParseError::get_errorCode values: what kind of failure stopped the
// last load (0 when it succeeded). A file that could not be opened or read
// gives the system's code instead (HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
// E_ACCESSDENIED, ...), and running out of memory E_OUTOFMEMORY.
inline constexpr HRESULT XMLUTIL_E_NOT_WELL_FORMED = XMLUTIL_HR(0x80040601);
// An unknown or unsupported encoding, or bytes the encoding does not have.
inline constexpr HRESULT XMLUTIL_E_ENCODING = XMLUTIL_HR(0x80040602);
// A DTD under ProhibitDTD, or a reference to an external entity (never loaded).
inline constexpr HRESULT XMLUTIL_E_DTD_REFUSED = XMLUTIL_HR(0x80040603);
// Elements nested past the depth limit, or entity expansion past its limit.
inline constexpr HRESULT XMLUTIL_E_TOO_LARGE = XMLUTIL_HR(0x80040604);

enum DOMNodeType {
    NODE_INVALID = 0,
    NODE_ELEMENT = 1,
    NODE_ATTRIBUTE = 2,
    NODE_TEXT = 3,
    NODE_CDATA_SECTION = 4,
    NODE_ENTITY_REFERENCE = 5,
    NODE_ENTITY = 6,
    NODE_PROCESSING_INSTRUCTION = 7,
    NODE_COMMENT = 8,
    NODE_DOCUMENT = 9,
    NODE_DOCUMENT_TYPE = 10,
    NODE_DOCUMENT_FRAGMENT = 11,
    NODE_NOTATION = 12,
};

namespace xmlutil_detail {
// get_length into a LONG (32 bits, as on Windows) through the long (64 bits
// here) the interface declares; E_POINTER for null, the value untouched on failure.
template <class List>
HRESULT LongOut(List* list, LONG* out) {
    if (out == nullptr) return E_POINTER;
    long value = *out;
    const HRESULT hr = list->get_length(&value);
    if (SUCCEEDED(hr)) *out = static_cast<LONG>(value);
    return hr;
}
}  // namespace xmlutil_detail

struct IXMLDOMNode;
struct IXMLDOMDocument;
struct IXMLDOMElement;
struct IXMLDOMNodeList;
struct IXMLDOMNamedNodeMap;
struct IXMLDOMAttribute;
struct IXMLDOMText;
struct IXMLDOMComment;
struct IXMLDOMCDATASection;
struct IXMLDOMProcessingInstruction;
struct IXMLDOMParseError;

// A node of the tree. Methods answer S_OK, S_FALSE with an empty result where
// there is nothing to give (no parent, no sibling, no match, no attribute map),
// or a failure code. Strings returned are BSTRs the caller frees.
struct IXMLDOMNode : IUnknown {
    virtual HRESULT get_nodeName(BSTR* name) = 0;
    virtual HRESULT get_nodeValue(VARIANT* value) = 0;
    virtual HRESULT put_nodeValue(VARIANT value) = 0;
    virtual HRESULT get_nodeType(DOMNodeType* type) = 0;
    virtual HRESULT get_parentNode(IXMLDOMNode** parent) = 0;
    virtual HRESULT get_childNodes(IXMLDOMNodeList** childList) = 0;
    virtual HRESULT get_firstChild(IXMLDOMNode** firstChild) = 0;
    virtual HRESULT get_lastChild(IXMLDOMNode** lastChild) = 0;
    virtual HRESULT get_previousSibling(IXMLDOMNode** previousSibling) = 0;
    virtual HRESULT get_nextSibling(IXMLDOMNode** nextSibling) = 0;
    virtual HRESULT get_attributes(IXMLDOMNamedNodeMap** attributeMap) = 0;
    virtual HRESULT insertBefore(IXMLDOMNode* newChild, VARIANT refChild,
                                 IXMLDOMNode** outNewChild) = 0;
    virtual HRESULT removeChild(IXMLDOMNode* childNode, IXMLDOMNode** oldChild) = 0;
    virtual HRESULT appendChild(IXMLDOMNode* newChild, IXMLDOMNode** outNewChild) = 0;
    virtual HRESULT hasChildNodes(VARIANT_BOOL* hasChild) = 0;
    virtual HRESULT get_ownerDocument(IXMLDOMDocument** document) = 0;
    virtual HRESULT cloneNode(VARIANT_BOOL deep, IXMLDOMNode** cloneRoot) = 0;
    virtual HRESULT get_text(BSTR* text) = 0;
    virtual HRESULT put_text(BSTR text) = 0;
    virtual HRESULT get_xml(BSTR* xmlString) = 0;
    virtual HRESULT selectNodes(BSTR queryString, IXMLDOMNodeList** resultList) = 0;
    virtual HRESULT selectSingleNode(BSTR queryString, IXMLDOMNode** resultNode) = 0;
    virtual HRESULT get_namespaceURI(BSTR* namespaceURI) = 0;
    virtual HRESULT get_prefix(BSTR* prefix) = 0;
    virtual HRESULT get_baseName(BSTR* nameString) = 0;
};

// An ordered list of nodes: the children of a node (live) or the matches of
// a selection (fixed when made). get_item out of range answers S_FALSE.
struct IXMLDOMNodeList : IUnknown {
    virtual HRESULT get_item(long index, IXMLDOMNode** listItem) = 0;
    virtual HRESULT get_length(long* listLength) = 0;
    virtual HRESULT nextNode(IXMLDOMNode** nextItem) = 0;
    virtual HRESULT reset() = 0;
    // The length into a LONG, as Windows code declares it (fails like get_length).
    HRESULT get_length(LONG* listLength) { return xmlutil_detail::LongOut(this, listLength); }
};

// The attributes of an element (namespace declarations included).
struct IXMLDOMNamedNodeMap : IUnknown {
    virtual HRESULT getNamedItem(BSTR name, IXMLDOMNode** namedItem) = 0;
    virtual HRESULT setNamedItem(IXMLDOMNode* newItem, IXMLDOMNode** nameItem) = 0;
    virtual HRESULT removeNamedItem(BSTR name, IXMLDOMNode** namedItem) = 0;
    virtual HRESULT get_item(long index, IXMLDOMNode** listItem) = 0;
    virtual HRESULT get_length(long* listLength) = 0;
    // The length into a LONG, as Windows code declares it (fails like get_length).
    HRESULT get_length(LONG* listLength) { return xmlutil_detail::LongOut(this, listLength); }
};

struct IXMLDOMElement : IXMLDOMNode {
    virtual HRESULT get_tagName(BSTR* tagName) = 0;
    // S_FALSE with a VT_NULL value when the attribute is absent.
    virtual HRESULT getAttribute(BSTR name, VARIANT* value) = 0;
    virtual HRESULT setAttribute(BSTR name, VARIANT value) = 0;
    virtual HRESULT removeAttribute(BSTR name) = 0;
};

struct IXMLDOMAttribute : IXMLDOMNode {
    virtual HRESULT get_name(BSTR* attributeName) = 0;
    virtual HRESULT get_value(VARIANT* attributeValue) = 0;
    virtual HRESULT put_value(VARIANT attributeValue) = 0;
};

struct IXMLDOMText : IXMLDOMNode {};
struct IXMLDOMCDATASection : IXMLDOMText {};
struct IXMLDOMComment : IXMLDOMNode {};
struct IXMLDOMProcessingInstruction : IXMLDOMNode {};

// What stopped a load. Every getter answers S_OK, or E_POINTER for a null
// pointer; strings are BSTRs the caller frees ("" when there is nothing).
struct IXMLDOMParseError : IUnknown {
    // 0, or one of the XMLUTIL_E_* kinds above, or a file or memory code.
    virtual HRESULT get_errorCode(long* errorCode) = 0;
    // The path load was given; "" for loadXML.
    virtual HRESULT get_url(BSTR* urlString) = 0;
    // One line saying what went wrong, from the parser's own message.
    virtual HRESULT get_reason(BSTR* reasonString) = 0;
    // The text of the offending line around the error, at most 240 bytes of it.
    virtual HRESULT get_srcText(BSTR* sourceString) = 0;
    // Line of the error, from 1 (0 when no position is known).
    virtual HRESULT get_line(long* lineNumber) = 0;
    // Character of the error on its line, from 1 (0 when unknown).
    virtual HRESULT get_linepos(long* linePosition) = 0;
    // Offset of the error: characters before it for loadXML, bytes of the
    // file (as UTF-8) before it for load.
    virtual HRESULT get_filepos(long* filePosition) = 0;
};

// The document: also the node at the top of its tree.
struct IXMLDOMDocument : IXMLDOMNode {
    virtual HRESULT get_documentElement(IXMLDOMElement** documentElement) = 0;
    virtual HRESULT createElement(BSTR tagName, IXMLDOMElement** element) = 0;
    virtual HRESULT createTextNode(BSTR data, IXMLDOMText** text) = 0;
    virtual HRESULT createComment(BSTR data, IXMLDOMComment** comment) = 0;
    virtual HRESULT createCDATASection(BSTR data, IXMLDOMCDATASection** cdata) = 0;
    virtual HRESULT createProcessingInstruction(BSTR target, BSTR data,
                                                IXMLDOMProcessingInstruction** pi) = 0;
    virtual HRESULT createAttribute(BSTR name, IXMLDOMAttribute** attribute) = 0;
    virtual HRESULT createNode(VARIANT type, BSTR name, BSTR namespaceURI, IXMLDOMNode** node) = 0;
    // Parses the file named by a VT_BSTR variant, or the bytes of a file held
    // in a VT_ARRAY | VT_UI1 variant (its declared encoding honoured, parsed
    // with the same defences); *isSuccessful is VARIANT_TRUE only when the
    // document was replaced by the parsed content.
    virtual HRESULT load(VARIANT xmlSource, VARIANT_BOOL* isSuccessful) = 0;
    // Parses Unicode text; an encoding named in its declaration is ignored.
    virtual HRESULT loadXML(BSTR bstrXML, VARIANT_BOOL* isSuccessful) = 0;
    // Why the last load or loadXML failed (errorCode 0 when it succeeded or
    // none was made): a new object holding that state. E_POINTER.
    virtual HRESULT get_parseError(IXMLDOMParseError** errorObj) = 0;
    // Writes the document to the file named by a VT_BSTR variant, in the
    // encoding its XML declaration names (UTF-8 without one).
    virtual HRESULT save(VARIANT destination) = 0;
    virtual HRESULT get_async(VARIANT_BOOL* isAsync) = 0;
    virtual HRESULT put_async(VARIANT_BOOL isAsync) = 0;
    virtual HRESULT get_validateOnParse(VARIANT_BOOL* isValidating) = 0;
    virtual HRESULT put_validateOnParse(VARIANT_BOOL isValidating) = 0;
    virtual HRESULT get_preserveWhiteSpace(VARIANT_BOOL* isPreserving) = 0;
    virtual HRESULT put_preserveWhiteSpace(VARIANT_BOOL isPreserving) = 0;
};

XMLUTIL_DEFINE_UUIDOF(IXMLDOMNode, IID_IXMLDOMNode);
XMLUTIL_DEFINE_UUIDOF(IXMLDOMDocument, IID_IXMLDOMDocument);
XMLUTIL_DEFINE_UUIDOF(IXMLDOMNodeList, IID_IXMLDOMNodeList);
XMLUTIL_DEFINE_UUIDOF(IXMLDOMNamedNodeMap, IID_IXMLDOMNamedNodeMap);
XMLUTIL_DEFINE_UUIDOF(IXMLDOMElement, IID_IXMLDOMElement);
XMLUTIL_DEFINE_UUIDOF(IXMLDOMAttribute, IID_IXMLDOMAttribute);
XMLUTIL_DEFINE_UUIDOF(IXMLDOMText, IID_IXMLDOMText);
XMLUTIL_DEFINE_UUIDOF(IXMLDOMCDATASection, IID_IXMLDOMCDATASection);
XMLUTIL_DEFINE_UUIDOF(IXMLDOMComment, IID_IXMLDOMComment);
XMLUTIL_DEFINE_UUIDOF(IXMLDOMProcessingInstruction, IID_IXMLDOMProcessingInstruction);
XMLUTIL_DEFINE_UUIDOF(IXMLDOMParseError, IID_IXMLDOMParseError);
