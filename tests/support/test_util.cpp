// SPDX-License-Identifier: MIT
#include "support/test_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace xmlutil::test {
namespace fs = std::filesystem;

std::string HrText(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

::testing::AssertionResult HrEquals(const char* exprText, const char* expectedText, HRESULT actual,
                                    HRESULT expected) {
    if (actual == expected) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << exprText << " returned " << HrText(actual) << ", expected " << expectedText << " ("
           << HrText(expected) << ")";
}

std::wstring Widen(const std::string& utf8) {
    std::wstring wide;
    for (size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const size_t extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
        unsigned code = extra == 0 ? lead : lead & (0x3Fu >> extra);
        for (size_t k = 1; k <= extra && i + k < utf8.size(); ++k) {
            code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3Fu);
        }
        wide.push_back(static_cast<wchar_t>(code));
        i += extra + 1;
    }
    return wide;
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    ASSERT_TRUE(out.good()) << "cannot write " << path;
}

bool FileExists(const std::string& path) {
    std::error_code ec;
    return fs::symlink_status(path, ec).type() != fs::file_type::not_found && !ec;
}

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/xmlutil_test_XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp failed for " << pattern;
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Tests make parts read-only; give the owner write access back first.
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

std::vector<std::string> TempDir::Entries() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(path_, ec)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

namespace {
void FlushStdio() {
    std::fflush(stdout);
    std::fflush(stderr);
}
}  // namespace

CapturedOutput::CapturedOutput(int fd) : fd_(fd) {
    char name[] = "/tmp/xmlutil_capture_XXXXXX";
    const int tmp = ::mkstemp(name);
    if (tmp < 0) {
        ADD_FAILURE() << "mkstemp failed";
        return;
    }
    file_ = name;
    FlushStdio();
    savedFd_ = ::dup(fd_);
    ::dup2(tmp, fd_);
    ::close(tmp);
}

CapturedOutput::~CapturedOutput() {
    Finish();
}

std::string CapturedOutput::Finish() {
    if (savedFd_ < 0) return std::string();
    FlushStdio();
    ::dup2(savedFd_, fd_);
    ::close(savedFd_);
    savedFd_ = -1;
    std::string bytes = ReadFileBytes(file_);
    ::unlink(file_.c_str());
    return bytes;
}

void XmlTest::Load(const wchar_t* xml) {
    ASSERT_HR(util.LoadXML(xml), S_OK) << "markup did not load";
}

CComPtr<IXMLDOMNode> XmlTest::Node(const std::wstring& xpath) {
    CComPtr<IXMLDOMNode> node;
    const HRESULT hr = util.GetSingleNode(xpath, node);
    EXPECT_HR(hr, S_OK) << "no node for the path";
    return node;
}

}  // namespace xmlutil::test
