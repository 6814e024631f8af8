// Runs of compiled programs: values against closed forms, analytic first
// derivatives against central finite differences (relative 1e-7) through
// branches, loops, arrays, SELECT and LINK, missing-value propagation and
// counting, invalid operations and execution faults.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/compiler/program.h"
#include "tests/platform/compiler/harness.h"
#include "velix/host.h"

namespace velix::compiler {
namespace {

using testing::Harness;

TEST(Interpreter, ArithmeticValuesAndDerivatives) {
    Harness h("y1 = a*b + a/b - a**2 + 3;\n"
              "y2 = (a - b)**3 / (1 + b*b);\n"
              "y3 = -a**2 + b**a;\n",
              {"a", "b"}, {"y1", "y2", "y3"});
    ASSERT_TRUE(h.ok) << h.errors[0].message;
    for (auto [a, b] : {std::pair{1.3, 0.7}, {-2.0, 1.5}, {0.25, 3.0}}) {
        ASSERT_EQ(h.run({a, b}), kCmpRunEnd);
        EXPECT_NEAR(h.out[0], a * b + a / b - a * a + 3, 1e-12);
        EXPECT_NEAR(h.out[1], std::pow(a - b, 3) / (1 + b * b), 1e-12);
        EXPECT_NEAR(h.out[2], -a * a + std::pow(b, a), 1e-12);
        h.check_derivatives({a, b});
    }
}

TEST(Interpreter, DerivativesFollowTheBranchTaken) {
    Harness h("if a > b then y = a*a*b;\n"
              "else if a > 0 then y = b*sin(a);\n"
              "else do; t = exp(a); y = t*b + t; end;\n",
              {"a", "b"}, {"y"});
    ASSERT_TRUE(h.ok);
    h.check_derivatives({2.0, 1.0});   // first branch
    EXPECT_NEAR(h.jacobian()[0][0], 2 * 2.0 * 1.0, 1e-12);
    h.check_derivatives({0.5, 1.0});   // second
    EXPECT_NEAR(h.jacobian()[0][1], std::sin(0.5), 1e-12);
    h.check_derivatives({-0.5, 1.0});  // third
}

TEST(Interpreter, IterativeDoLoopsAccumulateExactDerivatives) {
    // y = sum_{i=1..5} a^i / i and its derivative sum a^(i-1).
    Harness h("y = 0;\n"
              "do i = 1 to 5;\n"
              "  y = y + a**i / i;\n"
              "end;\n"
              "z = 0;\n"
              "do k = 10 to 1 by -3 while (z < 1000); z = z + k*b; end;\n",
              {"a", "b"}, {"y", "z", "i", "k"});
    ASSERT_TRUE(h.ok);
    h.check_derivatives({0.7, 2.0});
    double dy = 0;
    for (int i = 1; i <= 5; ++i) dy += std::pow(0.7, i - 1);
    EXPECT_NEAR(h.jacobian()[0][0], dy, 1e-12);
    EXPECT_EQ(h.out[2], 6.0);             // the index after the loop
    EXPECT_NEAR(h.out[1], (10 + 7 + 4 + 1) * 2.0, 1e-12);
    EXPECT_EQ(h.out[3], -2.0);
}

TEST(Interpreter, WhileAndUntilLoops) {
    // Doubling until past 100: the count is piecewise constant, the value
    // a * 2^n is differentiable in a for fixed n.
    Harness h("s = a; n = 0;\n"
              "do while (s < 100); s = s * 2; n = n + 1; end;\n"
              "u = 0;\n"
              "do until (u >= 3); u = u + 1; end;\n"
              "v = b;\n"
              "do j = 1 to 100 until (v > 50); v = v * b; end;\n",
              {"a", "b"}, {"s", "n", "u", "j", "v"});
    ASSERT_TRUE(h.ok);
    h.check_derivatives({3.0, 1.7});
    EXPECT_EQ(h.out[0], 3.0 * 64);
    EXPECT_EQ(h.out[1], 6.0);
    EXPECT_EQ(h.out[2], 3.0);
    // UNTIL is tested after the body and stops before the increment.
    double v = 1.7;
    int j = 1;
    for (;; ++j) {
        v *= 1.7;
        if (v > 50) break;
    }
    EXPECT_EQ(h.out[3], j);
    EXPECT_NEAR(h.out[4], v, 1e-10);
    EXPECT_NEAR(h.jacobian()[0][0], 64.0, 1e-12);
}

TEST(Interpreter, ArraysWithSubscriptsAndInitialValues) {
    Harness h("array p{3} a b c;\n"
              "array w[3] (1, 2, 3);\n"
              "array q(2);\n"
              "y = 0;\n"
              "do i = 1 to 3; y = y + w{i} * p{i}**2; end;\n"
              "q{1} = a*b; q[2] = q(1) * c;\n"
              "z = q2 + p{2};\n",
              {"a", "b", "c"}, {"y", "z"});
    ASSERT_TRUE(h.ok) << h.errors[0].message;
    h.check_derivatives({0.5, -1.5, 2.0});
    EXPECT_NEAR(h.out[0], 0.25 + 2 * 2.25 + 3 * 4.0, 1e-12);
    EXPECT_NEAR(h.out[1], 0.5 * -1.5 * 2.0 - 1.5, 1e-12);
}

TEST(Interpreter, SelectGroups) {
    Harness h("select (k);\n"
              "  when (1) y = a;\n"
              "  when (2, 3) y = a*a;\n"
              "  otherwise y = -a**3;\n"
              "end;\n"
              "select;\n"
              "  when (a < 0) z = 1;\n"
              "  when (a >= 0) z = 2;\n"
              "end;\n",
              {"a", "k"}, {"y", "z"});
    ASSERT_TRUE(h.ok);
    const double a = 1.5;
    for (double k : {1.0, 2.0, 3.0, 7.0}) {
        h.check_derivatives({a, k});
        double y = k == 1 ? a : (k <= 3 ? a * a : -a * a * a);
        EXPECT_NEAR(h.out[0], y, 1e-12) << "k = " << k;
        EXPECT_EQ(h.out[1], 2.0);
    }
}

TEST(Interpreter, GotoLinkAndReturn) {
    Harness h("link square;\n"
              "y = t + 1;\n"
              "if y > 10 then goto big;\n"
              "z = y;\n"
              "return;\n"
              "big: z = 2 * y;\n"
              "return;\n"
              "square: t = a * a;\n"
              "return;\n",
              {"a"}, {"y", "z"});
    ASSERT_TRUE(h.ok);
    h.check_derivatives({2.0});
    EXPECT_EQ(h.out[1], 5.0);
    h.check_derivatives({4.0});
    EXPECT_EQ(h.out[1], 34.0);
    EXPECT_NEAR(h.jacobian()[1][0], 16.0, 1e-12);
}

TEST(Interpreter, ComparisonsLogicAndIn) {
    Harness h("c1 = (a < b) + 2*(a le b) + 4*(a = b) + 8*(a ^= b) + 16*(a ge b) + 32*(a > b);\n"
              "c2 = (a > 0 and b > 0) + 2*(a > 0 or b > 0) + 4*(not a);\n"
              "c3 = a in (1, 2, 3);\n"
              "c4 = -2**2 + 2**3**2;\n"
              "c5 = 1 + 2*3 - 8/4/2;\n",
              {"a", "b"}, {"c1", "c2", "c3", "c4", "c5"});
    ASSERT_TRUE(h.ok);
    h.run({2.0, 3.0});
    EXPECT_EQ(h.out[0], 1 + 2 + 8);
    EXPECT_EQ(h.out[1], 1 + 2);
    EXPECT_EQ(h.out[2], 1.0);
    EXPECT_EQ(h.out[3], -4.0 + 512.0);
    EXPECT_EQ(h.out[4], 6.0);
    h.run({0.0, -1.0});
    EXPECT_EQ(h.out[0], 16 + 32 + 8);
    EXPECT_EQ(h.out[1], 4.0);
    EXPECT_EQ(h.out[2], 0.0);
}

TEST(Interpreter, MissingValuesPropagateAndAreCounted) {
    Harness h("y = a + 1;\n"
              "z = y * 2;\n"
              "s = sum(a, b, .);\n"
              "m = max(., b);\n"
              "low = (a < -1e300);\n"
              "e = . ;\n"
              "t = exp(e);\n",
              {"a", "b"}, {"y", "z", "s", "m", "low", "t"});
    ASSERT_TRUE(h.ok);
    double missing = host_missing_value();
    ASSERT_EQ(h.run({missing, 2.0}), kCmpRunEnd);
    EXPECT_TRUE(host_is_missing(h.out[0]));
    EXPECT_TRUE(host_is_missing(h.out[1]));
    EXPECT_EQ(h.out[2], 2.0);   // SUM skips missing arguments
    EXPECT_EQ(h.out[3], 2.0);
    EXPECT_EQ(h.out[4], 1.0);   // missing is below every number
    EXPECT_TRUE(host_is_missing(h.out[5]));
    EXPECT_EQ(h.program.missing_total(), 3);  // a + 1, y * 2, exp(.)
    EXPECT_EQ(h.program.error_total(), 0);
    // Counted at the places of the operators.
    int places = 0;
    for (size_t k = 0; k < h.program.missing_counts().size(); ++k) {
        if (h.program.missing_counts()[k] == 0) continue;
        ++places;
        Place p = h.program.places()[k];
        EXPECT_TRUE((p.line == 1 && p.column == 7) || (p.line == 2 && p.column == 7) ||
                    (p.line == 7 && p.column == 5))
            << p.line << ":" << p.column;
    }
    EXPECT_EQ(places, 3);
    // Derivatives of missing values are missing.
    std::vector<std::vector<double>> j = h.jacobian();
    EXPECT_TRUE(host_is_missing(j[0][0]));
    EXPECT_EQ(j[2][1], 1.0);
    // A later run without missing inputs counts nothing.
    h.run({1.0, 2.0});
    EXPECT_EQ(h.program.missing_total(), 1);  // only exp(.)
}

TEST(Interpreter, InvalidOperationsGiveMissingAndCountAsErrors) {
    Harness h("y = log(a);\n"
              "z = 1 / b;\n"
              "w = (-8) ** 0.5;\n"
              "v = exp(1000);\n",
              {"a", "b"}, {"y", "z", "w", "v"});
    ASSERT_TRUE(h.ok);
    h.run({-1.0, 0.0});
    for (double v : h.out) EXPECT_TRUE(host_is_missing(v));
    EXPECT_EQ(h.program.error_total(), 4);
    EXPECT_EQ(h.program.missing_total(), 0);
    h.run({1.0, 4.0});
    EXPECT_EQ(h.out[0], 0.0);
    EXPECT_EQ(h.out[1], 0.25);
    EXPECT_EQ(h.program.error_total(), 2);
}

TEST(Interpreter, StopAbortAndFaults) {
    Harness stop("y = 1; if a > 0 then stop; y = 2;", {"a"}, {"y"});
    ASSERT_TRUE(stop.ok);
    EXPECT_EQ(stop.run({1.0}), kCmpRunStop);
    EXPECT_EQ(stop.out[0], 1.0);
    EXPECT_EQ(stop.run({-1.0}), kCmpRunEnd);
    EXPECT_EQ(stop.out[0], 2.0);

    Harness abort("if a > 0 then\n abort;", {"a"}, {"y"});
    ASSERT_TRUE(abort.ok);
    EXPECT_EQ(abort.run({1.0}), kCmpRunAbort);
    EXPECT_EQ(abort.program.end_place().line, 2);

    Harness sub("array v{2} p q;\ny = v{a};", {"a"}, {"y"});
    ASSERT_TRUE(sub.ok);
    EXPECT_EQ(sub.run({3.0}), kCmpRunFault);
    EXPECT_EQ(sub.program.fault(), kFaultSubscript);
    EXPECT_EQ(sub.program.fault_place().line, 2);
    EXPECT_EQ(sub.run({host_missing_value()}), kCmpRunFault);

    Harness when("select (a); when (1) y = 1; end;", {"a"}, {"y"});
    ASSERT_TRUE(when.ok);
    EXPECT_EQ(when.run({1.0}), kCmpRunEnd);
    EXPECT_EQ(when.run({2.0}), kCmpRunFault);
    EXPECT_EQ(when.program.fault(), kFaultNoWhen);

    Harness loop("do i = 1 to a by 0; end;", {"a"}, {"i"});
    ASSERT_TRUE(loop.ok);
    EXPECT_EQ(loop.run({3.0}), kCmpRunFault);
    EXPECT_EQ(loop.program.fault(), kFaultDoControl);

    Harness link("again: link again;", {"a"}, {"y"});
    ASSERT_TRUE(link.ok);
    EXPECT_EQ(link.run({1.0}), kCmpRunFault);
    EXPECT_EQ(link.program.fault(), kFaultLinkDepth);
}

TEST(Interpreter, OwnVariablesStartMissingAtEveryRun) {
    // t is not bound: it is missing until assigned in each run.
    Harness h("if a > 0 then t = a; y = t;", {"a"}, {"y"});
    ASSERT_TRUE(h.ok);
    h.run({2.0});
    EXPECT_EQ(h.out[0], 2.0);
    h.run({-2.0});
    EXPECT_TRUE(host_is_missing(h.out[0]));
}

}  // namespace
}  // namespace velix::compiler
