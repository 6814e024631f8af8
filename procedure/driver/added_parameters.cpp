// Added parameters (PARAMETERS), STRUCTEQ names and the selection of the
// manifest variables an equation model uses.
#include <algorithm>
#include <cstring>
#include <vector>

#include "host/scratch_file.h"
#include "host/internal_error.h"
#include "host/message_text.h"
#include "numerics/uniform_random.h"
#include "host/output_table.h"
#include "procedure/driver/model.h"
#include "procedure/driver/step_view.h"
#include "velix/messages.h"

void cospar3(ProcContext* ctx, NameRecord* nameBuffer, double* valueBuffer, int32_t capacity) {
    const StepView sv = step_view(ctx);
    // The statement's name stays at hand in the message pool while the
    // statements are read; the pool is emptied again below.
    zmsgsav(kMsgProc, kMsgParametersStatement, nullptr, 0);
    sv.sizes->nStructEq = 0;
    int32_t total = 0;
    // A second statement is refused also after an empty first one, whose
    // count of zero would otherwise let it through.
    bool structEqSeen = false;
    for (const StatementNode* n = sv.ctx->stmtList; n; n = n->next) {
        if (std::memcmp(n->keyword, "PARAMETE", 8) == 0 || std::memcmp(n->keyword, "PARMS   ", 8) == 0) {
            const auto* pl = static_cast<const ParametersPayload*>(n->payload);
            int32_t p = 0, q = 0;
            bool full = false;
            for (int32_t it = 0; it < pl->nItems && !full; ++it) {
                const ParameterItem& item = pl->items[it];
                if (item.kind == -1) {
                    for (int32_t i = item.first; i < item.end; ++i) {
                        if (p >= capacity) {
                            xpmlog(kMsgProc, kMsgParametersTooMany);
                            raise_error_level(sv.ctx, kLevelInputError);
                            full = true;
                            break;
                        }
                        nameBuffer[p++] = pl->names.names[i];
                    }
                    for (; q < p; ++q)
                        valueBuffer[q] = sv.options->randomSeed != 0
                                             ? zranuni(&sv.options->randomSeed)
                                             : sv.options->startConst;
                } else {
                    const int32_t k = item.end - item.first;
                    q -= k;
                    if (q < 0) {
                        xpmlog(kMsgProc, kMsgParametersSurplusValues);
                        q = 0;
                    }
                    for (int32_t i = item.first; i < item.end && q < p; ++i) valueBuffer[q++] = pl->values[i];
                }
            }
            // An empty statement is reported; the later statements are
            // still read.
            if (p == 0) {
                xpmlog(kMsgProc, kMsgParametersEmpty);
                continue;
            }
            for (int32_t i = 0; i < p; ++i) {
                AddedParameterRecord r;
                r.nameLength = nameBuffer[i].length;
                std::memset(r.name, ' ', sizeof r.name);
                std::memcpy(r.name, nameBuffer[i].text, std::min<size_t>(32, nameBuffer[i].length));
                r.value = valueBuffer[i];
                scratch_check(xcwrite(sv.files->scratchFile, &r, sizeof r));
            }
            total += p;
        } else if (std::memcmp(n->keyword, "STRUCTEQ", 8) == 0) {
            if (structEqSeen) {
                xpmlog(kMsgProc, kMsgOneStructeq);
                raise_error_level(sv.ctx, kLevelInputError);
            }
            structEqSeen = true;
            sv.sizes->nStructEq = static_cast<const NameListPayload*>(n->payload)->names.count;
        }
    }
    if (*sv.errorLevel > kLevelStepEnds) xexit(*sv.errorLevel, 0);
    zmsgsav(0, 0, nullptr, 0);
    sv.sizes->nParmAdded = total;
}

void cosparb(ProcContext* ctx) {
    const StepView sv = step_view(ctx);
    HostAllocator* a = sv.pools->runPool[2] ? sv.pools->runPool[2] : v_global_gcb_anchor->stepAllocator;
    sv.readers->structEqNames = static_cast<NameRecord*>(
        a->allocate(a, sizeof(NameRecord) * std::max(sv.sizes->nStructEq, 1), 4));
    if (sv.readers->structEqNames == nullptr) xexit(std::max(*sv.errorLevel, kLevelNoMemory), 0);
    for (const StatementNode* n = find_statement(sv.ctx->stmtList, "STRUCTEQ"); n;
         n = find_statement(n->next, "STRUCTEQ")) {
        const auto* pl = static_cast<const NameListPayload*>(n->payload);
        if (pl->names.count != sv.sizes->nStructEq) {
            xebug("the STRUCTEQ names were counted differently", 0);
            raise_error_level(sv.ctx, kLevelInternal);
            continue;
        }
        std::copy(pl->names.names, pl->names.names + pl->names.count, sv.readers->structEqNames);
    }
    if (*sv.errorLevel > kLevelStepEnds) xexit(*sv.errorLevel, 0);
}

