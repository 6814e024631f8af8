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
    if (nlp->shape.hasNlinCon) return kTechDualQuanew;
    return nlp->shape.hasLinCon ? kTechNrlins : kTechLevmar;
}

namespace {

constexpr int32_t kMsgOptionRange = 906;  // an optimizer option out of its range

// The tolerances the statements may give, each with its rule: a negative
// tolerance turns a test into one that can never hold (the search for a
// feasible start widened a negative LCEPS for ever), a zero one into one
// that holds only exactly.  Every tolerance out of range is named.
// Result: the error level.
int32_t check_tolerances(const NlpProblem* nlp) {
    const struct {
        const char* name;
        double value;
        bool positive;  // above 0; else 0 or above
    } rules[] = {{"LCEPS", nlp->opt.feasTol, true},      {"LCSINGULAR", nlp->opt.linDepTol, true},
                 {"SINGULAR", nlp->opt.singularTol, true}, {"ABSFCONV", nlp->opt.absFConv, false},
                 {"FCONV", nlp->opt.fConv, false},        {"FCONV2", nlp->opt.fConv2, false},
                 {"ABSXCONV", nlp->opt.absXConv, false},  {"XCONV", nlp->opt.xConv, false},
                 {"ABSGCONV", nlp->opt.absGConv, false},  {"GCONV", nlp->opt.gConv, false},
                 {"GCONV2", nlp->opt.gConv2, false},      {"FSIZE", nlp->opt.fSize, false},
                 {"XSIZE", nlp->opt.xSize, false}};
    int32_t level = kLevelNone;
    for (const auto& r : rules) {
        const bool ok = r.positive ? r.value > 0.0 : r.value >= 0.0;
        if (ok) continue;
        xpmlog(kMsgNlp, kMsgOptionRange, r.name, r.value, r.positive ? "above 0" : "0 or above");
        level = kLevelInputError;
    }
    return level;
}

}  // namespace

int32_t cosop12(ProcContext* ctx, NlpProblem* nlp) {
    if (nlp->opt.technique <= 0) nlp->opt.technique = default_technique(nlp);
    znlp_default_options(nlp);
    if (const int32_t level = check_tolerances(nlp)) return level;
    nlp->cb.terminationFn = znlptrm;
    nlp->cb.updateFn = nlp->opt.update == kUpdateDfp ? znlpdfp : znlpbfg;
    nlp->cb.lineSearchFn = znlp_line_search(nlp->opt.lineSearch);
    // The techniques iterate with J'WJ, and with the exact Hessian near the
    // minimum where that converges faster; the hook block keeps J'WJ for
    // the covariance of the estimates.
    nlp->cb.hessianFn = estimation_hessian;
    // The objective is evaluated before the constraint Jacobian, so that
    // the program's constraint values belong to the point.
    nlp->opt.refreshFBeforeConJac = 1;
    // The library's covariance of the estimates and its matrix tables.
    ctx->hooks->post.covarianceHook = znlpcma;
    ctx->hooks->post.matrixPrintHook = znlppma;
    // The OUTEST= rows of the start, the iterations, the solution and the
    // matrices.
    if (ctx->dataSets.dataSetHandle[kRoleOutest] != nullptr) {
        ctx->hooks->post.outestHook = cosfoes;
        nlp->cb.iterOutputHook = cosfoit;
    }
    // The start and result tables of each stage ("ParameterEstimates" with
    // the standard errors) are part of the procedure's printed output.
    const int16_t print = ctx->options.printEnabled && nlp->opt.printLevel != 0.0 ? 1 : 0;
    ctx->hooks->print.printStart = ctx->hooks->print.forceResultPrint = print;
    // Its covariance inverts the cross product J'WJ, which it must store.
    // J'WJ is the expected information, whose inverse on the null space of
    // the active constraints is the covariance of constrained estimates
    // (Aitchison and Silvey 1958) as the procedure forms it: the curvature
    // of active nonlinear constraints, which the library's Lagrangian
    // matrices add, belongs with an observed Hessian and stays out.
    if (ctx->hooks->cov.wantCovariance) {
        ctx->hooks->matrices.wantCrossProduct = 1;
        ctx->hooks->matrices.plainMatrices = 1;
    }
    // PHESSIAN shows the Hessian of F (by finite differences of the
    // gradient) at the start and at the solution: the start is asked by
    // the print switch, the solution by this request.
    if (ctx->hooks->cov.printHessian) ctx->hooks->matrices.wantHessian = 1;
    return kLevelNone;
}
