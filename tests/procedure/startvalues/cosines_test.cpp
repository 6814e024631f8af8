// The start-value cascade on whole models: every reference model and the
// held-out forms (the confirmatory model as a RAM list, exploratory and
// confirmatory FACTOR models, a second-order model) converge in fewer
// iterations from the estimated start than from the start constant; a
// recursive path model of manifest variables starts at its least-squares
// estimates, a one-factor model with three indicators at its
// instrumental-variable solution and a model of moments about zero at its
// two-stage estimates with the constant as an instrument, all computed
// here from the sample moments; each estimator that assigns values leaves
// its note; a model the estimators cannot read (or cannot have memory for)
// and an estimate that is not finite keep their values for the default
// step.
#include <gtest/gtest.h>

#include <iostream>
#include <limits>

#include "platform/memory.h"
#include "procedure/evaluation/model_view.h"
#include "start_fixture.h"

namespace velix::testing {
namespace {

constexpr double kClose = 1e-10;  // relative: the same arithmetic, another order

// Iterations of the default technique from the estimated start and from
// the constant start of the program.
struct IterationCounts {
    int32_t estimated = -1, constant = -1;
};

IterationCounts count_iterations(const std::string& program) {
    IterationCounts c;
    {
        StartValueStep s(program);
        EXPECT_TRUE(s.ready) << s.log.str();
        if (s.ready) c.estimated = s.iterations_to_converge();
        evaluation_release(&s.ctx);
    }
    {
        StartValueStep s(program);
        if (s.ready) {
            s.constant_start();
            c.constant = s.iterations_to_converge();
        }
        evaluation_release(&s.ctx);
    }
    return c;
}

const char* kRamCfa =
    "proc velix data=hs method=ml covariance;\n"
    "ram 1 1 10 1.0, 1 2 10 l2, 1 3 10 l3, 1 4 11 1.0, 1 5 11 l5, 1 6 11 l6,\n"
    "    1 7 12 1.0, 1 8 12 l8, 1 9 12 l9,\n"
    "    2 1 1 ve1, 2 2 2 ve2, 2 3 3 ve3, 2 4 4 ve4, 2 5 5 ve5, 2 6 6 ve6,\n"
    "    2 7 7 ve7, 2 8 8 ve8, 2 9 9 ve9, 2 10 10 vvis, 2 11 11 vtxt, 2 12 12 vspd,\n"
    "    2 11 10 cvt, 2 12 10 cvs, 2 12 11 cts;\nrun;\n";
const char* kFactor = "proc velix data=hs method=ml covariance;\nvar x1-x9;\nfactor n=3;\nrun;\n";
const char* kConfirmatoryFactor =
    "proc velix data=ability method=ml covariance;\nfactor n=2;\n"
    "matrix _F_ [ ,1] = a1-a3, [ ,2] = 0 0 0 b4-b6;\nmatrix _P_ [1,1] = 1.0 1.0, [2,1] = r;\nrun;\n";
// The three factors of the reference model explained by one general factor.
const char* kSecondOrder =
    "proc velix data=hs method=ml covariance;\nvar x1-x9;\n"
    "lineqs x1 = 1.0 Fvis + e1, x2 = l2 Fvis + e2, x3 = l3 Fvis + e3,\n"
    "       x4 = 1.0 Ftxt + e4, x5 = l5 Ftxt + e5, x6 = l6 Ftxt + e6,\n"
    "       x7 = 1.0 Fspd + e7, x8 = l8 Fspd + e8, x9 = l9 Fspd + e9,\n"
    "       Fvis = 1.0 Fg + d1, Ftxt = g2 Fg + d2, Fspd = g3 Fg + d3;\n"
    "std Fg = vg, e1-e9 = ve1-ve9, d1-d3 = vd1-vd3;\nrun;\n";

TEST(StartValueCascade, EveryReferenceModelConvergesFasterFromTheEstimatedStart) {
    const struct {
        const char* name;
        std::string program;
    } models[] = {{"hs_cfa_ml", fixture_text("hs_cfa_ml.vx")},
                  {"poldem_ml (correlated errors)", fixture_text("poldem_ml.vx")},
                  {"ability_ml", fixture_text("ability_ml.vx")},
                  {"hs confirmatory model as a RAM list", kRamCfa},
                  {"hs exploratory FACTOR model", kFactor},
                  {"ability confirmatory FACTOR model", kConfirmatoryFactor},
                  {"hs second-order factor model", kSecondOrder}};
    for (const auto& m : models) {
        SCOPED_TRACE(m.name);
        const IterationCounts c = count_iterations(m.program);
        std::cout << m.name << ": " << c.estimated << " iterations from the estimated start, " << c.constant
                  << " from the constant start\n";
        ::testing::Test::RecordProperty(std::string(m.name) + " estimated", c.estimated);
        ::testing::Test::RecordProperty(std::string(m.name) + " constant", c.constant);
        ASSERT_GE(c.estimated, 0) << "no convergence from the estimated start";
        // A constant start that does not converge at all is the worse one;
        // the constant start in the units of the data may match the
        // estimated one on a small model.
        EXPECT_TRUE(c.constant < 0 || c.estimated <= c.constant) << c.estimated << " vs " << c.constant;
    }
}

// x3 and x4 explained recursively by x1 and x2; the equations are given in
// the other order than the variables, so that the error variance of each
// equation must reach its own variable.
const char* kRecursive =
    "proc velix data=hs method=none covariance;\nvar x1-x4;\n"
    "lineqs x4 = b41 x1 + b42 x2 + b43 x3 + e4,\n"
    "       x3 = b31 x1 + b32 x2 + e3;\n"
    "std x1 = v1, x2 = v2, e3 = v3, e4 = v4;\ncov x1 x2 = c12;\nrun;\n";

TEST(StartValueCascade, ARecursivePathModelStartsAtItsLeastSquaresEstimates) {
    StartValueStep s(kRecursive);
    ASSERT_TRUE(s.ready) << s.log.str();
    auto S = [&](int32_t i, int32_t j) { return s.sample(i, j); };
    // Ordinary least squares of each equation from the normal equations.
    const std::vector<double> b3 = solve({{S(0, 0), S(0, 1)}, {S(1, 0), S(1, 1)}}, {S(0, 2), S(1, 2)});
    const std::vector<double> b4 = solve({{S(0, 0), S(0, 1), S(0, 2)}, {S(1, 0), S(1, 1), S(1, 2)}, {S(2, 0), S(2, 1), S(2, 2)}},
                                         {S(0, 3), S(1, 3), S(2, 3)});
    // The residual variance of y = b'x: s_yy - b's_xy.
    const double v3 = S(2, 2) - b3[0] * S(0, 2) - b3[1] * S(1, 2);
    const double v4 = S(3, 3) - b4[0] * S(0, 3) - b4[1] * S(1, 3) - b4[2] * S(2, 3);
    const struct {
        const char* name;
        double expected;
    } expected[] = {{"b31", b3[0]}, {"b32", b3[1]}, {"b41", b4[0]}, {"b42", b4[1]}, {"b43", b4[2]},
                    {"v3", v3},     {"v4", v4},     {"v1", S(0, 0)}, {"v2", S(1, 1)}, {"c12", S(1, 0)}};
    for (const auto& e : expected) EXPECT_NEAR(s.start(e.name), e.expected, kClose * std::fabs(e.expected)) << e.name;

    // The estimators themselves write the start vector, not only the
    // default step after them.
    std::copy(s.readValues.begin(), s.readValues.end(), s.ctx.elements.value);
    std::copy(s.readStart.begin(), s.readStart.end(), s.nlp.param.x);
    cosines(&s.ctx);
    for (const auto& e : expected) EXPECT_NEAR(s.start(e.name), e.expected, kClose * std::fabs(e.expected)) << e.name;
}

TEST(StartValueCascade, AOneFactorModelStartsAtItsInstrumentalVariableSolution) {
    StartValueStep s(
        "proc velix data=hs method=none covariance;\nvar x1-x3;\n"
        "lineqs x1 = 1.0 F + e1, x2 = l2 F + e2, x3 = l3 F + e3;\n"
        "std F = vf, e1-e3 = ve1-ve3;\nrun;\n");
    ASSERT_TRUE(s.ready) << s.log.str();
    auto S = [&](int32_t i, int32_t j) { return s.sample(i, j); };
    // x1 is the reference indicator; each other indicator is instrumented
    // by the third one.  The model is exactly identified: the factor
    // variance and the unique variances reproduce S.
    const double l2 = S(1, 2) / S(0, 2), l3 = S(1, 2) / S(0, 1);
    const double vf = S(0, 1) * S(0, 2) / S(1, 2);
    const struct {
        const char* name;
        double expected;
    } expected[] = {{"l2", l2},
                    {"l3", l3},
                    {"vf", vf},
                    {"ve1", S(0, 0) - vf},
                    {"ve2", S(1, 1) - l2 * l2 * vf},
                    {"ve3", S(2, 2) - l3 * l3 * vf}};
    for (const auto& e : expected) EXPECT_NEAR(s.start(e.name), e.expected, 1e-9 * std::fabs(e.expected)) << e.name;
}

// With PINITIAL each estimator that assigned values says so in the listing.
TEST(StartValueCascade, EachEstimatorThatAssignsValuesLeavesItsNote) {
    auto with_notes = [](std::string program) {
        program.replace(program.find("covariance"), 10, "covariance pinitial");
        return program;
    };
    {
        // The loadings by instrumental variables leave no coefficient to
        // the least-squares estimators.
        StartValueStep s(with_notes(fixture_text("hs_cfa_ml.vx")));
        ASSERT_TRUE(s.ready) << s.log.str();
        EXPECT_EQ(s.notes(), std::vector<int32_t>{64});
    }
    {
        // Two-stage least squares for x3, ordinary least squares for x4,
        // whose projected x3 is collinear with its instruments.
        StartValueStep s(with_notes(kRecursive));
        ASSERT_TRUE(s.ready) << s.log.str();
        EXPECT_EQ(s.notes(), (std::vector<int32_t>{67, 66}));
        // 66 is the note with its own text (the number also reports a
        // product the model evaluation cannot form).
        std::string text;
        for (const auto& it : velix::platform::current_step().items)
            if (it.type == velix::platform::OutItem::Type::Note && it.title.messageNumber == 66) text = it.title.text;
        EXPECT_EQ(text, "NOTE: Start values of the coefficients were computed by least squares.");
    }
}

// Without the estimators' memory, or with tables they cannot read, the
// values stay as the readers left them for the default step, with a
// message and without ending the step.
TEST(StartValueCascade, AModelTheEstimatorsCannotReadKeepsItsValuesForTheDefaultStep) {
    for (const bool memory : {true, false}) {
        SCOPED_TRACE(memory ? "no memory" : "tables that do not fit");
        StartValueStep s(kRecursive);
        ASSERT_TRUE(s.ready) << s.log.str();
        s.reset_values();
        if (memory) velix::platform::fail_nth_pool_creation(1);
        else s.ctx.readers.varPosition = nullptr;
        const size_t from = messages_now();
        cosines(&s.ctx);
        velix::platform::fail_nth_pool_creation(0);
        const std::vector<int32_t> messages = messages_since(from);
        EXPECT_EQ(messages.back(), memory ? 63 : 59);
        for (int32_t e = 0; e < s.ctx.sizes.nElements; ++e)
            EXPECT_EQ(wzmis(s.ctx.elements.value[e]), wzmis(s.readValues[static_cast<size_t>(e)])) << e;
    }
}

// An estimate that is not finite never reaches the optimizer: the default
// step takes the element.
TEST(StartValueCascade, AnEstimateThatIsNotFiniteIsLeftToTheDefaultStep) {
    StartValueStep s(kRecursive);
    ASSERT_TRUE(s.ready) << s.log.str();
    s.reset_values();
    for (int32_t e = 0; e < s.ctx.sizes.nElements; ++e) s.ctx.elements.value[e] = 0.25;
    const int32_t e = s.element_at(3, 0, 0);  // b31: x3 on x1
    ASSERT_EQ(s.parameter_of(e), "b31");
    s.ctx.elements.value[e] = std::numeric_limits<double>::infinity();
    velix::detail::values_to_start_vector(&s.ctx);
    EXPECT_TRUE(wzmis(s.ctx.elements.value[e]));
    EXPECT_TRUE(wzmis(s.start("b31")));
    EXPECT_EQ(s.start("b32"), 0.25);
}

// Moments about zero: the constant is one more instrument, so that x3 on
// x2 is estimated by two-stage least squares with the instruments x1 and
// the constant (computed here from the raw moments and the means).
TEST(TwoStageLeastSquares, MomentsAboutZeroTakeTheConstantAsAnInstrument) {
    StartValueStep s(
        "proc velix data=hs method=none covariance noint;\nvar x1-x3;\n"
        "lineqs x2 = b2 x1 + e2, x3 = b3 x2 + e3;\nstd x1 = v1, e2 = v2, e3 = v3;\nrun;\n");
    ASSERT_TRUE(s.ready) << s.log.str();
    ASSERT_EQ(s.ctx.moments.momentOrigin, 1);
    const double* mean = s.ctx.moments.means;
    // Instruments z = (x1, 1): S_zz, S_z2, S_z3.
    const std::vector<std::vector<double>> szz = {{s.sample(0, 0), mean[0]}, {mean[0], 1.0}};
    const std::vector<double> sz2 = {s.sample(0, 1), mean[1]}, sz3 = {s.sample(0, 2), mean[2]};
    const std::vector<double> g = solve(szz, sz2);  // the first stage of x2
    const double b3 = (g[0] * sz3[0] + g[1] * sz3[1]) / (g[0] * sz2[0] + g[1] * sz2[1]);
    EXPECT_NEAR(s.start("b3"), b3, 1e-10 * std::fabs(b3));
    // x2 on the instrument x1 is its own projection: S_12 / S_11.
    const double b2 = s.sample(0, 1) / s.sample(0, 0);
    EXPECT_NEAR(s.start("b2"), b2, 1e-10 * std::fabs(b2));
}

}  // namespace
}  // namespace velix::testing
