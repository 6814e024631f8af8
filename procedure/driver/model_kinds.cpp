// The model dispatcher's part for the RAM, COSAN and FACTOR kinds: the
// sizes each kind fixes before the model table is allocated, and the order
// in which the readers of a kind run once it is.
//
//   sizes:  RAM 1 term of 3 matrices; COSAN the statement's terms and
//           matrices; FACTOR 1 or 2 terms of its fixed matrices
//   read:   FACTOR set-up | COSAN terms; then one element reader (LINEQS,
//           RAM, MATRIX statements or the default FACTOR model); then the
//           stored inverses of a COSAN model and the matrix-statement state
//           of a FACTOR model
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "procedure/driver/model.h"
#include "procedure/driver/model_readers.h"
#include "procedure/driver/step_view.h"
#include "velix/messages.h"

namespace {

using velix::detail::name_text;

bool keyword_is(const StatementNode* n, const char* k8) { return std::memcmp(n->keyword, k8, 8) == 0; }

bool is_model_keyword(const StatementNode* n) {
    return keyword_is(n, "LINEQS  ") || keyword_is(n, "COSAN   ") || keyword_is(n, "RAM     ") ||
           keyword_is(n, "FACTOR  ");
}

void cosan_sizes(const StepView& sv, const CosanPayload* pl) {
    sv.readers->equationModel = 0;
    sv.options->matrixForm = 1;
    sv.sizes->nTerms = pl->nTerms;
    sv.sizes->nMatrices = pl->names.count;
    int32_t lead = sv.sizes->nManifest;
    for (int32_t j = 0; j < pl->nColumns; ++j) {
        const double c = pl->columns[j];
        if (c >= 1.0 && c <= kMaxModelOrder) lead = std::max(lead, static_cast<int32_t>(c));
    }
    sv.readers->leadingDim = lead;
    if (pl->names.count != pl->nColumns || pl->names.count != pl->nTypes || pl->names.count != pl->nForms) {
        xpmlog(kMsgProc, kMsgCosanListLengths);
        raise_error_level(sv.ctx, kLevelInternal);
    }
}

void factor_sizes(const StepView& sv, const StatementNode* node) {
    // BOUNDS and MATRIX statements up to a second model statement.
    bool bounds = false, matrix = false, seenModel = false;
    for (const StatementNode* n = sv.ctx->stmtList; n; n = n->next) {
        if (is_model_keyword(n)) {
            if (seenModel) break;
            seenModel = true;
        }
        bounds = bounds || keyword_is(n, "BOUNDS  ");
        matrix = matrix || keyword_is(n, "MATRIX  ");
    }
    if (bounds && !matrix) xpmlog(kMsgProc, kMsgFactorBoundsNames);
    sv.readers->equationModel = 0;
    sv.options->matrixForm = 1;
    const auto* pl = static_cast<const FactorPayload*>(node->payload);
    double k = pl->hasFactors ? pl->nFactors : 1.0;
    if (!(k >= 0.0) || k > kMaxModelOrder) {
        xpmlog(kMsgProc, kMsgBadColumnCount, "_F_", kMaxModelOrder, k);
        xpmplacecol(pl->line, pl->column);
        xexit(std::max(*sv.errorLevel, kLevelInputError), 0);
    }
    sv.readers->nFactors = static_cast<int32_t>(k);
    sv.readers->factorSecond = pl->hasSecond ? pl->second : 1.0;
    if (node_flag(node, kFactorFlagNegated)) sv.readers->factorSecond = -sv.readers->factorSecond;
    sv.readers->factorIdentity = node_flag(node, kFactorFlagHeywood) ? 1 : 0;
    sv.readers->factorNoUnique = node_flag(node, kFactorFlagComponent) ? 1 : 0;
    const int32_t n = sv.sizes->nManifest;
    if (sv.readers->nFactors > 0) {
        if (sv.readers->factorNoUnique) sv.readers->factorIdentity = 0;
        sv.sizes->nTerms = sv.readers->factorNoUnique ? 1 : 2;
        sv.sizes->nMatrices = sv.readers->factorNoUnique ? 2 : (sv.readers->factorIdentity ? 4 : 3);
        sv.readers->leadingDim = std::max(n, sv.readers->nFactors);
    } else {
        sv.readers->factorSecond = 1.0;
        sv.readers->factorNoUnique = 0;
        sv.sizes->nTerms = 1;
        sv.sizes->nMatrices = sv.readers->factorIdentity ? 2 : 1;
        sv.readers->leadingDim = n;
    }
}

// Whether the loadings of a FACTOR model are the exploratory pattern (a free
// element at every position on and below the diagonal, nothing but fixed
// zeros above it) and whether the factor covariances are the identity.
void settle_factor_matrix_spec(const StepView& sv) {
    const ModelMatrixTable& mt = *sv.model;
    const ElementPattern& el = *sv.elements;
    if (sv.readers->matrixSpec == 1) {
        const int32_t rows = mt.rows[1], cols = mt.columns[1];
        std::vector<char> freeAt(static_cast<size_t>(rows) * cols, 0);
        bool exploratory = true;
        for (int32_t e = mt.firstElement[1]; e < mt.firstElement[1] + mt.elementCount[1]; ++e) {
            const int32_t r = el.row[e], c = el.column[e];
            if (r < c) {
                if (el.parameter[e] != 0 || el.value[e] != 0.0) exploratory = false;
            } else if (el.parameter[e] != 0) {
                freeAt[static_cast<size_t>(r) * cols + c] = 1;
            }
        }
        for (int32_t r = 0; r < rows && exploratory; ++r)
            for (int32_t c = 0; c <= std::min(r, cols - 1); ++c)
                if (!freeAt[static_cast<size_t>(r) * cols + c]) exploratory = false;
        if (exploratory) sv.readers->matrixSpec = 0;
    }
    if (mt.type[2] != kMatIdentity) {
        const int32_t k = mt.columns[2];
        std::vector<char> unitDiagonal(static_cast<size_t>(k), 0);
        bool identity = true;
        for (int32_t e = mt.firstElement[2]; e < mt.firstElement[2] + mt.elementCount[2]; ++e) {
            const bool diagonal = el.row[e] == el.column[e];
            if (el.parameter[e] != 0 || el.value[e] != (diagonal ? 1.0 : 0.0)) identity = false;
            if (diagonal && el.parameter[e] == 0 && el.value[e] == 1.0 && el.row[e] < k) unitDiagonal[el.row[e]] = 1;
        }
        for (char d : unitDiagonal) identity = identity && d;
        if (!identity) sv.readers->matrixSpec = 2;
    }
}

// The stored inverses: the per-term layout only reports what it would
// save (message 116, written once the COSAN statement is read, before the
// element readers speak); the layout kept has every slot at once.
void lay_out_inverses(const StepView& sv, bool reportSaving) {
    velix::detail::TempPool pool(sv.ctx, 8 * (static_cast<int64_t>(sv.sizes->nMatrices) + 1) + 64);
    int32_t* work = pool.allocate<int32_t>(2 * static_cast<size_t>(sv.sizes->nMatrices) + 2);
    if (reportSaving) {
        sv.readers->perTermInverse = 0;
        const int32_t released = cosimal(sv.ctx, work);
        if (released != 0) xpmlog(kMsgProc, kMsgInverseLayoutSaving, 8 * released);
    }
    sv.readers->perTermInverse = 1;
    cosimal(sv.ctx, work);
}

}  // namespace

