// Finite-difference derivatives against analytic ones: gradients (forward
// to about sqrt(eta), central to about eta^(2/3)), Hessians from values and
// from gradients, the constraint Jacobian; the block is put back after
// every call; a failed evaluation is a failure of the routine; bounds keep
// the displaced points inside; the Jacobian of a function vector with its
// gradient and cross products; the interval estimation and the protected
// quotient; the derivative checks find a wrong gradient component and pass
// a correct one; behind a claim, differences whose truncation hid the
// gradient are corrected and their intervals refined, so that a run on them
// claims only the minimum.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "host/fields.h"
#include "optimizer/core/finite_differences.h"
#include "optimizer/core/pending.h"
#include "optimizer/optimizer.h"
#include "tests/optimizer/core/nlp_fixture.h"
#include "tests/optimizer/techniques/technique_fixture.h"

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

// The functions F(x) = (exp(x0) sin(x1), x0^2 x1^3, x2^4 / 4, x0 x2) of a
// composite objective, with their Jacobian (4 x 3, by rows).
constexpr int32_t kM = 4;
void functions(const double* x, double* F) {
    F[0] = std::exp(x[0]) * std::sin(x[1]);
    F[1] = x[0] * x[0] * std::pow(x[1], 3);
    F[2] = std::pow(x[2], 4) / 4;
    F[3] = x[0] * x[2];
}
std::vector<double> functions_jacobian(const double* x) {
    const double e = std::exp(x[0]);
    return {e * std::sin(x[1]), e * std::cos(x[1]), 0.0,
            2 * x[0] * std::pow(x[1], 3), 3 * x[0] * x[0] * x[1] * x[1], 0.0,
            0.0, 0.0, std::pow(x[2], 3),
            x[2], 0.0, x[0]};
}

// The composite objective at the point: its functions, and f = 1/2 sum F^2
// (least squares) or sum F.  The Jacobian columns go to a store file.
struct FdFunctions : NlpStep {
    TestProblem t{{0.3, 0.7, -1.2}, [](const double*) { return 0.0; }};
    std::vector<double> F = std::vector<double>(kM), funWork = std::vector<double>(2 * kM);
    static int32_t objective(NlpProblem* p) {
        p->run.nFun += 1;
        functions(p->param.x, p->work.funValues);
        double f = 0.0;
        for (int32_t i = 0; i < kM; ++i) f += p->shape.leastSquares ? 0.5 * p->work.funValues[i] * p->work.funValues[i] : p->work.funValues[i];
        p->iter.f = f;
        return 0;
    }
    void SetUp() override {
        NlpStep::SetUp();
        t.p.shape.nFunctions = kM;
        t.p.shape.leastSquares = 1;
        t.p.work.funValues = F.data();
        t.p.fd.funWork = funWork.data();
        t.p.cb.objectiveFn = objective;
        t.p.opt.fDigits = 15;
        ScratchFileRequest request;
        request.attributeWord = 0x82000008;
        ASSERT_EQ(xcopen(&t.p.opt.jacobianFile, &request), 0);
        evaluate();
    }
    // The objective at the point, as the members find it.
    void evaluate() { ASSERT_EQ(objective(&t.p), 0); }
};

