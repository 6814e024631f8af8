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

#include "procedure/driver/model.h"
#include "host/internal_error.h"
#include "procedure/driver/model_readers.h"
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
int32_t unique_matrix(const ProcContext* ctx) {
    if (ctx->readers.nFactors == 0) return 1;
    return ctx->readers.factorNoUnique ? 0 : 3;
}

NameRecord default_parameter_name(const char* prefix, int32_t number) {
    NameRecord r;
    znamfix(0, prefix, 2, number, 0, r.text, 8);
    r.length = 8;
    std::memset(r.text + 8, ' ', sizeof r.text - 8);
    return r;
}

void set_element(ProcContext* ctx, int32_t e, int32_t row, int32_t column, const char* prefix, int32_t number) {
    const double missing = host_missing_value();
    ctx->elements.parameter[e] = e + 1;
    ctx->elements.row[e] = row;
    ctx->elements.column[e] = column;
    ctx->elements.value[e] = missing;
    ctx->nlp->x[e] = missing;
    ctx->nlp->paramNames[e] = default_parameter_name(prefix, number);
    ctx->nlp->paramNameWidth = std::max<int32_t>(ctx->nlp->paramNameWidth, 8);
}

// Checks the VARNAMES statement of the default model (messages 273, 274);
// true when its names are to be ignored.
bool check_factor_varnames(ProcContext* ctx, const StatementNode* node) {
    if (node == nullptr) return false;
    const auto* pl = static_cast<const VarnamesPayload*>(node->payload);
    for (int32_t g = 0; g < pl->nGroups; ++g) {
        int32_t matrix = 0, second = 0;
        if (velix::detail::varnames_kind(ctx, pl->groups[g], &matrix, &second) == velix::detail::VarnamesKind::kOther) {
            xpmlog(kMsgProc, kMsgVarnamesOtherKind);
            raise_error_level(ctx, kLevelWarning);
            return true;
        }
    }
    for (int32_t g = 0; g < pl->nGroups; ++g) {
        int32_t matrix = 0, second = 0;
        const auto kind = velix::detail::varnames_kind(ctx, pl->groups[g], &matrix, &second);
        if (matrix == 0)
            xpmlog(kMsgProc, kMsgVarnamesNoMatrix, name_text(pl->groups[g].matrixName).c_str());
        if (kind == velix::detail::VarnamesKind::kCopy && second == 0)
            xpmlog(kMsgProc, kMsgVarnamesNoMatrix, name_text(pl->groups[g].names.names[0]).c_str());
    }
    return false;
}

}  // namespace

int32_t cosfaci(ProcContext* ctx) {
    ModelMatrixTable& mt = ctx->model;
    const int32_t n = ctx->nManifest, k = ctx->readers.nFactors;
    mt.termTable[0] = 1;
    if (k > 0) {
        set_matrix(mt, 1, "_F_", kMatGeneral, k);
        set_matrix(mt, 2, "_P_", kMatSymmetric, k);
        mt.termTable[1] = 3;
        if (!ctx->readers.factorNoUnique) {
            set_matrix(mt, 3, "_U_", kMatSymmetric, n);
            if (ctx->readers.factorIdentity) set_matrix(mt, 4, "_I_", kMatIdentity, n);
            mt.termTable[2] = static_cast<int16_t>(ctx->readers.factorIdentity ? 5 : 4);
        }
    } else {
        ctx->readers.factorNoUnique = 0;
        set_matrix(mt, 1, "_U_", kMatSymmetric, n);
        if (ctx->readers.factorIdentity) set_matrix(mt, 2, "_I_", kMatIdentity, n);
        mt.termTable[1] = static_cast<int16_t>(ctx->readers.factorIdentity ? 3 : 2);
    }
    int64_t largest = 1;
    for (int32_t t = 1; t <= ctx->nTerms; ++t)
        for (int32_t j = mt.termTable[t - 1]; j < mt.termTable[t]; ++j) {
            mt.rows[j] = j == mt.termTable[t - 1] ? n : mt.columns[j - 1];
            largest = std::max<int64_t>(largest, static_cast<int64_t>(mt.rows[j]) * mt.columns[j]);
        }
    ctx->readers.largestProduct = static_cast<int32_t>(std::min<int64_t>(largest, INT32_MAX));
    if (ctx->options.modelListing) cosmcon(ctx);

    // MATRIX statements that name the model's matrices.  Only _P_ (matrix
    // 2 of a model with factors) makes the state 2; without factors matrix
    // 2 is _I_.
    ctx->readers.matrixSpec = 0;
    bool namesP = false;
    for (const StatementNode* s = find_statement(ctx->stmtList, "MATRIX  "); s;
         s = find_statement(s->next, "MATRIX  ")) {
        const NameRecord& name = static_cast<const MatrixPayload*>(s->payload)->name;
        const int32_t j = velix::detail::matrix_number(ctx, name);
        if (j == 0) {
            xpmlog(kMsgProc, kMsgMatrixNotInModel, name_text(name).c_str());
            continue;
        }
        ctx->readers.matrixSpec = 1;
        namesP = namesP || (j == 2 && k > 0);
    }
    if (namesP) ctx->readers.matrixSpec = 2;
    velix::detail::exit_above(ctx, kLevelStepEnds);
    return ctx->errorLevel;
}

