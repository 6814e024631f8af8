// The model dispatcher and the model matrix table.  Every model is held as
// a sum of terms, each a product F1 ... Fk P Fk' ... F1' of typed matrices
// around a central matrix P (the covariance structure form of McDonald,
// "A simple comprehensive model for the analysis of covariance structures",
// Brit. J. Math. Statist. Psych. 1978).  cospari picks the model kind from
// the first model statement, sizes and allocates the table and calls the
// reader of that kind; cosmcon prints the table.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>
#include <string>

#include "host/output_table.h"
#include "procedure/driver/model.h"
#include "procedure/driver/model_readers.h"
#include "procedure/driver/step_view.h"
#include "velix/messages.h"

namespace {

const char* const kTypeNames[15] = {"",        "IDENTITY",  "ZERIDENTITY", "DIAGONAL",
                                    "ZERDIAGONAL", "LOWER", "UPPER",       "POSDEFINIT",
                                    "SYMMETRIC", "GENERAL", "BETA",        "PERMUTATION",
                                    "SELECTION", "EQSBETA", "EQSGAMMA"};
const char* const kFormNames[3] = {"", "INVERSE", "IMINUSINV"};

bool keyword_is(const StatementNode* n, const char* k8) { return std::memcmp(n->keyword, k8, 8) == 0; }

template <typename T>
T* carve(HostAllocator* pool, size_t n) {
    void* p = pool->allocate(pool, sizeof(T) * (n == 0 ? 1 : n), 4);
    if (p == nullptr) return nullptr;
    std::memset(p, 0, sizeof(T) * (n == 0 ? 1 : n));
    return static_cast<T*>(p);
}

// The input-model echo: matrix form when asked for, else the RAM list or
// the equations; other models are shown in matrix form only.
void echo_input_model(const StepView& sv) {
    const InputModelEcho& echo = input_model_echo();
    void (*printer)(ProcContext*, int32_t) = sv.options->matrixForm ? echo.matrixForm
                                             : sv.readers->ramModel  ? echo.ramList
                                             : sv.readers->lineqsModel ? echo.equations
                                                                        : nullptr;
    if (printer != nullptr) printer(sv.ctx, 0);
}

}  // namespace

InputModelEcho& input_model_echo() {
    static InputModelEcho echo;
    return echo;
}

const char* matrix_type_name(int32_t type) { return type >= 0 && type <= 14 ? kTypeNames[type] : kTypeNames[14]; }
const char* matrix_form_name(int32_t form) { return form >= 0 && form <= 2 ? kFormNames[form] : ""; }

