#include "engine/Warp.h"

#include "engine/WarpArithmetic.h"
#include "engine/WarpKernel.h"
#include "engine/WarpReference.h"
#include "platform/MorphError.h"

#include <omp.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <exception>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace morph {

namespace {

using namespace warp;

struct WeightEntry {
    double weight = 0;
    Fault fault = Fault::None;
};

// Everything about one line pair that does not depend on the pixel.
struct PreparedLine {
    // The pair as the kernels read it; its table fields are filled in when a frame hands
    // its lines to a kernel.
    KernelLine geometry;
    bool degenerate = false; // a zero-length line: the projection is 0 / 0
    // Power(len, P), or its fault.
    double lengthTerm = 0;
    Fault lengthFault = Fault::None;
    // Weights for every whole value of Round(s v) (KernelLine) this line can have inside the
    // picture, with one more on each side, from tableLow on; NaN where the weight faults (the
    // checked path then finds the fault). The array is padded with NaN as KernelLine
    // describes; tableLast is the index of the last real entry.
    std::int64_t tableLow = 0;
    std::int64_t tableLast = -1;
    std::vector<double> weights;
    // How far the kernel's affine values may be from the exact ones (PrepareAffine).
    double slack = 0;
};

WeightEntry ComputeWeight(const PreparedLine& line, std::int64_t dist, const WarpConstants& k) {
    WeightEntry entry;
    if (line.lengthFault != Fault::None) {
        entry.fault = line.lengthFault;
        return entry;
    }
    double quotient = 0;
    if (Fault f = Divide(line.lengthTerm, double(dist) + k.a, quotient); f != Fault::None) {
        entry.fault = f;
        return entry;
    }
    entry.fault = CheckedPower(quotient, k.b, entry.weight);
    return entry;
}

// Weights by whole distance, shared between the lines of a frame and of the next frame whose
// length terms are the same (every line when P = 0, and a line whose length does not change):
// a weight depends on the length term, A, B and the distance only. One cache per thread that
// prepares frames; a frame drops what the frame before it did not use.
class WeightCache {
  public:
    void BeginFrame(const WarpConstants& k) {
        if (!SameBits(k.a, a_) || !SameBits(k.b, b_)) {
            tables_.clear();
            a_ = k.a;
            b_ = k.b;
        }
        std::erase_if(tables_, [&](const Table& t) { return t.lastUsed < frame_; });
        ++frame_;
    }

    // The weights of `line` at distances first .. last (NaN where one faults), by distance.
    std::vector<double> Weights(const PreparedLine& line, std::int64_t first, std::int64_t last,
                                const WarpConstants& k) {
        std::vector<double> weights(std::size_t(last - first + 1));
        if (last - first + 1 > kMaxShared) {
            for (std::int64_t d = first; d <= last; ++d) {
                weights[std::size_t(d - first)] = WeightOrNaN(line, d, k);
            }
            return weights;
        }
        Table* table = nullptr;
        for (Table& t : tables_) {
            if (SameBits(t.lengthTerm, line.lengthTerm) && t.lengthFault == line.lengthFault) {
                table = &t;
            }
        }
        if (table == nullptr) {
            table = &tables_.emplace_back();
            table->lengthTerm = line.lengthTerm;
            table->lengthFault = line.lengthFault;
            table->first = first;
        }
        table->lastUsed = frame_;
        // Widen the table to first .. last, computing only what it lacks.
        const std::int64_t have = std::int64_t(table->weights.size());
        const std::int64_t from = std::min(first, table->first);
        const std::int64_t to = std::max(last, table->first + have - 1);
        if (from < table->first || to >= table->first + have) {
            std::vector<double> wider(std::size_t(to - from + 1));
            for (std::int64_t d = from; d <= to; ++d) {
                const std::int64_t old = d - table->first;
                wider[std::size_t(d - from)] = old >= 0 && old < have
                                                   ? table->weights[std::size_t(old)]
                                                   : WeightOrNaN(line, d, k);
            }
            table->weights = std::move(wider);
            table->first = from;
        }
        std::copy_n(table->weights.begin() + (first - table->first), weights.size(),
                    weights.begin());
        return weights;
    }

  private:
    // Larger tables (lines far outside the picture) are not kept.
    static constexpr std::int64_t kMaxShared = std::int64_t(1) << 16;

    struct Table {
        double lengthTerm = 0;
        Fault lengthFault = Fault::None;
        std::int64_t first = 0;
        std::vector<double> weights;
        int lastUsed = 0;
    };

    static bool SameBits(double a, double b) {
        return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
    }

    static double WeightOrNaN(const PreparedLine& line, std::int64_t d, const WarpConstants& k) {
        const WeightEntry entry = ComputeWeight(line, d, k);
        return entry.fault == Fault::None ? entry.weight : std::numeric_limits<double>::quiet_NaN();
    }

