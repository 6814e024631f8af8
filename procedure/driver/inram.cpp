// The INRAM= model reader: a model that an earlier step stored with OUTRAM=
// is read back in place of the model statements.  The rows of the first BY
// group are read and checked (row kinds, matrix numbering, types and forms,
// the shape each model kind needs, the conformity of each term's chain),
// and the model is then restated as the statements of its kind (COSAN with
// MATRIX, FACTOR with MATRIX, RAM, or LINEQS with STD and COV), which the
// model dispatcher reads as if the user had written them.  So a stored
// model is the same model, with the same element records, parameter table
// and defaults, as the statements it came from; the ESTIM values become the
// fixed values and start values.
//
//   rows (101) -> MODEL numbering (102, 103) -> types and forms (104) ->
//   kind and its shape (104-108) -> ESTIM rows in range (109, 117) ->
//   conformity (111-114), forms (60), equation types (115) -> statements
//   -> the dispatcher
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "host/host_support.h"
#include "procedure/data/data.h"
#include "procedure/driver/model.h"
#include "procedure/driver/model_readers.h"
#include "procedure/driver/step_view.h"
#include "velix/messages.h"

namespace {

using velix::detail::make_name;
using velix::detail::name_text;

constexpr int32_t kTermMultiplier = 10000;
constexpr int32_t kMaxType = 14;
constexpr int32_t kMaxForm = 2;

// One row of the INRAM= data set, decoded.
struct RamRow {
    std::string type;  // upper case, without trailing blanks
    NameRecord name;
    int32_t term = 1, matrix = 1, row = 0, col = 0;
    double estim = 0.0, stderr = 0.0;
};

struct StoredMatrix {
    NameRecord name;
    int32_t term = 0, rows = 0, cols = 0, type = 0, form = 0;
    std::vector<NameRecord> columnNames;  // from the VARNAME rows, by column
    std::vector<const RamRow*> estim;
};

enum class Kind { kLineqs, kRam, kCosan, kFactor };

int32_t truncated(double v) {
    if (wzmis(v) || !(std::fabs(v) < 2.0e9)) return 0;
    return static_cast<int32_t>(v);
}

bool named(const NameRecord& n, const char* text) { return same_name(n, make_name(text)); }

// ---- reading ----

std::vector<RamRow> read_rows(const StepView& sv) {
    std::vector<RamRow> rows;
    HostDataSet* inram = sv.dataSets->dataSetHandle[kRoleInram];
    if (inram == nullptr || xbynext(inram) == 0) return rows;
    while (cos_read_row(sv.ctx, kRoleInram)) {
        RamRow r;
        std::string t(sv.dataSets->outRow.type, 8);
        while (!t.empty() && (t.back() == ' ' || t.back() == '\0')) t.pop_back();
        for (char& c : t) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        r.type = t;
        std::string n(sv.dataSets->outRow.name.text, 32);
        while (!n.empty() && (n.back() == ' ' || n.back() == '\0')) n.pop_back();
        r.name = make_name(n);
        const double* c = sv.cells->ramRow;
        const int32_t number = truncated(c[0]);
        r.term = number / kTermMultiplier;
        r.matrix = number - kTermMultiplier * r.term;
        if (r.term == 0) r.term = 1;
        if (r.matrix == 0) r.matrix = 1;
        r.row = truncated(c[1]);
        r.col = truncated(c[2]);
        r.estim = c[3];
        r.stderr = c[4];
        if (r.type != "MODEL" && r.type != "VARNAME" && r.type != "ESTIM" && r.type != "METHOD" &&
            r.type != "STAT" && r.type != "ADD_PARM") {
            xpmlog(kMsgProc, kMsgInramRowIgnored, r.type.c_str());
            continue;
        }
        rows.push_back(r);
    }
    return rows;
}

// The matrices of the MODEL rows: each number 1 .. m exactly once, terms
// not decreasing with the matrix number (102); types and forms (104).
std::vector<StoredMatrix> model_matrices(const StepView& sv, const std::vector<RamRow>& rows) {
    int32_t m = 0;
    for (const RamRow& r : rows)
        if (r.type == "MODEL") m = std::max(m, r.matrix);
    std::vector<StoredMatrix> mats(static_cast<size_t>(m) + 1);
    std::vector<int32_t> seen(mats.size(), 0);
    bool ordered = m > 0;
    for (const RamRow& r : rows) {
        if (r.type != "MODEL") continue;
        if (r.matrix < 1 || r.matrix > m || seen[r.matrix]++ != 0) {
            ordered = false;
            continue;
        }
        StoredMatrix& s = mats[r.matrix];
        s.name = r.name;
        s.term = r.term;
        s.rows = r.row;
        s.cols = r.col;
        s.type = truncated(r.estim);
        s.form = truncated(r.stderr);
    }
    // Terms start at 1 and follow the matrix numbers without a gap.
    for (int32_t k = 1; k <= m && ordered; ++k) {
        const int32_t before = k == 1 ? 0 : mats[k - 1].term;
        ordered = seen[k] == 1 && mats[k].term >= std::max(before, 1) && mats[k].term <= before + 1;
    }
    if (!ordered) {
        xpmlog(kMsgProc, kMsgInramBadNumbering);
        raise_error_level(sv.ctx, kLevelBadVariables);
    }
    if (*sv.errorLevel > kLevelStepEnds) {
        xpmlog(kMsgProc, kMsgInramUnreadable);
        xexit(*sv.errorLevel, 0);
    }
    for (int32_t k = 1; k <= m; ++k) {
        StoredMatrix& s = mats[k];
        if (s.form < 0 || s.form > kMaxForm || s.type < 0 || s.type > kMaxType) {
            xpmlog(kMsgProc, kMsgInramBadMatrix, name_text(s.name).c_str());
            raise_error_level(sv.ctx, kLevelBadVariables);
        }
    }
    for (const RamRow& r : rows) {
        if (r.type == "VARNAME" && r.matrix >= 1 && r.matrix <= m && r.col >= 1 && r.col <= mats[r.matrix].cols) {
            auto& names = mats[r.matrix].columnNames;
            if (names.size() < static_cast<size_t>(mats[r.matrix].cols)) names.resize(mats[r.matrix].cols);
            names[r.col - 1] = r.name;
        }
        if (r.type == "ESTIM") {
            if (r.matrix < 1 || r.matrix > m) {
                xpmlog(kMsgProc, kMsgInramUnknownMatrix, r.matrix);
                raise_error_level(sv.ctx, kLevelBadVariables);
                continue;
            }
            mats[r.matrix].estim.push_back(&r);
        }
    }
    if (*sv.errorLevel > kLevelStepEnds) {
        xpmlog(kMsgProc, kMsgInramUnreadable);
        xexit(*sv.errorLevel, 0);
    }
    return mats;
}

// ---- the kind and its shape ----

[[noreturn]] void kind_fails(const StepView& sv, const StoredMatrix& s, int32_t second) {
    xpmlog(kMsgProc, kMsgInramBadMatrix, name_text(s.name).c_str());
    xpmlog(kMsgProc, second);
    xexit(std::max(*sv.errorLevel, kLevelBadVariables), 0);
}

// Message 106 (with `second`) when matrix k has not one column name per row.
void column_names_per_row(const StepView& sv, const StoredMatrix& s, int32_t second) {
    int32_t count = 0;
    for (const NameRecord& n : s.columnNames) count += n.length > 0;
    if (count == s.rows) return;
    xpmlog(kMsgProc, kMsgInramColumnNames, name_text(s.name).c_str(), count, s.rows);
    xpmlog(kMsgProc, second);
    xexit(std::max(*sv.errorLevel, kLevelBadVariables), 0);
}

Kind model_kind(const StepView& sv, const std::vector<StoredMatrix>& mats) {
    const int32_t m = static_cast<int32_t>(mats.size()) - 1;
    const int32_t terms = mats[m].term;
    auto is = [&](int32_t k, const char* name) { return k <= m && named(mats[k].name, name); };
    if (terms == 1 && m == 4 && is(1, "_SEL_") && is(2, "_BETA_") && is(3, "_GAMMA_") && is(4, "_PHI_")) {
        if (mats[1].type != kMatSelection) kind_fails(sv, mats[1], 105);
        // _BETA_ spans every variable, _GAMMA_ has a column and _PHI_ a row
        // and column per exogenous one.
        const int32_t all = mats[2].rows, exo = mats[4].rows;
        if (mats[1].cols != all || mats[2].cols != all || mats[3].rows != all || mats[3].cols != exo ||
            mats[4].cols != exo || exo > all)
            kind_fails(sv, mats[2], 105);
        if (mats[3].type != kMatEqsGamma) kind_fails(sv, mats[3], 105);
        StoredMatrix sel = mats[1];
        sel.rows = mats[2].rows;
        column_names_per_row(sv, sel, kMsgInramNoLineqs);
        return Kind::kLineqs;
    }
    // SELECTION, EQSBETA and EQSGAMMA belong to equation models.
    for (int32_t k = 1; k <= m; ++k)
        if (mats[k].type >= kMatSelection) kind_fails(sv, mats[k], 105);
    if (terms == 1 && m == 3 && is(1, "_IDE_") && is(2, "_A_") && is(3, "_P_")) {
        if (mats[1].type != kMatIdentity || mats[1].cols != mats[2].cols || mats[2].cols != mats[3].cols ||
            mats[2].rows != mats[2].cols || mats[3].rows != mats[3].cols || mats[1].rows > mats[1].cols)
            kind_fails(sv, mats[1], 107);
        column_names_per_row(sv, mats[2], kMsgInramNoModel);
        column_names_per_row(sv, mats[3], kMsgInramNoModel);
        return Kind::kRam;
    }
    if (!is(1, "_F_") || !is(2, "_P_")) return Kind::kCosan;
    if (mats[1].cols != mats[2].cols) kind_fails(sv, mats[2], 108);
    const bool shape = (terms == 1 && m == 2) || (terms == 2 && m == 3 && is(3, "_U_")) ||
                       (terms == 2 && m == 4 && is(3, "_U_") && is(4, "_I_"));
    if (!shape) kind_fails(sv, mats[m], 108);
    return Kind::kFactor;
}

// The chain of each term of a matrix model: n rows first, each matrix as
// many rows as the one before has columns, a square central matrix of a
// central type (111-114); forms only on square matrices (60).
void conformity(const StepView& sv, std::vector<StoredMatrix>& mats) {
    const int32_t m = static_cast<int32_t>(mats.size()) - 1;
    int32_t corrections = 0;
    for (int32_t k = 1; k <= m; ++k) {
        StoredMatrix& s = mats[k];
        const bool first = k == 1 || mats[k - 1].term != s.term;
        const bool central = k == m || mats[k + 1].term != s.term;
        const int32_t want = first ? sv.sizes->nManifest : mats[k - 1].cols;
        if (s.rows != want) {
            xpmlog(kMsgProc, kMsgInramRowsCorrected, name_text(s.name).c_str(), s.rows, want);
            s.rows = want;
            ++corrections;
        }
        if (central && s.cols != s.rows) {
            xpmlog(kMsgProc, kMsgInramColumnsCorrected, name_text(s.name).c_str(), s.cols, s.rows);
            s.cols = s.rows;
            ++corrections;
        }
        if (central && s.type != kMatIdentity && s.type != kMatDiagonal && s.type != kMatPosDefinit &&
            s.type != kMatSymmetric) {
            xpmlog(kMsgProc, kMsgInramCentralType, name_text(s.name).c_str(), s.type, s.term);
            s.type = kMatSymmetric;
            ++corrections;
        }
        if (s.form != kFormNone && s.rows != s.cols) {
            xpmlog(kMsgProc, kMsgNotSquare, name_text(s.name).c_str());
            raise_error_level(sv.ctx, kLevelInputError);
        }
    }
    if (corrections > 0) {
        xpmlog(kMsgProc, kMsgInramCorrections, corrections);
        raise_error_level(sv.ctx, kLevelWarning);
    }
}

// ESTIM rows outside their matrix are dropped (117).  `rowsOf` and
// `colsOf` give the extent of matrix k that its elements may take.
template <typename Extent>
void drop_outside(const StepView& sv, std::vector<StoredMatrix>& mats, Extent extent) {
    for (size_t k = 1; k < mats.size(); ++k) {
        auto& rows = mats[k].estim;
        int32_t r = 0, c = 0;
        extent(static_cast<int32_t>(k), &r, &c);
        rows.erase(std::remove_if(rows.begin(), rows.end(),
                                  [&](const RamRow* e) {
                                      if (e->row >= 1 && e->row <= r && e->col >= 1 && e->col <= c) return false;
                                      xpmlog(kMsgProc, kMsgInramNoElement, static_cast<int32_t>(k),
                                             e->row, e->col);
                                      raise_error_level(sv.ctx, kLevelBadVariables);
                                      return true;
                                  }),
                   rows.end());
    }
}

// Whether an ESTIM row at (row, column) of matrix s lies where its type
// keeps elements.
bool fits_type(const StoredMatrix& s, const RamRow& e) {
    switch (s.type) {
        case kMatDiagonal: return e.row == e.col;
        case kMatZerDiagonal: return e.col == e.row + s.cols - s.rows;
        case kMatLower: return e.col <= e.row;
        case kMatUpper: return e.col >= e.row;
        default: return true;
    }
}

// A matrix whose ESTIM rows leave the shape of its type is widened (119):
// a central matrix to SYMMETRIC, another to GENERAL, which the MATRIX
// reader then narrows to the shape its elements have (LOWER, UPPER, ...).
// A matrix of a type without elements (IDENTITY, ZERIDENTITY) passes its
// ESTIM rows over.
void widen_types(std::vector<StoredMatrix>& mats) {
    const int32_t m = static_cast<int32_t>(mats.size()) - 1;
    for (int32_t k = 1; k <= m; ++k) {
        StoredMatrix& s = mats[k];
        if (s.type == kMatIdentity || s.type == kMatZerIdentity) {
            s.estim.clear();
            continue;
        }
        if (std::all_of(s.estim.begin(), s.estim.end(), [&](const RamRow* e) { return fits_type(s, *e); }))
            continue;
        const bool central = k == m || mats[k + 1].term != s.term;
        s.type = central ? kMatSymmetric : kMatGeneral;
        char text[81] = {};
        xpmstr(text, -1 - 80, kMsgProc, central ? kMsgTypeSymmetric : kMsgTypeOther);
        xpmlog(kMsgProc, kMsgTypeChanged, static_cast<int32_t>(s.name.length), s.name.text, text);
    }
}

// ---- the statements of the stored model ----

template <typename T>
T* step_array(size_t n) {
    HostAllocator* a = v_global_gcb_anchor->stepAllocator;
    const size_t count = std::max<size_t>(n, 1);
    void* p = a->allocate(a, sizeof(T) * count, 4);
    if (p == nullptr) {
        xmemmsg(static_cast<int64_t>(sizeof(T) * count));
        xexit(kLevelNoMemory, 0);
    }
    T* t = static_cast<T*>(p);
    for (size_t i = 0; i < count; ++i) new (&t[i]) T();
    return t;
}

template <typename T>
T* step_copy(const std::vector<T>& v) {
    T* out = step_array<T>(v.size());
    std::copy(v.begin(), v.end(), out);
    return out;
}

NameArray name_array(const std::vector<NameRecord>& names) {
    return NameArray{static_cast<int32_t>(names.size()), step_copy(names)};
}

// The statements that restate the model, in order.
struct Statements {
    std::vector<StatementNode*> nodes;
    StatementNode* add(const char* keyword, void* payload) {
        auto* n = step_array<StatementNode>(1);
        std::memset(n->keyword, ' ', 8);
        std::memcpy(n->keyword, keyword, std::strlen(keyword));
        n->payload = payload;
        nodes.push_back(n);
        return n;
    }
};

// The items of one stored element: its name with its value (a start
// value), or its fixed value.
struct ElementItems {
    std::vector<VarianceItem> items;
    std::vector<NameRecord> names;
    std::vector<double> values;
    void add(const RamRow& e) {
        if (e.name.length > 0) {
            items.push_back({kItemNames, static_cast<int32_t>(names.size()), 1});
            names.push_back(e.name);
            if (!wzmis(e.estim)) {
                items.push_back({kItemNameValues, static_cast<int32_t>(values.size()), 1});
                values.push_back(e.estim);
            }
        } else {
            items.push_back({kItemValues, static_cast<int32_t>(values.size()), 1});
            values.push_back(e.estim);
        }
    }
};

void matrix_statement(Statements* st, const StoredMatrix& s) {
    if (s.estim.empty()) return;
    auto* pl = step_array<MatrixPayload>(1);
    pl->name = s.name;
    pl->nGroups = static_cast<int32_t>(s.estim.size());
    pl->groups = step_array<MatrixGroup>(s.estim.size());
    for (size_t g = 0; g < s.estim.size(); ++g) {
        const RamRow& e = *s.estim[g];
        ElementItems it;
        it.add(e);
        MatrixGroup& grp = pl->groups[g];
        grp.position = kPosElement;
        grp.row = e.row;
        // A ZERDIAGONAL matrix is addressed by the row of its diagonal.
        grp.column = s.type == kMatZerDiagonal ? e.row : e.col;
        grp.nItems = static_cast<int32_t>(it.items.size());
        grp.items = step_copy(it.items);
        grp.names = name_array(it.names);
        grp.nValues = static_cast<int32_t>(it.values.size());
        grp.values = step_copy(it.values);
    }
    st->add("MATRIX", pl);
}

// VARNAMES matrix = names, ... for the matrices that have column names.
void varnames_statement(Statements* st, const std::vector<StoredMatrix>& mats, const std::vector<bool>& linked) {
    std::vector<VarnamesGroup> groups;
    for (size_t k = 1; k < mats.size(); ++k) {
        if (linked[k] || mats[k].columnNames.empty()) continue;
        VarnamesGroup g;
        g.matrixName = mats[k].name;
        std::vector<NameRecord> names;
        for (const NameRecord& n : mats[k].columnNames) names.push_back(n.length > 0 ? n : make_name("VAR"));
        g.names = name_array(names);
        groups.push_back(g);
    }
    if (groups.empty()) return;
    auto* pl = step_array<VarnamesPayload>(1);
    pl->nGroups = static_cast<int32_t>(groups.size());
    pl->groups = step_copy(groups);
    st->add("VARNAMES", pl);
}

std::vector<bool> linked_matrices(const std::vector<StoredMatrix>& mats) {
    std::vector<bool> linked(mats.size(), false);
    for (size_t k = 1; k < mats.size(); ++k)
        for (size_t j = 1; j < k && !linked[k]; ++j) linked[k] = same_name(mats[j].name, mats[k].name);
    return linked;
}

void cosan_statements(Statements* st, const std::vector<StoredMatrix>& mats) {
    const int32_t m = static_cast<int32_t>(mats.size()) - 1;
    std::vector<NameRecord> names;
    std::vector<double> cols, types, forms;
    std::vector<int16_t> ends;
    for (int32_t k = 1; k <= m; ++k) {
        names.push_back(mats[k].name);
        cols.push_back(mats[k].cols);
        types.push_back(mats[k].type);
        forms.push_back(mats[k].form);
        if (k == m || mats[k + 1].term != mats[k].term) ends.push_back(static_cast<int16_t>(k));
    }
    auto* pl = step_array<CosanPayload>(1);
    pl->names = name_array(names);
    pl->nColumns = pl->nTypes = pl->nForms = static_cast<int16_t>(m);
    pl->columns = step_copy(cols);
    pl->types = step_copy(types);
    pl->forms = step_copy(forms);
    pl->nTerms = static_cast<int16_t>(ends.size());
    pl->termEnds = step_copy(ends);
    st->add("COSAN", pl);
    const std::vector<bool> linked = linked_matrices(mats);
    for (int32_t k = 1; k <= m; ++k)
        if (!linked[k]) matrix_statement(st, mats[k]);
    varnames_statement(st, mats, linked);
}

void factor_statements(Statements* st, const std::vector<StoredMatrix>& mats) {
    const int32_t m = static_cast<int32_t>(mats.size()) - 1;
    auto* pl = step_array<FactorPayload>(1);
    pl->hasFactors = 1;
    pl->nFactors = mats[1].cols;
    StatementNode* node = st->add("FACTOR", pl);
    if (m == 2) node->flags[kFactorFlagComponent.byte - 12] |= kFactorFlagComponent.bit;
    if (m == 4) node->flags[kFactorFlagHeywood.byte - 12] |= kFactorFlagHeywood.bit;
    const std::vector<bool> linked = linked_matrices(mats);
    for (int32_t k = 1; k <= m; ++k)
        if (!linked[k]) matrix_statement(st, mats[k]);
    varnames_statement(st, mats, linked);
}

// The position of manifest variable `name` among the analysis variables,
// -1 when it is none of them.
int32_t manifest_index(const StepView& sv, const NameRecord& name) {
    for (int32_t v = 0; v < sv.sizes->nManifest; ++v)
        if (same_name(sv.input->manifestNames[v], name)) return v;
    return -1;
}

// The pairs of the exogenous manifest variables `vars` (1-based rows of
// the covariance matrix s) that no ESTIM row stores: the stored model
// fixed their covariance at zero, which leaves no element and so no row.
// Restated without them, the reader would give them the sample covariance
// and the restriction would be lost; they are restated as fixed zeros.
// A variance without a row keeps the sample variance: a fitted model
// always stores its variances (a zero one would make the model's moment
// matrix singular), so a missing one is left to the data.
std::vector<RamRow> unstored_zeros(const StoredMatrix& s, const std::vector<int32_t>& vars) {
    std::vector<RamRow> zeros;
    for (size_t a = 0; a < vars.size(); ++a)
        for (size_t b = 0; b < a; ++b) {
            const int32_t r = vars[a], c = vars[b];
            const bool stored = std::any_of(s.estim.begin(), s.estim.end(), [&](const RamRow* e) {
                return (e->row == r && e->col == c) || (e->row == c && e->col == r);
            });
            if (stored) continue;
            RamRow z;
            z.row = r;
            z.col = c;
            zeros.push_back(z);
        }
    return zeros;
}

// The message for a stored model's column that is no analysis variable:
// the Intercept of a model with means stored by an AUGMENT run is one only
// when this run gives AUGMENT too (symmetric-matrix input has none).
int32_t column_not_analysed(const StepView& sv, const NameRecord& name) {
    return is_intercept_name(name) && !sv.input->symatrixInput ? kMsgInramInterceptNeedsAugment
                                                               : kMsgInramColumnNotAnalysed;
}

// RAM: the stored model's variables are its manifest variables (the first
// rows(_IDE_) columns of _A_, each named after its variable: 110 when not
// one of ours) and the latent ones after them.  Each becomes a variable
// number of the RAM list: a manifest variable its DATA= number, a latent
// one the next number after the manifest variables.
void ram_statements(const StepView& sv, Statements* st, const std::vector<StoredMatrix>& mats) {
    const int32_t N = mats[2].cols, nStored = mats[1].rows, n0 = sv.sizes->nManifest;
    std::vector<int32_t> number(static_cast<size_t>(N), 0);
    std::vector<NameRecord> latentNames;
    for (int32_t c = 0; c < N; ++c) {
        const NameRecord& name = mats[2].columnNames[c];
        const int32_t v = manifest_index(sv, name);
        if (c < nStored) {
            if (v < 0) {
                xpmlog(kMsgProc, column_not_analysed(sv, name), name_text(name).c_str());
                raise_error_level(sv.ctx, kLevelBadVariables);
            }
            number[c] = v + 1;
        } else {
            latentNames.push_back(name);
            number[c] = n0 + static_cast<int32_t>(latentNames.size());
        }
    }
    if (*sv.errorLevel > kLevelStepEnds) {
        xpmlog(kMsgProc, kMsgInramNoModel);
        xexit(*sv.errorLevel, 0);
    }
    std::vector<RamEntry> entries;
    auto add_entry = [&](int32_t k, const RamRow& e) {
        RamEntry r;
        r.matrix = k - 1;
        r.row = number[e.row - 1];
        r.column = number[e.col - 1];
        if (e.name.length > 0) {
            r.nameKind = 1;
            r.name = e.name;
        }
        r.hasValue = !wzmis(e.estim);
        r.value = e.estim;
        entries.push_back(r);
    };
    std::vector<char> endogenous(static_cast<size_t>(N), 0);
    // The constant's own moment is the data's, never a model statement.
    auto constant_moment = [&](const RamRow& e) {
        return e.row == e.col && is_intercept_name(mats[2].columnNames[e.row - 1]);
    };
    for (int32_t k = 2; k <= 3; ++k)
        for (const RamRow* e : mats[k].estim) {
            if (k == 3 && constant_moment(*e)) continue;
            add_entry(k, *e);
            if (k == 2) endogenous[e->row - 1] = 1;
        }
    std::vector<int32_t> exoManifest;
    for (int32_t c = 1; c <= nStored; ++c)
        if (!endogenous[c - 1]) exoManifest.push_back(c);
    for (const RamRow& zero : unstored_zeros(mats[3], exoManifest))
        if (!constant_moment(zero)) add_entry(3, zero);
    auto* pl = step_array<RamPayload>(1);
    pl->nEntries = static_cast<int32_t>(entries.size());
    pl->entries = step_copy(entries);
    st->add("RAM", pl);
    // VARNAMES 1 = the latent names, 2 = the _P_ column of each variable
    // number (numbers no stored variable takes keep a placeholder).
    const int32_t largest = n0 + static_cast<int32_t>(latentNames.size());
    std::vector<NameRecord> pNames(static_cast<size_t>(largest), make_name("E"));
    for (int32_t c = 0; c < N; ++c)
        if (number[c] >= 1) pNames[number[c] - 1] = mats[3].columnNames[c];
    std::vector<VarnamesGroup> groups(latentNames.empty() ? 1 : 2);
    size_t g = 0;
    if (!latentNames.empty()) {
        groups[g].matrixNumber = 1.0;
        groups[g++].names = name_array(latentNames);
    }
    groups[g].matrixNumber = 2.0;
    groups[g].names = name_array(pNames);
    auto* vn = step_array<VarnamesPayload>(1);
    vn->nGroups = static_cast<int32_t>(groups.size());
    vn->groups = step_copy(groups);
    st->add("VARNAMES", vn);
}

// The order of the equations (1-based endogenous numbers) in which the
// reader meets the latent exogenous variables in their stored order: it
// numbers them by first occurrence.  An equation is taken when the latent
// exogenous variables it brings in are the next ones due; the equations of
// latent endogenous variables keep their order.  When no equation fits, the
// next one is taken as it is (the model is the same, in another order).
std::vector<int32_t> equation_order(const StepView& sv, const std::vector<StoredMatrix>& mats, int32_t nEndo) {
    const std::vector<NameRecord>& names = mats[1].columnNames;
    std::vector<std::vector<int32_t>> brings(static_cast<size_t>(nEndo) + 1);
    for (const RamRow* e : mats[3].estim)
        if (e->row >= 1 && e->row <= nEndo && manifest_index(sv, names[nEndo + e->col - 1]) < 0)
            brings[e->row].push_back(e->col);
    for (auto& b : brings) std::sort(b.begin(), b.end());
    std::vector<char> seen(static_cast<size_t>(mats[4].rows) + 1, 0), taken(brings.size(), 0);
    auto latentEndo = [&](int32_t i) { return manifest_index(sv, names[i - 1]) < 0; };
    std::vector<int32_t> order;
    int32_t nextDue = 1;
    while (static_cast<int32_t>(order.size()) < nEndo) {
        while (nextDue <= mats[4].rows && seen[nextDue]) ++nextDue;
        int32_t pick = 0, firstLatent = 0, firstLeft = 0;
        for (int32_t i = 1; i <= nEndo; ++i) {
            if (taken[i]) continue;
            if (firstLeft == 0) firstLeft = i;
            if (latentEndo(i) && firstLatent == 0) firstLatent = i;
        }
        for (int32_t i = 1; i <= nEndo && pick == 0; ++i) {
            if (taken[i] || (latentEndo(i) && i != firstLatent)) continue;
            int32_t due = nextDue;
            bool fits = true;
            for (int32_t c : brings[i]) {
                if (seen[c]) continue;
                while (due <= mats[4].rows && seen[due]) ++due;
                fits = fits && c == due++;
            }
            if (fits) pick = i;
        }
        if (pick == 0) pick = firstLeft;
        taken[pick] = 1;
        for (int32_t c : brings[pick]) seen[c] = 1;
        order.push_back(pick);
    }
    return order;
}

// LINEQS: each variable of an equation must be one of the analysis
// variables or be named as the LINEQS reader names latent ones (an F
// variable on either side, an E or D variable on the right), else its
// name does not fit its place (110, then 105 and the step ends).  A
// stored model whose variable the VAR list leaves out is caught here,
// not by the messages of statements the user never wrote.
void check_lineqs_names(const StepView& sv, const std::vector<StoredMatrix>& mats, int32_t nEndo) {
    const std::vector<NameRecord>& names = mats[1].columnNames;
    std::vector<char> used(names.size(), 0);
    for (int32_t i = 0; i < nEndo; ++i) used[static_cast<size_t>(i)] = 1;
    for (const RamRow* e : mats[3].estim) used[static_cast<size_t>(nEndo + e->col - 1)] = 1;
    for (size_t c = 0; c < names.size(); ++c) {
        if (!used[c] || manifest_index(sv, names[c]) >= 0) continue;
        const char c0 = static_cast<char>(std::toupper(static_cast<unsigned char>(names[c].text[0])));
        const bool latent = c0 == 'F' || (static_cast<int32_t>(c) >= nEndo && (c0 == 'E' || c0 == 'D'));
        if (latent) continue;
        xpmlog(kMsgProc, column_not_analysed(sv, names[c]), name_text(names[c]).c_str());
        raise_error_level(sv.ctx, kLevelBadVariables);
    }
    if (*sv.errorLevel > kLevelStepEnds) {
        xpmlog(kMsgProc, kMsgInramNoLineqs);
        xexit(*sv.errorLevel, 0);
    }
}

// LINEQS: the columns of _SEL_ name the endogenous variables, then the
// exogenous ones.  Row i of _BETA_ and _GAMMA_ is the equation of
// endogenous variable i; _PHI_ gives the STD and COV entries.
void lineqs_statements(const StepView& sv, Statements* st, const std::vector<StoredMatrix>& mats) {
    const std::vector<NameRecord>& names = mats[1].columnNames;
    const int32_t nEndo = mats[2].rows - mats[4].rows;
    check_lineqs_names(sv, mats, nEndo);
    std::vector<NameRecord> dependents, termNames;
    std::vector<int32_t> termEnd, nameStart;
    std::vector<int16_t> kind, sign, nameKind;
    std::vector<double> coef;
    std::vector<char> exoUsed(static_cast<size_t>(mats[4].rows), 0);
    for (int32_t i : equation_order(sv, mats, nEndo)) {
        dependents.push_back(names[i - 1]);
        for (int32_t k = 2; k <= 3; ++k)
            for (const RamRow* e : mats[k].estim) {
                if (e->row != i) continue;
                const int32_t var = k == 2 ? e->col - 1 : nEndo + e->col - 1;
                if (k == 3) exoUsed[e->col - 1] = 1;
                nameStart.push_back(static_cast<int32_t>(termNames.size()));
                sign.push_back(1);
                nameKind.push_back(0);
                if (e->name.length > 0) {
                    kind.push_back(wzmis(e->estim) ? kTermNamed : kTermNamedStart);
                    termNames.push_back(e->name);
                } else {
                    kind.push_back(kTermFixed);
                }
                coef.push_back(e->estim);
                termNames.push_back(names[var]);
            }
        termEnd.push_back(static_cast<int32_t>(kind.size()));
    }
    auto* pl = step_array<LineqsPayload>(1);
    pl->nEquations = nEndo;
    pl->dependents = step_copy(dependents);
    pl->termEnd = step_copy(termEnd);
    pl->nTerms = static_cast<int32_t>(kind.size());
    pl->kind = step_copy(kind);
    pl->sign = step_copy(sign);
    pl->coef = step_copy(coef);
    pl->nameKind = step_copy(nameKind);
    pl->nameStart = step_copy(nameStart);
    pl->nNames = static_cast<int32_t>(termNames.size());
    pl->names = step_copy(termNames);
    pl->line = step_copy(std::vector<int32_t>(static_cast<size_t>(nEndo), 0));
    st->add("LINEQS", pl);

    // _PHI_: diagonal entries are STD, the others COV, for the exogenous
    // variables the equations use.
    std::vector<VarianceGroup> stds, covs;
    auto variance_group = [&](const RamRow& e) {
        ElementItems it;
        it.add(e);
        VarianceGroup g;
        g.vars1 = name_array({names[nEndo + e.row - 1]});
        if (e.row != e.col) g.vars2 = name_array({names[nEndo + e.col - 1]});
        g.nItems = static_cast<int32_t>(it.items.size());
        g.items = step_copy(it.items);
        g.names = name_array(it.names);
        g.nValues = static_cast<int32_t>(it.values.size());
        g.values = step_copy(it.values);
        (e.row == e.col ? stds : covs).push_back(g);
    };
    // The constant's own moment is the data's, never a model statement.
    auto constant_moment = [&](const RamRow& e) {
        return e.row == e.col && is_intercept_name(names[nEndo + e.row - 1]);
    };
    for (const RamRow* e : mats[4].estim)
        if (exoUsed[e->row - 1] && exoUsed[e->col - 1] && !constant_moment(*e)) variance_group(*e);
    std::vector<int32_t> exoManifest;
    for (int32_t c = 1; c <= mats[4].rows; ++c)
        if (exoUsed[c - 1] && manifest_index(sv, names[nEndo + c - 1]) >= 0) exoManifest.push_back(c);
    for (const RamRow& zero : unstored_zeros(mats[4], exoManifest))
        if (!constant_moment(zero)) variance_group(zero);
    for (int mode = 0; mode < 2; ++mode) {
        const auto& groups = mode == 0 ? stds : covs;
        if (groups.empty()) continue;
        auto* vp = step_array<VariancePayload>(1);
        vp->nGroups = static_cast<int32_t>(groups.size());
        vp->groups = step_copy(groups);
        st->add(mode == 0 ? "STD" : "COV", vp);
    }
}

bool is_model_statement(const StatementNode* n) {
    static const char* const kModel[] = {"LINEQS  ", "STD     ", "COV     ", "RAM     ", "COSAN   ",
                                         "MATRIX  ", "FACTOR  ", "VARNAMES"};
    for (const char* k : kModel)
        if (std::memcmp(n->keyword, k, 8) == 0) return true;
    return false;
}

// The statement list with the stored model's statements in place of the
// user's model statements (a FACTOR statement beside a stored factor
// model is noted: the stored shape stays).  The PROC statement stays first.
void replace_model_statements(const StepView& sv, Statements* st, Kind kind) {
    StatementNode* head = sv.ctx->stmtList;
    std::vector<StatementNode*> rest;
    for (StatementNode* n = head ? head->next : nullptr; n; n = n->next) {
        if (!is_model_statement(n)) {
            rest.push_back(n);
            continue;
        }
        if (kind == Kind::kFactor && std::memcmp(n->keyword, "FACTOR  ", 8) == 0) {
            const auto* pl = static_cast<const FactorPayload*>(n->payload);
            if (pl->hasFactors || node_flag(n, kFactorFlagHeywood) || node_flag(n, kFactorFlagComponent))
                xpmlog(kMsgProc, kMsgFactorKeepsInram);
        }
    }
    std::vector<StatementNode*> order;
    if (head != nullptr) order.push_back(head);
    order.insert(order.end(), st->nodes.begin(), st->nodes.end());
    order.insert(order.end(), rest.begin(), rest.end());
    for (size_t i = 0; i < order.size(); ++i) order[i]->next = i + 1 < order.size() ? order[i + 1] : nullptr;
    sv.ctx->stmtList = order.empty() ? nullptr : order.front();
}

// Matrices the dropped elements left empty although their type needs
// elements (118), so that a step ended by 117 reports them too.  A BETA
// type or the I - M form becomes IDENTITY when empty; the other types
// listed hold no elements of their own.
void report_empty_matrices(const StepView& sv, const std::vector<StoredMatrix>& mats, Kind kind) {
    const std::vector<bool> linked = linked_matrices(mats);
    const size_t first = kind == Kind::kLineqs || kind == Kind::kRam ? 2 : 1;
    const size_t last = kind == Kind::kRam ? 3 : kind == Kind::kLineqs ? 4 : mats.size() - 1;
    for (size_t k = first; k <= last; ++k) {
        const StoredMatrix& m = mats[k];
        if (linked[k] || !m.estim.empty() || m.form == kFormIMinusInverse) continue;
        switch (m.type) {
            case kMatBeta: case kMatEqsBeta: case kMatEqsGamma: case kMatIdentity: case kMatZerIdentity:
            case kMatZerDiagonal: case kMatSelection: case kMatPermutation:
                continue;
            default:
                xpmlog(kMsgProc, kMsgMatrixEmpty, name_text(m.name).c_str());
                raise_error_level(sv.ctx, kLevelBadVariables);
        }
    }
}

}  // namespace

