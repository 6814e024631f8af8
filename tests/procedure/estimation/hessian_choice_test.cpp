// The Hessian the Newton-type techniques iterate with: the rule that turns
// a run to the exact Hessian, the exact Hessian at the minimum of a model
// that does not fit exactly against J'WJ, the evaluation state it leaves,
// and J'WJ in place of an exact Hessian that is not positive definite;
// the Hessian tables that PHESSIAN asks for.
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "estimation_fixture.h"
#include "numerics/cholesky.h"
#include "procedure/evaluation/cross_product.h"
#include "velix/codes.h"
#include "velix/packed_index.h"

namespace velix::testing {
namespace {

// A run turns exact when the decrement of its last test is at most 1e-3
// and scoring left more than a tenth of the one before; not at the
// first call, not for techniques without a Hessian of their own.
TEST(HessianChoice, TurnsExactNearTheMinimumWhenScoringIsSlow) {
    NlpProblem p;
    p.opt.technique = kTechLevmar;
    p.run.iteration = 4.0;
    p.iter.f = 2.0;
    p.opt.fSize = 0.0;
    p.iter.lmGconvMeasure = 2e-3;  // relative 1e-3
    EXPECT_TRUE(estimation_turns_exact(&p, 2e-3));
    EXPECT_FALSE(estimation_turns_exact(&p, 0.03));  // fast scoring: reduced 30-fold
    p.iter.lmGconvMeasure = 2.2e-3;
    EXPECT_FALSE(estimation_turns_exact(&p, 1.0));  // still far
    p.opt.technique = kTechNewrap;
    p.iter.gconvMeasure = 1e-4;
    EXPECT_TRUE(estimation_turns_exact(&p, 1e-4));
    p.run.iteration = 0.0;
    EXPECT_FALSE(estimation_turns_exact(&p, 1e-4));
    p.run.iteration = 4.0;
    p.opt.technique = kTechQuanew;
    EXPECT_FALSE(estimation_turns_exact(&p, 1e-4));
}

std::vector<double> packed(const NlpProblem& p) { return std::vector<double>(p.hess.hessian, p.hess.hessian + p.shape.packedLen); }

// Cholesky pivots of a packed matrix of order n, all positive.
bool positive_definite(int32_t n, std::vector<double> a) {
    for (int32_t i = 0; i < n; ++i)
        if (!(zchol(i, a.data(), 0.0) > 0.0)) return false;
    return true;
}

// At the minimum of the nine-variable model (chi-square 85 on 24 df) the
// exact Hessian is positive definite and differs from J'WJ by the misfit
// term; the gradient and the evaluation state stay those of x, so J'WJ
// computed next is the one computed before, bit for bit.
TEST(HessianChoice, TheExactHessianAtTheMinimumLeavesTheStateAtThePoint) {
    EstimationStep s(hs_with_method("ml"));
    ASSERT_EQ(s.result, 0) << s.log.str();
    NlpProblem& p = s.nlp;
    const int32_t n = p.shape.nParams;
    p.run.evalPhase = kPhaseRun;
    ASSERT_EQ(p.cb.objectiveFn(&p), 0);
    ASSERT_EQ(coscrpj(&p), 0);
    const std::vector<double> cross = packed(p), g(p.work.gradient, p.work.gradient + n);
    p.run.iteration = 5.0;
    s.ctx.est.exactHessian = 1;
    s.ctx.est.lastDecrement = HUGE_VAL;  // no exact step before that failed to converge fast
    ASSERT_EQ(estimation_hessian(&p), 0);
    const std::vector<double> exact = packed(p);
    EXPECT_TRUE(positive_definite(n, exact));
    double worst = 0.0;
    for (size_t i = 0; i < exact.size(); ++i) worst = std::fmax(worst, std::fabs(exact[i] - cross[i]));
    EXPECT_GT(worst, 1e-3);
    for (int32_t j = 0; j < n; ++j) EXPECT_EQ(p.work.gradient[j], g[j]) << j;
    ASSERT_EQ(coscrpj(&p), 0);
    EXPECT_EQ(packed(p), cross);
}

// Far from the minimum of the nine-variable model the exact Hessian is
// not positive definite: the iteration gets J'WJ.
TEST(HessianChoice, AnIndefiniteExactHessianGivesWayToTheCrossProduct) {
    std::string program = hs_with_method("ml");
    program.insert(program.find(";"), " technique=newrap maxiter=0");
    EstimationStep start(program);
    ASSERT_TRUE(start.ran) << start.log.str();
    ASSERT_EQ(start.nlp.run.iteration, 0.0);
    NlpProblem& p = start.nlp;
    // Loadings and factor variances at 0.5, error variances at 30: far from
    // the minimum, where the misfit term of the Hessian dominates.
    for (int32_t j = 0; j < p.shape.nParams; ++j) p.param.x[j] = name_of(p.param.paramNames[j]).rfind("ve", 0) == 0 ? 30.0 : 0.5;
    p.run.evalPhase = kPhaseRun;
    ASSERT_EQ(p.cb.objectiveFn(&p), 0);
    ASSERT_EQ(coshess(&p), 0);
    ASSERT_FALSE(positive_definite(p.shape.nParams, packed(p)));
    ASSERT_EQ(p.cb.objectiveFn(&p), 0);
    ASSERT_EQ(coscrpj(&p), 0);
    const std::vector<double> cross = packed(p);
    p.run.iteration = 1.0;
    start.ctx.est.exactHessian = 1;
    ASSERT_EQ(estimation_hessian(&p), 0);
    EXPECT_EQ(packed(p), cross);
}

// PHESSIAN shows the Hessian of F, labelled by the parameters, after the
// start and after the run.  At a point the run does not leave
// (MAXITER=0) both tables equal the second differences of F there
// (central, step 1e-4: truncation and rounding near 1e-8); the tables,
// differences of the analytic gradient, hold about 6 digits.
TEST(HessianChoice, PhessianShowsTheHessianOfFAtTheStartAndTheSolution) {
    std::string program = hs_with_method("ml");
    program.insert(program.find(";"), " phessian maxiter=0");
    EstimationStep s(program);
    ASSERT_EQ(s.result, 0) << s.log.str();
    std::vector<const velix::platform::OutItem*> tables;
    for (const auto& item : velix::platform::current_step().items)
        if (item.name == "HessianMat") tables.push_back(&item);
    ASSERT_EQ(tables.size(), 2u);
    NlpProblem& p = s.nlp;
    const int32_t n = p.shape.nParams;
    const std::vector<double> x(p.param.x, p.param.x + n);
    p.run.evalPhase = kPhaseRun;
    auto f = [&](int32_t i, double di, int32_t j, double dj) {
        std::copy(x.begin(), x.end(), p.param.x);
        p.param.x[i] += di;
        p.param.x[j] += dj;
        EXPECT_EQ(p.cb.objectiveFn(&p), 0);
        return p.iter.f;
    };
    constexpr double h = 1e-4;
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j) {
            const double fd = (f(i, h, j, h) - f(i, h, j, -h) - f(i, -h, j, h) + f(i, -h, j, -h)) / (4.0 * h * h);
            for (const auto* t : tables) {
                ASSERT_EQ(t->nRows, n);
                EXPECT_NEAR(t->pieces[0].values[static_cast<size_t>(i * n + j)].real, fd, 2e-6 * std::fmax(1.0, std::fabs(fd)))
                    << i << "," << j;
            }
        }
    for (int32_t j = 0; j < n; ++j) EXPECT_EQ(tables[0]->columnLabels[static_cast<size_t>(j)], name_of(p.param.paramNames[j]));
}

// The gradient slot of a run, counting its calls.
NlpCallback gradientSlot = nullptr;
int32_t gradientCalls = 0;
int32_t counted_gradient(NlpProblem* p) {
    ++gradientCalls;
    return gradientSlot(p);
}

// Exact steps keep the second-order part of their Hessian (exact less
// J'WJ): at a point whose decrement with J'WJ plus that part is well within
// GCONV the run stops, and the slot gives that matrix without n more
// gradients; it agrees there with the exact Hessian to the change of the
// part over the step.  A point farther away gets the exact Hessian again.
TEST(HessianChoice, TheKeptSecondOrderPartMeasuresThePointWhereTheRunStops) {
    EstimationStep s(hs_with_method("ml"));
    ASSERT_EQ(s.result, 0) << s.log.str();
    NlpProblem& p = s.nlp;
    const int32_t n = p.shape.nParams;
    const std::vector<double> xStar(p.param.x, p.param.x + n);
    p.run.evalPhase = kPhaseRun;
    p.run.iteration = 5.0;
    gradientSlot = p.cb.gradientFn;
    p.cb.gradientFn = counted_gradient;
    auto hessian_at = [&](double shift) {
        for (int32_t j = 0; j < n; ++j) p.param.x[j] = xStar[j] * (1.0 + shift);
        EXPECT_EQ(p.cb.objectiveFn(&p), 0);
        const int32_t gradients = gradientCalls;
        s.ctx.est.lastDecrement = HUGE_VAL;  // no exact step before that failed to converge fast
        EXPECT_EQ(estimation_hessian(&p), 0);
        return gradientCalls - gradients;
    };
    s.ctx.est.exactHessian = 1;
    s.ctx.est.secondOrderKept = 0;
    EXPECT_GE(hessian_at(2e-3), n);
    EXPECT_EQ(s.ctx.est.secondOrderKept, 1);
    EXPECT_EQ(hessian_at(0.0), 0);
    const std::vector<double> kept = packed(p);
    ASSERT_EQ(coshess(&p), 0);
    const std::vector<double> exact = packed(p);
    double worst = 0.0, big = 0.0;
    for (size_t i = 0; i < exact.size(); ++i) {
        worst = std::fmax(worst, std::fabs(kept[i] - exact[i]));
        big = std::fmax(big, std::fabs(exact[i]));
    }
    EXPECT_LT(worst, 1e-2 * big);
    EXPECT_GE(hessian_at(2e-2), n);
}

}  // namespace
}  // namespace velix::testing
