// Residual analysis after a fit: the raw residuals S - Sigma and one
// standardized form of them (variance standardized, normalized or
// asymptotically standardized), each with its averages, a ranking of the
// largest residuals and their distribution.  Bollen (1989), Structural
// Equations with Latent Variables, ch. 7; Browne (1984) for the
// asymptotic variance of a residual.
#pragma once

#include <cstdint>
#include <vector>

#include "velix/proc_context.h"

// The kinds of residual; each names its tables.
enum ResidualKind : int32_t {
    kResidualRaw = 1,
    kResidualNormalized = 2,
    kResidualVarStandardized = 3,
    kResidualAsymptotic = 4,
};

// cosnore: the residual tables and the OUTSTAT= rows of the standardized
// residuals.  Returns 0 (also when nothing is asked for), 1 when the
// residual store was not written for this BY group.
int32_t cosnore(ProcContext* ctx);

namespace velix::detail {

// r_ij / sqrt(s_ii s_jj), missing where s_ii s_jj <= DBL_MIN (S, r packed of
// order n; out p*).
void residuals_variance_standardized(const double* s, const double* r, int32_t n, double* out);

// r / sqrt(w) with the rules that keep a residual of no variance apart from
// one whose variance is negative: 0 when r is negligible against s, missing
// when w < 0, 0 when w <= |r| 1e-8, missing when w <= 1e-12.
double residual_standardize(double r, double s, double w);

// w_k = v_k / nn - (J kappa V J')_kk: the asymptotic variance of residual k
// (v the store's variance terms, J the q x p* Jacobian by rows, V packed of
// order q, kappa V the covariance of the estimates), set to exactly 0 where
// it cancels within rounding.
void residual_asymptotic_variances(const double* v, double nn, const double* jac, const double* cov,
                                   double kappa, int32_t q, int32_t pstar, double* w);

// Averages over the non-missing residuals: the mean absolute residual, the
// same off the diagonal (each missing when nothing counts) and the largest
// absolute diagonal residual.
struct ResidualAverages {
    double meanAbs, meanAbsOff, maxAbsDiag;
};
ResidualAverages residual_averages(const double* r, int32_t n);

// The K = min(p*/2, 10) largest residuals by absolute value, in falling
// order (the earlier of two equal values first), cut at the first that is
// negligible against the largest.
struct RankedResidual {
    int32_t row, column;
    double value;
};
std::vector<RankedResidual> residual_ranking(const double* r, int32_t n);

// Bins of the distribution: k bins of width h from `start`, and the count
// of each; k = 0 when nothing is to be shown.
struct ResidualBins {
    double start = 0.0, width = 0.0;
    std::vector<int32_t> counts;
};
ResidualBins residual_bins(const double* r, int32_t pstar);

// The stars of a bar: one per `perStar` residuals, at least one, never more
// than the bar's width.
int32_t residual_bar_length(int32_t count, int32_t perStar, int32_t width);

}  // namespace velix::detail
