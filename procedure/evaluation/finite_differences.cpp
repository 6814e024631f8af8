// Forward-difference derivatives of program-defined quantities (Gill,
// Murray and Wright, "Practical Optimization", sec. 8.6: the step
// h (1 + |x|) with h = 10^(-digits/2)): the dependent parameters (cosfdcj)
// and the nonlinear-constraint values (cosfdcc).  A run that fails is
// retried with half the step down to a floor relative to |x| (and at least
// the absolute floor), below which the input counts as failed, so that a
// program that fails everywhere ends with a failure instead of halving
// forever.
//
//   save f and the phase; phase 11 (program only); base values
//   for each input: step, run (halving after failures), column
//   restore f, the phase, the base values and the element values
#include "procedure/evaluation/finite_differences.h"

#include <algorithm>
#include <cmath>

#include "host/fields.h"
#include "numerics/kernel_support.h"
#include "procedure/evaluation/discrepancy_functions.h"
#include "procedure/evaluation/model_view.h"
#include "velix/nlp.h"

namespace {

constexpr double kDefaultStep = 2.0 * velix::kSqrtMachEpsWritten;
constexpr double kStepFloor = 10.0 * velix::kMachEpsWritten;  // five times machine epsilon
constexpr double kLn10 = 2.302585092994046;

// Runs the program at x with input *xq moved by d; restores the input.
bool run_shifted(const EvalView& v, int32_t conFlag, double* xq, double x0, double d) {
    *xq = x0 + d;
    const bool ok = cosresv(&v, conFlag) == 0;
    *xq = x0;
    return ok;
}

// The frame of both routines.  out(r) is output r of the program (count
// outputs), base[count] receives them at the base point, store(j, r, value)
// takes the difference quotient of output r for input j.
template <typename Out, typename Store>
int32_t forward_differences(const EvalView& v, double digits, int32_t conFlag, int32_t count,
                            double* base, Out&& out, Store&& store) {
    NlpProblem* nlp = v.nlp;
    const double f = nlp->f, phase = nlp->evalPhase;
    nlp->evalPhase = kPhaseFdConJacobian;  // the objective runs only the program
    const double h =
        digits > 0.0 && !wzmis(digits) ? std::exp(-0.5 * kLn10 * digits) : kDefaultStep;
    for (int32_t r = 0; r < count; ++r) base[r] = out(r);
    int32_t result = 0;
    for (int32_t j = 0; j < v.nDepInputs && result == 0; ++j) {
        double* xq = nlp->x + v.depInputParms[j] - 1;
        const double x0 = *xq, a = std::fabs(x0);
        const double floor = std::max(kStepFloor * a, kStepFloor);
        double d = std::max((x0 + h * (1.0 + a)) - x0, floor);  // the step actually taken
        bool ok = run_shifted(v, conFlag, xq, x0, d);
        while (!ok && d > floor) {
            d = std::max(0.5 * d, floor);
            ok = run_shifted(v, conFlag, xq, x0, d);
        }
        if (!ok) {
            result = -2;
            break;
        }
        for (int32_t r = 0; r < count; ++r) store(j, r, (out(r) - base[r]) / d);
    }
    nlp->f = f;
    nlp->evalPhase = phase;
    return result;
}

// The element values return to the base point with x.
void restore_elements(const EvalView& v) {
    for (int32_t e = 0; e < v.nElements; ++e) {
        const int32_t p = std::abs(v.el->parameter[e]);
        if (p > 0) v.el->value[e] = v.nlp->x[p - 1];
    }
}

}  // namespace

int32_t cosfdcj(NlpProblem* nlp) {
    const EvalView v = eval_view(nlp->procContext);
    if (!v.hasProgram || !v.fdDepDerivs || v.nParmDep < 1) return 0;
    EvaluationState& st = *v.st;
    // x of dependent parameter r (its code is -(index + 1)).
    auto dependent = [&](int32_t r) -> double& { return nlp->x[-v.depParmNumbers[r] - 1]; };
    std::fill(st.depFdJacobian, st.depFdJacobian + int64_t{v.nParmDep} * v.nDepInputs, 0.0);
    const int32_t result = forward_differences(
        v, nlp->fDigits, 0, v.nParmDep, st.depBase, [&](int32_t r) { return dependent(r); },
        [&](int32_t j, int32_t r, double q) {
            st.depFdJacobian[int64_t{r} * v.nDepInputs + j] = q;
        });
    for (int32_t r = 0; r < v.nParmDep; ++r) dependent(r) = st.depBase[r];
    restore_elements(v);
    return result;
}

int32_t cosfdcc(NlpProblem* nlp) {
    const EvalView v = eval_view(nlp->procContext);
    if (!v.hasProgram || !v.fdDepDerivs || !nlp->hasNlinCon) return 0;
    const int32_t m = nlp->nNlinCon, n = nlp->nParams;
    std::fill(nlp->conJacobian, nlp->conJacobian + int64_t{m} * n, 0.0);
    double* base = v.st->conBase;
    const int32_t result = forward_differences(
        v, nlp->cDigits, 1, m, base, [&](int32_t r) { return nlp->conValues[r]; },
        [&](int32_t j, int32_t r, double q) {
            nlp->conJacobian[int64_t{r} * n + v.depInputParms[j] - 1] = q;
        });
    std::copy(base, base + m, nlp->conValues);
    restore_elements(v);
    return result;
}
