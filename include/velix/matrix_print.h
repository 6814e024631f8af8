// The request that describes one matrix for the listing matrix printer
// (numerics/matprint.h): its size and storage, where its values and labels
// come from, the title, the value format and the layout options.  Callers
// fill one with zpmat or build it themselves and hand it to zpmat2.
#pragma once

#include <cstdint>

struct MatrixPrintRequest;

// Element (row, column), both counted from 0, of the matrix; replaces the
// built-in rule of the storage shape.  A caller whose function needs more
// than `values` embeds the request as the first member of its own struct.
using MatrixValueFn = double (*)(const MatrixPrintRequest* request, int32_t row, int32_t column);

// Label `index` (counted from 0) into out[width] (in: width; out: out,
// already blank-filled by the printer; leaving it blank prints a missing
// label).
using MatrixLabelFn = void (*)(const MatrixPrintRequest* request, int32_t index, int32_t width,
                               char* out);

// Prints the title lines of a block itself.
using MatrixTitleFn = void (*)(const MatrixPrintRequest* request);

// Writes element (row, column) itself into out[width] (already
// blank-filled by the printer, no NUL), for elements whose text is not a
// number (a position outside a sparse pattern, for instance).
using MatrixCellFn = void (*)(const MatrixPrintRequest* request, int32_t row, int32_t column,
                              int32_t width, char* out);

// One set of labels: an array of blank-padded fixed-width names, or a label
// function.  With neither, every label of the set is missing and prints as
// blanks.
struct MatrixPrintLabels {
    const char* names = nullptr;      // name k at names + k * stride
    int32_t width = 0;                // characters per name; 0 means 8
    int32_t stride = 0;               // bytes from name to name; 0 means the width
    MatrixLabelFn labelFn = nullptr;  // 0: the names above
};

struct MatrixPrintRequest {
    int32_t rows = 0;
    int32_t columns = 0;
    // The stored values, read by the shape rule (or by the value function):
    //   'r' values[i*ld + j]            'c' values[j*ld + i]
    //   's' packed symmetric, lower triangle by rows: i >= j at i(i+1)/2 + j
    //   'l', 't' packed lower triangle by rows, 0.0 above the diagonal
    //   'u' packed upper triangle, (i, j) with i <= j at j(j+1)/2 + i,
    //       0.0 below the diagonal
    //   'd' values[i] on the diagonal, 0.0 elsewhere
    const double* values = nullptr;
    char shape = 'r';
    int32_t leadingDimension = 0;     // 0: the rows for shape 'c', the columns otherwise
    MatrixValueFn valueFn = nullptr;  // 0: the shape rule above
    // 0: each element is formatted from its value in the block's format;
    // otherwise this function writes the element's text.
    MatrixCellFn cellFn = nullptr;
    // Number of stored values.  When positive, a storage position at or
    // beyond it is never read and its element prints as missing; 0 trusts
    // the storage to hold every position the shape addresses.
    int32_t valueCount = 0;
    // Field width of a value, 0 for automatic (line-size driven, 8 to 12);
    // a negative width counts by its absolute value; at most 32.  When 0,
    // spare line width widens the fields up to 12.
    int32_t fieldWidth = 0;
    int32_t gap = 0;      // blanks before each value field; 0 means 2
    int32_t indent = 0;   // blanks before each line; 0 means 4, negative means 0
    // Decimals (the d flag): nonzero keeps exactly `decimals` decimals (or
    // significant digits for format 'q'); 0 lets the printer choose them
    // per column block, using a positive `decimals` as their upper limit.
    int32_t fixedDecimals = 0;
    int32_t decimals = 0;
    MatrixPrintLabels rowLabels;
    MatrixPrintLabels columnLabels;
    // Title: its '\n'-separated lines are centred above every column
    // block, or titleFn prints them (then titleLines says how many it
    // prints, for the page handling).
    const char* titleText = nullptr;
    MatrixTitleFn titleFn = nullptr;
    int32_t titleLines = 0;
    // Heading of the row-label column (NUL-terminated), or 0.
    const char* titleSource = nullptr;
    // A description per row, printed between the row label and the values
    // (labelFn is not used for this set; width 0 means 40).
    MatrixPrintLabels rowDescriptions;
    // Value format:
    //   'f' fixed decimals;        'e' E notation;
    //   'b' fixed when every value of the block shows as many significant
    //       digits as E notation would, E notation otherwise;
    //   'q' the shortest general form of the significant digits;
    //   'c' whole numbers;         'p' probabilities as the p-value format.
    char format = 'f';
    uint8_t allElements = 0;      // a: every element, also outside the stored triangle
    uint8_t centredHeadings = 0;  // h: column labels centred over their fields
    uint8_t blankZeros = 0;       // s: elements equal to 0.0 print as blanks
    uint8_t plainRule = 0;        // u: the heading rule is '-' instead of FORMCHAR's
};
