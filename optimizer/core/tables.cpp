// The optimizer core's tables: the problem description at the start of a
// run ("InputOpts", "ProblemDescription"), the iteration history
// ("IterStart", "IterHist") and the convergence summary ("IterStop",
// "ConvergenceStatus").  Every label and text is a numbered message of the
// optimizer's group.  The history's columns are bound to fields of the
// problem and its iteration record, so that adding a row reads the current
// values.  A failed host call is reported and ends the table being written.
#include "optimizer/core/tables.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "host/fields.h"
#include "host/object_dispatch.h"
#include "host/output_table.h"
#include "numerics/kernel_support.h"
#include "optimizer/core/core.h"
#include "optimizer/core/pending.h"
#include "velix/codes.h"
#include "velix/messages.h"

namespace {

HostText* msg(int32_t number) { return kyrmsg(kMsgNlp, number); }

bool is_simplex(int32_t t) { return t == kTechNmsimp || t == kTechNmsim2; }
bool is_quanew(int32_t t) { return t == kTechQuanew || t == kTechDualQuanew; }

// A factoid table of labelled values under "Orvo.NLP.<name>".
FactoidTable nlp_factoid(NlpProblem* p, const char* name, int32_t title) {
    return FactoidTable(p->out.kyrObject, name, std::string("Orvo.NLP.") + name, msg(title));
}
// A count or limit: width 10, format 0.
void count_entry(FactoidTable* t, int32_t label, double v) {
    t->entry(msg(label), v, 10, 0);
}
// Any other value: width 12, format 99.
void value_entry(FactoidTable* t, int32_t label, double v) {
    t->entry(msg(label), v, 12, 99);
}
// An integer of width 12.
void integer_entry(FactoidTable* t, int32_t label, int32_t v) {
    t->int_entry(msg(label), v, 12, 0);
}

// ---- pritech ----

int32_t technique_title(const NlpProblem* p) {
    switch (p->opt.technique) {
        case kTechTrureg: return 60;
        case kTechNrridg: return 61;
        case kTechNewrap: return 62;
        case kTechNrlins: return 74;
        case kTechOldrap: return 63;
        case kTechLevmar: return 64;
        case kTechGaunew: return 65;
        case kTechDbldog: return 66;
        case kTechHyquan: return 67;
        case kTechQuanew: return 68;
        case kTechDualQuanew: return 69;
        case kTechCongra: return 70;
        case kTechNmsimp: return 71;
        case kTechNmsim2: return 72;
        case kTechQuadas: return p->opt.conFactorForm == 2 ? 75 : 73;
        case kTechVmcwd: return 56;
        default: return 59;
    }
}

// The title and, with nonlinear constraints, the note on the technique's form.
bool title_notes(NlpProblem* p) {
    if (nlp_note(p, msg(technique_title(p)), 'c')) return false;
    if (p->shape.hasNlinCon && p->opt.technique == kTechNmsimp)
        return !nlp_note(p, msg(kMsgNlpNmsimpNonlinearTitle), 'c');
    if (p->shape.hasNlinCon && p->opt.technique == kTechDualQuanew)
        return !nlp_note(p, msg(kMsgNlpQuanewSqpTitle), 'c');
    return true;
}

void input_options(NlpProblem* p) {
    const int32_t t = p->opt.technique;
    FactoidTable fa = nlp_factoid(p, "InputOpts", 712);
    count_entry(&fa, 301, p->opt.minIter);
    count_entry(&fa, 302, p->opt.maxIter);
    count_entry(&fa, 303, p->opt.maxFunc);
    if (p->shape.hasNlinCon) count_entry(&fa, 304, p->opt.nlcIterLimit);
    if (p->opt.maxTime < DBL_MAX) count_entry(&fa, 305, p->opt.maxTime);
    if (!is_simplex(t)) {
        value_entry(&fa, 306, p->opt.absGConv);
        value_entry(&fa, 307, p->opt.gConv);
    }
    if (t == kTechTrureg || t == kTechLevmar || t == kTechNewrap || t == kTechNrridg ||
        t == kTechGaunew || t == kTechNrlins || t == kTechOldrap)
        value_entry(&fa, 308, p->opt.gConv2);
    const double always[] = {p->opt.absFConv, p->opt.fConv, p->opt.fConv2, p->opt.fSize,
                             p->opt.absXConv, p->opt.xConv, p->opt.xSize,  p->opt.absConv};
    for (int32_t i = 0; i < 8; ++i) value_entry(&fa, 309 + i, always[i]);
    if (is_simplex(t)) {
        value_entry(&fa, 317, p->opt.stepCap);
        value_entry(&fa, 318, p->opt.singularTol);
    } else {
        if (t == kTechNewrap || t == kTechGaunew || is_quanew(t) || t == kTechHyquan ||
            t == kTechCongra) {
            count_entry(&fa, 319, p->opt.lineSearch);
            value_entry(&fa, 320, p->opt.stepCap);
            value_entry(&fa, 321, p->opt.lsPrecision);
            value_entry(&fa, 322, p->opt.inStep);
            if (p->opt.earlyStepCap < DBL_MAX) value_entry(&fa, 323, p->opt.earlyStepCap);
        } else if (t == kTechTrureg || t == kTechLevmar || t == kTechDbldog) {
            value_entry(&fa, 324, p->opt.stepCap);
        }
        if ((t == kTechHyquan || is_quanew(t) || t == kTechCongra) && !wzmis(p->opt.inHessian))
            value_entry(&fa, 325, p->opt.stepCap);
        if (p->opt.derivDigits != 0) {
            value_entry(&fa, 326, p->opt.fDigits);
            if (p->shape.hasNlinCon) value_entry(&fa, 327, p->opt.cDigits);
        }
        value_entry(&fa, 318, p->opt.singularTol);
    }
    if (p->shape.hasBounds || p->shape.hasLinCon || p->shape.hasNlinCon) {
        value_entry(&fa, 329, p->opt.feasTol);
        value_entry(&fa, 330, p->opt.linDepTol);
        value_entry(&fa, 331, p->opt.lagMultTol);
    }
    fa.end();
}

// Notes on the update, the scaling and the finite differences.
bool method_notes(NlpProblem* p) {
    const int32_t t = p->opt.technique;
    int32_t notes[8];
    int32_t n = 0;
    if (t == kTechQuanew) notes[n++] = kMsgNlpBfgsUpdate - 1 + p->opt.update;
    if (t == kTechDualQuanew || t == kTechHyquan || t == kTechDbldog)
        notes[n++] = kMsgNlpDualBfgsUpdate - 1 + p->opt.update;
    if (t == kTechCongra) notes[n++] = kMsgNlpPowellBealeUpdate - 1 + p->opt.update;
    for (int32_t i = 0; i < n; ++i)
        if (nlp_note(p, msg(notes[i]), 'c')) return false;
    if (t == kTechHyquan &&
        nlp_note(p, kyrmsgs(kMsgNlp, kMsgNlpHybridUpdateForm, p->opt.techVariant), 'c'))
        return false;
    n = 0;
    if (p->shape.hasNlinCon && is_quanew(t))
        notes[n++] =
            p->opt.techVariant == 1 ? kMsgNlpMultiplierUpdateFirst : kMsgNlpMultiplierUpdateSecond;
    if (t == kTechTrureg || t == kTechNewrap || t == kTechNrridg || t == kTechLevmar ||
        t == kTechGaunew || t == kTechDbldog)
        notes[n++] = kMsgNlpNoScaling + p->opt.scalingKind;
    const int32_t d = p->opt.derivDigits;
    const int32_t level = p->opt.derivLevel;
    if (level > 0 && d % 10 != 0) notes[n++] = kMsgNlpFdGradient;
    if (level == 2 && d / 10 % 10 != 0) notes[n++] = kMsgNlpFdJacobian;
    if (level == 3 && d / 100 % 10 != 0) notes[n++] = kMsgNlpFdCrossProduct;
    const int32_t th = d / 1000 % 10;
    if (level == 4 && (th == 1 || th == 2)) notes[n++] = kMsgNlpFdHessianValues;
    if (level == 4 && (th == 3 || th == 4)) notes[n++] = kMsgNlpFdHessianGradients;
    if (p->shape.hasNlinCon && d / 10000 % 10 != 0) notes[n++] = kMsgNlpFdConstraintJacobian;
    for (int32_t i = 0; i < n; ++i)
        if (nlp_note(p, msg(notes[i]), 'c')) return false;
    if (d != 0 && p->opt.fdIntervalMode >= 1 && p->opt.fdIntervalMode <= 3)
        return !nlp_note(p, msg(kMsgNlpFdIntervalsObjective - 1 + p->opt.fdIntervalMode), 'c');
    return true;
}

void problem_description(NlpProblem* p, int32_t nLower, int32_t nUpper) {
    FactoidTable fa = nlp_factoid(p, "ProblemDescription", 713);
    integer_entry(&fa, 620, p->shape.nParams);
    if (p->shape.nFunctions >= 2) integer_entry(&fa, 621, p->shape.nFunctions);
    if (p->shape.hasBounds) {
        integer_entry(&fa, 622, nLower);
        integer_entry(&fa, 623, nUpper);
    }
    if (p->shape.nLinCon != 0) integer_entry(&fa, 624, p->shape.nLinCon);
    if (p->shape.nNlinCon != 0) {
        integer_entry(&fa, 625, p->shape.nNlinCon);
        if (p->shape.nNlinEq != 0) integer_entry(&fa, 626, p->shape.nNlinEq);
    }
    // The sparse and diagonal Hessian storages name their count of stored
    // elements.
    if (p->opt.hessianStorage == 1 && p->hess.hessianPattern != nullptr)
        integer_entry(&fa, 627, p->hess.hessianPattern[p->shape.nParams]);
    if (p->opt.hessianStorage == 2) integer_entry(&fa, 628, p->shape.nParams);
    fa.end();
}

// ---- znlpptm ----

const char* technique_name(int32_t t) {
    switch (t) {
        case kTechTrureg: return "TRUREG";
        case kTechLevmar: return "LEVMAR";
        case kTechNewrap: return "NEWRAP";
        case kTechNrridg: return "NRRIDG";
        case kTechOldrap: return "OLDRAP";
        case kTechNrlins: return "NRLINS";
        case kTechGaunew: return "GAUNEW";
        case kTechQuanew:
        case kTechDualQuanew: return "QUANEW";
        case kTechDbldog: return "DBLDOG";
        case kTechHyquan: return "HYQUAN";
        case kTechCongra: return "CONGRA";
        case kTechNmsimp: return "NMSIMP";
        case kTechNmsim2: return "NMSIM2";
        case kTechQuadas: return "QUADAS";
        case kTechVmcwd: return "VMCWD";
        default: return "NONE";
    }
}

// The "IterStop" layout letter of the technique ('G' for those without one).
char stop_layout(const NlpProblem* p) {
    const bool ls = p->shape.leastSquares != 0, nlc = p->shape.hasNlinCon != 0;
    switch (p->opt.technique) {
        case kTechTrureg: return ls ? 'B' : 'A';
        case kTechLevmar: return 'B';
        case kTechNrridg:
        case kTechNrlins:
        case kTechOldrap: return ls ? 'D' : 'C';
        case kTechNewrap:
        case kTechGaunew: return ls ? 'F' : 'E';
        case kTechQuanew:
        case kTechDualQuanew: return nlc ? 'H' : 'G';
        case kTechDbldog: return 'J';
        case kTechHyquan: return 'K';
        case kTechQuadas: return p->opt.conFactorForm == 2 ? 'L' : 'G';
        case kTechNmsimp:
        case kTechNmsim2: return nlc ? 'N' : 'M';
        default: return 'G';
    }
}

bool in(char layout, const char* set) { return std::strchr(set, layout) != nullptr; }

void iteration_stop(NlpProblem* p) {
    const char l = stop_layout(p);
    FactoidTable fa = nlp_factoid(p, "IterStop", 569);
    integer_entry(&fa, 570, static_cast<int32_t>(p->run.iteration));
    integer_entry(&fa, 571, p->run.nFun);
    if (in(l, "BDFK")) integer_entry(&fa, 572, p->run.nHess);
    if (in(l, "GHJKL")) integer_entry(&fa, 573, p->run.nGrad);
    if (in(l, "ACE")) integer_entry(&fa, 574, p->run.nHess);
    if (in(l, "MN")) integer_entry(&fa, 575, p->run.nRestarts);
    if (l != 'N')
        integer_entry(&fa, p->active.dropCode >= 1 ? 553 : 552, p->active.nActiveLin + p->active.nActiveBounds);
    if (!wzmis(p->iter.f)) value_entry(&fa, 554, p->shape.maximize ? -p->iter.f : p->iter.f);
    if (in(l, "ABCDEFGJK")) value_entry(&fa, 555, p->iter.maxProjGrad);
    if (in(l, "HN")) value_entry(&fa, 558, p->iter.maxConViolation);
    if (l == 'H') {
        value_entry(&fa, 581, p->iter.maxProjGrad);
        value_entry(&fa, 582, p->iter.lagrangeValue);
        value_entry(&fa, 559, p->iter.lagrangeGradMax);
    }
    if (in(l, "AB")) value_entry(&fa, 584, p->iter.lambda);
    if (l == 'N') value_entry(&fa, 585, p->iter.gconvMeasure);
    if (l == 'M') {
        value_entry(&fa, 586, p->iter.gconvMeasure);
        value_entry(&fa, 587, p->iter.lastStep);
        value_entry(&fa, 588, p->iter.maxProjGrad);
    }
    if (in(l, "EFGHJKL")) value_entry(&fa, 589, p->iter.gconvMeasure);
    if (in(l, "CDEF")) value_entry(&fa, 590, p->iter.ridge);
    if (in(l, "ABCDN")) value_entry(&fa, 591, p->iter.rho);
    if (in(l, "ABJ")) value_entry(&fa, 556, p->iter.radius);
    fa.end();
}

// The reason of a status: the row text, the log message with its
// arguments, and the "Status" value (missing when none applies).
struct Reason {
    HostText* text = nullptr;
    double value = 0.0;
};

Reason status_reason(NlpProblem* p, int32_t status, const char* tech) {
    const bool early = p->run.iteration < p->opt.minIter;
    Reason r;
    if (status <= -1 && status >= -4) {
        r.text = msg(kMsgNlpStartValuesFailed - 1 - status);
        xpmlog(kMsgNlp, kMsgNlpStartValuesFailed - 1 - status);
        r.value = 3;
    } else if (status == -6 || status == -7) {
        const int32_t m = status == -6 ? kMsgNlpStepNoReduction : kMsgNlpModelBrokeDown;
        r.text = msg(m);
        xpmlog(kMsgNlp, m);
        r.value = 1;
    } else if (status == kNlpLimit) {
        r.text = p->run.iterMsgLevel == 3 ? msg(kMsgNlpMaxIterStatus)
                                      : kyrmsgs(kMsgNlp, kMsgNlpMaxIterations, p->run.iterMsgLevel,
                                                tech, p->opt.maxIter, p->opt.maxFunc);
        xpmlog(kMsgNlp, kMsgNlpMaxIterations, p->run.iterMsgLevel, tech, p->opt.maxIter, p->opt.maxFunc);
        r.value = 2;
    } else if (status == kNlpTimeLimit) {
        r.text = p->run.iterMsgLevel == 3
                     ? kyrmsgs(kMsgNlp, kMsgNlpMaxTime, p->opt.maxTime)
                     : kyrmsgs(kMsgNlp, kMsgNlpMaxTimeNumbered, p->run.iterMsgLevel, p->opt.maxTime);
        xpmlog(kMsgNlp, kMsgNlpTimeLimitStop, p->opt.maxTime);
        r.value = 2;
    } else if (status == kNlpInfeasible) {
        r.text = msg(kMsgNlpNoFeasibleStart);
        xpmlog(kMsgNlp, kMsgNlpNoFeasibleStart);
        r.value = 2;
    } else if (status < 0) {
        r.text = msg(early ? kMsgNlpBeforeMinIterStatus : kMsgNlpNoCriterionMet);
        xpmlog(kMsgNlp, early ? kMsgNlpBeforeMinIterations : kMsgNlpNoCriterionMet);
        r.value = 1;
    } else if (status >= kNlpAbsConv && status <= kNlpGConv2) {
        // A criterion without a count (0) is met by one iteration.
        const int32_t need = status >= 2 && p->opt.critCounts ? std::max(1, p->opt.critCounts[status - 1]) : 1;
        r.text = kyrmsgs(kMsgNlp, kMsgNlpCriterionSatisfiedTitle, nlp_criterion_name(status), need);
        xpmlog(kMsgNlp, kMsgNlpCriterionSatisfied, nlp_criterion_name(status), need);
        r.value = 0;
    } else if (status >= 101 && status <= 109) {
        r.text = kyrmsgs(kMsgNlp, kMsgNlpStoppedCountingTitle, nlp_criterion_name(status - 100));
        xpmlog(kMsgNlp, kMsgNlpStoppedWhileCounting, nlp_criterion_name(status - 100));
        r.value = 0;
    } else if (status == kNlpAllFixed) {
        r.text = msg(kMsgNlpAllFixedStatus);
        xpmlog(kMsgNlp, kMsgNlpAllParametersFixed);
        r.value = 1;
    } else if (p->run.iteration == 0.0) {
        r.text = msg(kMsgNlpNoOptimizationStatus);
        xpmlog(kMsgNlp, kMsgNlpNoOptimization);
        r.value = 0;
    } else {
        r.text = msg(kMsgNlpNoStatus);
        xpmlog(kMsgNlp, kMsgNlpNoStatus);
        r.value = host_missing_value();
    }
    return r;
}

// The message text alone: a text that is also logged starts with its
// severity ("WARNING: ", "NOTE: "), which belongs to the log line, not to
// the table's Reason cell.
HostText* without_severity(HostText* text) {
    int32_t length = 0;
    const char* chars = kyrtext_chars(text, &length);
    if (chars == nullptr) return text;
    const std::string s(chars, static_cast<size_t>(std::max(length, 0)));
    for (const char* prefix : {"ERROR: ", "WARNING: ", "NOTE: "})
        if (s.rfind(prefix, 0) == 0) return kyrtxt(s.c_str() + std::strlen(prefix), -1);
    return text;
}

void convergence_status(NlpProblem* p, const Reason& reason) {
    HostText* text = without_severity(reason.text);
    const double value = reason.value;
    OutputTable t(p->out.kyrObject, "ConvergenceStatus", msg(600), "Orvo.NLP.ConvergenceStatus");
    t.cell_column(kColumnDouble, "Status", &value);
    t.cell_column(kColumnText, "Reason", &text);
    if (t.end_columns() && t.add_row()) t.deliver();
}

// A note in the listing and the same message in the log.
void note_and_log(NlpProblem* p, HostText* text, int32_t number) {
    xpmlog(kMsgNlp, number);
    if (p->opt.printLevel != 0.0 && p->out.kyrObject != nullptr) nlp_note(p, text, 'l');
}

}  // namespace

