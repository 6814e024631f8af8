// Sparse Jacobian of the implied moments: the term walk's rank-two shares
// u v' + v u' evaluated at the pattern's positions only, so that the work
// and memory follow the structural nonzeros (Duff, Erisman and Reid,
// "Direct Methods for Sparse Matrices", ch. 2, for the compressed rows and
// the merge of two sorted rows).
#include "procedure/evaluation/sparse_jacobian.h"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "numerics/kernel_support.h"
#include "numerics/row_products.h"
#include "procedure/evaluation/cross_product.h"
#include "procedure/evaluation/gradient.h"
#include "procedure/evaluation/jacobian.h"
#include "procedure/evaluation/term_walker.h"
#include "velix/packed_index.h"

using velix::pk_lower;

namespace {

int32_t row_begin(const JacobianStorage& jac, int32_t k) {
    return k == 0 ? 0 : jac.rowEnd[k - 1];
}

class SparseVisitor final : public TermVisitor {
   public:
    void visit(const EvalView& v, const WalkStep& s) override { jadvdx1(v, s); }

   private:
    // The shares of the elements of the visited matrix, added straight to
    // the values at the pattern's positions of their parameters' rows.
    static void jadvdx1(const EvalView& v, const WalkStep& s) {
        JacobianStorage& jac = v.st->jac;
        const int32_t ld = v.ld;
        for_each_share(v, s.matrix, s.scale, [&](int32_t k, double w, int32_t r, int32_t c) {
            for (int32_t t = row_begin(jac, k); t < jac.rowEnd[k]; ++t) {
                const int64_t i = jac.nzRow[t], j = jac.nzCol[t];
                jac.nzValue[t] += w * (s.U[i * ld + r] * s.V[j * ld + c] +
                                       s.U[j * ld + r] * s.V[i * ld + c]);
            }
        });
    }
};

}  // namespace

int32_t cosjasp(const EvalView* view) {
    const EvalView& v = *view;
    JacobianStorage& jac = v.st->jac;
    std::fill(jac.nzValue, jac.nzValue + jac.nonzeros, 0.0);
    SparseVisitor visitor;
    if (const int32_t m = walk_terms(view, &visitor)) {
        velix::detail::report_inversion_failure(v, m);
        return 1;
    }
    if (v.st->diagFromData)
        for (int32_t t = 0; t < jac.nonzeros; ++t)
            if (jac.nzRow[t] == jac.nzCol[t]) jac.nzValue[t] = 0.0;
    return 0;
}

