// cosfout: the OUTSTAT= rows (the input statistics and the analysed moment
// matrix of a BY group, a data set of TYPE CORR, COV, UCORR, UCOV or
// SYMATRIX) and the OUTWGT= rows (the weight matrix, TYPE WEIGHT), in the
// row layouts that the moment readers and the INWGT= readers take back.
//
//   mode 1: MEAN, STD or USTD, SKEWNESS, KURTOSIS, N, SUMWGT, then one row
//           per variable of the moment matrix
//   mode 0: matrix form (GLS, DWLS) one row per variable; WLS form one row
//           per (i, j, k), holding the weights between moment (i, j) and
//           the moments (k, l) up to it, in storage order
#include <algorithm>
#include <cstring>
#include <vector>

#include "host/host_support.h"
#include "procedure/data/data.h"
#include "procedure/data/data_view.h"
#include "velix/packed_index.h"

namespace {

void set_type(const DataView& dv, const char* type) {
    std::memset(dv.dataSets->outRow.type, ' ', 8);
    std::memcpy(dv.dataSets->outRow.type, type, std::strlen(type));
}

void set_name(NameRecord* target, const NameRecord* source) {
    std::memset(target->text, ' ', sizeof target->text);
    if (source == nullptr) {
        target->length = 8;
        return;
    }
    target->length = source->length;
    std::memcpy(target->text, source->text, static_cast<size_t>(std::clamp<int16_t>(source->length, 0, 32)));
}

// Row i of a PackedSym matrix of order n into out[n].
void full_row(const double* a, int32_t n, int32_t i, double* out) {
    for (int32_t j = 0; j < n; ++j)
        out[j] = a[velix::pk(i, j)];
}

// The name of moment-matrix variable i (the intercept slot is "Intercept").
NameRecord variable_name(const DataView& dv, int32_t i) {
    NameRecord r;
    if (i < dv.sizes->nVar) return dv.input->manifestNames[i];
    std::memset(r.text, ' ', sizeof r.text);
    std::memcpy(r.text, "Intercept", 9);
    r.length = 9;
    return r;
}

// One row per variable of the PackedSym matrix a of order n, named by the
// variable, its first nv values in v[nv]: only the DATA= variables have a
// variable to receive a value.
void matrix_rows(const DataView& dv, int32_t role, const double* a, int32_t n, int32_t nv, double* v) {
    std::vector<double> row(n);
    for (int32_t i = 0; i < n; ++i) {
        const NameRecord name = variable_name(dv, i);
        set_name(&dv.dataSets->outRow.name, &name);
        full_row(a, n, i, row.data());
        std::copy(row.begin(), row.begin() + nv, v);
        cos_write_row(dv.ctx, role);
    }
}

}  // namespace

void cosfout(ProcContext* ctx, int32_t mode) {
    const DataView dv = data_view(ctx);
    const int32_t n = dv.sizes->nManifest;
    const int32_t nv = dv.sizes->nVar;
    double* v = dv.cells->rowValues;
    set_name(&dv.dataSets->outRow.name, nullptr);
    const int32_t role = mode == 1 ? kRoleOutstat : kRoleOutwgt;
    if (mode == 1) {
        auto stat_row = [&](const char* type, const double* values) {
            set_type(dv, type);
            std::copy(values, values + nv, v);
            cos_write_row(dv.ctx, role);
        };
        stat_row("MEAN", dv.moments->means);
        if (!dv.options->covAnalysis)
            stat_row(dv.moments->momentOrigin == 0 ? "STD" : "USTD", dv.moments->stdDevs);
        if (dv.input->rawData && dv.options->kurtosisWanted) {
            stat_row("SKEWNESS", dv.moments->skewness);
            stat_row("KURTOSIS", dv.moments->uniKurtosis);
        }
        set_type(dv, "N");
        std::fill(v, v + nv, dv.moments->nObs);
        cos_write_row(dv.ctx, role);
        if (dv.moments->sumWeights != dv.moments->nObs) {
            set_type(dv, "SUMWGT");
            std::fill(v, v + nv, dv.moments->sumWeights);
            cos_write_row(dv.ctx, role);
        }
        set_type(dv, velix::detail::outstat_matrix_type(dv.ctx));
        matrix_rows(dv, role, dv.arrays->momentMatrix, n, nv, v);
        return;
    }

    const int32_t method = dv.methods->methodRequested;
    set_type(dv, "WEIGHT");
    if (method == kMethodGls || method == kMethodUlsGls || method == kMethodDwls ||
        method == kMethodUlsDwls) {
        matrix_rows(dv, role, dv.arrays->weightMatrix, n, nv, v);
    } else if (method == kMethodWls || method == kMethodUlsWls) {
        int64_t q = 0;
        for (int32_t i = 0; i < n; ++i) {
            for (int32_t j = 0; j <= i; ++j) {
                for (int32_t k = 0; k <= i; ++k) {
                    const NameRecord ni = variable_name(dv, i), nj = variable_name(dv, j),
                                     nk = variable_name(dv, k);
                    set_name(&dv.dataSets->outRow.name, &ni);
                    set_name(&dv.dataSets->outRow.name2, &nj);
                    set_name(&dv.dataSets->outRow.name3, &nk);
                    vzfdl(host_missing_value(), v, nv);
                    const int32_t last = k < i ? k : j;
                    for (int32_t l = 0; l <= last; ++l, ++q)
                        if (l < nv) v[l] = dv.arrays->weightMatrix[q];
                    cos_write_row(dv.ctx, role);
                }
            }
        }
    }
}
