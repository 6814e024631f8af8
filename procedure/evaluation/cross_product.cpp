// Cross-product Hessian of the discrepancy functions (Browne 1974; Lee and
// Jennrich, "A study of algorithms for covariance structure analysis",
// Psychometrika 44, 1979): for ULS, GLS and ML the Kronecker weight K (x) K
// is applied through K u and K v of each rank-two share of the walk, so the
// work is (shares)^2 n instead of q^2 p*; for WLS and DWLS the Jacobian
// columns are weighted by the stored factor.  The other storage modes give
// the Jacobian column by column (files, forward differences: H(k, l) from
// column k weighted once and column l read again) or as sparse rows (the
// kernels of sparse_jacobian.h); all give the same H and g.
#include "procedure/evaluation/cross_product.h"

#include <algorithm>
#include <cfloat>
#include <cstring>
#include <vector>

#include "host/internal_error.h"
#include "numerics/kernel_support.h"
#include "numerics/packed.h"
#include "numerics/row_products.h"
#include "optimizer/optimizer.h"
#include "procedure/evaluation/column_jacobian.h"
#include "procedure/evaluation/fd_jacobian.h"
#include "procedure/evaluation/finite_differences.h"
#include "procedure/evaluation/sparse_jacobian.h"
#include "procedure/evaluation/gradient.h"
#include "procedure/evaluation/jacobian.h"
#include "procedure/evaluation/term_walker.h"
#include "velix/codes.h"
#include "velix/host.h"
#include "velix/nlp.h"
#include "velix/packed_index.h"
#include "velix/proc_context.h"
#include "velix/types.h"

using velix::pk_lower;

namespace {

constexpr double kNegativeDiagonal = -velix::kMachEpsWritten;  // below: H is not a cross product
constexpr double kTinyDiagonal = velix::kDblMin;    // below: flushed to 0

// Stores u, v, K u and K v of every share of the walk.
class ShareStore final : public TermVisitor {
   public:
    void visit(const EvalView& v, const WalkStep& s) override {
        EvaluationState& st = *v.st;
        const int32_t n = v.n, ld = v.ld;
        for_each_share(v, s.matrix, s.scale, [&](int32_t param, double w, int32_t r, int32_t c) {
            // The store was sized from the element pattern; a share beyond
            // it is our fault, caught before it is written.
            if (st.nContrib >= st.maxContrib) {
                internal_error("more element shares than the evaluation arrays hold");
            }
            EvalContribution& e = st.contrib[st.nContrib++];
            e.param = param;
            e.weight = w;
            e.offset = st.contribVectorsUsed;
            double* u = st.contribVectors + e.offset;
            double* vv = u + n;
            for (int32_t i = 0; i < n; ++i) {
                u[i] = s.U[int64_t{i} * ld + r];
                vv[i] = s.V[int64_t{i} * ld + c];
            }
            weigh(v, u, u + 2 * n);
            weigh(v, vv, u + 3 * n);
            st.contribVectorsUsed += 4 * n;
        });
    }

