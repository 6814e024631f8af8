// The level-by-level factor models of the latent-variable start values
// (see latent_levels.h).  With P = L (L'L)^-1 L' the projection on the
// loadings, the moment structure S = L Phi L' + U gives the unique
// variances from (I - P o P) U = diag(S - P S P) and the factor covariances
// Phi = A L'(S - U) L A, A = (L'L)^-1 (Hagglund 1982, Psychometrika 47).
#include "procedure/startvalues/latent_levels.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "host/fields.h"
#include "host/scratch_file.h"
#include "numerics/packed.h"
#include "numerics/udu.h"
#include "velix/codes.h"
#include "velix/host.h"
#include "velix/host_vector.h"
#include "velix/messages.h"
#include "velix/packed_index.h"

namespace velix::detail {
namespace {

// A scratch file of the call's own, written and read in order.

// The level store: per level, its classification (levelCode, factorNo, N
// 32-bit integers each) and its loadings after the scale step (m x k
// doubles, row-major), one record after the other, so that a higher level
// can carry its factors' moments down through every earlier level.  A
// failed scratch-file call ends the step (host failure).
struct LevelStore {
    HostFile* file = nullptr;
    int32_t order = 0;
    std::vector<int32_t> m, k;  // per record
    std::vector<int64_t> at;    // byte position of each record
    int64_t end = 0;

