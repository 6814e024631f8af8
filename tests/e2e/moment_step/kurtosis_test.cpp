// Whole-program tests of the skewness and kurtosis measures of weighted raw
// data.  The definition: with observation weights w (times the frequency)
// summing to SW, every moment is a weighted average about the weighted
// means, m_k = sum w d^k / SW; the uncorrected coefficients are g1 = m3 /
// m2^1.5 and g2 = m4 / m2^2 - 3, Mardia's b2,p (Mardia, Biometrika 57,
// 1970) the weighted average of the squared Mahalanobis distances under the
// covariance sum w d d' / SW.  The sample size n of the bias-adjusted G1
// and G2 (Joanes and Gill, The Statistician 47, 1998) and of the normalised
// Mardia kurtosis is the one the VARDEF kind counts for the covariances (N
// under N and DF, SW under WDF and WGT, NOBS= when given), and an
// observation's contribution is its squared distance times its weight
// rescaled to make the weights sum to n.  Invariants: a constant weight
// gives the measures of the unweighted data under DF, an integer weight
// those of its frequency under WDF and WGT (and the scale-free ones under
// DF), a weight of 1 nothing new.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "direct_moments.h"

namespace {

using namespace velix::test;

// Relative tolerance of sums of fourth powers over 301 observations.
constexpr double kTol = 1e-10;

const std::string kModel =
    "lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3;\nstd F1 = vf, E1-E3 = "
    "ve1-ve3;\nrun;\n";

// The Kurtosis entries: Mardia's kurtosis, its relative form, the relative
// multivariate kurtosis, the normalised form, the mean scaled univariate
// kurtosis and its adjusted form.
constexpr int kMardia = 313, kRelative = 510, kNormalised = 511, kMardiaOverM = 512,
              kMeanScaled = 314, kMeanScaledAdjusted = 513;

// The measures of the definition for x1-x3 with weights w.
struct Expected {
    std::vector<double> skew, kurt;  // per variable, under the chosen form
    double mardia = 0.0, normalised = 0.0, meanScaled = 0.0, meanScaledAdjusted = 0.0;
    std::vector<std::pair<double, int>>
        contributions;  // normalised, observation number; largest first
};

// `kind`: "df", "n", "wdf" or "wgt"; `biased`: the uncorrected univariate
// coefficients; `n`: the sample size the kind counts.
Expected expected(const Data& d, const std::vector<double>& w, const std::string& kind, bool biased,
                  double n) {
    const size_t p = 3;
    double sw = 0.0;
    std::vector<double> mean(p, 0.0);
    for (size_t o = 0; o < d.rows.size(); ++o) {
        sw += w[o];
        for (size_t i = 0; i < p; ++i) mean[i] += w[o] * d.rows[o][i];
    }
    for (double& m : mean) m /= sw;
    auto avg = [&](size_t i, int k) {
        double t = 0.0;
        for (size_t o = 0; o < d.rows.size(); ++o) t += w[o] * std::pow(d.rows[o][i] - mean[i], k);
        return t / sw;
    };
    const bool adjusted = !biased && (kind == "df" || kind == "wdf");
    Expected e;
    for (size_t i = 0; i < p; ++i) {
        const double g1 = avg(i, 3) / std::pow(avg(i, 2), 1.5);
        const double g2 = avg(i, 4) / (avg(i, 2) * avg(i, 2)) - 3.0;
        e.skew.push_back(adjusted ? std::sqrt(n * (n - 1)) / (n - 2) * g1 : g1);
        e.kurt.push_back(adjusted ? (n - 1) * ((n + 1) * g2 + 6) / ((n - 2) * (n - 3)) : g2);
    }
    Matrix s(p, std::vector<double>(p, 0.0));
    for (size_t o = 0; o < d.rows.size(); ++o)
        for (size_t i = 0; i < p; ++i)
            for (size_t j = 0; j < p; ++j)
                s[i][j] += w[o] * (d.rows[o][i] - mean[i]) * (d.rows[o][j] - mean[j]) / sw;
    const Matrix inv = inverse_of(s);
    const double m = static_cast<double>(p * (p + 2)), sigma = std::sqrt(8.0 * m / n);
    double b2 = 0.0;
    for (size_t o = 0; o < d.rows.size(); ++o) {
        double q = 0.0;
        for (size_t i = 0; i < p; ++i)
            for (size_t j = 0; j < p; ++j)
                q += (d.rows[o][i] - mean[i]) * inv[i][j] * (d.rows[o][j] - mean[j]);
        b2 += w[o] * q * q / sw;
        e.contributions.emplace_back((w[o] * n / sw * q * q - m) / sigma, static_cast<int>(o) + 1);
    }
    std::stable_sort(e.contributions.begin(), e.contributions.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    e.contributions.resize(5);
    e.mardia = b2 - m;
    e.normalised = e.mardia / sigma;
    for (double k : e.kurt) {
        e.meanScaled += k / (3.0 * p);
        e.meanScaledAdjusted += std::max(k, -6.0 / (p + 2)) / (3.0 * p);
    }
    return e;
}

void expect_measures(const RunResult& r, size_t step, const Expected& e, const std::string& what) {
    const JsonValue& stats = r.table(step, "SimpleStatistics");
    ASSERT_EQ(stats["rows"].size(), 3u) << what << "\n" << r.log;
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_LT(rel(cell(stats, i, "Skewness").number(), e.skew[i]), kTol)
            << what << " skewness " << i;
        EXPECT_LT(rel(cell(stats, i, "Kurtosis").number(), e.kurt[i]), kTol)
            << what << " kurtosis " << i;
    }
    const double m = 15.0;
    const std::pair<int, double> entries[] = {
        {kMardia, e.mardia},         {kRelative, (e.mardia + m) / m},
        {kNormalised, e.normalised}, {kMardiaOverM, e.mardia / m},
        {kMeanScaled, e.meanScaled}, {kMeanScaledAdjusted, e.meanScaledAdjusted}};
    for (const auto& [number, value] : entries)
        EXPECT_LT(rel(factoid_entry(r, step, "Kurtosis", number), value), kTol)
            << what << " entry " << number;
    const auto found = r.items(step, "matrix", "ContKurtosis");
    ASSERT_EQ(found.size(), 1u) << what;
    const JsonValue& t = *found.front();
    ASSERT_EQ(t["rowLabels"].size(), 5u) << what;
    ASSERT_EQ(t["columnLabels"].size(), 1u) << what;
    EXPECT_EQ(t["columnLabels"][0].str(), "Normalized Contribution") << what;
    for (size_t k = 0; k < 5; ++k) {
        EXPECT_EQ(t["rowLabels"][k].str(), "Observation " + std::to_string(e.contributions[k].second))
            << what << " place " << k;
        EXPECT_LT(rel(t["values"][k][0].number(), e.contributions[k].first), kTol)
            << what << " place " << k;
    }
}

// hs x1-x3 with a weight w of 1.5 to 4.2 (its sum near 2.9 N), an integer
// weight k of 1 to 3 and a weight of 1.
Data weighted_data() {
    Data d = columns(read_csv("hs.csv"), 3);
    for (const char* name : {"w", "k", "one"}) d.names.push_back(name);
    for (size_t o = 0; o < d.rows.size(); ++o) {
        d.rows[o].push_back(1.5 + 0.45 * static_cast<double>((o * 5) % 7));
        d.rows[o].push_back(static_cast<double>(1 + o % 3));
        d.rows[o].push_back(1.0);
    }
    return d;
}

std::vector<double> column(const Data& d, size_t c) {
    std::vector<double> v;
    for (const auto& o : d.rows) v.push_back(o[c]);
    return v;
}

std::string step(const std::string& file, const std::string& options, const std::string& statements,
                 const std::string& method = "none") {
    return "proc velix data='" + file + "' method=" + method + " covariance kurtosis " + options +
           ";\nvar x1 x2 x3;\n" + statements + kModel;
}

// Every measure of steps a and b agrees: the univariate coefficients, the
// Kurtosis entries `entries` and, with `contributions`, the largest
// contributions.
void expect_same_measures(const RunResult& r, size_t a, size_t b, const std::vector<int>& entries,
                          bool contributions, const std::string& what) {
    for (size_t i = 0; i < 3; ++i)
        for (const char* c : {"Skewness", "Kurtosis"}) {
            const double want = cell(r.table(b, "SimpleStatistics"), i, c).number();
            EXPECT_LT(rel(cell(r.table(a, "SimpleStatistics"), i, c).number(), want), kTol)
                << what << " " << c << i;
        }
    for (int entry : entries) {
        const double want = factoid_entry(r, b, "Kurtosis", entry);
        ASSERT_FALSE(std::isnan(want)) << what << " entry " << entry;
        EXPECT_LT(rel(factoid_entry(r, a, "Kurtosis", entry), want), kTol)
            << what << " entry " << entry;
    }
    if (contributions) {
        const auto found = r.items(b, "matrix", "ContKurtosis");
        ASSERT_EQ(found.size(), 1u) << what;
        const JsonValue& got = (*r.items(a, "matrix", "ContKurtosis").front())["rowLabels"];
        const JsonValue& want = (*found.front())["rowLabels"];
        ASSERT_EQ(got.size(), want.size()) << what;
        for (size_t k = 0; k < want.size(); ++k)
            EXPECT_EQ(got[k].str(), want[k].str()) << what << " place " << k;
        expect_matrix_near(matrix_of(r, a, "ContKurtosis"), matrix_of(r, b, "ContKurtosis"), kTol,
                           what);
    }
}

const std::vector<int> kAllEntries = {kMardia,      kRelative,   kNormalised,
                                      kMardiaOverM, kMeanScaled, kMeanScaledAdjusted};
// The entries that do not depend on the sample size (the mean scaled
// kurtosis only under BIASKUR).
const std::vector<int> kScaleFree = {kMardia, kRelative, kMardiaOverM, kMeanScaled,
                                     kMeanScaledAdjusted};

TEST(WeightedKurtosis, MeasuresAgreeWithTheDefinitionUnderEveryVardefKind) {
    const std::string dir = scratch_dir("ku_kinds");
    const Data d = weighted_data();
    write_csv(dir + "/w.csv", d);
    const std::vector<double> w = column(d, 3);
    const double count = static_cast<double>(d.rows.size());
    double sw = 0.0;
    for (double x : w) sw += x;
    ASSERT_GT(sw / count, 2.0) << "the weights must not sum to N";
    const char* kinds[] = {"df", "n", "wdf", "wgt"};
    std::string program;
    for (const char* kind : kinds)
        for (const char* form : {"", " biaskur"})
            program += step(dir + "/w.csv", std::string("vardef=") + kind + form, "weight w;\n");
    // The weight passes of WLS and DWLS leave the same sums; DFREDUCE= takes
    // its count off N.
    for (const char* method : {"wls", "dwls"})
        program += step(dir + "/w.csv", "", "weight w;\n", method);
    program += step(dir + "/w.csv", "dfreduce=2", "weight w;\n");
    auto r = run_velix(program, {});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    size_t s = 0;
    for (const char* kind : kinds)
        for (bool biased : {false, true}) {
            const double n = kind[0] == 'w' ? sw : count;
            expect_measures(r, s++, expected(d, w, kind, biased, n),
                            std::string("vardef=") + kind + (biased ? " biaskur" : ""));
        }
    for (const char* method : {"wls", "dwls"})
        expect_measures(r, s++, expected(d, w, "df", false, count), method);
    expect_measures(r, s++, expected(d, w, "df", false, count - 2.0), "dfreduce=2");
}

TEST(WeightedKurtosis, AdjustedMeanScaledKurtosisRaisesKurtosesBelowItsBound) {
    // x3 split at its mean (a two-point variable, kurtosis near -2) lies
    // below the bound -6 / (p + 2) = -1.2 of the adjusted form; the others
    // do not.
    const std::string dir = scratch_dir("ku_bound");
    Data d = columns(read_csv("hs.csv"), 3);
    double mean = 0.0;
    for (const auto& o : d.rows) mean += o[2] / static_cast<double>(d.rows.size());
    for (auto& o : d.rows) o[2] = o[2] > mean ? 1.0 : 0.0;
    write_csv(dir + "/d.csv", d);
    const std::vector<double> one(d.rows.size(), 1.0);
    const Expected e = expected(d, one, "df", false, static_cast<double>(d.rows.size()));
    ASSERT_LT(e.kurt[2], -1.2);
    ASSERT_GT(std::min(e.kurt[0], e.kurt[1]), -1.2);
    const RunResult r = run_velix(step(dir + "/d.csv", "", ""), {});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    expect_measures(r, 0, e, "x3 split at its mean");
}

TEST(WeightedKurtosis, AConstantWeightGivesTheMeasuresOfTheUnweightedData) {
    // Under DF a weight of 2.25 on every observation gives the covariances
    // of the data times 1.5, a weight of 0.001 (summing to less than 4)
    // those of the data times 0.0316...: neither scale shows in any measure.
    const std::string dir = scratch_dir("ku_constant");
    const Data plain = columns(read_csv("hs.csv"), 3);
    std::string program;
    for (double c : {2.25, 0.001}) {
        Data weighted = plain, scaled = plain;
        weighted.names.push_back("c");
        for (auto& o : weighted.rows) o.push_back(c);
        for (auto& o : scaled.rows)
            for (double& x : o) x *= std::sqrt(c);
        const std::string tag = c > 1.0 ? "big" : "small";
        write_csv(dir + "/w_" + tag + ".csv", weighted);
        write_csv(dir + "/s_" + tag + ".csv", scaled);
        for (const char* form : {"", "biaskur"})
            program += step(dir + "/w_" + tag + ".csv", form, "weight c;\n") +
                       step(dir + "/s_" + tag + ".csv", form, "");
    }
    auto r = run_velix(program, {});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    for (size_t s = 0; s < 8; s += 2) {
        expect_matrix_near(matrix_of(r, s, "InCov"), matrix_of(r, s + 1, "InCov"), kTol,
                           "covariances");
        expect_same_measures(r, s, s + 1, kAllEntries, true, "step " + std::to_string(s));
    }
}

TEST(WeightedKurtosis, AnIntegerWeightActsAsItsFrequencyAndAUnitWeightChangesNothing) {
    const std::string dir = scratch_dir("ku_integer");
    const Data d = weighted_data();
    write_csv(dir + "/d.csv", d);
    const std::string file = dir + "/d.csv";
    std::string program;
    // Steps 0-7: weight k against freq k under WDF and WGT, with and without
    // BIASKUR; 8-9: the same under DF with BIASKUR; 10-11: weight one
    // against no weight.
    for (const char* options :
         {"vardef=wdf", "vardef=wdf biaskur", "vardef=wgt", "vardef=wgt biaskur", "biaskur"})
        program += step(file, options, "weight k;\n") + step(file, options, "freq k;\n");
    program += step(file, "", "weight one;\n") + step(file, "", "");
    auto r = run_velix(program, {});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    for (size_t s = 0; s < 8; s += 2)
        expect_same_measures(r, s, s + 1, kAllEntries, true, "step " + std::to_string(s));
    // Under DF the covariances count N observations for the weight and the
    // sum of the frequencies for the frequency: only what does not depend
    // on the sample size agrees.
    expect_same_measures(r, 8, 9, kScaleFree, false, "DF, biaskur");
    expect_same_measures(r, 10, 11, kAllEntries, true, "unit weight");
}

TEST(WeightedKurtosis, NobsReplacesOnlyTheSampleSizeOfTheAdjustments) {
    // NOBS= sets the sample size of the analysis; the standardized moments
    // are still those of the data, and n = NOBS in the adjustments.
    const std::string dir = scratch_dir("ku_nobs");
    const Data d = weighted_data();
    write_csv(dir + "/d.csv", d);
    const std::string file = dir + "/d.csv";
    auto r = run_velix(step(file, "nobs=500 biaskur", "weight w;\n") +
                           step(file, "nobs=500", "weight w;\n") + step(file, "nobs=500", ""),
                       {});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const std::vector<double> w = column(d, 3), one(d.rows.size(), 1.0);
    expect_measures(r, 0, expected(d, w, "df", true, 500.0), "weighted, biaskur");
    expect_measures(r, 1, expected(d, w, "df", false, 500.0), "weighted");
    expect_measures(r, 2, expected(d, one, "df", false, 500.0), "unweighted");
}

}  // namespace
