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
    for (int32_t i = 0; i < p->shape.nParams; ++i) f += 0.5 * (i + 1) * (p->param.x[i] - 1.0) * (p->param.x[i] - 1.0);
    p->iter.f = f;
    p->run.nFun += 1;
    return 0;
}

int32_t gradient(NlpProblem* p) {
    for (int32_t i = 0; i < p->shape.nParams; ++i) p->work.gradient[i] = (i + 1) * (p->param.x[i] - 1.0);
    p->run.nGrad += 1;
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
        p.cb.objectiveFn = objective;
        p.cb.gradientFn = gradient;
        p.cb.terminationFn = znlptrm;
        p.cb.updateFn = znlpbfg;
        p.cb.lineSearchFn = znlpls2;
        p.opt.technique = kTechQuanew;
        p.opt.maxIter = 5000;
        p.opt.maxFunc = 50000;
        p.opt.maxTime = DBL_MAX;
        p.opt.absConv = -1e154;
        p.opt.fConv = 1e-15;
        p.opt.absGConv = 1e-6;
        p.opt.gConv = 1e-12;
        p.opt.stepCap = 1.0;
        p.opt.earlyStepCap = DBL_MAX;
        p.opt.stepLimit = 1e20;
        p.opt.lsPrecision = 0.4;
        p.opt.inStep = p.opt.perturbSize = p.opt.inHessian = host_missing_value();
        znlpdrv(&p, 1, 0, 0, 0);
        znlpdrv(&p, 2, 0, 0, 0);
        iterations += p.run.iteration;
        calls += p.run.nFun;
        quiet.clear();
    }
    state.counters["iterations"] = benchmark::Counter(iterations, benchmark::Counter::kAvgIterations);
    state.counters["calls_per_iteration"] = calls / iterations;
    state.counters["time_per_iteration"] =
        benchmark::Counter(iterations, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(CoreOverheadPerIteration)->Arg(10)->Arg(100)->Arg(300)->Unit(benchmark::kMillisecond);

}  // namespace
