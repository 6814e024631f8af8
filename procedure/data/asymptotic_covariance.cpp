// cosasco: the asymptotic covariance matrix of the sample moments from the
// fourth-order moments of the raw data, the basis of the WLS and DWLS
// weights (Browne, "Asymptotically distribution-free methods for the
// analysis of covariance structures", Br. J. Math. Stat. Psychol. 37, 1984):
//   kind 1  Gamma_ijkl = m_ijkl - s_ij s_kl, the fourth moments m of the
//           same (weight-scaled) variables as the moments s
//   kind 2  the unbiased form of Browne (1984), eq. 3.8
//   kind 3  correlations by the delta method (de Leeuw 1983; Browne and
//           Shapiro 1986), the variance moments replaced by a penalty
// with two kurtosis measures from the ratio of the fourth moments to their
// values under normality (Browne 1984, sec. 4).
#include <cmath>
#include <initializer_list>
#include <vector>

#include "host/host_support.h"
#include "host/scratch_file.h"
#include "numerics/kernel_support.h"
#include "procedure/data/data.h"
#include "procedure/data/data_view.h"

namespace {


inline int64_t pk(int64_t i, int64_t j) { return i >= j ? i * (i + 1) / 2 + j : j * (j + 1) / 2 + i; }

// The covariances s with divisor N (about the origin of the fourth moments,
// so about zero with an uncorrected analysis) in momentInverse, and the
// fourth moments in the weight matrix brought to the same variables.
// Returns the divisor d0.
double scaled_moments(const DataView& dv, int32_t kind, bool wls) {
    const int32_t n = dv.sizes->nManifest;
    double* w = dv.arrays->weightMatrix;
    const double d0 = zvardiv(dv.options->vardefKind, dv.moments->nObs, 0.0, dv.moments->sumWeights);
    const double f = d0 > 0.0 ? dv.moments->divisor / d0 : 0.0;
    double* s = dv.arrays->momentInverse;
    // Under PARTIAL the moments are those of the residuals on the partial
    // variables, as the fourth moments are.
    std::vector<double> residual;
    if (dv.moments->nPartial > 0) velix::detail::partial_regression(dv.ctx, nullptr, &residual);
    if (wls && velix::detail::wls_weights_about_means(dv)) {
        // The fourth moments are those of (x - m, 1): the constant's
        // products with them are their second and first moments, in the
        // same sums (their first moments, about the means, vanish but for
        // rounding).
        const int64_t kk = pk(n - 1, n - 1);
        for (int64_t a = 0; a < int64_t{n} * (n + 1) / 2; ++a) s[a] = w[pk(a, kk)];
    } else {
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j <= i; ++j)
                s[pk(i, j)] = f * (residual.empty() ? dv.arrays->momentMatrix[pk(i, j)] * dv.moments->stdDevs[i] *
                                                          dv.moments->stdDevs[j]
                                                    : residual[pk(i, j)]);
    }

    // The weight pass left m_ijkl = sum w x_i x_j x_k x_l / d0 and s is
    // sum w x_i x_j / d0.  When the weights do not sum to d0 (kinds N and
    // DF with weights), s is the weighted covariance (divisor SW) of the
    // variables scaled by sqrt(SW/d0), whose fourth moments are then
    // (SW/d0)^2 sum w x^4 / SW = (SW/d0) m.  Only with that factor do the
    // fourth moments and the products of s describe the same variables:
    // Gamma becomes (SW/d0)^2 times the weighted covariance of the products
    // x_i x_j (the centring sum w (z - zbar)(z - zbar)' / SW), and the
    // kurtosis ratios and the correlation form lose the scale of the
    // weights.  The factor is 1 without weights and for the WDF and WGT
    // kinds, whose d0 is SW.
    const double scale = d0 > 0.0 ? dv.moments->sumWeights / d0 : 1.0;
    if (scale != 1.0) {
        const int64_t pairs = int64_t{n} * (n + 1) / 2;
        const int64_t cells = wls ? pairs * (pairs + 1) / 2 : pairs;
        for (int64_t q = 0; q < cells; ++q) w[q] *= scale;
        if (!wls && kind == 3)
            for (double* extra : {dv.moments->dwlsAsycov[0], dv.moments->dwlsAsycov[1]})
                for (int64_t q = 0; q < pairs; ++q) extra[q] *= scale;
    }
    return d0;
}

