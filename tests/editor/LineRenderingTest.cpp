#include "editor/LineRendering.h"

#include "platform/QtCanvasText.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <utility>

namespace morph {
namespace {

// Line numbers need a GUI application. A widgets application serves every test of this
// program; it is made only when no other test file has made one.
class ApplicationEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        if (QCoreApplication::instance() == nullptr) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            app_ = std::make_unique<QApplication>(argc_, argv_);
        }
    }
    void TearDown() override { app_.reset(); }

  private:
    int argc_ = 1;
    char name_[16] = "editor_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment);

constexpr Colour kBlack = 0x00000000u;
constexpr Colour kBlue = 0x00FF0000u;
constexpr Colour kAqua = 0x00FFFF00u;
constexpr Colour kYellow = 0x0000FFFFu;

ControlLine MakeLine(int x1, int y1, int x2, int y2) {
    return {x1, y1, x2, y2};
}

// --- colours -------------------------------------------------------------------------------

TEST(LineColours, ByIndexAndRepeatingAfterSeventeen) {
    EXPECT_EQ(LineColour(0), kBlack);
    EXPECT_EQ(LineColour(1), kBlue);
    EXPECT_EQ(LineColour(16), kAqua);
    EXPECT_EQ(LineColour(17), kBlack);
    EXPECT_EQ(LineColour(100), kYellow); // 100 = 5 * 17 + 15
    EXPECT_EQ(LineColour(-1), kAqua);    // never outside the table
    for (Colour c : LineColours) {
        EXPECT_NE(c, kWhite);
        EXPECT_EQ(c >> 24, 0u);
    }
}

// --- arrow heads ---------------------------------------------------------------------------

struct ArrowCase {
    LinePoint start, end, first, second;
};

TEST(ArrowHead, StrokeEndsOfTheWorkedExamples) {
    const ArrowCase cases[] = {
        {{10, 10}, {70, 10}, {61, 6}, {61, 14}},
        {{10, 10}, {10, 70}, {14, 60}, {6, 60}},
        {{10, 70}, {10, 10}, {6, 20}, {14, 20}},
        {{70, 70}, {10, 10}, {15, 22}, {23, 15}},
        {{0, 0}, {60, 80}, {56, 64}, {46, 72}},
        // Reversed horizontal line: the strokes point to the right of the end.
        {{70, 10}, {10, 10}, {19, 14}, {19, 6}},
    };
    for (const ArrowCase& c : cases) {
        const ArrowHeadEnds ends = ArrowHeadStrokeEnds(c.start, c.end);
        EXPECT_EQ(ends.first, c.first) << c.start.x << "," << c.start.y;
        EXPECT_EQ(ends.second, c.second) << c.start.x << "," << c.start.y;
    }
}

TEST(ArrowHead, ShortAndEmptyLinesGetZeroStrokes) {
    for (const auto& [start, end] : {std::pair{LinePoint{10, 10}, LinePoint{12, 11}},
                                     {LinePoint{10, 10}, LinePoint{10, 8}},
                                     {LinePoint{3, 3}, LinePoint{1, 2}},
                                     {LinePoint{5, 5}, LinePoint{5, 5}}}) {
        const ArrowHeadEnds ends = ArrowHeadStrokeEnds(start, end);
        EXPECT_EQ(ends.first, end);
        EXPECT_EQ(ends.second, end);
    }

    // So a line and its arrow head from a point to itself leave the picture alone.
    Bitmap bitmap(10, 10);
    Canvas canvas(bitmap);
    Drawline({5, 5}, {5, 5}, 0, canvas, PenMode::Copy);
    DrawArrowHead({5, 5}, {5, 5}, 0, canvas, PenMode::Copy);
    EXPECT_EQ(bitmap, Bitmap(10, 10));
}

