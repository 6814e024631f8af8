// The FACTOR model: the common factor model Sigma = F P F' + U (Lawley and
// Maxwell, "Factor Analysis as a Statistical Method", 1971), held as one
// term _F_ _P_ _F_' and a unique part _U_ (or _U_ _I_ _U_', which keeps the
// unique variances nonnegative).  cosfaci sets up the matrices; when no
// MATRIX statement names them, cosfacm builds the exploratory model
// directly: lower-trapezoidal loadings (the k(k-1)/2 zeros above the
// diagonal remove the rotational indeterminacy), identity factor
// covariances and free unique variances, each element its own parameter.
//
//   cosfaci: matrices, rows, ModelStatement, which matrices MATRIX names
//   cosfacm: default types -> k <= n -> element counts -> VARNAMES checks
//            -> optimizer sizes -> element pattern and parameter names ->
//            optimizer set-up -> column names
#include <algorithm>
#include <cstring>
#include <utility>

#include "procedure/driver/model.h"
#include "host/internal_error.h"
#include "procedure/driver/model_readers.h"
#include "procedure/driver/step_view.h"
#include "velix/messages.h"

namespace {

using velix::detail::make_name;
using velix::detail::name_text;

void set_matrix(ModelMatrixTable& mt, int32_t k, const char* name, int16_t type, int32_t columns) {
    mt.name[k] = make_name(name);
    mt.type[k] = type;
    mt.form[k] = kFormNone;
    mt.columns[k] = columns;
    mt.constant[k] = type == kMatIdentity ? 1 : 0;
}

// The unique part's matrix _U_: 3 with factors, 1 without.
int32_t unique_matrix(const StepView& sv) {
    if (sv.readers->nFactors == 0) return 1;
    return sv.readers->factorNoUnique ? 0 : 3;
}

NameRecord default_parameter_name(const char* prefix, int32_t number) {
    NameRecord r;
    znamfix(0, prefix, 2, number, 0, r.text, 8);
    r.length = 8;
    std::memset(r.text + 8, ' ', sizeof r.text - 8);
    return r;
}

void set_element(const StepView& sv, int32_t e, int32_t row, int32_t column, const char* prefix, int32_t number) {
    const double missing = host_missing_value();
    sv.elements->parameter[e] = e + 1;
    sv.elements->row[e] = row;
    sv.elements->column[e] = column;
    sv.elements->value[e] = missing;
    sv.nlp->param.x[e] = missing;
    sv.nlp->param.paramNames[e] = default_parameter_name(prefix, number);
    sv.nlp->param.paramNameWidth = std::max<int32_t>(sv.nlp->param.paramNameWidth, 8);
}

// Checks the VARNAMES statement of the default model (messages 273, 274);
// true when its names are to be ignored.
bool check_factor_varnames(const StepView& sv, const StatementNode* node) {
    if (node == nullptr) return false;
    const auto* pl = static_cast<const VarnamesPayload*>(node->payload);
    for (int32_t g = 0; g < pl->nGroups; ++g) {
        int32_t matrix = 0, second = 0;
        if (velix::detail::varnames_kind(sv.ctx, pl->groups[g], &matrix, &second) == velix::detail::VarnamesKind::kOther) {
            xpmlog(kMsgProc, kMsgVarnamesOtherKind);
            xpmplace(pl->groups[g].line, nullptr);
            raise_error_level(sv.ctx, kLevelWarning);
            return true;
        }
    }
    for (int32_t g = 0; g < pl->nGroups; ++g) {
        int32_t matrix = 0, second = 0;
        const auto kind = velix::detail::varnames_kind(sv.ctx, pl->groups[g], &matrix, &second);
        for (const NameRecord* missing : {matrix == 0 ? &pl->groups[g].matrixName : nullptr,
                                          kind == velix::detail::VarnamesKind::kCopy && second == 0
                                              ? &pl->groups[g].names.names[0]
                                              : nullptr})
            if (missing != nullptr) {
                xpmlog(kMsgProc, kMsgVarnamesNoMatrix, name_text(*missing).c_str());
                xpmplace(pl->groups[g].line, name_text(*missing).c_str());
            }
    }
    return false;
}

}  // namespace

