// SPDX-License-Identifier: MIT
// Writing nodes and documents out through libxml2's serialiser, with the
// declaration kept as a processing instruction (so never two are written)
// and checks that make what is saved load back equal.
#include <iconv.h>
#include <libxml/encoding.h>
#include <libxml/hash.h>
#include <libxml/parserInternals.h>
#include <libxml/valid.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <exception>
#include <new>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/xmldom/engine/declaration.h"
#include "platform/xmldom/engine/engine.h"
#include "platform/xmldom/engine/error_guard.h"
#include "platform/xmldom/engine/transcode.h"
#include "platform/xmldom/engine/unread_entities.h"

namespace xmlutil::xmldom {
namespace {

constexpr char kUtf8[] = "UTF-8";

// Options every save uses: no declaration of libxml2's own (ours is a node),
// and never the XHTML mode, which would rewrite and even free nodes of an
// XHTML document while writing it.
constexpr int kBaseSaveOptions = XML_SAVE_NO_DECL | XML_SAVE_NO_XHTML | XML_SAVE_AS_XML;

struct EncodingHandlerCloser {
    void operator()(xmlCharEncodingHandler* h) const {
        if (h->name != nullptr) {
            xmlCharEncCloseFunc(h);
            return;
        }
        // Made short of memory, without its name: xmlCharEncCloseFunc would
        // refuse it and leak it. Only iconv converters are allocated.
        if (h->iconv_out != nullptr) iconv_close(h->iconv_out);
        if (h->iconv_in != nullptr) iconv_close(h->iconv_in);
        xmlFree(h);
    }
};
using EncodingHandlerPtr = std::unique_ptr<xmlCharEncodingHandler, EncodingHandlerCloser>;

// Where the serialiser's output goes: forwarded to a sink. Nothing may unwind
// through libxml2's frames, so a failing sink or an exception stops the
// writing and is kept until libxml2 has returned.
struct SinkForwarder {
    explicit SinkForwarder(file::ByteSink& to) : sink(&to) {}
    file::ByteSink* sink;
    HRESULT failure = S_OK;
    std::exception_ptr exception;
};

int ForwardToSink(void* context, const char* buffer, int len) {
    auto* forward = static_cast<SinkForwarder*>(context);
    if (FAILED(forward->failure) || forward->exception) return -1;
    try {
        const HRESULT hr = forward->sink->Write(buffer, static_cast<size_t>(len));
        if (FAILED(hr)) {
            forward->failure = hr;
            return -1;
        }
    } catch (...) {
        forward->exception = std::current_exception();
        return -1;
    }
    return len;
}

int CloseSink(void* /*context*/) {
    return 0;
}

// Writes through a save context into `sink`. An exception thrown by the sink
// is passed on once libxml2 has returned.
template <typename Write>
HRESULT SaveToSink(const ErrorSilencer& silence, const char* encoding, int options, Write write,
                   file::ByteSink& sink) {
    SinkForwarder forward(sink);
    xmlSaveCtxt* save = xmlSaveToIO(ForwardToSink, CloseSink, &forward, encoding, options);
    if (save == nullptr) return E_OUTOFMEMORY;
    const long written = write(save);
    const int closed = xmlSaveClose(save);  // flushes the encoder into the sink
    if (forward.exception) std::rethrow_exception(forward.exception);
    if (FAILED(forward.failure)) return forward.failure;
    // libxml2 may drop part of the output after an allocation failed.
    if (written < 0 || closed < 0 || silence.OutOfMemory()) return E_OUTOFMEMORY;
    return S_OK;
}

// The same, handing back the bytes; `bytes` is only replaced on success.
template <typename Write>
HRESULT SaveToBytes(const ErrorSilencer& silence, const char* encoding, int options, Write write,
                    std::string& bytes) {
    file::StringSink sink;
    const HRESULT hr = SaveToSink(silence, encoding, options, write, sink);
    if (FAILED(hr)) return hr;
    bytes.swap(sink.bytes());
    return S_OK;
}

// For the life of the object, the document names UTF-8 as its encoding.
// libxml2 writes non-ASCII characters of attribute values as character
// references when the document names no encoding, and literally otherwise.
class DocumentEncodingOverride {
  public:
    explicit DocumentEncodingOverride(xmlDoc* doc) : doc_(doc) {
        if (doc_ == nullptr) return;
        saved_ = doc_->encoding;
        doc_->encoding = ToXml(kUtf8);
    }
    ~DocumentEncodingOverride() {
        if (doc_ != nullptr) doc_->encoding = saved_;
    }
    DocumentEncodingOverride(const DocumentEncodingOverride&) = delete;
    DocumentEncodingOverride& operator=(const DocumentEncodingOverride&) = delete;

