// SPDX-License-Identifier: MIT
#include "dom/utf8_out.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cwchar>

#include "common/utf8.h"

namespace xmlutil::dom {
namespace {

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
        utf8::Append(utf8::ScalarOrReplacement(unit), out);
    }
    return out;
}

}  // namespace xmlutil::dom
