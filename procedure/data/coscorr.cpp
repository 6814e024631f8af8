// coscorr: everything one BY group needs before estimation: N and the
// variance divisor, means, standard deviations and the moment matrix
// (covariances or correlations) with partial variables swept out
// (Goodnight's sweep) and an optional ridge, its inverse and
// log-determinant, the weight matrix of GLS (S), WLS (the asymptotic
// covariance of the moments, Browne 1984) and DWLS (its diagonal), the
// kurtosis measures, the input tables and the OUTSTAT= and OUTWGT= rows,
// and finally the start values of the parameters.
//
//   entry: method of the group, arrays, pool
//   N from the options; read the moments (raw, SYMATRIX or moment data)
//   divisors; sample-size check; rescale to the divisor in force
//   covariance work matrix; constant variables among moments about zero
//   inverse of the covariance with divisor N (weights, kurtosis, OUTSTAT=)
//   WLS/DWLS weights; kurtosis; partial variables; checks
//   covariance analysis: correlations to covariances
//   print, OUTSTAT=; ridge; inverse and log-determinant; GLS weights
//   inverse store; start values
//
// Inverses and factors are formed on the matrix scaled to unit diagonal,
// so that the singularity tolerance is relative: variables measured in
// small units are not declared singular.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "host/internal_error.h"
#include "host/host_support.h"
#include "numerics/bisect.h"
#include "numerics/covcorr.h"
#include "numerics/packed.h"
#include "numerics/tridiag.h"
#include "numerics/uniform_random.h"
#include "numerics/kernel_support.h"
#include "procedure/data/data.h"
#include "procedure/data/data_view.h"
#include "procedure/data/observations.h"
#include "procedure/procedure.h"
#include "procedure/proc_options.h"
#include "velix/codes.h"
#include "velix/host_vector.h"
#include "velix/messages.h"
#include "velix/packed_index.h"
#include "velix/statements.h"

namespace {

// Square root of the smallest normal double, as the ridge and weight tests
// were written from it.
constexpr double kTiny = velix::kSqrtDblMinWritten;
constexpr double kLn10 = 2.302585092994046;
// Smallest eigenvalue the automatic ridge aims at.
constexpr double kRidgeTarget = 0.001;
// Passes of the automatic ridge at most.
constexpr int kRidgePasses = 5;
// Code of the special missing value 'M' (no determinant).
constexpr int kMissingM = 2 + ('M' - 'A');

// Results of coscorr.
enum : int32_t {
    kGoOn = 0,
    kReaderFailed = 1,
    kTooFewForWeights = 2,
    kWeightRoutineFailed = 3,
    kWlsSingular = 4,
    kNoVariance = 5,
    kSingular = 6,
    kInwgtNotRead = 7,
    kTooFewObservations = 8,
    kNotFinite = 9
};

using velix::pk;

bool is_wls(int32_t m) { return m == kMethodWls || m == kMethodUlsWls; }
bool is_dwls(int32_t m) { return m == kMethodDwls || m == kMethodUlsDwls; }

double* allocate(int64_t count) {
    HostAllocator* a = v_global_gcb_anchor->stepAllocator;
    auto* p = static_cast<double*>(a->allocate(a, static_cast<size_t>(std::max<int64_t>(count, 1)) * sizeof(double), 4));
    if (p == nullptr) {
        xmemmsg(count * 8);
        xexit(kLevelNoMemory, 0);
    }
    return p;
}

}  // namespace

namespace velix::detail {

void allocate_moment_arrays(ProcContext* ctx) {
    const DataView dv = data_view(ctx);
    if (dv.moments->means != nullptr) return;
    // nPartial is the PARTIAL list as resolved on DATA=, which the host reads
    // after the analysis variables.
    if (dv.moments->nRead == 0)
        dv.moments->nRead =
            dv.sizes->nVar + dv.moments->nPartial + (dv.options->interceptVar ? 1 : 0);
    const int64_t m = dv.moments->nRead + 1;
    const int64_t n = dv.sizes->nManifest;
    const int64_t pstar = n * (n + 1) / 2;
    double* block = allocate(4 * m);
    dv.moments->means = block;
    dv.moments->stdDevs = block + m;
    dv.moments->skewness = block + 2 * m;
    dv.moments->uniKurtosis = block + 3 * m;
    dv.moments->stdDevsN = allocate(m);
    dv.cells->rowValues = allocate(m + 1);
    dv.arrays->momentMatrix = allocate(m * (m + 1) / 2);
    dv.arrays->momentInverse = allocate(std::max(m * (m + 1) / 2, n * n));
    const int32_t method = dv.methods->methodRequested;
    dv.arrays->weightMatrix = allocate(is_wls(method) ? pstar * (pstar + 1) / 2 : pstar);
    if (is_dwls(method)) {
        dv.moments->dwlsAsycov[0] = allocate(pstar);
        dv.moments->dwlsAsycov[1] = allocate(pstar);
    }
}

}  // namespace velix::detail

namespace {

// Square roots of the diagonal of the packed matrix a of order n into
// r[n], and the sum of the logs of the diagonal in *sumLog; false when a
// diagonal is not positive or not finite.
bool diagonal_roots(int32_t n, const double* a, double* r, double* sumLog) {
    *sumLog = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        const double d = a[pk(i, i)];
        if (!(d > 0.0) || !std::isfinite(d)) return false;
        r[i] = std::sqrt(d);
        *sumLog += std::log(d);
    }
    return true;
}

// Inverse of the packed matrix a of order n on its unit-diagonal scaling:
// the tolerance of the Cholesky pivots is relative to each variance.
// ln det in *logdet.  false when a diagonal is not positive or a pivot
// fails (a is then unusable).
bool scaled_inverse(int32_t n, double tol, double* a, double* logdet) {
    std::vector<double> r(n);
    double sumLog = 0.0;
    if (!diagonal_roots(n, a, r.data(), &sumLog)) return false;
    for (int32_t i = 0; i < n; ++i) r[i] = 1.0 / r[i];
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j) a[pk(i, j)] *= r[i] * r[j];
    double det[2];
    if (coschin(n, tol, det, a) != 0) return false;
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j) a[pk(i, j)] *= r[i] * r[j];
    *logdet = std::log(det[0]) + det[1] * kLn10 + sumLog;
    return true;
}

// Cholesky factor L of the packed matrix a (in place) on its unit-diagonal
// scaling; ln det in *logdet.  false when not positive definite, with
// *negative when a diagonal element is below 0 (the matrix is not merely
// singular: no tolerance would let it pass).  *dependent (out) then lists
// the rows that make it singular: those of a zero diagonal, or else the
// rows whose pivot was negligible (each a combination of the rows before
// it).
bool scaled_factor(int32_t n, double tol, double* a, double* logdet, bool* negative, std::vector<int32_t>* dependent) {
    std::vector<double> r(n);
    double sumLog = 0.0;
    *negative = false;
    dependent->clear();
    for (int32_t i = 0; i < n; ++i) *negative = *negative || a[pk(i, i)] < 0.0;
    if (!diagonal_roots(n, a, r.data(), &sumLog)) {
        for (int32_t i = 0; i < n; ++i)
            if (!(a[pk(i, i)] > 0.0)) dependent->push_back(i);
        return false;
    }
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j) a[pk(i, j)] /= r[i] * r[j];
    double ld = 0.0;
    if (coscdec(n, tol, &ld, a) != 0) {
        // A negligible pivot leaves 0.0 on its diagonal.
        for (int32_t i = 0; i < n; ++i)
            if (a[pk(i, i)] == 0.0) dependent->push_back(i);
        return false;
    }
    // A = D R D with R = Ls Ls': L = D Ls, rows scaled.
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j) a[pk(i, j)] *= r[i];
    *logdet = ld + sumLog;
    return true;
}

