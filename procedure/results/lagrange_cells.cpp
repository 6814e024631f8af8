// The modification indices of the fixed cells of a model matrix, all at
// once (see lagrange_cells.h).
//
//   begin: count the groups of the Jacobian's columns; size the blocks;
//          memory rule for the copy of V; pool; K, dF/dC dense; V g, diag V
//   per matrix: U'GV (gamma); GLS, ML: X = K U, Y = K V, U'KU, V'KV, U'KV
//          (delta) and x'a, y'a of every group
//   per block of cells (GLS, ML: rows r0 .. r0 + rows - 1):
//          b of each cell (rank-one updates per group, or WLS products of
//          weighted columns); b'Vb by panels of V; b'Vg; the outcomes
#include "procedure/results/lagrange_cells.h"

#include <algorithm>
#include <cstring>

#include "numerics/kernel_support.h"
#include "numerics/packed.h"
#include "numerics/packed_forms.h"
#include "numerics/row_products.h"
#include "procedure/evaluation/information_scratch.h"
#include "procedure/evaluation/term_walker.h"
#include "velix/codes.h"
#include "velix/host.h"
#include "velix/host_vector.h"
#include "velix/messages.h"
#include "velix/packed_index.h"

using velix::pk_lower;

namespace {

// The bordering rows of one block of cells take about this much (and as
// much again for their rank-one updates): a few rows of a large matrix.
constexpr int64_t kBlockBytes = int64_t{1} << 20;
// The copy of V is held when it leaves this reserve and a quarter of what
// one allocation may take.
constexpr int64_t kHoldReserve = 20000;
constexpr double kHoldShare = 0.75;
constexpr int32_t kProducts = 11;  // per-matrix arrays of Products
// The host's memory codes are told from byte counts by this offset.
constexpr int32_t kMemoryCodeOffset = 20000;

template <typename T>
T* take(HostAllocator* pool, int64_t count) {
    return static_cast<T*>(pool->allocate(pool, static_cast<size_t>(std::max<int64_t>(count, 1)) * sizeof(T), 4096));
}

// rows[i] := base + i * ld.
std::vector<const double*> rows_of(const double* base, int64_t ld, int32_t count) {
    std::vector<const double*> r(static_cast<size_t>(std::max(count, 0)));
    velix::detail::dense_rows(base, ld, count, r.data());
    return r;
}
std::vector<double*> rows_of(double* base, int64_t ld, int32_t count) {
    std::vector<double*> r(static_cast<size_t>(std::max(count, 0)));
    velix::detail::dense_rows(base, ld, count, r.data());
    return r;
}

// out (m x nb, zeroed first) := A B' by rows, A m x k and B nb x k.
void product(int32_t m, int32_t nb, int32_t k, const double* a, const double* b, double* out) {
    std::fill(out, out + int64_t{m} * nb, 0.0);
    const std::vector<const double*> ar = rows_of(a, k, m), br = rows_of(b, k, nb);
    const std::vector<double*> cr = rows_of(out, nb, m);
    velix::detail::rows_product(m, nb, k, ar.data(), br.data(), 1.0, cr.data(), false);
}

// The rows of V from the information scratch, a panel at a time.
struct ScratchPanel {
    const EvalView* view;
    double* buffer;
};
const double* scratch_panel(void* source, int32_t i0, int32_t i1) {
    auto* p = static_cast<ScratchPanel*>(source);
    read_covariance_rows(p->view, i0, i1, p->buffer);
    return p->buffer;
}

// Element (i, j) of a row-major matrix with rows of length ld.
double at(const double* m, int32_t ld, int32_t i, int32_t j) {
    return m[int64_t{i} * ld + j];
}

// row := (or +=) a y + b z over `width` entries: the share of one group in
// a row of a parameter's tile.
VELIX_KERNEL_CLONES
void group_row(int32_t width, double a, double b, const double* __restrict y, const double* __restrict z, bool first,
               double* __restrict row) {
    if (first)
        for (int32_t c = 0; c < width; ++c) row[c] = a * y[c] + b * z[c];
    else
        for (int32_t c = 0; c < width; ++c) row[c] += a * y[c] + b * z[c];
}

// The same with the exchanged term of a symmetric layout: += a y + b z +
// a2 x + b2 w (x, w the rows that y, z are of the other side).
VELIX_KERNEL_CLONES
void group_row_symmetric(int32_t width, double a, double b, double a2, double b2, const double* __restrict x,
                         const double* __restrict w, const double* __restrict y, const double* __restrict z, bool first,
                         double* __restrict row) {
    if (first)
        for (int32_t c = 0; c < width; ++c) row[c] = a * y[c] + b * z[c] + a2 * x[c] + b2 * w[c];
    else
        for (int32_t c = 0; c < width; ++c) row[c] += a * y[c] + b * z[c] + a2 * x[c] + b2 * w[c];
}

}  // namespace

