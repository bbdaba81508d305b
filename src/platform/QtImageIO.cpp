#include "platform/QtImageIO.h"

#include "platform/AtomicFile.h"
#include "platform/InputFile.h"
#include "platform/Memory.h"
#include "platform/MorphError.h"
#include "platform/PictureFileChecks.h"
#include "platform/PngReader.h"

#include <QBuffer>
#include <QByteArray>
#include <QFile>

#include <QImageReader>
#include <QImageWriter>
#include <QSize>
#include <QString>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <new>

#include <malloc.h>
#include <unistd.h>

namespace morph {

namespace {

// What a reader may allocate, so that anything needing more is refused by the reader itself
// before it allocates: the largest picture we accept at 4 bytes a pixel, and up to 8 bytes a
// pixel (16 bits a channel) of a declared size that passed the checks. The limit follows the
// declared size rather than the largest accepted one because some readers allocate more than
// they declare (a GIF's first frame, which gives its size, may be smaller than its screen).
int ReaderAllocationLimitMiB(std::int64_t declaredPixels) {
    return int(std::max(kMaxBitmapPixels * 4, std::min(declaredPixels, kMaxBitmapPixels) * 8) >>
               20);
}

std::string Quoted(const std::string& path) {
    return "'" + path + "'";
}

[[noreturn]] void Refuse(const std::string& path, const std::string& reason) {
    throw MorphError("Cannot read the picture " + Quoted(path) + ": " + reason);
}

std::string PixelsText(std::int64_t width, std::int64_t height) {
    return std::to_string(width) + " x " + std::to_string(height) + " pixels";
}

[[noreturn]] void RefuseForMemory(const std::string& path, std::int64_t width,
                                  std::int64_t height) {
    Refuse(path, "not enough memory for its " + PixelsText(width, height));
}

void CheckPixelCount(std::int64_t width, std::int64_t height, const std::string& path) {
    if (width * height > kMaxBitmapPixels) {
        Refuse(path, PixelsText(width, height) + " is too large");
    }
}

void CheckLoadMemory(std::int64_t bytes, std::int64_t width, std::int64_t height,
                     const std::string& path) {
    CheckMemoryFor(bytes, "Cannot read the picture " + Quoted(path) + ": its " +
                              PixelsText(width, height) + " need");
}

constexpr const char* kCutShort = "the file ends before its pixel data does";

// The size the reader finds in the file's header. A BMP stored top row first declares a
// negative height; its picture is just as large.
QSize DeclaredSize(QImageReader& reader) {
    const QSize size = reader.size();
    if (size.height() >= 0) {
        return size;
    }
    return {size.width(), size.height() == std::numeric_limits<int>::min()
                              ? std::numeric_limits<int>::max()
                              : -size.height()};
}

bool IsBmp(const QByteArray& format) {
    return format == "bmp" || format == "dib";
}

bool IsJpeg(const unsigned char* magic, std::size_t size) {
    return size >= 3 && magic[0] == 0xFF && magic[1] == 0xD8 && magic[2] == 0xFF;
}

// A little-endian number of `count` bytes at `at`; -1 when the file is shorter.
std::int64_t LittleEndian(FileBytes& bytes, std::int64_t at, int count) {
    std::int64_t value = 0;
    for (int i = count - 1; i >= 0; --i) {
        const int byte = bytes.at(at + i);
        if (byte < 0) {
            return -1;
        }
        value = (value << 8) | byte;
    }
    return value;
}

// Qt's BMP reader takes a file that ends inside its pixel data, or whose pixel data would
// start past its end, without an error: the rows it did not get keep whatever the memory
// held, and a few bytes can declare a picture of a gigabyte. Uncompressed pixel data has a
// known size, so such a file is refused before the picture is allocated. Run-length data
// may rightly stop early with its end-of-bitmap code (ClearedCanvas covers what it leaves
// out), but not by running out of file.
void CheckBmpPixelData(FileBytes& bytes, const std::string& path, const QByteArray& format,
                       const QSize& size) {
    if (!size.isValid()) {
        return; // the reader tells what is wrong
    }
    const std::int64_t base = format == "bmp" ? 14 : 0; // a .dib file has no file header
    const std::int64_t infoSize = LittleEndian(bytes, base, 4);
    const bool core = infoSize == 12; // the oldest header: 16-bit sizes, never compressed
    const std::int64_t bits = LittleEndian(bytes, base + (core ? 10 : 14), 2);
    const std::int64_t compression = core ? 0 : LittleEndian(bytes, base + 16, 4);
    const std::int64_t offset = base != 0 ? LittleEndian(bytes, 10, 4) : 0;
    if (infoSize < 12 || infoSize > 124 || bits < 0 || compression < 0 || offset < 0) {
        return; // not a layout whose size is known; the reader judges it
    }
    constexpr std::int64_t kUncompressed = 0;
    constexpr std::int64_t kRle8 = 1;
    constexpr std::int64_t kRle4 = 2;
    constexpr std::int64_t kBitFields = 3;
    if ((compression == kRle8 && bits == 8) || (compression == kRle4 && bits == 4)) {
        // The reader starts at the data offset, or after the colour table when the offset
        // points into the headers.
        const std::int64_t used = core ? 0 : LittleEndian(bytes, base + 32, 4);
        const std::int64_t colours = used > 0 ? used : std::int64_t(1) << bits;
        const std::int64_t start = std::max(offset, base + infoSize + 4 * colours);
        if (!RunLengthDataComplete(bytes, start, size.width(), size.height(), int(bits))) {
            Refuse(path, kCutShort);
        }
        return;
    }
    if ((compression != kUncompressed && compression != kBitFields) ||
        (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)) {
        return; // not a layout whose size is known; the reader judges it
    }
    const std::int64_t rowBytes = (size.width() * bits + 31) / 32 * 4;
    const std::int64_t start = std::max(offset, base + infoSize);
    if (start + rowBytes * size.height() > bytes.size()) {
        Refuse(path, kCutShort);
    }
}

// The width and height a BMP header declares, read by hand (top-down pictures declare a
// negative height); invalid when the header is not one of the known layouts.
QSize BmpHeaderSize(FileBytes& bytes, const QByteArray& format) {
    const std::int64_t base = format == "bmp" ? 14 : 0; // a .dib file has no file header
    const std::int64_t infoSize = LittleEndian(bytes, base, 4);
    const bool core = infoSize == 12; // 16-bit sizes; the others 32-bit, signed
    if (!core && (infoSize < 40 || infoSize > 124)) {
        return {};
    }
    std::int64_t width = LittleEndian(bytes, base + 4, core ? 2 : 4);
    std::int64_t height = LittleEndian(bytes, base + (core ? 6 : 8), core ? 2 : 4);
    if (width < 0 || height < 0) {
        return {}; // the file ends inside the header
    }
    if (!core) {
        width = static_cast<std::int32_t>(std::uint32_t(width));
        height = std::abs(std::int64_t(static_cast<std::int32_t>(std::uint32_t(height))));
    }
    constexpr std::int64_t kLargest = std::numeric_limits<int>::max();
    if (width < 1 || height < 1) {
        return {};
    }
    return QSize(int(std::min(width, kLargest)), int(std::min(height, kLargest)));
}

// Bytes of a QImage of that format and size, rows padded to 4 bytes; 8 bytes a pixel when
// the format is not known.
std::int64_t ImageBytes(QImage::Format format, std::int64_t width, std::int64_t height) {
    const int bits = format == QImage::Format_Invalid
                         ? 64
                         : std::max(1, int(QImage::toPixelFormat(format).bitsPerPixel()));
    return PictureBytes((width * bits + 31) / 32 * 4, height, 1);
}

bool IsDirect(QImage::Format format) {
    return format == QImage::Format_ARGB32 || format == QImage::Format_RGB32;
}

// Pixels of other formats are converted a band of rows at a time, so that the picture is
// never held a third time in between.
constexpr std::int64_t kBandPixels = std::int64_t(1) << 20;

int BandRows(std::int64_t width) {
    return int(std::max<std::int64_t>(1, kBandPixels / std::max<std::int64_t>(width, 1)));
}

// The most memory loading the picture holds at once: the decoded picture, and then the
// largest of the decoder's own buffers, the upright copy made from a turned picture, and
// the bitmap with the band being converted. Readers other than BMP and JPEG are given
// 8 bytes a pixel for the decoded picture, which covers their working copies.
std::int64_t QtLoadPeakBytes(const QByteArray& format, QImage::Format imageFormat,
                             std::int64_t width, std::int64_t height, bool turned,
                             std::int64_t decoderBytes) {
    std::int64_t decoded = ImageBytes(imageFormat, width, height);
    if (!IsBmp(format) && format != "jpeg") {
        decoded = std::max(decoded, PictureBytes(width, height, 8));
    }
    const std::int64_t upright =
        turned ? std::max(decoded, ImageBytes(imageFormat, height, width)) : 0;
    const std::int64_t rows = std::min<std::int64_t>(BandRows(width), height);
    const std::int64_t band =
        IsDirect(imageFormat) ? 0 : ImageBytes(imageFormat, width, rows) + width * rows * 4;
    const std::int64_t bitmap = PictureBytes(width, height, sizeof(Colour));
    const std::int64_t after = std::max({decoderBytes, upright, bitmap + band});
    return decoded > std::numeric_limits<std::int64_t>::max() - after
               ? std::numeric_limits<std::int64_t>::max()
               : decoded + after;
}

// Qt's BMP reader decodes into the picture it is given when that has the size and format
// it needs. Given a cleared one, the pixels a run-length stream skips are colour 0 rather
// than whatever the memory held.
QImage ClearedCanvas(const QSize& size, QImage::Format format) {
    QImage canvas;
    if (size.isValid() && format != QImage::Format_Invalid) {
        canvas = QImage(size, format);
        if (!canvas.isNull()) {
            canvas.fill(0);
        }
    }
    return canvas;
}

} // namespace

QImage ToQImage(const Bitmap& bitmap) {
    if (bitmap.empty()) {
        return QImage();
    }
    QImage image(bitmap.width(), bitmap.height(), QImage::Format_RGB32);
    if (image.isNull()) {
        throw MorphError("Not enough memory for a picture of " + std::to_string(bitmap.width()) +
                         " x " + std::to_string(bitmap.height()) + " pixels");
    }
    for (int y = 0; y < bitmap.height(); ++y) {
        const Colour* in = bitmap.row(y);
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < bitmap.width(); ++x) {
            out[x] = qRgb(RedOf(in[x]), GreenOf(in[x]), BlueOf(in[x]));
        }
    }
    return image;
}

