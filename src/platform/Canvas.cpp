#include "platform/Canvas.h"

#include <algorithm>
#include <cstdlib>

namespace morph {

namespace {

// Wide enough for 2 * i * m with i and m up to 2^33 (differences of 32-bit coordinates).
__extension__ using Wide = __int128;

std::int64_t Sign(std::int64_t v) {
    return v > 0 ? 1 : (v < 0 ? -1 : 0);
}

} // namespace

void Canvas::PlotPixel(std::int64_t x, std::int64_t y) {
    if (x < 0 || y < 0 || x >= bitmap_->width() || y >= bitmap_->height()) {
        return;
    }
    Colour* pixel = bitmap_->row(static_cast<int>(y)) + x;
    switch (penMode_) {
    case PenMode::NotXor:
        *pixel = ~(penColour_ ^ *pixel) & kColourMask;
        break;
    case PenMode::Copy:
    default:
        *pixel = penColour_;
        break;
    }
}

// Bresenham over the major axis (x when |dx| >= |dy|, so diagonals step in x). Step i, for i
// in [0, n) with n = |major difference|, puts the pixel at major start + i and minor start +
// round(i * m / n), m = |minor difference|; exact halves round towards the start point. The
// steps are computed in closed form, so only the steps whose major coordinate falls inside
// the bitmap are visited, however far away the end points lie.
void Canvas::LineTo(std::int32_t x, std::int32_t y) {
    const std::int64_t x0 = penX_;
    const std::int64_t y0 = penY_;
    MoveTo(x, y);

    const std::int64_t width = bitmap_->width();
    const std::int64_t height = bitmap_->height();
    const std::int64_t dx = std::int64_t(x) - x0;
    const std::int64_t dy = std::int64_t(y) - y0;
    if ((dx == 0 && dy == 0) || width <= 0 || height <= 0) {
        return;
    }
    if (std::max<std::int64_t>(x0, x) < 0 || std::min<std::int64_t>(x0, x) >= width ||
        std::max<std::int64_t>(y0, y) < 0 || std::min<std::int64_t>(y0, y) >= height) {
        return;
    }

    const bool xMajor = std::llabs(dx) >= std::llabs(dy);
    const std::int64_t n = xMajor ? std::llabs(dx) : std::llabs(dy);
    const std::int64_t m = xMajor ? std::llabs(dy) : std::llabs(dx);
    const std::int64_t majorStart = xMajor ? x0 : y0;
    const std::int64_t majorStep = Sign(xMajor ? dx : dy);
    const std::int64_t majorLimit = xMajor ? width : height;
    const std::int64_t minorStart = xMajor ? y0 : x0;
    const std::int64_t minorStep = Sign(xMajor ? dy : dx);
    const std::int64_t minorLimit = xMajor ? height : width;

    // Steps whose major coordinate lies in [0, majorLimit).
    std::int64_t first = 0;
    std::int64_t last = n; // exclusive
    if (majorStep > 0) {
        first = std::max<std::int64_t>(first, -majorStart);
        last = std::min<std::int64_t>(last, majorLimit - majorStart);
    } else {
        first = std::max<std::int64_t>(first, majorStart - majorLimit + 1);
        last = std::min<std::int64_t>(last, majorStart + 1);
    }
    if (first >= last) {
        return;
    }

    // offset(i) = floor((2 * i * m + n - 1) / (2 * n)): i * m / n rounded, halves down.
    const std::int64_t twoN = 2 * n;
    const std::int64_t twoM = 2 * m;
    const Wide numerator = Wide(2) * first * m + (n - 1);
    std::int64_t offset = static_cast<std::int64_t>(numerator / twoN);
    std::int64_t remainder = static_cast<std::int64_t>(numerator % twoN);

    for (std::int64_t i = first; i < last; ++i) {
        const std::int64_t major = majorStart + majorStep * i;
        const std::int64_t minor = minorStart + minorStep * offset;
        if ((minorStep > 0 && minor >= minorLimit) || (minorStep < 0 && minor < 0)) {
            break; // moving away from the bitmap for good
        }
        if (xMajor) {
            PlotPixel(major, minor);
        } else {
            PlotPixel(minor, major);
        }
        remainder += twoM;
        if (remainder >= twoN) {
            remainder -= twoN;
            ++offset;
        }
    }
}

void Canvas::FillRect(std::int32_t left, std::int32_t top, std::int32_t right,
                      std::int32_t bottom) {
    const std::int32_t x0 = std::max<std::int32_t>(left, 0);
    const std::int32_t y0 = std::max<std::int32_t>(top, 0);
    const std::int32_t x1 = std::min<std::int32_t>(right, bitmap_->width());
    const std::int32_t y1 = std::min<std::int32_t>(bottom, bitmap_->height());
    if (x0 >= x1 || y0 >= y1) {
        return;
    }
    for (std::int32_t yy = y0; yy < y1; ++yy) {
        Colour* row = bitmap_->row(yy);
        std::fill(row + x0, row + x1, brushColour_);
    }
}

} // namespace morph