const char* nlp_criterion_name(int32_t criterion) {
    static const char* const names[] = {"ABSCONV", "ABSFCONV", "ABSGCONV", "ABSXCONV", "FCONV",
                                        "GCONV",   "XCONV",    "FCONV2",   "GCONV2"};
    return criterion >= 1 && criterion <= 9 ? names[criterion - 1] : "";
}

bool nlp_note(NlpProblem* p, HostText* text, char justify) {
    if (p->out.kyrObject == nullptr) return false;
    return kyr_failed(kyr_note(p->out.kyrObject, text, justify));
}

void pritech(NlpProblem* p) {
    if (p->opt.printLevel == 0.0 || p->out.kyrObject == nullptr) return;
    int32_t nLower = 0, nUpper = 0;
    for (int32_t i = 0; p->shape.hasBounds && i < p->shape.nParams; ++i) {
        if (p->param.lower != nullptr && p->param.lower[i] > -DBL_MAX) ++nLower;
        if (p->param.upper != nullptr && p->param.upper[i] < DBL_MAX) ++nUpper;
    }
    if (!begin_output(p->out.kyrObject)) return;
    if (!title_notes(p)) return;
    if (p->opt.printLevel > 3.0) {
        input_options(p);
        if (!title_notes(p)) return;
    }
    if (!method_notes(p)) return;
    problem_description(p, nLower, nUpper);
}

