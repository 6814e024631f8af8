// Finite-difference intervals: for every parameter a forward and a central
// interval suited to the accuracy and curvature of the objective and the
// constraints.  Trial intervals are changed until the estimated relative
// cancellation error of a second difference lies between 0.001 and 0.1;
// the forward interval then balances truncation against cancellation,
// h = 2 sqrt(epsA / |f''|) (Gill, Murray, Saunders and Wright, "Computing
// forward-difference intervals for numerical optimization", SIAM J. Sci.
// Stat. Comput. 4, 1983).  Behind a convergence claim the gradient's
// intervals are refined where its truncation error shows: the step is
// halved while the differences change as truncation makes them change
// (by 4 central, 2 forward), which stops where the noise of f begins.
#include <cfloat>
#include <cmath>
#include <cstring>
#include <vector>

#include "host/fields.h"
#include "optimizer/core/fd_frame.h"
#include "optimizer/core/finite_differences.h"
#include "velix/host.h"

using namespace velix::detail;

int32_t ddiv(double a, double b, double* q) {
    if (a == 0.0) {
        *q = 0.0;
        return b == 0.0 ? 1 : 0;
    }
    if (b == 0.0) {
        *q = std::copysign(DBL_MAX, a);
        return 1;
    }
    if (std::fabs(b) >= 1.0 && std::fabs(a) < std::fabs(b) * kMinNormal) {
        *q = 0.0;
        return 0;
    }
    if (std::fabs(b) < 1.0 && std::fabs(a) > std::fabs(b) * DBL_MAX) {
        *q = (a < 0.0) != (b < 0.0) ? -DBL_MAX : DBL_MAX;
        return 1;
    }
    *q = a / b;
    return 0;
}

