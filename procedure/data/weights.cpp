// Weight matrices of GLS, WLS and DWLS from an INWGT= data set, or the
// fourth-order moments of the raw observations from which the moment step
// forms the asymptotic covariance of the moments (Browne 1984):
//   cosfiwt  GLS weights (matrix form) from INWGT=
//   cosfiw1  WLS: INWGT= in the WLS form, or the sums m_ijkl over the raw data
//   cosfiw2  DWLS: INWGT= in the matrix form, or the sums m_iijj (and, for
//            correlations, m_iiij and m_ijjj)
// The raw passes also accumulate the skewness, kurtosis and Mardia sums, so
// that a WLS-type analysis reads the data once for both.
#include <algorithm>
#include <cstring>
#include <vector>

#include "host/host_support.h"
#include "numerics/row_products.h"
#include "procedure/data/data.h"
#include "procedure/data/data_view.h"
#include "procedure/data/observations.h"
#include "velix/codes.h"
#include "velix/messages.h"
#include "velix/packed_index.h"

namespace {


using velix::pk;

// The variable named by a 32-character name field, -1 when none: names are
// compared case-folded with trailing blanks ignored.
int32_t find_variable(const DataView& dv, const char* text32, int32_t n) {
    const NameRecord* names = velix::detail::moment_names(dv.ctx);
    const int32_t len = wzstrip(text32, 32);
    for (int32_t v = 0; v < n; ++v) {
        if (names[v].length == 32) {
            if (wzstcmn(names[v].text, 32, text32, 32, 0) == 0) return v;
        } else if (wzstrip(names[v].text, names[v].length) == len &&
                   wzstcmn(names[v].text, len, text32, len, 0) == 0) {
            return v;
        }
    }
    return -1;
}

bool weight_row(const DataView& dv) {
    char type[8];
    wztxxlt(2, dv.dataSets->outRow.type, type, 8);
    return std::memcmp(type, "WEIGHT  ", 8) == 0;
}

// Name of the INWGT= data set for messages: its whole name without the
// blanks that pad it.
struct DataSetName {
    char text[33] = {};
};
DataSetName inwgt_name(const DataView& dv) {
    DataSetName d;
    DataSetInfo info;
    if (xoinfo(dv.dataSets->dataSetHandle[kRoleInwgt], kInfoDescription, &info) != 0) return d;
    std::memcpy(d.text, info.name, sizeof info.name);
    for (int k = 31; k >= 0 && (d.text[k] == ' ' || d.text[k] == '\0'); --k) d.text[k] = '\0';
    return d;
}

// The message that INWGT= cannot give the weights (`number`, an error).
// An LS method then goes on by its ULS stage (the moment step says so),
// so for it the same fact is a warning (`lsNumber`).
void inwgt_unusable(const DataView& dv, int32_t number, int32_t lsNumber, const DataSetName& name) {
    const int32_t method = dv.methods->methodGroup;
    const bool lsStage = method == kMethodUlsWls || method == kMethodUlsDwls;
    xpmlog(kMsgProc, lsStage ? lsNumber : number, name.text);
}

void print_weights(const DataView& dv, int32_t n) {
    if (!dv.options->printEnabled) return;
    const NameRecord* names = velix::detail::moment_names(dv.ctx);
    velix::detail::publish_matrix(dv.ctx, "Weights", kMsgWeightsTable, dv.arrays->weightMatrix, n, n, names,
                                  names, "sc", 8);
}

// Matrix form from INWGT=: element (i, j) from row i, value j.  Result:
// false when no WEIGHT row was found.
bool read_matrix_form(const DataView& dv, int32_t n) {
    vzfdl(host_missing_value(), dv.arrays->weightMatrix, n * (n + 1) / 2);
    xbyrwnd(dv.dataSets->dataSetHandle[kRoleInwgt], kRewindGroup);
    bool any = false;
    while (cos_read_row(dv.ctx, kRoleInwgt)) {
        if (!weight_row(dv)) continue;
        any = true;
        const int32_t i = find_variable(dv, dv.dataSets->outRow.name.text, n);
        if (i < 0) continue;
        for (int32_t j = 0; j < n; ++j)
            if (!wzmis(dv.cells->rowValues[j]))
                dv.arrays->weightMatrix[pk(i, j)] = dv.cells->rowValues[j];
    }
    return any;
}

// The raw pass of the fourth-order routines: `accumulate` adds one
// observation x (weight w, divisor d) to the weight sums, taken about the
// means when `aboutMeans` (the constant of a model with means stays 1).
template <typename Accumulate>
int32_t raw_pass(const DataView& dv, bool aboutMeans, const double* inverse, KurtosisList* list,
                 Accumulate accumulate) {
    const int32_t nv = dv.sizes->nVar;
    const int32_t m = dv.sizes->nManifest;
    const bool kurtosis =
        dv.options->kurtosisWanted || dv.dataSets->dataSetHandle[kRoleOutstat] != nullptr;
    if (kurtosis) velix::detail::kurtosis_reset(dv, inverse, list);
    const double d = zvardiv(dv.options->vardefKind, dv.moments->nObs, 0.0, dv.moments->sumWeights);
    int32_t numbered = 0;
    const int32_t rc = velix::detail::kurtosis_numbering(dv, &numbered);
    if (rc < 0) return rc;
    velix::detail::RawPass pass(dv);
    std::vector<double> x(m + 1);
    // Under PARTIAL the moments analysed are those of the residuals of the
    // manifest variables on the partial ones, and so are the fourth
    // moments that weigh them: each observation's residuals e = x - B z.
    const int32_t q = dv.moments->nPartial;
    std::vector<double> coefficients, e(m + 1), z(q);
    if (q > 0) velix::detail::partial_regression(dv.ctx, &coefficients, nullptr);
    double w = 0.0, f = 0.0;
    int32_t count = 0;
    const double start = wzdttme();
    while (pass.next(&w, &f)) {
        // The fourth-order sums are the long part of the weights: the time
        // limit is looked at once per observation.
        if (velix::detail::weight_time_passed(dv, start)) {
            xpmlog(kMsgProc, kMsgWeightsTimeLimit, dv.nlp->opt.maxTime);
            return kLevelNoMoments;
        }
        ++count;
        for (int32_t i = 0; i < nv; ++i)
            x[i] = aboutMeans ? dv.cells->rowValues[i] - dv.moments->means[i] : dv.cells->rowValues[i];
        if (dv.options->interceptVar) x[nv] = 1.0;
        if (q > 0) {
            // The partial variables follow the analysis ones in the row and
            // the manifest ones (with the intercept) among the means.
            for (int32_t k = 0; k < q; ++k)
                z[k] = dv.cells->rowValues[nv + k] - (dv.moments->momentOrigin == 0 ? dv.moments->means[m + k] : 0.0);
            for (int32_t i = 0; i < m; ++i) {
                e[i] = x[i];
                for (int32_t k = 0; k < q; ++k) e[i] -= coefficients[static_cast<size_t>(i) * q + k] * z[k];
            }
        }
        accumulate(q > 0 ? e.data() : x.data(), w, d);
        if (!kurtosis) continue;
        // The kurtosis sums are about the means whatever the moments are.
        if (!aboutMeans)
            for (int32_t j = 0; j < nv; ++j) x[j] -= dv.moments->means[j];
        const int32_t observation = numbered ? pass.observation() : count;
        velix::detail::kurtosis_add(dv, x.data(), w, inverse, list, observation);
    }
    return pass.level();
}

// The sums m_ijkl of the WLS weights, W = sum over the observations of
// (w / d) z z' with z the p* centred cross products x_i x_j of an
// observation (the packed index of (i, j)): one product Z' D Z over the
// N x p* matrix of cross products, a block of kBlock observations at a
// time, on the register-tiled row products (the lower triangle of W, its
// packed rows).  The product wants each cross product's values over the
// block side by side: kStage observations are gathered first and then
// written across, a cache line to a cross product.
class FourthMoments {
  public:
    FourthMoments(int32_t n, double* w)
        : pstar_(n * (n + 1) / 2),
          z_(static_cast<size_t>(pstar_) * kBlock),
          stage_(static_cast<size_t>(pstar_) * kStage),
          rows_(static_cast<size_t>(pstar_)),
          out_(rows_.size()) {
        for (int32_t a = 0; a < pstar_; ++a) {
            rows_[a] = z_.data() + static_cast<size_t>(a) * kBlock;
            out_[a] = w + pk(a, 0);
        }
    }
    // One centred observation x with weight factor f (its weight over the divisor).
    void add(const double* x, double f) {
        double* z = stage_.data() + static_cast<size_t>(staged_) * pstar_;
        for (int32_t i = 0, a = 0; a < pstar_; ++i)
            for (int32_t j = 0; j <= i; ++j) z[a++] = x[i] * x[j];
        factors_[filled_ + staged_] = f;
        if (++staged_ < kStage) return;
        unstage();
        if (filled_ == kBlock) add_block();
    }
    // Adds the products of the observations not yet added to W.
    void flush() {
        unstage();
        add_block();
    }

