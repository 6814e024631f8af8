// The covariance of the estimates for every COV type against the direct
// formulas (inverse Hessian, inverse cross products, sandwich forms) on the
// exponential least-squares model, for a least-squares and for a general
// objective; the variance divisor and factor; the projection onto the free
// parameters of an active bound; singular and indefinite matrices; the
// Lagrange function's matrices at an active nonlinear constraint.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "host/fields.h"
#include "platform/messages.h"
#include "tests/optimizer/reporting/reporting_fixture.h"

namespace velix::test {
namespace {

class Covariance : public NlpStep {};

// The expected covariance of a type by the table of the COV types.
Mat2 expected(int type, bool leastSquares, const double* x, double sigma2) {
    const Mat2 h = ExpModel::hessian(x), k1 = ExpModel::k1(x), k2 = ExpModel::k2(x);
    const Mat2 hi = inverse(h), k1i = inverse(k1);
    Mat2 c{};
    switch (type) {
        case 1: c = product(product(hi, leastSquares ? k2 : k1), hi); break;
        case 2: c = hi; break;
        case 3: c = inverse(leastSquares ? k1 : k2); break;
        case 4: c = product(product(hi, leastSquares ? k1 : k2), hi); break;
        case 5: c = inverse(leastSquares ? k2 : k1); break;
        default: c = product(product(k1i, k2), k1i); break;
    }
    for (double& v : c) v *= sigma2;
    return c;
}

// sigma^2 by the objective kind and type, N = 5 and d = N - 2 = 3.
double expected_sigma2(int type, bool leastSquares, double f) {
    const double n = 5.0, d = 3.0;
    if (leastSquares) return type == 1 || type == 6 ? n / d : type == 5 ? 1.0 / d : 2.0 * f / d;
    return type == 3 || type == 4 ? 1.0 / d : n / d;
}

TEST_F(Covariance, EveryTypeMatchesItsDirectFormula) {
    for (int ls = 0; ls <= 1; ++ls)
        for (int type = 1; type <= 6; ++type) {
            ReportingProblem t;
            t.p.shape.leastSquares = ls;
            (ls ? t.hooks.cov.lsCovKind : t.hooks.cov.covKind) = type;
            znlpcma(&t.p, 1);
            const double sigma2 = expected_sigma2(type, ls != 0, t.p.iter.f);
            EXPECT_NEAR(t.hooks.result.sigmaSq, sigma2, 1e-14) << "type " << type << " ls " << ls;
            EXPECT_EQ(t.hooks.result.errorDf, 3.0);
            const Mat2 c = expected(type, ls != 0, t.p.param.x, sigma2);
            const auto stored = t.stored_covariance();
            const double scale = std::fabs(c[0]) + std::fabs(c[3]);
            EXPECT_NEAR(stored[0], c[0], 1e-10 * scale) << "type " << type << " ls " << ls;
            EXPECT_NEAR(stored[1], c[2], 1e-10 * scale) << "type " << type << " ls " << ls;
            EXPECT_NEAR(stored[2], c[3], 1e-10 * scale) << "type " << type << " ls " << ls;
            EXPECT_NEAR(t.p.work.stdErrors[0], std::sqrt(c[0]), 1e-10 * std::sqrt(scale)) << type;
            EXPECT_NEAR(t.p.work.stdErrors[1], std::sqrt(c[3]), 1e-10 * std::sqrt(scale)) << type;
        }
}

// Type 3 of least squares inverts K1 alone, from memory: its records are
// written only for those who read them back, and the standard errors are
// the same without them.
TEST_F(Covariance, RecordsOnlyForThoseWhoReadThemBack) {
    std::array<double, 2> se{};
    for (const int32_t reader : {1, 0}) {
        ReportingProblem t;
        t.hooks.cov.lsCovKind = 3;
        t.hooks.cov.depStdErr = reader;
        znlpcma(&t.p, 1);
        int32_t dir[kDirWords];
        znlp_read_directory(&t.hooks, dir);
        EXPECT_EQ(dir[kDirCovariance] >= 0, reader == 1);
        EXPECT_EQ(dir[kDirCrossProduct], -1) << "K1 is neither shown nor handed to OUTEST=";
        EXPECT_GE(dir[kDirStdErrors], 0);
        if (reader == 1) {
            se = {t.p.work.stdErrors[0], t.p.work.stdErrors[1]};
            continue;
        }
        EXPECT_EQ(t.p.work.stdErrors[0], se[0]);
        EXPECT_EQ(t.p.work.stdErrors[1], se[1]);
    }
}

// The factor of its last measure that a technique keeps (in the owner's
// inverse buffer) stands for K1 only when it is the factor of K1 at this
// point, scaled as it says: made at x, of a matrix that is S^-1 K1 S^-1 to
// the bit, with no Hessian evaluated since.  A factor of 1.000001 times
// that matrix shows, by the covariance, whether it was taken.
TEST_F(Covariance, KeptFactorIsTakenOnlyForK1AtThePoint) {
    enum Case { kSame, kMoved, kEvaluatedSince, kOtherMatrix, kOtherBuffer };
    for (const Case c : {kSame, kMoved, kEvaluatedSince, kOtherMatrix, kOtherBuffer}) {
        ReportingProblem t;
        t.hooks.cov.lsCovKind = 3;
        const Mat2 k1 = ExpModel::k1(t.p.param.x);
        const double s[2] = {2.0, 0.5};
        // The buffer: the factor (3), the point (2) and the scale (2).
        std::vector<double> buffer(7), other(7);
        t.hooks.result.inverseBuffer = buffer.data();
        // The matrix as the technique left it, scaled, in the Hessian array.
        const double scaled[3] = {k1[0] / (s[0] * s[0]), k1[2] / (s[1] * s[0]), k1[3] / (s[1] * s[1])};
        std::copy(scaled, scaled + 3, t.p.hess.hessian);
        if (c == kOtherMatrix) t.p.hess.hessian[1] = std::nextafter(scaled[1], 1.0);
        const double a00 = 1.000001 * scaled[0], a10 = 1.000001 * scaled[1], a11 = 1.000001 * scaled[2];
        const double l00 = std::sqrt(a00), l10 = a10 / l00, l11 = std::sqrt(a11 - l10 * l10);
        double* home = c == kOtherBuffer ? other.data() : buffer.data();
        home[0] = l00;
        home[1] = l10;
        home[2] = l11;
        home[3] = t.p.param.x[0];
        home[4] = t.p.param.x[1];
        home[5] = s[0];
        home[6] = s[1];
        t.p.hess.kept = NlpKeptFactor{home, t.p.hess.hessian, home + 3, home + 5, t.p.run.nHess};
        if (c == kMoved) home[4] = std::nextafter(home[4], 1.0);
        if (c == kEvaluatedSince) t.p.run.nHess += 1;
        znlpcma(&t.p, 1);
        const double sigma2 = t.hooks.result.sigmaSq;
        const Mat2 inv = inverse(k1);
        const double taken = c == kSame ? 1.0 / 1.000001 : 1.0;
        EXPECT_NEAR(t.p.work.stdErrors[0], std::sqrt(sigma2 * inv[0] * taken), 1e-12) << "case " << c;
        EXPECT_NEAR(t.p.work.stdErrors[1], std::sqrt(sigma2 * inv[3] * taken), 1e-12) << "case " << c;
        EXPECT_NEAR(buffer[1], inv[2] * taken, 1e-12 * std::fabs(inv[2])) << "case " << c;
        EXPECT_EQ(t.p.hess.kept.factor, nullptr) << "taken once";
    }
}

TEST_F(Covariance, TypeEvaluatesTheMatricesItNeeds) {
    // No matrix asked for by name: the sandwich of type 1 still gets H and K2.
    ReportingProblem t;
    t.hooks.matrices.wantCrossProduct = 0;
    t.hooks.matrices.wantHessian = 0;
    t.hooks.cov.lsCovKind = 1;
    znlpcma(&t.p, 1);
    const Mat2 c = expected(1, true, t.p.param.x, 5.0 / 3.0);
    EXPECT_NEAR(t.stored_covariance()[2], c[3], 1e-10 * c[3]);
}

TEST_F(Covariance, GivenFactorAndSmallDivisor) {
    ReportingProblem t;
    t.hooks.cov.lsCovKind = 2;
    t.hooks.cov.sigsqFactor = 2.0;  // |factor N / d| replaces |2f / d|
    znlpcma(&t.p, 1);
    EXPECT_DOUBLE_EQ(t.hooks.result.sigmaSq, 2.0 * 5.0 / 3.0);

    ReportingProblem u;
    u.hooks.cov.lsCovKind = 2;
    u.hooks.matrices.sigmaSqGiven = 0.0;  // 0 counts as not given
    u.nObs = 1.0;                          // d = max(1 - 2, 0) is raised to 1
    znlpcma(&u.p, 1);
    EXPECT_EQ(u.hooks.result.errorDf, 1.0);
    EXPECT_DOUBLE_EQ(u.hooks.result.sigmaSq, 2.0 * u.p.iter.f);

    ReportingProblem v;
    v.hooks.cov.lsCovKind = 2;
    v.hooks.matrices.sigmaSqGiven = 0.25;
    znlpcma(&v.p, 1);
    EXPECT_EQ(v.hooks.result.sigmaSq, 0.25);
    const Mat2 hi = inverse(ExpModel::hessian(v.p.param.x));
    EXPECT_NEAR(v.p.work.stdErrors[0], std::sqrt(0.25 * hi[0]), 1e-12);
}

TEST_F(Covariance, ActiveBoundLeavesTheFreeBlock) {
    // b on its lower bound: the covariance is sigma^2 / H_aa for a and zero
    // in the row and column of b (K1 inverse, type 3 of least squares).
    ReportingProblem t;
    t.hooks.cov.lsCovKind = 3;
    t.p.shape.hasBounds = 1;
    t.lower[1] = t.x[1];
    t.boundState[1] = 1;
    t.p.active.nActiveBounds = 1;
    znlpcma(&t.p, 1);
    const double d = 5.0 - (2.0 - 1.0);  // one parameter fewer charged
    EXPECT_EQ(t.hooks.result.errorDf, d);
    const double sigma2 = 2.0 * t.p.iter.f / d;
    const auto c = t.stored_covariance();
    EXPECT_NEAR(c[0], sigma2 / ExpModel::k1(t.p.param.x)[0], 1e-12);
    EXPECT_EQ(c[1], 0.0);
    EXPECT_EQ(c[2], 0.0);
    EXPECT_EQ(t.p.work.stdErrors[1], 0.0);
}

TEST_F(Covariance, AllActiveGivesNoCovariance) {
    ReportingProblem t;
    t.hooks.cov.lsCovKind = 2;
    t.p.active.nActiveBounds = 2;
    t.boundState = {2, 2};
    znlpcma(&t.p, 1);
    EXPECT_TRUE(wzmis(t.p.work.stdErrors[0]) && wzmis(t.p.work.stdErrors[1]));
    EXPECT_NE(log().find(velix::platform::message_text(549, 187)), std::string::npos) << log();
}

TEST_F(Covariance, NegativeVarianceIsMissingNotNan) {
    // An indefinite Hessian: the inverse has -0.5 on its second diagonal.
    ReportingProblem t;
    t.p.shape.leastSquares = 0;
    t.hooks.cov.covKind = 2;
    t.useFixed = true;
    t.fixedHessian = {1.0, 0.0, 0.0, -2.0};
    znlpcma(&t.p, 1);
    EXPECT_NEAR(t.p.work.stdErrors[0], std::sqrt(5.0 / 3.0), 1e-12);
    EXPECT_TRUE(wzmis(t.p.work.stdErrors[1]));
}

TEST_F(Covariance, SingularHessianGetsTheGeneralizedInverse) {
    // H = [1 1; 1 1] has the Moore-Penrose inverse H / 4.
    ReportingProblem t;
    t.p.shape.leastSquares = 0;
    t.hooks.cov.covKind = 2;
    t.useFixed = true;
    t.fixedHessian = {1.0, 1.0, 1.0, 1.0};
    znlpcma(&t.p, 1);
    const double sigma2 = 5.0 / 3.0;
    const auto c = t.stored_covariance();
    for (double v : c) EXPECT_NEAR(v, sigma2 / 4.0, 1e-12);
    EXPECT_NE(log().find(velix::platform::message_text(549, 191)), std::string::npos) << log();

    // Too large for a generalized inverse: no covariance from the factors.
    ReportingProblem u;
    u.p.shape.leastSquares = 0;
    u.hooks.cov.covKind = 2;
    u.hooks.cov.ginvMaxParams = 1;
    u.useFixed = true;
    u.fixedHessian = {1.0, 1.0, 1.0, 1.0};
    znlpcma(&u.p, 1);
    EXPECT_TRUE(wzmis(u.p.work.stdErrors[0]) && wzmis(u.p.work.stdErrors[1]));
}

TEST_F(Covariance, StartPhaseAndMissingSlots) {
    // Flag 0 with technique NONE evaluates nothing; a Jacobian request with
    // an empty slot is reported and leaves the marker at -1.
    ReportingProblem t;
    t.p.opt.technique = kTechNone;
    t.hooks.cov.printHessian = 1;
    t.hooks.cov.lsCovKind = 2;
    znlpcma(&t.p, 0);
    int32_t dir[kDirWords];
    znlp_read_directory(&t.hooks, dir);
    for (int32_t w : dir) EXPECT_EQ(w, -1);

    ReportingProblem u;
    u.hooks.matrices.wantJacobian = 1;
    u.hooks.cov.lsCovKind = 2;
    znlpcma(&u.p, 1);
    znlp_read_directory(&u.hooks, dir);
    EXPECT_EQ(dir[kDirJacobian], -1);
    EXPECT_GE(dir[kDirCovariance], 0);
    EXPECT_NE(log().find(velix::platform::message_text(549, 192)), std::string::npos) << log();
}

TEST_F(Covariance, ActiveNonlinearConstraintUsesTheLagrangeHessian) {
    CircleProblem t;
    znlpcma(&t.p, 1);
    Mat2 lag = ExpModel::hessian(t.p.param.x);
    lag[0] -= 2.0 * CircleProblem::kLambda;
    lag[3] -= 2.0 * CircleProblem::kLambda;
    const auto want = t.expected(lag), got = t.stored_covariance();
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(got[i], want[i], 1e-6 * std::fabs(want[0])) << i;
    EXPECT_NE(log().find(velix::platform::message_text(549, 185)), std::string::npos) << log();

    // With the plain matrices asked for: the objective's Hessian, no note.
    CircleProblem u;
    u.hooks.matrices.plainMatrices = 1;
    const std::string before = log();
    znlpcma(&u.p, 1);
    const auto plain = u.expected(ExpModel::hessian(u.p.param.x)), gotPlain = u.stored_covariance();
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(gotPlain[i], plain[i], 1e-10 * std::fabs(plain[0])) << i;
    EXPECT_EQ(log().substr(before.size()).find(velix::platform::message_text(549, 185)), std::string::npos);

    // Type 1 of a general objective, H^-1 K1 H^-1: both in their Lagrangian
    // form, said by the note of both.
    CircleProblem v;
    v.hooks.cov.covKind = 1;
    znlpcma(&v.p, 1);
    EXPECT_NE(log().find(velix::platform::message_text(549, 256)), std::string::npos) << log();
}

}  // namespace
}  // namespace velix::test
