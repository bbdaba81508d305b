// Drawing control lines on canvases: one directed line with its arrow head, a whole line set,
// and the numbers of the lines. Every line the program draws goes through these routines, so
// line i has the same colour everywhere.
#pragma once

#include "engine/ControlLine.h"
#include "engine/LineColours.h"
#include "platform/Bitmap.h"
#include "platform/Canvas.h"

#include <array>
#include <cstdint>

namespace morph {

// An integer picture coordinate, x to the right and y downwards.
struct LinePoint {
    std::int32_t x = 0;
    std::int32_t y = 0;

    bool operator==(const LinePoint&) const = default;
};

inline constexpr LinePoint StartOf(const ControlLine& line) {
    return {line.x1, line.y1};
}
inline constexpr LinePoint EndOf(const ControlLine& line) {
    return {line.x2, line.y2};
}

// Point size of the line numbers.
inline constexpr int kLineNumberPointSize = 6;

// Sets the canvas's pen mode and the line's colour, and draws from start to end, leaving out
// the end pixel.
void Drawline(LinePoint start, LinePoint end, int index, Canvas& canvas, PenMode mode);

// Where the two strokes of the arrow head at `end` finish: the first at the line's angle plus
// 22.5 degrees, the second at the angle minus 22.5 degrees, each a sixth of the line's length
// long, pointing back towards the start. Both are `end` for a line of length 0. Coordinates
// beyond the 32-bit range (possible only for end points near that range) are clamped to it.
struct ArrowHeadEnds {
    LinePoint first;
    LinePoint second;
};
ArrowHeadEnds ArrowHeadStrokeEnds(LinePoint start, LinePoint end);

// Sets the pen mode and the line's colour, and draws both strokes from `end`.
void DrawArrowHead(LinePoint start, LinePoint end, int index, Canvas& canvas, PenMode mode);

// Lines 0 .. count - 1 of the set, each line then its arrow head, in order. Counts beyond the
// set's slots are taken as the number of slots; a count of 0 or less draws nothing.
void DrawLineSet(const LineSet& set, int count, Canvas& canvas, PenMode mode);

// Writes i + 1 for each line i at the line's midpoint (halves rounded to even), in the line's
// colour at 6 points on the canvas's current brush. Needs a QGuiApplication.
void DrawLineNumbers(const LineSet& set, int count, Canvas& canvas);

} // namespace morph
