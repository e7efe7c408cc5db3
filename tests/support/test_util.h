// SPDX-License-Identifier: MIT
// Helpers shared by the test programs: HRESULT assertions that print codes in
// hex, a fixture holding a document object loaded from a string, a temporary
// folder removed afterwards, whole-file byte access, and capture of what the
// process writes to standard output or standard error.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "xmlutil/XMLUtil.h"

namespace xmlutil::test {

// "0x80004005" for the code, so failures read like the platform's codes.
std::string HrText(HRESULT hr);

// gtest predicate: `expr` returned `expected`.
::testing::AssertionResult HrEquals(const char* exprText, const char* expectedText, HRESULT actual,
                                    HRESULT expected);

// UTF-8 to wide text (tests build wide paths from file-system paths).
std::wstring Widen(const std::string& utf8);

// The bytes of a whole file; an empty string when it cannot be read (check
// existence separately when that matters).
std::string ReadFileBytes(const std::string& path);
// Creates or replaces the file with `bytes`; fails the current test on error.
void WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);

// A fresh folder under $TMPDIR (or /tmp), removed with its content (read-only
// parts included) when the object goes away.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // The path of `name` inside the folder, and its wide form.
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    std::wstring WideFile(const std::string& name) const { return Widen(File(name)); }
    // Names of the entries in the folder ("." and ".." left out), sorted.
    std::vector<std::string> Entries() const;

  private:
    std::string path_;
};

// Redirects a standard stream (1 or 2) into a temporary file until Finish()
// (or destruction) and hands back the bytes written meanwhile. C stdio and
// wide stdio buffers are flushed at both ends.
class CapturedOutput {
  public:
    explicit CapturedOutput(int fd);
    ~CapturedOutput();
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;
    std::string Finish();

  private:
    int fd_;
    int savedFd_ = -1;
    std::string file_;
};

// A fixture whose `util` is a fresh document object; Load() parses the markup
// into it and fails the test when it does not parse:
//     TEST_F(XmlTest, Finds) { ASSERT_NO_FATAL_FAILURE(Load(L"<a><b/></a>")); ... }
class XmlTest : public ::testing::Test {
  protected:
    void Load(const wchar_t* xml);
    // The first node the path selects; fails the test when none.
    CComPtr<IXMLDOMNode> Node(const std::wstring& xpath);

    CXMLUtil util;
};

}  // namespace xmlutil::test

// Compare HRESULTs, printing both as hex codes when they differ.
#define EXPECT_HR(expr, code) EXPECT_PRED_FORMAT2(::xmlutil::test::HrEquals, expr, code)
#define ASSERT_HR(expr, code) ASSERT_PRED_FORMAT2(::xmlutil::test::HrEquals, expr, code)
