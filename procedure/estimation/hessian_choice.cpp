// The second-derivative matrix the Newton-type techniques iterate with.
// It is the cross product J'WJ (the expected information: Fisher scoring,
// Lee and Jennrich 1979), positive semidefinite by construction where the
// exact Hessian of F may be indefinite.  Scoring converges only linearly,
// at a rate set by the misfit of the model (the neglected part of the
// Hessian is a sum of residuals times second derivatives of the model):
// on a model that fits closely a few steps reach the minimum, on one that
// does not each step gains a fraction of a digit, and the run stops at the
// GCONV test short of the minimum.  So once the Newton decrement is small
// and the last scoring step reduced it too little, the run turns to the
// exact Hessian, from forward differences of the analytic gradient (n
// gradients), and its last steps converge quadratically (Dennis and
// Schnabel, Numerical Methods for Unconstrained Optimization, sec. 5.2 and
// 10.2).  An exact Hessian that is not positive definite on the free
// parameters is not taken; J'WJ serves that iteration.
//
//   cross product J'WJ at x (and the gradient)
//   first call of a run: scoring
//   Newton-type technique, relative decrement m at most kExactHessianSwitch
//   and above kSlowScoring times the previous one, J'WJ positive definite
//   on the free parameters (on the null space of the active rows): exact
//   from now on, unless two exact steps too leave more than kSlowScoring
//   of the decrement each: scoring to the end
//   scoring again after slow exact steps: the exact Hessian once more (at
//   most kExactRetries times) when the decrement has fallen by kRetryShare
//   and scoring is slow there (nearer the minimum, on a flat model, the
//   exact steps converge where they did not)
//   exact: at a later point of the same exact steps, J'WJ there plus the
//          second-order part of the last exact Hessian (exact less J'WJ
//          at its point) when that matrix measures a Newton decrement well
//          within the GCONV bound: the run stops here, and n gradients
//          would only have measured the point once more
//          else the Hessian at x by differences, its second-order part
//          kept; the evaluation state back at x; not positive definite on
//          the free parameters: J'WJ
#include <algorithm>
#include <cmath>
#include <vector>

#include "numerics/cholesky.h"
#include "host/interrupt.h"
#include "optimizer/optimizer.h"
#include "procedure/estimation/estimation.h"
#include "procedure/evaluation/cross_product.h"
#include "procedure/evaluation/model_view.h"
#include "velix/codes.h"
#include "velix/nlp.h"
#include "velix/packed_index.h"
#include "velix/proc_context.h"

