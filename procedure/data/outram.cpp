// The OUTRAM= data set: a fitted model in rows from which INRAM= rebuilds
// it.  MODEL rows give each matrix's shape, type and form, VARNAME rows the
// column names (first BY group only); then the METHOD row, the STAT rows
// of the fit summary, one ESTIM row per element of every matrix with its
// estimate and standard error, and ADD_PARM rows for the parameters the
// programming statements read that no element carries.
//
//   MODEL, VARNAME (first group) -> METHOD -> STAT (not NONE; ULS and DWLS
//   stop after N_ACT) -> ESTIM -> ADD_PARM
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/host_support.h"
#include "procedure/data/data.h"
#include "procedure/data/data_view.h"
#include "procedure/procedure.h"
#include "velix/codes.h"
#include "velix/results_state.h"

namespace {

constexpr int32_t kTermMultiplier = 10000;

struct RamWriter {
    DataView dv;
    double missing = host_missing_value();

    void type(const char* t) {
        std::memset(dv.dataSets->outRow.type, ' ', 8);
        std::memcpy(dv.dataSets->outRow.type, t, std::strlen(t));
    }
    void name(const char* text, size_t length) {
        std::memset(dv.dataSets->outRow.name.text, ' ', 32);
        std::memcpy(dv.dataSets->outRow.name.text, text, std::min<size_t>(length, 32));
        dv.dataSets->outRow.name.length = 32;
    }
    void name(const std::string& text) { name(text.data(), text.size()); }
    void name(const NameRecord& r) { name(r.text, static_cast<size_t>(std::max<int16_t>(r.length, 0))); }
    void cells(double matnr, double row, double col, double estim, double stderr) {
        double* c = dv.cells->ramRow;
        c[0] = matnr;
        c[1] = row;
        c[2] = col;
        c[3] = estim;
        c[4] = stderr;
    }
    void write() { cos_write_row(dv.ctx, kRoleOutram); }
};

// Matrix k of term t (both 1-based) as _MATNR_: k alone in a one-term model.
double matrix_number(const DataView& dv, int32_t term, int32_t k) {
    return dv.sizes->nTerms > 1 ? static_cast<double>(kTermMultiplier) * term + k : k;
}

const char* method_name(int32_t method) {
    switch (method) {
        case kMethodUls: return "ULS";
        case kMethodGls: return "GLS";
        case kMethodMl: return "ML";
        case kMethodWls: return "WLS";
        case kMethodDwls: return "DWLS";
        default: return "NONE";
    }
}

// Whether matrix k's column names are written: LINEQS keeps them for _SEL_
// only, RAM for _A_ and _P_ only.
bool names_written(const DataView& dv, int32_t k) {
    if (dv.readers->lineqsModel) return k == 1;
    if (dv.readers->ramModel) return k == 2 || k == 3;
    return true;
}

void model_rows(RamWriter& w) {
    const DataView& dv = w.dv;
    const ModelMatrixTable& mt = *dv.model;
    w.type("MODEL");
    for (int32_t t = 1; t <= dv.sizes->nTerms; ++t)
        for (int32_t k = mt.termTable[t - 1]; k < mt.termTable[t]; ++k) {
            w.name(mt.name[k]);
            w.cells(matrix_number(dv, t, k), mt.rows[k], mt.columns[k], mt.type[k], mt.form[k]);
            w.write();
        }
    if (dv.readers->nColumnNames <= 0 || dv.readers->columnNames == nullptr) return;
    w.type("VARNAME");
    for (int32_t t = 1; t <= dv.sizes->nTerms; ++t)
        for (int32_t k = mt.termTable[t - 1]; k < mt.termTable[t]; ++k) {
            if (!names_written(dv, k) || mt.firstColumnName[k] == 0 || mt.columns[k] <= 0) continue;
            for (int32_t c = 1; c <= mt.columns[k]; ++c) {
                const int32_t entry = mt.firstColumnName[k] + c - 2;
                if (entry < 0 || entry >= dv.readers->nColumnNames) break;
                w.name(dv.readers->columnNames[entry]);
                w.cells(matrix_number(dv, t, k), w.missing, c, w.missing, w.missing);
                w.write();
            }
        }
}

void stat_rows(RamWriter& w, int32_t method) {
    const DataView& dv = w.dv;
    const bool few = method == kMethodUls || method == kMethodDwls;
    const FitStatistics* stats = dv.results->fitStatsValid ? &dv.results->fitStats : nullptr;
    auto stat = [&](const char* key, double value) {
        w.name(key, std::strlen(key));
        w.cells(w.missing, w.missing, w.missing, value, w.missing);
        w.write();
    };
    auto fitted = [&](const char* key) {
        bool found = false;
        const double v = stats != nullptr ? fit_stat_value(stats, key, &found) : w.missing;
        return stats != nullptr && found ? v : w.missing;
    };
    w.type("STAT");
    stat("N", dv.moments->nObs);
    for (const char* key : {"FIT", "GFI", "AGFI", "RMR", "PGFI"}) stat(key, fitted(key));
    stat("NPARM", dv.sizes->nParmFree);
    // The corrections of the defaults and the active bounds apply to the
    // moments less the free parameters.
    stat("DF", dv.sizes->nMoments - dv.sizes->nParmFree + dv.moments->modelDf);
    stat("N_ACT", dv.est->nActive);
    if (few) return;
    for (const FitStatKey& k : kFitStatKeys) {
        // The five before NPARM are written above.
        if (k.field == &FitStatistics::fit || k.field == &FitStatistics::gfi || k.field == &FitStatistics::agfi ||
            k.field == &FitStatistics::rmr || k.field == &FitStatistics::pgfi)
            continue;
        stat(k.key, fitted(k.key));
    }
}

// The estimate and standard error of parameter p (1-based); the standard
// error is missing where none was computed.
void parameter_cells(const DataView& dv, int32_t p, double missing, double* value, double* se) {
    const NlpProblem* nlp = dv.nlp;
    *value = p <= dv.sizes->nParmAll ? nlp->x[p - 1] : missing;
    *se = nlp->stdErrors != nullptr && p <= dv.sizes->nParmAll ? nlp->stdErrors[p - 1] : missing;
}

void estim_rows(RamWriter& w) {
    const DataView& dv = w.dv;
    const ModelMatrixTable& mt = *dv.model;
    const ElementPattern& el = *dv.elements;
    w.type("ESTIM");
    for (int32_t t = 1; t <= dv.sizes->nTerms; ++t)
        for (int32_t k = mt.termTable[t - 1]; k < mt.termTable[t]; ++k) {
            for (int32_t e = mt.firstElement[k]; e < mt.firstElement[k] + mt.elementCount[k]; ++e) {
                const int32_t p = std::abs(el.parameter[e]);
                double value = el.value[e], se = 0.0;
                if (p == 0) {
                    w.name("", 0);
                } else {
                    w.name(dv.nlp->paramNames[p - 1]);
                    parameter_cells(dv, p, w.missing, &value, &se);
                }
                w.cells(matrix_number(dv, t, k), el.row[e] + 1.0, el.column[e] + 1.0, value, se);
                w.write();
            }
        }
}

void added_rows(RamWriter& w) {
    const DataView& dv = w.dv;
    const ProgramState& pg = *dv.program;
    if (pg.nDepInputs <= 0 || pg.depInputParms == nullptr) return;
    w.type("ADD_PARM");
    for (int32_t i = 0; i < pg.nDepInputs; ++i) {
        const int32_t p = pg.depInputParms[i];
        if (p < 1 || p > dv.sizes->nParmAll) continue;
        bool carried = false;
        for (int32_t e = 0; e < dv.sizes->nElements && !carried; ++e) carried = dv.elements->parameter[e] == p;
        if (carried) continue;
        double value = 0.0, se = 0.0;
        parameter_cells(dv, p, w.missing, &value, &se);
        w.name(dv.nlp->paramNames[p - 1]);
        w.cells(w.missing, w.missing, w.missing, value, se);
        w.write();
    }
}

}  // namespace

void cosoram(ProcContext* ctx, int32_t first) {
    const DataView dv = data_view(ctx);
    if (dv.dataSets->dataSetHandle[kRoleOutram] == nullptr || dv.dataSets->dataSetBinding[kRoleOutram] == nullptr) return;
    RamWriter w{dv};
    w.name("", 0);
    if (first != 0) model_rows(w);
    const int32_t method = dv.methods->methodStage;
    w.type("METHOD");
    w.name(method_name(method), std::strlen(method_name(method)));
    w.cells(w.missing, w.missing, w.missing, w.missing, w.missing);
    w.write();
    if (std::strcmp(method_name(method), "NONE") != 0) stat_rows(w, method);
    estim_rows(w);
    added_rows(w);
}
