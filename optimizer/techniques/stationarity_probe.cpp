// The probe behind the check of a convergence claim: how far x is from a
// stationary point, measured without the matrices of the technique that
// claims it.  A quasi-Newton or dogleg matrix built from gradient
// differences, a start matrix of 1e300 or a plateau where every gradient
// element is below ABSGCONV because the parameters are huge all make a
// technique's own measure small far from the minimum.  Here the gradient is
// measured with the owner's information matrix H at x (J'WJ, or the
// Hessian slot's matrix): the Newton decrement g'W^+g of the Lagrange
// function on the null space of the active bounds, linear and nonlinear
// constraints, which estimates 2 (f - f*) near a minimum (Boyd and
// Vandenberghe, Convex Optimization, 2004, sec. 9.5.1; Nocedal and
// Wright, Numerical Optimization, 2nd ed., 2006, sec.
// 12.4 and 15.2 for the reduced gradient Z'g and the reduced Hessian
// Z'WZ).  W is H less the multipliers times the curvature of the active
// nonlinear constraints, from differences of their Jacobian; the
// multipliers are the least-squares solution of A'lambda = g.  It is taken
// where H has a unit diagonal, so that the units of the parameters do not
// decide what counts as small.  H may be singular (parameters that are not
// identified, a plateau, the large residuals of a local minimum that J'WJ
// leaves out): the exact Hessian from differences of the gradient then
// decides, and may be indefinite.  Eigenvalues enter by their size, raised
// to a small share of the largest (the regularised Newton step of Nocedal
// and Wright, sec. 3.4, with |l| as in the saddle-free Newton method of
// Dauphin et al., 2014); a saddle is left along its negative curvature.
//
// A point is stationary when the decrement, with the decrease of f that
// the step onto the held rows promises where x is inside of one by more
// than the feasibility tolerance (a simplex that stops within its radius
// of a constraint holds it by its multiplier, yet is not on it), is
// within the bound (relative to max(|f|, FSIZE)), or when the Newton step
// moves no parameter beyond sqrt(machine epsilon) of its size or its unit
// in the data (a fit whose minimum is 0 has no relative measure, and its
// gradient there is the rounding of the residuals; without the owner's
// units, a decrement twelve orders of magnitude below f at the start
// stands for that rounding); and, under nonlinear constraints, when they
// hold within the feasibility tolerance.
//
//   H at x over the parameters not fixed, g there, both scaled; the
//   active bounds and rows whose multipliers, taken together, hold; the
//   held parameters out, the Lagrange function's curvature of the
//   nonlinear rows subtracted from H, g and H projected on their null space
//   decrement = sum (u_i'g)^2 / max(|l_i|, floor)
//   H singular, or its slot failing: the exact Hessian; negative
//       curvature: not stationary; an evaluation failing: not confirmed
//   decrement within the bound (or the step settled), constraints met:
//       stationary; held by a constraint and asked to descend, taken on
//       by Newton-KKT steps to the rounding of x (refine)
//   else, asked to descend: a few steps, each from the last lower point:
//       along the Newton step of the Lagrange function on the null space,
//       with the step onto the linearised constraints (the Newton-KKT
//       step), within the bounds and the linear rows; the nonlinear
//       constraints restored after the step by second-order corrections
//       (the least-norm step onto their linearisation at x); a point kept
//       when f plus the weighted violations falls by a share of the
//       decrease predicted (Nocedal and Wright, sec. 15.4-15.6, 18.3); the
//       exact Hessian leads once J'WJ converges slowly; a negative
//       curvature is followed downhill
//   no lower point: no solution, unless all that refutes the point is a
//       negative curvature at a small decrement (the rounding of the
//       difference Hessian)
//   a lower point stationary and held by a constraint: refine
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <vector>

#include "numerics/eigen.h"
#include "numerics/kernel_support.h"
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
// Sufficient decrease (Armijo): the merit falls by this share of the
// decrease predicted times the step factor.
constexpr double kArmijo = 1e-4;
// Backtracking: the step factor is halved four times, then divided by ten,
// for at most this many trials.
constexpr int32_t kTrials = 30;
// Steps the probe takes from a refused claim at most, each from the last
// lower point.
constexpr int32_t kPolishSteps = 5;
// A step that keeps more than this share of the decrement is slow.
constexpr double kSlowShare = 0.5;
// Past the bound, Newton steps go on while each leaves at most this share
// of the decrement: the error in x shrinks by about three at least.  The
// exact Hessian's steps leave far less (a decrement of 1e-9 goes to about
// 1e-18), J'WJ's about 1e-3 where the model fits; a step whose decrease
// is the rounding of f does not shrink it at all.
constexpr double kRefineShare = 0.1;
// Newton steps past the bound at most, the change of matrix included.
constexpr int32_t kRefineSteps = 8;
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
// f below this is a fit near 0 (a saturated model), where the gradient is
// of the order of sqrt(f) times the Jacobian and no share of f bounds it.
constexpr double kUnitFloor = 1e-6;
// An inequality (a linear row or a nonlinear constraint) whose value
// exceeds its limit by more than this (times max(1, |limit|)) is not
// active at x.
constexpr double kInactiveMargin = 1e-4;
// A row whose part outside the span of the rows kept before it is below
// this share of its norm adds no direction: a constraint written twice, or
// implied at x by others, or one whose gradient vanishes there.
constexpr double kDependentShare = 1e-8;
// A Newton step within this share of each parameter's size (or unit) moves
// nothing that the rounding of the gradient does not: sqrt(machine
// epsilon), the accuracy of x that a minimum defines through f.
constexpr double kSettledShare = velix::kSqrtMachEpsWritten;
// Without the owner's units of the parameters, a decrement below this
// share of |f| where the technique started is the rounding of a fit whose
// minimum is 0 (where no share of f at the point bounds it): twelve orders
// of magnitude below the start.
constexpr double kStartShare = 1e-12;
// A step leaves a linear row when a'd falls below this share of |a| |d|:
// along a row the probe holds a'd is the rounding of the projection.
constexpr double kLeavingShare = 1e-12;
// Second-order corrections after a trial step onto the active nonlinear
// constraints.
constexpr int32_t kCorrections = 2;
// Relative step of the differences of the constraint Jacobian.
constexpr double kCurvatureStep = velix::kSqrtMachEpsWritten;

