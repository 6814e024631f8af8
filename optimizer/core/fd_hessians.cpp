// Finite-difference Hessians: from function values (three-point diagonal
// with forward cross terms, or five-point diagonal with four-point central
// cross terms) and from gradients (forward or central, symmetrised), and
// the Lagrange-function correction of a given Hessian from differences of
// the constraint Jacobian (Gill, Murray and Wright, Practical Optimization,
// 1981, sec. 8.6; Dennis and Schnabel, 1983, sec. 5.6).
#include <cfloat>
#include <cmath>
#include <cstring>
#include <vector>

#include "host/fields.h"
#include "optimizer/core/fd_frame.h"
#include "optimizer/core/finite_differences.h"
#include "optimizer/core/reduced_space.h"
#include "velix/codes.h"
#include "velix/host.h"

using namespace velix::detail;

using velix::pk;

namespace {

int32_t hessian_storage(const NlpProblem* p) {
    return p->shape.leastSquares && p->hooks != nullptr ? p->hooks->cov.lsqHessStorage : p->opt.hessianStorage;
}

// Objective at x + a e_j + b e_k (both put back).
bool objective_at2(FdRun& run, int32_t j, double a, int32_t k, double b) {
    NlpProblem* p = run.p;
    const double xj = p->param.x[j], xk = p->param.x[k];
    p->param.x[j] = xj + a;
    p->param.x[k] = xk + b;
    const bool ok = run.objective();
    p->param.x[j] = xj;
    p->param.x[k] = xk;
    return ok;
}

// One pass of the Hessian from values with the steps d.  0, or the
// failure code with the parameter whose floor applies in *floorParam.
int32_t values_pass(FdRun& run, bool fivePoint, bool diagonal, const std::vector<double>& d, double f0,
                    int32_t* floorParam) {
    NlpProblem* p = run.p;
    const int32_t n = run.n;
    double* H = p->hess.hessian;
    const size_t len = diagonal ? static_cast<size_t>(n) : static_cast<size_t>(p->shape.packedLen);
    for (size_t i = 0; i < len; ++i) H[i] = 0.0;
    std::vector<double> fPlus(static_cast<size_t>(n));
    for (int32_t j = 0; j < n; ++j) {
        *floorParam = j;
        const double dj = d[j];
        double& hjj = H[diagonal ? static_cast<size_t>(j) : pk(j, j)];
        if (!run.objective_at(j, dj)) return -2;
        const double f1 = fPlus[j] = p->iter.f;
        if (!run.objective_at(j, -dj)) return -3;
        const double f2 = p->iter.f;
        if (!fivePoint) {
            hjj = (f1 - f0 + f2 - f0) / dj / dj;
            for (int32_t k = 0; k < j && !diagonal; ++k) {
                *floorParam = k;
                if (!objective_at2(run, j, dj, k, d[k])) return -4;
                H[pk(j, k)] = (p->iter.f - f1 - fPlus[k] + f0) / (dj * d[k]);
            }
            continue;
        }
        if (!run.objective_at(j, 2.0 * dj)) return -2;
        const double f3 = p->iter.f;
        if (!run.objective_at(j, -2.0 * dj)) return -3;
        const double f4 = p->iter.f;
        hjj = (15.0 * ((f1 - f0) + (f2 - f0)) + (f1 - f3) + (f2 - f4)) / (12.0 * dj) / dj;
        for (int32_t k = 0; k < j && !diagonal; ++k) {
            *floorParam = k;
            const double dk = d[k];
            if (!objective_at2(run, j, dj, k, dk)) return -4;
            const double g1 = p->iter.f;
            if (!objective_at2(run, j, dj, k, -dk)) return -4;
            const double g2 = p->iter.f;
            if (!objective_at2(run, j, -dj, k, dk)) return -5;
            const double g3 = p->iter.f;
            if (!objective_at2(run, j, -dj, k, -dk)) return -5;
            const double g4 = p->iter.f;
            H[pk(j, k)] = ((g1 - g2) + (g4 - g3)) / (dk * 4.0) / dj;
        }
    }
    return 0;
}

// The Hessian from values: passes with halving steps until one completes,
// then the gradient (forward when the gradient digit is 1, else central).
// A failed pass halves every step, also with per-parameter intervals, so
// that each new pass differs from the last.
int32_t values_member(NlpProblem* p, bool fivePoint) {
    if (p->shape.nParams <= 0) return 0;
    FdRun run(p, kPhaseFdHessianF, &p->run.nHess);
    const int32_t n = p->shape.nParams;
    const double hf = base_interval(p->opt.fDigits);
    const double h = two_thirds(hf);
    const double* iv = intervals_for(p, false, true);
    if (run.move_off_bounds(true, true, iv, h) < 0) return run.restore(-1);
    const double f0 = p->iter.f;
    if (!p->shape.scalarObjective && p->work.funValues != nullptr && p->fd.funWork != nullptr)
        std::memcpy(p->fd.funWork, p->work.funValues, sizeof(double) * static_cast<size_t>(p->shape.nFunctions));
    const bool diagonal = hessian_storage(p) == 2;
    std::vector<double> d(static_cast<size_t>(n));
    for (double scale = 1.0;; scale *= 0.5) {
        for (int32_t j = 0; j < n; ++j) d[j] = run.step(j, (iv != nullptr ? iv[j] : h) * scale);
        int32_t floorParam = 0;
        const int32_t r = values_pass(run, fivePoint, diagonal, d, f0, &floorParam);
        if (r == 0) break;
        if (!run.can_halve(d[floorParam], floorParam)) return run.restore(r);
    }
    const bool forward = p->opt.derivDigits % 10 == 1;
    return run.restore(dograd(run, !forward, intervals_for(p, false, !forward), forward ? hf : h, f0));
}

// Adds column c (the derivatives of the gradient with respect to x_j) to
// the Hessian, symmetrised: the diagonal takes c_j, each off-diagonal pair
// half of c_k.
void add_column(NlpProblem* p, bool diagonal, int32_t j, const std::vector<double>& c) {
    if (diagonal) {
        p->hess.hessian[j] += c[j];
        return;
    }
    for (int32_t k = 0; k < p->shape.nParams; ++k) p->hess.hessian[pk(j, k)] += k == j ? c[k] : 0.5 * c[k];
}

// Objective then gradient at x + d e_j: 0, 1 the objective failed, 2 the
// gradient failed.
int32_t both_at(FdRun& run, int32_t j, double d) {
    NlpProblem* p = run.p;
    const double x = p->param.x[j];
    p->param.x[j] = x + d;
    int32_t r = 0;
    if (!run.objective())
        r = 1;
    else if (!run.gradient())
        r = 2;
    p->param.x[j] = x;
    return r;
}

int32_t gradients_member(NlpProblem* p, bool central) {
    if (p->shape.nParams <= 0) return 0;
    FdRun run(p, kPhaseFdHessianG, &p->run.nHess);
    const int32_t n = p->shape.nParams;
    const double hf = base_interval(p->opt.fDigits);
    const double h = central ? two_thirds(hf) : hf;
    const double* iv = intervals_for(p, false, central);
    const bool diagonal = hessian_storage(p) == 2;
    std::vector<double> saved(p->param.x, p->param.x + n), g0(static_cast<size_t>(n)), gPlus(static_cast<size_t>(n)),
        c(static_cast<size_t>(n));
    run.move_off_bounds(false, central, iv, h);
    const bool moved = run.moved || central;
    run.moved = false;  // x is restored here, with the gradient
    auto finish = [&](int32_t code) {
        if (moved) {
            std::copy(saved.begin(), saved.end(), p->param.x);
            if (!run.objective()) code = code == 0 ? -10 : code;
            else if (!run.gradient()) code = code == 0 ? -11 : code;
        } else {
            std::copy(g0.begin(), g0.end(), p->work.gradient);
        }
        return run.restore(code);
    };
    if (!central) {
        if (!run.objective() || !run.gradient()) return finish(-1);
        std::copy(p->work.gradient, p->work.gradient + n, g0.begin());
    }
    const size_t len = diagonal ? static_cast<size_t>(n) : static_cast<size_t>(p->shape.packedLen);
    for (size_t i = 0; i < len; ++i) p->hess.hessian[i] = 0.0;
    for (int32_t j = 0; j < n; ++j) {
        double d = run.step(j, iv != nullptr ? iv[j] : h);
        for (;;) {
            int32_t r = both_at(run, j, d);
            if (r == 0 && central) {
                std::copy(p->work.gradient, p->work.gradient + n, gPlus.begin());
                r = both_at(run, j, -d);
            }
            if (r == 0) break;
            // A Hessian that stopped at the step floor is a failure.
            if (!run.can_halve(d, j)) return finish(r == 1 ? -3 : -2);
            d *= 0.5;
        }
        for (int32_t k = 0; k < n; ++k)
            c[k] = central ? (gPlus[k] - p->work.gradient[k]) / (2.0 * d) : (p->work.gradient[k] - g0[k]) / d;
        add_column(p, diagonal, j, c);
    }
    return finish(0);
}

}  // namespace

