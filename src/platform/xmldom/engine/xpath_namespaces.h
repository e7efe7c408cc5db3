// SPDX-License-Identifier: MIT
// Where the prefixes of an XPath expression get their namespaces: the
// bindings a caller gives (the SelectionNamespaces property), else the
// document's own declaration of the prefix. XPath 1.0 has no default
// namespace for names in expressions, so only prefixes are looked up.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/xmldom/engine/xml_ptr.h"

namespace xmlutil::xmldom {

struct PrefixBinding {
    std::string prefix;
    std::string uri;
};
using PrefixBindings = std::vector<PrefixBinding>;

// Reads a SelectionNamespaces value: namespace declarations as written in a
// start tag, `xmlns:p='urn:a' xmlns:q="urn:b"`, separated by white space
// ("" binds nothing). Nothing (and `reason` set) when it is malformed: a
// default namespace (`xmlns=`), a prefix that is no name without colon,
// "xmlns", "xml" bound elsewhere than its own namespace, an empty URI, a
// prefix given twice.
std::optional<PrefixBindings> ParseSelectionNamespaces(std::string_view value, std::string& reason);

// The prefixes `expression` puts on names (name tests, functions, variables),
// each once, in order of first use; "xml" (always bound) left out. Quoted
// literals and axis names (`child::`) are no prefixes.
std::vector<std::string> PrefixesUsedIn(std::string_view expression);

// The namespace declarations of a document with a prefix, in document order.
class DocumentPrefixes {
  public:
    struct Declared {
        std::string uri;       // of the first declaration
        std::string otherUri;  // of a later one that differs; "" when none
    };

    // Reads every declaration in the tree of `doc` (without recursion).
    // Throws std::bad_alloc.
    void Read(xmlDoc* doc);
    // What the document declares for `prefix`; nullptr when nothing.
    const Declared* Find(const std::string& prefix) const;

  private:
    std::unordered_map<std::string, Declared> byPrefix_;
};

// Resolves every prefix `expression` uses: a binding from `bindings`, else
// the document's unambiguous declaration (`document` gives them, asked only
// when needed). False with `reason` naming the first prefix that fails.
bool ResolvePrefixes(std::string_view expression, const PrefixBindings& bindings,
                     const std::function<const DocumentPrefixes*()>& document,
                     PrefixBindings& resolved, std::string& reason);

}  // namespace xmlutil::xmldom
