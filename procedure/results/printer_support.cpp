// What the model-kind printers share (see printer_support.h).
#include "procedure/results/printer_support.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "host/object_dispatch.h"
#include "host/output_table.h"
#include "procedure/results/results_view.h"
#include "velix/codes.h"
#include "velix/messages.h"
#include "velix/packed_index.h"

namespace velix::detail {

HostObject* open_results_group(const ResultsView& rv, int32_t index, const char* name, int32_t label) {
    if (rv.output->kyrGroups[index] == nullptr)
        rv.output->kyrGroups[index] = open_output_group(rv.output->kyrManager, name, kyrmsg(kMsgProc, label));
    return rv.output->kyrGroups[index];
}

void close_estimation_group(const ResultsView& rv) {
    close_output_group(rv.output->kyrGroups[kGroupEstimationResults]);
    rv.output->kyrGroups[kGroupEstimationResults] = nullptr;
}

void print_parameter_vectors(const ResultsView& rv, int32_t mode, const ResultSwitches& sw) {
    if (!sw.printParmVectors) return;
    if (mode == 1) cosvout(rv.ctx, kVectorEstimates);
    if (mode == 2)
        for (int32_t kind : {kVectorEstimates, kVectorStdErrs, kVectorTValues, kVectorGradient}) cosvout(rv.ctx, kind);
}

void implied_covariance(const double* t, const double* s, size_t n, size_t k, double* ts, double* cov) {
    std::fill(ts, ts + n * k, 0.0);
    for (size_t i = 0; i < n; ++i)
        for (size_t a = 0; a < k; ++a) {
            const double tia = t[i * k + a];
            if (tia == 0.0) continue;
            for (size_t b = 0; b < k; ++b) ts[i * k + b] += tia * s[a * k + b];
        }
    // A zero of T adds a zero to a sum, which leaves it as it is while TS
    // is finite: then each row j of T takes part only at its nonzeros (a
    // loading and an error term for an indicator), in their order.
    const bool finite = std::all_of(ts, ts + n * k, [](double x) { return std::isfinite(x); });
    std::vector<size_t> nonzero, start(n + 1, 0);
    for (size_t j = 0; j < n; ++j) {
        for (size_t a = 0; a < k; ++a)
            if (!finite || t[j * k + a] != 0.0) nonzero.push_back(a);
        start[j + 1] = nonzero.size();
    }
    for (size_t i = 0; i < n; ++i)
        for (size_t j = 0; j <= i; ++j) {
            double sum = 0.0;
            for (size_t e = start[j]; e < start[j + 1]; ++e) sum += ts[i * k + nonzero[e]] * t[j * k + nonzero[e]];
            cov[velix::pk_lower(static_cast<int32_t>(i), static_cast<int32_t>(j))] = sum;
        }
}

MomentsAboutZero::MomentsAboutZero(const ResultsView& rv, int32_t matrix, int32_t j) : rv_(rv) {
    if (j < 0) return;
    withJ_.assign(static_cast<size_t>(rv.model->rows[matrix]), 0.0);
    const int32_t first = rv.model->firstElement[matrix], count = rv.model->elementCount[matrix];
    for (int32_t e = first; e < first + count; ++e) {
        const int32_t r = rv.elements->row[e], c = rv.elements->column[e];
        const double v = rv.elements->value[e];
        if (host_is_missing(v)) continue;
        if (r == j && c == j)
            c_ = v;
        else if (r == j || c == j)
            withJ_[static_cast<size_t>(r == j ? c : r)] = v;
    }
    if (c_ > 0.0) j_ = j;
}

bool MomentsAboutZero::constant_own(int32_t e) const {
    return j_ >= 0 && rv_.elements->row[e] == j_ && rv_.elements->column[e] == j_;
}

double MomentsAboutZero::shown(int32_t e) const {
    const int32_t r = rv_.elements->row[e], c = rv_.elements->column[e];
    const double v = rv_.elements->value[e];
    if (j_ < 0 || rv_.elements->parameter[e] != 0 || host_is_missing(v)) return v;
    if (r == j_ || c == j_) return v / c_;
    return v - withJ_[static_cast<size_t>(r)] * withJ_[static_cast<size_t>(c)] / c_;
}

bool MomentsAboutZero::about_zero(int32_t e) const {
    const int32_t r = rv_.elements->row[e], c = rv_.elements->column[e];
    return j_ >= 0 && rv_.elements->parameter[e] != 0 && r != j_ && c != j_ &&
           withJ_[static_cast<size_t>(r)] != 0.0 && withJ_[static_cast<size_t>(c)] != 0.0;
}

bool about_zero_note(HostObject* manager, const std::vector<std::string>& names) {
    if (names.empty()) return true;
    std::string list;
    for (const std::string& n : names) list += (list.empty() ? "" : " ") + n;
    return !kyr_failed(kyr_note(manager, kyrmsgs(kMsgProc, kMsgParametersAboutZero, list.c_str()), 'l'));
}

}  // namespace velix::detail