void write_file(HostFile* file, const void* data, int64_t bytes) {
    scratch_check(xcwrite(file, data, bytes));
}

void point_file(HostFile* file, int64_t position) {
    scratch_check(xcpoint(file, position));
}

void determinant_table(const DataView& dv, const char* name, int32_t title, double logdet, int32_t label) {
    cosdet(dv.ctx, kyrtxts("%s", -1, name), title, logdet, label, kyrtxts("Tesk.Velix.%s", -1, name));
}

double penalty_value(const DataView& dv) {
    if (wzmis(dv.options->wPenalty)) return 0.01;  // 1/100 when no penalty is given
    return dv.options->wPenalty == 0.0 ? 0.0 : 1.0 / dv.options->wPenalty;
}

// Variance moments of a correlation analysis carry no information: their
// weights become the penalty structure (v on the variance diagonal).
void apply_penalty(const DataView& dv) {
    const int32_t n = dv.sizes->nManifest;
    const double v = penalty_value(dv);
    double* w = dv.arrays->weightMatrix;
    if (is_wls(dv.methods->methodGroup) || is_wls(dv.methods->methodRequested)) {
        for (int32_t i = 0; i < n; ++i) {
            const int64_t a = pk(i, i);
            for (int64_t b = 0; b < n * (n + 1) / 2; ++b) w[pk(a, b)] = 0.0;
            w[pk(a, a)] = v;
        }
    } else {
        for (int32_t i = 0; i < n; ++i) w[pk(i, i)] = v;
    }
}

// The moment state the later steps read, kept together.
struct Group {
    double n = 0.0;      // N of the analysis
    double nd = 0.0;     // N as the reader delivered it
    double d0 = 0.0, dm1 = 0.0, d2 = 0.0, d3 = 0.0;
    bool inverse = false;  // the inverse of the covariance with divisor N exists
    int32_t partialUsed = 0;
    int32_t kurtosisStatus = 0;
    KurtosisList list;
};

// Widens the packed matrix of order m-1 by a row and column at index k.
void widen(double* a, int32_t m, int32_t k, const double* row) {
    std::vector<double> old(a, a + int64_t{m - 1} * m / 2);
    for (int32_t i = 0; i < m; ++i)
        for (int32_t j = 0; j <= i; ++j) {
            if (i == k || j == k) {
                a[pk(i, j)] = i == j ? 1.0 : row[i == k ? j : i];
                continue;
            }
            a[pk(i, j)] = old[pk(i > k ? i - 1 : i, j > k ? j - 1 : j)];
        }
}

// An LS method whose weights cannot be formed analyses the BY group by its
// ULS stage only, with its results, and a warning names the method that was
// run in place of the one asked for.  The group is analysed, so this is no
// failure, whatever kept the weights from being formed (too few
// observations, an INWGT= matrix that cannot be used, the time limit): the
// level is that of a warning.  Returns -1 (go on).
int32_t uls_only(const DataView& dv) {
    const char* asked = dv.methods->methodGroup == kMethodUlsWls ? "LSWLS" : "LSDWLS";
    dv.methods->methodGroup = kMethodUls;
    xpmlog(kMsgProc, kMsgWeightsUlsOnly, asked);
    raise_error_level(dv.ctx, kLevelWarning);
    return -1;
}

// The fourth-order weight routine failed (or ran out of time): the LS
// methods go on by ULS, the others leave the group unanalysed.
int32_t weights_not_formed(const DataView& dv) {
    const int32_t method = dv.methods->methodGroup;
    if (method == kMethodUlsWls || method == kMethodUlsDwls) return uls_only(dv);
    xpmlog(kMsgProc, kMsgWeightsNotFormed);
    return kWeightRoutineFailed;
}

// The WLS weight matrix from raw data is a sum of one outer product per
// observation about the means: its rank is at most N - 1 (N about zero),
// so with fewer than that many moments to weigh (the variance moments drop
// out of a penalised correlation analysis) it is singular for certain and
// not worth forming.  Logs the reason.
bool weights_rank_deficient(const DataView& dv, double nObs, bool penalised) {
    const int32_t n = dv.sizes->nManifest;
    const double weighed = dv.sizes->nMoments - (penalised ? n : 0);
    const double rank = nObs - (dv.moments->momentOrigin == 0 ? 1.0 : 0.0);
    if (!(rank < weighed)) return false;
    xpmlog(kMsgProc, kMsgWeightsRankDeficient, nObs, weighed);
    return true;
}

// DWLS: the weights are the inverse square roots of the variances of the
// moments.  The singularity test is relative to the largest.
void dwls_roots(const DataView& dv, bool penalised, bool printWeights, bool printDetail) {
    const int32_t n = dv.sizes->nManifest;
    const int32_t pstar = dv.sizes->nMoments;
    double* w = dv.arrays->weightMatrix;
    if (penalised) apply_penalty(dv);
    double largest = 0.0;
    for (int32_t a = 0; a < pstar; ++a) largest = std::max(largest, w[a]);
    double logdet = 0.0;
    bool singular = false;
    const double tol = dv.options->singular * dv.options->singular * largest;
    for (int32_t a = 0; a < pstar; ++a) {
        if (!singular) {
            if (w[a] < tol || !(w[a] > 0.0))
                singular = true;
            else
                logdet += std::log(w[a]);
        }
        w[a] = w[a] >= velix::detail::kMinPos ? 1.0 / std::sqrt(w[a]) : 0.0;
    }
    if (singular) logdet = host_special_missing(kMissingM);
    if (printWeights)
        determinant_table(dv, "WeightsDet", kMsgDeterminantTitle, logdet, kMsgWeightsDetLabel);
    const NameRecord* names = velix::detail::moment_names(dv.ctx);
    if (printDetail)
        velix::detail::publish_matrix(dv.ctx, "InvDiagWeights", kMsgInverseDiagonalTable, w, n, n,
                                      names, names, "sc", 8);
}

// The note that names the moments that make the WLS weight matrix
// singular: `rows` are rows of the factored matrix (without the variance
// moments when `penalised`), named "(x, y)" by the analysed variables.
void name_dependent_moments(const DataView& dv, bool penalised, const std::vector<int32_t>& rows) {
    const int32_t n = dv.sizes->nManifest;
    std::vector<std::pair<int32_t, int32_t>> moments;
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j)
            if (!penalised || i != j) moments.emplace_back(i, j);
    const NameRecord* names = velix::detail::moment_names(dv.ctx);
    auto name = [&](int32_t v) {
        const NameRecord& r = names[v];
        size_t length = static_cast<size_t>(std::clamp<int16_t>(r.length, 0, 32));
        while (length > 0 && r.text[length - 1] == ' ') --length;
        return std::string(r.text, length);
    };
    std::string text;
    for (int32_t row : rows) {
        if (row < 0 || row >= static_cast<int32_t>(moments.size())) continue;
        const auto& [i, j] = moments[static_cast<size_t>(row)];
        text += (text.empty() ? "(" : ", (") + name(i) + ", " + name(j) + ")";
    }
    if (!text.empty()) xpmlog(kMsgProc, kMsgWeightsDependentMoments, text.c_str());
}