namespace {

// The relative Newton decrement g'H^-1 g / max(|f|, FSIZE) at or below
// which the exact Hessian may take over: a hundred thousand times the
// default GCONV, close enough to the minimum that the exact Hessian is
// positive definite there on the reference models, and early enough that
// two or three quadratic steps finish the run.
constexpr double kExactHessianSwitch = 1e-3;
// Scoring is slow when a step leaves more than this share of the
// decrement: the n gradients of one exact Hessian then cost less than the
// scoring steps they save (measured: the reference models that do not fit
// closely keep 0.1 to 0.5 per step near the minimum, the 120-variable
// model 0.002).  A share of 0.05 also turned a four-factor ML solution of
// 24 variables (TYPE=CORR) to exact steps that crept along a flat valley
// and stopped on ABSGCONV farther from the minimum than scoring does.
constexpr double kSlowScoring = 0.1;
// Relative pivot below which a matrix is not taken as positive definite.
constexpr double kPivotTolerance = 1e-12;
// After exact steps gave way to scoring, they are tried again (at most
// kExactRetries times) once scoring has brought the decrement down by this
// factor.
constexpr double kRetryShare = 1e-2;
constexpr int32_t kExactRetries = 2;
// Share of the GCONV bound under which the decrement measured with J'WJ
// plus the kept second-order part decides that the run stops at the
// point.  That matrix differs from the exact Hessian by the change of the
// second-order part over the last step, which near the minimum is about
// the relative size of the step (1e-3 on the reference models), so a
// decrement a tenth of the bound leaves GCONV met with the exact Hessian
// too; a decrement nearer the bound is measured with the exact Hessian.
constexpr double kKeptPartShare = 0.1;

bool newton_type(int32_t technique) {
    return technique == kTechTrureg || technique == kTechNewrap || technique == kTechNrridg ||
           technique == kTechNrlins || technique == kTechLevmar;
}

// The measure of the technique's last termination test, relative as the
// GCONV criterion takes it.
double relative_decrement(const NlpProblem* nlp) {
    const double measure = nlp->opt.technique == kTechLevmar ? nlp->iter.lmGconvMeasure : nlp->iter.gconvMeasure;
    const double scale = std::max(std::fabs(nlp->iter.f), nlp->opt.fSize);
    return scale > 0.0 ? std::fabs(measure) / scale : HUGE_VAL;
}

// The packed matrix a of order n is factored in place (zchol) with every
// pivot above kPivotTolerance times its largest diagonal.
bool factors_with_margin(int32_t n, double* a) {
    double big = 0.0;
    for (int32_t i = 0; i < n; ++i) big = std::max(big, std::fabs(a[velix::pk_lower(i, i)]));
    for (int32_t i = 0; i < n; ++i)
        if (!(zchol(i, a, 0.0) > kPivotTolerance * big)) return false;
    return true;
}

// Z'HZ over the null space of the active linear rows admits a Cholesky
// factor with pivots above kPivotTolerance times its largest diagonal:
// along the rows the Hessian need not be positive definite.
bool positive_definite_on_rows_null_space(NlpProblem* nlp) {
    const int32_t nr = nlp_reduced_order(nlp);
    std::vector<double> a(static_cast<size_t>(std::max(nr, 0)) * (nr + 1) / 2);
    if (nr > 0) znlpred(nlp, 0, nlp->hess.hessian, a.data());
    return factors_with_margin(std::max(nr, 0), a.data());
}

// The free parameters' submatrix of the packed Hessian admits a Cholesky
// factor with pivots above kPivotTolerance times its largest diagonal (on
// the null space of the active linear rows when there are any).
bool positive_definite_on_free(NlpProblem* nlp) {
    if (nlp->shape.hasLinCon && nlp->active.nActiveLin > 0 && nlp->active.nullBasis != nullptr && nlp->opt.conFactorForm != 2)
        return positive_definite_on_rows_null_space(nlp);
    std::vector<int32_t> free;
    for (int32_t j = 0; j < nlp->shape.nParams; ++j)
        if (!nlp->shape.hasBounds || nlp->active.boundState == nullptr || nlp->active.boundState[j] == 0) free.push_back(j);
    const int32_t k = static_cast<int32_t>(free.size());
    std::vector<double> a(static_cast<size_t>(k) * (k + 1) / 2);
    for (int32_t i = 0; i < k; ++i)
        for (int32_t j = 0; j <= i; ++j) a[velix::pk_lower(i, j)] = nlp->hess.hessian[velix::pk(free[i], free[j])];
    return factors_with_margin(k, a.data());
}

// The objective and gradient at x again, uncounted, so that the
// evaluation state the run reads next belongs to x and not to the last
// displaced point of the differences.
bool evaluate_at_x(NlpProblem* nlp) {
    const double phase = nlp->run.evalPhase, f = nlp->iter.f;
    nlp->run.evalPhase = kPhaseFdHessianG;
    nlp->run.evalStatus = 0.0;
    bool ok = nlp->cb.objectiveFn(nlp) == 0 && nlp->run.evalStatus == 0.0;
    ok = ok && nlp->cb.gradientFn(nlp) == 0 && nlp->run.evalStatus == 0.0;
    nlp->run.evalPhase = phase;
    nlp->iter.f = f;
    return ok;
}

// The exact Hessian at x into nlp->hess.hessian, J'WJ kept when it cannot be
// had or is not positive definite; the gradient as it was.  The
// second-order part of an exact Hessian taken is kept in `secondOrder`.
// 0, or -1 when the point cannot be evaluated again.
int32_t exact_hessian(NlpProblem* nlp, double* secondOrder) {
    EstimationState& est = proc_context(nlp)->est;
    const std::vector<double> cross(nlp->hess.hessian, nlp->hess.hessian + nlp->shape.packedLen),
        g(nlp->work.gradient, nlp->work.gradient + nlp->shape.nParams);
    const int32_t r = coshess(nlp);
    const bool restored = evaluate_at_x(nlp);
    est.secondOrderKept = r == 0 && restored && positive_definite_on_free(nlp);
    if (est.secondOrderKept)
        for (int64_t i = 0; i < nlp->shape.packedLen; ++i) secondOrder[i] = nlp->hess.hessian[i] - cross[i];
    else
        std::copy(cross.begin(), cross.end(), nlp->hess.hessian);
    std::copy(g.begin(), g.end(), nlp->work.gradient);
    return restored ? 0 : -1;
}

// J'WJ at x (in nlp->hess.hessian) plus the kept second-order part takes
// the exact Hessian's place when it is positive definite and its Newton
// decrement g'H^-1 g is within kKeptPartShare of the GCONV bound at f.
// Only on every parameter (no active bound or row, no nonlinear
// constraint), where the technique's GCONV measure is that decrement.
bool kept_part_converges(NlpProblem* nlp, const double* secondOrder) {
    const int32_t n = nlp->shape.nParams;
    if (nlp->shape.hasNlinCon || nlp->active.nActiveBounds != 0 || nlp->active.nActiveLin != 0) return false;
    std::vector<double> h(nlp->hess.hessian, nlp->hess.hessian + nlp->shape.packedLen);
    for (size_t i = 0; i < h.size(); ++i) h[i] += secondOrder[i];
    std::vector<double> l(h), y(nlp->work.gradient, nlp->work.gradient + n);
    if (!factors_with_margin(n, l.data())) return false;
    zchol2(n, l.data(), y.data());
    double decrement = 0.0;
    for (int32_t i = 0; i < n; ++i) decrement += y[i] * y[i];
    const double bound = nlp->opt.gConv * std::max(std::fabs(nlp->iter.f), nlp->opt.fSize);
    if (!(decrement <= kKeptPartShare * bound)) return false;
    std::copy(h.begin(), h.end(), nlp->hess.hessian);
    return true;
}

}  // namespace

