// SPDX-License-Identifier: MIT
// XPath 1.0 over libxml2: one evaluation context per document, reused,
// compiled expressions cached by their text, and attribute lookups by value
// answered from indexes (xpath_index.h). Errors are dropped, never printed.
#include <libxml/xpathInternals.h>

#include <algorithm>
#include <string_view>
#include <unordered_map>

#include "platform/xmldom/engine/engine.h"
#include "platform/xmldom/engine/error_guard.h"
#include "platform/xmldom/engine/xpath_index.h"
#include "platform/xmldom/engine/xpath_name_walk.h"

namespace xmlutil::xmldom {

struct XPathEvaluator::State {
    // Compiled expressions do not depend on any tree, so they outlive
    // DocumentChanged(). The cache is emptied when it grows past this many
    // entries, so programs that build expressions from data stay bounded.
    static constexpr size_t kMaxCachedExpressions = 1024;

    WorkLimits limits{};
    xmlDoc* doc = nullptr;
    XmlXPathContextPtr context;
    std::unordered_map<std::string, XmlXPathCompExprPtr> compiled;
    // Derived from the tree: dropped by DocumentChanged() and with the context.
    AttributeIndexes indexes;
    DocumentPrefixes declaredPrefixes;
    bool declaredPrefixesRead = false;
    // The caller's bindings, and what is registered in the context now.
    PrefixBindings selectionNamespaces;
    PrefixBindings registered;
    std::string failure;

    // The context for `target`, made anew when the document is another one.
    xmlXPathContext* ContextFor(xmlDoc* target) {
        if (context == nullptr || doc != target) {
            context.reset(xmlXPathNewContext(target));
            doc = context == nullptr ? nullptr : target;
            Forget();
            registered.clear();
        }
        return context.get();
    }

    void Forget() {
        indexes.Clear();
        declaredPrefixesRead = false;
    }

    // The prefix declarations of the document, read once per change.
    const DocumentPrefixes* Declared() {
        if (!declaredPrefixesRead) {
            declaredPrefixes.Read(doc);
            declaredPrefixesRead = true;
        }
        return &declaredPrefixes;
    }

    // Registers in the context the namespace of each prefix `expression`
    // uses, and no other. E_FAIL (with `failure`) when one cannot be resolved.
    HRESULT BindPrefixes(xmlXPathContext* ctx, const std::string& expression) {
        PrefixBindings resolved;
        if (!ResolvePrefixes(
                expression, selectionNamespaces, [this] { return Declared(); }, resolved,
                failure)) {
            return E_FAIL;
        }
        if (Same(resolved, registered)) return S_OK;
        registered.clear();
        xmlXPathRegisteredNsCleanup(ctx);
        for (const PrefixBinding& binding : resolved) {
            if (xmlXPathRegisterNs(ctx, ToXml(binding.prefix.c_str()),
                                   ToXml(binding.uri.c_str())) != 0) {
                xmlXPathRegisteredNsCleanup(ctx);
                return E_OUTOFMEMORY;
            }
        }
        registered = std::move(resolved);
        return S_OK;
    }

