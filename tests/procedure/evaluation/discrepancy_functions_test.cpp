// The five discrepancy functions against their defining formulas, computed
// densely from the reference C, the sample moments and the weights the
// moment step left.
#include <gtest/gtest.h>

#include <cfloat>
#include <csignal>
#include <cstdlib>

#include "evaluation_fixture.h"
#include "platform/step_exit.h"
#include "platform/stop_signals.h"
#include "procedure/estimation/estimation.h"
#include "procedure/evaluation/cross_product.h"
#include "procedure/evaluation/gradient.h"

namespace velix::testing {
namespace {

// F by its textbook formula at the step's current C (dense reference).
double formula(const EvalStep& s, int32_t method) {
    const int32_t n = s.ctx.sizes.nManifest, p = s.ctx.sizes.nMoments;
    const Dense c = s.implied_reference();
    const Dense S = expand(n, s.ctx.arrays.momentMatrix);
    std::vector<double> r(static_cast<size_t>(p));
    for (int32_t i = 0, k = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j, ++k) r[k] = c[i][j] - S[i][j];
    auto trace_square = [&](const Dense& m) {
        double t = 0.0;
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j < n; ++j) t += m[i][j] * m[j][i];
        return t;
    };
    Dense rd = zeros(n, n);
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j < n; ++j) rd[i][j] = c[i][j] - S[i][j];
    switch (method) {
        case kMethodUls:
            return 0.5 * trace_square(rd);
        case kMethodGls:
            return 0.5 * trace_square(multiply(expand(n, s.ctx.arrays.weightMatrix), rd));
        case kMethodMl: {
            const Dense m = multiply(S, inverse(c));
            double t = 0.0;
            for (int32_t i = 0; i < n; ++i) t += m[i][i];
            return log_det(c) - log_det(S) + t - n;
        }
        case kMethodWls: {
            // r' (L L')^-1 r = |L^-1 r|^2 by forward substitution.
            const double* l = s.ctx.arrays.weightMatrix;
            double sum = 0.0;
            for (int32_t i = 0; i < p; ++i) {
                double y = r[i];
                for (int32_t j = 0; j < i; ++j) y -= l[velix::pk_lower(i, j)] * r[j];
                r[i] = y / l[velix::pk_lower(i, i)];
                sum += r[i] * r[i];
            }
            return sum;
        }
        default: {
            double sum = 0.0;
            for (int32_t k = 0; k < p; ++k) sum += std::pow(r[k] * s.ctx.arrays.weightMatrix[k], 2);
            return sum;
        }
    }
}

struct MethodCase {
    const char* name;
    int32_t code;
};

class Discrepancy : public ::testing::TestWithParam<MethodCase> {};

TEST_P(Discrepancy, EqualsItsFormulaAtRandomPoints) {
    EvalStep s(cosan_program(GetParam().name), GetParam().code);
    ASSERT_TRUE(s.ready) << s.log.str();
    const std::vector<double> start = s.x();
    for (uint32_t seed = 1; seed <= 3; ++seed) {
        s.set_x(start);
        s.perturb(seed, 0.2);
        const double f = s.objective();
        const double expected = formula(s, GetParam().code);
        EXPECT_NEAR(f, expected, 1e-10 * (1.0 + std::fabs(expected)))
            << GetParam().name << " seed " << seed;
        EXPECT_EQ(s.ctx.eval.discrepancy, f);
    }
}

INSTANTIATE_TEST_SUITE_P(Methods, Discrepancy,
                         ::testing::Values(MethodCase{"uls", kMethodUls},
                                           MethodCase{"gls", kMethodGls},
                                           MethodCase{"ml", kMethodMl},
                                           MethodCase{"wls", kMethodWls},
                                           MethodCase{"dwls", kMethodDwls}),
                         [](const auto& info) { return std::string(info.param.name); });

// At the reference estimates of an independent package the ML discrepancy
// is its reported minimum.
TEST(Discrepancy, ReferenceMinimumOfTheAbilityModel) {
    EvalStep s(ability_program(), kMethodMl);
    ASSERT_TRUE(s.ready) << s.log.str();
    for (const ReferenceEstimate& r : kAbilityReference)
        s.nlp.param.x[parameter_index(s, r.name)] = r.est;
    EXPECT_NEAR(s.objective(), 0.222592451063, 1e-8);
}

