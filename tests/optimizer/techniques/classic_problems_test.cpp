// Classic problems with published optima run through the driver by every
// technique, on a problem block with the work space and row callback the
// estimation set-up gives one: Hock and Schittkowski's problems with
// bounds, linear rows and nonlinear constraints (Test Examples for
// Nonlinear Programming Codes, 1981) from their standard starts, from
// random starts and from starts at which runs once claimed points that are
// none, five of More, Garbow and Hillstrom's (ACM TOMS 7, 1981) and their
// Meyer function.  Every run is made as the analytic derivatives and dense
// rows give it, the problems with linear rows again with the rows
// compressed (the same end expected), QUADAS on the quadratics again in
// its first (sparse active-set) form, and a few problems again on forward
// and central differences.  A run may end anywhere without a claim (a
// technique that does not take the constraints refuses them); a run that
// claims a solution (a criterion met, every parameter fixed, or a
// technique's stop at a point the check finds stationary) must end at the
// published optimum or at a local minimum classic_minima.R verifies,
// meeting every constraint within the feasibility tolerance LCEPS (1e-8),
// not only under a raised one.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <iomanip>
#include <map>
#include <memory>
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

using Starts = std::vector<std::vector<double>>;

// A problem of the table: its other local minima (classic_minima.R), the
// box its random starts are drawn from (none: no random starts), whether
// its objective is a convex quadratic, the only kind QUADAS takes, and
// whether it is run on differenced derivatives too.
struct Classic {
    Standard s;
    std::vector<double> localMinima = {};
    double low = 0.0, high = 0.0;
    bool quadratic = false;
    Starts starts = {};  // further starts of runs that once claimed points that are none
    bool differenced = false;
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
        // Starts from which runs once claimed points that are none: checking
        // a claim, GAUNEW on HS36 and HS44 and QUADAS on HS35 stepped a few
        // 1e-6 through a row; QUADAS took a vertex of HS76 where a row's
        // multiplier is -1 for a solution, and from its second start never
        // ended.
        const std::map<std::string, Starts> once = {
            {"HS35", {{-3.4857784910127521, 4.7585279145278037, 2.6898838998749852}}},
            {"HS36", {{-6.045466341311112, -0.62381657771766186, 38.306765102315694}}},
            {"HS44", {{-3.1298911268822849, 2.4945009942166507, 2.1383152273483574, -4.837324139662087}}},
            {"HS76", {{4.5843011443503201, -1.3882145495153964, -4.4033852918073535, 2.1743933716788888},
                      {2.3258633213117719, 1.6925101610831916, 1.8715345114469528, 4.9845826695673168}}}};
        Standard hs21 = named(linear_problems(), "HS21");
        hs21.x0 = {-1, -1};
        v.push_back({hs21, {}, -5, 5, true});
        v.push_back({named(linear_problems(), "HS35"), {}, -5, 5, true, once.at("HS35")});
        for (const Standard& s : hs_linear_problems()) {
            // HS36's and HS37's boxes reach 11 to 42.  Their starts are
            // drawn above 0: a start that the start phase takes onto a
            // corner with two parameters at 0 sits where the gradient of
            // -x1 x2 x3 is exactly 0 and the negative curvature lies
            // across two bounds held with multipliers 0, a saddle that no
            // technique looks past (starts below 0 go there always, a
            // few in a thousand of the others do).
            const bool large = s.name == "HS36" || s.name == "HS37";
            v.push_back({s, s.name == "HS44" ? std::vector<double>{-13.0, -3.0} : std::vector<double>{}, large ? 0.5 : -5.0,
                         large ? 45.0 : 5.0, s.name == "HS76", once.count(s.name) ? once.at(s.name) : Starts{}});
        }
        v.push_back({named(hs_nonlinear_problems(), "HS7"), {kRoot3}, -5, 5});
        v.push_back({named(hs_nonlinear_problems(), "HS10"), {}, -5, 5});
        v.push_back({named(nonlinear_problems(), "HS6"), {}, -5, 5});
        v.push_back({named(nonlinear_problems(), "HS43"), {}, -5, 5});
        v.push_back({named(nonlinear_problems(), "HS71"),
                     {10 + 7 * kRoot6, 16 + 6 * kRoot6, 6 + 11 * kRoot6, 54 + 31 * kRoot6, 56 + 30 * kRoot6}, 1, 5});
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
        // Meyer's steep exponential model (More, Garbow and Hillstrom's
        // problem 10), whose central differences once held the gradient
        // small 0.1 % above its minimum; bounds, rows and nonlinear
        // constraints: on differenced derivatives too.
        v.push_back({meyer()});
        for (Classic& c : v)
            for (const char* name : {"Meyer", "HS5", "HS44", "HS76", "HS14", "HS15", "HS71"})
                c.differenced = c.differenced || c.s.name == name;
        return v;
    }();
    return all;
}

