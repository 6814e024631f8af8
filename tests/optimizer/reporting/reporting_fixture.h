// A small nonlinear least-squares problem for the reporting tests: the
// exponential model r_i = a exp(b t_i) - y_i on five points, f = 1/2 sum
// r_i^2, with its exact Hessian H, the cross product K1 = J'J and the
// second cross product K2 = sum r_i^2 J_i J_i' behind the hook block's
// slots, and the matrix file opened as the owner opens it.
#pragma once

#include <array>
#include <cmath>
#include <vector>

#include "optimizer/reporting/reporting.h"
#include "tests/optimizer/core/nlp_fixture.h"
#include "velix/host.h"
#include "velix/packed_index.h"

namespace velix::test {

using Mat2 = std::array<double, 4>;  // row-major 2 x 2

inline Mat2 inverse(const Mat2& a) {
    const double det = a[0] * a[3] - a[1] * a[2];
    return {a[3] / det, -a[1] / det, -a[2] / det, a[0] / det};
}
inline Mat2 product(const Mat2& a, const Mat2& b) {
    return {a[0] * b[0] + a[1] * b[2], a[0] * b[1] + a[1] * b[3], a[2] * b[0] + a[3] * b[2],
            a[2] * b[1] + a[3] * b[3]};
}

struct ExpModel {
    static constexpr double t[5] = {0.0, 0.5, 1.0, 1.5, 2.0};
    static constexpr double y[5] = {1.1, 1.4, 2.1, 2.9, 4.2};

    static double residual(const double* x, int i) { return x[0] * std::exp(x[1] * t[i]) - y[i]; }
    static double objective(const double* x) {
        double s = 0.0;
        for (int i = 0; i < 5; ++i) s += 0.5 * residual(x, i) * residual(x, i);
        return s;
    }
    // Row i of the Jacobian of the residuals.
    static void jacobian_row(const double* x, int i, double* j) {
        j[0] = std::exp(x[1] * t[i]);
        j[1] = x[0] * t[i] * std::exp(x[1] * t[i]);
    }
    static Mat2 k1(const double* x) { return cross(x, false); }
    static Mat2 k2(const double* x) { return cross(x, true); }
    static Mat2 cross(const double* x, bool weighted) {
        Mat2 m{};
        for (int i = 0; i < 5; ++i) {
            double j[2];
            jacobian_row(x, i, j);
            const double w = weighted ? residual(x, i) * residual(x, i) : 1.0;
            for (int a = 0; a < 2; ++a)
                for (int b = 0; b < 2; ++b) m[a * 2 + b] += w * j[a] * j[b];
        }
        return m;
    }
    static Mat2 hessian(const double* x) {
        Mat2 m = k1(x);
        for (int i = 0; i < 5; ++i) {
            const double r = residual(x, i), e = std::exp(x[1] * t[i]);
            m[1] += r * t[i] * e;
            m[2] += r * t[i] * e;
            m[3] += r * x[0] * t[i] * t[i] * e;
        }
        return m;
    }
};

// The least-squares problem at a point near its solution, with the
// reporting hooks installed.
struct ReportingProblem : TestProblem {
    std::vector<double> stdErrors = std::vector<double>(2, 0.0);
    std::vector<int32_t> boundState = std::vector<int32_t>(2, 0), freeList = {0, 1};
    double nObs = 5.0;
    Mat2 fixedHessian{};  // used instead of the model's when useFixed
    bool useFixed = false;

    static ReportingProblem* of(NlpProblem* p) { return static_cast<ReportingProblem*>(TestProblem::of(p)); }
    static void put(NlpProblem* p, const Mat2& m) {
        p->hess.hessian[0] = m[0];
        p->hess.hessian[1] = m[2];
        p->hess.hessian[2] = m[3];
    }
    static int32_t cross_product(NlpProblem* p) {
        put(p, p->report.crossProductVariant == 1 ? ExpModel::k2(p->param.x) : ExpModel::k1(p->param.x));
        return 0;
    }
    static int32_t hessian_fn(NlpProblem* p) {
        put(p, of(p)->useFixed ? of(p)->fixedHessian : ExpModel::hessian(p->param.x));
        return 0;
    }

