// Whole-program tests of the WLS and DWLS weights of weighted raw data, read
// back through OUTWGT=.  The asymptotic covariance of the moments (Browne,
// Br. J. Math. Stat. Psychol. 37, 1984) is Gamma_ij,kl = sigma_ijkl -
// sigma_ij sigma_kl.  With observation weights w summing to SW and the
// divisor d0 of the VARDEF kind with no degree of freedom taken off (N for
// N and DF, SW for WDF and WGT), the moments are s = sum w d d' / d0 (d the
// deviations from the weighted means): the weighted covariance (weights
// normalised to sum 1) of the variables y = sqrt(SW / d0) d.  The fourth
// moments that go with s are those of the same y, so the direct computation
// below forms every moment as a weighted average over y.  Invariants: under
// DF a constant weight c gives the moments of the data scaled by sqrt(c),
// so its weights equal those of the scaled data; an integer weight under
// WGT acts as a frequency; a weight of 1 changes nothing.  The correlation
// form (delta method), the default of a correlation analysis, is checked
// against its formula for WLS and DWLS.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "direct_moments.h"

namespace {

using namespace velix::test;

// Relative tolerance of weights summed over 301 observations.
constexpr double kTol = 1e-9;

const std::string kModel =
    "lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3;\nstd F1 = vf, E1-E3 = ve1-ve3;\nrun;\n";

// hs x1-x3 and a weight w of 1.5 to 4.2 (its sum near 2.9 N) varying along
// the observations.
Data weighted_data() {
    Data d = columns(read_csv("hs.csv"), 3);
    d.names.push_back("w");
    for (size_t o = 0; o < d.rows.size(); ++o) d.rows[o].push_back(1.5 + 0.45 * static_cast<double>((o * 5) % 7));
    return d;
}

// The moments of the definition: weighted averages over y = sqrt(SW/d0) d.
struct Moments {
    size_t p = 0;
    double d0 = 0.0;
    std::vector<std::vector<double>> y;  // per observation
    std::vector<double> w;
    double sw = 0.0;

