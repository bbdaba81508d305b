#include "engine/Influence.h"

#include "engine/LineColours.h"
#include "engine/WarpArithmetic.h"
#include "platform/Canvas.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace morph {

namespace {

using warp::Fault;

// The checked operations of the reference warp, so that a fault here is the warp's fault.
using warp::raising::Div;
using warp::raising::Pow;
using warp::raising::Product;
using warp::raising::Round;
using warp::raising::Sum;

std::uint8_t Byte(double value) {
    const std::int64_t r = Round(value);
    return std::uint8_t(r < 0 ? 0 : (r > 255 ? 255 : r));
}

Colour Scaled(Colour c, double share) {
    return RGB(Byte(RedOf(c) * share), Byte(GreenOf(c) * share), Byte(BlueOf(c) * share));
}

// Digits 3 pixels wide and 5 high, a row a string, for the legend's numbers.
constexpr std::array<std::array<const char*, 5>, 10> kDigits = {{
    {"###", "#.#", "#.#", "#.#", "###"},
    {".#.", "##.", ".#.", ".#.", "###"},
    {"###", "..#", "###", "#..", "###"},
    {"###", "..#", "###", "..#", "###"},
    {"#.#", "#.#", "###", "..#", "..#"},
    {"###", "#..", "###", "..#", "###"},
    {"###", "#..", "###", "#.#", "###"},
    {"###", "..#", ".#.", ".#.", ".#."},
    {"###", "#.#", "###", "#.#", "###"},
    {"###", "#.#", "###", "..#", "###"},
}};

void DrawDigits(Bitmap& picture, const std::string& text, int left, int top, Colour colour) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto& glyph = kDigits[std::size_t(text[i] - '0')];
        for (int row = 0; row < 5; ++row) {
            for (int column = 0; column < 3; ++column) {
                const int x = left + int(i) * 4 + column;
                if (glyph[std::size_t(row)][column] == '#' && picture.contains(x, top + row)) {
                    picture.setPixel(x, top + row, colour);
                }
            }
        }
    }
}

// Legend strip height and the smallest width that holds the bar and both numbers.
constexpr int kLegendHeight = 12;
constexpr int kLegendMinWidth = 48;

void DrawLegend(Bitmap& picture, double largest) {
    const int width = picture.width();
    const int height = picture.height();
    if (width < kLegendMinWidth || height < 2 * kLegendHeight) {
        return;
    }
    const int top = height - kLegendHeight;
    Canvas canvas(picture);
    canvas.setBrushColour(0);
    canvas.FillRect(0, top, width, height);
    const int left = 2;
    const int right = width - 3; // last column of the bar
    for (int x = left; x <= right; ++x) {
        const Colour c = HeatColour(double(x - left) / double(right - left));
        for (int y = top + 1; y < top + 5; ++y) {
            picture.setPixel(x, y, c);
        }
    }
    DrawDigits(picture, "0", left, top + 6, kWhite);
    const std::string most = std::to_string(Round(largest));
    DrawDigits(picture, most, right + 1 - (int(most.size()) * 4 - 1), top + 6, kWhite);
}

} // namespace

Colour HeatColour(double value) {
    struct Stop {
        double at;
        double r, g, b;
    };
    static constexpr std::array<Stop, 5> stops = {{{0.0, 0, 0, 0},
                                                   {0.25, 0, 0, 255},
                                                   {0.5, 255, 0, 0},
                                                   {0.75, 255, 255, 0},
                                                   {1.0, 255, 255, 255}}};
    const double v = std::isnan(value) ? 0.0 : std::clamp(value, 0.0, 1.0);
    std::size_t i = 1;
    while (i + 1 < stops.size() && v > stops[i].at) {
        ++i;
    }
    const Stop& a = stops[i - 1];
    const Stop& b = stops[i];
    const double f = (v - a.at) / (b.at - a.at);
    return RGB(Byte(a.r + (b.r - a.r) * f), Byte(a.g + (b.g - a.g) * f),
               Byte(a.b + (b.b - a.b) * f));
}

