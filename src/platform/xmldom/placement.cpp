// SPDX-License-Identifier: MIT
#include "platform/xmldom/placement.h"

#include "platform/xmldom/dom_node.h"
#include "platform/xmldom/tree.h"

namespace xmlutil::xmldom {

namespace {

bool Declares(const xmlNode* node) {
    return node->type == XML_ELEMENT_NODE && node->nsDef != nullptr;
}

// The walk the kept answers save: once to the top.
Placement Walked(xmlNode* node, uint64_t generation) {
    Placement at;
    at.node = node;
    at.generation = generation;
    at.top = node;
    for (xmlNode* up = node; up != nullptr; up = up->parent) {
        if (at.declares == nullptr && Declares(up)) at.declares = up;
        if (up->parent == nullptr) {
            at.top = up;
        } else {
            ++at.depth;
        }
    }
    return at;
}

bool Holds(const Placement& kept, const xmlNode* node, uint64_t generation) {
    return kept.node == node && kept.generation == generation;
}

}  // namespace

Placement PlacementOf(xmlNode* node, uint64_t generation) {
    const PlacementMemo& memo = StateOf(node->doc).placements;
    if (Holds(memo.placed, node, generation)) return memo.placed;
    if (Holds(memo.parent, node, generation)) return memo.parent;
    return Walked(node, generation);
}

void NotePlaced(const Placement& parent, xmlNode* child, uint64_t generation) {
    PlacementMemo& memo = StateOf(child->doc).placements;
    memo.parent = parent;
    memo.parent.generation = generation;
    // Only an element can be the parent of the next insertion.
    if (child->type != XML_ELEMENT_NODE) {
        memo.placed = Placement();
        return;
    }
    memo.placed.node = child;
    memo.placed.generation = generation;
    memo.placed.depth = parent.depth + 1;
    memo.placed.top = parent.top;
    memo.placed.declares = Declares(child) ? child : parent.declares;
}

void NoteValuesChanged(xmlDoc* doc, uint64_t before, uint64_t after) {
    PlacementMemo& memo = StateOf(doc).placements;
    if (memo.parent.generation == before) memo.parent.generation = after;
    if (memo.placed.generation == before) memo.placed.generation = after;
}

void NoteChildrenReplaced(const xmlNode* element, uint64_t before, uint64_t after) {
    PlacementMemo& memo = StateOf(element->doc).placements;
    const bool placedValid = Holds(memo.placed, element, before);
    const bool parentValid = placedValid || Holds(memo.parent, element, before);
    // The placed node is a child of the parent: gone when the parent's
    // children were replaced; the parent lies above it, untouched.
    if (placedValid) {
        memo.placed.generation = after;
    } else {
        memo.placed = Placement();
    }
    if (parentValid && memo.parent.generation == before) {
        memo.parent.generation = after;
    } else {
        memo.parent = Placement();
    }
}

xmlNs* InScopeAt(const Placement& at, const xmlChar* prefix) {
    if (at.declares != nullptr) return tree::FindInScope(at.declares, prefix);
    // Nothing is declared at or above the node: only "xml" is bound there.
    const bool xmlPrefix = prefix != nullptr && xmlStrEqual(prefix, ToXml("xml"));
    return xmlPrefix ? tree::FindInScope(const_cast<xmlNode*>(at.node), prefix) : nullptr;
}

}  // namespace xmlutil::xmldom
