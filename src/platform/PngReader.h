// PNG files read with libpng straight into a bitmap. Qt's PNG reader leaves libpng's errors to
// libpng, which prints them on stderr ("libpng error: ...") before the read fails; here they
// are kept, quietly, as the reason the picture is refused. Decoding into the bitmap itself also
// needs no second copy of the picture.
#pragma once

#include "platform/Bitmap.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace morph {

// Whether the bytes begin with the 8-byte PNG signature.
bool IsPngSignature(const unsigned char* bytes, std::size_t size);

class PngReader {
  public:
    // Reads the PNG file open as `fd` from its start, with pread (the file's position is
    // left alone).
    explicit PngReader(int fd);
    ~PngReader();
    PngReader(const PngReader&) = delete;
    PngReader& operator=(const PngReader&) = delete;

    // Reads the signature and the chunks up to the pixel data; false, with error() set, when
    // they are not a valid PNG.
    bool readHeader();
    std::int64_t width() const;
    std::int64_t height() const;

    // Memory the decoder needs besides the bitmap: a pointer per row and libpng's row buffers.
    std::int64_t decoderBytes() const;

    // Decodes every pass of the pixel data and the chunks after it into `bitmap`, which must
    // be width() x height(): the colour bytes as stored (a palette's colours, grey as three
    // equal bytes, 16-bit channels rounded to 8 bits), alpha dropped, no gamma applied.
    // False, with error() set, when the data is faulty or ends early.
    bool read(Bitmap& bitmap);

    // libpng's reason, or ours for a file that ends early or cannot be read.
    std::string error() const;

    struct State;

  private:
    std::unique_ptr<State> state_;
};

} // namespace morph
