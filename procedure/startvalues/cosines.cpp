// The start-value cascades: for a LINEQS or RAM model (cosines) and for a
// FACTOR model (cosinfa), a fixed order of non-iterative estimators, each
// filling some of the element values that the model statements left
// missing, until none is missing.  The latent moments come first
// (instrumental variables, else principal factors, then composites), so that the later estimators
// can treat the latent variables as observed; then the coefficients (pooled
// least squares when parameters are shared, else two-stage least squares,
// then least squares per equation) and last the error variances.  Whatever
// stays missing is left to the default start step that follows.
#include <cmath>
#include <vector>

#include "host/fields.h"
#include "procedure/procedure.h"
#include "procedure/startvalues/factor_starts.h"
#include "procedure/startvalues/start_moments.h"
#include "velix/codes.h"
#include "velix/messages.h"

namespace {

using velix::detail::StartWork;

// Notes of the start values (group 352).
constexpr int32_t kNoteInstrumental = 64;   // latent variables by instrumental variables
constexpr int32_t kNotePrincipal = 65;      // latent variables by principal factors
constexpr int32_t kNoteLeastSquares = kMsgSharedReport;  // coefficients by least squares
constexpr int32_t kNoteTwoStage = 67;       // coefficients by two-stage least squares
constexpr int32_t kNoteStillMissing = 68;   // some start values are left to the default
// The unique part _U_ of a FACTOR model with factors.
constexpr int32_t kFactorUnique = 3;

// Every row of the start moments is known.
bool all_complete(const StartWork* w) {
    for (int32_t i = 0; i < w->order; ++i)
        if (w->complete[i] != 1) return false;
    return true;
}

bool any_missing(const ProcContext* ctx) {
    for (int32_t e = 0; e < ctx->sizes.nElements; ++e)
        if (wzmis(ctx->elements.value[e])) return true;
    return false;
}

// The coefficients, once the latent moments are as known as they get.
// False when a note call failed.
bool coefficient_steps(StartWork* w) {
    using namespace velix::detail;
    ProcContext* ctx = w->ctx;
    if (parmis(w, 1) == 0) return true;
    if (equality_pairs(w, w->range[1][0], w->range[1][1]) > 0 && all_complete(w)) {
        if (cosinda(w) == 0 && !start_note(ctx, kNoteLeastSquares)) return false;
    } else if (cosin2s(w) == 0 && !start_note(ctx, kNoteTwoStage)) {
        return false;
    }
    if (parmis(w, 1) > 0 && cosindb(w) == 0 && !start_note(ctx, kNoteLeastSquares)) return false;
    return true;
}

// The latent positions whose row of the start moments is not yet known:
// the composites will fill them.
std::vector<int32_t> unknown_latent_rows(const StartWork* w) {
    std::vector<int32_t> rows;
    for (int32_t i = w->n; i < w->order; ++i)
        for (int32_t j = 0; j <= i; ++j)
            if (wzmis(w->get(i, j))) {
                rows.push_back(i);
                break;
            }
    return rows;
}

// The latent moments: instrumental variables, else (moments about the
// means only) principal factors, then composites for what is left.  False
// when a note call failed.
bool latent_steps(StartWork* w) {
    using namespace velix::detail;
    ProcContext* ctx = w->ctx;
    int32_t jo = 0;
    if (parmis(w, 1) > 0) {
        jo = cosinjo(w);
        getcov(w);
        if (jo == 0 && !start_note(ctx, kNoteInstrumental)) return false;
    }
    // Principal factors need moments about the means (an intercept
    // variable or NOINT takes them about zero).
    if (jo != 0 && ctx->moments.momentOrigin == 0) {
        if (parmis(w, 1) == 0) {
            w->skipCoefficients = true;
            return true;
        }
        const int32_t pf = cosinf2(w);
        getcov(w);
        if (pf == 0 && !start_note(ctx, kNotePrincipal)) return false;
    }
    const std::vector<int32_t> composites = unknown_latent_rows(w);
    cosindc(w);
    follow_factor_units(w, composites);
    return true;
}

// The error variances and the note on what is left.
void variance_steps(StartWork* w) {
    using namespace velix::detail;
    if (parmis(w, 2) == 0) return;
    cosindp(w);
    if (parmis(w, 0) > 0) start_note(w->ctx, kNoteStillMissing);
}

// The work of the cascade; false when it cannot be had.  Tables that do
// not fit the model are an inconsistency of ours: the default start step
// takes every value, and the log says so (a memory shortage has logged its
// own messages).
bool start_work(ProcContext* ctx, StartWork* w) {
    const velix::detail::StartWorkStatus status = velix::detail::build_start_work(ctx, w);
    if (status == velix::detail::kStartWorkInconsistent)
        xpmlog(kMsgProc, kMsgStartEstimatorsUnusable);
    return status == velix::detail::kStartWorkReady;
}

}  // namespace

void cosines(ProcContext* ctx) {
    using namespace velix::detail;
    //   1. nothing to do: INEST=, not an equation model, nothing missing
    //   2. start moments and maps; latent rows by the equations
    //   3. latent moments: instrumental variables (else principal factors), composites
    //   4. coefficients: pooled or two-stage, then per equation
    //   5. error variances; intercepts and means (a model with means runs
    //      steps 2-5 on the covariances about the means); the values reach
    //      the start vector
    if (ctx->input.inestUsed || !ctx->readers.equationModel || !any_missing(ctx)) return;
    StartWork w;
    if (!start_work(ctx, &w)) return;
    MeanStartWork means;
    centre_for_means(&w, &means);
    getcov(&w);
    // A failed note call stops the cascade where it stands.
    const bool notesOk = (w.order == w.n || latent_steps(&w)) && (w.skipCoefficients || coefficient_steps(&w));
    if (notesOk) variance_steps(&w);
    mean_starts(&w, means);
    values_to_start_vector(ctx);
}

void cosinfa(ProcContext* ctx) {
    using namespace velix::detail;
    if (ctx->input.inestUsed || !ctx->readers.factorModel || !any_missing(ctx)) return;
    if (ctx->readers.nFactors == 0) {
        unique_only_starts(ctx);
        values_to_start_vector(ctx);
        return;
    }
    StartWork w;
    if (!start_work(ctx, &w)) return;
    if (ctx->readers.factorIdentity && !ctx->readers.factorNoUnique) {
        w.sdElements[0] = ctx->model.firstElement[kFactorUnique];
        w.sdElements[1] = ctx->model.firstElement[kFactorUnique] + ctx->model.elementCount[kFactorUnique];
    }
    if (ctx->readers.matrixSpec == 0) {
        if (parmis(&w, 0) > 0) cosinf3(&w);
        values_to_start_vector(ctx);
        return;
    }
    const std::vector<int32_t> composites = unknown_latent_rows(&w);
    cosindc(&w);
    follow_factor_units(&w, composites);
    bool notesOk = true;
    if (parmis(&w, 1) > 0) {
        bool pooled = false;
        if (equality_pairs(&w, w.range[1][0], w.range[1][1]) > 0 && all_complete(&w)) {
            const int32_t rc = cosinda(&w);
            pooled = parmis(&w, 1) == 0;
            if (pooled && rc == 0) notesOk = start_note(ctx, kNoteLeastSquares);
        }
        if (!pooled && cosindb(&w) == 0) notesOk = start_note(ctx, kNoteLeastSquares);
    }
    if (notesOk && parmis(&w, 2) > 0) cosindp(&w);
    if (notesOk && parmis(&w, 0) > 0) cosinf3(&w);
    values_to_start_vector(ctx);
}
