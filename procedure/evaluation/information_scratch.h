// The information scratch: what the covariance step leaves on the step's
// second work file for the score and Wald tests that run after the stage,
// from byte 0, each array packed without gaps:
//   f64 covariance[q(q+1)/2]   the covariance of the estimates, unscaled:
//                              the inverse (or generalized inverse) of the
//                              information matrix, under active constraints
//                              that of the constrained model; PackedSym of
//                              order q
//   f64 gradient[q]            dF/dtheta at the estimates
//   f64 dFdC[p*]               dF/dC in the trace-product convention
// and, with the sparse Jacobian (modes 11 and 12), its nonzeros:
//   i32 rows[nz], i32 columns[nz], f64 values[nz]
// and, when the problem has bounds and the tests after the fit are
// wanted (MODIFICATION), the score test of releasing each
// parameter's bound with the other active constraints kept, one
// (score, variance, change) triple per parameter:
//   f64 releases[3q]
// The file is rewritten by every stage that inverts its information
// matrix; a failed file call is reported and ends the step.
#pragma once

#include "procedure/evaluation/model_view.h"

// Writes the scratch of the stage: the covariance (packed order q), the
// gradient and dF/dC at the point last evaluated (the estimates), and the
// releases of the bounds when `releases` (3q doubles) is not null.
void write_information_scratch(const EvalView* v, const double* covariance, const double* releases);

// Reads the dense part back: covariance[q(q+1)/2] (passed over when
// null), gradient[q], dFdC[p*].
void read_information_scratch(const EvalView* v, double* covariance, double* gradient, double* dFdC);

// Reads the sparse Jacobian at the estimates back into view.st->jac (its
// rows, columns and values; the scratch of a stage in mode 11 or 12).
void read_information_scratch_jacobian(const EvalView* v);

// Reads the releases of the bounds (3q doubles) into releases.
void read_bound_releases(const EvalView* v, double* releases);

// Reads the rows i0 .. i1-1 of the packed covariance (pk_lower(i1, 0) -
// pk_lower(i0, 0) doubles) into rows.
void read_covariance_rows(const EvalView* v, int32_t i0, int32_t i1, double* rows);
