// MATRIX statements on whole COSAN programs: the layouts of the position
// codes over each type's free positions, item buffering and start values,
// generated names across statements, repeated positions, the diagonal of
// (I - B) matrices, type narrowing, VARNAMES column names and the errors.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/model_step.h"
#include "procedure/driver/model.h"

namespace {

using velix::testing::ModelStep;

const std::string kProc = "proc velix data=hs method=none;\n";
// A 9 x 3 loading matrix F around a 3 x 3 central P with a free diagonal
// and a unique part U: the statements under test fill F.
const std::string kFPU = "cosan F(3) * P(3, SYM) + U(9, SYM);\nmatrix P [1,1] = p1-p3;\nmatrix U [1,1] = u1-u9;\n";

TEST(MatrixStatements, PositionCodesOverAGeneralMatrix) {
    // No position: the items cycle over all positions, row by row.
    ModelStep cyc(kProc + kFPU + "matrix F = a b;\n");
    ASSERT_EQ(cyc.exitCode, -1) << cyc.log.str();
    EXPECT_EQ(cyc.ctx.model.elementCount[1], 27);
    EXPECT_EQ(cyc.parameter_of(cyc.element_at(1, 0, 0)), "a");
    EXPECT_EQ(cyc.parameter_of(cyc.element_at(1, 0, 1)), "b");
    EXPECT_EQ(cyc.parameter_of(cyc.element_at(1, 0, 2)), "a");
    EXPECT_EQ(cyc.parameter_of(cyc.element_at(1, 1, 0)), "b");
    // [ , ]: the same items in every row; a fixed 1.0 first.
    ModelStep row(kProc + kFPU + "matrix F [ , ] = 1.0 g h;\n");
    ASSERT_EQ(row.exitCode, -1) << row.log.str();
    for (int32_t i = 0; i < 9; ++i) {
        const int32_t e = row.element_at(1, i, 0);
        ASSERT_GE(e, 0);
        EXPECT_EQ(row.ctx.elements.parameter[e], 0);
        EXPECT_DOUBLE_EQ(row.ctx.elements.value[e], 1.0);
        EXPECT_EQ(row.parameter_of(row.element_at(1, i, 2)), "h");
    }
    // [ ,j] and [i, ]: a column and a row; a list longer than the line is
    // cut with 221.
    ModelStep lines(kProc + kFPU + "matrix F [ ,2] = c1-c9, [4, ] = r1 r2 r3 r4;\n");
    ASSERT_EQ(lines.exitCode, -1) << lines.log.str();
    EXPECT_EQ(lines.count(221), 1);
    EXPECT_EQ(lines.parameter_of(lines.element_at(1, 8, 1)), "c9");
    EXPECT_EQ(lines.parameter_of(lines.element_at(1, 3, 2)), "r3");
    // Row 4 column 2 held c4 and takes r2 (220).
    EXPECT_EQ(lines.count(220), 1);
    EXPECT_EQ(lines.parameter_of(lines.element_at(1, 3, 1)), "r2");
    // [i,j]: the diagonal run from (i,j); too long a run is cut (224).
    ModelStep diag(kProc + kFPU + "matrix F [2,1] = d1-d5;\n");
    ASSERT_EQ(diag.exitCode, -1) << diag.log.str();
    EXPECT_EQ(diag.count(224), 1);
    EXPECT_EQ(diag.parameter_of(diag.element_at(1, 1, 0)), "d1");
    EXPECT_EQ(diag.parameter_of(diag.element_at(1, 3, 2)), "d3");
    EXPECT_EQ(diag.ctx.model.elementCount[1], 3);
}

TEST(MatrixStatements, FreePositionsOfTheTypes) {
    // LOWER: a column from the diagonal down, a row up to the diagonal.
    ModelStep low(kProc + "cosan L(9, LOW) * P(9, SYM); matrix L [ ,3] = l1-l9, [2, ] = m1-m5;\n"
                          "matrix P [1,1] = p1-p9;\n");
    ASSERT_EQ(low.exitCode, -1) << low.log.str();
    EXPECT_EQ(low.parameter_of(low.element_at(1, 2, 2)), "l1");
    EXPECT_EQ(low.parameter_of(low.element_at(1, 8, 2)), "l7");
    EXPECT_EQ(low.parameter_of(low.element_at(1, 1, 1)), "m2");
    EXPECT_EQ(low.count(221), 2);  // 9 items for 7 positions, 5 for 2
    for (int32_t e = low.ctx.model.firstElement[1]; e < low.ctx.model.firstElement[1] + low.ctx.model.elementCount[1]; ++e)
        EXPECT_GE(low.ctx.elements.row[e], low.ctx.elements.column[e]);
    // SYMMETRIC: a start above the diagonal is mirrored below, (1,3) is
    // stored as row 3, column 1.
    ModelStep sym(kProc + "cosan F(3) * P(3, SYM); matrix F = f1-f27; matrix P [1,1] = p1-p3, [1,3] = s13;\n");
    ASSERT_EQ(sym.exitCode, -1) << sym.log.str();
    EXPECT_EQ(sym.parameter_of(sym.element_at(2, 2, 0)), "s13");
    EXPECT_EQ(sym.element_at(2, 0, 2), -1);
    // UPPER: a start below the diagonal is refused (227); LOWER above (226);
    // DIAGONAL off the diagonal (225); indices outside the matrix (222, 223).
    struct Case {
        const char* cosan;
        const char* matrix;
        int32_t message;
    };
    const Case cases[] = {
        {"cosan A(9, UPP) * P(9, SYM);", "matrix A [3,1] = a;", 227},
        {"cosan A(9, LOW) * P(9, SYM);", "matrix A [1,3] = a;", 226},
        {"cosan A(9, DIA) * P(9, SYM);", "matrix A [1,2] = a;", 225},
        {"cosan A(3) * P(3, SYM);", "matrix A [ ,4] = a;", 222},
        {"cosan A(3) * P(3, SYM);", "matrix A [10, ] = a;", 223},
        {"cosan A(3) * P(3, SYM);", "matrix A [0,1] = a;", 223},
        {"cosan I(9, IDE) * P(9, SYM);", "matrix I [1,1] = a;", 215},
    };
    for (const Case& c : cases) {
        ModelStep s(kProc + c.cosan + "\n" + c.matrix + "\nmatrix P [1,1] = p1-p9;\n");
        EXPECT_EQ(s.exitCode, 2000) << c.matrix << "\n" << s.log.str();
        EXPECT_EQ(s.count(c.message), 1) << c.matrix;
    }
}

TEST(MatrixStatements, ItemsStartValuesAndPrefixes) {
    ModelStep s(kProc + kFPU +
                "matrix F [ ,1] = a b (0.5 0.7) 1.0, [ ,2] = f__ (0.3), [ ,3] = c (0.1 0.2);\n");
    ASSERT_EQ(s.exitCode, -1) << s.log.str();
    EXPECT_DOUBLE_EQ(s.ctx.elements.value[s.element_at(1, 0, 0)], 0.5);
    EXPECT_DOUBLE_EQ(s.ctx.elements.value[s.element_at(1, 1, 0)], 0.7);
    EXPECT_DOUBLE_EQ(s.ctx.elements.value[s.element_at(1, 2, 0)], 1.0);
    // A prefix as the last item names every position left of its column,
    // all with its start value.
    for (int32_t i = 0; i < 9; ++i) {
        const int32_t e = s.element_at(1, i, 1);
        EXPECT_EQ(s.parameter_of(e), "f" + std::to_string(i + 1));
        EXPECT_DOUBLE_EQ(s.ctx.elements.value[e], 0.3);
    }
    // More start values than names: 217, the first one kept.
    EXPECT_EQ(s.count(217), 1);
    EXPECT_DOUBLE_EQ(s.ctx.elements.value[s.element_at(1, 0, 2)], 0.1);
    // The counter of a prefix runs on over statements.
    ModelStep t(kProc + "cosan F(3) * P(3, SYM); matrix F [ ,1] = f__, [ ,2] = g1-g9, [ ,3] = h1-h9;\n"
                        "matrix P [1,1] = f__;\n");
    ASSERT_EQ(t.exitCode, -1) << t.log.str();
    EXPECT_EQ(t.parameter_of(t.element_at(2, 0, 0)), "f10");
    EXPECT_EQ(t.parameter_of(t.element_at(2, 2, 2)), "f12");
    // An entry without items is skipped with a warning (219); the entries
    // around it are read.
    ModelStep empty(kProc + kFPU + "matrix F [ ,1] = a1-a9, [ ,2] = , [ ,3] = c1-c9;\n");
    ASSERT_EQ(empty.exitCode, -1) << empty.log.str();
    EXPECT_EQ(empty.count(219), 1);
    EXPECT_EQ(empty.element_at(1, 0, 1), -1);
    EXPECT_EQ(empty.parameter_of(empty.element_at(1, 8, 2)), "c9");
    // A start value after a fixed value is an input error (216), not a
    // syntax error, and not also a surplus of start values.
    ModelStep fixedStart(kProc + kFPU + "matrix F [ ,1] = 1.0 (0.5) a2-a9;\n");
    EXPECT_EQ(fixedStart.count(216), 1);
    EXPECT_EQ(fixedStart.count(217), 0);
    EXPECT_EQ(fixedStart.ctx.errorLevel, kLevelInputError);
}

TEST(MatrixStatements, TypeNarrowingAndTheDiagonalOfBeta) {
    // Parameters only on the diagonal of a GENERAL matrix: DIAGONAL (119).
    ModelStep d(kProc + "cosan A(9) * P(9, SYM); matrix A [1,1] = a1-a9; matrix P [1,1] = p1-p9;\n");
    ASSERT_EQ(d.exitCode, -1) << d.log.str();
    EXPECT_EQ(d.ctx.model.type[1], kMatDiagonal);
    EXPECT_GE(d.count(119), 1);
    // A BETA matrix loses its diagonal (275, once) and keeps its type.
    ModelStep b(kProc + "cosan B(9, BET, IMI) * P(9, SYM); matrix B [1,1] = b1-b9, [2,1] = c1-c8;\n"
                        "matrix P [1,1] = p1-p9;\n");
    ASSERT_EQ(b.exitCode, -1) << b.log.str();
    EXPECT_EQ(b.count(275), 1);
    EXPECT_EQ(b.ctx.model.type[1], kMatBeta);
    EXPECT_EQ(b.ctx.model.elementCount[1], 8);
    for (int32_t i = 0; i < 9; ++i) EXPECT_EQ(b.element_at(1, i, i), -1);
    // Unfilled positions are no elements; a GENERAL matrix with no
    // parameter and no nonzero value ends the step (118).
    ModelStep e(kProc + "cosan A(9) * P(9, SYM); matrix A [1,1] = 0 0 0; matrix P [1,1] = p1-p9;\n");
    EXPECT_EQ(e.exitCode, 1008) << e.log.str();
    EXPECT_EQ(e.count(118), 1);
}

TEST(MatrixStatements, VarnamesColumnNames) {
    ModelStep s(kProc + kFPU + "matrix F = f1-f27;\nvarnames F = Fa Fb, P = F, U = e1-e9;\n");
    ASSERT_EQ(s.exitCode, -1) << s.log.str();
    // Two names for three columns: the third is VAR3 (276).
    EXPECT_EQ(s.count(276), 1);
    EXPECT_EQ(s.column_names(), (std::vector<std::string>{"Fa", "Fb", "VAR3", "e1", "e2", "e3", "e4", "e5",
                                                          "e6", "e7", "e8", "e9"}));
    // P shares F's names.
    EXPECT_EQ(s.ctx.model.firstColumnName[1], 1);
    EXPECT_EQ(s.ctx.model.firstColumnName[2], 1);
    EXPECT_EQ(s.ctx.model.firstColumnName[3], 4);
    // Neither matrix of a copy has names (278); an unknown matrix (273); a
    // matrix given by number is no item of a COSAN model (274).
    ModelStep c(kProc + kFPU + "matrix F = f1-f27;\nvarnames U = e1-e9, P = F, Q = a;\n");
    ASSERT_EQ(c.exitCode, -1) << c.log.str();
    EXPECT_EQ(c.count(278), 1);
    EXPECT_EQ(c.count(273), 1);
    ModelStep n(kProc + kFPU + "matrix F = f1-f27;\nvarnames 1 = a b c;\n");
    ASSERT_EQ(n.exitCode, -1) << n.log.str();
    EXPECT_EQ(n.count(274), 1);
    EXPECT_EQ(n.ctx.readers.nColumnNames, 0);
    EXPECT_EQ(n.ctx.errorLevel, 4);
}

}  // namespace
