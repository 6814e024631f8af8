// Fit indices: the three reference fits (maximum likelihood, N - 1
// convention; lavaan 0.6.14, see tests/fixtures/README.md) give the
// chi-square, p value, RMSEA with its interval and close-fit probability,
// CFI, NNFI and NFI from their F, df and baseline chi-square, and PNFI,
// Hoelter's N, CAIC, McDonald's centrality and ECVI as R computes them from
// the same fits (tests/e2e/fit_indices_reference.R); the other indices are
// checked against their formulas and against a noncentral chi-square
// written here as the Poisson mixture of central ones.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "numerics/packed.h"
#include "procedure/results/fit_indices.h"
#include "procedure/results/fit_state.h"
#include "procedure/results/fit_summary.h"
#include "tests/support/fixtures.h"
#include "tests/support/json_reader.h"
#include "velix/host.h"
#include "velix/types.h"

namespace {

using velix::test::JsonValue;

constexpr double kRelTol = 1e-6;

// Regularized lower incomplete gamma P(a, x) by its power series.
double gamma_p(double a, double x) {
    if (x <= 0.0) return 0.0;
    double term = 1.0 / a, sum = term;
    for (int k = 1; k < 2000 && term > sum * 1e-17; ++k) {
        term *= x / (a + k);
        sum += term;
    }
    return std::exp(a * std::log(x) - x - std::lgamma(a)) * sum;
}

// P(chi2_df(nc) <= x) as a Poisson(nc / 2) mixture of central chi-squares.
double noncentral_cdf(double x, double df, double nc) {
    double sum = 0.0;
    for (int j = 0; j < 3000; ++j) {
        const double w = std::exp(-nc / 2 + j * std::log(nc / 2 + 1e-300) - std::lgamma(j + 1.0));
        sum += w * gamma_p(df / 2 + j, x / 2);
        if (j > nc && w < 1e-18) break;
    }
    return sum;
}

JsonValue reference(const std::string& stem) {
    std::ifstream in(velix::test::fixture_path(stem + ".expected.json"));
    std::stringstream text;
    text << in.rdbuf();
    return JsonValue::parse(text.str());
}

// The inputs of an ML fit from a reference document: F, df, N and the
// baseline chi-square; n manifest variables and q free parameters.
FitInputs ml_inputs(const JsonValue& ref, double n, double q) {
    FitInputs in;
    in.method = kMethodMl;
    in.nObs = ref["nobs"].number();
    in.nn = in.nObs - 1;
    in.f = ref["fmin"].number();
    in.df = ref["df"].number();
    in.df0 = ref["baseline_df"].number();
    in.f0 = ref["baseline_chisq"].number() / in.nn;
    in.nManifest = n;
    in.nMoments = n * (n + 1) / 2;
    in.nParm = q;
    in.gfiNumerator = 0.1;
    in.gfiDenominator = 2.0;
    in.kurtosis = host_missing_value();
    return in;
}

void expect_rel(double actual, double expected, const char* what) {
    EXPECT_LE(std::fabs(actual - expected), kRelTol * std::fmax(std::fabs(expected), 1e-3))
        << what << ": " << actual << " against " << expected;
}

struct Case {
    const char* stem;
    double n, q;
};

TEST(FitIndices, ReferenceFitsAgreeWithTheIndependentPackage) {
    for (const Case& c : {Case{"poldem_ml", 11, 31}, Case{"hs_cfa_ml", 9, 21},
                          Case{"ability_ml", 6, 13}}) {
        SCOPED_TRACE(c.stem);
        const JsonValue ref = reference(c.stem);
        const FitInputs in = ml_inputs(ref, c.n, c.q);
        FitStatistics s;
        FitNotes notes;
        compute_fit_statistics(&in, &s, &notes);
        ASSERT_TRUE(notes.chisqFamily);
        expect_rel(s.chisq, ref["chisq"].number(), "chi-square");
        expect_rel(s.pChisq, ref["pvalue"].number(), "p value");
        expect_rel(s.chisqNull, ref["baseline_chisq"].number(), "null chi-square");
        expect_rel(s.rmsea, ref["rmsea"].number(), "RMSEA");
        // A lower limit of 0 from the reference is the boundary where no
        // noncentrality reaches the 95% point: ours is then missing.
        if (ref["rmsea_lo90"].number() == 0.0)
            EXPECT_TRUE(host_is_missing(s.rmseaLower)) << s.rmseaLower;
        else
            expect_rel(s.rmseaLower, ref["rmsea_lo90"].number(), "RMSEA lower limit");
        expect_rel(s.rmseaUpper, ref["rmsea_hi90"].number(), "RMSEA upper limit");
        expect_rel(s.pClose, ref["rmsea_pclose"].number(), "close-fit probability");
        expect_rel(s.cfi, ref["cfi"].number(), "CFI");
        expect_rel(s.nnfi, ref["tli"].number(), "NNFI");
        expect_rel(s.nfi, ref["nfi"].number(), "NFI");
    }
}

TEST(FitIndices, OtherIndicesFollowTheirFormulas) {
    for (const Case& c : {Case{"poldem_ml", 11, 31}, Case{"hs_cfa_ml", 9, 21},
                          Case{"ability_ml", 6, 13}}) {
        SCOPED_TRACE(c.stem);
        const FitInputs in = ml_inputs(reference(c.stem), c.n, c.q);
        const std::map<std::string, double> r = velix::test::reference_rows("fit_indices_reference.csv", c.stem);
        FitStatistics s;
        FitNotes notes;
        compute_fit_statistics(&in, &s, &notes);
        const double t = in.nn * in.f, df = in.df, pstar = in.nMoments;
        const double ne = in.nn - c.n - 1;
        expect_rel(s.gfi, 1 - 0.1 / 2.0, "GFI");
        expect_rel(s.agfi, 1 - pstar * 0.05 / df, "AGFI");
        expect_rel(s.pgfi, s.gfi * df / in.df0, "PGFI");
        expect_rel(s.ecvi, r.at("ecvi"), "ECVI");
        // The ECVI limits put ne F at the 95% and 5% points of chi2_df(lambda).
        expect_rel(noncentral_cdf(ne * in.f, df, s.ecviUpper * ne - c.q - pstar), 0.05,
                   "ECVI upper limit");
        // Without a root (ne F below the central 95% point) the limit is missing.
        if (gamma_p(df / 2, ne * in.f / 2) < 0.95)
            EXPECT_TRUE(host_is_missing(s.ecviLower)) << s.ecviLower;
        else
            expect_rel(noncentral_cdf(ne * in.f, df, s.ecviLower * ne - c.q - pstar), 0.95,
                       "ECVI lower limit");
        EXPECT_EQ(s.hoelter, r.at("hoelter"));
        expect_rel(s.aic, t - 2 * df, "AIC");
        expect_rel(s.caic, r.at("caic"), "CAIC");
        expect_rel(s.sbc, t - df * std::log(in.nObs), "SBC");
        expect_rel(s.centrality, r.at("centrality"), "centrality");
        expect_rel(s.pnfi, r.at("pnfi"), "PNFI");
        expect_rel(s.rho1, (in.f0 / in.df0 - in.f / df) / (in.f0 / in.df0), "rho1");
        expect_rel(s.delta2, (in.f0 - in.f) / (in.f0 - df / in.nn), "Delta2");
        const double v = 2 / (9 * df);
        expect_rel(s.zWilsonHilferty, (std::cbrt(t / df) - (1 - v)) / std::sqrt(v), "z");
        expect_rel(s.rlsChisq, 0.5 * 0.1 * in.nn, "RLS chi-square");
        EXPECT_TRUE(host_is_missing(s.adjChisq));
    }
}

// A model that fits exactly: F, T and G are 0, GFI 1, RMSEA 0; no
// noncentrality puts T = 0 at a percentage point, so the limits are missing.
TEST(FitIndices, PerfectFitIsExact) {
    FitInputs in = ml_inputs(reference("ability_ml"), 6, 13);
    in.f = 1e-20;
    in.gfiNumerator = 1e-20;
    FitStatistics s;
    FitNotes notes;
    compute_fit_statistics(&in, &s, &notes);
    EXPECT_TRUE(notes.perfectFit);
    EXPECT_EQ(s.fit, 0.0);
    EXPECT_EQ(s.chisq, 0.0);
    EXPECT_EQ(s.gfi, 1.0);
    EXPECT_EQ(s.rmsea, 0.0);
    EXPECT_TRUE(host_is_missing(s.rmseaLower));
    EXPECT_TRUE(host_is_missing(s.rmseaUpper));
    EXPECT_TRUE(host_is_missing(s.ecviLower));
    EXPECT_TRUE(host_is_missing(s.hoelter));
}

// Conditions: ULS has no chi-square family (and nothing survives from an
// earlier call); df = 0 gives the saturated ECVI and no RMSEA limits; a
// missing null model makes every index built on it missing; N = 1 has no
// chi-square family.
TEST(FitIndices, StatisticsWhoseConditionsFailAreMissing) {
    const FitInputs ml = ml_inputs(reference("ability_ml"), 6, 13);
    FitStatistics s;
    FitNotes notes;
    compute_fit_statistics(&ml, &s, &notes);
    ASSERT_FALSE(host_is_missing(s.ecvi));

    FitInputs uls = ml;
    uls.method = kMethodUls;
    compute_fit_statistics(&uls, &s, &notes);
    EXPECT_FALSE(notes.chisqFamily);
    EXPECT_FALSE(host_is_missing(s.pgfi));
    for (double v : {s.pChisq, s.rmsea, s.ecvi, s.cfi, s.aic, s.nnfi, s.hoelter})
        EXPECT_TRUE(host_is_missing(v));

    FitInputs saturated = ml;
    saturated.df = 0;
    compute_fit_statistics(&saturated, &s, &notes);
    EXPECT_DOUBLE_EQ(s.ecvi, 2 * ml.nMoments / (ml.nn - 7));
    EXPECT_EQ(s.rmsea, 0.0);
    EXPECT_TRUE(host_is_missing(s.rmseaUpper));
    EXPECT_TRUE(host_is_missing(s.agfi));
    EXPECT_TRUE(notes.criticalNFailed);

    FitInputs noNull = ml;
    noNull.f0 = host_missing_value();
    compute_fit_statistics(&noNull, &s, &notes);
    for (double v : {s.chisqNull, s.cfi, s.nnfi, s.nfi, s.pnfi, s.rho1, s.delta2})
        EXPECT_TRUE(host_is_missing(v));

    FitInputs single = ml;
    single.nObs = 1;
    single.nn = 0;
    compute_fit_statistics(&single, &s, &notes);
    EXPECT_TRUE(host_is_missing(s.ecvi));
    EXPECT_TRUE(host_is_missing(s.rmseaUpper));
}

// The statistics stored for the OUTRAM= STAT rows: each key reads its
// statistic, and a later fit that does not compute one (a ULS stage of the
// next BY group) leaves it missing rather than the earlier group's value.
TEST(FitIndices, StoredStatisticsAreRewrittenAtEachFit) {
    ResultsState results;
    FitNotes notes;
    const FitInputs ml = ml_inputs(reference("poldem_ml"), 11, 31);
    store_fit_statistics(&results, &ml, &notes);
    EXPECT_EQ(results.fitStatsValid, 1);
    bool found = false;
    expect_rel(fit_stat_value(&results.fitStats, "CHISQUAR", &found), 37.616881984937, "CHISQUAR");
    EXPECT_TRUE(found);
    EXPECT_EQ(fit_stat_value(&results.fitStats, "ECVI_EST", &found), results.fitStats.ecvi);
    fit_stat_value(&results.fitStats, "N", &found);
    EXPECT_FALSE(found);  // N, NPARM, DF and N_ACT are held elsewhere

    FitInputs uls = ml;
    uls.method = kMethodUls;
    store_fit_statistics(&results, &uls, &notes);
    for (const char* key : {"ECVI_EST", "P_CHISQ", "RMSEAEST", "CNHOELT"})
        EXPECT_TRUE(host_is_missing(fit_stat_value(&results.fitStats, key, &found))) << key;
}

// The ML null model is the sum of the log variances less ln det S.
TEST(FitIndices, NullModelOfMaximumLikelihood) {
    const double s00 = 2.0, s11 = 3.0, s10 = 1.2;
    const double diag[] = {s00, s11};
    const double logDet = std::log(s00 * s11 - s10 * s10);
    EXPECT_DOUBLE_EQ(fit_null_ml(diag, 2, logDet), -std::log(1 - s10 * s10 / (s00 * s11)));
    const double zero[] = {0.0, s11};
    EXPECT_TRUE(host_is_missing(fit_null_ml(zero, 2, logDet)));
}

// The unweighted denominators and null models on a 3 x 3 S: tr(S^2) from
// the dense product, F0 of ULS as the off-diagonal squares, and DWLS with
// unit weights the same as ULS, with weights 2 four times it.
TEST(FitIndices, UnweightedDenominatorsAndNullModels) {
    const double dense[3][3] = {{4, 1, 0.5}, {1, 3, -0.2}, {0.5, -0.2, 2}};
    const double packed[] = {4, 1, 3, 0.5, -0.2, 2};
    double trace = 0.0;
    for (int i = 0; i < 3; ++i)
        for (int k = 0; k < 3; ++k) trace += dense[i][k] * dense[k][i];
    EXPECT_DOUBLE_EQ(fit_gfi_denominator_uls(packed, 3), trace);
    EXPECT_DOUBLE_EQ(fit_null_uls(packed, 3), 1 + 0.25 + 0.04);
    const double ones[] = {1, 1, 1, 1, 1, 1}, twos[] = {2, 2, 2, 2, 2, 2};
    EXPECT_DOUBLE_EQ(fit_null_dwls(packed, ones, 3), fit_null_uls(packed, 3));
    EXPECT_DOUBLE_EQ(fit_null_dwls(packed, twos, 3), 4 * fit_null_uls(packed, 3));
}

// Dense n x n of a packed symmetric matrix.
std::vector<double> dense_of(const double* packed, int n) {
    std::vector<double> m(static_cast<size_t>(n * n));
    for (int i = 0, k = 0; i < n; ++i)
        for (int j = 0; j <= i; ++j, ++k) m[i * n + j] = m[j * n + i] = packed[k];
    return m;
}

// The minimum of a convex quadratic q(d) over d in R^n by exact coordinate
// descent (each coordinate's parabola from three values): an independent
// route to the independence models' minima.
double minimise_quadratic(const std::function<double(const std::vector<double>&)>& q, int n) {
    std::vector<double> d(static_cast<size_t>(n), 1.0);
    for (int sweep = 0; sweep < 400; ++sweep)
        for (int i = 0; i < n; ++i) {
            const double c = q(d);
            d[i] += 1.0;
            const double up = q(d);
            d[i] -= 2.0;
            const double down = q(d);
            d[i] += 1.0;
            const double a = 0.5 * (up + down) - c, b = 0.5 * (up - down);
            if (a > 0.0) d[i] -= b / (2.0 * a);
        }
    return q(d);
}

// A positive definite S, its inverse and a second weight of order 3.
struct WeightedCase {
    const double s[6] = {4, 1, 3, 0.5, -0.2, 2};
    const double w[6] = {1.5, 0.3, 0.8, -0.2, 0.1, 1.1};
    double sInv[6] = {};
    WeightedCase() {
        std::copy(s, s + 6, sInv);
        double det[2];
        coschin(3, 1e-12, det, sInv);
    }
};

// GLS: tr((W S)^2) from dense products, n when W inverts S and tr(S^2) for
// W = I; the independence model's F0 is the minimum over diagonal D of
// 0.5 tr((W (D - S))^2) (with W = S^-1: 0.5 tr((W D - I)^2)), for W = I
// the ULS null model.
TEST(FitIndices, GeneralizedLeastSquaresDenominatorAndNullModel) {
    const WeightedCase c;
    const std::vector<double> w = dense_of(c.w, 3), s = dense_of(c.s, 3);
    std::vector<double> ws(9, 0.0);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) ws[i * 3 + j] += w[i * 3 + k] * s[k * 3 + j];
    EXPECT_NEAR(fit_gfi_denominator_gls(c.w, c.s, 3), fit_trace_square(ws.data(), 3), 1e-12);
    EXPECT_NEAR(fit_gfi_denominator_gls(c.sInv, c.s, 3), 3.0, 1e-12);
    const double identity[6] = {1, 0, 1, 0, 0, 1};
    EXPECT_NEAR(fit_gfi_denominator_gls(identity, c.s, 3), fit_gfi_denominator_uls(c.s, 3), 1e-12);

