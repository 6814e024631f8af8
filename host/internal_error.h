// The one way the module ends a step on an internal inconsistency (our bug,
// never the user's input): one "internal error:" line in the log, then the
// step ends with kLevelInternal.
//
// The rule for xebug's arguments, here and wherever a routine logs an
// inconsistency and goes on: the text says what was inconsistent, without
// an "internal error:" prefix (the host adds it), and the code is 0 (the
// step's return code goes to xexit, not into the line).
#pragma once

// Logs `what` as an internal error and ends the step with kLevelInternal.
[[noreturn]] void internal_error(const char* what);

// The same with a printf-formatted text (at most 255 characters).
[[noreturn]] void internal_errorf(const char* format, ...);
