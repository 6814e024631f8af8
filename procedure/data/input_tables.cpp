// cospcor: the input statistics of a BY group as output tables: the title
// line of the estimation method, "GenModInfo", "SimpleStatistics", the
// kurtosis tables ("Kurtosis", "ContKurtosis") and the input matrix; and
// the matrix-table publisher the moment step shares.
//
// Every table follows the host's fixed protocol (create, columns, bind,
// rows, end, deliver); a failing call is reported and ends the routine.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/host_support.h"
#include "procedure/data/data.h"
#include "procedure/data/data_view.h"
#include "procedure/proc_options.h"
#include "velix/codes.h"
#include "velix/packed_index.h"
#include "velix/statements.h"
#include "velix/messages.h"

namespace {

bool note_text(const DataView& dv, HostText* text) {
    return !kyr_failed(kyr_note(dv.output->kyrManager, text, 'l'));
}

// A factoid of the input statistics: template "Tesk.Velix.<name>", title
// and labels messages of the procedure.
FactoidTable input_factoid(const DataView& dv, const char* name, int32_t title) {
    return FactoidTable(dv.output->kyrManager, name, std::string("Tesk.Velix.") + name,
                        kyrmsg(kMsgProc, title));
}

// A count: display width 8 without decimals; `styled` adds the entry style 2.
void count_entry(FactoidTable* t, int32_t label, double value, bool styled = false) {
    t->entry(kyrmsg(kMsgProc, label), value, 8, 0, styled ? 2 : -1);
}

// A measured value in the host's default number format.
void value_entry(FactoidTable* t, int32_t label, double v) {
    t->entry(kyrmsg(kMsgProc, label), v);
}

// A packed copy of a without row and column k (k < 0: a plain copy).
std::vector<double> without(const double* a, int32_t n, int32_t k) {
    std::vector<double> out;
    for (int32_t i = 0; i < n; ++i) {
        if (i == k) continue;
        for (int32_t j = 0; j <= i; ++j)
            if (j != k) out.push_back(a[velix::pk_lower(i, j)]);
    }
    return out;
}

// The name of variable i of the statistics (analysis, intercept, partial).
NameRecord statistic_name(const DataView& dv, int32_t i) {
    const NameRecord* names = velix::detail::moment_names(dv.ctx);
    if (i < dv.sizes->nManifest) return names[i];
    const std::vector<velix::detail::ReadVariable> read = velix::detail::read_variables(dv.ctx);
    const size_t k = static_cast<size_t>(dv.sizes->nVar + i - dv.sizes->nManifest);
    return k < read.size() ? read[k].name : NameRecord();
}

}  // namespace

namespace velix::detail {

const NameRecord* moment_names(ProcContext* ctx) {
    const DataView dv = data_view(ctx);
    if (dv.options->interceptVar && dv.sizes->nManifest > dv.sizes->nVar) {
        NameRecord& r = dv.input->manifestNames[dv.sizes->nVar];
        std::memset(r.text, ' ', sizeof r.text);
        std::memcpy(r.text, "Intercept", 9);
        r.length = 9;
    }
    return dv.input->manifestNames;
}

int32_t publish_matrix(ProcContext* ctx, const char* name, int32_t title, const double* values,
                       int32_t rows, int32_t columns, const NameRecord* rowLabels,
                       const NameRecord* columnLabels, const char* storage, int32_t style) {
    const DataView dv = data_view(ctx);
    MatrixTable m;
    m.templatePath = kyrtxts("Tesk.Velix.%s", -1, name);
    m.name = kyrtxts("%s", -1, name);
    m.title = kyrmsg(kMsgProc, title);
    m.values = values;
    m.rows = rows;
    m.columns = columns;
    m.rowLabels = rowLabels;
    m.columnLabels = columnLabels;
    m.storage = storage;
    m.labelStyle = style;
    return kyr_publish_matrix(dv.output->kyrManager, m);
}

}  // namespace velix::detail

