// The optimizer core's output: the notes, the problem-description and
// convergence tables that frame a run, and the iteration history.  All of
// it goes through the library's KYR object (NlpProblem::out.kyrObject) with
// the host's output-table protocol; a failed host call is reported and ends
// the table, never the run.  Nothing is printed without a KYR object.
#pragma once

#include <cstdint>

#include "velix/host.h"
#include "velix/nlp.h"

// One note line of the listing, justified 'l' or 'c'.  Result: true when
// the host call failed (it is reported).
bool nlp_note(NlpProblem* p, HostText* text, char justify);

// The technique title, notes, "InputOpts" (printLevel > 3) and
// "ProblemDescription" at the start of a run; nothing for printLevel 0.
void pritech(NlpProblem* p);

// Closes the iteration history and prints "IterStop" (not after the start
// phase: afterStart 1) and "ConvergenceStatus" with the reason of `status`,
// and logs the matching message.
void znlpptm(NlpProblem* p, int32_t status, int32_t afterStart);

// The derivative checks' tables: "GradTest" (the test value of each
// parameter in gradBase) and, from the packed asymmetry matrix of the
// gradient's finite-difference Hessian, "SymDif" (the largest asymmetries),
// "ResDistr" (their distribution) and "SymDifRO" (the largest, by pair).
void nlp_grad_test_table(NlpProblem* p);
void nlp_asymmetry_tables(NlpProblem* p, const double* asym);

// The name of criterion 1..9 ("ABSCONV", ...) as messages print it.
const char* nlp_criterion_name(int32_t criterion);
