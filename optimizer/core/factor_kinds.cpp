// Factor kinds of the Hessian and its approximations: row-oriented LDL' and
// Cholesky factorizations with a relative pivot test, outer-product
// Cholesky with diagonal pivoting (Golub and Van Loan, Matrix Computations,
// 4th ed., 2013, sec. 4.2.8), diagonal factors, the triangular solves and
// products, the inverse from the factor, the ridged tridiagonal factor, and
// the sparse Cholesky factor of a sparse Hessian through the numerics
// library's SparseLLt kernels.
// A failing pivot is marked negative in the factor and reported by its
// position; the technique chooses what follows (ridge, steepest descent).
#include "optimizer/core/factor_kinds.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <utility>
#include <vector>

#include "numerics/qr.h"
#include "numerics/sparse_llt.h"
#include "optimizer/core/reduced_space.h"
#include "velix/codes.h"
#include "velix/host.h"

using namespace velix::detail;
using velix::pk;

namespace {

constexpr double kRel = 1.1102230246251565e-13;   // 1000 times 2^-53
constexpr double kLogDetFailed = -708.3964185;    // log of the smallest normalised double

double default_tol(double tol, double factor) { return tol < DBL_MIN ? factor * DBL_MIN : tol; }

int32_t resolve(const NlpProblem* p, int32_t kind) {
    if (kind != 0) return kind;
    const bool diag = p->opt.hessianStorage == 2;
    if (!p->shape.hasBounds && !p->shape.hasLinCon) return diag ? 3 : 2;
    return diag ? 5 : 4;
}

[[noreturn]] void refuse(const char* what) { nlp_internal_error(what); }

// The sparse kinds work on the Hessian's SparseLLt structures, which the
// caller installs in the problem with the values.
struct SparseFactor {
    const int32_t* matrix;  // pattern of A
    const int32_t* factor;  // pattern of L, fill included
    int32_t* perm;          // kind 6 permutation, kind 7 position map
};

SparseFactor sparse_factor(const NlpProblem* p) {
    if (p->hess.hessianPattern == nullptr || p->hess.hessianFactorPattern == nullptr || p->hess.hessianPerm == nullptr)
        refuse("factor kinds: the sparse Hessian structures are not installed");
    return {p->hess.hessianPattern, p->hess.hessianFactorPattern, p->hess.hessianPerm};
}

// log det A = -2 sum log sa_i from the reciprocal factor diagonal; rows
// left out of a kind 7 factor do not count.  A vanished entry makes the
// sum meaningless: 0.
double sparse_logdet(int32_t kind, int32_t n, const int32_t* perm, const double* f) {
    double s = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        if (kind == 7 && perm[i] < 0) continue;
        if (f[i] <= DBL_MIN) return 0.0;
        s -= 2.0 * std::log(f[i]);
    }
    return s;
}

int32_t sparse_decompose(NlpProblem* p, int32_t kind, int32_t n, double tol, double* logdet, const double* a,
                         double* f) {
    const SparseFactor s = sparse_factor(p);
    int32_t r = 0;
    if (kind == 6) {
        r = zslltnf(1, 0, n, tol, s.matrix, s.factor, s.perm, a, f);
    } else {
        // The factor keeps the parameters' own order; the position map
        // masks the parameters held at a bound.
        std::vector<int32_t> maskperm(static_cast<size_t>(n));
        r = zslltf2(1, s.perm, maskperm.data(), 0, n, tol, s.matrix, s.factor, nullptr, a, f);
    }
    if (r == 0 && logdet != nullptr) *logdet = sparse_logdet(kind, n, s.perm, f);
    return r;
}

// Row-oriented decomposition shared by LDL' (ldl) and LL'.
int32_t row_decompose(bool ldl, int32_t n, double tol, double* logdet, const double* a, double* f) {
    tol = default_tol(tol, 10000.0);
    *logdet = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        double s = 0.0;
        for (int32_t j = 0; j < i; ++j) {
            double t = a[pk(i, j)];
            for (int32_t k = 0; k < j; ++k)
                t -= ldl ? f[pk(i, k)] * f[pk(k, k)] * f[pk(j, k)] : f[pk(i, k)] * f[pk(j, k)];
            const double piv = f[pk(j, j)];
            const double lij = piv > DBL_MIN ? t / piv : 0.0;
            f[pk(i, j)] = lij;
            s += ldl ? lij * lij * piv : lij * lij;
        }
        const double aii = a[pk(i, i)];
        const double d = aii - s;
        if (d > std::fmax(tol, kRel * std::fmax(aii, s))) {
            *logdet += std::log(d);
            f[pk(i, i)] = ldl ? d : std::sqrt(d);
        } else {
            f[pk(i, i)] = std::fmin(d, -2.0 * tol);
            *logdet = kLogDetFailed;
            return i + 1;
        }
    }
    return 0;
}

