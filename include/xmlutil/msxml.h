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
inline constexpr IID IID_IXMLDOMCharacterData = XMLUTIL_MSXML_GUID(0x2933BF84);
inline constexpr IID IID_IXMLDOMDocumentType = XMLUTIL_MSXML_GUID(0x2933BF8B);
inline constexpr IID IID_IXMLDOMEntityReference = XMLUTIL_MSXML_GUID(0x2933BF8E);
inline constexpr IID IID_IXMLDOMImplementation = XMLUTIL_MSXML_GUID(0x2933BF8F);
inline constexpr IID IID_IXMLDOMDocumentFragment = {
    0x3EFAA413, 0x272F, 0x11D2, {0x83, 0x6F, 0x00, 0x00, 0xF8, 0x7A, 0x77, 0x82}};

// ---- parse errors ----
inline constexpr IID IID_IXMLDOMParseError = {
    0x3EFAA426, 0x272F, 0x11D2, {0x83, 0x6F, 0x00, 0x00, 0xF8, 0x7A, 0x77, 0x82}};

// ---- IXMLDOMDocument2 and the classes that create the same document ----
inline constexpr IID IID_IXMLDOMDocument2 = XMLUTIL_MSXML_GUID(0x2933BF95);
inline constexpr IID IID_IXMLDOMSchemaCollection = {
    0x373984C8, 0xB845, 0x449B, {0x91, 0xE7, 0x45, 0xAC, 0x83, 0x03, 0x6A, 0xDE}};
inline constexpr CLSID CLSID_FreeThreadedDOMDocument = XMLUTIL_MSXML_GUID(0x2933BF91);
inline constexpr CLSID CLSID_DOMDocument30 = {
    0xF5078F32, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}};
inline constexpr CLSID CLSID_FreeThreadedDOMDocument30 = {
    0xF5078F33, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}};
inline constexpr CLSID CLSID_DOMDocument60 = {
    0x88D96A05, 0xF192, 0x11D4, {0xA6, 0x5F, 0x00, 0x40, 0x96, 0x32, 0x51, 0xE5}};
inline constexpr CLSID CLSID_FreeThreadedDOMDocument60 = {
    0x88D96A06, 0xF192, 0x11D4, {0xA6, 0x5F, 0x00, 0x40, 0x96, 0x32, 0x51, 0xE5}};

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
struct IXMLDOMCharacterData;
struct IXMLDOMDocumentType;
struct IXMLDOMDocumentFragment;
struct IXMLDOMEntityReference;
struct IXMLDOMImplementation;
struct IXMLDOMParseError;
struct IXMLDOMSchemaCollection;

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

    // ---- the rest of the node surface ported code calls ----
    // "element", "text", "cdatasection", ... for the node's type.
    virtual HRESULT get_nodeTypeString(BSTR* nodeType) = 0;
    // Puts newChild (a fragment: its children) where oldChild is and detaches
    // oldChild, handed back in outOldChild. E_INVALIDARG when oldChild is not
    // a child; the refusals of insertBefore, with the tree unchanged.
    virtual HRESULT replaceChild(IXMLDOMNode* newChild, IXMLDOMNode* oldChild,
                                 IXMLDOMNode** outOldChild) = 0;
    // VARIANT_TRUE: no value of this service comes from a schema default.
    virtual HRESULT get_specified(VARIANT_BOOL* isSpecified) = 0;
    // S_FALSE with null: there is no schema, so no definition.
    virtual HRESULT get_definition(IXMLDOMNode** definitionNode) = 0;
    // Without a schema, the text: get_text for an element, the value for an
    // attribute, text, CDATA, comment or PI; S_FALSE with VT_NULL otherwise.
    virtual HRESULT get_nodeTypedValue(VARIANT* typedValue) = 0;
    // Sets what get_nodeTypedValue reads, the variant converted to text.
    // E_FAIL for a node without a value; put_nodeValue's refusals.
    virtual HRESULT put_nodeTypedValue(VARIANT typedValue) = 0;
    // S_FALSE with VT_NULL: no node has a data type without a schema.
    virtual HRESULT get_dataType(VARIANT* dataTypeName) = 0;
    // E_NOTIMPL: XSLT is not available.
    virtual HRESULT transformNode(IXMLDOMNode* stylesheet, BSTR* xmlString) = 0;
    // VARIANT_TRUE: every node is complete once load returns.
    virtual HRESULT get_parsed(VARIANT_BOOL* isParsed) = 0;
    // E_NOTIMPL: XSLT is not available.
    virtual HRESULT transformNodeToObject(IXMLDOMNode* stylesheet, VARIANT outputObject) = 0;
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

    // ---- the rest of the map surface ported code calls ----
    // The attribute with that base name in that namespace ("" or null: none);
    // declarations are in "http://www.w3.org/2000/xmlns/". S_FALSE when absent.
    virtual HRESULT getQualifiedItem(BSTR baseName, BSTR namespaceURI,
                                     IXMLDOMNode** qualifiedItem) = 0;
    // Removes what getQualifiedItem finds; S_FALSE when absent, the refusals
    // of removeNamedItem.
    virtual HRESULT removeQualifiedItem(BSTR baseName, BSTR namespaceURI,
                                        IXMLDOMNode** qualifiedItem) = 0;
    // The next item from the map's own position; S_FALSE with null at the end.
    virtual HRESULT nextNode(IXMLDOMNode** nextItem) = 0;
    // Sets the position nextNode reads from back to the first item.
    virtual HRESULT reset() = 0;
};

