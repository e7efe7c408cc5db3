// SPDX-License-Identifier: MIT
// What the fuzz targets share: turning fuzz bytes into wide text, reading
// them as a stream of small numbers, and failing loudly on a broken rule.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "xmlutil/XMLUtil.h"

namespace fuzz {

// Decodes UTF-8 loosely so that every code point reaches the library: lone
// surrogates and values above U+10FFFF from over-long lead bytes included; a
// byte that starts no sequence stands for itself (as Latin-1).
inline std::wstring WideFromBytes(const uint8_t* data, size_t size) {
    std::wstring text;
    size_t i = 0;
    while (i < size) {
        const uint8_t lead = data[i];
        int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
        if (i + extra >= size) extra = 0;
        uint32_t cp = extra == 0 ? lead : (lead & (0x3F >> extra));
        bool ok = true;
        for (int k = 1; k <= extra && ok; ++k) {
            ok = (data[i + k] & 0xC0) == 0x80;
            cp = (cp << 6) | (data[i + k] & 0x3F);
        }
        if (!ok) extra = 0, cp = lead;
        text.push_back(static_cast<wchar_t>(cp));
        i += static_cast<size_t>(extra) + 1;
    }
    return text;
}

// Reads the fuzz input as a sequence of small numbers; zeros once it is used up.
class ByteReader {
  public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool done() const { return pos_ >= size_; }
    uint8_t next() { return pos_ < size_ ? data_[pos_++] : 0; }
    size_t pick(size_t count) { return count == 0 ? 0 : next() % count; }
    // The next `length` bytes (fewer near the end) as wide text.
    std::wstring text(size_t length) {
        const size_t n = length < size_ - pos_ ? length : size_ - pos_;
        std::wstring out = WideFromBytes(data_ + pos_, n);
        pos_ += n;
        return out;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// A broken invariant is a finding: say which and stop so libFuzzer saves the
// input. Replayed by the ordinary tests (XMLUTIL_FUZZ_NO_ENTRY), it throws.
struct InvariantBroken : std::runtime_error {
    using std::runtime_error::runtime_error;
};
[[noreturn]] inline void Fail(const char* what, const std::wstring& detail = std::wstring()) {
    std::string shown;
    for (wchar_t c : detail) {
        if (c >= 0x20 && c < 0x7F) {
            shown += static_cast<char>(c);
        } else if (c == L'\n') {
            shown += '\n';
        } else {
            char code[16];
            std::snprintf(code, sizeof code, "\\x{%X}", static_cast<unsigned>(c));
            shown += code;
        }
    }
    std::fprintf(stderr, "invariant broken: %s\n%s\n", what, shown.c_str());
#ifdef XMLUTIL_FUZZ_NO_ENTRY
    throw InvariantBroken(what);
#else
    std::abort();
#endif
}

// A member's result is S_OK, S_FALSE or a failure code; anything else is a bug.
inline void CheckResult(long hr, const char* what) {
    if (hr != S_OK && hr != S_FALSE && hr >= 0) Fail(what);
}

// The library prints its failure messages to standard output; a fuzz run
// makes thousands of them. Sends them to /dev/null, and initialises COM.
inline void QuietInit() {
    std::FILE* devnull = std::fopen("/dev/null", "w");
    if (devnull != nullptr) {
        dup2(fileno(devnull), STDOUT_FILENO);
        std::fclose(devnull);
    }
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
}

// A file name of this process's own under the temporary folder.
inline std::string TempPath(const char* tag) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/xmlutil-fuzz-" +
           std::to_string(getpid()) + "-" + tag + ".xml";
}

inline std::wstring Wide(const std::string& narrow) {
    return std::wstring(narrow.begin(), narrow.end());
}

}  // namespace fuzz
