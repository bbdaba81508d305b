// The vector form of the warp's pixel mapping: consecutive pixels of one column side by side
// in the lanes of a vector register, with the widest instruction set the processor offers
// chosen at run time. Engine-internal.
#pragma once

#include <cstdint>

namespace morph::warp {

// One line pair as the kernels read it. Coordinates, differences and lenSq are whole numbers
// held exactly in doubles; len, slen and tlen are their square roots.
struct KernelLine {
    double dx = 0, dy = 0; // frame line Q - P
    double px = 0, py = 0; // its start point P
    double vConst = 0;     // dx * Py - dy * Px
    double lenSq = 0, len = 0;
    double sx = 0, sy = 0, sdx = 0, sdy = 0, slen = 0; // Source line
    double tx = 0, ty = 0, tdx = 0, tdy = 0, tlen = 0; // Target line
    // weights[i] is the weight at the whole distance tableLow + i, for i = 0 .. tableLast;
    // NaN where computing that weight faults. The array holds tableSize >= kMinTableSize
    // entries, NaN past tableLast.
    double tableLow = 0;
    double tableLast = 0;
    double tableSize = 0;
    const double* weights = nullptr;
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
    // Bit i set: pixel i met something unusual (a weight that faults, a distance outside the
    // table, a sum that is not finite or zero, a position out of range) and must be redone
    // by the checked scalar path; its colours are then meaningless.
    std::uint64_t unusual = 0;
};

// Maps pixels (x, y0 + i) for 0 <= i < rows <= kMapRows, reads their colours and blends
// them, with the same operations in the same order as the scalar warp, so every pixel that
// is not flagged equals the scalar one bit for bit.
using MapRowsFn = void (*)(const KernelFrame& frame, int x, int y0, int rows, MappedRows& out);

enum class KernelLevel { Scalar = 0, Sse2 = 1, Avx2 = 2, Avx512 = 3 };

// The widest level this processor supports.
KernelLevel SupportedKernelLevel();

// The level the warp uses: the supported one, capped by LimitKernelLevel.
KernelLevel ActiveKernelLevel();

// Caps the level for the frames that follow (tests run every level on one machine).
void LimitKernelLevel(KernelLevel level);

// The kernel of a level; null for Scalar.
MapRowsFn KernelFor(KernelLevel level);

} // namespace morph::warp
