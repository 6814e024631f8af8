// The nonlinear constraints of NLINCON as the constraint set-up lays them
// out: equalities first, then a row per limit, the values c(x) - b or
// b - c(x) of the program's variables at every objective evaluation, and
// the rows' Jacobian from the program's analytic derivatives against the
// closed forms of the test program; a name that is no program variable.
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
    ASSERT_EQ(p.hasNlinCon, 1);
    ASSERT_EQ(p.nNlinCon, 4);  // d = 0; c <= 0.3; r >= 0.5 and r <= 2
    ASSERT_EQ(p.nNlinEq, 1);
    EXPECT_EQ(p.nConTotal, 4);
    EXPECT_EQ(p.technique, kTechDualQuanew);
    const int32_t n = p.nParams;
    std::vector<double> values(4), jacobian(4 * static_cast<size_t>(n));
    p.conValues = values.data();
    p.conJacobian = jacobian.data();
    p.evalPhase = kPhaseRun;
    ASSERT_EQ(p.objectiveFn(&p), 0);
    const double l2 = s.nlp.x[parameter_index(s, "l2")], l3 = s.nlp.x[parameter_index(s, "l3")];
    const double l5 = s.nlp.x[parameter_index(s, "l5")], l6 = s.nlp.x[parameter_index(s, "l6")];
    EXPECT_DOUBLE_EQ(values[0], l2 - l3);
    EXPECT_DOUBLE_EQ(values[1], 0.3 - l2 * l3);
    EXPECT_DOUBLE_EQ(values[2], l5 / l6 - 0.5);
    EXPECT_DOUBLE_EQ(values[3], 2.0 - l5 / l6);
    ASSERT_EQ(p.conJacobianFn(&p), 0);
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
