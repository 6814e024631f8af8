// Shared machinery of the dense and packed kernels: the packed-index
// arithmetic (from velix/packed_index.h), the per-processor compilation of
// the heavy loops (velix/kernel_clones.h), the constants the kernels test
// against, the mantissa/power-of-ten determinant accumulator, the forward
// substitution of rows side by side and the ordered insertion the
// eigenvalue routines keep their results with.
// Nothing here is specific to one factorization.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "velix/host_vector.h"
#include "velix/kernel_clones.h"
#include "velix/packed_index.h"

namespace velix {

// Machine constants of IEEE double precision, once for every kernel.
constexpr double kMachEps = std::numeric_limits<double>::epsilon() / 2;  // unit roundoff 2^-53
constexpr double kDblMin = std::numeric_limits<double>::min();           // smallest normal double
constexpr double kDblMax = std::numeric_limits<double>::max();
// The unit roundoff as the kernels' and the procedure's tolerances were set
// from it: 2^-53 written to 16 digits, which reads back two units in the
// last place above 2^-53.  Kept apart from kMachEps so that those
// tolerances stay what they were.
constexpr double kMachEpsWritten = 1.110223024625157e-16;
static_assert(kMachEpsWritten > kMachEps && kMachEpsWritten < kMachEps * (1 + 8 * kMachEps));
// Their square roots to 16 or 17 digits (std::sqrt is not constexpr); the
// assertions check each against the constant it comes from.
constexpr double kSqrtMachEps = 1.0536712127723509e-08;
constexpr double kSqrtDblMin = 1.491668146240041e-154;
constexpr double kSqrtDblMax = 1.3407807929942596e+154;
constexpr bool near_one(double r) { return r > 1 - 1e-14 && r < 1 + 1e-14; }
static_assert(near_one(kSqrtMachEps * kSqrtMachEps / kMachEps));
static_assert(near_one(kSqrtDblMin * (kSqrtDblMin / kDblMin)));
static_assert(near_one(kSqrtDblMax * (kSqrtDblMax / kDblMax)));
// Three of those square roots as tolerances and bounds were written from
// them (to 16, 10 and 14 digits, each just above its root), and ten
// thousand times the smallest normal double as the optimizer's tiny
// tolerances were written from it; kept apart for the same reason as
// kMachEpsWritten.  The assertions bound each against its source.
constexpr double kSqrtMachEpsWritten = 1.053671212772351e-08;
constexpr double kSqrtDblMinWritten = 1.491668147e-154;
constexpr double kSqrtDblMaxWritten = 1.3407807929943e+154;
constexpr double kDblMinE4Written = 2.2250738585072018e-304;
static_assert(kSqrtMachEpsWritten > kSqrtMachEps && near_one(kSqrtMachEpsWritten / kSqrtMachEps));
static_assert(kSqrtDblMinWritten > kSqrtDblMin && kSqrtDblMinWritten < kSqrtDblMin * (1 + 1e-9));
static_assert(kDblMinE4Written > 1e4 * kDblMin && near_one(kDblMinE4Written / (1e4 * kDblMin)));
static_assert(kSqrtDblMaxWritten > kSqrtDblMax && kSqrtDblMaxWritten < kSqrtDblMax * (1 + 1e-13));

}  // namespace velix

namespace velix::detail {

// The smallest normal double plus one unit in the last place; the kernels
// treat magnitudes at or below it as zero.
constexpr double kMinPos = 2.225073858507202e-308;

// Multiplies the determinant pair (mantissa, power of ten) by f and brings
// the mantissa back to 1 <= |mantissa| < 10.  A factor too large for the
// plain product has its power of ten taken out first, so the loops always
// end; a zero or non-finite product is left as it is.  With zero_tiny a
// product at or below kMinPos in magnitude (before normalisation) makes the
// pair (0.0, 1.0), the convention of the pivoted factorizations.
inline void det_scale(double* pair, double f, bool zero_tiny = false) {
    double m = pair[0] * f;
    if (!std::isfinite(m) && std::isfinite(f) && f != 0.0) {
        const double e = std::floor(std::log10(std::fabs(f)));
        m = pair[0] * (f / std::pow(10.0, e));
        pair[1] += e;
    }
    if (zero_tiny && std::fabs(m) <= kMinPos) {
        pair[0] = 0.0;
        pair[1] = 1.0;
        return;
    }
    if (std::isfinite(m) && m != 0.0) {
        while (std::fabs(m) < 1.0) {
            m *= 10.0;
            pair[1] -= 1.0;
        }
        while (std::fabs(m) >= 10.0) {
            m /= 10.0;
            pair[1] += 1.0;
        }
    }
    pair[0] = m;
}

// Solves the rows 0 .. n-1 of the packed factor l against y in place, as
// a forward substitution does: finish(i, sum) receives the inner product
// of row i with y[0 .. i) and sets y[i].  Four rows at a time share the
// pass over the solved part of y, their sums side by side so that none
// waits for its own previous addition, and then take their last terms one
// after the other: each sum runs from 0.0 in the order of the elements, as
// zinner adds it, and gives its bits.
template <class Finish>
void substitute_rows(int32_t n, const double* l, double* y, Finish finish) {
    constexpr int32_t kSideBySide = 4;
    int32_t i = 0;
    for (; i + kSideBySide <= n; i += kSideBySide) {
        const double* r[kSideBySide];
        double s[kSideBySide] = {};
        for (int32_t k = 0; k < kSideBySide; ++k) r[k] = l + pk_lower(i + k, 0);
        for (int32_t t = 0; t < i; ++t)
            for (int32_t k = 0; k < kSideBySide; ++k) s[k] += r[k][t] * y[t];
        for (int32_t k = 0; k < kSideBySide; ++k) {
            for (int32_t t = i; t < i + k; ++t) s[k] += r[k][t] * y[t];
            finish(i + k, s[k]);
        }
    }
    for (; i < n; ++i) finish(i, zinner(l + pk_lower(i, 0), y, i));
}

// Puts x with its tag into the ascending w[0..n) (ind[0..n) alongside),
// after any equal values; w and ind have room for n + 1 entries.
inline void insert_ascending(double x, int16_t tag, double* w, int16_t* ind, int64_t n) {
    int64_t i = n;
    while (i > 0 && x < w[i - 1]) {
        w[i] = w[i - 1];
        ind[i] = ind[i - 1];
        --i;
    }
    w[i] = x;
    ind[i] = tag;
}

}  // namespace velix::detail
