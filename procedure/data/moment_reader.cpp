// zrcorr: the reader of a moment data set (TYPE CORR, COV, UCORR, UCOV,
// SSCP, FACTOR, ACE or EST): one BY group of statistic rows (MEAN, STD,
// USTD, N, SUMWGT) and matrix rows named by _NAME_ (or by the row names
// that R and pandas write, or else taken in order), turned into means,
// standard deviations under the divisor of the VARDEF kind and the
// correlation matrix about the means or about zero.  The PARTIAL variables
// are read after the analysis variables, as from raw data, for the moment
// step to sweep them out.
//
//   read the rows of the group (row type from the TYPE, fallback to another
//   moment type present in the group); check the matrix; complete N and the
//   sum of weights; form the sums of squares and cross-products about the
//   requested origin; divide by the divisor; correlations
//
// An input covariance matrix is taken to have the divisor of the VARDEF
// kind (N - 1 about the means and N about zero under the default, the
// conventions of TYPE=COV and TYPE=UCOV data); a correlation matrix with
// STD rows is read the same way.  SSCP data give their means through the
// intercept row over the sum of weights, its Intercept element (also
// their N without an N row).  A group without an N row has the N that
// NOBS= or EDF= states.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "host/host_support.h"
#include "numerics/covcorr.h"
#include "procedure/data/data.h"
#include "velix/codes.h"
#include "velix/messages.h"
#include "velix/packed_index.h"

namespace {

// A correlation whose size exceeds 1 by more than this is out of range.
constexpr double kCorrTolerance = 1.11e-13;
// Two values of the same element differing by this much are reported.
constexpr double kConflict = 1e-04;
// A SUMWGT row and the Intercept x Intercept element of SSCP data that
// differ by more than this (relative) give two sums of weights.
constexpr double kCountAgreement = 1e-6;
// A variance about the means below minus this fraction of the moment about
// zero it came from is negative beyond the rounding of the subtraction
// (and of data written to 15 digits): the moments contradict each other.
constexpr double kCentringRounding = 1e-8;
// N of a group that states no count when NOBS= and EDF= give none either:
// the matrix is still taken as given, under this N's divisor; only the
// tests and standard errors are those of this many observations.
constexpr double kDefaultN = 10000.0;

using velix::pk;
using velix::detail::ReadVariable;

std::string field(const char* p, size_t width) {
    size_t k = 0;
    while (k < width && p[k] != '\0') ++k;
    while (k > 0 && p[k - 1] == ' ') --k;
    return std::string(p, k);
}

// A variable name: 1 to 32 characters, a letter or underscore first, then
// letters, digits and underscores.
bool znamver(const std::string& name) {
    if (name.empty() || name.size() > 32) return false;
    if (!std::isalpha(static_cast<unsigned char>(name[0])) && name[0] != '_') return false;
    return std::all_of(name.begin(), name.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; });
}

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Rule of the N and SUMWGT rows: the smallest non-missing value, at least
// 0.0; *conflict when the values differ.
double same(const std::vector<double>& v, bool* conflict) {
    double r = host_missing_value();
    bool any = false;
    *conflict = false;
    for (double x : v) {
        if (wzmis(x)) continue;
        if (any && x != r) *conflict = true;
        if (!any || x < r) r = x;
        any = true;
    }
    if (any && r < 0.0) r = 0.0;
    return r;
}

struct GroupRows {
    std::vector<double> matrix;  // packed, missing where not given
    std::vector<double> means, stds, ustds;
    std::vector<double> icpt;    // SSCP intercept row
    double icptIcpt = 0.0;       // SSCP Intercept x Intercept: the sum of weights of the sums
    double n = 0.0, sumw = 0.0;
    bool anyRow = false, anyMatrix = false, conflictNote = false, tooMany = false;
    bool orderConflict = false;  // rows taken in order gave one element two values
    bool meansDefaulted = false, countDefaulted = false;  // 0 and the default N stand in
    bool meanRow = false, icptRow = false, badN = false;
    bool meanTypeRow = false, stdRow = false, ustdRow = false;  // a MEAN, STD, USTD row was read
    std::vector<double> sumwRow;  // the SUMWGT row, empty before one is read
    std::vector<bool> rowGiven;  // by variable: a matrix row of it was read
    std::vector<std::string> typesSeen;
};

// The cells one observation is read into, bound once for the whole group.
struct RowCells {
    HostBinding* b = nullptr;
    int16_t typeVar = 0, nameVar = 0;
    char typeCell[8];
    char nameCell[32];
    std::vector<double> row;
    double icptCell = 0.0;  // the intercept column of SSCP data
};

