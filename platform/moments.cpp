// zacorr: the host's moment accumulation over the current BY group of a raw
// data set: weighted means, cross-products about the means or about zero,
// their correlations, standard deviations under the VARDEF divisor, N and
// the sum of weights.
//
// Accuracy: the corrected two-pass algorithm (Chan, Golub and LeVeque,
// "Algorithms for computing the sample variance: analysis and
// recommendations", The American Statistician 37, 1983): a first pass gives
// the weighted means, a second pass sums the centred products and the
// residual sums that correct the means for the rounding of the first pass.
// The second-pass sums use Neumaier's compensated summation (Higham,
// "Accuracy and Stability of Numerical Algorithms", 2nd ed., section 4.3),
// so that large shifts and small scales of the data cost no digits.
//
//   pass 1: for each usable observation o: N += f, W += w f, s += w f x
//           mean := s / W
//   pass 2: d := x - mean; r += w f d; C += w f d d'  (Z += w f x x' about zero)
//           mean += r / W; C -= r r' / W
//   out:    R_ij = C_ij / sqrt(C_ii C_jj); std_i = sqrt(C_ii / divisor)
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "platform/dataset.h"
#include "platform/print.h"
#include "velix/codes.h"
#include "velix/kernel_clones.h"
#include "velix/packed_index.h"
#include "velix/vardef.h"

using velix::platform::DataSetVariable;
using velix::vardef_divisor;

namespace {


// Neumaier's compensated sum.
struct CompensatedSum {
    double sum = 0.0;
    double carry = 0.0;
    void add(double x) {
        double t = sum + x;
        carry += std::fabs(sum) >= std::fabs(x) ? (sum - t) + x : (x - t) + sum;
        sum = t;
    }
    double value() const { return sum + carry; }
};

// Observations whose products one pass over the sums adds: each sum is
// loaded once for them, and their products are added in their order.
constexpr int kBatch = 4;

// Adds the products w_b d_b(i) d_b(j) of the M observations b (d_b at
// d + b n) to the packed sums, by Neumaier's rule as CompensatedSum::add
// does, each element's sum and carry apart so that the elements run in
// SIMD lanes.  The file is compiled without contracting a product and a
// sum into one rounding, so that every instruction set adds the same bits.
template <int M>
VELIX_KERNEL_CLONES void add_products(int n, const double* w, const double* d, double* __restrict sum,
                                      double* __restrict carry) {
    size_t p = 0;  // the first element of row i
    for (int i = 0; i < n; p += static_cast<size_t>(i) + 1, ++i) {
        double wd[M];
        for (int b = 0; b < M; ++b) wd[b] = w[b] * d[static_cast<size_t>(b) * n + i];
        double* __restrict s = sum + p;
        double* __restrict c = carry + p;
        for (int j = 0; j <= i; ++j) {
            double sj = s[j], cj = c[j];
            for (int b = 0; b < M; ++b) {
                const double x = wd[b] * d[static_cast<size_t>(b) * n + j];
                const double t = sj + x;
                cj += std::fabs(sj) >= std::fabs(x) ? (sj - t) + x : (x - t) + sj;
                sj = t;
            }
            s[j] = sj;
            c[j] = cj;
        }
    }
}

// The 0-based index of the first variable of list `entry`, -1 when empty;
// -2 when it names no numeric variable of the data set.
int list_variable(const HostDataSet* data, const VariableListRecord* lists, int32_t entry) {
    if (entry < 0 || entry >= kHostListCount) return -1;
    const VariableList& l = lists->entry[entry];
    if (l.count < 1 || !l.numbers) return -1;
    const int number = l.numbers[0];
    if (number < 1 || number > static_cast<int>(data->variables.size())) return -2;
    return data->variables[number - 1].character ? -2 : number - 1;
}

// The observations of a group that the moments leave out, by reason; a
// NOTE says how many and why, so that an N below the data set's row count
// is explained.
struct SkippedRows {
    int64_t frequency = 0;  // FREQ value missing or below 1
    int64_t weight = 0;     // WEIGHT value missing or not positive
    int64_t missing = 0;    // a missing value of an analysis variable

