// Internal errors end the step after one log line; see internal_error.h.
#include "host/internal_error.h"

#include <cstdarg>
#include <cstdio>

#include "velix/codes.h"
#include "velix/host.h"

void internal_error(const char* what) {
    xebug(what, 0);
    xexit(kLevelInternal, 0);
}

void internal_errorf(const char* format, ...) {
    char line[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    internal_error(line);
}