// The feasibility tolerance of the round, at most 1e-3.
double feasibility(const NlpProblem* p) { return std::fmin(p->opt.feasTol * std::pow(10.0, p->run.feasRound), 1e-3); }

// The parameters the measure moves: all but those fixed by equal bounds.
// A parameter at one of its bounds is measured as free, and the bound
// joins the candidate rows (Scaled::candidates), so that its multiplier is
// taken together with those of the rows: where a row ties the parameter to
// another, the gradient component alone says nothing about the bound (a
// loading under an upper bound tied to a free one holds the point while
// its own gradient points into the box).  The technique's own choice of
// the held bounds is not taken: a held bound with a multiplier of the
// wrong sign is no solution.
bool moves(const NlpProblem* p, int32_t j) {
    return !p->shape.hasBounds || p->param.lower == nullptr || p->param.upper == nullptr ||
           p->param.lower[j] != p->param.upper[j];
}

// The violation of nonlinear constraint j at x (its value when it is an
// equality, the shortfall below 0 of an inequality).
double violation_of(const NlpProblem* p, int32_t j) {
    const double c = p->con.conValues[j];
    return j < p->shape.nNlinEq ? std::fabs(c) : std::fmax(0.0, -c);
}

// The value of linear row r at x, a'x - b, with the row into `row`.
double row_value(NlpProblem* p, int32_t r, std::vector<double>* row) {
    p->cb.conRowFn(p, r, row->data());
    double v = -p->con.linRhs[r];
    for (int32_t j = 0; j < p->shape.nParams; ++j) v += (*row)[j] * p->param.x[j];
    return v;
}

// The bounds and the linear rows hold at x within the feasibility
// tolerance (a bound b within (1 + |b|) t, a row within max(t (1 + |rhs|),
// t)).
bool linear_met(NlpProblem* p) {
    const double t = feasibility(p);
    for (int32_t j = 0; p->shape.hasBounds && p->param.lower != nullptr && j < p->shape.nParams; ++j) {
        const double lo = p->param.lower[j], up = p->param.upper[j], x = p->param.x[j];
        if ((lo > -DBL_MAX && x < lo - t * (1.0 + std::fabs(lo))) || (up < DBL_MAX && x > up + t * (1.0 + std::fabs(up))))
            return false;
    }
    std::vector<double> row(static_cast<size_t>(p->shape.nParams));
    for (int32_t r = 0; p->shape.hasLinCon && p->cb.conRowFn != nullptr && r < p->shape.nLinCon; ++r) {
        const double v = row_value(p, r, &row), rhs = p->con.linRhs[r];
        if ((r < p->shape.nLinEq ? std::fabs(v) : -v) > std::fmax(t * (1.0 + std::fabs(rhs)), t)) return false;
    }
    return true;
}

// The sum of the violations of the linear rows and the nonlinear
// constraints at x (the merit function's), and the largest violation of a
// nonlinear constraint.
double violation_sum(NlpProblem* p, double* largest = nullptr) {
    double sum = 0.0, worst = 0.0;
    for (int32_t j = 0; p->shape.hasNlinCon && j < p->shape.nNlinCon; ++j) {
        sum += violation_of(p, j);
        worst = std::fmax(worst, violation_of(p, j));
    }
    std::vector<double> row(static_cast<size_t>(p->shape.nParams));
    for (int32_t r = 0; p->shape.hasLinCon && p->cb.conRowFn != nullptr && r < p->shape.nLinCon; ++r) {
        const double v = row_value(p, r, &row);
        sum += r < p->shape.nLinEq ? std::fabs(v) : std::fmax(0.0, -v);
    }
    if (largest != nullptr) *largest = worst;
    return sum;
}

// The Gram matrix a a' of the rows a (m x k).
std::vector<double> gram(const std::vector<double>& a, int32_t m, int32_t k) {
    std::vector<double> out(static_cast<size_t>(m) * m, 0.0);
    for (int32_t r = 0; r < m; ++r)
        for (int32_t q = 0; q < m; ++q)
            for (int32_t j = 0; j < k; ++j)
                out[static_cast<size_t>(r) * m + q] += a[static_cast<size_t>(r) * k + j] * a[static_cast<size_t>(q) * k + j];
    return out;
}

// The active constraints at x in the coordinates of the claim's problem:
// the rows (scaled, over the free parameters) of the equalities and of the
// inequalities within kInactiveMargin of their limit whose multipliers
// hold them, with their residuals and multipliers.
struct Active {
    int32_t m = 0;
    std::vector<double> a;         // m x k
    std::vector<double> value;     // the residual of each row at x (0 on it)
    std::vector<double> lambda;    // the multipliers (least squares)
    std::vector<int32_t> nonlinear;// the nonlinear constraint of a row, -1 for a linear one
    std::vector<int32_t> bound;    // the parameter of a bound's row, -1 for a constraint's
    std::vector<double> room;      // the residual within which x meets the row as an equality