// Each member's Jacobian (read back from the store), gradient J'F and
// cross product J'J against the closed forms, to the accuracy of its
// interval: forward errors of the order of the interval 10^(-7.5) (below
// 1e-6), central of its two-thirds power squared, about 10^(-10) (below
// 2e-9).  The block is as it was: x, f, the function
// values and the evaluation phase.
TEST_F(FdFunctions, JacobianGradientAndCrossProductAgreeWithTheClosedForms) {
    const std::vector<double> J = functions_jacobian(t.x.data());
    std::vector<double> exactGradient(3, 0.0), exactCross(6, 0.0);
    for (int32_t j = 0; j < 3; ++j)
        for (int32_t i = 0; i < kM; ++i) exactGradient[j] += J[i * 3 + j] * F[i];
    for (int32_t j = 0, a = 0; j < 3; ++j)
        for (int32_t k = 0; k <= j; ++k, ++a)
            for (int32_t i = 0; i < kM; ++i) exactCross[a] += J[i * 3 + j] * J[i * 3 + k];
    const std::vector<double> base = F;
    const double f0 = t.p.iter.f;
    const struct {
        const char* name;
        int32_t (*fn)(NlpProblem*);
        bool cross;
        double tol;
    } members[] = {{"znlpfij", znlpfij, false, 1e-6}, {"znlpfj2", znlpfj2, false, 2e-9},
                   {"znlpfic", znlpfic, true, 1e-6},  {"znlpfc2", znlpfc2, true, 2e-9}};
    for (const auto& m : members) {
        std::fill(t.hessian.begin(), t.hessian.end(), 0.0);
        t.p.run.evalPhase = kPhaseRun;
        const int32_t calls = t.p.run.nHess;
        ASSERT_EQ(m.fn(&t.p), 0) << m.name;
        auto relative = [](double got, double want) { return std::fabs(got - want) / (1 + std::fabs(want)); };
        std::vector<double> stored(static_cast<size_t>(kM) * 3);
        ASSERT_EQ(znlpjrd(&t.p, stored.data()), 0) << m.name;
        double worst[3] = {0, 0, 0};  // Jacobian, gradient, cross product
        for (size_t e = 0; e < J.size(); ++e) worst[0] = std::max(worst[0], relative(stored[e], J[e]));
        for (int32_t j = 0; j < 3; ++j) worst[1] = std::max(worst[1], relative(t.grad[j], exactGradient[j]));
        for (size_t a = 0; m.cross && a < exactCross.size(); ++a) worst[2] = std::max(worst[2], relative(t.hessian[a], exactCross[a]));
        std::printf("[ worst    ] %s rel. errors: Jacobian %.3g, gradient %.3g, cross product %.3g (tolerance %g)\n",
                    m.name, worst[0], worst[1], worst[2], m.tol);
        for (double w : worst) EXPECT_LE(w, m.tol) << m.name;
        if (!m.cross) {
            EXPECT_EQ(t.hessian, std::vector<double>(6, 0.0)) << m.name << " writes no cross product";
        }
        EXPECT_EQ(t.x, (std::vector<double>{0.3, 0.7, -1.2})) << m.name;
        EXPECT_EQ(t.p.iter.f, f0) << m.name;
        EXPECT_EQ(F, base) << m.name;
        EXPECT_EQ(t.p.run.evalPhase, kPhaseRun) << m.name;
        EXPECT_EQ(t.p.run.nHess, calls + 1) << m.name;
    }
}