    std::vector<Table> tables_;
    double a_ = std::numeric_limits<double>::quiet_NaN();
    double b_ = std::numeric_limits<double>::quiet_NaN();
    int frame_ = 0;
};

constexpr std::int64_t kMinParallelWork = 16384;
constexpr std::int64_t kMaxWeightTable = std::int64_t(1) << 20;
// Weights up to this size cannot make a weighted sum of at most LineSlots offsets (each
// below 2^50 in size) overflow.
constexpr double kSafeWeight = 1.0e290;

double SignedDistanceNumerator(const KernelLine& g, double x, double y) {
    return x * g.dy - y * g.dx + g.vConst;
}

// The affine form of the kernel and how far it can stray from the exact formula.
//
// Each value the kernel rounds is, in real arithmetic on the stored doubles (len, slen and
// tlen taken as they are),
//     value = s + un gu + vn gv - o
// with the whole numbers un = (x - Px) dx + (y - Py) dy and vn = (x - Px) dy - (y - Py) dx
// (the numerators of u and v, exact in any order), and
//     X' - x:  s = P'x, gu = dx' / lenSq, gv =  dy' / (len len'), o = x
//     Y' - y:  s = P'y, gu = dy' / lenSq, gv = -dx' / (len len'), o = y
//     X'' - x, Y'' - y alike with the Target line
//     v:       s = 0,   gu = 0,            gv = 1 / len,           o = 0.
// Gathering x and y with Kx = dx gu + dy gv and Ky = dy gu - dx gv:
//     value = (s - Px Kx - Py Ky) + x (Kx - ox) + y (Ky - oy),
// which the kernel evaluates as base = (s - Px Kx) - Py Ky (per line), top = base +
// x perColumn (per line and column) and value = top + y perRow (per lane), each step
// rounded to double.
//
// Bound. Let ε = 2^-53 (one rounding moves a result by at most ε of its size), Ax = |dx gu| +
// |dy gv| and Ay = |dy gu| + |dx gv| (at least |Kx|, |Ky| and the size of every term that
// depends on the pixel), and
//     M = |s| + |Px| Ax + |Py| Ay + |x| (Ax + 1) + |y| (Ay + 1)
// taken at the picture's far corner (|x| = W - 1, |y| = H - 1). Counting roundings to first
// order:
// - gu takes 1 rounding and gv 2, the products dx gu and dy gv 2 and 3, their sum Kx (or
//   difference Ky) one more: Kx is within 4ε Ax, Ky within 4ε Ay; perColumn = Kx - ox within
//   5ε (Ax + 1), perRow within 5ε (Ay + 1).
// - base: the products Px Kx and Py Ky are within 5ε of their size, and each subtraction adds
//   ε of the running sum: within ε (2|s| + 7|Px| Ax + 7|Py| Ay).
// - top: x perColumn is within 6ε |x| (Ax + 1), plus one rounding; value: y perRow within
//   6ε |y| (Ay + 1), plus one rounding. In all, the kernel's value is within 9ε M of the real
//   one.
// - The exact formula u = un / lenSq, v = vn / len, u dx' + P'x + (dy' v) / len' (and alike)
//   rounds the u term twice (quotient, product) and the v term three times (quotient,
//   product, quotient) and adds twice; the sizes are |un gu| + |vn gv| <= |x - Px| Ax +
//   |y - Py| Ay <= M, so it is within 5ε M of the real value (v alone within ε M). Taking the
//   pixel's coordinate away from the rounded position is exact.
// - The distance's table entry s v - tableLow (s = +-1, tableLow whole): negating is exact;
//   taking tableLow (at most max |v| + 2 <= M + 2 in size) from base is one more rounding,
//   within ε (2M + 2), and top and value then round sums up to M + 2 larger: within
//   ε (4M + 6) more than 9ε M, 14ε M + 6ε with v's own ε M.
// So the kernel's value and the exact formula's differ by at most 14ε M + 6ε, plus terms of
// order ε² M. The slack is 16ε M = 2^-49 M, plus 2^-50 so that rounding M, the slack and
// 0.5 - slack cannot eat the margin. A fused multiply-add would only drop roundings. Where
// the kernel's value has a fraction (value - Round(value), exact) below 0.5 - slack in size,
// the exact value lies strictly between the same two boundaries and rounds to the same whole
// number, ties included; for the distance, Round(|v|) = |Round(s v)| since rounding is
// symmetric. (The tests see differences of up to 4ε M in practice.)
//
// Sizes: with coordinates within kMaxLineCoordinate, Ax and Ay stay below 2.9e6 and
// |x| + |Px| + |y| + |Py| below 2^28 + 2e6, so M < 8e14 and every value (the entry below
// 2M + 2) stays below 2^51: rounding it by adding and taking away 1.5 * 2^52 is exact. The
// slack is about 10^-11 for lines of a few hundred pixels around a picture of that size; it
// reaches a few thousandths for a frame line of length 1 a million pixels away whose Source
// or Target line is millions long, and 0.5 (every lane sent back) only for pictures tens of
// millions of pixels wide.
constexpr double kSlackPerSize = 1.0 / 562949953421312.0; // 2^-49
constexpr double kSlackFloor = 1.0 / 1125899906842624.0;  // 2^-50

// One value as above from its s, gu, gv and the coordinate o taken away (ox for x, oy for
// y); raises `slack` to this value's slack when it is larger.
AffineValue Affine(const KernelLine& g, double s, double gu, double gv, double ox, double oy,
                   double farX, double farY, double& slack) {
    const double kx = g.dx * gu + g.dy * gv;
    const double ky = g.dy * gu - g.dx * gv;
    AffineValue a;
    a.base = (s - g.px * kx) - g.py * ky;
    a.perColumn = kx - ox;
    a.perRow = ky - oy;
    const double ax = std::fabs(g.dx * gu) + std::fabs(g.dy * gv);
    const double ay = std::fabs(g.dy * gu) + std::fabs(g.dx * gv);
    const double m = std::fabs(s) + std::fabs(g.px) * ax + std::fabs(g.py) * ay + farX * (ax + 1) +
                     farY * (ay + 1);
    slack = std::max(slack, kSlackPerSize * m + kSlackFloor);
    return a;
}

// Fills the affine offsets of a line and returns their slack; `distance` gets v.
double PrepareAffine(KernelLine& g, AffineValue& distance, int width, int height) {
    const double farX = width - 1;
    const double farY = height - 1;
    double slack = 0;
    const double sides[2][5] = {{g.sx, g.sy, g.sdx, g.sdy, g.slen},
                                {g.tx, g.ty, g.tdx, g.tdy, g.tlen}};
    for (int side = 0; side < 2; ++side) {
        const auto [x0, y0, dx, dy, len] = sides[side];
        const double lens = g.len * len;
        g.offsets[2 * side] = Affine(g, x0, dx / g.lenSq, dy / lens, 1, 0, farX, farY, slack);
        g.offsets[2 * side + 1] = Affine(g, y0, dy / g.lenSq, -dx / lens, 0, 1, farX, farY, slack);
    }
    distance = Affine(g, 0, 0, 1 / g.len, 0, 0, farX, farY, slack);
    return slack;
}

PreparedLine PrepareLine(const ControlLine& f, const ControlLine& s, const ControlLine& t,
                         const WarpConstants& k, int width, int height, WeightCache& cache,
                         bool tables) {
    PreparedLine l;
    KernelLine& g = l.geometry;
    g.px = f.x1;
    g.py = f.y1;
    const std::int64_t dx = std::int64_t(f.x2) - f.x1;
    const std::int64_t dy = std::int64_t(f.y2) - f.y1;
    g.dx = double(dx);
    g.dy = double(dy);
    g.lenSq = double(dx * dx + dy * dy);
    g.len = std::sqrt(g.lenSq);
    g.vConst = double(dx * f.y1 - dy * f.x1);

    auto side = [](const ControlLine& line, double& px, double& py, double& ddx, double& ddy,
                   double& len) {
        const std::int64_t lx = std::int64_t(line.x2) - line.x1;
        const std::int64_t ly = std::int64_t(line.y2) - line.y1;
        px = line.x1;
        py = line.y1;
        ddx = double(lx);
        ddy = double(ly);
        len = std::sqrt(double(ly * ly + lx * lx));
    };
    side(s, g.sx, g.sy, g.sdx, g.sdy, g.slen);
    side(t, g.tx, g.ty, g.tdx, g.tdy, g.tlen);
    l.degenerate = g.lenSq == 0 || g.slen == 0 || g.tlen == 0;
    if (l.degenerate) {
        return l;
    }
    l.lengthFault = CheckedPower(g.len, k.p, l.lengthTerm);
    // The continuous coefficients (the reference warp and the line influence compute the same
    // expressions): X' - x = u sdx + sx + v sdy / slen - (ex + Px) and Y' - y = u sdy + sy -
    // v sdx / slen - (ey + Py) gathered by ex and ey.
    g.uEx = g.dx / g.lenSq;
    g.uEy = g.dy / g.lenSq;
    g.vEx = g.dy / g.len;
    g.vEy = -g.dx / g.len;
    const double sides[2][5] = {{g.sx, g.sy, g.sdx, g.sdy, g.slen},
                                {g.tx, g.ty, g.tdx, g.tdy, g.tlen}};
    for (int s = 0; s < 2; ++s) {
        const auto [sx, sy, sdx, sdy, slen] = sides[s];
        const double acrossX = sdy / slen;
        const double acrossY = sdx / slen;
        g.mapBase[2 * s] = sx - g.px;
        g.mapEx[2 * s] = g.uEx * sdx + g.vEx * acrossX - 1.0;
        g.mapEy[2 * s] = g.uEy * sdx + g.vEy * acrossX;
        g.mapBase[2 * s + 1] = sy - g.py;
        g.mapEx[2 * s + 1] = g.uEx * sdy - g.vEx * acrossY;
        g.mapEy[2 * s + 1] = g.uEy * sdy - g.vEy * acrossY - 1.0;
    }
    g.qx = f.x2;
    g.qy = f.y2;
    g.lengthTerm = l.lengthTerm;
    if (!tables) { // the continuous path weighs real distances: no table, no kernel
        return l;
    }

    AffineValue distance;
    l.slack = PrepareAffine(g, distance, width, height);
    // Negating is exact, and so is rounding -v instead of v (rounding is symmetric).
    g.distanceSign = distance.perRow < 0 ? -1.0 : 1.0;
    distance.base = g.distanceSign * distance.base;
    distance.perColumn = g.distanceSign * distance.perColumn;
    distance.perRow = g.distanceSign * distance.perRow;

    // s v is affine in (x, y) and the division by len is monotone, so the values of all
    // pixels lie between those of the corners.
    double vMin = std::numeric_limits<double>::infinity();
    double vMax = -vMin;
    for (double cx : {0.0, double(width - 1)}) {
        for (double cy : {0.0, double(height - 1)}) {
            const double v = g.distanceSign * (SignedDistanceNumerator(g, cx, cy) / g.len);
            vMin = std::min(vMin, v);
            vMax = std::max(vMax, v);
        }
    }
    const auto low = static_cast<std::int64_t>(RoundEven(vMin)) - 1;
    const auto high = static_cast<std::int64_t>(RoundEven(vMax)) + 1;
    g.entry = distance;
    g.entry.base = distance.base - double(low);
    if (high - low + 1 <= kMaxWeightTable) {
        l.tableLow = low;
        l.tableLast = high - low;
        l.weights.assign(std::size_t(std::max<std::int64_t>(high - low + 4, kMinTableSize)),
                         std::numeric_limits<double>::quiet_NaN());
        // Each whole distance once, for both signs.
        const std::int64_t nearest =
            low <= 0 && high >= 0 ? 0 : std::min(std::abs(low), std::abs(high));
        const std::int64_t farthest = std::max(std::abs(low), std::abs(high));
        const std::vector<double> byDistance = cache.Weights(l, nearest, farthest, k);
        for (std::int64_t i = 0; i <= l.tableLast; ++i) {
            l.weights[std::size_t(i)] = byDistance[std::size_t(std::abs(low + i) - nearest)];
        }
    }
    return l;
}

// Whether some pixel of the frame can fault. With every weight positive, finite and not
// huge, every sum stays finite, the weight sum positive and the averaged offsets as small as
// the offsets (a few times 10^14 at most with coordinates within kMaxLineCoordinate and at
// most 2^28 pixels); the positions then always convert.
bool LinesCanFault(const std::vector<PreparedLine>& lines) {
    for (const PreparedLine& l : lines) {
        if (l.degenerate || l.weights.empty()) {
            return true;
        }
        for (std::int64_t i = 1; i < l.tableLast; ++i) { // the picture's own distances
            const double w = l.weights[std::size_t(i)];
            if (!(w > 0 && w <= kSafeWeight)) {
                return true;
            }
        }
    }
    return false;
}

struct PixelMap {
    std::int64_t sx, sy, tx, ty;
};

// One pixel in the exact order of the formulas, checking every step. Used for pixels where
// the fast path saw something unusual, to find the fault the plain order meets first.
Fault MapPixelChecked(const std::vector<PreparedLine>& lines, int x, int y, const WarpConstants& k,
                      int width, int height, PixelMap& out) {
    double sw = 0, ssx = 0, ssy = 0, stx = 0, sty = 0;
    const double xd = x;
    const double yd = y;
    for (const PreparedLine& l : lines) {
        const KernelLine& g = l.geometry;
        double u = 0;
        if (Fault f = Divide((xd - g.px) * g.dx + (yd - g.py) * g.dy, g.lenSq, u);
            f != Fault::None) {
            return f;
        }
        double v = 0;
        if (Fault f = Divide(SignedDistanceNumerator(g, xd, yd), g.len, v); f != Fault::None) {
            return f;
        }
        // Each side: both divisions, then both roundings.
        const double sideValues[2][5] = {{g.sdx, g.sdy, g.slen, g.sx, g.sy},
                                         {g.tdx, g.tdy, g.tlen, g.tx, g.ty}};
        double rounded[4] = {};
        for (int side = 0; side < 2; ++side) {
            const double* s = sideValues[side];
            double acrossX = 0;
            double acrossY = 0;
            if (Fault f = Divide(s[1] * v, s[2], acrossX); f != Fault::None) {
                return f;
            }
            if (Fault f = Divide(s[0] * v, s[2], acrossY); f != Fault::None) {
                return f;
            }
            if (Fault f = RoundChecked(u * s[0] + s[3] + acrossX, rounded[2 * side]);
                f != Fault::None) {
                return f;
            }
            if (Fault f = RoundChecked(u * s[1] + s[4] - acrossY, rounded[2 * side + 1]);
                f != Fault::None) {
                return f;
            }
        }
        double distance = 0;
        if (Fault f = RoundChecked(std::fabs(v), distance); f != Fault::None) {
            return f;
        }
        const WeightEntry w = ComputeWeight(l, static_cast<std::int64_t>(distance), k);
        if (w.fault != Fault::None) {
            return w.fault;
        }
        double term = 0;
        if (Fault f = Add(sw, w.weight, sw); f != Fault::None) {
            return f;
        }
        const double offsets[4] = {rounded[0] - xd, rounded[1] - yd, rounded[2] - xd,
                                   rounded[3] - yd};
        double* sums[4] = {&ssx, &ssy, &stx, &sty};
        for (int i = 0; i < 4; ++i) {
            if (Fault f = Multiply(w.weight, offsets[i], term); f != Fault::None) {
                return f;
            }
            if (Fault f = Add(*sums[i], term, *sums[i]); f != Fault::None) {
                return f;
            }
        }
    }
    const double sums[4] = {ssx, ssy, stx, sty};
    const double origin[4] = {xd, yd, xd, yd};
    const int limits[4] = {width, height, width, height};
    std::int64_t* results[4] = {&out.sx, &out.sy, &out.tx, &out.ty};
    for (int i = 0; i < 4; ++i) {
        double q = 0;
        if (Fault f = Divide(sums[i], sw, q); f != Fault::None) {
            return f;
        }
        double position = 0;
        if (Fault f = Add(origin[i], q, position); f != Fault::None) {
            return f;
        }
        double rounded = 0;
        if (Fault f = RoundChecked(position, rounded); f != Fault::None) {
            return f;
        }
        auto value = static_cast<std::int64_t>(rounded);
        value = value < 0 ? 0 : value;
        value = value >= limits[i] ? limits[i] - 1 : value;
        *results[i] = value;
    }
    return Fault::None;
}

std::int64_t ClampIndex(std::int64_t value, int limit) {
    value = value < 0 ? 0 : value;
    return value >= limit ? limit - 1 : value;
}

// The colour of `picture` at (px, py), which rounds within the 64-bit range: the nearest
// pixel, or the four around it weighted by nearness, each channel rounded; positions off the
// picture read its edge.
Colour SamplePicture(const Bitmap& picture, double px, double py, WarpSampling sampling) {
    const int width = picture.width();
    const int height = picture.height();
    if (sampling == WarpSampling::Nearest) {
        const auto x = ClampIndex(static_cast<std::int64_t>(RoundEven(px)), width);
        const auto y = ClampIndex(static_cast<std::int64_t>(RoundEven(py)), height);
        return picture.row(int(y))[x];
    }
    const double fx = std::floor(px);
    const double fy = std::floor(py);
    const double ax = px - fx;
    const double ay = py - fy;
    const double bx = 1.0 - ax;
    const double by = 1.0 - ay;
    const auto ix = static_cast<std::int64_t>(fx);
    const auto iy = static_cast<std::int64_t>(fy);
    const auto x0 = ClampIndex(ix, width);
    const auto x1 = ClampIndex(ix + 1, width);
    const Colour* r0 = picture.row(int(ClampIndex(iy, height)));
    const Colour* r1 = picture.row(int(ClampIndex(iy + 1, height)));
    const Colour c00 = r0[x0], c10 = r0[x1], c01 = r1[x0], c11 = r1[x1];
    Colour result = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const double value =
            by * (bx * double((c00 >> shift) & 0xFF) + ax * double((c10 >> shift) & 0xFF)) +
            ay * (bx * double((c01 >> shift) & 0xFF) + ax * double((c11 >> shift) & 0xFF));
        const auto byte = static_cast<std::int64_t>(RoundEven(value));
        result |= Colour(byte < 0 ? 0 : (byte > 255 ? 255 : byte)) << shift;
    }
    return result;
}

