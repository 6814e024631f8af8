// Discrepancy functions of covariance structure analysis (Joreskog,
// "A general approach to confirmatory maximum likelihood factor analysis",
// Psychometrika 34, 1969; Browne, "Asymptotically distribution-free methods
// for the analysis of covariance structures", Br. J. Math. Stat. Psychol.
// 37, 1984): ULS, GLS, ML, WLS and DWLS at the parameter vector of the
// optimizer, with bounded perturbation retries when a model matrix cannot
// be inverted or C is not positive definite.
//
//   cosfunc:  count; loop { run program, copy x into the elements;
//             inverses and C; F by method } ; on an inversion failure
//             perturb x (scales 0.001, 1, 4, 16, 64) and loop again;
//             clamp a slightly negative F to 0
#include "procedure/evaluation/discrepancy_functions.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "host/fields.h"
#include "host/interrupt.h"
#include "host/output_table.h"
#include "numerics/kernel_support.h"
#include "numerics/packed.h"
#include "numerics/row_products.h"
#include "numerics/uniform_random.h"
#include "procedure/evaluation/implied_moments.h"
#include "procedure/evaluation/nonlinear_constraints.h"
#include "procedure/evaluation/row_pointers.h"
#include "velix/codes.h"
#include "velix/host.h"
#include "velix/host_compiler.h"
#include "velix/messages.h"
#include "velix/nlp.h"
#include "velix/packed_index.h"
#include "velix/proc_context.h"
#include "velix/types.h"

using velix::pk;
using velix::pk_lower;

namespace {

constexpr double kNormLimit = velix::kSqrtDblMaxWritten;  // norms beyond overflow F
constexpr double kNegativeF = -1.053671212772351e-07;  // ten times sqrt(machine epsilon)
constexpr double kRetryStep = velix::kSqrtMachEpsWritten;  // sqrt(machine epsilon)
constexpr double kLn10 = 2.302585092994046;
constexpr double kCountedPhase = 7.0;  // phases below count as evaluations
constexpr int32_t kErrorPlaces = 999;  // places of invalid operations a failed run reports
constexpr int32_t kRetryLimit = 4;     // five perturbations: retries 0..4
constexpr int32_t kPerturbSeed = 3;    // every perturbation draws the same stream

// Evaluation phases (integer part of NlpProblem::run.evalPhase).
// Evaluation phases beyond the optimizer's (NlpEvalPhase): the implied
// moments alone, for the results code.  Phase 3 (constraints alone) has no
// perturbation retries.
constexpr int32_t kPhaseImpliedOnly = 20;

constexpr int32_t kMsgNotInvertible = 40, kMsgMlNotPd1 = 42, kMsgMlNotPd2 = 43, kMsgNegativeF = 44,
                  kMsgPerturbed = 46, kMsgNotPerturbed = 47;

enum Outcome : int32_t { kOk = 0, kRetry = 1, kOverflow = 5 };

// The optimizer's trial points: those of its iterations and line searches,
// of the checks after a convergence criterion and of its finite
// differences, any of which it may step back from.  A model that cannot be
// evaluated there is no error of the step, and the notes of the
// perturbations that retry it say nothing about the solution: they are
// left out, as they are during the run.  The start point, the final point
// and the evaluations of the results report them.
bool trial_point(int32_t phase) {
    return phase == kPhaseRun || (phase >= kPhasePostConvergence && phase <= kPhaseFdConJacobian);
}

void note(const EvalView& v, int32_t number, const char* name) {
    if (name)
        xpmlog(kMsgProc, number, name);
    else
        xpmlog(kMsgProc, number);
    if (!v.printEnabled || v.kyrManager == nullptr) return;
    HostText* text = name ? kyrmsgs(kMsgProc, number, name) : kyrmsg(kMsgProc, number);
    const int32_t rc = kyr_note(v.kyrManager, text, 'l');
    if (rc < 0) xprrlog(0, rc);
}

std::string matrix_name(const EvalView& v, int32_t k) {
    const NameRecord& r = v.mt->name[k];
    std::string s(r.text, static_cast<size_t>(std::clamp<int16_t>(r.length, 0, 32)));
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

// M := W X for packed W and X (dense result, row length n), through dense
// copies in the two scratch arrays: M(i, j) is the product of row i of W
// with row j of X (X symmetric), the blocked row product.
void packed_product(const EvalView& v, const double* w, const double* x, double* m) {
    const int32_t n = v.n;
    double* wd = v.st->dense;
    double* xd = v.st->kDense;
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j) {
            wd[int64_t{i} * n + j] = wd[int64_t{j} * n + i] = w[pk_lower(i, j)];
            xd[int64_t{i} * n + j] = xd[int64_t{j} * n + i] = x[pk_lower(i, j)];
        }
    std::fill(m, m + int64_t{n} * n, 0.0);
    const velix::detail::RowPointers rows = velix::detail::row_pointers(n);
    velix::detail::dense_rows<const double>(wd, n, n, rows.a);
    velix::detail::dense_rows<const double>(xd, n, n, rows.b);
    velix::detail::dense_rows(m, n, n, rows.c);
    velix::detail::rows_product(n, n, n, rows.a, rows.b, 1.0, rows.c, false);
}

// tr(M M) of a dense n x n matrix.
double trace_square(int32_t n, const double* m) {
    double t = 0.0;
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j < n; ++j) t += m[int64_t{i} * n + j] * m[int64_t{j} * n + i];
    return t;
}

