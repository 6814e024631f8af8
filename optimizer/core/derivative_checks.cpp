// Derivative checks: the analytic gradient, least-squares Jacobian and
// constraint Jacobian are compared with a forward difference of values
// along one direction through a test point, and a deeper analysis finds
// gradient elements that are identically zero, tests each element against
// function values and measures the asymmetry of a forward-difference
// Hessian built from gradients (a symmetric Hessian is what a correct
// gradient gives; Dennis and Schnabel, 1983, sec. 4.4 and app. A).
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <vector>

#include "host/fields.h"
#include "numerics/uniform_random.h"
#include "optimizer/core/fd_frame.h"
#include "optimizer/core/finite_differences.h"
#include "optimizer/core/pending.h"
#include "optimizer/core/tables.h"
#include "velix/codes.h"
#include "velix/host.h"

using namespace velix::detail;

namespace {

constexpr int32_t kMsgDisagrees = 47;        // a function's derivative disagrees
constexpr int32_t kMsgConDisagrees = 48;     // a constraint's derivative disagrees
constexpr int32_t kMsgNotReproduced = 49;    // the objective changed at the restored point
constexpr int32_t kMsgAnalysisFailed = 261;  // the gradient analysis could not evaluate
constexpr int32_t kMsgZeroGradient = 262;    // a gradient element is zero at every test point

// Step 1: the test point (x moved off zero and inside the bounds).  0, or
// the result 1 or 2 that stops the check.
int32_t test_point(NlpProblem* p, double h) {
    const int32_t n = p->shape.nParams;
    for (int32_t j = 0; j < n; ++j) {
        double& x = p->param.x[j];
        if (std::fabs(x) > 0.001) continue;
        if (p->shape.hasLinCon) return 1;
        if (p->shape.hasBounds) {
            if (p->active.boundState != nullptr && p->active.boundState[j] == 2) return 1;
            if (x + 0.8 <= p->param.upper[j])
                x += 0.5;
            else if (x - 0.8 >= p->param.lower[j])
                x -= 0.5;
            else
                return 1;
        } else {
            x += 1.0;
        }
    }
    for (int32_t j = 0; p->shape.hasBounds && j < n; ++j) {
        if (p->active.boundState != nullptr && p->active.boundState[j] == 2) continue;
        const double d = std::fmax(h, h * std::fabs(p->param.x[j]));
        if (p->param.x[j] + d > p->param.upper[j]) {
            if (p->param.upper[j] - 10.0 * d <= p->param.lower[j]) return 2;
            p->param.x[j] = p->param.upper[j] - 10.0 * d;
        }
    }
    std::memcpy(p->work.workN, p->param.x, sizeof(double) * static_cast<size_t>(n));
    return 0;
}

// Agreement of one function: 0 agree to rounding, 1 disagree at the size
// of the interval.  For a correct derivative q is of the order h^2, so r
// stays near 0.
double agreement(double a, double b, double h, double slope) {
    if (!(std::fabs(a) > kMinNormal && std::fabs(b) > kMinNormal)) return 0.0;
    const double q = std::fabs(a - b) < 100.0 * kEta * std::fabs(b) ? 0.0
                                                                     : h * std::fabs((a - b) / h - slope) / (std::fabs(b) + std::fabs(a));
    if (q <= kEta) return 0.0;
    if (q >= h) return 1.0;
    return 1.0 - (std::log10(q) - std::log10(h)) / std::log10(h);
}

// The kind of a directional check.
enum class Check { Gradient, Jacobian, Constraints };

// Values of the checked functions at x into v (the objective, the m
// functions, or the constraints).
bool check_values(FdRun& run, Check kind, double* v) {
    NlpProblem* p = run.p;
    if (kind == Check::Constraints) {
        if (!run.constraints() || p->run.evalStatus != 0.0) return false;
        std::memcpy(v, p->con.conValues, sizeof(double) * static_cast<size_t>(p->shape.nNlinCon));
        return true;
    }
    if (!run.objective()) return false;
    if (kind == Check::Jacobian)
        std::memcpy(v, p->work.funValues, sizeof(double) * static_cast<size_t>(p->shape.nFunctions));
    else
        v[0] = p->iter.f;
    return true;
}

// Analytic directional derivatives along u into slopes.
bool analytic_slopes(NlpProblem* p, Check kind, const std::vector<double>& u, double* slopes) {
    const int32_t n = p->shape.nParams;
    p->run.lastEval = kLastGradient;
    p->run.evalStatus = 0.0;
    if (kind == Check::Gradient) {
        if ((p->cb.gradientFn != nullptr && p->cb.gradientFn(p) != 0) || p->run.evalStatus != 0.0) return false;
        slopes[0] = 0.0;
        for (int32_t j = 0; j < n; ++j) slopes[0] += p->work.gradient[j] * u[j];
        return true;
    }
    if (kind == Check::Jacobian) {
        if (p->cb.residualJacobianFn(p) != 0 || p->run.evalStatus != 0.0) return false;
        // J u from the store, with the parameter vector holding u meanwhile.
        std::vector<double> x(p->param.x, p->param.x + n);
        std::copy(u.begin(), u.end(), p->param.x);
        const int32_t r = znlpjve(p, u.data(), slopes);
        std::copy(x.begin(), x.end(), p->param.x);
        return r == 0;
    }
    if ((p->cb.conJacobianFn != nullptr && p->cb.conJacobianFn(p) != 0) || p->run.evalStatus != 0.0) return false;
    for (int32_t i = 0; i < p->shape.nNlinCon; ++i) {
        slopes[i] = 0.0;
        for (int32_t j = 0; j < n; ++j) slopes[i] += p->con.conJacobian[static_cast<size_t>(i) * n + j] * u[j];
    }
    return true;
}

int32_t directional_check(NlpProblem* p, Check kind, double* agree, double* work) {
    const int32_t n = p->shape.nParams;
    const int32_t m = kind == Check::Gradient ? 1 : kind == Check::Jacobian ? p->shape.nFunctions : p->shape.nNlinCon;
    const double h = kind == Check::Constraints ? kSqrtEta : base_interval(p->opt.fDigits);
    FdRun run(p, kPhaseStart, nullptr);
    std::memcpy(p->work.xBase, p->param.x, sizeof(double) * static_cast<size_t>(n));
    int32_t result = test_point(p, h);
    std::vector<double> a(static_cast<size_t>(m)), b(static_cast<size_t>(m)), slopes(static_cast<size_t>(m)),
        r(static_cast<size_t>(m)), u(static_cast<size_t>(n));
    if (result == 0) {
        for (int32_t j = 0; j < n; ++j) u[j] = p->param.x[j] == 0.0 ? 1.0 : std::fabs(p->param.x[j]);
        for (int32_t j = 0; j < n; ++j) p->param.x[j] = p->work.workN[j] + h * u[j];
        if (!check_values(run, kind, a.data())) {
            result = -1;
        } else {
            if (work != nullptr) std::copy(a.begin(), a.end(), work);
            std::memcpy(p->param.x, p->work.workN, sizeof(double) * static_cast<size_t>(n));
            if (!check_values(run, kind, b.data()))
                result = -2;
            else if (!analytic_slopes(p, kind, u, slopes.data()))
                result = -3;
        }
    }
    bool noted = false;
    for (int32_t i = 0; result == 0 && i < m; ++i) {
        r[i] = agreement(a[i], b[i], h, slopes[i]);
        if (kind == Check::Jacobian && p->work.residualVector != nullptr) p->work.residualVector[i] = r[i];
        if (agree != nullptr) agree[i] = r[i];
        const double limit = kind == Check::Constraints ? 0.8 : 0.75;
        if (!noted && r[i] >= limit) {
            noted = true;
            const int32_t number = kind == Check::Constraints ? kMsgConDisagrees : kMsgDisagrees;
            xpmlog(kMsgNlp, number);
            if (p->opt.printLevel != 0.0) nlp_note(p, kyrmsg(kMsgNlp, number), 'l');
        }
    }
    // Back at the entry point; the objective must reproduce its value.
    std::memcpy(p->param.x, p->work.xBase, sizeof(double) * static_cast<size_t>(n));
    p->run.lastEval = kLastObjective;
    if (result == -1 || result == -2) return run.restore(result);
    if (!run.objective()) return run.restore(-4);
    const double f = p->iter.f, f0 = run.f0;
    if (std::fabs(f - f0) / ((std::fabs(f) + std::fabs(f0)) * 0.5 + 1.0) > 10000.0 * kEta)
        xpmlog(kMsgNlp, kMsgNotReproduced);
    return run.restore(result);
}

// The gradient analysis: counters of nonzero gradient elements, the test
// value of each parameter and (asym) the asymmetry matrix.  -1 on a failed
// evaluation, else the number of parameters whose gradient stayed zero.
int32_t grdchk(NlpProblem* p, int32_t mode, int32_t* counters, double* asym, double* saved) {
    const int32_t n = p->shape.nParams;
    double e = 1.0;
    while (1.0 + e != 1.0) e *= 0.5;
    const double h = std::cbrt(3.0 * 2.0 * e);
    auto evaluate = [p]() {
        p->run.lastEval = kLastObjective;
        p->run.evalStatus = 0.0;
        if (p->cb.objectiveFn(p) != 0 || p->run.evalStatus != 0.0) return false;
        p->run.lastEval = kLastGradient;
        return (p->cb.gradientFn == nullptr || p->cb.gradientFn(p) == 0) && p->run.evalStatus == 0.0;
    };
    auto count_nonzero = [&](bool withChange) {
        double gmax = 0.0;
        for (int32_t j = 0; j < n; ++j) gmax = std::fmax(gmax, std::fabs(p->work.gradient[j]));
        for (int32_t j = 0; j < n; ++j) {
            const double g = std::fabs(p->work.gradient[j]), s = std::fabs(saved[j]);
            const bool changed = withChange && g + s > kMinNormal && std::fabs(g - s) > kEta * (g + s);
            if (g > kEta * gmax || changed) counters[j] += 1;
        }
    };
    if (!evaluate()) return -1;
    const double f = p->iter.f;
    for (int32_t j = 0; j < n; ++j) counters[j] = 0;
    count_nonzero(false);
    int32_t zeros = 0;
    for (int32_t j = 0; j < n; ++j) zeros += counters[j] == 0;
    if (mode == 0 && zeros > 0) {
        // A random point, kept inside the bounds.
        int32_t seed = 1;
        for (int32_t j = 0; j < n; ++j) {
            double v = zranuni(&seed) - 0.5;
            if (p->shape.hasBounds) v = std::fmin(std::fmax(v, p->param.lower[j]), p->param.upper[j]);
            p->param.x[j] = v;
        }
        if (!evaluate()) return -1;
        count_nonzero(false);
        std::memcpy(saved, p->work.gradient, sizeof(double) * static_cast<size_t>(n));
        for (int32_t j = 0; j < n; ++j)
            if (counters[j] == 0) {
                double v = (p->param.x[j] + 0.1) * 1.1;
                if (p->shape.hasBounds) v = std::fmin(std::fmax(v, p->param.lower[j]), p->param.upper[j]);
                p->param.x[j] = v;
            }
        if (!evaluate()) return -1;
        count_nonzero(true);
    } else if (mode != 0) {
        std::memcpy(saved, p->work.gradient, sizeof(double) * static_cast<size_t>(n));
        std::vector<double> g0(saved, saved + n);
        auto at = [&](int32_t i, int32_t j) -> double& {
            return asym[i >= j ? static_cast<size_t>(i) * (i + 1) / 2 + j : static_cast<size_t>(j) * (j + 1) / 2 + i];
        };
        for (int32_t j = 0; j < n; ++j) {
            const double x = p->param.x[j];
            p->param.x[j] = x + h;
            const bool ok = evaluate();
            p->param.x[j] = x;
            if (!ok) return -1;
            count_nonzero(true);
            for (int32_t i = 0; asym != nullptr && i < n; ++i) {
                const double c = (p->work.gradient[i] - g0[i]) / h;
                if (i >= j)
                    at(i, j) = c;
                else
                    at(j, i) -= c;
            }
            if (asym != nullptr) at(j, j) = 0.0;
            p->work.gradBase[j] = (p->work.gradient[j] - g0[j]) / h + 2.0 * (g0[j] - (p->iter.f - f) / h) / h;
        }
        for (size_t i = 0; asym != nullptr && i < static_cast<size_t>(p->shape.packedLen); ++i) asym[i] = std::fabs(asym[i]);
    }
    zeros = 0;
    for (int32_t j = 0; j < n; ++j) zeros += counters[j] == 0;
    return zeros;
}

}  // namespace