namespace {

// The groups of the entries (row[t], col[t], value[t]), t < count, of one
// symmetric matrix (col[t] <= row[t]): the entries that share a variable i
// sum to e_i a' + a e_i', one group per such i, the variable in most of the
// remaining entries taken first (zero values are left out).  emit(i, idx,
// val, used) receives a's nonzero entries, ascending in idx when the
// entries are ascending in their packed index; a diagonal moment stands
// once, so a(i) is half of it.  Scratch: done (count), counts (n), idx and
// val (n each; idx may be counts: it is written once the counts are read);
// idx and val hold until the next group.
template <typename Emit>
int32_t group_entries(int32_t n, int32_t count, const int32_t* row, const int32_t* col, const double* value,
                      int32_t* done, int32_t* counts, int32_t* idx, double* val, Emit&& emit) {
    int32_t groups = 0;
    for (int32_t t = 0; t < count; ++t) done[t] = value[t] == 0.0;
    for (;; ++groups) {
        std::fill(counts, counts + n, 0);
        for (int32_t t = 0; t < count; ++t) {
            if (done[t]) continue;
            ++counts[row[t]];
            if (col[t] != row[t]) ++counts[col[t]];
        }
        const int32_t i = static_cast<int32_t>(std::max_element(counts, counts + n) - counts);
        if (counts[i] == 0) break;
        // Row i's own entries (i, c), c <= i, come before the (r, i),
        // r > i: the entries arrive ascending.
        int32_t used = 0;
        for (int32_t t = 0; t < count; ++t) {
            const int32_t r = row[t], c = col[t];
            if (done[t] || (r != i && c != i)) continue;
            idx[used] = r == i ? c : r;
            val[used++] = r == c ? 0.5 * value[t] : value[t];
            done[t] = 1;
        }
        emit(i, idx, val, used);
    }
    return groups;
}

// The groups of the nonzeros of row k (group_entries).  Uses
// view.st->nzIndex (a row has at most p* <= n ld nonzeros), pivots (ld >= n)
// and work3.
template <typename Emit>
int32_t for_each_group(const EvalView& v, int32_t k, Emit&& emit) {
    EvaluationState& st = *v.st;
    const JacobianStorage& jac = st.jac;
    const int32_t t0 = row_begin(jac, k);
    return group_entries(v.n, jac.rowEnd[k] - t0, jac.nzRow + t0, jac.nzCol + t0, jac.nzValue + t0,
                         st.nzIndex, st.pivots, st.pivots, st.work3, emit);
}

// Appends the groups that emit receives to out (pivot, index, value, start).
struct GroupAppender {
    RowGroups* out;
    void operator()(int32_t i, const int32_t* idx, const double* val, int32_t used) const {
        out->pivot.push_back(i);
        out->index.insert(out->index.end(), idx, idx + used);
        out->value.insert(out->value.end(), val, val + used);
        out->start.push_back(static_cast<int32_t>(out->index.size()));
    }
};

}  // namespace

int32_t spgroups(const EvalView* view, int32_t k, double* kRows, double* wRows) {
    const EvalView& v = *view;
    const double* K = v.st->kDense;
    const int32_t n = v.n;
    // One rank-two share k_i w' + w k_i' per group, w = K a: one share per
    // group instead of one per nonzero.
    int32_t g = 0;
    return for_each_group(v, k, [&](int32_t i, const int32_t* idx, const double* val, int32_t used) {
        velix::detail::gathered_rows_sum(n, used, K, n, idx, val, wRows + int64_t{g} * n);
        std::copy(K + int64_t{i} * n, K + int64_t{i + 1} * n, kRows + int64_t{g} * n);
        ++g;
    });
}

void spgroup_rows(const EvalView* view, RowGroups* out) {
    const EvalView& v = *view;
    *out = RowGroups{};
    out->start.push_back(0);
    for (int32_t k = 0; k < v.nParmFree; ++k) {
        for_each_group(v, k, GroupAppender{out});
        out->rowEnd.push_back(static_cast<int32_t>(out->pivot.size()));
    }
}

void spgroup_entries(int32_t n, int32_t count, const int32_t* row, const int32_t* col, const double* value,
                     RowGroups* out) {
    if (out->start.empty()) out->start.push_back(0);
    std::vector<int32_t> done(static_cast<size_t>(std::max(count, 1))), counts(static_cast<size_t>(std::max(n, 1)));
    std::vector<double> val(static_cast<size_t>(std::max(n, 1)));
    group_entries(n, count, row, col, value, done.data(), counts.data(), counts.data(), val.data(),
                  GroupAppender{out});
}

int32_t spkron(const EvalView* view, int32_t k, double* out) {
    const EvalView& v = *view;
    EvaluationState& st = *v.st;
    std::fill(out, out + v.pstar, 0.0);
    const int32_t groups = spgroups(view, k, st.work1, st.work2);
    velix::detail::add_rank_two_sum(v.n, groups, st.work1, st.work2, out);
    return st.jac.rowEnd[k];
}

