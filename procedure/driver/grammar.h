// The procedure's statement grammar: the keyword table, the statement forms
// and the option mapping, and `cosang`, which hands them to the parser.
#pragma once

#include <cstdint>

#include "procedure/proc_options.h"
#include "velix/statements.h"

// Returns a new GrammarDescriptor from the step allocator (ends the step
// with kLevelNoMemory when it cannot be had).
GrammarDescriptor* cosang();

namespace velix::detail {

// The keyword table as plain strings, index 0..534 (for tests and tools).
extern const char* const kKeywordNames[kKeywordCount];

// The procedure's grammar (the descriptor's first table).
const StatementGrammar* proc_grammar();

}  // namespace velix::detail