   private:
    // out := K x (K dense symmetric, zero entries of x skipped).
    static void weigh(const EvalView& v, const double* x, double* out) {
        const int32_t n = v.n;
        std::fill(out, out + n, 0.0);
        for (int32_t m = 0; m < n; ++m) {
            if (x[m] == 0.0) continue;
            const double* km = v.st->kDense + int64_t{m} * n;
            for (int32_t i = 0; i < n; ++i) out[i] += x[m] * km[i];
        }
    }
};

double dot(int32_t n, const double* a, const double* b) {
    double s = 0.0;
    for (int32_t i = 0; i < n; ++i) s += a[i] * b[i];
    return s;
}

// The Kronecker weighting column by column, K D_j K densely, for the
// diagonal taken from the data: the zeroed diagonal rows of J break the
// rank-two form of the shares.
int32_t dense_kronecker_cross_product(const EvalView& v) {
    EvaluationState& st = *v.st;
    if (const int32_t m = jacobian_walk(&v)) return m;
    const int32_t q = v.nParmFree, p = v.pstar;
    for (int32_t j = 0; j < q; ++j) {
        velix::detail::kron_weight(v, st.jacobian + int64_t{j} * p, st.jac.weighted);
        for (int32_t i = j; i < q; ++i)
            st.cross[pk_lower(i, j)] = cosinnc(v.n, st.jacobian + int64_t{i} * p, st.jac.weighted);
    }
    return 0;
}

int32_t kronecker_cross_product(const EvalView& v) {
    EvaluationState& st = *v.st;
    const int32_t n = v.n;
    velix::detail::fill_weight_dense(v);
    if (st.diagFromData) return dense_kronecker_cross_product(v);
    st.nContrib = 0;
    st.contribVectorsUsed = 0;
    velix::detail::contribution_store(v);
    ShareStore store;
    if (const int32_t m = walk_terms(&v, &store)) return m;
    for (int32_t a = 0; a < st.nContrib; ++a) {
        const EvalContribution& ca = st.contrib[a];
        const double* ua = st.contribVectors + ca.offset;
        const double* va = ua + n;
        for (int32_t b = 0; b <= a; ++b) {
            const EvalContribution& cb = st.contrib[b];
            const double* ub = st.contribVectors + cb.offset;
            const double* kub = ub + 2 * n;
            const double* kvb = ub + 3 * n;
            double t = 2.0 * ca.weight * cb.weight *
                       (dot(n, ua, kub) * dot(n, va, kvb) + dot(n, ua, kvb) * dot(n, va, kub));
            // H(p, p) sums over ordered pairs: a pair of two shares of one
            // parameter counts twice.
            if (a != b && ca.param == cb.param) t *= 2.0;
            st.cross[pk_lower(std::max(ca.param, cb.param), std::min(ca.param, cb.param))] += t;
        }
    }
    return 0;
}

int32_t weighted_cross_product(const EvalView& v) {
    EvaluationState& st = *v.st;
    if (const int32_t k = jacobian_walk(&v)) return k;
    const int32_t q = v.nParmFree, p = v.pstar;
    for (int32_t k = 0; k < q; ++k) {
        double* y = st.jacobian + int64_t{k} * p;
        if (v.method == kMethodWls)
            cosfsub(p, 1, velix::detail::kCheckedFactorBound, v.weights, y);
        else
            for (int32_t m = 0; m < p; ++m) y[m] *= v.weights[m];
        st.gradient[k] = 2.0 * dot(p, y, st.residual);
        for (int32_t l = 0; l <= k; ++l)
            st.cross[pk_lower(k, l)] = 2.0 * dot(p, y, st.jacobian + int64_t{l} * p);
    }
    return 0;
}

// The optimizer's finite-difference Hessian of a digit of FDHESSIAN=: 2
// five-point values, 3 forward and 4 central gradients, other three-point
// values.
int32_t fd_hessian(NlpProblem* nlp, int32_t digit) {
    if (digit == 2) return znlpfh2(nlp);
    if (digit == 3) return znlpfh3(nlp);
    if (digit == 4) return znlpfh4(nlp);
    return znlpfih(nlp);
}

}  // namespace

namespace velix::detail {

void cross_rewritten(const EvalView& v) {
    v.st->crossMode = -1;
    if (v.hooks != nullptr) ++v.hooks->result.crossProductTag;
}

bool cross_product_at_hand(const EvalView& v) {
    const EvaluationState& st = *v.st;
    const int32_t q = v.nParmFree;
    if (st.crossMode != *v.jacobianMode || st.crossMethod != v.method ||
        std::memcmp(st.crossAt, v.nlp->param.x, 8 * static_cast<size_t>(q)) != 0)
        return false;
    for (int32_t j = 0; j < q; ++j)
        if (!(st.cross[pk_lower(j, j)] >= velix::kDblMin)) return false;
    return true;
}

void fill_weight_dense(const EvalView& v) {
    const EvaluationState& st = *v.st;
    const int32_t n = v.n;
    const double* k = v.method == kMethodMl    ? st.impliedInv
                      : v.method == kMethodGls ? v.weights
                                               : nullptr;
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j < n; ++j)
            st.kDense[int64_t{i} * n + j] = k ? k[velix::pk(i, j)] : (i == j ? 1.0 : 0.0);
}

