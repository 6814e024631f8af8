// Whole programs whose information matrix is singular because the model is
// not identified: the run warns and names the parameters that move along
// the direction of non-identification, lists the linear dependencies,
// leaves those parameters' standard errors missing in every table, and
// gives every other parameter the standard error of an identified model
// of the same fit, from R's lavaan 0.6.14 (hs_cfa_ml.expected.json and
// identification_reference.R beside this file).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/hs_fixture.h"
#include "tests/support/fixtures.h"

namespace velix::test {
namespace {

constexpr double kSeTolerance = 1e-5;  // relative, the accuracy of the reference's stop

// hs_cfa_ml with tight convergence and the text `from` of its model
// replaced by `to` (twice, with the second pair).
std::string hs_program(const std::string& from, const std::string& to, const std::string& from2 = "",
                       const std::string& to2 = "") {
    std::string model = kHsModel;
    model.replace(model.find(from), from.size(), to);
    if (!from2.empty()) model.replace(model.find(from2), from2.size(), to2);
    return "proc velix data=hs method=ml covariance;\n nloptions gconv=1e-14 absgconv=1e-12;\n" + model + "run;\n";
}

// The standard errors of the optimizer's result table and of the variance
// and covariance tables of the exogenous variables, by parameter; a
// missing one is NaN.
struct StdErrs {
    std::map<std::string, double> optimizer, exogenous;
};

StdErrs std_errs(const RunResult& r) {
    StdErrs out{column_by_parameter(result_table(r), "AppStdErr"), {}};
    for (const char* name : {"EstVarExog", "EstCovExog"})
        for (const auto& [parameter, se] : column_by_parameter(r.table(0, name), "StdErr")) out.exogenous[parameter] = se;
    return out;
}

// The run warns once, naming exactly `undetermined`, lists the
// dependencies, shows no standard error for those parameters and the
// reference standard error for every other parameter of `reference`.
void expect_not_identified(const RunResult& r, const std::set<std::string>& undetermined,
                           const std::map<std::string, double>& reference) {
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const size_t at = r.log.find("WARNING: The information matrix is singular");
    ASSERT_NE(at, std::string::npos) << r.log;
    const std::string warning = r.log.substr(at, r.log.find('\n', at) - at);
    for (const std::string& name : undetermined)
        EXPECT_NE(warning.find(" " + name + " "), std::string::npos) << name << " in " << warning;
    EXPECT_EQ(r.items(0, "table", "LinDep").size(), 1u);  // listed once, not by each covariance
    const StdErrs se = std_errs(r);
    for (const auto& [name, value] : se.optimizer) {
        SCOPED_TRACE(name);
        const bool named = warning.find(" " + name + " ") != std::string::npos;
        EXPECT_EQ(named, undetermined.count(name) > 0);
        if (undetermined.count(name)) {
            EXPECT_TRUE(std::isnan(value));
            if (se.exogenous.count(name)) {
                EXPECT_TRUE(std::isnan(se.exogenous.at(name)));
            }
            continue;
        }
        ASSERT_TRUE(reference.count(name));
        const double ref = reference.at(name);
        EXPECT_NEAR(value, ref, kSeTolerance * ref);
        if (se.exogenous.count(name)) {
            EXPECT_NEAR(se.exogenous.at(name), ref, kSeTolerance * ref);
        }
    }
}

// The marker loading of Fvis freed: Sigma does not change when l1, l2, l3
// grow by c, vvis shrinks by c^2 and cvt, cvs by c.  Every other
// parameter keeps the standard error of hs_cfa_ml itself.
TEST(Identification, FreedMarkerLoading) {
    const JsonValue expected = JsonValue::parse(read_text(data_path("hs_cfa_ml.expected.json")));
    std::map<std::string, double> reference;
    for (const char* name : {"l5", "l6", "l8", "l9", "vtxt", "cts", "vspd", "ve1", "ve2", "ve3", "ve4", "ve5", "ve6",
                             "ve7", "ve8", "ve9"})
        reference[name] = expected["params"][name]["se"].number();
    // G4=0 keeps the preset size limit of the generalized inverse, as does
    // G4= not given or negative (60, above the 22 parameters).
    for (const char* g4 : {"", " g4=0", " g4=-5"}) {
        SCOPED_TRACE(g4);
        std::string program = hs_program("x1 = 1.0 Fvis", "x1 = l1 Fvis");
        program.insert(program.find("covariance") + 10, g4);
        const RunResult r = run_velix(program, {"hs.csv"});
        expect_not_identified(r, {"l1", "l2", "l3", "vvis", "cvt", "cvs"}, reference);
    }

    // ULS forms no covariance from its information but warns all the same.
    std::string uls = hs_program("x1 = 1.0 Fvis", "x1 = l1 Fvis");
    uls.replace(uls.find("method=ml"), 9, "method=uls");
    const RunResult u = run_velix(uls, {"hs.csv"});
    EXPECT_NE(u.log.find("The standard errors of l1 l2 l3 vvis cvt cvs are missing"), std::string::npos) << u.log;

    // G4= below the 22 parameters: no generalized inverse, no standard error.
    std::string small = hs_program("x1 = 1.0 Fvis", "x1 = l1 Fvis");
    small.replace(small.find("covariance"), 10, "covariance g4=21");
    const RunResult s = run_velix(small, {"hs.csv"});
    ASSERT_EQ(s.exitStatus, 0) << s.log;
    EXPECT_NE(s.log.find("too large for a generalized inverse"), std::string::npos) << s.log;
    for (const auto& [name, value] : std_errs(s).optimizer) EXPECT_TRUE(std::isnan(value)) << name;
}

// A factor with two indicators and nothing else: Fvis measured by x1 and
// x2 only and uncorrelated with the other factors has four parameters for
// three moments.  The reference fixes l2 = 1, which fits those moments
// exactly and so leaves the rest of the model as it is.
TEST(Identification, FactorWithTwoIndicators) {
    const std::map<std::string, double> reference = {
        {"l5", 0.0665050575},  {"l6", 0.056205522},  {"l3", 0.0697020098},  {"l8", 0.16422235},
        {"l9", 0.122964459},   {"vtxt", 0.112634351}, {"vspd", 0.0963411394}, {"cts", 0.0525021643},
        {"ve3", 0.101738873},  {"ve4", 0.0486822135}, {"ve5", 0.059108297},  {"ve6", 0.0437577031},
        {"ve7", 0.0838474533}, {"ve8", 0.0837175293}, {"ve9", 0.0711794528}};
    const RunResult r = run_velix(hs_program("x3 = l3 Fvis", "x3 = l3 Ftxt", "cov Fvis Ftxt = cvt, Fvis Fspd = cvs,", "cov"),
                                  {"hs.csv"});
    expect_not_identified(r, {"l2", "vvis", "ve1", "ve2"}, reference);
}

// A model identified by an active constraint alone: the marker loading
// freed and set to 1 by LINCON is hs_cfa_ml itself, with its standard
// errors in every table and no warning (the whole information is
// singular, its inverse on the constraint's null space is not).
TEST(Identification, ActiveConstraintIdentifiesTheModel) {
    const JsonValue expected = JsonValue::parse(read_text(data_path("hs_cfa_ml.expected.json")));
    std::string program = hs_program("x1 = 1.0 Fvis", "x1 = l1 Fvis");
    program.insert(program.find("run;"), "lincon l1 = 1;\n");
    const RunResult r = run_velix(program, {"hs.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    EXPECT_EQ(r.log.find("WARNING"), std::string::npos) << r.log;
    const StdErrs se = std_errs(r);
    ASSERT_EQ(se.optimizer.size(), 22u);
    for (const std::map<std::string, double>* table : {&se.optimizer, &se.exogenous})
        for (const auto& [name, value] : *table) {
            const double ref = name == "l1" ? 0.0 : expected["params"][name]["se"].number();
            EXPECT_NEAR(value, ref, kSeTolerance * ref + 1e-7) << name;
        }
}

// No alarm where the model is identified: Heywood cases (four factors of
// hs.csv, one unique standard deviation near 0, or held at its bound 0,
// where its information vanishes: it is not estimated and its standard
// error is 0) and the 306 parameters of the large reference model
// (tests/fixtures/large).  The reference programs are checked in
// estimation_test.cpp.
TEST(Identification, NoWarningOnIdentifiedModels) {
    for (const char* bounds : {"", " bounds 0 <= _U5;\n"}) {
        const RunResult heywood = run_velix(
            std::string("proc velix data=hs covariance;\n factor n=4 heywood;\n") + bounds + "run;\n", {"hs.csv"});
        ASSERT_EQ(heywood.exitStatus, 0) << heywood.log;
        EXPECT_EQ(heywood.log.find("singular"), std::string::npos) << heywood.log;
        if (*bounds) {
            EXPECT_EQ(std_errs(heywood).optimizer.at("_U5"), 0.0);
        }
    }

    const RunResult large = run_velix(large_reference_program(), {});
    ASSERT_EQ(large.exitStatus, 0) << large.log;
    EXPECT_EQ(column_by_parameter(result_table(large), "Estimate").size(), 306u);
    EXPECT_EQ(large.log.find("singular"), std::string::npos) << large.log;
}

// hs_cfa_ml on `csv` (a path) with PROC options `options`, converged
// tightly enough to compare estimates and standard errors to 1e-6.
RunResult run_hs_on(const std::string& csv, const std::string& options = "") {
    return run_velix("proc velix data='" + csv + "' method=ml covariance" + options +
                         ";\n nloptions gconv=1e-14 absgconv=1e-12;\n" + kHsModel + "run;\n",
                     {});
}

// The run ends at its minimum with no alarm about identification or the
// gradient, and every estimate and standard error is the reference's times
// the parameter's own factor (1 where none is given), to 1e-6 relative.
void expect_rescaled(const RunResult& r, const RunResult& reference, const std::map<std::string, double>& factor,
                     double seFactor) {
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    EXPECT_EQ(r.log.find("information matrix is singular"), std::string::npos) << r.log;
    EXPECT_EQ(r.log.find("gradient at the solution is large"), std::string::npos) << r.log;
    const auto est = column_by_parameter(result_table(r), "Estimate"), se = column_by_parameter(result_table(r), "AppStdErr");
    const auto refEst = column_by_parameter(result_table(reference), "Estimate");
    const auto refSe = column_by_parameter(result_table(reference), "AppStdErr");
    ASSERT_EQ(est.size(), refEst.size());
    for (const auto& [name, value] : refEst) {
        SCOPED_TRACE(name);
        const double c = factor.count(name) ? factor.at(name) : 1.0, s = c * seFactor * refSe.at(name);
        EXPECT_NEAR(est.at(name), c * value, 1e-6 * std::fabs(c * value));
        ASSERT_FALSE(std::isnan(se.at(name)));
        EXPECT_NEAR(se.at(name), s, 1e-6 * s);
    }
}

// x1 (the marker of Fvis) or x2 measured in units from 1e-8 to 1e8 times
// its own: the same fit, with the estimates and standard errors of the
// parameters that carry the variable's unit times its powers of c.  No
// unit calls the model unidentified or its minimum unsettled, and the
// start values follow the units.  At 1e50 the root mean square residual
// prints in E notation within its field of 10 in the Fit Summary.
TEST(Identification, TheUnitsOfAVariableDecideNothing) {
    const RunResult reference = run_hs_on(data_path("hs.csv"));
    auto scaled = [](size_t column, int e) {
        return scaled_copy(data_path("hs.csv"),
                           own_folder("units") + "/hs" + std::to_string(column) + "_" + std::to_string(e + 8) + ".csv",
                           column, std::pow(10.0, e));
    };
    for (int e = -8; e <= 8; ++e) {
        const double c = std::pow(10.0, e);
        SCOPED_TRACE(c);
        expect_rescaled(run_hs_on(scaled(1, e)), reference, {{"l2", c}, {"ve2", c * c}}, 1.0);
        expect_rescaled(run_hs_on(scaled(0, e)), reference,
                        {{"l2", 1 / c}, {"l3", 1 / c}, {"vvis", c * c}, {"cvt", c}, {"cvs", c}, {"ve1", c * c}}, 1.0);
    }
    const RunResult huge = run_hs_on(scaled(1, 50));
    const std::string label = "Root Mean Square Residual (RMR)";
    const size_t at = huge.listing.find(label);
    ASSERT_NE(at, std::string::npos) << huge.listing;
    std::string value = huge.listing.substr(at + label.size(), huge.listing.find('\n', at) - at - label.size());
    value.erase(0, value.find_first_not_of(' '));
    EXPECT_LE(value.size(), 10u) << value;
    EXPECT_NE(value.find("E+"), std::string::npos) << value;
    const double rmr = factoid_values(*huge.items(0, "factoid", "Fit").at(0)).at(label);
    EXPECT_NEAR(std::stod(value), rmr, 1e-4 * rmr);
}

// The moments of hs.csv as a TYPE=COV data set of N = 1000, analysed with
// NOBS=1000, 1e6 and 1e12 (moments near 1e-9, below the default SINGULAR
// of the start values' solves).  A given N rescales the moments by
// k = (1000 - 1) / (N - 1), a change of the units of every variable: the
// loadings stay, the variances and covariances are times k, and every
// standard error is present and times sqrt(k) besides.
TEST(Identification, TheNumberOfObservationsDecidesNothing) {
    const Rows hs = read_rows(data_path("hs.csv"));
    const size_t p = 9;
    const double n = static_cast<double>(hs.cells.size());
    std::vector<double> mean(p, 0.0);
    for (const auto& row : hs.cells)
        for (size_t j = 0; j < p; ++j) mean[j] += std::stod(row[j]) / n;
    const std::string csv = own_folder("nobs") + "/hs.csv";
    std::ofstream out(csv);
    out.precision(17);
    out << "# TYPE=COV\n_TYPE_,_NAME_,x1,x2,x3,x4,x5,x6,x7,x8,x9\nN,";
    for (size_t j = 0; j < p; ++j) out << ",1000";
    for (size_t i = 0; i < p; ++i) {
        out << "\nCOV,x" << i + 1;
        for (size_t j = 0; j < p; ++j) {
            double cov = 0.0;
            for (const auto& row : hs.cells) cov += (std::stod(row[i]) - mean[i]) * (std::stod(row[j]) - mean[j]) / (n - 1.0);
            out << "," << cov;
        }
    }
    out << "\n";
    out.close();
    const RunResult base = run_hs_on(csv, " nobs=1000");
    ASSERT_EQ(base.exitStatus, 0) << base.log;
    for (const double nobs : {1e6, 1e12}) {
        SCOPED_TRACE(nobs);
        const double k = (1000.0 - 1.0) / (nobs - 1.0);
        std::map<std::string, double> factor;
        for (const auto& [name, value] : column_by_parameter(result_table(base), "Estimate"))
            if (name[0] != 'l') factor[name] = k;
        char option[32];
        std::snprintf(option, sizeof option, " nobs=%g", nobs);
        expect_rescaled(run_hs_on(csv, option), base, factor, std::sqrt(k));
    }
}

}  // namespace
}  // namespace velix::test
