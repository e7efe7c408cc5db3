// SPDX-License-Identifier: MIT
// The output side of transcoding: what an encoding named for a save can hold,
// probed once per character through the converter libxml2 or iconv will use,
// and the markup encoder that converts libxml2's UTF-8 output through iconv,
// writing characters the encoding cannot hold as character references.
#include "platform/xmldom/engine/transcode_encode.h"

#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

#include "common/utf8.h"
#include "platform/xmldom/engine/declaration.h"
#include "platform/xmldom/engine/xml_ptr.h"

namespace xmlutil::xmldom {
namespace {

constexpr char kUtf8[] = "UTF-8";

// The character whose UTF-8 sequence is exactly the `length` bytes at `p`;
// nothing when they are not one well-formed sequence.
std::optional<char32_t> CodePoint(const char* p, size_t length) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(p);
    const utf8::Decoded decoded = utf8::Decode(bytes, bytes + length);
    if (decoded.length != length) return std::nullopt;
    return decoded.code;
}

}  // namespace

EncodabilityCheck::EncodabilityCheck(xmlCharEncodingHandler* handler,
                                     const std::string& encodingName)
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

bool EncodabilityCheck::Usable() const {
    if (holdsEverything_) return true;
    if (handler_->output != nullptr) return !EqualsIgnoringCase(handler_->name, "HTML");
    return handler_->iconv_out != nullptr && cd_ != kNoIconv && MarkupReadsBack();
}

bool EncodabilityCheck::CanEncode(const xmlChar* text) const {
    if (text == nullptr || holdsEverything_) return true;
    const std::string_view s(FromXml(text));
    if (handler_->output == nullptr) return ReadableLength(s.data(), s.size()) == s.size();
    bool ascii = true;
    for (char c : s) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    return ascii || ConvertsWithHandler(s);
}

size_t EncodabilityCheck::ReadableLength(const char* bytes, size_t size) const {
    size_t at = 0;
    while (at < size) {
        const auto lead = static_cast<unsigned char>(bytes[at]);
        if (lead < 0x80) {
            if (!asciiAsIs_[lead]) break;
            ++at;
            continue;
        }
        const size_t length = utf8::SequenceLength(lead);
        if (length == 0 || length > size - at || !ReadsBack(bytes + at, length)) break;
        at += length;
    }
    return at;
}

bool EncodabilityCheck::IsUnicodeEncoding(const std::string& name) {
    switch (xmlParseCharEncoding(name.c_str())) {
        case XML_CHAR_ENCODING_UTF8:
        case XML_CHAR_ENCODING_UTF16LE:
        case XML_CHAR_ENCODING_UTF16BE:
            return true;
        default:
            return false;
    }
}

bool EncodabilityCheck::ConvertsWithHandler(std::string_view s) const {
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

bool EncodabilityCheck::IsMarkupCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           (c != '\0' && std::strchr(" \t\r\n<>&;#=\"'/?!-[]:._%()|*+,", c) != nullptr);
}

bool EncodabilityCheck::MarkupReadsBack() const {
    for (int c = 1; c < 0x80; ++c) {
        if (IsMarkupCharacter(static_cast<char>(c)) && !asciiAsIs_[c]) return false;
    }
    return true;
}

bool EncodabilityCheck::ReadsBack(const char* utf8, size_t length) const {
    const std::optional<char32_t> decoded = CodePoint(utf8, length);
    if (!decoded) return false;
    const unsigned long codePoint = *decoded;
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

std::string EncodabilityCheck::Converts(iconv_t cd, std::string text) {
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

EncodabilityCheck::MarkupEncoder::MarkupEncoder(const EncodabilityCheck& check,
                                                file::ByteSink& next)
    : check_(check), cd_(check.cd_), asciiApart_(check.asciiApart_), next_(next) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
}

HRESULT EncodabilityCheck::MarkupEncoder::Write(const char* bytes, size_t size) {
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

HRESULT EncodabilityCheck::MarkupEncoder::Finish() {
    if (FAILED(failure_)) return failure_;
    if (!split_.empty()) return Fail(HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
    char* outPtr = out_;
    size_t outLeft = sizeof out_;
    if (iconv(cd_, nullptr, nullptr, &outPtr, &outLeft) == static_cast<size_t>(-1)) {
        return Fail(HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
    }
    return Pass(outPtr);
}

HRESULT EncodabilityCheck::MarkupEncoder::Encode(const char* bytes, size_t size) {
    size_t at = 0;
    while (at < size) {
        const size_t readable = check_.ReadableLength(bytes + at, size - at);
        if (readable > 0) {
            if (const HRESULT hr = ConvertRun(bytes + at, readable); FAILED(hr)) return hr;
            at += readable;
            continue;
        }
        const size_t length = utf8::SequenceLength(static_cast<unsigned char>(bytes[at]));
        if (length == 0) return Fail(HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
        if (length > size - at) {
            split_.assign(bytes + at, size - at);
            return S_OK;
        }
        const std::optional<char32_t> codePoint = CodePoint(bytes + at, length);
        if (!codePoint) return Fail(HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
        if (const HRESULT hr = EncodeReference(*codePoint); FAILED(hr)) {
            return hr;
        }
        at += length;
    }
    return S_OK;
}

HRESULT EncodabilityCheck::MarkupEncoder::ConvertRun(const char* bytes, size_t size) {
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

HRESULT EncodabilityCheck::MarkupEncoder::Convert(const char* bytes, size_t size) {
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
        const size_t length = utf8::SequenceLength(static_cast<unsigned char>(*in));
        if (length == 0 || length > inLeft) {
            return Fail(HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
        }
        const std::optional<char32_t> codePoint = CodePoint(in, length);
        if (!codePoint) return Fail(HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
        if (const HRESULT hr = EncodeReference(*codePoint); FAILED(hr)) {
            return hr;
        }
        in += length;
        inLeft -= length;
    }
    return S_OK;
}

HRESULT EncodabilityCheck::MarkupEncoder::EncodeReference(unsigned long codePoint) {
    std::string reference = "&#" + std::to_string(codePoint) + ";";
    char* in = reference.data();
    size_t inLeft = reference.size();
    char* outPtr = out_;
    size_t outLeft = sizeof out_;
    if (iconv(cd_, &in, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1) || inLeft != 0) {
        return Fail(HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
    }
    return Pass(outPtr);
}

HRESULT EncodabilityCheck::MarkupEncoder::Pass(const char* end) {
    if (end == out_) return S_OK;
    const HRESULT hr = next_.Write(out_, static_cast<size_t>(end - out_));
    return FAILED(hr) ? Fail(hr) : S_OK;
}

HRESULT EncodabilityCheck::MarkupEncoder::Fail(HRESULT hr) {
    failure_ = hr;
    return hr;
}

}  // namespace xmlutil::xmldom
