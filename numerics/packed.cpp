// Packed symmetric kernels: the row-oriented (Cholesky-Banachiewicz)
// factorization L L' of a symmetric positive definite matrix in packed
// lower storage, inversion of the factor and of L L', triangular
// substitutions, and the LINPACK rank-one update and downdate of a Cholesky
// factor by plane rotations (Dongarra, Bunch, Moler and Stewart, "LINPACK
// Users' Guide", SIAM 1979, ch. 10; Golub and Van Loan, "Matrix
// Computations", 4th ed., sec. 4.2 and 6.5.4).
#include "numerics/packed.h"

#include <cmath>
#include <vector>

#include "numerics/cholesky.h"
#include "numerics/kernel_support.h"
#include "velix/host_vector.h"

using velix::detail::det_scale;
using velix::detail::kMinPos;
using velix::pk_lower;

namespace {

// Default tolerance of coscdec: 10000 units of 2^-53 (one ulp above it).
constexpr double kCdecDefaultTol = velix::kMachEpsWritten * 10000.0;
// Log-determinant reported for a rank-deficient matrix (about log of the
// smallest normal double).
constexpr double kRankDeficientLogDet = -708.3964185;

double sign_of(double v) { return v < 0.0 ? -1.0 : (v > 0.0 ? 1.0 : 0.0); }

// Solves L y = x in place for one right-hand side; a component whose
// diagonal is negligible becomes 0.0 and is counted.
template <class Negligible>
int32_t forward_pass(int32_t n, const double* l, double* x, Negligible negligible) {
    int32_t count = 0;
    velix::detail::substitute_rows(n, l, x, [&](int32_t i, double sum) {
        const double d = l[pk_lower(i, i)];
        const double y = x[i] - sum;
        if (negligible(d)) {
            x[i] = 0.0;
            ++count;
        } else {
            x[i] = y * (1.0 / d);
        }
    });
    return count;
}

// Solves L' x = y in place for one right-hand side; as forward_pass.
template <class Negligible>
int32_t backward_pass(int32_t n, const double* l, double* x, Negligible negligible) {
    int32_t count = 0;
    for (int32_t i = n - 1; i >= 0; --i) {
        double y = x[i];
        for (int32_t k = i + 1; k < n; ++k) y -= l[pk_lower(k, i)] * x[k];
        const double d = l[pk_lower(i, i)];
        if (negligible(d)) {
            x[i] = 0.0;
            ++count;
        } else {
            x[i] = y * (1.0 / d);
        }
    }
    return count;
}

// Runs pass on each of the m right-hand sides of b (vector k at k*n) and
// returns the total count divided by m; 0 when m < 1.
template <class Pass>
int32_t each_rhs(int32_t n, int32_t m, double* b, Pass pass) {
    if (m < 1) return 0;
    int32_t count = 0;
    for (int32_t c = 0; c < m; ++c) count += pass(b + static_cast<int64_t>(c) * n);
    return count / m;
}

// coschin from the order where blocking pays: the blocked factor in
// place, the determinant from its diagonal, the blocked inverse.
int32_t blocked_coschin(int32_t n, double tol, double* det, double* a) {
    // A pivot that is not positive fails whatever tol says.
    const double floor = tol > 0.0 ? tol : 0.0;
    int32_t failed = 0;
    if (!velix::detail::packed_cholesky(n, a, 0.0, floor, a, &failed)) {
        det[0] = 0.0;
        det[1] = 0.0;
        return -(failed + 1);
    }
    for (int32_t i = 0; i < n; ++i) {
        const double l = a[pk_lower(i, i)];
        det_scale(det, l * l);
    }
    std::vector<double> work(static_cast<size_t>(velix::detail::packed_inverse_work(n)));
    velix::detail::packed_factor_inverse(n, a, a, work.data());
    return 0;
}

}  // namespace

