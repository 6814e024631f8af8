// Completion of the optimizer options after the statements are read: the
// default technique, the defaults of the library for that technique, and
// the library's own termination test, quasi-Newton update and line search
// in their slots.  The options the statements gave stay as given.
#include "optimizer/optimizer.h"
#include "procedure/data/data.h"
#include "procedure/estimation/estimation.h"
#include "procedure/estimation/options.h"
#include "velix/codes.h"

// Without TECHNIQUE= the estimation runs Levenberg-Marquardt on the
// procedure's cross product J'WJ, with the exact Hessian for its last steps
// where scoring is slow (estimation_hessian).  Measured (function calls to
// convergence, from the constant start values) on the reference models,
// against the other techniques that take second derivatives: nine
// variables 16 (NRRIDG 25, TRUREG 14), eleven
// 15 (31, 18), six 17 (19, 17), and the 120-variable model with 306
// parameters 11 calls in 0.37 s of CPU for the whole program (NRRIDG 18 in
// 0.46 s, TRUREG 11 in 0.57 s); with a binding bound it converges where
// TRUREG stops at its iteration limit.  With general linear constraints it
// is NRLINS, the Newton-type technique that takes them; with nonlinear
// constraints the dual quasi-Newton method, the one technique of the
// estimation that takes them.
int32_t default_technique(const NlpProblem* nlp) {
    if (nlp->hasNlinCon) return kTechDualQuanew;
    return nlp->hasLinCon ? kTechNrlins : kTechLevmar;
}

int32_t cosop12(ProcContext* ctx, NlpProblem* nlp) {
    if (nlp->technique <= 0) nlp->technique = default_technique(nlp);
    znlp_default_options(nlp);
    nlp->terminationFn = znlptrm;
    nlp->updateFn = nlp->update == kUpdateDfp ? znlpdfp : znlpbfg;
    nlp->lineSearchFn = znlp_line_search(nlp->lineSearch);
    // The techniques iterate with J'WJ, and with the exact Hessian near the
    // minimum where that converges faster; the hook block keeps J'WJ for
    // the covariance of the estimates.
    nlp->hessianFn = estimation_hessian;
    // The objective is evaluated before the constraint Jacobian, so that
    // the program's constraint values belong to the point.
    nlp->refreshFBeforeConJac = 1;
    // The library's covariance of the estimates and its matrix tables.
    ctx->hooks->covarianceHook = znlpcma;
    ctx->hooks->matrixPrintHook = znlppma;
    // The OUTEST= rows of the start, the iterations, the solution and the
    // matrices.
    if (ctx->dataSets.dataSetHandle[kRoleOutest] != nullptr) {
        ctx->hooks->outestHook = cosfoes;
        nlp->iterOutputHook = cosfoit;
    }
    // The start and result tables of each stage ("ParameterEstimates" with
    // the standard errors) are part of the procedure's printed output.
    const int16_t print = ctx->options.printEnabled && nlp->printLevel != 0.0 ? 1 : 0;
    ctx->hooks->printStart = ctx->hooks->forceResultPrint = print;
    // Its covariance inverts the cross product J'WJ, which it must store.
    if (ctx->hooks->wantCovariance) ctx->hooks->matrices.wantCrossProduct = 1;
    return kLevelNone;
}
