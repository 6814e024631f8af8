// The units of the model's elements in those of the manifest variables:
// a dimensional analysis of the COSAN form, so that default start values
// can follow the data's scale.
#pragma once

#include <cstdint>
#include <vector>

#include "velix/proc_context.h"

namespace velix::detail {

// The natural logarithm of the unit of every element of the model matrices
// (out: ctx->sizes.nElements entries): the log of the factor by which the
// element changes when every manifest variable is measured in units of its
// standard deviation (from the moment matrix) instead of its own.
//   ctx         in   the model matrices, their terms and elements, and the moments
//   out         out  one log unit per element; a latent row or column that
//                    nothing fixes counts as a variable of unit variance
//   determined  out  (may be null) per element, 1 when the data and the
//                    fixed elements decide its unit, 0 when the unit rests
//                    on a latent variable whose scale nothing fixes
//   signs       out  (may be null) per element, +1 or -1: the sign of the
//                    sample covariance of the variables its row and column
//                    point as (a factor as its marker), the sign a default
//                    start takes; +1 where nothing decides it
// Equation models (LINEQS, RAM) are read as paths and variances between
// their variables, the other kinds as the chain of their model matrices.
// False (out all 0, determined all 0, signs all +1) for a model it cannot read: a
// selection matrix or (I - M)^-1 as a central matrix in the COSAN form,
// shapes that do not chain, tables the start work does not accept, or more
// latent rows than kMaxLatentUnits.
bool element_log_units(ProcContext* ctx, std::vector<double>* out, std::vector<char>* determined = nullptr,
                       std::vector<double>* signs = nullptr);

// The most latent rows and columns the analysis solves for (a dense
// system of that order).
constexpr int32_t kMaxLatentUnits = 1000;

}  // namespace velix::detail
