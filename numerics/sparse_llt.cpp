// Sparse Cholesky factorization in row-indexed storage: the row-oriented
// ("up-looking") LL' factorization, in which row i of L is computed from the
// rows before it by sparse dot products of sorted row lists (George and
// Liu, "Computer Solution of Large Sparse Positive Definite Systems",
// Prentice-Hall 1981, sec. 2.1 and 5.1; Davis, "Direct Methods for Sparse
// Linear Systems", SIAM 2006, sec. 4.1), on a fixed pattern of L computed
// by the caller.  Removing a variable is a rank-one Cholesky update of the
// trailing factor by plane rotations (Golub and Van Loan, "Matrix
// Computations", 4th ed., sec. 6.5.4).
#include "numerics/sparse_llt.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "host/internal_error.h"
#include "numerics/kernel_support.h"
#include "numerics/matprint.h"
#include "numerics/updates.h"
#include "velix/codes.h"
#include "velix/host.h"
#include "velix/host_vector.h"
#include "velix/messages.h"
#include "velix/packed_index.h"

namespace {

using velix::kDblMin;

// zslltf5: a new pivot square must exceed this to be taken ...
constexpr double kAddPivotFloor = 1e6 * kDblMin;
// ... and one at or above this (but not above the floor) is merely
// singular rather than indefinite.
constexpr double kAddIndefinite = -1e-8;
// A rotated value outside the pattern of L up to this size is dropped.
constexpr double kDropLimit = 1e-6;

[[noreturn]] void structural_fault(const char* what) { internal_errorf("sparse factor: %s", what); }

// Position of column c in row r of the pattern, or -1.
int32_t find_entry(const int32_t* ija, int32_t r, int32_t c) {
    const int32_t* first = ija + ija[r];
    const int32_t* last = ija + ija[r + 1];
    const int32_t* p = std::lower_bound(first, last, c);
    return (p != last && *p == c) ? static_cast<int32_t>(p - ija) : -1;
}

inline int32_t position(const int32_t* perm, int32_t i) { return perm != nullptr ? perm[i] : i; }

inline double diag_of(const double* sa, int32_t i) { return sa[i] != 0.0 ? 1.0 / sa[i] : 0.0; }

// Factors row i (all earlier rows factored): L(i,j) for the entries in
// ascending j from the merge of rows i and j, then the pivot.  Inactive
// columns (maskperm < 0) are 0.0.  Returns the pivot square.
double factor_row(int32_t i, const int32_t* ija, const int32_t* maskperm, double* sa) {
    const int32_t begin = ija[i];
    const int32_t end = ija[i + 1];
    double x = sa[i];
    for (int32_t p = begin; p < end; ++p) {
        const int32_t j = ija[p];
        if (maskperm != nullptr && maskperm[j] < 0) {
            sa[p] = 0.0;
            continue;
        }
        // s = sum over common columns k < j of L(i,k) L(j,k).
        double s = 0.0;
        int32_t a = begin;
        int32_t b = ija[j];
        const int32_t bend = ija[j + 1];
        while (a < p && b < bend) {
            if (ija[a] < ija[b]) {
                ++a;
            } else if (ija[a] > ija[b]) {
                ++b;
            } else {
                s += sa[a] * sa[b];
                ++a;
                ++b;
            }
        }
        sa[p] = (sa[p] - s) * sa[j];
        x -= sa[p] * sa[p];
    }
    return x;
}

int32_t factor_rows(int32_t k0, int32_t n, double tol, const int32_t* ijaL, const int32_t* maskperm,
                    double* saL) {
    int32_t result = 0;
    for (int32_t i = std::max(k0, 0); i < n; ++i) {
        if (maskperm != nullptr && maskperm[i] < 0) {
            saL[i] = 0.0;
            for (int32_t p = ijaL[i]; p < ijaL[i + 1]; ++p) saL[p] = 0.0;
            continue;
        }
        const double x = factor_row(i, ijaL, maskperm, saL);
        if (x > tol) {
            saL[i] = 1.0 / std::sqrt(x);
            continue;
        }
        saL[i] = 0.0;
        if (result >= 0) result = x < -tol ? -(i + 1) : i + 1;
    }
    return result;
}

}  // namespace

