// The OUTEST= rows of a constrained solution: every row kind in order
// (parameters, gradient, standard errors, bounds, active bounds, linear
// constraints with their active marks, multipliers), the sign rule when
// maximising, the missing _ALPHA_ outside limit rows, and a matrix with
// its determinant summary.
#include <gtest/gtest.h>

#include <cfloat>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/dataset.h"
#include "platform/session.h"
#include "procedure/data/constraint_file.h"
#include "procedure/data/data.h"
#include "tests/support/session_fixture.h"
#include "velix/nlp.h"

namespace {

// x1 + x2 >= 1 (active at the solution below).
int32_t one_row(NlpProblem*, int32_t, double* row) {
    row[0] = 1.0;
    row[1] = 1.0;
    return 0;
}

class Outest : public velix::test::SessionStep {
protected:
    void SetUp() override {
        SessionStep::SetUp();
        std::random_device rd;
        dir_ = std::filesystem::temp_directory_path() / ("velix_outest_" + std::to_string(rd()));
        std::filesystem::create_directories(dir_);
        savedLib_ = velix::platform::session().libraryDir;
        velix::platform::session().libraryDir = dir_.string();
        std::string error;
        ctx_.dataSets.dataSetHandle[kRoleOutest] =
            velix::platform::dataset_create_output("est", false, velix::platform::DataSetOptions{}, &error);
        ASSERT_NE(ctx_.dataSets.dataSetHandle[kRoleOutest], nullptr) << error;

        names_[0].length = 2;
        std::memcpy(names_[0].text, "b1", 2);
        names_[1].length = 2;
        std::memcpy(names_[1].text, "b2", 2);
        nlp_.shape.nParams = 2;
        nlp_.param.paramNames = names_;
        nlp_.param.paramRow = row_;
        nlp_.param.x = x_;
        nlp_.work.gradient = g_;
        nlp_.work.stdErrors = se_;
        nlp_.param.lower = lower_;
        nlp_.param.upper = upper_;
        nlp_.active.boundState = state_;
        nlp_.active.freeList = free_;
        nlp_.active.activeList = active_;
        nlp_.active.multipliers = mult_;
        nlp_.con.linRhs = rhs_;
        nlp_.cb.conRowFn = one_row;
        nlp_.hooks = &hooks_;
        nlp_.user = &ctx_;
        nlp_.iter.f = 0.75;
        nlp_.shape.hasBounds = 1;
        nlp_.shape.hasLinCon = 1;
        nlp_.shape.nLinCon = 1;
        nlp_.active.nActiveLin = 1;
        nlp_.active.nActiveBounds = 1;
        nlp_.opt.conFactorForm = 1;
        hooks_.cov.wantCovariance = 1;
        hooks_.matrices.outestGradient = 1;
        ctx_.nlp = &nlp_;
        ctx_.sizes.nParmFree = 2;
        ctx_.moments.nObs = 40.0;
        ctx_.methods.methodStage = kMethodMl;
        // The row as the constraint set-up leaves it on the constraint file.
        const ScratchFileRequest request;
        ASSERT_EQ(xcopen(&ctx_.files.conFile, &request), 0);
        const double a[2] = {1.0, 1.0};
        con_write(ctx_.files.conFile, kConGe, 1.0, a, 2, nullptr, 0);
        ctx_.files.conFileRows = 1;
        cosfop3(&ctx_);
    }
    void TearDown() override {
        velix::platform::dataset_end_step();
        velix::platform::session().libraryDir = savedLib_;
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
        SessionStep::TearDown();
    }
    // The data rows of the written data set (header lines dropped).
    std::vector<std::string> rows() {
        EXPECT_TRUE(velix::platform::dataset_commit_outputs(0));
        velix::platform::dataset_end_step();
        std::ifstream in(dir_ / "est.csv");
        std::vector<std::string> out;
        std::string line;
        while (std::getline(in, line))
            if (!line.empty() && line[0] != '#') out.push_back(line);
        return out;
    }

    ProcContext ctx_;
    NlpProblem nlp_;
    NlpHookBlock hooks_;
    NameRecord names_[2];
    double row_[2] = {}, x_[2] = {0.0, 1.0}, g_[2] = {0.5, -0.25}, se_[2] = {0.1, 0.2};
    double lower_[2] = {0.0, -DBL_MAX}, upper_[2] = {DBL_MAX, DBL_MAX}, rhs_[1] = {1.0};
    double mult_[2] = {0.5, 0.25};
    int32_t state_[2] = {1, 0}, free_[2] = {1, 0}, active_[1] = {0};
    std::filesystem::path dir_;
    std::string savedLib_;
};

TEST_F(Outest, SolutionRowsInOrder) {
    nlp_.run.evalPhase = -1.0;
    nlp_.run.lastStatus = 3;
    cosfoes(&nlp_, 0, nullptr);
    const std::vector<std::string> r = rows();
    ASSERT_EQ(r.size(), 14u);
    EXPECT_EQ(r[0], "_TYPE_,_NAME_,_RHS_,_ITER_,b1,b2");
    const std::vector<std::string> expected = {
        "TERMINAT,ABSGTOL,3,.,.,.",  // status 3: the ABSGCONV criterion; _ITER_ missing at the end
        "PARMS,ML,0.75,.,0,1",
        "GRAD,ML,.,.,0.5,-0.25",
        "STDERR,ML,.,.,0.1,0.2",
        "_NOBS_,ML,.,.,40,40",
        "LOWERBD,ML,.,.,0,.",        // no UPPERBD: every upper bound is absent
        "NACTBC,ML,.,.,1,1",
        "ACTBC,GE,.,.,1,0",
        "NACTLC,ML,.,.,1,1",
        "GE,ACTLC,1,.,1,1",         // no PROJGRAD: no free dimension is left
        "LAGM BC,GE,.,.,0.5,.",
        "LAGM LC,LIC_NUM,.,.,1,.",
        "LAGM LC,LIC_VAL,.,.,0.25,.",
    };
    for (size_t i = 0; i < expected.size() && i + 1 < r.size(); ++i) EXPECT_EQ(r[i + 1], expected[i]) << i;
}

TEST_F(Outest, MaximisingSignsAndStart) {
    nlp_.shape.maximize = 1;
    cosfoes(&nlp_, -1, nullptr);
    const std::vector<std::string> r = rows();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[1], "INITIAL,ML,-0.75,0,0,1");
    EXPECT_EQ(r[2], "GRAD,ML,.,0,-0.5,0.25");
}

TEST_F(Outest, CovarianceMatrixWithSummary) {
    ctx_.methods.methodStage = kMethodUls;
    hooks_.result.sigmaSq = 2.0;
    nlp_.report.matrixHeader = {1.5, -2.0, 2.0, 0.0, 0.0};
    const double cov[3] = {4.0, 1.0, 9.0};
    cosfoes(&nlp_, 6, cov);
    const std::vector<std::string> r = rows();
    ASSERT_EQ(r.size(), 5u);
    EXPECT_EQ(r[1], "LSCOV,b1,1,0,4,1");
    EXPECT_EQ(r[2], "LSCOV,b2,2,0,1,9");
    EXPECT_EQ(r[3], "COVRANK,LSCOV,2,0,.,.");
    EXPECT_EQ(r[4], "SIGSQ,LSCOV,2,0,.,.");
}

}  // namespace
