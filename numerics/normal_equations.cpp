// Least squares through the normal equations (X'X) b = X'y, solved with
// the sweep operator on the nonnegative definite cross-product matrix
// (Goodnight 1979, "A tutorial on the SWEEP operator", Am. Stat. 33).
#include "numerics/normal_equations.h"

#include "numerics/kernel_support.h"
#include "numerics/sweep_solve.h"
#include "velix/host_vector.h"
#include "velix/packed_index.h"

namespace {

// Relative pivot tolerance of the normal-equations solve.
constexpr double kNormalEquationsTol = velix::kSqrtMachEpsWritten;

}  // namespace

// Steps: work := A'A packed by rows; x := A'B column by column; sweep solve.
int32_t zprcrst(int32_t m, int32_t n, const double* a, const double* b, double* x, double* work) {
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j)
            work[velix::pk_lower(i, j)] = zinner(a + static_cast<int64_t>(i) * m, a + static_cast<int64_t>(j) * m, m);
    for (int32_t k = 0; k < n; ++k)
        for (int32_t j = 0; j < n; ++j)
            x[static_cast<int64_t>(k) * n + j] = zinner(a + static_cast<int64_t>(j) * m, b + static_cast<int64_t>(k) * m, m);
    return znndsol(n, work, work + n * (n + 1) / 2, n, x, kNormalEquationsTol);
}