  private:
    xmlDoc* doc_;
    const xmlChar* saved_ = nullptr;
};

bool IsDeclarationNode(const xmlNode* node) {
    return node != nullptr && node->type == XML_PI_NODE &&
           xmlStrEqual(node->name, ToXml(kDeclarationTarget));
}

// ---- checks made before a save ----------------------------------------------

// Answers whether the target encoding can hold a UTF-8 string, using the same
// conversion libxml2's writer will use.
class EncodabilityCheck {
  public:
    EncodabilityCheck(xmlCharEncodingHandler* handler, const std::string& encodingName)
        : handler_(handler),
          holdsEverything_(IsUnicodeEncoding(encodingName)),
          asciiApart_(KeepsAsciiApart(encodingName)) {
        if (!holdsEverything_ && handler_->output == nullptr) {
            const std::string converterName = ConverterName(encodingName);
            converter_.emplace(converterName.c_str(), kUtf8);
            if (converter_->Valid()) cd_ = converter_->get();
            probe_.emplace(converterName.c_str(), kUtf8);
            probeBack_.emplace(kUtf8, converterName.c_str());
            if (probe_->Valid() && probeBack_->Valid()) {
                for (int c = 1; c < 0x80; ++c) {
                    const std::string alone(1, static_cast<char>(c));
                    asciiAsIs_[c] = Converts(probe_->get(), alone) == alone &&
                                    Converts(probeBack_->get(), alone) == alone;
                }
            }
        }
    }

    // Whether libxml2 can write a document in this encoding that reads back
    // the same. Its own converters (UTF-8, UTF-16, ISO-8859-1, ASCII) can,
    // but not its "HTML" one (named entities). Through iconv, the characters
    // of markup must be written as themselves, as plain ASCII, and read back
    // so, as the declaration has to be read before the encoding is known:
    // EBCDIC, UTF-7 or the raw GB_2312-80 set cannot. Other characters that
    // do not read back as themselves (Shift_JISX0213 reads the byte of `\`
    // as a yen sign) are written as references in text and attribute values,
    // and refused elsewhere.
    // A name only ICU knows ("gb2_312") gets an ICU converter, which silently
    // wrote other characters or none here.
    bool Usable() const {
        if (holdsEverything_) return true;
        if (handler_->output != nullptr) return !EqualsIgnoringCase(handler_->name, "HTML");
        return handler_->iconv_out != nullptr && cd_ != kNoIconv && MarkupReadsBack();
    }
    EncodabilityCheck(const EncodabilityCheck&) = delete;
    EncodabilityCheck& operator=(const EncodabilityCheck&) = delete;

    // True when every character can be written (a Unicode encoding).
    bool HoldsEverything() const { return holdsEverything_; }

    bool CanEncode(const xmlChar* text) const {
        if (text == nullptr || holdsEverything_) return true;
        const std::string_view s(FromXml(text));
        if (handler_->output == nullptr) return ReadableLength(s.data(), s.size()) == s.size();
        bool ascii = true;
        for (char c : s) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
        return ascii || ConvertsWithHandler(s);
    }

    // The length of the longest start of the UTF-8 `bytes` made of whole
    // characters that iconv writes so that they read back as themselves.
    size_t ReadableLength(const char* bytes, size_t size) const {
        size_t at = 0;
        while (at < size) {
            const auto lead = static_cast<unsigned char>(bytes[at]);
            if (lead < 0x80) {
                if (!asciiAsIs_[lead]) break;
                ++at;
                continue;
            }
            const size_t length = Utf8SequenceLength(lead);
            if (length == 0 || length > size - at || !ReadsBack(bytes + at, length)) break;
            at += length;
        }
        return at;
    }

  private:
    static inline const iconv_t kNoIconv = reinterpret_cast<iconv_t>(-1);

    static bool IsUnicodeEncoding(const std::string& name) {
        switch (xmlParseCharEncoding(name.c_str())) {
            case XML_CHAR_ENCODING_UTF8:
            case XML_CHAR_ENCODING_UTF16LE:
            case XML_CHAR_ENCODING_UTF16BE:
                return true;
            default:
                return false;
        }
    }

    bool ConvertsWithHandler(std::string_view s) const {
        std::vector<unsigned char> out(4096);
        const auto* in = reinterpret_cast<const unsigned char*>(s.data());
        size_t left = s.size();
        while (left > 0) {
            int outLen = static_cast<int>(out.size());
            int inLen = static_cast<int>(left);
            const int rc = handler_->output(out.data(), &outLen, in, &inLen);
            if (rc == -2 || inLen <= 0) return false;
            in += inLen;
            left -= static_cast<size_t>(inLen);
        }
        return true;
    }

    // White space, letters, digits and the delimiters of markup, character
    // references and declarations.
    static bool IsMarkupCharacter(char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               (c != '\0' && std::strchr(" \t\r\n<>&;#=\"'/?!-[]:._%()|*+,", c) != nullptr);
    }

    bool MarkupReadsBack() const {
        for (int c = 1; c < 0x80; ++c) {
            if (IsMarkupCharacter(static_cast<char>(c)) && !asciiAsIs_[c]) return false;
        }
        return true;
    }

