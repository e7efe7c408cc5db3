// SPDX-License-Identifier: MIT
// Conversion between UTF-8 and the byte encodings the engine reads itself
// rather than through libxml2: Shift_JIS, read and written as Windows does
// (code page 932, see ConverterName), and the encodings whose ASCII stands
// apart: GB2312 above all, the encoding of the menus this library is made
// for. In such an encoding every byte of a multi-byte character is 0x80 or
// more and no shift state is kept, so a byte below 0x80 is always the ASCII
// character it looks like. Markup is nearly all ASCII; only the runs of
// other bytes need iconv, which does all the converting (a 5 MB menu file
// has 4% of its bytes in such runs, and iconv costs about 25 instructions a
// byte).
#pragma once

#include <iconv.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace xmlutil::xmldom {

// True for the names iconv gives to GB2312 (EUC-CN), compared as encoding
// names are, ignoring case. Not "GB_2312-80": that is the raw character set,
// whose bytes are all ASCII.
bool KeepsAsciiApart(std::string_view encodingName);

// The name iconv converts a declared encoding by. Shift_JIS and its aliases
// become CP932, Windows code page 932: files made on Windows (and by the
// library this one stands in for) mean by it what their authors meant there.
// iconv's own SHIFT_JIS reads the bytes of `\` and `~` as a yen sign and an
// overline, and lacks the characters Windows adds (circled numbers, NEC and
// IBM kanji), which CP932 reads as Windows does; its other characters are the
// same. Every other name is returned as it is.
std::string ConverterName(std::string_view encodingName);

// True when the engine decodes input in this encoding itself: those whose
// ASCII stands apart, and those that convert under another name.
bool DecodedByEngine(std::string_view encodingName);

// The length of the run of ASCII bytes (below 0x80) `bytes` starts with.
size_t AsciiRunLength(const char* bytes, size_t size);
// The length of the run of other bytes (0x80 and above) `bytes` starts with.
size_t NonAsciiRunLength(const char* bytes, size_t size);

// One iconv conversion descriptor, closed when it goes.
class IconvHandle {
  public:
    IconvHandle(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~IconvHandle() {
        if (Valid()) iconv_close(cd_);
    }
    IconvHandle(const IconvHandle&) = delete;
    IconvHandle& operator=(const IconvHandle&) = delete;

    bool Valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

  private:
    iconv_t cd_;
};

// Decodes input in an encoding for which DecodedByEngine holds into UTF-8,
// piece by piece as it is read. Where ASCII stands apart it is copied and
// every other run goes through iconv; otherwise (CP932, whose second bytes
// may be ASCII) all of it does. iconv refuses a byte sequence the encoding
// does not have.
class InputDecoder {
  public:
    explicit InputDecoder(const char* encodingName)
        : cd_("UTF-8", ConverterName(encodingName).c_str()),
          asciiApart_(KeepsAsciiApart(encodingName)) {}

    // False when iconv has no converter for the encoding.
    bool Ready() const { return cd_.Valid(); }

    // Appends the UTF-8 of `bytes` to `out`. A character cut off at the end
    // waits for the next piece. False on a byte sequence the encoding does
    // not have; `out` then holds part of the piece. Throws std::bad_alloc,
    // but allocates nothing when `out` has room for SpaceFor(size) more
    // bytes.
    bool Decode(const char* bytes, size_t size, std::string& out);

    // The room in `out` Decode may use for a piece of `size` bytes: a
    // one-byte character (CP932's half-width katakana) makes up to three
    // bytes of UTF-8, and a run is given that much while iconv converts it.
    static constexpr size_t SpaceFor(size_t size) { return 3 * size + 64; }

    // False when the input ended inside a character.
    bool Complete() const { return carried_.empty(); }

  private:
    // Completes the character carried over from the last piece with the
    // first bytes of this one; how many it took, or nothing when the bytes
    // are not a character of the encoding.
    std::optional<size_t> CompleteCarried(const char* bytes, size_t size, std::string& out);
    // Converts one run of non-ASCII bytes; `atEnd` when it reaches the end
    // of the piece (and may stop inside a character).
    bool DecodeRun(const char* run, size_t size, bool atEnd, std::string& out);

    // The longest character of the encodings taken (GB2312: two bytes).
    static constexpr size_t kMaxCharLength = 4;

    IconvHandle cd_;
    bool asciiApart_;
    std::string carried_;  // the start of a character cut off at a piece's end
};

}  // namespace xmlutil::xmldom
