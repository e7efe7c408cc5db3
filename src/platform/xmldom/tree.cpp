// SPDX-License-Identifier: MIT
#include "platform/xmldom/tree.h"

#include <cstring>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/xmldom/document_object.h"
#include "platform/xmldom/engine/error_guard.h"
#include "platform/xmldom/engine/xml_ptr.h"

namespace xmlutil::xmldom::tree {

namespace {

bool IsXmlPrefix(const xmlChar* prefix) {
    return prefix != nullptr && xmlStrEqual(prefix, ToXml("xml"));
}

void FreeDetached(xmlNode* top) {
    // What the last insertion kept about where nodes stand may name a node
    // freed here, whose memory the next node made may reuse; a handle that
    // goes frees its detached subtree without any change being recorded.
    if (top->doc != nullptr && top->doc->_private != nullptr) {
        StateOf(top->doc).placements = PlacementMemo();
    }
    if (top->type == XML_ATTRIBUTE_NODE) {
        xmlFreeProp(reinterpret_cast<xmlAttr*>(top));
    } else {
        xmlFreeNode(top);
    }
}

void UnregisterIds(xmlNode* root) {
    xmlDoc* doc = root->doc;
    if (doc == nullptr || doc->ids == nullptr) return;
    ForEachInSubtree(root, [doc](xmlNode* node) {
        if (node->type != XML_ATTRIBUTE_NODE) return;
        auto* attr = reinterpret_cast<xmlAttr*>(node);
        if (attr->atype == XML_ATTRIBUTE_ID) xmlRemoveID(doc, attr);
    });
}

// Adds an ID unless the value is already taken (xmlAddID would report the
// clash through libxml2's global error handler).
void AddIdQuietly(xmlDoc* doc, xmlAttr* attr) {
    XmlCharPtr value(xmlNodeGetContent(reinterpret_cast<xmlNode*>(attr)));
    if (value == nullptr || xmlGetID(doc, value.get()) != nullptr) return;
    ErrorSilencer quiet;
    xmlAddID(nullptr, doc, value.get(), attr);
}

// A namespace that lives as long as the document, for a detached attribute
// whose declaration stayed with its former element. Kept in doc->oldNs (which
// xmlFreeDoc frees) and reused for equal prefix and URI, so repeated edits do
// not grow the list.
xmlNs* StoredNamespace(xmlDoc* doc, const xmlNs* ns) {
    xmlNs* xmlNamespace = xmlSearchNs(doc, reinterpret_cast<xmlNode*>(doc), ToXml("xml"));
    if (xmlNamespace == nullptr) throw std::bad_alloc();
    xmlNs* last = xmlNamespace;
    for (xmlNs* cur = doc->oldNs; cur != nullptr; cur = cur->next) {
        if (xmlStrEqual(cur->prefix, ns->prefix) && xmlStrEqual(cur->href, ns->href)) return cur;
        last = cur;
    }
    xmlNs* made = NewNamespace(nullptr, ns->href, ns->prefix);
    last->next = made;
    return made;
}

bool DeclaredOn(const xmlNode* element, const xmlChar* prefix) {
    for (const xmlNs* ns = element->nsDef; ns != nullptr; ns = ns->next) {
        if (xmlStrEqual(ns->prefix, prefix)) return true;
    }
    return false;
}

// Marks, in xmlNs::_private, a declaration made only so that a detached
// subtree keeps the namespaces it took from its former ancestors.
char inheritedDeclarationMark;
void* const kInheritedDeclaration = &inheritedDeclarationMark;

// Makes a detached element subtree self-contained: every namespace it uses
// from its former ancestors is declared on its root, with the same prefix
// (a fresh one only if the root already binds that prefix elsewhere), so no
// namespace pointer dangles when those ancestors are freed.
void DeclareInheritedNamespaces(xmlNode* root) {
    std::unordered_set<const xmlNs*> declaredInside;
    bool usesNamespaces = false;
    ForEachInSubtree(root, [&](xmlNode* node) {
        if (node->type == XML_ELEMENT_NODE) {
            for (xmlNs* ns = node->nsDef; ns != nullptr; ns = ns->next) declaredInside.insert(ns);
        }
        if ((node->type == XML_ELEMENT_NODE || node->type == XML_ATTRIBUTE_NODE) &&
            node->ns != nullptr) {
            usesNamespaces = true;
        }
    });
    if (!usesNamespaces) return;
    std::unordered_map<const xmlNs*, xmlNs*> redeclared;
    auto redeclare = [&](xmlNs* ns) -> xmlNs* {
        auto found = redeclared.find(ns);
        if (found != redeclared.end()) return found->second;
        xmlNs* made = nullptr;
        bool prefixTaken = false;
        for (xmlNs* own = root->nsDef; own != nullptr; own = own->next) {
            if (xmlStrEqual(own->prefix, ns->prefix)) {
                prefixTaken = true;
                if (xmlStrEqual(own->href, ns->href)) made = own;
                break;
            }
        }
        if (made == nullptr && !prefixTaken) {
            made = NewNamespace(root, ns->href, ns->prefix);
            made->_private = kInheritedDeclaration;
        }
        for (int counter = 1; made == nullptr && prefixTaken; ++counter) {
            const std::string fresh = "ns" + std::to_string(counter);
            if (DeclaredOn(root, ToXml(fresh.c_str()))) continue;
            made = NewNamespace(root, ns->href, ToXml(fresh.c_str()));
            made->_private = kInheritedDeclaration;
        }
        if (made == nullptr) throw std::bad_alloc();
        redeclared.emplace(ns, made);
        declaredInside.insert(made);
        return made;
    };
    ForEachInSubtree(root, [&](xmlNode* node) {
        if (node->type != XML_ELEMENT_NODE && node->type != XML_ATTRIBUTE_NODE) return;
        xmlNs* ns = node->ns;
        if (ns == nullptr || declaredInside.count(ns) != 0 || IsXmlPrefix(ns->prefix)) return;
        node->ns = redeclare(ns);
    });
}

}  // namespace

xmlNode* Whole(xmlNode* created) {
    if (created == nullptr) return nullptr;
    bool whole = true;
    switch (created->type) {
        case XML_ELEMENT_NODE:
        case XML_ATTRIBUTE_NODE:
            whole = created->name != nullptr;
            break;
        case XML_PI_NODE:
            whole = created->name != nullptr && created->content != nullptr;
            break;
        case XML_TEXT_NODE:
        case XML_CDATA_SECTION_NODE:
        case XML_COMMENT_NODE:
            whole = created->content != nullptr;
            break;
        default:
            break;
    }
    if (whole) return created;
    FreeDetached(created);
    return nullptr;
}

xmlNs* NewNamespace(xmlNode* element, const xmlChar* href, const xmlChar* prefix) {
    xmlNs* made = xmlNewNs(element, href, prefix);
    if (made == nullptr) throw std::bad_alloc();
    if (made->href != nullptr && (prefix == nullptr) == (made->prefix == nullptr)) return made;
    if (element != nullptr) {  // xmlNewNs appended it last
        xmlNs** link = &element->nsDef;
        while (*link != made) link = &(*link)->next;
        *link = nullptr;
    }
    xmlFreeNs(made);
    throw std::bad_alloc();
}

bool HasOwnChildren(const xmlNode* node) {
    switch (node->type) {
        case XML_ELEMENT_NODE:
        case XML_ATTRIBUTE_NODE:
        case XML_DOCUMENT_NODE:
        case XML_DOCUMENT_FRAG_NODE:
            return true;
        default:
            return false;
    }
}

bool HasWrapperInside(xmlNode* root) {
    return FindInSubtree(root, [](xmlNode* node) { return WrapperOf(node) != nullptr; }) != nullptr;
}

void FreeIfUnwrapped(xmlNode* top) {
    if (top->parent == nullptr && top->type != XML_DOCUMENT_NODE && !HasWrapperInside(top)) {
        FreeDetached(top);
    }
}

void NoteWrappedSubtreeDetached(const xmlNode* node) {
    if (node->doc != nullptr && node->doc->_private != nullptr) {
        StateOf(node->doc).wrappedNodeDetached = true;
    }
}

void ReleaseIfUnreachable(xmlNode* node) {
    FreeIfUnwrapped(TopOf(node));
}

namespace {

// Unlinks `node`, which holds a wrapper, from its parent. When the tree it
// leaves is a detached subtree and every handle into that subtree was inside
// `node` (a node moved out of a removed subtree), nothing can reach the rest
// again: it is freed here. Every unlink of a wrapped node goes through this,
// so the rule "an unreachable detached subtree is freed" holds at each one.
void UnlinkWrapped(xmlNode* node) {
    xmlNode* formerTop = node->parent == nullptr ? nullptr : TopOf(node->parent);
    xmlUnlinkNode(node);
    if (formerTop != nullptr) FreeIfUnwrapped(formerTop);
}

}  // namespace

void Remove(xmlNode* node) {
    if (!HasWrapperInside(node)) {
        xmlUnlinkNode(node);  // unlinks only (attributes from `properties` too)
        FreeDetached(node);   // xmlFreeProp drops ID entries itself
        return;
    }
    // Prepared while still linked, so a failure (it may allocate) leaves the
    // node where it was; the declarations it adds are redundant there.
    MakeSelfContained(node);
    NoteWrappedSubtreeDetached(node);
    UnlinkWrapped(node);
}

void MakeSelfContained(xmlNode* node) {
    UnregisterIds(node);
    if (node->type == XML_ATTRIBUTE_NODE) {
        if (node->ns != nullptr && !IsXmlPrefix(node->ns->prefix) && node->doc != nullptr) {
            node->ns = StoredNamespace(node->doc, node->ns);
        }
    } else if (node->type == XML_ELEMENT_NODE) {
        DeclareInheritedNamespaces(node);
    }
}

void LinkChild(xmlNode* parent, xmlNode* child, xmlNode* before) {
    child->parent = parent;
    if (before != nullptr) {
        child->next = before;
        child->prev = before->prev;
        if (before->prev != nullptr) {
            before->prev->next = child;
        } else {
            parent->children = child;
        }
        before->prev = child;
        return;
    }
    child->next = nullptr;
    child->prev = parent->last;
    if (parent->last != nullptr) {
        parent->last->next = child;
    } else {
        parent->children = child;
    }
    parent->last = child;
}

void LinkAttribute(xmlNode* element, xmlAttr* attr, xmlAttr* old) {
    auto* oldNode = reinterpret_cast<xmlNode*>(old);
    const bool keepOld = old != nullptr && HasWrapperInside(oldNode);
    if (keepOld) MakeSelfContained(oldNode);  // may throw: nothing changed yet
    attr->parent = element;
    if (old != nullptr) {
        attr->prev = old->prev;
        attr->next = old->next;
        if (old->prev != nullptr) {
            old->prev->next = attr;
        } else {
            element->properties = attr;
        }
        if (old->next != nullptr) old->next->prev = attr;
        old->prev = old->next = nullptr;
        old->parent = nullptr;
        if (keepOld) NoteWrappedSubtreeDetached(oldNode);
        if (!keepOld) FreeDetached(oldNode);
    } else {
        attr->next = nullptr;
        attr->prev = nullptr;
        if (element->properties == nullptr) {
            element->properties = attr;
        } else {
            xmlAttr* last = element->properties;
            while (last->next != nullptr) last = last->next;
            last->next = attr;
            attr->prev = last;
        }
    }
    RegisterIds(reinterpret_cast<xmlNode*>(attr));
}

void RegisterIds(xmlNode* root) {
    xmlDoc* doc = root->doc;
    if (doc == nullptr) return;
    ForEachInSubtree(root, [doc](xmlNode* node) {
        if (node->type != XML_ATTRIBUTE_NODE || node->parent == nullptr) return;
        auto* attr = reinterpret_cast<xmlAttr*>(node);
        if (attr->atype == XML_ATTRIBUTE_ID || xmlIsID(doc, node->parent, attr) == 1) {
            AddIdQuietly(doc, attr);
        }
    });
}

namespace {

// Every node of a subtree in document order, attributes and their text included.
std::vector<xmlNode*> Flatten(xmlNode* root) {
    std::vector<xmlNode*> nodes;
    ForEachInSubtree(root, [&nodes](xmlNode* node) { nodes.push_back(node); });
    return nodes;
}

bool SameText(const xmlChar* a, const xmlChar* b) {
    return xmlStrEqual(a, b) != 0;
}

// True when `copy` holds everything `original` does (names, values,
// namespaces), node for node.
bool IsCompleteCopy(xmlNode* original, xmlNode* copy, bool deep) {
    std::vector<xmlNode*> from = Flatten(original);
    std::vector<xmlNode*> to = Flatten(copy);
    if (!deep) {
        // A shallow copy of an element keeps its attributes only.
        size_t kept = 1;
        while (kept < from.size() && (from[kept]->type == XML_ATTRIBUTE_NODE ||
                                      from[kept]->parent->type == XML_ATTRIBUTE_NODE)) {
            ++kept;
        }
        from.resize(kept);
    }
    if (from.size() != to.size()) return false;
    for (size_t i = 0; i < from.size(); ++i) {
        const xmlNode* a = from[i];
        const xmlNode* b = to[i];
        if (a->type != b->type) return false;
        const bool named = a->type == XML_ELEMENT_NODE || a->type == XML_ATTRIBUTE_NODE ||
                           a->type == XML_PI_NODE || a->type == XML_ENTITY_REF_NODE;
        if (named && !SameText(a->name, b->name)) return false;
        // An entity reference's content is its entity's, which a copy in
        // another document finds there (or not) by name.
        if (a->type != XML_ELEMENT_NODE && a->type != XML_ATTRIBUTE_NODE &&
            a->type != XML_ENTITY_REF_NODE && !SameText(a->content, b->content)) {
            return false;
        }
        if ((a->ns == nullptr) != (b->ns == nullptr)) return false;
        if (a->ns != nullptr && !SameText(a->ns->href, b->ns->href)) return false;
        if (a->type == XML_ELEMENT_NODE) {
            const xmlNs* x = a->nsDef;
            const xmlNs* y = b->nsDef;
            for (; x != nullptr && y != nullptr; x = x->next, y = y->next) {
                if (!SameText(x->href, y->href) || !SameText(x->prefix, y->prefix)) return false;
            }
            if (x != nullptr) return false;
        }
    }
    return true;
}

// The names of text and comment nodes must be libxml2's own constants: it
// never frees them, so a copy made without a dictionary would leak its own.
void UseConstantNames(xmlNode* root) {
    xmlDict* dict = root->doc == nullptr ? nullptr : root->doc->dict;
    ForEachInSubtree(root, [dict](xmlNode* node) {
        const xmlChar* constant = nullptr;
        if (node->type == XML_TEXT_NODE) {
            constant =
                xmlStrEqual(node->name, xmlStringTextNoenc) ? xmlStringTextNoenc : xmlStringText;
        } else if (node->type == XML_COMMENT_NODE) {
            constant = xmlStringComment;
        }
        if (constant == nullptr || node->name == constant || node->name == nullptr) return;
        if (dict == nullptr || xmlDictOwns(dict, node->name) != 1) {
            xmlFree(const_cast<xmlChar*>(node->name));
        }
        node->name = constant;
    });
}

}  // namespace

namespace {

// Copies element trees by hand, iteratively. libxml2's copies do not serve:
// xmlCopyNode recurses (the stack overflows between 40,000 and 60,000
// levels), and xmlDOMWrapCloneNode, though iterative, leaks a node and frees
// a namespace twice on its error paths when memory runs out. Every
// allocation here is checked; a failure throws std::bad_alloc.
class TreeCopier {
  public:
    explicit TreeCopier(xmlDoc* dst) : dst_(dst) {}

