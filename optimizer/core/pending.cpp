// Stand-ins for the optimizer units that are not built yet (see pending.h):
// each logs that its routine is not available and answers
// kNlpRoutinePending, so that a caller never mistakes it for a result.
#include "optimizer/core/active_set.h"
#include "optimizer/core/pending.h"

#include "velix/codes.h"
#include "velix/host.h"

int32_t znlp_technique_pending(NlpProblem* p) {
    xpmlog(kMsgNlp, kMsgTechniquePending, p->opt.technique);
    return kNlpNotUsable;
}
