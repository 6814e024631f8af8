// The standard problems of the technique tests (see the header).
#include "tests/optimizer/techniques/technique_fixture.h"

#include <cfloat>
#include <cmath>
#include <sstream>

#include "optimizer/core/finite_differences.h"
#include "optimizer/core/line_search.h"
#include "optimizer/optimizer.h"
#include "optimizer/core/pending.h"
#include "velix/packed_index.h"

namespace velix::test {

namespace {

void rosen_r(const double* x, double* r) {
    r[0] = 10 * (x[1] - x[0] * x[0]);
    r[1] = 1 - x[0];
}
void rosen_j(const double* x, double* j) {
    const double v[] = {-20 * x[0], 10, -1, 0};
    std::copy(v, v + 4, j);
}

void powell_r(const double* x, double* r) {
    r[0] = x[0] + 10 * x[1];
    r[1] = std::sqrt(5.0) * (x[2] - x[3]);
    r[2] = (x[1] - 2 * x[2]) * (x[1] - 2 * x[2]);
    r[3] = std::sqrt(10.0) * (x[0] - x[3]) * (x[0] - x[3]);
}
void powell_j(const double* x, double* j) {
    const double s5 = std::sqrt(5.0), s10 = std::sqrt(10.0), c = x[1] - 2 * x[2], d = x[0] - x[3];
    const double v[] = {1, 10, 0, 0, 0, 0, s5, -s5, 0, 2 * c, -4 * c, 0, 2 * s10 * d, 0, 0, -2 * s10 * d};
    std::copy(v, v + 16, j);
}

void helical_r(const double* x, double* r) {
    const double t = std::atan(x[1] / x[0]) / (2 * M_PI) + (x[0] < 0 ? 0.5 : 0.0);
    r[0] = 10 * (x[2] - 10 * t);
    r[1] = 10 * (std::sqrt(x[0] * x[0] + x[1] * x[1]) - 1);
    r[2] = x[2];
}
void helical_j(const double* x, double* j) {
    const double r2 = x[0] * x[0] + x[1] * x[1], r = std::sqrt(r2);
    const double v[] = {100 * x[1] / (2 * M_PI * r2), -100 * x[0] / (2 * M_PI * r2), 10, 10 * x[0] / r,
                        10 * x[1] / r, 0, 0, 0, 1};
    std::copy(v, v + 9, j);
}

void wood_r(const double* x, double* r) {
    r[0] = 10 * (x[1] - x[0] * x[0]);
    r[1] = 1 - x[0];
    r[2] = std::sqrt(90.0) * (x[3] - x[2] * x[2]);
    r[3] = 1 - x[2];
    r[4] = std::sqrt(10.0) * (x[1] + x[3] - 2);
    r[5] = std::sqrt(0.1) * (x[1] - x[3]);
}
void wood_j(const double* x, double* j) {
    const double s90 = std::sqrt(90.0), s10 = std::sqrt(10.0), s01 = std::sqrt(0.1);
    const double v[] = {-20 * x[0], 10, 0, 0,  -1, 0,   0, 0,    0, 0, -2 * s90 * x[2], s90,
                        0,          0,  -1, 0, 0, s10, 0, s10, 0, s01, 0,               -s01};
    std::copy(v, v + 24, j);
}

void freudenstein_r(const double* x, double* r) {
    r[0] = -13 + x[0] + ((5 - x[1]) * x[1] - 2) * x[1];
    r[1] = -29 + x[0] + ((x[1] + 1) * x[1] - 14) * x[1];
}
void freudenstein_j(const double* x, double* j) {
    const double v[] = {1, 10 * x[1] - 3 * x[1] * x[1] - 2, 1, 3 * x[1] * x[1] + 2 * x[1] - 14};
    std::copy(v, v + 4, j);
}

// Meyer's thermistor problem: residuals x1 exp(x2 / (t_i + x3)) - y_i at
// t_i = 45 + 5 i.  Steep and badly scaled, with a minimum of 87.9458551718.
const double kMeyerY[] = {34780, 28610, 23650, 19630, 16370, 13720, 11540, 9744,
                          8261,  7030,  6005,  5147,  4427,  3820,  3307,  2872};
void meyer_r(const double* x, double* r) {
    for (int32_t i = 0; i < 16; ++i) r[i] = x[0] * std::exp(x[1] / (50.0 + 5 * i + x[2])) - kMeyerY[i];
}
void meyer_j(const double* x, double* j) {
    for (int32_t i = 0; i < 16; ++i) {
        const double t = 50.0 + 5 * i + x[2], e = std::exp(x[1] / t);
        j[3 * i] = e;
        j[3 * i + 1] = x[0] * e / t;
        j[3 * i + 2] = -x[0] * e * x[1] / (t * t);
    }
}

int32_t cross_product(NlpProblem* p) {
    TechniqueProblem* t = TechniqueProblem::of(p);
    const int32_t n = p->shape.nParams, m = t->problem.m;
    double* jac = t->work.data() + m;
    t->problem.jac(p->param.x, jac);
    for (int32_t i = 0; i < n; ++i)
        for (int32_t k = 0; k <= i; ++k) {
            double s = 0;
            for (int32_t r = 0; r < m; ++r) s += jac[r * n + i] * jac[r * n + k];
            p->hess.hessian[pk_lower(i, k)] = 2 * s;
        }
    return 0;
}

void record(NlpProblem* p) {
    TechniqueProblem* t = TechniqueProblem::of(p);
    t->path.push_back(p->iter.f);
    for (int32_t j = 0; p->shape.hasBounds && j < p->shape.nParams; ++j)
        if (p->param.x[j] < p->param.lower[j] - 1e-12 || p->param.x[j] > p->param.upper[j] + 1e-12) t->infeasible += 1;
    // The problem's own dense rows: the block may hold them compressed.
    const std::vector<double>& rows = t->problem.rows;
    for (int32_t r = 0; r < p->shape.nLinCon; ++r) {
        double s = -p->con.linRhs[r];
        for (int32_t j = 0; j < p->shape.nParams; ++j) s += rows[r * p->shape.nParams + j] * p->param.x[j];
        if (r < p->shape.nLinEq ? std::fabs(s) > 1e-10 : s < -1e-10) t->infeasible += 1;
    }
}

double hs21(const double* x) { return 0.01 * x[0] * x[0] + x[1] * x[1] - 100; }
void hs21_g(const double* x, double* g) {
    g[0] = 0.02 * x[0];
    g[1] = 2 * x[1];
}
double hs28(const double* x) { return (x[0] + x[1]) * (x[0] + x[1]) + (x[1] + x[2]) * (x[1] + x[2]); }
void hs28_g(const double* x, double* g) {
    g[0] = 2 * (x[0] + x[1]);
    g[1] = 2 * (x[0] + x[1]) + 2 * (x[1] + x[2]);
    g[2] = 2 * (x[1] + x[2]);
}
double nw164(const double* x) { return (x[0] - 1) * (x[0] - 1) + (x[1] - 2.5) * (x[1] - 2.5); }
void nw164_g(const double* x, double* g) {
    g[0] = 2 * (x[0] - 1);
    g[1] = 2 * (x[1] - 2.5);
}

double hs35(const double* x) {
    return 9 - 8 * x[0] - 6 * x[1] - 4 * x[2] + 2 * x[0] * x[0] + 2 * x[1] * x[1] + x[2] * x[2] + 2 * x[0] * x[1] +
           2 * x[0] * x[2];
}
void hs35_g(const double* x, double* g) {
    g[0] = -8 + 4 * x[0] + 2 * x[1] + 2 * x[2];
    g[1] = -6 + 4 * x[1] + 2 * x[0];
    g[2] = -4 + 2 * x[2] + 2 * x[0];
}
double hs48(const double* x) {
    return (x[0] - 1) * (x[0] - 1) + (x[1] - x[2]) * (x[1] - x[2]) + (x[3] - x[4]) * (x[3] - x[4]);
}
void hs48_g(const double* x, double* g) {
    const double v[] = {2 * (x[0] - 1), 2 * (x[1] - x[2]), -2 * (x[1] - x[2]), 2 * (x[3] - x[4]), -2 * (x[3] - x[4])};
    std::copy(v, v + 5, g);
}

const double kRoot3 = std::sqrt(3.0);
double hs24(const double* x) { return ((x[0] - 3) * (x[0] - 3) - 9) * x[1] * x[1] * x[1] / (27 * kRoot3); }
void hs24_g(const double* x, double* g) {
    g[0] = 2 * (x[0] - 3) * x[1] * x[1] * x[1] / (27 * kRoot3);
    g[1] = ((x[0] - 3) * (x[0] - 3) - 9) * x[1] * x[1] / (9 * kRoot3);
}
double hs36(const double* x) { return -x[0] * x[1] * x[2]; }
void hs36_g(const double* x, double* g) {
    g[0] = -x[1] * x[2];
    g[1] = -x[0] * x[2];
    g[2] = -x[0] * x[1];
}
double hs44(const double* x) {
    return x[0] - x[1] - x[2] - x[0] * x[2] + x[0] * x[3] + x[1] * x[2] - x[1] * x[3];
}
void hs44_g(const double* x, double* g) {
    const double v[] = {1 - x[2] + x[3], -1 + x[2] - x[3], -1 - x[0] + x[1], x[0] - x[1]};
    std::copy(v, v + 4, g);
}
double hs76(const double* x) {
    return x[0] * x[0] + 0.5 * x[1] * x[1] + x[2] * x[2] + 0.5 * x[3] * x[3] - x[0] * x[2] + x[2] * x[3] - x[0] -
           3 * x[1] + x[2] - x[3];
}
void hs76_g(const double* x, double* g) {
    const double v[] = {2 * x[0] - x[2] - 1, x[1] - 3, 2 * x[2] - x[0] + x[3] + 1, x[3] + x[2] - 1};
    std::copy(v, v + 4, g);
}
double hs7(const double* x) { return std::log(1 + x[0] * x[0]) - x[1]; }
void hs7_g(const double* x, double* g) {
    g[0] = 2 * x[0] / (1 + x[0] * x[0]);
    g[1] = -1;
}
void hs7_c(const double* x, double* c) { c[0] = (1 + x[0] * x[0]) * (1 + x[0] * x[0]) + x[1] * x[1] - 4; }
void hs7_j(const double* x, double* j) {
    j[0] = 4 * x[0] * (1 + x[0] * x[0]);
    j[1] = 2 * x[1];
}
double hs10(const double* x) { return x[0] - x[1]; }
void hs10_g(const double*, double* g) {
    g[0] = 1;
    g[1] = -1;
}
void hs10_c(const double* x, double* c) { c[0] = -3 * x[0] * x[0] + 2 * x[0] * x[1] - x[1] * x[1] + 1; }
void hs10_j(const double* x, double* j) {
    j[0] = -6 * x[0] + 2 * x[1];
    j[1] = 2 * x[0] - 2 * x[1];
}

double hs3(const double* x) { return x[1] + 1e-5 * (x[1] - x[0]) * (x[1] - x[0]); }
void hs3_g(const double* x, double* g) {
    g[0] = -2e-5 * (x[1] - x[0]);
    g[1] = 1 + 2e-5 * (x[1] - x[0]);
}
double hs4(const double* x) { return (x[0] + 1) * (x[0] + 1) * (x[0] + 1) / 3 + x[1]; }
void hs4_g(const double* x, double* g) {
    g[0] = (x[0] + 1) * (x[0] + 1);
    g[1] = 1;
}
double hs5(const double* x) { return std::sin(x[0] + x[1]) + (x[0] - x[1]) * (x[0] - x[1]) - 1.5 * x[0] + 2.5 * x[1] + 1; }
void hs5_g(const double* x, double* g) {
    const double c = std::cos(x[0] + x[1]), d = 2 * (x[0] - x[1]);
    g[0] = c + d - 1.5;
    g[1] = c - d + 2.5;
}

void hs6_c(const double* x, double* c) { c[0] = 10 * (x[1] - x[0] * x[0]); }
void hs6_j(const double* x, double* j) {
    j[0] = -20 * x[0];
    j[1] = 10;
}
double hs6(const double* x) { return (1 - x[0]) * (1 - x[0]); }
void hs6_g(const double* x, double* g) {
    g[0] = -2 * (1 - x[0]);
    g[1] = 0;
}

double hs43(const double* x) {
    return x[0] * x[0] + x[1] * x[1] + 2 * x[2] * x[2] + x[3] * x[3] - 5 * x[0] - 5 * x[1] - 21 * x[2] + 7 * x[3];
}
void hs43_g(const double* x, double* g) {
    const double v[] = {2 * x[0] - 5, 2 * x[1] - 5, 4 * x[2] - 21, 2 * x[3] + 7};
    std::copy(v, v + 4, g);
}
void hs43_c(const double* x, double* c) {
    const double a = x[0] * x[0], b = x[1] * x[1], d = x[2] * x[2], e = x[3] * x[3];
    c[0] = 8 - a - b - d - e - x[0] + x[1] - x[2] + x[3];
    c[1] = 10 - a - 2 * b - d - 2 * e + x[0] + x[3];
    c[2] = 5 - 2 * a - b - d - 2 * x[0] + x[1] + x[3];
}
void hs43_j(const double* x, double* j) {
    const double v[] = {-2 * x[0] - 1, -2 * x[1] + 1, -2 * x[2] - 1, -2 * x[3] + 1,
                        -2 * x[0] + 1, -4 * x[1],     -2 * x[2],     -4 * x[3] + 1,
                        -4 * x[0] - 2, -2 * x[1] + 1, -2 * x[2],     1};
    std::copy(v, v + 12, j);
}

double hs71(const double* x) { return x[0] * x[3] * (x[0] + x[1] + x[2]) + x[2]; }
void hs71_g(const double* x, double* g) {
    const double s = x[0] + x[1] + x[2];
    const double v[] = {x[3] * s + x[0] * x[3], x[0] * x[3], x[0] * x[3] + 1, x[0] * s};
    std::copy(v, v + 4, g);
}
void hs71_c(const double* x, double* c) {
    c[0] = x[0] * x[0] + x[1] * x[1] + x[2] * x[2] + x[3] * x[3] - 40;
    c[1] = x[0] * x[1] * x[2] * x[3] - 25;
}
void hs71_j(const double* x, double* j) {
    const double v[] = {2 * x[0],        2 * x[1],        2 * x[2],        2 * x[3],
                        x[1] * x[2] * x[3], x[0] * x[2] * x[3], x[0] * x[1] * x[3], x[0] * x[1] * x[2]};
    std::copy(v, v + 8, j);
}

int32_t con_values(NlpProblem* p) {
    p->run.nConEval += 1;
    TechniqueProblem::of(p)->problem.con(p->param.x, p->con.conValues);
    return 0;
}
int32_t con_jacobian(NlpProblem* p) {
    p->run.nConJac += 1;
    TechniqueProblem::of(p)->problem.conJac(p->param.x, p->con.conJacobian);
    return 0;
}

void set_missing(std::initializer_list<double*> fields) {
    for (double* f : fields) *f = host_missing_value();
}

}  // namespace

const std::vector<Standard>& standard_problems() {
    static const std::vector<Standard> all = {
        {"Rosenbrock", {-1.2, 1.0}, 2, rosen_r, rosen_j, -1, {}, {}},
        {"PowellSingular", {3, -1, 0, 1}, 4, powell_r, powell_j, -1, {}, {}},
        {"HelicalValley", {-1, 0, 0}, 3, helical_r, helical_j, -1, {}, {}},
        {"Wood", {-3, -1, -3, -1}, 6, wood_r, wood_j, -1, {}, {}},
        // The local minimum at about (11.41, -0.8968).
        {"FreudensteinRoth", {0.5, -2}, 2, freudenstein_r, freudenstein_j, 48.98425367924, {}, {}},
    };
    return all;
}

const Standard& bounded_rosenbrock() {
    static const Standard s{"BoundedRosenbrock", {-1.2, 1.0}, 2, rosen_r, rosen_j, -1, {-DBL_MAX, -DBL_MAX},
                            {0.5, DBL_MAX}, nullptr, nullptr, 0.25};
    return s;
}

const Standard& meyer() {
    static const Standard s{"Meyer", {0.02, 4000, 250}, 16, meyer_r, meyer_j, -1, {}, {}, nullptr, nullptr, 87.9458551718};
    return s;
}

const Standard& ellipse() {
    static const Standard s{"Ellipse", {1.0, 1.0}, 2, [](const double* x, double* r) { r[0] = x[0], r[1] = 10 * x[1]; },
                            [](const double*, double* j) { j[0] = 1, j[1] = 0, j[2] = 0, j[3] = 10; }, -1, {}, {}};
    return s;
}

const std::vector<Standard>& bounded_problems() {
    const double inf = DBL_MAX;
    static const std::vector<Standard> all = {
        {"HS3", {10, 1}, 0, nullptr, nullptr, -1, {-inf, 0}, {inf, inf}, hs3, hs3_g, 0.0},
        {"HS4", {1.125, 0.125}, 0, nullptr, nullptr, -1, {1, 0}, {inf, inf}, hs4, hs4_g, 8.0 / 3.0, true},
        {"HS5", {0, 0}, 0, nullptr, nullptr, -1, {-1.5, -3}, {4, 3}, hs5, hs5_g, -std::sqrt(3.0) / 2 - M_PI / 3},
    };
    return all;
}

const std::vector<Standard>& linear_problems() {
    const double inf = DBL_MAX;
    static const std::vector<Standard> all = {
        {"HS21", {10, 10}, 0, nullptr, nullptr, -1, {2, -50}, {50, 50}, hs21, hs21_g, -99.96, false, {10, -1}, {10}, 0},
        {"HS28", {-4, 1, 1}, 0, nullptr, nullptr, -1, {}, {}, hs28, hs28_g, 0.0, false, {1, 2, 3}, {1}, 1},
        {"NW16.4", {2, 0}, 0, nullptr, nullptr, -1, {0, 0}, {inf, inf}, nw164, nw164_g, 0.8, false,
         {1, -2, -1, -2, -1, 2}, {-2, -6, -2}, 0},
        {"HS35", {0.5, 0.5, 0.5}, 0, nullptr, nullptr, -1, {0, 0, 0}, {inf, inf, inf}, hs35, hs35_g, 1.0 / 9, false,
         {-1, -1, -2}, {-3}, 0, 0, 0, nullptr, nullptr, {4.0 / 3, 7.0 / 9, 4.0 / 9}},
        {"HS48", {3, 5, -3, 2, -2}, 0, nullptr, nullptr, -1, {}, {}, hs48, hs48_g, 0.0, false,
         {1, 1, 1, 1, 1, 0, 0, 1, -2, -2}, {5, -3}, 2, 0, 0, nullptr, nullptr, {1, 1, 1, 1, 1}},
    };
    return all;
}

const std::vector<Standard>& hs_linear_problems() {
    const double inf = DBL_MAX;
    static const std::vector<Standard> all = {
        {"HS24", {1, 0.5}, 0, nullptr, nullptr, -1, {0, 0}, {inf, inf}, hs24, hs24_g, -1.0, false,
         {1 / kRoot3, -1, 1, kRoot3, -1, -kRoot3}, {0, 0, -6}, 0, 0, 0, nullptr, nullptr, {3, kRoot3}},
        {"HS36", {10, 10, 10}, 0, nullptr, nullptr, -1, {0, 0, 0}, {20, 11, 42}, hs36, hs36_g, -3300.0, false,
         {-1, -2, -2}, {-72}, 0, 0, 0, nullptr, nullptr, {20, 11, 15}},
        {"HS37", {10, 10, 10}, 0, nullptr, nullptr, -1, {0, 0, 0}, {42, 42, 42}, hs36, hs36_g, -3456.0, false,
         {-1, -2, -2, 1, 2, 2}, {-72, 0}, 0, 0, 0, nullptr, nullptr, {24, 12, 12}},
        // The vertex (3, 0, 4, 0), f -13, is a strict local minimum: its four
        // active constraints have multipliers 3.75, 5, 0.75 and 2.
        {"HS44", {0, 0, 0, 0}, 0, nullptr, nullptr, -1, {0, 0, 0, 0}, {inf, inf, inf, inf}, hs44, hs44_g, -15.0, false,
         {-1, -2, 0, 0, -4, -1, 0, 0, -3, -4, 0, 0, 0, 0, -2, -1, 0, 0, -1, -2, 0, 0, -1, -1},
         {-8, -12, -12, -8, -8, -5}, 0, 0, 0, nullptr, nullptr, {0, 3, 0, 4}},
        {"HS76", {0.5, 0.5, 0.5, 0.5}, 0, nullptr, nullptr, -1, {0, 0, 0, 0}, {inf, inf, inf, inf}, hs76, hs76_g,
         -4.681818181818182, false, {-1, -2, -1, -1, -3, -1, -2, 1, 0, 1, 4, 0}, {-5, -4, 1.5}, 0, 0, 0, nullptr,
         nullptr, {3.0 / 11, 23.0 / 11, 0, 6.0 / 11}},
    };
    return all;
}

const std::vector<Standard>& hs_nonlinear_problems() {
    static const std::vector<Standard> all = {
        {"HS7", {2, 2}, 0, nullptr, nullptr, -1, {}, {}, hs7, hs7_g, -kRoot3, false, {}, {}, 0, 1, 1, hs7_c, hs7_j,
         {0, kRoot3}},
        {"HS10", {-10, 10}, 0, nullptr, nullptr, -1, {}, {}, hs10, hs10_g, -1.0, false, {}, {}, 0, 1, 0, hs10_c, hs10_j,
         {0, 1}},
    };
    return all;
}

const std::vector<Standard>& nonlinear_problems() {
    // Hock and Schittkowski, Test Examples for Nonlinear Programming Codes, 1981.
    static const std::vector<Standard> all = {
        {"HS6", {-1.2, 1}, 0, nullptr, nullptr, -1, {}, {}, hs6, hs6_g, 0.0, false, {}, {}, 0, 1, 1, hs6_c, hs6_j,
         {1, 1}},
        {"HS43", {0, 0, 0, 0}, 0, nullptr, nullptr, -1, {}, {}, hs43, hs43_g, -44.0, false, {}, {}, 0, 3, 0, hs43_c,
         hs43_j, {0, 1, 2, -1}},
        {"HS71", {1, 5, 5, 1}, 0, nullptr, nullptr, -1, {1, 1, 1, 1}, {5, 5, 5, 5}, hs71, hs71_g, 17.0140173, false,
         {}, {}, 0, 2, 1, hs71_c, hs71_j, {1, 4.7429996, 3.8211499, 1.3794082}},
    };
    return all;
}

double TechniqueProblem::objective_value(const double* x) {
    if (problem.f != nullptr) return problem.f(x);
    problem.r(x, work.data());
    double f = 0;
    for (int32_t i = 0; i < problem.m; ++i) f += work[i] * work[i];
    if (!functions.empty()) std::copy(work.begin(), work.begin() + problem.m, functions.begin());
    return f;
}

namespace {

int32_t store_jacobian(NlpProblem* p) {
    TechniqueProblem* t = TechniqueProblem::of(p);
    const int32_t n = p->shape.nParams, m = t->problem.m;
    double* jac = t->work.data() + m;
    t->problem.jac(p->param.x, jac);
    for (int32_t j = 0; j < n; ++j) {
        for (int32_t i = 0; i < m; ++i) t->column[i] = jac[i * n + j];
        if (znlpjwt(p, 0, j, 1, t->column.data()) != 0) return 1;
    }
    return 0;
}

}  // namespace

void TechniqueProblem::use_store(HostFile* file) {
    functions.assign(problem.m, 0.0);
    column.assign(problem.m, 0.0);
    p.shape.leastSquares = 1;
    p.shape.nFunctions = problem.m;
    p.work.funValues = functions.data();
    p.opt.jacobianFile = file;
    p.cb.residualJacobianFn = store_jacobian;
}

void TechniqueProblem::gradient_value(const double* x, double* g) {
    if (problem.g != nullptr) return problem.g(x, g);
    const int32_t n = p.shape.nParams, m = problem.m;
    double* jac = work.data() + m;
    problem.r(x, work.data());
    problem.jac(x, jac);
    for (int32_t j = 0; j < n; ++j) {
        double s = 0;
        for (int32_t i = 0; i < m; ++i) s += jac[i * n + j] * work[i];
        g[j] = 2 * s;
    }
}

TechniqueProblem::TechniqueProblem(const Standard& s, int32_t technique, bool crossProduct, int32_t update)
    : TestProblem(
          s.x0, [this](const double* x) { return objective_value(x); },
          [this](const double* x, double* g) { gradient_value(x, g); }),
      problem(s) {
    work.assign(static_cast<size_t>(s.m) * (1 + s.x0.size()), 0.0);
    p.opt.technique = technique;
    p.opt.update = update;
    p.cb.hessianFn = crossProduct ? cross_product : znlpfh3;
    p.cb.iterOutputHook = record;
    if (!s.lower.empty()) {
        lower = s.lower;
        upper = s.upper;
        p.shape.hasBounds = 1;
    }
    if (!s.rhs.empty()) {
        p.shape.hasLinCon = 1;
        p.shape.nLinCon = static_cast<int32_t>(s.rhs.size());
        p.shape.nLinEq = s.nEq;
        p.con.linRows = const_cast<double*>(s.rows.data());
        p.con.linRhs = const_cast<double*>(s.rhs.data());
    }
    if (s.mc > 0) {
        conValues.assign(static_cast<size_t>(s.mc), 0.0);
        conJacobian.assign(static_cast<size_t>(s.mc) * s.x0.size(), 0.0);
        lagrangeGradient.assign(s.x0.size(), 0.0);
        p.work.lagrangeGradient = lagrangeGradient.data();
        p.shape.hasNlinCon = 1;
        p.shape.nNlinCon = s.mc;
        p.shape.nNlinEq = s.mcEq;
        p.con.conValues = conValues.data();
        p.con.conJacobian = conJacobian.data();
        p.cb.conValuesFn = con_values;
        p.cb.conJacobianFn = con_jacobian;
    }
    // What the option set-up leaves to the defaults of the technique.
    set_missing({&p.opt.maxIter, &p.opt.maxFunc, &p.opt.absGConv, &p.opt.gConv, &p.opt.absXConv, &p.opt.xConv, &p.opt.fConv2,
                 &p.opt.gConv2, &p.opt.absFConv, &p.opt.fSize, &p.opt.xSize, &p.opt.restart, &p.opt.lsPrecision, &p.opt.inStep,
                 &p.opt.hesCal});
    znlp_default_options(&p);
    p.cb.updateFn = p.opt.update == kUpdateDfp ? znlpdfp : znlpbfg;
    p.cb.lineSearchFn = znlp_line_search(p.opt.lineSearch);
}

CompressedRows::CompressedRows(TechniqueProblem* t) {
    const size_t n = t->x.size();
    const std::vector<double>& rows = t->problem.rows;
    for (size_t r = 0; r < t->problem.rhs.size(); ++r) {
        for (size_t j = 0; j < n; ++j)
            if (rows[r * n + j] != 0.0) {
                values.push_back(rows[r * n + j]);
                columns.push_back(static_cast<int32_t>(j));
            }
        ends.push_back(static_cast<int32_t>(values.size()));
    }
    t->p.shape.linRowsSparse = 1;
    t->p.con.linRows = values.data();
    t->p.con.linColIndex = columns.data();
    t->p.con.linRowEnd = ends.data();
}

int32_t CompressedRows::row_slot(NlpProblem* p, int32_t k, double* out) {
    const int32_t n = p->shape.nParams;
    if (k >= p->shape.nLinCon) {
        std::copy(p->con.conJacobian + static_cast<size_t>(k - p->shape.nLinCon) * n,
                  p->con.conJacobian + static_cast<size_t>(k - p->shape.nLinCon + 1) * n, out);
        return 0;
    }
    std::fill(out, out + n, 0.0);
    for (int32_t e = k == 0 ? 0 : p->con.linRowEnd[k - 1]; e < p->con.linRowEnd[k]; ++e) out[p->con.linColIndex[e]] = p->con.linRows[e];
    return 0;
}

int32_t run_driver(TechniqueProblem* t) {
    const int32_t r = znlpdrv(&t->p, 1, 0, 0, 0);
    return r < 0 ? r : znlpdrv(&t->p, 2, 0, 0, 0);
}

int32_t run_direct(TechniqueProblem* t) {
    NlpProblem* p = &t->p;
    for (int32_t j = 0; j < p->shape.nParams; ++j) p->param.x[j] = std::fmin(std::fmax(p->param.x[j], p->param.lower[j]), p->param.upper[j]);
    if (p->cb.objectiveFn(p) != 0 || p->cb.gradientFn(p) != 0) return kNlpStartFunction;
    p->iter.fPrev = p->iter.f;
    p->run.evalPhase = kPhaseRun;
    const NlpTechniqueFn fn = znlp_technique_for(p);
    return fn(p);
}

}  // namespace velix::test

