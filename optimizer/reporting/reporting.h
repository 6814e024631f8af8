// The optimizer library's own reporting: the covariance hook and the
// covariance matrix of the estimates, the matrix printing hook, the generic
// matrix table writer, and the start and result tables with the constraint
// tables.  Every routine takes the NlpProblem first (except the matrix
// writer, which takes the output manager); tables go to the library's KYR
// object (NlpProblem::out.kyrObject) under "Orvo.NLP.<name>"; messages are
// of group kMsgNlp.  Nothing here knows the library's user.
#pragma once

#include <cstdint>

#include "optimizer/core/pending.h"
#include "optimizer/optimizer.h"
#include "velix/nlp.h"

// ---- the matrix file of the covariance hook ----
// Directory words (i32 byte offsets, -1 absent) at offset 0 of
// NlpHookBlock::cov.utilityFile; the records start at kMatrixRecordsStart, each a
// DeterminantRecord followed by the values (PackedSym, or n values in
// diagonal form).
enum MatrixDirectoryWord : int32_t {
    kDirHessian = 0,
    kDirProjHessian = 1,
    kDirLagHessian = 2,
    kDirProjLagHessian = 3,
    kDirLagCrossProduct = 4,
    kDirProjLagCrossProduct = 5,
    kDirCrossProduct = 6,      // K1
    kDirProjCrossProduct = 7,
    kDirCrossProduct2 = 8,     // K2, the second cross-product matrix
    kDirProjCrossProduct2 = 9,
    kDirJacobian = 10,         // 0 when the Jacobian was evaluated, else -1 (a marker)
    kDirCovariance = 11,
    kDirStdErrors = 12,
    kDirWords = 20,
    kDirWordsUsed = 13
};
constexpr int64_t kMatrixRecordsStart = 80;

// Reads the directory of the matrix file (a failed read ends the step with
// 1020).  out: dir[kDirWords].
void znlp_read_directory(const NlpHookBlock* hooks, int32_t* dir);
// Reads the record at `position`: its header into *header and `count`
// values into values (a failed read ends the step with 1020).
void znlp_read_record(const NlpHookBlock* hooks, int64_t position, DeterminantRecord* header,
                      double* values, int64_t count);
// Writes a header back to its record.
void znlp_write_header(const NlpHookBlock* hooks, int64_t position, const DeterminantRecord* header);

// ---- covariance (covariance.cpp) ----
// Forms the covariance matrix of the COV type in force from the stored
// matrices, writes it and the standard errors (also into stdErrors) at
// `fileOffset` and records them in the directory.  k1Tag: the owner's tag
// of the stored K1 when it was taken in the owner's array (the inverse of
// that K1 is then left in the owner's inverse buffer), else -1.  0 done
// (or nothing to do), -1 the generalized inverse failed, -2 out of memory.
int32_t znlpcov(NlpProblem* p, int64_t fileOffset, int64_t k1Tag = -1);
// The COV type in force (1..6), 0 none.
int32_t znlp_cov_type(const NlpProblem* p);
// Storage forms of the Hessian and of the cross-product matrix (2
// diagonal, else PackedSym).
int32_t znlp_hessian_form(const NlpProblem* p);
int32_t znlp_cross_product_form(const NlpProblem* p);

// ---- matrix tables (matrix_tables.cpp): znlppmt, declared in
// optimizer/core/pending.h ----

// ---- matrix printing hook (matrix_print.cpp) ----
// Whether the matrix printer reads back the record of the cross product
// K1 (to show it or hand it to OUTEST=), and that of the covariance.
bool znlp_prints_cross_product(const NlpProblem* p);
bool znlp_prints_covariance(const NlpProblem* p);

// Completes the determinant record `*header` of matrix kind `kind` (1..9)
// from its values when it is not computed yet and, with print, writes the
// determinant and eigenvalue-sign notes.
void pridetm(NlpProblem* p, int32_t kind, int32_t phase, int32_t print, const double* matrix);

// The table "Hessian" of a sparse Hessian (storage 1) or cross product of
// kind 1..4: values is the SparseLLt value array that goes with
// NlpProblem::hessianPattern (the diagonal, then the strictly lower part).  A kind outside 1..4 or another
// storage is an internal error.
void znlpsph(NlpProblem* p, int32_t kind, const double* values);

// ---- start and result tables (start_result.cpp) ----
// znlppre, declared in optimizer/core/pending.h.
// The finite-difference interval table "FiniteDiff".
void prifdh(NlpProblem* p);

// ---- constraint tables (constraint_tables.cpp) ----
void pricon1(NlpProblem* p, int32_t level);  // "LinCon" at the start
void pricon2(NlpProblem* p);                 // "LinConSol" at the solution
void prinlc(NlpProblem* p, int32_t level);   // "NonLinCons"
void pricon3(NlpProblem* p);                 // the dependency tables
