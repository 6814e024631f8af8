// The optimizer state between BY groups when INRAM= gives each group its
// own estimates: the ESTIM rows of the group set the element values and the
// parameters they carry; rows that address no matrix or no element are
// reported, and an unmatched element ends the step after every row was
// applied.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/step_exit.h"
#include "procedure/driver/model.h"
#include "procedure/procedure.h"
#include "tests/support/statement_fixture.h"
#include "velix/host_dataset.h"

namespace {

using velix::testing::name_of;

// The element of matrix k at the 0-based (row, column); -1 when none.
int32_t element_at(const ProcContext& ctx, int32_t k, int32_t row, int32_t column) {
    for (int32_t e = ctx.model.firstElement[k]; e < ctx.model.firstElement[k] + ctx.model.elementCount[k]; ++e)
        if (ctx.elements.row[e] == row && ctx.elements.column[e] == column) return e;
    return -1;
}

int32_t parameter_index(const NlpProblem& nlp, int32_t n, const std::string& name) {
    for (int32_t p = 0; p < n; ++p)
        if (name_of(nlp.paramNames[p]).substr(0, name.size()) == name &&
            (nlp.paramNames[p].length == static_cast<int16_t>(name.size())))
            return p;
    return -1;
}

TEST(OptimizerState, InramEstimatesOfTheGroupReplaceTheStartValues) {
    velix::testing::CosinitStep s(
        "proc velix data=hs_by inram=ram_estimates method=none;\nvar x1-x3;\nby school;\n");
    ASSERT_EQ(s.exitCode, -1) << s.log.str();
    ASSERT_EQ(s.ctx.input.inramUsed, 1);
    s.ctx.sizes.nByVars = 1;  // behave as with BY groups
    const int32_t nP = s.ctx.sizes.nParmAll;
    std::vector<double> x(s.nlp.x, s.nlp.x + nP);
    cosxinp(&s.ctx, 0);

    // The first group of INRAM= holds the model (the lines of
    // x1 = b F1 + E1, x2 = b F1 + E2, x3 = c F1 + E3); the second group's
    // rows are those of the test, on the second group of DATA=.
    HostDataSet* data = s.ctx.dataSets.dataSetHandle[kRoleData];
    HostDataSet* inram = s.ctx.dataSets.dataSetHandle[kRoleInram];
    ASSERT_EQ(xbynext(data), 1);
    ASSERT_EQ(xbynext(data), 1);
    ASSERT_EQ(xbysync(data, inram), 0);
    const size_t before = velix::testing::messages_now();
    int32_t code = -1;
    try {
        cosxinp(&s.ctx, 1);
    } catch (const velix::platform::StepExit& e) {
        code = e.code;
    }
    const std::vector<int32_t> msgs = velix::testing::messages_since(before);
    // The row (1, 3) of _GAMMA_ names no element: the step ends after the
    // group's rows.
    EXPECT_EQ(code, 1008);
    EXPECT_EQ(std::count(msgs.begin(), msgs.end(), 117), 1);
    // Matrix 7 and a missing matrix number address nothing; the MODEL row
    // with matrix 99 is not an ESTIM row and is passed over.
    EXPECT_EQ(std::count(msgs.begin(), msgs.end(), 109), 2);

    const int32_t b = parameter_index(s.nlp, nP, "b"), c = parameter_index(s.nlp, nP, "c");
    const int32_t ve1 = parameter_index(s.nlp, nP, "ve1"), ve2 = parameter_index(s.nlp, nP, "ve2");
    ASSERT_GE(b, 0);
    ASSERT_GE(c, 0);
    ASSERT_GE(ve1, 0);
    ASSERT_GE(ve2, 0);
    // b occurs at two elements: each keeps its own row's estimate, and the
    // parameter takes the last row that names it.
    const int32_t b1 = element_at(s.ctx, 3, 0, 0), b2 = element_at(s.ctx, 3, 1, 0);
    ASSERT_GE(b1, 0);
    ASSERT_GE(b2, 0);
    EXPECT_EQ(s.ctx.elements.value[b1], 0.9);
    EXPECT_EQ(s.ctx.elements.value[b2], 0.8);
    EXPECT_EQ(s.nlp.x[b], 0.8);
    // _MATNR_ 20003 is matrix 3 of its term.
    EXPECT_EQ(s.nlp.x[c], 0.7);
    EXPECT_EQ(s.ctx.elements.value[element_at(s.ctx, 3, 2, 0)], 0.7);
    // A fixed element takes the estimate without touching a parameter.
    const int32_t fixed = element_at(s.ctx, 3, 0, 1);
    ASSERT_GE(fixed, 0);
    EXPECT_EQ(s.ctx.elements.parameter[fixed], 0);
    EXPECT_EQ(s.ctx.elements.value[fixed], 0.6);
    EXPECT_EQ(s.nlp.x[ve1], 1.5);
    // A parameter that no row names keeps the value the group left.
    EXPECT_EQ(s.nlp.x[ve2], x[ve2]);
}

}  // namespace
