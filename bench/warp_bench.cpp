// Throughput of the field warp on the benchmark scenario (Scenario.h): the engine with 1 and
// 2 threads, and in the same run the reference warp, pixel by pixel and line by line with
// nothing precomputed, as the baseline. The unit is pixel-line evaluations per second.
//
// The affine vector kernel against the dividing one it replaced, side by side: BM_Kernels
// builds the whole scenario with each in turn, BM_KernelAlone maps every frame with each
// kernel alone (one thread, nothing written), frame by frame in turns. Both report how many
// times faster the affine kernel is (speedup: the median of the pairs' ratios), and
// BM_KernelAlone the share of pixels the affine kernel sends back to the scalar path.
//
// BM_Options warps the scenario's middle frame with each combination of the warp options, on
// one thread, in turns with the default options: speed_vs_default is the median of the
// default's time over the combination's (1 = as fast, 0.5 = half the speed).
//
//   morph_bench                       every benchmark, medians of the repetitions
//   morph_bench --write-scenario=DIR  writes DIR/source.png, DIR/target.png and
//                                     DIR/scenario.lines for morph-render, then exits
#include "Scenario.h"
#include "engine/WarpKernel.h"
#include "platform/MorphError.h"
#include "platform/QtImageIO.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
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

double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n == 0 ? 0 : (n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2);
}

// Runs `measure(affine)` for both kernels, the order changing from call to call, so that a
// change of the machine's load meets both alike; returns the seconds of each.
template <typename Measure>
std::pair<double, double> InTurns(bool& affineFirst, const Measure& measure) {
    double seconds[2] = {};
    for (int turn = 0; turn < 2; ++turn) {
        const bool affine = (turn == 0) == affineFirst;
        seconds[affine ? 0 : 1] = measure(affine);
    }
    affineFirst = !affineFirst;
    return {seconds[0], seconds[1]};
}

// args: scenario, threads. Whole builds with either kernel; wall time.
void BM_Kernels(benchmark::State& state) {
    TheScenario();
    const int scenario = int(state.range(0));
    const int threads = int(state.range(1));
    std::vector<double> ratios;
    double dividing = 0;
    bool affineFirst = true;
    for (auto _ : state) {
        const auto [affineSeconds, dividingSeconds] = InTurns(affineFirst, [&](bool affine) {
            warp::UseKernelFormula(affine ? warp::KernelFormula::Affine
                                          : warp::KernelFormula::Dividing);
            const auto start = std::chrono::steady_clock::now();
            std::vector<Bitmap> frames = Frames(scenario, threads, WarpMethod::Fast);
            benchmark::DoNotOptimize(frames.data());
            return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        });
        state.SetIterationTime(affineSeconds);
        ratios.push_back(dividingSeconds / affineSeconds);
        dividing += dividingSeconds;
    }
    warp::UseKernelFormula(warp::KernelFormula::Affine);
    state.counters["speedup"] = Median(ratios);
    state.counters["dividing_ms"] = 1000 * dividing / double(state.iterations());
    Report(state);
}

// args: scenario. Every frame mapped by each kernel alone; thread CPU time.
void BM_KernelAlone(benchmark::State& state) {
    const Scenario& s = TheScenario();
    const MorphSettings settings = Settings(int(state.range(0)), 1);
    const double step = FrameStep(kFrames);
    const FrameLineSets sets = BuildFrameLineSets(s.sourceLines, s.targetLines, step, kLines,
                                                  settings.mode, kFrames, kSide, kSide);
    std::vector<double> ratios;
    double affineTotal = 0, dividingTotal = 0;
    std::int64_t sentBack = 0, pixels = 0;
    bool affineFirst = true;
    for (auto _ : state) {
        double iteration = 0;
        double t = 0;
        for (int k = 0; k < kFrames; ++k) {
            const WarpInputs in{s.source, s.target, sets.front(), sets.back(), sets[std::size_t(k)],
                                kLines,   t};
            const auto [affineSeconds, dividingSeconds] = InTurns(affineFirst, [&](bool affine) {
                const double start = ThreadSeconds();
                const std::int64_t back = warp::RunKernelAlone(
                    in, settings.constants,
                    affine ? warp::KernelFormula::Affine : warp::KernelFormula::Dividing);
                const double seconds = ThreadSeconds() - start;
                if (affine) {
                    sentBack += back;
                    pixels += std::int64_t(kSide) * kSide;
                }
                return seconds;
            });
            ratios.push_back(dividingSeconds / affineSeconds);
            iteration += affineSeconds;
            affineTotal += affineSeconds;
            dividingTotal += dividingSeconds;
            t = t + step;
        }
        state.SetIterationTime(iteration);
    }
    const double evaluations = kEvaluations * double(state.iterations());
    state.counters["speedup"] = Median(ratios);
    state.counters["affine_ns_per_eval"] = 1e9 * affineTotal / evaluations;
    state.counters["dividing_ns_per_eval"] = 1e9 * dividingTotal / evaluations;
    state.counters["sent_back"] = double(sentBack) / double(pixels);
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

// args: distance (0 line, 1 segment), sampling (0 nearest, 1 bilinear), supersample K.
void BM_Options(benchmark::State& state) {
    const Scenario& s = TheScenario();
    const MorphSettings settings = Settings(1, 1);
    const double step = FrameStep(kFrames);
    const FrameLineSets sets = BuildFrameLineSets(s.sourceLines, s.targetLines, step, kLines,
                                                  settings.mode, kFrames, kSide, kSide);
    const int middle = kFrames / 2;
    double t = 0;
    for (int k = 0; k < middle; ++k) {
        t = t + step;
    }
    const WarpOptions options{state.range(0) != 0 ? WarpDistance::Segment : WarpDistance::Line,
                              state.range(1) != 0 ? WarpSampling::Bilinear : WarpSampling::Nearest,
                              int(state.range(2))};
    Bitmap blend, warpedSource, warpedTarget;
    auto seconds = [&](const WarpOptions& o) {
        const WarpInputs in{
            s.source, s.target, sets.front(), sets.back(), sets[std::size_t(middle)], kLines, t, o};
        const double start = ThreadSeconds();
        WarpFrame({blend, warpedSource, warpedTarget}, in, settings.constants, {}, 1);
        return ThreadSeconds() - start;
    };
    std::vector<double> ratios;
    double total = 0;
    bool optionsFirst = true;
    for (auto _ : state) {
        const auto [withOptions, withDefaults] = InTurns(
            optionsFirst, [&](bool chosen) { return seconds(chosen ? options : WarpOptions{}); });
        state.SetIterationTime(withOptions);
        ratios.push_back(withDefaults / withOptions);
        total += withOptions;
    }
    const double evaluations = double(kSide) * kSide * kLines * double(state.iterations());
    state.counters["speed_vs_default"] = Median(ratios);
    state.counters["ns_per_eval"] = 1e9 * total / evaluations;
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
BENCHMARK(BM_Kernels)
    ->ArgsProduct({{1, 2}, {1, 2}})
    ->ArgNames({"S", "threads"})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(5)
    ->Repetitions(3)
    ->ReportAggregatesOnly();
BENCHMARK(BM_KernelAlone)
    ->DenseRange(1, 2)
    ->ArgName("S")
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3)
    ->Repetitions(3)
    ->ReportAggregatesOnly();
BENCHMARK(BM_Options)
    ->ArgsProduct({{0, 1}, {0, 1}, {1, 2, 3, 4}})
    ->ArgNames({"segment", "bilinear", "K"})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3)
    ->Repetitions(1);
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
