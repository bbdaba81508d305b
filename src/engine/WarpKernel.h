// The vector form of the warp's pixel mapping: consecutive pixels of one column side by side
// in the lanes of a vector register, with the widest instruction set the processor offers
// chosen at run time. Engine-internal.
#pragma once

#include "engine/Warp.h"

#include <cstdint>

namespace morph::warp {

// One value of a line pair that only matters once rounded, as an affine function of the
// pixel: close to base + x * perColumn + y * perRow (how close: see PrepareAffine in
// Warp.cpp).
struct AffineValue {
    double base = 0;
    double perColumn = 0;
    double perRow = 0;
};

// One line pair as the kernels read it. Coordinates, differences and lenSq are whole numbers
// held exactly in doubles; len, slen and tlen are their square roots.
struct KernelLine {
    double dx = 0, dy = 0; // frame line Q - P
    double px = 0, py = 0; // its start point P
    double vConst = 0;     // dx * Py - dy * Px
    double lenSq = 0, len = 0;
    double sx = 0, sy = 0, sdx = 0, sdy = 0, slen = 0; // Source line
    double tx = 0, ty = 0, tdx = 0, tdy = 0, tlen = 0; // Target line
    // The weight depends on |v| only; the tables are indexed by s v, with the sign s = +-1
    // chosen so that s v does not fall from row to row (down a column).
    double distanceSign = 1;
    // Without division: the four read positions less the pixel (X' - x, Y' - y, X'' - x,
    // Y'' - y), and s v less tableLow (the entry of its weight). Each lies so close to the
    // exact formula's value that where its fraction (value - Round(value)) is below the
    // frame's safeFraction in size, it rounds as the exact one does.
    AffineValue offsets[4];
    AffineValue entry;
    // weights[i] is the weight at Round(s v) = tableLow + i, for every value of the picture's
    // pixels and one more on each side; NaN where computing that weight faults. The array
    // holds tableSize entries: at least three NaN after the last real one (four entries can
    // be read from any real one) and at least kMinTableSize in all.
    double tableLow = 0;
    double tableSize = 0;
    const double* weights = nullptr;
    // The continuous path (some warp option not at its default) keeps everything real and
    // needs only one division per line and sample point. With (ex, ey) the point less P, u, v
    // and the four read positions less the point (X' - x, Y' - y, X'' - x, Y'' - y) are affine
    // in (ex, ey), so that a column's part of each is computed once for all its rows:
    //     u = ex uEx + ey uEy,  v = ex vEx + ey vEy,
    //     offset c = (mapBase[c] + ex mapEx[c]) + ey mapEy[c],
    //     weight = Power(lengthTerm / (dist + A), B).
    double uEx = 0, uEy = 0;                              // dx / lenSq, dy / lenSq
    double vEx = 0, vEy = 0;                              // dy / len, -dx / len
    double mapBase[4] = {}, mapEx[4] = {}, mapEy[4] = {}; // from the lines (PrepareLine)
    double qx = 0, qy = 0;                                // the frame line's end point Q
    double lengthTerm = 0;                                // Power(len, P)
};

// A final position at least this far from 0 is left to the checked path, which raises the
// fault of a conversion to a 64-bit integer when it is out of that range.
inline constexpr double kPositionRange = 9.0e18;

// Weight tables are padded to this many entries so that a kernel may read any window of 16
// entries inside one.
inline constexpr int kMinTableSize = 16;

// What a kernel needs of one frame.
struct KernelFrame {
    const KernelLine* lines = nullptr;
    int lineCount = 0; // at least 1
    int width = 0;
    int height = 0;
    const std::uint32_t* source = nullptr; // Source and Target pictures, rows from the top
    const std::uint32_t* target = nullptr;
    // The blend's factors 1 - t and t; |1 - t| and |t| are below kKernelBlendLimit.
    double keep = 0;
    double take = 0;
    // A lane where one of the affine values has a fraction of this size or more is left to
    // the scalar path. Above 0: the affine values are within 0.5 of the exact ones, so their
    // table entries are within one of the pixels' ones.
    double safeFraction = 0;
    // The continuous kernel's choices: K x K sample points a pixel, the distance to the
    // segment instead of the line, bilinear reads, and the constants A and B.
    int supersample = 1;
    bool segment = false;
    bool bilinear = false;
    double a = 0;
    double b = 0;
};

// With both blend factors below this in size every blended byte fits a 32-bit integer
// before its low 8 bits are taken.
inline constexpr double kKernelBlendLimit = 1.0e6;

// Most rows one call maps; a multiple of every lane count.
inline constexpr int kMapRows = 64;

struct MappedRows {
    // Colours of each pixel: read from the Source, read from the Target, and their blend.
    std::uint32_t source[kMapRows];
    std::uint32_t target[kMapRows];
    std::uint32_t blend[kMapRows];
    // Bit i set: pixel i met something unusual (a value too near a rounding boundary to
    // trust, a weight that faults, a sum that is not finite or zero, a position out of range)
    // and must be redone by the scalar path; its colours are then meaningless.
    std::uint64_t unusual = 0;
};

// Maps pixels (x, y0 + i) for 0 <= i < rows <= kMapRows, reads their colours and blends
// them so that every pixel that is not flagged equals the scalar one bit for bit.
using MapRowsFn = void (*)(const KernelFrame& frame, int x, int y0, int rows, MappedRows& out);

enum class KernelLevel { Scalar = 0, Sse2 = 1, Avx2 = 2, Avx512 = 3 };

// The widest level this processor supports.
KernelLevel SupportedKernelLevel();

// The level the warp uses: the supported one, capped by LimitKernelLevel.
KernelLevel ActiveKernelLevel();

// Caps the level for the frames that follow (tests run every level on one machine).
void LimitKernelLevel(KernelLevel level);

// How a kernel finds a pixel's read positions and distances.
enum class KernelFormula {
    // Affine in the pixel, no division; lanes near a rounding boundary go to the scalar path.
    Affine,
    // The exact formula with its six divisions per line, as the scalar path computes it. Only
    // kept so that morph_bench can measure the affine kernel against it in one run.
    Dividing,
};

// The formula the warp uses (Affine unless changed).
KernelFormula ActiveKernelFormula();
void UseKernelFormula(KernelFormula formula);

// The kernel of a level and formula; null for Scalar.
MapRowsFn KernelFor(KernelLevel level, KernelFormula formula = KernelFormula::Affine);

// The kernel of the continuous path (any warp option not at its default): the scalar path's
// steps in its order, with a lane flagged wherever that path could meet a fault. Null below
// AVX2 (no vector rounding down).
MapRowsFn ContinuousKernelFor(KernelLevel level);

// Maps every pixel of the frame with the kernel of the active level and `formula`, as the warp
// does, and throws the colours away. Returns how many pixels the kernel left to the scalar
// path, or -1 when the frame would not go to a kernel. Lets morph_bench time the kernels
// alone and count the pixels they send back.
std::int64_t RunKernelAlone(const WarpInputs& in, const WarpConstants& constants,
                            KernelFormula formula);

} // namespace morph::warp
