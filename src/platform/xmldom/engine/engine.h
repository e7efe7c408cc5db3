// SPDX-License-Identifier: MIT
// The XML engine under the DOM objects: safe parsing, serialising and XPath
// evaluation over libxml2 documents. Everything here speaks UTF-8 and libxml2
// types; the DOM objects (node wrappers, lists, the document) sit on top and
// own the conversion to and from wide text. Nothing here prints: libxml2's
// error output is collected and dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/xmldom/engine/byte_sink.h"
#include "platform/xmldom/engine/file_io.h"
#include "platform/xmldom/engine/xml_ptr.h"
#include "platform/xmldom/engine/xpath_namespaces.h"
#include "xmlutil/wintypes.h"

namespace xmlutil::xmldom {

class ErrorSilencer;

// ---- parsing -----------------------------------------------------------------

struct ParseRequest {
    // The input: bytes in memory, or (when `file` is set) the file's bytes,
    // read as the parse goes.
    const char* data = nullptr;
    size_t size = 0;
    file::InputFile* file = nullptr;
    // True for loadXML: `data` is UTF-8 made from the caller's Unicode text, so
    // an encoding named in its declaration is ignored.
    bool fromUnicodeText = false;
    // True keeps every whitespace-only text node; false drops those that have
    // siblings (indentation) unless xml:space="preserve" applies.
    bool preserveWhiteSpace = false;
    // True refuses a document that has a document type declaration.
    bool prohibitDtd = false;
    // Elements nested deeper than this are refused; 0 keeps libxml2's own
    // limit (256), which a larger value cannot raise.
    size_t maxElementDepth = 0;
};

// Why a parse failed: the first error the parser (or a check of ours)
// reported, and where.
enum class ParseFailureKind {
    kNone,
    kNotWellFormed,
    kEncoding,    // an unknown encoding, or bytes the encoding does not have
    kRefusedDtd,  // a DTD under prohibitDtd, or a reference to an external entity
    kTooLarge,    // nesting or entity expansion past a limit
    kUnreadable,  // the file could not be read
    kOutOfMemory,
};

struct ParseFailure {
    ParseFailureKind kind = ParseFailureKind::kNone;
    std::string reason;   // one line of UTF-8, from the parser's own message
    long line = 0;        // from 1; 0 when unknown
    long linepos = 0;     // character on the line, from 1; 0 when unknown
    long filepos = 0;     // characters before the error (text in memory), or
                          // bytes of the input as UTF-8 before it (a file)
    std::string srcText;  // the text of the line around the error, UTF-8
};

// Parses the request's bytes. Never touches the network or any other file, loads no
// external DTD or entity, expands internal entities under libxml2's
// amplification check, keeps the default depth limit, refuses a NUL character.
// S_OK: `out` holds the document; when the input had an XML declaration it is
// the document's first child, a processing instruction with target "xml" whose
// data is the declaration's pseudo-attributes (`version="1.0" encoding="gb2312"`).
// S_FALSE: the input is not well-formed (namespace errors included) or was
// refused as hostile; `out` is untouched. E_OUTOFMEMORY when an allocation
// failed (libxml2 may otherwise pass off a partial tree as well-formed).
// When not S_OK, `failure` (if given) says why.
HRESULT ParseDocument(const ParseRequest& request, XmlDocPtr& out, ParseFailure* failure = nullptr);

// ---- serialising -------------------------------------------------------------

// Checks the subtree of `node` (every top-level node for the document node)
// against the size limits the loader applies (xmlutil/load_limits.h): names,
// texts, attribute values and the number of attributes of an element. S_OK,
// or HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE) when the loader would refuse
// its markup.
HRESULT CheckLoadableSizes(const xmlNode* node);

// The markup of `node` with its subtree as UTF-8, no indentation added. For the
// document node: every top-level node, the declaration included without its
// encoding pseudo-attribute (the text is not in the encoding it would name;
// saving writes it whole), as for the declaration node itself.
// E_OUTOFMEMORY when it cannot be built; refused as CheckLoadableSizes says.
HRESULT SerializeToUtf8(xmlNode* node, std::string& utf8);

// The bytes of a file holding the whole document: one declaration, the "xml"
// processing instruction, written as it stands, when the document has one
// (none is added when it has none: it would load back as an extra node),
// encoded in the encoding it names (UTF-8 when none); a character
// that encoding cannot hold becomes a character reference in text and
// attribute values. With `indent`, elements that hold no text of their own
// are indented, never inside xml:space="preserve". Refused with a negative
// code, so that what is saved always loads back equal:
//  - HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION) when the encoding cannot
//    hold a character of a name, comment, CDATA section or processing
//    instruction, or the encoding is unknown or does not read back the same
//    (EBCDIC, UTF-7, Shift_JIS's yen sign, names only ICU knows);
//  - HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE) as CheckLoadableSizes says;
//  - E_FAIL when the document has no root element, when the tree is deeper
//    than the parser accepts, when the declaration's data is not a valid
//    declaration, when a processing instruction named "xml" stands anywhere
//    but first in the document, or when an entity reference names an entity
//    the saved document would neither declare nor leave to an external subset
//    (see ReferenceLoadsIn).
// The bytes are written to `sink` as they are made, after every check passed;
// a failing sink stops the save with its code. libxml2 running out of memory
// while writing is E_OUTOFMEMORY: the written part is then incomplete.
HRESULT SerializeForSave(xmlDoc* doc, bool indent, file::ByteSink& sink);
// The same, collected in `bytes` (replaced only on success).
HRESULT SerializeForSave(xmlDoc* doc, bool indent, std::string& bytes);

// ---- XPath -------------------------------------------------------------------

// A namespace-axis result: not a node of the tree but a declaration in scope
// of an element, given as its prefix ("" for the default namespace), URI and
// that element.
struct NamespaceHit {
    std::string prefix;
    std::string uri;
    xmlNode* owner = nullptr;
};

// One node an expression selected: `node`, or for a namespace-axis result
// `ns` with `node` null. Two pointers, so that a selection of a million
// nodes is a small array.
struct XPathHit {
    xmlNode* node = nullptr;
    std::unique_ptr<NamespaceHit> ns;
};

// Receives the hits of a selection one by one, in document order, `index`
// counting from 0 up to `count` - 1; `count` is kCountNotKnown when the hits
// are handed over as they are found (the last index then tells how many).
// Should libxml2's node set turn out to be out of order part way, the
// evaluator sorts it and starts again from index 0: a receiver drops what it
// had when index 0 comes again. A failure it returns stops the selection and
// is the selection's result.
using HitReceiver = std::function<HRESULT(size_t index, size_t count, const XPathHit& hit)>;
inline constexpr size_t kCountNotKnown = 0;

// Evaluates XPath 1.0 expressions against one document, reusing its context
// and compiled expressions, and whatever else it derives from the document
// until DocumentChanged() says the tree changed. Used by one thread at a time.
// Depth from which a tree is queried without libxml2's streaming (which
// descends 10,000 levels); a parsed document stays far above it.
inline constexpr size_t kStreamingDepthGuard = 9000;

// True when libxml2 may evaluate `expression` by streaming and descend
// without a bound of its own: it streams paths with no predicate, function
// call or attribute step, and `//` is what descends.
inline bool MayBeStreamed(std::string_view expression) {
    return expression.find("//") != std::string_view::npos &&
           expression.find_first_of("[(@") == std::string_view::npos;
}

// The expression in parentheses: it selects the same nodes, and libxml2
// never streams it. Only for an expression that compiles as it is (the
// parentheses could join the halves of a malformed one).
inline std::string Unstreamed(const std::string& expression) {
    return "(" + expression + ")";
}

// The value of an expression that yields a number, a string or a boolean; a
// node-set is given as its string value (that of its first node in document
// order, "" for none), as XPath's string() gives it.
struct XPathValue {
    enum class Kind { kNumber, kString, kBoolean };
    Kind kind = Kind::kString;
    double number = 0;
    bool boolean = false;
    std::string text;  // UTF-8
};

class XPathEvaluator {
  public:
    // The most work one evaluation may do, in libxml2's XPath operations
    // (about one per node a step visits or a union takes in). The namespace
    // axis allocates a copy of every declaration in scope at each element it
    // visits, several microseconds each in libxml2 2.9.14, so an expression
    // that names that axis is held to a lower bound. XMLUtil.h documents both.
    struct WorkLimits {
        unsigned long operations;
        unsigned long namespaceAxisOperations;
    };
    static constexpr WorkLimits kWorkLimits{50'000'000, 250'000};

    explicit XPathEvaluator(WorkLimits limits = kWorkLimits);
    ~XPathEvaluator();
    XPathEvaluator(const XPathEvaluator&) = delete;
    XPathEvaluator& operator=(const XPathEvaluator&) = delete;

    // S_OK with every node the expression selects from `context` (a node of
    // `doc`, or `doc` itself), in document order, possibly none; with
    // `firstOnly`, at most the first in document order. E_FAIL for a malformed
    // expression or one that does not yield a node-set; E_ABORT, with nothing
    // handed out, when the evaluation reaches its work limit. E_OUTOFMEMORY.
    // `deepTree` when a tree of `doc` may reach kStreamingDepthGuard levels:
    // libxml2 evaluates simple paths with `//` by streaming, and its stream
    // stops 10,000 levels down, silently leaving out what lies deeper; such
    // paths are then evaluated without streaming (slower, complete).
    HRESULT Select(xmlDoc* doc, xmlNode* context, const std::string& expression, bool firstOnly,
                   std::vector<XPathHit>& hits, bool deepTree = false);
    // The same, handing the hits to `receive` as they are read from libxml2's
    // result (no list of them is kept).
    HRESULT Select(xmlDoc* doc, xmlNode* context, const std::string& expression, bool firstOnly,
                   const HitReceiver& receive, bool deepTree = false);

    // The value of `expression` evaluated from `context` (a node of `doc`, or
    // `doc` itself). E_FAIL for a malformed expression. E_OUTOFMEMORY.
    HRESULT Evaluate(xmlDoc* doc, xmlNode* context, const std::string& expression,
                     XPathValue& value);

    // Must be called after any change to the tree, names, values or text of
    // the document (or when it is replaced): drops everything derived from it.
    void DocumentChanged();

    // Prefixes in expressions resolve to these bindings first, then to the
    // document's own declaration of the prefix (the first in document order).
    // A prefix bound nowhere, or declared with different namespaces in the
    // document and not bound here, fails the selection with E_FAIL.
    void SetSelectionNamespaces(PrefixBindings bindings);
    // Why the last Select answered E_FAIL, one line naming what was wrong
    // ("" after a selection that did not fail).
    const std::string& FailureReason() const;

  private:
    // E_FAIL, with the reason that `expression` does not compile or evaluate.
    HRESULT Invalid(xmlXPathContext* ctx, const std::string& expression);
    // Binds the prefixes `expression` uses, compiles it into `comp` and
    // starts the context's work count afresh with the expression's limit.
    HRESULT Prepare(xmlXPathContext* ctx, const ErrorSilencer& silence,
                    const std::string& expression, xmlXPathCompExpr*& comp);
    // Evaluates `comp` from `context` (a node of `doc`, or `doc`) into
    // `result`: E_ABORT past the work limit, E_FAIL when it yields nothing.
    HRESULT Run(xmlDoc* doc, xmlNode* context, xmlXPathContext* ctx, const ErrorSilencer& silence,
                xmlXPathCompExpr* comp, const std::string& expression, XmlXPathObjectPtr& result);

    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace xmlutil::xmldom
