// SPDX-License-Identifier: MIT
// The size limits the loader applies (xmlutil/load_limits.h), checked on a tree
// before it is written, so that nothing is written that would not load.
#include <libxml/tree.h>

#include "platform/xmldom/engine/engine.h"
#include "xmlutil/load_limits.h"

namespace xmlutil::xmldom {
namespace {

size_t Length(const xmlChar* text) {
    return text == nullptr ? 0 : static_cast<size_t>(xmlStrlen(text));
}

bool NameFits(const xmlChar* name) {
    return Length(name) <= kMaxNameBytes;
}

bool QualifiedNameFits(const xmlNs* ns, const xmlChar* name) {
    return NameFits(name) && (ns == nullptr || NameFits(ns->prefix));
}

// An attribute's value is the text of its children.
size_t ValueLength(const xmlAttr* attr) {
    size_t length = 0;
    for (const xmlNode* c = attr->children; c != nullptr; c = c->next) length += Length(c->content);
    return length;
}

bool ElementFits(const xmlNode* element) {
    if (!QualifiedNameFits(element->ns, element->name)) return false;
    size_t attributes = 0;
    for (const xmlNs* ns = element->nsDef; ns != nullptr; ns = ns->next, ++attributes) {
        if (!NameFits(ns->prefix) || Length(ns->href) > kMaxTextBytes) return false;
    }
    for (const xmlAttr* a = element->properties; a != nullptr; a = a->next, ++attributes) {
        if (!QualifiedNameFits(a->ns, a->name) || ValueLength(a) > kMaxTextBytes) return false;
    }
    return attributes <= kMaxAttributesPerElement;
}

// Adjacent texts (and adjacent CDATA sections) load as one node: `run` is
// the length of the run `node` ends, itself included.
bool TextFits(const xmlNode* node, size_t& run) {
    const bool continues = node->prev != nullptr && node->prev->type == node->type;
    run = (continues ? run : 0) + Length(node->content);
    return run <= kMaxTextBytes;
}

bool NodeFits(const xmlNode* node, size_t& run) {
    switch (node->type) {
        case XML_ELEMENT_NODE:
            return ElementFits(node);
        case XML_TEXT_NODE:
        case XML_CDATA_SECTION_NODE:
            return TextFits(node, run);
        case XML_COMMENT_NODE:
            return Length(node->content) <= kMaxTextBytes;
        case XML_PI_NODE:
            return NameFits(node->name) && Length(node->content) <= kMaxTextBytes;
        case XML_ENTITY_REF_NODE:
            return NameFits(node->name);
        default:
            return true;
    }
}

}  // namespace

HRESULT CheckLoadableSizes(const xmlNode* node) {
    const HRESULT tooLarge = HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    if (node->type == XML_ATTRIBUTE_NODE) {
        const auto* attr = reinterpret_cast<const xmlAttr*>(node);
        const bool fits =
            QualifiedNameFits(attr->ns, attr->name) && ValueLength(attr) <= kMaxTextBytes;
        return fits ? S_OK : tooLarge;
    }
    const bool isDocument = node->type == XML_DOCUMENT_NODE;
    const xmlNode* const top = node;
    const xmlNode* cur = isDocument ? node->children : node;
    size_t run = 0;
    // Without recursion: trees may be far deeper than a stack allows.
    while (cur != nullptr) {
        // The document type's declarations were checked when it was loaded.
        if (cur->type != XML_DTD_NODE && !NodeFits(cur, run)) return tooLarge;
        if (cur->type == XML_ELEMENT_NODE && cur->children != nullptr) {
            cur = cur->children;
            continue;
        }
        while (cur != top && cur->next == nullptr && cur->parent != top) cur = cur->parent;
        if (cur == top) break;
        cur = cur->next;
    }
    return S_OK;
}

}  // namespace xmlutil::xmldom
