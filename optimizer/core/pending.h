// Routines of other optimizer units that the core calls: the sparse form
// of the constraint machinery and the confidence limits of the reporting
// unit.  Each is declared here with the contract the core relies on; until
// its unit is built, pending.cpp answers for it by reporting that
// it is not available (message kMsgNlp/kMsgRoutinePending) and returning
// kNlpRoutinePending, which the driver turns into kNlpNotUsable.
#pragma once

#include <cstdint>

#include "velix/nlp.h"

// Result of a routine that is not built yet (never a status of a built one).
constexpr int32_t kNlpRoutinePending = -1000;
// Message of group kMsgNlp naming a routine that is not built yet.
constexpr int32_t kMsgRoutinePending = 900;
// Message of group kMsgNlp naming a technique code that is not built yet.
constexpr int32_t kMsgTechniquePending = 901;

// ---- constraint machinery of the sparse form ----
// The feasible start point from the constraint rows (factor form 2).
int32_t znlpfer(NlpProblem* p);

// ---- the least-squares Jacobian store of the techniques ----
// Appends Jacobian column j (m doubles) to the store on jacobianFile (j = 0
// rewinds it).  0, or nonzero on failure.
int32_t znlpjwt(NlpProblem* p, int32_t zero, int32_t j, int32_t one, const double* column);
// Row j of the cross product from the stored columns, into the packed row
// starting at `row`.  0, or nonzero on failure.
int32_t znlpjdt(NlpProblem* p, int32_t j, const double* base, const double* column, double* row);
// out = J u (m doubles) from the store.
int32_t znlpjve(NlpProblem* p, const double* u, double* out);

// ---- confidence limits ----
// Wald and profile-likelihood confidence limits after a successful run.
void znlppli(NlpProblem* p);

// ---- post-convergence steps of the techniques ----
// The perturbation test after convergence (flag 0 at the start test, else
// 1): nonzero when it found and kept a feasible decrease of the objective.
int32_t znlpnoi(NlpProblem* p, int32_t flag);
// The step along a direction of negative curvature: 0 when it stepped, -1
// when it cannot proceed.
int32_t znlpdnc(NlpProblem* p, int32_t flag);

// The technique slot of a technique that is not built: reports it and
// returns kNlpNotUsable.
int32_t znlp_technique_pending(NlpProblem* p);
