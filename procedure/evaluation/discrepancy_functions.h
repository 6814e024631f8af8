// The objective callback of the estimation: the discrepancy F between the
// implied moments C and the sample moments S for the method of the running
// stage, with R = C - S packed:
//   ULS   F = 0.5 tr(R^2)                    raw tr(R^2)
//   GLS   F = 0.5 tr((W (C - S))^2)          raw the trace (W C - I without INWGT=)
//   ML    F = tr(C^-1 S) + ln|C| - ln|S| - n raw tr((I - C^-1 S)^2)
//   WLS   F = R' (L L')^-1 R                 raw F (L the stored weight factor)
//   DWLS  F = sum (w_k R_k)^2                raw F
// A successful call leaves in EvaluationState the implied matrix, C^-1 for
// ML and the residual term (see evaluation_state.h): for ULS, GLS and ML the
// symmetric matrix G with dF = tr(G dC), for WLS and DWLS the transformed
// residual y, from which the derivative routines form dF/dC.
#pragma once

#include <cstdint>

#include "procedure/evaluation/model_view.h"

struct NlpProblem;

// Objective callback.  in: nlp->param.x, nlp->run.evalPhase.  out: nlp->iter.f (the host
// missing value after a failure), nlp->run.pointMoved.  Returns 0, -1 for a
// failed evaluation (program, inversion, C not positive definite for ML
// after the retries) or 5 when a residual norm overflows (f unchanged).
int32_t cosfunc(NlpProblem* nlp);

// Runs the programming statements and copies x into the element values.
// Returns 0, -1 (the program failed or left a parameter missing) or -12
// (run result 3); run result 4 ends the step (1012).
int32_t cosresv(const EvalView* view, int32_t conFlag);

// Perturbs the parameters of matrix k (0: of every matrix) by scale s and
// clamps them to their bounds; *retry counts the calls.  Returns 0 when a
// parameter changed, 1 when none could.
int32_t cosinup(const EvalView* view, int32_t* retry, const int32_t* limit, int32_t k, double s);

// Euclidean norm of v[n] with overflow guard (DBL_MAX when it overflows),
// and the same over a packed symmetric matrix of order n with off-diagonal
// entries counted twice.
double vecnorm(int32_t n, const double* v);
double symnorm(int32_t n, const double* packed);

// Guarded sum: acc += d unless the sum would pass 0.01 DBL_MAX, in which
// case acc saturates at +-DBL_MAX.  Returns 0, or +1 / -1 on saturation.
int32_t tstsum(double* acc, double d);