// S = C: every method gives F = 0 (the saturated model at the sample moments).
TEST(Discrepancy, ZeroWhenTheModelReproducesTheMoments) {
    for (const MethodCase m : {MethodCase{"uls", kMethodUls}, MethodCase{"gls", kMethodGls},
                               MethodCase{"ml", kMethodMl}}) {
        EvalStep s(std::string("proc velix data=ability method=") + m.name +
                       " covariance;\ncosan C(6, SYM);\n"
                       "matrix C [1, ] = c1, [2, ] = c2 c3, [3, ] = c4-c6, [4, ] = c7-c10, [5, ] = "
                       "c11-c15,"
                       " [6, ] = c16-c21;\nrun;\n",
                   m.code);
        ASSERT_TRUE(s.ready) << s.log.str();
        for (int32_t e = 0; e < s.ctx.sizes.nElements; ++e) {
            const int32_t p = s.ctx.elements.parameter[e];
            s.nlp.param.x[p - 1] =
                s.ctx.arrays.momentMatrix[velix::pk(s.ctx.elements.row[e], s.ctx.elements.column[e])];
        }
        EXPECT_NEAR(s.objective(), 0.0, 1e-12) << m.name;
    }
}

}  // namespace
}  // namespace velix::testing

namespace velix::testing {
namespace {

// A singular inverse-form matrix: without retries (phase 3) the evaluation
// fails with F missing, never the value of an earlier point; with retries
// (phase 2) the point is perturbed and the caller is told that it moved.
TEST(Discrepancy, SingularMatrixFailsOrMovesThePoint) {
    EvalStep s(cosan_program("ml"), kMethodMl);
    ASSERT_TRUE(s.ready) << s.log.str();
    const size_t u1 = parameter_index(s, "u1");
    ASSERT_LT(u1, s.parameters().size());
    ASSERT_FALSE(std::isnan(s.objective()));
    std::vector<double> x = s.x();
    x[u1] = 0.0;
    x[parameter_index(s, "u21")] = 0.0;
    s.set_x(x);
    s.nlp.run.evalPhase = 3.0;
    const size_t mark = messages_now();
    EXPECT_EQ(cosfunc(&s.nlp), -1);
    EXPECT_TRUE(host_is_missing(s.nlp.iter.f));
    EXPECT_EQ(s.ctx.eval.discrepancy, DBL_MAX);
    EXPECT_EQ(s.ctx.eval.failedMatrix, 4);  // U, the fourth matrix
    EXPECT_EQ(messages_since(mark), std::vector<int32_t>{40});

    s.nlp.run.evalPhase = 2.0;
    EXPECT_EQ(cosfunc(&s.nlp), 0);
    EXPECT_EQ(s.nlp.run.pointMoved, 1);
    EXPECT_NE(s.nlp.param.x[u1], 0.0);
    EXPECT_FALSE(host_is_missing(s.nlp.iter.f));

    // At the optimizer's trial points (an iteration, the check after a
    // criterion, a finite difference) neither the failure nor the retry
    // that moves the point is a message of the step.
    for (const auto& [phase, result] : {std::pair{kPhaseRun, 0}, std::pair{kPhasePostConvergence, 0}, std::pair{kPhaseFdHessianG, -1}}) {
        s.set_x(x);
        s.nlp.run.evalPhase = phase;
        const size_t before = messages_now();
        EXPECT_EQ(cosfunc(&s.nlp), result) << phase;
        EXPECT_EQ(messages_since(before), std::vector<int32_t>{}) << phase;
    }
}

}  // namespace
}  // namespace velix::testing

namespace velix::testing {
namespace {

// The guarded norms: scaled sums that neither overflow nor underflow, off-
// diagonal entries of a packed matrix counted twice, DBL_MAX beyond the
// double range; the guarded sum saturates at 0.01 DBL_MAX.
TEST(Discrepancy, GuardedNormsAndSums) {
    const double v[] = {3e200, 4e200};
    EXPECT_DOUBLE_EQ(vecnorm(2, v), 5e200);
    const double tiny[] = {3e-200, 4e-200};
    EXPECT_DOUBLE_EQ(vecnorm(2, tiny), 5e-200);
    const double big[] = {1e308, 1e308, 1e308, 1e308};  // norm 2e308
    EXPECT_EQ(vecnorm(4, big), DBL_MAX);
    const double packed[] = {1.0, 2.0, 3.0};  // [[1, 2], [2, 3]]
    EXPECT_DOUBLE_EQ(symnorm(2, packed), std::sqrt(1.0 + 2 * 4.0 + 9.0));
    double acc = 0.0;
    EXPECT_EQ(tstsum(&acc, 1.0), 0);
    EXPECT_EQ(tstsum(&acc, 0.01 * DBL_MAX), 1);
    EXPECT_EQ(acc, DBL_MAX);
    acc = -1.0;
    EXPECT_EQ(tstsum(&acc, -0.01 * DBL_MAX), -1);
    EXPECT_EQ(acc, -DBL_MAX);
}

// A residual norm beyond sqrt(DBL_MAX) returns 5 and leaves f as it was.
TEST(Discrepancy, OverflowingResidualReturnsFive) {
    EvalStep s(cosan_program("uls"), kMethodUls);
    ASSERT_TRUE(s.ready) << s.log.str();
    const double f = s.objective();
    std::vector<double> x = s.x();
    x[parameter_index(s, "pv1")] = 1e160;
    s.set_x(x);
    s.nlp.run.evalPhase = 3.0;
    EXPECT_EQ(cosfunc(&s.nlp), 5);
    EXPECT_EQ(s.nlp.iter.f, f);
}

}  // namespace
}  // namespace velix::testing

