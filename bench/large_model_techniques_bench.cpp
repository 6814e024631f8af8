// Every technique the procedure takes for a model estimation on the large
// confirmatory model (120 indicators of 12 correlated factors, 306
// parameters, N = 2000; ../shared/reference/large beside the repository or
// the folder VELIX_REFERENCE_LARGE names; without it every benchmark is
// skipped), each run as a whole program with TECHNIQUE= set: the time of
// the run, its iterations, function calls, final F and return code.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "bench/large_reference.h"
#include "platform/runner/runner.h"

namespace {

namespace fs = std::filesystem;

const char* const kTechniques[] = {"TRUREG", "NEWRAP", "NRRIDG", "LEVMAR", "DBLDOG", "QUANEW", "CONGRA"};

using velix::bench::large_dir;
using velix::bench::read_file;

// The value of the entry `label` of the last "IterStop" factoid (the run
// after any preliminary one) in a JSON text
// (NaN when absent).
double entry(const std::string& text, const std::string& label) {
    const size_t at = text.rfind("\"name\":\"IterStop\"");
    if (at == std::string::npos) return NAN;
    const size_t k = text.find("\"label\":\"" + label + "\"", at);
    if (k == std::string::npos) return NAN;
    const size_t v = text.find("\"value\":", k);
    return v == std::string::npos ? NAN : std::strtod(text.c_str() + v + 8, nullptr);
}

void LargeModel(benchmark::State& state) {
    const std::string technique = kTechniques[state.range(0)];
    const fs::path dir = large_dir();
    std::string program = read_file(dir / "large_cfa_ml.vx");
    if (program.empty()) {
        state.SkipWithError("the large reference model is absent (../shared/reference/large)");
        return;
    }
    program.insert(program.find("proc velix ") + 11, "technique=" + technique + " ");
    const fs::path scratch = fs::temp_directory_path() / ("velix_bench_" + technique);
    fs::create_directories(scratch);
    std::ofstream(scratch / "run.vx") << program;
    velix::platform::RunOptions options;
    options.programPath = (scratch / "run.vx").string();
    options.libraryDir = dir.string();
    options.jsonPath = (scratch / "run.json").string();
    options.listingPath = (scratch / "run.lst").string();
    options.logPath = (scratch / "run.log").string();
    int status = 0;
    for (auto _ : state) status = velix::platform::run_program(options);
    const std::string json = read_file(options.jsonPath);
    state.SetLabel(technique);
    state.counters["iterations"] = entry(json, "Iterations");
    state.counters["calls"] = entry(json, "Function Calls");
    state.counters["F"] = entry(json, "Objective Function");
    state.counters["exit"] = status;
}

BENCHMARK(LargeModel)->DenseRange(0, 6)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
