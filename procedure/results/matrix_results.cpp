// The model matrices of the covariance structure form Sigma = sum of
// F1 ... Fk P Fk' ... F1' (McDonald 1978), one matrix table each: every
// element in its place with the name of its parameter beside it, and after
// an estimation with standard errors their standard errors and t values.
// Every model kind is held in this form, so the tables serve all of them.
//
//   cospout: stages 1, 2 open the estimation group; parameter vectors
//            pool: values, standard errors, t values, cell labels, names
//            per term, from its central matrix down to its first:
//                skip a later use of a matrix; labels and captions; a
//                constant matrix after the estimation: a note only;
//                fill the grid by the type; publish the pieces
//            release the pool; added parameters; close the group
#include <algorithm>
#include <cmath>
#include <string>

#include "host/object_dispatch.h"
#include "host/output_table.h"
#include "host/message_text.h"
#include "procedure/results/printer_support.h"
#include "procedure/results/results.h"
#include "procedure/results/results_view.h"
#include "velix/codes.h"
#include "velix/host.h"
#include "velix/messages.h"
#include "velix/model_echo.h"

using velix::detail::blank_missing;
using velix::detail::record_text;

namespace {

// The width of the generated row and column labels.
constexpr int32_t kLabelWidth = 8;
// Label widths of the tables: at least 9, and never above 17.
constexpr int32_t kMinLabelWidth = 9, kMaxLabelWidth = 17;
// Value type of an array of text handles, one per matrix cell.
constexpr uint16_t kKyrTextHandles = 67;
// The display style of every piece.
constexpr int32_t kPieceStyle = 98;
// The matrices of a LINEQS model, by number.
constexpr int32_t kSel = 1, kBeta = 2, kGamma = 3, kPhi = 4;

constexpr int32_t kMsgEstimationGroup = 780;
constexpr int32_t kMsgCaptionInitial = 429, kMsgCaptionEstimates = 430, kMsgConstantNote = 431,
                  kMsgCaptionStdErrs = 432;
constexpr int32_t kMsgTitleInitial = 710, kMsgTitleEstimates = 791;
// Caption texts of the matrix forms (those of the types are in velix/messages.h).
constexpr int32_t kMsgFormInverse = 160, kMsgFormConstant = 161, kMsgFormConstantInverse = 162,
                  kMsgFormIMinusInverse = 163, kMsgFormConstantIMinusInverse = 164;

bool is_missing(double x) { return host_is_missing(x) || std::isnan(x); }

// The work arrays of one call, L cells and K names.
struct Grid {
    double* values = nullptr;
    double* stdErrs = nullptr;
    double* tValues = nullptr;
    HostText** labels = nullptr;
    char* rowNames = nullptr;  // K names of 8 characters
    char* colNames = nullptr;
};

// One matrix as its table shows it.
struct MatrixView {
    int32_t k = 0, rows = 0, columns = 0;
    bool symmetric = false, constant = false, anyLabel = false;
    int32_t labelWidth = kMinLabelWidth;
    const NameRecord* rowLabels = nullptr;  // or the generated names
    const NameRecord* columnLabels = nullptr;
    HostText* captions[4] = {};
    int32_t nCaptions = 0;
    HostText* title = nullptr;
};

const NameRecord* column_names(const ResultsView& rv, int32_t k) {
    const int32_t first = rv.model->firstColumnName != nullptr ? rv.model->firstColumnName[k] : 0;
    return first > 0 && first <= rv.readers->nColumnNames ? rv.readers->columnNames + (first - 1) : nullptr;
}

int32_t type_text(int32_t type) {
    switch (type) {
        case kMatIdentity:
        case kMatZerIdentity:
        case kMatDiagonal:
        case kMatZerDiagonal:
        case kMatLower:
        case kMatUpper: return kMsgTypeIdentity + (type - kMatIdentity);
        case kMatPosDefinit:
        case kMatSymmetric: return kMsgTypeSymmetric;
        default: return kMsgTypeOther;
    }
}

// The caption of the form, 0 for none.
int32_t form_text(int32_t form, bool constant) {
    if (form == kFormInverse) return constant ? kMsgFormConstantInverse : kMsgFormInverse;
    if (form == kFormIMinusInverse) return constant ? kMsgFormConstantIMinusInverse : kMsgFormIMinusInverse;
    return constant ? kMsgFormConstant : 0;
}

// The labels, captions and title of matrix k, the first..last matrix of
// its term.
MatrixView describe(const ResultsView& rv, int32_t k, int32_t first, int32_t last, int32_t stage) {
    const ModelMatrixTable& mt = *rv.model;
    MatrixView v;
    v.k = k;
    v.rows = mt.rows[k];
    v.columns = mt.columns[k];
    v.symmetric = mt.type[k] == kMatPosDefinit || mt.type[k] == kMatSymmetric;
    v.constant = mt.constant[k] != 0;
    v.columnLabels = column_names(rv, k);
    if (k == first)
        v.rowLabels = rv.input->manifestNames;
    else if (v.columnLabels != nullptr && (k == last || v.symmetric))
        v.rowLabels = v.columnLabels;
    else
        v.rowLabels = column_names(rv, k - 1);
    const std::string name = record_text(mt.name[k]);
    v.captions[v.nCaptions++] = kyrmsgs(kMsgProc, stage == 0 ? kMsgCaptionInitial : kMsgCaptionEstimates, name.c_str());
    if (stage == 2) v.captions[v.nCaptions++] = kyrmsg(kMsgProc, kMsgCaptionStdErrs);
    v.captions[v.nCaptions++] = kyrmsg(kMsgProc, type_text(mt.type[k]));
    if (const int32_t form = form_text(mt.form[k], v.constant); form != 0)
        v.captions[v.nCaptions++] = kyrmsg(kMsgProc, form);
    v.title = kyrmsgs(kMsgProc, stage == 0 ? kMsgTitleInitial : kMsgTitleEstimates, name.c_str());
    // The LINEQS coefficient matrices are shown over the endogenous rows
    // (and _BETA_ over the endogenous columns) only.
    if (rv.readers->lineqsModel && rv.sizes->nMatrices >= kPhi && (k == kBeta || k == kGamma)) {
        v.rows -= mt.rows[kPhi];
        if (k == kBeta) v.columns -= mt.rows[kPhi];
    }
    return v;
}

// Puts the values of matrix v into the grid (row-major, v.columns per
// row), with the parameters' labels and, in stage 2, their standard errors
// and t values.  A fixed cell ('_') and a parameter whose standard error is
// missing or not above 0 ('.') show no standard error and no t value.
void fill(const ResultsView& rv, MatrixView* v, int32_t stage, Grid* g) {
    const ModelMatrixTable& mt = *rv.model;
    const int32_t r = v->rows, c = v->columns;
    const size_t cells = static_cast<size_t>(std::max(r, 0)) * static_cast<size_t>(std::max(c, 0));
    std::fill(g->values, g->values + cells, 0.0);
    std::fill(g->stdErrs, g->stdErrs + cells, blank_missing());
    std::fill(g->tValues, g->tValues + cells, blank_missing());
    std::fill(g->labels, g->labels + cells, nullptr);
    auto at = [&](int32_t i, int32_t j) { return static_cast<size_t>(i) * static_cast<size_t>(c) + static_cast<size_t>(j); };
    const int32_t type = mt.type[v->k];
    if (type == kMatIdentity) {
        for (int32_t i = 0; i < std::min(r, c); ++i) g->values[at(i, i)] = 1.0;
        return;
    }
    if (type == kMatZerIdentity) {
        if (c >= r)
            for (int32_t i = 0; i < r; ++i) g->values[at(i, c - r + i)] = 1.0;
        else
            for (int32_t i = 0; i < c; ++i) g->values[at(r - c + i, i)] = 1.0;
        return;
    }
    if (rv.readers->lineqsModel && v->k == kSel) {
        for (int32_t i = 0; i < r; ++i) {
            const int32_t s = rv.readers->varPosition != nullptr ? rv.readers->varPosition[i] : -1;
            if (s >= 0 && s < c) g->values[at(i, s)] = 1.0;
        }
        return;
    }
    for (int32_t e = mt.firstElement[v->k]; e < mt.firstElement[v->k] + mt.elementCount[v->k]; ++e) {
        const int32_t i = rv.elements->row[e], j = rv.elements->column[e];
        if (i < 0 || j < 0 || i >= r || j >= c) continue;
        const bool mirror = v->symmetric && i != j && j < r && i < c;
        const double x = rv.elements->value[e];
        g->values[at(i, j)] = x;
        if (mirror) g->values[at(j, i)] = x;
        const int32_t p = rv.elements->parameter[e];
        if (p == 0) continue;
        const std::string name = record_text(rv.nlp->param.paramNames[std::abs(p) - 1]);
        HostText* label = kyrtxt((p > 0 ? "[" + name + "]" : "<" + name + ">").c_str(), -1);
        g->labels[at(i, j)] = label;
        if (mirror) g->labels[at(j, i)] = label;
        v->anyLabel = true;
        v->labelWidth = std::max(v->labelWidth, static_cast<int32_t>(name.size()) + 2);
        if (stage != 2) continue;
        const double se = rv.nlp->work.stdErrors != nullptr ? rv.nlp->work.stdErrors[std::abs(p) - 1] : host_missing_value();
        // The standard error shows as it is (0 for a parameter held at an
        // active bound); the t value only where it divides.
        const bool usable = !is_missing(se) && se > 0.0;
        const double t = usable && !is_missing(x) ? x / se : host_missing_value();
        g->stdErrs[at(i, j)] = se;
        g->tValues[at(i, j)] = t;
        if (mirror) {
            g->stdErrs[at(j, i)] = se;
            g->tValues[at(j, i)] = t;
        }
    }
}

// The row and column label entries of a piece: names, or the generated
// labels of 8 characters.
int32_t label_entries(const MatrixView& v, const Grid& g, KyrArg* out) {
    int32_t n = 0;
    if (v.rowLabels != nullptr) {
        out[n++] = kyr_address(kAttrRowLabels, kKyrRowLabels, v.rowLabels);
    } else {
        out[n++] = kyr_address(kAttrRowNames, kKyrNames, g.rowNames);
        out[n++] = kyr_int(kAttrRowNameWidth, kLabelWidth);
    }
    if (v.columnLabels != nullptr) {
        out[n++] = kyr_address(kAttrColumnLabels, kKyrRowLabels, v.columnLabels);
    } else {
        out[n++] = kyr_address(kAttrColumnNames, kKyrNames, g.colNames);
        out[n++] = kyr_int(kAttrColumnNameWidth, kLabelWidth);
    }
    return n;
}

// The captions joined for a note ("%k%n...") or a description ("%k;...").
HostText* joined(HostText* const* texts, int32_t n, const char* separator, bool leading) {
    std::string format;
    for (int32_t i = 0; i < n; ++i) format += (i > 0 || leading ? std::string(separator) : std::string()) + "%k";
    return kyrtxts(format.c_str(), -1, n > 0 ? texts[0] : nullptr, n > 1 ? texts[1] : nullptr,
                   n > 2 ? texts[2] : nullptr, n > 3 ? texts[3] : nullptr, n > 4 ? texts[4] : nullptr);
}

// The centred note that stands for a constant matrix after the estimation.
void constant_note(const ResultsView& rv, const MatrixView& v) {
    HostText* lines[5] = {};
    std::copy(v.captions, v.captions + v.nCaptions, lines);
    lines[v.nCaptions] = kyrmsg(kMsgProc, kMsgConstantNote);
    const int32_t n = v.nCaptions + 1;
    kyr_failed(kyr_lines_note(rv.output->kyrManager, joined(lines, n, "%n", false), n));
}

// One piece of the matrix object: its values or cell texts with their
// storage and, after the first, its label.
bool piece(MatrixPieces* matrix, const MatrixView& v, const Grid& g, const void* data,
           const char* label) {
    KyrArg args[9];
    int32_t n = 0;
    const bool texts = data == g.labels;
    args[n++] = texts ? kyr_address(kAttrCellTexts, kKyrTextHandles, data) : kyr_address(kAttrValues, kKyrDoubles, data);
    args[n++] = kyr_int(kAttrRows, v.rows);
    args[n++] = kyr_int(kAttrColumns, v.columns);
    if (label == nullptr) n += label_entries(v, g, args + n);
    args[n++] = texts ? kyr_counted(kAttrStorage, "ra", 2) : kyr_counted(kAttrStorage, "raf", 3);
    if (!texts) args[n++] = kyr_int(kAttrPieceStyle, kPieceStyle);
    if (label != nullptr) args[n++] = kyr_counted(kAttrPieceLabel, label, 1);
    return matrix->piece(args, n);
}

// Publishes the pieces with the table's names, captions and formats.
bool publish(MatrixPieces* matrix, const MatrixView& v, int32_t stage) {
    const char* name = stage == 0 ? "InitParms" : "EstParms";
    const int32_t w = v.labelWidth;
    const std::string labelFormat = ("$" + std::to_string(w) + ".    ").substr(0, 4);
    const std::string format = stage == 2 ? "D9. " : labelFormat;
    KyrArg args[] = {kyr_text(kAttrTemplatePath, kyrtxts("Tesk.Velix.%s", -1, name)),
                     kyr_counted(kAttrName, name, static_cast<int32_t>(std::char_traits<char>::length(name))),
                     kyr_text(kAttrLabel, v.title),
                     kyr_int(kAttrLabelWidth, std::clamp(w, kMinLabelWidth, kMaxLabelWidth)),
                     kyr_text(kAttrDescription, joined(v.captions, v.nCaptions, ";", true)),
                     kyr_int(kAttrSwitch371, 1),
                     kyr_int(kAttrSwitch280, 1),
                     kyr_int(kAttrSwitch366, 1),
                     kyr_text(kAttrVariableName, kyrtxt("format", -1)),
                     kyr_text(kAttrValue, kyrtxt(format.c_str(), -1)),
                     kyr_text(kAttrVariableName, kyrtxt("format2", -1)),
                     kyr_text(kAttrValue, kyrtxt(labelFormat.c_str(), -1)),
                     kyr_text(kAttrVariableName, kyrtxt("flow", -1)),
                     kyr_word2(kAttrValue, stage == 2 ? 0 : 1)};
    return matrix->publish(args, 14);
}

// The table of one matrix.  Every call is tested: the first that fails is
// reported and abandons the table.
void matrix_table(const ResultsView& rv, const MatrixView& v, const Grid& g, int32_t stage) {
    HostObject* manager = rv.output->kyrManager;
    if (!begin_output(manager)) return;
    MatrixPieces matrix(manager);
    const bool ok = piece(&matrix, v, g, g.values, nullptr) &&
                    (stage != 2 || (piece(&matrix, v, g, g.stdErrs, "S") &&
                                    piece(&matrix, v, g, g.tValues, "T"))) &&
                    (!v.anyLabel || piece(&matrix, v, g, g.labels, "N"));
    if (ok) publish(&matrix, v, stage);
}

// The tables of every matrix, terms in order, each from its central matrix
// down to its first.
void matrix_tables(const ResultsView& rv, int32_t stage, Grid* g) {
    const ModelMatrixTable& mt = *rv.model;
    for (int32_t term = 1; term <= rv.sizes->nTerms; ++term) {
        const int32_t first = mt.termTable[term - 1], last = mt.termTable[term] - 1;
        for (int32_t k = last; k >= first; --k) {
            if (mt.sameName[k] != 0) continue;
            MatrixView v = describe(rv, k, first, last, stage);
            if (v.constant && stage > 0) {
                if (rv.options->printEnabled) constant_note(rv, v);
                continue;
            }
            if (v.rows < 1 || v.columns < 1) continue;
            fill(rv, &v, stage, g);
            matrix_table(rv, v, *g, stage);
        }
    }
}

// The model readers echo a model in matrix form through this printer
// (stage 0).
const bool kEchoRegistered = [] {
    input_model_echo().matrixForm = cospout;
    return true;
}();

}  // namespace

