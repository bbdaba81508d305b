// The video export loaded when it is first needed. FFmpeg's libraries bring close to two
// hundred shared libraries with them, and loading those takes longer than rendering a short
// morph, so morph-render links none of them: the writer lives in a module (libmorph-video.so,
// built beside morph-render) that is opened the first time a run asks for a video.
#pragma once

#include "platform/Bitmap.h"
#include "video/VideoWriter.h" // VideoSettings and the messages; none of its code is linked

#include <cstddef>
#include <memory>
#include <string>

namespace morph {

// A video being written: VideoWriter behind a virtual interface, so that the caller needs no
// symbol of the module.
class VideoOutput {
  public:
    virtual ~VideoOutput() = default;
    virtual void Add(const Bitmap& frame) = 0;
    virtual void Finish() = 0;
};

// Raised by a module built from other sources than its loader, which would not agree on the
// layout of what they pass.
constexpr int kVideoModuleVersion = 1;

struct VideoModule {
    int version;
    std::size_t settingsSize; // sizeof(VideoSettings) where the module was built
    void (*check)(const std::string& path, const VideoSettings& settings); // CheckVideoSettings
    std::unique_ptr<VideoOutput> (*open)(const std::string& path, VideoSettings settings);
};

// The module, opened on the first call (from beside the running program, else from where the
// build put it) and kept open. When it cannot be loaded: "Cannot write the video '<path>':
// <why>".
const VideoModule& LoadVideoModule(const std::string& videoPath);

} // namespace morph

// The module's one exported function.
extern "C" const morph::VideoModule* MorphVideoModule();
