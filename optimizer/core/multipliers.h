// Small numerical services every technique uses between the active-set
// bookkeeping and the line searches: Lagrange multipliers of the active
// bounds and rows, the Lagrange function, the start matrix of the
// quasi-Newton techniques and the first trial step of a line search.
#pragma once

#include <cstdint>

#include "velix/nlp.h"

// The first trial step length of a line search from the directional
// derivative gs = g'd, INSTEP, the expected reduction, the caps and the
// step bound.
double znlpalf(NlpProblem* p, double gs);

// First-order multipliers of the active bounds and general rows from a
// gradient-type vector v (mode 0 indexed by parameter, 1 already
// transformed) into out (nActiveBounds + nActiveLin entries).
void znlpglm(NlpProblem* p, int32_t mode, const double* v, double* out);

// Second-order multipliers: those of the gradient of the quadratic model
// at the Newton point of the reduced space, into workN2.  Where they do not
// apply (the sparse form, a technique without a Hessian) the first-order
// multipliers of the gradient take their place.  0; 3 when the reduced
// Hessian is singular (workN2 missing).
int32_t znlplm2(NlpProblem* p);

// The Newton direction over the free space: solve with the factor (kind,
// rank; permuted: pivot order in pivotOrder) for the reduced right-hand
// side rhs into out, then scale and expand into direction.  0; -5 when the
// solve failed and steepest descent was taken.
int32_t znlpsdi(NlpProblem* p, int32_t useFactor, int32_t permuted, int32_t kind, int32_t rank, double* out,
                const double* rhs, const double* factor);
// The quasi-Newton direction: mode > 0 solve with the factor, 0 steepest
// descent, < 0 multiply by the packed inverse approximation; expanded into
// the full vector out.  0; -5 as for znlpsdi.
int32_t znlpsd2(NlpProblem* p, int32_t mode, int32_t permuted, int32_t kind, int32_t rank, double* work,
                double* out, const double* matrix);

// The projected step of the active-set quadratic technique: along
// direction from xBase, the part of the step beyond the first blocking
// bound is bent onto the bounds when that keeps the gain g's (in *gain,
// replaced).  1 the projected step replaced direction; 0 not taken.
int32_t znlppro(NlpProblem* p, int32_t flag, double* gain);

// The Lagrange function's value (and, withGradient, its gradient and the
// gradient's largest element) with the current multipliers.
void znlplfg(NlpProblem* p, int32_t withGradient);

// The quasi-Newton start matrix: phase 1 sets it up over all parameters
// (full 0: a multiple of the identity), phase 2 reduces it to the free
// space, scales (scaleFlag) and factors it (factorKind 0 inverse, 1 LDL',
// 2 LL').  0 success, 1 the factorization or inversion failed.
int32_t znlphin(NlpProblem* p, int32_t phase, int32_t full, int32_t scaleFlag, int32_t factorKind,
                double* matrix);
