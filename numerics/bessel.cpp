// Modified Bessel function of the first kind of real order, computed in
// logarithms so that huge and tiny values stay representable (Abramowitz
// and Stegun 9.6.10 power series, 9.7.1 large-argument expansion, 9.7.7
// uniform (Debye) expansion for large order with the polynomials u_k of
// 9.3.9-9.3.10, and Miller's backward recurrence 9.6.26 seeded by one of
// the series).
//
//   x = 0: the limit values, straight to the form selection;
//   x < 2 or z^2 < nu + 1: power series;
//   x >= 17 and nu < 1.348 sqrt(x): large-argument expansion (scaled);
//   nu <= 35 and x <= 12: backward recurrence from orders near z^2 + 1
//     seeded by the power series;
//   nu <= 35: backward recurrence from orders 36 + frac and 35 + frac
//     seeded by the uniform expansion;
//   else: the uniform expansion at nu;
//   then the form: scale by e^(-x) or not, exponentiate unless the log is wanted.
#include "numerics/bessel.h"

#include <array>
#include <cmath>

#include "numerics/gamma_beta.h"
#include "numerics/kernel_support.h"

using namespace velix;

namespace {

constexpr double kBig = 1.3407807929943e+154;  // log of I_nu(0), nu > 0: "minus infinity"
constexpr double kLn2 = 0.6931471805599453;
constexpr int kDebyeTerms = 11;

// Coefficients of the Debye polynomials u_1 .. u_11 in t (index = power),
// from u_(k+1)(t) = t^2 (1 - t^2)/2 u_k'(t) + 1/8 int_0^t (1 - 5 s^2) u_k(s) ds,
// u_0 = 1.  u_k has degree 3k.
using DebyeTable = std::array<std::array<double, 3 * kDebyeTerms + 1>, kDebyeTerms + 1>;

DebyeTable make_debye() {
    DebyeTable u{};
    u[0][0] = 1.0;
    for (int k = 0; k < kDebyeTerms; ++k) {
        auto& next = u[k + 1];
        const auto& cur = u[k];
        for (int j = 0; j <= 3 * k; ++j) {
            double c = cur[j];
            if (c == 0.0) continue;
            // t^2 (1 - t^2)/2 * d/dt (c t^j) = c j/2 (t^(j+1) - t^(j+3))
            if (j > 0) {
                next[j + 1] += 0.5 * c * j;
                next[j + 3] -= 0.5 * c * j;
            }
            // 1/8 int_0^t (1 - 5 s^2) c s^j ds = c/8 (t^(j+1)/(j+1) - 5 t^(j+3)/(j+3))
            next[j + 1] += c / (8.0 * (j + 1));
            next[j + 3] -= 5.0 * c / (8.0 * (j + 3));
        }
    }
    return u;
}

const DebyeTable& debye() {
    static const DebyeTable table = make_debye();
    return table;
}

// log I_v(x) by the power series at order v (z = x/2).
double log_series(double v, double z, double z2, int32_t* status) {
    double lz = std::log(z);
    double lead;
    if (v < 15.0) {
        lead = v * lz - zlgamma(v + 1.0);
    } else {
        lead = (v + 0.5) * (std::log(z / (v + 1.0)) + 1.0) - (lz - 1.0) * 0.5 - kLogSqrt2Pi -
               zlgbern(v + 1.0);
    }
    double term = 1.0, sum = 0.0;
    int k = 1;
    for (; k <= 100; ++k) {
        term *= z2 / (k * (v + k));
        sum += term;
        if (!(std::fabs(term) > (velix::kMachEpsWritten / 10.0) * (sum + std::fabs(lead)))) break;
    }
    if (k >= 100) *status = 1;
    return lead + zln1px(sum);
}

// log I_v(x) by the uniform expansion for large order.
double log_uniform(double v, double x) {
    double s = x / v;
    double p = std::sqrt(1.0 + s * s);
    double t = 1.0 / p;
    double eta = p + std::log(s / (1.0 + p));
    const DebyeTable& u = debye();
    double sum = 0.0, vk = 1.0;
    for (int k = 1; k <= kDebyeTerms; ++k) {
        vk *= v;
        double poly = 0.0;
        for (int j = 3 * k; j >= 0; --j) poly = poly * t + u[k][j];
        sum += poly / vk;
    }
    return v * eta + zln1px(sum) - 0.5 * std::log(2.0 * M_PI * v * p);
}

// log of e^(-x) I_nu(x) by the large-argument expansion.
double log_large_argument(double nu, double x, int32_t* status) {
    double mu = 4.0 * nu * nu;
    double term = 1.0, sum = 1.0;
    int k = 1;
    for (; k < 50; ++k) {
        double odd = 2.0 * k - 1.0;
        term = -term * (mu - odd * odd) / (8.0 * x * k);
        sum += term;
        if (!(std::fabs(term) > 1e-12 * std::fabs(sum))) break;
    }
    if (k >= 50) *status = 1;
    return std::log(sum) - kLogSqrt2Pi - 0.5 * std::log(x);
}

// Backward recurrence from orders start+frac+1 and start+frac (their logs
// in r->seedLog) down to nu.
double log_recurrence(BesselRequest* r) {
    double l1 = r->seedLog[0], l0 = r->seedLog[1];  // orders start+1, start
    double offset = std::fmax(l0, l1);
    double iNext = std::exp(l1 - offset), iCur = std::exp(l0 - offset);
    for (int k = r->startOrder; k >= r->intPart + 1; --k) {
        double iPrev = 2.0 * (k + r->frac) / r->x * iCur + iNext;
        iNext = iCur;
        iCur = iPrev;
        if (iCur > kBig) {
            int e = 0;
            std::frexp(iCur, &e);
            iCur = std::ldexp(iCur, -e);
            iNext = std::ldexp(iNext, -e);
            offset += e * kLn2;
        }
    }
    return std::log(iCur) + offset;
}

}  // namespace

