// Cleaning the linear constraints once before a run: rows that repeat an
// earlier row go, parameters whose bounds coincide are fixed, and equality
// rows that depend linearly on earlier ones (over the free parameters) go,
// found by a sequential orthogonal reduction of the rows: with Givens
// rotations for the dense active-set form (Golub and Van Loan, Matrix
// Computations, 1996, sec. 5.4), by Gram-Schmidt with reorthogonalization
// against the accepted columns, kept on a utility file or in memory, for
// the sparse form (Daniel, Gragg, Kaufman and Stewart, 1976).  A
// removed equality must agree with the rows kept; one that does not makes
// the problem infeasible, which is reported instead of hidden.  Each
// removal is logged and, at print level 3 and above, listed in the table
// "LinConDel".
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "host/object_dispatch.h"
#include "host/output_table.h"
#include "host/scratch_file.h"
#include "numerics/kernel_support.h"
#include "optimizer/core/active_set.h"
#include "optimizer/core/active_set_detail.h"
#include "optimizer/core/reduced_space.h"
#include "velix/codes.h"
#include "velix/host.h"
#include "velix/host_vector.h"

using namespace velix::detail;

namespace {

constexpr int32_t kMsgRepeatedRows = 50;
constexpr int32_t kMsgDependentRows = 51;
constexpr int32_t kMsgRepeatedTitle = 53;
constexpr int32_t kMsgDependentTitle = 54;
constexpr int32_t kMsgBoundsCrossed = 903;
constexpr int32_t kMsgDependentConflict = 904;

size_t sz(int32_t n) { return static_cast<size_t>(n); }

// The caller's constraint storage.
struct Storage {
    int32_t compressed;
    int32_t* columnIndex;
    int32_t* rowEnd;
    double* values;
};

double tau(double v) {
    return std::fmax(10.0 * DBL_MIN, 10.0 * velix::kMachEpsWritten * std::fabs(v));
}

int32_t mark_repeats(NlpProblem* p) {
    const int32_t n = p->shape.nParams, m = p->shape.nLinCon;
    int32_t* mark = p->active.workList;
    int32_t count = 0;
    for (int32_t k = 0; k < m; ++k) mark[k] = 0;
    for (int32_t i = 0; i + 1 < m; ++i) {
        if (mark[i] != 0) continue;
        p->cb.conRowFn(p, i, p->work.xBase);
        const double bi = p->con.linRhs[i];
        for (int32_t j = i + 1; j < m; ++j) {
            if (mark[j] != 0 || std::fabs(p->con.linRhs[j] - bi) > tau(bi)) continue;
            p->cb.conRowFn(p, j, p->active.rowBuffer);
            bool same = true;
            for (int32_t q = 0; q < n && same; ++q) same = std::fabs(p->active.rowBuffer[q] - p->work.xBase[q]) <= tau(p->work.xBase[q]);
            if (same) {
                mark[j] = -1;
                count += 1;
            }
        }
    }
    return count;
}

// Removes the rows marked -1 from the storage and the counts.
void remove_marked(NlpProblem* p, const Storage& s) {
    const int32_t n = p->shape.nParams, m = p->shape.nLinCon;
    const int32_t* mark = p->active.workList;
    int32_t kept = 0, keptEq = 0, removed = 0, out = 0, start = 0;
    for (int32_t k = 0; k < m; ++k) {
        const int32_t end = s.compressed ? s.rowEnd[k] : 0;
        if (mark[k] == -1) {
            removed += 1;
            p->shape.nConTotal -= 1;
            if (k < p->shape.nLinEq) p->shape.nEqTotal -= 1;
        } else {
            if (s.compressed) {
                for (int32_t e = start; e < end; ++e, ++out) {
                    s.columnIndex[out] = s.columnIndex[e];
                    s.values[out] = s.values[e];
                }
                s.rowEnd[kept] = out;
            } else if (kept != k) {
                std::memmove(s.values + sz(kept) * n, s.values + sz(k) * n, sizeof(double) * sz(n));
            }
            p->con.linRhs[kept] = p->con.linRhs[k];
            if (k < p->shape.nLinEq) keptEq += 1;
            kept += 1;
        }
        start = end;
    }
    if (kept != m - removed) nlp_internal_error("znlpldc: the rows left disagree with the marks");
    p->shape.nLinCon = kept;
    p->shape.nLinEq = keptEq;
}

// Fixes the parameters whose bounds coincide (at the back of freeList).
// The number of free parameters, or -1 when a lower bound lies above its
// upper bound (reported).
int32_t fix_coinciding(NlpProblem* p) {
    const int32_t n = p->shape.nParams;
    int32_t front = 0, back = n;
    for (int32_t i = 0; i < n; ++i) {
        if (!p->shape.hasBounds) {
            p->active.freeList[front++] = i;
            continue;
        }
        double& l = p->param.lower[i];
        double& u = p->param.upper[i];
        if (l > u) {
            xpmlog(kMsgNlp, kMsgBoundsCrossed, l, i + 1, u);
            return -1;
        }
        p->active.boundState[i] = 0;
        if (l > -DBL_MAX && u < DBL_MAX && l + (1.0 + std::fabs(l)) * p->opt.feasTol >= u) {
            u = l;
            p->active.boundState[i] = 2;
            p->active.freeList[--back] = i;
        } else {
            p->active.freeList[front++] = i;
        }
    }
    // Fixed parameters were filled from the end: put them in index order.
    std::reverse(p->active.freeList + back, p->active.freeList + n);
    return front;
}

// The dependent equality rows over the free parameters (marked -1), found
// by entering them one by one into a dense active set of their own.  A
// dependent row must agree with the kept ones at any point that meets
// them; *conflict receives the first that does not (or -1).
int32_t mark_dependent(NlpProblem* p, int32_t nFree, int32_t* conflict) {
    const int32_t n = p->shape.nParams, m = p->shape.nLinCon;
    NlpProblem& q = *p;
    // The reduction's own work space: the caller's active-set arrays may
    // belong to the sparse form or be absent.
    std::vector<double> basis(sz(n) * n, 0.0), factor(sz(n) * (n + 1) / 2 + 1, 0.0);
    std::vector<int32_t> active(sz(m) + 1, 0);
    double* const savedBasis = q.active.nullBasis;
    double* const savedFactor = q.active.activeFactor;
    int32_t* const savedActive = q.active.activeList;
    const int32_t savedForm = q.opt.conFactorForm, savedTech = q.opt.technique;
    q.active.nullBasis = basis.data();
    q.active.activeFactor = factor.data();
    q.active.activeList = active.data();
    q.opt.conFactorForm = 1;
    q.opt.technique = kTechQuanew;  // keeps its basis: no identity shortcut
    q.active.nActiveBounds = n - nFree;
    q.active.nActiveLin = 0;
    q.active.nDepLin = 0;
    for (int32_t i = 0; i < n; ++i) basis[sz(i) * n + i] = 1.0;
    int32_t d = 0;
    for (int32_t k = 0; k < m; ++k) p->active.workList[k] = 0;
    for (int32_t k = 0; k < p->shape.nLinEq; ++k) {
        if (znlpupd(p, 0, 0, 0, 0, k, nullptr, nullptr, nullptr) != 0) {
            p->active.workList[k] = -1;
            d += 1;
        }
    }
    *conflict = -1;
    if (d > 0) {
        std::vector<double> xr(sz(nFree), 0.0), x(sz(n), 0.0);
        const bool solved = q.active.nActiveLin == 0 || range_part(p, xr);
        for (int32_t i = nFree; i < n; ++i) x[p->active.freeList[i]] = p->param.lower[p->active.freeList[i]];
        for (int32_t i = 0; i < nFree; ++i) x[p->active.freeList[i]] = xr[i];
        const double t = p->opt.feasTol;
        for (int32_t k = 0; k < p->shape.nLinEq && *conflict < 0; ++k) {
            if (p->active.workList[k] != -1) continue;
            p->cb.conRowFn(p, k, p->active.rowBuffer);
            double r = -p->con.linRhs[k];
            for (int32_t i = 0; i < n; ++i) r += p->active.rowBuffer[i] * x[i];
            if (!solved || std::fabs(r) > row_threshold(t, p->con.linRhs[k])) *conflict = k;
        }
    }
    q.active.nullBasis = savedBasis;
    q.active.activeFactor = savedFactor;
    q.active.activeList = savedActive;
    q.opt.conFactorForm = savedForm;
    q.opt.technique = savedTech;
    q.active.nActiveLin = 0;
    q.active.nDepLin = 0;
    return d;
}

// Where the sequential test keeps its accepted columns: the sparse form's
// factor file, a utility file of its own, or memory.  Column j is the
// record of n doubles at byte j n 8, its first nFree entries significant.
class ColumnStore {
public:
    ColumnStore(NlpProblem* p, int32_t form) : n_(p->shape.nParams), file_(p->opt.conFactorFile) {
        if (file_ == nullptr && form == 0) {
            ScratchFileRequest request;
            request.attributeWord = kFileSequential;
            scratch_check(xcopen(&file_, &request));
            own_ = true;
        }
        if (file_ == nullptr) memory_.assign(sz(n_) * n_, 0.0);
        work_.assign(sz(n_), 0.0);
    }
    // A file of its own left open means the step is already ending: it is
    // closed without a report (a destructor may not end the step).
    ~ColumnStore() {
        if (own_) xcclose(file_, 1);
    }
    void close() {
        if (!own_) return;
        own_ = false;
        scratch_check(xcclose(file_, 1));
    }
    ColumnStore(const ColumnStore&) = delete;
    ColumnStore& operator=(const ColumnStore&) = delete;

