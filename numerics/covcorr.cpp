// Covariance to correlation, and the symmetric inverse by the Bunch-Kaufman
// UDU' decomposition after scaling to unit diagonal (the scaling of van der
// Sluis, "Condition numbers and equilibration of matrices", Numer. Math.
// 14, 1969, which makes the pivot tolerances relative), with the
// singularity criteria mapped onto the scaled matrix.  A large matrix that
// is positive definite beyond the criteria takes the blocked Cholesky
// factor and inverse of cholesky.h instead, several times faster on the
// register-tiled row products.
#include "numerics/covcorr.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <utility>
#include <vector>

#include "numerics/cholesky.h"
#include "numerics/kernel_support.h"
#include "numerics/udu.h"

using velix::detail::det_scale;
using velix::detail::kMinPos;
using velix::pk_lower;

namespace {

// Correlations closer to zero than 1000 units of 2^-53 are rounding noise.
constexpr double kCorrZero = 1000.0 * velix::kMachEpsWritten;
// Standard deviations above this (about the root of the smallest normal
// double times 1e1) allow the scaling without underflow.
constexpr double kMinScaleSd = 10.0 * velix::kSqrtDblMinWritten;
// Standard deviations entering the log-determinant: ten times the smallest
// normal double.
constexpr double kMinLogSd = 2.225073858507202e-307;

void scale_both_sides(int32_t n, double* a, const double* sd) {
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j)
            a[pk_lower(i, j)] = a[pk_lower(i, j)] * (1.0 / sd[i]) / sd[j];
}

// b := the packed a with its rows and columns in reverse order (b may be
// a: the reversal swaps pairs of elements).
void reverse_packed(int32_t n, const double* a, double* b) {
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j) {
            const int64_t p = pk_lower(i, j), q = pk_lower(n - 1 - j, n - 1 - i);
            if (a != b) {
                b[p] = a[q];
            } else if (p < q) {
                std::swap(b[p], b[q]);
            }
        }
}

// The inverse of a matrix that is positive definite beyond the column
// tolerances, by the blocked Cholesky factor and inverse; false, a
// untouched, when a pivot is not above its tolerance (the matrix is then
// for the UDU' decomposition).  The rows are factored from the last, as
// the UDU' decomposition takes them, so that without interchanges its D
// holds the same pivots and it judges them alike.  On success the info
// block is that of the decomposition (all pivots positive) and kpvt says
// "no interchanges".
bool positive_definite_inverse(int32_t n, const double* tolv, double* a, double* info, int32_t* kpvt,
                               double* work) {
    std::vector<double> own(work != nullptr ? 0 : static_cast<size_t>(velix::detail::packed_inverse_work(n)));
    double* w = work != nullptr ? work : own.data();
    reverse_packed(n, a, w);
    if (!velix::detail::packed_cholesky(n, w, 0.0, 0.0, w)) return false;
    for (int32_t i = 0; i < n; ++i) {
        const double l = w[pk_lower(n - 1 - i, n - 1 - i)];
        if (!(l * l > tolv[i])) return false;
    }
    if (info != nullptr) {
        info[0] = 1.0;
        info[1] = info[3] = info[4] = 0.0;
        info[2] = n;
        for (int32_t i = 0; i < n; ++i) {
            const double l = w[pk_lower(n - 1 - i, n - 1 - i)];
            det_scale(info, l * l, true);
        }
    }
    std::copy(w, w + pk_lower(n, 0), a);
    velix::detail::packed_factor_inverse(n, a, a, w);
    reverse_packed(n, a, a);
    for (int32_t i = 0; i < n; ++i) kpvt[i] = i;
    return true;
}

}  // namespace