// WLS: the Cholesky factor of the weight matrix (without the variance
// moments in penalised correlation analysis), kept on the scratch file.
// Returns kWlsSingular when it fails (LSWLS goes on by its ULS stage, as
// when the observations are too few), else -1 (go on).
// aboutMeans: Gamma_t of a model with means whose weight is formed about
// the sample means (empty otherwise): its factor gives that of the weight
// matrix, whose determinant it shares.
int32_t wls_factor(const DataView& dv, bool penalised, bool printWeights, bool printDetail, const NameRecord* labels,
                   std::vector<double>* aboutMeans) {
    const int32_t n = dv.sizes->nManifest;
    const int32_t pstar = dv.sizes->nMoments;
    double* w = dv.arrays->weightMatrix;
    double logdet = 0.0;
    bool ok, negative = false;
    std::vector<int32_t> dependent;
    if (!aboutMeans->empty()) {
        ok = scaled_factor(pstar, dv.options->singular, aboutMeans->data(), &logdet, &negative, &dependent);
        if (ok) velix::detail::factor_about_zero(dv.moments->means, n, n - 1, aboutMeans->data(), w);
    } else if (!penalised) {
        ok = scaled_factor(pstar, dv.options->singular, w, &logdet, &negative, &dependent);
    } else {
        velix::detail::takout(dv.ctx);
        ok = scaled_factor(pstar - n, dv.options->singular, w, &logdet, &negative, &dependent);
        if (ok) velix::detail::putin(dv.ctx, penalty_value(dv));
    }
    if (!ok) {
        // LSWLS is not stopped by it: the note, then the warning of its
        // ULS stage alone.
        const bool ls = dv.methods->methodGroup == kMethodUlsWls;
        if (!ls) xpmlog(kMsgProc, negative ? kMsgWeightsNotPositiveDefinite : kMsgWeightsSingular);
        if (!negative) name_dependent_moments(dv, penalised, dependent);
        if (!ls) return kWlsSingular;
        dv.moments->weightsOnFile = 0;
        return uls_only(dv);
    }
    if (dv.moments->weightFactorStart == 0)
        dv.moments->weightFactorStart = dv.optSetup->saveEnd[0];
    point_file(dv.files->scratchFile, dv.moments->weightFactorStart);
    for (int32_t a = 0; a < pstar; ++a) write_file(dv.files->scratchFile, w + pk(a, 0), 8 * int64_t{a + 1});
    if (penalised) {
        const double v = penalty_value(dv);
        logdet = v == 0.0 ? host_special_missing(kMissingM) : logdet + n * std::log(v);
    }
    if (printWeights)
        determinant_table(dv, "WeightsDet", kMsgDeterminantTitle, logdet, kMsgWeightsDetLabel);
    if (printDetail)
        velix::detail::publish_matrix(dv.ctx, "CholeskyWeights", kMsgWeightsFactorTable, w, pstar,
                                      pstar, labels, labels, "sc", 8);
    return -1;
}


// Steps 13: the weights of the WLS-type methods.  Returns a result code,
// or -1 to go on (possibly switched to ULS).
int32_t wls_weights(const DataView& dv, Group* g, const double* inverse) {
    const int32_t method = dv.methods->methodGroup;
    const int32_t n = dv.sizes->nManifest;
    const int32_t pstar = dv.sizes->nMoments;
    const bool wls = is_wls(method);
    const int32_t intercept = dv.moments->momentOrigin < 0 ? -(dv.moments->momentOrigin + 1) : -1;
    const bool penalised =
        !dv.options->covAnalysis && !(dv.input->inwgtUsed && wzmis(dv.options->wPenalty));
    if (wls && penalised && penalty_value(dv) == 0.0) {
        // No penalty gives the variances of a correlation matrix no weight
        // at all, so the full WLS weight matrix has no inverse: an option
        // the method cannot take (DWLS simply leaves those moments out).
        xpmlog(kMsgProc, kMsgWlsNoPenalty);
        raise_error_level(dv.ctx, kLevelInputError);
        return kWlsSingular;
    }
    if (!dv.input->inwgtUsed && g->d0 <= 3.0 + velix::kMachEpsWritten) {
        xpmlog(kMsgProc, kMsgTooFewForKurtosis, g->n);
        dv.options->kurtosisWanted = 0;
        if (method == kMethodUlsWls || method == kMethodUlsDwls)
            return uls_only(dv);
        xpmlog(kMsgProc, kMsgTooFewForWeights, g->n);
        return kTooFewForWeights;
    }
    if (wls && !dv.input->inwgtUsed && weights_rank_deficient(dv, g->nd, penalised)) {
        if (method == kMethodUlsWls) return uls_only(dv);
        xpmlog(kMsgProc, kMsgWeightsSingular);
        return kWlsSingular;
    }
    const double start = wzdttme();
    const int32_t level = wls ? cosfiw1(dv.ctx, 1, 5, 6, inverse, &g->list) : cosfiw2(dv.ctx, 1, 5, 6, inverse, &g->list);
    if (level >= 5 || level < 0) return weights_not_formed(dv);
    if (!dv.input->inwgtUsed) {
        int32_t kind = dv.options->asycovKind;
        // Without ASYCOV= the covariances of the moments of the analysed
        // matrix: of covariances, or of correlations in correlation analysis.
        if (kind < 1 || kind > 3) kind = dv.options->covAnalysis ? 1 : 3;
        cosasco(dv.ctx, kind);
    }
    double* w = dv.arrays->weightMatrix;
    std::vector<double> aboutMeans;
    if (wls && velix::detail::wls_weights_about_means(dv)) {
        // The constant's own moment does not vary: its row is 0 but for
        // the 1 that leaves the others' weights as they are.
        const int64_t kk = pk(intercept, intercept);
        for (int64_t b = 0; b < pstar; ++b) w[pk(kk, b)] = 0.0;
        w[pk(kk, kk)] = 1.0;
        aboutMeans.assign(w, w + int64_t{pstar} * (pstar + 1) / 2);
        velix::detail::gamma_about_zero(dv.moments->means, n, intercept, aboutMeans.data(), w);
    } else if (intercept >= 0) {
        w[wls ? pk(pk(intercept, intercept), pk(intercept, intercept)) : pk(intercept, intercept)] = 1.0;
    }
    if (std::fabs(dv.options->wRidge) > kTiny) {
        // The ridge is one of the weights of the moments about zero.
        aboutMeans.clear();
        xpmlog(kMsgProc, kMsgWeightsRidged, dv.options->wRidge);
        if (wls)
            for (int32_t a = 0; a < pstar; ++a) w[pk(a, a)] += dv.options->wRidge * w[pk(a, a)];
        else
            for (int32_t i = 0; i < n; ++i) w[pk(i, i)] += dv.options->wRidge * w[pk(i, i)];
    }
    if (penalised) apply_penalty(dv);
    const uint32_t pf = dv.options->printFlags;
    const bool printWeights = (pf & (kPrintPweight | kPrintPall)) != 0;
    const NameRecord* names = velix::detail::moment_names(dv.ctx);
    std::vector<NameRecord> labels;
    if (printWeights && wls) {
        labels.resize(pstar);
        for (int32_t i = 0, a = 0; i < n; ++i)
            for (int32_t j = 0; j <= i; ++j, ++a) {
                labels[a].length = static_cast<int16_t>(
                    znamfix(0, "_V", 2, 1000 * (i + 1) + j + 1, 6, labels[a].text, 8));
                labels[a].length = 8;
            }
    }
    if (printWeights) {
        if (wls)
            velix::detail::publish_matrix(dv.ctx, "Weights", kMsgWeightsTable, w, pstar, pstar,
                                          labels.data(), labels.data(), "sc", 8);
        else
            velix::detail::publish_matrix(dv.ctx, "Weights", kMsgWeightsTable, w, n, n, names, names,
                                          "sc", 8);
    }
    dv.moments->weightsOnFile = 1;
    point_file(dv.files->workFile3, 0);
    for (int32_t a = 0; a < pstar; ++a) {
        const double d = wls ? w[pk(a, a)] : w[a];
        write_file(dv.files->workFile3, &d, sizeof d);
    }
    if (dv.dataSets->dataSetHandle[kRoleOutwgt] != nullptr) cosfout(dv.ctx, 0);

    const bool printDetail = dv.options->printDetail && printWeights;
    if (!wls) {
        dwls_roots(dv, penalised, printWeights, printDetail);
        return -1;
    }
    // The factor of the p* x p* matrix is the other long part.
    if (velix::detail::weight_time_passed(dv, start)) {
        xpmlog(kMsgProc, kMsgWeightsTimeLimit, dv.nlp->opt.maxTime);
        return weights_not_formed(dv);
    }
    return wls_factor(dv, penalised, printWeights, printDetail, labels.data(), &aboutMeans);
}