// Finds _TYPE_, _NAME_ and, for SSCP data, the intercept variable;
// kLevelBadVariables when one has the wrong type.  (What a data set
// without them is read by follows from its other variables:
// name_matrix_rows.)
int32_t find_special_variables(HostDataSet* data, bool sscp, RowCells* rc, int16_t* interceptVar) {
    const HostVariableDescriptor* d = nullptr;
    xvfind(data, "_TYPE_", 6, &rc->typeVar, 0);
    xvfind(data, "_NAME_", 6, &rc->nameVar, 0);
    if ((rc->typeVar && xvname(data, rc->typeVar, &d) == 0 && d->type != kVarCharacter) ||
        (rc->nameVar && xvname(data, rc->nameVar, &d) == 0 && d->type != kVarCharacter)) {
        xpmlog(kMsgReader, kMsgReaderSpecialNotCharacter);
        return kLevelBadVariables;
    }
    *interceptVar = 0;
    if (sscp && xvfind(data, "INTERCEPT", 9, interceptVar, 0) != 0 &&
        xvfind(data, "INTERCEP", 8, interceptVar, 0) != 0)
        *interceptVar = 0;
    // The intercept's row and column carry sums: a character variable of
    // that name cannot hold them.
    if (*interceptVar && xvname(data, *interceptVar, &d) == 0 && d->type == kVarCharacter) {
        xpmlog(kMsgReader, kMsgReaderInterceptNotNumeric);
        return kLevelBadVariables;
    }
    return 0;
}

// The kind of a moment data set and the matrix rows currently read.
struct MomentKind {
    std::string dataType;  // TYPE of the data set
    std::string rowType;   // _TYPE_ of the matrix rows
    size_t compareLength = 8;
    bool sscp = false;
    bool again = false;  // the group is read again: its rows were named the first time
};

bool statistic_row(const std::string& t, const MomentKind& kind) {
    return t == "MEAN" || t == "STD" || t == "USTD" || t == "N" || t == "SUMWGT" ||
           (kind.dataType == "EST" && t.compare(0, 4, "PARM") == 0);
}

// Whether `name` names a numeric variable of the data set (or, in SSCP
// data, the intercept's row).
bool names_numeric_variable(HostDataSet* data, const std::string& name, bool sscp) {
    const std::string un = upper(name);
    if (sscp && (un == "INTERCEPT" || un == "INTERCEP")) return true;
    int16_t number = 0;
    const HostVariableDescriptor* d = nullptr;
    return !name.empty() && name.size() <= 32 && xvfind(data, name.c_str(), static_cast<int32_t>(name.size()),
                                                         &number, 0) == 0 &&
           xvname(data, number, &d) == 0 && d->type == kVarNumeric;
}

// The variable that names the matrix rows of a data set without _NAME_:
// the first character variable other than _TYPE_ whose value on every
// matrix row of the group names a numeric variable of the data set, as
// the row names do that R's write.csv(cov(d)) and pandas' to_csv() write
// in the first column (read as _ROWNAME_, or under the index's name);
// 0 when none does.  A BY variable or a label column names no variable.
int16_t row_name_variable(HostDataSet* data, int16_t typeVar, const MomentKind& kind) {
    // One byte beyond the longest name tells a longer value from a name.
    constexpr int32_t kCell = 33;
    DataSetInfo info;
    if (xoinfo(data, kInfoDescription, &info) != 0) return 0;
    std::vector<int16_t> candidates;
    for (int32_t k = 1; k <= info.nVariables; ++k) {
        const HostVariableDescriptor* d = nullptr;
        if (k != typeVar && xvname(data, k, &d) == 0 && d->type == kVarCharacter)
            candidates.push_back(static_cast<int16_t>(k));
    }
    if (candidates.empty()) return 0;
    HostBinding* b = nullptr;
    xvgeti(data, static_cast<int32_t>(candidates.size()) + 1, 0, &b);
    char typeCell[8];
    std::memset(typeCell, ' ', sizeof typeCell);
    std::vector<char> cells(candidates.size() * kCell, ' ');
    if (typeVar) xvgetd(b, typeVar, 0, typeCell, 8, 99, 0, 0);
    for (size_t k = 0; k < candidates.size(); ++k) xvgetd(b, candidates[k], 0, &cells[k * kCell], kCell, 99, 0, 0);
    xvgete(b);
    std::vector<bool> serves(candidates.size(), true);
    bool anyMatrixRow = false;
    xbyrwnd(data, kRewindGroup);
    DataSetSlot slot;
    slot.handle = data;
    while (xybyget(&slot) != 0) {
        if (xyvget(b, 0) != 0 || (typeVar && statistic_row(upper(field(typeCell, 8)), kind))) continue;
        anyMatrixRow = true;
        for (size_t k = 0; k < candidates.size(); ++k)
            if (serves[k]) serves[k] = names_numeric_variable(data, field(&cells[k * kCell], kCell), kind.sscp);
    }
    xvgett(b);
    xbyrwnd(data, kRewindGroup);
    for (size_t k = 0; anyMatrixRow && k < candidates.size(); ++k)
        if (serves[k]) return candidates[k];
    return 0;
}

