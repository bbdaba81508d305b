// Small helpers of the window tests: picture files to load, and steps run while a build lets
// the event loop turn.
#pragma once

#include "platform/Bitmap.h"
#include "platform/QtImageIO.h"

#include <QImage>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>

namespace morph::test {

// Saves the picture at `path` (BMP unless `format` says otherwise) and returns the path.
inline QString SavePicture(const QString& path, const Bitmap& picture, const char* format = "BMP") {
    ToQImage(picture).save(path, format);
    return path;
}

// A BMP file at `path` whose pixel (x, y) has red redStep * x and green greenStep * y, both
// modulo 256, and the given blue; returns the path.
inline QString SaveGradientBmp(const QString& path, int width, int height, int redStep,
                               int greenStep, int blue) {
    Bitmap picture(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            picture.setPixel(x, y,
                             RGB(std::uint8_t((redStep * x) % 256),
                                 std::uint8_t((greenStep * y) % 256), std::uint8_t(blue)));
        }
    }
    return SavePicture(path, picture);
}

// Runs `step` whenever the event loop gets a chance while `build` runs (the warped build
// processes pending events at each of its progress points).
inline void During(const std::function<void()>& build, const std::function<void()>& step) {
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, step);
    timer.start(0);
    build();
    timer.stop();
}

} // namespace morph::test