namespace {

double quotient(double a, double b) {
    double q;
    ddiv(a, b, &q);
    return q;
}

// The estimate of one function at one parameter.
struct Estimate {
    double hF = 0.0;      // forward interval
    double hC = 0.0;      // accepted |h| (the central candidate)
    double phi1 = 0.0;    // derivative estimate
    double phi2 = 0.0;    // second difference
    double epsA = 0.0;
    int32_t code = 0;     // 0 accepted, 1 constant, 2 and 3 no acceptance, 4 unreliable
};

// Values at x + h e_j and x + 2h e_j of function k (k < 0 the objective).
// False when an evaluation failed.
bool values(FdRun& run, int32_t k, int32_t j, double h, double* fp, double* fpp) {
    NlpProblem* p = run.p;
    const double x = p->param.x[j];
    bool ok = true;
    for (int32_t t = 1; t <= 2 && ok; ++t) {
        p->param.x[j] = x + t * h;
        const double phase = p->run.evalPhase;
        if (k < 0) {
            p->run.evalPhase = kPhaseFdHessianF;
            ok = run.objective();
            (t == 1 ? *fp : *fpp) = p->iter.f;
        } else {
            p->run.evalPhase = kPhaseFdConJacobian;
            ok = run.constraints() && p->run.evalStatus == 0.0;
            (t == 1 ? *fp : *fpp) = p->con.conValues[k];
        }
        p->run.evalPhase = phase;
    }
    p->param.x[j] = x;
    return ok;
}

// Steps 3 to 10 for function k and parameter j.  False when an
// evaluation failed.
bool estimate(FdRun& run, int32_t k, int32_t j, double s, double base, Estimate* e) {
    NlpProblem* p = run.p;
    const double digits = k < 0 ? p->opt.fDigits : p->opt.cDigits;
    const double eps = digits > 0.0 && !wzmis(digits) ? std::pow(10.0, -digits) : 2.0 * kEta;
    e->epsA = eps * (1.0 + std::fabs(base));
    const double hbar = 2.0 * (1.0 + std::fabs(p->param.x[j])) * std::sqrt(eps);
    const double factor = 0.25 * std::pow(eps, -0.16);
    double h = 10.0 * s * hbar;
    bool increasing = false, haveBest = false, accepted = false;
    double best[4] = {};  // h, phiF, phi1, phi2 of the best forward trial
    double prev[3] = {};  // h, phi1, phi2 of the previous trial
    double phiF = 0, phi1 = 0, phi2 = 0;
    for (int32_t trial = 0; trial < 4 && !accepted; ++trial) {
        double fp, fpp;
        if (!values(run, k, j, h, &fp, &fpp)) return false;
        phiF = quotient(fp - base, h);
        const double phiF2 = quotient(fpp - base, 2.0 * h);
        phi1 = quotient(4.0 * fp - 3.0 * base - fpp, 2.0 * h);
        phi2 = quotient(base - 2.0 * fp + fpp, h * h);
        const double cf = quotient(e->epsA, std::fabs(h) * 0.5 * std::fmin(std::fabs(phiF), std::fabs(phiF2)));
        const double c2 = quotient(e->epsA, 0.25 * h * h * std::fabs(phi2));
        auto keep = [&]() {
            best[0] = h, best[1] = phiF, best[2] = phi1, best[3] = phi2;
            haveBest = true;
        };
        if (trial == 0) {
            if (cf <= 0.1) keep();
            if (c2 >= 0.001 && c2 <= 0.1) {
                accepted = true;
            } else if (c2 < 0.001) {
                increasing = false;
                prev[0] = h, prev[1] = phi1, prev[2] = phi2;
                h /= 10.0 * factor;
            } else {
                increasing = true;
                h *= factor;
            }
        } else if (increasing) {
            if (!haveBest && cf <= 0.1) keep();
            if (c2 <= 0.1) accepted = true; else h *= factor;
        } else if (c2 > 0.1) {
            h = prev[0], phi1 = prev[1], phi2 = prev[2];
            accepted = true;
        } else {
            if (cf <= 0.1) keep();
            if (c2 >= 0.001) {
                accepted = true;
            } else {
                prev[0] = h, prev[1] = phi1, prev[2] = phi2;
                h /= 10.0 * factor;
            }
        }
    }
    if (accepted) {
        e->hF = 2.0 * std::sqrt(e->epsA) / std::sqrt(std::fabs(phi2));
        e->hC = std::fabs(h);
        e->code = std::fmax(e->hF * std::fabs(phi2), std::fabs(phiF - phi1)) > 0.5 * std::fabs(phiF) ? 4 : 0;
    } else if (!haveBest) {
        e->code = 1;
        phi1 = phi2 = 0.0;
        e->hF = hbar;
    } else {
        e->code = increasing ? 2 : 3;
        phi1 = best[2];
        phi2 = increasing ? 0.0 : best[3];
        e->hF = 2.0 * std::sqrt(e->epsA) / std::sqrt(std::fabs(phi2));
    }
    if (!std::isfinite(e->hF)) e->hF = hbar;
    e->phi1 = phi1;
    e->phi2 = phi2;
    return true;
}

// Re-tests the parameters flagged constant at a displaced point.  0, -1
// or -2 (the objective failed).
int32_t chconst(FdRun& run, int32_t* count) {
    NlpProblem* p = run.p;
    const int32_t n = run.n;
    std::memcpy(p->work.xBase, p->param.x, sizeof(double) * static_cast<size_t>(n));
    double s = 1.0 / n;
    for (int32_t j = 0; j < n; ++j, s *= 0.97) {
        if (!p->shape.hasBounds) {
            p->param.x[j] += s;
            continue;
        }
        const double below = p->param.lower[j] > -DBL_MAX ? std::fmax(-1.0, p->param.lower[j] - p->param.x[j]) : -1.0;
        const double above = p->param.upper[j] < DBL_MAX && p->param.upper[j] > p->param.lower[j] ? std::fmin(1.0, p->param.upper[j] - p->param.x[j]) : 1.0;
        p->param.x[j] += below + above < 0.0 ? s * below : s * above;
    }
    int32_t r = 0;
    if (!run.objective()) {
        r = -1;
    } else {
        const double d0 = p->iter.f;
        for (int32_t j = 0; j < n && r == 0; ++j) {
            if (p->fd.constantFlags[j] == 0) continue;
            const double moved = p->param.x[j];
            const double t = (p->work.xBase[j] - moved) * 0.5;
            p->param.x[j] = moved + t;
            if (!run.objective()) {
                r = -2;
            } else {
                const double slope = (p->iter.f - d0) / t, g = p->work.gradient[j];
                const double tol = std::fmin(1e-8, std::fabs(p->fd.fdForward[j]));
                if (std::fabs(slope - g) > tol * (std::fabs(slope) + std::fabs(g))) {
                    p->fd.constantFlags[j] = 0;
                    *count -= 1;
                }
            }
            p->param.x[j] = moved;
        }
    }
    std::memcpy(p->param.x, p->work.xBase, sizeof(double) * static_cast<size_t>(n));
    return r;
}

}  // namespace

