// The stand-in technique (see the header).
#include "tests/optimizer/core/stand_in_technique.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <vector>

namespace velix::test {

namespace {

double dot(const double* a, const double* b, int32_t n) {
    double s = 0;
    for (int32_t i = 0; i < n; ++i) s += a[i] * b[i];
    return s;
}

// d = -H g with H packed lower by rows.
void direction(const std::vector<double>& h, const double* g, double* d, int32_t n) {
    for (int32_t i = 0; i < n; ++i) {
        double s = 0;
        for (int32_t j = 0; j < n; ++j) s += h[i >= j ? i * (i + 1) / 2 + j : j * (j + 1) / 2 + i] * g[j];
        d[i] = -s;
    }
}

void identity(std::vector<double>* h, int32_t n) {
    std::fill(h->begin(), h->end(), 0.0);
    for (int32_t i = 0; i < n; ++i) (*h)[i * (i + 1) / 2 + i] = 1.0;
}

double max_abs(const double* g, int32_t n) {
    double m = 0;
    for (int32_t i = 0; i < n; ++i) m = std::fmax(m, std::fabs(g[i]));
    return m;
}

// Halving until the Armijo test holds; 0 when a step was accepted.
int32_t halving(NlpProblem* p) {
    const int32_t n = p->shape.nParams;
    const double f0 = p->iter.f, slope = dot(p->work.gradBase, p->work.direction, n);
    for (double a = 1.0; a > 1e-20; a *= 0.5) {
        for (int32_t i = 0; i < n; ++i) p->param.x[i] = p->work.xBase[i] + a * p->work.direction[i];
        if (p->cb.objectiveFn(p) == 0 && p->iter.f <= f0 + 1e-4 * a * slope) {
            p->iter.lastStep = a;
            return p->cb.gradientFn(p);
        }
    }
    std::copy(p->work.xBase, p->work.xBase + n, p->param.x);
    p->iter.f = f0;
    return 1;
}

}  // namespace

int32_t stand_in_technique(NlpProblem* p) {
    const int32_t n = p->shape.nParams;
    std::vector<double> h(static_cast<size_t>(n) * (n + 1) / 2), s(n), y(n), w1(n), w2(n),
        w3(static_cast<size_t>(n) * n);
    identity(&h, n);
    p->iter.maxProjGrad = max_abs(p->work.gradient, n);
    int32_t rc = p->cb.terminationFn(p, 10);
    while (rc == 0 || rc == kNlpRestart) {
        direction(h, p->work.gradient, p->work.direction, n);
        if (dot(p->work.direction, p->work.gradient, n) >= 0) {
            identity(&h, n);
            direction(h, p->work.gradient, p->work.direction, n);
        }
        std::copy(p->param.x, p->param.x + n, p->work.xBase);
        std::copy(p->work.gradient, p->work.gradient + n, p->work.gradBase);
        p->iter.fPrev = p->iter.f;
        p->iter.stepBound = DBL_MAX;
        const int32_t ls = p->cb.lineSearchFn ? p->cb.lineSearchFn(p) : halving(p);
        if (ls != 0) return p->cb.terminationFn(p, kNlpTechniqueStop7);
        p->iter.expectedReduction = p->iter.fPrev - p->iter.f;
        for (int32_t i = 0; i < n; ++i) {
            s[i] = p->param.x[i] - p->work.xBase[i];
            y[i] = p->work.gradient[i] - p->work.gradBase[i];
        }
        if (p->cb.updateFn) p->cb.updateFn(p, 1, 0, n, s.data(), y.data(), h.data(), w1.data(), w2.data(), w3.data());
        p->run.iteration += 1;
        p->iter.maxProjGrad = max_abs(p->work.gradient, n);
        direction(h, p->work.gradient, w1.data(), n);
        p->iter.gconvMeasure = -dot(w1.data(), p->work.gradient, n);
        rc = p->cb.terminationFn(p, 1);
    }
    return rc;
}

}  // namespace velix::test
