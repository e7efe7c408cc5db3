// SPDX-License-Identifier: MIT
// The benchmark suite's jobs done with pugixml, the way its users write them:
//   pugixml_runner --job=NAME --corpus=DIR [--out=DIR] [--lookups=N] [--size=full|small]
// prints one JSON line like suite_bench's one-job mode (seconds, check figure,
// peak memory). pugixml reads UTF-8/16/32 and Latin-1 only: the GB2312 job
// answers "unsupported". Built by scripts/bench.sh against Debian's libpugixml-dev.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <pugixml.hpp>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    std::string corpus;
    std::string out = "/tmp";
    int lookups = 1000;
    bool small = false;

    std::string Input(const char* name) const {
        std::string file = corpus + "/" + name;
        if (small) file.insert(file.size() - 4, "_small");
        return file;
    }
};

struct Outcome {
    double seconds = 0;  // processor time (user + system) of this process
    double wall = 0;
    long long check = 0;
};

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
    return outcome;
}

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "pugixml_runner: %s\n", what.c_str());
    std::exit(2);
}

// UTF-8 to wide text, one code point per wchar_t (the form xmlutil hands out).
std::wstring Widen(const char* utf8) {
    std::wstring out;
    for (const unsigned char* s = reinterpret_cast<const unsigned char*>(utf8); *s != 0;) {
        char32_t c = *s;
        int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        c &= extra == 3 ? 0x07 : extra == 2 ? 0x0F : extra == 1 ? 0x1F : 0x7F;
        ++s;
        for (; extra > 0 && *s != 0; --extra, ++s) c = (c << 6) | (*s & 0x3F);
        out.push_back(static_cast<wchar_t>(c));
    }
    return out;
}

long ItemsIn(const Options& options, const char* file) {
    std::ifstream in(options.corpus + "/manifest.json");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t at = text.find(std::string("\"") + file + "\"");
    const size_t items = text.find("\"items\":", at);
    if (at == std::string::npos || items == std::string::npos) Fail("no " + std::string(file));
    return std::strtol(text.c_str() + items + 8, nullptr, 10);
}

void LoadOrFail(pugi::xml_document& doc, const std::string& path) {
    if (!doc.load_file(path.c_str())) Fail("pugixml could not load " + path);
}

long long MenuItems(const pugi::xml_document& doc) {
    long long count = 0;
    for (pugi::xml_node menu : doc.document_element().children("Menu")) {
        for (pugi::xml_node item : menu.children()) count += item.type() == pugi::node_element;
    }
    return count;
}

Outcome Load(const Options& o) {
    pugi::xml_document doc;
    Outcome outcome = Timed([&] {
        LoadOrFail(doc, o.Input("menu.xml"));
        return 0;
    });
    outcome.check = MenuItems(doc);
    return outcome;
}

Outcome SelectAll(const Options& o) {
    pugi::xml_document doc;
    LoadOrFail(doc, o.Input("menu.xml"));
    return Timed([&] {
        pugi::xpath_node_set items = doc.select_nodes("//Item");
        long long chars = 0;
        for (const pugi::xpath_node& item : items) {
            chars += static_cast<long long>(Widen(item.node().attribute("id").value()).size());
        }
        return chars;
    });
}

Outcome Lookup(const Options& o) {
    pugi::xml_document doc;
    LoadOrFail(doc, o.Input("menu.xml"));
    const long items = ItemsIn(o, "menu.xml");
    std::vector<std::string> queries;
    for (int i = 0; i < o.lookups; ++i) {
        const long n = static_cast<long>((static_cast<double>(i) + 0.5) * items / o.lookups);
        queries.push_back("/Root/Menu/Item[@id='K" + std::to_string(n) + "']");
    }
    return Timed([&] {
        long long found = 0;
        for (const std::string& query : queries) found += doc.select_node(query.c_str()) ? 1 : 0;
        return found;
    });
}

Outcome Children(const Options& o) {
    pugi::xml_document doc;
    LoadOrFail(doc, o.Input("children.xml"));
    const pugi::xml_node root = doc.document_element();
    return Timed([&] {
        std::vector<pugi::xml_node> children;
        for (pugi::xml_node child : root.children()) children.push_back(child);
        return static_cast<long long>(children.size());
    });
}

Outcome Attributes(const Options& o) {
    pugi::xml_document doc;
    LoadOrFail(doc, o.Input("attributes.xml"));
    const pugi::xml_node root = doc.document_element();
    return Timed([&] {
        std::vector<std::wstring> names;
        std::vector<std::wstring> values;
        long long chars = 0;
        for (pugi::xml_node element : root.children()) {
            names.clear();
            values.clear();
            for (pugi::xml_attribute a : element.attributes()) {
                names.push_back(Widen(a.name()));
                values.push_back(Widen(a.value()));
            }
            for (size_t i = 0; i < names.size(); ++i) {
                chars += static_cast<long long>(names[i].size() + values[i].size());
            }
        }
        return chars;
    });
}

Outcome BuildSave(const Options& o) {
    const std::string path = o.out + "/built_pugixml.xml";
    return Timed([&] {
        pugi::xml_document doc;
        pugi::xml_node root = doc.append_child("Root");
        long long built = 0;
        for (int i = 0; i < 1'000'000; ++i) {
            const std::string number = std::to_string(i);
            pugi::xml_node item = root.append_child("Item");
            item.append_child(pugi::node_pcdata).set_value(("value " + number).c_str());
            built += item.append_attribute("id").set_value(number.c_str()) ? 1 : 0;
        }
        if (!doc.save_file(path.c_str(), "  ")) Fail("pugixml could not save");
        return built;
    });
}

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
        if (std::strncmp(argv[i], prefix.c_str(), prefix.size()) == 0)
            return argv[i] + prefix.size();
    }
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    options.corpus = Flag(argc, argv, "corpus");
    if (!Flag(argc, argv, "out").empty()) options.out = Flag(argc, argv, "out");
    if (!Flag(argc, argv, "lookups").empty())
        options.lookups = std::atoi(Flag(argc, argv, "lookups").c_str());
    options.small = Flag(argc, argv, "size") == "small";
    const std::string job = Flag(argc, argv, "job");
    Outcome (*run)(const Options&) = job == "load"         ? Load
                                     : job == "select_all" ? SelectAll
                                     : job == "lookup"     ? Lookup
                                     : job == "children"   ? Children
                                     : job == "attributes" ? Attributes
                                     : job == "build_save" ? BuildSave
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
        outcome.seconds, outcome.wall, outcome.check, StatusKb("VmHWM"), before);
    return 0;
}
