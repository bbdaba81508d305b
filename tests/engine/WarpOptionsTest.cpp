#include "engine/FrameBuild.h"
#include "engine/Warp.h"
#include "engine/WarpKernel.h"
#include "platform/MorphError.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace morph {
namespace {

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const MorphError& e) {
        return e.what();
    }
    return "";
}

Bitmap RandomPicture(int w, int h, std::mt19937& rng) {
    Bitmap b(w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            b.setPixel(x, y, Colour(rng()) & 0x00FFFFFFu);
        }
    }
    return b;
}

struct Frame {
    Bitmap blend, warpedSource, warpedTarget;
    explicit Frame(int w, int h) : blend(w, h), warpedSource(w, h), warpedTarget(w, h) {}
    WarpOutputs outputs() { return {blend, warpedSource, warpedTarget}; }
};

std::vector<WarpOptions> EveryCombination() {
    std::vector<WarpOptions> all;
    for (WarpDistance d : {WarpDistance::Line, WarpDistance::Segment}) {
        for (WarpSampling s : {WarpSampling::Nearest, WarpSampling::Bilinear}) {
            for (int k = 1; k <= kMaxSupersample; ++k) {
                all.push_back({d, s, k});
            }
        }
    }
    return all;
}

// Random frames under every option combination, faults included (lines of zero length, pixels
// on a line with A = 0, fractional B with a negative A, powers that overflow, blend parameters
// outside [0, 1]), now and then with lines anywhere up to the coordinate limit and pictures
// taller than one call of the vector kernel: the fast warp with 1, 2 and 3 threads at the
// widest vector level and with one thread below the continuous kernel's level gives the
// reference warp's pictures, progress columns and error, bit for bit. The cases must reach
// both the kernel and, for some of its lanes, the scalar path it sends them back to.
TEST(WarpOptions, EveryCombinationMatchesTheReferenceWarpBitForBit) {
    std::mt19937 rng(170317);
    const double as[] = {2, 1, 0, 0.5, -1.5, 10};
    const double bs[] = {1, 2, 0.5, 1.5, 0, -1, -2, 40};
    const double ps[] = {0, 0.5, 1, 2};
    const double odd[] = {-3, 2.5, 1e300, std::nan("")};
    const std::vector<WarpOptions> combinations = EveryCombination();
    const int top = int(warp::SupportedKernelLevel());
    // (level, threads) of the fast runs.
    std::vector<std::pair<int, int>> runsOf = {{top, 1}, {top, 2}, {top, 3}};
    if (top >= int(warp::KernelLevel::Avx2)) {
        runsOf.push_back({int(warp::KernelLevel::Sse2), 1});
    }
    int faults = 0;
    int runs = 0;
    std::int64_t kernelPixels = 0;
    std::int64_t sentBack = 0;
    for (int round = 0; round < 16 && !HasFailure(); ++round) {
        for (const WarpOptions& options : combinations) {
            const int w = 1 + int(rng() % 22);
            const int h = rng() % 4 == 0 ? 60 + int(rng() % 80) : 1 + int(rng() % 22);
            const int n = 1 + int(rng() % 4);
            LineSet s{}, t{}, f{};
            for (int i = 0; i < n; ++i) {
                for (LineSet* set : {&s, &t, &f}) {
                    const int far = rng() % 10 == 0 ? kMaxLineCoordinate : 3;
                    std::uniform_int_distribution<int> px(-far, w + far), py(-far, h + far);
                    ControlLine& l = (*set)[i];
                    l = {px(rng), py(rng), px(rng), py(rng)};
                    if (rng() % 16 != 0 && l.x1 == l.x2 && l.y1 == l.y2) {
                        l.x2 += 1;
                    }
                }
            }
            const WarpConstants k{as[rng() % 6], bs[rng() % 8], ps[rng() % 4]};
            const double param = rng() % 16 == 0 ? odd[rng() % 4] : double(rng() % 1000) / 999;
            const int step = 1 + int(rng() % unsigned(w));
            const Bitmap src = RandomPicture(w, h, rng);
            const Bitmap tgt = RandomPicture(w, h, rng);
            const WarpInputs in{src, tgt, s, t, f, n, param, options};
            const std::string where = "round " + std::to_string(round) + " distance " +
                                      std::to_string(int(options.distance)) + " sampling " +
                                      std::to_string(int(options.sampling)) + " K " +
                                      std::to_string(options.supersample);

            Frame expected(w, h);
            std::vector<int> expectedColumns;
            WarpControl reference;
            reference.method = WarpMethod::Reference;
            reference.refreshStep = step;
            reference.progress = [&](int x) {
                expectedColumns.push_back(x);
                return false;
            };
            const std::string expectedError =
                ErrorOf([&] { WarpFrame(expected.outputs(), in, k, reference); });
            faults += !expectedError.empty();
            ++runs;
            const std::int64_t back = warp::RunKernelAlone(in, k, warp::KernelFormula::Affine);
            if (back >= 0 && !options.isDefault()) {
                kernelPixels += std::int64_t(w) * h - back;
                sentBack += back;
            }
            for (const auto& [level, threads] : runsOf) {
                warp::LimitKernelLevel(warp::KernelLevel(level));
                Frame actual(w, h);
                std::vector<int> columns;
                WarpControl control;
                control.refreshStep = step;
                control.parallelSmallBlocks = true;
                control.progress = [&](int x) {
                    columns.push_back(x);
                    return false;
                };
                const std::string error =
                    ErrorOf([&] { WarpFrame(actual.outputs(), in, k, control, threads); });
                const std::string at = where + " level " + std::to_string(level) + " threads " +
                                       std::to_string(threads);
                EXPECT_EQ(error, expectedError) << at;
                EXPECT_EQ(actual.blend, expected.blend) << at;
                EXPECT_EQ(actual.warpedSource, expected.warpedSource) << at;
                EXPECT_EQ(actual.warpedTarget, expected.warpedTarget) << at;
                EXPECT_EQ(columns, expectedColumns) << at;
            }
            warp::LimitKernelLevel(warp::KernelLevel::Avx512);
        }
    }
    EXPECT_GT(faults, runs / 20) << "the random cases should also exercise faults";
    EXPECT_LT(faults, runs * 4 / 5) << "and mostly complete";
    if (top >= int(warp::KernelLevel::Avx2)) {
        EXPECT_GT(kernelPixels, 100 * sentBack) << "the kernel should map most pixels";
        EXPECT_GT(sentBack, 0) << "and send some back";
    }
}

