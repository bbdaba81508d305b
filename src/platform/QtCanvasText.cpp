#include "platform/QtCanvasText.h"

#include "platform/MorphError.h"

#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QRect>
#include <QString>

#include <algorithm>
#include <cstdint>

namespace morph {

namespace {

void RequireGuiApplication() {
    if (qGuiApp == nullptr) {
        throw MorphError("Text cannot be drawn before the application is set up");
    }
}

void SetTextResolution(QImage& image) {
    const int dotsPerMeter = qRound(kCanvasTextDpi / 0.0254);
    image.setDotsPerMeterX(dotsPerMeter);
    image.setDotsPerMeterY(dotsPerMeter);
}

// The default family at the given size, without smoothing: every glyph pixel takes the font
// colour exactly, as on the classic canvas.
QFont CanvasFont(int pointSize) {
    QFont font = QGuiApplication::font();
    font.setPointSize(std::max(pointSize, 1));
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

TextExtent Extent(const QFontMetrics& metrics, const QString& text) {
    return {metrics.horizontalAdvance(text), metrics.height()};
}

} // namespace

TextExtent MeasureText(const std::string& text, int pointSize) {
    RequireGuiApplication();
    QImage device(1, 1, QImage::Format_RGBX8888);
    SetTextResolution(device);
    return Extent(QFontMetrics(CanvasFont(pointSize), &device), QString::fromStdString(text));
}

void TextOut(Canvas& canvas, int x, int y, const std::string& text, Colour fontColour,
             int pointSize) {
    RequireGuiApplication();
    Bitmap& bitmap = canvas.bitmap();
    if (text.empty() || bitmap.empty()) {
        return;
    }

    // Colour values are bytes R, G, B, 0 in memory, which is RGBX8888; the painter writes
    // 0xFF into the fourth byte of what it touches, cleared again below.
    QImage image(reinterpret_cast<uchar*>(bitmap.data()), bitmap.width(), bitmap.height(),
                 qsizetype(bitmap.width()) * 4, QImage::Format_RGBX8888);
    SetTextResolution(image);

    const QFont font = CanvasFont(pointSize);
    const QString qtext = QString::fromStdString(text);
    const QFontMetrics metrics(font, &image);
    const TextExtent extent = Extent(metrics, qtext);

    // The background rectangle, clipped to the bitmap in 64 bits so far-away text is harmless.
    const std::int64_t left = std::max<std::int64_t>(x, 0);
    const std::int64_t top = std::max<std::int64_t>(y, 0);
    const std::int64_t right =
        std::min<std::int64_t>(std::int64_t(x) + extent.width, bitmap.width());
    const std::int64_t bottom =
        std::min<std::int64_t>(std::int64_t(y) + extent.height, bitmap.height());
    if (left >= right || top >= bottom) {
        return;
    }
    const QRect visible(int(left), int(top), int(right - left), int(bottom - top));

    {
        const Colour brush = canvas.brushColour();
        QPainter painter(&image);
        // Glyphs that overhang their advance stay inside the background, as the opaque text
        // of the classic canvas does.
        painter.setClipRect(visible);
        painter.fillRect(visible, QColor(RedOf(brush), GreenOf(brush), BlueOf(brush)));
        painter.setFont(font);
        painter.setPen(QColor(RedOf(fontColour), GreenOf(fontColour), BlueOf(fontColour)));
        painter.drawText(x, y + metrics.ascent(), qtext);
    }

    for (int row = visible.top(); row <= visible.bottom(); ++row) {
        Colour* pixels = bitmap.row(row);
        for (int col = visible.left(); col <= visible.right(); ++col) {
            pixels[col] &= Canvas::kColourMask;
        }
    }
}

} // namespace morph