int32_t zibess(BesselRequest* r) {
    r->status = 0;
    r->scaled = 0;
    if (!(r->x >= 0.0) || !(r->nu >= 0.0)) {
        r->result = -kDblMax;
        r->status = 1;
        return r->status;
    }
    r->intPart = static_cast<int32_t>(std::floor(r->nu));
    r->frac = r->nu - r->intPart;
    r->z = 0.5 * r->x;
    r->z2 = r->z * r->z;
    double logValue;
    if (r->x == 0.0) {
        // The limits I_0(0) = 1 and I_nu(0) = 0; no expansion applies.
        logValue = (r->nu == 0.0) ? 0.0 : -kBig;
    } else {
        r->twoOverX = 2.0 / r->x;
        if (r->x < 2.0 || r->z2 < r->nu + 1.0) {
            logValue = log_series(r->nu, r->z, r->z2, &r->status);
        } else if (r->x >= 17.0 && r->nu < 1.348 * std::sqrt(r->x)) {
            logValue = log_large_argument(r->nu, r->x, &r->status);
            r->scaled = 1;
        } else if (r->nu <= 35.0 && r->x <= 12.0) {
            int32_t m = static_cast<int32_t>(std::ceil(r->z2 + 1.0));
            r->startOrder = m;
            r->seedLog[0] = log_series(m + r->frac + 1.0, r->z, r->z2, &r->status);
            r->seedLog[1] = log_series(m + r->frac, r->z, r->z2, &r->status);
            logValue = log_recurrence(r);
        } else if (r->nu <= 35.0) {
            r->startOrder = 35;
            r->seedLog[0] = log_uniform(r->frac + 36.0, r->x);
            r->seedLog[1] = log_uniform(r->frac + 35.0, r->x);
            logValue = log_recurrence(r);
        } else {
            logValue = log_uniform(r->nu, r->x);
        }
    }
    if (r->scaled && r->form != 1) logValue += r->x;
    else if (!r->scaled && r->form == 1) logValue -= r->x;
    if (r->form == 2 || logValue >= kLogDblMax) {
        if (r->form != 2) r->status = 1;
        r->result = logValue;
    } else {
        r->result = std::exp(logValue);
    }
    return r->status;
}

int32_t zbess(BesselRequest* r) {
    const double nu = r->nu;
    const int32_t form = r->form;
    r->form = 2;
    if (nu >= 0.0) {
        zibess(r);
    } else {
        r->nu = nu + 1.0;
        zibess(r);
        double l1 = r->result;
        int32_t st = r->status;
        r->nu = nu + 2.0;
        zibess(r);
        double l2 = r->result;
        double m = std::fmax(l1, l2);
        r->result = m + std::log(std::exp(l2 - m) + 2.0 * (nu + 1.0) / r->x * std::exp(l1 - m));
        r->status |= st;
        r->nu = nu;
    }
    r->form = form;
    return r->status;
}
