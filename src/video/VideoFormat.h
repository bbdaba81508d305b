// The formats the video export writes, chosen by the file name's extension, with what a save
// dialog and a command line need to know about each.
#pragma once

#include <optional>
#include <span>
#include <string>

namespace morph {

enum class VideoFormat { Mp4, WebM, Gif, WebP, Apng };

struct VideoQuality {
    int lowest = 0;   // smallest value accepted
    int highest = 0;  // largest value accepted
    int standard = 0; // used when none is given
    bool higherIsBetter = false;
    const char* name = ""; // what the number is: "CRF", "quality"
};

struct VideoFormatInfo {
    VideoFormat format;
    const char* extension;   // lower case, with the dot: ".mp4"
    const char* description; // "MP4 video, H.264"
    const char* filter;      // a save dialog's filter: "MP4 video, H.264 (*.mp4)"
    const char* noun;        // for messages: "an MP4 video"
    const char* muxer;       // FFmpeg's names of the container and the encoders
    const char* encoder;
    const char* soundEncoder;            // nullptr: the format carries no sound
    std::optional<VideoQuality> quality; // empty: the format has no quality setting
};

// Every format, in the order a save dialog lists them.
std::span<const VideoFormatInfo> VideoFormats();
const VideoFormatInfo& FormatInfo(VideoFormat format);

// The format named by the path's extension in any letter case; empty for any other.
std::optional<VideoFormat> VideoFormatOfPath(const std::string& path);

// ".mp4, .webm, .gif, .webp or .apng", for messages.
std::string VideoExtensionsText();

} // namespace morph
