// SPDX-License-Identifier: MIT
// Memory for the node wrappers of one document object.
//
// A document hands out one wrapper per node a caller reaches, and selecting
// or walking a million nodes makes a million of them, most of which die
// soon after. Taken from the general heap one by one, they cost as much as
// the walk itself (allocation, and above all the heap's consolidation of a
// million small freed blocks later on). The pool carves them out of large
// slabs instead and keeps freed ones on a list for reuse.
//
// Each block also records the node its wrapper stands for. A node keeps its
// link to the block after the wrapper went (so a million handles going do
// not touch a million nodes again), and the record tells such a stale link
// from a live one; this is why the pool outlives every node of its document.
//
// Slabs stay with the pool until the pool goes (with its document and the
// last wrapper moved away from it): a program that selects a million nodes
// again and again reuses the same memory instead of having it mapped, zeroed
// and unmapped each time (that churn cost a quarter of such a selection). The
// memory kept is what the most handles held at once needed, 64 bytes each,
// beside the much larger nodes they stand for.
//
// Threads: a document object and its wrappers are used by one thread at a
// time, so allocating and freeing need no lock. The exception is a wrapper
// that was moved to another document (its node was adopted there): it may be
// freed on that document's thread while this one allocates, so it is marked
// "moved", keeps the pool alive by a counted reference, and its block goes
// back through a lock-free list that the owner drains when it needs memory.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace xmlutil::xmldom {

class WrapperPool {
  public:
    // Every wrapper class fits in a block (checked where they are made).
    static constexpr size_t kObjectSize = 48;
    static constexpr size_t kObjectAlignment = alignof(void*);

    // A new pool with one reference, or null when out of memory.
    static WrapperPool* Create() noexcept;

    // Room for one wrapper, or null when out of memory.
    void* Allocate() noexcept;
    // Gives back the room of a wrapper made by any pool, on whatever thread
    // serves the wrapper's document at the time.
    static void Free(void* object) noexcept;
    // Notes that the wrapper at `object` now serves a document other than
    // the one owning its pool (`current`, the pool of that document).
    static void NoteMovedTo(void* object, const WrapperPool* current) noexcept;
    // True once the wrapper at `object` was moved so.
    static bool IsMoved(const void* object) noexcept;

    // Each block records the node its wrapper stands for, and nothing once
    // the wrapper went: a node's link to its wrapper may outlive the wrapper
    // (see WrapperOf), and this is how such a link is told from a live one.
    // Readable for any block ever handed out, while its pool lives.
    static void SetNodeOf(void* object, const void* node) noexcept {
        BlockOf(object)->node.store(node, std::memory_order_relaxed);
    }
    static const void* NodeOf(const void* object) noexcept {
        return BlockOf(const_cast<void*>(object))->node.load(std::memory_order_relaxed);
    }

    void AddRef() noexcept { refs_.fetch_add(1, std::memory_order_relaxed); }
    void Release() noexcept;

    // Blocks handed out and not yet given back (moved ones excluded).
    size_t LiveCount() const noexcept { return live_; }
    // Blocks held in slabs, in use or free.
    size_t Capacity() const noexcept { return capacity_; }

  private:
    // One cache line: the owner, the node, the wrapper.
    struct Block {
        uintptr_t owner;  // the WrapperPool, with a tag bit once moved
        // Atomic: a stale link read on one thread may meet the block's
        // wrapper going on another (a wrapper moved to another document).
        std::atomic<const void*> node;
        union {
            Block* next;  // while free
            alignas(kObjectAlignment) unsigned char object[kObjectSize];
        };
    };
    // Small slabs come from the heap, huge-page ones are mapped (`mapped`
    // bytes) and unmapped.
    struct SlabDeleter {
        size_t mapped = 0;
        void operator()(Block* blocks) const noexcept;
    };
    using Slab = std::unique_ptr<Block[], SlabDeleter>;
    static Slab NewSlab(size_t blocks) noexcept;

    WrapperPool() = default;
    ~WrapperPool();
    WrapperPool(const WrapperPool&) = delete;
    WrapperPool& operator=(const WrapperPool&) = delete;

    static Block* BlockOf(void* object) noexcept {
        return reinterpret_cast<Block*>(static_cast<unsigned char*>(object) -
                                        offsetof(Block, object));
    }
    void FreeLocal(Block* block) noexcept;
    void FreeFromAnotherThread(Block* block) noexcept;
    bool AddSlab() noexcept;

    std::atomic<long> refs_{1};  // the owner's, plus one per moved wrapper
    std::vector<Slab> slabs_;
    Block* free_ = nullptr;    // freed blocks, reused first
    Block* unused_ = nullptr;  // the newest slab's never-used blocks
    Block* unusedEnd_ = nullptr;
    size_t capacity_ = 0;
    size_t live_ = 0;
    std::atomic<Block*> freedElsewhere_{nullptr};  // moved wrappers' blocks
};

// Holds one reference to a pool.
class WrapperPoolRef {
  public:
    WrapperPoolRef() = default;
    explicit WrapperPoolRef(WrapperPool* pool) noexcept : pool_(pool) {}
    ~WrapperPoolRef() {
        if (pool_ != nullptr) pool_->Release();
    }
    WrapperPoolRef(const WrapperPoolRef&) = delete;
    WrapperPoolRef& operator=(const WrapperPoolRef&) = delete;
    WrapperPool* get() const noexcept { return pool_; }

  private:
    WrapperPool* pool_ = nullptr;
};

}  // namespace xmlutil::xmldom
