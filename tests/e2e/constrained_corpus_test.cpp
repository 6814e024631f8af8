// Fits whose bounds, linear rows and nonlinear constraints hold at the
// minimum, run as a user runs them: no NLOPTIONS, under the default
// technique and under every technique that takes the kind of constraint
// (each one takes bounds and linear rows; with NLINCON every fit runs the
// dual quasi-Newton form), under ML, GLS, ULS, WLS and DWLS, on four models,
// as LINEQS and as a RAM list.  Each run claims convergence with return
// code 0 and ends at the constrained minimum of lavaan
// (tests/e2e/constrained_corpus.R writes tests/fixtures/
// constrained_corpus.csv): F to 1e-6 relative, the estimates to 1e-4
// relative or 1e-5 absolute, and the standard errors of every place that
// shows them to 1e-3 relative: the optimizer's "Optimization Results", the
// procedure's estimate tables (equations, variances, covariances, RAM list)
// and the OUTRAM= data set.  The same model without constraints under each
// method shows first that the conventions agree: F, estimates and standard
// errors everywhere equal lavaan's there.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

namespace velix::test {
namespace {

// The restrictions of the reference cases, as program statements.
const std::string kB1 = "bounds l9 <= 0.9;\n";
const std::string kB2 = "bounds 0.7 <= l2, 0.5 <= vspd;\n";
const std::string kL1 = "lincon l5 = l6;\n";
const std::string kL2 = "lincon l3 - l2 = 0.1;\n";
const std::string kL3 = "lincon l2 + l3 >= 1.5;\n";
const std::string kN1 = "c1 = l2 * l3;\nnlincon c1 >= 0.6;\n";
const std::string kN4 = "r = cvt / sqrt(vvis * vtxt);\nnlincon r <= 0.4;\n";
// A bound on a loading tied to another: its own gradient points into the
// box, the tied direction out of it.
const std::string kT1 = "bounds l2 <= 0.5;\nlincon l2 - l3 = 0;\n";

struct Case {
    std::string name;        // the test's name
    std::string reference;   // its case in constrained_corpus.csv
    std::string model;       // hs, hs_ram, two, poldem or ability
    std::string method;
    std::string technique;   // empty: the default
    std::string statements;  // inserted before RUN
};

std::ostream& operator<<(std::ostream& out, const Case& c) { return out << c.name; }

std::vector<Case> cases() {
    std::vector<Case> out = {
        {"hs_ml_B1", "hs_ml_B1", "hs", "ml", "", kB1},
        {"hs_ml_B2", "hs_ml_B2", "hs", "ml", "", kB2},
        {"hs_ml_L1", "hs_ml_L1", "hs", "ml", "", kL1},
        {"hs_ml_L2", "hs_ml_L2", "hs", "ml", "", kL2},
        {"hs_ml_L3", "hs_ml_L3", "hs", "ml", "", kL3},
        {"hs_ml_L4", "hs_ml_L4", "hs", "ml", "", "lincon l8 - l9 <= 0;\n"},
        {"hs_ml_L5", "hs_ml_L5", "hs", "ml", "", "lincon ve1 + ve2 <= 1.5;\n"},
        {"hs_ml_N1", "hs_ml_N1", "hs", "ml", "", kN1},
        {"hs_ml_N2", "hs_ml_N2", "hs", "ml", "", "c2 = l2 * l2 + l3 * l3;\nnlincon c2 <= 0.7;\n"},
        {"hs_ml_N4", "hs_ml_N4", "hs", "ml", "", kN4},
        {"hs_ml_N5", "hs_ml_N5", "hs", "ml", "", "c5 = l5 * l6;\nnlincon c5 = 1;\n"},
        // A linear row written as a nonlinear constraint: the minimum of L2.
        {"hs_ml_N6", "hs_ml_L2", "hs", "ml", "", "c = l3 - l2;\nnlincon c = 0.1;\n"},
        {"hs_ml_X1", "hs_ml_X1", "hs", "ml", "", kB1 + kL1 + kN1},
        {"hs_ml_X2", "hs_ml_X2", "hs", "ml", "", "bounds 0.5 <= vspd;\n" + kL3 + kN4},
        {"hs_ml_N1_quanew", "hs_ml_N1", "hs", "ml", "quanew", kN1},
        {"hs_ml_N4_quanew", "hs_ml_N4", "hs", "ml", "quanew", kN4},
        {"hs_ml_X1_quanew", "hs_ml_X1", "hs", "ml", "quanew", kB1 + kL1 + kN1},
        {"hs_ml_T1", "hs_ml_T1", "hs", "ml", "", kT1},
        {"hs_ml_T1_nlincon", "hs_ml_T1", "hs", "ml", "", "bounds l2 <= 0.5;\nc = l2 - l3;\nnlincon c = 0;\n"},
        {"hs_ml_T1_quanew", "hs_ml_T1", "hs", "ml", "quanew", kT1},
        {"hs_ml_T1_newrap", "hs_ml_T1", "hs", "ml", "newrap", kT1},
        {"hs_ml_T1_levmar", "hs_ml_T1", "hs", "ml", "levmar", kT1},
        {"hs_wls_T1", "hs_wls_T1", "hs", "wls", "", kT1},
        {"ram_ml_T1", "hs_ml_T1", "hs_ram", "ml", "", kT1},
        {"hs_gls_B1", "hs_gls_B1", "hs", "gls", "", kB1},
        {"hs_gls_L1", "hs_gls_L1", "hs", "gls", "", kL1},
        {"hs_gls_N1", "hs_gls_N1", "hs", "gls", "", kN1},
        {"hs_gls_X1", "hs_gls_X1", "hs", "gls", "", kB1 + kL1 + kN1},
        {"hs_gls_L1_newrap", "hs_gls_L1", "hs", "gls", "newrap", kL1},
        {"hs_uls_B1", "hs_uls_B1", "hs", "uls", "", kB1},
        {"hs_uls_L3", "hs_uls_L3", "hs", "uls", "", kL3},
        {"hs_uls_N3", "hs_uls_N3", "hs", "uls", "", "c2 = l2 * l2 + l3 * l3;\nnlincon c2 <= 0.5;\n"},
        {"hs_uls_L3_dbldog", "hs_uls_L3", "hs", "uls", "dbldog", kL3},
        {"hs_wls_L1", "hs_wls_L1", "hs", "wls", "", kL1},
        {"hs_wls_N1", "hs_wls_N1", "hs", "wls", "", kN1},
        {"hs_wls_X1", "hs_wls_X1", "hs", "wls", "", kB1 + kL1 + kN1},
        {"hs_wls_L1_quanew", "hs_wls_L1", "hs", "wls", "quanew", kL1},
        {"hs_dwls_B1", "hs_dwls_B1", "hs", "dwls", "", kB1},
        {"hs_dwls_N4", "hs_dwls_N4", "hs", "dwls", "", kN4},
        {"hs_dwls_B1_congra", "hs_dwls_B1", "hs", "dwls", "congra", kB1},
        {"ram_ml_L1", "hs_ml_L1", "hs_ram", "ml", "", kL1},
        {"ram_ml_N1", "hs_ml_N1", "hs_ram", "ml", "", kN1},
        {"ram_ml_X1", "hs_ml_X1", "hs_ram", "ml", "", kB1 + kL1 + kN1},
        {"two_ml_L", "two_ml_L", "two", "ml", "", "lincon l2 - l3 = 0;\n"},
        {"two_ml_N", "two_ml_N", "two", "ml", "", "c = l5 * l6;\nnlincon c <= 0.9;\n"},
        {"two_gls_X", "two_gls_X", "two", "gls", "",
         "bounds l3 <= 0.6;\nlincon ve1 + ve2 <= 1.5;\nr = cvt / sqrt(vvis * vtxt);\nnlincon r >= 0.5;\n"},
        {"poldem_ml_B", "poldem_ml_B", "poldem", "ml", "", "bounds b1 <= 1.2;\n"},
        {"poldem_ml_L", "poldem_ml_L", "poldem", "ml", "", "lincon l5 = l9, l6 = l10, l7 = l11;\n"},
        {"poldem_ml_N", "poldem_ml_N", "poldem", "ml", "", "ind = b1 * b3;\nnlincon ind <= 1;\n"},
        {"poldem_ml_X", "poldem_ml_X", "poldem", "ml", "",
         "bounds 0.3 <= vd2;\nlincon l5 = l9, l6 = l10, l7 = l11;\nind = b1 * b3;\nnlincon ind <= 1;\n"},
        {"ability_ml_B", "ability_ml_B", "ability", "ml", "", "bounds l4 <= 0.38;\n"},
        {"ability_ml_L", "ability_ml_L", "ability", "ml", "", "lincon l2 - l4 >= 0.05;\n"},
        {"ability_ml_N", "ability_ml_N", "ability", "ml", "", "r = cgv / sqrt(vg * vv);\nnlincon r >= 0.7;\n"},
    };
    // The conventions of each method against lavaan's, without constraints.
    for (const std::string m : {"ml", "gls", "uls", "wls", "dwls"}) out.push_back({"hs_" + m, "hs_" + m, "hs", m, "", ""});
    // Every technique TECHNIQUE= selects, on two active bounds and on an
    // active linear inequality.
    for (const std::string t : {"trureg", "newrap", "nrridg", "levmar", "dbldog", "quanew", "congra"}) {
        out.push_back({"hs_ml_B2_" + t, "hs_ml_B2", "hs", "ml", t, kB2});
        out.push_back({"hs_ml_L3_" + t, "hs_ml_L3", "hs", "ml", t, kL3});
    }
    return out;
}

const char* const kTwoFactors =
    "proc velix data=hs method=ml covariance;\n"
    "lineqs x1 = 1.0 Fvis + E1, x2 = l2 Fvis + E2, x3 = l3 Fvis + E3,\n"
    "       x4 = 1.0 Ftxt + E4, x5 = l5 Ftxt + E5, x6 = l6 Ftxt + E6;\n"
    "std Fvis Ftxt = vvis vtxt, E1-E6 = ve1-ve6;\n"
    "cov Fvis Ftxt = cvt;\n"
    "run;\n";

// The case's program: the model's program with its method and technique,
// OUTRAM=est and the case's statements.
std::string program(const Case& c) {
    std::string text = c.model == "two"      ? std::string(kTwoFactors)
                       : c.model == "hs_ram" ? read_text(std::string(VELIX_SOURCE_DIR) + "/examples/hs_cfa_ram.vx")
                       : c.model == "hs"     ? read_text(data_path("hs_cfa_ml.vx"))
                                             : read_text(data_path(c.model + "_ml.vx"));
    const size_t at = text.find(" method=");
    const size_t end = text.find_first_of(" ;", at + 1);
    text.replace(at, end - at,
                 " method=" + c.method + (c.technique.empty() ? "" : " technique=" + c.technique) + " outram=est");
    text.insert(text.rfind("run;"), c.statements);
    return text;
}

// A standard error as one place shows it.
struct Shown {
    std::string place, parameter;
    double value;  // NaN where the place shows none
};

double number_or_nan(const JsonValue& v) { return v.is_number() ? v.number() : std::nan(""); }

// The standard errors of the procedure's estimate tables: the StdErr column
// of a table by parameter (ULS and DWLS tables have none), and the "Std
// Err" rows of the equation tables (under each term, with the term's
// parameter name).
std::vector<Shown> table_errors(const RunResult& r) {
    std::vector<Shown> out;
    for (const JsonValue* t : r.items(0, "table")) {
        const std::string name = (*t)["name"].str();
        if (name.rfind("Est", 0) != 0 && name != "RAMEstimates") continue;
        bool hasErrors = false;
        for (size_t k = 0; k < (*t)["columns"].size(); ++k) hasErrors = hasErrors || (*t)["columns"][k]["name"].str() == "StdErr";
        for (size_t row = 0; row < (*t)["rows"].size(); ++row) {
            if (cell(*t, row, "Parameter").is_string()) {
                const std::string p = cell(*t, row, "Parameter").str();
                if (hasErrors && !p.empty() && p[0] != '.') out.push_back({name, p, number_or_nan(cell(*t, row, "StdErr"))});
                continue;
            }
            if (cell(*t, row, "Variable").str() != "Std Err") continue;
            for (int k = 1; !cell(*t, row, "Parameter" + std::to_string(k)).is_null(); ++k) {
                const std::string p = cell(*t, row, "Parameter" + std::to_string(k)).str();
                if (!p.empty()) out.push_back({name, p, number_or_nan(cell(*t, row, "Coefficient" + std::to_string(k)))});
            }
        }
    }
    return out;
}

// The _STDERR_ of the ESTIM rows of an OUTRAM= data set.
std::vector<Shown> outram_errors(const std::string& path) {
    const Rows rows = read_rows(path);
    std::vector<Shown> out;
    const size_t name = rows.column("_NAME_"), se = rows.column("_STDERR_");
    for (const auto& c : rows.cells) {
        if (c.size() <= se || c[0] != "ESTIM" || c[name].empty()) continue;
        out.push_back({"OUTRAM=", c[name], c[se] == "." ? std::nan("") : std::stod(c[se])});
    }
    return out;
}

class ConstrainedCorpus : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        dir_ = own_folder("corpus");
        for (const char* data : {"hs.csv", "poldem.csv", "ability.csv"}) {
            std::ifstream in(data_path(data));
            std::ofstream(dir_ + "/" + data) << in.rdbuf();
        }
    }
    std::string dir_;
};

