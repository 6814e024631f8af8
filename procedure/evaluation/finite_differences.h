// Forward differences of the program-defined dependent parameters with
// respect to the independent parameters the program reads, for the FDCODE
// option (no analytic derivatives of the program): one program run per
// input, the step relative to the input's size.
//
// Result: EvaluationState::depFdJacobian, row r for dependent parameter
// depParmNumbers[r], column j for input depInputParms[j].
#pragma once

#include <cstdint>

struct NlpProblem;

// Fills the table at nlp->param.x.  Does nothing (0) without programming
// statements, without FDCODE or without dependent parameters.  Returns 0,
// or -2 when the program fails at every step tried for some input.  x, f
// and the element values are left as at the base point.
int32_t cosfdcj(NlpProblem* nlp);
