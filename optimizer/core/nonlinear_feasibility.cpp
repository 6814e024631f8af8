// Moving a point towards the region of all constraints (bounds, linear
// rows and nonlinear constraints) when the feasible-start methods cannot:
// the sum of squared violations is minimised by a ridged Gauss-Newton
// iteration with the modified Cholesky factor of Gill and Murray and a
// backtracking (Armijo) step (Gill, Murray and Wright, Practical
// Optimization, 1981, sec. 4.4.2.2; Dennis and Schnabel, Numerical
// Methods for Unconstrained Optimization, 1983, sec. 6.3).  The search
// works in its own space, so that a technique that calls it from the
// termination test keeps its Hessian, factor and gradient.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <vector>

#include "numerics/kernel_support.h"
#include "optimizer/core/active_set.h"
#include "optimizer/core/factor_kinds.h"
#include "optimizer/core/finite_differences.h"
#include "velix/host_vector.h"
#include "velix/packed_index.h"

using velix::pk;

namespace {

constexpr double kSqrtMin = velix::kSqrtDblMinWritten;
constexpr double kRelTol = 100.0 * velix::kMachEpsWritten;

size_t sz(int32_t n) { return static_cast<size_t>(n); }

// The search's own work space.
struct Search {
    NlpProblem* p;
    int32_t n;
    std::vector<double> g, h, w, d, entry, base;
    int32_t evals = 0;
    double v = 0.0, phi = 0.0;
    explicit Search(NlpProblem* problem)
        : p(problem), n(problem->nParams), g(sz(n)), h(sz(problem->packedLen) + 1), w(h), d(sz(n)),
          entry(problem->x, problem->x + problem->nParams), base(entry) {}
    void set_x(const std::vector<double>& x) { std::copy(x.begin(), x.end(), p->x); }
};

void add_violation(Search& s, double r, double v, bool deriv, const double* row) {
    s.phi += v * v;
    s.v = std::fmax(s.v, v);
    if (!deriv) return;
    for (int32_t i = 0; i < s.n; ++i) {
        if (row[i] == 0.0) continue;
        s.g[i] += r * row[i];
        for (int32_t j = 0; j <= i; ++j) s.h[pk(i, j)] += row[i] * row[j];
    }
}

int32_t nonlinear_values(NlpProblem* p) {
    p->evalStatus = 0.0;
    int32_t r;
    if (p->conValuesFn != nullptr) {
        r = p->conValuesFn(p);
    } else {
        p->lastEval = kLastObjective;
        r = p->objectiveFn(p);
    }
    return r != 0 || p->evalStatus != 0.0 ? -1 : 0;
}

int32_t nonlinear_jacobian(NlpProblem* p) {
    NlpCallback fn = p->hooks != nullptr && p->hooks->conJacobianFn != nullptr ? p->hooks->conJacobianFn
                                                                               : p->conJacobianFn;
    return (fn != nullptr ? fn(p) : znlpfcj(p)) != 0 ? -2 : 0;
}

// The violation function at x: 1 something violated, 0 nothing, -1 the
// constraint values, -2 their Jacobian unavailable.
int32_t funhes(Search& s, bool deriv) {
    NlpProblem* p = s.p;
    const int32_t n = s.n;
    const double tol = p->feasTol;
    const double phase = p->evalPhase;
    s.evals += 1;
    s.v = 0.0;
    s.phi = 0.0;
    if (deriv) {
        std::fill(s.g.begin(), s.g.end(), 0.0);
        std::fill(s.h.begin(), s.h.end(), 0.0);
    }
    std::vector<double> unit(sz(n), 0.0);
    for (int32_t i = 0; p->hasBounds && i < n; ++i) {
        const double l = p->lower[i], u = p->upper[i], x = p->x[i];
        unit[i] = 1.0;
        // A fixed parameter is met within (1 + |l|) t, like any bound.
        if (p->boundState[i] == 2) {
            if (std::fabs(x - l) > (1.0 + std::fabs(l)) * tol) add_violation(s, x - l, std::fabs(x - l), deriv, unit.data());
        } else if (l > -DBL_MAX && x - l < -(1.0 + std::fabs(l)) * tol) {
            add_violation(s, x - l, l - x, deriv, unit.data());
        } else if (u < DBL_MAX && u - x < -(1.0 + std::fabs(u)) * tol) {
            add_violation(s, x - u, x - u, deriv, unit.data());
        }
        unit[i] = 0.0;
    }
    for (int32_t k = 0; p->hasLinCon && k < p->nLinCon; ++k) {
        p->conRowFn(p, k, p->rowBuffer);
        double r = -p->linRhs[k];
        for (int32_t i = 0; i < n; ++i) r += p->rowBuffer[i] * p->x[i];
        const double t = std::fmax(tol, tol * (1.0 + std::fabs(p->linRhs[k])));
        const double v = k < p->nLinEq ? std::fabs(r) : std::fmax(0.0, -r);
        if (v > t) add_violation(s, r, v, deriv, p->rowBuffer);
    }
    if (p->hasNlinCon) {
        p->evalPhase = deriv ? kPhaseLagrangeHessian : kPhaseFdConJacobian;
        int32_t r = nonlinear_values(p);
        if (r == 0 && deriv) r = nonlinear_jacobian(p);
        p->evalPhase = phase;
        if (r != 0) return r;
        for (int32_t j = 0; j < p->nNlinCon; ++j) {
            const double c = p->conValues[j];
            const double v = j < p->nNlinEq ? std::fabs(c) : std::fmax(0.0, -c);
            if (v > tol) add_violation(s, c, v, deriv, p->conJacobian + sz(j) * n);
        }
    }
    return s.phi > 0.0 ? 1 : 0;
}

// The step search from base along d: 0 feasible, 1 a decrease taken, -1
// no usable component, -2 no decrease down to the smallest step.
int32_t armijo(Search& s, double alpha, double pref) {
    const int32_t n = s.n;
    double alphaMin = DBL_MAX;
    for (int32_t i = 0; i < n; ++i)
        if (std::fabs(s.d[i]) > std::fmax(kSqrtMin, kRelTol * std::fabs(s.base[i]) * kSqrtMin))
            alphaMin = std::fmin(alphaMin, kRelTol * std::fabs(s.base[i]) / std::fabs(s.d[i]));
    if (alphaMin == DBL_MAX) return -1;
    auto at = [&](double a) {
        for (int32_t i = 0; i < n; ++i) s.p->x[i] = s.base[i] + a * s.d[i];
        return funhes(s, false);
    };
    double best = -1.0, bestPhi = 0.0, ref = pref;
    for (double a = alpha;; a *= 2.0) {
        const int32_t r = at(a);
        if (r == 0) return 0;
        if (r < 0 || !(s.phi < ref * (1.0 - kRelTol))) break;
        best = a;
        bestPhi = s.phi;
        ref = s.phi;
    }
    if (best > 0.0) {
        at(best);
        s.phi = bestPhi;
        return 1;
    }
    for (double a = 0.5 * alpha;; a *= 0.1) {
        const int32_t r = at(a);
        if (r == 0) return 0;
        if (r >= 0 && s.phi < pref * (1.0 - kRelTol)) return 1;
        if (a <= alphaMin) return -2;
    }
}

// Factors the PackedSym a in place by the modified Cholesky method (the
// factor in the layout of the LL' kind) and returns the largest diagonal
// increment it needed.
double chmod(int32_t n, double delta, double* a) {
    double gamma = 0.0, xi = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        gamma = std::fmax(gamma, std::fabs(a[pk(i, i)]));
        for (int32_t j = 0; j < i; ++j) xi = std::fmax(xi, std::fabs(a[pk(i, j)]));
    }
    double beta2 = std::fmax(gamma, velix::kMachEpsWritten);
    if (n > 1) beta2 = std::fmax(beta2, xi / std::sqrt(static_cast<double>(n) * n - 1.0));
    // LDL' with the column elements c_ij = l_ij d_j kept below the
    // diagonal until d_j is known.
    std::vector<double> dd(sz(n));
    double largest = 0.0;
    for (int32_t j = 0; j < n; ++j) {
        double cjj = a[pk(j, j)];
        for (int32_t k = 0; k < j; ++k) cjj -= dd[k] * a[pk(j, k)] * a[pk(j, k)];
        double theta = 0.0;
        for (int32_t i = j + 1; i < n; ++i) {
            double c = a[pk(i, j)];
            for (int32_t k = 0; k < j; ++k) c -= dd[k] * a[pk(j, k)] * a[pk(i, k)];
            a[pk(i, j)] = c;
            theta = std::fmax(theta, std::fabs(c));
        }
        dd[j] = std::fmax(std::fmax(std::fabs(cjj), theta * theta / beta2), delta);
        largest = std::fmax(largest, dd[j] - cjj);
        for (int32_t i = j + 1; i < n; ++i) a[pk(i, j)] /= dd[j];
    }
    // L D^1/2 in the layout of the LL' factor kind.
    for (int32_t j = 0; j < n; ++j) {
        const double r = std::sqrt(dd[j]);
        a[pk(j, j)] = r;
        for (int32_t i = j + 1; i < n; ++i) a[pk(i, j)] *= r;
    }
    return largest;
}

}  // namespace