// Pixel (x, y) on the continuous path: every sample position of the pixel (supersampled K x K)
// is mapped through every line pair keeping mapped points and distances real (KernelLine's
// continuous formulas), with every fault checked in the order of the formulas; the final
// positions are sampled and the samples averaged per channel. The continuous kernel leaves
// every pixel where it sees anything unusual to this.
Fault MapPixelContinuous(const std::vector<PreparedLine>& lines, int x, int y,
                         const WarpConstants& k, const WarpOptions& o, const Bitmap& source,
                         const Bitmap& target, Colour& c1, Colour& c2) {
    const int n = o.supersample;
    const bool segment = o.distance == WarpDistance::Segment;
    std::int64_t sums[2][4] = {};
    for (int i = 0; i < n; ++i) {
        const double px = double(x) + (i + 0.5) / n - 0.5;
        for (int jy = 0; jy < n; ++jy) {
            const double py = double(y) + (jy + 0.5) / n - 0.5;
            double sw = 0, ssx = 0, ssy = 0, stx = 0, sty = 0;
            for (const PreparedLine& l : lines) {
                if (l.degenerate) {
                    return Fault::Invalid; // the direction of a zero-length line is 0 / 0
                }
                const KernelLine& g = l.geometry;
                const double ex = px - g.px;
                const double ey = py - g.py;
                const double u = ex * g.uEx + ey * g.uEy;
                const double v = ex * g.vEx + ey * g.vEy;
                double dist = std::fabs(v);
                if (segment && u < 0) {
                    dist = std::sqrt(ex * ex + ey * ey);
                } else if (segment && u > 1) {
                    const double qx = px - g.qx;
                    const double qy = py - g.qy;
                    dist = std::sqrt(qx * qx + qy * qy);
                }
                if (l.lengthFault != Fault::None) {
                    return l.lengthFault;
                }
                double quotient = 0;
                if (Fault f = Divide(g.lengthTerm, dist + k.a, quotient); f != Fault::None) {
                    return f;
                }
                double w = 0;
                if (Fault f = CheckedPower(quotient, k.b, w); f != Fault::None) {
                    return f;
                }
                double offsets[4] = {};
                for (int c = 0; c < 4; ++c) {
                    offsets[c] = g.mapBase[c] + ex * g.mapEx[c] + ey * g.mapEy[c];
                }
                if (Fault f = Add(sw, w, sw); f != Fault::None) {
                    return f;
                }
                double* sumsOf[4] = {&ssx, &ssy, &stx, &sty};
                for (int c = 0; c < 4; ++c) {
                    double term = 0;
                    if (Fault f = Multiply(w, offsets[c], term); f != Fault::None) {
                        return f;
                    }
                    if (Fault f = Add(*sumsOf[c], term, *sumsOf[c]); f != Fault::None) {
                        return f;
                    }
                }
            }
            const double weighted[4] = {ssx, ssy, stx, sty};
            const double origin[4] = {px, py, px, py};
            double position[4] = {};
            for (int c = 0; c < 4; ++c) {
                double q = 0;
                if (Fault f = Divide(weighted[c], sw, q); f != Fault::None) {
                    return f;
                }
                if (Fault f = Add(origin[c], q, position[c]); f != Fault::None) {
                    return f;
                }
            }
            for (const double p : position) {
                double unused = 0;
                if (Fault f = RoundChecked(p, unused); f != Fault::None) {
                    return f;
                }
            }
            const Colour read[2] = {SamplePicture(source, position[0], position[1], o.sampling),
                                    SamplePicture(target, position[2], position[3], o.sampling)};
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
            colour |= Colour(RoundEven(double(sums[side][c]) / double(n * n))) << (8 * c);
        }
        *results[side] = colour;
    }
    return Fault::None;
}

