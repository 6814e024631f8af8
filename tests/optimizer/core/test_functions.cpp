// The standard unconstrained test functions with their gradients (More,
// Garbow and Hillstrom, ACM TOMS 7, 1981: problems 1, 13, 7 and 14).
#include <cmath>

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

double saddle(const double* x) { return x[0] * x[0] + (x[1] * x[1] - 1) * (x[1] * x[1] - 1); }
void saddle_gradient(const double* x, double* g) {
    g[0] = 2 * x[0];
    g[1] = 4 * x[1] * (x[1] * x[1] - 1);
}

}  // namespace velix::test