// Steps: check every index; structure modes count the entries per row,
// lay out the row pointers, place the columns and sort each row (values
// along); values modes store the diagonal and find each entry's place.
int32_t zslltco(int32_t mode, int32_t n, int32_t nnz, const int32_t* irow, const int32_t* icol,
                const double* val, int32_t* ija, double* sa) {
    for (int32_t k = 0; k < nnz; ++k)
        if (irow[k] < 0 || irow[k] >= n || icol[k] < 0 || icol[k] >= n) return kZslltcoIndexOutside;
    for (int32_t k = 0; k < nnz; ++k)
        if (irow[k] < icol[k]) return kZslltcoAboveDiagonal;
    const bool structure = mode != 1;
    const bool values = mode != 0;
    if (structure) {
        for (int32_t i = 0; i <= n; ++i) ija[i] = 0;
        for (int32_t k = 0; k < nnz; ++k)
            if (irow[k] != icol[k]) ++ija[irow[k] + 1];
        ija[0] = n + 1;
        for (int32_t i = 0; i < n; ++i) ija[i + 1] += ija[i];
        // Fill each row from its start, using sa's diagonal slots as the
        // running fill counts until the values are stored.
        for (int32_t i = 0; i < n; ++i) sa[i] = 0.0;
        for (int32_t k = 0; k < nnz; ++k) {
            if (irow[k] == icol[k]) continue;
            const int32_t r = irow[k];
            const int32_t p = ija[r] + static_cast<int32_t>(sa[r]);
            sa[r] += 1.0;
            ija[p] = icol[k];
            sa[p] = values ? val[k] : 0.0;
        }
        for (int32_t i = 0; i < n; ++i) {
            lsort2(ija[i + 1] - ija[i], ija + ija[i], sa + ija[i]);
            for (int32_t p = ija[i] + 1; p < ija[i + 1]; ++p)
                if (ija[p] == ija[p - 1]) return kZslltcoRepeatedColumn;
            sa[i] = 0.0;
        }
        sa[n] = ija[n] - (n + 1);
    } else {
        for (int32_t i = 0; i < n; ++i) sa[i] = 0.0;
        for (int32_t p = n + 1; p < ija[n]; ++p) sa[p] = 0.0;
    }
    if (!values) return 0;
    for (int32_t k = 0; k < nnz; ++k) {
        if (irow[k] == icol[k]) {
            sa[irow[k]] = val[k];
        } else if (!structure) {
            const int32_t p = find_entry(ija, irow[k], icol[k]);
            if (p < 0) return kZslltcoNotInStructure;
            sa[p] = val[k];
        }
    }
    for (int32_t i = 0; i < n; ++i) {
        if (structure && ija[i + 1] == ija[i]) continue;
        if (std::fabs(sa[i]) <= kDblMin) return -(i + 1);
    }
    return 0;
}

void zslltiu(const int32_t* mask, int32_t* maskperm, int32_t k0, int32_t n, const int32_t* ijaA,
             const int32_t* ijaL, const int32_t* perm, const double* saA, double* saL) {
    if (mask != nullptr)
        for (int32_t i = 0; i < n; ++i) maskperm[position(perm, i)] = mask[i];
    for (int32_t r = std::max(k0, 0); r < n; ++r) {
        saL[r] = 0.0;
        for (int32_t p = ijaL[r]; p < ijaL[r + 1]; ++p) saL[p] = 0.0;
    }
    for (int32_t i = 0; i < n; ++i) {
        if (mask != nullptr && mask[i] < 0) continue;
        const int32_t pi = position(perm, i);
        if (pi >= k0) saL[pi] = saA[i];
        for (int32_t p = ijaA[i]; p < ijaA[i + 1]; ++p) {
            const int32_t j = ijaA[p];
            if (mask != nullptr && mask[j] < 0) continue;
            const int32_t pj = position(perm, j);
            const int32_t row = std::max(pi, pj);
            if (row < k0) continue;
            const int32_t at = find_entry(ijaL, row, std::min(pi, pj));
            if (at < 0) structural_fault("an entry of the matrix has no place in the factor");
            saL[at] = saA[p];
        }
    }
}

