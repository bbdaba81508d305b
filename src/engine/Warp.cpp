#include "engine/Warp.h"

#include "platform/MorphError.h"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace morph {

namespace {

// Arithmetic faults are carried as codes inside the pixel loops (exceptions cannot leave an
// OpenMP region) and turned into MorphError once the first one in column order is known.
enum class Fault : std::uint8_t { None, Invalid, DivideByZero, Overflow };

const char* FaultText(Fault fault) {
    switch (fault) {
    case Fault::Invalid:
        return kInvalidOperation;
    case Fault::DivideByZero:
        return kFloatDivideByZero;
    case Fault::Overflow:
        return kFloatOverflow;
    case Fault::None:
        break;
    }
    return "";
}

// a / b with the faults of a floating-point unit that traps them.
Fault Divide(double a, double b, double& result) {
    if (b == 0) {
        return a == 0 ? Fault::Invalid : Fault::DivideByZero;
    }
    result = a / b;
    return std::isinf(result) ? Fault::Overflow : Fault::None;
}

Fault Multiply(double a, double b, double& result) {
    result = a * b;
    return std::isinf(result) ? Fault::Overflow : Fault::None;
}

Fault Add(double a, double b, double& result) {
    result = a + b;
    return std::isinf(result) ? Fault::Overflow : Fault::None;
}

// Square-and-multiply from the lowest bit, the reciprocal taken last for a negative power.
Fault IntegerPower(double base, std::int64_t exponent, double& result) {
    std::uint64_t n = static_cast<std::uint64_t>(exponent < 0 ? -exponent : exponent);
    double r = 1.0;
    double x = base;
    while (n != 0) {
        const bool bit = (n & 1) != 0;
        n >>= 1;
        if (bit) {
            if (Fault f = Multiply(r, x, r); f != Fault::None) {
                return f;
            }
        }
        if (n != 0) {
            if (Fault f = Multiply(x, x, x); f != Fault::None) {
                return f;
            }
        }
    }
    if (exponent < 0) {
        return Divide(1.0, r, result);
    }
    result = r;
    return Fault::None;
}

Fault CheckedPower(double base, double exponent, double& result) {
    if (exponent == 0) {
        result = 1.0;
        return Fault::None;
    }
    if (base == 0 && exponent > 0) {
        result = 0.0;
        return Fault::None;
    }
    if (exponent == std::trunc(exponent) && std::fabs(exponent) <= 2147483647.0) {
        return IntegerPower(base, static_cast<std::int64_t>(exponent), result);
    }
    if (base < 0) {
        return Fault::Invalid; // logarithm of a negative number
    }
    if (base == 0) {
        return Fault::DivideByZero; // logarithm of zero
    }
    result = std::exp(exponent * std::log(base));
    return std::isinf(result) ? Fault::Overflow : Fault::None;
}

// Round to a whole number the way a 64-bit integer conversion would: out of range is invalid.
Fault RoundChecked(double value, double& result) {
    result = std::nearbyint(value);
    if (!(std::fabs(result) < 9223372036854775808.0)) {
        return Fault::Invalid;
    }
    return Fault::None;
}

struct WeightEntry {
    double weight = 0;
    Fault fault = Fault::None;
};

// Everything about one line pair that does not depend on the pixel.
struct PreparedLine {
    // Frame line P->Q.
    double px = 0, py = 0, dx = 0, dy = 0;
    double lenSq = 0;  // (Qx - Px)^2 + (Qy - Py)^2 as an exact integer
    double len = 0;    // its square root
    double vConst = 0; // (Qx - Px) * Py - (Qy - Py) * Px, exact
    // Source and Target lines P'->Q' and P''->Q''.
    double sx = 0, sy = 0, sdx = 0, sdy = 0, slen = 0;
    double tx = 0, ty = 0, tdx = 0, tdy = 0, tlen = 0;
    bool degenerate = false; // a zero-length line: the projection is 0 / 0
    // Power(len, P), or its fault.
    double lengthTerm = 0;
    Fault lengthFault = Fault::None;
    // Weights for every whole distance this line can have inside the picture.
    std::int64_t tableOffset = 0;
    std::vector<WeightEntry> table;
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

constexpr std::int64_t kMinParallelWork = 16384;
constexpr std::int64_t kMaxWeightTable = std::int64_t(1) << 20;

double SignedDistanceNumerator(const PreparedLine& l, double x, double y) {
    return x * l.dy - y * l.dx + l.vConst;
}

PreparedLine PrepareLine(const ControlLine& f, const ControlLine& s, const ControlLine& t,
                         const WarpConstants& k, int width, int height) {
    PreparedLine l;
    l.px = f.x1;
    l.py = f.y1;
    const std::int64_t dx = std::int64_t(f.x2) - f.x1;
    const std::int64_t dy = std::int64_t(f.y2) - f.y1;
    l.dx = double(dx);
    l.dy = double(dy);
    l.lenSq = double(dx * dx + dy * dy);
    l.len = std::sqrt(l.lenSq);
    l.vConst = double(dx * f.y1 - dy * f.x1);

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
    side(s, l.sx, l.sy, l.sdx, l.sdy, l.slen);
    side(t, l.tx, l.ty, l.tdx, l.tdy, l.tlen);
    l.degenerate = l.lenSq == 0 || l.slen == 0 || l.tlen == 0;
    if (l.degenerate) {
        return l;
    }
    l.lengthFault = CheckedPower(l.len, k.p, l.lengthTerm);

    // v is affine in (x, y) and the division by len is monotone, so the distances of all
    // pixels lie between those of the corners (0 when the line crosses the picture).
    double vMin = std::numeric_limits<double>::infinity();
    double vMax = -vMin;
    for (double cx : {0.0, double(width - 1)}) {
        for (double cy : {0.0, double(height - 1)}) {
            const double v = SignedDistanceNumerator(l, cx, cy) / l.len;
            vMin = std::min(vMin, v);
            vMax = std::max(vMax, v);
        }
    }
    const double lowAbs =
        (vMin <= 0 && vMax >= 0) ? 0.0 : std::min(std::fabs(vMin), std::fabs(vMax));
    const double highAbs = std::max(std::fabs(vMin), std::fabs(vMax));
    const auto low = static_cast<std::int64_t>(std::nearbyint(lowAbs));
    const auto high = static_cast<std::int64_t>(std::nearbyint(highAbs));
    if (high - low + 1 <= kMaxWeightTable) {
        l.tableOffset = low;
        l.table.resize(std::size_t(high - low + 1));
        for (std::int64_t d = low; d <= high; ++d) {
            l.table[std::size_t(d - low)] = ComputeWeight(l, d, k);
        }
    }
    return l;
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
        double u = 0;
        if (Fault f = Divide((xd - l.px) * l.dx + (yd - l.py) * l.dy, l.lenSq, u);
            f != Fault::None) {
            return f;
        }
        double v = 0;
        if (Fault f = Divide(SignedDistanceNumerator(l, xd, yd), l.len, v); f != Fault::None) {
            return f;
        }
        double across[4] = {};
        if (Fault f = Divide(l.sdy * v, l.slen, across[0]); f != Fault::None) {
            return f;
        }
        if (Fault f = Divide(l.sdx * v, l.slen, across[1]); f != Fault::None) {
            return f;
        }
        if (Fault f = Divide(l.tdy * v, l.tlen, across[2]); f != Fault::None) {
            return f;
        }
        if (Fault f = Divide(l.tdx * v, l.tlen, across[3]); f != Fault::None) {
            return f;
        }
        const double xs = std::nearbyint(u * l.sdx + l.sx + across[0]);
        const double ys = std::nearbyint(u * l.sdy + l.sy - across[1]);
        const double xt = std::nearbyint(u * l.tdx + l.tx + across[2]);
        const double yt = std::nearbyint(u * l.tdy + l.ty - across[3]);
        const auto dist = static_cast<std::int64_t>(std::nearbyint(std::fabs(v)));
        const WeightEntry w = ComputeWeight(l, dist, k);
        if (w.fault != Fault::None) {
            return w.fault;
        }
        double term = 0;
        if (Fault f = Add(sw, w.weight, sw); f != Fault::None) {
            return f;
        }
        const double offsets[4] = {xs - xd, ys - yd, xt - xd, yt - yd};
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

class FrameWarper {
  public:
    FrameWarper(const Bitmap& source, const Bitmap& target, Bitmap& blend, Bitmap& warpedSource,
                Bitmap& warpedTarget, std::vector<PreparedLine> lines, double t,
                const WarpConstants& k)
        : source_(source), target_(target), blend_(blend), warpedSource_(warpedSource),
          warpedTarget_(warpedTarget), lines_(std::move(lines)), k_(k), width_(source.width()),
          height_(source.height()) {
        for (int b = 0; b < 256; ++b) {
            fromSource_[b] = (1.0 - t) * b;
            fromTarget_[b] = t * b;
        }
    }

    int width() const { return width_; }
    int height() const { return height_; }

    // Maps and writes pixel (x, y); returns the fault instead of writing when there is one.
    Fault Pixel(int x, int y) {
        PixelMap map{};
        Fault fault = MapPixelFast(x, y, map);
        if (fault != Fault::None) {
            return fault;
        }
        const Colour c1 = source_.pixel(int(map.sx), int(map.sy));
        const Colour c2 = target_.pixel(int(map.tx), int(map.ty));
        Colour mixed = c1 & 0xFF000000u;
        for (int shift = 0; shift < 24; shift += 8) {
            const double value = std::nearbyint(fromSource_[(c1 >> shift) & 0xFF] +
                                                fromTarget_[(c2 >> shift) & 0xFF]);
            mixed |= (Colour(static_cast<std::int64_t>(value)) & 0xFFu) << shift;
        }
        blend_.setPixel(x, y, mixed);
        warpedSource_.setPixel(x, y, c1);
        warpedTarget_.setPixel(x, y, c2);
        return Fault::None;
    }

    // Writes the pixels of columns [x0, x1) with y >= firstRow in column x0, all rows in
    // the others, in parallel. Returns the first fault in column order with its pixel; the
    // pixels after it are restored to what they were.
    std::optional<std::pair<std::int64_t, Fault>> Block(int x0, int x1, int threads,
                                                        bool parallelSmallBlocks) {
        const int columns = x1 - x0;
        const std::int64_t blockPixels = std::int64_t(columns) * height_;
        if (blockPixels <= 1) {
            return std::nullopt;
        }
        SaveBlock(x0, x1);
        const std::int64_t noFault = std::numeric_limits<std::int64_t>::max();
        std::int64_t firstKey = noFault;
        Fault firstFault = Fault::None;
        // Waking threads costs more than a few thousand pixel-line evaluations.
        const bool small =
            !parallelSmallBlocks && blockPixels * std::int64_t(lines_.size()) < kMinParallelWork;
        const int bands = small ? 1 : std::max(1, std::min(threads, height_));
#pragma omp parallel num_threads(bands)
        {
            const int band = omp_get_thread_num();
            const int count = omp_get_num_threads();
            const int y0 = int(std::int64_t(height_) * band / count);
            const int y1 = int(std::int64_t(height_) * (band + 1) / count);
            std::int64_t myKey = noFault;
            Fault myFault = Fault::None;
            for (int y = y0; y < y1; ++y) {
                for (int x = x0; x < x1; ++x) {
                    if (x == x0 && y == 0) {
                        continue; // written before the progress point
                    }
                    const std::int64_t key = std::int64_t(x - x0) * height_ + y;
                    if (key > myKey) {
                        continue;
                    }
                    if (Fault f = Pixel(x, y); f != Fault::None) {
                        myKey = key;
                        myFault = f;
                    }
                }
            }
#pragma omp critical(morph_warp_fault)
            if (myKey < firstKey) {
                firstKey = myKey;
                firstFault = myFault;
            }
        }
        if (firstKey == noFault) {
            return std::nullopt;
        }
        RestoreAfter(x0, x1, firstKey);
        return std::make_pair(firstKey, firstFault);
    }

  private:
    Fault MapPixelFast(int x, int y, PixelMap& out) const {
        double sw = 0, ssx = 0, ssy = 0, stx = 0, sty = 0;
        const double xd = x;
        const double yd = y;
        bool unusual = false;
        for (const PreparedLine& l : lines_) {
            const double u = ((xd - l.px) * l.dx + (yd - l.py) * l.dy) / l.lenSq;
            const double v = SignedDistanceNumerator(l, xd, yd) / l.len;
            const double xs = std::nearbyint(u * l.sdx + l.sx + (l.sdy * v) / l.slen);
            const double ys = std::nearbyint(u * l.sdy + l.sy - (l.sdx * v) / l.slen);
            const double xt = std::nearbyint(u * l.tdx + l.tx + (l.tdy * v) / l.tlen);
            const double yt = std::nearbyint(u * l.tdy + l.ty - (l.tdx * v) / l.tlen);
            const auto dist = static_cast<std::int64_t>(std::nearbyint(std::fabs(v)));
            const std::uint64_t index = std::uint64_t(dist - l.tableOffset);
            WeightEntry w;
            if (index < l.table.size()) {
                w = l.table[index];
            } else {
                w = ComputeWeight(l, dist, k_);
            }
            if (w.fault != Fault::None) {
                unusual = true;
                break;
            }
            sw += w.weight;
            ssx += w.weight * (xs - xd);
            ssy += w.weight * (ys - yd);
            stx += w.weight * (xt - xd);
            sty += w.weight * (yt - yd);
        }
        if (!unusual && sw != 0) {
            const double px = xd + ssx / sw;
            const double py = yd + ssy / sw;
            const double qx = xd + stx / sw;
            const double qy = yd + sty / sw;
            constexpr double kRange = 9.0e18; // inside the 64-bit range; NaN fails too
            if (std::fabs(px) < kRange && std::fabs(py) < kRange && std::fabs(qx) < kRange &&
                std::fabs(qy) < kRange) {
                out.sx = Clamp(std::nearbyint(px), width_);
                out.sy = Clamp(std::nearbyint(py), height_);
                out.tx = Clamp(std::nearbyint(qx), width_);
                out.ty = Clamp(std::nearbyint(qy), height_);
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
        for (Bitmap* b : {&blend_, &warpedSource_, &warpedTarget_}) {
            for (int y = 0; y < height_; ++y) {
                const Colour* row = b->row(y) + x0;
                saved_.insert(saved_.end(), row, row + columns);
            }
        }
    }

    void RestoreAfter(int x0, int x1, std::int64_t firstKey) {
        const int columns = x1 - x0;
        std::size_t i = 0;
        for (Bitmap* b : {&blend_, &warpedSource_, &warpedTarget_}) {
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
    Bitmap& warpedSource_;
    Bitmap& warpedTarget_;
    std::vector<PreparedLine> lines_;
    WarpConstants k_;
    int width_;
    int height_;
    double fromSource_[256];
    double fromTarget_[256];
    std::vector<Colour> saved_;
};

int ThreadCount(int requested) {
    const int available = std::max(1, omp_get_num_procs());
    return requested <= 0 ? available : std::min(requested, std::max(available, 1) * 4);
}

void CheckRefreshStep(int step) {
    if (step == 0) {
        throw MorphError(kIntDivideByZero);
    }
    if (step < 0) {
        throw MorphError("The refresh rate must be a whole number of at least 1, not " +
                         std::to_string(step));
    }
}

void CheckLine(const ControlLine& line) {
    for (std::int32_t c : {line.x1, line.y1, line.x2, line.y2}) {
        if (c < -kMaxLineCoordinate || c > kMaxLineCoordinate) {
            throw MorphError("Line coordinate " + std::to_string(c) + " is out of range");
        }
    }
}

} // namespace

double Power(double base, double exponent) {
    double result = 0;
    if (Fault f = CheckedPower(base, exponent, result); f != Fault::None) {
        throw MorphError(FaultText(f));
    }
    return result;
}

WarpOutcome WarpFrame(const Bitmap& sourceIn, const Bitmap& targetIn, Bitmap& blend,
                      Bitmap& warpedSource, Bitmap& warpedTarget, const LineSet& sourceLines,
                      const LineSet& targetLines, const LineSet& frameLines, int lastLine, double t,
                      const WarpConstants& constants, const WarpControl& control) {
    if (!sourceIn.sameSize(targetIn)) {
        throw MorphError(" The Images Must Have the same Height and Width!");
    }
    if (lastLine >= LineSlots) {
        throw MorphError("At most " + std::to_string(LineSlots) + " line pairs can be used");
    }
    int step = control.refreshStep;
    CheckRefreshStep(step);
    for (int j = 0; j <= lastLine; ++j) {
        CheckLine(frameLines[j]);
        CheckLine(sourceLines[j]);
        CheckLine(targetLines[j]);
    }

    // An output that is also an input would be read while it is written: read a copy.
    auto isOutput = [&](const Bitmap& b) {
        return &b == &blend || &b == &warpedSource || &b == &warpedTarget;
    };
    std::optional<Bitmap> sourceCopy;
    std::optional<Bitmap> targetCopy;
    if (isOutput(sourceIn)) {
        sourceCopy.emplace(sourceIn);
    }
    if (isOutput(targetIn)) {
        targetCopy.emplace(targetIn);
    }
    const Bitmap& source = sourceCopy ? *sourceCopy : sourceIn;
    const Bitmap& target = targetCopy ? *targetCopy : targetIn;
    const int width = source.width();
    const int height = source.height();
    for (Bitmap* out : {&blend, &warpedSource, &warpedTarget}) {
        if (!out->sameSize(source)) {
            out->reset(width, height);
        }
    }
    if (width == 0 || height == 0) {
        return WarpOutcome::Completed;
    }

    std::vector<PreparedLine> lines;
    lines.reserve(std::size_t(std::max(lastLine + 1, 0)));
    bool degenerate = lastLine < 0;
    for (int j = 0; j <= lastLine; ++j) {
        lines.push_back(
            PrepareLine(frameLines[j], sourceLines[j], targetLines[j], constants, width, height));
        degenerate = degenerate || lines.back().degenerate;
    }
    if (degenerate) {
        // Every pixel meets every line, so the very first pixel fails, before any is written.
        PixelMap unused{};
        const Fault fault = MapPixelChecked(lines, 0, 0, constants, width, height, unused);
        throw MorphError(FaultText(fault == Fault::None ? Fault::Invalid : fault));
    }

    FrameWarper warper(source, target, blend, warpedSource, warpedTarget, std::move(lines), t,
                       constants);
    const int threads = ThreadCount(control.threads);
    // Column x0 is a progress column: its first pixel, the progress point, then the rest of
    // the columns up to the next progress column, computed in parallel.
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
        if (auto fault = warper.Block(x, x1, threads, control.parallelSmallBlocks)) {
            throw MorphError(FaultText(fault->second));
        }
        x0 = next;
    }
    return WarpOutcome::Completed;
}

} // namespace morph
