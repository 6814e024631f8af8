// Finite-difference derivatives against analytic ones: gradients (forward
// to about sqrt(eta), central to about eta^(2/3)), Hessians from values and
// from gradients, the constraint Jacobian; the block is put back after
// every call; a failed evaluation is a failure of the routine; bounds keep
// the displaced points inside; the interval estimation and the protected
// quotient; the derivative checks find a wrong gradient component and pass
// a correct one.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <string>
#include <vector>

#include "host/fields.h"
#include "optimizer/core/finite_differences.h"
#include "tests/optimizer/core/nlp_fixture.h"

namespace {

using namespace velix::test;

// f = exp(x0) sin(x1) + x0^2 x1^3 + x2^4 / 4, smooth with every second
// derivative nonzero somewhere.
double smooth(const double* x) { return std::exp(x[0]) * std::sin(x[1]) + x[0] * x[0] * std::pow(x[1], 3) + std::pow(x[2], 4) / 4; }
void smooth_gradient(const double* x, double* g) {
    g[0] = std::exp(x[0]) * std::sin(x[1]) + 2 * x[0] * std::pow(x[1], 3);
    g[1] = std::exp(x[0]) * std::cos(x[1]) + 3 * x[0] * x[0] * x[1] * x[1];
    g[2] = std::pow(x[2], 3);
}
std::vector<double> smooth_hessian(const double* x) {  // packed lower by rows
    const double e = std::exp(x[0]);
    return {e * std::sin(x[1]) + 2 * std::pow(x[1], 3),
            e * std::cos(x[1]) + 6 * x[0] * x[1] * x[1], -e * std::sin(x[1]) + 6 * x[0] * x[0] * x[1],
            0.0, 0.0, 3 * x[2] * x[2]};
}

struct Fd : NlpStep {
    TestProblem t{{0.3, 0.7, -1.2}, smooth, smooth_gradient};
    std::vector<double> exact = std::vector<double>(3), funWork = std::vector<double>(8);
    void SetUp() override {
        NlpStep::SetUp();
        t.p.shape.scalarObjective = 1;
        t.p.fd.funWork = funWork.data();
        t.p.opt.fDigits = 15;
        t.p.iter.f = smooth(t.x.data());
        smooth_gradient(t.x.data(), exact.data());
    }
    double worst_gradient_error() const {
        double w = 0;
        for (int i = 0; i < 3; ++i) w = std::max(w, std::fabs(t.grad[i] - exact[i]) / (1 + std::fabs(exact[i])));
        return w;
    }
    void expect_block_kept(const char* what) {
        EXPECT_EQ(t.x, (std::vector<double>{0.3, 0.7, -1.2})) << what;
        EXPECT_DOUBLE_EQ(t.p.iter.f, smooth(t.x.data())) << what;
    }
};

TEST_F(Fd, GradientsAgreeToTheAccuracyOfTheirIntervals) {
    // Forward: error of the order of the interval 10^(-7.5); central: of
    // its square, about 10^(-10).
    ASSERT_EQ(znlpfig(&t.p), 0);
    EXPECT_LT(worst_gradient_error(), 1e-6);
    expect_block_kept("forward");
    ASSERT_EQ(znlpfg2(&t.p), 0);
    EXPECT_LT(worst_gradient_error(), 1e-9);
    expect_block_kept("central");
    EXPECT_EQ(t.p.run.nGrad, 2);
}

TEST_F(Fd, AdaptiveIntervalsFromTheCurvatureGiveTheGradient) {
    // Curvature estimates from the exact Hessian's diagonal, no scale.
    const std::vector<double> h = smooth_hessian(t.x.data());
    const double curvature[] = {h[0], h[2], h[5]};
    t.grad = exact;  // the current estimate the intervals start from
    ASSERT_EQ(znlpfg3(&t.p, 0.0, curvature, nullptr), 0);
    EXPECT_LT(worst_gradient_error(), 1e-6);
    expect_block_kept("adaptive");
}

TEST_F(Fd, HessiansFromValuesAndGradientsAgree) {
    const std::vector<double> h = smooth_hessian(t.x.data());
    const struct {
        const char* name;
        int32_t (*fn)(NlpProblem*);
        double tol;
    } members[] = {{"values, three-point", znlpfih, 1e-4}, {"values, five-point", znlpfh2, 1e-6},
                   {"gradients, forward", znlpfh3, 1e-6}, {"gradients, central", znlpfh4, 1e-8}};
    for (const auto& m : members) {
        ASSERT_EQ(m.fn(&t.p), 0) << m.name;
        for (size_t i = 0; i < h.size(); ++i) EXPECT_NEAR(t.hessian[i], h[i], m.tol * (1 + std::fabs(h[i]))) << m.name << " entry " << i;
        expect_block_kept(m.name);
    }
}

TEST_F(Fd, FailedEvaluationIsAFailureAndTheBlockIsKept) {
    // The objective fails everywhere but at the point itself.
    t.f = [](const double* x) { return x[0] == 0.3 && x[1] == 0.7 && x[2] == -1.2 ? 1.0 : NAN; };
    t.p.iter.f = 1.0;
    EXPECT_LT(znlpfig(&t.p), 0);
    EXPECT_LT(znlpfh4(&t.p), 0);
    EXPECT_EQ(t.x, (std::vector<double>{0.3, 0.7, -1.2}));
    EXPECT_EQ(t.p.iter.f, 1.0);
}

TEST_F(Fd, DisplacedPointsStayInsideTheBounds) {
    // x2 sits on its upper bound: forward points would leave the box.
    t.p.shape.hasBounds = 1;
    t.upper[2] = -1.2;
    std::vector<int32_t> state(3, 0);
    t.p.active.boundState = state.data();
    t.f = [](const double* x) { return x[2] > -1.2 ? NAN : smooth(x); };
    ASSERT_EQ(znlpfig(&t.p), 0);
    EXPECT_EQ(t.x[2], -1.2);
    // The difference was taken below the bound: close to the gradient there.
    EXPECT_NEAR(t.grad[2], exact[2], 1e-5);
}

TEST_F(Fd, ConstraintJacobianAgrees) {
    t.p.shape.hasNlinCon = 1;
    t.p.shape.nNlinCon = 2;
    t.p.opt.cDigits = 15;
    std::vector<double> c(2), jac(6);
    t.p.con.conValues = c.data();
    t.p.con.conJacobian = jac.data();
    t.p.cb.conValuesFn = [](NlpProblem* p) {
        p->con.conValues[0] = p->param.x[0] * p->param.x[1];
        p->con.conValues[1] = std::sin(p->param.x[2]);
        return 0;
    };
    const double want[] = {0.7, 0.3, 0, 0, 0, std::cos(-1.2)};
    for (auto fn : {znlpfcj, znlpfcc}) {
        ASSERT_EQ(fn(&t.p), 0);
        for (int i = 0; i < 6; ++i) EXPECT_NEAR(jac[i], want[i], 1e-6) << i;
        EXPECT_DOUBLE_EQ(c[0], 0.21);  // values restored at x
    }
}

TEST(ProtectedQuotient, ClampsAndFlags) {
    double q;
    EXPECT_EQ(ddiv(1, 0, &q), 1);
    EXPECT_EQ(q, DBL_MAX);
    EXPECT_EQ(ddiv(0, 0, &q), 1);
    EXPECT_EQ(q, 0.0);
    EXPECT_EQ(ddiv(1e-300, 1e10, &q), 0);
    EXPECT_EQ(q, 0.0);
    EXPECT_EQ(ddiv(-1e300, 1e-10, &q), 1);
    EXPECT_EQ(q, -DBL_MAX);
    EXPECT_EQ(ddiv(6, 3, &q), 0);
    EXPECT_EQ(q, 2.0);
}

TEST_F(Fd, IntervalsOfALinearAndAQuadraticDirection) {
    // f = 3 x0 + (x1 - 1)^2: along x0 every second difference vanishes
    // (code 2: hF = 2 (1 + |x|) sqrt(eps), hC = 10 hF); along x1 the second
    // difference is accepted and the forward interval is 2 sqrt(epsA / 2).
    TestProblem q({0.5, 0.0}, [](const double* x) { return 3 * x[0] + (x[1] - 1) * (x[1] - 1); });
    std::vector<double> fwd(2), cen(2);
    std::vector<int16_t> flags(2);
    q.p.fd.fdForward = fwd.data();
    q.p.fd.fdCentral = cen.data();
    q.p.fd.constantFlags = flags.data();
    q.p.opt.fDigits = 8;
    q.p.iter.f = 2.5;
    ASSERT_EQ(znlpfdh(&q.p, 1), 0);
    const double eps = 1e-8;
    EXPECT_NEAR(fwd[0] * 1.5, 2 * 1.5 * std::sqrt(eps), 1e-12);
    EXPECT_NEAR(cen[0], 10 * fwd[0], 1e-12);
    EXPECT_NEAR(fwd[1], 2 * std::sqrt(eps * (1 + 2.5) / 2.0), 1e-9);
    EXPECT_NEAR(q.grad[0], 3.0, 1e-6);   // the by-product derivative estimates
    EXPECT_NEAR(q.grad[1], -2.0, 1e-6);
    EXPECT_EQ(znlpfdh(&q.p, 0), 0);      // mode 0 changes nothing
    EXPECT_EQ(q.p.iter.f, 2.5);
}

TEST_F(Fd, GradientCheckFindsAWrongComponentAndPassesACorrectOne) {
    t.p.out.kyrObject = manager_;
    t.p.opt.printLevel = 2;
    EXPECT_EQ(znlpchd(&t.p, 0, nullptr), 0);
    EXPECT_EQ(log().find("differs from its finite-difference"), std::string::npos) << log();
    expect_block_kept("correct gradient");
    // A gradient whose third component is half what it should be.
    t.g = [](const double* x, double* g) {
        smooth_gradient(x, g);
        g[2] *= 0.5;
    };
    EXPECT_EQ(znlpchd(&t.p, 0, nullptr), 0);
    EXPECT_NE(log().find("differs from its finite-difference"), std::string::npos) << log();
    // The per-parameter analysis names the wrong component: its test value
    // stands out in "GradTest".
    ASSERT_EQ(znlpchg(&t.p, 1, nullptr), 0);
    const JsonValue table = item("GradTest");
    ASSERT_TRUE(table.is_object());
    ASSERT_EQ(table["rows"].size(), 3u);
    const double wrong = std::fabs(table["rows"][2][1].number());
    for (int j = 0; j < 2; ++j) EXPECT_LT(std::fabs(table["rows"][j][1].number()), 1e-3 * wrong) << j;
    EXPECT_TRUE(item("SymDifRO").is_object());
}

}  // namespace
