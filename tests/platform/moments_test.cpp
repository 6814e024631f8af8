// zacorr against a direct two-pass computation in long double: weights,
// frequencies, skipped observations, moments about the means and about
// zero, the VARDEF divisors, data with a large offset and a small scale,
// the sums of the scan over many of its blocks (also of data with a trend),
// the same bits from a data set read from its file as from one that holds
// its values, and the failures (no usable observation, character
// variables).
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "dataset_fixture.h"
#include "velix/types.h"

#include <cstring>
#include <limits>

namespace {

using velix::platform::dataset_set_by;
using velix::platform::testing::DataSetTest;

constexpr double kTol = 1e-12;  // relative agreement with the long-double reference

struct Observation {
    std::vector<double> x;  // analysis values; NaN stands for missing in the file
    double weight = 1.0;
    double freq = 1.0;
    bool weightMissing = false;
};

struct Reference {
    long double n = 0, w = 0;
    std::vector<long double> mean;
    std::vector<long double> cross;  // packed
};

// The textbook definitions, in long double, from the observations that
// qualify: frequency floor(f) > 0, weight > 0, no missing value.
Reference reference(const std::vector<Observation>& obs, int p, bool aboutZero) {
    Reference r;
    r.mean.assign(p, 0.0L);
    r.cross.assign(static_cast<size_t>(p) * (p + 1) / 2, 0.0L);
    std::vector<const Observation*> used;
    for (const Observation& o : obs) {
        const long double f = std::floor(static_cast<long double>(o.freq));
        bool complete = !o.weightMissing && f > 0 && o.weight > 0;
        for (double x : o.x) complete = complete && !std::isnan(x);
        if (!complete) continue;
        used.push_back(&o);
        r.n += f;
        r.w += f * o.weight;
        for (int i = 0; i < p; ++i) r.mean[i] += f * o.weight * static_cast<long double>(o.x[i]);
    }
    for (int i = 0; i < p; ++i) r.mean[i] /= r.w;
    for (const Observation* o : used) {
        const long double wf = std::floor(static_cast<long double>(o->freq)) * o->weight;
        size_t k = 0;
        for (int i = 0; i < p; ++i)
            for (int j = 0; j <= i; ++j, ++k) {
                long double a = o->x[i], b = o->x[j];
                if (!aboutZero) a -= r.mean[i], b -= r.mean[j];
                r.cross[k] += wf * a * b;
            }
    }
    return r;
}

std::string csv(const std::vector<Observation>& obs, int p) {
    std::ostringstream s;
    s.precision(17);
    for (int i = 0; i < p; ++i) s << "x" << i + 1 << ",";
    s << "w,f\n";
    for (const Observation& o : obs) {
        for (double x : o.x) {
            if (std::isnan(x))
                s << ".,";
            else
                s << x << ",";
        }
        if (o.weightMissing)
            s << ".,";
        else
            s << o.weight << ",";
        s << o.freq << "\n";
    }
    return s.str();
}

struct Result {
    int32_t level = -1;
    std::vector<double> moments, means, stds;
    double divisor = -1, sumWeights = -1, n = -1;
};

class ZacorrTest : public DataSetTest {
protected:
    // Defines the lists on `d` (analysis x1..xp, optional weight and frequency).
    void define(HostDataSet* d, int p, bool weight, bool freq) {
        for (int i = 0; i < p; ++i) vars_[i] = static_cast<int16_t>(i + 1);
        w_ = static_cast<int16_t>(p + 1);
        f_ = static_cast<int16_t>(p + 2);
        lists_ = VariableListRecord{};
        lists_.entry[kHostListVar] = {static_cast<int16_t>(p), vars_};
        if (weight) lists_.entry[kHostListWeight] = {1, &w_};
        if (freq) lists_.entry[kHostListFreq] = {1, &f_};
        ASSERT_EQ(xvdflst(d, &lists_), 0);
    }
    Result run(HostDataSet* d, int p, int32_t origin, const char* vardef) {
        Result r;
        const size_t packed = static_cast<size_t>(p) * (p + 1) / 2;
        r.moments.assign(packed, -9.0);
        r.means.assign(p, -9.0);
        r.stds.assign(p, -9.0);
        std::vector<double> work(8 * p + 8);
        StatementNode root;
        r.level = zacorr(d, &root, kHostListRead, kHostListWeight, kHostListFreq, origin,
                         r.moments.data(), r.means.data(), r.stds.data(), work.data(), vardef,
                         &r.divisor, &r.sumWeights, &r.n);
        return r;
    }
    // Compares a result with the reference under the divisor `div`.
    void check(const Result& got, const Reference& ref, int p, long double div) {
        EXPECT_EQ(got.level, 0);
        EXPECT_NEAR(got.n, static_cast<double>(ref.n), kTol * static_cast<double>(ref.n));
        EXPECT_NEAR(got.sumWeights, static_cast<double>(ref.w), kTol * static_cast<double>(ref.w));
        EXPECT_NEAR(got.divisor, static_cast<double>(div), kTol * static_cast<double>(div));
        double worst = 0.0;
        for (int i = 0; i < p; ++i) {
            const long double cii = ref.cross[static_cast<size_t>(i) * (i + 1) / 2 + i];
            const long double sd = std::sqrt(cii / div);
            const long double spread = std::sqrt(cii / ref.w);
            // Means relative to their magnitude or the spread, whichever is larger.
            const double scale = static_cast<double>(std::max(std::fabs(ref.mean[i]), spread));
            EXPECT_NEAR(got.means[i], static_cast<double>(ref.mean[i]), kTol * scale) << "mean " << i;
            EXPECT_NEAR(got.stds[i], static_cast<double>(sd), kTol * static_cast<double>(sd))
                << "std " << i;
            for (int j = 0; j <= i; ++j) {
                const long double cjj = ref.cross[static_cast<size_t>(j) * (j + 1) / 2 + j];
                const long double r = ref.cross[static_cast<size_t>(i) * (i + 1) / 2 + j] /
                                      std::sqrt(cii * cjj);
                const double got_r = got.moments[static_cast<size_t>(i) * (i + 1) / 2 + j];
                EXPECT_NEAR(got_r, static_cast<double>(r), kTol) << "r(" << i << "," << j << ")";
                worst = std::max(worst, std::fabs(got_r - static_cast<double>(r)));
            }
        }
        RecordProperty("worst_correlation_error", std::to_string(worst));
    }

