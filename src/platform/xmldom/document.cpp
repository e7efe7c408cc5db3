// SPDX-License-Identifier: MIT
#include <string>
#include <vector>

#include "platform/xmldom/attributes.h"
#include "platform/xmldom/document_factory.h"
#include "platform/xmldom/document_object.h"
#include "platform/xmldom/engine/declaration.h"
#include "platform/xmldom/engine/error_guard.h"
#include "platform/xmldom/engine/file_io.h"
#include "platform/xmldom/engine/unread_entities.h"
#include "platform/xmldom/error_report.h"
#include "platform/xmldom/lists.h"
#include "platform/xmldom/node_ops.h"
#include "platform/xmldom/tree.h"
#include "platform/xmldom/utf.h"
#include "platform/xmldom/xpath_value.h"

namespace xmlutil::xmldom {

namespace {

HRESULT TextArgument(BSTR text, std::string& utf8) {
    return Utf8FromBstr(text, utf8);
}

// A processing-instruction target: a name without a colon; "xml" only in
// lower case (the declaration), other spellings of it are reserved.
bool IsValidTarget(const std::string& target) {
    if (!IsNcName(target)) return false;
    return target == kDeclarationTarget || !EqualsIgnoringCase(target, kDeclarationTarget);
}

// A name createAttribute accepts: a declaration ("xmlns", "xmlns:p" with p a
// name without colon) or a valid qualified name.
bool IsValidAttributeName(const std::string& qname) {
    if (attrs::IsDeclarationName(qname, nullptr)) {
        const std::string declared = qname.size() > 6 ? qname.substr(6) : std::string();
        return declared.empty() || IsNcName(declared);
    }
    return attrs::IsValidNodeName(qname);
}

HRESULT PathArgument(const VARIANT& path, std::string& utf8) {
    if (path.vt != VT_BSTR) return E_INVALIDARG;
    return Utf8FromBstr(path.bstrVal, utf8);
}

// The bytes of a one-dimensional byte array, readable while the object lives.
class LockedBytes {
  public:
    explicit LockedBytes(SAFEARRAY* array) : array_(array) {
        LONG lower = 0;
        LONG upper = -1;
        if (array == nullptr || SafeArrayGetDim(array) != 1 || SafeArrayGetElemsize(array) != 1 ||
            FAILED(SafeArrayGetLBound(array, 1, &lower)) ||
            FAILED(SafeArrayGetUBound(array, 1, &upper))) {
            return;
        }
        void* data = nullptr;
        if (FAILED(SafeArrayAccessData(array, &data))) return;
        data_ = static_cast<const char*>(data);
        size_ = upper < lower ? 0 : static_cast<size_t>(upper) - static_cast<size_t>(lower) + 1;
    }
    ~LockedBytes() {
        if (data_ != nullptr) SafeArrayUnaccessData(array_);
    }
    LockedBytes(const LockedBytes&) = delete;
    LockedBytes& operator=(const LockedBytes&) = delete;

    bool Readable() const { return data_ != nullptr; }
    const char* Data() const { return data_; }
    size_t Size() const { return size_; }