void add_rank_two(int32_t n, double x, const double* __restrict kr, const double* __restrict kc,
                  double* __restrict out) {
    for (int32_t a = 0; a < n; ++a) {
        double* __restrict row = out + pk_lower(a, 0);
        const double xr = x * kr[a], xc = x * kc[a];
        for (int32_t b = 0; b <= a; ++b) row[b] += xr * kc[b] + xc * kr[b];
    }
}

void add_rank_two_sum(int32_t n, int32_t r, const double* __restrict R,
                      const double* __restrict W, double* __restrict out) {
    constexpr int32_t kBlock = 128;  // columns per pass: 2r pieces of 1 KiB
    for (int32_t b0 = 0; b0 < n; b0 += kBlock) {
        for (int32_t a = b0; a < n; ++a) {
            double* __restrict row = out + pk_lower(a, 0);
            const int32_t b1 = std::min(a + 1, b0 + kBlock);
            for (int32_t g = 0; g < r; ++g) {
                const double* __restrict rg = R + int64_t{g} * n;
                const double* __restrict wg = W + int64_t{g} * n;
                const double xr = rg[a], xc = wg[a];
                for (int32_t b = b0; b < b1; ++b) row[b] += xr * wg[b] + xc * rg[b];
            }
        }
    }
}

void kron_weight(const EvalView& v, const double* column, double* out) {
    const double* k = v.st->kDense;
    const int32_t n = v.n;
    std::fill(out, out + v.pstar, 0.0);
    // A Jacobian column is mostly zero: one rank-two share per nonzero.
    for (int32_t r = 0; r < n; ++r)
        for (int32_t c = 0; c <= r; ++c)
            if (const double x = column[pk_lower(r, c)]; x != 0.0)
                add_rank_two(n, r == c ? 0.5 * x : x, k + int64_t{r} * n, k + int64_t{c} * n, out);
}

bool weighted_method(const EvalView& v) {
    return v.method == kMethodWls || v.method == kMethodDwls;
}

double column_gradient(const EvalView& v, const double* column) {
    if (weighted_method(v)) return 2.0 * dot(v.pstar, column, v.st->residual);
    return cosinnc(v.n, column, v.st->dFdC);
}

double column_product(const EvalView& v, const double* a, const double* wb) {
    if (weighted_method(v)) return 2.0 * dot(v.pstar, a, wb);
    return cosinnc(v.n, a, wb);
}

}  // namespace velix::detail

