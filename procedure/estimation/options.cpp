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
    double* doubles[] = {&nlp->feasTol,  &nlp->linDepTol, &nlp->lagMultTol, &nlp->stepCap,
                         &nlp->earlyStepCap, &nlp->inStep, &nlp->lsPrecision, &nlp->singularTol,
                         &nlp->inHessian, &nlp->fDigits, &nlp->cDigits, &nlp->hesCal,
                         &nlp->restart, &nlp->maxTime, &nlp->maxIter, &nlp->nlcIterLimit,
                         &nlp->maxFunc, &nlp->absConv, &nlp->absFConv, &nlp->fConv,
                         &nlp->fConv2, &nlp->absXConv, &nlp->xConv, &nlp->absGConv,
                         &nlp->gConv, &nlp->gConv2, &nlp->fSize, &nlp->xSize};
    for (double* d : doubles) *d = missing;
    nlp->technique = nlp->update = nlp->lineSearch = 0;
    nlp->techVariant = 2;
    nlp->printLevel = kNlLevelShort;
    ctx->hooks->optionWord = 0;
    // The covariance of the estimates: singularity criteria that detect a
    // model that is not identified, the generalized inverse's eigenvalue
    // rule and size limit, and no factor of the least-squares variance
    // (|2f/d| is used).  PROC options given replace them in cosinit.
    NlpHookBlock* hooks = ctx->hooks;
    hooks->covSingAbs = proc_cell_row(kProcASingular).value;
    hooks->covSingRel = proc_cell_row(kProcMSingular).value;
    hooks->covSingVar = proc_cell_row(kProcVSingular).value;
    hooks->ginvTol = missing;
    hooks->ginvMaxParams = static_cast<int32_t>(proc_cell_row(kProcG4).value);
    hooks->sigsqFactor = missing;

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
        code(kNlTechnique, &nlp->technique);
        code(kNlUpdate, &nlp->update);
        code(kNlLineSearch, &nlp->lineSearch);
        num(kNlMaxIter, &nlp->maxIter);
        num(kNlMaxFunc, &nlp->maxFunc);
        num(kNlMaxTime, &nlp->maxTime);
        num(kNlAbsConv, &nlp->absConv);
        num(kNlAbsFConv, &nlp->absFConv);
        num(kNlFConv, &nlp->fConv);
        num(kNlFConv2, &nlp->fConv2);
        num(kNlAbsXConv, &nlp->absXConv);
        num(kNlXConv, &nlp->xConv);
        num(kNlAbsGConv, &nlp->absGConv);
        num(kNlGConv, &nlp->gConv);
        num(kNlGConv2, &nlp->gConv2);
        num(kNlFSize, &nlp->fSize);
        num(kNlXSize, &nlp->xSize);
        num(kNlInStep, &nlp->inStep);
        num(kNlLsPrecision, &nlp->lsPrecision);
        code(kNlMinIter, &nlp->minIter);
        num(kNlSingular, &nlp->singularTol);
        num(kNlDampStep, &nlp->earlyStepCap);
        num(kNlMaxStep, &nlp->stepCap);
        num(kNlFDigits, &nlp->fDigits);
        num(kNlCDigits, &nlp->cDigits);
        num(kNlHesCal, &nlp->hesCal);
        num(kNlRestart, &nlp->restart);
        num(kNlInHessian, &nlp->inHessian);
        num(kNlLcEpsilon, &nlp->feasTol);
        num(kNlLcSingular, &nlp->linDepTol);
        num(kNlLcDeact, &nlp->lagMultTol);
        // FD= chooses the gradient's differences (units digit), FDHESSIAN=
        // the Hessian's (thousands digit).
        if (r->cells[kNlFd].given)
            nlp->derivDigits = nlp->derivDigits / 10 * 10 + static_cast<int32_t>(r->cells[kNlFd].value);
        if (r->cells[kNlFdHessian].given)
            nlp->derivDigits = nlp->derivDigits % 1000 +
                               1000 * (2 + static_cast<int32_t>(r->cells[kNlFdHessian].value));
        const uint8_t f = n->flags[0];
        if (f & kNlNoprint) nlp->printLevel = kNlLevelNoprint;
        if (f & kNlPsummary) nlp->printLevel = kNlLevelSummary;
        if (f & kNlPshort) nlp->printLevel = kNlLevelShort;
        if (f & kNlPhistory) nlp->printLevel = kNlLevelHistory;
        if (f & kNlPall) nlp->printLevel = kNlLevelAll;
    }

    // Constraint statements present.
    nlp->hasBounds = find_statement(ctx->stmtList, "BOUNDS  ") != nullptr;
    nlp->hasLinCon = find_statement(ctx->stmtList, "LINCON  ") != nullptr;
    nlp->hasNlinCon = find_statement(ctx->stmtList, "NLINCON ") != nullptr;
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
    nlp->paramNames = arrays->names;
    nlp->x = arrays->x;
    nlp->lower = arrays->lower;
    nlp->upper = arrays->upper;
    nlp->scale = arrays->scale;
    nlp->paramRow = arrays->row;
}

void cosop32(ProcContext* ctx, NlpProblem* nlp, void** block) {
    ProfileSettings* ps = ctx->hooks->plSettings ? ctx->hooks->plSettings : &ctx->hooks->settings;
    // With no profiled name the list takes every parameter.
    const size_t np = static_cast<size_t>(std::max(std::max(ps->nSelected, nlp->nParams), 0));
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
    ps->outestRows = ctx->hooks->outestHook != nullptr ? 1 : 0;
}

void cosop_profile_stage(ProcContext* ctx, bool last) {
    ProfileSettings* ps = ctx->hooks->plSettings ? ctx->hooks->plSettings : &ctx->hooks->settings;
    ps->method = last ? ctx->optSetup.profileMethod : 0;
    if (!ctx->optSetup.profileScaleGiven) ps->devianceScale = ctx->moments.momentOrigin == 0 ? ctx->moments.nObs - 1.0 : ctx->moments.nObs;
}
