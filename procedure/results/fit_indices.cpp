// Fit indices of a covariance structure model from the discrepancies of the
// model and of the independence model (see fit_indices.h).  Formulas:
// Joreskog and Sorbom (1984) for GFI, AGFI and RMR; Mulaik et al. (1989)
// for PGFI; Steiger and Lind (1980) and Browne and Cudeck (1993) for the
// RMSEA, its interval and the test of close fit; Browne and Cudeck (1989)
// for the ECVI; Bentler (1990) for the CFI; Bentler and Bonett (1980) for
// the normed and non-normed indices; Hoelter (1983) for the critical N;
// Akaike (1987), Bozdogan (1987) and Schwarz (1978) for the information
// criteria; McDonald (1989) for the centrality index; Bollen (1986, 1989)
// for rho1 and Delta2; Wilson and Hilferty (1931) for the normal z.
#include "procedure/results/fit_indices.h"

#include <cmath>
#include <vector>

#include "numerics/distributions.h"
#include "numerics/kernel_support.h"
#include "numerics/packed.h"
#include "numerics/udu.h"
#include "numerics/noncentral_chisq.h"
#include "velix/host.h"
#include "velix/types.h"

namespace {

// Two units in the last place above 2^-53: the relative resolution of a
// double, the unit of the perfect-fit floor and of the CFI's bound.
constexpr double kEps = velix::kMachEpsWritten;
// One unit above the smallest normal double: guards divisions.
constexpr double kTiny = velix::detail::kMinPos;
// A little above the square root of the smallest normal double: guards the
// differences of the incremental indices, whose squares must stay normal.
constexpr double kSmall = velix::kSqrtDblMinWritten;
// The largest argument of exp that does not overflow, and the log of a
// value just above the smallest normal double.
constexpr double kExpLimit = 709.78271289339;
constexpr double kLogLow = -708.3964185;
// The RMSEA of close fit (Browne and Cudeck 1993).
constexpr double kCloseRmsea = 0.05;
// Hoelter's critical N is taken at the 5% level.
constexpr double kHoelterLevel = 0.95;

double missing() { return host_missing_value(); }
bool is_missing(double x) { return host_is_missing(x) || std::isnan(x); }

// The noncentrality lambda >= 0 with P(chi2_df(lambda) <= x) = p, missing
// when there is none: when even the central distribution gives less than p
// at x, no noncentrality reaches p, and the limit is left missing rather
// than put at a boundary no root confirms.
double noncentrality_limit(double x, double df, double p) {
    double nc = 0.0;
    if (zncc(x, df, p, &nc) == 0 && !is_missing(nc)) return nc;
    return missing();
}

}  // namespace

// T is taken as an exact fit below 100 eps, scaled by df when df >= 0.1:
// rounding in F alone cannot produce more.
double fit_perfect_floor(double df) { return df < 0.1 ? 100.0 * kEps : 100.0 * df * kEps; }

// GFI = 1 - G / D, G the weighted residual norm and D the same norm of the
// moments (Joreskog and Sorbom 1984).
double fit_gfi(double g, double d) {
    if (is_missing(g) || is_missing(d) || d <= 0.0) return missing();
    return 1.0 - g / d;
}

// AGFI = 1 - p* (G / D) / df.
double fit_agfi(double g, double d, double nMoments, double df) {
    if (is_missing(g) || is_missing(d) || d <= 0.0 || df <= 0.1) return missing();
    return 1.0 - nMoments * (g / d) / df;
}

// PGFI = GFI df / df0 (Mulaik et al. 1989).
double fit_pgfi(double gfi, double df, double df0) {
    if (is_missing(gfi) || df0 <= 0.0) return missing();
    return gfi * df / df0;
}

// RMR = sqrt(sum over the p* moments of (s - sigma)^2 / p*).
double fit_rmr(const double* s, const double* sigma, int32_t nMoments) {
    if (nMoments <= 0) return missing();
    double sum = 0.0;
    for (int32_t k = 0; k < nMoments; ++k) sum += (s[k] - sigma[k]) * (s[k] - sigma[k]);
    return std::sqrt(sum / nMoments);
}

// Upper-tail probability of T under chi-square with df degrees of freedom.
double fit_p_chisq(double t, double df) {
    if (is_missing(t)) return missing();
    return zpgx2(t, static_cast<int32_t>(std::lround(df)));
}

// RMSEA = sqrt(max(T - df, 0) / (nn df)) (Steiger and Lind 1980).
double fit_rmsea(double t, double df, double nn) {
    if (is_missing(t) || df <= 0.1 || nn <= 0.0) return missing();
    return t > df ? std::sqrt((t - df) / (nn * df)) : 0.0;
}

