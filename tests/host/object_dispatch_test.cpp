// Method lookup through a class chain, and the allocator thunks passing
// their arguments through unchanged.
#include "host/object_dispatch.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Call {
    HostObject* object;
    void* entryDatum;
    void* descriptorDatum;
    int32_t count;
    KyrArg* args;
};
std::vector<Call> calls;

int32_t record(HostObject* object, void* entryDatum, void* descriptorDatum, int32_t count, KyrArg* args) {
    calls.push_back({object, entryDatum, descriptorDatum, count, args});
    return static_cast<int32_t>(reinterpret_cast<intptr_t>(descriptorDatum));
}

// A class with one bucket array of mask+1 heads.
struct TestClass {
    std::vector<HostMethodEntry*> heads;
    HostClass cls;
    explicit TestClass(uint32_t mask, HostClass* parent = nullptr) : heads(mask + 1, nullptr) {
        cls.parent = parent;
        cls.buckets = heads.data();
        cls.bucketMask = mask;
    }
    // Puts the entry at the head of its bucket's chain.
    void add(HostMethodEntry* e) {
        e->next = heads[e->method & cls.bucketMask];
        heads[e->method & cls.bucketMask] = e;
    }
};

class Dispatch : public ::testing::Test {
protected:
    void SetUp() override { calls.clear(); }

    // Descriptor data double as the statuses the method returns.
    HostMethodDescriptor parentMethod{record, reinterpret_cast<void*>(intptr_t{11})};
    HostMethodDescriptor childMethod{record, reinterpret_cast<void*>(intptr_t{22})};
    HostMethodDescriptor collider{record, reinterpret_cast<void*>(intptr_t{33})};
    int entryDatumA = 0, entryDatumB = 0, entryDatumC = 0;
    HostMethodEntry onParent{nullptr, &entryDatumA, &parentMethod, 147};
    HostMethodEntry onChild{nullptr, &entryDatumB, &childMethod, 329};
    // 329 + 8 lands in the same bucket as 329 under mask 7.
    HostMethodEntry sameBucket{nullptr, &entryDatumC, &collider, 337};
    TestClass parent{3};
    TestClass child{7, &parent.cls};
};

TEST_F(Dispatch, MethodOfAParentIsFoundThroughTheChain) {
    parent.add(&onParent);
    child.add(&onChild);
    HostObject object{&child.cls};
    KyrArg args[2];
    EXPECT_EQ(wobmth(&object, nullptr, 147, 2, args), 11);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].object, &object);  // the object, not its class
    EXPECT_EQ(calls[0].entryDatum, &entryDatumA);
    EXPECT_EQ(calls[0].count, 2);
    EXPECT_EQ(calls[0].args, args);
}

TEST_F(Dispatch, ChainOfOneBucketIsWalkedToTheMatchingNumber) {
    child.add(&onChild);
    child.add(&sameBucket);  // now ahead of onChild in the chain
    HostObject object{&child.cls};
    EXPECT_EQ(wobmth(&object, nullptr, 329, 0, nullptr), 22);
    EXPECT_EQ(wobmth(&object, nullptr, 337, 0, nullptr), 33);
}

TEST_F(Dispatch, UnknownMethodGivesNegativeCode) {
    parent.add(&onParent);
    child.add(&onChild);
    HostObject object{&child.cls};
    EXPECT_EQ(wobmth(&object, nullptr, 999, 0, nullptr), static_cast<int32_t>(0x80008001u));
    EXPECT_LT(kNoSuchMethod, 0);
    EXPECT_TRUE(calls.empty());
}

TEST_F(Dispatch, GivenClassOverridesTheObjectsOwn) {
    parent.add(&onParent);
    child.add(&onChild);
    HostObject object{&child.cls};
    // Starting from the parent, the child's method is out of reach.
    EXPECT_EQ(wobmth(&object, &parent.cls, 329, 0, nullptr), kNoSuchMethod);
    EXPECT_EQ(wobmth(&object, &parent.cls, 147, 0, nullptr), 11);
    EXPECT_EQ(calls.back().object, &object);
}

struct Recorder : HostAllocator {
    size_t bytes = 0;
    int32_t tag = 0;
    void* freed = nullptr;
    int32_t zero = -1, four = -1;
    char block[8] = {};
};

void* recorder_allocate(HostAllocator* self, size_t bytes, int32_t tag) {
    auto* r = static_cast<Recorder*>(self);
    r->bytes = bytes;
    r->tag = tag;
    return r->block;
}

void recorder_release(HostAllocator* self, void* block, int32_t zero, int32_t four) {
    auto* r = static_cast<Recorder*>(self);
    r->freed = block;
    r->zero = zero;
    r->four = four;
}

TEST(AllocatorThunks, PassArgumentsUnchanged) {
    Recorder r;
    r.allocate = recorder_allocate;
    r.release = recorder_release;
    EXPECT_EQ(vmalcp_handler(&r, 34000, 4096), r.block);
    EXPECT_EQ(r.bytes, 34000u);
    EXPECT_EQ(r.tag, 4096);
    EXPECT_EQ(vmalloc_handler(&r, 12, 4102), r.block);
    EXPECT_EQ(r.bytes, 12u);
    EXPECT_EQ(r.tag, 4102);
    vmfree_handler(&r, r.block, 0, 4);
    EXPECT_EQ(r.freed, r.block);
    EXPECT_EQ(r.zero, 0);
    EXPECT_EQ(r.four, 4);
}

}  // namespace