namespace {

// H and g from the columns (weighted ones for WLS and DWLS) that
// read(k, buffer) yields, two at a time: column k weighted once, columns
// l <= k read again.
template <typename Read>
void columns_cross_product(const EvalView& v, Read&& read) {
    EvaluationState& st = *v.st;
    JacobianStorage& jac = st.jac;
    const bool kron = v.method != kMethodUls && !velix::detail::weighted_method(v);
    if (kron) velix::detail::fill_weight_dense(v);
    for (int32_t k = 0; k < v.nParmFree; ++k) {
        const double* a = read(k, jac.column);
        st.gradient[k] = velix::detail::column_gradient(v, a);
        const double* wa = a;
        if (kron) {
            velix::detail::kron_weight(v, a, jac.weighted);
            wa = jac.weighted;
        }
        for (int32_t l = 0; l <= k; ++l)
            st.cross[pk_lower(k, l)] =
                velix::detail::column_product(v, l == k ? a : read(l, jac.other), wa);
    }
}

void file_cross_product(const EvalView& v) {
    HostFile* file = velix::detail::weighted_method(v) ? v.weightedFile : v.columnFile;
    columns_cross_product(v, [&](int32_t k, double* buffer) {
        velix::detail::file_get(file, 8 * int64_t{v.pstar} * k, buffer, v.pstar);
        return static_cast<const double*>(buffer);
    });
}

// Mode 5: the columns in memory, weighted in place for WLS and DWLS.
int32_t memory_cross_product(const EvalView& v) {
    double* jacobian = velix::detail::jacobian_store(v);
    const int32_t p = v.pstar;
    if (velix::detail::weighted_method(v))
        for (int32_t k = 0; k < v.nParmFree; ++k)
            if (velix::detail::weigh_column(v, jacobian + int64_t{k} * p) != 0) return 1;
    columns_cross_product(v, [&](int32_t k, double*) {
        return static_cast<const double*>(jacobian + int64_t{k} * p);
    });
    return 0;
}

// Mode 4: H read back from the rows of its upper triangle.
void read_file_cross_product(const EvalView& v) {
    int64_t position = 0;
    for (int32_t k = 0; k < v.nParmFree; ++k)
        for (int32_t l = k; l < v.nParmFree; ++l, position += 8)
            velix::detail::file_get(v.columnFile, position, v.st->cross + pk_lower(l, k), 1);
}

// Adds to H(k, l), k >= first, the products of row k with the shares of the
// panel, share g belonging to parameter owner[g] (a parameter's shares
// side by side, summed before they reach H).  products: the scratch of
// spinn_alike for the slots of rows.
void add_panel_products(const EvalView& v, const RowGroups& rows, const SharePanel& panel,
                        const int32_t* owner, double* products, double* sums) {
    EvaluationState& st = *v.st;
    const bool slots = !rows.slotGroup.empty();
    if (slots) spinn_alike(rows, owner[0] ? rows.rowEnd[owner[0] - 1] : 0, panel, products);
    for (int32_t k = owner[0]; k < v.nParmFree; ++k) {
        spinn_shares(rows, k, panel, slots ? products : nullptr, sums);
        for (int32_t g = 0; g < panel.used && owner[g] <= k;) {
            const int32_t l = owner[g];
            double s = sums[g++];
            for (; g < panel.used && owner[g] == l; ++g) s += sums[g];
            st.cross[pk_lower(k, l)] += s;
        }
    }
}

// The groups of one parameter's row that share slot s: their w are
// multiples f_h w_s of the slot's, so that their shares k_i (f_h w_s)' +
// (f_h w_s) k_i' sum to one, (K b) w_s' + w_s (K b)', b = sum of f_h e_i
// over their pivots i.
struct SlotRun {
    int32_t slot = 0;
    std::vector<int32_t> pivots;
    std::vector<double> factors;
};

// The runs of the slotted groups of row l into runs[0, returned count)
// (runs grown as needed, its vectors reused).
int32_t slot_runs(const RowGroups& rows, int32_t l, std::vector<SlotRun>* runs) {
    int32_t count = 0;
    for (int32_t h = l ? rows.rowEnd[l - 1] : 0; h < rows.rowEnd[l]; ++h) {
        const int32_t slot = rows.alike[h];
        if (slot < 0) continue;
        int32_t r = 0;
        while (r < count && (*runs)[static_cast<size_t>(r)].slot != slot) ++r;
        if (r == count) {
            if (count == static_cast<int32_t>(runs->size())) runs->emplace_back();
            SlotRun& run = (*runs)[static_cast<size_t>(count++)];
            run.slot = slot;
            run.pivots.clear();
            run.factors.clear();
        }
        (*runs)[static_cast<size_t>(r)].pivots.push_back(rows.pivot[h]);
        (*runs)[static_cast<size_t>(r)].factors.push_back(rows.factor[h]);
    }
    return count;
}

// H(k, l), k >= l, for GLS and ML: K J_l K is a sum of rank-two shares
// k_i w' + w k_i', one per group of the nonzeros of row l (w = K a, the
// groups of spgroups), formed only at the nonzeros of the rows k instead
// of at all p* moments, the shares of several parameters side by side so
// that one sweep over the groups of row k serves all of them.  The groups
// whose a is a multiple of another's (spgroup_alike) take the sums over
// a's entries from their slot, formed once, and the groups of one slot in
// row l merge into one share (SlotRun).
void sparse_kronecker_columns(const EvalView& v) {
    EvaluationState& st = *v.st;
    constexpr int32_t kPanelShares = 64;
    const int32_t q = v.nParmFree, n = v.n;
    const RowGroups& rows = spgroup_rows_kept(&v);
    // A parameter's shares enter one panel: the stride holds the most.
    int32_t most = kPanelShares;
    for (int32_t l = 0; l < q; ++l) most = std::max(most, rows.rowEnd[l] - (l ? rows.rowEnd[l - 1] : 0));
    SharePanel panel;
    panel.stride = (most + kShareChunk - 1) / kShareChunk * kShareChunk;
    // The buffers are kept from call to call (a small model forms the cross
    // product often).  Each place is written before it is read, except the
    // panel's columns past `used` up to a whole chunk, which only reach
    // sums past `used`: grown with zeros, never cleared.
    thread_local std::vector<double> store, products, slotWs, stagedW, stagedB;
    thread_local std::vector<int32_t> owner;
    thread_local std::vector<char> slotFormed;
    thread_local std::vector<SlotRun> runs;
    const auto grow = [](auto& buffer, size_t size) {
        if (buffer.size() < size) buffer.resize(size);
    };
    grow(store, 2 * static_cast<size_t>(n) * panel.stride + panel.stride);
    panel.k = store.data();
    panel.w = panel.k + int64_t{n} * panel.stride;
    double* sums = panel.w + int64_t{n} * panel.stride;
    grow(owner, static_cast<size_t>(panel.stride));
    grow(products, rows.slotGroup.size() * 2 * static_cast<size_t>(panel.stride));
    // The slots' w, each formed when a row first needs it.
    grow(slotWs, rows.slotGroup.size() * static_cast<size_t>(n));
    slotFormed.assign(rows.slotGroup.size(), 0);
    // The panel holds each share's vectors down a column: kStaged shares
    // are gathered first and then written across, a cache line to a row.
    constexpr int32_t kStaged = 8;
    grow(stagedW, static_cast<size_t>(kStaged) * n);
    grow(stagedB, static_cast<size_t>(kStaged) * n);
    const double* stagedK[kStaged];
    const double* stagedWs[kStaged];
    int32_t waiting = 0;
    const auto unstage = [&] {
        const int32_t first = panel.used - waiting;
        for (int32_t i = 0; i < n; ++i)
            for (int32_t g = 0; g < waiting; ++g) {
                panel.k[int64_t{i} * panel.stride + first + g] = stagedK[g][i];
                panel.w[int64_t{i} * panel.stride + first + g] = stagedWs[g][i];
            }
        waiting = 0;
    };
    const auto stage = [&](const double* k, const double* w, int32_t l) {
        stagedK[waiting] = k;
        stagedWs[waiting++] = w;
        owner[static_cast<size_t>(panel.used++)] = l;
        if (waiting == kStaged) unstage();
    };
    const auto gather = [&](int32_t h, double* out) {
        const int32_t e0 = rows.start[h];
        velix::detail::gathered_rows_sum(n, rows.start[h + 1] - e0, st.kDense, n, &rows.index[e0], &rows.value[e0],
                                         out);
    };
    for (int32_t l = 0; l < q; ++l) {
        const int32_t h0 = l ? rows.rowEnd[l - 1] : 0, h1 = rows.rowEnd[l];
        const int32_t slotted = slot_runs(rows, l, &runs);
        int32_t shares = slotted;
        for (int32_t h = h0; h < h1; ++h) shares += rows.alike[h] < 0;
        if (panel.used > 0 && panel.used + shares > kPanelShares) {
            unstage();
            add_panel_products(v, rows, panel, owner.data(), products.data(), sums);
            panel.used = 0;
        }
        for (int32_t h = h0; h < h1; ++h) {
            if (rows.alike[h] >= 0) continue;
            double* w = stagedW.data() + static_cast<size_t>(waiting) * n;
            gather(h, w);
            stage(st.kDense + int64_t{rows.pivot[h]} * n, w, l);
        }
        for (int32_t r = 0; r < slotted; ++r) {
            const SlotRun& run = runs[static_cast<size_t>(r)];
            double* slotW = slotWs.data() + static_cast<int64_t>(run.slot) * n;
            if (!slotFormed[static_cast<size_t>(run.slot)]) {
                gather(rows.slotGroup[static_cast<size_t>(run.slot)], slotW);
                slotFormed[static_cast<size_t>(run.slot)] = 1;
            }
            double* b = stagedB.data() + static_cast<size_t>(waiting) * n;
            velix::detail::gathered_rows_sum(n, static_cast<int32_t>(run.pivots.size()), st.kDense, n,
                                             run.pivots.data(), run.factors.data(), b);
            stage(b, slotW, l);
        }
    }
    unstage();
    if (panel.used > 0) add_panel_products(v, rows, panel, owner.data(), products.data(), sums);
    spgroup_rows_done(&st);
}

// Modes 11 and 12: the sparse kernels; WLS goes through the weighted file.
// Returns 0, or 1 with a singular WLS factor.
int32_t sparse_cross_product(const EvalView& v) {
    EvaluationState& st = *v.st;
    const int32_t q = v.nParmFree;
    if (v.method == kMethodWls) {
        for (int32_t k = 0; k < q; ++k) {
            spfill(&v, k, st.jac.column);
            if (velix::detail::weigh_column(v, st.jac.column) != 0) return 1;
            velix::detail::file_put(v.weightedFile, 8 * int64_t{v.pstar} * k, st.jac.column,
                                    v.pstar);
        }
        file_cross_product(v);
        return 0;
    }
    if (v.method == kMethodDwls) {
        for (int32_t k = 0; k < q; ++k) {
            spvmul(&v, k, v.weights);
            st.gradient[k] = 2.0 * spinn1(&v, 0, k, st.residual);
            for (int32_t l = 0; l <= k; ++l) st.cross[pk_lower(k, l)] = 2.0 * spinn2(&v, 0, k, l);
        }
        return 0;
    }
    for (int32_t k = 0; k < q; ++k) st.gradient[k] = spinn1(&v, 1, k, st.dFdC);
    if (v.method == kMethodUls) {
        for (int32_t k = 0; k < q; ++k)
            for (int32_t l = 0; l <= k; ++l) st.cross[pk_lower(k, l)] = spinn2(&v, 1, k, l);
        return 0;
    }
    velix::detail::fill_weight_dense(v);
    sparse_kronecker_columns(v);
    return 0;
}

// The cross product of the storage modes other than the in-memory one.
// Returns 0 or the failure of the Jacobian routine (messages written).
int32_t stored_cross_product(const EvalView& v, int32_t mode) {
    EvaluationState& st = *v.st;
    eval_dfdc(&v);
    switch (mode) {
        case 2:
            if (const int32_t rc = cosjac1(&v)) return rc;
            if (velix::detail::records_to_columns(v) != 0) return 1;
            file_cross_product(v);
            return 0;
        case 3:
            if (const int32_t rc = cosjac3(&v)) return rc;
            file_cross_product(v);
            return 0;
        case 4:
            if (const int32_t rc = cosjac4(&v)) return rc;
            read_file_cross_product(v);
            return 0;
        case 5:
            if (const int32_t rc = cosjafd(&v)) return rc;
            return memory_cross_product(v);
        case 6:
            if (const int32_t rc = cosjafd(&v)) return rc;
            file_cross_product(v);
            return 0;
        default:  // 11, 12
            if (st.jac.nonzeros == 0) return 1;
            if (const int32_t rc = cosjasp(&v)) return rc;
            return sparse_cross_product(v);
    }
}

bool stored_mode(int32_t mode) {
    return (mode >= 2 && mode <= 6) || mode == 11 || mode == 12;
}

}  // namespace

