// The estimation run on the reference models: the minimum of F, the
// estimates and their standard errors against R's lavaan 0.6.14 (ML, N-1
// convention, expected information; the *.expected.json files beside the
// programs in tests/fixtures, copied from the shared reference cases),
// the stages of every method, and the fallback after a memory shortage.
#include <cmath>
#include <cstdlib>

#include <gtest/gtest.h>

#include "estimation_fixture.h"
#include "tests/support/fixtures.h"
#include "host/fields.h"
#include "platform/memory.h"
#include "velix/codes.h"
#include "tests/support/json_reader.h"
#include "tests/support/session_fixture.h"
#include "optimizer/optimizer.h"

namespace velix::testing {
namespace {

// Relative tolerance of F, the estimates and the standard errors against
// the reference numbers, at tight termination (tight_termination): scoring
// alone converges linearly on the models that do not fit exactly; their
// last steps take the exact Hessian and reach the minimum to 5e-6.
constexpr double kReferenceTolerance = 1e-5;

// F, the estimates and their standard errors of `s` against the reference
// numbers (estimates and standard errors to `tolerance`, relative).
void expect_estimates(const EstimationStep& s, const velix::test::JsonValue& ref, double tolerance) {
    EXPECT_NEAR(s.nlp.iter.f, ref["fmin"].number(), kReferenceTolerance * ref["fmin"].number());
    const auto& params = ref["params"];
    for (const std::string& name : params.keys()) {
        const double est = params[name]["est"].number(), se = params[name]["se"].number();
        EXPECT_NEAR(s.estimate(name), est, tolerance * std::fabs(est)) << name;
        EXPECT_NEAR(s.std_error(name), se, tolerance * se) << name;
    }
}

void expect_reference(const std::string& stem) {
    SCOPED_TRACE(stem);
    const auto ref = velix::test::JsonValue::parse(data_file(stem + ".expected.json"));
    EstimationStep s(tight_termination(data_file(stem + ".vx")));
    ASSERT_TRUE(s.ran) << s.log.str();
    ASSERT_EQ(s.result, 0) << s.log.str();
    expect_estimates(s, ref, kReferenceTolerance);
    // Scoring was slow on each: the run turned to the exact Hessian.
    EXPECT_EQ(s.ctx.est.exactHessian, 1);
    // No perturbation size is given: the post-convergence steps stay off.
    EXPECT_TRUE(wzmis(s.nlp.opt.perturbSize));
}

TEST(Estimation, ReferenceModelsReachTheReferenceMinimum) {
    for (const char* stem : {"hs_cfa_ml", "ability_ml", "poldem_ml"}) expect_reference(stem);
}

}  // namespace
}  // namespace velix::testing

namespace velix::testing {
namespace {


// Every method reaches a usable solution on the nine-variable model; a
// two-stage method ends at the minimum of its second method, so its F is
// that of the one-stage run (the ULS stage only moves the start).
TEST(Estimation, EveryMethodAndItsTwoStageFormReachOneMinimum) {
    const struct {
        const char* single;
        const char* twoStage;
    } pairs[] = {{"gls", "lsgls"}, {"ml", "lsml"}, {"wls", "lswls"}, {"dwls", "lsdwls"}, {"uls", nullptr}};
    for (const auto& m : pairs) {
        EstimationStep one(hs_with_method(m.single));
        ASSERT_TRUE(one.ran) << m.single << one.log.str();
        EXPECT_EQ(one.result, 0) << m.single;
        EXPECT_GT(one.nlp.iter.f, 0.0) << m.single;
        if (m.twoStage == nullptr) continue;
        EstimationStep two(hs_with_method(m.twoStage));
        ASSERT_TRUE(two.ran) << m.twoStage << two.log.str();
        EXPECT_EQ(two.result, 0) << m.twoStage;
        EXPECT_EQ(two.ctx.methods.methodStage, one.ctx.methods.methodStage) << m.twoStage;
        EXPECT_NEAR(two.nlp.iter.f, one.nlp.iter.f, 1e-6 * one.nlp.iter.f) << m.twoStage;
    }
}

}  // namespace
}  // namespace velix::testing

