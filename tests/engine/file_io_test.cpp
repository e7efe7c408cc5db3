// SPDX-License-Identifier: MIT
// Whole-file reads and atomic replacement: what ends up on disk, and that every
// failing write leaves the previous file byte-for-byte as it was, with no
// temporary file behind.
#include "platform/xmldom/engine/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include "support/test_util.h"

namespace {

using xmlutil::file::ByteSink;
using xmlutil::file::CurrentFileSystemCalls;
using xmlutil::file::FileSystemCalls;
using xmlutil::file::InputFile;
using xmlutil::file::ReadWholeFile;
using xmlutil::file::SetFileSystemCallsForTesting;
using xmlutil::file::WriteFileAtomically;
using xmlutil::test::ReadFileBytes;
using xmlutil::test::TempDir;
using xmlutil::test::WriteFileBytes;

const std::string kOld = "<old>previous content</old>\n";
const std::string kNew = "<new>replacement content, longer than the old one</new>\n";

HRESULT Write(const std::string& path, const std::string& bytes) {
    return WriteFileAtomically(path, bytes.data(), bytes.size());
}

struct stat StatOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
}

// ---- faults injected through the seam ------------------------------------------

// What the fake calls do; reset before each test.
struct Faults {
    FileSystemCalls real{};
    long writeBudget = -1;  // bytes accepted before writes fail with ENOSPC (-1: no limit)
    bool trickle = false;   // one byte per write, every other call interrupted
    int trickleCalls = 0;
    int fsyncErrno = 0;
    int closeErrno = 0;
    int renameErrno = 0;
    int createErrno = 0;     // errno for opens that create a new file (O_EXCL, O_TMPFILE)
    int readWriteErrno = 0;  // errno for opens for reading and writing
    int unnamedErrno = 0;    // errno for opens of an unnamed file (O_TMPFILE)
    int linkErrno = 0;       // errno for naming an unnamed file
    int inPlaceOpens = 0;    // opens of an existing file for writing
    int opens = 0;
    size_t written = 0;  // bytes the writes accepted
    // The rewrite in place. The one failing pwrite comes after `pwriteBudget`
    // bytes (-1: none); the writes after it go through, as the room reserved
    // beforehand lets them.
    long pwriteBudget = -1;
    int pwriteErrno = ENOSPC;
    int pwrites = 0;  // pwrite calls that reached the file
    int fallocateErrno = 0;
    int ftruncateErrno = 0;  // fails the next ftruncate, once
    // How far the file was reserved before its first byte was overwritten.
    long long reservedBeforeWriting = 0;
};
Faults faults;

int FakeOpen(const char* path, int flags, unsigned mode) {
    ++faults.opens;
    const bool unnamed = (flags & O_TMPFILE) == O_TMPFILE;
    if (unnamed && faults.unnamedErrno != 0) {
        errno = faults.unnamedErrno;
        return -1;
    }
    if (((flags & O_EXCL) != 0 || unnamed) && faults.createErrno != 0) {
        errno = faults.createErrno;
        return -1;
    }
    if ((flags & O_ACCMODE) == O_RDWR && faults.readWriteErrno != 0) {
        errno = faults.readWriteErrno;
        return -1;
    }
    if ((flags & O_CREAT) == 0 && !unnamed && (flags & O_ACCMODE) != O_RDONLY) {
        ++faults.inPlaceOpens;
    }
    return faults.real.open(path, flags, mode);
}

// With `trickle` on, every other call is interrupted and the others take one
// byte. True when this call is to fail with EINTR.
bool Trickle(size_t& size) {
    if (!faults.trickle) return false;
    if (faults.trickleCalls++ % 2 == 0) {
        errno = EINTR;
        return true;
    }
    size = 1;
    return false;
}

long FakeWrite(int fd, const void* data, size_t size) {
    if (Trickle(size)) return -1;
    if (faults.writeBudget >= 0) {
        if (faults.writeBudget == 0) {
            errno = ENOSPC;
            return -1;
        }
        size = std::min(size, static_cast<size_t>(faults.writeBudget));
        faults.writeBudget -= static_cast<long>(size);
    }
    const long wrote = faults.real.write(fd, data, size);
    if (wrote > 0) faults.written += static_cast<size_t>(wrote);
    return wrote;
}

int FakeFsync(int fd) {
    if (faults.fsyncErrno != 0) {
        errno = faults.fsyncErrno;
        return -1;
    }
    return faults.real.fsync(fd);
}