int32_t znlpfih(NlpProblem* p) { return values_member(p, false); }
int32_t znlpfh2(NlpProblem* p) { return values_member(p, true); }
int32_t znlpfh3(NlpProblem* p) { return gradients_member(p, false); }
int32_t znlpfh4(NlpProblem* p) { return gradients_member(p, true); }

int32_t znlphlf(NlpProblem* p, double* h, int64_t) {
    const int32_t n = p->shape.nParams, mc = p->shape.nNlinCon;
    int32_t active = 0;
    for (int32_t k = 0; k < p->active.nActiveLin; ++k)
        if (p->active.activeList[k] >= p->shape.nLinCon) ++active;
    p->active.nActiveNlin = active;
    if (active == 0) return 0;
    FdRun run(p, kPhaseLagrangeHessian, nullptr);
    const double hc = base_interval(p->opt.cDigits);
    const double* iv = intervals_for(p, true, false);
    std::vector<double> saved(p->param.x, p->param.x + n);
    run.move_off_bounds(false, false, iv, hc);
    run.moved = false;
    // The base constraint Jacobian and gradient are kept in memory for the
    // differences and put back at the end.
    std::vector<double> j0, g0;
    int32_t code = 0;
    auto jacobian = [&]() {
        p->run.evalStatus = 0.0;
        return (p->cb.conJacobianFn == nullptr || p->cb.conJacobianFn(p) == 0) && p->run.evalStatus == 0.0;
    };
    if (run.objective() && jacobian()) {
        j0.assign(p->con.conJacobian, p->con.conJacobian + static_cast<size_t>(mc) * n);
        g0.assign(p->work.gradient, p->work.gradient + n);
        for (int32_t j = 0; j < n && code == 0; ++j) {
            double d = run.step(j, iv != nullptr ? iv[j] : hc);
            for (;;) {
                const double x = p->param.x[j];
                p->param.x[j] = x + d;
                const bool ok = run.objective() && jacobian();
                p->param.x[j] = x;
                if (ok) break;
                if (!run.can_halve(d, j)) {
                    code = -2;
                    break;
                }
                d *= 0.5;
            }
            if (code != 0) break;
            for (int32_t q = 0; q < p->active.nActiveLin; ++q) {
                const int32_t i = p->active.activeList[q] - p->shape.nLinCon;
                if (i < 0) continue;
                const double lambda = p->active.multipliers[p->active.nActiveBounds + q];
                if (wzmis(lambda) || lambda == 0.0) continue;
                for (int32_t k = 0; k < n; ++k) {
                    const size_t e = static_cast<size_t>(i) * n + k;
                    const double t = lambda / d * (p->con.conJacobian[e] - j0[e]);
                    h[pk(j, k)] -= k == j ? t : 0.5 * t;
                }
            }
        }
    } else {
        code = -1;
    }
    std::copy(saved.begin(), saved.end(), p->param.x);
    p->run.evalPhase = kPhaseRun;
    run.objective();
    if (!jacobian()) {
        code = -10;
    } else if (!j0.empty()) {
        std::copy(j0.begin(), j0.end(), p->con.conJacobian);
        std::copy(g0.begin(), g0.end(), p->work.gradient);
    }
    return run.restore(code);
}