void znlpptm(NlpProblem* p, int32_t status, int32_t afterStart) {
    HostObject* m = p->out.kyrObject;
    if (p->out.iterHistTable != nullptr) {
        HostObject* table = p->out.iterHistTable;
        p->out.iterHistTable = nullptr;
        OutputTable::resume(m, table, p->out.iterHistOut).deliver();
    }
    const char* tech = technique_name(p->opt.technique);
    const bool print = p->opt.printLevel != 0.0 && m != nullptr;
    if (print && afterStart == 0) iteration_stop(p);
    if (status < 0 && p->opt.technique != kTechNone && !nlp_solution_reached(p, status)) {
        const int32_t number = status == kNlpLimit                      ? p->run.iterMsgLevel
                               : status == kNlpRose && p->run.iteration < p->opt.minIter ? 3
                                                                                 : 1;
        xpmlog(kMsgNlp, kMsgNlpNotConverged, number, tech);
        if (print) nlp_note(p, kyrmsgs(kMsgNlp, kMsgNlpNotConverged, number, tech), 'l');
    }
    const Reason reason = status_reason(p, status, tech);
    if (print) convergence_status(p, reason);
    if (p->run.feasRound != 0) {
        if (p->run.feasRound >= 10) {
            note_and_log(p, msg(kMsgNlpInfeasibleAtLargestTol), kMsgNlpInfeasibleAtLargestTol);
        } else {
            const double t =
                std::fmax(p->opt.feasTol, velix::kDblMinE4Written) * std::pow(10.0, p->run.feasRound);
            xpmlog(kMsgNlp, kMsgNlpFeasTolRaised, t);
            if (print) nlp_note(p, kyrmsgs(kMsgNlp, kMsgNlpFeasTolRaised, t), 'l');
        }
    }
    if (afterStart == 0) {
        if (status >= 0 && (p->run.endStationary == 0 || znlp_final_gradient_large(p)))
            note_and_log(p, msg(kMsgNlpLargeFinalGradient), kMsgNlpLargeFinalGradient);
        if (p->active.dropCode != 0) xpmlog(kMsgNlp, kMsgNlpActiveSetChanged);
    }
}