    // v (m entries) against the k stored columns, as znlpgso.
    int32_t orthogonalize(int32_t m, int32_t k, double* v, double* coef, double* norm) {
        if (file_ != nullptr) return znlpgso_file(file_, m, k, n_, v, coef, norm, work_.data());
        return znlpgso(m, k, n_, memory_.data(), v, coef, norm);
    }
    void write(int32_t j, const double* column) {
        if (file_ == nullptr) {
            std::copy(column, column + n_, memory_.begin() + static_cast<std::ptrdiff_t>(sz(j) * n_));
            return;
        }
        scratch_check(xcpoint(file_, static_cast<int64_t>(j) * n_ * 8));
        scratch_check(xcwrite(file_, column, static_cast<int64_t>(n_) * 8));
    }

private:
    int32_t n_;
    HostFile* file_;
    bool own_ = false;
    std::vector<double> memory_, work_;
};

// The dependent equality rows by Gram-Schmidt (marked -1): each row over
// the free parameters is orthogonalised against the accepted ones and is
// dependent when little of it is left.  The right-hand side, less the
// fixed parameters' share, follows each accepted column, so that a
// dependent row's coefficients tell whether it agrees with the kept rows;
// *conflict receives the first that does not (or -1).
int32_t dorsp(NlpProblem* p, int32_t nFree, int32_t form, int32_t* conflict) {
    const int32_t n = p->shape.nParams;
    ColumnStore store(p, form);
    std::vector<double> c(sz(n), 0.0), coef(sz(n) + 1, 0.0), beta;
    int32_t d = 0;
    *conflict = -1;
    for (int32_t k = 0; k < p->shape.nLinCon; ++k) p->active.workList[k] = 0;
    for (int32_t k = 0; k < p->shape.nLinEq; ++k) {
        p->cb.conRowFn(p, k, p->active.rowBuffer);
        double b = p->con.linRhs[k];
        for (int32_t i = nFree; i < n; ++i) b -= p->active.rowBuffer[p->active.freeList[i]] * p->param.lower[p->active.freeList[i]];
        std::fill(c.begin(), c.end(), 0.0);
        for (int32_t i = 0; i < nFree; ++i) c[i] = p->active.rowBuffer[p->active.freeList[i]];
        const double size = zvenorm(nFree, 1, c.data());
        const int32_t accepted = static_cast<int32_t>(beta.size());
        std::fill(coef.begin(), coef.end(), 0.0);
        double rho = 0.0;
        const int32_t r = store.orthogonalize(nFree, accepted, c.data(), coef.data(), &rho);
        for (int32_t j = 0; j < accepted; ++j) b -= coef[j] * beta[j];
        // Relative to the row: what rounding leaves of a dependent row is
        // far above DBL_MIN.
        if (r != 0 || !(rho > std::fmax(DBL_MIN, p->opt.linDepTol * size))) {
            p->active.workList[k] = -1;
            d += 1;
            if (*conflict < 0 && std::fabs(b) > row_threshold(p->opt.feasTol, p->con.linRhs[k])) *conflict = k;
            continue;
        }
        store.write(accepted, c.data());
        beta.push_back(b / rho);
    }
    store.close();
    return d;
}

// ---- the table of removed rows ----

std::string parameter_name(const NlpProblem* p, int32_t i) {
    if (p->param.paramNames != nullptr) return std::string(p->param.paramNames[i].text, sz(p->param.paramNames[i].length));
    return "X" + std::to_string(i + 1);
}

void pricon(NlpProblem* p, int32_t kind) {
    HostObject* m = p->out.kyrObject;
    if (m == nullptr) return;
    const int32_t n = p->shape.nParams;
    int32_t width = 8, terms = 0;
    for (int32_t i = 0; i < n; ++i) width = std::max(width, static_cast<int32_t>(parameter_name(p, i).size()));
    for (int32_t k = 0; k < p->shape.nLinCon; ++k) {
        if (p->active.workList[k] != -1) continue;
        p->cb.conRowFn(p, k, p->active.rowBuffer);
        int32_t t = 0;
        for (int32_t i = 0; i < n; ++i) t += std::fabs(p->active.rowBuffer[i]) > DBL_MIN ? 1 : 0;
        terms = std::max(terms, t);
    }
    // The cells the columns read at each row.
    double left = 0.0;
    char relation[5] = {};
    std::vector<double> coef(sz(terms));
    std::vector<char> sign(sz(terms) * 4, '\0'), star(sz(terms) * 4, '\0'),
        name(sz(terms) * (width + 1), '\0');
    const int32_t title = kind == 1 ? kMsgRepeatedTitle : kMsgDependentTitle;
    OutputTable table(m, "LinConDel", kyrmsg(kMsgNlp, title), "Orvo.NLP.LinConDel");
    table.cell_column(kColumnDouble, "Left", &left);
    table.cell_column(kColumnChars, "Relation", relation, {.width = 4});
    for (int32_t t = 0; t < terms; ++t) {
        const std::string s = std::to_string(t + 1);
        table.cell_column(kColumnChars, "C1_" + s, &sign[sz(t) * 4], {.width = 3});
        table.cell_column(kColumnDouble, "C2_" + s, &coef[t]);
        table.cell_column(kColumnChars, "C3_" + s, &star[sz(t) * 4], {.width = 3});
        table.cell_column(kColumnChars, "C4_" + s, &name[sz(t) * (width + 1)], {.width = width});
    }
    if (!table.end_columns()) return;
    for (int32_t k = 0; k < p->shape.nLinCon; ++k) {
        if (p->active.workList[k] != -1) continue;
        p->cb.conRowFn(p, k, p->active.rowBuffer);
        // Printed negated when most of its numbers are negative.
        int32_t balance = p->con.linRhs[k] > DBL_MIN ? 1 : (p->con.linRhs[k] < -DBL_MIN ? -1 : 0);
        for (int32_t i = 0; i < n; ++i) balance += p->active.rowBuffer[i] > DBL_MIN ? 1 : (p->active.rowBuffer[i] < -DBL_MIN ? -1 : 0);
        const double f = balance < 0 ? -1.0 : 1.0;
        // A zero stays a plain zero when the row is negated.
        left = p->con.linRhs[k] == 0.0 ? 0.0 : f * p->con.linRhs[k];
        std::strcpy(relation, k < p->shape.nLinEq ? " == " : (f < 0 ? " >= " : " <= "));
        int32_t t = 0;
        std::fill(sign.begin(), sign.end(), '\0');
        std::fill(star.begin(), star.end(), '\0');
        std::fill(name.begin(), name.end(), '\0');
        std::fill(coef.begin(), coef.end(), 0.0);
        for (int32_t i = 0; i < n && t < terms; ++i) {
            const double a = f * p->active.rowBuffer[i];
            if (std::fabs(a) <= DBL_MIN) continue;
            std::strcpy(&sign[sz(t) * 4], a < 0 ? " - " : " + ");
            coef[t] = std::fabs(a);
            std::strcpy(&star[sz(t) * 4], " * ");
            const std::string nm = parameter_name(p, i);
            std::memcpy(&name[sz(t) * (width + 1)], nm.data(), std::min(nm.size(), sz(width)));
            t += 1;
        }
        if (!table.add_row()) return;
    }
    table.deliver();
}

}  // namespace

