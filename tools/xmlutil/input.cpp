// SPDX-License-Identifier: MIT
#include "input.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "results.h"

namespace xmlutil::tool {
namespace {

constexpr size_t kMaxInputBytes = INT_MAX;  // what the parser takes
constexpr size_t kReadBlock = 1 << 16;

void MakeBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0 && (flags & O_NONBLOCK) != 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

// Waits a moment for a writer of a FIFO opened without one: true when one
// wrote or came and went (reads then tell which), false after the wait.
bool WriterCame(int fd) {
    pollfd wait{fd, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&wait, 1, InputSource::kWriterWaitMs);
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

}  // namespace

InputProblem ReadProblem(int err) {
    return InputProblem{std::strerror(err), ResultFromReadErrno(err)};
}

std::optional<InputProblem> InputSource::Open(const std::string& name) {
    if (name == "-") {
        fd_ = STDIN_FILENO;  // read as a stream even when it is a file: from where it stands
        return std::nullopt;
    }
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    owned_ = FileDescriptor(::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (owned_.get() < 0) return ReadProblem(errno);
    fd_ = owned_.get();
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return ReadProblem(errno);
    if (S_ISDIR(st.st_mode)) return ReadProblem(EISDIR);
    regular_ = S_ISREG(st.st_mode);
    fifo_ = S_ISFIFO(st.st_mode);
    if (!regular_ && !fifo_ && !S_ISSOCK(st.st_mode)) {
        // A device may never end (/dev/zero) or wait for ever (a terminal).
        return InputProblem{"not a regular file, pipe or FIFO",
                            HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED)};
    }
    if (!fifo_) MakeBlocking(fd_);
    return std::nullopt;
}

std::optional<InputProblem> InputSource::ReadAll(std::string& bytes) {
    bytes.clear();
    // A FIFO opened without a writer reads as ended until one comes.
    enum class Writer {
        kUnknown,
        kLastLook,
        kThere
    } writer = fifo_ ? Writer::kUnknown : Writer::kThere;
    char block[kReadBlock];
    for (;;) {
        const ssize_t got = ::read(fd_, block, sizeof block);
        if (got < 0 && errno == EINTR) continue;
        if (got > 0 || (got < 0 && errno == EAGAIN)) {
            // EAGAIN: a writer is there and has not written yet.
            if (writer != Writer::kThere) {
                MakeBlocking(fd_);
                writer = Writer::kThere;
            }
            if (got < 0) continue;
            if (bytes.size() + static_cast<size_t>(got) > kMaxInputBytes) {
                return InputProblem{
                    "larger than the parser takes (" + std::to_string(kMaxInputBytes) + " bytes)",
                    HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE)};
            }
            bytes.append(block, static_cast<size_t>(got));
            continue;
        }
        if (got < 0) return ReadProblem(errno);
        switch (writer) {
            case Writer::kThere:
                return std::nullopt;  // the end of the input
            case Writer::kUnknown:
                // Give a writer a moment, then look once more rather than hang.
                writer = Writer::kLastLook;
                if (WriterCame(fd_)) {
                    MakeBlocking(fd_);
                    writer = Writer::kThere;
                }
                break;
            case Writer::kLastLook:
                return InputProblem{"nothing to read (a FIFO with no writer)",
                                    HRESULT_FROM_WIN32(ERROR_READ_FAULT)};
        }
    }
}

}  // namespace xmlutil::tool