Outcome evaluate_ml(const EvalView& v, double* f, double* raw) {
    EvaluationState& st = *v.st;
    const int32_t n = v.n;
    // C is factored as D R D with D the root of its diagonal, so that the
    // singularity tolerance applies to the correlation form R: F is
    // invariant to the units of the variables, and so must be the
    // decision that C cannot be inverted.
    double* d = st.kDense;  // n scratch doubles; the products below rebuild it
    for (int32_t i = 0; i < n; ++i) {
        const double c = st.implied[pk_lower(i, i)];
        if (!(c > 0.0) || !std::isfinite(c)) return kRetry;
        d[i] = std::sqrt(c);
    }
    double logDetD = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        logDetD += 2.0 * std::log(d[i]);
        for (int32_t j = 0; j <= i; ++j) st.impliedInv[pk_lower(i, j)] = st.implied[pk_lower(i, j)] / (d[i] * d[j]);
    }
    double det[2];
    if (coschin(n, v.singular, det, st.impliedInv) != 0) return kRetry;
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j) st.impliedInv[pk_lower(i, j)] /= d[i] * d[j];
    st.logDetC = std::log(det[0]) + det[1] * kLn10 + logDetD;
    // M := C^-1 S; trace term and tr((I - C^-1 S)^2).
    packed_product(v, st.impliedInv, v.S, st.product);
    double t = 0.0;
    for (int32_t i = 0; i < n; ++i) t += st.product[int64_t{i} * n + i];
    *raw = n - 2.0 * t + trace_square(n, st.product);
    *f = t + st.logDetC - v.logDetS - n;
    for (int32_t k = 0; k < v.pstar; ++k) st.residual[k] = st.implied[k] - v.S[k];
    return kOk;
}

Outcome evaluate_gls(const EvalView& v, double* f, double* raw) {
    EvaluationState& st = *v.st;
    const int32_t n = v.n;
    for (int32_t k = 0; k < v.pstar; ++k) st.residual[k] = st.implied[k] - v.S[k];
    // M = W (C - S) for INWGT= weights; otherwise W is the inverse of the
    // (possibly ridged) moments and M = W C - I, which measures C against
    // the matrix W inverts.
    packed_product(v, v.weights, v.inWgt ? st.residual : st.implied, st.product);
    if (!v.inWgt)
        for (int32_t i = 0; i < n; ++i) st.product[int64_t{i} * n + i] -= 1.0;
    const double t = trace_square(n, st.product);
    *raw = t;
    *f = 0.5 * t;
    return kOk;
}

