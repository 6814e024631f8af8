// The probe behind the check of a convergence claim: how far x is from a
// stationary point, measured without the matrices of the technique that
// claims it.  A quasi-Newton or dogleg matrix built from gradient
// differences, a start matrix of 1e300 or a plateau where every gradient
// element is below ABSGCONV because the parameters are huge all make a
// technique's own measure small far from the minimum.  Here the gradient is
// measured with the owner's information matrix H at x (J'WJ, or the
// Hessian slot's matrix): the Newton decrement g'H^+g over the parameters
// not held at a bound, on the null space of the active linear and
// nonlinear constraints, which estimates 2 (f - f*) near a minimum (Boyd and
// Vandenberghe, Convex Optimization, 2004, sec. 9.5.1).  It is taken where
// H has a unit diagonal, so that the units of the parameters do not decide
// what counts as small.  H may be singular (parameters that are not
// identified, a plateau, the large residuals of a local minimum that J'WJ
// leaves out): the exact Hessian from differences of the gradient then
// decides, and may be indefinite.  Eigenvalues enter by their size, raised
// to a small share of the largest (the regularised Newton step of Nocedal
// and Wright, Numerical Optimization, 2nd ed., sec. 3.4, with |l| as in
// the saddle-free Newton method of Dauphin et al., 2014); a saddle is left
// along its negative curvature.
//
//   H at x over the free parameters, g there, both scaled; on the null
//   space of the active rows whose multipliers hold
//   decrement = sum (u_i'g)^2 / max(|l_i|, floor)
//   H singular: the exact Hessian; negative curvature: not stationary
//   decrement within the bound: stationary
//   else, asked to descend (no active nonlinear row): backtracking along
//       -H^+g (or the negative curvature) within the bounds and the linear
//       rows, for a few steps from each lower point, the exact Hessian
//       leading once J'WJ converges slowly
#include <cfloat>
#include <cmath>
#include <vector>

#include "numerics/eigen.h"
#include "optimizer/core/line_search.h"
#include "optimizer/core/pending.h"
#include "optimizer/optimizer.h"
#include "optimizer/techniques/support.h"
#include "velix/packed_index.h"

using namespace velix::detail;

