// The five discrepancy functions against their defining formulas, computed
// densely from the reference C, the sample moments and the weights the
// moment step left.
#include <gtest/gtest.h>

#include <cfloat>

#include "evaluation_fixture.h"

namespace velix::testing {
namespace {

// F by its textbook formula at the step's current C (dense reference).
double formula(const EvalStep& s, int32_t method) {
    const int32_t n = s.ctx.nManifest, p = s.ctx.nMoments;
    const Dense c = s.implied_reference();
    const Dense S = expand(n, s.ctx.momentMatrix);
    std::vector<double> r(static_cast<size_t>(p));
    for (int32_t i = 0, k = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j, ++k) r[k] = c[i][j] - S[i][j];
    auto trace_square = [&](const Dense& m) {
        double t = 0.0;
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j < n; ++j) t += m[i][j] * m[j][i];
        return t;
    };
    Dense rd = zeros(n, n);
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j < n; ++j) rd[i][j] = c[i][j] - S[i][j];
    switch (method) {
        case kMethodUls:
            return 0.5 * trace_square(rd);
        case kMethodGls:
            return 0.5 * trace_square(multiply(expand(n, s.ctx.weightMatrix), rd));
        case kMethodMl: {
            const Dense m = multiply(S, inverse(c));
            double t = 0.0;
            for (int32_t i = 0; i < n; ++i) t += m[i][i];
            return log_det(c) - log_det(S) + t - n;
        }
        case kMethodWls: {
            // r' (L L')^-1 r = |L^-1 r|^2 by forward substitution.
            const double* l = s.ctx.weightMatrix;
            double sum = 0.0;
            for (int32_t i = 0; i < p; ++i) {
                double y = r[i];
                for (int32_t j = 0; j < i; ++j) y -= l[velix::pk_lower(i, j)] * r[j];
                r[i] = y / l[velix::pk_lower(i, i)];
                sum += r[i] * r[i];
            }
            return sum;
        }
        default: {
            double sum = 0.0;
            for (int32_t k = 0; k < p; ++k) sum += std::pow(r[k] * s.ctx.weightMatrix[k], 2);
            return sum;
        }
    }
}

struct MethodCase {
    const char* name;
    int32_t code;
};

class Discrepancy : public ::testing::TestWithParam<MethodCase> {};

TEST_P(Discrepancy, EqualsItsFormulaAtRandomPoints) {
    EvalStep s(cosan_program(GetParam().name), GetParam().code);
    ASSERT_TRUE(s.ready) << s.log.str();
    const std::vector<double> start = s.x();
    for (uint32_t seed = 1; seed <= 3; ++seed) {
        s.set_x(start);
        s.perturb(seed, 0.2);
        const double f = s.objective();
        const double expected = formula(s, GetParam().code);
        EXPECT_NEAR(f, expected, 1e-10 * (1.0 + std::fabs(expected))) << GetParam().name << " seed " << seed;
        EXPECT_EQ(s.ctx.eval.discrepancy, f);
    }
}

INSTANTIATE_TEST_SUITE_P(Methods, Discrepancy,
                         ::testing::Values(MethodCase{"uls", kMethodUls}, MethodCase{"gls", kMethodGls},
                                           MethodCase{"ml", kMethodMl}, MethodCase{"wls", kMethodWls},
                                           MethodCase{"dwls", kMethodDwls}),
                         [](const auto& info) { return std::string(info.param.name); });

