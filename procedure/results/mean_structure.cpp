// The results of a model with means (see mean_structure.h).
//
//   center_moments:    moments about zero -> covariances, means, 1
//   center_jacobian:   the same map differentiated, row by row
//   moments_about_zero: its linear inverse at given means
//   fit_null_means:    Gauss-Newton on the free means and variances,
//                      in the whitened metric of the method
#include "procedure/results/mean_structure.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "numerics/kernel_support.h"
#include "numerics/packed.h"
#include "procedure/results/fit_indices.h"
#include "procedure/results/printer_support.h"
#include "velix/host.h"
#include "velix/packed_index.h"
#include "velix/types.h"

using velix::pk;

namespace {

// The Gauss-Newton of the independence model stops when a step lowers F by
// no more than this part of F (F is then settled to about 13 digits, and
// Gauss-Newton converges fast on this mildly nonlinear problem), after at
// most kMaxSteps steps, each halved at most kMaxHalvings times.
constexpr double kRelativeDecrease = 1e-13;
constexpr int32_t kMaxSteps = 100;
constexpr int32_t kMaxHalvings = 40;
// 0 asks the Cholesky kernel for its own negligible-pivot threshold
// (1.1e-12) on the normal equations and the GLS weight.
constexpr double kPivotTolerance = 0.0;

std::vector<size_t> data_indices(int32_t n, int32_t k) {
    std::vector<size_t> v;
    for (int32_t i = 0; i < n; ++i)
        if (i != k) v.push_back(static_cast<size_t>(i));
    return v;
}

// The whitened form of moment vectors (count of them, p* each, in place):
// F = |z|^2 for the metric.  GLS: z = the packed L' x L (W = L L') with
// the ULS weights; false when a substitution or the factor fails.
class Whitener {
public:
    Whitener(const MomentMetric& metric, int32_t n) : m_(metric), n_(n), p_(n * (n + 1) / 2) {
        if (m_.method != kMethodGls) return;
        factor_.assign(m_.weight, m_.weight + p_);
        double logdet = 0.0;
        ok_ = coscdec(n_, kPivotTolerance, &logdet, factor_.data()) == 0;
    }
    bool apply(double* v, int32_t count) const {
        if (!ok_) return false;
        switch (m_.method) {
            case kMethodWls: return cosfsub(p_, count, m_.tol, m_.weight, v) == 0;
            case kMethodDwls:
                for (int32_t c = 0; c < count; ++c)
                    for (int32_t e = 0; e < p_; ++e) v[int64_t{c} * p_ + e] *= m_.weight[e];
                return true;
            case kMethodGls:
                for (int32_t c = 0; c < count; ++c) congruence(v + int64_t{c} * p_);
                [[fallthrough]];
            default:
                // 0.5 tr(X^2): half of each square on the diagonal.
                for (int32_t c = 0; c < count; ++c)
                    for (int32_t i = 0; i < n_; ++i) v[int64_t{c} * p_ + pk(i, i)] *= std::sqrt(0.5);
                return true;
        }
    }

private:
    // x := L' x L in place (x packed symmetric, L the packed lower factor).
    void congruence(double* x) const {
        const int32_t n = n_;
        std::vector<double> xl(static_cast<size_t>(n) * static_cast<size_t>(n), 0.0);  // X L, dense
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j < n; ++j) {
                double s = 0.0;
                for (int32_t t = j; t < n; ++t) s += x[pk(i, t)] * factor_[pk(t, j)];
                xl[static_cast<size_t>(i) * n + j] = s;
            }
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j <= i; ++j) {
                double s = 0.0;
                for (int32_t t = i; t < n; ++t) s += factor_[pk(t, i)] * xl[static_cast<size_t>(t) * n + j];
                x[pk(i, j)] = s;
            }
    }

    const MomentMetric& m_;
    int32_t n_, p_;
    std::vector<double> factor_;
    bool ok_ = true;
};

// The moments of the independence model: theta = (d, mu) over the data
// variables, the constant's moment c.
std::vector<double> null_moments(const std::vector<double>& theta, const std::vector<size_t>& data, int32_t n,
                                 int32_t k, double c) {
    const size_t nd = data.size();
    std::vector<double> s(static_cast<size_t>(n) * (n + 1) / 2, 0.0);
    s[pk(k, k)] = c;
    for (size_t a = 0; a < nd; ++a) {
        const int32_t v = static_cast<int32_t>(data[a]);
        const double mv = theta[nd + a];
        s[pk(v, k)] = c * mv;
        for (size_t b = 0; b <= a; ++b) s[pk(v, static_cast<int32_t>(data[b]))] = c * mv * theta[nd + b];
        s[pk(v, v)] += theta[a];
    }
    return s;
}