int32_t zslltnf(int32_t scatter, int32_t k0, int32_t n, double tol, const int32_t* ijaA,
                const int32_t* ijaL, const int32_t* perm, const double* saA, double* saL) {
    if (scatter) zslltiu(nullptr, nullptr, k0, n, ijaA, ijaL, perm, saA, saL);
    return factor_rows(k0, n, tol, ijaL, nullptr, saL);
}

int32_t zslltf2(int32_t scatter, const int32_t* mask, int32_t* maskperm, int32_t k0, int32_t n,
                double tol, const int32_t* ijaA, const int32_t* ijaL, const int32_t* perm,
                const double* saA, double* saL) {
    if (scatter) zslltiu(mask, maskperm, k0, n, ijaA, ijaL, perm, saA, saL);
    return factor_rows(k0, n, tol, ijaL, maskperm, saL);
}

// Steps: w := column j of A over the active variables, in factor order;
// forward substitution with the active rows; x = A(j,j) - |w|^2; the new
// row when j comes last.
int32_t zslltf5(int32_t n, int32_t j, const int32_t* mask, const int32_t* maskperm,
                const int32_t* ijaA, const int32_t* ijaL, const int32_t* perm, const double* saA,
                double* saL, double* diag, double* w) {
    const int32_t pj = position(perm, j);
    auto active_var = [&](int32_t v) { return v != j && (mask == nullptr || mask[v] >= 0); };
    auto active_row = [&](int32_t r) { return r != pj && (maskperm == nullptr || maskperm[r] >= 0); };
    std::fill(w, w + n, 0.0);
    for (int32_t p = ijaA[j]; p < ijaA[j + 1]; ++p)
        if (active_var(ijaA[p])) w[position(perm, ijaA[p])] = saA[p];
    for (int32_t i = j + 1; i < n; ++i) {
        if (!active_var(i)) continue;
        const int32_t p = find_entry(ijaA, i, j);
        if (p >= 0) w[position(perm, i)] = saA[p];
    }
    int32_t last = -1;
    for (int32_t r = 0; r < n; ++r) {
        if (!active_row(r)) {
            w[r] = 0.0;
            continue;
        }
        last = r;
        double s = w[r];
        for (int32_t p = ijaL[r]; p < ijaL[r + 1]; ++p) s -= saL[p] * w[ijaL[p]];
        w[r] = s * saL[r];
    }
    const double x = saA[j] - zinner(w, w, n);
    if (!(x > kAddPivotFloor)) return x >= kAddIndefinite ? pj + 1 : -(pj + 1);
    *diag = std::sqrt(x);
    if (pj > last) {
        saL[pj] = 1.0 / *diag;
        for (int32_t p = ijaL[pj]; p < ijaL[pj + 1]; ++p) saL[p] = w[ijaL[p]];
        for (int32_t r = 0; r < pj; ++r) {
            if (w[r] == 0.0 || find_entry(ijaL, pj, r) >= 0) continue;
            if (std::fabs(w[r]) > kDropLimit) structural_fault("a new row does not fit the pattern of the factor");
        }
    }
    return 0;
}

// The rows from perm[j] on are recomputed rather than rotated: the rotation
// scheme for an inner insertion amounts to a downdate of the trailing
// factor, while the refactorization gives the same factor from A directly
// at a comparable cost on the fixed pattern.
int32_t zslltra(int32_t n, int32_t j, const int32_t* mask, int32_t* maskperm, double tol,
                const int32_t* ijaA, const int32_t* ijaL, const int32_t* perm, const double* saA,
                double* saL) {
    return zslltf2(1, mask, maskperm, position(perm, j), n, tol, ijaA, ijaL, perm, saA, saL);
}

