#include "platform/Bitmap.h"

#include "platform/MorphError.h"

#include <algorithm>
#include <string>

namespace morph {

Bitmap::Bitmap(int width, int height, Colour fill) {
    reset(width, height, fill);
}

void Bitmap::reset(int width, int height, Colour fill) {
    if (width < 0 || height < 0) {
        throw MorphError("Invalid picture size " + std::to_string(width) + " x " +
                         std::to_string(height));
    }
    const std::int64_t count = std::int64_t(width) * std::int64_t(height);
    if (count > kMaxBitmapPixels) {
        throw MorphError("A picture of " + std::to_string(width) + " x " + std::to_string(height) +
                         " pixels is too large");
    }
    width_ = width;
    height_ = height;
    pixels_.assign(std::size_t(count), fill);
}

void Bitmap::fill(Colour c) {
    std::fill(pixels_.begin(), pixels_.end(), c);
}

} // namespace morph
