// The ratio test along a direction: how far the point may move before a
// bound of a free parameter or an inactive inequality row stops it (Gill,
// Murray and Wright, Practical Optimization, 1981, sec. 5.2.2).  The
// feasible-start search, the drop test and the techniques share it.
#include <cfloat>
#include <cmath>

#include "optimizer/core/active_set.h"
#include "optimizer/core/active_set_detail.h"
#include "optimizer/core/reduced_space.h"

using namespace velix::detail;

int32_t znlpstl(NlpProblem* p, int32_t mode, int32_t, const double* base, const double* d, int32_t* blocking) {
    const int32_t n = p->nParams, nf = n_free(p);
    const double t = std::fmin(working_tolerance(p, p->feasRound), 0.001);
    double dmax = 0.0;
    for (int32_t i = 0; i < n; ++i) dmax = std::fmax(dmax, std::fabs(d[i]));
    const double dtol = std::fmax(1e-8 * dmax, 1000.0 * DBL_MIN);
    double cap = DBL_MAX;
    *blocking = -1;
    // A constraint that the direction leaves at once allows no step.
    auto consider = [&](double room, double slack, double rate, int32_t number) {
        if (room <= slack) {
            cap = 0.0;
            *blocking = number;
            return;
        }
        if (room / rate < cap) {
            cap = room / rate;
            *blocking = number;
        }
    };
    for (int32_t k = 0; k < nf && cap > 0.0; ++k) {
        const int32_t i = p->freeList[k];
        if (!p->hasBounds || std::fabs(d[i]) <= dtol) continue;
        const double l = p->lower[i], u = p->upper[i];
        if (d[i] < 0.0 && l > -DBL_MAX) consider(base[i] - l, (1.0 + std::fabs(l)) * t, -d[i], i);
        if (d[i] > 0.0 && u < DBL_MAX) consider(u - base[i], (1.0 + std::fabs(u)) * t, d[i], n + i);
    }
    for (int32_t k = p->nLinEq; p->hasLinCon && k < p->nLinCon && cap > 0.0; ++k) {
        bool active = false;
        for (int32_t j = 0; j < p->nActiveLin + p->nDepLin && !active; ++j) active = p->activeList[j] == k;
        if (active) continue;
        p->conRowFn(p, k, p->rowBuffer);
        double slope = 0.0, ax = 0.0;
        for (int32_t i = 0; i < n; ++i) {
            slope += p->rowBuffer[i] * d[i];
            ax += p->rowBuffer[i] * base[i];
        }
        if (slope >= -dtol) continue;
        consider(ax - p->linRhs[k], row_threshold(t, p->linRhs[k]), -slope, 2 * n + k);
    }
    if (mode == 0 && cap > 1.0) {
        cap = 1.0;
        *blocking = -1;
    }
    p->stepBound = cap;
    return cap > 0.0 ? 0 : -1;
}