// The per-matrix products of the shown block (R rows, C columns): U' and V'
// by rows, G V, U'GV; GLS and ML: X = K U, Y = K V (by rows and by
// columns), U'KV, and U'KU, V'KV (whole for a symmetric layout, else their
// diagonals).
struct LmCellWork::Products {
    int32_t R = 0, C = 0;
    double *Ut, *Vt, *GVt, *Gm, *Xt, *Yt, *X, *Y, *M, *P, *Q;
};

LmCellWork::~LmCellWork() {
    xmpoold(pool_);
}

void LmCellWork::column_groups(int32_t k) {
    const LmSetup& s = *s_;
    groups_ = RowGroups{};
    if (s.source == LmSource::kSparse) {
        const JacobianStorage& jac = s.rv.eval->jac;
        const int32_t t0 = k == 0 ? 0 : jac.rowEnd[k - 1];
        spgroup_entries(s.n, jac.rowEnd[k] - t0, jac.nzRow + t0, jac.nzCol + t0, jac.nzValue + t0, &groups_);
        return;
    }
    const double* column = velix::detail::lm_column(s, k);
    entryRow_.clear();
    entryCol_.clear();
    entryValue_.clear();
    for (int32_t i = 0, t = 0; i < s.n; ++i)
        for (int32_t j = 0; j <= i; ++j, ++t)
            if (column[t] != 0.0) {
                entryRow_.push_back(i);
                entryCol_.push_back(j);
                entryValue_.push_back(column[t]);
            }
    spgroup_entries(s.n, static_cast<int32_t>(entryRow_.size()), entryRow_.data(), entryCol_.data(),
                    entryValue_.data(), &groups_);
}

bool LmCellWork::begin(const LmSetup* s, int32_t wide) {
    s_ = s;
    wide_ = std::max(wide, 1);
    const int64_t q = s->q, n = s->n, p = s->pstar, w = wide_;
    const bool wls = s->factor != nullptr;
    int64_t groups = 0;
    if (!wls)
        for (int32_t k = 0; k < s->q; ++k) {
            column_groups(k);
            groups += static_cast<int64_t>(groups_.pivot.size());
        }
    if (!wls) {
        const int64_t rows = std::clamp<int64_t>(kBlockBytes / (8 * std::max<int64_t>(q, 1) * w), 1, w);
        tileCap_ = rows * std::max<int64_t>(q, 1) * w;
        cellCap_ = static_cast<int32_t>(std::min(rows * w, w * w));
    } else {
        cellCap_ = static_cast<int32_t>(std::clamp<int64_t>(kBlockBytes / (8 * (p + q)), 1, w * w));
    }
    // The bytes of the work: the blocks, the groups' products, the
    // per-matrix products, the dense weight and dF/dC, a panel of V, V g
    // and V's diagonal; then those of the copy of V.
    const int64_t work = 8 * (tileCap_ + int64_t{cellCap_} * (q + velix::detail::kFormPanel + 4) +
                              (wls ? int64_t{cellCap_} * p : 0) + groups * 2 * w +
                              kProducts * w * std::max(n, w) + 2 * n * n + velix::detail::kFormPanel * q + 2 * q);
    const int64_t withCopy = work + 8 * pk_lower(q, 0);
    HostAllocator* trial = xmpoolc(1024, 1024, 4096);
    const int64_t available = trial != nullptr ? xmsize(trial) : 0;
    xmpoold(trial);
    const bool hold = withCopy + kHoldReserve < available && static_cast<double>(withCopy) < kHoldShare * static_cast<double>(available);
    if (!hold) xpmlog(kMsgProc, kMsgLmCovarianceFromFile);
    const int64_t bytes = hold ? withCopy : work;
    pool_ = xmpoolc(bytes, 1024, 4096);
    if (pool_ == nullptr) {
        xmemmsg(bytes);
        xpmlog(kMsgProc, kMsgLmNoMemory);
        return false;
    }
    return allocate(groups, hold);
}

