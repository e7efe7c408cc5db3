// SPDX-License-Identifier: MIT
// Whole-file reads and atomic whole-file replacement. Every call the writer
// makes that can fail because of the disk (open, write, fsync, close, rename,
// unlink, and for a rewrite in place pwrite, fallocate, ftruncate) goes
// through CurrentFileSystemCalls(), so tests can make them fail.
#include "platform/xmldom/engine/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <optional>
#include <random>
#include <vector>

namespace xmlutil::file {
namespace {

// ---- the system-call seam ----------------------------------------------------

int RealOpen(const char* path, int flags, unsigned mode) {
    return ::open(path, flags, static_cast<mode_t>(mode));
}
long RealWrite(int fd, const void* data, size_t size) {
    return ::write(fd, data, size);
}
int RealFsync(int fd) {
    return ::fsync(fd);
}
int RealClose(int fd) {
    return ::close(fd);
}
int RealRename(const char* from, const char* to) {
    return ::rename(from, to);
}
int RealUnlink(const char* path) {
    return ::unlink(path);
}
long RealPwrite(int fd, const void* data, size_t size, long long offset) {
    return ::pwrite(fd, data, size, static_cast<off_t>(offset));
}
int RealFallocate(int fd, int mode, long long offset, long long length) {
    return ::fallocate(fd, mode, static_cast<off_t>(offset), static_cast<off_t>(length));
}
int RealFtruncate(int fd, long long length) {
    return ::ftruncate(fd, static_cast<off_t>(length));
}
int RealLink(const char* from, const char* to) {
    return ::linkat(AT_FDCWD, from, AT_FDCWD, to, AT_SYMLINK_FOLLOW);
}

constexpr FileSystemCalls kRealCalls{RealOpen,      RealWrite,  RealFsync,  RealClose,
                                     RealRename,    RealUnlink, RealPwrite, RealFallocate,
                                     RealFtruncate, RealLink};

// Replaced only by tests, before the calls they fault are made.
FileSystemCalls& InstalledCalls() {
    static FileSystemCalls calls = kRealCalls;
    return calls;
}

// ---- error codes -------------------------------------------------------------

// Maps errno to the Windows error the platform's file calls reported for the
// same condition; `fallback` covers I/O errors and anything unexpected.
HRESULT HresultFromErrno(int err, long fallback) {
    switch (err) {
        case ENOENT:
            return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        case ENOTDIR:
            return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
        case EACCES:
        case EPERM:
        case EROFS:
        case ETXTBSY:
            return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
        case EISDIR:
            return HRESULT_FROM_WIN32(ERROR_DIRECTORY);
        case ENOSPC:
        case EDQUOT:
            return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
        case EFBIG:
        case EOVERFLOW:
            return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
        case ENAMETOOLONG:
        case ELOOP:
            return HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
        case ENOMEM:
            return E_OUTOFMEMORY;
        case EEXIST:
            return HRESULT_FROM_WIN32(ERROR_FILE_EXISTS);
        case ENXIO:
        case ENODEV:
            return HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
        default:
            return HRESULT_FROM_WIN32(fallback);
    }
}

// On the write path a missing name means a missing folder: the file itself
// need not exist.
HRESULT WriteError(int err) {
    if (err == ENOENT) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    return HresultFromErrno(err, ERROR_WRITE_FAULT);
}

// ---- reading -----------------------------------------------------------------

// Owns a descriptor opened for reading (reads bypass the seam: only the writer
// has faults worth injecting).
class ReadFd {
  public:
    explicit ReadFd(int fd) : fd_(fd) {}
    ~ReadFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    ReadFd(const ReadFd&) = delete;
    ReadFd& operator=(const ReadFd&) = delete;
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

