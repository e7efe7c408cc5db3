// SPDX-License-Identifier: MIT
// Prefix resolution for XPath expressions; see xpath_namespaces.h.
#include "platform/xmldom/engine/xpath_namespaces.h"

#include <libxml/tree.h>

#include <algorithm>

namespace xmlutil::xmldom {

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Characters of an XPath NCName as far as telling tokens apart needs: any
// byte of a multi-byte UTF-8 character counts as a letter.
bool IsNameStart(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || u >= 0x80;
}

bool IsNameChar(char c) {
    return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

bool IsNCName(const std::string& name) {
    return !name.empty() && xmlValidateNCName(ToXml(name.c_str()), 0) == 0;
}

// Reads the declarations of a SelectionNamespaces value one by one.
class DeclarationReader {
  public:
    explicit DeclarationReader(std::string_view text) : text_(text) {}

    std::optional<PrefixBindings> Read(std::string& reason) {
        PrefixBindings bindings;
        for (SkipSpace(); pos_ < text_.size(); SkipSpace()) {
            PrefixBinding binding;
            if (!ReadDeclaration(binding, reason)) return std::nullopt;
            const bool repeated =
                std::any_of(bindings.begin(), bindings.end(),
                            [&](const PrefixBinding& b) { return b.prefix == binding.prefix; });
            if (repeated) {
                Fail(reason, "the prefix '" + binding.prefix + "' is declared twice");
                return std::nullopt;
            }
            bindings.push_back(std::move(binding));
        }
        return bindings;
    }

  private:
    bool ReadDeclaration(PrefixBinding& binding, std::string& reason) {
        if (text_.substr(pos_, 5) != "xmlns")
            return Fail(reason, "a declaration must start with xmlns:");
        pos_ += 5;
        if (pos_ < text_.size() && (text_[pos_] == '=' || IsSpace(text_[pos_]))) {
            return Fail(reason, "a default namespace (xmlns=) cannot be given");
        }
        if (pos_ >= text_.size() || text_[pos_] != ':') {
            return Fail(reason, "a declaration must start with xmlns:");
        }
        const size_t start = ++pos_;
        while (pos_ < text_.size() && text_[pos_] != '=' && !IsSpace(text_[pos_])) ++pos_;
        binding.prefix = std::string(text_.substr(start, pos_ - start));
        if (!IsNCName(binding.prefix) || binding.prefix == "xmlns") {
            return Fail(reason, "'" + binding.prefix + "' cannot be a prefix");
        }
        SkipSpace();
        if (pos_ >= text_.size() || text_[pos_] != '=') return Fail(reason, "'=' expected");
        ++pos_;
        SkipSpace();
        if (pos_ >= text_.size() || (text_[pos_] != '\'' && text_[pos_] != '"')) {
            return Fail(reason, "a quoted namespace URI expected");
        }
        const char quote = text_[pos_++];
        const size_t end = text_.find(quote, pos_);
        if (end == std::string_view::npos) return Fail(reason, "the namespace URI is not closed");
        binding.uri = std::string(text_.substr(pos_, end - pos_));
        pos_ = end + 1;
        if (binding.uri.empty()) {
            return Fail(reason, "the prefix '" + binding.prefix + "' is bound to no namespace");
        }
        const bool xmlPrefix = binding.prefix == "xml";
        if (xmlPrefix != (binding.uri == FromXml(XML_XML_NAMESPACE))) {
            return Fail(reason, "the prefix xml and its namespace belong only to each other");
        }
        if (pos_ < text_.size() && !IsSpace(text_[pos_])) {
            return Fail(reason, "declarations must be separated by white space");
        }
        return true;
    }

    static bool Fail(std::string& reason, const std::string& what) {
        reason = "SelectionNamespaces is malformed: " + what;
        return false;
    }

    void SkipSpace() {
        while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
    }

    std::string_view text_;
    size_t pos_ = 0;
};

}  // namespace

std::optional<PrefixBindings> ParseSelectionNamespaces(std::string_view value,
                                                       std::string& reason) {
    return DeclarationReader(value).Read(reason);
}

std::vector<std::string> PrefixesUsedIn(std::string_view expression) {
    std::vector<std::string> prefixes;
    size_t i = 0;
    while (i < expression.size()) {
        const char c = expression[i];
        if (c == '\'' || c == '"') {
            const size_t end = expression.find(c, i + 1);
            i = end == std::string_view::npos ? expression.size() : end + 1;
            continue;
        }
        if ((c >= '0' && c <= '9') || c == '.') {  // a number (or ".", ".."): no name
            ++i;
            while (i < expression.size() &&
                   ((expression[i] >= '0' && expression[i] <= '9') || expression[i] == '.')) {
                ++i;
            }
            continue;
        }
        if (!IsNameStart(c)) {
            ++i;
            continue;
        }
        const size_t start = i;
        while (i < expression.size() && IsNameChar(expression[i])) ++i;
        const bool prefixed =
            i + 1 < expression.size() && expression[i] == ':' && expression[i + 1] != ':';
        if (!prefixed) continue;
        std::string prefix(expression.substr(start, i - start));
        if (prefix != "xml" &&
            std::find(prefixes.begin(), prefixes.end(), prefix) == prefixes.end()) {
            prefixes.push_back(std::move(prefix));
        }
        ++i;  // the colon; the local name follows
    }
    return prefixes;
}

void DocumentPrefixes::Read(xmlDoc* doc) {
    byPrefix_.clear();
    xmlNode* const top = reinterpret_cast<xmlNode*>(doc);
    xmlNode* cur = doc != nullptr ? doc->children : nullptr;
    while (cur != nullptr) {
        if (cur->type == XML_ELEMENT_NODE) {
            for (const xmlNs* ns = cur->nsDef; ns != nullptr; ns = ns->next) {
                if (ns->prefix == nullptr || ns->href == nullptr) continue;
                const std::string uri = FromXml(ns->href);
                auto [entry, added] = byPrefix_.try_emplace(FromXml(ns->prefix), Declared{uri, {}});
                if (!added && entry->second.otherUri.empty() && entry->second.uri != uri) {
                    entry->second.otherUri = uri;
                }
            }
            if (cur->children != nullptr) {
                cur = cur->children;
                continue;
            }
        }
        while (cur != top && cur->next == nullptr) cur = cur->parent;
        if (cur == top) break;
        cur = cur->next;
    }
}

const DocumentPrefixes::Declared* DocumentPrefixes::Find(const std::string& prefix) const {
    const auto found = byPrefix_.find(prefix);
    return found == byPrefix_.end() ? nullptr : &found->second;
}

bool ResolvePrefixes(std::string_view expression, const PrefixBindings& bindings,
                     const std::function<const DocumentPrefixes*()>& document,
                     PrefixBindings& resolved, std::string& reason) {
    resolved.clear();
    for (std::string& prefix : PrefixesUsedIn(expression)) {
        const auto bound = std::find_if(bindings.begin(), bindings.end(),
                                        [&](const PrefixBinding& b) { return b.prefix == prefix; });
        if (bound != bindings.end()) {
            resolved.push_back(*bound);
            continue;
        }
        const DocumentPrefixes* declarations = document();
        const DocumentPrefixes::Declared* declared =
            declarations != nullptr ? declarations->Find(prefix) : nullptr;
        if (declared == nullptr) {
            reason = "The namespace prefix '" + prefix +
                     "' is declared nowhere in the document and not bound by "
                     "SelectionNamespaces";
            return false;
        }
        if (!declared->otherUri.empty()) {
            reason = "The namespace prefix '" + prefix + "' is bound to different namespaces ('" +
                     declared->uri + "', '" + declared->otherUri +
                     "') in the document; bind it with SelectionNamespaces";
            return false;
        }
        resolved.push_back(PrefixBinding{std::move(prefix), declared->uri});
    }
    return true;
}

}  // namespace xmlutil::xmldom