int32_t cosmcrp(const EvalView* view) {
    const EvalView& v = *view;
    EvaluationState& st = *v.st;
    velix::detail::cross_rewritten(v);
    std::fill(st.cross, st.cross + pk_lower(v.nParmFree, 0), 0.0);
    std::fill(st.gradient, st.gradient + v.nParmFree, 0.0);
    if (stored_mode(*v.jacobianMode)) return stored_cross_product(v, *v.jacobianMode);
    if (const int32_t k = eval_cross_product(view)) {
        velix::detail::report_inversion_failure(v, k);
        return 1;
    }
    return 0;
}

int32_t eval_cross_product(const EvalView* view) {
    const EvalView& v = *view;
    EvaluationState& st = *v.st;
    const int32_t q = v.nParmFree;
    velix::detail::cross_rewritten(v);
    std::fill(st.cross, st.cross + pk_lower(q, 0), 0.0);
    if (v.method == kMethodWls || v.method == kMethodDwls) {
        std::fill(st.gradient, st.gradient + q, 0.0);
        return weighted_cross_product(v);
    }
    if (const int32_t k = eval_gradient(view)) return k;
    return kronecker_cross_product(v);
}

int32_t coscrpj(NlpProblem* nlp) {
    ++nlp->run.nHess;
    const EvalView v = eval_view(proc_context(nlp));
    if (const int32_t digit = nlp->opt.derivDigits % 1000 / 100) {
        // The differences may be asked for in st.cross itself.
        if (nlp->hess.hessian == v.st->cross) velix::detail::cross_rewritten(v);
        return fd_hessian(nlp, digit);
    }
    EvaluationState& st = *v.st;
    if (!st.valid) return -1;
    if (cosfdcj(nlp) != 0) return -1;
    const int32_t q = v.nParmFree;
    // The last measure of a run, the test of its final gradient and the
    // covariance hook all ask at the final point: formed once.
    if (!velix::detail::cross_product_at_hand(v)) {
        if (const int32_t rc = cosmcrp(&v)) return rc;
        for (int32_t j = 0; j < q; ++j) {
            double& d = st.cross[pk_lower(j, j)];
            if (d < kNegativeDiagonal) return -3;
            if (d < kTinyDiagonal) d = 0.0;
        }
        std::copy(st.gradient, st.gradient + q, st.crossGradient);
        std::copy(nlp->param.x, nlp->param.x + q, st.crossAt);
        st.crossMode = *v.jacobianMode;
        st.crossMethod = v.method;
    }
    // The optimizer's covariance code may ask for it in st.cross itself.
    if (nlp->hess.hessian != st.cross) std::copy(st.cross, st.cross + pk_lower(q, 0), nlp->hess.hessian);
    std::copy(st.crossGradient, st.crossGradient + q, st.gradient);
    std::copy(st.gradient, st.gradient + q, nlp->work.gradient);
    return 0;
}

int32_t coshess(NlpProblem* nlp) {
    ++nlp->run.nHess;
    const int32_t digit = nlp->opt.derivDigits % 10000 / 1000;
    return fd_hessian(nlp, digit == 0 ? 3 : digit);
}
