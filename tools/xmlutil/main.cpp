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
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "commands.h"
#include "results.h"
#include "session.h"

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
    "FILE - reads standard input. Editing subcommands write FILE back in place, or\n"
    "to OUT when -o OUT (or --output OUT) appears anywhere among their arguments;\n"
    "-o - and an edit of - write to standard output. Options go anywhere; `--` ends\n"
    "them, so a TEXT that starts with a dash can follow it. A failing edit leaves\n"
    "the file as it was.\n"
    "\n"
    "Options (where the subcommand takes them):\n"
    "  -q, --quiet           no message when XPATH selects no node (status 1 stays)\n"
    "  -N PREFIX=URI         bind PREFIX for XPATH (repeatable); the document's own\n"
    "                        prefixes work without it, and _ is the document\n"
    "                        element's default namespace\n"
    "  --all                 every match, not only the first (edits report on stderr\n"
    "                        how many nodes changed)\n"
    "  -0, --null            end each record with NUL instead of a newline\n"
    "  --indent N, --compact the layout of `format`\n"
    "Queries take several FILEs; each record is then preceded by FILE and a colon.\n"
    "\n"
    "Exit status: 0 done; 1 XPATH selects no node; 2 a file cannot be loaded or\n"
    "saved, an operation fails, or the output cannot be written (one line on\n"
    "standard error); 64 usage error.\n";

bool TakesOutput(const Subcommand& subcommand) {
    return subcommand.edits || (subcommand.options & kTakesOutput) != 0;
}

