// The animation file: a 12-byte header (frame count, height, width; little-endian signed
// 32-bit) and then every pixel of every frame as a 32-bit colour 0x00BBGGRR, frame by
// frame, row by row from the top, left to right.
#pragma once

#include "platform/AtomicFile.h"
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

// Throws the MorphError WriteVqv would raise, before anything is written, for `frames`
// frames of width x height pixels that no file can hold: no frames, empty frames, or a
// frame count the header's signed 32-bit field cannot carry. Any size the header can carry
// is written; only the disk limits it.
void CheckVqvWritable(const std::string& path, std::int64_t frames, int width, int height);

// Writes the frames, all of the first frame's size, to path through a temporary file, so
// an existing file survives a failed save. Throws MorphError naming the file and the
// problem.
void WriteVqv(const std::string& path, const std::vector<Bitmap>& frames);
void WriteVqv(const std::string& path, const std::vector<const Bitmap*>& frames);

// A .vQv file written a frame at a time: the header goes first, each frame as it comes, and
// the file appears at Commit (until then it is a temporary beside it, removed when the
// writer goes uncommitted). Messages name the file as WriteVqv's do.
class VqvWriter {
  public:
    // Checks as CheckVqvWritable does, creates the temporary and writes the header.
    VqvWriter(const std::string& path, std::int64_t frames, int width, int height);
    // The next frame, of the header's size.
    void Add(const Bitmap& frame);
    // Puts the file in place; every frame of the header must have been added.
    void Commit();

  private:
    std::string path_;
    std::int64_t frames_;
    std::int64_t added_ = 0;
    int width_;
    int height_;
    AtomicFile file_;
    std::vector<unsigned char> row_;
};

// Reads and checks the header (counts and sizes at least 1, file length exactly
// 12 + 4*N*H*W) without reading the pixels.
VqvHeader ReadVqvHeader(const std::string& path);

// Reads a whole file; a cell's byte 3 is ignored. Throws MorphError naming the file and
// the problem for anything the header check refuses, frames larger than a picture can be,
// frames needing more memory than is available (before any is allocated) or a read that
// fails.
std::vector<Bitmap> ReadVqv(const std::string& path);

} // namespace morph