// Sets rc->nameVar, where the data set has no _NAME_, to the variable
// whose values name the matrix rows; when none does, the rows are taken in
// their order (and without _TYPE_ every row is a matrix row), with a
// WARNING each.
void name_matrix_rows(HostDataSet* data, const MomentKind& kind, RowCells* rc) {
    if (rc->nameVar == 0) rc->nameVar = row_name_variable(data, rc->typeVar, kind);
    if (rc->nameVar != 0) return;
    if (rc->typeVar == 0) xpmlog(kMsgReader, kMsgReaderNoTypeVariable);
    xpmlog(kMsgReader, kMsgReaderNoNameVariable);
}

// Binds _TYPE_, _NAME_, the variables read and the intercept column
// (interceptVar, 0 when there is none) to the cells of *rc.
void bind_cells(HostDataSet* data, const std::vector<velix::detail::ReadVariable>& vars, int16_t interceptVar,
                RowCells* rc) {
    const int32_t n = static_cast<int32_t>(vars.size());
    xvgeti(data, n + 3, 0, &rc->b);
    rc->icptCell = host_missing_value();
    rc->row.assign(static_cast<size_t>(n), 0.0);
    std::memset(rc->typeCell, ' ', 8);
    std::memset(rc->nameCell, ' ', 32);
    if (rc->typeVar) xvgetd(rc->b, rc->typeVar, 0, rc->typeCell, 8, 99, 0, 0);
    if (rc->nameVar) xvgetd(rc->b, rc->nameVar, 0, rc->nameCell, 32, 99, 0, 0);
    for (int32_t i = 0; i < n; ++i)
        xvgetd(rc->b, vars[i].number, 0, &rc->row[i], 8, 102, 0, 0);
    if (interceptVar) xvgetd(rc->b, interceptVar, 0, &rc->icptCell, 8, 102, 0, 0);
    xvgete(rc->b);
}

// Releases the binding of *rc; its handle is void from then on.
void release(RowCells* rc) {
    xvgett(rc->b);
    rc->b = nullptr;
}

// Rows of another type than the data set's moments: those of the other
// moment types (read when the data set's own are missing) and those the
// output data sets write beside their moments are passed over in silence;
// any other is named once, as a misspelt _TYPE_ would otherwise lose its
// row without a word.
void note_other_type(const std::string& t, const MomentKind& kind, const GroupRows& g) {
    static const char* const kKnown[] = {"CORR", "COV", "UCORR", "UCOV", "SSCP", "SUMWGT", "SKEWNESS", "KURTOSIS",
                                         "WEIGHT", "SCORE", "LSSCORE", "LOADINGS", "STD_LOAD", "UNIQUE_V",
                                         "UNROTATE", "TRANSFOR", "FCORR", "FACT", "SYMATRIX"};
    if (kind.dataType == "EST" || kind.again || t.empty()) return;
    for (const char* k : kKnown)
        if (t == k) return;
    // The predicted moments and residuals of a fit: MAXPRED, ULSNRES, ...
    if (t.size() > 4 && (t.compare(t.size() - 4, 4, "PRED") == 0 || t.compare(t.size() - 3, 3, "RES") == 0)) return;
    if (std::count(g.typesSeen.begin(), g.typesSeen.end(), t) == 1 && g.typesSeen.back() == t)
        xpmlog(kMsgReader, kMsgReaderOtherRowType, t.c_str());
}

std::string name_of(const ReadVariable& v) { return std::string(v.name.text, static_cast<size_t>(v.name.length)); }

// The WARNING of an element of matrix row r, column c, that an earlier row
// gave another value: a second row of the same variable (`again`), or the
// row of c (the matrix is not symmetric).  The later value is used.
void note_element_conflict(const std::string& type, const std::vector<ReadVariable>& vars, int32_t r, int32_t c,
                           double earlier, double later, bool again) {
    const std::string row = name_of(vars[r]), column = name_of(vars[c]);
    if (again)
        xpmlog(kMsgReader, kMsgReaderSecondMatrixRow, type.c_str(), row.c_str(), row.c_str(), column.c_str(), earlier,
               later);
    else
        xpmlog(kMsgReader, kMsgReaderElementConflict, row.c_str(), column.c_str(), earlier, column.c_str(), later,
               row.c_str());
}

