#include "engine/WarpReference.h"

#include "engine/WarpArithmetic.h"

#include <cmath>
#include <cstdint>

namespace morph::warp {

namespace {

void Check(Fault f) {
    if (f != Fault::None) {
        throw MorphError(FaultText(f));
    }
}

double Div(double a, double b) {
    double r = 0;
    Check(Divide(a, b, r));
    return r;
}

double Sum(double a, double b) {
    double r = 0;
    Check(Add(a, b, r));
    return r;
}

double Product(double a, double b) {
    double r = 0;
    Check(Multiply(a, b, r));
    return r;
}

double Pow(double base, double exponent) {
    double r = 0;
    Check(CheckedPower(base, exponent, r));
    return r;
}

// Round half to even with the library's rounding, not the fast path's, so that the two
// only agree when both are right; out of the 64-bit range is an invalid conversion.
std::int64_t Round(double value) {
    const double r = std::nearbyint(value);
    if (!(std::fabs(r) < 9223372036854775808.0)) {
        throw MorphError(kInvalidOperation);
    }
    return static_cast<std::int64_t>(r);
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
                const double v =
                    Div(double(x * fdy + y * (std::int64_t(f.x1) - f.x2) + fdx * f.y1 - fdy * f.x1),
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
            const Colour c1 = in.source.pixel(sx, sy);
            const Colour c2 = in.target.pixel(tx, ty);
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