    static bool Same(const PrefixBindings& a, const PrefixBindings& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                          [](const PrefixBinding& x, const PrefixBinding& y) {
                              return x.prefix == y.prefix && x.uri == y.uri;
                          });
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

bool IsXPathSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// True when `expression` names the namespace axis ("namespace", optional
// white space, "::"). Text inside a literal may match too: the expression is
// then merely held to the lower limit.
bool NamesNamespaceAxis(const std::string& expression) {
    constexpr std::string_view kAxis = "namespace";
    for (size_t at = expression.find(kAxis); at != std::string::npos;
         at = expression.find(kAxis, at + 1)) {
        size_t next = at + kAxis.size();
        while (next < expression.size() && IsXPathSpace(expression[next])) ++next;
        if (expression.compare(next, 2, "::") == 0) return true;
    }
    return false;
}

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

// Whether `before` comes before `after` in document order, by libxml2's own
// comparison. Adjacent siblings (the common case: the children of one
// parent) are recognised from their links alone; libxml2's comparison walks
// the tree, and comparing every pair was the costliest part of selecting many
// nodes after the evaluation itself.
bool Precedes(xmlNode* before, xmlNode* after) {
    // A namespace node is an xmlNs, whose `next` is no sibling link.
    if (before->type != XML_NAMESPACE_DECL && after->type != XML_NAMESPACE_DECL &&
        before->next == after) {
        return true;
    }
    return xmlXPathCmpNodes(before, after) == 1;
}

bool InDocumentOrder(const xmlNodeSet* set) {
    for (int i = 1; i < set->nodeNr; ++i) {
        if (!Precedes(set->nodeTab[i - 1], set->nodeTab[i])) return false;
    }
    return true;
}

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

// Hands the hits of `set` to `receive` in document order, checking the
// order on the way (one pass over the nodes instead of a check and a copy);
// sorts the set and starts again should two nodes be out of order.
HRESULT Deliver(xmlNodeSet* set, bool firstOnly, const HitReceiver& receive) {
    const int total = set == nullptr ? 0 : set->nodeNr;
    if (total == 0) return S_OK;
    if (firstOnly && total > 1 && !InDocumentOrder(set)) xmlXPathNodeSetSort(set);
    const int count = firstOnly ? 1 : total;
    // The nodes lie apart in memory, in no pattern the processor foresees:
    // asking for one a few steps ahead hides most of the wait for each.
    constexpr int kAhead = 8;
    for (int i = 0; i < count; ++i) {
        if (i + kAhead < count) __builtin_prefetch(set->nodeTab[i + kAhead]);
        if (i > 0 && !Precedes(set->nodeTab[i - 1], set->nodeTab[i])) {
            xmlXPathNodeSetSort(set);
            return Deliver(set, false, receive);  // sorted now: no second restart
        }
        const HRESULT hr =
            receive(static_cast<size_t>(i), static_cast<size_t>(count), HitFor(set->nodeTab[i]));
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

}  // namespace

XPathEvaluator::XPathEvaluator(WorkLimits limits) : state_(std::make_unique<State>()) {
    state_->limits = limits;
}
XPathEvaluator::~XPathEvaluator() = default;

HRESULT XPathEvaluator::Select(xmlDoc* doc, xmlNode* context, const std::string& expression,
                               bool firstOnly, std::vector<XPathHit>& hits, bool deepTree) {
    std::vector<XPathHit> found;
    const HRESULT hr = Select(
        doc, context, expression, firstOnly,
        [&found](size_t index, size_t count, const XPathHit& hit) -> HRESULT {
            if (index == 0) {
                found.clear();
                found.reserve(count);
            }
            found.push_back(
                XPathHit{hit.node, hit.ns ? std::make_unique<NamespaceHit>(*hit.ns) : nullptr});
            return S_OK;
        },
        deepTree);
    if (FAILED(hr)) return hr;
    hits = std::move(found);
    return S_OK;
}

HRESULT XPathEvaluator::Select(xmlDoc* doc, xmlNode* context, const std::string& expression,
                               bool firstOnly, const HitReceiver& receive, bool deepTree) {
    if (doc == nullptr) return E_INVALIDARG;
    ErrorSilencer silence;
    xmlXPathContext* ctx = state_->ContextFor(doc);
    if (ctx == nullptr) return E_OUTOFMEMORY;
    const ContextReportsTo reports(ctx, silence);
    xmlXPathCompExpr* comp = nullptr;
    HRESULT hr = Prepare(ctx, silence, expression, comp);
    if (FAILED(hr)) return hr;
    if (deepTree && MayBeStreamed(expression)) {
        comp = state_->Compiled(ctx, Unstreamed(expression));
        if (comp == nullptr) {
            return silence.OutOfMemory() ? E_OUTOFMEMORY : Invalid(ctx, expression);
        }
    }
    // Only a well-formed expression reaches the index, so errors stay libxml2's.
    std::vector<XPathHit> indexed;
    if (state_->indexes.TryAnswer(ctx, doc, expression, firstOnly, indexed, deepTree)) {
        for (size_t i = 0; i < indexed.size(); ++i) {
            hr = receive(i, indexed.size(), indexed[i]);
            if (FAILED(hr)) return hr;
        }
        return S_OK;
    }
    if (const auto name = DescendantNameTest(expression)) {
        // Each hit is handed over while the walk is at it, its node still
        // in the processor's cache; how many there are is not known yet.
        size_t index = 0;
        return VisitElementsNamed(doc, std::string(*name), firstOnly, [&](xmlNode* node) {
            return receive(index++, kCountNotKnown, HitFor(node));
        });
    }
    XmlXPathObjectPtr result;
    hr = Run(doc, context, ctx, silence, comp, expression, result);
    if (FAILED(hr)) return hr;
    if (result->type != XPATH_NODESET) {
        state_->failure = "The expression '" + expression + "' does not select nodes";
        return E_FAIL;
    }
    return Deliver(result->nodesetval, firstOnly, receive);
}

HRESULT XPathEvaluator::Prepare(xmlXPathContext* ctx, const ErrorSilencer& silence,
                                const std::string& expression, xmlXPathCompExpr*& comp) {
    state_->failure.clear();
    if (expression.find(':') != std::string::npos) {
        const HRESULT hr = state_->BindPrefixes(ctx, expression);
        if (FAILED(hr)) return hr;
    }
    xmlResetError(&ctx->lastError);
    comp = state_->Compiled(ctx, expression);
    if (comp == nullptr) return silence.OutOfMemory() ? E_OUTOFMEMORY : Invalid(ctx, expression);
    // libxml2 counts operations on the context, across evaluations, and stops
    // one that passes opLimit with an error: each expression starts afresh,
    // the building of an index for it included.
    ctx->opLimit = NamesNamespaceAxis(expression) ? state_->limits.namespaceAxisOperations
                                                  : state_->limits.operations;
    ctx->opCount = 0;
    return S_OK;
}

HRESULT XPathEvaluator::Run(xmlDoc* doc, xmlNode* context, xmlXPathContext* ctx,
                            const ErrorSilencer& silence, xmlXPathCompExpr* comp,
                            const std::string& expression, XmlXPathObjectPtr& result) {
    ctx->node = context != nullptr ? context : reinterpret_cast<xmlNode*>(doc);
    ctx->contextSize = -1;
    ctx->proximityPosition = -1;
    result.reset(xmlXPathCompiledEval(comp, ctx));
    ctx->node = nullptr;
    // After an allocation failure libxml2 may hand back a partial node-set.
    if (silence.OutOfMemory()) return E_OUTOFMEMORY;
    // On reaching the limit libxml2 sets the count to it and hands back no result.
    if (result == nullptr && ctx->opCount >= ctx->opLimit) {
        state_->failure =
            "The expression '" + expression + "' needs more work than a query may take";
        return E_ABORT;
    }
    if (result == nullptr) return Invalid(ctx, expression);
    return S_OK;
}

HRESULT XPathEvaluator::Invalid(xmlXPathContext* ctx, const std::string& expression) {
    state_->failure = "The expression '" + expression + "' is not valid XPath 1.0";
    if (ctx->lastError.code != XML_ERR_OK) {
        state_->failure += " (error at character " + std::to_string(ctx->lastError.int1 + 1) + ")";
    }
    return E_FAIL;
}

HRESULT XPathEvaluator::Evaluate(xmlDoc* doc, xmlNode* context, const std::string& expression,
                                 XPathValue& value) {
    if (doc == nullptr) return E_INVALIDARG;
    ErrorSilencer silence;
    xmlXPathContext* ctx = state_->ContextFor(doc);
    if (ctx == nullptr) return E_OUTOFMEMORY;
    const ContextReportsTo reports(ctx, silence);
    xmlXPathCompExpr* comp = nullptr;
    HRESULT hr = Prepare(ctx, silence, expression, comp);
    if (FAILED(hr)) return hr;
    XmlXPathObjectPtr result;
    hr = Run(doc, context, ctx, silence, comp, expression, result);
    if (FAILED(hr)) return hr;
    switch (result->type) {
        case XPATH_NUMBER:
            value.kind = XPathValue::Kind::kNumber;
            value.number = result->floatval;
            return S_OK;
        case XPATH_BOOLEAN:
            value.kind = XPathValue::Kind::kBoolean;
            value.boolean = result->boolval != 0;
            return S_OK;
        default: {
            // Strings as they are; node-sets (and anything else) by XPath's
            // string() rule.
            XmlCharPtr text(xmlXPathCastToString(result.get()));
            if (text == nullptr) return E_OUTOFMEMORY;
            value.kind = XPathValue::Kind::kString;
            value.text = FromXml(text.get());
            return S_OK;
        }
    }
}

void XPathEvaluator::DocumentChanged() {
    // The context holds only the document pointer (checked on every call) and
    // compiled expressions are tree-independent (prefixes are looked up as
    // they are evaluated): only what was read from the tree goes.
    state_->Forget();
}

void XPathEvaluator::SetSelectionNamespaces(PrefixBindings bindings) {
    state_->selectionNamespaces = std::move(bindings);
}

const std::string& XPathEvaluator::FailureReason() const {
    return state_->failure;
}

}  // namespace xmlutil::xmldom