    explicit LevelStore(int32_t n) : order(n) {
        ScratchFileRequest request;
        request.attributeWord = kFileSequential;
        scratch_check(xcopen(&file, &request));
        scratch_check(xcpoint(file, 0));
    }
    ~LevelStore() {
        if (file != nullptr) xcclose(file, 1);
    }
    size_t size() const { return at.size(); }
    void write(const Level& lv) {
        m.push_back(lv.m);
        k.push_back(lv.k);
        at.push_back(end);
        const int64_t ints = 4 * int64_t{order}, loads = 8 * int64_t{lv.m} * lv.k;
        scratch_check(xcpoint(file, end));
        scratch_check(xcwrite(file, lv.levelCode.data(), ints));
        scratch_check(xcwrite(file, lv.factorNo.data(), ints));
        scratch_check(xcwrite(file, lv.L.data(), loads));
        end += 2 * ints + loads;
    }
    Level read(size_t q) const {
        Level lv;
        lv.m = m[q];
        lv.k = k[q];
        lv.levelCode.resize(static_cast<size_t>(order));
        lv.factorNo.resize(static_cast<size_t>(order));
        lv.L.resize(static_cast<size_t>(lv.m) * lv.k);
        const int64_t ints = 4 * int64_t{order};
        scratch_check(xcpoint(file, at[q]));
        scratch_check(xcread(file, lv.levelCode.data(), ints));
        scratch_check(xcread(file, lv.factorNo.data(), ints));
        scratch_check(xcread(file, lv.L.data(), 8 * int64_t{lv.m} * lv.k));
        return lv;
    }
};

// A factor whose estimated variance is not positive starts uncorrelated
// with this variance; unique variances start here when the loadings
// reproduce every indicator exactly.
constexpr double kFallbackVariance = 0.1;

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
    // SP = S P once, so that each p_j' S p_j is an inner product; P
    // spread out into its rows first, so that the sums run along them.
    std::vector<double> sp(static_cast<size_t>(m) * m, 0.0), rowsP(sp.size());
    for (int32_t b = 0; b < m; ++b)
        for (int32_t j = 0; j < m; ++j) rowsP[static_cast<size_t>(b) * m + j] = P[static_cast<size_t>(pk(b, j))];
    for (int32_t a = 0; a < m; ++a)
        for (int32_t b = 0; b < m; ++b) {
            const double sab = sv->s(a, b);
            const double* pb = rowsP.data() + static_cast<size_t>(b) * m;
            double* spa = sp.data() + static_cast<size_t>(a) * m;
            for (int32_t j = 0; j < m; ++j) spa[j] += sab * pb[j];
        }
    std::vector<double> r(static_cast<size_t>(m)), Q(P.size());
    for (int32_t j = 0; j < m; ++j) {
        double v = sv->s(j, j);
        for (int32_t a = 0; a < m; ++a) v -= P[static_cast<size_t>(pk(j, a))] * sp[static_cast<size_t>(a) * m + j];
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
        if (zududec(m, tol_in_units(sv->tol(), m, Q.data()), nullptr, Q.data(), pivots.data()) != 0) return 1;
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
    if (u > 0 && coscdec(u, tol_in_units(sv->tol(), u, a.data()), &logdet, a.data()) != 0) return 2;
    if (u > 0 && coscsol(u, 1, a.data(), b.data()) != 0) return 3;
    for (int32_t x = 0; x < u; ++x) lv.U[static_cast<size_t>(free[static_cast<size_t>(x)])] = std::max(b[static_cast<size_t>(x)], 0.0);
    return 0;
}

// Factor covariances Phi = A L'(S - U) L A, A = (L'L)^-1, written over T.
int32_t ivfafc1(Solver* sv) {
    Level& lv = *sv->lv;
    const int32_t m = lv.m, k = lv.k;
    // M = L'(S - U) L, each element summed over (a, b) in row order.  A
    // term with a zero loading adds a zero, which leaves every sum as it
    // is while the loadings and the terms are finite: then only each row's
    // nonzero loadings take part (one per indicator in a confirmatory
    // model, where all of them would cost m^2 k^2).
    std::vector<double> M(static_cast<size_t>(k) * k, 0.0);
    const bool finite = std::all_of(lv.L.begin(), lv.L.end(), [](double x) { return std::isfinite(x); });
    std::vector<std::vector<int32_t>> nonzero(static_cast<size_t>(m));
    for (int32_t a = 0; a < m; ++a)
        for (int32_t f = 0; f < k; ++f)
            if (!finite || lv.l(a, f) != 0.0) nonzero[static_cast<size_t>(a)].push_back(f);
    for (int32_t a = 0; a < m; ++a)
        for (int32_t b = 0; b < m; ++b) {
            double s = sv->s(a, b);
            if (wzmis(s)) return -1;
            if (a == b) s -= lv.U[static_cast<size_t>(a)];
            if (!std::isfinite(s)) {
                for (int32_t f = 0; f < k; ++f)
                    for (int32_t g = 0; g < k; ++g) M[static_cast<size_t>(f) * k + g] += lv.l(a, f) * s * lv.l(b, g);
                continue;
            }
            for (int32_t f : nonzero[static_cast<size_t>(a)]) {
                const double ls = lv.l(a, f) * s;
                if (!std::isfinite(ls)) {
                    for (int32_t g = 0; g < k; ++g) M[static_cast<size_t>(f) * k + g] += ls * lv.l(b, g);
                    continue;
                }
                for (int32_t g : nonzero[static_cast<size_t>(b)]) M[static_cast<size_t>(f) * k + g] += ls * lv.l(b, g);
            }
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
void unique_variances(Solver* sv, bool needElements) {
    StartWork* w = sv->w;
    Level& lv = *sv->lv;
    lv.U.assign(static_cast<size_t>(lv.m), 0.0);
    bool any = false;
    for (const StartVariance& v : w->variances) {
        const int32_t j = v.r == v.c ? lv.levelCode[static_cast<size_t>(v.r)] - 1 : -1;
        if (j < 0) continue;
        lv.U[static_cast<size_t>(j)] = w->parameter(v.e) == 0 ? w->value(v.e) : host_missing_value();
        any = true;
    }
    if ((any || !needElements) && ivfauv1(sv) != 0) lv.U.assign(lv.U.size(), 0.0);
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
// fixed loadings to their estimates.  With `toPhi` a fixed variance
// rescales only when it differs from the estimated one and both are
// positive.
void scale_factors(Solver* sv, bool toPhi) {
    StartWork* w = sv->w;
    Level& lv = *sv->lv;
    for (int32_t f = 0; f < lv.k; ++f) {
        int32_t fixedVar = -1;
        for (const StartVariance& v : w->variances)
            if (v.r == v.c && lv.factorNo[static_cast<size_t>(v.r)] == f + 1 && w->parameter(v.e) == 0 && w->value(v.e) != 0.0 &&
                !wzmis(w->value(v.e)))
                fixedVar = v.e;
        const double phi = lv.T[static_cast<size_t>(pk(f, f))];
        if (fixedVar >= 0 && toPhi) {
            const double v = w->value(fixedVar);
            if (v == phi || phi < kStartEpsilon || v < kStartEpsilon) continue;
            const double s = std::sqrt(v / phi);
            for (int32_t j = 0; j < lv.m; ++j) lv.l(j, f) /= s;
            scale_factor_moments(&lv, f, s);
            continue;
        }
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
        // Phi left as estimated puts the factor's variance off by g^2: in
        // the nine-variable model with x1 in units 1e-6 or 1e-8 of its own
        // the implied moments are then not positive definite at the start,
        // and 4 of the 17 unit changes of x1 from 1e-8 to 1e8 no longer
        // reach the ML minimum.
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
        // The floor in the units of the loading: sqrt(s_jj / Phi_ff), the
        // factor's moments not yet being among the start moments.
        const double sjj = w->get(p.row, p.row), phi = lv->T[static_cast<size_t>(velix::pk_lower(f, f))];
        const double units = sjj > 0.0 && phi > 0.0 && std::isfinite(sjj / phi) ? std::sqrt(sjj / phi) : 1.0;
        w->value(p.e) = away_from_zero(lv->l(j, f), kCoefficientFloor * units);
        ++written;
    }
    const ElementPattern& el = ctx->elements;
    const NlpProblem* nlp = ctx->nlp;
    for (int32_t q = 1; q <= ctx->sizes.nParmAll; ++q) {
        double sum = 0.0;
        int32_t count = 0;
        for (int32_t e = 0; e < ctx->sizes.nElements; ++e)
            if (std::abs(el.parameter[e]) == q && !wzmis(el.value[e])) sum += el.value[e], ++count;
        if (count == 0) continue;
        double mean = sum / count;
        if (nlp != nullptr && nlp->shape.hasBounds && q <= ctx->sizes.nParmFree) {
            if (nlp->param.lower && !wzmis(nlp->param.lower[q - 1])) mean = std::max(mean, nlp->param.lower[q - 1]);
            if (nlp->param.upper && !wzmis(nlp->param.upper[q - 1])) mean = std::min(mean, nlp->param.upper[q - 1]);
        }
        for (int32_t e = 0; e < ctx->sizes.nElements; ++e)
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
bool earlier_levels(StartWork* w, const LevelStore& done, const Level& cur) {
    std::vector<double> H(static_cast<size_t>(cur.m) * cur.k);
    for (int32_t j = 0; j < cur.m; ++j)
        for (int32_t i = 0; i < w->order; ++i)
            if (cur.factorNo[static_cast<size_t>(i)] >= 1)
                H[static_cast<size_t>(j) * cur.k + cur.factorNo[static_cast<size_t>(i)] - 1] = w->get(cur.position[static_cast<size_t>(j)], i);
    const std::vector<int32_t>* codes = &cur.levelCode;
    std::vector<int32_t> codesBelow;
    int32_t rows = cur.m;
    for (size_t q = done.size(); q-- > 0;) {
        const Level lq = done.read(q);
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
        codesBelow = lq.levelCode;
        codes = &codesBelow;
    }
    return true;
}

// One level; 0 when it ran through, else the code that stops the levels.
int32_t run_level(StartWork* w, const LevelMethod& method, LevelStore* done, Level* lv, int32_t* written) {
    loadings_of(w, lv);
    Solver sv{w, lv, {}};
    if (const int32_t rc = method.loadings(&sv)) return rc;
    unique_variances(&sv, method.uniquesNeedElements);
    if (ivfafc1(&sv) != 0) {
        lv->T.assign(lv->T.size(), 0.0);
        for (int32_t f = 0; f < lv->k; ++f) lv->T[static_cast<size_t>(pk(f, f))] = 1.0;
    }
    scale_factors(&sv, method.scaleToPhi);
    *written += write_loadings(w, lv);
    latent_rows(w, lv);
    if (done->size() > 0 && !earlier_levels(w, *done, *lv)) {
        // The levels do not link: an inconsistency of ours; what is left
        // goes to the default start step.
        xpmlog(kMsgProc, kMsgStartEstimatorsUnusable);
        return -1;
    }
    done->write(*lv);
    return 0;
}

}  // namespace

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
    lv->element.assign(lv->L.size(), 0);
    int32_t missing = 0;
    const double miss = host_missing_value();
    for (const StartPath& p : w->paths) {
        const int32_t j = lv->levelCode[static_cast<size_t>(p.row)] - 1, f = lv->factorNo[static_cast<size_t>(p.col)] - 1;
        if (j < 0 || f < 0) continue;
        const int32_t q = w->parameter(p.e);
        lv->param[static_cast<size_t>(j) * lv->k + f] = q;
        lv->element[static_cast<size_t>(j) * lv->k + f] = 1;
        lv->l(j, f) = q == 0 ? w->value(p.e) : miss;
        missing += q != 0;
    }
    return missing;
}

// T := (L'L)^-1; false when L'L is singular.
bool inverse_cross_product(Solver* sv) {
    Level& lv = *sv->lv;
    lv.T.assign(static_cast<size_t>(pk_lower(lv.k, 0)), 0.0);
    for (int32_t f = 0; f < lv.k; ++f)
        for (int32_t g = 0; g <= f; ++g) lv.T[static_cast<size_t>(pk(f, g))] = zvdotjj(&lv.l(0, f), lv.k, &lv.l(0, g), lv.k, lv.m);
    double det[2];
    return coschin(lv.k, tol_in_units(sv->tol(), lv.k, lv.T.data()), det, lv.T.data()) == 0;
}

int32_t run_levels(StartWork* w, const LevelMethod& method) {
    LevelStore done(w->order);
    int32_t written = 0, code = 0, m0 = 0, k0 = 0;
    for (;;) {
        Level lv;
        if (!classify(w, &lv)) break;
        if (done.size() == 0) m0 = lv.m, k0 = lv.k;
        if (lv.k > lv.m || lv.m > m0 || lv.k > k0) {
            code = method.sizeCode;
            break;
        }
        code = run_level(w, method, &done, &lv, &written);
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