bool LmCellWork::allocate(int64_t groups, bool holdCovariance) {
    const LmSetup& s = *s_;
    const int64_t q = s.q, n = s.n, w = wide_;
    double* copy = holdCovariance ? take<double>(pool_, pk_lower(q, 0)) : nullptr;
    panel_ = take<double>(pool_, velix::detail::kFormPanel * q);
    Vg_ = take<double>(pool_, q);
    diag_ = take<double>(pool_, q);
    Kd_ = take<double>(pool_, n * n);
    Gd_ = take<double>(pool_, n * n);
    tile_ = take<double>(pool_, tileCap_);
    B_ = take<double>(pool_, int64_t{cellCap_} * q);
    T_ = take<double>(pool_, int64_t{cellCap_} * velix::detail::kFormPanel);
    Y_ = s.factor != nullptr ? take<double>(pool_, int64_t{cellCap_} * s.pstar) : nullptr;
    XA_ = take<double>(pool_, groups * w);
    YA_ = take<double>(pool_, groups * w);
    matrices_ = take<double>(pool_, kProducts * w * std::max(n, w));
    gamma_ = take<double>(pool_, 4 * int64_t{cellCap_});
    if (const int32_t code = xmemdef(gamma_)) {
        xmemmsg(code + kMemoryCodeOffset);
        xpmlog(kMsgProc, kMsgLmNoMemory);
        return false;
    }
    delta_ = gamma_ + cellCap_;
    bVb_ = delta_ + cellCap_;
    bVg_ = bVb_ + cellCap_;
    for (int32_t i = 0; i < s.n; ++i)
        for (int32_t j = 0; j < s.n; ++j) {
            Kd_[int64_t{i} * n + j] = s.K != nullptr ? s.K[velix::pk(i, j)] : 0.0;
            Gd_[int64_t{i} * n + j] = s.dFdC[static_cast<size_t>(velix::pk(i, j))];
        }
    if (copy != nullptr) {
        read_covariance_rows(&s.view, 0, s.q, copy);
        V_ = copy;
    }
    // V g and V's diagonal, one pass over V's rows.
    std::fill(Vg_, Vg_ + q, 0.0);
    ScratchPanel source{&s.view, panel_};
    for (int32_t i0 = 0; i0 < s.q; i0 += velix::detail::kFormPanel) {
        const int32_t i1 = std::min(s.q, i0 + velix::detail::kFormPanel);
        const double* rows = V_ != nullptr ? V_ + pk_lower(i0, 0) : scratch_panel(&source, i0, i1);
        for (int32_t i = i0; i < i1; ++i) {
            const double* vi = rows + pk_lower(i, 0) - pk_lower(i0, 0);
            for (int32_t j = 0; j < i; ++j) {
                Vg_[i] += vi[j] * s.g[static_cast<size_t>(j)];
                Vg_[j] += vi[j] * s.g[static_cast<size_t>(i)];
            }
            Vg_[i] += vi[i] * s.g[static_cast<size_t>(i)];
            diag_[i] = vi[i];
        }
    }
    return true;
}