// ---- the iteration history ----
namespace {

void fill_record(NlpProblem* p, int32_t code, int32_t first, int32_t last) {
    NlpIterRecord& r = p->iterRecord;
    r.activeCount = p->active.nActiveLin + p->active.nActiveBounds;
    r.iteration = static_cast<int32_t>(p->run.iteration);
    r.objective = p->shape.maximize ? -p->iter.f : p->iter.f;
    r.change = code == 10 ? DBL_MAX : last == 39 ? p->iter.fPrev - p->iter.gconvMeasure : p->iter.fPrev - p->iter.f;
    r.gradient = first == 37 ? p->iter.lagrangeGradMax : p->iter.maxProjGrad;
    r.extra = p->iter.gconvMeasure;
}

void iteration_start(NlpProblem* p, int32_t first) {
    const NlpIterRecord& r = p->iterRecord;
    FactoidTable fa = nlp_factoid(p, "IterStart", 551);
    // Entries go alternately to the first and second column; the factoid
    // keeps their order.
    if (first == 11 || first == 16 || first == 21 || first == 26) {
        integer_entry(&fa, p->active.dropCode > 0 ? 553 : 552, r.activeCount);
        value_entry(&fa, 554, r.objective);
    }
    if (first == 11 || first == 16 || first == 21) value_entry(&fa, 555, r.gradient);
    if (first == 11) value_entry(&fa, 556, p->iter.radius);
    if (first == 29 || first == 37) {
        value_entry(&fa, 554, r.objective);
        value_entry(&fa, 558, p->iter.maxConViolation);
    }
    if (first == 37) value_entry(&fa, 559, r.gradient);
    fa.end();
}

struct Column {
    const char* name;
    KyrColumnKind kind;
    const void* cell;
};

// The "IterHist" columns of a layout, bound to their fields.
int32_t history_columns(NlpProblem* p, int32_t last, Column* c) {
    NlpIterRecord& r = p->iterRecord;
    int32_t n = 0;
    c[n++] = {"Iter", kColumnShort, &r.iteration};
    c[n++] = {"Ac1", kColumnChars, &p->out.mark1};
    c[n++] = {"Rest", kColumnShort, &p->run.nRestarts};
    c[n++] = {"NFun", kColumnShort, &p->run.nFun};
    if (last < 38) {
        c[n++] = {"Act", kColumnShort, &r.activeCount};
        c[n++] = {"Ac2", kColumnChars, &p->out.mark2};
    }
    c[n++] = {"OptCrit", kColumnDouble, &r.objective};
    if (last == 38 || last == 39) {
        c[n++] = {"ConMax", kColumnDouble, &p->iter.maxConViolation};
        c[n++] = {last == 38 ? "Pred" : "MeritF", kColumnDouble, &r.extra};
    } else {
        c[n++] = {"DifCrit", kColumnDouble, &r.change};
        if (last == 28)
            c[n++] = {"StdDev", kColumnDouble, &r.extra};
        else
            c[n++] = {"MaxGrad", kColumnDouble, &p->iter.maxProjGrad};
    }
    if (last == 13 || last == 15 || last == 31) c[n++] = {"Lambda", kColumnDouble, &p->iter.lambda};
    if (last == 18) c[n++] = {"Ridge", kColumnDouble, &p->iter.ridge};
    if (last == 23 || last == 38) c[n++] = {"Alpha", kColumnDouble, &p->iter.lastStep};
    if (last == 28) c[n++] = {"Delta", kColumnDouble, &p->iter.lastStep};
    if (last == 39) c[n++] = {"DifMerit", kColumnDouble, &r.change};
    if (last == 13 || last == 18 || last == 39) c[n++] = {"Rho", kColumnDouble, &p->iter.rho};
    if (last == 15 || last == 23) c[n++] = {"Slope", kColumnDouble, &r.extra};
    if (last == 28) c[n++] = {"Size", kColumnDouble, &r.gradient};
    if (last == 31) c[n++] = {"Radius", kColumnDouble, &p->iter.radius};
    if (last == 38) c[n++] = {"LFGMax", kColumnDouble, &r.gradient};
    return n;
}

// Creates a (new piece of the) history table and binds it to its template;
// its cells are fields of the problem.
void history_table(NlpProblem* p, int32_t last) {
    OutputTable t(p->out.kyrObject, "IterHist", msg(550), "Orvo.NLP.IterHist");
    Column cols[16];
    const int32_t n = history_columns(p, last, cols);
    for (int32_t i = 0; i < n; ++i) {
        const bool chars = cols[i].kind == kColumnChars;
        t.cell_column(cols[i].kind, cols[i].name, cols[i].cell,
                      chars ? ColumnFormat{.width = 1} : ColumnFormat{});
    }
    if (!t.end_columns()) return;
    p->out.iterHistTable = t.table();
    p->out.iterHistOut = t.output();
}

// The action marks of the row.
void set_marks(NlpProblem* p, int32_t first) {
    auto text_char = [](int32_t number) {
        int32_t len = 0;
        const char* t = kyrtext_chars(kyrmsg(kMsgNlp, number), &len);
        return len > 0 ? t[0] : ' ';
    };
    char m1 = ' ';
    if (first == 11 || ((first == 16 || first == 21) && p->opt.technique != kTechCongra)) {
        m1 = p->run.iterMark > 0 ? '*' : ' ';
    } else if (first == 37) {
        m1 = p->run.iterMark == 1 ? '*' : p->run.iterMark == 2 ? text_char(42) : p->run.iterMark == 3 ? '\'' : ' ';
    }
    p->out.mark1 = m1;
    char m2 = ' ';
    if (first != 29 && first != 37) {
        if (p->active.dropCode == 2147483647)
            m2 = text_char(42);
        else if (p->active.dropCode < 0)
            m2 = text_char(43);
        else if (p->active.dropCode > 0)
            m2 = '\'';
    }
    p->out.mark2 = m2;
}

// After a row at printLevel > 4: end and deliver this piece, print the
// parameters (shape -3), with the gradient after them (shape -2), as the
// matrix table "Grad", and open a new piece so the history continues below.
// A delivered table takes no further bind or rows, so each piece is a table
// of its own with the same columns.
void parameters_after_row(NlpProblem* p, int32_t first, int32_t last) {
    HostObject* m = p->out.kyrObject;
    HostObject* table = p->out.iterHistTable;
    p->out.iterHistTable = nullptr;
    if (!OutputTable::resume(m, table, p->out.iterHistOut).deliver()) return;
    const bool withGradient = p->opt.printLevel > 5.0 && first != 26 && first != 29 && p->work.gradient != nullptr;
    const size_t n = static_cast<size_t>(p->shape.nParams);
    std::vector<double> values(p->param.x, p->param.x + n);
    if (withGradient) values.insert(values.end(), p->work.gradient, p->work.gradient + n);
    znlppmt(m, "Grad", withGradient ? -2 : -3, p->shape.nParams, values.data(), p->param.paramNames, 0,
            kMsgNlpGradientTable);
    history_table(p, last);
}

}  // namespace