class FrameWarper {
  public:
    // The warped pictures are optional: a null one is not written.
    FrameWarper(Bitmap& blend, Bitmap* warpedSource, Bitmap* warpedTarget, const Bitmap& source,
                const Bitmap& target, std::vector<PreparedLine> lines, double t,
                const WarpConstants& k, MapRowsFn kernel, const WarpOptions& options = {})
        : source_(source), target_(target), blend_(blend), warpedSource_(warpedSource),
          warpedTarget_(warpedTarget), lines_(std::move(lines)), k_(k), options_(options),
          continuous_(!options.isDefault()), width_(source.width()), height_(source.height()) {
        for (int b = 0; b < 256; ++b) {
            fromSource_[b] = (1.0 - t) * b;
            fromTarget_[b] = t * b;
        }
        // With |1 - t| and |t| this small every blended byte rounds and converts.
        blendSafe_ = std::fabs(1.0 - t) < kKernelBlendLimit && std::fabs(t) < kKernelBlendLimit;
        canFault_ = continuous_ || !blendSafe_ || LinesCanFault(lines_);
        bool tables = true;
        double slack = 0;
        for (const PreparedLine& l : lines_) {
            tables = tables && !l.weights.empty();
            slack = std::max(slack, l.slack);
        }
        // A slack of 0.5 or more (only for pictures millions of pixels wide) would send every
        // lane of the affine kernel back, and could take its table entries outside.
        bool lengthsFault = false;
        for (const PreparedLine& l : lines_) {
            lengthsFault = lengthsFault || l.degenerate || l.lengthFault != Fault::None;
        }
        if (continuous_) {
            // No tables and no slack: the continuous kernel follows the scalar order exactly.
            // A length term that faults faults at every pixel: nothing for a kernel to do.
            kernel_ = kernel != nullptr && blendSafe_ && !lines_.empty() && !lengthsFault
                          ? ContinuousKernelFor(ActiveKernelLevel())
                          : nullptr;
            frame_.supersample = options.supersample;
            frame_.segment = options.distance == WarpDistance::Segment;
            frame_.bilinear = options.sampling == WarpSampling::Bilinear;
            frame_.a = k.a;
            frame_.b = k.b;
        } else if (kernel != nullptr && tables && blendSafe_ && !lines_.empty() && slack < 0.5) {
            kernel_ = kernel;
        }
        if (kernel_ != nullptr) {
            kernelLines_.reserve(lines_.size());
            for (const PreparedLine& l : lines_) {
                KernelLine kl = l.geometry;
                kl.tableLow = double(l.tableLow);
                kl.tableSize = double(l.weights.size());
                kl.weights = l.weights.data();
                kernelLines_.push_back(kl);
            }
            frame_.lines = kernelLines_.data();
            frame_.lineCount = int(kernelLines_.size());
            frame_.width = width_;
            frame_.height = height_;
            frame_.source = source_.data();
            frame_.target = target_.data();
            frame_.keep = 1.0 - t;
            frame_.take = t;
            frame_.safeFraction = 0.5 - slack;
        }
    }