TEST(ArrowHead, FarAwayLinesDoNotOverflow) {
    constexpr int lo = std::numeric_limits<std::int32_t>::min();
    constexpr int hi = std::numeric_limits<std::int32_t>::max();
    Bitmap bitmap(10, 10);
    Canvas canvas(bitmap);
    for (const auto& [start, end] : {std::pair{LinePoint{lo, lo}, LinePoint{hi, hi}},
                                     {LinePoint{hi, lo}, LinePoint{lo, hi}},
                                     {LinePoint{lo, 0}, LinePoint{hi, 1}},
                                     {LinePoint{0, hi}, LinePoint{1, lo}}}) {
        const double dx = double(start.x) - end.x, dy = double(start.y) - end.y;
        const double sixth = std::sqrt(dx * dx + dy * dy) / 6;
        const ArrowHeadEnds ends = ArrowHeadStrokeEnds(start, end);
        for (const LinePoint& p : {ends.first, ends.second}) {
            const double sx = double(p.x) - end.x, sy = double(p.y) - end.y;
            EXPECT_GT(sx * dx + sy * dy, 0); // back towards the start
            EXPECT_LE(std::sqrt(sx * sx + sy * sy), sixth + 2);
        }
        DrawArrowHead(start, end, 3, canvas, PenMode::Copy);
    }
}

// --- drawing -------------------------------------------------------------------------------

TEST(LineRendering, LineAndArrowHeadPixels) {
    Bitmap bitmap(80, 30);
    Canvas canvas(bitmap);
    Drawline({10, 10}, {70, 10}, 1, canvas, PenMode::Copy);
    EXPECT_EQ(canvas.penMode(), PenMode::Copy);
    EXPECT_EQ(canvas.penColour(), kBlue);
    EXPECT_EQ(bitmap.pixel(10, 10), kBlue);
    EXPECT_EQ(bitmap.pixel(69, 10), kBlue);
    EXPECT_EQ(bitmap.pixel(70, 10), kWhite); // the line leaves out its end

    DrawArrowHead({10, 10}, {70, 10}, 1, canvas, PenMode::Copy);
    EXPECT_EQ(bitmap.pixel(70, 10), kBlue); // both strokes start at the end point
    EXPECT_EQ(bitmap.pixel(62, 6), kBlue);
    EXPECT_EQ(bitmap.pixel(62, 14), kBlue);
    EXPECT_EQ(bitmap.pixel(61, 6), kWhite); // and leave out theirs
    EXPECT_EQ(bitmap.pixel(61, 14), kWhite);
    EXPECT_EQ(bitmap.pixel(71, 10), kWhite);
}

TEST(LineRendering, LineSetUsesTheColourOfEachIndex) {
    LineSet set{};
    set[0] = MakeLine(2, 2, 30, 2);
    set[1] = MakeLine(2, 8, 30, 8);
    set[16] = MakeLine(2, 14, 30, 14);
    for (int i = 2; i < 16; ++i) {
        set[std::size_t(i)] = MakeLine(40, i, 40, i); // a point: draws nothing
    }
    Bitmap bitmap(50, 20);
    Canvas canvas(bitmap);
    DrawLineSet(set, 17, canvas, PenMode::Copy);
    EXPECT_EQ(bitmap.pixel(5, 2), kBlack);
    EXPECT_EQ(bitmap.pixel(5, 8), kBlue);
    EXPECT_EQ(bitmap.pixel(5, 14), kAqua);
    EXPECT_EQ(bitmap.pixel(30, 14), kAqua); // the arrow head of line 16

    Bitmap untouched(50, 20);
    Canvas none(untouched);
    DrawLineSet(set, 0, none, PenMode::Copy);
    DrawLineSet(set, -5, none, PenMode::Copy);
    EXPECT_EQ(untouched, Bitmap(50, 20));
    DrawLineSet(set, 1000, none, PenMode::Copy); // only the set's slots are read
    EXPECT_EQ(untouched.pixel(5, 14), kAqua);
}

TEST(LineRendering, NotXorTwiceRestoresTheExactPicture) {
    std::mt19937 random(2024);
    std::uniform_int_distribution<Colour> colour(0, 0x00FFFFFF);
    std::uniform_int_distribution<int> coordinate(-20, 139);
    Bitmap picture(120, 90);
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            picture.setPixel(x, y, colour(random));
        }
    }
    LineSet set{};
    const int count = 40;
    for (int i = 0; i < count; ++i) {
        set[std::size_t(i)] = MakeLine(coordinate(random), coordinate(random), coordinate(random),
                                       coordinate(random));
    }
    set[5] = MakeLine(30, 30, 30, 30);

    Bitmap bitmap = picture;
    Canvas canvas(bitmap);
    DrawLineSet(set, count, canvas, PenMode::NotXor);
    EXPECT_NE(bitmap, picture);
    DrawLineSet(set, count, canvas, PenMode::NotXor);
    EXPECT_EQ(bitmap, picture);
}