// At the reference estimates of an independent package the ML discrepancy
// is its minimum (lavaan 0.6.14, N-1 convention; ability_ml.expected.json).
TEST(Discrepancy, ReferenceMinimumOfTheAbilityModel) {
    EvalStep s(
        "proc velix data=ability method=ml covariance;\n"
        "lineqs general = 1.0 Fg + E1, picture = l2 Fg + E2, blocks = l3 Fg + E3, maze = l4 Fg + E4,\n"
        "  reading = 1.0 Fv + E5, vocab = l6 Fv + E6;\n"
        "std Fg Fv = vg vv, E1-E6 = ve1-ve6;\ncov Fg Fv = cgv;\nrun;\n",
        kMethodMl);
    ASSERT_TRUE(s.ready) << s.log.str();
    const std::pair<const char*, double> estimates[] = {
        {"l2", 0.4172587919776}, {"l3", 2.422336375579},  {"l4", 0.4210786724208}, {"l6", 1.513183458393},
        {"cgv", 15.787819208873}, {"vg", 14.977142340539}, {"vv", 44.120236419234}, {"ve1", 9.663863107509},
        {"ve2", 4.092408252091}, {"ve3", 61.949399644315}, {"ve4", 10.055445690864}, {"ve5", 8.483768465987},
        {"ve6", 34.268851933637}};
    const auto names = s.parameters();
    for (const auto& [name, value] : estimates)
        for (size_t p = 0; p < names.size(); ++p)
            if (names[p] == name) s.nlp.x[p] = value;
    EXPECT_NEAR(s.objective(), 0.222592451063, 1e-8);
}

// S = C: every method gives F = 0 (the saturated model at the sample moments).
TEST(Discrepancy, ZeroWhenTheModelReproducesTheMoments) {
    for (const MethodCase m : {MethodCase{"uls", kMethodUls}, MethodCase{"gls", kMethodGls}, MethodCase{"ml", kMethodMl}}) {
        EvalStep s(std::string("proc velix data=ability method=") + m.name +
                       " covariance;\ncosan C(6, SYM);\n"
                       "matrix C [1, ] = c1, [2, ] = c2 c3, [3, ] = c4-c6, [4, ] = c7-c10, [5, ] = c11-c15,"
                       " [6, ] = c16-c21;\nrun;\n",
                   m.code);
        ASSERT_TRUE(s.ready) << s.log.str();
        for (int32_t e = 0; e < s.ctx.nElements; ++e) {
            const int32_t p = s.ctx.elements.parameter[e];
            s.nlp.x[p - 1] = s.ctx.momentMatrix[velix::pk(s.ctx.elements.row[e], s.ctx.elements.column[e])];
        }
        EXPECT_NEAR(s.objective(), 0.0, 1e-12) << m.name;
    }
}

}  // namespace
}  // namespace velix::testing

namespace velix::testing {
namespace {

// A singular inverse-form matrix: without retries (phase 3) the evaluation
// fails with F missing, never the value of an earlier point; with retries
// (phase 2) the point is perturbed and the caller is told that it moved.
TEST(Discrepancy, SingularMatrixFailsOrMovesThePoint) {
    EvalStep s(cosan_program("ml"), kMethodMl);
    ASSERT_TRUE(s.ready) << s.log.str();
    const auto names = s.parameters();
    const size_t u1 = static_cast<size_t>(std::find(names.begin(), names.end(), "u1") - names.begin());
    ASSERT_LT(u1, names.size());
    ASSERT_FALSE(std::isnan(s.objective()));
    std::vector<double> x = s.x();
    x[u1] = 0.0;
    x[static_cast<size_t>(std::find(names.begin(), names.end(), "u21") - names.begin())] = 0.0;
    s.set_x(x);
    s.nlp.evalPhase = 3.0;
    const size_t mark = messages_now();
    EXPECT_EQ(cosfunc(&s.nlp), -1);
    EXPECT_TRUE(host_is_missing(s.nlp.f));
    EXPECT_EQ(s.ctx.eval.discrepancy, DBL_MAX);
    EXPECT_EQ(s.ctx.eval.failedMatrix, 4);  // U, the fourth matrix
    EXPECT_EQ(messages_since(mark), std::vector<int32_t>{40});

    s.nlp.evalPhase = 2.0;
    EXPECT_EQ(cosfunc(&s.nlp), 0);
    EXPECT_EQ(s.nlp.pointMoved, 1);
    EXPECT_NE(s.nlp.x[u1], 0.0);
    EXPECT_FALSE(host_is_missing(s.nlp.f));
}

}  // namespace
}  // namespace velix::testing
