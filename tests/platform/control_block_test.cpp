// The host control block: its character tables against <cctype>, the
// missing values, and the per-step block across a step boundary.
#include "platform/control_block.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <set>

#include "platform/memory.h"
#include "platform/session.h"

namespace {

using velix::platform::control_block;

uint64_t bits_of(double x) {
    uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

TEST(ControlBlock, CollatingTableFoldsCaseOnly) {
    const HostControlBlock* gcb = control_block();
    for (int c = 0; c < 256; ++c) {
        const int expected = c < 128 ? std::toupper(c) : c;
        EXPECT_EQ(gcb->collate[c], expected) << c;
    }
}

TEST(ControlBlock, CharacterClassesAgreeWithCctype) {
    const HostControlBlock* gcb = control_block();
    for (int c = 0; c < 128; ++c) {
        const uint16_t k = gcb->charClass[c];
        EXPECT_EQ((k & kCharWhite) != 0, std::isspace(c) != 0) << c;
        EXPECT_EQ((k & kCharAlnum) != 0, std::isalnum(c) != 0) << c;
        EXPECT_EQ((k & 0x4) != 0, std::isdigit(c) != 0) << c;  // bit 4: a digit
    }
    EXPECT_EQ(gcb->charClass[static_cast<unsigned char>('_')], 0);
}

TEST(ControlBlock, TranslationTables) {
    const HostControlBlock* gcb = control_block();
    for (int kind = 0; kind < 5; ++kind) ASSERT_NE(gcb->translate[kind], nullptr) << kind;
    for (int c = 0; c < 128; ++c) {
        EXPECT_EQ(gcb->translate[2][c], std::toupper(c)) << c;
        EXPECT_EQ(gcb->translate[1][c], std::tolower(c)) << c;
        EXPECT_EQ(gcb->translate[0][c], c) << c;
    }
}

TEST(ControlBlock, MissingValues) {
    const HostControlBlock* gcb = control_block();
    const double filling = gcb->doubles[velix::platform::kMissingValueElement];
    EXPECT_EQ(bits_of(filling), bits_of(host_missing_value()));
    EXPECT_EQ(bits_of(filling), bits_of(host_special_missing(0)));  // "."
    std::set<uint64_t> distinct;
    for (int code = 0; code < 28; ++code) {
        const uint64_t b = bits_of(host_special_missing(code));
        EXPECT_EQ(b >> 48, 0xFFFFu) << code;
        distinct.insert(b);
    }
    EXPECT_EQ(distinct.size(), 28u);
    EXPECT_EQ(bits_of(host_special_missing(99)), bits_of(host_missing_value()));
    EXPECT_EQ(bits_of(host_special_missing(-1)), bits_of(host_missing_value()));
}

TEST(ControlBlock, StepBlockIsEmptiedAtStepEnd) {
    HostControlBlock* gcb = control_block();
    ASSERT_NE(gcb->step, nullptr);
    EXPECT_EQ(gcb->stepAllocator, velix::platform::step_allocator());
    velix::platform::begin_step();
    gcb->step->messagePool = xmpoolc(100, 1024, 4096);
    gcb->step->printBlock = static_cast<PrintBlock*>(
        gcb->stepAllocator->allocate(gcb->stepAllocator, sizeof(PrintBlock), 4102));
    velix::platform::end_step();
    EXPECT_EQ(gcb->step->messagePool, nullptr);
    EXPECT_EQ(gcb->step->printBlock, nullptr);
    EXPECT_EQ(velix::platform::memory_counts().pools, 0u);
    EXPECT_EQ(velix::platform::memory_counts().stepBlocks, 0u);
}

}  // namespace
