// SPDX-License-Identifier: MIT
#include "platform/xmldom/engine/unread_entities.h"

#include <libxml/entities.h>
#include <libxml/hash.h>

#include <cstring>
#include <string>

namespace xmlutil::xmldom {
namespace {

constexpr char kEntityKeyword[] = "<!ENTITY ";

// Appends `text` to the internal subset of `doc` as text written as it stands
// and freed with the document type like its comments.
bool AppendKeptText(xmlDoc* doc, const std::string& text) {
    xmlDtd* dtd = doc != nullptr ? doc->intSubset : nullptr;
    if (dtd == nullptr) return true;
    // libxml2 opens the internal subset on save only when it has a table.
    if (dtd->entities == nullptr) {
        dtd->entities = xmlHashCreateDict(0, doc->dict);
        if (dtd->entities == nullptr) return false;
    }
    xmlNode* kept = xmlNewDocText(doc, ToXml(text.c_str()));
    if (kept == nullptr || kept->content == nullptr) {
        if (kept != nullptr) xmlFreeNode(kept);
        return false;
    }
    kept->name = xmlStringTextNoenc;
    kept->parent = reinterpret_cast<xmlNode*>(dtd);
    kept->prev = dtd->last;
    if (dtd->last != nullptr) {
        dtd->last->next = kept;
    } else {
        dtd->children = kept;
    }
    dtd->last = kept;
    return true;
}

// A system or public literal between quotes that it does not hold (it cannot
// hold both kinds).
std::string Quoted(const xmlChar* literal) {
    const std::string text = FromXml(literal);
    const char quote = text.find('"') == std::string::npos ? '"' : '\'';
    return quote + text + quote;
}

std::string DeclarationText(const xmlChar* name, bool parameter, const xmlChar* publicId,
                            const xmlChar* systemId) {
    std::string text = kEntityKeyword;
    if (parameter) text += "% ";
    text += FromXml(name);
    if (publicId != nullptr) {
        text += " PUBLIC " + Quoted(publicId);
        if (systemId != nullptr) text += " " + Quoted(systemId);
    } else {
        text += " SYSTEM " + Quoted(systemId);
    }
    // Ends as libxml2 ends the declarations it writes itself.
    return text + ">\n";
}

// The general entity a kept declaration declares, or "" for a parameter
// entity.
std::string DeclaredName(const xmlNode* kept) {
    if (kept->content[0] == '%') return std::string();  // a reference
    const char* text = FromXml(kept->content) + std::strlen(kEntityKeyword);
    if (*text == '%') return std::string();
    return std::string(text, std::strcspn(text, " \t\r\n"));
}

bool HasKeptDeclaration(const xmlDtd* dtd, const xmlChar* name) {
    for (const xmlNode* c = dtd->children; c != nullptr; c = c->next) {
        if (IsKeptDeclaration(c) && DeclaredName(c) == FromXml(name)) return true;
    }
    return false;
}

bool HasKeptParameterReference(const xmlDtd* dtd) {
    for (const xmlNode* c = dtd->children; c != nullptr; c = c->next) {
        if (IsKeptDeclaration(c) && c->content[0] == '%') return true;
    }
    return false;
}

}  // namespace

bool KeepUnreadEntityDeclaration(xmlDoc* doc, const xmlChar* name, bool parameter,
                                 const xmlChar* publicId, const xmlChar* systemId) {
    if (name == nullptr || systemId == nullptr) return true;
    return AppendKeptText(doc, DeclarationText(name, parameter, publicId, systemId));
}

bool KeepParameterEntityReference(xmlDoc* doc, const xmlChar* name) {
    return AppendKeptText(doc, std::string("%") + FromXml(name) + ";\n");
}

bool IsKeptDeclaration(const xmlNode* node) {
    return node->type == XML_TEXT_NODE && node->name == xmlStringTextNoenc &&
           node->parent != nullptr && node->parent->type == XML_DTD_NODE &&
           node->content != nullptr &&
           (node->content[0] == '%' ||
            std::strncmp(FromXml(node->content), kEntityKeyword, std::strlen(kEntityKeyword)) == 0);
}

bool ReferenceLoadsIn(const xmlDoc* doc, const xmlChar* name) {
    if (xmlGetDocEntity(doc, name) != nullptr) return true;
    const xmlDtd* dtd = doc->intSubset;
    if (dtd == nullptr) return false;
    if (HasKeptDeclaration(dtd, name)) return true;
    return (dtd->ExternalID != nullptr || dtd->SystemID != nullptr ||
            HasKeptParameterReference(dtd)) &&
           doc->standalone != 1;
}

bool ReferencesLoadIn(const xmlNode* root, const xmlDoc* doc) {
    const xmlNode* cur = root;
    while (cur != nullptr) {
        if (cur->type == XML_ENTITY_REF_NODE && !ReferenceLoadsIn(doc, cur->name)) return false;
        if (cur->type == XML_ELEMENT_NODE && cur->children != nullptr) {
            cur = cur->children;
            continue;
        }
        while (cur != root && cur->next == nullptr) cur = cur->parent;
        if (cur == root) break;
        cur = cur->next;
    }
    return true;
}

}  // namespace xmlutil::xmldom