Outcome evaluate_method(const EvalView& v, double* f, double* raw) {
    EvaluationState& st = *v.st;
    const int32_t p = v.pstar;
    switch (v.method) {
        case kMethodUls: {
            for (int32_t k = 0; k < p; ++k) st.residual[k] = st.implied[k] - v.S[k];
            const double q = symnorm(v.n, st.residual);
            if (q >= kNormLimit) return kOverflow;
            *raw = q * q;
            *f = 0.5 * q * q;
            return kOk;
        }
        case kMethodGls:
            return evaluate_gls(v, f, raw);
        case kMethodMl:
            return evaluate_ml(v, f, raw);
        case kMethodWls:
        case kMethodDwls: {
            for (int32_t k = 0; k < p; ++k) st.residual[k] = st.implied[k] - v.S[k];
            if (v.method == kMethodWls) {
                if (cosfsub(p, 1, velix::detail::kCheckedFactorBound, v.weights, st.residual) != 0)
                    velix::detail::wls_factor_fault();
            } else {
                for (int32_t k = 0; k < p; ++k) st.residual[k] *= v.weights[k];
            }
            const double q = vecnorm(p, st.residual);
            if (q >= kNormLimit) return kOverflow;
            *raw = *f = q * q;
            return kOk;
        }
        default:
            *f = v.nlp->iter.f;
            *raw = st.discrepancyRaw;
            return kOk;
    }
}

int32_t failure_end(const EvalView& v) {
    v.st->discrepancy = v.st->discrepancyRaw = DBL_MAX;
    v.st->valid = 0;
    v.nlp->iter.f = host_missing_value();
    return -1;
}

// Builds C and F at the current x.  Returns kOk, kOverflow, or kRetry with
// *matrix the matrix that could not be inverted (0: C for ML).
Outcome evaluate_point(const EvalView& v, int32_t phase, int32_t* matrix) {
    EvaluationState& st = *v.st;
    std::fill(st.invDone, st.invDone + v.nMatrices + 1, int16_t{0});
    if (v.invertOnce)
        if ((*matrix = cosimat(&v, 0, 0)) != 0) return kRetry;
    if ((*matrix = cosimpl(&v)) != 0) return kRetry;
    if (phase == kPhaseImpliedOnly) return kOk;
    if (st.diagFromData)
        for (int32_t i = 0; i < v.n; ++i) st.implied[pk_lower(i, i)] = v.S[pk_lower(i, i)];
    double f = 0.0, raw = 0.0;
    const Outcome o = evaluate_method(v, &f, &raw);
    if (o != kOk) return o;
    // Entries of C beyond overflow leave inf - inf in the residuals: such a
    // point has no discrepancy, only an overflow.
    if (!std::isfinite(f)) return kOverflow;
    if (f < 0.0) {
        if (f < kNegativeF) xpmlog(kMsgProc, kMsgNegativeF);
        f = raw = 0.0;
    }
    st.discrepancy = f;
    st.discrepancyRaw = std::max(raw, 0.0);
    v.nlp->iter.f = f;
    return kOk;
}

}  // namespace