// Triangular solves with a packed lower L: L x = b (forward) and L' x = b.
int32_t forward(int32_t n, const double* f, double* b, bool unit) {
    for (int32_t i = 0; i < n; ++i) {
        double s = b[i];
        for (int32_t j = 0; j < i; ++j) s -= f[pk(i, j)] * b[j];
        if (!unit) {
            if (std::fabs(f[pk(i, i)]) <= DBL_MIN) return 1;
            s /= f[pk(i, i)];
        }
        b[i] = s;
    }
    return 0;
}
int32_t backward(int32_t n, const double* f, double* b, bool unit) {
    for (int32_t i = n - 1; i >= 0; --i) {
        double s = b[i];
        for (int32_t j = i + 1; j < n; ++j) s -= f[pk(j, i)] * b[j];
        if (!unit) {
            if (std::fabs(f[pk(i, i)]) <= DBL_MIN) return 1;
            s /= f[pk(i, i)];
        }
        b[i] = s;
    }
    return 0;
}
// v := L' v and v := L v (unit: L has a unit diagonal).
void times_upper(int32_t n, const double* f, double* v, bool unit) {
    for (int32_t i = 0; i < n; ++i) {
        double s = unit ? v[i] : f[pk(i, i)] * v[i];
        for (int32_t j = i + 1; j < n; ++j) s += f[pk(j, i)] * v[j];
        v[i] = s;
    }
}
void times_lower(int32_t n, const double* f, double* v, bool unit) {
    for (int32_t i = n - 1; i >= 0; --i) {
        double s = unit ? v[i] : f[pk(i, i)] * v[i];
        for (int32_t j = 0; j < i; ++j) s += f[pk(i, j)] * v[j];
        v[i] = s;
    }
}

// The triangular operations of the dense and diagonal kinds, with the
// permutation of kinds 4 and 5 around them.
enum class Op { SolveL, SolveU, TimesU, TimesL, TimesA };

// Kind 6 in the parameters' order (the kernels permute and restore).
int32_t apply_sparse(NlpProblem* p, int32_t n, const double* f, double* v, Op op) {
    const SparseFactor s = sparse_factor(p);
    std::vector<double> y;
    auto times = [&](bool upper) {
        y.assign(static_cast<size_t>(n), 0.0);
        if (upper)
            zslltmu(0, n, s.perm, s.factor, f, v, y.data());
        else
            zslltml(0, n, s.perm, s.factor, f, v, y.data());
        std::copy(y.begin(), y.end(), v);
    };
    switch (op) {
        case Op::SolveL: zslltli(0, n, s.perm, s.factor, f, v); break;
        case Op::SolveU: zslltui(0, n, s.perm, s.factor, f, v); break;
        case Op::TimesU: times(true); break;
        case Op::TimesL: times(false); break;
        case Op::TimesA:
            times(true);
            times(false);
            break;
    }
    return 0;
}

int32_t apply(NlpProblem* p, int32_t kind, int32_t n, const double* f, double* v, Op op) {
    kind = resolve(p, kind);
    if (kind == 6) return apply_sparse(p, n, f, v, op);
    if (kind < 1 || kind > 5) refuse("factor kinds: unsupported kind");
    const bool permuted = kind == 4 || kind == 5;
    if (permuted) znlpprm(0, n, p->active.pivotOrder, v);
    int32_t r = 0;
    if (kind == 3 || kind == 5) {
        for (int32_t i = 0; i < n && r == 0; ++i) {
            const double fi = f[i];
            switch (op) {
                case Op::SolveL:
                case Op::SolveU:
                    if (std::fabs(fi) <= DBL_MIN) r = 1; else v[i] /= fi;
                    break;
                case Op::TimesU:
                case Op::TimesL: v[i] *= fi; break;
                case Op::TimesA: v[i] *= fi * fi; break;
            }
        }
    } else if (kind == 1) {
        // On the equivalent L D^1/2.
        switch (op) {
            case Op::SolveL:
                forward(n, f, v, true);
                for (int32_t i = 0; i < n && r == 0; ++i)
                    if (f[pk(i, i)] <= DBL_MIN) r = 1; else v[i] /= std::sqrt(f[pk(i, i)]);
                break;
            case Op::SolveU:
                for (int32_t i = 0; i < n && r == 0; ++i)
                    if (f[pk(i, i)] <= DBL_MIN) r = 1; else v[i] /= std::sqrt(f[pk(i, i)]);
                if (r == 0) backward(n, f, v, true);
                break;
            case Op::TimesU:
                times_upper(n, f, v, true);
                for (int32_t i = 0; i < n; ++i) v[i] *= std::sqrt(std::fabs(f[pk(i, i)]));
                break;
            case Op::TimesL:
                for (int32_t i = 0; i < n; ++i) v[i] *= std::sqrt(std::fabs(f[pk(i, i)]));
                times_lower(n, f, v, true);
                break;
            case Op::TimesA:
                times_upper(n, f, v, true);
                for (int32_t i = 0; i < n; ++i) v[i] *= f[pk(i, i)];
                times_lower(n, f, v, true);
                break;
        }
    } else {
        switch (op) {
            case Op::SolveL: r = forward(n, f, v, false); break;
            case Op::SolveU: r = backward(n, f, v, false); break;
            case Op::TimesU: times_upper(n, f, v, false); break;
            case Op::TimesL: times_lower(n, f, v, false); break;
            case Op::TimesA:
                times_upper(n, f, v, false);
                times_lower(n, f, v, false);
                break;
        }
    }
    if (permuted) znlpprm(1, n, p->active.pivotOrder, v);
    return r;
}

}  // namespace

