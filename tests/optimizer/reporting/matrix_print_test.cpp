// The matrix printing hook on the stored matrices of the exponential
// model ("CrossJacobian", "HessianMat", "CovMat", "CorrParm" with their
// determinant notes), the Lagrange function's matrices, the signs when
// maximising, the OUTEST= hook calls,
// and the generic matrix table's shapes and generated labels.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "host/fields.h"
#include "platform/messages.h"
#include "tests/optimizer/reporting/reporting_fixture.h"

namespace velix::test {
namespace {

class MatrixPrint : public NlpStep {
protected:
    // The note texts of the step, in order.
    std::vector<std::string> notes() const {
        std::vector<std::string> out;
        const JsonValue items = document()["steps"][0]["output"];
        for (size_t i = 0; i < items.size(); ++i)
            if (items[i]["type"].str() == "note") out.push_back(items[i]["text"].str());
        return out;
    }
    bool has_note(const std::string& text) const {
        for (const std::string& n : notes())
            if (n.find(text) != std::string::npos) return true;
        return false;
    }
};

std::string formatted(double v) {
    char b[64];
    std::snprintf(b, sizeof b, "%g", v);
    return b;
}

void print_everything(ReportingProblem& t, HostObject* manager) {
    t.p.out.kyrObject = manager;
    t.p.opt.printLevel = 1.0;
    t.hooks.cov.printHessian = t.hooks.cov.printCrossProduct = 1;
    t.hooks.cov.printCovariance = 1;
    t.hooks.cov.lsCovKind = 2;
    znlpcma(&t.p, 1);
    znlppma(&t.p, 1);
}

TEST_F(MatrixPrint, StoredMatricesWithDeterminantNotes) {
    ReportingProblem t;
    print_everything(t, manager_);
    const Mat2 h = ExpModel::hessian(t.p.param.x), k1 = ExpModel::k1(t.p.param.x);
    const JsonValue hess = item("HessianMat"), cross = item("CrossJacobian");
    ASSERT_FALSE(hess.is_null());
    ASSERT_FALSE(cross.is_null());
    EXPECT_EQ(hess["path"].str(), "Orvo.NLP.HessianMat");
    for (size_t i = 0; i < 2; ++i)
        for (size_t j = 0; j < 2; ++j) {
            EXPECT_NEAR(hess["values"][i][j].number(), h[i * 2 + j], 1e-12);
            EXPECT_NEAR(cross["values"][i][j].number(), k1[i * 2 + j], 1e-12);
        }
    EXPECT_EQ(hess["columnLabels"][0].str(), "X1");
    EXPECT_TRUE(has_note("Determinant = " + formatted(h[0] * h[3] - h[1] * h[2]).substr(0, 5)));
    EXPECT_TRUE(has_note(velix::platform::message_text(549, 220)));  // only positive eigenvalues

    // The covariance and its correlation matrix.
    const JsonValue cov = item("CovMat"), corr = item("CorrParm");
    ASSERT_FALSE(cov.is_null());
    ASSERT_FALSE(corr.is_null());
    const Mat2 c = inverse(h);
    const double s2 = t.hooks.result.sigmaSq;
    EXPECT_NEAR(cov["values"][1][0].number(), s2 * c[2], 1e-12);
    EXPECT_NEAR(corr["values"][1][0].number(), c[2] / std::sqrt(c[0] * c[3]), 1e-12);
    EXPECT_EQ(corr["values"][1][1].number(), 1.0);
    EXPECT_TRUE(has_note("sigma = " + formatted(s2)));
}

TEST_F(MatrixPrint, ZeroVarianceGivesZeroCorrelations) {
    ReportingProblem t;
    t.hooks.cov.lsCovKind = 3;
    t.p.shape.hasBounds = 1;
    t.boundState[1] = 1;
    t.p.active.nActiveBounds = 1;
    print_everything(t, manager_);
    const JsonValue corr = item("CorrParm");
    ASSERT_FALSE(corr.is_null());
    EXPECT_EQ(corr["values"][1][0].number(), 0.0);
    EXPECT_EQ(corr["values"][1][1].number(), 1.0);
    EXPECT_EQ(corr["values"][0][0].number(), 1.0);
}

TEST_F(MatrixPrint, MaximisingReversesTheShownHessianOnly) {
    ReportingProblem t;
    t.p.shape.maximize = 1;
    print_everything(t, manager_);
    const Mat2 h = ExpModel::hessian(t.p.param.x);
    EXPECT_NEAR(item("HessianMat")["values"][0][0].number(), -h[0], 1e-12);
    EXPECT_TRUE(has_note(velix::platform::message_text(549, 219)));  // only negative eigenvalues
    int32_t dir[kDirWords];
    znlp_read_directory(&t.hooks, dir);
    DeterminantRecord r;
    double stored[3];
    znlp_read_record(&t.hooks, dir[kDirHessian], &r, stored, 3);
    EXPECT_NEAR(stored[0], h[0], 1e-12);
    EXPECT_EQ(r.nPositive, 2.0);  // the file keeps the unreversed record
    EXPECT_EQ(r.nNegative, 0.0);
}

std::vector<int32_t> g_rowKinds;
int32_t record_kind(NlpProblem*, int32_t kind, const double*) {
    g_rowKinds.push_back(kind);
    return 0;
}

TEST_F(MatrixPrint, OutestHookWithoutPrinting) {
    ReportingProblem t;
    t.hooks.post.outestHook = record_kind;
    t.hooks.matrices.outestHessian = 1;
    t.hooks.matrices.outestCrossProduct = 1;
    t.hooks.cov.lsCovKind = 2;
    znlpcma(&t.p, 1);
    g_rowKinds.clear();
    znlppma(&t.p, 1);
    EXPECT_EQ(g_rowKinds, (std::vector<int32_t>{0, 2, 3, 6}));
    EXPECT_TRUE(item("HessianMat").is_null());
    g_rowKinds.clear();
    znlppma(&t.p, -1);
    EXPECT_EQ(g_rowKinds, std::vector<int32_t>{10});
}

// Constraint rows: 2 x1 + x2 (kind 0) and x1 - x2 given as <= (kind -1).
int32_t constraint_rows(NlpProblem*, int32_t k, double* row) {
    row[0] = k == 0 ? 2.0 : 1.0;
    row[1] = k == 0 ? 1.0 : -1.0;
    return 0;
}

TEST_F(MatrixPrint, ConstraintJacobianTable) {
    ReportingProblem t;
    uint16_t kinds[2] = {0, static_cast<uint16_t>(-1)};
    t.p.shape.nNlinCon = 2;
    t.p.shape.hasNlinCon = 1;
    t.p.cb.conRowFn = constraint_rows;
    t.p.con.conKinds = kinds;
    t.p.con.conLabels = "c_sum   c_diff  ";
    t.p.con.conLabelWidth = 8;
    t.hooks.matrices.storedConJacobian = 1;
    t.hooks.matrices.printConJacobian = 1;
    print_everything(t, manager_);
    const JsonValue j = item("Jacobian");
    ASSERT_FALSE(j.is_null());
    EXPECT_EQ(j["columns"][1]["name"].str(), "X1");
    EXPECT_EQ(j["rows"][0][0].str(), "c_sum");
    EXPECT_EQ(j["rows"][0][1].number(), 2.0);
    EXPECT_EQ(j["rows"][1][0].str(), "c_diff");
    EXPECT_EQ(j["rows"][1][1].number(), -1.0);  // a <= row is shown turned
    EXPECT_EQ(j["rows"][1][2].number(), 1.0);
}

TEST_F(MatrixPrint, GenericTableShapes) {
    const double v[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(znlppmt(manager_, "Grad", -2, 3, v, nullptr, 0, 885), 0);
    EXPECT_EQ(znlppmt(manager_, "Nothing", -4, 3, v, nullptr, 0, 885), 0);
    EXPECT_EQ(znlppmt(manager_, "SymDif", 0, 3, v, nullptr, 264, 803), 0);
    const JsonValue g = item("Grad");
    EXPECT_EQ(g["rowLabels"][0].str(), "Parms");
    EXPECT_EQ(g["rowLabels"][1].str(), "Grad");
    EXPECT_EQ(g["columnLabels"][2].str(), "X3");
    EXPECT_EQ(g["values"][1][0].number(), 4.0);
    EXPECT_TRUE(item("Nothing").is_null());
    const JsonValue s = item("SymDif");
    EXPECT_EQ(s["storage"].str(), "sb");
    EXPECT_EQ(s["rowLabels"][1].str(), "X2");
    EXPECT_EQ(s["values"][0][2].number(), 4.0);  // packed (2, 0)
}

// At an active nonlinear constraint the Hessian comes with its projection,
// the Hessian of the Lagrange function and that one's projection, in this
// order, each handed to OUTEST= with its row kind.
TEST_F(MatrixPrint, LagrangeFunctionMatricesFollowThePlainOnes) {
    CircleProblem t;
    t.p.out.kyrObject = manager_;
    t.p.opt.printLevel = 1.0;
    t.hooks.cov.printHessian = 1;
    t.hooks.matrices.outestHessian = 1;
    static std::vector<int32_t> rows;
    rows.clear();
    t.hooks.post.outestHook = [](NlpProblem*, int32_t kind, const double*) -> int32_t {
        rows.push_back(kind);
        return 0;
    };
    znlpcma(&t.p, 1);
    znlppma(&t.p, 1);
    std::vector<std::string> descriptions, expected;
    const JsonValue items = document()["steps"][0]["output"];
    for (size_t i = 0; i < items.size(); ++i)
        if (items[i]["name"].is_string() && items[i]["name"].str() == "HessianMat")
            descriptions.push_back(items[i]["description"].str());
    for (int number : {194, 195, 225, 249}) expected.push_back(velix::platform::message_text(549, number));
    EXPECT_EQ(descriptions, expected);
    EXPECT_EQ(rows, (std::vector<int32_t>{0, 3, 5, 7, 8, 6}));
}

// A sparse Hessian of three parameters in SparseLLt storage (the diagonal,
// then the strictly lower part by rows) is shown as the dense symmetric
// matrix.
TEST_F(MatrixPrint, SparseHessianRowsAreTheDenseMatrix) {
    TestProblem t({0.0, 0.0, 0.0}, [](const double*) { return 0.0; });
    t.p.out.kyrObject = manager_;
    t.p.hooks = &t.hooks;
    // (1, 0) = 4 in row 1, (2, 0) = 5 and (2, 1) = 6 in row 2.
    std::vector<int32_t> pattern = {4, 4, 5, 7, 0, 0, 1};
    const double values[] = {1.0, 2.0, 3.0, 3.0, 4.0, 5.0, 6.0};
    const double dense[3][3] = {{1, 4, 5}, {4, 2, 6}, {5, 6, 3}};
    t.p.opt.hessianStorage = 1;
    t.p.hess.hessianPattern = pattern.data();
    znlpsph(&t.p, 1, values);
    const JsonValue h = item("Hessian");
    ASSERT_FALSE(h.is_null());
    ASSERT_EQ(h["rows"].size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(h["rows"][i][0].str(), "X" + std::to_string(i + 1));
        for (size_t j = 0; j < 3; ++j) EXPECT_EQ(h["rows"][i][j + 1].number(), dense[i][j]) << i << "," << j;
    }
}

}  // namespace
}  // namespace velix::test
