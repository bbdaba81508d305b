// The field warp of one frame: every pixel is mapped through all line pairs into the
// Source and the Target picture, and the two colours are blended.
#pragma once

#include "engine/ControlLine.h"
#include "platform/Bitmap.h"

#include <functional>

namespace morph {

struct WarpConstants {
    double a = 2.0;
    double b = 1.0;
    double p = 0.0;
};

struct WarpControl {
    // Progress points come right after the first pixel of every R-th column (x mod R = 0).
    int refreshStep = 20;
    // Called at every progress point with its column; returning true cancels the frame.
    std::function<bool(int column)> progress;
    // When set, read after every progress point to get the step for the columns that
    // follow (the GUI lets the user retype it while a frame is being built). May throw.
    std::function<int()> readRefreshStep;
    // Upper bound of threads; 0 uses every core. The result never depends on it.
    int threads = 0;
    // Share even tiny blocks between threads (normally they run on one): lets tests cover
    // the parallel path on small pictures.
    bool parallelSmallBlocks = false;
};

enum class WarpOutcome { Completed, Cancelled };

// lastLine is the index of the last line pair (line count - 1). Every output is resized to
// the Source picture's size. Arithmetic faults raise MorphError with their message at the
// first pixel (in column order) where they occur; the outputs then hold every pixel before
// that one. Outputs may be the same objects as the inputs.
WarpOutcome WarpFrame(const Bitmap& source, const Bitmap& target, Bitmap& blend,
                      Bitmap& warpedSource, Bitmap& warpedTarget, const LineSet& sourceLines,
                      const LineSet& targetLines, const LineSet& frameLines, int lastLine, double t,
                      const WarpConstants& constants, const WarpControl& control);

// base^e with the rules of the warp: 1 when e = 0; 0 when base = 0 and e > 0; repeated
// multiplication for whole e; otherwise exp(e * ln base). Faults raise MorphError.
double Power(double base, double exponent);

} // namespace morph