int32_t spkron2(const EvalView* view, const double* d, int32_t* marks, double* out) {
    const EvalView& v = *view;
    const int32_t n = v.n, p = v.pstar;
    std::fill(out, out + p, 0.0);
    double largest = 0.0;
    for (int32_t t = 0; t < p; ++t) largest = std::max(largest, std::fabs(d[t]));
    // Entries below ten units of roundoff of the largest change no sum.
    const double bound = largest * 10.0 * velix::kMachEpsWritten;
    std::vector<int32_t> row, col;
    std::vector<double> value;
    int32_t marked = 0;
    for (int32_t i = 0, t = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j, ++t) {
            marks[t] = 0;
            if (largest == 0.0 || std::fabs(d[t]) < bound) continue;
            marks[t] = ++marked;
            row.push_back(i);
            col.push_back(j);
            value.push_back(d[t]);
        }
    RowGroups groups;
    spgroup_entries(n, marked, row.data(), col.data(), value.data(), &groups);
    velix::detail::fill_weight_dense(v);
    const double* K = v.st->kDense;
    const int32_t g = static_cast<int32_t>(groups.pivot.size());
    std::vector<double> kRows(static_cast<size_t>(g) * n), wRows(static_cast<size_t>(g) * n);
    for (int32_t h = 0; h < g; ++h) {
        const int32_t e0 = groups.start[static_cast<size_t>(h)];
        velix::detail::gathered_rows_sum(n, groups.start[static_cast<size_t>(h) + 1] - e0, K, n, &groups.index[static_cast<size_t>(e0)],
                                         &groups.value[static_cast<size_t>(e0)], wRows.data() + int64_t{h} * n);
        std::copy(K + int64_t{groups.pivot[static_cast<size_t>(h)]} * n, K + int64_t{groups.pivot[static_cast<size_t>(h)] + 1} * n,
                  kRows.data() + int64_t{h} * n);
    }
    velix::detail::add_rank_two_sum(n, g, kRows.data(), wRows.data(), out);
    return marked;
}

namespace {

// A group's a differs from a multiple of another's by at most a few units
// of roundoff when both are products c x_j of one vector x (a factor
// covariance's groups); the bound takes eight.
constexpr double kAlikeTolerance = 8.0 * DBL_EPSILON;

// The key of group h's vector: its indices and its values over the first,
// the ratios rounded to 23 bits so that vectors alike to roundoff share it
// (one whose ratio falls on the other side of a rounding edge only misses
// its slot).
uint64_t alike_key(const RowGroups& rows, int32_t h) {
    const int32_t e0 = rows.start[h], e1 = rows.start[h + 1];
    uint64_t key = static_cast<uint64_t>(e1 - e0);
    const auto mix = [&key](uint64_t x) {
        key = (key ^ x) * 0x9e3779b97f4a7c15ULL;  // the golden-ratio multiplier
        key ^= key >> 29;
    };
    for (int32_t e = e0; e < e1; ++e) {
        mix(static_cast<uint32_t>(rows.index[e]));
        mix((std::bit_cast<uint64_t>(rows.value[e] / rows.value[e0]) + (uint64_t{1} << 28)) >> 29);
    }
    return key;
}

// Whether group h's a is *factor times group r's, entry by entry.
bool alike(const RowGroups& rows, int32_t h, int32_t r, double* factor) {
    const int32_t eh = rows.start[h], er = rows.start[r], count = rows.start[h + 1] - eh;
    if (rows.start[r + 1] - er != count) return false;
    const double f = rows.value[eh] / rows.value[er];
    for (int32_t t = 0; t < count; ++t) {
        const double a = rows.value[eh + t];
        if (rows.index[eh + t] != rows.index[er + t] ||
            !(std::fabs(a - f * rows.value[er + t]) <= kAlikeTolerance * std::fabs(a)))
            return false;
    }
    *factor = f;
    return true;
}

// Eight doubles in one SIMD value; a chunk is two of them.
typedef double Lanes __attribute__((vector_size(kShareChunk / 2 * sizeof(double))));
constexpr int32_t kHalf = kShareChunk / 2;

struct ChunkSums {
    Lanes k0, k1, w0, w1;
};

// a'k_g and a'w_g of group h for the chunk of shares from g0 (inlined into
// the clones of its callers).
[[gnu::always_inline]] inline void chunk_sums(const RowGroups& rows, int32_t h, const SharePanel& panel,
                                              int32_t g0, ChunkSums& out) {
    const int64_t stride = panel.stride;
    Lanes ak0 = {}, ak1 = {}, aw0 = {}, aw1 = {}, x;
    for (int32_t e = rows.start[h]; e < rows.start[h + 1]; ++e) {
        const double* kr = panel.k + rows.index[e] * stride + g0;
        const double* wr = panel.w + rows.index[e] * stride + g0;
        const double a = rows.value[e];
        std::memcpy(&x, kr, sizeof x);
        ak0 += a * x;
        std::memcpy(&x, kr + kHalf, sizeof x);
        ak1 += a * x;
        std::memcpy(&x, wr, sizeof x);
        aw0 += a * x;
        std::memcpy(&x, wr + kHalf, sizeof x);
        aw1 += a * x;
    }
    out = ChunkSums{ak0, ak1, aw0, aw1};
}

}  // namespace