namespace velix::test {

::testing::AssertionResult minimises(int32_t technique, const Standard& s, bool crossProduct, double tol,
                                     int32_t update) {
    TechniqueProblem t(s, technique, crossProduct, update);
    const int32_t status = s.lower.empty() && s.rhs.empty() && s.mc == 0 ? run_driver(&t) : run_direct(&t);
    std::ostringstream why;
    if (status < kNlpAbsConv || status > kNlpAllFixed) why << " no convergence criterion met;";
    // The simplex has no gradient to hold a parameter by.
    if (s.allHeld && technique != kTechNmsimp && technique != kTechNmsim2 && status != kNlpAllFixed)
        why << " not every parameter held;";
    const double target = s.fLocal >= 0 && std::fabs(t.p.iter.f - s.fLocal) < std::fabs(t.p.iter.f) ? s.fLocal : s.fMin;
    const double allowed = tol * (1 + std::fabs(target));
    if (!(std::fabs(t.p.iter.f - target) <= allowed))
        why << " f " << t.p.iter.f << " differs from " << target << " by more than " << allowed << ";";
    for (size_t j = 0; j < s.xStar.size(); ++j)
        if (!(std::fabs(t.x[j] - s.xStar[j]) <= 1e-5 * (1 + std::fabs(s.xStar[j]))))
            why << " x" << j + 1 << " " << t.x[j] << " differs from " << s.xStar[j] << ";";
    if (s.mc > 0) {
        s.con(t.x.data(), t.conValues.data());
        for (int32_t k = 0; k < s.mc; ++k)
            if (k < s.mcEq ? std::fabs(t.conValues[k]) > 1e-6 : t.conValues[k] < -1e-6)
                why << " constraint " << k + 1 << " is " << t.conValues[k] << ";";
    }
    if (t.infeasible != 0) why << " " << t.infeasible << " tested points outside the bounds or linear rows;";
    if (t.path.size() < 2) why << " fewer than two termination tests;";
    const bool monotone = s.mc == 0 && technique != kTechVmcwd;
    for (size_t i = 1; monotone && i < t.path.size(); ++i)
        if (t.path[i] > t.path[i - 1] + 1e-13 * std::fabs(t.path[i - 1])) why << " f rose at test " << i << ";";
    if (why.str().empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << s.name << " technique " << technique << " update " << update
                                         << " status " << status << " iterations " << t.p.run.iteration << " calls "
                                         << t.p.run.nFun << ":" << why.str();
}

}  // namespace velix::test