namespace {

// Eigenvalues below this share of the largest |eigenvalue| are raised to
// it: the directions H does not see (a parameter that is not identified
// has a gradient of rounding size there) count, but cannot dominate.
constexpr double kEigenFloor = 1e-10;
// Where the smallest eigenvalue of the information matrix is below this
// share of the largest, it does not see every direction: the exact Hessian
// decides whether the point is a minimum or a saddle.
constexpr double kSingularShare = 1e-8;
// A curvature below -kNegativeShare times the largest |eigenvalue| is
// negative beyond the rounding of a difference Hessian.
constexpr double kNegativeShare = 1e-6;
// Sufficient decrease along d (Armijo): f drops by this share of the
// decrement times the step factor.
constexpr double kArmijo = 1e-4;
// Backtracking: the step factor is halved four times, then divided by ten,
// for at most this many trials.
constexpr int32_t kTrials = 30;
// Newton steps of the information matrix the probe takes from a refused
// claim at most, each from the last lower point.
constexpr int32_t kPolishSteps = 5;
// A step that keeps more than this share of the decrement is slow.
constexpr double kSlowShare = 0.5;
// At a point where the information matrix is singular, a move of any
// parameter by its own size or its unit changes f at first order by at
// most this share of max(|f|, FSIZE, kUnitFloor).  The claims at a minimum
// of identified and unidentified models stay below 1e-4 of it; the points
// of rest on a plateau or an asymptote start near 0.1.
constexpr double kUnitShare = 1e-2;
// A parameter beyond this many of its units in the data is running away
// (on the asymptotes above a factor variance and its marker's unique
// variance pass 600 and 2e4 units with opposite signs; the variances,
// covariances and standardized loadings of a solution are of the order
// of 1).
constexpr double kFarUnits = 1e2;
// A decrement above this share of max(|f|, FSIZE) promises more than the
// rounding of f can hide: where no lower point is found along a direction
// of negative curvature, the point is no solution.
constexpr double kCannotTell = 1e-6;
// f below this is a fit near 0 (a saturated model), where the gradient is
// of the order of sqrt(f) times the Jacobian and no share of f bounds it.
constexpr double kUnitFloor = 1e-6;
// A nonlinear inequality whose value exceeds its limit by more than this
// (times max(1, |limit|)) is not active at x.
constexpr double kInactiveMargin = 1e-4;

// Backtracking from x0 along dir, where the model promises the decrease
// pred(alpha); true with x, f and the gradient of a point that gains at
// least kArmijo of it and violates the nonlinear constraints no more.
template <class Pred>
bool descend_from(Frame& fr, const double* x0, const double* dir, double f0, double v0, Pred pred) {
    NlpProblem* p = fr.p;
    const int32_t n = fr.n;
    const double size = max_abs(n, dir), room = 1.0 + max_abs(n, x0);
    double alpha = std::fmin(1.0, fr.step_bound(dir));
    for (int32_t t = 0; t < kTrials && alpha * size > 1e-12 * room; ++t) {
        for (int32_t j = 0; j < n; ++j) p->param.x[j] = x0[j] + alpha * dir[j];
        if (fr.objective() && p->iter.f < f0 - kArmijo * pred(alpha) && (!p->shape.hasNlinCon || gtcmx(p) <= v0))
            return fr.gradient();
        alpha *= t < 4 ? 0.5 : 0.1;
    }
    return false;
}

// Parameter j is free at x with the gradient g_j: not at a bound, or at
// one that g_j points away from (f falls into the box).  The technique's
// own choice of the held parameters is not taken: a held bound with a
// multiplier of the wrong sign is no solution.
bool free_at(const NlpProblem* p, int32_t j, double g) {
    if (!p->shape.hasBounds || p->param.lower == nullptr || p->param.upper == nullptr) return true;
    const double lo = p->param.lower[j], up = p->param.upper[j], x = p->param.x[j];
    const double tol = std::fmin(p->opt.feasTol * std::pow(10.0, p->run.feasRound), 1e-3);
    if (lo == up) return false;
    if (lo > -DBL_MAX && x <= lo + tol * (1.0 + std::fabs(lo)) && g >= 0.0) return false;
    return !(up < DBL_MAX && x >= up - tol * (1.0 + std::fabs(up)) && g <= 0.0);
}

// The claim's problem in the coordinates where H has a unit diagonal (its
// units then do not decide which eigenvalues are floored; a parameter
// without curvature, as one whose curvature underflowed beside a huge
// value, is measured in units of its own size): y_j = x_j / s_j over the
// free set, the gradient S g and the dense matrix S H S.
struct Scaled {
    int32_t k = 0;
    std::vector<int32_t> idx;
    std::vector<double> s, g, h;

    double& at(int32_t i, int32_t j) { return h[static_cast<size_t>(i) * k + j]; }

    // From the Hessian slot's array; the scale of `like` when given.
    void build(const NlpProblem* p, const double* g0, int32_t storage, const Scaled* like = nullptr) {
        for (int32_t j = 0; j < p->shape.nParams; ++j)
            if (free_at(p, j, g0[j])) idx.push_back(j);
        k = static_cast<int32_t>(idx.size());
        s.resize(k);
        g.resize(k);
        h.resize(static_cast<size_t>(k) * k);
        auto entry = [&](int32_t a, int32_t b) {
            return storage == 2 ? (a == b ? p->hess.hessian[a] : 0.0) : p->hess.hessian[velix::pk(a, b)];
        };
        for (int32_t i = 0; i < k; ++i) {
            const double d = std::fabs(entry(idx[i], idx[i]));
            s[i] = like != nullptr                                ? like->s[i]
                   : d > 0.0 && std::isfinite(1.0 / std::sqrt(d)) ? 1.0 / std::sqrt(d)
                                                                  : std::fmax(std::fabs(p->param.x[idx[i]]), 1.0);
            g[i] = s[i] * g0[idx[i]];
        }
        for (int32_t i = 0; i < k; ++i)
            for (int32_t j = 0; j < k; ++j) at(i, j) = entry(idx[i], idx[j]) * s[i] * s[j];
    }

