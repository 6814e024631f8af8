// Host vector kernels: plain loops over double vectors in the manner of the
// level-1 BLAS (Lawson, Hanson, Kincaid and Krogh, "Basic Linear Algebra
// Subprograms for Fortran Usage", ACM TOMS 5, 1979).  The Euclidean norm
// uses the running scale and scaled sum of squares of the reference DNRM2
// (Hammarling's method) so that it is safe against overflow and underflow.
#include "velix/host_vector.h"
#include "velix/packed_index.h"

#include <cmath>

double zinner(const double* x, const double* y, int32_t n) {
    double s = 0.0;
    for (int32_t i = 0; i < n; ++i) s += x[i] * y[i];
    return s;
}

double zvdot11(const double* x, const double* y, int32_t n) { return zinner(x, y, n); }

double zvdotj1(const double* x, int32_t incx, const double* y, int32_t n) {
    double s = 0.0;
    for (int32_t i = 0; i < n; ++i) s += x[static_cast<int64_t>(i) * incx] * y[i];
    return s;
}

double zvdotjj(const double* x, int32_t incx, const double* y, int32_t incy, int32_t n) {
    double s = 0.0;
    for (int32_t i = 0; i < n; ++i)
        s += x[static_cast<int64_t>(i) * incx] * y[static_cast<int64_t>(i) * incy];
    return s;
}

double zvenorm(int32_t n, int32_t stride, const double* x) {
    double scale = 0.0;
    double ssq = 1.0;
    for (int32_t i = 0; i < n; ++i) {
        const double v = x[static_cast<int64_t>(i) * stride];
        if (v == 0.0) continue;
        const double a = std::fabs(v);
        if (scale < a) {
            const double r = scale / a;
            ssq = 1.0 + ssq * r * r;
            scale = a;
        } else {
            const double r = a / scale;
            ssq += r * r;
        }
    }
    return scale * std::sqrt(ssq);
}

double zvasumj(const double* x, int32_t incx, int32_t n) {
    double s = 0.0;
    for (int32_t i = 0; i < n; ++i) s += std::fabs(x[static_cast<int64_t>(i) * incx]);
    return s;
}

double zvamxj(const double* x, int32_t incx, int32_t n) {
    double m = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        const double a = std::fabs(x[static_cast<int64_t>(i) * incx]);
        if (a > m) m = a;
    }
    return m;
}

double zvsum(const double* x, int32_t n) {
    double s = 0.0;
    for (int32_t i = 0; i < n; ++i) s += x[i];
    return s;
}

void zvaxpy(int32_t n, double a, const double* x, const double* y, double* dest) {
    for (int32_t i = 0; i < n; ++i) dest[i] = y[i] + a * x[i];
}

void zvxay11(int32_t n, double a, const double* x, double* y) {
    for (int32_t i = 0; i < n; ++i) y[i] += a * x[i];
}

void zvxay1j(int32_t n, double a, const double* x, int32_t incx, double* y) {
    for (int32_t i = 0; i < n; ++i) y[i] += a * x[static_cast<int64_t>(i) * incx];
}

void zvxayj1(int32_t n, double a, const double* x, double* y, int32_t incy) {
    for (int32_t i = 0; i < n; ++i) y[static_cast<int64_t>(i) * incy] += a * x[i];
}

void zvrotg(int32_t n, double* x, int32_t incx, double* y, int32_t incy, double c, double s) {
    for (int32_t i = 0; i < n; ++i) {
        double& xi = x[static_cast<int64_t>(i) * incx];
        double& yi = y[static_cast<int64_t>(i) * incy];
        const double t = c * xi + s * yi;
        yi = c * yi - s * xi;
        xi = t;
    }
}

void zvscl11(int32_t n, double a, const double* x, double* y) {
    for (int32_t i = 0; i < n; ++i) y[i] = a * x[i];
}

void zqform(const double* t, int32_t k, const double* l, int32_t m, double* out, double* work,
            int32_t zero) {
    // Row i of L T goes to work; out(i,j) = (L T)(i,:) . L(j,:) for j <= i.
    double* o = out;
    for (int32_t i = 0; i < m; ++i) {
        const double* li = l + static_cast<int64_t>(i) * k;
        for (int32_t c = 0; c < k; ++c) {
            double s = 0.0;
            for (int32_t r = 0; r < k; ++r) {
                s += li[r] * t[velix::pk(r, c)];
            }
            work[c] = s;
        }
        for (int32_t j = 0; j <= i; ++j) *o++ = zinner(work, l + static_cast<int64_t>(j) * k, k);
    }
}
