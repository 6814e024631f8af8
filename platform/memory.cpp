// Memory pools as arenas (region-based allocation: Hanson, "Fast allocation
// and deallocation of memory based on object lifetimes", Software Practice
// and Experience 20(1), 1990).  A pool hands out blocks by bumping a
// pointer through chunks it takes from the system and gives everything back
// at once when it is deleted or emptied; returning one block is a no-op.
// The step allocator instead tracks each block, since its blocks are
// returned one by one.  All pools and step blocks still alive when a step
// ends are freed then.
#include "platform/memory.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <unordered_map>
#include <vector>

#include "platform/control_block.h"
#include "platform/messages.h"
#include "platform/print.h"
#include "platform/session.h"
#include "velix/codes.h"
#include "velix/messages.h"

namespace velix::platform {
namespace {

// Blocks are aligned for any scalar the module stores in them.
constexpr size_t kAlignment = 16;
// Chunk sizes: the pool's estimate, kept within these bounds, and at least
// the block asked for.
constexpr size_t kMinChunk = 4096;
constexpr size_t kMaxChunk = size_t{16} << 20;
// The host's per-allocation limit: a 32-bit byte count.
constexpr int64_t kDefaultLimit = 0x7fffffff;
// The code xmemmsg receives in place of a byte count: the shortage code
// plus this offset.
constexpr int64_t kCodeOffset = 20000;

// Zeroed memory from calloc: a large block comes as fresh zero pages of the
// system, so that its pages are only touched (and faulted in) as the module
// writes them, where new[]() would write every byte first.
struct FreeBytes {
    void operator()(std::byte* p) const { std::free(p); }
};
using ZeroedBytes = std::unique_ptr<std::byte[], FreeBytes>;

ZeroedBytes zeroed_bytes(size_t bytes) { return ZeroedBytes(static_cast<std::byte*>(std::calloc(bytes, 1))); }

struct Chunk {
    ZeroedBytes memory;
    size_t size = 0;
};

struct Pool : HostAllocator {
    std::vector<Chunk> chunks;
    size_t used = 0;          // bytes used in the last chunk
    size_t chunkSize = kMinChunk;
    bool failed = false;      // an allocation of this pool failed
    int failAt = 0;           // its own countdown, 0 when disarmed
};

struct State {
    std::set<Pool*> pools;
    // Start of every live chunk -> its pool, to find the pool of a block.
    std::map<const std::byte*, std::pair<size_t, Pool*>> chunkOwner;
    std::unordered_map<void*, ZeroedBytes> stepBlocks;
    int failCreation = 0;
    int failAllocation = 0;
    int64_t limit = kDefaultLimit;
};

State& state() {
    static State s;
    return s;
}

// Counts a countdown down; true when this is the call that must fail.
bool count_down(int& countdown) {
    if (countdown <= 0) return false;
    return --countdown == 0;
}

bool injected_failure(Pool* pool) {
    State& s = state();
    const bool global = count_down(s.failAllocation);
    const bool own = pool != nullptr && count_down(pool->failAt);
    return global || own;
}

size_t round_up(size_t bytes) { return (bytes + kAlignment - 1) / kAlignment * kAlignment; }

void* pool_allocate(HostAllocator* self, size_t bytes, int32_t /*tag*/) {
    Pool* pool = static_cast<Pool*>(self);
    State& s = state();
    if (injected_failure(pool) || static_cast<int64_t>(bytes) > s.limit) {
        pool->failed = true;
        return nullptr;
    }
    const size_t need = round_up(bytes == 0 ? 1 : bytes);
    if (pool->chunks.empty() || pool->chunks.back().size - pool->used < need) {
        Chunk c;
        c.size = std::max(pool->chunkSize, need);
        c.memory = zeroed_bytes(c.size);
        if (!c.memory) {
            pool->failed = true;
            return nullptr;
        }
        s.chunkOwner[c.memory.get()] = {c.size, pool};
        pool->chunks.push_back(std::move(c));
        pool->used = 0;
    }
    std::byte* block = pool->chunks.back().memory.get() + pool->used;
    pool->used += need;
    return block;
}

// A block of a pool goes back with the whole pool.
void pool_release(HostAllocator*, void*, int32_t, int32_t) {}

void free_chunks(Pool* pool) {
    State& s = state();
    for (const Chunk& c : pool->chunks) s.chunkOwner.erase(c.memory.get());
    pool->chunks.clear();
    pool->used = 0;
    pool->failed = false;
}

Pool* live_pool(const HostAllocator* handle) {
    State& s = state();
    auto it = s.pools.find(const_cast<Pool*>(static_cast<const Pool*>(handle)));
    return it != s.pools.end() ? *it : nullptr;
}

Pool* make_pool(int64_t estimate) {
    State& s = state();
    if (count_down(s.failCreation)) return nullptr;
    auto* pool = new (std::nothrow) Pool();
    if (pool == nullptr) return nullptr;
    pool->allocate = pool_allocate;
    pool->release = pool_release;
    pool->chunkSize = estimate <= 0 ? kMinChunk
                                    : std::clamp(static_cast<size_t>(estimate), kMinChunk, kMaxChunk);
    s.pools.insert(pool);
    return pool;
}

void delete_pool(Pool* pool) {
    free_chunks(pool);
    state().pools.erase(pool);
    delete pool;
}

void* step_allocate(HostAllocator*, size_t bytes, int32_t /*tag*/) {
    State& s = state();
    if (injected_failure(nullptr) || static_cast<int64_t>(bytes) > s.limit) return nullptr;
    ZeroedBytes block = zeroed_bytes(bytes == 0 ? 1 : bytes);
    if (!block) return nullptr;
    void* address = block.get();
    s.stepBlocks.emplace(address, std::move(block));
    return address;
}

void step_release(HostAllocator*, void* block, int32_t, int32_t) {
    // A block the allocator does not hold (already returned, or never its
    // own) is left alone rather than freed twice.
    state().stepBlocks.erase(block);
}

HostAllocator theStepAllocator{step_allocate, step_release};

void end_of_step() {
    State& s = state();
    while (!s.pools.empty()) delete_pool(*s.pools.begin());
    s.stepBlocks.clear();
    s.failCreation = 0;
    s.failAllocation = 0;
    s.limit = kDefaultLimit;
}

const StepHooks hooks("memory", nullptr, end_of_step);

}  // namespace

HostAllocator* step_allocator() { return &theStepAllocator; }

void fail_nth_pool_creation(int n) { state().failCreation = n > 0 ? n : 0; }
void fail_nth_allocation(int n) { state().failAllocation = n > 0 ? n : 0; }

void fail_pool_allocation(HostAllocator* pool, int n) {
    if (Pool* p = live_pool(pool)) p->failAt = n > 0 ? n : 0;
}

void set_allocation_limit(int64_t bytes) { state().limit = bytes > 0 ? bytes : kDefaultLimit; }

MemoryCounts memory_counts() {
    const State& s = state();
    MemoryCounts c;
    c.pools = s.pools.size();
    for (const auto& [start, owner] : s.chunkOwner) c.poolBytes += owner.first;
    c.stepBlocks = s.stepBlocks.size();
    return c;
}

}  // namespace velix::platform