    ReportingProblem() : TestProblem({1.05, 0.66}, ExpModel::objective) {
        p.hooks = &hooks;
        p.work.stdErrors = stdErrors.data();
        p.active.boundState = boundState.data();
        p.active.freeList = freeList.data();
        p.shape.leastSquares = 1;
        p.shape.nFunctions = 5;
        p.iter.f = ExpModel::objective(p.param.x);
        hooks.eval.crossProductFn = cross_product;
        hooks.eval.hessianFn = hessian_fn;
        hooks.cov.nObsRef = &nObs;
        hooks.cov.nParamsForDf = 2.0;
        hooks.matrices.vardef[0] = 'D';
        hooks.matrices.vardef[1] = 'F';
        hooks.matrices.wantCrossProduct = 1;
        hooks.matrices.wantHessian = 1;
        hooks.matrices.sigmaSqGiven = host_missing_value();
        hooks.cov.sigsqFactor = host_missing_value();
        hooks.cov.wantCovariance = 1;
        hooks.cov.covSingAbs = 1e-12;
        hooks.cov.covSingRel = 1e-12;
        hooks.cov.covSingVar = 1e-12;
        hooks.cov.ginvTol = host_missing_value();
        hooks.cov.ginvMaxParams = 60;
        // The owner reads the saved covariance back (for the standard
        // errors of dependent parameters), so that it is written.
        hooks.cov.depStdErr = 1;
        ScratchFileRequest request;
        request.attributeWord = 0x84000008u;
        EXPECT_EQ(xcopen(&hooks.cov.utilityFile, &request), 0);
    }
    ~ReportingProblem() { xcclose(hooks.cov.utilityFile, 1); }

    // The stored covariance matrix (packed 2 x 2) from the matrix file.
    std::array<double, 3> stored_covariance() const {
        int32_t dir[kDirWords];
        znlp_read_directory(&hooks, dir);
        DeterminantRecord r;
        std::array<double, 3> c{};
        EXPECT_GE(dir[kDirCovariance], 0);
        if (dir[kDirCovariance] >= 0) znlp_read_record(&hooks, dir[kDirCovariance], &r, c.data(), 3);
        return c;
    }
};

// The exponential model on the circle a^2 + b^2 = rho through its point,
// the constraint active with multiplier lambda: the Hessian of the
// Lagrange function is H - 2 lambda I, and the covariance of type 2 is
// z z' / (z' H_L z) with z the unit tangent (-b, a) / |x|, the null space
// of the constraint row (a sandwich-free form of Gallant 1987, ch. 3.6).
struct CircleProblem : ReportingProblem {
    static constexpr double kLambda = 0.3;
    std::vector<double> conValues = std::vector<double>(1), conJacobian = std::vector<double>(2);
    std::vector<double> multipliers = {kLambda}, nullBasis;
    std::vector<int32_t> activeList = {0};
    double rho = 0.0;

    static int32_t jacobian(NlpProblem* p) {
        p->con.conJacobian[0] = 2.0 * p->param.x[0];
        p->con.conJacobian[1] = 2.0 * p->param.x[1];
        return 0;
    }
    CircleProblem() {
        const double a = x[0], b = x[1], r = std::hypot(a, b);
        rho = r * r;
        nullBasis = {-b / r, a / r, a / r, b / r};  // row i: Z[i], Y[i]
        p.shape.leastSquares = 0;
        hooks.cov.covKind = 2;
        hooks.matrices.sigmaSqGiven = 1.0;
        p.shape.hasNlinCon = 1;
        p.shape.nNlinCon = p.shape.nNlinEq = 1;
        p.active.nActiveLin = 1;
        p.opt.conFactorForm = 1;
        p.opt.cDigits = 15;
        p.con.conValues = conValues.data();
        p.con.conJacobian = conJacobian.data();
        p.active.multipliers = multipliers.data();
        p.active.activeList = activeList.data();
        p.active.nullBasis = nullBasis.data();
        p.cb.conJacobianFn = jacobian;
        jacobian(&p);
    }
    // z z' / (z' M z) for the Hessian M, packed.
    std::array<double, 3> expected(const Mat2& m) const {
        const double z0 = nullBasis[0], z1 = nullBasis[2];
        const double q = z0 * z0 * m[0] + 2.0 * z0 * z1 * m[1] + z1 * z1 * m[3];
        return {z0 * z0 / q, z1 * z0 / q, z1 * z1 / q};
    }
};

}  // namespace velix::test
