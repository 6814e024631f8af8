// Multipliers, the start matrix of the quasi-Newton techniques and the
// first trial step of the line searches.  The first-order multipliers solve
// the active rows' factor for the share of the gradient the active
// constraints carry (Gill, Murray and Wright, Practical Optimization, 1981,
// sec. 5.1.5); the start matrix is a multiple of the identity scaled to the
// gradient (Dennis and Schnabel, 1983, sec. 9.4); the first trial step
// estimates the step that gives the expected reduction along the slope.
#include "optimizer/core/multipliers.h"

#include <cfloat>
#include <cmath>
#include <vector>

#include "host/fields.h"
#include "numerics/kernel_support.h"
#include "numerics/udu.h"
#include "optimizer/core/factor_kinds.h"
#include "optimizer/core/active_set.h"
#include "optimizer/core/pending.h"
#include "optimizer/optimizer.h"
#include "optimizer/core/reduced_space.h"
#include "velix/codes.h"
#include "velix/host.h"

using namespace velix::detail;
using velix::pk;

namespace {

constexpr double kEps = velix::kMachEps; // 2^-53
constexpr double kSqrtEps = velix::kSqrtMachEpsWritten;

}  // namespace

double znlpalf(NlpProblem* p, double gs) {
    double a;
    if (wzmis(p->opt.inStep)) {
        const double d = wzmis(p->iter.expectedReduction) ? 0.0 : std::fabs(p->iter.expectedReduction);
        if (std::fabs(gs) < std::fmax(100.0 * d, 1.0) * kEps)
            a = 1.0;
        else
            a = std::fmax(2.5 * d / std::fabs(gs), 0.1);
        a = std::fmin(a, 10.0);
    } else {
        a = p->run.iterSinceStart == 0 ? 1.0 : std::fmin(p->opt.inStep * p->iter.lastStep, 1.0);
    }
    if (!(p->run.iterSinceStart > 1 && p->run.nLineSearches > 5)) a = std::fmin(a, p->opt.stepCap);
    if (p->run.nLineSearches <= p->opt.earlyStepSearches) a = std::fmin(a, p->opt.earlyStepCap);
    // Raise a step too small to move any component by a relative 1e-8.
    double floor = DBL_MAX;
    bool moves = false;
    for (int32_t i = 0; i < p->shape.nParams && !moves; ++i) {
        const double t = std::fmax(1.0, std::fabs(p->work.xBase[i])), d = std::fabs(p->work.direction[i]);
        if (d <= DBL_MIN * t) continue;
        if (a * d >= 1e-8 * t)
            moves = true;
        else
            floor = std::fmin(floor, 1e-8 * t / d);
    }
    if (!moves) a = std::fmax(a, floor);
    return std::fmin(a, p->iter.stepBound);
}

void znlpglm(NlpProblem* p, int32_t mode, const double* v, double* out) {
    // With bounds alone (no active rows) the bound multipliers are the
    // gradient components: nothing here needs general constraints.
    const int32_t nf = n_free(p), nb = p->active.nActiveBounds, nl = p->active.nActiveLin, n = p->shape.nParams;
    if (nb + nl == 0) return;
    std::vector<double> lambda(static_cast<size_t>(nl));
    if (nl > 0) {
        std::vector<double> r(static_cast<size_t>(nl));
        if (p->opt.conFactorForm != 2) {  // every form but the sparse one is dense
            for (int32_t k = 0; k < nl; ++k) {
                double s = 0.0;
                if (mode == 0)
                    for (int32_t i = 0; i < nf; ++i) s += p->active.nullBasis[i * n + nf - nl + k] * v[p->active.freeList[i]];
                else
                    s = v[nf - nl + k];
                r[k] = s;
            }
            if (znlpqts(2, nl, DBL_MIN, p->active.activeFactor, r.data(), lambda.data()) != 0)
                nlp_internal_error("znlpglm: negligible pivot of the active-row factor");
        } else {
            for (int32_t k = 0; k < nl; ++k) r[k] = p->active.sparseWork[n + k];
            for (int32_t i = nl - 1; i >= 0; --i) {
                const double lii = p->active.activeFactor[pk(i, i)];
                if (std::fabs(lii) <= DBL_MIN) nlp_internal_error("znlpglm: negligible pivot of the active-row factor");
                lambda[i] = r[i] / lii;
                for (int32_t j = 0; j < i; ++j) r[j] -= lambda[i] * p->active.activeFactor[pk(i, j)];
            }
        }
    }
    for (int32_t j = 0; j < nb; ++j) {
        const int32_t q = p->active.freeList[nf + j];
        double w = mode == 0 ? v[q] : v[nf + j];
        for (int32_t k = 0; k < nl; ++k) {
            p->cb.conRowFn(p, p->active.activeList[k], p->active.rowBuffer);
            w -= p->active.rowBuffer[q] * lambda[k];
        }
        out[j] = p->active.boundState[q] < 0 ? -w : w;
    }
    for (int32_t k = 0; k < nl; ++k) out[nb + k] = lambda[k];
}