void zcovcor(int32_t n, double* a, double* sd) {
    for (int32_t i = 0; i < n; ++i) {
        const double v = a[pk_lower(i, i)];
        sd[i] = v > 0.0 ? std::sqrt(v) : 0.0;
    }
    for (int32_t i = 0; i < n; ++i) {
        for (int32_t j = 0; j < i; ++j) {
            double r = 0.0;
            if (sd[i] != 0.0 && sd[j] != 0.0) {
                r = a[pk_lower(i, j)] / (sd[i] * sd[j]);
                if (r >= -kCorrZero && r <= kCorrZero) r = 0.0;
            }
            a[pk_lower(i, j)] = r;
        }
        a[pk_lower(i, i)] = sd[i] != 0.0 ? 1.0 : 0.0;
    }
}

int32_t dodiag(int32_t detonly, int32_t n, double tolA, double tolB, double* d, double* info) {
    double local[5];
    if (info == nullptr) info = local;
    double dmax = 0.0;
    for (int32_t i = 0; i < n; ++i) dmax = std::max(dmax, std::fabs(d[i]));
    const double thr = std::max(tolB * dmax, tolA);
    info[0] = 1.0;
    info[1] = info[2] = info[3] = info[4] = 0.0;
    bool singular = false;
    for (int32_t i = 0; i < n; ++i) {
        // An exact zero is negligible whatever the tolerances say.
        if (std::fabs(d[i]) <= thr || d[i] == 0.0) {
            info[4] += 1.0;
            singular = true;
        } else if (d[i] > 0.0) {
            info[2] += 1.0;
        } else {
            info[3] += 1.0;
        }
        if (!singular) det_scale(info, d[i], true);
    }
    if (singular) {
        info[0] = info[1] = 0.0;
        return -1;
    }
    if (detonly == 0)
        for (int32_t i = 0; i < n; ++i) d[i] = 1.0 / d[i];
    return 0;
}

int32_t zcovinv(int32_t detonly, int32_t form, int32_t n, double tolA, double tolB, double tolC,
                double* a, double* info, double* sd, double* tolv, int32_t* kpvt, double* work) {
    //   diagonal scale factors and the log of their product
    //   scale to unit diagonal when no factor is tiny
    //   column tolerances on the (scaled) matrix
    //   from order 80, a matrix positive definite beyond the tolerances:
    //   blocked Cholesky inverse and its determinant; unscale
    //   otherwise the UDU' decomposition; singular by the tolerances: -1
    //   determinant of the unscaled matrix; inverse; unscale
    if (n < 1) return 0;
    if (form == 2) return dodiag(detonly, n, tolA, tolB, a, info);
    double maxdiag = 0.0;
    double minsd = velix::kDblMax;
    double logsum = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        const double v = std::fabs(a[pk_lower(i, i)]);
        maxdiag = std::max(maxdiag, v);
        sd[i] = std::sqrt(v);
        minsd = std::min(minsd, sd[i]);
        if (sd[i] > kMinLogSd) logsum += 2.0 * std::log10(sd[i]);
    }
    const bool scaled = minsd > kMinScaleSd;
    if (scaled) scale_both_sides(n, a, sd);
    for (int32_t i = 0; i < n; ++i) {
        const double s2 = sd[i] * sd[i];
        tolv[i] = scaled ? std::max({tolA / s2, (tolB * maxdiag / sd[i]) / sd[i], tolC})
                         : std::max({tolC * s2, tolB * maxdiag, tolA});
    }
    if (detonly == 0 && n >= velix::detail::kBlockedInverseOrder &&
        positive_definite_inverse(n, tolv, a, info, kpvt, work)) {
        if (scaled && info != nullptr) info[1] += logsum;
        if (scaled) scale_both_sides(n, a, sd);
        return scaled ? 1 : 0;
    }
    if (zudude2(n, tolv, info, a, kpvt) != 0) return -1;
    if (scaled && info != nullptr) info[1] += logsum;
    if (detonly != 0) return scaled ? 1 : 0;
    zuduinv(n, a, kpvt, tolv);
    if (scaled) scale_both_sides(n, a, sd);
    return scaled ? 1 : 0;
}

SingularityCriteria unit_free_criteria(double absolute, double largest, double own) {
    return {0.0, 0.0, std::max({absolute, largest, own})};
}
