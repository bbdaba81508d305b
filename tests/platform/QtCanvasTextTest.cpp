#include "platform/QtCanvasText.h"

#include <QGuiApplication>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>

namespace morph {
namespace {

// Text needs a GUI application; one is made for these tests, off screen, and only for them:
// the other tests of this program end child processes with exit(), which a live application
// would not survive.
class CanvasText : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (QCoreApplication::instance() == nullptr) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            app_ = new QGuiApplication(argc_, argv_);
        }
    }
    static void TearDownTestSuite() {
        delete app_;
        app_ = nullptr;
    }

  private:
    static inline int argc_ = 1;
    static inline char name_[16] = "platform_tests";
    static inline char* argv_[2] = {name_, nullptr};
    static inline QGuiApplication* app_ = nullptr;
};

constexpr Colour kPicture = 0x00336699u;
constexpr Colour kBrush = 0x00FFFFFFu;
constexpr Colour kFont = 0x000000FFu;

struct Box {
    int left = 0, top = 0, right = -1, bottom = -1; // inclusive; empty when right < left
};

// The smallest box holding every pixel that differs from the picture colour.
Box Changed(const Bitmap& bitmap) {
    Box box{bitmap.width(), bitmap.height(), -1, -1};
    for (int y = 0; y < bitmap.height(); ++y) {
        for (int x = 0; x < bitmap.width(); ++x) {
            if (bitmap.pixel(x, y) != kPicture) {
                box.left = std::min(box.left, x);
                box.top = std::min(box.top, y);
                box.right = std::max(box.right, x);
                box.bottom = std::max(box.bottom, y);
            }
        }
    }
    return box;
}

TEST_F(CanvasText, DrawsTheTextOnItsExtentInTheBrushColour) {
    Bitmap bitmap(80, 40, kPicture);
    Canvas canvas(bitmap);
    canvas.setBrushColour(kBrush);
    TextOut(canvas, 7, 5, "42", kFont, 6);

    const TextExtent extent = MeasureText("42", 6);
    ASSERT_GT(extent.width, 0);
    ASSERT_GT(extent.height, 0);
    const Box box = Changed(bitmap);
    EXPECT_EQ(box.left, 7);
    EXPECT_EQ(box.top, 5);
    EXPECT_EQ(box.right, 7 + extent.width - 1);
    EXPECT_EQ(box.bottom, 5 + extent.height - 1);

    // Unsmoothed glyphs: inside the box only brush and font colours, both present.
    int fontPixels = 0;
    for (int y = box.top; y <= box.bottom; ++y) {
        for (int x = box.left; x <= box.right; ++x) {
            const Colour c = bitmap.pixel(x, y);
            ASSERT_TRUE(c == kBrush || c == kFont) << std::hex << c << " at " << x << "," << y;
            fontPixels += c == kFont;
        }
    }
    EXPECT_GT(fontPixels, 4);
    EXPECT_EQ(bitmap.pixel(7, 5), kBrush); // the glyphs do not reach the top-left corner
}

TEST_F(CanvasText, SixPointsAreSmallAndLongerTextIsWider) {
    const TextExtent one = MeasureText("1", 6);
    const TextExtent hundred = MeasureText("100", 6);
    EXPECT_GT(hundred.width, one.width);
    EXPECT_EQ(hundred.height, one.height);
    EXPECT_GE(one.height, 6);
    EXPECT_LE(one.height, 16);
    EXPECT_GT(MeasureText("1", 24).height, one.height);
}

TEST_F(CanvasText, ByteThreeStaysZero) {
    Bitmap bitmap(30, 20, kPicture);
    Canvas canvas(bitmap);
    canvas.setBrushColour(kBrush);
    TextOut(canvas, 2, 2, "17", kFont, 6);
    TextOut(canvas, 25, 15, "99", 0x00808080u, 6); // partly outside
    for (int y = 0; y < bitmap.height(); ++y) {
        for (int x = 0; x < bitmap.width(); ++x) {
            ASSERT_EQ(bitmap.pixel(x, y) >> 24, 0u) << x << "," << y;
        }
    }
}

TEST_F(CanvasText, ClippedAtTheEdgesAndHarmlessFarAway) {
    constexpr int lo = std::numeric_limits<std::int32_t>::min();
    constexpr int hi = std::numeric_limits<std::int32_t>::max();
    Bitmap bitmap(30, 20, kPicture);
    Canvas canvas(bitmap);
    canvas.setBrushColour(kBrush);
    for (const auto& [x, y] :
         {std::pair{hi, hi}, {lo, lo}, {hi, 0}, {0, lo}, {30, 0}, {0, 20}, {-1000, 5}}) {
        TextOut(canvas, x, y, "12", kFont, 6);
    }
    TextOut(canvas, 5, 5, "", kFont, 6);
    EXPECT_EQ(bitmap, Bitmap(30, 20, kPicture));

    // Hanging over the top-left corner: the visible part starts at (0, 0).
    const TextExtent extent = MeasureText("12", 6);
    TextOut(canvas, -2, -3, "12", kFont, 6);
    const Box box = Changed(bitmap);
    EXPECT_EQ(box.left, 0);
    EXPECT_EQ(box.top, 0);
    EXPECT_EQ(box.right, extent.width - 3);
    EXPECT_EQ(box.bottom, extent.height - 4);

    Bitmap empty;
    Canvas nothing(empty);
    TextOut(nothing, 0, 0, "1", kFont, 6);
}

} // namespace
} // namespace morph
