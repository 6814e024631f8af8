// MATRIX statements: the element patterns of the matrices of a COSAN model
// (and of a FACTOR model whose matrices they name), and the column names of
// its VARNAMES statement.  Each matrix is built as a dense pattern, a name
// and a value per position; every MATRIX statement of its name lays its
// entries over the positions its type leaves free; the pattern is then
// written as element records and the type narrowed to the shape found.
//
//   VARNAMES count -> per matrix: reuse a namesake | structured type: no
//   elements | statements (cospar2) or the FACTOR default (setfac) -> empty
//   diagonal of (I - B) matrices -> records and type -> matrices without
//   elements -> column names -> added parameters -> parameter table
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "host/host_support.h"
#include "host/internal_error.h"
#include "procedure/driver/model.h"
#include "procedure/driver/model_readers.h"
#include "procedure/driver/step_view.h"
#include "velix/messages.h"

namespace {

using velix::detail::name_text;
using Position = std::pair<int32_t, int32_t>;

bool is_structured(int16_t t) {
    return t == kMatPermutation || t == kMatSelection || t == kMatIdentity || t == kMatZerIdentity;
}

// The positions a type leaves free: where the items of an entry go.
bool free_position(int16_t type, int32_t i, int32_t j, int32_t rows, int32_t cols) {
    switch (type) {
        case kMatLower:
        case kMatSymmetric:
        case kMatPosDefinit: return j <= i;
        case kMatUpper: return j >= i;
        case kMatDiagonal: return i == j;
        case kMatZerDiagonal: return j == i + (cols - rows);
        default: return true;
    }
}

// One entry group of a MATRIX statement with its items buffered.
struct Entry {
    StepView sv;
    int32_t k;
    int32_t rows, cols;
    int16_t type;
    NameRecord* names;
    double* values;
    NameRecord* bufNames;
    double* bufValues;
    std::vector<char> prefix;  // the buffered name is a generated-name prefix
    int32_t count = 0;
    velix::detail::PrefixTable* prefixes;
    int32_t placed = 0;
    int32_t line = 0;  // of the entry group, for the messages

    void place(int32_t r, int32_t c, const NameRecord& name, double value) {
        const size_t at = static_cast<size_t>(r) * cols + c;
        if (names[at].length > 0 && !same_name(names[at], name)) {
            const std::string before = name_text(names[at]), now = name_text(name);
            xpmlog(kMsgProc, kMsgPositionRepeated, before.c_str(),
                   now.empty() ? "a fixed value" : now.c_str());
            xpmplace(line, now.empty() ? nullptr : now.c_str());
        }
        names[at] = name;
        values[at] = value;
        ++placed;
    }

    // Lays the items over `positions` in order; a prefix as the last item
    // names every position left.  Cyclic: the items start again from the
    // first when they run out.
    void lay_out(const std::vector<Position>& positions, bool cyclic) {
        int32_t item = 0;
        for (const Position& p : positions) {
            if (item >= count) {
                if (!cyclic || count == 0) break;
                item = 0;
            }
            if (prefix[item]) {
                place(p.first, p.second, prefixes->next(bufNames[item]), bufValues[item]);
                if (item < count - 1) ++item;
            } else {
                place(p.first, p.second, bufNames[item], bufValues[item]);
                ++item;
            }
        }
    }

    // A list laid over a fixed run of positions: what does not fit is not
    // placed (message `tooLong`).
    void fill(const std::vector<Position>& positions, int32_t tooLong) {
        if (count > static_cast<int32_t>(positions.size())) {
            xpmlog(kMsgProc, tooLong);
            xpmplace(line, nullptr);
        }
        lay_out(positions, false);
    }

