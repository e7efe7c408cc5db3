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
    bool undeclaredEntityInContent = false;
    // libxml2 may stop building after an allocation failed and still call
    // the partial document well-formed.
    bool outOfMemory = false;
    // The document's own parser context (entity content is parsed in others).
    const xmlParserCtxt* documentContext = nullptr;
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
    obs->expansionRefused = true;
    ctxt->wellFormed = 0;
    ctxt->disableSAX = 1;
}

// Looks an entity up for a reference and accounts for its expansion. Past
// the limits the parse is refused and no entity is found (a NULL answer alone
// would make libxml2 look the entity up again by itself).
xmlEntity* GetEntityWithinLimits(void* ctx, const xmlChar* name) {
    xmlEntity* ent = xmlSAX2GetEntity(ctx, name);
    auto* ctxt = static_cast<xmlParserCtxt*>(ctx);
    ParseObservations* obs = ObservationsOf(ctx);
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

// Keeps internal entities and drops every entity declared with a SYSTEM or
// PUBLIC identifier: with XML_PARSE_NOENT libxml2 would otherwise read the
// file or URL it names while substituting it.
void KeepInternalEntityDecl(void* ctx, const xmlChar* name, int type, const xmlChar* publicId,
                            const xmlChar* systemId, xmlChar* content) {
    if (publicId != nullptr || systemId != nullptr) return;
    xmlSAX2EntityDecl(ctx, name, type, publicId, systemId, content);
}

// The external DTD subset is never read.
void IgnoreExternalSubset(void* /*ctx*/, const xmlChar* /*name*/, const xmlChar* /*externalId*/,
                          const xmlChar* /*systemId*/) {}

// Drops the report, noting a reference to an undeclared entity in content or
// an attribute value. libxml2 treats that as a mere warning when the document
// has an external subset (which is never read), and would then keep an
// unresolved reference node or silently drop the reference from an attribute
// value. Inside the DTD (`inSubset`) such a warning is about a parameter
// entity that was not read, which a non-validating parser may skip.
void ObserveParseError(void* ctx, xmlError* error) {
    auto* ctxt = static_cast<xmlParserCtxt*>(ctx);
    ParseObservations* obs = ObservationsOf(ctx);
    if (obs == nullptr || error == nullptr) return;
    if (error->code == XML_ERR_NO_MEMORY) obs->outOfMemory = true;
    if (error->code == XML_WAR_UNDECLARED_ENTITY && ctxt->inSubset == 0) {
        obs->undeclaredEntityInContent = true;
    }
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
    return !EqualsIgnoringCase(enc, "UTF-16") && !EqualsIgnoringCase(enc, "UTF-16LE") &&
           !EqualsIgnoringCase(enc, "UTF-16BE") && !EqualsIgnoringCase(enc, "ISO-10646-UCS-2") &&
           !EqualsIgnoringCase(enc, "UCS-2");
}

bool IsXmlNamespace(const xmlNs* ns) {
    return ns != nullptr && ns->href != nullptr && xmlStrEqual(ns->href, XML_XML_NAMESPACE);
}

// The value of `xml:space` on `element` when it has one, else nullptr.
const xmlChar* XmlSpaceValue(const xmlNode* element) {
    for (const xmlAttr* attr = element->properties; attr != nullptr; attr = attr->next) {
        if (xmlStrEqual(attr->name, ToXml("space")) && IsXmlNamespace(attr->ns) &&
            attr->children != nullptr && attr->children->next == nullptr) {
            return attr->children->content;
        }
    }
    return nullptr;
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
// attribute names. False when the document must be refused.
bool NormaliseTree(xmlDoc* doc, bool stripBlanks) {
    xmlNode* const top = reinterpret_cast<xmlNode*>(doc);
    std::vector<bool> preserve{false};  // one entry per open element, plus the document
    xmlNode* cur = doc->children;
    while (cur != nullptr) {
        if (cur->type == XML_ELEMENT_NODE) {
            if (cur->properties != nullptr && cur->properties->next != nullptr &&
                HasDuplicateExpandedAttribute(cur)) {
                return false;
            }
            if (HasUnboundPrefix(cur)) return false;
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
    // A CDATA section right after a CDATA section joins it unless text
    // stands between them ('\0': the look-ahead ends, so assume the worst).
    const bool mayBeCData =
        next[1] == '\0' || (next[1] == '!' && (next[2] == '[' || next[2] == '\0'));
    if (mayBeCData && last != nullptr && last->type == XML_CDATA_SECTION_NODE) return false;
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
// characters before the parser sees it. Input in an encoding whose ASCII
// stands apart (GB2312) is handed on decoded to UTF-8, block by block.
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
        return refused_;
    }

    // From here on the input, in `encodingName` (one KeepsAsciiApart
    // accepts), is decoded to UTF-8 before the parser sees it: iconv then
    // converts only the runs that are not ASCII, where libxml2 would have
    // passed every byte through it. False when what Start took does not
    // decode. Without a converter for the name, libxml2 is left to decode
    // (and to refuse) the input.
    // The room a block decodes into is taken here, once: decoding while
    // libxml2 reads allocates nothing (nothing may be thrown through it).
    // Throws std::bad_alloc.
    bool DecodeFrom(const std::string& encodingName) {
        decoder_.emplace(encodingName.c_str());
        if (!decoder_->Ready()) {
            decoder_.reset();
            return true;
        }
        decoded_.reserve(
            AsciiApartDecoder::SpaceFor(request_.file != nullptr ? kBlockSize : blockSize_));
        attributeBound_.emplace();  // the parser is handed UTF-8 from here on
        return ServeBlock();
    }

    // For input parsed from memory (which Read never serves): checks the
    // attributes of every start tag at once. False, and the input refused,
    // when one has more than kMaxAttributesPerElement.
    bool AttributesWithinBound() {
        if (attributeBound_ && !attributeBound_->Scan(view_, viewSize_)) refused_ = true;
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
            return -1;
        }
        const size_t count =
            std::min(feed->viewSize_ - feed->offset_, static_cast<size_t>(std::max(length, 0)));
        // The parser never sees a start tag with more attributes than the bound.
        if (feed->attributeBound_ &&
            !feed->attributeBound_->Scan(feed->view_ + feed->offset_, count)) {
            feed->refused_ = true;
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

    // Takes the block after the one the parser has had (memory comes in one
    // block). False when it cannot be read, holds a NUL character or does
    // not decode.
    bool NextBlock() {
        if (request_.file == nullptr) {
            blockSize_ = 0;
        } else if (!FillBlock() || nulCheck_->Scan(block_, blockSize_)) {
            return false;
        }
        ended_ = blockSize_ == 0;
        return ServeBlock();
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
    std::optional<AsciiApartDecoder> decoder_;
    std::string decoded_;
    bool refused_ = false;
    bool outOfMemory_ = false;
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
    ctxt->sax->externalSubset = IgnoreExternalSubset;
    ctxt->sax->serror = ObserveParseError;
    ctxt->sax->getEntity = GetEntityWithinLimits;
    ctxt->sax->startElementNs = StartElementWithinLimits;
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
        observations.undeclaredEntityInContent || observations.expansionRefused) {
        return nullptr;
    }
    return doc;
}

}  // namespace

HRESULT ParseDocument(const ParseRequest& request, XmlDocPtr& out) {
    InputFeed feed(request);
    if (!feed.Start()) return S_FALSE;
    const unsigned char* head = feed.Head();
    InputLayout layout = DetectInputLayout(head, feed.HeadSize());
    if (request.fromUnicodeText && layout.unitSize != 1) layout = InputLayout{};
    if (feed.BeginNulCheck(layout)) return S_FALSE;

    const std::optional<std::string> declaration =
        ReadLeadingDeclaration(head, feed.HeadSize(), layout);
    if (declaration && !request.fromUnicodeText &&
        MarkContradictsDeclaration(layout, *declaration)) {
        return S_FALSE;
    }
    if (declaration && !request.fromUnicodeText && layout.unitSize == 1) {
        const auto decl = ParseDeclarationData(*declaration);
        if (decl && KeepsAsciiApart(decl->encoding) && !feed.DecodeFrom(decl->encoding)) {
            return S_FALSE;
        }
    }

    ErrorSilencer silence;
    ParseObservations observations;
    observations.expansionLimit = std::max(kMinExpansionLimit, feed.SizeHint() * kExpansionFactor);
    XmlDocPtr doc = RunParser(request, feed, observations);
    if (feed.Refused()) return feed.OutOfMemory() ? E_OUTOFMEMORY : S_FALSE;
    if (observations.outOfMemory || silence.OutOfMemory()) return E_OUTOFMEMORY;
    if (doc == nullptr) return S_FALSE;
    if (observations.treePassNeeded && !NormaliseTree(doc.get(), !request.preserveWhiteSpace)) {
        return S_FALSE;
    }
    if (declaration && !InsertDeclaration(doc.get(), *declaration)) return E_OUTOFMEMORY;
    out = std::move(doc);
    return S_OK;
}

}  // namespace xmlutil::xmldom
