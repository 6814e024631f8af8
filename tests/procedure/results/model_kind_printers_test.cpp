// The RAM and matrix-form printers on a one-factor RAM model of three
// tests: the implied moments of all variables against the evaluation's
// implied moments and the closed form of the factor model, the standard
// errors and t values of the matrix tables where a standard error is
// missing or 0, and the printers' failure rules (a failed output call
// abandons the table; a memory shortage ends the printer, not the step).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "../evaluation/evaluation_fixture.h"
#include "platform/memory.h"
#include "procedure/results/results.h"

namespace velix::testing {
namespace {

const char* const kRam =
    "proc velix data=hs method=ml covariance;\n"
    "ram 1 1 10 1.0, 1 2 10 l2, 1 3 10 l3, 2 1 1 ve1, 2 2 2 ve2, 2 3 3 ve3, 2 10 10 vf;\n";

size_t count(const std::string& name) {
    size_t n = 0;
    for (const auto& it : velix::platform::current_step().items) n += it.name == name;
    return n;
}

const velix::platform::OutItem* last_item(const std::string& name) {
    const velix::platform::OutItem* found = nullptr;
    for (const auto& it : velix::platform::current_step().items)
        if (it.name == name) found = &it;
    return found;
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Cov(x_i, x_j) = l_i l_j vf + [i = j] ve_i, Cov(x_i, F) = l_i vf.
TEST(ModelKindPrinters, RamImpliedMomentsOfAllVariables) {
    EvalStep s(kRam, kMethodMl);
    ASSERT_TRUE(s.ready) << s.log.str();
    s.perturb(3, 0.2);
    ASSERT_FALSE(std::isnan(s.objective()));
    const int32_t n = s.ctx.model.rows[3];
    ASSERT_EQ(n, 4);
    std::vector<double> cov(10), work(16), var(4), pDiag(4);
    ASSERT_TRUE(getvar(results_view(&s.ctx), cov.data(), work.data(), var.data(), pDiag.data()));
    const auto x = [&](const char* name) { return s.nlp.param.x[parameter_index(s, name)]; };
    const double l[3] = {1.0, x("l2"), x("l3")}, vf = x("vf");
    for (int32_t i = 0; i < 3; ++i) {
        for (int32_t j = 0; j <= i; ++j)
            EXPECT_NEAR(cov[velix::pk(i, j)], s.ctx.eval.implied[velix::pk_lower(i, j)], 1e-12) << i << "," << j;
        EXPECT_NEAR(cov[velix::pk(3, i)], l[i] * vf, 1e-12);
    }
    EXPECT_NEAR(var[3], vf, 1e-12);
    EXPECT_EQ(pDiag[3], vf);
}

// Stage 2 tables: a zero or missing standard error gives no t value and
// shows as it is (0 for a parameter held at a bound, as in every other
// table); a fixed cell shows neither; a usable one gives est / se.  The
// RAM list marks a fixed path with "." and '_'.
TEST(ModelKindPrinters, MatrixTablesShowNoInferenceWithoutAStandardError) {
    EvalStep s(kRam, kMethodMl);
    ASSERT_TRUE(s.ready) << s.log.str();
    std::vector<double> se(static_cast<size_t>(s.ctx.sizes.nParmAll), 0.5);
    se[parameter_index(s, "l2")] = 0.0;
    se[parameter_index(s, "l3")] = host_missing_value();
    s.nlp.work.stdErrors = se.data();
    const size_t before = count("EstParms");
    cospout(&s.ctx, 2);
    cospram(&s.ctx, 2);
    s.nlp.work.stdErrors = nullptr;
    const velix::platform::OutItem* list = last_item("RAMEstimates");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->rows[0][6].text, ".       ");
    EXPECT_TRUE(same_bits(list->rows[0][8].real, host_special_missing(1)));
    EXPECT_TRUE(same_bits(list->rows[0][9].real, host_special_missing(1)));
    EXPECT_TRUE(same_bits(list->rows[1][9].real, host_missing_value()));  // l2: standard error 0
    // _IDE_ is constant: a note; _P_ and _A_ are tables, the central first.
    ASSERT_EQ(count("EstParms"), before + 2);
    const velix::platform::OutItem* a = last_item("EstParms");
    ASSERT_EQ(a->pieces.size(), 4u);
    const auto& est = a->pieces[0].values;
    const auto& stdErr = a->pieces[1].values;
    const auto& tValue = a->pieces[2].values;
    const size_t fixed = 0 * 4 + 3, l2 = 1 * 4 + 3, l3 = 2 * 4 + 3;  // (x1, F), (x2, F), (x3, F)
    EXPECT_EQ(est[fixed].real, 1.0);
    EXPECT_TRUE(same_bits(stdErr[fixed].real, host_special_missing(1)));
    EXPECT_TRUE(same_bits(tValue[fixed].real, host_special_missing(1)));
    EXPECT_EQ(stdErr[l2].real, 0.0);
    EXPECT_TRUE(same_bits(stdErr[l3].real, host_missing_value()));
    for (size_t cell : {l2, l3}) EXPECT_TRUE(same_bits(tValue[cell].real, host_missing_value())) << cell;
    EXPECT_EQ(a->pieces[3].values[l2].text, "[l2]");
    // _P_: ve1 with its standard error 0.5.
    const velix::platform::OutItem* pTable = nullptr;
    for (const auto& it : velix::platform::current_step().items)
        if (it.name == "EstParms" && &it != a) pTable = &it;
    ASSERT_NE(pTable, nullptr);
    EXPECT_EQ(pTable->pieces[1].values[0].real, 0.5);
    EXPECT_NEAR(pTable->pieces[2].values[0].real, pTable->pieces[0].values[0].real / 0.5, 1e-15);
}

// A failed output call abandons the table in hand: the matrix printer goes
// on with the next matrix, the RAM printer ends, closing the group.
TEST(ModelKindPrinters, FailedOutputCallAbandonsTheTable) {
    EvalStep s(kRam, kMethodMl);
    ASSERT_TRUE(s.ready) << s.log.str();
    const size_t before = count("EstParms");
    velix::platform::inject_method_failure(kKyrMethodMatrixData, 1, -1);
    cospout(&s.ctx, 1);
    EXPECT_EQ(count("EstParms"), before + 1);
    EXPECT_EQ(s.ctx.output.kyrGroups[kGroupEstimationResults], nullptr);

    const size_t lists = count("RAMEstimates"), std = count("RAMStdEstimates");
    velix::platform::inject_method_failure(kKyrMethodAddRow, 1, -1);
    cospram(&s.ctx, 1);
    EXPECT_EQ(count("RAMEstimates"), lists);
    EXPECT_EQ(count("RAMStdEstimates"), std);
    EXPECT_EQ(s.ctx.output.kyrGroups[kGroupEstimationResults], nullptr);
}

// Without memory for its work arrays a printer writes the memory message
// and returns; the step goes on.
TEST(ModelKindPrinters, MemoryShortageEndsThePrinterNotTheStep) {
    EvalStep s(kRam, kMethodMl);
    ASSERT_TRUE(s.ready) << s.log.str();
    ASSERT_FALSE(std::isnan(s.objective()));
    const size_t tables = count("EstParms"), lists = count("RAMEstimates"), std = count("RAMStdEstimates");
    velix::platform::fail_nth_pool_creation(1);
    EXPECT_NO_THROW(cospout(&s.ctx, 1));
    EXPECT_EQ(count("EstParms"), tables);
    velix::platform::fail_nth_pool_creation(1);
    EXPECT_NO_THROW(cospram(&s.ctx, 1));
    EXPECT_EQ(count("RAMEstimates"), lists + 1);
    EXPECT_EQ(count("RAMStdEstimates"), std);
    velix::platform::fail_nth_pool_creation(0);
    cospram(&s.ctx, 1);
    EXPECT_EQ(count("RAMStdEstimates"), std + 1);
}

}  // namespace
}  // namespace velix::testing