// Steps 15 to 24 of the group from the partial variables on; a GLS weight
// matrix of ULS-then-GLS that cannot be inverted leaves the group to ULS
// with the matrix as formed.  Returns the result.
int32_t finish_group(const DataView& dv, Group* g);

}  // namespace

namespace velix::detail {

void takout(ProcContext* ctx) {
    const DataView dv = data_view(ctx);
    const int32_t n = dv.sizes->nManifest;
    double* w = dv.arrays->weightMatrix;
    int64_t q = 0, out = 0;
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j)
            for (int32_t k = 0; k <= i; ++k)
                for (int32_t l = 0; l <= (k < i ? k : j); ++l, ++q)
                    if (i != j && k != l) w[out++] = w[q];
}

void putin(ProcContext* ctx, double penalty) {
    const DataView dv = data_view(ctx);
    const int32_t n = dv.sizes->nManifest;
    const int64_t pstar = int64_t{n} * (n + 1) / 2;
    double* w = dv.arrays->weightMatrix;
    int64_t q = pstar * (pstar + 1) / 2;
    int64_t in = (pstar - n) * (pstar - n + 1) / 2;
    const double root = std::sqrt(penalty);
    for (int32_t i = n - 1; i >= 0; --i)
        for (int32_t j = i; j >= 0; --j)
            for (int32_t k = i; k >= 0; --k)
                for (int32_t l = (k < i ? k : j); l >= 0; --l) {
                    --q;
                    if (i == j && k == l && i == k)
                        w[q] = root;
                    else if (i == j || k == l)
                        w[q] = 0.0;
                    else
                        w[q] = w[--in];
                }
}

int32_t ridge(int32_t n, double* a, double* work, int16_t* index, double* r) {
    if (!wzmis(*r)) return 0;
    ztred3(n, a, work);
    if (zbisect(n, -1, 0.0, work, work + 3 * n, index, work + 4 * n) < 1) {
        *r = host_missing_value();
        return -1;
    }
    const double lambda = work[3 * n];
    *r = lambda < 0.0 ? kRidgeTarget - lambda : lambda < kRidgeTarget ? kRidgeTarget : 0.0;
    return 0;
}

void setini(ProcContext* ctx) {
    const DataView dv = data_view(ctx);
    const bool scaleGiven = !wzmis(dv.options->varStartScale);
    const double scale = scaleGiven                 ? dv.options->varStartScale
                         : dv.options->covAnalysis ? 100.0
                                                    : 10.0;
    const ModelMatrixTable& t = *dv.model;
    for (int32_t term = 0; term < dv.sizes->nTerms; ++term) {
        const int32_t first = t.termTable[term], last = t.termTable[term + 1] - 1;
        for (int32_t mat = first; mat <= last; ++mat) {
            for (int32_t e = t.firstElement[mat]; e < t.firstElement[mat] + t.elementCount[mat]; ++e) {
                if (!wzmis(dv.elements->value[e])) continue;
                const int32_t p = std::abs(dv.elements->parameter[e]);
                if (p == 0) internal_error("a fixed element has a missing value at the start values");
                double v = dv.options->randomSeed != 0 ? zranuni(&dv.options->randomSeed)
                                                        : dv.options->startConst;
                if (mat == last && dv.elements->row[e] == dv.elements->column[e])
                    v = scaleGiven ? (std::fabs(v) + 1.0) * dv.options->varStartScale
                                   : std::fabs(v) * scale;
                dv.elements->value[e] = v;
                dv.nlp->param.x[p - 1] = v;
            }
        }
    }
}

}  // namespace velix::detail

namespace {

// Sweeps the partial variables (pivots nManifest .. nRead-1) out of the
// packed matrix s of order nRead; the row and column of a pivot that
// cannot be swept become 0.  Returns the number swept.
int32_t sweep_partial_pivots(const DataView& dv, double* s) {
    const int32_t n = dv.sizes->nManifest;
    const int32_t m = dv.moments->nRead;
    const int32_t q = dv.moments->nPartial;
    std::vector<char> flags(m, '0');
    std::vector<double> work(m);
    int32_t used = q;
    for (int32_t k = 0; k < q; ++k) {
        const int32_t pivot = n + k;
        // Relative pivot test: the residual variance against the original.
        zsweep(s, pivot, m, flags.data(), work.data(), dv.options->singular * s[pk(pivot, pivot)]);
        if (flags[pivot] == '0') {
            --used;
            for (int32_t j = 0; j < m; ++j) s[pk(pivot, j)] = 0.0;
        }
    }
    return used;
}

// Sweeps the partial variables out of the correlation matrix and moves N,
// the divisor and the standard deviations to the partial moments.
void sweep_partials(const DataView& dv, Group* g) {
    const int32_t n = dv.sizes->nManifest;
    double* s = dv.arrays->momentMatrix;
    const char* kind = dv.options->vardefKind;
    const int32_t q = dv.moments->nPartial;
    if (g->n <= q) {
        xpmlog(kMsgProc, kMsgTooManyPartials, q, g->n);
        g->n = q;
    }
    const int32_t used = sweep_partial_pivots(dv, s);
    g->partialUsed = used;
    double df = used;
    if (dv.moments->momentOrigin <= 0 &&
        (std::memcmp(kind, "DF", 2) == 0 || std::memcmp(kind, "WDF", 3) == 0))
        df += 1.0;
    const double wold = dv.moments->divisor;
    dv.moments->divisor = zvardiv(kind, g->nd, df, dv.moments->sumWeights);
    if (std::memcmp(kind, kVardefDefault, 8) == 0) g->n -= used;
    if (std::memcmp(kind, "WDF     ", 8) == 0) dv.moments->sumWeights -= used;
    const double scale = dv.moments->divisor > 0.0 ? std::sqrt(wold / dv.moments->divisor) : 0.0;
    dv.moments->nObs = dv.optSetup->nObsCell = g->n;
    for (int32_t i = 0; i < n; ++i)
        if (s[pk(i, i)] <= velix::kMachEpsWritten * 10000.0)
            for (int32_t j = 0; j < n; ++j) s[pk(i, j)] = 0.0;
    // The swept matrix (of correlations, or of a symmetric matrix's
    // covariances) becomes the partial correlations, and the standard
    // deviations carry its scale under the new divisor: a symmetric matrix
    // then gives the partial covariances the raw data give.
    std::vector<double> sd(n);
    zcovcor(n, s, sd.data());
    for (int32_t i = 0; i < n; ++i) {
        dv.moments->stdDevs[i] *= scale * sd[i];
        if (s[pk(i, i)] <= velix::kMachEpsWritten * 1000.0) s[pk(i, i)] = 0.0;
    }
}

}  // namespace

