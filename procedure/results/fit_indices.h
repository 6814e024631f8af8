// Fit indices of a covariance structure model: each index is a small pure
// function of the discrepancy at the solution F, its degrees of freedom df,
// the sample size, and the discrepancy F0 and degrees of freedom df0 of the
// independence (null) model.  `compute_fit_statistics` applies them in the
// order of the fit summary and fills one `FitStatistics` block, every value
// reset to missing at entry so that nothing survives from an earlier BY
// group or stage.  Bollen (1989), Structural Equations with Latent
// Variables, ch. 7; Browne and Cudeck (1993), Alternative ways of assessing
// model fit.
#pragma once

#include <cstdint>

#include "velix/results_state.h"

// Inputs of the fit statistics, as the estimation stage leaves them.
struct FitInputs {
    double f = 0.0;          // F, the discrepancy at the solution
    double f0 = 0.0;         // F0, the discrepancy of the null model (may be missing)
    double gfiNumerator = 0.0;   // G, the weighted residual norm beside F (may be missing)
    double gfiDenominator = 0.0; // D, the same norm of the moments alone
    double df = 0.0;         // model degrees of freedom
    double df0 = 0.0;        // null-model degrees of freedom, p* - n
    double nObs = 0.0;       // N
    double nn = 0.0;         // N - 1, or N for moments about zero
    double nMoments = 0.0;   // p* = n(n+1)/2
    double nManifest = 0.0;  // n
    double nParm = 0.0;      // q, free parameters less the active constraints
    double rmr = 0.0;        // RMR, from the residuals (passed through)
    double kurtosis = 0.0;   // the kurtosis divisor of the adjusted chi-square (may be missing)
    double alphaRmsea = 0.05;  // tail probability of each side of the RMSEA interval
    double alphaEcvi = 0.05;   // tail probability of each side of the ECVI interval
    int32_t method = 0;      // the estimation method of the stage (kMethod* codes)
    bool wantAll = true;     // the fit summary is printed or OUTRAM= given
};

// The pure indices.  Each returns the host missing value when its
// conditions fail; missing inputs give missing results.
double fit_perfect_floor(double df);
double fit_gfi(double g, double d);
double fit_agfi(double g, double d, double nMoments, double df);
double fit_pgfi(double gfi, double df, double df0);
double fit_rmr(const double* s, const double* sigma, int32_t nMoments);
double fit_p_chisq(double t, double df);
double fit_rmsea(double t, double df, double nn);
// Lower (out: *lower) and upper (out: *upper) confidence limits of the RMSEA
// at tail probability alpha on each side.
void fit_rmsea_interval(double t, double df, double nn, double alpha,
                        double* lower, double* upper);
double fit_close_fit_probability(double t, double df, double nn);
double fit_ecvi(double f, double q, double ne);
double fit_ecvi_saturated(double nMoments, double ne);
void fit_ecvi_interval(double f, double df, double q, double nMoments, double ne,
                       double alpha, double* lower, double* upper);
double fit_cfi(double t, double df, double t0, double df0);
// *quantileFailed (out, may be null): the 95% chi-square quantile was not
// available (df <= 0.1 or a failed quantile) although T was positive.
double fit_hoelter(double t, double f, double df, bool* quantileFailed);
double fit_aic(double t, double df);
double fit_caic(double t, double df, double nObs);
double fit_sbc(double t, double df, double nObs);
double fit_wilson_hilferty_z(double t, double df);
double fit_centrality(double t, double df, double nObs);
double fit_nnfi(double f, double df, double f0, double df0, double nn);
double fit_nfi(double f, double f0, double df0);
double fit_pnfi(double f, double df, double f0, double df0);
double fit_rho1(double f, double df, double f0, double df0);
double fit_delta2(double f, double df, double f0, double nn);
// The maximum-likelihood independence model: sum of ln s_ii less ln det S
// (in: the diagonal of S, length n).
double fit_null_ml(const double* diagS, int32_t n, double logDetS);

// What the caller reports or uses beside the statistics.
struct FitNotes {
    bool perfectFit = false;       // T fell below the floor: F, T and G were set to 0
    bool criticalNFailed = false;  // the chi-square quantile of the critical N failed
    bool chisqFamily = false;      // the chi-square block was computed
    double gfiNumerator = 0.0;     // G after the floor
};

// Fills *out (reset to missing at entry) and *notes (out) from *in.
void compute_fit_statistics(const FitInputs* in, FitStatistics* out, FitNotes* notes);

// GFI denominators D of the methods without weights (in: S packed
// symmetric of order n).  ULS: tr(S^2) = sum s_ii^2 + 2 sum_{i>j} s_ij^2.
// GLS without INWGT= weights: D = n, the trace of (S^-1 S)^2.
double fit_gfi_denominator_uls(const double* s, int32_t n);

// The ULS independence model diag(S): F0 = sum_{i>j} s_ij^2 (in: S packed
// symmetric of order n).
double fit_null_uls(const double* s, int32_t n);

// The DWLS independence model: the squared norm of the off-diagonal moments
// each times its weight (in: S and the weights w, both p* long, packed).
double fit_null_dwls(const double* s, const double* w, int32_t n);

// tr(M M) of a dense row-major n x n matrix: the ML GFI denominator
// tr((Sigma^-1 S)^2) from the product Sigma^-1 S.
double fit_trace_square(const double* m, int32_t n);

// GLS with INWGT= weights: D = tr((W S)^2) (in: W and S packed of order n).
double fit_gfi_denominator_gls(const double* w, const double* s, int32_t n);

// DWLS: D = sum_k (w_k s_k)^2 over the p* moments.
double fit_gfi_denominator_dwls(const double* s, const double* w, int32_t nMoments);

// WLS: D = |L^-1 s|^2, L the lower Cholesky factor of the weight store
// (packed of order p*), forward-substituted at tolerance `tol`.  Returns
// false when the substitution met a negligible diagonal.
bool fit_gfi_denominator_wls(const double* l, const double* s, int32_t nMoments, double tol,
                             double* d);

// The GLS independence model Sigma0 = diag(d) minimising
// 0.5 tr((W (D - S))^2): the normal equations (W o W) d = diag(W S W) (o the
// element-wise product), solved by a symmetric indefinite decomposition.
// Without INWGT= weights W inverts S, so that W S = I (pass s = null), b =
// diag W and F0 = 0.5 tr((W D - I)^2).  *solved (out) is false when the
// system was singular; d is then the diagonal of `diagS` (the n variances).
double fit_null_gls(const double* w, const double* s, const double* diagS, int32_t n,
                    bool* solved);

// The WLS independence model: diag(d) minimising (s - sigma0)' (L L')^-1
// (s - sigma0), L the weight store's lower factor (packed of order p*).
// With u_i = L^-1 e_(ii) and z = L^-1 s, the normal equations are
// (u_i . u_j) d = (u_i . z) and F0 = |z - sum_i d_i u_i|^2.  *solved as for
// GLS; false return: a negligible diagonal in the substitution.
bool fit_null_wls(const double* l, const double* s, int32_t n, double tol, double* f0,
                  bool* solved);