namespace {

// The title lines naming the estimation method and the analysed matrix.
bool method_title(const DataView& dv) {
    int32_t number = kMsgPatternTitle + (dv.methods->methodRequested - kMethodNone);
    if (dv.options->covAnalysis && !dv.input->inwgtUsed && dv.methods->methodRequested == kMethodWls)
        number = 296;
    if (dv.options->covAnalysis && !dv.input->inwgtUsed &&
        dv.methods->methodRequested == kMethodUlsWls)
        number = 297;
    char method[81];
    xpmstr(method, -1 - 80, kMsgProc, number);
    const bool aboutZero = dv.moments->momentOrigin != 0;
    // A symmetric matrix is analysed as given, in either analysis.
    const int32_t matrix = dv.input->symatrixInput ? kMsgAnalysisSymatrix
                           : dv.options->covAnalysis ? (aboutZero ? kMsgAnalysisUcov : kMsgAnalysisCov)
                                                     : (aboutZero ? kMsgAnalysisUcorr : kMsgAnalysisCorr);
    return !kyr_failed(kyr_title(dv.output->kyrManager, kyrmsgs(kMsgProc, kMsgMethodTitle, method), 2)) &&
           !kyr_failed(kyr_title(dv.output->kyrManager, kyrmsg(kMsgProc, matrix), 2));
}

// "GenModInfo": the observations, variables, moments and parameters.
bool model_information(const DataView& dv, int32_t partialUsed, int32_t n) {
    FactoidTable info = input_factoid(dv, "GenModInfo", kMsgModelInfoTable);
    // The observations behind the divisor: N before the partial variables
    // took their degrees of freedom, for every divisor kind.
    const bool dfKind = std::memcmp(dv.options->vardefKind, kVardefDefault, 8) == 0;
    count_entry(&info, kMsgObservationsLabel, dv.moments->nObs + (dfKind ? partialUsed : 0));
    count_entry(&info, kMsgManifestLabel, n);
    if (dv.moments->nPartial > 0) count_entry(&info, kMsgPartialLabel, dv.moments->nPartial);
    count_entry(&info, kMsgMomentsLabel, dv.sizes->nMoments);
    count_entry(&info, kMsgTermsLabel, dv.sizes->nTerms, true);
    count_entry(&info, kMsgMatricesLabel, dv.sizes->nMatrices, true);
    if (dv.moments->nPartial > 0) count_entry(&info, kMsgPartialObservationsLabel, dv.moments->nObs, true);
    count_entry(&info, kMsgFreeParametersLabel, dv.sizes->nParmFree, true);
    return info.end();
}

// The standard deviation of variable i of the statistics.  The augmented
// moments of a model with means hold second moments about zero: m_ii =
// sum w x^2 / D, from which the variance about the means is m_ii -
// (sum w / D) mean^2 (0 for the intercept).  The other moments about zero
// (UCOV, UCORR, NOINT) are shown as they are analysed, under their title.
double shown_std(const DataView& dv, int32_t i) {
    const double sd = dv.moments->stdDevs[i];
    if (!dv.options->interceptVar || !(dv.moments->divisor > 0.0)) return sd;
    // The constant itself: exactly 0, not the rounding of the difference.
    if (i == -(dv.moments->momentOrigin + 1)) return 0.0;
    const double mean = dv.moments->means[i];
    const double v = sd * sd - dv.moments->sumWeights / dv.moments->divisor * mean * mean;
    return v > 0.0 ? std::sqrt(v) : 0.0;
}

// "SimpleStatistics": means, standard deviations and, with KURTOSIS, the
// univariate skewness and kurtosis of the variables.
bool simple_statistics(const DataView& dv) {
    const int32_t nStat = dv.moments->nRead;
    OutputTable table(dv.output->kyrManager, "SimpleStatistics", kyrmsg(kMsgProc, kMsgSimpleStatistics),
                      "Tesk.Velix.SimpleStatistics");
    int32_t width = 2;
    for (int32_t i = 0; i < nStat; ++i) width = std::max<int32_t>(width, statistic_name(dv, i).length);
    char nameCell[33] = {};
    double mean = 0, sd = 0, skew = 0, kurt = 0;
    table.cell_column(kColumnChars, "Variable", nameCell, {.width = width});
    table.cell_column(kColumnDouble, "Mean", &mean);
    table.cell_column(kColumnDouble, "StD", &sd);
    if (dv.options->kurtosisWanted) {
        table.cell_column(kColumnDouble, "Skewness", &skew);
        table.cell_column(kColumnDouble, "Kurtosis", &kurt);
    }
    const bool aboutZero = dv.moments->momentOrigin != 0 && !dv.options->interceptVar;
    table.variable("title", kyrmsg(kMsgProc, aboutZero ? kMsgMomentsAboutZeroTitle : kMsgMeansStdDevsTitle));
    if (!table.end_columns()) return false;
    dv.output->kyrTable = table.output();
    for (int32_t i = 0; i < nStat; ++i) {
        const NameRecord r = statistic_name(dv, i);
        std::memset(nameCell, ' ', 32);
        std::memcpy(nameCell, r.text, static_cast<size_t>(std::clamp<int16_t>(r.length, 0, 32)));
        mean = dv.moments->means[i];
        sd = shown_std(dv, i);
        skew = dv.moments->skewness[i];
        kurt = dv.moments->uniKurtosis[i];
        if (!table.add_row()) return false;
    }
    return table.deliver();
}

// "Kurtosis" with its notes and "ContKurtosis", the observations that
// contribute most.
bool kurtosis_tables(const DataView& dv, int32_t kurtosisStatus, const KurtosisList* list,
                     bool dropIntercept) {
    for (int32_t i = 0; i < dv.sizes->nVar; ++i) {
        if (!wzmis(dv.moments->uniKurtosis[i])) continue;
        const NameRecord r = statistic_name(dv, i);
        if (!note_text(dv, kyrmsgs(kMsgProc, kMsgNoKurtosis, static_cast<int32_t>(r.length), r.text))) return false;
    }
    const double* cells = dv.moments->kurtosisCells;
    FactoidTable kt = input_factoid(dv, "Kurtosis", kMsgSimpleStatistics);
    value_entry(&kt, kMsgMardiaLabel, cells[kKurtMardia]);
    value_entry(&kt, kMsgRelativeMultiLabel, cells[kKurtRelativeMulti]);
    value_entry(&kt, kMsgNormalizedMultiLabel, cells[kKurtNormalized]);
    value_entry(&kt, kMsgKappaLabel, cells[kKurtMardiaKappa]);
    value_entry(&kt, kMsgMeanScaledLabel, cells[kKurtMeanScaled]);
    value_entry(&kt, kMsgAdjustedScaledLabel, cells[kKurtAdjustedScaled]);
    if (!wzmis(cells[kKurtFourthRatio]) && !wzmis(cells[kKurtFourthMoments])) {
        value_entry(&kt, kMsgFourthRatioLabel, cells[kKurtFourthRatio]);
        value_entry(&kt, kMsgFourthMomentsLabel, cells[kKurtFourthMoments]);
    }
    if (!kt.end()) return false;
    const int32_t p = dv.sizes->nVar - (dropIntercept ? 1 : 0);
    const double b = -2.0 / (p + 2);
    if (!wzmis(cells[kKurtMardiaKappa]) && cells[kKurtMardiaKappa] < b &&
        !note_text(dv, kyrmsgs(kMsgProc, kMsgPlatykurtic, b)))
        return false;
    if (!wzmis(cells[kKurtMeanScaled]) && cells[kKurtMeanScaled] < b &&
        !note_text(dv, kyrmsgs(kMsgProc, kMsgLowUnivariateKurtosis, b)))
        return false;
    if (kurtosisStatus > 0) {
        // The rows say which observation they are ("Observation 268") and
        // the column what it holds, the contribution normalized as
        // Mardia's kurtosis is.
        constexpr size_t kRowWidth = 24;
        std::vector<char> labels(static_cast<size_t>(kurtosisStatus) * kRowWidth, ' ');
        for (int32_t k = 0; k < kurtosisStatus; ++k) {
            int32_t len = 0;
            const char* text =
                kyrtext_chars(kyrmsgs(kMsgProc, kMsgKurtosisObservationRow, list->observation[k]), &len);
            std::memcpy(&labels[static_cast<size_t>(k) * kRowWidth], text,
                        std::min(static_cast<size_t>(std::max(len, 0)), kRowWidth));
        }
        NameRecord column;
        char heading[sizeof column.text + 1] = {};
        xpmstr(heading, static_cast<int32_t>(sizeof column.text), kMsgProc, kMsgKurtosisContributionColumn);
        column.length = static_cast<int16_t>(strnlen(heading, sizeof column.text));
        while (column.length > 0 && heading[column.length - 1] == ' ') --column.length;
        std::memcpy(column.text, heading, static_cast<size_t>(column.length));
        MatrixTable m;
        m.templatePath = kyrtxts("Tesk.Velix.%s", -1, "ContKurtosis");
        m.name = kyrtxt("ContKurtosis", 12);
        m.title = kyrmsg(kMsgProc, kMsgKurtosisContributions);
        m.values = list->contribution;
        m.rows = kurtosisStatus;
        m.columns = 1;
        m.rowNames = labels.data();
        m.rowNameWidth = static_cast<int32_t>(kRowWidth);
        m.columnLabels = &column;
        m.storage = "c";  // a one-column matrix is stored by columns
        m.labelStyle = 9;
        m.pieceStyle = 98;
        if (kyr_publish_matrix(dv.output->kyrManager, m) < 0) return false;
    }
    return true;
}

// The input matrix, without the intercept of the moments about zero.
void input_matrix(const DataView& dv, int32_t intercept, bool dropIntercept, int32_t n) {
    const char* name = dv.input->symatrixInput   ? "InSymmetric"
                       : dv.options->covAnalysis ? "InCov"
                                                  : "InCorr";
    const int32_t title = dv.input->symatrixInput ? 724 : dv.options->covAnalysis ? 726 : 725;
    const std::vector<double> m =
        without(dv.arrays->momentMatrix, dv.sizes->nManifest, dropIntercept ? intercept : -1);
    std::vector<NameRecord> labels;
    const NameRecord* names = velix::detail::moment_names(dv.ctx);
    for (int32_t i = 0; i < dv.sizes->nManifest; ++i)
        if (!(dropIntercept && i == intercept)) labels.push_back(names[i]);
    const int32_t style = !dv.options->covAnalysis && !dv.input->symatrixInput ? 7 : 0;
    velix::detail::publish_matrix(dv.ctx, name, title, m.data(), n, n, labels.data(), labels.data(), "sc",
                                  style);
}

}  // namespace

