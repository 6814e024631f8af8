// The check of a convergence claim that does not trust the technique's
// own matrices.  A criterion decides when a run stops; whether the point
// is a solution is the check's to say.  Every criterion can be met away
// from a minimum: quasi-Newton, dogleg, hybrid and conjugate-gradient runs
// measure GCONV with a matrix they built from gradient differences
// (g'B^-1 g), which a flat valley or a start matrix of 1e300 makes far too
// curved; ABSGCONV's absolute gradient is small on a plateau where the
// parameters are huge (a start of 1000, a variable in units of 1e150) and
// everywhere when f itself is tiny (a fit of moments in units of 1e-7);
// FCONV2 is the predicted reduction of the dual quasi-Newton program, as
// degenerate as its matrix, and absolute; the tests on the change of f or x
// hold where a step stalls; and a user's GCONV=1e-12 is met by the same
// poor matrix.  So a claim is measured again by the probe of the
// techniques (znlpstn) with the owner's information matrix, or the exact
// Hessian where that is singular, on the null space of the active
// constraints with the Lagrange function's curvature: the Newton decrement
// relative to max(|f|, FSIZE), as GCONV takes it (Boyd and Vandenberghe,
// Convex Optimization, 2004, sec. 9.5.1), or a Newton step at the rounding
// of the parameters.
//
// Which claims are measured (looser_than_the_check, the one place that
// says so): a threshold the user gave that asks for less than the check is
// the user's own definition of convergence: the run stops where it holds,
// its results keep their standard errors, and the warning on a large final
// gradient says what the check finds there.  Looser means, per criterion:
//   ABSCONV          a target value of f, not a test of stationarity:
//                    always (it is never measured)
//   ABSFCONV, ABSGCONV, ABSXCONV, FCONV2
//                    absolute sizes, which no scale of f or of the
//                    parameters relates to the check's relative bound:
//                    never
//   FCONV, GCONV     a relative reduction of f or a relative decrement,
//                    the check's own kind of measure: above its bound 1e-8
//   XCONV, GCONV2    a relative change of the parameters or a scaled
//                    gradient element, whose square compares with the
//                    decrement: above sqrt(1e-8) = 1e-4
// A preset threshold is never looser.  When several criteria hold at once
// and one of them is looser, the run stops on that one.
//
//   looser criterion met: the claim stands
//   else, not a Newton-type technique's GCONV measured on every parameter:
//       stationary by the probe (at x, or at the lower point its steps
//       reached): the claim stands there; held by a constraint, at the
//       point of the probe's Newton steps on from there (a constrained
//       technique stops near the edge of the bound, which leaves the
//       estimates up to sqrt(1e-8) relative from the minimum)
//       else, while refusals are left: the technique restarts, from the
//           lower point the probe's steps reached or from x
//   refusals used up and the point not stationary: the run stops without
//   a criterion, with the decrement as its measure
//
// The same measure, without a step, decides after a technique's own stop
// (-6 its step could not reduce f, -7 its model broke down) whether the
// last point is a solution.
#include <cmath>

#include "optimizer/core/core.h"
#include "optimizer/core/finite_differences.h"
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
constexpr double kCheckBound = kAgreement * kNlpDefaultGConv;
// Claims a run may refuse before a refused claim ends it.
constexpr int32_t kRefusals = 20;

// The threshold of criterion k asks for less than the check (see above).
bool looser_than_the_check(const NlpProblem* p, int32_t k) {
    if ((p->opt.presetCriteria & (1 << k)) != 0) return false;
    switch (k) {
        case kNlpAbsConv: return true;
        case kNlpFConv: return p->opt.fConv > kCheckBound;
        case kNlpGConv: return p->opt.gConv > kCheckBound;
        case kNlpXConv: return p->opt.xConv > std::sqrt(kCheckBound);
        case kNlpGConv2: return p->opt.gConv2 > std::sqrt(kCheckBound);
        default: return false;
    }
}

