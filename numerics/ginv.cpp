// Generalized inverse and linear dependencies of a symmetric matrix.
//
// zcovgiv forms the Moore-Penrose inverse G = V diag(1/lambda) V' over the
// eigenvalues kept (the truncated spectral decomposition; Golub and Van
// Loan, "Matrix Computations", 4th ed., sec. 5.5.4), with the eigen
// decomposition by Householder tridiagonalisation and QL (ztred2, ztql2).
//
// zcovlid finds a maximal set of linearly independent parameters by
// sweeping (Goodnight 1979) on the largest remaining scaled pivot while it
// exceeds its tolerance, in the manner of a pivoted Cholesky factorization;
// after the sweep each unpivoted row holds the coefficients of its
// regression on the pivoted parameters, which is the linear dependency
// printed in the "LinDep" table.
#include "numerics/ginv.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "host/fields.h"
#include "host/internal_error.h"
#include "host/object_dispatch.h"
#include "host/output_table.h"
#include "numerics/kernel_support.h"
#include "numerics/tridiag.h"
#include "velix/codes.h"
#include "velix/host_vector.h"
#include "velix/messages.h"
#include "velix/packed_index.h"

namespace {

using velix::kDblMin;
using velix::kSqrtDblMin;
using velix::kDblMax;
using velix::kSqrtMachEps;

// A parameter whose standard deviation falls below this gets a note.
constexpr double kTinyStdDev = 1e-6;

using velix::pk;

// One note line through the manager.
bool note(HostObject* mgr, HostText* text, char justify) {
    return !kyr_failed(kyr_note(mgr, text, justify));
}

// A data table of the optimizer's group under "Orvo.NLP.<name>".
OutputTable nlp_table(HostObject* mgr, const char* name, int32_t titleNumber) {
    return OutputTable(mgr, name, kyrmsg(kMsgNlp, titleNumber), std::string("Orvo.NLP.") + name);
}

// The column format of a column that is its own template.
ColumnFormat labelled(const char* name, int32_t width = 0) {
    return {.width = width, .columnTemplate = name};
}

// The name of parameter i: its NameRecord, or "X<i+1>" when there are none.
struct ParamName {
    char text[33];
    int32_t length;
};

ParamName name_of(const NameRecord* names, int32_t i) {
    ParamName p{};
    if (names != nullptr) {
        p.length = std::clamp<int32_t>(names[i].length, 0, 32);
        std::memcpy(p.text, names[i].text, static_cast<size_t>(p.length));
    } else {
        p.length = znamfix(0, "X       ", 8, i + 1, 0, p.text, 32);
    }
    p.text[p.length] = '\0';
    return p;
}

void note_name(HostObject* mgr, int32_t number, const NameRecord* names, int32_t i) {
    const ParamName p = name_of(names, i);
    note(mgr, kyrmsgs(kMsgNlp, number, p.length, p.text), 'l');
}

// Blank-padded copy of text into a field of width characters.
void fill_field(char* field, int32_t width, const char* text, int32_t length) {
    const int32_t k = std::min(width, length);
    std::memcpy(field, text, static_cast<size_t>(k));
    std::memset(field + k, ' ', static_cast<size_t>(width - k));
}

}  // namespace

// Steps:
//   1. n < 1: 0; mode 2: evzero on the diagonal (result to e);
//   2. expand to the full matrix, ztred2 and ztql2 (descending, vectors);
//   3. evzero on the eigenvalues;
//   4. G = sum_k out_k v_k v_k' into a.
int32_t zcovgiv(int32_t print, int32_t mode, int32_t n, int32_t nzero, double tol, double* a,
                double* d, double* z, double* e, HostObject* mgr, HostObject** table) {
    if (n < 1) return 0;
    if (mode == 2) return evzero(print, n, nzero, tol, a, e, mgr, table);
    const int64_t nn = n;
    for (int64_t i = 0; i < n; ++i)
        for (int64_t j = 0; j <= i; ++j) z[i * nn + j] = z[j * nn + i] = a[pk(i, j)];
    ztred2(n, z, d, e);
    if (ztql2(n, z, d, e, '1') != 0) return kZcovgivQlFailed;
    const int32_t count = evzero(print, n, nzero, tol, d, e, mgr, table);
    if (count < 0) return kZcovgivRejected;
    std::memcpy(d, e, sizeof(double) * static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i)
        for (int64_t j = 0; j <= i; ++j) {
            double g = 0.0;
            for (int64_t k = 0; k < n; ++k)
                if (d[k] != 0.0) g += d[k] * z[k * nn + i] * z[k * nn + j];
            a[pk(i, j)] = g;
        }
    return count;
}

