// Line searches 1 to 9 on one-dimensional functions: a quadratic, a cubic,
// a minimum far beyond the first trial and a function whose evaluation
// fails beyond a point.  Each search must accept a step that lowers the
// objective and leave x, f and lastStep consistent; the edge rules of the
// searches (a zero direction, no room to step, the fifth search's cap, the
// Goldstein bracket, the violation of search 9) are checked separately.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <functional>
#include <string>

#include "optimizer/core/line_search.h"
#include "optimizer/core/reduced_space.h"
#include "tests/optimizer/core/nlp_fixture.h"

namespace {

using namespace velix::test;

struct Case {
    const char* name;
    std::function<double(double)> f, g;
    double failBeyond;  // the objective fails for x above it
    double expectedReduction;
};

const Case kCases[] = {
    {"quadratic", [](double x) { return (x - 1) * (x - 1); }, [](double x) { return 2 * (x - 1); }, DBL_MAX, 0},
    {"cubic", [](double x) { return x * x * x / 3 - 4 * x; }, [](double x) { return x * x - 4; }, DBL_MAX, 0},
    {"far minimum", [](double x) { return (x - 50) * (x - 50); }, [](double x) { return 2 * (x - 50); }, DBL_MAX, 0},
    {"failing beyond 1.5", [](double x) { return (x - 1) * (x - 1); }, [](double x) { return 2 * (x - 1); }, 1.5, 10},
};

// The problem of one case at x0 = 0 along d = 1, set up as a technique
// sets it before a search.
struct OneDim {
    const Case& c;
    TestProblem t;
    explicit OneDim(const Case& k)
        : c(k), t({0.0}, [this](const double* x) { return x[0] > c.failBeyond ? NAN : c.f(x[0]); },
                  [this](const double* x, double* g) { g[0] = c.g(x[0]); }) {
        NlpProblem& p = t.p;
        p.iter.f = c.f(0.0);
        t.gradBase[0] = t.grad[0] = c.g(0.0);
        t.dir[0] = 1.0;
        p.iter.stepBound = DBL_MAX;
        p.iter.maxProjGrad = std::fabs(c.g(0.0));
        p.opt.derivLevel = 1;
        p.iter.expectedReduction = c.expectedReduction;
        p.opt.stepCap = 10.0;
    }
};

using Search = int32_t (*)(NlpProblem*);
const Search kSearches[] = {znlpls1, znlpls2, znlpls3, znlpls4, znlpls5,
                            znlpls6, znlpls7, znlpls8, znlpls9};

TEST(LineSearches, EachFindsAnAcceptableStepOnEachFunction) {
    for (int s = 0; s < 9; ++s)
        for (const Case& c : kCases) {
            OneDim d(c);
            const double f0 = d.t.p.iter.f;
            const int32_t r = kSearches[s](&d.t.p);
            const std::string where = "search " + std::to_string(s + 1) + ", " + c.name;
            EXPECT_EQ(r, 0) << where;
            EXPECT_GT(d.t.p.iter.lastStep, 0.0) << where;
            EXPECT_LT(d.t.p.iter.f, f0) << where;
            EXPECT_DOUBLE_EQ(d.t.x[0], d.t.p.iter.lastStep) << where;
            EXPECT_DOUBLE_EQ(d.t.p.iter.f, c.f(d.t.x[0])) << where;
            EXPECT_LE(d.t.x[0], c.failBeyond) << where;
            // With derivatives every search but the negative-curvature one
            // leaves the gradient of the accepted point.
            if (s < 8) {
                EXPECT_DOUBLE_EQ(d.t.grad[0], c.g(d.t.x[0])) << where;
            }
        }
}

TEST(LineSearches, SlopeSearchesMeetTheirSlopeTestOnTheQuadratic) {
    // LSPRECISION 0.4: accepted points have |g| <= 0.4 |g0| or pass the
    // Armijo test with mu = 0.1 and g >= 0.4 g0.
    for (Search s : {znlpls2, znlpls3}) {
        OneDim d(kCases[0]);
        d.t.p.opt.lsPrecision = 0.4;
        ASSERT_EQ(s(&d.t.p), 0);
        const double a = d.t.p.iter.lastStep, g0 = -2.0;
        EXPECT_LE(d.t.p.iter.f - 1.0, 0.1 * a * g0);
        EXPECT_GE(d.t.grad[0], 0.4 * g0);
    }
}

TEST(LineSearches, GoldenSectionEndsOnTheVertexOfAQuadratic) {
    // (x - 50)^2: the steps double up to a bracket [a, b] with a > 0; the
    // final parabola through three points of a quadratic is exact when it
    // takes the true values at the bracket's ends.
    OneDim d(kCases[2]);
    ASSERT_EQ(znlpls6(&d.t.p), 0);
    EXPECT_NEAR(d.t.x[0], 50.0, 1e-9);
}

TEST(LineSearches, ZeroDirectionFailsWithTheStartPointKept) {
    for (Search s : {znlpls1, znlpls2, znlpls3}) {
        OneDim d(kCases[0]);
        d.t.dir[0] = 0.0;
        EXPECT_NE(s(&d.t.p), 0);
        EXPECT_EQ(d.t.x[0], 0.0);
        EXPECT_EQ(d.t.p.iter.f, 1.0);
        EXPECT_EQ(d.t.p.iter.lastStep, 0.0);
    }
}

TEST(LineSearches, NoRoomToStepSucceedsWithoutMovingInTheValueSearches) {
    for (Search s : {znlpls6, znlpls7, znlpls8, znlpls9}) {
        OneDim d(kCases[0]);
        d.t.p.iter.stepBound = 0.0;
        EXPECT_EQ(s(&d.t.p), 0);
        EXPECT_EQ(d.t.p.iter.lastStep, 0.0);
        EXPECT_EQ(d.t.x[0], 0.0);
    }
}

TEST(LineSearches, FifthSuccessfulSearchResetsTheStepCap) {
    OneDim d(kCases[0]);
    d.t.p.run.nLineSearches = 4;
    d.t.p.opt.stepCap = 0.3;
    ASSERT_EQ(znlpls2(&d.t.p), 0);
    EXPECT_EQ(d.t.p.opt.stepCap, 1.0);
}

TEST(LineSearches, GoldsteinAcceptsAFirstTrialThatPassesBothTests) {
    // phi(a) = (a - 0.1)^2: the first trial 0.1 lies between the two
    // Goldstein lines (mu = 0.1).
    Case c{"", [](double x) { return (x - 0.1) * (x - 0.1); }, [](double x) { return 2 * (x - 0.1); }, DBL_MAX, 0};
    OneDim d(c);
    d.t.p.opt.stepCap = 1.0;
    ASSERT_EQ(znlpls7(&d.t.p), 0);
    EXPECT_EQ(d.t.p.run.nFun, 1);
    EXPECT_EQ(d.t.p.run.nGrad, 1);
    EXPECT_DOUBLE_EQ(d.t.p.iter.lastStep, 0.1);
}

TEST(LineSearches, GoldsteinBisectionEndsBetweenTheTwoLines) {
    // phi(a) = -a, rising steeply beyond 0.15: the first trial 0.1 is too
    // short, the expanded 0.5 too long; the bisection ends where
    // 0.1 a <= phi(0) - phi(a) <= 0.9 a.
    auto phi = [](double a) { return a <= 0.15 ? -a : -a + 100 * (a - 0.15) * (a - 0.15); };
    Case c{"", phi, [](double a) { return a <= 0.15 ? -1.0 : -1.0 + 200 * (a - 0.15); }, DBL_MAX, 0};
    OneDim d(c);
    d.t.p.opt.stepCap = 1.0;
    d.t.p.opt.lsPrecision = 0.4;  // mu = 0.1
    ASSERT_EQ(znlpls7(&d.t.p), 0);
    const double a = d.t.p.iter.lastStep, decrease = -phi(a);
    EXPECT_GE(decrease, 0.1 * a) << a;
    EXPECT_LE(decrease, 0.9 * a) << a;
}

TEST(LineSearches, ValueSearchRejectsARisingViolation) {
    // One inequality row x >= -0.05 (x - (-0.05) >= 0)... written as
    // -x >= -0.05: a step beyond 0.05 raises the violation above 0.
    OneDim d(kCases[0]);
    double row = -1.0, rhs = -0.05;
    d.t.p.shape.hasLinCon = 1;
    d.t.p.shape.nLinCon = 1;
    d.t.p.con.linRhs = &rhs;
    d.t.p.user = &row;
    d.t.p.active.rowBuffer = d.t.workN.data();
    d.t.p.cb.conRowFn = [](NlpProblem* p, int32_t, double* out) {
        out[0] = *static_cast<double*>(p->user);
        return 0;
    };
    d.t.p.cb.objectiveFn = [](NlpProblem* p) {
        p->iter.f = (p->param.x[0] - 1) * (p->param.x[0] - 1);
        return 0;
    };
    d.t.p.iter.maxConViolation = 0.0;
    ASSERT_EQ(znlpls9(&d.t.p), 0);
    EXPECT_LE(d.t.x[0], 0.05 + 1e-12);
    EXPECT_EQ(d.t.p.iter.maxConViolation, 0.0);
}

TEST(LineSearches, ViolationOfNoConstraintsIsZeroAndOfAFailureHuge) {
    OneDim d(kCases[0]);
    EXPECT_EQ(gtcmx(&d.t.p), 0.0);
    d.t.p.shape.hasNlinCon = 1;
    d.t.p.cb.conValuesFn = [](NlpProblem*) { return 1; };
    EXPECT_EQ(gtcmx(&d.t.p), DBL_MAX);
}

TEST(LineSearches, CodesSelectTheirSearch) {
    EXPECT_EQ(znlp_line_search(1), znlpls1);
    EXPECT_EQ(znlp_line_search(8), znlpls8);
    for (int32_t c : {0, 2, 9, 11, 12}) EXPECT_EQ(znlp_line_search(c), znlpls2) << c;
}

}  // namespace
