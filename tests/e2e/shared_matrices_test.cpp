// A COSAN matrix named in several terms, or twice in one term, is one
// matrix: its model is the model with a renamed copy whose elements carry
// the same parameter names (and so are the same parameters).  For every
// type and form the two give the same implied moments and gradient at the
// start values, and the same minimum, estimates and standard errors under
// every Jacobian storage mode.  A program whose second use of the
// sparse-row inverse's matrix once read an inverse never formed is
// checked against a covariance matrix formed by hand in R
// (shared_matrices_reference.R).
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <ostream>
#include <string>

#include "harness.h"

namespace velix::test {
namespace {

// `text` with every "@" replaced by `with`.
std::string fill(std::string text, const std::string& with) {
    for (size_t at; (at = text.find('@')) != std::string::npos;) text.replace(at, 1, with);
    return text;
}

struct Row {
    const char* name;
    // The COSAN statement with the shared matrix A: "@" stands for its
    // type and form, each "%" for the name of a later occurrence.
    const char* cosan;
    const char* typeForm;
    const char* elements;  // of A
    const char* others;    // the MATRIX statements of the other matrices
};

constexpr const char* kTwoTerms = "cosan A(9, @) * P(9, DIA) + %(9, @) * Q(9, SYM);\n";
constexpr const char* kTwoTermsOthers =
    "matrix P [1,1] = 1.0 p2-p9 (1 1 1 1 1 1 1 1);\nmatrix Q [5,3] = q53 (0.1), [8,6] = q86 (0.1);\n";
constexpr const char* kCentral = "cosan F(9, GEN) * A(9, @) + G(9, GEN) * %(9, @);\n";
constexpr const char* kCentralOthers =
    "matrix F [1,1] = 1 1 1 1 1 1 1 1 1, [2,1] = f21 (0.3), [3,1] = f31 (0.2);\n"
    "matrix G [1,1] = 1 1 1 1 1 1 1 1 1, [4,1] = g41 (0.3);\n";
constexpr const char* kThreeTerms = "cosan A(9, @) * P(9, DIA) + %(9, @) * Q(9, SYM) + %(9, @) * R(9, DIA);\n";
constexpr const char* kThreeTermsOthers =
    "matrix P [1,1] = 1.0 p2-p9 (1 1 1 1 1 1 1 1);\nmatrix Q [5,3] = q53 (0.1), [8,6] = q86 (0.1);\n"
    "matrix R [1,1] = 0.5 0.5 0.5 0.5 0.5 0.5 0.5 0.5 0.5;\n";
constexpr const char* kOneTerm = "cosan A(9, @) * %(9, @) * P(9, SYM);\n";
constexpr const char* kOneTermOthers = "matrix P [1,1] = 1.0 p2-p9 (1 1 1 1 1 1 1 1), [5,3] = p53 (0.1);\n";

// Off-diagonal paths (the diagonal of an IMINUSINV or BETA matrix stays
// empty), with a unit diagonal (2 for SYM) where the form needs one.
#define LOWER_PATHS "[2,1] = a21 (0.3), [3,1] = a31 (0.2), [4,2] = a42 (0.25)"
#define GENERAL_PATHS LOWER_PATHS ", [1,3] = 0.1"
#define UPPER_PATHS "[1,2] = a12 (0.3), [1,3] = a13 (0.2), [2,4] = a24 (0.25)"
#define UNIT "[1,1] = 1 1 1 1 1 1 1 1 1, "
#define DIAGONAL "[1,1] = d1 (1.5) 1.5 1.5 1.5 1.5 1.5 1.5 1.5 1.5"
#define CENTRAL_SYM "[1,1] = p1-p9 (1.5 1.5 1.5 1.5 1.5 1.5 1.5 1.5 1.5)"
#define CENTRAL_OFF "[5,3] = p53 (0.1), [8,6] = p86 (0.1)"

const Row kRows[] = {
    {"terms_gen", kTwoTerms, "GEN", UNIT GENERAL_PATHS, kTwoTermsOthers},
    {"terms_gen_inv", kTwoTerms, "GEN, INV", UNIT GENERAL_PATHS, kTwoTermsOthers},
    {"terms_gen_imi", kTwoTerms, "GEN, IMI", GENERAL_PATHS, kTwoTermsOthers},
    {"terms_low", kTwoTerms, "LOW", UNIT LOWER_PATHS, kTwoTermsOthers},
    {"terms_low_inv", kTwoTerms, "LOW, INV", UNIT LOWER_PATHS, kTwoTermsOthers},
    {"terms_low_imi", kTwoTerms, "LOW, IMI", LOWER_PATHS, kTwoTermsOthers},
    {"terms_upp", kTwoTerms, "UPP", UNIT UPPER_PATHS, kTwoTermsOthers},
    {"terms_upp_inv", kTwoTerms, "UPP, INV", UNIT UPPER_PATHS, kTwoTermsOthers},
    {"terms_upp_imi", kTwoTerms, "UPP, IMI", UPPER_PATHS, kTwoTermsOthers},
    {"terms_sym", kTwoTerms, "SYM", "[1,1] = 2 2 2 2 2 2 2 2 2, " LOWER_PATHS, kTwoTermsOthers},
    {"terms_sym_inv", kTwoTerms, "SYM, INV", "[1,1] = 2 2 2 2 2 2 2 2 2, " LOWER_PATHS, kTwoTermsOthers},
    {"terms_sym_imi", kTwoTerms, "SYM, IMI", LOWER_PATHS, kTwoTermsOthers},
    {"terms_bet", kTwoTerms, "BET", GENERAL_PATHS, kTwoTermsOthers},
    {"terms_bet_imi", kTwoTerms, "BET, IMI", GENERAL_PATHS, kTwoTermsOthers},
    {"terms_dia", kTwoTerms, "DIA", DIAGONAL, kTwoTermsOthers},
    {"terms_dia_inv", kTwoTerms, "DIA, INV", DIAGONAL, kTwoTermsOthers},
    {"terms_zdi", kTwoTerms, "ZDI", DIAGONAL, kTwoTermsOthers},
    {"three_terms_gen_imi", kThreeTerms, "GEN, IMI", GENERAL_PATHS, kThreeTermsOthers},
    {"three_terms_sym_inv", kThreeTerms, "SYM, INV", "[1,1] = 2 2 2 2 2 2 2 2 2, " LOWER_PATHS, kThreeTermsOthers},
    {"central_sym", kCentral, "SYM", CENTRAL_SYM ", " CENTRAL_OFF, kCentralOthers},
    {"central_sym_inv", kCentral, "SYM, INV", CENTRAL_SYM ", " CENTRAL_OFF, kCentralOthers},
    {"central_sym_imi", kCentral, "SYM, IMI", CENTRAL_OFF, kCentralOthers},
    {"central_dia", kCentral, "DIA", CENTRAL_SYM, kCentralOthers},
    {"central_dia_inv", kCentral, "DIA, INV", CENTRAL_SYM, kCentralOthers},
    {"term_gen_imi", kOneTerm, "GEN, IMI", GENERAL_PATHS, kOneTermOthers},
    {"term_upp_imi", kOneTerm, "UPP, IMI", UPPER_PATHS, kOneTermOthers},
    {"term_low_inv", kOneTerm, "LOW, INV", UNIT LOWER_PATHS, kOneTermOthers},
    {"term_sym", kOneTerm, "SYM", "[1,1] = 2 2 2 2 2 2 2 2 2, " LOWER_PATHS, kOneTermOthers},
};

// The program of a row, the later occurrences of A named A again or
// (twin) B, C, ... with the same elements.
std::string program(const Row& row, bool twin, const std::string& options) {
    std::string text = "proc velix data=hs method=ml covariance " + options + ";\n";
    std::string cosan = fill(row.cosan, row.typeForm), matrices = std::string("matrix A ") + row.elements + ";\n";
    for (char copy = 'B'; cosan.find('%') != std::string::npos; ++copy) {
        cosan.replace(cosan.find('%'), 1, 1, twin ? copy : 'A');
        if (twin) matrices += std::string("matrix ") + copy + " " + row.elements + ";\n";
    }
    return text + cosan + matrices + row.others + "run;\n";
}

// Largest |a - b| / (1 + |b|) over the cells of two JSON matrices.
double matrix_gap(const JsonValue& a, const JsonValue& b) {
    double gap = 0.0;
    for (size_t i = 0; i < b.size(); ++i)
        for (size_t j = 0; j < b[i].size(); ++j)
            gap = std::max(gap, std::fabs(a[i][j].number() - b[i][j].number()) / (1.0 + std::fabs(b[i][j].number())));
    return gap;
}

// The column of the optimizer's results by parameter, every parameter of
// `want` present in `got` and equal to `tolerance` relative.
void expect_columns_equal(const RunResult& got, const RunResult& want, const std::string& column, double tolerance) {
    const auto g = column_by_parameter(result_table(got), column);
    const auto w = column_by_parameter(result_table(want), column);
    ASSERT_FALSE(w.empty()) << want.log;
    EXPECT_EQ(g.size(), w.size());
    for (const auto& [name, value] : w) {
        ASSERT_EQ(g.count(name), 1u) << name;
        EXPECT_FALSE(std::isnan(value)) << column << " of " << name << " is missing\n" << want.log;
        EXPECT_NEAR(g.at(name), value, tolerance * (1.0 + std::fabs(value))) << column << " of " << name;
    }
}

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

class NamesakeTwin : public ::testing::TestWithParam<Row> {};

TEST_P(NamesakeTwin, GivesTheModelOfRenamedCopies) {
    const Row& row = GetParam();
    // The moments and the gradient at the start values.
    {
        const RunResult shared = run_velix(program(row, false, "technique=none residual"), {"hs.csv"});
        const RunResult twin = run_velix(program(row, true, "technique=none residual"), {"hs.csv"});
        ASSERT_EQ(twin.exitStatus, 0) << twin.log;
        ASSERT_EQ(shared.exitStatus, 0) << shared.log;
        const JsonValue& a = *shared.items(0, "matrix", "RawRes").at(0);
        const JsonValue& b = *twin.items(0, "matrix", "RawRes").at(0);
        EXPECT_LT(matrix_gap(a["values"], b["values"]), 1e-12);
        expect_columns_equal(shared, twin, "GradObj", 1e-10);
    }
    // The fit under every storage of the Jacobian (0: the system's choice).
    for (const int mode : {0, 1, 2, 3, 4, 5, 6, 11, 12}) {
        SCOPED_TRACE("HESSALG=" + std::to_string(mode));
        const std::string options = mode == 0 ? "" : "hessalg=" + std::to_string(mode);
        const RunResult shared = run_velix(program(row, false, options), {"hs.csv"});
        const RunResult twin = run_velix(program(row, true, options), {"hs.csv"});
        ASSERT_EQ(twin.exitStatus, 0) << twin.log;
        ASSERT_EQ(shared.exitStatus, 0) << shared.log;
        EXPECT_NEAR(final_f(shared), final_f(twin), 1e-10 * final_f(twin));
        // Forward differences agree to their own precision.
        const double tolerance = mode == 5 || mode == 6 ? 1e-5 : 1e-6;
        expect_columns_equal(shared, twin, "Estimate", tolerance);
        expect_columns_equal(shared, twin, "AppStdErr", tolerance);
    }
}

INSTANTIATE_TEST_SUITE_P(TypesAndForms, NamesakeTwin, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

// Every value fixed, the matrix of the sparse-row
// inverse in two terms.  R forms C by hand; the renamed copy agrees.
TEST(SharedMatrices, NamedTwiceItIsOneMatrix) {
    constexpr double kReferenceF = 3.36446011753;  // shared_matrices_reference.R
    const std::string text =
        "proc velix data=hs method=ml covariance technique=none;\n"
        "   cosan A(9,GEN,IMI) * P(9,DIA) + %(9,GEN,IMI) * Q(9,SYM);\n"
        "   matrix A [2,1] = 0.5, [3,1] = 0.4;\n"
        "   matrix P [1,1] = 1.5 1.2 1.3 1.4 1.5 1.6 1.7 1.8 1.9;\n"
        "   matrix Q [2,1] = 0.3;\n";
    for (const bool twin : {false, true}) {
        std::string program = text;
        program.replace(program.find('%'), 1, twin ? "B" : "A");
        if (twin) program += "   matrix B [2,1] = 0.5, [3,1] = 0.4;\n";
        const RunResult r = run_velix(program + "run;\n", {"hs.csv"});
        ASSERT_EQ(r.exitStatus, 0) << r.log;
        EXPECT_NEAR(final_f(r), kReferenceF, 1e-10) << (twin ? "renamed copy" : "one name");
    }
}

}  // namespace
}  // namespace velix::test
