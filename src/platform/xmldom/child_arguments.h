// SPDX-License-Identifier: MIT
// The checks of the node arguments of the child operations (appendChild,
// insertBefore, removeChild, replaceChild): which node may be placed where,
// and which node counts as a child of a parent. libxml2's fields alone do
// not tell: an attribute's `parent` is its element, though it is not in the
// element's list of children, and linking it there frees it twice later.
// Every operation that takes a node argument checks it here, before it
// changes anything.
#pragma once

#include "platform/xmldom/dom_node.h"

namespace xmlutil::xmldom::childargs {

// The XML declaration: a processing instruction with target "xml".
bool IsDeclaration(const xmlNode* node);
// An element or the document node.
bool CanHoldChildren(const xmlNode* node);
// The kinds a caller may place as a child: element, text, CDATA, comment,
// processing instruction.
bool CanBeChild(const xmlNode* node);
// True when `node` is in `parent`'s list of children.
bool IsChildOf(const xmlNode* node, const xmlNode* parent);

// S_OK when `child` may be placed under `parent` in front of `before` (last
// when null), once `leaving` (a child of `parent` the same operation takes
// out, or null) is gone. E_INVALIDARG when `before` is not a child of
// `parent`; E_FAIL when the parent cannot hold children, the child is of a
// kind that is no child, is the parent or one of its ancestors, or would
// break the rules of a document's top level or of the declaration.
HRESULT CheckPlacement(const xmlNode* parent, const xmlNode* child, const xmlNode* before,
                       const xmlNode* leaving);
// S_OK when `child` is a child of `parent` that may be taken out (what
// removeChild and the old child of replaceChild need). E_FAIL when the
// parent cannot hold children, E_INVALIDARG otherwise.
HRESULT CheckRemoval(const xmlNode* parent, const xmlNode* child);

}  // namespace xmlutil::xmldom::childargs
