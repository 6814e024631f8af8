// The estimation run of a BY group and its parts: the stages of a method,
// the optimizer's work space, the Jacobian storage mode, the constraint
// rows the optimizer reads, and the technique that replaces one whose work
// space could not be had.
#pragma once

#include <cstdint>

#include "velix/proc_context.h"

// Error level of a BY group whose estimation found no technique whose work
// space could be had.
constexpr int32_t kLevelNoOptimizerMemory = 116;
// cosmini's result then.
constexpr int32_t kEstimationNoMemory = -3;

// The methods of the stages of `method` (a MethodCode) into stages[2]; the
// number of stages (1, or 2 for ULS followed by another method).
int32_t estimation_stages(int32_t method, int32_t stages[2]);

// The technique that needs less work space than `technique` (Newton-type
// and least-squares techniques: quasi-Newton, the dual form with nonlinear
// constraints; quasi-Newton and double dogleg: conjugate gradients); 0 when
// there is none.
int32_t estimation_fallback_technique(int32_t technique, int32_t nonlinearConstraints);

// The Jacobian storage mode of a stage: -1 when neither modification
// indices nor a covariance of the estimates are wanted (nothing after the
// run needs the Jacobian), else the requested mode; a request of 0 is the
// term-wise mode 2 (1, in memory, after more than one restart), and the
// sparse mode 11 when at most a quarter of the nMoments x nParmFree
// entries can be nonzero (the pattern analysis counted them).
int32_t estimation_jacobian_mode(const ProcContext* ctx, const NlpProblem* nlp);

// The optimizer's vectors and matrices for one run, from `pool`; false
// when the pool cannot give them (the memory message is logged).
bool estimation_workspace(NlpProblem* nlp, HostAllocator* pool);

// Row k of the combined constraint matrix (linear rows, dense or
// compressed, then the nonlinear constraints' Jacobian) into row[nParams];
// installed in NlpProblem::cb.conRowFn.  0.
int32_t cosaget(NlpProblem* nlp, int32_t k, double* row);

// The Hessian callback of the Newton-type techniques: the cross product
// J'WJ (coscrpj) until the run turns to the exact Hessian (coshess) near
// the minimum when scoring converges slowly; an exact Hessian that is not
// positive definite on the free parameters is replaced by J'WJ.  The
// choice is kept in proc_context(nlp)->est.  out: nlp->hess.hessian (packed),
// nlp->work.gradient.  The result of coscrpj, or -1 when the point cannot be
// evaluated again after the differences.
int32_t estimation_hessian(NlpProblem* nlp);
// True when a run whose previous relative Newton decrement was
// `lastDecrement` turns to the exact Hessian at this call of a Newton-type
// technique: the decrement of its last termination test is small, and
// scoring reduced it by less than a factor of 10.
bool estimation_turns_exact(const NlpProblem* nlp, double lastDecrement);
