// SPDX-License-Identifier: MIT
// The object model of the DOM service: COM-shaped wrappers over libxml2
// nodes, and the bookkeeping that keeps every handle valid.
//
// Ownership in one paragraph: each libxml2 node that a caller can see through
// a handle has exactly one wrapper, found through `node->_private` (checked
// against the wrapper's block, see WrapperOf). A wrapper
// holds a counted reference to its document object; the document object
// holds none to its wrappers. libxml2 frees a node only when no wrapper
// points into its subtree: a detached subtree is freed when it is detached
// without wrappers, or when the last wrapper inside it dies; an xmlDoc whose
// content was replaced by a load ("retired") is freed when its last wrapper
// dies; the current xmlDoc is freed with the document object.
#pragma once

#include <cstdint>
#include <new>
#include <string>
#include <type_traits>

#include "platform/xmldom/engine/error_guard.h"
#include "platform/xmldom/engine/xml_ptr.h"
#include "platform/xmldom/placement.h"
#include "platform/xmldom/wrapper_pool.h"
#include "xmlutil/msxml.h"

namespace xmlutil::xmldom {

class DocumentObject;

// Bookkeeping for one xmlDoc, owned through `xmlDoc->_private` (made by
// AttachDocState, deleted by FreeDocWithState).
struct DocState {
    DocumentObject* owner = nullptr;  // the document object serving this xmlDoc
    size_t wrappers = 0;              // wrappers of nodes of this xmlDoc
    bool retired = false;             // replaced by a load; freed when wrappers reaches 0
    // Set for good once a subtree holding a wrapper was detached from the
    // tree: until then, a wrapper made for a node in the tree knows its node
    // is still there when it goes (see WrapperCore::attached_).
    bool wrappedNodeDetached = false;
    // Set for good once an insertion may have made a tree of this document
    // deeper than libxml2's streamed evaluation of `//` paths descends (see
    // XPathEvaluator::Select). A parsed document is never that deep.
    bool mayBeTooDeepToStream = false;
    // What the last insertion learnt about where nodes stand (see Placement).
    PlacementMemo placements;
};

inline DocState& StateOf(const xmlDoc* doc) {
    return *static_cast<DocState*>(doc->_private);
}
// Gives `doc` its bookkeeping. Throws std::bad_alloc.
void AttachDocState(xmlDoc* doc, DocumentObject* owner);
// Frees the xmlDoc with every node still linked into it, and its bookkeeping.
void FreeDocWithState(xmlDoc* doc);

// What stands for one node: a node wrapper, or the document object (the
// wrapper of the document node).
class DomNode {
  public:
    virtual xmlNode* XmlNode() const = 0;
    virtual DocumentObject& Owner() const = 0;
    // The node's IXMLDOMNode interface, without adding a reference.
    virtual IXMLDOMNode* NodeInterface() = 0;
    // True for a node that only reports something (a namespace declaration
    // read from a map or a selection): its value cannot be set.
    virtual bool ReadOnly() const { return false; }

  protected:
    ~DomNode() = default;
};

// Asked for through QueryInterface, a node object of this service answers
// with its DomNode, without adding a reference (the caller already holds
// one); any other object answers E_NOINTERFACE. One virtual call and one
// GUID comparison: a dynamic_cast across the interfaces' multiple
// inheritance cost a tenth of building a document node by node.
inline constexpr IID IID_XmlutilDomNode = {
    0x6f1d2c4a, 0x93b7, 0x4e0b, {0x8a, 0x51, 0x2d, 0x7e, 0x0c, 0x94, 0xb3, 0x16}};

// The DomNode behind an interface pointer handed in by a caller; null when the
// object is not one of ours.
DomNode* AsDomNode(IUnknown* object);

// The non-template part of every node wrapper: registration in `_private`,
// the per-document wrapper count and the counted document reference.
class WrapperCore : public DomNode {
  public:
    xmlNode* XmlNode() const override { return node_; }
    DocumentObject& Owner() const override { return *doc_; }
    // Points the wrapper at another document object after its node was
    // adopted there; returns the previous one, whose reference the caller
    // now holds and must release.
    DocumentObject* Repoint(DocumentObject* doc) noexcept;
    bool ReadOnly() const override { return readOnly_; }
    void MarkReadOnly() noexcept { readOnly_ = true; }
    // Makes the wrapper stand for `node`, a copy of its node that replaces it.
    void Retarget(xmlNode* node) noexcept;
    // Records that the node was just linked into its document's tree, so
    // that the wrapper's death needs no walk to the top (see attached_).
    void NoteInDocumentTree() noexcept { attached_ = true; }

