#include "engine/Interpolation.h"

#include "platform/MorphError.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <numbers>

namespace morph {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kHalfPi = std::numbers::pi / 2.0;

// Coordinates of the inputs are within kMaxLineCoordinate, so every midpoint, length and
// horizontal offset stays far inside the 32-bit range and the cast never sees an
// out-of-range value. Only the vertical offsets can grow without bound (see VerticalOffset).
std::int32_t RoundToInt(double value) {
    return static_cast<std::int32_t>(RoundHalfEven(value));
}

std::int32_t Lerp(std::int32_t source, std::int32_t target, double t) {
    return RoundToInt((1 - t) * source + t * target);
}

// Direction from the end point towards the start point, in [0, 2*pi).
double LineAngle(const ControlLine& line) {
    double angle;
    if (line.x1 == line.x2) {
        angle = line.y2 < line.y1 ? kHalfPi : -kHalfPi;
    } else {
        angle = std::atan2(double(line.y1 - line.y2), double(line.x1 - line.x2));
    }
    if (angle < 0) {
        angle = angle + kTwoPi;
    }
    return angle;
}

std::int32_t RoundedLength(const ControlLine& line) {
    const std::int64_t dx = std::int64_t(line.x1) - line.x2;
    const std::int64_t dy = std::int64_t(line.y1) - line.y2;
    return RoundToInt(std::sqrt(double(dx * dx + dy * dy)));
}

// An interpolated line before it is clamped: a middle-point line's y can pass the 32-bit range.
struct WideLine {
    std::int64_t x1 = 0;
    std::int64_t y1 = 0;
    std::int64_t x2 = 0;
    std::int64_t y2 = 0;

    WideLine(std::int64_t ax1, std::int64_t ay1, std::int64_t ax2, std::int64_t ay2)
        : x1(ax1), y1(ay1), x2(ax2), y2(ay2) {}
    WideLine(const ControlLine& line) : WideLine(line.x1, line.y1, line.x2, line.y2) {}
};

// My + Round((x - Mx) * T), the y of an end point from its already rounded x. With theta
// within rounding of +-pi/2 but not equal to it, T is about 1.6e16, and an x reflected at 0
// leaves x - Mx far from 0: the offset then passes every 32-bit value. It is computed in
// double and 64 bits instead; like every real that becomes a whole number, one beyond 64 bits
// is an invalid operation.
std::int64_t YAlongSlope(std::int32_t my, std::int32_t x, std::int32_t mx, double tangent) {
    constexpr double kTwo63 = 9223372036854775808.0;
    const double offset = RoundHalfEven(double(x - mx) * tangent);
    std::int64_t y = 0;
    if (!(std::fabs(offset) < kTwo63) ||
        __builtin_add_overflow(std::int64_t(my), static_cast<std::int64_t>(offset), &y)) {
        throw MorphError(kInvalidOperation);
    }
    return y;
}

ControlLine InterpolateEndPoints(const ControlLine& s, const ControlLine& d, double t) {
    return {Lerp(s.x1, d.x1, t), Lerp(s.y1, d.y1, t), Lerp(s.x2, d.x2, t), Lerp(s.y2, d.y2, t)};
}

WideLine InterpolateMiddlePoints(const ControlLine& s, const ControlLine& e, double t) {
    const std::int32_t msx = RoundToInt((double(s.x1) + s.x2) / 2);
    const std::int32_t msy = RoundToInt((double(s.y1) + s.y2) / 2);
    const std::int32_t mtx = RoundToInt((double(e.x1) + e.x2) / 2);
    const std::int32_t mty = RoundToInt((double(e.y1) + e.y2) / 2);
    const std::int32_t mx = Lerp(msx, mtx, t);
    const std::int32_t my = Lerp(msy, mty, t);

    const std::int32_t length = Lerp(RoundedLength(s), RoundedLength(e), t);
    const std::int32_t h = RoundToInt(length / 2.0);

    double theta = (1 - t) * LineAngle(s) + t * LineAngle(e);
    if (theta > kPi) {
        theta = theta - kTwoPi;
    }
    const double tangent = std::tan(theta);

    if (theta == -kHalfPi) {
        return {mx, std::abs(h - my), mx, std::abs(h + my)};
    }
    if (theta == kHalfPi) {
        return {mx, std::abs(h + my), mx, std::abs(h - my)};
    }
    if (theta == kPi) {
        return {std::abs(h - mx), my, h + mx, my};
    }
    if (theta == kTwoPi || theta == 0) {
        return {std::abs(h + mx), my, std::abs(h - mx), my};
    }
    const double d = h / std::sqrt(tangent * tangent + 1);
    std::int32_t x1;
    std::int32_t x2;
    if ((tangent > 0 && theta > 0) || (tangent <= 0 && theta <= 0)) {
        x1 = std::abs(RoundToInt(mx + d));
        x2 = std::abs(RoundToInt(mx - d));
    } else {
        x1 = std::abs(RoundToInt(mx - d));
        x2 = std::abs(RoundToInt(mx + d));
    }
    return {x1, YAlongSlope(my, x1, mx, tangent), x2, YAlongSlope(my, x2, mx, tangent)};
}

WideLine InterpolateLine(const ControlLine& source, const ControlLine& target, double t,
                         InterpolationMode mode) {
    CheckLineCoordinates(source);
    CheckLineCoordinates(target);
    return mode == InterpolationMode::EndPoints ? InterpolateEndPoints(source, target, t)
                                                : InterpolateMiddlePoints(source, target, t);
}

std::int32_t Clamped(std::int64_t value, int limit) {
    if (value < 0) {
        value = 0;
    }
    if (value >= limit) {
        value = limit - 1;
    }
    return static_cast<std::int32_t>(value);
}

} // namespace

