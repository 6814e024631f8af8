// Typed-matrix kernels of the COSAN model form (McDonald, "A simple
// comprehensive model for the analysis of covariance structures", Br. J.
// Math. Stat. Psychol. 31, 1978): dense unpacking and in-place right
// multiplication of model matrices held as a type, a form and a list of
// elements.  Each product row is accumulated in one scratch row and copied
// back, so the product is formed in place; structured types are applied by
// index (identity, selection), by scaling (diagonal) or by scattering their
// element list, and stored inverses are only read here.
#include "procedure/evaluation/cosan_kernels.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "procedure/evaluation/sparse_inverse.h"
#include "velix/codes.h"
#include "velix/host.h"
#include "velix/messages.h"
#include "velix/packed_index.h"
#include "velix/types.h"

using velix::pk;

namespace {

constexpr int32_t kMsgNoConformity = 137;  // shapes of a product do not conform
constexpr int32_t kMsgBadForm = 62;        // a form on a type without an inverse rule

// A type that cannot multiply without a form (an internal error: the
// readers give every model matrix a type that can): 66 with its error text.
[[noreturn]] void no_product(const EvalView& v, int32_t j) {
    xpmlog(kMsgProc, kMsgSharedReport, kSeverityError,
           kyrmsgs(kMsgProc, kMsgNoProductText, velix::detail::matrix_name(v, j).c_str()));
    xexit(std::max(kLevelInternal, *v.errorLevel), 0);
}

// The value an element contributes with the diagonal types' form applied
// element by element: 1/v for INVERSE, 1/(1-v) for IMINUSINV.
double diagonal_value(int16_t form, double v) {
    if (form == kFormInverse) return 1.0 / v;
    if (form == kFormIMinusInverse) return 1.0 / (1.0 - v);
    return v;
}

// Order of a stored dense inverse (EQSBETA: its endogenous block).
int32_t inverse_order(const EvalView& v, int32_t j) {
    return v.mt->type[j] == kMatEqsBeta ? v.mt->rows[j] - v.nExogenous : v.mt->rows[j];
}

// Calls put(row, col, value) for every nonzero of M_j as it enters the
// model (before the transpose), for the types with an element list or a
// stored inverse.  Returns false for a type and form it has no rule for.
template <typename Put>
bool for_each_entry(const EvalView& v, int32_t j, Put&& put) {
    const ModelMatrixTable& mt = *v.mt;
    const int16_t type = mt.type[j], form = mt.form[j];
    const int32_t e0 = mt.firstElement[j], e1 = e0 + mt.elementCount[j];
    const double* val = v.el->value;
    if (type == kMatDiagonal || type == kMatZerDiagonal) {
        for (int32_t e = e0; e < e1; ++e)
            put(v.el->row[e], v.el->column[e], diagonal_value(form, val[e]));
        return true;
    }
    if (form == kFormNone) {
        switch (type) {
            case kMatGeneral:
            case kMatLower:
            case kMatUpper:
            case kMatPermutation:
            case kMatEqsBeta:
                for (int32_t e = e0; e < e1; ++e) put(v.el->row[e], v.el->column[e], val[e]);
                return true;
            case kMatPosDefinit:
            case kMatSymmetric:
                for (int32_t e = e0; e < e1; ++e) {
                    put(v.el->row[e], v.el->column[e], val[e]);
                    if (v.el->row[e] != v.el->column[e]) put(v.el->column[e], v.el->row[e], val[e]);
                }
                return true;
            case kMatBeta: {
                for (int32_t e = e0; e < e1; ++e) put(v.el->row[e], v.el->column[e], -val[e]);
                const int32_t m = std::min(mt.rows[j], mt.columns[j]);
                for (int32_t i = 0; i < m; ++i) put(i, i, 1.0);
                return true;
            }
            default:
                return false;
        }
    }
    if (const SparseInverse& sp = v.st->sparseInv; velix::detail::sparse_inverse_of(v, j)) {
        // The full pattern of (I - M)^-1, symmetric types included.
        for (int32_t r = 0; r < sp.order; ++r)
            for (int32_t t = r == 0 ? 0 : sp.rowEnd[r - 1]; t < sp.rowEnd[r]; ++t) put(r, sp.col[t], sp.val[t]);
        return true;
    }
    const double* inv = velix::detail::stored_inverse(v, j);
    const int32_t order = inverse_order(v, j);
    switch (type) {
        case kMatLower:
        case kMatUpper:
            // The packed lower triangle holds L^-1 for LOWER and (U^-1)'
            // for UPPER.
            for (int32_t r = 0; r < order; ++r)
                for (int32_t c = 0; c <= r; ++c) {
                    const double x = inv[velix::pk_lower(r, c)];
                    if (type == kMatLower)
                        put(r, c, x);
                    else
                        put(c, r, x);
                }
            return true;
        case kMatPosDefinit:
        case kMatSymmetric:
            for (int32_t r = 0; r < order; ++r)
                for (int32_t c = 0; c < order; ++c) put(r, c, inv[pk(r, c)]);
            return true;
        case kMatGeneral:
        case kMatBeta:
        case kMatEqsBeta:
            for (int32_t r = 0; r < order; ++r)
                for (int32_t c = 0; c < order; ++c) put(r, c, inv[int64_t{r} * order + c]);
            return true;
        default:
            return false;
    }
}

// The identity-like types: (row, column) of each one of M_j.
template <typename Put>
bool for_each_unit(const EvalView& v, int32_t j, Put&& put) {
    const int32_t rows = v.mt->rows[j], cols = v.mt->columns[j];
    switch (v.mt->type[j]) {
        case kMatIdentity:
            for (int32_t i = 0; i < std::min(rows, cols); ++i) put(i, i, 1.0);
            return true;
        case kMatZerIdentity:
            for (int32_t i = 0; i < rows; ++i)
                if (cols - rows + i >= 0) put(i, cols - rows + i, 1.0);
            return true;
        case kMatSelection:
            for (int32_t i = 0; i < rows; ++i)
                if (v.selIndex[i] >= 0) put(i, v.selIndex[i], 1.0);
            return true;
        default:
            return false;
    }
}

}  // namespace

