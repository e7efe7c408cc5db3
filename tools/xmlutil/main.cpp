// SPDX-License-Identifier: MIT
// xmlutil: runs the operations of the xmlutil library on XML files from the
// command line. See `xmlutil --help`.
#include <xmlutil/XMLUtil.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#if __has_include(<malloc.h>)
#include <malloc.h>
#endif
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "commands.h"
#include "results.h"

namespace xmlutil::tool {
namespace {

constexpr const char* kOverviewHead =
    "Usage: xmlutil SUBCOMMAND ARGUMENTS...\n"
    "       xmlutil SUBCOMMAND --help\n"
    "\n"
    "Reads and edits XML files with the xmlutil library. XPATH is an XPath 1.0\n"
    "expression; text in and out is UTF-8 whatever the file's encoding.\n";

constexpr const char* kOverviewTail =
    "\n"
    "Editing subcommands write FILE back in place, or to OUT when -o OUT (or\n"
    "--output OUT) appears anywhere among their arguments; `--` ends the options,\n"
    "so a TEXT that starts with a dash can follow it. A failing edit leaves the\n"
    "file as it was.\n"
    "\n"
    "Exit status: 0 done; 1 XPATH selects no node; 2 a file cannot be loaded or\n"
    "saved, an operation fails, or the output cannot be written (one line on\n"
    "standard error); 64 usage error.\n";

std::string SubcommandUsage(const Subcommand& subcommand) {
    std::string usage = std::string("xmlutil ") + subcommand.name;
    if (*subcommand.operands != '\0') usage += std::string(" ") + subcommand.operands;
    if (subcommand.edits) usage += " [-o OUT]";
    return usage;
}

std::string Overview() {
    std::string text = kOverviewHead;
    std::string_view group;
    for (const Subcommand& subcommand : Subcommands()) {
        if (group != subcommand.group) {
            group = subcommand.group;
            text += "\n" + std::string(group) + ":\n";
        }
        std::string left = std::string(subcommand.name) + " " + subcommand.operands;
        left.resize(std::max<size_t>(left.size() + 1, 33), ' ');
        text += "  " + left + subcommand.summary + "\n";
    }
    return text + kOverviewTail;
}

std::string SubcommandHelp(const Subcommand& subcommand) {
    std::string text = "Usage: " + SubcommandUsage(subcommand) + "\n\n" + subcommand.details + "\n";
    if (subcommand.edits) {
        text +=
            "\nWrites FILE in place, or OUT when -o OUT is given (anywhere among the\n"
            "arguments). A failing edit leaves the file as it was.\n";
    }
    return text;
}

// Optimal string alignment distance: edits, with a swap of two neighbours
// counted as one (so "gte" is one step from "get").
size_t EditDistance(std::string_view a, std::string_view b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[a.size()][b.size()];
}

// The subcommand nearest to a mistyped name, when one is near enough to be meant.
const Subcommand* NearestSubcommand(std::string_view name) {
    const Subcommand* nearest = nullptr;
    size_t best = 0;
    for (const Subcommand& subcommand : Subcommands()) {
        const size_t distance = EditDistance(name, subcommand.name);
        if (nearest == nullptr || distance < best) {
            nearest = &subcommand;
            best = distance;
        }
    }
    const size_t allowed = std::max<size_t>(2, name.size() / 2);
    return best <= allowed ? nearest : nullptr;
}

[[noreturn]] void UsageError(const std::string& message, const std::string& hint) {
    throw Exit{kExitUsage, message + "\n" + hint};
}

bool IsHelpFlag(std::string_view arg) {
    return arg == "--help" || arg == "-h";
}

// Splits the arguments after the subcommand name into operands and -o OUT.
// Only the options listed are options; anything else is an operand, so text
// such as "-5" passes as it is.
Invocation ParseArguments(const Subcommand& subcommand, const std::vector<std::string>& args) {
    Invocation invocation{subcommand.name, {}, std::nullopt};
    const std::string who = std::string("xmlutil ") + subcommand.name;
    const std::string hint = "Try '" + who + " --help'.";
    bool optionsEnded = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded) {
            invocation.operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const bool outputFlag = arg == "-o" || arg == "--output";
        const bool outputJoined = arg.rfind("--output=", 0) == 0;
        if (subcommand.edits && (outputFlag || outputJoined)) {
            if (invocation.output) UsageError(who + ": -o given more than once", hint);
            if (outputFlag && i + 1 == args.size()) UsageError(who + ": -o needs a file", hint);
            invocation.output = outputFlag ? args[++i] : arg.substr(arg.find('=') + 1);
            if (invocation.output->empty()) UsageError(who + ": -o needs a file", hint);
            continue;
        }
        invocation.operands.push_back(arg);
    }
    const size_t count = invocation.operands.size();
    if (count < subcommand.minOperands || count > subcommand.maxOperands) {
        UsageError(
            who + ": " +
                (count < subcommand.minOperands ? "missing arguments" : "too many arguments") +
                "\nUsage: " + SubcommandUsage(subcommand),
            hint);
    }
    return invocation;
}

void Print(FILE* stream, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stream);
}

