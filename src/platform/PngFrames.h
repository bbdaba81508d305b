// A frame sequence as a folder of numbered PNG pictures, frame_000.png onwards.
#pragma once

#include "platform/Bitmap.h"
#include "platform/OutputSet.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace morph {

// "frame_007.png": three digits at least, as many as the last index needs.
std::string FramePngName(int index, int frameCount);

// Called after each frame is written with the number written so far; may throw to stop.
using PngFrameStep = std::function<void(int written)>;

// Writes every frame (each non-null) as a PNG into `dir`, made when missing, as part of
// `outputs`: a failure of any frame, a throw of `afterFrame` or a failure of a later output
// takes them all away again and puts back the frames they replaced. A `dir` that exists and
// is not a folder is refused: "Cannot write the frames to '<dir>': it is not a folder".
// The frames are frames first, first + 1, ... of a sequence of frameCount frames (0: just
// these) and are named by those numbers.
void WritePngFrames(const std::vector<const Bitmap*>& frames, const std::filesystem::path& dir,
                    OutputSet& outputs, const PngFrameStep& afterFrame = {}, int first = 0,
                    int frameCount = 0);

} // namespace morph
