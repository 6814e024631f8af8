// Stand-ins for the optimizer units that are not built yet (see pending.h):
// each logs that its routine is not available and answers
// kNlpRoutinePending, so that a caller never mistakes it for a result.
#include "optimizer/core/active_set.h"
#include "optimizer/core/pending.h"

#include "velix/codes.h"
#include "velix/host.h"

namespace {

int32_t pending(const char* routine) {
    xpmlog(kMsgNlp, kMsgRoutinePending, routine);
    return kNlpRoutinePending;
}

}  // namespace


int32_t znlpjwt(NlpProblem*, int32_t, int32_t, int32_t, const double*) { return pending("znlpjwt"); }
int32_t znlpjdt(NlpProblem*, int32_t, const double*, const double*, double*) { return pending("znlpjdt"); }
int32_t znlpjve(NlpProblem*, const double*, double*) { return pending("znlpjve"); }

// The printer is optional output: a problem without it still runs, so it
// says nothing.
void znlppre(NlpProblem*, int32_t, int32_t) {}
void znlppmt(HostObject*, const char*, int32_t, int32_t, const double*, const NameRecord*,
             const int32_t*) {}
void znlppli(NlpProblem*) { pending("znlppli"); }

// Without them a met criterion stands: no step was taken.
int32_t znlpnoi(NlpProblem*, int32_t) {
    pending("znlpnoi");
    return 0;
}
int32_t znlpdnc(NlpProblem*, int32_t) {
    pending("znlpdnc");
    return -1;
}

int32_t znlp_technique_pending(NlpProblem* p) {
    xpmlog(kMsgNlp, kMsgTechniquePending, p->technique);
    return kNlpNotUsable;
}
