// A drawing surface over a bitmap: a 1-pixel solid pen with a raster mode, a current
// position, a brush for filled rectangles. Everything drawn is clipped to the bitmap.
#pragma once

#include "platform/Bitmap.h"

#include <cstdint>

namespace morph {

// The raster operations of the pen. The values are the platform's pen-mode numbers.
enum class PenMode : int {
    Copy = 4,    // the pixel takes the pen colour
    NotXor = 15, // the pixel becomes ~(pen ^ pixel): drawing the same thing twice restores it
};

class Canvas {
  public:
    explicit Canvas(Bitmap& bitmap) : bitmap_(&bitmap) {}

    Bitmap& bitmap() { return *bitmap_; }
    const Bitmap& bitmap() const { return *bitmap_; }

    // Colours are kept to their three colour bytes; byte 3 of a pixel is never set.
    Colour penColour() const { return penColour_; }
    void setPenColour(Colour c) { penColour_ = c & kColourMask; }
    PenMode penMode() const { return penMode_; }
    void setPenMode(PenMode mode) { penMode_ = mode; }
    Colour brushColour() const { return brushColour_; }
    void setBrushColour(Colour c) { brushColour_ = c & kColourMask; }

    std::int32_t penX() const { return penX_; }
    std::int32_t penY() const { return penY_; }

    void MoveTo(std::int32_t x, std::int32_t y) {
        penX_ = x;
        penY_ = y;
    }

    // Draws from the current position to (x, y), leaving out the final pixel, and makes
    // (x, y) the current position. A line from a point to itself draws nothing.
    void LineTo(std::int32_t x, std::int32_t y);

    // Fills [left, right) x [top, bottom) with the brush colour; empty when right <= left or
    // bottom <= top.
    void FillRect(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom);

    // Applies the pen to one pixel; nothing happens outside the bitmap.
    void PlotPixel(std::int64_t x, std::int64_t y);

    static constexpr Colour kColourMask = 0x00FFFFFFu;

  private:
    Bitmap* bitmap_;
    Colour penColour_ = 0;
    PenMode penMode_ = PenMode::Copy;
    Colour brushColour_ = kWhite;
    std::int32_t penX_ = 0;
    std::int32_t penY_ = 0;
};

} // namespace morph
