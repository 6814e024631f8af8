// NRLINS: Newton with ridging and a line search.  Where the Hessian is not
// positive definite a multiple mu of the identity is added, raised
// fourfold from 1e-8 of its largest diagonal until the Cholesky
// factorization succeeds (Levenberg, 1944; Dennis and Schnabel, 1983,
// sec. 6.5), and the line search runs along the direction of H + mu I.
// With bounds the step lives on the free set, the parameters held at a
// bound taken out.
//
// Reads and leaves the fields NEWRAP does (see newrap.cpp); ridge holds mu.
// Statuses: as NEWRAP.
#include "optimizer/techniques/newton.h"
#include "optimizer/techniques/techniques.h"

int32_t znlpnrl(NlpProblem* p) { return velix::detail::newton_run(p, velix::detail::NewtonFactor::kRidge); }
