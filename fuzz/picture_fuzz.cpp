// Picture loading on arbitrary bytes, through libpng for PNG and Qt's image readers for the
// rest (BMP, JPEG, GIF, ICO, PBM/PGM/PPM, XBM, XPM), together with the loader's own checks of
// run-length BMP and JPEG data, under names with and without a picture extension. Properties:
// a picture is loaded or refused with MorphError naming the file; a loaded bitmap has
// pixels, no more than kMaxBitmapPixels, and byte 3 zero everywhere; a small loaded bitmap
// saved as PNG loads back unchanged. No QGuiApplication is needed for reading pictures.
//
// The loader accepts pictures up to kMaxBitmapPixels (1 GiB of colour values): a few bytes
// of PNG, or a GIF screen, can rightly declare such a picture, and decoding it would only
// measure the machine's memory. So each input is first opened here as the loader opens it,
// with a small allocation limit, and passed over when it declares, or its reader allocates,
// more than kLargestDecoded pixels but not more than the loader's cap; inputs beyond the cap
// still go to the loader, which must refuse them before decoding.
#include "FuzzSupport.h"

#include "platform/MorphError.h"
#include "platform/QtImageIO.h"

#include <QImage>
#include <QImageReader>
#include <QSize>
#include <QString>
#include <QtGlobal>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using morph::fuzz::Check;
using morph::fuzz::WorkFolder;

constexpr std::int64_t kLargestDecoded = std::int64_t(1) << 20;
constexpr std::int64_t kLargestRoundTrip = std::int64_t(1) << 16;

bool allocationRefused = false;

// The readers report what they make of broken data as Qt warnings; they are expected here.
// A reader that would exceed the allocation limit says so in one.
void QuietQtMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (message.contains(QStringLiteral("allocation limit"))) {
        allocationRefused = true;
    }
    if (type == QtCriticalMsg || type == QtFatalMsg) {
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    }
}

bool TooLargeToDecodeHere(const std::string& path) {
    QImageReader::setAllocationLimit(int((kLargestDecoded * 8) >> 20));
    allocationRefused = false;
    QImageReader reader(QString::fromStdString(path));
    reader.setDecideFormatFromContent(true);
    const QSize size = reader.size();
    // A BMP stored top row first declares a negative height.
    const std::int64_t pixels =
        std::int64_t(std::max(size.width(), 0)) * std::abs(std::int64_t(size.height()));
    if (pixels > morph::kMaxBitmapPixels) {
        return false;
    }
    if (pixels > kLargestDecoded || allocationRefused) {
        return true;
    }
    // A GIF's first frame, which gives its size, may be smaller than its screen, and an icon
    // may hold a larger picture than it declares: only decoding shows what they take.
    if (!size.isValid() || reader.format() == "gif" || reader.format() == "ico") {
        QImage image;
        reader.read(&image);
    }
    return allocationRefused;
}

void CheckBitmap(const morph::Bitmap& bitmap) {
    Check(!bitmap.empty() && bitmap.width() > 0 && bitmap.height() > 0,
          "a loaded picture has no pixels");
    Check(std::int64_t(bitmap.width()) * bitmap.height() <= morph::kMaxBitmapPixels,
          "a picture beyond the cap was loaded");
    for (std::size_t i = 0; i < bitmap.pixelCount(); ++i) {
        Check((bitmap.data()[i] >> 24) == 0, "byte 3 of a colour is not zero");
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    qInstallMessageHandler(QuietQtMessages);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Names with and without a picture extension: the loader must go by the content alone.
    static constexpr std::array<const char*, 5> kNames = {"picture", "picture.bmp", "picture.png",
                                                          "picture.jpg", "picture.gif"};
    const WorkFolder& folder = WorkFolder::Get();
    const std::string path = folder.file(kNames[size % kNames.size()]);
    morph::fuzz::WriteFile(path, data, size);

    if (TooLargeToDecodeHere(path)) {
        morph::fuzz::Remove(path);
        return 0;
    }
    morph::Bitmap bitmap;
    try {
        bitmap = morph::LoadPicture(path);
    } catch (const morph::MorphError& error) {
        Check(std::string(error.what()).find(path) != std::string::npos,
              "a refusal does not name the file");
        morph::fuzz::Remove(path);
        return 0;
    }
    morph::fuzz::Remove(path);
    CheckBitmap(bitmap);

    if (std::int64_t(bitmap.pixelCount()) <= kLargestRoundTrip) {
        const std::string saved = folder.file("saved.png");
        morph::SavePng(bitmap, saved);
        Check(morph::LoadPicture(saved) == bitmap, "a saved PNG loads back differently");
        Check(folder.holdsOnly({"saved.png"}), "a temporary file was left behind");
        morph::fuzz::Remove(saved);
    }
    return 0;
}