// Steps: clear row p = perm[j]; move column p of the later active rows into
// w; for each later active row r with w_r != 0, rotate (L(r,r), w_r) to
// zero w_r and apply the rotation to (L(s,r), w_s) of the rows s below.
void zslltrd(int32_t n, int32_t j, const int32_t* maskperm, const int32_t* ijaL,
             const int32_t* perm, double* saL, double* w) {
    const int32_t p = position(perm, j);
    auto active_row = [&](int32_t r) { return r != p && (maskperm == nullptr || maskperm[r] >= 0); };
    saL[p] = 0.0;
    for (int32_t q = ijaL[p]; q < ijaL[p + 1]; ++q) saL[q] = 0.0;
    std::fill(w, w + n, 0.0);
    for (int32_t r = p + 1; r < n; ++r) {
        const int32_t at = find_entry(ijaL, r, p);
        if (at < 0) continue;
        if (active_row(r)) w[r] = saL[at];
        saL[at] = 0.0;
    }
    for (int32_t r = p + 1; r < n; ++r) {
        if (!active_row(r) || w[r] == 0.0) continue;
        double lrr = diag_of(saL, r);
        double c = 1.0;
        double s = 0.0;
        zgivcon(&lrr, &w[r], &c, &s);
        if (lrr < 0.0) {
            lrr = -lrr;
            c = -c;
            s = -s;
        }
        saL[r] = lrr != 0.0 ? 1.0 / lrr : 0.0;
        for (int32_t t = r + 1; t < n; ++t) {
            if (!active_row(t)) continue;
            const int32_t at = find_entry(ijaL, t, r);
            if (at >= 0) {
                zgivapl(1, 1, 1, c, s, &saL[at], &w[t]);
            } else if (w[t] != 0.0) {
                const double fill = s * w[t];
                if (std::fabs(fill) > kDropLimit)
                    structural_fault("a rotation fills a position outside the pattern of the factor");
                w[t] *= c;
            }
        }
    }
}

namespace {

// Forward substitution L y = b over the rows with a nonnegative position
// (pos null: all rows, vector index = row).
void forward(int32_t n, const int32_t* pos, const int32_t* ija, const double* sa, double* x) {
    for (int32_t i = 0; i < n; ++i) {
        const int32_t vi = pos != nullptr ? pos[i] : i;
        if (vi < 0) continue;
        double s = x[vi];
        for (int32_t p = ija[i]; p < ija[i + 1]; ++p) {
            const int32_t vk = pos != nullptr ? pos[ija[p]] : ija[p];
            if (vk >= 0) s -= sa[p] * x[vk];
        }
        x[vi] = s * sa[i];
    }
}

// Backward substitution L' x = y.
void backward(int32_t n, const int32_t* pos, const int32_t* ija, const double* sa, double* x) {
    for (int32_t i = n - 1; i >= 0; --i) {
        const int32_t vi = pos != nullptr ? pos[i] : i;
        if (vi < 0) continue;
        x[vi] *= sa[i];
        for (int32_t p = ija[i]; p < ija[i + 1]; ++p) {
            const int32_t vk = pos != nullptr ? pos[ija[p]] : ija[p];
            if (vk >= 0) x[vk] -= sa[p] * x[vi];
        }
    }
}

// y = L x (lower) or y = L' x (upper) in factor order with a position map.
void multiply(bool upper, int32_t n, const int32_t* pos, const int32_t* ija, const double* sa,
              const double* x, double* y) {
    for (int32_t i = 0; i < n; ++i) {
        const int32_t vi = pos != nullptr ? pos[i] : i;
        if (vi >= 0) y[vi] = 0.0;
    }
    for (int32_t i = 0; i < n; ++i) {
        const int32_t vi = pos != nullptr ? pos[i] : i;
        if (vi < 0) continue;
        y[vi] += diag_of(sa, i) * x[vi];
        for (int32_t p = ija[i]; p < ija[i + 1]; ++p) {
            const int32_t vk = pos != nullptr ? pos[ija[p]] : ija[p];
            if (vk < 0) continue;
            if (upper)
                y[vk] += sa[p] * x[vi];
            else
                y[vi] += sa[p] * x[vk];
        }
    }
}

// Runs a factor-order operation on a vector in the variables' order: a
// position map is used as it is; a permutation permutes in and back out.
template <class Op>
void with_map(int32_t mode, int32_t n, int32_t* map, double* x, Op op) {
    if (mode != 0) {
        op(static_cast<const int32_t*>(map));
        return;
    }
    if (map != nullptr) permut(1, n, map, x);
    op(static_cast<const int32_t*>(nullptr));
    if (map != nullptr) permut(0, n, map, x);
}

}  // namespace