    // Wrappers live in their document's WrapperPool.
    static void* operator new(size_t size, WrapperPool& pool) noexcept;
    static void operator delete(void* object, WrapperPool& pool) noexcept;
    static void operator delete(void* object) noexcept;

  protected:
    // `xdoc` is node->doc, passed in so that the node's second cache line is
    // not touched (walking a long child list is bound by memory traffic).
    WrapperCore(xmlNode* node, xmlDoc* xdoc, DocumentObject* doc) noexcept;
    // Leaves the reference to the document object to the caller of delete:
    // it goes after the memory, which belongs to that document's pool.
    virtual ~WrapperCore();
    // Deletes the wrapper whose last reference went, then releases its
    // document object.
    void DeleteSelf() noexcept;
    WrapperCore(const WrapperCore&) = delete;
    WrapperCore& operator=(const WrapperCore&) = delete;

    ULONG refs_ = 1;

  private:
    // Whether `node` is in its document's tree (whose state is `state`).
    static bool InDocumentTree(xmlNode* node, const DocState& state) noexcept;

    bool readOnly_ = false;
    // The node was in its document's tree when the wrapper was made, or
    // joined it later through an insertion. While no
    // wrapped subtree of that document has been detached since, it still is,
    // and the wrapper's death needs no walk to the top to see whether it
    // leaves a detached subtree to free: that walk read each node once more
    // (a memory stall per handle when a million of them go).
    bool attached_ = false;
    xmlNode* node_;
    xmlDoc* xdoc_;  // node_->doc
    DocumentObject* doc_;
};

// The wrapper registered for a node, or null. `_private` links a node to the
// block of the last wrapper made for it, which is its wrapper only while the
// block still records that node: a wrapper that goes leaves the link in
// place (touching the node once more cost a memory stall per handle when a
// million went), and its block stays with its pool, which outlives every
// node of its document. WrapperCore is the first base of every wrapper, so
// the block's object and the WrapperCore share one address.
inline WrapperCore* WrapperOf(const xmlNode* node) {
    // A document keeps its bookkeeping in `_private`; a namespace (xmlNs) has
    // no such field where a node has it.
    if (node->type == XML_DOCUMENT_NODE || node->type == XML_NAMESPACE_DECL ||
        node->_private == nullptr) {
        return nullptr;
    }
    return WrapperPool::NodeOf(node->_private) == node ? static_cast<WrapperCore*>(node->_private)
                                                       : nullptr;
}

// A counted IXMLDOMNode for `node`, creating its wrapper when it has none;
// for the document node, the document object. E_OUTOFMEMORY.
HRESULT WrapNode(xmlNode* node, IXMLDOMNode** out) noexcept;
// The same for a node known to belong to `doc` (saves reading node->doc).
HRESULT WrapNode(xmlNode* node, xmlDoc* doc, IXMLDOMNode** out) noexcept;
// What a getter hands back for a node that may be absent: E_POINTER without
// `out`; S_FALSE and a null `out` for no node; otherwise as WrapNode.
HRESULT EmitNode(xmlNode* node, IXMLDOMNode** out) noexcept;

// The same, asking the wrapper for interface I.
template <class I>
HRESULT WrapNodeAs(xmlNode* node, I** out) noexcept {
    if constexpr (std::is_same_v<I, IXMLDOMNode>) return WrapNode(node, out);
    *out = nullptr;
    IXMLDOMNode* wrapped = nullptr;
    HRESULT hr = WrapNode(node, &wrapped);
    if (FAILED(hr)) return hr;
    hr = wrapped->QueryInterface(__uuidof(I), reinterpret_cast<void**>(out));
    wrapped->Release();
    return hr;
}

// Runs `body`, turning an allocation failure into E_OUTOFMEMORY so that no
// exception leaves a COM method, with libxml2's error reports silenced
// (its tree functions print "Memory allocation failed" by default).
template <class F>
HRESULT Guarded(F&& body) noexcept {
    try {
        ErrorSilencer quiet;
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

// A number that changes whenever a document changes: fresh values come from
// one process-wide sequence, so two documents never share one.
uint64_t NextGeneration() noexcept;

}  // namespace xmlutil::xmldom