int FakeClose(int fd) {
    const int result = faults.real.close(fd);
    if (faults.closeErrno != 0) {
        errno = faults.closeErrno;
        return -1;
    }
    return result;
}

int FakeRename(const char* from, const char* to) {
    if (faults.renameErrno != 0) {
        errno = faults.renameErrno;
        return -1;
    }
    return faults.real.rename(from, to);
}

long FakePwrite(int fd, const void* data, size_t size, long long offset) {
    if (Trickle(size)) return -1;
    if (faults.pwriteBudget == 0) {
        faults.pwriteBudget = -1;
        errno = faults.pwriteErrno;
        return -1;
    }
    if (faults.pwriteBudget > 0) {
        size = std::min(size, static_cast<size_t>(faults.pwriteBudget));
        faults.pwriteBudget -= static_cast<long>(size);
    }
    ++faults.pwrites;
    return faults.real.pwrite(fd, data, size, offset);
}

int FakeFallocate(int fd, int mode, long long offset, long long length) {
    if (faults.fallocateErrno != 0) {
        errno = faults.fallocateErrno;
        return -1;
    }
    if (faults.pwrites == 0) {
        faults.reservedBeforeWriting = std::max(faults.reservedBeforeWriting, offset + length);
    }
    return faults.real.fallocate(fd, mode, offset, length);
}

int FakeFtruncate(int fd, long long length) {
    if (faults.ftruncateErrno != 0) {
        errno = std::exchange(faults.ftruncateErrno, 0);
        return -1;
    }
    return faults.real.ftruncate(fd, length);
}

int FakeLink(const char* from, const char* to) {
    if (faults.linkErrno != 0) {
        errno = faults.linkErrno;
        return -1;
    }
    return faults.real.link(from, to);
}

class FileWriteTest : public ::testing::Test {
  protected:
    void SetUp() override {
        faults = Faults{};
        faults.real = SetFileSystemCallsForTesting(
            {FakeOpen, FakeWrite, FakeFsync, FakeClose, FakeRename, CurrentFileSystemCalls().unlink,
             FakePwrite, FakeFallocate, FakeFtruncate, FakeLink});
    }
    void TearDown() override { SetFileSystemCallsForTesting(faults.real); }

    // A file holding kOld with mode 0640, and the folder's listing with it.
    std::string ExistingFile() {
        const std::string path = dir.File("doc.xml");
        WriteFileBytes(path, kOld);
        EXPECT_EQ(::chmod(path.c_str(), 0640), 0);
        listing = dir.Entries();
        return path;
    }
    // The file still holds kOld, with its mode, and nothing was left beside it.
    void ExpectUntouched(const std::string& path) {
        EXPECT_EQ(ReadFileBytes(path), kOld);
        EXPECT_EQ(StatOf(path).st_mode & 07777, 0640u);
        EXPECT_EQ(dir.Entries(), listing) << "a temporary file was left behind";
    }

    TempDir dir;
    std::vector<std::string> listing;
};

// ---- successful writes ---------------------------------------------------------

TEST_F(FileWriteTest, NewFileGetsBytesAndUmaskMode) {
    const mode_t mask = ::umask(022);
    const std::string path = dir.File("new.xml");
    EXPECT_HR(Write(path, kNew), S_OK);
    ::umask(mask);
    EXPECT_EQ(ReadFileBytes(path), kNew);
    EXPECT_EQ(StatOf(path).st_mode & 07777, 0644u);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"new.xml"});
}

TEST_F(FileWriteTest, ReplacementKeepsModeAndOwner) {
    const std::string path = ExistingFile();
    // Root may hand the file to another owner; others cannot, and then the
    // file simply keeps theirs.
    const bool privileged = ::geteuid() == 0;
    if (privileged) {
        ASSERT_EQ(::chown(path.c_str(), 1234, 5678), 0);
    }
    const struct stat before = StatOf(path);

    EXPECT_HR(Write(path, kNew), S_OK);

    const struct stat after = StatOf(path);
    EXPECT_EQ(ReadFileBytes(path), kNew);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_NE(after.st_ino, before.st_ino) << "not replaced through a new file";
    EXPECT_EQ(dir.Entries(), listing);
}

