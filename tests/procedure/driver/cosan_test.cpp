// The COSAN reader on whole statements: the matrices of the terms, square
// central matrices, repeated names with their
// links and corrections, the stored inverses laid out after the type
// corrections, and the input errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/support/model_step.h"
#include "procedure/driver/model.h"

namespace {

using velix::testing::ModelStep;

const std::string kProc = "proc velix data=hs method=none;\n";

TEST(CosanModel, DeclaredMatricesAndRows) {
    ModelStep s(kProc + "cosan F(3) * P(3, SYM) + U(9, SYM);\n"
                        "matrix F [ ,1] = a1-a9, [ ,2] = b1-b9, [ ,3] = c1-c9;\n"
                        "matrix P [1,1] = 1.0 1.0 1.0;\n"
                        "matrix U [1,1] = u1-u9;\n");
    ASSERT_EQ(s.exitCode, -1) << s.log.str();
    const ModelMatrixTable& mt = s.ctx.model;
    EXPECT_EQ(mt.rows[1], 9);
    EXPECT_EQ(mt.columns[1], 3);
    EXPECT_EQ(mt.type[1], kMatGeneral);  // no type given, every position filled
    EXPECT_EQ(mt.rows[2], 3);            // rows chained from F's columns
    EXPECT_EQ(mt.rows[3], 9);            // first matrix of term 2
    EXPECT_EQ(s.ctx.sizes.nTerms, 2);
    EXPECT_EQ(s.ctx.model.termTable[1], 3);
    EXPECT_EQ(s.ctx.model.termTable[2], 4);
    EXPECT_EQ(s.ctx.readers.largestProduct, 81);
    EXPECT_EQ(s.ctx.readers.leadingDim, 9);
    EXPECT_EQ(s.ctx.sizes.nParmFree, 36);
    // P holds fixed ones on its diagonal and U its free diagonal.
    EXPECT_EQ(s.ctx.model.type[2], kMatDiagonal);
    EXPECT_EQ(s.ctx.model.constant[2], 1);
    EXPECT_EQ(s.ctx.model.type[3], kMatDiagonal);
}

TEST(CosanModel, CentralMatricesAreSquare) {
    // After a 3-column matrix, a central matrix given 4 columns gets 3.
    ModelStep s(kProc + "cosan F(3) * P(4, SYM); matrix F = f1-f27; matrix P [1,1] = p1-p3;\n");
    ASSERT_EQ(s.exitCode, -1) << s.log.str();
    EXPECT_EQ(s.count(425), 1);
    EXPECT_EQ(s.ctx.model.columns[2], 3);
    // Alone in its term, the central matrix has the n manifest variables
    // as rows, so it gets n columns.
    ModelStep one(kProc + "cosan U(5, SYM); matrix U [1,1] = u1-u9;\n");
    ASSERT_EQ(one.exitCode, -1) << one.log.str();
    EXPECT_EQ(one.count(425), 1);
    EXPECT_EQ(one.ctx.model.columns[1], 9);
    EXPECT_EQ(one.ctx.sizes.nParmFree, 9);
    // A central matrix declared GENERAL or without a type becomes
    // SYMMETRIC (426, error level 4); the step goes on.
    ModelStep gen(kProc + "cosan F(3) * P(3); matrix F = f1-f27; matrix P [1,1] = p1-p3;\n");
    ASSERT_EQ(gen.exitCode, -1) << gen.log.str();
    EXPECT_EQ(gen.count(426), 1);
    EXPECT_EQ(gen.ctx.errorLevel, 4);
}

TEST(CosanModel, RepeatedNamesAreLinked) {
    // The second A gives no columns: it inherits 3 and is linked to the
    // first; the two occurrences are one matrix (one set of elements).
    ModelStep s(kProc + "cosan A(3) * P(3, SYM) + A * Q(3, SYM);\n"
                        "matrix A = a1-a27; matrix P [1,1] = p1-p3; matrix Q [1,1] = q1-q3;\n");
    ASSERT_EQ(s.exitCode, -1) << s.log.str();
    const ModelMatrixTable& mt = s.ctx.model;
    EXPECT_EQ(mt.sameName[3], 1);
    EXPECT_EQ(mt.columns[3], 3);
    EXPECT_EQ(s.count(427), 0);
    EXPECT_EQ(mt.firstElement[3], mt.firstElement[1]);
    EXPECT_EQ(mt.elementCount[3], 27);
    EXPECT_EQ(s.ctx.sizes.nParmFree, 33);
    // Given other columns the second time: the earlier definition wins
    // (427), and the central Q then follows A's 3 columns (425).
    ModelStep c(kProc + "cosan A(3) * P(3, SYM) + A(4) * Q(4, SYM);\n"
                        "matrix A = a1-a27; matrix P [1,1] = p1-p3; matrix Q [1,1] = q1-q3;\n");
    ASSERT_EQ(c.exitCode, -1) << c.log.str();
    EXPECT_EQ(c.count(427), 1);
    EXPECT_EQ(c.count(425), 1);
    EXPECT_EQ(c.ctx.model.columns[3], 3);
    EXPECT_EQ(c.ctx.model.columns[4], 3);
    // A type declared the first time and left out the second is inherited,
    // with the note.
    ModelStep t(kProc + "cosan A(3, LOW) * P(3, SYM) + A * Q(3, SYM);\n"
                        "matrix A = a1-a27; matrix P [1,1] = p1-p3; matrix Q [1,1] = q1-q3;\n");
    EXPECT_EQ(t.count(427), 1) << t.log.str();
    EXPECT_EQ(t.ctx.model.type[3], t.ctx.model.type[1]);
    // Occurrences that would differ in shape (the second A has B's 3
    // columns as rows, the first the 9 variables) are refused.
    ModelStep bad(kProc + "cosan A(3) * P(3, SYM) + B(3) * A * Q(3, SYM);\n"
                          "matrix A = a1-a27; matrix B = b1-b27; matrix P [1,1] = p1-p3;\n"
                          "matrix Q [1,1] = q1-q3;\n");
    EXPECT_EQ(bad.exitCode, 2000) << bad.log.str();
    EXPECT_EQ(bad.count(178), 1);
}

TEST(CosanModel, StoredInversesFollowTheFinalTypes) {
    // Declared GENERAL with INVERSE, A receives its diagonal and the first
    // subdiagonal only: it becomes LOWER, a packed slot of 45 doubles.
    ModelStep s(kProc + "cosan A(9, GEN, INV) * P(9, SYM);\n"
                        "matrix A [1,1] = a1-a9, [2,1] = b1-b8; matrix P [1,1] = p1-p9;\n");
    ASSERT_EQ(s.exitCode, -1) << s.log.str();
    EXPECT_EQ(s.ctx.model.type[1], kMatLower);
    EXPECT_EQ(s.ctx.model.inverseOffset[1], 1);
    EXPECT_EQ(s.ctx.sizes.invStoreLen, 46);
    // An IMINUSINV matrix without elements becomes the identity and needs
    // no slot; the same name three times shares one slot.
    ModelStep e(kProc + "cosan B(9, GEN, IMI) * A(9, GEN, INV) * P(9, SYM) + A * Q(9, SYM) + A * R(9, SYM);\n"
                        "matrix A = a1-a81; matrix P [1,1] = p1-p9; matrix Q [1,1] = q1-q9;\n"
                        "matrix R [1,1] = r1-r9;\n");
    ASSERT_EQ(e.exitCode, -1) << e.log.str();
    const ModelMatrixTable& mt = e.ctx.model;
    EXPECT_EQ(mt.type[1], kMatIdentity);
    EXPECT_EQ(mt.inverseOffset[1], 0);
    EXPECT_EQ(mt.inverseOffset[2], 1);
    EXPECT_EQ(mt.inverseOffset[4], 1);
    EXPECT_EQ(mt.inverseOffset[6], 1);
    EXPECT_EQ(e.ctx.sizes.invStoreLen, 82);
    EXPECT_EQ(e.count(116), 0);  // every term uses A: nothing to release
}

TEST(CosanModel, TheSavingOfPerTermInversesIsNotedBeforeTheElementsAreRead) {
    // A's slot is free once term 2 starts: 81 doubles, 648 bytes.  The 81
    // loadings exceed the 45 moments, which the parameter table reports.
    ModelStep s(kProc + "cosan A(9, GEN, INV) * P(9, SYM) + B(9, GEN, INV) * Q(9, SYM);\n"
                        "matrix A = a1-a81; matrix P [1,1] = p1-p9;\n"
                        "matrix B = b1-b81; matrix Q [1,1] = q1-q9;\n");
    const auto at = [&](int32_t number) {
        return std::find(s.messages.begin(), s.messages.end(), number) - s.messages.begin();
    };
    ASSERT_EQ(s.count(116), 1) << s.log.str();
    ASSERT_EQ(s.count(212), 1) << s.log.str();
    EXPECT_LT(at(116), at(212));
}

TEST(CosanModel, InputErrors) {
    struct Case {
        const char* text;
        int32_t message;
        int32_t code;
    };
    const Case cases[] = {
        // A form on a 9 x 3 matrix.
        {"cosan F(3, GEN, INV) * P(3, SYM); matrix F = f1-f27; matrix P [1,1] = p1-p3;", 60, 2000},
        // No positive column count at the first appearance.
        {"cosan F * P(3, SYM); matrix P [1,1] = p1-p3;", 177, 2000},
        {"cosan F(0) * P(3, SYM); matrix P [1,1] = p1-p3;", 177, 2000},
        {"cosan F(-2) * P(3, SYM); matrix P [1,1] = p1-p3;", 177, 2000},
        {"cosan F(1e12) * P(3, SYM); matrix P [1,1] = p1-p3;", 177, 2000},
        // A matrix without any element.
        {"cosan F(3) * P(3, SYM); matrix P [1,1] = p1-p3;", 118, 1008},
    };
    for (const Case& c : cases) {
        ModelStep s(kProc + c.text + "\n");
        EXPECT_EQ(s.exitCode, c.code) << c.text << "\n" << s.log.str();
        EXPECT_GE(s.count(c.message), 1) << c.text << "\n" << s.log.str();
    }
    // A MATRIX statement for no matrix of the model is a note.
    ModelStep note(kProc + "cosan U(9, SYM); matrix U [1,1] = u1-u9; matrix V [1,1] = 1;\n");
    EXPECT_EQ(note.exitCode, -1) << note.log.str();
    EXPECT_EQ(note.count(128), 1);
}

}  // namespace
