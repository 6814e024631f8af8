// The modification indices of all fixed cells of a model matrix at once.
// A cell (r, c) of a matrix that the term walk visits with the products U
// and V moves the implied moments by dC = s (u v' + v u'), u = U e_r,
// v = V e_c (and the exchanged term for a symmetric layout).  For GLS and
// ML (weight K = S^-1 or C^-1) everything a cell needs is bilinear in u
// and v:
//   gamma = tr(dC G)             = 2 s u'G v            (G = dF/dC)
//   delta = tr(dC K dC K)        = 2 s^2 [(u'Ku)(v'Kv) + (u'Kv)^2]
//   b_k   = tr(K dC K J_k)       = 2 s x' J_k y,  x = K u, y = K v
// so that the matrices U'GV, U'KU, V'KV and U'KV give gamma and delta of
// every cell, and the bordering rows b of a block of cells follow from the
// Jacobian's groups of nonzeros sharing a variable (J_k = sum over groups of
// e_p a' + a e_p'): x'J_k y = sum of x_p (a'y) + (x'a) y_p, one pair of
// rank-one updates of the block per group.  WLS weighs each cell's dC by
// the factor of its weight matrix, and its b_k are the products of the
// weighted dC with the weighted columns.  The Schur complement needs b'Vb
// of each cell, which packed_forms.h forms for a block of cells without
// changing or copying V.  (Sorbom 1989; the bilinear forms as in the
// cross product of cross_product.h.)
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "procedure/evaluation/sparse_jacobian.h"
#include "procedure/results/lagrange.h"
#include "procedure/results/modification_indices.h"

struct WalkStep;
struct HostAllocator;

// A fixed cell (row r, column c) to compute.
struct LmCellRef {
    int32_t r = 0, c = 0;
};

// What the indices of every matrix of the walk share: the covariance of
// the estimates (held in the work's pool when the memory rule allows,
// else read from the information scratch in panels of rows for each block
// of cells), V g and V's diagonal, the weight and dF/dC as dense matrices,
// and the block buffers.  Owner: cosmod1, for one walk.
class LmCellWork {
   public:
    LmCellWork() = default;
    LmCellWork(const LmCellWork&) = delete;
    LmCellWork& operator=(const LmCellWork&) = delete;
    ~LmCellWork();

    // Sizes the work for matrices shown with at most `wide` rows and
    // columns and applies the memory rule: the bytes E of the work
    // and E' = E + those of a copy of V; when E' + 20000 is below what one
    // allocation may take and E' below three quarters of it the copy is
    // held, else message 352/149 and V is read by panels.  false after the
    // host's memory message and 352/150 when the pool cannot be had.
    bool begin(const LmSetup* s, int32_t wide);
    // V_ii, the variance of free parameter i up to kappa.
    double variance(int32_t i) const { return diag_[i]; }

    // The cells of the matrix the walk visits with `step`, shown as rows x
    // cols (the leading block of the matrix); `sym` for a symmetric layout
    // (cells c <= r, each standing for (c, r) too).  out[i] is the outcome
    // of cells[i].  A cell whose derivative is a multiple sigma of
    // e_i e_j' + e_j e_i' (u and v each with one nonzero, as the paths and
    // covariances of error terms give) takes the index of the first such
    // cell of the walk and its change divided by sigma: the index does not
    // depend on the scale of the derivative.
    void matrix_cells(const WalkStep& step, int32_t rows, int32_t cols, bool sym,
                      const std::vector<LmCellRef>& cells, std::vector<LmCell>* out);

   private:
    struct Products;
    bool allocate(int64_t groups, bool holdCovariance);
    void column_groups(int32_t k);
    void products(const WalkStep& step, bool sym, Products* p);
    void group_products(const Products& p);
    void kron_block(const Products& p, bool sym, const LmCellRef* cells, int32_t count, int32_t r0,
                    int32_t rowCount);
    void wls_block(const WalkStep& step, const Products& p, bool sym, const LmCellRef* cells, int32_t count);
    void finish_block(int32_t count, LmCell* out);
    void compute_wls(const WalkStep& step, const Products& p, bool sym, const std::vector<LmCellRef>& cells,
                     std::vector<LmCell>* out);
    void compute_kron(const Products& p, bool sym, const std::vector<LmCellRef>& cells, std::vector<LmCell>* out);
    void shared_cells(const WalkStep& step, bool sym, int32_t rows, int32_t cols, const std::vector<LmCellRef>& cells,
                      std::vector<int64_t>* key, std::vector<double>* sigma);

    const LmSetup* s_ = nullptr;
    HostAllocator* pool_ = nullptr;
    const double* V_ = nullptr;     // the packed covariance, or null: read by panels
    double* panel_ = nullptr;       // kFormPanel rows of V read from the scratch
    double* Vg_ = nullptr;          // q
    double* diag_ = nullptr;        // q
    double* Kd_ = nullptr;          // n x n: the weight (GLS, ML)
    double* Gd_ = nullptr;          // n x n: dF/dC
    double* tile_ = nullptr;        // tileCap: q blocks of rows x cols
    double* B_ = nullptr;           // cellCap x q: the bordering rows
    double* T_ = nullptr;           // cellCap x kFormPanel: the forms' scratch
    double* Y_ = nullptr;           // WLS: cellCap x p*, the weighted derivatives
    double* XA_ = nullptr;          // groups x wide: x'a of each group
    double* YA_ = nullptr;          // groups x wide: y'a
    double* matrices_ = nullptr;    // the per-matrix products (Products)
    double* gamma_ = nullptr;       // cellCap each: gamma, delta, b'Vb, b'Vg
    double* delta_ = nullptr;
    double* bVb_ = nullptr;
    double* bVg_ = nullptr;
    int64_t tileCap_ = 0;
    int32_t cellCap_ = 0, wide_ = 0;
    double scale_ = 0.0;            // the step's scale s
    std::vector<int32_t> pivot_, paramEnd_;  // the groups of the Jacobian's columns
    RowGroups groups_;                       // those of one column
    std::vector<int32_t> entryRow_, entryCol_;
    std::vector<double> entryValue_, dC_;
    std::vector<int32_t> columns_, column_;  // a block's columns, and the place of each
    std::vector<double> gathered_;           // a group's y'a and y_p at those columns
    // The outcome of the canonical derivative e_i e_j' + e_j e_i' by i n + j
    // (i >= j), its change that of a unit move along it.
    std::unordered_map<int64_t, LmCell> shared_;
};
