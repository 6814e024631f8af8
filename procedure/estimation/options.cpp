// Optimizer options of the procedure: the presets of the option fields, the
// NLOPTIONS statement, and the allocation of the optimizer's per-parameter
// and PROFILE arrays.  A preset "missing" means "the option set-up chooses
// by technique"; cosop12 completes them.
#include "procedure/estimation/options.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "host/fields.h"
#include "procedure/proc_options.h"
#include "velix/statements.h"

namespace {

// The line searches DAMPSTEP= caps.
constexpr int32_t kDampedSearches = 5;

void* allocate(HostAllocator* pool, size_t bytes) {
    return pool ? pool->allocate(pool, bytes == 0 ? 1 : bytes, alignof(double)) : nullptr;
}

HostAllocator* run_pool(ProcContext* ctx) {
    return ctx->pools.runPool[0] ? ctx->pools.runPool[0] : v_global_gcb_anchor->stepAllocator;
}

}  // namespace

void cosop11(ProcContext* ctx, NlpProblem* nlp) {
    using namespace velix::detail;
    const double missing = host_missing_value();
    // Presets: every double option missing, codes 0 (choose by technique).
    double* doubles[] = {&nlp->opt.feasTol,  &nlp->opt.linDepTol, &nlp->opt.lagMultTol, &nlp->opt.stepCap,
                         &nlp->opt.earlyStepCap, &nlp->opt.inStep, &nlp->opt.lsPrecision, &nlp->opt.singularTol,
                         &nlp->opt.inHessian, &nlp->opt.fDigits, &nlp->opt.cDigits, &nlp->opt.hesCal,
                         &nlp->opt.restart, &nlp->opt.maxTime, &nlp->opt.maxIter, &nlp->opt.nlcIterLimit,
                         &nlp->opt.maxFunc, &nlp->opt.absConv, &nlp->opt.absFConv, &nlp->opt.fConv,
                         &nlp->opt.fConv2, &nlp->opt.absXConv, &nlp->opt.xConv, &nlp->opt.absGConv,
                         &nlp->opt.gConv, &nlp->opt.gConv2, &nlp->opt.fSize, &nlp->opt.xSize, &nlp->opt.perturbSize};
    for (double* d : doubles) *d = missing;
    nlp->opt.technique = nlp->opt.update = nlp->opt.lineSearch = 0;
    nlp->opt.techVariant = 2;
    nlp->opt.printLevel = kNlLevelShort;
    ctx->hooks->cov.optionWord = 0;
    // The covariance of the estimates: singularity criteria that detect a
    // model that is not identified, the generalized inverse's eigenvalue
    // rule and size limit, and no factor of the least-squares variance
    // (|2f/d| is used).  PROC options given replace them in cosinit.
    NlpHookBlock* hooks = ctx->hooks;
    hooks->cov.covSingAbs = proc_cell_row(kProcASingular).value;
    hooks->cov.covSingRel = proc_cell_row(kProcMSingular).value;
    hooks->cov.covSingVar = proc_cell_row(kProcVSingular).value;
    hooks->cov.ginvTol = missing;
    hooks->cov.ginvMaxParams = static_cast<int32_t>(proc_cell_row(kProcG4).value);
    hooks->cov.sigsqFactor = missing;

    // NLOPTIONS statements, later ones overriding earlier ones.
    for (const StatementNode* n = find_statement(ctx->stmtList, "NLOPTION"); n;
         n = find_statement(n->next, "NLOPTION")) {
        const auto* r = static_cast<const ProcOptionRecord*>(n->payload);
        auto num = [&](int cellIndex, double* target) {
            if (r->cells[cellIndex].given) *target = r->cells[cellIndex].value;
        };
        auto code = [&](int cellIndex, int32_t* target) {
            if (r->cells[cellIndex].given) *target = static_cast<int32_t>(r->cells[cellIndex].value);
        };
        code(kNlTechnique, &nlp->opt.technique);
        code(kNlUpdate, &nlp->opt.update);
        code(kNlLineSearch, &nlp->opt.lineSearch);
        num(kNlMaxIter, &nlp->opt.maxIter);
        num(kNlMaxFunc, &nlp->opt.maxFunc);
        num(kNlMaxTime, &nlp->opt.maxTime);
        num(kNlAbsConv, &nlp->opt.absConv);
        num(kNlAbsFConv, &nlp->opt.absFConv);
        num(kNlFConv, &nlp->opt.fConv);
        num(kNlFConv2, &nlp->opt.fConv2);
        num(kNlAbsXConv, &nlp->opt.absXConv);
        num(kNlXConv, &nlp->opt.xConv);
        num(kNlAbsGConv, &nlp->opt.absGConv);
        num(kNlGConv, &nlp->opt.gConv);
        num(kNlGConv2, &nlp->opt.gConv2);
        num(kNlFSize, &nlp->opt.fSize);
        num(kNlXSize, &nlp->opt.xSize);
        num(kNlInStep, &nlp->opt.inStep);
        num(kNlLsPrecision, &nlp->opt.lsPrecision);
        code(kNlMinIter, &nlp->opt.minIter);
        num(kNlSingular, &nlp->opt.singularTol);
        // DAMPSTEP= caps the step of the first line searches, the window in
        // which MAXSTEP= caps the first trial step: from the sixth search on
        // the directions are trusted at their full length.  A value not
        // above 0 turns the cap off in the option set-up.
        if (r->cells[kNlDampStep].given) {
            nlp->opt.earlyStepCap = r->cells[kNlDampStep].value;
            nlp->opt.earlyStepSearches = kDampedSearches;
        }
        num(kNlMaxStep, &nlp->opt.stepCap);
        num(kNlFDigits, &nlp->opt.fDigits);
        num(kNlCDigits, &nlp->opt.cDigits);
        num(kNlHesCal, &nlp->opt.hesCal);
        num(kNlRestart, &nlp->opt.restart);
        num(kNlInHessian, &nlp->opt.inHessian);
        num(kNlLcEpsilon, &nlp->opt.feasTol);
        num(kNlLcSingular, &nlp->opt.linDepTol);
        num(kNlLcDeact, &nlp->opt.lagMultTol);
        // FD= chooses the gradient's differences (units digit), FDHESSIAN=
        // the Hessian's (thousands digit).
        if (r->cells[kNlFd].given)
            nlp->opt.derivDigits = nlp->opt.derivDigits / 10 * 10 + static_cast<int32_t>(r->cells[kNlFd].value);
        if (r->cells[kNlFdHessian].given)
            nlp->opt.derivDigits = nlp->opt.derivDigits % 1000 +
                               1000 * (2 + static_cast<int32_t>(r->cells[kNlFdHessian].value));
        const uint8_t f = n->flags[0];
        if (f & kNlNoprint) nlp->opt.printLevel = kNlLevelNoprint;
        if (f & kNlPsummary) nlp->opt.printLevel = kNlLevelSummary;
        if (f & kNlPshort) nlp->opt.printLevel = kNlLevelShort;
        if (f & kNlPhistory) nlp->opt.printLevel = kNlLevelHistory;
        if (f & kNlPall) nlp->opt.printLevel = kNlLevelAll;
    }

    // Constraint statements present.
    nlp->shape.hasBounds = find_statement(ctx->stmtList, "BOUNDS  ") != nullptr;
    nlp->shape.hasLinCon = find_statement(ctx->stmtList, "LINCON  ") != nullptr;
    nlp->shape.hasNlinCon = find_statement(ctx->stmtList, "NLINCON ") != nullptr;
}

