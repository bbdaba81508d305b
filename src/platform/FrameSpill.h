// Frames kept on disk for a second pass in another order (a video that plays them backwards):
// an unnamed work file in the temporary folder, so nothing is left behind, even after a crash.
#pragma once

#include "platform/Bitmap.h"

#include <string>

namespace morph {

class FrameSpill {
  public:
    // Frames of width x height pixels. Throws MorphError "the work file for the frames in
    // '<folder>' cannot be created: <why>".
    FrameSpill(int width, int height);
    ~FrameSpill();
    FrameSpill(const FrameSpill&) = delete;
    FrameSpill& operator=(const FrameSpill&) = delete;

    // Appends a frame of the spill's size ("... cannot be written: <why>").
    void Store(const Bitmap& frame);
    // Frame `index` of those stored, into `frame` ("... cannot be read: <why>").
    void Load(int index, Bitmap& frame) const;
    int Count() const { return count_; }

  private:
    [[noreturn]] void Fail(const char* what, int error) const;

    int width_;
    int height_;
    int count_ = 0;
    int file_ = -1;
    std::string folder_;
};

} // namespace morph