// Every technique of the library.
const int32_t kTechniques[] = {kTechTrureg, kTechNewrap, kTechNrridg,     kTechNrlins, kTechGaunew,
                               kTechLevmar, kTechDbldog, kTechQuanew,     kTechDualQuanew, kTechHyquan,
                               kTechCongra, kTechNmsimp, kTechNmsim2,     kTechQuadas, kTechVmcwd};

// The largest violation of s's bounds, rows and nonlinear constraints at
// x in the measure of the feasibility tolerance LCEPS: a bound or row b
// broken by v counts v / (1 + |b|), a nonlinear constraint its value.
double violation(const Standard& s, const std::vector<double>& x) {
    double worst = 0.0;
    for (size_t j = 0; j < s.lower.size(); ++j)
        worst = std::fmax(worst, std::fmax((s.lower[j] - x[j]) / (1 + std::fabs(s.lower[j])),
                                           (x[j] - s.upper[j]) / (1 + std::fabs(s.upper[j]))));
    const size_t n = x.size();
    for (size_t r = 0; r < s.rhs.size(); ++r) {
        double v = -s.rhs[r];
        for (size_t j = 0; j < n; ++j) v += s.rows[r * n + j] * x[j];
        worst = std::fmax(worst, (static_cast<int32_t>(r) < s.nEq ? std::fabs(v) : -v) / (1 + std::fabs(s.rhs[r])));
    }
    std::vector<double> c(static_cast<size_t>(s.mc));
    if (s.mc > 0) s.con(x.data(), c.data());
    for (int32_t k = 0; k < s.mc; ++k) worst = std::fmax(worst, k < s.mcEq ? std::fabs(c[k]) : -c[k]);
    return worst;
}

// How a run is given its derivatives and rows.  digit: 0 analytic, 1
// forward, 2 central differences of the gradient, the constraints'
// Jacobian and the Hessian over the interval arrays the owner gives (the
// units and ten-thousands digits of derivDigits); compressed: the linear
// rows held compressed, served by the row slot as the estimation set-up
// serves them; firstForm: QUADAS's first (sparse active-set) form, on the
// work areas the estimation set-up gives it.
struct Form {
    int32_t digit = 0;
    bool compressed = false;
    bool firstForm = false;
};

// One run from x0: the start phase and the technique through the driver.
struct ClassicRun {
    ClassicRun(const Classic& c, int32_t tech, const std::vector<double>& x0, const Form& how)
        : technique(tech), form(how), s(with_start(c.s, x0)), t(s, technique, s.r != nullptr), arrays(&t.p) {
        const size_t n = x0.size(), rows = s.rhs.size();
        if (form.digit != 0) {
            forward.assign(n, 0.0);
            central.assign(n, 0.0);
            t.p.fd.fdForward = forward.data();
            t.p.fd.fdCentral = central.data();
            t.p.opt.derivDigits = form.digit * (s.mc > 0 ? 10001 : 1);
            const bool fwd = form.digit == 1;
            t.p.cb.gradientFn = fwd ? znlpfig : znlpfg2;
            // A least-squares owner keeps its cross product J'J.
            if (s.r == nullptr) t.p.cb.hessianFn = fwd ? znlpfih : znlpfh2;
            if (s.mc > 0) t.p.cb.conJacobianFn = fwd ? znlpfcj : znlpfcc;
        }
        if (form.compressed) {
            compressed = std::make_unique<CompressedRows>(&t);
            t.p.cb.conRowFn = CompressedRows::row_slot;
        }
        if (form.firstForm) {
            t.p.opt.techVariant = 1;
            t.p.opt.conFactorForm = 2;
            arrays.sparse.assign(std::max(4 * n, n + rows), 0.0);
            arrays.mult.assign(n + rows, 0.0);
            column.assign(n, 0.0);
            t.p.active.sparseWork = arrays.sparse.data();
            t.p.active.sparseWorkDoubles = static_cast<int64_t>(arrays.sparse.size());
            t.p.active.multipliers = arrays.mult.data();
            t.p.active.columnBuffer = column.data();
        }
        const int32_t start = znlpdrv(&t.p, 1, 0, 0, 0);
        status = start < 0 ? start : znlpdrv(&t.p, 2, 0, 0, 0);
        claimed = start >= 0 && nlp_status_usable(status) && nlp_solution_reached(&t.p, status);
    }
    static Standard with_start(Standard s, const std::vector<double>& x0) {
        s.x0 = x0;
        return s;
    }
    int32_t technique;
    Form form;
    Standard s;
    TechniqueProblem t;
    ActiveSetArrays arrays;
    std::unique_ptr<CompressedRows> compressed;
    std::vector<double> forward, central, column;
    int32_t status = 0;
    bool claimed = false;
};

