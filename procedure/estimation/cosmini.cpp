// The estimation run of a BY group: the stages of its method (one, or ULS
// followed by the method asked for, each stage starting at the previous
// stage's estimates), each stage a start phase and a run of the optimizer
// on the discrepancy function, then the covariance of the estimates from
// the information matrix and the result printers.  When a technique cannot
// have its work space the stage is run again with a technique that needs
// less (Newton-type methods need O(n^2) doubles, quasi-Newton methods as
// well but fewer factors, conjugate gradients O(n); Nocedal and Wright,
// Numerical Optimization, 2nd ed., ch. 5-7).
//
//   for each stage:
//       method of the stage, Jacobian mode, evaluation arrays, work space
//       linear constraints: remove the dependent rows
//       start phase; when it did not fail, the run
//       the run could not have its work space: a less demanding technique
//   usable (status >= 0, or <= -5 but not -10 or -11):
//       covariance of the estimates, active constraints, degrees of freedom
//       result printers
#include <cstring>
#include <vector>

#include "host/interrupt.h"
#include "host/object_dispatch.h"
#include "host/output_table.h"
#include "optimizer/optimizer.h"
#include "procedure/data/data.h"
#include "procedure/estimation/estimation.h"
#include "procedure/estimation/options.h"
#include "procedure/evaluation/information.h"
#include "procedure/evaluation/jacobian_pattern.h"
#include "procedure/evaluation/matrix_check.h"
#include "procedure/evaluation/sparse_inverse.h"
#include "procedure/evaluation/model_view.h"
#include "procedure/procedure.h"
#include "procedure/results/effects.h"
#include "procedure/results/residual_store.h"
#include "procedure/results/residuals.h"
#include "procedure/results/results.h"
#include "velix/codes.h"
#include "velix/host.h"