int32_t cosfaci(ProcContext* ctx) {
    const StepView sv = step_view(ctx);
    ModelMatrixTable& mt = *sv.model;
    const int32_t n = sv.sizes->nManifest, k = sv.readers->nFactors;
    // The common factor model has no term for a constant: under AUGMENT it
    // would take Intercept for a variable with loadings and a unique
    // variance, and fit moments about zero as if they were covariances.
    if (sv.options->interceptVar) {
        xpmlog(kMsgProc, kMsgInterceptIsConstant, "the FACTOR statement",
               "loadings and a unique variance (a model with means is written in LINEQS or RAM)");
        raise_error_level(sv.ctx, kLevelInputError);
        velix::detail::exit_above(sv.ctx, kLevelStepEnds);
    }
    mt.termTable[0] = 1;
    if (k > 0) {
        set_matrix(mt, 1, "_F_", kMatGeneral, k);
        set_matrix(mt, 2, "_P_", kMatSymmetric, k);
        mt.termTable[1] = 3;
        if (!sv.readers->factorNoUnique) {
            set_matrix(mt, 3, "_U_", kMatSymmetric, n);
            if (sv.readers->factorIdentity) set_matrix(mt, 4, "_I_", kMatIdentity, n);
            mt.termTable[2] = static_cast<int16_t>(sv.readers->factorIdentity ? 5 : 4);
        }
    } else {
        sv.readers->factorNoUnique = 0;
        set_matrix(mt, 1, "_U_", kMatSymmetric, n);
        if (sv.readers->factorIdentity) set_matrix(mt, 2, "_I_", kMatIdentity, n);
        mt.termTable[1] = static_cast<int16_t>(sv.readers->factorIdentity ? 3 : 2);
    }
    int64_t largest = 1;
    for (int32_t t = 1; t <= sv.sizes->nTerms; ++t)
        for (int32_t j = mt.termTable[t - 1]; j < mt.termTable[t]; ++j) {
            mt.rows[j] = j == mt.termTable[t - 1] ? n : mt.columns[j - 1];
            largest = std::max<int64_t>(largest, static_cast<int64_t>(mt.rows[j]) * mt.columns[j]);
        }
    sv.readers->largestProduct = static_cast<int32_t>(std::min<int64_t>(largest, INT32_MAX));
    if (sv.options->modelListing) cosmcon(sv.ctx);

    // MATRIX statements that name the model's matrices.  Only _P_ (matrix
    // 2 of a model with factors) makes the state 2; without factors matrix
    // 2 is _I_.
    sv.readers->matrixSpec = 0;
    bool namesP = false;
    for (const StatementNode* s = find_statement(sv.ctx->stmtList, "MATRIX  "); s;
         s = find_statement(s->next, "MATRIX  ")) {
        const NameRecord& name = static_cast<const MatrixPayload*>(s->payload)->name;
        const int32_t j = velix::detail::matrix_number(sv.ctx, name);
        if (j == 0) {
            xpmlog(kMsgProc, kMsgMatrixNotInModel, name_text(name).c_str());
            xpmplace(s->line, name_text(name).c_str());
            continue;
        }
        sv.readers->matrixSpec = 1;
        namesP = namesP || (j == 2 && k > 0);
    }
    if (namesP) sv.readers->matrixSpec = 2;
    velix::detail::exit_above(sv.ctx, kLevelStepEnds);
    return *sv.errorLevel;
}

void setload(int32_t* counter, ProcContext* ctx, int32_t mode1, int32_t mode2) {
    const StepView sv = step_view(ctx);
    if (mode1 != 1 || mode2 != 0) {
        internal_error("setload has only the lower-trapezoidal pattern");
    }
    const int32_t n = sv.model->rows[1], k = sv.model->columns[1];
    int32_t number = 0;
    for (int32_t j = 0; j < k; ++j)
        for (int32_t i = j; i < n; ++i) set_element(sv, (*counter)++, i, j, "_F", ++number);
}

