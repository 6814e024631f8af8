// The WLS weight of a model with means, formed about the sample means.
//
// A model with means is fitted to the moments about zero of u = (x, 1),
// and WLS weighs them by the inverse of Gamma_0, the covariance of the
// products u_a u_b.  With x = m + z (m the sample means) every such product
// is a fixed combination of the products t of v = (z, 1):
//   u_i u_j = z_i z_j + m_j z_i + m_i z_j + m_i m_j,   u_i 1 = z_i + m_i,
// so that Gamma_0 = B Gamma_t B' with B the unit upper triangular map
// above (the constant's column dropped: t's own constant does not vary).
// Gamma_0 formed from the fourth moments about zero is a difference of
// numbers of the size of m^4 whose result is of the size of m^2 var, and
// its Cholesky factor has a condition of the size of m^4 / var^2: once the
// means are some hundreds of standard deviations from zero the weight has
// lost its digits, and the fit moves with the origin of the data, which
// in exact arithmetic it does not.  Formed about the means Gamma_t is well
// conditioned; the factor of Gamma_0 is B L_t (L_t the Cholesky factor of
// Gamma_t) turned lower triangular by Householder reflections from the
// right (an LQ decomposition, Golub and Van Loan, Matrix Computations,
// sec. 5.2), which keeps L L' = B Gamma_t B' to the rounding of B L_t.
//
//   wls_weights_about_means: the case of this BY group
//   gamma_about_zero:        Gamma_0 = B Gamma_t B' (packed)
//   factor_about_zero:       L from L_t, L L' = B L_t L_t' B'
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "procedure/data/data.h"
#include "procedure/data/data_view.h"
#include "velix/codes.h"
#include "velix/packed_index.h"

namespace {

using velix::pk;

// The entries of row a of B: the moment itself, and for a product of two
// variables (i, j) other than the constant k the means terms at (i, k) and
// (j, k).  At most three; returns their number.
int32_t b_row(const double* means, int32_t i, int32_t j, int32_t k, int64_t* at, double* value) {
    at[0] = pk(i, j);
    value[0] = 1.0;
    if (i == k || j == k) return 1;
    if (i == j) {
        at[1] = pk(i, k);
        value[1] = 2.0 * means[i];
        return 2;
    }
    at[1] = pk(i, k);
    value[1] = means[j];
    at[2] = pk(j, k);
    value[2] = means[i];
    return 3;
}

// The pairs (i, j), j <= i, of each moment in packed order.
struct MomentPairs {
    std::vector<int32_t> first, second;
    explicit MomentPairs(int32_t n) {
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j <= i; ++j) {
                first.push_back(i);
                second.push_back(j);
            }
    }
};

// Householder reflections from the right on the rows of the dense
// row-major f (p x p): f Q = L, lower triangular with a positive diagonal,
// so that L L' = f f'.  Row l's reflection maps its entries from column l
// on to its diagonal, and is applied to the rows below it.
void lower_by_reflections(int32_t p, double* f) {
    std::vector<double> v(static_cast<size_t>(p));
    for (int32_t l = 0; l < p; ++l) {
        double* row = f + int64_t{l} * p;
        const int32_t m = p - l;
        double scale = 0.0;
        for (int32_t c = l + 1; c < p; ++c) scale = std::max(scale, std::fabs(row[c]));
        if (scale > 0.0) {
            scale = std::max(scale, std::fabs(row[l]));
            double norm = 0.0;
            for (int32_t e = 0; e < m; ++e) {
                v[e] = row[l + e] / scale;
                norm += v[e] * v[e];
            }
            norm = std::sqrt(norm);
            const double beta = v[0] >= 0.0 ? -norm : norm;
            v[0] -= beta;
            const double tau = -1.0 / (beta * v[0]);  // 2 / v'v
            for (int32_t r = l; r < p; ++r) {
                double* x = f + int64_t{r} * p + l;
                double s = 0.0;
                for (int32_t e = 0; e < m; ++e) s += x[e] * v[e];
                s *= tau;
                for (int32_t e = 0; e < m; ++e) x[e] -= s * v[e];
            }
            row[l] = beta * scale;
            for (int32_t c = l + 1; c < p; ++c) row[c] = 0.0;
        }
        // A column of Q may change its sign: the diagonal is kept positive.
        if (row[l] < 0.0)
            for (int32_t r = l; r < p; ++r) f[int64_t{r} * p + l] = -f[int64_t{r} * p + l];
    }
}

}  // namespace

namespace velix::detail {

bool wls_weights_about_means(const DataView& dv) {
    const int32_t method = dv.methods->methodRequested;
    if (method != kMethodWls && method != kMethodUlsWls) return false;
    const int32_t n = dv.sizes->nManifest;
    // The constant last among the manifest variables, raw data weighed
    // by their own fourth moments, covariances analysed (the correlation
    // form and its penalty weigh other moments), no partial variables
    // (whose residuals have other means).
    return dv.options->interceptVar && dv.moments->momentOrigin == -n && !dv.input->inwgtUsed &&
           dv.options->covAnalysis && dv.options->asycovKind != 3 && dv.moments->nPartial == 0 && n > 1;
}

void gamma_about_zero(const double* means, int32_t n, int32_t k, const double* centred, double* gamma) {
    const int32_t p = n * (n + 1) / 2;
    const MomentPairs pairs(n);
    int64_t atA[3], atB[3];
    double valueA[3], valueB[3];
    for (int32_t a = 0; a < p; ++a) {
        const int32_t na = b_row(means, pairs.first[a], pairs.second[a], k, atA, valueA);
        for (int32_t b = 0; b <= a; ++b) {
            const int32_t nb = b_row(means, pairs.first[b], pairs.second[b], k, atB, valueB);
            double s = 0.0;
            for (int32_t c = 0; c < na; ++c)
                for (int32_t d = 0; d < nb; ++d) s += valueA[c] * valueB[d] * centred[pk(atA[c], atB[d])];
            gamma[pk(a, b)] = s;
        }
    }
}

void factor_about_zero(const double* means, int32_t n, int32_t k, const double* centredFactor, double* factor) {
    const int32_t p = n * (n + 1) / 2;
    const MomentPairs pairs(n);
    // f = B L_t, dense by rows: the rows of the products of two variables
    // gain the rows of the means, which come after every such product, so
    // that f is not triangular.
    std::vector<double> f(static_cast<size_t>(p) * static_cast<size_t>(p), 0.0);
    int64_t at[3];
    double value[3];
    for (int32_t a = 0; a < p; ++a) {
        double* row = f.data() + int64_t{a} * p;
        const int32_t count = b_row(means, pairs.first[a], pairs.second[a], k, at, value);
        for (int32_t c = 0; c < count; ++c)
            for (int64_t j = 0; j <= at[c]; ++j) row[j] += value[c] * centredFactor[pk(at[c], j)];
    }
    lower_by_reflections(p, f.data());
    for (int32_t a = 0; a < p; ++a)
        std::memcpy(factor + pk(a, 0), f.data() + int64_t{a} * p, sizeof(double) * static_cast<size_t>(a + 1));
}

}  // namespace velix::detail