void LmCellWork::products(const WalkStep& step, bool sym, Products* p) {
    const LmSetup& s = *s_;
    const int32_t n = s.n, ld = s.view.ld, R = p->R, C = p->C;
    const int64_t each = int64_t{wide_} * std::max(n, wide_);
    double* a = matrices_;
    for (double** m : {&p->Ut, &p->Vt, &p->GVt, &p->Gm, &p->Xt, &p->Yt, &p->X, &p->Y, &p->M, &p->P, &p->Q}) {
        *m = a;
        a += each;
    }
    for (int32_t i = 0; i < n; ++i) {
        for (int32_t r = 0; r < R; ++r) p->Ut[int64_t{r} * n + i] = step.U[int64_t{i} * ld + r];
        for (int32_t c = 0; c < C; ++c) p->Vt[int64_t{c} * n + i] = step.V[int64_t{i} * ld + c];
    }
    product(C, n, n, p->Vt, Gd_, p->GVt);
    product(R, C, n, p->Ut, p->GVt, p->Gm);
    if (s.factor != nullptr) return;
    product(R, n, n, p->Ut, Kd_, p->Xt);
    product(C, n, n, p->Vt, Kd_, p->Yt);
    for (int32_t i = 0; i < n; ++i) {
        for (int32_t r = 0; r < R; ++r) p->X[int64_t{i} * R + r] = p->Xt[int64_t{r} * n + i];
        for (int32_t c = 0; c < C; ++c) p->Y[int64_t{i} * C + c] = p->Yt[int64_t{c} * n + i];
    }
    product(R, C, n, p->Ut, p->Yt, p->M);
    if (sym) {
        product(R, R, n, p->Ut, p->Xt, p->P);
        product(C, C, n, p->Vt, p->Yt, p->Q);
        return;
    }
    for (int32_t r = 0; r < R; ++r) p->P[int64_t{r} * R + r] = zinner(p->Ut + int64_t{r} * n, p->Xt + int64_t{r} * n, n);
    for (int32_t c = 0; c < C; ++c) p->Q[int64_t{c} * C + c] = zinner(p->Vt + int64_t{c} * n, p->Yt + int64_t{c} * n, n);
}

void LmCellWork::group_products(const Products& p) {
    const LmSetup& s = *s_;
    const int32_t ld = wide_;
    pivot_.clear();
    paramEnd_.clear();
    for (int32_t k = 0; k < s.q; ++k) {
        column_groups(k);
        for (size_t h = 0; h < groups_.pivot.size(); ++h) {
            const int64_t g = static_cast<int64_t>(pivot_.size());
            const int32_t e0 = groups_.start[h], count = groups_.start[h + 1] - e0;
            velix::detail::gathered_rows_sum(p.R, count, p.X, p.R, &groups_.index[static_cast<size_t>(e0)],
                                             &groups_.value[static_cast<size_t>(e0)], XA_ + g * ld);
            velix::detail::gathered_rows_sum(p.C, count, p.Y, p.C, &groups_.index[static_cast<size_t>(e0)],
                                             &groups_.value[static_cast<size_t>(e0)], YA_ + g * ld);
            pivot_.push_back(groups_.pivot[h]);
        }
        paramEnd_.push_back(static_cast<int32_t>(pivot_.size()));
    }
}

