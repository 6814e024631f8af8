// The optimizer state saved between BY groups: after the set-up, the whole
// NlpProblem and NlpHookBlock, the element values and the parameter vector
// are written at the start of the scratch file; every later BY group starts
// from them again, so that each group has the same options and start
// values.  Element values are then re-derived from the parameters, so a
// parameter shared by several elements has one value everywhere.  With
// INRAM= the element values and parameters of each group come instead from
// the ESTIM rows of that group of the INRAM= data set.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "host/scratch_file.h"
#include "procedure/data/data.h"
#include "procedure/driver/model.h"
#include "procedure/procedure.h"
#include "velix/messages.h"

namespace {

// Integer part of a row value; false for a missing or out-of-range value,
// which then addresses nothing.
bool integer_part(double v, int32_t* out) {
    if (!(std::fabs(v) < 2147483647.0)) return false;
    *out = static_cast<int32_t>(v);
    return true;
}

// _MATNR_ carries the term in its ten-thousands: the matrix number within
// its term is the rest.
constexpr int32_t kTermMultiplier = 10000;

// Applies the ESTIM rows of the current BY group of INRAM= to the element
// values and the parameter vector.
void apply_inram_estimates(ProcContext* ctx) {
    const ModelMatrixTable& mt = ctx->model;
    const ElementPattern& el = ctx->elements;
    double* x = ctx->nlp->x;
    while (cos_read_row(ctx, kRoleInram)) {
        if (std::memcmp(ctx->outRow.type, "ESTIM   ", 8) != 0) continue;
        int32_t k = 0;
        if (integer_part(ctx->cells.ramRow[0], &k)) k %= kTermMultiplier;
        if (k < 1 || k > ctx->nMatrices) {
            xpmlog(kMsgProc, kMsgInramUnknownMatrix, k);
            raise_error_level(ctx, kLevelWarning);
            continue;
        }
        int32_t row = -1, col = -1;
        const bool addressed = integer_part(ctx->cells.ramRow[1] - 1.0, &row) &&
                               integer_part(ctx->cells.ramRow[2] - 1.0, &col);
        int32_t found = -1;
        for (int32_t e = mt.firstElement[k]; addressed && e < mt.firstElement[k] + mt.elementCount[k]; ++e)
            if (el.row[e] == row && el.column[e] == col) {
                found = e;
                break;
            }
        if (found < 0) {
            xpmlog(kMsgProc, kMsgInramNoElement, k, row + 1, col + 1);
            raise_error_level(ctx, kLevelBadVariables);
            continue;
        }
        const double estimate = ctx->cells.ramRow[3];
        el.value[found] = estimate;
        const int32_t p = el.parameter[found];
        if (p != 0) x[std::abs(p) - 1] = estimate;
    }
}

}  // namespace

void cosxinp(ProcContext* ctx, int32_t mode) {
    if (ctx->nByVars == 0) return;
    NlpProblem* nlp = ctx->nlp;
    NlpHookBlock* hooks = nlp->hooks ? nlp->hooks : ctx->hooks;
    const int64_t nE = ctx->nElements, nP = ctx->nParmAll;
    scratch_check(xcpoint(ctx->scratchFile, 0));
    if (mode == 0) {
        scratch_check(xcwrite(ctx->scratchFile, nlp, sizeof *nlp));
        scratch_check(xcwrite(ctx->scratchFile, hooks, sizeof *hooks));
        if (nE > 0) scratch_check(xcwrite(ctx->scratchFile, ctx->elements.value, 8 * nE));
        if (nP > 0) scratch_check(xcwrite(ctx->scratchFile, nlp->x, 8 * nP));
        const int64_t end = static_cast<int64_t>(sizeof *nlp + sizeof *hooks) + 8 * (nE + nP);
        ctx->optSetup.saveEnd[0] = ctx->optSetup.saveEnd[1] = ctx->optSetup.saveEnd[2] = end;
        return;
    }
    scratch_check(xcread(ctx->scratchFile, nlp, sizeof *nlp));
    scratch_check(xcread(ctx->scratchFile, hooks, sizeof *hooks));
    if (!ctx->input.inramUsed) {
        if (nE > 0) scratch_check(xcread(ctx->scratchFile, ctx->elements.value, 8 * nE));
        if (nP > 0) scratch_check(xcread(ctx->scratchFile, nlp->x, 8 * nP));
        for (int64_t e = 0; e < nE; ++e) {
            const int32_t p = ctx->elements.parameter[e];
            if (p != 0) ctx->elements.value[e] = nlp->x[std::abs(p) - 1];
        }
    } else {
        apply_inram_estimates(ctx);
    }
    if (ctx->errorLevel > kLevelStepEnds) xexit(ctx->errorLevel, 0);
}