// What a run shows: the problem, start, technique, form and end.
std::string described(const ClassicRun& r) {
    std::ostringstream out;
    out << r.s.name << " from (" << std::setprecision(17);
    for (const double v : r.s.x0) out << " " << v;
    out << std::setprecision(6) << " ) technique " << r.technique << " digit " << r.form.digit
        << (r.form.compressed ? " compressed" : "") << (r.form.firstForm ? " first form" : "") << " status " << r.status << " f " << r.t.p.iter.f << " at (";
    for (const double v : r.t.x) out << " " << v;
    out << " ) violation " << violation(r.s, r.t.x);
    return out.str();
}

// No claim, or a claim at the optimum or a local minimum (1e-6 relative
// in f) within LCEPS.
::testing::AssertionResult claims_only_minima(const Classic& c, const ClassicRun& r) {
    if (!r.claimed) return ::testing::AssertionSuccess();
    const double f = r.t.p.iter.f;
    bool atMinimum = std::fabs(f - c.s.fMin) <= 1e-6 * (1 + std::fabs(c.s.fMin));
    for (const double m : c.localMinima) atMinimum = atMinimum || std::fabs(f - m) <= 1e-6 * (1 + std::fabs(m));
    if (atMinimum && violation(r.s, r.t.x) <= r.t.p.opt.feasTol) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << described(r) << ": a claimed solution away from the minima or beyond LCEPS " << r.t.p.opt.feasTol;
}

// The same rows held compressed lead the run to the same end.
::testing::AssertionResult same_end(const ClassicRun& dense, const ClassicRun& compressed) {
    bool same = dense.status == compressed.status;
    for (size_t j = 0; j < dense.t.x.size(); ++j)
        same = same && std::fabs(dense.t.x[j] - compressed.t.x[j]) <= 1e-10 * (1 + std::fabs(dense.t.x[j]));
    if (same) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << described(dense) << ", but " << described(compressed);
}

class ClassicProblems : public NlpStep {};

// Every start of c: the standard one, those of runs that once claimed
// points that are none, and `random` drawn from c's box.
Starts starts_of(const Classic& c, std::mt19937& gen, int32_t random) {
    Starts starts = {c.s.x0};
    starts.insert(starts.end(), c.starts.begin(), c.starts.end());
    for (int32_t k = 0; c.high > c.low && k < random; ++k) {
        std::vector<double> x0 = c.s.x0;
        for (double& v : x0) v = c.low + (c.high - c.low) * (gen() / 4294967296.0);
        starts.push_back(x0);
    }
    return starts;
}

// Every technique on every problem and start, analytic; the problems with
// linear rows with the rows compressed too, QUADAS on the quadratics in
// its first form too, a few problems on forward and central differences.
TEST_F(ClassicProblems, EveryTechniqueClaimsOnlyMinimaWithinTheConstraints) {
    std::mt19937 gen(80);  // the same sequence on every platform
    for (const Classic& c : classics())
        for (const std::vector<double>& x0 : starts_of(c, gen, 10))
            for (const int32_t technique : kTechniques) {
                if (technique == kTechQuadas && !c.quadratic) continue;
                const ClassicRun dense(c, technique, x0, Form{});
                EXPECT_TRUE(claims_only_minima(c, dense));
                if (!c.s.rhs.empty()) {
                    const ClassicRun compressed(c, technique, x0, Form{0, true});
                    EXPECT_TRUE(claims_only_minima(c, compressed));
                    EXPECT_TRUE(same_end(dense, compressed));
                }
                std::vector<Form> forms;
                if (technique == kTechQuadas) forms.push_back(Form{0, false, true});
                if (c.differenced) forms.insert(forms.end(), {Form{1}, Form{2}});
                for (const Form& form : forms) EXPECT_TRUE(claims_only_minima(c, ClassicRun(c, technique, x0, form)));
            }
}

}  // namespace
}  // namespace velix::test