// Two kurtosis measures from the ratios of the fourth moments m to their
// values g under normality.
void kurtosis_ratios(const DataView& dv) {
    const int32_t p = dv.sizes->nVar;
    const double* w = dv.arrays->weightMatrix;
    const double* s = dv.arrays->momentInverse;
    double s1 = 0.0, s2 = 0.0, s3 = 0.0;
    for (int32_t i = 0; i < p; ++i)
        for (int32_t j = 0; j <= i; ++j)
            for (int32_t k = 0; k <= j; ++k)
                for (int32_t l = 0; l <= k; ++l) {
                    const double m = w[iisub(i, j, k, l)];
                    const double g = s[pk(i, j)] * s[pk(k, l)] + s[pk(i, k)] * s[pk(j, l)] +
                                     s[pk(i, l)] * s[pk(j, k)];
                    s1 += m * g;
                    s2 += g * g;
                    if (std::fabs(g) > velix::detail::kMinPos) s3 += m / g;
                }
    const double pp = static_cast<double>(p);
    dv.moments->kurtosisCells[kKurtFourthRatio] =
        24.0 * s3 / (pp * (pp + 1) * (pp + 2) * (pp + 3)) - 1.0;
    if (s2 > velix::detail::kMinPos * s1)
        dv.moments->kurtosisCells[kKurtFourthMoments] = s1 / s2 - 1.0;
}

// Kinds 1 and 2: Gamma = m - s s', and for kind 2 its unbiased form.
void covariance_gamma(const DataView& dv, int32_t kind, bool wls, double d0) {
    const int32_t n = dv.sizes->nManifest;
    const int32_t pstar = n * (n + 1) / 2;
    double* w = dv.arrays->weightMatrix;
    const double* s = dv.arrays->momentInverse;
    if (wls) {
        int64_t q = 0;
        for (int32_t a = 0; a < pstar; ++a)
            for (int32_t b = 0; b <= a; ++b, ++q) w[q] -= s[a] * s[b];
    } else {
        for (int32_t a = 0; a < pstar; ++a) w[a] -= s[a] * s[a];
    }
    if (kind != 2) return;
    const double N = d0;
    const double c1 = N * (N - 1.0) / ((N - 2.0) * (N - 3.0));
    const double c2 = N / ((N - 2.0) * (N - 3.0));
    if (wls) {
        int64_t q = 0;
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j <= i; ++j)
                for (int32_t k = 0; k <= i; ++k)
                    for (int32_t l = 0; l <= (k < i ? k : j); ++l, ++q)
                        w[q] = c1 * w[q] -
                               c2 * (s[pk(i, k)] * s[pk(j, l)] + s[pk(i, l)] * s[pk(j, k)] -
                                     (2.0 / (N - 1.0)) * s[pk(i, j)] * s[pk(k, l)]);
    } else {
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j <= i; ++j) {
                const double sij = s[pk(i, j)];
                w[pk(i, j)] = c1 * w[pk(i, j)] - c2 * (s[pk(i, i)] * s[pk(j, j)] +
                                                       ((N - 3.0) / (N - 1.0)) * sij * sij);
            }
    }
}