void zslltso(int32_t n, int32_t* perm, const int32_t* ija, const double* sa, double* x) {
    with_map(0, n, perm, x, [&](const int32_t*) {
        forward(n, nullptr, ija, sa, x);
        backward(n, nullptr, ija, sa, x);
    });
}

void zsllts2(int32_t n, const int32_t* pos, const int32_t* ija, const double* sa, double* x) {
    forward(n, pos, ija, sa, x);
    backward(n, pos, ija, sa, x);
}

void zslltli(int32_t mode, int32_t n, int32_t* map, const int32_t* ija, const double* sa, double* x) {
    with_map(mode, n, map, x, [&](const int32_t* pos) { forward(n, pos, ija, sa, x); });
}

void zslltui(int32_t mode, int32_t n, int32_t* map, const int32_t* ija, const double* sa, double* x) {
    with_map(mode, n, map, x, [&](const int32_t* pos) { backward(n, pos, ija, sa, x); });
}

void zslltml(int32_t mode, int32_t n, int32_t* map, const int32_t* ija, const double* sa, double* x,
             double* y) {
    with_map(mode, n, map, x, [&](const int32_t* pos) { multiply(false, n, pos, ija, sa, x, y); });
    if (mode == 0 && map != nullptr) permut(0, n, map, y);
}

void zslltmu(int32_t mode, int32_t n, int32_t* map, const int32_t* ija, const double* sa, double* x,
             double* y) {
    with_map(mode, n, map, x, [&](const int32_t* pos) { multiply(true, n, pos, ija, sa, x, y); });
    if (mode == 0 && map != nullptr) permut(0, n, map, y);
}

void zslltma(const int32_t* map, int32_t n, const int32_t* ija, const double* sa, const double* x,
             double* y) {
    auto active = [&](int32_t i) { return map == nullptr || map[i] >= 0; };
    for (int32_t i = 0; i < n; ++i) y[i] = active(i) ? sa[i] * x[i] : 0.0;
    for (int32_t i = 0; i < n; ++i) {
        if (!active(i)) continue;
        for (int32_t p = ija[i]; p < ija[i + 1]; ++p) {
            const int32_t k = ija[p];
            if (!active(k)) continue;
            y[i] += sa[p] * x[k];
            y[k] += sa[p] * x[i];
        }
    }
}

int32_t zslltqf(int32_t n, int32_t m, int32_t ld, const int32_t* ija, const double* sa,
                const double* b, double* q, double* w) {
    const int64_t ldb = ld;
    for (int32_t c = 0; c < m; ++c) {
        for (int32_t i = 0; i < n; ++i) w[i] = sa[i] * b[i * ldb + c];
        for (int32_t i = 0; i < n; ++i)
            for (int32_t p = ija[i]; p < ija[i + 1]; ++p) {
                const int32_t k = ija[p];
                w[i] += sa[p] * b[k * ldb + c];
                w[k] += sa[p] * b[i * ldb + c];
            }
        for (int32_t r = 0; r <= c; ++r) {
            double s = 0.0;
            for (int32_t i = 0; i < n; ++i) s += b[i * ldb + r] * w[i];
            q[velix::pk_lower(c, r)] = s;
        }
    }
    return n;
}