    // The rows of the active constraints, scaled (m x k), and for each
    // whether it is an equality and whether it is nonlinear: linear rows
    // a'x >= b within kInactiveMargin (times max(1, |b|)) of their limit,
    // nonlinear ones c(x) >= 0 likewise, and every equality.
    struct Row {
        bool equality, nonlinear;
    };
    std::vector<double> active_rows(NlpProblem* p, std::vector<Row>* rows) const {
        std::vector<double> a, row(static_cast<size_t>(p->shape.nParams));
        for (int32_t r = 0; p->shape.hasLinCon && p->cb.conRowFn != nullptr && r < p->shape.nLinCon; ++r) {
            p->cb.conRowFn(p, r, row.data());
            double v = -p->con.linRhs[r];
            for (int32_t j = 0; j < p->shape.nParams; ++j) v += row[j] * p->param.x[j];
            if (r >= p->shape.nLinEq && v > kInactiveMargin * std::fmax(1.0, std::fabs(p->con.linRhs[r]))) continue;
            rows->push_back({r < p->shape.nLinEq, false});
            for (int32_t j = 0; j < k; ++j) a.push_back(row[idx[j]] * s[j]);
        }
        for (int32_t r = 0; p->shape.hasNlinCon && r < p->shape.nNlinCon; ++r) {
            const double c = p->con.conValues[r], limit = p->con.nlcRhs != nullptr ? std::fabs(p->con.nlcRhs[r]) : 0.0;
            if (r >= p->shape.nNlinEq && c > kInactiveMargin * std::fmax(1.0, limit)) continue;
            rows->push_back({r < p->shape.nNlinEq, true});
            for (int32_t j = 0; j < k; ++j) a.push_back(p->con.conJacobian[static_cast<int64_t>(r) * p->shape.nParams + idx[j]] * s[j]);
        }
        return a;
    }

    // The Gram matrix a a' of the rows a (m x k).
    std::vector<double> gram(const std::vector<double>& a, int32_t m) const {
        std::vector<double> out(static_cast<size_t>(m) * m, 0.0);
        for (int32_t r = 0; r < m; ++r)
            for (int32_t q = 0; q < m; ++q)
                for (int32_t j = 0; j < k; ++j) out[static_cast<size_t>(r) * m + q] += a[static_cast<size_t>(r) * k + j] * a[static_cast<size_t>(q) * k + j];
        return out;
    }

    // Least-squares multipliers of g on the rows a (m x k): (a a')^-1 a g.
    // False when a a' is singular.
    bool multipliers(const std::vector<double>& a, int32_t m, std::vector<double>* lambda) const {
        std::vector<double> aat = gram(a, m);
        lambda->assign(m, 0.0);
        for (int32_t r = 0; r < m; ++r)
            for (int32_t j = 0; j < k; ++j) (*lambda)[r] += a[static_cast<size_t>(r) * k + j] * g[j];
        return lu_solve(m, aat.data(), lambda->data());
    }