    const double diagS[3] = {4, 3, 2};
    auto null_f = [&](const double* wp, bool inverts) {
        const std::vector<double> wd = dense_of(wp, 3);
        return [=](const std::vector<double>& d) {
            std::vector<double> m(9, 0.0);  // W (D - S), or W D - I
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j) {
                    m[i * 3 + j] = wd[i * 3 + j] * d[j];
                    for (int k = 0; k < 3; ++k) m[i * 3 + j] -= inverts ? 0.0 : wd[i * 3 + k] * s[k * 3 + j];
                    if (inverts && i == j) m[i * 3 + j] -= 1.0;
                }
            return 0.5 * fit_trace_square(m.data(), 3);
        };
    };
    bool solved = false;
    EXPECT_NEAR(fit_null_gls(c.w, c.s, diagS, 3, &solved), minimise_quadratic(null_f(c.w, false), 3), 1e-10);
    EXPECT_TRUE(solved);
    EXPECT_NEAR(fit_null_gls(c.sInv, nullptr, diagS, 3, &solved), minimise_quadratic(null_f(c.sInv, true), 3),
                1e-10);
    EXPECT_NEAR(fit_null_gls(identity, c.s, diagS, 3, &solved), fit_null_uls(c.s, 3), 1e-12);
    // A singular system (a zero weight row) falls back to diag S, said so.
    const double singular[6] = {0, 0, 1, 0, 0, 1};
    fit_null_gls(singular, c.s, diagS, 3, &solved);
    EXPECT_FALSE(solved);
}

