// The start moments and the position maps of the start-value estimators:
// the manifest moments bordered by missing latent rows, the maps between
// the model's variable indices and those rows, the model read as
// regression paths and variance elements, the count of missing values with
// the spread of known values over equal parameters, and the fill-in of
// latent moments by the model equations (the covariance algebra of linear
// structural equations: cov(eta, z) = sum_k b_k cov(x_k, z); Bollen,
// "Structural Equations with Latent Variables", 1989, ch. 4).
#include "procedure/startvalues/start_moments.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "host/fields.h"
#include "host/output_table.h"
#include "numerics/packed.h"
#include "velix/codes.h"
#include "velix/host.h"
#include "velix/messages.h"
#include "velix/packed_index.h"

namespace velix::detail {
namespace {

// Model matrices by kind: RAM _A_ 2 and _P_ 3; LINEQS _BETA_ 2, _GAMMA_ 3,
// _PHI_ 4; FACTOR _F_ 1, _P_ 2, _U_ 3.
constexpr int32_t kRamA = 2, kRamP = 3;
constexpr int32_t kBeta = 2, kGamma = 3, kPhi = 4;
constexpr int32_t kFacF = 1, kFacP = 2, kFacU = 3;
// The memory of the start values cannot be had (group 352).
constexpr int32_t kMsgStartNoMemory = 63;

int32_t first_of(const ProcContext* ctx, int32_t m) { return ctx->model.firstElement[m]; }
int32_t end_of(const ProcContext* ctx, int32_t m) {
    return ctx->model.firstElement[m] + ctx->model.elementCount[m];
}

// The maps of a LINEQS model.  The maps are sized by the indices that
// address them (endogenous indices, _GAMMA_ columns and _PHI_ rows), which
// can exceed the number of positions: an error term without a position
// still has its _PHI_ row.
bool lineqs_maps(ProcContext* ctx, StartWork* w) {
    const ModelReaderState& r = ctx->readers;
    if (ctx->sizes.nMatrices < kPhi || r.varPosition == nullptr) return false;
    const int32_t nEndo = r.nEndo, nExo = ctx->model.rows[kPhi];
    w->order = w->n + r.nLatentStart;
    w->varCode.assign(static_cast<size_t>(w->order), -1);
    for (int32_t k = 0; k < w->n; ++k) w->varCode[k] = r.varPosition[k];
    for (int32_t m = 0; m < r.nLatentStart; ++m) w->varCode[w->n + m] = r.latentStart[m];
    w->endoMap.assign(static_cast<size_t>(std::max(nEndo, 0)), -1);
    w->exoMap.assign(static_cast<size_t>(std::max(nExo, 0)), -1);
    w->phiMap.assign(static_cast<size_t>(std::max(nExo, 0)), -1);
    for (int32_t pos = 0; pos < w->order; ++pos) {
        const int32_t v = w->varCode[pos];
        if (v < 0) continue;
        if (v < nEndo) w->endoMap[v] = pos;
        else if (v - nEndo < nExo) w->exoMap[v - nEndo] = pos;
    }
    // An equation's error term describes the variance of its endogenous
    // variable; an exogenous variable with a place of its own keeps it.
    if (r.errorTermOfEq != nullptr)
        for (int32_t i = 0; i < nEndo; ++i) {
            const int32_t link = r.errorTermOfEq[i];
            if (link > 0 && link <= nExo) w->phiMap[link - 1] = w->endoMap[i];
        }
    for (int32_t x = 0; x < nExo; ++x)
        if (w->exoMap[x] >= 0) w->phiMap[x] = w->exoMap[x];
    const ElementPattern& el = ctx->elements;
    auto map = [](const std::vector<int32_t>& m, int32_t i) {
        return i >= 0 && i < static_cast<int32_t>(m.size()) ? m[i] : -1;
    };
    for (int32_t e = first_of(ctx, kBeta); e < end_of(ctx, kGamma); ++e) {
        const bool beta = e < end_of(ctx, kBeta);
        const int32_t row = map(w->endoMap, el.row[e]);
        const int32_t col = map(beta ? w->endoMap : w->exoMap, el.column[e]);
        if (row >= 0 && col >= 0) w->paths.push_back({e, row, col});
    }
    for (int32_t e = first_of(ctx, kPhi); e < end_of(ctx, kPhi); ++e) {
        const int32_t a = map(w->phiMap, el.row[e]), b = map(w->phiMap, el.column[e]);
        if (a >= 0 && b >= 0) w->variances.push_back({e, a, b});
    }
    w->range[1][0] = first_of(ctx, kBeta);
    w->range[1][1] = end_of(ctx, kGamma);
    w->range[2][0] = first_of(ctx, kPhi);
    return true;
}

bool ram_maps(ProcContext* ctx, StartWork* w) {
    if (ctx->sizes.nMatrices < kRamP) return false;
    w->order = ctx->model.rows[kRamA];
    if (w->order < w->n) return false;
    w->endoMap.resize(static_cast<size_t>(w->order));
    for (int32_t i = 0; i < w->order; ++i) w->endoMap[i] = i;
    w->exoMap = w->phiMap = w->endoMap;
    const ElementPattern& el = ctx->elements;
    for (int32_t e = first_of(ctx, kRamA); e < end_of(ctx, kRamA); ++e)
        w->paths.push_back({e, el.row[e], el.column[e]});
    for (int32_t e = first_of(ctx, kRamP); e < end_of(ctx, kRamP); ++e)
        w->variances.push_back({e, el.row[e], el.column[e]});
    w->range[1][0] = first_of(ctx, kRamA);
    w->range[1][1] = end_of(ctx, kRamA);
    w->range[2][0] = first_of(ctx, kRamP);
    return true;
}

// FACTOR: the factors follow the manifest variables; a factor has no
// equation, manifest variable i is explained by row i of _F_.
bool factor_maps(ProcContext* ctx, StartWork* w) {
    const int32_t k = ctx->readers.nFactors;
    if (k < 1 || ctx->sizes.nMatrices < kFacP) return false;
    w->order = w->n + k;
    const ElementPattern& el = ctx->elements;
    for (int32_t e = first_of(ctx, kFacF); e < end_of(ctx, kFacF); ++e)
        w->paths.push_back({e, el.row[e], w->n + el.column[e]});
    for (int32_t e = first_of(ctx, kFacP); e < end_of(ctx, kFacP); ++e)
        w->variances.push_back({e, w->n + el.row[e], w->n + el.column[e]});
    if (!ctx->readers.factorNoUnique && ctx->sizes.nMatrices >= kFacU)
        for (int32_t e = first_of(ctx, kFacU); e < end_of(ctx, kFacU); ++e)
            w->variances.push_back({e, el.row[e], el.column[e]});
    w->range[1][0] = first_of(ctx, kFacF);
    w->range[1][1] = end_of(ctx, kFacF);
    w->range[2][0] = first_of(ctx, kFacP);
    return true;
}

}  // namespace

StartWork::~StartWork() { xmpoold(pool); }
double& StartWork::at(int32_t i, int32_t j) { return s[pk(i, j)]; }
double StartWork::get(int32_t i, int32_t j) const { return s[pk(i, j)]; }
int32_t StartWork::parameter(int32_t e) const { return std::abs(ctx->elements.parameter[e]); }

StartWorkStatus build_start_work(ProcContext* ctx, StartWork* w) {
    w->ctx = ctx;
    w->n = ctx->sizes.nManifest;
    w->kind = ctx->readers.factorModel ? StartKind::kFactor
              : ctx->readers.ramModel  ? StartKind::kRam
                                       : StartKind::kLineqs;
    const bool ok = w->kind == StartKind::kRam      ? ram_maps(ctx, w)
                    : w->kind == StartKind::kLineqs ? lineqs_maps(ctx, w)
                                                    : factor_maps(ctx, w);
    if (!ok || w->order < w->n || ctx->arrays.momentMatrix == nullptr) return kStartWorkInconsistent;
    w->range[0][0] = w->range[1][0];
    w->range[0][1] = w->range[2][1] = ctx->sizes.nElements;
    // The start moments and the maps: 8 bytes per moment, 20 per variable.
    const int64_t manifest = pk_lower(w->n, 0), all = pk_lower(w->order, 0);
    const int64_t estimate = 8 * all + 20 * int64_t{w->order};
    w->pool = xmpoolc(estimate, 1024, 4096);
    if (w->pool == nullptr) {
        xmemmsg(estimate);
        xpmlog(kMsgProc, kMsgStartNoMemory);
        return kStartWorkNoMemory;
    }
    w->s = static_cast<double*>(w->pool->allocate(w->pool, static_cast<size_t>(8 * all), 4096));
    if (const int32_t code = xmemdef(w->s)) {
        xmemmsg(code + 20000);
        xpmlog(kMsgProc, kMsgStartNoMemory);
        return kStartWorkNoMemory;
    }
    w->sCount = all;
    vzfdl(host_missing_value(), w->s, static_cast<int32_t>(all));
    std::copy(ctx->arrays.momentMatrix, ctx->arrays.momentMatrix + manifest, w->s);
    w->complete.assign(static_cast<size_t>(w->order), 0);
    w->equation.assign(static_cast<size_t>(w->order), {});
    for (size_t p = 0; p < w->paths.size(); ++p) {
        const StartPath& a = w->paths[p];
        if (a.row < 0 || a.row >= w->order || a.col < 0 || a.col >= w->order) return kStartWorkInconsistent;
        w->equation[static_cast<size_t>(a.row)].push_back(static_cast<int32_t>(p));
    }
    for (const StartVariance& v : w->variances)
        if (v.r < 0 || v.r >= w->order || v.c < 0 || v.c >= w->order) return kStartWorkInconsistent;
    return kStartWorkReady;
}

int32_t parmis(StartWork* w, int32_t mode) {
    for (int32_t i = 0; i < w->order; ++i) {
        bool full = true;
        for (int32_t j = 0; j <= i && full; ++j) full = !wzmis(w->get(i, j));
        w->complete[i] = full ? 1 : 0;
    }
    const ProcContext* ctx = w->ctx;
    const ElementPattern& el = ctx->elements;
    for (int32_t e = 0; e < ctx->sizes.nElements; ++e) {
        const int32_t p = w->parameter(e);
        if (p == 0 || !wzmis(el.value[e])) continue;
        for (int32_t f = 0; f < ctx->sizes.nElements; ++f)
            if (f != e && w->parameter(f) == p && !wzmis(el.value[f])) {
                el.value[e] = el.value[f];
                break;
            }
    }
    int32_t missing = 0;
    for (int32_t e = w->range[mode][0]; e < w->range[mode][1]; ++e) missing += wzmis(el.value[e]);
    return missing;
}

void getcov(StartWork* w) {
    for (bool filled = true; filled;) {
        filled = false;
        for (int32_t i = w->n; i < w->order; ++i)
            for (int32_t j = 0; j <= i; ++j) {
                if (!wzmis(w->get(i, j))) continue;
                double sum = 0.0;
                int32_t terms = 0;
                bool known = true;
                for (int32_t p : w->equation[i]) {
                    const StartPath& a = w->paths[static_cast<size_t>(p)];
                    const double b = w->value(a.e), sk = w->get(a.col, j);
                    if (wzmis(b) || wzmis(sk)) {
                        known = false;
                        break;
                    }
                    sum += b * sk;
                    ++terms;
                }
                if (known && terms > 0) {
                    w->at(i, j) = sum;
                    filled = true;
                }
            }
    }
}

int32_t equality_pairs(const StartWork* w, int32_t first, int32_t last) {
    const ElementPattern& el = w->ctx->elements;
    int32_t pairs = 0;
    for (int32_t e = first; e < last; ++e) {
        const int32_t p = w->parameter(e);
        if (p == 0 || !wzmis(el.value[e])) continue;
        for (int32_t f = e + 1; f < last; ++f) pairs += wzmis(el.value[f]) && w->parameter(f) == p;
    }
    return pairs;
}

double away_from_zero(double v, double floor) {
    if (std::fabs(v) >= floor) return v;
    return v < 0.0 ? -floor : floor;
}

bool start_note(ProcContext* ctx, int32_t number) {
    if (!ctx->options.startNotes || ctx->output.kyrManager == nullptr) return true;
    // 66 is a note only with its severity and text.
    HostText* text = number == kMsgSharedReport
                         ? kyrmsgs(kMsgProc, number, kSeverityNote, kyrmsg(kMsgProc, kMsgLeastSquaresStartText))
                         : kyrmsg(kMsgProc, number);
    const int32_t rc = kyr_note(ctx->output.kyrManager, text, 'l');
    if (rc >= 0) return true;
    xprrlog(0, rc);
    return false;
}

void values_to_start_vector(ProcContext* ctx) {
    const ElementPattern& el = ctx->elements;
    // An estimate that overflowed or lost its value (a near-singular system
    // met by no tolerance) is no start: the default step takes it.
    for (int32_t e = 0; e < ctx->sizes.nElements; ++e)
        if (!wzmis(el.value[e]) && !std::isfinite(el.value[e])) el.value[e] = host_missing_value();
    if (ctx->nlp == nullptr || ctx->nlp->param.x == nullptr) return;
    std::vector<double> sum(static_cast<size_t>(ctx->sizes.nParmAll), 0.0);
    std::vector<int32_t> count(sum.size(), 0);
    for (int32_t e = 0; e < ctx->sizes.nElements; ++e) {
        const int32_t p = std::abs(el.parameter[e]);
        if (p < 1 || p > ctx->sizes.nParmAll || wzmis(el.value[e])) continue;
        sum[static_cast<size_t>(p - 1)] += el.value[e];
        ++count[static_cast<size_t>(p - 1)];
    }
    for (size_t p = 0; p < sum.size(); ++p)
        if (count[p] > 0) ctx->nlp->param.x[p] = sum[p] / count[p];
}

double tol_in_units(double tol, int32_t n, const double* a) {
    double smallest = HUGE_VAL;
    for (int32_t i = 0; i < n; ++i)
        if (const double d = std::fabs(a[pk_lower(i, i)]); d > 0.0) smallest = std::fmin(smallest, d);
    return smallest < HUGE_VAL ? tol * smallest : tol;
}

bool cholesky_solve(int32_t k, double tol, std::vector<double> a, std::vector<double>* b) {
    double logdet = 0.0;
    if (k < 1 || coscdec(k, tol_in_units(tol, k, a.data()), &logdet, a.data()) != 0) return false;
    return coscsol(k, 1, a.data(), b->data()) == 0;
}

}  // namespace velix::detail
