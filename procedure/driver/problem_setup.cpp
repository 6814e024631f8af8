// The optimizer problem set-up from the model: sizes, per-parameter arrays,
// option normalisation and technique corrections (mode 1), then the
// constraints and the PROFILE settings of the profile-likelihood confidence
// limits (mode 2).
#include <cmath>
#include <cstring>
#include <vector>

#include "host/internal_error.h"
#include "host/output_table.h"
#include "procedure/driver/model.h"
#include "procedure/driver/step_view.h"
#include "procedure/estimation/options.h"
#include "procedure/evaluation/cross_product.h"
#include "procedure/evaluation/discrepancy_functions.h"
#include "procedure/evaluation/gradient.h"
#include "procedure/evaluation/nonlinear_constraints.h"
#include "velix/messages.h"

namespace {

// Confidence levels closer than this are the same level.
constexpr double kLevelTolerance = 1e-8;

ProfileSettings* profile_of(const StepView& sv) {
    return sv.hooks->plSettings ? sv.hooks->plSettings : &sv.hooks->settings;
}

// A message to the log and, when printing is enabled, as a listing line.
void log_and_listing(const StepView& sv, int32_t number) {
    xpmlog(kMsgProc, number);
    if (sv.options->printEnabled) listing_line(sv.output->kyrManager, kyrmsg(kMsgProc, number));
}

// The procedure's side of the optimizer callbacks: objective, gradient,
// the cross product and the nonlinear-constraint Jacobian, in the problem
// block and the hook block.
void install_evaluation_callbacks(NlpProblem* nlp, NlpHookBlock* hooks) {
    nlp->cb.objectiveFn = hooks->eval.objectiveFn = cosfunc;
    nlp->cb.gradientFn = hooks->eval.gradientFn = cosgrad;
    nlp->cb.hessianFn = hooks->eval.crossProductFn = coscrpj;
    hooks->eval.hessianFn = coshess;
    nlp->cb.conJacobianFn = hooks->eval.conJacobianFn = cosjnlc;
}

}  // namespace

int32_t cospopt(int32_t mode, ProcContext* ctx, NlpProblem* nlp) {
    const StepView sv = step_view(ctx);
    nlp->shape.nParams = sv.sizes->nParmFree;
    nlp->shape.packedLen = sv.sizes->nParmFree * (sv.sizes->nParmFree + 1) / 2;
    nlp->shape.nFunctions = sv.sizes->nMoments;
    NlpHookBlock* hooks = sv.hooks;
    if (mode == 1) {
        install_evaluation_callbacks(nlp, hooks);
        nlp->shape.leastSquares = 1;
        sv.optSetup->nObsCell = sv.moments->nObs;
        hooks->cov.nObsRef = &sv.optSetup->nObsCell;
        hooks->cov.nParamsForDf = nlp->shape.nParams;
        cosop31(sv.ctx, nlp, &sv.optSetup->parms, sv.sizes->nParmAll);
        if (*sv.errorLevel > kLevelStepEnds) xexit(*sv.errorLevel, 0);
        if (nlp->opt.derivCheckMode == 0 && !sv.program->hasProgram) nlp->opt.derivCheckMode = 1;
        if (nlp->opt.derivDigits != 0) {
            log_and_listing(sv, kMsgAnalyticDerivatives);
            nlp->opt.derivDigits = 0;
        }
        if (hooks->cov.optionWord != 0 && hooks->cov.optionWord != 2 && hooks->cov.optionWord != 3) {
            log_and_listing(sv, kMsgBadCovarianceOption);
            xexit(kLevelBadHookOption, 0);
        }
        if (nlp->opt.technique == kTechGaunew) {
            xpmlog(kMsgProc, kMsgGaunewUnavailable);
            nlp->opt.technique = 0;
        }
        // Only the dual quasi-Newton technique keeps nonlinear constraints;
        // NONE too gives way to it, since the given values need not meet
        // them and results that break the constraints are no solution.
        if (nlp->shape.nParams >= 1 && nlp->opt.technique > 0 && nlp->shape.hasNlinCon) {
            if (nlp->opt.technique != kTechQuanew) xpmlog(kMsgProc, kMsgNlcUsesDualQuasiNewton);
            nlp->opt.technique = kTechDualQuanew;
        }
        raise_error_level(sv.ctx, cosop12(sv.ctx, nlp));
        if (*sv.errorLevel > kLevelStepEnds) xexit(*sv.errorLevel, 0);
        return 1;
    }

    cosop21(sv.ctx, nlp, sv.files->conStmtFile);
    if (*sv.errorLevel > kLevelStepEnds) xexit(*sv.errorLevel, 0);
    ProfileSettings* ps = profile_of(sv);
    sv.optSetup->profileWanted = find_statement(sv.ctx->stmtList, "PROFILE ") != nullptr;
    if (ps->useDefaults) {
        if (sv.optSetup->profileWanted) xpmlog(kMsgProc, kMsgProfileDefault);
        xpmlog(kMsgProc, kMsgAllProfiled);
        sv.optSetup->profileWanted = 0;
        ps->method = 2;
        ps->nAlpha = 4;
        ps->targetScaleKind = 2;
        ps->devianceScale = host_missing_value();
        xpmlog(kMsgProc, kMsgProfileLimits);
    }
    if (sv.optSetup->profileWanted) {
        xpmlog(kMsgProc, kMsgProfileLimits);
        parclpl(sv.ctx, 0);
    }
    void* block = nullptr;
    cosop32(sv.ctx, nlp, &block);
    if (sv.optSetup->profileWanted) {
        parclpl(sv.ctx, 1);
        ps->method = ps->nSelected == 0 ? 0 : (ps->nAlpha > 0 ? 3 : 1);
        if (ps->nSelected == 0)
            listing_line(sv.output->kyrManager, kyrmsg(kMsgProc, kMsgNothingProfiled));
    }
    cosop_profile(sv.ctx);
    if (*sv.errorLevel > kLevelStepEnds) xexit(*sv.errorLevel, 0);
    return 4096;
}