double zslltre(int32_t n, const int32_t* ija, const double* sa, const double* x, const double* b,
               double* r) {
    if (n < 1) return 0.0;
    zslltma(nullptr, n, ija, sa, x, r);
    for (int32_t i = 0; i < n; ++i) r[i] = b[i] - r[i];
    return zvenorm(n, 1, r) / std::sqrt(static_cast<double>(n));
}

namespace {

// Values per printed line for the listing's line size.
int32_t values_per_line() {
    const int32_t size = xpprnl(0);
    return size < 88 ? 5 : (size < 108 ? 8 : 10);
}

// The separator after a row number: a blank and the one-character text of
// message 549/258.
char separator() {
    const char* text = nullptr;
    int32_t length = 0;
    return wkread(kMsgNlp, kMsgNlpColon, &text, &length) == 0 && length > 0 ? text[0] : ':';
}

// One printed row: the number, the separator, then the values of the
// callback, wrapped with continuation lines that start with 8 blanks.
template <class Cell>
void print_row(int32_t i, int32_t count, int32_t perLine, char sep, Cell cell) {
    char line[1024];
    int32_t len = std::snprintf(line, sizeof line, "%6d %c", i + 1, sep);
    int32_t onLine = 0;
    for (int32_t k = 0; k < count; ++k) {
        if (onLine == perLine) {
            line[len] = '\0';
            xpsout("%s%n", line);
            len = std::snprintf(line, sizeof line, "        ");
            onLine = 0;
        }
        len += cell(k, line + len, static_cast<int32_t>(sizeof line) - len);
        ++onLine;
    }
    line[len] = '\0';
    xpsout("%s%n", line);
}

// The request of the listing matrix printer with what its callbacks read.
struct SparsePrintRequest {
    MatrixPrintRequest request;  // first, so that the callbacks can reach the rest
    const int32_t* ija;
    const double* sa;
};

const SparsePrintRequest* sparse_request(const MatrixPrintRequest* request) {
    return reinterpret_cast<const SparsePrintRequest*>(request);
}

// Element (i, j): the diagonal, an entry of either triangle, or missing for
// a position outside the pattern.
double prtfun(const MatrixPrintRequest* request, int32_t i, int32_t j) {
    const SparsePrintRequest* r = sparse_request(request);
    if (i == j) return r->sa[i];
    const int32_t at = j < i ? find_entry(r->ija, i, j) : find_entry(r->ija, j, i);
    return at < 0 ? host_missing_value() : r->sa[at];
}

// The text of element (i, j): the value in the field with 4 decimals, or
// "xxx" right-aligned in 8 characters for a position outside the pattern.
void prtcell(const MatrixPrintRequest* request, int32_t i, int32_t j, int32_t width, char* out) {
    const SparsePrintRequest* r = sparse_request(request);
    const bool stored = i == j || (j < i ? find_entry(r->ija, i, j) : find_entry(r->ija, j, i)) >= 0;
    if (stored) {
        zpfmt(prtfun(request, i, j), 'f', width, 4, out);
        return;
    }
    static constexpr char kOutside[] = "     xxx";
    const int32_t n = std::min(width, 8);
    std::copy(kOutside + 8 - n, kOutside + 8, out + width - n);
}

// Row label: "ROW" and the 1-based row number, blank-padded to 8.
void rowfun(const MatrixPrintRequest*, int32_t i, int32_t width, char* out) {
    znamfix(0, "ROW", 3, i + 1, 0, out, std::min(width, 8));
}

void titfun(const MatrixPrintRequest* request) {
    xpsout("Sparse Matrix (%li,%li)%n", static_cast<int64_t>(request->rows),
           static_cast<int64_t>(request->columns));
}

}  // namespace