  private:
    static constexpr int32_t kBlock = 256;  // observations per product: one pass of the row products
    static constexpr int32_t kStage = 8;    // observations gathered before they are written across

    // W += the products of the block's observations.
    void add_block() {
        if (filled_ == 0) return;
        // Equal weights (no WEIGHT variable) scale the product; others
        // scale one side's columns.
        const double f = factors_[0];
        if (std::all_of(factors_, factors_ + filled_, [f](double g) { return g == f; })) {
            velix::detail::rows_product(pstar_, pstar_, filled_, rows_.data(), rows_.data(), f, out_.data(), true);
            filled_ = 0;
            return;
        }
        std::vector<double> scaled(z_.size());
        std::vector<const double*> scaledRows(rows_.size());
        for (int32_t a = 0; a < pstar_; ++a) {
            double* row = scaled.data() + static_cast<size_t>(a) * kBlock;
            for (int32_t t = 0; t < filled_; ++t) row[t] = rows_[a][t] * factors_[t];
            scaledRows[a] = row;
        }
        velix::detail::rows_product(pstar_, pstar_, filled_, scaledRows.data(), rows_.data(), 1.0, out_.data(), true);
        filled_ = 0;
    }

    // The staged observations into the block.
    void unstage() {
        for (int32_t a = 0; a < pstar_; ++a)
            for (int32_t s = 0; s < staged_; ++s)
                z_[static_cast<size_t>(a) * kBlock + filled_ + s] = stage_[static_cast<size_t>(s) * pstar_ + a];
        filled_ += staged_;
        staged_ = 0;
    }

