// Test support for the statement tests: a host control block with a step
// allocator (when the test binary has none yet) and a helper that parses a
// step's text with the procedure's grammar.
#pragma once

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "platform/session.h"
#include "procedure/driver/grammar.h"
#include "velix/host.h"
#include "velix/statements.h"

namespace velix::testing {

inline void ensure_step_allocator() {
    static HostAllocator allocator{
        [](HostAllocator*, size_t bytes, int32_t) -> void* { return std::calloc(1, bytes); },
        [](HostAllocator*, void* block, int32_t, int32_t) { std::free(block); }};
    static HostControlBlock gcb;
    if (v_global_gcb_anchor == nullptr) v_global_gcb_anchor = &gcb;
    if (v_global_gcb_anchor->stepAllocator == nullptr) v_global_gcb_anchor->stepAllocator = &allocator;
}

// Parses `text` as one step; the log goes to `log`.
struct ParsedStep {
    ParseResult result;
    ParseArea2 area2;
    std::ostringstream log;

    explicit ParsedStep(const std::string& text, int firstLine = 1) {
        ensure_step_allocator();
        auto& s = velix::platform::session();
        std::ostream* savedLog = s.log;
        s.log = &log;
        s.stepSource = text;
        s.stepSourceLine = firstLine;
        GrammarDescriptor* d = cosang();
        cmppars(d, &result, &area2, 1, nullptr);
        s.log = savedLog;
    }

    // The n-th node (0 is the PROC statement) with the given keyword.
    const StatementNode* find(const char* keyword8, int nth = 0) const {
        for (const StatementNode* n = result.root; n; n = n->next)
            if (std::memcmp(n->keyword, keyword8, 8) == 0 && nth-- == 0) return n;
        return nullptr;
    }
    const ProcOptionRecord* proc() const {
        return static_cast<const ProcOptionRecord*>(result.root->payload);
    }
};

inline std::string name_of(const NameRecord& r) { return std::string(r.text, r.length); }

}  // namespace velix::testing
