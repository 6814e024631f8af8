// The linear-constraint records of the step's constraint files.  A record
// holds one linear constraint as it was given (a <= row keeps its signs),
// packed without gaps:
//   i32 relation code (kConEq, kConGe, kConLe)
//   f64 right-hand side
//   f64 coefficients[n]            (n independent parameters)
//   f64 statement values[nStmt]    (the program variables INEST= supplies)
// Record k starts at k * con_record_bytes(n, nStmt).  The constraint set-up
// writes them (the statements' rows without statement values; the rows of
// a BY group with them) and the OUTEST= writer reads them back from byte 0.
// A failed file call is reported and ends the step (scratch_check).
#pragma once

#include <cstdint>

#include "velix/proc_context.h"

// Relation codes: equalities come first in every constraint order, so the
// OUTEST= writer tells them by position; the sign tells >= from <=.
constexpr int32_t kConEq = 0;
constexpr int32_t kConGe = 1;
constexpr int32_t kConLe = -1;

// The bytes of one record.
int64_t con_record_bytes(int32_t n, int32_t nStmt);

// The statement variables a record carries: those INEST= supplies.
int32_t con_statement_count(const ProgramState* program);

// Writes a record at the file's position (stmt may be null when nStmt is 0).
void con_write(HostFile* file, int32_t code, double rhs, const double* a, int32_t n, const double* stmt,
               int32_t nStmt);

// Reads a record at the file's position into code, rhs, a[n] and stmt[nStmt].
void con_read(HostFile* file, int32_t* code, double* rhs, double* a, int32_t n, double* stmt, int32_t nStmt);

// Writes the statement values of a record at the file's position.
void con_write_values(HostFile* file, const double* stmt, int32_t nStmt);

// Positions the file at byte `position`.
void con_point(HostFile* file, int64_t position);