    void error(int32_t message, double a, double b = 0.0) {
        xpmlog(kMsgProc, message, name_text(sv.model->name[k]).c_str(), a, b);
        xpmplace(line, nullptr);
        raise_error_level(sv.ctx, kLevelInputError);
    }
};

// Buffers the items of one entry group; false when the group is not laid
// out.
bool buffer_items(const StepView& sv, const MatrixGroup& g, int32_t capacity, Entry* en) {
    const double missing = host_missing_value();
    en->prefix.assign(static_cast<size_t>(std::max(capacity, 1)), 0);
    int32_t lastNames = 0;
    int16_t previous = 0;
    for (int32_t it = 0; it < g.nItems; ++it) {
        const VarianceItem& item = g.items[it];
        switch (item.code) {
            case kItemNames:
            case kItemPrefix: {
                const int32_t n = item.code == kItemPrefix ? 1 : item.count;
                lastNames = 0;
                for (int32_t i = 0; i < n; ++i) {
                    if (en->count >= capacity) {
                        xpmlog(kMsgProc, kMsgEntryTooLong, capacity);
                        xpmplace(g.line, nullptr);
                        raise_error_level(sv.ctx, kLevelInputError);
                        return false;
                    }
                    en->bufNames[en->count] = g.names.names[item.first + i];
                    en->bufValues[en->count] = missing;
                    en->prefix[en->count] = item.code == kItemPrefix;
                    ++en->count;
                    ++lastNames;
                }
                break;
            }
            case kItemNameValues: {
                if (previous == kItemValues) {
                    // A fixed value has no start value: the step cannot go on,
                    // so the surplus note would add nothing.
                    xpmlog(kMsgProc, kMsgStartAfterFixed);
                    xpmplace(g.line, nullptr);
                    raise_error_level(sv.ctx, kLevelInputError);
                    break;
                }
                int32_t m = item.count;
                if (m > lastNames) {
                    xpmlog(kMsgProc, kMsgSurplusStartValues);
                    xpmplace(g.line, nullptr);
                    m = lastNames;
                }
                for (int32_t i = 0; i < m; ++i) en->bufValues[en->count - m + i] = g.values[item.first + i];
                lastNames = 0;
                break;
            }
            case kItemValues:
                for (int32_t i = 0; i < item.count; ++i) {
                    if (en->count >= capacity) {
                        xpmlog(kMsgProc, kMsgEntryTooLong, capacity);
                        xpmplace(g.line, nullptr);
                        raise_error_level(sv.ctx, kLevelInputError);
                        return false;
                    }
                    en->bufNames[en->count] = NameRecord();
                    en->bufValues[en->count] = g.values[item.first + i];
                    en->prefix[en->count] = 0;
                    ++en->count;
                }
                lastNames = 0;
                break;
            default:
                break;
        }
        previous = item.code;
    }
    return true;
}

// An index of the statement (1-based) as a 0-based index; -1 when it is no
// whole number from 1 to `extent`.
int32_t index_of(double v, int32_t extent) {
    if (!(v >= 1.0) || v > extent) return -1;
    return static_cast<int32_t>(v) - 1;
}

// One column (`isColumn`) or one row of the free positions of the type:
// the whole line, its part on and below (LOWER, SYMMETRIC, POSDEFINIT) or
// on and above (UPPER) the diagonal, or its one diagonal element.  A
// position of the line is (line, x) for a row and (x, line) for a column.
bool line_run(Entry* en, double given, bool isColumn) {
    const int32_t rows = en->rows, cols = en->cols, shift = cols - rows;
    const int32_t outOfRange = isColumn ? kMsgNoSuchColumn : kMsgNoSuchRow;
    const int32_t line = index_of(given, isColumn ? cols : rows);
    if (line < 0) {
        en->error(outOfRange, given);
        return false;
    }
    const int32_t extent = isColumn ? rows : cols;  // positions along the line
    auto at = [&](int32_t x) { return isColumn ? Position{x, line} : Position{line, x}; };
    // Below the diagonal of a column is "from the line on", of a row "up to
    // the line"; above the diagonal the other way round.
    const bool lowerPart = en->type == kMatLower || en->type == kMatSymmetric || en->type == kMatPosDefinit;
    const bool upperPart = en->type == kMatUpper;
    std::vector<Position> run;
    if (en->type == kMatDiagonal || en->type == kMatZerDiagonal) {
        const int32_t off = en->type == kMatDiagonal ? 0 : (isColumn ? -shift : shift);
        const int32_t x = line + off;
        if (x < 0 || x >= extent) {
            en->error(outOfRange, given);
            return false;
        }
        run.push_back(at(x));
    } else if ((lowerPart && isColumn) || (upperPart && !isColumn)) {
        for (int32_t x = line; x < extent; ++x) run.push_back(at(x));
    } else if (lowerPart || upperPart) {
        for (int32_t x = 0; x <= std::min(line, extent - 1); ++x) run.push_back(at(x));
    } else {
        for (int32_t x = 0; x < extent; ++x) run.push_back(at(x));
    }
    en->fill(run, kMsgEntryOverflow);
    return true;
}

// The diagonal run from (i, j) down and to the right.
bool diagonal_run(Entry* en, double givenRow, double givenColumn) {
    const int32_t rows = en->rows, cols = en->cols;
    int32_t i = index_of(givenRow, rows), j = index_of(givenColumn, cols);
    if (i < 0) {
        en->error(kMsgNoSuchRow, givenRow);
        return false;
    }
    if (j < 0) {
        en->error(kMsgNoSuchColumn, givenColumn);
        return false;
    }
    const int16_t t = en->type;
    if ((t == kMatDiagonal || t == kMatZerDiagonal) && i != j) {
        en->error(kMsgDiagonalStartOff, givenRow, givenColumn);
        return false;
    }
    if (t == kMatLower && i < j) {
        en->error(kMsgLowerStartAbove, givenRow, givenColumn);
        return false;
    }
    if (t == kMatUpper && i > j) {
        en->error(kMsgUpperStartBelow, givenRow, givenColumn);
        return false;
    }
    if ((t == kMatSymmetric || t == kMatPosDefinit) && i < j) std::swap(i, j);
    if (t == kMatZerDiagonal) {
        j += cols - rows;
        if (j < 0 || j >= cols) {
            en->error(kMsgNoSuchColumn, givenColumn);
            return false;
        }
    }
    std::vector<Position> run;
    for (int32_t r = i, c = j; r < rows && c < cols; ++r, ++c) run.push_back({r, c});
    en->fill(run, kMsgDiagonalRunCut);
    return true;
}

// The items repeated in every row, over the row's free positions.
void every_row(Entry* en) {
    size_t widest = 0;
    std::vector<std::vector<Position>> runs(static_cast<size_t>(en->rows));
    for (int32_t i = 0; i < en->rows; ++i) {
        for (int32_t j = 0; j < en->cols; ++j)
            if (free_position(en->type, i, j, en->rows, en->cols)) runs[i].push_back({i, j});
        widest = std::max(widest, runs[i].size());
    }
    if (static_cast<size_t>(en->count) > widest) {
        xpmlog(kMsgProc, kMsgEntryOverflow);
        xpmplace(en->line, nullptr);
    }
    for (const auto& run : runs) en->lay_out(run, false);
}

// The name of the statement of node equals the name of matrix k.
bool names_matrix(const StatementNode* node, const StepView& sv, int32_t k) {
    return same_name(static_cast<const MatrixPayload*>(node->payload)->name, sv.model->name[k]);
}

void clear_pattern(NameRecord* names, double* values, size_t cells) {
    const double missing = host_missing_value();
    for (size_t c = 0; c < cells; ++c) {
        names[c] = NameRecord();
        values[c] = missing;
    }
}

// The column names of a COSAN model's VARNAMES lists (V names in all).
void cosan_column_names(const StepView& sv, const VarnamesPayload* pl, int32_t total) {
    ModelMatrixTable& mt = *sv.model;
    sv.readers->columnNames =
        velix::detail::table_array<NameRecord>(sv.ctx, static_cast<size_t>(total));
    sv.readers->nColumnNames = total;
    auto share = [&](int32_t k, int32_t first) {
        for (int32_t l = 1; l <= sv.sizes->nMatrices; ++l)
            if (same_name(mt.name[l], mt.name[k])) mt.firstColumnName[l] = first;
    };
    int32_t next = 0;
    for (int32_t g = 0; g < pl->nGroups; ++g) {
        int32_t k = 0, second = 0;
        if (velix::detail::varnames_kind(sv.ctx, pl->groups[g], &k, &second) != velix::detail::VarnamesKind::kList ||
            k == 0)
            continue;
        const NameArray& given = pl->groups[g].names;
        const int32_t cols = mt.columns[k];
        const std::string name = name_text(mt.name[k]);
        if (given.count != cols) {
            xpmlog(kMsgProc, given.count < cols ? kMsgVarnamesFewer : kMsgVarnamesMore, name.c_str(),
                   given.count, cols);
            xpmplace(pl->groups[g].line, name_text(pl->groups[g].matrixName).c_str());
        }
        share(k, next + 1);
        for (int32_t c = 0; c < cols && next < total; ++c) {
            if (c < given.count) {
                sv.readers->columnNames[next++] = velix::detail::padded8(given.names[c]);
            } else {
                NameRecord r;
                znamfix(0, "VAR", 3, c + 1, 0, r.text, 32);
                r.length = static_cast<int16_t>(wzstrip(r.text, 32));
                sv.readers->columnNames[next++] = velix::detail::padded8(r);
            }
        }
    }
    if (next != total) {
        internal_error("the VARNAMES column names do not fill their table");
    }
    for (int32_t g = 0; g < pl->nGroups; ++g) {
        int32_t k = 0, second = 0;
        if (velix::detail::varnames_kind(sv.ctx, pl->groups[g], &k, &second) != velix::detail::VarnamesKind::kCopy ||
            k == 0 || second == 0)
            continue;
        if (mt.firstColumnName[k] == 0 && mt.firstColumnName[second] == 0) {
            xpmlog(kMsgProc, kMsgNoSharedNames, name_text(mt.name[k]).c_str(),
                   name_text(mt.name[second]).c_str());
            xpmplace(pl->groups[g].line, name_text(mt.name[k]).c_str());
        } else if (mt.firstColumnName[second] == 0)
            share(second, mt.firstColumnName[k]);
        else
            share(k, mt.firstColumnName[second]);
    }
}

}  // namespace

