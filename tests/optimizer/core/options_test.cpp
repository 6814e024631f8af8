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
    for (double* v : {&p.absConv, &p.absFConv, &p.fConv, &p.fConv2, &p.absXConv, &p.xConv, &p.absGConv,
                      &p.gConv, &p.gConv2, &p.fSize, &p.xSize, &p.fDigits, &p.cDigits, &p.maxIter, &p.maxFunc,
                      &p.nlcIterLimit, &p.maxTime, &p.feasTol, &p.linDepTol, &p.singularTol, &p.restart,
                      &p.stepLimit, &p.stepCap, &p.earlyStepCap, &p.inStep, &p.lsPrecision})
        *v = m;
    p.technique = technique;
    return p;
}

TEST(OptionDefaults, QuasiNewton) {
    NlpProblem p = all_missing(kTechQuanew);
    znlp_default_options(&p);
    EXPECT_NEAR(p.fConv, 2 * DBL_EPSILON, 1e-28);  // FDIGITS not given: -log10(2 eps) digits
    EXPECT_EQ(p.absGConv, 1e-5);
    EXPECT_EQ(p.gConv, 1e-8);
    EXPECT_EQ(p.absConv, -1.3407807929943e+154);
    EXPECT_EQ(p.maxIter, 500);
    EXPECT_EQ(p.maxFunc, 1000);
    EXPECT_EQ(p.maxTime, DBL_MAX);
    EXPECT_EQ(p.feasTol, 1e-8);
    EXPECT_EQ(p.stepCap, 1.0);
    EXPECT_EQ(p.stepLimit, 1e20);
    EXPECT_EQ(p.earlyStepCap, DBL_MAX);
    EXPECT_TRUE(wzmis(p.inStep));
    EXPECT_EQ(p.lsPrecision, 0.4);
    EXPECT_EQ(p.restart, 2147483647.0);
}

TEST(OptionDefaults, SimplexWithNonlinearConstraintsAndNewton) {
    NlpProblem p = all_missing(kTechNmsimp);
    p.hasNlinCon = 1;
    znlp_default_options(&p);
    EXPECT_EQ(p.absXConv, 1e-4);
    EXPECT_EQ(p.gConv, 0.0);
    EXPECT_EQ(p.fConv2, 1e-6);
    EXPECT_EQ(p.stepCap, 0.5);
    EXPECT_EQ(p.maxIter, 1000);
    EXPECT_EQ(p.conFactorForm, 1);  // the dense form under constraints
    NlpProblem q = all_missing(kTechNewrap);
    q.maximize = 1;
    znlp_default_options(&q);
    EXPECT_EQ(q.inStep, 4.0);
    EXPECT_EQ(q.lsPrecision, 0.9);
    EXPECT_EQ(q.absConv, 1.3407807929943e+154);
    EXPECT_EQ(q.maxIter, 200);
}

TEST(OptionDefaults, GivenValuesStayAndOutOfRangeStepControlsAreReplaced) {
    NlpProblem p = all_missing(kTechQuanew);
    p.update = kUpdateDfp;
    p.fDigits = 8;
    p.maxIter = 7;
    p.lsPrecision = 1.5;
    p.inStep = -1;
    p.stepCap = 0;
    znlp_default_options(&p);
    EXPECT_DOUBLE_EQ(p.fConv, 1e-8);
    EXPECT_EQ(p.maxIter, 7);
    EXPECT_EQ(p.lsPrecision, 0.06);
    EXPECT_TRUE(wzmis(p.inStep));
    EXPECT_EQ(p.stepCap, 1.0);
}

}  // namespace
