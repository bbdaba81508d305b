// The line influence and displacement pictures against hand computations and the warp.
#include "engine/Influence.h"
#include "engine/LineColours.h"
#include "platform/MorphError.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace morph {
namespace {

LineSet Lines(const std::vector<ControlLine>& lines) {
    LineSet set{};
    for (std::size_t i = 0; i < lines.size(); ++i) {
        set[i] = lines[i];
    }
    return set;
}

// Every pixel a colour of its own, so that a read pixel tells where it was read from.
Bitmap Numbered(int width, int height) {
    Bitmap b(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            b.setPixel(x, y, RGB(std::uint8_t(x), std::uint8_t(y), 7));
        }
    }
    return b;
}

TEST(LineInfluence, OneLinePairHasItsColourAtFullShareEverywhere) {
    const Bitmap picture(20, 14);
    const LineSet set = Lines({{3, 4, 15, 9}});
    const LineSet moved = Lines({{5, 2, 12, 11}});
    const WarpInputs in{picture, picture, moved, set, set, 1, 0.5};
    const InfluencePictures pictures = LineInfluence(in, {2.0, 1.0, 0.5});
    for (int x = 0; x < 20; ++x) {
        for (int y = 0; y < 14; ++y) {
            const PixelInfluence p = InfluenceAt(in, {2.0, 1.0, 0.5}, x, y);
            EXPECT_EQ(p.strongest, 0);
            EXPECT_EQ(p.share, 1.0);
        }
    }
    // Away from the line and its white border.
    EXPECT_EQ(pictures.influence.pixel(0, 13), LineColour(0));
    EXPECT_EQ(pictures.influence.pixel(19, 0), LineColour(0));
    EXPECT_EQ(pictures.influence.pixel(3, 4), LineColour(0)); // the line itself
    EXPECT_EQ(pictures.influence.pixel(3, 3), kWhite);        // its border
}

// Two horizontal lines at y = 2 and y = 8 with a = 1, b = 1, p = 0: the weights are
// 1 / (|y - 2| + 1) and 1 / (|y - 8| + 1), equal at y = 5 (the first line wins the tie).
TEST(LineInfluence, TwoPairsSplitWhereTheirWeightsCross) {
    const Bitmap picture(12, 14);
    const LineSet set = Lines({{0, 2, 10, 2}, {0, 8, 10, 8}});
    const WarpInputs in{picture, picture, set, set, set, 2, 0};
    const WarpConstants k{1.0, 1.0, 0.0};
    const InfluencePictures pictures = LineInfluence(in, k);
    struct Case {
        int y;
        int strongest;
        double share;
        std::uint8_t blue; // of line 1's blue, scaled by the share and rounded
    };
    const Case cases[] = {
        {0, 0, (1.0 / 3) / (1.0 / 3 + 1.0 / 9), 0},
        {4, 0, (1.0 / 3) / (1.0 / 3 + 1.0 / 5), 0},
        {5, 0, 0.5, 0},
        {6, 1, (1.0 / 3) / (1.0 / 3 + 1.0 / 5), 159},   // 255 * 0.625 = 159.375
        {10, 1, 0.75, 191},                             // 255 * 0.75 = 191.25
        {11, 1, (1.0 / 4) / (1.0 / 4 + 1.0 / 10), 182}, // 182.14...
        {13, 1, (1.0 / 6) / (1.0 / 6 + 1.0 / 12), 170}, // 2 / 3 of 255
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("y = " + std::to_string(c.y));
        const PixelInfluence p = InfluenceAt(in, k, 11, c.y);
        EXPECT_EQ(p.strongest, c.strongest);
        EXPECT_NEAR(p.share, c.share, 1e-12);
        if (c.strongest == 1) {
            EXPECT_EQ(pictures.influence.pixel(11, c.y), RGB(0, 0, c.blue));
        } else {
            EXPECT_EQ(pictures.influence.pixel(11, c.y), LineColour(0));
        }
    }
}