int32_t ldudec(int32_t n, double tol, double* logdet, const double* a, double* f) {
    return row_decompose(true, n, tol, logdet, a, f);
}

int32_t lltdec(int32_t n, double tol, double* logdet, const double* a, double* f) {
    return row_decompose(false, n, tol, logdet, a, f);
}

int32_t lltde2(int32_t n, double tol, int32_t* perm, double* logdet, double* a) {
    tol = default_tol(tol, 10000.0);
    *logdet = 0.0;
    for (int32_t i = 0; perm != nullptr && i < n; ++i) perm[i] = i;
    for (int32_t i = 0; i < n; ++i) {
        if (perm != nullptr) {
            int32_t m = i;
            for (int32_t j = i + 1; j < n; ++j)
                if (a[pk(j, j)] > a[pk(m, m)]) m = j;
            if (m != i) {
                // Interchange rows and columns i and m of the symmetric matrix.
                for (int32_t k = 0; k < n; ++k)
                    if (k != i && k != m) std::swap(a[pk(i, k)], a[pk(m, k)]);
                std::swap(a[pk(i, i)], a[pk(m, m)]);
                std::swap(perm[i], perm[m]);
            }
        }
        const double x = a[pk(i, i)];
        if (!(x > tol)) {
            a[pk(i, i)] = std::fmin(x, -2.0 * tol);
            *logdet = kLogDetFailed;
            return i + 1;
        }
        *logdet += std::log(x);
        const double l = std::sqrt(x);
        a[pk(i, i)] = l;
        for (int32_t j = i + 1; j < n; ++j) a[pk(j, i)] /= l;
        for (int32_t j = i + 1; j < n; ++j)
            for (int32_t k = i + 1; k <= j; ++k) a[pk(j, k)] -= a[pk(j, i)] * a[pk(k, i)];
    }
    return 0;
}

int32_t lltcd2(int32_t n, int32_t* perm, double tol, const double* a, double* f) {
    tol = default_tol(tol, 100.0);
    for (int32_t i = 0; i < n; ++i) f[i] = a[i];
    for (int32_t i = 0; perm != nullptr && i < n; ++i) perm[i] = i;
    for (int32_t i = 0; i < n; ++i) {
        if (perm != nullptr) {
            int32_t m = i;
            for (int32_t j = i + 1; j < n; ++j)
                if (f[j] > f[m]) m = j;
            std::swap(f[i], f[m]);
            std::swap(perm[i], perm[m]);
        }
        if (f[i] < tol) {
            f[i] = std::fmin(f[i], -2.0 * tol);
            return i + 1;
        }
        f[i] = std::sqrt(f[i]);
    }
    return 0;
}

int32_t ldusol(int32_t n, int32_t nrhs, const double* f, double* b) {
    for (int32_t r = 0; r < nrhs; ++r) {
        double* v = b + static_cast<size_t>(r) * n;
        forward(n, f, v, true);
        for (int32_t i = 0; i < n; ++i) {
            if (f[pk(i, i)] <= DBL_MIN) return 1;
            v[i] /= f[pk(i, i)];
        }
        backward(n, f, v, true);
    }
    return 0;
}

