// SPDX-License-Identifier: MIT
// Cost of the document core against plain libxml2, in one run:
//  - CXMLUtil::Load of a ~50 MB indented menu file against xmlReadFile with the
//    same parser options followed by the same whitespace-removal walk (limit 1.15x),
//    and for information against the same with XML_PARSE_NOBLANKS;
//  - CXMLUtil::GetNodes over 500,000 matches against libxml2 evaluating the same
//    expression and walking its node-set (limit 2x).
// The ratios are printed after the run.
#include <benchmark/benchmark.h>
#include <libxml/xpath.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "platform/xmldom/engine/xml_ptr.h"
#include "xmlutil/XMLUtil.h"

namespace {

using xmlutil::xmldom::ToXml;
using xmlutil::xmldom::XmlDocPtr;
using xmlutil::xmldom::XmlXPathContextPtr;
using xmlutil::xmldom::XmlXPathObjectPtr;

constexpr int kMenus = 5000;
constexpr int kItemsPerMenu = 100;  // 500,000 Item elements in all
const char* const kItemPath = "/Root/Menu/Item";

// The menu file, written once to a temporary folder and removed at exit.
class MenuFile {
  public:
    MenuFile() {
        char folder[] = "/tmp/xmlutil_core_bench_XXXXXX";
        if (::mkdtemp(folder) == nullptr) std::abort();
        folder_ = folder;
        path_ = folder_ + "/menu.xml";
        std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Root>\n";
        char line[256];
        for (int m = 0; m < kMenus; ++m) {
            std::snprintf(line, sizeof line, "  <Menu id=\"m%d\" caption=\"Menu number %d\">\n", m,
                          m);
            xml += line;
            for (int i = 0; i < kItemsPerMenu; ++i) {
                const int n = m * kItemsPerMenu + i;
                std::snprintf(line, sizeof line,
                              "    <Item id=\"i%d\" caption=\"Entry %d\" shortcut=\"Ctrl+%c\" "
                              "enabled=\"1\">Command %d</Item>\n",
                              n, n, 'A' + i % 26, n);
                xml += line;
            }
            xml += "  </Menu>\n";
        }
        xml += "</Root>\n";
        std::FILE* out = std::fopen(path_.c_str(), "wb");
        if (out == nullptr || std::fwrite(xml.data(), 1, xml.size(), out) != xml.size())
            std::abort();
        std::fclose(out);
        size_ = xml.size();
    }
    ~MenuFile() {
        std::remove(path_.c_str());
        ::rmdir(folder_.c_str());
    }
    const std::string& path() const { return path_; }
    std::wstring widePath() const { return std::wstring(path_.begin(), path_.end()); }
    size_t size() const { return size_; }

