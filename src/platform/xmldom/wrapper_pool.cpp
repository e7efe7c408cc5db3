// SPDX-License-Identifier: MIT
#include "platform/xmldom/wrapper_pool.h"

#include <algorithm>
#include <cstddef>
#include <new>

namespace xmlutil::xmldom {

namespace {

// Slabs grow from a few blocks (a small document costs little) to a size
// that keeps the slab count low for millions of wrappers.
constexpr size_t kFirstSlabBlocks = 32;
constexpr size_t kLargestSlabBlocks = 16384;
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

bool WrapperPool::AddSlab() noexcept {
    static_assert(sizeof(Block) == 64, "a block is one cache line");
    const size_t blocks =
        slabs_.empty() ? kFirstSlabBlocks : std::min(capacity_, kLargestSlabBlocks);
    try {
        slabs_.reserve(slabs_.size() + 1);
    } catch (const std::bad_alloc&) {
        return false;
    }
    Slab slab(new (std::nothrow) Block[blocks]);
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