void cospout(ProcContext* ctx, int32_t stage) {
    const ResultsView rv = results_view(ctx);
    if (rv.output->kyrManager == nullptr) return;
    const ResultSwitches sw = result_switches(rv.options);
    if (stage > 0)
        velix::detail::open_results_group(rv, kGroupEstimationResults, "EstimationResults", kMsgEstimationGroup);
    velix::detail::print_parameter_vectors(rv, stage, sw);
    // A pool that cannot be had ends the printer after the memory message,
    // not the step.
    int64_t cells = 1;
    for (int32_t k = 1; k <= rv.sizes->nMatrices; ++k)
        cells = std::max(cells, int64_t{rv.model->rows[k]} * rv.model->columns[k]);
    const int64_t names = std::max({rv.sizes->nCols, rv.sizes->nManifest, 1});
    bool ok = false;
    {
        velix::detail::PrinterPool pool(cells * static_cast<int64_t>(3 * sizeof(double) + sizeof(HostText*)) +
                                        names * 2 * kLabelWidth + 1024);
        Grid g;
        g.values = pool.take<double>(cells);
        g.stdErrs = pool.take<double>(cells);
        g.tValues = pool.take<double>(cells);
        g.labels = pool.take<HostText*>(cells);
        g.rowNames = pool.take<char>(names * kLabelWidth);
        g.colNames = pool.take<char>(names * kLabelWidth);
        ok = pool.check();
        if (ok) {
            for (int64_t i = 0; i < names; ++i) {
                znamfix(0, "Row", 3, static_cast<int32_t>(i + 1), 0, g.rowNames + i * kLabelWidth, kLabelWidth);
                znamfix(0, "Col", 3, static_cast<int32_t>(i + 1), 0, g.colNames + i * kLabelWidth, kLabelWidth);
            }
            matrix_tables(rv, stage, &g);
        }
    }
    zmsgsav(0, 0, nullptr, 0);
    if (ok && stage > 0 && rv.sizes->nParmAdded != 0) costout(rv.ctx, stage);
    velix::detail::close_estimation_group(rv);
}