int32_t znlpfdh(NlpProblem* p, int32_t mode) {
    if (mode == 0) return 0;
    FdRun run(p, p->run.evalPhase, nullptr);
    const int32_t n = p->shape.nParams;
    const int32_t mc = p->shape.hasNlinCon ? p->shape.nNlinCon : 0;
    const int32_t first = mode == 2 ? 0 : -1, last = mode == 1 ? -1 : mc - 1;
    for (int32_t j = 0; j < n; ++j) p->fd.constantFlags[j] = 0;
    vzfdl(host_missing_value(), p->fd.fdForward, n);
    vzfdl(host_missing_value(), p->fd.fdCentral, n);
    std::vector<double> c0(p->con.conValues != nullptr ? p->con.conValues : nullptr,
                           p->con.conValues != nullptr ? p->con.conValues + mc : nullptr);
    int32_t flagged = 0;
    bool failed = false;
    for (int32_t j = 0; j < n && !failed; ++j) {
        const double xj = p->param.x[j];
        double s = 1.0;
        if (p->shape.hasBounds) {
            const double l = p->param.lower[j] > -DBL_MAX ? p->param.lower[j] - xj : -DBL_MAX;
            const double u = p->param.upper[j] < DBL_MAX ? p->param.upper[j] - xj : DBL_MAX;
            if ((l + u) / 2.0 < 0.0) s = -1.0;
        }
        double sumEps = 0.0, sumPhi2 = 0.0, hMax = 0.0, hMin = 1.0 / std::pow(kEta, 0.333), hcMax = 0.0;
        Estimate objective;
        for (int32_t k = first; k <= last && !failed; ++k) {
            Estimate e;
            const double base = k < 0 ? run.f0 : c0[k];
            if (!estimate(run, k, j, s, base, &e)) {
                failed = true;
                break;
            }
            if (k < 0) {
                p->work.gradient[j] = e.phi1;
                if (e.code == 1 || e.code == 2) {
                    p->fd.constantFlags[j] = 1;
                    ++flagged;
                }
                objective = e;
            } else {
                p->con.conJacobian[static_cast<size_t>(k) * n + j] = e.phi1;
            }
            sumEps += e.epsA;
            sumPhi2 += std::fabs(e.phi2);
            hMax = std::fmax(hMax, e.hF);
            hMin = std::fmin(hMin, e.hF);
            if (e.code == 0) hcMax = std::fmax(hcMax, e.hC);
        }
        if (failed) break;
        double hF, hC;
        if (mode == 1) {
            const double eps = p->opt.fDigits > 0.0 && !wzmis(p->opt.fDigits) ? std::pow(10.0, -p->opt.fDigits) : 2.0 * kEta;
            hF = objective.code == 0 ? objective.hF : 2.0 * (1.0 + std::fabs(xj)) * std::sqrt(eps);
            hC = objective.code == 0 ? objective.hC : 10.0 * hF;
        } else {
            if (hMin > hMax) hMin = hMax;
            if (4.0 * sumEps < hMin * hMin * sumPhi2)
                hF = hMin;
            else if (4.0 * sumEps > hMax * hMax * sumPhi2)
                hF = hMax;
            else
                hF = 2.0 * std::sqrt(sumEps / sumPhi2);
            hC = hcMax > 0.0 ? hcMax : 10.0 * hF;
        }
        p->fd.fdForward[j] = hF / (1.0 + std::fabs(xj));
        p->fd.fdCentral[j] = hC / (1.0 + std::fabs(xj));
        p->param.x[j] = xj;
    }
    if (!failed && flagged > 0 && chconst(run, &flagged) != 0) {
        for (int32_t j = 0; j < n; ++j) p->fd.constantFlags[j] = 0;
    }
    // The final evaluation restores f and the constraint values at x; its
    // failure is the routine's failure.
    p->run.evalPhase = mc > 0 && mode != 1 ? kPhaseConstraintsOnly : kPhaseFdHessianF;
    bool ok = run.objective();
    if (ok && mc > 0 && mode != 1 && p->cb.conValuesFn != nullptr) {
        p->run.evalPhase = kPhaseLagrangeHessian;
        ok = p->cb.conValuesFn(p) == 0;
    }
    p->run.evalPhase = run.phase0;
    return ok ? 0 : -1;
}

