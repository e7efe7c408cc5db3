// SPDX-License-Identifier: MIT
#include "text.h"

#include "utf8.h"

namespace xmlutil::tool {

std::optional<std::wstring> WideFromUtf8(std::string_view utf8) {
    std::wstring wide;
    wide.reserve(utf8.size());
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const auto* end = p + utf8.size();
    while (p < end) {
        const utf8::Decoded decoded = utf8::Decode(p, end);
        if (decoded.length == 0) return std::nullopt;
        wide += static_cast<wchar_t>(decoded.code);
        p += decoded.length;
    }
    return wide;
}

std::string Utf8FromWide(std::wstring_view wide) {
    std::string out;
    out.reserve(wide.size());
    for (const wchar_t unit : wide) utf8::Append(utf8::ScalarOrReplacement(unit), out);
    return out;
}

}  // namespace xmlutil::tool