// WLS: with the weight factor L = I the denominator is |s|^2 and the null
// model the off-diagonal squares; with a general L the null model is the
// minimum over d of |L^-1 (s - diag moments d)|^2, and the denominator
// |L^-1 s|^2 (substitution written here).
TEST(FitIndices, WeightedLeastSquaresDenominatorAndNullModel) {
    const WeightedCase c;
    double l[21] = {};
    for (int i = 0, k = 0; i < 6; ++i)
        for (int j = 0; j <= i; ++j, ++k) l[k] = i == j ? 1.0 + 0.25 * i : 0.1 * (i - 2 * j);
    auto solve_l = [&](std::vector<double> y) {
        for (int i = 0; i < 6; ++i) {
            for (int j = 0; j < i; ++j) y[i] -= l[i * (i + 1) / 2 + j] * y[j];
            y[i] /= l[i * (i + 1) / 2 + i];
        }
        double t = 0.0;
        for (double v : y) t += v * v;
        return t;
    };
    double d = 0.0, f0 = 0.0;
    bool solved = false;
    ASSERT_TRUE(fit_gfi_denominator_wls(l, c.s, 6, 1e-12, &d));
    EXPECT_NEAR(d, solve_l(std::vector<double>(c.s, c.s + 6)), 1e-12);
    ASSERT_TRUE(fit_null_wls(l, c.s, 3, 1e-12, &f0, &solved));
    EXPECT_TRUE(solved);
    const double minimum = minimise_quadratic(
        [&](const std::vector<double>& dd) {
            std::vector<double> r(c.s, c.s + 6);
            for (int i = 0; i < 3; ++i) r[i * (i + 3) / 2] -= dd[i];
            return solve_l(r);
        },
        3);
    EXPECT_NEAR(f0, minimum, 1e-10);

    double unit[21] = {};
    for (int i = 0; i < 6; ++i) unit[i * (i + 3) / 2] = 1.0;
    ASSERT_TRUE(fit_null_wls(unit, c.s, 3, 1e-12, &f0, &solved));
    EXPECT_NEAR(f0, fit_null_uls(c.s, 3), 1e-12);
    unit[20] = 0.0;  // a negligible diagonal of the factor
    EXPECT_FALSE(fit_gfi_denominator_wls(unit, c.s, 6, 1e-12, &d));
}

// The chi-square multiplier is N - 1 for moments about the means and N
// for moments about zero, whether the origin or UCOV / UCORR put them there.
TEST(FitIndices, SampleMultiplierFollowsTheMomentOrigin) {
    ProcContext ctx;
    ctx.moments.nObs = 10.0;
    EXPECT_EQ(sample_multiplier(&ctx.moments, &ctx.options), 9.0);
    ctx.options.uncorrectedCov = 1;
    EXPECT_EQ(sample_multiplier(&ctx.moments, &ctx.options), 10.0);
    ctx.options.uncorrectedCov = 0;
    ctx.options.uncorrectedCorr = 1;
    EXPECT_EQ(sample_multiplier(&ctx.moments, &ctx.options), 10.0);
}

}  // namespace
