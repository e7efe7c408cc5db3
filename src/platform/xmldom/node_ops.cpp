// SPDX-License-Identifier: MIT
#include "platform/xmldom/node_ops.h"

#include <string>
#include <vector>

#include "platform/xmldom/attributes.h"
#include "platform/xmldom/child_arguments.h"
#include "platform/xmldom/document_object.h"
#include "platform/xmldom/engine/declaration.h"
#include "platform/xmldom/engine/error_guard.h"
#include "platform/xmldom/engine/unread_entities.h"
#include "platform/xmldom/error_report.h"
#include "platform/xmldom/lists.h"
#include "platform/xmldom/tree.h"
#include "platform/xmldom/utf.h"

namespace xmlutil::xmldom::ops {

bool IsCommentText(const std::string& text) {
    return text.find("--") == std::string::npos && (text.empty() || text.back() != '-');
}

namespace {

constexpr VARTYPE kVtDispatch = 9;  // IDispatch*: an IUnknown for our purposes

std::string ContentOf(xmlNode* node) {
    XmlCharPtr content(xmlNodeGetContent(node));
    return content == nullptr ? std::string() : std::string(FromXml(content.get()));
}

bool IsTextLike(const xmlNode* node) {
    switch (node->type) {
        case XML_TEXT_NODE:
        case XML_CDATA_SECTION_NODE:
        case XML_COMMENT_NODE:
        case XML_PI_NODE:
            return true;
        default:
            return false;
    }
}

// Node values XML has no escape for are refused, so a saved file always loads.
HRESULT CheckContent(const xmlNode* node, const std::string& text) {
    // A declaration must stay one the parser reads back.
    if (childargs::IsDeclaration(node) && !ParseDeclarationData(text)) return E_INVALIDARG;
    switch (node->type) {
        case XML_COMMENT_NODE:
            return IsCommentText(text) ? S_OK : E_INVALIDARG;
        case XML_PI_NODE:
            return text.find("?>") == std::string::npos ? S_OK : E_INVALIDARG;
        case XML_CDATA_SECTION_NODE:
            return text.find("]]>") == std::string::npos ? S_OK : E_INVALIDARG;
        default:
            return S_OK;
    }
}

// Owns the variant VariantChangeType fills.
class ConvertedVariant {
  public:
    ConvertedVariant() { VariantInit(&value_); }
    ~ConvertedVariant() { VariantClear(&value_); }
    ConvertedVariant(const ConvertedVariant&) = delete;
    ConvertedVariant& operator=(const ConvertedVariant&) = delete;
    VARIANT* get() { return &value_; }

