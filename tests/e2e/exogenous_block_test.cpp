// The covariances of the exogenous manifest variables of a LINEQS or RAM
// model when a statement fixes part of them: the block is restricted, so
// the sample values are no longer its estimates; the rest is estimated with
// the model (parameters _Exo1, _Exo2 in the order of the block), and the
// fit is lavaan's with fixed.x = FALSE (exogenous_block_reference.R,
// lavaan 0.6.14), by ML and GLS: chi-square, degrees of freedom, estimates
// and standard errors.  The block that no statement gives is the sample's
// under ML and GLS, and is estimated under WLS and DWLS.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "harness.h"

namespace velix::test {
namespace {

struct Reference {
    const char* block;  // what the statement fixes
    const char* method;
    double chisq;
    int df;
    double est[4][2];  // b2, c1, _Exo1, _Exo2: estimate and standard error
};

// exogenous_block_reference.R
constexpr Reference kReference[] = {
    {"variance", "ml", 18.69151025, 3,
     {{0.1654366844, 0.06231518825}, {0.3716476796, 0.05409363812}, {0.3264359551, 0.0614106427},
      {1.237940544, 0.1007022563}}},
    {"variance", "gls", 12.12655007, 3,
     {{0.1654382227, 0.07254457531}, {0.3654354625, 0.05457751101}, {0.3285172843, 0.07221794341},
      {1.238360523, 0.1037356257}}},
    {"covariance", "ml", 4.743545782, 3,
     {{0.1654366844, 0.05348109291}, {0.3716476796, 0.05406781457}, {1.314966453, 0.1014711512},
      {1.213217616, 0.09361956567}}},
    {"covariance", "gls", 4.348280488, 3,
     {{0.165684468, 0.05490863275}, {0.3681432265, 0.05480831377}, {1.283258901, 0.1005459712},
      {1.189239926, 0.09296662222}}},
};

// What the statements say of the exogenous block: RAM items, items of the
// STD list and a COV statement.
struct BlockStatements {
    const char* ram;
    const char* std;
    const char* cov;
};

// The path model x1 = b2 x2 + b3 x3 + E1, x4 = c1 x1 + E4 on x1-x4 of hs
// by `method` with the NLOPTIONS statement `nloptions` (or none).
std::string path_program(const std::string& method, const std::string& nloptions, bool ram,
                         const BlockStatements& b) {
    std::string text = "proc velix data=hs covariance method=" + method + ";\n" + nloptions + "var x1-x4;\n";
    if (ram) return text + "ram 1 1 2 b2, 1 1 3 b3, 1 4 1 c1, 2 1 1 ve1, 2 4 4 ve4" + b.ram + ";\nrun;\n";
    return text + "lineqs x1 = b2 x2 + b3 x3 + E1, x4 = c1 x1 + E4;\nstd E1 E4 = ve1 ve4" + b.std + ";\n" + b.cov +
           "run;\n";
}

// The variance of x2 fixed at 1 or the covariance of x2 and x3 at 0.3, at
// the default criteria or (tight) with the gradient criterion tightened so
// that the estimates settle (the GLS minimum is flat along b2: lavaan's
// own stop lies 1e-6 off it).
std::string program(const Reference& r, bool ram, bool tight) {
    const bool variance = std::string(r.block) == "variance";
    return path_program(r.method, tight ? "nloptions absgconv=1e-9 gconv=1e-14;\n" : "", ram,
                        variance ? BlockStatements{", 2 2 2 1.0", ", x2 = 1.0", ""}
                                 : BlockStatements{", 2 3 2 0.3", "", "cov x2 x3 = 0.3;\n"});
}

TEST(ExogenousBlock, ThePartNoStatementFixesIsEstimated) {
    for (const Reference& r : kReference)
        for (const bool ram : {false, true})
            for (const bool tight : {false, true}) {
                SCOPED_TRACE(std::string(ram ? "RAM " : "LINEQS ") + r.method + ", fixed " + r.block +
                             (tight ? ", tight" : ", default"));
                // The default stop leaves the estimates within 1e-4 of the minimum.
                const double tol = tight ? 1e-5 : 1e-4;
                const RunResult run = run_velix(program(r, ram, tight), {"hs.csv"});
                ASSERT_EQ(run.exitStatus, 0) << run.log;
                const auto fit = factoid_values(*run.items(0, "factoid", "Fit").at(0));
                EXPECT_NEAR(fit.at("Chi-Square"), r.chisq, 1e-6 * r.chisq);
                EXPECT_EQ(fit.at("Chi-Square DF"), r.df);
                const auto est = column_by_parameter(result_table(run), "Estimate");
                const auto se = column_by_parameter(result_table(run), "AppStdErr");
                const char* names[] = {"b2", "c1", "_Exo1", "_Exo2"};
                for (int k = 0; k < 4; ++k) {
                    ASSERT_EQ(est.count(names[k]), 1u) << names[k];
                    EXPECT_NEAR(est.at(names[k]), r.est[k][0], tol * r.est[k][0]) << names[k];
                    EXPECT_NEAR(se.at(names[k]), r.est[k][1], tol * r.est[k][1]) << names[k];
                }
            }
}

struct WholeBlock {
    const char* method;
    double chisq;      // (N - 1) F on 2 degrees of freedom
    double est[5][2];  // b2, c1 and, estimated, _Exo1-_Exo3: estimate and standard error
};

// exogenous_block_reference.R: ML and GLS with the block fixed at the
// sample values (fixed.x = TRUE), WLS and DWLS with it estimated
// (fixed.x = FALSE).
constexpr WholeBlock kWholeBlock[] = {
    {"ml", 0.785499928, {{0.1654366844, 0.05379674938}, {0.3716476796, 0.05342301314}}},
    {"gls", 0.7864178585, {{0.1659997902, 0.05377853789}, {0.3716982465, 0.05340420402}}},
    {"wls", 0.629098248,
     {{0.1709479534, 0.05182484426}, {0.3709088747, 0.06060549206}, {1.397542066, 0.1215273767},
      {0.4655225113, 0.08025341765}, {1.281358266, 0.07734191909}}},
    {"dwls", 0.4038908025,
     {{0.1823479391, 0.0748993835}, {0.3814440208, 0.06346479414}, {1.38638979, 0.1224171855},
      {0.4525674937, 0.08211957449}, {1.279114435, 0.07742277933}}},
};

// No statement on the block, or (named) its three elements named as the
// defaults name them, at the default criteria.
std::string whole_block_program(const char* method, bool ram, bool named) {
    return path_program(method, "", ram,
                        named ? BlockStatements{", 2 2 2 _Exo1, 2 3 2 _Exo2, 2 3 3 _Exo3", ", x2 x3 = _Exo1 _Exo3",
                                                "cov x2 x3 = _Exo2;\n"}
                              : BlockStatements{"", "", ""});
}

// The fourth-order weights of WLS and DWLS tie the exogenous moments to
// the others, so the sample values are no estimate there: the block is
// estimated (with a note), as when the statements name it.
TEST(ExogenousBlock, TheUnstatedBlockIsEstimatedUnderFourthOrderWeightsOnly) {
    for (const WholeBlock& r : kWholeBlock)
        for (const bool ram : {false, true})
            for (const bool named : {false, true}) {
                const bool fourth = r.est[2][0] != 0.0;
                if (named && !fourth) continue;
                SCOPED_TRACE(std::string(ram ? "RAM " : "LINEQS ") + r.method + (named ? ", named" : ", default"));
                const RunResult run = run_velix(whole_block_program(r.method, ram, named), {"hs.csv"});
                ASSERT_EQ(run.exitStatus, 0) << run.log;
                EXPECT_EQ(run.has_message(352, 133), fourth && !named);
                // DWLS reports no chi-square: its (N - 1) F, N - 1 = 300, is lavaan's.
                const auto fit = factoid_values(*run.items(0, "factoid", "Fit").at(0));
                EXPECT_NEAR(300.0 * fit.at("Fit Function"), r.chisq, 1e-5 * r.chisq);
                const auto est = column_by_parameter(result_table(run), "Estimate");
                const auto se = column_by_parameter(result_table(run), "AppStdErr");
                const char* names[] = {"b2", "c1", "_Exo1", "_Exo2", "_Exo3"};
                EXPECT_EQ(est.size(), fourth ? 8u : 5u);
                // At the default criteria the estimates settle to 1e-4 of
                // their standard errors (the GLS minimum is flat along b2).
                // A parameter the run lacks reads NaN, which fails.
                auto of = [](const std::map<std::string, double>& m, const char* name) {
                    const auto it = m.find(name);
                    return it == m.end() ? std::nan("") : it->second;
                };
                for (int k = 0; k < (fourth ? 5 : 2); ++k) {
                    EXPECT_NEAR(of(est, names[k]), r.est[k][0], 1e-4 * r.est[k][1]) << names[k];
                    EXPECT_NEAR(of(se, names[k]), r.est[k][1], 1e-4 * r.est[k][1]) << names[k];
                }
            }
}

// Path models whose exogenous block WLS and DWLS estimate
// (exogenous_block_reference.R, lavaan fixed.x = FALSE): the chi-square,
// N and b1, b2, c1, c2.
struct WeightedPath {
    const char* data;
    const char* method;
    double chisq;
    int n;
    double est[4];
};
constexpr WeightedPath kWeightedPaths[] = {
    {"growth", "wls", 111.0093238, 400, {0.5826874733, 0.8230907609, 0.9749270414, 0.856703532}},
    {"growth", "dwls", 18.62865566, 400, {0.5957206323, 0.7748917344, 2.007998802, 0.2158623623}},
    {"attitude", "wls", 6.343550983, 30, {0.3880465267, 0.4398585981, -0.2312183214, 0.6294273928}},
    {"attitude", "dwls", 0.0, 30, {}},  // lavaan does not converge: DWLS alone is the reference
};

std::string weighted_path_program(const WeightedPath& p, const std::string& method, const std::string& more = "") {
    const bool growth = std::string(p.data) == "growth";
    return "proc velix data=" + std::string(growth ? "demo_growth" : "attitude_raw") + " covariance method=" + method +
           ";\n" +
           (growth ? "var t1 t4 x1 x2;\nlineqs t1 = b1 x1 + b2 x2 + E1, t4 = c1 t1 + c2 x1 + E4;\n"
                   : "var rating complaints learning advance;\n"
                     "lineqs rating = b1 complaints + b2 learning + E1, advance = c1 rating + c2 complaints + E4;\n") +
           "std E1 E4 = ve1 ve4;\n" + more + "run;\n";
}

// LSWLS and LSDWLS reach the minimum of WLS and DWLS alone: their ULS
// stage keeps the exogenous block at the sample values (freed there, it
// ran to an improper point the weighted stage did not leave: return code
// 4 at chi-square 216.83 on the growth model, 20.37 on attitude), and
// gives it back to the weighted stage also when the model has bounds of
// its own (here ones that no minimum reaches).
TEST(ExogenousBlock, TwoStageMethodsReachTheWeightedMinimum) {
    for (const WeightedPath& p : kWeightedPaths)
        for (const std::string bounds : {"", "bounds ve1 ve4 <= 10000;\n"}) {
            SCOPED_TRACE(std::string(p.data) + " " + p.method + (bounds.empty() ? "" : " with bounds"));
            const std::vector<std::string> files = {std::string(p.data) == "growth" ? "demo_growth.csv" : "attitude_raw.csv"};
            const RunResult one = run_velix(weighted_path_program(p, p.method), files);
            const RunResult two = run_velix(weighted_path_program(p, std::string("ls") + p.method, bounds), files);
            ASSERT_EQ(one.exitStatus, 0) << one.log;
            ASSERT_EQ(two.exitStatus, 0) << two.log;
            EXPECT_EQ(two.return_code(), one.return_code()) << two.log;
            const auto f1 = factoid_values(*one.items(0, "factoid", "Fit").at(0));
            const auto f2 = factoid_values(*two.items(0, "factoid", "Fit").at(0));
            EXPECT_NEAR(f2.at("Fit Function"), f1.at("Fit Function"), 1e-7 * f1.at("Fit Function"));
            const auto est1 = column_by_parameter(result_table(one), "Estimate");
            const auto est2 = column_by_parameter(result_table(two), "Estimate");
            const char* names[] = {"b1", "b2", "c1", "c2"};
            for (int k = 0; k < 4; ++k) {
                EXPECT_NEAR(est2.at(names[k]), est1.at(names[k]), 1e-4 * std::fabs(est1.at(names[k]))) << names[k];
                if (p.chisq > 0.0) {
                    EXPECT_NEAR(est2.at(names[k]), p.est[k], 1e-4 * std::fabs(p.est[k])) << names[k];
                }
            }
            // The chi-square (N - 1) F is lavaan's (DWLS prints none).
            if (p.chisq > 0.0) {
                EXPECT_NEAR((p.n - 1) * f2.at("Fit Function"), p.chisq, 1e-5 * p.chisq);
            }
        }
}

}  // namespace
}  // namespace velix::test
