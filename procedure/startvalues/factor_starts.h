// Factor-analytic start values: principal factors of the reduced moment
// matrix turned toward the model's loading pattern, and the orthogonal
// Procrustes rotation they use.
#pragma once

#include <cstdint>
#include <vector>

#include "procedure/startvalues/start_moments.h"

namespace velix::detail {

// The k leading eigenpairs of the packed matrix a (order n): eigenvalues
// descending in ev, vector f at z[f*n]; false when the decomposition fails
// or the k-th eigenvalue is not above `floor`.  lastOut receives the k-th
// eigenvalue when one was computed.
bool leading_pairs(int32_t n, int32_t k, std::vector<double> a, double floor, std::vector<double>* ev,
                   std::vector<double>* z, double* lastOut);

// The k leading principal factors of s - diag(psi) (packed, order n) into
// L (n x k, row-major); when they fail, of s itself (psi := 0, unless
// noUnique), then of s with a ridge.  retryFloor bounds the k-th
// eigenvalue of the retries.  False when every decomposition fails.
bool principal_factors(int32_t n, int32_t k, std::vector<double> s, std::vector<double>* psi, bool noUnique,
                       double retryFloor, std::vector<double>* L);

// The unit of the factor at position L of the start moments, as a factor
// c by which its composite (of unit variance) is multiplied: the root of
// its fixed variance over the composite's, else the geometric mean of the
// regressions of its marker indicators on the composite over their fixed
// loadings; 1 when the model fixes neither.
double factor_unit(const StartWork* w, int32_t L);

// Composite factors have unit variance, whatever unit the model gives
// them: a fixed variance, or fixed loadings (the marker of a factor whose
// loading is 1.0), set it.  Rescales the row of the start moments (in-out)
// of each latent position in `composites` by factor_unit, so that the
// loadings and factor covariances estimated from them follow the units of
// the markers; left at unit variance, a marker in units of 1e8 of its own
// starts the factor 1e16 times too small, and the fit ends on a plateau.
void follow_factor_units(StartWork* w, const std::vector<int32_t>& composites);

// Start values of a FACTOR model without factors: the unique variances
// start at the sample variances.
void unique_only_starts(ProcContext* ctx);

// Principal-factor loadings and unique variances for the missing elements
// of a FACTOR model whose factor covariances are a fixed identity.
void cosinf3(StartWork* w);

// Orthogonal Procrustes rotation R (k x k, row-major, out) that turns the
// n x k loadings a (row-major, in) toward the target b (row-major, in):
// R = M (M'M)^(-1/2) with M = a'b.  trace (out) is the sum of the roots of
// the kept eigenvalues of M'M.  0, 1 when the eigen decomposition fails or
// M'M vanishes, 2 when no eigenvalue is kept.
int32_t orproc(int32_t n, int32_t k, const double* a, const double* b, double* r, double* trace);

}  // namespace velix::detail
