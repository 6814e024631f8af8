// OUTEST= of whole programs: the rows of a maximum-likelihood fit of the
// nine-variable model in the order of their kinds, and the covariance of
// the estimates, scaled by sigma^2 = 2/(N-1), whose standard errors are
// those of an independent SEM package (lavaan 0.6.14, expected
// information, N-1 convention: hs_cfa_ml.expected.json).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/hs_fixture.h"

using velix::test::read_rows;
using velix::test::Rows;
using velix::test::RunResult;

namespace {

using Outest = velix::test::HsProgram;

// The cells of the first row of _TYPE_ `type` (empty when none).
std::vector<std::string> first_row(const Rows& rows, const std::string& type) {
    for (const auto& r : rows.cells)
        if (r[0] == type) return r;
    return {};
}

// The rows of the linear constraints (_TYPE_ EQ, GE or LE), _NAME_ left out.
std::vector<std::vector<std::string>> constraint_rows(const Rows& rows) {
    std::vector<std::vector<std::string>> out;
    for (auto r : rows.cells)
        if (r[0] == "EQ" || r[0] == "GE" || r[0] == "LE") {
            r.erase(r.begin() + 1);
            out.push_back(r);
        }
    return out;
}

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
    // Reference standard errors of three parameters (see the file comment),
    // to the agreement the two programs' convergence criteria allow.
    const std::map<std::string, double> se = {
        {"l2", 0.09983097948526}, {"l5", 0.06552907339035}, {"ve4", 0.0479565732719}};
    constexpr double kTolerance = 3e-4;
    const std::vector<std::string> t = rows.types();
    const size_t stderrRow = std::find(t.begin(), t.end(), "STDERR") - t.begin();
    const size_t sigsqRow = std::find(t.begin(), t.end(), "SIGSQ") - t.begin();
    ASSERT_LT(stderrRow, t.size());
    ASSERT_LT(sigsqRow, t.size());
    EXPECT_NEAR(std::stod(rows.cells[sigsqRow][rows.column("_RHS_")]), 2.0 / 300.0, 1e-15);
    size_t checked = 0;
    for (size_t i = 0; i < rows.cells.size(); ++i) {
        if (rows.cells[i][0] != "COV") continue;
        const std::string name = rows.cells[i][1];
        if (se.count(name) == 0) continue;
        // The covariance is scaled: its diagonal is the squared STDERR entry.
        const double variance = std::stod(rows.cells[i][rows.column(name)]);
        const double stderrCell = std::stod(rows.cells[stderrRow][rows.column(name)]);
        EXPECT_NEAR(std::sqrt(variance), stderrCell, 1e-12 * stderrCell) << name;
        EXPECT_NEAR(stderrCell, se.at(name), kTolerance * se.at(name)) << name;
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

namespace {

// Values of a row from column `first` on, as numbers (missing as NaN).
std::vector<double> numbers(const std::vector<std::string>& row, size_t first) {
    std::vector<double> v;
    for (size_t j = first; j < row.size(); ++j) v.push_back(row[j] == "." ? NAN : std::stod(row[j]));
    return v;
}

double iterations(const RunResult& r) {
    const velix::test::JsonValue* stop = r.items(0, "factoid", "IterStop").at(0);
    return (*stop)["entries"][0]["value"].number();
}

// OUTEST= of a bounded fit read back as INEST= by a program without the
// BOUNDS statement: the run starts at the estimates under the same bound
// and stops at once at the same minimum.
TEST_F(Outest, InestStartsAtTheEstimatesWithTheirBounds) {
    const RunResult first = run("outest=est", "bounds ve1 <= 0.5;\n");
    ASSERT_EQ(first.exitStatus, 0) << first.log;
    const RunResult second = run("inest=est outest=est2", "");
    ASSERT_EQ(second.exitStatus, 0) << second.log;
    const Rows a = read_rows(dir_ + "/est.csv"), b = read_rows(dir_ + "/est2.csv");
    const size_t firstValue = a.column("_ITER_") + 1;
    ASSERT_FALSE(first_row(a, "PARMS").empty());
    ASSERT_FALSE(first_row(b, "INITIAL").empty());
    const std::vector<double> estimate = numbers(first_row(a, "PARMS"), firstValue);
    const std::vector<double> start = numbers(first_row(b, "INITIAL"), firstValue);
    ASSERT_EQ(start.size(), estimate.size());
    for (size_t j = 0; j < start.size(); ++j) EXPECT_DOUBLE_EQ(start[j], estimate[j]) << a.header[firstValue + j];
    EXPECT_EQ(first_row(b, "UPPERBD"), first_row(a, "UPPERBD"));
    EXPECT_EQ(first_row(b, "ACTBC"), first_row(a, "ACTBC")) << "the bound is active again";
    EXPECT_GT(iterations(first), 1.0);
    EXPECT_LE(iterations(second), 1.0);
    const double f1 = std::stod(first_row(a, "PARMS")[2]), f2 = std::stod(first_row(b, "PARMS")[2]);
    EXPECT_NEAR(f2, f1, 1e-8 * f1);
}

// The linear constraints of OUTEST= come back through INEST=: without the
// LINCON statement the second run holds the same rows; with it, a row that
// the statement gives again is not doubled.
TEST_F(Outest, InestReproducesTheLinearConstraints) {
    const std::string lincon = "lincon l2 - l3 = 0, l5 + l6 <= 2;\n";
    ASSERT_EQ(run("outest=est", lincon).exitStatus, 0);
    const RunResult without = run("inest=est outest=est2", "");
    ASSERT_EQ(without.exitStatus, 0) << without.log;
    const RunResult with = run("inest=est outest=est3", lincon);
    ASSERT_EQ(with.exitStatus, 0) << with.log;
    const Rows a = read_rows(dir_ + "/est.csv");
    ASSERT_EQ(constraint_rows(a).size(), 2u);
    EXPECT_EQ(constraint_rows(read_rows(dir_ + "/est2.csv")), constraint_rows(a));
    EXPECT_EQ(constraint_rows(read_rows(dir_ + "/est3.csv")), constraint_rows(a));
}

}  // namespace
