// The Newton step and the line-search Newton iteration (see newton.h):
// Dennis and Schnabel, Numerical Methods for Unconstrained Optimization,
// 1983, sec. 6.1-6.3 (the line search) and 5.5 (the ridge, or Levenberg
// shift, of an indefinite Hessian); Schnabel and Eskow, 1990 (the modified
// Cholesky factorization).
#include "optimizer/techniques/newton.h"

#include <cfloat>
#include <cmath>

#include "numerics/cholesky.h"
#include "numerics/eigen.h"
#include "numerics/kernel_support.h"
#include "optimizer/core/pending.h"
#include "optimizer/techniques/scaling.h"
#include "optimizer/techniques/techniques.h"
#include "velix/packed_index.h"

namespace velix::detail {

namespace {

// The ridge tries: each multiplies the ridge by four, from a start of
// 1e-8 of the largest diagonal, so the last is far beyond any Gerschgorin
// bound of a finite matrix.
constexpr int32_t kRidgeTries = 80;

// The computed eigenvalues of a symmetric matrix of order k are exact to
// about k eps times the largest (Wilkinson); this many times that is
// taken as zero.
constexpr double kEigenNoise = 10.0;

bool uses_store(const NlpProblem* p) {
    return p->cb.residualJacobianFn != nullptr && p->opt.jacobianFile != nullptr && p->work.funValues != nullptr &&
           p->shape.nFunctions > 0;
}

// The cross product J'J (packed, all parameters) into out from the store,
// after the Jacobian slot delivered the columns at x; col m doubles.
bool store_cross_product(Frame* fr, double* col, double* out) {
    NlpProblem* p = fr->p;
    p->run.evalPhase = fr->phase;
    p->run.evalStatus = 0.0;
    fr->evaluated = kLastGradient;  // the residuals' Jacobian: a derivative
    if (p->cb.residualJacobianFn(p) != 0 || p->run.evalStatus != 0.0) return false;
    for (int32_t j = 0; j < fr->n; ++j) {
        read_column(p, j, col);
        if (znlpjdt(p, j, p->work.funValues, col, out + pk_lower(j, 0)) != 0) return false;
    }
    return true;
}

}  // namespace

int64_t NewtonStep::doubles(int32_t n, NewtonFactor kind) {
    const int64_t nn = n;
    return nn * (nn + 1) + nn + 4 * nn + (kind == NewtonFactor::kMinimumNorm ? nn * nn + 10 * nn : 0);
}

void NewtonStep::take(Frame* fr) {
    const int32_t n = fr->n;
    l = fr->take(static_cast<int64_t>(n) * (n + 1) / 2);
    perm = reinterpret_cast<int32_t*>(fr->take(n / 2 + 1));
    gF = fr->take(n);
    dF = fr->take(n);
    work = fr->take(2 * static_cast<int64_t>(n));
    if (kind != NewtonFactor::kMinimumNorm) return;
    vectors = fr->take(static_cast<int64_t>(n) * n);
    values = fr->take(n);
    eigenWork = fr->take(9 * static_cast<int64_t>(n));
}

bool NewtonStep::truncated_eigen(int32_t k, const double* h, double tol) {
    for (int64_t i = 0; i < static_cast<int64_t>(k) * (k + 1) / 2; ++i) l[i] = h[i];
    const int32_t rc = zeigen2(k, l, values, k, vectors, eigenWork);
    if (rc == kZeigen2DependentCluster || rc == kZeigen2BisectionShort || rc == kZeigen2InvalidCall) return false;
    // The eigenvalues are squared singular values of J: a singular value
    // below tol times the largest counts as zero, and so does an eigenvalue
    // within the rounding error of the decomposition.
    cut = std::fmax(tol * tol, kEigenNoise * k * (2.0 * velix::kMachEps)) * values[0];
    kept = 0;
    while (kept < k && values[kept] > cut) ++kept;
    return kept > 0;
}

double ridge_factor(int32_t k, const double* h, double tol, double mu, double* l) {
    double big = 0.0;
    for (int32_t i = 0; i < k; ++i) big = std::fmax(big, std::fabs(h[pk_lower(i, i)]));
    const double start = 1e-8 * (big > 0.0 ? big : 1.0);
    for (int32_t t = 0; t < kRidgeTries; ++t) {
        if (cholesky(k, h, mu, tol, l)) return mu;
        mu = mu < start ? start : 4.0 * mu;
    }
    // No finite ridge helped (the matrix is not finite): steepest descent.
    set_identity(k, 1.0, l);
    return DBL_MAX;
}

void NewtonStep::factor(Frame* fr, double* h) {
    NlpProblem* p = fr->p;
    const int32_t k = fr->k;
    permuted = false;
    double mu = 0.0;
    spectral = kind == NewtonFactor::kMinimumNorm && k > 0 && truncated_eigen(k, h, p->opt.singularTol);
    if (spectral) {
        p->iter.ridge = 0.0;
        return;
    }
    if (kind == NewtonFactor::kModifiedCholesky) {
        for (int64_t i = 0; i < static_cast<int64_t>(k) * (k + 1) / 2; ++i) l[i] = h[i];
        mu = zmchol(k, perm, 0.0, 0.0, l, nullptr, work);
        permuted = mu == 0.0;
        // A positive definite H of parameters in very different units
        // fails the modified factor's test against its largest diagonal.
        if (permuted || unit_diagonal_cholesky(k, h, 0.0, p->opt.singularTol, l)) {
            p->iter.ridge = 0.0;
            return;
        }
        // An indefinite H: its largest modified-Cholesky shift added to the
        // whole diagonal (Dennis and Schnabel, algorithm A5.5.1).  Shifts on
        // single diagonal positions alone can leave H + E nearly singular,
        // with a step far too long for the line search.
    }
    p->iter.ridge = ridge_factor(k, h, p->opt.singularTol, mu, l);
}

void NewtonStep::solve(const Frame& fr, const double* g, double* out) const {
    if (spectral) {
        // -sum over the kept eigenpairs of v (v'g) / lambda.
        const int32_t k = fr.k;
        for (int32_t i = 0; i < k; ++i) out[i] = 0.0;
        for (int32_t r = 0; r < kept; ++r) {
            const double* v = vectors + static_cast<int64_t>(r) * k;
            const double c = -dot(k, v, g) / values[r];
            for (int32_t i = 0; i < k; ++i) out[i] += c * v[i];
        }
        return;
    }
    copy(fr.k, g, out);
    if (permuted)
        mchol_solve(fr.k, l, perm, out, work);
    else
        chol_solve(fr.k, l, out);
    for (int32_t i = 0; i < fr.k; ++i) out[i] = -out[i];
}

double NewtonStep::measure(const Frame& fr, const double* g, const double* d) const {
    double m = -dot(fr.k, g, d);
    // The gradient along a dropped eigenvector is charged as though its
    // curvature were the cut, so that a point where the cross product is
    // singular does not pass the relative gradient test while the
    // gradient along the dropped direction is still large.
    for (int32_t r = kept; spectral && r < fr.k; ++r) {
        const double c = dot(fr.k, vectors + static_cast<int64_t>(r) * fr.k, g);
        m += c * c / cut;
    }
    return m;
}

int32_t newton_run(NlpProblem* p, NewtonFactor kind, NewtonMatrix matrix) {
    if (refuses_general_constraints(p)) return kNlpNotUsable;
    Frame fr(p);
    const int32_t n = p->shape.nParams;
    const bool store = matrix == NewtonMatrix::kGaussNewton && uses_store(p);
    NewtonStep step{kind};
    const int64_t m = store ? p->shape.nFunctions : 0;
    const int64_t packed = static_cast<int64_t>(n) * (n + 1) / 2;
    if (!fr.reserve(NewtonStep::doubles(n, kind) + packed + (store ? m + packed : 0))) return kNlpNotUsable;
    step.take(&fr);
    double* hF = fr.take(packed);
    double* col = store ? fr.take(m) : nullptr;
    double* cross = store ? fr.take(packed) : nullptr;
    bool fresh = false;  // hF holds the Hessian of the current point
    ParameterScale scale(&fr);
    int32_t rc = fr.start();
    while (rc == 0 || rc == kNlpRestart) {
        if (rc == kNlpRestart) {
            if (!fr.restart()) return fr.failure();
            fresh = false;
        }
        if (store) {
            if (!store_cross_product(&fr, col, cross)) return fr.failure();
            fr.gather_packed(cross, hF);
        } else if (!fresh) {
            if (!fr.hessian()) return fr.failure();
            fr.gather_hessian(hF);
        }
        fresh = false;
        // HESCAL: the factor and the direction in the scaled variables
        // (the matrix of the Jacobian store has no Hessian diagonal behind
        // it and is not scaled).
        if (!store) scale.update();
        scale.matrix(hF);
        step.factor(&fr, hF);
        p->run.iterMark = p->iter.ridge > 0.0 ? 1 : 0;  // the history marks a shifted Hessian
        scale.gather(p->work.gradient, step.gF);
        step.solve(fr, step.gF, step.dF);
        scale.scatter(step.dF, p->work.direction);
        if (fr.hold_outward(p->work.direction)) {
            rc = 0;
            continue;
        }
        const int32_t ls = fr.line_search();
        if (ls < 0) return fr.failure();
        if (ls > 0) return fr.stop(kNlpTechniqueStop7);
        // Actual over predicted reduction of the step taken (the model of
        // the unshifted matrix).
        const double a = p->iter.lastStep;
        sym_mul(fr.k, hF, step.dF, step.work);
        const double pred = -(a * dot(fr.k, step.gF, step.dF) + 0.5 * a * a * dot(fr.k, step.dF, step.work));
        p->iter.rho = pred > 0.0 ? (p->iter.fPrev - p->iter.f) / pred : 0.0;
        // The predicted reduction at the new point with the factor of the
        // last Hessian; from the Hessian slot, the new point's own Hessian
        // measures it (the last one, shifted, makes a large gradient look
        // small after a long step).
        scale.gather(p->work.gradient, step.gF);
        step.solve(fr, step.gF, step.dF);
        const double stale = step.measure(fr, step.gF, step.dF);
        p->iter.gconvMeasure = p->iter.scaledGradMax = stale;
        fresh = !store;
        rc = store ? fr.next() : fresh_measure_test(&fr, stale, hF, step.l, step.dF);
    }
    return rc;
}

}  // namespace velix::detail