    int width() const { return width_; }
    int height() const { return height_; }

    // Runs the kernel over every pixel, throwing the colours away; returns how many pixels it
    // left to the scalar path, or -1 without a kernel.
    std::int64_t KernelAlone() const {
        if (kernel_ == nullptr) {
            return -1;
        }
        MappedRows mapped;
        std::int64_t sentBack = 0;
        for (int x = 0; x < width_; ++x) {
            for (int y0 = 0; y0 < height_; y0 += kMapRows) {
                kernel_(frame_, x, y0, std::min(kMapRows, height_ - y0), mapped);
                sentBack += std::popcount(mapped.unusual);
            }
        }
        return sentBack;
    }

    // Maps and writes pixel (x, y) on the scalar path; returns the fault instead of writing
    // when there is one.
    Fault Pixel(int x, int y) {
        Colour c1 = 0;
        Colour c2 = 0;
        if (continuous_) {
            if (Fault f = MapPixelContinuous(lines_, x, y, k_, options_, source_, target_, c1, c2);
                f != Fault::None) {
                return f;
            }
        } else {
            PixelMap map{};
            Fault fault = MapPixelFast(x, y, map);
            if (fault != Fault::None) {
                return fault;
            }
            c1 = source_.pixel(int(map.sx), int(map.sy));
            c2 = target_.pixel(int(map.tx), int(map.ty));
        }
        Colour mixed = c1 & 0xFF000000u;
        for (int shift = 0; shift < 24; shift += 8) {
            double value = 0;
            if (Fault f = RoundChecked(
                    fromSource_[(c1 >> shift) & 0xFF] + fromTarget_[(c2 >> shift) & 0xFF], value);
                f != Fault::None) {
                return f;
            }
            mixed |= (Colour(static_cast<std::int64_t>(value)) & 0xFFu) << shift;
        }
        blend_.setPixel(x, y, mixed);
        if (warpedSource_ != nullptr) {
            warpedSource_->setPixel(x, y, c1);
        }
        if (warpedTarget_ != nullptr) {
            warpedTarget_->setPixel(x, y, c2);
        }
        return Fault::None;
    }

