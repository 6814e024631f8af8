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
#include <vector>

#include "host/fields.h"
#include "numerics/packed.h"
#include "numerics/udu.h"
#include "procedure/startvalues/start_moments.h"
#include "velix/codes.h"
#include "velix/host.h"
#include "velix/host_vector.h"
#include "velix/packed_index.h"

namespace velix::detail {
namespace {

// A factor whose estimated variance is not positive starts uncorrelated
// with this variance; unique variances start here when the loadings
// reproduce every indicator exactly.
constexpr double kFallbackVariance = 0.1;

// The factor model of one level: m indicators, k factors.
struct Level {
    int32_t m = 0, k = 0;
    std::vector<int32_t> levelCode, factorNo;  // [N] as classified
    std::vector<double> L;                     // m x k row-major, missing = free
    std::vector<int32_t> param;                // m x k: |parameter| of the loading, 0 fixed or none
    std::vector<int32_t> position;             // [m] position of indicator j
    std::vector<double> T;                     // PackedSym[k]: (L'L)^-1, then Phi
    std::vector<double> U;                     // [m] unique variances, missing = free

    double& l(int32_t j, int32_t f) { return L[static_cast<size_t>(j) * k + f]; }
    bool fixed_zero(int32_t j, int32_t f) const {
        return param[static_cast<size_t>(j) * k + f] == 0 && L[static_cast<size_t>(j) * k + f] == 0.0;
    }
};

struct Solver {
    StartWork* w;
    Level* lv;
    std::vector<int32_t> ref;  // [k] reference row of each factor

