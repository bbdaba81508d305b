// In-between line sets of a frame sequence.
#pragma once

#include "engine/ControlLine.h"

namespace morph {

enum class InterpolationMode {
    EndPoints = 0,    // both end points move linearly
    MiddlePoints = 1, // midpoint moves linearly, length and angle are interpolated
};

// Rounds to the nearest integer, ties to even, as every coordinate, size and colour byte.
double RoundHalfEven(double value);

// 1 / (frames - 1); a single frame is a division by zero.
double FrameStep(int frames);

// Interpolates the first n lines of the two sets at frame parameter t (not clamped). A line
// with a coordinate beyond kMaxLineCoordinate raises "Line coordinate <c> is out of range";
// a coordinate that does not fit in 32 bits raises "Invalid floating point operation".
LineSet InterpolateLineSet(const LineSet& source, const LineSet& target, double t, int n,
                           InterpolationMode mode);

// Pulls the first n lines into a width x height picture: negatives become 0, x past the
// right edge W - 1, y past the bottom edge H - 1.
void ClampLineSet(LineSet& lines, int n, int width, int height);

// The line set of frame `frame` of `frames` at its accumulated parameter t, as
// BuildFrameLineSets makes it: the Source set for frame 0, the Target set for the last frame.
LineSet BuildFrameLineSet(const LineSet& source, const LineSet& target, double t, int n,
                          InterpolationMode mode, int frame, int frames, int width, int height);

// Element 0 copies the Source set, element frames-1 the Target set; the frames between are
// interpolated at the accumulated parameter t = s, s + s, ... and clamped to width x height.
// Interpolated coordinates are clamped from 64 bits, so only a value beyond 64 bits raises
// "Invalid floating point operation"; the input limit is that of InterpolateLineSet.
FrameLineSets BuildFrameLineSets(const LineSet& source, const LineSet& target, double step, int n,
                                 InterpolationMode mode, int frames, int width, int height);

} // namespace morph
