// Two-stage least squares start values of the structural coefficients
// (Theil 1953; Basmann 1957; Bollen, "Structural Equations with Latent
// Variables", 1989, ch. 9): the instruments are the variables whose moments
// are known and that no equation explains; the first stage replaces every
// explained variable x by its projection on the instruments, with moments
// Q = S_xz S_zz^-1 S_zx; the second stage regresses each equation on the
// projected explanatory variables and the instruments.
#include <algorithm>
#include <cmath>
#include <vector>

#include "host/fields.h"
#include "numerics/packed.h"
#include "numerics/udu.h"
#include "procedure/startvalues/start_moments.h"
#include "velix/host_vector.h"
#include "velix/packed_index.h"

namespace velix::detail {
namespace {

// Two-stage estimates are kept at least 0.001 from zero.
constexpr double kTwoStageFloor = 0.001;

// The moments of the classified positions: Q between two explained
// variables, S_xz between an explained variable and an instrument, S_zz
// between two instruments.  Instrument k2 - 1 is the constant when
// `constant` is set.
struct StageMoments {
    const StartWork* w;
    std::vector<int32_t> number;  // [N] 1..k1 explained, k1+1..k1+k2 instrument, 0 unused
    std::vector<int32_t> position;// [k1 + k2] back to the position; -1 the constant
    int32_t k1 = 0, k2 = 0;
    bool constant = false;
    std::vector<double> szz;      // PackedSym[k2]
    std::vector<double> sxz;      // k1 x k2, row-major
    std::vector<double> q;        // PackedSym[k1]