namespace {

// The square root of a diagonal element that scales to unit diagonal; 1
// for an element that cannot.
double unit_scale(double diagonal) { return diagonal > 0.0 ? std::sqrt(diagonal) : 1.0; }

// a_ij := a_ij / (s_i s_j) over the packed matrix of order n.
void divide_by_scales(int32_t n, double* a, const double* s) {
    for (int64_t i = 0; i < n; ++i)
        for (int64_t j = 0; j <= i; ++j) a[pk(i, j)] = a[pk(i, j)] / s[i] / s[j];
}

}  // namespace

int32_t ginv_unit_free(int32_t print, int32_t mode, int32_t n, int32_t nzero, double tol, double* a, double* d,
                       double* z, double* e, double* s, HostObject* mgr, HostObject** table) {
    if (n < 1) return 0;
    if (mode == 2) {
        // The correlation form of a diagonal matrix: 1 where the element is
        // positive, the element itself elsewhere.
        for (int32_t i = 0; i < n; ++i) {
            s[i] = unit_scale(a[i]);
            d[i] = a[i] / (s[i] * s[i]);
        }
        const int32_t count = evzero(print, n, nzero, tol, d, e, mgr, table);
        if (count >= 0)
            for (int32_t i = 0; i < n; ++i) e[i] /= s[i] * s[i];
        return count < 0 ? kZcovgivRejected : count;
    }
    for (int64_t i = 0; i < n; ++i) s[i] = unit_scale(a[pk(i, i)]);
    divide_by_scales(n, a, s);
    const int32_t count = zcovgiv(print, 0, n, nzero, tol, a, d, z, e, mgr, table);
    // On a failure a is given back as it came, as zcovgiv leaves it.
    if (count < 0) {
        for (int64_t i = 0; i < n; ++i)
            for (int64_t j = 0; j <= i; ++j) a[pk(i, j)] *= s[i] * s[j];
        return count;
    }
    divide_by_scales(n, a, s);
    return count;
}

int32_t ginv_null_basis(int32_t n, const double* z, const double* d, const double* diag, double* basis) {
    int32_t count = 0;
    const int64_t nn = n;
    for (int64_t k = 0; k < n; ++k) {
        if (d[k] != 0.0) continue;
        double* u = basis + count * nn;
        double norm = 0.0;
        for (int64_t i = 0; i < n; ++i) {
            u[i] = diag != nullptr ? z[k * nn + i] * unit_scale(diag[i]) : z[k * nn + i];
            norm += u[i] * u[i];
        }
        norm = std::sqrt(norm);
        for (int64_t i = 0; i < n; ++i) u[i] = norm > 0.0 ? u[i] / norm : 0.0;
        ++count;
    }
    return count;
}

double ginv_null_leaning(int32_t n, int32_t count, const double* basis, const double* diag,
                         const double* g) {
    double norm = 0.0;
    for (int32_t i = 0; i < n; ++i) norm += (g[i] / unit_scale(diag[i])) * (g[i] / unit_scale(diag[i]));
    if (!(norm > 0.0)) return 0.0;
    norm = std::sqrt(norm);
    double worst = 0.0;
    for (int64_t k = 0; k < count; ++k) {
        double dot = 0.0;
        for (int32_t i = 0; i < n; ++i) dot += basis[k * n + i] * g[i] / unit_scale(diag[i]);
        worst = std::max(worst, std::fabs(dot) / norm);
    }
    return worst;
}

int32_t evzero(int32_t print, int32_t n, int32_t nzero, double tol, const double* ev, double* out,
               HostObject* mgr, HostObject** table) {
    if (n < 1) return 0;
    int32_t count = 0;
    if (wzmis(tol)) {
        if (nzero > n) return -1;
        if (nzero >= 1) {
            std::memcpy(out, ev, sizeof(double) * static_cast<size_t>(n));
            int32_t lo = 0;
            for (int32_t i = 1; i < n; ++i)
                if (std::fabs(ev[i]) <= std::fabs(ev[lo])) lo = i;
            int32_t hi = lo;
            out[lo] = 0.0;
            count = 1;
            // Grow the run [lo, hi] one neighbour at a time; at an end of
            // the array only the other side is left.
            while (count < nzero) {
                const bool below = lo > 0;
                const bool above = hi < n - 1;
                if (below && (!above || std::fabs(ev[lo - 1]) <= std::fabs(ev[hi + 1])))
                    out[--lo] = 0.0;
                else
                    out[++hi] = 0.0;
                ++count;
            }
            for (int32_t i = 0; i < n; ++i)
                if (out[i] != 0.0) out[i] = 1.0 / ev[i];
        } else {
            for (int32_t i = 0; i < n; ++i) out[i] = ev[i] == 0.0 ? 0.0 : 1.0 / ev[i];
        }
    } else {
        // Never closer to zero than ten times the smallest normal double, so
        // that every eigenvalue kept has a finite reciprocal.
        const double thr = std::max(tol, 10.0 * kDblMin);
        for (int32_t i = 0; i < n; ++i) {
            if (std::fabs(ev[i]) <= thr) {
                out[i] = 0.0;
                ++count;
            } else {
                out[i] = 1.0 / ev[i];
            }
        }
    }
    if (print) evprit(print, n, count, tol, ev, out, mgr, table);
    return count;
}