// Limits sqrt(lambda / (nn df)), lambda the noncentralities that put T at
// the 1 - alpha and alpha points of the noncentral chi-square (Browne and
// Cudeck 1993).
void fit_rmsea_interval(double t, double df, double nn, double alpha, double* lower,
                        double* upper) {
    *lower = missing();
    *upper = missing();
    if (is_missing(t) || df <= 0.1 || nn <= 0.0) return;
    const double k = nn * df;
    const double lu = noncentrality_limit(t, df, alpha);
    if (!is_missing(lu)) *upper = std::sqrt(lu / k);
    const double ll = noncentrality_limit(t, df, 1.0 - alpha);
    if (!is_missing(ll)) *lower = std::sqrt(ll / k);
}

// P(chi2_df(lambda) >= T) with lambda = nn df 0.05^2: the probability of
// the observed T when the population RMSEA is 0.05.
double fit_close_fit_probability(double t, double df, double nn) {
    if (is_missing(t) || df <= 0.1 || nn <= 0.0) return missing();
    double lower = 0.0, upper = 0.0;
    if (zplbcnc(t, df, nn * df * kCloseRmsea * kCloseRmsea, &lower, &upper) != 0 ||
        is_missing(lower))
        return missing();
    return 1.0 - lower;
}

// ECVI = F + 2q / ne (Browne and Cudeck 1989).
double fit_ecvi(double f, double q, double ne) {
    if (is_missing(f) || !(ne > 2.0 * q * kTiny) || ne <= 0.0) return missing();
    return f + 2.0 * q / ne;
}

// The saturated model (df = 0): ECVI = 2 p* / ne.
double fit_ecvi_saturated(double nMoments, double ne) {
    if (!(ne > 2.0 * nMoments * kTiny) || ne <= 0.0) return missing();
    return 2.0 * nMoments / ne;
}

// Limits (lambda + q + p*) / ne, lambda the noncentralities of ne F as for
// the RMSEA.
void fit_ecvi_interval(double f, double df, double q, double nMoments, double ne,
                       double alpha, double* lower, double* upper) {
    *lower = missing();
    *upper = missing();
    if (is_missing(f) || df <= 0.1 || !(ne > (q + nMoments) * kTiny) || ne <= 0.0) return;
    const double te = ne * f;
    const double lu = noncentrality_limit(te, df, alpha);
    if (!is_missing(lu)) *upper = (lu + q + nMoments) / ne;
    const double ll = noncentrality_limit(te, df, 1.0 - alpha);
    if (!is_missing(ll)) *lower = (ll + q + nMoments) / ne;
}

// CFI = 1 - max(T - df, 0) / max(T0 - df0, 0) (Bentler 1990).
double fit_cfi(double t, double df, double t0, double df0) {
    if (is_missing(t) || is_missing(t0)) return missing();
    const double a = std::fmax(t - df, 0.0);
    const double b = std::fmax(t0 - df0, 0.0);
    if (!(std::fabs(b) > df0 * kEps * 1000.0)) return missing();
    return 1.0 - a / b;
}

// Hoelter's critical N = ceil(chi2_0.95(df) / F + 1): the largest sample at
// which T would not reject the model at the 5% level.
double fit_hoelter(double t, double f, double df, bool* quantileFailed) {
    if (quantileFailed) *quantileFailed = false;
    if (is_missing(t) || is_missing(f) || !(t > df * kEps * 10.0)) return missing();
    double q = 0.0;
    if (df <= 0.1 || zqc(kHoelterLevel, df, &q) != 0 || is_missing(q)) {
        if (quantileFailed) *quantileFailed = true;
        return missing();
    }
    if (!(f > std::fabs(q) * 1000.0 * kTiny)) return missing();
    return std::ceil(q / f + 1.0);
}

// Akaike's criterion T - 2 df (Akaike 1987).
double fit_aic(double t, double df) { return is_missing(t) ? missing() : t - 2.0 * df; }

// Bozdogan's consistent AIC T - (ln N + 1) df.
double fit_caic(double t, double df, double nObs) {
    if (is_missing(t) || nObs <= 0.0) return missing();
    return t - (std::log(nObs) + 1.0) * df;
}

// Schwarz's criterion T - df ln N.
double fit_sbc(double t, double df, double nObs) {
    if (is_missing(t) || nObs <= 0.0) return missing();
    return t - df * std::log(nObs);
}