// |z(M - Sigma0(theta))|^2, or -1 when the whitening fails.
double null_discrepancy(const Whitener& w, const double* m, const std::vector<double>& theta,
                        const std::vector<size_t>& data, int32_t n, int32_t k, double c) {
    std::vector<double> r = null_moments(theta, data, n, k, c);
    for (size_t e = 0; e < r.size(); ++e) r[e] = m[e] - r[e];
    if (!w.apply(r.data(), 1)) return -1.0;
    double f = 0.0;
    for (double x : r) f += x * x;
    return f;
}

// One Gauss-Newton direction: the least-squares solution of
// Z A delta = z(r), A the derivatives of Sigma0 in theta.  False when the
// whitening fails or the normal equations are singular.
bool null_direction(const Whitener& w, const double* m, const std::vector<double>& theta,
                    const std::vector<size_t>& data, int32_t n, int32_t k, double c, std::vector<double>* delta) {
    const size_t nd = data.size(), np = 2 * nd, p = static_cast<size_t>(n) * (n + 1) / 2;
    // Column a < nd: d of data[a]; column nd + a: mu of data[a].  The last
    // column is the residual.
    std::vector<double> cols((np + 1) * p, 0.0);
    for (size_t a = 0; a < nd; ++a) {
        const int32_t v = static_cast<int32_t>(data[a]);
        cols[a * p + pk(v, v)] = 1.0;
        double* mu = &cols[(nd + a) * p];
        mu[pk(v, k)] = c;
        for (size_t b = 0; b < nd; ++b) mu[pk(v, static_cast<int32_t>(data[b]))] = c * theta[nd + b];
        mu[pk(v, v)] = 2.0 * c * theta[nd + a];
    }
    const std::vector<double> s = null_moments(theta, data, n, k, c);
    for (size_t e = 0; e < p; ++e) cols[np * p + e] = m[e] - s[e];
    if (!w.apply(cols.data(), static_cast<int32_t>(np + 1))) return false;
    std::vector<double> normal(np * (np + 1) / 2);
    delta->assign(np, 0.0);
    for (size_t a = 0; a < np; ++a) {
        for (size_t b = 0; b <= a; ++b) {
            double t = 0.0;
            for (size_t e = 0; e < p; ++e) t += cols[a * p + e] * cols[b * p + e];
            normal[a * (a + 1) / 2 + b] = t;
        }
        double t = 0.0;
        for (size_t e = 0; e < p; ++e) t += cols[a * p + e] * cols[np * p + e];
        (*delta)[a] = t;
    }
    double logdet = 0.0;
    if (coscdec(static_cast<int32_t>(np), kPivotTolerance, &logdet, normal.data()) != 0) return false;
    return coscsol(static_cast<int32_t>(np), 1, normal.data(), delta->data()) == 0;
}

}  // namespace

int32_t results_intercept(const ResultsView& rv) {
    return rv.options->interceptVar && rv.sizes->nManifest > 1 ? rv.sizes->nManifest - 1 : -1;
}

bool center_moments(double* a, int32_t n, int32_t k) {
    const double c = a[pk(k, k)];
    if (!(c > 0.0)) return false;
    for (int32_t v = 0; v < n; ++v) {
        if (v == k) continue;
        for (int32_t w = 0; w <= v; ++w)
            if (w != k) a[pk(v, w)] -= a[pk(v, k)] * a[pk(w, k)] / c;
    }
    for (int32_t v = 0; v < n; ++v)
        if (v != k) a[pk(v, k)] /= c;
    a[pk(k, k)] = 1.0;
    return true;
}

bool centered_implied_moments(const double* t, const double* p, size_t n, size_t m, int32_t k, int32_t j,
                              double* out) {
    const size_t jj = static_cast<size_t>(j);
    const double c = p[jj * m + jj];
    if (!(c > 0.0)) return false;
    std::vector<double> pc(m * m), tp(n * m);
    for (size_t a = 0; a < m; ++a)
        for (size_t b = 0; b < m; ++b)
            pc[a * m + b] = a == jj || b == jj ? 0.0 : p[a * m + b] - p[a * m + jj] * p[b * m + jj] / c;
    velix::detail::implied_covariance(t, pc.data(), n, m, tp.data(), out);
    for (size_t v = 0; v < n; ++v) {
        if (v == static_cast<size_t>(k)) continue;
        double moment = 0.0;
        for (size_t a = 0; a < m; ++a) moment += t[v * m + a] * p[a * m + jj];
        out[pk(static_cast<int64_t>(v), k)] = moment / c;
    }
    out[pk(k, k)] = 1.0;
    return true;
}