void prihist(NlpProblem* p, int32_t code, int32_t first, int32_t last) {
    fill_record(p, code, first, last);
    if (p->out.kyrObject == nullptr) return;
    if (p->run.iteration == 0.0 && code == 10) {
        iteration_start(p, first);
        history_table(p, last);
    }
    if (p->opt.printLevel <= 1.0 || !(code < 0 || code % 2 == 1) || p->out.iterHistTable == nullptr) return;
    set_marks(p, first);
    if (last == 15 || last == 23) p->iterRecord.extra = -p->iterRecord.extra;
    if (!OutputTable::resume(p->out.kyrObject, p->out.iterHistTable, p->out.iterHistOut).add_row())
        return;
    if (p->opt.printLevel > 4.0) parameters_after_row(p, first, last);
}

// ---- the derivative checks' tables ----
namespace {

constexpr double kEta = velix::kMachEpsWritten;

// The distribution of the asymmetries in bins of width w from `start`.
struct Bins {
    double start = 0.0, width = 0.25;
    int32_t count = 0;
};

Bins make_bins(double lo, double hi, double w) {
    Bins b;
    b.width = w;
    if (lo < 0.0 && hi > 0.0) {
        const double first = std::trunc(lo / w) - 1, last = std::trunc(hi / w) + 1;
        b.count = static_cast<int32_t>(last - first);
        b.start = first * w;
    } else {
        b.count = static_cast<int32_t>(std::trunc((hi - lo) / w)) + 1;
        b.start = (lo + hi) / 2.0 - b.count * w / 2.0;
    }
    return b;
}

void residual_distribution(NlpProblem* p, const std::vector<double>& v) {
    const double lo = *std::min_element(v.begin(), v.end()), hi = *std::max_element(v.begin(), v.end());
    Bins b = make_bins(lo, hi, 0.25);
    if (b.count < 6 || b.count > 50) {
        const double w = (hi - lo) / (b.count < 6 ? 6.0 : 50.0);
        if (w <= velix::detail::kMinPos) return;
        b = make_bins(lo, hi, w);
    }
    std::vector<int32_t> counts(static_cast<size_t>(b.count), 0);
    auto edge = [&](int32_t i) {
        const double e = b.start + i * b.width;
        return std::fabs(e) < 100.0 * kEta ? 0.0 : e;
    };
    for (double x : v) {
        int32_t i = 0;
        while (i < b.count - 1 && !(edge(i + 1) > x)) ++i;
        counts[i] += 1;
    }
    const int32_t cmax = std::max(1, *std::max_element(counts.begin(), counts.end()));
    const int32_t scale = (cmax - 1) / (31 - static_cast<int32_t>(std::trunc(std::log10(cmax)))) + 1;
    double lower = 0, upper = 0, pct = 0;
    int32_t number = 0, cast = 0;
    HostText* dash = kyrtxt("-", 1);
    HostText* bar = msg(257);
    OutputTable t(p->out.kyrObject, "ResDistr", msg(711), "Orvo.NLP.ResDistr");
    t.cell_column(kColumnDouble, "LowerB", &lower);
    t.cell_column(kColumnText, "Dash", &dash);
    t.cell_column(kColumnDouble, "UpperB", &upper);
    t.cell_column(kColumnShort, "Number", &number);
    t.cell_column(kColumnDouble, "Pct", &pct);
    t.cell_column(kColumnText, "Bar", &bar);
    t.cell_column(kColumnShort, "Cast", &cast);
    if (!t.end_columns()) return;
    t.variable("TitleText2", kyrmsgs(kMsgNlp, kMsgNlpAsymmetryBarUnit, scale));
    for (int32_t i = 0; i < b.count; ++i) {
        lower = edge(i);
        upper = edge(i + 1);
        number = counts[i];
        pct = 100.0 * number / static_cast<double>(v.size());
        cast = number / scale;
        if (!t.add_row()) return;
    }
    t.deliver();
}

// The largest asymmetries by parameter pair, as a one-column matrix.
void largest_asymmetries(NlpProblem* p, const double* asym) {
    const int32_t n = p->shape.nParams, len = p->shape.packedLen;
    struct Entry {
        double v;
        int32_t i, j;
    };
    std::vector<Entry> all;
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j < i; ++j) all.push_back({asym[static_cast<size_t>(i) * (i + 1) / 2 + j], i, j});
    const size_t keep = std::min<size_t>(10, static_cast<size_t>(len / 2));
    std::partial_sort(all.begin(), all.begin() + std::min(keep, all.size()), all.end(),
                      [](const Entry& a, const Entry& b) { return a.v > b.v; });
    all.resize(std::min(keep, all.size()));
    const double root = velix::kSqrtMachEpsWritten;
    size_t listed = 0;
    while (listed < all.size() && all[listed].v > root && all[listed].v >= root * all[0].v) ++listed;
    if (listed == 0) return;
    auto name = [p](int32_t k) {
        if (p->param.paramNames != nullptr) return std::string(p->param.paramNames[k].text, static_cast<size_t>(p->param.paramNames[k].length));
        return std::to_string(k + 1);
    };
    size_t w = 6;
    for (size_t k = 0; k < listed; ++k) w = std::max({w, name(all[k].i).size(), name(all[k].j).size()});
    std::string labels;
    std::vector<double> values;
    for (size_t k = 0; k < listed; ++k) {
        std::string a = name(all[k].i), b = name(all[k].j);
        a.resize(w, ' ');
        b.resize(w, ' ');
        labels += a + "," + b;
        values.push_back(all[k].v);
    }
    MatrixTable m;
    m.templatePath = kyrtxt("Orvo.NLP.SymDifRO", -1);
    m.name = kyrtxt("SymDifRO", -1);
    m.title = msg(729);
    m.values = values.data();
    m.rows = static_cast<int32_t>(listed);
    m.columns = 1;
    m.storage = "r";
    m.rowNames = labels.data();
    m.rowNameWidth = static_cast<int32_t>(2 * w + 1);
    m.labelStyle = -1;
    if (kyr_publish_matrix(p->out.kyrObject, m) < 0) return;
    nlp_note(p, kyrmsgs(kMsgNlp, kMsgNlpAsymmetriesListed, static_cast<int32_t>(listed)), 'l');
}