struct IXMLDOMElement : IXMLDOMNode {
    virtual HRESULT get_tagName(BSTR* tagName) = 0;
    // S_FALSE with a VT_NULL value when the attribute is absent.
    virtual HRESULT getAttribute(BSTR name, VARIANT* value) = 0;
    virtual HRESULT setAttribute(BSTR name, VARIANT value) = 0;
    virtual HRESULT removeAttribute(BSTR name) = 0;

    // ---- the rest of the element surface ported code calls ----
    // The attribute node of that qualified name; S_FALSE with null when absent.
    virtual HRESULT getAttributeNode(BSTR name, IXMLDOMAttribute** attributeNode) = 0;
    // Puts a detached attribute on the element (one from another document is
    // moved), replacing the one of the same name, handed back in
    // attributeNode (null when none). E_FAIL when it belongs to another
    // element; E_INVALIDARG for a prefix nothing declares.
    virtual HRESULT setAttributeNode(IXMLDOMAttribute* DOMAttribute,
                                     IXMLDOMAttribute** attributeNode) = 0;
    // Detaches one of the element's attributes, handed back in attributeNode.
    // E_INVALIDARG when it is not one of them.
    virtual HRESULT removeAttributeNode(IXMLDOMAttribute* DOMAttribute,
                                        IXMLDOMAttribute** attributeNode) = 0;
    // The elements below this one with that qualified name ("*": all), in
    // document order, as they are when called.
    virtual HRESULT getElementsByTagName(BSTR tagName, IXMLDOMNodeList** resultList) = 0;
    // Joins adjacent text nodes below the element into the first of them and
    // drops empty ones; the nodes dropped stay valid, detached.
    virtual HRESULT normalize() = 0;
};

struct IXMLDOMAttribute : IXMLDOMNode {
    virtual HRESULT get_name(BSTR* attributeName) = 0;
    virtual HRESULT get_value(VARIANT* attributeValue) = 0;
    virtual HRESULT put_value(VARIANT attributeValue) = 0;
};

// Text, CDATA and comment nodes. Offsets and counts are in wchar_t units
// (one per Unicode character); an offset past the end or a negative count is
// E_INVALIDARG; a count past the end reaches the end. An edit whose result
// the node cannot hold ("--" in a comment, "]]>" in CDATA, a character XML
// forbids) is E_INVALIDARG with the node unchanged.
struct IXMLDOMCharacterData : IXMLDOMNode {
    // The node's text.
    virtual HRESULT get_data(BSTR* data) = 0;
    // Replaces the node's text, as put_text does.
    virtual HRESULT put_data(BSTR data) = 0;
    // The number of characters of the text.
    virtual HRESULT get_length(long* dataLength) = 0;
    // `count` characters from `offset`.
    virtual HRESULT substringData(long offset, long count, BSTR* data) = 0;
    // Adds `data` at the end.
    virtual HRESULT appendData(BSTR data) = 0;
    // Adds `data` in front of the character at `offset`.
    virtual HRESULT insertData(long offset, BSTR data) = 0;
    // Removes `count` characters from `offset`.
    virtual HRESULT deleteData(long offset, long count) = 0;
    // Replaces `count` characters from `offset` by `data`.
    virtual HRESULT replaceData(long offset, long count, BSTR data) = 0;
};

