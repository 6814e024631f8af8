// Memory pools (arenas), the step allocator and the saved-message pool
// services: blocks are usable and disjoint, deletion and step ends free
// everything, and injected failures surface through xmemdef.
#include "platform/memory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <utility>
#include <vector>

#include "platform/session.h"

namespace {

using velix::platform::memory_counts;

class Memory : public ::testing::Test {
protected:
    void SetUp() override {
        savedLog_ = velix::platform::session().log;
        velix::platform::session().log = &log_;
        velix::platform::begin_step();
    }
    void TearDown() override {
        velix::platform::end_step();
        velix::platform::session().log = savedLog_;
    }
    void* take(HostAllocator* pool, size_t bytes) { return pool->allocate(pool, bytes, 4096); }
    std::ostringstream log_;

private:
    std::ostream* savedLog_ = nullptr;
};

TEST_F(Memory, BlocksAreZeroedAlignedAndDisjoint) {
    HostAllocator* pool = xmpoolc(1000, 1024, 4096);
    ASSERT_NE(pool, nullptr);
    std::vector<std::pair<uintptr_t, size_t>> blocks;
    // Sizes that cross chunk boundaries, one larger than any chunk estimate.
    for (size_t bytes : {1u, 7u, 16u, 3000u, 5000u, 100000u, 24u}) {
        auto* p = static_cast<unsigned char*>(take(pool, bytes));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u);
        EXPECT_TRUE(std::all_of(p, p + bytes, [](unsigned char c) { return c == 0; }));
        std::memset(p, 0xAB, bytes);
        blocks.emplace_back(reinterpret_cast<uintptr_t>(p), bytes);
        EXPECT_EQ(xmemdef(p), 0);
    }
    std::sort(blocks.begin(), blocks.end());
    for (size_t i = 1; i < blocks.size(); ++i)
        EXPECT_LE(blocks[i - 1].first + blocks[i - 1].second, blocks[i].first) << "blocks overlap";
}

TEST_F(Memory, DeleteFreesThePoolAndZeroIsANoOp) {
    HostAllocator* a = xmpoolc(4096, 1024, 4096);
    HostAllocator* b = xmpoolc(4096, 1024, 4096);
    take(a, 100);
    take(b, 100);
    EXPECT_EQ(memory_counts().pools, 2u);
    xmpoold(a);
    EXPECT_EQ(memory_counts().pools, 1u);
    xmpoold(nullptr);
    xmpoold(a);  // deleted before: nothing happens
    EXPECT_EQ(memory_counts().pools, 1u);
    EXPECT_NE(take(b, 10), nullptr);
}

TEST_F(Memory, StepEndFreesWhatTheModuleLeft) {
    // Many BY groups that each leave their pools undeleted.
    for (int group = 0; group < 50; ++group) {
        HostAllocator* pool = xmpoolc(8192, 1024, 4096);
        take(pool, 1000);
        take(velix::platform::step_allocator(), 64);
    }
    EXPECT_EQ(memory_counts().pools, 50u);
    EXPECT_EQ(memory_counts().stepBlocks, 50u);
    velix::platform::end_step();
    EXPECT_EQ(memory_counts().pools, 0u);
    EXPECT_EQ(memory_counts().poolBytes, 0u);
    EXPECT_EQ(memory_counts().stepBlocks, 0u);
    velix::platform::begin_step();
}

TEST_F(Memory, StepAllocatorReturnsBlocksOneByOne) {
    HostAllocator* step = velix::platform::step_allocator();
    void* a = take(step, 200);
    void* b = take(step, 200);
    EXPECT_EQ(memory_counts().stepBlocks, 2u);
    step->release(step, a, 0, 4);
    step->release(step, a, 0, 4);  // twice: the second is ignored
    EXPECT_EQ(memory_counts().stepBlocks, 1u);
    step->release(step, b, 0, 4);
    EXPECT_EQ(memory_counts().stepBlocks, 0u);
}

TEST_F(Memory, NthAllocationOfAPoolFailsAndXmemdefSaysSo) {
    HostAllocator* pool = xmpoolc(4096, 1024, 4096);
    velix::platform::fail_pool_allocation(pool, 2);
    void* first = take(pool, 10);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(take(pool, 10), nullptr);
    void* third = take(pool, 10);
    ASSERT_NE(third, nullptr);
    // The last block is fine, but the pool had a failure.
    EXPECT_EQ(xmemdef(third), kMemoryShortage);
    EXPECT_EQ(xmemdef(nullptr), kMemoryShortage);

    // Another pool is not affected.
    HostAllocator* other = xmpoolc(4096, 1024, 4096);
    EXPECT_EQ(xmemdef(take(other, 10)), 0);
}

TEST_F(Memory, GlobalCountdownAndPoolCreationFailure) {
    HostAllocator* pool = xmpoolc(4096, 1024, 4096);
    velix::platform::fail_nth_allocation(3);
    EXPECT_NE(take(pool, 8), nullptr);
    EXPECT_NE(take(velix::platform::step_allocator(), 8), nullptr);
    EXPECT_EQ(take(pool, 8), nullptr);
    EXPECT_NE(take(pool, 8), nullptr);

    velix::platform::fail_nth_pool_creation(2);
    EXPECT_NE(xmpoolc(10, 1024, 4096), nullptr);
    EXPECT_EQ(xmpoolc(10, 1024, 4096), nullptr);
    EXPECT_NE(xmpoolc(10, 1024, 4096), nullptr);
}

TEST_F(Memory, AllocationLimitIsWhatXmsizeAnswers) {
    HostAllocator* pool = xmpoolc(4096, 1024, 4096);
    EXPECT_EQ(xmsize(pool), 0x7fffffff);
    velix::platform::set_allocation_limit(1000);
    EXPECT_EQ(xmsize(pool), 1000);
    EXPECT_NE(take(pool, 1000), nullptr);
    EXPECT_EQ(take(pool, 1001), nullptr);
    EXPECT_EQ(take(velix::platform::step_allocator(), 1001), nullptr);
    // A step end restores the default.
    velix::platform::end_step();
    velix::platform::begin_step();
    EXPECT_EQ(xmsize(nullptr), 0x7fffffff);
}

TEST_F(Memory, ShortageMessagesTellSizeFromCode) {
    xmemmsg(123456);
    xmemmsg(kMemoryShortage + 20000);
    const std::string l = log_.str();
    EXPECT_NE(l.find("123456"), std::string::npos) << l;
    EXPECT_EQ(l.find("21016"), std::string::npos) << l;
    EXPECT_EQ(std::count(l.begin(), l.end(), '\n'), 2);
}

TEST_F(Memory, MessagePoolIsEmptiedAndFreed) {
    HostAllocator* pool = zprlzmi(0, -1);
    ASSERT_NE(pool, nullptr);
    take(pool, 500);
    EXPECT_GT(memory_counts().poolBytes, 0u);
    EXPECT_EQ(zprlzmr(pool, 0, 0, 7168), 0);
    EXPECT_EQ(memory_counts().poolBytes, 0u);
    EXPECT_EQ(memory_counts().pools, 1u);
    EXPECT_NE(take(pool, 500), nullptr);  // usable after emptying
    EXPECT_EQ(zprlzme(pool), 0);
    EXPECT_EQ(memory_counts().pools, 0u);
    EXPECT_NE(zprlzme(pool), 0);  // not a live pool any more
    EXPECT_NE(zprlzmr(pool, 0, 0, 7168), 0);
}

}  // namespace
