// GAUNEW: Gauss-Newton with a line search for a least-squares objective.
// The matrix is the cross product J'J of the functions' Jacobian: formed
// from the Jacobian store (znlpjwt, znlpjdt) when the problem has the
// Jacobian slot, a store file and function values, else the Hessian slot's
// cross product.  The Gauss-Newton direction solves with it, a ridge
// making it positive definite where J is rank deficient (Dennis and
// Schnabel, 1983, sec. 10.2; Bjorck, Numerical Methods for Least Squares
// Problems, 1996, sec. 9.2).
//
// Reads: x, f, funValues, gradient, the Jacobian or the Hessian slot,
// jacobianFile, lineSearch and its options.
// Leaves the fields NEWRAP does (see newrap.cpp).  Statuses: as NEWRAP.
#include "optimizer/techniques/newton.h"
#include "optimizer/techniques/techniques.h"

int32_t znlpgan(NlpProblem* p) {
    return velix::detail::newton_run(p, velix::detail::NewtonFactor::kRidge, velix::detail::NewtonMatrix::kGaussNewton);
}
