// Symmetric eigen driver: Householder tridiagonalisation (TRED3), implicit
// QL for the eigenvalues (IMTQLV) with Sturm bisection (TRIDIB) as the
// fallback, inverse iteration for the vectors (TINVIT), back
// transformation (TRBAK3), and a pivoted Householder QR (LINPACK DQRDC;
// Dongarra et al., "LINPACK Users' Guide", SIAM 1979, ch. 9) to test the
// vectors of clusters of close eigenvalues for linear dependence.
#include "numerics/eigen.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "numerics/bisect.h"
#include "numerics/kernel_support.h"
#include "numerics/tridiag.h"
#include "velix/host_vector.h"

namespace {

using velix::kMachEps;
using velix::kSqrtMachEps;
using velix::kDblMin;


}  // namespace

// Steps:
//   1. check the arguments;
//   2. reduce (ztred3), keeping a copy of the TridiagonalWork at 5n;
//   3. eigenvalues by zimtqlv, reversed to descending order; on failure
//      restore the copy and take all n from zbisect (already descending);
//   4. m = 0: done;
//   5. vectors of the first m (the largest) by ztinvit, back-transformed;
//   6. rank check of the clusters (zeiggrp); 7. sign convention (zeigref).
int32_t zeigen2(int32_t n, double* ap, double* ev, int32_t m, double* z, double* work) {
    if (n < 1 || m < 0 || m > n || ap == nullptr || ev == nullptr || work == nullptr ||
        (m > 0 && z == nullptr))
        return kZeigen2InvalidCall;
    const int64_t nn = n;
    double* tw = work;
    double* saved = work + 5 * nn;
    int16_t* tags = reinterpret_cast<int16_t*>(work + 3 * nn);
    ztred3(n, ap, tw);
    std::memcpy(saved, tw, sizeof(double) * 3 * nn);
    bool fallback = false;
    if (zimtqlv(n, tw, ev, tags, work + 4 * nn) != 0) {
        std::memcpy(tw, saved, sizeof(double) * 3 * nn);
        if (zbisect(n, n, 0.0, tw, ev, tags, work + 4 * nn) < n) return kZeigen2BisectionShort;
        fallback = true;
    } else {
        std::reverse(ev, ev + n);
        std::reverse(tags, tags + n);
        tw[2 * nn] = 2.0;  // the order flag ztinvit reads: descending
    }
    if (m == 0) return fallback ? kZeigen2Fallback : 0;
    const int32_t code = ztinvit(n, m, tw, ev, tags, z, work + 4 * nn);
    ztrbak3(n, m, ap, z);
    if (m > 1 && zeiggrp(n, m, tw, ev, z, work + 4 * nn) != 0) return kZeigen2DependentCluster;
    zeigref(n, m, z);
    return fallback ? code + kZeigen2Fallback : code;
}

int32_t zeiggrp(int32_t n, int32_t m, const double* t, const double* ev, double* z, double* wk) {
    const int64_t nn = n;
    const double* d = t;
    const double* e = t + nn;
    double norm = std::fabs(d[0]);
    for (int64_t i = 1; i < n; ++i) norm += std::fabs(d[i]) + std::fabs(e[i]);
    // Eigenvalues closer than 1000 units of roundoff of the matrix norm are
    // not separated by the computation; their vectors are checked together.
    const double thr = 1000.0 * kMachEps * norm;
    // A remaining column norm this small is an exactly dependent vector.
    const double tiny = 10.0 * kDblMin;
    double* qraux = wk;
    double* colnorm = wk + nn;
    int32_t* idx = reinterpret_cast<int32_t*>(wk + 2 * nn);
    int32_t* jpvt = reinterpret_cast<int32_t*>(wk + 3 * nn);
    int32_t k = 0;
    for (int32_t r = 1; r < m; ++r) {
        if (std::fabs(ev[r] - ev[r - 1]) < thr) {
            if (k == 0) idx[k++] = r - 1;
            idx[k++] = r;
        } else {
            if (k >= 2 && modqrd(k, n, idx, jpvt, tiny, z, qraux, colnorm) != 0) return 1;
            k = 0;
        }
    }
    if (k >= 2 && modqrd(k, n, idx, jpvt, tiny, z, qraux, colnorm) != 0) return 1;
    return 0;
}

