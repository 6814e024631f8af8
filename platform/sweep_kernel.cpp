// The host sweep kernel: Goodnight's symmetric sweep operator on a PackedSym
// matrix (Goodnight 1979; Little and Rubin, "Statistical Analysis with
// Missing Data", 2nd ed., sec. 7.4.3).  The conventions are stated with the
// declaration in velix/host_vector.h.
#include <cmath>
#include <cstdint>
#include <limits>

#include "velix/host_vector.h"
#include "velix/packed_index.h"

namespace {

// Smallest normalised double: a pivot of at most this magnitude cannot be
// divided by.
constexpr double kDblMin = std::numeric_limits<double>::min();

using velix::pk;

}  // namespace

// Steps: copy row k into work; subtract work_i work_j / d from every element
// outside row and column k; divide row k by d; put -1/d on the diagonal.
void zsweep(double* a, int32_t k, int32_t n, char* flags, double* work, double tol) {
    if (k < 0 || k >= n) return;
    const int64_t kk = k;
    const double d = a[pk(kk, kk)];
    if (!(d > tol) || std::fabs(d) <= kDblMin) return;
    for (int64_t j = 0; j < n; ++j) work[j] = a[pk(kk, j)];
    for (int64_t i = 0; i < n; ++i) {
        if (i == kk) continue;
        const double f = work[i] / d;
        double* row = a + velix::pk_lower(i, 0);
        for (int64_t j = 0; j <= i; ++j)
            if (j != kk) row[j] -= f * work[j];
    }
    for (int64_t j = 0; j < n; ++j)
        if (j != kk) a[pk(kk, j)] = work[j] / d;
    a[pk(kk, kk)] = -1.0 / d;
    flags[k] = '1';
}
