// Discrepancy kernels against dense matrix algebra: dF/dSigma for each
// method, K V K and the dense triple product, the routing of the selector.
#include "procedure/evaluation/discrepancy.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/support/test_matrices.h"
#include "velix/host.h"
#include "velix/proc_context.h"

namespace vt = velix::test;

namespace {

constexpr double kTol = 1e-13;  // order 5, a few dozen roundings per element

// A context of order n with its arrays.
struct Arrays {
    int n, pstar;
    std::vector<double> weight, implied, momentInv, residual, dfdc, kron, work;
    ProcContext ctx;
    explicit Arrays(int n_)
        : n(n_), pstar(n_ * (n_ + 1) / 2), weight(pstar), implied(n_ * n_), momentInv(pstar),
          residual(n_ * n_), dfdc(pstar, -9.0), kron(pstar), work(n_ * n_) {
        ctx.sizes.nManifest = n;
        ctx.sizes.nMoments = pstar;
        ctx.arrays.weightMatrix = weight.data();
        ctx.arrays.impliedInverse = implied.data();  // n*n: large enough for costrip too
        ctx.arrays.momentInverse = momentInv.data();
        ctx.arrays.residualTerm = residual.data();
        ctx.arrays.dfdc = dfdc.data();
        ctx.arrays.kronResult = kron.data();
        ctx.arrays.workMatrix = work.data();
    }
};

TEST(Cosdfdc, EachMethodAgainstDenseProducts) {
    const int n = 5;
    Arrays s(n);
    const vt::Dense w = vt::random_spd(n, 1900);
    const vt::Dense diff = vt::random_symmetric(n, 1901);  // Sigma - S
    const vt::Dense r = vt::matmul(w, diff, n, n, n);      // residual term W (Sigma - S)
    s.residual = r;
    const std::vector<double> wp = vt::to_packed(w, n);
    for (int method : {kMethodGls, kMethodMl}) {
        std::fill(s.dfdc.begin(), s.dfdc.end(), -9.0);
        s.ctx.methods.methodStage = method;
        if (method == kMethodGls) std::copy(wp.begin(), wp.end(), s.weight.begin());
        else std::copy(wp.begin(), wp.end(), s.implied.begin());
        cosdfdc(&s.ctx);
        const vt::Dense expect = vt::matmul(r, w, n, n, n);  // W (Sigma - S) W
        EXPECT_LE(vt::max_abs_diff(s.dfdc, vt::to_packed(expect, n)), kTol) << "method " << method;
    }
    for (int method : {kMethodUls, kMethodWls, kMethodDwls}) {
        s.ctx.methods.methodStage = method;
        std::fill(s.dfdc.begin(), s.dfdc.end(), -9.0);
        cosdfdc(&s.ctx);
        EXPECT_TRUE(std::equal(s.dfdc.begin(), s.dfdc.end(), s.residual.begin())) << "method " << method;
    }
    s.ctx.methods.methodStage = kMethodNone;
    std::fill(s.dfdc.begin(), s.dfdc.end(), -9.0);
    cosdfdc(&s.ctx);
    for (double v : s.dfdc) EXPECT_EQ(v, -9.0);
}

TEST(Coskron, WeightProductsAndRouting) {
    const int n = 5;
    Arrays s(n);
    const vt::Dense v = vt::random_symmetric(n, 1910);
    const std::vector<double> vp = vt::to_packed(v, n);
    // ML with K = I gives V itself.
    s.ctx.methods.methodStage = kMethodMl;
    vt::Dense eye(n * n, 0.0);
    for (int i = 0; i < n; ++i) eye[i * n + i] = 1.0;
    const std::vector<double> ip = vt::to_packed(eye, n);
    std::copy(ip.begin(), ip.end(), s.momentInv.begin());
    EXPECT_EQ(coskron(&s.ctx, 0, vp.data()), s.kron.data());
    EXPECT_LE(vt::max_abs_diff(s.kron, vp), kTol);
    // GLS with a random weight matrix: W V W into impliedInverse.
    s.ctx.methods.methodStage = kMethodGls;
    const vt::Dense w = vt::random_spd(n, 1911);
    const std::vector<double> wp = vt::to_packed(w, n);
    std::copy(wp.begin(), wp.end(), s.weight.begin());
    EXPECT_EQ(coskron(&s.ctx, 1, vp.data()), s.implied.data());
    const std::vector<double> expect = vt::to_packed(vt::matmul(vt::matmul(w, v, n, n, n), w, n, n, n), n);
    EXPECT_LE(vt::max_abs_diff(std::vector<double>(s.implied.begin(), s.implied.begin() + s.pstar), expect), kTol);
    // ULS copies.
    s.ctx.methods.methodStage = kMethodUls;
    coskron(&s.ctx, 0, vp.data());
    EXPECT_EQ(s.kron, vp);
}

TEST(Costrip, DenseTripleProduct) {
    const int n = 4;
    Arrays s(n);
    const vt::Dense v = vt::random_symmetric(n, 1920);
    const vt::Dense k = vt::random_spd(n, 1921);
    const std::vector<double> kp = vt::to_packed(k, n);
    std::copy(kp.begin(), kp.end(), s.momentInv.begin());
    s.ctx.methods.methodStage = kMethodMl;
    EXPECT_EQ(costrip(&s.ctx, 0, vt::to_packed(v, n).data()), s.work.data());
    // out[i][j] = sum_m (K K)(i, m) V(j, m) = (K K V)(i, j) for symmetric V.
    const vt::Dense expect = vt::matmul(vt::matmul(k, k, n, n, n), v, n, n, n);
    EXPECT_LE(vt::max_abs_diff(s.work, expect), 1e-12);
}

TEST(Discrepancy, OrderZeroWritesNothing) {
    Arrays s(0);
    std::vector<double> guard = {5.0};
    s.ctx.arrays.dfdc = s.ctx.arrays.kronResult = s.ctx.arrays.workMatrix = s.ctx.arrays.impliedInverse = guard.data();
    for (int method : {kMethodUls, kMethodGls, kMethodMl}) {
        s.ctx.methods.methodStage = method;
        cosdfdc(&s.ctx);
        for (int sel : {0, 1}) {
            coskron(&s.ctx, sel, guard.data());
            costrip(&s.ctx, sel, guard.data());
        }
    }
    EXPECT_EQ(guard[0], 5.0);
}

}  // namespace
