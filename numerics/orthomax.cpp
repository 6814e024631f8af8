// Orthomax rotation by cyclic planar rotations (Kaiser 1958, "The varimax
// criterion for analytic rotation in factor analysis", Psychometrika 23;
// Harman, Modern Factor Analysis, 3rd ed., ch. 14).  Each sweep visits every
// pair of factors and rotates them in their plane by the angle that
// maximises the criterion for that pair, a quarter of an atan2.
//
//   normalize rows (Kaiser) when asked; s := column sums of squares
//   repeat:
//     Q := (sum A^4 - w sum s^2)/(p k), w = gamma/p
//     stop when the largest angle of the last sweep is below 1e-7 radian
//       or Q changed by at most 1e-13 of itself
//     sweep over all pairs (j < l): angle, rotate columns of A and T,
//       update s[j], s[l]
//     stop with 1 after 50 sweeps
//   undo the normalization
#include "numerics/orthomax.h"

#include <cmath>

namespace {
// Convergence limits.  A sweep whose angles are all below one degree, or a
// criterion change of 1e-5 relative, still leaves loadings some 1e-3 away
// from the optimum (the change of the criterion is of second order in the
// angle); these limits bring them within about 1e-7, and the relative
// criterion test stays above the rounding noise of the criterion sums.
constexpr double kAngleLimit = 1e-7;        // radian
constexpr double kRelCriterionTol = 1e-13;
constexpr double kHuge = 1.3407807929943e+154;  // "not yet computed"
constexpr int kMaxSweeps = 50;
}  // namespace

int32_t zortmax(double gamma, int32_t normalize, int32_t p, int32_t k, double* a, double* t,
                double* hn, double* s) {
    const double w = gamma / p;
    auto at = [&](int i, int j) -> double& { return a[static_cast<int64_t>(j) * p + i]; };
    if (normalize) {
        for (int i = 0; i < p; ++i) {
            double h = 0.0;
            for (int j = 0; j < k; ++j) h += at(i, j) * at(i, j);
            if (h > 0.0) {
                hn[i] = std::sqrt(h);
                for (int j = 0; j < k; ++j) at(i, j) /= hn[i];
            } else {
                hn[i] = 0.0;
            }
        }
    }
    for (int j = 0; j < k; ++j) {
        double sum = 0.0;
        for (int i = 0; i < p; ++i) sum += at(i, j) * at(i, j);
        s[j] = sum;
    }
    double qPrev = kHuge, largestAngle = kHuge;
    int32_t result = 0;
    for (int sweep = 1;; ++sweep) {
        double fourth = 0.0, sq = 0.0;
        for (int j = 0; j < k; ++j) {
            for (int i = 0; i < p; ++i) {
                double v = at(i, j) * at(i, j);
                fourth += v * v;
            }
            sq += s[j] * s[j];
        }
        double q = (fourth - w * sq) / (static_cast<double>(p) * k);
        if (largestAngle < kAngleLimit || std::fabs(q - qPrev) <= kRelCriterionTol * std::fabs(q)) break;
        largestAngle = 0.0;
        qPrev = q;
        for (int l = 1; l < k; ++l) {
            for (int j = 0; j < l; ++j) {
                double sxy = 0.0, sxy2 = 0.0, sm = 0.0, su2 = 0.0;
                for (int i = 0; i < p; ++i) {
                    double x = at(i, j), y = at(i, l);
                    double xy = x * y, u = x * x - y * y;
                    sxy += xy;
                    sxy2 += xy * xy;
                    sm += xy * u;
                    su2 += u * u;
                }
                double du = s[j] - s[l];
                double num = sm - w * sxy * du;
                double den = sxy2 - w * sxy * sxy - 0.25 * (su2 - w * du * du);
                double phi = (num == 0.0 && den == 0.0) ? 0.0 : 0.25 * std::atan2(-num, -den);
                if (std::fabs(phi) > largestAngle) largestAngle = std::fabs(phi);
                double c = std::cos(phi), sn = std::sin(phi);
                // The first column of the pair changes sign with respect to a
                // plain rotation; the criterion does not see column signs.
                for (int i = 0; i < p; ++i) {
                    double x = at(i, j), y = at(i, l);
                    at(i, j) = -c * x + sn * y;
                    at(i, l) = sn * x + c * y;
                }
                if (t != nullptr) {
                    for (int i = 0; i < k; ++i) {
                        double x = t[static_cast<int64_t>(j) * k + i], y = t[static_cast<int64_t>(l) * k + i];
                        t[static_cast<int64_t>(j) * k + i] = -c * x + sn * y;
                        t[static_cast<int64_t>(l) * k + i] = sn * x + c * y;
                    }
                }
                double sj = s[j], sl = s[l];
                s[j] = sn * sn * sl + c * c * sj - sxy * 2.0 * sn * c;
                s[l] = c * c * sl + sn * sn * sj + sxy * 2.0 * sn * c;
            }
        }
        if (sweep + 1 > kMaxSweeps) {
            result = 1;
            break;
        }
    }
    if (normalize && k >= 1) {
        for (int i = 0; i < p; ++i)
            for (int j = 0; j < k; ++j) at(i, j) *= hn[i];
    }
    return result;
}
