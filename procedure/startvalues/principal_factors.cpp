// Latent-variable start values by principal factors: the second estimator
// of the latent moments, for the levels where the instrumental variables
// fail (a factor with too few indicators to instrument).  The loadings of
// a level are the k leading principal factors of the indicator moments
// less starting unique variances (Harman, "Modern Factor Analysis", 1976,
// ch. 8), their columns matched to the factors by the fixed loadings, and
// turned toward the model's pattern: by the least-squares transformation
// L X ~ B when the factor covariances are free (an oblique target
// rotation; Browne 1972, "Oblique rotation to a partially specified
// target"), else by the orthogonal Procrustes rotation.  The rest of a
// level is that of the instrumental-variable estimator.
#include <cfloat>
#include <cmath>
#include <vector>

#include "host/fields.h"
#include "numerics/packed.h"
#include "numerics/normal_equations.h"
#include "procedure/startvalues/factor_starts.h"
#include "procedure/startvalues/latent_levels.h"
#include "velix/packed_index.h"

namespace velix::detail {
namespace {

// Without a usable inverse a unique variance starts at 0.36 s_jj (a
// variance, as the other route gives, not 0.36 s_jj^2).
constexpr double kUniqueShare = 0.36;

// The pattern of a level's variance elements: every pair of factors has a
// free covariance (phiFree); every indicator variance and covariance is
// fixed at zero (noUniqueParts).
struct LevelPattern {
    bool phiFree = true, noUniqueParts = true;
};

LevelPattern pattern_of(const StartWork* w, const Level& lv) {
    LevelPattern p;
    std::vector<char> freePair(static_cast<size_t>(pk_lower(lv.k, 0)), 0);
    for (const StartVariance& v : w->variances) {
        const int32_t f = lv.factorNo[static_cast<size_t>(v.r)], g = lv.factorNo[static_cast<size_t>(v.c)];
        if (f >= 1 && g >= 1 && w->parameter(v.e) != 0) freePair[static_cast<size_t>(pk(f - 1, g - 1))] = 1;
        if (lv.levelCode[static_cast<size_t>(v.r)] >= 1 && lv.levelCode[static_cast<size_t>(v.c)] >= 1)
            p.noUniqueParts = p.noUniqueParts && w->parameter(v.e) == 0 && w->value(v.e) == 0.0;
    }
    for (char c : freePair) p.phiFree = p.phiFree && c;
    return p;
}

// Starting unique parts of the indicators, which the principal factors
// subtract from the indicator moments: the square roots of variances from
// the inverse moment matrix when every indicator is manifest and the
// moment step could invert S, else of a share of the variance; scaled
// toward the fixed unique variances, which replace their own.  (On
// correlations the square root, the larger, leaves smaller communalities
// on the reduced diagonal.)
std::vector<double> start_uniques(const Solver& sv) {
    const StartWork* w = sv.w;
    const Level& lv = *sv.lv;
    const ProcContext* ctx = w->ctx;
    std::vector<double> U(static_cast<size_t>(lv.m));
    bool usable = !wzmis(ctx->moments.logDetMoments) && ctx->moments.logDetMoments != -DBL_MAX &&
                  ctx->arrays.momentInverse != nullptr;
    for (int32_t j = 0; j < lv.m && usable; ++j) {
        const int32_t p = lv.position[static_cast<size_t>(j)];
        usable = p < w->n && ctx->arrays.momentInverse[pk(p, p)] >= kStartEpsilon;
    }
    for (int32_t j = 0; j < lv.m; ++j) {
        const int32_t p = lv.position[static_cast<size_t>(j)];
        U[static_cast<size_t>(j)] = std::sqrt(usable ? (1.0 - 0.5 * lv.k / lv.m) / ctx->arrays.momentInverse[pk(p, p)]
                                                     : kUniqueShare * sv.s(j, j));
    }
    double product = 1.0;
    int32_t count = 0;
    auto indicator = [&](const StartVariance& v) {
        return v.r == v.c ? lv.levelCode[static_cast<size_t>(v.r)] - 1 : -1;
    };
    for (const StartVariance& v : w->variances) {
        const int32_t j = indicator(v);
        if (j < 0 || w->parameter(v.e) != 0 || U[static_cast<size_t>(j)] <= kStartEpsilon) continue;
        product *= w->value(v.e) / U[static_cast<size_t>(j)];
        ++count;
    }
    if (count > 0) {
        const double g = product >= 0.0 ? std::pow(product, 1.0 / count) : 1.0;
        for (const StartVariance& v : w->variances) {
            const int32_t j = indicator(v);
            if (j < 0) continue;
            double& u = U[static_cast<size_t>(j)];
            u = w->parameter(v.e) == 0 ? w->value(v.e) : g * u;
        }
    }
    for (double& u : U) {
        if (wzmis(u) || u < 0.0) u = 0.0;
        if (!ctx->options.covAnalysis && u > 1.0) u = 1.0;
    }
    return U;
}

// Matches the eigen columns to the factors: the factor with the most fixed
// loadings first takes the column closest to its fixed loadings.
void match_columns(const Level& lv, std::vector<double>* L0) {
    const int32_t m = lv.m, k = lv.k;
    std::vector<int32_t> h(static_cast<size_t>(k), 0);
    auto fixed = [&](int32_t j, int32_t f) {
        const size_t a = static_cast<size_t>(j) * k + f;
        return lv.element[a] && lv.param[a] == 0;
    };
    for (int32_t j = 0; j < m; ++j)
        for (int32_t f = 0; f < k; ++f) h[static_cast<size_t>(f)] += fixed(j, f);
    for (;;) {
        int32_t top = 0;
        for (int32_t f = 1; f < k; ++f)
            if (h[static_cast<size_t>(f)] > h[static_cast<size_t>(top)]) top = f;
        if (h[static_cast<size_t>(top)] <= 0) break;
        int32_t best = top;
        double bestFit = DBL_MAX;
        for (int32_t c = 0; c < k; ++c) {
            if (h[static_cast<size_t>(c)] <= 0) continue;
            double fit = 0.0;
            for (int32_t j = 0; j < m; ++j)
                if (fixed(j, top)) {
                    const double d = lv.L[static_cast<size_t>(j) * k + top] - (*L0)[static_cast<size_t>(j) * k + c];
                    fit += d * d;
                }
            if (fit < bestFit) bestFit = fit, best = c;
        }
        if (best != top)
            for (int32_t j = 0; j < m; ++j)
                std::swap((*L0)[static_cast<size_t>(j) * k + best], (*L0)[static_cast<size_t>(j) * k + top]);
        h[static_cast<size_t>(top)] = 0;
    }
}

// Oblique target transformation L0 := L0 X with X the least-squares
// solution of L0 X = B; false when it fails or X'X is singular.
bool oblique_target(const Solver& sv, const std::vector<double>& B, std::vector<double>* L0) {
    const int32_t m = sv.lv->m, k = sv.lv->k;
    std::vector<double> a(static_cast<size_t>(m) * k), b(a.size()), x(static_cast<size_t>(k) * k),
        work(static_cast<size_t>(pk_lower(k, 0) + k));
    for (int32_t j = 0; j < m; ++j)
        for (int32_t f = 0; f < k; ++f) {
            a[static_cast<size_t>(f) * m + j] = (*L0)[static_cast<size_t>(j) * k + f];
            b[static_cast<size_t>(f) * m + j] = B[static_cast<size_t>(j) * k + f];
        }
    if (zprcrst(m, k, a.data(), b.data(), x.data(), work.data()) >= 1) return false;
    std::vector<double> xtx(static_cast<size_t>(pk_lower(k, 0)), 0.0);
    for (int32_t f = 0; f < k; ++f)
        for (int32_t g = 0; g <= f; ++g)
            for (int32_t i = 0; i < k; ++i)
                xtx[static_cast<size_t>(pk(f, g))] += x[static_cast<size_t>(f) * k + i] * x[static_cast<size_t>(g) * k + i];
    double det[2];
    if (coschin(k, sv.tol(), det, xtx.data()) != 0) return false;
    std::vector<double> out(L0->size(), 0.0);
    for (int32_t j = 0; j < m; ++j)
        for (int32_t c = 0; c < k; ++c)
            for (int32_t i = 0; i < k; ++i)
                out[static_cast<size_t>(j) * k + c] += (*L0)[static_cast<size_t>(j) * k + i] * x[static_cast<size_t>(c) * k + i];
    *L0 = out;
    return true;
}

// The loadings of a level by principal factors and target rotation.
int32_t principal_factor_loadings(Solver* sv) {
    Level& lv = *sv->lv;
    const LevelPattern pattern = pattern_of(sv->w, lv);
    bool free = false;
    for (double v : lv.L) free = free || wzmis(v);
    if (free) {
        std::vector<double> U =
            pattern.noUniqueParts ? std::vector<double>(static_cast<size_t>(lv.m), 0.0) : start_uniques(*sv);
        std::vector<double> s(static_cast<size_t>(pk_lower(lv.m, 0))), L0;
        for (int32_t a = 0; a < lv.m; ++a)
            for (int32_t b = 0; b <= a; ++b) s[static_cast<size_t>(pk(a, b))] = sv->s(a, b);
        if (!principal_factors(lv.m, lv.k, s, &U, pattern.noUniqueParts, kStartTiny, &L0)) return -4;
        match_columns(lv, &L0);
        std::vector<double> B(L0.size(), 0.0);
        for (size_t a = 0; a < B.size(); ++a)
            if (lv.element[a]) B[a] = lv.param[a] == 0 ? lv.L[a] : L0[a];
        if (!pattern.phiFree || !oblique_target(*sv, B, &L0)) {
            std::vector<double> r(static_cast<size_t>(lv.k) * lv.k);
            double trace = 0.0;
            if (orproc(lv.m, lv.k, L0.data(), B.data(), r.data(), &trace) == 0) {
                std::vector<double> out(L0.size(), 0.0);
                for (int32_t j = 0; j < lv.m; ++j)
                    for (int32_t f = 0; f < lv.k; ++f)
                        for (int32_t g = 0; g < lv.k; ++g)
                            out[static_cast<size_t>(j) * lv.k + f] +=
                                L0[static_cast<size_t>(j) * lv.k + g] * r[static_cast<size_t>(g) * lv.k + f];
                L0 = out;
            }
        }
        lv.L = L0;
    }
    return inverse_cross_product(sv) ? 0 : -5;
}

}  // namespace

int32_t cosinf2(StartWork* w) {
    if (w->kind == StartKind::kFactor || w->order == w->n) return 0;
    static const LevelMethod method{-2, principal_factor_loadings, true, true};
    return run_levels(w, method);
}

}  // namespace velix::detail
