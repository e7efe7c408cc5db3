// SPDX-License-Identifier: MIT
// The document object: what CreateDocument hands out.
#pragma once

#include <string>
#include <vector>

#include "platform/xmldom/document_properties.h"
#include "platform/xmldom/engine/engine.h"
#include "platform/xmldom/fast_path_interfaces.h"
#include "platform/xmldom/node_methods.h"
#include "platform/xmldom/parse_error.h"
#include "platform/xmldom/wrapper_pool.h"
#include "xmlutil/atl.h"

namespace xmlutil::xmldom {

// The document object: the wrapper of the document node and the owner of the
// current xmlDoc.
class DocumentObject final : public NodeMethods<IXMLDOMDocument2>,
                             public DomNode,
                             public IDocumentWriter,
                             public IElementAttributeReader,
                             public ISelectionCounter {
  public:
    // A new, empty document object with one reference. E_OUTOFMEMORY.
    static HRESULT Create(DocumentObject** out) noexcept;

    xmlDoc* Doc() const { return doc_; }
    xmlNode* XmlNode() const override { return reinterpret_cast<xmlNode*>(doc_); }
    DocumentObject& Owner() const override { return const_cast<DocumentObject&>(*this); }
    IXMLDOMNode* NodeInterface() override { return this; }
    DomNode& Self() override { return *this; }

    // Records a change to the tree, names, values or text of any xmlDoc this
    // object serves: live lists and the XPath evaluator drop what they derived.
    void Changed() noexcept;
    // Records that a detached node of this object's is moving to another
    // document: the evaluator drops what it derived, but no live list of
    // this object's trees changed (lists under the moved node follow its new
    // owner), so their cursors stay.
    void DetachedNodeLeft() noexcept;
    // As Changed, for a change to values in `doc` that linked, unlinked or
    // freed no element and declared no namespace: where nodes stand, as the
    // last insertion learnt it, stays known.
    void ValuesChanged(xmlDoc* doc) noexcept;
    // As Changed, for the replacement of the children of `element` only.
    void ChildrenReplaced(xmlNode* element) noexcept;
    uint64_t Generation() const { return generation_; }
    // Evaluates an expression from `context` (a node of `doc`).
    HRESULT Select(xmlDoc* doc, xmlNode* context, const std::string& expression, bool firstOnly,
                   const HitReceiver& receive);
    // The value of an expression evaluated against the whole document.
    HRESULT EvaluateValue(const std::string& expression, XPathValue& value);
    // Where the wrappers of this object's nodes live.
    WrapperPool& Pool() const { return *pool_.get(); }
    bool PreserveWhiteSpace() const { return preserveWhiteSpace_ != VARIANT_FALSE; }
    // A new document object holding a copy of this one's content (its
    // top-level nodes with their subtrees when `deep`, none otherwise).
    HRESULT CloneDocument(bool deep, IXMLDOMNode** out);

    // IDocumentWriter
    HRESULT SetAttributeOf(IXMLDOMNode* node, BSTR name, BSTR value, bool& handled) override;
    // IElementAttributeReader
    HRESULT FindAttributeOf(IXMLDOMNode* node, const std::wstring& name, std::wstring& value,
                            bool& handled) override;
    // ISelectionCounter
    HRESULT CountSelected(BSTR query, long& count) override;

    // IUnknown
    HRESULT QueryInterface(REFIID riid, void** out) override;
    ULONG AddRef() override;
    ULONG Release() override;

    // IXMLDOMDocument
    HRESULT get_documentElement(IXMLDOMElement** documentElement) override;
    HRESULT createElement(BSTR tagName, IXMLDOMElement** element) override;
    HRESULT createTextNode(BSTR data, IXMLDOMText** text) override;
    HRESULT createComment(BSTR data, IXMLDOMComment** comment) override;
    HRESULT createCDATASection(BSTR data, IXMLDOMCDATASection** cdata) override;
    HRESULT createProcessingInstruction(BSTR target, BSTR data,
                                        IXMLDOMProcessingInstruction** pi) override;
    HRESULT createAttribute(BSTR name, IXMLDOMAttribute** attribute) override;
    HRESULT createNode(VARIANT type, BSTR name, BSTR namespaceURI, IXMLDOMNode** node) override;
    HRESULT load(VARIANT xmlSource, VARIANT_BOOL* isSuccessful) override;
    HRESULT loadXML(BSTR bstrXML, VARIANT_BOOL* isSuccessful) override;
    HRESULT save(VARIANT destination) override;
    HRESULT get_async(VARIANT_BOOL* isAsync) override;
    HRESULT put_async(VARIANT_BOOL isAsync) override;
    HRESULT get_validateOnParse(VARIANT_BOOL* isValidating) override;
    HRESULT put_validateOnParse(VARIANT_BOOL isValidating) override;
    HRESULT get_preserveWhiteSpace(VARIANT_BOOL* isPreserving) override;
    HRESULT put_preserveWhiteSpace(VARIANT_BOOL isPreserving) override;

    // ---- the rest of the document surface (document_nodes.cpp) ----
    HRESULT get_doctype(IXMLDOMDocumentType** documentType) override;
    HRESULT get_implementation(IXMLDOMImplementation** impl) override;
    HRESULT putref_documentElement(IXMLDOMElement* DOMElement) override;
    HRESULT createDocumentFragment(IXMLDOMDocumentFragment** docFrag) override;
    HRESULT createEntityReference(BSTR name, IXMLDOMEntityReference** entityRef) override;
    HRESULT getElementsByTagName(BSTR tagName, IXMLDOMNodeList** resultList) override;
    HRESULT nodeFromID(BSTR idString, IXMLDOMNode** node) override;
    HRESULT get_readyState(long* value) override;
    HRESULT get_url(BSTR* urlString) override;
    HRESULT abort() override;
    HRESULT get_resolveExternals(VARIANT_BOOL* isResolving) override;
    HRESULT put_resolveExternals(VARIANT_BOOL isResolving) override;
    // Parse errors
    HRESULT get_parseError(IXMLDOMParseError** errorObj) override;

    // IXMLDOMDocument2
    HRESULT get_namespaces(IXMLDOMSchemaCollection** namespaceCollection) override;
    HRESULT get_schemas(VARIANT* otherCollection) override;
    HRESULT putref_schemas(VARIANT otherCollection) override;
    HRESULT validate(IXMLDOMParseError** errorObj) override;
    HRESULT setProperty(BSTR name, VARIANT value) override;
    HRESULT getProperty(BSTR name, VARIANT* value) override;
    // Why the last selection on this document failed (one line, UTF-8).
    const std::string& SelectionFailure() const { return evaluator_.FailureReason(); }

  private:
    explicit DocumentObject(WrapperPool* pool) : pool_(pool) {}
    ~DocumentObject();
    // Makes `doc` the content, retiring (or freeing) the previous one.
    void ReplaceContent(XmlDocPtr doc) noexcept;
    // Parses the request into the content; keeps why it failed, with `url`.
    // Parses the bytes of a file held in a byte array (VT_ARRAY | VT_UI1), as
    // a file's bytes are parsed: its declared encoding honoured, the same
    // defences. E_INVALIDARG for an array that is not one of bytes.
    HRESULT LoadBytes(SAFEARRAY* bytes, VARIANT_BOOL* isSuccessful);
    HRESULT LoadParsed(ParseRequest request, const std::wstring& url, VARIANT_BOOL* isSuccessful);
    // A new node of the current xmlDoc, handed out as interface I.
    template <class I>
    HRESULT Hand(xmlNode* created, I** out);
    // createElement's work without its guard, for createNode too (one
    // silencer per call). Throws std::bad_alloc.
    template <class I>
    HRESULT MakeElement(BSTR tagName, I** element);

    ULONG refs_ = 1;
    // The memory of this object's wrappers. Each wrapper holds a reference
    // to this object, so none is left when it goes, except wrappers moved to
    // another document, which keep the pool alive themselves.
    WrapperPoolRef pool_;
    xmlDoc* doc_ = nullptr;
    uint64_t generation_ = 0;
    XPathEvaluator evaluator_;
    xmlDoc* evaluatorDoc_ = nullptr;
    VARIANT_BOOL async_ = VARIANT_TRUE;
    VARIANT_BOOL validateOnParse_ = VARIANT_TRUE;
    VARIANT_BOOL preserveWhiteSpace_ = VARIANT_FALSE;
    // The path of the last successful load (UTF-8); empty after loadXML.
    std::string url_;
    VARIANT_BOOL resolveExternals_ = VARIANT_FALSE;
    // Why the last load failed; cleared by one that succeeds.
    ParseErrorState lastParseError_;
    DocumentProperties properties_;
};

}  // namespace xmlutil::xmldom
