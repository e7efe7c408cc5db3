// SPDX-License-Identifier: MIT
// The checks made before a save, so that what is written loads back equal:
// every name and text writable in the target encoding (or as a character
// reference where one means the same), the declaration only where it may
// stand, no reference to an undeclared entity, no branch deeper than the
// parser takes; and the changes kept for the time of a save: namespace URIs
// escaped, and markers that keep indentation out of xml:space="preserve".
#pragma once

#include <libxml/tree.h>

#include <deque>
#include <string>
#include <vector>

#include "platform/xmldom/engine/transcode_encode.h"
#include "platform/xmldom/engine/xml_ptr.h"
#include "xmlutil/wintypes.h"

namespace xmlutil::xmldom {

// The XML declaration node: a processing instruction with target "xml".
bool IsDeclarationNode(const xmlNode* node);

// libxml2 writes a namespace declaration's URI between quotes as it is,
// escaping nothing: "urn:x?a=1&b=2" would come out as markup that does not
// parse, and a tab or line break would read back as a space. For the life of
// the object, such URIs are replaced by their escaped form (the declaration
// keeps its own string, which is put back afterwards).
class NamespaceUriEscapes {
  public:
    NamespaceUriEscapes() = default;
    ~NamespaceUriEscapes() {
        for (const Swap& swap : swaps_) swap.ns->href = swap.original;
    }
    NamespaceUriEscapes(const NamespaceUriEscapes&) = delete;
    NamespaceUriEscapes& operator=(const NamespaceUriEscapes&) = delete;

    void EscapeDeclarationsOf(const xmlNode* element) {
        for (xmlNs* ns = element->nsDef; ns != nullptr; ns = ns->next) {
            if (NeedsEscape(ns->href)) Escape(ns);
        }
    }

    // Every element of the subtree under `root` (itself included).
    void EscapeDeclarationsUnder(const xmlNode* root) {
        const xmlNode* cur = root;
        while (cur != nullptr) {
            if (cur->type == XML_ELEMENT_NODE) {
                EscapeDeclarationsOf(cur);
                if (cur->children != nullptr) {
                    cur = cur->children;
                    continue;
                }
            }
            while (cur != root && cur->next == nullptr) cur = cur->parent;
            if (cur == root) break;
            cur = cur->next;
        }
    }

  private:
    struct Swap {
        xmlNs* ns;
        const xmlChar* original;
    };

    static bool NeedsEscape(const xmlChar* href) {
        if (href == nullptr) return false;
        for (const xmlChar* p = href; *p != 0; ++p) {
            if (*p == '&' || *p == '<' || *p == '\t' || *p == '\n' || *p == '\r') return true;
        }
        return false;
    }

    void Escape(xmlNs* ns) {
        std::string escaped;
        for (const xmlChar* p = ns->href; *p != 0; ++p) {
            switch (*p) {
                case '&':
                    escaped += "&amp;";
                    break;
                case '<':
                    escaped += "&lt;";
                    break;
                case '\t':
                    escaped += "&#9;";
                    break;
                case '\n':
                    escaped += "&#10;";
                    break;
                case '\r':
                    escaped += "&#13;";
                    break;
                default:
                    escaped += static_cast<char>(*p);
            }
        }
        storage_.push_back(std::move(escaped));
        swaps_.push_back({ns, ns->href});
        ns->href = ToXml(storage_.back().c_str());
    }

    std::deque<std::string> storage_;  // stable addresses
    std::vector<Swap> swaps_;
};

// libxml2's formatter stops indenting for the whole subtree of an element
// that has a text child. For the time of a save, each outermost
// xml:space="preserve" element whose children are all non-text gets an empty
// text node as first child (it writes nothing), so nothing inside it is
// indented. The tree is restored exactly when the object goes.
class PreserveMarkers {
  public:
    PreserveMarkers() = default;
    ~PreserveMarkers() {
        for (xmlNode* marker : markers_) {
            xmlNode* parent = marker->parent;
            parent->children = marker->next;
            marker->next->prev = nullptr;
            marker->next = nullptr;
            marker->parent = nullptr;
            xmlFreeNode(marker);
        }
    }
    PreserveMarkers(const PreserveMarkers&) = delete;
    PreserveMarkers& operator=(const PreserveMarkers&) = delete;

    // False when a marker could not be made (the ones made are removed later).
    bool Insert(xmlDoc* doc, const std::vector<xmlNode*>& elements) {
        markers_.reserve(elements.size());
        for (xmlNode* element : elements) {
            xmlNode* marker = xmlNewDocText(doc, ToXml(""));
            if (marker == nullptr) return false;
            // Linked by hand: xmlAddPrevSibling could merge text nodes.
            marker->parent = element;
            marker->next = element->children;
            element->children->prev = marker;
            element->children = marker;
            markers_.push_back(marker);
        }
        return true;
    }

  private:
    std::vector<xmlNode*> markers_;
};

// Walks the tree once, without recursion: every node must be writable in
// the target encoding and no branch deeper than the parser accepts. When
// `preserveRoots` is given, collects the outermost xml:space="preserve"
// elements that need a marker to keep indentation out, and has namespace
// URIs escaped for the save.
HRESULT CheckTreeForSave(xmlDoc* doc, const EncodabilityCheck& enc,
                         std::vector<xmlNode*>* preserveRoots, NamespaceUriEscapes& escapes);

}  // namespace xmlutil::xmldom