struct IXMLDOMText : IXMLDOMCharacterData {
    // Keeps the text before `offset`; the rest goes to a new node of the same
    // kind, placed right after this one when it has a parent.
    virtual HRESULT splitText(long offset, IXMLDOMText** rightHandTextNode) = 0;
};
struct IXMLDOMCDATASection : IXMLDOMText {};
struct IXMLDOMComment : IXMLDOMCharacterData {};

struct IXMLDOMProcessingInstruction : IXMLDOMNode {
    // The name after "<?" ("xml" for the declaration).
    virtual HRESULT get_target(BSTR* name) = 0;
    // What follows the target, up to "?>".
    virtual HRESULT get_data(BSTR* value) = 0;
    // E_INVALIDARG for data holding "?>" (or, for the declaration, not a
    // valid declaration), with the node unchanged.
    virtual HRESULT put_data(BSTR value) = 0;
};

// The document type read from a DOCTYPE.
struct IXMLDOMDocumentType : IXMLDOMNode {
    // The name of the root element the DOCTYPE names.
    virtual HRESULT get_name(BSTR* rootName) = 0;
};

// A node that holds nodes apart from any tree; inserting it moves its children.
struct IXMLDOMDocumentFragment : IXMLDOMNode {};

// A reference to an entity (&name;); its children are the entity's.
struct IXMLDOMEntityReference : IXMLDOMNode {};

struct IXMLDOMImplementation : IUnknown {
    // Whether the DOM offers `feature` in `version` (no object offers this).
    virtual HRESULT hasFeature(BSTR feature, BSTR version, VARIANT_BOOL* hasFeature) = 0;
};

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

    // ---- the rest of the document surface ported code calls ----
    // S_FALSE with null when the document has no DOCTYPE.
    virtual HRESULT get_doctype(IXMLDOMDocumentType** documentType) = 0;
    // E_NOTIMPL: no DOM implementation object is offered.
    virtual HRESULT get_implementation(IXMLDOMImplementation** impl) = 0;
    // Makes the element the document element, in place of the current one
    // (appended when there is none). E_INVALIDARG for null.
    virtual HRESULT putref_documentElement(IXMLDOMElement* DOMElement) = 0;
    // A new, empty fragment of this document.
    virtual HRESULT createDocumentFragment(IXMLDOMDocumentFragment** docFrag) = 0;
    // A reference to the entity `name`, detached. E_INVALIDARG for a name XML
    // forbids; inserting it is refused (E_FAIL) unless the entity is
    // predefined or declared by the document, so a saved file always loads.
    virtual HRESULT createEntityReference(BSTR name, IXMLDOMEntityReference** entityRef) = 0;
    // The elements of the document with that qualified name ("*": all), in
    // document order, as they are when called.
    virtual HRESULT getElementsByTagName(BSTR tagName, IXMLDOMNodeList** resultList) = 0;
    // The element whose ID attribute (declared in the DTD, or xml:id) has that
    // value; S_FALSE with null when none.
    virtual HRESULT nodeFromID(BSTR idString, IXMLDOMNode** node) = 0;
    // 4 (completed): loading is synchronous.
    virtual HRESULT get_readyState(long* value) = 0;
    // The path the document was last loaded from with load; S_FALSE with
    // null when its content came from elsewhere.
    virtual HRESULT get_url(BSTR* urlString) = 0;
    // S_OK: there is never a load in progress to stop.
    virtual HRESULT abort() = 0;
    // Stored and reported (default VARIANT_FALSE); external DTDs and entities
    // are never read either way.
    virtual HRESULT get_resolveExternals(VARIANT_BOOL* isResolving) = 0;
    // Any non-zero value is stored as VARIANT_TRUE.
    virtual HRESULT put_resolveExternals(VARIANT_BOOL isResolving) = 0;
};

