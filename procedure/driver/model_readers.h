// The readers of the RAM, COSAN and FACTOR model statements and of the
// MATRIX statements, the layout of the stored inverses, and the parts of the
// model dispatcher that serve those three kinds.  Every reader fills the
// ModelMatrixTable that the dispatcher sized, writes its element records to
// the step's scratch file and ends in the parameter-table builder (the
// default exploratory FACTOR model builds its element pattern itself).
// Routines end the step through xexit on the fatal conditions they document.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "velix/proc_context.h"
#include "velix/statements.h"

// The largest order a model matrix may have: its square still fits the
// 32-bit sizes of the model tables and the inverse store (46340^2 < 2^31).
constexpr int32_t kMaxModelOrder = 46340;

// ---- the dispatcher's part for RAM, COSAN and FACTOR ----

// Sets the kind flags' consequences for a RAM, COSAN or FACTOR model: the
// equation-type and matrix-form flags, the numbers of terms and matrices and
// the leading dimension (FACTOR: also the numbers of the statement).
//   model: in, the model statement's node.
void model_kind_sizes(ProcContext* ctx, const StatementNode* model);
// Reads the model of the kind the dispatcher chose (every kind, LINEQS
// included), lays out the stored inverses of a COSAN model after its types
// are final, and settles the matrix-statement state of a FACTOR model.
void read_model_kind(ProcContext* ctx);

// ---- readers ----

// RAM list and its VARNAMES statement.
void cosparr(ProcContext* ctx);
// COSAN terms: names, columns, rows, types, forms and same-name links.
void cosparc(ProcContext* ctx);
// FACTOR model: the matrices and whether MATRIX statements name them.
// Returns the error level.
int32_t cosfaci(ProcContext* ctx);
// The default exploratory FACTOR model (no MATRIX statement).
void cosfacm(ProcContext* ctx);
// The default loadings of matrix 1, column by column from the diagonal
// down, each element its own parameter "_F<number>".  Only the modes
// (1, 0) of the default model exist.
//   counter: in-out, the running element number.
void setload(int32_t* counter, ProcContext* ctx, int32_t mode1, int32_t mode2);

// MATRIX statements (with VARNAMES) for COSAN and FACTOR models.
void cosparm(ProcContext* ctx);

// ---- stored inverses ----

// Lays out the InverseStore: all slots at once (ModelReaderState::perTermInverse
// 1) or per term with reuse (0).  Returns the doubles released for reuse by
// the per-term layout (0 for the other).
//   work: scratch of 2m integers (m = nMatrices); the per-term stack.
int32_t cosimal(ProcContext* ctx, int32_t* work);

