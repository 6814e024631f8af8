// The bordered inverse and its counterpart that removes a parameter,
// checked by the defining identity A A^-1 = I on seeded random symmetric
// positive definite matrices.
#include "procedure/results/lagrange.h"

#include <gtest/gtest.h>

#include "tests/support/test_matrices.h"

namespace {

using velix::test::Dense;

// Packed inverse of the packed SPD matrix a (order n), by bordering one
// row at a time from order 0.
std::vector<double> bordered_inverse(const Dense& a, int n, int* failures) {
    std::vector<double> v(static_cast<size_t>(velix::pk_lower(n, 0)));
    std::vector<double> b(static_cast<size_t>(n) + 1), work(static_cast<size_t>(n) + 1);
    for (int k = 0; k < n; ++k) {
        for (int j = 0; j <= k; ++j) b[static_cast<size_t>(j)] = a[static_cast<size_t>(k * n + j)];
        if (sinvex(k, 1e-12, v.data(), b.data(), work.data()) != 0) ++*failures;
        std::copy(b.begin(), b.begin() + k + 1, v.begin() + velix::pk_lower(k, 0));
    }
    return v;
}

TEST(Sinvex, BorderingRowByRowGivesTheInverse) {
    for (int n : {1, 2, 5, 9}) {
        const Dense a = velix::test::random_spd(n, 17u + static_cast<uint32_t>(n));
        int failures = 0;
        const Dense inv = velix::test::from_packed(bordered_inverse(a, n, &failures), n);
        EXPECT_EQ(failures, 0);
        EXPECT_LT(velix::test::identity_error(a, inv, n), 1e-10) << "order " << n;
    }
}

TEST(Sinvex, DependentRowIsRefusedAndLeavesTheInverse) {
    // Border [[2]] by a row proportional to it: the Schur complement is 0.
    double v[1] = {0.5}, b[2] = {2.0, 2.0}, work[1];
    EXPECT_EQ(sinvex(1, 1e-8, v, b, work), -1);
    EXPECT_EQ(v[0], 0.5);
    EXPECT_EQ(b[1], 2.0);
    double b0[1] = {0.0};
    EXPECT_EQ(sinvex(0, 1e-8, nullptr, b0, work), -1);
    EXPECT_EQ(sinvex(-1, 1e-8, v, b, work), -2);
}

TEST(Sinvre, RemovingAParameterInvertsTheRest) {
    const int n = 6;
    const Dense a = velix::test::random_spd(n, 5u);
    int failures = 0;
    for (int k = 0; k < n; ++k) {
        std::vector<double> v = bordered_inverse(a, n, &failures), work(n);
        ASSERT_EQ(sinvre(k, n, 1e-12, v.data(), work.data()), 0);
        Dense reduced;
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j)
                if (i != k && j != k) reduced.push_back(a[static_cast<size_t>(i * n + j)]);
        v.resize(static_cast<size_t>(velix::pk_lower(n - 1, 0)));
        EXPECT_LT(velix::test::identity_error(reduced, velix::test::from_packed(v, n - 1), n - 1), 1e-10) << k;
    }
}

TEST(TraceInner, CountsOffDiagonalProductsTwice) {
    const int n = 4;
    const Dense x = velix::test::random_symmetric(n, 1u), y = velix::test::random_symmetric(n, 2u);
    double trace = 0.0;  // tr(X Y) for symmetric X and Y
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) trace += x[static_cast<size_t>(i * n + j)] * y[static_cast<size_t>(j * n + i)];
    EXPECT_NEAR(velix::detail::trace_inner(velix::test::to_packed(x, n).data(), velix::test::to_packed(y, n).data(), n),
                trace, 1e-13);
}

}  // namespace
