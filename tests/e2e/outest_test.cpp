// OUTEST= of whole programs: the rows of a maximum-likelihood fit of the
// nine-variable model in the order of their kinds, and the covariance of the estimates, which, scaled by 2/(N-1),
// gives the standard errors of an independent SEM package (lavaan 0.6.14,
// expected information, N-1 convention: hs_cfa_ml.expected.json).
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/harness.h"

using velix::test::own_folder;
using velix::test::run_velix;
using velix::test::RunResult;
using velix::test::Rows;
using velix::test::read_rows;

namespace {

const char* kModel =
    "lineqs x1 = 1.0 Fvis + E1, x2 = l2 Fvis + E2, x3 = l3 Fvis + E3,\n"
    "       x4 = 1.0 Ftxt + E4, x5 = l5 Ftxt + E5, x6 = l6 Ftxt + E6,\n"
    "       x7 = 1.0 Fspd + E7, x8 = l8 Fspd + E8, x9 = l9 Fspd + E9;\n"
    "std Fvis Ftxt Fspd = vvis vtxt vspd, E1-E9 = ve1-ve9;\n"
    "cov Fvis Ftxt = cvt, Fvis Fspd = cvs, Ftxt Fspd = cts;\n";

class Outest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = own_folder("outest");
        std::ifstream hs(velix::test::data_path("hs.csv"));
        std::ofstream(dir_ + "/hs.csv") << hs.rdbuf();
    }
    RunResult run(const std::string& options, const std::string& statements) {
        const std::string program = "proc velix data=hs method=ml covariance " + options + ";\n" + kModel +
                                    statements + "run;\n";
        return run_velix(program, {}, {"--lib", dir_});
    }
    std::string dir_;
};

TEST_F(Outest, FitRowsInOrder) {
    const RunResult r = run("outest=est", "");
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const Rows rows = read_rows(dir_ + "/est.csv");
    const std::vector<std::string> t = rows.types();
    ASSERT_GE(t.size(), 5u) << r.log;
    // The start point, the termination criterion, the solution, its
    // standard errors and N, then the covariance rows (one per parameter)
    // with their summary.
    const std::vector<std::string> head(t.begin(), t.begin() + 5);
    EXPECT_EQ(head, (std::vector<std::string>{"INITIAL", "TERMINAT", "PARMS", "STDERR", "_NOBS_"}));
    const size_t nParams = rows.header.size() - 4;
    ASSERT_GE(t.size(), 5 + nParams + 2);
    for (size_t i = 0; i < nParams; ++i) EXPECT_EQ(t[5 + i], "COV") << i;
    EXPECT_EQ(t[5 + nParams], "COVRANK");
    EXPECT_EQ(t[6 + nParams], "SIGSQ");
    EXPECT_EQ(rows.cells[5 + nParams][rows.column("_RHS_")], std::to_string(nParams));
    // _ITER_ is 0 at the start and missing after the final evaluation.
    EXPECT_EQ(rows.cells[0][rows.column("_ITER_")], "0");
    EXPECT_EQ(rows.cells[2][rows.column("_ITER_")], ".");
}

TEST_F(Outest, CovarianceGivesTheReferenceStandardErrors) {
    const RunResult r = run("outest=est", "");
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const Rows rows = read_rows(dir_ + "/est.csv");
    // Reference standard errors of three parameters (see the file comment).
    const std::map<std::string, double> se = {
        {"l2", 0.09983097948526}, {"l5", 0.06552907339035}, {"ve4", 0.0479565732719}};
    const double scale = std::sqrt(2.0 / 300.0);
    size_t checked = 0;
    for (size_t i = 0; i < rows.cells.size(); ++i) {
        if (rows.cells[i][0] != "COV") continue;
        const std::string name = rows.cells[i][1];
        if (se.count(name) == 0) continue;
        const double variance = std::stod(rows.cells[i][rows.column(name)]);
        EXPECT_NEAR(std::sqrt(variance) * scale, se.at(name), 1e-5 * se.at(name)) << name;
        ++checked;
    }
    EXPECT_EQ(checked, se.size());
}

TEST_F(Outest, DependentParameterStandardErrorStaysInItsVector) {
    // l3 is defined by the program: its standard error follows those of the
    // free parameters in a vector sized for all of them (under the address
    // sanitizer a write past the free parameters' end fails this run).
    const RunResult r = run("outest=est", "l3 = 0.5 * l2;\n");
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const Rows rows = read_rows(dir_ + "/est.csv");
    EXPECT_EQ(rows.column("l3"), rows.header.size()) << "a dependent parameter has no OUTEST= variable";
    EXPECT_NE(rows.column("l2"), rows.header.size());
}

}  // namespace