PixelInfluence InfluenceAt(const WarpInputs& in, const WarpConstants& k, int x, int y) {
    const int width = in.source.width();
    const int height = in.source.height();
    const bool classic = in.options.isDefault();
    const double px = double(x);
    const double py = double(y);
    PixelInfluence result;
    double sw = 0, ssx = 0, ssy = 0, strongest = 0;
    for (int j = 0; j < in.lineCount; ++j) {
        const ControlLine& f = in.frameLines[std::size_t(j)];
        const ControlLine& l = in.sourceLines[std::size_t(j)];
        const std::int64_t fdx = std::int64_t(f.x2) - f.x1;
        const std::int64_t fdy = std::int64_t(f.y2) - f.y1;
        const std::int64_t lenSq = fdx * fdx + fdy * fdy;
        const std::int64_t dx = std::int64_t(l.x2) - l.x1;
        const std::int64_t dy = std::int64_t(l.y2) - l.y1;
        const double len = std::sqrt(double(fdy * fdy + fdx * fdx));
        const double sideLen = std::sqrt(double(dy * dy + dx * dx));
        double offsetX = 0; // the read position less the point
        double offsetY = 0;
        double u = 0;
        double v = 0;
        if (classic) {
            u = Div(double((x - std::int64_t(f.x1)) * fdx + (y - std::int64_t(f.y1)) * fdy),
                    double(lenSq));
            v = Div(double(x * fdy + y * (std::int64_t(f.x1) - f.x2) + fdx * f.y1 - fdy * f.x1),
                    len);
            const double acrossX = Div(double(dy) * v, sideLen);
            const double acrossY = Div(double(dx) * v, sideLen);
            offsetX = double(Round(u * double(dx) + l.x1 + acrossX)) - px;
            offsetY = double(Round(u * double(dy) + l.y1 - acrossY)) - py;
        } else {
            // The continuous formulas of the warp: affine in the point less the line's start.
            if (lenSq == 0 || sideLen == 0) {
                throw MorphError(kInvalidOperation); // a zero-length line's direction: 0 / 0
            }
            const double ex = px - double(f.x1);
            const double ey = py - double(f.y1);
            const double uEx = double(fdx) / double(lenSq);
            const double uEy = double(fdy) / double(lenSq);
            const double vEx = double(fdy) / len;
            const double vEy = -double(fdx) / len;
            u = ex * uEx + ey * uEy;
            v = ex * vEx + ey * vEy;
            const double acrossX = double(dy) / sideLen;
            const double acrossY = double(dx) / sideLen;
            offsetX = double(l.x1) - double(f.x1) + ex * (uEx * double(dx) + vEx * acrossX - 1.0) +
                      ey * (uEy * double(dx) + vEy * acrossX);
            offsetY = double(l.y1) - double(f.y1) + ex * (uEx * double(dy) - vEx * acrossY) +
                      ey * (uEy * double(dy) - vEy * acrossY - 1.0);
        }
        double dist = std::fabs(v);
        if (classic) {
            dist = double(Round(dist));
        } else if (in.options.distance == WarpDistance::Segment && u < 0) {
            const double ex = px - double(f.x1);
            const double ey = py - double(f.y1);
            dist = std::sqrt(ex * ex + ey * ey);
        } else if (in.options.distance == WarpDistance::Segment && u > 1) {
            const double qx = px - double(f.x2);
            const double qy = py - double(f.y2);
            dist = std::sqrt(qx * qx + qy * qy);
        }
        const double w = Pow(Div(Pow(len, k.p), dist + k.a), k.b);
        if (j == 0 || w > strongest) {
            strongest = w;
            result.strongest = j;
        }
        sw = Sum(sw, w);
        ssx = Sum(ssx, Product(w, offsetX));
        ssy = Sum(ssy, Product(w, offsetY));
    }
    double sx = Sum(px, Div(ssx, sw));
    double sy = Sum(py, Div(ssy, sw));
    if (classic) {
        sx = double(Round(sx));
        sy = double(Round(sy));
    } else {
        Round(sx); // a position beyond the 64-bit range is an invalid conversion
        Round(sy);
    }
    result.sourceX = std::clamp(sx, 0.0, double(width - 1));
    result.sourceY = std::clamp(sy, 0.0, double(height - 1));
    result.share = Div(strongest, sw);
    const double ox = result.sourceX - px;
    const double oy = result.sourceY - py;
    result.displacement = std::sqrt(ox * ox + oy * oy);
    return result;
}

InfluencePictures LineInfluence(const WarpInputs& in, const WarpConstants& constants) {
    const int width = in.source.width();
    const int height = in.source.height();
    InfluencePictures pictures{Bitmap(width, height, 0), Bitmap(width, height, 0)};
    std::vector<double> lengths(std::size_t(width) * std::size_t(height));
    double largest = 0;
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < height; ++y) {
            const PixelInfluence p = InfluenceAt(in, constants, x, y);
            pictures.influence.setPixel(x, y, Scaled(LineColour(p.strongest), p.share));
            lengths[std::size_t(y) * std::size_t(width) + std::size_t(x)] = p.displacement;
            largest = std::max(largest, p.displacement);
        }
    }
    // At least a pixel to the hottest colour: the continuous formulas leave tiny displacements
    // where there are none, which must not show as heat.
    const double scale = std::max(largest, 1.0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double d = lengths[std::size_t(y) * std::size_t(width) + std::size_t(x)];
            pictures.displacement.setPixel(x, y, HeatColour(d / scale));
        }
    }
    DrawLegend(pictures.displacement, scale);

    // Each line on a white border, so that it shows on its own colour too.
    Canvas canvas(pictures.influence);
    for (int j = 0; j < in.lineCount; ++j) {
        const ControlLine& f = in.frameLines[std::size_t(j)];
        canvas.setPenColour(kWhite);
        for (int ox = -1; ox <= 1; ++ox) {
            for (int oy = -1; oy <= 1; ++oy) {
                if (ox != 0 || oy != 0) {
                    canvas.MoveTo(f.x1 + ox, f.y1 + oy);
                    canvas.LineTo(f.x2 + ox, f.y2 + oy);
                }
            }
        }
    }
    for (int j = 0; j < in.lineCount; ++j) {
        const ControlLine& f = in.frameLines[std::size_t(j)];
        canvas.setPenColour(LineColour(j));
        canvas.MoveTo(f.x1, f.y1);
        canvas.LineTo(f.x2, f.y2);
    }
    return pictures;
}

} // namespace morph
