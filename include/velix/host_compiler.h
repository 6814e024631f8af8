// The host's statement compiler: programming statements compiled once and
// run many times, with analytic first derivatives.
#pragma once

#include <cstdint>

struct CmpHandle;
struct CmpWork;

// Initialises the compiler for the step: the handle and the work area live
// in the driver's frame.
int32_t cmpinit(CmpHandle* handle, CmpWork* work);
