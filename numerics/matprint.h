// The listing matrix printer: a matrix as text lines on the listing, with
// row labels down the side and the columns in blocks that fit the print
// line, each block under its titles and column labels.
#pragma once

#include <cstdint>

#include "velix/matrix_print.h"

// The layout zpmat2 works out for a request (all widths in characters).
struct MatrixPrintLayout {
    int32_t lineSize = 0;          // the listing's line size
    int32_t indent = 0;            // blanks before each line
    int32_t rowLabelWidth = 0;     // the row-label column
    int32_t descriptionWidth = 0;  // the row-description column, 0 when none
    int32_t fieldWidth = 0;        // one value field
    int32_t gap = 0;               // blanks before each value field
    int32_t perBlock = 0;          // columns per block
    int32_t blocks = 0;            // number of column blocks
    char rule = '-';               // the heading rule character
    char header = 'd';             // 'h' centred column labels, 'd' right-aligned
};

// Packs its arguments into a request and prints it with zpmat2.
//   values, rows, columns, ld: the matrix (in; ld 0 as in the request);
//   options: NUL-terminated; its first character is the shape; among the
//     following characters the first of "qbecpf" is the value format
//     (default 'f') and each of a, h, s, u, d sets its flag (a null or
//     empty text means "r");
//   fieldWidth, decimals: the request's words of the same names;
//   row, column and description labels: address, width, stride each;
//   titleText, titleSource: the title and the row-label column heading.
// Result: that of zpmat2.
int32_t zpmat(const double* values, int32_t rows, int32_t columns, int32_t ld, const char* options,
              int32_t fieldWidth, int32_t decimals, const char* rowLabels, int32_t rowLabelWidth,
              int32_t rowLabelStride, const char* columnLabels, int32_t columnLabelWidth,
              int32_t columnLabelStride, const char* titleText, const char* titleSource,
              const char* descriptions, int32_t descriptionWidth, int32_t descriptionStride);

// Prints the request (in) on the listing.  Result: the number of column
// blocks printed, 0 when there are no rows or no columns.  A shape letter
// other than r, c, s, l, t, u, d is an internal error that ends the step.
int32_t zpmat2(const MatrixPrintRequest* request);

namespace velix::detail {
// Works out the layout of a request (in) into *layout (out), as zpmat2
// prints it.
void matrix_layout(const MatrixPrintRequest* request, MatrixPrintLayout* layout);
}  // namespace velix::detail

// Element (row, column) of the request by its value function or shape rule;
// the missing value for a position beyond a positive value count.
double zpmval(const MatrixPrintRequest* request, int32_t row, int32_t column);

// Formats value into out[width] (no NUL; width 1 to 32, a wider one counts
// as 32), right-aligned, in format letter
// f, e, b (as f), q, c or p with the given decimals (significant digits
// for q).  A missing value prints as ".", NaN and infinities as "NaN",
// "Inf" and "-Inf"; a value too
// wide for its format falls back to E notation, and to asterisks when even
// that does not fit.  Result 0, or 1 after a fallback.
int32_t zpfmt(double value, char format, int32_t width, int32_t decimals, char* out);

// The smallest magnitude at which a fixed field of the given decimals
// shows at least as many significant digits as E notation in the same
// width: 10^e with e = min(width - 7, 8) - decimals clamped to -31..31;
// 0.0 when decimals exceed 32.
double zpmsmal(int32_t width, int32_t decimals);

// Prints the column heading of columns first .. first+count-1 (the labels
// and the rule under them) with the layout (in).
void zpmhead(const MatrixPrintRequest* request, const MatrixPrintLayout* layout, int32_t first,
             int32_t count);

// Row label / column label `index` into out[width] (out: blank-padded, no
// NUL; a missing label is all blanks).  Result: the label's length without
// trailing blanks.
int32_t zpmrow(const MatrixPrintRequest* request, int32_t index, int32_t width, char* out);
int32_t zpmcol(const MatrixPrintRequest* request, int32_t index, int32_t width, char* out);
