// Kernels of the discrepancy functions of covariance structure analysis
// (Browne, "Asymptotically distribution-free methods for the analysis of
// covariance structures", Br. J. Math. Stat. Psychol. 37, 1984; Bollen,
// "Structural Equations with Latent Variables", 1989, ch. 4): the
// derivative dF/dSigma of the ULS, GLS, ML, WLS and DWLS discrepancies, the
// weight product (K kron K) vec V = vec(K V K) that their information
// matrices need, and the determinant table.
#include "numerics/discrepancy.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "host/object_dispatch.h"
#include "host/output_table.h"
#include "numerics/kernel_support.h"
#include "velix/codes.h"
#include "velix/host.h"
#include "velix/proc_context.h"
#include "velix/types.h"

using velix::pk_lower;
using velix::pk;

namespace {

constexpr int32_t kLabelLogDet = 601;  // message of the Label2 column
// Host code of the special missing value ".M" (0 ".", 1 "._", 2 ".A").
constexpr int kMissingKindM = 2 + ('M' - 'A');
// log(DBL_MAX): a larger log-determinant has no double determinant.
constexpr double kLogDblMax = 709.78271289339;
constexpr double kLn10 = 2.302585092994046;
constexpr int32_t kCharDetWidth = 12;

bool is_missing_kind_m(double d) {
    const double m = host_special_missing(kMissingKindM);
    uint64_t a, b;
    std::memcpy(&a, &d, sizeof a);
    std::memcpy(&b, &m, sizeof b);
    return (a >> 48) == 0xFFFFu && a == b;
}

// Packed lower triangle of R K for the dense R (n x n) and packed K.
void dense_times_packed(int32_t n, const double* r, const double* k, double* out) {
    for (int32_t i = 0; i < n; ++i) {
        const double* ri = r + static_cast<int64_t>(i) * n;
        for (int32_t j = 0; j <= i; ++j) {
            double s = 0.0;
            for (int32_t m = 0; m < n; ++m) s += ri[m] * k[pk(m, j)];
            out[pk_lower(i, j)] = s;
        }
    }
}

const double* kron_weight(const ProcContext* ctx) {
    return ctx->methods.methodStage == kMethodGls ? ctx->arrays.weightMatrix : ctx->arrays.momentInverse;
}

// ULS needs no weight: the p* values of v are copied to out.
bool copied_for_uls(const ProcContext* ctx, const double* v, double* out) {
    if (ctx->methods.methodStage != kMethodUls) return false;
    if (ctx->sizes.nMoments > 0) std::memcpy(out, v, sizeof(double) * ctx->sizes.nMoments);
    return true;
}

}  // namespace

void cosdfdc(ProcContext* ctx) {
    const int32_t n = ctx->sizes.nManifest;
    switch (ctx->methods.methodStage) {
        case kMethodUls:
        case kMethodWls:
        case kMethodDwls:
            if (ctx->sizes.nMoments > 0)
                std::memcpy(ctx->arrays.dfdc, ctx->arrays.residualTerm, sizeof(double) * ctx->sizes.nMoments);
            break;
        case kMethodGls:
            dense_times_packed(n, ctx->arrays.residualTerm, ctx->arrays.weightMatrix, ctx->arrays.dfdc);
            break;
        case kMethodMl:
            dense_times_packed(n, ctx->arrays.residualTerm, ctx->arrays.impliedInverse, ctx->arrays.dfdc);
            break;
        default:
            break;
    }
}

double* coskron(ProcContext* ctx, int32_t sel, const double* v) {
    double* out = sel != 0 ? ctx->arrays.impliedInverse : ctx->arrays.kronResult;
    const int32_t n = ctx->sizes.nManifest;
    if (copied_for_uls(ctx, v, out)) return out;
    const double* k = kron_weight(ctx);
    for (int64_t i = 0; i < pk_lower(n, 0); ++i) out[i] = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        for (int32_t j = 0; j < n; ++j) {
            double t = 0.0;
            for (int32_t m = 0; m < n; ++m) t += k[pk(i, m)] * v[pk(m, j)];
            for (int32_t c = 0; c <= i; ++c) out[pk_lower(i, c)] += t * k[pk(j, c)];
        }
    }
    return out;
}