    // Writes the pixels of columns [x0, x1), all rows except (x0, 0), which the progress
    // point has written, in parallel. Returns the first fault in column order with its
    // pixel; the pixels after it are restored to what they were.
    std::optional<std::pair<std::int64_t, Fault>> Block(int x0, int x1, bool inTeam, int threads,
                                                        bool parallelSmallBlocks) {
        const int columns = x1 - x0;
        const std::int64_t blockPixels = std::int64_t(columns) * height_;
        if (blockPixels <= 1) {
            return std::nullopt;
        }
        // Restoring is only needed after a fault; most frames cannot have one.
        const bool save = canFault_;
        if (save) {
            SaveBlock(x0, x1);
        }
        // Waking threads costs more than a few thousand pixel-line evaluations.
        const bool small =
            !parallelSmallBlocks && blockPixels * std::int64_t(lines_.size()) < kMinParallelWork;
        const int bands = small || !inTeam ? 1 : std::max(1, std::min(threads, height_));
        // Row ranges of a few vectors each, taken by whichever thread is free, so a thread
        // slowed down by other work on its core does not hold up the block.
        int rowsPerTask = height_;
        if (bands > 1) {
            rowsPerTask = (height_ + bands * 4 - 1) / (bands * 4);
            if (rowsPerTask > 8) {
                rowsPerTask = (rowsPerTask + 15) / 16 * 16;
            }
        }
        const int tasks = (height_ + rowsPerTask - 1) / rowsPerTask;
        // Every task reports its first fault; the earliest one in column order wins. The
        // shared key only lets later work stop early.
        std::atomic<std::int64_t> earliest{kNoFault};
        results_.assign(std::size_t(tasks), {kNoFault, Fault::None});
        auto runTask = [&](int task) {
            Fault fault = Fault::None;
            const std::int64_t key =
                Task(x0, x1, task * rowsPerTask, std::min(height_, (task + 1) * rowsPerTask), true,
                     earliest, fault);
            results_[std::size_t(task)] = {key, fault};
            std::int64_t seen = earliest.load(std::memory_order_relaxed);
            while (key < seen &&
                   !earliest.compare_exchange_weak(seen, key, std::memory_order_relaxed)) {
            }
        };
        if (bands == 1) {
            for (int task = 0; task < tasks; ++task) {
                runTask(task);
            }
        } else {
            // The calling thread takes tasks too while it waits for the block; the other
            // threads of the team take them from the barrier they wait at.
#pragma omp taskloop grainsize(1) shared(runTask)
            for (int task = 0; task < tasks; ++task) {
                runTask(task);
            }
        }
        std::int64_t firstKey = kNoFault;
        Fault firstFault = Fault::None;
        for (const auto& [key, fault] : results_) {
            if (key < firstKey) {
                firstKey = key;
                firstFault = fault;
            }
        }
        if (firstKey == kNoFault) {
            return std::nullopt;
        }
        if (save) {
            RestoreAfter(x0, x1, firstKey);
        }
        return std::make_pair(firstKey, firstFault);
    }

    // Rows [r0, r1) of every column, for builds without progress points; any thread may run
    // any band of the frame. Returns the band's first fault in column order with its key
    // x * height + y. `earliest` is shared by the frame's bands: a band stops once another
    // has found a fault before everything it has left.
    std::optional<std::pair<std::int64_t, Fault>> Band(int r0, int r1,
                                                       std::atomic<std::int64_t>& earliest) {
        Fault fault = Fault::None;
        const std::int64_t key = Task(0, width_, r0, r1, false, earliest, fault);
        if (key == kNoFault) {
            return std::nullopt;
        }
        std::int64_t seen = earliest.load(std::memory_order_relaxed);
        while (key < seen &&
               !earliest.compare_exchange_weak(seen, key, std::memory_order_relaxed)) {
        }
        return std::make_pair(key, fault);
    }

    static constexpr std::int64_t kNoFault = std::numeric_limits<std::int64_t>::max();

  private:
    // Pixels of columns [x0, x1) and rows [r0, r1), in bands of rows: the kernel maps each
    // column of a band, then the band is written row by row (picture rows lie a power of
    // two apart in memory, so writing down a column would keep evicting its own lines).
    // Returns the key ((x - x0) * height + y) of the task's first fault in column order, or
    // kNoFault; pixels after a fault may be written too, the block restores them. Stops
    // early once another task has a fault before everything left. `skipCorner`: (x0, 0) is
    // already written (a progress point).
    std::int64_t Task(int x0, int x1, int r0, int r1, bool skipCorner,
                      const std::atomic<std::int64_t>& firstKey, Fault& fault) {
        thread_local std::vector<MappedRows> mapped;
        if (kernel_ != nullptr && mapped.size() < std::size_t(x1 - x0)) {
            mapped.resize(std::size_t(x1 - x0));
        }
        std::int64_t first = kNoFault;
        for (int y0 = r0; y0 < r1; y0 += kMapRows) {
            if (y0 > firstKey.load(std::memory_order_relaxed)) {
                break;
            }
            const int rows = std::min(kMapRows, r1 - y0);
            if (kernel_ != nullptr) {
                for (int x = x0; x < x1; ++x) {
                    kernel_(frame_, x, y0, rows, mapped[std::size_t(x - x0)]);
                }
            }
            for (int i = 0; i < rows; ++i) {
                const int y = y0 + i;
                Colour* blend = blend_.row(y);
                Colour* fromSource = warpedSource_ != nullptr ? warpedSource_->row(y) : nullptr;
                Colour* fromTarget = warpedTarget_ != nullptr ? warpedTarget_->row(y) : nullptr;
                for (int x = (y == 0 && skipCorner ? x0 + 1 : x0); x < x1; ++x) {
                    const MappedRows* m =
                        kernel_ != nullptr ? &mapped[std::size_t(x - x0)] : nullptr;
                    if (m != nullptr && ((m->unusual >> i) & 1) == 0) {
                        blend[x] = m->blend[i];
                        if (fromSource != nullptr) {
                            fromSource[x] = m->source[i];
                            fromTarget[x] = m->target[i];
                        }
                    } else if (Fault f = Pixel(x, y); f != Fault::None) {
                        const std::int64_t key = std::int64_t(x - x0) * height_ + y;
                        if (key < first) {
                            first = key;
                            fault = f;
                        }
                    }
                }
            }
        }
        return first;
    }

    Fault MapPixelFast(int x, int y, PixelMap& out) const {
        double sw = 0, ssx = 0, ssy = 0, stx = 0, sty = 0;
        const double xd = x;
        const double yd = y;
        bool unusual = false;
        for (const PreparedLine& l : lines_) {
            const KernelLine& g = l.geometry;
            const double u = ((xd - g.px) * g.dx + (yd - g.py) * g.dy) / g.lenSq;
            const double v = SignedDistanceNumerator(g, xd, yd) / g.len;
            const double xs = RoundEven(u * g.sdx + g.sx + (g.sdy * v) / g.slen);
            const double ys = RoundEven(u * g.sdy + g.sy - (g.sdx * v) / g.slen);
            const double xt = RoundEven(u * g.tdx + g.tx + (g.tdy * v) / g.tlen);
            const double yt = RoundEven(u * g.tdy + g.ty - (g.tdx * v) / g.tlen);
            const double rounded = RoundEven(g.distanceSign * v); // |Round(+-v)| = Round(|v|)
            const auto dist = static_cast<std::int64_t>(std::fabs(rounded));
            const std::uint64_t index =
                std::uint64_t(static_cast<std::int64_t>(rounded) - l.tableLow);
            double w = 0;
            if (index < std::uint64_t(l.tableLast + 1)) {
                w = l.weights[index];
            } else {
                const WeightEntry entry = ComputeWeight(l, dist, k_);
                w = entry.fault == Fault::None ? entry.weight
                                               : std::numeric_limits<double>::quiet_NaN();
            }
            if (std::isnan(w)) {
                unusual = true;
                break;
            }
            sw += w;
            ssx += w * (xs - xd);
            ssy += w * (ys - yd);
            stx += w * (xt - xd);
            sty += w * (yt - yd);
        }
        if (!unusual && sw != 0) {
            const double px = xd + ssx / sw;
            const double py = yd + ssy / sw;
            const double qx = xd + stx / sw;
            const double qy = yd + sty / sw;
            constexpr double kRange = kPositionRange; // NaN fails too
            if (std::fabs(px) < kRange && std::fabs(py) < kRange && std::fabs(qx) < kRange &&
                std::fabs(qy) < kRange) {
                out.sx = Clamp(RoundEven(px), width_);
                out.sy = Clamp(RoundEven(py), height_);
                out.tx = Clamp(RoundEven(qx), width_);
                out.ty = Clamp(RoundEven(qy), height_);
                return Fault::None;
            }
        }
        Fault fault = MapPixelChecked(lines_, x, y, k_, width_, height_, out);
        // The checked order can only disagree with the fast one by finding a fault.
        return fault == Fault::None ? Fault::Invalid : fault;
    }

