#include "engine/Warp.h"
#include "engine/FrameBuild.h"
#include "engine/WarpKernel.h"
#include "platform/MorphError.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace morph {
namespace {

// Every pixel's colour encodes its position, so a read position can be seen in the output.
Bitmap Coordinates(int w, int h, std::uint8_t blue = 0) {
    Bitmap b(w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            b.setPixel(x, y, RGB(std::uint8_t(x), std::uint8_t(y), blue));
        }
    }
    return b;
}

struct Frame {
    Bitmap blend, warpedSource, warpedTarget;
    WarpOutputs outputs() { return {blend, warpedSource, warpedTarget}; }
};

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const MorphError& e) {
        return e.what();
    }
    return "";
}

TEST(Warp, OneLinePairMovesThePixelWithTheLine) {
    const Bitmap src = Coordinates(40, 40, 1);
    const Bitmap tgt = Coordinates(40, 40, 2);
    LineSet frame{}, source{}, target{};
    frame[0] = {10, 10, 20, 10};
    source[0] = {10, 10, 10, 20};
    target[0] = frame[0];
    for (WarpConstants k :
         {WarpConstants{2, 1, 0}, WarpConstants{1, 2, 0.5}, WarpConstants{7, 0.5, 1}}) {
        Frame out;
        WarpFrame(out.outputs(), {src, tgt, source, target, frame, 1, 0.5}, k);
        EXPECT_EQ(out.warpedSource.pixel(15, 12), src.pixel(8, 15));
        EXPECT_EQ(out.warpedTarget.pixel(15, 12), tgt.pixel(15, 12));
    }
}

TEST(Warp, TwoLinePairsAverageTheirPointsByWeight) {
    const Bitmap src = Coordinates(40, 40, 1);
    LineSet frame{}, source{}, target{};
    frame[0] = {10, 10, 20, 10};
    source[0] = {10, 10, 10, 20};
    frame[1] = {10, 30, 20, 30};
    source[1] = {12, 30, 22, 30};
    target = frame;
    Frame out;
    WarpFrame(out.outputs(), {src, src, source, target, frame, 2, 0.5}, {1, 1, 0});
    EXPECT_EQ(out.warpedSource.pixel(15, 12), src.pixel(9, 15));
    EXPECT_EQ(out.warpedTarget.pixel(15, 12), src.pixel(15, 12));
}

TEST(Warp, PowerFollowsItsRules) {
    EXPECT_EQ(Power(0, 0), 1);
    EXPECT_EQ(Power(-3, 0), 1);
    EXPECT_EQ(Power(0, 0.5), 0);
    EXPECT_EQ(Power(100, 0) / (3 + 2.0), 0.2);
    EXPECT_DOUBLE_EQ(Power(Power(100, 0.5) / (3 + 2.0), 1), 2.0);
    EXPECT_EQ(Power(Power(100, 0) / (3 + 2.0), 2), 0.2 * 0.2);
    EXPECT_EQ(Power(2, -2), 0.25);
    EXPECT_EQ(Power(-2, 3), -8);
    EXPECT_EQ(ErrorOf([] { Power(-8, 1.5); }), "Invalid floating point operation");
    EXPECT_EQ(ErrorOf([] { Power(0, -1); }), "Floating point division by zero");
    EXPECT_EQ(ErrorOf([] { Power(0, -0.5); }), "Floating point division by zero");
    EXPECT_EQ(ErrorOf([] { Power(1e200, 2); }), "Floating point overflow");
    EXPECT_EQ(ErrorOf([] { Power(10, 400.5); }), "Floating point overflow");
    EXPECT_EQ(Power(10, -400.5), 0) << "underflow is not a fault";
}

