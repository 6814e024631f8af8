// The moments of each BY group with METHOD=NONE, checked against direct
// computations from the data by the textbook formulas: means, standard
// deviations and covariances with divisor N - 1, correlations, the adjusted
// skewness and kurtosis G1 and G2 (Joanes and Gill 1998), Mardia's
// multivariate kurtosis b2,p - p(p+2) (Mardia 1970, S with divisor N), and
// the weight matrices of GLS (S), WLS (the asymptotic covariance of the
// moments, Browne 1984, biased and unbiased) and DWLS (its diagonal).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "direct_moments.h"

namespace {

using velix::test::JsonValue;
using velix::test::run_velix;
using namespace velix::test;

constexpr double kTol = 1e-10;

const JsonValue& entry(const JsonValue& factoid, int number) {
    const JsonValue& e = factoid["entries"];
    for (size_t k = 0; k < e.size(); ++k)
        if (static_cast<int>(e[k]["labelMessage"]["number"].number()) == number) return e[k]["value"];
    return e[static_cast<size_t>(1u << 30)];
}

TEST(MomentsEndToEnd, RawDataStatisticsAgreeWithDirectComputation) {
    auto r = run_velix(
        "proc velix data=hs method=none covariance kurtosis pcorr;\n"
        "lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3, x4 = l4 F1 + E4, x5 = l5 F1 + E5,\n"
        "       x6 = l6 F1 + E6, x7 = l7 F1 + E7, x8 = l8 F1 + E8, x9 = l9 F1 + E9;\n"
        "std F1 = vf, E1-E9 = ve1-ve9;\nrun;\n",
        {"hs.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const Data d = read_csv("hs.csv");
    const double n = static_cast<double>(d.rows.size());
    const auto m = means_of(d);
    const auto s = cov_of(d, n - 1.0);
    const JsonValue& stats = r.table(0, "SimpleStatistics");
    ASSERT_EQ(stats["rows"].size(), d.p());
    for (size_t i = 0; i < d.p(); ++i) {
        const JsonValue& row = stats["rows"][i];
        EXPECT_EQ(row[0].str(), d.names[i]);
        EXPECT_LT(rel(row[1].number(), m[i]), kTol) << d.names[i];
        EXPECT_LT(rel(row[2].number(), std::sqrt(s[i][i])), kTol) << d.names[i];
        double s3 = 0.0, s4 = 0.0;
        for (const auto& o : d.rows) {
            const double z = (o[i] - m[i]) / std::sqrt(s[i][i]);
            s3 += z * z * z;
            s4 += z * z * z * z;
        }
        const double g1 = n / ((n - 1) * (n - 2)) * s3;
        const double g2 = n * (n + 1) / ((n - 1) * (n - 2) * (n - 3)) * s4 - 3 * (n - 1) * (n - 1) / ((n - 2) * (n - 3));
        EXPECT_LT(rel(row[3].number(), g1), kTol) << d.names[i];
        EXPECT_LT(rel(row[4].number(), g2), kTol) << d.names[i];
    }
    // The input covariance matrix.
    const JsonValue* cov = nullptr;
    for (const JsonValue* it : r.items(0, "matrix", "InCov")) cov = it;
    ASSERT_NE(cov, nullptr);
    for (size_t i = 0; i < d.p(); ++i)
        for (size_t j = 0; j < d.p(); ++j) EXPECT_LT(rel((*cov)["values"][i][j].number(), s[i][j]), kTol);
    // Mardia's kurtosis with the covariance of divisor N.
    const auto sn = inverse_of(cov_of(d, n));
    double b2 = 0.0;
    for (const auto& o : d.rows) {
        double q = 0.0;
        for (size_t i = 0; i < d.p(); ++i)
            for (size_t j = 0; j < d.p(); ++j) q += (o[i] - m[i]) * sn[i][j] * (o[j] - m[j]);
        b2 += q * q;
    }
    b2 /= n;
    const double pp = static_cast<double>(d.p() * (d.p() + 2));
    const JsonValue* k = nullptr;
    for (const JsonValue* it : r.items(0, "factoid", "Kurtosis")) k = it;
    ASSERT_NE(k, nullptr);
    EXPECT_LT(rel(entry(*k, 313).number(), b2 - pp), kTol);
    EXPECT_LT(rel(entry(*k, 511).number(), (b2 - pp) / std::sqrt(8.0 * pp / n)), kTol);
}

TEST(MomentsEndToEnd, CovarianceInputIsAnalysedAsGivenAndCorrelationsFollowFromIt) {
    const std::string model =
        "lineqs general = 1.0 Fg + E1, picture = l2 Fg + E2, blocks = l3 Fg + E3, maze = l4 Fg + E4,\n"
        "       reading = 1.0 Fv + E5, vocab = l6 Fv + E6;\n"
        "std Fg Fv = vg vv, E1-E6 = ve1-ve6;\ncov Fg Fv = cgv;\nrun;\n";
    auto cov = run_velix("proc velix data=ability method=none covariance pcorr;\n" + model, {"ability.csv"});
    auto cor = run_velix("proc velix data=ability method=none pcorr;\n" + model, {"ability.csv"});
    ASSERT_EQ(cov.exitStatus, 0) << cov.log;
    ASSERT_EQ(cor.exitStatus, 0) << cor.log;
    const JsonValue* c = nullptr;
    const JsonValue* r = nullptr;
    for (const JsonValue* it : cov.items(0, "matrix", "InCov")) c = it;
    for (const JsonValue* it : cor.items(0, "matrix", "InCorr")) r = it;
    ASSERT_NE(c, nullptr);
    ASSERT_NE(r, nullptr);
    // The first input row: general with itself 24.641, with picture 5.991.
    EXPECT_LT(rel((*c)["values"][0][0].number(), 24.641), kTol);
    EXPECT_LT(rel((*c)["values"][0][1].number(), 5.991), kTol);
    const size_t p = (*c)["values"].size();
    for (size_t i = 0; i < p; ++i)
        for (size_t j = 0; j < p; ++j) {
            const double cij = (*c)["values"][i][j].number();
            const double expected = cij / std::sqrt((*c)["values"][i][i].number() * (*c)["values"][j][j].number());
            EXPECT_LT(rel((*r)["values"][i][j].number(), expected), kTol);
        }
}

TEST(MomentsEndToEnd, EachByGroupHasItsOwnMoments) {
    // Two groups: the first 150 observations and the rest of hs.csv.
    std::ifstream in(velix::test::data_path("hs.csv"));
    std::string line, text;
    std::getline(in, line);
    text = "g," + line + "\n";
    int k = 0;
    while (std::getline(in, line)) text += std::string(k++ < 150 ? "1," : "2,") + line + "\n";
    const std::string dir = scratch_dir("md_bygroups");
    std::ofstream(dir + "/hsg.csv") << text;
    auto r = run_velix("proc velix data='" + dir + "/hsg.csv' method=none covariance;\nvar x1 x2;\nby g;\n"
                       "lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2;\nstd F1 = vf, E1-E2 = ve1-ve2;\nrun;\n",
                       {});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const auto tables = r.items(0, "table", "SimpleStatistics");
    ASSERT_EQ(tables.size(), 2u);
    const Data d = read_csv("hs.csv");
    for (int g = 0; g < 2; ++g) {
        double sum = 0.0, n = 0.0;
        for (size_t o = 0; o < d.rows.size(); ++o)
            if ((o < 150) == (g == 0)) {
                sum += d.rows[o][0];
                n += 1.0;
            }
        EXPECT_LT(rel((*tables[g])["rows"][0][1].number(), sum / n), kTol) << "group " << g + 1;
    }
}

TEST(MomentsEndToEnd, InputErrorsGiveTheirMessagesAndCodes) {
    const std::string dir = scratch_dir("md_errors");
    // A moment data set without matrix rows.
    std::ofstream(dir + "/nomat.csv") << "# TYPE=COV\n_TYPE_,_NAME_,a,b\nN,,10,10\nMEAN,,1,2\n";
    auto r = run_velix("proc velix data='" + dir + "/nomat.csv' method=none covariance;\n"
                       "lineqs a = 1.0 F1 + E1, b = l2 F1 + E2;\nstd F1 = vf, E1-E2 = ve1-ve2;\nrun;\n",
                       {});
    EXPECT_NE(r.exitStatus, 0);
    const auto msgs = r.messages(0, 230);
    EXPECT_NE(std::find(msgs.begin(), msgs.end(), 15), msgs.end()) << r.log;
    // No usable observation: every row has a missing value.
    std::ofstream(dir + "/empty.csv") << "a,b\n1,.\n.,2\n";
    auto e = run_velix("proc velix data='" + dir + "/empty.csv' method=none covariance;\n"
                       "lineqs a = 1.0 F1 + E1, b = l2 F1 + E2;\nstd F1 = vf, E1-E2 = ve1-ve2;\nrun;\n",
                       {});
    EXPECT_NE(e.exitStatus, 0) << e.log;
    EXPECT_TRUE(e.items(0, "table", "SimpleStatistics").empty());
}

TEST(WeightsEndToEnd, WlsDwlsAndGlsWeightsAgreeWithDirectComputation) {
    const std::string dir = scratch_dir("md_weights");
    std::ifstream in(velix::test::data_path("hs.csv"));
    std::string line, text = "a,b\n";
    std::getline(in, line);
    Data d;
    d.names = {"a", "b"};
    for (int k = 0; k < 40 && std::getline(in, line); ++k) {
        std::stringstream s(line);
        std::string x1, x2;
        std::getline(s, x1, ',');
        std::getline(s, x2, ',');
        text += x1 + "," + x2 + "\n";
        d.rows.push_back({std::stod(x1), std::stod(x2)});
    }
    std::ofstream(dir + "/small.csv") << text;
    const double n = static_cast<double>(d.rows.size());
    const auto m = means_of(d);
    const auto sn = cov_of(d, n);
    // Fourth moments about the means, divisor N.
    auto m4 = [&](int i, int j, int k, int l) {
        double t = 0.0;
        for (const auto& o : d.rows) t += (o[i] - m[i]) * (o[j] - m[j]) * (o[k] - m[k]) * (o[l] - m[l]);
        return t / n;
    };
    const int pairs[3][2] = {{0, 0}, {1, 0}, {1, 1}};
    auto gamma = [&](int a, int b, bool unbiased) {
        const int i = pairs[a][0], j = pairs[a][1], k = pairs[b][0], l = pairs[b][1];
        const double g = m4(i, j, k, l) - sn[i][j] * sn[k][l];
        if (!unbiased) return g;
        return n * (n - 1) / ((n - 2) * (n - 3)) * g -
               n / ((n - 2) * (n - 3)) * (sn[i][k] * sn[j][l] + sn[i][l] * sn[j][k] - 2.0 / (n - 1) * sn[i][j] * sn[k][l]);
    };
    const std::string model = "lineqs a = 1.0 F1 + E1, b = 1.0 F1 + E2;\nstd F1 = vf, E1-E2 = ve1-ve2;\nrun;\n";
    for (int unbiased = 0; unbiased < 2; ++unbiased) {
        const std::string out = dir + (unbiased ? "/wu.csv" : "/wb.csv");
        auto r = run_velix("proc velix data='" + dir + "/small.csv' method=wls covariance asycov=" +
                               (unbiased ? "unbiased" : "biased") + " outwgt='" + out + "';\n" + model,
                           {});
        ASSERT_LE(r.exitStatus, 1) << r.log;
        // WLS rows (i, j, k): values of the moments (k, l) up to (i, j).
        const Matrix w = read_values(out, 4);
        ASSERT_EQ(w.size(), 5u) << r.log;
        const int rowPair[5] = {0, 1, 1, 2, 2}, rowK[5] = {0, 0, 1, 0, 1};
        for (int row = 0; row < 5; ++row) {
            const int a = rowPair[row];
            const int last = rowK[row] < pairs[a][0] ? rowK[row] : pairs[a][1];
            for (int l = 0; l <= last; ++l) {
                const int b = rowK[row] == 0 ? 0 : (l == 0 ? 1 : 2);
                EXPECT_LT(rel(w[row][l], gamma(a, b, unbiased)), 1e-9) << "row " << row << " l " << l;
            }
        }
    }
    // DWLS: the diagonal of the biased asymptotic covariance.
    {
        const std::string out = dir + "/wd.csv";
        auto r = run_velix("proc velix data='" + dir + "/small.csv' method=dwls covariance asycov=biased outwgt='" +
                               out + "';\n" + model,
                           {});
        const Matrix w = read_values(out, 2);
        ASSERT_EQ(w.size(), 2u) << r.log;
        EXPECT_LT(rel(w[0][0], gamma(0, 0, false)), 1e-9);
        EXPECT_LT(rel(w[1][0], gamma(1, 1, false)), 1e-9);
        EXPECT_LT(rel(w[1][1], gamma(2, 2, false)), 1e-9);
    }
    // GLS: the weight matrix is S (its inverse weighs the residuals).
    {
        const std::string out = dir + "/wg.csv";
        auto r = run_velix("proc velix data='" + dir + "/small.csv' method=gls covariance outwgt='" + out + "';\n" +
                               model,
                           {});
        const Matrix w = read_values(out, 2);
        ASSERT_EQ(w.size(), 2u) << r.log;
        const auto s = cov_of(d, n - 1.0);
        for (int i = 0; i < 2; ++i)
            for (int j = 0; j < 2; ++j) EXPECT_LT(rel(w[i][j], s[i][j]), 1e-10);
    }
}

}  // namespace