// Schema collections are not provided; declared so that code naming them
// compiles (get_namespaces answers E_NOTIMPL).
struct IXMLDOMSchemaCollection : IUnknown {};

// The document's second interface, reached by QueryInterface.
struct IXMLDOMDocument2 : IXMLDOMDocument {
    // E_NOTIMPL: schema collections are not provided.
    virtual HRESULT get_namespaces(IXMLDOMSchemaCollection** namespaceCollection) = 0;
    // E_NOTIMPL: schema collections are not provided.
    virtual HRESULT get_schemas(VARIANT* otherCollection) = 0;
    // E_NOTIMPL: schema collections are not provided.
    virtual HRESULT putref_schemas(VARIANT otherCollection) = 0;
    // E_NOTIMPL: documents are checked for well-formedness only.
    virtual HRESULT validate(IXMLDOMParseError** errorObj) = 0;
    // Sets a property by name: SelectionNamespaces, SelectionLanguage,
    // ProhibitDTD, MaxElementDepth, ValidateOnParse, and (accepted, without
    // effect) ResolveExternals, AllowDocumentFunction, NewParser,
    // ServerHTTPRequest, AllowXsltScript, MultipleErrorMessages. E_INVALIDARG
    // for another name or a value of the wrong type; E_FAIL for a malformed
    // value (nothing changes; the reason is in the thread's error information).
    virtual HRESULT setProperty(BSTR name, VARIANT value) = 0;
    // The value of a property setProperty takes, in a variant the caller
    // clears. E_INVALIDARG for another name.
    virtual HRESULT getProperty(BSTR name, VARIANT* value) = 0;
};

XMLUTIL_DEFINE_UUIDOF(IXMLDOMNode, IID_IXMLDOMNode);
XMLUTIL_DEFINE_UUIDOF(IXMLDOMDocument2, IID_IXMLDOMDocument2);
XMLUTIL_DEFINE_UUIDOF(IXMLDOMSchemaCollection, IID_IXMLDOMSchemaCollection);
XMLUTIL_DEFINE_UUIDOF(IXMLDOMDocument, IID_IXMLDOMDocument);
XMLUTIL_DEFINE_UUIDOF(IXMLDOMNodeList, IID_IXMLDOMNodeList);
XMLUTIL_DEFINE_UUIDOF(IXMLDOMNamedNodeMap, IID_IXMLDOMNamedNodeMap);
XMLUTIL_DEFINE_UUIDOF(IXMLDOMElement, IID_IXMLDOMElement);
XMLUTIL_DEFINE_UUIDOF(IXMLDOMAttribute, IID_IXMLDOMAttribute);
XMLUTIL_DEFINE_UUIDOF(IXMLDOMText, IID_IXMLDOMText);
XMLUTIL_DEFINE_UUIDOF(IXMLDOMCDATASection, IID_IXMLDOMCDATASection);
XMLUTIL_DEFINE_UUIDOF(IXMLDOMComment, IID_IXMLDOMComment);
XMLUTIL_DEFINE_UUIDOF(IXMLDOMProcessingInstruction, IID_IXMLDOMProcessingInstruction);
XMLUTIL_DEFINE_UUIDOF(IXMLDOMCharacterData, IID_IXMLDOMCharacterData);
XMLUTIL_DEFINE_UUIDOF(IXMLDOMDocumentType, IID_IXMLDOMDocumentType);
XMLUTIL_DEFINE_UUIDOF(IXMLDOMDocumentFragment, IID_IXMLDOMDocumentFragment);
XMLUTIL_DEFINE_UUIDOF(IXMLDOMEntityReference, IID_IXMLDOMEntityReference);
XMLUTIL_DEFINE_UUIDOF(IXMLDOMImplementation, IID_IXMLDOMImplementation);
XMLUTIL_DEFINE_UUIDOF(IXMLDOMParseError, IID_IXMLDOMParseError);