namespace {

// The statement's keyword without its padding.
std::string keyword_text(const StatementNode* n) {
    std::string k(n->keyword, 8);
    return k.substr(0, k.find(' '));
}

// A second model statement.  One of the kind already read splits a model
// that belongs in one statement (a cross-loading added as a second LINEQS
// statement): reading the first alone would fit another model than the one
// written and report it as a success, so it ends the step.  One of another
// kind is left out with a warning and the first stays in force.
void second_model_statement(const StepView& sv, const StatementNode* n, const char* kindInForce) {
    const std::string kw = keyword_text(n);
    if (kw == kindInForce) {
        const char* parts = kw == "LINEQS" ? "equations" : kw == "RAM" ? "entries" : kw == "COSAN" ? "terms" : "options";
        xpmlog(kMsgProc, kMsgSecondModelStatement, kw.c_str(), parts, kw.c_str());
        xpmplacecol(n->line, n->column);
        xexit(std::max(*sv.errorLevel, kLevelInputError), 0);
    }
    xpmlog(kMsgProc, kMsgSecondModelKind, kw.c_str(), kindInForce);
    xpmplacecol(n->line, n->column);
}

// The first model statement decides the kind.  STD and COV before any model
// statement make a LINEQS model; a later COSAN, RAM or FACTOR statement is
// then a second model kind and is reported as such.  Returns the model
// statement (none for a LINEQS model made by STD and COV alone).
const StatementNode* find_model_kind(const StepView& sv) {
    sv.readers->perTermInverse = 1;
    sv.readers->lineqsModel = sv.readers->cosanModel = sv.readers->ramModel =
        sv.readers->factorModel = 0;
    const StatementNode* model = nullptr;
    bool found = false, stdOrCov = false;
    for (const StatementNode* n = sv.ctx->stmtList; n; n = n->next) {
        const bool isModel = keyword_is(n, "LINEQS  ") || keyword_is(n, "COSAN   ") ||
                             keyword_is(n, "RAM     ") || keyword_is(n, "FACTOR  ");
        if (isModel) {
            if (found || (stdOrCov && !keyword_is(n, "LINEQS  "))) {
                second_model_statement(sv, n, found ? keyword_text(model).c_str() : "LINEQS");
                break;
            }
            found = true;
            model = n;
            if (keyword_is(n, "LINEQS  ")) sv.readers->lineqsModel = 1;
            if (keyword_is(n, "COSAN   ")) sv.readers->cosanModel = 1;
            if (keyword_is(n, "RAM     ")) sv.readers->ramModel = 1;
            if (keyword_is(n, "FACTOR  ")) sv.readers->factorModel = 1;
        } else if ((keyword_is(n, "STD     ") || keyword_is(n, "COV     ")) && !found) {
            sv.readers->lineqsModel = 1;
            stdOrCov = true;
        }
    }
    return model;
}

// The table pool and the per-term and per-matrix arrays of the model table.
void allocate_model_table(const StepView& sv) {
    const int64_t m = sv.sizes->nMatrices, t = sv.sizes->nTerms;
    const int64_t estimate = 6 * (t + 1) + 72 * (m + 1) + sizeof(NameRecord) * (m + 1) + 4096;
    HostAllocator* pool = xmpoolc(estimate, 1024, 4096);
    if (pool == nullptr) {
        xmemmsg(estimate);
        xexit(std::max(*sv.errorLevel, kLevelNoMemory), 0);
    }
    sv.pools->runPool[1] = pool;
    ModelMatrixTable& mt = *sv.model;
    mt.termTable = carve<int16_t>(pool, t + 1);
    mt.termDefiniteness = carve<int32_t>(pool, t + 1);
    mt.parmNameWidth = carve<int16_t>(pool, m + 1);
    mt.form = carve<int16_t>(pool, m + 1);
    mt.type = carve<int16_t>(pool, m + 1);
    mt.sameName = carve<int16_t>(pool, m + 1);
    mt.inverseReuse = carve<uint16_t>(pool, m + 1);
    mt.name = carve<NameRecord>(pool, m + 1);
    mt.inverseValid = carve<int16_t>(pool, m + 1);
    mt.constant = carve<int16_t>(pool, m + 1);
    mt.rows = carve<int32_t>(pool, m + 1);
    mt.columns = carve<int32_t>(pool, m + 1);
    mt.firstColumnName = carve<int32_t>(pool, m + 1);
    mt.inverseOffset = carve<int32_t>(pool, m + 1);
    mt.firstElement = carve<int32_t>(pool, m + 1);
    mt.elementCount = carve<int32_t>(pool, m + 1);
    const void* arrays[] = {mt.termTable, mt.termDefiniteness, mt.parmNameWidth, mt.form, mt.type,
                            mt.sameName, mt.inverseReuse, mt.name, mt.inverseValid, mt.constant,
                            mt.rows, mt.columns, mt.firstColumnName, mt.inverseOffset,
                            mt.firstElement, mt.elementCount};
    // Any array the pool could not give ends the step, not only the last.
    if (std::find(std::begin(arrays), std::end(arrays), nullptr) != std::end(arrays)) {
        xmemmsg(20000 + 1);
        xexit(std::max(*sv.errorLevel, kLevelNoMemory), 0);
    }
    sv.readers->matrixSpec = 0;
}

// The widths of the column, matrix and parameter names.
void name_widths(const StepView& sv) {
    ModelMatrixTable& mt = *sv.model;
    int32_t colWidth = sv.input->varNameWidth;
    for (int32_t i = 0; i < sv.readers->nColumnNames; ++i)
        colWidth = std::max<int32_t>(colWidth, sv.readers->columnNames[i].length);
    sv.readers->colNameWidth = colWidth;
    int32_t parmWidth = 0;
    for (int32_t k = 1; k <= sv.sizes->nMatrices; ++k) {
        int32_t w = 0;
        for (int32_t e = mt.firstElement[k]; e < mt.firstElement[k] + mt.elementCount[k]; ++e) {
            int32_t p = std::abs(sv.elements->parameter[e]);
            if (p > 0 && sv.nlp->param.paramNames) w = std::max<int32_t>(w, sv.nlp->param.paramNames[p - 1].length);
        }
        mt.parmNameWidth[k] = static_cast<int16_t>(w);
        parmWidth = std::max(parmWidth, w);
    }
    for (int32_t p = 0; p < sv.sizes->nParmAll && sv.nlp->param.paramNames; ++p)
        parmWidth = std::max<int32_t>(parmWidth, sv.nlp->param.paramNames[p].length);
    sv.readers->parmNameWidth = parmWidth;
}

}  // namespace