namespace velix::detail {

void op_shape(const EvalView& v, int32_t transpose, int32_t j, int32_t* rows, int32_t* cols) {
    int32_t r = j == 0 ? v.n : v.mt->rows[j];
    int32_t c = j == 0 ? v.n : v.mt->columns[j];
    if (transpose) std::swap(r, c);
    *rows = r;
    *cols = c;
}

}  // namespace velix::detail

void cosunpa(const EvalView* view, int32_t transpose, int32_t j, int32_t* rows, int32_t* cols,
             double* dest) {
    const EvalView& v = *view;
    const int32_t ld = v.ld;
    if (j == 0) {
        *rows = *cols = v.n;
        for (int32_t i = 0; i < v.n; ++i) {
            std::fill(dest + int64_t{i} * ld, dest + int64_t{i} * ld + v.n, 0.0);
            dest[int64_t{i} * ld + i] = 1.0;
        }
        return;
    }
    int32_t r = v.mt->rows[j], c = v.mt->columns[j];
    if (v.lineqs && j == 2) {
        r -= v.nExogenous;
        c -= v.nExogenous;
    } else if (v.lineqs && j == 3) {
        r -= v.nExogenous;
    }
    if (transpose) std::swap(r, c);
    *rows = r;
    *cols = c;
    for (int32_t i = 0; i < r; ++i)
        std::fill(dest + int64_t{i} * ld, dest + int64_t{i} * ld + c, 0.0);
    auto put = [&](int32_t a, int32_t b, double x) {
        if (transpose) std::swap(a, b);
        if (a < r && b < c) dest[int64_t{a} * ld + b] = x;
    };
    const int16_t type = v.mt->type[j];
    if (for_each_unit(v, j, put)) return;
    if (type == kMatEqsBeta || type == kMatEqsGamma) {
        // The trailing exogenous block is the identity.
        const int32_t endo = v.mt->rows[j] - v.nExogenous;
        if (type == kMatEqsGamma && v.mt->form[j] != kFormNone)
            velix::detail::eval_fault(v, kMsgBadForm, j);
        if (type == kMatEqsBeta && v.mt->form[j] != kFormNone) {
            for_each_entry(v, j, put);
        } else {
            const int32_t e0 = v.mt->firstElement[j];
            for (int32_t e = e0; e < e0 + v.mt->elementCount[j]; ++e)
                put(v.el->row[e], v.el->column[e], v.el->value[e]);
        }
        for (int32_t k = 0; k < v.nExogenous; ++k)
            put(endo + k, type == kMatEqsBeta ? endo + k : k, 1.0);
        return;
    }
    if (type == kMatPermutation && v.mt->form[j] != kFormNone)
        velix::detail::eval_fault(v, kMsgBadForm, j);
    if (!for_each_entry(v, j, put)) velix::detail::eval_fault(v, kMsgBadForm, j);
}

