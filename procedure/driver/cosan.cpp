// The COSAN reader: the model as a sum of terms, each a product of named
// matrices F1 ... Fk P Fk' ... F1' around a square central matrix P
// (McDonald's covariance structure analysis form, Brit. J. Math. Statist.
// Psych. 31, 1978).  cosparc fills the term table and the matrix table from
// the statement; the element patterns come afterwards from the MATRIX
// statements.
//
//   per term: central matrix square and of a symmetric kind;
//             per matrix: type, columns and form, and the same-name links
//             (a later occurrence inherits what it lacks, or is corrected)
//   rows chained through each term; invalid types and forms; the
//   ModelStatement table; MATRIX statements that name no matrix
#include <algorithm>
#include <cmath>
#include <vector>

#include "procedure/driver/model.h"
#include "procedure/driver/model_readers.h"
#include "procedure/driver/step_view.h"
#include "velix/messages.h"

namespace {

using velix::detail::name_text;

// Logs under the message just logged where the statement names matrix j
// (1-based); nothing when the model was not read from a statement (INRAM=).
void place_matrix(const CosanPayload* pl, int32_t j) {
    if (pl->nameLines != nullptr && j >= 1 && j <= pl->names.count)
        xpmplacecol(pl->nameLines[j - 1], pl->nameColumns != nullptr ? pl->nameColumns[j - 1] : 0);
}

bool is_central_type(int32_t t) {
    return t == kMatIdentity || t == kMatDiagonal || t == kMatPosDefinit || t == kMatSymmetric;
}

// A column count of the statement as a number of columns: 0 when not given,
// -1 when it is no whole number from 1 to kMaxModelOrder.
int32_t column_count(double c) {
    if (c == 0.0) return 0;
    if (!(c >= 1.0) || c > kMaxModelOrder) return -1;
    return static_cast<int32_t>(c);
}

// A type or form code of the statement as an integer; -1 when out of range.
int32_t small_code(double c, int32_t largest) {
    if (!(c >= 0.0) || c > largest) return -1;
    return static_cast<int32_t>(c);
}

// Links every later namesake of matrix j to j (since j runs forward, each
// ends linked to its nearest earlier namesake); what the later occurrence
// does not give, it inherits, and a disagreement is corrected and noted.
void link_namesakes(const StepView& sv, const CosanPayload* pl, int32_t j,
                    std::vector<int32_t>* colsOut, std::vector<int32_t>* typesOut,
                    std::vector<int32_t>* formsOut) {
    ModelMatrixTable& mt = *sv.model;
    const int32_t m = sv.sizes->nMatrices;
    std::vector<int32_t>& cols = *colsOut;
    std::vector<int32_t>& types = *typesOut;
    std::vector<int32_t>& forms = *formsOut;
    const std::string name = name_text(pl->names.names[j - 1]);
    for (int32_t l = j + 1; l <= m; ++l) {
        if (!same_name(pl->names.names[l - 1], pl->names.names[j - 1])) continue;
        mt.sameName[l] = static_cast<int16_t>(j);
        // A type left out where the earlier use declared one is still
        // noted, since the user may have meant another.
        if (cols[l] == 0) cols[l] = cols[j];
        const bool typeDropped = types[l] == 0 && small_code(pl->types[j - 1], 14) != 0;
        if (types[l] == 0) types[l] = types[j];
        if (typeDropped || cols[l] != cols[j] || types[l] != types[j] || forms[l] != forms[j]) {
            xpmlog(kMsgProc, kMsgNamesakeDiffers, l, j, name.c_str());
            place_matrix(pl, l);
            cols[l] = cols[j];
            types[l] = types[j];
            forms[l] = forms[j];
        }
    }
}

// Checks the shapes, types and forms of the matrices as read; returns the
// largest number of elements of one matrix.
int32_t check_shapes(const StepView& sv, const CosanPayload* pl, const std::vector<int32_t>& types,
                     const std::vector<int32_t>& forms) {
    const ModelMatrixTable& mt = *sv.model;
    const int32_t m = sv.sizes->nMatrices;
    // Occurrences of one name are one matrix: they share values, elements
    // and a stored inverse, so they must agree in shape; a correction of a
    // later central matrix or rows chained from another neighbour could
    // make them differ.
    for (int32_t k = 1; k <= m; ++k) {
        const int32_t j = mt.sameName[k];
        if (j > 0 && (mt.rows[k] != mt.rows[j] || mt.columns[k] != mt.columns[j] ||
                      mt.type[k] != mt.type[j])) {
            xpmlog(kMsgProc, kMsgNamesakeShapes, name_text(mt.name[k]).c_str(), k, mt.rows[k],
                   mt.columns[k], j, mt.rows[j], mt.columns[j]);
            place_matrix(pl, k);
            raise_error_level(sv.ctx, kLevelInputError);
        }
    }

    int64_t largest = 1;
    for (int32_t k = 1; k <= m; ++k) {
        const std::string name = name_text(mt.name[k]);
        if (mt.type[k] == kMatSelection || mt.type[k] == kMatEqsBeta || mt.type[k] == kMatEqsGamma ||
            types[k] < 0) {
            xpmlog(kMsgProc, kMsgCosanBadType, name.c_str());
            place_matrix(pl, k);
            raise_error_level(sv.ctx, kLevelInputError);
        }
        if (forms[k] < 0 || (mt.form[k] != kFormNone && mt.rows[k] != mt.columns[k])) {
            xpmlog(kMsgProc, kMsgNotSquare, name.c_str());
            place_matrix(pl, k);
            raise_error_level(sv.ctx, kLevelInputError);
        }
        largest = std::max<int64_t>(largest, static_cast<int64_t>(mt.rows[k]) * mt.columns[k]);
    }
    return static_cast<int32_t>(largest);
}

}  // namespace

