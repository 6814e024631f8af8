// Finite-difference first derivatives: forward and central differences of
// the objective, of the functions of a composite objective (with the
// cross-product approximation of the Hessian) and of the nonlinear
// constraints, with relative steps h (1 + |x_j|), halving after a failed
// evaluation and parameters moved off their bounds so that the displaced
// points stay feasible (Gill, Murray and Wright, Practical Optimization,
// 1981, sec. 8.6; Dennis and Schnabel, 1983, sec. 5.4).
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <vector>

#include "host/fields.h"
#include "numerics/kernel_support.h"
#include "optimizer/core/fd_frame.h"
#include "optimizer/core/finite_differences.h"
#include "optimizer/core/pending.h"
#include "optimizer/core/reduced_space.h"
#include "velix/host.h"

namespace velix::detail {

double base_interval(double digits) {
    return digits > 0.0 && !wzmis(digits) ? std::exp(0.5 * -kLn10 * digits) : 2.0 * kSqrtEta;
}

double two_thirds(double h) { return std::exp(std::log(h) * 2.0 / 3.0); }

int32_t guarded_add(double* s, double t) {
    constexpr double kBig = 0.01 * DBL_MAX;
    if (t == 0.0) return 0;
    if (t > 0.0 && *s >= 0.0 && (t >= kBig || t >= kBig - *s)) {
        *s = DBL_MAX;
        return 1;
    }
    if (t < 0.0 && *s <= 0.0 && (-t >= kBig || -t >= kBig + *s)) {
        *s = -DBL_MAX;
        return -1;
    }
    *s += t;
    return 0;
}

int32_t guarded_product_add(double* s, double a, double b) {
    constexpr double kBig = 0.01 * DBL_MAX;
    if (std::fabs(a) > 1.0 && std::fabs(b) > 1.0 && std::fabs(a) >= kBig / std::fabs(b)) return 1;
    const int32_t r = guarded_add(s, a * b);
    return r == 1 ? 2 : r;
}

FdRun::FdRun(NlpProblem* problem, double phase, int32_t* counter)
    : p(problem), n(problem->shape.nParams), f0(problem->iter.f), phase0(problem->run.evalPhase) {
    p->run.evalPhase = phase;
    if (counter != nullptr) *counter += 1;
}

double FdRun::step(int32_t j, double hj, bool absolute) const {
    const double x = p->param.x[j];
    const double d = absolute ? hj : hj * (1.0 + std::fabs(x));
    const double taken = (x + d) - x;
    const double floor = 10.0 * kEta * std::fabs(x);
    return std::fabs(taken) < floor ? std::copysign(floor, d) : taken;
}

bool FdRun::can_halve(double d, int32_t j) const {
    return std::fabs(d) > 10.0 * kEta * std::fmax(1.0, std::fabs(p->param.x[j]));
}

bool FdRun::objective() {
    p->run.lastEval = kLastObjective;
    p->run.evalStatus = 0.0;
    return p->cb.objectiveFn(p) == 0 && p->run.evalStatus == 0.0;
}

bool FdRun::gradient() {
    p->run.lastEval = kLastGradient;
    p->run.evalStatus = 0.0;
    return (p->cb.gradientFn == nullptr || p->cb.gradientFn(p) == 0) && p->run.evalStatus == 0.0;
}

bool FdRun::constraints() {
    p->run.evalStatus = 0.0;
    if (p->cb.conValuesFn != nullptr) return p->cb.conValuesFn(p) == 0;
    p->run.lastEval = kLastObjective;
    return p->cb.objectiveFn(p) == 0;
}

bool FdRun::objective_at(int32_t j, double d) {
    const double x = p->param.x[j];
    p->param.x[j] = x + d;
    const bool ok = objective();
    p->param.x[j] = x;
    return ok;
}

int32_t FdRun::move_off_bounds(bool reevaluate, bool central, const double* intervals, double h) {
    if (!p->shape.hasBounds) return 0;
    std::memcpy(p->work.workN, p->param.x, sizeof(double) * static_cast<size_t>(n));
    for (int32_t j = 0; j < n; ++j) {
        if (p->active.boundState != nullptr && p->active.boundState[j] == 2) continue;
        const double hj = intervals != nullptr ? intervals[j] : h;
        const double d = std::fabs(hj * (1.0 + std::fabs(p->param.x[j])));
        const double l = p->param.lower[j], u = p->param.upper[j];
        double& x = p->param.x[j];
        if (x + d > u) {
            x = u - d;
            moved = true;
        } else if (central && x - d < l) {
            x = l + d;
            moved = true;
        }
    }
    if (!moved) return 0;
    if (reevaluate && !objective()) return -1;
    return 1;
}

int32_t FdRun::restore(int32_t code) {
    if (moved) {
        std::memcpy(p->param.x, p->work.workN, sizeof(double) * static_cast<size_t>(n));
        if (!objective() && code == 0) code = -10;
    } else if (!p->shape.scalarObjective && p->work.funValues != nullptr && p->fd.funWork != nullptr) {
        std::memcpy(p->work.funValues, p->fd.funWork, sizeof(double) * static_cast<size_t>(p->shape.nFunctions));
    }
    p->iter.f = f0;
    p->run.evalPhase = phase0;
    return code;
}

const double* intervals_for(const NlpProblem* p, bool constraints, bool central) {
    const int32_t mode = p->opt.fdIntervalMode;
    const bool use = constraints ? (mode == 2 || mode == 3) : (mode == 1 || mode == 3 || p->fd.intervalsRefined != 0);
    if (!use) return nullptr;
    return central ? p->fd.fdCentral : p->fd.fdForward;
}

namespace {

// The composite objective's term of function i for derivative dij.
double composite_term(const NlpProblem* p, double dij, double fi) {
    if (p->shape.leastSquares) return dij * fi;
    if (p->shape.sumAbsolute) return fi > 0.0 ? dij : fi < 0.0 ? -dij : 0.0;
    return dij;
}

}  // namespace

int32_t dograd(FdRun& run, bool central, const double* intervals, double h, double f0) {
    NlpProblem* p = run.p;
    const int32_t n = run.n, m = p->shape.nFunctions;
    const bool vector = !p->shape.scalarObjective && p->work.funValues != nullptr && p->fd.funWork != nullptr;
    for (int32_t j = 0; j < n; ++j) p->work.gradient[j] = 0.0;
    for (int32_t j = 0; j < n; ++j) {
        double d = run.step(j, intervals != nullptr ? intervals[j] : h);
        double fPlus = 0.0, fMinus = 0.0;
        if (!central) {
            if (run.objective_at(j, d)) {
                fPlus = p->iter.f;
            } else if (run.objective_at(j, -d)) {
                d = -d;
                fPlus = p->iter.f;
            } else {
                return -2;
            }
        } else {
            for (;;) {
                const bool plus = run.objective_at(j, d);
                if (plus) {
                    fPlus = p->iter.f;
                    if (vector) std::memcpy(p->fd.funWork + m, p->work.funValues, sizeof(double) * static_cast<size_t>(m));
                }
                if (plus && run.objective_at(j, -d)) {
                    fMinus = p->iter.f;
                    break;
                }
                if (!run.can_halve(d, j)) return -2;
                d *= 0.5;
            }
        }
        double& g = p->work.gradient[j];
        if (!vector) {
            if (guarded_add(&g, central ? (fPlus - fMinus) / (2.0 * d) : (fPlus - f0) / d) != 0) return -3;
            continue;
        }
        for (int32_t i = 0; i < m; ++i) {
            const double fi = p->fd.funWork[i];
            const double dij = central ? (p->fd.funWork[m + i] - p->work.funValues[i]) / (2.0 * d) : (p->work.funValues[i] - fi) / d;
            if (guarded_add(&g, composite_term(p, dij, fi)) != 0) return -3;
        }
    }
    return 0;
}

}  // namespace velix::detail

