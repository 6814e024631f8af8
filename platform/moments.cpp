// zacorr: the host's moment accumulation over the current BY group of a raw
// data set: weighted means, cross-products about the means or about zero,
// their correlations, standard deviations under the VARDEF divisor, N and
// the sum of weights.
//
// Accuracy: the corrected two-pass algorithm (Chan, Golub and LeVeque,
// "Algorithms for computing the sample variance: analysis and
// recommendations", The American Statistician 37, 1983): a centre m close
// to the means, the sums of the products of the deviations from it and of
// the deviations r that correct it, C := sum w d d' - r r' / W and
// mean := m + r / W.  The sums use Neumaier's compensated summation
// (Higham, "Accuracy and Stability of Numerical Algorithms", 2nd ed.,
// section 4.3), so that large shifts and small scales of the data cost no
// digits.  The observations are never kept; the sums come from one of:
//
//   the scan: the data set's scan (ScanMoments) sums, for each BY group,
//           the products of the numeric variables' deviations from the
//           means of the group's first block of observations as it reads
//           them.  They serve a group when every observation counts (no
//           WEIGHT or FREQ variable, no missing analysis value), about the
//           means, and the centre is within 4 standard deviations of the
//           mean, so that r r' / W takes at most 16 times the rounding of
//           C from it: no further pass over the data.
//   two passes over the group, read again (from the values the data set
//           holds, or from its file):
//           pass 1: for each usable observation: N += f, W += w f, s += w f x;
//                   m := s / W (the scan's sums of x when they are these)
//           pass 2: d := x - m; r += w f d; C += w f d d'  (Z += w f x x' about zero)
//
//   out:    R_ij = C_ij / sqrt(C_ii C_jj); std_i = sqrt(C_ii / divisor)
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "platform/dataset.h"
#include "platform/messages.h"
#include "platform/print.h"
#include "velix/codes.h"
#include "velix/kernel_clones.h"
#include "velix/messages.h"
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
    int64_t truncated = 0;  // used, with a FREQ value that is not a whole number

    void report(const HostDataSet* data, int64_t rows) const {
        using velix::platform::format_message;
        // A frequency counts whole observations: 2.5 counts as 2, which
        // changes N and the moments without a word unless one is said.
        if (truncated > 0)
            velix::platform::write_log(format_message(kMsgHost, kMsgHostFreqTruncated, truncated, data->name.c_str()));
        const int64_t total = frequency + weight + missing;
        if (total == 0) return;
        std::string why;
        const auto reason = [&](int64_t count, int32_t message) {
            if (count == 0) return;
            why += (why.empty() ? " " : ", ") + format_message(kMsgHost, message, count);
        };
        reason(missing, kMsgHostRowsMissingValue);
        reason(weight, kMsgHostRowsBadWeight);
        reason(frequency, kMsgHostRowsBadFreq);
        const std::string by = velix::platform::dataset_by_line(data);
        velix::platform::write_log(
            by.empty() ? format_message(kMsgHost, kMsgHostRowsNotUsed, total, rows, data->name.c_str(), why.c_str())
                       : format_message(kMsgHost, kMsgHostGroupRowsNotUsed, total, rows, data->name.c_str(),
                                        by.c_str(), why.c_str()));
    }
};

// What an accumulation leaves for the finish: the centre m, the sums of
// the products of the deviations from it (packed) and of the deviations,
// N, the sum of weights, the observations of the group and those used.
struct Sums {
    std::vector<double> centre, cross, resid;
    double n = 0.0, w = 0.0;
    int64_t rows = 0, used = 0;
};

// The variables and rules of one accumulation.
struct Request {
    HostDataSet* data = nullptr;
    std::vector<int> var;  // the analysis variables' 0-based indexes
    int wv = -1, fv = -1;  // the WEIGHT and FREQ variables, -1 none
    int32_t momentOrigin = 0;

    // Whether observation x counts: *f its frequency, *wf its weight times
    // the frequency; the reason it does not goes to `skipped` when given.
    bool counts(const double* x, double* f, double* wf, SkippedRows* skipped) const {
        *f = 1.0;
        double w = 1.0;
        if (fv >= 0) *f = host_is_missing(x[fv]) ? 0.0 : std::floor(x[fv]);
        if (wv >= 0) w = host_is_missing(x[wv]) ? 0.0 : x[wv];
        if (!(*f > 0.0)) {
            if (skipped) ++skipped->frequency;
            return false;
        }
        if (!(w > 0.0)) {
            if (skipped) ++skipped->weight;
            return false;
        }
        for (int v : var)
            if (host_is_missing(x[v])) {
                if (skipped) ++skipped->missing;
                return false;
            }
        *wf = w * *f;
        if (skipped && fv >= 0 && *f != x[fv]) ++skipped->truncated;
        return true;
    }
};