void spgroup_alike(RowGroups* rows) {
    const int32_t groups = static_cast<int32_t>(rows->pivot.size());
    rows->alike.assign(static_cast<size_t>(groups), -1);
    rows->factor.assign(static_cast<size_t>(groups), 1.0);
    rows->slotGroup.clear();
    rows->slotLast.clear();
    // The groups that head the distinct vectors of each key.
    std::unordered_map<uint64_t, std::vector<int32_t>> heads;
    for (int32_t h = 0; h < groups; ++h) {
        std::vector<int32_t>& same = heads[alike_key(*rows, h)];
        double f = 1.0;
        const auto r = std::find_if(same.begin(), same.end(), [&](int32_t g) { return alike(*rows, h, g, &f); });
        if (r == same.end()) {
            same.push_back(h);
            continue;
        }
        int32_t& slot = rows->alike[static_cast<size_t>(*r)];
        if (slot < 0) {
            slot = static_cast<int32_t>(rows->slotGroup.size());
            rows->slotGroup.push_back(*r);
            rows->slotLast.push_back(*r);
        }
        rows->alike[static_cast<size_t>(h)] = slot;
        rows->factor[static_cast<size_t>(h)] = f;
        rows->slotLast[static_cast<size_t>(slot)] = h;
    }
}

// The groups of spgroup_rows_kept and what takes them to new values.
struct RowGroupCache {
    RowGroups rows;
    const int32_t* pattern = nullptr;  // the nzRow they were formed from; 0 none
    std::vector<int32_t> from;         // per entry of a group: its nonzero of the pattern
    std::vector<char> zero;            // per nonzero: zero when the groups were formed
};

