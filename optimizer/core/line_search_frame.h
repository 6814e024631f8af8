// The frame shared by the line searches: the opening (search count, step
// bound), the slope along the direction, trial evaluations that keep the
// best point, and the accept and restore rules.  Internal to the line
// search units.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <vector>

#include "numerics/kernel_support.h"
#include "velix/nlp.h"

namespace velix::detail {

// 10000 times the smallest normalised double: a step or slope below it is
// no step or slope.
constexpr double kTiny = kDblMinE4Written;
constexpr double kEps = kMachEpsWritten;     // 2^-53
constexpr double kRelTol = 100.0 * kMachEpsWritten;  // 100 eps
constexpr double kSqrtMin = kSqrtDblMinWritten;  // square root of the smallest normalised double
constexpr double kMinNormal = kMinPos;
// The most trials one search makes; every rule ends a search sooner, this
// bounds a search on a pathological function.
constexpr int32_t kMaxTrials = 200;

class LineSearch {
public:
    // The opening: counts the search, keeps f0 and maxProjGrad, and takes
    // the step bound (lowered to earlyStepCap for the first searches).
    explicit LineSearch(NlpProblem* p);

    // g'd over the free space (g a full gradient).
    double slope(const double* g);
    // x = x0 + alpha d.
    void set_x(double alpha);
    // Objective at x0 + alpha d; true when usable.  A usable value at most
    // the best so far becomes the best point.
    bool objective_at(double alpha);
    // The last evaluation was usable and at alpha: x and f belong to it.
    bool last_at(double alpha) const { return lastOk_ && aLast_ == alpha; }
    // Gradient at x; true when usable (an empty slot counts as usable).
    bool gradient_now();
    // Objective then gradient at the best point, then the projected
    // gradient; false (and restored) when either fails.
    bool evaluate_best();
    // The final test: alpha > TINY and f <= f0 accepts (0); else -1.
    int32_t accept(double alpha);
    // Back to x0, f0, no step, the entry maxProjGrad.
    void restore();
    // The value searches succeed without a move when the step bound leaves
    // no room.
    bool no_room() {
        if (amax > kTiny) return false;
        p->iter.lastStep = 0.0;
        return true;
    }
    bool has_best(bool strict) const {
        return aBest > kTiny && (strict ? fBest < f0 : fBest <= f0);
    }

    NlpProblem* p;
    int32_t n;
    double f0, gmax0, amax;
    double aBest = 0.0, fBest;

private:
    std::vector<double> ra_, rb_;
    double aLast_ = 0.0;
    bool lastOk_ = false;
};

// The cubic fraction between (a, fa, ga) and (b, fb, gb), b > a, clamped to
// [lo, hi].
double cubic_fraction(double a, double fa, double ga, double b, double fb, double gb, double lo,
                      double hi);
// The quadratic fraction from (a, fa, ga) and (b, fb).
double quadratic_fraction(double a, double fa, double ga, double b, double fb);
// The vertex of the parabola through three points, or their mean when the
// curvature is negligible or the vertex is outside (x1, x3).
double parabola_step(double x1, double f1, double x2, double f2, double x3, double f3);

}  // namespace velix::detail
