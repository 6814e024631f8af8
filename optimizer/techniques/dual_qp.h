// The strictly convex quadratic program of the sequential quadratic
// programming techniques,
//     min c'd + d'G d / 2  subject to  a_i'd + b_i  = 0  (i < meq)
//                                      a_i'd + b_i >= 0  (meq <= i < m),
// solved by the dual active-set method of Goldfarb and Idnani (A
// numerically stable dual method for solving strictly convex quadratic
// programs, Math. Programming 27, 1983).  The method starts from the
// unconstrained minimum -G^-1 c and adds violated constraints one at a
// time, keeping the multipliers of the active ones non-negative, so that
// it needs no feasible start: an empty feasible set is found, not
// assumed.  The primal and dual directions of each step come from the KKT
// system of the active constraints.  Internal to the technique units.
#pragma once

#include <cstdint>

namespace velix::detail {

enum DualQpStatus : int32_t {
    kQpSolved = 0,
    kQpInfeasible = 1,   // the constraints admit no point
    kQpNotConvex = 2,    // G is not positive definite
    kQpNoProgress = 3,   // the iteration limit was reached (cycling by rounding)
};

struct DualQp {
    // in
    int32_t n = 0, m = 0, meq = 0;
    const double* g = nullptr;  // G, packed lower triangle, order n
    const double* c = nullptr;  // n
    const double* a = nullptr;  // m rows of n (row-major)
    const double* b = nullptr;  // m
    // out
    double* d = nullptr;        // n: the solution
    double* lambda = nullptr;   // m: multipliers (zero for the inactive constraints)
    int32_t* active = nullptr;  // m: 1 for the constraints active at the solution, 2 for an
                                // equality the active ones imply (held, no multiplier), else 0

    // The doubles of work solve() needs.
    static int64_t doubles(int32_t n, int32_t m);
    // A DualQpStatus; work holds doubles(n, m) doubles.
    int32_t solve(double* work);
};

}  // namespace velix::detail