double RoundHalfEven(double value) {
    return std::nearbyint(value);
}

double FrameStep(int frames) {
    if (frames - 1 == 0) {
        throw MorphError(kFloatDivideByZero);
    }
    return 1.0 / (frames - 1);
}

LineSet InterpolateLineSet(const LineSet& source, const LineSet& target, double t, int n,
                           InterpolationMode mode) {
    LineSet result{};
    for (int i = 0; i < n && i < LineSlots; ++i) {
        const WideLine line = InterpolateLine(source[i], target[i], t, mode);
        for (const std::int64_t c : {line.x1, line.y1, line.x2, line.y2}) {
            if (c < std::numeric_limits<std::int32_t>::min() ||
                c > std::numeric_limits<std::int32_t>::max()) {
                throw MorphError(kInvalidOperation);
            }
        }
        result[i] = {std::int32_t(line.x1), std::int32_t(line.y1), std::int32_t(line.x2),
                     std::int32_t(line.y2)};
    }
    return result;
}

void ClampLineSet(LineSet& lines, int n, int width, int height) {
    for (int i = 0; i < n && i < LineSlots; ++i) {
        ControlLine& line = lines[i];
        line = {Clamped(line.x1, width), Clamped(line.y1, height), Clamped(line.x2, width),
                Clamped(line.y2, height)};
    }
}

LineSet BuildFrameLineSet(const LineSet& source, const LineSet& target, double t, int n,
                          InterpolationMode mode, int frame, int frames, int width, int height) {
    if (frame == 0) {
        return source;
    }
    if (frame == frames - 1) {
        return target;
    }
    // Each in-between line is clamped as it comes out, in 64 bits: a y past the 32-bit range
    // lands on the picture's edge like any other y outside it.
    LineSet set{};
    for (int i = 0; i < n && i < LineSlots; ++i) {
        const WideLine line = InterpolateLine(source[i], target[i], t, mode);
        set[i] = {Clamped(line.x1, width), Clamped(line.y1, height), Clamped(line.x2, width),
                  Clamped(line.y2, height)};
    }
    return set;
}

FrameLineSets BuildFrameLineSets(const LineSet& source, const LineSet& target, double step, int n,
                                 InterpolationMode mode, int frames, int width, int height) {
    FrameLineSets sets(std::size_t(frames < 0 ? 0 : frames));
    if (sets.empty()) {
        return sets;
    }
    sets.front() = source;
    sets.back() = target;
    double t = step;
    for (int k = 1; k <= frames - 2; ++k) {
        sets[std::size_t(k)] =
            BuildFrameLineSet(source, target, t, n, mode, k, frames, width, height);
        t = t + step;
    }
    return sets;
}

} // namespace morph
