// SPDX-License-Identifier: MIT
// Walking a live child list by rising index with get_item, the way callers
// enumerate children. Each step must cost O(1): walking 1,000,000 children
// should take about ten times as long as walking 100,000, not a hundred.
// Compare the two lines of each benchmark (CPU time, or items_per_second).
#include <benchmark/benchmark.h>

#include <string>

#include "platform/xmldom/document_factory.h"
#include "xmlutil/atl.h"
#include "xmlutil/msxml.h"

namespace {

// A document <r><c/><c/>...</r> with `count` children, and its root.
struct Wide {
    CComPtr<IXMLDOMDocument> doc;
    CComPtr<IXMLDOMNode> root;

    explicit Wide(long count) {
        xmlutil::xmldom::CreateDocument(IID_IXMLDOMDocument, reinterpret_cast<void**>(&doc));
        std::wstring xml = L"<r>";
        for (long i = 0; i < count; ++i) xml += L"<c/>";
        xml += L"</r>";
        BSTR text = SysAllocString(xml.c_str());
        VARIANT_BOOL ok = VARIANT_FALSE;
        doc->loadXML(text, &ok);
        SysFreeString(text);
        BSTR path = SysAllocString(L"/r");
        doc->selectSingleNode(path, &root);
        SysFreeString(path);
    }
};

// Rising index until get_item answers S_FALSE.
void Walk(benchmark::State& state) {
    const long count = static_cast<long>(state.range(0));
    Wide wide(count);
    if (wide.root == nullptr) {
        state.SkipWithError("document not built");
        return;
    }
    for (auto _ : state) {
        CComPtr<IXMLDOMNodeList> list;
        wide.root->get_childNodes(&list);
        long seen = 0;
        for (long i = 0;; ++i) {
            CComPtr<IXMLDOMNode> item;
            if (list->get_item(i, &item) != S_OK) break;
            ++seen;
        }
        if (seen != count) state.SkipWithError("list length differs from the tree");
        benchmark::DoNotOptimize(seen);
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(Walk)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// get_length first, then every index: the way GetNodes and GetChildNodes
// enumerate. Counting is one more pass over the children, which a list of
// 1,000,000 no longer finds in the processor's cache.
void WalkAfterLength(benchmark::State& state) {
    const long count = static_cast<long>(state.range(0));
    Wide wide(count);
    for (auto _ : state) {
        CComPtr<IXMLDOMNodeList> list;
        wide.root->get_childNodes(&list);
        long length = 0;
        list->get_length(&length);
        long seen = 0;
        for (long i = 0; i < length; ++i) {
            CComPtr<IXMLDOMNode> item;
            if (list->get_item(i, &item) == S_OK) ++seen;
        }
        benchmark::DoNotOptimize(seen);
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(WalkAfterLength)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// The same walk with nextNode, for comparison.
void WalkNextNode(benchmark::State& state) {
    const long count = static_cast<long>(state.range(0));
    Wide wide(count);
    for (auto _ : state) {
        CComPtr<IXMLDOMNodeList> list;
        wide.root->get_childNodes(&list);
        long seen = 0;
        for (CComPtr<IXMLDOMNode> item; list->nextNode(&item) == S_OK; item.Release()) ++seen;
        benchmark::DoNotOptimize(seen);
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(WalkNextNode)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
