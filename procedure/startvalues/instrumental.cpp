// Latent-variable start values by instrumental variables: the part of the
// model that links latent variables to the variables measuring them is read
// as a confirmatory factor model and estimated level by level without
// iteration.  Each factor gets a reference indicator; every other loading
// is the two-stage least squares estimate with the remaining indicators as
// instruments (Hagglund 1982, "Factor analysis by instrumental variables
// methods", Psychometrika 47; Bollen 1996, "An alternative two stage least
// squares estimator for latent variable equations", Psychometrika 61).
// The unique variances and factor covariances follow from the loadings by
// least squares on the moment structure S = L Phi L' + U.  The estimated
// moments of the latent variables enter the start moments, so that the
// next level (factors measured by these factors) and the later estimators
// can treat them as observed.
//
//   per level:
//     classify indicators and factors; loadings (reference indicators,
//     instruments); unique variances; factor covariances; scale each factor
//     by its fixed variance or fixed loadings; write the missing loadings;
//     latent rows of the start moments, through the earlier levels' loadings
#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "host/fields.h"
#include "numerics/packed.h"
#include "procedure/startvalues/latent_levels.h"
#include "velix/packed_index.h"

namespace velix::detail {
namespace {

// Reference indicators, one per factor and all distinct: many fixed zeros
// first, then few free loadings, then the earlier row.  0, or -1 / -2 when
// factor 1 / a later factor has none.
int32_t choose_references(Solver* sv) {
    Level& lv = *sv->lv;
    std::vector<int32_t> nFree(static_cast<size_t>(lv.m), 0), nZero(nFree.size(), 0), refZero(static_cast<size_t>(lv.k), 0);
    for (int32_t j = 0; j < lv.m; ++j)
        for (int32_t f = 0; f < lv.k; ++f) {
            nFree[static_cast<size_t>(j)] += wzmis(lv.l(j, f));
            nZero[static_cast<size_t>(j)] += lv.fixed_zero(j, f);
        }
    sv->ref.clear();
    for (int32_t f = 0; f < lv.k; ++f) {
        int32_t best = -1;
        for (int32_t j = 0; j < lv.m; ++j) {
            if (lv.fixed_zero(j, f) || sv->is_ref(j)) continue;
            bool accept = true;
            // The scan covers the factors that have their reference: the
            // row's own factor always has a zero at every earlier reference.
            for (int32_t c = 0; c < f; ++c) {
                const bool zero = lv.fixed_zero(j, c);
                if (zero && refZero[static_cast<size_t>(c)] == 0) break;
                if (refZero[static_cast<size_t>(c)] == f && !zero) {
                    accept = false;
                    break;
                }
            }
            if (!accept) continue;
            const size_t a = static_cast<size_t>(j), b = static_cast<size_t>(best);
            if (best < 0 || nZero[a] > nZero[b] || (nZero[a] == nZero[b] && nFree[a] < nFree[b])) best = j;
        }
        if (best < 0) return f == 0 ? -1 : -2;
        sv->ref.push_back(best);
        for (int32_t c = 0; c < lv.k; ++c) refZero[static_cast<size_t>(c)] += lv.fixed_zero(best, c);
    }
    // The reference rows' free loadings are 1.0: each reference indicator
    // sets its factor's scale.
    for (int32_t r : sv->ref)
        for (int32_t f = 0; f < lv.k; ++f)
            if (wzmis(lv.l(r, f))) lv.l(r, f) = 1.0;
    return 0;
}

// Row i := R' b, R the reference rows of L.
void from_reference_coordinates(Solver* sv, int32_t i, const std::vector<double>& b) {
    Level& lv = *sv->lv;
    std::vector<double> row(static_cast<size_t>(lv.k), 0.0);
    for (int32_t f = 0; f < lv.k; ++f)
        for (int32_t r = 0; r < lv.k; ++r) row[static_cast<size_t>(f)] += lv.l(sv->ref[static_cast<size_t>(r)], f) * b[static_cast<size_t>(r)];
    for (int32_t f = 0; f < lv.k; ++f) lv.l(i, f) = row[static_cast<size_t>(f)];
}

// Loadings sharing a parameter take the mean of their estimates.
void share_equal_loadings(Level* lv) {
    for (size_t a = 0; a < lv->param.size(); ++a) {
        if (lv->param[a] == 0) continue;
        double sum = 0.0;
        int32_t count = 0;
        for (size_t b = 0; b < lv->param.size(); ++b)
            if (lv->param[b] == lv->param[a] && !wzmis(lv->L[b])) sum += lv->L[b], ++count;
        if (count > 0) lv->L[a] = sum / count;
    }
}

// The instrument products of the non-reference rows.  Row i's instruments
// are the other non-reference indicators I_i = N \ {i}, and its 2SLS needs
// g_r = S(r, I_i) S(I_i, I_i)^-1 for every reference indicator r.  With
// B = S(N, N)^-1 formed once, S(I_i, I_i)^-1 = B_-i,-i - b b' / B_ii
// (b = B(I_i, i), the inverse of a principal submatrix by one rank-one
// deletion), so that with G = S(R, N) B
//     g_r(a) = G(r, a) - G(r, i) B(a, i) / B(i, i),   a in I_i,
// which costs O(k q) per row instead of a new inverse of order q.  When
// S(N, N) cannot be inverted each row forms its own inverse (and takes the
// identity when that one fails too), as a row with no common inverse must.
class InstrumentProducts {
   public:
    InstrumentProducts(Solver* sv, std::vector<int32_t> nonRef) : sv_(sv), nonRef_(std::move(nonRef)) {
        const int32_t nn = static_cast<int32_t>(nonRef_.size()), k = sv->lv->k;
        B_.assign(static_cast<size_t>(pk_lower(nn, 0)), 0.0);
        for (int32_t a = 0; a < nn; ++a)
            for (int32_t b = 0; b <= a; ++b) B_[static_cast<size_t>(pk(a, b))] = sv->s(nonRef_[static_cast<size_t>(a)], nonRef_[static_cast<size_t>(b)]);
        double det[2];
        shared_ = coschin(nn, tol_in_units(sv->tol(), nn, B_.data()), det, B_.data()) == 0;
        if (!shared_) return;
        G_.assign(static_cast<size_t>(k) * nn, 0.0);
        std::vector<double> srow(static_cast<size_t>(nn));
        for (int32_t r = 0; r < k; ++r) {
            for (int32_t b = 0; b < nn; ++b) srow[static_cast<size_t>(b)] = sv->s(sv->ref[static_cast<size_t>(r)], nonRef_[static_cast<size_t>(b)]);
            double* g = &G_[static_cast<size_t>(r) * nn];
            for (int32_t a = 0; a < nn; ++a) {
                double v = 0.0;
                for (int32_t b = 0; b < nn; ++b) v += srow[static_cast<size_t>(b)] * B_[static_cast<size_t>(pk(a, b))];
                g[a] = v;
            }
        }
    }

