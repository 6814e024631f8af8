// Test matrices and comparisons shared by the numerical kernel tests:
// seeded random dense, symmetric positive definite and indefinite matrices,
// conversion between dense row-major and PackedSym storage, and the LAPACK
// prototypes the tests compare with.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "velix/packed_index.h"

extern "C" {
void dpotrf_(const char* uplo, const int* n, double* a, const int* lda, int* info);
void dpotri_(const char* uplo, const int* n, double* a, const int* lda, int* info);
void dgetrf_(const int* m, const int* n, double* a, const int* lda, int* ipiv, int* info);
void dgeqrf_(const int* m, const int* n, double* a, const int* lda, double* tau, double* work,
             const int* lwork, int* info);
void dsyev_(const char* jobz, const char* uplo, const int* n, double* a, const int* lda, double* w,
            double* work, const int* lwork, int* info);
}

namespace velix::test {

using Dense = std::vector<double>;  // row-major n x m

using velix::pk;

inline Dense random_dense(int m, int n, uint32_t seed, double lo = -1.0, double hi = 1.0) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> u(lo, hi);
    Dense a(static_cast<size_t>(m) * n);
    for (double& v : a) v = u(gen);
    return a;
}

// A = B B' + shift I, B n x n random: symmetric positive definite.
inline Dense random_spd(int n, uint32_t seed, double shift = 0.5) {
    const Dense b = random_dense(n, n, seed);
    Dense a(static_cast<size_t>(n) * n, 0.0);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            double s = 0.0;
            for (int k = 0; k < n; ++k) s += b[i * n + k] * b[j * n + k];
            a[i * n + j] = s + (i == j ? shift : 0.0);
        }
    return a;
}

// Symmetric with entries uniform in (-1, 1): indefinite in general.
inline Dense random_symmetric(int n, uint32_t seed) {
    Dense a = random_dense(n, n, seed);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < i; ++j) a[j * n + i] = a[i * n + j];
    return a;
}

inline std::vector<double> to_packed(const Dense& a, int n) {
    std::vector<double> p(static_cast<size_t>(n) * (n + 1) / 2);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j <= i; ++j) p[pk(i, j)] = a[i * n + j];
    return p;
}

// Symmetric dense from packed.
inline Dense from_packed(const std::vector<double>& p, int n) {
    Dense a(static_cast<size_t>(n) * n);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) a[i * n + j] = p[pk(i, j)];
    return a;
}

// Lower triangular dense from packed (upper part zero).
inline Dense lower_from_packed(const std::vector<double>& p, int n) {
    Dense a(static_cast<size_t>(n) * n, 0.0);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j <= i; ++j) a[i * n + j] = p[pk(i, j)];
    return a;
}

// C = A B (A m x k, B k x n).
inline Dense matmul(const Dense& a, const Dense& b, int m, int k, int n) {
    Dense c(static_cast<size_t>(m) * n, 0.0);
    for (int i = 0; i < m; ++i)
        for (int l = 0; l < k; ++l) {
            const double v = a[i * k + l];
            for (int j = 0; j < n; ++j) c[i * n + j] += v * b[l * n + j];
        }
    return c;
}

inline Dense transpose(const Dense& a, int m, int n) {
    Dense t(static_cast<size_t>(m) * n);
    for (int i = 0; i < m; ++i)
        for (int j = 0; j < n; ++j) t[j * m + i] = a[i * n + j];
    return t;
}

// max |a - b| over all elements.
inline double max_abs_diff(const Dense& a, const Dense& b) {
    double w = 0.0;
    for (size_t i = 0; i < a.size(); ++i) w = std::max(w, std::fabs(a[i] - b[i]));
    return w;
}

inline double max_abs(const Dense& a) {
    double w = 0.0;
    for (double v : a) w = std::max(w, std::fabs(v));
    return w;
}

// max |A B - I| for n x n A and B.
inline double identity_error(const Dense& a, const Dense& b, int n) {
    const Dense c = matmul(a, b, n, n, n);
    double w = 0.0;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) w = std::max(w, std::fabs(c[i * n + j] - (i == j ? 1.0 : 0.0)));
    return w;
}

// Eigenvalues of the symmetric n x n a, ascending (LAPACK dsyev); empty
// when LAPACK fails.
inline std::vector<double> eigenvalues(Dense a, int n) {
    std::vector<double> w(n), work(64 * n + 8);
    int lwork = static_cast<int>(work.size()), info = 0;
    dsyev_("N", "U", &n, a.data(), &n, w.data(), work.data(), &lwork, &info);
    if (info != 0) w.clear();
    return w;
}

// Determinant pair (mantissa, power of ten) as log10|det|.
inline double pair_log10(const double* pair) { return std::log10(std::fabs(pair[0])) + pair[1]; }

}  // namespace velix::test
