// Titles on the listing: a text split at its line breaks into at most ten
// lines, printed centred on the print line.
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
