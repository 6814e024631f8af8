// A basis Z of the null space of a set of active constraints by variable
// reduction (Gill, Murray and Wright, Practical Optimization, 1981, sec.
// 5.1.3): parameters held at bounds drop out, and each independent general
// row eliminates one basic parameter, x_B = D x_N, so that
// Z = [D; I] (in the parameters' order) spans the directions the active
// constraints leave free.  Complete pivoting on the rows scaled to a
// largest element of 1 keeps D bounded.  Quantities of a problem
// restricted to that space follow without forming Z: the reduced matrix
// Z'AZ, the expanded Z C Z' and the reduced vector Z'g.  Since Z C Z' with
// C = (Z'AZ)^-1 does not depend on which basis Z of the null space is
// taken, it is the covariance of estimates under those constraints
// (Aitchison and Silvey, Ann. Math. Statist. 29, 1958).
#pragma once

#include <cstdint>
#include <vector>

namespace velix::detail {

struct VariableReduction {
    int32_t n = 0;               // parameters
    std::vector<int32_t> held;   // parameters held at bounds
    std::vector<int32_t> basic;  // one parameter per independent general row
    std::vector<int32_t> free;   // the others, ascending: the reduced coordinates
    std::vector<double> d;       // basic.size() rows of free.size(): x_basic[b] = sum_j d[b][j] x_free[j]
    int32_t dim() const { return static_cast<int32_t>(free.size()); }
};

// A general row whose largest element, after the elimination by the rows
// before it, is at most this share of its own largest element depends on
// them and is passed over.
inline constexpr double kDependentRowTol = 1e-10;

// Builds the reduction of the active constraints.
//   n      in   number of parameters
//   held   in   nHeld distinct parameters held at bounds (unit rows)
//   rows   in   m general rows of n doubles each (row-major), or null when m is 0
//   out    out  the reduction; rows found dependent add no basic parameter
// Returns the number of independent general rows (basic.size()).
int32_t variable_reduction(int32_t n, int32_t nHeld, const int32_t* held, int32_t m, const double* rows,
                           VariableReduction* out);

// out := Z'AZ (packed, order r.dim()) of the packed symmetric a (order r.n).
void reduce_packed(const VariableReduction& r, const double* a, double* out);

// out := Z C Z' (packed, order r.n) of the packed symmetric c (order
// r.dim()); rows and columns of held parameters are 0.  out must not
// overlap c.
void expand_packed(const VariableReduction& r, const double* c, double* out);

// out := Z'g (r.dim() entries) of g (r.n entries).
void reduce_vector(const VariableReduction& r, const double* g, double* out);

// The column of Z along which parameter i moves, into z (r.n doubles):
// that of i itself when it is free, else (i basic) that of the free
// parameter with the largest entry in i's row of D.  false, z untouched,
// when the constraints fix i (held, or a basic row without free entries).
bool moving_direction(const VariableReduction& r, int32_t i, double* z);

// The score test of releasing one active constraint, the others kept.
// With C = Z (Z'AZ)^-1 Z' the covariance under all of them (A the
// information, packed order n) and z a direction the others leave free
// but the released one does not, the covariance of the larger model is
// C + w w' / s, w = z - C A z, s = z'A w (the bordered inverse; s is the
// information of z that the directions of C do not explain).  Of element
// i, which the released constraint held:
//   score     z'g / z_i, the multiplier of the released constraint (g_i
//             when z = e_i, as when no other constraint moves i)
//   variance  C_ii + w_i^2 / s
//   change    -(C g)_i - w_i (w'g) / s, the expected change of element i
// valid is false when z_i is 0 or s is not above kDependentRowTol z'Az
// (the others all but fix z).
struct ReleasedConstraint {
    bool valid = false;
    double score = 0.0, variance = 0.0, change = 0.0;
};
ReleasedConstraint release_constraint(int32_t n, const double* a, const double* c, const double* g, const double* z,
                                      int32_t i);

}  // namespace velix::detail
