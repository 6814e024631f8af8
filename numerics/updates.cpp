// Plane rotations (BLAS DROTG construction), Householder reflections with
// scaling, the circular column shift of a triangular factor with
// retriangularization of LINPACK DCHEX (Dongarra, Bunch, Moler and Stewart,
// "LINPACK Users' Guide", SIAM 1979, ch. 10), and the Householder QR
// factorization of an active constraint set kept up to date as rows enter
// and leave (Gill, Murray and Wright, "Practical Optimization", 1981,
// sec. 5.2.4).
#include "numerics/updates.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "host/internal_error.h"
#include "numerics/kernel_support.h"
#include "velix/host.h"
#include "velix/host_vector.h"

using velix::pk_lower;

namespace {

// Offset of vector k in the Householder store of order n.
int64_t hh_offset(int32_t k, int32_t n) {
    return static_cast<int64_t>(k) * n - static_cast<int64_t>(k) * (k - 1) / 2;
}

// Element (i, j), i <= j, of the packed upper factor.
double& up(double* r, int32_t i, int32_t j) { return r[pk_lower(j, i)]; }

// Rotation of rows i and i+1 of column j.
void rotate_rows(double* r, int32_t i, int32_t j, double c, double s) {
    double& a = up(r, i, j);
    double& b = up(r, i + 1, j);
    const double t = c * a + s * b;
    b = c * b - s * a;
    a = t;
}

void rotate_z(double* z, int32_t ldz, int32_t m, int32_t i, double c, double s) {
    double* zi = z + static_cast<int64_t>(i) * ldz;
    double* zi1 = zi + ldz;
    for (int32_t col = 0; col < m; ++col) {
        const double t = c * zi[col] + s * zi1[col];
        zi1[col] = c * zi1[col] - s * zi[col];
        zi[col] = t;
    }
}

// Exchanges rows p and q of the constraint set with their values and list
// entries.
void exchange_rows(ProjNewtonWork* w, int32_t n, int32_t p, int32_t q) {
    double* rp = w->rows + static_cast<int64_t>(p) * n;
    double* rq = w->rows + static_cast<int64_t>(q) * n;
    std::swap_ranges(rp, rp + n, rq);
    std::swap(w->rowValue[p], w->rowValue[q]);
    std::swap(w->activeList[p], w->activeList[q]);
}

// Copies row pos into scratch, applies reflections 0 .. pos-1 and builds
// reflection pos from it.
void refactor_row(ProjNewtonWork* w, int32_t n, int32_t pos) {
    std::memcpy(w->scratch, w->rows + static_cast<int64_t>(pos) * n, sizeof(double) * n);
    for (int32_t j = 0; j < pos; ++j) zhh2(w->scratch, w->hhStore, j, w->hhBeta[j], 1, n);
    zhh1(w->scratch, w->hhStore, &w->hhBeta[pos], pos, 1, n);
}

}  // namespace

void zgivcon(double* a, double* b, double* c, double* s) {
    const double av = *a;
    const double bv = *b;
    if (bv == 0.0) {
        *c = 1.0;
        *s = 0.0;
        return;
    }
    if (av == 0.0) {
        *a = bv;
        *b = 0.0;
        *c = 0.0;
        *s = 1.0;
        return;
    }
    const double roe = std::fabs(av) > std::fabs(bv) ? av : bv;
    const double scale = std::fabs(av) + std::fabs(bv);
    const double as = av / scale;
    const double bs = bv / scale;
    double r = scale * std::sqrt(as * as + bs * bs);
    if (roe < 0.0) r = -r;
    *c = av / r;
    *s = bv / r;
    *a = r;
    *b = 0.0;
}

void zgivapl(int32_t n, int32_t incx, int32_t incy, double c, double s, double* x, double* y) {
    if (n < 1 || s == 0.0) return;
    if (incx == 1 && incy == 1) {
        if (c == 0.0) {
            for (int32_t i = 0; i < n; ++i) {
                const double t = x[i];
                x[i] = y[i];
                y[i] = -t;
            }
            return;
        }
        for (int32_t i = 0; i < n; ++i) {
            const double t = c * x[i] + s * y[i];
            y[i] = c * y[i] - s * x[i];
            x[i] = t;
        }
        return;
    }
    int64_t ix = incx < 0 ? static_cast<int64_t>(1 - n) * incx : 0;
    int64_t iy = incy < 0 ? static_cast<int64_t>(1 - n) * incy : 0;
    for (int32_t i = 0; i < n; ++i, ix += incx, iy += incy) {
        const double xi = x[ix];
        const double yi = y[iy];
        if (c == 0.0) {
            x[ix] = yi;
            y[iy] = -xi;
        } else {
            x[ix] = c * xi + s * yi;
            y[iy] = c * yi - s * xi;
        }
    }
}

