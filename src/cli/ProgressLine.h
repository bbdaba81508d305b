// The one updating progress line morph-render keeps on a terminal.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>

namespace morph {

// A duration in whole seconds, rounded half to even, as "m:ss" or past an hour "h:mm:ss";
// a negative or undefined value counts as 0.
std::string FormatDuration(double seconds);

// "Rendering: 12 of 30 frames, 0:05 elapsed, about 0:08 left"; the estimate, the time per
// frame so far times the frames still to come, is left out until a frame is done.
std::string FormatProgress(int done, int total, double elapsedSeconds);

// Draws FormatProgress on a file descriptor, over and over on one line (carriage return),
// only when the descriptor is a terminal and the line is wanted: anywhere else it writes
// nothing at all. Updates may come from any thread.
class ProgressLine {
  public:
    ProgressLine(int fd, bool wanted);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // Whether anything will be drawn.
    bool active() const { return active_; }

    // Shows `done` of `total` frames; redraws at most ten times a second, but always the
    // first and the last count.
    void update(int done, int total);

    // Erases the line, leaving the cursor at its start for whatever comes next.
    void finish();

  private:
    void draw(const std::string& text);

    int fd_;
    bool active_;
    std::mutex mutex_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_;
    bool drawn_ = false;
    std::size_t shownLength_ = 0;
};

} // namespace morph
