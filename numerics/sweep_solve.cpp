// The sweep operator on a packed symmetric matrix (Beaton, "The use of
// special matrix operators in statistical calculus", ETS RB-64-51, 1964;
// Goodnight, "A tutorial on the SWEEP operator", Amer. Statist. 33, 1979):
// Gauss-Jordan elimination of every pivot in turn, carrying the right-hand
// sides along, with negligible pivots set to zero so that the result is a
// generalized inverse.
#include "numerics/sweep_solve.h"

#include "numerics/kernel_support.h"
#include "velix/host_vector.h"

using velix::pk_lower;

int32_t znndsol(int32_t n, double* a, double* w, int32_t m, double* b, double tol) {
    //   for each pivot k: copy row/column k; negligible: zero it and the
    //   solutions' component k; otherwise eliminate the other rows, set
    //   row and column k, and update every right-hand side
    if (n < 1) return 0;
    int32_t count = 0;
    for (int32_t k = 0; k < n; ++k) {
        for (int32_t j = 0; j < n; ++j) w[j] = j < k ? a[pk_lower(k, j)] : a[pk_lower(j, k)];
        const double d = w[k];
        if (d < tol || d == 0.0) {
            ++count;
            for (int32_t j = 0; j < n; ++j) a[j <= k ? pk_lower(k, j) : pk_lower(j, k)] = 0.0;
            for (int32_t c = 0; c < m; ++c) b[static_cast<int64_t>(c) * n + k] = 0.0;
            continue;
        }
        for (int32_t j = 0; j < n; ++j) {
            if (j == k) continue;
            const double f = j < k ? w[j] / d : -w[j] / d;
            double* rj = a + pk_lower(j, 0);
            zvaxpy(j + 1, f, w, rj, rj);
        }
        for (int32_t i = 0; i < k; ++i) a[pk_lower(k, i)] = 0.0 - w[i] / d;
        a[pk_lower(k, k)] = 1.0 / d;
        for (int32_t j = k + 1; j < n; ++j) a[pk_lower(j, k)] = w[j] / d;
        for (int32_t c = 0; c < m; ++c) {
            double* bc = b + static_cast<int64_t>(c) * n;
            const double t = bc[k] / d;
            zvxay11(n, -t, w, bc);
            bc[k] = t;
        }
    }
    return count;
}
