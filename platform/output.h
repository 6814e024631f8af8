// The output manager of our host: the KYR objects through which the module
// delivers tables, matrix tables, factoids, notes and groups, rendered to the
// listing as they are delivered and collected into one JSON document over the
// whole run.
//
// The step runner brackets each step with output_begin_step and
// output_end_step; every object, text handle and table of a step is freed at
// the step's end (through the session's step hooks), or when a BY group
// begins once the module is done with it (output_release_finished).
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

namespace velix::platform {

// Statuses the output objects return (negative, so callers take them for
// failures and report them with xprrlog).
constexpr int32_t kKyrWrongOrder = static_cast<int32_t>(0x80008002);  // call out of protocol order
constexpr int32_t kKyrBadArgument = static_cast<int32_t>(0x80008003); // missing or malformed entry
constexpr int32_t kKyrClosed = static_cast<int32_t>(0x80008004);      // object already closed

// Starts the record of a step in the JSON document.
void output_begin_step(int stepNumber);
// Records the step's return code.
void output_end_step(int returnCode);
// Records a line that the run logs outside any step (a statement that is
// not valid between steps, say) among the run's own messages.
void output_program_message(const std::string& text);
// Records the run's return code: the highest of its steps and of its own
// messages, from which the exit status follows.
void output_end_run(int returnCode);
// The whole JSON document so far (the current step included, its return code
// null while it runs, as is the run's until output_end_run).
std::string output_json();
// Forgets every step recorded so far (a fresh document, for tests).
void output_clear();
// Streams the document (the command does): from now on each step's record
// is written to *json when the step ends, its items and messages waiting
// until then in a spill of fixed memory, and is then forgotten; with json
// null the records are not kept at all.  What waits beyond the memory of a
// spill waits in an unnamed file in `folder` (that of the document's
// scratch file).  A `folder` of "" is a document written in place (a
// device, standard output), which cannot be taken back once it has begun:
// its records then wait too, in the user's temporary folder, until
// output_write_json.  Starts a fresh document.
void output_stream_json(std::ostream* json, const std::string& folder = "");
// Back to keeping every record in memory for output_json (the default).
void output_keep_json();
// Writes what is left of the document to *out: when it streams, the record
// of a step still running and the run's end (for a document written in
// place, the whole document, or nothing when part of it was lost: *out is
// then failed with the reason); else the whole of output_json.
void output_write_json(std::ostream* out);

// Frees what the module is done with when a BY group begins: the output
// objects closed and the tables, factoids and matrices delivered, with
// their output handles, and the text handles the group before made (those
// made before the first group stay to the step's end).  So what the
// finished groups made is not kept to the step's end; a handle to a freed
// object or text must not be used again.
void output_release_finished();

// Makes the nthCall-th call (1-based, counted from now) of method number
// `method` on any output object fail with `status` before it does anything.
void inject_method_failure(uint32_t method, int nthCall, int32_t status);
void clear_injected_failures();

}  // namespace velix::platform