void cospcor(ProcContext* ctx, int32_t partialUsed, int32_t kurtosisStatus, const KurtosisList* list) {
    const DataView dv = data_view(ctx);
    const int32_t intercept = dv.moments->momentOrigin < 0 ? -(dv.moments->momentOrigin + 1) : -1;
    int32_t n = dv.sizes->nManifest;
    const bool dropIntercept = intercept >= 0 && intercept < dv.sizes->nVar;
    if (dropIntercept) --n;
    const uint32_t pf = dv.options->printFlags;
    // PSUMMARY alone leaves the statistics out; PALL and PRINT keep them.
    const bool printSimple = (pf & kPrintPsummary) == 0 || (pf & (kPrintPall | kPrintPrint)) != 0;
    // PCORR and the print levels PALL and PRINT print the input matrix.
    const bool printInput = (pf & (kPrintPcorr | kPrintPall | kPrintPrint)) != 0;
    if (!method_title(dv)) return;
    if (printSimple) {
        if (!begin_output(dv.output->kyrManager)) return;
        if (!model_information(dv, partialUsed, n) || !simple_statistics(dv)) return;
        if (dv.options->kurtosisWanted &&
            !kurtosis_tables(dv, kurtosisStatus, list, dropIntercept))
            return;
    }
    if (printInput) input_matrix(dv, intercept, dropIntercept, n);
}
