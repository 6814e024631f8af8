// The machinery the finite-difference routines share: base intervals,
// steps with their floor, evaluation at a displaced parameter, moving
// parameters off bounds, the overflow-guarded sums, the gradient kernel
// and the restoration of the block.  Internal to the finite-difference
// units.
#pragma once

#include <cstdint>

#include "numerics/kernel_support.h"
#include "velix/nlp.h"

namespace velix::detail {

constexpr double kEta = kMachEpsWritten;
constexpr double kSqrtEta = kSqrtMachEpsWritten;
constexpr double kLn10 = 2.302585092994046;
constexpr double kMinNormal = kMinPos;

// 10^(-digits/2), or 2 sqrt(eta) when the digits are not positive.
double base_interval(double digits);
// h^(2/3).
double two_thirds(double h);

// y += t by the guarded-sum rule: saturates at +-DBL_MAX once a term would
// carry the sum past 0.01 DBL_MAX.  0, or the saturation code (1, -1).
int32_t guarded_add(double* s, double t);
// y += a b; 1 when the product itself overflows, 2 or -1 on saturation.
int32_t guarded_product_add(double* s, double a, double b);

// One finite-difference call: saves f and evalPhase, sets the phase, counts
// the call; restore() puts the block back.
class FdRun {
public:
    FdRun(NlpProblem* p, double phase, int32_t* counter);
    // The relative step of parameter j for interval hj (absolute: hj
    // itself), not below 10 eta |x_j|.
    double step(int32_t j, double hj, bool absolute = false) const;
    // The retry test of a failed displaced evaluation: the step may still
    // be halved.
    bool can_halve(double d, int32_t j) const;
    // Objective (and gradient) at x; true when usable.
    bool objective();
    bool gradient();
    // The constraint values (conValuesFn, else the objective slot).
    bool constraints();
    // Objective at x + d e_j (x_j put back at once).
    bool objective_at(int32_t j, double d);
    // Moves parameters whose displaced points would leave the box (one-
    // sided or two-sided rule); x is copied to workN first.  1 moved (and,
    // with reevaluate, the objective was evaluated), 0 none, -1 the
    // objective failed at the moved point.
    int32_t move_off_bounds(bool reevaluate, bool central, const double* intervals, double h);
    // Puts the block back: x from workN when moved (re-evaluating the
    // objective: -10 on failure), else the function values from funWork;
    // f and evalPhase as at entry.  Returns `code`, or -10.
    int32_t restore(int32_t code);

    NlpProblem* p;
    int32_t n;
    double f0, phase0;
    bool moved = false;
};

// The per-parameter interval vector of an objective routine (modes 1, 3)
// or a constraint routine (modes 2, 3), or null.
const double* intervals_for(const NlpProblem* p, bool constraints, bool central);

// The gradient kernel: forward (backward when x + d fails) or central
// differences of the objective with base value f0; per-parameter
// intervals when given, else h.  0, -2 a step failed to the floor, -3 a
// guarded sum saturated.
int32_t dograd(FdRun& run, bool central, const double* intervals, double h, double f0);

}  // namespace velix::detail