void evprit(int32_t print, int32_t n, int32_t count, double tol, const double* ev,
            const double* out, HostObject* mgr, HostObject** table) {
    if (!print || mgr == nullptr) return;
    OutputTable data = nlp_table(mgr, "Eigenvalues", 700);
    int32_t numberCell = 0;
    char starCell[2] = {' ', ' '};
    double valueCell = 0.0;
    // Digits of the row number: up to 999, 9999, beyond.
    const int32_t numberWidth = n <= 999 ? 3 : (n <= 9999 ? 4 : 5);
    data.cell_column(kColumnShort, "Number", &numberCell, {.displayWidth = numberWidth});
    data.cell_column(kColumnChars, "Asterisk", starCell, {.width = 2});
    data.cell_column(kColumnDouble, "Eigenvalue", &valueCell);
    if (!data.end_columns()) return;
    if (table != nullptr) *table = data.output();
    const bool haveTol = !wzmis(tol);
    int32_t marked = 0;
    for (int32_t i = 0; i < n; ++i) {
        const bool zero = haveTol ? std::fabs(ev[i]) <= tol : out[i] == 0.0;
        marked += zero ? 1 : 0;
        numberCell = i + 1;
        starCell[0] = zero ? '*' : ' ';
        valueCell = ev[i];
        if (!data.add_row()) return;
    }
    if (!data.deliver()) return;
    if (marked > 0) note(mgr, kyrmsgs(kMsgNlp, kMsgNlpZeroEigenvalues, count), 'c');
}

int32_t dodiag(int32_t print, int32_t n, char* flags, double tol1, double tol2,
               const NameRecord* names, double* diag, HostObject* mgr) {
    double dmax = 0.0;
    for (int32_t i = 0; i < n; ++i) dmax = std::max(dmax, std::fabs(diag[i]));
    const double thr = std::max(tol2 * dmax, tol1);
    int32_t count = 0;
    for (int32_t i = 0; i < n; ++i) {
        // A zero diagonal element is negligible whatever the tolerances say.
        if (std::fabs(diag[i]) <= thr || diag[i] == 0.0) {
            flags[i] = '0';
            diag[i] = 0.0;
            ++count;
        } else {
            flags[i] = '1';
            diag[i] = 1.0 / diag[i];
        }
    }
    if (print && mgr != nullptr && count >= 1) {
        if (!note(mgr, kyrmsg(kMsgNlp, kMsgNlpDependentParameters), 'l')) return count;
        for (int32_t i = 0; i < n; ++i)
            if (flags[i] == '0') note_name(mgr, kMsgNlpZeroVarianceParameter, names, i);
    }
    return count;
}

