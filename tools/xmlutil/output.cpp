// SPDX-License-Identifier: MIT
#include "output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string_view>

#include "file_descriptor.h"

namespace xmlutil::tool {
namespace {

constexpr int kMaxLinks = 40;  // as the kernel follows

std::optional<int> DescriptorNumber(std::string_view digits) {
    if (digits.empty() || digits.size() > 9) return std::nullopt;
    int fd = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        fd = fd * 10 + (c - '0');
    }
    return fd;
}

// The N of a name that is itself one of the descriptor folders' entries.
std::optional<int> DescriptorInName(std::string_view path) {
    const std::string own = "/proc/" + std::to_string(::getpid()) + "/fd/";
    for (std::string_view folder :
         {std::string_view("/dev/fd/"), std::string_view("/proc/self/fd/"),
          std::string_view("/proc/thread-self/fd/"), std::string_view(own)}) {
        if (path.substr(0, folder.size()) == folder) {
            return DescriptorNumber(path.substr(folder.size()));
        }
    }
    return std::nullopt;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

int WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t put = ::write(fd, data, size);
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) return errno;
        data += put;
        size -= static_cast<size_t>(put);
    }
    return 0;
}

}  // namespace

std::optional<int> DescriptorBehind(const std::string& path) {
    std::string current = path;
    for (int hop = 0; hop <= kMaxLinks; ++hop) {
        if (std::optional<int> fd = DescriptorInName(current)) return fd;
        char target[PATH_MAX];
        const ssize_t length = ::readlink(current.c_str(), target, sizeof target);
        if (length <= 0 || static_cast<size_t>(length) == sizeof target) return std::nullopt;
        std::string next(target, static_cast<size_t>(length));
        current = next[0] == '/' ? next : FolderOf(current) + "/" + next;
    }
    return std::nullopt;
}

std::string TemporaryFolder() {
    const char* tmpdir = std::getenv("TMPDIR");
    return tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
}

int CopyFileTo(const std::string& path, int fd) {
    const FileDescriptor in(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) return errno;
    char block[1 << 16];
    for (;;) {
        const ssize_t got = ::read(in.get(), block, sizeof block);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return errno;
        if (got == 0) return 0;
        if (const int err = WriteAll(fd, block, static_cast<size_t>(got))) return err;
    }
}

}  // namespace xmlutil::tool
