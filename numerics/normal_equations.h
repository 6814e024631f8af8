// A least-squares solve through the normal equations.
#pragma once

#include <cstdint>

// Least squares through the normal equations (in: m, n, a and b with n
// columns of length m each, column j at j*m; out: x, n columns of n, the
// solution of (A'A) X = A'B, column k at k*n; work: n(n+1)/2 + n doubles).
// Result: that of the nonnegative definite sweep solve (the number of
// negligible pivots).
int32_t zprcrst(int32_t m, int32_t n, const double* a, const double* b, double* x, double* work);