    int32_t curved() const {
        int32_t c = 0;
        for (const int32_t j : nonlinear) c += j >= 0 ? 1 : 0;
        return c;
    }
};

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
    size_t ix(int32_t i, int32_t j) const { return static_cast<size_t>(i) * k + j; }

    // The position of parameter j in idx, -1 when it is not there.
    int32_t position(int32_t j) const {
        const auto at = std::find(idx.begin(), idx.end(), j);
        return at == idx.end() ? -1 : static_cast<int32_t>(at - idx.begin());
    }

    // From the Hessian slot's array; the scale `like` gives a parameter
    // when given.
    void build(const NlpProblem* p, const double* g0, int32_t storage, const Scaled* like = nullptr) {
        for (int32_t j = 0; j < p->shape.nParams; ++j)
            if (moves(p, j)) idx.push_back(j);
        k = static_cast<int32_t>(idx.size());
        s.resize(k);
        g.resize(k);
        h.resize(static_cast<size_t>(k) * k);
        auto entry = [&](int32_t a, int32_t b) {
            return storage == 2 ? (a == b ? p->hess.hessian[a] : 0.0) : p->hess.hessian[velix::pk(a, b)];
        };
        for (int32_t i = 0; i < k; ++i) {
            const double d = std::fabs(entry(idx[i], idx[i]));
            const int32_t same = like != nullptr ? like->position(idx[i]) : -1;
            s[i] = same >= 0                                      ? like->s[same]
                   : d > 0.0 && std::isfinite(1.0 / std::sqrt(d)) ? 1.0 / std::sqrt(d)
                                                                  : std::fmax(std::fabs(p->param.x[idx[i]]), 1.0);
            g[i] = s[i] * g0[idx[i]];
        }
        for (int32_t i = 0; i < k; ++i)
            for (int32_t j = 0; j < k; ++j) at(i, j) = entry(idx[i], idx[j]) * s[i] * s[j];
    }

    // The candidate rows at x: linear rows a'x >= b within kInactiveMargin
    // (times max(1, |b|)) of their limit, nonlinear ones c(x) >= 0
    // likewise, every equality, and the bounds x is within the feasibility
    // tolerance of (x - lower >= 0, upper - x >= 0); with whether each
    // must be kept (an equality, or an inequality violated beyond the
    // tolerance).
    void candidates(NlpProblem* p, Active* out, std::vector<char>* kept) const {
        std::vector<double> row(static_cast<size_t>(p->shape.nParams));
        const double t = feasibility(p);
        auto add = [&](const double* r, double v, int32_t nonlinear, bool keep, double limit, int32_t bound = -1) {
            for (int32_t j = 0; j < k; ++j) out->a.push_back(r[idx[j]] * s[j]);
            out->value.push_back(v);
            out->room.push_back(nonlinear >= 0 ? t : std::fmax(t * (1.0 + std::fabs(limit)), t));
            out->nonlinear.push_back(nonlinear);
            out->bound.push_back(bound);
            kept->push_back(keep ? 1 : 0);
            out->m += 1;
        };
        for (int32_t r = 0; p->shape.hasLinCon && p->cb.conRowFn != nullptr && r < p->shape.nLinCon; ++r) {
            const double v = row_value(p, r, &row), rhs = p->con.linRhs[r];
            if (r >= p->shape.nLinEq && v > kInactiveMargin * std::fmax(1.0, std::fabs(rhs))) continue;
            add(row.data(), v, -1, r < p->shape.nLinEq || v < -std::fmax(t * (1.0 + std::fabs(rhs)), t), rhs);
        }
        for (int32_t r = 0; p->shape.hasNlinCon && r < p->shape.nNlinCon; ++r) {
            const double c = p->con.conValues[r], limit = p->con.nlcRhs != nullptr ? std::fabs(p->con.nlcRhs[r]) : 0.0;
            if (r >= p->shape.nNlinEq && c > kInactiveMargin * std::fmax(1.0, limit)) continue;
            add(p->con.conJacobian + static_cast<int64_t>(r) * p->shape.nParams, c, r, r < p->shape.nNlinEq || c < -t, limit);
        }
        if (!p->shape.hasBounds || p->param.lower == nullptr || p->param.upper == nullptr) return;
        std::fill(row.begin(), row.end(), 0.0);
        for (const int32_t j : idx) {
            const double lo = p->param.lower[j], up = p->param.upper[j], x = p->param.x[j];
            row[j] = 1.0;
            if (lo > -DBL_MAX && x <= lo + t * (1.0 + std::fabs(lo))) add(row.data(), x - lo, -1, false, lo, j);
            row[j] = -1.0;
            if (up < DBL_MAX && x >= up - t * (1.0 + std::fabs(up))) add(row.data(), up - x, -1, false, up, j);
            row[j] = 0.0;
        }
    }

    // Takes the parameters whose bound rows act holds out of the problem,
    // with those rows, and their entries out of the other rows: a held
    // parameter does not move, and removed rather than projected away it
    // leaves no rounding behind where the scale is extreme (a curvature of
    // 0 on the diagonal).  The other rows keep the multipliers of the
    // joint solution.
    void hold_bounds(Active* act) {
        std::vector<char> held(static_cast<size_t>(k), 0);
        for (const int32_t j : act->bound)
            if (j >= 0) held[static_cast<size_t>(position(j))] = 1;
        std::vector<int32_t> keep;
        for (int32_t i = 0; i < k; ++i)
            if (held[static_cast<size_t>(i)] == 0) keep.push_back(i);
        const auto kk = static_cast<int32_t>(keep.size());
        Active rows;
        for (int32_t r = 0; r < act->m; ++r) {
            if (act->bound[static_cast<size_t>(r)] >= 0) continue;
            for (const int32_t i : keep) rows.a.push_back(act->a[ix(r, i)]);
            rows.value.push_back(act->value[static_cast<size_t>(r)]);
            rows.lambda.push_back(act->lambda[static_cast<size_t>(r)]);
            rows.nonlinear.push_back(act->nonlinear[static_cast<size_t>(r)]);
            rows.room.push_back(act->room[static_cast<size_t>(r)]);
            rows.bound.push_back(-1);
            rows.m += 1;
        }
        std::vector<int32_t> idx2;
        std::vector<double> s2, g2, h2;
        for (const int32_t i : keep) {
            idx2.push_back(idx[static_cast<size_t>(i)]);
            s2.push_back(s[static_cast<size_t>(i)]);
            g2.push_back(g[static_cast<size_t>(i)]);
            for (const int32_t j : keep) h2.push_back(at(i, j));
        }
        idx = std::move(idx2);
        s = std::move(s2);
        g = std::move(g2);
        h = std::move(h2);
        k = kk;
        *act = std::move(rows);
    }

    // (a a')^-1 a v for the rows a (m x k): the least-squares coefficients
    // of v on them.  False when a a' is singular.
    bool coefficients(const std::vector<double>& a, int32_t m, const std::vector<double>& v, std::vector<double>* out) const {
        std::vector<double> aat = gram(a, m, k);
        out->assign(m, 0.0);
        for (int32_t r = 0; r < m; ++r)
            for (int32_t j = 0; j < k; ++j) (*out)[r] += a[ix(r, j)] * v[j];
        return lu_solve(m, aat.data(), out->data());
    }

    // Restricts the problem to the null space of the rows a (m x k): with
    // P = I - a'(a a')^-1 a, g := P g and h := P h P + c (I - P), c the
    // largest diagonal, so that the rows' directions neither add to the
    // decrement nor lower the floor.  False when a a' is singular.
    bool project(const std::vector<double>& a, int32_t m) {
        const std::vector<double> aat = gram(a, m, k);
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
            for (int32_t j = 0; j <= i; ++j) packed[velix::pk_lower(i, j)] = 0.5 * (h[ix(i, j)] + h[ix(j, i)]);
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
    double decrement(int32_t n, double* dir, bool* singular, bool* definite = nullptr) const {
        *singular = false;
        const double chol = cholesky_decrement(n, dir);
        if (definite != nullptr) *definite = chol >= 0.0;
        if (chol >= 0.0) return chol;
        std::vector<double> ev, z;
        double largest = 0.0;
        if (!eigen(&ev, &z, &largest)) {
            // h is 0 (or not finite): it sees nothing, and only a gradient
            // of 0 is stationary by it.
            *singular = true;
            for (int32_t j = 0; j < n; ++j) dir[j] = 0.0;
            return max_abs(k, g.data()) == 0.0 ? 0.0 : -1.0;
        }
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

// Row r of the rows (m x k) of `all`, appended to `to`.
void append_row(const Active& all, int32_t r, int32_t k, std::vector<double>* to) {
    to->insert(to->end(), all.a.begin() + static_cast<ptrdiff_t>(r) * k, all.a.begin() + static_cast<ptrdiff_t>(r + 1) * k);
}

// The rows of `all` (m x k) among `from` that the rows before them do not
// span, those marked in `first` taken first (modified Gram-Schmidt).
std::vector<int32_t> independent_rows(const Active& all, const std::vector<char>& first, const std::vector<int32_t>& from,
                                      int32_t k) {
    std::vector<int32_t> out;
    std::vector<double> basis;
    for (const char pass : {char{1}, char{0}})
        for (const int32_t r : from) {
            if ((first[r] != 0) != (pass != 0)) continue;
            std::vector<double> v;
            append_row(all, r, k, &v);
            const double norm = std::sqrt(dot(k, v.data(), v.data()));
            for (size_t q = 0; q < out.size(); ++q) {
                const double* u = basis.data() + q * k;
                const double c = dot(k, u, v.data());
                for (int32_t j = 0; j < k; ++j) v[j] -= c * u[j];
            }
            const double rest = std::sqrt(dot(k, v.data(), v.data()));
            if (!(rest > kDependentShare * norm)) continue;
            for (double& e : v) basis.push_back(e / rest);
            out.push_back(r);
        }
    return out;
}

// The active set of x for the problem sc: the candidate rows whose
// multipliers hold them (an inequality with a negative multiplier is left:
// f falls along it into the feasible set, unless x violates it), with the
// multipliers of the rows kept.  Of dependent rows the later ones are
// left (the kept ones first): they add no direction, and a a' with them is
// singular; when a row of an independent set is left for its multiplier,
// the set is chosen again from the others, so that of two inequalities
// that hold c(x) between the same limits the one whose multiplier holds it
// stays.
bool active_at(NlpProblem* p, const Scaled& sc, Active* act) {
    Active all;
    std::vector<char> equality;
    sc.candidates(p, &all, &equality);
    if (all.m == 0) return true;
    std::vector<int32_t> from(all.m), chosen;
    for (int32_t r = 0; r < all.m; ++r) from[r] = r;
    for (;;) {
        const std::vector<int32_t> rows = independent_rows(all, equality, from, sc.k);
        const auto m = static_cast<int32_t>(rows.size());
        std::vector<double> a, lambda;
        for (const int32_t r : rows) append_row(all, r, sc.k, &a);
        if (m > 0 && !sc.coefficients(a, m, sc.g, &lambda)) return false;
        std::vector<int32_t> held, left;
        for (int32_t q = 0; q < m; ++q) (equality[rows[q]] == 0 && lambda[q] < 0.0 ? left : held).push_back(rows[q]);
        if (left.empty() || m == static_cast<int32_t>(from.size())) {
            chosen = held;
            break;
        }
        std::erase_if(from, [&](int32_t r) { return std::find(left.begin(), left.end(), r) != left.end(); });
    }
    std::sort(chosen.begin(), chosen.end());
    for (const int32_t r : chosen) {
        append_row(all, r, sc.k, &act->a);
        act->value.push_back(all.value[r]);
        act->nonlinear.push_back(all.nonlinear[r]);
        act->room.push_back(all.room[r]);
        act->bound.push_back(all.bound[r]);
        act->m += 1;
    }
    return act->m == 0 || sc.coefficients(act->a, act->m, sc.g, &act->lambda);
}

// The constraint Jacobian at x through the problem's slot (differences of
// the values without one); false when it fails.
bool constraint_jacobian(NlpProblem* p) {
    if (!p->shape.hasNlinCon) return true;
    p->run.evalStatus = 0.0;
    const int32_t r = p->cb.conJacobianFn != nullptr ? p->cb.conJacobianFn(p) : znlpfcj(p);
    return r == 0 && p->run.evalStatus == 0.0;
}

// f at x and the nonlinear constraints' values (the objective's slot
// leaves them where no slot of their own is installed); false when either
// fails.
bool values_at_x(Frame& fr) {
    NlpProblem* p = fr.p;
    if (!fr.objective()) return false;
    if (!p->shape.hasNlinCon || p->cb.conValuesFn == nullptr) return true;
    p->run.evalStatus = 0.0;
    return p->cb.conValuesFn(p) == 0 && p->run.evalStatus == 0.0;
}

// The curvature of the Lagrange function's constraint part at x: the sum
// of lambda_i times the Hessian of nonlinear constraint i over the active
// rows, dense n x n, from forward differences of the constraint Jacobian
// (Nocedal and Wright, sec. 8.1).  x, the constraint values and the
// Jacobian are as on entry; false when the Jacobian fails at a displaced
// point.
bool constraint_curvature(NlpProblem* p, const Active& act, std::vector<double>* out) {
    const int32_t n = p->shape.nParams;
    const size_t rows = static_cast<size_t>(p->shape.nNlinCon) * n;
    const std::vector<double> j0(p->con.conJacobian, p->con.conJacobian + rows),
        c0(p->con.conValues, p->con.conValues + p->shape.nNlinCon);
    const double phase = p->run.evalPhase;
    out->assign(static_cast<size_t>(n) * n, 0.0);
    bool ok = true;
    p->run.evalPhase = kPhaseLagrangeHessian;
    for (int32_t j = 0; j < n && ok; ++j) {
        const double xj = p->param.x[j], d = kCurvatureStep * std::fmax(std::fabs(xj), 1.0);
        p->param.x[j] = xj + d;
        ok = constraint_jacobian(p);
        p->param.x[j] = xj;
        for (int32_t r = 0; ok && r < act.m; ++r) {
            const int32_t i = act.nonlinear[r];
            if (i < 0) continue;
            for (int32_t q = 0; q < n; ++q) {
                const size_t e = static_cast<size_t>(i) * n + q;
                (*out)[static_cast<size_t>(q) * n + j] += act.lambda[r] * (p->con.conJacobian[e] - j0[e]) / d;
            }
        }
    }
    p->run.evalPhase = phase;
    std::copy(j0.begin(), j0.end(), p->con.conJacobian);
    std::copy(c0.begin(), c0.end(), p->con.conValues);
    for (int32_t i = 0; i < n; ++i)
        for (int32_t q = 0; q < i; ++q) {
            double& a = (*out)[static_cast<size_t>(i) * n + q];
            double& b = (*out)[static_cast<size_t>(q) * n + i];
            a = b = 0.5 * (a + b);
        }
    return ok;
}

// What the measure at x found.  kNone: no matrix to measure with; kFailed:
// the matrix is not finite (or 0 against a gradient that is not), as at a
// point where f is beyond overflow's reach of its derivatives, or an
// evaluation the measure needs failed (a measure that cannot be had
// confirms nothing).  kUnits: the
// decrement is small, but the information matrix is singular and f still
// changes at first order when a parameter moves by its own size or by the
// size the data give it.
enum class Finding { kNone, kFailed, kStationary, kNewton, kCurvature, kUnits };

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

// The Newton step dir (n) moves no parameter beyond kSettledShare of its
// size or of its unit in the data.
bool settled(const NlpProblem* p, const double* dir) {
    for (int32_t j = 0; j < p->shape.nParams; ++j) {
        const double unit = p->param.unit != nullptr && std::isfinite(p->param.unit[j]) ? p->param.unit[j] : 0.0;
        if (!(std::fabs(dir[j]) <= kSettledShare * std::fmax(std::fabs(p->param.x[j]), unit))) return false;
    }
    return true;
}

// The rows of the active constraints at the measured point and what a
// trial point needs of them: the least-norm step back onto their
// linearisation (S a'(a a')^-1 r for residuals r), and the weight of the
// violation in the merit function f + weight (sum of violations).
struct Restoration {
    std::vector<int32_t> idx, nonlinear;
    std::vector<double> s, a;
    int32_t k = 0, m = 0;
    double weight = 0.0;

    // x := x - S a'(a a')^-1 c over the nonlinear rows (linear rows, met
    // by the step, keep a residual of 0); false when there is nothing to
    // restore or a a' is singular.
    bool correct(NlpProblem* p) const {
        if (m == 0) return false;
        std::vector<double> r(m), aat = gram(a, m, k);
        bool any = false;
        for (int32_t q = 0; q < m; ++q) {
            r[q] = nonlinear[q] >= 0 ? p->con.conValues[nonlinear[q]] : 0.0;
            any = any || r[q] != 0.0;
        }
        if (!any || !lu_solve(m, aat.data(), r.data())) return false;
        for (int32_t j = 0; j < k; ++j) {
            double v = 0.0;
            for (int32_t q = 0; q < m; ++q) v += a[static_cast<size_t>(q) * k + j] * r[q];
            double& x = p->param.x[idx[j]];
            x -= s[j] * v;
            if (p->shape.hasBounds) x = std::fmin(std::fmax(x, p->param.lower[idx[j]]), p->param.upper[idx[j]]);
        }
        return true;
    }
};

struct Measured {
    Finding what = Finding::kNone;
    double decrement = -1.0;
    double curvature = 0.0;  // of kCurvature
    double predicted = 0.0;  // the merit's decrease the step promises at a full step
    double violation = 0.0;  // the largest nonlinear-constraint violation at x
    double onto = 0.0;       // the decrease of f the step onto the held rows promises that x is inside of
    bool small = false;      // the decrement and onto within the bound (or the step settled), the constraints met
    bool unitsFlat = true;   // not refuted by flat_in_data_units (where H is singular)
    bool held = false;       // a row active at x or a parameter held at a bound
    bool definite = false;   // the reduced matrix positive definite by a margin
    bool exact = false;      // measured with the exact Hessian
    Restoration rows;
};

// The matrix of the measure into the Hessian slot's array: the exact
// Hessian (differences of the gradient), or a least-squares owner's
// information matrix J'WJ, else the Hessian slot's matrix (which may turn
// to the exact Hessian itself).  Where the slot fails at x (as one that
// takes differences of a gradient that fails beside x may), the exact
// Hessian stands in for it when the gradient allows.  Its storage (0
// packed, 2 diagonal); kNoMatrix when there is no matrix in a storage the
// measure reads, kMatrixFailed when its evaluation fails.
constexpr int32_t kNoMatrix = -1;
constexpr int32_t kMatrixFailed = -2;

int32_t load_matrix(Frame& fr, const double* g, bool exact) {
    NlpProblem* p = fr.p;
    const NlpCallback information = p->shape.leastSquares && p->hooks != nullptr ? p->hooks->eval.crossProductFn : nullptr;
    const int32_t storage = exact || information != nullptr || !p->shape.leastSquares || p->hooks == nullptr
                                ? p->opt.hessianStorage
                                : p->hooks->cov.lsqHessStorage;
    if ((exact && storage != 0) || storage == 1) return kNoMatrix;
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
    if (!ok && !exact && p->opt.hessianStorage == 0) {
        ok = znlpfh3(p) == 0;
        copy(fr.n, g, p->work.gradient);
        return ok ? 0 : kMatrixFailed;
    }
    return ok ? storage : kMatrixFailed;
}

// The problem of the measure at x: H (the exact Hessian when `exact`) and
// g scaled over the free parameters (in the scale of `like` when given),
// less the curvature of the active nonlinear constraints, on the null
// space of the active rows; the step onto the rows' linearisation into
// normal (n).  False when it cannot be had; out->what is then kFailed when
// an evaluation failed.
bool reduced_problem(Frame& fr, const double* g, bool exact, const Scaled* like, Scaled* sc, Measured* out, double* normal) {
    NlpProblem* p = fr.p;
    const int32_t n = fr.n;
    const int32_t storage = load_matrix(fr, g, exact);
    if (storage < 0) {
        if (storage == kMatrixFailed) out->what = Finding::kFailed;
        return false;
    }
    sc->build(p, g, storage, like);
    for (int32_t j = 0; j < n; ++j) normal[j] = 0.0;
    Active act;
    if (sc->k < 1 || !active_at(p, *sc, &act)) return false;
    sc->hold_bounds(&act);
    if (sc->k < 1) return false;
    Restoration& rs = out->rows;
    rs = Restoration{sc->idx, act.nonlinear, sc->s, act.a, sc->k, act.m, 0.0};
    out->held = act.m > 0 || sc->k < n;
    if (act.m == 0) return true;
    std::vector<double> step(act.value), aat = gram(act.a, act.m, sc->k);
    if (!lu_solve(act.m, aat.data(), step.data())) return false;
    for (int32_t j = 0; j < sc->k; ++j) {
        double v = 0.0;
        for (int32_t q = 0; q < act.m; ++q) v += act.a[sc->ix(q, j)] * step[q];
        normal[sc->idx[j]] = -sc->s[j] * v;
    }
    double drop = 0.0;
    for (int32_t q = 0; q < act.m; ++q) {
        rs.weight = std::fmax(rs.weight, 2.0 * std::fabs(act.lambda[q]));
        drop += act.lambda[q] * act.value[q];
        // A held inequality x is inside of by more than the feasibility
        // tolerance: x is not on it, and f falls on the way there.
        if (act.value[q] > act.room[q]) out->onto += std::fmax(0.0, act.lambda[q] * act.value[q]);
    }
    out->predicted = drop;
    if (act.curved() > 0) {
        std::vector<double> curv;
        if (!constraint_curvature(p, act, &curv)) {
            out->what = Finding::kFailed;
            return false;
        }
        for (int32_t i = 0; i < sc->k; ++i)
            for (int32_t j = 0; j < sc->k; ++j)
                sc->at(i, j) -= curv[static_cast<size_t>(sc->idx[i]) * n + sc->idx[j]] * sc->s[i] * sc->s[j];
    }
    return sc->project(act.a, act.m);
}

// The measure at x with the gradient g (left in place) and the downhill
// step in dir, from the exact Hessian when `exact` is set.  Where the
// information matrix is singular (parameters it cannot tell apart, or the
// large residuals of a local minimum that J'WJ leaves out), the exact
// Hessian in the same scale decides: a saddle of f shows only there.
Measured measure(Frame& fr, const double* g, double bound, double* dir, bool exact = false) {
    NlpProblem* p = fr.p;
    const int32_t n = fr.n;
    Measured out;
    out.exact = exact;
    Scaled sc;
    std::vector<double> normal(static_cast<size_t>(n));
    if (!reduced_problem(fr, g, exact, nullptr, &sc, &out, normal.data())) return out;
    bool singular = false;
    out.decrement = sc.decrement(n, dir, &singular, &out.definite);
    if (out.decrement < 0.0) {
        out.what = Finding::kFailed;
        return out;
    }
    out.unitsFlat = !singular || flat_in_data_units(p, sc);
    if (singular && !exact) {
        Scaled ex;
        Measured alt;
        std::vector<double> ignoredNormal(static_cast<size_t>(n));
        bool ignored = false;
        if (reduced_problem(fr, g, true, &sc, &ex, &alt, ignoredNormal.data())) {
            out.curvature = ex.negative_curvature(n, dir);
            if (const double m = out.curvature < 0.0 ? -1.0 : ex.decrement(n, dir, &ignored); m >= 0.0)
                out.decrement = m;
            else if (out.curvature == 0.0)
                sc.decrement(n, dir, &ignored);
        } else if (alt.what == Finding::kFailed) {
            out.what = Finding::kFailed;
            return out;
        }
    }
    for (int32_t j = 0; j < n && out.curvature == 0.0; ++j) dir[j] += normal[j];
    const double sum = violation_sum(p, &out.violation);
    out.predicted += out.decrement + out.rows.weight * sum;
    const bool met = out.violation <= feasibility(p) && linear_met(p);
    if (out.curvature < 0.0) {
        out.small = out.decrement + out.onto <= bound && met;
        out.what = Finding::kCurvature;
        return out;
    }
    out.small = (out.decrement + out.onto <= bound || settled(p, dir)) && met;
    out.what = !out.small ? Finding::kNewton : out.unitsFlat ? Finding::kStationary : Finding::kUnits;
    return out;
}

// The largest step factor along dir (n) from x within the inequality rows
// that dir leaves (DBL_MAX when none does).  The core's ratio test spares
// the rows the technique holds active, but the probe's step need not run
// along them: where the probe leaves a row for its multiplier's sign the
// Newton step may cross it, and HS35 and HS36 ended a few 1e-6 outside
// their rows, with the claim standing there.
double rows_step_bound(NlpProblem* p, const double* dir) {
    if (!p->shape.hasLinCon || !reads_linear_rows(p)) return DBL_MAX;
    const int32_t n = p->shape.nParams;
    std::vector<double> row(static_cast<size_t>(n));
    const double size = max_abs(n, dir);
    double best = DBL_MAX;
    for (int32_t r = p->shape.nLinEq; r < p->shape.nLinCon; ++r) {
        linear_row(p, r, row.data());
        const double ad = dot(n, row.data(), dir);
        if (!(ad < -kLeavingShare * max_abs(n, row.data()) * size)) continue;
        const double slack = dot(n, row.data(), p->param.x) - p->con.linRhs[r];
        best = std::fmin(best, std::fmax(0.0, slack) / -ad);
    }
    return best;
}

// Backtracking from x0 (where x is) along dir, where the model promises
// the merit's decrease pred(alpha): f plus the weight of `rows` times the
// sum of the constraints' violations.  Each trial point is
// brought back onto the active nonlinear constraints by up to
// kCorrections second-order corrections.  True with x, f, the constraint
// values, the gradient and the constraint Jacobian of a point whose merit
// falls by at least kArmijo of the promise and whose largest violation is
// within that at x0 or the feasibility tolerance; the steps keep the
// bounds and the linear rows.
template <class Pred>
bool descend_from(Frame& fr, const double* x0, const double* dir, double f0, const Restoration& rows, Pred pred) {
    NlpProblem* p = fr.p;
    const int32_t n = fr.n;
    double largest0 = 0.0;
    const double merit0 = f0 + rows.weight * violation_sum(p, &largest0);
    const double cap = std::fmax(largest0, feasibility(p)), size = max_abs(n, dir), room = 1.0 + max_abs(n, x0);
    double alpha = std::fmin(std::fmin(1.0, fr.step_bound(dir)), rows_step_bound(p, dir));
    for (int32_t t = 0; t < kTrials && alpha * size > 1e-12 * room; ++t) {
        for (int32_t j = 0; j < n; ++j) p->param.x[j] = x0[j] + alpha * dir[j];
        bool ok = values_at_x(fr);
        for (int32_t c = 0; ok && c < kCorrections && violation_sum(p) > 0.01 * feasibility(p) && rows.correct(p); ++c)
            ok = values_at_x(fr);
        double largest = 0.0;
        const double sum = ok ? violation_sum(p, &largest) : 0.0;
        if (ok && p->iter.f + rows.weight * sum < merit0 - kArmijo * pred(alpha) && largest <= cap)
            return fr.gradient() && constraint_jacobian(p);
        alpha *= t < 4 ? 0.5 : 0.1;
    }
    return false;
}

// The point of a probe: x, f, the gradient and the nonlinear constraints'
// values, Jacobian and largest violation, kept and put back.
struct Point {
    std::vector<double> x, g, c, jac;
    double f = 0.0, violation = 0.0;

    void take(const NlpProblem* p) {
        const int32_t n = p->shape.nParams;
        x.assign(p->param.x, p->param.x + n);
        g.assign(p->work.gradient, p->work.gradient + n);
        f = p->iter.f;
        violation = p->iter.maxConViolation;
        if (!p->shape.hasNlinCon) return;
        c.assign(p->con.conValues, p->con.conValues + p->shape.nNlinCon);
        jac.assign(p->con.conJacobian, p->con.conJacobian + static_cast<size_t>(p->shape.nNlinCon) * n);
    }
    void put(NlpProblem* p) const {
        std::copy(x.begin(), x.end(), p->param.x);
        std::copy(g.begin(), g.end(), p->work.gradient);
        std::copy(c.begin(), c.end(), p->con.conValues);
        std::copy(jac.begin(), jac.end(), p->con.conJacobian);
        p->iter.f = f;
        p->iter.maxConViolation = violation;
        p->run.evalStatus = 0.0;
    }
};

// One step downhill from the point measured in `at` (x, its gradient and
// constraints current), along its Newton(-KKT) step or its negative
// curvature; true with x at the lower point.
bool step_downhill(Frame& fr, const Measured& at, const double* dir) {
    NlpProblem* p = fr.p;
    const std::vector<double> x0(p->param.x, p->param.x + fr.n);
    const double f0 = p->iter.f, m = at.predicted, c = at.curvature;
    if (at.what == Finding::kCurvature)
        return descend_from(fr, x0.data(), dir, f0, at.rows, [&](double a) { return -0.5 * a * a * c; });
    return descend_from(fr, x0.data(), dir, f0, at.rows, [&](double a) { return a * m; });
}

// Newton-KKT steps on from the stationary point x measured in `at` (x,
// its gradient and constraints current, its step in dir).  The bound on
// the decrement bounds f - f*, not x, which may stay sqrt(bound / h) from
// the minimum along a direction of curvature h (a few 1e-5 of a parameter
// of size 1 where f is 0.3).  A technique that converges quadratically
// ends far inside the bound; a constrained one that stops where its own
// criterion first holds (the dual quasi-Newton form on FCONV2, projected
// steps with J'WJ), and the probe's own steps above, end near its edge.
// A step is kept when it lowers the merit and the decrement; the steps go
// on while each leaves at most kRefineShare of the decrement, with the
// information matrix first (J'WJ converges fast where the model fits) and
// the exact Hessian once it does not, and end where the Newton step is
// settled (the rounding of x) or its matrix is not positive definite.
// True with x at the last step kept.
template <class Bound>
bool refine(Frame& fr, Measured at, double* dir, Bound bound) {
    NlpProblem* p = fr.p;
    Point last, next;
    last.take(p);
    bool moved = false, exact = at.exact;
    for (int32_t step = 0; step < kRefineSteps; ++step) {
        if (at.what != Finding::kStationary && at.what != Finding::kNewton) break;
        if (!at.definite || at.decrement == 0.0 || settled(p, dir)) break;
        Measured after;
        const bool lower = step_downhill(fr, at, dir);
        if (lower) {
            p->iter.maxConViolation = 0.0;
            if (p->shape.hasNlinCon) violation_sum(p, &p->iter.maxConViolation);
            next.take(p);
            after = measure(fr, next.g.data(), bound(), dir, exact);
        }
        const bool shrunk = lower && after.decrement >= 0.0 && after.decrement < at.decrement;
        if (shrunk) {
            last = next;
            moved = true;
            if (after.decrement <= kRefineShare * at.decrement) {
                at = after;
                continue;
            }
        }
        if (exact) break;
        exact = true;
        last.put(p);
        at = measure(fr, last.g.data(), bound(), dir, true);
    }
    last.put(p);
    return moved;
}

}  // namespace

int32_t znlpstn(NlpProblem* p, double relative, int32_t descend, double* decrement) {
    *decrement = -1.0;
    const int32_t n = p->shape.nParams;
    if (n < 1 || p->hess.hessian == nullptr) return kProbeNoMeasure;
    if (p->shape.hasNlinCon && (p->con.conValues == nullptr || p->con.conJacobian == nullptr)) return kProbeNoMeasure;
    Frame fr(p);
    if (!fr.reserve(2 * static_cast<int64_t>(n))) return kProbeNoMeasure;
    fr.phase = p->run.evalPhase;
    double* dir = fr.take(n);
    double* exactDir = fr.take(n);
    // A technique of values alone (the simplex) leaves no gradient or
    // constraint Jacobian of x behind.
    if (p->opt.derivLevel == 0 && !(values_at_x(fr) && fr.gradient() && constraint_jacobian(p))) return kProbeNoDerivatives;
    Point start, best;
    start.take(p);
    // With the owner's units a fit whose minimum is 0 ends where its
    // Newton step is settled; without them f at the start is the scale.
    const double floor = p->param.unit == nullptr ? kStartShare * p->run.startObjective : 0.0;
    auto bound = [&] { return std::fmax(relative * std::fmax(std::fabs(p->iter.f), p->opt.fSize), floor); };
    auto back = [&](int32_t r) {
        start.put(p);
        return r;
    };
    Measured at = measure(fr, start.g.data(), bound(), dir);
    *decrement = at.decrement;
    switch (at.what) {
        case Finding::kNone: return back(kProbeNoMeasure);
        case Finding::kFailed: return back(kProbeRefuted);
        case Finding::kStationary:
            // A point held by constraints ends where the criterion of a
            // constrained technique first holds, at the edge of the bound.
            if (descend != 0 && at.held && refine(fr, at, dir, bound)) return kProbePolished;
            return back(kProbeStationary);
        default: break;
    }
    if (descend == 0) return back(kProbeNotStationary);
    // Downhill from x, and on from each lower point while its own measure
    // still finds it short of stationary: the technique restarts where the
    // information matrix would have ended.
    bool moved = false;
    for (int32_t step = 0; step < kPolishSteps; ++step) {
        if (!step_downhill(fr, at, dir)) break;
        moved = true;
        p->iter.maxConViolation = 0.0;
        if (p->shape.hasNlinCon) violation_sum(p, &p->iter.maxConViolation);
        best.take(p);
        // Scoring converges slowly where the model misfits: once a step
        // keeps more than half of the decrement, the exact Hessian leads.
        const bool slow = at.what == Finding::kNewton;
        const double m = at.decrement;
        at = measure(fr, best.g.data(), bound(), dir);
        if (slow && at.what == Finding::kNewton && at.decrement > kSlowShare * m) {
            Measured ex = measure(fr, best.g.data(), bound(), exactDir, true);
            if (ex.what == Finding::kNewton) {
                at = ex;
                copy(n, exactDir, dir);
            }
        }
        best.put(p);
        if (at.what != Finding::kNewton && at.what != Finding::kCurvature && at.what != Finding::kUnits) break;
    }
    if (!moved) {
        // Nothing lower along the step: a point that is not stationary by
        // the measure is no solution, unless all that refutes it is a
        // negative curvature of the difference Hessian that f cannot
        // follow at a small decrement (the rounding of that Hessian).
        return back(at.what == Finding::kCurvature && at.small ? kProbeStationary : kProbeRefuted);
    }
    best.put(p);
    *decrement = at.decrement;
    if (at.what != Finding::kStationary) return kProbeLower;
    if (at.held) refine(fr, at, dir, bound);
    return kProbePolished;
}
