#include "platform/Canvas.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <set>
#include <utility>
#include <vector>

namespace morph {
namespace {

constexpr Colour kBackground = 0x00123456u;
constexpr Colour kPen = 0x00ABCDEFu;

using Pixels = std::set<std::pair<int, int>>;

// The pixels that differ from the background.
Pixels Drawn(const Bitmap& bitmap, Colour background = kBackground) {
    Pixels drawn;
    for (int y = 0; y < bitmap.height(); ++y) {
        for (int x = 0; x < bitmap.width(); ++x) {
            if (bitmap.pixel(x, y) != background) {
                drawn.insert({x, y});
            }
        }
    }
    return drawn;
}

Pixels Line(int width, int height, int x0, int y0, int x1, int y1) {
    Bitmap bitmap(width, height, kBackground);
    Canvas canvas(bitmap);
    canvas.setPenColour(kPen);
    canvas.MoveTo(x0, y0);
    canvas.LineTo(x1, y1);
    return Drawn(bitmap);
}

TEST(CanvasLine, LeavesOutTheFinalPixelAndMovesThere) {
    Bitmap bitmap(10, 10, kBackground);
    Canvas canvas(bitmap);
    canvas.setPenColour(kPen);
    canvas.MoveTo(2, 3);
    canvas.LineTo(6, 3);
    EXPECT_EQ(Drawn(bitmap), (Pixels{{2, 3}, {3, 3}, {4, 3}, {5, 3}}));
    EXPECT_EQ(canvas.penX(), 6);
    EXPECT_EQ(canvas.penY(), 3);
    EXPECT_EQ(bitmap.pixel(2, 3), kPen);

    // Continuing from there draws the corner pixel the first line left out.
    canvas.LineTo(6, 5);
    EXPECT_EQ(Drawn(bitmap), (Pixels{{2, 3}, {3, 3}, {4, 3}, {5, 3}, {6, 3}, {6, 4}}));
}

TEST(CanvasLine, FromAPointToItselfDrawsNothing) {
    EXPECT_TRUE(Line(10, 10, 4, 4, 4, 4).empty());
}

TEST(CanvasLine, HorizontalVerticalAndDiagonalPixels) {
    EXPECT_EQ(Line(10, 10, 7, 1, 4, 1), (Pixels{{7, 1}, {6, 1}, {5, 1}}));
    EXPECT_EQ(Line(10, 10, 4, 6, 4, 2), (Pixels{{4, 6}, {4, 5}, {4, 4}, {4, 3}}));
    EXPECT_EQ(Line(10, 10, 1, 1, 5, 5), (Pixels{{1, 1}, {2, 2}, {3, 3}, {4, 4}}));
    EXPECT_EQ(Line(10, 10, 5, 1, 1, 5), (Pixels{{5, 1}, {4, 2}, {3, 3}, {2, 4}}));
    EXPECT_EQ(Line(10, 10, 1, 1, 2, 2), (Pixels{{1, 1}}));
}

TEST(CanvasLine, ExactHalvesStayOnTheStartSide) {
    // 2:1 slopes: steps 1 and 3 lie exactly between two rows (columns).
    EXPECT_EQ(Line(10, 10, 0, 0, 4, 2), (Pixels{{0, 0}, {1, 0}, {2, 1}, {3, 1}}));
    EXPECT_EQ(Line(10, 10, 4, 2, 0, 0), (Pixels{{4, 2}, {3, 2}, {2, 1}, {1, 1}}));
    EXPECT_EQ(Line(10, 10, 0, 0, 2, 4), (Pixels{{0, 0}, {0, 1}, {1, 2}, {1, 3}}));
}

// Every line: one pixel per step of the major axis, each within half a pixel of the ideal
// line on the minor axis (which also keeps consecutive pixels touching).
TEST(CanvasLine, RandomLinesFollowTheIdealLine) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> coordinate(0, 39);
    for (int k = 0; k < 300; ++k) {
        const int x0 = coordinate(random), y0 = coordinate(random);
        const int x1 = coordinate(random), y1 = coordinate(random);
        Bitmap bitmap(40, 40, kBackground);
        Canvas canvas(bitmap);
        canvas.setPenColour(kPen);
        canvas.MoveTo(x0, y0);
        canvas.LineTo(x1, y1);
        const Pixels drawn = Drawn(bitmap);

        const int dx = x1 - x0, dy = y1 - y0;
        const bool xMajor = std::abs(dx) >= std::abs(dy);
        const int n = std::max(std::abs(dx), std::abs(dy));
        ASSERT_EQ(int(drawn.size()), n) << x0 << "," << y0 << " to " << x1 << "," << y1;
        if (n == 0) {
            continue;
        }
        EXPECT_TRUE(drawn.count({x0, y0}));
        EXPECT_FALSE(drawn.count({x1, y1}));
        for (const auto& [x, y] : drawn) {
            const int i = xMajor ? std::abs(x - x0) : std::abs(y - y0);
            ASSERT_LT(i, n);
            const double ideal = xMajor ? y0 + double(dy) * i / n : x0 + double(dx) * i / n;
            const int minor = xMajor ? y : x;
            EXPECT_LE(std::abs(minor - ideal), 0.5);
        }
    }
}

TEST(CanvasLine, ClippedLinesMatchTheUnclippedOnes) {
    // A 20 x 20 bitmap is the window at (40, 40) of a 100 x 100 one where every line fits.
    std::mt19937 random(11);
    std::uniform_int_distribution<int> coordinate(0, 99);
    for (int k = 0; k < 200; ++k) {
        const int x0 = coordinate(random), y0 = coordinate(random);
        const int x1 = coordinate(random), y1 = coordinate(random);
        Pixels expected;
        for (const auto& [x, y] : Line(100, 100, x0, y0, x1, y1)) {
            if (x >= 40 && x < 60 && y >= 40 && y < 60) {
                expected.insert({x - 40, y - 40});
            }
        }
        EXPECT_EQ(Line(20, 20, x0 - 40, y0 - 40, x1 - 40, y1 - 40), expected)
            << x0 << "," << y0 << " to " << x1 << "," << y1;
    }
}

TEST(CanvasLine, HugeCoordinatesAreClippedQuickly) {
    constexpr int lo = std::numeric_limits<std::int32_t>::min();
    constexpr int hi = std::numeric_limits<std::int32_t>::max();

    Pixels row;
    for (int x = 0; x < 20; ++x) {
        row.insert({x, 5});
    }
    EXPECT_EQ(Line(20, 10, lo, 5, hi, 5), row);
    EXPECT_EQ(Line(20, 10, hi, 5, lo, 5), row);

    Pixels diagonal;
    for (int i = 0; i < 10; ++i) {
        diagonal.insert({i, i});
    }
    EXPECT_EQ(Line(20, 10, lo, lo, hi, hi), diagonal);

    EXPECT_TRUE(Line(20, 10, lo, lo, hi, lo).empty());
    EXPECT_TRUE(Line(20, 10, hi, lo, hi, hi).empty());
    EXPECT_TRUE(Line(20, 10, -100, 50, 100, -150).empty()); // passes the corner outside
    EXPECT_TRUE(Line(0, 0, lo, lo, hi, hi).empty());
}

TEST(CanvasPen, NotXorInvertsTheXorAndDrawingTwiceRestores) {
    Bitmap bitmap(8, 1, kBackground);
    Canvas canvas(bitmap);
    canvas.setPenMode(PenMode::NotXor);
    canvas.setPenColour(kPen);
    canvas.MoveTo(0, 0);
    canvas.LineTo(8, 0);
    EXPECT_EQ(bitmap.pixel(3, 0), ~(kPen ^ kBackground) & 0x00FFFFFFu);
    canvas.MoveTo(0, 0);
    canvas.LineTo(8, 0);
    EXPECT_EQ(bitmap, Bitmap(8, 1, kBackground));

    // Not-XOR with black inverts, with white keeps the picture.
    canvas.setPenColour(0);
    canvas.MoveTo(0, 0);
    canvas.LineTo(8, 0);
    EXPECT_EQ(bitmap.pixel(0, 0), 0x00EDCBA9u);
    canvas.setPenColour(kWhite);
    canvas.MoveTo(0, 0);
    canvas.LineTo(8, 0);
    EXPECT_EQ(bitmap.pixel(0, 0), 0x00EDCBA9u);
}

TEST(CanvasPen, ByteThreeStaysZero) {
    Bitmap bitmap(4, 4, 0xFF000000u | kBackground); // a stray byte 3 from outside
    Canvas canvas(bitmap);
    canvas.setPenColour(0xFF00FF00u);
    canvas.setBrushColour(0x7F0000FFu);
    EXPECT_EQ(canvas.penColour(), 0x0000FF00u);
    canvas.MoveTo(0, 0);
    canvas.LineTo(4, 0);
    canvas.setPenMode(PenMode::NotXor);
    canvas.MoveTo(0, 1);
    canvas.LineTo(4, 1);
    canvas.FillRect(0, 2, 4, 3);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) {
            EXPECT_EQ(bitmap.pixel(x, y) >> 24, 0u) << x << "," << y;
        }
    }
    EXPECT_EQ(bitmap.pixel(0, 0), 0x0000FF00u);
    EXPECT_EQ(bitmap.pixel(0, 2), 0x000000FFu);
}

TEST(CanvasFill, RightAndBottomExclusiveAndClipped) {
    Bitmap bitmap(6, 5, kBackground);
    Canvas canvas(bitmap);
    canvas.setBrushColour(kPen);
    canvas.FillRect(1, 2, 3, 4);
    EXPECT_EQ(Drawn(bitmap), (Pixels{{1, 2}, {2, 2}, {1, 3}, {2, 3}}));

    Bitmap other(6, 5, kBackground);
    Canvas clipped(other);
    clipped.setBrushColour(kPen);
    clipped.FillRect(3, 3, 3, 5); // empty
    clipped.FillRect(4, 4, 2, 2); // inverted
    clipped.FillRect(-1000, 100, 1000, 200);
    EXPECT_TRUE(Drawn(other).empty());
    clipped.FillRect(std::numeric_limits<std::int32_t>::min(), -5, 2,
                     std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(Drawn(other).size(), 10u);
    EXPECT_EQ(other.pixel(1, 4), kPen);
    EXPECT_EQ(other.pixel(2, 0), kBackground);
}

} // namespace
} // namespace morph
