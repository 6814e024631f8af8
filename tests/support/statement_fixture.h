// Test support for the statement tests: a host control block with a step
// allocator (when the test binary has none yet) and a helper that parses a
// step's text with the procedure's grammar.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/output_document.h"
#include "platform/session.h"
#include "platform/step_exit.h"
#include "procedure/driver/grammar.h"
#include "procedure/procedure.h"
#include "velix/host.h"
#include "velix/statements.h"
#include "tests/support/fixtures.h"

namespace velix::testing {

inline void ensure_step_allocator() {
    static HostAllocator allocator{
        [](HostAllocator*, size_t bytes, int32_t) -> void* { return std::calloc(1, bytes); },
        [](HostAllocator*, void* block, int32_t, int32_t) { std::free(block); }};
    static HostControlBlock gcb;
    if (v_global_gcb_anchor == nullptr) v_global_gcb_anchor = &gcb;
    if (v_global_gcb_anchor->stepAllocator == nullptr) v_global_gcb_anchor->stepAllocator = &allocator;
}

// A library folder with the small data sets the statement tests name:
// d (x1-x3, g, h), e (TYPE=EST) and sub/q.csv.
inline void ensure_test_library() {
    namespace fs = std::filesystem;
    // One folder per test process: ctest runs the tests of this binary in
    // parallel processes, and a file rewritten by one must not be read
    // half-written by another.
    static const std::string dir = std::string(VELIX_BINARY_DIR) + "/statement_test_library-" +
                                   std::to_string(::getpid());
    static bool made = false;
    if (!made) {
        fs::create_directories(dir + "/sub");
        std::ofstream(dir + "/d.csv") << "x1,x2,x3,g,h\n1,2,3,1,1\n2,1,4,1,2\n";
        std::ofstream(dir + "/e.csv") << "# TYPE=EST\n_TYPE_,a\nPARMS,1\n";
        std::ofstream(dir + "/sub/q.csv") << "x1\n1\n";
        velix::test::remove_at_exit(dir);
        made = true;
    }
    velix::platform::session().libraryDir = dir;
}

// Parses `text` as one step; the log goes to `log`.
struct ParsedStep {
    ParseResult result;
    ParseArea2 area2;
    std::ostringstream log;

    explicit ParsedStep(const std::string& text, int firstLine = 1) {
        ensure_step_allocator();
        ensure_test_library();
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

// The size of the current step's list of numbered messages, and the numbers
// of the procedure's (group 352) messages recorded since such a size.
inline size_t messages_now() {
    return velix::platform::current_step().messages.size();
}
inline std::vector<int32_t> messages_since(size_t from) {
    std::vector<int32_t> out;
    const auto& all = velix::platform::current_step().messages;
    for (size_t k = from; k < all.size(); ++k)
        if (all[k].group == 352) out.push_back(all[k].number);
    return out;
}

// Runs cosinit on a step's text with the data sets of tests/fixtures, after
// cmpinit as the step driver does.
struct CosinitStep {
    ProcContext ctx;
    NlpProblem nlp;
    NlpHookBlock hooks;
    CmpWork work;
    CmpHandle handle;
    int32_t exitCode = -1;  // -1: cosinit returned
    std::ostringstream log;

    explicit CosinitStep(const std::string& text) {
        ensure_step_allocator();
        auto& s = velix::platform::session();
        velix::platform::begin_step();
        s.libraryDir = velix::test::fixture_dir();
        s.stepSource = text;
        s.stepSourceLine = 1;
        std::ostream* saved = s.log;
        s.log = &log;
        ctx.nlp = &nlp;
        ctx.hooks = &hooks;
        ctx.cmpWork = &work;
        nlp.user = &ctx;
        nlp.hooks = &hooks;
        hooks.plSettings = &hooks.settings;
        cmpinit(&handle, &work);  // as the step driver does before cosinit
        try {
            cosinit(&ctx);
        } catch (const velix::platform::StepExit& e) {
            exitCode = e.code;
        }
        s.log = saved;
    }
    ~CosinitStep() { velix::platform::end_step(); }
};

}  // namespace velix::testing
