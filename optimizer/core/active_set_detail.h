// Shared inside the constraint units of the optimizer core: tolerances and
// row residuals, and the techniques' carried reduced matrix that every
// change of the active set keeps consistent with the null space.
#pragma once

#include <cstdint>
#include <vector>

#include "velix/nlp.h"

namespace velix::detail {

// feasTol raised tenfold `round` times.
double working_tolerance(const NlpProblem* p, int32_t round);
// a_k x - b_k, the row fetched into rowBuffer.
double row_residual(NlpProblem* p, int32_t k);
// The row tolerance max(t (1 + |b|), t).
double row_threshold(double t, double rhs);
// No general row is active and the technique keeps no basis: Q is the
// identity of the free space.
bool q_is_identity(const NlpProblem* p);
// The dense routines refuse the sparse form (an internal error).
void refuse_rows_form(const NlpProblem* p, const char* routine);
// Position of a parameter in the free part of freeList, -1 when absent.
int32_t free_position(const NlpProblem* p, int32_t param);
// Packs the upper triangle of the m x m row-major r after annihilating its
// part below the diagonal by row rotations (R'R is kept).
void retriangularize(int32_t m, double* r, double* packed);

// A plane rotation of the pair: x := c x + s y, y := c y - s x.
inline void rotate_pair(double& x, double& y, double c, double s) {
    const double u = x, v = y;
    x = c * u + s * v;
    y = c * v - s * u;
}

// The point of the active rows over the free positions (the range part
// Y u with T'u = b, b reduced by the held parameters on their bounds) into
// xr (nf entries).  false when the rows cannot be solved (a negligible
// pivot).
bool range_part(NlpProblem* p, std::vector<double>& xr);
// The bound a held parameter sits on (lower for states 1 and 2).
inline double held_bound(const NlpProblem* p, int32_t q) { return p->active.boundState[q] > 0 ? p->param.lower[q] : p->param.upper[q]; }

// Column j of the sparse form's store (n doubles, the first nFree
// significant), from memory or the utility file.
void sparse_read_column(NlpProblem* p, int32_t j, double* out);
// V (U along the stored columns) and W (minus the part of U orthogonal to
// them) from U in sparseWork.
void sparse_project(NlpProblem* p);

// ---- shared by the feasible-start searches of both forms ----
// feasTol raised tenfold feasRound times.
double tol_now(const NlpProblem* p);
bool lower_violated(const NlpProblem* p, int32_t i, double t);
bool upper_violated(const NlpProblem* p, int32_t i, double t);
bool on_lower(const NlpProblem* p, int32_t i, double t);
bool on_upper(const NlpProblem* p, int32_t i, double t);
// Row k is in the active list or its dependent tail.
bool listed(const NlpProblem* p, int32_t row);
// Lowers feasRound to the fewest raises at which x meets the bounds and
// rows: a search raises the tolerance on its way, but the point it finds
// often meets them at LCEPS itself, and the run works at the tolerance
// it is given.  The active set is that of x at the round kept; 0 when x
// passes at a round not above the one given, else -1.
int32_t lowest_passing_round(NlpProblem* p);
// 0 when every held constraint is met at min(feasTol 10^k, 0.001), else
// the code of the last violation (1 fixed, 2 lower, 3 upper, 4 equality).
int32_t tsteqc(NlpProblem* p, int32_t k);
// One pass's start set into workList (nActiveLin rows) and the states
// (nActiveBounds held); false when it is empty.
bool feasible_start_set(NlpProblem* p);

// The carried vector and matrix of an active-set change (see active_set.h).
struct Carried {
    int32_t mode = 0;
    int32_t* order = nullptr;
    double* vector = nullptr;
    double* matrix = nullptr;

    // Null columns i and j = i + 1 rotated: z_j := c z_j + s z_i, z_i :=
    // c z_i - s z_j.
    void rotate(int32_t i, int32_t j, double c, double s);
    // The last null column leaves.
    void drop_last();
    // Mode 2 under rotations of the null space: the factor's rows follow
    // the null columns in order.
    void identity_pivots(NlpProblem* p) const;
    // The null direction z (by parameter) joins as the last row and
    // column.  0, 1 unit column (no Hessian, or mode 0), 2 pivot not positive.
    int32_t extend(NlpProblem* p, const double* z, const double* hessian);
    // The basis changes from qOld (nf x nf) to the identity.
    void rebase(const double* qOld, int32_t nf);
};

}  // namespace velix::detail