void cospar4(ProcContext* ctx) {
    const StepView sv = step_view(ctx);
    if (!sv.readers->equationModel || sv.readers->nUnusedVars == 0) return;
    const int32_t n = sv.sizes->nManifest;
    // The DATA= variables come first; the intercept slot of the augmented
    // moment matrix, when in use, follows them.
    const int32_t nData = sv.options->interceptVar ? n - 1 : n;
    std::vector<int32_t> unused;
    for (int32_t i = 0; i < nData; ++i)
        if (sv.readers->varPosition[i] < 0) unused.push_back(i);
    // 1. The "VarSelection" table: one column per unreferenced variable.
    if (sv.options->printEnabled && sv.output->kyrManager && !unused.empty()) {
        OutputTable t(sv.output->kyrManager, "VarSelection", kyrmsg(kMsgProc, kMsgVariableSelection),
                      "Tesk.Velix.VarSelection");
        for (int32_t i : unused)
            t.name_column(std::string(sv.input->manifestNames[i].text, sv.input->manifestNames[i].length));
        if (!t.end_columns()) return;
        if (!t.add_row() || !t.deliver() ||
            !listing_line(sv.output->kyrManager, kyrmsg(kMsgProc, kMsgUnusedRemoved)))
            return;
    }
    // 2. Move the used variables down over the removed ones.
    int32_t kept = 0;
    for (int32_t i = 0; i < nData; ++i) {
        if (sv.readers->varPosition[i] < 0) continue;
        sv.input->manifestNames[kept] = sv.input->manifestNames[i];
        sv.input->manifestNumbers[kept] = sv.input->manifestNumbers[i];
        ++kept;
    }
    const int32_t keptData = kept;
    // 3. The intercept stays when the model uses it; otherwise the moments
    // are formed without it.
    if (sv.options->interceptVar) {
        if (sv.readers->varPosition[nData] >= 0) {
            sv.input->manifestNames[kept] = sv.input->manifestNames[nData];
            sv.input->manifestNumbers[kept] = sv.input->manifestNumbers[nData];
            ++kept;
        } else {
            sv.options->interceptVar = 0;
            xpmlog(kMsgProc, kMsgInterceptRemoved);
        }
    }
    const int32_t removed = n - kept;
    if (removed != sv.readers->nUnusedVars) {
        xpmlog(kMsgProc, kMsgRemovedCountWrong);
        raise_error_level(sv.ctx, kLevelInternal);
    }
    sv.sizes->nVar = keptData;
    sv.sizes->nManifest = kept;
    sv.model->rows[1] = kept;
    if (sv.moments->nRead != 0)
        sv.moments->nRead =
            sv.sizes->nVar + sv.moments->nPartial + (sv.options->interceptVar ? 1 : 0);
    // The host reads its own copy of the lists: define them again so that
    // the moments are accumulated over the kept variables only.
    if (keptData > 0 && sv.input->hostLists != nullptr) {
        sv.input->hostLists->entry[kHostListVar].count = static_cast<int16_t>(keptData);
        sv.input->hostLists->entry[kHostListVar].numbers = sv.input->manifestNumbers;
        if (xvdflst(sv.dataSets->dataSetHandle[kRoleData], sv.input->hostLists) != 0) {
            internal_error("the kept variables cannot be defined again");
        }
    }
    sv.sizes->nMoments = kept * (kept + 1) / 2;
    int32_t width = 8;
    for (int32_t i = 0; i < kept; ++i)
        width = std::max<int32_t>(width, sv.input->manifestNames[i].length);
    sv.input->varNameWidth = width;
    if (keptData == 0) {
        xpmlog(kMsgProc, kMsgNoVariablesLeft);
        raise_error_level(sv.ctx, kLevelInputError);
    }
    if (*sv.errorLevel > kLevelStepEnds) xexit(*sv.errorLevel, 0);
}
