// The first trial step, the quasi-Newton start matrix, the first-order
// multipliers and the Lagrange function on small problems with known
// answers.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <vector>

#include "host/fields.h"
#include "optimizer/core/multipliers.h"
#include "platform/step_exit.h"
#include "tests/optimizer/core/nlp_fixture.h"

namespace {

using namespace velix::test;

double zero(const double*) { return 0.0; }

struct Multipliers : NlpStep {
    TestProblem t{{2.0, -1.0}, zero};
    void SetUp() override {
        NlpStep::SetUp();
        t.dir = {1.0, 1.0};
        t.xBase = t.x;
        t.p.iter.stepBound = DBL_MAX;
        t.p.iter.expectedReduction = host_missing_value();
    }
};

TEST_F(Multipliers, FirstTrialStep) {
    // No INSTEP and no expected reduction: 0.1 (2.5 * 0 / |g's| is smaller).
    EXPECT_DOUBLE_EQ(znlpalf(&t.p, -3.0), 0.1);
    // An expected reduction of 6 along a slope of -3: 2.5 * 6 / 3 = 5, capped at MAXSTEP 1.
    t.p.iter.expectedReduction = 6.0;
    EXPECT_DOUBLE_EQ(znlpalf(&t.p, -3.0), 1.0);
    t.p.opt.stepCap = 10.0;
    EXPECT_DOUBLE_EQ(znlpalf(&t.p, -3.0), 5.0);
    // The step bound caps it; a zero direction returns the bound.
    t.p.iter.stepBound = 0.25;
    EXPECT_DOUBLE_EQ(znlpalf(&t.p, -3.0), 0.25);
    t.dir = {0.0, 0.0};
    EXPECT_DOUBLE_EQ(znlpalf(&t.p, -3.0), 0.25);
    // INSTEP times the last step after the first iteration.
    t.dir = {1.0, 1.0};
    t.p.iter.stepBound = DBL_MAX;
    t.p.opt.inStep = 0.5;
    t.p.run.iterSinceStart = 3;
    t.p.iter.lastStep = 0.8;
    EXPECT_DOUBLE_EQ(znlpalf(&t.p, -3.0), 0.4);
}

TEST_F(Multipliers, StartMatrixScaledToTheGradient) {
    std::vector<double> h(3);
    t.grad = {0.0, 0.0};
    ASSERT_EQ(znlphin(&t.p, 1, 0, 0, 0, h.data()), 0);
    EXPECT_EQ(h, (std::vector<double>{0.01, 0.0, 0.01}));
    t.grad = {1000.0, -3.0};
    t.p.iter.ridge = 0.5;
    ASSERT_EQ(znlphin(&t.p, 1, 0, 0, 0, h.data()), 0);
    EXPECT_EQ(h[0], 100.5);
    // Phase 2, inverse form: the diagonal is inverted entry by entry.
    ASSERT_EQ(znlphin(&t.p, 2, 0, 0, 0, h.data()), 0);
    EXPECT_DOUBLE_EQ(h[0], 1.0 / 100.5);
    // Phase 2 with everything fixed leaves the matrix.
    t.p.active.nActiveBounds = 2;
    h = {7, 0, 7};
    EXPECT_EQ(znlphin(&t.p, 2, 1, 0, 2, h.data()), 0);
    EXPECT_EQ(h[0], 7.0);
    EXPECT_THROW(znlphin(&t.p, 1, 0, 0, 3, h.data()), velix::platform::StepExit);
}

TEST_F(Multipliers, BoundMultipliersWithoutActiveRows) {
    // Parameter 0 at its upper bound, parameter 1 fixed: their multipliers
    // are the gradient components, the upper bound's negated.
    std::vector<int32_t> state = {-1, 2}, freeList = {0, 1};
    t.p.active.boundState = state.data();
    t.p.active.freeList = freeList.data();
    t.p.shape.hasLinCon = 1;
    t.p.active.nActiveBounds = 2;
    const double g[] = {3.0, -4.0};
    double out[2];
    znlpglm(&t.p, 0, g, out);
    EXPECT_EQ(out[0], -3.0);
    EXPECT_EQ(out[1], -4.0);
    // Bounds alone: the same multipliers, not an internal error.
    t.p.shape.hasLinCon = 0;
    out[0] = out[1] = 0.0;
    znlpglm(&t.p, 0, g, out);
    EXPECT_EQ(out[0], -3.0);
    EXPECT_EQ(out[1], -4.0);
}

TEST_F(Multipliers, SecondOrderMultipliersFallBackWhereTheyDoNotApply) {
    // A quasi-Newton technique has no Hessian: the first-order multipliers
    // of the gradient stand in, instead of an internal error.
    std::vector<int32_t> state = {1, 0}, freeList = {1, 0};
    t.p.active.boundState = state.data();
    t.p.active.freeList = freeList.data();
    t.p.shape.hasBounds = 1;
    t.p.active.nActiveBounds = 1;
    t.grad = {2.5, 0.0};
    t.p.opt.technique = kTechQuanew;
    EXPECT_EQ(znlplm2(&t.p), 0);
    EXPECT_EQ(t.workN2[0], 2.5);
    // With the Hessian H = diag(1, 2): the Newton point of the free
    // parameter removes its gradient, the bound keeps g - H s.
    t.p.opt.technique = kTechNewrap;
    t.grad = {2.5, 4.0};
    t.hessian = {1.0, 0.5, 2.0};  // H(1, 0) = 0.5 couples the two
    ASSERT_EQ(znlplm2(&t.p), 0);
    // s = (0, 4 / 2), H s = (0.5 * 2, 4): multiplier 2.5 - 1 = 1.5.
    EXPECT_DOUBLE_EQ(t.workN2[0], 1.5);
}

TEST_F(Multipliers, SteepestDescentDirectionOverTheFreeParameters) {
    std::vector<int32_t> state = {0, -1}, freeList = {0, 1};
    std::vector<double> work(2), out(2, 9.0);
    t.p.active.boundState = state.data();
    t.p.active.freeList = freeList.data();
    t.p.shape.hasBounds = 1;
    t.p.active.nActiveBounds = 1;
    t.grad = {3.0, -7.0};
    EXPECT_EQ(znlpsd2(&t.p, 0, 0, 2, 1, work.data(), out.data(), nullptr), 0);
    EXPECT_EQ(out, (std::vector<double>{-3.0, 0.0}));
}

}  // namespace