using namespace velix::detail;

namespace {

int32_t gradient_member(NlpProblem* p, bool central) {
    if (p->shape.nParams <= 0) return 0;
    FdRun run(p, kPhaseFdGradient, &p->run.nGrad);
    const double hf = base_interval(p->opt.fDigits);
    const double h = central ? two_thirds(hf) : hf;
    const double* intervals = intervals_for(p, false, central);
    if (!p->shape.scalarObjective && p->work.funValues != nullptr && p->fd.funWork != nullptr)
        std::memcpy(p->fd.funWork, p->work.funValues, sizeof(double) * static_cast<size_t>(p->shape.nFunctions));
    const int32_t mv = run.move_off_bounds(true, central, intervals, h);
    if (mv < 0) return run.restore(-1);
    if (mv > 0 && !p->shape.scalarObjective && p->work.funValues != nullptr)
        std::memcpy(p->fd.funWork, p->work.funValues, sizeof(double) * static_cast<size_t>(p->shape.nFunctions));
    return run.restore(dograd(run, central, intervals, h, p->iter.f));
}

// Adds the diagonal cross-product term of function i (derivative dij,
// value fi) in the form crossProductForm asks for.  Nonzero on overflow.
int32_t cross_product_term(const NlpProblem* p, double* h, double dij, double fi) {
    constexpr double kBig = 0.01 * DBL_MAX;
    if (p->opt.crossProductForm == 0) return guarded_product_add(h, dij, dij);
    if (p->shape.leastSquares) {
        const double t = dij * fi;
        return guarded_product_add(h, t, t);
    }
    // A value too small against f, or a term that would overflow, adds nothing.
    const double v = p->shape.maximize ? -fi : fi;
    if (std::fabs(v) < 1.0 && std::fabs(v) <= std::fmax(100.0 * kEta * std::fabs(p->iter.f), 10000.0 * DBL_MIN)) return 0;
    if (std::fabs(v) < 1.0 && dij * dij >= std::fabs(v) * kBig) return 0;
    return guarded_add(h, dij * dij / v);
}

// The Jacobian of the function vector, column by column to the store, with
// the gradient and (crossProduct) the cross-product Hessian.
int32_t jacobian_member(NlpProblem* p, bool central, bool absolute, bool crossProduct) {
    if (p->shape.scalarObjective) nlp_internal_error("finite-difference Jacobian of an objective without functions");
    if (p->shape.nParams <= 0) return 0;
    FdRun run(p, kPhaseFdGradient, &p->run.nHess);
    const int32_t n = p->shape.nParams, m = p->shape.nFunctions;
    const double hf = base_interval(p->opt.fDigits);
    const double h = central ? two_thirds(hf) : hf;
    const double* intervals = intervals_for(p, false, central);
    const int32_t mv = run.move_off_bounds(true, central, intervals, h);
    if (mv < 0) return run.restore(-1);
    std::memcpy(p->fd.funWork, p->work.funValues, sizeof(double) * static_cast<size_t>(m));
    const int32_t storage = p->shape.leastSquares || p->hooks == nullptr ? p->opt.hessianStorage : p->hooks->cov.crossProductStorage;
    if (crossProduct) {
        const int32_t len = storage == 2 ? n : p->shape.packedLen;
        for (int32_t i = 0; i < len; ++i) p->hess.hessian[i] = 0.0;
    }
    std::vector<double> column(static_cast<size_t>(m));
    for (int32_t j = 0; j < n; ++j) p->work.gradient[j] = 0.0;
    for (int32_t j = 0; j < n; ++j) {
        double d = run.step(j, intervals != nullptr ? intervals[j] : h, absolute);
        for (;;) {
            const bool plus = run.objective_at(j, d);
            if (plus && !central) break;
            if (plus) {
                std::memcpy(p->fd.funWork + m, p->work.funValues, sizeof(double) * static_cast<size_t>(m));
                if (run.objective_at(j, -d)) break;
            }
            if (!run.can_halve(d, j)) return run.restore(central && !plus ? -3 : -2);
            d *= 0.5;
        }
        for (int32_t i = 0; i < m; ++i) {
            column[i] = central ? (p->fd.funWork[m + i] - p->work.funValues[i]) / (2.0 * d) : (p->work.funValues[i] - p->fd.funWork[i]) / d;
            if (guarded_add(&p->work.gradient[j], composite_term(p, column[i], p->fd.funWork[i])) != 0) return run.restore(-3);
        }
        std::memcpy(p->work.funValues, column.data(), sizeof(double) * static_cast<size_t>(m));
        znlpjwt(p, 0, j, 1, column.data());
        if (!crossProduct) continue;
        if (storage == 2) {
            for (int32_t i = 0; i < m; ++i)
                if (cross_product_term(p, &p->hess.hessian[j], column[i], p->fd.funWork[i]) != 0) return run.restore(-9);
        } else if (znlpjdt(p, j, p->fd.funWork, column.data(), p->hess.hessian + static_cast<size_t>(j) * (j + 1) / 2) != 0) {
            return run.restore(-9);
        }
    }
    return run.restore(0);
}

// The constraint Jacobian, forward or central.
int32_t constraint_member(NlpProblem* p, bool central) {
    if (p->shape.nParams <= 0 || p->shape.nNlinCon <= 0) return 0;
    FdRun run(p, kPhaseFdConJacobian, &p->run.nConJac);
    const int32_t n = p->shape.nParams, mc = p->shape.nNlinCon;
    const double hc = base_interval(p->opt.cDigits);
    const double h = central ? two_thirds(hc) : hc;
    const double* intervals = intervals_for(p, true, central);
    std::vector<double> saved(p->param.x, p->param.x + n);
    run.move_off_bounds(false, central, intervals, h);
    run.moved = false;  // this member restores x itself
    auto finish = [&](int32_t code) {
        std::copy(saved.begin(), saved.end(), p->param.x);
        if (!run.constraints()) code = -10;
        p->iter.f = run.f0;
        p->run.evalPhase = run.phase0;
        return code;
    };
    auto at = [&](int32_t j, double d) {
        const double x = p->param.x[j];
        p->param.x[j] = x + d;
        const bool ok = run.constraints();
        p->param.x[j] = x;
        return ok;
    };
    double* jac = p->con.conJacobian;
    if (!central) {
        if (!run.constraints() || p->run.evalStatus != 0.0) return finish(-1);
        for (int32_t i = 0; i < mc; ++i) vzfdl(p->con.conValues[i], jac + static_cast<size_t>(i) * n, n);
    }
    for (int32_t j = 0; j < n; ++j) {
        double d = run.step(j, intervals != nullptr ? intervals[j] : h);
        for (;;) {
            bool ok = at(j, d);
            if (ok && central) {
                for (int32_t i = 0; i < mc; ++i) jac[static_cast<size_t>(i) * n + j] = p->con.conValues[i];
                ok = at(j, -d);
            }
            if (ok) break;
            // A Jacobian that stopped at the step floor is a failure.
            if (!run.can_halve(d, j)) return finish(-2);
            d *= 0.5;
        }
        for (int32_t i = 0; i < mc; ++i) {
            double& e = jac[static_cast<size_t>(i) * n + j];
            e = central ? (e - p->con.conValues[i]) / (2.0 * d) : (p->con.conValues[i] - e) / d;
        }
    }
    return finish(0);
}

}  // namespace

