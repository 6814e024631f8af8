// Model evaluation at the reference estimates of the large confirmatory
// model (120 indicators of 12 correlated factors, 306 parameters, N = 2000):
// the objective, the objective with its gradient, the cross product, and
// the information matrix with its inverse and the standard errors, each as
// the optimizer or the estimation run calls it.  The model and its data are
// read from ../shared/reference/large/ beside the repository (or the folder
// named by VELIX_REFERENCE_LARGE); without them every benchmark is skipped.
// The counter se_rel_err is the largest relative difference of the
// standard errors from the reference package's.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench/large_reference.h"
#include "platform/session.h"
#include "platform/step_exit.h"
#include "procedure/evaluation/column_jacobian.h"
#include "procedure/evaluation/cross_product.h"
#include "procedure/evaluation/fd_jacobian.h"
#include "procedure/evaluation/jacobian.h"
#include "procedure/evaluation/jacobian_pattern.h"
#include "procedure/evaluation/sparse_jacobian.h"
#include "procedure/evaluation/discrepancy_functions.h"
#include "procedure/evaluation/gradient.h"
#include "procedure/evaluation/information.h"
#include "procedure/evaluation/model_view.h"
#include "procedure/procedure.h"
#include "velix/host.h"
#include "velix/host_compiler.h"

namespace {

namespace fs = std::filesystem;

using velix::bench::large_dir;
using velix::bench::read_file;

// The value of `"key": number` after position `from` of a JSON text.
double json_number(const std::string& text, size_t from, const std::string& key) {
    const size_t k = text.find("\"" + key + "\"", from);
    if (k == std::string::npos) return NAN;
    return std::strtod(text.c_str() + text.find(':', k) + 1, nullptr);
}

void ensure_step_allocator() {
    static HostAllocator allocator{
        [](HostAllocator*, size_t bytes, int32_t) -> void* { return std::calloc(1, bytes); },
        [](HostAllocator*, void* block, int32_t, int32_t) { std::free(block); }};
    static HostControlBlock gcb;
    if (v_global_gcb_anchor == nullptr) v_global_gcb_anchor = &gcb;
    if (v_global_gcb_anchor->stepAllocator == nullptr)
        v_global_gcb_anchor->stepAllocator = &allocator;
}

// The model read, the moments formed and x at the reference estimates.
struct LargeModel {
    ProcContext ctx;
    NlpProblem nlp;
    NlpHookBlock hooks;
    CmpWork work;
    CmpHandle handle;
    std::vector<double> gradient, hessian, se, referenceSe;
    bool ready = false;
    std::ostringstream log;