void znlplfg(NlpProblem* p, int32_t withGradient) {
    if (!p->shape.hasNlinCon) return;
    nlp_lagrange_function(p, withGradient);
}

void nlp_lagrange_function(NlpProblem* p, int32_t withGradient) {
    const int32_t n = p->shape.nParams, nf = n_free(p), nb = p->active.nActiveBounds;
    double* lg = p->work.lagrangeGradient;
    if (withGradient)
        for (int32_t i = 0; i < n; ++i) lg[i] = p->work.gradient[i];
    double l = p->iter.f;
    for (int32_t j = 0; j < nb; ++j) {
        const int32_t q = p->active.freeList[nf + j];
        const int32_t s = p->active.boundState[q];
        const double mu = p->active.multipliers[j];
        const double c = s == 2 || s == 1 ? p->param.x[q] - p->param.lower[q] : s == -1 ? p->param.upper[q] - p->param.x[q] : 0.0;
        l -= mu * c;
        if (withGradient) lg[q] += s == 2 || s == 1 ? -mu : mu;
    }
    for (int32_t k = 0; k < p->active.nActiveLin; ++k) {
        const int32_t q = p->active.activeList[k];
        const double lambda = p->active.multipliers[nb + k];
        double c;
        const double* row;
        if (q >= p->shape.nLinCon) {
            c = p->con.conValues[q - p->shape.nLinCon];
            row = p->con.conJacobian + static_cast<size_t>(q - p->shape.nLinCon) * n;
        } else {
            p->cb.conRowFn(p, q, p->active.rowBuffer);
            row = p->active.rowBuffer;
            c = -p->con.linRhs[q];
            for (int32_t i = 0; i < n; ++i) c += row[i] * p->param.x[i];
        }
        l -= lambda * c;
        if (withGradient)
            for (int32_t i = 0; i < n; ++i) lg[i] -= lambda * row[i];
    }
    p->iter.lagrangeValue = l;
    if (withGradient) {
        double m = 0.0;
        for (int32_t i = 0; i < n; ++i) m = std::fmax(m, std::fabs(lg[i]));
        p->iter.lagrangeGradMax = m;
    }
}

namespace {

// Phase 1: the start matrix over all parameters.
void start_matrix(NlpProblem* p, int32_t full, double* h) {
    const int32_t n = p->shape.nParams;
    if (full == 0) {
        double d;
        if (!wzmis(p->opt.inHessian)) {
            d = p->opt.inHessian;
        } else {
            double m = 0.0;
            for (int32_t i = 0; i < n; ++i) m = std::fmax(m, std::fmax(kSqrtEps, std::fabs(p->work.gradient[i])));
            d = std::fmin(std::fmax(0.2 * m, 0.01), 100.0);
        }
        for (int32_t i = 0; i < p->shape.packedLen; ++i) h[i] = 0.0;
        for (int32_t i = 0; i < n; ++i) h[pk(i, i)] = d + p->iter.ridge;
    } else if (p->iter.ridge > 0.0) {
        for (int32_t i = 0; i < n; ++i) h[pk(i, i)] += p->iter.ridge;
    }
}

}  // namespace

