// A picture held in memory: 32-bit colour values 0x00BBGGRR, rows from the top.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace morph {

using Colour = std::uint32_t; // byte 0 red, byte 1 green, byte 2 blue

constexpr Colour kWhite = 0x00FFFFFFu;

inline constexpr std::uint8_t RedOf(Colour c) {
    return static_cast<std::uint8_t>(c);
}
inline constexpr std::uint8_t GreenOf(Colour c) {
    return static_cast<std::uint8_t>(c >> 8);
}
inline constexpr std::uint8_t BlueOf(Colour c) {
    return static_cast<std::uint8_t>(c >> 16);
}
inline constexpr Colour RGB(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return Colour(r) | (Colour(g) << 8) | (Colour(b) << 16);
}

// Largest picture we agree to hold: 2^28 pixels (1 GiB of colour values).
constexpr std::int64_t kMaxBitmapPixels = std::int64_t(1) << 28;

class Bitmap {
  public:
    Bitmap() = default;
    // Throws MorphError when the size is negative or larger than kMaxBitmapPixels.
    Bitmap(int width, int height, Colour fill = kWhite);

    int width() const { return width_; }
    int height() const { return height_; }
    bool empty() const { return pixels_.empty(); }
    bool sameSize(const Bitmap& other) const {
        return width_ == other.width_ && height_ == other.height_;
    }

    Colour pixel(int x, int y) const { return pixels_[index(x, y)]; }
    void setPixel(int x, int y, Colour c) { pixels_[index(x, y)] = c; }
    bool contains(int x, int y) const { return x >= 0 && y >= 0 && x < width_ && y < height_; }

    Colour* row(int y) { return pixels_.data() + std::size_t(y) * std::size_t(width_); }
    const Colour* row(int y) const { return pixels_.data() + std::size_t(y) * std::size_t(width_); }
    Colour* data() { return pixels_.data(); }
    const Colour* data() const { return pixels_.data(); }
    std::size_t pixelCount() const { return pixels_.size(); }

    void fill(Colour c);
    // Makes the bitmap width x height, every pixel `fill`.
    void reset(int width, int height, Colour fill = kWhite);

    bool operator==(const Bitmap& other) const = default;

  private:
    std::size_t index(int x, int y) const {
        return std::size_t(y) * std::size_t(width_) + std::size_t(x);
    }

    int width_ = 0;
    int height_ = 0;
    std::vector<Colour> pixels_;
};

} // namespace morph