  private:
    VARIANT value_;
};

// The text a value stands for: a string as it is, any other value as
// VariantChangeType writes it ("-1" for true, "0.1", "2024-03-01", ...).
// E_INVALIDARG for no value (VT_EMPTY, VT_NULL) and for one that has no text,
// or for text XML cannot hold.
HRESULT StringFromVariant(const VARIANT& value, std::string& utf8) {
    if (value.vt == VT_BSTR) return Utf8FromBstr(value.bstrVal, utf8);
    if (value.vt == VT_EMPTY || value.vt == VT_NULL) return E_INVALIDARG;
    ConvertedVariant text;
    const HRESULT hr = VariantChangeType(text.get(), &value, 0, VT_BSTR);
    if (hr == E_OUTOFMEMORY) return hr;
    if (FAILED(hr) || text.get()->vt != VT_BSTR) return E_INVALIDARG;
    return Utf8FromBstr(text.get()->bstrVal, utf8);
}

HRESULT SetBstrVariant(const std::string& utf8, VARIANT* value) {
    BSTR text = nullptr;
    const HRESULT hr = BstrFromUtf8(utf8, &text);
    if (FAILED(hr)) return hr;
    value->vt = VT_BSTR;
    value->bstrVal = text;
    return S_OK;
}

// Sets the value of a text-like node (text, CDATA, comment, PI) or attribute
// literally.
HRESULT SetValueOf(DomNode& self, BSTR text) {
    if (self.ReadOnly()) return E_FAIL;  // it would change nothing in any document
    xmlNode* node = self.XmlNode();
    std::string utf8;
    HRESULT hr = Utf8FromBstr(text, utf8);
    if (FAILED(hr)) return hr;
    if (node->type == XML_ATTRIBUTE_NODE) {
        tree::SetAttributeValue(reinterpret_cast<xmlAttr*>(node), utf8);
    } else {
        hr = CheckContent(node, utf8);
        if (FAILED(hr)) return hr;
        tree::SetLeafContent(node, utf8);
    }
    self.Owner().Changed();
    return S_OK;
}

xmlNode* FirstChildOf(xmlNode* node) {
    return tree::HasOwnChildren(node) ? node->children : nullptr;
}

// How a placed element's name gets bound: the declaration its prefix names in
// scope at the new place, and whether an explicit xmlns="" must keep it out of
// a default namespace declared above it.
struct NameBinding {
    xmlNs* ns = nullptr;
    bool undeclareDefault = false;
};

HRESULT BindingAt(const Placement& parent, xmlNode* child, NameBinding& binding) {
    if (child->type != XML_ELEMENT_NODE || child->ns != nullptr) return S_OK;
    // Looked at in place: most names have no prefix, and copying each one
    // into a string cost an allocation per appended element.
    const xmlChar* colon = xmlStrchr(child->name, ':');
    if (colon != nullptr && colon != child->name) {
        const std::string prefix = attrs::PrefixOf(FromXml(child->name));
        binding.ns = attrs::FindDeclaration(child, prefix);
        if (binding.ns == nullptr) binding.ns = InScopeAt(parent, ToXml(prefix.c_str()));
        return binding.ns == nullptr ? E_INVALIDARG : S_OK;
    }
    if (parent.node->type == XML_ELEMENT_NODE && attrs::FindDeclaration(child, "") == nullptr) {
        const xmlNs* inherited = InScopeAt(parent, nullptr);
        binding.undeclareDefault =
            inherited != nullptr && inherited->href != nullptr && inherited->href[0] != '\0';
    }
    return S_OK;
}

// Marks the document once a tree of it may be deep enough that libxml2's
// streamed paths would leave nodes out. Walks only while the mark is unset,
// and then only through the subtree of `child`, `depth` levels deep.
void NoteDepth(const xmlNode* child, size_t depth) {
    DocState& state = StateOf(child->doc);
    if (!state.mayBeTooDeepToStream && tree::ReachesDepth(child, depth, kStreamingDepthGuard)) {
        state.mayBeTooDeepToStream = true;
    }
}

HRESULT InsertChild(DomNode& self, IXMLDOMNode* newChild, xmlNode* before,
                    IXMLDOMNode** outNewChild) {
    if (outNewChild != nullptr) *outNewChild = nullptr;
    if (newChild == nullptr) return E_INVALIDARG;
    DomNode* incoming = AsDomNode(newChild);
    if (incoming == nullptr) return E_INVALIDARG;
    xmlNode* parent = self.XmlNode();
    xmlNode* child = incoming->XmlNode();
    HRESULT hr = childargs::CheckPlacement(parent, child, before, nullptr);
    if (FAILED(hr)) return hr;
    // Found before any change: the removal or the copy below leaves where
    // `parent` stands as it is.
    const Placement at = PlacementOf(parent, self.Owner().Generation());
    NameBinding binding;
    hr = BindingAt(at, child, binding);
    if (FAILED(hr)) return hr;

    CComPtr<IXMLDOMNode> keep(incoming->NodeInterface());
    if (before != child) {
        // Before a move may let that owner go. Walking a list by index while
        // appending copies made from it must not restart the list's cursor:
        // a detached node leaving is no change to any list of that owner's.
        if (child->doc != parent->doc && child->parent == nullptr) {
            incoming->Owner().DetachedNodeLeft();
        } else {
            incoming->Owner().Changed();
        }
        if (child->doc != parent->doc) {
            // A reference to an entity this document neither declares nor
            // leaves to an external subset would make it fail to load.
            if (!ReferencesLoadIn(child, parent->doc)) return E_FAIL;
            // A complete copy takes its place in this document (with its
            // handles); on failure nothing has changed.
            hr = tree::MoveToDocument(child, parent->doc, &child);
            if (FAILED(hr)) return hr;
            binding = NameBinding();
            hr = BindingAt(at, child, binding);
            if (FAILED(hr)) return hr;
        } else if (child->parent != nullptr) {
            tree::Remove(child);  // wrapped: stays alive, detached
        }
        if (binding.ns != nullptr) {
            attrs::SetName(child, attrs::LocalOf(FromXml(child->name)));
            child->ns = binding.ns;
        }
        if (binding.undeclareDefault) tree::NewNamespace(child, ToXml(""), nullptr);
        tree::LinkChild(parent, child, before);
        tree::DropInheritedDeclarationsInScope(child);
        NoteDepth(child, at.depth + 1);
        // IDs count only inside the document's tree: a subtree built apart
        // is registered when it joins it (one walk, not one per level).
        if (at.top->type == XML_DOCUMENT_NODE) {
            tree::RegisterIds(child);
            if (WrapperCore* wrapper = WrapperOf(child)) wrapper->NoteInDocumentTree();
        }
        self.Owner().Changed();
        NotePlaced(at, child, self.Owner().Generation());
    }
    if (outNewChild != nullptr) *outNewChild = keep.Detach();
    return S_OK;
}

// The expression as UTF-8; E_FAIL, reported, for one XML cannot hold.
HRESULT SelectionExpression(BSTR query, std::string& expression) {
    if (SUCCEEDED(Utf8FromBstr(query, expression))) return S_OK;
    ReportFailure(IID_IXMLDOMNode, "The expression holds a character XML cannot hold");
    return E_FAIL;
}

// The reason for an E_FAIL selection (a prefix bound nowhere, a malformed
// expression) goes to the thread's error object, where
// _com_error::Description reads it.
HRESULT ReportedSelection(DomNode& self, HRESULT hr) {
    if (hr == E_FAIL) {
        const std::string& reason = self.Owner().SelectionFailure();
        ReportFailure(IID_IXMLDOMNode, reason.empty() ? "The selection failed" : reason);
    }
    return hr;
}

HRESULT Select(DomNode& self, BSTR query, bool firstOnly, std::vector<CComPtr<IXMLDOMNode>>& out) {
    std::string expression;
    if (FAILED(SelectionExpression(query, expression))) return E_FAIL;
    xmlNode* context = self.XmlNode();
    xmlDoc* doc =
        context->type == XML_DOCUMENT_NODE ? reinterpret_cast<xmlDoc*>(context) : context->doc;
    // Every hit is wrapped as it is read, before the caller can edit anything.
    std::vector<CComPtr<IXMLDOMNode>> wrappedHits;
    const HRESULT hr = self.Owner().Select(
        doc, context, expression, firstOnly,
        [&wrappedHits, doc](size_t index, size_t count, const XPathHit& hit) -> HRESULT {
            if (index == 0) {
                wrappedHits.clear();
                if (count != kCountNotKnown) wrappedHits.reserve(count);
            }
            CComPtr<IXMLDOMNode> wrapped;
            HRESULT wrappedHr;
            if (hit.node != nullptr) {
                wrappedHr = WrapNode(hit.node, doc, &wrapped.p);  // every hit is of `doc`
            } else {
                // A namespace-axis hit: a detached declaration node owned by its wrapper.
                const NamespaceHit& ns = *hit.ns;
                wrappedHr = attrs::WrapDeclaration(
                    doc, ns.prefix.empty() ? nullptr : ToXml(ns.prefix.c_str()),
                    ToXml(ns.uri.c_str()), &wrapped.p);
            }
            if (FAILED(wrappedHr)) return wrappedHr;
            wrappedHits.push_back(std::move(wrapped));
            return S_OK;
        });
    if (FAILED(ReportedSelection(self, hr))) return hr;
    out = std::move(wrappedHits);
    return S_OK;
}

// ---- fragments, entity references, replacement --------------------------------

// An entity reference is written out as "&name;": it may join a tree only
// when the entity is predefined or declared by the document, or when the
// document names an external DTD (which is never read: there an undeclared
// entity is a validity matter, and the file still loads). Anywhere else the
// saved file would not load.
bool ResolvableHere(const xmlNode* parent, const xmlNode* child) {
    if (child->type != XML_ENTITY_REF_NODE) return true;
    xmlDoc* doc = parent->type == XML_DOCUMENT_NODE
                      ? reinterpret_cast<xmlDoc*>(const_cast<xmlNode*>(parent))
                      : parent->doc;
    const xmlDtd* dtd = doc->intSubset;
    const bool externalDtd =
        doc->extSubset != nullptr ||
        (dtd != nullptr && (dtd->ExternalID != nullptr || dtd->SystemID != nullptr));
    return externalDtd || xmlGetDocEntity(doc, child->name) != nullptr;
}

// What InsertChild would refuse for any child of `fragment` at its place,
// checked for all of them before the first moves, so that a refusal leaves
// both trees as they were.
HRESULT CheckFragmentChildren(xmlNode* parent, xmlNode* fragment, xmlNode* before) {
    if (parent == fragment) return E_FAIL;
    const bool atTop = parent->type == XML_DOCUMENT_NODE;
    const Placement at = PlacementOf(parent, StateOf(parent->doc).owner->Generation());
    int elements = 0;
    for (xmlNode* child = fragment->children; child != nullptr; child = child->next) {
        HRESULT hr = childargs::CheckPlacement(parent, child, before, nullptr);
        if (FAILED(hr)) return hr;
        if (!ResolvableHere(parent, child)) return E_FAIL;
        // The children go in one by one: a declaration only ahead of the rest.
        if (childargs::IsDeclaration(child) && child != fragment->children) return E_FAIL;
        if (child->type == XML_ELEMENT_NODE) ++elements;
        NameBinding binding;
        hr = BindingAt(at, child, binding);
        if (FAILED(hr)) return hr;
    }
    return atTop && elements > 1 ? E_FAIL : S_OK;
}

// Moves the children of `fragment`, in order, to `self` before `before`;
// the fragment is left empty and handed back.
HRESULT InsertFragment(DomNode& self, DomNode& fragment, xmlNode* before,
                       IXMLDOMNode** outNewChild) {
    if (outNewChild != nullptr) *outNewChild = nullptr;
    xmlNode* frag = fragment.XmlNode();
    HRESULT hr = CheckFragmentChildren(self.XmlNode(), frag, before);
    if (FAILED(hr)) return hr;
    // Each child is held by a handle while it moves.
    std::vector<CComPtr<IXMLDOMNode>> children;
    for (xmlNode* child = frag->children; child != nullptr; child = child->next) {
        CComPtr<IXMLDOMNode> wrapped;
        hr = WrapNode(child, &wrapped.p);
        if (FAILED(hr)) return hr;
        children.push_back(std::move(wrapped));
    }
    CComPtr<IXMLDOMNode> keep(fragment.NodeInterface());
    fragment.Owner().Changed();
    for (const CComPtr<IXMLDOMNode>& child : children) {
        hr = InsertChild(self, child, before, nullptr);
        if (FAILED(hr)) return hr;  // only when memory ran out part way
    }
    if (outNewChild != nullptr) *outNewChild = keep.Detach();
    return S_OK;
}

// InsertChild, for a fragment its children, for an entity reference only
// where it resolves.
HRESULT Insert(DomNode& self, IXMLDOMNode* newChild, xmlNode* before, IXMLDOMNode** outNewChild) {
    DomNode* incoming = newChild == nullptr ? nullptr : AsDomNode(newChild);
    if (incoming != nullptr) {
        const xmlNode* child = incoming->XmlNode();
        if (child->type == XML_DOCUMENT_FRAG_NODE) {
            return InsertFragment(self, *incoming, before, outNewChild);
        }
        if (!ResolvableHere(self.XmlNode(), child)) {
            if (outNewChild != nullptr) *outNewChild = nullptr;
            return E_FAIL;
        }
    }
    return InsertChild(self, newChild, before, outNewChild);
}

}  // namespace

HRESULT GetNodeName(DomNode& self, BSTR* name) {
    if (name == nullptr) return E_POINTER;
    *name = nullptr;
    const xmlNode* node = self.XmlNode();
    switch (node->type) {
        case XML_ELEMENT_NODE:
        case XML_ATTRIBUTE_NODE:
            return BstrFromUtf8(attrs::QualifiedName(node), name);
        case XML_TEXT_NODE:
            return BstrFromUtf8("#text", name);
        case XML_CDATA_SECTION_NODE:
            return BstrFromUtf8("#cdata-section", name);
        case XML_COMMENT_NODE:
            return BstrFromUtf8("#comment", name);
        case XML_DOCUMENT_NODE:
            return BstrFromUtf8("#document", name);
        case XML_DOCUMENT_FRAG_NODE:
            return BstrFromUtf8("#document-fragment", name);
        default:
            return BstrFromUtf8(FromXml(node->name), name);
    }
}

HRESULT GetNodeValue(DomNode& self, VARIANT* value) {
    if (value == nullptr) return E_POINTER;
    VariantInit(value);
    xmlNode* node = self.XmlNode();
    if (node->type != XML_ATTRIBUTE_NODE && !IsTextLike(node)) {
        value->vt = VT_NULL;
        return S_FALSE;
    }
    return SetBstrVariant(ContentOf(node), value);
}

HRESULT PutNodeValue(DomNode& self, const VARIANT& value) {
    if (self.ReadOnly()) return E_FAIL;
    xmlNode* node = self.XmlNode();
    if (node->type != XML_ATTRIBUTE_NODE && !IsTextLike(node)) return E_FAIL;
    if (value.vt == VT_BSTR) return SetValueOf(self, value.bstrVal);
    std::string utf8;
    const HRESULT hr = StringFromVariant(value, utf8);
    if (FAILED(hr)) return hr;
    std::wstring wide;
    AppendWideFromUtf8(utf8.c_str(), wide);
    return SetValueOf(self, wide.data());
}

HRESULT GetNodeType(DomNode& self, DOMNodeType* type) {
    if (type == nullptr) return E_POINTER;
    switch (self.XmlNode()->type) {
        case XML_ELEMENT_NODE:
            *type = NODE_ELEMENT;
            break;
        case XML_ATTRIBUTE_NODE:
            *type = NODE_ATTRIBUTE;
            break;
        case XML_TEXT_NODE:
            *type = NODE_TEXT;
            break;
        case XML_CDATA_SECTION_NODE:
            *type = NODE_CDATA_SECTION;
            break;
        case XML_ENTITY_REF_NODE:
            *type = NODE_ENTITY_REFERENCE;
            break;
        case XML_ENTITY_NODE:
        case XML_ENTITY_DECL:
            *type = NODE_ENTITY;
            break;
        case XML_PI_NODE:
            *type = NODE_PROCESSING_INSTRUCTION;
            break;
        case XML_COMMENT_NODE:
            *type = NODE_COMMENT;
            break;
        case XML_DOCUMENT_NODE:
            *type = NODE_DOCUMENT;
            break;
        case XML_DOCUMENT_TYPE_NODE:
        case XML_DTD_NODE:
            *type = NODE_DOCUMENT_TYPE;
            break;
        case XML_DOCUMENT_FRAG_NODE:
            *type = NODE_DOCUMENT_FRAGMENT;
            break;
        case XML_NOTATION_NODE:
            *type = NODE_NOTATION;
            break;
        default:
            *type = NODE_INVALID;
            break;
    }
    return S_OK;
}

HRESULT GetParentNode(DomNode& self, IXMLDOMNode** parent) {
    if (parent == nullptr) return E_POINTER;
    *parent = nullptr;
    xmlNode* node = self.XmlNode();
    // In the DOM an attribute has no parent (libxml2's points to the element).
    if (node->type == XML_ATTRIBUTE_NODE || node->type == XML_DOCUMENT_NODE) return S_FALSE;
    xmlNode* up = node->parent;
    if (up == nullptr) return S_FALSE;
    // The top-level nodes of content replaced by a load read as detached.
    if (up->type == XML_DOCUMENT_NODE && StateOf(reinterpret_cast<xmlDoc*>(up)).retired) {
        return S_FALSE;
    }
    return WrapNode(up, parent);
}

HRESULT GetChildNodes(DomNode& self, IXMLDOMNodeList** list) {
    if (list == nullptr) return E_POINTER;
    return MakeChildList(self, list);
}

HRESULT GetFirstChild(DomNode& self, IXMLDOMNode** child) {
    return EmitNode(FirstChildOf(self.XmlNode()), child);
}

HRESULT GetLastChild(DomNode& self, IXMLDOMNode** child) {
    xmlNode* node = self.XmlNode();
    return EmitNode(tree::HasOwnChildren(node) ? node->last : nullptr, child);
}

HRESULT GetPreviousSibling(DomNode& self, IXMLDOMNode** sibling) {
    xmlNode* node = self.XmlNode();
    const bool hasSiblings = node->type != XML_ATTRIBUTE_NODE && node->type != XML_DOCUMENT_NODE;
    return EmitNode(hasSiblings ? node->prev : nullptr, sibling);
}

HRESULT GetNextSibling(DomNode& self, IXMLDOMNode** sibling) {
    xmlNode* node = self.XmlNode();
    const bool hasSiblings = node->type != XML_ATTRIBUTE_NODE && node->type != XML_DOCUMENT_NODE;
    return EmitNode(hasSiblings ? node->next : nullptr, sibling);
}

HRESULT GetAttributes(DomNode& self, IXMLDOMNamedNodeMap** map) {
    if (map == nullptr) return E_POINTER;
    *map = nullptr;
    if (self.XmlNode()->type != XML_ELEMENT_NODE) return S_FALSE;
    return MakeAttributeMap(self, map);
}

HRESULT InsertBefore(DomNode& self, IXMLDOMNode* newChild, const VARIANT& refChild,
                     IXMLDOMNode** outNewChild) {
    xmlNode* before = nullptr;
    if (refChild.vt == VT_UNKNOWN || refChild.vt == kVtDispatch) {
        if (refChild.punkVal != nullptr) {
            DomNode* reference = AsDomNode(refChild.punkVal);
            if (reference == nullptr) {
                if (outNewChild != nullptr) *outNewChild = nullptr;
                return E_INVALIDARG;
            }
            before = reference->XmlNode();
        }
    } else if (refChild.vt != VT_EMPTY && refChild.vt != VT_NULL) {
        if (outNewChild != nullptr) *outNewChild = nullptr;
        return E_INVALIDARG;
    }
    return Insert(self, newChild, before, outNewChild);
}

HRESULT AppendChild(DomNode& self, IXMLDOMNode* newChild, IXMLDOMNode** outNewChild) {
    return Insert(self, newChild, nullptr, outNewChild);
}

HRESULT RemoveChild(DomNode& self, IXMLDOMNode* child, IXMLDOMNode** oldChild) {
    if (oldChild != nullptr) *oldChild = nullptr;
    if (child == nullptr) return E_INVALIDARG;
    DomNode* removed = AsDomNode(child);
    if (removed == nullptr) return E_INVALIDARG;
    xmlNode* node = removed->XmlNode();
    const HRESULT hr = childargs::CheckRemoval(self.XmlNode(), node);
    if (FAILED(hr)) return hr;
    CComPtr<IXMLDOMNode> keep(removed->NodeInterface());
    tree::Remove(node);  // wrapped, so it stays alive as a detached subtree
    self.Owner().Changed();
    if (oldChild != nullptr) *oldChild = keep.Detach();
    return S_OK;
}

HRESULT HasChildNodes(DomNode& self, VARIANT_BOOL* hasChild) {
    if (hasChild == nullptr) return E_POINTER;
    const bool any = FirstChildOf(self.XmlNode()) != nullptr;
    *hasChild = any ? VARIANT_TRUE : VARIANT_FALSE;
    return any ? S_OK : S_FALSE;
}

HRESULT GetOwnerDocument(DomNode& self, IXMLDOMDocument** document) {
    if (document == nullptr) return E_POINTER;
    *document = nullptr;
    if (self.XmlNode()->type == XML_DOCUMENT_NODE) return S_FALSE;
    DocumentObject& owner = self.Owner();
    owner.AddRef();
    *document = &owner;
    return S_OK;
}

HRESULT CloneNode(DomNode& self, VARIANT_BOOL deep, IXMLDOMNode** clone) {
    if (clone == nullptr) return E_POINTER;
    *clone = nullptr;
    xmlNode* node = self.XmlNode();
    if (node->type == XML_DOCUMENT_NODE) return self.Owner().CloneDocument(deep != 0, clone);
    xmlNode* copy = tree::CopySubtree(node, node->doc, deep != 0);
    if (copy == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = WrapNode(copy, clone);
    if (FAILED(hr)) xmlFreeNode(copy);
    return hr;
}

HRESULT GetText(DomNode& self, BSTR* text) {
    if (text == nullptr) return E_POINTER;
    *text = nullptr;
    xmlNode* node = self.XmlNode();
    if (node->type == XML_DOCUMENT_NODE) {
        xmlNode* root = xmlDocGetRootElement(reinterpret_cast<xmlDoc*>(node));
        return BstrFromUtf8(root == nullptr ? std::string() : ContentOf(root), text);
    }
    if (node->type == XML_ELEMENT_NODE || node->type == XML_ATTRIBUTE_NODE ||
        node->type == XML_DOCUMENT_FRAG_NODE || node->type == XML_ENTITY_REF_NODE ||
        IsTextLike(node)) {
        return BstrFromUtf8(ContentOf(node), text);
    }
    return BstrFromUtf8("", text);
}

HRESULT PutText(DomNode& self, BSTR text) {
    xmlNode* node = self.XmlNode();
    if (node->type == XML_ELEMENT_NODE) {
        std::string utf8;
        const HRESULT hr = Utf8FromBstr(text, utf8);
        if (FAILED(hr)) return hr;
        if (utf8.empty() && node->children == nullptr) return S_OK;  // nothing changes
        tree::ReplaceChildrenWithText(node, utf8);
        self.Owner().ChildrenReplaced(node);
        return S_OK;
    }
    if (node->type == XML_ATTRIBUTE_NODE || IsTextLike(node)) return SetValueOf(self, text);
    return E_FAIL;
}

HRESULT GetXml(DomNode& self, BSTR* xml) {
    if (xml == nullptr) return E_POINTER;
    *xml = nullptr;
    std::string utf8;
    const HRESULT hr = SerializeToUtf8(self.XmlNode(), utf8);
    if (FAILED(hr)) return hr;
    return BstrFromUtf8(utf8, xml);
}

HRESULT SelectNodes(DomNode& self, BSTR query, IXMLDOMNodeList** list) {
    if (list == nullptr) return E_POINTER;
    *list = nullptr;
    std::vector<CComPtr<IXMLDOMNode>> nodes;
    const HRESULT hr = Select(self, query, false, nodes);
    if (FAILED(hr)) return hr;
    return MakeSelectionList(std::move(nodes), list);
}

HRESULT CountSelected(DomNode& self, BSTR query, long& count) {
    std::string expression;
    if (FAILED(SelectionExpression(query, expression))) return E_FAIL;
    xmlNode* context = self.XmlNode();
    xmlDoc* doc =
        context->type == XML_DOCUMENT_NODE ? reinterpret_cast<xmlDoc*>(context) : context->doc;
    // The last hit's index tells the selection's size.
    size_t total = 0;
    const HRESULT hr = self.Owner().Select(doc, context, expression, false,
                                           [&total](size_t index, size_t, const XPathHit&) {
                                               total = index + 1;
                                               return S_OK;
                                           });
    if (FAILED(ReportedSelection(self, hr))) return hr;
    count = static_cast<long>(total);
    return S_OK;
}

HRESULT SelectSingleNode(DomNode& self, BSTR query, IXMLDOMNode** node) {
    if (node == nullptr) return E_POINTER;
    *node = nullptr;
    std::vector<CComPtr<IXMLDOMNode>> nodes;
    const HRESULT hr = Select(self, query, true, nodes);
    if (FAILED(hr)) return hr;
    if (nodes.empty()) return S_FALSE;
    *node = nodes.front().Detach();
    return S_OK;
}

HRESULT GetNamespaceUri(DomNode& self, BSTR* uri) {
    if (uri == nullptr) return E_POINTER;
    const xmlNode* node = self.XmlNode();
    const bool named = node->type == XML_ELEMENT_NODE || node->type == XML_ATTRIBUTE_NODE;
    return BstrFromUtf8(named ? attrs::NamespaceUri(node) : std::string(), uri);
}

HRESULT GetPrefix(DomNode& self, BSTR* prefix) {
    if (prefix == nullptr) return E_POINTER;
    const xmlNode* node = self.XmlNode();
    const bool named = node->type == XML_ELEMENT_NODE || node->type == XML_ATTRIBUTE_NODE;
    return BstrFromUtf8(named ? attrs::Prefix(node) : std::string(), prefix);
}

HRESULT GetBaseName(DomNode& self, BSTR* name) {
    if (name == nullptr) return E_POINTER;
    const xmlNode* node = self.XmlNode();
    switch (node->type) {
        case XML_ELEMENT_NODE:
        case XML_ATTRIBUTE_NODE:
            return BstrFromUtf8(attrs::LocalName(node), name);
        case XML_PI_NODE:
            return BstrFromUtf8(FromXml(node->name), name);
        default:
            // Never libxml2's internal names ("text", "comment") for these.
            return BstrFromUtf8("", name);
    }
}

HRESULT GetAttribute(DomNode& self, BSTR name, VARIANT* value) {
    if (value == nullptr) return E_POINTER;
    VariantInit(value);
    value->vt = VT_NULL;
    std::string qname;
    if (FAILED(Utf8FromBstr(name, qname))) return S_FALSE;
    xmlNode* element = self.XmlNode();
    std::string declared;
    if (attrs::IsDeclarationName(qname, &declared)) {
        const xmlNs* ns = attrs::FindDeclaration(element, declared);
        if (ns == nullptr) return S_FALSE;
        return SetBstrVariant(FromXml(ns->href), value);
    }
    xmlAttr* attr = attrs::FindAttribute(element, qname);
    if (attr == nullptr) return S_FALSE;
    return SetBstrVariant(ContentOf(reinterpret_cast<xmlNode*>(attr)), value);
}

HRESULT SetAttribute(DomNode& self, BSTR name, const VARIANT& value) {
    std::string qname;
    std::string text;
    if (FAILED(Utf8FromBstr(name, qname))) return E_INVALIDARG;
    HRESULT hr = StringFromVariant(value, text);
    if (FAILED(hr)) return hr;
    hr = attrs::SetValue(self, qname, text);
    if (hr != S_OK) return hr;
    if (attrs::IsDeclarationName(qname, nullptr)) {
        self.Owner().Changed();
    } else {
        self.Owner().ValuesChanged(self.XmlNode()->doc);
    }
    return S_OK;
}

HRESULT RemoveAttribute(DomNode& self, BSTR name) {
    std::string qname;
    if (FAILED(Utf8FromBstr(name, qname))) return S_FALSE;
    const HRESULT hr = attrs::RemoveByName(self, qname, nullptr);
    if (hr == S_OK) self.Owner().Changed();
    return hr;
}

HRESULT GetNodeTypeString(DomNode& self, BSTR* typeString) {
    if (typeString == nullptr) return E_POINTER;
    *typeString = nullptr;
    DOMNodeType type = NODE_INVALID;
    GetNodeType(self, &type);
    static const char* const kNames[] = {"",
                                         "element",
                                         "attribute",
                                         "text",
                                         "cdatasection",
                                         "entityreference",
                                         "entity",
                                         "processinginstruction",
                                         "comment",
                                         "document",
                                         "documenttype",
                                         "documentfragment",
                                         "notation"};
    const size_t index = static_cast<size_t>(type);
    return BstrFromUtf8(index < sizeof kNames / sizeof kNames[0] ? kNames[index] : "", typeString);
}

HRESULT ReplaceChild(DomNode& self, IXMLDOMNode* newChild, IXMLDOMNode* oldChild,
                     IXMLDOMNode** outOldChild) {
    if (outOldChild != nullptr) *outOldChild = nullptr;
    if (newChild == nullptr || oldChild == nullptr) return E_INVALIDARG;
    DomNode* incoming = AsDomNode(newChild);
    DomNode* outgoing = AsDomNode(oldChild);
    if (incoming == nullptr || outgoing == nullptr) return E_INVALIDARG;
    xmlNode* parent = self.XmlNode();
    xmlNode* old = outgoing->XmlNode();
    xmlNode* fresh = incoming->XmlNode();
    HRESULT hr = childargs::CheckRemoval(parent, old);
    if (FAILED(hr)) return hr;
    xmlNode* next = old->next;
    // A fragment's children are checked by Insert, with the old child still
    // in place (a fragment cannot be the old child's place-taker at the top).
    if (fresh->type != XML_DOCUMENT_FRAG_NODE) {
        hr = childargs::CheckPlacement(parent, fresh, next, old);
        if (FAILED(hr)) return hr;
    }
    CComPtr<IXMLDOMNode> keepOld(outgoing->NodeInterface());
    if (fresh != old) {
        // Taken out first, so that the newcomer may take the place of the
        // only element at the top of a document; put back on a refusal.
        tree::Remove(old);
        self.Owner().Changed();
        hr = Insert(self, newChild, next, nullptr);
        if (FAILED(hr)) {
            InsertChild(self, keepOld, next, nullptr);
            return hr;
        }
    }
    if (outOldChild != nullptr) *outOldChild = keepOld.Detach();
    return S_OK;
}

HRESULT GetNodeTypedValue(DomNode& self, VARIANT* value) {
    if (value == nullptr) return E_POINTER;
    if (self.XmlNode()->type != XML_ELEMENT_NODE) return GetNodeValue(self, value);
    VariantInit(value);
    BSTR text = nullptr;
    const HRESULT hr = GetText(self, &text);
    if (FAILED(hr)) return hr;
    value->vt = VT_BSTR;
    value->bstrVal = text;
    return S_OK;
}

HRESULT PutNodeTypedValue(DomNode& self, const VARIANT& value) {
    xmlNode* node = self.XmlNode();
    if (node->type != XML_ELEMENT_NODE) return PutNodeValue(self, value);
    std::string utf8;
    const HRESULT hr = StringFromVariant(value, utf8);
    if (FAILED(hr)) return hr;
    tree::ReplaceChildrenWithText(node, utf8);
    self.Owner().Changed();
    return S_OK;
}

}  // namespace xmlutil::xmldom::ops
