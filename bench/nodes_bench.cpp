// SPDX-License-Identifier: MIT
// Scale of the node members: the child list and child count at 100,000 and
// 1,000,000 children, the named child lookup of the last of 10,000 and of
// 100,000 children, and reading all attributes of 200,000 elements against a
// plain libxml2 walk of the same attributes into wide strings. The ratios are
// printed after the run, with the limit each must stay under.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/xmldom/engine/xml_ptr.h"
#include "xmlutil/XMLUtil.h"

namespace {

using xmlutil::xmldom::FromXml;
using xmlutil::xmldom::XmlCharPtr;
using xmlutil::xmldom::XmlDocPtr;
using NodeList = std::vector<CComPtr<IXMLDOMNode>>;

// UTF-8 to wide text, one code point per wchar_t (the baseline's own
// conversion; input here is always well-formed).
std::wstring Widen(const char* utf8) {
    std::wstring out;
    if (utf8 == nullptr) return out;
    for (const unsigned char* s = reinterpret_cast<const unsigned char*>(utf8); *s != 0;) {
        char32_t c = *s;
        int extra = 0;
        if (c >= 0xF0) {
            c &= 0x07;
            extra = 3;
        } else if (c >= 0xE0) {
            c &= 0x0F;
            extra = 2;
        } else if (c >= 0xC0) {
            c &= 0x1F;
            extra = 1;
        }
        ++s;
        for (; extra > 0 && *s != 0; --extra, ++s) c = (c << 6) | (*s & 0x3F);
        out.push_back(static_cast<wchar_t>(c));
    }
    return out;
}

// A document object loaded from UTF-8 markup, with its root element.
struct LoadedDocument {
    CXMLUtil util;
    CComPtr<IXMLDOMNode> root;

    explicit LoadedDocument(const std::string& utf8) {
        if (util.LoadXML(Widen(utf8.c_str()).c_str()) != S_OK || util.GetRootNode(root) != S_OK) {
            std::fprintf(stderr, "benchmark document did not load\n");
            std::abort();
        }
    }
};

// <r> with `count` children <c/>, the last one named <z/>.
const LoadedDocument& ChildrenDocument(long count) {
    static std::map<long, std::unique_ptr<LoadedDocument>> cache;
    std::unique_ptr<LoadedDocument>& slot = cache[count];
    if (!slot) {
        std::string xml = "<r>";
        for (long i = 1; i < count; ++i) xml += "<c/>";
        xml += "<z/></r>";
        slot = std::make_unique<LoadedDocument>(xml);
    }
    return *slot;
}

// The same <r> parsed by plain libxml2, for reference walks at each size.
const xmlDoc* PlainChildrenDocument(long count) {
    static std::map<long, XmlDocPtr> cache;
    XmlDocPtr& slot = cache[count];
    if (!slot) {
        std::string xml = "<r>";
        for (long i = 1; i < count; ++i) xml += "<c/>";
        xml += "<z/></r>";
        slot.reset(xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, "UTF-8",
                                 XML_PARSE_NONET));
    }
    return slot.get();
}

constexpr long kAttributeElements = 200000;
constexpr int kAttributesPerElement = 8;

std::string AttributesMarkup() {
    std::string xml = "<r>";
    for (long i = 0; i < kAttributeElements; ++i) {
        xml += "<e";
        for (int a = 0; a < kAttributesPerElement; ++a) {
            xml += " attr" + std::to_string(a) + "=\"v\xC3\xA9" + std::to_string(i) + "\"";
        }
        xml += "/>";
    }
    return xml + "</r>";
}

const std::string& AttributesXml() {
    static const std::string xml = AttributesMarkup();
    return xml;
}

void BM_GetChildNodes(benchmark::State& state) {
    const LoadedDocument& doc = ChildrenDocument(state.range(0));
    CXMLUtil util(doc.util);
    NodeList children;
    util.GetChildNodes(doc.root, children);  // warm-up
    for (auto _ : state) {
        util.GetChildNodes(doc.root, children);
        benchmark::DoNotOptimize(children.data());
    }
    if (static_cast<long>(children.size()) != state.range(0)) state.SkipWithError("wrong count");
}

