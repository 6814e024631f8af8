// cosfico: the reader of a TYPE=SYMATRIX DATA=: a symmetric matrix given
// row by row (rows named by _NAME_, by the row names that R and pandas
// write, or else taken in order), with optional MEAN, STD, USTD, N and
// SUMWGT rows.  The matrix is taken as covariances with the divisor of its
// N: the moment step sweeps the PARTIAL variables out of it and moves it
// to the divisor in force, as it does the other forms.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "host/host_support.h"
#include "procedure/data/data.h"
#include "procedure/data/data_view.h"
#include "velix/codes.h"
#include "velix/messages.h"
#include "velix/packed_index.h"

namespace {

// N of a symmetric matrix that comes without an N row when NOBS= and EDF=
// state none.
constexpr double kDefaultN = 10000.0;
// Two values of one element that differ by this much (relative to 1 or
// to their size) make the matrix not symmetric.
constexpr double kAsymmetry = 1e-8;

using velix::pk;

bool type_is(const char* t, const char* want) {
    char w[8];
    std::memset(w, ' ', 8);
    std::memcpy(w, want, std::strlen(want));
    return std::memcmp(t, w, 8) == 0;
}

// The smallest non-missing value of values[count], at least 0.0; *conflict
// when they differ; missing when none is given.
double same(const double* values, int32_t count, bool* conflict) {
    double r = host_missing_value();
    bool any = false;
    *conflict = false;
    for (int32_t i = 0; i < count; ++i) {
        if (wzmis(values[i])) continue;
        if (any && values[i] != r) *conflict = true;
        if (!any || values[i] < r) r = values[i];
        any = true;
    }
    if (any && r < 0.0) r = 0.0;
    return r;
}

// The names of the matrix rows of a group: _NAME_, which cosfop1 binds
// to the row record, or, in a data set without it, the row names that R
// and pandas write, read through a binding of their own.  Without either,
// text is null and the rows are taken in order.
struct RowNames {
    HostBinding* b = nullptr;
    char cell[32];
    const char* text = nullptr;  // the current row's name, 32 bytes padded with blanks
    RowNames() = default;
    RowNames(const RowNames&) = delete;
    RowNames& operator=(const RowNames&) = delete;
    ~RowNames() {
        if (b) xvgett(b);
    }
};

void bind_row_names(const DataView& dv, RowNames* rn) {
    if (dv.input->nameVar > 0) {
        rn->text = dv.dataSets->outRow.name.text;
        return;
    }
    HostDataSet* data = dv.dataSets->dataSetHandle[kRoleData];
    const int16_t var = velix::detail::row_name_column(data, dv.input->typeVar, "SYMATRIX");
    if (var == 0) return;
    std::memset(rn->cell, ' ', sizeof rn->cell);
    xvgeti(data, 1, 0, &rn->b);
    xvgetd(rn->b, var, 0, rn->cell, sizeof rn->cell, 99, 0, 0);
    xvgete(rn->b);
    rn->text = rn->cell;
}

// The analysis variable that the row name text[32] names (compared as
// written, without its trailing blanks); -1 when none does.
int32_t named_row(const char* text, const std::vector<velix::detail::ReadVariable>& vars) {
    const int32_t len = wzstrip(text, 32);
    for (size_t k = 0; k < vars.size(); ++k) {
        const NameRecord& nm = vars[k].name;
        if (wzstrip(nm.text, nm.length) == len && std::memcmp(nm.text, text, static_cast<size_t>(len)) == 0)
            return static_cast<int32_t>(k);
    }
    return -1;
}

// The WARNING of element (r, c) of matrix row r that an earlier row gave
// the value `earlier`: a second row of the same variable (`again`), or the
// row of c.
void note_conflict(const std::vector<velix::detail::ReadVariable>& vars, int32_t r, int32_t c, double earlier,
                   double later, bool again) {
    const NameRecord &row = vars[r].name, &column = vars[c].name;
    if (again)
        xpmlog(kMsgReader, kMsgReaderSecondMatrixRow, "SYMATRIX", std::string(row.text, row.length).c_str(),
               std::string(row.text, row.length).c_str(), std::string(column.text, column.length).c_str(), earlier,
               later);
    else
        xpmlog(kMsgProc, kMsgSymatrixNotSymmetric, static_cast<int32_t>(row.length), row.text,
               static_cast<int32_t>(column.length), column.text, earlier, later);
}

}  // namespace