// The values of one place against lavaan's, as one line when any is
// beyond its tolerance: how many, and the worst by relative difference.
// `within` says whether a value is near enough to lavaan's.
std::string compare(const std::string& what, const std::vector<Shown>& shown, const std::map<std::string, double>& ref,
                    const std::string& prefix, const std::function<bool(double got, double want)>& within) {
    size_t checked = 0, beyond = 0, missing = 0;
    const Shown* worst = nullptr;
    double worstRel = -1.0, worstWant = 0.0;
    for (const Shown& s : shown) {
        const auto want = ref.find(prefix + s.parameter);
        if (want == ref.end()) continue;
        ++checked;
        if (within(s.value, want->second)) continue;
        ++beyond;
        if (std::isnan(s.value)) ++missing;
        const double rel = std::isnan(s.value) ? 0.0 : std::fabs(s.value - want->second) / std::fmax(std::fabs(want->second), 1e-300);
        if (rel > worstRel) worstRel = rel, worst = &s, worstWant = want->second;
    }
    if (beyond == 0) return "";
    std::ostringstream line;
    line << "  " << what << ": " << beyond << " of " << checked << " beyond";
    if (missing > 0) line << " (" << missing << " missing)";
    if (worst != nullptr && !std::isnan(worst->value))
        line << ", worst " << worst->parameter << " " << worst->value << " against " << worstWant << " (" << worstRel << " relative)";
    return line.str() + "\n";
}

