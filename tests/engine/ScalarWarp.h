// The warp written out literally, pixel by pixel and line by line with nothing precomputed:
// the oracle that the engine's fast warp must match bit for bit, faults included.
#pragma once

#include "engine/Warp.h"
#include "platform/MorphError.h"

#include <cmath>
#include <cstdint>

namespace morph::testing {

inline double Checked(double value) {
    if (std::isinf(value)) {
        throw MorphError(kFloatOverflow);
    }
    return value;
}

inline double Div(double a, double b) {
    if (b == 0) {
        throw MorphError(a == 0 ? kInvalidOperation : kFloatDivideByZero);
    }
    return Checked(a / b);
}

inline std::int64_t RoundI(double v) {
    const double r = std::nearbyint(v);
    if (!(std::fabs(r) < 9223372036854775808.0)) {
        throw MorphError(kInvalidOperation);
    }
    return static_cast<std::int64_t>(r);
}

inline double LiteralPower(double base, double e) {
    if (e == 0) {
        return 1;
    }
    if (base == 0 && e > 0) {
        return 0;
    }
    if (e == std::trunc(e) && std::fabs(e) <= 2147483647.0) {
        auto n = static_cast<std::int64_t>(e);
        std::uint64_t m = static_cast<std::uint64_t>(n < 0 ? -n : n);
        double result = 1;
        double x = base;
        while (m != 0) {
            if (m & 1) {
                result = Checked(result * x);
            }
            m >>= 1;
            if (m != 0) {
                x = Checked(x * x);
            }
        }
        return n < 0 ? Div(1, result) : result;
    }
    if (base < 0) {
        throw MorphError(kInvalidOperation);
    }
    if (base == 0) {
        throw MorphError(kFloatDivideByZero);
    }
    return Checked(std::exp(e * std::log(base)));
}

// Returns false when cancelled. Inputs must not be outputs.
inline bool LiteralWarp(const Bitmap& src, const Bitmap& tgt, Bitmap& blend, Bitmap& ws, Bitmap& wt,
                        const LineSet& sl, const LineSet& tl, const LineSet& fl, int last, double t,
                        double A, double B, double P, int R,
                        const std::function<bool(int)>& progress = {}) {
    const int W = src.width();
    const int H = src.height();
    for (Bitmap* b : {&blend, &ws, &wt}) {
        if (!b->sameSize(src)) {
            b->reset(W, H);
        }
    }
    for (int x = 0; x < W; ++x) {
        for (int y = 0; y < H; ++y) {
            double sw = 0, ssx = 0, ssy = 0, stx = 0, sty = 0;
            for (int j = 0; j <= last; ++j) {
                const ControlLine& f = fl[j];
                const std::int64_t lenSq = std::int64_t(f.x2 - f.x1) * (f.x2 - f.x1) +
                                           std::int64_t(f.y2 - f.y1) * (f.y2 - f.y1);
                const std::int64_t un =
                    std::int64_t(x - f.x1) * (f.x2 - f.x1) + std::int64_t(y - f.y1) * (f.y2 - f.y1);
                const double u = Div(double(un), double(lenSq));
                const double len = std::sqrt(double(std::int64_t(f.y2 - f.y1) * (f.y2 - f.y1) +
                                                    std::int64_t(f.x1 - f.x2) * (f.x1 - f.x2)));
                const std::int64_t vn =
                    std::int64_t(x) * (f.y2 - f.y1) + std::int64_t(y) * (f.x1 - f.x2) +
                    std::int64_t(f.x2 - f.x1) * f.y1 - std::int64_t(f.y2 - f.y1) * f.x1;
                const double v = Div(double(vn), len);
                auto map = [&](const ControlLine& l, std::int64_t& X, std::int64_t& Y) {
                    const int dx = l.x2 - l.x1;
                    const int dy = l.y2 - l.y1;
                    const double ln =
                        std::sqrt(double(std::int64_t(dy) * dy + std::int64_t(dx) * dx));
                    const double acrossX = Div(dy * v, ln);
                    const double acrossY = Div(dx * v, ln);
                    X = RoundI(u * dx + l.x1 + acrossX);
                    Y = RoundI(u * dy + l.y1 - acrossY);
                };
                std::int64_t Xs, Ys, Xt, Yt;
                map(sl[j], Xs, Ys);
                map(tl[j], Xt, Yt);
                const std::int64_t dist = RoundI(std::fabs(v));
                const double w = LiteralPower(
                    Div(LiteralPower(std::sqrt(double(lenSq)), P), double(dist) + A), B);
                sw = Checked(sw + w);
                ssx = Checked(ssx + Checked(w * double(Xs - x)));
                ssy = Checked(ssy + Checked(w * double(Ys - y)));
                stx = Checked(stx + Checked(w * double(Xt - x)));
                sty = Checked(sty + Checked(w * double(Yt - y)));
            }
            auto place = [](double origin, double sum, double weight, int limit) {
                std::int64_t p = RoundI(Checked(origin + Div(sum, weight)));
                if (p < 0) {
                    p = 0;
                }
                if (p >= limit) {
                    p = limit - 1;
                }
                return int(p);
            };
            const int sx = place(x, ssx, sw, W);
            const int sy = place(y, ssy, sw, H);
            const int tx = place(x, stx, sw, W);
            const int ty = place(y, sty, sw, H);
            const Colour c1 = src.pixel(sx, sy);
            const Colour c2 = tgt.pixel(tx, ty);
            Colour out = c1 & 0xFF000000u;
            for (int shift = 0; shift < 24; shift += 8) {
                const double value =
                    (1.0 - t) * double((c1 >> shift) & 0xFF) + t * double((c2 >> shift) & 0xFF);
                out |= Colour(RoundI(value) & 0xFF) << shift;
            }
            blend.setPixel(x, y, out);
            ws.setPixel(x, y, c1);
            wt.setPixel(x, y, c2);
            if (R == 0) {
                throw MorphError(kIntDivideByZero);
            }
            if (y == 0 && x % R == 0 && progress && progress(x)) {
                return false;
            }
        }
    }
    return true;
}

} // namespace morph::testing