namespace velix::testing {
namespace {

// A technique whose work space cannot be had is replaced by one that needs
// less: the second pool of the run is the technique's (the first is the
// run's work space), and quasi-Newton reaches the same minimum.
TEST(Estimation, ATechniqueShortOfMemoryIsReplaced) {
    EstimationStep s(hs_with_method("ml"), [] { velix::platform::fail_nth_pool_creation(2); });
    velix::platform::fail_nth_pool_creation(0);
    ASSERT_TRUE(s.ran) << s.log.str();
    EXPECT_EQ(s.count(435), 1);
    EXPECT_EQ(s.ctx.est.techniqueRun, kTechQuanew);
    EXPECT_TRUE(nlp_status_usable(s.ctx.est.status) || s.result != 0);
}

// The run's work space holds no n x n matrix without general constraints:
// with single blocks capped between the packed and the square size of the
// 21 parameters (1848 and 3528 bytes), the techniques that keep a matrix
// of their own (NEWRAP, then QUANEW) give way to conjugate gradients, which
// reach the minimum.
TEST(Estimation, FallbackReachesATechniqueWithoutMatrices) {
    std::string program = tight_termination(hs_with_method("ml"));
    program.replace(program.find("method=ml"), 9, "method=ml technique=newrap");
    EstimationStep s(program, [] { velix::platform::set_allocation_limit(3000); });
    velix::platform::set_allocation_limit(0);
    ASSERT_TRUE(s.ran) << s.log.str();
    EXPECT_EQ(s.count(436), 0) << s.log.str();
    EXPECT_EQ(s.ctx.est.techniqueRun, kTechCongra) << s.log.str();
    EXPECT_EQ(s.result, 0) << s.log.str();
    const auto ref = velix::test::JsonValue::parse(data_file("hs_cfa_ml.expected.json"));
    EXPECT_NEAR(s.nlp.iter.f, ref["fmin"].number(), kReferenceTolerance * ref["fmin"].number());
}

// LEVMAR, every parameter free, keeps no matrix of its own: it scales the
// problem's Hessian array in place and keeps its factor in the covariance
// buffer of the evaluation, where the inverse goes.  Under the same cap it
// runs, and reaches the minimum.
TEST(Estimation, LevenbergMarquardtNeedsNoMatrixOfItsOwn) {
    EstimationStep s(tight_termination(hs_with_method("ml")), [] { velix::platform::set_allocation_limit(3000); });
    velix::platform::set_allocation_limit(0);
    ASSERT_TRUE(s.ran) << s.log.str();
    EXPECT_EQ(s.count(435), 0) << s.log.str();
    EXPECT_EQ(s.ctx.est.techniqueRun, kTechLevmar) << s.log.str();
    EXPECT_EQ(s.result, 0) << s.log.str();
    const auto ref = velix::test::JsonValue::parse(data_file("hs_cfa_ml.expected.json"));
    EXPECT_NEAR(s.nlp.iter.f, ref["fmin"].number(), kReferenceTolerance * ref["fmin"].number());
}

// When no technique can have its work space the run says so and returns
// -3 with the error level raised to 116; the step goes on.
TEST(Estimation, NoTechniqueWithItsWorkSpaceEndsTheGroupWithLevel116) {
    EstimationStep s(hs_with_method("ml"), [] { velix::platform::set_allocation_limit(64); });
    velix::platform::set_allocation_limit(0);
    ASSERT_TRUE(s.ran) << s.log.str();
    EXPECT_EQ(s.result, kEstimationNoMemory);
    EXPECT_EQ(s.count(436), 1);
    EXPECT_EQ(s.ctx.errorLevel, kLevelNoOptimizerMemory);
}

}  // namespace
}  // namespace velix::testing

