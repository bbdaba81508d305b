// The field warp of one frame: every pixel is mapped through all line pairs into the
// Source and the Target picture, and the two colours are blended.
#pragma once

#include "engine/ControlLine.h"
#include "platform/Bitmap.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace morph {

// What one frame writes. Every output is resized to the Source picture's size.
struct WarpOutputs {
    Bitmap& blend;
    Bitmap& warpedSource;
    Bitmap& warpedTarget;
};

// How a pixel's distance to a line pair is measured: to the infinite line through the frame
// line, or to the segment (past an end, the distance to that end point).
enum class WarpDistance { Line, Segment };

// How a colour is read at a mapped position: the nearest pixel, or the four pixels around the
// position weighted by their nearness (each channel rounded half to even).
enum class WarpSampling { Nearest, Bilinear };

// Choices that trade the classic look for smoother outlines. At their defaults the warp is the
// classic one bit for bit: positions and distances rounded to whole pixels, the weight taken
// from whole distances, the nearest pixel read. Any other choice keeps every line's mapped point
// and distance real and only samples the final read position.
struct WarpOptions {
    WarpDistance distance = WarpDistance::Line;
    WarpSampling sampling = WarpSampling::Nearest;
    // K x K evenly spaced sample positions per output pixel (1 .. kMaxSupersample), whose
    // colours are averaged per channel.
    int supersample = 1;

    bool isDefault() const {
        return distance == WarpDistance::Line && sampling == WarpSampling::Nearest &&
               supersample == 1;
    }
    bool operator==(const WarpOptions&) const = default;
};

inline constexpr int kMaxSupersample = 4;

// What one frame reads: both pictures, the line sets of the Source, the Target and the
// frame (pairs 0 .. lineCount - 1), and the frame parameter t (0 at the Source, 1 at the
// Target). Outputs may be the same objects as the pictures.
struct WarpInputs {
    const Bitmap& source;
    const Bitmap& target;
    const LineSet& sourceLines;
    const LineSet& targetLines;
    const LineSet& frameLines;
    int lineCount = 0;
    double t = 0;
    WarpOptions options{};
};

struct WarpConstants {
    double a = 2.0;
    double b = 1.0;
    double p = 0.0;
};

enum class WarpMethod {
    // Precomputed per line and frame, vector kernels, every core.
    Fast,
    // The formulas as they read, pixel by pixel and line by line on one thread with nothing
    // precomputed: the oracle the fast method must match bit for bit, and the baseline it is
    // timed against. Far too slow for anything else.
    Reference,
};

struct WarpControl {
    // Progress points come right after the first pixel of every R-th column (x mod R = 0).
    int refreshStep = 20;
    // Called at every progress point with its column; returning true cancels the frame.
    std::function<bool(int column)> progress;
    // When set, read after every progress point to get the step for the columns that
    // follow (the GUI lets the user retype it while a frame is being built). May throw.
    std::function<int()> readRefreshStep;
    WarpMethod method = WarpMethod::Fast;
    // Share even tiny blocks between threads (normally they run on one): lets tests cover
    // the parallel path on small pictures.
    bool parallelSmallBlocks = false;
};

enum class WarpOutcome { Completed, Cancelled };

// Warps one frame with at most `threads` threads (0: every core; the result never depends
// on it). Arithmetic faults raise MorphError with their message at the first pixel (in
// column order) where they occur; the outputs then hold every pixel before that one. A
// supersample count outside 1 .. kMaxSupersample raises MorphError before any pixel.
WarpOutcome WarpFrame(const WarpOutputs& out, const WarpInputs& in, const WarpConstants& constants,
                      const WarpControl& control = {}, int threads = 0);

// The threads a warp runs on for `requested` (0: every core; more than four a core are not
// used).
int WarpThreadCount(int requested);

// Rows of one band of a BandWarp: a multiple of the vector kernel's rows.
inline constexpr int kBandRows = 64;

// The first fault of a band: its pixel's key in column order (x * height + y) and message.
struct BandFault {
    std::int64_t key = 0;
    std::string message;
};

// One frame warped in bands of rows that any thread may run in any order, for builds without
// progress points: only the blend is written (the warped pictures are not kept), and its
// pixels are those WarpFrame writes. The frame's fault is the band fault of the smallest key.
class BandWarp {
  public:
    // Checks the frame as WarpFrame does and raises its errors (a line out of range, the
    // fault of a zero-length line); `blend` is resized to the pictures' size when it differs.
    // The inputs and `blend` must outlive the object.
    BandWarp(const WarpInputs& in, const WarpConstants& constants, WarpMethod method,
             Bitmap& blend);
    ~BandWarp();
    BandWarp(const BandWarp&) = delete;
    BandWarp& operator=(const BandWarp&) = delete;

    // kBandRows rows a band; the reference method makes the frame one band.
    int BandCount() const;
    // Writes the band's rows of the blend. May run on several threads at once.
    std::optional<BandFault> RunBand(int band);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// base^e with the rules of the warp: 1 when e = 0; 0 when base = 0 and e > 0; repeated
// multiplication for whole e; otherwise exp(e * ln base). Faults raise MorphError.
double Power(double base, double exponent);

} // namespace morph