int32_t lltsol(int32_t n, int32_t nrhs, const double* f, double* b) {
    for (int32_t r = 0; r < nrhs; ++r) {
        double* v = b + static_cast<size_t>(r) * n;
        if (forward(n, f, v, false) != 0 || backward(n, f, v, false) != 0) return 1;
    }
    return 0;
}

int32_t lltinv(int32_t n, double* f) {
    // L^-1 in place (column by column from the diagonal), then
    // A^-1 = L^-T L^-1 in place by ascending rows.
    for (int32_t j = 0; j < n; ++j) {
        if (std::fabs(f[pk(j, j)]) <= DBL_MIN) return 1;
        f[pk(j, j)] = 1.0 / f[pk(j, j)];
        for (int32_t i = j + 1; i < n; ++i) {
            double s = 0.0;
            for (int32_t k = j; k < i; ++k) s -= f[pk(i, k)] * f[pk(k, j)];
            f[pk(i, j)] = s / f[pk(i, i)];
        }
    }
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j) {
            double s = 0.0;
            for (int32_t k = i; k < n; ++k) s += f[pk(k, i)] * f[pk(k, j)];
            f[pk(i, j)] = s;
        }
    return 0;
}

int32_t znlpcde(NlpProblem* p, int32_t kind, int32_t n, double tol, double* logdet, double* a,
                double* f) {
    kind = resolve(p, kind);
    tol = default_tol(tol, 100.0);
    switch (kind) {
        case 1: return ldudec(n, tol, logdet, a, f);
        case 2: return lltdec(n, tol, logdet, a, f);
        case 3: return lltcd2(n, nullptr, tol, a, f);
        case 4: {
            for (size_t i = 0; f != a && i < static_cast<size_t>(n) * (n + 1) / 2; ++i) f[i] = a[i];
            return lltde2(n, tol, p->active.pivotOrder, logdet, f);
        }
        case 5: return lltcd2(n, p->active.pivotOrder, tol, a, f);
        case 6:
        case 7: return sparse_decompose(p, kind, n, tol, logdet, a, f);
        default: refuse("znlpcde: unsupported factor kind");
    }
}

int32_t znlpcso(NlpProblem* p, int32_t kind, int32_t n, const double* f, double* b) {
    const int32_t k = resolve(p, kind);
    if (k == 1 || k == 2) return k == 1 ? ldusol(n, 1, f, b) : lltsol(n, 1, f, b);
    if (k == 4) {
        znlpprm(0, n, p->active.pivotOrder, b);
        const int32_t r = lltsol(n, 1, f, b);
        znlpprm(1, n, p->active.pivotOrder, b);
        return r;
    }
    if (k == 6) {
        const SparseFactor s = sparse_factor(p);
        zslltso(n, s.perm, s.factor, f, b);
        return 0;
    }
    if (k == 7) {
        const SparseFactor s = sparse_factor(p);
        zsllts2(n, s.perm, s.factor, f, b);
        return 0;
    }
    if (k == 3 || k == 5) {
        const int32_t r1 = apply(p, k, n, f, b, Op::SolveL);
        return r1 != 0 ? r1 : apply(p, k, n, f, b, Op::SolveU);
    }
    return apply(p, k, n, f, b, Op::SolveL);
}

int32_t znlpilm(NlpProblem* p, int32_t kind, int32_t n, const double* f, double* v) {
    return apply(p, kind, n, f, v, Op::SolveL);
}
int32_t znlpium(NlpProblem* p, int32_t kind, int32_t n, const double* f, double* v) {
    return apply(p, kind, n, f, v, Op::SolveU);
}
void znlpmmu(NlpProblem* p, int32_t kind, int32_t n, const double* f, double* v) {
    apply(p, kind, n, f, v, Op::TimesA);
}
void znlpumu(NlpProblem* p, int32_t kind, int32_t n, const double* f, double* v) {
    apply(p, kind, n, f, v, Op::TimesU);
}
void znlplmu(NlpProblem* p, int32_t kind, int32_t n, const double* f, double* v) {
    apply(p, kind, n, f, v, Op::TimesL);
}

int32_t znlpcin(NlpProblem* p, int32_t kind, int32_t n, double tol, double* a, double* out) {
    kind = resolve(p, kind);
    tol = default_tol(tol, 100.0);
    if (kind == 3) {
        for (int32_t i = 0; i < n; ++i) {
            if (std::fabs(a[i]) < tol) return 1;
            out[i] = 1.0 / a[i];
        }
        return 0;
    }
    if (kind != 1 && kind != 2) refuse("znlpcin: unsupported factor kind");
    double logdet = 0.0;
    const int32_t r = lltdec(n, tol, &logdet, a, out);
    return r != 0 ? r : lltinv(n, out);
}

