// Every technique of the dispatch table on the extended Rosenbrock
// function of 120 parameters (More, Garbow and Hillstrom, ACM TOMS 7,
// 1981, problem 21: sum over pairs of 100 (x_{2i+1} - x_{2i}^2)^2 +
// (1 - x_{2i})^2, from (-1.2, 1, -1.2, 1, ...)), run through the driver
// with the default options of the technique: iterations, function calls,
// the final objective, the status and the time of a run.  The Newton-type techniques
// get the exact Hessian, the least-squares ones the cross product 2 J'J
// (both 2x2 blocks); the simplex stops at its call limit.  It stands in for the 120-variable model until
// model evaluation can run one.
#include <benchmark/benchmark.h>

#include <cfloat>
#include <cmath>
#include <sstream>
#include <vector>

#include "bench/nlp_bench_support.h"
#include "optimizer/core/core.h"
#include "optimizer/core/line_search.h"
#include "optimizer/optimizer.h"
#include "velix/host.h"
#include "velix/packed_index.h"

namespace {

constexpr int32_t kParams = 120;

int32_t objective(NlpProblem* p) {
    double f = 0.0;
    for (int32_t i = 0; i + 1 < p->shape.nParams; i += 2) {
        const double a = 10.0 * (p->param.x[i + 1] - p->param.x[i] * p->param.x[i]), b = 1.0 - p->param.x[i];
        f += a * a + b * b;
    }
    p->iter.f = f;
    p->run.nFun += 1;
    return 0;
}

int32_t gradient(NlpProblem* p) {
    for (int32_t i = 0; i + 1 < p->shape.nParams; i += 2) {
        const double a = p->param.x[i + 1] - p->param.x[i] * p->param.x[i];
        p->work.gradient[i] = -400.0 * a * p->param.x[i] - 2.0 * (1.0 - p->param.x[i]);
        p->work.gradient[i + 1] = 200.0 * a;
    }
    p->run.nGrad += 1;
    return 0;
}

// 2 J'J of the residuals (10 (x_{2i+1} - x_{2i}^2), 1 - x_{2i}): 2x2 blocks.
int32_t cross_product(NlpProblem* p) {
    for (int32_t k = 0; k < p->shape.packedLen; ++k) p->hess.hessian[k] = 0.0;
    for (int32_t i = 0; i + 1 < p->shape.nParams; i += 2) {
        const double d = -20.0 * p->param.x[i];
        p->hess.hessian[velix::pk_lower(i, i)] = 2.0 * (d * d + 1.0);
        p->hess.hessian[velix::pk_lower(i + 1, i)] = 2.0 * d * 10.0;
        p->hess.hessian[velix::pk_lower(i + 1, i + 1)] = 200.0;
    }
    return 0;
}

// The exact Hessian: 2x2 blocks.
int32_t hessian(NlpProblem* p) {
    for (int32_t k = 0; k < p->shape.packedLen; ++k) p->hess.hessian[k] = 0.0;
    for (int32_t i = 0; i + 1 < p->shape.nParams; i += 2) {
        const double u = p->param.x[i], v = p->param.x[i + 1];
        p->hess.hessian[velix::pk_lower(i, i)] = 1200.0 * u * u - 400.0 * v + 2.0;
        p->hess.hessian[velix::pk_lower(i + 1, i)] = -400.0 * u;
        p->hess.hessian[velix::pk_lower(i + 1, i + 1)] = 200.0;
    }
    return 0;
}

void Technique(benchmark::State& state) {
    const int32_t technique = static_cast<int32_t>(state.range(0));
    const bool leastSquares = technique == kTechGaunew || technique == kTechLevmar || technique == kTechHyquan;
    velix::bench::NlpWork work(kParams);
    double iterations = 0, calls = 0, f = 0, status = 0;
    velix::bench::QuietLog quiet;
    for (auto _ : state) {
        NlpProblem p;
        for (size_t i = 0; i < work.x.size(); ++i) work.x[i] = i % 2 == 0 ? -1.2 : 1.0;
        work.attach(&p);
        p.fd.checkWork = work.check.data();
        p.hess.hessian = work.hessian.data();
        p.cb.objectiveFn = objective;
        p.cb.gradientFn = gradient;
        p.cb.hessianFn = leastSquares ? cross_product : hessian;
        p.cb.terminationFn = znlptrm;
        p.opt.technique = technique;
        // What the option set-up leaves to the technique's defaults.
        const double missing = host_missing_value();
        for (double* o : {&p.opt.maxIter, &p.opt.maxFunc, &p.opt.maxTime, &p.opt.absConv, &p.opt.absFConv, &p.opt.absGConv, &p.opt.absXConv,
                          &p.opt.fConv, &p.opt.fConv2, &p.opt.gConv, &p.opt.gConv2, &p.opt.xConv, &p.opt.fSize, &p.opt.xSize, &p.opt.fDigits,
                          &p.opt.cDigits, &p.opt.feasTol, &p.opt.linDepTol, &p.opt.singularTol, &p.opt.restart, &p.opt.nlcIterLimit,
                          &p.opt.stepLimit, &p.opt.stepCap, &p.opt.earlyStepCap, &p.opt.inStep, &p.opt.lsPrecision, &p.opt.perturbSize,
                          &p.opt.inHessian, &p.opt.hesCal})
            *o = missing;
        znlp_default_options(&p);
        p.cb.updateFn = znlpbfg;
        p.cb.lineSearchFn = znlp_line_search(p.opt.lineSearch);
        znlpdrv(&p, 1, 0, 0, 0);
        znlpdrv(&p, 2, 0, 0, 0);
        iterations += p.run.iteration;
        calls += p.run.nFun;
        f = p.iter.f;
        status = p.run.lastStatus;
        quiet.clear();
    }
    state.counters["iterations"] = benchmark::Counter(iterations, benchmark::Counter::kAvgIterations);
    state.counters["calls"] = benchmark::Counter(calls, benchmark::Counter::kAvgIterations);
    state.counters["f"] = f;
    state.counters["status"] = status;
}

BENCHMARK(Technique)
    ->ArgName("technique")
    ->DenseRange(kTechTrureg, kTechNrlins)
    ->DenseRange(kTechGaunew, kTechNmsim2)
    ->Arg(kTechVmcwd)
    ->Unit(benchmark::kMillisecond);

}  // namespace