namespace {

constexpr size_t kKeptEntries = 4096;  // the most group entries kept between calls (about 70 KB)

void form_kept(const EvalView& v, RowGroupCache* c) {
    const JacobianStorage& jac = v.st->jac;
    RowGroups& rows = c->rows;
    spgroup_rows(&v, &rows);
    spgroup_alike(&rows);
    // A large pattern's groups are formed for each call and dropped after
    // it (spgroup_rows_done): kept, they would add to the peak memory.
    c->pattern = nullptr;
    if (rows.index.size() > kKeptEntries) return;
    c->pattern = jac.nzRow;
    c->zero.resize(static_cast<size_t>(jac.nonzeros));
    for (int32_t t = 0; t < jac.nonzeros; ++t) c->zero[static_cast<size_t>(t)] = jac.nzValue[t] == 0.0;
    // A group entry (pivot i, index j) is the moment (i, j) of its row.
    std::vector<int32_t> at(static_cast<size_t>(v.pstar));
    c->from.resize(rows.index.size());
    for (int32_t k = 0; k < v.nParmFree; ++k) {
        for (int32_t t = row_begin(jac, k); t < jac.rowEnd[k]; ++t)
            at[static_cast<size_t>(pk_lower(jac.nzRow[t], jac.nzCol[t]))] = t;
        for (int32_t h = k ? rows.rowEnd[k - 1] : 0; h < rows.rowEnd[k]; ++h)
            for (int32_t e = rows.start[h]; e < rows.start[h + 1]; ++e) {
                const int32_t i = rows.pivot[h], j = rows.index[e];
                c->from[static_cast<size_t>(e)] = at[static_cast<size_t>(pk_lower(std::max(i, j), std::min(i, j)))];
            }
    }
}

// The kept groups at the current values, as spgroup_rows and
// spgroup_alike would give them; false when they no longer fit.
bool refresh_kept(const JacobianStorage& jac, RowGroupCache* c) {
    if (c->pattern != jac.nzRow || static_cast<int32_t>(c->zero.size()) != jac.nonzeros) return false;
    for (int32_t t = 0; t < jac.nonzeros; ++t)
        if ((jac.nzValue[t] == 0.0) != (c->zero[static_cast<size_t>(t)] != 0)) return false;
    RowGroups& rows = c->rows;
    for (size_t e = 0; e < c->from.size(); ++e) {
        const int32_t t = c->from[e];
        rows.value[e] = jac.nzRow[t] == jac.nzCol[t] ? 0.5 * jac.nzValue[t] : jac.nzValue[t];
    }
    for (size_t h = 0; h < rows.alike.size(); ++h) {
        const int32_t slot = rows.alike[h];
        if (slot < 0) continue;
        const int32_t head = rows.slotGroup[static_cast<size_t>(slot)];
        if (head != static_cast<int32_t>(h) && !alike(rows, static_cast<int32_t>(h), head, &rows.factor[h]))
            return false;
    }
    return true;
}

}  // namespace

void RowGroupCacheFree::operator()(RowGroupCache* cache) const { delete cache; }

const RowGroups& spgroup_rows_kept(const EvalView* view) {
    EvaluationState& st = *view->st;
    if (st.rowGroups == nullptr) st.rowGroups.reset(new RowGroupCache);
    if (!refresh_kept(st.jac, st.rowGroups.get())) form_kept(*view, st.rowGroups.get());
    return st.rowGroups->rows;
}

void spgroup_forget(EvaluationState* st) {
    if (st->rowGroups) st->rowGroups->pattern = nullptr;
}

void spgroup_rows_done(EvaluationState* st) {
    if (st->rowGroups && st->rowGroups->pattern == nullptr) spgroup_release(st);
}

void spgroup_release(EvaluationState* st) {
    st->rowGroups.reset();
}

VELIX_KERNEL_CLONES
void spinn_alike(const RowGroups& rows, int32_t first, const SharePanel& panel, double* products) {
    const int64_t stride = panel.stride;
    for (size_t s = 0; s < rows.slotGroup.size(); ++s) {
        if (rows.slotLast[s] < first) continue;
        double* out = products + static_cast<int64_t>(s) * 2 * stride;
        for (int32_t g0 = 0; g0 < panel.used; g0 += kShareChunk) {
            ChunkSums c;
            chunk_sums(rows, rows.slotGroup[s], panel, g0, c);
            std::memcpy(out + g0, &c.k0, sizeof c.k0);
            std::memcpy(out + g0 + kHalf, &c.k1, sizeof c.k1);
            std::memcpy(out + stride + g0, &c.w0, sizeof c.w0);
            std::memcpy(out + stride + g0 + kHalf, &c.w1, sizeof c.w1);
        }
    }
}