    int32_t pstar_;
    int32_t filled_ = 0, staged_ = 0;
    std::vector<double> z_;      // p* rows of kBlock: each cross product over the block
    std::vector<double> stage_;  // kStage rows of p*: the observations not yet in z_
    double factors_[kBlock] = {};
    std::vector<const double*> rows_;
    std::vector<double*> out_;
};

}  // namespace

bool velix::detail::weight_time_passed(const DataView& dv, double start) {
    if (dv.nlp == nullptr || wzmis(dv.nlp->opt.maxTime)) return false;
    return !(dv.nlp->opt.maxTime > 0.0) || wzdttme() - start > dv.nlp->opt.maxTime;
}

int32_t cosfiwt(ProcContext* ctx, int32_t /*listEntry*/) {
    const DataView dv = data_view(ctx);
    const int32_t n = dv.sizes->nManifest;
    read_matrix_form(dv, n);
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j)
            if (wzmis(dv.arrays->weightMatrix[pk(i, j)])) {
                xpmlog(kMsgProc, kMsgInwgtIncomplete, inwgt_name(dv).text);
                // The step ends also when the table cannot be shown (the
                // publisher reports that): an incomplete matrix is never
                // handed on as read.
                print_weights(dv, n);
                xexit(kLevelBadVariables, 0);
            }
    zmsgsav(0, 0, nullptr, 0);
    return 0;
}