    // g (k rows of q = |N| - 1) for row i, the `t`-th entry of N; inst
    // receives I_i in order.
    void rows_for(int32_t t, std::vector<int32_t>* inst, std::vector<std::vector<double>>* g) const {
        const int32_t nn = static_cast<int32_t>(nonRef_.size()), q = nn - 1, k = sv_->lv->k;
        inst->clear();
        for (int32_t a = 0; a < nn; ++a)
            if (a != t) inst->push_back(nonRef_[static_cast<size_t>(a)]);
        g->assign(static_cast<size_t>(k), std::vector<double>(static_cast<size_t>(q), 0.0));
        if (shared_) {
            const double btt = B_[static_cast<size_t>(pk(t, t))];
            for (int32_t r = 0; r < k; ++r) {
                const double* G = &G_[static_cast<size_t>(r) * nn];
                const double f = G[t] / btt;
                for (int32_t a = 0, x = 0; a < nn; ++a)
                    if (a != t) (*g)[static_cast<size_t>(r)][static_cast<size_t>(x++)] = G[a] - f * B_[static_cast<size_t>(pk(a, t))];
            }
            return;
        }
        std::vector<double> K(static_cast<size_t>(pk_lower(q, 0)));
        for (int32_t a = 0; a < q; ++a)
            for (int32_t b = 0; b <= a; ++b) K[static_cast<size_t>(pk(a, b))] = sv_->s((*inst)[static_cast<size_t>(a)], (*inst)[static_cast<size_t>(b)]);
        double det[2];
        if (coschin(q, tol_in_units(sv_->tol(), q, K.data()), det, K.data()) != 0) {
            std::fill(K.begin(), K.end(), 0.0);
            for (int32_t a = 0; a < q; ++a) K[static_cast<size_t>(pk(a, a))] = 1.0;
        }
        for (int32_t r = 0; r < k; ++r)
            for (int32_t a = 0; a < q; ++a)
                for (int32_t b = 0; b < q; ++b)
                    (*g)[static_cast<size_t>(r)][static_cast<size_t>(a)] +=
                        sv_->s(sv_->ref[static_cast<size_t>(r)], (*inst)[static_cast<size_t>(b)]) * K[static_cast<size_t>(pk(a, b))];
    }