    double s(int32_t a, int32_t b) const {
        return w->get(lv->position[static_cast<size_t>(a)], lv->position[static_cast<size_t>(b)]);
    }
    double tol() const { return w->ctx->options.singular; }
    bool is_ref(int32_t j) const { return std::find(ref.begin(), ref.end(), j) != ref.end(); }
};

// Indicators and factors of the level; false when there is no indicator.
bool classify(StartWork* w, Level* lv) {
    std::vector<int32_t>& code = w->complete;
    for (int32_t i = 0; i < w->order; ++i) {
        if (code[i] == 0) continue;
        bool known = false, any = false;
        for (int32_t p : w->equation[static_cast<size_t>(i)]) {
            any = true;
            known = known || code[w->paths[static_cast<size_t>(p)].col] != 0;
        }
        code[i] = known || !any ? -1 : ++lv->m;
        if (code[i] > 0) lv->position.push_back(i);
    }
    lv->factorNo.assign(static_cast<size_t>(w->order), 0);
    for (const StartPath& p : w->paths)
        if (code[p.row] >= 1 && lv->factorNo[static_cast<size_t>(p.col)] == 0) lv->factorNo[static_cast<size_t>(p.col)] = ++lv->k;
    lv->levelCode = code;
    return lv->m > 0;
}

// The loading matrix from the path elements; the number of free loadings.
int32_t loadings_of(StartWork* w, Level* lv) {
    lv->L.assign(static_cast<size_t>(lv->m) * lv->k, 0.0);
    lv->param.assign(lv->L.size(), 0);
    int32_t missing = 0;
    const double miss = host_missing_value();
    for (const StartPath& p : w->paths) {
        const int32_t j = lv->levelCode[static_cast<size_t>(p.row)] - 1, f = lv->factorNo[static_cast<size_t>(p.col)] - 1;
        if (j < 0 || f < 0) continue;
        const int32_t q = w->parameter(p.e);
        lv->param[static_cast<size_t>(j) * lv->k + f] = q;
        lv->l(j, f) = q == 0 ? w->value(p.e) : miss;
        missing += q != 0;
    }
    return missing;
}

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
            for (int32_t c = 0; c < lv.k && f > 0; ++c) {
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

// T := (L'L)^-1; false when L'L is singular.
bool inverse_cross_product(Solver* sv) {
    Level& lv = *sv->lv;
    lv.T.assign(static_cast<size_t>(pk_lower(lv.k, 0)), 0.0);
    for (int32_t f = 0; f < lv.k; ++f)
        for (int32_t g = 0; g <= f; ++g) lv.T[static_cast<size_t>(pk(f, g))] = zvdotjj(&lv.l(0, f), lv.k, &lv.l(0, g), lv.k, lv.m);
    double det[2];
    return coschin(lv.k, sv->tol(), det, lv.T.data()) == 0;
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

// Loadings without equality pairs: for each non-reference row, two-stage
// least squares of the row on the reference indicators with the other
// non-reference indicators as instruments.
int32_t ivfald3(Solver* sv) {
    Level& lv = *sv->lv;
    const int32_t q = lv.m - lv.k - 1;
    if (q < 1) return -1;
    if (const int32_t rc = choose_references(sv)) return rc;
    for (int32_t i = 0; i < lv.m; ++i) {
        if (sv->is_ref(i)) continue;
        std::vector<int32_t> free;
        for (int32_t f = 0; f < lv.k; ++f)
            if (wzmis(lv.l(i, f))) free.push_back(f);
        if (free.empty()) continue;
        const int32_t u = static_cast<int32_t>(free.size());
        if (u > q) return -3;
        std::vector<int32_t> inst;
        for (int32_t j = 0; j < lv.m; ++j)
            if (j != i && !sv->is_ref(j)) inst.push_back(j);
        std::vector<double> K(static_cast<size_t>(pk_lower(q, 0)));
        for (int32_t a = 0; a < q; ++a)
            for (int32_t b = 0; b <= a; ++b) K[static_cast<size_t>(pk(a, b))] = sv->s(inst[static_cast<size_t>(a)], inst[static_cast<size_t>(b)]);
        double det[2];
        if (coschin(q, sv->tol(), det, K.data()) != 0) {
            std::fill(K.begin(), K.end(), 0.0);
            for (int32_t a = 0; a < q; ++a) K[static_cast<size_t>(pk(a, a))] = 1.0;
        }
        // g_r = S(r, I) K; W(r, r') = g_r S(I, r'); w(r) = g_r S(I, i).
        std::vector<std::vector<double>> g(static_cast<size_t>(lv.k), std::vector<double>(static_cast<size_t>(q), 0.0));
        for (int32_t r = 0; r < lv.k; ++r)
            for (int32_t a = 0; a < q; ++a)
                for (int32_t b = 0; b < q; ++b)
                    g[static_cast<size_t>(r)][static_cast<size_t>(a)] +=
                        sv->s(sv->ref[static_cast<size_t>(r)], inst[static_cast<size_t>(b)]) * K[static_cast<size_t>(pk(a, b))];
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
        if (coscdec(u, sv->tol(), &logdet, a.data()) != 0) return -4;
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
    if (coscdec(np, sv->tol(), &logdet, xtx.data()) != 0) return -3;
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

// Free unique variances from the loadings: with P = L (L'L)^-1 L', the
// moments of the indicators give (I - P o P) U = diag(S) - diag(P S P).
int32_t ivfauv1(Solver* sv) {
    Level& lv = *sv->lv;
    const int32_t m = lv.m;
    std::vector<double> P(static_cast<size_t>(pk_lower(m, 0))), work(static_cast<size_t>(lv.k));
    zqform(lv.T.data(), lv.k, lv.L.data(), m, P.data(), work.data(), 0);
    double off = 0.0;
    for (int32_t a = 0; a < m; ++a)
        for (int32_t b = 0; b <= a; ++b) {
            const double d = P[static_cast<size_t>(pk(a, b))] - (a == b ? 1.0 : 0.0);
            off += d * d;
        }
    if (off <= kStartTiny) {
        for (double& u : lv.U)
            if (wzmis(u)) u = kFallbackVariance;
        return 0;
    }
    std::vector<double> r(static_cast<size_t>(m)), Q(P.size());
    for (int32_t j = 0; j < m; ++j) {
        double v = sv->s(j, j);
        for (int32_t a = 0; a < m; ++a)
            for (int32_t b = 0; b < m; ++b) v -= P[static_cast<size_t>(pk(j, a))] * sv->s(a, b) * P[static_cast<size_t>(pk(b, j))];
        r[static_cast<size_t>(j)] = v;
        for (int32_t a = 0; a <= j; ++a) {
            const double p = P[static_cast<size_t>(pk(j, a))];
            Q[static_cast<size_t>(pk(j, a))] = (a == j ? 1.0 : 0.0) - p * p;
        }
    }
    std::vector<int32_t> free;
    for (int32_t j = 0; j < m; ++j)
        if (wzmis(lv.U[static_cast<size_t>(j)])) free.push_back(j);
    if (static_cast<int32_t>(free.size()) == m) {
        std::vector<int32_t> pivots(static_cast<size_t>(m));
        if (zududec(m, sv->tol(), nullptr, Q.data(), pivots.data()) != 0) return 1;
        zudusol(m, 1, 1, Q.data(), r.data(), pivots.data());
        lv.U = r;
        return 0;
    }
    for (int32_t j = 0; j < m; ++j)
        for (int32_t a = 0; a < m; ++a)
            if (!wzmis(lv.U[static_cast<size_t>(a)])) r[static_cast<size_t>(j)] -= Q[static_cast<size_t>(pk(j, a))] * lv.U[static_cast<size_t>(a)];
    const int32_t u = static_cast<int32_t>(free.size());
    std::vector<double> a(static_cast<size_t>(pk_lower(u, 0)), 0.0), b(static_cast<size_t>(u), 0.0);
    for (int32_t x = 0; x < u; ++x) {
        for (int32_t j = 0; j < m; ++j) {
            const double qx = Q[static_cast<size_t>(pk(free[static_cast<size_t>(x)], j))];
            b[static_cast<size_t>(x)] += qx * r[static_cast<size_t>(j)];
            for (int32_t y = 0; y <= x; ++y) a[static_cast<size_t>(pk(x, y))] += qx * Q[static_cast<size_t>(pk(free[static_cast<size_t>(y)], j))];
        }
    }
    double logdet = 0.0;
    if (u > 0 && coscdec(u, sv->tol(), &logdet, a.data()) != 0) return 2;
    if (u > 0 && coscsol(u, 1, a.data(), b.data()) != 0) return 3;
    for (int32_t x = 0; x < u; ++x) lv.U[static_cast<size_t>(free[static_cast<size_t>(x)])] = std::max(b[static_cast<size_t>(x)], 0.0);
    return 0;
}

// Factor covariances Phi = A L'(S - U) L A, A = (L'L)^-1, written over T.
int32_t ivfafc1(Solver* sv) {
    Level& lv = *sv->lv;
    const int32_t m = lv.m, k = lv.k;
    std::vector<double> M(static_cast<size_t>(k) * k, 0.0);
    for (int32_t a = 0; a < m; ++a)
        for (int32_t b = 0; b < m; ++b) {
            double s = sv->s(a, b);
            if (wzmis(s)) return -1;
            if (a == b) s -= lv.U[static_cast<size_t>(a)];
            for (int32_t f = 0; f < k; ++f)
                for (int32_t g = 0; g < k; ++g) M[static_cast<size_t>(f) * k + g] += lv.l(a, f) * s * lv.l(b, g);
        }
    auto A = [&](int32_t f, int32_t g) { return lv.T[static_cast<size_t>(pk(f, g))]; };
    std::vector<double> phi(lv.T.size(), 0.0);
    for (int32_t f = 0; f < k; ++f)
        for (int32_t g = 0; g <= f; ++g) {
            double v = 0.0;
            for (int32_t a = 0; a < k; ++a)
                for (int32_t b = 0; b < k; ++b) v += A(f, a) * M[static_cast<size_t>(a) * k + b] * A(b, g);
            phi[static_cast<size_t>(pk(f, g))] = v;
        }
    lv.T = phi;
    for (int32_t f = 0; f < k; ++f) {
        if (lv.T[static_cast<size_t>(pk(f, f))] > 0.0) continue;
        for (int32_t g = 0; g < k; ++g) lv.T[static_cast<size_t>(pk(f, g))] = 0.0;
        lv.T[static_cast<size_t>(pk(f, f))] = kFallbackVariance;
    }
    return 0;
}

// Unique variances: fixed ones from the model, free ones estimated,
// clamped to [0, 1] for correlations and to [0, inf) for covariances.
void unique_variances(Solver* sv) {
    StartWork* w = sv->w;
    Level& lv = *sv->lv;
    lv.U.assign(static_cast<size_t>(lv.m), 0.0);
    for (const StartVariance& v : w->variances) {
        const int32_t j = v.r == v.c ? lv.levelCode[static_cast<size_t>(v.r)] - 1 : -1;
        if (j >= 0) lv.U[static_cast<size_t>(j)] = w->parameter(v.e) == 0 ? w->value(v.e) : host_missing_value();
    }
    if (ivfauv1(sv) != 0) lv.U.assign(lv.U.size(), 0.0);
    for (double& u : lv.U) {
        if (wzmis(u) || u < 0.0) u = 0.0;
        if (!w->ctx->options.covAnalysis && u > 1.0) u = 1.0;
    }
}

// Multiplies row and column f of Phi by c (the diagonal by c squared).
void scale_factor_moments(Level* lv, int32_t f, double c) {
    for (int32_t g = 0; g < lv->k; ++g) lv->T[static_cast<size_t>(pk(f, g))] *= g == f ? c * c : c;
}

// The scale of each factor: its fixed variance, else the mean ratio of its
// fixed loadings to their estimates.
void scale_factors(Solver* sv) {
    StartWork* w = sv->w;
    Level& lv = *sv->lv;
    for (int32_t f = 0; f < lv.k; ++f) {
        int32_t fixedVar = -1;
        for (const StartVariance& v : w->variances)
            if (v.r == v.c && lv.factorNo[static_cast<size_t>(v.r)] == f + 1 && w->parameter(v.e) == 0 && w->value(v.e) != 0.0 &&
                !wzmis(w->value(v.e)))
                fixedVar = v.e;
        const double phi = lv.T[static_cast<size_t>(pk(f, f))];
        if (fixedVar >= 0) {
            const double ratio = std::fabs(phi) > kStartEpsilon ? std::fabs(w->value(fixedVar) / phi) : 1.0;
            if (ratio <= kStartEpsilon || ratio == 1.0) continue;
            const double s = std::sqrt(ratio);
            for (int32_t j = 0; j < lv.m; ++j) lv.l(j, f) /= s;
            scale_factor_moments(&lv, f, s);
            continue;
        }
        double product = 1.0;
        int32_t count = 0;
        for (const StartPath& p : w->paths) {
            const int32_t j = lv.levelCode[static_cast<size_t>(p.row)] - 1;
            if (lv.factorNo[static_cast<size_t>(p.col)] != f + 1 || j < 0 || w->parameter(p.e) != 0) continue;
            const double lambda = w->value(p.e);
            if (lambda == 0.0 || std::fabs(lv.l(j, f)) <= kStartEpsilon) continue;
            product *= lambda / lv.l(j, f);
            ++count;
        }
        if (count == 0 || std::fabs(product) <= kStartTiny || product == 1.0) continue;
        double g = std::pow(std::fabs(product), 1.0 / count);
        if (product < 0.0) g = -g;
        if (std::fabs(g) <= kStartEpsilon || g == 1.0) continue;
        for (int32_t j = 0; j < lv.m; ++j) lv.l(j, f) *= g;
        // The factor's scale changes by 1/g: its moments follow, so that
        // L Phi L' stays the moments the loadings were estimated from.
        scale_factor_moments(&lv, f, 1.0 / g);
    }
}

// Writes the missing loadings, then gives every parameter the mean of its
// known values (clamped to its bounds).  The number of loadings written.
int32_t write_loadings(StartWork* w, Level* lv) {
    ProcContext* ctx = w->ctx;
    int32_t written = 0;
    for (const StartPath& p : w->paths) {
        const int32_t j = lv->levelCode[static_cast<size_t>(p.row)] - 1, f = lv->factorNo[static_cast<size_t>(p.col)] - 1;
        if (j < 0 || f < 0 || !wzmis(w->value(p.e)) || w->parameter(p.e) == 0) continue;
        w->value(p.e) = away_from_zero(lv->l(j, f), kCoefficientFloor);
        ++written;
    }
    const ElementPattern& el = ctx->elements;
    const NlpProblem* nlp = ctx->nlp;
    for (int32_t q = 1; q <= ctx->nParmAll; ++q) {
        double sum = 0.0;
        int32_t count = 0;
        for (int32_t e = 0; e < ctx->nElements; ++e)
            if (std::abs(el.parameter[e]) == q && !wzmis(el.value[e])) sum += el.value[e], ++count;
        if (count == 0) continue;
        double mean = sum / count;
        if (nlp != nullptr && nlp->hasBounds && q <= ctx->nParmFree) {
            if (nlp->lower && !wzmis(nlp->lower[q - 1])) mean = std::max(mean, nlp->lower[q - 1]);
            if (nlp->upper && !wzmis(nlp->upper[q - 1])) mean = std::min(mean, nlp->upper[q - 1]);
        }
        for (int32_t e = 0; e < ctx->nElements; ++e)
            if (std::abs(el.parameter[e]) == q) el.value[e] = mean;
    }
    return written;
}

// The latent rows of the start moments: each factor with the indicators
// (L Phi) and with the other factors (Phi).
void latent_rows(StartWork* w, Level* lv) {
    for (int32_t i = 0; i < w->order; ++i) {
        const int32_t f = lv->factorNo[static_cast<size_t>(i)] - 1;
        if (f < 0) continue;
        for (int32_t j = 0; j < lv->m; ++j) {
            double v = 0.0;
            for (int32_t l = 0; l < lv->k; ++l) v += lv->l(j, l) * lv->T[static_cast<size_t>(pk(l, f))];
            w->at(i, lv->position[static_cast<size_t>(j)]) = v;
        }
        for (int32_t b = w->n; b < w->order; ++b) {
            const int32_t g = lv->factorNo[static_cast<size_t>(b)] - 1;
            if (g >= 0) w->at(i, b) = lv->T[static_cast<size_t>(pk(f, g))];
        }
    }
}

// Carries the moments of this level's factors with its indicators down
// through the loadings of the earlier levels to their indicators.  False
// when the levels do not link (an inconsistency; the level stops).
bool earlier_levels(StartWork* w, const std::vector<Level>& done, const Level& cur) {
    std::vector<double> H(static_cast<size_t>(cur.m) * cur.k);
    for (int32_t j = 0; j < cur.m; ++j)
        for (int32_t i = 0; i < w->order; ++i)
            if (cur.factorNo[static_cast<size_t>(i)] >= 1)
                H[static_cast<size_t>(j) * cur.k + cur.factorNo[static_cast<size_t>(i)] - 1] = w->get(cur.position[static_cast<size_t>(j)], i);
    const std::vector<int32_t>* codes = &cur.levelCode;
    int32_t rows = cur.m;
    for (size_t q = done.size(); q-- > 0;) {
        const Level& lq = done[q];
        std::vector<int32_t> t(static_cast<size_t>(rows), -1);
        for (int32_t b = 0; b < rows; ++b) {
            for (int32_t p = 0; p < w->order; ++p)
                if ((*codes)[static_cast<size_t>(p)] == b + 1) t[static_cast<size_t>(b)] = lq.factorNo[static_cast<size_t>(p)] - 1;
            if (t[static_cast<size_t>(b)] < 0) return false;
        }
        std::vector<double> next(static_cast<size_t>(lq.m) * cur.k, 0.0);
        for (int32_t a = 0; a < lq.m; ++a)
            for (int32_t g = 0; g < cur.k; ++g)
                for (int32_t b = 0; b < rows; ++b)
                    next[static_cast<size_t>(a) * cur.k + g] +=
                        lq.L[static_cast<size_t>(a) * lq.k + t[static_cast<size_t>(b)]] * H[static_cast<size_t>(b) * cur.k + g];
        for (int32_t v = 0; v < w->order; ++v) {
            const int32_t a = lq.levelCode[static_cast<size_t>(v)] - 1;
            if (a < 0) continue;
            for (int32_t x = 0; x < w->order; ++x)
                if (cur.factorNo[static_cast<size_t>(x)] >= 1)
                    w->at(v, x) = next[static_cast<size_t>(a) * cur.k + cur.factorNo[static_cast<size_t>(x)] - 1];
        }
        H = next;
        rows = lq.m;
        codes = &lq.levelCode;
    }
    return true;
}

// One level; 0 when it ran through, else the code that stops the levels.
int32_t run_level(StartWork* w, std::vector<Level>* done, Level* lv, int32_t* written) {
    const int32_t free = loadings_of(w, lv);
    Solver sv{w, lv, {}};
    if (free > 0) {
        int32_t pairs = 0;
        for (size_t a = 0; a < lv->param.size(); ++a)
            for (size_t b = a + 1; b < lv->param.size(); ++b) pairs += lv->param[a] != 0 && lv->param[a] == lv->param[b];
        if ((pairs > 0 ? ivfald4(&sv) : ivfald3(&sv)) != 0) return -1;
    } else if (!inverse_cross_product(&sv)) {
        return -1;
    }
    unique_variances(&sv);
    if (ivfafc1(&sv) != 0) {
        lv->T.assign(lv->T.size(), 0.0);
        for (int32_t f = 0; f < lv->k; ++f) lv->T[static_cast<size_t>(pk(f, f))] = 1.0;
    }
    scale_factors(&sv);
    *written += write_loadings(w, lv);
    latent_rows(w, lv);
    if (!done->empty() && !earlier_levels(w, *done, *lv)) {
        xpmlog(kMsgProc, 59);
        return -1;
    }
    done->push_back(*lv);
    return 0;
}

}  // namespace

int32_t cosinjo(StartWork* w) {
    if (w->kind == StartKind::kFactor || w->order == w->n) return 0;
    std::vector<Level> done;
    int32_t written = 0, code = 0, m0 = 0, k0 = 0;
    for (;;) {
        Level lv;
        if (!classify(w, &lv)) break;
        if (done.empty()) m0 = lv.m, k0 = lv.k;
        if (lv.k > lv.m || lv.m > m0 || lv.k > k0) {
            code = 2;
            break;
        }
        code = run_level(w, &done, &lv, &written);
        if (code != 0) break;
        for (int32_t i = 0; i < w->order; ++i)
            if (w->complete[i] != 0 || lv.factorNo[static_cast<size_t>(i)] >= 1) w->complete[i] = 1;
    }
    // Restore the known/unknown marks of a level that stopped.
    for (int32_t& c : w->complete) c = c != 0 ? 1 : 0;
    if (written > 0) return 0;
    return code != 0 ? code : 1;
}

}  // namespace velix::detail