namespace velix::testing {
namespace {

// hs_cfa_ml with `statements` after the PROC statement and the text `from`
// of the model replaced by `to`.
std::string hs_variant(const std::string& statements, const std::string& from = "", const std::string& to = "") {
    std::string program = hs_with_method("ml");
    program.insert(program.find("lineqs"), statements + "\n   ");
    if (!from.empty()) program.replace(program.find(from), from.size(), to);
    return program;
}

// A bound that binds gives the minimum of the model with the parameter
// fixed at the bound (a variance above its optimum, a variance held at 0);
// the active bound gives back the degree of freedom that fixing it does.
TEST(Estimation, ABindingBoundIsTheModelWithTheParameterFixed) {
    const struct {
        const char* bounds;
        const char* fixed;
        double value;
    } cases[] = {{"bounds ve1 <= 0.3;", "E1 = 0.3, E2-E9 = ve2-ve9", 0.3},
                 {"bounds 0 <= ve1 <= 0;", "E1 = 0, E2-E9 = ve2-ve9", 0.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bounds);
        EstimationStep bound(hs_variant(c.bounds));
        EstimationStep fixed(hs_variant("", "E1-E9 = ve1-ve9", c.fixed));
        ASSERT_EQ(bound.result, 0) << bound.log.str();
        ASSERT_EQ(fixed.result, 0) << fixed.log.str();
        EXPECT_DOUBLE_EQ(bound.estimate("ve1"), c.value);
        EXPECT_NEAR(bound.nlp.iter.f, fixed.nlp.iter.f, 1e-7 * fixed.nlp.iter.f);
        EXPECT_NEAR(bound.estimate("l2"), fixed.estimate("l2"), 1e-3 * fixed.estimate("l2"));
        EXPECT_EQ(bound.ctx.est.nActive, 1);
        // Degrees of freedom: moments less free parameters plus the
        // correction that the run keeps in modelDf.
        auto df = [](const EstimationStep& s) { return s.ctx.sizes.nMoments - s.ctx.sizes.nParmFree + s.ctx.moments.modelDf; };
        EXPECT_EQ(df(bound), df(fixed));
    }
}

// LINCON rows reach the problem block with the equalities first and every
// inequality as a x >= b (a <= row negated); its names are parameters.
TEST(Estimation, LinearConstraintsBecomeRowsOfTheProblem) {
    ModelStep s(hs_variant("lincon l2 + 2 l3 <= 1.5, l2 - l3 = 0, l5 >= 0.2;"));
    ASSERT_EQ(s.exitCode, -1) << s.log.str();
    const NlpProblem& p = s.nlp;
    ASSERT_EQ(p.shape.nLinCon, 3);
    ASSERT_EQ(p.shape.nLinEq, 1);
    const int32_t n = p.shape.nParams;
    auto coef = [&](int32_t row, const char* name) { return p.con.linRows[row * n + parameter_index(s, name)]; };
    EXPECT_EQ(coef(0, "l2"), 1.0);
    EXPECT_EQ(coef(0, "l3"), -1.0);
    EXPECT_EQ(p.con.linRhs[0], 0.0);
    EXPECT_EQ(coef(1, "l2"), -1.0);
    EXPECT_EQ(coef(1, "l3"), -2.0);
    EXPECT_EQ(p.con.linRhs[1], -1.5);
    EXPECT_EQ(coef(2, "l5"), 1.0);
    EXPECT_EQ(p.con.linRhs[2], 0.2);
    std::vector<double> row(static_cast<size_t>(n));
    ASSERT_EQ(cosaget(&s.nlp, 1, row.data()), 0);
    EXPECT_EQ(row[parameter_index(s, "l3")], -2.0);
}

// An equality by LINCON gives the minimum of the model in which the two
// loadings share one name, and holds at every point of the run (its
// start, where C is not positive definite along the first steps, included).
TEST(Estimation, ALinearEqualityIsTheModelWithASharedName) {
    EstimationStep lincon(tight_termination(hs_variant("lincon l2 - l3 = 0;")));
    EstimationStep shared(tight_termination(hs_variant("", "x3 = l3 Fvis", "x3 = l2 Fvis")));
    ASSERT_EQ(lincon.result, 0) << lincon.log.str();
    ASSERT_EQ(shared.result, 0) << shared.log.str();
    EXPECT_EQ(lincon.ctx.est.status, kNlpGConv);
    EXPECT_NEAR(lincon.estimate("l2") - lincon.estimate("l3"), 0.0, 1e-12);
    EXPECT_NEAR(lincon.nlp.iter.f, shared.nlp.iter.f, 1e-9 * shared.nlp.iter.f);
    for (const char* name : {"l2", "l5", "l9", "vvis", "cvt", "ve3"})
        EXPECT_NEAR(lincon.estimate(name), shared.estimate(name), 1e-5 * std::fabs(shared.estimate(name))) << name;
}

// Inequalities that bind and an equality: at the solution each holds, and
// the gradient is the rows' combination with the multipliers of the
// inequalities positive (the Karush-Kuhn-Tucker conditions); every other
// gradient element vanishes.
TEST(Estimation, BindingLinearConstraintsMeetTheOptimalityConditions) {
    EstimationStep s(tight_termination(hs_variant("lincon l2 + l3 <= 1, l5 - l6 >= 0.5, l8 = l9;")));
    ASSERT_EQ(s.result, 0) << s.log.str();
    EXPECT_EQ(s.ctx.est.nActive, 3);
    EXPECT_NEAR(s.estimate("l2") + s.estimate("l3"), 1.0, 1e-12);
    EXPECT_NEAR(s.estimate("l5") - s.estimate("l6"), 0.5, 1e-12);
    EXPECT_NEAR(s.estimate("l8") - s.estimate("l9"), 0.0, 1e-12);
    auto g = [&](const char* name) { return s.nlp.work.gradient[parameter_index(s, name)]; };
    const double lambda1 = -g("l2"), lambda2 = g("l5"), mu = g("l8");
    EXPECT_GT(lambda1, 1e-3);
    EXPECT_GT(lambda2, 1e-3);
    EXPECT_NEAR(g("l3"), -lambda1, 1e-6);
    EXPECT_NEAR(g("l6"), -lambda2, 1e-6);
    EXPECT_NEAR(g("l9"), -mu, 1e-6);
    for (const char* name : {"vvis", "cvt", "vtxt", "cvs", "cts", "vspd", "ve1", "ve5", "ve9"})
        EXPECT_NEAR(g(name), 0.0, 1e-6) << name;
}

// Linear constraints that no point meets end the estimation of the group
// with a message and no solution; the step goes on.
TEST(Estimation, InfeasibleLinearConstraintsGiveNoSolution) {
    EstimationStep s(hs_variant("lincon l2 >= 1, l2 <= 0.5;"));
    ASSERT_TRUE(s.ran) << s.log.str();
    EXPECT_NE(s.result, 0);
    EXPECT_FALSE(s.ctx.est.usable);
    EXPECT_EQ(s.count(437), 1);
}

}  // namespace
}  // namespace velix::testing