// Steps:
//   1. flags '0'; mode 2: dodiag;
//   2. s_i = sqrt|a_ii|; a zero matrix: message 549/205, a := 0, result 0;
//   3. scale to unit diagonal when every s_i is safely positive, and set
//      the per-parameter tolerances in the scale used;
//   4. sweep on the largest qualifying pivot until none qualifies;
//   5. undo the scaling (on both print paths);
//   6. when printing and some but not all are unpivoted: the LinDep table;
//   7. zero every row and column of an unpivoted parameter.
int32_t zcovlid(int32_t print, int32_t mode, int32_t n, double tol1, double tol2, double tol3,
                const NameRecord* names, const double* x, double* a, double* coef, double* s,
                double* tolv, char* flags, HostObject* mgr, HostObject** table) {
    if (n < 1) return 0;
    std::memset(flags, '0', static_cast<size_t>(n));
    if (mode == 2) return dodiag(print, n, flags, tol1, tol2, names, a, mgr);
    double dmax = 0.0;
    double smin = kDblMax;
    for (int32_t i = 0; i < n; ++i) {
        const double dii = std::fabs(a[pk(i, i)]);
        s[i] = std::sqrt(dii);
        dmax = std::max(dmax, dii);
        smin = std::min(smin, s[i]);
    }
    if (dmax <= kSqrtDblMin) {
        xpmlog(kMsgNlp, kMsgNlpZeroDiagonal);
        if (print && mgr != nullptr) note(mgr, kyrmsg(kMsgNlp, kMsgNlpZeroDiagonal), 'l');
        std::fill(a, a + static_cast<int64_t>(n) * (n + 1) / 2, 0.0);
        return 0;
    }
    // Scaling to unit diagonal is safe only when no scale can underflow
    // the products s_i s_j.
    const bool scaled = smin > 10.0 * kSqrtDblMin;
    for (int32_t i = 0; i < n; ++i) {
        const double s2 = s[i] * s[i];
        if (scaled) {
            for (int32_t j = 0; j < i; ++j) a[pk(i, j)] /= s[i] * s[j];
            a[pk(i, i)] = 1.0;
            tolv[i] = std::max({tol1 / s2, tol2 * dmax / s2, tol3});
        } else {
            tolv[i] = std::max({tol3 * s2, tol2 * dmax, tol1});
        }
    }
    for (;;) {
        int32_t best = -1;
        double bestValue = -kDblMax;
        for (int32_t i = 0; i < n; ++i) {
            const double v = a[pk(i, i)];
            if (flags[i] == '0' && v > tolv[i] && v > bestValue) {
                best = i;
                bestValue = v;
            }
        }
        if (best < 0) break;
        zsweep(a, best, n, flags, coef, -kDblMin);
        // A pivot the kernel declines (possible only with tolerances below
        // zero) would be chosen again forever; it ends the sweep instead.
        if (flags[best] != '1') break;
    }
    int32_t count = 0;
    for (int32_t i = 0; i < n; ++i) count += flags[i] == '0' ? 1 : 0;
    if (scaled) {
        // Swept on the scaled matrix D A D (D = diag(1/s)): the pivoted
        // block holds -(D A D)^-1 = -S A^-1 S and the mixed block the
        // coefficients (D A D)_QP (D A D)_PP^-1 = D_Q A_QP A_PP^-1 S_P.
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j <= i; ++j) {
                const bool pi = flags[i] == '1';
                const bool pj = flags[j] == '1';
                double& v = a[pk(i, j)];
                if (pi && pj)
                    v /= s[i] * s[j];
                else if (pi)
                    v *= s[j] / s[i];
                else if (pj)
                    v *= s[i] / s[j];
                else
                    v = 0.0;
            }
    }
    if (print && mgr != nullptr && count > 0 && count < n)
        lidprit(print, n, count, flags, names, x, s, a, coef, mgr, table);
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j)
            if (flags[i] == '0' || flags[j] == '0') a[pk(i, j)] = 0.0;
    return count;
}

