// SPDX-License-Identifier: MIT
#include "platform/xmldom/child_arguments.h"

namespace xmlutil::xmldom::childargs {

namespace {

// The kinds libxml2 keeps in a list of children (an element's or the
// document's). Attributes, namespaces and the document are not among them.
bool SitsInChildList(const xmlNode* node) {
    switch (node->type) {
        case XML_ELEMENT_NODE:
        case XML_TEXT_NODE:
        case XML_CDATA_SECTION_NODE:
        case XML_ENTITY_REF_NODE:
        case XML_PI_NODE:
        case XML_COMMENT_NODE:
        case XML_DTD_NODE:
            return true;
        default:
            return false;
    }
}

bool IsSelfOrAncestor(const xmlNode* candidate, const xmlNode* node) {
    for (const xmlNode* cur = node; cur != nullptr; cur = cur->parent) {
        if (cur == candidate) return true;
    }
    return false;
}

// What a document may hold at its top: one element, after the document type
// if there is one; no text; a declaration only as its first node.
bool AllowedAtTop(const xmlNode* docNode, const xmlNode* child, const xmlNode* before,
                  const xmlNode* leaving) {
    if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) return false;
    const xmlNode* firstOther = nullptr;
    bool beforeDocumentType = false;  // `before` is the document type or comes ahead of it
    bool reachedBefore = false;
    for (const xmlNode* c = docNode->children; c != nullptr; c = c->next) {
        if (c == before) reachedBefore = true;
        if (c == child || c == leaving) continue;
        if (firstOther == nullptr) firstOther = c;
        if (child->type == XML_ELEMENT_NODE && c->type == XML_ELEMENT_NODE) return false;
        if (IsDeclaration(child) && IsDeclaration(c)) return false;
        if (c->type == XML_DTD_NODE && reachedBefore) beforeDocumentType = true;
    }
    if (child->type == XML_ELEMENT_NODE && beforeDocumentType) return false;
    if (IsDeclaration(child)) return firstOther == nullptr || before == firstOther;
    return !(before != nullptr && before == firstOther && IsDeclaration(before));
}

}  // namespace

bool IsDeclaration(const xmlNode* node) {
    return node->type == XML_PI_NODE && xmlStrEqual(node->name, ToXml("xml"));
}

bool CanHoldChildren(const xmlNode* node) {
    return node->type == XML_ELEMENT_NODE || node->type == XML_DOCUMENT_NODE;
}

bool CanBeChild(const xmlNode* node) {
    switch (node->type) {
        case XML_ELEMENT_NODE:
        case XML_TEXT_NODE:
        case XML_CDATA_SECTION_NODE:
        case XML_COMMENT_NODE:
        case XML_PI_NODE:
            return true;
        default:
            return false;
    }
}

bool IsChildOf(const xmlNode* node, const xmlNode* parent) {
    return node->parent == parent && SitsInChildList(node);
}

HRESULT CheckPlacement(const xmlNode* parent, const xmlNode* child, const xmlNode* before,
                       const xmlNode* leaving) {
    if (!CanHoldChildren(parent) || !CanBeChild(child)) return E_FAIL;
    if (before != nullptr && !IsChildOf(before, parent)) return E_INVALIDARG;
    // Only a node with children can be an ancestor: appending leaves stays
    // O(1) however deep the parent is.
    if (child == parent || (child->children != nullptr && IsSelfOrAncestor(child, parent))) {
        return E_FAIL;
    }
    const bool allowed = parent->type == XML_DOCUMENT_NODE
                             ? AllowedAtTop(parent, child, before, leaving)
                             : !IsDeclaration(child);
    return allowed ? S_OK : E_FAIL;
}

HRESULT CheckRemoval(const xmlNode* parent, const xmlNode* child) {
    if (!CanHoldChildren(parent)) return E_FAIL;
    return IsChildOf(child, parent) && CanBeChild(child) ? S_OK : E_INVALIDARG;
}

}  // namespace xmlutil::xmldom::childargs
