// Whole programs that estimate: the three reference programs run with
// METHOD=ML to return code 0 inside one "Optimization" group and stop at a
// convergence criterion at the minimum of F of R's lavaan 0.6.14 (the
// *.expected.json files beside the programs in tests/fixtures), print
// the estimates with the reference standard errors, and their fit summary
// agrees with the same package's fit measures, with what R computes from
// them (tests/e2e/fit_indices_reference.R), and with the formulas of the
// other statistics computed here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "harness.h"

namespace velix::test {
namespace {

// The entry `label` of a factoid table (null when there is none).
const JsonValue& entry_value(const JsonValue& factoid, const std::string& label) {
    static const JsonValue none;
    const JsonValue& entries = factoid["entries"];
    for (size_t i = 0; i < entries.size(); ++i)
        if (entries[i]["label"].str() == label) return entries[i]["value"];
    ADD_FAILURE() << "no entry " << label;
    return none;
}

double entry(const JsonValue& factoid, const std::string& label) { return entry_value(factoid, label).number(); }

// The program with the method `method` (when not empty) and convergence
// criteria at the limits of double precision.
std::string tightened_program(std::string program, const std::string& method = "") {
    if (!method.empty()) program.replace(program.find("method=ml"), 9, "method=" + method);
    const size_t end = program.find("covariance;") + std::string("covariance;").size();
    return program.insert(end, "\n   nloptions gconv=1e-14 absgconv=1e-12;");
}

// A reference program and its run.
struct ReferenceRun {
    const char* stem;
    JsonValue expected;
    RunResult run;
};

// The three reference programs, run once for the tests of this file as
// they are (tight = false) or with convergence criteria tightened to the
// limits of double precision (tight = true), so that the statistics that
// are differences of nearly equal numbers (the residuals of RMR) are
// compared with the reference at the accuracy of their formulas rather
// than of the optimizer's default stop.
const std::vector<ReferenceRun>& reference_runs(bool tight = false) {
    auto run_all = [](bool tightened) {
        const struct {
            const char* stem;
            const char* data;
        } cases[] = {{"hs_cfa_ml", "hs.csv"}, {"poldem_ml", "poldem.csv"}, {"ability_ml", "ability.csv"}};
        std::vector<ReferenceRun> out;
        for (const auto& c : cases) {
            std::string program = read_text(data_path(std::string(c.stem) + ".vx"));
            if (tightened) program = tightened_program(program);
            out.push_back({c.stem, JsonValue::parse(read_text(data_path(std::string(c.stem) + ".expected.json"))),
                           run_velix(program, {c.data})});
        }
        return out;
    };
    static const std::vector<ReferenceRun> plain = run_all(false), tightened = run_all(true);
    return tight ? tightened : plain;
}

TEST(Estimation, ReferenceProgramsConvergeToTheReferenceMinimum) {
    for (const ReferenceRun& c : reference_runs()) {
        SCOPED_TRACE(c.stem);
        const double fmin = c.expected["fmin"].number();
        const RunResult& r = c.run;
        ASSERT_EQ(r.exitStatus, 0) << r.log;
        EXPECT_EQ(r.log.find("WARNING"), std::string::npos) << r.log;  // no singular information
        EXPECT_EQ(groups_opened(r, 0, "Optimization"), 1u);
        const JsonValue& status = r.table(0, "ConvergenceStatus");
        EXPECT_EQ(cell(status, 0, "Status").number(), 0.0) << cell(status, 0, "Reason").str();
        const JsonValue* stop = r.items(0, "factoid", "IterStop").at(0);
        EXPECT_NEAR(entry(*stop, "Objective Function"), fmin, 1e-5 * fmin);
    }
}

// Relative agreement of a printed statistic with its reference.
void expect_relative(const JsonValue& fit, const std::string& label, double expected, double tol) {
    const double got = entry(fit, label);
    EXPECT_NEAR(got, expected, tol * std::fmax(std::fabs(expected), 1e-300))
        << label << ": relative error " << std::fabs(got - expected) / std::fabs(expected);
}

TEST(Estimation, FitSummaryAgreesWithTheReferencePackage) {
    // At the default stop F agrees with the reference to about 1e-7 and
    // the residuals of RMR to about 4e-5; at the tightened stop all agree
    // to 1e-6.  The chi-square itself differs from the reference's by
    // about 1e-7, which the far tail of hs_cfa_ml (p near 1e-8) amplifies
    // some thirty times in the two probabilities.
    constexpr double kTol = 1e-6, kTailTol = 1e-5;
    for (const ReferenceRun& c : reference_runs(true)) {
        SCOPED_TRACE(c.stem);
        ASSERT_EQ(c.run.exitStatus, 0) << c.run.log;
        EXPECT_EQ(groups_opened(c.run, 0, "FitSummary"), 1u);
        const std::vector<const JsonValue*> fits = c.run.items(0, "factoid", "Fit");
        ASSERT_EQ(fits.size(), 1u);
        const JsonValue& fit = *fits[0];
        const JsonValue& e = c.expected;
        expect_relative(fit, "Fit Function", e["fmin"].number(), kTol);
        expect_relative(fit, "Chi-Square", e["chisq"].number(), kTol);
        EXPECT_EQ(entry(fit, "Chi-Square DF"), e["df"].number());
        expect_relative(fit, "Pr > Chi-Square", e["pvalue"].number(), kTailTol);
        expect_relative(fit, "Goodness of Fit Index (GFI)", e["gfi"].number(), kTol);
        expect_relative(fit, "GFI Adjusted for Degrees of Freedom (AGFI)", e["agfi"].number(), kTol);
        expect_relative(fit, "Root Mean Square Residual (RMR)", e["rmr"].number(), kTol);
        expect_relative(fit, "RMSEA Estimate", e["rmsea"].number(), kTol);
        // The reference's 0 is a limit without a root: printed as missing.
        // So is the ECVI's, whose ne F (ne below N - 1) is smaller still.
        if (e["rmsea_lo90"].number() == 0.0) {
            EXPECT_TRUE(entry_value(fit, "RMSEA 90% Lower Confidence Limit").is_null());
            EXPECT_TRUE(entry_value(fit, "ECVI 90% Lower Confidence Limit").is_null());
        } else
            expect_relative(fit, "RMSEA 90% Lower Confidence Limit", e["rmsea_lo90"].number(), kTol);
        expect_relative(fit, "RMSEA 90% Upper Confidence Limit", e["rmsea_hi90"].number(), kTol);
        expect_relative(fit, "Probability of Close Fit", e["rmsea_pclose"].number(), kTailTol);
        expect_relative(fit, "Independence Model Chi-Square", e["baseline_chisq"].number(), 1e-9);
        EXPECT_EQ(entry(fit, "Independence Model Chi-Square DF"), e["baseline_df"].number());
        expect_relative(fit, "Bentler's Comparative Fit Index", e["cfi"].number(), kTol);
        expect_relative(fit, "Bentler & Bonett's (1980) Non-normed Index", e["tli"].number(), kTol);
        expect_relative(fit, "Bentler & Bonett's (1980) NFI", e["nfi"].number(), kTol);
    }
}

// GLS and ULS fit summaries of hs_cfa_ml against lavaan 0.6.14
// (tests/e2e/fit_summary_methods.R): the GLS independence model is fitted
// by GLS, its GFI denominator is n; a ULS stage has no chi-square family,
// and its GFI is the trace form 1 - tr((S - C)^2) / tr(S^2).
TEST(Estimation, FitSummaryOfOtherMethods) {
    const std::string program = read_text(data_path("hs_cfa_ml.vx"));
    const RunResult gls = run_velix(tightened_program(program, "gls"), {"hs.csv"});
    ASSERT_EQ(gls.exitStatus, 0) << gls.log;
    const JsonValue& g = *gls.items(0, "factoid", "Fit").at(0);
    constexpr double kTol = 1e-6;
    expect_relative(g, "Chi-Square", 77.4707268390394, kTol);
    expect_relative(g, "Independence Model Chi-Square", 277.991191423229, kTol);
    expect_relative(g, "Bentler's Comparative Fit Index", 0.779038540516452, kTol);
    expect_relative(g, "Bentler & Bonett's (1980) Non-normed Index", 0.668557810774678, kTol);
    expect_relative(g, "Bentler & Bonett's (1980) NFI", 0.721319490583809, kTol);
    expect_relative(g, "RMSEA Estimate", 0.0861770841857362, kTol);
    expect_relative(g, "RMSEA 90% Lower Confidence Limit", 0.0651560764314845, kTol);
    expect_relative(g, "RMSEA 90% Upper Confidence Limit", 0.108003121313441, kTol);
    expect_relative(g, "Goodness of Fit Index (GFI)", 0.942614276415526, kTol);
    expect_relative(g, "GFI Adjusted for Degrees of Freedom (AGFI)", 0.892401768279112, kTol);

    const RunResult uls = run_velix(tightened_program(program, "uls"), {"hs.csv"});
    ASSERT_EQ(uls.exitStatus, 0) << uls.log;
    const JsonValue& u = *uls.items(0, "factoid", "Fit").at(0);
    EXPECT_EQ(u["entries"].size(), 5u);  // F, GFI, AGFI, RMR and PGFI only
    expect_relative(u, "Goodness of Fit Index (GFI)", 0.982520587435913, kTol);
    expect_relative(u, "GFI Adjusted for Degrees of Freedom (AGFI)", 0.967226101442338, kTol);
}

// ULS minimises 0.5 tr((S - C)^2), each off-diagonal moment counted twice.
// With the three error variances of Fvis equal, which no C fits exactly,
// its minimum is lavaan's WLS with the weights 1 for a variance and 2 for a
// covariance, not lavaan's ULS, which counts each moment once and moves l2
// by 13% (peer_conventions.R).
TEST(Estimation, UlsCountsEachCovarianceTwice) {
    const std::map<std::string, double> ref = reference_rows("peer_conventions.csv", "uls");
    std::string program = tightened_program(read_text(data_path("hs_cfa_ml.vx")), "uls");
    program.replace(program.find("E1-E9 = ve1-ve9"), 15, "E1-E3 = ve1 ve1 ve1, E4-E9 = ve4-ve9");
    const RunResult r = run_velix(program, {"hs.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    EXPECT_NEAR(final_f(r), ref.at("f"), 1e-9 * ref.at("f"));
    const std::map<std::string, double> est = column_by_parameter(result_table(r), "Estimate");
    for (const char* p : {"l2", "l3", "l5", "vvis", "ve1", "ve4"})
        EXPECT_NEAR(est.at(p), ref.at(std::string("est:") + p), 1e-6 * ref.at(std::string("est:") + p)) << p;
}

// Two conventions against lavaan's numbers (peer_conventions.R): the DWLS
// fit function is N / (N - 1) times lavaan's, its GFI lavaan's; the GFI and
// AGFI of a path model of observed variables are those of the whole
// covariance matrix, exogenous block included, as lavaan's with fixed.x =
// FALSE (its default, TRUE, leaves that block out).
TEST(Estimation, FitFunctionAndGfiConventionsAgainstLavaan) {
    constexpr double kN = 301.0;
    const std::map<std::string, double> dwls = reference_rows("peer_conventions.csv", "dwls");
    // At the default stopping criteria, as users run them: the two
    // conventions differ by 0.3% (F) and 0.04 (GFI), the stop leaves 1e-6.
    std::string dwlsProgram = read_text(data_path("hs_cfa_ml.vx"));
    dwlsProgram.replace(dwlsProgram.find("method=ml"), 9, "method=dwls");
    const RunResult d = run_velix(dwlsProgram, {"hs.csv"});
    ASSERT_EQ(d.exitStatus, 0) << d.log;
    const std::map<std::string, double> fit = factoid_values(*d.items(0, "factoid", "Fit").at(0));
    EXPECT_NEAR(fit.at("Fit Function"), dwls.at("f") * kN / (kN - 1.0), 1e-6 * dwls.at("f"));
    EXPECT_NEAR(fit.at("Goodness of Fit Index (GFI)"), dwls.at("gfi"), 1e-6);

    const std::map<std::string, double> fixedX = reference_rows("peer_conventions.csv", "fixed_x");
    const RunResult p = run_velix("proc velix data=hs method=ml covariance;\n var x1-x6;\n"
                                  " lineqs x4 = b1 x1 + b2 x2 + E4, x5 = b3 x1 + b4 x3 + E5, x6 = b5 x2 + E6;\n"
                                  " std E4-E6 = v4-v6;\n cov E4 E5 E6 = c1-c3;\nrun;\n",
                                  {"hs.csv"});
    ASSERT_EQ(p.exitStatus, 0) << p.log;
    const std::map<std::string, double> path = factoid_values(*p.items(0, "factoid", "Fit").at(0));
    EXPECT_NEAR(path.at("Goodness of Fit Index (GFI)"), fixedX.at("gfi:false"), 5e-6);
    EXPECT_NEAR(path.at("GFI Adjusted for Degrees of Freedom (AGFI)"), fixedX.at("agfi:false"), 5e-6);
    EXPECT_GT(std::fabs(path.at("Goodness of Fit Index (GFI)") - fixedX.at("gfi:true")), 0.01) << "not fixed.x = TRUE";
}

// GLS weights given by INWGT= measure the model and its independence model
// in their own metric: the weight matrix that the default GLS run writes,
// read back, gives the default run's fit summary.
TEST(Estimation, GlsFitSummaryWithInwgtWeightsOfTheMoments) {
    const std::string w = own_folder("fit_inwgt") + "/w.csv";
    std::remove(w.c_str());
    const std::string program = read_text(data_path("hs_cfa_ml.vx"));
    std::string first = tightened_program(program, "gls"), second = first;
    first.replace(first.find("covariance;"), 11, "covariance outwgt='" + w + "';");
    second.replace(second.find("covariance;"), 11, "covariance inwgt='" + w + "';");
    const RunResult r = run_velix(first + second, {"hs.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const JsonValue& a = *r.items(0, "factoid", "Fit").at(0);
    const JsonValue& b = *r.items(1, "factoid", "Fit").at(0);
    for (const char* label : {"Chi-Square", "Independence Model Chi-Square", "Goodness of Fit Index (GFI)",
                              "GFI Adjusted for Degrees of Freedom (AGFI)", "Bentler's Comparative Fit Index",
                              "Bentler & Bonett's (1980) NFI"})
        expect_relative(b, label, entry(a, label), 1e-6);
}

// PNFI, Hoelter's N, CAIC, McDonald's centrality and ECVI as R computes them
// from lavaan's fits (tests/e2e/fit_indices_reference.R); the others
// against their formulas.
TEST(Estimation, FitSummaryStatisticsFollowTheirFormulas) {
    for (const ReferenceRun& c : reference_runs()) {
        SCOPED_TRACE(c.stem);
        ASSERT_EQ(c.run.exitStatus, 0) << c.run.log;
        const JsonValue& fit = *c.run.items(0, "factoid", "Fit").at(0);
        const std::map<std::string, double> ref = reference_rows("fit_indices_reference.csv", c.stem);
        const double n = c.expected["nobs"].number(), nn = n - 1.0;
        const double f = entry(fit, "Fit Function"), t = entry(fit, "Chi-Square");
        const double df = entry(fit, "Chi-Square DF"), df0 = entry(fit, "Independence Model Chi-Square DF");
        const double t0 = entry(fit, "Independence Model Chi-Square");
        const double tol = 1e-12;
        EXPECT_NEAR(t, nn * f, tol * t);
        EXPECT_NEAR(entry(fit, "Parsimonious GFI (Mulaik, 1989)"),
                    entry(fit, "Goodness of Fit Index (GFI)") * df / df0, tol);
        // At the default stop F agrees with the reference to about 1e-7.
        expect_relative(fit, "ECVI Estimate", ref.at("ecvi"), 1e-6);
        EXPECT_EQ(entry(fit, "Hoelter's (1983) Critical N"), ref.at("hoelter"));
        EXPECT_NEAR(entry(fit, "Akaike's Information Criterion"), t - 2.0 * df, tol * t);
        expect_relative(fit, "Bozdogan's (1987) CAIC", ref.at("caic"), 1e-6);
        EXPECT_NEAR(entry(fit, "Schwarz's Bayesian Criterion"), t - df * std::log(n), tol * t);
        expect_relative(fit, "McDonald's (1989) Centrality", ref.at("centrality"), 1e-6);
        EXPECT_NEAR(entry(fit, "Bollen (1986) Normed Index Rho1"), (t0 / df0 - t / df) / (t0 / df0), tol);
        EXPECT_NEAR(entry(fit, "Bollen (1988) Non-normed Index Delta2"), (t0 - t) / (t0 - df), tol);
        expect_relative(fit, "James, Mulaik, & Brett (1982) Parsimonious NFI", ref.at("pnfi"), 1e-6);
    }
}

// The hs_cfa_ml program with `options` added to its PROC statement and
// `statements` before its end, with the tightened convergence criteria.
RunResult run_hs(const std::string& options, const std::string& statements = "") {
    std::string program = tightened_program(read_text(data_path("hs_cfa_ml.vx")));
    program.replace(program.find("covariance;"), 11, "covariance " + options + ";");
    program.insert(program.find("run;"), statements);
    return run_velix(program, {"hs.csv"});
}

// The fit entries (by label) against their reference values (by key), to
// 1e-6 relative.
struct LabelKey {
    const char* label;
    const char* key;
};
void expect_limits(const JsonValue& fit, const std::map<std::string, double>& ref,
                   std::initializer_list<LabelKey> entries) {
    for (const LabelKey& l : entries) expect_relative(fit, l.label, ref.at(l.key), 1e-6);
}

// ALPHARMS= and ALPHAECV= give the levels of the RMSEA and ECVI intervals,
// each its own: at 0.2 and 0.05 the limits are R's 80% RMSEA and 95% ECVI
// limits (tests/e2e/fit_indices_reference.R) and their labels say so.
TEST(Estimation, IntervalsAtTheLevelsOfAlpharmsAndAlphaecv) {
    const RunResult r = run_hs("alpharms=0.2 alphaecv=0.05");
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const JsonValue& fit = *r.items(0, "factoid", "Fit").at(0);
    expect_limits(fit, reference_rows("fit_indices_reference.csv", "hs_cfa_ml"),
                  {{"RMSEA 80% Lower Confidence Limit", "rmsea_lo80"},
                   {"RMSEA 80% Upper Confidence Limit", "rmsea_hi80"},
                   {"ECVI 95% Lower Confidence Limit", "ecvi_lo95"},
                   {"ECVI 95% Upper Confidence Limit", "ecvi_hi95"}});
}

// NOBS=100000 makes the chi-square 99999 F: about 28,000 (ML) and 26,000
// (GLS) on 24 df.  The RMSEA and ECVI limits sit at noncentralities near
// the chi-square, the probability of close fit far in a tail: all of them
// exist (R's inversion of pchisq(ncp =), tests/e2e/fit_indices_reference.R)
// and none is missing.
TEST(Estimation, IntervalsAndCloseFitAtAHugeChiSquare) {
    for (const std::string method : {"ml", "gls"}) {
        SCOPED_TRACE(method);
        std::string program = tightened_program(read_text(data_path("hs_cfa_ml.vx")), method);
        program.replace(program.find("covariance;"), 11, "covariance nobs=100000;");
        const RunResult r = run_velix(program, {"hs.csv"});
        ASSERT_EQ(r.exitStatus, 0) << r.log;
        const JsonValue& fit = *r.items(0, "factoid", "Fit").at(0);
        const std::map<std::string, double> ref = reference_rows("fit_indices_reference.csv", "hs_n100000_" + method);
        expect_limits(fit, ref,
                      {{"Chi-Square", "chisq"},
                       {"RMSEA 90% Lower Confidence Limit", "rmsea_lo90"},
                       {"RMSEA 90% Upper Confidence Limit", "rmsea_hi90"},
                       {"ECVI 90% Lower Confidence Limit", "ecvi_lo90"},
                       {"ECVI 90% Upper Confidence Limit", "ecvi_hi90"}});
        const JsonValue& close = entry_value(fit, "Probability of Close Fit");
        ASSERT_TRUE(close.is_number()) << "missing";
        EXPECT_EQ(close.number(), ref.at("closefit"));
    }
}

// The loading of x9 held at its upper bound 0.9 gives lavaan's fit of the
// model with that loading fixed: the active bound counts as a degree of
// freedom (df 25, 20 parameters in ECVI) unless NOADJDF counts the loading
// as free (df 24, 21 parameters), in the fit summary and the DF row of the
// stored model alike.
TEST(Estimation, ActiveBoundCountsAsADegreeOfFreedomUnlessNoadjdf) {
    const std::string ram = own_folder("fit_bound") + "/ram.csv";
    for (const char* c : {"hs_bound", "hs_bound_noadjdf"}) {
        SCOPED_TRACE(c);
        std::remove(ram.c_str());
        const bool noadjdf = std::string(c).find("noadjdf") != std::string::npos;
        const RunResult r = run_hs(std::string(noadjdf ? "noadjdf" : "") + " outram='" + ram + "'", "   bounds l9 <= 0.9;\n");
        ASSERT_EQ(r.exitStatus, 0) << r.log;
        const JsonValue& fit = *r.items(0, "factoid", "Fit").at(0);
        const std::map<std::string, double> ref = reference_rows("fit_indices_reference.csv", c);
        EXPECT_EQ(entry(fit, "Chi-Square DF"), ref.at("df"));
        EXPECT_EQ(stat_row(velix::test::read_rows(ram), "DF"), ref.at("df"));
        expect_relative(fit, "Chi-Square", ref.at("chisq"), 1e-6);
        expect_relative(fit, "Pr > Chi-Square", ref.at("pvalue"), 1e-5);
        expect_relative(fit, "RMSEA Estimate", ref.at("rmsea"), 1e-6);
        expect_relative(fit, "ECVI Estimate", ref.at("ecvi"), 1e-6);
    }
}

// The estimates (and standard errors) of every free parameter of the
// equation and exogenous tables of a run, by parameter name.
struct TableEstimates {
    std::map<std::string, double> est, se;
};

TableEstimates table_estimates(const RunResult& r, const char* prefix) {
    TableEstimates out;
    for (const char* suffix : {"ManifestEq", "LatentEq"}) {
        const JsonValue& t = r.table(0, std::string(prefix) + suffix);
        const JsonValue& cols = t["columns"];
        for (size_t row = 0; row < t["rows"].size(); ++row) {
            if (cell(t, row, "Control").str() != "b") continue;
            for (size_t c = 0; c < cols.size(); ++c) {
                const std::string name = cols[c]["name"].str();
                if (name.rfind("Coefficient", 0) != 0) continue;
                const std::string k = name.substr(11);
                if (cell(t, row, "Asterisk" + k).str() != "*") continue;
                const std::string parm = cell(t, row + 1, "Parameter" + k).str();
                out.est[parm] = cell(t, row, name).number();
                if (row + 1 < t["rows"].size() && cell(t, row + 1, "Variable").str() == "Std Err")
                    out.se[parm] = cell(t, row + 1, name).number();
            }
        }
    }
    for (const char* name : {"VarExog", "CovExog"}) {
        const JsonValue& t = r.table(0, std::string(prefix) + name);
        for (size_t row = 0; row < t["rows"].size(); ++row) {
            const std::string parm = cell(t, row, "Parameter").str();
            out.est[parm] = cell(t, row, "Estimate").number();
            if (!cell(t, row, "StdErr").is_null()) out.se[parm] = cell(t, row, "StdErr").number();
        }
    }
    return out;
}

// The value in column `column` of the row of `table` whose Variable is
// `variable` (its first row).
double row_value(const JsonValue& table, const std::string& variable, const std::string& column) {
    for (size_t row = 0; row < table["rows"].size(); ++row)
        if (cell(table, row, "Variable").str() == variable) return cell(table, row, column).number();
    ADD_FAILURE() << "no row " << variable;
    return 0.0;
}

// poldem_ml: the equations and exogenous tables show the reference
// estimates and standard errors; the standardized equations equal the
// estimates rescaled by implied standard deviations computed here from the
// structural equations themselves; R^2 = 1 - error variance / implied
// variance.
TEST(Estimation, EquationResultsOfThePoliticalDemocracyModel) {
    const ReferenceRun& c = reference_runs(true)[1];
    ASSERT_EQ(c.run.exitStatus, 0) << c.run.log;
    const TableEstimates t = table_estimates(c.run, "Est");
    const JsonValue& params = c.expected["params"];
    size_t compared = 0;
    for (const auto& [name, est] : t.est) {
        SCOPED_TRACE(name);
        const double ref = params[name]["est"].number(), refSe = params[name]["se"].number();
        // The reference package stops at its own criterion: its estimates
        // hold about 5 digits.
        EXPECT_NEAR(est, ref, 1e-5 * std::fabs(ref));
        ASSERT_TRUE(t.se.count(name));
        EXPECT_NEAR(t.se.at(name), refSe, 1e-5 * refSe);
        ++compared;
    }
    EXPECT_EQ(compared, params.size());

    // Implied variances: Find60 = xi; Fdem60 = b1 xi + D1;
    // Fdem65 = b2 xi + b3 Fdem60 + D2; each indicator = l F + E.
    auto e = [&](const char* n) { return t.est.at(n); };
    const double vInd = e("vind60");
    const double v60 = e("b1") * e("b1") * vInd + e("vd1");
    const double c60 = e("b1") * vInd;  // cov(Find60, Fdem60)
    const double v65 = e("b2") * e("b2") * vInd + e("b3") * e("b3") * v60 + 2 * e("b2") * e("b3") * c60 + e("vd2");
    const struct {
        const char* y;
        const char* loading;  // empty: fixed at 1
        double factorVar;
        const char* error;
    } indicators[] = {{"y2", "l5", v60, "ve5"}, {"y6", "l9", v65, "ve9"}, {"x2", "l2", vInd, "ve2"},
                      {"y1", "", v60, "ve4"}};
    const JsonValue& stdManifest = c.run.table(0, "StdManifestEq");
    const JsonValue& smc = c.run.table(0, "SqMultCorr");
    for (const auto& i : indicators) {
        SCOPED_TRACE(i.y);
        const double l = *i.loading ? e(i.loading) : 1.0;
        const double vy = l * l * i.factorVar + e(i.error);
        EXPECT_NEAR(row_value(stdManifest, i.y, "Coefficient1"), l * std::sqrt(i.factorVar / vy), 1e-12);
        EXPECT_NEAR(row_value(stdManifest, i.y, "Coefficient2"), std::sqrt(e(i.error) / vy), 1e-12);
        EXPECT_NEAR(row_value(smc, i.y, "TotalVar"), vy, 1e-10 * vy);
        EXPECT_NEAR(row_value(smc, i.y, "RSquare"), 1.0 - e(i.error) / vy, 1e-12);
    }
    const JsonValue& stdLatent = c.run.table(0, "StdLatentEq");
    EXPECT_NEAR(row_value(stdLatent, "Fdem60", "Coefficient1"), e("b1") * std::sqrt(vInd / v60), 1e-12);
    EXPECT_NEAR(row_value(stdLatent, "Fdem65", "Coefficient1"), e("b3") * std::sqrt(v60 / v65), 1e-12);
    EXPECT_NEAR(row_value(stdLatent, "Fdem65", "Coefficient2"), e("b2") * std::sqrt(vInd / v65), 1e-12);
    EXPECT_NEAR(row_value(smc, "Fdem65", "RSquare"), 1.0 - e("vd2") / v65, 1e-12);
    // The exogenous correlations: c24 / sqrt(ve5 ve7).
    const JsonValue& corr = c.run.table(0, "CorrExog");
    EXPECT_NEAR(cell(corr, 0, "Estimate").number(), e("c24") / std::sqrt(e("ve5") * e("ve7")), 1e-12);
}

// ln det of a symmetric positive definite matrix by a Cholesky
// factorization written here.
double log_det(const std::vector<std::vector<double>>& a) {
    const size_t n = a.size();
    std::vector<std::vector<double>> l(n, std::vector<double>(n, 0.0));
    double sum = 0.0;
    for (size_t i = 0; i < n; ++i)
        for (size_t j = 0; j <= i; ++j) {
            double v = a[i][j];
            for (size_t k = 0; k < j; ++k) v -= l[i][k] * l[j][k];
            l[i][j] = i == j ? std::sqrt(v) : v / l[j][j];
            if (i == j) sum += 2.0 * std::log(l[i][i]);
        }
    return sum;
}

// The rows of a data set written by the program: _TYPE_, _NAME_ and the
// numbers.
struct DataRow {
    std::string type, name;
    std::vector<double> values;
};

std::vector<DataRow> read_rows(const std::string& path) {
    std::ifstream in(path);
    std::vector<DataRow> rows;
    std::string line;
    bool header = true;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        if (header) {
            header = false;
            continue;
        }
        std::stringstream fields(line);
        DataRow r;
        std::string f;
        std::getline(fields, r.type, ',');
        std::getline(fields, r.name, ',');
        while (std::getline(fields, f, ',')) r.values.push_back(std::stod(f));
        rows.push_back(r);
    }
    return rows;
}

// OUTSTAT= of poldem_ml: the predicted moments of the manifest variables
// (their variances are the implied variances of the squared multiple
// correlations, found through the equations; their log-determinant is the
// one PredModelDet shows), of the latent variables with the manifest ones,
// and the score coefficients W with Sigma W_j = M_j.
TEST(Estimation, PredictedMomentsAndScoresOnOutstat) {
    const std::string path = own_folder("fit_outstat") + "/os.csv";
    std::remove(path.c_str());
    std::string program = read_text(data_path("poldem_ml.vx"));
    program.replace(program.find("covariance;"), 11, "covariance predet pdeterm outstat='" + path + "';");
    const RunResult r = run_velix(program, {"poldem.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    // The fit summary writes one MAXPRED row per manifest variable; the
    // latent results then add one per latent variable and the SCORE rows.
    std::vector<DataRow> predicted;
    std::map<std::string, std::vector<double>> manifest, latent, score;
    std::vector<std::string> order;
    for (const DataRow& row : read_rows(path)) {
        if (row.type == "SCORE") score[row.name] = row.values;
        if (row.type == "MAXPRED") predicted.push_back(row);
    }
    ASSERT_EQ(predicted.size(), 14u);
    for (size_t i = 0; i < predicted.size(); ++i) {
        (i < 11 ? manifest : latent)[predicted[i].name] = predicted[i].values;
        if (i < 11) order.push_back(predicted[i].name);
    }
    ASSERT_EQ(score.size(), 3u);
    const JsonValue& smc = r.table(0, "SqMultCorr");
    for (size_t i = 0; i < order.size(); ++i)
        EXPECT_NEAR(manifest[order[i]][i], row_value(smc, order[i], "TotalVar"), 1e-10 * manifest[order[i]][i])
            << order[i];
    std::vector<std::vector<double>> sigma, s;
    for (const std::string& v : order) sigma.push_back(manifest[v]);
    const double logDet = log_det(sigma);
    EXPECT_NEAR(cell(r.table(0, "PredModelDet"), 0, "LogDet").number(), logDet, 1e-10 * std::fabs(logDet));
    // The determination of the manifest variables, 1 - |Theta| / |S|, with
    // Theta the covariance of their error terms (y1-y8: E4-E11, x1-x3:
    // E1-E3) from the estimates.
    for (const DataRow& row : read_rows(path))
        if (row.type == "COV") s.push_back(row.values);
    const TableEstimates t = table_estimates(r, "Est");
    std::vector<std::vector<double>> theta(11, std::vector<double>(11, 0.0));
    const int error[] = {4, 5, 6, 7, 8, 9, 10, 11, 1, 2, 3};  // E number of each manifest variable
    for (int i = 0; i < 11; ++i) theta[i][i] = t.est.at("ve" + std::to_string(error[i]));
    const struct {
        int a, b;  // error numbers
        const char* parm;
    } covs[] = {{4, 8, "c15"}, {5, 7, "c24"}, {5, 9, "c26"}, {6, 10, "c37"}, {7, 11, "c48"}, {9, 11, "c68"}};
    for (const auto& c : covs) {
        const int i = c.a - 4, j = c.b - 4;
        theta[i][j] = theta[j][i] = t.est.at(c.parm);
    }
    const double d = 1.0 - std::exp(log_det(theta) - log_det(s));
    const JsonValue& det = r.table(0, "Determination");
    ASSERT_EQ(cell(det, 2, "Label").str(), "Manifest Variables");
    EXPECT_NEAR(cell(det, 2, "Determination").number(), d, 1e-10);
    for (const auto& [name, w] : score) {
        SCOPED_TRACE(name);
        for (size_t a = 0; a < order.size(); ++a) {
            double sw = 0.0;
            for (size_t b = 0; b < order.size(); ++b) sw += manifest[order[a]][b] * w[b];
            EXPECT_NEAR(sw, latent[name][a], 1e-9 * std::fabs(latent[name][a]) + 1e-12);
        }
    }
}

// Estimates and standard errors of the optimizer's result table agree with
// the reference to this relative tolerance when both stop at the minimum
// (the tightened runs).
constexpr double kEstimateTolerance = 1e-5;

// The start and the result table "ParameterEstimates" are printed by
// default; the result table holds every reference parameter with its
// estimate, the reference standard error (the inverse expected information
// scaled by 2/(N-1)) and t = estimate / standard error, whose two-sided
// probability under Student's t with N = 301 degrees of freedom R gives as
// 2 pt(-5.5443574, 301) = 6.456408e-08 for l2 of hs_cfa_ml.
TEST(Estimation, ResultTableShowsTheReferenceStandardErrors) {
    for (const ReferenceRun& c : reference_runs(true)) {
        SCOPED_TRACE(c.stem);
        const RunResult& r = c.run;
        ASSERT_EQ(r.exitStatus, 0) << r.log;
        const auto tables = r.items(0, "table", "ParameterEstimates");
        ASSERT_EQ(tables.size(), 2u) << "a start and a result table";
        const JsonValue& t = *tables[1];
        const JsonValue& params = c.expected["params"];
        size_t matched = 0;
        for (size_t i = 0; i < t["rows"].size(); ++i) {
            const std::string name = cell(t, i, "Parameter").str();
            const JsonValue& ref = params[name];
            if (ref.is_null()) continue;
            ++matched;
            const double est = cell(t, i, "Estimate").number(), se = cell(t, i, "AppStdErr").number();
            const double refEst = ref["est"].number(), refSe = ref["se"].number();
            EXPECT_NEAR(est, refEst, kEstimateTolerance * std::max(1.0, std::fabs(refEst))) << name;
            EXPECT_NEAR(se, refSe, kEstimateTolerance * refSe) << name;
            EXPECT_NEAR(cell(t, i, "tValue").number(), est / se, 1e-9 * std::fabs(est / se)) << name;
            if (c.stem == std::string("hs_cfa_ml") && name == "l2") {
                EXPECT_NEAR(cell(t, i, "Probt").number(), 6.456408e-08, 1e-3 * 6.456408e-08);
            }
        }
        EXPECT_EQ(matched, params.size());
    }
}

// NODIAG fits the covariances alone.  Under ULS the free unique variances
// of the reference model make every diagonal residual 0 at the minimum,
// so the same model with its unique variances fixed at 1 and NODIAG (the
// diagonal outside the fit) has the same minimum, loadings and factor
// covariances; without NODIAG the fixed variances would pull them away.
TEST(Estimation, NodiagFitsTheCovariancesAlone) {
    const std::string program = read_text(data_path("hs_cfa_ml.vx"));
    auto estimates = [](const RunResult& r) {
        std::map<std::string, double> out;
        const JsonValue& t = r.table(0, "Estimates");
        for (size_t i = 0; i < t["rows"].size(); ++i) out[cell(t, i, "Parameter").str()] = cell(t, i, "Estimate").number();
        return out;
    };
    std::string free = tightened_program(program, "uls");
    free.replace(free.find("covariance;"), 11, "covariance pestim;");
    std::string fixed = free;
    fixed.replace(fixed.find("pestim;"), 7, "pestim nodiag;");
    fixed.replace(fixed.find("E1-E9 = ve1-ve9"), 15, "E1-E9 = 1.0 1.0 1.0 1.0 1.0 1.0 1.0 1.0 1.0");
    const RunResult a = run_velix(free, {"hs.csv"}), b = run_velix(fixed, {"hs.csv"});
    ASSERT_EQ(a.exitStatus, 0) << a.log;
    ASSERT_EQ(b.exitStatus, 0) << b.log;
    const auto ea = estimates(a), eb = estimates(b);
    ASSERT_EQ(eb.size(), 12u);
    for (const auto& [name, x] : eb) EXPECT_NEAR(x, ea.at(name), 1e-6 * std::max(1.0, std::fabs(x))) << name;
    EXPECT_NEAR(entry(*b.items(0, "factoid", "Fit").at(0), "Fit Function"),
                entry(*a.items(0, "factoid", "Fit").at(0), "Fit Function"), 1e-10);
}

}  // namespace
}  // namespace velix::test
