// The discrepancy kernels of the procedure: the derivative of the
// discrepancy function with respect to the implied moments, the Kronecker
// weight product K V K and its dense triple-product twin.
//
// All work on ProcContext arrays (n = nManifest, p* = nMoments =
// n(n+1)/2; packed = PackedSym, (i, j), j <= i, at i(i+1)/2 + j) and branch
// on ProcContext.methods.methodStage, the method of the running stage.
#pragma once

#include <cstdint>

struct ProcContext;
struct HostText;

// Fills ProcContext.arrays.dfdc (p* values, packed) from what the objective left:
//   ULS, WLS, DWLS: a copy of the p* values of residualTerm (for WLS the
//                   caller completes the derivative with cosbsub on the
//                   transposed factor);
//   GLS:            W (Sigma - S) W from the dense residualTerm W (Sigma - S)
//                   and the packed weightMatrix W;
//   ML:             Sigma^-1 (Sigma - S) Sigma^-1 from the dense residualTerm
//                   I - Sigma^-1 S and the packed impliedInverse Sigma^-1
//                   (the "implied" area of some callers' notes);
//   other codes:    nothing is written.
void cosdfdc(ProcContext* ctx);

// K V K for the packed symmetric v of order n (the vector form of
// (K kron K) applied to V), in packed order.
//   K: weightMatrix for GLS; momentInverse for every other method but ULS.
//      For ML the caller places Sigma^-1 in momentInverse first (the
//      objective leaves Sigma itself there).
//   ULS: the p* values of v are copied.
// The result goes to impliedInverse when sel is nonzero, else to
// kronResult; returns the address written.  Callers whose notes name the
// selector-0 area the weighted vector (weightedVector, weightedDc) and the
// selector-1 area work1 or leftProduct mean these two fields; K for the
// methods other than GLS is always read from momentInverse.
double* coskron(ProcContext* ctx, int32_t sel, const double* v);

// Dense triple product out[i*n + j] = sum over m of (K K')(i, m) V(j, m),
// with K chosen as in coskron (ULS: the p* values of v are copied).
// The result goes to impliedInverse when sel is nonzero (which must then
// hold n*n doubles, more than its packed size), else to workMatrix; returns
// the address written.
double* costrip(ProcContext* ctx, int32_t sel, const double* v);