    // The copy of `root` (its subtree too when `deep`), detached; namespaces
    // from outside the subtree are declared on the copy's root.
    xmlNode* Copy(xmlNode* root, bool deep) {
        root_ = nullptr;
        try {
            root_ = Shell(root);
            if (deep) CopyChildren(root);
            DeclareInheritedNamespaces(root_);
        } catch (...) {
            if (root_ != nullptr) FreeDetached(root_);
            throw;
        }
        return root_;
    }

  private:
    void CopyChildren(xmlNode* root) {
        if (root->type != XML_ELEMENT_NODE) return;
        xmlNode* from = root->children;
        xmlNode* into = root_;  // the copy of from->parent
        while (from != nullptr) {
            xmlNode* made = Shell(from);
            LinkChild(into, made, nullptr);
            if (from->type == XML_ELEMENT_NODE && from->children != nullptr) {
                from = from->children;
                into = made;
                continue;
            }
            while (from->next == nullptr) {
                from = from->parent;
                if (from == root) return;
                into = into->parent;
            }
            from = from->next;
        }
    }

    // One node without its children: an element with its declarations and
    // attributes, or a leaf.
    xmlNode* Shell(xmlNode* node) {
        switch (node->type) {
            case XML_ELEMENT_NODE:
                return ElementShell(node);
            case XML_TEXT_NODE: {
                xmlNode* made =
                    Made(xmlNewDocTextLen(dst_, node->content, xmlStrlen(node->content)));
                if (node->name == xmlStringTextNoenc) made->name = xmlStringTextNoenc;
                return made;
            }
            case XML_CDATA_SECTION_NODE:
                return Made(xmlNewCDataBlock(dst_, node->content, xmlStrlen(node->content)));
            case XML_COMMENT_NODE:
                return Made(xmlNewDocComment(dst_, node->content));
            case XML_PI_NODE:
                return Made(xmlNewDocPI(dst_, node->name, node->content));
            default: {
                ErrorSilencer quiet;
                return Made(xmlDocCopyNode(node, dst_, 1));
            }
        }
    }