int32_t znlphin(NlpProblem* p, int32_t phase, int32_t full, int32_t scaleFlag, int32_t factorKind,
                double* h) {
    if (factorKind < 0 || factorKind > 2) {
        xpslog(" ***ZNLPHIN: wrong chol parameter%n");
        nlp_internal_error("znlphin: factor kind");
    }
    if (phase == 1) {
        start_matrix(p, full, h);
        return 0;
    }
    const int32_t n = p->shape.nParams, nf = n_free(p), nr = nf - p->active.nActiveLin;
    if (nr <= 0) return 0;
    // The matrix is diagonal only when it was started as a multiple of the
    // identity and no rows mix its coordinates.
    const bool linear = p->shape.hasLinCon != 0;
    const bool diagonal = full == 0 && !linear;
    if (!linear) {
        if (p->shape.hasBounds) znlp_free_list(p);
        if (full != 0 && p->active.nActiveBounds > 0) znlpsym(3, n, 0, p->active.boundState, nullptr, h);
    } else {
        // Z'HZ over the free parameters (the full matrix's off-diagonal
        // entries included).
        std::vector<double> dense(static_cast<size_t>(nf) * nf);
        for (int32_t i = 0; i < nf; ++i)
            for (int32_t j = 0; j < nf; ++j) {
                const int32_t a = p->active.freeList[i], b = p->active.freeList[j];
                dense[static_cast<size_t>(i) * nf + j] =
                    full == 0 && a != b ? 0.0 : h[a >= b ? pk(a, b) : pk(b, a)];
            }
        std::vector<double> hz(static_cast<size_t>(nf) * nr, 0.0);
        for (int32_t i = 0; i < nf; ++i)
            for (int32_t k = 0; k < nr; ++k)
                for (int32_t j = 0; j < nf; ++j)
                    hz[static_cast<size_t>(i) * nr + k] += dense[static_cast<size_t>(i) * nf + j] * p->active.nullBasis[j * n + k];
        for (int32_t a = 0; a < nr; ++a)
            for (int32_t b = 0; b <= a; ++b) {
                double s = 0.0;
                for (int32_t i = 0; i < nf; ++i) s += p->active.nullBasis[i * n + a] * hz[static_cast<size_t>(i) * nr + b];
                h[pk(a, b)] = s;
            }
    }
    if (scaleFlag) {
        for (int32_t i = 0; i < nr; ++i) {
            p->param.scale[i] = std::fmax(kSqrtEps, std::sqrt(std::fabs(h[pk(i, i)])));
        }
        for (int32_t i = 0; i < nr; ++i)
            for (int32_t j = 0; j <= i; ++j)
                if (!diagonal || i == j) h[pk(i, j)] /= p->param.scale[i] * p->param.scale[j];
    }
    if (factorKind == 0) {
        if (!diagonal) return znlpcin(p, 2, nr, p->opt.singularTol, h, h);
        for (int32_t i = 0; i < nr; ++i) {
            if (std::fabs(h[pk(i, i)]) <= DBL_MIN) return 1;
            h[pk(i, i)] = 1.0 / h[pk(i, i)];
        }
        return 0;
    }
    if (diagonal) {
        if (factorKind == 2)
            for (int32_t i = 0; i < nr; ++i) h[pk(i, i)] = std::sqrt(h[pk(i, i)]);
        return 0;
    }
    double logdet = 0.0;
    return znlpcde(p, factorKind, nr, p->opt.singularTol, &logdet, h, h) == 0 ? 0 : 1;
}

int32_t znlplm2(NlpProblem* p) {
    const int32_t t = p->opt.technique;
    const bool hessianTechnique = t == kTechTrureg || t == kTechNewrap || t == kTechNrridg || t == kTechLevmar;
    if (p->opt.conFactorForm == 2 || !hessianTechnique) {
        znlpglm(p, 0, p->work.gradient, p->work.workN2);
        return 0;
    }
    const int32_t n = p->shape.nParams, nr = n_free(p) - p->active.nActiveLin;
    std::vector<double> rh(static_cast<size_t>(nr) * (nr + 1) / 2), g(static_cast<size_t>(nr));
    znlphpr(p, 2, 1, p->opt.hessianStorage, nullptr, p->hess.hessian, rh.data());
    znlpgmx(p, 1, g.data());
    double info[5] = {};
    std::vector<int32_t> pivots(static_cast<size_t>(nr));
    if (nr > 0 && zududec(nr, p->opt.singularTol, info, rh.data(), pivots.data()) != 0) {
        vzfdl(host_missing_value(), p->work.workN2, n);
        return 3;
    }
    if (nr > 0) zudusol(nr, 1, 1, rh.data(), g.data(), pivots.data());
    std::vector<double> s(static_cast<size_t>(n), 0.0), hs(static_cast<size_t>(n));
    znlpvex(p, g.data(), s.data());
    znlpmul(p, p->opt.hessianStorage, n, nullptr, p->hess.hessian, s.data(), hs.data());
    for (int32_t i = 0; i < n; ++i) p->work.workN[i] = p->work.gradient[i] - hs[i];
    znlpglm(p, 0, p->work.workN, p->work.workN2);
    return 0;
}

