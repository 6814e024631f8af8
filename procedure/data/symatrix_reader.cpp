// cosfico: the reader of a TYPE=SYMATRIX DATA=: a symmetric matrix given
// row by row (rows named by _NAME_ or taken in order), with optional MEAN,
// STD, USTD, N and SUMWGT rows.  The matrix is analysed as it is given.
#include <algorithm>
#include <cstring>
#include <vector>

#include "host/host_support.h"
#include "procedure/data/data.h"
#include "velix/codes.h"
#include "velix/messages.h"
#include "velix/packed_index.h"

namespace {

// N of a symmetric matrix that comes without an N row.
constexpr double kDefaultN = 10000.0;

using velix::pk;

bool type_is(const char* t, const char* want) {
    char w[8];
    std::memset(w, ' ', 8);
    std::memcpy(w, want, std::strlen(want));
    return std::memcmp(t, w, 8) == 0;
}

// The smallest non-missing value of values[count], at least 0.0; *conflict
// when they differ; missing when none is given.
double same(const double* values, int32_t count, bool* conflict) {
    double r = host_missing_value();
    bool any = false;
    *conflict = false;
    for (int32_t i = 0; i < count; ++i) {
        if (wzmis(values[i])) continue;
        if (any && values[i] != r) *conflict = true;
        if (!any || values[i] < r) r = values[i];
        any = true;
    }
    if (any && r < 0.0) r = 0.0;
    return r;
}

}  // namespace

int32_t cosfico(ProcContext* ctx) {
    const int32_t n = ctx->nVar;
    DataSetInfo info;
    xoinfo(ctx->dataSetHandle[kRoleData], kInfoDescription, &info);
    if (ctx->dataSetBinding[kRoleData] == nullptr) {
        xpmlog(kMsgProc, kMsgSymatrixVariables);
        xexit(kLevelBadVariables, 0);
    }
    const double missing = host_missing_value();
    vzfdl(missing, ctx->momentMatrix, n * (n + 1) / 2);
    std::fill(ctx->moments.stdDevs, ctx->moments.stdDevs + n, 1.0);
    std::fill(ctx->moments.means, ctx->moments.means + n, 0.0);
    double N = missing, sumw = missing;
    int32_t order = 0;
    xbyrwnd(ctx->dataSetHandle[kRoleData], kRewindGroup);
    std::memset(ctx->outRow.type, ' ', 8);
    while (cos_read_row(ctx, kRoleData)) {
        char type[8];
        wztxxlt(2, ctx->outRow.type, type, 8);
        const double* v = ctx->cells.rowValues;
        bool conflict = false;
        if (ctx->input.typeVar > 0 && type_is(type, "MEAN")) {
            std::copy(v, v + n, ctx->moments.means);
        } else if (ctx->input.typeVar > 0 && (type_is(type, "STD") || type_is(type, "USTD"))) {
            std::copy(v, v + n, ctx->moments.stdDevs);
        } else if (ctx->input.typeVar > 0 && type_is(type, "N")) {
            N = same(v, n, &conflict);
            if (conflict) xpmlog(kMsgProc, kMsgSymatrixNConflict);
        } else if (ctx->input.typeVar > 0 && type_is(type, "SUMWGT")) {
            sumw = same(v, n, &conflict);
            if (conflict) xpmlog(kMsgProc, kMsgSymatrixSumwgtConflict);
        } else if (ctx->input.typeVar == 0 || type_is(type, "SYMATRIX")) {
            int32_t r = -1;
            if (ctx->input.nameVar > 0) {
                const int32_t len = wzstrip(ctx->outRow.name.text, 32);
                for (int32_t k = 0; k < n && r < 0; ++k) {
                    const NameRecord& nm = ctx->input.manifestNames[k];
                    if (wzstrip(nm.text, nm.length) == len && std::memcmp(nm.text, ctx->outRow.name.text, len) == 0)
                        r = k;
                }
                if (r < 0) continue;
            } else {
                if (order >= n) {
                    xpmlog(kMsgProc, kMsgSymatrixTooManyRows);
                    break;
                }
                r = order++;
            }
            for (int32_t c = 0; c < n; ++c)
                if (!wzmis(v[c])) ctx->momentMatrix[pk(r, c)] = v[c];
        } else {
            xpmlog(kMsgProc, kMsgSymatrixRowIgnored, 8, ctx->outRow.type);
        }
    }
    if (wzmis(N)) N = kDefaultN;
    if (wzmis(sumw)) sumw = N;
    ctx->nObs = N;
    ctx->moments.sumWeights = sumw;
    ctx->moments.divisor =
        zvardiv(ctx->options.vardefKind, N, 1.0 - ctx->moments.momentOrigin, sumw);
    const int32_t pstar = n * (n + 1) / 2;
    if (wzmisn(ctx->momentMatrix, pstar)) {
        xpmlog(kMsgProc, kMsgSymatrixMissing);
        if (ctx->options.printEnabled) {
            const NameRecord* names = velix::detail::moment_names(ctx);
            std::vector<double> shown(ctx->momentMatrix, ctx->momentMatrix + pstar);
            // A failed table is reported by the publisher and the reader
            // stops; the step then ends, so the matrix that still holds
            // missing values never reaches a factor.
            if (velix::detail::publish_matrix(ctx, "InSymmetric", kMsgSymmetricInputTable,
                                              shown.data(), ctx->nManifest, ctx->nManifest, names,
                                              names, "sc", 0) < 0)
                return kLevelHostFailure;
        }
        for (int32_t k = 0; k < pstar; ++k)
            if (wzmis(ctx->momentMatrix[k])) ctx->momentMatrix[k] = 0.0;
    }
    zmsgsav(0, 0, nullptr, 0);
    return 0;
}
