// The nonlinear constraints of NLINCON as the constraint set-up lays them
// out: equalities first, then a row per limit, the values c(x) - b or
// b - c(x) of the program's variables at every objective evaluation, and
// the rows' Jacobian from the program's analytic derivatives against the
// closed forms of the test program; a name that is no program variable;
// whole fits against a shared name and the optimality conditions.
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "estimation_fixture.h"
#include "procedure/evaluation/nonlinear_constraints.h"
#include "velix/codes.h"

namespace velix::testing {
namespace {

// hs_cfa_ml with a program of three constraint variables: a product, a
// difference and a ratio of loadings.
std::string nlincon_program(const std::string& nlincon) {
    std::string program = data_file("hs_cfa_ml.vx");
    program.insert(program.find("run;"), nlincon + "\n   c = l2 * l3;\n   d = l2 - l3;\n   r = l5 / l6;\n");
    return program;
}

TEST(NonlinearConstraints, RowsHoldTheProgramsValuesAndDerivatives) {
    EvalStep s(nlincon_program("nlincon c <= 0.3, d = 0, 0.5 <= r <= 2;"), kMethodMl);
    ASSERT_TRUE(s.ready) << s.log.str();
    NlpProblem& p = s.nlp;
    ASSERT_EQ(p.shape.hasNlinCon, 1);
    ASSERT_EQ(p.shape.nNlinCon, 4);  // d = 0; c <= 0.3; r >= 0.5 and r <= 2
    ASSERT_EQ(p.shape.nNlinEq, 1);
    EXPECT_EQ(p.shape.nConTotal, 4);
    EXPECT_EQ(p.opt.technique, kTechDualQuanew);
    // Each row is labelled by its variable, for the constraint tables.
    ASSERT_EQ(p.con.conLabelWidth, 1);
    EXPECT_EQ(std::string(p.con.conLabels, 4), "dcrr");
    const int32_t n = p.shape.nParams;
    std::vector<double> values(4), jacobian(4 * static_cast<size_t>(n));
    p.con.conValues = values.data();
    p.con.conJacobian = jacobian.data();
    p.run.evalPhase = kPhaseRun;
    ASSERT_EQ(p.cb.objectiveFn(&p), 0);
    const double l2 = s.nlp.param.x[parameter_index(s, "l2")], l3 = s.nlp.param.x[parameter_index(s, "l3")];
    const double l5 = s.nlp.param.x[parameter_index(s, "l5")], l6 = s.nlp.param.x[parameter_index(s, "l6")];
    EXPECT_DOUBLE_EQ(values[0], l2 - l3);
    EXPECT_DOUBLE_EQ(values[1], 0.3 - l2 * l3);
    EXPECT_DOUBLE_EQ(values[2], l5 / l6 - 0.5);
    EXPECT_DOUBLE_EQ(values[3], 2.0 - l5 / l6);
    ASSERT_EQ(p.cb.conJacobianFn(&p), 0);
    auto d = [&](int32_t row, const char* name) { return jacobian[row * static_cast<size_t>(n) + parameter_index(s, name)]; };
    EXPECT_DOUBLE_EQ(d(0, "l2"), 1.0);
    EXPECT_DOUBLE_EQ(d(0, "l3"), -1.0);
    EXPECT_DOUBLE_EQ(d(1, "l2"), -l3);
    EXPECT_DOUBLE_EQ(d(1, "l3"), -l2);
    EXPECT_DOUBLE_EQ(d(2, "l5"), 1.0 / l6);
    EXPECT_DOUBLE_EQ(d(2, "l6"), -l5 / (l6 * l6));
    EXPECT_DOUBLE_EQ(d(3, "l6"), l5 / (l6 * l6));
    double others = 0.0;
    for (int32_t row = 0; row < 4; ++row)
        for (const char* name : {"l8", "vvis", "cvt", "ve1"}) others = std::fmax(others, std::fabs(d(row, name)));
    EXPECT_EQ(others, 0.0);
}

// A name that the program does not compute ends the step as bad input.
TEST(NonlinearConstraints, ANameThatIsNoProgramVariableIsAnInputError) {
    EvalStep s(nlincon_program("nlincon c <= 0.3, zz >= 1;"), kMethodMl);
    EXPECT_FALSE(s.ready);
    EXPECT_EQ(s.exitCode, kLevelInputError) << s.log.str();
    EXPECT_EQ(s.count(440), 1);
}

}  // namespace
}  // namespace velix::testing

namespace velix::testing {
namespace {

// With tight termination (the default FCONV2 of 1e-6 with nonlinear
// constraints stops the run about 1e-3 from the minimum, ABSGCONV=1e-5
// leaves weakly determined loadings 5e-5 from it), the fit with a
// nonlinear equality d = l2 / l3 - 1 = 0 reaches the minimum of the model
// in which the two loadings share one name.
TEST(NonlinearConstraints, ANonlinearEqualityIsTheModelWithASharedName) {
    std::string tight = data_file("hs_cfa_ml.vx");
    tight.insert(tight.find("lineqs"), "nloptions fconv2=1e-14 gconv=1e-12 absgconv=1e-9;\n   ");
    std::string shared = tight;
    shared.replace(shared.find("x3 = l3 Fvis"), 12, "x3 = l2 Fvis");
    std::string nlincon = tight;
    nlincon.insert(nlincon.find("run;"), "nlincon d = 0;\n   d = l2 / l3 - 1;\n");
    EstimationStep s(nlincon), ref(shared);
    ASSERT_EQ(s.result, 0) << s.log.str();
    ASSERT_EQ(ref.result, 0) << ref.log.str();
    EXPECT_EQ(s.ctx.est.techniqueRun, kTechDualQuanew);
    EXPECT_NEAR(s.estimate("l2") / s.estimate("l3"), 1.0, 1e-10);
    EXPECT_NEAR(s.nlp.iter.f, ref.nlp.iter.f, 1e-9 * ref.nlp.iter.f);
    for (const char* name : {"l2", "l5", "l9", "vvis", "cvt", "ve3"})
        EXPECT_NEAR(s.estimate(name), ref.estimate(name), 1e-5 * std::fabs(ref.estimate(name))) << name;
}

// A binding product c = l2 l3 <= 0.3: at the solution the limit holds and
// the gradient of F is a positive multiple of the gradient of c, (l3, l2),
// the optimality conditions of one active inequality; the other gradient
// elements vanish.
TEST(NonlinearConstraints, ABindingNonlinearLimitMeetsTheOptimalityConditions) {
    std::string program = nlincon_program("nlincon c <= 0.3;");
    program.insert(program.find("lineqs"), "nloptions fconv2=1e-14 gconv=1e-12 absgconv=1e-9;\n   ");
    EstimationStep s(program);
    ASSERT_EQ(s.result, 0) << s.log.str();
    const double l2 = s.estimate("l2"), l3 = s.estimate("l3");
    EXPECT_NEAR(l2 * l3, 0.3, 1e-10);
    auto g = [&](const char* name) { return s.nlp.work.gradient[parameter_index(s, name)]; };
    const double lambda = -g("l2") / l3;
    EXPECT_GT(lambda, 1e-3);
    EXPECT_NEAR(-g("l3") / l2, lambda, 1e-4 * lambda);
    for (const char* name : {"l5", "vvis", "cvt", "vtxt", "cts", "ve1", "ve9"}) EXPECT_NEAR(g(name), 0.0, 1e-5) << name;
}

}  // namespace
}  // namespace velix::testing
