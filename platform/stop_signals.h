// The signals that ask a run of the command to stop: SIGINT, SIGTERM and
// SIGHUP.  Their handler only notes the first one (an async-signal-safe
// store); the run stops at its next safe point: the module asks at each BY
// group, each optimizer iteration, each evaluation of the fit function, its
// gradient and its Hessian, and each stage after the fit (xattn); the host
// at each observation it reads or scans, the step runner before each item
// of the program and before it renames outputs into place.  The reading
// of the program and of a data set waits for a pipe's writer or its next
// bytes only while no stop was asked for (wait_readable); the command's own outputs wait for their
// reader, or for room in a pipe, the same way (open_for_writing,
// wait_writable), and a step's commit of its outputs waits for another
// run's commit to the same folders likewise (wait_for_lock).  SIGXFSZ (a
// file-size limit) is ignored, so that the write that passes the limit
// fails and is reported like a full disk; so is SIGPIPE (a reader of the
// listing or the log that closed its pipe), so that the write fails with
// EPIPE and the output is reported lost.
#pragma once

#include <sys/types.h>

namespace velix::platform {

// Installs the handlers (for the command only; a signal that the command
// was started ignoring, as under nohup, stays ignored).
void install_stop_handlers();

// The first stop signal received, 0 when none.
int stop_signal();

// Waits until `fd` (a pipe opened without blocking) has bytes to read, or
// its writer has gone, or a stop signal is received: false at a stop.
// The handlers keep SA_RESTART, so that no other read or write fails with
// EINTR; poll, which is never restarted, ends at the signal, and its
// timeout bounds the wait when the signal came just before it began.
bool wait_readable(int fd);

// How a wait for a lock ended.
enum class LockWait {
    kLocked,    // the lock is held
    kStopped,   // a stop signal came first
    kTimedOut,  // another process still holds it after the time allowed
    kRefused,   // the file system gives no such lock (errno in *error)
};

// Takes an exclusive advisory lock (flock) on the open file `fd`, waiting
// while another process holds one, no stop signal is received and, when
// `limitMs` is not negative, for at most that many milliseconds.
LockWait wait_for_lock(int fd, int limitMs, int* error);

// Waits until the pipe `fd` has room for at least PIPE_BUF bytes, or a
// stop signal is received: false at a stop (a write then holds the run
// no longer than a reader that does not read).  A stop that came earlier
// still lets a write through where there is room at once.
bool wait_writable(int fd);

// Opens `path` for writing as open(2) does with `flags` and `mode`, except
// that a named pipe no process reads yet is waited for only while no stop
// comes (open would wait in the kernel, deaf to a stop): -1 with errno
// EINTR at a stop.  A pipe comes back without blocking (O_NONBLOCK), so
// that its writes can wait the same way; any other file blocking.
int open_for_writing(const char* path, int flags, mode_t mode);

// Its name ("SIGTERM"); "a signal" for any other number.
const char* stop_signal_name(int signal);

// When a stop signal was received: restores its default action and sends
// it again, so that the process ends by that signal (as the shell and a
// calling program expect of an interrupted command).  Call it once every
// file is closed.  Returns when no stop signal was received.
void end_by_stop_signal();

}  // namespace velix::platform