// Each run at the reference minimum, with the claim and the code of one.
TEST_P(ConstrainedCorpus, ReachesTheConstrainedMinimumAtTheDefaultCriteria) {
    const Case& c = GetParam();
    const auto ref = reference_rows("constrained_corpus.csv", c.reference);
    ASSERT_TRUE(ref.count("F")) << "no reference rows for " << c.reference;
    std::remove((dir_ + "/est.csv").c_str());
    const RunResult r = run_velix(program(c), {}, {"--lib", dir_});
    ASSERT_FALSE(r.json.is_null()) << r.log;
    EXPECT_EQ(r.return_code(), 0);
    EXPECT_TRUE(r.log.find("Convergence criterion") != std::string::npos &&
                r.log.find("did not converge") == std::string::npos)
        << "no convergence claim:\n" << r.log;
    const double f = final_f(r), fref = ref.at("F");
    EXPECT_NEAR(f, fref, std::fmax(1e-6 * fref, 1e-9)) << "F, relative " << (f - fref) / fref;

    const JsonValue& results = result_table(r);
    std::vector<Shown> estimates, errors;
    for (const auto& [p, v] : column_by_parameter(results, "Estimate")) estimates.push_back({"", p, v});
    for (const auto& [p, v] : column_by_parameter(results, "AppStdErr")) errors.push_back({"Optimization Results", p, v});
    for (const Shown& s : table_errors(r)) errors.push_back(s);
    for (const Shown& s : outram_errors(dir_ + "/est.csv")) errors.push_back(s);
    EXPECT_EQ(estimates.size(), static_cast<size_t>(std::count_if(ref.begin(), ref.end(), [](const auto& kv) {
                  return kv.first.rfind("est:", 0) == 0;
              })));
    const std::string off = compare("estimates", estimates, ref, "est:", [](double got, double want) {
        return std::fabs(got - want) <= std::fmax(1e-4 * std::fabs(want), 1e-5);
    });
    EXPECT_TRUE(off.empty()) << "estimates beyond 1e-4 relative or 1e-5:\n" << off;
    // Per place (the optimizer's table and OUTRAM= always show them); a
    // parameter held at its bound has none (0 or missing).
    std::vector<std::string> places = {"Optimization Results", "OUTRAM="};
    for (const Shown& s : errors)
        if (std::find(places.begin(), places.end(), s.place) == places.end()) places.push_back(s.place);
    std::string beyond;
    for (const std::string& place : places) {
        std::vector<Shown> here;
        std::copy_if(errors.begin(), errors.end(), std::back_inserter(here), [&](const Shown& s) { return s.place == place; });
        if (here.empty()) beyond += "  " + place + ": none shown\n";
        beyond += compare(place, here, ref, "se:", [](double got, double want) {
            return want == 0.0 ? !(std::fabs(got) > 1e-8) : std::fabs(got - want) <= 1e-3 * want;
        });
    }
    EXPECT_TRUE(beyond.empty()) << "standard errors beyond 1e-3 relative:\n" << beyond;
}

INSTANTIATE_TEST_SUITE_P(Fits, ConstrainedCorpus, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });

}  // namespace
}  // namespace velix::test
