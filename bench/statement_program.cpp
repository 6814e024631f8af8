// Runs of a compiled program of programming statements, with and without
// the forward-mode derivatives, as the objective runs them at every
// evaluation.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "platform/compiler/program.h"

namespace {

using velix::compiler::Program;

// A program with a loop, a branch and functions over `n` inputs.
struct Fixture {
    Program program;
    std::vector<double> in, out;
    CmpDerivArea area;

    explicit Fixture(int n) : in(static_cast<size_t>(n), 0.5), out(static_cast<size_t>(n), 0.0) {
        std::string text = "array p{" + std::to_string(n) + "} p1-p" + std::to_string(n) + ";\n" +
                           "array q{" + std::to_string(n) + "} q1-q" + std::to_string(n) + ";\n" +
                           "s = 0;\n"
                           "do i = 1 to dim;\n"
                           "  if p{i} > 0 then q{i} = exp(p{i}) * sqrt(1 + p{i}**2);\n"
                           "  else q{i} = -log(1 + p{i}*p{i});\n"
                           "  s = s + q{i};\n"
                           "end;\n";
        CmpSource src{text.c_str(), static_cast<int32_t>(text.size()), 1, 1};
        std::vector<velix::compiler::Diagnostic> errors;
        program.compile(&src, 1, &errors);
        static double dim;
        dim = n;
        program.bind("dim", 3, &dim);
        std::vector<CmpSymbol*> ins, outs;
        for (int k = 0; k < n; ++k) {
            std::string p = "p" + std::to_string(k + 1), q = "q" + std::to_string(k + 1);
            ins.push_back(program.bind(p.c_str(), static_cast<int32_t>(p.size()), &in[static_cast<size_t>(k)]));
            outs.push_back(program.bind(q.c_str(), static_cast<int32_t>(q.size()), &out[static_cast<size_t>(k)]));
        }
        program.add_derivatives(&area, outs.data(), n, ins.data(), n);
    }
};

void BM_Run(benchmark::State& state) {
    Fixture f(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        f.program.reset();
        benchmark::DoNotOptimize(f.program.run(false));
    }
}
BENCHMARK(BM_Run)->Arg(4)->Arg(16)->Arg(64);

void BM_RunWithDerivatives(benchmark::State& state) {
    Fixture f(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        f.program.reset();
        benchmark::DoNotOptimize(f.program.run(true));
    }
}
BENCHMARK(BM_RunWithDerivatives)->Arg(4)->Arg(16)->Arg(64);

}  // namespace
