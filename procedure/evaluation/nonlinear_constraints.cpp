// Nonlinear constraints defined by programming statements: the values of
// their program variables placed in the optimizer's constraint rows, and
// the rows' derivatives from the program's analytic derivatives (chain
// rule of the statement compiler) or by forward differences.
#include "procedure/evaluation/nonlinear_constraints.h"

#include <algorithm>

#include "host/fields.h"
#include "optimizer/optimizer.h"
#include "procedure/evaluation/discrepancy_functions.h"
#include "procedure/evaluation/finite_differences.h"
#include "velix/nlp.h"

namespace {

// The rows a statement of kind k writes: its equality or lower row
// (sign +1) and its upper row (sign -1); accumulate: kinds 5, 6, -5, -6
// add into their rows, the others set them.
struct Rows {
    int32_t lower = -1, upper = -1;
    bool accumulate = false;
};

Rows rows_of(const NlinConTable& t, int32_t i, int32_t nEq) {
    Rows r;
    const int16_t k = t.kind[i];
    r.accumulate = k == 5 || k == 6 || k == -5 || k == -6;
    if (k == 2 || k == 4 || k == 6) r.lower = t.firstRow[i];
    if (k == 1 || k == 3 || k == 5 || k == -2 || k == -4 || k == -6)
        r.lower = nEq + t.firstRow[i] - t.rowBase;
    if (k == -1 || k == -3 || k == -5 || k == -2 || k == -4 || k == -6)
        r.upper = nEq + t.secondRow[i] - t.rowBase;
    return r;
}

}  // namespace

int32_t cosresc(const EvalView* view) {
    NlpProblem* nlp = view->nlp;
    const NlinConTable* t = view->st->nlinCon;
    if (!nlp->hasNlinCon || t == nullptr) return 0;
    std::fill(nlp->conValues, nlp->conValues + nlp->nNlinCon, 0.0);
    for (int32_t i = 0; i < t->count; ++i) {
        const double v = *t->cells[i];
        if (wzmis(v)) return -5;
        const Rows r = rows_of(*t, i, nlp->nNlinEq);
        for (const auto& [row, value] : {std::pair{r.lower, v}, std::pair{r.upper, -v}}) {
            if (row < 0) continue;
            const double d = row == r.lower ? value - nlp->nlcRhs[row] : nlp->nlcRhs[row] + value;
            if (!r.accumulate)
                nlp->conValues[row] = d;
            else if (tstsum(&nlp->conValues[row], d) != 0)
                return -6;
        }
    }
    return 0;
}

int32_t cosjnlc(NlpProblem* nlp) {
    // The ten-thousands digit of FD= asks for the optimizer's differences.
    const int32_t digit = nlp->derivDigits % 100000 / 10000;
    if (digit == 1) return znlpfcj(nlp);
    if (digit != 0) return znlpfcc(nlp);
    const EvalView v = eval_view(nlp->procContext);
    ++nlp->nConJac;
    const int32_t n = nlp->nParams;
    std::fill(nlp->conJacobian, nlp->conJacobian + int64_t{nlp->nNlinCon} * n, 0.0);
    if (v.fdDepDerivs) return cosfdcc(nlp);
    if (cosresv(&v, 1) != 0) return -1;
    const NlinConTable* t = v.st->nlinCon;
    if (t == nullptr) return 0;
    for (int32_t e = 0; e < v.nConDerivs; ++e) {
        const double d = v.conDerivCells[e];
        if (wzmis(d)) return -1;
        if (d == 0.0) continue;
        const int32_t column = v.depInputParms[v.conDerivInput[e]] - 1;
        const Rows r = rows_of(*t, v.conDerivStmt[e], nlp->nNlinEq);
        // A range adds to both of its rows.
        if (r.lower >= 0 && tstsum(&nlp->conJacobian[int64_t{r.lower} * n + column], d) != 0)
            return -1;
        if (r.upper >= 0 && tstsum(&nlp->conJacobian[int64_t{r.upper} * n + column], -d) != 0)
            return -1;
    }
    return 0;
}
