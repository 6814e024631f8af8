// The Hessian of a quadratic objective loaded from its utility file: the
// listed entries land at their places of the packed and diagonal storages,
// every other entry is cleared.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "optimizer/core/core.h"
#include "tests/optimizer/core/nlp_fixture.h"
#include "velix/host.h"
#include "velix/packed_index.h"

namespace {

using velix::pk;

// A file holding the record (count, positions, values).
HostFile* record(const std::vector<int32_t>& pos, const std::vector<double>& val) {
    HostFile* file = nullptr;
    ScratchFileRequest request;
    request.attributeWord = 0x82000008;
    const int32_t c = static_cast<int32_t>(pos.size());
    EXPECT_EQ(xcopen(&file, &request), 0);
    EXPECT_EQ(xcwrite(file, &c, 4) | xcwrite(file, pos.data(), 4 * c) | xcwrite(file, val.data(), 8 * c), 0);
    return file;
}

// H = [2 0 -1; 0 3 0; -1 0 4] from the nonzeros of its lower triangle, and
// a diagonal from two of its entries.
TEST(QuadraticHessian, EntriesFromTheFileInPackedAndDiagonalStorage) {
    velix::test::TestProblem t(std::vector<double>(3, 0.0), [](const double*) { return 0.0; });
    std::vector<double> h(6, 7.0);
    t.p.hess.hessian = h.data();
    t.p.shape.hessianFile = record({pk(0, 0), pk(1, 1), pk(2, 0), pk(2, 2)}, {2.0, 3.0, -1.0, 4.0});
    znlphlo(&t.p);
    EXPECT_EQ(h, (std::vector<double>{2.0, 0.0, 3.0, -1.0, 0.0, 4.0}));
    xcclose(t.p.shape.hessianFile, 1);
    t.p.opt.hessianStorage = 2;
    t.p.shape.hessianFile = record({2, 0}, {5.0, 6.0});
    znlphlo(&t.p);
    EXPECT_EQ(std::vector<double>(h.begin(), h.begin() + 3), (std::vector<double>{6.0, 0.0, 5.0}));
    xcclose(t.p.shape.hessianFile, 1);
}

}  // namespace
