// Forward-difference derivatives of program-defined parameters (Gill,
// Murray and Wright, "Practical Optimization", sec. 8.6: the step
// h (1 + |x|) with h = 10^(-digits/2)).  A run that fails is retried with
// half the step down to a floor relative to |x| (and at least the absolute
// floor), below which the input counts as failed, so that a program that
// fails everywhere ends with a failure instead of halving forever.
#include "procedure/evaluation/finite_differences.h"

#include <algorithm>
#include <cmath>

#include "host/fields.h"
#include "procedure/evaluation/discrepancy_functions.h"
#include "procedure/evaluation/model_view.h"
#include "velix/nlp.h"

namespace {

constexpr double kPhaseProgramOnly = 11.0;              // the objective runs only the program
constexpr double kDefaultStep = 2.107342425544702e-08;  // twice sqrt(machine epsilon)
constexpr double kStepFloor = 1.110223024625157e-15;    // five times machine epsilon
constexpr double kLn10 = 2.302585092994046;

// x of dependent parameter r (its code is -(index + 1)).
double& dependent_x(const EvalView& v, int32_t r) {
    return v.nlp->x[-v.depParmNumbers[r] - 1];
}

// Runs the program at x with input q moved by d; restores the input.
bool run_shifted(const EvalView& v, double* xq, double x0, double d) {
    *xq = x0 + d;
    const bool ok = cosresv(&v, 0) == 0;
    *xq = x0;
    return ok;
}

}  // namespace

int32_t cosfdcj(NlpProblem* nlp) {
    const EvalView v = eval_view(nlp->owner);
    if (!v.hasProgram || !v.fdDepDerivs || v.nParmDep < 1) return 0;
    EvaluationState& st = *v.st;
    const double f = nlp->f, phase = nlp->evalPhase;
    nlp->evalPhase = kPhaseProgramOnly;
    const double h = nlp->fDigits > 0.0 && !wzmis(nlp->fDigits)
                         ? std::exp(-0.5 * kLn10 * nlp->fDigits)
                         : kDefaultStep;
    for (int32_t r = 0; r < v.nParmDep; ++r) st.depBase[r] = dependent_x(v, r);
    std::fill(st.depFdJacobian, st.depFdJacobian + int64_t{v.nParmDep} * v.nDepInputs, 0.0);
    int32_t result = 0;
    for (int32_t j = 0; j < v.nDepInputs && result == 0; ++j) {
        double* xq = nlp->x + v.depInputParms[j] - 1;
        const double x0 = *xq, a = std::fabs(x0);
        const double floor = std::max(kStepFloor * a, kStepFloor);
        double d = (x0 + h * (1.0 + a)) - x0;  // the step actually representable
        d = std::max(d, floor);
        bool ok = run_shifted(v, xq, x0, d);
        while (!ok && d > floor) {
            d = std::max(0.5 * d, floor);
            ok = run_shifted(v, xq, x0, d);
        }
        if (!ok) {
            result = -2;
            break;
        }
        for (int32_t r = 0; r < v.nParmDep; ++r)
            st.depFdJacobian[int64_t{r} * v.nDepInputs + j] =
                (dependent_x(v, r) - st.depBase[r]) / d;
    }
    nlp->f = f;
    nlp->evalPhase = phase;
    for (int32_t r = 0; r < v.nParmDep; ++r) dependent_x(v, r) = st.depBase[r];
    // The element values return to the base point as well.
    for (int32_t e = 0; e < v.nElements; ++e) {
        const int32_t p = std::abs(v.el->parameter[e]);
        if (p > 0) v.el->value[e] = nlp->x[p - 1];
    }
    return result;
}
