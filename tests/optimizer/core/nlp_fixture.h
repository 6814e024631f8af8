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

// A problem block and everything it points to.  The block's procContext
// carries the address of its TestProblem (cast back by the callbacks).
struct TestProblem {
    NlpProblem p;
    NlpHookBlock hooks;
    Objective f;
    Gradient g;  // empty: no gradient callback
    int failObjectiveAt = -1;  // the nFun (1-based) at which the objective fails
    std::vector<double> x, xBase, grad, gradBase, dir, workN, workN2, check, lower, upper, hessian;
    std::vector<int32_t> critCounts = std::vector<int32_t>(20, 0);

    static TestProblem* of(NlpProblem* p) { return reinterpret_cast<TestProblem*>(p->procContext); }

    static int32_t objective(NlpProblem* p) {
        TestProblem* t = of(p);
        p->nFun += 1;
        if (p->nFun == t->failObjectiveAt) return 1;
        p->f = t->f(p->x);
        return std::isfinite(p->f) ? 0 : 1;
    }
    static int32_t gradient(NlpProblem* p) {
        p->nGrad += 1;
        of(p)->g(p->x, p->gradient);
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
        p.nParams = static_cast<int32_t>(n);
        p.packedLen = static_cast<int32_t>(n * (n + 1) / 2);
        p.x = x.data();
        p.xBase = xBase.data();
        p.gradient = grad.data();
        p.gradBase = gradBase.data();
        p.direction = dir.data();
        p.workN = workN.data();
        p.workN2 = workN2.data();
        p.checkWork = check.data();
        p.lower = lower.data();
        p.upper = upper.data();
        p.hessian = hessian.data();
        p.critCounts = critCounts.data();
        p.procContext = reinterpret_cast<ProcContext*>(this);
        p.objectiveFn = objective;
        if (g) p.gradientFn = gradient;
        p.terminationFn = znlptrm;
        p.technique = kTechQuanew;
        p.printLevel = 0.0;
        p.feasTol = 1e-8;
        p.linDepTol = 1e-8;
        p.singularTol = 1e-8;
        p.maxIter = 500;
        p.maxFunc = 1000;
        p.maxTime = DBL_MAX;
        p.absConv = -1.3407807929943e+154;
        p.fDigits = -std::log10(2 * DBL_EPSILON);
        p.fConv = std::pow(10.0, -p.fDigits);
        p.absGConv = 1e-5;
        p.gConv = 1e-8;
        p.stepCap = 1.0;
        p.earlyStepCap = DBL_MAX;
        p.stepLimit = 1e20;
        p.inStep = host_missing_value();
        p.lsPrecision = 0.4;
        p.perturbSize = host_missing_value();
        p.inHessian = host_missing_value();
        p.fdSwitchFactor = 0.0;
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

}  // namespace velix::test

