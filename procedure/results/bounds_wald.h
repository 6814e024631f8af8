// The tests about the independent parameters themselves: Lagrange
// multipliers of the active bounds and the stepwise Wald test.  cosmod3
// (declared in procedure.h) prints the "LagrangeBoundary" and "WaldTest"
// tables; the pieces below are its steps that carry logic.
#pragma once

#include <cstdint>
#include <vector>

namespace velix::detail {

// The bound state of a parameter at x: 2 its bounds coincide (u - l <=
// 1.053671212772351e-08 (1 + |l|)), 1 at its lower bound, -1 at its upper
// bound (tested whenever the lower one does not hold it), 0 free; a bound
// of -DBL_MAX or DBL_MAX is absent.
int32_t bound_state(double x, double lower, double upper);

// The test of releasing a bound from its release (score, variance,
// change; information_scratch.h): LM = score^2 variance / kappa with that
// change; not valid for a negative variance, kappa 0, or an LM above both
// 100 T and 100.
struct BoundTest {
    bool valid = false;
    double lm = 0.0, change = 0.0;
};
BoundTest bound_test(const double* release, double kappa, double chisq);

// One row of the stepwise Wald test.
struct WaldStep {
    int32_t parameter;  // 0-based
    double chisq;       // W of the dropped set
    int32_t df;         // its size
    double prob, increase, increaseProb;
};
// The steps until the first significant increase (at level alpha) or until
// every parameter is dropped; V packed over the q parameters, x their
// estimates.  *singular (out) counts the sets whose matrix was singular.
std::vector<WaldStep> stepwise_wald(const std::vector<double>& V, const double* x, double kappa, double alpha,
                                    double singularTol, int32_t* singular);

}  // namespace velix::detail
