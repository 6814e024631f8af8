// The rank list of the modification indices: its length by the number of
// fixed cells, the order of equal indices and the cut; the index of an
// element without free parameters and the bound on a reported index.
#include "procedure/results/modification_indices.h"

#include <gtest/gtest.h>

#include "velix/proc_context.h"

namespace {

using namespace velix::detail;

TEST(LmRankList, LengthFollowsTheFixedCells) {
    EXPECT_EQ(lm_rank_length(25), 10);
    EXPECT_EQ(lm_rank_length(12), 6);
    EXPECT_EQ(lm_rank_length(7), 5);
    EXPECT_EQ(lm_rank_length(3), 3);
}

TEST(LmRankList, LaterOfEqualIndicesRanksFirstAndNegligibleOnesAreCut) {
    std::vector<LmRanked> list;
    lm_rank_offer(&list, 3, {0, 0, 4.0});
    lm_rank_offer(&list, 3, {1, 0, 9.0});
    lm_rank_offer(&list, 3, {2, 0, 4.0});
    lm_rank_offer(&list, 3, {3, 0, 1.0});  // beyond the third place
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].row, 1);
    EXPECT_EQ(list[1].row, 2);
    EXPECT_EQ(list[2].row, 0);
    lm_rank_offer(&list, 4, {4, 0, 1e-9});
    lm_rank_cut(&list);
    EXPECT_EQ(list.size(), 3u);
}

// With no free parameter the bordered inverse is 1/delta, so the index is
// gamma^2 / (delta kappa) and the expected change -gamma/delta.  An index
// above both 100 T and 100 is not reported: its cell is "Sing".
TEST(LmFixedCell, IndexOfALoneElementAndTheBoundOnReportedIndices) {
    StatementOptions options;
    options.singular = 1e-8;
    LmSetup s;
    s.rv.options = &options;
    s.kappa = 0.5;
    s.chisq = 4.0;
    auto cell = [&](double gamma) { return lm_cell(s, gamma, 2.0, 0.0, 0.0); };
    EXPECT_EQ(cell(3.0).state, LmCell::kIndex);
    EXPECT_DOUBLE_EQ(cell(3.0).lm, 9.0 / (2.0 * 0.5));
    EXPECT_DOUBLE_EQ(cell(3.0).change, -1.5);
    EXPECT_EQ(cell(30.0).state, LmCell::kSingular);  // 900: above 100 and 100 T = 400
    s.chisq = 10.0;                                  // 100 T = 1000 bounds it no longer
    EXPECT_DOUBLE_EQ(cell(30.0).lm, 900.0);
}

}  // namespace