// Steps:
//   1. note 549/340;
//   2. per unpivoted parameter: the constant and the terms large enough to
//      print; T the most terms of a row, w the widest name;
//   3. note 549/206 and, from a host pool, the cells of one row;
//   4. the table: Variable, Equal, Constant, T groups of Sign,
//      Coefficient, Asterisk, Parameter; one row per parameter with terms;
//   5. delete the pool; note 549/204 for each unpivoted parameter whose
//      standard deviation is below 1e-6.
void lidprit(int32_t print, int32_t n, int32_t count, const char* flags, const NameRecord* names,
             const double* x, const double* s, const double* a, double* coef, HostObject* mgr,
             HostObject** table) {
    if (!print || mgr == nullptr) return;
    if (!note(mgr, kyrmsg(kMsgNlp, kMsgNlpDependentParameters), 'l')) return;
    int32_t pivoted = 0;
    for (int32_t j = 0; j < n; ++j) pivoted += flags[j] == '1' ? 1 : 0;

    // Whether term j of row i is printed, and the row's constant.
    auto row_terms = [&](int32_t i, double* constant) {
        double c = x[i];
        double sum = 0.0;
        for (int32_t j = 0; j < n; ++j) {
            coef[j] = flags[j] == '1' ? a[pk(i, j)] : 0.0;
            c -= coef[j] * x[j];
            sum += std::fabs(coef[j]);
        }
        *constant = c;
        // Terms below this share of the row's size are roundoff.
        return (std::max(1.0, std::fabs(c)) + sum) * kSqrtMachEps / std::max(pivoted, 1);
    };
    // Whether term j is printed; one test for the count and the rows, so
    // that a row of a matrix that is not finite never has more terms than
    // were counted.
    auto printed = [&](int32_t j, double cut) { return flags[j] == '1' && std::fabs(coef[j]) >= cut; };

    int32_t maxTerms = 0;
    int32_t width = 8;  // the narrowest name column
    for (int32_t i = 0; i < n; ++i) {
        if (flags[i] != '0') continue;
        double c = 0.0;
        const double cut = row_terms(i, &c);
        int32_t terms = 0;
        for (int32_t j = 0; j < n; ++j) {
            if (printed(j, cut)) {
                ++terms;
                width = std::max(width, name_of(names, j).length);
            }
        }
        if (terms > 0) width = std::max(width, name_of(names, i).length);
        maxTerms = std::max(maxTerms, terms);
    }

    if (maxTerms > 0 && note(mgr, kyrmsg(kMsgNlp, kMsgNlpDependencyRows), 'l')) {
        HostAllocator* pool = xmpoolc(0, 1024, 4096);
        if (pool == nullptr) {
            xmemmsg(0);
            return;
        }
        // Cells of one row: the doubles first, then the character fields.
        const size_t doubles = 1 + static_cast<size_t>(maxTerms);
        const size_t chars = static_cast<size_t>(width) + 3 + static_cast<size_t>(maxTerms) * (6 + width);
        double* values = static_cast<double*>(pool->allocate(pool, doubles * sizeof(double) + chars, 0));
        if (values == nullptr) {
            xmemmsg(static_cast<int64_t>(doubles * sizeof(double) + chars));
            xmpoold(pool);
            return;
        }
        char* variable = reinterpret_cast<char*>(values + doubles);
        char* equal = variable + width;
        char* groups = equal + 3;
        auto sign_cell = [&](int32_t t) { return groups + static_cast<size_t>(t) * (6 + width); };
        auto star_cell = [&](int32_t t) { return sign_cell(t) + 3; };
        auto param_cell = [&](int32_t t) { return sign_cell(t) + 6; };

        OutputTable data = nlp_table(mgr, "LinDep", 701);
        data.cell_column(kColumnChars, "Variable", variable, {.width = width});
        data.cell_column(kColumnChars, "Equal", equal, {.width = 3});
        data.cell_column(kColumnDouble, "Constant", values);
        for (int32_t t = 0; data.ok() && t < maxTerms; ++t) {
            data.cell_column(kColumnChars, "Sign", sign_cell(t), labelled("Sign", 3));
            data.cell_column(kColumnDouble, "Coefficient", values + 1 + t, labelled("Coefficient"));
            data.cell_column(kColumnChars, "Asterisk", star_cell(t), labelled("Asterisk", 3));
            data.cell_column(kColumnChars, "Parameter", param_cell(t),
                             labelled("Parameter", width));
        }
        if (data.end_columns() && table != nullptr) *table = data.output();
        for (int32_t i = 0; data.ok() && i < n; ++i) {
            if (flags[i] != '0') continue;
            const double cut = row_terms(i, &values[0]);
            const ParamName vname = name_of(names, i);
            fill_field(variable, width, vname.text, vname.length);
            fill_field(equal, 3, " = ", 3);
            int32_t t = 0;
            for (int32_t j = 0; j < n; ++j) {
                if (!printed(j, cut)) continue;
                if (t == maxTerms) {
                    internal_error("LinDep: more dependency terms than the table holds");
                }
                fill_field(sign_cell(t), 3, coef[j] < 0.0 ? " - " : " + ", 3);
                values[1 + t] = std::fabs(coef[j]);
                fill_field(star_cell(t), 3, " * ", 3);
                const ParamName pname = name_of(names, j);
                fill_field(param_cell(t), width, pname.text, pname.length);
                ++t;
            }
            if (t == 0) continue;
            for (int32_t u = t; u < maxTerms; ++u) {
                fill_field(sign_cell(u), 3, "", 0);
                values[1 + u] = host_missing_value();
                fill_field(star_cell(u), 3, "", 0);
                fill_field(param_cell(u), width, "", 0);
            }
            data.add_row();
        }
        data.deliver();
        xmpoold(pool);
    }
    for (int32_t i = 0; i < n; ++i)
        if (flags[i] == '0' && s[i] < kTinyStdDev)
            note_name(mgr, kMsgNlpZeroVarianceParameter, names, i);
}
