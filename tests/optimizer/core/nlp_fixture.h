// Plain C++ test problems for the optimizer core: a problem block with its
// vectors, the objective and gradient as C++ functions behind the block's
// plain callback slots, options as the option set-up completes them, and a
// platform step with a KYR manager, so that tables reach the JSON document.
#pragma once

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <functional>
#include <vector>

#include "host/object_dispatch.h"
#include "host/output_table.h"
#include "optimizer/core/core.h"
#include "optimizer/core/tables.h"
#include "tests/optimizer/core/stand_in_technique.h"
#include "tests/support/session_fixture.h"
#include "velix/host.h"
#include "velix/nlp.h"

namespace velix::test {

using Objective = std::function<double(const double* x)>;
using Gradient = std::function<void(const double* x, double* g)>;

// A problem block and everything it points to.  The block's user pointer
// carries the address of its TestProblem (cast back by the callbacks).
struct TestProblem {
    NlpProblem p;
    NlpHookBlock hooks;
    Objective f;
    Gradient g;  // empty: no gradient callback
    int failObjectiveAt = -1;  // the nFun (1-based) at which the objective fails
    std::vector<double> x, xBase, grad, gradBase, dir, workN, workN2, check, lower, upper, hessian;
    std::vector<int32_t> critCounts = std::vector<int32_t>(20, 0);

    static TestProblem* of(NlpProblem* p) { return static_cast<TestProblem*>(p->user); }

    static int32_t objective(NlpProblem* p) {
        TestProblem* t = of(p);
        p->run.nFun += 1;
        if (p->run.nFun == t->failObjectiveAt) return 1;
        p->iter.f = t->f(p->param.x);
        return std::isfinite(p->iter.f) ? 0 : 1;
    }
    static int32_t gradient(NlpProblem* p) {
        p->run.nGrad += 1;
        of(p)->g(p->param.x, p->work.gradient);
        return 0;
    }

    // n parameters from x0; options as the option set-up completes them
    // for a quasi-Newton technique.
    TestProblem(const std::vector<double>& x0, Objective fn, Gradient gr = {})
        : f(std::move(fn)), g(std::move(gr)) {
        const size_t n = x0.size();
        x = x0;
        for (auto* v : {&xBase, &grad, &gradBase, &dir, &workN, &workN2}) v->assign(n, 0.0);
        check.assign(2 * n + 8, 0.0);
        lower.assign(n, -DBL_MAX);
        upper.assign(n, DBL_MAX);
        hessian.assign(n * (n + 1) / 2, 0.0);
        p.shape.nParams = static_cast<int32_t>(n);
        p.shape.packedLen = static_cast<int32_t>(n * (n + 1) / 2);
        p.param.x = x.data();
        p.work.xBase = xBase.data();
        p.work.gradient = grad.data();
        p.work.gradBase = gradBase.data();
        p.work.direction = dir.data();
        p.work.workN = workN.data();
        p.work.workN2 = workN2.data();
        p.fd.checkWork = check.data();
        p.param.lower = lower.data();
        p.param.upper = upper.data();
        p.hess.hessian = hessian.data();
        p.opt.critCounts = critCounts.data();
        p.user = this;
        p.cb.objectiveFn = objective;
        if (g) p.cb.gradientFn = gradient;
        p.cb.terminationFn = znlptrm;
        p.opt.technique = kTechQuanew;
        p.opt.printLevel = 0.0;
        p.opt.feasTol = 1e-8;
        p.opt.linDepTol = 1e-8;
        p.opt.singularTol = 1e-8;
        p.opt.maxIter = 500;
        p.opt.maxFunc = 1000;
        p.opt.maxTime = DBL_MAX;
        p.opt.absConv = -1.3407807929943e+154;
        p.opt.fDigits = -std::log10(2 * DBL_EPSILON);
        p.opt.fConv = std::pow(10.0, -p.opt.fDigits);
        p.opt.absGConv = 1e-5;
        p.opt.gConv = 1e-8;
        p.opt.stepCap = 1.0;
        p.opt.earlyStepCap = DBL_MAX;
        p.opt.stepLimit = 1e20;
        p.opt.inStep = host_missing_value();
        p.opt.lsPrecision = 0.4;
        p.opt.perturbSize = host_missing_value();
        p.opt.inHessian = host_missing_value();
        p.opt.fdSwitchFactor = 0.0;
    }
    TestProblem(const TestProblem&) = delete;
};

// A platform step with the library's KYR manager in place.
class NlpStep : public PlatformStep {
protected:
    void SetUp() override {
        PlatformStep::SetUp();
        HostObject* anchor = nullptr;
        ASSERT_EQ(xobinit(&anchor, 0), 0);
        KyrArg a[] = {kyr_counted(143, "kyr", 3), kyr_counted(146, "manager", 7), kyr_object(144, nullptr),
                      kyr_int(383, 549)};
        ASSERT_EQ(wobmth(anchor, nullptr, kKyrMethodCreate, 4, a), 0);
        manager_ = a[2].object;
    }
    // Every message the library logs has its text.
    void TearDown() override {
        EXPECT_EQ(log().find("is missing from the message file"), std::string::npos) << log();
        PlatformStep::TearDown();
    }
    // The output item named `name` of the step, null when absent.
    JsonValue item(const std::string& name) const {
        const JsonValue out = document()["steps"][0]["output"];
        for (size_t i = 0; i < out.size(); ++i)
            if (out[i]["name"].is_string() && out[i]["name"].str() == name) return out[i];
        return JsonValue();
    }
    HostObject* manager_ = nullptr;
};

// Standard test functions (More, Garbow and Hillstrom, "Testing
// unconstrained optimization software", ACM TOMS 7, 1981).
double rosenbrock(const double* x);
void rosenbrock_gradient(const double* x, double* g);
double powell_singular(const double* x);
void powell_singular_gradient(const double* x, double* g);
double helical_valley(const double* x);
void helical_valley_gradient(const double* x, double* g);
double wood(const double* x);
void wood_gradient(const double* x, double* g);
// x^2 + (y^2 - 1)^2: minima at (0, +-1), a saddle at (0, 0) (curvature -4
// along y) above them.
double saddle(const double* x);
void saddle_gradient(const double* x, double* g);

}  // namespace velix::test

