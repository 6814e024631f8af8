// The RAM reader: the reticular action model of McArdle and McDonald (Brit.
// J. Math. Statist. Psych. 37, 1984) as a list of items, each a path
// coefficient (matrix 1, _A_) or a variance or covariance (matrix 2, _P_)
// between numbered variables.  One term of three matrices over the N model
// variables: Sigma = J (I - A)^-1 P (I - A)^-T J' with J = _IDE_ selecting the
// manifest variables.
//
//   items: check matrix and variable numbers, mark the manifest variables
//   (endogenous: row of a path; exogenous; unused) -> drop unused ones ->
//   map the latent numbers that occur to positions after the manifest
//   ones -> patterns of _A_ and _P_ (unnamed exogenous manifest covariances
//   left for the per-group defaults, or estimated when items give part of
//   them) -> empty matrices -> added parameters
//   -> parameter table -> incoming paths, column names and VARNAMES
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "host/fields.h"
#include "procedure/driver/model.h"
#include "procedure/driver/model_readers.h"
#include "procedure/driver/step_view.h"
#include "velix/messages.h"

namespace {

using velix::detail::name_text;

constexpr int16_t kMarkUnused = 0;
constexpr int16_t kMarkExogenous = 1;
constexpr int16_t kMarkEndogenous = 2;

// A variable number of an item as an integer: -1 when it is no whole
// number from 1 to kMaxModelOrder (it must never index an array).
int32_t variable_number(double v) {
    if (!(v >= 1.0) || v > kMaxModelOrder || v != std::floor(v)) return -1;
    return static_cast<int32_t>(v);
}

void name_matrix(ModelMatrixTable& mt, int32_t k, const char* name, int16_t type, int16_t form) {
    mt.name[k] = velix::detail::make_name(name);
    mt.type[k] = type;
    mt.form[k] = form;
    mt.constant[k] = 1;
}

// VARNAMES of a RAM model: group 1 names latent variables, group 2 the
// columns of _P_; a group given by matrix name is an item of another kind.
const VarnamesPayload* ram_varnames(const StepView& sv) {
    const StatementNode* node = find_statement(sv.ctx->stmtList, "VARNAMES");
    if (node == nullptr) return nullptr;
    const auto* pl = static_cast<const VarnamesPayload*>(node->payload);
    for (int32_t g = 0; g < pl->nGroups; ++g)
        if (pl->groups[g].matrixNumber == 0.0) {
            xpmlog(kMsgProc, kMsgRamVarnamesNumbers);
            xpmplace(pl->groups[g].line, name_text(pl->groups[g].matrixName).c_str());
            raise_error_level(sv.ctx, kLevelWarning);
            return nullptr;
        }
    for (int32_t g = 0; g < pl->nGroups; ++g) {
        const double m = pl->groups[g].matrixNumber;
        if (m != 1.0 && m != 2.0) {
            xpmlog(kMsgProc, kMsgRamVarnamesMatrix, m);
            xpmplace(pl->groups[g].line, nullptr);
        }
    }
    return pl;
}
// The items of the RAM statement: internal matrix number (2 _A_, 3 _P_,
// 0 for a rejected item) and variable numbers, with the marks of the
// manifest variables and the largest variable number.
struct RamItems {
    std::vector<int16_t> mark;
    std::vector<int32_t> matrixOf, rowVar, colVar;
    int32_t largest = 0;
};

// Checks the matrix and variable numbers of the items and marks the
// manifest variables (endogenous: row of a path; exogenous; unused).
void read_items(const StepView& sv, const RamPayload* pl, RamItems* items) {
    ModelMatrixTable& mt = *sv.model;
    const int32_t n0 = sv.sizes->nManifest;
    items->mark.assign(static_cast<size_t>(n0), kMarkUnused);
    items->matrixOf.assign(static_cast<size_t>(pl->nEntries), 0);
    items->rowVar.assign(items->matrixOf.size(), 0);
    items->colVar.assign(items->matrixOf.size(), 0);
    items->largest = n0;
    std::vector<int16_t>& mark = items->mark;
    for (int32_t i = 0; i < pl->nEntries; ++i) {
        const RamEntry& it = pl->entries[i];
        const double internal = it.matrix + 1.0;
        if (internal != 2.0 && internal != 3.0) {
            xpmlog(kMsgProc, kMsgRamBadMatrix, it.matrix, i + 1);
            xpmplace(it.line, nullptr);
            raise_error_level(sv.ctx, kLevelBadVariables);
            continue;
        }
        const int32_t r = variable_number(it.row), c = variable_number(it.column);
        if (r < 0 || c < 0) {
            xpmlog(kMsgProc, kMsgRamBadVariable, r < 0 ? it.row : it.column, i + 1, kMaxModelOrder);
            xpmplace(it.line, nullptr);
            raise_error_level(sv.ctx, kLevelInputError);
            continue;
        }
        // The Intercept of AUGMENT, the last manifest variable, is the
        // constant 1: a path into it or a variance of it would make it a
        // random variable.
        if (sv.options->interceptVar && r == n0 && (internal == 2.0 || c == n0)) {
            xpmlog(kMsgProc, kMsgInterceptIsConstant, "the RAM statement",
                   internal == 2.0 ? "a path that points to it" : "a variance");
            xpmplace(it.line, nullptr);
            raise_error_level(sv.ctx, kLevelInputError);
            continue;
        }
        if (*sv.errorLevel > kLevelWarning) continue;
        const int32_t k = static_cast<int32_t>(internal);
        items->matrixOf[i] = k;
        items->rowVar[i] = r;
        items->colVar[i] = c;
        if (it.nameKind != 0) mt.constant[k] = 0;
        items->largest = std::max({items->largest, r, c});
        if (r <= n0) {
            int16_t& mk = mark[r - 1];
            if (k == 2)
                mk = kMarkEndogenous;
            else if (mk == kMarkUnused)
                mk = kMarkExogenous;
        }
        if (c <= n0 && mark[c - 1] == kMarkUnused) mark[c - 1] = kMarkExogenous;
    }
}

// Positions of the manifest variables: endogenous first, then exogenous;
// unused ones are dropped from the model.  Returns the number of
// endogenous manifest variables.
int32_t place_manifest(const StepView& sv, const RamItems& items) {
    const int32_t n0 = sv.sizes->nManifest;
    sv.readers->varPosition = velix::detail::table_array<int32_t>(sv.ctx, n0);
    int32_t nEndo = 0, unused = 0;
    for (int16_t mk : items.mark) {
        nEndo += mk == kMarkEndogenous;
        unused += mk == kMarkUnused;
    }
    int32_t endo = 0, exo = nEndo;
    for (int32_t v = 0; v < n0; ++v)
        sv.readers->varPosition[v] = items.mark[v] == kMarkEndogenous  ? endo++
                                      : items.mark[v] == kMarkExogenous ? exo++
                                                                        : -1;
    sv.readers->nEndoManifest = nEndo;
    sv.readers->nUnusedVars = unused;
    if (unused > 0) {
        cospar4(sv.ctx);
        // The classes follow the manifest variables that stay in the model.
        int32_t kept = 0;
        for (int32_t v = 0; v < n0; ++v)
            if (sv.readers->varPosition[v] >= 0)
                sv.readers->varPosition[kept++] = sv.readers->varPosition[v];
    }
    const int32_t provisional = items.largest - unused;
    sv.readers->leadingDim = std::max(sv.sizes->nManifest, provisional);
    sv.readers->largestProduct = std::max(provisional * provisional, 1);
    sv.sizes->invStoreLen = provisional * provisional;
    return nEndo;
}

// Model positions by variable number: the used manifest variables in DATA=
// order, then the latent numbers that occur, in increasing order.
std::vector<int32_t> place_variables(const RamItems& items, int32_t n0, int32_t nEntries) {
    std::vector<int32_t> position(static_cast<size_t>(items.largest) + 1, -1);
    int32_t p = 0;
    for (int32_t v = 1; v <= n0; ++v)
        if (items.mark[v - 1] != kMarkUnused) position[v] = p++;
    std::vector<char> occurs(position.size(), 0);
    for (int32_t i = 0; i < nEntries; ++i)
        if (items.matrixOf[i] != 0) occurs[items.rowVar[i]] = occurs[items.colVar[i]] = 1;
    for (int32_t v = n0 + 1; v <= items.largest; ++v)
        if (occurs[v]) position[v] = p++;
    return position;
}

// Writes the patterns of _A_ and _P_ through the N x N work arrays names
// and values; unnamed exogenous manifest covariances are left missing for
// the per-group defaults, unless items give part of them.
void write_patterns(const StepView& sv, const RamPayload* pl, const RamItems& items,
                    const std::vector<int32_t>& position, int32_t N, NameRecord* names,
                    double* values) {
    ModelMatrixTable& mt = *sv.model;
    const double missing = host_missing_value();
    const int32_t n0 =
        static_cast<int32_t>(items.mark.size());  // the DATA= variables before any were dropped
    const size_t cells = static_cast<size_t>(N) * N;
    velix::detail::rewind_scratch(sv.ctx);
    sv.sizes->nElements = 0;
    sv.readers->nNamedPositions = 0;
    velix::detail::PrefixTable prefixes;
    char text80[81] = {};
    mt.firstElement[1] = 0;
    mt.elementCount[1] = 0;
    std::vector<NameRecord> pathNames;  // of _A_
    std::vector<size_t> exoCells;
    for (int32_t k = 2; k <= 3; ++k) {
        for (size_t c = 0; c < cells; ++c) {
            if (k == 3 && names[c].length > 0) pathNames.push_back(names[c]);
            names[c] = NameRecord();
            values[c] = 0.0;
        }
        if (k == 3) {
            // Covariances of the exogenous manifest variables: supplied per
            // BY group unless an item gives them.
            for (int32_t a = 1; a <= n0; ++a)
                for (int32_t b = 1; b <= a; ++b)
                    if (items.mark[a - 1] == kMarkExogenous &&
                        items.mark[b - 1] == kMarkExogenous) {
                        const int32_t r = std::max(position[a], position[b]), c = std::min(position[a], position[b]);
                        values[static_cast<size_t>(r) * N + c] = missing;
                        // The constant's own moment (the intercept of the
                        // augmented moments follows the DATA= variables) is
                        // 1 whatever the model.
                        if (!(sv.options->interceptVar && a == n0 && b == a))
                            exoCells.push_back(static_cast<size_t>(r) * N + c);
                    }
        }
        for (int32_t i = 0; i < pl->nEntries; ++i) {
            if (items.matrixOf[i] != k) continue;
            const RamEntry& it = pl->entries[i];
            int32_t r = position[items.rowVar[i]], c = position[items.colVar[i]];
            if (k == 3 && r < c) std::swap(r, c);
            const size_t at = static_cast<size_t>(r) * N + c;
            NameRecord name;
            if (it.nameKind == kNameKindPrefix) {
                name = prefixes.next(it.name);
            } else if (it.nameKind != 0) {
                name = it.name;
                prefixes.check_collision(name);
            }
            if (names[at].length > 0 && !same_name(names[at], name)) {
                const std::string before = name_text(names[at]), now = name_text(name);
                xpmlog(kMsgProc, kMsgPositionRepeated, before.c_str(),
                       now.empty() ? "a fixed value" : now.c_str());
                xpmplace(it.line, now.empty() ? nullptr : now.c_str());
            }
            names[at] = name;
            values[at] = it.hasValue ? it.value : (it.nameKind != 0 ? missing : 1.0);
        }
        if (k == 3) velix::detail::estimate_unstated_exogenous(sv.ctx, exoCells, names, cells, values, pathNames);
        patwrt(text80, sv.ctx, k, names, values);
    }
}

// Turns an empty _A_ into an identity; an empty _P_ is an error.
void correct_empty_matrices(const StepView& sv) {
    ModelMatrixTable& mt = *sv.model;
    for (int32_t k = 2; k <= 3; ++k) {
        if (mt.elementCount[k] > 0) continue;
        if (mt.type[k] == kMatBeta || mt.type[k] == kMatEqsBeta || mt.form[k] == kFormIMinusInverse) {
            mt.type[k] = kMatIdentity;
            mt.form[k] = kFormNone;
            velix::detail::type_change_note(sv.ctx, k, kMsgTypeIdentity);
        } else if (mt.type[k] != kMatIdentity && mt.type[k] != kMatZerDiagonal && mt.type[k] != kMatSelection) {
            xpmlog(kMsgProc, kMsgMatrixEmpty, name_text(mt.name[k]).c_str());
            raise_error_level(sv.ctx, kLevelBadVariables);
        }
    }
    if (mt.type[2] == kMatIdentity) sv.sizes->invStoreLen = 0;
}

// Counts the incoming paths of each variable and moves the exogenous
// manifest positions past the endogenous latent variables.
void count_incoming_paths(const StepView& sv, int32_t N, int32_t nEndo) {
    const ModelMatrixTable& mt = *sv.model;
    const int32_t n = sv.sizes->nManifest;
    sv.readers->incomingPaths = velix::detail::table_array<int32_t>(sv.ctx, static_cast<size_t>(N));
    for (int32_t e = mt.firstElement[2]; e < mt.firstElement[2] + mt.elementCount[2]; ++e)
        ++sv.readers->incomingPaths[sv.elements->row[e]];
    int32_t endoLatent = 0;
    sv.readers->nWithIncoming = 0;
    for (int32_t v = 0; v < N; ++v) {
        sv.readers->nWithIncoming += sv.readers->incomingPaths[v] > 0;
        if (v >= n) endoLatent += sv.readers->incomingPaths[v] > 0;
    }
    for (int32_t v = 0; v < n; ++v)
        if (sv.readers->varPosition[v] >= nEndo) sv.readers->varPosition[v] += endoLatent;
    sv.readers->nEndo = nEndo + endoLatent;
}

// Names the columns of _A_ (manifest names, then F1, F2, ...) and of _P_
// (E1, E2, ..., then D1, D2, ...), overridden by VARNAMES.
void name_columns(const StepView& sv, const VarnamesPayload* varnames, const RamItems& items,
                  const std::vector<int32_t>& position, int32_t N) {
    const int32_t n = sv.sizes->nManifest;
    const int32_t n0 =
        static_cast<int32_t>(items.mark.size());  // the DATA= variables before any were dropped
    NameRecord* cn = sv.readers->columnNames;
    for (int32_t i = 0; i < n; ++i) {
        cn[i] = velix::detail::padded8(sv.input->manifestNames[i]);
        cn[N + i] = velix::detail::padded8(velix::detail::generated_name(velix::detail::make_name("E"), i + 1));
    }
    for (int32_t l = 1; l <= N - n; ++l) {
        cn[n + l - 1] = velix::detail::padded8(velix::detail::generated_name(velix::detail::make_name("F"), l));
        cn[N + n + l - 1] = velix::detail::padded8(velix::detail::generated_name(velix::detail::make_name("D"), l));
    }
    for (int32_t g = 0; varnames != nullptr && g < varnames->nGroups; ++g) {
        const VarnamesGroup& grp = varnames->groups[g];
        if (grp.matrixNumber != 1.0 && grp.matrixNumber != 2.0) continue;
        const bool latent = grp.matrixNumber == 1.0;
        const int32_t room = latent ? items.largest - n0 : items.largest;
        if (grp.names.count != room) {
            xpmlog(kMsgProc, grp.names.count < room ? kMsgRamVarnamesFewer : kMsgRamVarnamesMore,
                   grp.names.count, room);
            xpmplace(grp.line, nullptr);
        }
        for (int32_t l = 1; l <= std::min(grp.names.count, room); ++l) {
            const int32_t v = latent ? n0 + l : l;
            if (position[v] < 0) continue;
            const NameRecord name = velix::detail::padded8(grp.names.names[l - 1]);
            cn[latent ? position[v] : N + position[v]] = name;
        }
    }
}

// A latent variable that no path reaches and no _P_ entry gives a
// variance has variance 0 and adds nothing to the model: a NOTE names it,
// since the singular information that follows names only the parameters
// it leaves unidentified.
void note_latent_variance_zero(const StepView& sv, int32_t N) {
    const ModelMatrixTable& mt = *sv.model;
    std::vector<char> variance(static_cast<size_t>(N), 0);
    for (int32_t e = mt.firstElement[3]; e < mt.firstElement[3] + mt.elementCount[3]; ++e)
        if (sv.elements->row[e] == sv.elements->column[e]) variance[static_cast<size_t>(sv.elements->row[e])] = 1;
    for (int32_t v = sv.sizes->nManifest; v < N; ++v)
        if (sv.readers->incomingPaths[v] == 0 && !variance[static_cast<size_t>(v)]) {
            const NameRecord& name = sv.readers->columnNames[v];
            xpmlog(kMsgProc, kMsgRamLatentVarianceZero,
                   std::string(name.text, static_cast<size_t>(wzstrip(name.text, name.length))).c_str());
        }
}

}  // namespace

