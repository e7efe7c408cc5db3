// SPDX-License-Identifier: MIT
// The benchmark suite's jobs for xmlutil (CXMLUtil members) and for plain
// libxml2 doing the same work with the same parser options and the same
// whitespace pass. Inputs come from bench/corpus/generate.py.
//
// Two ways to run it:
//  - suite_bench --job=NAME --engine=xmlutil|libxml2|libxml2-plain --corpus=DIR [--out=DIR]
//      [--lookups=N] [--size=full|small]
//    runs one job once in this process and prints one JSON line: the timed
//    seconds, a check figure that every engine doing the job must agree on,
//    and the process's peak memory (VmHWM) with its resident size before the
//    job (bench/run_suite.py runs every engine this way, interleaved).
//  - XMLUTIL_BENCH_CORPUS=DIR suite_bench [benchmark flags]
//    the same jobs as Google Benchmark cases, xmlutil beside libxml2.
#include <benchmark/benchmark.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/xmldom/engine/xml_ptr.h"
#include "wide_number.h"
#include "xmlutil/XMLUtil.h"

namespace {

using xmlutil::xmldom::FromXml;
using xmlutil::xmldom::ToXml;
using xmlutil::xmldom::XmlCharPtr;
using xmlutil::xmldom::XmlDocPtr;
using xmlutil::xmldom::XmlXPathContextPtr;
using xmlutil::xmldom::XmlXPathObjectPtr;
using Clock = std::chrono::steady_clock;
using NodeList = std::vector<CComPtr<IXMLDOMNode>>;

constexpr int kBuildElements = 1'000'000;
constexpr int kDefaultLookups = 1'000;

struct Options {
    std::string corpus;
    std::string out = "/tmp";
    int lookups = kDefaultLookups;
    bool small = false;  // the tenth-size input, for the scaling checks

    std::string Input(const char* name) const {
        std::string file = corpus + "/" + name;
        if (small) file.insert(file.size() - 4, "_small");
        return file;
    }
};

struct Outcome {
    double seconds = 0;  // processor time (user + system) of this process
    double wall = 0;
    long long check = 0;  // what every engine doing the job must agree on
    long peakKb = 0;      // VmHWM at the end of the timed part
};

long StatusKb(const char* field);

double ProcessorSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Times `body` and keeps what it returns as the check figure. Processor time
// is what the suite compares: on a shared machine it varies far less than
// elapsed time, which is reported beside it.
template <class F>
Outcome Timed(F&& body) {
    const Clock::time_point start = Clock::now();
    const double processorStart = ProcessorSeconds();
    const long long check = body();
    Outcome outcome;
    outcome.seconds = ProcessorSeconds() - processorStart;
    outcome.wall = std::chrono::duration<double>(Clock::now() - start).count();
    outcome.check = check;
    // Read before the check figure is worked out, which may need memory of
    // its own (an XPath node set) that the job did not.
    outcome.peakKb = StatusKb("VmHWM");
    return outcome;
}

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "suite_bench: %s\n", what.c_str());
    std::exit(2);
}

