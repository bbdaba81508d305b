#include "engine/Interpolation.h"
#include "platform/MorphError.h"

#include <gtest/gtest.h>

#include <numbers>
#include <string>

namespace morph {
namespace {

ControlLine Middle(ControlLine s, ControlLine t, double param = 0.5) {
    LineSet a{}, b{};
    a[0] = s;
    b[0] = t;
    return InterpolateLineSet(a, b, param, 1, InterpolationMode::MiddlePoints)[0];
}

// The message of the MorphError that `run` raises, "" when it raises none.
template <typename Run> std::string ErrorOf(Run run) {
    try {
        run();
    } catch (const MorphError& e) {
        return e.message();
    }
    return "";
}

ControlLine Ends(ControlLine s, ControlLine t, double param = 0.5) {
    LineSet a{}, b{};
    a[0] = s;
    b[0] = t;
    return InterpolateLineSet(a, b, param, 1, InterpolationMode::EndPoints)[0];
}

TEST(Interpolation, EndPointsMoveLinearlyWithTiesToEven) {
    EXPECT_EQ(Ends({10, 20, 30, 40}, {50, 60, 70, 80}), (ControlLine{30, 40, 50, 60}));
    EXPECT_EQ(Ends({0, 0, 1, 1}, {1, 1, 2, 2}), (ControlLine{0, 0, 2, 2}));
    EXPECT_EQ(RoundHalfEven(2.5), 2);
    EXPECT_EQ(RoundHalfEven(3.5), 4);
    EXPECT_EQ(RoundHalfEven(-2.5), -2);
}

TEST(Interpolation, MiddlePointsInEveryQuarter) {
    EXPECT_EQ(Middle({30, 40, 0, 0}, {40, 60, 0, 30}), (ControlLine{36, 50, 0, 14}));
    EXPECT_EQ(Middle({0, 40, 30, 0}, {10, 60, 50, 30}), (ControlLine{4, 50, 40, 14}));
    EXPECT_EQ(Middle({30, 0, 0, 40}, {50, 10, 10, 40}), (ControlLine{40, 4, 4, 40}));
    EXPECT_EQ(Middle({10, 50, 30, 50}, {60, 40, 60, 80}), (ControlLine{29, 44, 51, 66}));
}

TEST(Interpolation, VerticalLinesTakeTheExactRightAngleCases) {
    EXPECT_EQ(Middle({100, 50, 100, 150}, {120, 60, 120, 160}), (ControlLine{110, 55, 110, 155}));
    EXPECT_EQ(Middle({100, 150, 100, 50}, {120, 160, 120, 60}), (ControlLine{110, 155, 110, 55}));
}

TEST(Interpolation, AnglesAreInterpolatedAsNumbersTheLongWayRound) {
    EXPECT_EQ(Middle({100, 90, 0, 110}, {100, 110, 0, 90}), (ControlLine{1, 100, 101, 100}));
}

TEST(Interpolation, NearlyVerticalLinesCollapseToAPoint) {
    EXPECT_EQ(Middle({100, 50, 101, 150}, {120, 60, 121, 160}), (ControlLine{110, 105, 110, 105}));
}

TEST(Interpolation, ZeroLengthLinesAreAccepted) {
    // Angle -pi/2 for both, so the vertical case with half length 0.
    EXPECT_EQ(Middle({5, 5, 5, 5}, {7, 9, 7, 9}), (ControlLine{6, 7, 6, 7}));
    EXPECT_EQ(Ends({5, 5, 5, 5}, {7, 9, 7, 9}), (ControlLine{6, 7, 6, 7}));
}

TEST(Interpolation, ReflectsNegativeXAndClampsTheRest) {
    // A horizontal line near the left edge: theta = 0 gives x = |h + Mx| and |h - Mx|.
    ControlLine line = Middle({-1, 10, 5, 10}, {-1, 10, 5, 10}, 0.5);
    // Direction end->start points left (pi), so start |h - Mx|, end h + Mx with M=(2,10), h=3.
    EXPECT_EQ(line, (ControlLine{1, 10, 5, 10}));

    LineSet lines{};
    lines[0] = {-3, -4, 104, 57};
    lines[1] = {100, 50, 99, 49};
    ClampLineSet(lines, 1, 100, 50);
    EXPECT_EQ(lines[0], (ControlLine{0, 0, 99, 49}));
    EXPECT_EQ(lines[1], (ControlLine{100, 50, 99, 49})) << "only the first n lines are touched";
}

TEST(Interpolation, MiddlePointsReflectXButNotY) {
    // The start comes out left of the picture and is mirrored; y follows the mirrored x.
    EXPECT_EQ(Middle({-8, -12, 4, 4}, {-8, -12, 4, 4}), (ControlLine{8, 9, 4, 4}));
    // Here y1 comes out as -10: not mirrored, but clamped to 0 in the frame set.
    LineSet a{}, b{};
    a[0] = b[0] = {20, -10, 0, 0};
    EXPECT_EQ(Middle(a[0], b[0]), (ControlLine{20, -10, 0, 0}));
    const FrameLineSets sets =
        BuildFrameLineSets(a, b, FrameStep(3), 1, InterpolationMode::MiddlePoints, 3, 50, 50);
    EXPECT_EQ(sets[1][0], (ControlLine{20, 0, 0, 0}));
}

// A horizontal Source line pointing right and a Target line pointing left pass through an
// angle a rounding step below pi/2 with 13 frames (t = 0.49999999999999994 at frame 6): T is
// about 3.5e15, and with the midpoint left of the picture the reflected x makes the y of
// both end points about 7.4e17 below or above My. Outside 32 bits that is no coordinate, but
// the frame set clamps it onto the picture's edge; outside 64 bits nothing can hold it.
// (Truncated to 32 bits, both would have come out near INT_MIN + My.)
TEST(Interpolation, SteepInBetweenLinesLeftOfThePictureComputeInSixtyFourBits) {
    const auto frames = [](ControlLine s, ControlLine t) {
        LineSet a{}, b{};
        a[0] = s;
        b[0] = t;
        return BuildFrameLineSets(a, b, FrameStep(13), 1, InterpolationMode::MiddlePoints, 13, 50,
                                  40);
    };
    const struct {
        ControlLine source, target, clamped;
    } cases[] = {
        // My = -15 and My = 15: both end points go off the bottom edge.
        {{-10, -10, -200, -10}, {-200, -20, -10, -20}, {49, 39, 49, 39}},
        {{-10, 10, -200, 10}, {-200, 20, -10, 20}, {49, 39, 49, 39}},
    };
    double t = 0;
    for (int k = 0; k < 6; ++k) {
        t = t + FrameStep(13);
    }
    for (const auto& c : cases) {
        const FrameLineSets sets = frames(c.source, c.target);
        EXPECT_EQ(sets[6][0], c.clamped);
        LineSet a{}, b{};
        a[0] = c.source;
        b[0] = c.target;
        EXPECT_EQ(ErrorOf([&] { InterpolateLineSet(a, b, t, 1, InterpolationMode::MiddlePoints); }),
                  "Invalid floating point operation")
            << "unclamped, such a y is no 32-bit coordinate";
    }
    // With the midpoint a million pixels left the offset passes 64 bits as well.
    EXPECT_EQ(ErrorOf([&] {
                  frames({-999000, 10, -1000000, 10}, {-1000000, 20, -999000, 20});
              }),
              "Invalid floating point operation");
}

TEST(Interpolation, CoordinatesBeyondTheLimitAreRefused) {
    const struct {
        ControlLine second; // the Target line of pair 1
        std::string error;
    } cases[] = {
        {{0, 1000001, 10, 10}, "Line coordinate 1000001 is out of range"},
        {{0, 0, -1000001, 0}, "Line coordinate -1000001 is out of range"},
        {{-1000000, 1000000, 0, 0}, ""}, // the limit itself is fine
    };
    for (const auto& c : cases) {
        for (const InterpolationMode mode :
             {InterpolationMode::EndPoints, InterpolationMode::MiddlePoints}) {
            LineSet a{}, b{};
            a[0] = b[0] = a[1] = {0, 0, 10, 10};
            b[1] = c.second;
            EXPECT_EQ(ErrorOf([&] { InterpolateLineSet(a, b, 0.5, 2, mode); }), c.error);
            EXPECT_EQ(ErrorOf([&] { BuildFrameLineSets(a, b, 0.5, 2, mode, 3, 10, 10); }), c.error);
            EXPECT_EQ(ErrorOf([&] { InterpolateLineSet(a, b, 0.5, 1, mode); }), "")
                << "only the first n lines count";
        }
    }
}

TEST(Interpolation, FrameSetsCopyTheEndsAndAccumulateTheParameter) {
    LineSet source{}, target{};
    for (int i = 0; i < 3; ++i) {
        source[i] = {i, 10 * i, 300 + i, 7};
        target[i] = {2 * i, 0, 30, 600};
    }
    source[50] = {-9, -9, -9, -9}; // slots past the count travel with the copies
    const FrameLineSets sets = BuildFrameLineSets(source, target, FrameStep(5), 3,
                                                  InterpolationMode::EndPoints, 5, 64, 64);
    ASSERT_EQ(sets.size(), 5u);
    EXPECT_EQ(sets[0], source);
    EXPECT_EQ(sets[4], target);
    // In-between frames are clamped into the 64 x 64 picture; the end copies are not.
    EXPECT_EQ(sets[2][0], (ControlLine{0, 0, 63, 63}));

    // With four frames t runs s, s + s with s = 1/3 as a double.
    const double s = 1.0 / 3;
    LineSet a{}, b{};
    a[0] = {0, 0, 0, 0};
    b[0] = {1000000, 0, 0, 0};
    const FrameLineSets four =
        BuildFrameLineSets(a, b, FrameStep(4), 1, InterpolationMode::EndPoints, 4, 2000000, 10);
    EXPECT_EQ(four[1][0].x1, int(RoundHalfEven(s * 1000000)));
    EXPECT_EQ(four[2][0].x1, int(RoundHalfEven((1 - (s + s)) * 0 + (s + s) * 1000000)));
    EXPECT_EQ(four[3], b);
}

TEST(Interpolation, TwoFramesHoldOnlyTheCopiesAndOneFrameDividesByZero) {
    LineSet a{}, b{};
    a[0] = {1, 2, 3, 4};
    b[0] = {5, 6, 7, 8};
    const FrameLineSets two =
        BuildFrameLineSets(a, b, FrameStep(2), 1, InterpolationMode::MiddlePoints, 2, 10, 10);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[0], a);
    EXPECT_EQ(two[1], b);
    try {
        FrameStep(1);
        FAIL() << "a single frame must not build";
    } catch (const MorphError& e) {
        EXPECT_STREQ(e.what(), "Floating point division by zero");
    }
}

} // namespace
} // namespace morph