namespace {

// The colour bytes of the image into `bitmap` (of the image's size), alpha dropped; false
// when a band of rows cannot be converted for want of memory.
bool CopyColours(const QImage& image, Bitmap& bitmap) {
    const int width = image.width();
    const int height = image.height();
    const bool direct = IsDirect(image.format());
    const int band = direct ? height : BandRows(width);
    for (int top = 0; top < height; top += band) {
        const int rows = std::min(band, height - top);
        // Straight (not premultiplied) ARGB keeps the stored colour bytes of translucent
        // pixels.
        const QImage argb =
            direct ? image : image.copy(0, top, width, rows).convertToFormat(QImage::Format_ARGB32);
        if (argb.isNull()) {
            return false;
        }
        for (int y = 0; y < rows; ++y) {
            const auto* in =
                reinterpret_cast<const QRgb*>(argb.constScanLine(direct ? top + y : y));
            Colour* out = bitmap.row(top + y);
            for (int x = 0; x < width; ++x) {
                out[x] = RGB(static_cast<std::uint8_t>(qRed(in[x])),
                             static_cast<std::uint8_t>(qGreen(in[x])),
                             static_cast<std::uint8_t>(qBlue(in[x])));
            }
        }
    }
    return true;
}

Bitmap LoadPng(const InputFile& file, const std::string& path) {
    PngReader png(file.fd());
    if (!png.readHeader()) {
        Refuse(path, png.error());
    }
    const std::int64_t width = png.width();
    const std::int64_t height = png.height();
    CheckPixelCount(width, height, path);
    CheckLoadMemory(PictureBytes(width, height, sizeof(Colour)) + png.decoderBytes(), width, height,
                    path);
    Bitmap bitmap;
    try {
        bitmap = Bitmap(int(width), int(height), 0);
        if (!png.read(bitmap)) {
            Refuse(path, png.error());
        }
    } catch (const std::bad_alloc&) {
        RefuseForMemory(path, width, height);
    }
    return bitmap;
}

// The decoded picture. The reader goes before the picture is converted: a JPEG reader keeps
// its decoder, and with it the coefficients of a progressive picture, as long as it lives.
QImage ReadWithQt(const InputFile& file, const std::string& path, bool jpeg) {
    QFile device;
    if (!device.open(file.fd(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) {
        Refuse(path, device.errorString().toStdString());
    }
    FileBytes bytes(file.fd(), file.size());
    QImageReader::setAllocationLimit(ReaderAllocationLimitMiB(0));
    QImageReader reader(&device);
    // The content decides the format: a reader chosen by the name alone takes any bytes for
    // its own format (the GIF reader allocates and clears whatever size they seem to give).
    reader.setDecideFormatFromContent(true);
    // Pictures from cameras are shown upright, as every viewer shows them.
    reader.setAutoTransform(true);
    // Taken first: a reader that refuses the header forgets the format.
    const QByteArray format = reader.format();
    const QSize size = DeclaredSize(reader);
    const QImage::Format imageFormat = reader.imageFormat();
    if (size.isValid()) {
        CheckPixelCount(size.width(), size.height(), path);
    } else if (IsBmp(format)) {
        // Qt's reader declares no size for a BMP header it refuses, and then says only
        // "Unable to read image data"; a size too large is told as such.
        const QSize declared = BmpHeaderSize(bytes, format);
        if (declared.isValid()) {
            CheckPixelCount(declared.width(), declared.height(), path);
        }
    }
    JpegLayout layout;
    if (jpeg) {
        // A JPEG cut short decodes without an error, the rest of the picture grey.
        layout = ReadJpegLayout(bytes);
        if (!layout.complete) {
            Refuse(path, kCutShort);
        }
    }
    if (IsBmp(format)) {
        CheckBmpPixelData(bytes, path, format, size);
    }
    if (size.isValid()) {
        const bool turned = reader.transformation() != QImageIOHandler::TransformationNone;
        CheckLoadMemory(QtLoadPeakBytes(format, imageFormat, size.width(), size.height(), turned,
                                        layout.decoderBytes),
                        size.width(), size.height(), path);
        QImageReader::setAllocationLimit(
            ReaderAllocationLimitMiB(std::int64_t(size.width()) * size.height()));
    }
    QImage image;
    if (IsBmp(format) && size.isValid() && imageFormat != QImage::Format_Invalid) {
        image = ClearedCanvas(size, imageFormat);
        if (image.isNull()) {
            RefuseForMemory(path, size.width(), size.height());
        }
    }
    if (!reader.read(&image)) {
        Refuse(path, reader.errorString().toStdString());
    }
    CheckPixelCount(image.width(), image.height(), path);
    return image;
}

Bitmap LoadWithQt(const InputFile& file, const std::string& path, bool jpeg) {
    const QImage image = ReadWithQt(file, path, jpeg);
#if defined(__GLIBC__)
    // The decoder's buffers are freed by now, but the allocator may hold on to them (a
    // progressive JPEG's coefficients are as large as the picture) while the bitmap comes from
    // fresh pages. Given back, the load's peak is the one the memory check counted.
    ::malloc_trim(0);
#endif
    Bitmap bitmap;
    try {
        bitmap = Bitmap(image.width(), image.height(), 0);
        if (!CopyColours(image, bitmap)) {
            RefuseForMemory(path, image.width(), image.height());
        }
    } catch (const std::bad_alloc&) {
        RefuseForMemory(path, image.width(), image.height());
    }
    return bitmap;
}

} // namespace

Bitmap FromQImage(const QImage& image) {
    if (image.isNull()) {
        return Bitmap();
    }
    Bitmap bitmap(image.width(), image.height(), 0);
    if (!CopyColours(image, bitmap)) {
        throw MorphError("Not enough memory to convert a picture of " +
                         PixelsText(image.width(), image.height()));
    }
    return bitmap;
}

Bitmap LoadPicture(const std::string& path) {
    // Only a regular file: a FIFO would hold the program until some writer came along.
    const InputFile file(path);
    if (!file.ok()) {
        Refuse(path, file.problem());
    }
    unsigned char magic[8] = {};
    const ssize_t got = ::pread(file.fd(), magic, sizeof magic, 0);
    const std::size_t known = got > 0 ? std::size_t(got) : 0;
    if (IsPngSignature(magic, known)) {
        return LoadPng(file, path);
    }
    return LoadWithQt(file, path, IsJpeg(magic, known));
}

void SavePng(const Bitmap& bitmap, const std::string& path) {
    if (bitmap.empty()) {
        throw MorphError("Cannot write the picture " + Quoted(path) + ": the picture is empty");
    }
    // Encoded in memory first, so that a failed save never leaves half a file behind and an
    // existing file of that name survives it.
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(ToQImage(bitmap))) {
        throw MorphError("Cannot write the picture " + Quoted(path) + ": " +
                         writer.errorString().toStdString());
    }
    AtomicFile file(path);
    file.write(encoded.constData(), std::size_t(encoded.size()));
    file.commit();
}

} // namespace morph
