// SPDX-License-Identifier: MIT
#include "create_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "file_descriptor.h"
#include "results.h"

namespace xmlutil::tool {
namespace {

int RealRenameNoReplace(const char* from, const char* to) {
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
}
int RealLink(const char* from, const char* to) {
    return ::link(from, to);
}

PublishCalls& InstalledCalls() {
    static PublishCalls calls{RealRenameNoReplace, RealLink};
    return calls;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Makes the new name durable. The file is in place already, so a folder that
// cannot be synced is not reported as a failure.
void SyncFolder(const std::string& folder) {
    const FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
}

}  // namespace

StagingFolder::~StagingFolder() {
    if (folder_.empty()) return;
    // The file is gone when it was published; the library's save leaves no
    // temporary file of its own behind, so the folder is empty after this.
    ::unlink(file_.c_str());
    ::rmdir(folder_.c_str());
}

HRESULT StagingFolder::Create(const std::string& target) {
    if (!folder_.empty()) return E_UNEXPECTED;
    // Short names of its own: one taken from the target could be cut inside
    // a character, or make the path too long where the target's fits.
    std::string pattern = FolderOf(target) + "/.xmlutil-new.XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) return ResultFromWriteErrno(errno);
    folder_ = buffer.data();
    file_ = folder_ + "/new.xml";
    return S_OK;
}

HRESULT PublishWithoutReplacing(const std::string& staged, const std::string& target) {
    const PublishCalls& calls = CurrentPublishCalls();
    if (calls.renameNoReplace(staged.c_str(), target.c_str()) != 0) {
        // EINVAL: the file system cannot rename without replacing (ENOSYS: nor
        // can the kernel). A hard link never replaces an existing name either;
        // the staged name is dropped once the link is made.
        if (errno != EINVAL && errno != ENOSYS) return ResultFromWriteErrno(errno);
        if (calls.link(staged.c_str(), target.c_str()) != 0) return ResultFromWriteErrno(errno);
        ::unlink(staged.c_str());
    }
    SyncFolder(FolderOf(target));
    return S_OK;
}

const PublishCalls& CurrentPublishCalls() {
    return InstalledCalls();
}

PublishCalls SetPublishCallsForTesting(const PublishCalls& calls) {
    const PublishCalls previous = InstalledCalls();
    InstalledCalls() = calls;
    return previous;
}

}  // namespace xmlutil::tool
