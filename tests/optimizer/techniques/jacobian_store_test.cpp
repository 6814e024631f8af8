// The least-squares Jacobian store: columns written and read back as J u,
// as the whole matrix and as rows of the cross product, and Gauss-Newton
// running on it.
#include <vector>

#include "optimizer/core/pending.h"
#include "tests/optimizer/techniques/technique_fixture.h"

namespace {

using namespace velix::test;

class JacobianStore : public NlpStep {
protected:
    HostFile* open() {
        ScratchFileRequest request;
        request.attributeWord = 0x82000008;
        HostFile* f = nullptr;
        EXPECT_EQ(xcopen(&f, &request), 0);
        return f;
    }
};

TEST_F(JacobianStore, ColumnsGiveTheProductAndTheCrossProduct) {
    TestProblem t({0.0, 0.0}, [](const double*) { return 0.0; });
    t.p.shape.nFunctions = 3;
    const double c0[] = {1, 2, 3}, c1[] = {-1, 0.5, 4}, u[] = {2, -1}, f[] = {1, -2, 0.5};
    double ju[3], row[2], whole[6];
    EXPECT_NE(znlpjwt(&t.p, 0, 0, 1, c0), 0);  // no store file: nothing stored
    EXPECT_NE(znlpjrd(&t.p, whole), 0);
    t.p.opt.jacobianFile = open();
    ASSERT_EQ(znlpjwt(&t.p, 0, 0, 1, c0), 0);
    ASSERT_EQ(znlpjwt(&t.p, 0, 1, 1, c1), 0);
    ASSERT_EQ(znlpjve(&t.p, u, ju), 0);
    for (int i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(ju[i], 2 * c0[i] - c1[i]);
    ASSERT_EQ(znlpjrd(&t.p, whole), 0);  // by rows: row i holds J(i, 0), J(i, 1)
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(whole[2 * i], c0[i]) << i;
        EXPECT_EQ(whole[2 * i + 1], c1[i]) << i;
    }
    ASSERT_EQ(znlpjdt(&t.p, 1, f, c1, row), 0);
    EXPECT_DOUBLE_EQ(row[0], -1 + 1 + 12);    // c0'c1
    EXPECT_DOUBLE_EQ(row[1], 1 + 0.25 + 16);  // c1'c1
    // The least-squares form weights each term by the squared function value.
    t.p.opt.crossProductForm = 1;
    t.p.shape.leastSquares = 1;
    ASSERT_EQ(znlpjdt(&t.p, 1, f, c1, row), 0);
    EXPECT_DOUBLE_EQ(row[0], -1 * 1 + 1 * 4 + 12 * 0.25);
}

// Gauss-Newton takes J'J from the store: the Hessian slot fails, so a run
// that reached for it would end in a failure.
TEST_F(JacobianStore, GaussNewtonMinimisesFromTheStore) {
    for (const Standard& s : standard_problems()) {
        if (s.fLocal >= 0) continue;  // the large-residual minimum: see the GAUNEW tests
        TechniqueProblem t(s, kTechGaunew, false);
        t.use_store(open());
        t.p.cb.hessianFn = [](NlpProblem*) { return 1; };
        const int32_t status = run_driver(&t);
        EXPECT_TRUE(status >= kNlpAbsConv && status <= kNlpGConv2) << s.name << " " << status;
        EXPECT_NEAR(t.p.iter.f, 0.0, 1e-6) << s.name;
        for (size_t i = 1; i < t.path.size(); ++i) EXPECT_LE(t.path[i], t.path[i - 1]) << s.name;
    }
}

}  // namespace
