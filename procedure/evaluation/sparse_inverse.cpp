// Sparse inverse of I - M by Gauss-Jordan elimination on a fixed pattern
// (Duff, Erisman and Reid, "Direct Methods for Sparse Matrices", ch. 7 and
// 9): the pattern of the inverse is found once, symbolically, by the same
// elimination (row r takes row p's pattern when it has an entry in column
// p), and every later inversion runs on it without allocation.
//
//   cosimsp: candidates; for each: pattern of I - M, symbolic elimination
//   cosinsp: values from the sources; for each pivot p: scale row p,
//            eliminate column p from every row that has an entry there
#include "procedure/evaluation/sparse_inverse.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "velix/codes.h"
#include "velix/host.h"
#include "velix/types.h"

namespace {

int32_t row_begin(const SparseInverse& s, int32_t r) {
    return r == 0 ? 0 : s.rowEnd[r - 1];
}

// Position of entry (r, c), or -1.
int32_t find(const SparseInverse& s, int32_t r, int32_t c) {
    const int32_t* first = s.col + row_begin(s, r);
    const int32_t* last = s.col + s.rowEnd[r];
    const int32_t* at = std::lower_bound(first, last, c);
    return at != last && *at == c ? static_cast<int32_t>(at - s.col) : -1;
}

int32_t inverse_order(const EvalView& v, int32_t k) {
    return v.mt->type[k] == kMatEqsBeta ? v.mt->rows[k] - v.nExogenous : v.mt->rows[k];
}

bool candidate(const EvalView& v, int32_t k) {
    const ModelMatrixTable& mt = *v.mt;
    // A later occurrence of a name is the same matrix as its first.
    if (mt.form[k] != kFormIMinusInverse || mt.elementCount[k] == 0 || mt.rows[k] != mt.columns[k] ||
        velix::detail::name_root(v, k) != k)
        return false;
    switch (mt.type[k]) {
        case kMatEqsBeta:
        case kMatGeneral:
        case kMatLower:
        case kMatUpper:
        case kMatSymmetric:
            return true;
        default:
            return false;
    }
}

// Sources of I - M on a dense order x order grid (1 + source; 0 absent),
// then the fill-in of Gauss-Jordan in natural order.
std::vector<int64_t> filled_pattern(const EvalView& v, int32_t k, int32_t m) {
    std::vector<int64_t> grid(static_cast<size_t>(m) * m, 0);
    auto at = [&](int32_t r, int32_t c) -> int64_t& { return grid[static_cast<size_t>(r) * m + c]; };
    for (int32_t i = 0; i < m; ++i) at(i, i) = 1 + int64_t{SparseInverse::kUnitSource};
    const ModelMatrixTable& mt = *v.mt;
    const bool symmetric = mt.type[k] == kMatSymmetric;
    for (int32_t e = mt.firstElement[k]; e < mt.firstElement[k] + mt.elementCount[k]; ++e) {
        const int32_t r = v.el->row[e], c = v.el->column[e];
        if (r >= m || c >= m) continue;
        const int32_t source = r == c ? -(e + 1) : e + 1;
        at(r, c) = 1 + source;
        if (symmetric) at(c, r) = 1 + source;
    }
    for (int32_t p = 0; p < m; ++p)
        for (int32_t r = 0; r < m; ++r)
            if (r != p && at(r, p) != 0)
                for (int32_t c = 0; c < m; ++c)
                    if (at(p, c) != 0 && at(r, c) == 0) at(r, c) = 1;  // fill-in: source 0
    return grid;
}

template <typename T>
T* carve(const EvalView& v, int64_t count) {
    void* p = v.st->pool->allocate(v.st->pool, static_cast<size_t>(std::max<int64_t>(count, 1)) * sizeof(T), 4096);
    return p != nullptr && xmemdef(p) == 0 ? static_cast<T*>(p) : nullptr;
}

// Lays out the pattern in sparseInv; false when the pool cannot hold it.
bool lay_out(const EvalView& v, int32_t k, int32_t m, const std::vector<int64_t>& grid, int64_t nnz) {
    SparseInverse& s = v.st->sparseInv;
    s.rowEnd = carve<int32_t>(v, m);
    s.pivotOrder = carve<int32_t>(v, m);
    s.col = carve<int32_t>(v, nnz);
    s.source = carve<int32_t>(v, nnz);
    s.val = carve<double>(v, nnz);
    if (!s.rowEnd || !s.pivotOrder || !s.col || !s.source || !s.val) return false;
    int32_t t = 0;
    for (int32_t r = 0; r < m; ++r) {
        for (int32_t c = 0; c < m; ++c)
            if (const int64_t g = grid[static_cast<size_t>(r) * m + c]; g != 0) {
                s.col[t] = c;
                s.source[t++] = static_cast<int32_t>(g - 1);
            }
        s.rowEnd[r] = t;
        s.pivotOrder[r] = r;
    }
    s.matrix = k;
    s.order = m;
    return true;
}

}  // namespace

