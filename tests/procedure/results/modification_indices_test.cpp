// The rank list of the modification indices: its length by the number of
// fixed cells, the order of equal indices and the cut.
#include "procedure/results/modification_indices.h"

#include <gtest/gtest.h>

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

}  // namespace