// Reads the rows of the BY group once, taking the matrix rows of kind.rowType.
void read_rows(HostDataSet* data, RowCells* rc, const MomentKind& kind, const std::vector<ReadVariable>& vars,
               GroupRows* g, int32_t* level) {
    const int32_t n = static_cast<int32_t>(vars.size());
    const double missing = host_missing_value();
    *g = GroupRows{};
    g->matrix.assign(static_cast<size_t>(n) * (n + 1) / 2, missing);
    g->means.assign(n, missing);
    g->stds.assign(n, missing);
    g->ustds.assign(n, missing);
    g->icpt.assign(n, missing);
    g->n = g->sumw = g->icptIcpt = missing;
    std::vector<bool>& rowGiven = g->rowGiven;
    rowGiven.assign(n, false);
    xbyrwnd(data, kRewindGroup);
    DataSetSlot slot;
    slot.handle = data;
    int32_t order = 0;
    bool invalidNote = false;
    const std::vector<double>& row = rc->row;
    const size_t cl = kind.compareLength;
    while (xybyget(&slot) != 0) {
        if (xyvget(rc->b, 0) != 0) continue;
        g->anyRow = true;
        const std::string t = rc->typeVar ? upper(field(rc->typeCell, 8)) : kind.rowType;
        if (std::find(g->typesSeen.begin(), g->typesSeen.end(), t) == g->typesSeen.end()) g->typesSeen.push_back(t);
        bool conflict = false;
        // A second statistic row replaces the first, named once: the group
        // is read again only for another matrix type.
        const auto second = [&](bool* seen, const char* type, const std::vector<double>& earlier) {
            if (*seen && !kind.again) velix::detail::note_second_row(type, vars, earlier.data(), row.data());
            *seen = true;
        };
        if (t == "MEAN" || (kind.dataType == "EST" && t.compare(0, 4, "PARM") == 0)) {
            // The PARMS rows of an OUTEST= data set are one per iteration.
            if (t == "MEAN") second(&g->meanTypeRow, "MEAN", g->means);
            g->means = row;
            g->meanRow = true;
        } else if (t == "STD") {
            second(&g->stdRow, "STD", g->stds);
            g->stds = row;
        } else if (t == "USTD") {
            second(&g->ustdRow, "USTD", g->ustds);
            g->ustds = row;
        } else if (t == "N") {
            if (!velix::detail::read_n_row(row.data(), n, kind.again, &g->n, &conflict)) g->badN = true;
            if (conflict && !kind.again) xpmlog(kMsgReader, kMsgReaderNConflict);
        } else if (t == "SUMWGT") {
            bool seen = !g->sumwRow.empty();
            second(&seen, "SUMWGT", g->sumwRow);
            g->sumwRow = row;
            g->sumw = same(row, &conflict);
            if (conflict) xpmlog(kMsgReader, kMsgReaderSumwgtConflict);
        } else if (t.compare(0, cl, kind.rowType, 0, cl) == 0 && t.size() >= std::min(cl, kind.rowType.size())) {
            g->anyMatrix = true;
            int32_t r = -1;
            if (rc->nameVar) {
                const std::string name = field(rc->nameCell, 32);
                const std::string un = upper(name);
                // The intercept row of SSCP data holds the weighted sums;
                // it is a matrix row too when the intercept is analysed.
                if (kind.sscp && (un == "INTERCEPT" || un == "INTERCEP")) {
                    g->icpt = row;
                    g->icptIcpt = rc->icptCell;
                    g->icptRow = true;
                }
                for (int32_t v = 0; v < n && r < 0; ++v)
                    if (upper(std::string(vars[v].name.text, vars[v].name.length)) == un)
                        r = v;
                // The name of an analysis variable is valid whatever its
                // bytes: a data file may name a variable as no program
                // could (a blank, a letter beyond ASCII, bytes that are not
                // UTF-8), and its OUTSTAT= rows carry that name.
                if (r < 0 && !znamver(name) && !invalidNote) {
                    xpmlog(kMsgReader, kMsgReaderInvalidName);
                    *level = std::max(*level, kLevelWarning);
                    invalidNote = true;
                }
                if (r < 0) continue;
            } else {
                if (order >= n) {
                    xpmlog(kMsgReader, kMsgReaderTooManyRows);
                    g->tooMany = true;
                    break;
                }
                r = order++;
            }
            const bool again = rowGiven[r];  // a second row of the same variable
            rowGiven[r] = true;
            for (int32_t c = 0; c < n; ++c) {
                if (wzmis(row[c])) continue;
                double& e = g->matrix[pk(r, c)];
                if (!wzmis(e) && std::fabs(e - row[c]) >= kConflict) {
                    // Rows taken in order that disagree are not in the
                    // order of the variables: the matrix would be another.
                    if (!rc->nameVar) {
                        xpmlog(kMsgReader, kMsgReaderOrderConflict, static_cast<int32_t>(vars[c].name.length),
                               vars[c].name.text, static_cast<int32_t>(vars[r].name.length), vars[r].name.text,
                               e, row[c]);
                        g->orderConflict = true;
                        return;
                    }
                    if (!g->conflictNote) note_element_conflict(t, vars, r, c, e, row[c], again);
                    g->conflictNote = true;
                }
                e = row[c];
            }
        } else {
            note_other_type(t, kind, *g);
        }
    }
}

