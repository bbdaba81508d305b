// Why a frame looks the way it does: which line pair moves each pixel most, and how far each
// pixel is read from in the Source picture. Tells a user where to add or move a line.
#pragma once

#include "engine/Warp.h"

namespace morph {

// What the warp does at one pixel of a frame.
struct PixelInfluence {
    int strongest = 0;  // the line pair of the largest weight (the first of equal ones)
    double share = 0;   // its weight over the sum of all weights, 0 .. 1
    double sourceX = 0; // where the pixel is read from in the Source picture
    double sourceY = 0;
    double displacement = 0; // the distance from the pixel to (sourceX, sourceY)
};

// The pixel (x, y) of the frame `in` describes (its pictures give the size), by the reference
// warp's formulas: with the default options the rounded mapped points and distances, the
// weight of the whole distance and the nearest pixel (clamped to the picture); otherwise real
// mapped points and distances with the chosen distance, and the read position of the pixel's
// centre clamped to the picture. Faults raise the warp's messages.
PixelInfluence InfluenceAt(const WarpInputs& in, const WarpConstants& constants, int x, int y);

struct InfluencePictures {
    // Every pixel in its strongest line's colour, scaled by that line's share (rounded half to
    // even per channel), then the frame's lines on top, each in its colour on a white border.
    Bitmap influence;
    // The displacement as a heat map from black (none) through blue, red and yellow to white
    // (the frame's largest, or 1 pixel when that is less), with a legend strip along the bottom giving 0 and the largest
    // displacement in whole pixels, when the picture is large enough for it.
    Bitmap displacement;
};

// Both pictures of the frame, pixels taken in column order so that a fault is that of the
// warp's first faulty pixel. The inputs must be what WarpFrame accepts.
InfluencePictures LineInfluence(const WarpInputs& in, const WarpConstants& constants);

// The heat map colour of `value` in 0 .. 1 (values outside are clamped).
Colour HeatColour(double value);

} // namespace morph