int32_t cospar2(ProcContext* ctx, const StatementNode* node, int32_t k, NameRecord* names, double* values,
                NameRecord* nameBuffer, double* valueBuffer, int32_t capacity,
                velix::detail::PrefixTable* prefixes) {
    const StepView sv = step_view(ctx);
    const ModelMatrixTable& mt = *sv.model;
    const auto* pl = static_cast<const MatrixPayload*>(node->payload);
    if (mt.type[k] == kMatIdentity || mt.type[k] == kMatZerIdentity) {
        xpmlog(kMsgProc, kMsgIdentityElements, name_text(mt.name[k]).c_str());
        xpmplace(node->line, name_text(mt.name[k]).c_str());
        raise_error_level(sv.ctx, kLevelInputError);
        return 0;
    }
    int32_t placed = 0;
    for (int32_t gi = 0; gi < pl->nGroups; ++gi) {
        const MatrixGroup& g = pl->groups[gi];
        if (g.nItems == 0) {
            xpmlog(kMsgProc, kMsgEntryEmpty, name_text(mt.name[k]).c_str());
            xpmplace(g.line, nullptr);
            continue;
        }
        Entry en{sv, k, mt.rows[k], mt.columns[k], mt.type[k], names, values, nameBuffer, valueBuffer, {}, 0,
                 prefixes};
        en.line = g.line;
        if (!buffer_items(sv, g, capacity, &en)) continue;
        switch (g.position) {
            case kPosNone: {
                std::vector<Position> all;
                for (int32_t i = 0; i < en.rows; ++i)
                    for (int32_t j = 0; j < en.cols; ++j)
                        if (free_position(en.type, i, j, en.rows, en.cols)) all.push_back({i, j});
                en.lay_out(all, true);
                break;
            }
            case kPosEachRow: every_row(&en); break;
            case kPosColumn: line_run(&en, g.column, true); break;
            case kPosRow: line_run(&en, g.row, false); break;
            case kPosElement: diagonal_run(&en, g.row, g.column); break;
            default:
                internal_error("a MATRIX entry has an unknown position code");
        }
        placed += en.placed;
    }
    return placed;
}

