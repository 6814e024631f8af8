// The steps the termination test takes after a met criterion, before it
// lets the run end: the perturbation test (znlpnoi), which probes the
// objective a small step either way along each axis, and the step along a
// direction of negative curvature (znlpdnc), which leaves a saddle point
// along the eigenvector of the Hessian's most negative eigenvalue (Gill,
// Murray and Wright, Practical Optimization, 1981, sec. 4.4.2.1 and 8.3.4).
// A point either finds is kept, with its gradient, and the termination
// test answers 100 so that the technique restarts from it.  Both run with
// the evaluation phase the termination test set (6) and keep the bounds.
#include <cfloat>
#include <cmath>
#include <initializer_list>

#include "host/fields.h"
#include "numerics/eigen.h"
#include "optimizer/core/active_set.h"
#include "optimizer/core/line_search.h"
#include "optimizer/core/pending.h"
#include "optimizer/techniques/support.h"
#include "velix/packed_index.h"

using namespace velix::detail;

namespace {

// A decrease smaller than this share of |f| (at least 1) is no decrease.
constexpr double kLeastDecrease = 1e-12;
// A curvature above -kNegativeShare times the largest |eigenvalue| is no
// negative curvature (rounding in a difference Hessian).
constexpr double kNegativeShare = 1e-8;

bool lowers(double f, double f0) { return f < f0 - kLeastDecrease * std::fmax(1.0, std::fabs(f0)); }

// The techniques whose matrix is a cross product (positive semidefinite)
// or a quasi-Newton approximation: no Hessian of their own to take a
// negative curvature from.
bool has_hessian(int32_t t) {
    return t == kTechTrureg || t == kTechNewrap || t == kTechNrridg || t == kTechNrlins;
}

}  // namespace

int32_t znlpnoi(NlpProblem* p, int32_t flag) {
    if (wzmis(p->opt.perturbSize) || !(p->opt.perturbSize > 0.0)) return 0;
    Frame fr(p);
    const int32_t n = p->shape.nParams;
    if (!fr.reserve(n)) return 0;
    fr.phase = p->run.evalPhase;
    double* saved = fr.take(n);
    copy(n, p->param.x, saved);
    const double f0 = p->iter.f;
    for (int32_t j = 0; j < n; ++j)
        for (double sign : {1.0, -1.0}) {
            double y = saved[j] + sign * p->opt.perturbSize * std::fmax(1.0, std::fabs(saved[j]));
            if (fr.bounded) y = std::fmin(std::fmax(y, p->param.lower[j]), p->param.upper[j]);
            if (y == saved[j]) continue;
            p->param.x[j] = y;
            // A point off the linear rows is no candidate.
            if (p->shape.hasLinCon != 0 && znlpfch(p, 0, 0, p->run.feasRound) != 0) {
                p->param.x[j] = saved[j];
                continue;
            }
            if (fr.objective() && lowers(p->iter.f, f0)) {
                if (fr.gradient()) return 1;
                break;  // no gradient there: back to the converged point
            }
            p->param.x[j] = saved[j];
        }
    copy(n, saved, p->param.x);
    p->iter.f = f0;
    p->run.evalStatus = 0.0;
    return 0;
}

int32_t znlpdnc(NlpProblem* p, int32_t flag) {
    const int32_t n = p->shape.nParams;
    if (!has_hessian(p->opt.technique) || n < 1) return -1;
    Frame fr(p);
    const int64_t packed = static_cast<int64_t>(n) * (n + 1) / 2;
    if (!fr.reserve(3 * packed + static_cast<int64_t>(n) * n + 12 * static_cast<int64_t>(n))) return -1;
    fr.phase = p->run.evalPhase;
    double* saved = fr.take(n);
    double* savedGrad = fr.take(n);
    double* h = fr.take(packed);
    double* ev = fr.take(n);
    double* z = fr.take(static_cast<int64_t>(n) * n);
    double* work = fr.take(9 * static_cast<int64_t>(n));
    copy(n, p->param.x, saved);
    copy(n, p->work.gradient, savedGrad);
    const double f0 = p->iter.f;
    fr.take_active_set();
    const int32_t k = fr.k;
    if (k < 1 || !fr.hessian()) return -1;
    fr.gather_hessian(h);
    if (zeigen2(k, h, ev, k, z, work) > 0) return -1;
    const double* v = z + static_cast<int64_t>(k - 1) * k;  // the vector of the smallest eigenvalue
    if (!(ev[k - 1] < -kNegativeShare * std::fmax(std::fabs(ev[0]), std::fabs(ev[k - 1])))) return -1;
    // Downhill along v (either sign is a direction of negative curvature).
    fr.scatter(v, p->work.direction);
    const double slope = dot(n, p->work.gradient, p->work.direction);
    if (slope > 0.0)
        for (int32_t j = 0; j < n; ++j) p->work.direction[j] = -p->work.direction[j];
    fr.set_base();
    fr.step_bound(p->work.direction);
    if (znlpls9(p) == 0 && lowers(p->iter.f, f0) && fr.gradient()) return 0;
    copy(n, saved, p->param.x);
    copy(n, savedGrad, p->work.gradient);
    p->iter.f = f0;
    p->run.evalStatus = 0.0;
    return -1;
}
