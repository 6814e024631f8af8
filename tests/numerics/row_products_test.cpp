// Row products against the plain triple loop: edges of the register block,
// rows longer than one pass, and the lower triangle leaving the rest alone.
#include "numerics/row_products.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/support/test_matrices.h"

namespace vt = velix::test;

namespace {

TEST(RowsProduct, MatchesTheTripleLoop) {
    struct Case { int m, nb, k; bool lower; };
    for (const Case c : {Case{1, 1, 1, false}, Case{7, 5, 3, false}, Case{9, 6, 601, false},
                         Case{13, 13, 517, true}, Case{4, 4, 8, true}}) {
        const vt::Dense a = vt::random_dense(c.m, c.k, 11), b = vt::random_dense(c.nb, c.k, 12);
        vt::Dense out = vt::random_dense(c.m, c.nb, 13);
        const vt::Dense before = out;
        std::vector<const double*> ar, br;
        std::vector<double*> cr;
        for (int i = 0; i < c.m; ++i) {
            ar.push_back(c.lower ? b.data() + i * c.k : a.data() + i * c.k);
            cr.push_back(out.data() + i * c.nb);
        }
        for (int j = 0; j < c.nb; ++j) br.push_back(b.data() + j * c.k);
        velix::detail::rows_product(c.m, c.nb, c.k, ar.data(), br.data(), -0.5, cr.data(), c.lower);
        double worst = 0.0;
        for (int i = 0; i < c.m; ++i)
            for (int j = 0; j < c.nb; ++j) {
                double s = 0.0;
                for (int t = 0; t < c.k; ++t) s += ar[i][t] * br[j][t];
                const double want = before[i * c.nb + j] + (c.lower && j > i ? 0.0 : -0.5 * s);
                worst = std::max(worst, std::fabs(out[i * c.nb + j] - want));
            }
        // Sums of k products of numbers below 1: rounding of order k eps.
        EXPECT_LE(worst, 1e-15 * c.k + 1e-15) << c.m << " x " << c.nb << " x " << c.k;
    }
}

}  // namespace