void cosfacm(ProcContext* ctx) {
    const StepView sv = step_view(ctx);
    ModelMatrixTable& mt = *sv.model;
    const int32_t n = sv.sizes->nManifest;
    const int32_t u = unique_matrix(sv);
    // 1. Default types.
    if (sv.readers->nFactors > 0) {
        mt.type[1] = kMatLower;
        velix::detail::type_change_note(sv.ctx, 1, kMsgTypeLowerTriangular);
        mt.type[2] = kMatIdentity;
        mt.constant[2] = 1;
        velix::detail::type_change_note(sv.ctx, 2, kMsgTypeIdentity);
    }
    if (u > 0) {
        mt.type[u] = kMatDiagonal;
        velix::detail::type_change_note(sv.ctx, u, kMsgTypeDiagonal);
    }
    // 2. No more factors than manifest variables.
    int32_t k = sv.readers->nFactors;
    if (k > n) {
        xpmlog(kMsgProc, kMsgTooManyFactors, k, n);
        const StatementNode* factor = find_statement(sv.ctx->stmtList, "FACTOR  ");
        if (factor != nullptr) {
            const auto* pl = static_cast<const FactorPayload*>(factor->payload);
            xpmplacecol(pl->line, pl->column);
        }
        k = n;
        sv.readers->nFactors = k;
        mt.columns[1] = mt.columns[2] = mt.rows[2] = k;
    }
    // 3. Element counts: loadings, then the unique variances.
    const int32_t loadings = k > 0 ? n * k - k * (k - 1) / 2 : 0;
    const int32_t total = loadings + (u > 0 ? n : 0);
    for (int32_t j = 1; j <= sv.sizes->nMatrices; ++j) {
        mt.firstElement[j] = j == 1 ? 0 : mt.firstElement[j - 1] + mt.elementCount[j - 1];
        mt.elementCount[j] = j == u ? n : (j == 1 && k > 0 ? loadings : 0);
        mt.constant[j] = mt.elementCount[j] == 0 ? 1 : 0;
    }
    if (total > sv.sizes->nMoments) {
        xpmlog(kMsgProc, kMsgTooManyParameters, total, sv.sizes->nMoments);
        raise_error_level(sv.ctx, kLevelWarning);
    }
    sv.sizes->nParmAll = sv.sizes->nParmFree = sv.sizes->nElements = sv.readers->nNamedPositions = total;
    sv.sizes->nParmAdded = sv.sizes->nParmDep = 0;
    sv.sizes->invStoreLen = 0;
    velix::detail::exit_above(sv.ctx, kLevelStepEnds);

    // 4. VARNAMES; PARAMETERS and STRUCTEQ have no place in this model.
    const StatementNode* varnames = find_statement(sv.ctx->stmtList, "VARNAMES");
    const bool ignoreNames = check_factor_varnames(sv, varnames);
    for (const auto& [keyword, message] : {std::pair{"PARAMETE", kMsgFactorNoParameters},
                                           std::pair{"STRUCTEQ", kMsgFactorNoStructeq}})
        if (const StatementNode* s = find_statement(sv.ctx->stmtList, keyword)) {
            xpmlog(kMsgProc, message);
            xpmplace(s->line, nullptr);
        }

    // 6. Optimizer sizes and per-parameter arrays.
    cospopt(1, sv.ctx, sv.nlp);

    // 7. The model pool and the element pattern.
    create_element_pattern(sv.ctx, 20 * static_cast<int64_t>(total) + 4096, total);
    sv.nlp->param.paramNameWidth = 0;

    // 8. Loadings, then the unique variances on the diagonal of _U_.
    int32_t e = 0;
    if (k > 0) setload(&e, sv.ctx, 1, 0);
    if (u > 0)
        for (int32_t i = 0; i < n; ++i) set_element(sv, e++, i, i, "_U", i + 1);
    velix::detail::exit_above(sv.ctx, kLevelStepEnds);

    // 9. Constraints and PROFILE.
    cospopt(2, sv.ctx, sv.nlp);

    // 10-11. Column names.
    velix::detail::factor_column_names(sv.ctx, varnames, ignoreNames);
}

namespace velix::detail {

void factor_column_names(ProcContext* ctx, const StatementNode* varnames, bool ignored) {
    const StepView sv = step_view(ctx);
    ModelMatrixTable& mt = *sv.model;
    const int32_t u = unique_matrix(sv);
    struct Part {
        int32_t matrix;
        const char* prefix;
    };
    const Part parts[] = {{sv.readers->nFactors > 0 ? 1 : 0, "FACT"},
                          {sv.readers->nFactors > 0 ? 2 : 0, "FCOR"},
                          {u, "UVAR"}};
    int32_t total = 0;
    for (const Part& p : parts)
        if (p.matrix > 0) total += mt.columns[p.matrix];
    sv.readers->nColumnNames = total;
    if (total == 0) return;
    sv.readers->columnNames = table_array<NameRecord>(sv.ctx, static_cast<size_t>(total));
    int32_t next = 0;
    for (const Part& p : parts) {
        if (p.matrix == 0) continue;
        mt.firstColumnName[p.matrix] = next + 1;
        for (int32_t c = 1; c <= mt.columns[p.matrix]; ++c) {
            NameRecord r;
            znamfix(0, p.prefix, 4, c, 0, r.text, 8);
            r.length = 8;
            std::memset(r.text + 8, ' ', sizeof r.text - 8);
            sv.readers->columnNames[next++] = r;
        }
    }
    if (varnames == nullptr || ignored) return;
    const auto* pl = static_cast<const VarnamesPayload*>(varnames->payload);
    for (int32_t g = 0; g < pl->nGroups; ++g) {
        int32_t matrix = 0, second = 0;
        if (varnames_kind(sv.ctx, pl->groups[g], &matrix, &second) != VarnamesKind::kList || matrix == 0) continue;
        const NameArray& names = pl->groups[g].names;
        // A matrix without column names of its own (_I_) has no room.
        const int32_t first = mt.firstColumnName[matrix];
        const int32_t room = first > 0 ? mt.columns[matrix] : 0;
        if (names.count != room) {
            xpmlog(kMsgProc, names.count < room ? kMsgVarnamesFewer : kMsgVarnamesMore,
                   name_text(mt.name[matrix]).c_str(), names.count, room);
            xpmplace(pl->groups[g].line, name_text(pl->groups[g].matrixName).c_str());
        }
        for (int32_t i = 0; i < std::min(names.count, room); ++i)
            sv.readers->columnNames[first - 1 + i] = padded8(names.names[i]);
    }
}

}  // namespace velix::detail
