// Scratch files: what is written is read back at any byte position, reads
// past the end fail, bad handles fail instead of crashing, injected
// failures reach the caller, and a step end frees every file.
#include "platform/scratch.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

#include "platform/session.h"

namespace {

using velix::platform::scratch_counts;

class Scratch : public ::testing::Test {
protected:
    void SetUp() override { velix::platform::begin_step(); }
    void TearDown() override { velix::platform::end_step(); }
    HostFile* open() {
        ScratchFileRequest request;
        request.attributeWord = 0x82000008;
        HostFile* f = nullptr;
        EXPECT_EQ(xcopen(&f, &request), 0);
        EXPECT_NE(f, nullptr);
        return f;
    }
};

TEST_F(Scratch, RecordsReadBackByPosition) {
    HostFile* f = open();
    // Records of (int32 code, double value) as a writer lays them out.
    for (int32_t k = 0; k < 100; ++k) {
        const double v = k * 0.5;
        ASSERT_EQ(xcwrite(f, &k, sizeof k), 0);
        ASSERT_EQ(xcwrite(f, &v, sizeof v), 0);
    }
    const int64_t record = sizeof(int32_t) + sizeof(double);
    for (int32_t k : {57, 0, 99, 3}) {
        ASSERT_EQ(xcpoint(f, k * record), 0);
        int32_t code = -1;
        double v = -1;
        ASSERT_EQ(xcread(f, &code, sizeof code), 0);
        ASSERT_EQ(xcread(f, &v, sizeof v), 0);
        EXPECT_EQ(code, k);
        EXPECT_EQ(v, k * 0.5);
    }
}

TEST_F(Scratch, OverwriteInPlaceAndGapReadsZero) {
    HostFile* f = open();
    std::vector<unsigned char> data(64);
    std::iota(data.begin(), data.end(), 1);
    ASSERT_EQ(xcwrite(f, data.data(), 64), 0);
    const unsigned char patch[4] = {200, 201, 202, 203};
    ASSERT_EQ(xcpoint(f, 10), 0);
    ASSERT_EQ(xcwrite(f, patch, 4), 0);
    ASSERT_EQ(xcpoint(f, 100), 0);  // past the end, then write: a gap
    ASSERT_EQ(xcwrite(f, patch, 4), 0);
    EXPECT_EQ(scratch_counts().bytes, 104u);

    std::vector<unsigned char> back(104);
    ASSERT_EQ(xcpoint(f, 0), 0);
    ASSERT_EQ(xcread(f, back.data(), 104), 0);
    std::vector<unsigned char> expected(104, 0);
    std::copy(data.begin(), data.end(), expected.begin());
    std::copy(patch, patch + 4, expected.begin() + 10);
    std::copy(patch, patch + 4, expected.begin() + 100);
    EXPECT_EQ(back, expected);
}

TEST_F(Scratch, ReadingPastTheEndFails) {
    HostFile* f = open();
    const double x = 1.0;
    ASSERT_EQ(xcwrite(f, &x, sizeof x), 0);
    double y = 0;
    ASSERT_EQ(xcpoint(f, 4), 0);
    EXPECT_EQ(xcread(f, &y, sizeof y), kScratchPastEnd);
    EXPECT_EQ(y, 0.0);  // nothing was moved
    ASSERT_EQ(xcpoint(f, 0), 0);
    EXPECT_EQ(xcread(f, &y, sizeof y), 0);  // the position did not advance on failure
    EXPECT_EQ(y, 1.0);
    ASSERT_EQ(xcpoint(f, 1000), 0);
    EXPECT_EQ(xcread(f, &y, 0), kScratchPastEnd);
    EXPECT_EQ(xcpoint(f, -1), kScratchBadPosition);
}

TEST_F(Scratch, BadHandlesFail) {
    char buffer[4] = {};
    EXPECT_EQ(xcopen(nullptr, nullptr), kScratchBadHandle);
    EXPECT_EQ(xcpoint(nullptr, 0), kScratchBadHandle);
    EXPECT_EQ(xcread(nullptr, buffer, 4), kScratchBadHandle);
    EXPECT_EQ(xcwrite(nullptr, buffer, 4), kScratchBadHandle);
    EXPECT_EQ(xcclose(nullptr, 1), kScratchBadHandle);
    HostFile* f = open();
    EXPECT_EQ(xcclose(f, 1), 0);
    EXPECT_EQ(xcclose(f, 1), kScratchBadHandle);  // closed twice
    EXPECT_EQ(xcwrite(f, buffer, 4), kScratchBadHandle);
}

TEST_F(Scratch, NthOperationFails) {
    HostFile* f = open();
    velix::platform::fail_nth_scratch_operation(3);
    const int32_t v = 5;
    EXPECT_EQ(xcwrite(f, &v, sizeof v), 0);
    EXPECT_EQ(xcpoint(f, 0), 0);
    int32_t w = 0;
    EXPECT_EQ(xcread(f, &w, sizeof w), kScratchInjected);
    EXPECT_EQ(xcread(f, &w, sizeof w), 0);
    EXPECT_EQ(w, 5);

    velix::platform::fail_nth_scratch_operation(1);
    HostFile* g = reinterpret_cast<HostFile*>(&w);
    EXPECT_EQ(xcopen(&g, nullptr), kScratchInjected);
    EXPECT_EQ(g, nullptr);
}

// A large record followed by a small one (a matrix, then a vector) holds
// about its own length: the file does not double to take the small one.
TEST_F(Scratch, GrowingFileHoldsAboutItsLength) {
    HostFile* f = open();
    const int64_t big = 5 * (int64_t{1} << 20) + 12345;
    std::vector<unsigned char> record(static_cast<size_t>(big));
    std::iota(record.begin(), record.end(), static_cast<unsigned char>(7));
    ASSERT_EQ(xcwrite(f, record.data(), big), 0);
    const double tail[3] = {1.5, -2.5, 3.5};
    ASSERT_EQ(xcwrite(f, tail, sizeof tail), 0);
    const auto counts = scratch_counts();
    const auto length = static_cast<size_t>(big) + sizeof tail;
    EXPECT_EQ(counts.bytes, length);
    EXPECT_LT(counts.held, length + (size_t{1} << 20)) << "held " << counts.held << " for " << length;
    // Both read back across the page boundaries.
    std::vector<unsigned char> back(record.size());
    double tailBack[3] = {};
    ASSERT_EQ(xcpoint(f, 0), 0);
    ASSERT_EQ(xcread(f, back.data(), big), 0);
    ASSERT_EQ(xcread(f, tailBack, sizeof tailBack), 0);
    EXPECT_EQ(back, record);
    EXPECT_EQ(std::memcmp(tail, tailBack, sizeof tail), 0);
    // A write far beyond any file held in memory fails, and the file stays.
    ASSERT_EQ(xcpoint(f, int64_t{1} << 50), 0);
    EXPECT_EQ(xcwrite(f, tail, sizeof tail), kScratchNoMemory);
    EXPECT_EQ(scratch_counts().bytes, length);
}

TEST_F(Scratch, StepEndFreesEveryFile) {
    for (int k = 0; k < 4; ++k) {
        HostFile* f = open();
        const double x = k;
        xcwrite(f, &x, sizeof x);
    }
    EXPECT_EQ(scratch_counts().files, 4u);
    velix::platform::end_step();
    EXPECT_EQ(scratch_counts().files, 0u);
    EXPECT_EQ(scratch_counts().bytes, 0u);
    velix::platform::begin_step();
}

}  // namespace