    static std::int64_t Clamp(double rounded, int limit) {
        auto value = static_cast<std::int64_t>(rounded);
        value = value < 0 ? 0 : value;
        return value >= limit ? limit - 1 : value;
    }

    void SaveBlock(int x0, int x1) {
        saved_.clear();
        const int columns = x1 - x0;
        saved_.reserve(std::size_t(columns) * std::size_t(height_) * 3);
        for (Bitmap* b : {&blend_, warpedSource_, warpedTarget_}) {
            if (b == nullptr) {
                continue;
            }
            for (int y = 0; y < height_; ++y) {
                const Colour* row = b->row(y) + x0;
                saved_.insert(saved_.end(), row, row + columns);
            }
        }
    }

    void RestoreAfter(int x0, int x1, std::int64_t firstKey) {
        const int columns = x1 - x0;
        std::size_t i = 0;
        for (Bitmap* b : {&blend_, warpedSource_, warpedTarget_}) {
            if (b == nullptr) {
                continue;
            }
            for (int y = 0; y < height_; ++y) {
                Colour* row = b->row(y) + x0;
                for (int c = 0; c < columns; ++c, ++i) {
                    if (std::int64_t(c) * height_ + y > firstKey) {
                        row[c] = saved_[i];
                    }
                }
            }
        }
    }

    const Bitmap& source_;
    const Bitmap& target_;
    Bitmap& blend_;
    Bitmap* warpedSource_;
    Bitmap* warpedTarget_;
    std::vector<PreparedLine> lines_;
    WarpConstants k_;
    WarpOptions options_;
    bool continuous_;
    int width_;
    int height_;
    double fromSource_[256];
    double fromTarget_[256];
    bool blendSafe_ = false;
    bool canFault_ = true;
    MapRowsFn kernel_ = nullptr;
    KernelFrame frame_;
    std::vector<KernelLine> kernelLines_;
    std::vector<Colour> saved_;
    std::vector<std::pair<std::int64_t, Fault>> results_;
};

std::vector<PreparedLine> PrepareLines(const WarpInputs& in, const WarpConstants& constants,
                                       int width, int height, bool& degenerate) {
    const bool tables = in.options.isDefault();
    std::vector<PreparedLine> lines;
    lines.reserve(std::size_t(std::max(in.lineCount, 0)));
    degenerate = in.lineCount <= 0;
    thread_local WeightCache cache;
    cache.BeginFrame(constants);
    for (int j = 0; j < in.lineCount; ++j) {
        lines.push_back(PrepareLine(in.frameLines[j], in.sourceLines[j], in.targetLines[j],
                                    constants, width, height, cache, tables));
        degenerate = degenerate || lines.back().degenerate;
    }
    return lines;
}

} // namespace

int WarpThreadCount(int requested) {
    const int available = std::max(1, omp_get_num_procs());
    return requested <= 0 ? available : std::min(requested, std::max(available, 1) * 4);
}

static void CheckSupersample(const WarpOptions& options) {
    if (options.supersample < 1 || options.supersample > kMaxSupersample) {
        throw MorphError("The supersampling must be a whole number from 1 to " +
                         std::to_string(kMaxSupersample) + ", not " +
                         std::to_string(options.supersample));
    }
}

struct BandWarp::Impl {
    Impl(const WarpInputs& in, const WarpConstants& k, Bitmap& out)
        : inputs(in), constants(k), blend(out) {}

    WarpInputs inputs;
    WarpConstants constants;
    Bitmap& blend;
    std::optional<FrameWarper> warper; // none for the reference method
    std::atomic<std::int64_t> earliest{FrameWarper::kNoFault};
    int bands = 1;
};

BandWarp::BandWarp(const WarpInputs& in, const WarpConstants& constants, WarpMethod method,
                   Bitmap& blend)
    : impl_(std::make_unique<Impl>(in, constants, blend)) {
    // WarpFrame's checks, in its order.
    if (!in.source.sameSize(in.target)) {
        throw MorphError(" The Images Must Have the same Height and Width!");
    }
    if (in.lineCount > LineSlots) {
        throw MorphError("At most " + std::to_string(LineSlots) + " line pairs can be used");
    }
    for (int j = 0; j < in.lineCount; ++j) {
        CheckLineCoordinates(in.frameLines[j]);
        CheckLineCoordinates(in.sourceLines[j]);
        CheckLineCoordinates(in.targetLines[j]);
    }
    CheckSupersample(in.options);
    const int width = in.source.width();
    const int height = in.source.height();
    if (!blend.sameSize(in.source)) {
        blend.reset(width, height);
    }
    if (width == 0 || height == 0 || method == WarpMethod::Reference) {
        return;
    }
    bool degenerate = false;
    std::vector<PreparedLine> lines = PrepareLines(in, constants, width, height, degenerate);
    if (degenerate) {
        // As in WarpFrame: the first pixel's fault, by the formulas of the options.
        PixelMap unused{};
        Colour c1 = 0, c2 = 0;
        const Fault fault = in.options.isDefault()
                                ? MapPixelChecked(lines, 0, 0, constants, width, height, unused)
                                : MapPixelContinuous(lines, 0, 0, constants, in.options, in.source,
                                                     in.target, c1, c2);
        throw MorphError(FaultText(fault == Fault::None ? Fault::Invalid : fault));
    }
    impl_->warper.emplace(blend, nullptr, nullptr, in.source, in.target, std::move(lines), in.t,
                          constants, KernelFor(ActiveKernelLevel(), ActiveKernelFormula()),
                          in.options);
    impl_->bands = (height + kBandRows - 1) / kBandRows;
}