void velix::detail::partial_regression(ProcContext* ctx, std::vector<double>* coefficients,
                                       std::vector<double>* residualCov) {
    const DataView dv = data_view(ctx);
    const int32_t n = dv.sizes->nManifest;
    const int32_t m = dv.moments->nRead;
    const int32_t q = dv.moments->nPartial;
    const double* sd = dv.moments->stdDevs;
    // After the sweep the rows of the pivots hold the coefficients of the
    // regressions on the partial variables, R22^-1 R21, in the units of
    // the correlations.
    std::vector<double> s(dv.arrays->momentMatrix, dv.arrays->momentMatrix + int64_t{m} * (m + 1) / 2);
    sweep_partial_pivots(dv, s.data());
    if (coefficients != nullptr) {
        coefficients->assign(static_cast<size_t>(n) * q, 0.0);
        for (int32_t i = 0; i < n; ++i)
            for (int32_t k = 0; k < q; ++k)
                if (sd[n + k] > 0.0)
                    (*coefficients)[static_cast<size_t>(i) * q + k] = s[pk(n + k, i)] * sd[i] / sd[n + k];
    }
    if (residualCov != nullptr) {
        residualCov->resize(static_cast<size_t>(n) * (n + 1) / 2);
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j <= i; ++j) (*residualCov)[pk(i, j)] = s[pk(i, j)] * sd[i] * sd[j];
    }
}

namespace {

// Moves the standard deviations of moments with an intercept to the divisor
// about the means and checks that some variable varies; kNoVariance if none.
int32_t check_variances(const DataView& dv, const Group* g) {
    const int32_t n = dv.sizes->nManifest;
    const int32_t m = dv.moments->nRead;
    if (dv.moments->momentOrigin < 0) {
        const double wold = dv.moments->divisor;
        dv.moments->divisor = zvardiv(dv.options->vardefKind, g->n, 1.0, dv.moments->sumWeights);
        if (std::fabs(dv.moments->divisor - wold) > velix::kMachEpsWritten)
            xpmlog(kMsgProc, kMsgInterceptDivisor, dv.moments->divisor);
        const double f = dv.moments->divisor > velix::kMachEpsWritten
                             ? std::sqrt(wold / dv.moments->divisor)
                             : 0.0;
        for (int32_t i = 0; i < m; ++i) dv.moments->stdDevs[i] *= f;
    }
    double trace = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        const double sd = dv.moments->stdDevs[i];
        trace += dv.options->covAnalysis ? sd * sd : (sd > 0.0 ? 1.0 : 0.0);
        if (!(sd > 0.0)) {
            const NameRecord& r = velix::detail::moment_names(dv.ctx)[i];
            xpmlog(kMsgProc, kMsgNoPositiveVariance, static_cast<int32_t>(r.length), r.text);
        }
    }
    if (!(trace > 0.0)) {
        xpmlog(kMsgProc, kMsgNoVariableVaries);
        return kNoVariance;
    }
    return kGoOn;
}

// Adds the RIDGE= ridge, or the automatic one (ridge missing) that lifts
// the smallest eigenvalue to kRidgeTarget in at most kRidgePasses passes.
void apply_ridge(const DataView& dv) {
    const int32_t n = dv.sizes->nManifest;
    double* s = dv.arrays->momentMatrix;
    double r = dv.options->ridgeCell;
    if (!wzmis(r)) {
        if (std::fabs(r) > kTiny) {
            xpmlog(kMsgProc, kMsgMomentsRidged, r);
            for (int32_t i = 0; i < n; ++i) s[pk(i, i)] += r * s[pk(i, i)];
        }
        return;
    }
    std::vector<double> work(6 * std::max(n, 1));
    std::vector<int16_t> index(std::max(n, 1));
    std::copy(s, s + dv.sizes->nMoments, dv.arrays->momentInverse);
    r = host_missing_value();
    bool applied = false;
    if (velix::detail::ridge(n, dv.arrays->momentInverse, work.data(), index.data(), &r) == 0 &&
        r > 0.0) {
        double inc = r;
        for (int pass = 1; pass <= kRidgePasses; ++pass) {
            const double t = inc * 1e-08;  // keeps a zero diagonal from staying zero
            for (int32_t i = 0; i < n; ++i) s[pk(i, i)] += inc * (std::fabs(s[pk(i, i)]) + t);
            applied = true;
            if (pass == kRidgePasses) break;
            std::copy(s, s + dv.sizes->nMoments, dv.arrays->momentInverse);
            double r2 = host_missing_value();
            if (velix::detail::ridge(n, dv.arrays->momentInverse, work.data(), index.data(), &r2) != 0 ||
                r2 <= 0.0)
                break;
            inc = r2;
        }
    }
    if (applied) xpmlog(kMsgProc, kMsgMomentsRidgedAuto);
}

// The smallest eigenvalue of the packed matrix a of order n (a copy is
// reduced); NaN when bisection finds none.
double smallest_eigenvalue(int32_t n, const double* a) {
    std::vector<double> copy(a, a + int64_t{n} * (n + 1) / 2), work(6 * int64_t{n});
    std::vector<int16_t> index(n);
    ztred3(n, copy.data(), work.data());
    if (zbisect(n, -1, 0.0, work.data(), work.data() + 3 * n, index.data(), work.data() + 4 * n) < 1)
        return std::nan("");
    return work[3 * n];
}

// What is wrong with the analysed matrix that cannot be inverted, as the
// text that follows "The " in messages 24 and 25.  On its unit-diagonal
// scaling (the inertia is that of the matrix) an eigenvalue below minus
// the singularity tolerance makes it indefinite: no data gives such
// moments, so the data set is named with the eigenvalue.  Otherwise it is
// singular, and the first Cholesky pivot that fails is a variable that
// the variables before it determine (or one without variance).
HostText* singular_moments_cause(const DataView& dv) {
    const int32_t n = dv.sizes->nManifest;
    const double* s = dv.arrays->momentMatrix;
    DataSetLabel name;
    xoinfo(dv.dataSets->dataSetHandle[kRoleData], kInfoFullName, &name);
    std::vector<double> scaled(s, s + dv.sizes->nMoments);
    int32_t failed = 0;
    while (failed < n && s[pk(failed, failed)] > 0.0 && std::isfinite(s[pk(failed, failed)])) ++failed;
    if (failed == n) {
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j <= i; ++j) scaled[pk(i, j)] /= std::sqrt(s[pk(i, i)] * s[pk(j, j)]);
        if (smallest_eigenvalue(n, scaled.data()) < -dv.options->singular)
            return kyrmsgs(kMsgProc, kMsgMomentsIndefinite, static_cast<int32_t>(name.length), name.text,
                           smallest_eigenvalue(n, s));
        double det[2];
        const int32_t rc = coschin(n, dv.options->singular, det, scaled.data());
        failed = rc < 0 ? -rc - 1 : n - 1;
    }
    const NameRecord& v = velix::detail::moment_names(dv.ctx)[failed];
    return kyrmsgs(kMsgProc, kMsgMomentsSingular, static_cast<int32_t>(name.length), name.text,
                   static_cast<int32_t>(v.length), v.text);
}

// " in the BY group school=1" in a step with BY groups, else nothing.
HostText* by_group_suffix(const DataView& dv) {
    DataSetLabel by;
    if (xoinfo(dv.dataSets->dataSetHandle[kRoleData], kInfoByValues, &by) != 0 || by.length == 0)
        return nullptr;
    return kyrmsgs(kMsgProc, kMsgInByGroup, static_cast<int32_t>(by.length), by.text);
}

// The matrix a method needs cannot be inverted (`cause`): GLS and ML
// cannot be used, ULS-then-GLS and ULS-then-ML go on by ULS only.
// Returns kSingular or kGoOn.
int32_t singular_for_method(const DataView& dv, HostText* cause) {
    const int32_t method = dv.methods->methodGroup;
    if (method == kMethodGls || method == kMethodMl) {
        xpmlog(kMsgProc, kMsgSingularMethod, cause, method == kMethodGls ? "GLS" : "ML", by_group_suffix(dv));
        return kSingular;
    }
    dv.methods->methodGroup = kMethodUls;
    xpmlog(kMsgProc, kMsgSingularUlsOnly, cause, by_group_suffix(dv));
    return kGoOn;
}