TEST(Warp, BlendRoundsEachByteHalfToEven) {
    LineSet lines{};
    lines[0] = {0, 0, 3, 0};
    Bitmap red(4, 4, 0x000000FF), blue(4, 4, 0x00FF0000);
    Frame out;
    WarpFrame(out.outputs(), {red, blue, lines, lines, lines, 1, 0.5}, {});
    EXPECT_EQ(out.blend.pixel(2, 2), 0x00800080u);
    Bitmap one(4, 4, 0x00000001), zero(4, 4, 0x00000000);
    WarpFrame(out.outputs(), {one, zero, lines, lines, lines, 1, 0.5}, {});
    EXPECT_EQ(out.blend.pixel(1, 1), 0u);
    EXPECT_EQ(out.warpedSource.pixel(1, 1), 1u);
}

TEST(Warp, PointsOutsideThePictureAreClampedToItsEdges) {
    const Bitmap src = Coordinates(30, 30);
    LineSet frame{}, source{};
    frame[0] = {5, 5, 5, 25};
    source[0] = {-2, 5, -2, 25}; // everything moves 7 to the left
    Frame out;
    WarpFrame(out.outputs(), {src, src, source, frame, frame, 1, 0}, {});
    EXPECT_EQ(out.warpedSource.pixel(5, 5), src.pixel(0, 5));
    EXPECT_EQ(out.warpedSource.pixel(20, 9), src.pixel(13, 9));
    source[0] = {12, 5, 12, 25}; // 7 to the right
    WarpFrame(out.outputs(), {src, src, source, frame, frame, 1, 0}, {});
    EXPECT_EQ(out.warpedSource.pixel(26, 5), src.pixel(29, 5));
}

TEST(Warp, ProgressComesAfterTheFirstPixelOfEveryRthColumn) {
    const Bitmap src = Coordinates(164, 3);
    LineSet lines{};
    lines[0] = {0, 0, 10, 1};
    Frame out;
    std::vector<int> columns;
    WarpControl control;
    control.refreshStep = 20;
    control.progress = [&](int x) {
        columns.push_back(x);
        EXPECT_EQ(out.blend.pixel(x, 0), src.pixel(x, 0)) << "written before the progress point";
        EXPECT_EQ(out.blend.pixel(x, 1), kWhite) << "rest of the column comes after it";
        return false;
    };
    out.blend = Bitmap(164, 3);
    WarpFrame(out.outputs(), {src, src, lines, lines, lines, 1, 0}, {}, control);
    EXPECT_EQ(columns, (std::vector<int>{0, 20, 40, 60, 80, 100, 120, 140, 160}));
    EXPECT_EQ(out.blend, src);

    columns.clear();
    out.blend = Bitmap(164, 3);
    control.refreshStep = 1;
    WarpFrame(out.outputs(), {src, src, lines, lines, lines, 1, 0}, {}, control);
    EXPECT_EQ(columns.size(), 164u);
}

TEST(Warp, CancelStopsRightAfterTheProgressPoint) {
    const Bitmap src = Coordinates(50, 6);
    LineSet lines{};
    lines[0] = {0, 0, 10, 1};
    Frame out{Bitmap(50, 6), Bitmap(50, 6), Bitmap(50, 6)};
    WarpControl control;
    control.refreshStep = 20;
    control.progress = [](int x) { return x == 20; };
    EXPECT_EQ(WarpFrame(out.outputs(), {src, src, lines, lines, lines, 1, 0}, {}, control),
              WarpOutcome::Cancelled);
    for (int x = 0; x < 50; ++x) {
        for (int y = 0; y < 6; ++y) {
            const bool done = x < 20 || (x == 20 && y == 0);
            EXPECT_EQ(out.blend.pixel(x, y), done ? src.pixel(x, y) : kWhite) << x << "," << y;
        }
    }
}

TEST(Warp, RefreshStepMayChangeAtAProgressPoint) {
    const Bitmap src = Coordinates(30, 2);
    LineSet lines{};
    lines[0] = {0, 0, 10, 1};
    Frame out;
    std::vector<int> columns;
    WarpControl control;
    control.refreshStep = 10;
    control.progress = [&](int x) {
        columns.push_back(x);
        return false;
    };
    control.readRefreshStep = [&] { return columns.size() == 1 ? 10 : 4; };
    WarpFrame(out.outputs(), {src, src, lines, lines, lines, 1, 0}, {}, control);
    EXPECT_EQ(columns, (std::vector<int>{0, 10, 12, 16, 20, 24, 28}));
    control.readRefreshStep = [] { return 0; };
    EXPECT_EQ(ErrorOf([&] {
                  WarpFrame(out.outputs(), {src, src, lines, lines, lines, 1, 0}, {}, control);
              }),
              "Division by zero");
}

