#include "engine/WarpReference.h"

#include "engine/WarpArithmetic.h"

#include <cmath>
#include <cstdint>

namespace morph::warp {

namespace {

using raising::Div;
using raising::Pow;
using raising::Product;
using raising::Round;
using raising::Sum;

int ClampIndex(std::int64_t p, int limit) {
    return int(p < 0 ? 0 : (p >= limit ? limit - 1 : p));
}

// The colour of `picture` at the real position (px, py), already known to round within the
// 64-bit range: the nearest pixel, or the four pixels around it weighted by nearness, each
// channel rounded; positions off the picture read its edge.
Colour Sample(const Bitmap& picture, double px, double py, WarpSampling sampling) {
    const int width = picture.width();
    const int height = picture.height();
    if (sampling == WarpSampling::Nearest) {
        return picture.pixel(ClampIndex(Round(px), width), ClampIndex(Round(py), height));
    }
    const double fx = std::floor(px);
    const double fy = std::floor(py);
    const double ax = px - fx;
    const double ay = py - fy;
    const int x0 = ClampIndex(std::int64_t(fx), width);
    const int x1 = ClampIndex(std::int64_t(fx) + 1, width);
    const int y0 = ClampIndex(std::int64_t(fy), height);
    const int y1 = ClampIndex(std::int64_t(fy) + 1, height);
    const Colour c00 = picture.pixel(x0, y0);
    const Colour c10 = picture.pixel(x1, y0);
    const Colour c01 = picture.pixel(x0, y1);
    const Colour c11 = picture.pixel(x1, y1);
    Colour result = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        auto channel = [shift](Colour c) { return double((c >> shift) & 0xFF); };
        const double value = (1.0 - ay) * ((1.0 - ax) * channel(c00) + ax * channel(c10)) +
                             ay * ((1.0 - ax) * channel(c01) + ax * channel(c11));
        const std::int64_t byte = Round(value);
        result |= Colour(byte < 0 ? 0 : (byte > 255 ? 255 : byte)) << shift;
    }
    return result;
}

// Pixel (x, y) by the continuous formulas: every sample position of the pixel is mapped
// through every line pair with real mapped points and real distances, the final positions
// are sampled, and the samples' colours are averaged per channel. Unlike the classic formulas
// they divide nowhere but in the weight: u, v and the read positions less the point are
// affine in the point less the line's start, with coefficients from the lines alone.
void ContinuousColours(const WarpInputs& in, const WarpConstants& k, int x, int y, Colour& c1,
                       Colour& c2) {
    const WarpOptions& o = in.options;
    const int n = o.supersample;
    std::int64_t sums[2][4] = {};
    for (int i = 0; i < n; ++i) {
        for (int jy = 0; jy < n; ++jy) {
            const double px = double(x) + (i + 0.5) / n - 0.5;
            const double py = double(y) + (jy + 0.5) / n - 0.5;
            double sw = 0, ssx = 0, ssy = 0, stx = 0, sty = 0;
            for (int j = 0; j < in.lineCount; ++j) {
                const ControlLine& f = in.frameLines[j];
                const std::int64_t fdx = std::int64_t(f.x2) - f.x1;
                const std::int64_t fdy = std::int64_t(f.y2) - f.y1;
                const double ex = px - double(f.x1);
                const double ey = py - double(f.y1);
                const std::int64_t lenSq = fdx * fdx + fdy * fdy;
                const double len = std::sqrt(double(fdy * fdy + fdx * fdx));
                const ControlLine* sides[2] = {&in.sourceLines[j], &in.targetLines[j]};
                double sideLen[2] = {};
                for (int side = 0; side < 2; ++side) {
                    const ControlLine& l = *sides[side];
                    const std::int64_t dx = std::int64_t(l.x2) - l.x1;
                    const std::int64_t dy = std::int64_t(l.y2) - l.y1;
                    sideLen[side] = std::sqrt(double(dy * dy + dx * dx));
                }
                if (lenSq == 0 || sideLen[0] == 0 || sideLen[1] == 0) {
                    // A zero-length line has no direction: 0 / 0.
                    throw MorphError(kInvalidOperation);
                }
                // u, v and the read positions less the point are affine in (ex, ey): the
                // positions X' = u sdx + sx + v sdy / slen and Y' = u sdy + sy - v sdx / slen
                // less (ex + Px, ey + Py), gathered by ex and ey.
                const double uEx = double(fdx) / double(lenSq);
                const double uEy = double(fdy) / double(lenSq);
                const double vEx = double(fdy) / len;
                const double vEy = -double(fdx) / len;
                const double u = ex * uEx + ey * uEy;
                const double v = ex * vEx + ey * vEy;
                double offsets[4] = {};
                for (int side = 0; side < 2; ++side) {
                    const ControlLine& l = *sides[side];
                    const double dx = double(std::int64_t(l.x2) - l.x1);
                    const double dy = double(std::int64_t(l.y2) - l.y1);
                    const double acrossX = dy / sideLen[side];
                    const double acrossY = dx / sideLen[side];
                    const double baseX = double(l.x1) - double(f.x1);
                    const double baseY = double(l.y1) - double(f.y1);
                    const double perExX = uEx * dx + vEx * acrossX - 1.0;
                    const double perEyX = uEy * dx + vEy * acrossX;
                    const double perExY = uEx * dy - vEx * acrossY;
                    const double perEyY = uEy * dy - vEy * acrossY - 1.0;
                    offsets[2 * side] = baseX + ex * perExX + ey * perEyX;
                    offsets[2 * side + 1] = baseY + ex * perExY + ey * perEyY;
                }
                double dist = std::fabs(v);
                if (o.distance == WarpDistance::Segment && u < 0) {
                    dist = std::sqrt(ex * ex + ey * ey);
                } else if (o.distance == WarpDistance::Segment && u > 1) {
                    const double qx = px - double(f.x2);
                    const double qy = py - double(f.y2);
                    dist = std::sqrt(qx * qx + qy * qy);
                }
                const double w = Pow(Div(Pow(len, k.p), dist + k.a), k.b);
                sw = Sum(sw, w);
                ssx = Sum(ssx, Product(w, offsets[0]));
                ssy = Sum(ssy, Product(w, offsets[1]));
                stx = Sum(stx, Product(w, offsets[2]));
                sty = Sum(sty, Product(w, offsets[3]));
            }
            const double positions[4] = {Sum(px, Div(ssx, sw)), Sum(py, Div(ssy, sw)),
                                         Sum(px, Div(stx, sw)), Sum(py, Div(sty, sw))};
            for (const double p : positions) {
                Round(p); // a position beyond the 64-bit range is an invalid conversion
            }
            const Colour read[2] = {Sample(in.source, positions[0], positions[1], o.sampling),
                                    Sample(in.target, positions[2], positions[3], o.sampling)};
            for (int side = 0; side < 2; ++side) {
                for (int c = 0; c < 4; ++c) {
                    sums[side][c] += (read[side] >> (8 * c)) & 0xFF;
                }
            }
        }
    }
    Colour* results[2] = {&c1, &c2};
    for (int side = 0; side < 2; ++side) {
        Colour colour = 0;
        for (int c = 0; c < 4; ++c) {
            colour |= Colour(Round(double(sums[side][c]) / double(n * n))) << (8 * c);
        }
        *results[side] = colour;
    }
}

} // namespace