    // Restricts the problem to the null space of the rows a (m x k): with
    // P = I - a'(a a')^-1 a, g := P g and h := P h P + c (I - P), c the
    // largest diagonal, so that the rows' directions neither add to the
    // decrement nor lower the floor.  False when a a' is singular.
    bool project(const std::vector<double>& a, int32_t m) {
        const std::vector<double> aat = gram(a, m);
        auto ix = [this](int32_t i, int32_t j) { return static_cast<size_t>(i) * k + j; };
        // P, column by column: e_j - a' (a a')^-1 a_j.
        std::vector<double> pm(static_cast<size_t>(k) * k), hp(pm.size(), 0.0), gp(k, 0.0);
        for (int32_t j = 0; j < k; ++j) {
            std::vector<double> col(m), lu(aat);
            for (int32_t r = 0; r < m; ++r) col[r] = a[ix(r, j)];
            if (!lu_solve(m, lu.data(), col.data())) return false;
            for (int32_t i = 0; i < k; ++i) {
                double v = i == j ? 1.0 : 0.0;
                for (int32_t r = 0; r < m; ++r) v -= a[ix(r, i)] * col[r];
                pm[ix(i, j)] = v;
            }
        }
        double c = 0.0;
        for (int32_t i = 0; i < k; ++i) c = std::fmax(c, std::fabs(at(i, i)));
        for (int32_t i = 0; i < k; ++i)
            for (int32_t l = 0; l < k; ++l) {
                gp[i] += pm[ix(i, l)] * g[l];
                for (int32_t j = 0; j < k; ++j) hp[ix(i, j)] += h[ix(i, l)] * pm[ix(l, j)];
            }
        for (int32_t i = 0; i < k; ++i)
            for (int32_t j = 0; j < k; ++j) {
                double v = c * ((i == j ? 1.0 : 0.0) - pm[ix(i, j)]);
                for (int32_t l = 0; l < k; ++l) v += pm[ix(i, l)] * hp[ix(l, j)];
                at(i, j) = v;
            }
        g = gp;
        return true;
    }

    // The lower triangle of (h + h') / 2, packed: h made exactly symmetric.
    std::vector<double> packed_symmetric() const {
        std::vector<double> packed(static_cast<size_t>(k) * (k + 1) / 2);
        for (int32_t i = 0; i < k; ++i)
            for (int32_t j = 0; j <= i; ++j)
                packed[velix::pk_lower(i, j)] = 0.5 * (h[static_cast<size_t>(i) * k + j] + h[static_cast<size_t>(j) * k + i]);
        return packed;
    }

    // Eigenvalues (descending) and vectors of h, and the largest
    // |eigenvalue|; false when they cannot be had or h is 0 or not finite.
    bool eigen(std::vector<double>* ev, std::vector<double>* z, double* largest) const {
        std::vector<double> packed = packed_symmetric(), work(9 * static_cast<size_t>(k));
        ev->resize(k);
        z->resize(static_cast<size_t>(k) * k);
        if (zeigen2(k, packed.data(), ev->data(), k, z->data(), work.data()) > 0) return false;
        *largest = std::fmax(std::fabs((*ev)[0]), std::fabs((*ev)[k - 1]));
        return *largest > 0.0 && *largest < HUGE_VAL;
    }

    // The decrement g'h^-1 g and the direction -S h^-1 g (dir, n) when h
    // is positive definite by a margin (Cholesky pivots above
    // kSingularShare of the largest diagonal), the common case at a
    // minimum; else -1.
    double cholesky_decrement(int32_t n, double* dir) const {
        std::vector<double> a = packed_symmetric(), l(a.size()), b(g);
        double big = 0.0;
        for (int32_t i = 0; i < k; ++i) big = std::fmax(big, std::fabs(a[velix::pk_lower(i, i)]));
        if (!(big > 0.0 && big < HUGE_VAL) || !cholesky(k, a.data(), 0.0, kSingularShare, l.data())) return -1.0;
        chol_solve(k, l.data(), b.data());
        double m = 0.0;
        for (int32_t j = 0; j < n; ++j) dir[j] = 0.0;
        for (int32_t i = 0; i < k; ++i) {
            m += g[i] * b[i];
            dir[idx[i]] = -s[i] * b[i];
        }
        return std::isfinite(m) && m >= 0.0 ? m : -1.0;
    }

