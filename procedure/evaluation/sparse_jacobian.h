// The Jacobian of the implied moments at its structural nonzeros only
// (modes 11 and 12), in the compressed rows of EvaluationState::jac that
// the pattern analysis laid out (jacobian_pattern.h), and the sparse-column
// kernels of the cross product.  Column k of the Jacobian is "sparse row k":
// entries jac.rowEnd[k-1] .. jac.rowEnd[k]-1, ascending in the packed
// index i(i+1)/2 + j of their moments.
#pragma once

#include <cstdint>
#include <vector>

#include "procedure/evaluation/model_view.h"

// The values at the current point into jac.nzValue.  Returns 0, or 1 when
// a term's inverse forms fail (messages 352/40, 352/41).
int32_t cosjasp(const EvalView* view);

// out (packed p*) := K J_k K for sparse row k, K the dense weight in
// view.st->kDense (fill_weight_dense); positions without a contribution get
// 0.  Returns the end of row k's range.
int32_t spkron(const EvalView* view, int32_t k, double* out);
// The rank-two shares k_i w' + w k_i' of K J_k K (K as in spkron), one per
// group of the nonzeros of row k that share a variable i: k_i (row i of K)
// and w into the rows of kRows and wRows (each at least n x n).  Returns
// the number of groups; uses view.st->nzIndex, pivots and work3.
int32_t spgroups(const EvalView* view, int32_t k, double* kRows, double* wRows);
// Rank-two shares k_g w_g' + w_g k_g' side by side: element i of k_g at
// k[i * stride + g], likewise w; `used` of them.  The stride is a multiple
// of kShareChunk, which the kernel reads whole (the values past `used`
// only reach sums past `used`).
inline constexpr int32_t kShareChunk = 16;
struct SharePanel {
    double* k = nullptr;
    double* w = nullptr;
    int32_t stride = 0;
    int32_t used = 0;
};
// The nonzeros of every sparse row in the groups of spgroups: group h of
// row k is e_i a' + a e_i' (a diagonal moment halved into a(i)) with
// i = pivot[h] and a's entries (index, value) from start[h] to
// start[h + 1], ascending in index; row k's groups end at rowEnd[k].
//
// The vectors a that several groups carry alike (spgroup_alike): group h
// with alike[h] = s >= 0 has a = factor[h] times the vector of slot s, which
// is that of group slotGroup[s], the last group of the slot being
// slotLast[s]; alike[h] = -1 for a vector no other group carries.  Empty
// until spgroup_alike fills them.
struct RowGroups {
    std::vector<int32_t> rowEnd, pivot, start, index;
    std::vector<double> value;
    std::vector<int32_t> alike, slotGroup, slotLast;
    std::vector<double> factor;
};
// All rows grouped into out (reset); uses what spgroups uses.
void spgroup_rows(const EvalView* view, RowGroups* out);
// The groups of all rows with their slots (spgroup_rows, spgroup_alike),
// kept in EvaluationState::rowGroups while the pattern stays: a later call
// takes a's entries from the current values and checks each slot's
// multiples again, forming all anew only when a value became zero or
// nonzero or a multiple no longer holds.  Valid until the next call or
// spgroup_rows_done, which drops the groups of a large pattern (a small
// model's are kept).
const RowGroups& spgroup_rows_kept(const EvalView* view);
void spgroup_rows_done(EvaluationState* st);
// Drops the kept groups (a new pattern); spgroup_release frees them.
void spgroup_forget(EvaluationState* st);
void spgroup_release(EvaluationState* st);
// Fills the slots of rows (in-out): the groups whose vectors have the same
// indices and values in the same ratio to a few units of roundoff (in a
// factor model, the loadings of one factor, and a factor covariance's
// groups, multiples of one loading vector).
void spgroup_alike(RowGroups* rows);
// The products of the slots used by groups from `first` on with the shares
// of the panel: a'k_g at products[s * 2 * stride + g], a'w_g stride further
// (slots not used from `first` on left as they were).  out: products, at
// least 2 * stride doubles per slot.
void spinn_alike(const RowGroups& rows, int32_t first, const SharePanel& panel, double* products);
// sums[g] := tr(J_k S_g) (spinn1, twice, of row k against share g of the
// panel) from the groups of row k, each share read only at the entries and
// the variables of those groups, or for a group of a slot from the slot's
// products (spinn_alike; null when rows has no slots); sums holds the used
// shares rounded up to a multiple of kShareChunk.
void spinn_shares(const RowGroups& rows, int32_t k, const SharePanel& panel, const double* products,
                  double* sums);
// The groups of one symmetric matrix given by its entries (row[t],
// col[t] <= row[t], value[t]), t < count, as spgroup_rows forms those of a
// row, appended to out (pivot, start, index, value; rowEnd untouched).
void spgroup_entries(int32_t n, int32_t count, const int32_t* row, const int32_t* col, const double* value,
                     RowGroups* out);
// out (packed p*) := K D K (K as in spkron, filled here) for a packed
// symmetric D over its marked entries only: those of magnitude at least ten
// units of roundoff of the largest, marks[t] their running number from 1
// (0 for the others, p* integers).  Each group of marked entries that share
// a variable is one rank-two update, so the work follows the marked entries.
// Returns the number marked.
int32_t spkron2(const EvalView* view, const double* d, int32_t* marks, double* out);
// Sum over the nonzeros of row k of value times vec at the moment;
// off-diagonal moments count twice when `twice` is set (the trace product).
double spinn1(const EvalView* view, int32_t twice, int32_t k, const double* vec);
// Inner product of sparse rows i and j over their common moments.
double spinn2(const EvalView* view, int32_t twice, int32_t i, int32_t j);
// out (p*) := sparse row k expanded.
void spfill(const EvalView* view, int32_t k, double* out);
// Multiplies each nonzero of row k by w at its moment.
void spvmul(const EvalView* view, int32_t k, const double* w);