void cosiram(ProcContext* ctx) {
    const StepView sv = step_view(ctx);
    const std::vector<RamRow> rows = read_rows(sv);
    std::vector<StoredMatrix> mats = model_matrices(sv, rows);
    const Kind kind = model_kind(sv, mats);
    if (kind == Kind::kCosan || kind == Kind::kFactor) conformity(sv, mats);
    drop_outside(sv, mats, [&](int32_t k, int32_t* r, int32_t* c) {
        *r = mats[k].rows;
        *c = mats[k].cols;
        // The equations' rows and _BETA_'s columns leave out the exogenous
        // variables.
        if (kind == Kind::kLineqs && (k == 2 || k == 3)) *r -= mats[4].rows;
        if (kind == Kind::kLineqs && k == 2) *c -= mats[4].rows;
    });
    if (*sv.errorLevel > kLevelStepEnds) {
        report_empty_matrices(sv, mats, kind);
        xexit(*sv.errorLevel, 0);
    }
    if (kind == Kind::kCosan || kind == Kind::kFactor) widen_types(mats);
    Statements st;
    switch (kind) {
        case Kind::kLineqs: lineqs_statements(sv, &st, mats); break;
        case Kind::kRam: ram_statements(sv, &st, mats); break;
        case Kind::kCosan: cosan_statements(&st, mats); break;
        case Kind::kFactor: factor_statements(&st, mats); break;
    }
    replace_model_statements(sv, &st, kind);
    std::vector<int16_t> types;
    for (const StoredMatrix& m : mats) types.push_back(static_cast<int16_t>(m.type));
    sv.readers->storedTypes = step_copy(types);
    sv.readers->nStoredTypes = static_cast<int32_t>(types.size());
    cospari(sv.ctx);
}