int32_t znlpfnc(NlpProblem* p, int32_t mode) {
    if (!p->hasBounds && !p->hasLinCon && !p->hasNlinCon) return 0;
    Search s(p);
    const int32_t n = s.n;
    const int32_t maxEvals = mode != 0 ? 200 : 20, maxIter = mode != 0 ? 20 : 10;
    auto restored = [&](int32_t result) {
        s.set_x(s.entry);
        return result;
    };
    int32_t r = funhes(s, true);
    if (r < 0) return restored(-1);
    if (r == 0) return 0;
    const double v0 = s.v;
    double vBase = v0;
    // The search ends at the last accepted point when that reduced V.
    auto ending = [&](int32_t failure) {
        if (!(vBase < v0)) return restored(failure);
        s.set_x(s.base);
        return 3;
    };
    for (int32_t iter = 0;;) {
        std::copy(p->x, p->x + n, s.base.begin());
        vBase = s.v;
        double ridge = 0.0;
        bool newton = true;
        const double phiBase = s.phi;
        for (;;) {
            std::copy(s.h.begin(), s.h.end(), s.w.begin());
            if (ridge > 0.0)
                for (int32_t i = 0; i < n; ++i) s.w[pk(i, i)] += ridge;
            ridge = std::fmax(ridge, chmod(n, p->singularTol, s.w.data()));
            for (int32_t i = 0; i < n; ++i) s.d[i] = -s.g[i];
            if (newton && znlpcso(p, 2, n, s.w.data(), s.d.data()) != 0) {
                newton = false;
                for (int32_t i = 0; i < n; ++i) s.d[i] = -s.g[i];
            }
            double slope = 0.0;
            for (int32_t i = 0; i < n; ++i) {
                const double m = std::fmax(std::fabs(s.d[i]), std::fabs(s.g[i]));
                if (m < 10.0 * kSqrtMin) continue;
                if (m <= 1.0 && std::fabs(s.d[i] / (10.0 * kSqrtMin) * s.g[i]) < 10.0 * kSqrtMin) continue;
                slope += s.g[i] * s.d[i];
            }
            const double norm = zvenorm(n, 1, s.d.data());
            if (norm <= DBL_MIN) return ending(-5);
            auto grow_ridge = [&]() {
                ridge = ridge == 0.0 ? 1e-4 : 4.0 * ridge;
                if (ridge >= DBL_MAX * 1e-10) newton = false;
            };
            if (slope > 0.0) {
                if (!newton) return ending(-5);
                grow_ridge();
                continue;
            }
            double xmax = 1.0;
            for (int32_t i = 0; i < n; ++i) xmax = std::fmax(xmax, std::fabs(p->x[i]));
            if (norm / 10.0 > xmax)
                for (int32_t i = 0; i < n; ++i) s.d[i] *= 10.0 / norm;
            const int32_t a = armijo(s, 1.0, phiBase);
            if (a == 0) return 0;
            if (a > 0) break;
            s.set_x(s.base);
            if (!newton) return ending(-5);
            grow_ridge();
        }
        iter += 1;
        r = funhes(s, true);
        if (r < 0) {
            s.set_x(s.base);
            if (funhes(s, true) < 0) return restored(-3);
            return ending(-3);
        }
        if (r == 0) return 0;
        if (s.evals > maxEvals || iter > maxIter) {
            if (!(s.v < v0)) return restored(-3);
            return 3;
        }
    }
}
