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

// Frames first .. last of a sequence; last = -1 stands for the sequence's last frame.
struct FrameRange {
    int first = 0;
    int last = -1;
    bool operator==(const FrameRange&) const = default;
};

// What a streamed build does with its frames. Only `deliver` is needed.
struct FrameStream {
    // Called once on the calling thread after every check, the line sets and the constants,
    // before the first frame is warped: where the outputs are opened, so that a check's
    // error comes before an output's.
    std::function<void()> begin;
    // Called on a worker thread as soon as a frame is warped, for work that can run beside
    // the other frames (encoding it, say); frames come in any order, several at once.
    std::function<void(int frame, const Bitmap& blend)> prepare;
    // Called on the calling thread with every frame of the range in order, while the
    // following frames are warped.
    std::function<void(int frame, const Bitmap& blend)> deliver;
    // Called on the calling thread after each delivered frame: frames done of the range's.
    std::function<void(int done, int total)> progress;
};

// The frames of BuildMorph's blend row in `range` (t accumulated as in the whole sequence),
// each handed over as soon as it is ready and then dropped, so that the memory held is a few
// pictures whatever the frame count: the frames are cut into tasks of a band of rows, and all
// threads take the next task of the earliest frames. Results do not depend on the thread
// count. Errors are those of BuildMorph, raised on the calling thread: the first frame's
// that has one, after every frame before it is delivered; an error of `prepare` counts as
// its frame's, and one of `deliver` stops the build at once.
void StreamMorph(const MorphInputs& in, const MorphSettings& settings, FrameRange range,
                 const FrameStream& stream);

// The frames of a StreamMorph held in memory at once: warped, being prepared or waiting to
// be delivered (the one being delivered included).
int StreamedFrameBuffers(int threads, bool prepared);

} // namespace morph
