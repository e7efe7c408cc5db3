// SPDX-License-Identifier: MIT
// Answers repeated attribute lookups (`/Root/Menu/Item[@id='K7']`) from a hash
// index instead of scanning the document for every question.
//
// Recognised: an absolute location path of child steps (`/` or `//` before
// each plain name) whose last step carries one predicate comparing an
// unprefixed attribute with a string literal: `/A/B/C[@x='v']`,
// `/A/B/C[@x="v"]`, `//C[@x='v']`. For such a path P and attribute x the
// index maps each value to the elements of P having @x equal to it, in
// document order. libxml2 itself selects P to build it, so which elements
// count (names, namespaces) is exactly what its evaluation would take; the
// attribute test is libxml2's own for an unprefixed name (same local name,
// no namespace prefix). Everything else is left to libxml2.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/xmldom/engine/engine.h"

namespace xmlutil::xmldom {

// The parts of a recognised attribute lookup.
struct AttributeLookup {
    std::string elements;   // the location path without the predicate: "/A/B/C"
    std::string attribute;  // "x"
    std::string value;      // the literal's content, without its quotes
};

// The parts of `expression` when it has the shape above; nothing otherwise.
std::optional<AttributeLookup> ParseAttributeLookup(std::string_view expression);

// The indexes of one document. Built lazily by the first question of a shape
// (same path and attribute, any value): selecting P once and reading the
// attribute of each element costs about what one libxml2 evaluation of the
// predicate over P does.
// The index then answers every question of that shape until Clear().
class AttributeIndexes {
  public:
    // At most this many (path, attribute) indexes live at once; the set is
    // emptied when one more is needed.
    static constexpr size_t kMaxIndexes = 16;

    // True when `expression` was answered from an index: `hits` holds every
    // matching element (or the first, with `firstOnly`) in document order.
    // False: evaluate it the usual way (`hits` untouched). `context` is the
    // document's XPath context, used to build an index; its node is left null.
    // `deepTree` as for XPathEvaluator::Select.
    bool TryAnswer(xmlXPathContext* context, xmlDoc* doc, const std::string& expression,
                   bool firstOnly, std::vector<XPathHit>& hits, bool deepTree = false) noexcept;

    // Forgets every index: the document changed.
    void Clear() noexcept;

    size_t IndexCount() const { return indexes_.size(); }

  private:
    // The elements having one value, in document order; the first is kept
    // inline because most values (ids) occur once.
    struct Bucket {
        xmlNode* first = nullptr;
        std::vector<xmlNode*> rest;
    };
    struct Index {
        bool usable = false;  // false: libxml2 answers this shape until the next change
        std::unordered_map<std::string, Bucket> byValue;
    };

    // Selects the lookup's elements with libxml2 and files each under the
    // value of its attribute; an index that cannot mirror libxml2's answer
    // exactly is kept unusable.
    Index& Build(xmlXPathContext* context, xmlDoc* doc, const AttributeLookup& lookup,
                 const std::string& key, bool deepTree);
    static Index& Unusable(Index& index);

    std::unordered_map<std::string, Index> indexes_;  // by "P/@x"
};

}  // namespace xmlutil::xmldom