int32_t cosfunc(NlpProblem* nlp) {
    // Each evaluation is a safe point for a stop: with a thousand
    // variables one takes a second, and an iteration, the covariance of
    // the estimates and the results take several.
    stop_if_interrupted();
    const EvalView v = eval_view(proc_context(nlp));
    EvaluationState& st = *v.st;
    const int32_t phase = static_cast<int32_t>(nlp->run.evalPhase);
    if (nlp->run.evalPhase < kCountedPhase) {
        ++nlp->run.nFun;
        if (nlp->shape.hasNlinCon) ++nlp->run.nConEval;
    }
    const int32_t conFlag = phase >= kPhaseFdGradient && phase <= kPhaseFdHessianG ? 0 : 1;
    // A retry moves the point by a perturbation that general linear
    // constraints do not follow: while iterating on such a problem the
    // failure goes back to the technique, whose line search shortens the
    // step, rather than leave the feasible set.
    const bool keepsFeasible = nlp->shape.hasLinCon && phase >= kPhaseRun;
    const bool retries = phase >= 0 && phase < kPhaseFdGradient && phase != kPhaseConstraintsOnly && !keepsFeasible;
    const int32_t limit = retries ? kRetryLimit : -1;
    int32_t retry = 0;
    double scale = 0.0;
    st.valid = 0;
    st.pointMoved = 0;
    nlp->run.pointMoved = 0;
    for (;;) {
        if (cosresv(&v, conFlag) != 0) return failure_end(v);
        if (phase == kPhaseLagrangeHessian || phase == kPhaseFdConJacobian) return 0;
        int32_t k = 0;
        const Outcome o = evaluate_point(v, phase, &k);
        if (o == kOverflow) return kOverflow;
        if (o == kOk) {
            // C alone (phase 20) leaves no residual for the derivatives.
            st.valid = phase == kPhaseImpliedOnly ? 0 : 1;
            st.failedMatrix = 0;
            return 0;
        }
        scale = retry == 0 ? 0.001 : retry == 1 ? 1.0 : scale * 4.0;
        if (retry > limit || cosinup(&v, &retry, &limit, k, scale) != 0) {
            st.failedMatrix = k;
            if (!trial_point(phase)) {
                if (k > 0) {
                    note(v, kMsgNotInvertible, matrix_name(v, k).c_str());
                } else {
                    note(v, kMsgMlNotPd1, nullptr);
                    note(v, kMsgMlNotPd2, nullptr);
                }
            }
            if (k == 0) st.logDetC = -DBL_MAX;
            return failure_end(v);
        }
        // The point the caller asked for was moved: its value belongs to
        // the perturbed x, which the caller must take over or refuse.
        st.pointMoved = 1;
        nlp->run.pointMoved = 1;
    }
}

int32_t cosresv(const EvalView* view, int32_t conFlag) {
    const EvalView& v = *view;
    NlpProblem* nlp = v.nlp;
    if (v.hasProgram) {
        const int32_t phase = static_cast<int32_t>(nlp->run.evalPhase);
        nlp->run.evalStatus = 0.0;
        const bool quiet = v.quietPrograms && phase > kPhaseStart;
        cmpexi(1, 0, 0, v.cmpWork);
        int32_t errors = 0, missing = 0;
        const int32_t rc = cmprun(0, 0, 0, 1, 1, v.derivativesRequested, quiet ? 1 : 0,
                                  quiet ? 0 : 1, &errors, &missing, v.cmpWork);
        if (!quiet) {
            if (rc != 0) cmppxrc(rc, v.cmpWork);
            if (errors != 0) {
                xpmlog(kMsgProc, kMsgProgramMissing);
                cmpperr(1, kErrorPlaces, v.cmpWork);
            }
            if (missing != 0) {
                xpmlog(kMsgProc, kMsgProgramMissing);
                cmppmis(v.cmpWork);
            }
        }
        if (rc == kCmpRunFault) {
            xpmlog(kMsgProc, kMsgProgramFault);
            ++v.st->nEvalFail;
            return -12;
        }
        if (rc == kCmpRunAbort) {
            xpmlog(kMsgProc, kMsgProgramAbort);
            xexit(kLevelProgramFailed, 0);
        }
        if (nlp->run.evalStatus != 0.0 || errors != 0 || rc >= kCmpRunFault) {
            ++v.st->nEvalFail;
            return -1;
        }
        for (int32_t p = 0; p < v.nParmAll; ++p)
            if (wzmis(nlp->param.x[p])) {
                ++v.st->nEvalFail;
                return -1;
            }
        if (conFlag && nlp->shape.hasNlinCon && cosresc(view) < 0) {
            ++v.st->nEvalFail;
            return -2;
        }
    }
    for (int32_t e = 0; e < v.nElements; ++e) {
        const int32_t p = std::abs(v.el->parameter[e]);
        if (p > 0) v.el->value[e] = nlp->param.x[p - 1];
    }
    return 0;
}

