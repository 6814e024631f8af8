// The numbers the host and the procedure give meaning to: message groups,
// the error levels a step accumulates and the return codes it ends with.
// Every routine names them from here; a bare 352 or 2000 in a routine is a
// number whose meaning a reader has to guess.  They live in the global
// namespace beside the host interface that uses them.
#pragma once

#include <cstdint>

// ---- message groups of the host's message file ----
constexpr int32_t kMsgHost = 100;      // the host's own lines: runner, data sets, statements
constexpr int32_t kMsgProc = 352;      // the procedure
constexpr int32_t kMsgNlp = 549;       // the optimizer library
constexpr int32_t kMsgSync = 153;      // BY-group synchronisation of two data sets
constexpr int32_t kMsgReader = 230;    // the moment-data reader

// ---- error levels and step return codes ----
// The error level of a step only grows (the larger value wins); it is tested
// at checkpoints, where a level above kLevelStepEnds ends the step, and is the
// step's return code at its end.  xexit ends a step at once with one of the
// codes below.
constexpr int32_t kLevelNone = 0;
constexpr int32_t kLevelWarning = 4;          // a warning: results are still delivered
constexpr int32_t kLevelErrorLogged = 8;     // an ERROR line was logged and nothing raised the level
constexpr int32_t kLevelNoMoments = 108;      // a BY group yields no usable moments or weights
constexpr int32_t kLevelNoEstimate = 108;     // a BY group's estimation gives no usable solution
constexpr int32_t kLevelStepEnds = 999;       // above this the step ends at the next checkpoint
constexpr int32_t kLevelBadVariables = 1008;  // listed variables absent or of the wrong type,
                                              // BY groups out of step
constexpr int32_t kLevelProgramFailed = 1012; // the programming statements cannot be run
constexpr int32_t kLevelNoMemory = 1016;      // an allocation failed
constexpr int32_t kLevelHostFailure = 1020;   // a reported host failure (scratch file, data set)
constexpr int32_t kLevelInterrupted = 1024;   // the user asked the run to stop (xattn): the step
                                              // ended at its next safe point
constexpr int32_t kLevelInputError = 2000;    // an input error in the statements or data sets
constexpr int32_t kLevelBadHookOption = 3000; // the optimizer hook block holds an unknown option word
constexpr int32_t kLevelInternal = 9999;      // an internal inconsistency: our bug