void BM_GetChildNodeCount(benchmark::State& state) {
    const LoadedDocument& doc = ChildrenDocument(state.range(0));
    CXMLUtil util(doc.util);
    long count = 0;
    for (auto _ : state) {
        util.GetChildNodeCount(doc.root, count);
        benchmark::DoNotOptimize(count);
    }
    if (count != state.range(0)) state.SkipWithError("wrong count");
}

void BM_GetChildNodeLast(benchmark::State& state) {
    const LoadedDocument& doc = ChildrenDocument(state.range(0));
    CXMLUtil util(doc.util);
    CComPtr<IXMLDOMNode> found = util.GetChildNode(doc.root, L"z");  // warm-up
    for (auto _ : state) {
        found = util.GetChildNode(doc.root, L"z");
        benchmark::DoNotOptimize(found.p);
    }
    if (!found) state.SkipWithError("last child not found");
}

// Writes over a buffer twice the size of the last-level cache, so that the
// next walk starts from main memory whatever the size of the tree: 100,000
// children (about 14 MB of nodes) otherwise stay cache-resident between
// iterations while 1,000,000 cannot.
void EvictCaches() {
    static std::vector<char> buffer(64u << 20);
    for (std::size_t i = 0; i < buffer.size(); i += 64) ++buffer[i];
    benchmark::ClobberMemory();
}

void BM_GetChildNodeCountCold(benchmark::State& state) {
    const LoadedDocument& doc = ChildrenDocument(state.range(0));
    CXMLUtil util(doc.util);
    long count = 0;
    for (auto _ : state) {
        state.PauseTiming();
        EvictCaches();
        state.ResumeTiming();
        util.GetChildNodeCount(doc.root, count);
        benchmark::DoNotOptimize(count);
    }
    if (count != state.range(0)) state.SkipWithError("wrong count");
}

// Reference: counting the same children with a plain libxml2 walk.
void BM_Libxml2ChildCount(benchmark::State& state) {
    const xmlNode* root = xmlDocGetRootElement(PlainChildrenDocument(state.range(0)));
    long count = 0;
    for (auto _ : state) {
        count = 0;
        for (const xmlNode* child = root->children; child != nullptr; child = child->next) ++count;
        benchmark::DoNotOptimize(count);
    }
    if (count != state.range(0)) state.SkipWithError("wrong count");
}

// Reference: finding the last child by name with a plain libxml2 walk,
// converting each name to wide text as the lookup does.
void BM_Libxml2ChildByName(benchmark::State& state) {
    const xmlNode* root = xmlDocGetRootElement(PlainChildrenDocument(state.range(0)));
    const xmlNode* found = nullptr;
    for (auto _ : state) {
        found = nullptr;
        for (const xmlNode* child = root->children; child != nullptr; child = child->next) {
            if (Widen(FromXml(child->name)) == L"z") {
                found = child;
                break;
            }
        }
        benchmark::DoNotOptimize(found);
    }
    if (found == nullptr) state.SkipWithError("last child not found");
}

void BM_GetNodeAttrs(benchmark::State& state) {
    static const LoadedDocument doc(AttributesXml());
    CXMLUtil util(doc.util);
    NodeList elements;
    util.GetChildNodes(doc.root, elements);
    std::vector<std::wstring> names;
    std::vector<std::wstring> values;
    std::size_t read = 0;
    for (auto _ : state) {
        read = 0;
        for (const CComPtr<IXMLDOMNode>& element : elements) {
            util.GetNodeAttrs(element, names, values);
            read += values.size();
            benchmark::DoNotOptimize(values.data());
        }
    }
    if (read != static_cast<std::size_t>(kAttributeElements * kAttributesPerElement)) {
        state.SkipWithError("wrong attribute count");
    }
}