// The continuous path on cases worked by hand, for both methods: with frame, Source and Target
// lines equal, nearest sampling (sub-pixel positions round back) and single samples read the
// picture back; bilinear supersampling averages rounded mixes of neighbours.
TEST(WarpOptions, ContinuousPathOnWorkedCases) {
    Bitmap src(4, 1);
    for (int x = 0; x < 4; ++x) {
        src.setPixel(x, 0, RGB(std::uint8_t(10 * x), std::uint8_t(100 + x), 7));
    }
    LineSet same{};
    same[0] = {0, 0, 3, 0};
    LineSet shifted{};
    shifted[0] = {1, 0, 4, 0};
    for (WarpMethod method : {WarpMethod::Reference, WarpMethod::Fast}) {
        WarpControl control;
        control.method = method;
        // Identity: every option reads the picture back unchanged.
        for (const WarpOptions& options : EveryCombination()) {
            if (options.supersample > 1 && options.sampling == WarpSampling::Bilinear) {
                continue;
            }
            Frame out(4, 1);
            WarpFrame(out.outputs(), {src, src, same, same, same, 1, 0, options}, {}, control);
            EXPECT_EQ(out.warpedSource, src);
        }
        // Frame line from 0, Source line from 1: every point reads one pixel to the right.
        // Supersampling 2 reads at x + 0.75 and x + 1.25, mixing 1/4 and 3/4 of neighbours,
        // each rounded half to even: red at x = 2 is (28 + 30) / 2 from 27.5 and 30 (clamped).
        Frame out(4, 1);
        WarpFrame(
            out.outputs(),
            {src, src, shifted, same, same, 1, 0, {WarpDistance::Line, WarpSampling::Bilinear, 2}},
            {}, control);
        EXPECT_EQ(out.warpedSource.pixel(0, 0), src.pixel(1, 0)); // 7.5 and 12.5: 8 and 12
        EXPECT_EQ(out.warpedSource.pixel(1, 0), src.pixel(2, 0));
        EXPECT_EQ(out.warpedSource.pixel(2, 0), RGB(29, 103, 7));
        EXPECT_EQ(out.warpedSource.pixel(3, 0), src.pixel(3, 0));
    }
    const LineSet none{};
    Frame out(4, 1);
    EXPECT_EQ(ErrorOf([&] {
                  WarpFrame(out.outputs(), {src, src, none, none, none, 0, 0, {{}, {}, 5}}, {});
              }),
              "The supersampling must be a whole number from 1 to 4, not 5");
}

