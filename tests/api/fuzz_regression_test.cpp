// SPDX-License-Identifier: MIT
// Replays every input that once made a fuzz target fail, through the same
// code the fuzz targets run (their invariants throw here instead of
// aborting), and the seed corpora, so the ordinary suite keeps them fixed.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#define XMLUTIL_FUZZ_NO_ENTRY 1
#include "../../fuzz/fuzz_calls.cpp"
#include "../../fuzz/fuzz_load.cpp"
#include "../../fuzz/fuzz_xpath.cpp"
#include "../../fuzz/fuzz_xpath_index.cpp"
#include "support/test_util.h"

namespace {

using Target = int (*)(const uint8_t*, size_t);

// The replayed inputs save files; on a memory file system the syncs of the
// atomic writer cost nothing (the same choice scripts/fuzz.sh makes).
class TempOnMemoryFileSystem : public testing::Environment {
  public:
    void SetUp() override {
        if (std::getenv("TMPDIR") == nullptr && access("/dev/shm", W_OK) == 0) {
            setenv("TMPDIR", "/dev/shm", 0);
        }
    }
};
[[maybe_unused]] const testing::Environment* const kTempEnvironment =
    testing::AddGlobalTestEnvironment(new TempOnMemoryFileSystem);  // gtest owns it

std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> files;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* entry = readdir(d)) {
            const std::string name = entry->d_name;
            if (name != "." && name != ".." && name != ".gitkeep")
                files.push_back(dir + "/" + name);
        }
        closedir(d);
    }
    std::sort(files.begin(), files.end());
    return files;
}

// Runs every file of the target's regression folder and seed corpus.
int Replay(const std::string& target, Target run) {
    int replayed = 0;
    for (const std::string& dir : {std::string(XMLUTIL_TEST_DATA "/fuzz-regressions/") + target,
                                   std::string(XMLUTIL_SOURCE_DIR "/fuzz/corpus/") + target}) {
        for (const std::string& file : FilesIn(dir)) {
            const std::string bytes = xmlutil::test::ReadFileBytes(file);
            SCOPED_TRACE(file);
            EXPECT_NO_THROW(run(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
            ++replayed;
        }
    }
    std::printf("%s: %d inputs replayed\n", target.c_str(), replayed);
    return replayed;
}

TEST(FuzzRegression, LoadInputsRoundTrip) {
    EXPECT_GT(Replay("fuzz_load", fuzz::load::TestOneInput), 0);
    fuzz::load::RemoveTempFiles();
}

TEST(FuzzRegression, XPathInputsAgreeAcrossQueries) {
    EXPECT_GT(Replay("fuzz_xpath", fuzz::xpath::TestOneInput), 0);
}

TEST(FuzzRegression, IndexedLookupsMatchLibxml2) {
    EXPECT_GT(Replay("fuzz_xpath_index", fuzz::xpath_index::TestOneInput), 0);
}

TEST(FuzzRegression, CallSequencesKeepHandlesSafe) {
    EXPECT_GT(Replay("fuzz_calls", fuzz::calls::TestOneInput), 0);
}

}  // namespace
