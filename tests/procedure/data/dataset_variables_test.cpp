// The program variables that INEST= supplies: recorded with their INEST=
// variable number, their symbol pointed at the record's value, and defined
// in OUTEST= after the parameters.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/statement_fixture.h"

namespace {

using velix::testing::CosinitStep;

TEST(StatementVariables, RecordedFromInest) {
    CosinitStep s(
        "proc velix data=hs inest=stmt_start;\n"
        "lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3;\n"
        "std F1 = vf, E1-E3 = ve1-ve3;\n"
        "l3 = ratio * l2;\n"
        "run;\n");
    ASSERT_EQ(s.exitCode, -1) << s.log.str();
    ASSERT_EQ(s.ctx.program.nStmtVars, 1) << s.log.str();
    ASSERT_NE(s.ctx.program.stmtVars, nullptr);
    const StatementVariable& v = s.ctx.program.stmtVars[0];
    EXPECT_EQ(std::string(v.symbol->name, static_cast<size_t>(v.symbol->nameLength)), "ratio");
    EXPECT_EQ(v.number, 7);  // the seventh variable of INEST=
    EXPECT_EQ(v.symbol->value, &v.value);
    EXPECT_EQ(v.symbol->binding, 'a');
}

}  // namespace
