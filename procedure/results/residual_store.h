// The residual writer: fills the ResidualStore of the context from the
// analysed moments S and the predicted moments Sigma at the solution.
#pragma once

#include <cstdint>

#include "velix/proc_context.h"

// The three blocks from S and Sigma (both packed, order n): variance terms
// sigma_ii sigma_jj + sigma_ij^2, residuals s - sigma (exactly 0 where
// |s - sigma| < |s| * 1.053671212772351e-08, the relative precision of
// the fit) and the predicted moments.  Every block is rewritten.
void residual_store_write(ResidualStore* store, const double* s, const double* sigma, int32_t n);

// The blocks of a model with means, the constant at k: the residuals and
// variance terms of the covariances and means of S and Sigma (see
// mean_structure.h): (sigma_ii sigma_jj + sigma_ij^2) of a covariance and
// sigma_ii / c of a mean, so that both divided by N' are normal-theory
// variances (c = N / D brings the variance with divisor D to divisor N),
// and for the constant's own moment a variance term 0 and a missing
// residual; predicted stays Sigma.  False, nothing
// written, when the constant's moment is not positive.
bool residual_store_write_means(ResidualStore* store, const double* s, const double* sigma, int32_t n, int32_t k);

// Evaluates F at the solution (the final evaluation, which leaves Sigma)
// and writes the store of the context; marks the BY group's variance block
// written.  Returns 0, or 1 when the evaluation failed (nothing written).
int32_t residual_store_fill(ProcContext* ctx);