// The scan's sums of the group the data set is on; null when there are none.
const velix::platform::ScanMoments* scanned_group(const HostDataSet* data) {
    const velix::platform::ScanGroups* g = data->scanned.get();
    if (g == nullptr || !velix::platform::dataset_on_group(data) || g->byVariables != data->byVariables ||
        data->group >= static_cast<int64_t>(g->groups.size()))
        return nullptr;
    return &g->groups[static_cast<size_t>(data->group)];
}

// The places of the analysis variables in the scan's sums of group sm,
// when every observation of the group counts (no WEIGHT or FREQ variable,
// no missing analysis value); false otherwise.
bool scanned_places(const Request& q, const velix::platform::ScanMoments* sm, std::vector<int>* at) {
    if (sm == nullptr || q.wv >= 0 || q.fv >= 0) return false;
    at->resize(q.var.size());
    for (size_t i = 0; i < q.var.size(); ++i) {
        (*at)[i] = q.data->scanned->place[q.var[i]];
        if ((*at)[i] < 0 || std::isnan(sm->sum[(*at)[i]])) return false;  // not summed, or a value missing
    }
    return true;
}

// The sums of the data set's scan, when they serve the request (the
// header says when); false otherwise.
bool from_scan(const Request& q, Sums* s) {
    const velix::platform::ScanMoments* sm = scanned_group(q.data);
    std::vector<int> at;
    if (q.momentOrigin != 0 || !scanned_places(q, sm, &at) || sm->crossSum.empty() || sm->rows == 0) return false;
    const int n = static_cast<int>(q.var.size());
    const double w = static_cast<double>(sm->rows);
    s->centre.resize(n);
    s->resid.resize(n);
    s->cross.resize(static_cast<size_t>(n) * (n + 1) / 2);
    for (int i = 0; i < n; ++i) {
        s->centre[i] = sm->centre[at[i]];
        s->resid[i] = sm->residSum[at[i]] + sm->residCarry[at[i]];
        for (int j = 0; j <= i; ++j) {
            const size_t p = velix::pk(std::max(at[i], at[j]), std::min(at[i], at[j]));
            s->cross[velix::pk(i, j)] = sm->crossSum[p] + sm->crossCarry[p];
        }
        const double r = s->resid[i];
        if (!(r * r <= 16.0 * w * (s->cross[velix::pk(i, i)] - r * r / w))) return false;
    }
    s->n = s->w = w;
    s->rows = s->used = sm->rows;
    return true;
}

// Pass 1: the usable observations, N, the sum of weights and the means as
// the centre.  When every observation of the group counts, its sums of
// 1 x 1 x, in order, are the scan's sums of x: the pass is done already.
void first_pass(const Request& q, Sums* s, SkippedRows* skipped) {
    HostDataSet* data = q.data;
    const int n = static_cast<int>(q.var.size());
    s->centre.assign(n, 0.0);
    if (!velix::platform::dataset_on_group(data)) return;
    const velix::platform::ScanMoments* sm = scanned_group(data);
    std::vector<int> at;
    if (scanned_places(q, sm, &at)) {
        s->rows = s->used = sm->rows;
        s->n = s->w = static_cast<double>(sm->rows);
        for (int i = 0; i < n; ++i) s->centre[i] = sm->sum[at[i]];
    } else {
        velix::platform::dataset_rewind_group(data);
        while (velix::platform::dataset_next_row(data)) {
            ++s->rows;
            const double* x = velix::platform::dataset_numbers(data);
            double f = 0.0, wf = 0.0;
            if (!q.counts(x, &f, &wf, skipped)) continue;
            ++s->used;
            s->n += f;
            s->w += wf;
            for (int i = 0; i < n; ++i) s->centre[i] += wf * x[q.var[i]];
        }
    }
    if (s->w > 0.0)
        for (int i = 0; i < n; ++i) s->centre[i] /= s->w;
}