  private:
    int fd_;
};

// ---- writing -----------------------------------------------------------------

// Owns a descriptor opened through the seam; closes it (through the seam) when
// it was not closed explicitly.
class SeamFd {
  public:
    explicit SeamFd(int fd) : fd_(fd) {}
    ~SeamFd() {
        if (fd_ >= 0) CurrentFileSystemCalls().close(fd_);
    }
    SeamFd(const SeamFd&) = delete;
    SeamFd& operator=(const SeamFd&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes now and reports the result: a failing close can mean lost data.
    int Close() {
        const int fd = fd_;
        fd_ = -1;
        return CurrentFileSystemCalls().close(fd);
    }

  private:
    int fd_;
};

// Writes every byte, resuming after signals and short writes. 0 or errno.
int WriteAll(int fd, const char* bytes, size_t size) {
    while (size > 0) {
        const long wrote = CurrentFileSystemCalls().write(fd, bytes, size);
        if (wrote < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (wrote == 0) return ENOSPC;  // no progress: the device takes no more
        bytes += wrote;
        size -= static_cast<size_t>(wrote);
    }
    return 0;
}

// Syncs `fd`. 0 or errno.
int Sync(int fd) {
    if (CurrentFileSystemCalls().fsync(fd) != 0) {
        // Devices and pipes cannot be synced; that loses nothing.
        if (errno != EINVAL && errno != EROFS) return errno;
    }
    return 0;
}

// Syncs and closes `fd`. 0 or errno.
int SyncClose(SeamFd& fd) {
    if (const int err = Sync(fd.get()); err != 0) return err;
    if (fd.Close() != 0 && errno != EINTR) return errno;
    return 0;
}

// Collects produced pieces and writes them to a descriptor a buffer at a
// time. The first failing write is kept: every later Write reports it, and
// nothing more is written.
class BufferedFileSink final : public ByteSink {
  public:
    explicit BufferedFileSink(int fd) : fd_(fd), buffer_(kCapacity) {}

    HRESULT Write(const char* bytes, size_t size) override {
        if (error_ != 0) return WriteError(error_);
        if (size > kCapacity - used_) {
            if (Flush() != 0) return WriteError(error_);
            // A piece as large as the buffer goes out as it is, uncopied.
            if (size >= kCapacity) {
                error_ = WriteAll(fd_, bytes, size);
                return error_ == 0 ? S_OK : WriteError(error_);
            }
        }
        if (size > 0) std::memcpy(buffer_.data() + used_, bytes, size);
        used_ += size;
        return S_OK;
    }

    // Writes out what is buffered. 0, or the errno of the first failed write.
    int Flush() {
        if (error_ == 0 && used_ > 0) error_ = WriteAll(fd_, buffer_.data(), used_);
        used_ = 0;
        return error_;
    }

    bool Failed() const { return error_ != 0; }
    HRESULT Failure() const { return WriteError(error_); }

  private:
    static constexpr size_t kCapacity = 64 * 1024;
    int fd_;
    std::vector<char> buffer_;
    size_t used_ = 0;
    int error_ = 0;
};

// Runs `produce` into memory; `bytes` receives the content when it succeeds.
HRESULT ProduceInMemory(const ContentProducer& produce, std::string& bytes) {
    StringSink sink;
    const HRESULT hr = produce(sink);
    if (FAILED(hr)) return hr;
    bytes.swap(sink.bytes());
    return S_OK;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows symbolic links from `path` to the file they end at (which may not
// exist yet: saving through a dangling link creates its target). Sets `err`
// to ELOOP for a cycle, or to the readlink error.
std::string ResolveLinks(const std::string& path, int& err) {
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
        std::string target(static_cast<size_t>(PATH_MAX), '\0');
        const ssize_t len = ::readlink(current.c_str(), target.data(), target.size());
        if (len < 0) {
            err = errno;
            return current;
        }
        target.resize(static_cast<size_t>(len));
        current = target.front() == '/' ? target : FolderOf(current) + "/" + target;
    }
    err = ELOOP;
    return current;
}

// A name for a temporary file beside `target`, hidden and unlikely to clash.
std::string TemporaryNameFor(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    // Seeded afresh for each name: a thread_local generator (2.5 KB) would not
    // fit the static TLS a library loaded with dlopen may use.
    std::mt19937_64 random(
        std::random_device{}() ^
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%08x%04x.tmp", static_cast<unsigned>(random()),
                  counter.fetch_add(1) & 0xFFFFu);
    // The name is cut so the temporary name stays within NAME_MAX (255).
    return FolderOf(target) + "/." + BaseNameOf(target).substr(0, 200) + suffix;
}

// Creates a new temporary file beside `target` as mkstemp does (exclusive
// create, retried on a name clash). Returns the descriptor or -1 with errno.
int CreateTemporaryFile(const std::string& target, mode_t mode, std::string& tempPath) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = TemporaryNameFor(target);
        const int fd = CurrentFileSystemCalls().open(tempPath.c_str(),
                                                     O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// Removes the temporary file when it goes, unless it was renamed into place.
class TemporaryFileRemover {
  public:
    explicit TemporaryFileRemover(const std::string& path) : path_(path) {}
    ~TemporaryFileRemover() {
        if (!renamed_) CurrentFileSystemCalls().unlink(path_.c_str());
    }
    TemporaryFileRemover(const TemporaryFileRemover&) = delete;
    TemporaryFileRemover& operator=(const TemporaryFileRemover&) = delete;
    void Renamed() { renamed_ = true; }

  private:
    std::string path_;
    bool renamed_ = false;
};

// Gives the temporary file the existing file's permissions and, where the
// process may, its owner and group.
int CopyOwnershipAndMode(int fd, const struct stat& existing) {
    if (::fchmod(fd, existing.st_mode & 07777) != 0) return errno;
    if (::fchown(fd, existing.st_uid, existing.st_gid) != 0 && errno != EPERM) return errno;
    return 0;
}

// A file with no write permission bit is read-only for everyone: root passes
// every access check, but a read-only file must stay read-only for it too.
bool HasNoWritePermission(const struct stat& st) {
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

// A device or pipe is written to as it is: there is nothing to replace and
// nothing to restore. The content is made before the device is opened, so a
// producer that fails writes nothing. O_NONBLOCK: a pipe without a reader is
// refused instead of waited on; writes then block as usual.
HRESULT WriteIntoDevice(const std::string& target, const ContentProducer& produce) {
    std::string bytes;
    const HRESULT produced = ProduceInMemory(produce, bytes);
    if (FAILED(produced)) return produced;
    SeamFd fd(CurrentFileSystemCalls().open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC, 0));
    if (!fd.valid()) return WriteError(errno);
    const int fdFlags = ::fcntl(fd.get(), F_GETFL);
    if (fdFlags >= 0) ::fcntl(fd.get(), F_SETFL, fdFlags & ~O_NONBLOCK);
    int err = WriteAll(fd.get(), bytes.data(), bytes.size());
    if (err == 0) err = SyncClose(fd);
    return err == 0 ? S_OK : WriteError(err);
}

// ---- rewriting a regular file in place -------------------------------------------

// Reads the file from its start to its end. 0 or errno. (Reads bypass the
// seam, as loading does.)
int ReadAllFrom(int fd, std::string& bytes) {
    std::string data;
    char chunk[65536];
    for (;;) {
        const ssize_t got = ::pread(fd, chunk, sizeof chunk, static_cast<off_t>(data.size()));
        if (got < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (got == 0) break;
        data.append(chunk, static_cast<size_t>(got));
    }
    bytes.swap(data);
    return 0;
}

// Writes every byte of `bytes` from the start of the file, resuming after
// signals and short writes. 0 or errno.
int WriteAllFromStart(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const long wrote = CurrentFileSystemCalls().pwrite(
            fd, bytes.data() + done, bytes.size() - done, static_cast<long long>(done));
        if (wrote < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (wrote == 0) return ENOSPC;  // no progress: the device takes no more
        done += static_cast<size_t>(wrote);
    }
    return 0;
}

int TruncateTo(int fd, size_t size) {
    while (CurrentFileSystemCalls().ftruncate(fd, static_cast<long long>(size)) != 0) {
        if (errno != EINTR) return errno;
    }
    return 0;
}

// Allocates the file's blocks up to `length` without changing its size, so
// that writing there cannot run out of room. 0 or errno (EOPNOTSUPP where
// the file system cannot reserve).
int ReserveSpace(int fd, size_t length) {
    if (length == 0) return 0;
    while (CurrentFileSystemCalls().fallocate(fd, FALLOC_FL_KEEP_SIZE, 0,
                                              static_cast<long long>(length)) != 0) {
        if (errno != EINTR) return errno;
    }
    return 0;
}

bool ReservationUnsupported(int err) {
    return err == EOPNOTSUPP || err == ENOSYS;
}

// Makes `bytes` the file's whole content: written from the start, cut to its
// length, synced. 0 or the errno of the first step that failed.
int ReplaceContent(int fd, const std::string& bytes) {
    int err = WriteAllFromStart(fd, bytes);
    if (err == 0) err = TruncateTo(fd, bytes.size());
    if (err == 0) err = Sync(fd);
    return err;
}

// For a regular file in a folder where no temporary file can be made. The
// old content is never given up before the new content is known to fit:
//  - the content is made in memory before the file is opened, so a producer
//    that fails touches nothing;
//  - the old content is read into memory (a file that cannot be read is
//    refused: without a copy a failed write could not be undone);
//  - the blocks for the longer of the old and the new content are reserved
//    (FALLOC_FL_KEEP_SIZE: the file looks unchanged until written). A full
//    disk or quota shows here, and the save fails with the file untouched.
//    The reservation also covers holes in the old file, so writing the old
//    content back later needs no new room either;
//  - the new content is written over the old, the file cut to its length
//    and synced. If any of that fails, the old content is written back the
//    same way and the first failure is reported.
// Where the file system cannot reserve space (EOPNOTSUPP), the rewrite goes
// ahead without it and relies on the copy alone: the old content is written
// back into the blocks it already occupied (holes in it aside), so a disk
// that fills while the new content is being written does not stop the
// restore. (Extending the file first to claim the room would change it
// before the new content is known to fit, and a crash would leave it so.)
// On a copy-on-write file system overwriting needs new room too, which no
// reservation promises; there the restore is the only protection, and it can
// fail as the write did.
// Unlike the rename, none of this survives a crash part way: a rewrite in
// place can only undo failures it is told about.
HRESULT RewriteInPlace(const std::string& target, const ContentProducer& produce) {
    std::string bytes;
    const HRESULT produced = ProduceInMemory(produce, bytes);
    if (FAILED(produced)) return produced;
    SeamFd fd(CurrentFileSystemCalls().open(target.c_str(), O_RDWR | O_CLOEXEC, 0));
    if (!fd.valid()) return WriteError(errno);
    std::string old;
    if (const int err = ReadAllFrom(fd.get(), old); err != 0) {
        return HresultFromErrno(err, ERROR_READ_FAULT);
    }
    const int reserved = ReserveSpace(fd.get(), std::max(old.size(), bytes.size()));
    if (reserved != 0 && !ReservationUnsupported(reserved)) return WriteError(reserved);
    if (const int err = ReplaceContent(fd.get(), bytes); err != 0) {
        // Best effort: if the old content cannot be written back either, the
        // file holds what this left, and the first failure is still the one
        // that explains it.
        ReplaceContent(fd.get(), old);
        return WriteError(err);
    }
    // The new content is synced: a close that fails now loses nothing, and
    // reporting a failure would be wrong with the new content in place.
    fd.Close();
    return S_OK;
}

// Makes the rename durable. The new content is already in place, so a folder
// that cannot be synced is not reported as a failed save.
void SyncFolder(const std::string& folder) {
    SeamFd dir(
        CurrentFileSystemCalls().open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
    if (dir.valid()) CurrentFileSystemCalls().fsync(dir.get());
}

// Streams the produced content into the new file and syncs it. A failed
// write is reported as itself, whatever the producer returned after meeting
// it.
HRESULT ProduceIntoFile(SeamFd& fd, const ContentProducer& produce) {
    BufferedFileSink sink(fd.get());
    const HRESULT produced = produce(sink);
    if (sink.Failed()) return sink.Failure();
    if (FAILED(produced)) return produced;
    int err = sink.Flush();
    if (err == 0) err = Sync(fd.get());
    return err == 0 ? S_OK : WriteError(err);
}

// Renames the complete temporary file over the target and makes that
// durable. The remover deletes the temporary file unless the rename took it.
HRESULT RenameIntoPlace(const std::string& tempPath, const std::string& target,
                        TemporaryFileRemover& remover) {
    if (CurrentFileSystemCalls().rename(tempPath.c_str(), target.c_str()) != 0) {
        return WriteError(errno);
    }
    remover.Renamed();
    SyncFolder(FolderOf(target));
    return S_OK;
}

// A new file gets 0666 less the umask, as a plain create would; an existing
// file's mode is copied onto the private 0600 file.
mode_t CreateModeFor(const std::optional<struct stat>& existing) {
    return existing ? 0600 : 0666;
}

HRESULT ReplaceThroughNamedTemporary(const std::string& target,
                                     const std::optional<struct stat>& existing,
                                     const ContentProducer& produce) {
    std::string tempPath;
    SeamFd fd(CreateTemporaryFile(target, CreateModeFor(existing), tempPath));
    if (!fd.valid()) {
        const int err = errno;
        const bool folderRefused = err == EACCES || err == EPERM;
        if (folderRefused && existing) return RewriteInPlace(target, produce);
        return WriteError(err);
    }
    // Removes the temporary file on every way out but the rename, an
    // exception from the producer included.
    TemporaryFileRemover remover(tempPath);
    if (existing) {
        if (const int err = CopyOwnershipAndMode(fd.get(), *existing); err != 0) {
            return WriteError(err);
        }
    }
    const HRESULT hr = ProduceIntoFile(fd, produce);
    if (FAILED(hr)) return hr;
    if (fd.Close() != 0 && errno != EINTR) return WriteError(errno);
    return RenameIntoPlace(tempPath, target, remover);
}

// Where an unnamed file can be given a name: through its /proc/self/fd
// entry (linkat with AT_EMPTY_PATH would need a capability callers lack).
bool CanNameUnnamedFiles() {
    return ::access("/proc/self/fd", X_OK) == 0;
}

// Gives the unnamed file open as `fd` a hidden name beside `target`, retried
// on a name clash. 0 or errno.
int NameUnnamedFile(int fd, const std::string& target, std::string& tempPath) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = TemporaryNameFor(target);
        if (CurrentFileSystemCalls().link(self.c_str(), tempPath.c_str()) == 0) return 0;
        if (errno != EEXIST) return errno;
    }
    return EEXIST;
}

// The new content goes into a file without a name (O_TMPFILE), which the
// system removes if the process dies while writing it. It is named only once
// complete and synced, just before the rename: a kill in that instant is the
// only one that leaves the temporary file behind. Where the folder's file
// system (or the kernel, or a missing /proc) cannot do this, the content goes
// into a named temporary file as before; so it does where the folder refuses
// new files, which the named path tells apart and answers.
HRESULT ReplaceThroughTemporary(const std::string& target,
                                const std::optional<struct stat>& existing,
                                const ContentProducer& produce) {
    if (!CanNameUnnamedFiles()) return ReplaceThroughNamedTemporary(target, existing, produce);
    SeamFd fd(CurrentFileSystemCalls().open(
        FolderOf(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, CreateModeFor(existing)));
    if (!fd.valid()) return ReplaceThroughNamedTemporary(target, existing, produce);
    if (existing) {
        if (const int err = CopyOwnershipAndMode(fd.get(), *existing); err != 0) {
            return WriteError(err);
        }
    }
    const HRESULT hr = ProduceIntoFile(fd, produce);
    if (FAILED(hr)) return hr;
    std::string tempPath;
    if (const int err = NameUnnamedFile(fd.get(), target, tempPath); err != 0) {
        return WriteError(err);
    }
    TemporaryFileRemover remover(tempPath);
    if (fd.Close() != 0 && errno != EINTR) return WriteError(errno);
    return RenameIntoPlace(tempPath, target, remover);
}

}  // namespace

const FileSystemCalls& CurrentFileSystemCalls() {
    return InstalledCalls();
}

FileSystemCalls SetFileSystemCallsForTesting(const FileSystemCalls& calls) {
    const FileSystemCalls previous = InstalledCalls();
    InstalledCalls() = calls;
    return previous;
}

InputFile::~InputFile() {
    if (fd_ >= 0) ::close(fd_);
}

HRESULT InputFile::Open(const std::string& path) {
    if (fd_ >= 0) return E_UNEXPECTED;
    // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused
    // below like every file that is not a regular one.
    ReadFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) return HresultFromErrno(errno, ERROR_READ_FAULT);
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) return HresultFromErrno(errno, ERROR_READ_FAULT);
    if (S_ISDIR(st.st_mode)) return HRESULT_FROM_WIN32(ERROR_DIRECTORY);
    if (!S_ISREG(st.st_mode)) return HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
    // The parser takes an int length: a larger file cannot be parsed.
    if (st.st_size > INT_MAX) return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags >= 0) ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    fd_ = fd.release();
    size_ = static_cast<size_t>(st.st_size);
    return S_OK;
}

HRESULT InputFile::Read(char* buffer, size_t capacity, size_t& got) {
    got = 0;
    if (fd_ < 0) return E_UNEXPECTED;
    for (;;) {
        const ssize_t count = ::read(fd_, buffer, capacity);
        if (count >= 0) {
            got = static_cast<size_t>(count);
            return S_OK;
        }
        if (errno != EINTR) return HresultFromErrno(errno, ERROR_READ_FAULT);
    }
}

HRESULT ReadWholeFile(const std::string& path, std::string& bytes) {
    InputFile file;
    HRESULT hr = file.Open(path);
    if (FAILED(hr)) return hr;
    std::string data;
    data.reserve(file.Size());
    char chunk[65536];
    for (;;) {
        size_t got = 0;
        if (FAILED(hr = file.Read(chunk, sizeof chunk, got))) return hr;
        if (got == 0) break;
        // The file grew since it was opened: the same limit applies.
        if (data.size() + got > static_cast<size_t>(INT_MAX)) {
            return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
        }
        data.append(chunk, got);
    }
    bytes.swap(data);
    return S_OK;
}

HRESULT WriteFileAtomically(const std::string& path, const char* bytes, size_t size) {
    if (bytes == nullptr && size != 0) return E_POINTER;
    return WriteFileAtomically(path,
                               [bytes, size](ByteSink& sink) { return sink.Write(bytes, size); });
}

HRESULT WriteFileAtomically(const std::string& path, const ContentProducer& produce) {
    if (path.empty()) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    int linkError = 0;
    const std::string target = ResolveLinks(path, linkError);
    if (linkError != 0) return WriteError(linkError);

    struct stat st;
    std::optional<struct stat> existing;
    if (::stat(target.c_str(), &st) == 0) {
        existing = st;
    } else if (errno != ENOENT) {
        return WriteError(errno);
    }
    if (existing && S_ISDIR(st.st_mode)) return HRESULT_FROM_WIN32(ERROR_DIRECTORY);
    if (existing && HasNoWritePermission(st)) return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    // Renaming over a file needs only the folder's permission: refuse a file
    // the caller may not write, as opening it for writing would.
    if (existing && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
        return WriteError(errno);
    }
    if (existing && !S_ISREG(st.st_mode)) {
        // A device or pipe is written to, never replaced by a regular file.
        return WriteIntoDevice(target, produce);
    }
    // Replacing one name would leave the file's other names with the old
    // content: the file itself is rewritten, so that every name sees the new.
    if (existing && st.st_nlink > 1) return RewriteInPlace(target, produce);
    return ReplaceThroughTemporary(target, existing, produce);
}

}  // namespace xmlutil::file