using velix::platform::Pool;

HostAllocator* xmpoolc(int64_t estimate, int32_t /*increment*/, int32_t /*tag*/, int32_t /*kind*/) {
    return velix::platform::make_pool(estimate);
}

void xmpoold(HostAllocator* pool) {
    // 0, or a handle that is no live pool (deleted before), is a no-op.
    if (Pool* p = velix::platform::live_pool(pool)) velix::platform::delete_pool(p);
}

int64_t xmsize(HostAllocator* /*pool*/) { return velix::platform::state().limit; }

int32_t xmemdef(const void* lastBlock) {
    //   no block: the allocation failed; otherwise the block's pool says
    //   whether any of its allocations failed
    if (lastBlock == nullptr) return kMemoryShortage;
    const auto& owners = velix::platform::state().chunkOwner;
    const auto* address = static_cast<const std::byte*>(lastBlock);
    auto it = owners.upper_bound(address);
    if (it == owners.begin()) return 0;
    --it;
    const auto& [size, pool] = it->second;
    if (address >= it->first + size) return 0;
    return pool->failed ? kMemoryShortage : 0;
}

void xmemmsg(int64_t sizeOrCode) {
    if (sizeOrCode == kMemoryShortage + velix::platform::kCodeOffset)
        velix::platform::write_log(velix::platform::format_message(kMsgHost, kMsgHostNoMemoryToContinue));
    else
        velix::platform::write_log(
            velix::platform::format_message(kMsgHost, kMsgHostNoMemoryForRequest, sizeOrCode));
}

HostAllocator* zprlzmi(int32_t /*zero*/, int64_t initialSize) {
    return velix::platform::make_pool(initialSize);
}

int32_t zprlzmr(HostAllocator* pool, int32_t, int32_t, int32_t) {
    Pool* p = velix::platform::live_pool(pool);
    if (p == nullptr) return 1;
    velix::platform::free_chunks(p);
    return 0;
}

int32_t zprlzme(HostAllocator* pool) {
    Pool* p = velix::platform::live_pool(pool);
    if (p == nullptr) return 1;
    velix::platform::delete_pool(p);
    return 0;
}
