// The statement compiler's C++ interface: a program of numeric programming
// statements compiled once to stack code and run many times, optionally with
// forward-mode automatic differentiation (Griewank and Walther, "Evaluating
// Derivatives", 2nd ed., ch. 3) of every value with respect to a chosen set
// of variables, which is exact through branches and loops because it follows
// the path that the run takes.
//
// The language: assignments; IF/THEN/ELSE; DO groups and iterative DO with
// TO/BY/WHILE/UNTIL; SELECT/WHEN/OTHERWISE; ARRAY; GOTO, LINK and RETURN;
// STOP; ABORT; LENGTH (declares character variables, which numeric code may
// not use); the operators + - * / ** and comparisons with AND, OR, NOT and
// IN; a table of numeric functions (functions.h).  Missing values (doubles
// whose top 16 bits are all ones) propagate through arithmetic and are
// counted by place; invalid operations give missing values and are counted
// as errors.
#pragma once

#include <cstdint>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "velix/host_compiler.h"

namespace velix::compiler {

// A statement error with its place in the program file.
struct Diagnostic {
    int32_t line = 0;
    int32_t column = 0;
    std::string message;
};

// A place of the program (for errors, missing values and listings).
struct Place {
    int32_t line = 0;
    int32_t column = 0;
};

// Stack code.
enum class Op : uint8_t {
    PushK,   // push k
    Load,    // push slot a
    LoadA,   // pop index, push element of array a
    Neg, Not,
    Add, Sub, Mul, Div, Pow,
    Eq, Ne, Lt, Le, Gt, Ge,
    And, Or,
    In,      // pop n values and x, push x equal to one of them
    Call,    // pop n arguments, push function a
    Store,   // pop into slot a
    StoreA,  // pop value, pop index, store into array a
    Jf,      // pop, jump to a when false
    Jt,      // pop, jump to a when true
    Jmp,     // jump to a
    Link,    // push return address, jump to a
    Ret,     // return from LINK, or end the run
    Stop,
    Abort,
    DoTest,  // pop by, end, index: push the iterative DO continuation test
    Fault    // execution fault a (no WHEN matched)
};

struct Instr {
    Op op = Op::PushK;
    uint8_t n = 0;      // argument count (Call, In)
    int32_t a = 0;      // slot, array, function, jump target or fault code
    int32_t where = 0;  // index into Program::places
    double k = 0.0;     // constant (PushK)
};

// Execution faults (run result kCmpRunFault).
enum FaultCode : int32_t {
    kFaultNone = 0,
    kFaultSubscript = 1,   // array subscript missing or out of range
    kFaultNoWhen = 2,      // no WHEN matched and no OTHERWISE
    kFaultDoControl = 3,   // iterative DO with a missing bound or a zero step
    kFaultLinkDepth = 4,   // LINK nested too deeply
    kFaultLoopCap = 5,     // more than kMaxLoopIterations loop iterations in one run
    kFaultTimeLimit = 6    // the time limit (MAXTIME=) passed while the run looped
};

// Loop iterations (backward jumps of DO loops and GOTOs) one run may take.
// A run evaluates the model's dependent parameters once; a loop that needs
// more than a million passes for that is taken to be a loop whose condition
// never changes (DO WHILE on a variable that is never set), which would
// otherwise hang the step.
constexpr int64_t kMaxLoopIterations = 1000000;

// One compiled program with its symbols, run state and derivative requests.
class Program {
public:
    Program();
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Compiles the pieces (joined in order; a piece that does not end with
    // ';' is ended by one).  False with the errors in *errors.
    bool compile(const CmpSource* pieces, int32_t count, std::vector<Diagnostic>* errors);

    int32_t statement_count() const { return statementCount_; }

    // Symbols.  find: case-insensitive, trailing blanks ignored.
    CmpSymbol* find(const char* name, int32_t length) const;
    // Binds a symbol (new or existing) to `cell`.
    CmpSymbol* bind(const char* name, int32_t length, double* cell);
    CmpSymbol* chain() const { return head_; }

    // Adds a derivative request: the derivatives of `exprs` with respect to
    // `vars` are kept in *area after every run with derivatives.  Fills the
    // area's structure (entries whose derivative can be nonzero).
    void add_derivatives(CmpDerivArea* area, CmpSymbol* const* exprs, int32_t nExpr,
                         CmpSymbol* const* vars, int32_t nVar);

    // Labels used by GOTO or LINK but never defined (with the first place).
    const std::vector<std::pair<std::string, Place>>& undefined_labels() const {
        return undefinedLabels_;
    }

    // Resets the compiler's own cells to missing and the counts to 0.
    void reset();
    // Runs once; derivatives keeps the requested derivative areas current.
    int32_t run(bool derivatives);
    // Every later run that still loops `seconds` after this call stops with
    // kFaultTimeLimit; 0 or less, or not finite, removes the limit.
    void set_time_limit(double seconds);

    // Counts of the last run, by place index and in total.
    int32_t error_total() const { return errorTotal_; }
    int32_t missing_total() const { return missingTotal_; }
    const std::vector<int32_t>& error_counts() const { return errorCount_; }
    const std::vector<int32_t>& missing_counts() const { return missingCount_; }
    const std::vector<Place>& places() const { return places_; }
    FaultCode fault() const { return fault_; }
    Place fault_place() const { return faultPlace_; }
    Place end_place() const { return endPlace_; }

    // The program's statements as the user wrote them (one per line).
    const std::vector<std::string>& statement_texts() const { return statementTexts_; }

    // Whether a symbol is an array element with an initial value, and the
    // place where the program first uses it.
    bool has_initial_value(const CmpSymbol* symbol) const;
    Place first_use(const CmpSymbol* symbol) const;

    // The current value of a symbol (missing for a character symbol).
    double value(const CmpSymbol* symbol) const;

    // Used by the code generator.
    struct Builder;

private:
    friend struct Builder;
    template <bool AD>
    int32_t execute();
    void prepare_tangents();
    CmpSymbol* new_symbol(const std::string& name);
    int32_t new_slot(CmpSymbol* symbol);  // symbol 0: a hidden temporary
    void finish_slots();
    int32_t compare(double a, double b) const;  // -1, 0, 1 with missing lowest

    // Symbols: the chain owns its records through `records_`.
    std::vector<std::unique_ptr<CmpSymbol>> records_;
    std::vector<std::unique_ptr<std::string>> names_;
    CmpSymbol* head_ = nullptr;
    CmpSymbol* tail_ = nullptr;

    // Slots: every numeric symbol and hidden temporary has one.
    std::vector<CmpSymbol*> slotSymbol_;       // 0 for a hidden temporary
    std::unique_ptr<double[]> own_;            // the compiler's own cells
    int32_t nSlots_ = 0;
    std::vector<double*> cells_;               // per run: where each slot lives
    std::vector<std::vector<int32_t>> arrays_; // element slots of each array
    std::vector<std::vector<double>> arrayInit_;  // initial values (retained)

    std::vector<Instr> code_;
    std::vector<Place> places_;
    int32_t maxDepth_ = 0;
    int32_t maxArgs_ = 0;
    double missing_ = 0.0;            // the host's missing value
    std::vector<uint64_t> missingOrder_;  // bit patterns of the missing values, lowest first
    int32_t statementCount_ = 0;
    std::vector<std::string> statementTexts_;
    std::vector<std::pair<std::string, Place>> undefinedLabels_;

    // Run state.
    std::vector<double> stack_;
    std::vector<double> partials_;  // of one function call
    std::vector<int32_t> linkStack_;
    std::vector<int32_t> errorCount_;
    std::vector<int32_t> missingCount_;
    int32_t errorTotal_ = 0;
    int32_t missingTotal_ = 0;
    FaultCode fault_ = kFaultNone;
    Place faultPlace_;
    bool timeLimited_ = false;
    std::chrono::steady_clock::time_point deadline_;
    Place endPlace_;

    // Derivatives: the union of the requested variables, in request order.
    struct Request {
        CmpDerivArea* area;
        std::vector<int32_t> exprSlot;    // per entry
        std::vector<int32_t> tangentIdx;  // per entry
        std::unique_ptr<double[]> values;
        std::unique_ptr<int16_t[]> exprIndex;
        std::unique_ptr<int16_t[]> varIndex;
    };
    std::vector<std::unique_ptr<Request>> requests_;
    std::vector<int32_t> adSlots_;           // slot of each tangent direction
    int32_t nd_ = 0;
    std::vector<double> symTangent_;         // nSlots_ x nd_
    std::vector<double> stackTangent_;       // maxDepth_ x nd_
};

}  // namespace velix::compiler
