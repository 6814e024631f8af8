// Confidence limits against independent answers.  The main problem is the
// normal sample's negative log-likelihood in (mu, v = sigma^2), whose
// profile limits have a closed form for mu (v re-estimated: n log(1 +
// (mu - ybar)^2 / vhat) = q) and are found by bisection here for v (mu
// stays at ybar: n log(v / vhat) + n (vhat / v - 1) = q).  The deviance
// factor is the default 2 (2 f is the deviance), the quantile factor 1.
// One-parameter problems give a bound met before the target, a target
// never reached and an estimate without curvature.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <vector>

#include "host/fields.h"
#include "numerics/distributions.h"
#include "optimizer/core/line_search.h"
#include "optimizer/optimizer.h"
#include "optimizer/core/pending.h"
#include "optimizer/reporting/confidence_limits.h"
#include "tests/optimizer/core/constraint_fixture.h"
#include "tests/optimizer/core/nlp_fixture.h"

namespace velix::test {
namespace {

constexpr double kY[] = {4.2, 5.1, 3.9, 6.3, 5.5, 4.8, 5.9, 4.4, 5.0, 6.1};
constexpr int kN = 10;
constexpr double kLevels[] = {0.5, 0.1, 0.05, 0.01};

double mean() {
    double s = 0.0;
    for (double y : kY) s += y;
    return s / kN;
}
double ss(double mu) {
    double s = 0.0;
    for (double y : kY) s += (y - mu) * (y - mu);
    return s;
}
double q_of(double alpha) {
    double q = 0.0;
    EXPECT_EQ(zqc(1.0 - alpha, 1.0, &q), 0);
    return q;
}
bool missing_value(const JsonValue& v) { return !v.is_number() || wzmis(v.number()); }

// A row the OUTEST= hook received.
struct HookRow {
    int32_t kind;
    NlpLimitRow limit;
    std::vector<double> data;
};

// A problem with its limit settings, the OUTEST= rows it hands over, and
// the options the option set-up completes for QUANEW.
struct LimitProblem : TestProblem {
    std::vector<HookRow> rows;
    std::vector<double> alphas, se;
    static int32_t hook(NlpProblem* p, int32_t kind, const double* data) {
        const int32_t width = kind == -13 ? 2 * p->shape.nParams : p->shape.nParams;
        static_cast<LimitProblem*>(TestProblem::of(p))
            ->rows.push_back(HookRow{kind, p->limitRow, std::vector<double>(data, data + width)});
        return 0;
    }
    LimitProblem(const std::vector<double>& x0, Objective f, Gradient g) : TestProblem(x0, std::move(f), std::move(g)) {
        for (double* v : {&p.opt.maxIter, &p.opt.maxFunc, &p.opt.absGConv, &p.opt.gConv, &p.opt.absXConv, &p.opt.xConv, &p.opt.fConv2, &p.opt.gConv2,
                          &p.opt.absFConv, &p.opt.fSize, &p.opt.xSize, &p.opt.restart, &p.opt.lsPrecision, &p.opt.inStep})
            *v = host_missing_value();
        znlp_default_options(&p);
        p.cb.updateFn = znlpbfg;
        p.cb.lineSearchFn = znlp_line_search(p.opt.lineSearch);
        p.hooks = &hooks;
        hooks.plSettings = &hooks.settings;
        hooks.post.outestHook = hook;
        ProfileSettings& ps = hooks.settings;
        ps.method = 3;
        ps.targetScaleKind = 2;
        ps.printLimits = ps.outestRows = ps.outestLimitRows = 1;
        ps.maxIter = ps.startScale = ps.devianceScale = host_missing_value();
        alphas.assign(std::begin(kLevels), std::end(kLevels));
        ps.alphas = alphas.data();
        ps.nAlpha = static_cast<int32_t>(alphas.size());
    }
    // Calls the driver at the estimate (f and gradient evaluated there).
    int32_t limits(HostObject* manager) {
        p.out.kyrObject = manager;
        p.cb.objectiveFn(&p);
        if (p.cb.gradientFn != nullptr) p.cb.gradientFn(&p);
        if (!se.empty()) p.work.stdErrors = se.data();
        return znlppli(&p);
    }
};

struct NormalSample : LimitProblem {
    NormalSample()
        : LimitProblem({mean(), ss(mean()) / kN},
                       [](const double* x) { return 0.5 * kN * std::log(x[1]) + ss(x[0]) / (2.0 * x[1]); },
                       [](const double* x, double* g) {
                           g[0] = -(kN * mean() - kN * x[0]) / x[1];
                           g[1] = 0.5 * kN / x[1] - ss(x[0]) / (2.0 * x[1] * x[1]);
                       }) {
        lower[1] = 1e-6;
        p.shape.hasBounds = 1;
        const double v = x[1];
        se = {std::sqrt(v / kN), v * std::sqrt(2.0 / kN)};
    }
    // The closed forms: mu +- sqrt(vhat (exp(q/n) - 1)); v by bisection.
    static double mu_limit(double alpha, int side) {
        const double v = ss(mean()) / kN, d = std::sqrt(v * (std::exp(q_of(alpha) / kN) - 1.0));
        return side == 0 ? mean() - d : mean() + d;
    }
    static double v_limit(double alpha, int side) {
        const double v = ss(mean()) / kN, q = q_of(alpha);
        auto rise = [&](double t) { return kN * std::log(t / v) + kN * (v / t - 1.0) - q; };
        double in = v, out = side == 0 ? v / 100.0 : v * 100.0;
        for (int i = 0; i < 200; ++i) {
            const double mid = 0.5 * (in + out);
            (rise(mid) < 0.0 ? in : out) = mid;
        }
        return 0.5 * (in + out);
    }
};

class ConfidenceLimits : public NlpStep {
protected:
    // Asserts the "WaldPLLimits" rows of one parameter against the limits
    // expected at kLevels (lower, upper), to `tol`.
    void expect_profile(int32_t number, double (*limit)(double, int), double tol) {
        const JsonValue t = item("WaldPLLimits");
        ASSERT_TRUE(t.is_object());
        size_t seen = 0;
        for (size_t r = 0; r < t["rows"].size(); ++r) {
            if (cell(t, r, "Number").number() != number) continue;
            const double alpha = cell(t, r, "Alpha").number();
            EXPECT_NEAR(cell(t, r, "LowerPLI").number(), limit(alpha, 0), tol) << "parameter " << number << " alpha " << alpha;
            EXPECT_NEAR(cell(t, r, "UpperPLI").number(), limit(alpha, 1), tol) << "parameter " << number << " alpha " << alpha;
            ++seen;
        }
        EXPECT_EQ(seen, 4u);
    }
    static const JsonValue& cell(const JsonValue& t, size_t row, const std::string& column) {
        for (size_t c = 0; c < t["columns"].size(); ++c)
            if (t["columns"][c]["name"].str() == column) return t["rows"][row][c];
        ADD_FAILURE() << "no column " << column;
        return t["none"];
    }
};

TEST_F(ConfidenceLimits, ProfileLimitsMatchTheClosedFormAndRootFinding) {
    NormalSample s;
    ASSERT_EQ(s.limits(manager_), 0);
    // The refinement stops within 1e-5 of the rise of its target.
    expect_profile(1, NormalSample::mu_limit, 1e-5);
    expect_profile(2, NormalSample::v_limit, 1e-5);
    // The variance's likelihood is skewed: its interval is not symmetric.
    EXPECT_GT(NormalSample::v_limit(0.05, 1) - s.x[1], 1.5 * (s.x[1] - NormalSample::v_limit(0.05, 0)));
    // Wald limits are est -+ Phi^-1(1 - alpha/2) se exactly, the lower
    // one raised to the variance's bound.
    const JsonValue t = item("WaldPLLimits");
    for (size_t r = 0; r < t["rows"].size(); ++r) {
        const int j = static_cast<int>(cell(t, r, "Number").number()) - 1;
        const double z = zprobit(1.0 - 0.5 * cell(t, r, "Alpha").number());
        EXPECT_NEAR(cell(t, r, "LowerWald").number(), std::fmax(s.x[j] - z * s.se[j], s.lower[j]), 1e-12);
        EXPECT_NEAR(cell(t, r, "UpperWald").number(), s.x[j] + z * s.se[j], 1e-12);
    }
    // The problem is the same on return: point, bounds, objective.
    EXPECT_EQ(s.x[0], mean());
    EXPECT_EQ(s.lower[1], 1e-6);
    EXPECT_EQ(s.upper[0], DBL_MAX);
    EXPECT_DOUBLE_EQ(s.p.iter.f, 0.5 * kN * std::log(s.x[1]) + 0.5 * kN);
}

TEST_F(ConfidenceLimits, AugmentedSystemGivesTheSameLimits) {
    // Planned points a twentieth of the Wald reach: no level is crossed by
    // the trace, every limit comes from the augmented system.
    NormalSample s;
    s.hooks.settings.startScale = 0.05;
    ASSERT_EQ(s.limits(manager_), 0);
    expect_profile(1, NormalSample::mu_limit, 1e-5);
    expect_profile(2, NormalSample::v_limit, 1e-5);
}

// 2 f = t^2 + (y - t)^2 + (z - t)^2 under y <= 0.5 and y + z <= 1.2: with
// t fixed the others follow t until y meets its bound (t = 0.5), then z
// until the row is met (t = 0.7), so that t's upper limits hold no, one
// and two active constraints; its lower limits are -sqrt(q).
struct HeldProfile : LimitProblem, ActiveSetArrays {
    std::vector<double> row{0.0, -1.0, -1.0}, rhs{-1.2};
    HeldProfile()
        : LimitProblem({0.0, 0.0, 0.0},
                       [](const double* x) {
                           return 0.5 * (x[0] * x[0] + (x[1] - x[0]) * (x[1] - x[0]) + (x[2] - x[0]) * (x[2] - x[0]));
                       },
                       [](const double* x, double* g) {
                           g[0] = 3.0 * x[0] - x[1] - x[2];
                           g[1] = x[1] - x[0];
                           g[2] = x[2] - x[0];
                       }),
          ActiveSetArrays(&p) {
        active.assign(6, 0);
        work.assign(9, 0);
        p.active.activeList = active.data();
        p.active.workList = work.data();
        p.opt.derivLevel = 1;
        p.opt.conFactorForm = 1;
        upper[1] = 0.5;
        p.shape.hasBounds = p.shape.hasLinCon = 1;
        p.shape.nLinCon = 1;
        p.con.linRows = row.data();
        p.con.linRhs = rhs.data();
        p.opt.technique = kTechNrlins;
        p.cb.hessianFn = znlpfh3;
        se = {1.0, 1.0, 1.0};
    }
    // The root of the deviance's piece that holds it.
    static double limit(double alpha, int side) {
        const double q = q_of(alpha);
        if (side == 0) return -std::sqrt(q);
        if (q <= 0.25) return std::sqrt(q);
        const double t = 0.25 + 0.5 * std::sqrt(2.0 * q - 0.25);  // t^2 + (t - 0.5)^2 = q
        if (t <= 0.7) return t;
        // t^2 + (t - 0.5)^2 + (t - 0.7)^2 = q: 3 t^2 - 2.4 t + 0.74 - q = 0.
        return (2.4 + std::sqrt(2.4 * 2.4 - 12.0 * (0.74 - q))) / 6.0;
    }
    // The limits of t alone with FEASRATIO= `scale`.
    int32_t run(HostObject* manager, double scale) {
        hooks.settings.startScale = scale;
        hooks.settings.nSelected = 1;
        hooks.settings.selected = &first;
        return limits(manager);
    }
    int32_t first = 0;
};

TEST_F(ConfidenceLimits, ConstraintsActiveAtTheLimitAreHeldByTheTrace) {
    ASSERT_GT(HeldProfile::limit(0.5, 1), 0.5);  // the levels meet each piece
    ASSERT_LT(HeldProfile::limit(0.5, 1), 0.7);
    ASSERT_GT(HeldProfile::limit(0.05, 1), 0.7);
    HeldProfile s;
    ASSERT_EQ(s.run(manager_, host_missing_value()), 0);
    expect_profile(1, HeldProfile::limit, 1e-6);
}

TEST_F(ConfidenceLimits, ConstraintsActiveAtTheLimitAreHeldByTheAugmentedSystem) {
    // The trace stays near the estimate, where nothing is active: the
    // augmented system meets the bound and the row on its way out.
    HeldProfile s;
    ASSERT_EQ(s.run(manager_, 0.05), 0);
    expect_profile(1, HeldProfile::limit, 1e-6);
}

TEST_F(ConfidenceLimits, OutestRowsCarryTheTablesLimitsAndTheTrace) {
    NormalSample s;
    ASSERT_EQ(s.limits(manager_), 0);
    size_t wald = 0, profile = 0, found = 0, points = 0;
    for (const HookRow& r : s.rows) {
        if (r.kind == -11) {
            // A limit point: the profiled parameter at its limit, side 0 lower.
            const double expect = r.limit.param == 0 ? NormalSample::mu_limit(r.limit.alpha, r.limit.side)
                                                     : NormalSample::v_limit(r.limit.alpha, r.limit.side);
            EXPECT_NEAR(r.data[static_cast<size_t>(r.limit.param)], expect, 1e-5);
            EXPECT_NEAR(r.limit.target, 2.0 * s.p.iter.f + q_of(r.limit.alpha), 1e-9);
            ++found;
        } else if (r.kind == -12) {
            const int side = r.limit.side;
            ASSERT_TRUE(side >= 1 && side <= 4);
            for (int j = 0; j < 2; ++j) {
                const double z = zprobit(1.0 - 0.5 * r.limit.alpha);
                const double expect = side == 1   ? std::fmax(s.x[j] - z * s.se[j], s.lower[j])
                                      : side == 2 ? s.x[j] + z * s.se[j]
                                      : j == 0    ? NormalSample::mu_limit(r.limit.alpha, side - 3)
                                                  : NormalSample::v_limit(r.limit.alpha, side - 3);
                EXPECT_NEAR(r.data[j], expect, 1e-5) << "side " << side;
            }
            (side <= 2 ? wald : profile) += 1;
        } else if (r.kind == -13) {
            if (r.limit.side == -1) {
                // The estimates, and the optimum on the deviance scale.
                EXPECT_EQ(points, 0u);
                EXPECT_EQ(r.data[0], s.x[0]);
                EXPECT_DOUBLE_EQ(r.data[2], 2.0 * s.p.iter.f);
            } else {
                // A trace point: its objective sits in one entry only.
                EXPECT_EQ(r.limit.side, static_cast<int32_t>(points));
                EXPECT_NE(wzmis(r.data[2]), wzmis(r.data[3]));
                const int j = wzmis(r.data[2]) ? 1 : 0;
                double x[2] = {r.data[0], r.data[1]};
                EXPECT_NEAR(r.data[2 + static_cast<size_t>(j)], 2.0 * s.f(x), 1e-9);
            }
            ++points;
        }
    }
    EXPECT_EQ(found, 16u);  // 2 parameters x 2 sides x 4 levels
    EXPECT_EQ(wald, 8u);
    EXPECT_EQ(profile, 8u);
    EXPECT_GT(points, 4u);
}

// One parameter with f(theta) = a (1 - exp(-theta^2)): the deviance 2 f
// rises to 2a at most.
struct Plateau : LimitProblem {
    explicit Plateau(double a)
        : LimitProblem({0.0}, [a](const double* x) { return a * (1.0 - std::exp(-x[0] * x[0])); },
                       [a](const double* x, double* g) { g[0] = 2.0 * a * x[0] * std::exp(-x[0] * x[0]); }) {
        se = {1.0 / std::sqrt(2.0 * a)};
    }
};

TEST_F(ConfidenceLimits, ABoundMetFirstIsTheLimitAndClampsTheWaldLimit) {
    Plateau s(50.0);
    s.lower[0] = -0.2;
    s.p.shape.hasBounds = 1;
    ASSERT_EQ(s.limits(manager_), 0);
    const JsonValue t = item("WaldPLLimits");
    for (size_t r = 0; r < t["rows"].size(); ++r) {
        const double alpha = cell(t, r, "Alpha").number(), q = q_of(alpha);
        const double exact = std::sqrt(-std::log(1.0 - q / 100.0));
        // Below the bound the profile has not reached its target: the bound.
        EXPECT_NEAR(cell(t, r, "LowerPLI").number(), exact < 0.2 ? -exact : -0.2, 1e-6) << alpha;
        EXPECT_NEAR(cell(t, r, "UpperPLI").number(), exact, 1e-6) << alpha;
        EXPECT_GE(cell(t, r, "LowerWald").number(), -0.2) << alpha;
    }
}

TEST_F(ConfidenceLimits, ALevelNeverReachedStaysMissingInTableAndRows) {
    // 2a = 5: the targets of 0.05 (3.84) are reached, those of 0.01 (6.63)
    // not.  Without standard errors the Wald limits take the curvature of
    // the deviance, 2 f'' = 4a: se = 1/sqrt(2a).
    Plateau s(2.5);
    s.se.clear();
    ASSERT_EQ(s.limits(manager_), 0);
    const JsonValue t = item("WaldPLLimits");
    ASSERT_EQ(t["rows"].size(), 4u);
    for (size_t r = 0; r < 4; ++r) {
        const double alpha = cell(t, r, "Alpha").number(), q = q_of(alpha);
        EXPECT_NEAR(cell(t, r, "UpperWald").number(), zprobit(1.0 - 0.5 * alpha) / std::sqrt(5.0), 1e-6) << alpha;
        if (q < 5.0) {
            EXPECT_NEAR(cell(t, r, "UpperPLI").number(), std::sqrt(-std::log(1.0 - q / 5.0)), 1e-6) << alpha;
        } else {
            EXPECT_TRUE(missing_value(cell(t, r, "LowerPLI"))) << alpha;
            EXPECT_TRUE(missing_value(cell(t, r, "UpperPLI"))) << alpha;
        }
    }
    for (const HookRow& r : s.rows)
        if (r.kind == -12 && r.limit.side >= 3) {
            EXPECT_EQ(wzmis(r.data[0]) != 0, r.limit.alpha == 0.01);
        }
}

TEST_F(ConfidenceLimits, WithoutCurvatureTheWaldLimitsAreMissingAndTheProfileIsSearched) {
    // f = theta^4: no curvature at the estimate, so no standard error; the
    // profile limits solve 2 theta^4 = q.
    LimitProblem s({0.0}, [](const double* x) { return std::pow(x[0], 4); },
                   [](const double* x, double* g) { g[0] = 4.0 * std::pow(x[0], 3); });
    ASSERT_EQ(s.limits(manager_), 0);
    const JsonValue t = item("WaldPLLimits");
    ASSERT_EQ(t["rows"].size(), 4u);
    for (size_t c = 0; c < t["columns"].size(); ++c) EXPECT_NE(t["columns"][c]["name"].str(), "LowerWald");
    for (size_t r = 0; r < 4; ++r) {
        const double alpha = cell(t, r, "Alpha").number();
        EXPECT_NEAR(cell(t, r, "UpperPLI").number(), std::pow(q_of(alpha) / 2.0, 0.25), 1e-5) << alpha;
        EXPECT_NEAR(cell(t, r, "LowerPLI").number(), -std::pow(q_of(alpha) / 2.0, 0.25), 1e-5) << alpha;
    }
    for (const HookRow& r : s.rows)
        if (r.kind == -12 && r.limit.side <= 2) {
            EXPECT_TRUE(wzmis(r.data[0]));
        }
}

TEST_F(ConfidenceLimits, WaldOnlyGivesTheWaldTableAtTheRequestedLevels) {
    NormalSample s;
    s.hooks.settings.useDefaults = kProfileWaldOnly;
    s.alphas = {0.2, 0.05};
    s.hooks.settings.alphas = s.alphas.data();
    s.hooks.settings.nAlpha = 2;
    ASSERT_EQ(s.limits(manager_), 0);
    EXPECT_FALSE(item("WaldPLLimits").is_object());
    const JsonValue t = item("WaldLimits");
    ASSERT_EQ(t["rows"].size(), 4u);
    EXPECT_EQ(cell(t, 1, "Alpha").number(), 0.05);
    for (const HookRow& r : s.rows) EXPECT_EQ(r.kind, -12);
    EXPECT_EQ(s.rows.size(), 4u);  // 2 levels x 2 sides
}

TEST_F(ConfidenceLimits, TheDefaultSetProfilesEveryParameterAtFourLevels) {
    NormalSample s;
    s.hooks.settings.useDefaults = kProfileDefaultSet;
    s.hooks.settings.nAlpha = 0;
    s.hooks.settings.nSelected = 0;
    ASSERT_EQ(s.limits(manager_), 0);
    expect_profile(1, NormalSample::mu_limit, 1e-5);
    expect_profile(2, NormalSample::v_limit, 1e-5);
    const JsonValue t = item("WaldPLLimits");
    ASSERT_EQ(t["rows"].size(), 8u);
    for (size_t r = 0; r < 4; ++r) EXPECT_EQ(cell(t, r, "Alpha").number(), kLevels[r]);
    // The default set shows no Wald columns.
    for (size_t c = 0; c < t["columns"].size(); ++c) EXPECT_NE(t["columns"][c]["name"].str(), "LowerWald");
}

TEST(LevelGrid, RequestedLevelsAreMarkedOrInsertedAndCloseGridLevelsDropped) {
    const double requested[] = {0.05, 0.03, 0.5};
    const std::vector<velix::limits::LevelSlot> l = velix::limits::merge_levels(requested, 3);
    std::vector<double> alphas, wanted;
    for (const auto& s : l) {
        alphas.push_back(s.alpha);
        if (s.wanted) wanted.push_back(s.alpha);
    }
    EXPECT_TRUE(std::is_sorted(alphas.rbegin(), alphas.rend()));
    EXPECT_EQ(wanted, (std::vector<double>{0.5, 0.05, 0.03}));
    EXPECT_EQ(std::count(alphas.begin(), alphas.end(), 0.05), 1);
    // Above 0.2 an unmarked level within 0.05 of a neighbour goes.
    for (size_t i = 1; i + 1 < l.size(); ++i)
        if (!l[i].wanted && l[i].alpha > 0.2) {
            EXPECT_TRUE(l[i - 1].alpha - l[i].alpha >= 0.05 && l[i].alpha - l[i + 1].alpha >= 0.05) << l[i].alpha;
        }
    EXPECT_EQ(alphas.front(), 0.75);
    EXPECT_EQ(alphas.back(), 0.01);
}

}  // namespace
}  // namespace velix::test
