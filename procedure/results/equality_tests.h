// The Lagrange multiplier tests of released equality constraints: cosmod2
// (declared in procedure.h) prints the "LagrangeEquality" table; the test
// of one row is its step that carries logic.
#pragma once

#include <cstdint>

#include "procedure/results/lagrange.h"

// The test of releasing one element (derivative d1) from the rest of its
// group (derivative d, their sum), all tied to parameter p (0-based).
struct EqualityTest {
    bool computed = false;  // the split model's inverse information exists: the changes hold
    bool valid = false;     // lm holds (kappa positive, variance not negative, not too large)
    double lm = 0.0, change1 = 0.0, change2 = 0.0;
};

namespace velix::detail {

EqualityTest equality_test(const LmSetup& s, int32_t p, const LmDerivative& d1, const LmDerivative& d);

}  // namespace velix::detail
