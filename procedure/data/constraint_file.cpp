// Record I/O of the constraint files (see constraint_file.h): each field is
// moved by its own transfer, so the layout is the packed one whatever the
// compiler's struct alignment.
#include "procedure/data/constraint_file.h"

#include "host/scratch_file.h"
#include "velix/host.h"

int64_t con_record_bytes(int32_t n, int32_t nStmt) {
    return int64_t{4} + 8 * (int64_t{1} + n + nStmt);
}

int32_t con_statement_count(const ProgramState* program) {
    return program->stmtVars != nullptr ? program->nStmtVars : 0;
}

void con_write(HostFile* file, int32_t code, double rhs, const double* a, int32_t n, const double* stmt,
               int32_t nStmt) {
    scratch_check(xcwrite(file, &code, 4));
    scratch_check(xcwrite(file, &rhs, 8));
    scratch_check(xcwrite(file, a, 8 * int64_t{n}));
    con_write_values(file, stmt, nStmt);
}

void con_read(HostFile* file, int32_t* code, double* rhs, double* a, int32_t n, double* stmt, int32_t nStmt) {
    scratch_check(xcread(file, code, 4));
    scratch_check(xcread(file, rhs, 8));
    scratch_check(xcread(file, a, 8 * int64_t{n}));
    if (nStmt > 0) scratch_check(xcread(file, stmt, 8 * int64_t{nStmt}));
}

void con_write_values(HostFile* file, const double* stmt, int32_t nStmt) {
    if (nStmt > 0) scratch_check(xcwrite(file, stmt, 8 * int64_t{nStmt}));
}

void con_point(HostFile* file, int64_t position) {
    scratch_check(xcpoint(file, position));
}
