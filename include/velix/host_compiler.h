// The host's statement compiler: the services through which the module
// compiles, binds, differentiates and runs the programming statements of a
// step.  The platform implements them (platform/host_compiler.cpp) on top of
// its own compiler (platform/compiler/).
//
// Life of a program in a step:
//   cmpinit                      once, with the step's CmpHandle and CmpWork
//   cmpcomp                      compiles the programming statements
//   cmpsyma / cmpsyms / cmplstb  bind special variables and parameters to
//                                cells and list symbols by kind
//   cmpdfla, cmpder              derivative structure of symbols w.r.t. others
//   cmpchck, cmppdv, cmpgen      final checks and code generation
//   cmpexi, cmprun               every evaluation: reset and run
//   cmppxrc, cmpperr, cmppmis    reports of run results, errors, missing values
// Every service takes the compiler work area last and reports a failure
// both as its result and in CmpWork::status.
#pragma once

#include <cstdint>

#include "velix/codes.h"

struct HostAllocator;
struct HostObject;

// The compiler's work area of a step, kept in the step driver's frame.
struct CmpWork {
    void* compiler = nullptr;  // the statement compiler's own state
    void* program = nullptr;   // the compiled programming statements
    int32_t status = 0;        // result of the compiler's last service: nonzero = failure
};
// What cmpinit receives from the module: the compiler's result areas and
// the output manager.
struct CmpHandle {
    void* resultArea1 = nullptr;   // word 0: first compiler result area
    void* resultArea2 = nullptr;   // word 1: second compiler result area
    void* reserved[2] = {};        // words 2 and 3 stay 0
    HostObject* manager = nullptr; // word 4: the KYR manager
};

// Symbol flag bits.
constexpr uint8_t kCmpAssigned = 0x80;    // assigned by the program
constexpr uint8_t kCmpReferenced = 0x40;  // read by the program
constexpr uint8_t kCmpBoundByHost = 0x20; // set by the module for every symbol it binds
constexpr uint8_t kCmpHostFlag10 = 0x10;  // left to the module
constexpr uint8_t kCmpHostFlag02 = 0x02;  // set by the module together with 0x20

// A symbol of the program, on the chain that cmplstv returns.  The module
// may change storageClass, binding, flags, value, kind and count; the
// compiler reads `value` afresh at the start of every run, so a symbol can
// be re-pointed at any cell between runs.
struct CmpSymbol {
    CmpSymbol* next = nullptr;   // 0 ends the chain
    const char* name = nullptr;  // as first written, not NUL-terminated
    int16_t nameLength = 0;
    char storageClass = 'v';     // 'v' variable
    char valueType = 'n';        // 'n' numeric, 'c' character
    char binding = 0;            // 'a' bound to a cell of the host, 0 the compiler's own cell
    uint8_t flags = 0;           // kCmp* bits
    double* value = nullptr;     // the value cell (0 for a character symbol)
    uint8_t kind = 0;            // set by the module (1, 2, 19 ...); 0 from the compiler
    int16_t count = 0;           // left to the module; 0 from the compiler
    int32_t slot = -1;           // the compiler's own number of the symbol
};

// A list of symbols (cmplstb, and the module's own lists).
struct CmpList {
    int32_t count = 0;
    CmpSymbol** symbols = nullptr;  // count entries
};

// Result of cmpder: one entry for every (expression, variable) pair whose
// derivative is not structurally zero.  values[t] holds the derivative of
// expression exprIndex[t] with respect to variable varIndex[t] after every
// run with derivatives; the missing value when the expression is missing.
struct CmpDerivArea {
    int32_t count = 0;
    double* values = nullptr;       // count cells
    int16_t* exprIndex = nullptr;   // 0-based index into the expression list
    int16_t* varIndex = nullptr;    // 0-based index into the variable list
    int32_t nExpr = 0;              // lengths of the two lists
    int32_t nVar = 0;
};

// One piece of program text and where its first character stands in the
// program file (1-based line and column).
struct CmpSource {
    const char* text = nullptr;
    int32_t length = 0;
    int32_t line = 1;
    int32_t column = 1;
};

// Run results of cmprun.
enum CmpRunResult : int32_t {
    kCmpRunEnd = 0,    // ran to its end or a RETURN outside a LINK
    kCmpRunStop = 1,   // a STOP statement ended the run
    kCmpRunFault = 3,  // an execution fault stopped the run (bad subscript, ...)
    kCmpRunAbort = 4   // an ABORT statement ended the run
};

