// The dual active-set method of Goldfarb and Idnani for the strictly
// convex quadratic program (see dual_qp.h).
//
//   d := -G^-1 c; the active set A is empty
//   repeat
//     pick a constraint p: an equality not yet in A, else the most violated
//       inequality (scaled by its row norm); none: d solves the program
//     repeat (the partial steps of p)
//       z := the primal direction (H n_p, H the inverse of G on the null
//            space of A), r := the dual direction (N* n_p), both from the
//            KKT system of A
//       t1 := the largest dual step keeping the multipliers of A's
//             inequalities non-negative, t2 := the step that meets p
//       neither finite: the program is infeasible
//       take t = min(t1, t2): d += t z, u_A -= t r, u_p += t
//       t = t2: p joins A; else the inequality that bounded t1 leaves A
#include "optimizer/techniques/dual_qp.h"

#include <cfloat>
#include <cmath>

#include "optimizer/techniques/support.h"
#include "velix/packed_index.h"

namespace velix::detail {

using velix::pk;

namespace {

// G must factor with pivots above this share of its largest diagonal.
constexpr double kPivotTol = 1e-14;
// z'n_p below this share of n_p'G^-1 n_p: n_p lies in the span of the
// active normals (the primal step cannot meet p).
constexpr double kDependentTol = 1e-12;
// A violation below this share of 1 + |b_i| + |a_i| |d| is rounding.
constexpr double kViolationTol = 1e-11;

struct Work {
    double *l, *z, *np, *w, *u, *kkt, *rhs, *sgn;
    int32_t* idx;
};

}  // namespace

int64_t DualQp::doubles(int32_t n, int32_t m) {
    const int64_t nn = n;
    return nn * (nn + 1) / 2 + 3 * nn + (nn + 1) + 4 * nn * nn + 2 * nn + m + (nn + 4) / 2 + 1;
}

int32_t DualQp::solve(double* work) {
    Work v{};
    v.l = work;
    v.z = v.l + static_cast<int64_t>(n) * (n + 1) / 2;
    v.np = v.z + n;
    v.w = v.np + n;
    v.u = v.w + n;
    v.kkt = v.u + n + 1;
    v.rhs = v.kkt + 4 * static_cast<int64_t>(n) * n;
    v.sgn = v.rhs + 2 * n;
    v.idx = reinterpret_cast<int32_t*>(v.sgn + m);
    for (int32_t i = 0; i < m; ++i) {
        lambda[i] = 0.0;
        active[i] = 0;
        v.sgn[i] = 1.0;
    }
    if (!cholesky(n, g, 0.0, kPivotTol, v.l)) return kQpNotConvex;
    for (int32_t i = 0; i < n; ++i) d[i] = -c[i];
    chol_solve(n, v.l, d);
    auto row = [this](int32_t i) { return a + static_cast<int64_t>(i) * n; };
    auto tol = [&](int32_t i) { return kViolationTol * (1.0 + std::fabs(b[i]) + norm2(n, row(i)) * max_abs(n, d)); };
    int32_t q = 0;
    const int32_t limit = 3 * (n + m) + 20;
    for (int32_t iter = 0;; ++iter) {
        // The constraint to add.
        int32_t pick = -1;
        for (int32_t i = 0; i < meq && pick < 0; ++i)
            if (active[i] == 0) pick = i;
        if (pick >= 0) {
            v.sgn[pick] = dot(n, row(pick), d) + b[pick] > 0.0 ? -1.0 : 1.0;
        } else {
            double worst = 0.0;
            for (int32_t i = meq; i < m; ++i) {
                if (active[i] != 0) continue;
                const double s = dot(n, row(i), d) + b[i];
                if (s >= -tol(i)) continue;
                const double scaled = s / norm2(n, row(i));
                if (scaled < worst) worst = scaled, pick = i;
            }
        }
        if (pick < 0) break;
        for (int32_t j = 0; j < n; ++j) v.np[j] = v.sgn[pick] * row(pick)[j];
        copy(n, v.np, v.w);
        chol_solve(n, v.l, v.w);
        const double base = dot(n, v.np, v.w);
        double uplus = 0.0;
        for (;;) {
            if (iter++ > limit) return kQpNoProgress;
            // [G -N; N' 0] [z; rho] = [n_p; 0], r = -rho.
            const int32_t k = n + q;
            for (int64_t e = 0; e < static_cast<int64_t>(k) * k; ++e) v.kkt[e] = 0.0;
            for (int32_t i = 0; i < n; ++i) {
                for (int32_t j = 0; j < n; ++j) v.kkt[i * k + j] = g[pk(i, j)];
                v.rhs[i] = v.np[i];
            }
            for (int32_t s = 0; s < q; ++s) {
                const double* ai = row(v.idx[s]);
                for (int32_t j = 0; j < n; ++j) {
                    v.kkt[(n + s) * k + j] = v.sgn[v.idx[s]] * ai[j];
                    v.kkt[j * k + n + s] = -v.sgn[v.idx[s]] * ai[j];
                }
                v.rhs[n + s] = 0.0;
            }
            if (!lu_solve(k, v.kkt, v.rhs)) return kQpNoProgress;
            copy(n, v.rhs, v.z);
            const double* r = v.rhs + n;  // -r
            const double zn = dot(n, v.z, v.np);
            const double sp = v.sgn[pick] * (dot(n, row(pick), d) + b[pick]);
            const bool reaches = zn > kDependentTol * base;
            if (!reaches && pick < meq && std::fabs(sp) <= tol(pick)) {
                // An equality the active ones imply and d meets: held, no multiplier.
                active[pick] = 2;
                break;
            }
            const double t2 = reaches ? std::fmax(0.0, -sp / zn) : HUGE_VAL;
            double t1 = HUGE_VAL;
            int32_t drop = -1;
            for (int32_t s = 0; s < q; ++s)
                if (v.idx[s] >= meq && -r[s] > 0.0 && v.u[s] / -r[s] < t1) t1 = v.u[s] / -r[s], drop = s;
            if (t1 == HUGE_VAL && t2 == HUGE_VAL) return kQpInfeasible;
            const double t = std::fmin(t1, t2);
            if (reaches)
                for (int32_t j = 0; j < n; ++j) d[j] += t * v.z[j];
            for (int32_t s = 0; s < q; ++s) v.u[s] += t * r[s];
            uplus += t;
            if (reaches && t2 <= t1) {
                v.idx[q] = pick;
                v.u[q] = uplus;
                ++q;
                active[pick] = 1;
                break;
            }
            active[v.idx[drop]] = 0;
            for (int32_t s = drop; s + 1 < q; ++s) v.idx[s] = v.idx[s + 1], v.u[s] = v.u[s + 1];
            --q;
        }
    }
    for (int32_t s = 0; s < q; ++s) lambda[v.idx[s]] = v.sgn[v.idx[s]] * v.u[s];
    return kQpSolved;
}

}  // namespace velix::detail
