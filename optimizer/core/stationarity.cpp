// The check of a convergence claim that does not trust the technique's
// own matrices.  Every preset criterion can be met away from a minimum:
// quasi-Newton, dogleg, hybrid and conjugate-gradient runs measure GCONV
// with a matrix they built from gradient differences (g'B^-1 g), which a
// flat valley or a start matrix of 1e300 makes far too curved; ABSGCONV's
// absolute gradient is small on a plateau where the parameters are huge
// (a start of 1000, a variable in units of 1e150); FCONV2 is the predicted
// reduction of the dual quasi-Newton program, as degenerate as its matrix;
// and the tests on the change of f or x hold where a step stalls.  So a
// claim of a preset criterion is measured again by the probe of the
// techniques (znlpstn) with the owner's information matrix, or the exact
// Hessian where that is singular: the Newton decrement relative to
// max(|f|, FSIZE), as GCONV takes it (Boyd and Vandenberghe, Convex
// Optimization, 2004, sec. 9.5.1).  A criterion the user gave is the
// user's own definition of convergence and is honoured as it is.
//
//   preset criterion met, not a Newton-type technique's GCONV measured on
//   every parameter:
//       stationary by the probe: the claim stands
//       else, while refusals are left: a few Newton steps downhill; the
//           claim stands at the lower point when that is stationary, else
//           the technique restarts from it (on an active nonlinear
//           constraint, from x with its matrix anew)
//       no lower point (f cannot tell): the claim stands
//   refusals used up and the point not stationary: the run stops without
//   a criterion, with the decrement as its measure
//
// The same measure, without a step, decides after a technique's own stop
// (-6 its step could not reduce f, -7 its model broke down) whether the
// last point is a solution.
#include <cmath>

#include "optimizer/core/core.h"
#include "optimizer/core/pending.h"

namespace {

// A claim stands when the decrement is within this many default GCONV
// bounds: f - f* is about half the decrement, here within 5e-9 |f|, with
// room for the information matrix standing for the Hessian (the
// decrements of the two differ by a few times at a minimum with misfit)
// inside the 1e-6 that a claim promises.  A technique whose own measure
// met GCONV with a poor matrix is brought there by the probe's Newton
// steps, which converge fast that close.
constexpr double kAgreement = 1.0;
// The decrement below which a point is stationary whatever |f|: a fit
// whose minimum is 0 (a saturated model) has no relative measure.
constexpr double kAbsoluteFloor = 1e-12;
// Claims a run may refuse before a refused claim ends it.
constexpr int32_t kRefusals = 20;

// The Newton-type techniques measure GCONV (and GCONV2) with the Hessian
// slot's own matrix at the point: where they hold no parameter at a bound
// and no row (whose multipliers they may have wrong), a claim of theirs on
// those criteria is already the check's measure (and on the largest models
// costs most).
bool measured_by_the_slot(const NlpProblem* p, int32_t status) {
    const int32_t t = p->opt.technique;
    return (status == kNlpGConv || status == kNlpGConv2) && p->active.nActiveBounds == 0 && p->active.nActiveLin == 0 &&
           (t == kTechTrureg || t == kTechLevmar || t == kTechNewrap || t == kTechNrridg || t == kTechNrlins);
}

// The probe in the post-convergence phase: its result (see znlpstn).
int32_t probe(NlpProblem* p, int32_t descend, double* decrement) {
    const double phase = p->run.evalPhase;
    p->run.evalPhase = kPhasePostConvergence;
    const int32_t r = znlpstn(p, kAgreement * kNlpDefaultGConv, kAbsoluteFloor, descend, decrement);
    p->run.evalPhase = phase;
    return r;
}

}  // namespace

int32_t znlp_verify_claim(NlpProblem* p, int32_t status) {
    if ((p->opt.presetCriteria & (1 << status)) == 0) return status;
    if (measured_by_the_slot(p, status)) return status;
    const bool more = p->run.claimRefusals < kRefusals;
    double m = 0.0;
    const int32_t r = probe(p, more ? 1 : 0, &m);
    // Stationary at the lower point the probe found: the claim holds there.
    if (r == 1) return status;
    if (r == 4) {
        p->run.claimRefusals += 1;
        return kNlpRestart;
    }
    // On an active nonlinear constraint no step was tried: the technique
    // starts again from x with its own matrix anew.
    if (r == 3 && more) {
        p->run.claimRefusals += 1;
        return kNlpRestart;
    }
    if (r >= 2 && !more) {
        p->iter.gconvMeasure = p->iter.scaledGradMax = m;
        return kNlpTechniqueStop7;
    }
    return status;
}

int32_t znlp_end_verdict(NlpProblem* p) {
    double m = 0.0;
    const int32_t r = probe(p, 0, &m);
    return r == 0 ? 1 : r >= 2 ? 0 : -1;
}
