// Modified Bessel function of the first kind I_nu(x) of real order.
#pragma once

#include <cstdint>

// Request block of zibess.
struct BesselRequest {
    double x = 0.0;          // in: the argument, x >= 0
    double z = 0.0;          // x/2 (set by the routine)
    double z2 = 0.0;         // z^2 (set by the routine)
    double nu = 0.0;         // in: the order, nu >= 0
    double frac = 0.0;       // fractional part of nu
    double twoOverX = 0.0;   // 2/x
    double order = 0.0;      // order in work
    double seedLog[2] = {0.0, 0.0};  // log values seeding the recurrence
    double result = 0.0;     // out: the value in the wanted form
    int32_t intPart = 0;     // integer part of nu
    int32_t startOrder = 0;  // recurrence start order
    int32_t scaled = 0;      // the log value in work is already scaled by e^(-x)
    int32_t form = 0;        // in: 1 e^(-x) I_nu(x); 2 log I_nu(x); otherwise I_nu(x)
    int32_t status = 0;      // out: 0 good; 1 failure or lost accuracy
};

// Computes I_nu(x) in the requested form (in-out: request).  Result: the
// status.  Negative x or nu: result -DBL_MAX, status 1.  I_0(0) = 1 and
// I_nu(0) = 0 for nu > 0 (log form: -1.3407807929943e+154).  Forms 0 and 1
// overflowing the range of doubles set status 1 and leave the logarithm.
int32_t zibess(BesselRequest* request);

// log I_nu(x) for an order nu > -1, possibly negative, by
// I_nu = I_(nu+2) + (2(nu+1)/x) I_(nu+1) (in-out: request; the log form is
// always produced, the order is restored).  Result: the status.
int32_t zbess(BesselRequest* request);
