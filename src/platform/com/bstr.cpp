// SPDX-License-Identifier: MIT
// BSTR: a wide string preceded by its length in bytes (a 32-bit count stored
// just before the first character), always NUL-terminated.
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <limits>

#include "platform/com/alloc_hooks.h"
#include "xmlutil/wintypes.h"

namespace {

// The header is 8 bytes so that the characters keep the allocator's alignment;
// the byte count sits in its last 4 bytes, where SysStringByteLen reads it.
constexpr size_t kHeaderBytes = 8;

uint32_t* ByteCountOf(BSTR s) { return reinterpret_cast<uint32_t*>(s) - 1; }

}  // namespace

extern "C" {

BSTR SysAllocStringLen(const OLECHAR* source, UINT length) {
    const size_t maxLength =
        (std::numeric_limits<uint32_t>::max() - kHeaderBytes) / sizeof(OLECHAR) - 1;
    if (length > maxLength) return nullptr;
    if (xmlutil::com::ShouldFailStringAllocation()) return nullptr;
    const size_t bytes = static_cast<size_t>(length) * sizeof(OLECHAR);
    auto* block = static_cast<unsigned char*>(std::malloc(kHeaderBytes + bytes + sizeof(OLECHAR)));
    if (block == nullptr) return nullptr;
    BSTR s = reinterpret_cast<BSTR>(block + kHeaderBytes);
    *ByteCountOf(s) = static_cast<uint32_t>(bytes);
    if (source != nullptr) {
        std::memcpy(s, source, bytes);
    } else {
        std::memset(s, 0, bytes);
    }
    s[length] = L'\0';
    return s;
}

BSTR SysAllocString(const OLECHAR* source) {
    if (source == nullptr) return nullptr;
    return SysAllocStringLen(source, static_cast<UINT>(std::wcslen(source)));
}

UINT SysStringByteLen(BSTR s) { return s == nullptr ? 0 : *ByteCountOf(s); }

UINT SysStringLen(BSTR s) { return SysStringByteLen(s) / sizeof(OLECHAR); }

void SysFreeString(BSTR s) {
    if (s == nullptr) return;
    std::free(reinterpret_cast<unsigned char*>(s) - kHeaderBytes);
}

}  // extern "C"
