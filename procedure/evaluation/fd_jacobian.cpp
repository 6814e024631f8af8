// Forward-difference Jacobian of the implied moments (Dennis and Schnabel,
// "Numerical Methods for Unconstrained Optimization", sec. 5.4): the step
// c max(1, |x_k|) with c close to the square root of the machine epsilon;
// inverse forms are recomputed only for the matrices the moved parameters
// reach.
//
//   base := moments at x
//   for each k: x_k += h; m := moments; x_k restored
//     failure: evaluate at x again, report failure
//     d := (m - base) / h; mode 5: row k; mode 6: weighed, record k
//   evaluate at x again (elements and inverse forms of x)
#include "procedure/evaluation/fd_jacobian.h"

#include <algorithm>
#include <cmath>

#include "numerics/kernel_support.h"
#include "procedure/evaluation/discrepancy_functions.h"
#include "procedure/evaluation/implied_moments.h"
#include "procedure/evaluation/jacobian.h"
#include "velix/nlp.h"
#include "velix/packed_index.h"
#include "velix/types.h"

namespace {

constexpr double kStep = velix::kSqrtMachEpsWritten;  // about sqrt(DBL_EPSILON) / 1.4

// Whether an inverse form of a matrix may be stale after parameter k or
// k-1 (0-based) moved: the matrix holds one of them, or any dependent
// parameter (which may move with either).
bool stale_after(const EvalView& v, int32_t k) {
    for (int32_t m = 1; m <= v.nMatrices; ++m) {
        if (v.mt->form[m] == kFormNone) continue;
        const int32_t e0 = v.mt->firstElement[m], e1 = e0 + v.mt->elementCount[m];
        for (int32_t e = e0; e < e1; ++e) {
            const int32_t p = v.el->parameter[e];
            if (p < 0 || p == k + 1 || p == k) return true;
        }
    }
    return false;
}

// The moments at x into the base column (jac.other); 0 or 1.
int32_t base_moments(const EvalView& v) {
    if (vfunct(&v, v.nParmFree) != 0) return 1;
    std::copy(v.st->jac.weighted, v.st->jac.weighted + v.pstar, v.st->jac.other);
    return 0;
}

// Column k into jac.weighted from the perturbed moments; 0 or 1.
int32_t difference_column(const EvalView& v, int32_t k) {
    double* x = v.nlp->x;
    const double old = x[k];
    const double h = fd_jacobian_step(old);
    x[k] = old + h;
    const int32_t rc = vfunct(&v, k);
    x[k] = old;
    if (rc != 0) return 1;
    double* d = v.st->jac.weighted;
    const double* base = v.st->jac.other;
    for (int32_t m = 0; m < v.pstar; ++m) d[m] = (d[m] - base[m]) / h;
    return 0;
}

int32_t store_column(const EvalView& v, int32_t k) {
    double* d = v.st->jac.weighted;
    const int32_t p = v.pstar;
    if (*v.jacobianMode == 5) {
        std::copy(d, d + p, velix::detail::jacobian_store(v) + int64_t{k} * p);
        return 0;
    }
    const bool weighted = v.method == kMethodWls || v.method == kMethodDwls;
    if (weighted && velix::detail::weigh_column(v, d) != 0) return 1;
    velix::detail::file_put(weighted ? v.weightedFile : v.columnFile, 8 * int64_t{p} * k, d, p);
    return 0;
}

}  // namespace

double fd_jacobian_step(double x) {
    return std::max(kStep, kStep * std::fabs(x));
}

int32_t vfunct(const EvalView* view, int32_t k) {
    const EvalView& v = *view;
    if (cosresv(view, 0) != 0) return 1;
    if (stale_after(v, k)) {
        std::fill(v.st->invDone, v.st->invDone + v.nMatrices + 1, int16_t{0});
        if (v.invertOnce && cosimat(view, 0, 0) != 0) return 1;
    }
    double* m = v.st->jac.weighted;
    if (implied_moments(view, m) != 0) return 1;
    if (v.st->diagFromData)
        for (int32_t i = 0; i < v.n; ++i) m[velix::pk_lower(i, i)] = v.S[velix::pk_lower(i, i)];
    return 0;
}

int32_t cosjafd(const EvalView* view) {
    const EvalView& v = *view;
    if (*v.jacobianMode != 5 && *v.jacobianMode != 6) return 1;
    if (base_moments(v) != 0) return 1;
    int32_t rc = 0;
    for (int32_t k = 0; k < v.nParmFree && rc == 0; ++k) {
        if (difference_column(v, k) != 0) {
            // The matrices now hold the failed point: evaluate x again.
            vfunct(view, k);
            rc = 1;
        } else {
            rc = store_column(v, k);
        }
    }
    // Leave the elements and inverse forms of x (the last column moved
    // parameter q-1).
    if (vfunct(view, v.nParmFree) != 0) rc = 1;
    return rc;
}