void cosop31(ProcContext* ctx, NlpProblem* nlp, ParameterArrays* arrays, int32_t nParmAll) {
    *arrays = ParameterArrays{};
    const size_t n = nParmAll > 0 ? static_cast<size_t>(nParmAll) : 0;
    HostAllocator* pool = run_pool(ctx);
    // Five double arrays and the names; a failure reports the size of all.
    const size_t bytes = n * sizeof(NameRecord) + 5 * n * sizeof(double);
    double* d = static_cast<double*>(allocate(pool, 5 * n * sizeof(double)));
    void* names = d ? allocate(pool, n * sizeof(NameRecord)) : nullptr;
    if (names == nullptr) {
        xmemmsg(static_cast<int64_t>(bytes));
        raise_error_level(ctx, kLevelNoMemory);
        return;
    }
    arrays->count = static_cast<int32_t>(n);
    arrays->names = static_cast<NameRecord*>(names);
    for (size_t i = 0; i < n; ++i) new (&arrays->names[i]) NameRecord();
    arrays->x = d;
    arrays->lower = d + n;
    arrays->upper = d + 2 * n;
    arrays->scale = d + 3 * n;
    arrays->row = d + 4 * n;
    const double missing = host_missing_value();
    for (size_t i = 0; i < 5 * n; ++i) d[i] = missing;
    nlp->param.paramNames = arrays->names;
    nlp->param.x = arrays->x;
    nlp->param.lower = arrays->lower;
    nlp->param.upper = arrays->upper;
    nlp->param.scale = arrays->scale;
    nlp->param.paramRow = arrays->row;
}