namespace {

// Messages of the estimation run (group kMsgProc).
constexpr int32_t kMsgSparseJacobian = 28;   // the sparse Jacobian is used
constexpr int32_t kMsgStartFailed = 434;     // the objective fails at the start point
constexpr int32_t kMsgFallback = 435;        // technique replaced after a memory shortage
constexpr int32_t kMsgNoTechnique = 436;     // no technique could have its work space
constexpr int32_t kMsgNotUsable = 437;       // the last stage gave no usable solution
constexpr int32_t kMsgInfeasibleEnd = 441;   // the last stage ended at an infeasible point
constexpr int32_t kMsgOptimizationGroup = 740;

void end_if_fatal(ProcContext* ctx) {
    if (ctx->errorLevel > kLevelStepEnds) xexit(ctx->errorLevel, 0);
}

void library_manager(ProcContext* ctx, NlpProblem* nlp) {
    if (nlp->out.kyrObject != nullptr || ctx->output.kyrAnchor == nullptr) return;
    // The optimizer library's messages and tables go through its own manager.
    kyr_manager_create(ctx->output.kyrAnchor, kMsgNlp, &nlp->out.kyrObject);
}

// The "Optimization" group around the optimizer's output of the BY group.
void open_optimization_group(ProcContext* ctx) {
    if (ctx->output.kyrManager == nullptr || ctx->output.kyrGroups[kGroupOptimization] != nullptr) return;
    ctx->output.kyrGroups[kGroupOptimization] =
        open_output_group(ctx->output.kyrManager, "Optimization", kyrmsg(kMsgProc, kMsgOptimizationGroup));
}

void close_optimization_group(ProcContext* ctx) {
    HostObject* group = ctx->output.kyrGroups[kGroupOptimization];
    if (group == nullptr) return;
    const int32_t rc = group->cls->closeDescriptor->function(group, group->cls->closeDatum, 4, 0, nullptr);
    if (rc < 0) xprrlog(0, rc);
    ctx->output.kyrGroups[kGroupOptimization] = nullptr;
}

// The counters and run state a new stage starts from; the point stays.
void reset_run_state(NlpProblem* nlp) {
    nlp->run.nFun = nlp->run.nGrad = nlp->run.nHess = nlp->run.nConEval = nlp->run.nConJac = 0;
    nlp->run.nUpdates = nlp->run.nLineSearches = nlp->run.iterSinceStart = nlp->run.nRestarts = 0;
    nlp->run.iteration = 0.0;
    nlp->run.evalStatus = 0.0;
    nlp->run.lastStatus = 0;
    nlp->run.feasRound = 0;
    nlp->active.nActiveBounds = nlp->active.nActiveLin = nlp->active.nActiveNlin = 0;
    nlp->active.nDepLin = nlp->active.nDepBounds = 0;
    if (nlp->opt.critCounts != nullptr) std::memset(nlp->opt.critCounts + 10, 0, 10 * sizeof(int32_t));
}

// The optimizer's own covariance of the estimates (the standard errors of
// its "ParameterEstimates" table and of the OUTEST= rows) scales the
// inverse cross product by the stage's sigma^2, as the procedure's own
// covariance does.  ULS has none: the optimizer's least-squares estimate
// of sigma^2 stands.
void stage_covariance_scale(ProcContext* ctx) {
    if (ctx->hooks == nullptr) return;
    ctx->hooks->matrices.sigmaSqGiven = estimate_covariance_scale(ctx->methods.methodStage, sample_multiplier(&ctx->moments, &ctx->options));
}

// Start phase and run of the current technique.  *memoryShort (out) is set
// when the run could not have its work space.
int32_t drive(NlpProblem* nlp, bool* memoryShort) {
    *memoryShort = false;
    reset_run_state(nlp);
    // Dependent linear rows would make the active-set factor singular; a
    // contradiction among them shows as an infeasible start below.
    if (nlp->shape.hasLinCon)
        (void)znlpldc(nlp, nlp->opt.conFactorForm, nlp->shape.linRowsSparse, nlp->con.linColIndex, nlp->con.linRowEnd, nlp->con.linRows);
    const int32_t derivCheck = nlp->opt.derivCheckMode == 3 ? 1 : 0;
    int32_t status = znlpdrv(nlp, 1, 0, derivCheck, nlp->shape.hasNlinCon && derivCheck ? 1 : 0);
    if (status == kNlpStartFunction) xpmlog(kMsgProc, kMsgStartFailed);
    if (status < 0) return status;
    status = znlpdrv(nlp, 2, 0, 0, 0);
    // A technique short of work space answers kNlpNotUsable before its
    // first iteration.  So does one that does not take general constraints
    // (it says so itself): with constraints the answer is not taken for a
    // memory shortage, since the less demanding techniques refuse them too.
    *memoryShort = status == kNlpNotUsable && !nlp->shape.hasLinCon && !nlp->shape.hasNlinCon;
    return status;
}

// The options a replacing technique takes its own defaults for; the
// requested technique's values come back after the stage.  The update and
// line-search codes are not reset: one left 0 takes the replacing
// technique's default, and the requested technique's come back as well.
struct TechniqueOptions {
    int32_t technique, update, lineSearch;
    double lsPrecision, maxIter, maxFunc, restart;
    explicit TechniqueOptions(const NlpProblem* p)
        : technique(p->opt.technique), update(p->opt.update), lineSearch(p->opt.lineSearch), lsPrecision(p->opt.lsPrecision),
          maxIter(p->opt.maxIter), maxFunc(p->opt.maxFunc), restart(p->opt.restart) {}
    void restore(NlpProblem* p) const {
        p->opt.technique = technique;
        p->opt.update = update;
        p->opt.lineSearch = lineSearch;
        p->opt.lsPrecision = lsPrecision;
        p->opt.maxIter = maxIter;
        p->opt.maxFunc = maxFunc;
        p->opt.restart = restart;
    }
};

// Makes `pool` the stage's: the problem's work arrays point into it until
// the next stage (the writers after the run read them).
void keep_stage_pool(ProcContext* ctx, HostAllocator* pool) {
    if (pool == nullptr) return;
    xmpoold(ctx->est.stagePool);
    ctx->est.stagePool = pool;
}

// One stage with the fallback of techniques.  kEstimationNoMemory when no
// technique could have its work space.
int32_t run_stage(ProcContext* ctx, NlpProblem* nlp) {
    const TechniqueOptions requested(nlp);
    for (;;) {
        bool memoryShort = true;
        int32_t status = kNlpNotUsable;
        HostAllocator* pool = xmpoolc(8 * (16 * static_cast<int64_t>(nlp->shape.nParams) + 1024), 1024, 4096);
        if (pool != nullptr && estimation_workspace(nlp, pool)) status = drive(nlp, &memoryShort);
        const int32_t next = memoryShort ? estimation_fallback_technique(nlp->opt.technique, nlp->shape.hasNlinCon) : 0;
        if (!memoryShort || next == 0) {
            ctx->est.techniqueRun = nlp->opt.technique;
            requested.restore(nlp);
            keep_stage_pool(ctx, pool);
            if (!memoryShort) return status;
            xpmlog(kMsgProc, kMsgNoTechnique);
            return kEstimationNoMemory;
        }
        xmpoold(pool);
        xpmlog(kMsgProc, kMsgFallback, nlp->opt.technique, next);
        nlp->opt.technique = next;
        // The new technique's own defaults (limits, line-search precision).
        nlp->opt.lsPrecision = nlp->opt.maxIter = nlp->opt.maxFunc = nlp->opt.restart = host_missing_value();
        znlp_default_options(nlp);
    }
}

// The exogenous block that no statement gives is the sample's under ULS;
// WLS and DWLS estimate it (parameters "_Exo<number>").  The ULS stage of
// LSWLS and LSDWLS keeps it at the sample values, as ULS alone does: freed
// there, the block fits the other moments too and takes the ULS stage to
// an improper point (R-squares above 1) that the weighted stage does not
// leave.  Held by coinciding bounds at the start, given back after the
// stage.
class HeldExogenousBlock {
public:
    HeldExogenousBlock(const ProcContext* ctx, NlpProblem* nlp, int32_t stage, int32_t nStages) : nlp_(nlp) {
        if (!ctx->readers.exoBlockGenerated || nStages < 2 || stage != 0) return;
        hasBounds_ = nlp->shape.hasBounds;
        for (int32_t j = 0; j < nlp->shape.nParams; ++j) {
            if (!generated_exogenous_name(nlp->param.paramNames[j])) continue;
            held_.push_back({j, nlp->param.lower[j], nlp->param.upper[j]});
            nlp->param.lower[j] = nlp->param.upper[j] = nlp->param.x[j];
            nlp->shape.hasBounds = 1;
        }
    }
    ~HeldExogenousBlock() {
        for (const Held& h : held_) {
            nlp_->param.lower[h.param] = h.lower;
            nlp_->param.upper[h.param] = h.upper;
        }
        if (!held_.empty()) nlp_->shape.hasBounds = hasBounds_;
    }
    HeldExogenousBlock(const HeldExogenousBlock&) = delete;
    HeldExogenousBlock& operator=(const HeldExogenousBlock&) = delete;

private:
    struct Held {
        int32_t param;
        double lower, upper;
    };
    NlpProblem* nlp_;
    int32_t hasBounds_ = 0;
    std::vector<Held> held_;
};

// Covariance of the estimates, active constraints and degrees of freedom
// after a usable last stage.
void after_usable_run(ProcContext* ctx, NlpProblem* nlp) {
    // A run that stopped short of a convergence criterion (a limit, a step
    // that could not go on) leaves estimates without a covariance: its
    // printers show no standard errors, and the step ends with a warning.
    if (nlp_solution_reached(nlp, ctx->est.status))
        cosicrp(nlp);
    else {
        ctx->eval.covStatus = 0;  // no covariance of the estimates
        raise_error_level(ctx, kLevelWarning);
    }
    const EvalView view = eval_view(ctx);
    coscmat(&view);
    ctx->est.nActive = nlp->active.nActiveLin + nlp->active.nActiveBounds;
    // An active constraint fixes one direction of the parameter space, as
    // a fixed parameter would: it gives one degree of freedom back.
    if (!ctx->options.noDfAdjust) ctx->moments.modelDf += ctx->est.nActive;
}

// The printers of the model kind after a usable run: the estimates (with
// their standard errors when the covariance of the estimates is there),
// then the standardized solution.
void model_printers(ProcContext* ctx) {
    const int32_t m = ctx->methods.methodStage == kMethodNone || ctx->methods.methodStage == kMethodUls ||
                              ctx->methods.methodStage == kMethodDwls || ctx->eval.covStatus < 1 ||
                              ctx->eval.covStatus > 2
                          ? 1
                          : 2;
    const bool wanted = ctx->options.printEnabled || ctx->dataSets.dataSetHandle[kRoleOutstat] != nullptr;
    if (ctx->options.matrixForm && ctx->options.printEnabled) cospout(ctx, m);
    if (ctx->readers.ramModel && wanted) cospram(ctx, m);
    if (ctx->readers.lineqsModel && wanted) {
        cospeqs(ctx, m);
        cospeqs(ctx, 3);
    }
    if (ctx->readers.factorModel && wanted) cospfac(ctx);
}

}  // namespace

