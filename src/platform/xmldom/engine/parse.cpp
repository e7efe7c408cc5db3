// SPDX-License-Identifier: MIT
// Parsing a file or text with the defences the DOM service promises: no
// network access and no file but the one loaded, no external entity,
// internal entities expanded under libxml2's amplification check, libxml2's
// depth limit kept, NUL characters refused, nothing printed. After a
// successful parse the tree is brought to the shape callers expect:
// indentation dropped and the declaration kept as the document's first child.
#include <libxml/SAX2.h>
#include <libxml/parserInternals.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/xmldom/engine/attribute_bound.h"
#include "platform/xmldom/engine/declaration.h"
#include "platform/xmldom/engine/engine.h"
#include "platform/xmldom/engine/error_guard.h"
#include "platform/xmldom/engine/transcode.h"
#include "platform/xmldom/engine/unread_entities.h"
#include "platform/xmldom/engine/xml_space.h"

namespace xmlutil::xmldom {
namespace {

// What the parser callbacks learn beyond what libxml2 records itself. Reached
// through the parser context's `_private`.
struct ParseObservations {
    // What the expansion of entity references and defaulted namespace
    // declarations may build in all. libxml2 2.9.14 bounds neither the sum
    // over attribute values nor, in content, entities that reference other
    // entities (it counts their replacement text as written, not as
    // expanded: 200 KB of input built 2 GB), nor a namespace declaration the
    // DTD gives every element by default (180 KB built 2 GB).
    size_t expansionLimit = 0;
    size_t expandedBytes = 0;
    // Size of what one more reference to an already parsed entity copies.
    std::unordered_map<const xmlEntity*, size_t> expandedSizes;
    // Bytes libxml2 rescans when it appends a copied entity to the text
    // before it (it measures the whole text node each time): many references
    // into one long text would take quadratic time.
    size_t rescannedBytes = 0;
    bool expansionRefused = false;
    // General entities the internal subset declares with a SYSTEM or PUBLIC
    // identifier: never read, their references are kept as nodes.
    std::unordered_set<std::string> unreadEntities;
    // The same for parameter entities.
    std::unordered_set<std::string> unreadParameterEntities;
    // References libxml2 found no entity for, and those of them kept as
    // entity-reference nodes. Any other (in an attribute value, or one that
    // is a well-formedness error) refuses the document.
    size_t unresolvedReferences = 0;
    size_t keptReferences = 0;
    // A context whose flags were eased for one reference to an unread
    // entity, with what they were (see EaseForUnreadEntity).
    xmlParserCtxt* easedContext = nullptr;
    int savedStandalone = 0;
    int savedHasPErefs = 0;
    // libxml2 may stop building after an allocation failed and still call
    // the partial document well-formed.
    bool outOfMemory = false;
    // The document's own parser context (entity content is parsed in others).
    const xmlParserCtxt* documentContext = nullptr;
    // The caller's limits.
    bool prohibitDtd = false;
    size_t maxElementDepth = 0;
    // The first error that explains a refusal.
    ParseFailure failure;
    // Elements are checked as they are built; the tree pass after the parse
    // is needed only when white space reached the tree as text (it may have
    // to go), or when elements were built in another context (entity
    // content, whose copies the pass checks in place).
    bool treePassNeeded = false;
};

// Amplification allowed for entity expansion: the larger of 10 MB and ten
// times the input (the bound libxml2 applies to content).
constexpr size_t kMinExpansionLimit = 10 * 1024 * 1024;
constexpr size_t kExpansionFactor = 10;
// Rescanning this much text takes libxml2 (and the check) well under a tenth
// of a second here; it takes tens of thousands of references into one text
// to reach it. 99 references to a 100 KB entity in one text rescan 485 MB.
constexpr size_t kRescanBudget = size_t{1024} * 1024 * 1024;

// The observations of the parse behind `parserContext`. libxml2 hands the
// entity parsers it nests their own context, with `_private` copied over.
ParseObservations* ObservationsOf(void* parserContext) {
    auto* ctxt = static_cast<xmlParserCtxt*>(parserContext);
    return ctxt == nullptr ? nullptr : static_cast<ParseObservations*>(ctxt->_private);
}

// ---- what went wrong, and where ------------------------------------------------

// Bytes of the offending line kept before and after the error position.
constexpr size_t kSourceBefore = 160;
constexpr size_t kSourceAfter = 80;

bool IsContinuationByte(xmlChar c) {
    return (c & 0xC0) == 0x80;
}

// The input an error belongs to, as libxml2 reports it: the entity reference
// in the document rather than the entity's own text.
const xmlParserInput* ReportedInput(const xmlParserCtxt* ctxt) {
    if (ctxt == nullptr || ctxt->input == nullptr) return nullptr;
    if (ctxt->input->filename == nullptr && ctxt->inputNr > 1) {
        return ctxt->inputTab[ctxt->inputNr - 2];
    }
    return ctxt->input;
}

// The bytes as UTF-8, each byte that starts no valid character replaced by
// U+FFFD (the input may hold what its encoding does not have).
std::string ValidUtf8(const xmlChar* bytes, size_t size) {
    std::string text;
    text.reserve(size);
    size_t i = 0;
    while (i < size) {
        int length = static_cast<int>(std::min<size_t>(size - i, 4));
        if (xmlGetUTF8Char(bytes + i, &length) < 0 || length <= 0) {
            text += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        text.append(reinterpret_cast<const char*>(bytes + i), static_cast<size_t>(length));
        i += static_cast<size_t>(length);
    }
    return text;
}

// The line around the parser's position, as far as libxml2 still holds it
// (it keeps at least 80 bytes before the position), cut to a few hundred
// bytes on whole characters.
std::string LineAround(const xmlParserInput* input) {
    if (input == nullptr || input->base == nullptr || input->cur == nullptr) return {};
    const xmlChar* const cur = input->cur;
    const xmlChar* const end = input->end != nullptr ? input->end : cur + xmlStrlen(cur);
    const xmlChar* start = cur;
    while (start > input->base && static_cast<size_t>(cur - start) < kSourceBefore &&
           start[-1] != '\n' && start[-1] != '\r') {
        --start;
    }
    while (start < cur && IsContinuationByte(*start)) ++start;
    const xmlChar* stop = cur;
    while (stop < end && static_cast<size_t>(stop - cur) < kSourceAfter && *stop != '\n' &&
           *stop != '\r') {
        ++stop;
    }
    while (stop > cur && stop < end && IsContinuationByte(*stop)) --stop;
    return ValidUtf8(start, static_cast<size_t>(stop - start));
}

// libxml2's message on one line: line breaks become spaces, runs of spaces
// one, the ends trimmed.
std::string OneLine(const char* message) {
    std::string line;
    for (const char* c = message; c != nullptr && *c != '\0'; ++c) {
        const char ch = (*c == '\n' || *c == '\r' || *c == '\t') ? ' ' : *c;
        if (ch == ' ' && (line.empty() || line.back() == ' ')) continue;
        line.push_back(ch);
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

// How far an error report may read the parser's input: its text, or (for a
// report raised while libxml2 grows the input buffer, whose pointers then
// still point into the old, freed buffer) only its line and column counts.
enum class InputAccess { kText, kCountsOnly };

// Records why the parse fails, unless an earlier error already did: the
// reason `makeReason` gives, at the parser's position or at `line` /
// `column` when they are known. Called from libxml2's callbacks, so nothing
// is thrown: running out of memory is noted instead.
template <class MakeReason>
void NoteFailure(ParseObservations& obs, const xmlParserCtxt* ctxt, ParseFailureKind kind,
                 const MakeReason& makeReason, long line = 0, long column = 0,
                 InputAccess access = InputAccess::kText) noexcept {
    ParseFailure& failure = obs.failure;
    if (failure.kind != ParseFailureKind::kNone) return;
    try {
        failure.reason = makeReason();
        const xmlParserInput* input = ReportedInput(ctxt);
        failure.line = line > 0 ? line : (input != nullptr ? input->line : 0);
        failure.linepos = column > 0 ? column : (input != nullptr ? input->col : 0);
        if (access == InputAccess::kText && input != nullptr && input->base != nullptr &&
            input->cur != nullptr) {
            failure.filepos = static_cast<long>(input->consumed) + (input->cur - input->base);
            failure.srcText = LineAround(input);
        }
        failure.kind = kind;
    } catch (const std::bad_alloc&) {
        obs.outOfMemory = true;
    }
}

bool StartsWith(const char* text, const char* prefix) {
    return text != nullptr && std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// The kind of failure a libxml2 error stands for.
ParseFailureKind KindOf(const ParseObservations& obs, const xmlError& error) {
    switch (error.code) {
        case XML_ERR_NO_MEMORY:
            return ParseFailureKind::kOutOfMemory;
        case XML_ERR_UNKNOWN_ENCODING:
        case XML_ERR_UNSUPPORTED_ENCODING:
        case XML_ERR_INVALID_ENCODING:
            return ParseFailureKind::kEncoding;
        case XML_ERR_INVALID_CHAR:
            return StartsWith(error.message, "Input is not proper")
                       ? ParseFailureKind::kEncoding
                       : ParseFailureKind::kNotWellFormed;
        case XML_ERR_ENTITY_LOOP:
            return ParseFailureKind::kTooLarge;
        case XML_ERR_INTERNAL_ERROR:
            return StartsWith(error.message, "Excessive depth") ||
                           StartsWith(error.message, "Huge input")
                       ? ParseFailureKind::kTooLarge
                       : ParseFailureKind::kNotWellFormed;
        case XML_ERR_UNDECLARED_ENTITY:
        case XML_WAR_UNDECLARED_ENTITY:
            return error.str1 != nullptr && obs.unreadEntities.count(error.str1) != 0
                       ? ParseFailureKind::kRefusedDtd
                       : ParseFailureKind::kNotWellFormed;
        default:
            return error.domain == XML_FROM_I18N ? ParseFailureKind::kEncoding
                                                 : ParseFailureKind::kNotWellFormed;
    }
}

// The reason given for a libxml2 error: its message on one line, without
// advice about libxml2's own options, and saying why a known external entity
// is missing.
std::string ReasonFor(const ParseObservations& obs, const xmlError& error) {
    std::string reason = OneLine(error.message);
    const size_t advice = reason.find(" use XML_PARSE_HUGE");
    if (advice != std::string::npos) reason.erase(advice);
    if (KindOf(obs, error) == ParseFailureKind::kRefusedDtd) {
        reason += " (its declaration names an external resource, which is never loaded)";
    }
    return reason;
}

// Records a libxml2 error that fails the parse: errors and fatal errors,
// and the warning about an undeclared entity in content (a failure here).
void NoteLibxmlError(ParseObservations& obs, const xmlParserCtxt* ctxt, const xmlError& error,
                     InputAccess access = InputAccess::kText) noexcept {
    const bool undeclaredEntity = error.code == XML_WAR_UNDECLARED_ENTITY;
    if (error.level < XML_ERR_ERROR && !undeclaredEntity) return;
    ParseFailureKind kind;
    try {
        kind = KindOf(obs, error);
    } catch (const std::bad_alloc&) {
        obs.outOfMemory = true;
        return;
    }
    NoteFailure(
        obs, ctxt, kind, [&] { return ReasonFor(obs, error); }, error.line, error.int2, access);
}

// What copying a node list builds, in bytes: the text it holds plus a
// share for every node (a node takes about 120 bytes of memory however
// short its markup), so an entity of many empty elements counts too.
constexpr size_t kNodeCost = 64;

size_t CopyCostOf(const xmlNode* first) {
    size_t total = 0;
    for (const xmlNode* top = first; top != nullptr; top = top->next) {
        const xmlNode* cur = top;
        while (cur != nullptr) {
            total += kNodeCost;
            total += cur->content != nullptr ? static_cast<size_t>(xmlStrlen(cur->content)) : 0;
            if (cur->type == XML_ELEMENT_NODE) {
                for (const xmlAttr* a = cur->properties; a != nullptr; a = a->next) {
                    total += kNodeCost;
                    for (const xmlNode* t = a->children; t != nullptr; t = t->next) {
                        total +=
                            t->content != nullptr ? static_cast<size_t>(xmlStrlen(t->content)) : 0;
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
    return total;
}

// What one reference to `ent` adds. Before the entity's first expansion its
// replacement text is parsed, and the references inside it come through the
// lookup themselves; afterwards libxml2 copies the parsed nodes.
size_t ExpansionOf(ParseObservations& obs, const xmlEntity* ent) {
    if (ent->children == nullptr) return static_cast<size_t>(ent->length);
    const auto known = obs.expandedSizes.find(ent);
    if (known != obs.expandedSizes.end()) return known->second;
    const size_t size = std::max(static_cast<size_t>(ent->length), CopyCostOf(ent->children));
    obs.expandedSizes.emplace(ent, size);
    return size;
}

// Marks the parse as failed without halting it: libxml2 expands no further
// reference once the document is known not to be well-formed, and builds no
// more of the tree once SAX is disabled.
void RefuseExpansion(xmlParserCtxt* ctxt, ParseObservations* obs) {
    NoteFailure(*obs, ctxt, ParseFailureKind::kTooLarge,
                [] { return std::string("Entity expansion exceeds the limit for this input"); });
    obs->expansionRefused = true;
    ctxt->wellFormed = 0;
    ctxt->disableSAX = 1;
}

// Whether a reference in content to `name`, which libxml2 has no entity for,
// is kept as an entity-reference node: the entity is declared but never
// read, or the document has an external subset or parameter-entity
// references (never read either) and is not standalone, so that XML makes an
// undeclared entity a validity matter. Attribute values cannot hold one.
bool KeepsUnresolvedReference(const xmlParserCtxt* ctxt, const ParseObservations& obs,
                              const xmlChar* name) {
    if (ctxt->instate == XML_PARSER_ATTRIBUTE_VALUE) return false;
    if (obs.unreadEntities.count(FromXml(name)) != 0) return true;
    const xmlParserCtxt* doc = obs.documentContext;
    return doc != nullptr && doc->standalone != 1 &&
           (doc->hasExternalSubset != 0 || doc->hasPErefs != 0);
}

void RestoreEasedContext(ParseObservations& obs) {
    if (obs.easedContext == nullptr) return;
    obs.easedContext->standalone = obs.savedStandalone;
    obs.easedContext->hasPErefs = obs.savedHasPErefs;
    obs.easedContext = nullptr;
}

// libxml2 calls a reference to an entity it has no entry for a fatal error
// unless the context has an external subset or parameter-entity references
// and is not standalone; then it warns and hands the name to the `reference`
// handler. For a reference that is to be kept, the context says so until
// that warning comes (entity content is parsed in a context of its own,
// which knows nothing of the document's subsets).
void EaseContext(xmlParserCtxt* ctxt, ParseObservations& obs) {
    RestoreEasedContext(obs);
    obs.easedContext = ctxt;
    obs.savedStandalone = ctxt->standalone;
    obs.savedHasPErefs = ctxt->hasPErefs;
    ctxt->standalone = 0;
    ctxt->hasPErefs = 1;
}

void EaseForUnreadEntity(xmlParserCtxt* ctxt, ParseObservations& obs, const xmlChar* name) {
    RestoreEasedContext(obs);
    if (KeepsUnresolvedReference(ctxt, obs, name)) EaseContext(ctxt, obs);
}

// True when the document's own input has just been read up to the reference
// `%name;`: libxml2 also asks for a parameter entity at the end of its
// declaration and while it expands entity values.
bool ReadParameterReference(const xmlParserCtxt* ctxt, const xmlChar* name) {
    const xmlParserInput* input = ctxt->input;
    if (ctxt->inputNr != 1 || input == nullptr || input->cur == nullptr) return false;
    const size_t length = static_cast<size_t>(xmlStrlen(name));
    const size_t read = static_cast<size_t>(input->cur - input->base);
    return read >= length + 2 && input->cur[-1] == ';' && input->cur[-2 - length] == '%' &&
           std::memcmp(input->cur - 1 - length, name, length) == 0;
}

// Looks a parameter entity up for a reference in the internal subset and
// keeps the reference in the document type, where libxml2 keeps none. A
// reference to an unread one is eased into a validity matter, as XML lets a
// parser that does not read it skip it.
xmlEntity* GetParameterEntityKeepingReferences(void* ctx, const xmlChar* name) {
    xmlEntity* ent = xmlSAX2GetParameterEntity(ctx, name);
    auto* ctxt = static_cast<xmlParserCtxt*>(ctx);
    ParseObservations* obs = ObservationsOf(ctx);
    if (obs == nullptr || ctxt != obs->documentContext || ctxt->inSubset != 1 ||
        !ReadParameterReference(ctxt, name)) {
        return ent;
    }
    if (ent == nullptr && obs->unreadParameterEntities.count(FromXml(name)) != 0) {
        EaseContext(ctxt, *obs);
    }
    if (!KeepParameterEntityReference(ctxt->myDoc, name)) obs->outOfMemory = true;
    return ent;
}

// Keeps a reference libxml2 found no entity for as an entity-reference node
// (no children: nothing is expanded), when it may be kept.
void KeepUnresolvedReference(void* ctx, const xmlChar* name) {
    auto* ctxt = static_cast<xmlParserCtxt*>(ctx);
    ParseObservations* obs = ObservationsOf(ctx);
    if (obs == nullptr) return;
    RestoreEasedContext(*obs);
    if (name[0] == '#' || !KeepsUnresolvedReference(ctxt, *obs, name)) return;
    ++obs->keptReferences;
    xmlSAX2Reference(ctx, name);
}

// Looks an entity up for a reference and accounts for its expansion. Past
// the limits the parse is refused and no entity is found (a NULL answer alone
// would make libxml2 look the entity up again by itself).
xmlEntity* GetEntityWithinLimits(void* ctx, const xmlChar* name) {
    xmlEntity* ent = xmlSAX2GetEntity(ctx, name);
    auto* ctxt = static_cast<xmlParserCtxt*>(ctx);
    ParseObservations* obs = ObservationsOf(ctx);
    if (ent == nullptr && obs != nullptr && ctxt->inSubset == 0)
        EaseForUnreadEntity(ctxt, *obs, name);
    if (ent == nullptr || obs == nullptr || ctxt->inSubset != 0 ||
        ent->etype != XML_INTERNAL_GENERAL_ENTITY) {
        return ent;
    }
    if (obs->expansionRefused) {
        RefuseExpansion(ctxt, obs);  // this context may be a nested one, not yet told
        return nullptr;
    }
    if (!ctxt->wellFormed) return ent;  // libxml2 expands nothing more anyway
    // Its replacement text is about to be parsed: the attributes of its tags
    // are bounded as the document's are. Text without markup (which libxml2
    // may copy anew for every reference) has no tag to read.
    if (ctxt->instate == XML_PARSER_CONTENT && ent->children == nullptr &&
        ent->content != nullptr && xmlStrchr(ent->content, '<') != nullptr &&
        !AttributeBound().Scan(ent->content, static_cast<size_t>(xmlStrlen(ent->content)))) {
        RefuseExpansion(ctxt, obs);
        return nullptr;
    }
    // In attribute values libxml2 decodes the replacement text anew each time,
    // looking every inner reference up again: count the text as written.
    obs->expandedBytes += ctxt->instate == XML_PARSER_CONTENT ? ExpansionOf(*obs, ent)
                                                              : static_cast<size_t>(ent->length);
    const xmlNode* last = ctxt->node != nullptr ? ctxt->node->last : nullptr;
    if (ctxt->instate == XML_PARSER_CONTENT && last != nullptr && last->type == XML_TEXT_NODE &&
        last->content != nullptr) {
        obs->rescannedBytes += static_cast<size_t>(xmlStrlen(last->content));
    }
    if (obs->expandedBytes > obs->expansionLimit || obs->rescannedBytes > kRescanBudget) {
        RefuseExpansion(ctxt, obs);
        return nullptr;
    }
    return ent;
}

bool HasDuplicateExpandedAttribute(const xmlNode* element);

// Checks an element libxml2 just built in the document's own context, where
// libxml2 reports unbound prefixes itself; one built elsewhere (entity
// content) leaves the checks to the tree pass.
void CheckNewElement(xmlParserCtxt* ctxt, ParseObservations& obs, const xmlNode* element) {
    if (ctxt != obs.documentContext) {
        obs.treePassNeeded = true;
        return;
    }
    bool duplicate = false;
    try {
        duplicate = element->properties != nullptr && element->properties->next != nullptr &&
                    HasDuplicateExpandedAttribute(element);
    } catch (const std::bad_alloc&) {  // nothing may unwind through libxml2
        obs.outOfMemory = true;
        duplicate = true;
    }
    if (duplicate) {
        if (!obs.outOfMemory) {
            NoteFailure(obs, ctxt, ParseFailureKind::kNotWellFormed, [element] {
                return "Two attributes of element '" + std::string(FromXml(element->name)) +
                       "' have the same name and namespace";
            });
        }
        ctxt->wellFormed = 0;  // refused, as libxml2 2.9.14 does not see it
        ctxt->disableSAX = 1;  // nothing more is built
    }
}

bool IsBlankRun(const xmlChar* text, int length) {
    for (int i = 0; i < length; ++i) {
        if (!IS_BLANK_CH(text[i])) return false;
    }
    return true;
}

// Builds an element, counting the namespace declarations it carries: the
// DTD can default one onto every element, copying its URI each time.
void StartElementWithinLimits(void* ctx, const xmlChar* localname, const xmlChar* prefix,
                              const xmlChar* uri, int nbNamespaces, const xmlChar** namespaces,
                              int nbAttributes, int nbDefaulted, const xmlChar** attributes) {
    auto* ctxt = static_cast<xmlParserCtxt*>(ctx);
    ParseObservations* obs = ObservationsOf(ctx);
    // The element starts one level below the elements still open.
    if (obs != nullptr && obs->maxElementDepth != 0 &&
        static_cast<size_t>(ctxt->nameNr) >= obs->maxElementDepth) {
        NoteFailure(*obs, ctxt, ParseFailureKind::kTooLarge, [obs] {
            return "Elements are nested deeper than MaxElementDepth (" +
                   std::to_string(obs->maxElementDepth) + ")";
        });
        ctxt->wellFormed = 0;
        ctxt->disableSAX = 1;  // nothing more is built
        return;
    }
    if (obs != nullptr && nbNamespaces > 0) {
        for (int i = 0; i < nbNamespaces; ++i) {
            const xmlChar* nsUri = namespaces[2 * i + 1];
            obs->expandedBytes += kNodeCost + (nsUri != nullptr ? xmlStrlen(nsUri) : 0);
        }
        if (obs->expandedBytes > obs->expansionLimit) {
            RefuseExpansion(ctxt, obs);  // no further SAX call, the end tag's neither
            return;
        }
    }
    xmlNode* const parent = ctxt->node;
    xmlSAX2StartElementNs(ctx, localname, prefix, uri, nbNamespaces, namespaces, nbAttributes,
                          nbDefaulted, attributes);
    if (obs != nullptr && ctxt->node != parent && ctxt->node != nullptr) {
        CheckNewElement(ctxt, *obs, ctxt->node);
    }
}

// Text is built by libxml2; white space among it is noted, as the tree pass
// may have to remove the text node it ends up in.
void ObserveCharacters(void* ctx, const xmlChar* text, int length) {
    ParseObservations* obs = ObservationsOf(ctx);
    if (obs != nullptr && !obs->treePassNeeded && IsBlankRun(text, length)) {
        obs->treePassNeeded = true;
    }
    xmlSAX2Characters(ctx, text, length);
}

// libxml2 appends a CDATA section to a CDATA section just before it, so two
// sections with only indentation between them would load as one. Each
// section becomes a node of its own, linked by hand (xmlAddChild would merge
// it too).
void KeepCDataSectionApart(void* ctx, const xmlChar* value, int length) {
    auto* ctxt = static_cast<xmlParserCtxt*>(ctx);
    xmlNode* parent = ctxt->node;
    if (parent == nullptr || parent->last == nullptr ||
        parent->last->type != XML_CDATA_SECTION_NODE) {
        xmlSAX2CDataBlock(ctx, value, length);
        return;
    }
    xmlNode* section = xmlNewCDataBlock(ctxt->myDoc, value, length);
    if (section == nullptr) {
        ParseObservations* obs = ObservationsOf(ctx);
        if (obs != nullptr) obs->outOfMemory = true;
        return;
    }
    section->parent = parent;
    section->prev = parent->last;
    parent->last->next = section;
    parent->last = section;
}

// Keeps internal entities in libxml2's table and every entity declared with
// a SYSTEM or PUBLIC identifier out of it: with XML_PARSE_NOENT libxml2 would
// read the file or URL it names while substituting it. Such a declaration is
// kept as text of the document type instead. The first declaration of a
// name binds it, as XML says.
void KeepInternalEntityDecl(void* ctx, const xmlChar* name, int type, const xmlChar* publicId,
                            const xmlChar* systemId, xmlChar* content) {
    auto* ctxt = static_cast<xmlParserCtxt*>(ctx);
    ParseObservations* obs = ObservationsOf(ctx);
    if (obs == nullptr || name == nullptr) return;
    const bool general =
        type == XML_INTERNAL_GENERAL_ENTITY || type == XML_EXTERNAL_GENERAL_PARSED_ENTITY;
    std::unordered_set<std::string>& unread =
        general ? obs->unreadEntities : obs->unreadParameterEntities;
    const bool boundUnread = unread.count(FromXml(name)) != 0;
    if (publicId == nullptr && systemId == nullptr) {
        if (!boundUnread) xmlSAX2EntityDecl(ctx, name, type, publicId, systemId, content);
        return;
    }
    const bool bound = general ? xmlGetDocEntity(ctxt->myDoc, name) != nullptr
                               : xmlGetParameterEntity(ctxt->myDoc, name) != nullptr;
    if (boundUnread || bound) return;
    try {
        unread.emplace(FromXml(name));
    } catch (const std::bad_alloc&) {
        obs->outOfMemory = true;
        return;
    }
    if (!KeepUnreadEntityDeclaration(ctxt->myDoc, name, !general, publicId, systemId)) {
        obs->outOfMemory = true;
    }
}

// Refuses a document type declaration when the caller prohibits them,
// before anything of it is read; otherwise libxml2 records it.
void InternalSubsetUnlessProhibited(void* ctx, const xmlChar* name, const xmlChar* externalId,
                                    const xmlChar* systemId) {
    auto* ctxt = static_cast<xmlParserCtxt*>(ctx);
    ParseObservations* obs = ObservationsOf(ctx);
    if (obs != nullptr && obs->prohibitDtd) {
        NoteFailure(*obs, ctxt, ParseFailureKind::kRefusedDtd, [] {
            return std::string("The document has a DTD, which is prohibited (ProhibitDTD)");
        });
        ctxt->wellFormed = 0;
        ctxt->disableSAX = 1;  // nothing more is built
        return;
    }
    xmlSAX2InternalSubset(ctx, name, externalId, systemId);
}

// The external DTD subset is never read.
void IgnoreExternalSubset(void* /*ctx*/, const xmlChar* /*name*/, const xmlChar* /*externalId*/,
                          const xmlChar* /*systemId*/) {}

// Drops the report, counting references libxml2 found no entity for in
// content or an attribute value: it warns of them when the document has an
// external subset (which is never read), and then hands one in content to
// the `reference` handler, but silently drops one from an attribute value.
// Inside the DTD (`inSubset`) such a warning is about a parameter entity
// that was not read, which a non-validating parser may skip.
void ObserveParseError(void* ctx, xmlError* error) {
    auto* ctxt = static_cast<xmlParserCtxt*>(ctx);
    ParseObservations* obs = ObservationsOf(ctx);
    if (obs == nullptr || error == nullptr) return;
    if (error->code == XML_ERR_NO_MEMORY) obs->outOfMemory = true;
    if (error->code == XML_WAR_UNDECLARED_ENTITY) {
        RestoreEasedContext(*obs);
        if (ctxt->inSubset == 0) ++obs->unresolvedReferences;
    }
    if (error->code != XML_WAR_UNDECLARED_ENTITY || ctxt->inSubset == 0) {
        NoteLibxmlError(*obs, ctxt, *error);
    }
}

// Receives the reports that bypass the parser context's handler (encoding
// conversion, raised while the input buffer grows); the position is the
// document's parser's, its text is not read.
void ObserveUnroutedError(void* observations, xmlError* error) {
    auto* obs = static_cast<ParseObservations*>(observations);
    if (obs == nullptr || error == nullptr) return;
    NoteLibxmlError(*obs, obs->documentContext, *error, InputAccess::kCountsOnly);
}

// Finds NUL characters: a 0x00 byte in a byte encoding, or a zero code unit
// in UTF-16 / UTF-32 (whose other characters are full of 0x00 bytes).
// libxml2 2.9.14 accepts a NUL after the root element. The input may come in
// pieces of any size: a code unit may straddle two of them.
class NulScanner {
  public:
    explicit NulScanner(const InputLayout& layout) : layout_(layout) {}

    // Scans the next `size` bytes of the input; true once a NUL was seen.
    bool Scan(const unsigned char* bytes, size_t size) {
        if (layout_.unitSize == 1) {
            found_ = found_ || std::memchr(bytes, 0, size) != nullptr;
            return found_;
        }
        for (size_t i = 0; i < size && !found_; ++i) {
            if (markLeft_ > 0) {  // the byte-order mark is no character
                --markLeft_;
                continue;
            }
            unitZero_ = (phase_ == 0 || unitZero_) && bytes[i] == 0;
            if (++phase_ == layout_.unitSize) {
                found_ = unitZero_;
                phase_ = 0;
            }
        }
        return found_;
    }

  private:
    InputLayout layout_;
    size_t markLeft_ = layout_.markSize;
    size_t phase_ = 0;  // bytes of the current code unit seen so far
    bool unitZero_ = false;
    bool found_ = false;
};

// A byte-order mark that contradicts the declared encoding (a UTF-8 mark
// before encoding="ISO-8859-1", a UTF-16 mark before encoding="UTF-8") is a
// fatal error in XML; libxml2 2.9.14 lets the mark win silently.
bool MarkContradictsDeclaration(const InputLayout& layout, const std::string& declarationData) {
    if (!layout.utf8Mark && !layout.utf16Mark) return false;
    const auto decl = ParseDeclarationData(declarationData);
    if (!decl || decl->encoding.empty()) return false;
    const std::string& enc = decl->encoding;
    if (layout.utf8Mark)
        return !EqualsIgnoringCase(enc, "UTF-8") && !EqualsIgnoringCase(enc, "UTF8");
    // The names libxml2 itself writes UTF-16 under, too.
    for (const char* utf16 :
         {"UTF-16", "UTF16", "UTF-16LE", "UTF-16BE", "ISO-10646-UCS-2", "UCS-2", "UCS2"}) {
        if (EqualsIgnoringCase(enc, utf16)) return false;
    }
    return true;
}

// Whether white space is preserved inside `element`, given whether it is
// preserved around it: the nearest xml:space wins, "default" switches it off.
bool PreservesSpace(const xmlNode* element, bool inherited) {
    const xmlChar* value = XmlSpaceValue(element);
    if (value == nullptr) return inherited;
    if (xmlStrEqual(value, ToXml("preserve"))) return true;
    if (xmlStrEqual(value, ToXml("default"))) return false;
    return inherited;
}

bool IsWhitespaceOnlyText(const xmlNode* node) {
    // xmlIsBlankNode also answers true for CDATA sections: check the type.
    return node->type == XML_TEXT_NODE && xmlIsBlankNode(const_cast<xmlNode*>(node)) != 0;
}

// Two attributes of one element with the same local name in the same
// namespace (through two prefixes bound to one URI) break namespace
// well-formedness; libxml2 2.9.14 does not report it. A handful are compared
// pair by pair; more go through a hash set, so that a tag with thousands of
// attributes is checked in linear time. Throws std::bad_alloc.
bool HasDuplicateExpandedAttribute(const xmlNode* element) {
    constexpr size_t kPairwise = 16;
    size_t namespaced = 0;
    for (const xmlAttr* a = element->properties; a != nullptr; a = a->next) {
        if (a->ns != nullptr) ++namespaced;
    }
    if (namespaced < 2) return false;
    if (namespaced <= kPairwise) {
        for (const xmlAttr* a = element->properties; a != nullptr; a = a->next) {
            if (a->ns == nullptr) continue;
            for (const xmlAttr* b = a->next; b != nullptr; b = b->next) {
                if (b->ns != nullptr && b->ns != a->ns && xmlStrEqual(a->name, b->name) &&
                    xmlStrEqual(a->ns->href, b->ns->href)) {
                    return true;
                }
            }
        }
        return false;
    }
    // The expanded name as one key: the URI, a NUL (which no name holds), the
    // local name. The same prefix twice is libxml2's own error, seen already.
    std::unordered_set<std::string> seen;
    seen.reserve(namespaced);
    for (const xmlAttr* a = element->properties; a != nullptr; a = a->next) {
        if (a->ns == nullptr) continue;
        std::string key(a->ns->href != nullptr ? FromXml(a->ns->href) : "");
        key.push_back('\0');
        key.append(FromXml(a->name));
        if (!seen.insert(std::move(key)).second) return true;
    }
    return false;
}

// A prefixed name that no declaration binds breaks namespace
// well-formedness. libxml2 2.9.14 reports it, except inside entity content it
// expands during the parse, so the tree itself is checked.
bool HasUnboundPrefix(const xmlNode* element) {
    if (element->ns == nullptr && xmlStrchr(element->name, ':') != nullptr) return true;
    for (const xmlAttr* a = element->properties; a != nullptr; a = a->next) {
        if (a->ns == nullptr && xmlStrchr(a->name, ':') != nullptr) return true;
    }
    return false;
}

// Walks the whole tree once, without recursion (documents may be deep):
// removes whitespace-only text nodes that have a sibling unless
// xml:space="preserve" applies (when `stripBlanks`), and checks element and
// attribute names. False when the document must be refused, with the
// element that is why in `refused`.
bool NormaliseTree(xmlDoc* doc, bool stripBlanks, const xmlNode*& refused) {
    xmlNode* const top = reinterpret_cast<xmlNode*>(doc);
    std::vector<bool> preserve{false};  // one entry per open element, plus the document
    xmlNode* cur = doc->children;
    while (cur != nullptr) {
        if (cur->type == XML_ELEMENT_NODE) {
            if (cur->properties != nullptr && cur->properties->next != nullptr &&
                HasDuplicateExpandedAttribute(cur)) {
                refused = cur;
                return false;
            }
            if (HasUnboundPrefix(cur)) {
                refused = cur;
                return false;
            }
            if (cur->children != nullptr) {
                preserve.push_back(PreservesSpace(cur, preserve.back()));
                cur = cur->children;
                continue;
            }
        }
        xmlNode* next = cur->next;
        xmlNode* parent = cur->parent;
        if (stripBlanks && !preserve.back() && IsWhitespaceOnlyText(cur) &&
            (cur->prev != nullptr || cur->next != nullptr)) {
            xmlUnlinkNode(cur);
            xmlFreeNode(cur);
        }
        while (next == nullptr && parent != top) {
            preserve.pop_back();
            next = parent->next;
            parent = parent->parent;
        }
        cur = next;
    }
    return true;
}

// libxml2 reports white space it judges ignorable (between markup, in no
// xml:space="preserve") here instead of as characters. It is dropped at once
// only where the tree pass above would remove it anyway: it would become a
// text node of its own (the parent's last child is no text it would join)
// beside a sibling (one before it, or markup other than the end tag after
// it), in the document's own context (text from entity content may join text
// around the reference). Everything else goes on as characters. An indented
// file then never builds, and the pass never unlinks, most of its
// indentation nodes.
bool IsDroppableIndentation(const xmlParserCtxt* ctxt) {
    const ParseObservations* obs = ObservationsOf(const_cast<xmlParserCtxt*>(ctxt));
    if (obs == nullptr || obs->documentContext != ctxt || ctxt->inputNr != 1) return false;
    const xmlNode* parent = ctxt->node;
    const xmlChar* next = ctxt->input != nullptr ? ctxt->input->cur : nullptr;
    if (parent == nullptr || parent->type != XML_ELEMENT_NODE || next == nullptr) return false;
    const xmlNode* last = parent->last;
    if (last != nullptr && last->type == XML_TEXT_NODE) return false;  // it would join that text
    if (next[0] != '<') return false;
    if (parent->children != nullptr) return true;  // a sibling before it
    return next[1] != '/' && next[1] != '\0';      // markup after it, not the end tag
}

void DropIndentation(void* ctx, const xmlChar* text, int length) {
    auto* ctxt = static_cast<xmlParserCtxt*>(ctx);
    if (IsDroppableIndentation(ctxt) || ctxt->sax->characters == nullptr) return;
    ctxt->sax->characters(ctx, text, length);
}

// Links a processing instruction holding the declaration as the document's
// first child. Linked by hand: libxml2's insertion helpers may merge or free
// nodes, and the declaration must come before everything.
bool InsertDeclaration(xmlDoc* doc, const std::string& data) {
    xmlNode* pi = xmlNewDocPI(doc, ToXml(kDeclarationTarget), ToXml(data.c_str()));
    if (pi == nullptr) return false;
    if (pi->content == nullptr || pi->name == nullptr) {  // a copy failed inside
        xmlFreeNode(pi);
        return false;
    }
    xmlNode* first = doc->children;
    pi->parent = reinterpret_cast<xmlNode*>(doc);
    pi->prev = nullptr;
    pi->next = first;
    if (first != nullptr) {
        first->prev = pi;
    } else {
        doc->last = pi;
    }
    doc->children = pi;
    return true;
}

// The bytes handed to libxml2, piece by piece as it asks for them: from
// memory that stays the caller's, or from a file read in large blocks as the
// parse goes (a file is never held whole: a 60 MB file cost 60 MB more at
// peak, and two more copies of its bytes). Every byte is checked for NUL
// characters before the parser sees it. Input in an encoding the engine
// decodes itself (GB2312, Shift_JIS) is handed on as UTF-8, block by block.
class InputFeed {
  public:
    explicit InputFeed(const ParseRequest& request) : request_(request) {}

    // Takes the first block (for memory, everything). False when there is
    // nothing to parse or the input cannot be read.
    bool Start() {
        if (request_.file == nullptr) {
            if (request_.data == nullptr || request_.size == 0 ||
                request_.size > static_cast<size_t>(INT_MAX)) {
                return false;
            }
            block_ = reinterpret_cast<const unsigned char*>(request_.data);
            blockSize_ = request_.size;
            return ServeBlock();
        }
        buffer_.resize(kBlockSize);
        return FillBlock() && blockSize_ != 0 && ServeBlock();
    }

    // What Start took: the start of the input, enough to read its
    // byte-order mark and XML declaration.
    const unsigned char* Head() const { return block_; }
    size_t HeadSize() const { return blockSize_; }
    // The input's size as far as known before the parse.
    size_t SizeHint() const {
        return request_.file != nullptr ? request_.file->Size() : blockSize_;
    }

    // Fixes the encoding layout the NUL check reads units by, and checks what
    // Start took. True when a NUL character was found there.
    bool BeginNulCheck(const InputLayout& layout) {
        attributeBound_.emplace(layout.unitSize, layout.bigEndian);
        nulCheck_.emplace(layout);
        refused_ = nulCheck_->Scan(block_, blockSize_);
        if (refused_) Refuse(ParseFailureKind::kNotWellFormed, kNulReason);
        return refused_;
    }

    // From here on the input, in `encodingName` (one DecodedByEngine
    // accepts), is decoded to UTF-8 before the parser sees it: for GB2312
    // iconv then converts only the runs that are not ASCII, where libxml2
    // would have passed every byte through it; Shift_JIS is read as Windows
    // reads it. False when what Start took does not
    // decode. Without a converter for the name, libxml2 is left to decode
    // (and to refuse) the input.
    // The room a block decodes into is taken here, once: decoding while
    // libxml2 reads allocates nothing (nothing may be thrown through it).
    // Throws std::bad_alloc.
    bool DecodeFrom(const std::string& encodingName) {
        encodingName_ = encodingName;
        decoder_.emplace(encodingName.c_str());
        if (!decoder_->Ready()) {
            decoder_.reset();
            return true;
        }
        decoded_.reserve(
            InputDecoder::SpaceFor(request_.file != nullptr ? kBlockSize : blockSize_));
        attributeBound_.emplace();  // the parser is handed UTF-8 from here on
        return ServeBlock();
    }

    // For input parsed from memory (which Read never serves): checks the
    // attributes of every start tag at once. False, and the input refused,
    // when one has more than kMaxAttributesPerElement.
    bool AttributesWithinBound() {
        if (attributeBound_ && !attributeBound_->Scan(view_, viewSize_)) {
            refused_ = true;
            Refuse(ParseFailureKind::kTooLarge, kTooManyAttributesReason);
        }
        return !refused_;
    }

    // True when the parser is handed UTF-8 decoded here.
    bool Decodes() const { return decoder_.has_value(); }

    // A NUL character, a read failure, an oversized file or a byte sequence
    // its encoding does not have stopped the feed part way: the input must
    // be refused whatever the parser made of it.
    bool Refused() const { return refused_; }

    // Decoding ran out of memory (the input is refused too).
    bool OutOfMemory() const { return outOfMemory_; }

    // Why the feed stopped: kind and reason (kNone when it did not).
    ParseFailureKind RefusalKind() const { return refusalKind_; }
    const std::string& RefusalReason() const { return refusalReason_; }

    // libxml2's read callback. Nothing may be thrown through libxml2: should
    // decoding need memory after all, the input is refused as out of memory.
    static int Read(void* context, char* out, int length) {
        auto* feed = static_cast<InputFeed*>(context);
        if (feed->refused_) return -1;
        try {
            while (feed->offset_ == feed->viewSize_ && !feed->ended_) {
                if (!feed->NextBlock()) {
                    feed->refused_ = true;
                    return -1;
                }
            }
        } catch (const std::bad_alloc&) {
            feed->refused_ = true;
            feed->outOfMemory_ = true;
            feed->refusalKind_ = ParseFailureKind::kOutOfMemory;
            return -1;
        }
        const size_t count =
            std::min(feed->viewSize_ - feed->offset_, static_cast<size_t>(std::max(length, 0)));
        // The parser never sees a start tag with more attributes than the bound.
        if (feed->attributeBound_ &&
            !feed->attributeBound_->Scan(feed->view_ + feed->offset_, count)) {
            feed->refused_ = true;
            feed->Refuse(ParseFailureKind::kTooLarge, kTooManyAttributesReason);
            return -1;
        }
        std::memcpy(out, feed->view_ + feed->offset_, count);
        feed->offset_ += count;
        return static_cast<int>(count);
    }

  private:
    // One read per block rather than per few kilobytes libxml2 asks for;
    // small enough to stay in cache while it is checked and copied on.
    static constexpr size_t kBlockSize = 256 * 1024;
    static constexpr const char* kNulReason = "The input holds a NUL character";
    static constexpr const char* kTooManyAttributesReason =
        "An element has more attributes than the loader accepts";

    // Notes why the input is refused (the first reason stays); false.
    bool Refuse(ParseFailureKind kind, const std::string& reason) {
        if (refusalKind_ == ParseFailureKind::kNone) {
            refusalKind_ = kind;
            refusalReason_ = reason;
        }
        return false;
    }

    // Takes the block after the one the parser has had (memory comes in one
    // block). False when it cannot be read, holds a NUL character or does
    // not decode.
    bool NextBlock() {
        if (request_.file == nullptr) {
            blockSize_ = 0;
        } else if (!FillBlock()) {
            return Refuse(ParseFailureKind::kUnreadable, "The file could not be read to its end");
        } else if (nulCheck_->Scan(block_, blockSize_)) {
            return Refuse(ParseFailureKind::kNotWellFormed, kNulReason);
        }
        ended_ = blockSize_ == 0;
        return ServeBlock() || Refuse(ParseFailureKind::kEncoding,
                                      "The input holds bytes that are not valid " + encodingName_);
    }

    // Makes the block just taken what the parser is handed: as it is, or
    // decoded. At the end of the input, a decoded input must not stop inside
    // a character.
    bool ServeBlock() {
        offset_ = 0;
        if (!decoder_) {
            view_ = block_;
            viewSize_ = blockSize_;
            return true;
        }
        decoded_.clear();
        const bool ok = blockSize_ == 0 ? decoder_->Complete()
                                        : decoder_->Decode(reinterpret_cast<const char*>(block_),
                                                           blockSize_, decoded_);
        view_ = reinterpret_cast<const unsigned char*>(decoded_.data());
        viewSize_ = decoded_.size();
        return ok;
    }

    // Reads the next block, as full as the file allows.
    bool FillBlock() {
        size_t filled = 0;
        while (filled < buffer_.size()) {
            size_t got = 0;
            if (FAILED(
                    request_.file->Read(buffer_.data() + filled, buffer_.size() - filled, got))) {
                return false;
            }
            if (got == 0) break;
            filled += got;
        }
        total_ += filled;
        // The file grew past what the parser can take since it was opened.
        if (total_ > static_cast<size_t>(INT_MAX)) return false;
        block_ = reinterpret_cast<const unsigned char*>(buffer_.data());
        blockSize_ = filled;
        return true;
    }

    const ParseRequest& request_;
    std::vector<char> buffer_;
    const unsigned char* block_ = nullptr;  // the input's bytes as read
    size_t blockSize_ = 0;
    const unsigned char* view_ = nullptr;  // what the parser is handed of them
    size_t viewSize_ = 0;
    size_t offset_ = 0;   // into the view: what the parser has had of it
    size_t total_ = 0;    // bytes read from the file so far
    bool ended_ = false;  // the input has no more blocks
    std::optional<NulScanner> nulCheck_;
    std::optional<AttributeBound> attributeBound_;
    std::optional<InputDecoder> decoder_;
    std::string decoded_;
    bool refused_ = false;
    bool outOfMemory_ = false;
    std::string encodingName_;
    ParseFailureKind refusalKind_ = ParseFailureKind::kNone;
    std::string refusalReason_;
};

XmlDocPtr RunParser(const ParseRequest& request, InputFeed& feed, ParseObservations& observations) {
    XmlParserCtxtPtr ctxt(xmlNewParserCtxt());
    if (ctxt == nullptr || ctxt->sax == nullptr) {
        observations.outOfMemory = true;
        return nullptr;
    }
    ctxt->_private = &observations;
    observations.documentContext = ctxt.get();
    ctxt->sax->entityDecl = KeepInternalEntityDecl;
    ctxt->sax->internalSubset = InternalSubsetUnlessProhibited;
    ctxt->sax->externalSubset = IgnoreExternalSubset;
    ctxt->sax->serror = ObserveParseError;
    ctxt->sax->getEntity = GetEntityWithinLimits;
    ctxt->sax->getParameterEntity = GetParameterEntityKeepingReferences;
    ctxt->sax->startElementNs = StartElementWithinLimits;
    ctxt->sax->cdataBlock = KeepCDataSectionApart;
    ctxt->sax->reference = KeepUnresolvedReference;
    // Set apart from `characters`, the handler makes libxml2 tell ignorable
    // white space from text; without it, it never asks.
    if (!request.preserveWhiteSpace) {
        ctxt->sax->ignorableWhitespace = DropIndentation;
        ctxt->sax->characters = ObserveCharacters;
    }
    // COMPACT keeps short texts (attribute values above all) inside their
    // node instead of an allocation of their own; the tree code frees and
    // replaces such texts knowing where they live (see tree::SetLeafContent).
    int options = XML_PARSE_NOENT | XML_PARSE_NONET | XML_PARSE_COMPACT;
    // UTF-8 made from Unicode text, or decoded by the feed: the declaration's
    // encoding no longer applies. UTF-8 is what libxml2 assumes when nothing
    // is named; naming it would make libxml2 switch encoders, which crashes
    // in 2.9.14 when an allocation fails there.
    if (request.fromUnicodeText || feed.Decodes()) options |= XML_PARSE_IGNORE_ENC;
    XmlDocPtr doc;
    if (request.fromUnicodeText) {
        if (!feed.AttributesWithinBound()) return nullptr;
        doc.reset(xmlCtxtReadMemory(ctxt.get(), request.data, static_cast<int>(request.size),
                                    nullptr, nullptr, options));
    } else {
        // Streaming decodes a declared encoding as xmlReadFile does; Unicode
        // text stays on the memory path above, where its declaration is
        // ignored.
        doc.reset(
            xmlCtxtReadIO(ctxt.get(), InputFeed::Read, nullptr, &feed, nullptr, nullptr, options));
    }
    if (ctxt->errNo == XML_ERR_NO_MEMORY) observations.outOfMemory = true;
    if (doc == nullptr || !ctxt->wellFormed || !ctxt->nsWellFormed || observations.outOfMemory ||
        observations.unresolvedReferences != observations.keptReferences ||
        observations.expansionRefused) {
        return nullptr;
    }
    return doc;
}

}  // namespace

namespace {

// ParseDocument's work; `failure` says why when the answer is not S_OK.
HRESULT Parse(const ParseRequest& request, XmlDocPtr& out, ParseFailure& failure) {
    const auto refuse = [&failure](ParseFailureKind kind, std::string reason) {
        failure.kind = kind;
        failure.reason = std::move(reason);
        return kind == ParseFailureKind::kOutOfMemory ? E_OUTOFMEMORY : S_FALSE;
    };
    InputFeed feed(request);
    if (!feed.Start()) {
        return refuse(ParseFailureKind::kNotWellFormed, request.file != nullptr
                                                            ? "The file is empty or unreadable"
                                                            : "Document is empty");
    }
    const unsigned char* head = feed.Head();
    InputLayout layout = DetectInputLayout(head, feed.HeadSize());
    if (request.fromUnicodeText && layout.unitSize != 1) layout = InputLayout{};
    if (feed.BeginNulCheck(layout)) return refuse(feed.RefusalKind(), feed.RefusalReason());

    const std::optional<std::string> declaration =
        ReadLeadingDeclaration(head, feed.HeadSize(), layout);
    if (declaration && !request.fromUnicodeText &&
        MarkContradictsDeclaration(layout, *declaration)) {
        return refuse(ParseFailureKind::kEncoding,
                      "The byte-order mark contradicts the encoding the declaration names");
    }
    if (declaration && !request.fromUnicodeText && layout.unitSize == 1) {
        const auto decl = ParseDeclarationData(*declaration);
        if (decl && DecodedByEngine(decl->encoding) && !feed.DecodeFrom(decl->encoding)) {
            return refuse(ParseFailureKind::kEncoding,
                          "The input holds bytes that are not valid " + decl->encoding);
        }
    }

    ErrorSilencer silence;
    ParseObservations observations;
    observations.expansionLimit = std::max(kMinExpansionLimit, feed.SizeHint() * kExpansionFactor);
    observations.prohibitDtd = request.prohibitDtd;
    observations.maxElementDepth = request.maxElementDepth;
    silence.ForwardTo(ObserveUnroutedError, &observations);
    XmlDocPtr doc = RunParser(request, feed, observations);
    // The parser context is gone: later reports must not reach it.
    silence.ForwardTo(nullptr, nullptr);
    observations.documentContext = nullptr;
    failure = std::move(observations.failure);
    if (feed.Refused()) {
        if (feed.OutOfMemory()) return refuse(ParseFailureKind::kOutOfMemory, "Out of memory");
        // The feed's reason comes first: the parser saw only its effect.
        failure = ParseFailure();
        return refuse(feed.RefusalKind(), feed.RefusalReason());
    }
    if (observations.outOfMemory || silence.OutOfMemory()) {
        return refuse(ParseFailureKind::kOutOfMemory, "Out of memory");
    }
    if (doc == nullptr) {
        if (failure.kind == ParseFailureKind::kNone) {
            return refuse(ParseFailureKind::kNotWellFormed, "The document is not well-formed");
        }
        return S_FALSE;
    }
    const xmlNode* refused = nullptr;
    if (observations.treePassNeeded &&
        !NormaliseTree(doc.get(), !request.preserveWhiteSpace, refused)) {
        failure = ParseFailure();
        failure.line = refused != nullptr ? static_cast<long>(xmlGetLineNo(refused)) : 0;
        const std::string name = refused != nullptr ? FromXml(refused->name) : std::string();
        return refuse(
            ParseFailureKind::kNotWellFormed,
            refused != nullptr && HasUnboundPrefix(refused)
                ? "A prefix on element '" + name + "' or its attributes is not declared"
                : "Two attributes of element '" + name + "' have the same name and namespace");
    }
    if (declaration && !InsertDeclaration(doc.get(), *declaration)) {
        return refuse(ParseFailureKind::kOutOfMemory, "Out of memory");
    }
    out = std::move(doc);
    return S_OK;
}

// The offset `bytes` into UTF-8 text as a count of characters.
long CharactersIn(const char* utf8, size_t size, long bytes) {
    const size_t end = std::min(size, static_cast<size_t>(std::max(bytes, 0L)));
    long count = 0;
    for (size_t i = 0; i < end; ++i) {
        if (!IsContinuationByte(static_cast<xmlChar>(utf8[i]))) ++count;
    }
    return count;
}

}  // namespace

HRESULT ParseDocument(const ParseRequest& request, XmlDocPtr& out, ParseFailure* failure) {
    ParseFailure found;
    const HRESULT hr = Parse(request, out, found);
    if (hr == S_OK) found = ParseFailure();
    // Text in memory is the caller's: its offset counts characters.
    if (request.fromUnicodeText)
        found.filepos = CharactersIn(request.data, request.size, found.filepos);
    if (failure != nullptr) *failure = std::move(found);
    return hr;
}

}  // namespace xmlutil::xmldom