void cosop32(ProcContext* ctx, NlpProblem* nlp, void** block) {
    ProfileSettings* ps = ctx->hooks->plSettings ? ctx->hooks->plSettings : &ctx->hooks->settings;
    // With no profiled name the list takes every parameter.
    const size_t np = static_cast<size_t>(std::max(std::max(ps->nSelected, nlp->shape.nParams), 0));
    const size_t nl = ps->nAlpha > 0 ? static_cast<size_t>(ps->nAlpha) : 0;
    const size_t bytes = np * sizeof(int32_t) + nl * sizeof(double) + sizeof(double);
    unsigned char* p = static_cast<unsigned char*>(allocate(run_pool(ctx), bytes));
    if (p == nullptr) {
        xmemmsg(static_cast<int64_t>(bytes));
        raise_error_level(ctx, kLevelNoMemory);
        *block = nullptr;
        return;
    }
    *block = p;
    ps->alphas = reinterpret_cast<double*>(p);
    ps->selected = reinterpret_cast<int32_t*>(p + (nl + 1) * sizeof(double));
}

void cosop_profile(ProcContext* ctx) {
    ProfileSettings* ps = ctx->hooks->plSettings ? ctx->hooks->plSettings : &ctx->hooks->settings;
    // The default set brings its own levels.
    for (int32_t i = 0; !ps->useDefaults && i < ps->nAlpha && ps->alphas != nullptr; ++i)
        ps->alphas[i] = (100.0 - ps->alphas[i]) / 100.0;
    ps->targetScaleKind = 2;
    ctx->optSetup.profileScaleGiven = ps->method != 0 && !wzmis(ps->devianceScale) && ps->devianceScale != 0.0;
    ctx->optSetup.profileMethod = ps->method;
    if (ps->method == 0) return;
    ps->printLimits = ctx->options.printEnabled ? std::max(ps->printLimits, 1) : 0;
    ps->outestRows = ctx->hooks->post.outestHook != nullptr ? 1 : 0;
}

void cosop_profile_stage(ProcContext* ctx, bool last) {
    ProfileSettings* ps = ctx->hooks->plSettings ? ctx->hooks->plSettings : &ctx->hooks->settings;
    ps->method = last ? ctx->optSetup.profileMethod : 0;
    if (!ctx->optSetup.profileScaleGiven) ps->devianceScale = ctx->moments.momentOrigin == 0 ? ctx->moments.nObs - 1.0 : ctx->moments.nObs;
}
