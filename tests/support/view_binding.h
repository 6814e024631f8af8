// Whether a bound view of the step's context is whole: each member of a
// view is a pointer, and each must point into the context (one of its
// parts, or the context itself) or be one of the context's links.  A
// binder that forgets a member leaves it null; one that binds a copy
// points outside the context.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "velix/proc_context.h"

namespace velix::test {

// A context whose links point at blocks of their own.
struct LinkedContext {
    NlpProblem nlp;
    NlpHookBlock hooks;
    CmpWork cmpWork;
    char root = 0;  // stands for the parse root, which no binder reads through
    ProcContext ctx;
    LinkedContext() {
        ctx.nlp = &nlp;
        ctx.hooks = &hooks;
        ctx.cmpWork = &cmpWork;
        ctx.stmtList = reinterpret_cast<StatementNode*>(&root);
    }

    // The members of the view that point neither into the context nor at
    // one of its links (empty when the view is whole).
    template <typename View>
    std::vector<size_t> stray_members(const View& view) const {
        static_assert(sizeof(View) % sizeof(void*) == 0, "a view holds pointers only");
        std::vector<const void*> members(sizeof(View) / sizeof(void*));
        std::memcpy(members.data(), &view, sizeof(View));
        const char* first = reinterpret_cast<const char*>(&ctx);
        std::vector<size_t> stray;
        for (size_t i = 0; i < members.size(); ++i) {
            const char* p = static_cast<const char*>(members[i]);
            const bool inside = p >= first && p < first + sizeof(ProcContext);
            const bool link = members[i] == &nlp || members[i] == &hooks || members[i] == &cmpWork ||
                              members[i] == &root;
            if (!inside && !link) stray.push_back(i);
        }
        return stray;
    }
};

}  // namespace velix::test