// Whether the analysis variables' block of the matrix is complete; when it
// is not, a WARNING names the first element missing, or the row of one of
// its variables that no matrix row gave.
bool matrix_complete(const std::vector<ReadVariable>& vars, int32_t nAnalysis, const GroupRows& g) {
    const auto name = [&](int32_t i) { return std::string(vars[i].name.text, vars[i].name.length); };
    for (int32_t i = 0; i < nAnalysis; ++i)
        for (int32_t j = 0; j <= i; ++j) {
            if (!wzmis(g.matrix[pk(i, j)])) continue;
            if (!g.rowGiven[i] || !g.rowGiven[j])
                xpmlog(kMsgReader, kMsgReaderRowMissing, name(g.rowGiven[i] ? j : i).c_str());
            else
                xpmlog(kMsgReader, kMsgReaderElementMissing, name(i).c_str(), name(j).c_str());
            return false;
        }
    return true;
}

// Reads the group until it gives a complete matrix of the nAnalysis
// analysis variables, falling back to another moment type present in the
// group; kLevelNoMoments when none does, or when the moments of a partial
// variable are missing.  The binding is ended either way.
int32_t read_group(HostDataSet* data, RowCells* rc, MomentKind* kind, const std::vector<ReadVariable>& vars,
                   int32_t nAnalysis, GroupRows* g, int32_t* level) {
    static const char* const kFallback[] = {"CORR", "COV", "UCORR", "UCOV"};
    for (int attempt = 0; attempt < 5; ++attempt) {
        read_rows(data, rc, *kind, vars, g, level);
        kind->again = true;
        if (g->tooMany || g->orderConflict || g->badN) {
            release(rc);
            return kLevelNoMoments;
        }
        if (!g->anyRow) {
            xpmlog(kMsgReader, kMsgReaderNoObservations);
            release(rc);
            return kLevelNoMoments;
        }
        // The analysis variables' block leads the packed matrix.
        if (g->anyMatrix && matrix_complete(vars, nAnalysis, *g)) break;
        std::string next;
        for (const char* f : kFallback) {
            if (kind->rowType == f) continue;
            if (std::find(g->typesSeen.begin(), g->typesSeen.end(), f) != g->typesSeen.end()) {
                next = f;
                break;
            }
        }
        const bool inList =
            std::find_if(std::begin(kFallback), std::end(kFallback),
                         [&](const char* f) { return kind->rowType == f; }) != std::end(kFallback);
        if (next.empty() || !inList || attempt == 4) {
            xpmlog(kMsgReader, kMsgReaderNoCompleteMatrix);
            release(rc);
            return kLevelNoMoments;
        }
        xpmlog(kMsgReader, kMsgReaderFallbackRows, next.c_str());
        kind->rowType = next;
        kind->compareLength = 8;
    }
    release(rc);
    return velix::detail::partials_given(g->matrix.data(), vars, nAnalysis) ? 0 : kLevelNoMoments;
}

// Checks the variances and, for a correlation matrix, its range and its
// unit diagonal (normalising it when the diagonal differs from 1).
int32_t check_matrix(const std::vector<ReadVariable>& vars, bool corrClass, std::vector<double>* matrix,
                     int32_t* level) {
    const int32_t n = static_cast<int32_t>(vars.size());
    std::vector<double>& a = *matrix;
    for (int32_t i = 0; i < n; ++i) {
        const double dii = a[pk(i, i)];
        if (dii < 0.0) {
            xpmlog(kMsgReader, kMsgReaderNegativeVariance, static_cast<int32_t>(vars[i].name.length),
                   vars[i].name.text);
            return kLevelNoMoments;
        }
        if (dii == 0.0)
            for (int32_t j = 0; j < n; ++j)
                if (j != i && a[pk(i, j)] != 0.0) {
                    xpmlog(kMsgReader, kMsgReaderZeroVarianceCovaries);
                    return kLevelNoMoments;
                }
    }
    bool diagonal = false;
    for (int32_t i = 0; i < n && corrClass; ++i) diagonal = diagonal || std::fabs(a[pk(i, i)] - 1.0) > kCorrTolerance;
    if (diagonal) {
        xpmlog(kMsgReader, kMsgReaderDiagonalNotOne);
        xpmlog(kMsgReader, kMsgReaderNormalised);
        *level = std::max(*level, kLevelWarning);
        std::vector<double> sd(n);
        zcovcor(n, a.data(), sd.data());
    }
    // A correlation beyond 1 in size is no correlation: it is analysed as
    // given, so that the checks of the matrix that follow see the user's
    // matrix, and named here.
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j < i; ++j) {
            const double scale = std::sqrt(a[pk(i, i)] * a[pk(j, j)]);
            const double r = corrClass ? a[pk(i, j)] : scale > 0.0 ? a[pk(i, j)] / scale : 0.0;
            if (std::fabs(r) > 1.0 + kCorrTolerance) {
                xpmlog(kMsgReader, kMsgReaderCorrelationAboveOne, static_cast<int32_t>(vars[i].name.length),
                       vars[i].name.text, static_cast<int32_t>(vars[j].name.length), vars[j].name.text, r);
                *level = std::max(*level, kLevelWarning);
            }
        }
    return 0;
}