bool estimation_turns_exact(const NlpProblem* nlp, double lastDecrement) {
    if (!newton_type(nlp->opt.technique) || nlp->opt.hessianStorage != 0 || nlp->run.iteration < 1.0) return false;
    const double m = relative_decrement(nlp);
    return m <= kExactHessianSwitch && m > kSlowScoring * lastDecrement;
}

int32_t estimation_hessian(NlpProblem* nlp) {
    stop_if_interrupted();  // a safe point, as each evaluation of the function is
    if (const int32_t r = coscrpj(nlp)) return r;
    EstimationState& est = proc_context(nlp)->est;
    const double m = nlp->run.iteration < 1.0 ? HUGE_VAL : relative_decrement(nlp);
    if (nlp->run.iteration < 1.0) {
        est.exactHessian = 0;
        est.exactRetries = 0;
        est.secondOrderKept = 0;
    } else if (est.exactHessian == 0) {
        // A singular J'WJ (parameters not identified) leaves the exact
        // Hessian's null space to rounding: scoring goes on there.
        if (estimation_turns_exact(nlp, est.lastDecrement) && positive_definite_on_free(nlp)) est.exactHessian = 1;
    } else if (est.exactHessian >= 1 && m > kSlowScoring * est.lastDecrement) {
        // Exact steps that do not converge fast either (a flat, nearly
        // singular valley): scoring for the rest of the run.  The first
        // exact step may fall short by its line search (a step below 1
        // along the first exact direction, as NRLINS's precise search
        // takes it); a second one decides.
        est.exactHessian = est.exactHessian == 1 ? 2 : -1;
        if (est.exactHessian == -1) {
            est.scoringSince = m;
            est.secondOrderKept = 0;
        }
    } else if (est.exactHessian == -1 && est.exactRetries < kExactRetries && m < kRetryShare * est.scoringSince &&
               estimation_turns_exact(nlp, est.lastDecrement) && positive_definite_on_free(nlp)) {
        // Scoring kept on creeping: nearer the minimum the exact Hessian
        // may converge where it did not before.
        est.exactHessian = 1;
        est.exactRetries += 1;
    }
    est.lastDecrement = m;
    if (est.exactHessian < 1) return 0;
    const EvalView view = eval_view(proc_context(nlp));
    double* secondOrder = velix::detail::second_order_store(view);
    if (est.secondOrderKept && kept_part_converges(nlp, secondOrder)) return 0;
    return exact_hessian(nlp, secondOrder);
}