    // Writes the observations as data set "raw", opens it with the lists
    // defined and puts it on its one BY group.
    HostDataSet* prepare(const std::vector<Observation>& obs, int p, bool weighted) {
        write("raw", csv(obs, p));
        HostDataSet* d = open("raw");
        define(d, p, weighted, weighted);
        EXPECT_EQ(xbynext(d), 1);
        return d;
    }

    VariableListRecord lists_;
    int16_t vars_[16] = {};
    int16_t w_ = 0, f_ = 0;
};

// Correlated data: x_i = offset + scale * (z_0 + z_i) with standard normal z.
std::vector<Observation> sample(int nObs, int p, double offset, double scale, unsigned seed) {
    std::mt19937_64 gen(seed);
    std::normal_distribution<double> z;
    std::uniform_real_distribution<double> u(0.2, 3.0);
    std::vector<Observation> obs(nObs);
    for (Observation& o : obs) {
        const double common = z(gen);
        for (int i = 0; i < p; ++i) o.x.push_back(offset + scale * (common + (i + 1) * z(gen)));
        o.weight = u(gen);
        o.freq = std::floor(u(gen) * 1.5) + 0.6;  // 0.6 .. 4.6: floor gives 0 .. 4
    }
    return obs;
}

TEST_F(ZacorrTest, UnweightedMomentsAboutTheMeans) {
    const int p = 4;
    auto obs = sample(200, p, 0.0, 1.0, 1);
    for (auto& o : obs) o.weight = o.freq = 1.0;
    HostDataSet* d = prepare(obs, p, false);
    const Reference ref = reference(obs, p, false);
    check(run(d, p, 0, "DF      "), ref, p, ref.n - 1);
    check(run(d, p, 0, "N       "), ref, p, ref.n);
}

TEST_F(ZacorrTest, WeightsFrequenciesAndSkippedObservations) {
    const int p = 3;
    auto obs = sample(150, p, 0.0, 1.0, 2);
    obs[3].x[1] = std::nan("");   // a missing analysis value
    obs[7].weight = 0.0;          // weight not above 0
    obs[8].weight = -1.0;
    obs[9].weightMissing = true;  // missing weight
    obs[10].freq = 0.99;          // floor gives 0
    obs[11].freq = 2.7;           // counts twice
    HostDataSet* d = prepare(obs, p, true);
    const Reference ref = reference(obs, p, false);
    check(run(d, p, 0, "DF      "), ref, p, ref.n - 1);
    check(run(d, p, 0, "WDF     "), ref, p, ref.w - 1);
    check(run(d, p, 0, "WEIGHT  "), ref, p, ref.w);
    check(run(d, p, 0, "WGT     "), ref, p, ref.w);
}

TEST_F(ZacorrTest, MomentsAboutZero) {
    const int p = 3;
    auto obs = sample(120, p, 2.0, 1.0, 3);
    HostDataSet* d = prepare(obs, p, true);
    const Reference ref = reference(obs, p, true);
    check(run(d, p, 1, "DF      "), ref, p, ref.n);  // no degree of freedom for the location
}

TEST_F(ZacorrTest, LargeOffsetAndSmallScaleCostNoDigits) {
    const int p = 3;
    auto obs = sample(300, p, 1e6, 1e-4, 4);
    HostDataSet* d = prepare(obs, p, true);
    // The reference works from the values as the file holds them.
    HostDataSet again;
    std::string error;
    ASSERT_TRUE(velix::platform::csv_read(read("raw"), &again, &error)) << error;
    std::vector<Observation> stored = obs;
    for (size_t o = 0; o < obs.size(); ++o)
        for (int i = 0; i < p; ++i) stored[o].x[i] = again.variables[i].numbers[o];
    const Reference ref = reference(stored, p, false);
    check(run(d, p, 0, "DF      "), ref, p, ref.n - 1);
}

TEST_F(ZacorrTest, OnlyTheCurrentByGroupCounts) {
    write("g", "x1,x2,w,f,g\n1,2,1,1,1\n2,1,1,1,1\n3,5,1,1,1\n10,0,1,1,2\n30,4,1,1,2\n");
    HostDataSet* d = open("g");
    std::string error;
    ASSERT_TRUE(dataset_set_by(d, {"g"}, false, &error));
    define(d, 2, false, false);
    ASSERT_EQ(xbynext(d), 1);
    ASSERT_EQ(xbynext(d), 1);
    std::vector<Observation> second(2);
    second[0].x = {10, 0};
    second[1].x = {30, 4};
    const Reference ref = reference(second, 2, false);
    check(run(d, 2, 0, "DF      "), ref, 2, ref.n - 1);
    EXPECT_NEAR(run(d, 2, 0, "DF      ").moments[1], 1.0, kTol) << "two points correlate perfectly";
}

TEST_F(ZacorrTest, ConstantVariableAndNoUsableObservation) {
    write("c", "x1,x2,w,f\n1,5,1,1\n2,5,1,1\n4,5,1,1\n.,1,1,1\n");
    HostDataSet* d = open("c");
    define(d, 2, true, true);
    ASSERT_EQ(xbynext(d), 1);
    Result r = run(d, 2, 0, "DF      ");
    ASSERT_EQ(r.level, 0);
    EXPECT_EQ(r.n, 3.0);
    EXPECT_EQ(r.stds[1], 0.0);
    EXPECT_EQ(r.moments[1], 0.0) << "a constant variable correlates with nothing";
    EXPECT_EQ(r.moments[2], 1.0);

    write("e", "x1,x2,w,f\n1,.,1,1\n2,3,0,1\n2,3,1,0.5\n");
    HostDataSet* e = open("e");
    define(e, 2, true, true);
    ASSERT_EQ(xbynext(e), 1);
    r = run(e, 2, 0, "DF      ");
    EXPECT_EQ(r.level, 108);
    EXPECT_EQ(r.n, 0.0);
    EXPECT_EQ(r.sumWeights, 0.0);
    EXPECT_NE(log_.str().find("ERROR"), std::string::npos) << "a return code above 4 needs its cause";
}

TEST_F(ZacorrTest, CharacterOrUndefinedVariablesFail) {
    write("ch", "x1,x2,w,f\n1,a,1,1\n2,b,1,1\n");
    HostDataSet* d = open("ch");
    ASSERT_EQ(xbynext(d), 1);
    EXPECT_EQ(run(d, 2, 0, "DF      ").level, 1008) << "lists not defined";
    define(d, 2, false, false);
    EXPECT_EQ(run(d, 2, 0, "DF      ").level, 1008);
    EXPECT_NE(log_.str().find("x2"), std::string::npos);
}

// Unweighted data of more than two of the scan's blocks of 1024
// observations, every observation counting: the moments come from the sums
// of the scan, and agree with the definition as the passes do, also about
// a large offset and for data with a trend, whose first block is far from
// the mean.
TEST_F(ZacorrTest, TheScansSumsOfManyBlocksAgreeWithTheDefinition) {
    const int p = 3;
    struct Case {
        double offset, scale, trend;  // x += trend * (observation / N)
    } cases[] = {{0.0, 1.0, 0.0}, {1e6, 1e-3, 0.0}, {5.0, 1.0, 40.0}};
    for (const Case& c : cases) {
        auto obs = sample(2600, p, c.offset, c.scale, 6);
        for (size_t o = 0; o < obs.size(); ++o) {
            obs[o].weight = obs[o].freq = 1.0;
            for (double& x : obs[o].x) x += c.trend * static_cast<double>(o) / static_cast<double>(obs.size());
        }
        HostDataSet* d = prepare(obs, p, false);
        HostDataSet again;
        std::string error;
        ASSERT_TRUE(velix::platform::csv_read(read("raw"), &again, &error)) << error;
        std::vector<Observation> stored = obs;  // the values as the file holds them
        for (size_t o = 0; o < obs.size(); ++o)
            for (int i = 0; i < p; ++i) stored[o].x[i] = again.variables[i].numbers[o];
        const Reference ref = reference(stored, p, false);
        SCOPED_TRACE(testing::Message() << "offset " << c.offset << " trend " << c.trend);
        check(run(d, p, 0, "DF      "), ref, p, ref.n - 1);
    }
}

// The scan's sums and the passes over the file (weights, frequencies,
// rows left out, moments about zero, BY groups) give the very bits of the
// same data set holding its values, and of one that began to hold them
// and stopped at its limit.
TEST_F(ZacorrTest, ReadFromItsFileOrHeldADataSetGivesTheSameBits) {
    const int p = 3;
    auto obs = sample(2600, p, 3.0, 2.0, 7);
    obs[5].x[2] = std::nan("");
    std::string text = csv(obs, p);
    std::string withGroups;
    size_t o = 0;
    for (size_t begin = 0, end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1, ++o)
        withGroups += text.substr(begin, end - begin) + (o == 0 ? ",g" : o <= 1500 ? ",2" : ",1") + "\n";
    text = withGroups;  // two groups, out of order
    write("bits", text);
    struct Case {
        bool weighted;
        int32_t origin;
        bool by;
    } cases[] = {{false, 0, false}, {true, 0, false}, {false, 1, false}, {false, 0, true}, {true, 0, true}};
    for (const Case& c : cases) {
        const size_t limits[] = {0, std::numeric_limits<size_t>::max(), 4096};
        std::vector<Result> results[3];
        for (int held = 0; held < 3; ++held) {
            velix::platform::dataset_set_hold_limit(limits[held]);
            velix::platform::DataSetOptions options;
            if (c.by) options.by = {"g"};
            std::string error;
            HostDataSet* d = velix::platform::dataset_open_input("bits", false, options, &error);
            ASSERT_NE(d, nullptr) << error;
            if (c.by) {
                ASSERT_TRUE(dataset_set_by(d, {"g"}, true, &error)) << error;
            }
            define(d, p, c.weighted, c.weighted);
            while (xbynext(d)) results[held].push_back(run(d, p, c.origin, "DF      "));
        }
        velix::platform::dataset_set_hold_limit(velix::platform::kDefaultHoldLimit);
        ASSERT_EQ(results[0].size(), c.by ? 2u : 1u);
        ASSERT_EQ(results[0].size(), results[1].size());
        ASSERT_EQ(results[0].size(), results[2].size());
        const auto same = [](const std::vector<double>& a, const std::vector<double>& b) {
            return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
        };
        for (size_t g = 0; g < 2 * results[0].size(); ++g) {
            const Result& a = results[0][g / 2];
            const Result& b = results[1 + g % 2][g / 2];
            SCOPED_TRACE(testing::Message() << "weighted " << c.weighted << " origin " << c.origin << " by " << c.by
                                            << " group " << g / 2 << " limit " << limits[1 + g % 2]);
            EXPECT_EQ(a.level, 0);
            EXPECT_EQ(a.level, b.level);
            EXPECT_TRUE(same(a.moments, b.moments) && same(a.means, b.means) && same(a.stds, b.stds));
            EXPECT_TRUE(same({a.divisor, a.sumWeights, a.n}, {b.divisor, b.sumWeights, b.n}));
        }
    }
}

}  // namespace
