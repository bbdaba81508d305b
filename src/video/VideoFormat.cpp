#include "video/VideoFormat.h"

#include <algorithm>
#include <cctype>

namespace morph {

namespace {

// The defaults: CRF 18 is close to visually lossless for H.264; VP9's CRF scale runs higher
// for the same quality: at 24 the samples' frames come back as close as from H.264 at 18
// (35.9 and 35.6 dB), in a file of about the same size.
// WebP at quality 90 is lossy but without visible loss on photographs, a fraction of the size
// of lossless WebP. GIF and APNG are lossless once the colours are chosen.
const VideoFormatInfo kFormats[] = {
    {VideoFormat::Mp4, ".mp4", "MP4 video, H.264", "MP4 video, H.264 (*.mp4)", "an MP4 video",
     "mp4", "libx264", "aac", VideoQuality{0, 51, 18, false, "CRF"}},
    {VideoFormat::WebM, ".webm", "WebM video, VP9", "WebM video, VP9 (*.webm)", "a WebM video",
     "webm", "libvpx-vp9", "libopus", VideoQuality{0, 63, 24, false, "CRF"}},
    {VideoFormat::Gif, ".gif", "Animated GIF", "Animated GIF (*.gif)", "a GIF animation", "gif",
     "gif", nullptr, std::nullopt},
    {VideoFormat::WebP, ".webp", "Animated WebP", "Animated WebP (*.webp)", "a WebP animation",
     "webp", "libwebp_anim", nullptr, VideoQuality{0, 100, 90, true, "quality"}},
    {VideoFormat::Apng, ".apng", "Animated PNG", "Animated PNG (*.apng)", "an APNG animation",
     "apng", "apng", nullptr, std::nullopt},
};

std::string Lower(std::string text) {
    for (char& c : text) {
        c = char(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

} // namespace

std::span<const VideoFormatInfo> VideoFormats() {
    return kFormats;
}

const VideoFormatInfo& FormatInfo(VideoFormat format) {
    return *std::find_if(std::begin(kFormats), std::end(kFormats),
                         [format](const VideoFormatInfo& info) { return info.format == format; });
}

std::optional<VideoFormat> VideoFormatOfPath(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::string name = Lower(slash == std::string::npos ? path : path.substr(slash + 1));
    for (const VideoFormatInfo& info : kFormats) {
        const std::string extension = info.extension;
        if (name.size() > extension.size() &&
            name.compare(name.size() - extension.size(), extension.size(), extension) == 0) {
            return info.format;
        }
    }
    return std::nullopt;
}

std::string VideoExtensionsText() {
    std::string text;
    const std::size_t count = std::size(kFormats);
    for (std::size_t i = 0; i < count; ++i) {
        text += i == 0 ? "" : (i + 1 == count ? " or " : ", ");
        text += kFormats[i].extension;
    }
    return text;
}

} // namespace morph
