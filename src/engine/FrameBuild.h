// A whole morph without windows: the line sets of every frame, then the warp of every frame.
#pragma once

#include "engine/Interpolation.h"
#include "engine/Warp.h"

#include <functional>
#include <vector>

namespace morph {

// The pictures and the drawn line pairs of a morph: slots 0 .. count - 1 of each set.
struct MorphInputs {
    const Bitmap& source;
    const Bitmap& target;
    const LineSet& sourceLines;
    int sourceCount = 0;
    const LineSet& targetLines;
    int targetCount = 0;
};

struct MorphSettings {
    int frames = 2;
    WarpConstants constants;
    InterpolationMode mode = InterpolationMode::EndPoints;
    int refreshStep = 20;
    int threads = 0;
    WarpMethod method = WarpMethod::Fast;
    WarpOptions warpOptions; // every frame is warped with these
    bool keepWarped = false; // also keep the warped Source and Target of every frame
    // When set, called once as the warp starts, after the line sets are built, and used in
    // place of `constants`: a caller holding the constants as texts converts them there, so
    // that a text that does not convert stops the build where the windows' build stops.
    std::function<WarpConstants()> readConstants;
};

struct MorphSequence {
    FrameLineSets lines;
    std::vector<Bitmap> blends; // what the main window calls MorphFrames
    std::vector<Bitmap> warpedSource;
    std::vector<Bitmap> warpedTarget;
};

// Messages of the common build checks.
inline constexpr const char* kDifferentLineCounts = " Different Number of Lines!";
inline constexpr const char* kNoLines = " Draw at Least ONE Line! ";
inline constexpr const char* kDifferentSizes = " The Images Must Have the same Height and Width!";

// Checks the line counts and the picture sizes, in the order the build commands do, and
// throws MorphError with the message of the first failure.
void CheckLinesAndPictures(const MorphInputs& in);

// CheckLinesAndPictures, then the frame count and the refresh step.
void CheckMorphInputs(const MorphInputs& in, const MorphSettings& settings);

// Progress of a whole build: frame index and column of the progress point. Return true to
// cancel; the frames not built are then left as they were made (white).
using BuildProgress = std::function<bool(int frame, int column)>;

MorphSequence BuildMorph(const MorphInputs& in, const MorphSettings& settings,
                         const BuildProgress& progress = {});

// Builds only frames first .. last of the sequence of settings.frames frames, each bit for bit
// the frame BuildMorph builds: t runs through the same additions from frame 0 on. `blends`
// (and the warped pictures when kept) hold just those frames, `lines` every frame's set; the
// progress gets the frames' own indices. A range outside the sequence raises MorphError.
MorphSequence BuildMorphFrames(const MorphInputs& in, const MorphSettings& settings, int first,
                               int last, const BuildProgress& progress = {});

} // namespace morph