// z = ((T/df)^(1/3) - (1 - 2/(9 df))) / sqrt(2/(9 df)) (Wilson and
// Hilferty 1931).
double fit_wilson_hilferty_z(double t, double df) {
    if (is_missing(t) || df <= 0.0) return missing();
    const double u = t / df;
    const double e = u > kTiny ? std::log(u) / 3.0 : kLogLow;
    if (e >= kExpLimit) return missing();
    const double v = 2.0 / (9.0 * df);
    return u > kTiny ? (std::exp(e) - (1.0 - v)) / std::sqrt(v) : -(1.0 - v) / std::sqrt(v);
}

// McDonald's centrality exp(-(T - df) / (2N)).
double fit_centrality(double t, double df, double nObs) {
    if (is_missing(t) || nObs <= 0.0) return missing();
    const double e = -0.5 * (t - df) / nObs;
    return e < kExpLimit ? std::exp(e) : missing();
}

// Bentler-Bonett non-normed index (Tucker-Lewis):
// (F0/df0 - F/df) / (F0/df0 - 1/nn).
double fit_nnfi(double f, double df, double f0, double df0, double nn) {
    if (is_missing(f) || is_missing(f0) || df0 <= 0.0 || df <= 0.0 || nn <= 1.0) return missing();
    const double a = f0 / df0;
    const double d = a - 1.0 / nn;
    return std::fabs(d) > kSmall ? (a - f / df) / d : missing();
}

// Bentler-Bonett normed index (F0 - F) / F0.
double fit_nfi(double f, double f0, double df0) {
    if (is_missing(f) || is_missing(f0) || df0 <= 0.0 || !(std::fabs(f0) > kSmall)) return missing();
    return (f0 - f) / f0;
}

// James-Mulaik-Brett parsimonious normed index (df / df0) NFI.
double fit_pnfi(double f, double df, double f0, double df0) {
    const double nfi = fit_nfi(f, f0, df0);
    return is_missing(nfi) ? missing() : (df / df0) * nfi;
}

// Bollen's rho1 = (F0/df0 - F/df) / (F0/df0).
double fit_rho1(double f, double df, double f0, double df0) {
    if (is_missing(f) || is_missing(f0) || df <= 0.0 || df0 <= 0.0) return missing();
    const double a = f0 / df0;
    return std::fabs(a) > kSmall ? (a - f / df) / a : missing();
}

// Bollen's Delta2 = (F0 - F) / (F0 - df / nn).
double fit_delta2(double f, double df, double f0, double nn) {
    if (is_missing(f) || is_missing(f0) || nn <= 1.0) return missing();
    const double d = f0 - df / nn;
    return std::fabs(d) > kTiny ? (f0 - f) / d : missing();
}

// ML independence model Sigma0 = diag(S): F0 = sum ln s_ii - ln det S.
double fit_null_ml(const double* diagS, int32_t n, double logDetS) {
    if (is_missing(logDetS)) return missing();
    double sum = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        if (!(diagS[i] >= kTiny)) return missing();
        sum += std::log(diagS[i]);
    }
    return sum - logDetS;
}

namespace {

void reset(FitStatistics* out) {
    for (const FitStatKey& k : kFitStatKeys) out->*k.field = missing();
}

// The block of the chi-square family (GLS, ML and WLS stages with N >= 1).
void chisq_family(const FitInputs* in, double t, double f, double g, FitStatistics* out,
                  FitNotes* notes) {
    const double df = in->df, df0 = in->df0, nn = in->nn, n = in->nObs;
    notes->chisqFamily = true;
    out->pChisq = fit_p_chisq(t, df);
    out->rmsea = 0.0;
    const double ne = in->method == kMethodMl ? nn - in->nManifest - 1.0 : nn;
    if (n > 1.0 && df > 0.1) {
        out->rmsea = fit_rmsea(t, df, nn);
        fit_rmsea_interval(t, df, nn, in->alphaRmsea, &out->rmseaLower, &out->rmseaUpper);
        out->pClose = fit_close_fit_probability(t, df, nn);
        out->ecvi = fit_ecvi(f, in->nParm, ne);
        fit_ecvi_interval(f, df, in->nParm, in->nMoments, ne, in->alphaEcvi, &out->ecviLower,
                          &out->ecviUpper);
    }
    if (n > 1.0 && std::fabs(df) < 0.1) out->ecvi = fit_ecvi_saturated(in->nMoments, ne);
    const double t0 = out->chisqNull;
    out->cfi = fit_cfi(t, df, t0, df0);
    if ((in->method == kMethodMl || in->method == kMethodGls) && !is_missing(in->kurtosis) &&
        in->kurtosis > kSmall) {
        out->adjChisq = t / in->kurtosis;
        out->pAdjChisq = fit_p_chisq(out->adjChisq, df);
    }
    if (in->method == kMethodMl && !is_missing(g)) out->rlsChisq = 0.5 * g * nn;
    out->hoelter = fit_hoelter(t, f, df, &notes->criticalNFailed);
    out->aic = fit_aic(t, df);
    out->caic = fit_caic(t, df, n);
    out->sbc = fit_sbc(t, df, n);
    out->zWilsonHilferty = fit_wilson_hilferty_z(t, df);
    out->centrality = fit_centrality(t, df, n);
    out->nnfi = fit_nnfi(f, df, in->f0, df0, nn);
    out->nfi = fit_nfi(f, in->f0, df0);
    out->pnfi = fit_pnfi(f, df, in->f0, df0);
    out->rho1 = fit_rho1(f, df, in->f0, df0);
    out->delta2 = fit_delta2(f, df, in->f0, nn);
}

}  // namespace