// The standard deviations of a correlation matrix: kLevelNoMoments, with
// an ERROR naming the variable, when one is negative (it would turn the
// sign of every covariance of that variable).
int32_t check_std_devs(const std::vector<ReadVariable>& vars, const std::vector<double>& sd, const char* row) {
    for (size_t i = 0; i < vars.size(); ++i)
        if (!wzmis(sd[i]) && sd[i] < 0.0) {
            xpmlog(kMsgReader, kMsgReaderNegativeStd, static_cast<int32_t>(vars[i].name.length), vars[i].name.text,
                   sd[i], row);
            return kLevelNoMoments;
        }
    return 0;
}

bool all_given(const std::vector<double>& v) {
    return std::none_of(v.begin(), v.end(), [](double x) { return wzmis(x) != 0; });
}

// The count of SSCP data: the Intercept x Intercept element is the sum of
// weights of the sums (and N without an N row); with an Intercept row and
// no such element the N row or NOBS= gives it, and without those the
// means cannot be formed.  kLevelNoMoments with an ERROR when the element
// is not positive or nothing counts the sums; a NOTE says what was read.
int32_t sscp_counts(bool interceptColumn, double statedN, GroupRows* g) {
    if (!wzmis(g->icptIcpt)) {
        if (!(g->icptIcpt > 0.0)) {
            xpmlog(kMsgReader, kMsgReaderInterceptCount, g->icptIcpt);
            return kLevelNoMoments;
        }
        // Two sums of weights: which one the sums were formed with cannot
        // be told, and either gives other means and moments.
        if (!wzmis(g->sumw) && std::fabs(g->sumw - g->icptIcpt) > kCountAgreement * g->icptIcpt) {
            xpmlog(kMsgReader, kMsgReaderSumwgtIntercept, g->sumw, g->icptIcpt);
            return kLevelNoMoments;
        }
        if (wzmis(g->n)) g->n = g->icptIcpt;
        if (wzmis(g->sumw)) g->sumw = g->icptIcpt;
        return 0;
    }
    if (!g->icptRow) {
        xpmlog(kMsgReader, kMsgReaderNoInterceptRow);
        return 0;
    }
    if (wzmis(g->n) && wzmis(statedN) && wzmis(g->sumw)) {
        xpmlog(kMsgReader, kMsgReaderSscpNoCount);
        return kLevelNoMoments;
    }
    const char* from = !wzmis(g->sumw) ? "its SUMWGT row" : !wzmis(g->n) ? "its N row" : "NOBS= or EDF=";
    if (wzmis(g->n)) g->n = wzmis(statedN) ? g->sumw : statedN;
    if (wzmis(g->sumw)) g->sumw = g->n;
    xpmlog(kMsgReader, interceptColumn ? kMsgReaderInterceptCellMissing : kMsgReaderNoInterceptColumn, g->sumw,
           from);
    return 0;
}

// Completes N, the sum of weights and the means; kLevelNoMoments when the
// means are needed and not given: to move the moments to another origin,
// for TYPE=EST, and for the intercept's row of an AUGMENT analysis (a
// model with means fitted to means of 0 would be a wrong fit reported as
// a good one).  Without an N row, N is the count the data set holds (SSCP
// data), else statedN (NOBS= or EDF=): the matrix is then read as the
// moments of that many observations, as given.  Only when neither is
// known does N fall back to a large default, with a note.
int32_t complete_counts(const MomentKind& kind, bool inputAboutZero, int32_t origin, bool augmented,
                        const std::vector<ReadVariable>& vars, double statedN, bool interceptColumn, GroupRows* g) {
    const int32_t n = static_cast<int32_t>(vars.size());
    if (kind.sscp && sscp_counts(interceptColumn, statedN, g) != 0) return kLevelNoMoments;
    if (wzmis(g->n)) {
        if (!wzmis(statedN)) {
            g->n = statedN;
        } else {
            if (kind.dataType != "EST") xpmlog(kMsgReader, kMsgReaderNoNRow);
            g->n = kDefaultN;
            g->countDefaulted = true;
        }
    }
    if (wzmis(g->sumw)) g->sumw = g->n;
    // SSCP: the means are the intercept row's sums over the sum of weights.
    if (kind.sscp && all_given(g->icpt) && g->sumw > 0.0)
        for (int32_t i = 0; i < n; ++i) g->means[i] = g->icpt[i] / g->sumw;
    const bool meansNeeded = (inputAboutZero != (origin != 0)) || kind.dataType == "EST" || augmented;
    const bool haveMeans = all_given(g->means);
    if (meansNeeded && !haveMeans) {
        // A MEAN row with a cell missing: the cell is named.
        const auto gap = std::find_if(g->means.begin(), g->means.end(), [](double x) { return wzmis(x) != 0; });
        const ReadVariable& v = vars[static_cast<size_t>(gap - g->means.begin())];
        if (g->meanRow && !kind.sscp && kind.dataType != "EST")
            xpmlog(kMsgReader, kMsgReaderMeanCellMissing, static_cast<int32_t>(v.name.length), v.name.text);
        else
            xpmlog(kMsgReader, kind.sscp                ? kMsgReaderSscpNoMeans
                               : kind.dataType == "EST" ? kMsgReaderEstNoMeans
                                                        : kMsgReaderNoMeanRow);
        return kLevelNoMoments;
    }
    if (!haveMeans && g->meanRow && !kind.sscp) {
        // A MEAN row with gaps: they are named.
        std::string gaps;
        for (int32_t i = 0; i < n; ++i)
            if (wzmis(g->means[i])) gaps += (gaps.empty() ? "" : " ") + name_of(vars[i]);
        xpmlog(kMsgReader, kMsgReaderMeanCellsMissing, gaps.c_str());
    } else if (!haveMeans) {
        xpmlog(kMsgReader, kMsgReaderMeansZero);
    }
    if (!haveMeans) {
        std::fill(g->means.begin(), g->means.end(), 0.0);
        g->meansDefaulted = true;
    }
    return 0;
}