    xmlNode* ElementShell(xmlNode* node) {
        xmlNode* made = Made(xmlNewDocNode(dst_, nullptr, node->name, nullptr));
        try {
            for (xmlNs* ns = node->nsDef; ns != nullptr; ns = ns->next) {
                xmlNs* copy = NewNamespace(made, ns->href, ns->prefix);
                if (ns->_private == kInheritedDeclaration) copy->_private = kInheritedDeclaration;
                copied_[ns] = copy;
            }
            made->ns = Mapped(node->ns, made);
            for (xmlAttr* attr = node->properties; attr != nullptr; attr = attr->next) {
                xmlNode* copy =
                    Made(reinterpret_cast<xmlNode*>(xmlNewDocProp(dst_, attr->name, nullptr)));
                AppendAttribute(made, reinterpret_cast<xmlAttr*>(copy));
                copy->ns = Mapped(attr->ns, made);
                for (xmlNode* text = attr->children; text != nullptr; text = text->next) {
                    LinkChild(copy, Shell(text), nullptr);
                }
            }
        } catch (...) {
            xmlFreeNode(made);
            throw;
        }
        return made;
    }

    static void AppendAttribute(xmlNode* element, xmlAttr* attr) {
        attr->parent = element;
        if (element->properties == nullptr) {
            element->properties = attr;
            return;
        }
        xmlAttr* last = element->properties;
        while (last->next != nullptr) last = last->next;
        last->next = attr;
        attr->prev = last;
    }

