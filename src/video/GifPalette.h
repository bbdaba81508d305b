// The two passes of a GIF with one palette for the whole animation. The first pass feeds
// every frame to the palette generator, which keeps only a count of the colours, and keeps
// the frame itself in an anonymous work file in the temporary folder (no name, so nothing is
// left behind even after a crash). The second pass reads the frames back and maps each to
// the palette.
#pragma once

#include "video/FfmpegSupport.h"

#include <cstdint>
#include <functional>

namespace morph::video {

class GifPalette {
  public:
    // Frames of width x height pixels in BGRA; `timeBase` is the frames' (one tick a frame).
    GifPalette(int width, int height, AVRational timeBase);
    ~GifPalette();
    GifPalette(const GifPalette&) = delete;
    GifPalette& operator=(const GifPalette&) = delete;

    void Add(const std::uint8_t* bgra);

    // Second pass: `encode` gets every frame in palette form, in order; `step` is called
    // before each frame with its index and may raise to stop.
    void Replay(const std::function<void(AVFrame&)>& encode, const std::function<void(int)>& step);

  private:
    void Store(const std::uint8_t* bgra);
    void Load(int index, AVFrame& frame);

    int width_;
    int height_;
    AVRational timeBase_;
    int frames_ = 0;
    int file_ = -1; // the work file
    FilterGraphPtr graph_;
    AVFilterContext* source_ = nullptr;
    AVFilterContext* sink_ = nullptr;
    FramePtr frame_;
};

} // namespace morph::video
