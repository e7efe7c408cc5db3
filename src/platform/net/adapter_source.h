// SPDX-License-Identifier: MIT
// The seam between the device identity logic and the machine's network
// adapters: listing every interface and reading each one's permanent hardware
// address. The kernel answers by default; tests install fake adapters. Nothing
// here is exported from the library.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace xmlutil::net {

// A 48-bit hardware address, bytes in the order the driver delivers them
// (the first byte is the one written first in the usual notation).
using HardwareAddress = std::array<unsigned char, 6>;

class AdapterSource {
  public:
    virtual ~AdapterSource() = default;

    // Fills `names` with every network interface the system knows, up or down.
    // False when the list cannot be had (the platform refuses it, or memory
    // runs out); `names` is then unspecified. Never throws.
    virtual bool ListAdapters(std::vector<std::string>& names) noexcept = 0;

    // Reads the permanent (maker-assigned) address of the named interface.
    // False when the query fails or the answer is not exactly 6 bytes; `address`
    // is then unspecified. An all-zero answer is returned as it is. Never throws.
    virtual bool ReadPermanentAddress(const std::string& name,
                                      HardwareAddress& address) noexcept = 0;
};

// The kernel's adapters: interfaces from the netlink interface index of the
// calling thread's network namespace, permanent addresses through the
// SIOCETHTOOL ioctl (ETHTOOL_GPERMADDR).
class KernelAdapterSource final : public AdapterSource {
  public:
    bool ListAdapters(std::vector<std::string>& names) noexcept override;
    bool ReadPermanentAddress(const std::string& name, HardwareAddress& address) noexcept override;
};

// The source in use: the kernel unless a test installed another.
AdapterSource& CurrentAdapterSource() noexcept;

// Installs `source` (not owned; it must outlive its use) and returns the
// source installed before it (nullptr when that was the kernel); nullptr
// restores the kernel. For tests.
AdapterSource* SetAdapterSourceForTesting(AdapterSource* source) noexcept;

}  // namespace xmlutil::net
