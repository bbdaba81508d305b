// Control lines, the fixed-capacity line sets of a side and the per-frame line sets.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace morph {

// A directed segment from the press point (x1, y1) to the release point (x2, y2).
struct ControlLine {
    std::int32_t x1 = 0;
    std::int32_t y1 = 0;
    std::int32_t x2 = 0;
    std::int32_t y2 = 0;

    bool operator==(const ControlLine&) const = default;
};

// One slot more than the advertised maximum; valid lines fill slots 0..count-1.
inline constexpr int LineSlots = 101;
inline constexpr int MaxLines = 100;

using LineSet = std::array<ControlLine, LineSlots>;

// Element k holds the lines of frame k; element 0 the Source set, the last the Target set.
using FrameLineSets = std::vector<LineSet>;

// Coordinates further out than this are refused by every reader of outside data, so
// that products of coordinate differences stay exact in 64-bit integers and doubles.
inline constexpr std::int32_t kMaxLineCoordinate = 1'000'000;

// Throws MorphError "Line coordinate <c> is out of range" for a coordinate beyond
// kMaxLineCoordinate.
void CheckLineCoordinates(const ControlLine& line);

} // namespace morph