void setfac(ProcContext* ctx, int32_t k, NameRecord* names, double* values) {
    const StepView sv = step_view(ctx);
    ModelMatrixTable& mt = *sv.model;
    const int32_t rows = mt.rows[k], cols = mt.columns[k];
    const double missing = host_missing_value();
    const bool loadings = sv.readers->nFactors > 0 && k == 1;
    const bool unique =
        (sv.readers->nFactors > 0 && k == 3) || (sv.readers->nFactors == 0 && k == 1);
    if (sv.readers->nFactors > 0 && k == 2) {
        mt.type[k] = kMatIdentity;
        mt.constant[k] = 1;
        velix::detail::type_change_note(sv.ctx, k, kMsgTypeIdentity);
        return;
    }
    int32_t number = 0;
    if (loadings) {
        const NameRecord prefix = velix::detail::make_name("_F");
        for (int32_t j = 0; j < cols; ++j)
            for (int32_t i = j; i < rows; ++i) {
                names[static_cast<size_t>(i) * cols + j] = velix::detail::generated_name(prefix, ++number);
                values[static_cast<size_t>(i) * cols + j] = missing;
            }
    } else if (unique) {
        const NameRecord prefix = velix::detail::make_name("_U");
        for (int32_t i = 0; i < std::min(rows, cols); ++i) {
            names[static_cast<size_t>(i) * cols + i] = velix::detail::generated_name(prefix, ++number);
            values[static_cast<size_t>(i) * cols + i] = missing;
        }
    }
}

