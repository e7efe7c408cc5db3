// SPDX-License-Identifier: MIT
// The tool's creation of a file that must not exist yet: a name taken by the
// time the file is published is never replaced, whether the file system
// renames without replacing or only hard links do, and no private name is
// left behind.
#include "create_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

namespace xmlutil::tool {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteText(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::set<std::string> Entries(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

// What the file system does when it cannot rename without replacing.
int RenameUnsupported(const char*, const char*) {
    errno = EINVAL;
    return -1;
}

// A file system without hard links either.
int LinkUnsupported(const char*, const char*) {
    errno = EPERM;
    return -1;
}

// Another process takes the name just before the publishing step.
std::string g_racingTarget;
PublishCalls g_realCalls;

void CreateRacingFile() {
    WriteText(g_racingTarget, "theirs");
}
int RenameAfterRace(const char* from, const char* to) {
    CreateRacingFile();
    return g_realCalls.renameNoReplace(from, to);
}
int LinkAfterRace(const char* from, const char* to) {
    CreateRacingFile();
    return g_realCalls.link(from, to);
}

// Each case runs with the no-replace rename and with the hard-link fallback.
class CreateFile : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/xmlutil-create-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
        target_ = dir_ / "new.xml";
        g_realCalls = CurrentPublishCalls();
        SetPublishCallsForTesting(Calls(g_realCalls.renameNoReplace, g_realCalls.link));
    }
    void TearDown() override {
        SetPublishCallsForTesting(g_realCalls);
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    bool LinkFallback() const { return GetParam(); }
    PublishCalls Calls(int (*rename)(const char*, const char*),
                       int (*link)(const char*, const char*)) const {
        return PublishCalls{LinkFallback() ? RenameUnsupported : rename, link};
    }

    // Stages "ours" in a folder beside the target; the folder goes with `staging`.
    std::string Stage(StagingFolder& staging) {
        EXPECT_EQ(staging.Create(target_.string()), S_OK);
        WriteText(staging.FilePath(), "ours");
        return staging.FilePath();
    }

    fs::path dir_;
    fs::path target_;
};

TEST_P(CreateFile, PublishesUnderAFreeNameAndLeavesNothingElse) {
    {
        StagingFolder staging;
        const std::string staged = Stage(staging);
        EXPECT_EQ(fs::path(staged).parent_path().parent_path(), dir_);
        EXPECT_EQ(PublishWithoutReplacing(staged, target_.string()), S_OK);
        EXPECT_FALSE(fs::exists(staged));
    }
    EXPECT_EQ(ReadText(target_), "ours");
    EXPECT_EQ(Entries(dir_), std::set<std::string>{"new.xml"});
}

TEST_P(CreateFile, NeverReplacesANameTakenMeanwhile) {
    g_racingTarget = target_.string();
    SetPublishCallsForTesting(Calls(RenameAfterRace, LinkAfterRace));
    {
        StagingFolder staging;
        const std::string staged = Stage(staging);
        EXPECT_EQ(PublishWithoutReplacing(staged, target_.string()),
                  HRESULT_FROM_WIN32(ERROR_FILE_EXISTS));
        EXPECT_EQ(ReadText(staged), "ours");
    }
    EXPECT_EQ(ReadText(target_), "theirs");
    EXPECT_EQ(Entries(dir_), std::set<std::string>{"new.xml"});
}

TEST_P(CreateFile, NeverReplacesAFolderOrALink) {
    fs::create_directory(dir_ / "folder");
    fs::create_symlink("nowhere.xml", dir_ / "dangling.xml");
    fs::create_symlink("folder", dir_ / "to-folder");
    for (const char* name : {"folder", "dangling.xml", "to-folder"}) {
        SCOPED_TRACE(name);
        const fs::path taken = dir_ / name;
        StagingFolder staging;
        const std::string staged = Stage(staging);
        EXPECT_EQ(PublishWithoutReplacing(staged, taken.string()),
                  HRESULT_FROM_WIN32(ERROR_FILE_EXISTS));
        EXPECT_EQ(ReadText(staged), "ours");
    }
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(dir_ / "folder")));
    EXPECT_TRUE(fs::is_empty(dir_ / "folder"));
    EXPECT_EQ(fs::read_symlink(dir_ / "dangling.xml"), "nowhere.xml");
    EXPECT_EQ(fs::read_symlink(dir_ / "to-folder"), "folder");
    EXPECT_EQ(Entries(dir_), (std::set<std::string>{"folder", "dangling.xml", "to-folder"}));
}

TEST_P(CreateFile, OtherFailuresAreReportedAndKeepTheStagedFile) {
    SetPublishCallsForTesting(PublishCalls{RenameUnsupported, LinkUnsupported});
    {
        StagingFolder staging;
        const std::string staged = Stage(staging);
        EXPECT_EQ(PublishWithoutReplacing(staged, target_.string()), E_ACCESSDENIED);
        EXPECT_EQ(ReadText(staged), "ours");
    }
    EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_P(CreateFile, StagingFolderIsRemovedWithWhatItHolds) {
    {
        StagingFolder staging;
        Stage(staging);
        EXPECT_EQ(Entries(dir_).size(), 1u);
        EXPECT_TRUE(fs::exists(staging.FilePath()));
    }
    EXPECT_TRUE(fs::is_empty(dir_));

    StagingFolder missing;
    EXPECT_EQ(missing.Create((dir_ / "no" / "new.xml").string()),
              HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    EXPECT_TRUE(fs::is_empty(dir_));
}

INSTANTIATE_TEST_SUITE_P(Publishing, CreateFile, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& param) {
                             return param.param ? "LinkFallback" : "NoReplaceRename";
                         });

}  // namespace
}  // namespace xmlutil::tool