namespace velix::testing {
namespace {

// The large reference model with 306 parameters (N = 2000) of
// tests/fixtures/large.
// Its F is that of R's lavaan 0.6.14; its estimates and standard errors
// are compared with the minimum to full precision (large_minimum.R), since
// lavaan stops short of it.  Here the default GCONV, relative to an F of
// 3.5, stops one scoring step early (5e-5 from the minimum): the run asks
// for GCONV=1e-10.  The model fits closely, scoring converges fast, and the
// run keeps J'WJ: an exact Hessian would cost 306 gradients.
TEST(Estimation, TheLargeReferenceModelReachesTheReferenceMinimum) {
    const auto lavaan = velix::test::JsonValue::parse(data_file("large/large_cfa_ml.expected.json"));
    const auto minimum = velix::test::JsonValue::parse(data_file("large_cfa_ml.minimum.json"));
    std::string program = velix::test::large_reference_program();
    program.insert(program.find(" method="), " gconv=1e-10");
    EstimationStep s(program);
    ASSERT_EQ(s.result, 0) << s.log.str();
    EXPECT_NEAR(s.nlp.iter.f, lavaan["fmin"].number(), kReferenceTolerance * lavaan["fmin"].number());
    expect_estimates(s, minimum, kReferenceTolerance);
    EXPECT_EQ(s.ctx.est.exactHessian, 0);
}

}  // namespace
}  // namespace velix::testing

