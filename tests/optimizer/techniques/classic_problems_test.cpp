// Classic problems with published optima run through the driver by every
// technique, on a problem block with the work space and row callback the
// estimation set-up gives one: Hock and Schittkowski's problems with
// bounds, linear rows and nonlinear constraints (Test Examples for
// Nonlinear Programming Codes, 1981) from their standard starts, those
// with nonlinear constraints from random starts too and from starts at
// which runs once claimed points that are none, and five of More,
// Garbow and Hillstrom's (ACM TOMS 7, 1981).  A run may end anywhere
// without a claim (a technique that does not take the constraints refuses
// them); a run that claims a solution (a criterion met, every parameter
// fixed, or a technique's stop at a point the check finds stationary) must
// end at the published optimum or at a local minimum classic_minima.R
// verifies, meeting every constraint within the feasibility tolerance
// LCEPS (1e-8), not only under a raised one.
#include <cfloat>
#include <cmath>
#include <random>
#include <sstream>

#include "tests/optimizer/core/constraint_fixture.h"
#include "tests/optimizer/techniques/technique_fixture.h"

namespace velix::test {
namespace {

const double kInf = DBL_MAX, kPi = M_PI, kRoot3 = std::sqrt(3.0), kRoot6 = std::sqrt(6.0);

// HS8: any point of the two equalities is a solution (f is constant).
double hs8_f(const double*) { return -1.0; }
void hs8_g(const double*, double* g) { g[0] = g[1] = 0.0; }
void hs8_c(const double* x, double* c) {
    c[0] = x[0] * x[0] + x[1] * x[1] - 25;
    c[1] = x[0] * x[1] - 9;
}
void hs8_j(const double* x, double* j) {
    j[0] = 2 * x[0], j[1] = 2 * x[1];
    j[2] = x[1], j[3] = x[0];
}
double hs14_f(const double* x) { return (x[0] - 2) * (x[0] - 2) + (x[1] - 1) * (x[1] - 1); }
void hs14_g(const double* x, double* g) {
    g[0] = 2 * (x[0] - 2);
    g[1] = 2 * (x[1] - 1);
}
void hs14_c(const double* x, double* c) { c[0] = -x[0] * x[0] / 4 - x[1] * x[1] + 1; }
void hs14_j(const double* x, double* j) { j[0] = -x[0] / 2, j[1] = -2 * x[1]; }
// HS15's objective is Rosenbrock's.
void hs15_c(const double* x, double* c) {
    c[0] = x[0] * x[1] - 1;
    c[1] = x[0] + x[1] * x[1];
}
void hs15_j(const double* x, double* j) {
    j[0] = x[1], j[1] = x[0];
    j[2] = 1, j[3] = 2 * x[1];
}
double hs18_f(const double* x) { return 0.01 * x[0] * x[0] + x[1] * x[1]; }
void hs18_g(const double* x, double* g) {
    g[0] = 0.02 * x[0];
    g[1] = 2 * x[1];
}
void hs18_c(const double* x, double* c) {
    c[0] = x[0] * x[1] - 25;
    c[1] = x[0] * x[0] + x[1] * x[1] - 25;
}
void hs18_j(const double* x, double* j) {
    j[0] = x[1], j[1] = x[0];
    j[2] = 2 * x[0], j[3] = 2 * x[1];
}
double hs29_f(const double* x) { return -x[0] * x[1] * x[2]; }
void hs29_g(const double* x, double* g) {
    g[0] = -x[1] * x[2];
    g[1] = -x[0] * x[2];
    g[2] = -x[0] * x[1];
}
void hs29_c(const double* x, double* c) { c[0] = -x[0] * x[0] - 2 * x[1] * x[1] - 4 * x[2] * x[2] + 48; }
void hs29_j(const double* x, double* j) { j[0] = -2 * x[0], j[1] = -4 * x[1], j[2] = -8 * x[2]; }

// A problem of the table: its other local minima (classic_minima.R), the
// box its random starts are drawn from (none: no random starts) and
// whether its objective is a convex quadratic, the only kind QUADAS takes.
struct Classic {
    Standard s;
    std::vector<double> localMinima = {};
    double low = 0.0, high = 0.0;
    bool quadratic = false;
    std::vector<std::vector<double>> starts = {};  // further starts of runs that once claimed points that are none
};

const Standard& named(const std::vector<Standard>& all, const std::string& name) {
    for (const Standard& s : all)
        if (s.name == name) return s;
    throw std::runtime_error(name);
}

// s with the nonlinear constraints c (mc of them, the first mcEq
// equalities) and their Jacobian j.
Standard constrained(Standard s, int32_t mc, int32_t mcEq, void (*c)(const double*, double*),
                     void (*j)(const double*, double*)) {
    s.mc = mc;
    s.mcEq = mcEq;
    s.con = c;
    s.conJac = j;
    return s;
}

Standard general(const char* name, std::vector<double> x0, double (*f)(const double*), void (*g)(const double*, double*),
                 double fMin, std::vector<double> lower = {}, std::vector<double> upper = {}) {
    Standard s{name, std::move(x0), 0, nullptr, nullptr, -1, std::move(lower), std::move(upper), f, g, fMin};
    return s;
}

const std::vector<Classic>& classics() {
    static const std::vector<Classic> all = [] {
        std::vector<Classic> v;
        const std::vector<Standard>& bounded = bounded_problems();
        v.push_back({named(bounded, "HS3")});
        v.push_back({named(bounded, "HS4")});
        v.push_back({named(bounded, "HS5"), {2 * kPi / 3 - kRoot3 / 2}});
        Standard hs1 = standard_problems()[0];
        hs1.name = "HS1";
        hs1.x0 = {-2, 1};
        hs1.lower = {-kInf, -1.5};
        hs1.upper = {kInf, kInf};
        v.push_back({hs1});
        Standard hs21 = named(linear_problems(), "HS21");
        hs21.x0 = {-1, -1};
        v.push_back({hs21, {}, 0, 0, true});
        v.push_back({named(linear_problems(), "HS35"), {}, 0, 0, true});
        for (const Standard& s : hs_linear_problems())
            v.push_back({s, s.name == "HS44" ? std::vector<double>{-13.0} : std::vector<double>{}, 0, 0, s.name == "HS76"});
        v.push_back({named(hs_nonlinear_problems(), "HS7"), {kRoot3}, -5, 5});
        v.push_back({named(hs_nonlinear_problems(), "HS10"), {}, -5, 5});
        v.push_back({named(nonlinear_problems(), "HS6"), {}, -5, 5});
        v.push_back({named(nonlinear_problems(), "HS43"), {}, -5, 5});
        v.push_back({named(nonlinear_problems(), "HS71"), {10 + 7 * kRoot6, 16 + 6 * kRoot6}, 1, 5});
        v.push_back({constrained(general("HS8", {2, 1}, hs8_f, hs8_g, -1.0), 2, 2, hs8_c, hs8_j), {}, -5, 5});
        Standard hs14 = constrained(general("HS14", {2, 2}, hs14_f, hs14_g, 9 - 23 * std::sqrt(7.0) / 8), 1, 0, hs14_c, hs14_j);
        hs14.rows = {1, -2};
        hs14.rhs = {-1};
        hs14.nEq = 1;
        v.push_back({hs14, {}, -5, 5, false, {{1.598, -0.598}}});
        Standard hs15 = constrained(standard_problems()[0], 2, 0, hs15_c, hs15_j);
        hs15.name = "HS15";
        hs15.x0 = {-2, 1};
        hs15.lower = {-kInf, -kInf};
        hs15.upper = {0.5, kInf};
        hs15.fMin = 306.5;
        v.push_back({hs15, {360.379767174283}, -5, 5, false, {{0.2, 6}, {-1.606, -0.895}}});
        v.push_back({constrained(general("HS18", {2, 2}, hs18_f, hs18_g, 5.0, {2, 0}, {50, 50}), 2, 0, hs18_c, hs18_j), {}, 2, 50,
                     false, {{48.605, 40.171}}});
        v.push_back({constrained(general("HS29", {1, 1, 1}, hs29_f, hs29_g, -16 * std::sqrt(2.0)), 1, 0, hs29_c, hs29_j), {}, -5, 5});
        for (const Standard& s : standard_problems())
            v.push_back({s, s.fLocal >= 0 ? std::vector<double>{s.fLocal} : std::vector<double>{}});
        return v;
    }();
    return all;
}

// Every technique of the library.
const int32_t kTechniques[] = {kTechTrureg, kTechNewrap, kTechNrridg,     kTechNrlins, kTechGaunew,
                               kTechLevmar, kTechDbldog, kTechQuanew,     kTechDualQuanew, kTechHyquan,
                               kTechCongra, kTechNmsimp, kTechNmsim2,     kTechQuadas, kTechVmcwd};

// The largest violation of s's bounds, rows and nonlinear constraints at x.
double violation(const Standard& s, const std::vector<double>& x) {
    double worst = 0.0;
    for (size_t j = 0; j < s.lower.size(); ++j) worst = std::fmax(worst, std::fmax(s.lower[j] - x[j], x[j] - s.upper[j]));
    const size_t n = x.size();
    for (size_t r = 0; r < s.rhs.size(); ++r) {
        double v = -s.rhs[r];
        for (size_t j = 0; j < n; ++j) v += s.rows[r * n + j] * x[j];
        worst = std::fmax(worst, static_cast<int32_t>(r) < s.nEq ? std::fabs(v) : -v);
    }
    std::vector<double> c(static_cast<size_t>(s.mc));
    if (s.mc > 0) s.con(x.data(), c.data());
    for (int32_t k = 0; k < s.mc; ++k) worst = std::fmax(worst, k < s.mcEq ? std::fabs(c[k]) : -c[k]);
    return worst;
}

// Runs the start phase and the run from x0: no claim, or a claim at the
// optimum or a local minimum (1e-6 relative in f) within LCEPS.
::testing::AssertionResult claims_only_minima(const Classic& c, int32_t technique, const std::vector<double>& x0) {
    Standard s = c.s;
    s.x0 = x0;
    TechniqueProblem t(s, technique, s.r != nullptr);
    ActiveSetArrays arrays(&t.p);
    const int32_t start = znlpdrv(&t.p, 1, 0, 0, 0);
    const int32_t status = start < 0 ? start : znlpdrv(&t.p, 2, 0, 0, 0);
    std::ostringstream out;
    out << s.name << " from (";
    for (const double v : x0) out << " " << v;
    out << " ) technique " << technique << " status " << status << " f " << t.p.iter.f << " violation "
        << violation(s, t.x);
    if (start < 0 || !nlp_status_usable(status) || !nlp_solution_reached(&t.p, status))
        return ::testing::AssertionSuccess() << out.str();
    bool atMinimum = std::fabs(t.p.iter.f - s.fMin) <= 1e-6 * (1 + std::fabs(s.fMin));
    for (const double f : c.localMinima) atMinimum = atMinimum || std::fabs(t.p.iter.f - f) <= 1e-6 * (1 + std::fabs(f));
    if (atMinimum && violation(s, t.x) <= t.p.opt.feasTol) return ::testing::AssertionSuccess() << out.str();
    return ::testing::AssertionFailure() << out.str() << ": a claimed solution away from the minima or beyond LCEPS "
                                         << t.p.opt.feasTol;
}

class ClassicProblems : public NlpStep {};

TEST_F(ClassicProblems, EveryTechniqueClaimsOnlyMinimaWithinTheConstraints) {
    std::mt19937 gen(80);  // the same sequence on every platform
    for (const Classic& c : classics()) {
        std::vector<std::vector<double>> starts = {c.s.x0};
        starts.insert(starts.end(), c.starts.begin(), c.starts.end());
        for (int32_t k = 0; c.high > c.low && k < 10; ++k) {
            std::vector<double> x0 = c.s.x0;
            for (double& v : x0) v = c.low + (c.high - c.low) * (gen() / 4294967296.0);
            starts.push_back(x0);
        }
        for (const std::vector<double>& x0 : starts)
            for (const int32_t technique : kTechniques) {
                if (technique == kTechQuadas && !c.quadratic) continue;
                EXPECT_TRUE(claims_only_minima(c, technique, x0));
            }
    }
}

}  // namespace
}  // namespace velix::test
