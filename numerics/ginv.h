// Generalized inverse of a symmetric matrix by eigen decomposition, and the
// linear dependencies among the parameters of a singular matrix by
// sweeping, with their listing tables "Eigenvalues" and "LinDep".
//
// Matrices are PackedSym (element (i, j), j <= i, at i(i+1)/2 + j); in the
// "diagonal" mode 2 a matrix argument is instead the vector of its n
// diagonal elements.  print is the callers' print switch (0 or 4): the
// tables and notes are written only when it is nonzero, through the output
// manager object mgr; a failing output call is reported with xprrlog and
// abandons the table without touching the numbers.  Messages are of group
// 549.
#pragma once

#include <cstdint>

#include "velix/host.h"
#include "velix/types.h"

// Generalized inverse by eigen decomposition: eigenvalues judged zero (see
// evzero) are dropped, the others inverted, G = sum d_k v_k v_k'.
//   print     in      print switch (the "Eigenvalues" table)
//   mode      in      2: a holds n diagonal values and the result goes to e
//                     (a is not changed); otherwise a is PackedSym
//   n         in      order
//   nzero     in      number of eigenvalues to treat as zero when tol is
//                     missing (see evzero)
//   tol       in      absolute threshold for |eigenvalue|, or missing
//   a         in-out  the matrix, replaced by G (same storage)
//   d, e      work    n doubles each (mode 2: e receives the result)
//   z         work    n*n doubles
//   mgr       in      output manager (used only when printing)
//   table     out     the bound output handle of the table, or null
// Returns 0 for n < 1; -1 when the QL iteration fails; -2 when evzero
// rejects the request (nzero > n); otherwise the number of eigenvalues
// treated as zero.
enum ZcovgivStatus : int32_t {
    kZcovgivQlFailed = -1,
    kZcovgivRejected = -2,
};
int32_t zcovgiv(int32_t print, int32_t mode, int32_t n, int32_t nzero, double tol, double* a,
                double* d, double* z, double* e, HostObject* mgr, HostObject** table);

// zcovgiv on the correlation form R = D^-1/2 A D^-1/2 of a PackedSym A (D
// its diagonal; an element that is not positive counts as 1), taken back
// as G = D^-1/2 G_R D^-1/2.  G is a generalized inverse of A (A G A = A,
// as R G_R R = R), and which eigenvalues count as zero, by the count rule
// or by tol, depends neither on the units of the parameters nor on a
// common factor of A: the eigenvalues of A itself mix both, so that a
// parameter in large units can pass for the null direction.  z then
// holds the eigenvectors of R (ginv_null_basis reads them with a null
// diag) and the "Eigenvalues" table shows those of R.
// In mode 2 the diagonal matrix in a is taken the same way (its correlation
// form has 1 for every positive element) and the result goes to e.
//   arguments as zcovgiv; s: work, n doubles
int32_t ginv_unit_free(int32_t print, int32_t mode, int32_t n, int32_t nzero, double tol, double* a, double* d,
                       double* z, double* e, double* s, HostObject* mgr, HostObject** table);

// The null space that zcovgiv dropped, in the scale of the matrix with
// unit diagonal (so that no parameter's units weigh in): row k of basis is
// D^(1/2) v_k normalised, v_k an eigenvector whose reciprocal zcovgiv
// zeroed, D the diagonal of the matrix before the call (a non-positive
// element counts as 1).
//   n       in   order
//   z, d    in   zcovgiv's work on return: eigenvectors by rows, and the
//                kept reciprocals (0.0 for a dropped eigenvalue)
//   diag    in   n diagonal elements of the matrix that was inverted, or
//                null when z holds the eigenvectors of its correlation
//                form already (ginv_unit_free)
//   basis   out  count rows of n doubles (room for n*n)
// Returns count, the number of dropped eigenvalues.
int32_t ginv_null_basis(int32_t n, const double* z, const double* d, const double* diag, double* basis);