// ---- the gradient behind a claim ----

namespace {

// The share of the rounding level above which the change between the
// differences over a step and over half of it may be truncation: ten
// times, so that rounding alone (at most that level) never starts a
// refinement.
constexpr double kTruncationShare = 10.0;
// Halvings of the step at most.
constexpr int32_t kMostHalvings = 30;
// Successive changes that must fall by the factor of truncation before it
// is taken for truncation: noise of f above its stated accuracy makes
// changes that happen to fall so once, hardly twice.
constexpr int32_t kConfirmations = 2;

// The ratio of successive changes that truncation gives, 4 central (the
// error c d^2), 2 forward (c d), with room for the next order's term and
// for rounding.
bool falls_by_truncation(double ratio, bool central) {
    return central ? ratio >= 3.0 && ratio <= 5.5 : ratio >= 1.6 && ratio <= 2.6;
}

// The difference quotient of f along e_j over the step d at x: forward
// (from f0 at x), or central; false when an evaluation fails.
bool difference(FdRun& run, int32_t j, double d, bool central, double* out) {
    if (!run.objective_at(j, d)) return false;
    const double plus = run.p->iter.f;
    if (!central) {
        *out = (plus - run.f0) / d;
        return true;
    }
    if (!run.objective_at(j, -d)) return false;
    *out = (plus - run.p->iter.f) / (2.0 * d);
    return true;
}

// The points of the differences of parameter j over d lie within its
// bounds (forward steps go upwards only).
bool inside(const NlpProblem* p, int32_t j, double d, bool central) {
    if (!p->shape.hasBounds || p->param.lower == nullptr || p->param.upper == nullptr) return true;
    const double x = p->param.x[j], a = std::fabs(d);
    return x + a <= p->param.upper[j] && (!central || x - a >= p->param.lower[j]);
}

// The interval array that keeps refined intervals for the gradient of
// this run; null where the caller gave none, or where they serve the
// constraints as well (interval modes 2 and 3), whose differences a
// refinement for f must not change.  The first time both arrays get the
// intervals in use, since from then on the differences of either kind
// (forward ones may turn central near the solution) read them.
double* refinable(NlpProblem* p, bool central) {
    double* v = central ? p->fd.fdCentral : p->fd.fdForward;
    const int32_t mode = p->opt.fdIntervalMode;
    if (v == nullptr || (mode != 0 && mode != 1)) return nullptr;
    if (p->fd.intervalsRefined == 0) {
        const double hf = base_interval(p->opt.fDigits);
        for (int32_t j = 0; j < p->shape.nParams; ++j) {
            double* f = p->fd.fdForward != nullptr ? &p->fd.fdForward[j] : nullptr;
            double* c = p->fd.fdCentral != nullptr ? &p->fd.fdCentral[j] : nullptr;
            if (f != nullptr && (mode == 0 || wzmis(*f) || !(*f > 0.0))) *f = hf;
            if (c != nullptr && (mode == 0 || wzmis(*c) || !(*c > 0.0))) *c = two_thirds(hf);
        }
    }
    p->fd.intervalsRefined = 1;
    return v;
}

// One parameter's differences over d, d/2, d/4, ...  Where the change
// from d to d/2 exceeds the rounding, the step is halved while each change
// falls by the factor of truncation: the smallest step so confirmed is as
// small as the noise of f allows (its truncation about that noise).
struct Halving {
    bool ok = true;         // every evaluation succeeded
    bool truncated = false; // truncation confirmed
    double step = 0.0;      // the smaller step of the last pair whose change fell so
    double gradient = 0.0;  // the difference over it
};

Halving halve(FdRun& run, int32_t j, double d, bool central, double epsA) {
    Halving out;
    double whole = 0.0, half = 0.0;
    if (!difference(run, j, d, central, &whole) || !difference(run, j, 0.5 * d, central, &half)) {
        out.ok = false;
        return out;
    }
    // The rounding of the two quotients together: epsA / |d| and
    // 2 epsA / |d| central, twice that forward.
    double change = whole - half;
    if (!(std::fabs(change) > kTruncationShare * (central ? 3.0 : 6.0) * epsA / std::fabs(d))) return out;
    const double floor = 10.0 * kEta * std::fmax(1.0, std::fabs(run.p->param.x[j]));
    int32_t confirmed = 0;
    for (int32_t k = 0; k < kMostHalvings && std::fabs(d) > 4.0 * floor; ++k) {
        double quarter = 0.0;
        if (!difference(run, j, 0.25 * d, central, &quarter)) {
            out.ok = false;
            return out;
        }
        const double next = half - quarter;
        if (!falls_by_truncation(change / next, central)) break;
        confirmed += 1;
        d *= 0.5;
        half = quarter;
        change = next;
    }
    if (confirmed < kConfirmations) return out;
    out.truncated = true;
    out.step = 0.5 * std::fabs(d);
    out.gradient = half;
    return out;
}

}  // namespace

