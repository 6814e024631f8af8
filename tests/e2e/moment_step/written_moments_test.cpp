// What a step writes from moment data reads back as the data it read: the
// OUTSTAT=, OUTWGT=, OUTRAM= and OUTEST= data sets of each moment form
// (COV, CORR with STD, UCOV, UCORR, SSCP, SYMATRIX; one BY run) read back
// as DATA=, INWGT=, INRAM= and INEST= give the fit of the original file,
// also when that file has no MEAN and no N row (the written file then has
// none either: NOBS= and a model with means meet it as they meet the
// original).  The weights of an AUGMENT run read back whole, and an output
// over the step's own moment data is refused before the fit.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "direct_moments.h"
#include "tests/e2e/hs_fixture.h"
#include "velix/codes.h"

namespace {

using namespace velix::test;

// The chi-square and the estimates of every BY group of step s.
struct StepFit {
    int code = -1;
    std::vector<double> chisq;
    std::vector<std::map<std::string, double>> est;
};

StepFit step_fit(const RunResult& r, size_t s) {
    StepFit f;
    f.code = return_code(r, s);
    for (const JsonValue* fit : r.items(s, "factoid", "Fit")) f.chisq.push_back(factoid_values(*fit).at("Chi-Square"));
    const auto tables = r.items(s, "table", "ParameterEstimates");  // a start and a final one per group
    for (size_t k = 1; k < tables.size(); k += 2) f.est.push_back(column_by_parameter(*tables[k], "Estimate"));
    return f;
}

// Within `tol` (relative; 1e-7 for the chi-square, 1e-6 for the estimates
// by default, where both fits ran to close stopping criteria).
void expect_same_fit(const StepFit& got, const StepFit& want, const std::string& what, double tol = 1e-6) {
    EXPECT_EQ(got.code, want.code) << what;
    ASSERT_FALSE(want.chisq.empty()) << what << ": no fit";
    ASSERT_EQ(got.chisq.size(), want.chisq.size()) << what;
    ASSERT_EQ(got.est.size(), want.est.size()) << what;
    for (size_t g = 0; g < want.chisq.size(); ++g) {
        EXPECT_LT(rel(got.chisq[g], want.chisq[g]), tol / 10.0) << what << " group " << g << ": chi-square " << got.chisq[g]
                                                        << " against " << want.chisq[g];
        for (const auto& [name, v] : want.est[g])
            EXPECT_LT(rel(got.est[g].at(name), v), tol) << what << " group " << g << ": " << name << " "
                                                         << got.est[g].at(name) << " against " << v;
    }
}

// The file at path without its rows of these _TYPE_s (in column `typeColumn`).
void drop_rows(const std::string& path, const std::vector<std::string>& types, size_t typeColumn) {
    std::ifstream in(path);
    std::ostringstream kept;
    for (std::string line; std::getline(in, line);) {
        std::stringstream s(line);
        std::string cell;
        for (size_t k = 0; k <= typeColumn; ++k) std::getline(s, cell, ',');
        if (std::find(types.begin(), types.end(), cell) == types.end()) kept << line << "\n";
    }
    in.close();
    std::ofstream(path) << kept.str();
}

// A moment form: its file, the analysis that reads it, the method of the
// fit that writes the outputs (GLS writes its weights; a SYMATRIX gives
// none), its BY statement.
struct Form {
    std::string name, file, analysis, method, by;
};

TEST(WrittenMoments, EveryOutputOfEveryMomentFormReadsBackAsWhatWasRead) {
    // The user's matrices: OUTSTAT= of the raw data in four forms and by
    // school, then without their MEAN and N rows; a SYMATRIX of the
    // covariances; SSCP sums whose Intercept row and cell give the means
    // and N.
    const std::string dir = scratch_dir("written_moments");
    // The refits start at the first fit's minimum: close stopping criteria
    // let both end at the same point.
    const std::string model = std::string(kHsModel) + "nloptions gconv=1e-14 absgconv=1e-12;\nrun;\n";
    // Means of x1-x3 under AUGMENT: a model the means enter.
    const std::string means = "var x1-x3;\nlineqs x1 = a1 Intercept + 1.0 F + E1, x2 = a2 Intercept + l2 F + E2,\n"
                              "  x3 = a3 Intercept + l3 F + E3;\nstd F = vf, E1-E3 = ve1-ve3;\nrun;\n";
    std::string make;
    for (const char* f : {"cov covariance", "corr", "ucov ucov", "ucorr ucorr"}) {
        std::string name(f), analysis;
        if (const size_t at = name.find(' '); at != std::string::npos) {
            analysis = name.substr(at + 1);
            name.resize(at);
        }
        make += "proc velix data=hs method=none " + analysis + " outstat='" + dir + "/" + name + ".csv';\n" + model;
    }
    make += "proc velix data=hs_by method=none covariance outstat='" + dir + "/by.csv';\nby school;\n" + model;
    const RunResult made = run_velix(make, {"hs.csv", "hs_by.csv"});
    ASSERT_EQ(made.exitStatus, 0) << made.log;
    for (const char* f : {"cov", "corr", "ucov", "ucorr"}) drop_rows(dir + "/" + f + ".csv", {"MEAN", "N"}, 0);
    drop_rows(dir + "/by.csv", {"MEAN", "N"}, 1);
    std::string symatrix = read_text(dir + "/cov.csv");
    for (size_t at; (at = symatrix.find("COV")) != std::string::npos;) symatrix.replace(at, 3, "SYMATRIX");
    std::ofstream(dir + "/symatrix.csv") << symatrix;
    write_sscp(dir + "/sscp.csv", read_csv("hs.csv"), false);

    const std::vector<Form> forms = {{"COV", "cov", "covariance", "gls", ""},
                                     {"CORR", "corr", "", "gls", ""},
                                     {"UCOV", "ucov", "ucov", "gls", ""},
                                     {"UCORR", "ucorr", "ucorr", "gls", ""},
                                     {"SSCP", "sscp", "covariance", "gls", ""},
                                     {"SYMATRIX", "symatrix", "covariance", "ml", ""},
                                     {"COV by school", "by", "covariance", "gls", "by school;\n"}};
    // Per form: the fit that writes the four outputs; the written moments
    // with the written weights and model, and with the written estimates;
    // the original and the written file with NOBS=; a model with means on
    // the original and on the written file.
    constexpr size_t kSteps = 7;
    std::string program;
    for (const Form& f : forms) {
        const std::string in = "'" + dir + "/" + f.file + ".csv' ", out = "'" + dir + "/out_" + f.file;
        const std::string fit = " method=" + f.method + " " + f.analysis + " ", ml = " method=ml " + f.analysis + " ";
        const bool gls = f.method == "gls";
        const std::string body = f.by + model;
        program += "proc velix data=" + in + fit + "outstat=" + out + ".csv' outram=" + out + "_r.csv' outest=" + out +
                   "_e.csv'" + (gls ? " outwgt=" + out + "_w.csv'" : "") + ";\n" + body;
        program += "proc velix data=" + out + ".csv'" + fit + "inram=" + out + "_r.csv'" +
                   (gls ? " inwgt=" + out + "_w.csv'" : "") + ";\n" + f.by +
                   "nloptions gconv=1e-14 absgconv=1e-12;\nrun;\n";
        program += "proc velix data=" + out + ".csv'" + fit + "inest=" + out + "_e.csv';\n" + body;
        program += "proc velix data=" + in + "nobs=301" + ml + ";\n" + body;
        program += "proc velix data=" + out + ".csv' nobs=301" + ml + ";\n" + body;
        program += "proc velix data=" + in + ml + "augment;\n" + f.by + means;
        program += "proc velix data=" + out + ".csv'" + ml + "augment;\n" + f.by + means;
    }
    const RunResult r = run_velix(program, {});
    ASSERT_EQ(r.json["steps"].size(), kSteps * forms.size()) << r.log;
    for (size_t k = 0; k < forms.size(); ++k) {
        const size_t s = kSteps * k;
        const std::string& what = forms[k].name;
        const StepFit written = step_fit(r, s);
        EXPECT_EQ(written.code, 0) << what << "\n" << r.log;
        expect_same_fit(step_fit(r, s + 1), written, what + ": INRAM= (and INWGT=)");
        expect_same_fit(step_fit(r, s + 2), written, what + ": INEST=");
        expect_same_fit(step_fit(r, s + 4), step_fit(r, s + 3), what + ": NOBS=301");
        // Means that the original lacks the written file lacks too.
        EXPECT_EQ(return_code(r, s + 6), return_code(r, s + 5)) << what << ": AUGMENT";
        if (forms[k].name == "COV") {
            EXPECT_EQ(return_code(r, s + 5), kLevelNoMoments) << what << ": AUGMENT without means";
            // lavaan's fit of the covariances with N = 301 (n_rows_reference.R).
            const StepFit lavaan = step_fit(r, s + 3);
            EXPECT_NEAR(lavaan.chisq.at(0), 85.0221226, 5e-4);
            EXPECT_NEAR(lavaan.est.at(0).at("l2"), 0.5535006044, 1e-5);
        }
    }
    // As users run them, at the default stopping criteria: the COV file's
    // outputs read back, and its fit with NOBS=, agree to what those
    // criteria leave.
    const std::string out = "'" + dir + "/out_cov";
    const std::string defaults = std::string(kHsModel) + "run;\n";
    const RunResult d = run_velix("proc velix data=" + out + ".csv' method=gls covariance inram=" + out +
                                      "_r.csv' inwgt=" + out + "_w.csv';\nrun;\n" + "proc velix data='" + dir +
                                      "/cov.csv' nobs=301 method=ml covariance;\n" + defaults,
                                  {});
    expect_same_fit(step_fit(d, 0), step_fit(r, 0), "COV at the default criteria: INRAM= and INWGT=", 1e-3);
    const StepFit lavaan = step_fit(d, 1);
    ASSERT_EQ(lavaan.chisq.size(), 1u) << d.log;
    EXPECT_NEAR(lavaan.chisq[0], 85.0221226, 85.0221226 * 1e-4);
    EXPECT_NEAR(lavaan.est[0].at("l2"), 0.5535006044, 1e-3);
}

TEST(WrittenMoments, TheWeightsOfAnAugmentRunReadBackAsTheirInwgt) {
    // Linear growth of Demo.growth with its means (usage.md, "Models with
    // means"): the WLS weights, over the pairs of moments with the
    // intercept too, read back give the same fit (the GLS matrix reads
    // back in augmented_moments_test.cpp).
    const std::string dir = scratch_dir("written_weights");
    const std::string model =
        "var t1-t4;\nlineqs t1 = Fi + E1, t2 = Fi + 1 Fs + E2, t3 = Fi + 2 Fs + E3, t4 = Fi + 3 Fs + E4,\n"
        "  Fi = mi Intercept + DFi, Fs = ms Intercept + DFs;\nstd E1-E4 = v1-v4, DFi DFs = vi vs;\n"
        "cov DFi DFs = cis;\nrun;\n";
    const std::string w = "'" + dir + "/wls.csv'";
    const RunResult r = run_velix("proc velix data=demo_growth covariance augment method=wls outwgt=" + w + ";\n" +
                                      model + "proc velix data=demo_growth covariance augment method=wls inwgt=" + w +
                                      ";\n" + model,
                                  {"demo_growth.csv"});
    const StepFit written = step_fit(r, 0);
    EXPECT_EQ(written.code, 0) << r.log;
    expect_same_fit(step_fit(r, 1), written, "WLS");
}

TEST(WrittenMoments, AnOutputOverTheStepsOwnMomentDataIsRefusedBeforeTheFit) {
    // A model of 3 of the 9 variables with OUTSTAT= naming its COV data:
    // the file would keep x1-x3 only.
    const std::string dir = scratch_dir("written_over_data");
    const RunResult made = run_velix("proc velix data=hs method=none covariance outstat='" + dir + "/mom.csv';\n" +
                                         std::string(kHsModel) + "run;\n",
                                     {"hs.csv"});
    ASSERT_EQ(made.exitStatus, 0) << made.log;
    const std::string before = read_text(dir + "/mom.csv");
    for (const std::string option : {"", "partial x9;\n"}) {
        const RunResult r = run_velix("proc velix data=mom method=ml covariance outstat=mom;\nvar x1-x3;\n" + option +
                                          "lineqs x1 = 1.0 F + E1, x2 = l2 F + E2, x3 = l3 F + E3;\n"
                                          "std F = vf, E1-E3 = ve1-ve3;\nrun;\n",
                                      {}, {"--lib", dir});
        EXPECT_EQ(return_code(r, 0), kLevelInputError) << option << "\n" << r.log;
        EXPECT_NE(r.log.find("OUTSTAT= data set mom would replace DATA= data set mom, the TYPE=COV data"),
                  std::string::npos)
            << r.log;
        EXPECT_TRUE(r.items(0, "factoid", "Fit").empty()) << option;
        EXPECT_EQ(read_text(dir + "/mom.csv"), before) << option;
    }
}

}  // namespace
