// The scales of the covariance of the estimates in OUTEST= against their
// formulas: the information J'WJ (INFORMAT rows) of every method whose
// covariance is inverted gives the standard errors as (c/(N-1)) (J'WJ)^-1
// with c = 2 for ML (the discrepancy is half a deviance) and c = 1 for WLS
// (Browne 1984, eq. 2.12); a least-squares fit has the variance factor
// sigma^2 = |2 f / N| of its objective f; a dependent parameter has the
// delta-method variance g' V g; a parameter held at an active bound has
// the one standard error 0 and leaves the others those of the model with
// it fixed (lavaan 0.6.14); OUTJAC alone reports no failure.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "harness.h"

namespace velix::test {
namespace {

// hs_cfa_ml with the method and further options, its OUTEST= rows (and
// the run into *run when given).
Rows outest_of(const std::string& options, RunResult* run = nullptr) {
    const std::string est = own_folder("stderr_scales") + "/est.csv";
    std::remove(est.c_str());
    std::string program = read_text(data_path("hs_cfa_ml.vx"));
    program.replace(program.find("method=ml covariance"), 20, options + " covariance outest='" + est + "'");
    const RunResult r = run_velix(program, {"hs.csv"});
    EXPECT_EQ(r.exitStatus, 0) << r.log;
    if (run != nullptr) *run = r;
    return read_rows(est);
}

// The parameter cells of the rows of _TYPE_ `type`, as numbers.
std::vector<std::vector<double>> numbers(const Rows& rows, const std::string& type) {
    const size_t first = rows.column("_ITER_") + 1;
    std::vector<std::vector<double>> out;
    for (const auto& r : rows.cells) {
        if (r[0] != type) continue;
        out.emplace_back();
        for (size_t c = first; c < r.size(); ++c) out.back().push_back(std::stod(r[c]));
    }
    return out;
}

double rhs(const Rows& rows, const std::string& type) {
    for (const auto& r : rows.cells)
        if (r[0] == type) return std::stod(r[rows.column("_RHS_")]);
    return std::nan("");
}

// The information is factored once at the solution: the covariance in
// OUTEST= inverts the INFORMAT rows, and the optimizer's AppStdErr of ML
// are the same standard errors.
TEST(CovarianceScales, StandardErrorsFromTheInformationMatrix) {
    constexpr double kNm1 = 300.0;  // N - 1 of hs.csv
    for (const auto& [method, c] : {std::pair<std::string, double>{"ml", 2.0}, {"wls", 1.0}}) {
        SCOPED_TRACE(method);
        RunResult run;
        const Rows rows = outest_of("method=" + method, &run);
        const std::vector<std::vector<double>> info = numbers(rows, "INFORMAT"), cov = numbers(rows, "COV");
        const std::vector<double> se = numbers(rows, "STDERR").at(0);
        ASSERT_EQ(info.size(), se.size());
        ASSERT_EQ(cov.size(), se.size());
        // COV INFORMAT = c/(N-1) I, and STDERR the root of COV's diagonal.
        for (size_t i = 0; i < se.size(); ++i) {
            EXPECT_NEAR(se[i], std::sqrt(cov[i][i]), 1e-12 * se[i]) << i;
            for (size_t j = 0; j < se.size(); ++j) {
                double product = 0.0;
                for (size_t k = 0; k < se.size(); ++k) product += cov[i][k] * info[k][j];
                EXPECT_NEAR(product, i == j ? c / kNm1 : 0.0, 1e-9 * c / kNm1) << i << ", " << j;
            }
        }
        if (method != "ml") continue;
        const JsonValue& t = *run.items(0, "table", "ParameterEstimates").at(1);
        ASSERT_EQ(t["rows"].size(), se.size());
        for (size_t i = 0; i < se.size(); ++i) EXPECT_NEAR(cell(t, i, "AppStdErr").number(), se[i], 1e-12 * se[i]) << i;
    }
}

TEST(CovarianceScales, LeastSquaresVarianceFactorIsTwiceTheObjectiveOverN) {
    const Rows rows = outest_of("method=uls");
    const double f = rhs(rows, "PARMS"), n = numbers(rows, "_NOBS_").at(0).at(0);
    EXPECT_NEAR(rhs(rows, "SIGSQ"), 2.0 * f / n, 1e-12 * f);
    const std::vector<std::vector<double>> cov = numbers(rows, "LSCOV");
    const std::vector<double> se = numbers(rows, "STDERR").at(0);
    ASSERT_EQ(cov.size(), se.size());
    for (size_t k = 0; k < se.size(); ++k) EXPECT_NEAR(se[k], std::sqrt(cov[k][k]), 1e-12 * se[k]);
}

// The cell of the row of _TYPE_ `type` and _NAME_ `name` in column `column`.
double cell_of(const Rows& rows, const std::string& type, const std::string& name, const std::string& column) {
    for (const auto& r : rows.cells)
        if (r[0] == type && r[1] == name) return std::stod(r[rows.column(column)]);
    ADD_FAILURE() << "no " << type << " row " << name;
    return std::nan("");
}

// Dependent parameters: c = b1 l2, carried by a model element, has the
// delta-method standard error sqrt(g' V g), g = (l2, b1), from the
// covariance of the estimates in OUTEST=; ind = b1 b2, which no element
// carries, has none: missing, not 0.
TEST(DependentParameters, DeltaMethodInTheModelMissingOutside) {
    const std::string est = own_folder("stderr_scales") + "/dep.csv";
    std::remove(est.c_str());
    std::string program = read_text(data_path("poldem_ml.vx"));
    program.replace(program.find("covariance;"), 11, "covariance pestim outest='" + est + "';");
    program.replace(program.find("b3 Fdem60"), 9, "c Fdem60");
    program.replace(program.find("run;"), 4, "parameters ind;\nc = b1 * l2;\nind = b1 * b2;\nrun;");
    const RunResult r = run_velix(program, {"poldem.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const Rows rows = read_rows(est);
    const double b1 = cell_of(rows, "PARMS", "ML", "b1"), l2 = cell_of(rows, "PARMS", "ML", "l2");
    const double var = l2 * l2 * cell_of(rows, "COV", "b1", "b1") + b1 * b1 * cell_of(rows, "COV", "l2", "l2") +
                       2.0 * b1 * l2 * cell_of(rows, "COV", "b1", "l2");
    // The dependent parameters' vectors in print order: start values,
    // estimates, standard errors, t values.
    const std::vector<const JsonValue*> tables = r.items(0, "table", "DependParms");
    ASSERT_GE(tables.size(), 3u);
    const JsonValue& se = *tables[2];
    ASSERT_EQ(cell(se, 0, "Parameter").str(), "c");
    EXPECT_NEAR(cell(se, 0, "Estimate").number(), std::sqrt(var), 1e-8 * std::sqrt(var));
    ASSERT_EQ(cell(se, 1, "Parameter").str(), "ind");
    EXPECT_TRUE(cell(se, 1, "Estimate").is_null());
}

// A parameter held at an active bound is not estimated: the covariance is
// that of the free parameters, whose standard errors are those of the
// model with the parameter fixed at the bound (lavaan 0.6.14,
// bound_reference.R), and the held one has the standard error 0 in the
// optimizer's table, the OUTEST= STDERR row and OUTRAM= alike.
TEST(CovarianceScales, HeldParameterHasOneStandardError) {
    const std::string folder = own_folder("stderr_scales");
    std::remove((folder + "/est.csv").c_str());
    std::remove((folder + "/ram.csv").c_str());
    std::string program = read_text(data_path("ability_ml.vx"));
    program.replace(program.find("covariance;"), 11,
                    "covariance outest='" + folder + "/est.csv' outram='" + folder + "/ram.csv';");
    program.replace(program.find("run;"), 4, "bounds 3.8 <= ve2, vv <= 60, l4 <= 0.35;\nrun;");
    const RunResult r = run_velix(program, {"ability.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const std::map<std::string, double> reference = {
        {"l2", 0.0658179857}, {"l3", 0.319272242}, {"l6", 0.186045262},  {"vg", 3.43448993},
        {"vv", 8.40037607},   {"cgv", 3.62844578}, {"ve1", 2.07689377},  {"ve2", 0.650831916},
        {"ve3", 12.9243423},  {"ve4", 1.43169323}, {"ve5", 4.80826075},  {"ve6", 11.5676126}, {"l4", 0.0}};
    const Rows est = read_rows(folder + "/est.csv");
    const JsonValue& t = *r.items(0, "table", "ParameterEstimates").at(1);
    for (size_t i = 0; i < t["rows"].size(); ++i) {
        const std::string name = cell(t, i, "Parameter").str();
        SCOPED_TRACE(name);
        ASSERT_TRUE(reference.count(name));
        const double ref = reference.at(name);
        EXPECT_NEAR(cell(t, i, "AppStdErr").number(), ref, 1e-5 * ref);
        EXPECT_NEAR(cell_of(est, "STDERR", "ML", name), ref, 1e-5 * ref);
    }
    const Rows ram = read_rows(folder + "/ram.csv");
    size_t seen = 0;
    for (const auto& row : ram.cells) {
        if (row[1] != "l4") continue;
        EXPECT_EQ(std::stod(row[ram.column("_STDERR_")]), 0.0);
        ++seen;
    }
    EXPECT_EQ(seen, 1u);
}

// OUTJAC: the JACOBIAN rows, one per moment, come from the procedure's own
// Jacobian; the optimizer's empty Jacobian slot is not called and nothing
// is reported as failed.
TEST(CovarianceScales, JacobianRowsWithoutAFalseWarning) {
    const std::string est = own_folder("stderr_scales") + "/jac.csv";
    std::remove(est.c_str());
    std::string program = read_text(data_path("hs_cfa_ml.vx"));
    program.replace(program.find("covariance"), 10, "covariance outjac outest='" + est + "'");
    const RunResult r = run_velix(program, {"hs.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    EXPECT_EQ(r.log.find("WARNING"), std::string::npos) << r.log;
    EXPECT_EQ(numbers(read_rows(est), "JACOBIAN").size(), 45u);  // 9 * 10 / 2 moments
}

}  // namespace
}  // namespace velix::test