    void report(const HostDataSet* data, int64_t rows) const {
        const int64_t total = frequency + weight + missing;
        if (total == 0) return;
        std::string why;
        const auto reason = [&](int64_t count, const char* text) {
            if (count == 0) return;
            why += (why.empty() ? " " : ", ") + std::to_string(count) + text;
        };
        reason(missing, " with a missing value of an analysis variable");
        reason(weight, " with a WEIGHT value that is missing or not positive");
        reason(frequency, " with a FREQ value that is missing or below 1");
        const std::string by = velix::platform::dataset_by_line(data);
        velix::platform::write_log("NOTE: " + std::to_string(total) + " of the " + std::to_string(rows) +
                                   " observations of data set " + data->name +
                                   (by.empty() ? "" : " in the BY group " + by) + " were not used:" + why + ".");
    }
};

}  // namespace

int32_t zacorr(HostDataSet* data, const StatementNode* /*stmtList*/, int32_t readList,
               int32_t weightList, int32_t freqList, int32_t momentOrigin, double* moments,
               double* means, double* stdDevs, double* /*work*/, const char* vardefKind,
               double* divisor, double* sumWeights, double* nObs) {
    if (!data || !data->listsDefined || readList < 0 || readList >= kHostListCount) {
        velix::platform::write_log("ERROR: internal error: zacorr without a data set or its variable lists.");
        return kLevelBadVariables;
    }
    const VariableListRecord* lists = &data->lists;
    const VariableList& read = lists->entry[readList];
    const int n = read.count;
    std::vector<const double*> col(n);
    for (int i = 0; i < n; ++i) {
        const int number = read.numbers ? read.numbers[i] : 0;
        if (number < 1 || number > static_cast<int>(data->variables.size())) {
            velix::platform::write_log("ERROR: An analysis variable is not in data set " + data->name + ".");
            return kLevelBadVariables;
        }
        const DataSetVariable& v = data->variables[number - 1];
        if (v.character) {
            velix::platform::write_log("ERROR: Analysis variable " + v.name + " of data set " + data->name +
                     " is character; it must be numeric.");
            return kLevelBadVariables;
        }
        col[i] = v.numbers.data();
    }
    const int wv = list_variable(data, lists, weightList);
    const int fv = list_variable(data, lists, freqList);
    if (wv == -2 || fv == -2) {
        velix::platform::write_log("ERROR: The WEIGHT or FREQ variable of data set " + data->name +
                 " must be a numeric variable of the data set.");
        return kLevelBadVariables;
    }
    double probe;
    if (!vardef_divisor(vardefKind, 0.0, 0.0, 0.0, &probe)) {
        velix::platform::write_log("ERROR: internal error: impossible VARDEF kind.");
        return kLevelBadVariables;
    }

    const int64_t groups = static_cast<int64_t>(data->groupStart.size()) - 1;
    int64_t first = 0, last = 0;
    if (!data->noGroup && data->group >= 0 && data->group < groups) {
        first = data->groupStart[data->group];
        last = data->groupStart[data->group + 1];
    }

    // Pass 1: usable observations, N, the sum of weights and the means.
    struct Used {
        int64_t obs;
        double weight;  // weight times frequency
    };
    std::vector<Used> used;
    double nSum = 0.0, wSum = 0.0;
    std::vector<double> sum(n, 0.0);
    SkippedRows skipped;
    for (int64_t o = first; o < last; ++o) {
        double f = 1.0, w = 1.0;
        if (fv >= 0) {
            const double x = data->variables[fv].numbers[o];
            f = host_is_missing(x) ? 0.0 : std::floor(x);
        }
        if (wv >= 0) {
            w = data->variables[wv].numbers[o];
            if (host_is_missing(w)) w = 0.0;
        }
        if (!(f > 0.0)) {
            ++skipped.frequency;
            continue;
        }
        if (!(w > 0.0)) {
            ++skipped.weight;
            continue;
        }
        bool complete = true;
        for (int i = 0; i < n && complete; ++i) complete = !host_is_missing(col[i][o]);
        if (!complete) {
            ++skipped.missing;
            continue;
        }
        const double wf = w * f;
        used.push_back({o, wf});
        nSum += f;
        wSum += wf;
        for (int i = 0; i < n; ++i) sum[i] += wf * col[i][o];
    }
    *nObs = nSum;
    *sumWeights = wSum;
    skipped.report(data, last - first);
    if (used.empty() || !(wSum > 0.0)) {
        vardef_divisor(vardefKind, nSum, momentOrigin == 0 ? 1.0 : 0.0, wSum, divisor);
        velix::platform::write_log("ERROR: No observation of data set " + data->name +
                 " in this BY group has every analysis value with a positive weight and frequency.");
        return kLevelNoMoments;
    }
    std::vector<double> mean(n);
    for (int i = 0; i < n; ++i) mean[i] = sum[i] / wSum;

    // Pass 2: centred (or raw) cross-products with the mean corrections,
    // kBatch observations to a pass over the sums.
    const size_t packed = static_cast<size_t>(n) * (n + 1) / 2;
    std::vector<double> crossSum(packed, 0.0), crossCarry(packed, 0.0);
    std::vector<CompensatedSum> resid(n);
    std::vector<double> d(static_cast<size_t>(n) * kBatch);
    double weight[kBatch];
    for (size_t u0 = 0; u0 < used.size(); u0 += kBatch) {
        const int batch = static_cast<int>(std::min<size_t>(kBatch, used.size() - u0));
        for (int b = 0; b < batch; ++b) {
            const Used& u = used[u0 + b];
            double* db = d.data() + static_cast<size_t>(b) * n;
            weight[b] = u.weight;
            for (int i = 0; i < n; ++i) {
                const double x = col[i][u.obs];
                db[i] = momentOrigin == 0 ? x - mean[i] : x;
                if (momentOrigin == 0) resid[i].add(u.weight * db[i]);
            }
        }
        if (batch == kBatch)
            add_products<kBatch>(n, weight, d.data(), crossSum.data(), crossCarry.data());
        else
            for (int b = 0; b < batch; ++b)
                add_products<1>(n, weight + b, d.data() + static_cast<size_t>(b) * n, crossSum.data(),
                                crossCarry.data());
    }
    std::vector<double> c(packed);
    for (size_t p = 0; p < packed; ++p) c[p] = crossSum[p] + crossCarry[p];
    if (momentOrigin == 0) {
        std::vector<double> r(n);
        for (int i = 0; i < n; ++i) r[i] = resid[i].value();
        size_t p = 0;
        for (int i = 0; i < n; ++i)
            for (int j = 0; j <= i; ++j) c[p++] -= r[i] * r[j] / wSum;
        for (int i = 0; i < n; ++i) mean[i] += r[i] / wSum;
    }

    vardef_divisor(vardefKind, nSum, momentOrigin == 0 ? 1.0 : 0.0, wSum, divisor);
    std::vector<double> root(n);
    for (int i = 0; i < n; ++i) {
        const double cii = c[velix::pk(i, i)];
        root[i] = cii > 0.0 ? std::sqrt(cii) : 0.0;
        means[i] = mean[i];
        stdDevs[i] = *divisor > 0.0 && cii > 0.0 ? std::sqrt(cii / *divisor) : 0.0;
    }
    size_t p = 0;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j <= i; ++j, ++p) {
            if (i == j)
                moments[p] = 1.0;
            else if (root[i] > 0.0 && root[j] > 0.0)
                moments[p] = c[p] / root[i] / root[j];
            else
                moments[p] = 0.0;  // a constant variable correlates with nothing
        }
    }
    return 0;
}
