// SPDX-License-Identifier: MIT
// Writing nodes and documents out through libxml2's serialiser, with the
// declaration kept as a processing instruction (so never two are written)
// and the output forwarded to a byte sink: SerializeToUtf8 for the text of a
// node, SerializeForSave for a file, which runs the checks made before a save
// (save_checks.h) and converts through the markup encoder (transcode_encode.h)
// where libxml2 has no converter of its own.
#include <iconv.h>
#include <libxml/encoding.h>

#include <exception>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "platform/xmldom/engine/declaration.h"
#include "platform/xmldom/engine/engine.h"
#include "platform/xmldom/engine/error_guard.h"
#include "platform/xmldom/engine/save_checks.h"
#include "platform/xmldom/engine/transcode_encode.h"

namespace xmlutil::xmldom {
namespace {

constexpr char kUtf8[] = "UTF-8";

// Options every save uses: no declaration of libxml2's own (ours is a node),
// and never the XHTML mode, which would rewrite and even free nodes of an
// XHTML document while writing it.
constexpr int kBaseSaveOptions = XML_SAVE_NO_DECL | XML_SAVE_NO_XHTML | XML_SAVE_AS_XML;

struct EncodingHandlerCloser {
    void operator()(xmlCharEncodingHandler* h) const {
        if (h->name != nullptr) {
            xmlCharEncCloseFunc(h);
            return;
        }
        // Made short of memory, without its name: xmlCharEncCloseFunc would
        // refuse it and leak it. Only iconv converters are allocated.
        if (h->iconv_out != nullptr) iconv_close(h->iconv_out);
        if (h->iconv_in != nullptr) iconv_close(h->iconv_in);
        xmlFree(h);
    }
};
using EncodingHandlerPtr = std::unique_ptr<xmlCharEncodingHandler, EncodingHandlerCloser>;

// Where the serialiser's output goes: forwarded to a sink. Nothing may unwind
// through libxml2's frames, so a failing sink or an exception stops the
// writing and is kept until libxml2 has returned.
struct SinkForwarder {
    explicit SinkForwarder(file::ByteSink& to) : sink(&to) {}
    file::ByteSink* sink;
    HRESULT failure = S_OK;
    std::exception_ptr exception;
};

int ForwardToSink(void* context, const char* buffer, int len) {
    auto* forward = static_cast<SinkForwarder*>(context);
    if (FAILED(forward->failure) || forward->exception) return -1;
    try {
        const HRESULT hr = forward->sink->Write(buffer, static_cast<size_t>(len));
        if (FAILED(hr)) {
            forward->failure = hr;
            return -1;
        }
    } catch (...) {
        forward->exception = std::current_exception();
        return -1;
    }
    return len;
}

int CloseSink(void* /*context*/) {
    return 0;
}

// Writes through a save context into `sink`. An exception thrown by the sink
// is passed on once libxml2 has returned.
template <typename Write>
HRESULT SaveToSink(const ErrorSilencer& silence, const char* encoding, int options, Write write,
                   file::ByteSink& sink) {
    SinkForwarder forward(sink);
    xmlSaveCtxt* save = xmlSaveToIO(ForwardToSink, CloseSink, &forward, encoding, options);
    if (save == nullptr) return E_OUTOFMEMORY;
    const long written = write(save);
    const int closed = xmlSaveClose(save);  // flushes the encoder into the sink
    if (forward.exception) std::rethrow_exception(forward.exception);
    if (FAILED(forward.failure)) return forward.failure;
    // libxml2 may drop part of the output after an allocation failed.
    if (written < 0 || closed < 0 || silence.OutOfMemory()) return E_OUTOFMEMORY;
    return S_OK;
}

// The same, handing back the bytes; `bytes` is only replaced on success.
template <typename Write>
HRESULT SaveToBytes(const ErrorSilencer& silence, const char* encoding, int options, Write write,
                    std::string& bytes) {
    file::StringSink sink;
    const HRESULT hr = SaveToSink(silence, encoding, options, write, sink);
    if (FAILED(hr)) return hr;
    bytes.swap(sink.bytes());
    return S_OK;
}

// For the life of the object, the document names UTF-8 as its encoding.
// libxml2 writes non-ASCII characters of attribute values as character
// references when the document names no encoding, and literally otherwise.
class DocumentEncodingOverride {
  public:
    explicit DocumentEncodingOverride(xmlDoc* doc) : doc_(doc) {
        if (doc_ == nullptr) return;
        saved_ = doc_->encoding;
        doc_->encoding = ToXml(kUtf8);
    }
    ~DocumentEncodingOverride() {
        if (doc_ != nullptr) doc_->encoding = saved_;
    }
    DocumentEncodingOverride(const DocumentEncodingOverride&) = delete;
    DocumentEncodingOverride& operator=(const DocumentEncodingOverride&) = delete;

