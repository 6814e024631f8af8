// The scales of the covariance of the estimates in OUTEST= against their
// formulas: the information J'WJ (INFORMAT rows) of every method whose
// covariance is inverted gives the standard errors as (c/(N-1)) (J'WJ)^-1
// with c = 2 for ML (the discrepancy is half a deviance) and c = 1 for WLS
// (Browne 1984, eq. 2.12); a least-squares fit has the variance factor
// sigma^2 = |2 f / N| of its objective f; a dependent parameter, in the
// model or only in the program, has the delta-method variance g' V g
// (lavaan 0.6.14 for an indirect effect); a parameter held at an active
// bound has the one standard error 0 and leaves the others those of the
// model with it fixed (lavaan 0.6.14); under any active constraint every table and
// data set of every model kind shows the standard errors of the
// constrained model (lavaan 0.6.14); OUTJAC alone reports no failure.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "harness.h"
#include "hs_fixture.h"

namespace velix::test {
namespace {

// hs_cfa_ml with the method and further options (and statements), its
// OUTEST= rows (and the run into *run when given).
Rows outest_of(const std::string& options, RunResult* run = nullptr, const std::string& statements = "") {
    const std::string est = own_folder("stderr_scales") + "/est.csv";
    std::remove(est.c_str());
    std::string program = read_text(data_path("hs_cfa_ml.vx"));
    program.replace(program.find("method=ml covariance"), 20, options + " covariance outest='" + est + "'");
    program.insert(program.find("run;"), statements);
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
// are the same standard errors.  VARDEF=N divides the moments by N but
// leaves N' = N - 1, as in the chi-square.
TEST(CovarianceScales, StandardErrorsFromTheInformationMatrix) {
    constexpr double kNm1 = 300.0;  // N - 1 of hs.csv
    for (const auto& [method, c] : {std::pair<std::string, double>{"ml", 2.0}, {"wls", 1.0}, {"ml vardef=n", 2.0}}) {
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
        if (method.rfind("ml", 0) != 0) continue;
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

// The values of piece `label` of a matrix item ("S" standard errors, "N"
// labels, "C" expected changes), or its own values.
const JsonValue& piece(const JsonValue& m, const std::string& label) {
    const JsonValue& pieces = m["pieces"];
    for (size_t p = 0; p < pieces.size(); ++p)
        if (pieces[p]["label"].str() == label) return pieces[p]["values"];
    return m["values"];
}

using Reported = std::map<std::string, std::map<std::string, double>>;

// The standard errors of a run's tables, by table and parameter: the
// optimizer's table, the parameter vectors (independent and dependent),
// the equations and the exogenous tables and the RAM list.
Reported table_errors(const RunResult& r) {
    Reported out;
    out["ParameterEstimates"] = column_by_parameter(result_table(r), "AppStdErr");
    out["StdErrs"] = column_by_parameter(r.table(0, "StdErrs"), "Estimate");
    const std::vector<const JsonValue*> dependent = r.items(0, "table", "DependParms");
    if (dependent.size() >= 4) out["DependParms"] = column_by_parameter(*dependent[2], "Estimate");
    for (const char* name : {"EstVarExog", "EstCovExog", "RAMEstimates"})
        if (!r.table(0, name).is_null()) out[name] = column_by_parameter(r.table(0, name), "StdErr");
    // An equation's "Std Err" row: each term's CoefficientK beside its ParameterK.
    const JsonValue& eq = r.table(0, "EstManifestEq");
    for (size_t row = 0; row < eq["rows"].size(); ++row)
        for (size_t c = 0; cell(eq, row, "Variable").str() == "Std Err" && c < eq["columns"].size(); ++c) {
            const std::string column = eq["columns"][c]["name"].str();
            const JsonValue& se = eq["rows"][row][c];
            if (column.rfind("Coefficient", 0) == 0 && se.is_number())
                out["EstManifestEq"][cell(eq, row, "Parameter" + column.substr(11)).str()] = se.number();
        }
    return out;
}

// VARDEF=N analyses the moments with divisor N, as lavaan's likelihood =
// "normal" does (the same estimates), and keeps N' = N - 1 in the
// chi-square and in the covariance of the estimates: the chi-square is
// lavaan's times (N - 1) / N, the standard errors lavaan's times
// sqrt(N / (N - 1)) (peer_conventions.R; the fit run to the minimum).
TEST(CovarianceScales, VardefNKeepsTheMultiplierOfTheChiSquare) {
    const std::map<std::string, double> ref = reference_rows("peer_conventions.csv", "vardef_n");
    constexpr double kN = 301.0;
    // As users run it, and run to the minimum.
    const struct {
        const char* options;
        double rel;
    } runs[] = {{"", 1e-3}, {"nloptions gconv=1e-14 absgconv=1e-12;\n", 1e-5}};
    for (const auto& r : runs) {
        RunResult run;
        const Rows rows = outest_of("method=ml vardef=n", &run, r.options);
        const std::map<std::string, double> fit = factoid_values(*run.items(0, "factoid", "Fit").at(0));
        EXPECT_NEAR(fit.at("Chi-Square"), ref.at("chisq") * (kN - 1.0) / kN, 1e-6 * ref.at("chisq")) << r.options;
        int checked = 0;
        for (const auto& [key, value] : ref) {
            if (key.rfind("se:", 0) != 0) continue;
            const std::string p = key.substr(3);
            EXPECT_NEAR(cell_of(rows, "PARMS", "ML", p), ref.at("est:" + p), r.rel * ref.at("est:" + p)) << p << r.options;
            EXPECT_NEAR(cell_of(rows, "STDERR", "ML", p), value * std::sqrt(kN / (kN - 1.0)), r.rel * value) << p << r.options;
            ++checked;
        }
        EXPECT_EQ(checked, 21);
        // The tables reach their standard errors by another path than OUTEST=.
        size_t shown = 0;
        for (const auto& [where, errors] : table_errors(run))
            for (const auto& [name, se] : errors) {
                if (!ref.count("se:" + name)) continue;
                const double want = ref.at("se:" + name) * std::sqrt(kN / (kN - 1.0));
                EXPECT_NEAR(se, want, r.rel * want) << where << " " << name << r.options;
                ++shown;
            }
        EXPECT_EQ(shown, 2u * 21u) << "the optimizer's table, and the equations and exogenous tables";
    }
}

// The dependent parameters' vectors of a PESTIM run in print order: start
// values, estimates, standard errors, t values.
std::vector<const JsonValue*> dependent_tables(const RunResult& r) { return r.items(0, "table", "DependParms"); }

// Dependent parameters: c = b1 l2, carried by a model element, and
// ind = b1 b2, which no element carries, have the delta-method standard
// errors sqrt(g' V g), g = (l2, b1) and (b2, b1), from the covariance of
// the estimates in OUTEST=, and their t values.
TEST(DependentParameters, DeltaMethodInAndOutsideTheModel) {
    const std::string est = own_folder("stderr_scales") + "/dep.csv";
    std::remove(est.c_str());
    std::string program = read_text(data_path("poldem_ml.vx"));
    program.replace(program.find("covariance;"), 11, "covariance pestim outest='" + est + "';");
    program.replace(program.find("b3 Fdem60"), 9, "c Fdem60");
    program.replace(program.find("run;"), 4, "parameters ind;\nc = b1 * l2;\nind = b1 * b2;\nrun;");
    const RunResult r = run_velix(program, {"poldem.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const Rows rows = read_rows(est);
    const auto delta = [&](const std::string& x, const std::string& y) {
        const double vx = cell_of(rows, "PARMS", "ML", x), vy = cell_of(rows, "PARMS", "ML", y);
        return std::sqrt(vy * vy * cell_of(rows, "COV", x, x) + vx * vx * cell_of(rows, "COV", y, y) +
                         2.0 * vx * vy * cell_of(rows, "COV", x, y));
    };
    const std::vector<const JsonValue*> tables = dependent_tables(r);
    ASSERT_EQ(tables.size(), 4u);
    const std::pair<std::string, double> expected[] = {{"c", delta("b1", "l2")}, {"ind", delta("b1", "b2")}};
    for (size_t k = 0; k < 2; ++k) {
        const auto& [name, se] = expected[k];
        ASSERT_EQ(cell(*tables[2], k, "Parameter").str(), name);
        EXPECT_NEAR(cell(*tables[2], k, "Estimate").number(), se, 1e-8 * se) << name;
        const double t = cell(*tables[1], k, "Estimate").number() / se;
        EXPECT_NEAR(cell(*tables[3], k, "Estimate").number(), t, 1e-8 * std::fabs(t)) << name;
    }
}

// The indirect effect of a mediation, ind = a b, and the total effect,
// tot = cp + a b, which no path carries, against lavaan 0.6.14 on R's
// datasets::attitude (covariances of complaints, learning and rating,
// N = 30; attitude_reference.R).  The estimates of a and b are
// uncorrelated, those of cp and b are not: tot's standard error holds
// their covariance.
TEST(DependentParameters, IndirectEffectAsLavaan) {
    const RunResult r = run_velix("proc velix data=attitude method=ml covariance pestim;\n"
                                  "lineqs learning = a complaints + D1, rating = cp complaints + b learning + D2;\n"
                                  "std complaints = vc, D1 D2 = vd1 vd2;\nparameters ind tot;\nind = a * b;\n"
                                  "tot = cp + a * b;\nrun;\n",
                                  {"attitude.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const std::vector<const JsonValue*> tables = dependent_tables(r);
    ASSERT_EQ(tables.size(), 4u);
    const struct {
        const char* name;
        double lavaan[3];  // estimate, standard error, z
    } effects[] = {{"ind", {0.1110921825, 0.0736428120, 1.5085271665}},
                   {"tot", {0.7546098187, 0.0958365397, 7.8739259662}}};
    for (size_t row = 0; row < 2; ++row)
        for (size_t k = 0; k < 3; ++k) {
            const double want = effects[row].lavaan[k];
            ASSERT_EQ(cell(*tables[k + 1], row, "Parameter").str(), effects[row].name);
            EXPECT_NEAR(cell(*tables[k + 1], row, "Estimate").number(), want, 1e-6 * want) << effects[row].name << k;
        }
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

// The three-factor model of hs_cfa_ml in the other model kinds.  COSAN
// starts near the solution: from its own start values the run under the
// nonlinear equality wanders off.
const char* const kHsRam =
    "ram 1 1 10 1.0, 1 2 10 l2, 1 3 10 l3, 1 4 11 1.0, 1 5 11 l5, 1 6 11 l6, 1 7 12 1.0, 1 8 12 l8, 1 9 12 l9,\n"
    "    2 1 1 ve1, 2 2 2 ve2, 2 3 3 ve3, 2 4 4 ve4, 2 5 5 ve5, 2 6 6 ve6, 2 7 7 ve7, 2 8 8 ve8, 2 9 9 ve9,\n"
    "    2 10 10 vvis, 2 11 11 vtxt, 2 12 12 vspd, 2 11 10 cvt, 2 12 10 cvs, 2 12 11 cts;\n";

std::string hs_matrices(const std::string& f, const std::string& p, const std::string& u, bool starts) {
    return "matrix " + f + " [ , 1] = 1.0 l2 l3, [ , 2] = 0 0 0 1.0 l5 l6, [ , 3] = 0 0 0 0 0 0 1.0 l8 l9;\n" +
           "matrix " + p +
           (starts ? " [1, 1] = vvis (0.8) vtxt (0.9) vspd (0.4), [2, 1] = cvt (0.4) cts (0.2), [3, 1] = cvs (0.25);\n"
                   : " [1, 1] = vvis vtxt vspd, [2, 1] = cvt cts, [3, 1] = cvs;\n") +
           "matrix " + u + " [1, 1] = ve1-ve9" + (starts ? " (0.6 1.1 0.8 0.4 0.4 0.4 0.6 0.5 0.7);\n" : ";\n");
}

// The standard errors a run reports, by where and parameter: the
// optimizer's table, the parameter vectors (independent and dependent),
// the equations and the exogenous tables, the RAM list, the model
// matrices, OUTRAM= and the STDERR and COV rows of OUTEST=.
Reported reported(const RunResult& r, const std::string& ram, const std::string& est) {
    Reported out = table_errors(r);
    for (const JsonValue* m : r.items(0, "matrix", "EstParms")) {
        for (size_t i = 0; i < (*m)["nRows"].number(); ++i)
            for (size_t j = 0; j < (*m)["nColumns"].number(); ++j) {
                const std::string label = piece(*m, "N")[i][j].str();
                const JsonValue& se = piece(*m, "S")[i][j];
                if (!label.empty()) out["EstParms"][label.substr(1, label.size() - 2)] = se.is_number() ? se.number() : NAN;
            }
    }
    const Rows list = read_rows(ram);
    for (const auto& row : list.cells)
        if (row[0] == "ESTIM" && !row[1].empty()) out["OUTRAM"][row[1]] = std::stod(row[list.column("_STDERR_")]);
    const Rows rows = read_rows(est);
    for (const auto& row : rows.cells) {
        for (size_t c = rows.column("_ITER_") + 1; row[0] == "STDERR" && c < row.size(); ++c)
            out["OUTEST STDERR"][rows.header[c]] = std::stod(row[c]);
        if (row[0] == "COV") out["OUTEST COV"][row[1]] = std::sqrt(std::stod(row[rows.column(row[1])]));
    }
    return out;
}

// One active constraint of each kind on each model kind: every standard
// error shown or written is lavaan's for the model under that constraint
// (constrained_reference.R), where before a linear or nonlinear row the
// procedure's tables kept the unconstrained ones; a nonlinear dependent
// parameter gives the same numbers as the equivalent nonlinear equality.
// The modification indices hold the constraints too: a fixed cell's score
// test and expected change are lavaan's, a free cell's Wald statistic
// divides by the same variance as the tables.  The nonlinear constraints
// stop at the default criteria short of a convergence test; FCONV2=
// tightened reaches one.
TEST(ConstrainedModels, EveryTableShowsTheStandardErrorsOfTheConstrainedModel) {
    constexpr double kTolerance = 1e-4;       // relative: both programs stop at their own criteria
    constexpr double kScoreTolerance = 5e-4;  // the score statistics move more with the stop
    struct Model { std::string statements; std::vector<std::string> tables; };
    const std::map<std::string, Model> models = {
        {"LINEQS", {kHsModel, {"EstManifestEq", "EstVarExog", "EstCovExog"}}},
        {"RAM", {kHsRam, {"RAMEstimates"}}},
        {"COSAN", {"cosan F(3, GEN) * P(3, SYM) + U(9, SYM);\n" + hs_matrices("F", "P", "U", true), {"EstParms"}}},
        {"FACTOR", {"factor n=3;\n" + hs_matrices("_F_", "_P_", "_U_", false), {"EstParms"}}}};
    struct Constraint { const char* name; const char* reference; const char* statements; };
    const Constraint constraints[] = {
        {"active bound", "bound", "bounds l5 <= 1.0;\n"},
        {"linear equality", "lineq", "lincon l5 = l6;\n"},
        {"active linear inequality", "linineq", "lincon l5 - l6 <= 0.1;\n"},
        {"nonlinear equality", "nleq", "c1 = l5 - l6 * l6;\nnlincon c1 = 0;\nnloptions fconv2=1e-10;\n"},
        {"active nonlinear inequality", "nlineq", "c2 = l5 * l6;\nnlincon c2 <= 0.95;\nnloptions fconv2=1e-10;\n"},
        {"dependent parameter", "nleq", "l5 = l6 * l6;\n"}};
    const std::string folder = own_folder("constrained_errors");
    for (const auto& [kind, model] : models)
        for (const Constraint& c : constraints) {
            SCOPED_TRACE(kind + ", " + c.name);
            const std::string ram = folder + "/ram.csv", est = folder + "/est.csv";
            std::remove(ram.c_str());
            std::remove(est.c_str());
            const RunResult r = run_velix("proc velix data=hs method=ml covariance pestim modification outram='" + ram +
                                              "' outest='" + est + "';\n" + model.statements + c.statements + "run;\n",
                                          {"hs.csv"});
            ASSERT_EQ(r.exitStatus, 0) << r.log;
            const std::map<std::string, double> reference = reference_rows("constrained_reference.csv", c.reference);
            ASSERT_EQ(reference.size(), 23u);
            const Reported all = reported(r, ram, est);
            std::vector<std::string> wanted = model.tables;
            wanted.insert(wanted.end(), {"ParameterEstimates", "StdErrs", "OUTRAM", "OUTEST STDERR", "OUTEST COV"});
            if (std::string(c.name) == "dependent parameter") wanted.push_back("DependParms");
            for (const std::string& where : wanted) EXPECT_TRUE(all.count(where)) << where;
            for (const auto& [where, errors] : all)
                for (const auto& [name, se] : errors) {
                    if (!reference.count(name)) continue;
                    const double want = reference.at(name);
                    EXPECT_NEAR(se, want, kTolerance * want) << where << " " << name;
                }
            if (kind != "LINEQS") continue;
            // _GAMMA_ of the modification indices: the score test of x5 on
            // Fvis with its expected change, and the Wald cell of l5 (x5 on
            // Ftxt) where l5 is estimated (neither held nor dependent).
            const JsonValue& gamma = *r.items(0, "matrix", "ModIndices").at(1);
            const auto at = [&](const char* row, const char* column, const std::string& label) {
                size_t i = 0, j = 0;
                while (i + 1 < gamma["rowLabels"].size() && gamma["rowLabels"][i].str() != row) ++i;
                while (j + 1 < gamma["columnLabels"].size() && gamma["columnLabels"][j].str() != column) ++j;
                return piece(gamma, label)[i][j].number();
            };
            EXPECT_NEAR(at("x5", "Fvis", ""), reference.at("mi"), kScoreTolerance * reference.at("mi"));
            EXPECT_NEAR(at("x5", "Fvis", "C"), reference.at("epc"), kScoreTolerance * -reference.at("epc"));
            const std::string name = c.name;
            if (name == "active bound" || name == "dependent parameter") continue;
            const double x = cell_of(read_rows(est), "PARMS", "ML", "l5"), se = reference.at("l5");
            EXPECT_NEAR(at("x5", "Ftxt", ""), x * x / (se * se), 2.0 * kTolerance * x * x / (se * se));
        }
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
