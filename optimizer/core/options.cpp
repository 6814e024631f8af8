// The defaults of the optimizer's options by technique.  A missing value
// (or, for the step controls, one outside its range) is replaced; a given
// value in range is kept.
#include "optimizer/optimizer.h"

#include <cfloat>
#include <cmath>

#include "host/fields.h"
#include "numerics/kernel_support.h"
#include "velix/host.h"

namespace {

// The largest magnitude ABSCONV may take (the square root of DBL_MAX).
constexpr double kAbsConvBound = velix::kSqrtDblMaxWritten;

void fill(double* v, double value) {
    if (wzmis(*v)) *v = value;
}

bool simplex(int32_t t) { return t == kTechNmsimp || t == kTechNmsim2; }
bool newton_type(int32_t t) {
    return t == kTechTrureg || t == kTechNewrap || t == kTechNrridg || t == kTechNrlins ||
           t == kTechLevmar || t == kTechGaunew;
}

// A missing threshold of criterion k takes its preset, and the criterion is
// marked as preset (a later call finds the value there and keeps the mark).
void fill_criterion(NlpProblem* p, int32_t k, double* v, double value) {
    if (!wzmis(*v)) return;
    *v = value;
    p->opt.presetCriteria |= 1 << k;
}

void thresholds(NlpProblem* p) {
    const bool nlc = p->shape.hasNlinCon != 0;
    fill_criterion(p, kNlpAbsConv, &p->opt.absConv, p->shape.maximize ? kAbsConvBound : -kAbsConvBound);
    fill(&p->opt.fSize, 0.0);
    fill(&p->opt.xSize, 0.0);
    // FDIGITS not given: the digits of twice the machine precision.
    fill(&p->opt.fDigits, -std::log10(4.0 * velix::kMachEps));
    fill(&p->opt.cDigits, p->opt.fDigits);
    fill_criterion(p, kNlpFConv, &p->opt.fConv, std::pow(10.0, -p->opt.fDigits));
    fill_criterion(p, kNlpAbsFConv, &p->opt.absFConv, 0.0);
    const bool s = simplex(p->opt.technique);
    fill_criterion(p, kNlpAbsXConv, &p->opt.absXConv, !s ? 0.0 : nlc ? 1e-4 : 1e-8);
    fill_criterion(p, kNlpGConv2, &p->opt.gConv2, 0.0);
    fill_criterion(p, kNlpGConv, &p->opt.gConv, s ? 0.0 : 1e-8);
    fill_criterion(p, kNlpAbsGConv, &p->opt.absGConv, s ? 0.0 : 1e-5);
    fill_criterion(p, kNlpXConv, &p->opt.xConv, s ? 1e-8 : 0.0);
    fill_criterion(p, kNlpFConv2, &p->opt.fConv2, s || nlc ? 1e-6 : 0.0);
}

void limits_and_tolerances(NlpProblem* p) {
    const int32_t t = p->opt.technique;
    fill(&p->opt.maxIter, newton_type(t) ? 200 : simplex(t) ? 1000 : 500);
    fill(&p->opt.maxFunc, newton_type(t) ? 500 : simplex(t) ? 3000 : 1000);
    fill(&p->opt.nlcIterLimit, p->opt.maxIter);
    fill(&p->opt.maxTime, DBL_MAX);
    fill(&p->opt.feasTol, 1e-8);
    fill(&p->opt.linDepTol, 1e-8);
    fill(&p->opt.singularTol, velix::kSqrtMachEpsWritten);
    fill(&p->opt.restart, t == kTechCongra ? 0.0 : t == kTechLevmar ? 60.0 : 2147483647.0);
}

void step_controls(NlpProblem* p) {
    const int32_t t = p->opt.technique;
    if (wzmis(p->opt.stepLimit) || !(p->opt.stepLimit > 0.0)) p->opt.stepLimit = 1e20;
    if (wzmis(p->opt.stepCap) || !(p->opt.stepCap > 0.0)) p->opt.stepCap = simplex(t) && p->shape.hasNlinCon ? 0.5 : 1.0;
    if (!(p->opt.earlyStepSearches != 0 && !wzmis(p->opt.earlyStepCap) && p->opt.earlyStepCap > 0.0)) p->opt.earlyStepCap = DBL_MAX;
    if (!wzmis(p->opt.inStep) && !(p->opt.inStep > 0.0)) p->opt.inStep = host_missing_value();
    if (t == kTechNewrap && wzmis(p->opt.inStep)) p->opt.inStep = 4.0;
    if (wzmis(p->opt.lsPrecision) || !(p->opt.lsPrecision > 0.0 && p->opt.lsPrecision < 1.0)) {
        const bool quasiNewton = t == kTechQuanew || t == kTechDualQuanew || t == kTechDbldog || t == kTechHyquan;
        if (t == kTechNewrap)
            p->opt.lsPrecision = 0.9;
        else if (quasiNewton && p->opt.update == kUpdateDfp)
            p->opt.lsPrecision = 0.06;
        else if (t == kTechQuanew || t == kTechDualQuanew)
            p->opt.lsPrecision = 0.4;
        else
            p->opt.lsPrecision = 0.1;
    }
}

// UPDATE= and LINESEARCH= not given (0) take the technique's own: code 1
// is BFGS for primal QUANEW, dual BFGS for dual QUANEW, DBLDOG and HYQUAN,
// and Powell-Beale restarts for CONGRA; GAUNEW and HYQUAN name their own
// searches (11, 12), CONGRA, QUANEW and NEWRAP the default search 2.  The
// Newton-type techniques take no update and keep 0 for their search.
constexpr int32_t kLineSearchDefault = 2;
constexpr int32_t kLineSearchGaunewOwn = 11;
constexpr int32_t kLineSearchHyquanOwn = 12;

void update_and_line_search(NlpProblem* p) {
    const int32_t t = p->opt.technique;
    const bool quanew = t == kTechQuanew || t == kTechDualQuanew;
    if (p->opt.update == 0 && (quanew || t == kTechDbldog || t == kTechHyquan || t == kTechCongra))
        p->opt.update = kUpdateBfgs;
    if (p->opt.lineSearch != 0) return;
    if (t == kTechGaunew)
        p->opt.lineSearch = kLineSearchGaunewOwn;
    else if (t == kTechHyquan)
        p->opt.lineSearch = kLineSearchHyquanOwn;
    else if (quanew || t == kTechCongra || t == kTechNewrap)
        p->opt.lineSearch = kLineSearchDefault;
}

// The derivatives the technique works with: 0 values only (the simplex
// methods), 1 the gradient, 2 the least-squares Jacobian, 4 the Hessian (or
// the cross product that stands for it).  The value-based line searches
// take their slope and sufficient-decrease margin from the gradient when it
// is nonzero, the multipliers of the active set need it, and the notes on
// finite differences read it.
int32_t derivative_level(int32_t t) {
    if (simplex(t) || t == kTechNone) return 0;
    if (t == kTechGaunew || t == kTechLevmar || t == kTechHyquan) return 2;
    if (newton_type(t) || t == kTechQuadas) return 4;
    return 1;
}

// HESCAL=: the parameter scaling of the Newton-type techniques from the
// Hessian diagonal, 0 none, 1 running maximum, 2 damped, 3 latest; a value
// out of that range scales nothing.  Not given: Levenberg-Marquardt keeps
// More's running maximum, which makes its radius independent of the units
// of the parameters; the others scale nothing.
int32_t scaling_kind(double hesCal, int32_t technique) {
    if (wzmis(hesCal)) return technique == kTechLevmar ? 1 : 0;
    if (!(hesCal >= 1.0 && hesCal <= 3.0)) return 0;
    return static_cast<int32_t>(hesCal);
}

}  // namespace

void znlp_default_options(NlpProblem* p) {
    // General constraints are factored in the dense form, except for the
    // first form of QUADAS, which keeps its factor on a utility file;
    // without them there is no factor of rows.
    const bool general = p->shape.hasLinCon || p->shape.hasNlinCon;
    p->opt.conFactorForm = !general ? 0 : (p->opt.technique == kTechQuadas && p->opt.techVariant == 1 ? 2 : 1);
    thresholds(p);
    limits_and_tolerances(p);
    update_and_line_search(p);
    step_controls(p);
    p->opt.derivLevel = derivative_level(p->opt.technique);
    p->opt.scalingKind = scaling_kind(p->opt.hesCal, p->opt.technique);
}