// Steps:
//   reset every statistic to missing
//   T = nn F; below the floor T, F and G are 0
//   T0 = nn F0; GFI, AGFI and RMR
//   unless printing or OUTRAM=: stop
//   PGFI; for GLS, ML and WLS with N >= 1 the chi-square family
void compute_fit_statistics(const FitInputs* in, FitStatistics* out, FitNotes* notes) {
    reset(out);
    *notes = FitNotes{};
    double f = in->f;
    double g = in->gfiNumerator;
    double t = in->nn * f;
    if (t < fit_perfect_floor(in->df)) {
        t = 0.0;
        f = 0.0;
        g = 0.0;
        notes->perfectFit = true;
    }
    notes->gfiNumerator = g;
    out->fit = f;
    out->chisq = t;
    out->chisqNull = is_missing(in->f0) ? missing() : in->nn * in->f0;
    out->rmr = in->rmr;
    out->gfi = fit_gfi(g, in->gfiDenominator);
    out->agfi = fit_agfi(g, in->gfiDenominator, in->nMoments, in->df);
    if (!in->wantAll) return;
    out->pgfi = fit_pgfi(out->gfi, in->df, in->df0);
    const bool chisqMethod =
        in->method == kMethodGls || in->method == kMethodMl || in->method == kMethodWls;
    if (chisqMethod && in->nObs >= 1.0) chisq_family(in, t, f, g, out, notes);
}

double fit_gfi_denominator_uls(const double* s, int32_t n) {
    double sum = 0.0;
    for (int32_t i = 0, k = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j, ++k) sum += (i == j ? 1.0 : 2.0) * s[k] * s[k];
    return sum;
}

double fit_null_uls(const double* s, int32_t n) {
    double sum = 0.0;
    for (int32_t i = 0, k = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j, ++k)
            if (j < i) sum += s[k] * s[k];
    return sum;
}

double fit_null_dwls(const double* s, const double* w, int32_t n) {
    double sum = 0.0;
    for (int32_t i = 0, k = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j, ++k)
            if (j < i) sum += (w[k] * s[k]) * (w[k] * s[k]);
    return sum;
}

double fit_trace_square(const double* m, int32_t n) {
    double t = 0.0;
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j < n; ++j) t += m[int64_t{i} * n + j] * m[int64_t{j} * n + i];
    return t;
}

namespace {

// Element (i, j) of a packed symmetric matrix of order n, either triangle.
double sym(const double* a, int32_t i, int32_t j) {
    return i >= j ? a[int64_t{i} * (i + 1) / 2 + j] : a[int64_t{j} * (j + 1) / 2 + i];
}

// Dense row-major A B of two packed symmetric matrices of order n.
std::vector<double> sym_product(const double* a, const double* b, int32_t n) {
    std::vector<double> m(static_cast<size_t>(n) * n, 0.0);
    for (int32_t i = 0; i < n; ++i)
        for (int32_t k = 0; k < n; ++k) {
            const double aik = sym(a, i, k);
            if (aik == 0.0) continue;
            for (int32_t j = 0; j < n; ++j) m[static_cast<size_t>(i) * n + j] += aik * sym(b, k, j);
        }
    return m;
}

// Solves the packed symmetric system A d = b (A destroyed) of the null
// models; false when A is singular.
bool solve_null_system(std::vector<double>* a, std::vector<double>* b, int32_t n) {
    std::vector<int32_t> pivots(static_cast<size_t>(n));
    if (zududec(n, 0.0, nullptr, a->data(), pivots.data()) != 0) return false;
    zudusol(n, 1, 1, a->data(), b->data(), pivots.data());
    return true;
}

}  // namespace

