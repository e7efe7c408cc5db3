// SPDX-License-Identifier: MIT
// The subcommands of the xmlutil tool: each maps onto one library member and
// runs it on a file.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
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

// The options a subcommand takes besides -q (every one takes that).
enum OptionFlags : unsigned {
    kTakesOutput = 1u << 0,      // -o OUT (every editing subcommand takes it)
    kTakesAll = 1u << 1,         // --all: every match, not only the first
    kTakesNull = 1u << 2,        // -0, --null: records end with NUL
    kTakesNamespaces = 1u << 3,  // -N PREFIX=URI
    kTakesLayout = 1u << 4,      // --indent N, --compact
    kTakesFiles = 1u << 5,       // FILE... : several files, each on its own
};

// One parsed command line.
struct Invocation {
    std::string subcommand;
    std::vector<std::string> operands;    // FILE first (one file per run)
    std::optional<std::string> output;    // -o OUT
    std::vector<std::string> namespaces;  // -N PREFIX=URI, in order
    std::optional<int> indent;            // --indent N
    bool compact = false;                 // --compact
    bool all = false;                     // --all
    bool null = false;                    // -0
    bool quiet = false;                   // -q
};

// What a subcommand prints on standard output (UTF-8): records, each ended
// by a newline (a NUL with -0) and preceded by the file's name when a run
// reads several files.
class Output {
  public:
    Output() = default;
    Output(std::string prefix, char terminator)
        : prefix_(std::move(prefix)), terminator_(terminator) {}
    void Line(std::wstring_view text);
    void Line(std::string_view utf8);
    const std::string& Text() const { return text_; }

  private:
    std::string prefix_;
    char terminator_ = '\n';
    std::string text_;
};

struct Subcommand {
    const char* name;
    const char* operands;  // e.g. "FILE XPATH TEXT"
    const char* summary;   // one line for the overview
    const char* details;   // paragraph for `xmlutil NAME --help`
    size_t minOperands;
    size_t maxOperands;  // with kTakesFiles: counting one FILE
    bool edits;          // writes FILE back (or to -o OUT)
    void (*run)(const Invocation& invocation, Output& out);
    const char* group;     // heading in the overview
    unsigned options = 0;  // OptionFlags beyond -o of an edit
};

// Every subcommand, in the order the overview lists them.
const std::vector<Subcommand>& Subcommands();
const Subcommand* FindSubcommand(std::string_view name);

}  // namespace xmlutil::tool
