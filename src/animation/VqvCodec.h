// The animation file: a 12-byte header (frame count, height, width; little-endian signed
// 32-bit) and then every pixel of every frame as a 32-bit colour 0x00BBGGRR, frame by
// frame, row by row from the top, left to right.
#pragma once

#include "platform/Bitmap.h"

#include <cstdint>
#include <string>
#include <vector>

namespace morph {

struct VqvHeader {
    std::int32_t frames = 0;
    std::int32_t height = 0;
    std::int32_t width = 0;
};

// Pixel data larger than this (4 * N * H * W bytes) is refused before any allocation.
inline constexpr std::int64_t kMaxVqvPixelBytes = std::int64_t(1) << 30;

// Writes the frames, all of height x width (the first frame's size when not given), to
// path through a temporary file, so an existing file survives a failed save.
// Throws MorphError naming the file and the problem.
void WriteVqv(const std::string& path, const std::vector<Bitmap>& frames);

// Reads and checks the header (counts and sizes at least 1, pixel data within the cap,
// file length exactly 12 + 4*N*H*W) without reading the pixels.
VqvHeader ReadVqvHeader(const std::string& path);

// Reads a whole file; a cell's byte 3 is ignored. Throws MorphError naming the file and
// the problem for anything the header check refuses, frames needing more memory than is
// available (before any is allocated) or a read that fails.
std::vector<Bitmap> ReadVqv(const std::string& path);

} // namespace morph