int32_t znlpfig(NlpProblem* p) { return gradient_member(p, false); }
int32_t znlpfg2(NlpProblem* p) { return gradient_member(p, true); }
int32_t znlpfij(NlpProblem* p) { return jacobian_member(p, false, false, false); }
int32_t znlpfj2(NlpProblem* p) { return jacobian_member(p, true, true, false); }
int32_t znlpfic(NlpProblem* p) { return jacobian_member(p, false, false, true); }
int32_t znlpfc2(NlpProblem* p) { return jacobian_member(p, true, false, true); }
int32_t znlpfcj(NlpProblem* p) { return constraint_member(p, false); }
int32_t znlpfcc(NlpProblem* p) { return constraint_member(p, true); }

namespace {

// The interval of parameter j and whether it is a forward one.  a is the
// absolute error of f, t the typical size of x_j.  The forward interval
// balances truncation (|h| d / 2) against cancellation (2 a / d) with a
// first-order correction; a forward difference is kept while its
// truncation stays below 0.1 % of |g| (|h| d <= 0.002 |g|), else the central
// interval balances (|h| d^2 / 6)-type truncation against cancellation in
// the closed form with the factor 2000 = 2 / 0.001; 50 eta t and 0.02 t
// bound every interval (Gill, Murray, Saunders and Wright, 1983).
double adaptive_interval(double g, double hj, double a, double t, double f0, bool* forward) {
    *forward = true;
    if (hj == 0.0) return t;
    if (g == 0.0 || std::fabs(f0) <= kEta) return kSqrtEta * t;
    const double ah = std::fabs(hj), ag = std::fabs(g);
    double d;
    if (g * g > a * ah) {
        const double d0 = 2.0 * std::sqrt(a / ah);
        d = d0 * (1.0 - ah * d0 / (3.0 * ah * d0 + 4.0 * ag));
    } else {
        const double d0 = 2.0 * std::cbrt(a * ag / (hj * hj));
        d = d0 * (1.0 - 2.0 * ag / (3.0 * ah * d0 + 4.0 * ag));
    }
    d = std::fmax(d, 50.0 * kEta * t);
    if (ah * d <= 0.002 * ag) {
        if (d >= 0.02 * t) d = kSqrtEta * t;
        return hj * g < 0.0 ? -d : d;
    }
    *forward = false;
    d = 2000.0 * a / (ag + std::sqrt(g * g + 2000.0 * a * ah));
    d = std::fmax(d, 50.0 * kEta * t);
    if (d >= 0.02 * t) d = std::pow(kSqrtEta, 2.0 / 3.0) * t;
    return d;
}

}  // namespace

