// SPDX-License-Identifier: MIT
// Reading an element's xml:space attribute, which both the parser (white
// space kept or dropped on load) and the writer (no indentation inside
// xml:space="preserve") follow.
#pragma once

#include <libxml/tree.h>

#include "platform/xmldom/engine/xml_ptr.h"

namespace xmlutil::xmldom {

// The value of `xml:space` on `element` when it has one, else nullptr.
inline const xmlChar* XmlSpaceValue(const xmlNode* element) {
    for (const xmlAttr* a = element->properties; a != nullptr; a = a->next) {
        // The name first: it rules out nearly every attribute without
        // reading its namespace.
        if (xmlStrEqual(a->name, ToXml("space")) && a->ns != nullptr &&
            xmlStrEqual(a->ns->href, XML_XML_NAMESPACE) && a->children != nullptr &&
            a->children->next == nullptr) {
            return a->children->content;
        }
    }
    return nullptr;
}

}  // namespace xmlutil::xmldom
