// SPDX-License-Identifier: MIT
// The memory pool behind node wrappers: reuse and growth, blocks of
// wrappers moved to another document freed on another thread, and the same
// seen through documents whose nodes move between them.
#include "platform/xmldom/wrapper_pool.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "platform/xmldom/document_factory.h"
#include "support/dom_test_util.h"
#include "xmlutil/atl.h"
#include "xmlutil/msxml.h"

namespace {

using xmlutil::xmldom::WrapperPool;
using xmlutil::xmldom::WrapperPoolRef;
using namespace xmlutil::test::dom;  // NOLINT(google-build-using-namespace)

TEST(WrapperPool, FreedBlocksAreReusedAndDistinctWhileLive) {
    WrapperPoolRef pool(WrapperPool::Create());
    ASSERT_NE(pool.get(), nullptr);
    std::vector<void*> blocks;
    std::set<void*> distinct;
    for (int i = 0; i < 1000; ++i) {
        void* block = pool.get()->Allocate();
        ASSERT_NE(block, nullptr);
        // The whole block is usable room.
        std::memset(block, 0xA5, WrapperPool::kObjectSize);
        blocks.push_back(block);
        distinct.insert(block);
    }
    EXPECT_EQ(distinct.size(), blocks.size());
    EXPECT_EQ(pool.get()->LiveCount(), 1000u);
    void* freed = blocks[500];
    WrapperPool::Free(freed);
    EXPECT_EQ(pool.get()->Allocate(), freed);
    for (void* block : blocks) WrapperPool::Free(block);
    EXPECT_EQ(pool.get()->LiveCount(), 0u);
}

// A program selecting many nodes again and again reuses the same blocks: the
// pool grows to what the most handles held at once need, then stays.
TEST(WrapperPool, RepeatedPeaksReuseTheSlabsOfTheFirst) {
    WrapperPoolRef pool(WrapperPool::Create());
    size_t capacity = 0;
    for (int round = 0; round < 3; ++round) {
        std::vector<void*> blocks;
        for (int i = 0; i < 100000; ++i) {
            blocks.push_back(pool.get()->Allocate());
            // Every block of the large (huge-page) slabs is usable room too.
            std::memset(blocks.back(), 0x5A, WrapperPool::kObjectSize);
        }
        EXPECT_GE(pool.get()->Capacity(), 100000u);
        // Growth is geometric: few slabs, not one per block.
        EXPECT_LT(pool.get()->Capacity(), 300000u);
        if (round == 0) capacity = pool.get()->Capacity();
        EXPECT_EQ(pool.get()->Capacity(), capacity) << "round " << round;
        for (void* block : blocks) WrapperPool::Free(block);
        EXPECT_EQ(pool.get()->LiveCount(), 0u);
    }
}

// Blocks of moved wrappers come back from another thread while the owner
// keeps allocating; ThreadSanitizer runs this program too.
TEST(WrapperPool, MovedBlocksFreedOnAnotherThreadAreReused) {
    WrapperPool* owner = WrapperPool::Create();
    WrapperPoolRef other(WrapperPool::Create());
    std::vector<void*> moved;
    for (int i = 0; i < 5000; ++i) {
        void* block = owner->Allocate();
        WrapperPool::NoteMovedTo(block, other.get());
        moved.push_back(block);
    }
    EXPECT_EQ(owner->LiveCount(), 0u);
    std::thread freer([&] {
        for (void* block : moved) WrapperPool::Free(block);
    });
    void* kept = owner->Allocate();
    std::vector<void*> local;
    for (int i = 0; i < 20000; ++i) local.push_back(owner->Allocate());
    freer.join();
    for (void* block : local) WrapperPool::Free(block);
    // Every block but one is free, the moved ones on the other thread's
    // list: all of them are handed out again before the pool grows.
    const size_t capacity = owner->Capacity();
    std::vector<void*> again;
    for (size_t i = 1; i < capacity; ++i) again.push_back(owner->Allocate());
    EXPECT_EQ(owner->Capacity(), capacity);
    EXPECT_EQ(std::set<void*>(again.begin(), again.end()).size(), again.size());
    for (void* block : again) WrapperPool::Free(block);
    WrapperPool::Free(kept);
    EXPECT_EQ(owner->LiveCount(), 0u);
    owner->Release();
}

TEST(WrapperPool, MovedBlocksKeepTheirPoolAliveAfterItsOwnerWent) {
    WrapperPool* owner = WrapperPool::Create();
    WrapperPoolRef other(WrapperPool::Create());
    void* block = owner->Allocate();
    WrapperPool::NoteMovedTo(block, other.get());
    WrapperPool::NoteMovedTo(block, other.get());  // a second move takes no second reference
    owner->Release();                              // the owner goes first
    std::memset(block, 0x5A, WrapperPool::kObjectSize);
    WrapperPool::Free(block);  // frees the pool (AddressSanitizer checks both)
}

TEST(WrapperPool, MovingWithinOneOwnerChangesNothing) {
    WrapperPoolRef pool(WrapperPool::Create());
    void* block = pool.get()->Allocate();
    WrapperPool::NoteMovedTo(block, pool.get());
    EXPECT_EQ(pool.get()->LiveCount(), 1u);
    WrapperPool::Free(block);
    EXPECT_EQ(pool.get()->LiveCount(), 0u);
}

// Through documents: handles to nodes moved into another document stay valid
// after their first document is gone, and are released on another thread.
TEST(WrapperPoolDocuments, MovedNodesOutliveTheirFirstDocumentAcrossThreads) {
    CComPtr<IXMLDOMDocument> target = NewDocument();
    CComPtr<IXMLDOMElement> root;
    ASSERT_EQ(target->createElement(Arg(L"Root"), &root), S_OK);
    ASSERT_EQ(target->appendChild(root, nullptr), S_OK);
    std::vector<CComPtr<IXMLDOMNode>> moved;
    {
        CComPtr<IXMLDOMDocument> source = NewDocument();
        for (int i = 0; i < 200; ++i) {
            CComPtr<IXMLDOMElement> element;
            ASSERT_EQ(source->createElement(Arg(L"Item"), &element), S_OK);
            CComPtr<IXMLDOMNode> inTarget;
            ASSERT_EQ(root->appendChild(element, &inTarget), S_OK);
            moved.push_back(inTarget);
        }
    }  // the source document goes while its former wrappers live on
    long count = 0;
    CComPtr<IXMLDOMNodeList> children;
    ASSERT_EQ(root->get_childNodes(&children), S_OK);
    ASSERT_EQ(children->get_length(&count), S_OK);
    EXPECT_EQ(count, 200);
    EXPECT_EQ(TextOf(moved.front()), L"");
    std::thread releaser([&] { moved.clear(); });
    releaser.join();
    // The target is unaffected and serves new handles.
    CComPtr<IXMLDOMNode> first;
    ASSERT_EQ(root->get_firstChild(&first), S_OK);
    BSTR name = nullptr;
    ASSERT_EQ(first->get_nodeName(&name), S_OK);
    EXPECT_STREQ(name, L"Item");
    SysFreeString(name);
}

}  // namespace
