// Support shared by the RAM, COSAN, FACTOR and MATRIX readers: names and
// generated names, the prefix table, the exogenous covariances left to the
// estimation, temporary and model-table memory, the type-change note, the
// matrix lookup by name and the VARNAMES group kinds.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>

#include "host/host_support.h"
#include "procedure/driver/model.h"
#include "procedure/driver/model_readers.h"
#include "procedure/driver/step_view.h"
#include "velix/messages.h"

namespace velix::detail {

std::string name_text(const NameRecord& r) {
    int32_t l = std::clamp<int32_t>(r.length, 0, 32);
    while (l > 0 && r.text[l - 1] == ' ') --l;
    return std::string(r.text, static_cast<size_t>(l));
}

NameRecord make_name(const std::string& text, int32_t width) {
    NameRecord r;
    std::memset(r.text, ' ', sizeof r.text);
    const size_t n = std::min<size_t>(text.size(), sizeof r.text);
    std::memcpy(r.text, text.data(), n);
    r.length = static_cast<int16_t>(std::max<size_t>(n, static_cast<size_t>(std::clamp(width, 0, 32))));
    return r;
}

NameRecord generated_name(const NameRecord& prefix, int32_t number) {
    NameRecord r;
    const std::string p = name_text(prefix);
    znamfix(0, p.c_str(), static_cast<int32_t>(p.size()), number, 0, r.text, 32);
    r.length = static_cast<int16_t>(wzstrip(r.text, 32));
    return r;
}

NameRecord padded8(const NameRecord& r) { return make_name(name_text(r), 8); }

bool looks_generated(const NameRecord& name, const NameRecord& prefix) {
    const std::string n = name_text(name), p = name_text(prefix);
    if (p.empty() || n.size() <= p.size()) return false;
    for (size_t i = 0; i < p.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(n[i])) != std::toupper(static_cast<unsigned char>(p[i])))
            return false;
    return std::isdigit(static_cast<unsigned char>(n[p.size()])) != 0;
}

NameRecord PrefixTable::next(const NameRecord& prefix) {
    size_t i = 0;
    while (i < names.size() && !same_name(names[i], prefix)) ++i;
    if (i == names.size()) {
        names.push_back(prefix);
        counters.push_back(0);
    }
    return generated_name(prefix, ++counters[i]);
}

void PrefixTable::check_collision(const NameRecord& name) const {
    for (const NameRecord& p : names)
        if (looks_generated(name, p)) {
            const std::string n = name_text(name);
            xpmlog(kMsgProc, kMsgPrefixLookalike, n.c_str());
            return;
        }
}

void estimate_unstated_exogenous(ProcContext* ctx, const std::vector<size_t>& cells, NameRecord* names,
                                 size_t nNames, const double* values, const std::vector<NameRecord>& taken) {
    auto unstated = [&](size_t c) { return names[c].length == 0 && wzmis(values[c]); };
    if (std::none_of(cells.begin(), cells.end(), unstated)) return;
    const bool whole = std::all_of(cells.begin(), cells.end(), unstated);
    if (whole && !ctx->methods.fourthOrder) return;
    // The names in use, listed once: the pattern is mostly unnamed.
    std::vector<NameRecord> used = taken;
    std::copy_if(names, names + nNames, std::back_inserter(used), [](const NameRecord& r) { return r.length > 0; });
    auto in_use = [&](const NameRecord& r) {
        return std::any_of(used.begin(), used.end(), [&](const NameRecord& t) { return same_name(t, r); });
    };
    const NameRecord prefix = make_name("_Exo");
    int32_t number = 0;
    for (size_t c : cells) {
        if (!unstated(c)) continue;
        NameRecord name;
        do name = generated_name(prefix, ++number);
        while (in_use(name));
        names[c] = name;
    }
    if (whole) {
        ctx->readers.exoBlockGenerated = 1;
        const int32_t m = ctx->methods.methodRequested;
        const std::string first = name_text(names[cells.front()]);
        xpmlog(kMsgProc, kMsgExogenousEstimated, first.c_str(),
               m == kMethodDwls || m == kMethodUlsDwls ? "DWLS" : "WLS");
    }
}

TempPool::TempPool(ProcContext* ctx, int64_t estimate) : ctx_(ctx) {
    pool_ = xmpoolc(estimate, 1024, 4096);
    if (pool_ == nullptr) {
        xmemmsg(estimate);
        xexit(std::max(ctx_->errorLevel, kLevelNoMemory), 0);
    }
}

TempPool::~TempPool() { xmpoold(pool_); }

void* TempPool::allocate_bytes(size_t bytes) {
    void* p = pool_->allocate(pool_, bytes, 4);
    if (p == nullptr || xmemdef(p) != 0) {
        xmemmsg(static_cast<int64_t>(bytes));
        xexit(std::max(ctx_->errorLevel, kLevelNoMemory), 0);
    }
    return p;
}

void* table_bytes(ProcContext* ctx, size_t bytes) {
    const StepView sv = step_view(ctx);
    HostAllocator* a = sv.pools->runPool[1];
    void* p = a != nullptr ? a->allocate(a, bytes, 4) : nullptr;
    if (p == nullptr || xmemdef(p) != 0) {
        xmemmsg(static_cast<int64_t>(bytes));
        xexit(std::max(*sv.errorLevel, kLevelNoMemory), 0);
    }
    std::memset(p, 0, bytes);
    return p;
}

void type_change_note(ProcContext* ctx, int32_t k, int32_t text, char* text80) {
    const StepView sv = step_view(ctx);
    // A stored model read back keeps its stored types: no note for those.
    const ModelReaderState& r = *sv.readers;
    if (r.storedTypes != nullptr && k < r.nStoredTypes && r.storedTypes[k] == sv.model->type[k]) return;
    char own[81] = {};
    if (text80 == nullptr) text80 = own;
    xpmstr(text80, -1 - 80, kMsgProc, text);
    const NameRecord& n = sv.model->name[k];
    xpmlog(kMsgProc, kMsgTypeChanged, static_cast<int32_t>(n.length), n.text, text80);
}

void exit_above(ProcContext* ctx, int32_t limit) {
    const StepView sv = step_view(ctx);
    if (*sv.errorLevel > limit) xexit(*sv.errorLevel, 0);
}

void rewind_scratch(ProcContext* ctx) {
    const StepView sv = step_view(ctx);
    scratch_check(xcpoint(sv.files->scratchFile, 0));
}

int32_t matrix_number(const ProcContext* ctx, const NameRecord& name) {
    for (int32_t k = 1; k <= ctx->sizes.nMatrices; ++k)
        if (same_name(ctx->model.name[k], name)) return k;
    return 0;
}

VarnamesKind varnames_kind(const ProcContext* ctx, const VarnamesGroup& g, int32_t* matrix, int32_t* second) {
    *matrix = *second = 0;
    if (g.matrixNumber != 0.0) return VarnamesKind::kOther;
    *matrix = matrix_number(ctx, g.matrixName);
    if (g.names.count == 1) {
        const int32_t s = matrix_number(ctx, g.names.names[0]);
        if (s > 0) {
            *second = s;
            return VarnamesKind::kCopy;
        }
        // The four matrix names of a FACTOR model are reserved: a group
        // naming one the model lacks copies from a missing matrix, it does
        // not give a column that name.
        if (ctx->readers.factorModel != 0) {
            for (const char* reserved : {"_F_", "_P_", "_U_", "_I_"})
                if (same_name(g.names.names[0], make_name(reserved))) return VarnamesKind::kCopy;
        }
    }
    return VarnamesKind::kList;
}

}  // namespace velix::detail
