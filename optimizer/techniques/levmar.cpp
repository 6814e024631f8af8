// LEVMAR: Levenberg-Marquardt for a least-squares objective.  The model's
// matrix is the Hessian slot's cross product 2 J'J; the step solves
// (H + lambda D^2) s = -g with |D s| at the radius, D the parameter scaling
// of HESCAL= (by default the square roots of the largest diagonal of H
// seen since the start or the last RESTART, every 60 iterations by
// default), lambda by More's iteration
// (More, "The Levenberg-Marquardt algorithm: implementation and theory",
// Lecture Notes in Mathematics 630, 1978).
//
// Reads: x, f, gradient, the Hessian slot, inStep (the first radius).
// Leaves the fields TRUREG does (see trureg.cpp) and lmGconvMeasure.
// Statuses: as TRUREG.
#include "optimizer/techniques/hessian_model.h"
#include "optimizer/techniques/techniques.h"

int32_t znlplma(NlpProblem* p) {
    velix::detail::HessianModel model;
    return velix::detail::trust_region_run(p, &model);
}