    // The decrement g'h^+g (eigenvalues by their size, floored) and the
    // direction -S h^+ g scattered into dir (n); *singular tells whether the
    // smallest eigenvalue is negligible.  Negative without a verdict.
    double decrement(int32_t n, double* dir, bool* singular) const {
        if (const double m = cholesky_decrement(n, dir); m >= 0.0) {
            *singular = false;
            return m;
        }
        std::vector<double> ev, z;
        double largest = 0.0;
        if (!eigen(&ev, &z, &largest)) return -1.0;
        *singular = std::fabs(ev[k - 1]) < kSingularShare * largest;
        double m = 0.0;
        for (int32_t j = 0; j < n; ++j) dir[j] = 0.0;
        for (int32_t i = 0; i < k; ++i) {
            const double* u = z.data() + static_cast<size_t>(i) * k;
            double c = 0.0;
            for (int32_t j = 0; j < k; ++j) c += u[j] * g[j];
            const double l = std::fmax(std::fabs(ev[i]), kEigenFloor * largest);
            m += c * c / l;
            for (int32_t j = 0; j < k; ++j) dir[idx[j]] -= s[j] * u[j] * c / l;
        }
        return std::isfinite(m) ? m : -1.0;
    }

    // A direction of negative curvature of h, S u scattered into dir (n)
    // and pointing downhill, and its curvature; 0 when h has none beyond
    // the rounding of a difference Hessian.
    double negative_curvature(int32_t n, double* dir) const {
        std::vector<double> ev, z;
        double largest = 0.0;
        if (!eigen(&ev, &z, &largest)) return 0.0;
        if (!(ev[k - 1] < -kNegativeShare * largest)) return 0.0;
        const double* u = z.data() + static_cast<size_t>(k - 1) * k;
        double slope = 0.0;
        for (int32_t j = 0; j < k; ++j) slope += u[j] * g[j];
        for (int32_t j = 0; j < n; ++j) dir[j] = 0.0;
        for (int32_t j = 0; j < k; ++j) dir[idx[j]] = (slope > 0.0 ? -1.0 : 1.0) * s[j] * u[j];
        return ev[k - 1];
    }
};

// Restricts `sc` to the null space of the active constraints at x, those
// of an inequality whose multiplier points into the feasible set left out
// (f falls along them).  The number of active nonlinear rows (a straight
// step leaves them); -1 when the active rows are dependent.
int32_t restrict_to_active(NlpProblem* p, Scaled* sc) {
    std::vector<Scaled::Row> rows;
    std::vector<double> a = sc->active_rows(p, &rows);
    const int32_t m = static_cast<int32_t>(rows.size());
    if (m == 0) return 0;
    std::vector<double> lambda;
    if (!sc->multipliers(a, m, &lambda)) return -1;
    std::vector<double> kept;
    int32_t mk = 0, curved = 0;
    for (int32_t r = 0; r < m; ++r) {
        if (rows[r].nonlinear) ++curved;
        if (!rows[r].equality && lambda[r] < 0.0) continue;
        kept.insert(kept.end(), a.begin() + static_cast<ptrdiff_t>(r) * sc->k, a.begin() + static_cast<ptrdiff_t>(r + 1) * sc->k);
        ++mk;
    }
    if (mk > 0 && !sc->project(kept, mk)) return -1;
    return curved;
}

// What the measure at x found.  kUnits: the decrement is small, but the
// information matrix is singular and f still changes at first order when
// a parameter moves by its own size or by the size the data give it.
enum class Finding { kNone, kStationary, kOnConstraint, kNewton, kCurvature, kUnits };

// Where the information matrix is singular its curvature gives some
// directions no unit: a factor whose marker is in units of 1e8 of its own
// and whose variance stands at 1 (of the 1e16 it needs) changes f only
// through moments that weigh nothing, and f falls along a curve on which
// every quadratic model sees a point of rest (f0 - c sqrt(t) near t = 0);
// a negative variance that runs away with its unique variance lets f fall
// toward an asymptote ever more slowly.  The decrement is small at both.
// What the curvature cannot tell, the units can: a solution is flat to
// first order when any parameter moves by its own size or by its unit in
// the data (the owner's, 0 unknown).  The projected gradient S^-1 g of sc
// times that size, against kUnitShare of max(|f|, FSIZE, kUnitFloor); and
// no parameter runs beyond kFarUnits of its unit, where a solution that
// exists does not lie (a factor variance of 100 times its marker's).
bool flat_in_data_units(const NlpProblem* p, const Scaled& sc) {
    double change = 0.0;
    for (int32_t i = 0; i < sc.k; ++i) {
        const int32_t j = sc.idx[i];
        const double x = std::fabs(p->param.x[j]), unit = p->param.unit != nullptr ? p->param.unit[j] : 0.0;
        if (unit > 0.0 && x > kFarUnits * unit) return false;
        const double size = std::fmax(x, std::isfinite(unit) ? unit : 0.0);
        change = std::fmax(change, std::fabs(sc.g[i] / sc.s[i]) * size);
    }
    return change <= kUnitShare * std::fmax(std::fmax(std::fabs(p->iter.f), p->opt.fSize), kUnitFloor);
}

struct Measured {
    Finding what = Finding::kNone;
    double decrement = -1.0;
    double curvature = 0.0;  // of kCurvature
    bool small = false;      // the decrement within the bound
    bool unitsFlat = true;   // not refuted by flat_in_data_units (where H is singular)
};

// The matrix of the measure into the Hessian slot's array: the exact
// Hessian (differences of the gradient), or a least-squares owner's
// information matrix J'WJ, else the Hessian slot's matrix (which may turn
// to the exact Hessian itself).  Its storage (0 packed, 2 diagonal), or
// -1 when it cannot be had in a storage the measure reads.
int32_t load_matrix(Frame& fr, const double* g, bool exact) {
    NlpProblem* p = fr.p;
    const NlpCallback information = p->shape.leastSquares && p->hooks != nullptr ? p->hooks->eval.crossProductFn : nullptr;
    const int32_t storage = exact || information != nullptr || !p->shape.leastSquares || p->hooks == nullptr
                                ? p->opt.hessianStorage
                                : p->hooks->cov.lsqHessStorage;
    if ((exact && storage != 0) || storage == 1) return -1;
    bool ok;
    if (exact) {
        ok = znlpfh3(p) == 0;
    } else if (information != nullptr) {
        p->run.lastEval = kLastHessian;
        p->run.evalStatus = 0.0;
        ok = information(p) == 0 && p->run.evalStatus == 0.0;
    } else {
        ok = fr.hessian();
    }
    // The slot may leave its own gradient: the claim is about g.
    copy(fr.n, g, p->work.gradient);
    return ok ? storage : -1;
}

// The measure at x with the gradient g (left in place) and the downhill
// direction in dir, from the exact Hessian when `exact` is set.  Where the
// information matrix is singular (parameters it cannot tell apart, or the
// large residuals of a local minimum that J'WJ leaves out), the exact
// Hessian in the same scale decides: a saddle of f shows only there.
Measured measure(Frame& fr, const double* g, const double* tolerance, double* dir, bool exact = false) {
    NlpProblem* p = fr.p;
    const int32_t n = fr.n;
    const double bound = std::fmax(tolerance[0] * std::fmax(std::fabs(p->iter.f), p->opt.fSize), tolerance[1]);
    Measured out;
    const int32_t storage = load_matrix(fr, g, exact);
    if (storage < 0) return out;
    Scaled sc;
    sc.build(p, g, storage);
    const int32_t rows = sc.k < 1 ? -1 : restrict_to_active(p, &sc);
    if (rows < 0) return out;
    bool singular = false;
    out.decrement = sc.decrement(n, dir, &singular);
    if (out.decrement < 0.0) return out;
    out.unitsFlat = !singular || flat_in_data_units(p, sc);
    if (singular && !exact && load_matrix(fr, g, true) == 0) {
        Scaled ex;
        ex.build(p, g, 0, &sc);
        bool ignored = false;
        if (restrict_to_active(p, &ex) >= 0) out.curvature = ex.negative_curvature(n, dir);
        if (out.curvature < 0.0) {
            out.small = out.decrement <= bound;
            out.what = rows > 0 ? Finding::kOnConstraint : Finding::kCurvature;
            return out;
        }
        if (const double m = ex.decrement(n, dir, &ignored); m >= 0.0) out.decrement = m;
        else sc.decrement(n, dir, &ignored);
    }
    out.small = out.decrement <= bound;
    out.what = out.small ? Finding::kStationary : rows > 0 ? Finding::kOnConstraint : Finding::kNewton;
    if (out.what == Finding::kStationary && !out.unitsFlat) out.what = Finding::kUnits;
    return out;
}

}  // namespace

