// SPDX-License-Identifier: MIT
// Tree surgery over libxml2 that never frees a node a wrapper points to.
//
// libxml2's own linking functions are not used for nodes that may have
// wrappers: xmlAddChild, xmlAddNextSibling, xmlAddPrevSibling and
// xmlAddChildList merge adjacent text nodes and free the node passed in;
// xmlNodeSetContent frees the children and parses entity references;
// xmlSetProp frees the children of a replaced attribute; xmlDOMWrapRemoveNode
// leaves namespace pointers dangling. Nodes are linked and unlinked here by
// hand (parent, prev, next, the parent's children/last or properties).
#pragma once

#include <string>

#include "platform/xmldom/dom_node.h"

namespace xmlutil::xmldom::tree {

// True for the node types whose `children` list is theirs to walk (not an
// entity reference, whose children belong to the entity, nor a DTD).
bool HasOwnChildren(const xmlNode* node);

// The first node, in document order, of `root` and everything below it
// (children, attributes and the attributes' children) for which `match`
// holds; null when none. Iterative, so any depth is fine.
template <class Match>
xmlNode* FindInSubtree(xmlNode* root, Match&& match) {
    xmlNode* cur = root;
    while (cur != nullptr) {
        if (match(cur)) return cur;
        if (cur->type == XML_ELEMENT_NODE) {
            for (xmlAttr* attr = cur->properties; attr != nullptr; attr = attr->next) {
                if (match(reinterpret_cast<xmlNode*>(attr)))
                    return reinterpret_cast<xmlNode*>(attr);
                for (xmlNode* text = attr->children; text != nullptr; text = text->next) {
                    if (match(text)) return text;
                }
            }
        }
        if (HasOwnChildren(cur) && cur->children != nullptr) {
            cur = cur->children;
            continue;
        }
        while (cur != root && cur->next == nullptr) cur = cur->parent;
        if (cur == root) break;
        cur = cur->next;
    }
    return nullptr;
}

// Visits `root` and every node below it in document order.
template <class Visit>
void ForEachInSubtree(xmlNode* root, Visit&& visit) {
    FindInSubtree(root, [&visit](xmlNode* node) {
        visit(node);
        return false;
    });
}

bool HasWrapperInside(xmlNode* root);

// Frees the detached subtree topped by `top` when no wrapper points into it.
void FreeIfUnwrapped(xmlNode* top);
// Called when the wrapper of `node` went away: frees the detached subtree
// holding it when nothing else wraps a node in it.
void ReleaseIfUnreachable(xmlNode* node);
// Records in the node's document that a subtree holding wrappers leaves the
// tree (see DocState::wrappedNodeDetached). Every such detach goes through it.
void NoteWrappedSubtreeDetached(const xmlNode* node);

// The root of the tree holding `node` (an attribute's root is its element's).
inline xmlNode* TopOf(xmlNode* node) {
    while (node->parent != nullptr) node = node->parent;
    return node;
}

// Unlinks `node` (a child or an attribute) and either frees it at once, when
// no wrapper points into it, or leaves it standing alone: namespaces it used
// from its former ancestors declared on itself, its IDs unregistered.
void Remove(xmlNode* node);

// Prepares a detached node (a removed one, a fresh copy) to stand alone:
// declares on it the namespaces it uses from outside, unregisters its IDs.
void MakeSelfContained(xmlNode* node);

// Links the detached `child` under `parent`, before `before` (last when null).
void LinkChild(xmlNode* parent, xmlNode* child, xmlNode* before);
// Links the detached attribute under `element`, taking the place of `old`
// (which is then removed as Remove does) or appended after the others.
void LinkAttribute(xmlNode* element, xmlAttr* attr, xmlAttr* old);

// Registers the ID attributes (xml:id, DTD-declared IDs) of a subtree just
// linked into its document.
void RegisterIds(xmlNode* root);

// A detached, self-contained copy of `root` (with its subtree when `deep`)
// made in `dst`, checked to be complete: libxml2's copying functions drop
// parts silently when memory runs out. Null when it cannot be made.
xmlNode* CopySubtree(xmlNode* root, xmlDoc* dst, bool deep);

// Moves `root` (wherever it is) into `dst` as a detached subtree: a complete
// copy is made there first, every wrapper inside moves to its copy (so
// handles keep their identity), then the original is removed and freed.
// On failure nothing has changed. `moved` receives the node that now stands
// for `root`.
HRESULT MoveToDocument(xmlNode* root, xmlDoc* dst, xmlNode** moved);

// The namespace bound to `prefix` (null: the default one) in scope at
// `start`: declarations on `start` and its ancestors; "xml" always.
xmlNs* FindInScope(xmlNode* start, const xmlChar* prefix);
// True when `node`, `depth` levels below the top of its tree, or something
// below it lies `levels` or more below that top. Walks through the subtree
// when it has children, and stops once `levels` is reached.
bool ReachesDepth(const xmlNode* node, size_t depth, size_t levels);
// Drops the declarations `child`, just linked under its parent, holds only
// because it was detached (see MakeSelfContained) where the parent's scope
// binds the same prefix to the same namespace: a copy or a re-inserted node
// shows the declarations it had in its place, not extra ones.
void DropInheritedDeclarationsInScope(xmlNode* child);
// True when `ns` is used by `element` or a node below it.
bool NamespaceInUse(xmlNode* element, const xmlNs* ns);

// Replaces the children of an element or attribute by one literal text node
// (none for ""). Throws std::bad_alloc with nothing changed.
void ReplaceChildrenWithText(xmlNode* parent, const std::string& text);
// `created` when libxml2 made it whole; otherwise (its constructors leave a
// name or content null when a copy fails) frees it and answers null.
xmlNode* Whole(xmlNode* created);
// A new text node of `doc` holding `text` literally (no entity parsing), or
// null when out of memory. A text shorter than two pointers is kept inside
// the node, where the parser keeps short texts (XML_PARSE_COMPACT): one
// allocation instead of two for the short values most edits write.
xmlNode* NewText(xmlDoc* doc, const std::string& text);
// xmlNewNs, whose copies of the URI and prefix are checked. Throws
// std::bad_alloc with nothing declared.
xmlNs* NewNamespace(xmlNode* element, const xmlChar* href, const xmlChar* prefix);

// Replaces the content of a text, CDATA, comment or PI node literally.
// Throws std::bad_alloc with nothing changed.
void SetLeafContent(xmlNode* node, const std::string& text);
// Sets an attribute's value literally, keeping the document's ID table right.
void SetAttributeValue(xmlAttr* attr, const std::string& value);

}  // namespace xmlutil::xmldom::tree
