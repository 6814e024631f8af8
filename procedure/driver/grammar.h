// The procedure's statement grammar: the keyword table, the statement forms
// and the option mapping, and `cosang`, which hands them to the parser.
#pragma once

#include <cstdint>

#include "velix/statements.h"

// Returns a new GrammarDescriptor from the step allocator (ends the step
// with 1016 when it cannot be had).
GrammarDescriptor* cosang();

namespace velix::detail {

// The keyword table as plain strings, index 0..534 (for tests and tools).
extern const char* const kKeywordNames[kKeywordCount];

// The procedure's grammar (the descriptor's first table).
const StatementGrammar* proc_grammar();

// The NLOPTIONS option cells.
enum NlOptionCell : int16_t {
    kNlTechnique = 0,
    kNlUpdate,
    kNlLineSearch,
    kNlMaxIter,
    kNlMaxFunc,
    kNlMaxTime,
    kNlAbsConv,
    kNlAbsFConv,
    kNlFConv,
    kNlFConv2,
    kNlAbsXConv,
    kNlXConv,
    kNlAbsGConv,
    kNlGConv,
    kNlGConv2,
    kNlFSize,
    kNlXSize,
    kNlInStep,
    kNlLsPrecision,
    kNlMinIter,
    kNlSingular,
    kNlDampStep,
    kNlMaxStep,
    kNlFDigits,
    kNlCDigits,
    kNlHesCal,
    kNlRestart,
    kNlInHessian,
    kNlLcEpsilon,
    kNlLcSingular,
    kNlLcDeact,
    kNlFd,
    kNlFdHessian,
    kNlCellCount
};

// Flag bits of the NLOPTIONS node (byte 12).
constexpr uint8_t kNlPall = 0x01;
constexpr uint8_t kNlPshort = 0x02;
constexpr uint8_t kNlPsummary = 0x04;
constexpr uint8_t kNlPhistory = 0x08;
constexpr uint8_t kNlNoprint = 0x10;

}  // namespace velix::detail