// Pass 2: the centred (or raw) cross-products and the deviations' sums,
// kBatch observations to a pass over the sums.
void second_pass(const Request& q, Sums* s) {
    HostDataSet* data = q.data;
    const int n = static_cast<int>(q.var.size());
    const bool centred = q.momentOrigin == 0;
    const size_t packed = static_cast<size_t>(n) * (n + 1) / 2;
    std::vector<double> crossSum(packed, 0.0), crossCarry(packed, 0.0);
    std::vector<CompensatedSum> resid(n);
    std::vector<double> d(static_cast<size_t>(n) * kBatch);
    double weight[kBatch];
    int batch = 0;
    velix::platform::dataset_rewind_group(data);
    for (bool more = true; more;) {
        more = velix::platform::dataset_next_row(data);
        if (more) {
            const double* x = velix::platform::dataset_numbers(data);
            double f = 0.0, wf = 0.0;
            if (!q.counts(x, &f, &wf, nullptr)) continue;
            double* db = d.data() + static_cast<size_t>(batch) * n;
            weight[batch] = wf;
            for (int i = 0; i < n; ++i) {
                const double xi = x[q.var[i]];
                db[i] = centred ? xi - s->centre[i] : xi;
                if (centred) resid[i].add(wf * db[i]);
            }
            if (++batch < kBatch) continue;
            add_products<kBatch>(n, weight, d.data(), crossSum.data(), crossCarry.data());
        } else {
            for (int b = 0; b < batch; ++b)
                add_products<1>(n, weight + b, d.data() + static_cast<size_t>(b) * n, crossSum.data(),
                                crossCarry.data());
        }
        batch = 0;
    }
    s->cross.resize(packed);
    for (size_t p = 0; p < packed; ++p) s->cross[p] = crossSum[p] + crossCarry[p];
    s->resid.resize(n);
    for (int i = 0; i < n; ++i) s->resid[i] = centred ? resid[i].value() : 0.0;
}

// The variable (0-based, of the data set) whose values are too large for
// the sums, so that its mean or a sum of products went beyond the range of
// doubles: of a product of two, the one of the larger values; -1 when
// every sum is finite.
int overflowing_variable(const Request& q, const Sums& s) {
    const int n = static_cast<int>(s.centre.size());
    for (int i = 0; i < n; ++i)
        if (!std::isfinite(s.centre[i]) || !std::isfinite(s.cross[velix::pk(i, i)])) return q.var[i];
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < i; ++j)
            if (!std::isfinite(s.cross[velix::pk(i, j)]))
                return q.var[s.cross[velix::pk(i, i)] >= s.cross[velix::pk(j, j)] ? i : j];
    return -1;
}

// The moments from the sums: C := C - r r' / W and mean := m + r / W about
// the means, then the standard deviations and the correlations.
void finish(Sums* s, int32_t momentOrigin, const char* vardefKind, double* moments, double* means,
            double* stdDevs, double* divisor) {
    const int n = static_cast<int>(s->centre.size());
    std::vector<double>& c = s->cross;
    if (momentOrigin == 0) {
        const std::vector<double>& r = s->resid;
        size_t p = 0;
        for (int i = 0; i < n; ++i)
            for (int j = 0; j <= i; ++j) c[p++] -= r[i] * r[j] / s->w;
        for (int i = 0; i < n; ++i) s->centre[i] += r[i] / s->w;
    }
    vardef_divisor(vardefKind, s->n, momentOrigin == 0 ? 1.0 : 0.0, s->w, divisor);
    std::vector<double> root(n);
    for (int i = 0; i < n; ++i) {
        const double cii = c[velix::pk(i, i)];
        root[i] = cii > 0.0 ? std::sqrt(cii) : 0.0;
        means[i] = s->centre[i];
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
}

// The request of a zacorr call from the variable lists of `data`; a
// level above 0 (with its message in the log) when they do not make one.
int32_t make_request(HostDataSet* data, int32_t readList, int32_t weightList, int32_t freqList,
                     int32_t momentOrigin, const char* vardefKind, Request* q) {
    if (!data || !data->listsDefined || readList < 0 || readList >= kHostListCount) {
        velix::platform::write_log(velix::platform::format_message(
            kMsgHost, kMsgHostInternalError, "zacorr without a data set or its variable lists."));
        return kLevelBadVariables;
    }
    q->data = data;
    q->momentOrigin = momentOrigin;
    const VariableListRecord* lists = &data->lists;
    const VariableList& read = lists->entry[readList];
    q->var.resize(std::max<int16_t>(read.count, 0));
    for (size_t i = 0; i < q->var.size(); ++i) {
        const int number = read.numbers ? read.numbers[i] : 0;
        if (number < 1 || number > static_cast<int>(data->variables.size())) {
            velix::platform::write_log(
                velix::platform::format_message(kMsgHost, kMsgHostVariableNotInDataSet, data->name.c_str()));
            return kLevelBadVariables;
        }
        const DataSetVariable& v = data->variables[number - 1];
        if (v.character) {
            velix::platform::write_log(
                v.madeCharacter.empty()
                    ? velix::platform::format_message(kMsgHost, kMsgHostVariableCharacter, v.name.c_str(),
                                                      data->name.c_str())
                    : velix::platform::format_message(kMsgHost, kMsgHostVariableMadeCharacter, v.name.c_str(),
                                                      data->name.c_str(), v.madeCharacter.c_str()));
            return kLevelBadVariables;
        }
        q->var[i] = number - 1;
    }
    q->wv = list_variable(data, lists, weightList);
    q->fv = list_variable(data, lists, freqList);
    if (q->wv == -2 || q->fv == -2) {
        velix::platform::write_log(
            velix::platform::format_message(kMsgHost, kMsgHostWeightFreqNotNumeric, data->name.c_str()));
        return kLevelBadVariables;
    }
    double probe;
    if (!vardef_divisor(vardefKind, 0.0, 0.0, 0.0, &probe)) {
        velix::platform::write_log(
            velix::platform::format_message(kMsgHost, kMsgHostInternalError, "impossible VARDEF kind."));
        return kLevelBadVariables;
    }
    return 0;
}

}  // namespace

