// The statement and name look-ups that every part of the procedure shares
// (declared in procedure/proc_options.h): they belong to no one sub-folder,
// so that a lower layer never calls into the driver for them.
#include <algorithm>
#include <cstring>

#include "procedure/proc_options.h"

const StatementNode* find_statement(const StatementNode* from, const char* keyword8) {
    for (const StatementNode* n = from; n; n = n->next)
        if (std::memcmp(n->keyword, keyword8, 8) == 0) return n;
    return nullptr;
}

bool same_name(const NameRecord& a, const NameRecord& b) {
    auto trimmed = [](const NameRecord& r) {
        int32_t l = std::min<int32_t>(r.length, 32);
        while (l > 0 && r.text[l - 1] == ' ') --l;
        return l;
    };
    // Letters fold as toupper folds them in the C locale the program runs
    // in, without its call per character: models with hundreds of
    // parameters compare names some hundred thousand times.
    auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
    int32_t la = trimmed(a), lb = trimmed(b);
    if (la != lb || la == 0) return false;
    for (int32_t i = 0; i < la; ++i)
        if (upper(a.text[i]) != upper(b.text[i])) return false;
    return true;
}
