// Listing matrix printer: a matrix as plain text lines, the classic
// line-printer layout of the statistical packages of the punched-card era
// (row labels down the side, the columns split into blocks that fit the
// print line, each block headed by its column labels).  Storage shapes are
// row- or column-major dense arrays and the packed triangles of PackedSym;
// the value format of a block is chosen from the widest and the smallest
// value it prints.
#include "numerics/matprint.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "host/fields.h"
#include "host/internal_error.h"
#include "host/message_text.h"
#include "numerics/probability_text.h"
#include "numerics/titles.h"
#include "velix/host.h"
#include "velix/packed_index.h"

namespace {

constexpr int32_t kDefaultLabelWidth = 8;
constexpr int32_t kDefaultDescriptionWidth = 40;
constexpr int32_t kDefaultGap = 2;
constexpr int32_t kDefaultIndent = 4;
// Automatic field widths stay within 8 .. 12 characters; no field is wider
// than 32 (the widest text the number formats produce).
constexpr int32_t kAutoFieldMin = 8;
constexpr int32_t kAutoFieldMax = 12;
constexpr int32_t kFieldMax = 32;
// A probability prints in the six characters of the p-value format.
constexpr int32_t kProbabilityWidth = 6;
// Decimals of the fixed format when the caller names no limit.
constexpr int32_t kDefaultDecimals = 4;
constexpr int32_t kMaxDecimals = 31;
// Significant digits of E notation never exceed 8 decimals of the mantissa
// (what a listing reader can use), nor the %G form 15 (a double's).
constexpr int32_t kMaxMantissaDecimals = 8;
constexpr int32_t kMaxSignificant = 15;
// E notation spends 7 characters besides its mantissa decimals: sign,
// leading digit, point, 'E', exponent sign and two exponent digits.
constexpr int32_t kExponentOverhead = 7;
// Title lines are split at line breaks, empty lines dropped.
constexpr int32_t kTitleSplitFlags = kSkipEmptyPieces;

[[noreturn]] void invalid_shape(char shape) { internal_errorf("zpmval: invalid shape=%c", shape); }

bool valid_shape(char shape) { return std::strchr("rcsltud", shape) != nullptr && shape != '\0'; }

// Whether element (i, j) lies in the part of the matrix the storage holds:
// the lower triangle of s, l, t, the upper of u, the diagonal of d.
bool in_stored_part(const MatrixPrintRequest* r, int32_t i, int32_t j) {
    if (r->allElements) return true;
    switch (r->shape) {
        case 's': case 'l': case 't': return j <= i;
        case 'u': return i <= j;
        case 'd': return i == j;
        default: return true;
    }
}

int32_t declared_width(const MatrixPrintLabels* set, int32_t fallback) {
    return set->width > 0 ? set->width : fallback;
}

// Label `index` of a set into out[width]; result its stripped length.
int32_t label_text(const MatrixPrintRequest* r, const MatrixPrintLabels* set, int32_t fallbackWidth,
                   int32_t index, int32_t width, char* out) {
    if (width <= 0) return 0;
    std::memset(out, ' ', static_cast<size_t>(width));
    if (set->labelFn != nullptr) {
        set->labelFn(r, index, width, out);
    } else if (set->names != nullptr) {
        const int32_t w = declared_width(set, fallbackWidth);
        const int32_t stride = set->stride > 0 ? set->stride : w;
        const char* name = set->names + static_cast<int64_t>(index) * stride;
        const int32_t n = std::min(w, width);
        for (int32_t k = 0; k < n && name[k] != '\0'; ++k) out[k] = name[k];
    }
    return wzstrip(out, width);
}

// Widest label of a set: the longest stripped name, or the declared width
// when the labels come from a function or are missing.
int32_t label_width(const MatrixPrintLabels* set, int32_t fallbackWidth, int32_t count) {
    const int32_t w = declared_width(set, fallbackWidth);
    if (set->labelFn != nullptr || set->names == nullptr) return w;
    return wzstmax(set->names, w, set->stride > 0 ? set->stride : w, count);
}

char rule_character(const MatrixPrintRequest* r) {
    if (r->plainRule) return '-';
    char formchar[64] = {};
    return xoptcgt("FORMCHAR", formchar, sizeof formchar) >= 2 ? formchar[1] : '-';
}

// C's conversion of v, whole: the field widths and the fallbacks below
// are judged on the text C gives, not on one that a formatting service
// has already fitted to some field of its own.
std::string text_of(const char* format, int32_t decimals, double v) {
    const int n = std::snprintf(nullptr, 0, format, decimals, v);
    if (n <= 0) return "";
    std::string s(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(s.data(), s.size(), format, decimals, v);
    s.resize(static_cast<size_t>(n));
    return s;
}

// The E form of v in at most width characters with as many mantissa
// decimals as fit; "" when not even the shortest fits.
std::string e_fallback(double v, int32_t width) {
    for (int32_t d = std::min(width, kMaxSignificant); d >= 0; --d) {
        std::string s = text_of("%.*E", d, v);
        if (static_cast<int32_t>(s.size()) <= width) return s;
    }
    return "";
}

// What a block prints: the format letter and its decimals.
struct BlockFormat {
    char letter = 'f';
    int32_t decimals = 0;
};

// Magnitudes of the values a block prints.
struct BlockRange {
    bool any = false;       // some finite, non-missing value
    bool negative = false;  // some value below 0
    double maxAbs = 0.0;
    double minNonzero = 0.0;  // smallest nonzero magnitude, 0.0 when none
};

bool row_in_block(const MatrixPrintRequest* r, int32_t i, int32_t first, int32_t count) {
    for (int32_t j = first; j < first + count; ++j)
        if (in_stored_part(r, i, j)) return true;
    return false;
}

BlockRange block_range(const MatrixPrintRequest* r, int32_t first, int32_t count) {
    BlockRange b;
    for (int32_t i = 0; i < r->rows; ++i)
        for (int32_t j = first; j < first + count; ++j) {
            if (!in_stored_part(r, i, j)) continue;
            const double v = zpmval(r, i, j);
            if (wzmis(v) || !std::isfinite(v)) continue;
            b.any = true;
            if (v < 0.0) b.negative = true;
            const double a = std::fabs(v);
            b.maxAbs = std::max(b.maxAbs, a);
            if (a > 0.0 && (b.minNonzero == 0.0 || a < b.minNonzero)) b.minNonzero = a;
        }
    return b;
}

// Width of the widest fixed text of the block at the given decimals.
int32_t fixed_width(const BlockRange& b, int32_t decimals) {
    return static_cast<int32_t>(text_of("%.*f", decimals, b.negative ? -b.maxAbs : b.maxAbs).size());
}

int32_t e_decimals(const BlockRange& b, int32_t field) {
    // A three-digit exponent takes one more character.
    const bool wideExponent = b.maxAbs >= 1e100 || (b.minNonzero > 0.0 && b.minNonzero < 1e-99);
    return std::clamp(field - kExponentOverhead - (wideExponent ? 1 : 0), 0, kMaxMantissaDecimals);
}

// Chooses the format of one block:
//   fixed: the given decimals (d flag), else the most up to the limit at
//          which the widest value fits the field;
//   best:  the fewest decimals at which the smallest nonzero value shows
//          the digits of E notation (zpmsmal), when the widest value then
//          fits; E notation otherwise;
//   E, general: the mantissa or significant digits that fill the field.
BlockFormat block_format(const MatrixPrintRequest* r, const MatrixPrintLayout* layout, int32_t first,
                         int32_t count) {
    const int32_t field = layout->fieldWidth;
    const bool fixedDecimals = r->fixedDecimals != 0;
    const int32_t given = std::clamp(r->decimals, 0, kMaxDecimals);
    switch (r->format) {
        case 'p': return {'p', 0};
        case 'c': return {'c', 0};
        default: break;
    }
    const BlockRange b = block_range(r, first, count);
    if (r->format == 'e') return {'e', fixedDecimals ? given : e_decimals(b, field)};
    if (r->format == 'q') {
        // %G spends at most 5 characters besides its digits, 6 with a sign.
        const int32_t digits = field - 5 - (b.negative ? 1 : 0);
        return {'q', fixedDecimals ? std::max(given, 1) : std::clamp(digits, 1, kMaxSignificant)};
    }
    if (r->format == 'b' && b.minNonzero > 0.0) {
        if (fixedDecimals) {
            if (b.minNonzero >= zpmsmal(field, given) && fixed_width(b, given) <= field) return {'f', given};
            return {'e', e_decimals(b, field)};
        }
        for (int32_t d = 0; d <= kMaxDecimals; ++d) {
            if (b.minNonzero < zpmsmal(field, d)) continue;
            if (fixed_width(b, d) <= field) return {'f', d};
            break;
        }
        return {'e', e_decimals(b, field)};
    }
    if (fixedDecimals) return {'f', given};
    int32_t d = given > 0 ? given : kDefaultDecimals;
    while (d > 0 && b.any && fixed_width(b, d) > field) --d;
    return {'f', d};
}

void append_blanks(std::string* line, int32_t n) {
    if (n > 0) line->append(static_cast<size_t>(n), ' ');
}

void put_line(std::string line) {
    line.erase(line.find_last_not_of(' ') + 1);
    xpsout("%s", line.c_str());
}

// Lines the heading of a block takes: two blank lines, the titles, the
// column labels and the rule.
constexpr int32_t kBlankLinesBeforeBlock = 2;
constexpr int32_t kHeadingLines = 2;

}  // namespace

namespace velix::detail {

// Steps:
//   row label width := widest row label, at least the row-label heading;
//   description width likewise (default 40);
//   available := line size - the label columns;
//   field := given (|w|, at most 32) or available/columns - gap in 8..12,
//            at least the widest column label;
//   per block := available / (field + gap) in 1..columns, balanced over
//                the blocks when the columns do not fit at once;
//   automatic fields take the spare width, up to 12;
//   indent := the given indent limited to the width still spare.
void matrix_layout(const MatrixPrintRequest* r, MatrixPrintLayout* L) {
    *L = MatrixPrintLayout{};
    L->lineSize = xpprnl(0);
    L->gap = r->gap > 0 ? r->gap : kDefaultGap;
    L->rule = rule_character(r);
    L->header = r->centredHeadings ? 'h' : 'd';
    const int32_t columns = std::max(r->columns, 1);

    L->rowLabelWidth = label_width(&r->rowLabels, kDefaultLabelWidth, r->rows);
    if (r->titleSource != nullptr)
        L->rowLabelWidth = std::max(L->rowLabelWidth, wzstrip(r->titleSource, -1));
    if (r->rowDescriptions.names != nullptr) {
        const MatrixPrintLabels& d = r->rowDescriptions;
        const int32_t w = declared_width(&d, kDefaultDescriptionWidth);
        L->descriptionWidth = wzstmax(d.names, w, d.stride > 0 ? d.stride : w, r->rows);
    }
    const int32_t labels = L->rowLabelWidth + (L->descriptionWidth > 0 ? L->gap + L->descriptionWidth : 0);
    const int32_t available = std::max(L->lineSize - labels, 0);

    int32_t field = r->fieldWidth != 0 ? std::min(std::abs(r->fieldWidth), kFieldMax)
                                       : std::clamp(available / columns - L->gap, kAutoFieldMin, kAutoFieldMax);
    field = std::max(field, label_width(&r->columnLabels, kDefaultLabelWidth, columns));
    if (r->format == 'p') field = std::max(field, kProbabilityWidth);
    field = std::clamp(field, 1, kFieldMax);

    int32_t per = std::clamp(available / (field + L->gap), 1, columns);
    if (per < columns) {
        const int32_t blocks = (columns + per - 1) / per;
        per = (columns + blocks - 1) / blocks;
    }
    L->perBlock = per;
    L->blocks = (columns + per - 1) / per;

    if (r->fieldWidth == 0 && field < kAutoFieldMax) {
        const int32_t spare = available - per * (field + L->gap);
        if (spare > 0) field = std::min(kAutoFieldMax, field + spare / per);
    }
    L->fieldWidth = field;

    const int32_t indent = r->indent == 0 ? kDefaultIndent : std::max(r->indent, 0);
    L->indent = std::clamp(available - per * (field + L->gap), 0, indent);
}

}  // namespace velix::detail

double zpmsmal(int32_t width, int32_t decimals) {
    // 10^0 .. 10^31, exact in binary up to 10^22 and correctly rounded after.
    static const double kPowers[32] = {
        1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22, 1e23, 1e24, 1e25, 1e26, 1e27, 1e28, 1e29, 1e30, 1e31};
    if (decimals > 32) return 0.0;
    const int32_t e = std::clamp(std::min(width - kExponentOverhead, kMaxMantissaDecimals) - decimals, -31, 31);
    return e >= 0 ? kPowers[e] : 1.0 / kPowers[-e];
}

double zpmval(const MatrixPrintRequest* r, int32_t i, int32_t j) {
    if (r->valueFn != nullptr) return r->valueFn(r, i, j);
    const int64_t ld = r->leadingDimension > 0 ? r->leadingDimension : (r->shape == 'c' ? r->rows : r->columns);
    int64_t pos = 0;
    switch (r->shape) {
        case 'r': pos = static_cast<int64_t>(i) * ld + j; break;
        case 'c': pos = static_cast<int64_t>(j) * ld + i; break;
        case 's': pos = velix::pk(i, j); break;
        case 'l': case 't':
            if (j > i) return 0.0;
            pos = velix::pk_lower(i, j);
            break;
        case 'u':
            if (i > j) return 0.0;
            pos = velix::pk_lower(j, i);
            break;
        case 'd':
            if (i != j) return 0.0;
            pos = i;
            break;
        default: invalid_shape(r->shape);
    }
    if (r->values == nullptr || pos < 0 || (r->valueCount > 0 && pos >= r->valueCount)) return host_missing_value();
    return r->values[pos];
}

int32_t zpfmt(double v, char format, int32_t width, int32_t decimals, char* out) {
    width = std::clamp(width, 1, kFieldMax);
    decimals = std::clamp(decimals, 0, kMaxDecimals);
    std::string s;
    bool numeric = false;
    if (wzmis(v)) {
        s = ".";
    } else if (std::isnan(v)) {
        s = "NaN";
    } else if (std::isinf(v)) {
        s = v > 0.0 ? "Inf" : "-Inf";
    } else {
        numeric = true;
        switch (format) {
            case 'p': {
                char p[kProbabilityWidth];
                zprbfmt(v, p);
                s.assign(p, kProbabilityWidth);
                s.erase(s.find_last_not_of(' ') + 1);
                s.erase(0, s.find_first_not_of(' '));
                break;
            }
            case 'c': s = text_of("%.*f", 0, v); break;
            case 'e': s = text_of("%.*E", decimals, v); break;
            case 'q': s = text_of("%.*G", std::max(decimals, 1), v); break;
            default: s = text_of("%.*f", decimals, v); break;
        }
    }
    int32_t status = 0;
    if (static_cast<int32_t>(s.size()) > width) {
        status = 1;
        s = numeric ? e_fallback(v, width) : "";
        if (s.empty()) s.assign(static_cast<size_t>(width), '*');
    }
    const int32_t n = static_cast<int32_t>(s.size());
    std::memset(out, ' ', static_cast<size_t>(width - n));
    std::memcpy(out + (width - n), s.data(), static_cast<size_t>(n));
    return status;
}

int32_t zpmrow(const MatrixPrintRequest* r, int32_t index, int32_t width, char* out) {
    return label_text(r, &r->rowLabels, kDefaultLabelWidth, index, width, out);
}

int32_t zpmcol(const MatrixPrintRequest* r, int32_t index, int32_t width, char* out) {
    return label_text(r, &r->columnLabels, kDefaultLabelWidth, index, width, out);
}

void zpmhead(const MatrixPrintRequest* r, const MatrixPrintLayout* L, int32_t first, int32_t count) {
    std::string line(static_cast<size_t>(L->indent), ' ');
    std::string corner(static_cast<size_t>(L->rowLabelWidth), ' ');
    if (r->titleSource != nullptr) {
        const size_t n = std::min(static_cast<size_t>(wzstrip(r->titleSource, -1)), corner.size());
        corner.replace(0, n, r->titleSource, n);
    }
    line += corner;
    if (L->descriptionWidth > 0) append_blanks(&line, L->gap + L->descriptionWidth);
    std::string label(static_cast<size_t>(L->fieldWidth), ' ');
    for (int32_t j = first; j < first + count; ++j) {
        const int32_t n = zpmcol(r, j, L->fieldWidth, label.data());
        const int32_t lead = L->header == 'h' ? (L->fieldWidth - n) / 2 : L->fieldWidth - n;
        append_blanks(&line, L->gap + lead);
        line.append(label.data(), static_cast<size_t>(n));
        append_blanks(&line, L->fieldWidth - n - lead);
    }
    const int32_t ruleWidth = static_cast<int32_t>(line.size()) - L->indent;
    put_line(line);
    std::string rule(static_cast<size_t>(L->indent), ' ');
    rule.append(static_cast<size_t>(std::max(ruleWidth, 0)), L->rule);
    put_line(rule);
}

// Steps, for each column block:
//   a new page when the block does not fit the rest of the page (or, for a
//   block longer than a page, when not even its heading and a row do);
//   two blank lines, the titles, the column heading;
//   each row that has an element in the block's part of the storage: its
//   label, its description and the values in the block's format.
int32_t zpmat2(const MatrixPrintRequest* r) {
    if (r == nullptr || r->rows <= 0 || r->columns <= 0) return 0;
    if (!valid_shape(r->shape)) invalid_shape(r->shape);
    MatrixPrintLayout L;
    velix::detail::matrix_layout(r, &L);
    std::string label(static_cast<size_t>(std::max({L.rowLabelWidth, L.descriptionWidth, L.fieldWidth})), ' ');

    for (int32_t block = 0; block < L.blocks; ++block) {
        const int32_t first = block * L.perBlock;
        const int32_t count = std::min(L.perBlock, r->columns - first);
        int32_t printedRows = 0;
        for (int32_t i = 0; i < r->rows; ++i)
            if (row_in_block(r, i, first, count)) ++printedRows;
        if (printedRows == 0) continue;

        int32_t titleCount = 0;
        if (r->titleFn != nullptr)
            titleCount = std::max(r->titleLines, 0);
        else if (r->titleText != nullptr)
            titleCount = std::max(zptiti(kTitleSplitFlags, r->titleText) - 1, 0);
        const int32_t heading = kBlankLinesBeforeBlock + titleCount + kHeadingLines;
        const PrintLineDescription* d = xpoutl(nullptr, nullptr);
        const int32_t page = xppagel(0);
        if (d != nullptr && d->linesLeft < page) {
            const int32_t need = heading + printedRows <= page ? heading + printedRows : heading + 1;
            if (d->linesLeft < need) xppage(0);
        }
        xpskip(kBlankLinesBeforeBlock);
        if (r->titleFn != nullptr)
            r->titleFn(r);
        else if (r->titleText != nullptr)
            zptitx(r->titleText);
        zpmhead(r, &L, first, count);

        const BlockFormat f = block_format(r, &L, first, count);
        for (int32_t i = 0; i < r->rows; ++i) {
            if (!row_in_block(r, i, first, count)) continue;
            std::string line(static_cast<size_t>(L.indent), ' ');
            zpmrow(r, i, L.rowLabelWidth, label.data());
            line.append(label.data(), static_cast<size_t>(L.rowLabelWidth));
            if (L.descriptionWidth > 0) {
                label_text(r, &r->rowDescriptions, kDefaultDescriptionWidth, i, L.descriptionWidth, label.data());
                append_blanks(&line, L.gap);
                line.append(label.data(), static_cast<size_t>(L.descriptionWidth));
            }
            for (int32_t j = first; j < first + count; ++j) {
                append_blanks(&line, L.gap);
                const bool shown = in_stored_part(r, i, j);
                const double v = shown ? zpmval(r, i, j) : 0.0;
                if (!shown || (r->blankZeros && v == 0.0)) {
                    append_blanks(&line, L.fieldWidth);
                } else if (r->cellFn != nullptr) {
                    std::fill(label.begin(), label.end(), ' ');
                    r->cellFn(r, i, j, L.fieldWidth, label.data());
                    line.append(label.data(), static_cast<size_t>(L.fieldWidth));
                } else {
                    zpfmt(v, f.letter, L.fieldWidth, f.decimals, label.data());
                    line.append(label.data(), static_cast<size_t>(L.fieldWidth));
                }
            }
            put_line(line);
        }
    }
    return L.blocks;
}

int32_t zpmat(const double* values, int32_t rows, int32_t columns, int32_t ld, const char* options,
              int32_t fieldWidth, int32_t decimals, const char* rowLabels, int32_t rowLabelWidth,
              int32_t rowLabelStride, const char* columnLabels, int32_t columnLabelWidth,
              int32_t columnLabelStride, const char* titleText, const char* titleSource,
              const char* descriptions, int32_t descriptionWidth, int32_t descriptionStride) {
    MatrixPrintRequest r;
    r.values = values;
    r.rows = rows;
    r.columns = columns;
    r.leadingDimension = ld;
    const char* opts = options != nullptr && options[0] != '\0' ? options : "r";
    const int32_t length = static_cast<int32_t>(std::strlen(opts));
    r.shape = opts[0];
    r.format = wzstopt(opts + 1, length - 1, "qbecpf", 6, 'f');
    for (int32_t k = 1; k < length; ++k) {
        switch (opts[k]) {
            case 'a': r.allElements = 1; break;
            case 'h': r.centredHeadings = 1; break;
            case 's': r.blankZeros = 1; break;
            case 'u': r.plainRule = 1; break;
            case 'd': r.fixedDecimals = 1; break;
            default: break;
        }
    }
    r.fieldWidth = fieldWidth;
    r.decimals = decimals;
    r.rowLabels = {rowLabels, rowLabelWidth, rowLabelStride, nullptr};
    r.columnLabels = {columnLabels, columnLabelWidth, columnLabelStride, nullptr};
    r.titleText = titleText;
    r.titleSource = titleSource;
    r.rowDescriptions = {descriptions, descriptionWidth, descriptionStride, nullptr};
    return zpmat2(&r);
}
