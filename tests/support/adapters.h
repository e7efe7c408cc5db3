// SPDX-License-Identifier: MIT
// Test helpers for the adapter seam: fake adapters installed in place of the
// kernel, address literals, and what `ethtool -P` reports about the real ones.
#pragma once

#include <dirent.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "platform/net/adapter_source.h"

namespace xmlutil::test {

using net::HardwareAddress;

// "00:1A:2B:3C:4D:5F" as bytes (the literal must be well formed).
inline HardwareAddress Mac(const char* text) {
    HardwareAddress address{};
    for (size_t i = 0; i < address.size(); ++i) {
        address[i] = static_cast<unsigned char>(std::strtoul(text + 3 * i, nullptr, 16));
    }
    return address;
}

// Adapters the test describes. An adapter without an address is one whose
// query fails. Counts the calls so tests can see that nothing is cached.
class FakeAdapters final : public net::AdapterSource {
  public:
    struct Adapter {
        std::string name;
        std::optional<HardwareAddress> permanent;
    };

    bool listAvailable = true;
    std::vector<Adapter> adapters;
    int listCalls = 0;
    int queries = 0;

    bool ListAdapters(std::vector<std::string>& names) noexcept override {
        ++listCalls;
        if (!listAvailable) return false;
        names.clear();
        for (const Adapter& adapter : adapters) names.push_back(adapter.name);
        return true;
    }

    bool ReadPermanentAddress(const std::string& name, HardwareAddress& address) noexcept override {
        ++queries;
        for (const Adapter& adapter : adapters) {
            if (adapter.name != name) continue;
            if (!adapter.permanent) return false;
            address = *adapter.permanent;
            return true;
        }
        return false;
    }

    // Adds adapters eth0, eth1, ... answering the given addresses in order.
    void Answer(std::initializer_list<const char*> addresses) {
        for (const char* text : addresses) {
            adapters.push_back({"eth" + std::to_string(adapters.size()), Mac(text)});
        }
    }
    void AddFailing(const std::string& name) { adapters.push_back({name, std::nullopt}); }
};

// Installs a source for the lifetime of the object, then restores the previous one.
class InstalledAdapters {
  public:
    explicit InstalledAdapters(net::AdapterSource& source)
        : previous_(net::SetAdapterSourceForTesting(&source)) {}
    ~InstalledAdapters() { net::SetAdapterSourceForTesting(previous_); }
    InstalledAdapters(const InstalledAdapters&) = delete;
    InstalledAdapters& operator=(const InstalledAdapters&) = delete;

  private:
    net::AdapterSource* previous_;
};

// Interface names under /sys/class/net, sorted; empty when it cannot be read.
inline std::vector<std::string> SysfsInterfaces() {
    std::vector<std::string> names;
    if (DIR* dir = opendir("/sys/class/net")) {
        while (const dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

inline bool EthtoolInstalled() {
    return std::system("command -v ethtool >/dev/null 2>&1") == 0;
}

// The 6-byte permanent address `ethtool -P` reports for the interface, as 12
// upper-case digits; "" when it reports none ("not set", all zeros, another
// length, or an error).
inline std::string EthtoolPermanentAddress(const std::string& name) {
    std::string output;
    if (FILE* pipe = popen(("ethtool -P '" + name + "' 2>/dev/null").c_str(), "r")) {
        char chunk[256];
        size_t got;
        while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, got);
        if (pclose(pipe) != 0) return "";
    }
    const std::string label = "Permanent address: ";
    size_t at = output.find(label);
    if (at == std::string::npos) return "";
    std::string text = output.substr(at + label.size());
    text = text.substr(0, text.find('\n'));
    if (text.size() != 17) return "";
    std::string digits;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (i % 3 == 2) {
            if (c != ':') return "";
        } else if (std::isxdigit(static_cast<unsigned char>(c))) {
            digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        } else {
            return "";
        }
    }
    return digits == std::string(12, '0') ? "" : digits;
}

}  // namespace xmlutil::test