double fit_gfi_denominator_gls(const double* w, const double* s, int32_t n) {
    return fit_trace_square(sym_product(w, s, n).data(), n);
}

double fit_gfi_denominator_dwls(const double* s, const double* w, int32_t nMoments) {
    double sum = 0.0;
    for (int32_t k = 0; k < nMoments; ++k) sum += (w[k] * s[k]) * (w[k] * s[k]);
    return sum;
}

bool fit_gfi_denominator_wls(const double* l, const double* s, int32_t nMoments, double tol,
                             double* d) {
    std::vector<double> y(s, s + nMoments);
    if (cosfsub(nMoments, 1, tol, l, y.data()) != 0) return false;
    double sum = 0.0;
    for (double v : y) sum += v * v;
    *d = sum;
    return true;
}

//   A = W o W, b = diag(W S W) (diag W when W S = I)
//   solve A d = b; singular: d = diag S
//   F0 = 0.5 tr((W D - W S)^2)
double fit_null_gls(const double* w, const double* s, const double* diagS, int32_t n,
                    bool* solved) {
    const size_t nn = static_cast<size_t>(n);
    std::vector<double> a(nn * (nn + 1) / 2), d(nn);
    for (size_t k = 0; k < a.size(); ++k) a[k] = w[k] * w[k];
    // W S, the identity when W inverts S.
    std::vector<double> ws(nn * nn, 0.0);
    if (s != nullptr)
        ws = sym_product(w, s, n);
    else
        for (size_t i = 0; i < nn; ++i) ws[i * nn + i] = 1.0;
    for (int32_t i = 0; i < n; ++i) {
        double b = 0.0;  // (W S W)_ii
        for (int32_t k = 0; k < n; ++k) b += ws[static_cast<size_t>(i) * nn + k] * sym(w, k, i);
        d[static_cast<size_t>(i)] = b;
    }
    *solved = solve_null_system(&a, &d, n);
    if (!*solved) d.assign(diagS, diagS + n);
    // M = W D - W S; F0 = 0.5 tr(M M).
    std::vector<double> m(nn * nn);
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j < n; ++j)
            m[static_cast<size_t>(i) * nn + j] =
                sym(w, i, j) * d[static_cast<size_t>(j)] - ws[static_cast<size_t>(i) * nn + j];
    return 0.5 * fit_trace_square(m.data(), n);
}

//   U = L^-1 [e_00 .. e_(n-1)(n-1)], z = L^-1 s (n + 1 substitutions)
//   A_ij = u_i . u_j, b_i = u_i . z; solve; singular: d = diag S
//   F0 = |z - U d|^2
bool fit_null_wls(const double* l, const double* s, int32_t n, double tol, double* f0,
                  bool* solved) {
    const int32_t p = n * (n + 1) / 2;
    const size_t pp = static_cast<size_t>(p), nn = static_cast<size_t>(n);
    std::vector<double> u((nn + 1) * pp, 0.0);
    for (int32_t i = 0; i < n; ++i) u[static_cast<size_t>(i) * pp + static_cast<size_t>(i) * (i + 3) / 2] = 1.0;
    std::copy(s, s + p, u.begin() + static_cast<std::ptrdiff_t>(nn * pp));
    if (cosfsub(p, n + 1, tol, l, u.data()) != 0) return false;
    const double* z = u.data() + nn * pp;
    auto dot = [&](const double* x, const double* y) {
        double t = 0.0;
        for (size_t k = 0; k < pp; ++k) t += x[k] * y[k];
        return t;
    };
    std::vector<double> a(nn * (nn + 1) / 2), d(nn);
    for (size_t i = 0, k = 0; i < nn; ++i) {
        for (size_t j = 0; j <= i; ++j, ++k) a[k] = dot(&u[i * pp], &u[j * pp]);
        d[i] = dot(&u[i * pp], z);
    }
    *solved = solve_null_system(&a, &d, n);
    if (!*solved)
        for (int32_t i = 0; i < n; ++i) d[static_cast<size_t>(i)] = s[int64_t{i} * (i + 3) / 2];
    double sum = 0.0;
    for (size_t k = 0; k < pp; ++k) {
        double r = z[k];
        for (size_t i = 0; i < nn; ++i) r -= d[i] * u[i * pp + k];
        sum += r * r;
    }
    *f0 = sum;
    return true;
}