void cosimsp(const EvalView* view) {
    const EvalView& v = *view;
    v.st->sparseInv = SparseInverse();
    int32_t best = 0;
    for (int32_t k = 1; k <= v.nMatrices; ++k)
        if (candidate(v, k) && (best == 0 || inverse_order(v, k) > inverse_order(v, best))) best = k;
    if (best == 0) return;
    const int32_t m = inverse_order(v, best);
    const std::vector<int64_t> grid = filled_pattern(v, best, m);
    const int64_t nnz = std::count_if(grid.begin(), grid.end(), [](int64_t g) { return g != 0; });
    // Dense storage and products pay once a quarter of the entries are filled.
    if (4 * nnz > int64_t{m} * m) return;
    if (!lay_out(v, best, m, grid, nnz)) v.st->sparseInv = SparseInverse();
}

int32_t cosinsp(const EvalView* view, int32_t k) {
    const EvalView& v = *view;
    SparseInverse& s = v.st->sparseInv;
    if (k != s.matrix || s.matrix == 0) return 1;
    const int32_t m = s.order, nnz = s.rowEnd[m - 1];
    for (int32_t t = 0; t < nnz; ++t) {
        const int32_t src = s.source[t];
        s.val[t] = src == SparseInverse::kUnitSource ? 1.0
                   : src > 0                         ? -v.el->value[src - 1]
                   : src < 0                         ? 1.0 - v.el->value[-src - 1]
                                                     : 0.0;
    }
    double* work = v.st->rowBuf;  // row p scaled by 1 / pivot (ld >= m)
    for (int32_t i = 0; i < m; ++i) {
        const int32_t p = s.pivotOrder[i];
        const int32_t d = find(s, p, p);
        if (d < 0 || !(std::fabs(s.val[d]) > v.singular)) return 1;
        const double q = 1.0 / s.val[d];
        std::fill(work, work + m, 0.0);
        for (int32_t t = row_begin(s, p); t < s.rowEnd[p]; ++t) work[s.col[t]] = s.val[t] * q;
        for (int32_t r = 0; r < m; ++r) {
            const int32_t rp = find(s, r, p);
            if (rp < 0 || s.val[rp] == 0.0) continue;
            const double a = s.val[rp];
            for (int32_t t = row_begin(s, r); t < s.rowEnd[r]; ++t) {
                const int32_t c = s.col[t];
                if (r == p)
                    s.val[t] = c == p ? q : work[c];
                else
                    s.val[t] = c == p ? -a * q : s.val[t] - a * work[c];
            }
        }
    }
    return 0;
}

void getarow(const EvalView* view, int32_t, int32_t r, double* dest) {
    const SparseInverse& s = view->st->sparseInv;
    std::fill(dest, dest + s.order, 0.0);
    for (int32_t t = row_begin(s, r); t < s.rowEnd[r]; ++t) dest[s.col[t]] = s.val[t];
}

void multiply_sparse_inverse(const EvalView& v, int32_t transpose, const double* row, double* out) {
    const SparseInverse& s = v.st->sparseInv;
    for (int32_t k = 0; k < s.order; ++k) {
        if (!transpose && row[k] == 0.0) continue;
        double sum = 0.0;
        for (int32_t t = row_begin(s, k); t < s.rowEnd[k]; ++t) {
            if (transpose)
                sum += s.val[t] * row[s.col[t]];
            else
                out[s.col[t]] += row[k] * s.val[t];
        }
        if (transpose) out[k] += sum;
    }
}
