// GAUNEW: Gauss-Newton with a line search for a least-squares objective.
// The matrix is the cross product J'J of the functions' Jacobian: formed
// from the Jacobian store (znlpjwt, znlpjdt) when the problem has the
// Jacobian slot, a store file and function values, else the Hessian slot's
// cross product.  The Gauss-Newton direction is the minimum-norm solution
// of the linearised least-squares problem, by the truncated eigen
// decomposition of J'J: directions whose singular value of J falls below
// the singularity tolerance relative to the largest are dropped, so that a
// (nearly) rank-deficient J, as at a large-residual local minimum, gives
// neither a step along its null direction nor a predicted reduction that
// stays near 2f (Dennis and Schnabel, 1983, sec. 10.2; Bjorck, Numerical
// Methods for Least Squares Problems, 1996, sec. 2.7 and 9.2).
//
// Reads: x, f, funValues, gradient, the Jacobian or the Hessian slot,
// jacobianFile, lineSearch and its options.
// Leaves the fields NEWRAP does (see newrap.cpp).  Statuses: as NEWRAP.
#include "optimizer/techniques/newton.h"
#include "optimizer/techniques/techniques.h"

int32_t znlpgan(NlpProblem* p) {
    return velix::detail::newton_run(p, velix::detail::NewtonFactor::kMinimumNorm, velix::detail::NewtonMatrix::kGaussNewton);
}
