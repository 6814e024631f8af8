// The structure of the Jacobian of the implied moments: which moments of
// which parameter's column can be nonzero for any parameter values.  The
// analysis runs the term-wise derivative on structural model matrices, in
// which every free element and every fixed nonzero is a positive marker
// and every fixed zero an exact zero, and every inverse form is replaced by
// the reflexive-transitive closure of its matrix's graph (a superset of the
// inverse's pattern: M^-1 is a polynomial in M of degree below its order).
// Products and sums of non-negative numbers cannot cancel, so an entry is
// positive exactly when it is a structural nonzero.
//
// Result in EvaluationState::jac: jac.nonzeros, jac.rowEnd (cumulative per
// parameter), jac.nzRow / jac.nzCol (moment i >= j, ascending per
// parameter) and jac.nzValue, the arrays taken from the evaluation pool.
#pragma once

#include <cstdint>

#include "procedure/evaluation/model_view.h"

// Returns 0; 1 when the programming statements fail at the current point,
// a structural inverse form cannot be formed (message 352/40) or the
// pattern finds no room.  With printPattern set every contribution is shown as a
// "Jacobian" table and the density logged (352/134).  The element values
// and the inverse forms are those of the current point again on return.
int32_t cosjamv(const EvalView* view, int32_t printPattern);

// Merges the analysis records (pairs per record in `pairs`, counts in
// jac.rowEnd, tags in jac.recordTags) into the final pattern: per
// parameter its distinct moments, ascending.  False (memory message
// logged, no pattern) when the pool cannot hold the pattern.
bool compress(const EvalView* view, const int32_t* pairs);

// Density of the pattern in percent of p* q.
double jacobian_density(const EvalView* view);

// Whether a pattern of `nonzeros` entries is stored sparse when the mode is
// left to the system: at most a quarter of the p* q entries.
bool sparse_pattern_pays(int64_t nonzeros, int32_t pstar, int32_t q);

// The pattern analysis before an estimation run: requests (HESSALG=, 0
// when not given) 0, 11 and 12 run it; when it fails the request becomes 1
// (from 11) or 5 (from 0 and 12), with message 352/35.  Returns the
// request.  Modes 11 and 12 compute the same values: they differ only in
// this fallback.
int32_t sparsji(const EvalView* view, int32_t request, int32_t printPattern);
