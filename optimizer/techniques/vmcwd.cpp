// VMCWD: the sequential quadratic programming method of znlpdq2 (see
// sqp.cpp) with the watchdog technique of Chamberlain, Powell, Lemarechal
// and Pedersen (The watchdog technique for forcing convergence in
// algorithms for constrained optimization, Math. Programming Study 16,
// 1982): a full step is taken even when it raises the merit function, and
// kept when the step after it brings the merit below the sufficient
// decrease of the first; otherwise the run goes back to the first point
// and searches along its step.  Near a solution the full steps that an L1
// merit function would cut short (the Maratos effect) keep the method's
// superlinear convergence.
//
// Reads, leaves and statuses: those of znlpdq2.
#include "optimizer/techniques/sqp.h"
#include "optimizer/techniques/techniques.h"

int32_t znlpvmc(NlpProblem* p) { return velix::detail::sqp_run(p, true); }