std::string SubcommandUsage(const Subcommand& subcommand) {
    std::string usage = std::string("xmlutil ") + subcommand.name;
    if (subcommand.maxOperands > 0) usage += " [-q]";
    if (subcommand.options & kTakesAll) usage += " [--all]";
    if (subcommand.options & kTakesNull) usage += " [-0]";
    if (subcommand.options & kTakesNamespaces) usage += " [-N PREFIX=URI]...";
    if (subcommand.options & kTakesLayout) usage += " [--indent N | --compact]";
    if (*subcommand.operands != '\0') usage += std::string(" ") + subcommand.operands;
    if (TakesOutput(subcommand)) usage += " [-o OUT]";
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
            "arguments); -o - and FILE - write to standard output. A failing edit leaves\n"
            "the file as it was.\n";
    }
    if (subcommand.options & kTakesFiles) {
        text += "\nWith several FILEs each record is preceded by FILE and a colon.\n";
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

// A -N value: PREFIX=URI with a prefix that is a name without a colon.
bool IsNamespaceBinding(const std::string& value) {
    const size_t equals = value.find('=');
    return equals != std::string::npos && equals > 0 && value.find(':') > equals &&
           value.find_first_of(" \t\n") > equals;
}

std::optional<int> IndentWidth(const std::string& value) {
    if (value.empty() || value.size() > 2 ||
        value.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    return std::stoi(value);
}

// Reads the option at args[i] (and its value) into `invocation`; false when
// args[i] is no option this subcommand takes, so it is an operand (text such
// as "-5" passes as it is).
bool TakeOption(const Subcommand& subcommand, const std::vector<std::string>& args, size_t& i,
                Invocation& invocation) {
    const std::string who = std::string("xmlutil ") + subcommand.name;
    const std::string hint = "Try '" + who + " --help'.";
    const std::string& arg = args[i];
    // The value of an option spelt "-X VALUE", "-XVALUE" or "--long=VALUE".
    const auto valueOf = [&](const char* shortName, const char* longName,
                             std::optional<std::string>& value) {
        const std::string longJoined = std::string(longName) + "=";
        if (arg == shortName || arg == longName) {
            if (i + 1 == args.size()) UsageError(who + ": " + arg + " needs a value", hint);
            value = args[++i];
        } else if (*shortName != '\0' && arg.size() > 2 && arg.rfind(shortName, 0) == 0 &&
                   std::string_view(shortName).size() == 2) {
            value = arg.substr(2);
        } else if (arg.rfind(longJoined, 0) == 0) {
            value = arg.substr(longJoined.size());
        } else {
            return false;
        }
        return true;
    };
    const unsigned takes = subcommand.options;
    std::optional<std::string> value;
    if (arg == "-q" || arg == "--quiet") {
        invocation.quiet = true;
    } else if ((takes & kTakesAll) && arg == "--all") {
        invocation.all = true;
    } else if ((takes & kTakesNull) && (arg == "-0" || arg == "--null")) {
        invocation.null = true;
    } else if ((takes & kTakesLayout) && arg == "--compact") {
        invocation.compact = true;
    } else if ((takes & kTakesLayout) && valueOf("", "--indent", value)) {
        invocation.indent = IndentWidth(*value);
        if (!invocation.indent) UsageError(who + ": --indent needs a number from 0 to 99", hint);
    } else if ((takes & kTakesNamespaces) && valueOf("-N", "--namespace", value)) {
        if (!IsNamespaceBinding(*value)) {
            UsageError(
                who + ": -N needs PREFIX=URI (a prefix without a colon), not '" + *value + "'",
                hint);
        }
        invocation.namespaces.push_back(*value);
    } else if (TakesOutput(subcommand) && valueOf("-o", "--output", value)) {
        if (invocation.output) UsageError(who + ": -o given more than once", hint);
        if (value->empty()) UsageError(who + ": -o needs a file", hint);
        invocation.output = *value;
    } else {
        return false;
    }
    return true;
}

bool LooksLikeOption(const std::string& arg) {
    return arg.size() > 1 && arg[0] == '-';
}

// Whether an operand may be free text ("-5" as a TEXT or VALUE is no option).
bool TakesText(const Subcommand& subcommand) {
    const std::string_view operands = subcommand.operands;
    return operands.find("TEXT") != operands.npos || operands.find("VALUE") != operands.npos;
}

// Splits the arguments after the subcommand name into options and operands.
Invocation ParseArguments(const Subcommand& subcommand, const std::vector<std::string>& args) {
    Invocation invocation;
    invocation.subcommand = subcommand.name;
    const std::string who = std::string("xmlutil ") + subcommand.name;
    const std::string hint = "Try '" + who + " --help'.";
    bool optionsEnded = false;
    for (size_t i = 1; i < args.size(); ++i) {
        if (!optionsEnded && args[i] == "--") {
            optionsEnded = true;
        } else if (optionsEnded || !TakeOption(subcommand, args, i, invocation)) {
            if (!optionsEnded && LooksLikeOption(args[i]) && !TakesText(subcommand)) {
                UsageError(who + ": unknown option '" + args[i] + "'", hint);
            }
            invocation.operands.push_back(args[i]);
        }
    }
    if (invocation.compact && invocation.indent) {
        UsageError(who + ": --indent and --compact exclude each other", hint);
    }
    const size_t count = invocation.operands.size();
    const bool severalFiles = (subcommand.options & kTakesFiles) != 0;
    if (count < subcommand.minOperands || (!severalFiles && count > subcommand.maxOperands)) {
        UsageError(
            who + ": " +
                (count < subcommand.minOperands ? "missing arguments" : "too many arguments") +
                "\nUsage: " + SubcommandUsage(subcommand),
            hint);
    }
    return invocation;
}

// The FILEs of a subcommand that takes several: every operand but the last
// ones, which belong to each run (XPATH, NAME).
std::vector<std::string> FilesOf(const Subcommand& subcommand, const Invocation& invocation) {
    const std::vector<std::string>& operands = invocation.operands;
    if (!(subcommand.options & kTakesFiles) || operands.empty()) return {};
    const size_t trailing = std::min(subcommand.maxOperands - 1, operands.size() - 1);
    return std::vector<std::string>(operands.begin(), operands.end() - trailing);
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

// The outcome of the runs on several files, as grep tells it: 2 when one
// failed, else 0 when one matched, else 1.
class Outcome {
  public:
    void Matched() { matched_ = true; }
    void Failed() { failed_ = true; }
    int Status() const {
        if (failed_) return kExitFailure;
        return matched_ ? kExitDone : kExitNoMatch;
    }

  private:
    bool matched_ = false;
    bool failed_ = false;
};

// Runs the subcommand on one file: its records on standard output, its
// message (unless -q silences a no-match) on standard error.
void RunOnFile(const Subcommand& subcommand, const Invocation& invocation,
               const std::string& prefix, Outcome& outcome) {
    Output out(prefix, invocation.null ? '\0' : '\n');
    try {
        subcommand.run(invocation, out);
        outcome.Matched();
    } catch (const Exit& exit) {
        if (exit.status == kExitNoMatch) {
            Print(stdout, out.Text());  // `count` prints its 0
            if (!invocation.quiet) Print(stderr, exit.message + "\n");
            return;
        }
        if (exit.status != kExitFailure) throw;
        outcome.Failed();
        Print(stderr, exit.message + "\n");
        return;
    }
    Print(stdout, out.Text());
}

int RunSubcommand(const Subcommand& subcommand, const std::vector<std::string>& args) {
    for (size_t i = 1; i < args.size() && args[i] != "--"; ++i) {
        if (IsHelpFlag(args[i])) {
            return PrintDone(std::string("xmlutil ") + subcommand.name, SubcommandHelp(subcommand));
        }
    }
    const Invocation invocation = ParseArguments(subcommand, args);
    Outcome outcome;
    const std::vector<std::string> files = FilesOf(subcommand, invocation);
    if (files.size() <= 1) {
        RunOnFile(subcommand, invocation, "", outcome);
    } else {
        const std::vector<std::string> rest(invocation.operands.begin() + files.size(),
                                            invocation.operands.end());
        for (const std::string& file : files) {
            Invocation one = invocation;
            one.operands = {file};
            one.operands.insert(one.operands.end(), rest.begin(), rest.end());
            RunOnFile(subcommand, one, ShownName(file) + (invocation.null ? '\0' : ':'), outcome);
        }
    }
    FlushOutput("xmlutil " + invocation.subcommand);
    return outcome.Status();
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