  private:
    SAFEARRAY* array_;
    const char* data_ = nullptr;
    size_t size_ = 0;
};

HRESULT NodeTypeArgument(const VARIANT& type, LONG& value) {
    switch (type.vt) {
        case VT_I4:
            value = type.lVal;
            return S_OK;
        case VT_I2:
            value = type.iVal;
            return S_OK;
        default:
            return E_INVALIDARG;
    }
}

}  // namespace

HRESULT CreateDocument(REFIID riid, void** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    DocumentObject* document = nullptr;
    HRESULT hr = DocumentObject::Create(&document);
    if (FAILED(hr)) return hr;
    hr = document->QueryInterface(riid, out);
    document->Release();
    return hr;
}

HRESULT DocumentObject::Create(DocumentObject** out) noexcept {
    *out = nullptr;
    try {
        ErrorSilencer quiet;
        XmlDocPtr doc(xmlNewDoc(ToXml("1.0")));
        if (doc == nullptr) return E_OUTOFMEMORY;
        // Names of the nodes made here are kept once each in the document's
        // dictionary, as the parser keeps those of a loaded document: a
        // million elements of one name take no million copies of it.
        doc->dict = xmlDictCreate();
        if (doc->dict == nullptr) return E_OUTOFMEMORY;
        WrapperPool* pool = WrapperPool::Create();
        if (pool == nullptr) return E_OUTOFMEMORY;
        // Owned by its reference count; owns the pool's first reference.
        DocumentObject* made = new (std::nothrow) DocumentObject(pool);
        if (made == nullptr) {
            pool->Release();
            return E_OUTOFMEMORY;
        }
        try {
            AttachDocState(doc.get(), made);
        } catch (...) {
            delete made;
            throw;
        }
        made->doc_ = doc.release();
        made->generation_ = NextGeneration();
        *out = made;
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

DocumentObject::~DocumentObject() {
    // Every wrapper holds a reference to this object, so none is left: the
    // current xmlDoc (and any retired one) has no node a handle reaches.
    if (doc_ != nullptr) FreeDocWithState(doc_);
}

void DocumentObject::Changed() noexcept {
    generation_ = NextGeneration();
    evaluator_.DocumentChanged();
}

void DocumentObject::ValuesChanged(xmlDoc* doc) noexcept {
    const uint64_t before = generation_;
    Changed();
    NoteValuesChanged(doc, before, generation_);
}

void DocumentObject::ChildrenReplaced(xmlNode* element) noexcept {
    const uint64_t before = generation_;
    Changed();
    NoteChildrenReplaced(element, before, generation_);
}

void DocumentObject::DetachedNodeLeft() noexcept {
    evaluator_.DocumentChanged();
}

HRESULT DocumentObject::Select(xmlDoc* doc, xmlNode* context, const std::string& expression,
                               bool firstOnly, const HitReceiver& receive) {
    if (doc != evaluatorDoc_) {
        evaluator_.DocumentChanged();
        evaluatorDoc_ = doc;
    }
    return evaluator_.Select(doc, context, expression, firstOnly, receive,
                             StateOf(doc).mayBeTooDeepToStream);
}

HRESULT DocumentObject::EvaluateValue(const std::string& expression, XPathValue& value) {
    if (doc_ != evaluatorDoc_) {
        evaluator_.DocumentChanged();
        evaluatorDoc_ = doc_;
    }
    return evaluator_.Evaluate(doc_, nullptr, expression, value);
}

HRESULT DocumentObject::QueryInterface(REFIID riid, void** out) {
    if (out == nullptr) return E_POINTER;
    if (riid == IID_IXmlutilXPathValue) return CreateXPathValue(*this, out);
    if (riid == IID_XmlutilDomNode) {  // uncounted: see AsDomNode
        *out = static_cast<DomNode*>(this);
        return S_OK;
    }
    if (riid == IID_XmlutilDocumentWriter) {  // uncounted: see IDocumentWriter
        *out = static_cast<IDocumentWriter*>(this);
        return S_OK;
    }
    if (riid == IID_XmlutilElementAttributeReader) {  // uncounted: see IElementAttributeReader
        *out = static_cast<IElementAttributeReader*>(this);
        return S_OK;
    }
    if (riid == IID_XmlutilSelectionCounter) {  // uncounted: see ISelectionCounter
        *out = static_cast<ISelectionCounter*>(this);
        return S_OK;
    }
    if (riid == IID_IUnknown || riid == IID_IXMLDOMNode || riid == IID_IXMLDOMDocument ||
        riid == IID_IXMLDOMDocument2) {
        *out = static_cast<IXMLDOMDocument2*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG DocumentObject::AddRef() {
    return ++refs_;
}

ULONG DocumentObject::Release() {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
}

void DocumentObject::ReplaceContent(XmlDocPtr doc) noexcept {
    xmlDoc* previous = doc_;
    doc_ = doc.release();
    DocState& old = StateOf(previous);
    old.retired = true;
    // Handles into the old content keep it until the last of them goes.
    if (old.wrappers == 0) FreeDocWithState(previous);
    Changed();
}

HRESULT DocumentObject::LoadParsed(ParseRequest request, const std::wstring& url,
                                   VARIANT_BOOL* isSuccessful) {
    request.prohibitDtd = properties_.ProhibitDtd();
    request.maxElementDepth = properties_.MaxElementDepth();
    XmlDocPtr parsed;
    ParseFailure failure;
    const HRESULT hr = ParseDocument(request, parsed, &failure);
    lastParseError_ = ParseErrorFrom(failure, url);
    if (hr != S_OK) return hr == S_FALSE ? S_FALSE : hr;
    AttachDocState(parsed.get(), this);
    ReplaceContent(std::move(parsed));
    *isSuccessful = VARIANT_TRUE;
    return S_OK;
}

HRESULT DocumentObject::LoadBytes(SAFEARRAY* bytes, VARIANT_BOOL* isSuccessful) {
    const LockedBytes locked(bytes);
    if (!locked.Readable()) {
        lastParseError_ = ParseErrorBeforeParsing(E_INVALIDARG, std::wstring());
        return E_INVALIDARG;
    }
    ParseRequest request;
    request.data = locked.Data();
    request.size = locked.Size();
    request.preserveWhiteSpace = PreserveWhiteSpace();
    return LoadParsed(request, std::wstring(), isSuccessful);
}

HRESULT DocumentObject::loadXML(BSTR bstrXML, VARIANT_BOOL* isSuccessful) {
    if (isSuccessful == nullptr) return E_POINTER;
    *isSuccessful = VARIANT_FALSE;
    // Stays so only when the load runs out of memory before it is replaced.
    lastParseError_.errorCode = E_OUTOFMEMORY;
    return Guarded([&]() -> HRESULT {
        std::string utf8;
        // Text XML cannot hold cannot parse either.
        if (FAILED(TextArgument(bstrXML, utf8))) {
            lastParseError_ = ParseErrorState();
            lastParseError_.errorCode = XMLUTIL_E_NOT_WELL_FORMED;
            lastParseError_.reason = L"The text holds a character XML cannot hold";
            return S_FALSE;
        }
        ParseRequest request;
        request.data = utf8.data();
        request.size = utf8.size();
        request.fromUnicodeText = true;
        request.preserveWhiteSpace = PreserveWhiteSpace();
        const HRESULT hr = LoadParsed(request, std::wstring(), isSuccessful);
        if (hr == S_OK) url_.clear();
        return hr;
    });
}

HRESULT DocumentObject::load(VARIANT xmlSource, VARIANT_BOOL* isSuccessful) {
    if (isSuccessful == nullptr) return E_POINTER;
    *isSuccessful = VARIANT_FALSE;
    lastParseError_.errorCode = E_OUTOFMEMORY;  // as in loadXML
    return Guarded([&]() -> HRESULT {
        if (xmlSource.vt == (VT_ARRAY | VT_UI1)) {
            const HRESULT loaded = LoadBytes(xmlSource.parray, isSuccessful);
            if (loaded == S_OK) url_.clear();  // the content came from no file
            return loaded;
        }
        const std::wstring url = xmlSource.vt == VT_BSTR && xmlSource.bstrVal != nullptr
                                     ? std::wstring(xmlSource.bstrVal)
                                     : std::wstring();
        std::string path;
        HRESULT hr = PathArgument(xmlSource, path);
        if (hr == E_INVALIDARG && xmlSource.vt == VT_BSTR) {  // no such file
            lastParseError_ =
                ParseErrorBeforeParsing(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), url);
            return S_FALSE;
        }
        if (FAILED(hr)) {
            lastParseError_ = ParseErrorBeforeParsing(hr, url);
            return hr;
        }
        file::InputFile input;
        hr = input.Open(path);
        if (FAILED(hr)) {
            lastParseError_ = ParseErrorBeforeParsing(hr, url);
            return S_FALSE;
        }
        ParseRequest request;
        request.file = &input;
        request.preserveWhiteSpace = PreserveWhiteSpace();
        hr = LoadParsed(request, url, isSuccessful);
        if (hr == S_OK) url_ = path;
        return hr;
    });
}

HRESULT DocumentObject::save(VARIANT destination) {
    return Guarded([&]() -> HRESULT {
        std::string path;
        HRESULT hr = PathArgument(destination, path);
        if (FAILED(hr)) return hr;
        // Streamed into the file as it is made; a failure part way leaves
        // the file as it was.
        const bool indent = !PreserveWhiteSpace();
        return file::WriteFileAtomically(path, [this, indent](file::ByteSink& sink) {
            return SerializeForSave(doc_, indent, sink);
        });
    });
}

HRESULT DocumentObject::get_documentElement(IXMLDOMElement** documentElement) {
    if (documentElement == nullptr) return E_POINTER;
    *documentElement = nullptr;
    xmlNode* root = xmlDocGetRootElement(doc_);
    if (root == nullptr) return S_FALSE;
    return WrapNodeAs(root, documentElement);
}

template <class I>
HRESULT DocumentObject::Hand(xmlNode* made, I** out) {
    xmlNode* created = tree::Whole(made);
    if (created == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = WrapNodeAs(created, out);
    if (FAILED(hr)) xmlFreeNode(created);  // never linked, never wrapped
    return hr;
}

template <class I>
HRESULT DocumentObject::MakeElement(BSTR tagName, I** element) {
    std::string name;
    if (FAILED(TextArgument(tagName, name)) || !attrs::IsValidNodeName(name)) return E_INVALIDARG;
    return Hand(xmlNewDocNode(doc_, nullptr, ToXml(name.c_str()), nullptr), element);
}

HRESULT DocumentObject::createElement(BSTR tagName, IXMLDOMElement** element) {
    if (element == nullptr) return E_POINTER;
    *element = nullptr;
    return Guarded([&] { return MakeElement(tagName, element); });
}

HRESULT DocumentObject::createTextNode(BSTR data, IXMLDOMText** text) {
    if (text == nullptr) return E_POINTER;
    *text = nullptr;
    return Guarded([&]() -> HRESULT {
        std::string content;
        if (FAILED(TextArgument(data, content))) return E_INVALIDARG;
        return Hand(tree::NewText(doc_, content), text);
    });
}

HRESULT DocumentObject::createComment(BSTR data, IXMLDOMComment** comment) {
    if (comment == nullptr) return E_POINTER;
    *comment = nullptr;
    return Guarded([&]() -> HRESULT {
        std::string content;
        if (FAILED(TextArgument(data, content)) || !ops::IsCommentText(content)) {
            return E_INVALIDARG;
        }
        return Hand(xmlNewDocComment(doc_, ToXml(content.c_str())), comment);
    });
}

HRESULT DocumentObject::createCDATASection(BSTR data, IXMLDOMCDATASection** cdata) {
    if (cdata == nullptr) return E_POINTER;
    *cdata = nullptr;
    return Guarded([&]() -> HRESULT {
        std::string content;
        if (FAILED(TextArgument(data, content)) || content.find("]]>") != std::string::npos) {
            return E_INVALIDARG;
        }
        return Hand(
            xmlNewCDataBlock(doc_, ToXml(content.c_str()), static_cast<int>(content.size())),
            cdata);
    });
}

HRESULT DocumentObject::createProcessingInstruction(BSTR target, BSTR data,
                                                    IXMLDOMProcessingInstruction** pi) {
    if (pi == nullptr) return E_POINTER;
    *pi = nullptr;
    return Guarded([&]() -> HRESULT {
        std::string name;
        std::string content;
        if (FAILED(TextArgument(target, name)) || FAILED(TextArgument(data, content)) ||
            !IsValidTarget(name) || content.find("?>") != std::string::npos) {
            return E_INVALIDARG;
        }
        // A declaration must say what a declaration may say, or the saved
        // file would not load.
        if (name == kDeclarationTarget && !ParseDeclarationData(content)) return E_INVALIDARG;
        return Hand(xmlNewDocPI(doc_, ToXml(name.c_str()), ToXml(content.c_str())), pi);
    });
}

HRESULT DocumentObject::createAttribute(BSTR name, IXMLDOMAttribute** attribute) {
    if (attribute == nullptr) return E_POINTER;
    *attribute = nullptr;
    return Guarded([&]() -> HRESULT {
        std::string qname;
        if (FAILED(TextArgument(name, qname)) || !IsValidAttributeName(qname)) return E_INVALIDARG;
        // No value: xmlNewDocProp would parse one for entity references.
        xmlAttr* attr = xmlNewDocProp(doc_, ToXml(qname.c_str()), nullptr);
        return Hand(reinterpret_cast<xmlNode*>(attr), attribute);
    });
}

HRESULT DocumentObject::CountSelected(BSTR query, long& count) {
    return Guarded([&] { return ops::CountSelected(*this, query, count); });
}

HRESULT DocumentObject::SetAttributeOf(IXMLDOMNode* node, BSTR name, BSTR value, bool& handled) {
    DomNode* target = node == nullptr ? nullptr : AsDomNode(node);
    handled = target != nullptr;
    if (!handled) return S_OK;
    return Guarded([&]() -> HRESULT {
        // createAttribute's checks,
        std::string qname;
        if (FAILED(TextArgument(name, qname)) || !IsValidAttributeName(qname)) return E_INVALIDARG;
        // put_nodeValue's,
        std::string text;
        const HRESULT valueHr = TextArgument(value, text);
        if (FAILED(valueHr)) return valueHr;
        // get_attributes's,
        if (target->XmlNode()->type != XML_ELEMENT_NODE) return S_FALSE;
        // and setNamedItem's work; both documents' derived data go, as there.
        // Only a declaration changes more than values.
        if (&target->Owner() != this) Changed();
        const HRESULT hr = attrs::SetNew(*target, qname, text);
        if (attrs::IsDeclarationName(qname, nullptr)) {
            target->Owner().Changed();
        } else {
            target->Owner().ValuesChanged(target->XmlNode()->doc);
        }
        return hr;
    });
}

HRESULT DocumentObject::FindAttributeOf(IXMLDOMNode* node, const std::wstring& name,
                                        std::wstring& value, bool& handled) {
    DomNode* target = node == nullptr ? nullptr : AsDomNode(node);
    handled = target != nullptr && target->XmlNode()->type == XML_ELEMENT_NODE;
    if (!handled) return S_OK;
    return FindAttributeText(target->XmlNode(), name, value);
}

HRESULT DocumentObject::createNode(VARIANT type, BSTR name, BSTR namespaceURI, IXMLDOMNode** node) {
    if (node == nullptr) return E_POINTER;
    *node = nullptr;
    return Guarded([&]() -> HRESULT {
        LONG kind = 0;
        std::string uri;
        if (FAILED(NodeTypeArgument(type, kind)) || FAILED(TextArgument(namespaceURI, uri))) {
            return E_INVALIDARG;
        }
        BSTR empty = nullptr;
        switch (kind) {
            case NODE_ELEMENT: {
                CComPtr<IXMLDOMNode> element;
                HRESULT hr = MakeElement(name, &element);
                if (FAILED(hr)) return hr;
                if (!uri.empty()) {
                    // The element declares its own namespace, so it is bound
                    // wherever it goes.
                    std::string qname;
                    TextArgument(name, qname);
                    const std::string prefix = attrs::PrefixOf(qname);
                    if (prefix == "xml") return E_INVALIDARG;
                    xmlNode* created = AsDomNode(element)->XmlNode();
                    hr = attrs::DeclareOwnNamespace(created, prefix, uri);
                    if (FAILED(hr)) return hr;
                }
                *node = element.Detach();
                return S_OK;
            }
            case NODE_ATTRIBUTE: {
                if (!uri.empty())
                    return E_INVALIDARG;  // attributes take a namespace from their element
                CComPtr<IXMLDOMAttribute> attribute;
                const HRESULT hr = createAttribute(name, &attribute);
                return FAILED(hr) ? hr : attribute.QueryInterface(node);
            }
            case NODE_TEXT: {
                CComPtr<IXMLDOMText> text;
                const HRESULT hr = createTextNode(empty, &text);
                return FAILED(hr) ? hr : text.QueryInterface(node);
            }
            case NODE_CDATA_SECTION: {
                CComPtr<IXMLDOMCDATASection> cdata;
                const HRESULT hr = createCDATASection(empty, &cdata);
                return FAILED(hr) ? hr : cdata.QueryInterface(node);
            }
            case NODE_COMMENT: {
                CComPtr<IXMLDOMComment> comment;
                const HRESULT hr = createComment(empty, &comment);
                return FAILED(hr) ? hr : comment.QueryInterface(node);
            }
            case NODE_PROCESSING_INSTRUCTION: {
                CComPtr<IXMLDOMProcessingInstruction> pi;
                const HRESULT hr = createProcessingInstruction(name, empty, &pi);
                return FAILED(hr) ? hr : pi.QueryInterface(node);
            }
            default:
                return E_INVALIDARG;
        }
    });
}

HRESULT DocumentObject::CloneDocument(bool deep, IXMLDOMNode** out) {
    DocumentObject* made = nullptr;
    HRESULT hr = Create(&made);
    if (FAILED(hr)) return hr;
    CComPtr<IXMLDOMDocument> copy;
    copy.Attach(made);
    made->async_ = async_;
    made->validateOnParse_ = validateOnParse_;
    made->preserveWhiteSpace_ = preserveWhiteSpace_;
    made->properties_ = properties_;
    made->evaluator_.SetSelectionNamespaces(properties_.SelectionNamespaces());
    made->resolveExternals_ = resolveExternals_;
    if (deep) {
        xmlDoc* target = made->doc_;
        for (xmlNode* child = doc_->children; child != nullptr; child = child->next) {
            // The document type is not copied: entities were expanded on
            // load, and a reference left unexpanded (its entity is never
            // read) needs the original's document type to load again.
            if (child->type == XML_DTD_NODE) continue;
            if (!ReferencesLoadIn(child, target)) return E_FAIL;
            xmlNode* cloned = tree::CopySubtree(child, target, true);
            if (cloned == nullptr) return E_OUTOFMEMORY;
            tree::LinkChild(reinterpret_cast<xmlNode*>(target), cloned, nullptr);
            tree::RegisterIds(cloned);
        }
        StateOf(target).mayBeTooDeepToStream = StateOf(doc_).mayBeTooDeepToStream;
    }
    return copy.QueryInterface(out);
}

namespace {

HRESULT ReadFlag(VARIANT_BOOL flag, VARIANT_BOOL* out) {
    if (out == nullptr) return E_POINTER;
    *out = flag;
    return S_OK;
}

// Any non-zero value is true; it is stored as VARIANT_TRUE.
HRESULT StoreFlag(VARIANT_BOOL value, VARIANT_BOOL& flag) {
    flag = value != 0 ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

}  // namespace

HRESULT DocumentObject::get_async(VARIANT_BOOL* isAsync) {
    return ReadFlag(async_, isAsync);
}

// Stored and reported; loading stays synchronous.
HRESULT DocumentObject::put_async(VARIANT_BOOL isAsync) {
    return StoreFlag(isAsync, async_);
}

HRESULT DocumentObject::get_validateOnParse(VARIANT_BOOL* isValidating) {
    return ReadFlag(validateOnParse_, isValidating);
}

// Stored and reported; documents are checked for well-formedness only.
HRESULT DocumentObject::put_validateOnParse(VARIANT_BOOL isValidating) {
    return StoreFlag(isValidating, validateOnParse_);
}

HRESULT DocumentObject::get_preserveWhiteSpace(VARIANT_BOOL* isPreserving) {
    return ReadFlag(preserveWhiteSpace_, isPreserving);
}

HRESULT DocumentObject::put_preserveWhiteSpace(VARIANT_BOOL isPreserving) {
    return StoreFlag(isPreserving, preserveWhiteSpace_);
}

// ---- parse errors ---------------------------------------------------------------

HRESULT DocumentObject::get_parseError(IXMLDOMParseError** errorObj) {
    return MakeParseError(lastParseError_, errorObj);
}

// ---- IXMLDOMDocument2 -------------------------------------------------------------

HRESULT DocumentObject::get_namespaces(IXMLDOMSchemaCollection** namespaceCollection) {
    if (namespaceCollection != nullptr) *namespaceCollection = nullptr;
    return E_NOTIMPL;
}

HRESULT DocumentObject::get_schemas(VARIANT* otherCollection) {
    if (otherCollection != nullptr) VariantInit(otherCollection);
    return E_NOTIMPL;
}

HRESULT DocumentObject::putref_schemas(VARIANT /*otherCollection*/) {
    return E_NOTIMPL;
}

HRESULT DocumentObject::validate(IXMLDOMParseError** errorObj) {
    if (errorObj != nullptr) *errorObj = nullptr;
    return E_NOTIMPL;
}

HRESULT DocumentObject::setProperty(BSTR name, VARIANT value) {
    return Guarded([&]() -> HRESULT {
        const std::wstring property = name != nullptr ? name : L"";
        if (property == L"ValidateOnParse") {
            if (value.vt != VT_BOOL) return E_INVALIDARG;
            return put_validateOnParse(value.boolVal);
        }
        std::string reason;
        const HRESULT hr = properties_.Set(property, value, reason);
        if (hr == E_FAIL) ReportFailure(IID_IXMLDOMDocument2, reason);
        if (hr == S_OK && property == L"SelectionNamespaces") {
            evaluator_.SetSelectionNamespaces(properties_.SelectionNamespaces());
        }
        return hr;
    });
}

HRESULT DocumentObject::getProperty(BSTR name, VARIANT* value) {
    return Guarded([&]() -> HRESULT {
        const std::wstring property = name != nullptr ? name : L"";
        if (property == L"ValidateOnParse") {
            if (value == nullptr) return E_POINTER;
            VariantInit(value);
            value->vt = VT_BOOL;
            return get_validateOnParse(&value->boolVal);
        }
        return properties_.Get(property, value);
    });
}

}  // namespace xmlutil::xmldom
