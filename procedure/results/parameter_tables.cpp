// Parameter-vector tables: one row per parameter with the value of the
// table's kind (start value, estimate, standard error, t value, gradient)
// and the model-matrix places where the parameter stands, labelled
// "matrix[row:column]"; the dependent parameters' table, and the table of
// the additional parameters of the PARAMETERS statement.  Also the print
// switches of the results.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "host/output_table.h"
#include "procedure/proc_options.h"
#include "procedure/results/printer_support.h"
#include "procedure/results/results.h"
#include "procedure/results/results_view.h"
#include "velix/codes.h"
#include "velix/host.h"

namespace {

constexpr int32_t kMsgMatrixEntry = 386, kMsgNegativeEntry = 387, kMsgAdditional = 388, kMsgDependent = 389;
constexpr int32_t kMsgDependentCount = 396, kMsgNoElement = 397;
constexpr int32_t kMsgDependTitle = 781, kMsgAddTitle = 792;
// The Type column is at least this wide.
constexpr int32_t kTypeMinWidth = 14;

// Table name, title and "titletext" message of each ParameterVectorKind.
struct VectorTable {
    const char* name;
    int32_t title, titleText;
};
constexpr VectorTable kVectorTables[] = {
    {"InitEstimates", 742, 395}, {"Estimates", 786, 394}, {"StdErrs", 785, 393},
    {"tValues", 784, 392},       {"FirstDer", 783, 391},  {"Gradient", 782, 390},
};

std::string trimmed(const char* text, int32_t length) {
    int32_t l = std::clamp<int32_t>(length, 0, 32);
    while (l > 0 && text[l - 1] == ' ') --l;
    return std::string(text, static_cast<size_t>(l));
}

// A message text of at most 60 characters, without trailing blanks.
std::string message_text(int32_t number) {
    char buffer[61] = {};
    xpmstr(buffer, 60, kMsgProc, number);
    std::string s(buffer, strnlen(buffer, 60));
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

// The Type text of parameter p: the matrix places that hold it, or the
// kind of parameter that has none.
std::string type_text(const ResultsView& rv, int32_t p) {
    std::string labels;
    bool negative = false;
    int32_t next = 0, count = 0;
    for (int32_t e0 = 0;;) {
        const int32_t k = xcheck(rv, p, e0, &next);
        if (k == 0) break;
        const int32_t e = next - 1;
        if (count++ == 0) negative = k < 0;
        const NameRecord& name = rv.model->name[std::abs(k)];
        if (count > 1) labels += "  ";
        labels += trimmed(name.text, name.length);
        labels += '[';
        labels += std::to_string(rv.elements->row[e] + 1);
        labels += ':';
        labels += std::to_string(rv.elements->column[e] + 1);
        labels += ']';
        e0 = next;
    }
    if (count == 0) return message_text(p < rv.sizes->nParmFree ? kMsgAdditional : kMsgDependent);
    return message_text(negative ? kMsgNegativeEntry : kMsgMatrixEntry) + " " + labels;
}

double vector_value(const NlpProblem* nlp, int32_t kind, int32_t p) {
    const double se = nlp->work.stdErrors != nullptr ? nlp->work.stdErrors[p] : host_missing_value();
    switch (kind) {
        case kVectorStdErrs: return se;
        case kVectorTValues: return !host_is_missing(se) && se > 0.0 ? nlp->param.x[p] / se : host_missing_value();
        case kVectorFirstDer:
        case kVectorGradient: return nlp->work.gradient != nullptr ? nlp->work.gradient[p] : host_missing_value();
        default: return nlp->param.x[p];
    }
}

// One vector table over the parameters [first, last).
void vector_table(const ResultsView& rv, int32_t kind, const char* name, int32_t title, HostText* titleText, int32_t first,
                  int32_t last) {
    std::vector<std::string> types;
    int32_t nameWidth = 1, typeWidth = kTypeMinWidth;
    for (int32_t p = first; p < last; ++p) {
        types.push_back(type_text(rv, p));
        typeWidth = std::max(typeWidth, static_cast<int32_t>(types.back().size()));
        nameWidth = std::max<int32_t>(nameWidth, rv.nlp->param.paramNames[p].length);
    }
    OutputTable t(rv.output->kyrManager, name, kyrmsg(kMsgProc, title), std::string("Tesk.Velix.") + name, titleText);
    t.text_column("Parameter", nameWidth);
    t.int_column("Index");
    t.double_column("Estimate");
    t.text_column("Type", typeWidth);
    if (!t.end_columns()) return;
    for (int32_t p = first; p < last; ++p) {
        const NameRecord& r = rv.nlp->param.paramNames[p];
        t.set_text(0, trimmed(r.text, r.length));
        t.set_int(1, p + 1);
        t.set_double(2, vector_value(rv.nlp, kind, p));
        t.set_text(3, types[static_cast<size_t>(p - first)]);
        if (!t.add_row()) return;
    }
    t.deliver();
}

}  // namespace

ResultSwitches result_switches(const StatementOptions* options) {
    ResultSwitches sw;
    const uint32_t f = options->printFlags;
    const bool all = (f & kPrintPall) != 0;
    sw.printModel = options->printEnabled != 0;
    sw.printParmVectors = options->printEnabled && (all || (f & kPrintPestim));
    sw.printPredictedLatent = options->printEnabled && (all || (f & kPrintPlatcov));
    sw.printDetermination = options->printEnabled && (all || (f & kPrintPdeterm));
    sw.printPredModel = options->printEnabled && (all || (f & kPrintPredet));
    return sw;
}

int32_t xcheck(const ResultsView& rv, int32_t p, int32_t e0, int32_t* next) {
    *next = 0;
    for (int32_t e = std::max(e0, 0); e < rv.sizes->nElements; ++e) {
        if (std::abs(rv.elements->parameter[e]) != p + 1) continue;
        *next = e + 1;
        for (int32_t k = 1; k <= rv.sizes->nMatrices; ++k)
            if (e >= rv.model->firstElement[k] && e < rv.model->firstElement[k] + rv.model->elementCount[k])
                return rv.elements->parameter[e] < 0 ? -k : k;
        break;
    }
    if (p >= rv.sizes->nParmFree - rv.sizes->nParmAdded || e0 > 0) return 0;
    xpmlog(kMsgProc, kMsgNoElement, p + 1);
    xexit(std::max(*rv.errorLevel, kLevelInternal), 0);
}

void cosvout(ProcContext* ctx, int32_t kind) {
    const ResultsView rv = results_view(ctx);
    if (rv.sizes->nParmAll == 0 || kind < kVectorInitial || kind > kVectorGradient || rv.output->kyrManager == nullptr) return;
    const bool initialListing = kind == kVectorInitial && rv.options->startNotes;
    const bool vectors = result_switches(rv.options).printParmVectors || initialListing;
    const bool gradient = kind == kVectorFirstDer || kind == kVectorGradient;
    if (!vectors && !(gradient && rv.options->printEnabled)) return;
    const VectorTable& v = kVectorTables[kind];
    vector_table(rv, kind, v.name, v.title, kyrmsg(kMsgProc, v.titleText), 0, rv.sizes->nParmFree);
    if (kind <= kVectorTValues && rv.sizes->nParmAll > rv.sizes->nParmFree)
        vector_table(rv, kind, "DependParms", kMsgDependTitle,
                     kyrmsgs(kMsgProc, kMsgDependentCount, rv.sizes->nParmAll - rv.sizes->nParmFree), rv.sizes->nParmFree,
                     rv.sizes->nParmAll);
}

void costout(ProcContext* ctx, int32_t mode) {
    const ResultsView rv = results_view(ctx);
    if (rv.output->kyrManager == nullptr) return;
    const int32_t first = rv.sizes->nParmFree - rv.sizes->nParmAdded, last = rv.sizes->nParmAll;
    int32_t width = 1;
    for (int32_t p = first; p < last; ++p) width = std::max<int32_t>(width, rv.nlp->param.paramNames[p].length);
    HostText* titleText =
        last > rv.sizes->nParmFree ? kyrmsgs(kMsgProc, kMsgDependentCount, last - rv.sizes->nParmFree) : nullptr;
    OutputTable t(rv.output->kyrManager, "AddParms", kyrmsg(kMsgProc, kMsgAddTitle), "Tesk.Velix.AddParms", titleText);
    t.text_column("Parameter", width);
    const bool inference = mode > 1;
    velix::detail::estimate_columns(t, inference);
    if (!t.end_columns()) return;
    for (int32_t p = first; p < last; ++p) {
        const NameRecord& r = rv.nlp->param.paramNames[p];
        const double x = rv.nlp->param.x[p];
        const double se = rv.nlp->work.stdErrors != nullptr ? rv.nlp->work.stdErrors[p] : host_missing_value();
        t.set_text(0, trimmed(r.text, r.length));
        t.set_double(1, x);
        if (inference) {
            t.set_double(2, se);
            t.set_double(3, !host_is_missing(se) && se > 0.0 ? x / se : host_missing_value());
        }
        if (!t.add_row()) return;
    }
    t.deliver();
}
