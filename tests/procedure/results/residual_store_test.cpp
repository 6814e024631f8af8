// The residual store's blocks from S and Sigma.
#include "procedure/results/residual_store.h"

#include <gtest/gtest.h>

namespace {

TEST(ResidualStore, BlocksFromTheMomentsAndTheirPrediction) {
    // Order 2, packed (0,0) (1,0) (1,1).
    const double s[3] = {4.0, 1.0, 9.0}, sigma[3] = {4.0 - 1e-9, 0.5, 8.0};
    ResidualStore store;
    store.variance.assign(7, -1.0);  // blocks of an earlier, larger stage
    residual_store_write(&store, s, sigma, 2);
    EXPECT_EQ(store.nMoments, 3);
    EXPECT_EQ(store.variance, (std::vector<double>{2 * (4.0 - 1e-9) * (4.0 - 1e-9), (4.0 - 1e-9) * 8.0 + 0.25, 128.0}));
    // A residual below the fit's relative precision is exactly 0.
    EXPECT_EQ(store.residual, (std::vector<double>{0.0, 0.5, 1.0}));
    EXPECT_EQ(store.predicted, (std::vector<double>{4.0 - 1e-9, 0.5, 8.0}));
}

}  // namespace