// A disc whose outline is crossed by the extensions of two short lines outside it: the
// infinite-line distance pulls the pixels along each extension with that line alone, which
// leaves isolated spikes on the outline; segment distance with bilinear sampling removes most.
TEST(WarpOptions, SegmentDistanceAndBilinearSamplingRemoveOutlineSpikes) {
    std::mt19937 rng(4242);
    constexpr Colour kInside = 0x00F0F0F0u;
    constexpr Colour kOutside = 0x00101010u;
    auto isolatedOutlinePixels = [](const Bitmap& b) {
        auto inside = [&](int x, int y) { return (b.pixel(x, y) & 0xFFu) >= 0x80u; };
        int count = 0;
        for (int y = 1; y + 1 < b.height(); ++y) {
            for (int x = 1; x + 1 < b.width(); ++x) {
                const bool here = inside(x, y);
                const int unlike = (inside(x - 1, y) != here) + (inside(x + 1, y) != here) +
                                   (inside(x, y - 1) != here) + (inside(x, y + 1) != here);
                count += unlike >= 3;
            }
        }
        return count;
    };
    int classic = 0;
    int smooth = 0;
    for (int round = 0; round < 16; ++round) {
        const int size = 56 + int(rng() % 24);
        const double cx = size / 2.0 + double(rng() % 7) - 3;
        const double cy = size / 2.0 + double(rng() % 7) - 3;
        const double r = 10 + double(rng() % 6);
        Bitmap disc(size, size);
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                const double d = std::hypot(x - cx, y - cy);
                disc.setPixel(x, y, d <= r ? kInside : kOutside);
            }
        }
        // Two short lines beyond the disc, each pointing across it, so that its extension
        // cuts the disc; the Target lines are moved and turned a little.
        LineSet s{}, t{};
        for (int i = 0; i < 2; ++i) {
            const double angle = std::uniform_real_distribution<double>(0, 6.283)(rng);
            const double gap = r + 6 + double(rng() % 6);
            const double across = std::uniform_real_distribution<double>(-0.6, 0.6)(rng) * r;
            const double ux = std::cos(angle), uy = std::sin(angle);
            // The line runs along (ux, uy), offset sideways by `across`, starting at `gap`.
            const double sx = cx + ux * gap - uy * across;
            const double sy = cy + uy * gap + ux * across;
            const double length = 4 + double(rng() % 5);
            s[i] = {int(std::lround(sx)), int(std::lround(sy)), int(std::lround(sx + ux * length)),
                    int(std::lround(sy + uy * length))};
            const int mx = int(rng() % 7) - 3, my = int(rng() % 7) - 3;
            t[i] = {s[i].x1 + mx, s[i].y1 + my, s[i].x2 + mx + int(rng() % 3) - 1,
                    s[i].y2 + my + int(rng() % 3) - 1};
            if (t[i].x1 == t[i].x2 && t[i].y1 == t[i].y2) {
                t[i].x2 += 2;
            }
        }
        MorphSettings settings;
        settings.frames = 3;
        const MorphInputs in{disc, disc, s, 2, t, 2};
        classic += isolatedOutlinePixels(BuildMorphFrames(in, settings, 1, 1).blends[0]);
        settings.warpOptions = {WarpDistance::Segment, WarpSampling::Bilinear, 1};
        smooth += isolatedOutlinePixels(BuildMorphFrames(in, settings, 1, 1).blends[0]);
    }
    EXPECT_GT(classic, 20) << "the cases should show spikes with the classic warp";
    EXPECT_LE(smooth * 4, classic) << "classic " << classic << ", smooth " << smooth;
}

} // namespace
} // namespace morph
