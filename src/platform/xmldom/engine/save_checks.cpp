// SPDX-License-Identifier: MIT
// The checks made before a save: each node and the document type checked
// against the target encoding and the rules a loadable file keeps, in one
// walk of the tree that also finds the xml:space="preserve" elements needing
// a marker and has namespace URIs escaped.
#include "platform/xmldom/engine/save_checks.h"

#include <libxml/hash.h>
#include <libxml/parserInternals.h>
#include <libxml/valid.h>

#include <utility>

#include "platform/xmldom/engine/declaration.h"
#include "platform/xmldom/engine/engine.h"
#include "platform/xmldom/engine/unread_entities.h"
#include "platform/xmldom/engine/xml_space.h"

namespace xmlutil::xmldom {

bool IsDeclarationNode(const xmlNode* node) {
    return node != nullptr && node->type == XML_PI_NODE &&
           xmlStrEqual(node->name, ToXml(kDeclarationTarget));
}

namespace {

// The text of a qualified name as written: prefix, colon, local name.
bool CanEncodeName(const EncodabilityCheck& enc, const xmlNs* ns, const xmlChar* name) {
    return (ns == nullptr || enc.CanEncode(ns->prefix)) && enc.CanEncode(name);
}

// Checks one node (not its children) for what the save would write wrongly.
HRESULT CheckNode(const xmlNode* node, const EncodabilityCheck& enc) {
    const HRESULT untranslatable = HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
    switch (node->type) {
        case XML_ELEMENT_NODE:
            for (const xmlNs* ns = node->nsDef; ns != nullptr; ns = ns->next) {
                if (!enc.CanEncode(ns->prefix)) return untranslatable;
            }
            if (enc.HoldsEverything()) return S_OK;
            if (!CanEncodeName(enc, node->ns, node->name)) return untranslatable;
            for (const xmlAttr* a = node->properties; a != nullptr; a = a->next) {
                if (!CanEncodeName(enc, a->ns, a->name)) return untranslatable;
            }
            return S_OK;
        case XML_PI_NODE:
            // Only the document's first child may be the declaration.
            if (xmlStrcasecmp(node->name, ToXml(kDeclarationTarget)) == 0 &&
                !(node->parent != nullptr && node->parent->type == XML_DOCUMENT_NODE &&
                  node->prev == nullptr && IsDeclarationNode(node))) {
                return E_FAIL;
            }
            return enc.CanEncode(node->name) && enc.CanEncode(node->content) ? S_OK
                                                                             : untranslatable;
        case XML_COMMENT_NODE:
        case XML_CDATA_SECTION_NODE:
            return enc.CanEncode(node->content) ? S_OK : untranslatable;
        case XML_ENTITY_REF_NODE:
            // A reference to an entity nothing declares would not load.
            if (!ReferenceLoadsIn(node->doc, node->name)) return E_FAIL;
            return enc.CanEncode(node->name) ? S_OK : untranslatable;
        default:
            return S_OK;
    }
}

// The names in an element declaration's content model.
bool CanEncodeContentModel(const xmlElementContent* model, const EncodabilityCheck& enc) {
    std::vector<const xmlElementContent*> pending{model};
    while (!pending.empty()) {
        const xmlElementContent* cur = pending.back();
        pending.pop_back();
        if (cur == nullptr) continue;
        if (!enc.CanEncode(cur->name) || !enc.CanEncode(cur->prefix)) return false;
        pending.push_back(cur->c1);
        pending.push_back(cur->c2);
    }
    return true;
}

bool CanEncodeDeclaration(const xmlNode* decl, const EncodabilityCheck& enc) {
    switch (decl->type) {
        case XML_ENTITY_DECL: {
            // The value may hold a character reference: it means the same.
            const auto* entity = reinterpret_cast<const xmlEntity*>(decl);
            return enc.CanEncode(entity->name) && enc.CanEncode(entity->ExternalID) &&
                   enc.CanEncode(entity->SystemID);
        }
        case XML_ELEMENT_DECL: {
            const auto* element = reinterpret_cast<const xmlElement*>(decl);
            return enc.CanEncode(element->name) && enc.CanEncode(element->prefix) &&
                   CanEncodeContentModel(element->content, enc);
        }
        case XML_ATTRIBUTE_DECL: {
            // So may the default value.
            const auto* attribute = reinterpret_cast<const xmlAttribute*>(decl);
            if (!enc.CanEncode(attribute->elem) || !enc.CanEncode(attribute->name) ||
                !enc.CanEncode(attribute->prefix)) {
                return false;
            }
            for (const xmlEnumeration* e = attribute->tree; e != nullptr; e = e->next) {
                if (!enc.CanEncode(e->name)) return false;
            }
            return true;
        }
        case XML_TEXT_NODE:
            // A kept declaration of an unread entity, written as it stands.
            return enc.CanEncode(decl->content);
        default:
            return CheckNode(decl, enc) == S_OK;
    }
}

void CheckNotation(void* payload, void* data, const xmlChar* /*name*/) {
    const auto* notation = static_cast<const xmlNotation*>(payload);
    auto* check = static_cast<std::pair<const EncodabilityCheck*, bool>*>(data);
    const EncodabilityCheck& enc = *check->first;
    if (!enc.CanEncode(notation->name) || !enc.CanEncode(notation->PublicID) ||
        !enc.CanEncode(notation->SystemID)) {
        check->second = false;
    }
}

// The document type is written as it stands: a character reference in a
// name, an identifier, a comment or a processing instruction there would not
// mean the character, and in a name it is not even allowed. Only entity
// values and attribute defaults may hold one.
HRESULT CheckDoctype(const xmlNode* node, const EncodabilityCheck& enc) {
    if (enc.HoldsEverything()) return S_OK;
    const HRESULT untranslatable = HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
    const auto* dtd = reinterpret_cast<const xmlDtd*>(node);
    if (!enc.CanEncode(dtd->name) || !enc.CanEncode(dtd->ExternalID) ||
        !enc.CanEncode(dtd->SystemID)) {
        return untranslatable;
    }
    for (const xmlNode* decl = dtd->children; decl != nullptr; decl = decl->next) {
        if (!CanEncodeDeclaration(decl, enc)) return untranslatable;
    }
    if (dtd->notations != nullptr) {
        std::pair<const EncodabilityCheck*, bool> check{&enc, true};
        xmlHashScan(static_cast<xmlHashTable*>(dtd->notations), CheckNotation, &check);
        if (!check.second) return untranslatable;
    }
    return S_OK;
}

bool IsPreserve(const xmlChar* xmlSpace) {
    return xmlSpace != nullptr && xmlStrEqual(xmlSpace, ToXml("preserve"));
}

bool HasTextLikeChild(const xmlNode* element) {
    for (const xmlNode* c = element->children; c != nullptr; c = c->next) {
        if (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE ||
            c->type == XML_ENTITY_REF_NODE) {
            return true;
        }
    }
    return false;
}

}  // namespace

HRESULT CheckTreeForSave(xmlDoc* doc, const EncodabilityCheck& enc,
                         std::vector<xmlNode*>* preserveRoots, NamespaceUriEscapes& escapes) {
    constexpr size_t kOutside = static_cast<size_t>(-1);
    // The parser refuses an element nested deeper than this (its depth limit
    // counts the elements open around the one being started).
    const size_t maxElementDepth = static_cast<size_t>(xmlParserMaxDepth) + 1;
    xmlNode* const top = reinterpret_cast<xmlNode*>(doc);
    size_t depth = 0;               // elements open around `cur`
    size_t regionDepth = kOutside;  // depth of the preserve element we are in
    xmlNode* cur = doc->children;
    while (cur != nullptr) {
        // The internal subset (XML_DTD_NODE) is written by libxml2's DTD
        // writer; its declarations are not content.
        const HRESULT hr = cur->type == XML_DTD_NODE ? CheckDoctype(cur, enc) : CheckNode(cur, enc);
        if (hr != S_OK) return hr;
        if (cur->type == XML_ELEMENT_NODE) {
            if (depth + 1 > maxElementDepth) return E_FAIL;
            if (cur->nsDef != nullptr) escapes.EscapeDeclarationsOf(cur);
            if (preserveRoots != nullptr && regionDepth == kOutside && cur->properties != nullptr &&
                IsPreserve(XmlSpaceValue(cur))) {
                regionDepth = depth;
                if (cur->children != nullptr && !HasTextLikeChild(cur)) {
                    preserveRoots->push_back(cur);
                }
            }
            if (cur->children != nullptr) {
                ++depth;
                cur = cur->children;
                continue;
            }
        }
        while (cur->next == nullptr && cur->parent != top && cur->parent != nullptr) {
            cur = cur->parent;
            --depth;
        }
        if (depth <= regionDepth) regionDepth = kOutside;  // leaving the region's element
        cur = cur->next;
    }
    return S_OK;
}

}  // namespace xmlutil::xmldom