void ztriprm(int32_t job, int32_t n, int32_t m, int32_t ldz, int32_t k, int32_t l, double* r,
             double* z, double* work) {
    if (l <= k) internal_error("ztriprm: the last column of the shift is not after the first");
    double* cs = work;
    double* sn = work + n;
    const int32_t nrot = l - k;
    if (job == 1) {
        //   save column l (reversed into the sine area); shift k .. l-1 right;
        //   put rows 0 .. k-1 of the saved column into column k; fold the
        //   saved rows l .. k into R(k,k) by rotations; apply them to the
        //   columns right of k and to Z
        for (int32_t t = 0; t <= l; ++t) sn[t] = up(r, l - t, l);
        for (int32_t j = l - 1; j >= k; --j) {
            for (int32_t i = 0; i <= j; ++i) up(r, i, j + 1) = up(r, i, j);
            up(r, j + 1, j + 1) = 0.0;
        }
        for (int32_t i = 0; i < k; ++i) up(r, i, k) = sn[l - i];
        double t = sn[0];
        for (int32_t q = 0; q < nrot; ++q) {
            double a = sn[q + 1];
            zgivcon(&a, &t, &cs[q], &sn[q]);
            t = a;
        }
        up(r, k, k) = t;
        for (int32_t j = k + 1; j < n; ++j)
            for (int32_t q = std::max(0, l - j); q < nrot; ++q) rotate_rows(r, l - 1 - q, j, cs[q], sn[q]);
        if (m >= 1)
            for (int32_t q = 0; q < nrot; ++q) rotate_z(z, ldz, m, l - 1 - q, cs[q], sn[q]);
        return;
    }
    //   save column k behind the subdiagonal slots; shift k+1 .. l left,
    //   keeping the displaced diagonals as subdiagonals; put the saved
    //   column into column l; annihilate the subdiagonals column by column
    for (int32_t i = 0; i <= k; ++i) sn[nrot + i] = up(r, i, k);
    for (int32_t j = k; j < l; ++j) {
        for (int32_t i = 0; i <= j; ++i) up(r, i, j) = up(r, i, j + 1);
        sn[j - k] = up(r, j + 1, j + 1);
    }
    for (int32_t i = 0; i <= k; ++i) up(r, i, l) = sn[nrot + i];
    for (int32_t i = k + 1; i <= l; ++i) up(r, i, l) = 0.0;
    for (int32_t j = k; j < n; ++j) {
        const int32_t iu = std::min(j - 1, l - 1);
        for (int32_t i = k; i <= iu; ++i) rotate_rows(r, i, j, cs[i - k], sn[i - k]);
        if (j < l) {
            double t = sn[j - k];
            zgivcon(&up(r, j, j), &t, &cs[j - k], &sn[j - k]);
        }
    }
    if (m >= 1)
        for (int32_t i = k; i < l; ++i) rotate_z(z, ldz, m, i, cs[i - k], sn[i - k]);
}

int32_t zhh1(double* x, double* u, double* beta, int32_t k, int32_t ld, int32_t n) {
    const int32_t len = n - k;
    double* xr = x + static_cast<int64_t>(k) * ld;
    const double m = zvamxj(xr, ld, len);
    if (m == 0.0) {
        *beta = 0.0;
        return 1;
    }
    double* uk = u + hh_offset(k, n);
    std::fill(uk, uk + len, 0.0);
    zvxay1j(len, 1.0 / m, xr, ld, uk);
    double sigma = zvenorm(len, 1, uk);
    if (uk[0] <= 0.0) sigma = -sigma;
    for (int32_t i = 0; i < len; ++i) xr[static_cast<int64_t>(i) * ld] = 0.0;
    uk[0] += sigma;
    *beta = sigma * uk[0];
    xr[0] = -m * sigma;
    return 0;
}

int32_t zhh2(double* x, const double* u, int32_t k, double beta, int32_t ld, int32_t n) {
    if (beta == 0.0) return 1;
    const int32_t len = n - k;
    double* xr = x + static_cast<int64_t>(k) * ld;
    const double* uk = u + hh_offset(k, n);
    const double t = zvdotj1(xr, ld, uk, len) / beta;
    zvxayj1(len, -t, uk, xr, ld);
    return 0;
}

void zconadd(ProjNewtonBlock* block, ProjNewtonWork* work, int32_t k, double* out) {
    const int32_t n = block->n;
    *out = 0.0;
    if (block->boundsOnly != 0) {
        work->scratch[k] = 0.0;
        work->activeList[block->nact] = k;
        block->nact += 1;
        return;
    }
    if (k != block->nact) exchange_rows(work, n, k, block->nact);
    refactor_row(work, n, block->nact);
    block->nact += 1;
}

void zcondrp(ProjNewtonBlock* block, ProjNewtonWork* work, int32_t k, double* out) {
    const int32_t n = block->n;
    *out = 0.0;
    if (block->boundsOnly != 0) {
        if (block->nact == 1) {
            block->nact = 0;
            work->activeList[0] = -1;
            work->scratch[k] = 1.0;
            return;
        }
        int32_t pos = -1;
        for (int32_t i = 0; i < block->nact && pos < 0; ++i)
            if (work->activeList[i] == k) pos = i;
        if (pos < 0) internal_error("zcondrp: the variable to free is not in the active list");
        block->nact -= 1;
        for (int32_t i = pos; i < block->nact; ++i) work->activeList[i] = work->activeList[i + 1];
        work->scratch[k] = 1.0;
        work->activeList[block->nact] = -1;
        return;
    }
    block->nact -= 1;
    if (k != block->nact) exchange_rows(work, n, k, block->nact);
    for (int32_t r = k; r < block->nact; ++r) refactor_row(work, n, r);
}

void zmmovrs(const double* a, double* p, int32_t k, int32_t n, int32_t lda) {
    int64_t dest = 0;
    for (int32_t r = k - 1; r < n; ++r) {
        const int32_t len = r - k + 2;
        std::memmove(p + dest, a + static_cast<int64_t>(r) * lda + (k - 1), sizeof(double) * len);
        dest += len;
    }
}

void zmmovsr(const double* p, double* a, int32_t n) {
    for (int32_t i = n - 1; i >= 0; --i) {
        std::memcpy(a + static_cast<int64_t>(i) * n, p + pk_lower(i, 0), sizeof(double) * (i + 1));
        for (int32_t j = i + 1; j < n; ++j)
            a[static_cast<int64_t>(i) * n + j] = a[static_cast<int64_t>(j) * n + i];
    }
}

void colswap(ProjNewtonWork* work, const int32_t* dims, int32_t i) {
    if (i != dims[1]) exchange_rows(work, dims[0], i, dims[1]);
}
