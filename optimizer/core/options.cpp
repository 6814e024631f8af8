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

void thresholds(NlpProblem* p) {
    const bool nlc = p->hasNlinCon != 0;
    fill(&p->absConv, p->maximize ? kAbsConvBound : -kAbsConvBound);
    fill(&p->fSize, 0.0);
    fill(&p->xSize, 0.0);
    // FDIGITS not given: the digits of twice the machine precision.
    fill(&p->fDigits, -std::log10(4.0 * velix::kMachEps));
    fill(&p->cDigits, p->fDigits);
    fill(&p->fConv, std::pow(10.0, -p->fDigits));
    fill(&p->absFConv, 0.0);
    if (simplex(p->technique)) {
        fill(&p->absXConv, nlc ? 1e-4 : 1e-8);
        fill(&p->gConv2, 0.0);
        fill(&p->gConv, 0.0);
        fill(&p->absGConv, 0.0);
        fill(&p->xConv, 1e-8);
        fill(&p->fConv2, 1e-6);
    } else {
        fill(&p->absGConv, 1e-5);
        fill(&p->absXConv, 0.0);
        fill(&p->gConv, 1e-8);
        fill(&p->xConv, 0.0);
        fill(&p->fConv2, nlc ? 1e-6 : 0.0);
        fill(&p->gConv2, 0.0);
    }
}

void limits_and_tolerances(NlpProblem* p) {
    const int32_t t = p->technique;
    fill(&p->maxIter, newton_type(t) ? 200 : simplex(t) ? 1000 : 500);
    fill(&p->maxFunc, newton_type(t) ? 500 : simplex(t) ? 3000 : 1000);
    fill(&p->nlcIterLimit, p->maxIter);
    fill(&p->maxTime, DBL_MAX);
    fill(&p->feasTol, 1e-8);
    fill(&p->linDepTol, 1e-8);
    fill(&p->singularTol, velix::kSqrtMachEpsWritten);
    fill(&p->restart, t == kTechCongra ? 0.0 : t == kTechLevmar ? 60.0 : 2147483647.0);
}

void step_controls(NlpProblem* p) {
    const int32_t t = p->technique;
    if (wzmis(p->stepLimit) || !(p->stepLimit > 0.0)) p->stepLimit = 1e20;
    if (wzmis(p->stepCap) || !(p->stepCap > 0.0)) p->stepCap = simplex(t) && p->hasNlinCon ? 0.5 : 1.0;
    if (!(p->earlyStepSearches != 0 && !wzmis(p->earlyStepCap) && p->earlyStepCap > 0.0)) p->earlyStepCap = DBL_MAX;
    if (!wzmis(p->inStep) && !(p->inStep > 0.0)) p->inStep = host_missing_value();
    if (t == kTechNewrap && wzmis(p->inStep)) p->inStep = 4.0;
    if (wzmis(p->lsPrecision) || !(p->lsPrecision > 0.0 && p->lsPrecision < 1.0)) {
        const bool quasiNewton = t == kTechQuanew || t == kTechDualQuanew || t == kTechDbldog || t == kTechHyquan;
        if (t == kTechNewrap)
            p->lsPrecision = 0.9;
        else if (quasiNewton && p->update == kUpdateDfp)
            p->lsPrecision = 0.06;
        else if (t == kTechQuanew || t == kTechDualQuanew)
            p->lsPrecision = 0.4;
        else
            p->lsPrecision = 0.1;
    }
}

}  // namespace

void znlp_default_options(NlpProblem* p) {
    // General constraints are factored in the dense form, except for the
    // first form of QUADAS, which keeps its factor on a utility file;
    // without them there is no factor of rows.
    const bool general = p->hasLinCon || p->hasNlinCon;
    p->conFactorForm = !general ? 0 : (p->technique == kTechQuadas && p->techVariant == 1 ? 2 : 1);
    thresholds(p);
    limits_and_tolerances(p);
    step_controls(p);
}
