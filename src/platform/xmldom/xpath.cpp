// SPDX-License-Identifier: MIT
// XPath 1.0 over libxml2: one evaluation context per document, reused,
// compiled expressions cached by their text, and attribute lookups by value
// answered from indexes (xpath_index.h). Errors are dropped, never printed.
#include <libxml/xpathInternals.h>

#include <unordered_map>

#include "platform/xmldom/engine.h"
#include "platform/xmldom/error_guard.h"
#include "platform/xmldom/xpath_index.h"

namespace xmlutil::xmldom {

struct XPathEvaluator::State {
    // Compiled expressions do not depend on any tree, so they outlive
    // DocumentChanged(). The cache is emptied when it grows past this many
    // entries, so programs that build expressions from data stay bounded.
    static constexpr size_t kMaxCachedExpressions = 1024;

    xmlDoc* doc = nullptr;
    XmlXPathContextPtr context;
    std::unordered_map<std::string, XmlXPathCompExprPtr> compiled;
    // Derived from the tree: dropped by DocumentChanged() and with the context.
    AttributeIndexes indexes;

    // The context for `target`, made anew when the document is another one.
    xmlXPathContext* ContextFor(xmlDoc* target) {
        if (context == nullptr || doc != target) {
            context.reset(xmlXPathNewContext(target));
            doc = context == nullptr ? nullptr : target;
            indexes.Clear();
        }
        return context.get();
    }

    // The compiled form of `expression`; nullptr when it does not compile.
    xmlXPathCompExpr* Compiled(xmlXPathContext* ctx, const std::string& expression) {
        const auto found = compiled.find(expression);
        if (found != compiled.end()) return found->second.get();
        XmlXPathCompExprPtr comp(xmlXPathCtxtCompile(ctx, ToXml(expression.c_str())));
        if (comp == nullptr) return nullptr;
        if (compiled.size() >= kMaxCachedExpressions) compiled.clear();
        return compiled.emplace(expression, std::move(comp)).first->second.get();
    }
};

namespace {

// For the life of the object, the context's error reports (which libxml2
// sends to the context's handler, not the global one) reach `silence`.
class ContextReportsTo {
  public:
    ContextReportsTo(xmlXPathContext* ctx, ErrorSilencer& silence) : ctx_(ctx) {
        ctx_->error = ErrorSilencer::Record;
        ctx_->userData = &silence;
    }
    ~ContextReportsTo() {
        ctx_->error = IgnoreStructuredError;
        ctx_->userData = nullptr;
    }
    ContextReportsTo(const ContextReportsTo&) = delete;
    ContextReportsTo& operator=(const ContextReportsTo&) = delete;

  private:
    xmlXPathContext* ctx_;
};

XPathHit HitFor(xmlNode* node) {
    XPathHit hit;
    if (node->type == XML_NAMESPACE_DECL) {
        // A namespace node of XPath is a copy of the declaration owned by the
        // result object; libxml2 keeps the element it belongs to in `next`.
        const auto* ns = reinterpret_cast<const xmlNs*>(node);
        hit.ns = std::make_unique<NamespaceHit>();
        if (ns->prefix != nullptr) hit.ns->prefix = FromXml(ns->prefix);
        if (ns->href != nullptr) hit.ns->uri = FromXml(ns->href);
        hit.ns->owner = reinterpret_cast<xmlNode*>(ns->next);
        return hit;
    }
    hit.node = node;
    return hit;
}

}  // namespace

XPathEvaluator::XPathEvaluator() : state_(std::make_unique<State>()) {}
XPathEvaluator::~XPathEvaluator() = default;

HRESULT XPathEvaluator::Select(xmlDoc* doc, xmlNode* context, const std::string& expression,
                               bool firstOnly, std::vector<XPathHit>& hits) {
    if (doc == nullptr) return E_INVALIDARG;
    ErrorSilencer silence;
    xmlXPathContext* ctx = state_->ContextFor(doc);
    if (ctx == nullptr) return E_OUTOFMEMORY;
    const ContextReportsTo reports(ctx, silence);
    xmlXPathCompExpr* comp = state_->Compiled(ctx, expression);
    if (comp == nullptr) return silence.OutOfMemory() ? E_OUTOFMEMORY : E_FAIL;
    // Only a well-formed expression reaches the index, so errors stay libxml2's.
    if (state_->indexes.TryAnswer(ctx, doc, expression, firstOnly, hits)) return S_OK;

    ctx->node = context != nullptr ? context : reinterpret_cast<xmlNode*>(doc);
    ctx->contextSize = -1;
    ctx->proximityPosition = -1;
    XmlXPathObjectPtr result(xmlXPathCompiledEval(comp, ctx));
    ctx->node = nullptr;
    // After an allocation failure libxml2 may hand back a partial node-set.
    if (silence.OutOfMemory()) return E_OUTOFMEMORY;
    if (result == nullptr || result->type != XPATH_NODESET) return E_FAIL;

    std::vector<XPathHit> found;
    xmlNodeSet* set = result->nodesetval;
    if (set != nullptr && set->nodeNr > 0) {
        if (set->nodeNr > 1) xmlXPathNodeSetSort(set);
        const int count = firstOnly ? 1 : set->nodeNr;
        found.reserve(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) found.push_back(HitFor(set->nodeTab[i]));
    }
    hits = std::move(found);
    return S_OK;
}

void XPathEvaluator::DocumentChanged() {
    // The context holds only the document pointer (checked on every call) and
    // compiled expressions are tree-independent: only the indexes go.
    state_->indexes.Clear();
}

}  // namespace xmlutil::xmldom