    // The copy's namespace for the original's `ns`: the copied declaration,
    // the target's own XML namespace, or (declared outside the subtree) the
    // original for now, re-declared on the copy's root at the end.
    xmlNs* Mapped(xmlNs* ns, xmlNode* at) {
        if (ns == nullptr) return nullptr;
        auto found = copied_.find(ns);
        if (found != copied_.end()) return found->second;
        if (IsXmlPrefix(ns->prefix)) {
            xmlNs* xmlNamespace = xmlSearchNs(dst_, at, ns->prefix);
            if (xmlNamespace == nullptr) throw std::bad_alloc();
            return xmlNamespace;
        }
        return ns;
    }

    static xmlNode* Made(xmlNode* created) {
        xmlNode* whole = Whole(created);
        if (whole == nullptr) throw std::bad_alloc();
        return whole;
    }

    xmlDoc* dst_;
    xmlNode* root_ = nullptr;
    std::unordered_map<const xmlNs*, xmlNs*> copied_;
};

// One copy, checked; see CopySubtree.
xmlNode* CopyChecked(xmlNode* root, xmlDoc* dst, bool deep) {
    xmlNode* copy = nullptr;
    try {
        if (root->type == XML_ELEMENT_NODE) {
            copy = TreeCopier(dst).Copy(root, deep);
        } else {
            // A leaf, or an attribute with its text: the plain copy is shallow
            // enough. It drops an attribute's namespace, put back below.
            ErrorSilencer quiet;
            copy = xmlDocCopyNode(root, dst, 1);
        }
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    if (copy == nullptr) return nullptr;
    copy->parent = nullptr;
    try {
        UseConstantNames(copy);
        if (copy->type == XML_ATTRIBUTE_NODE && root->ns != nullptr) {
            copy->ns = root->doc == dst ? root->ns : StoredNamespace(dst, root->ns);
        }
        MakeSelfContained(copy);
        if (IsCompleteCopy(root, copy, deep)) return copy;
    } catch (const std::bad_alloc&) {
    }
    FreeDetached(copy);
    return nullptr;
}

}  // namespace

xmlNode* CopySubtree(xmlNode* root, xmlDoc* dst, bool deep) {
    return CopyChecked(root, dst, deep);
}

HRESULT MoveToDocument(xmlNode* root, xmlDoc* dst, xmlNode** moved) {
    *moved = root;
    xmlDoc* src = root->doc;
    if (src == dst) return S_OK;
    xmlNode* copy = CopySubtree(root, dst, true);
    if (copy == nullptr) return E_OUTOFMEMORY;
    std::vector<xmlNode*> from;
    std::vector<xmlNode*> to;
    try {
        from = Flatten(root);
        to = Flatten(copy);
    } catch (const std::bad_alloc&) {
        FreeDetached(copy);
        return E_OUTOFMEMORY;
    }
    // Nothing below fails: hand every wrapper to its copy.
    DocState& fromState = StateOf(src);
    DocState& toState = StateOf(dst);
    DocumentObject* previousOwner = fromState.owner;
    size_t handedOver = 0;
    for (size_t i = 0; i < from.size(); ++i) {
        WrapperCore* wrapper = WrapperOf(from[i]);
        if (wrapper == nullptr) continue;
        wrapper->Retarget(to[i]);
        wrapper->Repoint(toState.owner);  // adds a reference to the new owner
        ++handedOver;
    }
    fromState.wrappers -= handedOver;
    toState.wrappers += handedOver;
    // Its wrappers went to the copy: the rest of a detached subtree it leaves
    // may have had no other, and goes too.
    UnlinkWrapped(root);
    FreeDetached(root);  // no wrapper points into it any more
    if (fromState.retired && fromState.wrappers == 0) FreeDocWithState(src);
    for (size_t i = 0; i < handedOver; ++i) previousOwner->Release();
    *moved = copy;
    return S_OK;
}

xmlNs* FindInScope(xmlNode* start, const xmlChar* prefix) {
    if (IsXmlPrefix(prefix)) {
        return start->doc == nullptr ? nullptr : xmlSearchNs(start->doc, start, prefix);
    }
    for (xmlNode* node = start; node != nullptr; node = node->parent) {
        if (node->type != XML_ELEMENT_NODE) continue;
        for (xmlNs* ns = node->nsDef; ns != nullptr; ns = ns->next) {
            if (xmlStrEqual(ns->prefix, prefix)) return ns;
        }
    }
    return nullptr;
}

bool ReachesDepth(const xmlNode* node, size_t depth, size_t levels) {
    if (depth >= levels) return true;
    // Through the subtree, iteratively, counting how far below `node` it is.
    size_t below = 0;
    const xmlNode* cur = node;
    while (true) {
        if (depth + below >= levels) return true;
        if (HasOwnChildren(cur) && cur->children != nullptr) {
            cur = cur->children;
            ++below;
            continue;
        }
        while (cur != node && cur->next == nullptr) {
            cur = cur->parent;
            --below;
        }
        if (cur == node) return false;
        cur = cur->next;
    }
}

void DropInheritedDeclarationsInScope(xmlNode* child) {
    if (child->type != XML_ELEMENT_NODE || child->parent == nullptr) return;
    xmlNs** link = &child->nsDef;
    while (*link != nullptr) {
        xmlNs* declaration = *link;
        xmlNs* outer = declaration->_private == kInheritedDeclaration
                           ? FindInScope(child->parent, declaration->prefix)
                           : nullptr;
        if (outer == nullptr || !xmlStrEqual(outer->href, declaration->href)) {
            link = &declaration->next;
            continue;
        }
        ForEachInSubtree(child, [declaration, outer](xmlNode* node) {
            if ((node->type == XML_ELEMENT_NODE || node->type == XML_ATTRIBUTE_NODE) &&
                node->ns == declaration) {
                node->ns = outer;
            }
        });
        *link = declaration->next;
        declaration->next = nullptr;
        xmlFreeNs(declaration);
    }
}

bool NamespaceInUse(xmlNode* element, const xmlNs* ns) {
    return FindInSubtree(element, [ns](xmlNode* node) {
               return (node->type == XML_ELEMENT_NODE || node->type == XML_ATTRIBUTE_NODE) &&
                      node->ns == ns;
           }) != nullptr;
}

xmlNode* NewText(xmlDoc* doc, const std::string& text) {
    constexpr size_t kInline = 2 * sizeof(void*);  // `properties` and `nsDef`
    if (text.size() >= kInline) {
        return Whole(xmlNewDocTextLen(doc, ToXml(text.c_str()), static_cast<int>(text.size())));
    }
    xmlNode* node = xmlNewDocTextLen(doc, nullptr, 0);
    if (node == nullptr) return nullptr;
    auto* inside = reinterpret_cast<xmlChar*>(&node->properties);
    std::memcpy(inside, text.data(), text.size());
    inside[text.size()] = '\0';
    node->content = inside;
    return node;
}

void ReplaceChildrenWithText(xmlNode* parent, const std::string& text) {
    xmlNode* replacement = nullptr;
    if (!text.empty()) {
        replacement = NewText(parent->doc, text);
        if (replacement == nullptr) throw std::bad_alloc();
    }
    while (parent->children != nullptr) Remove(parent->children);
    if (replacement != nullptr) LinkChild(parent, replacement, nullptr);
}

void SetLeafContent(xmlNode* node, const std::string& text) {
    // By hand rather than xmlNodeSetContent, which frees the old content
    // before it knows the new one could be copied.
    xmlChar* fresh = xmlStrndup(ToXml(text.c_str()), static_cast<int>(text.size()));
    if (fresh == nullptr) throw std::bad_alloc();
    xmlChar* old = node->content;
    const bool inline_ = old == reinterpret_cast<xmlChar*>(&node->properties);
    const bool inDict = node->doc != nullptr && node->doc->dict != nullptr && old != nullptr &&
                        xmlDictOwns(node->doc->dict, old) == 1;
    if (old != nullptr && !inline_ && !inDict) xmlFree(old);
    node->properties = nullptr;  // held the text inline for some parsed nodes
    node->content = fresh;
}

void SetAttributeValue(xmlAttr* attr, const std::string& value) {
    auto* node = reinterpret_cast<xmlNode*>(attr);
    const bool wasId = attr->atype == XML_ATTRIBUTE_ID;
    if (wasId && attr->doc != nullptr) xmlRemoveID(attr->doc, attr);
    ReplaceChildrenWithText(node, value);
    if (attr->parent != nullptr && attr->doc != nullptr &&
        (wasId || xmlIsID(attr->doc, attr->parent, attr) == 1)) {
        AddIdQuietly(attr->doc, attr);
    }
}

}  // namespace xmlutil::xmldom::tree