void velix::detail::place_cosan_matrix(const ProcContext* ctx, int32_t k) {
    if (const StatementNode* node = find_statement(ctx->stmtList, "COSAN   "))
        place_matrix(static_cast<const CosanPayload*>(node->payload), k);
}

void cosparc(ProcContext* ctx) {
    const StepView sv = step_view(ctx);
    const StatementNode* node = find_statement(sv.ctx->stmtList, "COSAN   ");
    if (node == nullptr) {
        xpmlog(kMsgProc, kMsgNoCosanStatement);
        raise_error_level(sv.ctx, kLevelBadVariables);
        xexit(*sv.errorLevel, 0);
    }
    const auto* pl = static_cast<const CosanPayload*>(node->payload);
    const int32_t m = sv.sizes->nMatrices;
    // The dispatcher has reported lists of different lengths (269); they
    // cannot be read together.
    if (pl->names.count != m || pl->nColumns != m || pl->nTypes != m || pl->nForms != m) {
        raise_error_level(sv.ctx, kLevelInternal);
        xexit(*sv.errorLevel, 0);
    }
    ModelMatrixTable& mt = *sv.model;
    const int32_t n = sv.sizes->nManifest;

    // Working copies: the checks below correct them.
    std::vector<int32_t> cols(m + 1), types(m + 1), forms(m + 1);
    for (int32_t j = 1; j <= m; ++j) {
        cols[j] = column_count(pl->columns[j - 1]);
        types[j] = small_code(pl->types[j - 1], 14);
        forms[j] = small_code(pl->forms[j - 1], 2);
    }

    mt.termTable[0] = 1;
    int32_t previousEnd = 0;
    for (int32_t t = 1; t <= sv.sizes->nTerms; ++t) {
        const int32_t e = pl->termEnds[t - 1];
        if (e <= previousEnd || e > m) {
            xpmlog(kMsgProc, kMsgTermNoMatrix, t);
            xpmplace(node->line, nullptr);
            raise_error_level(sv.ctx, kLevelInputError);
            mt.termTable[t] = static_cast<int16_t>(previousEnd + 1);
            continue;
        }
        const int32_t central = e;
        const std::string centralName = name_text(pl->names.names[central - 1]);
        // The central matrix is square: its columns are the rows it
        // receives, the columns of the matrix before it or, alone in its
        // term, the n manifest variables.
        const int32_t square = e - previousEnd > 1 ? cols[central - 1] : n;
        if (cols[central] != square && cols[central] >= 0 && square > 0) {
            xpmlog(kMsgProc, kMsgCentralNotSquare, centralName.c_str());
            place_matrix(pl, central);
            cols[central] = square;
        }
        if (!is_central_type(types[central])) {
            xpmlog(kMsgProc, kMsgCentralType, centralName.c_str(), t);
            place_matrix(pl, central);
            types[central] = kMatSymmetric;
            raise_error_level(sv.ctx, kLevelWarning);
        }
        for (int32_t j = previousEnd + 1; j <= e; ++j) {
            if (types[j] == 0) types[j] = kMatGeneral;
            const std::string name = name_text(pl->names.names[j - 1]);
            if (cols[j] <= 0) {
                xpmlog(kMsgProc, kMsgBadColumnCount, name.c_str(), kMaxModelOrder,
                       pl->columns[j - 1]);
                place_matrix(pl, j);
                raise_error_level(sv.ctx, kLevelInputError);
                cols[j] = 0;
            }
            mt.name[j] = pl->names.names[j - 1];
            mt.columns[j] = cols[j];
            mt.type[j] = static_cast<int16_t>(types[j]);
            mt.form[j] = static_cast<int16_t>(std::max(forms[j], 0));
            link_namesakes(sv, pl, j, &cols, &types, &forms);
        }
        mt.termTable[t] = static_cast<int16_t>(e + 1);
        previousEnd = e;
    }

    // Rows chained through each term.
    for (int32_t t = 1; t <= sv.sizes->nTerms; ++t)
        for (int32_t k = mt.termTable[t - 1]; k < mt.termTable[t] && k <= m; ++k)
            mt.rows[k] = k == mt.termTable[t - 1] ? n : mt.columns[k - 1];

    sv.readers->largestProduct = check_shapes(sv, pl, types, forms);

    cosmcon(sv.ctx);

    for (const StatementNode* s = find_statement(sv.ctx->stmtList, "MATRIX  "); s;
         s = find_statement(s->next, "MATRIX  ")) {
        const NameRecord& name = static_cast<const MatrixPayload*>(s->payload)->name;
        if (velix::detail::matrix_number(sv.ctx, name) == 0) {
            xpmlog(kMsgProc, kMsgMatrixNotInModel, name_text(name).c_str());
            xpmplace(s->line, name_text(name).c_str());
        }
    }
    sv.readers->matrixSpec = 1;
    velix::detail::exit_above(sv.ctx, 4);
}
