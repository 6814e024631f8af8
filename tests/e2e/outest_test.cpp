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
    // A run stopped short of the minimum forms no covariance of the
    // estimates: no STDERR row and no COV rows.
    const RunResult stopped = run("outest=est maxiter=1", "");
    ASSERT_EQ(stopped.exitStatus, 0) << stopped.log;
    const std::vector<std::string> u = read_rows(dir_ + "/est.csv").types();
    EXPECT_EQ(u, (std::vector<std::string>{"INITIAL", "TERMINAT", "PARMS", "_NOBS_"})) << stopped.log;
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

// Termination tight enough that two runs to one minimum agree to 1e-10.
const char* const kTight = "nloptions absgconv=1e-9 gconv=1e-12;\n";

// The objective at the estimates (_RHS_ of the PARMS row).
double fit_of(const Rows& rows) {
    return std::stod(first_row(rows, "PARMS")[rows.column("_RHS_")]);
}

// A <= constraint is written as an LE row with its signs as given, and
// INEST= reads it back as the same constraint: the run without LINCON
// holds the same rows and reaches the same minimum.
TEST_F(Outest, LessEqualRowsRoundTripThroughInest) {
    const std::string lincon = "lincon l2 - l3 = 0, l5 + l6 <= 2, l8 >= 0.1;\n";
    ASSERT_EQ(run("outest=est", lincon + kTight).exitStatus, 0);
    ASSERT_EQ(run("inest=est outest=est2", kTight).exitStatus, 0);
    const Rows a = read_rows(dir_ + "/est.csv"), b = read_rows(dir_ + "/est2.csv");
    const std::vector<std::string> le = first_row(a, "LE");
    ASSERT_FALSE(le.empty());
    EXPECT_EQ(le[a.column("_RHS_")], "2");
    for (size_t j = a.column("_ITER_") + 1; j < a.header.size(); ++j)
        EXPECT_EQ(le[j], a.header[j] == "l5" || a.header[j] == "l6" ? "1" : "0") << a.header[j];
    EXPECT_EQ(first_row(a, "GE")[a.column("_RHS_")], "0.1");
    EXPECT_EQ(constraint_rows(b), constraint_rows(a));
    EXPECT_NEAR(fit_of(b), fit_of(a), 1e-10 * fit_of(a));
}

// A row that repeats an earlier one is dropped before the run; the rows
// after it keep their own constraints, _TYPE_ and _RHS_.
TEST_F(Outest, ARepeatedRowIsWrittenOnce) {
    ASSERT_EQ(run("outest=est", "lincon l5 + l6 <= 2, l2 >= 0.1, l5 + l6 <= 2, l8 >= 0.2;\n").exitStatus, 0);
    std::vector<std::string> kinds;
    for (const auto& row : constraint_rows(read_rows(dir_ + "/est.csv"))) kinds.push_back(row[0] + " " + row[1]);
    EXPECT_EQ(kinds, (std::vector<std::string>{"LE 2", "GE 0.1", "GE 0.2"}));
}

// The program variables of INEST= constraint rows come back in the OUTEST=
// rows of the same constraints: for a row only INEST= gives and for one
// that the statements give again.
TEST_F(Outest, StatementValuesOfInestRowsAreCarried) {
    ASSERT_EQ(run("outest=est", "l3 = 0.9 * l2;\nlincon l5 + l6 >= 1.5, l8 <= 3;\n").exitStatus, 0);
    // est.csv with a variable "ratio": 1.3 on PARMS, 7 on the GE row, 8 on the LE row.
    std::ifstream in(dir_ + "/est.csv");
    std::ofstream out(dir_ + "/est_r.csv");
    for (std::string line; std::getline(in, line);) {
        const std::string type = line.substr(0, line.find(','));
        if (line[0] == '#') out << line << '\n';
        else out << line << ',' << (type == "_TYPE_" ? "ratio" : type == "PARMS" ? "1.3" : type == "GE" ? "7" : type == "LE" ? "8" : ".") << '\n';
    }
    out.close();
    const RunResult r = run("inest=est_r outest=est2", "l3 = ratio * l2;\nlincon l8 <= 3;\n");
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const Rows b = read_rows(dir_ + "/est2.csv");
    const size_t ratio = b.column("ratio");
    ASSERT_LT(ratio, b.header.size());
    EXPECT_EQ(first_row(b, "GE")[ratio], "7");
    EXPECT_EQ(first_row(b, "LE")[ratio], "8");
    EXPECT_EQ(first_row(b, "PARMS")[ratio], "1.3");
    EXPECT_EQ(first_row(b, "PROJGRAD")[ratio], ".");
}

