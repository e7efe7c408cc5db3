// SPDX-License-Identifier: MIT
#include "platform/xmldom/engine/transcode.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/xmldom/engine/declaration.h"

namespace xmlutil::xmldom {

bool KeepsAsciiApart(std::string_view encodingName) {
    for (const char* name : {"GB2312", "EUC-CN", "EUCCN", "CSGB2312"}) {
        if (EqualsIgnoringCase(encodingName, name)) return true;
    }
    return false;
}

namespace {

bool IsShiftJisName(std::string_view encodingName) {
    for (const char* name : {"Shift_JIS", "SHIFT-JIS", "SJIS", "MS_KANJI", "CSSHIFTJIS"}) {
        if (EqualsIgnoringCase(encodingName, name)) return true;
    }
    return false;
}

}  // namespace

std::string ConverterName(std::string_view encodingName) {
    return IsShiftJisName(encodingName) ? "CP932" : std::string(encodingName);
}

bool DecodedByEngine(std::string_view encodingName) {
    return KeepsAsciiApart(encodingName) || IsShiftJisName(encodingName);
}

size_t AsciiRunLength(const char* bytes, size_t size) {
    constexpr uint64_t kHighBits = 0x8080808080808080ULL;
    size_t at = 0;
    for (; at + sizeof(uint64_t) <= size; at += sizeof(uint64_t)) {
        uint64_t word;
        std::memcpy(&word, bytes + at, sizeof word);
        if ((word & kHighBits) != 0) break;
    }
    while (at < size && static_cast<unsigned char>(bytes[at]) < 0x80) ++at;
    return at;
}

size_t NonAsciiRunLength(const char* bytes, size_t size) {
    size_t at = 0;
    while (at < size && static_cast<unsigned char>(bytes[at]) >= 0x80) ++at;
    return at;
}

std::optional<size_t> InputDecoder::CompleteCarried(const char* bytes, size_t size,
                                                    std::string& out) {
    // The encodings taken keep no shift state: the same start can be tried
    // with one more byte each time until it makes a character.
    char character[2 * kMaxCharLength];
    const size_t carried = carried_.size();
    carried_.copy(character, carried);
    for (size_t taken = 1; taken <= size && carried + taken <= kMaxCharLength; ++taken) {
        character[carried + taken - 1] = bytes[taken - 1];
        char* in = character;
        size_t inLeft = carried + taken;
        char utf8[2 * kMaxCharLength];
        char* outPtr = utf8;
        size_t outLeft = sizeof utf8;
        if (iconv(cd_.get(), &in, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1)) {
            out.append(utf8, static_cast<size_t>(outPtr - utf8));
            carried_.clear();
            return taken;
        }
        if (errno != EINVAL) return std::nullopt;
    }
    if (carried + size < kMaxCharLength) {  // the piece ended before the character
        carried_.append(bytes, size);
        return size;
    }
    return std::nullopt;
}

bool InputDecoder::Decode(const char* bytes, size_t size, std::string& out) {
    size_t at = 0;
    if (!carried_.empty()) {
        const std::optional<size_t> taken = CompleteCarried(bytes, size, out);
        if (!taken) return false;
        at = *taken;
    }
    if (!asciiApart_) return at == size || DecodeRun(bytes + at, size - at, true, out);
    while (at < size) {
        const size_t ascii = AsciiRunLength(bytes + at, size - at);
        out.append(bytes + at, ascii);
        at += ascii;
        if (at == size) break;
        const size_t other = NonAsciiRunLength(bytes + at, size - at);
        if (!DecodeRun(bytes + at, other, at + other == size, out)) return false;
        at += other;
    }
    return true;
}

bool InputDecoder::DecodeRun(const char* run, size_t size, bool atEnd, std::string& out) {
    char* in = const_cast<char*>(run);
    size_t inLeft = size;
    while (inLeft > 0) {
        // A byte makes at most three of UTF-8; iconv says when it needs more.
        const size_t start = out.size();
        out.resize(start + inLeft * 3 + 8);
        char* outPtr = out.data() + start;
        size_t outLeft = out.size() - start;
        const size_t rc = iconv(cd_.get(), &in, &inLeft, &outPtr, &outLeft);
        const int err = errno;
        out.resize(out.size() - outLeft);
        if (rc != static_cast<size_t>(-1) || err == E2BIG) continue;
        // Only the end of the piece may cut a character, and what is left of
        // it is shorter than any character.
        if (err == EINVAL && atEnd && inLeft < kMaxCharLength) {
            carried_.assign(in, inLeft);
            return true;
        }
        return false;
    }
    return true;
}

}  // namespace xmlutil::xmldom