int32_t znlpchd(NlpProblem* p, int32_t mode, double* work) {
    // The Jacobian check needs the least-squares Jacobian slot.
    if (mode == 1 && p->cb.residualJacobianFn == nullptr) return 0;
    return directional_check(p, mode == 1 ? Check::Jacobian : Check::Gradient, nullptr, work);
}

int32_t znlpchc(NlpProblem* p, double* agree, double* work) {
    if (!p->shape.hasNlinCon) return 0;
    return directional_check(p, Check::Constraints, agree, work);
}

int32_t znlpchg(NlpProblem* p, int32_t mode, double* h) {
    const int32_t n = p->shape.nParams;
    const double phase = p->run.evalPhase;
    p->run.evalPhase = kPhaseConstraintsOnly;
    std::memcpy(p->work.xBase, p->param.x, sizeof(double) * static_cast<size_t>(n));
    const double f0 = p->iter.f;
    std::vector<double> own;
    double* asym = h;
    if (mode != 0 && asym == nullptr) {
        own.resize(static_cast<size_t>(p->shape.packedLen));
        asym = own.data();
    }
    std::vector<int32_t> counters(static_cast<size_t>(n));
    int32_t* c = p->fd.indexList != nullptr ? p->fd.indexList : counters.data();
    const int32_t r = grdchk(p, mode, c, mode != 0 ? asym : nullptr, p->work.workN);
    if (r < 0 && p->opt.derivCheckMode == 2) xpmlog(kMsgNlp, kMsgAnalysisFailed);
    for (int32_t j = 0; r > 0 && j < n; ++j)
        if (c[j] == 0) xpmlog(kMsgNlp, kMsgZeroGradient, j + 1);
    if (mode != 0 && r >= 0) {
        if (p->hooks == nullptr || p->hooks->print.suppressGradTest == 0) nlp_grad_test_table(p);
        if (p->hooks == nullptr || p->hooks->print.forceResultPrint == 0) nlp_asymmetry_tables(p, asym);
    }
    // Back at the entry point: objective, then gradient.
    std::memcpy(p->param.x, p->work.xBase, sizeof(double) * static_cast<size_t>(n));
    p->run.lastEval = kLastObjective;
    p->run.evalStatus = 0.0;
    int32_t result = p->cb.objectiveFn(p);
    if (result == 0) {
        p->run.lastEval = kLastGradient;
        result = p->cb.gradientFn != nullptr ? p->cb.gradientFn(p) : 0;
        const double f = p->iter.f;
        if (std::fabs(f - f0) / ((std::fabs(f) + std::fabs(f0)) * 0.5 + 1.0) > 10000.0 * kEta)
            xpmlog(kMsgNlp, kMsgNotReproduced);
    }
    p->run.evalPhase = phase;
    return result;
}