   private:
    Solver* sv_;
    std::vector<int32_t> nonRef_;
    std::vector<double> B_, G_;  // S(N, N)^-1 packed; S(R, N) B by rows
    bool shared_ = false;
};

// Loadings without equality pairs: for each non-reference row, two-stage
// least squares of the row on the reference indicators with the other
// non-reference indicators as instruments.
int32_t ivfald3(Solver* sv) {
    Level& lv = *sv->lv;
    const int32_t q = lv.m - lv.k - 1;
    if (q < 1) return -1;
    if (const int32_t rc = choose_references(sv)) return rc;
    std::vector<int32_t> nonRef;
    for (int32_t j = 0; j < lv.m; ++j)
        if (!sv->is_ref(j)) nonRef.push_back(j);
    const InstrumentProducts products(sv, nonRef);
    std::vector<int32_t> inst;
    std::vector<std::vector<double>> g;
    for (int32_t t = 0; t < static_cast<int32_t>(nonRef.size()); ++t) {
        const int32_t i = nonRef[static_cast<size_t>(t)];
        std::vector<int32_t> free;
        for (int32_t f = 0; f < lv.k; ++f)
            if (wzmis(lv.l(i, f))) free.push_back(f);
        if (free.empty()) continue;
        const int32_t u = static_cast<int32_t>(free.size());
        if (u > q) return -3;
        // g_r = S(r, I) S(I, I)^-1; W(r, r') = g_r S(I, r'); w(r) = g_r S(I, i).
        products.rows_for(t, &inst, &g);
        auto gs = [&](int32_t r, int32_t row) {
            double v = 0.0;
            for (int32_t a = 0; a < q; ++a) v += g[static_cast<size_t>(r)][static_cast<size_t>(a)] * sv->s(inst[static_cast<size_t>(a)], row);
            return v;
        };
        std::vector<double> a(static_cast<size_t>(pk_lower(u, 0))), rhs(static_cast<size_t>(u));
        for (int32_t x = 0; x < u; ++x) {
            const int32_t r = free[static_cast<size_t>(x)];
            for (int32_t y = 0; y <= x; ++y) a[static_cast<size_t>(pk(x, y))] = gs(r, sv->ref[static_cast<size_t>(free[static_cast<size_t>(y)])]);
            double v = gs(r, i);
            for (int32_t c = 0; c < lv.k; ++c)
                if (!wzmis(lv.l(i, c)) && lv.l(i, c) != 0.0) v -= lv.l(i, c) * gs(r, sv->ref[static_cast<size_t>(c)]);
            rhs[static_cast<size_t>(x)] = v;
        }
        double logdet = 0.0;
        if (coscdec(u, tol_in_units(sv->tol(), u, a.data()), &logdet, a.data()) != 0) return -4;
        if (coscsol(u, 1, a.data(), rhs.data()) != 0) return -5;
        std::vector<double> b(static_cast<size_t>(lv.k));
        for (int32_t c = 0; c < lv.k; ++c) b[static_cast<size_t>(c)] = lv.l(i, c);
        for (int32_t x = 0; x < u; ++x) b[static_cast<size_t>(free[static_cast<size_t>(x)])] = rhs[static_cast<size_t>(x)];
        from_reference_coordinates(sv, i, b);
    }
    share_equal_loadings(&lv);
    return inverse_cross_product(sv) ? 0 : 99;
}

// Loadings with equality pairs: one stacked least-squares problem with one
// unknown per distinct parameter of the free loadings.
int32_t ivfald4(Solver* sv) {
    Level& lv = *sv->lv;
    if (const int32_t rc = choose_references(sv)) return rc;
    std::vector<int32_t> params;
    for (size_t a = 0; a < lv.L.size(); ++a)
        if (wzmis(lv.L[a]) && std::find(params.begin(), params.end(), lv.param[a]) == params.end()) params.push_back(lv.param[a]);
    const int32_t np = static_cast<int32_t>(params.size());
    if (np == 0 || np > (lv.m - lv.k) * (lv.m - lv.k - 1)) return -1;
    auto unknown = [&](int32_t i, int32_t c) {
        return static_cast<int32_t>(std::find(params.begin(), params.end(), lv.param[static_cast<size_t>(i) * lv.k + c]) - params.begin());
    };
    std::vector<double> xtx(static_cast<size_t>(pk_lower(np, 0)), 0.0), xty(static_cast<size_t>(np), 0.0);
    int32_t equations = 0;
    for (int32_t i = 0; i < lv.m; ++i) {
        if (sv->is_ref(i)) continue;
        bool any = false;
        for (int32_t c = 0; c < lv.k; ++c) any = any || wzmis(lv.l(i, c));
        if (!any) continue;
        for (int32_t j = 0; j < lv.m; ++j) {
            if (j == i || sv->is_ref(j)) continue;
            std::vector<double> row(static_cast<size_t>(np), 0.0);
            double y = sv->s(i, j);
            for (int32_t c = 0; c < lv.k; ++c) {
                const double src = sv->s(sv->ref[static_cast<size_t>(c)], j);
                if (wzmis(lv.l(i, c))) row[static_cast<size_t>(unknown(i, c))] += src;
                else y -= lv.l(i, c) * src;
            }
            for (int32_t a = 0; a < np; ++a) {
                for (int32_t b = 0; b <= a; ++b) xtx[static_cast<size_t>(pk(a, b))] += row[static_cast<size_t>(a)] * row[static_cast<size_t>(b)];
                xty[static_cast<size_t>(a)] += row[static_cast<size_t>(a)] * y;
            }
            ++equations;
        }
    }
    if (equations < np) return -1;
    double logdet = 0.0;
    if (coscdec(np, tol_in_units(sv->tol(), np, xtx.data()), &logdet, xtx.data()) != 0) return -3;
    if (coscsol(np, 1, xtx.data(), xty.data()) != 0) return -4;
    for (int32_t i = 0; i < lv.m; ++i) {
        if (sv->is_ref(i)) continue;
        bool any = false;
        std::vector<double> b(static_cast<size_t>(lv.k));
        for (int32_t c = 0; c < lv.k; ++c) {
            any = any || wzmis(lv.l(i, c));
            b[static_cast<size_t>(c)] = wzmis(lv.l(i, c)) ? xty[static_cast<size_t>(unknown(i, c))] : lv.l(i, c);
        }
        if (any) from_reference_coordinates(sv, i, b);
    }
    return inverse_cross_product(sv) ? 0 : 99;
}

// The loadings of a level: with equality pairs one stacked problem, else
// row by row; a level without free loadings needs only (L'L)^-1.
int32_t instrumental_loadings(Solver* sv) {
    Level& lv = *sv->lv;
    bool free = false, pairs = false;
    for (size_t a = 0; a < lv.param.size(); ++a) {
        free = free || wzmis(lv.L[a]);
        for (size_t b = a + 1; b < lv.param.size() && !pairs; ++b) pairs = lv.param[a] != 0 && lv.param[a] == lv.param[b];
    }
    if (!free) return inverse_cross_product(sv) ? 0 : -1;
    const int32_t rcx = pairs ? ivfald4(sv) : ivfald3(sv); return rcx != 0 ? -1 : 0;
}

}  // namespace

int32_t cosinjo(StartWork* w) {
    if (w->kind == StartKind::kFactor || w->order == w->n) return 0;
    static const LevelMethod method{2, instrumental_loadings, false, false};
    return run_levels(w, method);
}

}  // namespace velix::detail
