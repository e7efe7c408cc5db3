// SPDX-License-Identifier: MIT
#include "platform/xmldom/engine/xpath_name_walk.h"

#include <libxml/dict.h>

namespace xmlutil::xmldom {

namespace {

bool IsNameStart(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

bool IsNameChar(char c) {
    return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// The parser allocates nodes in document order, so the memory a few
// kilobytes past a node is what the walk reaches soon: asking for it ahead
// took a third off a walk of a 60 MB file's tree, which waits on memory,
// not on its few comparisons per node. (4 KB exactly was slower: the
// addresses alias.) A prefetch never faults, wherever it points.
constexpr size_t kPrefetchAhead = 3072;

// The node after `node` in document order among those the walk visits,
// skipping the children of anything but elements; null at the end.
xmlNode* NextInWalk(xmlNode* node, const xmlNode* top) {
    if (node->type == XML_ELEMENT_NODE && node->children != nullptr) return node->children;
    while (node->next == nullptr) {
        node = node->parent;
        if (node == nullptr || node == top) return nullptr;
    }
    return node->next;
}

}  // namespace

std::optional<std::string_view> DescendantNameTest(std::string_view expression) {
    if (expression.size() < 3 || expression.compare(0, 2, "//") != 0) return std::nullopt;
    const std::string_view name = expression.substr(2);
    if (!IsNameStart(name.front())) return std::nullopt;
    for (const char c : name) {
        if (!IsNameChar(c)) return std::nullopt;
    }
    return name;
}

HRESULT VisitElementsNamed(xmlDoc* doc, const std::string& name, bool firstOnly,
                           const std::function<HRESULT(xmlNode*)>& visit) {
    const auto* wanted = ToXml(name.c_str());
    // Names read from a file come from the document's dictionary: most
    // comparisons are then one of pointers.
    const xmlChar* interned = doc->dict == nullptr ? nullptr : xmlDictExists(doc->dict, wanted, -1);
    const auto* top = reinterpret_cast<const xmlNode*>(doc);
    for (xmlNode* node = doc->children; node != nullptr; node = NextInWalk(node, top)) {
        __builtin_prefetch(reinterpret_cast<const char*>(node) + kPrefetchAhead);
        if (node->type != XML_ELEMENT_NODE || node->ns != nullptr) continue;
        if (node->name != interned &&
            (node->name[0] != wanted[0] || !xmlStrEqual(node->name, wanted))) {
            continue;
        }
        const HRESULT hr = visit(node);
        if (FAILED(hr) || firstOnly) return hr;
    }
    return S_OK;
}

}  // namespace xmlutil::xmldom
