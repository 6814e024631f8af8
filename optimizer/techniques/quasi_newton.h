// The quasi-Newton matrix shared by QUANEW (both forms), DBLDOG and
// HYQUAN: a packed matrix over the free set that is either the inverse
// approximation H or the Cholesky factor L of B = L L', with the start
// matrix, the direction -H g (or the solve with L L'), the curvature
// product and the update through the problem's update slot.  Internal to
// the technique units.
#pragma once

#include <cstdint>

#include "optimizer/techniques/support.h"

namespace velix::detail {

enum class QuasiNewtonForm { kInverse = 1, kFactor = 3 };

struct QuasiNewton {
    QuasiNewtonForm form;
    double* m = nullptr;        // H or L, packed, order frame.k
    double* s = nullptr;        // step and gradient change over the free set
    double* y = nullptr;
    double* w1 = nullptr;       // work of the update (k, k, k*k)
    double* w2 = nullptr;
    double* w3 = nullptr;
    bool fresh = true;          // the matrix is a start matrix not yet updated

    // The doubles the matrix and its work take for n parameters.
    static int64_t doubles(int32_t n);
    void take(Frame* fr);
    // The start matrix (INHESSIAN, the automatic diagonal or the Hessian;
    // rescaled by the first update).
    void reset(Frame* fr);
    // out := -H g (or the solve with B) over the free set, both of length k.
    void direction(const Frame& fr, const double* g, double* out) const;
    // g'H g (or g'B^-1 g) over the free set; tmp k doubles.
    double measure(const Frame& fr, const double* g, double* tmp) const;
    // The update from xBase, gradBase to x, gradient over the free set.
    void update(Frame* fr);
};

// The QUANEW iteration on one matrix form.
int32_t quasi_newton_run(NlpProblem* p, QuasiNewtonForm form);

}  // namespace velix::detail