int32_t znlpfg3(NlpProblem* p, double relAcc, const double* h, const double* scale) {
    const int32_t n = p->shape.nParams;
    FdRun run(p, p->run.evalPhase, &p->run.nGrad);
    const double f0 = p->iter.f;
    if (!p->shape.scalarObjective && p->work.funValues != nullptr && p->fd.funWork != nullptr)
        std::memcpy(p->fd.funWork, p->work.funValues, sizeof(double) * static_cast<size_t>(p->shape.nFunctions));
    const double acc = relAcc <= kMinNormal ? 10.0 * kEta : relAcc;
    double mean = 0.0;
    for (int32_t i = 0; i < n; ++i) mean += std::fabs(p->param.x[i]) / n;
    if (mean <= velix::kSqrtDblMinWritten) mean = 1.0;
    int32_t code = 0;
    for (int32_t j = 0; j < n && code == 0; ++j) {
        double& g = p->work.gradient[j];
        if (wzmis(g)) g = 0.0;
        const double x = p->param.x[j];
        const double t = std::fmax(std::fmax(std::fabs(x), scale != nullptr ? 1.0 / scale[j] : std::fabs(x) / mean), 1.0);
        double e = acc;
        if (std::fabs(f0) > kMinNormal) e = std::fmax(e, kEta * std::fabs(g) * std::fabs(x) / std::fabs(f0));
        bool forward = true;
        double d = adaptive_interval(g, h != nullptr ? h[j] : 1.0, std::fabs(f0) * e, t, f0, &forward);
        for (;;) {
            if (!forward) {
                const bool plus = run.objective_at(j, d);
                const double fp = p->iter.f;
                if (plus && run.objective_at(j, -d)) {
                    g = (fp - p->iter.f) / (2.0 * d);
                    break;
                }
                if (d > kEta) {
                    d *= 0.5;
                    continue;
                }
                if (plus) {
                    code = -2;
                    break;
                }
                forward = true;  // the forward rule goes on from x - d
            }
            if (run.objective_at(j, d)) {
                g = (p->iter.f - f0) / d;
                break;
            }
            if (run.objective_at(j, -d)) {
                g = (f0 - p->iter.f) / d;
                break;
            }
            if (!(d > kEta)) {
                code = -1;
                break;
            }
            d *= 0.5;
        }
    }
    return run.restore(code);
}