namespace {

// VARNAMES, first pass: how many column names the lists give; a group of
// another kind (*otherKind) leaves them all out.
int32_t count_column_names(const StepView& sv, const VarnamesPayload* vpl, bool* otherKind) {
    const ModelMatrixTable& mt = *sv.model;
    int32_t total = 0, otherLine = 0;
    for (int32_t g = 0; vpl != nullptr && g < vpl->nGroups; ++g) {
        int32_t k = 0, second = 0;
        const velix::detail::VarnamesKind kind = velix::detail::varnames_kind(sv.ctx, vpl->groups[g], &k, &second);
        if (kind == velix::detail::VarnamesKind::kOther) {
            if (!*otherKind) otherLine = vpl->groups[g].line;
            *otherKind = true;
        } else if (k == 0) {
            xpmlog(kMsgProc, kMsgVarnamesNoMatrix, name_text(vpl->groups[g].matrixName).c_str());
            xpmplace(vpl->groups[g].line, name_text(vpl->groups[g].matrixName).c_str());
        } else if (kind == velix::detail::VarnamesKind::kCopy && second == 0) {
            xpmlog(kMsgProc, kMsgVarnamesNoMatrix,
                   name_text(vpl->groups[g].names.names[0]).c_str());
            xpmplace(vpl->groups[g].line, name_text(vpl->groups[g].names.names[0]).c_str());
        } else if (kind == velix::detail::VarnamesKind::kList) {
            total += mt.columns[k];
        }
    }
    if (*otherKind) {
        xpmlog(kMsgProc, kMsgVarnamesOtherKind);
        xpmplace(otherLine, nullptr);
        total = 0;
        raise_error_level(sv.ctx, kLevelWarning);
    }
    return total;
}

// Matrices without elements: an empty (I - B) becomes an identity, any other
// that needs elements is an error; a namesake follows its first occurrence.
// A matrix whose elements were not written (unwritten[k], after an earlier
// error) is not empty for all anyone knows, and is passed over.
void correct_empty_matrices(const StepView& sv, const std::vector<char>& unwritten) {
    ModelMatrixTable& mt = *sv.model;
    const int32_t m = sv.sizes->nMatrices;
    for (int32_t k = 1; k <= m; ++k) {
        if (mt.sameName[k] > 0 || mt.elementCount[k] > 0 || unwritten[k]) continue;
        const int16_t t = mt.type[k];
        if (t == kMatBeta || t == kMatEqsBeta || mt.form[k] == kFormIMinusInverse) {
            mt.type[k] = kMatIdentity;
            mt.form[k] = kFormNone;
            velix::detail::type_change_note(sv.ctx, k, kMsgTypeIdentity);
        } else if (t != kMatIdentity && t != kMatZerIdentity && t != kMatZerDiagonal && t != kMatSelection &&
                   t != kMatPermutation) {
            xpmlog(kMsgProc, kMsgMatrixEmpty, name_text(mt.name[k]).c_str());
            velix::detail::place_cosan_matrix(sv.ctx, k);
            raise_error_level(sv.ctx, kLevelBadVariables);
        }
    }
    for (int32_t k = 1; k <= m; ++k)
        if (mt.sameName[k] > 0) {
            mt.type[k] = mt.type[mt.sameName[k]];
            mt.form[k] = mt.form[mt.sameName[k]];
        }
}

}  // namespace

