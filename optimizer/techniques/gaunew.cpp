// GAUNEW: Gauss-Newton with a line search for a least-squares objective
// f = sum r_i^2.  The Hessian slot of such a problem gives the cross
// product 2 J'J of the functions' Jacobian; the Gauss-Newton direction
// solves with it, a ridge making it positive definite where J is rank
// deficient (Dennis and Schnabel, 1983, sec. 10.2; Bjorck, Numerical
// Methods for Least Squares Problems, 1996, sec. 9.2).
//
// Reads: x, f, gradient, the Hessian slot, lineSearch and its options.
// Leaves the fields NEWRAP does (see newrap.cpp).  Statuses: as NEWRAP.
#include "optimizer/techniques/newton.h"
#include "optimizer/techniques/techniques.h"

int32_t znlpgan(NlpProblem* p) { return velix::detail::newton_run(p, velix::detail::NewtonFactor::kRidge); }