int32_t znlpcd3(int32_t n, double tol, const double* d, const double* e, double* l, double* c) {
    if (n < 1) return 0;
    double m = std::fabs(d[0]);
    for (int32_t i = 1; i < n; ++i) m = std::fmax(m, std::fmax(std::fabs(d[i]), std::fabs(e[i])));
    double theta = tol * std::fmin(1.0, m);
    if (theta < DBL_MIN) theta = 100.0 * DBL_MIN;
    if (d[0] <= theta) return 1;
    l[0] = std::sqrt(d[0]);
    c[0] = 0.0;
    for (int32_t i = 1; i < n; ++i) {
        const double s = e[i] / l[i - 1], x = d[i] - s * s;
        if (x <= theta) return i + 1;
        l[i] = std::sqrt(x);
        c[i] = s;
    }
    return 0;
}

int32_t znlpcs3(int32_t n, const double* l, const double* c, const double* b, double* x) {
    for (int32_t i = 0; i < n; ++i) {
        if (std::fabs(l[i]) < DBL_MIN) return 1;
        x[i] = ((i > 0 ? b[i] - c[i] * x[i - 1] : b[i])) / l[i];
    }
    for (int32_t i = n - 1; i >= 0; --i) x[i] = (i < n - 1 ? x[i] - c[i + 1] * x[i + 1] : x[i]) / l[i];
    return 0;
}

void znlpprm(int32_t direction, int32_t n, int32_t* perm, double* v) {
    if (n < 2) return;
    // Mark every entry, then walk each cycle once, restoring the marks.
    for (int32_t i = 0; i < n; ++i) perm[i] = -(perm[i] + 1);
    for (int32_t start = 0; start < n; ++start) {
        if (perm[start] >= 0) continue;
        int32_t i = start;
        int32_t j = -perm[i] - 1;
        perm[i] = j;
        if (direction == 0) {
            // v'[i] = v[perm[i]]: pull values along the cycle.
            const double first = v[i];
            while (j != start) {
                v[i] = v[j];
                i = j;
                j = -perm[i] - 1;
                perm[i] = j;
            }
            v[i] = first;
        } else {
            // v'[perm[i]] = v[i]: push values along the cycle.
            double carry = v[i];
            while (j != start) {
                const double next = v[j];
                v[j] = carry;
                carry = next;
                i = j;
                j = -perm[i] - 1;
                perm[i] = j;
            }
            v[start] = carry;
        }
    }
}

int32_t znlpsbs(int32_t n, int32_t k, int32_t* perm, const double* l, double* out) {
    for (int32_t i = 0; i < n; ++i) out[i] = 0.0;
    if (k < 1 || k > n) return 0;
    out[k - 1] = 1.0;
    for (int32_t i = k - 2; i >= 0; --i) {
        const double d = l[pk(i, i)];
        if (std::fabs(d) <= DBL_MIN) return 1;
        double s = 0.0;
        for (int32_t j = i + 1; j < k; ++j) s += l[pk(j, i)] * out[j];
        out[i] = -s / d;
    }
    if (perm != nullptr) znlpprm(1, n, perm, out);
    return 0;
}

double znlptrc(int32_t upper, int32_t n, const double* t, double* work) {
    if (n <= 0) return 0.0;
    // Entry (i, j) of the lower triangle of T (upper: of T', the same store).
    auto at = [&](int32_t i, int32_t j) { return t[pk(i, j)]; };
    double tnorm = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        double row = 0.0;
        for (int32_t j = 0; j < n; ++j)
            if (upper == 0 ? j <= i : j >= i) row += std::fabs(at(std::max(i, j), std::min(i, j)));
        tnorm = std::fmax(tnorm, row);
    }
    // Forward substitution for lower T, backward for upper; the sign of
    // b_i is that of the partial sum, so that |y_i| grows.
    double ynorm = 0.0;
    for (int32_t step = 0; step < n; ++step) {
        const int32_t i = upper == 0 ? step : n - 1 - step;
        double s = 0.0;
        for (int32_t q = 0; q < step; ++q) {
            const int32_t j = upper == 0 ? q : n - 1 - q;
            s += at(std::max(i, j), std::min(i, j)) * work[j];
        }
        const double d = at(i, i);
        if (d == 0.0) return DBL_MAX;
        const double b = s > 0.0 ? -1.0 : 1.0;
        work[i] = (b - s) / d;
        ynorm = std::fmax(ynorm, std::fabs(work[i]));
    }
    return tnorm * ynorm;
}