void cosparr(ProcContext* ctx) {
    const StepView sv = step_view(ctx);
    ModelMatrixTable& mt = *sv.model;
    name_matrix(mt, 1, "_IDE_", kMatIdentity, kFormNone);
    name_matrix(mt, 2, "_A_", kMatGeneral, kFormIMinusInverse);
    name_matrix(mt, 3, "_P_", kMatSymmetric, kFormNone);
    mt.termTable[0] = 1;
    mt.termTable[1] = 4;
    const StatementNode* node = find_statement(sv.ctx->stmtList, "RAM     ");
    if (node == nullptr) {
        xpmlog(kMsgProc, kMsgNoRamStatement);
        raise_error_level(sv.ctx, kLevelBadVariables);
        xexit(*sv.errorLevel, 0);
    }
    const auto* pl = static_cast<const RamPayload*>(node->payload);
    const int32_t n0 = sv.sizes->nManifest;  // variable numbers 1..n0 are the DATA= variables

    RamItems items;
    read_items(sv, pl, &items);
    velix::detail::exit_above(sv.ctx, 4);
    const int32_t nEndo = place_manifest(sv, items);
    const VarnamesPayload* varnames = ram_varnames(sv);
    const int32_t n = sv.sizes->nManifest;
    const std::vector<int32_t> position = place_variables(items, n0, pl->nEntries);
    int32_t N = n;
    for (int32_t v = n0 + 1; v <= items.largest; ++v) N += position[v] >= 0;
    sv.readers->nLatent = N - n;
    mt.rows[1] = n;
    mt.columns[1] = N;
    mt.rows[2] = mt.columns[2] = N;
    mt.rows[3] = mt.columns[3] = N;

    const size_t cells = static_cast<size_t>(N) * N;
    velix::detail::TempPool pool(sv.ctx, static_cast<int64_t>(cells) * (sizeof(NameRecord) + sizeof(double)) + 4096);
    NameRecord* names = pool.allocate<NameRecord>(cells);
    double* values = pool.allocate<double>(cells);
    write_patterns(sv, pl, items, position, N, names, values);
    correct_empty_matrices(sv);
    velix::detail::exit_above(sv.ctx, 4);

    // Added parameters and the parameter table.
    if (sv.options->modelListing) cosmcon(sv.ctx);
    const int32_t capacity = static_cast<int32_t>(std::max<size_t>(cells, 1));
    cospar3(sv.ctx, names, values, capacity);
    sv.sizes->nParmAll = sv.readers->nNamedPositions + sv.sizes->nParmAdded;
    velix::detail::exit_above(sv.ctx, 4);
    mt.firstColumnName[1] = mt.firstColumnName[2] = 1;
    mt.firstColumnName[3] = N + 1;
    sv.readers->nColumnNames = 2 * N;
    sv.readers->columnNames = velix::detail::table_array<NameRecord>(sv.ctx, static_cast<size_t>(2 * N));
    cospar1(sv.ctx, sv.sizes->nParmAdded);
    velix::detail::exit_above(sv.ctx, 4);

    count_incoming_paths(sv, N, nEndo);
    name_columns(sv, varnames, items, position, N);
    note_latent_variance_zero(sv, N);
    velix::detail::exit_above(sv.ctx, 4);
}