// The sums of squares and cross-products about the requested origin
// (*level kLevelNoMoments, with an ERROR, when a variance about the means
// comes out negative).  The
// input's variances carry the divisor of the same VARDEF kind (N - 1 and
// N about zero under the default), so that moments written by one
// analysis read back unchanged under its kind.
std::vector<double> cross_products(const MomentKind& kind, bool corrClass, bool inputAboutZero,
                                   int32_t origin, const char* vardefKind, const std::vector<ReadVariable>& vars,
                                   GroupRows* g, int32_t* level) {
    const int32_t n = static_cast<int32_t>(vars.size());
    const std::vector<double>& a = g->matrix;
    const double inputDivisor = zvardiv(vardefKind, g->n, inputAboutZero ? 0.0 : 1.0, g->sumw);
    std::vector<double> c(a.size());
    if (corrClass) {
        std::vector<double>& sd = kind.rowType == "UCORR" ? g->ustds : g->stds;
        if (!all_given(sd)) {
            xpmlog(kMsgReader, kMsgReaderStdDevsOne);
            for (double& x : sd)
                if (wzmis(x)) x = 1.0;
        }
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j <= i; ++j) c[pk(i, j)] = a[pk(i, j)] * sd[i] * sd[j] * inputDivisor;
    } else if (kind.sscp) {
        c = a;
    } else {
        for (size_t k = 0; k < a.size(); ++k) c[k] = a[k] * inputDivisor;
    }
    // Move to the requested origin.
    const double sw = g->sumw;
    if (inputAboutZero && origin == 0) {
        const std::vector<double> aboutZero = c;
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j <= i; ++j) c[pk(i, j)] -= sw * g->means[i] * g->means[j];
        // A moment about zero below the squared mean: no data give it, and
        // a fit to the matrix with its row left out would pass for one of
        // the data.  A variance of 0 to rounding is a constant variable.
        for (int32_t i = 0; i < n; ++i)
            if (c[pk(i, i)] < -kCentringRounding * aboutZero[pk(i, i)]) {
                xpmlog(kMsgReader, kMsgReaderNegativeCentredVariance, static_cast<int32_t>(vars[i].name.length),
                       vars[i].name.text, g->means[i], aboutZero[pk(i, i)] / inputDivisor,
                       c[pk(i, i)] / zvardiv(vardefKind, g->n, 1.0, sw));
                *level = std::max(*level, kLevelNoMoments);
                return c;
            }
        for (int32_t i = 0; i < n; ++i)
            if (!(c[pk(i, i)] > 0.0)) {
                xpmlog(kMsgReader, kMsgReaderVarianceNotPositive);
                *level = std::max(*level, kLevelWarning);
                for (int32_t j = 0; j < n; ++j) c[pk(i, j)] = 0.0;
            }
    } else if (!inputAboutZero && origin != 0) {
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j <= i; ++j) c[pk(i, j)] += sw * g->means[i] * g->means[j];
    }
    return c;
}

// Divides the cross-products by the divisor into the covariance (form 'C')
// or the correlation matrix (form 'R'), with means and standard deviations.
void divide(const std::vector<double>& c, const std::vector<double>& groupMeans, int32_t form,
            int32_t n, double divisor, double* matrix, double* means, double* stdDevs) {
    std::vector<double> root(n);
    for (int32_t i = 0; i < n; ++i) {
        const double cii = c[pk(i, i)];
        root[i] = cii > 0.0 ? std::sqrt(cii) : 0.0;
        means[i] = groupMeans[i];
        stdDevs[i] = divisor > 0.0 && cii > 0.0 ? std::sqrt(cii / divisor) : 0.0;
    }
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j) {
            if (form == 'R') {
                // A correlation beyond 1 in size stays as it is (the
                // WARNING of check_matrix named it).
                const double r = root[i] > 0.0 && root[j] > 0.0 ? c[pk(i, j)] / (root[i] * root[j]) : 0.0;
                matrix[pk(i, j)] = i == j ? (root[i] > 0.0 ? 1.0 : 0.0) : r;
            } else {
                matrix[pk(i, j)] = divisor > 0.0 ? c[pk(i, j)] / divisor : 0.0;
            }
        }
}

}  // namespace

