// Factor-analytic start values: principal factors of the reduced moment
// matrix turned toward the model's loading pattern, and the orthogonal
// Procrustes rotation they use.
#pragma once

#include <cstdint>

#include "procedure/startvalues/start_moments.h"

namespace velix::detail {

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