// Inverts the analysed matrix into momentInverse with its log-determinant;
// a singular one leaves ULS-then-GLS/ML to ULS and ends GLS and ML with
// kSingular.
int32_t invert_moments(const DataView& dv, bool printInput, bool* invertible) {
    const int32_t n = dv.sizes->nManifest;
    const double* s = dv.arrays->momentMatrix;
    std::copy(s, s + dv.sizes->nMoments, dv.arrays->momentInverse);
    double logdet = 0.0;
    *invertible = scaled_inverse(n, dv.options->singular, dv.arrays->momentInverse, &logdet);
    dv.moments->logDetMoments = *invertible ? logdet : host_special_missing(kMissingM);
    if (printInput && dv.options->printEnabled)
        determinant_table(dv, dv.options->covAnalysis ? "InCovDet" : "InCorrDet",
                          kMsgDeterminantTitle, dv.moments->logDetMoments, kMsgDeterminantRow);
    if (*invertible) return kGoOn;
    const int32_t method = dv.methods->methodGroup;
    if (method == kMethodUlsGls || method == kMethodUlsMl || method == kMethodGls || method == kMethodMl)
        return singular_for_method(dv, singular_moments_cause(dv));
    return kGoOn;
}

// The GLS weights: the analysed matrix (or INWGT=), its variances of the
// moments on the work file and its inverse in the weight matrix.
int32_t gls_weights(const DataView& dv, bool invertible, bool printWeights) {
    const int32_t n = dv.sizes->nManifest;
    const double* s = dv.arrays->momentMatrix;
    double* w = dv.arrays->weightMatrix;
    if (dv.input->inwgtUsed) {
        if (cosfiwt(dv.ctx, 1) != 0) {
            xpmlog(kMsgProc, kMsgWeightsNotFormed);
            return kInwgtNotRead;
        }
    } else {
        std::copy(s, s + dv.sizes->nMoments, w);
    }
    if (std::fabs(dv.options->wRidge) > kTiny) {
        xpmlog(kMsgProc, kMsgWeightsRidged, dv.options->wRidge);
        for (int32_t i = 0; i < n; ++i) w[pk(i, i)] += dv.options->wRidge * w[pk(i, i)];
    }
    const NameRecord* names = velix::detail::moment_names(dv.ctx);
    if (printWeights)
        velix::detail::publish_matrix(dv.ctx, "Weights", kMsgWeightsTable, w, n, n, names, names, "sc",
                                      8);
    dv.moments->weightsOnFile = 1;
    point_file(dv.files->workFile3, 0);
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j) {
            const double d = w[pk(i, i)] * w[pk(j, j)] + w[pk(i, j)] * w[pk(i, j)];
            write_file(dv.files->workFile3, &d, sizeof d);
        }
    // The weights themselves are kept in momentInverse's place only when
    // they can be inverted, so no output comes from a failed factor.
    std::vector<double> weights(w, w + dv.sizes->nMoments);
    bool ok;
    double wlogdet = dv.moments->logDetMoments;
    if (std::fabs(dv.options->wRidge) <= kTiny && !dv.input->inwgtUsed && invertible) {
        std::copy(dv.arrays->momentInverse, dv.arrays->momentInverse + dv.sizes->nMoments, w);
        ok = true;
    } else {
        ok = scaled_inverse(n, dv.options->singular, w, &wlogdet);
        if (ok && printWeights)
            determinant_table(dv, "WeightsDet", kMsgDeterminantTitle, wlogdet,
                              kMsgWeightsDetLabel);
    }
    if (ok) {
        if (dv.dataSets->dataSetHandle[kRoleOutwgt] != nullptr) {
            std::vector<double> inverse(w, w + dv.sizes->nMoments);
            std::copy(weights.begin(), weights.end(), w);
            cosfout(dv.ctx, 0);
            std::copy(inverse.begin(), inverse.end(), w);
        }
        return kGoOn;
    }
    // ULS then GLS: the group is analysed by ULS only; the matrix stays as
    // formed, nothing is converted again.  Its results are not those asked
    // for after a failure, so the step's return code says so.
    // A negative diagonal element (an INWGT= matrix of the wrong sign) is
    // not a matter of the singularity tolerance: say what it is.
    bool negative = false;
    for (int32_t i = 0; i < n; ++i) negative = negative || weights[pk(i, i)] < 0.0;
    const int32_t cause = negative ? kMsgWeightsNotPositiveDefiniteText : kMsgWeightsSingularText;
    if (singular_for_method(dv, kyrmsg(kMsgProc, cause)) == kSingular) return kSingular;
    raise_error_level(dv.ctx, kLevelNoMoments);
    return kGoOn;
}

// Allocates the store of the (I - B) inverses, if the model has one.
void allocate_inverse_store(const DataView& dv) {
    if (dv.sizes->invStoreLen <= 0) return;
    const int64_t bytes = 8 * int64_t{dv.sizes->invStoreLen};
    dv.pools->invPool = xmpoolc(bytes, 1024, 4096);
    if (dv.pools->invPool == nullptr) {
        xmemmsg(bytes);
        xexit(std::max(*dv.errorLevel, kLevelNoMemory), 0);
    }
    dv.moments->invStore = static_cast<double*>(
        dv.pools->invPool->allocate(dv.pools->invPool, static_cast<size_t>(bytes), 4096));
    if (const int32_t c = xmemdef(dv.moments->invStore)) {
        xmemmsg(c + 20000);
        xexit(std::max(*dv.errorLevel, kLevelNoMemory), 0);
    }
}

// Start values: INEST= first, so that its values are kept, then the
// model's own for the elements still missing.
void start_values(const DataView& dv) {
    cosop22(dv.ctx, dv.nlp);
    if (dv.readers->equationModel) cosiset(dv.ctx);
    bool anyMissing = false;
    for (int32_t e = 0; e < dv.sizes->nElements && !anyMissing; ++e) anyMissing = wzmis(dv.elements->value[e]);
    if (anyMissing) {
        if (dv.options->randomSeed != 0) velix::detail::setini(dv.ctx);
        if (dv.readers->factorModel) cosinfa(dv.ctx);
        if (dv.readers->equationModel) cosines(dv.ctx);
    }
    cosinst(dv.ctx);
}

int32_t finish_group(const DataView& dv, Group* g) {
    const int32_t n = dv.sizes->nManifest;
    double* s = dv.arrays->momentMatrix;
    g->partialUsed = 0;
    if (dv.moments->nPartial > 0) sweep_partials(dv, g);
    if (!dv.input->symatrixInput) {
        const int32_t r = check_variances(dv, g);
        if (r != kGoOn) return r;
    }
    // Covariance analysis: the correlations back to covariances.
    if (dv.options->covAnalysis)
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j <= i; ++j) s[pk(i, j)] *= dv.moments->stdDevs[i] * dv.moments->stdDevs[j];
    if (dv.options->printEnabled) cospcor(dv.ctx, g->partialUsed, g->kurtosisStatus, &g->list);
    if (dv.dataSets->dataSetHandle[kRoleOutstat] != nullptr) cosfout(dv.ctx, 1);
    apply_ridge(dv);

    const uint32_t pf = dv.options->printFlags;
    const bool printInput = (pf & (kPrintPcorr | kPrintPall | kPrintPrint)) != 0;
    const bool printWeights = (pf & (kPrintPweight | kPrintPall)) != 0;
    bool invertible = false;
    int32_t r = invert_moments(dv, printInput, &invertible);
    if (r != kGoOn) return r;
    if (dv.methods->methodGroup == kMethodGls || dv.methods->methodGroup == kMethodUlsGls) {
        r = gls_weights(dv, invertible, printWeights);
        if (r != kGoOn) return r;
    }
    allocate_inverse_store(dv);
    start_values(dv);
    return kGoOn;
}

