// Confidence limits of whole programs: the nine-variable model with
// PROFILE over every parameter at 50, 90, 95 and 99 percent.  The profile
// limits are compared with lavaan 0.6.14 (likelihood "wishart", N - 1):
// each parameter fixed and the model refitted, chisq(theta) - chisq_min =
// qchisq(1 - alpha, 1) solved by uniroot (profile_limits_reference.R beside
// this file wrote tests/fixtures/hs_cfa_ml_profile.csv).  The Wald limits
// are est -+ z se from the PARMS and STDERR rows the run wrote itself.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "numerics/distributions.h"
#include "tests/e2e/hs_fixture.h"

using velix::test::cell;
using velix::test::read_rows;
using velix::test::Rows;
using velix::test::RunResult;

namespace {

// Agreement asked of the profile limits (the two programs stop at their
// own tolerances; measured agreement is about 1e-6).
constexpr double kProfileTol = 1e-4;

using Key = std::pair<std::string, double>;  // parameter, alpha

std::map<Key, std::pair<double, double>> reference() {
    const Rows r = read_rows(velix::test::data_path("hs_cfa_ml_profile.csv"));
    std::map<Key, std::pair<double, double>> out;
    for (const auto& c : r.cells) out[{c[0], std::stod(c[1])}] = {std::stod(c[2]), std::stod(c[3])};
    return out;
}

std::string trimmed(const std::string& s) { return s.substr(0, s.find_last_not_of(' ') + 1); }

class ProfileLimits : public velix::test::HsProgram {
protected:
    RunResult run(const std::string& statements) { return HsProgram::run("outest=est", statements); }
    // The value of a row of the given _TYPE_ (and _NAME_ when not empty)
    // in a parameter's column.
    static double outest(const Rows& rows, const std::string& type, const std::string& name, const std::string& param,
                         const std::string& alpha = "") {
        for (const auto& c : rows.cells)
            if (c[0] == type && (name.empty() || c[1] == name) && (alpha.empty() || c[rows.column("_ALPHA_")] == alpha))
                return c[rows.column(param)] == "." ? NAN : std::stod(c[rows.column(param)]);
        ADD_FAILURE() << "no row " << type << " " << name << " " << alpha;
        return NAN;
    }
};

TEST_F(ProfileLimits, AgreeWithTheReferenceAndTheWaldLimitsWithTheStandardErrors) {
    const RunResult r = run("profile / 50 90 95 99 outall;\n");
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const auto ref = reference();
    const Rows rows = read_rows(dir_ + "/est.csv");
    const velix::test::JsonValue& t = r.table(0, "WaldPLLimits");
    ASSERT_EQ(t["rows"].size(), ref.size());
    std::string param;
    double worst = 0.0;
    for (size_t i = 0; i < t["rows"].size(); ++i) {
        if (cell(t, i, "Parameter").is_string() && !trimmed(cell(t, i, "Parameter").str()).empty())
            param = trimmed(cell(t, i, "Parameter").str());
        const double alpha = cell(t, i, "Alpha").number();
        const auto want = ref.at({param, std::round(alpha * 100.0) / 100.0});
        const double low = cell(t, i, "LowerPLI").number(), up = cell(t, i, "UpperPLI").number();
        EXPECT_NEAR(low, want.first, kProfileTol) << param << " " << alpha;
        EXPECT_NEAR(up, want.second, kProfileTol) << param << " " << alpha;
        worst = std::fmax(worst, std::fmax(std::fabs(low - want.first), std::fabs(up - want.second)));
        // Wald: est -+ Phi^-1(1 - alpha/2) se from the written estimates.
        const double est = outest(rows, "PARMS", "", param), se = outest(rows, "STDERR", "", param);
        const double z = zprobit(1.0 - 0.5 * alpha);
        // The estimate stands on the first of a parameter's four rows; the
        // others leave its cell blank.
        if (i % 4 == 0)
            EXPECT_NEAR(cell(t, i, "Estimate").number(), est, 1e-12 * std::fabs(est)) << param;
        else
            EXPECT_TRUE(cell(t, i, "Estimate").is_null()) << param << " " << alpha;
        EXPECT_NEAR(cell(t, i, "LowerWald").number(), est - z * se, 1e-10) << param;
        EXPECT_NEAR(cell(t, i, "UpperWald").number(), est + z * se, 1e-10) << param;
        // The OUTEST= limit rows hold what the table shows.
        const std::string a = alpha == 0.5 ? "0.5" : alpha == 0.1 ? "0.1" : alpha == 0.05 ? "0.05" : "0.01";
        EXPECT_NEAR(outest(rows, "PL_CL", "LOWER", param, a), low, 1e-12) << param << " " << a;
        EXPECT_NEAR(outest(rows, "PL_CL", "UPPER", param, a), up, 1e-12) << param << " " << a;
        EXPECT_NEAR(outest(rows, "WALD_CL", "LOWER", param, a), est - z * se, 1e-10) << param << " " << a;
    }
    RecordProperty("worst_profile_difference", std::to_string(worst));
}

TEST_F(ProfileLimits, OutestHasTheLimitPointsAndTheProfileTrace) {
    const RunResult r = run("profile l2 / 95 outall;\n");
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const Rows rows = read_rows(dir_ + "/est.csv");
    const auto want = reference().at({"l2", 0.05});
    size_t low = 0, up = 0, profile = 0;
    const size_t l2 = rows.column("l2"), l3 = rows.column("l3");
    for (const auto& c : rows.cells) {
        if (c[0] == "PLCL_LOW" || c[0] == "PLCL_UPP") {
            // The point where l2 reaches its limit, labelled by l2, at 0.05.
            EXPECT_EQ(c[1], "l2");
            EXPECT_EQ(c[rows.column("_ALPHA_")], "0.05");
            EXPECT_NEAR(std::stod(c[l2]), c[0] == "PLCL_LOW" ? want.first : want.second, kProfileTol);
            ++(c[0] == "PLCL_LOW" ? low : up);
        } else if (c[0] == "PROFILE" && c[1] == "L(THETA)") {
            // The objective sits in l2's entry only.
            EXPECT_NE(c[l2], ".");
            EXPECT_EQ(c[l3], ".");
            ++profile;
        }
    }
    EXPECT_EQ(low, 1u);
    EXPECT_EQ(up, 1u);
    EXPECT_GE(profile, 3u);  // the estimates and trace points on both sides
    // The first profile row holds the estimates.
    EXPECT_DOUBLE_EQ(outest(rows, "PROFILE", "THETA", "l2"), outest(rows, "PARMS", "", "l2"));
}

// Asserts the profile limits of table row i of `param` against the
// reference, the lower one raised to `lowerBound`.
void expect_reference_row(const velix::test::JsonValue& t, size_t i, const std::string& param,
                          double lowerBound = -HUGE_VAL) {
    const double alpha = cell(t, i, "Alpha").number();
    const auto want = reference().at({param, std::round(alpha * 100.0) / 100.0});
    EXPECT_NEAR(cell(t, i, "LowerPLI").number(), std::fmax(want.first, lowerBound), kProfileTol) << param << " " << alpha;
    EXPECT_NEAR(cell(t, i, "UpperPLI").number(), want.second, kProfileTol) << param << " " << alpha;
}

TEST_F(ProfileLimits, TheAugmentedSystemReachesWhatTheTraceDoesNot) {
    // FEASRATIO=0.05 plans the trace over a twentieth of the Wald reach of
    // the 99% level: the far levels are solved by the augmented system.
    const RunResult r = run("profile l2 ve1 / 50 95 99 feasratio=0.05;\n");
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const velix::test::JsonValue& t = r.table(0, "WaldPLLimits");
    ASSERT_EQ(t["rows"].size(), 6u);
    for (size_t i = 0; i < 6; ++i) expect_reference_row(t, i, i < 3 ? "l2" : "ve1");
}

TEST_F(ProfileLimits, ABoundMetFirstIsTheLimit) {
    // ve1's lower limits at 0.5 and 0.1 lie above 0.3, those at 0.05 and
    // 0.01 below it: the bound takes their place, and clamps the Wald limit.
    const RunResult r = run("bounds 0.3 <= ve1;\nprofile ve1 / 50 90 95 99;\n");
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const velix::test::JsonValue& t = r.table(0, "WaldPLLimits");
    ASSERT_EQ(t["rows"].size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        expect_reference_row(t, i, "ve1", 0.3);
        EXPECT_GE(cell(t, i, "LowerWald").number(), 0.3) << i;
    }
}

}  // namespace