int16_t velix::detail::row_name_column(HostDataSet* data, int16_t typeVar, const char* dataType) {
    MomentKind kind;
    kind.dataType = kind.rowType = dataType;
    return row_name_variable(data, typeVar, kind);
}

bool velix::detail::read_n_row(const double* row, int32_t count, bool quiet, double* n, bool* conflict) {
    const std::vector<double> v(row, row + count);
    for (double x : v)
        if (!wzmis(x) && x < 0.0) {
            xpmlog(kMsgReader, kMsgReaderNNegative, x);
            return false;
        }
    const double earlier = *n;
    *n = same(v, conflict);
    if (quiet) return true;
    if (!wzmis(earlier)) xpmlog(kMsgReader, kMsgReaderSecondNRow, earlier, *n);
    if (!wzmis(*n) && *n != std::floor(*n)) xpmlog(kMsgReader, kMsgReaderNNotWhole, *n);
    return true;
}

void velix::detail::note_second_row(const char* type, const std::vector<ReadVariable>& vars, const double* earlier,
                                   const double* later) {
    for (size_t i = 0; i < vars.size(); ++i)
        if (!wzmis(earlier[i]) && !wzmis(later[i]) && earlier[i] != later[i]) {
            xpmlog(kMsgReader, kMsgReaderSecondStatisticRow, type, static_cast<int32_t>(vars[i].name.length),
                   vars[i].name.text, earlier[i], later[i]);
            return;
        }
}

int32_t zrcorr(HostDataSet* data, int32_t form, const StatementNode* /*stmtList*/,
               int32_t /*listEntry*/, int32_t origin, const char* type, double* matrix,
               double* means, double* stdDevs, double* /*work*/, const char* vardefKind,
               double* divisor, double* sumWeights, double* nObs, ProcContext* ctx) {
    const double statedN = *nObs;
    // The PARTIAL variables are read after the analysis variables, to be
    // swept out of the matrix as they are from raw data.
    const std::vector<ReadVariable> vars = velix::detail::read_variables(ctx);
    const int32_t n = static_cast<int32_t>(vars.size());
    int32_t level = 0;
    MomentKind kind;
    kind.dataType = upper(field(type, 8));
    kind.rowType = kind.dataType == "EST" ? "COV" : kind.dataType == "FACTOR" ? "CORR" : kind.dataType;
    kind.compareLength = kind.dataType == "EST" ? 3 : 8;
    kind.sscp = kind.dataType == "SSCP";

    RowCells rc;
    int16_t interceptVar = 0;
    if (find_special_variables(data, kind.sscp, &rc, &interceptVar) != 0) return kLevelBadVariables;
    name_matrix_rows(data, kind, &rc);
    bind_cells(data, vars, interceptVar, &rc);
    GroupRows g;
    if (read_group(data, &rc, &kind, vars, ctx->sizes.nVar, &g, &level) != 0) return kLevelNoMoments;

    // Row class and origin of the input.
    const bool corrClass = kind.rowType == "CORR" || kind.rowType == "UCORR";
    const bool inputAboutZero = kind.rowType[0] == 'U' || kind.sscp;
    if (check_matrix(vars, corrClass, &g.matrix, &level) != 0) return kLevelNoMoments;
    if (corrClass && check_std_devs(vars, kind.rowType == "UCORR" ? g.ustds : g.stds,
                                    kind.rowType == "UCORR" ? "USTD" : "STD") != 0)
        return kLevelNoMoments;
    if (complete_counts(kind, inputAboutZero, origin, ctx->options.interceptVar != 0, vars, statedN,
                        interceptVar != 0, &g) != 0)
        return kLevelNoMoments;
    // Too few observations for any moment: N = 1 about the means leaves
    // every variance without a divisor.
    *divisor = zvardiv(vardefKind, g.n, origin == 0 ? 1.0 : 0.0, g.sumw);
    const double inputDivisor = zvardiv(vardefKind, g.n, inputAboutZero ? 0.0 : 1.0, g.sumw);
    if (!(*divisor > 0.0) || !(inputDivisor > 0.0)) {
        xpmlog(kMsgReader, kMsgReaderNTooSmall, g.n, wzstrip(vardefKind, 8), vardefKind,
               std::min(*divisor, inputDivisor));
        return kLevelNoMoments;
    }
    const std::vector<double> c = cross_products(kind, corrClass, inputAboutZero, origin, vardefKind, vars, &g, &level);
    if (level >= kLevelNoMoments) return level;

    *nObs = g.n;
    *sumWeights = g.sumw;
    ctx->moments.meansGiven = !g.meansDefaulted;
    ctx->moments.countGiven = !g.countDefaulted;
    divide(c, g.means, form, n, *divisor, matrix, means, stdDevs);
    return level;
}