int32_t cosfiw1(ProcContext* ctx, int32_t /*listEntry*/, int32_t /*weightEntry*/, int32_t /*freqEntry*/,
                const double* inverse, KurtosisList* list) {
    const DataView dv = data_view(ctx);
    const int32_t n = dv.sizes->nManifest;
    const int32_t pstar = n * (n + 1) / 2;
    const int64_t total = int64_t{pstar} * (pstar + 1) / 2;
    double* w = dv.arrays->weightMatrix;
    if (dv.input->inwgtUsed) {
        vzfdl(host_missing_value(), w, static_cast<int32_t>(total));
        int64_t weightRows = 0, matched = 0;
        while (cos_read_row(dv.ctx, kRoleInwgt)) {
            if (!weight_row(dv)) continue;
            ++weightRows;
            int32_t i = find_variable(dv, dv.dataSets->outRow.name.text, n);
            int32_t j = find_variable(dv, dv.dataSets->outRow.name2.text, n);
            const int32_t k = find_variable(dv, dv.dataSets->outRow.name3.text, n);
            if (i < 0 || j < 0 || k < 0) continue;
            ++matched;
            const int64_t a = pk(i, j);
            for (int32_t l = 0; l < n; ++l) {
                if (wzmis(dv.cells->rowValues[l])) continue;
                const int64_t b = pk(k, l);
                w[pk(a, b)] = dv.cells->rowValues[l];
            }
        }
        const DataSetName name = inwgt_name(dv);
        if (weightRows == 0) {
            inwgt_unusable(dv, kMsgInwgtNoWeightRows, kMsgInwgtNoWeightRowsLs, name);
            return kLevelNoMoments;
        }
        const int64_t expected = int64_t{n} * (n + 1) * (2 * n + 1) / 6;
        if (matched != expected)
            xpmlog(kMsgProc, kMsgInwgtRowCount, static_cast<int32_t>(matched), name.text,
                   static_cast<int32_t>(expected));
        for (int64_t q = 0; q < total; ++q)
            if (wzmis(w[q])) {
                inwgt_unusable(dv, kMsgInwgtIncomplete, kMsgInwgtIncompleteLs, name);
                if (dv.options->printEnabled) {
                    const int32_t rc =
                        velix::detail::publish_matrix(dv.ctx, "Weights", kMsgWeightsTable, w, pstar,
                                                      pstar, nullptr, nullptr, "sc", 8);
                    if (rc < 0) return rc;
                }
                return kLevelNoMoments;
            }
        return 0;
    }
    std::fill(w, w + total, 0.0);
    FourthMoments sums(n, w);
    const int32_t level =
        raw_pass(dv, dv.moments->momentOrigin == 0 || velix::detail::wls_weights_about_means(dv), inverse, list,
                 [&](const double* x, double wt, double d) { sums.add(x, wt / d); });
    sums.flush();
    return level;
}

int32_t cosfiw2(ProcContext* ctx, int32_t /*listEntry*/, int32_t /*weightEntry*/, int32_t /*freqEntry*/,
                const double* inverse, KurtosisList* list) {
    const DataView dv = data_view(ctx);
    const int32_t n = dv.sizes->nManifest;
    const int32_t pstar = n * (n + 1) / 2;
    double* w = dv.arrays->weightMatrix;
    if (dv.input->inwgtUsed) {
        const bool any = read_matrix_form(dv, n);
        const DataSetName name = inwgt_name(dv);
        if (!any) {
            inwgt_unusable(dv, kMsgInwgtNoWeightRows, kMsgInwgtNoWeightRowsLs, name);
            return kLevelNoMoments;
        }
        for (int32_t q = 0; q < pstar; ++q)
            if (wzmis(w[q])) {
                inwgt_unusable(dv, kMsgInwgtIncomplete, kMsgInwgtIncompleteLs, name);
                print_weights(dv, n);
                return kLevelNoMoments;
            }
        return 0;
    }
    // The correlation form needs the moments m_iiij and m_ijjj too: with
    // ASYCOV=CORR, and by default in correlation analysis, where the moment
    // step asks for that form when ASYCOV= is not given.
    const int32_t kind = dv.options->asycovKind;
    const bool corr = kind == 3 || ((kind < 1 || kind > 3) && !dv.options->covAnalysis);
    std::fill(w, w + pstar, 0.0);
    if (corr) {
        std::fill(dv.moments->dwlsAsycov[0], dv.moments->dwlsAsycov[0] + pstar, 0.0);
        std::fill(dv.moments->dwlsAsycov[1], dv.moments->dwlsAsycov[1] + pstar, 0.0);
    }
    return raw_pass(dv, dv.moments->momentOrigin == 0, inverse, list, [&](const double* x, double wt, double d) {
        for (int32_t i = 0; i < n; ++i) {
            const double c = wt * x[i] * x[i] / d;
            for (int32_t j = 0; j <= i; ++j) {
                const int64_t q = pk(i, j);
                w[q] += x[j] * x[j] * c;
                if (corr) {
                    dv.moments->dwlsAsycov[0][q] += x[i] * x[j] * c;
                    dv.moments->dwlsAsycov[1][q] += x[i] * x[j] * x[j] * x[j] * wt / d;
                }
            }
        }
    });
}
