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
    for (int32_t i = 0; i + 1 < p->nParams; i += 2) {
        const double a = 10.0 * (p->x[i + 1] - p->x[i] * p->x[i]), b = 1.0 - p->x[i];
        f += a * a + b * b;
    }
    p->f = f;
    p->nFun += 1;
    return 0;
}

int32_t gradient(NlpProblem* p) {
    for (int32_t i = 0; i + 1 < p->nParams; i += 2) {
        const double a = p->x[i + 1] - p->x[i] * p->x[i];
        p->gradient[i] = -400.0 * a * p->x[i] - 2.0 * (1.0 - p->x[i]);
        p->gradient[i + 1] = 200.0 * a;
    }
    p->nGrad += 1;
    return 0;
}

// 2 J'J of the residuals (10 (x_{2i+1} - x_{2i}^2), 1 - x_{2i}): 2x2 blocks.
int32_t cross_product(NlpProblem* p) {
    for (int32_t k = 0; k < p->packedLen; ++k) p->hessian[k] = 0.0;
    for (int32_t i = 0; i + 1 < p->nParams; i += 2) {
        const double d = -20.0 * p->x[i];
        p->hessian[velix::pk_lower(i, i)] = 2.0 * (d * d + 1.0);
        p->hessian[velix::pk_lower(i + 1, i)] = 2.0 * d * 10.0;
        p->hessian[velix::pk_lower(i + 1, i + 1)] = 200.0;
    }
    return 0;
}

// The exact Hessian: 2x2 blocks.
int32_t hessian(NlpProblem* p) {
    for (int32_t k = 0; k < p->packedLen; ++k) p->hessian[k] = 0.0;
    for (int32_t i = 0; i + 1 < p->nParams; i += 2) {
        const double u = p->x[i], v = p->x[i + 1];
        p->hessian[velix::pk_lower(i, i)] = 1200.0 * u * u - 400.0 * v + 2.0;
        p->hessian[velix::pk_lower(i + 1, i)] = -400.0 * u;
        p->hessian[velix::pk_lower(i + 1, i + 1)] = 200.0;
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
        p.checkWork = work.check.data();
        p.hessian = work.hessian.data();
        p.objectiveFn = objective;
        p.gradientFn = gradient;
        p.hessianFn = leastSquares ? cross_product : hessian;
        p.terminationFn = znlptrm;
        p.technique = technique;
        // What the option set-up leaves to the technique's defaults.
        const double missing = host_missing_value();
        for (double* o : {&p.maxIter, &p.maxFunc, &p.maxTime, &p.absConv, &p.absFConv, &p.absGConv, &p.absXConv,
                          &p.fConv, &p.fConv2, &p.gConv, &p.gConv2, &p.xConv, &p.fSize, &p.xSize, &p.fDigits,
                          &p.cDigits, &p.feasTol, &p.linDepTol, &p.singularTol, &p.restart, &p.nlcIterLimit,
                          &p.stepLimit, &p.stepCap, &p.earlyStepCap, &p.inStep, &p.lsPrecision, &p.perturbSize,
                          &p.inHessian})
            *o = missing;
        znlp_default_options(&p);
        p.updateFn = znlpbfg;
        p.lineSearchFn = znlp_line_search(p.lineSearch);
        znlpdrv(&p, 1, 0, 0, 0);
        znlpdrv(&p, 2, 0, 0, 0);
        iterations += p.iteration;
        calls += p.nFun;
        f = p.f;
        status = p.lastStatus;
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
