// SPDX-License-Identifier: MIT
// The subcommands of the xmlutil tool: each maps onto one library member and
// runs it on a file.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace xmlutil::tool {

enum ExitStatus : int {
    kExitDone = 0,
    kExitNoMatch = 1,  // the XPath expression selects no node
    kExitFailure = 2,  // a file cannot be loaded or saved, or a member fails
    kExitUsage = 64,   // the command line is wrong
};

// Ends a run early: the status and the one line for standard error.
struct Exit {
    int status;
    std::string message;
};

// One parsed command line.
struct Invocation {
    std::string subcommand;
    std::vector<std::string> operands;
    std::optional<std::string> output;  // -o OUT of an editing subcommand
};

// What a subcommand prints on standard output (UTF-8).
class Output {
  public:
    void Line(std::wstring_view text);
    void Line(std::string_view utf8);
    const std::string& Text() const { return text_; }

  private:
    std::string text_;
};

struct Subcommand {
    const char* name;
    const char* operands;  // e.g. "FILE XPATH TEXT"
    const char* summary;   // one line for the overview
    const char* details;   // paragraph for `xmlutil NAME --help`
    size_t minOperands;
    size_t maxOperands;
    bool edits;  // writes FILE back (or to -o OUT)
    void (*run)(const Invocation& invocation, Output& out);
    const char* group;  // heading in the overview
};

// Every subcommand, in the order the overview lists them.
const std::vector<Subcommand>& Subcommands();
const Subcommand* FindSubcommand(std::string_view name);

}  // namespace xmlutil::tool
