// Start values of a model with means (AUGMENT): the cascade runs on the
// covariances about the means, and the intercepts and means follow by
// least squares from the sample means.  The augmented moments about zero,
// M = [C + m m', m; m', 1] (times the divisor's ratio), carry the squared
// means in every entry: in data far from their origin the estimators'
// differences of such moments leave the covariance part to rounding and
// give start points where the implied moments are not even positive
// definite.  The covariance structure is the same about the means, and
// the mean structure is linear in the intercepts once the paths are
// known: mu = (I - B)^-1 d, where d holds each intercept (a path from the
// constant) and each covariance with the constant over the constant's own
// moment.
//
//   centre_for_means: C_ij = M_ij - M_iI M_jI / M_II; the constant keeps
//       its own moment and no covariance; the elements on the constant are
//       set aside (0 while the cascade runs)
//   mean_starts: restore them; T = (I - B)^-1 over the other paths; the
//       free ones solve min sum_i (m_i - mu_i)^2 over the manifest means
#include <cmath>
#include <vector>

#include "host/fields.h"
#include "numerics/lu.h"
#include "procedure/startvalues/start_moments.h"
#include "velix/packed_index.h"

namespace velix::detail {
namespace {

// Whether element e of the work lies on the constant: a path from it, or a
// covariance of another variable with it (its own moment is data).  *unit
// is the element's share of the mean of the variable at *target.
bool on_constant(const StartWork* w, int32_t at, int32_t e, int32_t* target, double* unit) {
    for (const StartPath& a : w->paths)
        if (a.e == e && a.col == at) {
            *target = a.row;
            *unit = 1.0;
            return true;
        }
    for (const StartVariance& v : w->variances)
        if (v.e == e && (v.r == at) != (v.c == at)) {
            *target = v.r == at ? v.c : v.r;
            *unit = 1.0 / w->get(at, at);
            return true;
        }
    return false;
}

// T = (I - B)^-1 over the paths that do not leave the constant (row-major,
// order x order); false when I - B is singular.  A path still without a
// value counts as none.
bool total_effects(const StartWork* w, int32_t at, std::vector<double>* t) {
    const int32_t n = w->order;
    t->assign(static_cast<size_t>(n) * n, 0.0);
    for (int32_t i = 0; i < n; ++i) (*t)[static_cast<size_t>(i) * n + i] = 1.0;
    for (const StartPath& a : w->paths) {
        const double v = w->value(a.e);
        if (a.col != at && !wzmis(v)) (*t)[static_cast<size_t>(a.row) * n + a.col] -= v;
    }
    std::vector<int32_t> pivots(static_cast<size_t>(n));
    if (zludec(n, n, kStartEpsilon, nullptr, t->data(), pivots.data()) != 0) return false;
    std::vector<double> work(static_cast<size_t>(n));
    zluinv(n, n, t->data(), pivots.data(), work.data());
    return true;
}

}  // namespace

void centre_for_means(StartWork* w, MeanStartWork* m) {
    m->at = -1;
    const int32_t at = w->n - 1;
    if (!w->ctx->options.interceptVar || w->kind == StartKind::kFactor || at < 1) return;
    const double own = w->get(at, at);
    if (wzmis(own) || !(own > 0.0)) return;
    m->at = at;
    m->means.assign(static_cast<size_t>(at), 0.0);
    for (int32_t i = 0; i < at; ++i) m->means[static_cast<size_t>(i)] = w->get(i, at) / own;
    for (int32_t i = 0; i < at; ++i) {
        for (int32_t j = 0; j <= i; ++j) w->at(i, j) -= w->get(i, at) * w->get(j, at) / own;
    }
    for (int32_t i = 0; i < at; ++i) w->at(i, at) = 0.0;
    for (int32_t e = 0; e < w->ctx->sizes.nElements; ++e) {
        int32_t target = 0;
        double unit = 0.0;
        if (!on_constant(w, at, e, &target, &unit)) continue;
        m->elements.push_back(e);
        m->saved.push_back(w->value(e));
        w->value(e) = 0.0;
    }
}

void mean_starts(StartWork* w, const MeanStartWork& m) {
    if (m.at < 0) return;
    for (size_t k = 0; k < m.elements.size(); ++k) w->value(m.elements[k]) = m.saved[k];
    // The free parameters on the constant that no other element gives a
    // value to.
    std::vector<int32_t> free;
    for (size_t k = 0; k < m.elements.size(); ++k) {
        const int32_t e = m.elements[k], p = w->parameter(e);
        if (p == 0 || !wzmis(m.saved[k])) continue;
        bool known = false;
        for (int32_t f = 0; f < w->ctx->sizes.nElements && !known; ++f) known = w->parameter(f) == p && !wzmis(w->value(f));
        bool listed = false;
        for (int32_t q : free) listed = listed || q == p;
        if (!known && !listed) free.push_back(p);
    }
    std::vector<double> t;
    if (free.empty() || !total_effects(w, m.at, &t)) return;
    const int32_t n = w->order, k = static_cast<int32_t>(free.size());
    // mu = mu0 + G a over the manifest variables other than the constant.
    std::vector<double> mu0(static_cast<size_t>(m.at), 0.0), g(static_cast<size_t>(m.at) * k, 0.0);
    for (int32_t i = 0; i < m.at; ++i) mu0[static_cast<size_t>(i)] = t[static_cast<size_t>(i) * n + m.at];
    for (int32_t e : m.elements) {
        int32_t target = 0;
        double unit = 0.0;
        on_constant(w, m.at, e, &target, &unit);
        const double v = w->value(e);
        int32_t col = -1;
        for (int32_t q = 0; q < k && wzmis(v); ++q)
            if (free[static_cast<size_t>(q)] == w->parameter(e)) col = q;
        for (int32_t i = 0; i < m.at; ++i) {
            const double share = t[static_cast<size_t>(i) * n + target] * unit;
            if (col >= 0)
                g[static_cast<size_t>(i) * k + col] += share;
            else if (!wzmis(v))
                mu0[static_cast<size_t>(i)] += share * v;
        }
    }
    // The normal equations G'G a = G'(m - mu0).
    std::vector<double> gg(static_cast<size_t>(k) * (k + 1) / 2, 0.0), rhs(static_cast<size_t>(k), 0.0);
    for (int32_t i = 0; i < m.at; ++i) {
        const double r = m.means[static_cast<size_t>(i)] - mu0[static_cast<size_t>(i)];
        for (int32_t a = 0; a < k; ++a) {
            const double ga = g[static_cast<size_t>(i) * k + a];
            rhs[static_cast<size_t>(a)] += ga * r;
            for (int32_t b = 0; b <= a; ++b) gg[pk(a, b)] += ga * g[static_cast<size_t>(i) * k + b];
        }
    }
    // Means the manifest ones do not determine stay to the default step.
    if (!cholesky_solve(k, kStartEpsilon, gg, &rhs)) return;
    for (int32_t e : m.elements)
        for (int32_t q = 0; q < k; ++q)
            if (wzmis(w->value(e)) && free[static_cast<size_t>(q)] == w->parameter(e))
                w->value(e) = rhs[static_cast<size_t>(q)];
}

}  // namespace velix::detail
