// Picture files through Qt's image readers and writers (Qt GUI only, no widgets).
#pragma once

#include "platform/Bitmap.h"

#include <QImage>

#include <string>

namespace morph {

// Reads any picture format Qt's image readers know (BMP, PNG, JPEG, ...); the content decides
// the format, whatever the file's name. PNG files are read with libpng directly (see
// PngReader.h). Colour bytes are kept as stored, alpha is dropped. Only a regular file is
// opened (a FIFO never makes it wait). Pictures of more than kMaxBitmapPixels pixels, or whose
// load needs more memory at its peak than is available, are refused before decoding, and so
// are BMP and JPEG files that end before their pixel data does. The process-wide QImageReader
// allocation limit is set for each picture: the largest accepted picture at 4 bytes a pixel,
// or the declared size at 8 bytes a pixel when that is more. Pictures with an orientation tag
// come upright. Throws MorphError naming the file and the reason, a lack of memory included.
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