int32_t coschin(int32_t n, double tol, double* det, double* a) {
    // factor with reciprocal diagonal, accumulating the determinant;
    // invert the factor column by column; form inv(a) = X'X, X = inv(L).
    det[0] = 1.0;
    det[1] = 0.0;
    if (n >= velix::detail::kBlockedInverseOrder) return blocked_coschin(n, tol, det, a);
    for (int32_t i = 0; i < n; ++i) {
        double* ri = a + pk_lower(i, 0);
        for (int32_t j = 0; j <= i; ++j) {
            const double* rj = a + pk_lower(j, 0);
            const double x = ri[j] - zinner(ri, rj, j);
            if (j < i) {
                ri[j] = x * rj[j];
                continue;
            }
            // A pivot that is not positive cannot be factored whatever tol
            // says (a negative tol would otherwise take the root of a
            // negative number).
            if (x <= tol || !(x > 0.0)) {
                det[0] = 0.0;
                det[1] = 0.0;
                return -(i + 1);
            }
            det_scale(det, x);
            ri[i] = 1.0 / std::sqrt(x);
        }
    }
    for (int32_t j = 0; j < n; ++j) {
        for (int32_t i = j + 1; i < n; ++i) {
            double s = 0.0;
            for (int32_t k = j; k < i; ++k) s += a[pk_lower(i, k)] * a[pk_lower(k, j)];
            a[pk_lower(i, j)] = -s * a[pk_lower(i, i)];
        }
    }
    for (int32_t j = 0; j < n; ++j) {
        for (int32_t i = j; i < n; ++i) {
            double s = 0.0;
            for (int32_t k = i; k < n; ++k) s += a[pk_lower(k, j)] * a[pk_lower(k, i)];
            a[pk_lower(i, j)] = s;
        }
    }
    return 0;
}

int32_t coscdec(int32_t n, double tol, double* logdet, double* a) {
    if (!(tol > 0.0)) tol = kCdecDefaultTol;
    *logdet = 0.0;
    double sum = 0.0;
    int32_t count = 0;
    for (int32_t i = 0; i < n; ++i) {
        double* ri = a + pk_lower(i, 0);
        // Row i against the rows above, as forward_pass solves.
        velix::detail::substitute_rows(i, a, ri, [&](int32_t j, double inner) {
            const double d = a[pk_lower(j, j)];
            ri[j] = (ri[j] - inner) * (d > kMinPos ? 1.0 / d : d);
        });
        const double x = ri[i] - zinner(ri, ri, i);
        if (x > tol) {
            sum += std::log(x);
            ri[i] = std::sqrt(x);
        } else {
            ri[i] = 0.0;
            ++count;
        }
    }
    *logdet = count == 0 ? sum : kRankDeficientLogDet;
    return -count;
}

int32_t coscinv(int32_t n, double* l) {
    // Gauss-Jordan on L gives inv(L) in place; then inv(L L') = X'X.
    for (int32_t i = 0; i < n; ++i) {
        double* ri = l + pk_lower(i, 0);
        const double d = ri[i];
        if (std::fabs(d) <= kMinPos) return 1;
        const double rd = 1.0 / d;
        ri[i] = rd;
        for (int32_t j = 0; j < i; ++j) ri[j] *= -rd;
        for (int32_t k = i + 1; k < n; ++k) {
            double* rk = l + pk_lower(k, 0);
            const double t = rk[i];
            rk[i] = 0.0;
            for (int32_t j = 0; j <= i; ++j) rk[j] += t * ri[j];
        }
    }
    for (int32_t i = 0; i < n; ++i) {
        double* ri = l + pk_lower(i, 0);
        for (int32_t j = 0; j < i; ++j) {
            const double t = ri[j];
            double* rj = l + pk_lower(j, 0);
            for (int32_t k = 0; k <= j; ++k) rj[k] += t * ri[k];
        }
        const double d = ri[i];
        for (int32_t k = 0; k <= i; ++k) ri[k] *= d;
    }
    return 0;
}

int32_t coscsol(int32_t n, int32_t m, const double* l, double* b) {
    // Signed test on purpose: coscdec leaves 0.0 or a positive root.
    const auto negligible = [](double d) { return d <= kMinPos; };
    return each_rhs(n, m, b, [=](double* x) {
        const int32_t count = forward_pass(n, l, x, negligible);
        backward_pass(n, l, x, negligible);
        return count;
    });
}

int32_t cosfsub(int32_t n, int32_t m, double tol, const double* l, double* b) {
    return each_rhs(n, m, b, [=](double* x) {
        return forward_pass(n, l, x, [tol](double d) { return std::fabs(d) < tol; });
    });
}

int32_t cosbsub(int32_t n, int32_t m, double tol, const double* l, double* b) {
    return each_rhs(n, m, b, [=](double* x) {
        return backward_pass(n, l, x, [tol](double d) { return std::fabs(d) < tol; });
    });
}

double cosinnc(int32_t n, const double* x, const double* y) {
    double diag = 0.0;
    double off = 0.0;
    int64_t idx = 0;
    for (int32_t i = 0; i < n; ++i) {
        for (int32_t j = 0; j < i; ++j, ++idx) off += x[idx] * y[idx];
        diag += x[idx] * y[idx];
        ++idx;
    }
    return diag + 2.0 * off;
}