int32_t znlpstn(NlpProblem* p, double relative, double floor, int32_t descend, double* decrement) {
    const double tolerance[] = {relative, floor};
    *decrement = -1.0;
    const int32_t n = p->shape.nParams;
    if (n < 1 || p->hess.hessian == nullptr) return -1;
    if (p->shape.hasNlinCon && (p->con.conValues == nullptr || p->con.conJacobian == nullptr)) return -1;
    Frame fr(p);
    if (!fr.reserve(6 * static_cast<int64_t>(n))) return -1;
    fr.phase = p->run.evalPhase;
    double* x0 = fr.take(n);
    double* g0 = fr.take(n);
    double* xb = fr.take(n);
    double* gb = fr.take(n);
    double* dir = fr.take(n);
    double* exactDir = fr.take(n);
    copy(n, p->param.x, x0);
    copy(n, p->work.gradient, g0);
    const double f0 = p->iter.f;
    const double v0 = p->shape.hasNlinCon ? p->iter.maxConViolation : 0.0;
    auto back = [&](int32_t r) {
        copy(n, x0, p->param.x);
        copy(n, g0, p->work.gradient);
        p->iter.f = f0;
        p->run.evalStatus = 0.0;
        return r;
    };
    Measured at = measure(fr, g0, tolerance, dir);
    *decrement = at.decrement;
    switch (at.what) {
        case Finding::kNone: return back(-1);
        case Finding::kStationary: return back(0);
        case Finding::kOnConstraint: return back(3);
        default: break;
    }
    if (descend == 0) return back(2);
    // Downhill from x, and on from each lower point while its own measure
    // still finds it short of stationary: the technique restarts where the
    // information matrix would have ended.
    copy(n, x0, xb);
    double fb = f0;
    bool moved = false;
    for (int32_t step = 0; step < kPolishSteps; ++step) {
        const double m = at.decrement, c = at.curvature;
        const bool lower = at.what != Finding::kCurvature
                               ? descend_from(fr, xb, dir, fb, v0, [&](double a) { return a * m; })
                               : descend_from(fr, xb, dir, fb, v0, [&](double a) { return -0.5 * a * a * c; });
        if (!lower) break;
        moved = true;
        copy(n, p->param.x, xb);
        copy(n, p->work.gradient, gb);
        fb = p->iter.f;
        // Scoring converges slowly where the model misfits: once a step
        // keeps more than half of the decrement, the exact Hessian leads.
        const bool slow = at.what == Finding::kNewton;
        at = measure(fr, gb, tolerance, dir);
        if (slow && at.what == Finding::kNewton && at.decrement > kSlowShare * m) {
            const Measured ex = measure(fr, gb, tolerance, exactDir, true);
            if (ex.what == Finding::kNewton) {
                at = ex;
                copy(n, exactDir, dir);
            }
        }
        if (at.what != Finding::kNewton && at.what != Finding::kCurvature && at.what != Finding::kUnits) break;
    }
    if (!moved) {
        // Nothing lower along the direction.  Where the decrement promises
        // no more than rounding can hide, f cannot tell: the point stands
        // (a negative curvature then is rounding) unless the units refute
        // it.  Beyond that a Newton direction of the information matrix may
        // be no guide, but a negative curvature of the exact Hessian that f
        // cannot follow is no solution.
        const bool rounding = at.decrement <= kCannotTell * std::fmax(std::fabs(f0), p->opt.fSize);
        if (!rounding && at.what != Finding::kUnits) return back(at.what == Finding::kCurvature ? 5 : 2);
        if (!at.unitsFlat) return back(5);
        return back(at.what == Finding::kCurvature && at.small ? 0 : 2);
    }
    copy(n, xb, p->param.x);
    copy(n, gb, p->work.gradient);
    p->iter.f = fb;
    p->run.evalStatus = 0.0;
    *decrement = at.decrement;
    return at.what == Finding::kStationary ? 1 : 4;
}
