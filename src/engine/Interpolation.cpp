#include "engine/Interpolation.h"

#include "platform/MorphError.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numbers>

namespace morph {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kHalfPi = std::numbers::pi / 2.0;

// Rounded coordinates stay far inside the 32-bit range because line coordinates are
// bounded by kMaxLineCoordinate; the cast never sees an out-of-range value.
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

ControlLine InterpolateEndPoints(const ControlLine& s, const ControlLine& d, double t) {
    return {Lerp(s.x1, d.x1, t), Lerp(s.y1, d.y1, t), Lerp(s.x2, d.x2, t), Lerp(s.y2, d.y2, t)};
}

ControlLine InterpolateMiddlePoints(const ControlLine& s, const ControlLine& e, double t) {
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
    const std::int32_t y1 = my + RoundToInt(double(x1 - mx) * tangent);
    const std::int32_t y2 = my + RoundToInt(double(x2 - mx) * tangent);
    return {x1, y1, x2, y2};
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
        result[i] = mode == InterpolationMode::EndPoints
                        ? InterpolateEndPoints(source[i], target[i], t)
                        : InterpolateMiddlePoints(source[i], target[i], t);
    }
    return result;
}

void ClampLineSet(LineSet& lines, int n, int width, int height) {
    auto clamp = [](std::int32_t& value, int limit) {
        if (value < 0) {
            value = 0;
        }
        if (value >= limit) {
            value = limit - 1;
        }
    };
    for (int i = 0; i < n && i < LineSlots; ++i) {
        clamp(lines[i].x1, width);
        clamp(lines[i].y1, height);
        clamp(lines[i].x2, width);
        clamp(lines[i].y2, height);
    }
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
        sets[k] = InterpolateLineSet(sets.front(), sets.back(), t, n, mode);
        ClampLineSet(sets[k], n, width, height);
        t = t + step;
    }
    return sets;
}

} // namespace morph
