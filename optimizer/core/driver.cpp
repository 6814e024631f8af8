// The optimizer driver: the one entry through which a caller runs the
// library on a filled problem.  The start phase (mode 1) makes the start
// point feasible, evaluates objective, constraints and derivatives there,
// checks analytic derivatives and prints the start tables; the run (mode 2)
// dispatches on the technique code, times the technique, evaluates the final
// point again, prints the summary and calls the post-run hooks.  Evaluations
// go through the hook block's slots when set, else the problem's own.
#include <cfloat>
#include <cmath>
#include <cstring>

#include "host/fields.h"
#include "host/message_text.h"
#include "host/output_table.h"
#include "host/object_dispatch.h"
#include "numerics/kernel_support.h"
#include "optimizer/core/core.h"
#include "optimizer/core/finite_differences.h"
#include "optimizer/core/active_set.h"
#include "optimizer/core/pending.h"
#include "optimizer/core/tables.h"
#include "velix/codes.h"
#include "velix/host.h"

namespace {

// Messages of the driver (group kMsgNlp).
constexpr int32_t kMsgMovedFeasible = 10;   // the start point was moved to feasibility
constexpr int32_t kMsgNoFeasible = 46;      // no feasible start point (feasTol)
constexpr int32_t kMsgGradCheck = 181;      // gradient check reported
constexpr int32_t kMsgJacCheck = 182;       // least-squares Jacobian check reported
constexpr int32_t kMsgConJacCheck = 183;    // constraint-Jacobian check reported

// The smallest feasibility tolerance of the final rounds: 10000 times the
// smallest normalised double, so that ten tenfold rounds stay finite.
constexpr double kTinyTol = velix::kDblMinE4Written;

// ---- evaluation through a slot ----
struct Slots {
    NlpCallback objective, gradient, conValues, conJacobian;
};

Slots slots_of(const NlpProblem* p) {
    const NlpHookBlock* h = p->hooks;
    Slots s{p->cb.objectiveFn, p->cb.gradientFn, p->cb.conValuesFn, p->cb.conJacobianFn};
    if (h != nullptr) {
        if (h->eval.objectiveFn) s.objective = h->eval.objectiveFn;
        if (h->eval.gradientFn) s.gradient = h->eval.gradientFn;
        if (h->eval.conValuesFn) s.conValues = h->eval.conValuesFn;
        if (h->eval.conJacobianFn) s.conJacobian = h->eval.conJacobianFn;
    }
    return s;
}

// An empty optional slot counts as success; the objective must be set.
bool call_ok(NlpCallback fn, NlpProblem* p, bool required) {
    if (fn == nullptr) return !required;
    return fn(p) == 0;
}

bool all_finite(const double* v, int32_t count) {
    for (int32_t i = 0; v != nullptr && i < count; ++i)
        if (!std::isfinite(v[i])) return false;
    return true;
}

// The objective slot succeeded with a finite value: an overflowed or NaN
// objective is no point to start from or to end at, whatever the callback
// said, and no convergence test can be trusted on it.
bool objective_ok(NlpCallback fn, NlpProblem* p) { return call_ok(fn, p, true) && std::isfinite(p->iter.f); }

bool constrained(const NlpProblem* p) { return p->shape.hasNlinCon != 0 || p->shape.hasLinCon != 0; }

void set_missing(double* v, int32_t count) {
    if (v != nullptr) vzfdl(host_missing_value(), v, count);
}

// The values that a failed start evaluation leaves missing.
void missing_after_failed_start(NlpProblem* p, bool objective, bool gradient) {
    const double missing = host_missing_value();
    if (objective) p->iter.f = missing;
    if (gradient) set_missing(p->work.gradient, p->shape.nParams);
    if (p->shape.hasNlinCon) {
        p->iter.lagrangeValue = missing;
        set_missing(p->con.conValues, p->shape.nNlinCon);
        if (p->hooks != nullptr && p->hooks->eval.conJacobianFn != nullptr)
            set_missing(p->con.conJacobian, p->shape.nNlinCon * p->shape.nParams);
    }
}

int32_t longest_name(const NameRecord* names, int32_t count) {
    int32_t w = 0;
    for (int32_t i = 0; names != nullptr && i < count; ++i)
        if (names[i].length > w) w = names[i].length;
    return w;
}

// Evaluates the objective again before the constraint Jacobian when the
// owner asks for it (its Jacobian reads what the objective left).
void refresh_objective(NlpProblem* p, const Slots& s) {
    if (p->opt.refreshFBeforeConJac != 0 && p->run.lastEval >= kLastGradient) {
        p->run.lastEval = kLastObjective;
        call_ok(s.objective, p, true);
    }
}

// The intervals when asked, the gradient and, with nonlinear constraints,
// the constraint Jacobian at the point.  After the objective refresh the
// start phase marks the gradient as last evaluated again; the final
// evaluation leaves the objective marked.  False after a failure, with the
// failed values missing.
bool derivatives(NlpProblem* p, const Slots& s, bool atStart) {
    if (p->opt.fdIntervalMode != 0) znlpfdh(p, p->opt.fdIntervalMode);
    p->run.lastEval = kLastGradient;
    if (!call_ok(s.gradient, p, false) || !all_finite(p->work.gradient, p->shape.nParams)) {
        set_missing(p->work.gradient, p->shape.nParams);
        return false;
    }
    if (p->shape.hasNlinCon) {
        refresh_objective(p, s);
        if (atStart) p->run.lastEval = kLastGradient;
        if (!call_ok(s.conJacobian, p, false)) {
            set_missing(p->con.conJacobian, p->shape.nNlinCon * p->shape.nParams);
            return false;
        }
    }
    return true;
}

void post_run_hook(NlpProblem* p, NlpPostRunHook NlpPostRunHooks::*slot, int32_t flag) {
    if (p->hooks != nullptr && p->hooks->post.*slot != nullptr) (p->hooks->post.*slot)(p, flag);
}

// ---- start phase ----

// Step 2: the feasible start point.  Result: 0 to go on, 1 to go on without
// refreshing xBase (the nonlinear search rescued the point), or a negative
// status.  A failed note is reported and the start evaluation still runs.
int32_t feasible_start(NlpProblem* p) {
    const int32_t n = p->shape.nParams;
    // MAXTIME bounds the search as it bounds the run; the run starts its
    // own clock again.
    p->run.timeUsed = wzdttme();
    std::memcpy(p->work.xBase, p->param.x, sizeof(double) * static_cast<size_t>(n));
    const int32_t r = p->opt.conFactorForm == 2 ? znlpfer(p) : znlpfea(p, 2);
    if (r == kNlpRoutinePending) return kNlpNotUsable;
    if (r > 0) {
        xpmlog(kMsgNlp, kMsgMovedFeasible);
        if (p->opt.printLevel != 0.0) nlp_note(p, kyrmsg(kMsgNlp, kMsgMovedFeasible), 'c');
    }
    if (r >= 0) {
        std::memcpy(p->work.xBase, p->param.x, sizeof(double) * static_cast<size_t>(n));
        return 0;
    }
    if (p->opt.conFactorForm == 2) return kNlpInfeasible;
    if (p->shape.hasNlinCon && znlpfnc(p, 1) == 0) return 1;
    xpmlog(kMsgNlp, kMsgNoFeasible, p->opt.feasTol);
    std::memcpy(p->param.x, p->work.xBase, sizeof(double) * static_cast<size_t>(n));
    p->run.feasRound = 0;
    znlpfch(p, 1, 1, 0);
    missing_after_failed_start(p, true, true);
    return kNlpInfeasible;
}

// Steps 3 to 8: the start evaluations.  Result: 0 or a negative status.
int32_t start_evaluations(NlpProblem* p, const Slots& s) {
    set_missing(p->work.gradient, p->shape.nParams);
    if (p->shape.hasNlinCon) set_missing(p->con.conValues, p->shape.nNlinCon);
    p->run.lastEval = kLastObjective;
    p->run.evalPhase = kPhaseStart;
    const bool fOk = objective_ok(s.objective, p);
    p->iter.fPrev = p->iter.f;
    if (!fOk) {
        missing_after_failed_start(p, true, true);
        return kNlpStartFunction;
    }
    p->iter.expectedReduction = p->shape.leastSquares ? std::abs(p->iter.f) / 20.0 : host_missing_value();
    if (p->shape.hasNlinCon && !call_ok(s.conValues, p, false)) {
        missing_after_failed_start(p, false, true);
        return kNlpStartFunction;
    }
    if (!derivatives(p, s, true)) return kNlpStartDerivative;
    if (constrained(p) || p->shape.hasBounds) {
        znlpfch(p, 1, 1, p->run.feasRound);
        if (p->opt.conFactorForm == 2)
            znlpftr(p, 0, 1, nullptr);
        else
            znlpfta(p, 0, 1, 0, nullptr, nullptr, nullptr, nullptr);
    }
    return 0;
}

// Step 9: the start print.
void start_print(NlpProblem* p, int32_t status, int32_t secondSwitch) {
    int32_t level = -1;
    if (status < 0 && p->opt.printLevel >= 3.0)
        level = -10;
    else if (p->opt.printLevel >= 4.0)
        level = -3;
    else if (p->opt.printLevel == 3.0)
        level = -2;
    if (status == kNlpInfeasible && !wzmis(p->iter.f)) znlpptm(p, kNlpInfeasible, 1);
    znlppre(p, level, secondSwitch);
    if (status < 0) post_run_hook(p, &NlpPostRunHooks::matrixPrintHook, -1);
}

// Steps 11 and 12: the derivative checks.  Result 0 or kNlpStartDerivative.
int32_t start_checks(NlpProblem* p, int32_t derivCheck, int32_t conCheck) {
    if (p->opt.derivCheckMode != 0 && p->shape.quadraticOnFile == 0) {
        int32_t r = 0;
        if (derivCheck == 1) {
            r = znlpchd(p, 0, nullptr);
            if (r != 0 && r != kNlpRoutinePending) xpmlog(kMsgNlp, kMsgGradCheck);
        } else if (derivCheck == 2) {
            r = znlpchd(p, 1, p->fd.checkWork);
            if (r != 0 && r != kNlpRoutinePending) xpmlog(kMsgNlp, kMsgJacCheck);
        }
        if (r < 0 && r != kNlpRoutinePending) return kNlpStartDerivative;
        if (derivCheck != 0 && p->opt.derivCheckMode == 2) {
            znlpchg(p, 1, nullptr);
        }
    }
    if (conCheck != 0) {
        const int32_t r = znlpchc(p, p->fd.checkWork, p->fd.checkWork ? p->fd.checkWork + p->shape.nParams : nullptr);
        if (r != 0 && r != kNlpRoutinePending) xpmlog(kMsgNlp, kMsgConJacCheck);
        if (r < 0 && r != kNlpRoutinePending) return kNlpStartDerivative;
    }
    return 0;
}

int32_t start_phase(NlpProblem* p, int32_t startPrint, int32_t secondSwitch, int32_t derivCheck,
                    int32_t conCheck) {
    p->param.paramNameWidth = longest_name(p->param.paramNames, p->shape.nParams);
    p->param.functionNameWidth = longest_name(p->param.functionNames, p->shape.nFunctions);
    const Slots s = slots_of(p);
    // The sparse form's work vectors must fit in what the owner gave.
    int32_t status = p->opt.conFactorForm == 2 && !znlp_sparse_work_fits(p) ? kNlpNotUsable : 0;
    if (status == 0 && (p->shape.hasBounds || p->shape.hasLinCon)) {
        const int32_t r = feasible_start(p);
        if (r < 0) status = r;
    }
    if (status == 0) status = start_evaluations(p, s);
    if (startPrint) start_print(p, status, secondSwitch);
    if (status < 0) return p->run.lastStatus = status;
    status = start_checks(p, derivCheck, conCheck);
    if (status < 0) return p->run.lastStatus = status;
    post_run_hook(p, &NlpPostRunHooks::covarianceHook, 0);
    post_run_hook(p, &NlpPostRunHooks::matrixPrintHook, 0);
    return p->run.lastStatus = 0;
}

// ---- run ----

// Steps 6a to 6g: the final evaluation.  Result: status unchanged or the
// failure of the final point.
int32_t final_evaluation(NlpProblem* p, const Slots& s, int32_t status) {
    set_missing(p->work.gradient, p->shape.nParams);
    if (p->shape.hasNlinCon) set_missing(p->con.conValues, p->shape.nNlinCon);
    p->run.evalPhase = kPhaseFinal;
    p->run.lastEval = kLastObjective;
    const bool fOk = objective_ok(s.objective, p);
    p->iter.fPrev = p->iter.f;
    if (!fOk) {
        p->iter.f = host_missing_value();
        return kNlpFinalFunction;
    }
    if (p->shape.hasNlinCon && !call_ok(s.conValues, p, false)) {
        set_missing(p->con.conValues, p->shape.nNlinCon);
        return kNlpFinalFunction;
    }
    if (!derivatives(p, s, false)) return kNlpFinalDerivative;
    if (constrained(p) || p->shape.hasBounds) {
        // Feasibility rounds: raise the tolerance tenfold until the final
        // point passes, at most ten times.
        double t = p->opt.feasTol < kTinyTol ? kTinyTol : p->opt.feasTol;
        p->run.feasRound = 0;
        int32_t r = znlpfch(p, 1, 1, 0);
        while (r != 0 && r != kNlpRoutinePending && p->run.feasRound < 10 && t <= 1e-10 * DBL_MAX) {
            p->run.feasRound += 1;
            t *= 10.0;
            r = znlpfch(p, 1, 1, p->run.feasRound);
        }
        if (p->opt.conFactorForm == 2)
            znlpftr(p, 0, 1, nullptr);
        else
            znlpfta(p, 0, p->opt.activeSetOption ? 2 : 1, 0, nullptr, nullptr, nullptr, nullptr);
    }
    return status;
}

// A run that takes no iteration ends at the start point, where no
// technique measured the gradient: the largest element goes to the tables.
// Under bounds and rows the start phase's active set measured it already.
void start_point_gradient(NlpProblem* p) {
    if (constrained(p) || p->shape.hasBounds) return;
    double m = 0.0;
    for (int32_t j = 0; j < p->shape.nParams; ++j) m = std::fmax(m, std::fabs(p->work.gradient[j]));
    p->iter.maxProjGrad = m;
}

int32_t run_technique(NlpProblem* p) {
    if (p->opt.technique == kTechNone || p->opt.maxIter <= 0.0 || p->opt.maxFunc <= 0.0 || p->opt.maxTime <= 0.0)
        start_point_gradient(p);
    if (p->opt.technique == kTechNone) return 0;
    // A missing limit passes these tests (a missing value is a NaN).
    if (p->opt.maxIter <= 0.0 || p->opt.maxFunc <= 0.0) return kNlpLimit;
    if (p->opt.maxTime <= 0.0) return kNlpTimeLimit;
    const NlpTechniqueFn fn = znlp_technique_for(p);
    return fn != nullptr ? fn(p) : 0;
}

int32_t run_phase(NlpProblem* p, int32_t secondSwitch) {
    const Slots s = slots_of(p);
    p->run.evalPhase = kPhaseRun;
    if (p->opt.printLevel != 0.0) pritech(p);
    p->run.timeUsed = wzdttme();
    p->run.claimRefusals = 0;
    p->fd.intervalsRefined = 0;
    p->run.endStationary = -1;
    p->hess.kept = NlpKeptFactor{};
    int32_t status = run_technique(p);
    p->run.timeUsed = wzdttme() - p->run.timeUsed;
    const bool usable = nlp_status_usable(status);
    if (usable) status = final_evaluation(p, s, status);
    // A claim at a point that meets its bounds and constraints only under a
    // raised tolerance is no solution: the run ends as one whose claim was
    // refused.
    if (usable && p->run.feasRound > 0 && nlp_status_converged(status)) status = kNlpTechniqueStop7;
    const bool stillUsable = usable && nlp_status_usable(status);
    // A technique's own stop is a solution only at a stationary point; a
    // looser criterion of the user's ends the run with its results, and
    // the verdict there decides the warning on the final gradient.
    if (stillUsable && (status == kNlpTechniqueStop6 || status == kNlpTechniqueStop7 || znlp_claim_looser(p, status)))
        p->run.endStationary = znlp_end_verdict(p);
    p->run.lastStatus = status;
    if (!wzmis(p->iter.f)) znlpptm(p, status, 0);
    // The covariance of the estimates is the inverse curvature at a
    // minimum; at the last point of a run that stopped short it would
    // print standard errors and t tests for a point that is none.
    if (stillUsable && nlp_solution_reached(p, status))
        post_run_hook(p, &NlpPostRunHooks::covarianceHook, 1);
    else
        set_missing(p->work.stdErrors, p->shape.nParams);
    int32_t level = p->opt.printLevel >= 4.0 ? 3 : p->opt.printLevel == 3.0 ? 2 : 0;
    if (level == 0 && p->hooks != nullptr && p->hooks->print.forceResultPrint != 0) level = 1;
    if (!stillUsable && level > 1) level = 1;
    if (level != 0) znlppre(p, level, secondSwitch);
    if (stillUsable) post_run_hook(p, &NlpPostRunHooks::matrixPrintHook, 1);
    if (status >= 0 && p->hooks != nullptr && p->hooks->plSettings != nullptr &&
        p->hooks->plSettings->method != 0)
        znlppli(p);
    return status;
}

// ---- technique dispatch ----
// The dispatch name of a technique code for this problem, null for codes
// that run nothing (NONE, OLDRAP and unknown codes).
const char* dispatch_name(const NlpProblem* p) {
    const bool nlc = p->shape.hasNlinCon != 0;
    switch (p->opt.technique) {
        case kTechTrureg: return "znlptre";
        case kTechNewrap: return "znlpnra";
        case kTechNrridg: return "znlpnrr";
        case kTechNrlins: return "znlpnrl";
        case kTechGaunew: return "znlpgan";
        case kTechLevmar: return "znlplma";
        case kTechDbldog: return "znlpddl";
        case kTechQuanew: return "znlpqun";
        case kTechDualQuanew: return nlc ? "znlpdq2" : "znlpdqn";
        case kTechHyquan: return "znlphqn";
        case kTechCongra: return "znlpcog";
        case kTechNmsimp: return nlc ? "znlpcob" : "znlpnms";
        case kTechNmsim2: return "znlpnm2";
        case kTechQuadas: return p->opt.techVariant == 1 ? "znlpqar" : "znlpqas";
        case kTechVmcwd: return "znlpvmc";
        default: return nullptr;
    }
}

}  // namespace