namespace velix::testing {
namespace {

// The Jacobian mode of a stage: the sparse mode whenever at most a quarter
// of the entries can be nonzero (it serves the fit's cross products too),
// else none when nothing after the run needs the Jacobian, the request
// when given, in memory after restarts, and term-wise otherwise.
TEST(Estimation, JacobianModeFollowsTheRequestAndTheShareOfNonzeros) {
    ProcContext ctx;
    NlpHookBlock hooks;
    NlpProblem nlp;
    ctx.hooks = &hooks;
    ctx.methods.methodStage = kMethodMl;
    ctx.sizes.nMoments = 45;
    ctx.sizes.nParmFree = 20;  // 900 entries
    EXPECT_EQ(estimation_jacobian_mode(&ctx, &nlp), -1);
    ctx.eval.jac.nonzeros = 225;
    EXPECT_EQ(estimation_jacobian_mode(&ctx, &nlp), 11);
    ctx.methods.jacobianModeRequested = 12;
    EXPECT_EQ(estimation_jacobian_mode(&ctx, &nlp), 12);
    ctx.methods.jacobianModeRequested = 0;
    hooks.cov.wantCovariance = 1;
    EXPECT_EQ(estimation_jacobian_mode(&ctx, &nlp), 11);
    ctx.eval.jac.nonzeros = 226;
    EXPECT_EQ(estimation_jacobian_mode(&ctx, &nlp), 2);
    nlp.run.nRestarts = 2;
    EXPECT_EQ(estimation_jacobian_mode(&ctx, &nlp), 1);
    ctx.methods.jacobianModeRequested = 3;
    EXPECT_EQ(estimation_jacobian_mode(&ctx, &nlp), 3);
    ctx.methods.methodStage = kMethodNone;
    EXPECT_EQ(estimation_jacobian_mode(&ctx, &nlp), -1);
}

}  // namespace
}  // namespace velix::testing

namespace velix::testing {
namespace {

// f = |x - 2|^2 (n = 3) with its gradient and Hessian 2 I, packed.
int32_t bowl_f(NlpProblem* p) {
    p->run.nFun += 1;
    p->iter.f = 0.0;
    for (int32_t j = 0; j < 3; ++j) p->iter.f += (p->param.x[j] - 2.0) * (p->param.x[j] - 2.0);
    return 0;
}
int32_t bowl_g(NlpProblem* p) {
    for (int32_t j = 0; j < 3; ++j) p->work.gradient[j] = 2.0 * (p->param.x[j] - 2.0);
    return 0;
}
int32_t bowl_h(NlpProblem* p) {
    const double h[] = {2, 0, 2, 0, 0, 2};
    std::copy(h, h + 6, p->hess.hessian);
    return 0;
}

// The estimation's work space holds what the sparse form of the active set
// and QUADAS's first form keep in it (four vectors of n, more than n plus
// the rows): on it the form minimises f under x1 + x2 + x3 <= 3 from 0
// through the driver and ends at (1, 1, 1).
struct WorkSpace : velix::test::SessionStep {};

TEST_F(WorkSpace, HoldsTheSparseActiveSetForm) {
    NlpProblem nlp;
    nlp.shape.nParams = 3;
    nlp.shape.packedLen = 6;
    nlp.shape.nLinCon = 1;
    nlp.shape.hasLinCon = 1;
    HostAllocator* pool = xmpoolc(1 << 16, 1024, 4096);
    ASSERT_TRUE(estimation_workspace(&nlp, pool));
    std::vector<double> x(3, 0.0), row{-1, -1, -1}, rhs{-3};
    nlp.param.x = x.data();
    nlp.con.linRows = row.data();
    nlp.con.linRhs = rhs.data();
    nlp.cb.objectiveFn = bowl_f;
    nlp.cb.gradientFn = bowl_g;
    nlp.cb.hessianFn = bowl_h;
    nlp.cb.conRowFn = cosaget;
    nlp.cb.terminationFn = znlptrm;
    nlp.opt.technique = kTechQuadas;
    nlp.opt.techVariant = 1;
    nlp.opt.conFactorForm = 2;
    nlp.opt.feasTol = nlp.opt.linDepTol = nlp.opt.singularTol = 1e-8;
    nlp.opt.maxIter = nlp.opt.maxFunc = 100;
    nlp.opt.maxTime = DBL_MAX;
    nlp.opt.absConv = -DBL_MAX;
    nlp.opt.perturbSize = host_missing_value();
    ASSERT_EQ(znlpdrv(&nlp, 1, 0, 0, 0), 0);
    const int32_t status = znlpdrv(&nlp, 2, 0, 0, 0);
    EXPECT_TRUE(nlp_status_converged(status)) << status;
    for (int32_t j = 0; j < 3; ++j) EXPECT_NEAR(x[j], 1.0, 1e-10) << j;
    xmpoold(pool);
}

}  // namespace
}  // namespace velix::testing
