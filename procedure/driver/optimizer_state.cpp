// The optimizer state saved between BY groups: after the set-up, the whole
// NlpProblem and NlpHookBlock, the element values and the parameter vector
// are written at the start of the scratch file; every later BY group starts
// from them again, so that each group has the same options and start
// values (random start values included).  Element values are then
// re-derived from the parameters, so a parameter shared by several
// elements has one value everywhere.  With
// INRAM= the element values and parameters of each group come instead from
// the ESTIM rows of that group of the INRAM= data set.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "host/scratch_file.h"
#include "procedure/data/data.h"
#include "procedure/driver/model.h"
#include "procedure/driver/step_view.h"
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
void apply_inram_estimates(const StepView& sv) {
    const ModelMatrixTable& mt = *sv.model;
    const ElementPattern& el = *sv.elements;
    double* x = sv.nlp->param.x;
    while (cos_read_row(sv.ctx, kRoleInram)) {
        if (std::memcmp(sv.dataSets->outRow.type, "ESTIM   ", 8) != 0) continue;
        int32_t k = 0;
        if (integer_part(sv.cells->ramRow[0], &k)) k %= kTermMultiplier;
        if (k < 1 || k > sv.sizes->nMatrices) {
            xpmlog(kMsgProc, kMsgInramUnknownMatrix, k);
            raise_error_level(sv.ctx, kLevelWarning);
            continue;
        }
        int32_t row = -1, col = -1;
        const bool addressed = integer_part(sv.cells->ramRow[1] - 1.0, &row) &&
                               integer_part(sv.cells->ramRow[2] - 1.0, &col);
        int32_t found = -1;
        for (int32_t e = mt.firstElement[k]; addressed && e < mt.firstElement[k] + mt.elementCount[k]; ++e)
            if (el.row[e] == row && el.column[e] == col) {
                found = e;
                break;
            }
        if (found < 0) {
            xpmlog(kMsgProc, kMsgInramNoElement, k, row + 1, col + 1);
            raise_error_level(sv.ctx, kLevelBadVariables);
            continue;
        }
        const double estimate = sv.cells->ramRow[3];
        el.value[found] = estimate;
        const int32_t p = el.parameter[found];
        if (p != 0) x[std::abs(p) - 1] = estimate;
    }
}

}  // namespace

void cosxinp(ProcContext* ctx, int32_t mode) {
    const StepView sv = step_view(ctx);
    if (sv.sizes->nByVars == 0) return;
    NlpProblem* nlp = sv.nlp;
    NlpHookBlock* hooks = nlp->hooks ? nlp->hooks : sv.hooks;
    const int64_t nE = sv.sizes->nElements, nP = sv.sizes->nParmAll;
    scratch_check(xcpoint(sv.files->scratchFile, 0));
    if (mode == 0) {
        scratch_check(xcwrite(sv.files->scratchFile, nlp, sizeof *nlp));
        scratch_check(xcwrite(sv.files->scratchFile, hooks, sizeof *hooks));
        if (nE > 0) scratch_check(xcwrite(sv.files->scratchFile, sv.elements->value, 8 * nE));
        if (nP > 0) scratch_check(xcwrite(sv.files->scratchFile, nlp->param.x, 8 * nP));
        const int64_t end = static_cast<int64_t>(sizeof *nlp + sizeof *hooks) + 8 * (nE + nP);
        sv.optSetup->saveEnd[0] = sv.optSetup->saveEnd[1] = sv.optSetup->saveEnd[2] = end;
        sv.optSetup->seedAtSetup = sv.options->randomSeed;
        return;
    }
    // The library's output manager, made by the first group's estimation,
    // serves the later groups too rather than one more being made for each.
    HostObject* const libraryManager = nlp->out.kyrObject;
    scratch_check(xcread(sv.files->scratchFile, nlp, sizeof *nlp));
    scratch_check(xcread(sv.files->scratchFile, hooks, sizeof *hooks));
    nlp->out.kyrObject = libraryManager;
    // Random start values draw the same numbers in every group.
    sv.options->randomSeed = sv.optSetup->seedAtSetup;
    if (!sv.input->inramUsed) {
        if (nE > 0) scratch_check(xcread(sv.files->scratchFile, sv.elements->value, 8 * nE));
        if (nP > 0) scratch_check(xcread(sv.files->scratchFile, nlp->param.x, 8 * nP));
        for (int64_t e = 0; e < nE; ++e) {
            const int32_t p = sv.elements->parameter[e];
            if (p != 0) sv.elements->value[e] = nlp->param.x[std::abs(p) - 1];
        }
    } else {
        apply_inram_estimates(sv);
    }
    if (*sv.errorLevel > kLevelStepEnds) xexit(*sv.errorLevel, 0);
}