std::wstring Wide(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

// UTF-8 to wide text, one code point per wchar_t, as the library hands text out.
std::wstring Widen(const xmlChar* utf8) {
    std::wstring out;
    if (utf8 == nullptr) return out;
    for (const xmlChar* s = utf8; *s != 0;) {
        char32_t c = *s;
        int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        c &= extra == 3 ? 0x07 : extra == 2 ? 0x0F : extra == 1 ? 0x1F : 0x7F;
        ++s;
        for (; extra > 0 && *s != 0; --extra, ++s) c = (c << 6) | (*s & 0x3F);
        out.push_back(static_cast<wchar_t>(c));
    }
    return out;
}

// The ids looked up: `count` of the menu's items, spread evenly through it.
std::vector<std::string> LookupIds(const Options& options, long items) {
    std::vector<std::string> ids;
    const int count = options.lookups;
    for (int i = 0; i < count; ++i) {
        const long n = static_cast<long>((static_cast<double>(i) + 0.5) * items / count);
        ids.push_back("K" + std::to_string(n));
    }
    return ids;
}

long ItemsIn(const Options& options, const char* file) {
    const std::string manifest = options.corpus + "/manifest.json";
    std::ifstream in(manifest);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t at = text.find(std::string("\"") + file + "\"");
    const size_t items = text.find("\"items\":", at);
    if (at == std::string::npos || items == std::string::npos) Fail("no " + std::string(file));
    return std::strtol(text.c_str() + items + 8, nullptr, 10);
}

// ---- xmlutil -----------------------------------------------------------------

void LoadOrFail(CXMLUtil& util, const std::string& path) {
    if (util.Load(Wide(path)) != S_OK) Fail("xmlutil could not load " + path);
}

CComPtr<IXMLDOMNode> RootOf(CXMLUtil& util) {
    CComPtr<IXMLDOMNode> root;
    if (util.GetRootNode(root) != S_OK) Fail("no root element");
    return root;
}

long long CountOf(CXMLUtil& util, const wchar_t* path) {
    long count = 0;
    util.GetNodesCount(path, count);
    return count;
}

Outcome XmlutilLoad(const Options& o) {
    CXMLUtil util;
    Outcome outcome = Timed([&] {
        LoadOrFail(util, o.Input("menu.xml"));
        return 0;
    });
    outcome.check = CountOf(util, L"/Root/Menu/Item");
    return outcome;
}

Outcome XmlutilSelectAll(const Options& o) {
    CXMLUtil util;
    LoadOrFail(util, o.Input("menu.xml"));
    return Timed([&] {
        NodeList items;
        util.GetNodes(L"//Item", items);
        long long chars = 0;
        std::wstring id;
        for (const CComPtr<IXMLDOMNode>& item : items) {
            if (util.GetNodeAttr(item, L"id", id) == S_OK)
                chars += static_cast<long long>(id.size());
        }
        return chars;
    });
}

Outcome XmlutilLookup(const Options& o) {
    CXMLUtil util;
    LoadOrFail(util, o.Input("menu.xml"));
    std::vector<std::wstring> queries;
    for (const std::string& id : LookupIds(o, ItemsIn(o, "menu.xml"))) {
        queries.push_back(L"/Root/Menu/Item[@id='" + Wide(id) + L"']");
    }
    return Timed([&] {
        long long found = 0;
        for (const std::wstring& query : queries) {
            CComPtr<IXMLDOMNode> item;
            found += util.GetSingleNode(query, item) == S_OK && item != nullptr;
        }
        return found;
    });
}

Outcome XmlutilChildren(const Options& o) {
    CXMLUtil util;
    LoadOrFail(util, o.Input("children.xml"));
    CComPtr<IXMLDOMNode> root = RootOf(util);
    return Timed([&] {
        NodeList children;
        util.GetChildNodes(root, children);
        return static_cast<long long>(children.size());
    });
}

Outcome XmlutilAttributes(const Options& o) {
    CXMLUtil util;
    LoadOrFail(util, o.Input("attributes.xml"));
    CComPtr<IXMLDOMNode> root = RootOf(util);
    return Timed([&] {
        NodeList elements;
        util.GetChildNodes(root, elements);
        std::vector<std::wstring> names;
        std::vector<std::wstring> values;
        long long chars = 0;
        for (const CComPtr<IXMLDOMNode>& element : elements) {
            util.GetNodeAttrs(element, names, values);
            for (size_t i = 0; i < names.size(); ++i) {
                chars += static_cast<long long>(names[i].size() + values[i].size());
            }
        }
        return chars;
    });
}

Outcome XmlutilMatches(const Options& o) {
    CXMLUtil util;
    LoadOrFail(util, o.Input("menu.xml"));
    return Timed([&] {
        NodeList items;
        util.GetNodes(L"/Root/Menu/Item", items);
        return static_cast<long long>(items.size());
    });
}

Outcome XmlutilRemovals(const Options& o) {
    CXMLUtil util;
    LoadOrFail(util, o.Input("children.xml"));
    CComPtr<IXMLDOMNode> root = RootOf(util);
    const long long before = CountOf(util, L"/Root/*");
    Outcome outcome = Timed([&] { return static_cast<long long>(util.RemoveAllChild(root)); });
    outcome.check = before - CountOf(util, L"/Root/*");
    return outcome;
}

Outcome XmlutilBuildSave(const Options& o) {
    const std::wstring path = Wide(o.out + "/built_xmlutil.xml");
    return Timed([&] {
        CXMLUtil util;
        CComPtr<IXMLDOMNode> root = util.AppendChildNode(CComPtr<IXMLDOMNode>(), L"Root", L"");
        long long built = 0;
        for (int i = 0; i < kBuildElements; ++i) {
            const std::wstring number = WideNumber(i);
            CComPtr<IXMLDOMNode> item = util.AppendChildNode(root, L"Item", L"value " + number);
            built += util.SetNodeAttr(item, L"id", number) == S_OK;
        }
        if (util.Save(path) != S_OK) Fail("xmlutil could not save");
        return built;
    });
}

Outcome XmlutilGb2312(const Options& o) {
    const std::wstring out = Wide(o.out + "/gb2312_xmlutil.xml");
    CXMLUtil util;
    Outcome outcome = Timed([&] {
        LoadOrFail(util, o.Input("gb2312.xml"));
        if (util.Save(out) != S_OK) Fail("xmlutil could not save GB2312");
        return 0;
    });
    outcome.check = CountOf(util, L"/Root/Menu/Item");
    return outcome;
}

// ---- plain libxml2 -------------------------------------------------------------

bool PreservesSpace(xmlNode* element, bool inherited) {
    XmlCharPtr value(xmlGetNsProp(element, ToXml("space"), XML_XML_NAMESPACE));
    if (value == nullptr) return inherited;
    if (xmlStrEqual(value.get(), ToXml("preserve"))) return true;
    if (xmlStrEqual(value.get(), ToXml("default"))) return false;
    return inherited;
}

// The whitespace pass loading applies: whitespace-only text nodes that have a
// sibling are removed unless xml:space="preserve" applies.
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

XmlDocPtr Libxml2Load(const std::string& path) {
    XmlDocPtr doc(xmlReadFile(path.c_str(), nullptr, XML_PARSE_NOENT | XML_PARSE_NONET));
    if (doc == nullptr) Fail("libxml2 could not load " + path);
    RemoveIndentation(doc.get());
    return doc;
}

long long ElementChildren(xmlNode* parent) {
    long long count = 0;
    for (xmlNode* c = parent->children; c != nullptr; c = c->next)
        count += c->type == XML_ELEMENT_NODE;
    return count;
}

long long MenuItems(xmlDoc* doc) {
    xmlNode* root = xmlDocGetRootElement(doc);
    long long count = 0;
    for (xmlNode* menu = root->children; menu != nullptr; menu = menu->next) {
        if (menu->type == XML_ELEMENT_NODE) count += ElementChildren(menu);
    }
    return count;
}

XmlXPathObjectPtr Evaluate(xmlDoc* doc, const char* expression) {
    XmlXPathContextPtr context(xmlXPathNewContext(doc));
    return XmlXPathObjectPtr(xmlXPathEvalExpression(ToXml(expression), context.get()));
}

// Times `load` of the menu file; the check counts its items.
template <class Load>
Outcome TimedMenuLoad(const Options& o, Load&& load) {
    XmlDocPtr doc;
    Outcome outcome = Timed([&] {
        doc = load(o.Input("menu.xml"));
        return 0;
    });
    outcome.check = MenuItems(doc.get());
    return outcome;
}

// Times selecting every Item of `doc` with XPath and reading each id, which
// `length` takes as a libxml2 string and counts the characters of.
template <class Length>
Outcome TimedSelectAll(xmlDoc* doc, Length&& length) {
    return Timed([&] {
        XmlXPathObjectPtr result = Evaluate(doc, "//Item");
        const xmlNodeSet* set = result ? result->nodesetval : nullptr;
        long long chars = 0;
        for (int i = 0; set != nullptr && i < set->nodeNr; ++i) {
            XmlCharPtr id(xmlGetProp(set->nodeTab[i], ToXml("id")));
            chars += length(id.get());
        }
        return chars;
    });
}

Outcome Libxml2Load(const Options& o) {
    return TimedMenuLoad(o, [](const std::string& path) { return Libxml2Load(path); });
}

Outcome Libxml2SelectAll(const Options& o) {
    XmlDocPtr doc = Libxml2Load(o.Input("menu.xml"));
    return TimedSelectAll(
        doc.get(), [](const xmlChar* id) { return static_cast<long long>(Widen(id).size()); });
}

Outcome Libxml2Lookup(const Options& o) {
    XmlDocPtr doc = Libxml2Load(o.Input("menu.xml"));
    std::vector<std::string> queries;
    for (const std::string& id : LookupIds(o, ItemsIn(o, "menu.xml"))) {
        queries.push_back("/Root/Menu/Item[@id='" + id + "']");
    }
    return Timed([&] {
        XmlXPathContextPtr context(xmlXPathNewContext(doc.get()));
        long long found = 0;
        for (const std::string& query : queries) {
            XmlXPathObjectPtr result(xmlXPathEvalExpression(ToXml(query.c_str()), context.get()));
            found += result && result->nodesetval && result->nodesetval->nodeNr > 0;
        }
        return found;
    });
}

Outcome Libxml2Children(const Options& o) {
    XmlDocPtr doc = Libxml2Load(o.Input("children.xml"));
    xmlNode* root = xmlDocGetRootElement(doc.get());
    return Timed([&] {
        std::vector<xmlNode*> children;
        for (xmlNode* c = root->children; c != nullptr; c = c->next) children.push_back(c);
        return static_cast<long long>(children.size());
    });
}

Outcome Libxml2Attributes(const Options& o) {
    XmlDocPtr doc = Libxml2Load(o.Input("attributes.xml"));
    xmlNode* root = xmlDocGetRootElement(doc.get());
    return Timed([&] {
        std::vector<std::wstring> names;
        std::vector<std::wstring> values;
        long long chars = 0;
        for (xmlNode* e = root->children; e != nullptr; e = e->next) {
            names.clear();
            values.clear();
            for (xmlAttr* a = e->properties; a != nullptr; a = a->next) {
                XmlCharPtr value(xmlNodeGetContent(reinterpret_cast<xmlNode*>(a)));
                names.push_back(Widen(a->name));
                values.push_back(Widen(value.get()));
            }
            for (size_t i = 0; i < names.size(); ++i) {
                chars += static_cast<long long>(names[i].size() + values[i].size());
            }
        }
        return chars;
    });
}

void SaveIndented(xmlDoc* doc, const std::string& path, const char* encoding) {
    xmlSaveCtxt* save = xmlSaveToFilename(path.c_str(), encoding, XML_SAVE_FORMAT);
    if (save == nullptr || xmlSaveDoc(save, doc) < 0) Fail("libxml2 could not save " + path);
    xmlSaveClose(save);
}

Outcome Libxml2BuildSave(const Options& o) {
    const std::string path = o.out + "/built_libxml2.xml";
    return Timed([&] {
        XmlDocPtr doc(xmlNewDoc(ToXml("1.0")));
        xmlNode* root = xmlNewDocNode(doc.get(), nullptr, ToXml("Root"), nullptr);
        xmlDocSetRootElement(doc.get(), root);
        long long built = 0;
        for (int i = 0; i < kBuildElements; ++i) {
            const std::string number = std::to_string(i);
            xmlNode* item =
                xmlNewTextChild(root, nullptr, ToXml("Item"), ToXml(("value " + number).c_str()));
            built += xmlNewProp(item, ToXml("id"), ToXml(number.c_str())) != nullptr;
        }
        SaveIndented(doc.get(), path, "UTF-8");
        return built;
    });
}

Outcome Libxml2Gb2312(const Options& o) {
    const std::string out = o.out + "/gb2312_libxml2.xml";
    XmlDocPtr doc;
    Outcome outcome = Timed([&] {
        doc = Libxml2Load(o.Input("gb2312.xml"));
        SaveIndented(doc.get(), out, "GB2312");
        return 0;
    });
    outcome.check = MenuItems(doc.get());
    return outcome;
}

// ---- the job table ---------------------------------------------------------------

// The plain baselines: what a libxml2 user writes for the job, without the
// list or the wide text the jobs above build to match xmlutil's output.
// Loads with the fastest and smallest of the usual option sets (compact
// text nodes, indentation dropped by the parser).
XmlDocPtr PlainLoadOf(const std::string& path) {
    XmlDocPtr doc(xmlReadFile(path.c_str(), nullptr,
                              XML_PARSE_COMPACT | XML_PARSE_NOBLANKS | XML_PARSE_NONET));
    if (doc == nullptr) Fail("libxml2 could not load " + path);
    return doc;
}

Outcome PlainLoad(const Options& o) {
    return TimedMenuLoad(o, PlainLoadOf);
}

Outcome PlainSelectAll(const Options& o) {
    XmlDocPtr doc = PlainLoadOf(o.Input("menu.xml"));
    std::string text;
    return TimedSelectAll(doc.get(), [&text](const xmlChar* id) {
        text.assign(id == nullptr ? "" : reinterpret_cast<const char*>(id));
        return static_cast<long long>(xmlUTF8Strlen(ToXml(text.c_str())));
    });
}

Outcome PlainChildren(const Options& o) {
    XmlDocPtr doc = Libxml2Load(o.Input("children.xml"));
    xmlNode* root = xmlDocGetRootElement(doc.get());
    return Timed([&] { return ElementChildren(root); });
}

Outcome PlainAttributes(const Options& o) {
    XmlDocPtr doc = Libxml2Load(o.Input("attributes.xml"));
    xmlNode* root = xmlDocGetRootElement(doc.get());
    return Timed([&] {
        long long chars = 0;
        std::string value;
        for (xmlNode* e = root->children; e != nullptr; e = e->next) {
            for (xmlAttr* a = e->properties; a != nullptr; a = a->next) {
                const xmlNode* text = a->children;
                value.assign(text != nullptr && text->content != nullptr
                                 ? reinterpret_cast<const char*>(text->content)
                                 : "");
                chars += static_cast<long long>(xmlUTF8Strlen(a->name)) +
                         xmlUTF8Strlen(ToXml(value.c_str()));
            }
        }
        return chars;
    });
}

using JobFunction = Outcome (*)(const Options&);
struct Job {
    const char* name;
    JobFunction xmlutil;
    JobFunction libxml2;          // null: only xmlutil runs it (a scaling check)
    JobFunction plain = nullptr;  // the plain libxml2 baseline, where there is one
};

const Job kJobs[] = {
    {"load", XmlutilLoad, Libxml2Load, PlainLoad},
    {"select_all", XmlutilSelectAll, Libxml2SelectAll, PlainSelectAll},
    {"lookup", XmlutilLookup, Libxml2Lookup},
    {"children", XmlutilChildren, Libxml2Children, PlainChildren},
    {"attributes", XmlutilAttributes, Libxml2Attributes, PlainAttributes},
    // What a libxml2 user writes to build and save is the same-work job.
    {"build_save", XmlutilBuildSave, Libxml2BuildSave, Libxml2BuildSave},
    {"gb2312", XmlutilGb2312, Libxml2Gb2312},
    {"matches", XmlutilMatches, nullptr},
    {"removals", XmlutilRemovals, nullptr},
};

const Job* FindJob(const std::string& name) {
    for (const Job& job : kJobs) {
        if (name == job.name) return &job;
    }
    return nullptr;
}

// A field of /proc/self/status in kB (VmHWM: peak resident size).
long StatusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t length = std::strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, length, field) == 0 && line.size() > length && line[length] == ':') {
            return std::strtol(line.c_str() + length + 1, nullptr, 10);
        }
    }
    return -1;
}

