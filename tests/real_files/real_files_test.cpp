// SPDX-License-Identifier: MIT
// The XML-like files of the machine the test runs on, read (never written):
// every file that xmllint loads without the network, Load loads too, unless
// one of the loader's hostile-input defences is the reason (a compressed
// file, bytes after a NUL character, an entity blowup); and load -> save ->
// load gives back the same GetXML. Saves go to a scratch folder. Roots are
// /usr/share and /etc, or the colon-separated list in XMLUTIL_REAL_FILES_ROOTS.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/test_util.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using xmlutil::test::ReadFileBytes;
using xmlutil::test::TempDir;
using xmlutil::test::Widen;

constexpr std::uintmax_t kMaxFileSize = 4 * 1024 * 1024;

const std::set<std::string> kXmlLikeExtensions = {
    ".xml", ".svg",  ".svgz", ".xsl",  ".xslt", ".xsd",   ".rng",  ".policy", ".xhtml", ".rss",
    ".rdf", ".atom", ".pom",  ".lang", ".ui",   ".glade", ".page", ".xbel",   ".kml",   ".gpx"};

std::vector<std::string> Roots() {
    const char* listed = std::getenv("XMLUTIL_REAL_FILES_ROOTS");
    std::string list = listed != nullptr ? listed : "/usr/share:/etc";
    std::vector<std::string> roots;
    size_t start = 0;
    while (start <= list.size()) {
        const size_t colon = std::min(list.find(':', start), list.size());
        if (colon > start) roots.push_back(list.substr(start, colon - start));
        start = colon + 1;
    }
    return roots;
}

std::vector<std::string> XmlLikeFiles() {
    std::vector<std::string> files;
    const auto options = fs::directory_options::skip_permission_denied;
    for (const std::string& root : Roots()) {
        std::error_code ec;
        for (fs::recursive_directory_iterator it(root, options, ec), end; !ec && it != end;
             it.increment(ec)) {
            std::error_code statError;
            if (it->is_symlink(statError) || !it->is_regular_file(statError)) continue;
            if (kXmlLikeExtensions.count(it->path().extension().string()) == 0) continue;
            if (it->file_size(statError) > kMaxFileSize || statError) continue;
            files.push_back(it->path().string());
        }
    }
    return files;
}

// True when `xmllint --noout --nonet` loads the file.
bool XmllintLoads(const std::string& path) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::string program = "xmllint";
    std::string noout = "--noout";
    std::string nonet = "--nonet";
    std::string file = path;
    char* argv[] = {program.data(), noout.data(), nonet.data(), file.data(), nullptr};
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, "xmllint", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return false;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The hostile-input defence that explains a refusal, or "" when none does.
std::string DefenceAgainst(const std::string& bytes) {
    if (bytes.compare(0, 2, "\x1f\x8b") == 0 || bytes.compare(0, 6,
                                                              "\xfd"
                                                              "7zXZ\0",
                                                              6) == 0) {
        return "compressed input";
    }
    const bool wide = bytes.size() >= 2 && (bytes[0] == '\0' || bytes[1] == '\0' ||
                                            bytes.compare(0, 2, "\xff\xfe") == 0 ||
                                            bytes.compare(0, 2, "\xfe\xff") == 0);
    if (!wide && bytes.find('\0') != std::string::npos) return "bytes after a NUL";
    return "";
}

struct Tally {
    size_t files = 0;
    size_t loaded = 0;
    size_t equal = 0;
    size_t changed = 0;
    size_t refusedWithXmllint = 0;
    size_t refusedAgainstXmllint = 0;
    size_t loadedAgainstXmllint = 0;
    std::map<std::string, size_t> defended;
};

TEST(RealFiles, WhatXmllintLoadsLoadsAndSavesBackUnchanged) {
    const std::vector<std::string> files = XmlLikeFiles();
    ASSERT_FALSE(files.empty()) << "no XML-like files under the roots";
    TempDir scratch;
    const std::wstring saved = scratch.WideFile("saved.xml");
    Tally tally;
    for (const std::string& path : files) {
        ++tally.files;
        const bool xmllint = XmllintLoads(path);
        CXMLUtil doc;
        if (doc.Load(Widen(path)) != S_OK) {
            const std::string defence = DefenceAgainst(ReadFileBytes(path));
            if (!xmllint) {
                ++tally.refusedWithXmllint;
            } else if (!defence.empty()) {
                ++tally.defended[defence];
            } else {
                ++tally.refusedAgainstXmllint;
                ADD_FAILURE() << "refused, but xmllint loads it: " << path;
            }
            continue;
        }
        ++tally.loaded;
        if (!xmllint) ++tally.loadedAgainstXmllint;
        std::wstring first;
        std::wstring second;
        CXMLUtil back;
        const long savedHr = doc.Save(saved);
        const long reloaded = savedHr == S_OK ? back.Load(saved) : savedHr;
        if (reloaded == S_OK && doc.GetXML(first) == S_OK && back.GetXML(second) == S_OK &&
            first == second) {
            ++tally.equal;
            continue;
        }
        ++tally.changed;
        ADD_FAILURE() << "changed by load, save and load (save " << xmlutil::test::HrText(savedHr)
                      << ", reload " << xmlutil::test::HrText(reloaded) << "): " << path;
    }
    std::cout << "files " << tally.files << ", loaded " << tally.loaded << " (of them "
              << tally.loadedAgainstXmllint << " that xmllint refuses), equal after save "
              << tally.equal << ", changed " << tally.changed << ", refused with xmllint "
              << tally.refusedWithXmllint << ", refused against xmllint "
              << tally.refusedAgainstXmllint;
    for (const auto& [defence, count] : tally.defended) {
        std::cout << ", refused by defence (" << defence << ") " << count;
    }
    std::cout << "\n";
    EXPECT_EQ(tally.changed, 0u);
    EXPECT_EQ(tally.refusedAgainstXmllint, 0u);
}

}  // namespace
