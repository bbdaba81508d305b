// The command line of morph-render.
#pragma once

#include "cli/LinesFile.h"
#include "engine/FrameBuild.h"
#include "engine/Interpolation.h"
#include "engine/Warp.h"
#include "platform/MorphError.h"

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace morph {

// The order of the frames in the AVI video and the other videos: pingpong runs forward and
// then backward, the last frame twice in the middle and the first at both ends (2N frames).
enum class AviDirection { Forward, Backward, PingPong };

// The start values of the settings, as texts, converted the way every other value is.
inline constexpr const char* kDefaultFrames = "2";
inline constexpr const char* kDefaultA = "2";
inline constexpr const char* kDefaultB = "1";
inline constexpr const char* kDefaultP = "0";
inline constexpr const char* kDefaultFrameTime = "50";

struct RenderOptions {
    bool help = false;
    bool demo = false;
    std::string sourcePath;
    std::string targetPath;
    std::string linesPath;
    std::string morphPath;      // a morph file: lines, pictures and settings (--morph)
    std::string vqvPath;        // empty: no .vQv file
    std::string pngDir;         // empty: no PNG frames
    std::string influenceDir;   // empty: no line influence pictures
    std::string aviPath;        // empty: no AVI video
    std::string videoPath;      // empty: no MP4, WebM, GIF, WebP or APNG video
    std::optional<int> quality; // of that video, on its format's scale; empty: its default
    std::string wavPath;        // empty: videos without sound
    int frameTime = 0;          // milliseconds per video frame
    AviDirection direction = AviDirection::Forward;
    // The frame count and the warp constants stay texts until the build reads them, where
    // the windows convert theirs: a text that does not convert stops the run at that point.
    std::string frames = kDefaultFrames;
    std::string a = kDefaultA;
    std::string b = kDefaultB;
    std::string p = kDefaultP;
    InterpolationMode mode = InterpolationMode::EndPoints;
    int threads = 0; // 0: every core
    WarpMethod warp = WarpMethod::Fast;
    WarpOptions warpOptions;              // --distance, --sampling, --supersample
    std::optional<FrameRange> frameRange; // empty: every frame
    bool quiet = false;                   // no progress line on a terminal
    std::set<std::string> given;          // the options on the command line ("--frames", ...)
};

// A command line that does not fit the interface; the usage text is shown after it.
class UsageError : public MorphError {
  public:
    using MorphError::MorphError;
};

// The value of --frame-range, "FIRST:LAST": two decimal frame numbers, FIRST no larger than
// LAST; anything else raises UsageError. Whether LAST is a frame of the morph is only known
// once the frame count is converted.
FrameRange ParseFrameRange(const std::string& text);

// Parses the arguments after the program name. The frame time, the quality and the thread
// count are converted with StrToInt and raise its MorphError; the frame count and A, B and P
// are kept as texts. A malformed command line raises UsageError, and so does a sound file that
// no video of the run can carry.
RenderOptions ParseRenderOptions(const std::vector<std::string>& args);

// Takes from a morph file (or a lines file that names them) the pictures and settings the
// command line does not give. A picture that neither gives raises UsageError.
void TakeMorphSetup(RenderOptions& options, const MorphSetup& setup);

// The forms of the command line, then the whole help text.
std::string RenderSynopsis();
std::string RenderUsage();

} // namespace morph
