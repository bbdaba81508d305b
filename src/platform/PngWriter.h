// Frames encoded as PNG with libpng, in memory. Tuned for speed, since a render writes many
// frames: every row filtered with Paeth and compressed with zlib's run-length strategy, which
// on the morphs' smooth pictures is about five times as fast as the usual settings and gives
// files of about the same size.
#pragma once

#include "platform/Bitmap.h"

#include <string>

namespace morph {

// The whole PNG file of an 8-bit RGB picture of the bitmap's colours. Throws MorphError with
// libpng's reason (or for an empty bitmap); `path` only names the picture in the message.
std::string EncodePng(const Bitmap& bitmap, const std::string& path);

// Writes bytes to `path` through a temporary file renamed over it, so that an older file of
// that name stays as it was when the write fails.
void WriteFileAtomically(const std::string& path, const std::string& bytes);

} // namespace morph