int32_t parclpl(ProcContext* ctx, int32_t mode) {
    const StepView sv = step_view(ctx);
    ProfileSettings* ps = profile_of(sv);
    NlpProblem* nlp = sv.nlp;
    const int32_t n = nlp->shape.nParams;
    auto parameter_index = [&](const NameRecord& r) {
        for (int32_t i = 0; i < n; ++i)
            if (same_name(nlp->param.paramNames[i], r)) return i;
        return -1;
    };
    // The programming statements' dependent parameters follow the n
    // optimized ones in the name array: a name among them is no
    // parameter to profile either, but is called what it is.
    auto is_dependent = [&](const NameRecord& r) {
        for (int32_t i = n; i < sv.optSetup->parms.count; ++i)
            if (same_name(nlp->param.paramNames[i], r)) return true;
        return false;
    };
    if (mode == 0) {
        ps->nSelected = ps->nAlpha = 0;
        ps->printLimits = ps->outestLimitRows = 0;
        ps->maxIter = ps->startScale = ps->devianceScale = host_missing_value();
    }
    int32_t counted = ps->nSelected, countedLevels = ps->nAlpha;
    if (mode == 1) ps->nSelected = ps->nAlpha = 0;
    for (const StatementNode* node = find_statement(sv.ctx->stmtList, "PROFILE "); node;
         node = find_statement(node->next, "PROFILE ")) {
        const auto* pl = static_cast<const ProfilePayload*>(node->payload);
        if (mode == 0) {
            if (node_flag(node, kProfileFlagOutTable)) ps->printLimits = 2;
            if (node_flag(node, kProfileFlagOutAll)) ps->outestLimitRows = 1;
            // FFACTOR=, FEASRATIO= and MAX= (ALPHA= sets nothing).
            if (pl->cells[kProfileFFactor].given)
                ps->devianceScale = pl->cells[kProfileFFactor].value;
            if (pl->cells[kProfileFeasRatio].given)
                ps->startScale = pl->cells[kProfileFeasRatio].value;
            if (pl->cells[kProfileMaxIter].given)
                ps->maxIter = std::trunc(pl->cells[kProfileMaxIter].value);
            for (int32_t i = 0; i < pl->names.count; ++i) {
                bool repeat = false;
                for (int32_t j = 0; j < i; ++j) repeat |= same_name(pl->names.names[j], pl->names.names[i]);
                if (!repeat && parameter_index(pl->names.names[i]) >= 0) ++ps->nSelected;
            }
            // A level repeats only an earlier level that was itself kept, as
            // in the filling pass below: comparing with a rejected level too
            // would count fewer levels than that pass stores (-1e-9 then
            // 1e-9, say).
            for (int32_t i = 0; i < pl->nLevels; ++i) {
                double v = pl->levels[i];
                if (!(v > 0.0 && v < 100.0)) continue;
                bool repeat = false;
                for (int32_t j = 0; j < i; ++j) {
                    const double u = pl->levels[j];
                    repeat |= u > 0.0 && u < 100.0 && std::fabs(u - v) <= kLevelTolerance;
                }
                if (!repeat) ++ps->nAlpha;
            }
            continue;
        }
        // A name that is no parameter is said first, also when no name of
        // the list is one and every parameter is profiled instead: a
        // misspelt name must not pass unseen.
        auto report_unknown = [&](const NameRecord& r) {
            xpmlog(kMsgProc, is_dependent(r) ? kMsgDependentNotProfiled : kMsgNotAParameter,
                   static_cast<int32_t>(r.length), r.text);
        };
        if (counted == 0) {
            for (int32_t i = 0; i < pl->names.count; ++i) report_unknown(pl->names.names[i]);
            for (int32_t i = 0; i < n; ++i) ps->selected[i] = i;
            ps->nSelected = n;
            xpmlog(kMsgProc, kMsgAllProfiled);
        } else {
            for (int32_t i = 0; i < pl->names.count; ++i) {
                int32_t p = parameter_index(pl->names.names[i]);
                if (p < 0) {
                    report_unknown(pl->names.names[i]);
                    continue;
                }
                bool listed = false;
                for (int32_t j = 0; j < ps->nSelected; ++j) listed |= ps->selected[j] == p;
                if (listed) {
                    xpmlog(kMsgProc, kMsgProfiledTwice,
                           static_cast<int32_t>(pl->names.names[i].length),
                           pl->names.names[i].text);
                    continue;
                }
                if (ps->nSelected >= counted) internal_error("PROFILE names more parameters than were counted");
                ps->selected[ps->nSelected++] = p;
            }
        }
        for (int32_t i = 0; i < pl->nLevels; ++i) {
            double v = pl->levels[i];
            if (!(v > 0.0 && v < 100.0)) {  // as counted above, NaN included
                xpmlog(kMsgProc, kMsgLevelOutOfRange, v);
                continue;
            }
            bool repeat = false;
            for (int32_t j = 0; j < ps->nAlpha; ++j) repeat |= std::fabs(ps->alphas[j] - v) <= kLevelTolerance;
            if (repeat) {
                xpmlog(kMsgProc, kMsgLevelRepeated, v);
                continue;
            }
            if (ps->nAlpha >= countedLevels) internal_error("PROFILE gives more levels than were counted");
            ps->alphas[ps->nAlpha++] = v;
        }
    }
    return 0;
}
