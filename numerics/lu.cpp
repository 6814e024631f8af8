// LU decomposition by Gaussian elimination with partial pivoting and the
// inverse from the factors, in the column-oriented scheme of LINPACK DGEFA
// and DGEDI (Dongarra, Bunch, Moler and Stewart, "LINPACK Users' Guide",
// SIAM 1979, ch. 1), on row-major storage; and Gauss-Jordan inversion of a
// packed lower triangular matrix (Golub and Van Loan, "Matrix
// Computations", 4th ed., sec. 3.1).
#include "numerics/lu.h"

#include <cmath>
#include <utility>

#include "numerics/kernel_support.h"
#include "velix/host_vector.h"

using velix::detail::det_scale;
using velix::pk_lower;

namespace {

// A pivot is negligible at or below tol; an exact zero always is, so a
// negative tolerance never leads to a division by zero.
bool negligible(double v, double tol) { return std::fabs(v) <= tol || v == 0.0; }

}  // namespace

int32_t zludec(int32_t n, int32_t lda, double tol, double* det, double* a, int32_t* ipvt) {
    //   for each column k: find the pivot row, interchange, scale the
    //   multipliers, update the trailing columns
    //   then accumulate the determinant over the diagonal
    if (det != nullptr) {
        det[0] = 1.0;
        det[1] = 0.0;
    }
    if (n < 1) return 0;
    const auto at = [a, lda](int32_t i, int32_t j) -> double& {
        return a[static_cast<int64_t>(i) * lda + j];
    };
    int32_t count = 0;
    for (int32_t k = 0; k < n - 1; ++k) {
        int32_t l = k;
        double amax = std::fabs(at(k, k));
        for (int32_t i = k + 1; i < n; ++i) {
            if (std::fabs(at(i, k)) > amax) {
                amax = std::fabs(at(i, k));
                l = i;
            }
        }
        ipvt[k] = l;
        if (negligible(at(l, k), tol)) {
            ++count;
            continue;
        }
        if (l != k) std::swap(at(l, k), at(k, k));
        const double t = -1.0 / at(k, k);
        for (int32_t i = k + 1; i < n; ++i) at(i, k) *= t;
        for (int32_t j = k + 1; j < n; ++j) {
            const double s = at(l, j);
            if (l != k) {
                at(l, j) = at(k, j);
                at(k, j) = s;
            }
            for (int32_t i = k + 1; i < n; ++i) at(i, j) += s * at(i, k);
        }
    }
    ipvt[n - 1] = n - 1;
    if (negligible(at(n - 1, n - 1), tol)) ++count;
    if (count != 0) {
        if (det != nullptr) det[0] = det[1] = 0.0;
        return count;
    }
    if (det != nullptr) {
        for (int32_t i = 0; i < n; ++i) {
            if (ipvt[i] != i) det[0] = -det[0];
            det_scale(det, at(i, i), true);
        }
    }
    return 0;
}

void zluinv(int32_t n, int32_t lda, double* a, const int32_t* ipvt, double* work) {
    //   invert U in place; then multiply by inv(L) from the right, undoing
    //   the interchanges column by column in reverse order
    const auto at = [a, lda](int32_t i, int32_t j) -> double& {
        return a[static_cast<int64_t>(i) * lda + j];
    };
    for (int32_t k = 0; k < n; ++k) {
        at(k, k) = 1.0 / at(k, k);
        const double t = -at(k, k);
        for (int32_t i = 0; i < k; ++i) at(i, k) *= t;
        for (int32_t j = k + 1; j < n; ++j) {
            const double s = at(k, j);
            at(k, j) = 0.0;
            for (int32_t i = 0; i <= k; ++i) at(i, j) += s * at(i, k);
        }
    }
    for (int32_t k = n - 2; k >= 0; --k) {
        for (int32_t i = k + 1; i < n; ++i) {
            work[i] = at(i, k);
            at(i, k) = 0.0;
        }
        for (int32_t j = k + 1; j < n; ++j) {
            const double w = work[j];
            for (int32_t i = 0; i < n; ++i) at(i, k) += w * at(i, j);
        }
        const int32_t l = ipvt[k];
        if (l != k)
            for (int32_t i = 0; i < n; ++i) std::swap(at(i, k), at(i, l));
    }
}

int32_t zinvlo(double* a, int32_t n, double* work, double tol) {
    //   for each pivot k: save row k and the column below it; eliminate
    //   the block left of and below the pivot; scale row and column
    for (int32_t k = 0; k < n; ++k) {
        double* rk = a + pk_lower(k, 0);
        for (int32_t i = 0; i <= k; ++i) work[i] = rk[i];
        for (int32_t j = k + 1; j < n; ++j) work[j] = a[pk_lower(j, k)];
        const double d = work[k];
        if (negligible(d, tol)) return 1;
        for (int32_t j = k + 1; j < n; ++j) {
            double* rj = a + pk_lower(j, 0);
            const double f = work[j] / d;
            for (int32_t i = 0; i < k; ++i) rj[i] -= f * work[i];
        }
        zvscl11(k, -1.0 / d, rk, rk);
        rk[k] = 1.0 / d;
        for (int32_t j = k + 1; j < n; ++j) a[pk_lower(j, k)] /= d;
    }
    return 0;
}