  private:
    xmlDoc* doc_;
    const xmlChar* saved_ = nullptr;
};

// ---- namespaces of a subtree written on its own --------------------------------

// A subtree written alone loses the namespace declarations of its ancestors.
// For the life of the object, the subtree's root also declares every
// namespace its subtree uses from outside, so its markup parses on its own.
class OuterNamespacesDeclared {
  public:
    explicit OuterNamespacesDeclared(xmlNode* root) : root_(root) {
        // Under the document node nothing is declared outside. A detached
        // element may still use declarations of its former ancestors.
        if (root_->type != XML_ELEMENT_NODE ||
            (root_->parent != nullptr && root_->parent->type == XML_DOCUMENT_NODE)) {
            return;
        }
        std::vector<const xmlNs*> declaredInside;
        xmlNode* cur = root_;
        while (cur != nullptr) {
            if (cur->type == XML_ELEMENT_NODE) {
                for (const xmlNs* ns = cur->nsDef; ns != nullptr; ns = ns->next) {
                    declaredInside.push_back(ns);
                }
                Need(cur->ns, declaredInside);
                for (const xmlAttr* a = cur->properties; a != nullptr; a = a->next) {
                    Need(a->ns, declaredInside);
                }
                if (cur->children != nullptr) {
                    cur = cur->children;
                    continue;
                }
            }
            while (cur != root_ && cur->next == nullptr) cur = cur->parent;
            if (cur == root_) break;
            cur = cur->next;
        }
        if (added_ == nullptr) return;
        // Appended after the root's own declarations; cut off again later.
        if (root_->nsDef == nullptr) {
            root_->nsDef = added_;
        } else {
            lastOwn_ = root_->nsDef;
            while (lastOwn_->next != nullptr) lastOwn_ = lastOwn_->next;
            lastOwn_->next = added_;
        }
    }
    ~OuterNamespacesDeclared() {
        if (added_ == nullptr) return;
        if (lastOwn_ != nullptr) {
            lastOwn_->next = nullptr;
        } else {
            root_->nsDef = nullptr;
        }
        xmlFreeNsList(added_);
    }
    OuterNamespacesDeclared(const OuterNamespacesDeclared&) = delete;
    // False when a declaration could not be made.
    bool ok() const { return !failed_; }
    OuterNamespacesDeclared& operator=(const OuterNamespacesDeclared&) = delete;

  private:
    void Need(const xmlNs* ns, const std::vector<const xmlNs*>& declaredInside) {
        if (ns == nullptr || xmlStrEqual(ns->prefix, ToXml("xml"))) return;
        for (const xmlNs* d : declaredInside) {
            if (d == ns) return;
        }
        for (const xmlNs* own = root_->nsDef; own != nullptr; own = own->next) {
            if (xmlStrEqual(own->prefix, ns->prefix)) return;  // would be declared twice
        }
        for (const xmlNs* a = added_; a != nullptr; a = a->next) {
            if (xmlStrEqual(a->prefix, ns->prefix)) return;
        }
        xmlNs* copy = xmlNewNs(nullptr, ns->href, ns->prefix);
        if (copy == nullptr) {
            failed_ = true;
            return;
        }
        copy->next = added_;
        added_ = copy;
    }

