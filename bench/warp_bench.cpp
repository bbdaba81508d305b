// Throughput of the field warp on the benchmark scenario (Scenario.h): the engine with 1 and
// 2 threads, and in the same run the literal warp, pixel by pixel and line by line with
// nothing precomputed, as the baseline. The unit is pixel-line evaluations per second.
//
//   morph_bench                       every benchmark, medians of the repetitions
//   morph_bench --write-scenario=DIR  writes DIR/source.png, DIR/target.png and
//                                     DIR/scenario.lines for morph-render, then exits
#include "Scenario.h"
#include "engine/ScalarWarp.h"
#include "engine/WarpKernel.h"
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

std::vector<Bitmap> EngineFrames(int scenario, int threads) {
    const Scenario& s = TheScenario();
    return BuildMorph(s.source, s.target, s.sourceLines, kLines, s.targetLines, kLines,
                      Settings(scenario, threads))
        .blends;
}

// The frame loop of a warped build around the literal warp.
std::vector<Bitmap> LiteralFrames(int scenario) {
    const Scenario& s = TheScenario();
    const double step = FrameStep(kFrames);
    const FrameLineSets sets =
        BuildFrameLineSets(s.sourceLines, s.targetLines, step, kLines, InterpolationMode::EndPoints,
                           kFrames, kSide, kSide);
    const WarpConstants k = Constants(scenario);
    std::vector<Bitmap> blends(kFrames);
    Bitmap warpedSource, warpedTarget;
    double t = 0;
    for (int frame = 0; frame < kFrames; ++frame) {
        testing::LiteralWarp(s.source, s.target, blends[std::size_t(frame)], warpedSource,
                             warpedTarget, sets.front(), sets.back(), sets[std::size_t(frame)],
                             kLines - 1, t, k.a, k.b, k.p, 20);
        t = t + step;
    }
    return blends;
}

void Report(benchmark::State& state) {
    state.counters["pixel_lines_per_s"] =
        benchmark::Counter(kEvaluations, benchmark::Counter::kIsIterationInvariantRate);
}

// args: scenario (1 or 2), threads
void BM_Engine(benchmark::State& state) {
    TheScenario();
    for (auto _ : state) {
        std::vector<Bitmap> frames = EngineFrames(int(state.range(0)), int(state.range(1)));
        benchmark::DoNotOptimize(frames.data());
    }
    Report(state);
}

// args: scenario. Also checks that the engine's frames are the literal ones, bit for bit.
void BM_Literal(benchmark::State& state) {
    TheScenario();
    std::vector<Bitmap> frames;
    for (auto _ : state) {
        frames = LiteralFrames(int(state.range(0)));
        benchmark::DoNotOptimize(frames.data());
    }
    Report(state);
    if (frames != EngineFrames(int(state.range(0)), 0)) {
        state.SkipWithError("the engine's frames differ from the literal ones");
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
BENCHMARK(BM_Literal)
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
