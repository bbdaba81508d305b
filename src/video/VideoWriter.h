// Writing a frame sequence as a playable video or animation: MP4 (H.264, with AAC sound),
// WebM (VP9, with Opus sound), GIF, WebP and APNG, chosen by the file name's extension.
//
// Frames go in one at a time, so a caller can hand them over as they are made; the writer
// holds no more than the encoders need. The one exception is GIF: its single palette for the
// whole animation can only be chosen once every frame has been seen, so the frames are kept
// in an anonymous work file in the temporary folder and read back for the second pass.
//
// The file appears only when Finish() succeeds: until then the data goes to a temporary
// file beside it, and a failure, a cancel or a writer destroyed unfinished removes that and
// leaves an older file of the name as it was.
//
// Choices the formats force:
// - MP4: H.264 in 4:2:0 needs an even width and height. A picture with an odd one is padded
//   by repeating its last column or row, so the video is one pixel wider or taller.
// - GIF: delays are whole centiseconds: each frame lasts the frame time rounded to the nearest
//   centisecond (ties to even), at least 2 cs, since browsers show 0 and 1 cs as 10 cs.
//   A frame time above 655354 ms does not fit. One palette of 255 colours (and a transparent
//   entry for the pixels that do not change) serves every frame, so colours do not flicker
//   from frame to frame; it is dithered with an ordered pattern, which stays still where the
//   picture does. The animation loops forever, and so do WebP and APNG.
// - WebP: the encoder merges a frame identical to the one before into a longer frame; the
//   animation plays the same, with fewer frames in the file. A single frame makes a still
//   picture in WebP and APNG.
// - Sound: AAC in MP4 and Opus in WebM, cut or padded with silence to the video's length.
//   GIF, WebP and APNG carry no sound and refuse a sound file.
#pragma once

#include "platform/Bitmap.h"
#include "platform/MorphError.h"
#include "video/VideoFormat.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace morph {

enum class VideoPhase {
    Encoding,  // Add(): `done` frames of `total` taken
    Finishing, // Finish(): for GIF the second pass, `done` frames of `total` written
};

struct VideoProgressStep {
    VideoPhase phase = VideoPhase::Encoding;
    int done = 0;
    int total = 0; // the expected frame count; 0 when not given
};

// Called after every frame and while finishing; returning true cancels the export.
using VideoProgress = std::function<bool(const VideoProgressStep&)>;

struct VideoSettings {
    int width = 0; // of every frame
    int height = 0;
    int frameTimeMs = 50;       // milliseconds per frame
    std::optional<int> quality; // the format's own scale (VideoFormatInfo::quality)
    std::string wavPath;        // empty: no sound
    int expectedFrames = 0;     // only for the progress steps
    VideoProgress progress;
};

// A cancelled export: "Cannot write the video '<path>': the export was cancelled".
class VideoCancelled : public MorphError {
  public:
    using MorphError::MorphError;
};

// Empty when this system's FFmpeg libraries can write the format (with sound, when asked),
// else why not: "FFmpeg's libraries here have no libwebp_anim encoder for a WebP animation".
// Asked at run time, since a build of the libraries may lack an encoder.
std::string VideoFormatUnavailable(VideoFormat format, bool withSound = false);

// Raises the MorphError a writer would raise for these settings before it creates anything:
// the extension, an encoder missing here, the size, the frame time, the quality and the
// sound file (opened and read as far as its header). Lets a caller refuse an export before
// it makes the frames.
void CheckVideoSettings(const std::string& path, const VideoSettings& settings);

class VideoWriter {
  public:
    // Checks the settings as CheckVideoSettings does, then creates the temporary file and
    // starts the encoders. Messages: "Cannot write the video '<path>': <why>", "Cannot write
    // the video '<path>' with the sound of '<wav>': <why>", and the file's own: "Cannot
    // create file '<path>': Permission denied".
    VideoWriter(std::string path, VideoSettings settings);
    ~VideoWriter(); // unless finished: removes the temporary, the older file stays
    VideoWriter(const VideoWriter&) = delete;
    VideoWriter& operator=(const VideoWriter&) = delete;

    // Adds the next frame, which must have the settings' size; then reports progress.
    void Add(const Bitmap& frame);
    // Ends the video and puts the file in place. Needs at least one frame.
    void Finish();
    // Asks the export to stop; the next Add() or step of Finish() raises VideoCancelled.
    // May be called from another thread.
    void Cancel() noexcept;

    int FrameCount() const;
    const std::string& Path() const;

    // After a failure, Add() and Finish() raise "... it has stopped after an error".
  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Writes `frames` (each non-null, all of the settings' size) as one video.
void WriteVideo(const std::string& path, const VideoSettings& settings,
                const std::vector<const Bitmap*>& frames);

} // namespace morph
