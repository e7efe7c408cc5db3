// SPDX-License-Identifier: MIT
#include "platform/xmldom/tree.h"

#include <libxml/parserInternals.h>
#include <libxml/valid.h>

#include <string>
#include <unordered_map>
#include <unordered_set>

#include "platform/xmldom/document_object.h"
#include "platform/xmldom/error_guard.h"

namespace xmlutil::xmldom::tree {

namespace {

bool IsXmlPrefix(const xmlChar* prefix) {
    return prefix != nullptr && xmlStrEqual(prefix, ToXml("xml"));
}

void FreeDetached(xmlNode* top) {
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
    xmlNs* made = xmlNewNs(nullptr, ns->href, ns->prefix);
    if (made == nullptr) throw std::bad_alloc();
    last->next = made;
    return made;
}

bool DeclaredOn(const xmlNode* element, const xmlChar* prefix) {
    for (const xmlNs* ns = element->nsDef; ns != nullptr; ns = ns->next) {
        if (xmlStrEqual(ns->prefix, prefix)) return true;
    }
    return false;
}

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
        if (made == nullptr && !prefixTaken) made = xmlNewNs(root, ns->href, ns->prefix);
        for (int counter = 1; made == nullptr && prefixTaken; ++counter) {
            const std::string fresh = "ns" + std::to_string(counter);
            if (DeclaredOn(root, ToXml(fresh.c_str()))) continue;
            made = xmlNewNs(root, ns->href, ToXml(fresh.c_str()));
            if (made == nullptr) break;
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

// After adoption no string of the moved subtree may stay in the source
// document's dictionary: it goes away with that document, and the target
// would free it as its own. xmlDOMWrapAdoptNode misses some (the names a
// clone of a comment takes from the dictionary, for one), so every name and
// content is checked here.
void TakeStringsOutOf(xmlDict* sourceDict, xmlNode* root) {
    xmlDict* targetDict = root->doc->dict;
    if (sourceDict == nullptr || sourceDict == targetDict) return;
    auto own = [targetDict](const xmlChar* text) {
        const xmlChar* copy =
            targetDict != nullptr ? xmlDictLookup(targetDict, text, -1) : xmlStrdup(text);
        if (copy == nullptr) throw std::bad_alloc();
        return copy;
    };
    ForEachInSubtree(root, [&](xmlNode* node) {
        if (node->name != nullptr && xmlDictOwns(sourceDict, node->name) == 1) {
            // libxml2 never frees the names of text and comment nodes: they
            // must be its own constants.
            if (node->type == XML_TEXT_NODE) {
                node->name = xmlStrEqual(node->name, xmlStringTextNoenc) ? xmlStringTextNoenc
                                                                         : xmlStringText;
            } else if (node->type == XML_COMMENT_NODE) {
                node->name = xmlStringComment;
            } else {
                node->name = own(node->name);
            }
        }
        const bool hasContent = node->type == XML_TEXT_NODE ||
                                node->type == XML_CDATA_SECTION_NODE ||
                                node->type == XML_COMMENT_NODE || node->type == XML_PI_NODE;
        if (hasContent && node->content != nullptr && xmlDictOwns(sourceDict, node->content) == 1) {
            node->content = const_cast<xmlChar*>(own(node->content));
        }
    });
}

}  // namespace

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
    bool found = false;
    ForEachInSubtree(root, [&found](xmlNode* node) {
        if (WrapperOf(node) != nullptr) found = true;
    });
    return found;
}

xmlNode* TopOf(xmlNode* node) {
    while (node->parent != nullptr) node = node->parent;
    return node;
}

void FreeIfUnwrapped(xmlNode* top) {
    if (top->parent == nullptr && top->type != XML_DOCUMENT_NODE && !HasWrapperInside(top)) {
        FreeDetached(top);
    }
}

void ReleaseIfUnreachable(xmlNode* node) {
    FreeIfUnwrapped(TopOf(node));
}

void Remove(xmlNode* node) {
    xmlUnlinkNode(node);  // unlinks only (attributes from `properties` too); frees nothing
    if (!HasWrapperInside(node)) {
        FreeDetached(node);  // xmlFreeProp drops ID entries itself
        return;
    }
    MakeSelfContained(node);
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
        // Now detached: treat it as any removed node (it may still be wrapped).
        auto* oldNode = reinterpret_cast<xmlNode*>(old);
        if (HasWrapperInside(oldNode)) {
            if (old->atype == XML_ATTRIBUTE_ID && old->doc != nullptr) xmlRemoveID(old->doc, old);
            if (old->ns != nullptr && !IsXmlPrefix(old->ns->prefix) && old->doc != nullptr) {
                old->ns = StoredNamespace(old->doc, old->ns);
            }
        } else {
            FreeDetached(oldNode);
        }
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

HRESULT MoveToDocument(xmlNode* root, xmlDoc* dst) {
    xmlDoc* src = root->doc;
    if (src == dst) return S_OK;
    {
        ErrorSilencer quiet;
        // With no destination parent the subtree stays self-contained: the
        // namespaces it uses are declared inside it (Remove saw to that) or
        // stored in dst's document-wide list for a lone attribute.
        if (xmlDOMWrapAdoptNode(nullptr, src, root, dst, nullptr, 0) != 0) return E_FAIL;
    }
    TakeStringsOutOf(src->dict, root);
    DocState& from = StateOf(src);
    DocState& to = StateOf(dst);
    size_t moved = 0;
    ForEachInSubtree(root, [&](xmlNode* node) {
        if (WrapperCore* wrapper = WrapperOf(node)) {
            wrapper->Repoint(to.owner);  // adds a reference to the new owner
            ++moved;
        }
    });
    from.wrappers -= moved;
    to.wrappers += moved;
    DocumentObject* previousOwner = from.owner;
    if (from.retired && from.wrappers == 0) FreeDocWithState(src);
    for (size_t i = 0; i < moved; ++i) previousOwner->Release();
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

bool NamespaceInUse(xmlNode* element, const xmlNs* ns) {
    bool used = false;
    ForEachInSubtree(element, [&](xmlNode* node) {
        if ((node->type == XML_ELEMENT_NODE || node->type == XML_ATTRIBUTE_NODE) &&
            node->ns == ns) {
            used = true;
        }
    });
    return used;
}

void ReplaceChildrenWithText(xmlNode* parent, const std::string& text) {
    xmlNode* replacement = nullptr;
    if (!text.empty()) {
        // xmlNewDocTextLen takes the text literally (no entity parsing).
        replacement =
            xmlNewDocTextLen(parent->doc, ToXml(text.c_str()), static_cast<int>(text.size()));
        if (replacement == nullptr) throw std::bad_alloc();
    }
    while (parent->children != nullptr) Remove(parent->children);
    if (replacement != nullptr) LinkChild(parent, replacement, nullptr);
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
