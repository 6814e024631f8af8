// Univariate skewness and kurtosis and Mardia's multivariate kurtosis of
// the raw observations of a BY group: one pass accumulates the weighted
// sums of cubed and fourth powers of the centred values and the sum of the
// squared Mahalanobis distances, with the five observations that contribute
// most; the moment step turns the sums into the coefficients.
//
// References: Mardia, "Measures of multivariate skewness and kurtosis with
// applications", Biometrika 57 (1970); the bias-adjusted univariate
// coefficients G1 and G2 of Joanes and Gill, "Comparing measures of sample
// skewness and kurtosis", The Statistician 47 (1998); the mean scaled
// univariate kurtosis of Bentler, "EQS Structural Equations Program
// Manual" (1995).
#include <algorithm>
#include <cmath>
#include <vector>

#include "host/host_support.h"
#include "numerics/kernel_support.h"
#include "procedure/data/data_view.h"
#include "procedure/data/observations.h"
#include "procedure/proc_options.h"
#include "velix/codes.h"
#include "velix/messages.h"

namespace {

// Square root of the smallest normal double: sums of squares at or below
// it are treated as zero.
constexpr double kTiny = velix::kSqrtDblMinWritten;

}  // namespace

namespace velix::detail {

void kurtosis_reset(const DataView& dv, const double* inverse, KurtosisList* list) {
    const int32_t nv = dv.sizes->nVar;
    if (inverse != nullptr) dv.moments->kurtosisCells[kKurtMardia] = 0.0;
    *list = KurtosisList{};
    std::fill(dv.moments->skewness, dv.moments->skewness + nv, 0.0);
    std::fill(dv.moments->uniKurtosis, dv.moments->uniKurtosis + nv, 0.0);
}

int32_t kurtosis_numbering(const DataView& dv, int32_t* numbered) {
    *numbered = 0;
    xoinfo(dv.dataSets->dataSetHandle[kRoleData], kInfoObsNumbers, numbered);
    if (!dv.options->kurtosisWanted || *numbered != 0) return 0;
    const int32_t rc = kyr_note(dv.output->kyrManager, kyrmsg(kMsgProc, kMsgKurtosisNumbered), 'l');
    if (rc < 0) xprrlog(0, rc);
    return rc;
}

void kurtosis_add(const DataView& dv, const double* d, double w, const double* inverse,
                  KurtosisList* list, int32_t observation) {
    const int32_t nv = dv.sizes->nVar;
    for (int32_t i = 0; i < nv; ++i) {
        const double d2 = d[i] * d[i];
        dv.moments->skewness[i] += w * d2 * d[i];
        dv.moments->uniKurtosis[i] += w * d2 * d2;
    }
    if (inverse == nullptr) return;
    const int32_t intercept = dv.moments->momentOrigin < 0 ? -(dv.moments->momentOrigin + 1) : -1;
    const double q = mardia_term(d, nv, intercept, inverse);
    const double c = w * q * q;
    dv.moments->kurtosisCells[kKurtMardia] += c;
    enter_contribution(list, c, observation, w);
}

double mardia_term(const double* d, int32_t m, int32_t skip, const double* inverse) {
    double q = 0.0;
    int64_t p = 0;  // running packed position over the compacted order
    for (int32_t i = 0; i < m; ++i) {
        if (i == skip) continue;
        for (int32_t j = 0; j <= i; ++j) {
            if (j == skip) continue;
            const double t = d[i] * d[j] * inverse[p++];
            q += j == i ? t : 2.0 * t;
        }
    }
    return q;
}

int32_t kurtosis_coefficients(ProcContext* ctx, double d0, double dm1, double d2, double d3,
                              bool haveInverse, KurtosisList* list) {
    const DataView dv = data_view(ctx);
    const int32_t nv = dv.sizes->nVar;
    const int32_t slots = dv.sizes->nVar + (dv.options->interceptVar ? 1 : 0);
    const double w = dv.moments->divisor;
    const double missing = host_missing_value();
    const int32_t intercept = dv.moments->momentOrigin < 0 ? -(dv.moments->momentOrigin + 1) : -1;

    for (int32_t i = 0; i < slots; ++i) {
        const double sd = dv.moments->stdDevs[i], mean = dv.moments->means[i];
        if (dv.moments->momentOrigin != 0 && d0 > velix::kMachEpsWritten) {
            // W sd^2 is the weighted sum of squares about zero; less SW m^2
            // it is the sum about the mean.
            const double v = (w * sd * sd - dv.moments->sumWeights * mean * mean) / d0;
            dv.moments->stdDevsN[i] = v > 0.0 ? std::sqrt(v) : 0.0;
        } else {
            dv.moments->stdDevsN[i] = d0 > 0.0 ? sd * std::sqrt(w / d0) : 0.0;
        }
    }
    // The variables that count: the data variables other than an intercept.
    int32_t p = 0;
    for (int32_t i = 0; i < nv; ++i)
        if (i != intercept) ++p;

    // Weights that do not sum to d0, the number of observations the VARDEF
    // kind counts (N for the kinds N and DF, SW for WDF and WEIGHT).  Every
    // coefficient is a weighted average, so the weights are rescaled to sum
    // to d0, w d0 / SW (1 for the average observation), and the formulas of
    // unweighted data with d0 observations apply: the sums of powers and of
    // squares are divided by SW / d0.  The accumulated w q^2 is multiplied
    // by it, since its q, the distance under the covariance with divisor
    // d0, is d0 / SW times the distance under the rescaled weights.  So g1,
    // g2 and Mardia's b2,p are the standardized moments of the weighted data
    // whatever the scale of the weights (a constant weight gives the values
    // of the unweighted data), and the bias adjustments of G1 and G2 and the
    // normalised Mardia kurtosis use the sample size the kind counts for
    // the covariances: under WDF and WEIGHT an integer weight acts as a
    // frequency, under N and DF it does not, for the covariances as here.
    // With unit weights SW / d0 is 1 and nothing changes.
    const double perCount =
        d0 > 0.0 && dv.moments->sumWeights > 0.0 ? dv.moments->sumWeights / d0 : 1.0;

    if (d0 <= 3.0 + 10.0 * velix::kMachEpsWritten) {
        vzfdl(missing, dv.moments->skewness, slots);
        vzfdl(missing, dv.moments->uniKurtosis, slots);
    } else {
        for (int32_t i = 0; i < slots; ++i) {
            const double sum3 = dv.moments->skewness[i] / perCount,
                         sum4 = dv.moments->uniKurtosis[i] / perCount;
            const double mean = std::fabs(dv.moments->means[i]);
            // The sum of squares about the mean under the rescaled weights.
            const double ss = d0 * dv.moments->stdDevsN[i] * dv.moments->stdDevsN[i] / perCount;
            double skew = 0.0, kurt = -3.0;
            if (i != intercept && i < nv) {
                if (dv.options->optionFlags & kOptionBiasKur) {
                    const double s = ss;
                    if (!(s < mean * velix::kMachEpsWritten || s <= kTiny)) {
                        skew = sum3 * std::sqrt(d0) / std::pow(s, 1.5);
                        kurt = sum4 * d0 / (s * s) - 3.0;
                    }
                } else {
                    // The standard deviation with divisor W.
                    const double s = std::sqrt(ss / w);
                    const double s2 = s * s;
                    if (!(s2 < mean * velix::kMachEpsWritten || s2 <= kTiny)) {
                        skew = sum3 * d0 / (w * d2 * s2 * s);
                        kurt = sum4 * d0 * dm1 / (w * d2 * d3 * s2 * s2) - 3.0 * w * w / (d2 * d3);
                    }
                }
            }
            dv.moments->skewness[i] = skew;
            dv.moments->uniKurtosis[i] = kurt;
        }
    }

    int32_t status = 0;
    if (haveInverse && p > 0) {
        const double mm = static_cast<double>(p) * (p + 2);
        const double mardia = dv.moments->kurtosisCells[kKurtMardia] * perCount / d0 - mm;
        dv.moments->kurtosisCells[kKurtMardia] = mardia;
        dv.moments->kurtosisCells[kKurtMardiaKappa] = mardia / mm;
        dv.moments->kurtosisCells[kKurtRelativeMulti] = (mardia + mm) / mm;
        if (dv.moments->nObs > 0.0) {
            const double sigma = std::sqrt(8.0 * mm / d0);
            for (int k = 0; k < 5 && list->observation[k] != 0; ++k) {
                list->contribution[k] = (list->contribution[k] * perCount - mm) / sigma;
                ++status;
            }
            dv.moments->kurtosisCells[kKurtNormalized] = mardia / sigma;
        }
    }

    // Mean scaled univariate kurtosis and its adjusted form.
    double sum = 0.0, adjusted = 0.0;
    bool complete = p > 0;
    const double bound = -6.0 / (p + 2);
    for (int32_t i = 0; i < nv && complete; ++i) {
        if (i == intercept) continue;
        const double k = dv.moments->uniKurtosis[i];
        if (wzmis(k)) complete = false;
        sum += k;
        adjusted += std::max(k, bound);
    }
    dv.moments->kurtosisCells[kKurtMeanScaled] = complete ? sum / (3.0 * p) : missing;
    dv.moments->kurtosisCells[kKurtAdjustedScaled] = complete ? adjusted / (3.0 * p) : missing;
    return status;
}

}  // namespace velix::detail

int32_t coskurt(ProcContext* ctx, int32_t /*listEntry*/, int32_t /*weightEntry*/,
                int32_t /*freqEntry*/, const double* inverse, KurtosisList* list) {
    const DataView dv = data_view(ctx);
    const int32_t nv = dv.sizes->nVar;
    velix::detail::kurtosis_reset(dv, inverse, list);
    int32_t numbered = 0;
    const int32_t rc = velix::detail::kurtosis_numbering(dv, &numbered);
    if (rc < 0) return rc;

    velix::detail::RawPass pass(dv);
    double w = 0.0, f = 0.0;
    std::vector<double> d(nv);
    int32_t count = 0;
    while (pass.next(&w, &f)) {
        ++count;
        for (int32_t i = 0; i < nv; ++i) d[i] = dv.cells->rowValues[i] - dv.moments->means[i];
        const int32_t observation = numbered ? pass.observation() : count;
        velix::detail::kurtosis_add(dv, d.data(), w, inverse, list, observation);
    }
    return pass.level();
}