NlpTechniqueFn znlp_technique_for(const NlpProblem* p) {
    const char* name = dispatch_name(p);
    NlpTechniqueFn* slot = name != nullptr ? znlp_dispatch_slot(name) : nullptr;
    return slot != nullptr ? *slot : nullptr;
}

int32_t znlpdrv(NlpProblem* p, int32_t mode, int32_t printSwitches, int32_t derivCheck,
                int32_t conCheck) {
    const int32_t level = zbugi("-nlpitermsg");
    p->run.iterMsgLevel = level < 1 ? 1 : level > 3 ? 3 : level;
    int32_t startPrint = printSwitches % 2;
    int32_t secondSwitch = printSwitches / 2;
    if (p->hooks != nullptr) {
        startPrint = p->hooks->print.printStart;
        secondSwitch = p->hooks->print.printExtra;
    }
    if (mode == 2) return run_phase(p, secondSwitch);
    return start_phase(p, startPrint, secondSwitch, derivCheck, conCheck);
}

namespace {

// The log lines of a trapped exception and the verdict on it.
int32_t judge_exception(int32_t kind) {
    switch (kind) {
        case 1: xpslog("Domain error trapped%n"); return -1;
        case 2: xpslog("Singular error trapped%n"); return -1;
        case 3:
        case 12: xpslog("Overflow error trapped%n"); return -1;
        case 4:
        case 11:
            xpslog("**************************************%n");
            xpslog("Underflow error: Should not be trapped%n");
            xpslog("**************************************%n");
            return 0;
        case 5:
        case 6: xpslog("Loss of precision trapped%n"); return -1;
        case 13: xpslog("Division by 0 error trapped%n"); return -1;
        case 14:
        case 15: xpslog("Bad floating number%n"); return -1;
        default:
            // An exception we cannot name is no safer to continue from than
            // one we can: stop.
            xpslog("Unidentified type of error trapped%n");
            return -1;
    }
}

}  // namespace

int32_t znlpmer(const HostMathException* e) {
    const int32_t result = judge_exception(e->kind);
    const HostControlBlock* gcb = v_global_gcb_anchor;
    const int32_t trapWord = gcb != nullptr && gcb->step != nullptr ? gcb->step->trapWord : kTrapWordIdle;
    if (trapWord != kTrapWordIdle) wtresum(trapWord - kTrapWordIdle, result);
    return result;
}