void LmCellWork::kron_block(const Products& p, bool sym, const LmCellRef* cells, int32_t count, int32_t r0,
                            int32_t rowCount) {
    const LmSetup& s = *s_;
    const int32_t q = s.q, ld = wide_, C = p.C, R = p.R;
    // Without a symmetric layout the tiles hold only the columns the
    // block's cells need when those are few (most cells of a loading matrix
    // share the index of a covariance met before).
    columns_.clear();
    for (int32_t i = 0; i < count; ++i) columns_.push_back(cells[i].c);
    std::sort(columns_.begin(), columns_.end());
    columns_.erase(std::unique(columns_.begin(), columns_.end()), columns_.end());
    const bool compact = !sym && 2 * columns_.size() <= static_cast<size_t>(C);
    const int32_t W = compact ? static_cast<int32_t>(columns_.size()) : C;
    column_.assign(static_cast<size_t>(compact ? C : 0), 0);
    for (int32_t j = 0; compact && j < W; ++j) column_[static_cast<size_t>(columns_[static_cast<size_t>(j)])] = j;
    gathered_.resize(2 * static_cast<size_t>(W));
    for (int32_t k = 0, h = 0; k < q; ++k) {
        // The first group of a parameter sets its rows, the others add.
        const int32_t h0 = h;
        if (h0 == paramEnd_[static_cast<size_t>(k)])
            std::fill(tile_ + int64_t{k} * rowCount * W, tile_ + int64_t{k + 1} * rowCount * W, 0.0);
        for (; h < paramEnd_[static_cast<size_t>(k)]; ++h) {
            const int32_t piv = pivot_[static_cast<size_t>(h)];
            const double* xa = XA_ + int64_t{h} * ld;
            const double* ya = YA_ + int64_t{h} * ld;
            const double* xp = p.X + int64_t{piv} * R;
            const double* yp = p.Y + int64_t{piv} * C;
            if (compact) {
                for (int32_t j = 0; j < W; ++j) {
                    gathered_[static_cast<size_t>(j)] = ya[columns_[static_cast<size_t>(j)]];
                    gathered_[static_cast<size_t>(W + j)] = yp[columns_[static_cast<size_t>(j)]];
                }
                ya = gathered_.data();
                yp = gathered_.data() + W;
            }
            for (int32_t rr = 0; rr < rowCount; ++rr) {
                const int32_t r = r0 + rr, width = sym ? r + 1 : W;
                double* row = tile_ + (int64_t{k} * rowCount + rr) * W;
                // x_r'J y_c over the group: x_p(r) (a'y)(c) + (x'a)(r) y_p(c),
                // and for a symmetric layout x_c'J y_r as well.
                if (sym)
                    group_row_symmetric(width, xp[r], xa[r], ya[r], yp[r], xp, xa, ya, yp, h == h0, row);
                else
                    group_row(width, xp[r], xa[r], ya, yp, h == h0, row);
            }
        }
    }
    const double s2 = scale_;
    for (int32_t i = 0; i < count; ++i) {
        const int32_t r = cells[i].r, c = cells[i].c;
        const bool mirrored = sym && r != c;
        // The tile of a symmetric diagonal cell holds its term twice.
        const double f = sym && r == c ? s2 : 2.0 * s2;
        double* bi = B_ + int64_t{i} * q;
        const int32_t j = compact ? column_[static_cast<size_t>(c)] : c;
        for (int32_t k = 0; k < q; ++k) bi[k] = f * tile_[(int64_t{k} * rowCount + (r - r0)) * W + j];
        gamma_[i] = 2.0 * s2 * (at(p.Gm, C, r, c) + (mirrored ? at(p.Gm, C, c, r) : 0.0));
        double d = at(p.P, R, r, r) * at(p.Q, C, c, c) + at(p.M, C, r, c) * at(p.M, C, r, c);
        if (mirrored)
            d += at(p.P, R, c, c) * at(p.Q, C, r, r) + at(p.M, C, c, r) * at(p.M, C, c, r) +
                 2.0 * (at(p.P, R, r, c) * at(p.Q, C, r, c) + at(p.M, C, r, r) * at(p.M, C, c, c));
        delta_[i] = 2.0 * s2 * s2 * d;
    }
}

