// Whole programs whose fits fail or nearly fail: a start far from the
// minimum, values beyond overflow, a variable in other units, a
// quasi-Newton run along a flat valley, a PROFILE with unreachable levels,
// a tolerance out of range and constraints that cannot be met.  Each run
// either ends at the minimum (the minimum of the same model from its
// default start, which does not depend on where the run starts) or says
// that it failed; and every run tells the truth in its return code, log
// and listing: an ERROR line exactly when the code is above 4, no
// non-finite number printed, and no standard errors where no criterion
// was met.
#include <gtest/gtest.h>

#include <cctype>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"
#include "hs_fixture.h"

namespace velix::test {
namespace {

int return_code(const RunResult& r) { return static_cast<int>(r.json["steps"][0]["returnCode"].number()); }

bool logged(const RunResult& r, const std::string& text) { return r.log.find(text) != std::string::npos; }

bool claims_convergence(const RunResult& r) { return logged(r, "Convergence criterion"); }

// The run ended at a solution by its own account: a clean return code and
// no word of a failed optimization.
bool reached(const RunResult& r) { return return_code(r) == 0 && !logged(r, "did not converge"); }

// The objective at the end of the last run of the step (NaN when none).
double final_f(const RunResult& r) {
    const auto stops = r.items(0, "factoid", "IterStop");
    if (stops.empty()) return NAN;
    const JsonValue& entries = (*stops.back())["entries"];
    for (size_t i = 0; i < entries.size(); ++i)
        if (entries[i]["label"].str() == "Objective Function") return entries[i]["value"].number();
    return NAN;
}

// A standard error shown as a number in the optimizer's result tables.
bool shows_standard_errors(const RunResult& r) {
    for (const JsonValue* t : r.items(0, "table", "ParameterEstimates")) {
        if ((*t)["title"].str() != "Optimization Results") continue;
        for (size_t row = 0; row < (*t)["rows"].size(); ++row)
            if (const JsonValue& se = cell(*t, row, "AppStdErr"); se.is_number() && std::isfinite(se.number()))
                return true;
    }
    return false;
}

// Whether the text holds "nan", "inf" or "infinity" as a word, in any case
// (how a non-finite number would print).
bool has_non_finite_word(const std::string& text) {
    auto letter = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
    for (size_t i = 0; i < text.size();) {
        if (!letter(text[i])) {
            ++i;
            continue;
        }
        size_t j = i;
        while (j < text.size() && letter(text[j])) ++j;
        std::string word = text.substr(i, j - i);
        for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (word == "nan" || word == "inf" || word == "infinity") return true;
        i = j;
    }
    return false;
}

// The truths every run keeps, whatever its outcome.
void expect_truthful(const RunResult& r, const std::string& what) {
    SCOPED_TRACE(what);
    ASSERT_FALSE(r.json.is_null()) << r.log;
    const int rc = return_code(r);
    const bool error = r.log.rfind("ERROR:", 0) == 0 || logged(r, "\nERROR:");
    EXPECT_EQ(rc > 4, error) << "return code " << rc << "\n" << r.log;
    EXPECT_FALSE(has_non_finite_word(r.listing)) << "a non-finite number in the listing";
    if (!reached(r)) {
        EXPECT_FALSE(shows_standard_errors(r)) << r.log;
    }
}

// At the minimum `fmin` with a convergence claim, or a failure said as one.
void expect_minimum_or_failure(const RunResult& r, double fmin, const std::string& what) {
    expect_truthful(r, what);
    if (reached(r)) {
        EXPECT_NEAR(final_f(r), fmin, 1e-6 * fmin) << what << ": converged away from the minimum\n" << r.log;
    } else {
        EXPECT_GE(return_code(r), 4) << what;
        EXPECT_TRUE(logged(r, "did not converge") || logged(r, "ERROR:")) << what << "\n" << r.log;
    }
}

// The nine-variable model with METHOD=, the start of l2 (none when empty)
// and further statements.
std::string hs_program(const std::string& method, const std::string& start, const std::string& more = "",
                       const std::string& data = "hs") {
    std::string model = kHsModel;
    if (!start.empty()) model.replace(model.find("l2 Fvis"), 7, "l2 (" + start + ") Fvis");
    return "proc velix data=" + data + " method=" + method + " covariance;\n" + model + more + "run;\n";
}

class ConvergenceClaims : public HsProgram {
protected:
    RunResult run_program(const std::string& program) { return run_velix(program, {}, {"--lib", dir_}); }
    // F at the minimum of the method, from the default start (which must
    // reach it with a convergence claim).
    double minimum(const std::string& method) {
        const RunResult r = run_program(hs_program(method, ""));
        EXPECT_TRUE(claims_convergence(r) && reached(r)) << method << "\n" << r.log;
        return final_f(r);
    }
};

TEST_F(ConvergenceClaims, ObjectiveBeyondOverflowIsNoStartPoint) {
    // l2 = 1e200 leaves inf - inf in the GLS residuals, 1e100 an infinite F.
    for (const char* start : {"1e200", "1e100"}) {
        const RunResult r = run_program(hs_program("gls", start));
        expect_truthful(r, start);
        EXPECT_GT(return_code(r), 4) << start;
        EXPECT_FALSE(claims_convergence(r)) << start << "\n" << r.log;
    }
}

// A sweep of far starts of one loading under every method.
TEST_F(ConvergenceClaims, FarStartsEndAtTheMinimumOrSayTheyDidNot) {
    for (const char* method : {"uls", "gls", "ml", "wls", "dwls"}) {
        const double fmin = minimum(method);
        for (const char* start : {"-1e4", "-10", "1e4"})
            expect_minimum_or_failure(run_program(hs_program(method, start)), fmin,
                                      std::string(method) + " from l2 = " + start);
    }
    expect_minimum_or_failure(run_program(hs_program("gls", "1e10")), minimum("gls"), "gls from l2 = 1e10");
    // The other Newton-type techniques from the same far start.
    const double uls = minimum("uls");
    for (const std::string technique : {"trureg", "newrap", "nrridg"})
        expect_minimum_or_failure(run_program(hs_program("uls technique=" + technique, "1e4")), uls, technique);
}

// x1 in units 10^k times its own: ML's F and standardized solution stay
// (compared at criteria near the limits of double precision).
TEST_F(ConvergenceClaims, MaximumLikelihoodDoesNotDependOnTheUnitsOfAVariable) {
    const std::string tight = "nloptions gconv=1e-12;\n";
    const RunResult plain = run_program(hs_program("ml", "", tight));
    const double fmin = final_f(plain);
    const JsonValue& std0 = plain.table(0, "StdManifestEq");
    std::ifstream in(dir_ + "/hs.csv");
    std::string header, line;
    std::getline(in, header);
    std::vector<std::string> rows;
    while (std::getline(in, line)) rows.push_back(line);
    int solved = 0;
    for (int k = -8; k <= 8; ++k) {
        const std::string name = "hs_units" + std::to_string(k + 8);
        std::ofstream out(dir_ + "/" + name + ".csv");
        out.precision(17);
        out << header << "\n";
        for (const std::string& row : rows) {
            const size_t comma = row.find(',');
            out << std::stod(row.substr(0, comma)) * std::pow(10.0, k) << row.substr(comma) << "\n";
        }
        out.close();
        const RunResult r = run_program(hs_program("ml", "", tight, name));
        const std::string what = "x1 times 1e" + std::to_string(k);
        expect_minimum_or_failure(r, fmin, what);
        if (!reached(r)) continue;
        ++solved;
        EXPECT_NEAR(final_f(r), fmin, 1e-8 * fmin) << what;
        const JsonValue& s = r.table(0, "StdManifestEq");
        for (size_t row = 0; row < std0["rows"].size(); ++row)
            EXPECT_NEAR(cell(s, row, "Coefficient1").number(), cell(std0, row, "Coefficient1").number(), 1e-5)
                << what << " row " << row;
    }
    // The start values follow the units: every scale reaches the fit.
    EXPECT_EQ(solved, 17);
}

// Four factors of 24 tests: the techniques that build their own matrix
// end at TRUREG's minimum or say they did not.
TEST(ConvergenceClaimsFactor, QuasiNewtonTechniquesStopAtTheMinimumOrSayTheyDidNot) {
    auto program = [](const std::string& technique) {
        return "proc velix data=harman74 method=ml technique=" + technique + ";\nfactor n=4;\nrun;\n";
    };
    const RunResult ref = run_velix(program("trureg"), {"harman74.csv"});
    ASSERT_TRUE(claims_convergence(ref)) << ref.log;
    for (const char* technique : {"quanew", "dbldog", "congra"})
        expect_minimum_or_failure(run_velix(program(technique), {"harman74.csv"}), final_f(ref), technique);
}

TEST_F(ConvergenceClaims, OverflowInProgramStatementsGivesNoSignificance) {
    expect_truthful(run_program(hs_program("ml", "", "ve8 = ve7 * 1e300;\n")), "ve8 = ve7 * 1e300");
}

TEST(ConvergenceClaimsProfile, UnreachableLevelsAreNoErrorOfTheStep) {
    std::string program = read_text(data_path("ability_ml.vx"));
    program.insert(program.rfind("run;"), "   profile ve5 / 95 feasratio=1e9;\n");
    const RunResult r = run_velix(program, {"ability.csv"});
    expect_truthful(r, "profile");
    EXPECT_EQ(return_code(r), 0) << r.log;
}

TEST_F(ConvergenceClaims, ToleranceOutOfRangeIsRefusedByName) {
    // A violated bound and a negative LCEPS once widened the tolerance for ever.
    const RunResult r = run_program(
        "proc velix data=hs method=ml covariance maxtime=5;\n"
        "lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3;\nstd F1 = vf, E1-E3 = ve1-ve3;\n"
        "bounds l2 >= 5;\nnloptions lceps=-1 gconv=-2;\nrun;\n");
    expect_truthful(r, "lceps=-1");
    EXPECT_TRUE(logged(r, "LCEPS=-1")) << r.log;
    EXPECT_TRUE(logged(r, "GCONV=-2")) << r.log;
    EXPECT_GT(return_code(r), 4);
}

TEST_F(ConvergenceClaims, EndOutsideTheConstraintsIsNoSolution) {
    // l2 l3 >= 2 and l2 l3 <= 1 cannot both hold.
    const RunResult r =
        run_program(hs_program("ml", "", "c1 = l2 * l3;\nc2 = l2 * l3;\nnlincon c1 >= 2, c2 <= 1;\n"));
    expect_truthful(r, "infeasible");
    EXPECT_GT(return_code(r), 4);
    EXPECT_TRUE(r.table(0, "StdManifestEq").is_null()) << "results printed at an infeasible point";
}

}  // namespace
}  // namespace velix::test
