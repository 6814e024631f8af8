// What a run writes, read back: every model kind (LINEQS, RAM, COSAN,
// FACTOR, and equation models with exogenous manifest variables) fitted
// to covariances, correlations, uncorrected covariances and correlations
// and the moments about zero writes OUTRAM= and OUTSTAT=; the stored model
// (INRAM= on the same data) and the stored moments (DATA= the OUTSTAT= set,
// the same analysis) give the same chi-square and degrees of freedom.
// Reference numbers of lavaan 0.6.14 (single_run_reference.R beside this
// file) for a fixed zero covariance of exogenous variables and for the
// one-factor model on covariances and on moments about zero.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "tests/e2e/harness.h"

namespace velix::test {
namespace {

// The model statements of a program file (after the PROC statement,
// before RUN).
std::string statements_of(const std::string& file) {
    const std::string p = read_text(file);
    const size_t proc = p.find("proc velix");
    return p.substr(p.find(';', proc) + 1, p.rfind("run;") - p.find(';', proc) - 1);
}

struct Fitted {
    int code = -1;
    std::map<std::string, double> fit, estimate, se;
};

// The fit and final estimates of every step of r.
std::vector<Fitted> fitted(const RunResult& r) {
    std::vector<Fitted> out(r.json["steps"].size());
    for (size_t s = 0; s < out.size(); ++s) {
        out[s].code = r.return_code(s);
        const auto fits = r.items(s, "factoid", "Fit");
        if (fits.empty()) continue;
        out[s].fit = factoid_values(*fits[0]);
        out[s].estimate = column_by_parameter(result_table(r, s), "Estimate");
        out[s].se = column_by_parameter(result_table(r, s), "AppStdErr");
    }
    return out;
}

// Statements of a model on the variables of `var` (empty: all of hs).
struct Model {
    const char* name;
    std::string var, statements;
};

const char* const kOneFactor = "lineqs x1 = 1.0 F + E1, x2 = l2 F + E2, x3 = l3 F + E3, x4 = l4 F + E4;\n"
                               "std F = vf, E1-E4 = ve1-ve4;\n";

std::vector<Model> models() {
    const std::string ex = std::string(VELIX_SOURCE_DIR) + "/examples/";
    return {{"lineqs", "", statements_of(data_path("hs_cfa_ml.vx"))},
            {"ram", "", statements_of(ex + "hs_cfa_ram.vx")},
            {"cosan", "", statements_of(ex + "hs_cfa_cosan.vx")},
            {"factor", "", statements_of(ex + "hs_cfa_factor.vx")},
            {"one factor", "x1-x4", kOneFactor},
            // Exogenous manifest variables whose covariances the sample
            // gives, and a covariance of two of them fixed at zero.
            {"path lineqs", "x1-x4", "lineqs x1 = b2 x2 + b3 x3 + E1, x4 = c1 x1 + E4;\nstd E1 = v1, E4 = v4;\n"},
            {"path ram", "x1-x4", "ram 1 1 2 b2, 1 1 3 b3, 1 4 1 c1, 2 1 1 v1, 2 4 4 v4;\n"},
            {"zero lineqs", "x1 x3 x4",
             "lineqs x1 = b1 x3 + b2 x4 + E1;\nstd E1 = v1, x3 = v3, x4 = v4;\ncov x3 x4 = 0;\n"},
            {"zero ram", "x1 x3 x4", "ram 1 1 2 b1, 1 1 3 b2, 2 1 1 v1, 2 2 2 v3, 2 3 3 v4, 2 3 2 0.0;\n"}};
}

// lavaan's numbers for the models named: chi-square, df, p, and estimate
// and standard error of two parameters.
struct Reference {
    std::vector<std::string> models, analyses;
    double chisq, df, p;
    const char* parm[2];
    double est[2], se[2];
};
const Reference kReferences[] = {
    {{"zero lineqs", "zero ram"}, {"covariance"}, 7.646582468, 1, 0.005687997663, {"b1", "v3"},
     {0.4040070112, 1.279114432}, {0.05027850278, 0.104439256}},
    {{"one factor"}, {"covariance"}, 11.75902318, 2, 0.002796150606, {"l2", "vf"},
     {0.5466180028, 0.8340396047}, {0.1051368239, 0.1620359943}},
    // Moments about zero, X'X / N, with N in the chi-square.
    {{"one factor"}, {"ucov", "noint covariance"}, 5.187906015, 2, 0.07472407068, {"l2", "vf"},
     {1.20668929, 25.25664954}, {0.01813639565, 2.098698023}},
};

void expect_reference(const Fitted& f, const Reference& ref) {
    EXPECT_NEAR(f.fit.at("Chi-Square"), ref.chisq, 1e-6 * ref.chisq);
    EXPECT_EQ(f.fit.at("Chi-Square DF"), ref.df);
    EXPECT_NEAR(f.fit.at("Pr > Chi-Square"), ref.p, 1e-6);
    for (int k = 0; k < 2; ++k) {
        EXPECT_NEAR(f.estimate.at(ref.parm[k]), ref.est[k], 1e-5 * ref.est[k]) << ref.parm[k];
        EXPECT_NEAR(f.se.at(ref.parm[k]), ref.se[k], 1e-5 * ref.se[k]) << ref.parm[k];
    }
}

TEST(ReadBack, EveryModelKindThroughOutramAndOutstat) {
    // Covariances, correlations, uncorrected covariances and correlations,
    // and covariances about zero.
    const char* const analyses[] = {"covariance", "", "ucov", "ucorr", "noint covariance"};
    for (const Model& m : models()) {
        const std::string var = m.var.empty() ? "" : "var " + m.var + ";\n";
        for (const char* a : analyses) {
            SCOPED_TRACE(std::string(m.name) + ", analysis \"" + a + "\"");
            const std::string proc = "proc velix method=ml " + std::string(a);
            const RunResult r =
                run_velix(proc + " data=hs outram=model outstat=moments;\n" + var + m.statements + "run;\n" + proc +
                              " data=hs inram=model;\n" + var + "run;\n" + proc + " data=moments;\n" + m.statements +
                              "run;\n",
                          {"hs.csv"});
            const std::vector<Fitted> f = fitted(r);
            ASSERT_EQ(f.size(), 3u) << r.log;
            for (size_t s = 0; s < 3; ++s) {
                EXPECT_EQ(f[s].code, 0) << "step " << s << "\n" << r.log;
                const double chisq = f[0].fit.at("Chi-Square");
                EXPECT_NEAR(f[s].fit.at("Chi-Square"), chisq, 1e-7 * chisq) << "step " << s;
                EXPECT_EQ(f[s].fit.at("Chi-Square DF"), f[0].fit.at("Chi-Square DF")) << "step " << s;
            }
            for (const Reference& ref : kReferences)
                if (std::count(ref.models.begin(), ref.models.end(), m.name) &&
                    std::count(ref.analyses.begin(), ref.analyses.end(), a))
                    expect_reference(f[0], ref);
        }
    }
}

TEST(ReadBack, ADataSetNamedTwiceTakesTheLaterNameInItsOwnForm) {
    // A quoted path and then a name of the library folder, for input and
    // for output: the name wins, with the library's folder and ".csv".
    const std::string dir = own_folder("named_twice");
    std::ofstream(dir + "/hs.csv") << read_text(data_path("hs.csv"));
    for (const char* f : {"/first", "/first.csv", "/second", "/second.csv"}) std::remove((dir + f).c_str());
    const RunResult r = run_velix("proc velix data='" + dir + "/missing.csv' data=hs method=ml covariance outstat='" +
                                      dir + "/first' outstat=second;\nvar x1-x4;\n" + kOneFactor + "run;\n",
                                  {}, {"--lib", dir});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    EXPECT_FALSE(read_rows(dir + "/second.csv").cells.empty());
    for (const char* f : {"/first", "/first.csv", "/second"}) EXPECT_TRUE(read_text(dir + f).empty()) << f;
    // The later of two quoted paths after a name.
    const RunResult q = run_velix("proc velix data=missing data='" + dir + "/hs.csv' method=ml covariance;\n"
                                  "var x1-x4;\n" + std::string(kOneFactor) + "run;\n",
                                  {}, {"--lib", dir});
    EXPECT_EQ(q.exitStatus, 0) << q.log;
}

// Names that no program could write (a blank inside, a letter beyond
// ASCII, bytes that are not UTF-8) are names of the data file's
// variables: its OUTSTAT= rows carry them in _NAME_ and read back as the
// moments of those variables, with no WARNING and the same fit.
TEST(ReadBack, OutstatOfVariablesWithAnyNamesReadsBackWithoutAWarning) {
    const std::string dir = own_folder("odd_names");
    std::string hs = read_text(data_path("hs.csv"));
    hs.replace(0, hs.find(",x4,"), "b\xFF\xFE,x 2,\xC3\xA9");
    std::ofstream(dir + "/odd.csv", std::ios::binary) << hs;
    const std::string step = " method=ml covariance;\nfactor n=1;\nrun;\n";
    const RunResult r = run_velix("proc velix data=odd outstat=ost" + step + "proc velix data=ost" + step, {},
                                  {"--lib", dir});
    const std::vector<Fitted> f = fitted(r);
    ASSERT_EQ(f.size(), 2u) << r.log;
    EXPECT_EQ(f[0].code, 0) << r.log;
    EXPECT_EQ(f[1].code, 0) << r.log;
    EXPECT_EQ(r.log.find("WARNING"), std::string::npos) << r.log;
    EXPECT_NEAR(f[1].fit.at("Chi-Square"), f[0].fit.at("Chi-Square"), 1e-7 * f[0].fit.at("Chi-Square"));
}

}  // namespace
}  // namespace velix::test
