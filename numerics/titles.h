// Titles on the listing, p-value formatting under the PROBSIG option and
// a least-squares solve through the normal equations.
#pragma once

#include <cstdint>

// The split title: up to 10 lines as (start, length) pairs into the text.
struct TitleLines {
    int32_t count = 0;
    int16_t start[10] = {};
    int16_t length[10] = {};
};

// Splits the NUL-terminated text at its line breaks ('\n') with ztxnext
// and stores up to 10 lines (in: flags, the splitting flags of ztxnext:
// kSkipEmptyPieces drops empty lines, 0 keeps them; text).  Result
// count + 1; a null text stores 0 lines and gives 0.
int32_t zptiti(int32_t flags, const char* text);

// Splits the text (empty lines dropped) and prints its lines centred as
// zptitx does.  Result count + 1, 0 for a null text.
int32_t zptitle(const char* text);

// Prints the stored lines of text (split before by zptiti or zptitle),
// each centred on the listing line; starts a new page first when fewer
// than count + 1 lines are left on the page.  Result: its argument.
const char* zptitx(const char* text);

// The stored split (for the matrix printer and tests).
const TitleLines* zptitle_lines();

// 1-based column at which a text of the given width starts when centred
// on the current print line: 1 when the host's centring flag is clear or
// the text is wider than the line, else (line width - width)/2 + 1.
int32_t zcenter(int32_t width);

// Formats probability p into out[6] (not NUL-terminated) under the
// PROBSIG option; result the PROBSIG value used.
//   PROBSIG 0 (and any value but 1, 2): "<.0001" below 1e-4, "0.0   " for
//     a negative p, else 4 decimals;
//   PROBSIG 1: "0.0   " for a negative p; 4 decimals above 9.5e-5, else
//     the shortest E form;
//   PROBSIG 2: ".0    " for a negative p; 4 decimals above 0.000995, else
//     the decimals that show it without a leading zero (E form below that);
//   a missing p: ".     " under PROBSIG 2, else " .    ".
int32_t zprbfmt(double p, char* out);

// Least squares through the normal equations (in: m, n, a and b with n
// columns of length m each, column j at j*m; out: x, n columns of n, the
// solution of (A'A) X = A'B, column k at k*n; work: n(n+1)/2 + n doubles).
// Result: that of the nonnegative definite sweep solve (the number of
// negligible pivots).
int32_t zprcrst(int32_t m, int32_t n, const double* a, const double* b, double* x, double* work);