std::string Flag(int argc, char** argv, const char* name) {
    const std::string prefix = std::string("--") + name + "=";
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], prefix.c_str(), prefix.size()) == 0) {
            return argv[i] + prefix.size();
        }
    }
    return "";
}

int RunOneJob(int argc, char** argv) {
    const std::string name = Flag(argc, argv, "job");
    const std::string engine = Flag(argc, argv, "engine");
    Options options;
    options.corpus = Flag(argc, argv, "corpus");
    if (!Flag(argc, argv, "out").empty()) options.out = Flag(argc, argv, "out");
    if (!Flag(argc, argv, "lookups").empty())
        options.lookups = std::atoi(Flag(argc, argv, "lookups").c_str());
    options.small = Flag(argc, argv, "size") == "small";
    const Job* job = FindJob(name);
    if (job == nullptr || options.corpus.empty()) Fail("unknown job or no --corpus");
    const JobFunction run = engine == "xmlutil"         ? job->xmlutil
                            : engine == "libxml2"       ? job->libxml2
                            : engine == "libxml2-plain" ? job->plain
                                                        : nullptr;
    if (run == nullptr) {
        std::printf("{\"unsupported\": true}\n");
        return 0;
    }
    const long before = StatusKb("VmRSS");
    const Outcome outcome = run(options);
    std::printf(
        "{\"seconds\": %.6f, \"wall\": %.6f, \"check\": %lld, \"peak_kb\": %ld, "
        "\"base_kb\": %ld}\n",
        outcome.seconds, outcome.wall, outcome.check, outcome.peakKb, before);
    return 0;
}

