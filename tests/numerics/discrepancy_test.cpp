// Discrepancy kernels against dense matrix algebra: dF/dSigma for each
// method, K V K and the dense triple product, the routing of the selector;
// and the determinant table as the platform's output manager renders it.
#include "numerics/discrepancy.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <sstream>
#include <vector>

#include "host/object_dispatch.h"
#include "host/output_table.h"
#include "platform/messages.h"
#include "platform/output.h"
#include "platform/session.h"
#include "tests/support/session_fixture.h"
#include "tests/support/json_reader.h"
#include "tests/support/test_matrices.h"
#include "velix/host.h"
#include "velix/proc_context.h"

namespace vt = velix::test;
using velix::test::JsonValue;

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

// The determinant table through the platform's output manager; the
// listing shows its cells.
class Cosdet : public HostStep {
protected:
    void SetUp() override {
        HostStep::SetUp();
        auto& s = velix::platform::session();
        savedListing_ = s.listing;
        s.listing = &listing_;
        velix::platform::output_clear();
        velix::platform::output_begin_step(1);
        HostObject* anchor = nullptr;
        ASSERT_EQ(xobinit(&anchor, 0), 0);
        KyrArg a[] = {kyr_counted(143, "kyr", 3), kyr_counted(146, "manager", 7), kyr_object(144, nullptr),
                      kyr_int(383, 352)};
        ASSERT_EQ(wobmth(anchor, nullptr, 147, 4, a), 0);
        ctx_.output.kyrManager = a[2].object;
    }
    void TearDown() override {
        velix::platform::output_clear();
        velix::platform::session().listing = savedListing_;
        HostStep::TearDown();
    }
    std::string run(double logDet) {
        listing_.str("");
        cosdet(&ctx_, kyrtxt("PredModelDet", -1), 728, logDet, 606, kyrtxt("Tesk.Velix.PredModelDet", -1));
        return listing_.str();
    }
    // The table that the last run delivered, as the JSON document holds it.
    JsonValue last_table() const {
        const JsonValue doc = JsonValue::parse(velix::platform::output_json());
        const JsonValue& out = doc["steps"][0]["output"];
        return out[out.size() - 1];
    }
    ProcContext ctx_;
    std::ostringstream listing_;
    std::ostream* savedListing_ = nullptr;
};

TEST_F(Cosdet, CellsForOrdinaryOverflowingAndMissingDeterminants) {
    std::string out = run(0.0);
    EXPECT_NE(out.find("Determinant of the Matrix"), std::string::npos) << out;
    EXPECT_NE(out.find("CharDet"), std::string::npos) << out;
    EXPECT_NE(out.find("LogDet"), std::string::npos) << out;
    EXPECT_EQ(log_.str().find("ERROR"), std::string::npos) << log_.str();
    out = run(std::log(1234.5));
    EXPECT_NE(out.find("1234.5"), std::string::npos) << out;
    out = run(710.0);
    EXPECT_NE(out.find("1.0E308"), std::string::npos) << out;
    // A power of ten too long for the field, or an infinite one, reads
    // "Infinity" instead of a cut exponent.
    for (double big : {1e9, static_cast<double>(INFINITY)}) {
        out = run(big);
        EXPECT_NE(out.find("  Infinity  "), std::string::npos) << out;
    }
    out = run(std::log(1e-200));
    EXPECT_NE(out.find("1e-200"), std::string::npos) << out;
    // Missing of kind 'M': Determinant 0, CharDet "0", LogDet missing.
    out = run(host_special_missing(2 + ('M' - 'A')));
    EXPECT_NE(out.find("0  0 "), std::string::npos) << out;
    EXPECT_EQ(out.find(" nan"), std::string::npos) << out;
    EXPECT_EQ(log_.str().find("ERROR"), std::string::npos) << log_.str();
}

TEST_F(Cosdet, TableLayoutAndCellValues) {
    run(0.0);
    JsonValue t = last_table();
    EXPECT_EQ(t["type"].str(), "table");
    EXPECT_EQ(t["name"].str(), "PredModelDet");
    EXPECT_EQ(t["path"].str(), "Tesk.Velix.PredModelDet");
    EXPECT_EQ(t["titleMessage"]["group"].number(), 352);
    EXPECT_EQ(t["titleMessage"]["number"].number(), 728);
    const char* names[5] = {"Label1", "Determinant", "CharDet", "Label2", "LogDet"};
    const int kinds[5] = {66, 5, 20, 66, 5};
    ASSERT_EQ(t["columns"].size(), 5u);
    for (size_t j = 0; j < 5; ++j) {
        EXPECT_EQ(t["columns"][j]["name"].str(), names[j]);
        EXPECT_EQ(t["columns"][j]["kind"].number(), kinds[j]) << names[j];
    }
    ASSERT_EQ(t["rows"].size(), 1u);
    const auto row = [&t](int j) -> const JsonValue& { return t["rows"][0][j]; };
    EXPECT_EQ(row(0).str(), velix::platform::message_text(352, 606));
    EXPECT_EQ(row(1).number(), 1.0);
    EXPECT_EQ(std::stod(row(2).str()), 1.0);
    EXPECT_EQ(row(3).str(), velix::platform::message_text(352, 601));
    EXPECT_EQ(row(4).number(), 0.0);
    EXPECT_LE(t["columns"][2]["width"].number(), 12);

    // Every ordinary determinant reads back from its 12 characters to six
    // significant digits.
    for (double d : {std::log(1234.5), -3.0, std::log(1e-300), 700.0, -700.0}) {
        run(d);
        t = last_table();
        EXPECT_EQ(row(1).number(), std::exp(d)) << d;
        EXPECT_EQ(row(4).number(), d);
        EXPECT_EQ(t["columns"][2]["width"].number(), 12) << d;
        EXPECT_NEAR(std::stod(row(2).str()) / std::exp(d), 1.0, 1e-5) << row(2).str();
    }

    // Beyond the double range: the decimal exponent, a very large Determinant.
    run(710.0);
    t = last_table();
    EXPECT_EQ(row(2).str().rfind("1.0E308", 0), 0u) << row(2).str();
    EXPECT_EQ(row(1).number(), DBL_MAX);
    EXPECT_EQ(row(4).number(), 710.0);

    // Missing of kind 'M': "0" in a field of one character, Determinant 0.
    run(host_special_missing(2 + ('M' - 'A')));
    t = last_table();
    EXPECT_EQ(row(2).str(), "0");
    EXPECT_EQ(t["columns"][2]["width"].number(), 1);
    EXPECT_EQ(row(1).number(), 0.0);
    EXPECT_TRUE(row(4).is_null()) << "LogDet shows the missing value";
    EXPECT_EQ(log_.str().find("ERROR"), std::string::npos) << log_.str();
}

TEST_F(Cosdet, FailedCallStopsTheTableAndIsReported) {
    const auto tables = [] {
        const JsonValue doc = JsonValue::parse(velix::platform::output_json());
        return doc["steps"][0]["output"].size();
    };
    const size_t before = tables();
    // The third column definition (CharDet) fails.
    velix::platform::inject_method_failure(kKyrMethodColumn, 3, -7);
    run(1.0);
    velix::platform::clear_injected_failures();
    EXPECT_EQ(tables(), before) << "nothing is delivered";
    EXPECT_NE(log_.str().find("-7"), std::string::npos) << log_.str();
    // The next table goes through as usual.
    run(1.0);
    EXPECT_EQ(tables(), before + 1);
}

}  // namespace