// Steps (DQRDC with the row set given by idx):
//   column norms; for each row position l: bring the column of largest
//   remaining norm to position l, form the Householder reflection of its
//   rows l .. k-1, apply it to the later columns and downdate their norms
//   (recomputing when cancellation makes the downdate unreliable), and
//   leave the diagonal element of R in the pivot column.
int32_t modqrd(int32_t k, int32_t n, const int32_t* idx, int32_t* jpvt, double tiny, double* z,
               double* qraux, double* colnorm) {
    const int64_t nn = n;
    auto X = [z, idx, nn](int64_t r, int64_t j) -> double& { return z[idx[r] * nn + j]; };
    auto column_norm = [&](int64_t j, int64_t from) {
        double s = 0.0;
        for (int64_t r = from; r < k; ++r) s += X(r, j) * X(r, j);
        return std::sqrt(s);
    };
    for (int64_t j = 0; j < n; ++j) {
        jpvt[j] = static_cast<int32_t>(j);
        qraux[j] = colnorm[j] = column_norm(j, 0);
    }
    int32_t dependent = 0;
    for (int64_t l = 0; l < k; ++l) {
        int64_t maxj = l;
        for (int64_t j = l + 1; j < n; ++j)
            if (qraux[j] > qraux[maxj]) maxj = j;
        if (maxj != l) {
            std::swap(jpvt[l], jpvt[maxj]);
            qraux[maxj] = qraux[l];
            colnorm[maxj] = colnorm[l];
        }
        const int64_t c = jpvt[l];
        double nrm = column_norm(c, l);
        if (nrm <= tiny) {
            ++dependent;
            qraux[l] = 0.0;
        } else {
            if (X(l, c) < 0.0) nrm = -nrm;
            for (int64_t r = l; r < k; ++r) X(r, c) /= nrm;
            X(l, c) += 1.0;
            for (int64_t j = l + 1; j < n; ++j) {
                const int64_t cj = jpvt[j];
                double t = 0.0;
                for (int64_t r = l; r < k; ++r) t -= X(r, c) * X(r, cj);
                t /= X(l, c);
                for (int64_t r = l; r < k; ++r) X(r, cj) += t * X(r, c);
                if (qraux[j] != 0.0) {
                    const double ratio = std::fabs(X(l, cj)) / qraux[j];
                    const double tt = std::max(0.0, 1.0 - ratio * ratio);
                    const double rel = qraux[j] / colnorm[j];
                    // Downdating factor 0.5: recompute the norm once the
                    // downdated value has lost about half its digits.
                    if (1.0 + 0.5 * tt * rel * rel == 1.0)
                        qraux[j] = colnorm[j] = column_norm(cj, l + 1);
                    else
                        qraux[j] *= std::sqrt(tt);
                }
            }
            qraux[l] = -nrm;
        }
        X(l, c) = qraux[l];
        for (int64_t r = l + 1; r < k; ++r) X(r, c) = 0.0;
    }
    return dependent;
}

void zeigref(int32_t n, int32_t m, double* z) {
    // Components at the level of accumulated roundoff are cleared so that
    // the sign decision below is not made on noise.
    const double zero_level = 100.0 * kMachEps * n;
    for (int64_t r = 0; r < m; ++r) {
        double* v = z + r * static_cast<int64_t>(n);
        for (int64_t i = 0; i < n; ++i)
            if (std::fabs(v[i]) <= zero_level) v[i] = 0.0;
        double decide = zvsum(v, n);
        if (std::fabs(decide) < kSqrtMachEps) {
            decide = 0.0;
            double best = 0.0;
            for (int64_t i = 0; i < n; ++i) {
                if (std::fabs(v[i]) > best + kSqrtMachEps) {
                    best = std::fabs(v[i]);
                    decide = v[i];
                }
            }
        }
        if (decide < 0.0)
            for (int64_t i = 0; i < n; ++i) v[i] = -v[i];
    }
}
