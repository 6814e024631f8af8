// Index arithmetic of a PackedSym array: a symmetric n x n matrix stored
// as its lower triangle row by row, element (i, j) with j <= i at offset
// i(i+1)/2 + j, n(n+1)/2 elements in all.  The numerical library, the
// procedure and the host's own kernels all address packed matrices through
// these two functions.
#pragma once

#include <cstdint>

namespace velix {

// Offset of element (i, j) of a PackedSym array, 0 <= j <= i.  The kernels
// that walk the lower triangle row by row use this branch-free form; it also
// gives the offset of row i's first element as pk_lower(i, 0).
constexpr int64_t pk_lower(int64_t i, int64_t j) { return i * (i + 1) / 2 + j; }

// Offset of element (i, j) of a PackedSym array for any i, j >= 0: (i, j)
// and (j, i) are the same stored element.
constexpr int64_t pk(int64_t i, int64_t j) { return i >= j ? pk_lower(i, j) : pk_lower(j, i); }

}  // namespace velix
