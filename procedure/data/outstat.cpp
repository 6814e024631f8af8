// cosfout: the OUTSTAT= rows (the input statistics and the analysed moment
// matrix of a BY group, a data set of TYPE CORR, COV, UCORR, UCOV or
// SYMATRIX) and the OUTWGT= rows (the weight matrix, TYPE WEIGHT), in the
// row layouts that the moment readers and the INWGT= readers take back.
//
//   mode 1: MEAN, STD or USTD, SKEWNESS, KURTOSIS, N, SUMWGT, then one row
//           per variable of the moment matrix (of a run with means, the
//           moments about the means of the DATA= variables, see below);
//           no MEAN row for moments that came without means, no N row
//           for an N that no data, NOBS= or EDF= gave
//   mode 0: matrix form (GLS, DWLS) one row per variable; WLS form one row
//           per (i, j, k), holding the weights between moment (i, j) and
//           the moments (k, l) up to it, in storage order; an AUGMENT
//           run's intercept has its row and its column
#include <algorithm>
#include <cmath>
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
// variable, its first nv values in v[nv]: the values that the data set
// has variables for (OUTSTAT= the DATA= variables, OUTWGT= also the
// intercept).
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

// The moments of an AUGMENT run in the form that reads back.  The
// augmented moments about zero M (the intercept I last) cannot be written
// as they are: COV rows are read as moments about the means, and the
// intercept's row has no variable to hold its last value.  Their Schur
// complement S = M_xx - M_xI M_Ix / M_II is the matrix of covariances about
// the (weighted) means under the divisor in force, which for every VARDEF=
// kind is the one the reader gives covariances about the means; with the
// MEAN and N rows it is turned back into M by an AUGMENT analysis.  In
// correlation analysis S goes out as correlations with its own STD row.
//   centred out  PackedSym[nv(nv+1)/2]: covariances or correlations
//   stdDevs out  [nv]: the roots of the diagonal of S
void centred_moments(const DataView& dv, std::vector<double>* centred, std::vector<double>* stdDevs) {
    const int32_t nv = dv.sizes->nVar;
    const double* a = dv.arrays->momentMatrix;
    const double* sd = dv.moments->stdDevs;
    // Element (i, j) of M: the analysed matrix, scaled back from the
    // correlations when they are analysed.
    const auto m = [&](int32_t i, int32_t j) {
        return dv.options->covAnalysis ? a[velix::pk(i, j)] : a[velix::pk(i, j)] * sd[i] * sd[j];
    };
    const double mii = m(nv, nv);
    centred->assign(static_cast<size_t>(nv) * (nv + 1) / 2, 0.0);
    for (int32_t i = 0; i < nv; ++i)
        for (int32_t j = 0; j <= i; ++j)
            (*centred)[velix::pk(i, j)] = m(i, j) - (mii > 0.0 ? m(i, nv) * m(j, nv) / mii : 0.0);
    stdDevs->assign(static_cast<size_t>(nv), 0.0);
    for (int32_t i = 0; i < nv; ++i) {
        const double sii = (*centred)[velix::pk(i, i)];
        (*stdDevs)[i] = sii > 0.0 ? std::sqrt(sii) : 0.0;
    }
    if (dv.options->covAnalysis) return;
    for (int32_t i = 0; i < nv; ++i)
        for (int32_t j = 0; j <= i; ++j) {
            const double d = (*stdDevs)[i] * (*stdDevs)[j];
            (*centred)[velix::pk(i, j)] = d > 0.0 ? (*centred)[velix::pk(i, j)] / d : 0.0;
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
        const bool withMeans = dv.options->interceptVar != 0;
        std::vector<double> centred, centredStd;
        if (withMeans) centred_moments(dv, &centred, &centredStd);
        auto stat_row = [&](const char* type, const double* values) {
            set_type(dv, type);
            std::copy(values, values + nv, v);
            cos_write_row(dv.ctx, role);
        };
        // Only what the data gave: means of 0 or the default N written out
        // would read back as data that had them.
        if (dv.moments->meansGiven) stat_row("MEAN", dv.moments->means);
        if (!dv.options->covAnalysis && withMeans)
            stat_row("STD", centredStd.data());
        else if (!dv.options->covAnalysis)
            stat_row(dv.moments->momentOrigin == 0 ? "STD" : "USTD", dv.moments->stdDevs);
        if (dv.input->rawData && dv.options->kurtosisWanted) {
            stat_row("SKEWNESS", dv.moments->skewness);
            stat_row("KURTOSIS", dv.moments->uniKurtosis);
        }
        if (dv.moments->countGiven) {
            set_type(dv, "N");
            std::fill(v, v + nv, dv.moments->nObs);
            cos_write_row(dv.ctx, role);
        }
        if (dv.moments->sumWeights != dv.moments->nObs) {
            set_type(dv, "SUMWGT");
            std::fill(v, v + nv, dv.moments->sumWeights);
            cos_write_row(dv.ctx, role);
        }
        set_type(dv, velix::detail::outstat_matrix_type(dv.ctx));
        if (withMeans)
            matrix_rows(dv, role, centred.data(), nv, nv, v);
        else
            matrix_rows(dv, role, dv.arrays->momentMatrix, n, nv, v);
        return;
    }

    const int32_t method = dv.methods->methodRequested;
    set_type(dv, "WEIGHT");
    if (method == kMethodGls || method == kMethodUlsGls || method == kMethodDwls ||
        method == kMethodUlsDwls) {
        matrix_rows(dv, role, dv.arrays->weightMatrix, n, n, v);
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
                    vzfdl(host_missing_value(), v, n);
                    const int32_t last = k < i ? k : j;
                    for (int32_t l = 0; l <= last; ++l, ++q)
                        v[l] = dv.arrays->weightMatrix[q];
                    cos_write_row(dv.ctx, role);
                }
            }
        }
    }
}