void cosparm(ProcContext* ctx) {
    const StepView sv = step_view(ctx);
    ModelMatrixTable& mt = *sv.model;
    const int32_t m = sv.sizes->nMatrices;
    const bool factor = sv.readers->factorModel != 0;

    const StatementNode* vnode = find_statement(sv.ctx->stmtList, "VARNAMES");
    const VarnamesPayload* vpl = vnode ? static_cast<const VarnamesPayload*>(vnode->payload) : nullptr;
    bool otherKind = false;
    const int32_t total = count_column_names(sv, vpl, &otherKind);

    // Scratch: the dense pattern and the item buffers.
    int64_t largest = 2 * static_cast<int64_t>(m);
    for (int32_t k = 1; k <= m; ++k) largest = std::max<int64_t>(largest, static_cast<int64_t>(mt.rows[k]) * mt.columns[k]);
    const size_t cells = static_cast<size_t>(std::max<int64_t>(largest, 1));
    velix::detail::TempPool pool(sv.ctx, static_cast<int64_t>(cells) * 84 + 4096);
    NameRecord* names = pool.allocate<NameRecord>(cells);
    double* values = pool.allocate<double>(cells);
    NameRecord* nameBuffer = pool.allocate<NameRecord>(cells);
    double* valueBuffer = pool.allocate<double>(cells);
    const int32_t capacity = static_cast<int32_t>(cells);

    velix::detail::rewind_scratch(sv.ctx);
    sv.sizes->nElements = 0;
    sv.readers->nNamedPositions = 0;
    velix::detail::PrefixTable prefixes;
    char text80[81] = {};
    std::vector<char> unwritten(static_cast<size_t>(m) + 1, 0);
    for (int32_t k = 1; k <= m; ++k) {
        const int32_t root = mt.sameName[k];
        if (root > 0) {
            mt.type[k] = mt.type[root];
            mt.firstElement[k] = mt.firstElement[root];
            mt.elementCount[k] = mt.elementCount[root];
            mt.constant[k] = mt.constant[root];
            continue;
        }
        mt.firstElement[k] = sv.sizes->nElements;
        mt.elementCount[k] = 0;
        const size_t n = static_cast<size_t>(mt.rows[k]) * mt.columns[k];
        if (is_structured(mt.type[k])) {
            // No elements; a statement for an identity is refused (kMsgIdentityElements).
            mt.constant[k] = 1;
            for (const StatementNode* s = find_statement(sv.ctx->stmtList, "MATRIX  "); s;
                 s = find_statement(s->next, "MATRIX  "))
                if (names_matrix(s, sv, k) && (mt.type[k] == kMatIdentity || mt.type[k] == kMatZerIdentity))
                    cospar2(sv.ctx, s, k, names, values, nameBuffer, valueBuffer, capacity, &prefixes);
            continue;
        }
        clear_pattern(names, values, n);
        bool named = false;
        for (const StatementNode* s = find_statement(sv.ctx->stmtList, "MATRIX  "); s;
             s = find_statement(s->next, "MATRIX  "))
            if (names_matrix(s, sv, k)) {
                named = true;
                cospar2(sv.ctx, s, k, names, values, nameBuffer, valueBuffer, capacity, &prefixes);
            }
        if (factor && !named && k < 4) {
            setfac(sv.ctx, k, names, values);
            // The default _P_ is a constant identity: nothing to write.
            if (mt.type[k] == kMatIdentity) continue;
        }
        const int32_t cols = mt.columns[k];
        if (mt.type[k] == kMatBeta || mt.type[k] == kMatEqsBeta || mt.form[k] == kFormIMinusInverse) {
            bool reported = false;
            for (int32_t i = 0; i < std::min(mt.rows[k], cols); ++i) {
                const size_t at = static_cast<size_t>(i) * cols + i;
                const bool occupied = names[at].length > 0 || (!wzmis(values[at]) && values[at] != 0.0);
                if (occupied && !reported) {
                    xpmlog(kMsgProc, kMsgDiagonalRemoved, name_text(mt.name[k]).c_str());
                    reported = true;
                }
                names[at] = NameRecord();
                values[at] = host_missing_value();
            }
        }
        // After an error the step ends below: the statements are still read
        // for their messages, but no element is written.
        if (*sv.errorLevel > kLevelWarning) {
            unwritten[k] = 1;
            continue;
        }
        // Positions nobody filled hold the missing value; they are not
        // elements (patwrt writes unnamed positions unless they are 0.0).
        for (size_t c = 0; c < n; ++c)
            if (names[c].length == 0 && wzmis(values[c])) values[c] = 0.0;
        patwrt(text80, sv.ctx, k, names, values);
    }

    correct_empty_matrices(sv, unwritten);
    velix::detail::exit_above(sv.ctx, 4);

    // Column names.
    if (factor)
        velix::detail::factor_column_names(sv.ctx, vnode, otherKind);
    else if (total > 0)
        cosan_column_names(sv, vpl, total);
    velix::detail::exit_above(sv.ctx, 4);

    // Added parameters and the parameter table.
    cospar3(sv.ctx, nameBuffer, valueBuffer, capacity);
    sv.sizes->nParmAll = sv.readers->nNamedPositions + sv.sizes->nParmAdded;
    velix::detail::exit_above(sv.ctx, 4);
    cospar1(sv.ctx, sv.sizes->nParmAdded);
}
