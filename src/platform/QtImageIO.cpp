#include "platform/QtImageIO.h"

#include "platform/AtomicFile.h"
#include "platform/MorphError.h"

#include <QBuffer>
#include <QByteArray>

#include <QImageReader>
#include <QImageWriter>
#include <QSize>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace morph {

namespace {

// Decoders may hold up to 8 bytes a pixel (16 bits a channel) for the largest picture we
// accept; anything needing more is refused by the reader itself before it allocates.
constexpr int kReaderAllocationLimitMiB = int((kMaxBitmapPixels * 8) >> 20);

std::string Quoted(const std::string& path) {
    return "'" + path + "'";
}

void CheckPixelCount(std::int64_t width, std::int64_t height, const std::string& path) {
    if (width * height > kMaxBitmapPixels) {
        throw MorphError("Cannot read the picture " + Quoted(path) + ": " + std::to_string(width) +
                         " x " + std::to_string(height) + " pixels is too large");
    }
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
    if (QImageReader::allocationLimit() != kReaderAllocationLimitMiB) {
        QImageReader::setAllocationLimit(kReaderAllocationLimitMiB);
    }
    QImageReader reader(QString::fromStdString(path));
    // Pictures from cameras are shown upright, as every viewer shows them.
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid()) {
        CheckPixelCount(size.width(), size.height(), path);
    }
    QImage image;
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