namespace {

// work rows [0, nRows) := work rows times op(M) for an entry list (work
// rows of length ld and nCols columns, op(M) of opCols columns), and work
// row k added to the result's for k in [unitFrom, unitTo) (EQSBETA's
// identity block).  The list is gone through once per block of rows instead
// of once per row, an entry (a, b) reaching only the rows of the block
// whose column a is nonzero (a mask per column); each sum receives the same
// terms in the same order as row by row.
template <typename Each>
void multiply_row_blocks(int32_t transpose, int32_t nRows, int32_t nCols, int32_t opCols, int64_t ld,
                         double* work, int32_t unitFrom, int32_t unitTo, Each&& each) {
    constexpr int32_t kBlock = 16;  // rows per sweep (a bit each in a column's mask): a small buffer
    typedef double Pair __attribute__((vector_size(16)));
    typedef int64_t Bits __attribute__((vector_size(16)));
    thread_local std::vector<double> product;
    thread_local std::vector<uint64_t> masks;
    if (product.size() < static_cast<size_t>(kBlock) * opCols) product.resize(static_cast<size_t>(kBlock) * opCols);
    if (masks.size() < static_cast<size_t>(ld)) masks.resize(static_cast<size_t>(ld));
    double* out = product.data();
    for (int32_t r0 = 0; r0 < nRows; r0 += kBlock) {
        const int32_t rows = std::min(kBlock, nRows - r0);
        double* block = work + r0 * ld;
        std::fill(masks.begin(), masks.begin() + ld, uint64_t{0});
        for (int32_t r = 0; r < rows; ++r) {
            // Two columns at a time: the vector compare's -1 (NaN
            // included, as != gives it) picks the row's bit.
            const double* row = block + r * ld;
            const Bits bit = {int64_t{1} << r, int64_t{1} << r};
            int32_t a = 0;
            for (Pair pair; a + 2 <= nCols; a += 2) {
                Bits m;
                std::memcpy(&pair, row + a, sizeof pair);
                std::memcpy(&m, &masks[static_cast<size_t>(a)], sizeof m);
                m |= (pair != Pair{}) & bit;
                std::memcpy(&masks[static_cast<size_t>(a)], &m, sizeof m);
            }
            if (a < nCols) masks[static_cast<size_t>(a)] |= uint64_t{row[a] != 0.0} << r;
        }
        std::fill(out, out + int64_t{rows} * opCols, 0.0);
        each([&](int32_t a, int32_t b, double x) {
            if (transpose) std::swap(a, b);
            for (uint64_t m = masks[static_cast<size_t>(a)]; m != 0; m &= m - 1) {
                const int32_t r = std::countr_zero(m);
                out[int64_t{r} * opCols + b] += x * block[r * ld + a];
            }
        });
        for (int32_t r = 0; r < rows; ++r) {
            double* row = block + r * ld;
            double* result = out + int64_t{r} * opCols;
            for (int32_t k = unitFrom; k < unitTo; ++k) result[k] += row[k];
            std::copy(result, result + opCols, row);
        }
    }
}

// A dense stored inverse (order m, row-major) with the work row's zeros
// skipped: new[c] += row[k] Inv(k, c), or row[c] Inv(k, c) into new[k]
// when transposed.
void multiply_dense_inverse(int32_t transpose, int32_t m, const double* inv, const double* row,
                            double* out) {
    if (!transpose) {
        for (int32_t k = 0; k < m; ++k) {
            const double w = row[k];
            if (w == 0.0) continue;
            const double* ik = inv + int64_t{k} * m;
            for (int32_t c = 0; c < m; ++c) out[c] += w * ik[c];
        }
    } else {
        for (int32_t k = 0; k < m; ++k) {
            const double* ik = inv + int64_t{k} * m;
            double s = 0.0;
            for (int32_t c = 0; c < m; ++c) s += ik[c] * row[c];
            out[k] += s;
        }
    }
}

// Whether cosposm has a rule for a type and form other than the
// identity-like ones.
bool entry_rule(int16_t type, int16_t form, int32_t transpose) {
    switch (type) {
        case kMatDiagonal:
        case kMatZerDiagonal:
        case kMatLower:
        case kMatUpper:
        case kMatPosDefinit:
        case kMatSymmetric:
        case kMatGeneral:
        case kMatBeta:
        case kMatEqsBeta:
            return true;
        case kMatEqsGamma:
            return form == kFormNone;
        default:
            return false;  // PERMUTATION, SELECTION not transposed
    }
}

}  // namespace