namespace velix::testing {
namespace {

// Phase 20 builds C only: F stays, and no derivative reads a residual of
// another point.
TEST(Discrepancy, ImpliedMomentsOnly) {
    EvalStep s(cosan_program("ml"), kMethodMl);
    ASSERT_TRUE(s.ready) << s.log.str();
    const double f = s.objective();
    s.perturb(3, 0.2);
    s.nlp.run.evalPhase = 20.0;
    ASSERT_EQ(cosfunc(&s.nlp), 0);
    EXPECT_EQ(s.nlp.iter.f, f);
    const Dense ref = s.implied_reference();
    EXPECT_NEAR(s.ctx.eval.implied[1], ref[1][0], 1e-12 * (1.0 + std::fabs(ref[1][0])));
    std::vector<double> gradient(static_cast<size_t>(s.q()));
    s.nlp.work.gradient = gradient.data();
    EXPECT_EQ(cosgrad(&s.nlp), -1);
}

}  // namespace
}  // namespace velix::testing

namespace velix::testing {
namespace {

// The model set-up installs the evaluation callbacks in both blocks.
TEST(Discrepancy, InstalledAsTheOptimizerCallbacks) {
    EvalStep s(factor_program("ml"), kMethodMl);
    ASSERT_TRUE(s.ready) << s.log.str();
    EXPECT_EQ(s.nlp.cb.objectiveFn, &cosfunc);
    EXPECT_EQ(s.hooks.eval.objectiveFn, &cosfunc);
    EXPECT_EQ(s.nlp.cb.gradientFn, &cosgrad);
    EXPECT_EQ(s.hooks.eval.gradientFn, &cosgrad);
    // The techniques' Hessian is the estimation's choice between the cross
    // product, which the hook block keeps, and the exact Hessian.
    EXPECT_EQ(s.nlp.cb.hessianFn, &estimation_hessian);
    EXPECT_EQ(s.hooks.eval.crossProductFn, &coscrpj);
    EXPECT_EQ(s.nlp.cb.conJacobianFn, s.hooks.eval.conJacobianFn);
    s.nlp.run.evalPhase = 3.0;
    EXPECT_EQ(s.nlp.cb.objectiveFn(&s.nlp), 0);
}

// The optimizer's callbacks are safe points for a stop: with a thousand
// variables one evaluation takes a second, an iteration several.  In a
// child process (the stop cannot be taken back), after a SIGTERM each
// callback ends the step with the stop's level before it evaluates.
TEST(Discrepancy, EachCallbackEndsTheStepWhenAStopWasAsked) {
    const struct {
        const char* name;
        int32_t (*callback)(NlpProblem*);
    } callbacks[] = {{"cosfunc", &cosfunc}, {"cosgrad", &cosgrad}, {"estimation_hessian", &estimation_hessian}};
    for (const auto& c : callbacks)
        EXPECT_EXIT(
            {
                EvalStep s(factor_program("ml"), kMethodMl);
                if (!s.ready) std::_Exit(2);
                s.nlp.run.evalPhase = 3.0;
                velix::platform::install_stop_handlers();
                std::raise(SIGTERM);
                try {
                    c.callback(&s.nlp);
                } catch (const velix::platform::StepExit& e) {
                    std::_Exit(e.code == kLevelInterrupted ? 0 : 3);
                }
                std::_Exit(1);
            },
            ::testing::ExitedWithCode(0), "")
            << c.name << " went on after the stop (1), or the step did not begin (2), or ended otherwise (3)";
}

}  // namespace
}  // namespace velix::testing
