#include "editor/LineRendering.h"

#include "platform/QtCanvasText.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

namespace morph {

namespace {

constexpr double kPiOver8 = 0.39269908169872414;

std::int32_t ToCoordinate(double value) {
    constexpr double lowest = std::numeric_limits<std::int32_t>::min();
    constexpr double highest = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(std::clamp(value, lowest, highest));
}

// One stroke for the angle a, from (x2, y2) back towards the start.
LinePoint StrokeEnd(LinePoint end, double strokeLength, double a) {
    const double t = std::tan(a);
    const double w = strokeLength / std::sqrt(t * t + 1); // strokeLength * |cos a|
    const double c = std::cos(a);
    double x = end.x;
    if (c > 0) {
        x = std::nearbyint(end.x - w);
    } else if (c < 0) {
        x = std::nearbyint(end.x + w);
    }
    const double y = end.y + std::nearbyint((x - end.x) * t);
    return {ToCoordinate(x), ToCoordinate(y)};
}

int ClampCount(int count) {
    return std::clamp(count, 0, LineSlots);
}

} // namespace

void Drawline(LinePoint start, LinePoint end, int index, Canvas& canvas, PenMode mode) {
    canvas.setPenMode(mode);
    canvas.setPenColour(LineColour(index));
    canvas.MoveTo(start.x, start.y);
    canvas.LineTo(end.x, end.y);
}

ArrowHeadEnds ArrowHeadStrokeEnds(LinePoint start, LinePoint end) {
    // Differences of 32-bit coordinates are exact in doubles.
    const double dx = double(end.x) - double(start.x);
    const double dy = double(end.y) - double(start.y);
    const double length = std::sqrt(dx * dx + dy * dy);
    const double strokeLength = length / 6;
    const double theta = std::atan2(dy, dx);
    return {StrokeEnd(end, strokeLength, theta + kPiOver8),
            StrokeEnd(end, strokeLength, theta - kPiOver8)};
}

void DrawArrowHead(LinePoint start, LinePoint end, int index, Canvas& canvas, PenMode mode) {
    canvas.setPenMode(mode);
    canvas.setPenColour(LineColour(index));
    const ArrowHeadEnds ends = ArrowHeadStrokeEnds(start, end);
    canvas.MoveTo(end.x, end.y);
    canvas.LineTo(ends.first.x, ends.first.y);
    canvas.MoveTo(end.x, end.y);
    canvas.LineTo(ends.second.x, ends.second.y);
}

void DrawLineSet(const LineSet& set, int count, Canvas& canvas, PenMode mode) {
    const int n = ClampCount(count);
    for (int i = 0; i < n; ++i) {
        const LinePoint start = StartOf(set[std::size_t(i)]);
        const LinePoint end = EndOf(set[std::size_t(i)]);
        Drawline(start, end, i, canvas, mode);
        DrawArrowHead(start, end, i, canvas, mode);
    }
}

void DrawLineNumbers(const LineSet& set, int count, Canvas& canvas) {
    const int n = ClampCount(count);
    for (int i = 0; i < n; ++i) {
        const ControlLine& line = set[std::size_t(i)];
        const double x = std::nearbyint((double(line.x1) + double(line.x2)) / 2);
        const double y = std::nearbyint((double(line.y1) + double(line.y2)) / 2);
        TextOut(canvas, static_cast<int>(x), static_cast<int>(y), std::to_string(i + 1),
                LineColour(i), kLineNumberPointSize);
    }
}

} // namespace morph