namespace {

// Solves with the factor over the first rank entries (permuted into pivot
// order and back); false when the solve failed.
bool factor_solve(NlpProblem* p, int32_t permuted, int32_t kind, int32_t rank, int32_t nr, double* v,
                  const double* factor) {
    if (kind == 6 || kind == 7) return znlpcso(p, kind, p->shape.nParams, factor, v) == 0;
    if (permuted) znlpprm(0, nr, p->active.pivotOrder, v);
    const bool ok = znlpcso(p, kind, rank, factor, v) == 0;
    for (int32_t i = rank; i < nr; ++i) v[i] = 0.0;
    if (permuted) znlpprm(1, nr, p->active.pivotOrder, v);
    return ok;
}

}  // namespace

int32_t znlpsdi(NlpProblem* p, int32_t useFactor, int32_t permuted, int32_t kind, int32_t rank, double* out,
                const double* rhs, const double* factor) {
    const int32_t nr = n_free(p) - p->active.nActiveLin;
    for (int32_t i = 0; i < nr; ++i) out[i] = rhs[i];
    int32_t r = 0;
    if (useFactor != 0 && rank != 0 && !factor_solve(p, permuted, kind, rank, nr, out, factor)) {
        for (int32_t i = 0; i < nr; ++i) out[i] = rhs[i];
        r = -5;
    }
    znlpscd(p, out);
    znlpvex(p, out, p->work.direction);
    return r;
}

int32_t znlpsd2(NlpProblem* p, int32_t mode, int32_t permuted, int32_t kind, int32_t rank, double* work,
                double* out, const double* matrix) {
    const int32_t n = p->shape.nParams, nf = n_free(p), nr = nf - p->active.nActiveLin;
    const int32_t len = p->shape.hasLinCon ? nr : p->shape.hasBounds ? nf : n;
    for (int32_t i = 0; i < len; ++i)
        work[i] = -(p->shape.hasLinCon ? p->active.reducedGradient[i] : p->shape.hasBounds ? p->work.gradient[p->active.freeList[i]] : p->work.gradient[i]);
    int32_t r = 0;
    if (mode > 0) {
        std::vector<double> rhs(work, work + len);
        if (!factor_solve(p, permuted, kind, rank, len, work, matrix)) {
            std::copy(rhs.begin(), rhs.end(), work);
            r = -5;
        }
    } else if (mode < 0) {
        std::vector<double> v(work, work + len), y(static_cast<size_t>(len), 0.0);
        if (permuted) znlpprm(0, len, p->active.pivotOrder, v.data());
        znlpsmv(rank, nullptr, matrix, v.data(), y.data());
        if (permuted) znlpprm(1, len, p->active.pivotOrder, y.data());
        std::copy(y.begin(), y.end(), work);
    }
    znlpvex(p, work, out);
    return r;
}

int32_t znlppro(NlpProblem* p, int32_t flag, double* gain) {
    p->iter.stepBound = DBL_MAX;
    if (!p->shape.hasBounds && !p->shape.hasLinCon) return 0;
    int32_t blocking = -1;
    if (znlpstl(p, 0, flag, p->work.xBase, p->work.direction, &blocking) < 0 || blocking < 0 || p->shape.hasLinCon || !p->shape.hasBounds)
        return 0;
    const double amax = p->iter.stepBound;
    const double gap = (1.0 - amax) * 0.25;
    if (gap <= 0.001) return 0;
    const int32_t n = p->shape.nParams;
    const double tau = p->opt.feasTol * std::pow(10.0, p->run.feasRound);
    std::vector<double> s(static_cast<size_t>(n));
    for (int32_t k = 4; k >= 1; --k) {
        const double alpha = k == 4 ? 1.0 : amax + k * gap;
        double g = 0.0;
        for (int32_t i = 0; i < n; ++i) {
            s[i] = 0.0;
            if (p->active.boundState != nullptr && p->active.boundState[i] != 0) continue;
            const double x = p->work.xBase[i], l = p->param.lower[i], u = p->param.upper[i];
            s[i] = alpha * p->work.direction[i];
            if (l > -DBL_MAX && x + s[i] - l <= tau * (1.0 + std::fabs(l)))
                s[i] = l - x;
            else if (u < DBL_MAX && u - (x + s[i]) <= tau * (1.0 + std::fabs(u)))
                s[i] = u - x;
            g += p->work.gradient[i] * s[i];
        }
        if (g < 1e-8 * *gain) {
            *gain = g;
            std::copy(s.begin(), s.end(), p->work.direction);
            znlpstl(p, 0, flag, p->work.xBase, p->work.direction, &blocking);
            return 1;
        }
    }
    return 0;
}