double cosinn2(int32_t n, const double* x, const double* y) {
    double s = 0.0;
    int64_t idx = 0;
    for (int32_t i = 0; i < n; ++i) {
        for (int32_t j = 0; j < i; ++j, ++idx)
            s += x[idx] * (y[static_cast<int64_t>(i) * n + j] + y[static_cast<int64_t>(j) * n + i]);
        s += x[idx] * y[static_cast<int64_t>(i) * n + i];
        ++idx;
    }
    return s;
}

void givcon1(double* a, double* b, double* c, double* s) {
    const double av = *a;
    const double bv = *b;
    if (std::fabs(av) > std::fabs(bv)) {
        const double t = bv / av;
        const double u = std::sqrt(t * t + 1.0);
        *c = sign_of(av) / u;
        *s = *c * t;
        *a = std::fabs(av) * u;
    } else if (bv == 0.0) {
        *c = 1.0;
        *s = 0.0;
        *a = 0.0;
    } else {
        const double t = av / bv;
        const double u = std::sqrt(t * t + 1.0);
        *s = sign_of(bv) / u;
        *c = *s * t;
        *a = std::fabs(bv) * u;
    }
    *b = 0.0;
}

void coscupd(int32_t p, int32_t nz, int32_t ldz, double* r, const double* x, double* z,
             const double* y, double* rho, double* c, double* s) {
    // R(i, j), i <= j, lives at pk_lower(j, i).
    for (int32_t j = 0; j < p; ++j) {
        double xj = x[j];
        double* col = r + pk_lower(j, 0);
        for (int32_t i = 0; i < j; ++i) {
            const double t = c[i] * col[i] + s[i] * xj;
            xj = c[i] * xj - s[i] * col[i];
            col[i] = t;
        }
        givcon1(&col[j], &xj, &c[j], &s[j]);
    }
    for (int32_t j = 0; j < nz; ++j) {
        double zeta = y[j];
        for (int32_t i = 0; i < p; ++i) {
            double& zij = z[static_cast<int64_t>(i) * ldz + j];
            const double t = c[i] * zij + s[i] * zeta;
            zeta = c[i] * zeta - s[i] * zij;
            zij = t;
        }
        if (rho != nullptr) {
            const double az = std::fabs(zeta);
            if (az != 0.0 && !(rho[j] < 0.0)) {
                const double scale = az + rho[j];
                const double u = az / scale;
                const double v = rho[j] / scale;
                rho[j] = scale * std::sqrt(u * u + v * v);
            }
        }
    }
}

int32_t coscdod(int32_t p, int32_t nz, int32_t ldz, double* r, const double* x, double* z,
                const double* y, double* rho, double* c, double* s) {
    //   solve R' s = x; |s| > 1 (or a zero diagonal): impossible
    //   build the rotations from the last component up
    //   apply them to the columns of R, then to Z and rho
    for (int32_t j = 0; j < p; ++j) {
        const double* col = r + pk_lower(j, 0);
        // A zero diagonal would make s infinite or undefined, and the
        // downdate of a singular factor has no meaning.
        if (col[j] == 0.0) return -1;
        s[j] = (x[j] - zinner(col, s, j)) / col[j];
    }
    const double norm = zvenorm(p, 1, s);
    if (norm > 1.0) return -1;
    double alpha = std::sqrt(1.0 - norm * norm);
    for (int32_t i = p - 1; i >= 0; --i) {
        const double scale = alpha + std::fabs(s[i]);
        const double a = alpha / scale;
        const double b = s[i] / scale;
        const double rr = std::sqrt(a * a + b * b);
        c[i] = a / rr;
        s[i] = b / rr;
        alpha = scale * rr;
    }
    for (int32_t j = 0; j < p; ++j) {
        double* col = r + pk_lower(j, 0);
        double xx = 0.0;
        for (int32_t i = j; i >= 0; --i) {
            const double t = c[i] * xx + s[i] * col[i];
            col[i] = c[i] * col[i] - s[i] * xx;
            xx = t;
        }
    }
    int32_t result = 0;
    for (int32_t j = 0; j < nz; ++j) {
        double zeta = y[j];
        for (int32_t i = 0; i < p; ++i) {
            double& zij = z[static_cast<int64_t>(i) * ldz + j];
            zij = (zij - s[i] * zeta) / c[i];
            zeta = c[i] * zeta - s[i] * zij;
        }
        if (rho != nullptr) {
            const double az = std::fabs(zeta);
            if (az > rho[j]) {
                rho[j] = 0.0;
                result = 1;
            } else if (rho[j] != 0.0) {
                const double q = az / rho[j];
                rho[j] = rho[j] * std::sqrt(1.0 - q * q);
            }
        }
    }
    return result;
}
