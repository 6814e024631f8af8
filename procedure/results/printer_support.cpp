// What the model-kind printers share (see printer_support.h).
#include "procedure/results/printer_support.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "host/output_table.h"
#include "procedure/results/results_view.h"
#include "velix/codes.h"
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

}  // namespace velix::detail
