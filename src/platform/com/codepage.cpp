// SPDX-License-Identifier: MIT
// MultiByteToWideChar and WideCharToMultiByte: every narrow code page is
// UTF-8 on this platform, so both convert between UTF-8 and wide text (one
// code point per wchar_t), with the Windows contract for lengths: -1 counts
// up to and including the NUL, a zero-sized destination only measures.
#include <cstring>
#include <new>
#include <string>

#include "common/utf8.h"
#include "xmlutil/wintypes.h"

namespace {

bool IsUtf8CodePage(UINT codePage) {
    return codePage == CP_ACP || codePage == CP_OEMCP || codePage == CP_THREAD_ACP ||
           codePage == CP_UTF8;
}

// The characters of a counted source: -1 means up to and including the NUL.
template <class Char>
bool SourceLength(const Char* source, int count, size_t& length) {
    if (source == nullptr || count == 0 || count < -1) return false;
    if (count != -1) {
        length = static_cast<size_t>(count);
    } else {
        length = std::char_traits<Char>::length(source) + 1;
    }
    return true;
}

// Copies `converted` into the caller's buffer; only its size when the buffer
// is empty, 0 when it does not fit (or is larger than an int can count).
template <class Char>
int Deliver(const std::basic_string<Char>& converted, Char* dest, int capacity) {
    if (converted.size() > static_cast<size_t>(INT32_MAX) || capacity < 0) return 0;
    const int size = static_cast<int>(converted.size());
    if (capacity == 0) return size;
    if (dest == nullptr || capacity < size) return 0;
    std::char_traits<Char>::copy(dest, converted.data(), converted.size());
    return size;
}

}  // namespace

extern "C" {

int MultiByteToWideChar(UINT codePage, DWORD flags, const char* source, int count, LPWSTR dest,
                        int capacity) {
    size_t length = 0;
    if (!IsUtf8CodePage(codePage) || !SourceLength(source, count, length)) return 0;
    try {
        std::wstring wide;
        wide.reserve(length);
        const auto* p = reinterpret_cast<const unsigned char*>(source);
        const auto* end = p + length;
        while (p < end) {
            const xmlutil::utf8::Decoded decoded = xmlutil::utf8::Decode(p, end);
            // A malformed sequence reads as U+FFFD and consumes one byte.
            const bool malformed = decoded.length == 0;
            if (malformed && (flags & MB_ERR_INVALID_CHARS) != 0) return 0;
            p += malformed ? 1 : decoded.length;
            wide.push_back(
                static_cast<wchar_t>(malformed ? xmlutil::utf8::kReplacement : decoded.code));
        }
        return Deliver(wide, dest, capacity);
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

int WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR source, int count, char* dest, int capacity,
                        const char*, int* usedDefaultChar) {
    if (usedDefaultChar != nullptr) *usedDefaultChar = 0;
    size_t length = 0;
    if (!IsUtf8CodePage(codePage) || !SourceLength(source, count, length)) return 0;
    try {
        std::string utf8;
        utf8.reserve(length);
        for (size_t i = 0; i < length; ++i) {
            xmlutil::utf8::Append(xmlutil::utf8::ScalarOrReplacement(source[i]), utf8);
        }
        return Deliver(utf8, dest, capacity);
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

}  // extern "C"