TEST(Warp, FrameZeroReproducesTheSourceEvenWhenWrittenIntoIt) {
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> pos(0, 63);
    Bitmap src = Coordinates(64, 64, 9);
    const Bitmap original = src;
    const Bitmap tgt = Coordinates(64, 64, 200);
    LineSet source{}, target{};
    for (int i = 0; i < 6; ++i) {
        source[i] = {pos(rng), pos(rng), pos(rng), pos(rng)};
        target[i] = {pos(rng), pos(rng), pos(rng), pos(rng)};
        if (source[i].x1 == source[i].x2 && source[i].y1 == source[i].y2) {
            source[i].x2 = 63 - source[i].x1 == source[i].x1 ? 0 : 63 - source[i].x1;
        }
        if (target[i].x1 == target[i].x2 && target[i].y1 == target[i].y2) {
            target[i].y2 = target[i].y1 == 0 ? 1 : 0;
        }
    }
    Bitmap ws, wt;
    WarpFrame({src, ws, wt}, {src, tgt, source, target, source, 6, 0}, {2, 1, 0});
    EXPECT_EQ(src, original);
    EXPECT_EQ(ws, original);
}

TEST(Warp, ZeroLengthLineFailsAtTheFirstPixelWritingNothing) {
    const Bitmap src = Coordinates(20, 20);
    LineSet good{}, bad{};
    good[0] = {1, 1, 9, 9};
    good[1] = {3, 3, 3, 12};
    bad = good;
    bad[1] = {4, 4, 4, 4};
    for (int which = 0; which < 3; ++which) {
        Frame out{Bitmap(20, 20), Bitmap(20, 20), Bitmap(20, 20)};
        const LineSet& f = which == 0 ? bad : good;
        const LineSet& s = which == 1 ? bad : good;
        const LineSet& t = which == 2 ? bad : good;
        EXPECT_EQ(ErrorOf([&] {
                      WarpFrame(out.outputs(), {src, src, s, t, f, 2, 0.5}, {});
                  }),
                  "Invalid floating point operation");
        EXPECT_EQ(out.blend, Bitmap(20, 20));
    }
}

TEST(Warp, FaultsStopAtTheirPixelInColumnOrder) {
    const Bitmap src = Coordinates(12, 12);
    LineSet lines{};
    lines[0] = {0, 5, 11, 5}; // pixels of row 5 lie on the line: dist 0 with A = 0
    for (int threads : {1, 2, 3}) {
        Frame out{Bitmap(12, 12), Bitmap(12, 12), Bitmap(12, 12)};
        WarpControl control;
        control.parallelSmallBlocks = true;
        EXPECT_EQ(ErrorOf([&] {
                      WarpFrame(out.outputs(), {src, src, lines, lines, lines, 1, 0}, {0, 1, 0},
                                control, threads);
                  }),
                  "Floating point division by zero");
        for (int x = 0; x < 12; ++x) {
            for (int y = 0; y < 12; ++y) {
                const bool done = x == 0 && y < 5;
                EXPECT_EQ(out.blend.pixel(x, y), done ? src.pixel(x, y) : kWhite);
            }
        }
    }
    // A negative distance term with a fractional B is an invalid operation.
    Frame out;
    EXPECT_EQ(ErrorOf([&] {
                  WarpFrame(out.outputs(), {src, src, lines, lines, lines, 1, 0}, {-3.5, 0.5, 0});
              }),
              "Invalid floating point operation");
    EXPECT_EQ(ErrorOf([&] {
                  WarpFrame(out.outputs(), {src, src, lines, lines, lines, 1, 0}, {2, 1, 1000});
              }),
              "Floating point overflow");
}

