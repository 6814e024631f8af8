// Whole programs for the results after a fit: residuals, modification
// indices, the boundary and stepwise Wald tests, effects and stability.
// The reference numbers come from R's lavaan 0.6.14 (likelihood =
// "wishart") through results_reference.R beside this file, written to
// tests/fixtures/results_reference.csv.  The programs start at lavaan's
// estimates and run no iteration (TECHNIQUE=NONE), so that every statistic is
// computed at the reference solution; the statistics then agree to about
// 1e-6 relative, and the tolerances below are 1e-5 unless said.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "harness.h"
#include "hs_fixture.h"

namespace velix::test {
namespace {

using Reference = std::map<std::string, double>;

// The rows of results_reference.csv for one case, by key.
Reference reference(const std::string& wanted) {
    return reference_rows("results_reference.csv", wanted);
}

std::string start(const Reference& r, const std::string& name) {
    std::ostringstream s;
    s.precision(17);
    s << name << " (" << r.at("est:" + name) << ")";
    return s.str();
}

// The three-factor program at the estimates of `ref`; `tied` renames
// loadings (l3 as l2 ties x3's loading to x2's), `extra` adds statements.
std::string hs_program(const Reference& ref, const std::string& options, const std::map<std::string, std::string>& tied = {},
                       const std::string& extra = "", const std::string& method = "ml") {
    auto v = [&](const std::string& n) { return start(ref, tied.count(n) ? tied.at(n) : n); };
    std::ostringstream p;
    p << "proc velix data=hs method=" << method << " covariance technique=none " << options << ";\n lineqs\n"
      << "  x1 = 1.0 Fvis + E1, x2 = " << v("l2") << " Fvis + E2, x3 = " << v("l3") << " Fvis + E3,\n"
      << "  x4 = 1.0 Ftxt + E4, x5 = " << v("l5") << " Ftxt + E5, x6 = " << v("l6") << " Ftxt + E6,\n"
      << "  x7 = 1.0 Fspd + E7, x8 = " << v("l8") << " Fspd + E8, x9 = " << v("l9") << " Fspd + E9;\n"
      << " std Fvis = " << v("vvis") << ", Ftxt = " << v("vtxt") << ", Fspd = " << v("vspd");
    for (int i = 1; i <= 9; ++i) p << ", E" << i << " = " << v("ve" + std::to_string(i));
    p << ";\n cov Fvis Ftxt = " << v("cvt") << ", Fvis Fspd = " << v("cvs") << ", Ftxt Fspd = " << v("cts")
      << ";\n" << extra << "run;\n";
    return p.str();
}

std::string poldem_program(const Reference& ref, const std::string& options, const std::string& extra = "") {
    auto v = [&](const std::string& n) { return start(ref, n); };
    std::ostringstream p;
    p << "proc velix data=poldem method=ml covariance technique=none " << options << ";\n lineqs\n"
      << "  x1 = 1.0 Find60 + E1, x2 = " << v("l2") << " Find60 + E2, x3 = " << v("l3") << " Find60 + E3,\n"
      << "  y1 = 1.0 Fdem60 + E4, y2 = " << v("l5") << " Fdem60 + E5, y3 = " << v("l6") << " Fdem60 + E6,\n"
      << "  y4 = " << v("l7") << " Fdem60 + E7, y5 = 1.0 Fdem65 + E8, y6 = " << v("l9") << " Fdem65 + E9,\n"
      << "  y7 = " << v("l10") << " Fdem65 + E10, y8 = " << v("l11") << " Fdem65 + E11,\n"
      << "  Fdem60 = " << v("b1") << " Find60 + D1,\n"
      << "  Fdem65 = " << v("b2") << " Find60 + " << v("b3") << " Fdem60 + D2;\n"
      << " std Find60 = " << v("vind60") << ", D1 = " << v("vd1") << ", D2 = " << v("vd2");
    for (int i = 1; i <= 11; ++i) p << ", E" << i << " = " << v("ve" + std::to_string(i));
    p << ";\n cov E4 E8 = " << v("c15") << ", E5 E7 = " << v("c24") << ", E5 E9 = " << v("c26")
      << ", E6 E10 = " << v("c37") << ", E7 E11 = " << v("c48") << ", E9 E11 = " << v("c68") << ";\n"
      << extra << "run;\n";
    return p.str();
}

void expect_close(double got, double want, double rel, const std::string& what) {
    EXPECT_NEAR(got, want, rel * std::max(1.0, std::fabs(want))) << what;
}

// The matrix items of step 0 named `name`, in order.
std::vector<const JsonValue*> matrices(const RunResult& r, const std::string& name) {
    return r.items(0, "matrix", name);
}

size_t index_of(const JsonValue& labels, const std::string& label) {
    for (size_t i = 0; i < labels.size(); ++i)
        if (labels[i].str() == label) return i;
    ADD_FAILURE() << "no label " << label;
    return 0;
}

// Cell (row, column) of a matrix item by its labels; `piece` "" the values.
const JsonValue& at(const JsonValue& m, const std::string& row, const std::string& column,
                    const std::string& piece = "") {
    const size_t i = index_of(m["rowLabels"], row), j = index_of(m["columnLabels"], column);
    if (piece.empty()) return m["values"][i][j];
    const JsonValue& pieces = m["pieces"];
    for (size_t p = 0; p < pieces.size(); ++p)
        if (pieces[p]["label"].str() == piece) return pieces[p]["values"][i][j];
    ADD_FAILURE() << "no piece " << piece;
    return m["values"][i][j];
}

// The cell that frees lavaan's fixed parameter `rel` ("Fvis=~x9",
// "x1~~x7") among the indices of the equation form: =~ a _GAMMA_ cell, ~~
// between two manifest variables the _PHI_ cell of their errors; null for
// a factor (co)variance, which is free.
const JsonValue* index_cell(const JsonValue& phi, const JsonValue& gamma, const std::string& rel,
                            const std::string& piece = "") {
    const size_t op = rel.find_first_of("=~");
    const std::string lhs = rel.substr(0, op), rhs = rel.substr(op + 2);
    const bool loading = rel.compare(op, 2, "=~") == 0;
    if (!loading && lhs[0] != 'x') return nullptr;
    if (loading) return &at(gamma, rhs, lhs, piece);
    return &at(phi, "E" + rhs.substr(1), "E" + lhs.substr(1), piece);
}

class Results : public ::testing::Test {
   protected:
    static void SetUpTestSuite() {
        hs_ = new Reference(reference("hs"));
        run_ = new RunResult(run_velix(hs_program(*hs_, "modification residual varstand asystand"), {"hs.csv"}));
    }
    static void TearDownTestSuite() {
        delete hs_;
        delete run_;
    }
    static Reference* hs_;
    static RunResult* run_;
};
Reference* Results::hs_ = nullptr;
RunResult* Results::run_ = nullptr;

TEST_F(Results, ResidualsEqualTheReferenceResiduals) {
    ASSERT_EQ(run_->exitStatus, 0) << run_->log;
    const JsonValue& raw = *matrices(*run_, "RawRes").at(0);
    const JsonValue& varStd = *matrices(*run_, "VarStdRes").at(0);
    const JsonValue& asym = *matrices(*run_, "AsymStdRes").at(0);
    for (const JsonValue* m : {&raw, &varStd, &asym}) EXPECT_EQ((*m)["storage"].str(), "sf");
    for (int i = 1; i <= 9; ++i)
        for (int j = 1; j <= i; ++j) {
            const std::string xi = "x" + std::to_string(i), xj = "x" + std::to_string(j), cell = xi + ":" + xj;
            expect_close(at(raw, xi, xj).number(), hs_->at("raw:" + cell), 1e-6, "raw " + cell);
            expect_close(at(varStd, xi, xj).number(), hs_->at("varstd:" + cell), 1e-6, "varstd " + cell);
            if (i != j)
                expect_close(at(asym, xi, xj).number(), hs_->at("asym:" + cell), 1e-5, "asym " + cell);
            else
                EXPECT_EQ(at(asym, xi, xj).number(), 0.0) << "free variance " << xi;
        }
}

// Averages, ranking and distribution recomputed from the matrix shown.
TEST_F(Results, AveragesRankingAndBinsFollowTheResiduals) {
    const JsonValue& raw = *matrices(*run_, "RawRes").at(0);
    double sum = 0.0, off = 0.0;
    std::vector<double> values;
    for (int i = 0; i < 9; ++i)
        for (int j = 0; j <= i; ++j) {
            const double x = raw["values"][static_cast<size_t>(i)][static_cast<size_t>(j)].number();
            sum += std::fabs(x);
            if (i != j) off += std::fabs(x);
            values.push_back(x);
        }
    const JsonValue& ave = run_->table(0, "AveRawRes");
    EXPECT_NEAR(cell(ave, 0, "AveResValue").number(), sum / 45.0, 1e-12);
    EXPECT_NEAR(cell(ave, 1, "AveResValue").number(), off / 36.0, 1e-12);
    // K = min(45 / 2, 10) largest by absolute value, falling.
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end(), [](double a, double b) { return std::fabs(a) > std::fabs(b); });
    const JsonValue& rank = run_->table(0, "RankRawRes");
    ASSERT_EQ(rank["rows"].size(), 10u);
    for (size_t k = 0; k < 10; ++k) EXPECT_EQ(cell(rank, k, "Residual").number(), sorted[k]) << k;
    // Raw residuals that were ranked get no distribution; the others one
    // whose counts add up to p*, every residual in its bin.
    EXPECT_TRUE(run_->items(0, "table", "DistRawRes").empty());
    const JsonValue& dist = run_->table(0, "DistVarStdRes");
    const JsonValue& varStd = *matrices(*run_, "VarStdRes").at(0);
    double total = 0.0;
    for (size_t b = 0; b < dist["rows"].size(); ++b) {
        const double lo = cell(dist, b, "Lower").number(), hi = cell(dist, b, "Upper").number();
        double count = 0;
        for (int i = 0; i < 9; ++i)
            for (int j = 0; j <= i; ++j) {
                const double x = varStd["values"][static_cast<size_t>(i)][static_cast<size_t>(j)].number();
                const bool last = b + 1 == dist["rows"].size();
                if ((b == 0 || x >= lo) && (x < hi || last)) ++count;
            }
        EXPECT_EQ(cell(dist, b, "Freq").number(), count) << "bin " << b;
        EXPECT_LE(cell(dist, b, "Bar").str().size(), 27u) << "bin " << b;
        total += count;
    }
    EXPECT_EQ(total, 45.0);
}

// lavaan's modification index of a fixed parameter is freeing one cell:
// =~ a GAMMA cell, ~~ between two variables the PHI cell of their errors.
TEST_F(Results, ModificationIndicesEqualTheReference) {
    const std::vector<const JsonValue*> mi = matrices(*run_, "ModIndices");
    ASSERT_EQ(mi.size(), 2u);
    const JsonValue& phi = *mi[0];
    const JsonValue& gamma = *mi[1];
    int checked = 0;
    for (const auto& [key, value] : *hs_) {
        if (key.rfind("mi:", 0) != 0) continue;
        const std::string rel = key.substr(3);
        const JsonValue* index = index_cell(phi, gamma, rel);
        if (index == nullptr) continue;
        expect_close(index->number(), value, 1e-5, key);
        expect_close(index_cell(phi, gamma, rel, "C")->number(), hs_->at("epc:" + rel), 1e-4, "epc " + rel);
        ++checked;
    }
    EXPECT_GT(checked, 40);
    // Free cells: (estimate / standard error)^2 with their labels.
    expect_close(at(gamma, "x9", "Fspd").number(), hs_->at("wald:l9"), 1e-5, "wald l9");
    expect_close(at(phi, "E3", "E3").number(), hs_->at("wald:ve3"), 1e-5, "wald ve3");
    expect_close(at(phi, "Fspd", "Ftxt").number(), hs_->at("wald:cts"), 1e-5, "wald cts");
    EXPECT_EQ(at(gamma, "x9", "Fspd", "N").str(), "[l9]");
    EXPECT_EQ(at(phi, "Ftxt", "Fspd", "N").str(), "[cts]");
    // The fixed unit path of an error term duplicates its variance.
    EXPECT_EQ(at(gamma, "x1", "E1", "N").str(), "Sing");
    // A fixed cell of a symmetric matrix is shown in both places.
    EXPECT_EQ(at(phi, "E8", "E7").number(), at(phi, "E7", "E8").number());
}

// lavaan scales its GLS indices by N, these by N' = N - 1 of the
// chi-square: they are lavaan's times N / (N - 1), the other way round from
// ML's, and so are the expected changes (peer_conventions.R; lavaan's own
// stop leaves its indices up to 3e-5 from those at the minimum).
TEST(ResultsRuns, GlsModificationIndicesAreLavaansTimesNOverNMinusOne) {
    const Reference gls = reference_rows("peer_conventions.csv", "gls");
    // As users run it, and run to the minimum, where the indices agree to
    // the reference's own precision.
    const struct {
        const char* options;
        double rel;
    } runs[] = {{"", 1e-3}, {"\nnloptions gconv=1e-14 absgconv=1e-12;", 1e-4}};
    for (const auto& run : runs) {
        std::string program = read_text(data_path("hs_cfa_ml.vx"));
        program.replace(program.find("method=ml covariance;"), 21,
                        std::string("method=gls covariance modification;") + run.options);
        const RunResult r = run_velix(program, {"hs.csv"});
        ASSERT_EQ(r.exitStatus, 0) << r.log;
        const std::vector<const JsonValue*> mi = matrices(r, "ModIndices");
        ASSERT_EQ(mi.size(), 2u);
        constexpr double kN = 301.0;
        int checked = 0;
        for (const auto& [key, value] : gls) {
            const bool change = key.rfind("epc:", 0) == 0;
            const JsonValue* index = index_cell(*mi[0], *mi[1], key.substr(change ? 4 : 3), change ? "C" : "");
            if (index == nullptr) continue;
            expect_close(index->number(), value * kN / (kN - 1.0), run.rel, key + run.options);
            ++checked;
        }
        EXPECT_GT(checked, 80);
    }
}

// The FACTOR form of the same model at the same estimates: its unique
// matrix _U_ is the central matrix of its term, so a fixed cell (r, c)
// stands for (c, r) too and is one error covariance of lavaan, with its
// index and expected change, ranked once.
TEST(ResultsRuns, FactorUniqueMatrixIndicesEqualTheReference) {
    const Reference hs = reference("hs");
    auto v = [&](const std::string& n) { return start(hs, n); };
    std::ostringstream p;
    p << "proc velix data=hs method=ml covariance technique=none modification;\n factor n=3;\n"
      << " matrix _F_ [ , 1] = 1.0 " << v("l2") << " " << v("l3") << ", [ , 2] = 0 0 0 1.0 " << v("l5") << " "
      << v("l6") << ", [ , 3] = 0 0 0 0 0 0 1.0 " << v("l8") << " " << v("l9") << ";\n"
      << " matrix _P_ [1, 1] = " << v("vvis") << " " << v("vtxt") << " " << v("vspd") << ", [2, 1] = " << v("cvt")
      << " " << v("cts") << ", [3, 1] = " << v("cvs") << ";\n matrix _U_ [1, 1] =";
    for (int i = 1; i <= 9; ++i) p << " " << v("ve" + std::to_string(i));
    p << ";\nrun;\n";
    const RunResult r = run_velix(p.str(), {"hs.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const std::vector<const JsonValue*> mi = matrices(r, "ModIndices");
    ASSERT_EQ(mi.size(), 3u);
    const JsonValue& u = *mi[2];
    int checked = 0;
    for (const auto& [key, value] : hs) {
        if (key.rfind("mi:x", 0) != 0 || key.find("~~x") == std::string::npos) continue;
        const std::string rel = key.substr(3), lhs = rel.substr(0, rel.find('~')), rhs = rel.substr(rel.find('~') + 2);
        if (lhs == rhs) continue;
        const std::string row = rhs, column = "UVAR" + lhs.substr(1);
        expect_close(at(u, row, column).number(), value, 1e-5, key);
        expect_close(at(u, row, column, "C").number(), hs.at("epc:" + rel), 1e-4, "epc " + rel);
        ++checked;
    }
    EXPECT_EQ(checked, 36);
    const std::vector<const JsonValue*> ranks = r.items(0, "table", "RankLagrange");
    ASSERT_FALSE(ranks.empty());
    const JsonValue& rank = *ranks.back();
    std::set<std::pair<std::string, std::string>> seen;
    for (size_t k = 0; k < rank["rows"].size(); ++k) {
        const std::string a = cell(rank, k, "Row").str().substr(1), b = cell(rank, k, "Column").str().substr(4);
        EXPECT_TRUE(seen.insert(std::minmax(a, b)).second) << "ranked twice: x" << a << ", x" << b;
    }
}

// Distinct names, no bounds, every parameter significant: none of the
// other tables.
TEST_F(Results, AllSignificantParametersGiveNoWaldTable) {
    EXPECT_TRUE(run_->items(0, "table", "WaldTest").empty());
    EXPECT_TRUE(run_->items(0, "table", "LagrangeEquality").empty());
    EXPECT_TRUE(run_->items(0, "table", "LagrangeBoundary").empty());
    EXPECT_EQ(groups_opened(*run_, 0, "ModificationIndex"), 1u);
}

TEST(ResultsRuns, ActiveUpperBoundHasTheReferenceScoreStatistic) {
    const Reference ref = reference("hs_bound");
    const RunResult r = run_velix(hs_program(ref, "modification", {}, " bounds 0 <= l9 <= 0.9;\n"), {"hs.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const JsonValue& t = r.table(0, "LagrangeBoundary");
    ASSERT_EQ(t["rows"].size(), 1u);
    EXPECT_EQ(cell(t, 0, "Parameter").str(), "l9");
    EXPECT_EQ(cell(t, 0, "Estimate").number(), 0.9);
    expect_close(cell(t, 0, "ChiSq").number(), ref.at("score"), 1e-4, "bound LM");
    EXPECT_GT(cell(t, 0, "Change").number(), 0.0);
}

// The README's first program (examples/default.vx) by `method` with
// indices, fitted from its default start, with further statements.
std::string default_program(const std::string& method, const std::string& statements,
                            std::string model = kHsModel) {
    return "proc velix data=hs method=" + method + " covariance modification;\n" + model + statements + "run;\n";
}

// A bound whose release leaves the model without that direction (a of l2 =
// a + b, held at its bound, which b can stand in for) has no test: its
// row shows the estimate and leaves the statistic, its probability and
// the change blank, not a chi-square of 0 with probability 1.
TEST(ResultsRuns, ABoundWithoutATestLeavesItsCellsBlank) {
    const RunResult r = run_velix(
        default_program("ml technique=none", "parameters a b = 0.3 0.25;\nl2 = a + b;\nbounds a >= 0.3;\n"),
        {"hs.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const JsonValue& t = r.table(0, "LagrangeBoundary");
    ASSERT_EQ(t["rows"].size(), 1u);
    EXPECT_EQ(cell(t, 0, "Parameter").str(), "a");
    EXPECT_EQ(cell(t, 0, "Estimate").number(), 0.3);
    for (const char* column : {"ChiSq", "ProbChiSq", "Change"}) EXPECT_TRUE(cell(t, 0, column).is_null()) << column;
}

// The boundary test's row of a parameter.
size_t boundary_row(const JsonValue& t, const std::string& parameter) {
    for (size_t k = 0; k < t["rows"].size(); ++k)
        if (cell(t, k, "Parameter").str() == parameter) return k;
    ADD_FAILURE() << "no row " << parameter;
    return 0;
}

// The program's own index and change of the loading of x2 with l2 and l3
// written as the constants 0.4 and 0.9: the score test of l2 = 0.4 with
// l3 = 0.9 kept.
std::pair<double, double> constant_loadings_index(const std::string& method) {
    std::string model = kHsModel;
    model.replace(model.find("l2 Fvis"), 7, "0.4 Fvis");
    model.replace(model.find("l3 Fvis"), 7, "0.9 Fvis");
    const RunResult r = run_velix(default_program(method, "", model), {"hs.csv"});
    EXPECT_EQ(r.exitStatus, 0) << r.log;
    const JsonValue& gamma = *matrices(r, "ModIndices").at(1);
    return {at(gamma, "x2", "Fvis").number(), at(gamma, "x2", "Fvis", "C").number()};
}

// The score test of an active bound keeps every other active restriction:
// l2 <= 0.4 with l3 held at 0.9 by a linear row, a nonlinear row or a
// bound of its own is lavaan's test of l2 == 0.4 with l3 == 0.9 kept
// (bound_release_reference.R, at the fit's estimates to 1e-4) and the
// program's index of the loading of x2 with both written as constants (to
// 1e-5, as near as two fits from the default start converge); under a row through l2 itself, l2 + l3 = 1.3, lavaan's test with
// that row kept; with l3 free, the test of a lone bound.
TEST(ResultsRuns, BoundTestHoldsTheOtherActiveRestrictions) {
    const std::pair<double, double> constants = constant_loadings_index("ml");
    struct Case { const char* holds; const char* statements; const char* reference; };
    for (const Case& c : {Case{"linear row", "lincon l3 = 0.9;\n", "ml"},
                          Case{"nonlinear row", "c1 = l3 * l3;\nnlincon c1 = 0.81;\n", "ml"},
                          Case{"bound", "bounds l3 >= 0.9;\n", "ml"},
                          Case{"row through l2", "lincon l2 + l3 = 1.3;\n", "ml_sum"},
                          Case{"nothing", "", "ml_alone"}}) {
        SCOPED_TRACE(c.holds);
        const Reference ref = reference_rows("bound_release_reference.csv", c.reference);
        const RunResult r = run_velix(default_program("ml", std::string("bounds l2 <= 0.4;\n") + c.statements),
                                      {"hs.csv"});
        ASSERT_EQ(r.exitStatus, 0) << r.log;
        const JsonValue& t = r.table(0, "LagrangeBoundary");
        const size_t l2 = boundary_row(t, "l2");
        expect_close(cell(t, l2, "ChiSq").number(), ref.at("score:l2"), 1e-4, "l2");
        expect_close(cell(t, l2, "Change").number(), ref.at("change:l2"), 1e-4, "change of l2");
        if (std::string(c.reference) == "ml") {
            expect_close(cell(t, l2, "ChiSq").number(), constants.first, 1e-5, "index of x2 on Fvis");
            expect_close(cell(t, l2, "Change").number(), constants.second, 1e-5, "change of x2 on Fvis");
        }
        if (std::string(c.holds) == "bound") {
            const size_t l3 = boundary_row(t, "l3");
            expect_close(cell(t, l3, "ChiSq").number(), ref.at("score:l3"), 1e-4, "l3");
            expect_close(cell(t, l3, "Change").number(), ref.at("change:l3"), 1e-4, "change of l3");
        }
    }
}

// A bound on a loading tied to another, l2 <= 0.5 with l2 = l3 by LINCON
// or NLINCON, from the default start: l2's own gradient points into the
// box, the tied direction out of it.  The fit ends at the minimum with
// return code 0 (the corpus checks F and the estimates), and the row of the
// bound is lavaan's test of l2 == 0.5 with the tie kept
// (bound_release_reference.R).
TEST(ResultsRuns, BoundOnATiedParameterHasTheReferenceTest) {
    const Reference ref = reference_rows("bound_release_reference.csv", "ml_tie");
    for (const char* tie : {"lincon l2 - l3 = 0;\n", "c = l2 - l3;\nnlincon c = 0;\n"}) {
        SCOPED_TRACE(tie);
        const RunResult r = run_velix(default_program("ml", std::string("bounds l2 <= 0.5;\n") + tie), {"hs.csv"});
        ASSERT_EQ(r.exitStatus, 0) << r.log;
        EXPECT_EQ(r.return_code(), 0) << r.log;
        expect_close(final_f(r) * (301 - 1), ref.at("chisq"), 1e-8, "chi-square (N - 1) F");
        const JsonValue& t = r.table(0, "LagrangeBoundary");
        ASSERT_EQ(t["rows"].size(), 1u) << r.log;
        expect_close(cell(t, 0, "ChiSq").number(), ref.at("score:l2"), 1e-4, "l2");
        expect_close(cell(t, 0, "Change").number(), ref.at("change:l2"), 1e-4, "change of l2");
    }
}

// Two bounds that a row ties, ve8 <= 0.3 and ve9 <= 0.3 with ve8 = ve9
// (and l2, l3 at 0.5): each is held by the other through the tie, so
// releasing either alone changes nothing.  Both rows are 0 with change 0,
// as the refit without that one bound shows (the same F), whichever of
// the two the optimizer keeps among its active constraints and which it
// finds dependent on them.  Releasing both lowers the chi-square (lavaan's
// score test of the shared bound is 107.78 for ve8 and ve9): a row that
// let the other bound go would show that instead.
TEST(ResultsRuns, EachOfTwoTiedBoundsIsHeldByTheOther) {
    struct Case { const char* a; const char* b; const char* bound; };
    for (const Case& c : {Case{"ve8", "ve9", "0.3"}, Case{"l2", "l3", "0.5"}}) {
        const std::string a = c.a, b = c.b, tie = "lincon " + a + " - " + b + " = 0;\n";
        auto bounds = [&](const std::string& names) { return "bounds " + names + " <= " + c.bound + ";\n"; };
        SCOPED_TRACE(a + " = " + b);
        const RunResult r = run_velix(default_program("ml", bounds(a + " " + b) + tie), {"hs.csv"});
        const RunResult free = run_velix(default_program("ml", tie), {"hs.csv"});
        ASSERT_EQ(r.exitStatus, 0) << r.log;
        ASSERT_EQ(free.exitStatus, 0) << free.log;
        EXPECT_LT(final_f(free), 0.99 * final_f(r)) << "the bounds should matter together";
        const JsonValue& t = r.table(0, "LagrangeBoundary");
        for (const auto& [released, kept] : {std::pair{a, b}, std::pair{b, a}}) {
            const RunResult refit = run_velix(default_program("ml", bounds(kept) + tie), {"hs.csv"});
            ASSERT_EQ(refit.exitStatus, 0) << refit.log;
            expect_close(final_f(refit), final_f(r), 1e-7, "F of the refit without the bound of " + released);
            const size_t row = boundary_row(t, released);
            EXPECT_EQ(cell(t, row, "ChiSq").number(), 0.0) << released;
            EXPECT_EQ(cell(t, row, "Change").number(), 0.0) << released;
        }
    }
}

// The row of a bound releases that bound alone: every other active
// restriction stays, also those the optimizer found dependent on the rest
// (a second bound, a row parallel to the bound, an inequality among three
// restrictions on two loadings; linear and nonlinear).  Here they hold l2
// at 0.5 without its bound: the refit without it ends at the same
// chi-square with l2 at 0.5, so the test is 0 and the change 0.
TEST(ResultsRuns, BoundTestKeepsTheDependentRestrictions) {
    struct Case { const char* with; const char* without; };
    for (const Case& c : {Case{"bounds l2 <= 0.5, l3 <= 0.5;\nlincon l2 - l3 = 0;\n", "bounds l3 <= 0.5;\nlincon l2 - l3 = 0;\n"},
                          Case{"bounds l2 <= 0.5;\nlincon l2 <= 0.5;\n", "lincon l2 <= 0.5;\n"},
                          Case{"bounds l2 <= 0.5;\nlincon l2 - l3 = 0, l3 <= 0.5;\n", "lincon l2 - l3 = 0, l3 <= 0.5;\n"},
                          Case{"bounds l2 <= 0.5;\nlincon l2 = 0.5;\n", "lincon l2 = 0.5;\n"},
                          Case{"bounds l2 <= 0.5;\nc = l2;\nnlincon c <= 0.5;\n", "c = l2;\nnlincon c <= 0.5;\n"},
                          Case{"bounds l2 <= 0.5;\nc = l3;\nnlincon c <= 0.5;\nlincon l2 - l3 = 0;\n",
                               "c = l3;\nnlincon c <= 0.5;\nlincon l2 - l3 = 0;\n"}}) {
        SCOPED_TRACE(c.with);
        const RunResult r = run_velix(default_program("ml", c.with), {"hs.csv"});
        const RunResult refit = run_velix(default_program("ml", c.without), {"hs.csv"});
        ASSERT_EQ(r.exitStatus, 0) << r.log;
        ASSERT_EQ(refit.exitStatus, 0) << refit.log;
        EXPECT_EQ(r.return_code(), 0) << r.log;
        // Both at the default criteria: F to 1e-7 (releasing l2 would
        // lower it by 2%, as in the tie without l3's restriction).
        expect_close(final_f(refit), final_f(r), 1e-7, "F of the refit without l2's bound");
        EXPECT_NEAR(column_by_parameter(result_table(refit), "Estimate").at("l2"), 0.5, 1e-9) << "l2 of the refit";
        const JsonValue& t = r.table(0, "LagrangeBoundary");
        const size_t l2 = boundary_row(t, "l2");
        EXPECT_EQ(cell(t, l2, "ChiSq").number(), 0.0);
        EXPECT_EQ(cell(t, l2, "Change").number(), 0.0);
    }
}

// GLS and WLS: the same test with l3 held by a linear row is the
// program's own index with both loadings constants and lavaan's
// univariate score test times N / (N - 1).
TEST(ResultsRuns, BoundTestHoldsTheOtherActiveRestrictionsForGlsAndWls) {
    for (const char* method : {"gls", "wls"}) {
        SCOPED_TRACE(method);
        const Reference ref = reference_rows("bound_release_reference.csv", method);
        const std::pair<double, double> constants = constant_loadings_index(method);
        const RunResult r = run_velix(default_program(method, "bounds l2 <= 0.4;\nlincon l3 = 0.9;\n"), {"hs.csv"});
        ASSERT_EQ(r.exitStatus, 0) << r.log;
        const JsonValue& t = r.table(0, "LagrangeBoundary");
        ASSERT_EQ(t["rows"].size(), 1u);
        expect_close(cell(t, 0, "ChiSq").number(), constants.first, 1e-5, "index of x2 on Fvis");
        expect_close(cell(t, 0, "Change").number(), constants.second, 1e-5, "change of x2 on Fvis");
        expect_close(cell(t, 0, "ChiSq").number(), ref.at("score:l2"), 1e-4, "lavaan");
    }
}

// A second model: the political democracy model with vd2 >= 0.3, three
// linear rows and b1 b3 <= 1, all active.  Releasing the bound with the
// rows kept is lavaan's test of vd2 == 0.3 (0.21325); that of the whole
// information, which treats the rows as free, is 0.21557.  lavaan's fit
// stops about 1e-4 from the minimum under the nonlinear row, hence 2e-4.
TEST(ResultsRuns, BoundTestKeepsLinearAndNonlinearRowsOfASecondModel) {
    const Reference ref = reference_rows("bound_release_reference.csv", "poldem");
    std::string program = read_text(data_path("poldem_ml.vx"));
    program.replace(program.find("covariance;"), 11, "covariance modification;");
    program.insert(program.rfind("run;"),
                   "bounds 0.3 <= vd2;\nlincon l5 = l9, l6 = l10, l7 = l11;\nind = b1 * b3;\nnlincon ind <= 1;\n");
    const RunResult r = run_velix(program, {"poldem.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const JsonValue& t = r.table(0, "LagrangeBoundary");
    ASSERT_EQ(t["rows"].size(), 1u);
    EXPECT_NEAR(cell(t, 0, "ChiSq").number(), ref.at("score:vd2"), 2e-4);
    EXPECT_LT(cell(t, 0, "Change").number(), 0.0);  // vd2 would fall below its lower bound
}

// A tie of two elements gives one row, with what releasing it would move
// each of them by (lavaan's epc of the released model, at its estimates);
// of three, one row per element released from the two others.
TEST(ResultsRuns, ReleasedEqualityConstraintsHaveTheReferenceScoreStatistics) {
    const Reference two = reference("hs_tied");
    const RunResult r2 = run_velix(hs_program(two, "modification", {{"l3", "l2"}}), {"hs.csv"});
    ASSERT_EQ(r2.exitStatus, 0) << r2.log;
    const JsonValue& t2 = r2.table(0, "LagrangeEquality");
    ASSERT_EQ(t2["rows"].size(), 1u);
    EXPECT_EQ(cell(t2, 0, "EqCons").str(), "[x2:Fvis] = [x3:Fvis]");
    expect_close(cell(t2, 0, "ChiSq").number(), two.at("score"), 1e-5, "two-element tie");
    expect_close(cell(t2, 0, "Change1").number(), two.at("change:x2"), 1e-5, "change of x2");
    expect_close(cell(t2, 0, "Change2").number(), two.at("change:x3"), 1e-5, "change of x3");
    const Reference three = reference("hs_tie3");
    const RunResult r3 = run_velix(hs_program(three, "modification", {{"l3", "l2"}, {"l6", "l2"}}), {"hs.csv"});
    ASSERT_EQ(r3.exitStatus, 0) << r3.log;
    const JsonValue& t3 = r3.table(0, "LagrangeEquality");
    ASSERT_EQ(t3["rows"].size(), 3u);
    for (size_t k = 0; k < 3; ++k) {
        const std::string released = cell(t3, k, "Parameter1").str();  // "[x2:Fvis]"
        expect_close(cell(t3, k, "ChiSq").number(), three.at("release:" + released.substr(1, 2)), 1e-5, released);
    }
}

// Away from a minimum (TECHNIQUE=NONE at given values, l2 = l3 = 0.7) the
// expected changes of a released tie carry the gradient of every other
// parameter too: they are the Newton step of the model with the tie
// released, -(C / kappa) g at the same point, C the covariance of the
// estimates (PCOVES) and g the gradient of that model written with l2 and
// l3 apart, kappa = 2 / (N - 1).  At a minimum the other parameters' part
// vanishes, so only such a point tests it.
TEST(ResultsRuns, ReleasedEqualityChangesAwayFromAMinimumAreTheNewtonStep) {
    auto start = [](const std::string& name) {
        const std::map<std::string, double> given = {{"l2", 0.7}, {"l3", 0.7}, {"l5", 1.1}, {"l6", 0.9}, {"l8", 1.2},
                                                     {"l9", 1.0}, {"vvis", 0.8}, {"vtxt", 0.9}, {"vspd", 0.4},
                                                     {"cvt", 0.4}, {"cvs", 0.25}, {"cts", 0.15}};
        const auto it = given.find(name);
        return it != given.end() ? it->second : 0.3 + 0.05 * (name.back() - '0');  // ve1-ve9
    };
    std::string tiedModel = kHsStartModel;
    tiedModel.replace(tiedModel.find("$l3 Fvis"), 8, "$l2 Fvis");
    const std::string head = "proc velix data=hs method=ml covariance modification technique=none";
    const RunResult tied = run_velix(head + ";\n" + with_starts(tiedModel, start) + "run;\n", {"hs.csv"});
    const RunResult apart = run_velix(head + " pcoves;\n" + with_starts(kHsStartModel, start) + "run;\n", {"hs.csv"});
    ASSERT_EQ(tied.exitStatus, 0) << tied.log;
    ASSERT_EQ(apart.exitStatus, 0) << apart.log;
    const JsonValue& t = tied.table(0, "LagrangeEquality");
    ASSERT_EQ(t["rows"].size(), 1u);
    const JsonValue& cov = *matrices(apart, "CovMat").at(0);
    const auto grad = column_by_parameter(result_table(apart), "GradObj");
    const double kappa = 2.0 / (301 - 1);
    for (const auto& [column, parameter] : {std::pair{"Change1", "l2"}, std::pair{"Change2", "l3"}}) {
        double step = 0.0;
        for (const auto& [name, g] : grad) step -= at(cov, parameter, name).number() * g / kappa;
        expect_close(cell(t, 0, column).number(), step, 1e-9, column);
    }
}

// The search of the reference, and the same model with c48 split into two
// equal halves a + b: their covariance matrix has rank 1, so the search
// drops a in c48's place, every set that holds both halves is singular (b
// is never tested), and a note says that some sets were singular.  The
// statistics of a and b tie within rounding, and a, the earlier, goes
// first on both kernel levels.
TEST(ResultsRuns, StepwiseWaldTestFollowsTheReferenceSearch) {
    const Reference ref = reference("poldem");
    std::ostringstream split;
    split.precision(17);
    split << " parameters a b = " << ref.at("est:c48") / 2 << " " << ref.at("est:c48") / 2 << ";\n c48 = a + b;\n";
    const struct {
        std::string extra;
        const char* dropsForC48;
        bool singularNote;
    } cases[] = {{"", "c48", false}, {split.str(), "a", true}};
    std::vector<std::pair<std::string, double>> want;
    for (int step = 1;; ++step) {
        const std::string prefix = "waldstep:" + std::to_string(step) + ":";
        auto it = std::find_if(ref.begin(), ref.end(), [&](const auto& e) { return e.first.rfind(prefix, 0) == 0; });
        if (it == ref.end()) break;
        want.emplace_back(it->first.substr(prefix.size()), it->second);
    }
    for (const auto& c : cases)
        for (const Command& command : {kVelix, kBaseline}) {
            SCOPED_TRACE(std::string(c.dropsForC48) + " on " + command.level);
            const RunResult r = run_velix(poldem_program(ref, "modification", c.extra), {"poldem.csv"}, {}, command);
            ASSERT_EQ(r.exitStatus, 0) << r.log;
            const JsonValue& t = r.table(0, "WaldTest");
            ASSERT_EQ(t["rows"].size(), want.size());
            double previous = 0.0;
            for (size_t k = 0; k < want.size(); ++k) {
                EXPECT_EQ(cell(t, k, "Parameter").str(), want[k].first == "c48" ? c.dropsForC48 : want[k].first) << k;
                expect_close(cell(t, k, "ChiSq").number(), want[k].second, 1e-5, want[k].first);
                EXPECT_EQ(cell(t, k, "DF").number(), static_cast<double>(k + 1));
                expect_close(cell(t, k, "IncChiSq").number(), want[k].second - previous, 1e-5, "increase");
                previous = want[k].second;
            }
            EXPECT_EQ(r.has_message(352, 186), c.singularNote) << r.log;
        }
}

// Total effect of Find60 on Fdem65: the direct b2 and through Fdem60 b1 b3.
TEST(ResultsRuns, EffectsAndStabilityOfTheRecursiveModel) {
    const Reference ref = reference("poldem");
    const RunResult r = run_velix(poldem_program(ref, "toteff pdeterm"), {"poldem.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const double b1 = ref.at("est:b1"), b2 = ref.at("est:b2"), b3 = ref.at("est:b3");
    const JsonValue& total = *matrices(r, "TotalEffects").at(0);
    const JsonValue& indirect = *matrices(r, "IndirectEffects").at(0);
    expect_close(at(total, "Fdem65", "Find60").number(), b2 + b1 * b3, 1e-12, "total");
    expect_close(at(indirect, "Fdem65", "Find60").number(), b1 * b3, 1e-12, "indirect");
    // The error-term column of Fdem60 is its own total effect: b3 on Fdem65.
    expect_close(at(total, "Fdem65", "Fdem60").number(), b3, 1e-12, "effect of Fdem60");
    expect_close(at(total, "y6", "Find60").number(), ref.at("est:l9") * (b2 + b1 * b3), 1e-12, "y6");
    // Every variable that sends or receives a direct effect among the
    // dependent ones enters D: the loadings of y1-y8 on Fdem60 and Fdem65
    // and b3.  D'D is diagonal here (no row holds two of them), so the
    // largest eigenvalue of D D' is the larger column sum of squares.
    auto sq = [&](const char* n) { return ref.at(std::string("est:") + n) * ref.at(std::string("est:") + n); };
    const double dem60 = 1.0 + sq("l5") + sq("l6") + sq("l7") + b3 * b3, dem65 = 1.0 + sq("l9") + sq("l10") + sq("l11");
    expect_close(cell(r.table(0, "Stability"), 0, "Stability").number(), std::max(dem60, dem65), 1e-12, "stability");
    // STRUCTEQ names the structural variables (in any case): D = [0 0; b3 0].
    const RunResult named = run_velix(poldem_program(ref, "pdeterm", " structeq fdem60 FDEM65;\n"), {"poldem.csv"});
    ASSERT_EQ(named.exitStatus, 0) << named.log;
    expect_close(cell(named.table(0, "Stability"), 0, "Stability").number(), b3 * b3, 1e-12, "structeq");
}

// The whole effect matrices of the same model against R's (I - A)^-1 - I
// and its indirect part at the same estimates: the rows and columns shown
// are those that hold an entry above rounding, and every entry agrees (an
// error term's unit path to its own variable is neither a total nor an
// indirect effect).
TEST(ResultsRuns, EffectMatricesOfTheEquationsEqualTheInverseOfIMinusA) {
    const Reference ref = reference("poldem");
    const RunResult r = run_velix(poldem_program(ref, "toteff"), {"poldem.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    for (const std::string kind : {"total", "indirect"}) {
        SCOPED_TRACE(kind);
        const std::string prefix = "lineqs_" + kind + ":";
        std::map<std::string, double> want;  // "row:column"
        std::set<std::string> rows, columns;
        for (const auto& [key, value] : ref) {
            if (key.rfind(prefix, 0) != 0) continue;
            const std::string cellName = key.substr(prefix.size());
            const size_t colon = cellName.find(':');
            rows.insert(cellName.substr(0, colon));
            columns.insert(cellName.substr(colon + 1));
            want[cellName] = value;
        }
        ASSERT_GT(want.size(), 10u);
        const JsonValue& m = *matrices(r, kind == "total" ? "TotalEffects" : "IndirectEffects").at(0);
        std::set<std::string> shownRows, shownColumns;
        for (size_t i = 0; i < m["rowLabels"].size(); ++i) shownRows.insert(m["rowLabels"][i].str());
        for (size_t j = 0; j < m["columnLabels"].size(); ++j) shownColumns.insert(m["columnLabels"][j].str());
        EXPECT_EQ(shownRows, rows);
        EXPECT_EQ(shownColumns, columns);
        for (const std::string& row : shownRows)
            for (const std::string& column : shownColumns) {
                const auto it = want.find(row + ":" + column);
                expect_close(at(m, row, column).number(), it == want.end() ? 0.0 : it->second, 1e-12,
                             row + " from " + column);
            }
    }
}

// The RAM list of the same model (1-8 y1-y8, 9-11 x1-x3, 12-14 the
// latent Find60, Fdem60, Fdem65, labelled F1-F3): its total and indirect
// effects are those of R's sem package at sem's estimates.
TEST(ResultsRuns, RamEffectsEqualTheSemPackage) {
    const Reference ref = reference("poldem_ram");
    auto v = [&](const std::string& n) { return start(ref, n); };
    std::ostringstream p;
    p << "proc velix data=poldem method=ml covariance technique=none toteff;\n ram\n"
      << "  1 9 12 1.0, 1 10 12 " << v("l2") << ", 1 11 12 " << v("l3") << ",\n"
      << "  1 1 13 1.0, 1 2 13 " << v("l5") << ", 1 3 13 " << v("l6") << ", 1 4 13 " << v("l7") << ",\n"
      << "  1 5 14 1.0, 1 6 14 " << v("l9") << ", 1 7 14 " << v("l10") << ", 1 8 14 " << v("l11") << ",\n"
      << "  1 13 12 " << v("b1") << ", 1 14 12 " << v("b2") << ", 1 14 13 " << v("b3") << ",\n"
      << "  2 12 12 " << v("vind60") << ", 2 13 13 " << v("vd1") << ", 2 14 14 " << v("vd2") << ",\n";
    const int error[11] = {9, 10, 11, 1, 2, 3, 4, 5, 6, 7, 8};  // ve1-ve11: x1-x3, y1-y8
    for (int i = 0; i < 11; ++i)
        p << "  2 " << error[i] << " " << error[i] << " " << v("ve" + std::to_string(i + 1)) << ",\n";
    p << "  2 5 1 " << v("c15") << ", 2 4 2 " << v("c24") << ", 2 6 2 " << v("c26") << ", 2 7 3 " << v("c37")
      << ", 2 8 4 " << v("c48") << ", 2 8 6 " << v("c68") << ";\nrun;\n";
    const RunResult r = run_velix(p.str(), {"poldem.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const std::map<std::string, std::string> label = {{"Find60", "F1"}, {"Fdem60", "F2"}, {"Fdem65", "F3"}};
    auto ours = [&](const std::string& n) { return label.count(n) ? label.at(n) : n; };
    int checked = 0;
    for (const char* kind : {"total", "indirect"}) {
        const JsonValue& m = *matrices(r, kind == std::string("total") ? "TotalEffects" : "IndirectEffects").at(0);
        for (const auto& [key, value] : ref) {
            if (key.rfind(std::string(kind) + ":", 0) != 0) continue;
            const size_t a = key.find(':'), b = key.find(':', a + 1);
            const std::string row = key.substr(a + 1, b - a - 1), column = key.substr(b + 1);
            expect_close(at(m, ours(row), ours(column)).number(), value, 1e-12, key);
            ++checked;
        }
    }
    EXPECT_GT(checked, 30);
}

// Two reciprocal paths and a third variable that receives from both: the
// stability value is the largest eigenvalue of D D'.
TEST(ResultsRuns, StabilityOfANonrecursiveModel) {
    const RunResult r = run_velix(
        "proc velix data=hs method=ml covariance pdeterm;\n lineqs x1 = 0.5 x2 + E1, x2 = 0.4 x1 + E2,\n"
        "  x3 = 0.3 x1 + 0.2 x2 + E3;\n std E1-E3 = v1-v3;\n cov E1 E2 = c12;\nrun;\n",
        {"hs.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    // D = [0 .5 0; .4 0 0; .3 .2 0]: D D' = [.25 0 .1; 0 .16 .12; .1 .12 .13].
    const double a[3][3] = {{0.25, 0, 0.1}, {0, 0.16, 0.12}, {0.1, 0.12, 0.13}};
    double v[3] = {1, 1, 1}, lambda = 0;
    for (int it = 0; it < 500; ++it) {
        double w[3] = {};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) w[i] += a[i][j] * v[j];
        lambda = std::sqrt(w[0] * w[0] + w[1] * w[1] + w[2] * w[2]);
        for (int i = 0; i < 3; ++i) v[i] = w[i] / lambda;
    }
    expect_close(cell(r.table(0, "Stability"), 0, "Stability").number(), lambda, 1e-10, "stability");
}

TEST(ResultsRuns, NothingAskedGivesNoResidualsAndUlsNoIndices) {
    const Reference ref = reference("hs");
    const RunResult plain = run_velix(hs_program(ref, ""), {"hs.csv"});
    ASSERT_EQ(plain.exitStatus, 0) << plain.log;
    EXPECT_EQ(groups_opened(plain, 0, "Residuals"), 0u);
    const RunResult uls = run_velix(hs_program(ref, "modification", {}, "", "uls"), {"hs.csv"});
    ASSERT_EQ(uls.exitStatus, 0) << uls.log;
    EXPECT_TRUE(matrices(uls, "ModIndices").empty());
}

// The value under `name` of the OUTEST= row of _TYPE_ `type` (and, when
// given, _NAME_ `row`) in `path`.
double outest_value(const std::string& path, const std::string& type, const std::string& name,
                    const std::string& row = "") {
    std::ifstream in(path);
    std::vector<std::string> header;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> cells;
        std::stringstream s(line);
        for (std::string c; std::getline(s, c, ',');) cells.push_back(c);
        if (header.empty()) {
            header = cells;
        } else if (cells[0] == type && (row.empty() || cells[1] == row)) {
            const size_t at = static_cast<size_t>(std::find(header.begin(), header.end(), name) - header.begin());
            return std::stod(cells.at(at));
        }
    }
    ADD_FAILURE() << "no row " << type;
    return 0.0;
}

// For each method with indices: a free cell's Wald statistic is x^2 / V
// with V the covariance of the estimates (the COV rows: the covariance
// step's inverse information scaled by 2 / (N - 1) for every method), and
// a fixed cell's index equals the bound test of the same element freed and
// held at its value by equal bounds, which reads the covariance step's own
// inverse of the larger model.
TEST(ResultsRuns, IndicesAgreeWithTheCovarianceStepForEveryMethod) {
    const Reference ref = reference("hs");
    const std::string dir = own_folder("results_methods");
    std::ifstream hs(data_path("hs.csv"));
    std::ofstream(dir + "/hs.csv") << hs.rdbuf();
    for (const char* method : {"ml", "gls", "wls"}) {
        SCOPED_TRACE(method);
        const RunResult a = run_velix(hs_program(ref, "modification outest=est", {}, "", method), {}, {"--lib", dir});
        ASSERT_EQ(a.exitStatus, 0) << a.log;
        const JsonValue& gamma = *matrices(a, "ModIndices").at(1);
        const double x = outest_value(dir + "/est.csv", "PARMS", "l9");
        const double v = outest_value(dir + "/est.csv", "COV", "l9", "l9");
        expect_close(at(gamma, "x9", "Fspd").number(), x * x / v, 1e-9, "Wald l9");
        std::string freed = hs_program(ref, "modification", {}, " bounds 0 <= n9 <= 0;\n", method);
        freed.replace(freed.find(" Fspd + E9"), 10, " Fspd + n9 (0) Fvis + E9");
        const RunResult b = run_velix(freed, {"hs.csv"});
        ASSERT_EQ(b.exitStatus, 0) << b.log;
        const JsonValue& bound = b.table(0, "LagrangeBoundary");
        ASSERT_EQ(bound["rows"].size(), 1u);
        expect_close(cell(bound, 0, "ChiSq").number(), at(gamma, "x9", "Fvis").number(), 1e-8, "freed x9 on Fvis");
        expect_close(cell(bound, 0, "Change").number(), at(gamma, "x9", "Fvis", "C").number(), 1e-8, "change");
    }
}

// WLS indices and changes are the score test of the program's own F at
// lavaan's WLS estimates (results_reference.R); lavaan's modindices() gives
// (N - 1) / N times both (its WLS information is N / (N - 1) times the
// Hessian of its fit function, while its chisq equals the program's T).
TEST(ResultsRuns, WlsIndicesAreTheScoreTestOfTheFitFunction) {
    const Reference ref = reference("hs_wls");
    const RunResult r = run_velix(hs_program(ref, "modification", {}, "", "wls"), {"hs.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const std::vector<const JsonValue*> mi = matrices(r, "ModIndices");
    ASSERT_EQ(mi.size(), 2u);
    const double lavaanScale = 301.0 / 300.0;  // N / (N - 1) of hs.csv
    struct Cell { const char* key; int matrix; const char* row; const char* column; };
    for (const Cell& c : {Cell{"Fvis=~x9", 1, "x9", "Fvis"}, Cell{"Ftxt=~x1", 1, "x1", "Ftxt"},
                          Cell{"Fspd=~x2", 1, "x2", "Fspd"}, Cell{"x7~~x8", 0, "E8", "E7"},
                          Cell{"x1~~x9", 0, "E9", "E1"}, Cell{"x4~~x6", 0, "E6", "E4"}}) {
        const JsonValue& m = *mi[static_cast<size_t>(c.matrix)];
        const double index = at(m, c.row, c.column).number(), change = at(m, c.row, c.column, "C").number();
        // The same F at the same point: to rounding.  lavaan's numbers
        // carry the small gradient its fit left at the estimates.
        expect_close(index, ref.at(std::string("mi:") + c.key), 1e-9, c.key);
        expect_close(change, ref.at(std::string("epc:") + c.key), 1e-9, std::string("change ") + c.key);
        expect_close(index, lavaanScale * ref.at(std::string("lavmi:") + c.key), 1e-5, std::string("lavaan ") + c.key);
        expect_close(change, lavaanScale * ref.at(std::string("lavepc:") + c.key), 1e-5,
                     std::string("lavaan change ") + c.key);
    }
}

// A dependent parameter's cell shows "<name>" and its Wald statistic from
// the delta-method standard error: l3 = 0.5 l2 has the statistic of l2.
TEST(ResultsRuns, DependentParameterCellUsesTheDeltaMethod) {
    const Reference ref = reference("hs");
    const RunResult r = run_velix(hs_program(ref, "modification", {}, "l3 = 0.5 * l2;\n"), {"hs.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const JsonValue& gamma = *matrices(r, "ModIndices").at(1);
    EXPECT_EQ(at(gamma, "x3", "Fvis", "N").str(), "<l3>");
    expect_close(at(gamma, "x3", "Fvis").number(), at(gamma, "x2", "Fvis").number(), 1e-9, "dependent");
}

// OUTSTAT= receives the standardized residuals, one row per variable.
TEST(ResultsRuns, OutstatRowsHoldTheStandardizedResiduals) {
    const Reference ref = reference("hs");
    const std::string dir = own_folder("results_outstat");
    std::ifstream hs(data_path("hs.csv"));
    std::ofstream(dir + "/hs.csv") << hs.rdbuf();
    const RunResult r = run_velix(hs_program(ref, "outstat=st residual asystand"), {}, {"--lib", dir});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const JsonValue& asym = *matrices(r, "AsymStdRes").at(0);
    std::ifstream in(dir + "/st.csv");
    size_t row = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("MAXASRES,", 0) != 0) continue;
        std::stringstream cells(line);
        std::string type, name, x;
        std::getline(cells, type, ',');
        std::getline(cells, name, ',');
        EXPECT_EQ(name, "x" + std::to_string(row + 1));
        for (size_t j = 0; std::getline(cells, x, ','); ++j)
            expect_close(std::stod(x), asym["values"][row][j].number(), 1e-9, "row " + name);
        ++row;
    }
    EXPECT_EQ(row, 9u);
}

// Every parameter fixed at lavaan's estimates (q = 0): indices are still
// computed, and a fixed variance at its optimum has an index of about 0.
TEST(ResultsRuns, NoFreeParameterStillGivesIndices) {
    const Reference ref = reference("hs");
    std::string program = hs_program(ref, "modification");
    // "name (value)" -> "value": every parameter fixed.
    for (size_t at; (at = program.find(" (")) != std::string::npos;) {
        size_t begin = program.rfind(' ', at - 1) + 1;
        program.erase(begin, at + 2 - begin);
        program.erase(program.find(')', begin), 1);
    }
    const RunResult r = run_velix(program, {"hs.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const std::vector<const JsonValue*> mi = matrices(r, "ModIndices");
    ASSERT_EQ(mi.size(), 2u);
    EXPECT_LT(at(*mi[0], "E3", "E3").number(), 1e-6);
    EXPECT_GT(at(*mi[1], "x9", "Fvis").number(), 1.0);
}

// The normalized residuals, r / sqrt((sigma_ii sigma_jj + sigma_ij^2) /
// (N - 1)): asked for by RESIDUAL=NORM, and in place of the asymptotic
// ones without a covariance of the estimates (message 189).
TEST(ResultsRuns, NormalizedResidualsAskedForAndWithoutCovariance) {
    const Reference ref = reference("hs");
    auto sigma = [&](int i, int j) {
        return ref.at("sigma:x" + std::to_string(std::max(i, j)) + ":x" + std::to_string(std::min(i, j)));
    };
    for (const bool asked : {true, false}) {
        SCOPED_TRACE(asked ? "asked for" : "without covariance");
        const RunResult r = run_velix(hs_program(ref, asked ? "residual=norm" : "nostderr residual asystand"), {"hs.csv"});
        ASSERT_EQ(r.exitStatus, 0) << r.log;
        const JsonValue& norm = *matrices(r, "NormRes").at(0);
        for (int i = 1; i <= 9; ++i)
            for (int j = 1; j < i; ++j) {
                const std::string cellname = "x" + std::to_string(i) + ":x" + std::to_string(j);
                const double v = (sigma(i, i) * sigma(j, j) + sigma(i, j) * sigma(i, j)) / 300.0;
                expect_close(at(norm, "x" + std::to_string(i), "x" + std::to_string(j)).number(),
                             ref.at("raw:" + cellname) / std::sqrt(v), 1e-6, "normalized " + cellname);
            }
        const std::vector<int> notes = r.messages(0, 352);
        EXPECT_EQ(std::find(notes.begin(), notes.end(), 189) != notes.end(), !asked);
        EXPECT_TRUE(matrices(r, "AsymStdRes").empty());
    }
}

// The two-factor model of x1-x6 by `method` with `options`, on hs.csv.
std::string hs6_program(const std::string& method, const std::string& options) {
    return "proc velix data=hs method=" + method + " covariance " + options +
           ";\nvar x1-x6;\n"
           "lineqs x1 = 1.0 Fvis + E1, x2 = l2 Fvis + E2, x3 = l3 Fvis + E3,\n"
           "       x4 = 1.0 Ftxt + E4, x5 = l5 Ftxt + E5, x6 = l6 Ftxt + E6;\n"
           "std Fvis Ftxt = vvis vtxt, E1-E6 = ve1-ve6;\ncov Fvis Ftxt = cvt;\nrun;\n";
}

// The fit summary in each method's own terms (results_reference.R, case
// hs6_*): GLS with INWGT= measures GFI and AGFI by the INWGT= weights (the
// covariances of the first 150 pupils weighing all 301), and GLS and ML
// with KURTOSIS divide the chi-square by the relative multivariate kurtosis.
TEST(ResultsRuns, FitSummaryTakesEachMethodsOwnWeightsAndKurtosis) {
    const Reference inwgt = reference("hs6_gls_inwgt"), kurtosis = reference("hs6_kurtosis");
    struct Case {
        const char* method;
        const char* options;
    };
    for (const Case& c : {Case{"gls", "inwgt=hs6_weights"}, Case{"gls", "kurtosis"}, Case{"ml", "kurtosis"}}) {
        SCOPED_TRACE(std::string(c.method) + " " + c.options);
        const RunResult r = run_velix(hs6_program(c.method, c.options), {"hs.csv", "hs6_weights.csv"});
        ASSERT_EQ(r.exitStatus, 0) << r.log;
        const auto fit = factoid_values(*r.items(0, "factoid", "Fit").at(0));
        if (std::string(c.options) == "kurtosis") {
            const std::string m = c.method;
            expect_close(fit.at("Kurtosis-Adjusted Chi-Square"), kurtosis.at(m + ":adjchisq"), 1e-6, "adjusted");
            expect_close(fit.at("Prob > Kurtosis-Adjusted Chi-Square"), kurtosis.at(m + ":p"), 1e-5, "p");
        } else {
            expect_close(fit.at("Goodness of Fit Index (GFI)"), inwgt.at("gfi"), 1e-7, "GFI");
            expect_close(fit.at("GFI Adjusted for Degrees of Freedom (AGFI)"), inwgt.at("agfi"), 1e-7, "AGFI");
        }
    }
}

// The standardized residuals each method shows by default and the rows of
// its output data sets: the variance standardized ones for ULS and DWLS
// (DWLS's at lavaan's DWLS estimates, results_reference.R case hs6_dwls),
// the asymptotic ones for the others; OUTSTAT= names its predicted moments
// and residuals after the method, and OUTEST= holds the information matrix
// of the methods that have one (not ULS and DWLS).
TEST(ResultsRuns, EachMethodNamesItsResidualsAndOutputRows) {
    const Reference dwls = reference("hs6_dwls");
    const std::string dir = own_folder("results_method_rows");
    std::ifstream hs(data_path("hs.csv"));
    std::ofstream(dir + "/hs.csv") << hs.rdbuf();
    struct Case {
        const char* method;
        const char* predicted;
        const char* residuals;
        bool information;
    };
    for (const Case& c : {Case{"uls", "ULSPRED", "ULSSRES", false}, Case{"gls", "GLSPRED", "GLSASRES", true},
                          Case{"ml", "MAXPRED", "MAXASRES", true}, Case{"wls", "WLSPRED", "WLSASRES", true},
                          Case{"dwls", "DWLSPRED", "DWLSSRES", false}}) {
        SCOPED_TRACE(c.method);
        const RunResult r = run_velix(hs6_program(c.method, "residual outstat=st outest=est"), {}, {"--lib", dir});
        ASSERT_EQ(r.exitStatus, 0) << r.log;
        const std::vector<std::string> stat = read_rows(dir + "/st.csv").types(),
                                       est = read_rows(dir + "/est.csv").types();
        auto count = [](const std::vector<std::string>& types, const std::string& type) {
            return std::count(types.begin(), types.end(), type);
        };
        EXPECT_GT(count(stat, c.predicted), 0) << c.predicted;
        EXPECT_EQ(count(stat, c.residuals), 6) << c.residuals;
        EXPECT_EQ(count(est, "INFORMAT") > 0, c.information);
        // ULS and DWLS, without an information matrix, show the variance
        // standardized residuals.
        const bool varStd = !c.information;
        EXPECT_EQ(matrices(r, "VarStdRes").size(), varStd ? 1u : 0u);
        EXPECT_EQ(matrices(r, "AsymStdRes").size(), varStd ? 0u : 1u);
        if (std::string(c.method) != "dwls") continue;
        const JsonValue& m = *matrices(r, "VarStdRes").at(0);
        for (int i = 1; i <= 6; ++i)
            for (int j = 1; j <= i; ++j) {
                const std::string a = "x" + std::to_string(i), b = "x" + std::to_string(j);
                EXPECT_NEAR(at(m, a, b).number(), dwls.at("varstd:" + a + ":" + b), 1e-5) << a << ", " << b;
            }
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace velix::test
