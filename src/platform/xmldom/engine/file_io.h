// SPDX-License-Identifier: MIT
// Reading and writing whole files for the DOM service's load and save. Paths
// are UTF-8 file-system paths; nothing else is accepted (no URL, no "-" for
// standard input, no transparent decompression).
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "platform/xmldom/engine/byte_sink.h"
#include "xmlutil/wintypes.h"

namespace xmlutil::file {

// A regular file read from start to end, piece by piece, so that a large
// file can be handed on as it is read instead of being held whole.
class InputFile {
  public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Opens the regular file at `path`. S_OK, or a negative
    // HRESULT_FROM_WIN32 code (file missing, a folder or anything but a
    // regular file, unreadable, larger than INT_MAX bytes).
    HRESULT Open(const std::string& path);
    // The file's size when it was opened.
    size_t Size() const { return size_; }
    // Reads up to `capacity` bytes into `buffer`: S_OK with `got` set (0 at
    // the end of the file), or a negative code when the read failed.
    HRESULT Read(char* buffer, size_t capacity, size_t& got);

  private:
    int fd_ = -1;
    size_t size_ = 0;
};

// Reads the whole regular file at `path` into `bytes`. S_OK, or a negative
// HRESULT_FROM_WIN32 code (file missing, a folder, unreadable, too large).
HRESULT ReadWholeFile(const std::string& path, std::string& bytes);

// Replaces the file at `path` with `bytes` atomically: a symbolic link is
// followed to the real file; the bytes go into a new file beside it with the
// existing file's mode (and owner/group where permitted), which is synced and
// renamed over the target, and the folder is synced. The new file has no name
// while it is written (O_TMPFILE) and gets one just before the rename, so a
// process killed part way leaves nothing behind; where the file system cannot
// make unnamed files, a hidden named one is used instead. On any failure the
// existing file is left exactly as it was and no temporary file remains, and
// a negative code is returned.
// A file that has no write permission bit at all is refused with
// ERROR_ACCESS_DENIED whoever the caller is (root included), as is one the
// caller may not write.
// The file is rewritten in place, keeping its inode, mode and owner, where it
// has more than one hard link (every name then sees the new content; such a
// save is not atomic) and where no new file can be made beside it (a
// read-only folder holding a writable file): the space the new content needs
// is reserved before a byte is changed (a full disk or quota then fails with
// the file untouched), and a write, truncation or sync that fails part way
// is undone by writing the old content back. The file must be readable for
// that (its content is kept in memory meanwhile); one that is not is refused
// with ERROR_ACCESS_DENIED.
HRESULT WriteFileAtomically(const std::string& path, const char* bytes, size_t size);

// Makes a file's content, writing it to the sink piece by piece: S_OK, or a
// negative code to abandon the write.
using ContentProducer = std::function<HRESULT(ByteSink& sink)>;

// As above, with the content streamed into the temporary file as `produce`
// makes it (through a buffer, so small pieces cost no system call each). A
// negative code from `produce`, a failing write, or an exception thrown by
// `produce` (passed on) leaves the existing file as it was, with no temporary
// file behind; a write failure is reported with its own code even when
// `produce` returns another. Where the file is written in place (a device or
// pipe, a hard-linked file, or the read-only folder), the content is made in
// memory first, so a
// producer that fails never touches the file.
HRESULT WriteFileAtomically(const std::string& path, const ContentProducer& produce);

// The system calls the writer makes, replaceable by tests to inject faults
// (a full disk, a failing fsync or rename, a refused reservation). pwrite,
// fallocate and ftruncate serve the rewrite in place (offsets and lengths in
// bytes); link names an unnamed file as linkat(AT_SYMLINK_FOLLOW) does, from
// its /proc/self/fd entry.
struct FileSystemCalls {
    int (*open)(const char* path, int flags, unsigned mode);
    long (*write)(int fd, const void* data, size_t size);
    int (*fsync)(int fd);
    int (*close)(int fd);
    int (*rename)(const char* from, const char* to);
    int (*unlink)(const char* path);
    long (*pwrite)(int fd, const void* data, size_t size, long long offset);
    int (*fallocate)(int fd, int mode, long long offset, long long length);
    int (*ftruncate)(int fd, long long length);
    int (*link)(const char* from, const char* to);
};
// The calls in use (the real ones unless a test replaced them).
const FileSystemCalls& CurrentFileSystemCalls();
// Replaces the calls; returns the previous set. Tests restore it afterwards.
FileSystemCalls SetFileSystemCallsForTesting(const FileSystemCalls& calls);

}  // namespace xmlutil::file
