// Stop signals: a handler that records the signal and nothing else (a
// store to a volatile sig_atomic_t is all that is safe in a handler that
// may interrupt an allocation or a write), read at the run's safe points.
#include "platform/stop_signals.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <csignal>

#include "velix/host.h"

namespace velix::platform {
namespace {

volatile std::sig_atomic_t received = 0;

extern "C" void note_stop_signal(int signal) {
    // A second signal changes nothing: the run is already stopping.
    if (received == 0) received = signal;
}

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// How long a wait for a pipe goes without looking at the stop flag: a
// signal that came between the look and the wait is acted on this late.
constexpr int kStopPollMs = 100;

}  // namespace

void install_stop_handlers() {
    struct sigaction action {};
    action.sa_handler = note_stop_signal;
    sigemptyset(&action.sa_mask);
    // Reads and writes go on after the handler: the run stops where it is
    // safe to, not in the middle of a system call.
    action.sa_flags = SA_RESTART;
    for (int signal : kStopSignals) {
        struct sigaction previous {};
        if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
        sigaction(signal, &action, nullptr);
    }
    std::signal(SIGXFSZ, SIG_IGN);
    // A reader of the listing that goes away (`velix prog.vx | head`)
    // makes the next write fail with EPIPE, a lost listing like any other,
    // rather than end the run unannounced with its data sets unwritten.
    std::signal(SIGPIPE, SIG_IGN);
}

int stop_signal() { return received; }

bool wait_readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    while (received == 0) {
        const int ready = ::poll(&p, 1, kStopPollMs);
        // An error of poll is left to the read that follows to report.
        if (ready > 0 || (ready < 0 && errno != EINTR)) return true;
    }
    return false;
}

LockWait wait_for_lock(int fd, int limitMs, int* error) {
    // How long a wait for another run's lock goes between two tries:
    // short beside a commit (a few renames), so that the wait adds little.
    constexpr int kLockPollMs = 5;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (received == 0) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return LockWait::kLocked;
        if (errno != EWOULDBLOCK && errno != EINTR) {
            *error = errno;
            return LockWait::kRefused;
        }
        if (limitMs >= 0 && std::chrono::steady_clock::now() >= until) return LockWait::kTimedOut;
        ::poll(nullptr, 0, kLockPollMs);
    }
    return LockWait::kStopped;
}

bool wait_writable(int fd) {
    pollfd p{fd, POLLOUT, 0};
    while (true) {
        // After a stop, only room that is there now is used.
        const int ready = ::poll(&p, 1, received == 0 ? kStopPollMs : 0);
        // An error of poll, or a reader gone (POLLERR), is left to the
        // write that follows to report.
        if (ready > 0 || (ready < 0 && errno != EINTR)) return true;
        if (received != 0) return false;
    }
}

int open_for_writing(const char* path, int flags, mode_t mode) {
    while (true) {
        const int fd = ::open(path, flags | O_NONBLOCK, mode);
        if (fd >= 0) {
            struct stat st;
            const bool pipe = ::fstat(fd, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode));
            if (!pipe) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            return fd;
        }
        // ENXIO: a named pipe that no process has open for reading.
        struct stat st;
        if (errno != ENXIO) return -1;
        if (::stat(path, &st) != 0 || !S_ISFIFO(st.st_mode)) {
            errno = ENXIO;
            return -1;
        }
        if (received != 0) {
            errno = EINTR;
            return -1;
        }
        ::poll(nullptr, 0, kStopPollMs);
    }
}

const char* stop_signal_name(int signal) {
    switch (signal) {
        case SIGINT: return "SIGINT";
        case SIGTERM: return "SIGTERM";
        case SIGHUP: return "SIGHUP";
        default: return "a signal";
    }
}

void end_by_stop_signal() {
    const int signal = received;
    if (signal == 0) return;
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

}  // namespace velix::platform

int32_t xattn() { return velix::platform::stop_signal() != 0 ? 1 : 0; }