void setload(int32_t* counter, ProcContext* ctx, int32_t mode1, int32_t mode2) {
    if (mode1 != 1 || mode2 != 0) {
        internal_error("setload has only the lower-trapezoidal pattern");
    }
    const int32_t n = ctx->model.rows[1], k = ctx->model.columns[1];
    int32_t number = 0;
    for (int32_t j = 0; j < k; ++j)
        for (int32_t i = j; i < n; ++i) set_element(ctx, (*counter)++, i, j, "_F", ++number);
}

void cosfacm(ProcContext* ctx) {
    ModelMatrixTable& mt = ctx->model;
    const int32_t n = ctx->nManifest;
    const int32_t u = unique_matrix(ctx);
    // 1. Default types.
    if (ctx->readers.nFactors > 0) {
        mt.type[1] = kMatLower;
        velix::detail::type_change_note(ctx, 1, kMsgTypeLowerTriangular);
        mt.type[2] = kMatIdentity;
        mt.constant[2] = 1;
        velix::detail::type_change_note(ctx, 2, kMsgTypeIdentity);
    }
    if (u > 0) {
        mt.type[u] = kMatDiagonal;
        velix::detail::type_change_note(ctx, u, kMsgTypeDiagonal);
    }
    // 2. No more factors than manifest variables.
    int32_t k = ctx->readers.nFactors;
    if (k > n) {
        xpmlog(kMsgProc, kMsgTooManyFactors, k, n);
        k = n;
        ctx->readers.nFactors = k;
        mt.columns[1] = mt.columns[2] = mt.rows[2] = k;
    }
    // 3. Element counts: loadings, then the unique variances.
    const int32_t loadings = k > 0 ? n * k - k * (k - 1) / 2 : 0;
    const int32_t total = loadings + (u > 0 ? n : 0);
    for (int32_t j = 1; j <= ctx->nMatrices; ++j) {
        mt.firstElement[j] = j == 1 ? 0 : mt.firstElement[j - 1] + mt.elementCount[j - 1];
        mt.elementCount[j] = j == u ? n : (j == 1 && k > 0 ? loadings : 0);
        mt.constant[j] = mt.elementCount[j] == 0 ? 1 : 0;
    }
    if (total > ctx->nMoments) {
        xpmlog(kMsgProc, kMsgTooManyParameters, total, ctx->nMoments);
        raise_error_level(ctx, kLevelWarning);
    }
    ctx->nParmAll = ctx->nParmFree = ctx->nElements = ctx->readers.nNamedPositions = total;
    ctx->nParmAdded = ctx->nParmDep = 0;
    ctx->invStoreLen = 0;
    velix::detail::exit_above(ctx, kLevelStepEnds);

    // 4. VARNAMES; PARAMETERS and STRUCTEQ have no place in this model.
    const StatementNode* varnames = find_statement(ctx->stmtList, "VARNAMES");
    const bool ignoreNames = check_factor_varnames(ctx, varnames);
    if (find_statement(ctx->stmtList, "PARAMETE") != nullptr)
        xpmlog(kMsgProc, kMsgFactorNoParameters);
    if (find_statement(ctx->stmtList, "STRUCTEQ") != nullptr)
        xpmlog(kMsgProc, kMsgFactorNoStructeq);

    // 6. Optimizer sizes and per-parameter arrays.
    cospopt(1, ctx, ctx->nlp);

    // 7. The model pool and the element pattern.
    create_element_pattern(ctx, 20 * static_cast<int64_t>(total) + 4096, total);
    ctx->nlp->paramNameWidth = 0;

    // 8. Loadings, then the unique variances on the diagonal of _U_.
    int32_t e = 0;
    if (k > 0) setload(&e, ctx, 1, 0);
    if (u > 0)
        for (int32_t i = 0; i < n; ++i) set_element(ctx, e++, i, i, "_U", i + 1);
    velix::detail::exit_above(ctx, kLevelStepEnds);

    // 9. Constraints and PROFILE.
    cospopt(2, ctx, ctx->nlp);

    // 10-11. Column names.
    velix::detail::factor_column_names(ctx, varnames, ignoreNames);
}