// Status of a failed compilation: the step's return code for a statement
// error.
constexpr int32_t kCmpCompileError = kLevelInputError;
// Status of a service used out of order or with bad arguments.
constexpr int32_t kCmpMisuse = kLevelInternal;

// Sets up the compiler state of the step; the handle's words 0 and 1 point
// at the module's two result areas (words 2 to 4 are not read).
int32_t cmpinit(CmpHandle* handle /* in */, CmpWork* work /* out */);

// Compiles the programming statements given as `count` pieces of text
// (joined in order).  Statement errors are written to the log with their
// line and column; the result is 0, or kCmpCompileError after an error.
// *statements receives the number of statements compiled (may be 0).
int32_t cmpcomp(const CmpSource* pieces /* in [count] */, int32_t count,
                int32_t* statements /* out */, CmpWork* work);

// Defines a symbol bound to `cell` (a new one when the program does not use
// the name); valueType must be 'n' and size 8.  An existing symbol keeps its
// value type.
int32_t cmpsyma(const char* name, int32_t length, char valueType, int32_t size, double* cell,
                CmpWork* work);

// The symbol of a name (case-insensitive, trailing blanks ignored), or 0.
CmpSymbol* cmpsyms(const char* name, int32_t length, CmpWork* work);

// Fills `list` with the symbols whose kind byte equals `kind`, in chain
// order (`mode` -1: all of them).  The list's array is owned by the compiler
// and lives for the step.
int32_t cmplstb(CmpList* list /* out */, int32_t kind, int32_t mode, CmpWork* work);

// The head of the symbol chain.
CmpSymbol* cmplstv(CmpWork* work);

// Prints a symbol list in the listing under a title.
int32_t cmpplst(const CmpList* list, const char* title, int32_t a, int32_t b, int32_t c,
                int32_t d, int32_t e, CmpWork* work);

// Prepares the derivative analysis: *pool receives a work pool of the host
// (0 when none could be made); listing nonzero lists what cmpder derives.
// Result 0, or the allocation code.
int32_t cmpdfla(HostAllocator** pool /* out */, int32_t a, int32_t b, int32_t listing, int32_t c,
                CmpWork* work);

// Derivative structure of the expressions of `exprs` (code 101: dependent
// symbols, 102: constraint symbols) with respect to the symbols of `vars`
// (code 101) into `area`; from then on every cmprun with derivatives keeps
// the area's values current.  The area's arrays belong to the compiler.
int32_t cmpder(CmpDerivArea* area /* out */, const CmpList* exprs, const CmpList* vars,
               int32_t exprCode, int32_t varCode, int32_t a, int32_t b, CmpWork* work);

// Listings: the program statements under a title, and the derivative
// entries of an area.
int32_t cmppsts(const char* title, CmpWork* work);
int32_t cmppder(const CmpDerivArea* area, const char* title, CmpWork* work);

// Checks the program: *notes receives the number of remarks, *faults the
// number of faults that forbid running it (a GOTO or LINK to a label that
// is not defined, a symbol read but never given a value that is not bound).
int32_t cmpchck(int32_t mode, int32_t* notes /* out */, int32_t* faults /* out */, int32_t zero,
                CmpWork* work);

// Finishes the program and generates its run form.  After cmpgen the
// program can run.
int32_t cmppdv(int32_t zero, void* address, int32_t zero2, CmpWork* work);
int32_t cmpgen(CmpWork* work);

// Before a run: mode 1 resets the compiler's own cells to missing and the
// error and missing-value counts to 0.
int32_t cmpexi(int32_t mode, int32_t a, int32_t b, CmpWork* work);

// Runs the program once.  derivatives nonzero keeps the derivative areas
// current; *errors and *missing receive the numbers of invalid operations
// and of operations on missing values of this run.  Result: CmpRunResult.
int32_t cmprun(int32_t a, int32_t b, int32_t c, int32_t d, int32_t e, int32_t derivatives,
               int32_t f, int32_t g, int32_t* errors /* out */, int32_t* missing /* out */,
               CmpWork* work);

// Limits the time of the runs to MAXTIME=: a run still looping `maxSeconds`
// after this call stops with an execution fault (result kCmpRunFault) that
// cmppxrc reports.  0 or less, or missing: no limit.  A run also stops after
// a million loop iterations, with or without a limit.
int32_t cmptime(double maxSeconds, CmpWork* work);

// Reports a nonzero run result in the log.
void cmppxrc(int32_t result, CmpWork* work);
// Reports the invalid operations of the last run by line and column (at
// most `limit` places).
void cmpperr(int32_t mode, int32_t limit, CmpWork* work);
// Reports the operations on missing values of the last run by place.
void cmppmis(CmpWork* work);