namespace velix::detail {

// The name without trailing blanks.
std::string name_text(const NameRecord& r);
// A NameRecord of `text` (at most 32 characters), blank-padded to `width`
// characters when shorter (width 0: its own length).
NameRecord make_name(const std::string& text, int32_t width = 0);
// `prefix` and `number` as a generated name (znamfix), its stripped length.
NameRecord generated_name(const NameRecord& prefix, int32_t number);
// The name blank-padded to at least 8 characters (column names).
NameRecord padded8(const NameRecord& r);
// True when `name` starts with `prefix` followed by a digit (a name that may
// collide with the generated names of the prefix).
bool looks_generated(const NameRecord& name, const NameRecord& prefix);

// The generated-name prefixes of a model with their running counters.
struct PrefixTable {
    std::vector<NameRecord> names;
    std::vector<int32_t> counters;
    // The next generated name of `prefix` (a new prefix starts at 1).
    NameRecord next(const NameRecord& prefix);
    // Logs message 258 when `name` may collide with a registered prefix.
    void check_collision(const NameRecord& name) const;
};

// A temporary host memory pool, deleted when it goes out of scope.  An
// allocation that fails ends the step with at least kLevelNoMemory after the host's
// out-of-memory message.
class TempPool {
public:
    TempPool(ProcContext* ctx, int64_t estimate);
    ~TempPool();
    TempPool(const TempPool&) = delete;
    TempPool& operator=(const TempPool&) = delete;
    template <typename T>
    T* allocate(size_t n) {
        return static_cast<T*>(allocate_bytes(sizeof(T) * (n == 0 ? 1 : n)));
    }

private:
    void* allocate_bytes(size_t bytes);
    ProcContext* ctx_;
    HostAllocator* pool_ = nullptr;
};

// An array of `n` zeroed T from the model-table pool (runPool[1]); failure
// ends the step with at least kLevelNoMemory.
template <typename T>
T* table_array(ProcContext* ctx, size_t n);
void* table_bytes(ProcContext* ctx, size_t bytes);
template <typename T>
T* table_array(ProcContext* ctx, size_t n) {
    return static_cast<T*>(table_bytes(ctx, sizeof(T) * (n == 0 ? 1 : n)));
}

// The covariances of the exogenous manifest variables that no statement
// gives (no name, the missing value) take the sample's in each BY group
// (cosiset), which is their minimum when the whole block is left so and
// the moments are weighted by their normal-theory covariances (ML, GLS).
// When a statement fixes or names some of them, the block is restricted
// and the others are estimated with the rest of the model: each becomes a
// free parameter "_Exo<number>" (started at the sample value by cosiset),
// the numbers passing over the names of `taken` and of `names`.  The
// fourth-order weights of WLS and DWLS tie the block to the other moments,
// so there the whole block is estimated so, with a note (and
// ctx->readers.exoBlockGenerated set).
//   cells: in, the positions of the pairs in names and values.
//   names: in-out; values: in.
void estimate_unstated_exogenous(ProcContext* ctx, const std::vector<size_t>& cells, NameRecord* names,
                                 size_t nNames, const double* values, const std::vector<NameRecord>& taken);
// Message 119: matrix k changed its type for the reason of message `text`.
// out: text80[81], when given, receives the text of the reason.
void type_change_note(ProcContext* ctx, int32_t k, int32_t text, char* text80 = nullptr);
// Ends the step with the error level when it is above `limit`.
void exit_above(ProcContext* ctx, int32_t limit);
// Positions the scratch file at byte 0 (failure ends the step with kLevelHostFailure).
void rewind_scratch(ProcContext* ctx);
// The number (1..m) of the first model matrix named `name`, 0 when none.
int32_t matrix_number(const ProcContext* ctx, const NameRecord& name);

// What a VARNAMES group of a COSAN or FACTOR model is: a list of column
// names for a matrix, a matrix that shares the column names of a second one
// (the group's only name is a model matrix), or an item this model kind does
// not take (a matrix given by number).
enum class VarnamesKind { kList, kCopy, kOther };
//   matrix, second: out, the matrix numbers (0 when the name is no model
//   matrix; second only for kCopy).
VarnamesKind varnames_kind(const ProcContext* ctx, const VarnamesGroup& g, int32_t* matrix, int32_t* second);

// The column names of a FACTOR model: "FACT", "FCOR" and "UVAR" with the
// column number (with no factors "UVAR" for the first matrix), then the
// names of the VARNAMES lists over them (messages 276, 277).  Allocates the
// ColumnNameTable from the model-table pool and sets each matrix's first
// column name.
//   varnames: in, the VARNAMES statement or 0; ignored: its names are not used.
void factor_column_names(ProcContext* ctx, const StatementNode* varnames, bool ignored);

// Logs under the message just logged where the COSAN statement names model
// matrix k (1-based): its line and column; nothing for a model that no
// COSAN statement gave.
void place_cosan_matrix(const ProcContext* ctx, int32_t k);

}  // namespace velix::detail

// One MATRIX statement into the dense pattern of matrix k (rows x columns,
// row-major).  Returns the number of positions it filled.
//   names, values: in-out, the dense pattern;
//   nameBuffer, valueBuffer: scratch of `capacity` entries each (the items
//   of one entry group);
//   prefixes: in-out, the generated-name counters of all MATRIX statements.
int32_t cospar2(ProcContext* ctx, const StatementNode* node, int32_t k, NameRecord* names, double* values,
                NameRecord* nameBuffer, double* valueBuffer, int32_t capacity,
                velix::detail::PrefixTable* prefixes);
// The default pattern of FACTOR matrix k when no MATRIX statement names it:
// "_F<number>" loadings on and below the diagonal, an identity _P_, "_U<number>"
// unique variances on the diagonal.
//   names, values: in-out, the dense pattern of matrix k.
void setfac(ProcContext* ctx, int32_t k, NameRecord* names, double* values);
