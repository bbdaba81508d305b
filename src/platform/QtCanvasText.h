// Text on a canvas, set with Qt's font engine.
#pragma once

#include "platform/Canvas.h"

#include <string>

namespace morph {

// Pictures are pixel buffers with no resolution of their own; point sizes are turned into
// pixels at this many dots per inch (6 points = 8 pixels).
inline constexpr int kCanvasTextDpi = 96;

struct TextExtent {
    int width = 0;
    int height = 0;
};

// The size of the rectangle TextOut fills: the text's advance width by the font's height.
// Needs a QGuiApplication.
TextExtent MeasureText(const std::string& text, int pointSize);

// Writes UTF-8 text with its top-left corner at (x, y) in the application's default font
// family at pointSize points (at least 1), in fontColour, on a rectangle of the canvas's
// brush colour covering the text's extent. Clipped to the bitmap; byte 3 of every pixel stays
// zero. Empty text draws nothing. Needs a QGuiApplication (throws MorphError without one).
void TextOut(Canvas& canvas, int x, int y, const std::string& text, Colour fontColour,
             int pointSize);

} // namespace morph