// One frame of a random differential case.
struct WarpCase {
    int w = 1, h = 1, n = 1;
    LineSet s{}, t{}, f{};
    WarpConstants k;
    double param = 0;
    int step = 1;
};

// Runs the reference warp and the fast warp, with 1, 2 and 3 threads at the widest vector
// level this processor has and with one thread at each narrower level (the scalar path
// included), and requires the same pictures, progress columns and error. Returns whether
// the reference warp faulted.
bool ExpectSameAsReference(const WarpCase& c, std::mt19937& rng, const std::string& name) {
    const Bitmap src = Coordinates(c.w, c.h, std::uint8_t(rng()));
    const Bitmap tgt = Coordinates(c.w, c.h, std::uint8_t(rng()));
    Frame expected{Bitmap(c.w, c.h), Bitmap(c.w, c.h), Bitmap(c.w, c.h)};
    std::vector<int> expectedColumns;
    WarpControl reference;
    reference.method = WarpMethod::Reference;
    reference.refreshStep = c.step;
    reference.progress = [&](int x) {
        expectedColumns.push_back(x);
        return false;
    };
    const std::string expectedError = ErrorOf([&] {
        WarpFrame(expected.outputs(), {src, tgt, c.s, c.t, c.f, c.n, c.param}, c.k, reference);
    });
    const int top = int(warp::SupportedKernelLevel());
    // Every level with the affine kernel, then the widest with the dividing one.
    for (int run = 0; run <= top + 1; ++run) {
        const int level = std::min(run, top);
        const bool dividing = run > top;
        warp::LimitKernelLevel(warp::KernelLevel(level));
        warp::UseKernelFormula(dividing ? warp::KernelFormula::Dividing
                                        : warp::KernelFormula::Affine);
        for (int threads = 1; threads <= (run == top ? 3 : 1); ++threads) {
            Frame actual{Bitmap(c.w, c.h), Bitmap(c.w, c.h), Bitmap(c.w, c.h)};
            std::vector<int> columns;
            WarpControl control;
            control.refreshStep = c.step;
            control.parallelSmallBlocks = true;
            control.progress = [&](int x) {
                columns.push_back(x);
                return false;
            };
            const std::string error = ErrorOf([&] {
                WarpFrame(actual.outputs(), {src, tgt, c.s, c.t, c.f, c.n, c.param}, c.k, control,
                          threads);
            });
            const std::string where = name + " level " + std::to_string(level) +
                                      (dividing ? " dividing" : "") + " threads " +
                                      std::to_string(threads);
            EXPECT_EQ(error, expectedError) << where;
            EXPECT_EQ(actual.blend, expected.blend) << where;
            EXPECT_EQ(actual.warpedSource, expected.warpedSource) << where;
            EXPECT_EQ(actual.warpedTarget, expected.warpedTarget) << where;
            EXPECT_EQ(columns, expectedColumns) << where;
            if (::testing::Test::HasFailure()) {
                run = top + 1;
                break;
            }
        }
    }
    warp::LimitKernelLevel(warp::KernelLevel::Avx512);
    warp::UseKernelFormula(warp::KernelFormula::Affine);
    return !expectedError.empty();
}