int32_t estimation_stages(int32_t method, int32_t stages[2]) {
    switch (method) {
        case kMethodUlsGls: stages[1] = kMethodGls; break;
        case kMethodUlsMl: stages[1] = kMethodMl; break;
        case kMethodUlsWls: stages[1] = kMethodWls; break;
        case kMethodUlsDwls: stages[1] = kMethodDwls; break;
        default: stages[0] = method; return 1;
    }
    stages[0] = kMethodUls;
    return 2;
}

int32_t estimation_fallback_technique(int32_t technique, int32_t nonlinearConstraints) {
    switch (technique) {
        case kTechTrureg:
        case kTechNewrap:
        case kTechNrridg:
        case kTechNrlins:
        case kTechGaunew:
        case kTechLevmar:
        case kTechHyquan:
            return nonlinearConstraints ? kTechDualQuanew : kTechQuanew;
        case kTechQuanew:
        case kTechDbldog:
            return nonlinearConstraints ? 0 : kTechCongra;
        default: return 0;
    }
}

int32_t estimation_jacobian_mode(const ProcContext* ctx, const NlpProblem* nlp) {
    if (ctx->methods.methodStage == kMethodNone) return -1;
    const bool wanted = ctx->options.modIndices || (ctx->hooks != nullptr && ctx->hooks->cov.wantCovariance);
    const int32_t request = ctx->methods.jacobianModeRequested;
    // The sparse Jacobian also serves the fit's own cross products, so it is
    // taken whenever its pattern pays, whether or not anything after the
    // run needs the Jacobian; the other storage forms only serve the
    // covariance of the estimates and the indices.
    if (request == 11 || request == 12) return request;
    if (request != 0) return wanted ? request : -1;
    const int64_t dense = static_cast<int64_t>(ctx->sizes.nMoments) * ctx->sizes.nParmFree;
    if (sparse_pattern_pays(ctx->eval.jac.nonzeros, ctx->sizes.nMoments, ctx->sizes.nParmFree)) {
        xpmlog(kMsgProc, kMsgSparseJacobian, ctx->eval.jac.nonzeros, dense);
        return 11;
    }
    if (!wanted) return -1;
    return nlp->run.nRestarts > 1 ? 1 : 2;
}

