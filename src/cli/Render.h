// Running morph-render: pictures and lines in, a rendered frame sequence out.
#pragma once

#include "cli/LinesFile.h"
#include "cli/RenderOptions.h"
#include "engine/FrameBuild.h"
#include "platform/Bitmap.h"
#include "platform/OutputSet.h"
#include "platform/PngFrames.h"
#include "video/VideoWriter.h" // VideoSettings

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

// Raises the writer's message when the sound file's name cannot be used, so that a bad name
// stops morph-render before it renders.
void CheckAviOptions(const RenderOptions& options);

// The settings of the run's MP4, WebM, GIF, WebP or APNG video for frames of width x height:
// its frame time and quality, and the sound file when the format can carry sound.
VideoSettings RenderVideoSettings(const RenderOptions& options, int width, int height);

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

// Renders frames range.first .. range.last of the morph (t accumulated as in the whole
// sequence) and hands each frame, as soon as it is ready, to every output the options name:
// the .vQv file, the PNG folder (frames keep their numbers in the whole sequence), the AVI
// file and the video; the frames are not kept. `progress` gets frames done of the range's
// after each one. On failure none of the outputs is left behind and every file they would
// replace is as it was.
void RenderToOutputs(const RenderInputs& inputs, const MorphSettings& settings,
                     const RenderOptions& options, FrameRange range = {},
                     const std::function<void(int done, int total)>& progress = {});

// The folder with the demo's pictures and lines: the build's samples folder, else a
// "samples" folder beside the executable or in one of its parent folders.
std::filesystem::path FindSamplesDir();

// The whole program: parses args (without the program name), renders, writes, reports.
// Returns the exit status: 0 on success, 1 on any error (its message goes to `err`).
int RunMorphRender(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace morph