// The asymmetries at or above a threshold from their ordered values: the
// tenth largest, lowered towards the median plus the median deviation.
void symmetric_difference(NlpProblem* p, const double* asym, std::vector<double> w) {
    const int32_t n = p->shape.nParams;
    const size_t len = w.size();
    std::sort(w.begin(), w.end());
    const size_t mid = (len - static_cast<size_t>(n)) / 2;
    double t = w[std::max(len >= 10 ? len - 10 : 0, mid)];
    const double median = w[mid];
    for (double& x : w) x = std::fabs(x - median);
    std::sort(w.begin(), w.end());
    t = std::fmin(t, median + w[mid]);
    std::vector<double> shown(asym, asym + len);
    for (double& x : shown)
        if (x < t) x = host_missing_value();
    znlppmt(p->out.kyrObject, "SymDif", 0, n, shown.data(), p->param.paramNames, kMsgNlpHessianAsymmetry,
            kMsgNlpHessianSymmetryTable);
    nlp_note(p, kyrmsgs(kMsgNlp, kMsgNlpAsymmetriesHidden, t), 'l');
}

}  // namespace

void nlp_grad_test_table(NlpProblem* p) {
    if (p->out.kyrObject == nullptr) return;
    const int32_t n = p->shape.nParams;
    int32_t number = 0;
    double test = 0.0;
    char name[33] = {};
    OutputTable t(p->out.kyrObject, "GradTest", msg(710), "Orvo.NLP.GradTest");
    t.cell_column(kColumnShort, "Number", &number, {.width = n < 999 ? 3 : n < 9999 ? 4 : 5});
    if (p->param.paramNameWidth != 0 && p->param.paramNames != nullptr)
        t.cell_column(kColumnChars, "Variable", name, {.width = p->param.paramNameWidth});
    t.cell_column(kColumnDouble, "Test", &test);
    if (!t.end_columns()) return;
    for (int32_t j = 0; j < n; ++j) {
        number = j + 1;
        test = p->work.gradBase[j];
        if (p->param.paramNames != nullptr) {
            std::memset(name, ' ', sizeof name - 1);
            std::memcpy(name, p->param.paramNames[j].text, static_cast<size_t>(std::min<int32_t>(p->param.paramNames[j].length, 32)));
        }
        if (!t.add_row()) return;
    }
    t.deliver();
}

void nlp_asymmetry_tables(NlpProblem* p, const double* asym) {
    if (p->out.kyrObject == nullptr || p->shape.packedLen <= 0) return;
    std::vector<double> w(asym, asym + p->shape.packedLen);
    residual_distribution(p, w);
    symmetric_difference(p, asym, w);
    largest_asymmetries(p, asym);
}
