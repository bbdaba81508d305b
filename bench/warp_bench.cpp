// Throughput of the field warp on a 512 x 512 frame with 20 line pairs.
#include "engine/Warp.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

namespace {

using namespace morph;

struct Scene {
    Bitmap source{512, 512};
    Bitmap target{512, 512};
    LineSet sourceLines{};
    LineSet targetLines{};
    LineSet frameLines{};
    int count = 20;

    Scene() {
        for (int y = 0; y < 512; ++y) {
            for (int x = 0; x < 512; ++x) {
                source.setPixel(x, y, RGB(std::uint8_t(x / 2), std::uint8_t(y / 2),
                                          ((x / 32 + y / 32) % 2) ? 255 : 0));
                target.setPixel(x, y, RGB(std::uint8_t((x * y) % 256), std::uint8_t(255 - y / 2),
                                          std::uint8_t((x + y) % 256)));
            }
        }
        std::mt19937 rng(7);
        std::uniform_int_distribution<int> pos(40, 470);
        std::uniform_int_distribution<int> jitter(-20, 20);
        for (int i = 0; i < count; ++i) {
            ControlLine s{pos(rng), pos(rng), pos(rng), pos(rng)};
            if (s.x1 == s.x2 && s.y1 == s.y2) {
                s.x2 += 10;
            }
            ControlLine t{s.x1 + jitter(rng), s.y1 + jitter(rng), s.x2 + jitter(rng),
                          s.y2 + jitter(rng)};
            if (t.x1 == t.x2 && t.y1 == t.y2) {
                t.x2 += 10;
            }
            sourceLines[i] = s;
            targetLines[i] = t;
            frameLines[i] = {(s.x1 + t.x1) / 2, (s.y1 + t.y1) / 2, (s.x2 + t.x2) / 2,
                             (s.y2 + t.y2) / 2};
            if (frameLines[i].x1 == frameLines[i].x2 && frameLines[i].y1 == frameLines[i].y2) {
                frameLines[i].x2 += 10;
            }
        }
    }
};

void BM_WarpFrame(benchmark::State& state) {
    static const Scene scene;
    Bitmap blend, ws, wt;
    WarpConstants k{state.range(1) ? 1.0 : 2.0, state.range(1) ? 1.5 : 1.0,
                    state.range(1) ? 0.5 : 0.0};
    WarpControl control;
    control.threads = int(state.range(0));
    for (auto _ : state) {
        WarpFrame(scene.source, scene.target, blend, ws, wt, scene.sourceLines,
                  scene.targetLines, scene.frameLines, scene.count - 1, 0.5, k, control);
        benchmark::DoNotOptimize(blend.data());
    }
    const double evaluations = 512.0 * 512.0 * scene.count;
    state.counters["pixel_lines_per_s"] =
        benchmark::Counter(evaluations, benchmark::Counter::kIsIterationInvariantRate);
}

} // namespace

BENCHMARK(BM_WarpFrame)
    ->ArgsProduct({{1, 2}, {0, 1}})
    ->ArgNames({"threads", "S2"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_MAIN();
