// The benchmark scenario of the field warp: two structured 512 x 512 pictures, 20 line pairs
// whose Target lines are moved, turned and scaled copies of their Source lines, 30 frames
// with end-point interpolation.
#pragma once

#include "engine/FrameBuild.h"
#include "platform/Bitmap.h"

#include <cstdint>
#include <string>

namespace morph::bench {

inline constexpr int kSide = 512;
inline constexpr int kLines = 20;
inline constexpr int kFrames = 30;
// One evaluation is one pixel x one line x one frame.
inline constexpr double kEvaluations = double(kSide) * kSide * kLines * kFrames;

struct Scenario {
    Bitmap source;
    Bitmap target;
    LineSet sourceLines{};
    LineSet targetLines{};
};

// Always the same scenario (a fixed random seed).
const Scenario& TheScenario();

// S1 uses the start values A 2, B 1, P 0; S2 uses A 1, B 1.5, P 0.5.
WarpConstants Constants(int scenario);

MorphSettings Settings(int scenario, int threads);

// The lines file of morph-render for the scenario.
std::string LinesFileText(const Scenario& scenario);

} // namespace morph::bench