namespace velix::detail {

void factor_column_names(ProcContext* ctx, const StatementNode* varnames, bool ignored) {
    ModelMatrixTable& mt = ctx->model;
    const int32_t u = unique_matrix(ctx);
    struct Part {
        int32_t matrix;
        const char* prefix;
    };
    const Part parts[] = {{ctx->readers.nFactors > 0 ? 1 : 0, "FACT"},
                          {ctx->readers.nFactors > 0 ? 2 : 0, "FCOR"},
                          {u, "UVAR"}};
    int32_t total = 0;
    for (const Part& p : parts)
        if (p.matrix > 0) total += mt.columns[p.matrix];
    ctx->readers.nColumnNames = total;
    if (total == 0) return;
    ctx->readers.columnNames = table_array<NameRecord>(ctx, static_cast<size_t>(total));
    int32_t next = 0;
    for (const Part& p : parts) {
        if (p.matrix == 0) continue;
        mt.firstColumnName[p.matrix] = next + 1;
        for (int32_t c = 1; c <= mt.columns[p.matrix]; ++c) {
            NameRecord r;
            znamfix(0, p.prefix, 4, c, 0, r.text, 8);
            r.length = 8;
            std::memset(r.text + 8, ' ', sizeof r.text - 8);
            ctx->readers.columnNames[next++] = r;
        }
    }
    if (varnames == nullptr || ignored) return;
    const auto* pl = static_cast<const VarnamesPayload*>(varnames->payload);
    for (int32_t g = 0; g < pl->nGroups; ++g) {
        int32_t matrix = 0, second = 0;
        if (varnames_kind(ctx, pl->groups[g], &matrix, &second) != VarnamesKind::kList || matrix == 0) continue;
        const NameArray& names = pl->groups[g].names;
        // A matrix without column names of its own (_I_) has no room.
        const int32_t first = mt.firstColumnName[matrix];
        const int32_t room = first > 0 ? mt.columns[matrix] : 0;
        if (names.count < room)
            xpmlog(kMsgProc, kMsgVarnamesFewer, name_text(mt.name[matrix]).c_str(), names.count,
                   room);
        if (names.count > room)
            xpmlog(kMsgProc, kMsgVarnamesMore, name_text(mt.name[matrix]).c_str(), names.count,
                   room);
        for (int32_t i = 0; i < std::min(names.count, room); ++i)
            ctx->readers.columnNames[first - 1 + i] = padded8(names.names[i]);
    }
}

}  // namespace velix::detail
