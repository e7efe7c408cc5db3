// SPDX-License-Identifier: MIT
// Hash indexes for attribute lookups by value; see xpath_index.h.
#include "platform/xmldom/engine/xpath_index.h"

#include <libxml/xpathInternals.h>

#include <new>

namespace xmlutil::xmldom {

namespace {

bool IsNameStart(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

bool IsNameChar(char c) {
    return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Reads the grammar of an attribute lookup over one expression.
class LookupReader {
  public:
    explicit LookupReader(std::string_view text) : text_(text) {}

    std::optional<AttributeLookup> Read() {
        AttributeLookup lookup;
        if (!ReadSteps()) return std::nullopt;
        lookup.elements = std::string(text_.substr(0, pos_));
        if (!Take('[')) return std::nullopt;
        SkipSpace();
        if (!Take('@') || !ReadName(lookup.attribute)) return std::nullopt;
        SkipSpace();
        if (!Take('=')) return std::nullopt;
        SkipSpace();
        if (!ReadLiteral(lookup.value)) return std::nullopt;
        SkipSpace();
        if (!Take(']') || pos_ != text_.size()) return std::nullopt;
        return lookup;
    }

  private:
    // One or more steps, each "/" or "//" followed by a plain name.
    bool ReadSteps() {
        int steps = 0;
        while (Take('/')) {
            Take('/');
            std::string name;
            if (!ReadName(name)) return false;
            ++steps;
        }
        return steps > 0;
    }

    bool ReadName(std::string& name) {
        const size_t start = pos_;
        if (pos_ >= text_.size() || !IsNameStart(text_[pos_])) return false;
        while (pos_ < text_.size() && IsNameChar(text_[pos_])) ++pos_;
        name = std::string(text_.substr(start, pos_ - start));
        return true;
    }

    bool ReadLiteral(std::string& value) {
        if (pos_ >= text_.size() || (text_[pos_] != '\'' && text_[pos_] != '"')) return false;
        const char quote = text_[pos_++];
        const size_t end = text_.find(quote, pos_);
        if (end == std::string_view::npos) return false;
        value = std::string(text_.substr(pos_, end - pos_));
        pos_ = end + 1;
        return true;
    }

    bool Take(char c) {
        if (pos_ >= text_.size() || text_[pos_] != c) return false;
        ++pos_;
        return true;
    }

    void SkipSpace() {
        while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
    }

    std::string_view text_;
    size_t pos_ = 0;
};

// The string value of an attribute made only of text (what XPath compares),
// appended to `value`. False when it holds anything else (an entity
// reference): libxml2's comparison then follows rules the index does not copy.
bool AttributeText(const xmlAttr* attribute, std::string& value) {
    for (const xmlNode* child = attribute->children; child != nullptr; child = child->next) {
        if (child->type != XML_TEXT_NODE && child->type != XML_CDATA_SECTION_NODE) return false;
        if (child->content != nullptr) value += FromXml(child->content);
    }
    return true;
}

// libxml2's name test for `@name` without a prefix: the local name matches and
// the attribute has no namespace prefix.
bool MatchesNameTest(const xmlAttr* attribute, const xmlChar* name) {
    return xmlStrEqual(attribute->name, name) &&
           (attribute->ns == nullptr || attribute->ns->prefix == nullptr);
}

}  // namespace

std::optional<AttributeLookup> ParseAttributeLookup(std::string_view expression) {
    return LookupReader(expression).Read();
}

bool AttributeIndexes::TryAnswer(xmlXPathContext* context, xmlDoc* doc,
                                 const std::string& expression, bool firstOnly,
                                 std::vector<XPathHit>& hits, bool deepTree) noexcept {
    if (expression.empty() || expression.front() != '/' || expression.back() != ']') return false;
    try {
        const std::optional<AttributeLookup> lookup = ParseAttributeLookup(expression);
        if (!lookup) return false;
        const std::string key = lookup->elements + "/@" + lookup->attribute;
        auto found = indexes_.find(key);
        if (found == indexes_.end()) {
            if (indexes_.size() >= kMaxIndexes) indexes_.clear();
            Build(context, doc, *lookup, key, deepTree);
            found = indexes_.find(key);
        }
        const Index& index = found->second;
        if (!index.usable) return false;
        std::vector<XPathHit> answer;
        const auto bucket = index.byValue.find(lookup->value);
        if (bucket != index.byValue.end()) {
            const Bucket& nodes = bucket->second;
            answer.reserve(firstOnly ? 1 : 1 + nodes.rest.size());
            answer.push_back(XPathHit{nodes.first, nullptr});
            for (size_t i = 0; !firstOnly && i < nodes.rest.size(); ++i) {
                answer.push_back(XPathHit{nodes.rest[i], nullptr});
            }
        }
        hits = std::move(answer);
        return true;
    } catch (const std::bad_alloc&) {
        Clear();
        return false;
    }
}

AttributeIndexes::Index& AttributeIndexes::Build(xmlXPathContext* context, xmlDoc* doc,
                                                 const AttributeLookup& lookup,
                                                 const std::string& key, bool deepTree) {
    Index& index = indexes_[key];
    index = Index();
    // The whole expression, with its predicate, is never streamed: neither
    // may the path the index is built from be.
    const std::string elements =
        deepTree && MayBeStreamed(lookup.elements) ? Unstreamed(lookup.elements) : lookup.elements;
    XmlXPathCompExprPtr compiled(xmlXPathCtxtCompile(context, ToXml(elements.c_str())));
    if (compiled == nullptr) return index;
    context->node = reinterpret_cast<xmlNode*>(doc);
    context->contextSize = -1;
    context->proximityPosition = -1;
    XmlXPathObjectPtr result(xmlXPathCompiledEval(compiled.get(), context));
    context->node = nullptr;
    if (result == nullptr || result->type != XPATH_NODESET) return index;
    xmlNodeSet* set = result->nodesetval;
    const int count = set == nullptr ? 0 : set->nodeNr;
    if (count > 1) xmlXPathNodeSetSort(set);
    index.byValue.reserve(static_cast<size_t>(count));
    const xmlChar* name = ToXml(lookup.attribute.c_str());
    std::string value;
    for (int i = 0; i < count; ++i) {
        xmlNode* element = set->nodeTab[i];
        if (element->type != XML_ELEMENT_NODE) return Unusable(index);
        for (const xmlAttr* a = element->properties; a != nullptr; a = a->next) {
            if (!MatchesNameTest(a, name)) continue;
            value.clear();
            if (!AttributeText(a, value)) return Unusable(index);
            Bucket& bucket = index.byValue[value];
            if (bucket.first == nullptr) {
                bucket.first = element;
            } else if ((bucket.rest.empty() ? bucket.first : bucket.rest.back()) != element) {
                bucket.rest.push_back(element);
            }
        }
    }
    index.usable = true;
    return index;
}

AttributeIndexes::Index& AttributeIndexes::Unusable(Index& index) {
    index.byValue.clear();
    index.usable = false;
    return index;
}

void AttributeIndexes::Clear() noexcept {
    // Called on every change to the document: clearing an empty map still
    // zeroes its buckets.
    if (!indexes_.empty()) indexes_.clear();
}

}  // namespace xmlutil::xmldom
