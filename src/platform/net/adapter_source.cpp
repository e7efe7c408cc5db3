// SPDX-License-Identifier: MIT
#include "platform/net/adapter_source.h"

#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

namespace xmlutil::net {
namespace {

// Room for the longest hardware address a driver may report (the kernel's
// MAX_ADDR_LEN). A smaller buffer makes the query fail for long addresses
// instead of telling their length.
constexpr unsigned kAddressRoom = 32;

// Owns one socket descriptor.
class SocketFd {
  public:
    explicit SocketFd(int fd) noexcept : fd_(fd) {}
    ~SocketFd() {
        if (fd_ >= 0) close(fd_);
    }
    SocketFd(const SocketFd&) = delete;
    SocketFd& operator=(const SocketFd&) = delete;
    int get() const noexcept { return fd_; }
    bool valid() const noexcept { return fd_ >= 0; }

  private:
    int fd_;
};

// The function if_nameindex hides the struct of the same name: say `struct`.
struct NameIndexDeleter {
    void operator()(struct if_nameindex* list) const noexcept { if_freenameindex(list); }
};
using NameIndexList = std::unique_ptr<struct if_nameindex, NameIndexDeleter>;

// Any datagram socket carries interface ioctls; an IPv4 one is the usual
// choice, and a local one still works where IPv4 is compiled out.
SocketFd OpenQuerySocket() noexcept {
    for (int family : {AF_INET, AF_UNIX}) {
        int fd = socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd >= 0) return SocketFd(fd);
    }
    return SocketFd(-1);
}

// An interface name the kernel can be asked about: it must fit ifr_name with
// its terminator. A longer name is refused rather than truncated, since the
// truncated name could belong to another interface.
bool IsQueryableName(const std::string& name) noexcept {
    return !name.empty() && name.size() < IFNAMSIZ && name.find('\0') == std::string::npos;
}

int RetryOnInterrupt(int fd, unsigned long request, ifreq* ifr) noexcept {
    int result;
    do {
        result = ioctl(fd, request, ifr);
    } while (result < 0 && errno == EINTR);
    return result;
}

std::atomic<AdapterSource*> g_testSource{nullptr};

}  // namespace

bool KernelAdapterSource::ListAdapters(std::vector<std::string>& names) noexcept {
    NameIndexList list(if_nameindex());
    if (!list) return false;
    try {
        names.clear();
        for (const struct if_nameindex* entry = list.get(); entry->if_index != 0; ++entry) {
            names.emplace_back(entry->if_name);
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool KernelAdapterSource::ReadPermanentAddress(const std::string& name,
                                               HardwareAddress& address) noexcept {
    if (!IsQueryableName(name)) return false;
    SocketFd sock = OpenQuerySocket();
    if (!sock.valid()) return false;

    // struct ethtool_perm_addr ends in a flexible array: the request is its
    // header followed by the room the driver may fill.
    alignas(ethtool_perm_addr) unsigned char request[sizeof(ethtool_perm_addr) + kAddressRoom] = {};
    ethtool_perm_addr header{};
    header.cmd = ETHTOOL_GPERMADDR;
    header.size = kAddressRoom;
    std::memcpy(request, &header, sizeof header);

    ifreq ifr{};
    std::memcpy(ifr.ifr_name, name.data(), name.size());
    ifr.ifr_data = reinterpret_cast<char*>(request);
    if (RetryOnInterrupt(sock.get(), SIOCETHTOOL, &ifr) < 0) return false;

    // The kernel writes back the address length; only a 48-bit address counts.
    std::memcpy(&header, request, sizeof header);
    if (header.size != address.size()) return false;
    std::memcpy(address.data(), request + sizeof header, address.size());
    return true;
}

AdapterSource& CurrentAdapterSource() noexcept {
    static KernelAdapterSource kernel;
    AdapterSource* installed = g_testSource.load(std::memory_order_acquire);
    return installed != nullptr ? *installed : kernel;
}

AdapterSource* SetAdapterSourceForTesting(AdapterSource* source) noexcept {
    return g_testSource.exchange(source, std::memory_order_acq_rel);
}

}  // namespace xmlutil::net
