// SPDX-License-Identifier: MIT
// Creating a file that must not exist yet: the content is written under a
// private name first and then given the final name by a step that refuses to
// replace anything, so a file that appears meanwhile is never overwritten.
#pragma once

#include <xmlutil/wintypes.h>

#include <string>

namespace xmlutil::tool {

// A private folder beside the file being created, holding the file while it is
// written. A folder rather than a reserved temporary file: saving to a name
// that does not exist yet creates the file as a plain create would (mode from
// the umask), where saving over a reserved 0600 file would keep its mode. The
// folder and whatever is still in it are removed when the owner goes, on
// every way out.
class StagingFolder {
  public:
    StagingFolder() = default;
    ~StagingFolder();
    StagingFolder(const StagingFolder&) = delete;
    StagingFolder& operator=(const StagingFolder&) = delete;

    // Makes the folder in the folder of `target` (hidden: .xmlutil-new.XXXXXX): S_OK
    // or a negative HRESULT_FROM_WIN32 code (folder missing, not writable).
    HRESULT Create(const std::string& target);
    // Where to write the file: a name inside the folder.
    const std::string& FilePath() const { return file_; }

  private:
    std::string folder_;
    std::string file_;
};

// Gives the file at `staged` the name `target`, unless something already has
// that name (a file, a folder, a symbolic link even when it dangles): S_OK;
// HRESULT_FROM_WIN32(ERROR_FILE_EXISTS) when the name is taken; another
// negative code when the step fails otherwise. `staged` is left where it was
// on failure. Both names must be on one file system.
HRESULT PublishWithoutReplacing(const std::string& staged, const std::string& target);

// The system calls the publishing step makes, replaceable by tests (a file
// system without the no-replace rename, a name taken just before the step).
struct PublishCalls {
    int (*renameNoReplace)(const char* from, const char* to);
    int (*link)(const char* from, const char* to);
};
// The calls in use (the real ones unless a test replaced them).
const PublishCalls& CurrentPublishCalls();
// Replaces the calls; returns the previous set. Tests restore it afterwards.
PublishCalls SetPublishCallsForTesting(const PublishCalls& calls);

}  // namespace xmlutil::tool
