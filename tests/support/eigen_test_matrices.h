// Symmetric test matrices with a chosen spectrum and LAPACK's eigenvalues
// of a dense symmetric matrix, shared by the eigen routine tests.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/test_matrices.h"

namespace velix::test {

// Eigenvalues of a dense symmetric matrix by dsyev, ascending; with
// vectors, *a receives eigenvector k in its k-th n doubles.
inline std::vector<double> lapack_syev(Dense* a, int n, bool vectors) {
    std::vector<double> w(n);
    int lwork = -1, info = 0;
    double q = 0;
    const char* job = vectors ? "V" : "N";
    dsyev_(job, "U", &n, a->data(), &n, w.data(), &q, &lwork, &info);
    lwork = static_cast<int>(q);
    std::vector<double> work(lwork);
    dsyev_(job, "U", &n, a->data(), &n, w.data(), work.data(), &lwork, &info);
    EXPECT_EQ(info, 0);
    return w;
}

inline std::vector<double> lapack_eigenvalues(Dense a, int n) { return lapack_syev(&a, n, false); }

// Random orthogonal matrix (row k = vector k) by modified Gram-Schmidt,
// applied twice, on a seeded random matrix.
inline Dense random_orthogonal(int n, uint32_t seed) {
    Dense q = random_dense(n, n, seed);
    for (int pass = 0; pass < 2; ++pass)
        for (int k = 0; k < n; ++k) {
            for (int j = 0; j < k; ++j) {
                double s = 0;
                for (int i = 0; i < n; ++i) s += q[k * n + i] * q[j * n + i];
                for (int i = 0; i < n; ++i) q[k * n + i] -= s * q[j * n + i];
            }
            double s = 0;
            for (int i = 0; i < n; ++i) s += q[k * n + i] * q[k * n + i];
            s = std::sqrt(s);
            for (int i = 0; i < n; ++i) q[k * n + i] /= s;
        }
    return q;
}

// Q' diag(lambda) Q for a random orthogonal Q, exactly symmetric.
inline Dense with_eigenvalues(const std::vector<double>& lambda, uint32_t seed) {
    const int n = static_cast<int>(lambda.size());
    const Dense q = random_orthogonal(n, seed);
    Dense a(static_cast<size_t>(n) * n, 0.0);
    for (int k = 0; k < n; ++k)
        for (int i = 0; i < n; ++i) {
            const double f = q[k * n + i] * lambda[k];
            for (int j = 0; j < n; ++j) a[i * n + j] += f * q[k * n + j];
        }
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < i; ++j) a[j * n + i] = a[i * n + j];
    return a;
}

}  // namespace velix::test
