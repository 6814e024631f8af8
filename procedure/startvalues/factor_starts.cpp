// Principal-factor start values of a FACTOR model (Harman, "Modern Factor
// Analysis", 1976, ch. 8): unique variances from the squared multiple
// correlations, psi_i = (1 - k/2n) / s^ii (Joreskog 1963), the k leading
// eigenpairs of S - diag(psi) as loadings, turned into the echelon form of
// the exploratory model by a QR decomposition of L' or toward the model's
// pattern by an orthogonal Procrustes rotation (Schonemann 1966,
// "A generalized solution of the orthogonal Procrustes problem").
#include "procedure/startvalues/factor_starts.h"

#include <cfloat>
#include <cmath>
#include <vector>

#include "host/fields.h"
#include "numerics/eigen.h"
#include "numerics/qr.h"
#include "procedure/procedure.h"
#include "velix/codes.h"
#include "velix/packed_index.h"

namespace velix::detail {
namespace {

// An eigenvalue not above kStartTiny counts as zero for the leading ones;
// eigenvalues within kStartEpsilon of the largest are dropped from the
// Procrustes root.  Unique variances start at least at 0.1.
constexpr double kUniqueFloor = 0.1;
// A singular matrix is decomposed again with this ridge on its diagonal.
constexpr double kRidge = 0.001;
// Without a usable inverse the unique variance starts at 0.36 s_ii, the
// unique part of a variable whose loading explains 64% of its variance (a
// variance, as the other route gives, not 0.36 s_ii^2).
constexpr double kUniqueShare = 0.36;
constexpr int32_t kFacF = 1, kFacU = 3;
// The note on loadings found by principal factors (group 352).
constexpr int32_t kNotePrincipal = 65;

bool eigen_failed(int32_t rc) {
    return rc == kZeigen2DependentCluster || rc == kZeigen2BisectionShort || rc == kZeigen2InvalidCall;
}

// Rotates L (n x k, row-major) into the echelon form of the exploratory
// model: L := R' of the QR decomposition of L'.  False when QR fails.
bool echelon(int32_t n, int32_t k, std::vector<double>* L) {
    std::vector<double> lt(static_cast<size_t>(k) * n), diag(static_cast<size_t>(n)), work(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i)
        for (int32_t f = 0; f < k; ++f) lt[static_cast<size_t>(f) * n + i] = (*L)[static_cast<size_t>(i) * k + f];
    if (zqrdec(k, n, 0, n, 0, nullptr, 1e-8, lt.data(), nullptr, diag.data(), work.data()) != 0) return false;
    for (int32_t i = 0; i < n; ++i)
        for (int32_t f = 0; f < k; ++f)
            (*L)[static_cast<size_t>(i) * k + f] =
                i < f ? 0.0 : i == f ? diag[static_cast<size_t>(f)] : lt[static_cast<size_t>(f) * n + i];
    return true;
}

// Turns L toward the element values of _F_ (the current loading where a
// value is missing, 0.0 where the pattern has no element); L stays when
// the rotation fails.
void toward_pattern(const StartWork* w, int32_t k, std::vector<double>* L) {
    const ProcContext* ctx = w->ctx;
    const int32_t n = w->n;
    std::vector<double> target(L->size(), 0.0);
    const int32_t first = ctx->model.firstElement[kFacF], end = first + ctx->model.elementCount[kFacF];
    for (int32_t e = first; e < end; ++e) {
        const size_t at = static_cast<size_t>(ctx->elements.row[e]) * k + ctx->elements.column[e];
        target[at] = wzmis(ctx->elements.value[e]) ? (*L)[at] : ctx->elements.value[e];
    }
    std::vector<double> r(static_cast<size_t>(k) * k);
    double trace = 0.0;
    if (orproc(n, k, L->data(), target.data(), r.data(), &trace) != 0) return;
    std::vector<double> out(L->size(), 0.0);
    for (int32_t i = 0; i < n; ++i)
        for (int32_t f = 0; f < k; ++f)
            for (int32_t g = 0; g < k; ++g)
                out[static_cast<size_t>(i) * k + f] +=
                    (*L)[static_cast<size_t>(i) * k + g] * r[static_cast<size_t>(g) * k + f];
    *L = out;
}

// The starting unique parts psi: variances from the inverse of the moment
// matrix when the moment step could form it, else a share of the
// variances.  With the unique term _U_ _I_ _U_' the elements are standard
// deviations, so psi holds the square roots; the principal factors then
// subtract those from S as well (on correlations the square root, the
// larger, leaves smaller communalities on the reduced diagonal).
// The known value of a fixed diagonal _U_ element replaces its own.
std::vector<double> start_uniques(const StartWork* w, int32_t k) {
    const ProcContext* ctx = w->ctx;
    const int32_t n = w->n;
    std::vector<double> psi(static_cast<size_t>(n), 0.0);
    if (ctx->readers.factorNoUnique) return psi;
    bool usable = !wzmis(ctx->moments.logDetMoments) && ctx->moments.logDetMoments != -DBL_MAX &&
                  ctx->arrays.momentInverse != nullptr;
    for (int32_t i = 0; i < n && usable; ++i) usable = ctx->arrays.momentInverse[pk(i, i)] >= kStartEpsilon;
    const bool sd = ctx->readers.factorIdentity != 0;
    for (int32_t i = 0; i < n; ++i) {
        double& p = psi[static_cast<size_t>(i)];
        p = usable ? (1.0 - 0.5 * k / n) / ctx->arrays.momentInverse[pk(i, i)] : kUniqueShare * w->get(i, i);
        if (sd) p = std::sqrt(p);
    }
    const int32_t first = ctx->model.firstElement[kFacU], end = first + ctx->model.elementCount[kFacU];
    for (int32_t e = first; e < end; ++e) {
        const double v = ctx->elements.value[e];
        if (ctx->elements.parameter[e] == 0 && ctx->elements.row[e] == ctx->elements.column[e] && !wzmis(v))
            psi[static_cast<size_t>(ctx->elements.row[e])] = v;
    }
    return psi;
}

}  // namespace

bool leading_pairs(int32_t n, int32_t k, std::vector<double> a, double floor, std::vector<double>* ev,
                   std::vector<double>* z, double* lastOut) {
    ev->assign(static_cast<size_t>(n), 0.0);
    z->assign(static_cast<size_t>(n) * k, 0.0);
    std::vector<double> work(static_cast<size_t>(9) * n);
    const int32_t rc = zeigen2(n, a.data(), ev->data(), k, z->data(), work.data());
    if (eigen_failed(rc)) return false;
    *lastOut = (*ev)[static_cast<size_t>(k - 1)];
    return *lastOut > floor;
}

bool principal_factors(int32_t n, int32_t k, std::vector<double> s, std::vector<double>* psi, bool noUnique,
                       double retryFloor, std::vector<double>* L) {
    std::vector<double> reduced = s, ev, z;
    if (!noUnique)
        for (int32_t i = 0; i < n; ++i) reduced[static_cast<size_t>(pk(i, i))] -= (*psi)[static_cast<size_t>(i)];
    double last = 0.0;
    bool ok = leading_pairs(n, k, reduced, kStartTiny, &ev, &z, &last);
    if (!ok) {
        psi->assign(psi->size(), 0.0);
        if (!noUnique) ok = leading_pairs(n, k, s, retryFloor, &ev, &z, &last);
        if (!ok) {
            const double c = last < 0.0 ? kRidge - last : kRidge;
            for (int32_t i = 0; i < n; ++i) s[static_cast<size_t>(pk(i, i))] += c;
            ok = leading_pairs(n, k, s, retryFloor, &ev, &z, &last);
        }
    }
    if (!ok) return false;
    L->assign(static_cast<size_t>(n) * k, 0.0);
    for (int32_t f = 0; f < k; ++f) {
        const double root = std::sqrt(ev[static_cast<size_t>(f)]);
        for (int32_t i = 0; i < n; ++i) (*L)[static_cast<size_t>(i) * k + f] = z[static_cast<size_t>(f) * n + i] * root;
    }
    return true;
}

void unique_only_starts(ProcContext* ctx) {
    // Without factors matrix 1 is the unique part.
    const int32_t first = ctx->model.firstElement[1], end = first + ctx->model.elementCount[1];
    for (int32_t e = first; e < end; ++e) {
        double& v = ctx->elements.value[e];
        if (!wzmis(v) || ctx->elements.parameter[e] == 0) continue;
        const int32_t i = ctx->elements.row[e];
        if (i != ctx->elements.column[e] || i >= ctx->sizes.nManifest) {
            v = 0.0;
            continue;
        }
        const double s = ctx->arrays.momentMatrix[pk(i, i)];
        v = ctx->readers.factorIdentity ? std::sqrt(std::fabs(s)) : s;
    }
}

void cosinf3(StartWork* w) {
    //   1. starting unique variances
    //   2. k leading principal factors of S - diag(psi) (fallbacks: S, ridged S)
    //   3. echelon form (exploratory model) or Procrustes toward the pattern
    //   4. missing loadings and unique variances take the estimates
    ProcContext* ctx = w->ctx;
    const int32_t n = w->n, k = ctx->readers.nFactors;
    if (ctx->readers.matrixSpec > 1 || k < 1 || k > n) return;
    std::vector<double> psi = start_uniques(w, k), L;
    const std::vector<double> s(w->s, w->s + pk_lower(n, 0));
    if (!principal_factors(n, k, s, &psi, ctx->readers.factorNoUnique != 0, DBL_MIN, &L)) return;
    if (ctx->readers.matrixSpec == 0) {
        bool upper = false;
        for (int32_t i = 0; i < k && i < n; ++i)
            for (int32_t f = i + 1; f < k; ++f) upper = upper || L[static_cast<size_t>(i) * k + f] != 0.0;
        if (k >= 2 && upper && !echelon(n, k, &L)) toward_pattern(w, k, &L);
    } else {
        toward_pattern(w, k, &L);
    }
    int32_t assigned = 0;
    const int32_t fFirst = ctx->model.firstElement[kFacF], fEnd = fFirst + ctx->model.elementCount[kFacF];
    for (int32_t e = fFirst; e < fEnd; ++e) {
        if (!wzmis(ctx->elements.value[e]) || ctx->elements.parameter[e] == 0) continue;
        const size_t at = static_cast<size_t>(ctx->elements.row[e]) * k + ctx->elements.column[e];
        ctx->elements.value[e] = away_from_zero(L[at], kCoefficientFloor);
        ++assigned;
    }
    if (!ctx->readers.factorNoUnique) {
        const int32_t uFirst = ctx->model.firstElement[kFacU], uEnd = uFirst + ctx->model.elementCount[kFacU];
        for (int32_t e = uFirst; e < uEnd; ++e) {
            const int32_t i = ctx->elements.row[e];
            if (!wzmis(ctx->elements.value[e]) || ctx->elements.parameter[e] == 0 || i != ctx->elements.column[e])
                continue;
            ctx->elements.value[e] = std::max(psi[static_cast<size_t>(i)], kUniqueFloor);
            ++assigned;
        }
    }
    if (assigned > 0) start_note(ctx, kNotePrincipal);
}

int32_t orproc(int32_t n, int32_t k, const double* a, const double* b, double* r, double* trace) {
    //   1. M = A'B, its cross product M'M
    //   2. eigenpairs of M'M; (M'M)^(-1/2) from the kept ones
    //   3. R = M (M'M)^(-1/2)
    std::vector<double> m(static_cast<size_t>(k) * k, 0.0), mtm(static_cast<size_t>(pk_lower(k, 0)), 0.0);
    for (int32_t f = 0; f < k; ++f)
        for (int32_t g = 0; g < k; ++g)
            for (int32_t i = 0; i < n; ++i)
                m[static_cast<size_t>(f) * k + g] += a[static_cast<size_t>(i) * k + f] * b[static_cast<size_t>(i) * k + g];
    for (int32_t f = 0; f < k; ++f)
        for (int32_t g = 0; g <= f; ++g)
            for (int32_t h = 0; h < k; ++h)
                mtm[static_cast<size_t>(pk(f, g))] += m[static_cast<size_t>(h) * k + f] * m[static_cast<size_t>(h) * k + g];
    std::vector<double> ev(static_cast<size_t>(k)), v(static_cast<size_t>(k) * k), work(static_cast<size_t>(9) * k);
    if (eigen_failed(zeigen2(k, mtm.data(), ev.data(), k, v.data(), work.data())) || ev[0] <= kStartTiny) return 1;
    *trace = 0.0;
    int32_t kept = 0;
    for (double& d : ev) {
        if (d <= kStartEpsilon * ev[0]) {
            d = 0.0;
            continue;
        }
        *trace += std::sqrt(d);
        d = 1.0 / std::sqrt(d);
        ++kept;
    }
    if (kept == 0) return 2;
    for (int32_t f = 0; f < k; ++f)
        for (int32_t g = 0; g < k; ++g) {
            double root = 0.0;  // ((M'M)^(-1/2))(f, g)
            for (int32_t h = 0; h < k; ++h)
                root += v[static_cast<size_t>(h) * k + f] * ev[static_cast<size_t>(h)] * v[static_cast<size_t>(h) * k + g];
            r[static_cast<size_t>(f) * k + g] = root;
        }
    std::vector<double> out(static_cast<size_t>(k) * k, 0.0);
    for (int32_t f = 0; f < k; ++f)
        for (int32_t g = 0; g < k; ++g)
            for (int32_t h = 0; h < k; ++h)
                out[static_cast<size_t>(f) * k + g] += m[static_cast<size_t>(f) * k + h] * r[static_cast<size_t>(h) * k + g];
    std::copy(out.begin(), out.end(), r);
    return 0;
}

}  // namespace velix::detail