    double avg(const std::vector<size_t>& idx) const {
        double t = 0.0;
        for (size_t o = 0; o < y.size(); ++o) {
            double prod = w[o];
            for (size_t v : idx) prod *= y[o][v];
            t += prod;
        }
        return t / sw;
    }
    double s(size_t i, size_t j) const { return avg({i, j}); }
    double gamma(size_t i, size_t j, size_t k, size_t l, bool unbiased) const {
        const double g = avg({i, j, k, l}) - s(i, j) * s(k, l);
        if (!unbiased) return g;
        const double n = d0;
        return n * (n - 1) / ((n - 2) * (n - 3)) * g -
               n / ((n - 2) * (n - 3)) * (s(i, k) * s(j, l) + s(i, l) * s(j, k) - 2.0 / (n - 1) * s(i, j) * s(k, l));
    }
};

// `weighted`: column 3 holds the weight; `useCountForD0`: d0 is N (kinds N
// and DF), else SW.
Moments moments_of(const Data& d, bool weighted, bool useCountForD0) {
    Moments m;
    m.p = 3;
    std::vector<double> mean(3, 0.0);
    for (const auto& o : d.rows) {
        const double w = weighted ? o[3] : 1.0;
        m.w.push_back(w);
        m.sw += w;
        for (size_t i = 0; i < 3; ++i) mean[i] += w * o[i];
    }
    for (double& x : mean) x /= m.sw;
    m.d0 = useCountForD0 ? static_cast<double>(d.rows.size()) : m.sw;
    const double root = std::sqrt(m.sw / m.d0);
    for (const auto& o : d.rows) m.y.push_back({root * (o[0] - mean[0]), root * (o[1] - mean[1]), root * (o[2] - mean[2])});
    return m;
}

// The OUTWGT= rows of the WLS form over p variables: row (i, j, k) holds
// the weights gamma(i, j, k, l) of the moment (i, j) with (k, l), l = 0 ..
// (k < i ? k : j), the other values missing.
template <typename Gamma>
Matrix wls_rows(size_t p, Gamma gamma) {
    Matrix out;
    for (size_t i = 0; i < p; ++i)
        for (size_t j = 0; j <= i; ++j)
            for (size_t k = 0; k <= i; ++k) {
                std::vector<double> row(p, std::nan(""));
                for (size_t l = 0; l <= (k < i ? k : j); ++l) row[l] = gamma(i, j, k, l);
                out.push_back(row);
            }
    return out;
}
Matrix wls_rows(const Moments& m, bool unbiased) {
    return wls_rows(m.p, [&](size_t i, size_t j, size_t k, size_t l) { return m.gamma(i, j, k, l, unbiased); });
}

// The OUTWGT= rows of DWLS: entry (i, j) is gamma(i, j, i, j).
template <typename Gamma>
Matrix dwls_rows(size_t p, Gamma gamma) {
    Matrix out(p, std::vector<double>(p));
    for (size_t i = 0; i < p; ++i)
        for (size_t j = 0; j < p; ++j) out[i][j] = gamma(i, j, i, j);
    return out;
}
Matrix dwls_rows(const Moments& m, bool unbiased) {
    return dwls_rows(m.p, [&](size_t i, size_t j, size_t k, size_t l) { return m.gamma(i, j, k, l, unbiased); });
}

// The weights of a correlation analysis by the delta method (de Leeuw
// 1983): with rho the fourth moments over the roots of the variances and r
// the correlations, the covariance of r_ij and r_kl is rho_ijkl - r_ij
// (rho_iikl + rho_jjkl) / 2 - r_kl (rho_ijkk + rho_ijll) / 2 + r_ij r_kl
// (rho_iikk + rho_iill + rho_jjkk + rho_jjll) / 4.  The variance moments
// carry the default penalty weight 1/100 on their own diagonal and nothing
// else.  The OUTWGT= rows of WLS (wls) or DWLS.
Matrix correlation_rows(const Moments& m, bool wls) {
    auto rho = [&](size_t i, size_t j, size_t k, size_t l) {
        return m.avg({i, j, k, l}) / std::sqrt(m.s(i, i) * m.s(j, j) * m.s(k, k) * m.s(l, l));
    };
    auto r_of = [&](size_t i, size_t j) { return m.s(i, j) / std::sqrt(m.s(i, i) * m.s(j, j)); };
    auto gamma = [&](size_t i, size_t j, size_t k, size_t l) {
        if (i == j || k == l) return i == j && k == l && i == k ? 0.01 : 0.0;
        const double rij = r_of(i, j), rkl = r_of(k, l);
        return rho(i, j, k, l) - 0.5 * rij * (rho(i, i, k, l) + rho(j, j, k, l)) -
               0.5 * rkl * (rho(i, j, k, k) + rho(i, j, l, l)) +
               0.25 * rij * rkl * (rho(i, i, k, k) + rho(i, i, l, l) + rho(j, j, k, k) + rho(j, j, l, l));
    };
    return wls ? wls_rows(m.p, gamma) : dwls_rows(m.p, gamma);
}

TEST(WeightedAsymptoticCovariance, WeightsAgreeWithTheDefinitionUnderEveryVardefKind) {
    const std::string dir = scratch_dir("ac_kinds");
    const Data d = weighted_data();
    write_csv(dir + "/w.csv", d);
    struct Kind {
        const char* vardef;
        bool countDivisor;
    };
    const Kind kinds[] = {{"df", true}, {"n", true}, {"wdf", false}, {"wgt", false}};
    struct Form {
        const char* options;
        const char* file;
    };
    const Form forms[] = {{"wls asycov=biased", "wb"},
                          {"wls asycov=unbiased", "wu"},
                          {"dwls asycov=biased", "db"},
                          {"dwls asycov=unbiased", "du"}};
    std::string program;
    for (const Kind& k : kinds)
        for (const Form& f : forms)
            program += "proc velix data='" + dir + "/w.csv' covariance vardef=" + k.vardef + " method=" + f.options +
                       " outwgt='" + dir + "/" + k.vardef + "_" + f.file + ".csv';\nvar x1 x2 x3;\nweight w;\n" +
                       kModel;
    auto r = run_velix(program, {});
    for (const Kind& k : kinds) {
        const Moments m = moments_of(d, true, k.countDivisor);
        ASSERT_GT(std::fabs(m.sw / static_cast<double>(d.rows.size()) - 1.0), 1.0) << "weights must not sum to N";
        const std::string base = dir + "/" + k.vardef;
        expect_matrix_near(read_values(base + "_wb.csv", 4), wls_rows(m, false), kTol,
                           std::string("WLS biased, vardef=") + k.vardef);
        expect_matrix_near(read_values(base + "_wu.csv", 4), wls_rows(m, true), kTol,
                           std::string("WLS unbiased, vardef=") + k.vardef);
        expect_matrix_near(read_values(base + "_db.csv", 2), dwls_rows(m, false), kTol,
                           std::string("DWLS biased, vardef=") + k.vardef);
        expect_matrix_near(read_values(base + "_du.csv", 2), dwls_rows(m, true), kTol,
                           std::string("DWLS unbiased, vardef=") + k.vardef);
    }
    if (HasFailure()) ADD_FAILURE() << r.log;
}

TEST(WeightedAsymptoticCovariance, KurtosisRatiosAgreeWithTheDefinition) {
    // The two kurtosis measures of the fourth moments against their values
    // under normality, g = s_ij s_kl + s_ik s_jl + s_il s_jk, over i >= j >=
    // k >= l: the mean ratio less 1 and sum(m g) / sum(g^2) less 1.
    const std::string dir = scratch_dir("ac_kurtosis");
    const Data d = weighted_data();
    write_csv(dir + "/w.csv", d);
    auto r = run_velix("proc velix data='" + dir + "/w.csv' covariance kurtosis method=wls;\nvar x1 x2 x3;\n"
                       "weight w;\n" + kModel,
                       {});
    const Moments m = moments_of(d, true, true);
    double s1 = 0.0, s2 = 0.0, s3 = 0.0;
    for (size_t i = 0; i < 3; ++i)
        for (size_t j = 0; j <= i; ++j)
            for (size_t k = 0; k <= j; ++k)
                for (size_t l = 0; l <= k; ++l) {
                    const double f = m.avg({i, j, k, l});
                    const double g = m.s(i, j) * m.s(k, l) + m.s(i, k) * m.s(j, l) + m.s(i, l) * m.s(j, k);
                    s1 += f * g;
                    s2 += g * g;
                    s3 += f / g;
                }
    EXPECT_LT(rel(factoid_entry(r, 0, "Kurtosis", 315), 24.0 * s3 / (3.0 * 4 * 5 * 6) - 1.0), kTol) << r.log;
    EXPECT_LT(rel(factoid_entry(r, 0, "Kurtosis", 514), s1 / s2 - 1.0), kTol) << r.log;
}

TEST(WeightedAsymptoticCovariance, ConstantWeightUnderDfActsAsScaledData) {
    // Under DF a weight of 2.25 on every observation gives the moments of
    // the data times 1.5, so every weight matrix (covariances biased and
    // unbiased, correlations, WLS and DWLS) and the kurtosis ratios agree.
    const std::string dir = scratch_dir("ac_scaled");
    Data weighted = columns(read_csv("hs.csv"), 3), scaled = weighted;
    weighted.names.push_back("w");
    for (auto& o : weighted.rows) o.push_back(2.25);
    for (auto& o : scaled.rows)
        for (double& x : o) x *= 1.5;
    write_csv(dir + "/w.csv", weighted);
    write_csv(dir + "/s.csv", scaled);
    const std::string forms[] = {"covariance method=wls asycov=biased", "covariance method=wls asycov=unbiased",
                                 "covariance method=dwls asycov=unbiased", "method=wls",
                                 "method=dwls"};
    std::string program;
    for (size_t f = 0; f < 5; ++f)
        for (const char* which : {"w", "s"})
            program += "proc velix data='" + dir + "/" + which + ".csv' kurtosis " + forms[f] + " outwgt='" + dir +
                       "/" + which + std::to_string(f) + ".csv';\nvar x1 x2 x3;\n" +
                       (which[0] == 'w' ? "weight w;\n" : "") + kModel;
    auto r = run_velix(program, {});
    for (size_t f = 0; f < 5; ++f) {
        const size_t first = forms[f].find("dwls") != std::string::npos ? 2 : 4;
        const Matrix want = read_values(dir + "/s" + std::to_string(f) + ".csv", first);
        ASSERT_FALSE(want.empty()) << forms[f] << "\n" << r.log;
        expect_matrix_near(read_values(dir + "/w" + std::to_string(f) + ".csv", first), want, kTol, forms[f]);
    }
    // The kurtosis ratios of the WLS steps: each weighted step is followed
    // by its scaled one.
    for (size_t step : {0u, 2u, 6u})
        for (int entry : {315, 514}) {
            const double want = factoid_entry(r, step + 1, "Kurtosis", entry);
            ASSERT_FALSE(std::isnan(want)) << "step " << step + 1 << " entry " << entry;
            EXPECT_LT(rel(factoid_entry(r, step, "Kurtosis", entry), want), kTol) << "step " << step << " " << entry;
        }
}

TEST(WeightedAsymptoticCovariance, IntegerWeightUnderWgtActsAsFrequencyAndUnitWeightChangesNothing) {
    const std::string dir = scratch_dir("ac_frequency");
    Data d = columns(read_csv("hs.csv"), 3);
    d.names.push_back("w");
    d.names.push_back("one");
    for (size_t o = 0; o < d.rows.size(); ++o) {
        d.rows[o].push_back(static_cast<double>(1 + o % 3));
        d.rows[o].push_back(1.0);
    }
    write_csv(dir + "/d.csv", d);
    const std::string head = "proc velix data='" + dir + "/d.csv' covariance method=wls asycov=unbiased outwgt='" + dir;
    auto r = run_velix(head + "/wgt.csv' vardef=wgt;\nvar x1 x2 x3;\nweight w;\n" + kModel +  //
                           head + "/freq.csv';\nvar x1 x2 x3;\nfreq w;\n" + kModel +           //
                           head + "/one.csv';\nvar x1 x2 x3;\nweight one;\n" + kModel +        //
                           head + "/none.csv';\nvar x1 x2 x3;\n" + kModel,
                       {});
    const Matrix freq = read_values(dir + "/freq.csv", 4), none = read_values(dir + "/none.csv", 4);
    ASSERT_EQ(freq.size(), 14u) << r.log;
    expect_matrix_near(read_values(dir + "/wgt.csv", 4), freq, kTol, "weight under WGT against frequency");
    expect_matrix_near(read_values(dir + "/one.csv", 4), none, 1e-15, "unit weight against none");
    // And the unweighted weights are those of the definition.
    const Moments m = moments_of(columns(d, 3), false, true);
    expect_matrix_near(none, wls_rows(m, true), kTol, "unweighted against the definition");
}

TEST(WeightedAsymptoticCovariance, CorrelationAnalysisDefaultsToTheCorrelationForm) {
    // Without ASYCOV= a correlation analysis weighs the moments by the
    // asymptotic covariance of the correlations, the same as ASYCOV=CORR,
    // for WLS and for DWLS alike (DWLS needs the moments m_iiij and m_ijjj
    // of the weight pass for it).
    const std::string dir = scratch_dir("ac_default");
    const Data d = weighted_data();
    write_csv(dir + "/w.csv", d);
    std::string program;
    for (const char* method : {"wls", "dwls"})
        for (const char* asycov : {"", " asycov=corr"})
            program += "proc velix data='" + dir + "/w.csv' method=" + method + asycov + " outwgt='" + dir + "/" +
                       method + (asycov[0] ? "_corr" : "_default") + ".csv';\nvar x1 x2 x3;\nweight w;\n" + kModel;
    auto r = run_velix(program, {});
    for (const std::string method : {"wls", "dwls"}) {
        const size_t first = method == "wls" ? 4 : 2;
        const Matrix want = read_values(dir + "/" + method + "_corr.csv", first);
        ASSERT_FALSE(want.empty()) << r.log;
        expect_matrix_near(read_values(dir + "/" + method + "_default.csv", first), want, 1e-15, method);
    }
    // Both against the delta method.
    const Moments m = moments_of(d, true, true);
    expect_matrix_near(read_values(dir + "/wls_corr.csv", 4), correlation_rows(m, true), kTol, "WLS correlations");
    expect_matrix_near(read_values(dir + "/dwls_corr.csv", 2), correlation_rows(m, false), kTol,
                       "DWLS correlations");
}

TEST(WeightedAsymptoticCovariance, UnderPartialTheWeightsAreThoseOfTheResiduals) {
    // With x4 partialled out the moments analysed are those of the
    // residuals e of x1-x3 on x4 (weighted least squares with the
    // observation weights), so the weights are the fourth moments of e as
    // of raw data, with and without WEIGHT, for covariances (the default
    // biased form) and for correlations (the default of a correlation
    // analysis).  An observation without its partial value is left out of
    // the weights as it is out of the moments.
    const std::string dir = scratch_dir("ac_partial");
    Data d = weighted_data();
    const Data hs = read_csv("hs.csv");
    d.names.push_back("x4");
    for (size_t o = 0; o < d.rows.size(); ++o) d.rows[o].push_back(o == 7 ? std::nan("") : hs.rows[o][3]);
    write_csv(dir + "/w.csv", d);
    d.rows.erase(d.rows.begin() + 7);
    const auto residuals = [&](bool weighted) {
        Data e = columns(d, 4);
        double sw = 0.0, zbar = 0.0, szz = 0.0, mean[3] = {}, sxz[3] = {};
        for (const auto& o : d.rows) {
            const double w = weighted ? o[3] : 1.0;
            sw += w;
            zbar += w * o[4];
            for (size_t i = 0; i < 3; ++i) mean[i] += w * o[i];
        }
        zbar /= sw;
        for (double& x : mean) x /= sw;
        for (const auto& o : d.rows) {
            const double w = weighted ? o[3] : 1.0;
            szz += w * (o[4] - zbar) * (o[4] - zbar);
            for (size_t i = 0; i < 3; ++i) sxz[i] += w * (o[i] - mean[i]) * (o[4] - zbar);
        }
        for (size_t o = 0; o < d.rows.size(); ++o)
            for (size_t i = 0; i < 3; ++i)
                e.rows[o][i] = d.rows[o][i] - mean[i] - sxz[i] / szz * (d.rows[o][4] - zbar);
        return moments_of(e, weighted, true);
    };
    struct Case {
        const char* options;
        bool weighted;
        const char* file;
    } cases[] = {{"covariance method=wls", false, "wls"},
                 {"covariance method=wls", true, "wls_w"},
                 {"covariance method=dwls", true, "dwls_w"},
                 {"method=wls", true, "wls_corr"},
                 {"method=dwls", true, "dwls_corr"}};
    std::string program;
    for (const Case& c : cases)
        program += std::string("proc velix data='") + dir + "/w.csv' " + c.options + " outwgt='" + dir + "/" + c.file +
                   ".csv';\nvar x1 x2 x3;\npartial x4;\n" + (c.weighted ? "weight w;\n" : "") + kModel;
    auto r = run_velix(program, {});
    for (const Case& c : cases) {
        const Moments m = residuals(c.weighted);
        const bool wls = std::string(c.options).find("dwls") == std::string::npos;
        const bool corr = std::string(c.options).find("covariance") == std::string::npos;
        const Matrix want = corr ? correlation_rows(m, wls) : wls ? wls_rows(m, false) : dwls_rows(m, false);
        expect_matrix_near(read_values(dir + "/" + c.file + ".csv", wls ? 4 : 2), want, kTol, c.file);
    }
    if (HasFailure()) ADD_FAILURE() << r.log;
}

}  // namespace
