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

uint32_t* ByteCountOf(BSTR s) {
    return reinterpret_cast<uint32_t*>(s) - 1;
}

// A string of `bytes` bytes copied from `source` (zeros when null), followed
// by zeros up to and including a whole terminating character.
BSTR AllocateBytes(const void* source, size_t bytes) {
    constexpr size_t kMaxBytes =
        std::numeric_limits<uint32_t>::max() - kHeaderBytes - 2 * sizeof(OLECHAR);
    if (bytes > kMaxBytes) return nullptr;
    if (xmlutil::com::ShouldFailStringAllocation()) return nullptr;
    const size_t units = bytes / sizeof(OLECHAR) + 1;  // the characters begun, and the NUL
    const size_t total = kHeaderBytes + (units + (bytes % sizeof(OLECHAR) != 0)) * sizeof(OLECHAR);
    auto* block = static_cast<unsigned char*>(std::malloc(total));
    if (block == nullptr) return nullptr;
    BSTR s = reinterpret_cast<BSTR>(block + kHeaderBytes);
    *ByteCountOf(s) = static_cast<uint32_t>(bytes);
    auto* characters = reinterpret_cast<unsigned char*>(s);
    if (source != nullptr) {
        std::memcpy(characters, source, bytes);
    } else {
        std::memset(characters, 0, bytes);
    }
    std::memset(characters + bytes, 0, total - kHeaderBytes - bytes);
    return s;
}

// Replaces *target by `replacement` when it was made; TRUE on success.
int Replace(BSTR* target, BSTR replacement) {
    if (replacement == nullptr) return FALSE;
    SysFreeString(*target);
    *target = replacement;
    return TRUE;
}

}  // namespace

extern "C" {

BSTR SysAllocStringLen(const OLECHAR* source, UINT length) {
    return AllocateBytes(source, static_cast<size_t>(length) * sizeof(OLECHAR));
}

BSTR SysAllocStringByteLen(const char* source, UINT bytes) {
    return AllocateBytes(source, bytes);
}

int SysReAllocString(BSTR* target, const OLECHAR* source) {
    if (target == nullptr) return FALSE;
    if (source == nullptr) return Replace(target, SysAllocStringLen(nullptr, 0));
    return Replace(target, SysAllocString(source));
}

// The new string is made before the old one is freed: `source` may lie in it.
int SysReAllocStringLen(BSTR* target, const OLECHAR* source, UINT length) {
    if (target == nullptr) return FALSE;
    return Replace(target, SysAllocStringLen(source, length));
}

BSTR SysAllocString(const OLECHAR* source) {
    if (source == nullptr) return nullptr;
    return SysAllocStringLen(source, static_cast<UINT>(std::wcslen(source)));
}

UINT SysStringByteLen(BSTR s) {
    return s == nullptr ? 0 : *ByteCountOf(s);
}

UINT SysStringLen(BSTR s) {
    return SysStringByteLen(s) / sizeof(OLECHAR);
}

void SysFreeString(BSTR s) {
    if (s == nullptr) return;
    std::free(reinterpret_cast<unsigned char*>(s) - kHeaderBytes);
}

}  // extern "C"
