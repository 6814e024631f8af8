// Finite-difference derivatives of the optimizer: gradients, the Jacobian
// of the functions of a composite objective with its cross-product
// Hessian, the constraint Jacobian, Hessians from values or gradients, the
// Lagrange-function correction, the interval estimation that chooses the
// steps, and the derivative checks that compare analytic derivatives with
// differences.  Every routine works at x, calls only the problem's
// evaluation slots and leaves x, f, the function values and evalPhase as
// it found them.  Result 0 success, negative failure (a failed evaluation is
// a failure of the routine, never of the step).
#pragma once

#include <cstdint>

#include "optimizer/optimizer.h"
#include "velix/nlp.h"

// ---- first derivatives ----
int32_t znlpfij(NlpProblem* p);  // Jacobian of the functions and the gradient, forward
int32_t znlpfj2(NlpProblem* p);  // the same, central with absolute steps
int32_t znlpfic(NlpProblem* p);  // with the cross-product Hessian, forward
int32_t znlpfc2(NlpProblem* p);  // with the cross-product Hessian, central
// The gradient with an interval per parameter chosen from the accuracy
// relAcc of f (at most DBL_MIN: 10 eta), curvature estimates h and scale
// factors (either may be null): forward where truncation is negligible,
// else central.  0, -1 no forward or backward step, -2 no central step.
int32_t znlpfg3(NlpProblem* p, double relAcc, const double* h, const double* scale);

// ---- second derivatives ----
// Subtracts the multiplier-weighted curvature of the active nonlinear
// constraints from the packed Hessian h; the base Jacobian and gradient
// are parked on hooks->cov.utilityFile at `position`.
int32_t znlphlf(NlpProblem* p, double* h, int64_t position);

// ---- intervals ----
// Estimates the forward and central intervals (mode 1 objective, 2
// constraints, 3 both) into fdForward and fdCentral, flags parameters in
// which the objective seems constant, and leaves derivative estimates in
// the gradient and the constraint Jacobian.  0; -1 when the final
// evaluation at x failed.
int32_t znlpfdh(NlpProblem* p, int32_t mode);
// At a point about to be claimed a solution, the gradient from
// differences (derivDigits' units digit: 1 forward, else central) measured
// against the differences over half its steps: where their change exceeds
// the rounding of the two and, halving on, keeps falling as truncation
// does, the gradient element becomes the difference over the smallest step
// so confirmed, which is the parameter's interval for the rest of the run.
// f and x as at entry.  1 an element was corrected, 0 none (or an analytic
// gradient), -1 an evaluation failed.
int32_t znlp_refine_fd_gradient(NlpProblem* p);
// The protected quotient a / b into *q; 1 when it was clamped or undefined.
int32_t ddiv(double a, double b, double* q);

// ---- derivative checks ----
// Compares the analytic gradient (mode 0) or least-squares Jacobian (mode
// 1, work of m doubles) with a forward difference along one direction: 0
// agree (or a disagreement reported with message 47), 1 a parameter at zero
// cannot be moved, 2 no room inside the bounds, -1 .. -4 evaluation failures.
int32_t znlpchd(NlpProblem* p, int32_t mode, double* work);
// The same for the constraint Jacobian; agree receives r per constraint.
int32_t znlpchc(NlpProblem* p, double* agree, double* work);
// The deeper gradient analysis: zero gradient elements, per-parameter test
// values ("GradTest") and, with mode nonzero, the asymmetry of a
// finite-difference Hessian ("SymDif", "ResDistr", "SymDifRO").  The result
// of the last restoring evaluation.
int32_t znlpchg(NlpProblem* p, int32_t mode, double* h);