// Under linear constraints alone the GRAD_LF row held zeros: it is the
// Lagrange function f - lambda c at the solution.  Its value is f (the
// active row's residual c = 2 - l5 - l6 is 0), its gradient that of f
// (the estimates table) plus lambda times the row's coefficients, and it
// vanishes at the constrained minimum where the gradient of f does not.
// Bounds alone have no factored rows and no such row.
TEST_F(Outest, LagrangeRowUnderLinearConstraints) {
    const RunResult r = run("outest=est", std::string("lincon l5 + l6 <= 2;\n") + kTight);
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const Rows rows = read_rows(dir_ + "/est.csv");
    const std::vector<std::string> lf = first_row(rows, "GRAD_LF"), le = first_row(rows, "LE");
    ASSERT_FALSE(lf.empty());
    const size_t rhs = rows.column("_RHS_"), first = rows.column("_ITER_") + 1;
    EXPECT_NEAR(std::stod(lf[rhs]), fit_of(rows), 1e-12 * fit_of(rows));
    double lambda = 0.0;
    for (const auto& row : rows.cells)
        if (row[0] == "LAGM LC" && row[1] == "LIC_VAL") lambda = std::stod(row[first]);
    EXPECT_GT(lambda, 1e-3);
    const auto grad = velix::test::column_by_parameter(velix::test::result_table(r), "GradObj");
    ASSERT_FALSE(grad.empty());
    for (size_t j = first; j < first + grad.size(); ++j) {
        const double gl = std::stod(lf[j]);
        EXPECT_NEAR(gl, grad.at(rows.header[j]) + lambda * std::stod(le[j]), 1e-9) << rows.header[j];
        EXPECT_LT(std::fabs(gl), 1e-6) << rows.header[j];
    }
    ASSERT_EQ(run("outest=est2", "bounds l5 <= 1;\n").exitStatus, 0);
    EXPECT_TRUE(first_row(read_rows(dir_ + "/est2.csv"), "GRAD_LF").empty());
}

// Five hundred linear constraints of which only the first binds: the fit
// is that of the first alone, OUTEST= writes every row exactly as given,
// and INEST= reads them all back (the same rows, the same fit).
TEST_F(Outest, ManyConstraintsKeepTheFitAndRoundTripExactly) {
    constexpr int kRows = 500;
    std::string many = "lincon l5 + l6 <= 2";
    for (int k = 1; k < kRows; ++k) many += ",\n  l2 + " + std::to_string(k) + " l9 <= " + std::to_string(1000 + k);
    ASSERT_EQ(run("outest=one", std::string("lincon l5 + l6 <= 2;\n") + kTight).exitStatus, 0);
    ASSERT_EQ(run("outest=many", many + ";\n" + kTight).exitStatus, 0);
    ASSERT_EQ(run("inest=many outest=back", kTight).exitStatus, 0);
    const Rows one = read_rows(dir_ + "/one.csv"), m = read_rows(dir_ + "/many.csv");
    const auto rows = constraint_rows(m);
    ASSERT_EQ(rows.size(), static_cast<size_t>(kRows));
    // _NAME_ is left out of the rows: a variable's cell is one to its left.
    const size_t rhs = m.column("_RHS_") - 1, l2 = m.column("l2") - 1, l9 = m.column("l9") - 1;
    for (int k = 1; k < kRows; ++k) {
        const auto& row = rows[static_cast<size_t>(k)];
        EXPECT_EQ(row[0] + " " + row[rhs] + " " + row[l2] + " " + row[l9],
                  "LE " + std::to_string(1000 + k) + " 1 " + std::to_string(k)) << k;
    }
    EXPECT_EQ(constraint_rows(read_rows(dir_ + "/back.csv")), rows);
    EXPECT_NEAR(fit_of(m), fit_of(one), 1e-10 * fit_of(one));
    EXPECT_NEAR(fit_of(read_rows(dir_ + "/back.csv")), fit_of(one), 1e-10 * fit_of(one));
}

}  // namespace