// A diagonal cross product (storage 2) in each of its forms, by the
// central member: sum D_ij^2; with least squares sum (D_ij F_i)^2; for the
// plain sum of the functions sum D_ij^2 / F_i, whose gradient is the
// column sum of J.
TEST_F(FdFunctions, DiagonalCrossProductInEachForm) {
    const std::vector<double> J = functions_jacobian(t.x.data());
    t.p.opt.hessianStorage = 2;
    const struct {
        int32_t form;
        bool leastSquares;
        double (*term)(double d, double f);
    } forms[] = {{0, true, [](double d, double) { return d * d; }},
                 {1, true, [](double d, double f) { return d * f * d * f; }},
                 {1, false, [](double d, double f) { return d * d / f; }}};
    for (const auto& c : forms) {
        t.p.opt.crossProductForm = c.form;
        t.p.shape.leastSquares = c.leastSquares ? 1 : 0;
        evaluate();
        ASSERT_EQ(znlpfc2(&t.p), 0) << c.form;
        double worst = 0.0;
        for (int32_t j = 0; j < 3; ++j) {
            double h = 0.0, g = 0.0;
            for (int32_t i = 0; i < kM; ++i) {
                h += c.term(J[i * 3 + j], F[i]);
                g += c.leastSquares ? J[i * 3 + j] * F[i] : J[i * 3 + j];
            }
            worst = std::max({worst, std::fabs(t.hessian[j] - h) / (1 + std::fabs(h)), std::fabs(t.grad[j] - g) / (1 + std::fabs(g))});
        }
        std::printf("[ worst    ] znlpfc2 diagonal form %d%s rel. error %.3g (tolerance 2e-9)\n", c.form,
                    c.leastSquares ? " least squares" : "", worst);
        EXPECT_LE(worst, 2e-9) << c.form << " " << c.leastSquares;
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

// Meyer's function with its gradient from differences (the units digit of
// derivDigits: 1 forward, 2 central, the differences over the interval
// arrays the owner gives).
struct DifferencedMeyer {
    explicit DifferencedMeyer(int32_t technique, int32_t digit) : t(meyer(), technique, true) {
        t.p.fd.fdForward = forward.data();
        t.p.fd.fdCentral = central.data();
        t.p.opt.derivDigits = digit;
        t.p.cb.gradientFn = digit == 1 ? znlpfig : znlpfg2;
    }
    TechniqueProblem t;
    std::vector<double> forward = std::vector<double>(3), central = std::vector<double>(3);
};

// Where runs on central differences stopped, 0.1 % above the minimum, the
// differences over the default interval hold two elements of the gradient
// near 0: the check of a claim finds their truncation, puts the analytic
// gradient in their place and refines the intervals, over which the
// differences are then right and a second look finds nothing to correct.
// Where the differences are right to their rounding (the smooth function
// here) nothing is corrected.
TEST_F(Fd, TruncationBehindAClaimIsCorrectedAndTheIntervalsRefined) {
    DifferencedMeyer m(kTechLevmar, 2);
    TechniqueProblem& t = m.t;
    t.x = {0.00562976181106, 6178.36219373, 345.123205353};
    ASSERT_EQ(t.p.cb.objectiveFn(&t.p), 0);
    ASSERT_EQ(znlpfg2(&t.p), 0);
    double g[3];
    t.gradient_value(t.x.data(), g);
    const double f = t.p.iter.f;
    const std::vector<double> central = t.grad;
    for (int32_t j : {1, 2}) EXPECT_GT(std::fabs(t.grad[j] - g[j]), 0.5 * std::fabs(g[j])) << "plain differences, " << j;
    ASSERT_EQ(znlp_refine_fd_gradient(&t.p), 1);
    for (int32_t j = 0; j < 3; ++j) EXPECT_NEAR(t.grad[j], g[j], 1e-4 * std::fabs(g[j])) << "corrected, " << j;
    EXPECT_EQ(t.p.iter.f, f);
    ASSERT_EQ(znlpfg2(&t.p), 0);
    for (int32_t j = 0; j < 3; ++j) EXPECT_NEAR(t.grad[j], g[j], 1e-3 * std::fabs(g[j])) << "refined intervals, " << j;
    EXPECT_EQ(znlp_refine_fd_gradient(&t.p), 0);

    // Forward differences refined there, then turned central (as near a
    // solution): the central ones keep the intervals they had.
    DifferencedMeyer forward(kTechLevmar, 1);
    forward.t.x = t.x;
    ASSERT_EQ(forward.t.p.cb.objectiveFn(&forward.t.p), 0);
    ASSERT_EQ(znlpfig(&forward.t.p), 0);
    ASSERT_EQ(znlp_refine_fd_gradient(&forward.t.p), 1);
    forward.t.p.opt.derivDigits = 2;
    ASSERT_EQ(znlpfg2(&forward.t.p), 0);
    EXPECT_EQ(forward.t.grad, central);

    this->t.p.opt.derivDigits = 2;
    ASSERT_EQ(znlpfg2(&this->t.p), 0);
    const std::vector<double> plain = this->t.grad;
    EXPECT_EQ(znlp_refine_fd_gradient(&this->t.p), 0);
    EXPECT_EQ(this->t.grad, plain);
    expect_block_kept("nothing to correct");
}

// Through the driver, forward and central: a run that claims a solution
// (a criterion, or its own stop that the solution test accepts) claims the
// minimum; LEVMAR's and DBLDOG's claims on central differences, which
// stood 0.1 % above it, are refused and the runs go on to it, and the
// check of NMSIMP's claim at the minimum, which takes differences itself,
// confirms it over refined intervals.
TEST_F(Fd, AClaimOnDifferencedGradientsIsTheMinimum) {
    for (int32_t digit : {2, 1}) {
        for (int32_t technique : {kTechLevmar, kTechDbldog, kTechQuanew, kTechDualQuanew, kTechHyquan, kTechNmsimp}) {
            DifferencedMeyer m(technique, digit);
            m.t.p.opt.maxIter = 20000;
            m.t.p.opt.maxFunc = 100000;
            const int32_t status = run_driver(&m.t);
            SCOPED_TRACE("digit " + std::to_string(digit) + " technique " + std::to_string(technique) + " status " +
                         std::to_string(status));
            const double fMin = meyer().fMin;
            if (nlp_solution_reached(&m.t.p, status)) {
                EXPECT_NEAR(m.t.p.iter.f, fMin, 1e-6 * fMin);
            }
            if (digit == 2 && (technique == kTechLevmar || technique == kTechDbldog || technique == kTechNmsimp)) {
                EXPECT_TRUE(nlp_status_converged(status));
            }
        }
    }
}

}  // namespace