// Input moments that overflow (huge standard deviations beside a
// correlation matrix) would carry Infinity and NaN into every result: false,
// with message 27 naming the first such variable, when the means or the
// packed covariances cov of the manifest variables are not finite.
bool moments_finite(const DataView& dv, const double* cov) {
    for (int32_t i = 0; i < dv.sizes->nManifest; ++i) {
        bool finite = std::isfinite(dv.moments->means[i]) || wzmis(dv.moments->means[i]);
        for (int32_t j = 0; j <= i && finite; ++j) finite = std::isfinite(cov[pk(i, j)]);
        if (!finite) {
            const NameRecord& r = velix::detail::moment_names(dv.ctx)[i];
            xpmlog(kMsgProc, kMsgMomentsOverflow, static_cast<int32_t>(r.length), r.text);
            return false;
        }
    }
    return true;
}

// The N that NOBS=, or EDF= plus one for moments about the means, states;
// missing when neither is given.  A moment data set without an N row is
// read as the moments of this many observations.
double stated_n(const DataView& dv) {
    double N = dv.options->nobsGiven;
    const int a = (dv.moments->momentOrigin == 0 && !dv.options->uncorrectedCov &&
                   !dv.options->uncorrectedCorr) ||
                          dv.options->interceptVar
                      ? 1
                      : 0;
    if (!wzmis(dv.options->edfGiven)) N = dv.options->edfGiven + a;
    return N;
}

// N of the analysis before reading: the stated N less DFREDUCE=; missing
// when no N is stated.
double requested_n(const DataView& dv, double stated) {
    return !wzmis(dv.options->dfReduce) && !wzmis(stated) ? stated - dv.options->dfReduce : stated;
}

// Reads the moments of the group from SYMATRIX input, raw data or a moment
// data set; *nd is on entry the stated N, which a moment data set without
// an N row takes, and on return the reader's N.  Returns the reader's level.
int32_t read_moments(const DataView& dv, double* nd) {
    const int32_t n = dv.sizes->nManifest;
    const int32_t m = dv.moments->nRead;
    const char* kind = dv.options->vardefKind;
    std::vector<double> work(std::max(m, 1) + 5 * std::max(n, 1));
    // Raw data give both; a moment reader clears what it had to default.
    dv.moments->meansGiven = dv.moments->countGiven = 1;
    if (dv.input->symatrixInput) {
        const int32_t level = cosfico(dv.ctx, *nd);
        *nd = dv.moments->nObs;
        return level;
    }
    if (dv.input->rawData)
        return zacorr(dv.dataSets->dataSetHandle[kRoleData], dv.stmtList, kHostListRead, kHostListWeight,
                      kHostListFreq, dv.moments->momentOrigin, dv.arrays->momentMatrix,
                      dv.moments->means, dv.moments->stdDevs, work.data(), kind,
                      &dv.moments->divisor, &dv.moments->sumWeights, nd);
    return zrcorr(dv.dataSets->dataSetHandle[kRoleData], 'R', dv.stmtList, kHostListRead,
                  dv.moments->momentOrigin, dv.input->dataType, dv.arrays->momentMatrix,
                  dv.moments->means, dv.moments->stdDevs, work.data(), kind,
                  &dv.moments->divisor, &dv.moments->sumWeights, nd, dv.ctx);
}

// Places the intercept variable after the manifest ones, with mean 1 and
// standard deviation scale0.
void place_intercept(const DataView& dv, double scale0) {
    const int32_t m = dv.moments->nRead;
    const int32_t mRead = m - 1;
    const int32_t k = dv.sizes->nVar;
    for (int32_t i = m - 1; i > k; --i) {
        dv.moments->means[i] = dv.moments->means[i - 1];
        dv.moments->stdDevs[i] = dv.moments->stdDevs[i - 1];
    }
    dv.moments->means[k] = 1.0;
    dv.moments->stdDevs[k] = scale0;
    std::vector<double> row(m);
    for (int32_t i = 0; i < m; ++i)
        row[i] = dv.moments->stdDevs[i] == 0.0
                     ? 0.0
                     : scale0 * dv.moments->means[i] / dv.moments->stdDevs[i];
    widen(dv.arrays->momentMatrix, mRead + 1, k, row.data());
}

// The divisor in force and those of the kurtosis and weight formulas.
void set_divisors(const DataView& dv, Group* g, double N, double nd, double sw) {
    const char* kind = dv.options->vardefKind;
    const double df = 1.0 - dv.moments->momentOrigin;
    dv.moments->divisor = zvardiv(kind, N, df, sw);
    g->d0 = zvardiv(kind, N, 0.0, sw);
    g->dm1 = zvardiv(kind, N, -df, sw);
    g->d2 = zvardiv(kind, N, 2.0 * df, sw);
    g->d3 = zvardiv(kind, N, 3.0 * df, sw);
    dv.moments->nObs = dv.optSetup->nObsCell = N;
    g->n = N;
    g->nd = nd;
}

// Reports a sample too small for the model and rescales the standard
// deviations from the reader's divisor w0 to the one in force;
// kTooFewObservations when nothing can be analysed.
int32_t check_sample_size(const DataView& dv, double N, double nd, double w0) {
    const int32_t n = dv.sizes->nManifest;
    // Enough observations, but a divisor of the weights that is not
    // positive (VARDEF=WDF with weights summing to 1 or less): no variance
    // can be formed, and the count of observations is not to blame.
    if (N > n && !(dv.moments->divisor > velix::kMachEpsWritten)) {
        const char* kind = dv.options->vardefKind;
        // WDF takes off the degree of freedom of the means, WEIGHT nothing.
        const double lessBy = kind[1] == 'D' ? 1.0 - dv.moments->momentOrigin : 0.0;
        xpmlog(kMsgProc, kMsgDivisorNotPositive, wzstrip(kind, 8), kind, dv.moments->sumWeights, lessBy);
        return kNoVariance;
    }
    if (!(N > n && dv.moments->divisor > velix::kMachEpsWritten)) {
        if (wzmis(dv.options->edfGiven) && wzmis(dv.options->dfReduce))
            xpmlog(kMsgProc, kMsgTooFewObservations, N, n);
        else
            xpmlog(kMsgProc, kMsgTooFewObservationsDf, N, n, nd, dv.options->edfGiven,
                   dv.options->dfReduce);
        if (N < 1.0) return kTooFewObservations;
    }
    // The sums of squares and cross-products are kept: a matrix of the
    // reader's divisor moves to the divisor of the N in force (NOBS=,
    // DFREDUCE=), for a symmetric matrix too, through its standard
    // deviations.
    if (dv.moments->divisor != w0) {
        if (dv.moments->divisor <= velix::detail::kMinPos) return kTooFewObservations;
        const double f = std::sqrt(w0 / dv.moments->divisor);
        for (int32_t i = 0; i < dv.moments->nRead; ++i) dv.moments->stdDevs[i] *= f;
    }
    return kGoOn;
}

// Constant variables among moments about zero: such a variable is an
// intercept.  Its weighted second moment about zero is (sum of weights /
// divisor) times its squared mean.
void find_constant_variables(const DataView& dv, const double* cov, double sw) {
    const int32_t n = dv.sizes->nManifest;
    const double f = dv.moments->divisor > 0.0 ? sw / dv.moments->divisor : 0.0;
    for (int32_t i = 0; i < n; ++i) {
        const double sii = cov[pk(i, i)], mean = dv.moments->means[i];
        if (std::fabs(sii - f * mean * mean) <= velix::kMachEpsWritten * sii && mean != 0.0) {
            dv.moments->momentOrigin = -(i + 1);
            if (!(dv.options->interceptVar && i == dv.sizes->nVar)) {
                const NameRecord& r = velix::detail::moment_names(dv.ctx)[i];
                xpmlog(kMsgProc, kMsgConstantIsIntercept, static_cast<int32_t>(r.length), r.text);
            }
        }
    }
    if (dv.options->interceptVar) dv.moments->momentOrigin = -(dv.sizes->nVar + 1);
}

