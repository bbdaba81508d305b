// Picture files through Qt's image readers and writers (Qt GUI only, no widgets).
#pragma once

#include "platform/Bitmap.h"

#include <QImage>

#include <string>

namespace morph {

// Reads any picture format Qt's image readers know (BMP, PNG, JPEG, ...); the content decides
// the format, whatever the file's name. Colour bytes are kept as stored, alpha is dropped.
// Pictures of more than kMaxBitmapPixels pixels, or needing more memory than is available, are
// refused before decoding. The process-wide QImageReader allocation limit is set for each
// picture: the largest accepted picture at 4 bytes a pixel, or the declared size at 8 bytes a
// pixel when that is more. Pictures with an orientation tag come upright. Throws MorphError
// naming the file and the reader's reason.
Bitmap LoadPicture(const std::string& path);

// Writes the bitmap as a PNG file through a temporary file beside it, so an existing file
// survives a failed save. Throws MorphError naming the file on failure.
void SavePng(const Bitmap& bitmap, const std::string& path);

// A Format_RGB32 copy of the bitmap (a null image for an empty bitmap).
QImage ToQImage(const Bitmap& bitmap);

// The colour bytes of any image, alpha dropped (an empty bitmap for a null image).
// Throws MorphError when the image is larger than kMaxBitmapPixels.
Bitmap FromQImage(const QImage& image);

} // namespace morph