void BM_Libxml2AttributeWalk(benchmark::State& state) {
    static const XmlDocPtr doc(xmlReadMemory(AttributesXml().data(),
                                             static_cast<int>(AttributesXml().size()), nullptr,
                                             "UTF-8", XML_PARSE_NONET));
    const xmlNode* root = xmlDocGetRootElement(doc.get());
    std::vector<std::wstring> names;
    std::vector<std::wstring> values;
    std::size_t read = 0;
    for (auto _ : state) {
        read = 0;
        for (xmlNode* element = root->children; element != nullptr; element = element->next) {
            if (element->type != XML_ELEMENT_NODE) continue;
            names.clear();
            values.clear();
            for (xmlAttr* a = element->properties; a != nullptr; a = a->next) {
                names.push_back(Widen(FromXml(a->name)));
                const XmlCharPtr value(xmlNodeGetContent(reinterpret_cast<xmlNode*>(a)));
                values.push_back(Widen(FromXml(value.get())));
            }
            read += values.size();
            benchmark::DoNotOptimize(values.data());
        }
    }
    if (read != static_cast<std::size_t>(kAttributeElements * kAttributesPerElement)) {
        state.SkipWithError("wrong attribute count");
    }
}

BENCHMARK(BM_GetChildNodes)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetChildNodeCount)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GetChildNodeCountCold)
    ->Arg(100000)
    ->Arg(1000000)
    ->Iterations(100)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GetChildNodeLast)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Libxml2ChildCount)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Libxml2ChildByName)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GetNodeAttrs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Libxml2AttributeWalk)->Unit(benchmark::kMillisecond);

// Prints as the console does and keeps each run's CPU and wall time per
// iteration. Ratios use CPU time: on a shared machine the wall time also
// counts the time spent waiting for a core.
class RecordingReporter : public benchmark::ConsoleReporter {
  public:
    struct Times {
        double cpu;
        double real;
    };
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                const double n = static_cast<double>(run.iterations);
                times[run.benchmark_name()] = {run.cpu_accumulated_time / n,
                                               run.real_accumulated_time / n};
            }
        }
    }
    std::map<std::string, Times> times;
};

// Prints one CPU-time ratio (wall-time ratio beside it) with its limit, if
// any; false when it is over the limit or was not measured.
bool ReportRatio(const RecordingReporter& reporter, const char* what, const std::string& slow,
                 const std::string& fast, double limit) {
    const auto s = reporter.times.find(slow);
    const auto f = reporter.times.find(fast);
    if (s == reporter.times.end() || f == reporter.times.end() || f->second.cpu <= 0 ||
        f->second.real <= 0) {
        std::printf("%-60s   not measured\n", what);
        return false;
    }
    const double ratio = s->second.cpu / f->second.cpu;
    const double wall = s->second.real / f->second.real;
    if (limit <= 0) {
        std::printf("%-60s %6.2fx (wall %.2fx) reference\n", what, ratio, wall);
        return true;
    }
    std::printf("%-60s %6.2fx (wall %.2fx) limit %.0fx %s\n", what, ratio, wall, limit,
                ratio <= limit ? "ok" : "OVER");
    return ratio <= limit;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("\n");
    bool ok = true;
    ok &= ReportRatio(reporter, "GetChildNodes, 1,000,000 vs 100,000 children",
                      "BM_GetChildNodes/1000000", "BM_GetChildNodes/100000", 12);
    ok &= ReportRatio(reporter, "GetChildNodeCount, 1,000,000 vs 100,000 children",
                      "BM_GetChildNodeCount/1000000", "BM_GetChildNodeCount/100000", 12);
    ok &= ReportRatio(reporter, "GetChildNode, last of 100,000 vs last of 10,000",
                      "BM_GetChildNodeLast/100000", "BM_GetChildNodeLast/10000", 12);
    ok &= ReportRatio(reporter, "GetNodeAttrs vs libxml2 walk, 200,000 x 8 attributes",
                      "BM_GetNodeAttrs", "BM_Libxml2AttributeWalk", 4);
    ReportRatio(reporter, "  GetChildNodeCount from main memory, 1,000,000 vs 100,000",
                "BM_GetChildNodeCountCold/1000000/iterations:100",
                "BM_GetChildNodeCountCold/100000/iterations:100", 0);
    ReportRatio(reporter, "  plain libxml2 child count, 1,000,000 vs 100,000",
                "BM_Libxml2ChildCount/1000000", "BM_Libxml2ChildCount/100000", 0);
    ReportRatio(reporter, "  plain libxml2 name scan, last of 100,000 vs 10,000",
                "BM_Libxml2ChildByName/100000", "BM_Libxml2ChildByName/10000", 0);
    return ok ? 0 : 1;
}
