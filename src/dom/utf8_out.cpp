// SPDX-License-Identifier: MIT
#include "dom/utf8_out.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cwchar>
#include <type_traits>

namespace xmlutil::dom {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

char32_t ScalarOrReplacement(wchar_t unit) {
    // wchar_t is 32 bits here and may be signed: compare as unsigned.
    const auto code = static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(unit));
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return (surrogate || code > 0x10FFFF) ? kReplacement : code;
}

void AppendUtf8(char32_t code, std::string& out) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// Writes all of `bytes` to `fd`; gives up quietly on an error, as a message
// that cannot be printed is no failure of the call that printed it.
void WriteAll(int fd, const std::string& bytes) {
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        written += static_cast<size_t>(n);
    }
}

}  // namespace

void PrintToStdout(const std::wstring& message) {
    const int orientation = std::fwide(stdout, 0);
    if (orientation > 0) {
        const std::wstring text(message.c_str());  // up to the first NUL
        std::fputws(text.c_str(), stdout);
    } else if (orientation < 0) {
        std::fputs(Utf8UpToNul(message).c_str(), stdout);
    } else {
        WriteAll(fileno(stdout), Utf8UpToNul(message));
    }
}

std::string Utf8UpToNul(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (const wchar_t unit : text) {
        if (unit == L'\0') break;
        AppendUtf8(ScalarOrReplacement(unit), out);
    }
    return out;
}

}  // namespace xmlutil::dom