int32_t znlp_refine_fd_gradient(NlpProblem* p) {
    const int32_t n = p->shape.nParams, digit = p->opt.derivDigits % 10;
    if (n <= 0 || digit == 0) return 0;
    const bool central = digit != 1;
    FdRun run(p, kPhaseFdGradient, nullptr);
    const bool vector = !p->shape.scalarObjective && p->work.funValues != nullptr && p->fd.funWork != nullptr;
    if (vector) std::memcpy(p->fd.funWork, p->work.funValues, sizeof(double) * static_cast<size_t>(p->shape.nFunctions));
    const double hf = base_interval(p->opt.fDigits);
    const double h = central ? two_thirds(hf) : hf;
    const double eps = p->opt.fDigits > 0.0 && !wzmis(p->opt.fDigits) ? std::pow(10.0, -p->opt.fDigits) : 2.0 * kEta;
    const double epsA = eps * (1.0 + std::fabs(run.f0));
    int32_t refined = 0;
    bool failed = false;
    for (int32_t j = 0; j < n && !failed; ++j) {
        if (p->active.boundState != nullptr && p->active.boundState[j] == 2) continue;
        const double* in = intervals_for(p, false, central);
        const double d = run.step(j, in != nullptr ? in[j] : h);
        if (!inside(p, j, d, central)) continue;
        const Halving hv = halve(run, j, d, central, epsA);
        failed = !hv.ok;
        if (!hv.truncated) continue;
        p->work.gradient[j] = hv.gradient;
        if (double* v = refinable(p, central)) v[j] = hv.step / (1.0 + std::fabs(p->param.x[j]));
        ++refined;
    }
    // f and the owner's state at x again (the last values were those of a
    // displaced point).
    const bool ok = !failed && run.objective();
    run.restore(0);
    return ok ? (refined > 0 ? 1 : 0) : -1;
}