void zslltpr(int32_t mode, int32_t n, const int32_t* mask, const int32_t* ija, const double* sa) {
    if (n < 1) return;
    if (mode == 0) {
        SparsePrintRequest p{};
        p.request.rows = n;
        p.request.columns = n;
        p.request.values = sa;
        p.request.shape = 'r';
        p.request.valueFn = prtfun;
        p.request.cellFn = prtcell;
        p.request.fieldWidth = 12;  // the width the factor's listing uses
        p.request.rowLabels.labelFn = rowfun;
        p.request.titleFn = titfun;
        p.request.titleLines = 1;
        p.ija = ija;
        p.sa = sa;
        xppage(0);
        zpmat2(&p.request);
        return;
    }
    const int32_t perLine = values_per_line();
    const char sep = separator();
    const int64_t nn = n;
    if (mode < 0) {
        xpsout("Dense Matrix (%li,%li)%n", nn, nn);
        for (int32_t i = 0; i < n; ++i)
            print_row(i, i + 1, perLine, sep, [&](int32_t k, char* out, int32_t room) {
                return std::snprintf(out, room, "%10.4f", sa[velix::pk_lower(i, k)]);
            });
        return;
    }
    xpsout("Sparse Matrix (%li,%li)%n", nn, nn);
    auto active = [&](int32_t k) { return mask == nullptr || mask[k] >= 0; };
    int32_t count = 0;
    for (int32_t k = 0; k < n; ++k) count += active(k) ? 1 : 0;
    for (int32_t i = 0; i < n; ++i) {
        if (!active(i)) continue;
        // The cells come in column order: j walks the active columns.
        int32_t j = -1;
        print_row(i, count, perLine, sep, [&](int32_t, char* out, int32_t room) {
            do ++j;
            while (!active(j));
            if (j == i) return std::snprintf(out, room, "%10.4f", sa[i]);
            const int32_t at = j < i ? find_entry(ija, i, j) : find_entry(ija, j, i);
            if (at < 0) return std::snprintf(out, room, "  %8s", "xxx");
            return std::snprintf(out, room, "%10.4f", sa[at]);
        });
    }
}

void permut(int32_t mode, int32_t n, int32_t* perm, double* x) {
    if (n < 2) return;
    for (int32_t k = 0; k < n; ++k)
        if (perm[k] < 0 || perm[k] >= n) structural_fault("a permutation entry lies outside the order");
    // Visited entries carry n added; every entry is below n before the
    // cycles start, so the marks are unambiguous.
    auto restore = [&] {
        for (int32_t k = 0; k < n; ++k)
            if (perm[k] >= n) perm[k] -= n;
    };
    for (int32_t start = 0; start < n; ++start) {
        if (perm[start] >= n) continue;
        int32_t k = start;
        double carry = x[start];
        for (;;) {
            const int32_t next = perm[k];
            perm[k] += n;
            if (mode == 1) {
                const double t = x[next];
                x[next] = carry;
                carry = t;
            } else {
                x[k] = next == start ? carry : x[next];
            }
            if (next == start) break;
            if (perm[next] >= n) {
                restore();
                structural_fault("the permutation repeats an entry");
            }
            k = next;
        }
    }
    restore();
}

void lsort(int32_t n, int32_t* a) {
    for (int32_t gap = n / 2; gap >= 1; gap /= 2)
        for (int32_t i = gap; i < n; ++i) {
            const int32_t key = a[i];
            int32_t j = i;
            for (; j >= gap && a[j - gap] > key; j -= gap) a[j] = a[j - gap];
            a[j] = key;
        }
}

void lsort2(int32_t n, int32_t* a, double* b) {
    for (int32_t gap = n / 2; gap >= 1; gap /= 2)
        for (int32_t i = gap; i < n; ++i) {
            const int32_t key = a[i];
            const double value = b[i];
            int32_t j = i;
            for (; j >= gap && a[j - gap] > key; j -= gap) {
                a[j] = a[j - gap];
                b[j] = b[j - gap];
            }
            a[j] = key;
            b[j] = value;
        }
}