void LmCellWork::wls_block(const WalkStep& step, const Products& p, bool sym, const LmCellRef* cells,
                           int32_t count) {
    const LmSetup& s = *s_;
    const int32_t q = s.q, pstar = s.pstar, C = p.C;
    for (int32_t i = 0; i < count; ++i) {
        const int32_t r = cells[i].r, c = cells[i].c;
        const bool mirrored = sym && r != c;
        const RankTwo parts[2] = {{step.U, step.V, s.view.ld, r, c, scale_}, {step.U, step.V, s.view.ld, c, r, scale_}};
        velix::detail::lm_element_dc(s, parts, mirrored ? 2 : 1, &dC_);
        double* y = Y_ + int64_t{i} * pstar;
        std::copy(dC_.begin(), dC_.end(), y);
        (void)cosfsub(pstar, 1, velix::detail::kCheckedFactorBound, s.factor, y);
        delta_[i] = 2.0 * zinner(y, y, pstar);
        gamma_[i] = 2.0 * scale_ * (p.Gm[int64_t{r} * C + c] + (mirrored ? p.Gm[int64_t{c} * C + r] : 0.0));
    }
    // b_k = 2 (L^-1 dC)'(L^-1 J_k), a weighted column at a time.
    const std::vector<const double*> yr = rows_of(static_cast<const double*>(Y_), pstar, count);
    std::vector<double*> br = rows_of(B_, q, count);
    for (int32_t k = 0; k < q; ++k) {
        const double* column = velix::detail::lm_column(s, k);
        for (int32_t i = 0; i < count; ++i) B_[int64_t{i} * q + k] = 0.0;
        velix::detail::rows_product(count, 1, pstar, yr.data(), &column, 2.0, br.data(), false);
        for (double*& b : br) ++b;
    }
}

void LmCellWork::finish_block(int32_t count, LmCell* out) {
    const LmSetup& s = *s_;
    const int32_t q = s.q;
    const std::vector<const double*> br = rows_of(static_cast<const double*>(B_), q, count);
    ScratchPanel source{&s.view, panel_};
    if (V_ != nullptr)
        velix::detail::packed_quadratic_forms(q, count, br.data(), velix::detail::packed_panel_in_memory,
                                              const_cast<double*>(V_), T_, bVb_);
    else
        velix::detail::packed_quadratic_forms(q, count, br.data(), scratch_panel, &source, T_, bVb_);
    for (int32_t i = 0; i < count; ++i) {
        bVg_[i] = zinner(br[static_cast<size_t>(i)], Vg_, q);
        out[i] = velix::detail::lm_cell(s, gamma_[i], delta_[i], bVb_[i], bVg_[i]);
    }
}

void LmCellWork::shared_cells(const WalkStep& step, bool sym, int32_t rows, int32_t cols,
                              const std::vector<LmCellRef>& cells, std::vector<int64_t>* key,
                              std::vector<double>* sigma) {
    const LmSetup& s = *s_;
    const int32_t n = s.n, ld = s.view.ld;
    // The one nonzero of each column of U and V: its row (-1 for none or
    // several) and value.
    const auto single = [&](const double* M, int32_t count, std::vector<int32_t>* at, std::vector<double>* value) {
        at->assign(static_cast<size_t>(count), -1);
        value->assign(static_cast<size_t>(count), 0.0);
        std::vector<int32_t> seen(static_cast<size_t>(count), 0);
        for (int32_t i = 0; i < n; ++i)
            for (int32_t c = 0; c < count; ++c) {
                const double x = M[int64_t{i} * ld + c];
                if (x == 0.0 || ++seen[static_cast<size_t>(c)] > 1) continue;
                (*at)[static_cast<size_t>(c)] = i;
                (*value)[static_cast<size_t>(c)] = x;
            }
        for (int32_t c = 0; c < count; ++c)
            if (seen[static_cast<size_t>(c)] != 1) (*at)[static_cast<size_t>(c)] = -1;
    };
    std::vector<int32_t> ui, vi;
    std::vector<double> uv, vv;
    single(step.U, sym ? std::max(rows, cols) : rows, &ui, &uv);
    single(step.V, sym ? std::max(rows, cols) : cols, &vi, &vv);
    key->assign(cells.size(), -1);
    sigma->assign(cells.size(), 0.0);
    for (size_t t = 0; t < cells.size(); ++t) {
        const size_t r = static_cast<size_t>(cells[t].r), c = static_cast<size_t>(cells[t].c);
        const int32_t i = ui[r], j = vi[c];
        if (i < 0 || j < 0) continue;
        double sig = step.scale * uv[r] * vv[c];
        if (sym && r != c) {
            if (ui[c] < 0 || vi[r] < 0 || std::minmax(i, j) != std::minmax(ui[c], vi[r])) continue;
            sig += step.scale * uv[c] * vv[r];
        }
        if (sig == 0.0) continue;
        (*key)[t] = int64_t{std::max(i, j)} * n + std::min(i, j);
        (*sigma)[t] = sig;
    }
}