VELIX_KERNEL_CLONES
void spinn_shares(const RowGroups& rows, int32_t k, const SharePanel& panel, const double* products,
                  double* sums) {
    const int64_t stride = panel.stride;
    const int32_t h0 = k == 0 ? 0 : rows.rowEnd[k - 1], h1 = rows.rowEnd[k];
    // tr((e_i a' + a e_i')(k_g w_g' + w_g k_g')) = 2 [(a'k_g) w_g(i) +
    // (a'w_g) k_g(i)]: two sums over a's entries per group, or a multiple
    // of its slot's, a chunk of shares side by side.
    for (int32_t g0 = 0; g0 < panel.used; g0 += kShareChunk) {
        Lanes acc0 = {}, acc1 = {};
        for (int32_t h = h0; h < h1; ++h) {
            ChunkSums a;
            const int32_t slot = products ? rows.alike[h] : -1;
            if (slot < 0) {
                chunk_sums(rows, h, panel, g0, a);
            } else {
                const double* p = products + int64_t{slot} * 2 * stride + g0;
                const double f = rows.factor[h];
                std::memcpy(&a.k0, p, sizeof a.k0);
                std::memcpy(&a.k1, p + kHalf, sizeof a.k1);
                std::memcpy(&a.w0, p + stride, sizeof a.w0);
                std::memcpy(&a.w1, p + stride + kHalf, sizeof a.w1);
                a.k0 *= f;
                a.k1 *= f;
                a.w0 *= f;
                a.w1 *= f;
            }
            const double* ki = panel.k + rows.pivot[h] * stride + g0;
            const double* wi = panel.w + rows.pivot[h] * stride + g0;
            Lanes k0, k1, w0, w1;
            std::memcpy(&k0, ki, sizeof k0);
            std::memcpy(&k1, ki + kHalf, sizeof k1);
            std::memcpy(&w0, wi, sizeof w0);
            std::memcpy(&w1, wi + kHalf, sizeof w1);
            acc0 += w0 * a.k0 + k0 * a.w0;
            acc1 += w1 * a.k1 + k1 * a.w1;
        }
        acc0 *= 2.0;
        acc1 *= 2.0;
        std::memcpy(sums + g0, &acc0, sizeof acc0);
        std::memcpy(sums + g0 + kHalf, &acc1, sizeof acc1);
    }
}

double spinn1(const EvalView* view, int32_t twice, int32_t k, const double* vec) {
    const JacobianStorage& jac = view->st->jac;
    double s = 0.0;
    for (int32_t t = row_begin(jac, k); t < jac.rowEnd[k]; ++t) {
        const double x = jac.nzValue[t] * vec[pk_lower(jac.nzRow[t], jac.nzCol[t])];
        s += twice && jac.nzRow[t] != jac.nzCol[t] ? 2.0 * x : x;
    }
    return s;
}

double spinn2(const EvalView* view, int32_t twice, int32_t i, int32_t j) {
    const JacobianStorage& jac = view->st->jac;
    int32_t a = row_begin(jac, i), b = row_begin(jac, j);
    double s = 0.0;
    while (a < jac.rowEnd[i] && b < jac.rowEnd[j]) {
        const int64_t pa = pk_lower(jac.nzRow[a], jac.nzCol[a]);
        const int64_t pb = pk_lower(jac.nzRow[b], jac.nzCol[b]);
        if (pa < pb) {
            ++a;
        } else if (pb < pa) {
            ++b;
        } else {
            const double x = jac.nzValue[a] * jac.nzValue[b];
            s += twice && jac.nzRow[a] != jac.nzCol[a] ? 2.0 * x : x;
            ++a;
            ++b;
        }
    }
    return s;
}

void spfill(const EvalView* view, int32_t k, double* out) {
    const JacobianStorage& jac = view->st->jac;
    std::fill(out, out + view->pstar, 0.0);
    for (int32_t t = row_begin(jac, k); t < jac.rowEnd[k]; ++t)
        out[pk_lower(jac.nzRow[t], jac.nzCol[t])] = jac.nzValue[t];
}

void spvmul(const EvalView* view, int32_t k, const double* w) {
    JacobianStorage& jac = view->st->jac;
    for (int32_t t = row_begin(jac, k); t < jac.rowEnd[k]; ++t)
        jac.nzValue[t] *= w[pk_lower(jac.nzRow[t], jac.nzCol[t])];
}
