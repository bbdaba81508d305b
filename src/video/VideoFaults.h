// Failures inside the video export, before the file names are put in front of them.
#pragma once

#include <stdexcept>
#include <string>

namespace morph::video {

// Something about the video: "Cannot write the video '<path>': " goes in front.
class VideoFault : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Something about the sound file: "Cannot write the video '<path>' with the sound of
// '<wav>': " goes in front.
class SoundFault : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

} // namespace morph::video
