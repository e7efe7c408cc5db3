// SPDX-License-Identifier: MIT
// Scaling checks, in one process: each job runs at a base size and at ten
// times that size, and 10x the items may cost at most 12x the time (the best
// of five runs at each size, so the ratio holds however loaded the machine).
//  - menu_load: LoadMenuXml of a menu file of 2,000 and 20,000 entries;
//  - nodes_count: GetNodesCount("//Item") over 8,000 and 80,000 matches;
//  - deep_build: a chain of 3,000 and 30,000 nested elements appended with
//    AppendChildNode, each under the one made before;
//  - deep_query: GetNodes("//e") over those chains.
// Prints one line per job and exits 1 when any ratio is over the limit.
// `--job=NAME` runs one job only, `--size=N` once at N items.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "xmlutil/XMLUtil.h"

namespace {

constexpr double kLimit = 12.0;
constexpr int kRuns = 5;

// Writes more memory than any processor cache holds, so that every timed
// run starts from main memory: a small input that the setup left in the
// cache would otherwise make the large one look slower per item than it is.
void EvictCaches() {
    constexpr size_t kBytes = 256u << 20;
    static std::vector<char> sweep(kBytes);
    for (size_t i = 0; i < kBytes; i += 64) sweep[i] = static_cast<char>(sweep[i] + 1);
}

// Not inlined, so that callgrind can count the timed part alone:
// valgrind --tool=callgrind --toggle-collect='*Seconds*' scaling_bench --job=J --size=N
__attribute__((noinline)) double Seconds(const std::function<void()>& job) {
    EvictCaches();
    const auto start = std::chrono::steady_clock::now();
    job();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::wstring MenuXml(int entries) {
    std::wstring xml = L"<Root><Menu>";
    for (int i = 0; i < entries; ++i) {
        xml += L"<Item id=\"" + std::to_wstring(i) + L"\" name=\"n\"><Label>x</Label></Item>";
    }
    return xml + L"</Menu></Root>";
}

// A document whose root is <Root/>, and that root.
struct Target {
    CXMLUtil util;
    CComPtr<IXMLDOMNode> root;
    explicit Target(const wchar_t* xml) : util(VARIANT_FALSE) {
        if (util.LoadXML(xml) != S_OK || util.GetRootNode(root) != S_OK) std::abort();
    }
};

std::string TempFolder() {
    char folder[] = "/tmp/xmlutil_scaling_bench_XXXXXX";
    if (::mkdtemp(folder) == nullptr) std::abort();
    return folder;
}

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

// Writes a menu file of `entries` entries and answers its path.
std::wstring WriteMenu(const std::string& folder, int entries) {
    CXMLUtil menu(VARIANT_FALSE);
    const std::wstring path = Wide(folder + "/menu" + std::to_string(entries) + ".xml");
    if (menu.LoadXML(MenuXml(entries).c_str()) != S_OK || menu.Save(path) != S_OK) std::abort();
    return path;
}

// Builds a chain of `depth` nested <e> elements under the root of `target`.
void BuildChain(Target& target, int depth) {
    CComPtr<IXMLDOMNode> parent = target.root;
    for (int level = 0; level < depth; ++level) {
        CComPtr<IXMLDOMNode> child = target.util.AppendChildNode(parent, L"e", L"");
        if (!child) std::abort();
        parent = child;
    }
}

// One timed run of each job at `size` items, its setup untimed.
double MenuLoad(const std::string& folder, int size) {
    const std::wstring path = WriteMenu(folder, size);
    Target target(L"<Root/>");
    return Seconds([&] { LoadMenuXml(target.root, path.c_str()); });
}

double NodesCount(int size) {
    CXMLUtil document(VARIANT_FALSE);
    if (document.LoadXML(MenuXml(size).c_str()) != S_OK) std::abort();
    long count = 0;
    const double seconds = Seconds([&] { document.GetNodesCount(L"//Item", count); });
    if (count != size) std::abort();
    return seconds;
}

double DeepBuild(int size) {
    Target target(L"<Root/>");
    return Seconds([&] { BuildChain(target, size); });
}

double DeepQuery(int size) {
    Target target(L"<Root/>");
    BuildChain(target, size);
    std::vector<CComPtr<IXMLDOMNode>> nodes;
    const double seconds = Seconds([&] { target.util.GetNodes(L"//e", nodes); });
    if (nodes.size() != static_cast<size_t>(size)) std::abort();
    return seconds;
}

struct Job {
    const char* name;
    int baseSize;
    std::function<double(int)> run;
};

double Best(const Job& job, int size) {
    double best = 1e300;
    for (int run = 0; run < kRuns; ++run) best = std::min(best, job.run(size));
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    std::string only;
    int onlySize = 0;  // with --size=N: one run of the job(s) at N items
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--job=", 0) == 0) only = arg.substr(6);
        if (arg.rfind("--size=", 0) == 0) onlySize = std::atoi(arg.c_str() + 7);
    }
    const std::string folder = TempFolder();
    const std::vector<Job> jobs = {
        {"menu_load", 2000, [&](int size) { return MenuLoad(folder, size); }},
        {"nodes_count", 8000, NodesCount},
        {"deep_build", 3000, DeepBuild},
        {"deep_query", 3000, DeepQuery},
    };
    bool allWithin = true;
    for (const Job& job : jobs) {
        if (!only.empty() && only != job.name) continue;
        if (onlySize > 0) {
            std::printf("%-12s %7d items: %.4f s\n", job.name, onlySize, job.run(onlySize));
            continue;
        }
        const double small = Best(job, job.baseSize);
        const double large = Best(job, job.baseSize * 10);
        const double ratio = large / small;
        const bool within = ratio <= kLimit;
        allWithin = allWithin && within;
        std::printf("%-12s %7d -> %7d items: %.4f s -> %.4f s, %.1fx (limit %.0fx) %s\n", job.name,
                    job.baseSize, job.baseSize * 10, small, large, ratio, kLimit,
                    within ? "ok" : "OVER");
    }
    std::system(("rm -rf " + folder).c_str());
    return allWithin ? 0 : 1;
}