    LargeModel() {
        const fs::path dir = large_dir();
        if (!fs::exists(dir / "large_cfa_ml.vx") || !fs::exists(dir / "large.csv")) return;
        ensure_step_allocator();
        auto& s = velix::platform::session();
        velix::platform::begin_step();
        s.libraryDir = dir.string();
        s.stepSource = read_file(dir / "large_cfa_ml.vx");
        s.log = &log;
        ctx.nlp = &nlp;
        ctx.hooks = &hooks;
        ctx.cmpWork = &work;
        nlp.user = &ctx;
        nlp.hooks = &hooks;
        hooks.plSettings = &hooks.settings;
        cmpinit(&handle, &work);
        try {
            cosinit(&ctx);
            if (xbynext(ctx.dataSets.dataSetHandle[kRoleData]) == 0 || coscorr(&ctx) != 0) return;
            ctx.methods.methodStage = kMethodMl;
            commem(&ctx);
        } catch (const velix::platform::StepExit&) {
            return;
        }
        const std::string expected = read_file(dir / "large_cfa_ml.expected.json");
        referenceSe.assign(static_cast<size_t>(ctx.sizes.nParmAll), NAN);
        for (int32_t p = 0; p < ctx.sizes.nParmAll; ++p) {
            std::string name(nlp.param.paramNames[p].text, static_cast<size_t>(nlp.param.paramNames[p].length));
            while (!name.empty() && name.back() == ' ') name.pop_back();
            const size_t at = expected.find("\"" + name + "\": {");
            if (at == std::string::npos) return;
            nlp.param.x[p] = json_number(expected, at, "est");
            referenceSe[static_cast<size_t>(p)] = json_number(expected, at, "se");
        }
        const int32_t q = ctx.sizes.nParmFree;
        gradient.assign(static_cast<size_t>(q), 0.0);
        hessian.assign(static_cast<size_t>(q) * (q + 1) / 2, 0.0);
        se.assign(static_cast<size_t>(ctx.sizes.nParmAll), 0.0);
        nlp.work.gradient = gradient.data();
        nlp.hess.hessian = hessian.data();
        nlp.work.stdErrors = se.data();
        hooks.cov.wantCovariance = 1;
        nlp.run.evalPhase = 4.0;
        ready = cosfunc(&nlp) == 0;
    }
};

LargeModel* model() {
    static std::unique_ptr<LargeModel> m = std::make_unique<LargeModel>();
    return m.get();
}

// The model, or null after skipping the benchmark when it is absent.
LargeModel* require_model(benchmark::State& state) {
    LargeModel* m = model();
    if (m->ready) return m;
    state.SkipWithError("the large reference model is absent (../shared/reference/large)");
    return nullptr;
}

void BM_Objective(benchmark::State& state) {
    LargeModel* m = require_model(state);
    if (m == nullptr) return;
    for (auto _ : state) benchmark::DoNotOptimize(cosfunc(&m->nlp));
    state.counters["fmin"] = m->nlp.iter.f;
}

void BM_ObjectiveAndGradient(benchmark::State& state) {
    LargeModel* m = require_model(state);
    if (m == nullptr) return;
    for (auto _ : state) {
        cosfunc(&m->nlp);
        benchmark::DoNotOptimize(cosgrad(&m->nlp));
    }
}

void BM_CrossProduct(benchmark::State& state) {
    LargeModel* m = require_model(state);
    if (m == nullptr) return;
    cosfunc(&m->nlp);
    for (auto _ : state) benchmark::DoNotOptimize(coscrpj(&m->nlp));
}

void BM_InformationAndStandardErrors(benchmark::State& state) {
    LargeModel* m = require_model(state);
    if (m == nullptr) return;
    for (auto _ : state) benchmark::DoNotOptimize(cosicrp(&m->nlp));
    double worst = 0.0;
    for (size_t p = 0; p < m->se.size(); ++p)
        worst = std::max(worst, std::fabs(m->se[p] - m->referenceSe[p]) / m->referenceSe[p]);
    state.counters["se_rel_err"] = worst;
}

// The Jacobian of one storage mode at the estimates, as the cross product
// forms it, and the bytes it holds in memory (mode 1: q x p* doubles; the
// file modes: their column buffers; mode 11: the nonzeros with their
// positions).
int32_t jacobian_in_mode(LargeModel* m, int32_t mode) {
    const EvalView v = eval_view(&m->ctx);
    switch (mode) {
        case 1: return jacobian_walk(&v);
        case 2: return cosjac1(&v);
        case 3: return cosjac3(&v);
        case 5: return cosjafd(&v);
        default: return cosjasp(&v);
    }
}

int64_t bytes_held(const LargeModel* m, int32_t mode) {
    const int64_t p = m->ctx.sizes.nMoments, q = m->ctx.sizes.nParmFree;
    switch (mode) {
        case 1:
        case 5: return 8 * p * q;
        case 11: return 16 * int64_t{m->ctx.eval.jac.nonzeros};
        default: return 8 * 3 * p;
    }
}

// Sets the mode (and for mode 11 the pattern) before a benchmark.
LargeModel* in_mode(benchmark::State& state, int32_t mode) {
    LargeModel* m = require_model(state);
    if (m == nullptr) return nullptr;
    const EvalView v = eval_view(&m->ctx);
    if (mode == 11 && m->ctx.eval.jac.nonzeros == 0) cosjamv(&v, 0);
    m->ctx.eval.jacobianMode = mode;
    cosfunc(&m->nlp);
    state.counters["bytes"] = static_cast<double>(bytes_held(m, mode));
    return m;
}

void BM_Jacobian(benchmark::State& state) {
    const int32_t mode = static_cast<int32_t>(state.range(0));
    LargeModel* m = in_mode(state, mode);
    if (m == nullptr) return;
    for (auto _ : state) benchmark::DoNotOptimize(jacobian_in_mode(m, mode));
}

void BM_CrossProductInMode(benchmark::State& state) {
    const int32_t mode = static_cast<int32_t>(state.range(0));
    LargeModel* m = in_mode(state, mode);
    if (m == nullptr) return;
    for (auto _ : state) benchmark::DoNotOptimize(coscrpj(&m->nlp));
    m->ctx.eval.jacobianMode = 1;
}

BENCHMARK(BM_Jacobian)->Arg(1)->Arg(2)->Arg(3)->Arg(5)->Arg(11)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CrossProductInMode)->Arg(1)->Arg(2)->Arg(3)->Arg(5)->Arg(11)->Unit(benchmark::kMillisecond);
// Mode 4 forms q (q + 1) / 2 columns for one cross product.
BENCHMARK(BM_CrossProductInMode)->Arg(4)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Objective)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ObjectiveAndGradient)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CrossProduct)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InformationAndStandardErrors)->Unit(benchmark::kMillisecond);

}  // namespace