void model_kind_sizes(ProcContext* ctx, const StatementNode* model) {
    const StepView sv = step_view(ctx);
    if (sv.readers->ramModel) {
        sv.readers->equationModel = 1;
        sv.sizes->nTerms = 1;
        sv.sizes->nMatrices = 3;
        sv.readers->leadingDim = 0;
    } else if (sv.readers->cosanModel) {
        cosan_sizes(sv, static_cast<const CosanPayload*>(model->payload));
    } else if (sv.readers->factorModel) {
        factor_sizes(sv, model);
    }
}

void read_model_kind(ProcContext* ctx) {
    const StepView sv = step_view(ctx);
    if (sv.readers->factorModel) cosfaci(sv.ctx);
    if (sv.readers->cosanModel) {
        cosparc(sv.ctx);
        lay_out_inverses(sv, true);
    }
    if (sv.readers->lineqsModel) {
        cospare(sv.ctx);
    } else if (sv.readers->ramModel) {
        cosparr(sv.ctx);
    } else if (sv.readers->matrixSpec != 0) {
        cosparm(sv.ctx);
    } else if (sv.readers->factorModel) {
        if (sv.program->hasProgram) {
            xpmlog(kMsgProc, kMsgFactorNoProgram);
            sv.program->hasProgram = 0;
        }
        cosfacm(sv.ctx);
    }
    // Laid out again: the MATRIX statements may still have changed a
    // matrix's type (a LOWER matrix whose elements fill both triangles
    // becomes GENERAL and needs rows x columns doubles, not a packed
    // triangle), and the slots must follow the final types.
    if (sv.readers->cosanModel) lay_out_inverses(sv, false);
    if (sv.readers->factorModel && sv.readers->nFactors > 0) settle_factor_matrix_spec(sv);
}
