// The FACTOR model: the default exploratory pattern (counts against the
// closed form n k - k(k-1)/2 + n, names, layout, column names), the
// variants without unique part, with _I_ and without factors, the MATRIX
// path with its default matrices, and the notes and errors.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/model_step.h"
#include "procedure/driver/model.h"

namespace {

using velix::testing::ModelStep;

int32_t default_count(int32_t n, int32_t k, bool unique) { return n * k - k * (k - 1) / 2 + (unique ? n : 0); }

TEST(FactorModel, DefaultExploratoryPattern) {
    // Six ability tests, two factors: 11 loadings and 6 unique variances.
    ModelStep s("proc velix data=ability method=none; factor n=2;\n");
    ASSERT_EQ(s.exitCode, -1) << s.log.str();
    const ModelMatrixTable& mt = s.ctx.model;
    ASSERT_EQ(s.ctx.sizes.nParmFree, default_count(6, 2, true));
    EXPECT_EQ(s.ctx.sizes.nParmFree, 17);
    EXPECT_EQ(s.ctx.sizes.nElements, 17);
    EXPECT_EQ(s.ctx.sizes.nTerms, 2);
    EXPECT_EQ(s.ctx.sizes.nMatrices, 3);
    EXPECT_EQ(mt.type[1], kMatLower);
    EXPECT_EQ(mt.type[2], kMatIdentity);
    EXPECT_EQ(mt.constant[2], 1);
    EXPECT_EQ(mt.type[3], kMatDiagonal);
    EXPECT_EQ(s.count(119), 3);
    EXPECT_EQ(s.ctx.readers.matrixSpec, 0);
    // Loadings column by column from the diagonal down, each element its
    // own parameter with a missing start value.
    int32_t e = 0;
    for (int32_t j = 0; j < 2; ++j)
        for (int32_t i = j; i < 6; ++i, ++e) {
            EXPECT_EQ(s.ctx.elements.row[e], i);
            EXPECT_EQ(s.ctx.elements.column[e], j);
            EXPECT_EQ(s.ctx.elements.parameter[e], e + 1);
            EXPECT_EQ(s.parameter_of(e), "_F" + std::to_string(e + 1));
            EXPECT_TRUE(host_is_missing(s.nlp.x[e]));
        }
    for (int32_t i = 0; i < 6; ++i, ++e) {
        EXPECT_EQ(s.element_at(3, i, i), e);
        EXPECT_EQ(s.parameter_of(e), "_U" + std::to_string(i + 1));
    }
    EXPECT_EQ(mt.elementCount[1], 11);
    EXPECT_EQ(mt.elementCount[2], 0);
    EXPECT_EQ(mt.firstElement[3], 11);
    EXPECT_EQ(s.column_names(), (std::vector<std::string>{"FACT1", "FACT2", "FCOR1", "FCOR2", "UVAR1", "UVAR2",
                                                          "UVAR3", "UVAR4", "UVAR5", "UVAR6"}));
    EXPECT_EQ(mt.firstColumnName[2], 3);
    EXPECT_EQ(mt.firstColumnName[3], 5);
}

TEST(FactorModel, Variants) {
    struct Case {
        const char* text;
        int32_t terms, matrices, parameters;
        size_t columnNames;
    };
    const Case cases[] = {
        {"factor;", 2, 3, default_count(6, 1, true), 8},                 // one factor by default
        {"factor n=3 component;", 1, 2, default_count(6, 3, false), 6},  // no unique part
        {"factor n=2 heywood;", 2, 4, default_count(6, 2, true), 10},    // _U_ _I_ _U_'
        {"factor n=2 component heywood;", 1, 2, default_count(6, 2, false), 4},
        {"factor n=0;", 1, 1, 6, 6},
        {"factor n=0 heywood;", 1, 2, 6, 6},
    };
    for (const Case& c : cases) {
        ModelStep s(std::string("proc velix data=ability method=none; ") + c.text + "\n");
        ASSERT_EQ(s.exitCode, -1) << c.text << "\n" << s.log.str();
        EXPECT_EQ(s.ctx.sizes.nTerms, c.terms) << c.text;
        EXPECT_EQ(s.ctx.sizes.nMatrices, c.matrices) << c.text;
        EXPECT_EQ(s.ctx.sizes.nParmFree, c.parameters) << c.text;
        EXPECT_EQ(s.column_names().size(), c.columnNames) << c.text;
        for (int32_t k = 1; k <= s.ctx.sizes.nMatrices; ++k)
            if (s.name(k) == "_I_") {
                EXPECT_EQ(s.ctx.model.type[k], kMatIdentity) << c.text;
                EXPECT_EQ(s.ctx.model.constant[k], 1) << c.text;
            }
    }
}

TEST(FactorModel, FactorCountsAgainstTheData) {
    // Seven factors of five variables: five factors (400); with the unique
    // part that is more parameters than moments (212, error level 4).
    ModelStep s("proc velix data=hs method=none; var x1-x5; factor n=7;\n");
    EXPECT_EQ(s.count(400), 1);
    EXPECT_EQ(s.ctx.readers.nFactors, 5);
    EXPECT_EQ(s.ctx.model.columns[1], 5);
    EXPECT_EQ(s.ctx.sizes.nParmFree, default_count(5, 5, true));
    EXPECT_EQ(s.count(212), 1);
    EXPECT_GE(s.ctx.errorLevel, 4);
    ModelStep t("proc velix data=hs method=none; var x1-x4; factor n=3;\n");
    EXPECT_EQ(t.ctx.sizes.nParmFree, 13);
    EXPECT_EQ(t.count(212), 1);
}

TEST(FactorModel, NotesOnTheDefaultModel) {
    ModelStep s("proc velix data=ability method=none; factor n=2; parameters a b; structeq general;\n"
                "bounds 0 <= _U1;\n"
                "varnames _F_ = Fa Fb Fc, _P_ = Fx, _Q_ = z;\n");
    EXPECT_EQ(s.count(181), 1);
    EXPECT_EQ(s.count(180), 1);
    EXPECT_EQ(s.count(270), 1);
    EXPECT_EQ(s.count(277), 1);
    EXPECT_EQ(s.count(276), 1);
    EXPECT_EQ(s.count(273), 1);
    EXPECT_EQ(s.ctx.sizes.nParmAll, 17);
    const auto names = s.column_names();
    ASSERT_EQ(names.size(), 10u);
    EXPECT_EQ(names[1], "Fb");
    EXPECT_EQ(names[2], "Fx");
    EXPECT_EQ(names[3], "FCOR2");
    // The default model has no _I_: copying from it is an unknown matrix
    // (273), not one name too few (276), and the names stay as they were.
    ModelStep c("proc velix data=ability method=none; factor n=2;\nvarnames _P_ = _I_;\n");
    EXPECT_EQ(c.count(273), 1);
    EXPECT_EQ(c.count(276), 0);
    EXPECT_EQ(c.column_names()[2], "FCOR1");
    // Programming statements have no place without MATRIX statements.
    ModelStep p("proc velix data=ability method=none; factor n=1; parameters a; b = 2 * a;\n");
    EXPECT_EQ(p.count(272), 1);
    EXPECT_EQ(p.ctx.program.hasProgram, 0);
}

TEST(FactorModel, MatrixStatementsForSomeMatrices) {
    // _F_ alone: the default _P_ is a constant identity (no 118) and _U_
    // keeps its default diagonal; a confirmatory pattern keeps state 1.
    ModelStep f("proc velix data=ability method=none; factor n=2;\n"
                "matrix _F_ [ ,1] = a1-a3, [ ,2] = 0 0 0 b4-b6;\n");
    ASSERT_EQ(f.exitCode, -1) << f.log.str();
    EXPECT_EQ(f.count(118), 0);
    EXPECT_EQ(f.ctx.model.type[2], kMatIdentity);
    EXPECT_EQ(f.ctx.model.elementCount[2], 0);
    EXPECT_EQ(f.ctx.sizes.nParmFree, 12);
    EXPECT_EQ(f.parameter_of(f.element_at(3, 5, 5)), "_U6");
    EXPECT_EQ(f.ctx.readers.matrixSpec, 1);
    // The exploratory pattern written out is recognised (state 0).
    ModelStep x("proc velix data=ability method=none; factor n=2;\n"
                "matrix _F_ [ ,1] = a1-a6, [ ,2] = 0 b2-b6;\n");
    ASSERT_EQ(x.exitCode, -1) << x.log.str();
    EXPECT_EQ(x.ctx.readers.matrixSpec, 0);
    // A free _P_ gives state 2.
    ModelStep p("proc velix data=ability method=none; factor n=2;\n"
                "matrix _P_ [1,1] = 1.0 1.0, [2,1] = r;\n");
    ASSERT_EQ(p.exitCode, -1) << p.log.str();
    EXPECT_EQ(p.ctx.readers.matrixSpec, 2);
    EXPECT_EQ(p.parameter_of(p.element_at(1, 5, 1)), "_F11");
    // Without factors matrix 2 is _I_: a statement for it is refused, and
    // it is not taken for _P_.
    ModelStep i("proc velix data=ability method=none; factor n=0 heywood; matrix _I_ [1,1] = 2;\n");
    EXPECT_EQ(i.exitCode, 2000) << i.log.str();
    EXPECT_EQ(i.count(215), 1);
    EXPECT_EQ(i.ctx.readers.matrixSpec, 1);
}

}  // namespace
