// SPDX-License-Identifier: MIT
// The machine's identity: the lowest permanent hardware address among its
// network adapters, as 12 upper-case hexadecimal digits.
#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "platform/net/adapter_source.h"
#include "xmlutil/XMLUtil.h"

namespace {

using xmlutil::net::AdapterSource;
using xmlutil::net::HardwareAddress;

bool IsAllZero(const HardwareAddress& address) {
    return std::all_of(address.begin(), address.end(), [](unsigned char b) { return b == 0; });
}

// The lowest usable permanent address among the named adapters, compared as a
// 48-bit number with the first byte most significant. Adapters whose query
// fails or that answer all zeros are skipped; all zeros when none is usable.
HardwareAddress LowestPermanentAddress(AdapterSource& source,
                                       const std::vector<std::string>& names) {
    HardwareAddress lowest{};
    bool seen = false;
    for (const std::string& name : names) {
        HardwareAddress address{};
        if (!source.ReadPermanentAddress(name, address) || IsAllZero(address)) continue;
        // std::array compares its unsigned bytes lexicographically, first byte first.
        if (!seen || address < lowest) {
            lowest = address;
            seen = true;
        }
    }
    return lowest;
}

// Writes two upper-case hexadecimal digits per byte, first byte first, and a NUL.
void FormatAddress(const HardwareAddress& address, wchar_t* out) {
    static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
    for (unsigned char byte : address) {
        *out++ = kDigits[byte >> 4];
        *out++ = kDigits[byte & 0x0F];
    }
    *out = L'\0';
}

}  // namespace

long CXMLUtil::GetMinAdapterRealMAC(wchar_t* out) {
    if (out == nullptr) return -1;
    AdapterSource& source = xmlutil::net::CurrentAdapterSource();
    std::vector<std::string> names;
    // A machine that reports no adapter at all has no list to choose from,
    // just like one whose list cannot be read.
    if (!source.ListAdapters(names) || names.empty()) return -1;
    FormatAddress(LowestPermanentAddress(source, names), out);
    return 0;
}