int32_t cosinup(const EvalView* view, int32_t* retry, const int32_t* limit, int32_t k, double s) {
    const EvalView& v = *view;
    NlpProblem* nlp = v.nlp;
    const ModelMatrixTable& mt = *v.mt;
    const double d = s * kRetryStep;
    int32_t seed = kPerturbSeed;
    bool changed = false;
    auto central = [&](int32_t m) {
        for (int32_t t = 1; t <= v.nTerms; ++t)
            if (velix::detail::term_central(v, t) == m) return true;
        return false;
    };
    const int32_t k0 = k > 0 ? k : 1, k1 = k > 0 ? k : v.nMatrices;
    for (int32_t m = k0; m <= k1; ++m) {
        const bool isCentral = central(m);
        for (int32_t e = mt.firstElement[m]; e < mt.firstElement[m] + mt.elementCount[m]; ++e) {
            const int32_t p = std::abs(v.el->parameter[e]);
            if (p == 0 || p > v.nParmFree) continue;
            double& x = nlp->param.x[p - 1];
            if (isCentral && v.el->row[e] == v.el->column[e])
                x = *retry == *limit ? 2.0 * std::fabs(x) : x + s;
            else
                x += d * (zranuni(&seed) - 0.5);
            changed = true;
        }
    }
    if (!trial_point(static_cast<int32_t>(nlp->run.evalPhase)) && *retry == 0)
        xpmlog(kMsgProc, changed ? kMsgPerturbed : kMsgNotPerturbed);
    ++*retry;
    for (int32_t p = 0; p < v.nParmFree; ++p) {
        if (nlp->param.lower) nlp->param.x[p] = std::max(nlp->param.x[p], nlp->param.lower[p]);
        if (nlp->param.upper) nlp->param.x[p] = std::min(nlp->param.x[p], nlp->param.upper[p]);
    }
    return changed ? 0 : 1;
}

namespace {

// Scaled Euclidean norm: m = max |x|, then m sqrt(sum (x/m)^2 times its
// count), skipping entries too small to change the sum; DBL_MAX when the
// product overflows.  each(visit) calls visit(x, times) for every entry.
template <typename Each>
double guarded_norm(Each&& each) {
    double m = 0.0;
    each([&](double x, double) { m = std::max(m, std::fabs(x)); });
    if (m == 0.0) return 0.0;
    const double r = m > 1.0 ? std::sqrt(m) : m;
    double sum = 0.0;
    each([&](double x, double times) {
        const double q = x / m;
        if (r + std::fabs(x) == r || 1.0 + q == 1.0) return;
        sum += times * q * q;
    });
    const double s = std::sqrt(sum);
    const double a = std::max(m, s), b = std::min(m, s);
    if (a > kNormLimit && b >= DBL_MAX / a) return DBL_MAX;
    return m * s;
}

}  // namespace

double vecnorm(int32_t n, const double* v) {
    return guarded_norm([&](auto visit) {
        for (int32_t i = 0; i < n; ++i) visit(v[i], 1.0);
    });
}

double symnorm(int32_t n, const double* packed) {
    return guarded_norm([&](auto visit) {
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j <= i; ++j) visit(packed[pk_lower(i, j)], i == j ? 1.0 : 2.0);
    });
}

int32_t tstsum(double* acc, double d) {
    if (d == 0.0) return 0;
    const double lim = 0.01 * DBL_MAX;
    if (d > 0.0 && *acc >= 0.0 && (d >= lim || d >= lim - *acc)) {
        *acc = DBL_MAX;
        return 1;
    }
    if (d < 0.0 && *acc <= 0.0 && (-d >= lim || -d >= lim + *acc)) {
        *acc = -DBL_MAX;
        return -1;
    }
    *acc += d;
    return 0;
}
