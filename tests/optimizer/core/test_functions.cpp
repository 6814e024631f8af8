// The standard unconstrained test functions with their gradients (More,
// Garbow and Hillstrom, ACM TOMS 7, 1981: problems 1, 13, 7 and 14).
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <vector>

#include "tests/optimizer/core/nlp_fixture.h"

namespace velix::test {

double rosenbrock(const double* x) {
    const double a = x[1] - x[0] * x[0], b = 1.0 - x[0];
    return 100.0 * a * a + b * b;
}
void rosenbrock_gradient(const double* x, double* g) {
    const double a = x[1] - x[0] * x[0];
    g[0] = -400.0 * a * x[0] - 2.0 * (1.0 - x[0]);
    g[1] = 200.0 * a;
}

double powell_singular(const double* x) {
    const double a = x[0] + 10 * x[1], b = x[2] - x[3], c = x[1] - 2 * x[2], d = x[0] - x[3];
    return a * a + 5 * b * b + c * c * c * c + 10 * d * d * d * d;
}
void powell_singular_gradient(const double* x, double* g) {
    const double a = x[0] + 10 * x[1], b = x[2] - x[3], c = x[1] - 2 * x[2], d = x[0] - x[3];
    g[0] = 2 * a + 40 * d * d * d;
    g[1] = 20 * a + 4 * c * c * c;
    g[2] = 10 * b - 8 * c * c * c;
    g[3] = -10 * b - 40 * d * d * d;
}

namespace {
// theta(x1, x2) of the helical valley, in turns.
double theta(double a, double b) {
    const double t = std::atan(b / a) / (2 * M_PI);
    return a < 0 ? t + 0.5 : t;
}
}  // namespace

double helical_valley(const double* x) {
    const double r = std::sqrt(x[0] * x[0] + x[1] * x[1]);
    const double f1 = 10 * (x[2] - 10 * theta(x[0], x[1])), f2 = 10 * (r - 1), f3 = x[2];
    return f1 * f1 + f2 * f2 + f3 * f3;
}
void helical_valley_gradient(const double* x, double* g) {
    const double r2 = x[0] * x[0] + x[1] * x[1], r = std::sqrt(r2);
    const double f1 = 10 * (x[2] - 10 * theta(x[0], x[1])), f2 = 10 * (r - 1);
    // d theta / dx1 = -x2 / (2 pi r^2), d theta / dx2 = x1 / (2 pi r^2).
    const double dt0 = -x[1] / (2 * M_PI * r2), dt1 = x[0] / (2 * M_PI * r2);
    g[0] = 2 * f1 * (-100 * dt0) + 2 * f2 * 10 * x[0] / r;
    g[1] = 2 * f1 * (-100 * dt1) + 2 * f2 * 10 * x[1] / r;
    g[2] = 2 * f1 * 10 + 2 * x[2];
}

double wood(const double* x) {
    const double a = x[1] - x[0] * x[0], b = 1 - x[0], c = x[3] - x[2] * x[2], d = 1 - x[2];
    const double e = x[1] + x[3] - 2, h = x[1] - x[3];
    return 100 * a * a + b * b + 90 * c * c + d * d + 10 * e * e + 0.1 * h * h;
}
void wood_gradient(const double* x, double* g) {
    const double a = x[1] - x[0] * x[0], c = x[3] - x[2] * x[2];
    const double e = x[1] + x[3] - 2, h = x[1] - x[3];
    g[0] = -400 * a * x[0] - 2 * (1 - x[0]);
    g[1] = 200 * a + 20 * e + 0.2 * h;
    g[2] = -360 * c * x[2] - 2 * (1 - x[2]);
    g[3] = 180 * c + 20 * e - 0.2 * h;
}

}  // namespace velix::test

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
