// Kernels of the discrepancy functions of covariance structure analysis
// (Browne, "Asymptotically distribution-free methods for the analysis of
// covariance structures", Br. J. Math. Stat. Psychol. 37, 1984; Bollen,
// "Structural Equations with Latent Variables", 1989, ch. 4): the
// derivative dF/dSigma of the ULS, GLS, ML, WLS and DWLS discrepancies, the
// weight product (K kron K) vec V = vec(K V K) that their information
// matrices need.
#include "procedure/evaluation/discrepancy.h"

#include <cstring>

#include "velix/codes.h"
#include "velix/packed_index.h"
#include "velix/proc_context.h"
#include "velix/types.h"

using velix::pk_lower;
using velix::pk;

namespace {

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
