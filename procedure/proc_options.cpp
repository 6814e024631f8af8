// The statement and name look-ups that every part of the procedure shares
// (declared in procedure/proc_options.h): they belong to no one sub-folder,
// so that a lower layer never calls into the driver for them.
#include <algorithm>
#include <cstring>

#include "host/fields.h"
#include "procedure/proc_options.h"

const StatementNode* find_statement(const StatementNode* from, const char* keyword8) {
    for (const StatementNode* n = from; n; n = n->next)
        if (std::memcmp(n->keyword, keyword8, 8) == 0) return n;
    return nullptr;
}

bool same_name(const NameRecord& a, const NameRecord& b) {
    // The host's field routines: trailing blanks stripped, bytes compared
    // through its collating table, which folds case.
    const int32_t la = wzstrip(a.text, std::clamp<int32_t>(a.length, 0, 32));
    const int32_t lb = wzstrip(b.text, std::clamp<int32_t>(b.length, 0, 32));
    return la > 0 && wzsteqn(a.text, la, b.text, lb) != 0;
}

bool is_intercept_name(const NameRecord& r) {
    NameRecord intercept;
    std::memset(intercept.text, ' ', sizeof intercept.text);
    std::memcpy(intercept.text, "Intercept", 9);
    intercept.length = 9;
    return same_name(r, intercept);
}