// Per pixel and line the projection, the square roots and both powers are computed afresh,
// and pixels are read and written one at a time.
WarpOutcome ReferenceWarpFrame(const WarpOutputs& out, const WarpInputs& in, const WarpConstants& k,
                               const WarpControl& control) {
    const int width = in.source.width();
    const int height = in.source.height();
    int step = control.refreshStep;
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < height; ++y) {
            Colour c1 = 0;
            Colour c2 = 0;
            if (!in.options.isDefault()) {
                ContinuousColours(in, k, x, y, c1, c2);
            } else {
                double sw = 0, ssx = 0, ssy = 0, stx = 0, sty = 0;
                for (int j = 0; j < in.lineCount; ++j) {
                    const ControlLine& f = in.frameLines[j];
                    const std::int64_t fdx = std::int64_t(f.x2) - f.x1;
                    const std::int64_t fdy = std::int64_t(f.y2) - f.y1;
                    const std::int64_t lenSq = fdx * fdx + fdy * fdy;
                    const double u =
                        Div(double((x - std::int64_t(f.x1)) * fdx + (y - std::int64_t(f.y1)) * fdy),
                            double(lenSq));
                    const double len = std::sqrt(double(fdy * fdy + fdx * fdx));
                    const double v = Div(
                        double(x * fdy + y * (std::int64_t(f.x1) - f.x2) + fdx * f.y1 - fdy * f.x1),
                        len);
                    std::int64_t mapped[4] = {};
                    const ControlLine* sides[2] = {&in.sourceLines[j], &in.targetLines[j]};
                    for (int side = 0; side < 2; ++side) {
                        const ControlLine& l = *sides[side];
                        const std::int64_t dx = std::int64_t(l.x2) - l.x1;
                        const std::int64_t dy = std::int64_t(l.y2) - l.y1;
                        const double sideLen = std::sqrt(double(dy * dy + dx * dx));
                        const double acrossX = Div(double(dy) * v, sideLen);
                        const double acrossY = Div(double(dx) * v, sideLen);
                        mapped[2 * side] = Round(u * double(dx) + l.x1 + acrossX);
                        mapped[2 * side + 1] = Round(u * double(dy) + l.y1 - acrossY);
                    }
                    const std::int64_t dist = Round(std::fabs(v));
                    const double w =
                        Pow(Div(Pow(std::sqrt(double(lenSq)), k.p), double(dist) + k.a), k.b);
                    sw = Sum(sw, w);
                    ssx = Sum(ssx, Product(w, double(mapped[0] - x)));
                    ssy = Sum(ssy, Product(w, double(mapped[1] - y)));
                    stx = Sum(stx, Product(w, double(mapped[2] - x)));
                    sty = Sum(sty, Product(w, double(mapped[3] - y)));
                }
                auto place = [&](double origin, double sum, int limit) {
                    const std::int64_t p = Round(Sum(origin, Div(sum, sw)));
                    return int(p < 0 ? 0 : (p >= limit ? limit - 1 : p));
                };
                const int sx = place(x, ssx, width);
                const int sy = place(y, ssy, height);
                const int tx = place(x, stx, width);
                const int ty = place(y, sty, height);
                c1 = in.source.pixel(sx, sy);
                c2 = in.target.pixel(tx, ty);
            }
            Colour mixed = c1 & 0xFF000000u;
            for (int shift = 0; shift < 24; shift += 8) {
                const double value = (1.0 - in.t) * double((c1 >> shift) & 0xFF) +
                                     in.t * double((c2 >> shift) & 0xFF);
                mixed |= (Colour(Round(value)) & 0xFFu) << shift;
            }
            out.blend.setPixel(x, y, mixed);
            out.warpedSource.setPixel(x, y, c1);
            out.warpedTarget.setPixel(x, y, c2);
            if (y == 0 && x % step == 0) {
                if (control.progress && control.progress(x)) {
                    return WarpOutcome::Cancelled;
                }
                if (control.readRefreshStep) {
                    step = control.readRefreshStep();
                    CheckRefreshStep(step);
                }
            }
        }
    }
    return WarpOutcome::Completed;
}

} // namespace morph::warp