// ---- Google Benchmark cases ------------------------------------------------------

void RegisterBenchmarks(const Options& options) {
    for (const Job& job : kJobs) {
        const std::pair<const char*, JobFunction> engines[] = {
            {"xmlutil", job.xmlutil}, {"libxml2", job.libxml2}, {"libxml2-plain", job.plain}};
        for (const auto& [engine, run] : engines) {
            if (run == nullptr) continue;
            const JobFunction function = run;
            benchmark::RegisterBenchmark((std::string(job.name) + "/" + engine).c_str(),
                                         [function, options](benchmark::State& state) {
                                             for (auto _ : state) {
                                                 const Outcome outcome = function(options);
                                                 state.SetIterationTime(outcome.seconds);
                                                 state.counters["check"] =
                                                     static_cast<double>(outcome.check);
                                             }
                                         })
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond)
                ->Iterations(3);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (!Flag(argc, argv, "job").empty()) return RunOneJob(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    const char* corpus = std::getenv("XMLUTIL_BENCH_CORPUS");
    if (corpus == nullptr) {
        std::fprintf(stderr,
                     "Set XMLUTIL_BENCH_CORPUS to a folder made by bench/corpus/generate.py "
                     "(scripts/bench.sh does it all).\n");
        return 1;
    }
    Options options;
    options.corpus = corpus;
    RegisterBenchmarks(options);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