// Random frames against the reference warp, faults included: frame, Source and Target
// lines drawn independently, now and then anywhere up to the coordinate limit (short frame
// lines far away mapped onto long ones make the largest values the kernels round) or of
// zero length, pictures now and then up to 4096 wide or high (a few rows or columns: the
// kernels' column and row arithmetic is what matters), and blend parameters outside [0, 1].
TEST(Warp, MatchesTheReferenceWarpBitForBit) {
    std::mt19937 rng(20261208);
    const double as[] = {2, 1, 0, 0.5, -1, 10};
    const double bs[] = {1, 2, 0.5, 1.5, 0, 3};
    const double ps[] = {0, 0.5, 1, 0.25, 2};
    const double odd[] = {-3, 2.5, 1e7, 1e300, std::nan("")};
    constexpr int kLimit = kMaxLineCoordinate;
    int faults = 0;
    const int rounds = 240;
    for (int round = 0; round < rounds && !HasFailure(); ++round) {
        WarpCase c;
        c.w = 1 + int(rng() % 30);
        c.h = 1 + int(rng() % 30);
        if (rng() % 6 == 0) { // 4096 or up to 4096 wide and a few rows high, or turned
            const int along = rng() % 2 ? 4096 : 1000 + int(rng() % 3097);
            const int across = 1 + int(rng() % 3);
            c.w = rng() % 2 ? along : across;
            c.h = c.w == along ? across : along;
        }
        c.n = 1 + int(rng() % 6);
        const bool far = rng() % 5 == 0;
        const int reach = far ? kLimit : 3;
        auto coordinate = [&](int size) {
            if (!far) {
                return std::uniform_int_distribution<int>(-reach, size + reach)(rng);
            }
            switch (rng() % 4) {
            case 0:
                return rng() % 2 ? kLimit : -kLimit;
            case 1:
                return std::uniform_int_distribution<int>(-3, size + 3)(rng);
            default:
                return std::uniform_int_distribution<int>(-kLimit, kLimit)(rng);
            }
        };
        for (int i = 0; i < c.n; ++i) {
            for (LineSet* set : {&c.s, &c.t, &c.f}) {
                ControlLine& l = (*set)[i];
                l = {coordinate(c.w), coordinate(c.h), coordinate(c.w), coordinate(c.h)};
                if (far && set == &c.f && rng() % 3 == 0) { // a short line far away
                    l.x2 = std::clamp(l.x1 + int(rng() % 5) - 2, -kLimit, kLimit);
                    l.y2 = std::clamp(l.y1 + int(rng() % 5) - 2, -kLimit, kLimit);
                }
                if (rng() % 12 != 0 && l.x1 == l.x2 && l.y1 == l.y2) {
                    l.x2 += l.x2 < kLimit ? 1 : -1;
                }
            }
        }
        c.k = {as[rng() % 6], bs[rng() % 6], ps[rng() % 5]};
        c.param = rng() % 16 == 0 ? odd[rng() % 5] : double(rng() % 1000) / 999;
        c.step = 1 + int(rng() % unsigned(c.w));
        faults += ExpectSameAsReference(c, rng, "round " + std::to_string(round));
    }
    EXPECT_GT(faults, rounds / 20) << "the random cases should also exercise faults";
    EXPECT_LT(faults, rounds * 4 / 5) << "and mostly complete";
}

// The values the exact formula rounds for pixel (x, y) and line pair j, in its order:
// X', Y', X'', Y'' and |v|.
std::array<double, 5> ExactValues(const WarpCase& c, int j, int x, int y) {
    const ControlLine& f = c.f[std::size_t(j)];
    const double dx = double(f.x2) - f.x1;
    const double dy = double(f.y2) - f.y1;
    const double u = ((x - double(f.x1)) * dx + (y - double(f.y1)) * dy) / (dx * dx + dy * dy);
    const double v = (x * dy - y * dx + dx * f.y1 - dy * f.x1) / std::sqrt(dy * dy + dx * dx);
    std::array<double, 5> values{};
    const ControlLine* sides[2] = {&c.s[std::size_t(j)], &c.t[std::size_t(j)]};
    for (int side = 0; side < 2; ++side) {
        const ControlLine& l = *sides[side];
        const double sdx = double(l.x2) - l.x1;
        const double sdy = double(l.y2) - l.y1;
        const double slen = std::sqrt(sdy * sdy + sdx * sdx);
        values[std::size_t(2 * side)] = u * sdx + l.x1 + (sdy * v) / slen;
        values[std::size_t(2 * side + 1)] = u * sdy + l.y1 - (sdx * v) / slen;
    }
    values[4] = std::fabs(v);
    return values;
}

