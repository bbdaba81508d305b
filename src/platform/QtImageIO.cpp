#include "platform/QtImageIO.h"

#include "platform/AtomicFile.h"
#include "platform/Memory.h"
#include "platform/MorphError.h"

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
#include <limits>

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

void CheckPixelCount(std::int64_t width, std::int64_t height, const std::string& path) {
    if (width * height > kMaxBitmapPixels) {
        throw MorphError("Cannot read the picture " + Quoted(path) + ": " + std::to_string(width) +
                         " x " + std::to_string(height) + " pixels is too large");
    }
}

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

// Qt's BMP reader takes a file that ends inside its pixel data, or whose pixel data would
// start past its end, without an error: the rows it did not get keep whatever the memory
// held, and a few bytes can declare a picture of a gigabyte. Uncompressed pixel data has a
// known size, so such a file is refused before the picture is allocated. (Run-length data
// may rightly stop early; ClearedCanvas covers what it leaves out.)
void CheckBmpPixelData(const std::string& path, const QByteArray& format, const QSize& size) {
    QFile file(QString::fromStdString(path));
    if (!size.isValid() || !file.open(QIODevice::ReadOnly)) {
        return; // the reader tells what is wrong
    }
    const std::int64_t base = format == "bmp" ? 14 : 0; // a .dib file has no file header
    const QByteArray head = file.read(base + 20);
    if (head.size() < base + 20) {
        return;
    }
    const auto le = [&head](std::int64_t at, int bytes) {
        std::int64_t value = 0;
        for (int i = bytes - 1; i >= 0; --i) {
            value = (value << 8) | static_cast<std::uint8_t>(head[qsizetype(at + i)]);
        }
        return value;
    };
    const std::int64_t infoSize = le(base, 4);
    const bool core = infoSize == 12; // the oldest header: 16-bit sizes, never compressed
    const std::int64_t bits = le(base + (core ? 10 : 14), 2);
    const std::int64_t compression = core ? 0 : le(base + 16, 4);
    constexpr std::int64_t kUncompressed = 0;
    constexpr std::int64_t kBitFields = 3;
    if (infoSize < 12 || infoSize > 124 ||
        (compression != kUncompressed && compression != kBitFields) ||
        (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)) {
        return; // not a layout whose size is known; the reader judges it
    }
    const std::int64_t rowBytes = (size.width() * bits + 31) / 32 * 4;
    const std::int64_t start = std::max(base != 0 ? le(10, 4) : 0, base + infoSize);
    if (start + rowBytes * size.height() > file.size()) {
        throw MorphError("Cannot read the picture " + Quoted(path) +
                         ": the file ends before its pixel data does");
    }
}

// The width and height a BMP header declares, read by hand (top-down pictures declare a
// negative height); invalid when the header is not one of the known layouts.
QSize BmpHeaderSize(const std::string& path, const QByteArray& format) {
    QFile file(QString::fromStdString(path));
    const qsizetype base = format == "bmp" ? 14 : 0; // a .dib file has no file header
    const QByteArray head = file.open(QIODevice::ReadOnly) ? file.read(base + 12) : QByteArray();
    if (head.size() < base + 12) {
        return {};
    }
    const auto le = [&head](qsizetype at, int bytes) {
        std::uint32_t value = 0;
        for (int i = bytes - 1; i >= 0; --i) {
            value = (value << 8) | static_cast<std::uint8_t>(head[at + i]);
        }
        return value;
    };
    const std::uint32_t infoSize = le(base, 4);
    std::int64_t width = 0;
    std::int64_t height = 0;
    if (infoSize == 12) {
        width = le(base + 4, 2);
        height = le(base + 6, 2);
    } else if (infoSize >= 40) {
        width = static_cast<std::int32_t>(le(base + 4, 4));
        height = static_cast<std::int32_t>(le(base + 8, 4));
    }
    height = height < 0 ? -height : height;
    constexpr std::int64_t kLargest = std::numeric_limits<int>::max();
    if (width < 1 || height < 1) {
        return {};
    }
    return QSize(int(std::min(width, kLargest)), int(std::min(height, kLargest)));
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

Bitmap FromQImage(const QImage& image) {
    if (image.isNull()) {
        return Bitmap();
    }
    // Straight (not premultiplied) ARGB keeps the stored colour bytes of translucent pixels.
    const QImage argb =
        image.format() == QImage::Format_ARGB32 || image.format() == QImage::Format_RGB32
            ? image
            : image.convertToFormat(QImage::Format_ARGB32);
    if (argb.isNull()) {
        throw MorphError("Not enough memory to convert a picture of " +
                         std::to_string(image.width()) + " x " + std::to_string(image.height()) +
                         " pixels");
    }
    Bitmap bitmap(argb.width(), argb.height());
    for (int y = 0; y < argb.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        Colour* out = bitmap.row(y);
        for (int x = 0; x < argb.width(); ++x) {
            out[x] = RGB(static_cast<std::uint8_t>(qRed(in[x])),
                         static_cast<std::uint8_t>(qGreen(in[x])),
                         static_cast<std::uint8_t>(qBlue(in[x])));
        }
    }
    return bitmap;
}

Bitmap LoadPicture(const std::string& path) {
    QImageReader::setAllocationLimit(ReaderAllocationLimitMiB(0));
    QImageReader reader(QString::fromStdString(path));
    // The content decides the format: a reader chosen by the name alone takes any bytes for
    // its own format (the GIF reader allocates and clears whatever size they seem to give).
    reader.setDecideFormatFromContent(true);
    // Pictures from cameras are shown upright, as every viewer shows them.
    reader.setAutoTransform(true);
    // Taken first: a reader that refuses the header forgets the format.
    const QByteArray format = reader.format();
    const QSize size = DeclaredSize(reader);
    if (size.isValid()) {
        CheckPixelCount(size.width(), size.height(), path);
        // The decoded picture and its copy as a bitmap, 4 bytes a pixel each.
        CheckMemoryFor(PictureBytes(size.width(), size.height(), 8),
                       "Cannot read the picture " + Quoted(path) + ": its " +
                           std::to_string(size.width()) + " x " + std::to_string(size.height()) +
                           " pixels need");
        QImageReader::setAllocationLimit(
            ReaderAllocationLimitMiB(std::int64_t(size.width()) * size.height()));
    } else if (IsBmp(format)) {
        // Qt's reader declares no size for a BMP header it refuses, and then says only
        // "Unable to read image data"; a size too large is told as such.
        const QSize declared = BmpHeaderSize(path, format);
        if (declared.isValid()) {
            CheckPixelCount(declared.width(), declared.height(), path);
        }
    }
    QImage image;
    if (IsBmp(reader.format())) {
        CheckBmpPixelData(path, reader.format(), size);
        image = ClearedCanvas(size, reader.imageFormat());
    }
    if (!reader.read(&image)) {
        throw MorphError("Cannot read the picture " + Quoted(path) + ": " +
                         reader.errorString().toStdString());
    }
    CheckPixelCount(image.width(), image.height(), path);
    return FromQImage(image);
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