int32_t znlpldc(NlpProblem* p, int32_t form, int32_t compressed, int32_t* columnIndex, int32_t* rowEnd,
                double* values) {
    if (!p->shape.hasLinCon) return 0;
    const Storage s{compressed, columnIndex, rowEnd, values};
    const int32_t r = mark_repeats(p);
    if (r >= 1) {
        xpmlog(kMsgNlp, kMsgRepeatedRows, r);
        if (p->opt.printLevel > 2.0) pricon(p, 1);
        remove_marked(p, s);
    }
    const int32_t nFree = fix_coinciding(p);
    if (nFree < 0) return -1;
    if (p->shape.nLinEq == 0) return 0;
    int32_t conflict = -1;
    const int32_t d = form == 1 ? mark_dependent(p, nFree, &conflict) : dorsp(p, nFree, form, &conflict);
    if (d < 1) return 0;
    xpmlog(kMsgNlp, kMsgDependentRows, d);
    if (p->opt.printLevel > 2.0) pricon(p, 2);
    if (conflict >= 0) {
        // Dropping a row the kept ones contradict would hide an infeasible
        // problem: report it and keep the rows.
        xpmlog(kMsgNlp, kMsgDependentConflict, conflict + 1);
        return -2;
    }
    remove_marked(p, s);
    return 0;
}
