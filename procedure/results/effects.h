// Total and indirect effects of an equation model (LINEQS or RAM) and the
// stability coefficient of its system of equations.  With B the direct
// effects among the dependent variables and G those of the independent
// ones, the total effects are (I - B)^-1 G (RAM: (I - B)^-1 - I) and the
// indirect effects the total less the direct ones.  Bollen (1989),
// Structural Equations with Latent Variables, ch. 8; Bentler and Freeman
// (1983) for the stability of a nonrecursive system.
#pragma once

#include <cstdint>
#include <vector>

#include "procedure/results/results_view.h"

// costeff: the "Stability" table (PDETERM) and the "TotalEffects" and
// "IndirectEffects" tables (TOTEFF) of an equation model; nothing for the
// other model kinds.
void costeff(ProcContext* ctx);

namespace velix::detail {

// The stability coefficient of the square matrix D (order m, row-major):
// the largest eigenvalue of D D', the square of the spectral norm of D.
// It bounds the square of the spectral radius of D from above (not the
// radius itself: a 3-cycle can have 0.56 where the radius is 0.62); below
// 1 the system's feedback converges.  Missing when D is zero or the
// eigenvalues fail.
double effects_stability(const std::vector<double>& d, int32_t m);

// The spectral radius of the square matrix B (order m, row-major), the
// largest modulus of its eigenvalues, by Gelfand's formula lim ||B^n||^(1/n)
// over n = 2^k, the matrix rescaled at each squaring; 0 when B is
// nilpotent (a recursive system).  Above 1, the series I + B + B^2 + ...
// that the total effects sum diverges.
double effects_spectral_radius(std::vector<double> b, int32_t m);

// The structural variables among the first nY model variables: with
// STRUCTEQ names the variables so named (names compared without case),
// else those that both send and receive a direct effect (RAM), or that
// send one to or receive one from a dependent variable (LINEQS).  The
// direct-effect matrix is model matrix 2.
std::vector<int32_t> structural_variables(const ResultsView& rv, int32_t nY);

// Entries of `values` (rows x cols, row-major) with |x| <= max |x| * 1000
// eps set to 0.
void effects_clear_negligible(std::vector<double>* values);

}  // namespace velix::detail
