// Non-iterative start values from the moments: composites for the moments
// of the latent variables (the sums of their indicators, each with the
// sign of its covariance with the first), ordinary least squares of the
// structural coefficients (pooled over every equation, so that a parameter
// shared by several elements is one unknown, or equation by equation), and
// the error variances and covariances as the covariances of the equation
// residuals, e'S e with e = (I - B) row.  Least squares on the moment
// equations S_xy = S_xx b is the method of moments form of OLS (Bollen,
// "Structural Equations with Latent Variables", 1989, ch. 4; composites:
// Gorsuch, "Factor Analysis", 1983, ch. 12).
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <vector>

#include "host/fields.h"
#include "numerics/kernel_support.h"
#include "procedure/startvalues/start_moments.h"

namespace velix::detail {
namespace {

// Off-diagonal correlations this close to zero are rounding (1000 machine
// epsilons) and are set to zero.
constexpr double kRoundoffCorrelation = 1000 * velix::kMachEpsWritten;
// Residual moments are kept at least 0.001 from zero (coefficients at
// kCoefficientFloor), residual variances at least at 0.01, both in the
// units of the variables.
constexpr double kResidualFloor = 0.001;
constexpr double kVarianceFloor = 0.01;

// The indicators of each latent position (the rows of the paths whose
// column it is), in element order.  A loading fixed at zero (a FACTOR
// pattern writes them out) makes no indicator: a composite of variables
// the factor does not explain would not measure it.
std::vector<std::vector<int32_t>> indicators_of(const StartWork* w) {
    std::vector<std::vector<int32_t>> out(static_cast<size_t>(w->order));
    for (const StartPath& p : w->paths)
        if (p.col >= w->n && (w->parameter(p.e) != 0 || w->value(p.e) != 0.0)) out[static_cast<size_t>(p.col)].push_back(p.row);
    return out;
}

// A composite's indicators, each with the sign it enters with.
struct Composite {
    std::vector<int32_t> rows;
    std::vector<double> signs;
};

// The indicators of latent position L whose moments are known, each
// entering with the sign of its covariance with the first (+1 where that
// is 0 or not known yet): a reverse-keyed item enters reversed, so that
// it adds to the composite rather than cancel the others.
Composite composite_of(const StartWork* w, const std::vector<int32_t>& ind, const std::vector<double>& sd) {
    Composite c;
    for (int32_t a : ind) {
        if (wzmis(sd[a])) continue;
        const double x = c.rows.empty() ? 1.0 : w->get(a, c.rows.front());
        c.rows.push_back(a);
        c.signs.push_back(!wzmis(x) && x < 0.0 ? -1.0 : 1.0);
    }
    return c;
}

// Sum of +-s(a, b) over a in as, b in bs; missing when an entry is.
double block_sum(const StartWork* w, const Composite& as, const Composite& bs) {
    double v = 0.0;
    for (size_t i = 0; i < as.rows.size(); ++i)
        for (size_t j = 0; j < bs.rows.size(); ++j) {
            const double x = w->get(as.rows[i], bs.rows[j]);
            if (wzmis(x)) return x;
            v += as.signs[i] * bs.signs[j] * x;
        }
    return v;
}

// Multiplies row and column i of the known entries by f (the diagonal by
// f squared).
void scale_row(StartWork* w, int32_t i, double f) {
    for (int32_t j = 0; j < w->order; ++j) {
        double& x = w->at(i, j);
        if (!wzmis(x)) x *= j == i ? f * f : f;
    }
}

// One pass of the composites over the latent positions; the number of
// latent variables it scaled.
int32_t composite_pass(StartWork* w, const std::vector<std::vector<int32_t>>& ind, const std::vector<double>& sd,
                       std::vector<double>* scale) {
    std::vector<double>& s = *scale;
    int32_t scaled = 0;
    for (int32_t L = w->n; L < w->order; ++L) {
        if (!wzmis(s[L]) && s[L] >= 0.0) continue;
        const Composite I = composite_of(w, ind[static_cast<size_t>(L)], sd);
        if (I.rows.empty()) continue;
        const double v = block_sum(w, I, I);
        if (wzmis(v) || v <= DBL_MIN) {
            // Not scalable: its moments are not divided by a zero or
            // negative scale; a later method may still find them.
            s[L] = -1.0;
            continue;
        }
        s[L] = std::sqrt(v);
        ++scaled;
        for (int32_t k = 0; k < w->order; ++k) {
            if (wzmis(sd[k]) || !wzmis(w->get(k, L))) continue;
            const double sum = block_sum(w, I, Composite{{k}, {1.0}});
            if (!wzmis(sum)) w->at(k, L) = sum / s[L];
        }
        if (wzmis(w->get(L, L))) w->at(L, L) = 1.0;
        for (int32_t M = w->n; M < w->order; ++M) {
            if (M == L || wzmis(s[M]) || s[M] <= 0.0 || !wzmis(w->get(L, M))) continue;
            const double sum = block_sum(w, I, composite_of(w, ind[static_cast<size_t>(M)], sd));
            if (!wzmis(sum)) w->at(L, M) = sum / (s[L] * s[M]);
        }
    }
    return scaled;
}

// The moment equations of one equation y = sum c_k x_k, one row per
// regressor: coefficients over the unknowns (column of `term`, -1 for a
// fixed regressor), right-hand side less the fixed terms.  False when a
// moment is missing.
bool moment_rows(const StartWork* w, int32_t y, const std::vector<int32_t>& term, int32_t nTerms,
                 std::vector<std::vector<double>>* rows, std::vector<double>* rhs) {
    const std::vector<int32_t>& eq = w->equation[static_cast<size_t>(y)];
    for (int32_t xj : eq) {
        const int32_t j = w->paths[static_cast<size_t>(xj)].col;
        std::vector<double> row(static_cast<size_t>(nTerms), 0.0);
        double b = w->get(j, y);
        if (wzmis(b)) return false;
        for (size_t k = 0; k < eq.size(); ++k) {
            const StartPath& xk = w->paths[static_cast<size_t>(eq[k])];
            const double sjk = w->get(j, xk.col);
            if (wzmis(sjk)) return false;
            if (term[k] >= 0) row[static_cast<size_t>(term[k])] += sjk;
            else b -= w->value(xk.e) * sjk;
        }
        rows->push_back(std::move(row));
        rhs->push_back(b);
    }
    return true;
}

// Least-squares solution of rows x = rhs through the normal equations
// (the system itself when it is square and symmetric); false when singular.
bool least_squares(const StartWork* w, const std::vector<std::vector<double>>& rows, const std::vector<double>& rhs,
                   int32_t k, std::vector<double>* x) {
    const size_t m = rows.size();
    bool symmetric = m == static_cast<size_t>(k);
    for (size_t i = 0; i < m && symmetric; ++i)
        for (size_t j = 0; j < i && symmetric; ++j)
            symmetric = std::fabs(rows[i][j] - rows[j][i]) <= 1e-12 * (std::fabs(rows[i][j]) + std::fabs(rows[j][i]));
    std::vector<double> a(static_cast<size_t>(k) * (k + 1) / 2, 0.0);
    x->assign(static_cast<size_t>(k), 0.0);
    for (int32_t i = 0; i < k; ++i) {
        for (int32_t j = 0; j <= i; ++j) {
            double v = 0.0;
            if (symmetric) v = rows[static_cast<size_t>(i)][static_cast<size_t>(j)];
            else
                for (size_t r = 0; r < m; ++r) v += rows[r][static_cast<size_t>(i)] * rows[r][static_cast<size_t>(j)];
            a[static_cast<size_t>(i) * (i + 1) / 2 + j] = v;
        }
        double v = 0.0;
        if (symmetric) v = rhs[static_cast<size_t>(i)];
        else
            for (size_t r = 0; r < m; ++r) v += rows[r][static_cast<size_t>(i)] * rhs[r];
        (*x)[static_cast<size_t>(i)] = v;
    }
    return cholesky_solve(k, w->ctx->options.singular, std::move(a), x);
}

}  // namespace

double path_units(const StartWork* w, const StartPath& a) {
    const double srr = w->get(a.row, a.row), scc = w->get(a.col, a.col);
    return !wzmis(srr) && !wzmis(scc) && srr > 0.0 && scc > 0.0 ? std::sqrt(srr / scc) : 1.0;
}

int32_t cosindc(StartWork* w) {
    if (w->order == w->n) return 0;
    const double missing = host_missing_value();
    std::vector<double> sd(static_cast<size_t>(w->order), missing), scale(sd.size(), 0.0);
    for (int32_t i = 0; i < w->order; ++i) {
        const double v = w->get(i, i);
        if (!wzmis(v)) sd[i] = v > 0.0 ? std::sqrt(v) : 0.0;
        for (int32_t j = 0; j <= i; ++j)
            if (wzmis(w->get(i, j))) scale[i] = missing;
    }
    const bool correlations = w->ctx->options.covAnalysis != 0;
    if (correlations)
        for (int32_t i = 0; i < w->order; ++i) {
            if (wzmis(sd[i])) continue;
            for (int32_t j = 0; j < i; ++j) {
                double& x = w->at(i, j);
                if (wzmis(x) || wzmis(sd[j])) continue;
                x = sd[i] > 0.0 && sd[j] > 0.0 ? x / (sd[i] * sd[j]) : 0.0;
                if (std::fabs(x) <= kRoundoffCorrelation) x = 0.0;
            }
            w->at(i, i) = 1.0;
        }
    const auto ind = indicators_of(w);
    for (;;) {
        const int32_t scaled = composite_pass(w, ind, sd, &scale);
        bool unscaled = false;
        for (int32_t L = w->n; L < w->order; ++L) unscaled = unscaled || wzmis(scale[L]) || scale[L] < 0.0;
        if (scaled == 0 || !unscaled) break;
    }
    if (correlations)
        for (int32_t i = 0; i < w->order; ++i) {
            double f = sd[i];
            if (wzmis(f)) {
                const double v = w->get(i, i);
                if (wzmis(v) || v <= 0.0) continue;
                f = std::sqrt(v);
            }
            if (f != 1.0) scale_row(w, i, f);
        }
    if (w->kind != StartKind::kFactor) getcov(w);
    for (int64_t i = 0; i < w->sCount; ++i)
        if (wzmis(w->s[i])) return -1;
    return 0;
}

int32_t cosinda(StartWork* w) {
    const ElementPattern& el = w->ctx->elements;
    bool anyMissing = false;
    for (int32_t e = w->range[1][0]; e < w->range[1][1]; ++e) anyMissing = anyMissing || wzmis(el.value[e]);
    if (!anyMissing) return 1;
    // One unknown per distinct parameter, in order of first appearance
    // over the equations.
    std::vector<int32_t> params;
    std::vector<std::vector<double>> rows;
    std::vector<double> rhs;
    std::vector<std::vector<int32_t>> terms(static_cast<size_t>(w->order));
    for (int32_t y = 0; y < w->order; ++y)
        for (int32_t p : w->equation[static_cast<size_t>(y)]) {
            const int32_t q = w->parameter(w->paths[static_cast<size_t>(p)].e);
            int32_t t = -1;
            if (q != 0) {
                t = static_cast<int32_t>(std::find(params.begin(), params.end(), q) - params.begin());
                if (t == static_cast<int32_t>(params.size())) params.push_back(q);
            }
            terms[static_cast<size_t>(y)].push_back(t);
        }
    const int32_t k = static_cast<int32_t>(params.size());
    if (k == 0) return 1;
    for (int32_t y = 0; y < w->order; ++y) {
        const auto& t = terms[static_cast<size_t>(y)];
        if (std::all_of(t.begin(), t.end(), [](int32_t v) { return v < 0; })) continue;
        if (!moment_rows(w, y, t, k, &rows, &rhs)) return -2;
    }
    std::vector<double> x;
    if (!least_squares(w, rows, rhs, k, &x)) return -1;
    int32_t assigned = 0;
    for (int32_t y = 0; y < w->order; ++y)
        for (int32_t p : w->equation[static_cast<size_t>(y)]) {
            const int32_t e = w->paths[static_cast<size_t>(p)].e;
            const int32_t q = w->parameter(e);
            if (q == 0 || !wzmis(el.value[e])) continue;
            const auto t = std::find(params.begin(), params.end(), q) - params.begin();
            el.value[e] = away_from_zero(x[static_cast<size_t>(t)],
                                         kCoefficientFloor * path_units(w, w->paths[static_cast<size_t>(p)]));
            ++assigned;
        }
    return assigned > 0 ? 0 : 1;
}

int32_t cosindb(StartWork* w) {
    const ElementPattern& el = w->ctx->elements;
    int32_t assigned = 0;
    for (int32_t y = 0; y < w->order; ++y) {
        const auto& eq = w->equation[static_cast<size_t>(y)];
        std::vector<int32_t> term;
        int32_t k = 0;
        bool needed = false;
        for (int32_t p : eq) {
            const int32_t e = w->paths[static_cast<size_t>(p)].e;
            term.push_back(w->parameter(e) != 0 ? k++ : -1);
            needed = needed || wzmis(el.value[e]);
        }
        if (k == 0 || !needed) continue;
        std::vector<std::vector<double>> rows;
        std::vector<double> rhs, x;
        if (!moment_rows(w, y, term, k, &rows, &rhs) || !least_squares(w, rows, rhs, k, &x)) continue;
        for (size_t i = 0; i < eq.size(); ++i) {
            const int32_t e = w->paths[static_cast<size_t>(eq[i])].e;
            if (term[i] < 0 || !wzmis(el.value[e])) continue;
            el.value[e] = away_from_zero(x[static_cast<size_t>(term[i])],
                                         kCoefficientFloor * path_units(w, w->paths[static_cast<size_t>(eq[i])]));
            ++assigned;
        }
    }
    return assigned > 0 ? 0 : 1;
}

int32_t cosindp(StartWork* w) {
    const ElementPattern& el = w->ctx->elements;
    int32_t uncomputable = 0;
    // The residual of variable r: e_r less its coefficients.
    auto residual = [&](int32_t r, std::vector<double>* u) {
        u->assign(static_cast<size_t>(w->order), 0.0);
        (*u)[static_cast<size_t>(r)] = 1.0;
        for (int32_t p : w->equation[static_cast<size_t>(r)]) {
            const StartPath& a = w->paths[static_cast<size_t>(p)];
            if (wzmis(w->value(a.e))) return false;
            (*u)[static_cast<size_t>(a.col)] -= w->value(a.e);
        }
        return true;
    };
    std::vector<double> u, v;
    for (const StartVariance& var : w->variances) {
        if (!wzmis(el.value[var.e]) || w->parameter(var.e) == 0) continue;
        if (!residual(var.r, &u) || !residual(var.c, &v)) {
            ++uncomputable;
            continue;
        }
        double value = 0.0;
        bool known = true;
        for (int32_t i = 0; i < w->order && known; ++i) {
            if (u[static_cast<size_t>(i)] == 0.0) continue;
            for (int32_t j = 0; j < w->order && known; ++j) {
                if (v[static_cast<size_t>(j)] == 0.0) continue;
                const double sij = w->get(i, j);
                known = !wzmis(sij);
                value += u[static_cast<size_t>(i)] * sij * v[static_cast<size_t>(j)];
            }
        }
        if (!known) continue;
        // The floors are taken in the units of the variables (the moments
        // of r and c themselves), so that a change of units changes the
        // start values by the same factor and no more; on correlations
        // they are the plain 0.01 and 0.001.
        const double srr = w->get(var.r, var.r), scc = w->get(var.c, var.c);
        const double scale = !wzmis(srr) && !wzmis(scc) && srr > 0.0 && scc > 0.0 ? std::sqrt(srr * scc) : 1.0;
        if (var.r == var.c && value <= kVarianceFloor * scale) value = kVarianceFloor * scale;
        value = away_from_zero(value, kResidualFloor * scale);
        // A scale element starts at the standard deviation of its variance.
        const bool sd = var.e >= w->sdElements[0] && var.e < w->sdElements[1] && var.r == var.c;
        el.value[var.e] = sd ? std::sqrt(value) : value;
    }
    return uncomputable;
}

}  // namespace velix::detail
