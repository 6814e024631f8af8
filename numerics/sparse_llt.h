// SparseLLt: a sparse symmetric matrix or its sparse Cholesky factor
// (P A P' = L L') in the row-indexed form of the lower triangle, with the
// conversion from triplets, the numeric factorizations, solves, products,
// the updates for a variable entering or leaving the active set, and a
// listing print.
//
// Storage of order n (one int32 array ija, one double array sa):
//   ija[0 .. n]   ija[i] the position of the first off-diagonal entry of
//                 row i, ija[i+1] one past its last; ija[0] = n + 1
//   ija[k], k > n the column j < i of the entry at position k, strictly
//                 increasing within a row
//   sa[0 .. n-1]  the diagonal; for a factor the RECIPROCAL 1/L(i,i), 0.0
//                 for a row whose pivot failed
//   sa[n]         the number of off-diagonal entries (as a double)
//   sa[k], k > n  the value of the entry at position k
// Both arrays hold n + 1 + (number of off-diagonal entries) elements.  A
// matrix A and its factor L have separate ija arrays (L's holds the fill).
//
// perm[i] is the position in the factor of variable i.  An activity map
// holds one integer per variable, negative for an inactive variable; the
// "maskperm" form holds the same marks in factor order.  A position map
// (pos) gives, for the routines that work in the variables' own order, the
// vector position of each factor row, negative for a row that is skipped.
//
// Structural faults (an entry outside the factor's pattern, a permutation
// that is not one) end the step with kLevelInternal after an "internal error:"
// line; numerical trouble is reported by the result and neutralised by a
// zero reciprocal diagonal.  Nothing here allocates.  The argument orders
// and result conventions below are the ones to use: zslltnf's nonzero
// result is a singular (positive) or indefinite (negative) pivot, not a
// failure of the routine.
#pragma once

#include <cstdint>

// Builds the storage from a triplet list of the lower triangle (diagonal
// entries included).
//   mode  in   0: structure only; 1: values only, into the existing
//              structure (values not given become 0.0); other: both
//   nnz   in   number of triplets irow[k], icol[k], val[k] (val unused in
//              mode 0)
// Returns 0; 1 when an entry lies above the diagonal; 2 when a row holds a
// column twice; 3 (mode 1) when an entry is not in the structure; 4 when an
// index lies outside 0 .. n-1 (nothing is written then); -(i+1) when the
// diagonal value of row i has magnitude <= DBL_MIN (mode 1: every row;
// mode 2: the rows that have off-diagonal entries).
enum ZslltcoStatus : int32_t {
    kZslltcoOk = 0,
    kZslltcoAboveDiagonal = 1,
    kZslltcoRepeatedColumn = 2,
    kZslltcoNotInStructure = 3,
    kZslltcoIndexOutside = 4,
};
int32_t zslltco(int32_t mode, int32_t n, int32_t nnz, const int32_t* irow, const int32_t* icol,
                const double* val, int32_t* ija, double* sa);

// Zeroes the factor's values from row k0 on and scatters the entries of A
// whose factor row max(perm[i], perm[j]) is >= k0 into L's pattern
// (column min(perm[i], perm[j])).  With mask (non-null), maskperm receives
// maskperm[perm[i]] = mask[i] and inactive variables are left out.
// perm null means the identity.  An entry with no place in L: kLevelInternal.
void zslltiu(const int32_t* mask, int32_t* maskperm, int32_t k0, int32_t n, const int32_t* ijaA,
             const int32_t* ijaL, const int32_t* perm, const double* saA, double* saL);

// Numeric factorization of rows k0 .. n-1 (rows before k0 are taken as
// factored), after a scatter (zslltiu without mask) when scatter is
// nonzero.  A pivot square x > tol gives sa[i] = 1/sqrt(x); otherwise
// sa[i] = 0.0.  Returns 0 when every pivot exceeded tol; i+1 for the LAST
// row i whose pivot square lay in [-tol, tol]; -(i+1) for the FIRST row
// whose pivot square fell below -tol (never replaced).
int32_t zslltnf(int32_t scatter, int32_t k0, int32_t n, double tol, const int32_t* ijaA,
                const int32_t* ijaL, const int32_t* perm, const double* saA, double* saL);

// As zslltnf with an activity mask: rows with negative maskperm get 0.0
// throughout and their entries are ignored in the other rows.  With scatter
// nonzero, maskperm is filled from mask by the scatter; otherwise it is
// read as given (mask may then be null).
int32_t zslltf2(int32_t scatter, const int32_t* mask, int32_t* maskperm, int32_t k0, int32_t n,
                double tol, const int32_t* ijaA, const int32_t* ijaL, const int32_t* perm,
                const double* saA, double* saL);

// Adds variable j to a factor of the active variables (j itself not yet
// active in maskperm): w (n doubles, factor order) receives column j of A
// over the active variables and is solved against the active rows, and
// x = A(j,j) - |w|^2.  When x > 1e6 DBL_MIN, *diag = sqrt(x) and result 0;
// if perm[j] is after every active position, row perm[j] of L is written
// (otherwise the caller marks j active and completes with zslltra).  When
// x <= 1e6 DBL_MIN: perm[j]+1 if x >= -1e-8, else -(perm[j]+1).
int32_t zslltf5(int32_t n, int32_t j, const int32_t* mask, const int32_t* maskperm,
                const int32_t* ijaA, const int32_t* ijaL, const int32_t* perm, const double* saA,
                double* saL, double* diag, double* w);

