// SPDX-License-Identifier: MIT
// Where a node stands in its tree, as an insertion needs to know it: how
// many levels lie above it, the top of its tree, and where a lookup of a
// namespace prefix in scope starts. Walking up for each answer costs the
// depth of the tree per insertion, so a tree built level by level through
// the DOM cost the square of its depth; the last insertion's answers are
// kept for the next one.
#pragma once

#include <cstdint>

#include "platform/xmldom/engine/xml_ptr.h"

namespace xmlutil::xmldom {

struct Placement {
    const xmlNode* node = nullptr;
    // The owner's generation the answers were recorded at: any change since
    // (a move, a removal, a declaration) may have made them wrong.
    uint64_t generation = 0;
    size_t depth = 0;             // parent links from the node to the top
    xmlNode* top = nullptr;       // the top of its tree: the xmlDoc, or a detached node
    xmlNode* declares = nullptr;  // the nearest element at or above it with declarations
};

// The two answers kept per xmlDoc: for the parent of the last insertion (a
// flat list built under one parent) and for the node it placed (a tree
// built level by level).
struct PlacementMemo {
    Placement parent;
    Placement placed;
};

// Where `node` (an element, a document or a fragment of a document with
// bookkeeping) stands; `generation` is its owner's present one.
Placement PlacementOf(xmlNode* node, uint64_t generation);

// Records that `child` was just linked under the node `parent` describes,
// and that the owner's generation is now `generation`.
void NotePlaced(const Placement& parent, xmlNode* child, uint64_t generation);

// Keeps the kept answers valid across a change from generation `before` to
// `after` that linked, unlinked or freed no element and declared nothing.
void NoteValuesChanged(xmlDoc* doc, uint64_t before, uint64_t after);

// Keeps what stays valid across a change from generation `before` to
// `after` that replaced the children of `element` and changed nothing else:
// where `element` stands, and its parent; anything below it may be gone.
void NoteChildrenReplaced(const xmlNode* element, uint64_t before, uint64_t after);

// The declaration of `prefix` (null: the default namespace) in scope at the
// node `at` describes, or null.
xmlNs* InScopeAt(const Placement& at, const xmlChar* prefix);

}  // namespace xmlutil::xmldom