// --- line numbers --------------------------------------------------------------------------

constexpr Colour kPicture = 0x00336699u;

// The leftmost column and top row that differ from the picture colour (-1 if none).
std::pair<int, int> TopLeftChange(const Bitmap& bitmap) {
    int left = -1, top = -1;
    for (int y = 0; y < bitmap.height(); ++y) {
        for (int x = 0; x < bitmap.width(); ++x) {
            if (bitmap.pixel(x, y) != kPicture) {
                left = left < 0 ? x : std::min(left, x);
                top = top < 0 ? y : top;
            }
        }
    }
    return {left, top};
}

std::pair<int, int> NumberOrigin(const ControlLine& line) {
    LineSet set{};
    set[0] = line;
    Bitmap bitmap(40, 30, kPicture);
    Canvas canvas(bitmap);
    canvas.setBrushColour(kWhite);
    DrawLineNumbers(set, 1, canvas);
    return TopLeftChange(bitmap);
}

TEST(LineNumbers, WrittenAtTheMidpointWithHalvesToEven) {
    EXPECT_EQ(NumberOrigin(MakeLine(3, 0, 4, 0)), std::pair(4, 0)); // 3.5 -> 4
    EXPECT_EQ(NumberOrigin(MakeLine(2, 0, 3, 0)), std::pair(2, 0)); // 2.5 -> 2
    EXPECT_EQ(NumberOrigin(MakeLine(0, 5, 20, 12)), std::pair(10, 8));
    EXPECT_EQ(NumberOrigin(MakeLine(9, 9, 9, 9)), std::pair(9, 9));
}

TEST(LineNumbers, TextOfEachLineInItsColourOnTheBrush) {
    LineSet set{};
    set[0] = MakeLine(0, 0, 0, 0);
    set[1] = MakeLine(0, 40, 0, 40);
    set[9] = MakeLine(60, 0, 60, 0);
    for (int i = 2; i < 9; ++i) {
        set[std::size_t(i)] = MakeLine(500, 500, 500, 500); // off the picture
    }
    Bitmap bitmap(120, 60, kPicture);
    Canvas canvas(bitmap);
    canvas.setBrushColour(0x00EEEEEEu);
    DrawLineNumbers(set, 10, canvas);

    const auto count = [&](int x0, int y0, const TextExtent& e, Colour c) {
        int n = 0;
        for (int y = y0; y < y0 + e.height; ++y) {
            for (int x = x0; x < x0 + e.width; ++x) {
                n += bitmap.pixel(x, y) == c;
            }
        }
        return n;
    };
    const TextExtent one = MeasureText("1", kLineNumberPointSize);
    const TextExtent two = MeasureText("2", kLineNumberPointSize);
    const TextExtent ten = MeasureText("10", kLineNumberPointSize);
    // Every pixel of each text's rectangle is the brush or the line's colour.
    EXPECT_EQ(count(0, 0, one, 0x00EEEEEEu) + count(0, 0, one, LineColour(0)),
              one.width * one.height);
    EXPECT_GT(count(0, 0, one, LineColour(0)), 0);
    EXPECT_EQ(count(0, 40, two, 0x00EEEEEEu) + count(0, 40, two, kBlue), two.width * two.height);
    EXPECT_GT(count(0, 40, two, kBlue), 0);
    EXPECT_EQ(count(60, 0, ten, 0x00EEEEEEu) + count(60, 0, ten, LineColour(9)),
              ten.width * ten.height);
    EXPECT_GT(count(60, 0, ten, LineColour(9)), 0);
    // Nothing beyond the rectangles.
    EXPECT_EQ(bitmap.pixel(one.width, 0), kPicture);
    EXPECT_EQ(bitmap.pixel(60 + ten.width, 0), kPicture);
    EXPECT_EQ(bitmap.pixel(0, 40 + two.height), kPicture);
}

} // namespace
} // namespace morph