int32_t cosposm(const EvalView* view, int32_t transpose, int32_t j, int32_t nRows, int32_t nCols,
                double* work, double* rowBuf) {
    const EvalView& v = *view;
    int32_t opRows, opCols;
    velix::detail::op_shape(v, transpose, j, &opRows, &opCols);
    if (nCols != opRows) velix::detail::eval_fault(v, kMsgNoConformity, j);
    const ModelMatrixTable& mt = *v.mt;
    const int16_t type = mt.type[j], form = mt.form[j];
    const bool unitType =
        type == kMatIdentity || type == kMatZerIdentity || (type == kMatSelection && transpose);
    if (!unitType && !entry_rule(type, form, transpose)) {
        if (form == kFormNone) no_product(v, j);
        velix::detail::eval_fault(v, kMsgBadForm, j);
    }
    // A square identity leaves the work rows as they are: skip the row
    // sweeps that would only copy them.
    if (type == kMatIdentity && opRows == opCols) return opCols;
    const int32_t endo = mt.rows[j] - v.nExogenous;
    // The types with a stored inverse apply it row by row.
    if (!unitType && form != kFormNone && (type == kMatEqsBeta || type == kMatGeneral || type == kMatBeta)) {
        const int32_t order = type == kMatEqsBeta ? endo : mt.rows[j];
        for (int32_t r = 0; r < nRows; ++r) {
            double* row = work + int64_t{r} * v.ld;
            std::fill(rowBuf, rowBuf + opCols, 0.0);
            if (velix::detail::sparse_inverse_of(v, j) && type != kMatBeta)
                multiply_sparse_inverse(v, transpose, row, rowBuf);
            else
                multiply_dense_inverse(transpose, order, velix::detail::stored_inverse(v, j), row, rowBuf);
            if (type == kMatEqsBeta)
                for (int32_t k = endo; k < mt.rows[j]; ++k) rowBuf[k] += row[k];
            std::copy(rowBuf, rowBuf + opCols, row);
        }
        return opCols;
    }
    const bool eqsBeta = !unitType && type == kMatEqsBeta;
    multiply_row_blocks(transpose, nRows, nCols, opCols, v.ld, work, eqsBeta ? endo : 0, eqsBeta ? mt.rows[j] : 0,
                        [&](auto put) {
                            if (unitType) {
                                for_each_unit(v, j, put);
                            } else if (type == kMatEqsGamma) {
                                const int32_t e0 = mt.firstElement[j];
                                for (int32_t e = e0; e < e0 + mt.elementCount[j]; ++e)
                                    put(v.el->row[e], v.el->column[e], v.el->value[e]);
                                for (int32_t k = 0; k < v.nExogenous; ++k) put(endo + k, k, 1.0);
                            } else {
                                for_each_entry(v, j, put);
                            }
                        });
    return opCols;
}

int32_t cosprem(const EvalView* view, int32_t transpose, int32_t j, int32_t nRows, int32_t nCols,
                double* work, double* colBuf) {
    const EvalView& v = *view;
    int32_t opRows, opCols;
    velix::detail::op_shape(v, transpose, j, &opRows, &opCols);
    if (nRows != opCols) velix::detail::eval_fault(v, kMsgNoConformity, j);
    const int16_t type = v.mt->type[j];
    const bool unitType = type == kMatIdentity || type == kMatZerIdentity;
    if (!unitType && (type < kMatDiagonal || type > kMatBeta))
        velix::detail::eval_fault(v, kMsgBadForm, j);
    for (int32_t c = 0; c < nCols; ++c) {
        for (int32_t r = 0; r < nRows; ++r) colBuf[r] = work[int64_t{r} * v.ld + c];
        for (int32_t r = 0; r < opRows; ++r) work[int64_t{r} * v.ld + c] = 0.0;
        // An entry (a, b) of M adds x col[b] to new[a], or x col[a] to
        // new[b] when transposed.
        auto put = [&](int32_t a, int32_t b, double x) {
            if (transpose) std::swap(a, b);
            work[int64_t{a} * v.ld + c] += x * colBuf[b];
        };
        if (unitType ? !for_each_unit(v, j, put) : !for_each_entry(v, j, put))
            velix::detail::eval_fault(v, kMsgBadForm, j);
    }
    return opRows;
}
