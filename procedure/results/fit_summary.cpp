// The fit summary table: the factoid "Fit" of labelled statistics, built
// through the output-table toolkit; labels are messages of the procedure's
// group, the confidence limits' labels carry the interval's percent.
#include "procedure/results/fit_summary.h"

#include "host/output_table.h"
#include "velix/codes.h"
#include "velix/types.h"

namespace {

// Display widths and decimals of the entries: statistics 10.4, the
// chi-square degrees of freedom as integers, the null chi-square 6.4 and
// the critical N 8.0.
constexpr int32_t kStatWidth = 10, kStatDecimals = 4;
constexpr int32_t kDfWidth = 5, kDfDecimals = 99;
constexpr int32_t kNullWidth = 6, kNullDecimals = 4;
constexpr int32_t kCountWidth = 8, kCountDecimals = 0;

void stat(FactoidTable* t, int32_t number, double value) {
    t->entry(kyrmsg(kMsgProc, number), value, kStatWidth, kStatDecimals);
}

// A confidence limit: its label carries the interval's percent.
void limit(FactoidTable* t, int32_t number, double alpha, double value) {
    t->entry(kyrmsgs(kMsgProc, number, (1.0 - 2.0 * alpha) * 100.0), value, kStatWidth,
             kStatDecimals);
}

void chisq_block(FactoidTable* t, const FitStatistics* s, const FitInputs* in) {
    stat(t, 530, s->chisq);
    t->entry(kyrmsg(kMsgProc, 531), in->df, kDfWidth, kDfDecimals);
    t->probability_entry(kyrmsg(kMsgProc, 532), s->pChisq);
    t->entry(kyrmsg(kMsgProc, 370), s->chisqNull, kNullWidth, kNullDecimals);
    t->entry(kyrmsg(kMsgProc, 371), in->df0, kDfWidth, kDfDecimals);
    stat(t, 533, s->rmsea);
    limit(t, 534, in->alphaRmsea, s->rmseaLower);
    limit(t, 535, in->alphaRmsea, s->rmseaUpper);
    stat(t, 536, s->ecvi);
    limit(t, 537, in->alphaEcvi, s->ecviLower);
    limit(t, 538, in->alphaEcvi, s->ecviUpper);
    t->probability_entry(kyrmsg(kMsgProc, 374), s->pClose);
    stat(t, 375, s->cfi);
    if (!host_is_missing(s->adjChisq)) {
        stat(t, 372, s->adjChisq);
        t->probability_entry(kyrmsg(kMsgProc, 373), s->pAdjChisq);
    }
    if (!host_is_missing(s->rlsChisq)) stat(t, 377, s->rlsChisq);
    const struct {
        int32_t number;
        double value;
    } indices[] = {{378, s->aic},  {379, s->caic}, {380, s->sbc},  {522, s->centrality},
                   {523, s->nnfi}, {524, s->nfi},  {525, s->pnfi}, {526, s->zWilsonHilferty},
                   {527, s->rho1}, {528, s->delta2}};
    for (const auto& e : indices) stat(t, e.number, e.value);
    t->entry(kyrmsg(kMsgProc, 529), s->hoelter, kCountWidth, kCountDecimals);
}

}  // namespace

void store_fit_statistics(ResultsState* results, const FitInputs* in, FitNotes* notes) {
    compute_fit_statistics(in, &results->fitStats, notes);
    results->fitStatsValid = 1;
}

int32_t print_fit_factoid(HostObject* manager, const FitStatistics* s, const FitInputs* in,
                          const FitNotes* notes) {
    FactoidTable t(manager, "Fit", "Tesk.Velix.Fit", kyrmsg(kMsgProc, 751));
    stat(&t, 365, s->fit);
    stat(&t, 366, s->gfi);
    stat(&t, 367, s->agfi);
    stat(&t, 368, s->rmr);
    if (!host_is_missing(s->pgfi)) stat(&t, 369, s->pgfi);
    if (notes->chisqFamily) chisq_block(&t, s, in);
    return t.end() ? 0 : -1;
}
