// The normal-equations solve against LAPACK's least squares.
#include "numerics/normal_equations.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

extern "C" void dgels_(const char* trans, const int* m, const int* n, const int* nrhs, double* a,
                       const int* lda, double* b, const int* ldb, double* work, const int* lwork,
                       int* info);

TEST(NormalEquations, MatchesLapackLeastSquares) {
    const int m = 7, n = 3;
    std::vector<double> a(m * n), b(m * n);
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < m; ++i) {
            a[j * m + i] = std::sin(1.3 * i + 0.7 * j) + (i == j ? 2.0 : 0.0);
            b[j * m + i] = std::cos(0.4 * i * (j + 1));
        }
    std::vector<double> x(n * n), work(n * (n + 1) / 2 + n);
    ASSERT_EQ(zprcrst(m, n, a.data(), b.data(), x.data(), work.data()), 0);
    std::vector<double> aa = a, bb = b, lw(256);
    int mm = m, nn = n, nr = n, lwork = 256, info = 0;
    dgels_("N", &mm, &nn, &nr, aa.data(), &mm, bb.data(), &mm, lw.data(), &lwork, &info);
    ASSERT_EQ(info, 0);
    for (int k = 0; k < n; ++k)
        for (int j = 0; j < n; ++j) EXPECT_NEAR(x[k * n + j], bb[k * m + j], 1e-10) << j << " " << k;
}