double* costrip(ProcContext* ctx, int32_t sel, const double* v) {
    double* out = sel != 0 ? ctx->arrays.impliedInverse : ctx->arrays.workMatrix;
    const int32_t n = ctx->sizes.nManifest;
    if (copied_for_uls(ctx, v, out)) return out;
    const double* k = kron_weight(ctx);
    for (int32_t i = 0; i < n; ++i) {
        for (int32_t j = 0; j < n; ++j) {
            double s = 0.0;
            for (int32_t m = 0; m < n; ++m) {
                double kk = 0.0;
                for (int32_t c = 0; c < n; ++c) kk += k[pk(i, c)] * k[pk(m, c)];
                s += kk * v[pk(j, m)];
            }
            out[static_cast<int64_t>(i) * n + j] = s;
        }
    }
    return out;
}

void cosdet(ProcContext* ctx, HostText* tableName, int32_t titleNumber, double logDet,
            int32_t rowLabelNumber, HostText* templatePath) {
    //   decide the cells: missing 'M' -> 0; beyond the double range -> the
    //   decimal exponent; otherwise exp(logDet) in a readable 12-character form
    //   create, define five columns, end columns, bind, one row, end, deliver
    double determinant = 0.0;
    char text[kCharDetWidth + 20] = {};
    if (is_missing_kind_m(logDet)) {
        std::snprintf(text, sizeof text, "0");
    } else if (logDet >= kLogDblMax) {
        // "1.0E" and an exponent of up to 8 digits fill the 12 characters;
        // a larger (or infinite) log-determinant reads "Infinity" rather
        // than a cut exponent.
        const double exponent = logDet / kLn10;
        if (exponent < 1e8)
            std::snprintf(text, sizeof text, "1.0E%-8d", static_cast<int32_t>(exponent));
        else
            std::snprintf(text, sizeof text, "Infinity");
        determinant = velix::kDblMax;
    } else {
        determinant = std::exp(logDet);
        // Six significant digits fit 12 characters for every positive
        // double, from 4.94066e-324 to 1.79769e+308.
        std::snprintf(text, sizeof text, "%12.6g", determinant);
    }
    char charDet[kCharDetWidth];
    std::memset(charDet, ' ', sizeof charDet);
    const int32_t charLen = static_cast<int32_t>(std::min<size_t>(std::strlen(text), kCharDetWidth));
    std::memcpy(charDet, text, charLen);

    HostObject* table = nullptr;
    HostText* title = kyrmsg(kMsgProc, titleNumber);
    if (kyr_failed(kyr_table_create(ctx->output.kyrManager, tableName, title, &table))) return;
    HostText* label1 = kyrmsg(kMsgProc, rowLabelNumber);
    HostText* label2 = kyrmsg(kMsgProc, kLabelLogDet);
    double logCell = logDet;
    const KyrArg charWidth[] = {kyr_int(kAttrWidth, charLen)};
    if (kyr_failed(kyr_table_column(table, 66, "Label1", &label1))) return;
    if (kyr_failed(kyr_table_column(table, 5, "Determinant", &determinant))) return;
    if (kyr_failed(kyr_table_column(table, 20, "CharDet", charDet, charWidth, 1))) return;
    if (kyr_failed(kyr_table_column(table, 66, "Label2", &label2))) return;
    if (kyr_failed(kyr_table_column(table, 5, "LogDet", &logCell))) return;
    if (kyr_failed(kyr_table_end_columns(table))) return;
    if (kyr_failed(kyr_table_bind(ctx->output.kyrManager, table, templatePath, &ctx->output.kyrTable))) return;
    if (kyr_failed(kyr_table_add_row(table))) return;
    if (kyr_failed(kyr_table_end_rows(table))) return;
    kyr_failed(kyr_table_deliver(ctx->output.kyrManager, ctx->output.kyrTable));
}
