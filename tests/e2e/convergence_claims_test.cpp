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
#include <functional>
#include <cstdint>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"
#include "hs_fixture.h"

namespace velix::test {
namespace {

int return_code(const RunResult& r, size_t step = 0) {
    return static_cast<int>(r.json["steps"][step]["returnCode"].number());
}

bool logged(const RunResult& r, const std::string& text) { return r.log.find(text) != std::string::npos; }

// A message of step k holds the text.
bool step_logged(const RunResult& r, size_t step, const std::string& text) {
    const JsonValue& msgs = r.json["steps"][step]["messages"];
    for (size_t i = 0; i < msgs.size(); ++i)
        if (msgs[i]["text"].str().find(text) != std::string::npos) return true;
    return false;
}

bool claims_convergence(const RunResult& r) { return logged(r, "Convergence criterion"); }

// The run ended at a solution by its own account: a clean return code and
// no word of a failed optimization.
bool reached(const RunResult& r, size_t step = 0) {
    return return_code(r, step) == 0 && !step_logged(r, step, "did not converge");
}

// An entry of the last "IterStop" factoid of step k (NaN when none).
double stop_entry(const RunResult& r, const std::string& label, size_t step = 0) {
    const auto stops = r.items(step, "factoid", "IterStop");
    if (stops.empty()) return NAN;
    const JsonValue& entries = (*stops.back())["entries"];
    for (size_t i = 0; i < entries.size(); ++i)
        if (entries[i]["label"].str() == label) return entries[i]["value"].number();
    return NAN;
}

// The objective at the end of the last run of step k (NaN when none).
double final_f(const RunResult& r, size_t step = 0) { return stop_entry(r, "Objective Function", step); }

// The optimizer's result table of step k (null when none).
const JsonValue* results_table(const RunResult& r, size_t step) {
    for (const JsonValue* t : r.items(step, "table", "ParameterEstimates"))
        if ((*t)["title"].str() == "Optimization Results") return t;
    return nullptr;
}

// A standard error shown as a number in the optimizer's result table.
bool shows_standard_errors(const RunResult& r, size_t step = 0) {
    const JsonValue* t = results_table(r, step);
    for (size_t row = 0; t != nullptr && row < (*t)["rows"].size(); ++row)
        if (const JsonValue& se = cell(*t, row, "AppStdErr"); se.is_number() && std::isfinite(se.number())) return true;
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

// The truths every step keeps, whatever its outcome: an ERROR line exactly
// when the code is above 4; a step that did not reach a solution fails
// with a code of 4 or more, says so, and shows no standard error.
void expect_truthful(const RunResult& r, const std::string& what, size_t step = 0) {
    SCOPED_TRACE(what);
    ASSERT_FALSE(r.json.is_null()) << r.log;
    const int rc = return_code(r, step);
    EXPECT_EQ(rc > 4, step_logged(r, step, "ERROR:")) << "return code " << rc << "\n" << r.log;
    EXPECT_FALSE(has_non_finite_word(r.listing)) << "a non-finite number in the listing";
    if (!reached(r, step)) {
        EXPECT_FALSE(shows_standard_errors(r, step)) << r.log;
        EXPECT_GE(rc, 4);
        EXPECT_TRUE(step_logged(r, step, "did not converge") || rc > 4) << r.log;
    }
}

// At the minimum `fmin` with a convergence claim, or a failure said as one.
void expect_minimum_or_failure(const RunResult& r, double fmin, const std::string& what, size_t step = 0) {
    expect_truthful(r, what, step);
    if (reached(r, step)) {
        EXPECT_NEAR(final_f(r, step), fmin, 1e-6 * fmin) << what << ": converged away from the minimum\n" << r.log;
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

// The nine-variable model with every parameter started at v, in the order
// l2 l3 l5 l6 l8 l9, vvis vtxt vspd, cvt cvs cts, ve1 .. ve9.
std::string hs_started(const std::vector<double>& v) {
    std::ostringstream o;
    o.precision(17);
    auto at = [&](const char* name, size_t i) { o << name << " (" << v[i] << ")"; };
    o << "lineqs x1 = 1.0 Fvis + E1, x2 = ", at("l2", 0), o << " Fvis + E2, x3 = ", at("l3", 1);
    o << " Fvis + E3,\n  x4 = 1.0 Ftxt + E4, x5 = ", at("l5", 2), o << " Ftxt + E5, x6 = ", at("l6", 3);
    o << " Ftxt + E6,\n  x7 = 1.0 Fspd + E7, x8 = ", at("l8", 4), o << " Fspd + E8, x9 = ", at("l9", 5);
    o << " Fspd + E9;\nstd Fvis Ftxt Fspd = ", at("vvis", 6), o << " ", at("vtxt", 7), o << " ", at("vspd", 8);
    o << ", E1-E9 =";
    for (size_t i = 0; i < 9; ++i) o << " ", at(("ve" + std::to_string(i + 1)).c_str(), 12 + i);
    o << ";\ncov Fvis Ftxt = ", at("cvt", 9), o << ", Fvis Fspd = ", at("cvs", 10), o << ", Ftxt Fspd = ", at("cts", 11);
    o << ";\n";
    return o.str();
}

// Starts of one kind, the same on every platform (mt19937's sequence is
// fixed by the standard): "far" +-1000 with random signs, "random" uniform
// in (-2, 2), "half" all 0.5.
std::vector<double> hs_starts(const std::string& kind, uint32_t seed) {
    std::mt19937 gen(seed);
    std::vector<double> v(21, 0.5);
    for (double& x : v)
        if (kind == "far")
            x = gen() % 2 == 0 ? 1000.0 : -1000.0;
        else if (kind == "random")
            x = 4.0 * (gen() / 4294967296.0) - 2.0;
    return v;
}

// A PROC step of the nine-variable model.
std::string hs_step(const std::string& options, const std::string& model, const std::string& more = "") {
    return "proc velix data=hs covariance " + options + ";\n" + model + more + "run;\n";
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

// Far, random and all-0.5 starts under every method and technique: each
// step ends at the minimum of its method or fails and says so.
TEST_F(ConvergenceClaims, FromAnyStartEveryClaimIsAMinimum) {
    const char* const techniques[] = {"", "trureg", "newrap", "nrridg", "levmar", "dbldog", "quanew", "congra"};
    for (const char* method : {"uls", "gls", "ml", "wls", "dwls"}) {
        const double fmin = minimum(method);
        for (const char* kind : {"far", "random", "half"}) {
            const std::string model = hs_started(hs_starts(kind, 4));
            std::string program;
            for (const char* t : techniques)
                program += hs_step(std::string("method=") + method + (*t ? " technique=" : "") + t, model);
            const RunResult r = run_program(program);
            for (size_t k = 0; k < std::size(techniques); ++k) {
                const std::string what = std::string(method) + " " + kind + " " + techniques[k];
                expect_minimum_or_failure(r, fmin, what, k);
            }
        }
    }
}

// Stops away from a minimum: plateaus of a far start where ABSGCONV or a
// quasi-Newton GCONV held, an objective that keeps falling as one loading
// grows without end, a first step of 1e-14, a start matrix of 1e300, a
// variable in units of 1e150.  Each ends at the minimum or says it did
// not converge, and every message of the optimizer carries its severity.
TEST_F(ConvergenceClaims, StopsAwayFromAMinimumAreNoSolution) {
    const std::string far = hs_started(hs_starts("far", 4));
    const double gls = minimum("gls"), wls = minimum("wls"), dwls = minimum("dwls"), ml = minimum("ml");
    struct Case {
        std::string what;
        RunResult r;
        double fmin;
    };
    std::vector<Case> runs;
    runs.push_back({"gls far", run_program(hs_step("method=gls", far)), gls});
    runs.push_back({"wls far", run_program(hs_step("method=wls", far) + hs_step("method=wls technique=newrap", far)), wls});
    runs.push_back({"dwls far", run_program(hs_step("method=dwls technique=quanew", far) + hs_step("method=dwls technique=dbldog", far)), dwls});
    runs.push_back({"l2 1e100", run_program(hs_program("ml", "1e100")), ml});
    runs.push_back({"inhessian", run_program(hs_program("ml", "", "nloptions tech=quanew inhessian=1e300;\n")), ml});
    const std::string wheaton =
        "proc velix data=wheaton method=ml covariance;\n"
        "lineqs anomia67 = 1.0 Falien67 + E1, powerless67 = l2 Falien67 + E2, anomia71 = 1.0 Falien71 + E3,\n"
        "  powerless71 = l4 Falien71 + E4, education = 1.0 Fses + E5, sei = l6 Fses + E6,\n"
        "  Falien67 = b1 Fses + D1, Falien71 = b2 Falien67 + b3 Fses + D2;\n"
        "std Fses = vses, E1-E6 = ve1-ve6, D1 D2 = vd1 vd2;\ncov E1 E3 = c13, E2 E4 = c24;\n";
    runs.push_back({"instep", run_velix(wheaton + "nloptions instep=1e-14;\nrun;\n", {"wheaton.csv"}),
                    final_f(run_velix(wheaton + "run;\n", {"wheaton.csv"}))});
    std::ifstream in(dir_ + "/hs.csv");
    std::ofstream out(dir_ + "/hs150.csv");
    std::string line;
    std::getline(in, line);
    out << line << "\n";
    while (std::getline(in, line)) out << std::stod(line.substr(0, line.find(','))) * 1e150 << line.substr(line.find(',')) << "\n";
    out.close();
    runs.push_back({"x1 in 1e150", run_program(hs_program("gls", "", "", "hs150")), gls});
    for (const Case& c : runs)
        for (size_t k = 0; k < c.r.json["steps"].size(); ++k) {
            expect_minimum_or_failure(c.r, c.fmin, c.what + " step " + std::to_string(k), k);
            const JsonValue& msgs = c.r.json["steps"][k]["messages"];
            for (size_t i = 0; i < msgs.size(); ++i)
                if (msgs[i]["group"].number() == 549 && msgs[i]["text"].str().find(' ') != std::string::npos) {
                    EXPECT_NE(msgs[i]["severity"].str(), "") << msgs[i]["text"].str();
                }
        }
}

// The nonlinear constraint holds with room at the minimum (the product is
// about 150): the fit ends at the minimum of the model without it, R's
// lavaan's within 1e-6.
TEST(ConvergenceClaimsNonlinear, AnInactiveRowDoesNotEndTheFitEarly) {
    for (const auto& [stem, row] : {std::pair<std::string, std::string>{"ability_ml", "c_1 = cgv * ve4;\n"},
                                    {"poldem_ml", "c_1 = vd1 * c26;\n"}}) {
        std::string program = read_text(data_path(stem + ".vx"));
        program.insert(program.rfind("run;"), row + "nlincon c_1 >= 0.1;\n");
        const RunResult r = run_velix(program, {stem.substr(0, stem.find('_')) + ".csv"});
        const double fmin = JsonValue::parse(read_text(data_path(stem + ".expected.json")))["fmin"].number();
        EXPECT_TRUE(reached(r)) << r.log;
        expect_minimum_or_failure(r, fmin, stem);
    }
}

// The first iteration of the history whose change meets `met` (1-based;
// 0 when none does).
size_t first_met(const RunResult& r, const std::function<bool(double change, double before)>& met) {
    const JsonValue& h = r.table(0, "IterHist");
    double before = stop_entry(r, "Objective Function");
    for (size_t row = 0; row < h["rows"].size(); ++row) {
        const double f = cell(h, row, "OptCrit").number(), change = cell(h, row, "DifCrit").number();
        if (row == 0) before = f + change;
        if (met(change, before)) return row + 1;
        before = f;
    }
    return 0;
}

// A criterion the user loosens ends the run at the first iteration that
// meets it, with its name in the log and the standard errors of the point.
TEST_F(ConvergenceClaims, CriteriaTheUserGivesAreHonoured) {
    const auto fconv = [](double change, double before) { return change <= 0.01 * before; };
    const auto absfconv = [](double change, double) { return change <= 0.01; };
    for (const auto& [options, name] : {std::pair<std::string, std::string>{"tech=quanew fconv=0.01", "FCONV"},
                                        {"tech=levmar absfconv=0.01", "ABSFCONV"}}) {
        const RunResult r = run_program(hs_program("ml", "", "nloptions phistory " + options + ";\n"));
        EXPECT_TRUE(reached(r) && logged(r, "Convergence criterion " + name + " satisfied")) << r.log;
        const size_t first = first_met(r, name == "FCONV" ? fconv : absfconv);
        EXPECT_EQ(stop_entry(r, "Iterations"), static_cast<double>(first)) << options;
        EXPECT_TRUE(shows_standard_errors(r)) << options;
    }
    EXPECT_EQ(stop_entry(run_program(hs_program("ml", "", "nloptions tech=quanew fconv=0.01;\n")), "Iterations"), 3.0);
    for (const char* technique : {"quanew", "dbldog", "congra"})
        for (const char* criterion : {"ABSFCONV", "ABSXCONV", "XCONV"}) {
            std::string option = criterion;
            for (char& c : option) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            const RunResult r = run_program(hs_program("ml", "", std::string("nloptions tech=") + technique + " " + option + "=0.01;\n"));
            EXPECT_TRUE(reached(r) && logged(r, std::string("Convergence criterion ") + criterion + " satisfied"))
                << technique << " " << criterion << "\n" << r.log;
            EXPECT_TRUE(shows_standard_errors(r)) << technique << " " << criterion;
        }
}

// The limit message names the limits, and the technique stands unpadded.
TEST_F(ConvergenceClaims, TheLimitMessageNamesTheLimits) {
    const RunResult r = run_program(hs_program("ml", "", "nloptions tech=levmar maxiter=2;\n"));
    EXPECT_TRUE(logged(r, "Optimization (1) of technique LEVMAR stopped at its limit of 2 iterations or 500 function calls."))
        << r.log;
    EXPECT_TRUE(logged(r, "technique LEVMAR did not converge.")) << r.log;
}

// Klein's model I (R's sem package, 1921-1941) with its two identities:
// flat and ill-conditioned.  With criteria tighter than the rounding of
// its last scoring steps allows, the run reaches them by exact Newton
// steps instead of creeping for a hundred iterations to a stop.
TEST(ConvergenceClaimsKlein, ATightCriterionOnAFlatModelIsMetByNewtonSteps) {
    const std::string model =
        "var C I Wp X P Plag Klag Xlag A Wg;\n"
        "lineqs C = a1 P + a2 Plag + a3 Wp + a3 Wg + E1, I = b1 P + b2 Plag + b3 Klag + E2,\n"
        "  Wp = c1 X + c2 Xlag + c3 A + E3, X = 1.0 C + 1.0 I + 1.0 FG, P = 1.0 X - 1.0 Wp - 1.0 FT;\n"
        "std Plag Klag Xlag A Wg FG FT = vx__, E1-E3 = ve1-ve3;\n"
        "cov Plag Klag Xlag A Wg FG FT = cx__, E1-E3 = ce__;\n";
    const std::string proc = "proc velix data=klein method=ml covariance;\n";
    const RunResult plain = run_velix(proc + model + "run;\n", {"klein.csv"});
    const RunResult tight = run_velix(proc + model + "nloptions gconv=1e-14 absgconv=1e-10;\nrun;\n", {"klein.csv"});
    ASSERT_TRUE(reached(plain)) << plain.log;
    EXPECT_TRUE(reached(tight) && logged(tight, "Convergence criterion GCONV satisfied")) << tight.log;
    EXPECT_LT(stop_entry(tight, "Iterations"), 100.0);
    EXPECT_NEAR(final_f(tight), final_f(plain), 1e-7 * final_f(plain));
}

}  // namespace
}  // namespace velix::test
