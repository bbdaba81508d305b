// Throughput of the field warp on the benchmark scenario (Scenario.h): the engine with 1 and
// 2 threads, and in the same run the reference warp, pixel by pixel and line by line with
// nothing precomputed, as the baseline. The unit is pixel-line evaluations per second.
//
//   morph_bench                       every benchmark, medians of the repetitions
//   morph_bench --write-scenario=DIR  writes DIR/source.png, DIR/target.png and
//                                     DIR/scenario.lines for morph-render, then exits
#include "Scenario.h"
#include "engine/WarpKernel.h"
#include "platform/MorphError.h"
#include "platform/QtImageIO.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

using namespace morph;
using namespace morph::bench;

std::vector<Bitmap> Frames(int scenario, int threads, WarpMethod method) {
    const Scenario& s = TheScenario();
    MorphSettings settings = Settings(scenario, threads);
    settings.method = method;
    return BuildMorph({s.source, s.target, s.sourceLines, kLines, s.targetLines, kLines}, settings)
        .blends;
}

void Report(benchmark::State& state) {
    state.counters["pixel_lines_per_s"] =
        benchmark::Counter(kEvaluations, benchmark::Counter::kIsIterationInvariantRate);
}

// args: scenario (1 or 2), threads
void BM_Engine(benchmark::State& state) {
    TheScenario();
    for (auto _ : state) {
        std::vector<Bitmap> frames =
            Frames(int(state.range(0)), int(state.range(1)), WarpMethod::Fast);
        benchmark::DoNotOptimize(frames.data());
    }
    Report(state);
}

// args: scenario. Also checks that the fast frames are the reference ones, bit for bit.
void BM_Reference(benchmark::State& state) {
    TheScenario();
    std::vector<Bitmap> frames;
    for (auto _ : state) {
        frames = Frames(int(state.range(0)), 1, WarpMethod::Reference);
        benchmark::DoNotOptimize(frames.data());
    }
    Report(state);
    if (frames != Frames(int(state.range(0)), 0, WarpMethod::Fast)) {
        state.SkipWithError("the fast frames differ from the reference ones");
    }
}

int WriteScenario(const std::string& dir) {
    try {
        std::filesystem::create_directories(dir);
        const Scenario& s = TheScenario();
        SavePng(s.source, dir + "/source.png");
        SavePng(s.target, dir + "/target.png");
        std::ofstream lines(dir + "/scenario.lines");
        lines << LinesFileText(s);
        if (!lines.flush()) {
            throw MorphError("cannot write " + dir + "/scenario.lines");
        }
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return 1;
    }
    return 0;
}

} // namespace

BENCHMARK(BM_Engine)
    ->ArgsProduct({{1, 2}, {1, 2}})
    ->ArgNames({"S", "threads"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(0.5)
    ->Repetitions(7)
    ->ReportAggregatesOnly();
BENCHMARK(BM_Reference)
    ->DenseRange(1, 2)
    ->ArgName("S")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly();

int main(int argc, char** argv) {
    constexpr const char* kWrite = "--write-scenario=";
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], kWrite, std::strlen(kWrite)) == 0) {
            return WriteScenario(argv[i] + std::strlen(kWrite));
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::AddCustomContext("vector_level", std::to_string(int(warp::ActiveKernelLevel())) +
                                                    " (0 scalar, 1 SSE2, 2 AVX2, 3 AVX-512)");
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
