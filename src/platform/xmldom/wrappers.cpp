// SPDX-License-Identifier: MIT
#include "platform/xmldom/wrappers.h"

#include <atomic>
#include <cassert>
#include <memory>

#include "platform/xmldom/document_object.h"
#include "platform/xmldom/tree.h"
#include "platform/xmldom/wrapper_pool.h"

namespace xmlutil::xmldom {

void AttachDocState(xmlDoc* doc, DocumentObject* owner) {
    auto state = std::make_unique<DocState>();
    state->owner = owner;
    doc->_private = state.release();  // owned by the xmlDoc until FreeDocWithState
}

void FreeDocWithState(xmlDoc* doc) {
    std::unique_ptr<DocState> state(static_cast<DocState*>(doc->_private));
    doc->_private = nullptr;
    xmlFreeDoc(doc);
}

uint64_t NextGeneration() noexcept {
    // Every change takes a value, several per edit: each thread reserves a
    // block of the process-wide sequence and hands its values out without
    // touching the shared counter (and its cache line) again until it runs out.
    constexpr uint64_t kBlock = 1 << 16;
    static std::atomic<uint64_t> reserved{0};
    // Both ends in one thread-local object: one TLS lookup per call.
    struct Block {
        uint64_t next = 0;
        uint64_t end = 0;
    };
    thread_local Block block;
    Block& mine = block;
    if (mine.next == mine.end) {
        mine.next = reserved.fetch_add(kBlock, std::memory_order_relaxed);
        mine.end = mine.next + kBlock;
    }
    return ++mine.next;
}

DomNode* AsDomNode(IUnknown* object) {
    if (object == nullptr) return nullptr;
    void* node = nullptr;
    if (object->QueryInterface(IID_XmlutilDomNode, &node) != S_OK) return nullptr;
    return static_cast<DomNode*>(node);
}

// Walks up only to the first wrapped ancestor made in the tree while no
// wrapped subtree has left it since: that ancestor is still in the tree, and
// so is everything below it. Handles made in document order (a selection, a
// walk down) find their parent's wrapper at once, so a tree thousands of
// levels deep costs O(1) per handle instead of O(depth).
bool WrapperCore::InDocumentTree(xmlNode* node, const DocState& state) noexcept {
    for (xmlNode* at = node; at != nullptr; at = at->parent) {
        if (at->type == XML_DOCUMENT_NODE) return true;
        if (state.wrappedNodeDetached) continue;
        const WrapperCore* wrapper = WrapperOf(at);
        if (wrapper != nullptr && wrapper->attached_) return true;
    }
    return false;
}

WrapperCore::WrapperCore(xmlNode* node, xmlDoc* xdoc, DocumentObject* doc) noexcept
    : attached_(InDocumentTree(node, StateOf(xdoc))), node_(node), xdoc_(xdoc), doc_(doc) {
    node_->_private = static_cast<WrapperCore*>(this);
    WrapperPool::SetNodeOf(this, node_);
    ++StateOf(xdoc_).wrappers;
    doc_->AddRef();
}

void* WrapperCore::operator new(size_t size, WrapperPool& pool) noexcept {
    return size <= WrapperPool::kObjectSize ? pool.Allocate() : nullptr;
}

void WrapperCore::operator delete(void* object, WrapperPool& /*pool*/) noexcept {
    WrapperPool::Free(object);
}

void WrapperCore::operator delete(void* object) noexcept {
    WrapperPool::Free(object);
}

void WrapperCore::DeleteSelf() noexcept {
    DocumentObject* doc = doc_;
    delete this;
    doc->Release();
}

WrapperCore::~WrapperCore() {
    xmlDoc* xdoc = xdoc_;
    // The node keeps its link to this block (see WrapperOf), unless the
    // wrapper moved to another document: the block's pool may then go
    // before the node does.
    WrapperPool::SetNodeOf(this, nullptr);
    if (WrapperPool::IsMoved(this)) node_->_private = nullptr;
    DocState& state = StateOf(xdoc);
    --state.wrappers;
    // The last handle into a detached subtree frees it (node_ may be gone after this).
    if (!attached_ || state.wrappedNodeDetached) tree::ReleaseIfUnreachable(node_);
    if (state.retired && state.wrappers == 0) {
        FreeDocWithState(xdoc);
        doc_->Changed();  // nothing derived from the freed xmlDoc may be reused
    }
}

DocumentObject* WrapperCore::Repoint(DocumentObject* doc) noexcept {
    // Its memory stays in the old document's pool, freed from now on by
    // whichever thread serves `doc`.
    WrapperPool::NoteMovedTo(dynamic_cast<void*>(this), &doc->Pool());
    doc->AddRef();
    DocumentObject* previous = doc_;
    doc_ = doc;
    return previous;
}

void WrapperCore::Retarget(xmlNode* node) noexcept {
    attached_ = false;  // a copy not yet linked anywhere
    node_->_private = nullptr;
    node_ = node;
    xdoc_ = node->doc;
    node_->_private = static_cast<WrapperCore*>(this);
    WrapperPool::SetNodeOf(this, node_);
}

namespace {

using CDataWrapper = TextWrapper<IXMLDOMCDATASection>;
using CommentWrapper = CharacterDataWrapper<IXMLDOMComment>;
using FragmentWrapper = NodeWrapper<IXMLDOMDocumentFragment>;
using EntityReferenceWrapper = NodeWrapper<IXMLDOMEntityReference>;
using PlainWrapper = NodeWrapper<IXMLDOMNode>;  // other rare kinds

template <class W>
IXMLDOMNode* Make(xmlNode* node, xmlDoc* xdoc, DocumentObject* owner) {
    static_assert(
        sizeof(W) <= WrapperPool::kObjectSize && alignof(W) <= WrapperPool::kObjectAlignment,
        "a wrapper fits in a pool block");
    W* wrapper = new (owner->Pool()) W(node, xdoc, owner);  // owned by its reference count
    if (wrapper == nullptr) return nullptr;
    assert(static_cast<void*>(static_cast<WrapperCore*>(wrapper)) == static_cast<void*>(wrapper));
    return wrapper->NodeInterface();
}

}  // namespace

HRESULT WrapNode(xmlNode* node, IXMLDOMNode** out) noexcept {
    return WrapNode(
        node, node->type == XML_DOCUMENT_NODE ? reinterpret_cast<xmlDoc*>(node) : node->doc, out);
}

HRESULT EmitNode(xmlNode* node, IXMLDOMNode** out) noexcept {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (node == nullptr) return S_FALSE;
    return WrapNode(node, out);
}

HRESULT WrapNode(xmlNode* node, xmlDoc* xdoc, IXMLDOMNode** out) noexcept {
    *out = nullptr;
    if (node->type == XML_DOCUMENT_NODE) {
        DocumentObject* owner = StateOf(reinterpret_cast<xmlDoc*>(node)).owner;
        owner->AddRef();
        *out = owner;
        return S_OK;
    }
    if (WrapperCore* existing = WrapperOf(node)) {
        *out = existing->NodeInterface();
        (*out)->AddRef();
        return S_OK;
    }
    DocumentObject* owner = StateOf(xdoc).owner;
    switch (node->type) {
        case XML_ELEMENT_NODE:
            *out = Make<ElementWrapper>(node, xdoc, owner);
            break;
        case XML_ATTRIBUTE_NODE:
            *out = Make<AttributeWrapper>(node, xdoc, owner);
            break;
        case XML_TEXT_NODE:
            *out = Make<TextWrapper<IXMLDOMText>>(node, xdoc, owner);
            break;
        case XML_CDATA_SECTION_NODE:
            *out = Make<CDataWrapper>(node, xdoc, owner);
            break;
        case XML_COMMENT_NODE:
            *out = Make<CommentWrapper>(node, xdoc, owner);
            break;
        case XML_PI_NODE:
            *out = Make<ProcessingInstructionWrapper>(node, xdoc, owner);
            break;
        case XML_DTD_NODE:
            *out = Make<DocumentTypeWrapper>(node, xdoc, owner);
            break;
        case XML_DOCUMENT_FRAG_NODE:
            *out = Make<FragmentWrapper>(node, xdoc, owner);
            break;
        case XML_ENTITY_REF_NODE:
            *out = Make<EntityReferenceWrapper>(node, xdoc, owner);
            break;
        default:
            *out = Make<PlainWrapper>(node, xdoc, owner);
            break;
    }
    return *out == nullptr ? E_OUTOFMEMORY : S_OK;
}

}  // namespace xmlutil::xmldom