namespace velix::platform {

ScanMoments::ScanMoments(size_t n, bool products) : sum(n, 0.0), n_(n) {
    if (!products) return;
    centre.assign(n, 0.0);
    crossSum.assign(n * (n + 1) / 2, 0.0);
    crossCarry.assign(n * (n + 1) / 2, 0.0);
    residSum.assign(n, 0.0);
    residCarry.assign(n, 0.0);
}

void ScanMoments::add(const std::vector<int>& variables, const double* numbers) {
    for (size_t p = 0; p < n_; ++p) sum[p] += numbers[variables[p]];
    ++rows;
    if (crossSum.empty()) return;
    if (block_.size() < (blockRows_ + 1) * n_) block_.resize(std::max(2 * block_.size(), (blockRows_ + 1) * n_));
    double* row = block_.data() + blockRows_ * n_;
    for (size_t p = 0; p < n_; ++p) row[p] = numbers[variables[p]];
    if (++blockRows_ == kBlockRows) flush();
}

size_t ScanMoments::finish() {
    flush();
    std::vector<double>().swap(block_);
    return sizeof *this + sizeof(double) * (sum.size() + centre.size() + crossSum.size() + crossCarry.size() +
                                            residSum.size() + residCarry.size());
}

void ScanMoments::flush() {
    //   the first block: its means are the centre
    //   each observation: d := x - centre; r += d; C += d d', four at a time
    const int n = static_cast<int>(n_);
    if (blockRows_ == 0) return;
    if (!centred_) {
        for (int p = 0; p < n; ++p) {
            double s = 0.0;
            for (size_t b = 0; b < blockRows_; ++b) s += block_[b * n + p];
            centre[p] = s / static_cast<double>(blockRows_);
        }
        centred_ = true;
    }
    const double ones[kBatch] = {1.0, 1.0, 1.0, 1.0};
    for (size_t b = 0; b < blockRows_; ++b) {
        double* d = block_.data() + b * n;
        for (int p = 0; p < n; ++p) {
            d[p] -= centre[p];
            CompensatedSum r{residSum[p], residCarry[p]};
            r.add(d[p]);
            residSum[p] = r.sum;
            residCarry[p] = r.carry;
        }
    }
    size_t b = 0;
    for (; b + kBatch <= blockRows_; b += kBatch)
        add_products<kBatch>(n, ones, block_.data() + b * n, crossSum.data(), crossCarry.data());
    for (; b < blockRows_; ++b) add_products<1>(n, ones, block_.data() + b * n, crossSum.data(), crossCarry.data());
    blockRows_ = 0;
}

}  // namespace velix::platform

int32_t zacorr(HostDataSet* data, const StatementNode* /*stmtList*/, int32_t readList,
               int32_t weightList, int32_t freqList, int32_t momentOrigin, double* moments,
               double* means, double* stdDevs, double* /*work*/, const char* vardefKind,
               double* divisor, double* sumWeights, double* nObs) {
    Request q;
    const int32_t level = make_request(data, readList, weightList, freqList, momentOrigin, vardefKind, &q);
    if (level != 0) return level;
    Sums s;
    SkippedRows skipped;
    const bool scanned = from_scan(q, &s);
    if (!scanned) first_pass(q, &s, &skipped);
    *nObs = s.n;
    *sumWeights = s.w;
    skipped.report(data, s.rows);
    if (s.used == 0 || !(s.w > 0.0)) {
        vardef_divisor(vardefKind, s.n, momentOrigin == 0 ? 1.0 : 0.0, s.w, divisor);
        // Without WEIGHT or FREQ only missing values can leave every row out
        // (the BY line before it names the group).
        const bool weighted = q.wv >= 0 || q.fv >= 0;
        velix::platform::write_log(velix::platform::format_message(
            kMsgHost, weighted ? kMsgHostNoUsableObservation : kMsgHostNoCompleteObservation, data->name.c_str()));
        return kLevelNoMoments;
    }
    if (!scanned) second_pass(q, &s);
    if (const int v = overflowing_variable(q, s); v >= 0) {
        velix::platform::write_log(velix::platform::format_message(
            kMsgHost, kMsgHostMomentsOverflow, data->variables[v].name.c_str(), data->name.c_str()));
        return kLevelNoMoments;
    }
    finish(&s, momentOrigin, vardefKind, moments, means, stdDevs, divisor);
    return 0;
}