void LmCellWork::matrix_cells(const WalkStep& step, int32_t rows, int32_t cols, bool sym,
                              const std::vector<LmCellRef>& cells, std::vector<LmCell>* out) {
    out->assign(cells.size(), LmCell{});
    if (cells.empty()) return;
    const LmSetup& s = *s_;
    scale_ = step.scale;
    std::vector<int64_t> key;
    std::vector<double> sigma;
    shared_cells(step, sym, rows, cols, cells, &key, &sigma);
    // The cells to compute: those of a derivative not met before.
    std::vector<LmCellRef> todo;
    std::vector<size_t> place;
    std::unordered_map<int64_t, size_t> first;
    for (size_t t = 0; t < cells.size(); ++t) {
        if (key[t] >= 0 && (shared_.count(key[t]) != 0 || !first.emplace(key[t], t).second)) continue;
        todo.push_back(cells[t]);
        place.push_back(t);
    }
    std::vector<LmCell> computed(todo.size());
    if (!todo.empty()) {
        Products p;
        p.R = rows;
        p.C = cols;
        products(step, sym, &p);
        if (s.factor != nullptr) {
            compute_wls(step, p, sym, todo, &computed);
        } else {
            group_products(p);
            compute_kron(p, sym, todo, &computed);
        }
    }
    for (size_t i = 0; i < todo.size(); ++i) {
        const size_t t = place[i];
        (*out)[t] = computed[i];
        if (key[t] < 0) continue;
        LmCell unit = computed[i];
        unit.change *= sigma[t];
        shared_.emplace(key[t], unit);
    }
    for (size_t t = 0; t < cells.size(); ++t) {
        if (key[t] < 0 || (first.count(key[t]) != 0 && first[key[t]] == t)) continue;
        LmCell cell = shared_.at(key[t]);
        cell.change /= sigma[t];
        (*out)[t] = cell;
    }
}

void LmCellWork::compute_wls(const WalkStep& step, const Products& p, bool sym, const std::vector<LmCellRef>& cells,
                             std::vector<LmCell>* out) {
    const int32_t total = static_cast<int32_t>(cells.size());
    for (int32_t i0 = 0; i0 < total; i0 += cellCap_) {
        const int32_t count = std::min(cellCap_, total - i0);
        wls_block(step, p, sym, cells.data() + i0, count);
        finish_block(count, out->data() + i0);
    }
}

void LmCellWork::compute_kron(const Products& p, bool sym, const std::vector<LmCellRef>& cells,
                              std::vector<LmCell>* out) {
    const int32_t total = static_cast<int32_t>(cells.size());
    // Blocks of whole rows whose tiles fit: cells come row by row.
    const int32_t rowsPerBlock =
        static_cast<int32_t>(std::max<int64_t>(1, tileCap_ / (int64_t{std::max(s_->q, 1)} * p.C)));
    for (int32_t i0 = 0; i0 < total;) {
        const int32_t r0 = cells[static_cast<size_t>(i0)].r;
        int32_t i1 = i0;
        while (i1 < total && cells[static_cast<size_t>(i1)].r < r0 + rowsPerBlock && i1 - i0 < cellCap_) ++i1;
        const int32_t rowCount = cells[static_cast<size_t>(i1 - 1)].r - r0 + 1;
        kron_block(p, sym, cells.data() + i0, i1 - i0, r0, rowCount);
        finish_block(i1 - i0, out->data() + i0);
        i0 = i1;
    }
}
