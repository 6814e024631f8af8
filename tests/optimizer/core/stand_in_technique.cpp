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
    const int32_t n = p->nParams;
    const double f0 = p->f, slope = dot(p->gradBase, p->direction, n);
    for (double a = 1.0; a > 1e-20; a *= 0.5) {
        for (int32_t i = 0; i < n; ++i) p->x[i] = p->xBase[i] + a * p->direction[i];
        if (p->objectiveFn(p) == 0 && p->f <= f0 + 1e-4 * a * slope) {
            p->lastStep = a;
            return p->gradientFn(p);
        }
    }
    std::copy(p->xBase, p->xBase + n, p->x);
    p->f = f0;
    return 1;
}

}  // namespace

int32_t stand_in_technique(NlpProblem* p) {
    const int32_t n = p->nParams;
    std::vector<double> h(static_cast<size_t>(n) * (n + 1) / 2), s(n), y(n), w1(n), w2(n),
        w3(static_cast<size_t>(n) * n);
    identity(&h, n);
    p->maxProjGrad = max_abs(p->gradient, n);
    int32_t rc = p->terminationFn(p, 10);
    while (rc == 0 || rc == kNlpRestart) {
        direction(h, p->gradient, p->direction, n);
        if (dot(p->direction, p->gradient, n) >= 0) {
            identity(&h, n);
            direction(h, p->gradient, p->direction, n);
        }
        std::copy(p->x, p->x + n, p->xBase);
        std::copy(p->gradient, p->gradient + n, p->gradBase);
        p->fPrev = p->f;
        p->stepBound = DBL_MAX;
        const int32_t ls = p->lineSearchFn ? p->lineSearchFn(p) : halving(p);
        if (ls != 0) return p->terminationFn(p, kNlpTechniqueStop7);
        p->expectedReduction = p->fPrev - p->f;
        for (int32_t i = 0; i < n; ++i) {
            s[i] = p->x[i] - p->xBase[i];
            y[i] = p->gradient[i] - p->gradBase[i];
        }
        if (p->updateFn) p->updateFn(p, 1, 0, n, s.data(), y.data(), h.data(), w1.data(), w2.data(), w3.data());
        p->iteration += 1;
        p->maxProjGrad = max_abs(p->gradient, n);
        direction(h, p->gradient, w1.data(), n);
        p->gconvMeasure = -dot(w1.data(), p->gradient, n);
        rc = p->terminationFn(p, 1);
    }
    return rc;
}

}  // namespace velix::test
