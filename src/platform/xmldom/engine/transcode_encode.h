// SPDX-License-Identifier: MIT
// The output side of transcoding, the mirror of InputDecoder: judging
// whether an encoding named for a save can hold what is written
// (EncodabilityCheck, with libxml2's own converters or iconv's), and the
// markup encoder that converts libxml2's UTF-8 output through iconv as it
// comes, writing a character the encoding cannot hold as a character
// reference.
#pragma once

#include <iconv.h>
#include <libxml/encoding.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/xmldom/engine/byte_sink.h"
#include "platform/xmldom/engine/transcode.h"
#include "xmlutil/wintypes.h"

namespace xmlutil::xmldom {

// Answers whether the target encoding can hold a UTF-8 string, using the same
// conversion libxml2's writer will use.
class EncodabilityCheck {
  public:
    EncodabilityCheck(xmlCharEncodingHandler* handler, const std::string& encodingName);
    EncodabilityCheck(const EncodabilityCheck&) = delete;
    EncodabilityCheck& operator=(const EncodabilityCheck&) = delete;

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
    bool Usable() const;

    // True when every character can be written (a Unicode encoding).
    bool HoldsEverything() const { return holdsEverything_; }

    bool CanEncode(const xmlChar* text) const;

    // The length of the longest start of the UTF-8 `bytes` made of whole
    // characters that iconv writes so that they read back as themselves.
    size_t ReadableLength(const char* bytes, size_t size) const;

    // True when libxml2's own converter writes the encoding; otherwise the
    // engine converts libxml2's UTF-8 output through iconv itself (libxml2's
    // iconv converter leaks when an allocation fails while it is made).
    bool LibxmlWrites() const { return holdsEverything_ || handler_->output != nullptr; }

    class MarkupEncoder;

  private:
    static inline const iconv_t kNoIconv = reinterpret_cast<iconv_t>(-1);

    static bool IsUnicodeEncoding(const std::string& name);
    bool ConvertsWithHandler(std::string_view s) const;
    // White space, letters, digits and the delimiters of markup, character
    // references and declarations.
    static bool IsMarkupCharacter(char c);
    bool MarkupReadsBack() const;
    // Whether the character at `utf8` (`length` bytes), written alone, reads
    // back as itself. Asked once per character and remembered. One written
    // with control bytes (the escape and shift sequences of ISO-2022) does
    // not: libxml2 loses the shift state between the pieces it decodes.
    bool ReadsBack(const char* utf8, size_t length) const;
    // `text` converted through `cd` from its initial state; "" on failure.
    static std::string Converts(iconv_t cd, std::string text);

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

// Converts UTF-8 markup written by libxml2, piece by piece as it comes,
// handing the result to `next`. A character the encoding cannot hold
// becomes a character reference: the checks made before the save leave
// such characters only in text and attribute values, where a reference
// means the same. The reference itself goes through iconv too, so a
// stateful encoding shifts back to ASCII first. A character split
// between two pieces waits for the rest.
class EncodabilityCheck::MarkupEncoder final : public file::ByteSink {
  public:
    MarkupEncoder(const EncodabilityCheck& check, file::ByteSink& next);

    HRESULT Write(const char* bytes, size_t size) override;

    // Back to the initial shift state (stateful encodings); S_OK once
    // everything written was converted and passed on.
    HRESULT Finish();

  private:
    // Characters that would not read back as themselves become
    // references; a character cut off at the end waits for the rest.
    HRESULT Encode(const char* bytes, size_t size);
    // In an encoding whose ASCII stands apart, ASCII is written as it
    // is and only the other runs are converted.
    HRESULT ConvertRun(const char* bytes, size_t size);
    HRESULT Convert(const char* bytes, size_t size);
    HRESULT EncodeReference(unsigned long codePoint);
    // Hands on what was converted into out_, up to `end`.
    HRESULT Pass(const char* end);
    HRESULT Fail(HRESULT hr);

    const EncodabilityCheck& check_;
    iconv_t cd_;
    bool asciiApart_;
    file::ByteSink& next_;
    std::string split_;
    HRESULT failure_ = S_OK;
    char out_[16384];
};

}  // namespace xmlutil::xmldom