void center_jacobian(const double* sigma, int32_t n, int32_t k, const double* jac, int32_t q, double* out) {
    const int64_t p = int64_t{n} * (n + 1) / 2;
    const double c = sigma[pk(k, k)];
    for (int32_t r = 0; r < q; ++r) {
        const double* j = jac + r * p;
        double* o = out + r * p;
        const double jkk = j[pk(k, k)];
        for (int32_t v = 0; v < n; ++v)
            for (int32_t w = 0; w <= v; ++w) {
                const int64_t e = pk(v, w);
                if (v == k && w == k) {
                    o[e] = 0.0;
                } else if (v == k || w == k) {
                    const int32_t x = v == k ? w : v;
                    o[e] = j[e] / c - sigma[pk(x, k)] * jkk / (c * c);
                } else {
                    const double avk = sigma[pk(v, k)], awk = sigma[pk(w, k)];
                    o[e] = j[e] - (j[pk(v, k)] * awk + avk * j[pk(w, k)]) / c + avk * awk * jkk / (c * c);
                }
            }
    }
}

void moments_about_zero(const double* v, const double* mean, double c, int32_t n, int32_t k, double* out) {
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j) {
            const int64_t e = pk(i, j);
            if (i == k && j == k)
                out[e] = 0.0;
            else if (i == k || j == k)
                out[e] = c * v[e];
            else
                out[e] = v[e] + c * (mean[i] * v[pk(j, k)] + mean[j] * v[pk(i, k)]);
        }
}

//   theta = (variances, means) of the sample; F
//   repeat: Gauss-Newton direction; halve it until F does not rise;
//           stop when F falls by no more than 1e-13 F
bool fit_null_means(const MomentMetric& metric, const double* m, int32_t n, int32_t k, double* f0, double* thetaOut) {
    const std::vector<size_t> data = data_indices(n, k);
    const size_t nd = data.size();
    const double c = m[pk(k, k)];
    std::vector<double> theta(2 * nd);
    for (size_t a = 0; a < nd; ++a) {
        const int32_t v = static_cast<int32_t>(data[a]);
        theta[nd + a] = m[pk(v, k)] / c;
        theta[a] = m[pk(v, v)] - c * theta[nd + a] * theta[nd + a];
    }
    const Whitener w(metric, n);
    double f = null_discrepancy(w, m, theta, data, n, k, c);
    *f0 = f;
    if (f < 0.0) {
        *f0 = host_missing_value();
        return false;
    }
    // Without a solution the independence model is the sample's means and
    // variances, as the other independence models fall back to diag(S).
    const std::vector<double> start = theta;
    const double fStart = f;
    auto done = [&](bool ok) {
        if (!ok) {
            theta = start;
            *f0 = fStart;
        }
        if (thetaOut != nullptr) std::copy(theta.begin(), theta.end(), thetaOut);
        return ok;
    };
    std::vector<double> delta, trial(theta.size());
    for (int32_t step = 0; step < kMaxSteps; ++step) {
        if (!null_direction(w, m, theta, data, n, k, c, &delta)) return done(false);
        double t = 1.0, ft = -1.0;
        for (int32_t h = 0; h <= kMaxHalvings; ++h, t *= 0.5) {
            for (size_t a = 0; a < theta.size(); ++a) trial[a] = theta[a] + t * delta[a];
            ft = null_discrepancy(w, m, trial, data, n, k, c);
            if (ft >= 0.0 && ft <= f) break;
        }
        if (!(ft >= 0.0 && ft <= f)) break;
        const double fall = f - ft;
        theta = trial;
        f = ft;
        *f0 = f;
        if (fall <= kRelativeDecrease * f) break;
    }
    return done(true);
}

double fit_null_ml_means(const double* m, int32_t n, int32_t k, double logDetM) {
    const double c = m[pk(k, k)];
    if (host_is_missing(logDetM) || !(c > 0.0)) return host_missing_value();
    std::vector<double> diag;
    for (int32_t v = 0; v < n; ++v)
        if (v != k) diag.push_back(m[pk(v, v)] - m[pk(v, k)] * m[pk(v, k)] / c);
    return fit_null_ml(diag.data(), static_cast<int32_t>(diag.size()), logDetM - std::log(c));
}