    // The moment of positions a and b, missing when S lacks it.
    double instrument_moment(int32_t za, int32_t zb) const {
        const int32_t a = position[static_cast<size_t>(k1 + za)], b = position[static_cast<size_t>(k1 + zb)];
        if (a < 0 && b < 0) return 1.0;
        if (a < 0 || b < 0) return w->ctx->moments.means[a < 0 ? b : a];
        return w->get(a, b);
    }
    double moment(int32_t a, int32_t b) const {
        const int32_t na = number[static_cast<size_t>(a)] - 1, nb = number[static_cast<size_t>(b)] - 1;
        if (na < k1 && nb < k1) return q[static_cast<size_t>(pk(na, nb))];
        if (na < k1) return sxz[static_cast<size_t>(na) * k2 + (nb - k1)];
        if (nb < k1) return sxz[static_cast<size_t>(nb) * k2 + (na - k1)];
        return szz[static_cast<size_t>(pk(na - k1, nb - k1))];
    }
    // Gathers S_zz; false when a moment is missing.
    bool gather_szz() {
        szz.assign(static_cast<size_t>(pk_lower(k2, 0)), 0.0);
        for (int32_t a = 0; a < k2; ++a)
            for (int32_t b = 0; b <= a; ++b) {
                const double v = instrument_moment(a, b);
                if (wzmis(v)) return false;
                szz[static_cast<size_t>(pk(a, b))] = v;
            }
        return true;
    }
};

// Classification of the complete positions; the constant joins the
// instruments when the moments are about zero and every variable is
// manifest.
void classify(const StartWork* w, StageMoments* m) {
    m->number.assign(static_cast<size_t>(w->order), 0);
    std::vector<bool> explained(static_cast<size_t>(w->order), false);
    for (const StartPath& p : w->paths) explained[static_cast<size_t>(p.row)] = true;
    for (int32_t i = 0; i < w->order; ++i)
        if (w->complete[i] && explained[static_cast<size_t>(i)]) {
            m->number[static_cast<size_t>(i)] = ++m->k1;
            m->position.push_back(i);
        }
    for (int32_t i = 0; i < w->order; ++i)
        if (w->complete[i] && !explained[static_cast<size_t>(i)]) {
            m->number[static_cast<size_t>(i)] = m->k1 + ++m->k2;
            m->position.push_back(i);
        }
    m->constant = w->ctx->moments.momentOrigin == 1 && w->order == w->n && w->ctx->moments.means != nullptr;
    if (m->constant) {
        ++m->k2;
        m->position.push_back(-1);
    }
}

// The first stage: Q = S_xz S_zz^-1 S_zx.  0, or the method's code.
int32_t first_stage(const StartWork* w, StageMoments* m) {
    if (!m->gather_szz()) return -2;
    m->sxz.assign(static_cast<size_t>(m->k1) * m->k2, 0.0);
    for (int32_t x = 0; x < m->k1; ++x)
        for (int32_t z = 0; z < m->k2; ++z) {
            const int32_t a = m->position[static_cast<size_t>(x)], b = m->position[static_cast<size_t>(m->k1 + z)];
            const double v = b < 0 ? w->ctx->moments.means[a] : w->get(a, b);
            if (wzmis(v)) return -2;
            m->sxz[static_cast<size_t>(x) * m->k2 + z] = v;
        }
    double det[2];
    const double tol = tol_in_units(w->ctx->options.singular, m->k2, m->szz.data());
    if (coschin(m->k2, tol, det, m->szz.data()) != 0) return -1;
    m->q.assign(static_cast<size_t>(pk_lower(m->k1, 0)), 0.0);
    std::vector<double> work(static_cast<size_t>(m->k2));
    zqform(m->szz.data(), m->k2, m->sxz.data(), m->k1, m->q.data(), work.data(), 0);
    return m->gather_szz() ? 0 : -3;
}

// The second stage of the equation of y; the number of values assigned.
int32_t second_stage(StartWork* w, const StageMoments& m, int32_t y) {
    const ElementPattern& el = w->ctx->elements;
    const auto& eq = w->equation[static_cast<size_t>(y)];
    std::vector<int32_t> free, fixed;
    bool needed = false;
    for (int32_t p : eq) {
        const int32_t e = w->paths[static_cast<size_t>(p)].e;
        (w->parameter(e) != 0 ? free : fixed).push_back(p);
        needed = needed || wzmis(el.value[e]);
    }
    if (!needed || free.empty()) return 0;
    const int32_t k = static_cast<int32_t>(free.size());
    std::vector<double> a(static_cast<size_t>(pk_lower(k, 0))), b(static_cast<size_t>(k));
    for (int32_t i = 0; i < k; ++i) {
        const int32_t xi = w->paths[static_cast<size_t>(free[static_cast<size_t>(i)])].col;
        for (int32_t j = 0; j <= i; ++j)
            a[static_cast<size_t>(pk(i, j))] = m.moment(xi, w->paths[static_cast<size_t>(free[static_cast<size_t>(j)])].col);
        double r = m.moment(xi, y);
        for (int32_t f : fixed) {
            const StartPath& p = w->paths[static_cast<size_t>(f)];
            r -= w->value(p.e) * m.moment(xi, p.col);
        }
        b[static_cast<size_t>(i)] = r;
    }
    std::vector<int32_t> pivots(static_cast<size_t>(k));
    const double tol = tol_in_units(w->ctx->options.singular, k, a.data());
    if (zududec(k, tol, nullptr, a.data(), pivots.data()) != 0) return 0;
    zudusol(k, 1, 1, a.data(), b.data(), pivots.data());
    int32_t assigned = 0;
    for (int32_t i = 0; i < k; ++i) {
        const int32_t e = w->paths[static_cast<size_t>(free[static_cast<size_t>(i)])].e;
        if (!wzmis(el.value[e])) continue;
        el.value[e] = away_from_zero(b[static_cast<size_t>(i)], kTwoStageFloor);
        ++assigned;
    }
    return assigned;
}

}  // namespace

int32_t cosin2s(StartWork* w) {
    if (w->kind == StartKind::kFactor) return 0;
    // Every regressor of an equation whose variable is known must be known.
    for (const StartPath& p : w->paths)
        if (w->complete[p.row] && !w->complete[p.col]) return 1;
    StageMoments m;
    m.w = w;
    classify(w, &m);
    if (m.k1 == 0) return 0;
    // Without instruments nothing can be projected: nothing is assigned and
    // the cascade goes on without a note.
    if (m.k2 == 0) return 1;
    if (const int32_t rc = first_stage(w, &m)) return rc;
    int32_t assigned = 0;
    for (int32_t x = 0; x < m.k1; ++x) assigned += second_stage(w, m, m.position[static_cast<size_t>(x)]);
    return assigned > 0 ? 0 : 1;
}

}  // namespace velix::detail