// The temporary name must fit beside a file whose own name is at the limit.
TEST_F(FileWriteTest, LongestFileNameIsStillReplacedAtomically) {
    const std::string name(255, 'n');
    WriteFileBytes(dir.File(name), kOld);
    const ino_t inode = StatOf(dir.File(name)).st_ino;
    EXPECT_HR(Write(dir.File(name), kNew), S_OK);
    EXPECT_EQ(ReadFileBytes(dir.File(name)), kNew);
    EXPECT_NE(StatOf(dir.File(name)).st_ino, inode);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{name});
}

TEST_F(FileWriteTest, EmptyContentAndInterruptedShortWrites) {
    const std::string path = ExistingFile();
    EXPECT_HR(WriteFileAtomically(path, nullptr, 0), S_OK);
    EXPECT_EQ(ReadFileBytes(path), "");

    faults.trickle = true;  // one byte per call, every other call EINTR
    const std::string withNul = std::string("a\0b", 3) + kNew;
    EXPECT_HR(Write(path, withNul), S_OK);
    EXPECT_EQ(ReadFileBytes(path), withNul);
}

TEST_F(FileWriteTest, SymbolicLinksAreFollowedAndKept) {
    ASSERT_EQ(::mkdir(dir.File("real").c_str(), 0755), 0);
    const std::string real = dir.File("real/doc.xml");
    WriteFileBytes(real, kOld);
    // A relative link to a relative link: both resolved from their own folder.
    ASSERT_EQ(::symlink("real/doc.xml", dir.File("hop").c_str()), 0);
    ASSERT_EQ(::symlink("hop", dir.File("link.xml").c_str()), 0);

    EXPECT_HR(Write(dir.File("link.xml"), kNew), S_OK);
    EXPECT_EQ(ReadFileBytes(real), kNew);
    EXPECT_TRUE(S_ISLNK(StatOf(dir.File("link.xml")).st_mode));
    EXPECT_TRUE(S_ISLNK(StatOf(dir.File("hop")).st_mode));
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"hop", "link.xml", "real"}));

    // A dangling link: its target is created, the link stays.
    ASSERT_EQ(::symlink("real/later.xml", dir.File("dangling").c_str()), 0);
    EXPECT_HR(Write(dir.File("dangling"), kNew), S_OK);
    EXPECT_EQ(ReadFileBytes(dir.File("real/later.xml")), kNew);
    EXPECT_TRUE(S_ISLNK(StatOf(dir.File("dangling")).st_mode));

    // A cycle is refused instead of looping.
    ASSERT_EQ(::symlink("cycle-b", dir.File("cycle-a").c_str()), 0);
    ASSERT_EQ(::symlink("cycle-a", dir.File("cycle-b").c_str()), 0);
    EXPECT_LT(Write(dir.File("cycle-a"), kNew), 0);
}

// A folder that refuses new files but holds a writable file: the file is
// rewritten in place, as saving always did there.
TEST_F(FileWriteTest, ReadOnlyFolderWithWritableFileRewritesInPlace) {
    const std::string path = ExistingFile();
    const ino_t inode = StatOf(path).st_ino;
    faults.createErrno = EACCES;

    EXPECT_HR(Write(path, kNew), S_OK);
    EXPECT_EQ(ReadFileBytes(path), kNew);
    EXPECT_EQ(StatOf(path).st_ino, inode);
    EXPECT_EQ(faults.inPlaceOpens, 1);
    EXPECT_EQ(dir.Entries(), listing);

    // Without a file to rewrite there is nothing to fall back on.
    EXPECT_HR(Write(dir.File("absent.xml"), kNew), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(xmlutil::test::FileExists(dir.File("absent.xml")));
}

TEST(FileWriteRealPermissions, ReadOnlyFolderWithWritableFile) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
    TempDir dir;
    const std::string path = dir.File("doc.xml");
    WriteFileBytes(path, kOld);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
    EXPECT_HR(Write(path, kNew), S_OK);
    EXPECT_EQ(ReadFileBytes(path), kNew);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"doc.xml"});
}

// Rewriting in place keeps a copy of the old content; a file that cannot be
// read cannot be copied, so it is not rewritten at all.
TEST(FileWriteRealPermissions, ReadOnlyFolderWithWriteOnlyFileIsLeftAlone) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
    TempDir dir;
    const std::string path = dir.File("doc.xml");
    WriteFileBytes(path, kOld);
    ASSERT_EQ(::chmod(path.c_str(), 0200), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
    EXPECT_HR(Write(path, kNew), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    EXPECT_EQ(ReadFileBytes(path), kOld);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"doc.xml"});
}