TEST(LineInfluence, DisplacementIsZeroAtTheFirstFrameWithTheSameLines) {
    const Bitmap picture(30, 20);
    const LineSet set = Lines({{3, 4, 25, 6}, {8, 17, 12, 2}});
    for (const WarpOptions options :
         {WarpOptions{}, WarpOptions{WarpDistance::Segment, WarpSampling::Bilinear, 2}}) {
        const WarpInputs in{picture, picture, set, set, set, 2, 0, options};
        const InfluencePictures pictures = LineInfluence(in, {2.0, 1.0, 0.0});
        for (int x = 0; x < 30; ++x) {
            for (int y = 0; y < 20; ++y) {
                EXPECT_NEAR(InfluenceAt(in, {2.0, 1.0, 0.0}, x, y).displacement, 0.0, 1e-9);
            }
        }
        EXPECT_EQ(pictures.displacement.pixel(0, 0), HeatColour(0)); // no legend at this size
        EXPECT_EQ(pictures.displacement.pixel(29, 19), HeatColour(0));
    }
}

// The pixel the warp reads from the Source is the one InfluenceAt names.
TEST(LineInfluence, ReadPositionsAreTheReferenceWarps) {
    const Bitmap source = Numbered(50, 30);
    const LineSet from = Lines({{4, 5, 30, 9}, {10, 26, 14, 3}, {35, 2, 36, 28}});
    const LineSet to = Lines({{6, 3, 33, 12}, {12, 22, 9, 6}, {30, 4, 38, 25}});
    const LineSet frame = Lines({{5, 4, 31, 10}, {11, 24, 11, 4}, {33, 3, 37, 26}});
    const WarpInputs in{source, source, from, to, frame, 3, 0.5};
    const WarpConstants k{1.5, 1.2, 0.3};
    Bitmap blend, warped, warpedTarget;
    WarpControl control;
    control.method = WarpMethod::Reference;
    WarpFrame({blend, warped, warpedTarget}, in, k, control, 1);
    double largest = 0;
    for (int x = 0; x < 50; ++x) {
        for (int y = 0; y < 30; ++y) {
            const PixelInfluence p = InfluenceAt(in, k, x, y);
            ASSERT_EQ(warped.pixel(x, y), source.pixel(int(p.sourceX), int(p.sourceY)))
                << x << ", " << y;
            EXPECT_DOUBLE_EQ(p.displacement, std::hypot(p.sourceX - x, p.sourceY - y));
            largest = std::max(largest, p.displacement);
        }
    }
    ASSERT_GT(largest, 0);
    const InfluencePictures pictures = LineInfluence(in, k);
    // The legend strip: its bar runs from the coldest to the hottest colour.
    EXPECT_EQ(pictures.displacement.pixel(2, 30 - 12 + 1), HeatColour(0));
    EXPECT_EQ(pictures.displacement.pixel(50 - 3, 30 - 12 + 1), HeatColour(1));
}

TEST(LineInfluence, HeatColoursRunFromBlackThroughBlueRedAndYellowToWhite) {
    EXPECT_EQ(HeatColour(0), RGB(0, 0, 0));
    EXPECT_EQ(HeatColour(0.25), RGB(0, 0, 255));
    EXPECT_EQ(HeatColour(0.5), RGB(255, 0, 0));
    EXPECT_EQ(HeatColour(0.75), RGB(255, 255, 0));
    EXPECT_EQ(HeatColour(1), RGB(255, 255, 255));
    EXPECT_EQ(HeatColour(-3), HeatColour(0));
    EXPECT_EQ(HeatColour(std::nan("")), HeatColour(0));
}

TEST(LineInfluence, FaultsGiveTheWarpsMessages) {
    const Bitmap picture(8, 8);
    const LineSet good = Lines({{1, 1, 6, 6}});
    const LineSet point = Lines({{3, 3, 3, 3}});
    const WarpInputs zeroFrameLine{picture, picture, good, good, point, 1, 0};
    const WarpInputs zeroSourceLine{picture, picture, point, good, good, 1, 0};
    for (const WarpInputs& in : {zeroFrameLine, zeroSourceLine}) {
        std::string warpMessage;
        try {
            Bitmap a, b, c;
            WarpControl control;
            control.method = WarpMethod::Reference;
            WarpFrame({a, b, c}, in, {2.0, 1.0, 0.0}, control, 1);
        } catch (const MorphError& e) {
            warpMessage = e.message();
        }
        ASSERT_FALSE(warpMessage.empty());
        try {
            LineInfluence(in, {2.0, 1.0, 0.0});
            ADD_FAILURE() << "no fault";
        } catch (const MorphError& e) {
            EXPECT_EQ(e.message(), warpMessage);
        }
    }
}

} // namespace
} // namespace morph
