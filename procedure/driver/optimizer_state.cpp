// The optimizer state saved between BY groups: after the set-up, the whole
// NlpProblem and NlpHookBlock, the element values and the parameter vector
// are written at the start of the scratch file; every later BY group starts
// from them again, so that each group has the same options and start
// values.  Element values are then re-derived from the parameters, so a
// parameter shared by several elements has one value everywhere.
#include <cstdlib>
#include <cstring>

#include "host/scratch_file.h"
#include "procedure/driver/model.h"
#include "procedure/procedure.h"

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
        ctx->saveEnd[0] = ctx->saveEnd[1] = ctx->saveEnd[2] = end;
        return;
    }
    scratch_check(xcread(ctx->scratchFile, nlp, sizeof *nlp));
    scratch_check(xcread(ctx->scratchFile, hooks, sizeof *hooks));
    if (!ctx->inramUsed) {
        if (nE > 0) scratch_check(xcread(ctx->scratchFile, ctx->elements.value, 8 * nE));
        if (nP > 0) scratch_check(xcread(ctx->scratchFile, nlp->x, 8 * nP));
        for (int64_t e = 0; e < nE; ++e) {
            const int32_t p = ctx->elements.parameter[e];
            if (p != 0) ctx->elements.value[e] = nlp->x[std::abs(p) - 1];
        }
        if (ctx->errorLevel > 999) xexit(ctx->errorLevel, 0);
    }
}
