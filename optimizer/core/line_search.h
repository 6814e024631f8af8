// The line searches of the optimizer: from x0 = xBase along direction d
// they choose the step alpha of phi(alpha) = f(x0 + alpha d).  The caller
// sets xBase, f = f(x0), gradBase = g(x0), direction, stepBound and
// maxProjGrad.  On success x = x0 + alpha d, f = f(x), lastStep = alpha (and
// for the searches that evaluate it the gradient and maxProjGrad are
// current); on failure x = x0, f = f0, lastStep = 0 and maxProjGrad as on
// entry.  Result 0 success; znlpls2 fails with -1, the others with 1.
#pragma once

#include <cstdint>

#include "optimizer/optimizer.h"
#include "velix/nlp.h"

// Slope-based searches (sufficient decrease and a slope test governed by
// LSPRECISION): 1 gradient at every trial, delta steps; 2 (the default)
// gradient only where the Armijo test holds; 3 gradient at every trial,
// cubic interpolation; 4 and 5 extrapolation then interpolation from 0.
int32_t znlpls1(NlpProblem* p);
int32_t znlpls2(NlpProblem* p);
int32_t znlpls3(NlpProblem* p);
int32_t znlpls4(NlpProblem* p);
int32_t znlpls5(NlpProblem* p);
// The fallback of searches 1 to 5: shrinking passes from the upper step,
// a parabola through three values, or slope bisection on a flat objective.
// 0 found a point (set as on success); -1, -2, -3 or 1 otherwise.
int32_t bisect(NlpProblem* p, double f0, double g0, double gmax0, double upper);

// Value-based searches: 6 golden section with a final parabola step; 7
// Goldstein tests with bisection; 8 expansion, backtracking and one
// parabola step; 9 (negative-curvature step) values and the constraint
// violation only.  A step bound not above TINY succeeds with no move.
int32_t znlpls6(NlpProblem* p);
int32_t znlpls7(NlpProblem* p);
int32_t znlpls8(NlpProblem* p);
int32_t znlpls9(NlpProblem* p);
// The largest violation of the general linear and nonlinear constraints at
// x; DBL_MAX when the constraint values cannot be computed.
double gtcmx(NlpProblem* p);

