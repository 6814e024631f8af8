// The units of the parameters in the data: dimensional analysis of the
// model matrices (COSAN, FACTOR) or of the paths and variances (LINEQS,
// RAM), against the closed forms from the sample variances s_ii.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>

#include <unistd.h>

#include "start_fixture.h"
#include "tests/support/fixtures.h"

namespace velix::testing {
namespace {

double unit_of(const StartValueStep& s, const std::string& name) {
    const auto names = s.parameters();
    for (size_t p = 0; p < names.size(); ++p)
        if (names[p] == name) return s.nlp.param.unit[p];
    ADD_FAILURE() << "no parameter " << name;
    return 0.0;
}

std::string example(const std::string& stem) {
    return read_file(std::string(VELIX_SOURCE_DIR) + "/examples/" + stem + ".vx");
}

// A marker loading of 1.0 puts its factor in its indicator's units: l2 in
// sd2 / sd1, the factor variance vvis in s11, the covariance cvt in
// sd1 sd4, a unique variance in its variable's variance; alike in the four
// forms of the model.
TEST(ModelUnits, MarkersPutTheFactorsInTheirIndicatorsUnits) {
    for (const std::string& program : {example("hs_cfa_factor"), example("hs_cfa_cosan"), example("hs_cfa_ram"),
                                      fixture_text("hs_cfa_ml.vx")}) {
        StartValueStep s(program);
        ASSERT_TRUE(s.ready) << s.log.str();
        SCOPED_TRACE(program.substr(0, program.find("run;")));
        auto sd = [&](int32_t i) { return std::sqrt(s.sample(i, i)); };
        const struct {
            const char* name;
            double unit;
        } expected[] = {{"l2", sd(1) / sd(0)}, {"l6", sd(5) / sd(3)}, {"vvis", s.sample(0, 0)},
                        {"cvt", sd(0) * sd(3)}, {"cts", sd(3) * sd(6)}, {"ve5", s.sample(4, 4)}};
        for (const auto& e : expected) EXPECT_NEAR(unit_of(s, e.name), e.unit, 1e-12 * e.unit) << e.name;
    }
}

// A factor that nothing scales (no marker, a free variance) gives its
// loadings and variance no unit (0); a fixed variance of 1.0 gives it the
// units of a standard deviation, and the loadings those of the indicators.
TEST(ModelUnits, AFactorThatNothingScalesHasNoUnit) {
    const std::string model =
        "proc velix data=hs method=none covariance;\nvar x1-x3;\n"
        "cosan F(1, GEN) * P(1, SYM) + U(3, DIA);\nmatrix F [ , 1] = l1-l3;\nmatrix U [1, 1] = u1-u3;\n";
    StartValueStep free(model + "matrix P [1, 1] = v;\nrun;\n");
    ASSERT_TRUE(free.ready) << free.log.str();
    for (const char* name : {"l1", "l3", "v"}) EXPECT_EQ(unit_of(free, name), 0.0) << name;
    EXPECT_NEAR(unit_of(free, "u2"), free.sample(1, 1), 1e-12);
    StartValueStep fixed(model + "matrix P [1, 1] = 1.0;\nrun;\n");
    ASSERT_TRUE(fixed.ready) << fixed.log.str();
    EXPECT_NEAR(unit_of(fixed, "l3"), std::sqrt(fixed.sample(2, 2)), 1e-12);
}

// The start of the FACTOR form (composites scaled by their markers) and of
// the COSAN form (default values in the units of their elements) with x1
// times 1e4, and times -1e4 (x1 reversed, as a reverse-keyed item): the
// start with x1 in its own units, each parameter times the power of the
// factor that its unit holds, as the solution changes.
TEST(ModelUnits, StartValuesFollowAChangeOfUnits) {
    for (const double c : {1e4, -1e4}) {
        SCOPED_TRACE(c);
        // hs.csv with x1 times c, in the test's temporary folder, of this process alone.
        const std::string scaled = velix::test::scaled_copy(
            velix::test::fixture_path("hs.csv"), ::testing::TempDir() + "hs_x1_" + std::to_string(getpid()) + ".csv", 0, c);
        const std::map<std::string, double> power = {{"l2", 1 / c}, {"l3", 1 / c}, {"vvis", c * c}, {"cvt", c}, {"cvs", c}, {"ve1", c * c}};
        for (const std::string stem : {"hs_cfa_factor", "hs_cfa_cosan"}) {
            SCOPED_TRACE(stem);
            const std::string program = example(stem);
            StartValueStep own(program), other(std::string(program).replace(program.find("data=hs"), 7, "data='" + scaled + "'"));
            ASSERT_TRUE(own.ready && other.ready) << own.log.str() << other.log.str();
            for (const std::string& name : own.parameters()) {
                const double f = power.count(name) ? power.at(name) : 1.0;
                EXPECT_NEAR(other.start(name), f * own.start(name), 1e-9 * std::fabs(f * own.start(name))) << name;
            }
        }
        std::remove(scaled.c_str());
    }
}

}  // namespace
}  // namespace velix::testing