// Line pairs whose read positions and distances fall on rounding boundaries (x.5) or within
// a unit in the last place of one: the Source and Target lines are the frame line turned by
// quarter turns or mirrored and scaled by 1 to 4, so that their products of lengths are
// whole or rational while the formula divides by square roots one at a time, and some frame
// lines have even whole lengths (distances of x.5). Every pixel must match the reference
// warp, and the cases must really contain such values and make the affine kernel send
// pixels back.
TEST(Warp, MatchesTheReferenceWarpOnRoundingBoundaries) {
    std::mt19937 rng(905);
    const int directions[][2] = {{1, 1}, {1, 2}, {1, 3}, {2, 3}, {3, 4}, {6, 8},
                                 {4, 0}, {0, 6}, {5, 5}, {7, 1}, {2, 2}, {1, 0}};
    const double as[] = {2, 1, 0.5, 3};
    const double bs[] = {1, 2, 0.5, 1.5};
    const double ps[] = {0, 0.5, 1};
    auto turned = [&](int a, int b, int scale, int x, int y) {
        const int turns[8][4] = {{1, 0, 0, 1},  {0, -1, 1, 0}, {-1, 0, 0, -1}, {0, 1, -1, 0},
                                 {1, 0, 0, -1}, {-1, 0, 0, 1}, {0, 1, 1, 0},   {0, -1, -1, 0}};
        const int* m = turns[rng() % 8];
        return ControlLine{x, y, x + scale * (m[0] * a + m[1] * b),
                           y + scale * (m[2] * a + m[3] * b)};
    };
    long ties = 0, nearTies = 0, sentBack = 0;
    const int rounds = 60;
    for (int round = 0; round < rounds && !HasFailure(); ++round) {
        WarpCase c;
        c.w = 24;
        c.h = 24;
        c.n = 1 + int(rng() % 3);
        std::uniform_int_distribution<int> at(-6, 30);
        for (int i = 0; i < c.n; ++i) {
            const int* d = directions[rng() % std::size(directions)];
            const int a = rng() % 2 ? d[0] : -d[0];
            const int b = rng() % 2 ? d[1] : -d[1];
            c.f[std::size_t(i)] = turned(a, b, 1, at(rng), at(rng));
            c.s[std::size_t(i)] = turned(a, b, 1 + int(rng() % 4), at(rng), at(rng));
            c.t[std::size_t(i)] = turned(a, b, 1 + int(rng() % 4), at(rng), at(rng));
        }
        c.k = {as[rng() % 4], bs[rng() % 4], ps[rng() % 3]};
        c.param = double(rng() % 1000) / 999;
        c.step = 1 + int(rng() % 24);
        EXPECT_FALSE(ExpectSameAsReference(c, rng, "round " + std::to_string(round)));
        for (int j = 0; j < c.n; ++j) {
            for (int x = 0; x < c.w; ++x) {
                for (int y = 0; y < c.h; ++y) {
                    for (double value : ExactValues(c, j, x, y)) {
                        const double off = std::fabs(value - (std::floor(value) + 0.5));
                        const double ulp =
                            std::nextafter(std::fabs(value), INFINITY) - std::fabs(value);
                        ties += off == 0;
                        nearTies += off > 0 && off <= ulp;
                    }
                }
            }
        }
        const Bitmap src = Coordinates(c.w, c.h), tgt = Coordinates(c.w, c.h, 7);
        sentBack += warp::RunKernelAlone({src, tgt, c.s, c.t, c.f, c.n, c.param}, c.k,
                                         warp::KernelFormula::Affine);
    }
    EXPECT_GT(ties, 1000) << "values exactly on a boundary";
    EXPECT_GT(nearTies, 10) << "values a unit in the last place from one";
    if (warp::SupportedKernelLevel() != warp::KernelLevel::Scalar) {
        EXPECT_GT(sentBack, 1000) << "pixels the affine kernel leaves to the scalar path";
    }
}