// The covariance matrix with divisor d0 about the means, without the
// intercept, and its inverse in cov (g->inverse when it exists).
void invert_covariance(const DataView& dv, Group* g, double* cov, double sw) {
    const int32_t n = dv.sizes->nManifest;
    const int32_t intercept = dv.moments->momentOrigin < 0 ? -(dv.moments->momentOrigin + 1) : -1;
    const double f =
        dv.moments->divisor != g->d0 && g->d0 > 0.0 ? dv.moments->divisor / g->d0 : 1.0;
    // Moments about zero with divisor d0 less (SW / d0) m_i m_j are the
    // weighted cross-products about the means over d0.
    const double meanFactor = g->d0 > 0.0 ? sw / g->d0 : 1.0;
    std::vector<double> c;
    for (int32_t i = 0; i < n; ++i) {
        if (i == intercept) continue;
        for (int32_t j = 0; j <= i; ++j) {
            if (j == intercept) continue;
            double v = cov[pk(i, j)] * f;
            if (dv.moments->momentOrigin != 0)
                v -= meanFactor * dv.moments->means[i] * dv.moments->means[j];
            c.push_back(v);
        }
    }
    const int32_t order = n - (intercept >= 0 ? 1 : 0);
    double ld = 0.0;
    g->inverse = scaled_inverse(order, dv.options->singular, c.data(), &ld);
    if (g->inverse) {
        std::copy(c.begin(), c.end(), cov);
    } else if (dv.input->rawData) {
        xpmlog(kMsgProc, kMsgCovNotPositiveDefinite);
    }
}

int32_t run(const DataView& dv, Group* g) {
    const double missing = host_missing_value();
    const int32_t n = dv.sizes->nManifest;
    const int32_t m = dv.moments->nRead;
    const int32_t method = dv.methods->methodGroup;
    const bool wlsType = method >= kMethodWls && method <= kMethodUlsDwls;

    vzfdl(missing, dv.moments->means, 4 * (m + 1));
    vzfdl(missing, dv.arrays->momentMatrix, m * (m + 1) / 2);
    const int64_t pstar = dv.sizes->nMoments;
    if (is_wls(dv.methods->methodRequested)) vzfdl(missing, dv.arrays->weightMatrix, static_cast<int32_t>(pstar * (pstar + 1) / 2));
    else if (is_dwls(dv.methods->methodRequested)) vzfdl(missing, dv.arrays->weightMatrix, static_cast<int32_t>(pstar));

    const double stated = stated_n(dv);
    double N = requested_n(dv, stated);
    double nd = stated;
    const int32_t level = read_moments(dv, &nd);
    raise_error_level(dv.ctx, level);
    if (level >= 5) return kReaderFailed;

    // The reader's divisor.
    const double w0 = dv.moments->divisor;
    const double sw = dv.moments->sumWeights;
    // The intercept's second moment about zero is (sum of weights) / W0, so
    // its standard deviation under the reader's divisor is sqrt(SW / W0); it
    // is sqrt(N / W0) when every weight is 1 (frequencies count in both).
    const double scale0 = w0 > velix::detail::kMinPos ? std::sqrt(sw / w0) : 0.0;
    if (wzmis(N)) {
        N = nd;
        if (!wzmis(dv.options->dfReduce)) N -= dv.options->dfReduce;
    }
    if (dv.options->interceptVar) place_intercept(dv, scale0);
    set_divisors(dv, g, N, nd, sw);
    const int32_t sized = check_sample_size(dv, N, nd, w0);
    if (sized != kGoOn) return sized;

    // The covariance work matrix (order n).
    double* cov = dv.arrays->momentInverse;
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j)
            cov[pk(i, j)] = dv.input->symatrixInput ? dv.arrays->momentMatrix[pk(i, j)]
                                                     : dv.arrays->momentMatrix[pk(i, j)] * dv.moments->stdDevs[i] *
                                                           dv.moments->stdDevs[j];
    if (!moments_finite(dv, cov)) return kNotFinite;
    if (!dv.input->symatrixInput && dv.moments->momentOrigin != 0) find_constant_variables(dv, cov, sw);
    vzfdl(missing, dv.moments->kurtosisCells, kKurtCellCount);

    const bool outstat = dv.dataSets->dataSetHandle[kRoleOutstat] != nullptr;
    if (wlsType || dv.options->kurtosisWanted || outstat) invert_covariance(dv, g, cov, sw);
    const double* inverse = g->inverse ? dv.arrays->momentInverse : nullptr;
    std::vector<double> inverseCopy;
    if (inverse != nullptr) {
        inverseCopy.assign(inverse, inverse + dv.sizes->nMoments);
        inverse = inverseCopy.data();
    }

    bool kurtosisDone = false;
    if (wlsType) {
        const int32_t r = wls_weights(dv, g, inverse);
        if (r >= 0) return r;
        kurtosisDone = !dv.input->inwgtUsed && (dv.methods->methodGroup == method);
    }
    // Kurtosis of raw data.
    if (dv.input->rawData && (dv.options->kurtosisWanted || outstat)) {
        int32_t lv = 0;
        if (!kurtosisDone) lv = coskurt(dv.ctx, 1, 5, 6, inverse, &g->list);
        if (lv >= 5 || lv < 0) {
            xpmlog(kMsgProc, kMsgKurtosisNotComputed);
            dv.options->kurtosisWanted = 0;
        } else {
            g->kurtosisStatus =
                velix::detail::kurtosis_coefficients(dv.ctx, g->d0, g->dm1, g->d2, g->d3, inverse != nullptr, &g->list);
        }
    }
    return finish_group(dv, g);
}

}  // namespace

int32_t coscorr(ProcContext* ctx) {
    const DataView dv = data_view(ctx);
    // 1. Entry.
    dv.methods->methodGroup = dv.methods->methodRequested;
    dv.moments->weightsOnFile = 0;
    dv.moments->varianceBlockWritten = 0;
    // The corrections of the degrees of freedom (exogenous covariances set
    // from the sample, active constraints) belong to this group alone.
    dv.moments->modelDf = 0;
    // The origin of the moments is the option's for every BY group: an
    // intercept found in an earlier group does not carry over.
    if (!dv.moments->momentOriginKept) {
        dv.moments->momentOriginOption =
            dv.moments->momentOrigin < 0 ? 1 : dv.moments->momentOrigin;
        // The augmented moment matrix is a matrix of moments about zero: the
        // intercept carries the means.
        if (dv.options->uncorrectedCov || dv.options->uncorrectedCorr ||
            dv.options->interceptVar)
            dv.moments->momentOriginOption = 1;
        dv.moments->momentOriginKept = 1;
    }
    dv.moments->momentOrigin = dv.moments->momentOriginOption;
    velix::detail::allocate_moment_arrays(dv.ctx);

    Group g;
    const int32_t result = run(dv, &g);

    // 24. Exit.  Too few observations was only a note so far.
    if (result == kTooFewObservations) xpmlog(kMsgProc, kMsgTooFewForAnalysis, dv.moments->nObs);
    if (result != 0) raise_error_level(dv.ctx, kLevelNoMoments);
    zmsgsav(0, 0, nullptr, 0);
    if (*dv.errorLevel > kLevelStepEnds) xexit(*dv.errorLevel, 0);
    return result;
}