void cospari(ProcContext* ctx) {
    const StepView sv = step_view(ctx);
    // The "ModelSpec" group.
    if (sv.output->kyrGroups[kGroupModelSpec] == nullptr)
        sv.output->kyrGroups[kGroupModelSpec] = open_output_group(
            sv.output->kyrManager, "ModelSpec", kyrmsg(kMsgProc, kMsgModelSpecification));

    const StatementNode* model = find_model_kind(sv);

    // Sizes by kind.
    if (sv.readers->lineqsModel) {
        sv.readers->equationModel = 1;
        sv.sizes->nTerms = 1;
        sv.sizes->nMatrices = 4;
        sv.readers->leadingDim = 0;
        int nStd = 0, nCov = 0;
        for (const StatementNode* n = sv.ctx->stmtList; n; n = n->next) {
            nStd += keyword_is(n, "STD     ");
            nCov += keyword_is(n, "COV     ");
        }
        if (nStd > 1 || nCov > 1) {
            xpmlog(kMsgProc, kMsgStdCovOnce);
            xexit(std::max(*sv.errorLevel, kLevelInputError), 0);
        }
    } else if (sv.readers->ramModel || sv.readers->cosanModel || sv.readers->factorModel) {
        model_kind_sizes(sv.ctx, model);
    } else {
        xpmlog(kMsgProc, kMsgNoModel);
        xexit(std::max(*sv.errorLevel, kLevelInputError), 0);
    }

    allocate_model_table(sv);

    // The reader.
    read_model_kind(sv.ctx);

    name_widths(sv);

    // The input model as read, in the form that suits it.
    if (sv.options->printInputModel) echo_input_model(sv);

    // Close the group.
    if (sv.output->kyrGroups[kGroupModelSpec]) {
        close_output_group(sv.output->kyrGroups[kGroupModelSpec]);
        sv.output->kyrGroups[kGroupModelSpec] = nullptr;
    }
}

void cosmcon(ProcContext* ctx) {
    const StepView sv = step_view(ctx);
    if (!sv.options->printEnabled) return;
    const ModelMatrixTable& mt = *sv.model;
    int32_t width = 1;
    for (int32_t k = 1; k <= sv.sizes->nMatrices; ++k) width = std::max<int32_t>(width, mt.name[k].length);
    const int32_t titleText = sv.readers->cosanModel    ? 418
                              : sv.readers->lineqsModel ? 419
                              : sv.readers->ramModel    ? 420
                                                         : 421;
    OutputTable table(sv.output->kyrManager, "ModelStatement", kyrmsg(kMsgProc, kMsgModelStatement),
                      "Tesk.Velix.ModelStatement", kyrmsg(kMsgProc, titleText));
    table.text_column("Term", 10);
    table.int_column("Index");
    table.text_column("Matrix", width);
    table.double_column("Rows");
    table.double_column("Columns");
    table.text_column("Type1", 11);
    table.text_column("Type2", 9);
    if (!table.end_columns()) return;
    for (int32_t term = 1; term <= sv.sizes->nTerms; ++term) {
        for (int32_t k = mt.termTable[term - 1]; k < mt.termTable[term]; ++k) {
            std::string label = k == mt.termTable[term - 1] ? "Term " + std::to_string(term) : "";
            table.set_text(0, label);
            table.set_int(1, k);
            table.set_text(2, std::string(mt.name[k].text, mt.name[k].length));
            table.set_double(3, mt.rows[k]);
            table.set_double(4, mt.columns[k]);
            table.set_text(5, matrix_type_name(mt.type[k]));
            table.set_text(6, matrix_form_name(mt.form[k]));
            if (!table.add_row()) return;
        }
    }
    table.deliver();
}