// The Newton-type techniques measure GCONV with the Hessian slot's own
// matrix at the point: where they hold no parameter at a bound and no row
// (whose multipliers they may have wrong), a claim of theirs on it is
// already the check's measure (and on the largest models costs most) --
// provided the measure is small against f at the point itself.  The
// criterion scales it by f of the iteration before, which after the first
// step from a far start (F from 2e7 to 0.02) passes a measure of nearly f.
bool measured_by_the_slot(const NlpProblem* p, int32_t status) {
    const int32_t t = p->opt.technique;
    const double bound = p->opt.gConv * std::fmax(std::fabs(p->iter.f), p->opt.fSize);
    return status == kNlpGConv && std::fabs(p->iter.gconvMeasure) <= bound && p->active.nActiveBounds == 0 &&
           p->active.nActiveLin == 0 &&
           (t == kTechTrureg || t == kTechLevmar || t == kTechNewrap || t == kTechNrridg || t == kTechNrlins);
}

// The probe in the post-convergence phase: its result (see znlpstn).
int32_t probe(NlpProblem* p, int32_t descend, double* decrement) {
    const double phase = p->run.evalPhase;
    p->run.evalPhase = kPhasePostConvergence;
    const int32_t r = znlpstn(p, kCheckBound, descend, decrement);
    p->run.evalPhase = phase;
    return r;
}

// A gradient from differences carries their truncation error, which may
// hold every measure on it small away from the minimum (a central
// difference over the default interval of a steep exponential model ends
// 0.1 % above its minimum): it is measured first, and where it mattered
// the measure takes the corrected gradient and the run goes on with
// refined intervals (for a technique of values alone the probe takes the
// gradient itself, over the refined intervals).  The result of
// znlp_refine_fd_gradient.
int32_t corrected_gradient(NlpProblem* p) { return znlp_refine_fd_gradient(p); }

}  // namespace

int32_t znlp_verify_claim(NlpProblem* p, int32_t status, uint32_t met) {
    if (p->opt.claimsUnchecked != 0) return status;
    if (met == 0) met = 1u << status;
    for (int32_t k = kNlpGConv2; k >= kNlpAbsConv; --k)
        if ((met & (1u << k)) != 0 && looser_than_the_check(p, k)) return k;
    const int32_t corrected = corrected_gradient(p);
    if (corrected == 0 && measured_by_the_slot(p, status)) return status;
    const bool more = p->run.claimRefusals < kRefusals;
    double m = 0.0;
    switch (corrected < 0 ? kProbeRefuted : probe(p, more ? 1 : 0, &m)) {
        // Without a measure, a gradient that needed correcting is all the
        // claim rested on: the run goes on with the refined intervals.
        case kProbeNoMeasure:
            if (corrected == 0) return status;
            m = p->iter.gconvMeasure;
            break;
        case kProbeStationary:
        case kProbePolished: return status;
        // A technique of values alone ends where the measure cannot have
        // the derivatives of its point: a restart would claim it again.
        case kProbeNoDerivatives: return znlp_failure_status(p->run.lastEval);
        default: break;
    }
    // Not stationary: the technique starts again from the lower point the
    // probe reached, or from x with its own matrix anew, while refusals
    // are left.
    if (more) {
        p->run.claimRefusals += 1;
        return kNlpRestart;
    }
    p->iter.gconvMeasure = p->iter.scaledGradMax = m;
    return kNlpTechniqueStop7;
}

bool znlp_claim_looser(const NlpProblem* p, int32_t status) {
    return status >= kNlpAbsConv && status <= kNlpGConv2 && looser_than_the_check(p, status);
}

int32_t znlp_end_verdict(NlpProblem* p) {
    double m = 0.0;
    const int32_t corrected = corrected_gradient(p);
    if (corrected < 0) return 0;
    const int32_t r = probe(p, 0, &m);
    if (r == kProbeNoMeasure) return corrected == 0 ? -1 : 0;
    return r == kProbeStationary ? 1 : 0;
}
