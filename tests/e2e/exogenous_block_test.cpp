// The covariances of the exogenous manifest variables of a LINEQS or RAM
// model when a statement fixes part of them: the block is restricted, so
// the sample values are no longer its estimates; the rest is estimated with
// the model (parameters _Exo1, _Exo2 in the order of the block), and the
// fit is lavaan's with fixed.x = FALSE (exogenous_block_reference.R,
// lavaan 0.6.14), by ML and GLS: chi-square, degrees of freedom, estimates
// and standard errors.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

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

// The path model x1 = b2 x2 + b3 x3 + E1, x4 = c1 x1 + E4 with the
// variance of x2 fixed at 1 or the covariance of x2 and x3 at 0.3, the
// gradient criterion tightened so that the estimates settle (the GLS
// minimum is flat along b2: lavaan's own stop lies 1e-6 off it).
std::string program(const Reference& r, bool ram) {
    const bool variance = std::string(r.block) == "variance";
    std::string text = std::string("proc velix data=hs covariance method=") + r.method +
                       ";\nnloptions absgconv=1e-9 gconv=1e-14;\nvar x1-x4;\n";
    if (ram)
        return text + "ram 1 1 2 b2, 1 1 3 b3, 1 4 1 c1, 2 1 1 ve1, 2 4 4 ve4, " +
               (variance ? "2 2 2 1.0" : "2 3 2 0.3") + ";\nrun;\n";
    return text + "lineqs x1 = b2 x2 + b3 x3 + E1, x4 = c1 x1 + E4;\nstd E1 E4 = ve1 ve4" +
           (variance ? ", x2 = 1.0;\n" : ";\ncov x2 x3 = 0.3;\n") + "run;\n";
}

TEST(ExogenousBlock, ThePartNoStatementFixesIsEstimated) {
    for (const Reference& r : kReference)
        for (const bool ram : {false, true}) {
            SCOPED_TRACE(std::string(ram ? "RAM " : "LINEQS ") + r.method + ", fixed " + r.block);
            const RunResult run = run_velix(program(r, ram), {"hs.csv"});
            ASSERT_EQ(run.exitStatus, 0) << run.log;
            const auto fit = factoid_values(*run.items(0, "factoid", "Fit").at(0));
            EXPECT_NEAR(fit.at("Chi-Square"), r.chisq, 1e-6 * r.chisq);
            EXPECT_EQ(fit.at("Chi-Square DF"), r.df);
            const auto est = column_by_parameter(result_table(run), "Estimate");
            const auto se = column_by_parameter(result_table(run), "AppStdErr");
            const char* names[] = {"b2", "c1", "_Exo1", "_Exo2"};
            for (int k = 0; k < 4; ++k) {
                ASSERT_EQ(est.count(names[k]), 1u) << names[k];
                EXPECT_NEAR(est.at(names[k]), r.est[k][0], 1e-5 * r.est[k][0]) << names[k];
                EXPECT_NEAR(se.at(names[k]), r.est[k][1], 1e-5 * r.est[k][1]) << names[k];
            }
        }
}

}  // namespace
}  // namespace velix::test