// Completes the addition of variable j, whose factor position lies before
// other active rows; call it with j already marked active in mask.  The
// rows from perm[j] on are recomputed from A (scatter with mask, then
// zslltf2 from k0 = perm[j]), so that the stored factor is the Cholesky
// factor of the new active submatrix.  maskperm is refreshed from mask.
// Returns the zslltf2 result for those rows.
int32_t zslltra(int32_t n, int32_t j, const int32_t* mask, int32_t* maskperm, double tol,
                const int32_t* ijaA, const int32_t* ijaL, const int32_t* perm, const double* saA,
                double* saL);

// Deletes variable j from the factor: row perm[j] is cleared, the entries
// of column perm[j] in the later active rows (maskperm >= 0; the caller
// marks j inactive itself) are folded back into the trailing factor by
// plane rotations (a Cholesky rank-one update), so that the stored factor
// is the Cholesky factor of the remaining active submatrix.  A rotated
// value outside L's pattern is dropped when its magnitude is at most 1e-6;
// a larger one is an internal error (kLevelInternal).
//   w  work  n doubles
void zslltrd(int32_t n, int32_t j, const int32_t* maskperm, const int32_t* ijaL,
             const int32_t* perm, double* saL, double* w);

// Solves L L' x = b in place (b in the variables' order); perm null means
// the identity.  perm is marked while it is used and restored.
void zslltso(int32_t n, int32_t* perm, const int32_t* ija, const double* sa, double* x);
// The same solve with a position map instead of a permutation.
void zsllts2(int32_t n, const int32_t* pos, const int32_t* ija, const double* sa, double* x);
// L y = b (forward part only) in place; mode nonzero: map is a position
// map; mode 0: a permutation (or null), applied before and undone after.
void zslltli(int32_t mode, int32_t n, int32_t* map, const int32_t* ija, const double* sa, double* x);
// L' x = y (backward part only) in place; modes as zslltli.
void zslltui(int32_t mode, int32_t n, int32_t* map, const int32_t* ija, const double* sa, double* x);
// y = A x for a symmetric matrix A in this storage (not a factor: sa holds
// the diagonal itself); with map (non-null) inactive variables are skipped
// and their y is 0.0.
void zslltma(const int32_t* map, int32_t n, const int32_t* ija, const double* sa, const double* x,
             double* y);
// y = L x and y = L' x for a factor (L(i,i) = 1/sa[i], 0.0 where sa[i] is
// 0.0); modes as zslltli.  With a permutation x is permuted in place while
// it is used and restored; with a position map the vector positions of
// skipped rows are not touched.
void zslltml(int32_t mode, int32_t n, int32_t* map, const int32_t* ija, const double* sa, double* x,
             double* y);
void zslltmu(int32_t mode, int32_t n, int32_t* map, const int32_t* ija, const double* sa, double* x,
             double* y);
// Q = B' A B for the dense n x m matrix B (element (i, c) at B[i*ld + c]);
// Q is PackedSym of order m; w is n doubles of work.  Returns n.
int32_t zslltqf(int32_t n, int32_t m, int32_t ld, const int32_t* ija, const double* sa,
                const double* b, double* q, double* w);
// r = b - A x; returns ||r|| / sqrt(n) (0.0 for n < 1).
double zslltre(int32_t n, const int32_t* ija, const double* sa, const double* x, const double* b,
               double* r);

// Prints a SparseLLt to the listing.  mode 0: a new page, then the listing
// matrix printer (zpmat2) with n x n elements in fields of width 12, rows
// labelled "ROW1", "ROW2", ..., the title "Sparse Matrix (n,n)", values
// with 4 decimals and positions outside the pattern as "xxx" right-aligned
// in 8 characters.  mode < 0: "Dense Matrix (n,n)" and
// every row of sa read as a PackedSym array; mode > 0: "Sparse Matrix
// (n,n)", rows and columns with negative mask skipped, positions outside
// the pattern shown as "xxx".  Values in width 10 with 4 decimals, after
// the 1-based row number (width 6) and the separator " :" (message
// 549/258); lines wrap after 5, 8 or 10 values by the line size.
void zslltpr(int32_t mode, int32_t n, const int32_t* mask, const int32_t* ija, const double* sa);

// Permutes x in place: mode 1 scatters (x[perm[k]] takes the old x[k]),
// mode 0 gathers (x[k] takes the old x[perm[k]]), so that mode 0 undoes
// mode 1.  Visited entries are marked by adding n (0 is a valid index) and
// restored.  An entry outside 0 .. n-1, or a perm that is not a
// permutation, ends the step with kLevelInternal (perm restored first).  n < 2
// does nothing.
void permut(int32_t mode, int32_t n, int32_t* perm, double* x);

// Shell sort ascending (gaps n/2, n/4, ..., 1) of n integers; lsort2 moves
// the doubles b along with their keys.
void lsort(int32_t n, int32_t* a);
void lsort2(int32_t n, int32_t* a, double* b);
