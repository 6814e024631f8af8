// Message texts fetched from the host's message file by (group, number),
// the step's saved-message pool, "/"-separated multi-item texts and the
// debug keywords of the host's DEBUG option.
#pragma once

#include <cstdint>

// Splitting flag of ztxnext: empty pieces (between two separators, or
// before a leading or after a trailing one) are skipped.
constexpr int32_t kSkipEmptyPieces = 0x20000;

// Fetches message (group, number) into a field, or manages the pool:
//   group -1: creates the step's saved-message pool (initial size number);
//             result the pool's address, the fallback text on failure;
//   group  0: empties the pool; result 0;
//   group -2: frees the pool; result 0;
//   group >0: the text in a field of `size` (size > 0 blank-padded, -1-n a
//             NUL-terminated field of n, 0 the text's own length with a
//             NUL), in buffer when it is not 0, else in the pool.  A missing
//             text or a memory shortage gives "????" shaped to the field.
const char* zmsgsav(int32_t group, int32_t number, char* buffer, int32_t size);

// Fetches message (group, number), splits it at "/" and stores the first
// count pieces, each blank-padded to itemLength, one after the other, in
// buffer (out: itemLength*count bytes) or, when buffer is 0, in the pool.
// A missing text counts as "/?/?/?/?/".  Result: the fields, 0 when they
// could not be had.
char* zmsgtxa(int32_t group, int32_t number, char* buffer, int32_t itemLength, int32_t count);

// Returns its argument.
int32_t zmsgext(int32_t value);

// The level given to a debug keyword in the host's DEBUG option: 0 when
// absent, 1 when present, or the number after "keyword=".  A leading "-" of
// the keyword is dropped; case does not matter; a "*" in the option text
// matches the rest of the word.  in: NUL-terminated keyword.
int32_t zbugi(const char* keyword);

// The next piece of text[length] (NUL-terminated when length < 0) from
// *position, split at any character of the NUL-terminated separators.
// in-out: position (0 to start).  out: piece, pieceLength.  flags:
// kSkipEmptyPieces or 0.  Result 1 when a piece was found, 0 at the end.
int32_t ztxnext(const char* text, int32_t length, int32_t* position, const char* separators,
                int32_t flags, const char** piece, int32_t* pieceLength);
