// Nonlinear constraints of the program: a range c1 = l2 + 2 l5 in [lo, hi]
// laid out by hand as the constraint set-up would, its rows' values, and
// its Jacobian from the program's derivatives and by forward differences.
// (The program also defines l3, so that it is kept and run.)
#include "procedure/evaluation/nonlinear_constraints.h"

#include <gtest/gtest.h>

#include "evaluation_fixture.h"

namespace velix::testing {
namespace {

struct ConstraintStep {
    EvalStep s;
    int16_t kind = -2;  // a range: lower row 0, upper row 1
    int32_t first = 0, second = 1;
    double* cell = nullptr;
    NlinConTable table;
    std::vector<double> rhs{-100.0, 100.0}, values = std::vector<double>(2), jacobian;

    explicit ConstraintStep(const std::string& options)
        : s(
              [&] {
                  std::string text = ram_program("ml");
                  text.insert(text.find(" covariance;"), options);
                  return text.insert(text.rfind("run;"), "l3 = l2 * l2;\nc1 = l2 + 2 * l5;\n");
              }(),
              kMethodMl) {
        if (!s.ready) return;
        cell = cmpsyms("c1", 2, &s.work)->value;
        table.count = 1;
        table.kind = &kind;
        table.firstRow = &first;
        table.secondRow = &second;
        table.cells = &cell;
        s.ctx.eval.nlinCon = &table;
        jacobian.assign(static_cast<size_t>(2 * s.q()), -1.0);
        s.nlp.shape.hasNlinCon = 1;
        s.nlp.shape.nNlinCon = 2;
        s.nlp.con.conValues = values.data();
        s.nlp.con.conJacobian = jacobian.data();
        s.nlp.con.nlcRhs = rhs.data();
    }
    double x(const char* name) { return s.nlp.param.x[parameter_index(s, name)]; }
    double at(int32_t row, const char* name) {
        return jacobian[static_cast<size_t>(row * s.q()) + parameter_index(s, name)];
    }
};

TEST(NonlinearConstraints, RangeValuesWithTheObjective) {
    ConstraintStep c("");
    ASSERT_TRUE(c.s.ready) << c.s.log.str();
    ASSERT_FALSE(std::isnan(c.s.objective()));
    const double c1 = c.x("l2") + 2 * c.x("l5");
    EXPECT_DOUBLE_EQ(c.values[0], c1 + 100.0);
    EXPECT_DOUBLE_EQ(c.values[1], 100.0 - c1);
}

// The derivative entries as the statement compiler keeps them: two entries
// for l5 add up, a zero entry leaves its place 0; a range gets +v in its
// lower and -v in its upper row.
TEST(NonlinearConstraints, JacobianFromTheProgramsDerivatives) {
    ConstraintStep c("");
    ASSERT_TRUE(c.s.ready) << c.s.log.str();
    const size_t l2 = parameter_index(c.s, "l2"), l5 = parameter_index(c.s, "l5");
    int16_t input[3] = {-1, -1, -1};
    for (int32_t j = 0; j < c.s.ctx.program.nDepInputs; ++j) {
        if (c.s.ctx.program.depInputParms[j] - 1 == static_cast<int32_t>(l2))
            input[0] = static_cast<int16_t>(j);
        if (c.s.ctx.program.depInputParms[j] - 1 == static_cast<int32_t>(l5))
            input[1] = input[2] = static_cast<int16_t>(j);
    }
    ASSERT_GE(input[0], 0);
    ASSERT_GE(input[1], 0);
    const double cells[3] = {1.0, 1.5, 0.5};
    const int16_t stmt[3] = {0, 0, 0};
    c.s.ctx.program.nConDerivs = 3;
    c.s.ctx.program.conDerivCells = cells;
    c.s.ctx.program.conDerivStmt = stmt;
    c.s.ctx.program.conDerivInput = input;
    ASSERT_EQ(cosjnlc(&c.s.nlp), 0);
    EXPECT_EQ(c.at(0, "l2"), 1.0);
    EXPECT_EQ(c.at(0, "l5"), 2.0);
    EXPECT_EQ(c.at(1, "l2"), -1.0);
    EXPECT_EQ(c.at(1, "l5"), -2.0);
    EXPECT_EQ(c.at(0, "l6"), 0.0);
    EXPECT_EQ(c.s.nlp.run.nConJac, 1);
}

TEST(NonlinearConstraints, JacobianByForwardDifferences) {
    ConstraintStep c(" fdcode");
    ASSERT_TRUE(c.s.ready) << c.s.log.str();
    ASSERT_FALSE(std::isnan(c.s.objective()));
    const std::vector<double> values = c.values;
    ASSERT_EQ(cosjnlc(&c.s.nlp), 0);
    EXPECT_NEAR(c.at(0, "l2"), 1.0, 1e-6);
    EXPECT_NEAR(c.at(0, "l5"), 2.0, 1e-6);
    EXPECT_NEAR(c.at(1, "l5"), -2.0, 1e-6);
    EXPECT_EQ(c.at(0, "l6"), 0.0);  // a parameter the program does not read
    EXPECT_EQ(c.values, values);    // the base values are restored
}

}  // namespace
}  // namespace velix::testing