    // Whether the character at `utf8` (`length` bytes), written alone, reads
    // back as itself. Asked once per character and remembered. One written
    // with control bytes (the escape and shift sequences of ISO-2022) does
    // not: libxml2 loses the shift state between the pieces it decodes.
    bool ReadsBack(const char* utf8, size_t length) const {
        const unsigned long codePoint = CodePoint(utf8, length);
        const auto known = readsBack_.find(codePoint);
        if (known != readsBack_.end()) return known->second;
        const std::string character(utf8, length);
        const std::string written = Converts(probe_->get(), character);
        bool plain = !written.empty();
        for (char byte : written) plain = plain && static_cast<unsigned char>(byte) >= 0x20;
        const bool same = plain && Converts(probeBack_->get(), written) == character;
        readsBack_.emplace(codePoint, same);
        return same;
    }

    // `text` converted through `cd` from its initial state; "" on failure.
    static std::string Converts(iconv_t cd, std::string text) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        std::string out(text.size() * 4 + 16, '\0');
        char* in = text.data();
        size_t inLeft = text.size();
        char* outPtr = out.data();
        size_t outLeft = out.size();
        if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1) ||
            iconv(cd, nullptr, nullptr, &outPtr, &outLeft) == static_cast<size_t>(-1)) {
            return std::string();
        }
        out.resize(out.size() - outLeft);
        return out;
    }

  public:
    // True when libxml2's own converter writes the encoding; otherwise the
    // engine converts libxml2's UTF-8 output through iconv itself (libxml2's
    // iconv converter leaks when an allocation fails while it is made).
    bool LibxmlWrites() const { return holdsEverything_ || handler_->output != nullptr; }

    // Converts UTF-8 markup written by libxml2, piece by piece as it comes,
    // handing the result to `next`. A character the encoding cannot hold
    // becomes a character reference: the checks made before the save leave
    // such characters only in text and attribute values, where a reference
    // means the same. The reference itself goes through iconv too, so a
    // stateful encoding shifts back to ASCII first. A character split
    // between two pieces waits for the rest.
    class MarkupEncoder final : public file::ByteSink {
      public:
        MarkupEncoder(const EncodabilityCheck& check, file::ByteSink& next)
            : check_(check), cd_(check.cd_), asciiApart_(check.asciiApart_), next_(next) {
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }

        HRESULT Write(const char* bytes, size_t size) override {
            if (FAILED(failure_)) return failure_;
            if (!split_.empty()) {
                // Completes the split character (and takes the rest with it).
                split_.append(bytes, size);
                std::string piece;
                piece.swap(split_);
                return Encode(piece.data(), piece.size());
            }
            return Encode(bytes, size);
        }

        // Back to the initial shift state (stateful encodings); S_OK once
        // everything written was converted and passed on.
        HRESULT Finish() {
            if (FAILED(failure_)) return failure_;
            if (!split_.empty()) return Fail(HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
            char* outPtr = out_;
            size_t outLeft = sizeof out_;
            if (iconv(cd_, nullptr, nullptr, &outPtr, &outLeft) == static_cast<size_t>(-1)) {
                return Fail(HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
            }
            return Pass(outPtr);
        }

      private:
        // Characters that would not read back as themselves become
        // references; a character cut off at the end waits for the rest.
        HRESULT Encode(const char* bytes, size_t size) {
            size_t at = 0;
            while (at < size) {
                const size_t readable = check_.ReadableLength(bytes + at, size - at);
                if (readable > 0) {
                    if (const HRESULT hr = ConvertRun(bytes + at, readable); FAILED(hr)) return hr;
                    at += readable;
                    continue;
                }
                const size_t length = Utf8SequenceLength(static_cast<unsigned char>(bytes[at]));
                if (length == 0) return Fail(HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
                if (length > size - at) {
                    split_.assign(bytes + at, size - at);
                    return S_OK;
                }
                if (const HRESULT hr = EncodeReference(CodePoint(bytes + at, length)); FAILED(hr)) {
                    return hr;
                }
                at += length;
            }
            return S_OK;
        }

        // In an encoding whose ASCII stands apart, ASCII is written as it
        // is and only the other runs are converted.
        HRESULT ConvertRun(const char* bytes, size_t size) {
            if (!asciiApart_) return Convert(bytes, size);
            size_t at = 0;
            while (at < size) {
                const size_t ascii = AsciiRunLength(bytes + at, size - at);
                if (ascii > 0) {
                    if (const HRESULT hr = next_.Write(bytes + at, ascii); FAILED(hr)) {
                        return Fail(hr);
                    }
                    at += ascii;
                }
                if (at == size) break;
                const size_t other = NonAsciiRunLength(bytes + at, size - at);
                if (const HRESULT hr = Convert(bytes + at, other); FAILED(hr)) return hr;
                at += other;
                // Only the end of the piece may cut a character.
                if (!split_.empty() && at != size) {
                    return Fail(HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
                }
            }
            return S_OK;
        }

        HRESULT Convert(const char* bytes, size_t size) {
            char* in = const_cast<char*>(bytes);
            size_t inLeft = size;
            while (inLeft > 0) {
                char* outPtr = out_;
                size_t outLeft = sizeof out_;
                const size_t rc = iconv(cd_, &in, &inLeft, &outPtr, &outLeft);
                const int err = errno;
                if (const HRESULT hr = Pass(outPtr); FAILED(hr)) return hr;
                if (rc != static_cast<size_t>(-1) || err == E2BIG) continue;
                if (err == EINVAL) {  // the piece ends inside a character
                    split_.assign(in, inLeft);
                    return S_OK;
                }
                if (err != EILSEQ) return Fail(HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
                const size_t length = Utf8SequenceLength(static_cast<unsigned char>(*in));
                if (length == 0 || length > inLeft) {
                    return Fail(HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
                }
                if (const HRESULT hr = EncodeReference(CodePoint(in, length)); FAILED(hr)) {
                    return hr;
                }
                in += length;
                inLeft -= length;
            }
            return S_OK;
        }

        HRESULT EncodeReference(unsigned long codePoint) {
            std::string reference = "&#" + std::to_string(codePoint) + ";";
            char* in = reference.data();
            size_t inLeft = reference.size();
            char* outPtr = out_;
            size_t outLeft = sizeof out_;
            if (iconv(cd_, &in, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1) ||
                inLeft != 0) {
                return Fail(HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
            }
            return Pass(outPtr);
        }

        // Hands on what was converted into out_, up to `end`.
        HRESULT Pass(const char* end) {
            if (end == out_) return S_OK;
            const HRESULT hr = next_.Write(out_, static_cast<size_t>(end - out_));
            return FAILED(hr) ? Fail(hr) : S_OK;
        }

        HRESULT Fail(HRESULT hr) {
            failure_ = hr;
            return hr;
        }

        const EncodabilityCheck& check_;
        iconv_t cd_;
        bool asciiApart_;
        file::ByteSink& next_;
        std::string split_;
        HRESULT failure_ = S_OK;
        char out_[16384];
    };

  private:
    static size_t Utf8SequenceLength(unsigned char lead) {
        if (lead < 0x80) return 1;
        if ((lead & 0xE0) == 0xC0) return 2;
        if ((lead & 0xF0) == 0xE0) return 3;
        if ((lead & 0xF8) == 0xF0) return 4;
        return 0;
    }

    static unsigned long CodePoint(const char* p, size_t length) {
        const auto lead = static_cast<unsigned char>(p[0]);
        unsigned long cp = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t i = 1; i < length; ++i) {
            cp = (cp << 6) | (static_cast<unsigned char>(p[i]) & 0x3F);
        }
        return cp;
    }

    xmlCharEncodingHandler* handler_;
    bool holdsEverything_;
    bool asciiApart_;
    std::optional<IconvHandle> converter_;
    iconv_t cd_ = kNoIconv;  // converter_'s, when it opened
    // Converters of their own for the checks, which may come while cd_ is
    // part way through a save (a stateful encoding keeps its shift state).
    std::optional<IconvHandle> probe_;
    std::optional<IconvHandle> probeBack_;
    // Per ASCII character: written as itself and read back so.
    bool asciiAsIs_[0x80] = {};
    mutable std::unordered_map<unsigned long, bool> readsBack_;
};

// The text of a qualified name as written: prefix, colon, local name.
bool CanEncodeName(const EncodabilityCheck& enc, const xmlNs* ns, const xmlChar* name) {
    return (ns == nullptr || enc.CanEncode(ns->prefix)) && enc.CanEncode(name);
}

// libxml2 writes a namespace declaration's URI between quotes as it is,
// escaping nothing: "urn:x?a=1&b=2" would come out as markup that does not
// parse, and a tab or line break would read back as a space. For the life of
// the object, such URIs are replaced by their escaped form (the declaration
// keeps its own string, which is put back afterwards).
class NamespaceUriEscapes {
  public:
    NamespaceUriEscapes() = default;
    ~NamespaceUriEscapes() {
        for (const Swap& swap : swaps_) swap.ns->href = swap.original;
    }
    NamespaceUriEscapes(const NamespaceUriEscapes&) = delete;
    NamespaceUriEscapes& operator=(const NamespaceUriEscapes&) = delete;

    void EscapeDeclarationsOf(const xmlNode* element) {
        for (xmlNs* ns = element->nsDef; ns != nullptr; ns = ns->next) {
            if (NeedsEscape(ns->href)) Escape(ns);
        }
    }

    // Every element of the subtree under `root` (itself included).
    void EscapeDeclarationsUnder(const xmlNode* root) {
        const xmlNode* cur = root;
        while (cur != nullptr) {
            if (cur->type == XML_ELEMENT_NODE) {
                EscapeDeclarationsOf(cur);
                if (cur->children != nullptr) {
                    cur = cur->children;
                    continue;
                }
            }
            while (cur != root && cur->next == nullptr) cur = cur->parent;
            if (cur == root) break;
            cur = cur->next;
        }
    }

  private:
    struct Swap {
        xmlNs* ns;
        const xmlChar* original;
    };

    static bool NeedsEscape(const xmlChar* href) {
        if (href == nullptr) return false;
        for (const xmlChar* p = href; *p != 0; ++p) {
            if (*p == '&' || *p == '<' || *p == '\t' || *p == '\n' || *p == '\r') return true;
        }
        return false;
    }

    void Escape(xmlNs* ns) {
        std::string escaped;
        for (const xmlChar* p = ns->href; *p != 0; ++p) {
            switch (*p) {
                case '&':
                    escaped += "&amp;";
                    break;
                case '<':
                    escaped += "&lt;";
                    break;
                case '\t':
                    escaped += "&#9;";
                    break;
                case '\n':
                    escaped += "&#10;";
                    break;
                case '\r':
                    escaped += "&#13;";
                    break;
                default:
                    escaped += static_cast<char>(*p);
            }
        }
        storage_.push_back(std::move(escaped));
        swaps_.push_back({ns, ns->href});
        ns->href = ToXml(storage_.back().c_str());
    }

    std::deque<std::string> storage_;  // stable addresses
    std::vector<Swap> swaps_;
};

// Checks one node (not its children) for what the save would write wrongly.
HRESULT CheckNode(const xmlNode* node, const EncodabilityCheck& enc) {
    const HRESULT untranslatable = HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
    switch (node->type) {
        case XML_ELEMENT_NODE:
            for (const xmlNs* ns = node->nsDef; ns != nullptr; ns = ns->next) {
                if (!enc.CanEncode(ns->prefix)) return untranslatable;
            }
            if (enc.HoldsEverything()) return S_OK;
            if (!CanEncodeName(enc, node->ns, node->name)) return untranslatable;
            for (const xmlAttr* a = node->properties; a != nullptr; a = a->next) {
                if (!CanEncodeName(enc, a->ns, a->name)) return untranslatable;
            }
            return S_OK;
        case XML_PI_NODE:
            // Only the document's first child may be the declaration.
            if (xmlStrcasecmp(node->name, ToXml(kDeclarationTarget)) == 0 &&
                !(node->parent != nullptr && node->parent->type == XML_DOCUMENT_NODE &&
                  node->prev == nullptr && IsDeclarationNode(node))) {
                return E_FAIL;
            }
            return enc.CanEncode(node->name) && enc.CanEncode(node->content) ? S_OK
                                                                             : untranslatable;
        case XML_COMMENT_NODE:
        case XML_CDATA_SECTION_NODE:
            return enc.CanEncode(node->content) ? S_OK : untranslatable;
        case XML_ENTITY_REF_NODE:
            // A reference to an entity nothing declares would not load.
            if (!ReferenceLoadsIn(node->doc, node->name)) return E_FAIL;
            return enc.CanEncode(node->name) ? S_OK : untranslatable;
        default:
            return S_OK;
    }
}

// The names in an element declaration's content model.
bool CanEncodeContentModel(const xmlElementContent* model, const EncodabilityCheck& enc) {
    std::vector<const xmlElementContent*> pending{model};
    while (!pending.empty()) {
        const xmlElementContent* cur = pending.back();
        pending.pop_back();
        if (cur == nullptr) continue;
        if (!enc.CanEncode(cur->name) || !enc.CanEncode(cur->prefix)) return false;
        pending.push_back(cur->c1);
        pending.push_back(cur->c2);
    }
    return true;
}

bool CanEncodeDeclaration(const xmlNode* decl, const EncodabilityCheck& enc) {
    switch (decl->type) {
        case XML_ENTITY_DECL: {
            // The value may hold a character reference: it means the same.
            const auto* entity = reinterpret_cast<const xmlEntity*>(decl);
            return enc.CanEncode(entity->name) && enc.CanEncode(entity->ExternalID) &&
                   enc.CanEncode(entity->SystemID);
        }
        case XML_ELEMENT_DECL: {
            const auto* element = reinterpret_cast<const xmlElement*>(decl);
            return enc.CanEncode(element->name) && enc.CanEncode(element->prefix) &&
                   CanEncodeContentModel(element->content, enc);
        }
        case XML_ATTRIBUTE_DECL: {
            // So may the default value.
            const auto* attribute = reinterpret_cast<const xmlAttribute*>(decl);
            if (!enc.CanEncode(attribute->elem) || !enc.CanEncode(attribute->name) ||
                !enc.CanEncode(attribute->prefix)) {
                return false;
            }
            for (const xmlEnumeration* e = attribute->tree; e != nullptr; e = e->next) {
                if (!enc.CanEncode(e->name)) return false;
            }
            return true;
        }
        case XML_TEXT_NODE:
            // A kept declaration of an unread entity, written as it stands.
            return enc.CanEncode(decl->content);
        default:
            return CheckNode(decl, enc) == S_OK;
    }
}

void CheckNotation(void* payload, void* data, const xmlChar* /*name*/) {
    const auto* notation = static_cast<const xmlNotation*>(payload);
    auto* check = static_cast<std::pair<const EncodabilityCheck*, bool>*>(data);
    const EncodabilityCheck& enc = *check->first;
    if (!enc.CanEncode(notation->name) || !enc.CanEncode(notation->PublicID) ||
        !enc.CanEncode(notation->SystemID)) {
        check->second = false;
    }
}

// The document type is written as it stands: a character reference in a
// name, an identifier, a comment or a processing instruction there would not
// mean the character, and in a name it is not even allowed. Only entity
// values and attribute defaults may hold one.
HRESULT CheckDoctype(const xmlNode* node, const EncodabilityCheck& enc) {
    if (enc.HoldsEverything()) return S_OK;
    const HRESULT untranslatable = HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
    const auto* dtd = reinterpret_cast<const xmlDtd*>(node);
    if (!enc.CanEncode(dtd->name) || !enc.CanEncode(dtd->ExternalID) ||
        !enc.CanEncode(dtd->SystemID)) {
        return untranslatable;
    }
    for (const xmlNode* decl = dtd->children; decl != nullptr; decl = decl->next) {
        if (!CanEncodeDeclaration(decl, enc)) return untranslatable;
    }
    if (dtd->notations != nullptr) {
        std::pair<const EncodabilityCheck*, bool> check{&enc, true};
        xmlHashScan(static_cast<xmlHashTable*>(dtd->notations), CheckNotation, &check);
        if (!check.second) return untranslatable;
    }
    return S_OK;
}

// ---- indentation never inside xml:space="preserve" ---------------------------

const xmlChar* XmlSpaceValue(const xmlNode* element) {
    for (const xmlAttr* a = element->properties; a != nullptr; a = a->next) {
        // The name first: it rules out nearly every attribute without
        // reading its namespace.
        if (xmlStrEqual(a->name, ToXml("space")) && a->ns != nullptr &&
            xmlStrEqual(a->ns->href, XML_XML_NAMESPACE) && a->children != nullptr &&
            a->children->next == nullptr) {
            return a->children->content;
        }
    }
    return nullptr;
}

bool IsPreserve(const xmlChar* xmlSpace) {
    return xmlSpace != nullptr && xmlStrEqual(xmlSpace, ToXml("preserve"));
}

bool HasTextLikeChild(const xmlNode* element) {
    for (const xmlNode* c = element->children; c != nullptr; c = c->next) {
        if (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE ||
            c->type == XML_ENTITY_REF_NODE) {
            return true;
        }
    }
    return false;
}

// libxml2's formatter stops indenting for the whole subtree of an element
// that has a text child. For the time of a save, each outermost
// xml:space="preserve" element whose children are all non-text gets an empty
// text node as first child (it writes nothing), so nothing inside it is
// indented. The tree is restored exactly when the object goes.
class PreserveMarkers {
  public:
    PreserveMarkers() = default;
    ~PreserveMarkers() {
        for (xmlNode* marker : markers_) {
            xmlNode* parent = marker->parent;
            parent->children = marker->next;
            marker->next->prev = nullptr;
            marker->next = nullptr;
            marker->parent = nullptr;
            xmlFreeNode(marker);
        }
    }
    PreserveMarkers(const PreserveMarkers&) = delete;
    PreserveMarkers& operator=(const PreserveMarkers&) = delete;

    // False when a marker could not be made (the ones made are removed later).
    bool Insert(xmlDoc* doc, const std::vector<xmlNode*>& elements) {
        markers_.reserve(elements.size());
        for (xmlNode* element : elements) {
            xmlNode* marker = xmlNewDocText(doc, ToXml(""));
            if (marker == nullptr) return false;
            // Linked by hand: xmlAddPrevSibling could merge text nodes.
            marker->parent = element;
            marker->next = element->children;
            element->children->prev = marker;
            element->children = marker;
            markers_.push_back(marker);
        }
        return true;
    }

  private:
    std::vector<xmlNode*> markers_;
};

// Walks the tree once, without recursion: every node must be writable in
// the target encoding and no branch deeper than the parser accepts. When
// `preserveRoots` is given, collects the outermost xml:space="preserve"
// elements that need a marker to keep indentation out, and has namespace
// URIs escaped for the save.
HRESULT CheckTreeForSave(xmlDoc* doc, const EncodabilityCheck& enc,
                         std::vector<xmlNode*>* preserveRoots, NamespaceUriEscapes& escapes) {
    constexpr size_t kOutside = static_cast<size_t>(-1);
    // The parser refuses an element nested deeper than this (its depth limit
    // counts the elements open around the one being started).
    const size_t maxElementDepth = static_cast<size_t>(xmlParserMaxDepth) + 1;
    xmlNode* const top = reinterpret_cast<xmlNode*>(doc);
    size_t depth = 0;               // elements open around `cur`
    size_t regionDepth = kOutside;  // depth of the preserve element we are in
    xmlNode* cur = doc->children;
    while (cur != nullptr) {
        // The internal subset (XML_DTD_NODE) is written by libxml2's DTD
        // writer; its declarations are not content.
        const HRESULT hr = cur->type == XML_DTD_NODE ? CheckDoctype(cur, enc) : CheckNode(cur, enc);
        if (hr != S_OK) return hr;
        if (cur->type == XML_ELEMENT_NODE) {
            if (depth + 1 > maxElementDepth) return E_FAIL;
            if (cur->nsDef != nullptr) escapes.EscapeDeclarationsOf(cur);
            if (preserveRoots != nullptr && regionDepth == kOutside && cur->properties != nullptr &&
                IsPreserve(XmlSpaceValue(cur))) {
                regionDepth = depth;
                if (cur->children != nullptr && !HasTextLikeChild(cur)) {
                    preserveRoots->push_back(cur);
                }
            }
            if (cur->children != nullptr) {
                ++depth;
                cur = cur->children;
                continue;
            }
        }
        while (cur->next == nullptr && cur->parent != top && cur->parent != nullptr) {
            cur = cur->parent;
            --depth;
        }
        if (depth <= regionDepth) regionDepth = kOutside;  // leaving the region's element
        cur = cur->next;
    }
    return S_OK;
}

// ---- namespaces of a subtree written on its own --------------------------------

// A subtree written alone loses the namespace declarations of its ancestors.
// For the life of the object, the subtree's root also declares every
// namespace its subtree uses from outside, so its markup parses on its own.
class OuterNamespacesDeclared {
  public:
    explicit OuterNamespacesDeclared(xmlNode* root) : root_(root) {
        // Under the document node nothing is declared outside. A detached
        // element may still use declarations of its former ancestors.
        if (root_->type != XML_ELEMENT_NODE ||
            (root_->parent != nullptr && root_->parent->type == XML_DOCUMENT_NODE)) {
            return;
        }
        std::vector<const xmlNs*> declaredInside;
        xmlNode* cur = root_;
        while (cur != nullptr) {
            if (cur->type == XML_ELEMENT_NODE) {
                for (const xmlNs* ns = cur->nsDef; ns != nullptr; ns = ns->next) {
                    declaredInside.push_back(ns);
                }
                Need(cur->ns, declaredInside);
                for (const xmlAttr* a = cur->properties; a != nullptr; a = a->next) {
                    Need(a->ns, declaredInside);
                }
                if (cur->children != nullptr) {
                    cur = cur->children;
                    continue;
                }
            }
            while (cur != root_ && cur->next == nullptr) cur = cur->parent;
            if (cur == root_) break;
            cur = cur->next;
        }
        if (added_ == nullptr) return;
        // Appended after the root's own declarations; cut off again later.
        if (root_->nsDef == nullptr) {
            root_->nsDef = added_;
        } else {
            lastOwn_ = root_->nsDef;
            while (lastOwn_->next != nullptr) lastOwn_ = lastOwn_->next;
            lastOwn_->next = added_;
        }
    }
    ~OuterNamespacesDeclared() {
        if (added_ == nullptr) return;
        if (lastOwn_ != nullptr) {
            lastOwn_->next = nullptr;
        } else {
            root_->nsDef = nullptr;
        }
        xmlFreeNsList(added_);
    }
    OuterNamespacesDeclared(const OuterNamespacesDeclared&) = delete;
    // False when a declaration could not be made.
    bool ok() const { return !failed_; }
    OuterNamespacesDeclared& operator=(const OuterNamespacesDeclared&) = delete;

  private:
    void Need(const xmlNs* ns, const std::vector<const xmlNs*>& declaredInside) {
        if (ns == nullptr || xmlStrEqual(ns->prefix, ToXml("xml"))) return;
        for (const xmlNs* d : declaredInside) {
            if (d == ns) return;
        }
        for (const xmlNs* own = root_->nsDef; own != nullptr; own = own->next) {
            if (xmlStrEqual(own->prefix, ns->prefix)) return;  // would be declared twice
        }
        for (const xmlNs* a = added_; a != nullptr; a = a->next) {
            if (xmlStrEqual(a->prefix, ns->prefix)) return;
        }
        xmlNs* copy = xmlNewNs(nullptr, ns->href, ns->prefix);
        if (copy == nullptr) {
            failed_ = true;
            return;
        }
        copy->next = added_;
        added_ = copy;
    }

    xmlNode* root_;
    xmlNs* added_ = nullptr;
    xmlNs* lastOwn_ = nullptr;
    bool failed_ = false;
};

HRESULT SerializeAttribute(const ErrorSilencer& silence, xmlNode* attr, std::string& utf8) {
    std::string bytes;
    const HRESULT hr = SaveToBytes(
        silence, kUtf8, kBaseSaveOptions,
        [attr](xmlSaveCtxt* save) { return xmlSaveTree(save, attr); }, bytes);
    if (FAILED(hr)) return hr;
    // libxml2 writes an attribute as it appears in a start tag: " name=...".
    if (!bytes.empty() && bytes[0] == ' ') bytes.erase(0, 1);
    utf8 = std::move(bytes);
    return S_OK;
}

}  // namespace

HRESULT SerializeToUtf8(xmlNode* node, std::string& utf8) {
    if (node == nullptr) return E_INVALIDARG;
    if (const HRESULT fits = CheckLoadableSizes(node); fits != S_OK) return fits;
    ErrorSilencer silence;
    if (node->type == XML_ATTRIBUTE_NODE) {
        DocumentEncodingOverride encoding(node->doc);
        return SerializeAttribute(silence, node, utf8);
    }
    if (node->type == XML_DOCUMENT_NODE) {
        xmlDoc* doc = reinterpret_cast<xmlDoc*>(node);
        NamespaceUriEscapes escapes;
        for (const xmlNode* top = doc->children; top != nullptr; top = top->next) {
            escapes.EscapeDeclarationsUnder(top);
        }
        return SaveToBytes(
            silence, kUtf8, kBaseSaveOptions,
            [doc](xmlSaveCtxt* save) { return xmlSaveDoc(save, doc); }, utf8);
    }
    DocumentEncodingOverride encoding(node->doc);
    OuterNamespacesDeclared namespaces(node);
    if (!namespaces.ok()) return E_OUTOFMEMORY;
    // Declared after `namespaces`, so the URIs are put back before the
    // declarations added there are freed.
    NamespaceUriEscapes escapes;
    escapes.EscapeDeclarationsUnder(node);
    return SaveToBytes(
        silence, kUtf8, kBaseSaveOptions,
        [node](xmlSaveCtxt* save) { return xmlSaveTree(save, node); }, utf8);
}

HRESULT SerializeForSave(xmlDoc* doc, bool indent, file::ByteSink& sink) {
    if (doc == nullptr) return E_INVALIDARG;
    // A file without a root element is no XML document: it would not load.
    if (xmlDocGetRootElement(doc) == nullptr) return E_FAIL;
    if (const HRESULT fits = CheckLoadableSizes(reinterpret_cast<xmlNode*>(doc)); fits != S_OK) {
        return fits;
    }
    ErrorSilencer silence;
    xmlNode* declaration = IsDeclarationNode(doc->children) ? doc->children : nullptr;
    std::string encodingName = kUtf8;
    if (declaration != nullptr) {
        const auto decl = ParseDeclarationData(FromXml(declaration->content));
        if (!decl) return E_FAIL;  // written as it stands, it would not parse
        if (!decl->encoding.empty()) encodingName = decl->encoding;
    }
    EncodingHandlerPtr handler(xmlFindCharEncodingHandler(encodingName.c_str()));
    // Short of memory, libxml2 may hand back a converter without its name.
    if (silence.OutOfMemory() || (handler != nullptr && handler->name == nullptr)) {
        return E_OUTOFMEMORY;
    }
    if (handler == nullptr) return HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
    std::vector<xmlNode*> preserveRoots;
    NamespaceUriEscapes escapes;
    const EncodabilityCheck check(handler.get(), encodingName);
    if (!check.Usable()) return HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
    const HRESULT checked =
        CheckTreeForSave(doc, check, indent ? &preserveRoots : nullptr, escapes);
    if (checked != S_OK) return checked;
    PreserveMarkers markers;
    if (!markers.Insert(doc, preserveRoots)) return E_OUTOFMEMORY;
    const int options = kBaseSaveOptions | (indent ? XML_SAVE_FORMAT : 0);
    const auto saveDoc = [doc](xmlSaveCtxt* save) { return xmlSaveDoc(save, doc); };
    // A document without a declaration is written without one, in UTF-8
    // (which needs none): adding one would load back as an extra node.
    if (check.LibxmlWrites()) {
        return SaveToSink(silence, encodingName.c_str(), options, saveDoc, sink);
    }
    // Made in UTF-8 and converted here as it comes.
    EncodabilityCheck::MarkupEncoder encoder(check, sink);
    const HRESULT hr = SaveToSink(silence, kUtf8, options, saveDoc, encoder);
    if (FAILED(hr)) return hr;
    return encoder.Finish();
}

HRESULT SerializeForSave(xmlDoc* doc, bool indent, std::string& bytes) {
    file::StringSink sink;
    const HRESULT hr = SerializeForSave(doc, indent, sink);
    if (FAILED(hr)) return hr;
    bytes.swap(sink.bytes());
    return S_OK;
}

}  // namespace xmlutil::xmldom
