// Blank-padded fields, counted texts and missing values.
//
// Conventions of the routines below:
//   - a text is an address and a length; a negative length, where a routine
//     allows it, means the text ends at a NUL;
//   - a target field of size n >= 0 is blank-padded to n characters; a size
//     given as -1-n means n characters ended by a NUL instead of padding;
//   - comparisons go through the host's collating table, which folds case;
//   - a missing value is a double whose 16 most significant bits are all
//     ones.
#pragma once

#include <cstdint>

#include "velix/host.h"

// Two 32-bit results, the first word first.
struct WordPair {
    int32_t first = 0;
    int32_t second = 0;
};

// vzatl's result: the flag, and the address just after the first byte that
// differs (the end of the text when none does).
struct AllBytesResult {
    int32_t allEqual = 0;
    const char* after = nullptr;
};

// Compares a[lengthA] with b[lengthB], the shorter taken as blank-padded.
// Result 0 when equal, else +k or -k with k the 1-based position of the
// first difference, + when a collates higher.  flags: kept for the callers'
// sake; no comparison mode depends on them.
int32_t wzstcmn(const char* a, int32_t lengthA, const char* b, int32_t lengthB, int32_t flags);
// 1 when the lengths are equal and every byte collates equal, else 0.
int32_t wzsteqn(const char* a, int32_t lengthA, const char* b, int32_t lengthB);
// Length of a NUL-terminated text; 0 for a null address.
int32_t wzstlen(const char* text);
// Copies min(length, field size) bytes of source into target (overlap
// allowed), blank-pads or NUL-terminates by the field convention; a null
// source gives an all-blank (or empty) field.  Result: bytes copied.
int32_t wzstmov(const char* source, int32_t length, char* target, int32_t size);
// 0-based position of the first occurrence of pattern in text[length]; -1
// when absent or the text is empty; 0 for an empty pattern.  A negative
// patternLength means a NUL-terminated pattern.
int32_t wzstndx(const char* text, int32_t length, const char* pattern, int32_t patternLength);
// first: 0-based position of c in text, -1 when absent; second: the bytes
// from it to the end of the text (0 when absent).
WordPair wzstpos(const char* text, int32_t length, char c);
// Length of text[length] without trailing blanks; 0 for a null address.
int32_t wzstrip(const char* text, int32_t length);
// Longest stripped width among count strings of width characters placed
// stride bytes apart; the width itself for a null address or width 0.
int32_t wzstmax(const char* first, int32_t width, int32_t stride, int32_t count);
// The first character of text[length] that occurs in set[setLength], else
// fallback.
char wzstopt(const char* text, int32_t length, const char* set, int32_t setLength, char fallback);
// Writes the decimal text of value into out (at least 11 bytes), no NUL.
// Result: its length.
int32_t wzcichr(int32_t value, char* out);
// Translates count bytes of source into target (they may be the same area)
// through translation table kind (0..4; kind 2 is upper case).  Result 0,
// or 1 for a kind the host has no table for (nothing translated).
int32_t wztxxlt(int32_t kind, const char* source, char* target, int32_t count);
// Character-set fix-ups; none is needed, both return 0.
int32_t wztxdotr();
int32_t wztxdods();
// Whether every byte of text[length] equals `byte` (1 also for length 0).
AllBytesResult vzatl(char byte, const char* text, int32_t length);
// 1 when x is a missing value.
int32_t wzmis(double x);
// 1 when any of values[count] is missing; 0 for count 0.
int32_t wzmisn(const double* values, int32_t count);
// Stores value into target[count]; nothing when count < 1.
void vzfdl(double value, double* target, int32_t count);
// Name `index` (0-based across the blocks) of a parser name list.  Result 0
// with *text and *length set, or 1 when the list is null or too short.
int32_t zgetnmr(const NameList* list, int32_t index, const char** text, int32_t* length);
// Blank-fill 8 bytes, or length bytes (nothing when length < 1).
void vzB8(char* field);
void vzBL(char* field, int32_t length);