    xmlNode* root_;
    xmlNs* added_ = nullptr;
    xmlNs* lastOwn_ = nullptr;
    bool failed_ = false;
};

HRESULT SerializeAttribute(const ErrorSilencer& silence, xmlNode* attr, std::string& utf8) {
    std::string bytes;
    const HRESULT hr = SaveToBytes(
        silence, kUtf8, kBaseSaveOptions,
        [attr](xmlSaveCtxt* save) { return xmlSaveTree(save, attr); }, bytes);
    if (FAILED(hr)) return hr;
    // libxml2 writes an attribute as it appears in a start tag: " name=...".
    if (!bytes.empty() && bytes[0] == ' ') bytes.erase(0, 1);
    utf8 = std::move(bytes);
    return S_OK;
}

}  // namespace

namespace {

// Rewrites the declaration `written` starts with, when `declaration` (a
// declaration node) is the first node written, as the text of a node shows
// it (see DeclarationDataForText). The node itself is left alone.
void DropDeclaredEncoding(const xmlNode* declaration, std::string& written) {
    if (!IsDeclarationNode(declaration) || declaration->content == nullptr) return;
    const std::string data = FromXml(declaration->content);
    const std::string asWritten = "<?xml " + data + "?>";
    if (written.compare(0, asWritten.size(), asWritten) != 0) return;
    written.replace(0, asWritten.size(), "<?xml " + DeclarationDataForText(data) + "?>");
}

HRESULT SerializeNodeToUtf8(xmlNode* node, std::string& utf8);

}  // namespace

HRESULT SerializeToUtf8(xmlNode* node, std::string& utf8) {
    const HRESULT hr = SerializeNodeToUtf8(node, utf8);
    if (hr != S_OK) return hr;
    const xmlNode* first =
        node->type == XML_DOCUMENT_NODE ? reinterpret_cast<xmlDoc*>(node)->children : node;
    if (first != nullptr) DropDeclaredEncoding(first, utf8);
    return S_OK;
}

namespace {

HRESULT SerializeNodeToUtf8(xmlNode* node, std::string& utf8) {
    if (node == nullptr) return E_INVALIDARG;
    if (const HRESULT fits = CheckLoadableSizes(node); fits != S_OK) return fits;
    ErrorSilencer silence;
    if (node->type == XML_ATTRIBUTE_NODE) {
        DocumentEncodingOverride encoding(node->doc);
        return SerializeAttribute(silence, node, utf8);
    }
    if (node->type == XML_DOCUMENT_NODE) {
        xmlDoc* doc = reinterpret_cast<xmlDoc*>(node);
        NamespaceUriEscapes escapes;
        for (const xmlNode* top = doc->children; top != nullptr; top = top->next) {
            escapes.EscapeDeclarationsUnder(top);
        }
        return SaveToBytes(
            silence, kUtf8, kBaseSaveOptions,
            [doc](xmlSaveCtxt* save) { return xmlSaveDoc(save, doc); }, utf8);
    }
    DocumentEncodingOverride encoding(node->doc);
    OuterNamespacesDeclared namespaces(node);
    if (!namespaces.ok()) return E_OUTOFMEMORY;
    // Declared after `namespaces`, so the URIs are put back before the
    // declarations added there are freed.
    NamespaceUriEscapes escapes;
    escapes.EscapeDeclarationsUnder(node);
    return SaveToBytes(
        silence, kUtf8, kBaseSaveOptions,
        [node](xmlSaveCtxt* save) { return xmlSaveTree(save, node); }, utf8);
}

}  // namespace

HRESULT SerializeForSave(xmlDoc* doc, bool indent, file::ByteSink& sink) {
    if (doc == nullptr) return E_INVALIDARG;
    // A file without a root element is no XML document: it would not load.
    if (xmlDocGetRootElement(doc) == nullptr) return E_FAIL;
    if (const HRESULT fits = CheckLoadableSizes(reinterpret_cast<xmlNode*>(doc)); fits != S_OK) {
        return fits;
    }
    ErrorSilencer silence;
    xmlNode* declaration = IsDeclarationNode(doc->children) ? doc->children : nullptr;
    std::string encodingName = kUtf8;
    if (declaration != nullptr) {
        const auto decl = ParseDeclarationData(FromXml(declaration->content));
        if (!decl) return E_FAIL;  // written as it stands, it would not parse
        if (!decl->encoding.empty()) encodingName = decl->encoding;
    }
    EncodingHandlerPtr handler(xmlFindCharEncodingHandler(encodingName.c_str()));
    // Short of memory, libxml2 may hand back a converter without its name.
    if (silence.OutOfMemory() || (handler != nullptr && handler->name == nullptr)) {
        return E_OUTOFMEMORY;
    }
    if (handler == nullptr) return HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
    std::vector<xmlNode*> preserveRoots;
    NamespaceUriEscapes escapes;
    const EncodabilityCheck check(handler.get(), encodingName);
    if (!check.Usable()) return HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
    const HRESULT checked =
        CheckTreeForSave(doc, check, indent ? &preserveRoots : nullptr, escapes);
    if (checked != S_OK) return checked;
    PreserveMarkers markers;
    if (!markers.Insert(doc, preserveRoots)) return E_OUTOFMEMORY;
    const int options = kBaseSaveOptions | (indent ? XML_SAVE_FORMAT : 0);
    const auto saveDoc = [doc](xmlSaveCtxt* save) { return xmlSaveDoc(save, doc); };
    // A document without a declaration is written without one, in UTF-8
    // (which needs none): adding one would load back as an extra node.
    if (check.LibxmlWrites()) {
        return SaveToSink(silence, encodingName.c_str(), options, saveDoc, sink);
    }
    // Made in UTF-8 and converted here as it comes.
    EncodabilityCheck::MarkupEncoder encoder(check, sink);
    const HRESULT hr = SaveToSink(silence, kUtf8, options, saveDoc, encoder);
    if (FAILED(hr)) return hr;
    return encoder.Finish();
}

HRESULT SerializeForSave(xmlDoc* doc, bool indent, std::string& bytes) {
    file::StringSink sink;
    const HRESULT hr = SerializeForSave(doc, indent, sink);
    if (FAILED(hr)) return hr;
    bytes.swap(sink.bytes());
    return S_OK;
}

}  // namespace xmlutil::xmldom
