// Test problems of the techniques: the standard least-squares problems of
// More, Garbow and Hillstrom (ACM TOMS 7, 1981) with their residuals and
// Jacobians, a problem block for them with the options the option set-up
// completes for a technique, the path of objective values the termination
// test saw, and the Hock-Schittkowski problems with bounds.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tests/optimizer/core/nlp_fixture.h"

namespace velix::test {

// Residuals r (m) and their Jacobian J (m x n, row-major) at x.
using Residuals = void (*)(const double* x, double* r);
using Jacobian = void (*)(const double* x, double* jac);

struct Standard {
    std::string name;
    std::vector<double> x0;    // the standard start
    int32_t m;                 // residuals
    Residuals r;
    Jacobian jac;
    double fLocal;             // a local minimum the run may end in (-1: none)
    std::vector<double> lower, upper;  // empty: no bounds
    double (*f)(const double* x) = nullptr;       // set: a general objective (r, jac unused)
    void (*g)(const double* x, double* g) = nullptr;
    double fMin = 0.0;                             // the optimal value
    bool allHeld = false;                          // every parameter ends at a bound (status 10)
    std::vector<double> rows = {}, rhs = {};       // dense linear rows a x >= b (row-major)
    int32_t nEq = 0;                               // the first nEq rows are equalities
    int32_t mc = 0;                                // nonlinear constraints c(x) >= 0, the first
    int32_t mcEq = 0;                              //   mcEq of them equalities
    void (*con)(const double* x, double* c) = nullptr;
    void (*conJac)(const double* x, double* jac) = nullptr;  // mc x n, row-major
    std::vector<double> xStar = {};                // the solution, when the test checks it
};

// Rosenbrock with x1 <= 0.5: the minimum (0.5, 0.25), f 0.25, on the bound.
const Standard& bounded_rosenbrock();

// Meyer's function (More, Garbow and Hillstrom's problem 10) from its
// standard start (0.02, 4000, 250): f* = 87.9458551718.
const Standard& meyer();

// x^2 + 100 y^2 as the residuals (x, 10 y), from (1, 1): its cross product
// is its Hessian, so a Newton model of it is exact.
const Standard& ellipse();

// Hock and Schittkowski's problems 3, 4 and 5 (bounds only; Test Examples
// for Nonlinear Programming Codes, 1981).
const std::vector<Standard>& bounded_problems();
// Problems with linear rows from feasible starts: Hock-Schittkowski 21
// (from (10, 10); its standard start is infeasible), 28, 35 and 48, and
// the quadratic of Nocedal and Wright's example 16.4.
const std::vector<Standard>& linear_problems();

// Hock-Schittkowski 24, 36, 37, 44 and 76 from their standard starts:
// bounds and linear inequalities, the optimum of the collection (HS44 has
// other local minima at vertices of its polytope).
const std::vector<Standard>& hs_linear_problems();
// Hock-Schittkowski 7 and 10 from their standard (infeasible) starts.
const std::vector<Standard>& hs_nonlinear_problems();

// Hock-Schittkowski 6 (from its infeasible start), 43 and 71: nonlinear
// equalities and inequalities.
const std::vector<Standard>& nonlinear_problems();

// Rosenbrock, Powell singular, helical valley, Wood, Freudenstein-Roth.
const std::vector<Standard>& standard_problems();

// f = sum r_i^2 with g = 2 J'r; the Hessian slot gives the Gauss-Newton
// cross product 2 J'J when `crossProduct`, else central differences of
// the gradient.  The termination test's calls are recorded in `path`.
struct TechniqueProblem : TestProblem {
    TechniqueProblem(const Standard& s, int32_t technique, bool crossProduct, int32_t update = 0);

    static TechniqueProblem* of(NlpProblem* p) { return static_cast<TechniqueProblem*>(TestProblem::of(p)); }
    double objective_value(const double* x);
    // Makes the residuals the problem's functions, with their Jacobian
    // delivered column by column to the store on `file`.
    void use_store(HostFile* file);
    void gradient_value(const double* x, double* g);

    const Standard& problem;
    std::vector<double> path;  // f at every termination test
    int infeasible = 0;        // termination tests at a point outside the bounds
    std::vector<double> work;  // residuals and Jacobian
    std::vector<double> functions, column;  // the store's function values and a column
    std::vector<double> conValues, conJacobian, lagrangeGradient;
};

// The problem's dense rows held compressed in its block, as a library
// user may give them: the nonzeros by rows, their columns and the row
// ends.  row_slot serves a row from them (as the procedure's row slot
// does, nonlinear constraints' rows from their Jacobian).
struct CompressedRows {
    explicit CompressedRows(TechniqueProblem* t);
    static int32_t row_slot(NlpProblem* p, int32_t k, double* out);
    std::vector<double> values;
    std::vector<int32_t> columns, ends;
};

// Runs the start phase and the technique through the driver; the status.
int32_t run_driver(TechniqueProblem* t);
// Runs the technique directly from a start evaluated here (problems with
// bounds or linear rows, whose feasible start belongs to the constraint
// machinery).
int32_t run_direct(TechniqueProblem* t);

}  // namespace velix::test

namespace velix::test {

// Runs `technique` on s from its standard start (through the driver; with
// constraints directly) and judges the end, naming every broken condition: a convergence criterion (or all
// parameters held) met, f at fMin or at the named local minimum within
// `tol` (1 + |f*|), x at xStar within 1e-5 when given, the nonlinear
// constraints met within 1e-6, every tested point inside the bounds and
// linear rows, and, when the method promises it (not with nonlinear
// constraints, whose merit function falls instead, nor VMCWD, whose
// watchdog lets it rise for a step), objective values that never rose
// between termination tests.
// update: the UpdateCode (0 the technique's default).
::testing::AssertionResult minimises(int32_t technique, const Standard& s, bool crossProduct,
                                     double tol = 1e-6, int32_t update = 0);

}  // namespace velix::test