// Random frames of real builds: line pairs interpolated in either mode by BuildFrameLineSets
// and any frame of the sequence warped at its accumulated parameter.
TEST(Warp, MatchesTheReferenceWarpOnBuiltFrames) {
    std::mt19937 rng(77);
    const double as[] = {2, 1, 0.5, 10, 1.5, 0, -2.5};
    const double bs[] = {1, 2, 0.5, 1.5, 0, 3, 0.75, -1};
    const double ps[] = {0, 0.5, 1, 0.25, 2, 1.5, 400};
    int faults = 0;
    const int rounds = 300;
    for (int round = 0; round < rounds && !HasFailure(); ++round) {
        WarpCase c;
        c.w = 1 + int(rng() % 40);
        c.h = 1 + int(rng() % 40);
        c.n = 1 + int(rng() % 12);
        std::uniform_int_distribution<int> px(-2, c.w + 1), py(-2, c.h + 1);
        LineSet source{}, target{};
        for (int i = 0; i < c.n; ++i) {
            for (LineSet* set : {&source, &target}) {
                (*set)[i] = {px(rng), py(rng), px(rng), py(rng)};
                if (rng() % 25 != 0 && (*set)[i].x1 == (*set)[i].x2 &&
                    (*set)[i].y1 == (*set)[i].y2) {
                    (*set)[i].y2 += 2;
                }
            }
        }
        const int frames = 2 + int(rng() % 7);
        const int frame = int(rng() % unsigned(frames));
        const auto mode =
            rng() % 2 ? InterpolationMode::MiddlePoints : InterpolationMode::EndPoints;
        const double step = FrameStep(frames);
        const FrameLineSets sets =
            BuildFrameLineSets(source, target, step, c.n, mode, frames, c.w, c.h);
        c.s = sets.front();
        c.t = sets.back();
        c.f = sets[std::size_t(frame)];
        for (int k = 0; k < frame; ++k) {
            c.param = c.param + step;
        }
        c.k = {as[rng() % 7], bs[rng() % 8], ps[rng() % 7]};
        c.step = 1 + int(rng() % unsigned(c.w));
        faults += ExpectSameAsReference(c, rng, "round " + std::to_string(round));
    }
    EXPECT_GT(faults, rounds / 20);
    EXPECT_LT(faults, rounds * 4 / 5);
}

TEST(FrameBuild, ChecksComeInTheOrderOfTheBuildCommands) {
    const Bitmap a(10, 10), b(10, 12);
    LineSet lines{};
    lines[0] = {1, 1, 5, 5};
    MorphSettings settings;
    auto build = [&](const Bitmap& t, int sc, int tc, MorphSettings st) {
        return ErrorOf([&] { BuildMorph({a, t, lines, sc, lines, tc}, st); });
    };
    EXPECT_EQ(build(a, 3, 2, settings), " Different Number of Lines!");
    EXPECT_EQ(build(a, 0, 0, settings), " Draw at Least ONE Line! ");
    EXPECT_EQ(build(b, 1, 1, settings), " The Images Must Have the same Height and Width!");
    settings.frames = 1;
    EXPECT_EQ(build(a, 1, 1, settings), "Floating point division by zero");
    settings.frames = 0;
    EXPECT_EQ(build(a, 1, 1, settings),
              "A morph needs at least 2 frames; 0 frames cannot be built");
    settings.frames = 3;
    settings.refreshStep = 0;
    EXPECT_EQ(build(a, 1, 1, settings), "Division by zero");
    settings.refreshStep = -1;
    EXPECT_NE(build(a, 1, 1, settings), "");
}