BandWarp::~BandWarp() = default;

int BandWarp::BandCount() const {
    return impl_->bands;
}

std::optional<BandFault> BandWarp::RunBand(int band) {
    Impl& w = *impl_;
    if (!w.warper) {
        if (w.inputs.source.width() == 0 || w.inputs.source.height() == 0) {
            return std::nullopt;
        }
        // The reference warp is one band on one thread; its warped pictures are thrown away.
        const int width = w.inputs.source.width();
        const int height = w.inputs.source.height();
        Bitmap warpedSource(width, height);
        Bitmap warpedTarget(width, height);
        try {
            ReferenceWarpFrame({w.blend, warpedSource, warpedTarget}, w.inputs, w.constants, {});
        } catch (const MorphError& e) {
            return BandFault{0, e.message()};
        }
        return std::nullopt;
    }
    const int height = w.inputs.source.height();
    const int r0 = band * kBandRows;
    const auto fault = w.warper->Band(r0, std::min(height, r0 + kBandRows), w.earliest);
    if (!fault) {
        return std::nullopt;
    }
    return BandFault{fault->first, FaultText(fault->second)};
}

namespace warp {

std::int64_t RunKernelAlone(const WarpInputs& in, const WarpConstants& constants,
                            KernelFormula formula) {
    bool degenerate = false;
    std::vector<PreparedLine> lines =
        PrepareLines(in, constants, in.source.width(), in.source.height(), degenerate);
    if (degenerate || !in.source.sameSize(in.target)) {
        return -1;
    }
    Bitmap blend, warpedSource, warpedTarget;
    const FrameWarper warper(blend, &warpedSource, &warpedTarget, in.source, in.target,
                             std::move(lines), in.t, constants,
                             KernelFor(ActiveKernelLevel(), formula), in.options);
    return warper.KernelAlone();
}

} // namespace warp

double Power(double base, double exponent) {
    double result = 0;
    if (Fault f = CheckedPower(base, exponent, result); f != Fault::None) {
        throw MorphError(FaultText(f));
    }
    return result;
}

WarpOutcome WarpFrame(const WarpOutputs& out, const WarpInputs& in, const WarpConstants& constants,
                      const WarpControl& control, int threadLimit) {
    if (!in.source.sameSize(in.target)) {
        throw MorphError(" The Images Must Have the same Height and Width!");
    }
    if (in.lineCount > LineSlots) {
        throw MorphError("At most " + std::to_string(LineSlots) + " line pairs can be used");
    }
    CheckSupersample(in.options);
    int step = control.refreshStep;
    CheckRefreshStep(step);
    for (int j = 0; j < in.lineCount; ++j) {
        CheckLineCoordinates(in.frameLines[j]);
        CheckLineCoordinates(in.sourceLines[j]);
        CheckLineCoordinates(in.targetLines[j]);
    }

    // An output that is also an input would be read while it is written: read a copy.
    auto isOutput = [&](const Bitmap& b) {
        return &b == &out.blend || &b == &out.warpedSource || &b == &out.warpedTarget;
    };
    std::optional<Bitmap> sourceCopy;
    std::optional<Bitmap> targetCopy;
    if (isOutput(in.source)) {
        sourceCopy.emplace(in.source);
    }
    if (isOutput(in.target)) {
        targetCopy.emplace(in.target);
    }
    const Bitmap& source = sourceCopy ? *sourceCopy : in.source;
    const Bitmap& target = targetCopy ? *targetCopy : in.target;
    const int width = source.width();
    const int height = source.height();
    for (Bitmap* picture : {&out.blend, &out.warpedSource, &out.warpedTarget}) {
        if (!picture->sameSize(source)) {
            picture->reset(width, height);
        }
    }
    if (width == 0 || height == 0) {
        return WarpOutcome::Completed;
    }

    if (control.method == WarpMethod::Reference) {
        const WarpInputs copied{source,        target,       in.sourceLines, in.targetLines,
                                in.frameLines, in.lineCount, in.t,           in.options};
        return ReferenceWarpFrame(out, copied, constants, control);
    }

    bool degenerate = false;
    std::vector<PreparedLine> lines = PrepareLines(in, constants, width, height, degenerate);
    if (degenerate) {
        // Every pixel meets every line, so the very first pixel fails, before any is written.
        PixelMap unused{};
        Colour c1 = 0, c2 = 0;
        const Fault fault =
            in.options.isDefault()
                ? MapPixelChecked(lines, 0, 0, constants, width, height, unused)
                : MapPixelContinuous(lines, 0, 0, constants, in.options, source, target, c1, c2);
        throw MorphError(FaultText(fault == Fault::None ? Fault::Invalid : fault));
    }

    FrameWarper warper(out.blend, &out.warpedSource, &out.warpedTarget, source, target,
                       std::move(lines), in.t, constants,
                       KernelFor(ActiveKernelLevel(), ActiveKernelFormula()), in.options);
    const int threads = WarpThreadCount(threadLimit);
    // Column x0 is a progress column: its first pixel, the progress point, then the rest of
    // the columns up to the next progress column, computed in parallel. Everything but the
    // blocks' tasks runs on the calling thread.
    auto columns = [&](bool inTeam) {
        for (std::int64_t x0 = 0; x0 < width;) {
            const int x = int(x0);
            if (Fault f = warper.Pixel(x, 0); f != Fault::None) {
                throw MorphError(FaultText(f));
            }
            if (control.progress && control.progress(x)) {
                return WarpOutcome::Cancelled;
            }
            if (control.readRefreshStep) {
                step = control.readRefreshStep();
                CheckRefreshStep(step);
            }
            const std::int64_t next = (x0 / step + 1) * step;
            const int x1 = int(std::min<std::int64_t>(next, width));
            if (auto fault = warper.Block(x, x1, inTeam, threads, control.parallelSmallBlocks)) {
                throw MorphError(FaultText(fault->second));
            }
            x0 = next;
        }
        return WarpOutcome::Completed;
    };
    const bool worthThreads = control.parallelSmallBlocks ||
                              std::int64_t(width) * height * in.lineCount >= kMinParallelWork;
    if (threads <= 1 || !worthThreads) {
        return columns(false);
    }
    WarpOutcome outcome = WarpOutcome::Completed;
    std::exception_ptr error;
    // The progress callback may run the GUI's event loop, so the columns are walked on the
    // calling thread (the team's thread 0); the others only run the blocks' tasks.
#pragma omp parallel num_threads(threads)
    {
#pragma omp masked
        {
            try {
                outcome = columns(true);
            } catch (...) {
                error = std::current_exception();
            }
        }
    }
    if (error) {
        std::rethrow_exception(error);
    }
    return outcome;
}

} // namespace morph
