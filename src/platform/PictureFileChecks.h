// Checks on picture files that the image readers leave out. A run-length BMP or a JPEG that
// ends early is taken by them without an error, the part never read made up; and a JPEG
// decoder may hold more memory than the picture itself.
#pragma once

#include <cstdint>
#include <vector>

namespace morph {

// The bytes of an open file, read at any offset a block at a time (pread: the file's own
// position is left alone for whoever else reads it).
class FileBytes {
  public:
    FileBytes(int fd, std::int64_t size) : fd_(fd), size_(size) {}

    // The byte at `offset`, or -1 past the end of the file (or when it cannot be read).
    int at(std::int64_t offset);
    std::int64_t size() const { return size_; }

  private:
    int fd_;
    std::int64_t size_;
    std::vector<unsigned char> block_;
    std::int64_t blockStart_ = 0;
};

// Whether BMP run-length data (RLE8 for 8 bits a pixel, RLE4 for 4) starting at `start`
// reaches its end-of-bitmap code, or the end of its last row, before the file ends.
bool RunLengthDataComplete(FileBytes& bytes, std::int64_t start, std::int64_t width,
                           std::int64_t height, int bitsPerPixel);

struct JpegLayout {
    // The file reaches its end-of-image marker, or has a fault the decoder will refuse it
    // for; false when the file ends before that marker.
    bool complete = true;
    // Bytes the decoder holds besides the decoded picture: the coefficients of the whole
    // picture, for a progressive JPEG or one whose first scan leaves out a component.
    std::int64_t decoderBytes = 0;
};

// Walks the markers of a JPEG file (which starts with its start-of-image marker).
JpegLayout ReadJpegLayout(FileBytes& bytes);

} // namespace morph
