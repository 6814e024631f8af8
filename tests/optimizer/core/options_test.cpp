// The option defaults: missing options get the value of their technique,
// given values in range are kept, step controls out of range are replaced.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

#include "host/fields.h"
#include "optimizer/optimizer.h"
#include "tests/optimizer/core/nlp_fixture.h"

namespace {

// A problem whose every double option is missing.
NlpProblem all_missing(int32_t technique) {
    NlpProblem p;
    const double m = host_missing_value();
    for (double* v : {&p.opt.absConv, &p.opt.absFConv, &p.opt.fConv, &p.opt.fConv2, &p.opt.absXConv, &p.opt.xConv, &p.opt.absGConv,
                      &p.opt.gConv, &p.opt.gConv2, &p.opt.fSize, &p.opt.xSize, &p.opt.fDigits, &p.opt.cDigits, &p.opt.maxIter, &p.opt.maxFunc,
                      &p.opt.nlcIterLimit, &p.opt.maxTime, &p.opt.feasTol, &p.opt.linDepTol, &p.opt.singularTol, &p.opt.restart,
                      &p.opt.stepLimit, &p.opt.stepCap, &p.opt.earlyStepCap, &p.opt.inStep, &p.opt.lsPrecision})
        *v = m;
    p.opt.technique = technique;
    return p;
}

TEST(OptionDefaults, QuasiNewton) {
    NlpProblem p = all_missing(kTechQuanew);
    znlp_default_options(&p);
    EXPECT_NEAR(p.opt.fConv, 2 * DBL_EPSILON, 1e-28);  // FDIGITS not given: -log10(2 eps) digits
    EXPECT_EQ(p.opt.absGConv, 1e-5);
    EXPECT_EQ(p.opt.gConv, 1e-8);
    EXPECT_EQ(p.opt.absConv, -1.3407807929943e+154);
    EXPECT_EQ(p.opt.maxIter, 500);
    EXPECT_EQ(p.opt.maxFunc, 1000);
    EXPECT_EQ(p.opt.maxTime, DBL_MAX);
    EXPECT_EQ(p.opt.feasTol, 1e-8);
    EXPECT_EQ(p.opt.stepCap, 1.0);
    EXPECT_EQ(p.opt.stepLimit, 1e20);
    EXPECT_EQ(p.opt.earlyStepCap, DBL_MAX);
    EXPECT_TRUE(wzmis(p.opt.inStep));
    EXPECT_EQ(p.opt.lsPrecision, 0.4);
    EXPECT_EQ(p.opt.restart, 2147483647.0);
}

TEST(OptionDefaults, SimplexWithNonlinearConstraintsAndNewton) {
    NlpProblem p = all_missing(kTechNmsimp);
    p.shape.hasNlinCon = 1;
    znlp_default_options(&p);
    EXPECT_EQ(p.opt.absXConv, 1e-4);
    EXPECT_EQ(p.opt.gConv, 0.0);
    EXPECT_EQ(p.opt.fConv2, 1e-6);
    EXPECT_EQ(p.opt.stepCap, 0.5);
    EXPECT_EQ(p.opt.maxIter, 1000);
    EXPECT_EQ(p.opt.conFactorForm, 1);  // the dense form under constraints
    NlpProblem q = all_missing(kTechNewrap);
    q.shape.maximize = 1;
    znlp_default_options(&q);
    EXPECT_EQ(q.opt.inStep, 4.0);
    EXPECT_EQ(q.opt.lsPrecision, 0.9);
    EXPECT_EQ(q.opt.absConv, 1.3407807929943e+154);
    EXPECT_EQ(q.opt.maxIter, 200);
}

TEST(OptionDefaults, GivenValuesStayAndOutOfRangeStepControlsAreReplaced) {
    NlpProblem p = all_missing(kTechQuanew);
    p.opt.update = kUpdateDfp;
    p.opt.fDigits = 8;
    p.opt.maxIter = 7;
    p.opt.lsPrecision = 1.5;
    p.opt.inStep = -1;
    p.opt.stepCap = 0;
    znlp_default_options(&p);
    EXPECT_DOUBLE_EQ(p.opt.fConv, 1e-8);
    EXPECT_EQ(p.opt.maxIter, 7);
    EXPECT_EQ(p.opt.lsPrecision, 0.06);
    EXPECT_TRUE(wzmis(p.opt.inStep));
    EXPECT_EQ(p.opt.stepCap, 1.0);
}

}  // namespace