TEST(FrameBuild, RunsFromTheSourceToTheTarget) {
    const Bitmap src = Coordinates(16, 16, 0);
    const Bitmap tgt = Coordinates(16, 16, 255);
    LineSet s{}, t{};
    s[0] = {2, 2, 12, 3};
    t[0] = {3, 1, 13, 5};
    MorphSettings settings;
    settings.frames = 5;
    settings.keepWarped = true;
    const MorphSequence seq = BuildMorph({src, tgt, s, 1, t, 1}, settings);
    ASSERT_EQ(seq.blends.size(), 5u);
    EXPECT_EQ(seq.blends.front(), src);
    EXPECT_EQ(seq.blends.back(), tgt);
    EXPECT_EQ(seq.warpedSource.front(), src);
    EXPECT_EQ(seq.warpedTarget.back(), tgt);
    // Frame 2 equals a direct warp at t = s + s with the interpolated lines.
    Frame direct;
    const double step = 1.0 / 4;
    WarpFrame(direct.outputs(), {src, tgt, s, t, seq.lines[2], 1, step + step}, {});
    EXPECT_EQ(seq.blends[2], direct.blend);

    settings.frames = 2;
    const MorphSequence two = BuildMorph({src, tgt, s, 1, t, 1}, settings);
    EXPECT_EQ(two.blends, (std::vector<Bitmap>{src, tgt}));
}

// A range of frames is the same frames of the whole build. With 11 frames, t of frame 7 summed
// from 0 is 0.7 exactly where 7 * 0.1 is one bit more: red 0 blended with red 15 gives the tie
// 10.5 (rounded to 10) only for the summed t, so a range that multiplied t out would show 11.
TEST(FrameBuild, ARangeOfFramesHoldsTheWholeBuildsFrames) {
    Bitmap src = Coordinates(20, 14, 3);
    Bitmap tgt = Coordinates(20, 14, 200);
    for (Bitmap* picture : {&src, &tgt}) {
        const std::uint8_t red = picture == &src ? 0 : 15;
        for (int y = 0; y < picture->height(); ++y) {
            for (int x = 0; x < picture->width(); ++x) {
                picture->setPixel(x, y, (picture->pixel(x, y) & 0xFFFFFF00u) | red);
            }
        }
    }
    LineSet s{}, t{};
    s[0] = {2, 2, 15, 3};
    s[1] = {4, 11, 17, 9};
    t[0] = {3, 1, 16, 5};
    t[1] = {2, 12, 18, 12};
    MorphSettings settings;
    settings.frames = 11;
    settings.keepWarped = true;
    const MorphInputs in{src, tgt, s, 2, t, 2};
    const MorphSequence whole = BuildMorph(in, settings);
    ASSERT_EQ(whole.blends[7].pixel(0, 0) & 0xFFu, 10u);

    const struct {
        int first, last;
    } ranges[] = {{0, 0}, {0, 3}, {3, 7}, {7, 7}, {8, 10}, {10, 10}, {1, 9}, {0, 10}};
    for (const auto& r : ranges) {
        SCOPED_TRACE(std::to_string(r.first) + ":" + std::to_string(r.last));
        std::vector<int> reported;
        const MorphSequence part =
            BuildMorphFrames(in, settings, r.first, r.last, [&](int frame, int column) {
                if (column == 0) {
                    reported.push_back(frame);
                }
                return false;
            });
        const auto from = std::ptrdiff_t(r.first);
        const auto to = std::ptrdiff_t(r.last) + 1;
        EXPECT_EQ(part.lines, whole.lines);
        EXPECT_EQ(part.blends,
                  std::vector<Bitmap>(whole.blends.begin() + from, whole.blends.begin() + to));
        EXPECT_EQ(part.warpedSource, std::vector<Bitmap>(whole.warpedSource.begin() + from,
                                                         whole.warpedSource.begin() + to));
        EXPECT_EQ(part.warpedTarget, std::vector<Bitmap>(whole.warpedTarget.begin() + from,
                                                         whole.warpedTarget.begin() + to));
        std::vector<int> expected;
        for (int k = r.first; k <= r.last; ++k) {
            expected.push_back(k);
        }
        EXPECT_EQ(reported, expected);
    }
    for (const auto& r : {std::pair{-1, 2}, std::pair{3, 2}, std::pair{4, 11}}) {
        EXPECT_EQ(ErrorOf([&] { BuildMorphFrames(in, settings, r.first, r.second); }),
                  "Frames " + std::to_string(r.first) + " to " + std::to_string(r.second) +
                      " are not frames of a morph of 11 frames");
    }
}

} // namespace
} // namespace morph
