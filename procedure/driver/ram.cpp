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
//   left for the per-group defaults) -> empty matrices -> added parameters
//   -> parameter table -> incoming paths, column names and VARNAMES
#include <algorithm>
#include <cmath>
#include <vector>

#include "procedure/driver/model.h"
#include "procedure/driver/model_readers.h"

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
const VarnamesPayload* ram_varnames(ProcContext* ctx) {
    const StatementNode* node = find_statement(ctx->stmtList, "VARNAMES");
    if (node == nullptr) return nullptr;
    const auto* pl = static_cast<const VarnamesPayload*>(node->payload);
    for (int32_t g = 0; g < pl->nGroups; ++g)
        if (pl->groups[g].matrixNumber == 0.0) {
            xpmlog(kMsgProc, 283);
            raise_error_level(ctx, kLevelWarning);
            return nullptr;
        }
    for (int32_t g = 0; g < pl->nGroups; ++g) {
        const double m = pl->groups[g].matrixNumber;
        if (m != 1.0 && m != 2.0) xpmlog(kMsgProc, 282, m);
    }
    return pl;
}

}  // namespace

void cosparr(ProcContext* ctx) {
    ModelMatrixTable& mt = ctx->model;
    const double missing = host_missing_value();
    // 1.
    name_matrix(mt, 1, "_IDE_", kMatIdentity, kFormNone);
    name_matrix(mt, 2, "_A_", kMatGeneral, kFormIMinusInverse);
    name_matrix(mt, 3, "_P_", kMatSymmetric, kFormNone);
    mt.termTable[0] = 1;
    mt.termTable[1] = 4;
    const StatementNode* node = find_statement(ctx->stmtList, "RAM     ");
    if (node == nullptr) {
        xpmlog(kMsgProc, 280);
        raise_error_level(ctx, kLevelBadVariables);
        xexit(ctx->errorLevel, 0);
    }
    const auto* pl = static_cast<const RamPayload*>(node->payload);
    const int32_t n0 = ctx->nManifest;  // variable numbers 1..n0 are the DATA= variables

    // 2. Items: matrix and variable numbers, marks of the manifest variables.
    std::vector<int16_t> mark(static_cast<size_t>(n0), kMarkUnused);
    std::vector<int32_t> matrixOf(static_cast<size_t>(pl->nEntries), 0);
    std::vector<int32_t> rowVar(matrixOf.size(), 0), colVar(matrixOf.size(), 0);
    int32_t largest = n0;
    for (int32_t i = 0; i < pl->nEntries; ++i) {
        const RamEntry& it = pl->entries[i];
        const double internal = it.matrix + 1.0;
        if (internal != 2.0 && internal != 3.0) {
            xpmlog(kMsgProc, 281, it.matrix, i + 1);
            xpmplace(it.line, nullptr);
            raise_error_level(ctx, kLevelBadVariables);
            continue;
        }
        const int32_t r = variable_number(it.row), c = variable_number(it.column);
        if (r < 0 || c < 0) {
            xpmlog(kMsgProc, 176, r < 0 ? it.row : it.column, i + 1, kMaxModelOrder);
            xpmplace(it.line, nullptr);
            raise_error_level(ctx, kLevelInputError);
            continue;
        }
        if (ctx->errorLevel > kLevelWarning) continue;
        matrixOf[i] = static_cast<int32_t>(internal);
        rowVar[i] = r;
        colVar[i] = c;
        if (it.nameKind != 0) mt.constant[matrixOf[i]] = 0;
        largest = std::max({largest, r, c});
        if (r <= n0) {
            int16_t& mk = mark[r - 1];
            if (matrixOf[i] == 2)
                mk = kMarkEndogenous;
            else if (mk == kMarkUnused)
                mk = kMarkExogenous;
        }
        if (c <= n0 && mark[c - 1] == kMarkUnused) mark[c - 1] = kMarkExogenous;
    }
    velix::detail::exit_above(ctx, 4);

    // 3. Positions of the manifest variables: endogenous first, then
    // exogenous; unused ones are dropped from the model.
    ctx->readers.varPosition = velix::detail::table_array<int32_t>(ctx, n0);
    int32_t nEndo = 0, unused = 0;
    for (int16_t mk : mark) {
        nEndo += mk == kMarkEndogenous;
        unused += mk == kMarkUnused;
    }
    {
        int32_t endo = 0, exo = nEndo;
        for (int32_t v = 0; v < n0; ++v)
            ctx->readers.varPosition[v] = mark[v] == kMarkEndogenous  ? endo++
                                          : mark[v] == kMarkExogenous ? exo++
                                                                      : -1;
    }
    ctx->readers.nEndoManifest = nEndo;
    ctx->readers.nUnusedVars = unused;
    if (unused > 0) {
        cospar4(ctx);
        // The classes follow the manifest variables that stay in the model.
        int32_t kept = 0;
        for (int32_t v = 0; v < n0; ++v)
            if (ctx->readers.varPosition[v] >= 0)
                ctx->readers.varPosition[kept++] = ctx->readers.varPosition[v];
    }
    const int32_t provisional = largest - unused;
    ctx->readers.leadingDim = std::max(ctx->nManifest, provisional);
    ctx->readers.largestProduct = std::max(provisional * provisional, 1);
    ctx->invStoreLen = provisional * provisional;

    // 4. VARNAMES.
    const VarnamesPayload* varnames = ram_varnames(ctx);

    // 5. Model positions: the used manifest variables in DATA= order, then
    // the latent numbers that occur, in increasing order.
    const int32_t n = ctx->nManifest;
    std::vector<int32_t> position(static_cast<size_t>(largest) + 1, -1);
    {
        int32_t p = 0;
        for (int32_t v = 1; v <= n0; ++v)
            if (mark[v - 1] != kMarkUnused) position[v] = p++;
        std::vector<char> occurs(position.size(), 0);
        for (int32_t i = 0; i < pl->nEntries; ++i)
            if (matrixOf[i] != 0) occurs[rowVar[i]] = occurs[colVar[i]] = 1;
        for (int32_t v = n0 + 1; v <= largest; ++v)
            if (occurs[v]) position[v] = p++;
    }
    int32_t N = n;
    for (int32_t v = n0 + 1; v <= largest; ++v) N += position[v] >= 0;
    ctx->readers.nLatent = N - n;
    mt.rows[1] = n;
    mt.columns[1] = N;
    mt.rows[2] = mt.columns[2] = N;
    mt.rows[3] = mt.columns[3] = N;

    // 6. Patterns of _A_ and _P_.
    const size_t cells = static_cast<size_t>(N) * N;
    velix::detail::TempPool pool(ctx, static_cast<int64_t>(cells) * (sizeof(NameRecord) + sizeof(double)) + 4096);
    NameRecord* names = pool.allocate<NameRecord>(cells);
    double* values = pool.allocate<double>(cells);
    velix::detail::rewind_scratch(ctx);
    ctx->nElements = 0;
    ctx->readers.nNamedPositions = 0;
    velix::detail::PrefixTable prefixes;
    char text80[81] = {};
    mt.firstElement[1] = 0;
    mt.elementCount[1] = 0;
    for (int32_t k = 2; k <= 3; ++k) {
        for (size_t c = 0; c < cells; ++c) {
            names[c] = NameRecord();
            values[c] = 0.0;
        }
        if (k == 3) {
            // Covariances of the exogenous manifest variables: supplied per
            // BY group unless an item gives them.
            for (int32_t a = 1; a <= n0; ++a)
                for (int32_t b = 1; b <= a; ++b)
                    if (mark[a - 1] == kMarkExogenous && mark[b - 1] == kMarkExogenous) {
                        const int32_t r = std::max(position[a], position[b]), c = std::min(position[a], position[b]);
                        values[static_cast<size_t>(r) * N + c] = missing;
                    }
        }
        for (int32_t i = 0; i < pl->nEntries; ++i) {
            if (matrixOf[i] != k) continue;
            const RamEntry& it = pl->entries[i];
            int32_t r = position[rowVar[i]], c = position[colVar[i]];
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
                xpmlog(kMsgProc, 220, before.c_str(), now.empty() ? "a fixed value" : now.c_str());
            }
            names[at] = name;
            values[at] = it.hasValue ? it.value : (it.nameKind != 0 ? missing : 1.0);
        }
        patwrt(text80, ctx, k, names, values);
    }

    // 7. Matrices without elements.
    for (int32_t k = 2; k <= 3; ++k) {
        if (mt.elementCount[k] > 0) continue;
        if (mt.type[k] == kMatBeta || mt.type[k] == kMatEqsBeta || mt.form[k] == kFormIMinusInverse) {
            mt.type[k] = kMatIdentity;
            mt.form[k] = kFormNone;
            velix::detail::type_change_note(ctx, k, 152);
        } else if (mt.type[k] != kMatIdentity && mt.type[k] != kMatZerDiagonal && mt.type[k] != kMatSelection) {
            xpmlog(kMsgProc, 118, name_text(mt.name[k]).c_str());
            raise_error_level(ctx, kLevelBadVariables);
        }
    }
    if (mt.type[2] == kMatIdentity) ctx->invStoreLen = 0;
    velix::detail::exit_above(ctx, 4);

    // 8. Added parameters and the parameter table.
    if (ctx->options.modelListing) cosmcon(ctx);
    const int32_t capacity = static_cast<int32_t>(std::max<size_t>(cells, 1));
    cospar3(ctx, names, values, capacity);
    ctx->nParmAll = ctx->readers.nNamedPositions + ctx->nParmAdded;
    velix::detail::exit_above(ctx, 4);
    mt.firstColumnName[1] = mt.firstColumnName[2] = 1;
    mt.firstColumnName[3] = N + 1;
    ctx->readers.nColumnNames = 2 * N;
    ctx->readers.columnNames =
        velix::detail::table_array<NameRecord>(ctx, static_cast<size_t>(2 * N));
    cospar1(ctx, ctx->nParmAdded);
    velix::detail::exit_above(ctx, 4);

    // 9. Incoming paths; manifest positions past the endogenous latent
    // variables; column names.
    ctx->readers.incomingPaths = velix::detail::table_array<int32_t>(ctx, static_cast<size_t>(N));
    for (int32_t e = mt.firstElement[2]; e < mt.firstElement[2] + mt.elementCount[2]; ++e)
        ++ctx->readers.incomingPaths[ctx->elements.row[e]];
    int32_t endoLatent = 0;
    ctx->readers.nWithIncoming = 0;
    for (int32_t v = 0; v < N; ++v) {
        ctx->readers.nWithIncoming += ctx->readers.incomingPaths[v] > 0;
        if (v >= n) endoLatent += ctx->readers.incomingPaths[v] > 0;
    }
    for (int32_t v = 0; v < n; ++v)
        if (ctx->readers.varPosition[v] >= nEndo) ctx->readers.varPosition[v] += endoLatent;
    ctx->readers.nEndo = nEndo + endoLatent;

    NameRecord* cn = ctx->readers.columnNames;
    for (int32_t i = 0; i < n; ++i) {
        cn[i] = velix::detail::padded8(ctx->input.manifestNames[i]);
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
        const int32_t room = latent ? largest - n0 : largest;
        if (grp.names.count < room) xpmlog(kMsgProc, 284, grp.names.count, room);
        if (grp.names.count > room) xpmlog(kMsgProc, 285, grp.names.count, room);
        for (int32_t l = 1; l <= std::min(grp.names.count, room); ++l) {
            const int32_t v = latent ? n0 + l : l;
            if (position[v] < 0) continue;
            const NameRecord name = velix::detail::padded8(grp.names.names[l - 1]);
            cn[latent ? position[v] : N + position[v]] = name;
        }
    }
    velix::detail::exit_above(ctx, 4);
}