// Root included: a file without any write permission bit is read-only for all.
TEST(FileWriteRealPermissions, ReadOnlyFileIsNotReplaced) {
    TempDir dir;
    const std::string path = dir.File("doc.xml");
    WriteFileBytes(path, kOld);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    EXPECT_HR(Write(path, kNew), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    EXPECT_EQ(ReadFileBytes(path), kOld);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"doc.xml"});
}

// Neither replaced nor rewritten in place (a second hard link, a folder that
// refuses new files): the file is not even opened.
TEST_F(FileWriteTest, FileWithoutWritePermissionIsNeverWritten) {
    const std::string path = ExistingFile();
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    EXPECT_HR(Write(path, kNew), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    faults.createErrno = EACCES;
    EXPECT_HR(Write(path, kNew), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    ASSERT_EQ(::link(path.c_str(), dir.File("other.xml").c_str()), 0);
    EXPECT_HR(Write(path, kNew), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    EXPECT_EQ(faults.opens, 0);
    EXPECT_EQ(ReadFileBytes(path), kOld);
}

// Every name of a hard-linked file sees the new content: the file itself is
// rewritten, not replaced under one of its names.
TEST_F(FileWriteTest, HardLinkedFileIsRewrittenForEveryName) {
    const std::string path = ExistingFile();
    const std::string other = dir.File("other.xml");
    ASSERT_EQ(::link(path.c_str(), other.c_str()), 0);
    listing = dir.Entries();
    const ino_t inode = StatOf(path).st_ino;
    EXPECT_HR(Write(path, kNew), S_OK);
    EXPECT_EQ(ReadFileBytes(other), kNew);
    EXPECT_EQ(StatOf(path).st_ino, inode);
    EXPECT_EQ(StatOf(path).st_nlink, 2u);
    EXPECT_EQ(faults.inPlaceOpens, 1);
    EXPECT_EQ(dir.Entries(), listing);
}

// While it is written the new content has no name, so a process killed then
// leaves nothing beside the file. Without unnamed files a hidden named one
// serves, and is gone afterwards; a name that cannot be given fails the save
// with nothing left behind.
TEST_F(FileWriteTest, NewContentIsUnnamedUntilComplete) {
    const std::string path = ExistingFile();
    std::vector<std::string> seen;
    const auto produce = [&](ByteSink& sink) {
        seen = dir.Entries();
        return sink.Write(kNew.data(), kNew.size());
    };
    EXPECT_HR(WriteFileAtomically(path, produce), S_OK);
    EXPECT_EQ(seen, listing);
    EXPECT_EQ(ReadFileBytes(path), kNew);

    faults.unnamedErrno = EOPNOTSUPP;
    WriteFileBytes(path, kOld);
    EXPECT_HR(WriteFileAtomically(path, produce), S_OK);
    EXPECT_EQ(seen.size(), listing.size() + 1);
    EXPECT_EQ(ReadFileBytes(path), kNew);
    EXPECT_EQ(dir.Entries(), listing);

    faults = Faults{faults.real};
    faults.linkErrno = ENOSPC;
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    WriteFileBytes(path, kOld);
    EXPECT_HR(WriteFileAtomically(path, produce), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
    ExpectUntouched(path);
}

// ---- failing writes leave the old file as it was ----------------------------------

TEST_F(FileWriteTest, FullDiskHalfWay) {
    const std::string path = ExistingFile();
    faults.writeBudget = static_cast<long>(kNew.size() / 2);
    EXPECT_HR(Write(path, kNew), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
    ExpectUntouched(path);
}

TEST_F(FileWriteTest, FailingSyncCloseOrRename) {
    const std::string path = ExistingFile();
    faults.fsyncErrno = EIO;
    EXPECT_HR(Write(path, kNew), HRESULT_FROM_WIN32(ERROR_WRITE_FAULT));
    ExpectUntouched(path);

    faults = Faults{faults.real};
    faults.closeErrno = EDQUOT;
    EXPECT_HR(Write(path, kNew), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
    ExpectUntouched(path);

    faults = Faults{faults.real};
    faults.renameErrno = EXDEV;
    EXPECT_LT(Write(path, kNew), 0);
    ExpectUntouched(path);
}

TEST_F(FileWriteTest, PathIsAFolderOrInAMissingFolder) {
    ASSERT_EQ(::mkdir(dir.File("folder").c_str(), 0755), 0);
    WriteFileBytes(dir.File("folder/inside"), kOld);
    EXPECT_HR(Write(dir.File("folder"), kNew), HRESULT_FROM_WIN32(ERROR_DIRECTORY));
    EXPECT_EQ(ReadFileBytes(dir.File("folder/inside")), kOld);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"folder"});

    EXPECT_HR(Write(dir.File("missing/doc.xml"), kNew), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    EXPECT_HR(Write("", kNew), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"folder"});
}

// A device is written to, never replaced by a regular file.
TEST_F(FileWriteTest, DeviceIsWrittenNotReplaced) {
    EXPECT_HR(Write("/dev/full", kNew), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
    EXPECT_TRUE(S_ISCHR(StatOf("/dev/full").st_mode));
    EXPECT_HR(Write("/dev/null", kNew), S_OK);
    EXPECT_TRUE(S_ISCHR(StatOf("/dev/null").st_mode));
}

// ---- content streamed from a producer -------------------------------------------

// The writer buffers 64 KiB; this is several buffers' worth, in distinct lines
// so that a lost, repeated or reordered piece shows.
const std::string& LargeContent() {
    static const std::string content = [] {
        std::string s;
        for (int i = 0; s.size() < 5 * 65536 + 321; ++i) {
            s += "<line n=\"" + std::to_string(i) + "\"/>\n";
        }
        return s;
    }();
    return content;
}

// What a producer met: the first failure the sink reported, and whether a
// later write was let through.
struct ProducerLog {
    HRESULT firstFailure = S_OK;
    bool acceptedAfterFailure = false;
};

// Hands `content` to the sink in pieces of `piece` bytes, carrying on after
// a failure (as a careless producer would) and noting what the sink said.
void WriteInPieces(ByteSink& sink, const std::string& content, size_t piece, ProducerLog& log) {
    for (size_t at = 0; at < content.size(); at += piece) {
        const HRESULT hr = sink.Write(content.data() + at, std::min(piece, content.size() - at));
        if (FAILED(log.firstFailure)) {
            log.acceptedAfterFailure = log.acceptedAfterFailure || SUCCEEDED(hr);
        } else if (FAILED(hr)) {
            log.firstFailure = hr;
        }
    }
}

TEST_F(FileWriteTest, ProducedContentArrivesWholeWhileBeingMade) {
    const std::string path = ExistingFile();
    const ino_t inode = StatOf(path).st_ino;
    const std::string& content = LargeContent();
    size_t writtenWhileProducing = 0;
    const HRESULT hr = WriteFileAtomically(path, [&](ByteSink& sink) {
        // Pieces smaller than, equal to and larger than the buffer, and none.
        const size_t pieces[] = {1, 0, 4000, 65536, 70000, 17};
        size_t at = 0;
        for (size_t i = 0; at < content.size(); ++i) {
            const size_t n = std::min(pieces[i % 6], content.size() - at);
            if (FAILED(sink.Write(content.data() + at, n))) return E_FAIL;
            at += n;
        }
        writtenWhileProducing = faults.written;
        return S_OK;
    });
    EXPECT_HR(hr, S_OK);
    EXPECT_EQ(ReadFileBytes(path), content);
    EXPECT_EQ(StatOf(path).st_mode & 07777, 0640u);
    EXPECT_NE(StatOf(path).st_ino, inode);
    EXPECT_EQ(dir.Entries(), listing);
    // Streamed: no more than one buffer was still held when the producer ended.
    EXPECT_GE(writtenWhileProducing + 65536, content.size());
}

TEST_F(FileWriteTest, ProducerFailingOrThrowingPartWayLeavesTheFileAsItWas) {
    const std::string path = ExistingFile();
    const std::string& content = LargeContent();
    const auto threeBuffersThen = [&](auto finish) {
        return [&content, finish](ByteSink& sink) {
            ProducerLog log;
            WriteInPieces(sink, content.substr(0, 3 * 65536 + 100), 4096, log);
            return finish(log);
        };
    };
    EXPECT_HR(WriteFileAtomically(path, threeBuffersThen([](const ProducerLog& log) {
                                      EXPECT_HR(log.firstFailure, S_OK);
                                      return HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
                                  })),
              HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_GE(faults.written, 3u * 65536) << "the temporary file never got the early pieces";
    ExpectUntouched(path);

    EXPECT_THROW(WriteFileAtomically(path, threeBuffersThen([](const ProducerLog&) -> HRESULT {
                                         throw std::runtime_error("producer gave up");
                                     })),
                 std::runtime_error);
    ExpectUntouched(path);
}

TEST_F(FileWriteTest, FullDiskPartWayThroughStreamedContent) {
    const std::string path = ExistingFile();
    const std::string& content = LargeContent();
    ProducerLog log;
    faults.writeBudget = 2 * 65536 + 5000;  // room for two buffers and a bit
    EXPECT_HR(WriteFileAtomically(path,
                                  [&](ByteSink& sink) {
                                      WriteInPieces(sink, content, 3000, log);
                                      return log.firstFailure;
                                  }),
              HRESULT_FROM_WIN32(ERROR_DISK_FULL));
    EXPECT_HR(log.firstFailure, HRESULT_FROM_WIN32(ERROR_DISK_FULL));
    EXPECT_FALSE(log.acceptedAfterFailure) << "the sink took pieces after a failed write";
    ExpectUntouched(path);

    // A producer that ignores the failure and reports success, or reports a
    // code of its own, fails with the write's code.
    for (const HRESULT reported : {S_OK, E_FAIL}) {
        faults = Faults{faults.real};
        faults.writeBudget = 65536 + 10;
        log = ProducerLog{};
        EXPECT_HR(WriteFileAtomically(path,
                                      [&](ByteSink& sink) {
                                          WriteInPieces(sink, content, 3000, log);
                                          return reported;
                                      }),
                  HRESULT_FROM_WIN32(ERROR_DISK_FULL));
        ExpectUntouched(path);
    }

    // The last, partly filled buffer failing when it is written at the end.
    faults = Faults{faults.real};
    faults.writeBudget = static_cast<long>(content.size()) - 10;
    EXPECT_HR(WriteFileAtomically(
                  path, [&](ByteSink& sink) { return sink.Write(content.data(), content.size()); }),
              HRESULT_FROM_WIN32(ERROR_DISK_FULL));
    ExpectUntouched(path);
}

// Where the file is rewritten in place, a producer that fails must not have
// truncated it: the content is made before the file is opened.
TEST_F(FileWriteTest, InPlaceWritesMakeTheContentBeforeOpening) {
    const std::string path = ExistingFile();
    const ino_t inode = StatOf(path).st_ino;
    faults.createErrno = EACCES;  // the folder refuses a temporary file
    const auto failing = [](ByteSink& sink) {
        ProducerLog log;
        WriteInPieces(sink, LargeContent(), 5000, log);
        return E_FAIL;
    };
    EXPECT_HR(WriteFileAtomically(path, failing), E_FAIL);
    EXPECT_EQ(faults.inPlaceOpens, 0);
    ExpectUntouched(path);

    EXPECT_HR(WriteFileAtomically(path,
                                  [](ByteSink& sink) {
                                      ProducerLog log;
                                      WriteInPieces(sink, LargeContent(), 5000, log);
                                      return log.firstFailure;
                                  }),
              S_OK);
    EXPECT_EQ(ReadFileBytes(path), LargeContent());
    EXPECT_EQ(StatOf(path).st_ino, inode);
    EXPECT_EQ(faults.inPlaceOpens, 1);

    // A device is not even opened for a producer that fails.
    faults = Faults{faults.real};
    EXPECT_HR(WriteFileAtomically("/dev/null", failing), E_FAIL);
    EXPECT_EQ(faults.opens, 0);
    EXPECT_HR(
        WriteFileAtomically("/dev/full", [](ByteSink& sink) { return sink.Write("<a/>", 4); }),
        HRESULT_FROM_WIN32(ERROR_DISK_FULL));
}

// ---- rewriting in place keeps the old content until the new content is safe ------

// The folder refuses a temporary file (EPERM, as an immutable folder does),
// so every save rewrites the existing file in place.
class InPlaceRewrite : public FileWriteTest {
  protected:
    void SetUp() override {
        FileWriteTest::SetUp();
        ResetFaults();
    }
    void ResetFaults() {
        faults = Faults{faults.real};
        faults.createErrno = EPERM;
    }
    // Rewritten in place, not replaced, and nothing left beside it.
    void ExpectSameFile(const std::string& path, ino_t inode) {
        EXPECT_EQ(StatOf(path).st_ino, inode);
        EXPECT_EQ(StatOf(path).st_mode & 07777, 0640u);
        EXPECT_EQ(dir.Entries(), listing);
    }
};

TEST_F(InPlaceRewrite, LongerShorterLargeAndEmptyContent) {
    const std::string path = ExistingFile();
    const ino_t inode = StatOf(path).st_ino;
    const std::string shortWithNul = std::string("<s>\0</s>", 8);
    struct Step {
        const std::string content;
        bool trickle;  // one byte per write, every other write interrupted
    };
    const Step steps[] = {{kNew, false},          {"<s/>", false}, {LargeContent(), false},
                          {shortWithNul, true},   {kNew, true},    {"", false},
                          {LargeContent(), false}};
    std::string previous = kOld;
    for (const Step& step : steps) {
        SCOPED_TRACE(std::to_string(previous.size()) + " -> " +
                     std::to_string(step.content.size()) + " bytes");
        ResetFaults();
        faults.trickle = step.trickle;
        EXPECT_HR(Write(path, step.content), S_OK);
        EXPECT_EQ(ReadFileBytes(path), step.content);
        ExpectSameFile(path, inode);
        EXPECT_EQ(faults.inPlaceOpens, 1);
        // Room for the new content and for putting the old one back was
        // taken before anything was overwritten.
        EXPECT_GE(faults.reservedBeforeWriting,
                  static_cast<long long>(std::max(previous.size(), step.content.size())));
        previous = step.content;
    }
}

// A full disk or quota shows when the room is reserved: the save fails
// before a byte of the file is overwritten.
TEST_F(InPlaceRewrite, RefusedReservationLeavesTheFileUntouched) {
    const std::string path = ExistingFile();
    const ino_t inode = StatOf(path).st_ino;
    const struct {
        int err;
        HRESULT expected;
    } refusals[] = {{ENOSPC, HRESULT_FROM_WIN32(ERROR_DISK_FULL)},
                    {EDQUOT, HRESULT_FROM_WIN32(ERROR_DISK_FULL)},
                    {EFBIG, HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE)},
                    {EIO, HRESULT_FROM_WIN32(ERROR_WRITE_FAULT)}};
    for (const auto& refusal : refusals) {
        SCOPED_TRACE(std::strerror(refusal.err));
        ResetFaults();
        faults.fallocateErrno = refusal.err;
        EXPECT_HR(Write(path, LargeContent()), refusal.expected);
        EXPECT_EQ(faults.pwrites, 0) << "the file was written before the room was reserved";
        ExpectUntouched(path);
        ExpectSameFile(path, inode);
    }
}

// A write, truncation or sync failing after the rewrite began: the old
// content is written back, byte for byte, and the first failure reported.
TEST_F(InPlaceRewrite, FailureAfterWritingBeganPutsTheOldContentBack) {
    const std::string path = ExistingFile();
    const ino_t inode = StatOf(path).st_ino;
    const std::string shorter = "<s/>";
    const struct Failure {
        const char* what;
        const std::string& content;
        long pwriteBudget;
        int pwriteErrno;
        int ftruncateErrno;
        int fsyncErrno;
        HRESULT expected;
    } failures[] = {
        {"disk full half way", kNew, static_cast<long>(kNew.size() / 2), ENOSPC, 0, 0,
         HRESULT_FROM_WIN32(ERROR_DISK_FULL)},
        {"quota met past the old end", kNew, static_cast<long>(kOld.size() + 5), EDQUOT, 0, 0,
         HRESULT_FROM_WIN32(ERROR_DISK_FULL)},
        {"I/O error on the first byte", kNew, 0, EIO, 0, 0, HRESULT_FROM_WIN32(ERROR_WRITE_FAULT)},
        {"I/O error in a large content", LargeContent(), 3 * 65536 + 7, EIO, 0, 0,
         HRESULT_FROM_WIN32(ERROR_WRITE_FAULT)},
        {"shorter content not cut", shorter, -1, 0, EIO, 0, HRESULT_FROM_WIN32(ERROR_WRITE_FAULT)},
        {"sync fails", kNew, -1, 0, 0, EIO, HRESULT_FROM_WIN32(ERROR_WRITE_FAULT)},
    };
    for (const Failure& failure : failures) {
        SCOPED_TRACE(failure.what);
        ResetFaults();
        faults.pwriteBudget = failure.pwriteBudget;
        faults.pwriteErrno = failure.pwriteErrno;
        faults.ftruncateErrno = failure.ftruncateErrno;
        faults.fsyncErrno = failure.fsyncErrno;
        EXPECT_HR(Write(path, failure.content), failure.expected);
        ExpectUntouched(path);
        ExpectSameFile(path, inode);
    }
}

// An old content of several read buffers is kept whole too.
TEST_F(InPlaceRewrite, LargeOldContentIsPutBackWhole) {
    const std::string path = ExistingFile();
    WriteFileBytes(path, LargeContent());
    faults.pwriteBudget = 10;
    EXPECT_HR(Write(path, kNew), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
    EXPECT_EQ(ReadFileBytes(path), LargeContent());
}

// Where the file system cannot reserve room, the rewrite goes ahead and the
// copy of the old content alone undoes a failure.
TEST_F(InPlaceRewrite, WithoutReservationTheCopyPutsTheOldContentBack) {
    const std::string path = ExistingFile();
    const ino_t inode = StatOf(path).st_ino;
    faults.fallocateErrno = EOPNOTSUPP;
    faults.pwriteBudget = static_cast<long>(kOld.size() + 3);
    EXPECT_HR(Write(path, kNew), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
    ExpectUntouched(path);
    ExpectSameFile(path, inode);

    ResetFaults();
    faults.fallocateErrno = EOPNOTSUPP;
    EXPECT_HR(Write(path, kNew), S_OK);
    EXPECT_EQ(ReadFileBytes(path), kNew);
    ExpectSameFile(path, inode);
}

// Without reading the file its content could not be put back: a file that
// opens for writing only is refused, never opened to be truncated.
TEST_F(InPlaceRewrite, FileThatCannotBeReadIsRefused) {
    const std::string path = ExistingFile();
    faults.readWriteErrno = EACCES;
    EXPECT_HR(Write(path, kNew), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    ExpectUntouched(path);
}

// ---- reading -------------------------------------------------------------------

TEST(FileRead, WholeFileExactly) {
    TempDir dir;
    const std::string bytes = std::string("<a>\0\xff\xfe</a>", 10) + std::string(200000, 'x');
    WriteFileBytes(dir.File("f"), bytes);
    std::string got = "stale";
    EXPECT_HR(ReadWholeFile(dir.File("f"), got), S_OK);
    EXPECT_EQ(got, bytes);

    WriteFileBytes(dir.File("empty"), "");
    EXPECT_HR(ReadWholeFile(dir.File("empty"), got), S_OK);
    EXPECT_EQ(got, "");
}

TEST(FileRead, RefusalsLeaveTheBufferAlone) {
    TempDir dir;
    std::string got = "kept";
    EXPECT_HR(ReadWholeFile(dir.File("absent"), got), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_HR(ReadWholeFile(dir.path(), got), HRESULT_FROM_WIN32(ERROR_DIRECTORY));
    EXPECT_HR(ReadWholeFile(dir.File("absent/x"), got), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    WriteFileBytes(dir.File("plain"), "x");
    EXPECT_HR(ReadWholeFile(dir.File("plain/x"), got), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(got, "kept");
}

// The piecewise reader behind loading: pieces of any size add up to the file,
// the end reads as 0 bytes, and a file grown since opening is read whole.
TEST(FileRead, InputFileReadsInPiecesToTheEnd) {
    TempDir dir;
    std::string bytes;
    for (int i = 0; i < 50000; ++i) bytes += static_cast<char>('a' + i % 26);
    WriteFileBytes(dir.File("f"), bytes);
    InputFile file;
    ASSERT_HR(file.Open(dir.File("f")), S_OK);
    EXPECT_EQ(file.Size(), bytes.size());
    WriteFileBytes(dir.File("f"), bytes + "tail");  // replaced in place: same inode
    std::string got;
    char piece[7777];
    for (;;) {
        size_t n = 0;
        ASSERT_HR(file.Read(piece, sizeof piece, n), S_OK);
        if (n == 0) break;
        got.append(piece, n);
    }
    EXPECT_EQ(got, bytes + "tail");
    size_t n = 1;
    EXPECT_HR(file.Read(piece, sizeof piece, n), S_OK);
    EXPECT_EQ(n, 0u);

    InputFile folder;
    EXPECT_HR(folder.Open(dir.path()), HRESULT_FROM_WIN32(ERROR_DIRECTORY));
    EXPECT_HR(folder.Read(piece, sizeof piece, n), E_UNEXPECTED);
    EXPECT_HR(file.Open(dir.File("f")), E_UNEXPECTED);  // one file per object
}

// A FIFO with no writer must be refused at once, not waited on.
TEST(FileRead, FifoIsRefusedWithoutBlocking) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.File("pipe").c_str(), 0600), 0);
    std::string got;
    EXPECT_HR(ReadWholeFile(dir.File("pipe"), got), HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED));
}

}  // namespace
