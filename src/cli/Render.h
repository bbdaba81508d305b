// Running morph-render: pictures and lines in, a rendered frame sequence out.
#pragma once

#include "cli/LinesFile.h"
#include "cli/RenderOptions.h"
#include "engine/FrameBuild.h"
#include "platform/Bitmap.h"
#include "platform/OutputSet.h"
#include "platform/PngFrames.h"
#include "video/VideoWriter.h"

#include <filesystem>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace morph {

// The refresh step of the warp's progress points; not an option of morph-render.
inline constexpr int kRenderRefreshStep = 20;

// The demo's frame count and its outputs, relative to the current folder.
inline constexpr int kDemoFrames = 10;
inline constexpr const char* kDemoVqv = "morph-demo.vQv";
inline constexpr const char* kDemoPngDir = "morph-demo";

// Writes every frame as a PNG into `dir` (see PngFrames.h); the frames are frames first,
// first + 1, ... of a sequence of frameCount frames, and are named by those numbers.
void WritePngFrames(const std::vector<Bitmap>& frames, const std::filesystem::path& dir,
                    OutputSet& outputs, int first, int frameCount);

// The frames of the AVI video in the order of the direction; they point into `frames`.
std::vector<const Bitmap*> AviFrameOrder(const std::vector<Bitmap>& frames, AviDirection direction);

// Raises the writer's message when the sound file's name cannot be used, so that a bad name
// stops morph-render before it renders.
void CheckAviOptions(const RenderOptions& options);

// Writes the frames, unscaled, to the AVI file of the options, with their frame time,
// direction and sound file.
void WriteRenderAvi(const std::vector<Bitmap>& frames, const RenderOptions& options);

// The settings of the run's MP4, WebM, GIF, WebP or APNG video for frames of width x height:
// its frame time and quality, and the sound file when the format can carry sound.
VideoSettings RenderVideoSettings(const RenderOptions& options, int width, int height);

// Writes the frames, unscaled, to the video of the options, in the order of the direction.
void WriteRenderVideo(const std::vector<Bitmap>& frames, const RenderOptions& options);

// Writes the frames to the .vQv file, the PNG folder, the AVI file and the video that the
// options name; the frames are frames first, first + 1, ... of frameCount (their PNG names).
// On failure none of the outputs is left behind and every file they would replace is as it
// was.
void WriteRenderOutputs(const std::vector<Bitmap>& frames, const RenderOptions& options, int first,
                        int frameCount);

struct RenderInputs {
    Bitmap source;
    Bitmap target;
    LinePairs lines;
};

// Loads the two pictures and the lines file named by the options; a morph file (or a lines
// file naming the pictures) fills in the pictures and settings the command line leaves out.
RenderInputs LoadRenderInputs(RenderOptions& options);

// The settings of a run: checks the lines and pictures, converts the frame count, and
// refuses what the outputs cannot hold and a run needing more memory than is available,
// all before anything is rendered (the video's settings and sound file included), and so is
// a frame range past the last frame. A, B and P are converted when the warp starts.
MorphSettings PrepareRender(const RenderInputs& inputs, const RenderOptions& options);

// Told how many of the frames asked for are done, of how many.
using RenderProgress = std::function<void(int done, int total)>;

// Builds the blended frames first .. last of the sequence, the Source picture first and the
// Target picture last when the range holds them.
std::vector<Bitmap> RenderFrames(const RenderInputs& inputs, const MorphSettings& settings,
                                 int first, int last, const RenderProgress& progress = {});

// The folder with the demo's pictures and lines: the build's samples folder, else a
// "samples" folder beside the executable or in one of its parent folders.
std::filesystem::path FindSamplesDir();

// The whole program: parses args (without the program name), renders, writes, reports.
// Returns the exit status: 0 on success, 1 on any error (its message goes to `err`).
int RunMorphRender(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace morph