// Standard output is buffered, so output that cannot be written (a full disk,
// a closed pipe) shows only when it is flushed; a run whose output was lost
// has failed, whatever it printed.
void FlushOutput(const std::string& who) {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return;
    const long error = errno == ENOSPC ? ERROR_DISK_FULL : ERROR_WRITE_FAULT;
    throw Exit{kExitFailure,
               who + ": cannot write the output: " + DescribeResult(HRESULT_FROM_WIN32(error))};
}

// Prints text that is all a run has to say (help, the version).
int PrintDone(const std::string& who, const std::string& text) {
    Print(stdout, text);
    FlushOutput(who);
    return kExitDone;
}

int RunSubcommand(const Subcommand& subcommand, const std::vector<std::string>& args) {
    for (size_t i = 1; i < args.size() && args[i] != "--"; ++i) {
        if (IsHelpFlag(args[i])) {
            return PrintDone(std::string("xmlutil ") + subcommand.name, SubcommandHelp(subcommand));
        }
    }
    const Invocation invocation = ParseArguments(subcommand, args);
    Output out;
    int status = kExitDone;
    std::string message;
    try {
        subcommand.run(invocation, out);
    } catch (const Exit& exit) {
        if (exit.status != kExitNoMatch) throw;
        status = exit.status;
        message = exit.message;
    }
    Print(stdout, out.Text());
    FlushOutput("xmlutil " + invocation.subcommand);
    if (!message.empty()) Print(stderr, message + "\n");
    return status;
}

int Main(const std::vector<std::string>& args) {
    const std::string hint = "Try 'xmlutil --help'.";
    if (args.empty()) UsageError("xmlutil: missing subcommand", hint);
    const std::string& first = args[0];
    const std::string who = "xmlutil " + first;
    if (IsHelpFlag(first) || first == "help") {
        if (args.size() > 1) {
            if (const Subcommand* subcommand = FindSubcommand(args[1])) {
                return PrintDone(who, SubcommandHelp(*subcommand));
            }
            UsageError("xmlutil: no subcommand '" + args[1] + "'", hint);
        }
        return PrintDone(who, Overview());
    }
    if (first == "--version") {
        return PrintDone(who, std::string("xmlutil ") + XMLUTIL_TOOL_VERSION + "\n");
    }
    if (const Subcommand* subcommand = FindSubcommand(first)) {
        return RunSubcommand(*subcommand, args);
    }
    if (!first.empty() && first[0] == '-')
        UsageError("xmlutil: unknown option '" + first + "'", hint);
    std::string message = "xmlutil: unknown subcommand '" + first + "'";
    if (const Subcommand* nearest = NearestSubcommand(first)) {
        message += "; did you mean '" + std::string(nearest->name) + "'?";
    }
    UsageError(message, hint);
}

int Guarded(const std::vector<std::string>& args) {
    const std::string who = args.empty() ? "xmlutil" : "xmlutil " + args[0];
    try {
        return Main(args);
    } catch (const Exit& exit) {
        std::fprintf(stderr, "%s\n", exit.message.c_str());
        return exit.status;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s: out of memory: %s\n", who.c_str(),
                     DescribeResult(E_OUTOFMEMORY).c_str());
    } catch (const _com_error& error) {
        std::fprintf(stderr, "%s: %s\n", who.c_str(), DescribeResult(error.Error()).c_str());
    } catch (const CAtlException& error) {
        std::fprintf(stderr, "%s: %s\n", who.c_str(), DescribeResult(error.m_hr).c_str());
    }
    return kExitFailure;
}

}  // namespace
}  // namespace xmlutil::tool

int main(int argc, char** argv) {
#ifdef M_MXFAST
    // Loading drops the indentation text nodes the parser made, freeing
    // hundreds of thousands of small blocks; with glibc's fast bins those are
    // merged in one pass at the next large request (a fifth of a query on a
    // 50 MB file). Without fast bins each block merges as it is freed, while
    // it is still in cache.
    mallopt(M_MXFAST, 0);
#endif
    const int status = xmlutil::tool::Guarded(std::vector<std::string>(argv + 1, argv + argc));
    // Every file is written and closed by now; what is left is memory, which
    // the system takes back faster than tearing the documents down would.
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}