// A linear function whose leaning (below) exceeds this is not estimable:
// its variance depends on which generalized inverse was taken.  Roundoff
// in the eigenvectors of a well-determined block stays orders of magnitude
// below it; a parameter that moves along a direction of
// non-identification leans into it by a cosine of order one.
constexpr double kNullLeaningTol = 1e-6;

// How far the linear function g'theta leans into that null space: the
// largest |cosine| between D^(-1/2) g and a row of basis; 0 when g is
// orthogonal to the null space (the function is estimable, and every
// generalized inverse gives it the same variance), 1 when it lies in it.
// A zero g gives 0.
double ginv_null_leaning(int32_t n, int32_t count, const double* basis, const double* diag,
                         const double* g);

// Inverts the eigenvalues that are kept and zeroes the others.
//   ev   in   n eigenvalues (zcovgiv passes them in descending order)
//   out  out  n doubles: 1/ev[i] where kept, 0.0 where treated as zero
// Rules: tol missing and nzero >= 1: the eigenvalue of smallest magnitude
// (the last of equal ones) and nzero-1 more, grown as a contiguous run
// towards the smaller-magnitude neighbour (the lower index on ties), never
// past either end of the array; tol missing and nzero < 1: exact zeros only
// (result 0); tol given: |ev| <= max(tol, 10 DBL_MIN).
// Returns the number zeroed, or -1 (out untouched) when nzero > n.
int32_t evzero(int32_t print, int32_t n, int32_t nzero, double tol, const double* ev, double* out,
               HostObject* mgr, HostObject** table);

// The "Eigenvalues" table ("Number", "Asterisk", "Eigenvalue") and, when an
// eigenvalue is marked, the centred note 549/202 with count.
void evprit(int32_t print, int32_t n, int32_t count, double tol, const double* ev,
            const double* out, HostObject* mgr, HostObject** table);

// Linear dependencies by sweeping: parameters are pivoted in order of
// decreasing scaled diagonal while it exceeds their tolerance; each one
// left unpivoted is a linear combination of the pivoted ones.
//   print     in      print switch (notes and the "LinDep" table)
//   mode      in      2: a holds n diagonal values (see dodiag)
//   n         in      order
//   tol1      in      absolute floor of the diagonal
//   tol2      in      relative to the largest diagonal element
//   tol3      in      relative to each parameter's own diagonal element
//   names     in      n parameter names, or null ("X1", "X2", ...)
//   x         in      n parameter values (the constants of the dependencies)
//   a         in-out  PackedSym; on return the swept matrix in the scale of
//                     the given matrix: minus the inverse of the pivoted
//                     block there, and 0.0 in every row and column of an
//                     unpivoted parameter.  The numbers are the same whether
//                     printing is on or off.
//   coef, s, tolv  work  n doubles each (s: square roots of the diagonal)
//   flags     out     n characters: '1' pivoted, '0' not
//   mgr, table        as zcovgiv
// Returns: mode 2 the number of zeroed diagonal elements; otherwise the
// number of unpivoted parameters (0 for n < 1 or a zero matrix).
int32_t zcovlid(int32_t print, int32_t mode, int32_t n, double tol1, double tol2, double tol3,
                const NameRecord* names, const double* x, double* a, double* coef, double* s,
                double* tolv, char* flags, HostObject* mgr, HostObject** table);

// The diagonal case of zcovlid: |diag_i| <= max(tol2 max|diag|, tol1) gives
// flag '0' and 0.0, the others flag '1' and 1/diag_i.  Returns the number
// zeroed; with printing, notes 549/340 and 549/204 (one per zeroed name).
int32_t dodiag(int32_t print, int32_t n, char* flags, double tol1, double tol2,
               const NameRecord* names, double* diag, HostObject* mgr);

// The "LinDep" table of the unpivoted parameters (regression coefficients
// a(i, j) on the pivoted j, constant x_i - sum b_j x_j) with its notes.
//   count  in  number of unpivoted parameters; coef is n doubles of work
void lidprit(int32_t print, int32_t n, int32_t count, const char* flags, const NameRecord* names,
             const double* x, const double* s, const double* a, double* coef, HostObject* mgr,
             HostObject** table);
