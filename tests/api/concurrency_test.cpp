// SPDX-License-Identifier: MIT
// Separate document objects on separate threads at once: each thread
// initialises COM for itself and loads, queries, edits, copies and saves its
// own documents. The results must be those of the same work done serially.
// scripts/tsan.sh runs this program under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "support/test_util.h"
#include "xmlutil/XMLUtil.h"

namespace {

using xmlutil::test::TempDir;

constexpr int kThreads = 8;
constexpr int kRounds = 12;

std::wstring DocumentFor(int worker) {
    const std::wstring n = std::to_wstring(worker);
    return L"<?xml version=\"1.0\" encoding=\"gb2312\"?>"
           L"<Root xmlns:p=\"urn:p" +
           n + L"\"><Menu name=\"m" + n +
           L"\">"
           L"<Item key=\"a\">first " +
           n +
           L"</Item><Item key=\"b\">second \x4E2D</Item>"
           L"<p:Item p:k=\"" +
           n + L"\">third</p:Item><!-- note --></Menu></Root>";
}

// One worker's whole job; the text it returns records every result it saw.
std::wstring Work(int worker, const std::string& folder) {
    const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    std::wstring log;
    auto note = [&log](const wchar_t* what, long hr) {
        log += what;
        log += L"=" + std::to_wstring(hr) + L";";
    };
    for (int round = 0; round < kRounds; ++round) {
        CXMLUtil doc;
        note(L"load", doc.LoadXML(DocumentFor(worker).c_str()));
        std::vector<std::wstring> texts;
        note(L"values", doc.GetNodeValues(L"//*[local-name()='Item']", texts));
        for (const auto& t : texts) log += t + L"|";
        long count = 0;
        note(L"count", doc.GetNodesCount(L"//namespace::*", count));
        log += std::to_wstring(count) + L";";

        std::vector<CComPtr<IXMLDOMNode>> items;
        note(L"items", doc.GetNodes(L"/Root/Menu/Item", items));
        for (size_t i = 0; i < items.size(); ++i) {
            note(L"attr", doc.SetNodeAttr(items[i], L"n", std::to_wstring(worker * 100 + round)));
        }
        CComPtr<IXMLDOMNode> menu;
        note(L"menu", doc.GetSingleNode(L"/Root/Menu", menu));
        CComPtr<IXMLDOMNode> added =
            doc.AppendChildNode(menu, L"Added", L"round " + std::to_wstring(round));
        log += added ? L"added;" : L"not-added;";
        note(L"remove", doc.RemoveNode(L"/Root/Menu/Item[2]"));

        CXMLUtil copy(menu);  // the node constructor: a document of its own
        std::wstring copied;
        note(L"copy", copy.GetXML(copied));
        log += copied + L";";

        const std::string file = folder + "/w" + std::to_string(worker) + ".xml";
        note(L"save", doc.Save(xmlutil::test::Widen(file)));
        CXMLUtil back;
        note(L"reload", back.Load(xmlutil::test::Widen(file)));
        std::wstring xml;
        note(L"xml", back.GetXML(xml));
        log += xml + L"\n";
    }
    if (SUCCEEDED(init)) CoUninitialize();
    return log;
}

TEST(Concurrency, ParallelWorkMatchesSerialWork) {
    TempDir serialDir;
    std::vector<std::wstring> serial;
    for (int w = 0; w < kThreads; ++w) serial.push_back(Work(w, serialDir.path()));
    // Sanity of the reference itself: every step succeeded.
    for (const auto& log : serial) {
        EXPECT_EQ(log.find(L"=-"), std::wstring::npos) << "a step failed: " << log.substr(0, 400);
        EXPECT_EQ(log.find(L"not-added"), std::wstring::npos);
    }

    TempDir parallelDir;
    std::vector<std::wstring> parallel(kThreads);
    std::vector<std::thread> threads;
    for (int w = 0; w < kThreads; ++w) {
        threads.emplace_back(
            [w, &parallel, &parallelDir] { parallel[w] = Work(w, parallelDir.path()); });
    }
    for (auto& t : threads) t.join();

    for (int w = 0; w < kThreads; ++w) EXPECT_EQ(parallel[w], serial[w]) << "worker " << w;
    EXPECT_EQ(parallelDir.Entries(), serialDir.Entries());
    for (int w = 0; w < kThreads; ++w) {
        const std::string name = "/w" + std::to_string(w) + ".xml";
        EXPECT_EQ(xmlutil::test::ReadFileBytes(parallelDir.path() + name),
                  xmlutil::test::ReadFileBytes(serialDir.path() + name));
    }
}

// Sixteen threads whose first library call comes at the same moment (each
// test runs in a process of its own, so these are the process's first calls):
// the library's process-wide start happened when it loaded, so nothing races
// (scripts/tsan.sh checks that) and every thread gets its document.
TEST(Concurrency, FirstCallsFromSixteenThreadsAtOnce) {
    constexpr int kFirstCallers = 16;
    std::atomic<int> waiting{kFirstCallers};
    std::vector<std::wstring> texts(kFirstCallers);
    std::vector<std::thread> threads;
    for (int t = 0; t < kFirstCallers; ++t) {
        threads.emplace_back([t, &waiting, &texts] {
            waiting.fetch_sub(1);
            while (waiting.load() > 0) std::this_thread::yield();
            CXMLUtil doc;
            const std::wstring xml = L"<a>" + std::to_wstring(t) + L"</a>";
            if (doc.LoadXML(xml.c_str()) == S_OK) doc.GetNodeValue(L"/a", texts[t]);
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < kFirstCallers; ++t) EXPECT_EQ(texts[t], std::to_wstring(t));
}

// Node handles made on one thread may be used and released on others, one
// thread at a time, after the document object that made them is gone.
TEST(Concurrency, HandlesOutliveTheirThreadAndDocumentObject) {
    std::vector<CComPtr<IXMLDOMNode>> handles;
    std::thread maker([&handles] {
        CXMLUtil doc;
        ASSERT_HR(doc.LoadXML(L"<a xmlns:p=\"urn:p\"><b>1</b><b>2</b><p:c/></a>"), S_OK);
        ASSERT_HR(doc.GetNodes(L"//node() | //namespace::*", handles), S_OK);
    });
    maker.join();
    ASSERT_GE(handles.size(), 5u);
    std::wstring texts;
    for (auto& handle : handles) {
        std::thread user([&handle, &texts] {
            CXMLUtil reader;
            std::wstring name, value;
            EXPECT_HR(reader.GetNodeValue(handle, name, value), S_OK);
            texts += name + L"=" + value + L";";
            handle.Release();
        });
        user.join();
    }
    EXPECT_NE(texts.find(L"b=1;"), std::wstring::npos) << texts;
    EXPECT_NE(texts.find(L"=urn:p;"), std::wstring::npos) << texts;
}

}  // namespace