  private:
    std::string folder_;
    std::string path_;
    size_t size_ = 0;
};

const MenuFile& Menu() {
    static const MenuFile file;
    return file;
}

// ---- the libxml2 baseline ------------------------------------------------------

bool PreservesSpace(xmlNode* element, bool inherited) {
    xmlChar* value = xmlGetNsProp(element, ToXml("space"), XML_XML_NAMESPACE);
    if (value == nullptr) return inherited;
    const bool preserve = xmlStrEqual(value, ToXml("preserve")) != 0;
    const bool reset = xmlStrEqual(value, ToXml("default")) != 0;
    xmlFree(value);
    return preserve ? true : reset ? false : inherited;
}

// The whitespace treatment Load applies: whitespace-only text nodes that have
// a sibling are removed unless xml:space="preserve" applies.
void RemoveIndentation(xmlDoc* doc) {
    xmlNode* const top = reinterpret_cast<xmlNode*>(doc);
    std::vector<bool> preserve{false};
    xmlNode* cur = doc->children;
    while (cur != nullptr) {
        if (cur->type == XML_ELEMENT_NODE && cur->children != nullptr) {
            preserve.push_back(PreservesSpace(cur, preserve.back()));
            cur = cur->children;
            continue;
        }
        xmlNode* next = cur->next;
        xmlNode* parent = cur->parent;
        if (!preserve.back() && cur->type == XML_TEXT_NODE && xmlIsBlankNode(cur) &&
            (cur->prev != nullptr || cur->next != nullptr)) {
            xmlUnlinkNode(cur);
            xmlFreeNode(cur);
        }
        while (next == nullptr && parent != top) {
            preserve.pop_back();
            next = parent->next;
            parent = parent->parent;
        }
        cur = next;
    }
}

// `extra` adds parser options: XML_PARSE_NOBLANKS makes libxml2 skip most
// indentation while parsing, the least work libxml2 can do for this job (the
// walk then removes what its heuristic keeps).
XmlDocPtr Libxml2Load(int extra = 0) {
    XmlDocPtr doc(
        xmlReadFile(Menu().path().c_str(), nullptr, XML_PARSE_NOENT | XML_PARSE_NONET | extra));
    if (doc == nullptr) std::abort();
    RemoveIndentation(doc.get());
    return doc;
}

// ---- benchmarks ----------------------------------------------------------------

void BM_Load_CXMLUtil(benchmark::State& state) {
    const std::wstring path = Menu().widePath();
    for (auto _ : state) {
        CXMLUtil util;
        if (util.Load(path) != S_OK) state.SkipWithError("Load failed");
        benchmark::DoNotOptimize(util);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(Menu().size()));
}

void BM_Load_libxml2(benchmark::State& state) {
    for (auto _ : state) {
        XmlDocPtr doc = Libxml2Load();
        benchmark::DoNotOptimize(doc.get());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(Menu().size()));
}

void BM_Load_libxml2_noblanks(benchmark::State& state) {
    for (auto _ : state) {
        XmlDocPtr doc = Libxml2Load(XML_PARSE_NOBLANKS);
        benchmark::DoNotOptimize(doc.get());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(Menu().size()));
}

void BM_GetNodes_CXMLUtil(benchmark::State& state) {
    static CXMLUtil util;
    static const bool loaded = util.Load(Menu().widePath()) == S_OK;
    if (!loaded) state.SkipWithError("Load failed");
    const std::wstring path(kItemPath, kItemPath + std::char_traits<char>::length(kItemPath));
    for (auto _ : state) {
        std::vector<CComPtr<IXMLDOMNode>> nodes;
        if (util.GetNodes(path, nodes) != S_OK || nodes.size() != kMenus * kItemsPerMenu) {
            state.SkipWithError("GetNodes did not find every item");
        }
        benchmark::DoNotOptimize(nodes.data());
    }
    state.SetItemsProcessed(state.iterations() * kMenus * kItemsPerMenu);
}

void BM_GetNodes_libxml2(benchmark::State& state) {
    static const XmlDocPtr doc = Libxml2Load();
    for (auto _ : state) {
        XmlXPathContextPtr context(xmlXPathNewContext(doc.get()));
        XmlXPathObjectPtr result(xmlXPathEvalExpression(ToXml(kItemPath), context.get()));
        const xmlNodeSet* set = result ? result->nodesetval : nullptr;
        if (set == nullptr || set->nodeNr != kMenus * kItemsPerMenu) {
            state.SkipWithError("XPath did not find every item");
            continue;
        }
        // Touch each node, as a caller holding the handles would.
        size_t elements = 0;
        for (int i = 0; i < set->nodeNr; ++i) elements += set->nodeTab[i]->type == XML_ELEMENT_NODE;
        benchmark::DoNotOptimize(elements);
    }
    state.SetItemsProcessed(state.iterations() * kMenus * kItemsPerMenu);
}

BENCHMARK(BM_Load_CXMLUtil)->Unit(benchmark::kMillisecond)->Iterations(6);
BENCHMARK(BM_Load_libxml2)->Unit(benchmark::kMillisecond)->Iterations(6);
BENCHMARK(BM_Load_libxml2_noblanks)->Unit(benchmark::kMillisecond)->Iterations(6);
BENCHMARK(BM_GetNodes_CXMLUtil)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_GetNodes_libxml2)->Unit(benchmark::kMillisecond)->Iterations(10);

// Prints as the console does and keeps each benchmark's real and CPU time
// per iteration, by function name.
class RecordingReporter : public benchmark::ConsoleReporter {
  public:
    struct Times {
        double real = 0;
        double cpu = 0;
    };
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred && run.iterations > 0) {
                const double n = static_cast<double>(run.iterations);
                times[run.run_name.function_name] = {run.real_accumulated_time / n,
                                                     run.cpu_accumulated_time / n};
            }
        }
    }
    std::map<std::string, Times> times;
};

// Prints both ratios; the verdict uses CPU time, which other work on a shared
// machine disturbs less than wall-clock time.
bool ReportRatio(const RecordingReporter& reporter, const char* what, const std::string& ours,
                 const std::string& base, double limit) {
    const auto o = reporter.times.find(ours);
    const auto b = reporter.times.find(base);
    if (o == reporter.times.end() || b == reporter.times.end() || b->second.cpu <= 0 ||
        b->second.real <= 0) {
        std::printf("%-44s missing (run both %s and %s)\n", what, ours.c_str(), base.c_str());
        return false;
    }
    const double cpuRatio = o->second.cpu / b->second.cpu;
    const double realRatio = o->second.real / b->second.real;
    std::printf(
        "%-44s cpu %7.1f / %7.1f ms = %5.2fx, real %7.1f / %7.1f ms = %5.2fx (limit %.2fx) %s\n",
        what, o->second.cpu * 1e3, b->second.cpu * 1e3, cpuRatio, o->second.real * 1e3,
        b->second.real * 1e3, realRatio, limit, cpuRatio <= limit ? "ok" : "OVER");
    return cpuRatio <= limit;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    std::printf("menu file: %.1f MB, %d items\n", static_cast<double>(Menu().size()) / 1e6,
                kMenus * kItemsPerMenu);
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("\n");
    bool ok = ReportRatio(reporter, "Load 50 MB vs xmlReadFile + walk", "BM_Load_CXMLUtil",
                          "BM_Load_libxml2", 1.15);
    // For information: against libxml2 skipping indentation while parsing.
    ReportRatio(reporter, "Load 50 MB vs xmlReadFile NOBLANKS + walk", "BM_Load_CXMLUtil",
                "BM_Load_libxml2_noblanks", 1.15);
    ok = ReportRatio(reporter, "GetNodes 500,000 vs XPath + node-set walk", "BM_GetNodes_CXMLUtil",
                     "BM_GetNodes_libxml2", 2.0) &&
         ok;
    return ok ? 0 : 2;
}
