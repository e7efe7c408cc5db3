// SPDX-License-Identifier: MIT
#include "platform/xmldom/wrapper_pool.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>

namespace xmlutil::xmldom {

namespace {

// Slabs grow from a few blocks (a small document costs little) to one huge
// page each, which keeps the slab count low for millions of wrappers.
constexpr size_t kFirstSlabBlocks = 32;
constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kLargestSlabBlocks = kHugePage / 64;
// Set in a block's owner word once its wrapper moved to another document.
constexpr uintptr_t kMovedTag = 1;

}  // namespace

WrapperPool* WrapperPool::Create() noexcept {
    return new (std::nothrow) WrapperPool();  // owned by its reference count
}

WrapperPool::~WrapperPool() = default;

void WrapperPool::Release() noexcept {
    if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

namespace {

// One huge page of fresh memory, aligned to one, or null. The kernel is
// asked to back it with a huge page and to fill in all of it at once: a
// million wrappers written into fresh 4 KB pages took a page fault per 64 of
// them, half the time of handing them out. Both requests are hints; where
// either is not offered, ordinary pages are faulted in as they are used.
void* MapHugePage() noexcept {
    void* mapped =
        mmap(nullptr, 2 * kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    // Keep the aligned huge page inside the mapping, give the rest back.
    const auto start = reinterpret_cast<uintptr_t>(mapped);
    const uintptr_t aligned = (start + kHugePage - 1) & ~(kHugePage - 1);
    if (aligned > start) munmap(mapped, aligned - start);
    const uintptr_t tail = aligned + kHugePage;
    const uintptr_t end = start + 2 * kHugePage;
    if (end > tail) munmap(reinterpret_cast<void*>(tail), end - tail);
    void* page = reinterpret_cast<void*>(aligned);
    madvise(page, kHugePage, MADV_HUGEPAGE);
    madvise(page, kHugePage, MADV_POPULATE_WRITE);
    return page;
}

}  // namespace

// A slab grows to one huge page only once the pool already holds as many
// wrappers, so filling it in at once seldom maps memory that stays unused.
WrapperPool::Slab WrapperPool::NewSlab(size_t blocks) noexcept {
    const size_t bytes = blocks * sizeof(Block);
    SlabDeleter deleter;
    void* memory = nullptr;
    if (bytes == kHugePage) {
        memory = MapHugePage();
        deleter.mapped = kHugePage;
    } else if (posix_memalign(&memory, alignof(Block), bytes) != 0) {
        memory = nullptr;
    }
    if (memory == nullptr) return Slab(nullptr, deleter);
    // Trivial construction: nothing is written.
    Block* first =
        std::uninitialized_default_construct_n(static_cast<Block*>(memory), blocks) - blocks;
    return Slab(first, deleter);
}

void WrapperPool::SlabDeleter::operator()(Block* blocks) const noexcept {
    if (mapped != 0) {
        munmap(blocks, mapped);
    } else {
        std::free(blocks);
    }
}

bool WrapperPool::AddSlab() noexcept {
    static_assert(sizeof(Block) == 64, "a block is one cache line");
    const size_t blocks =
        slabs_.empty() ? kFirstSlabBlocks : std::min(capacity_, kLargestSlabBlocks);
    try {
        slabs_.reserve(slabs_.size() + 1);
    } catch (const std::bad_alloc&) {
        return false;
    }
    Slab slab = NewSlab(blocks);
    if (slab == nullptr) return false;
    unused_ = slab.get();
    unusedEnd_ = unused_ + blocks;
    slabs_.push_back(std::move(slab));  // cannot throw: reserved above
    capacity_ += blocks;
    return true;
}

void* WrapperPool::Allocate() noexcept {
    Block* block = free_;
    if (block != nullptr) {
        free_ = block->next;
    } else if (unused_ != unusedEnd_) {
        block = unused_++;
    } else if ((block = freedElsewhere_.exchange(nullptr, std::memory_order_acquire)) != nullptr) {
        free_ = block->next;
    } else {
        if (!AddSlab()) return nullptr;
        block = unused_++;
    }
    block->owner = reinterpret_cast<uintptr_t>(this);
    block->node.store(nullptr, std::memory_order_relaxed);
    ++live_;
    return block->object;
}

void WrapperPool::Free(void* object) noexcept {
    Block* block = BlockOf(object);
    auto* pool = reinterpret_cast<WrapperPool*>(block->owner & ~kMovedTag);
    if ((block->owner & kMovedTag) == 0) {
        pool->FreeLocal(block);
        return;
    }
    pool->FreeFromAnotherThread(block);
    pool->Release();  // the reference the move took
}

void WrapperPool::NoteMovedTo(void* object, const WrapperPool* current) noexcept {
    Block* block = BlockOf(object);
    auto* pool = reinterpret_cast<WrapperPool*>(block->owner & ~kMovedTag);
    if ((block->owner & kMovedTag) != 0 || pool == current) return;
    block->owner |= kMovedTag;
    pool->AddRef();
    --pool->live_;
}

bool WrapperPool::IsMoved(const void* object) noexcept {
    return (BlockOf(const_cast<void*>(object))->owner & kMovedTag) != 0;
}

void WrapperPool::FreeLocal(Block* block) noexcept {
    block->next = free_;
    free_ = block;
    --live_;
}

void WrapperPool::FreeFromAnotherThread(Block* block) noexcept {
    Block* head = freedElsewhere_.load(std::memory_order_relaxed);
    do {
        block->next = head;
    } while (!freedElsewhere_.compare_exchange_weak(head, block, std::memory_order_release,
                                                    std::memory_order_relaxed));
}

}  // namespace xmlutil::xmldom