int32_t cosfico(ProcContext* ctx, double statedN) {
    const DataView dv = data_view(ctx);
    // The analysis variables, then the PARTIAL ones, as cosfop1 bound them.
    const std::vector<velix::detail::ReadVariable> vars = velix::detail::read_variables(ctx);
    const int32_t n = static_cast<int32_t>(vars.size());
    DataSetInfo info;
    xoinfo(dv.dataSets->dataSetHandle[kRoleData], kInfoDescription, &info);
    if (dv.dataSets->dataSetBinding[kRoleData] == nullptr) {
        xpmlog(kMsgProc, kMsgSymatrixVariables);
        xexit(kLevelBadVariables, 0);
    }
    const double missing = host_missing_value();
    vzfdl(missing, dv.arrays->momentMatrix, n * (n + 1) / 2);
    std::fill(dv.moments->stdDevs, dv.moments->stdDevs + n, 1.0);
    std::fill(dv.moments->means, dv.moments->means + n, 0.0);
    dv.moments->meansGiven = 0;
    double N = missing, sumw = missing;
    int32_t order = 0;
    bool asymmetryNoted = false;
    std::vector<bool> rowGiven(n);  // by variable: a matrix row of it was read
    bool stdRow = false;            // a STD or USTD row was read
    std::vector<double> sumwRow;    // the SUMWGT row, empty before one is read
    RowNames rowNames;
    bind_row_names(dv, &rowNames);
    xbyrwnd(dv.dataSets->dataSetHandle[kRoleData], kRewindGroup);
    std::memset(dv.dataSets->outRow.type, ' ', 8);
    while (cos_read_row(dv.ctx, kRoleData)) {
        if (rowNames.b) xyvget(rowNames.b, 0);
        char type[8];
        wztxxlt(2, dv.dataSets->outRow.type, type, 8);
        const double* v = dv.cells->rowValues;
        bool conflict = false;
        if (dv.input->typeVar > 0 && type_is(type, "MEAN")) {
            if (dv.moments->meansGiven) velix::detail::note_second_row("MEAN", vars, dv.moments->means, v);
            std::copy(v, v + n, dv.moments->means);
            dv.moments->meansGiven = 1;
        } else if (dv.input->typeVar > 0 && (type_is(type, "STD") || type_is(type, "USTD"))) {
            const char* row = type_is(type, "STD") ? "STD" : "USTD";
            if (stdRow) velix::detail::note_second_row(row, vars, dv.moments->stdDevs, v);
            stdRow = true;
            std::copy(v, v + n, dv.moments->stdDevs);
        } else if (dv.input->typeVar > 0 && type_is(type, "N")) {
            // Named as in the other moment data sets: a negative N ends
            // the group.
            if (!velix::detail::read_n_row(v, n, false, &N, &conflict)) return kLevelNoMoments;
            if (conflict) xpmlog(kMsgProc, kMsgSymatrixNConflict);
        } else if (dv.input->typeVar > 0 && type_is(type, "SUMWGT")) {
            if (!sumwRow.empty()) velix::detail::note_second_row("SUMWGT", vars, sumwRow.data(), v);
            sumwRow.assign(v, v + n);
            sumw = same(v, n, &conflict);
            if (conflict) xpmlog(kMsgProc, kMsgSymatrixSumwgtConflict);
        } else if (dv.input->typeVar == 0 || type_is(type, "SYMATRIX")) {
            int32_t r = -1;
            if (rowNames.text) {
                r = named_row(rowNames.text, vars);
                if (r < 0) continue;
            } else {
                if (order >= n) {
                    xpmlog(kMsgProc, kMsgSymatrixTooManyRows);
                    break;
                }
                r = order++;
            }
            const bool again = rowGiven[r];  // a second row of the same variable
            rowGiven[r] = true;
            for (int32_t c = 0; c < n; ++c) {
                if (wzmis(v[c])) continue;
                double& e = dv.arrays->momentMatrix[pk(r, c)];
                // A matrix that is not symmetric, or a variable's two rows
                // that differ, are named once: the later row stands.
                if (!asymmetryNoted && !wzmis(e) && std::fabs(e - v[c]) >= kAsymmetry * std::max(1.0, std::fabs(e))) {
                    note_conflict(vars, r, c, e, v[c], again);
                    asymmetryNoted = true;
                }
                e = v[c];
            }
        } else {
            xpmlog(kMsgProc, kMsgSymatrixRowIgnored, 8, dv.dataSets->outRow.type);
        }
    }
    // Without an N row the matrix is that of the N stated, taken as given.
    dv.moments->countGiven = !(wzmis(N) && wzmis(statedN));
    if (wzmis(N)) N = wzmis(statedN) ? kDefaultN : statedN;
    if (wzmis(sumw)) sumw = N;
    dv.moments->nObs = N;
    dv.moments->sumWeights = sumw;
    dv.moments->divisor =
        zvardiv(dv.options->vardefKind, N, 1.0 - dv.moments->momentOrigin, sumw);
    const int32_t pstar = n * (n + 1) / 2;
    if (!velix::detail::partials_given(dv.arrays->momentMatrix, vars, dv.sizes->nVar)) return kLevelNoMoments;
    if (wzmisn(dv.arrays->momentMatrix, pstar)) {
        xpmlog(kMsgProc, kMsgSymatrixMissing);
        if (dv.options->printEnabled) {
            const NameRecord* names = velix::detail::moment_names(dv.ctx);
            std::vector<double> shown(dv.arrays->momentMatrix, dv.arrays->momentMatrix + pstar);
            // A failed table is reported by the publisher and the reader
            // stops; the step then ends, so the matrix that still holds
            // missing values never reaches a factor.
            if (velix::detail::publish_matrix(dv.ctx, "InSymmetric", kMsgSymmetricInputTable,
                                              shown.data(), dv.sizes->nManifest, dv.sizes->nManifest, names,
                                              names, "sc", 0) < 0)
                return kLevelHostFailure;
        }
        for (int32_t k = 0; k < pstar; ++k)
            if (wzmis(dv.arrays->momentMatrix[k])) dv.arrays->momentMatrix[k] = 0.0;
    }
    zmsgsav(0, 0, nullptr, 0);
    return 0;
}