// Kind 3: the asymptotic covariances of the correlations r (packed) from
// the standardised fourth moments rho by the delta method.
void correlation_gamma(const DataView& dv, bool wls, const double* r) {
    const int32_t n = dv.sizes->nManifest;
    const int32_t pstar = n * (n + 1) / 2;
    double* w = dv.arrays->weightMatrix;
    const double* s = dv.arrays->momentInverse;
    std::vector<double> sd(n);
    for (int32_t i = 0; i < n; ++i) sd[i] = s[pk(i, i)] > 0.0 ? std::sqrt(s[pk(i, i)]) : 0.0;
    auto scaled = [&](double m, int32_t i, int32_t j, int32_t k, int32_t l) {
        const double d = sd[i] * sd[j] * sd[k] * sd[l];
        return d < velix::detail::kMinPos ? 0.0 : m / d;
    };
    const double v = wzmis(dv.options->wPenalty)   ? 0.01
                     : dv.options->wPenalty == 0.0 ? 0.0
                                                    : 1.0 / dv.options->wPenalty;
    if (!wls) {
        // DWLS: rho_ijij - r (rho_iiij + rho_ijjj) + r^2 (rho_iiii/4 + rho_iijj/2 + rho_jjjj/4).
        const double* m3a = dv.moments->dwlsAsycov[0];  // m_iiij
        const double* m3b = dv.moments->dwlsAsycov[1];  // m_ijjj
        std::vector<double> out(pstar);
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j <= i; ++j) {
                const double rij = r[pk(i, j)];
                const double iijj = scaled(w[pk(i, j)], i, i, j, j);
                const double iiii = scaled(w[pk(i, i)], i, i, i, i);
                const double jjjj = scaled(w[pk(j, j)], j, j, j, j);
                out[pk(i, j)] = iijj - rij * (scaled(m3a[pk(i, j)], i, i, i, j) + scaled(m3b[pk(i, j)], i, j, j, j)) +
                                rij * rij * (0.25 * iiii + 0.5 * iijj + 0.25 * jjjj);
            }
        for (int32_t a = 0; a < pstar; ++a) w[a] = out[a];
        return;
    }
    // WLS: the elements need the untransformed rho, so they go to a utility
    // file row by row and come back afterwards.
    HostFile* file = nullptr;
    ScratchFileRequest request;
    request.attributeWord = kFileSequential;
    scratch_check(xcopen(&file, &request));
    scratch_check(xcpoint(file, 0));
    auto rho = [&](int32_t i, int32_t j, int32_t k, int32_t l) { return scaled(w[iisub(i, j, k, l)], i, j, k, l); };
    std::vector<double> row;
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j) {
            row.clear();
            const double rij = r[pk(i, j)];
            for (int32_t k = 0; k <= i; ++k)
                for (int32_t l = 0; l <= (k < i ? k : j); ++l) {
                    const double rkl = r[pk(k, l)];
                    row.push_back(rho(i, j, k, l) - 0.5 * rij * (rho(i, i, k, l) + rho(j, j, k, l)) -
                                  0.5 * rkl * (rho(i, j, k, k) + rho(i, j, l, l)) +
                                  0.25 * rij * rkl *
                                      (rho(i, i, k, k) + rho(i, i, l, l) + rho(j, j, k, k) + rho(j, j, l, l)));
                }
            scratch_check(xcwrite(file, row.data(), static_cast<int64_t>(row.size() * sizeof(double))));
        }
    scratch_check(xcpoint(file, 0));
    int64_t q = 0;
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j)
            for (int32_t k = 0; k <= i; ++k)
                for (int32_t l = 0; l <= (k < i ? k : j); ++l, ++q) {
                    double x;
                    scratch_check(xcread(file, &x, sizeof x));
                    if (i == j || k == l) x = (i == j && k == l && i == k) ? v : 0.0;
                    w[q] = x;
                }
    scratch_check(xcclose(file, 1));
}

}  // namespace

void cosasco(ProcContext* ctx, int32_t kind) {
    const DataView dv = data_view(ctx);
    const bool wls = dv.methods->methodGroup == kMethodWls || dv.methods->methodGroup == kMethodUlsWls ||
                     dv.methods->methodRequested == kMethodWls || dv.methods->methodRequested == kMethodUlsWls;
    const double d0 = scaled_moments(dv, kind, wls);
    dv.moments->kurtosisCells[kKurtFourthRatio] = dv.moments->kurtosisCells[kKurtFourthMoments] =
        host_missing_value();
    if (dv.options->kurtosisWanted && wls) kurtosis_ratios(dv);
    if (kind != 3) {
        covariance_gamma(dv, kind, wls, d0);
        return;
    }
    // The correlations of the residuals under PARTIAL, from their moments.
    const double* r = dv.arrays->momentMatrix;
    std::vector<double> partial;
    if (dv.moments->nPartial > 0) {
        const int32_t n = dv.sizes->nManifest;
        const double* s = dv.arrays->momentInverse;
        partial.resize(static_cast<size_t>(n) * (n + 1) / 2);
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j <= i; ++j) {
                const double d = std::sqrt(s[pk(i, i)] * s[pk(j, j)]);
                partial[pk(i, j)] = d > 0.0 ? s[pk(i, j)] / d : 0.0;
            }
        r = partial.data();
    }
    correlation_gamma(dv, wls, r);
}
