// The optimizer core's own work per iteration (quasi-Newton update, line
// search, termination test) on the convex quadratic
// f = sum_i (i + 1) (x_i - 1)^2 / 2 at n = 10, 100 and 300, run through the
// driver with the stand-in quasi-Newton technique of the core's tests.  The
// evaluation costs O(n), far below the core's O(n^2) update, so the time per
// iteration is the core's overhead; the counters give the iterations and the
// function calls per iteration.
#include <benchmark/benchmark.h>

#include <cfloat>
#include <cmath>
#include <sstream>
#include <vector>

#include "bench/nlp_bench_support.h"
#include "optimizer/core/core.h"
#include "optimizer/core/line_search.h"
#include "tests/optimizer/core/stand_in_technique.h"
#include "velix/host.h"

namespace {

int32_t objective(NlpProblem* p) {
    double f = 0.0;
    for (int32_t i = 0; i < p->nParams; ++i) f += 0.5 * (i + 1) * (p->x[i] - 1.0) * (p->x[i] - 1.0);
    p->f = f;
    p->nFun += 1;
    return 0;
}

int32_t gradient(NlpProblem* p) {
    for (int32_t i = 0; i < p->nParams; ++i) p->gradient[i] = (i + 1) * (p->x[i] - 1.0);
    p->nGrad += 1;
    return 0;
}

void CoreOverheadPerIteration(benchmark::State& state) {
    const int32_t n = static_cast<int32_t>(state.range(0));
    const size_t un = static_cast<size_t>(n);
    velix::bench::NlpWork work(un);
    for (int k = 2; k <= 9; ++k) work.counts[k - 1] = 1;
    double iterations = 0, calls = 0;
    *znlp_dispatch_slot("znlpqun") = velix::test::stand_in_technique;
    velix::bench::QuietLog quiet;
    for (auto _ : state) {
        NlpProblem p;
        std::fill(work.x.begin(), work.x.end(), 0.0);
        work.attach(&p);
        p.objectiveFn = objective;
        p.gradientFn = gradient;
        p.terminationFn = znlptrm;
        p.updateFn = znlpbfg;
        p.lineSearchFn = znlpls2;
        p.technique = kTechQuanew;
        p.maxIter = 5000;
        p.maxFunc = 50000;
        p.maxTime = DBL_MAX;
        p.absConv = -1e154;
        p.fConv = 1e-15;
        p.absGConv = 1e-6;
        p.gConv = 1e-12;
        p.stepCap = 1.0;
        p.earlyStepCap = DBL_MAX;
        p.stepLimit = 1e20;
        p.lsPrecision = 0.4;
        p.inStep = p.perturbSize = p.inHessian = host_missing_value();
        znlpdrv(&p, 1, 0, 0, 0);
        znlpdrv(&p, 2, 0, 0, 0);
        iterations += p.iteration;
        calls += p.nFun;
        quiet.clear();
    }
    state.counters["iterations"] = benchmark::Counter(iterations, benchmark::Counter::kAvgIterations);
    state.counters["calls_per_iteration"] = calls / iterations;
    state.counters["time_per_iteration"] =
        benchmark::Counter(iterations, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(CoreOverheadPerIteration)->Arg(10)->Arg(100)->Arg(300)->Unit(benchmark::kMillisecond);

}  // namespace
