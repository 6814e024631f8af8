// The results of the RAM and COSAN forms of the reference confirmatory
// factor model (examples/hs_cfa_ram.vx, examples/hs_cfa_cosan.vx) against
// its LINEQS form (tests/fixtures/hs_cfa_ml.vx) run the same way, and
// against the reference estimates and standard errors of R's lavaan 0.6.14
// (tests/fixtures/hs_cfa_ml.expected.json).  The three forms have one
// minimum, so their estimates agree to the optimizer's stop; at the
// tightened stop they agree with the reference to about 3e-6.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "harness.h"

namespace velix::test {
namespace {

// The program estimated by ML to the limits of double precision, with the
// parameter-vector tables, the latent moments and the determination.
std::string estimated(std::string program) {
    for (const char* method : {"method=none", "method=ml"})
        if (const size_t at = program.find(method); at != std::string::npos)
            program.replace(at, std::string(method).size(), "method=ml pestim platcov pdeterm");
    const size_t end = program.find("covariance;") + std::string("covariance;").size();
    return program.insert(end, "\n   nloptions gconv=1e-14 absgconv=1e-12;");
}

std::string example(const std::string& stem) {
    return read_text(std::string(VELIX_SOURCE_DIR) + "/examples/" + stem + ".vx");
}

struct Runs {
    RunResult lineqs, ram, cosan;
    JsonValue expected = JsonValue::parse(read_text(data_path("hs_cfa_ml.expected.json")));
};

const Runs& runs() {
    static const Runs r = [] {
        Runs out;
        out.lineqs = run_velix(estimated(read_text(data_path("hs_cfa_ml.vx"))), {"hs.csv"});
        out.ram = run_velix(estimated(example("hs_cfa_ram")), {"hs.csv"});
        out.cosan = run_velix(estimated(example("hs_cfa_cosan")), {"hs.csv"});
        return out;
    }();
    return r;
}

// A parameter-vector table by parameter name.
std::map<std::string, double> by_parameter(const RunResult& r, const std::string& table) {
    std::map<std::string, double> out;
    const JsonValue& t = r.table(0, table);
    for (size_t i = 0; i < t["rows"].size(); ++i) out[cell(t, i, "Parameter").str()] = cell(t, i, "Estimate").number();
    return out;
}

// The row of `table` whose column `key` holds `value`; rows().size() when none.
size_t row_where(const JsonValue& table, const std::string& key, const std::string& value) {
    for (size_t i = 0; i < table["rows"].size(); ++i)
        if (cell(table, i, key).str() == value) return i;
    ADD_FAILURE() << "no row with " << key << " = " << value;
    return 0;
}

// The same model estimated as RAM: every element of the list carries the
// LINEQS estimate and standard error (and so the reference's) with t =
// estimate / standard error; fixed paths show the marker and no inference.
TEST(ModelKindResults, RamListEqualsTheLineqsEstimates) {
    const Runs& r = runs();
    ASSERT_EQ(r.lineqs.exitStatus, 0) << r.lineqs.log;
    ASSERT_EQ(r.ram.exitStatus, 0) << r.ram.log;
    // The readers echo the list as read.
    EXPECT_EQ(r.ram.table(0, "InitRAMEstimates")["rows"].size(), 24u);
    const auto est = by_parameter(r.lineqs, "Estimates"), se = by_parameter(r.lineqs, "StdErrs");
    const JsonValue& list = r.ram.table(0, "RAMEstimates");
    const JsonValue& params = r.expected["params"];
    size_t free = 0, fixed = 0;
    for (size_t i = 0; i < list["rows"].size(); ++i) {
        const std::string p = cell(list, i, "Parameter").str();
        if (p == ".       ") {  // the fixed-element marker
            EXPECT_EQ(cell(list, i, "Estimate").number(), 1.0);
            EXPECT_TRUE(cell(list, i, "StdErr").is_null());
            EXPECT_TRUE(cell(list, i, "tValue").is_null());
            ++fixed;
            continue;
        }
        SCOPED_TRACE(p);
        ++free;
        const double x = cell(list, i, "Estimate").number(), s = cell(list, i, "StdErr").number();
        EXPECT_NEAR(x, est.at(p), 1e-6 * std::fabs(est.at(p)));
        EXPECT_NEAR(s, se.at(p), 1e-5 * se.at(p));
        EXPECT_NEAR(cell(list, i, "tValue").number(), x / s, 1e-12 * std::fabs(x / s));
        EXPECT_NEAR(x, params[p]["est"].number(), 1e-5 * std::fabs(params[p]["est"].number()));
        EXPECT_NEAR(s, params[p]["se"].number(), 1e-5 * params[p]["se"].number());
    }
    EXPECT_EQ(free, 21u);
    EXPECT_EQ(fixed, 3u);
    // Matrix 1 rows are named by the variables, matrix 2 by the residuals.
    EXPECT_EQ(cell(list, 0, "RowName").str(), "x1");
    EXPECT_EQ(cell(list, 0, "ColName").str(), "Fvis");
    EXPECT_EQ(cell(list, row_where(list, "Parameter", "cvt"), "RowName").str(), "Dtxt");
}

// The standardized paths, squared multiple correlations and factor
// correlations of the RAM form are those of the LINEQS form, and follow
// their definitions from the estimates: l sqrt(v_F) / sqrt(v_x) with
// v_x = l^2 v_F + v_E, and c / sqrt(v_F1 v_F2).
TEST(ModelKindResults, RamStandardizedSolutionEqualsTheLineqsOne) {
    const Runs& r = runs();
    ASSERT_EQ(r.ram.exitStatus, 0) << r.ram.log;
    const auto est = by_parameter(r.ram, "Estimates");
    const JsonValue& stdRam = r.ram.table(0, "RAMStdEstimates");
    const JsonValue& stdLineqs = r.lineqs.table(0, "StdManifestEq");
    const JsonValue& smcRam = r.ram.table(0, "SqMultCorr");
    const JsonValue& smcLineqs = r.lineqs.table(0, "SqMultCorr");
    ASSERT_EQ(stdRam["rows"].size(), 9u);
    ASSERT_EQ(smcRam["rows"].size(), 9u);
    const char* factorVar[] = {"vvis", "vtxt", "vspd"};
    for (size_t i = 0; i < 9; ++i) {
        const std::string x = "x" + std::to_string(i + 1);
        SCOPED_TRACE(x);
        const size_t row = row_where(stdRam, "RowName", x);
        const std::string p = cell(stdRam, row, "Parameter").str();
        const double l = p == ".       " ? 1.0 : est.at(p), vf = est.at(factorVar[i / 3]);
        const double vx = l * l * vf + est.at("ve" + std::to_string(i + 1));
        const double got = cell(stdRam, row, "Estimate").number();
        EXPECT_NEAR(got, l * std::sqrt(vf / vx), 1e-12);
        EXPECT_NEAR(got, cell(stdLineqs, row_where(stdLineqs, "Variable", x), "Coefficient1").number(), 1e-6);
        const size_t a = row_where(smcRam, "Variable", x), b = row_where(smcLineqs, "Variable", x);
        EXPECT_NEAR(cell(smcRam, a, "TotalVar").number(), vx, 1e-10 * vx);
        EXPECT_NEAR(cell(smcRam, a, "RSquare").number(), cell(smcLineqs, b, "RSquare").number(), 1e-6);
    }
    const JsonValue& corr = r.ram.table(0, "RAMCorrExog");
    const JsonValue& corrLineqs = r.lineqs.table(0, "CorrExog");
    ASSERT_EQ(corr["rows"].size(), 3u);
    const struct {
        const char *c, *v1, *v2;
    } pairs[] = {{"cvt", "vvis", "vtxt"}, {"cvs", "vvis", "vspd"}, {"cts", "vtxt", "vspd"}};
    for (const auto& p : pairs) {
        const double got = cell(corr, row_where(corr, "Parameter", p.c), "Estimate").number();
        EXPECT_NEAR(got, est.at(p.c) / std::sqrt(est.at(p.v1) * est.at(p.v2)), 1e-12) << p.c;
        EXPECT_NEAR(got, cell(corrLineqs, row_where(corrLineqs, "Parameter", p.c), "Estimate").number(), 1e-6);
    }
}

// The chain x1 -> x2 -> x3 -> x4, whose causes x2 and x3 are endogenous:
// a path scales by the implied standard deviation of its cause, not by
// that of the cause's error.  Each equation is saturated, so each
// standardized path is the sample correlation of its pair; the numbers are
// lavaan 0.6.14's std.all (standardized_chain_reference.R).
TEST(ModelKindResults, RamStandardizedPathsOfEndogenousCausesAsLavaan) {
    const RunResult r = run_velix("proc velix data=hs method=ml covariance;\n var x1-x4;\n"
                                  " ram 1 2 1 b21, 1 3 2 b32, 1 4 3 b43, 2 1 1 v1, 2 2 2 ve2, 2 3 3 ve3, 2 4 4 ve4;\n"
                                  "run;\n",
                                  {"hs.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const JsonValue& t = r.table(0, "RAMStdEstimates");
    ASSERT_EQ(t["rows"].size(), 3u);
    const std::pair<const char*, double> lavaan[] = {{"b21", 0.2973455055}, {"b32", 0.3398489810}, {"b43", 0.1586395790}};
    for (const auto& [name, want] : lavaan)
        EXPECT_NEAR(cell(t, row_where(t, "Parameter", name), "Estimate").number(), want, 1e-6) << name;
}

// The statistics of the latent variables (their predicted moments, score
// coefficients and the coefficients of determination) do not depend on the
// form the model is written in.
TEST(ModelKindResults, RamLatentStatisticsEqualTheLineqsOnes) {
    const Runs& r = runs();
    ASSERT_EQ(r.ram.exitStatus, 0) << r.ram.log;
    for (const char* name : {"PredMomentLatent", "PredMomentManLat", "LatentScoreCoef"}) {
        SCOPED_TRACE(name);
        const auto ram = r.ram.items(0, "matrix", name), lineqs = r.lineqs.items(0, "matrix", name);
        ASSERT_EQ(ram.size(), 1u);
        ASSERT_EQ(lineqs.size(), 1u);
        const JsonValue &a = (*ram[0])["values"], &b = (*lineqs[0])["values"];
        ASSERT_EQ(a.size(), b.size());
        for (size_t i = 0; i < a.size(); ++i)
            for (size_t j = 0; j < a[i].size(); ++j)
                EXPECT_NEAR(a[i][j].number(), b[i][j].number(), 1e-6 * (std::fabs(b[i][j].number()) + 1e-3));
    }
    const JsonValue &a = r.ram.table(0, "Determination"), &b = r.lineqs.table(0, "Determination");
    ASSERT_EQ(a["rows"].size(), 2u);  // all equations and the manifest variables
    for (size_t i = 0; i < 2; ++i)
        EXPECT_NEAR(cell(a, i, "Determination").number(), cell(b, i, "Determination").number(), 1e-8);
}

// A structural path F1 -> F2 and an indicator of F2 that also receives a
// path from F1: the structural equations are those of F2 and of every
// variable that F2 reaches (x4-x6), in the RAM form as in the LINEQS one
// (where _BETA_ joins them).  In the RAM form F2 is variable 7 and F1
// variable 8, so that the path of x4 from F1 comes after the one from F2.
TEST(ModelKindResults, RamStructuralEquationsEqualTheLineqsOnes) {
    const RunResult want = run_velix(
        estimated("proc velix data=hs method=ml covariance;\n var x1-x6;\n"
                  " lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3,\n"
                  "        x4 = 1.0 F2 + c F1 + E4, x5 = l5 F2 + E5, x6 = l6 F2 + E6, F2 = b F1 + D2;\n"
                  " std F1 = v1, D2 = vd2, E1-E6 = ve1-ve6;\nrun;\n"),
        {"hs.csv"});
    ASSERT_EQ(want.exitStatus, 0) << want.log;
    const RunResult ram = run_velix(
        estimated("proc velix data=hs method=ml covariance;\n var x1-x6;\n"
                  " ram 1 1 8 1.0, 1 2 8 l2, 1 3 8 l3, 1 4 7 1.0, 1 4 8 c, 1 5 7 l5, 1 6 7 l6, 1 7 8 b,\n"
                  "     2 8 8 v1, 2 7 7 vd2, 2 1 1 ve1, 2 2 2 ve2, 2 3 3 ve3, 2 4 4 ve4, 2 5 5 ve5, 2 6 6 ve6;\n"
                  " varnames 1 = F2 F1, 2 = E1-E6 D2 D1;\nrun;\n"),
        {"hs.csv"});
    ASSERT_EQ(ram.exitStatus, 0) << ram.log;
    const JsonValue &names = want.table(0, "StructEq"), &got = ram.table(0, "StructEq");
    ASSERT_EQ(names["columns"].size(), 4u) << "x4-x6 and F2";
    ASSERT_EQ(got["columns"].size(), names["columns"].size());
    for (size_t k = 0; k < names["columns"].size(); ++k)
        EXPECT_EQ(got["columns"][k]["name"].str(), names["columns"][k]["name"].str()) << k;
    const JsonValue &a = ram.table(0, "Determination"), &b = want.table(0, "Determination");
    ASSERT_EQ(a["rows"].size(), 3u);  // all equations, the structural ones, the manifest variables
    for (size_t i = 0; i < 3; ++i)
        EXPECT_NEAR(cell(a, i, "Determination").number(), cell(b, i, "Determination").number(), 1e-8) << i;
}

// The COSAN form: the readers echo each matrix once ("InitParms"); after
// the estimation each matrix is one "EstParms" table whose pieces hold the
// estimates, standard errors, t values and parameter names in place.
TEST(ModelKindResults, CosanMatricesShowEstimatesWithTheirInference) {
    const Runs& r = runs();
    ASSERT_EQ(r.cosan.exitStatus, 0) << r.cosan.log;
    EXPECT_EQ(r.cosan.items(0, "matrix", "InitParms").size(), 3u);
    const auto tables = r.cosan.items(0, "matrix", "EstParms");
    ASSERT_EQ(tables.size(), 3u);
    const auto est = by_parameter(r.lineqs, "Estimates"), se = by_parameter(r.lineqs, "StdErrs");
    size_t compared = 0;
    for (const JsonValue* t : tables) {
        const JsonValue& m = *t;
        ASSERT_EQ(m["pieces"].size(), 3u);
        const JsonValue &s = m["pieces"][0], &tv = m["pieces"][1], &names = m["pieces"][2];
        EXPECT_EQ(s["label"].str(), "S");
        EXPECT_EQ(tv["label"].str(), "T");
        EXPECT_EQ(names["label"].str(), "N");
        for (size_t i = 0; i < m["values"].size(); ++i)
            for (size_t j = 0; j < m["values"][i].size(); ++j) {
                const JsonValue& label = names["values"][i][j];
                if (label.is_null()) {
                    EXPECT_TRUE(s["values"][i][j].is_null() && tv["values"][i][j].is_null()) << i << "," << j;
                    continue;
                }
                const std::string p = label.str().substr(1, label.str().size() - 2);
                SCOPED_TRACE(p);
                const double x = m["values"][i][j].number(), sx = s["values"][i][j].number();
                EXPECT_NEAR(x, est.at(p), 1e-6 * std::fabs(est.at(p)));
                EXPECT_NEAR(sx, se.at(p), 1e-5 * se.at(p));
                EXPECT_NEAR(tv["values"][i][j].number(), x / sx, 1e-12 * std::fabs(x / sx));
                EXPECT_NEAR(sx, r.expected["params"][p]["se"].number(), 1e-5 * sx);
                ++compared;
            }
    }
    // 6 loadings, the symmetric P in full (its 3 covariances twice), 9
    // unique variances.
    EXPECT_EQ(compared, 6u + 9u + 9u);
    EXPECT_EQ((*tables[0])["rowLabels"][0].str(), "Fvis");  // P, the central matrix, first
    EXPECT_EQ((*tables[1])["rowLabels"][0].str(), "x1");    // F, the first matrix of its term
}

// A matrix used by two terms is shown once; a constant one is a table
// before the estimation and only a note after it.
TEST(ModelKindResults, SharedAndConstantCosanMatrices) {
    std::string program = example("hs_cfa_cosan");
    program.replace(program.find("cosan F(3, GEN) * P(3, SYM) + U(9, SYM);"), 40,
                    "cosan J(9, IDE) * F(3, GEN) * P(3, SYM) + J(9, IDE) * U(9, SYM);");
    const RunResult r = run_velix(estimated(program), {"hs.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    EXPECT_EQ(r.items(0, "matrix", "InitParms").size(), 4u);
    EXPECT_EQ(r.items(0, "matrix", "EstParms").size(), 3u);
    size_t notes = 0;
    for (const JsonValue* n : r.items(0, "note"))
        notes += (*n)["text"].str().find("has no parameter") != std::string::npos;
    EXPECT_EQ(notes, 1u);
}

// A loading matrix with free parameters in two terms, F P F' + F Q F' + U
// with P's diagonal fixed at 1 and Q diagonal, is the two-factor model of
// the ability tests with factor covariance P + Q: its minimum, estimates
// and standard errors are the reference's (R's lavaan 0.6.14,
// tests/fixtures/ability_ml.expected.json), with q = v - 1.  The walk
// visits F once per term, so its Jacobian records must be counted so.
TEST(ModelKindResults, CosanMatrixWithParametersInTwoTerms) {
    const RunResult r = run_velix(estimated(
        "proc velix data=ability method=ml covariance;\n"
        "cosan F(2, GEN) * P(2, SYM) + F(2, GEN) * Q(2, DIA) + U(6, DIA);\n"
        "matrix F [ , 1] = 1.0 a2-a4, [ , 2] = 0 0 0 0 1.0 b6;\n"
        "matrix P [1, 1] = 1 1, [2, 1] = c;\nmatrix Q [1, 1] = q1 q2;\n"
        "matrix U [1, 1] = u1-u6;\nrun;\n"), {"ability.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const JsonValue expected = JsonValue::parse(read_text(data_path("ability_ml.expected.json")));
    const std::vector<const JsonValue*> fits = r.items(0, "factoid", "Fit");
    ASSERT_EQ(fits.size(), 1u);
    const JsonValue& entries = (*fits[0])["entries"];
    ASSERT_GT(entries.size(), 0u);
    ASSERT_EQ(entries[0]["label"].str(), "Fit Function");
    EXPECT_NEAR(entries[0]["value"].number(), expected["fmin"].number(), 1e-6 * expected["fmin"].number());
    const auto est = by_parameter(r, "Estimates"), se = by_parameter(r, "StdErrs");
    const std::pair<const char*, const char*> names[] = {
        {"a2", "l2"}, {"a3", "l3"}, {"a4", "l4"}, {"b6", "l6"}, {"c", "cgv"}, {"q1", "vg"},
        {"q2", "vv"}, {"u1", "ve1"}, {"u2", "ve2"}, {"u3", "ve3"}, {"u4", "ve4"}, {"u5", "ve5"},
        {"u6", "ve6"}};
    for (const auto& [ours, theirs] : names) {
        SCOPED_TRACE(ours);
        const double shift = ours[0] == 'q' ? 1.0 : 0.0;  // v = 1 + q
        const double x = expected["params"][theirs]["est"].number() - shift;
        const double s = expected["params"][theirs]["se"].number();
        EXPECT_NEAR(est.at(ours), x, 1e-5 * std::max(1.0, std::fabs(x)));
        EXPECT_NEAR(se.at(ours), s, 1e-5 * s);
    }
}

}  // namespace
}  // namespace velix::test