int32_t cosmini(ProcContext* ctx) {
    NlpProblem* nlp = ctx->nlp;
    library_manager(ctx, nlp);
    open_optimization_group(ctx);
    int32_t stages[2] = {};
    const int32_t nStages = estimation_stages(ctx->methods.methodGroup, stages);
    int32_t status = kNlpNotUsable;
    HostAllocator* const lastPool = ctx->est.stagePool;
    ctx->est = EstimationState{};
    ctx->est.stagePool = lastPool;
    // The fit statistics of an earlier BY group must not stand for this one.
    ctx->results.fitStatsValid = 0;
    cosvout(ctx, kVectorInitial);
    for (int32_t s = 0; s < nStages; ++s) {
        ctx->methods.methodStage = stages[s];
        commem(ctx);
        // The optimizer's covariance code takes the information in the
        // array of the cross product and leaves its inverse where cosicrp
        // puts the estimates' covariance, so that each is held once.
        ctx->hooks->result.inverseBuffer = ctx->eval.covariance;
        ctx->hooks->result.inverseTag = -1;
        ctx->hooks->result.crossProductBuffer = ctx->eval.cross;
        const EvalView view = eval_view(ctx);
        cosimsp(&view);
        ctx->methods.jacobianModeRequested =
            sparsji(&view, ctx->methods.jacobianModeRequested, ctx->eval.printJacPattern);
        ctx->eval.jacobianMode = estimation_jacobian_mode(ctx, nlp);
        stage_covariance_scale(ctx);
        cosop_profile_stage(ctx, s == nStages - 1);
        {
            const HeldExogenousBlock held(ctx, nlp, s, nStages);
            status = run_stage(ctx, nlp);
        }
        end_if_fatal(ctx);
        if (status == kEstimationNoMemory) {
            raise_error_level(ctx, kLevelNoOptimizerMemory);
            close_optimization_group(ctx);
            end_if_fatal(ctx);
            return kEstimationNoMemory;
        }
        if (!nlp_status_usable(status)) break;
    }
    ctx->est.status = status;
    ctx->est.usable = nlp_status_usable(status);
    close_optimization_group(ctx);
    // A technique may stop at a point outside the feasible set (its status
    // still counts as usable): estimates that break the model's
    // constraints are no solution of it.
    if (ctx->est.usable && nlp_final_point_violated(nlp)) {
        xpmlog(kMsgProc, kMsgInfeasibleEnd, nlp->iter.maxConViolation);
        raise_error_level(ctx, kLevelNoEstimate);
        return 1;
    }
    if (!ctx->est.usable) {
        // A fit that failed (no feasible start, failed evaluations) is not
        // a successful step: the return code says so; later BY groups run.
        xpmlog(kMsgProc, kMsgNotUsable, status);
        raise_error_level(ctx, kLevelNoEstimate);
        return 1;
    }
    // The stages after the fit are safe points for a stop: each may take
    // seconds on a large model.
    stop_if_interrupted();
    after_usable_run(ctx, nlp);
    end_if_fatal(ctx);
    stop_if_interrupted();
    // The result printers in their order: the fit summary, the residuals
    // of the solution, the printers of the model kind and the effects of
    // an equation model; the "SupplementaryResults" group they leave open
    // is closed after them.
    cosresi(ctx);
    stop_if_interrupted();
    if (residual_store_fill(ctx) == 0) (void)cosnore(ctx);
    stop_if_interrupted();
    model_printers(ctx);
    stop_if_interrupted();
    costeff(ctx);
    close_output_group(ctx->output.kyrGroups[kGroupSupplementary]);
    ctx->output.kyrGroups[kGroupSupplementary] = nullptr;
    return 0;
}
