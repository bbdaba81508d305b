#include "video/GifPalette.h"

#include "video/VideoFaults.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/pixdesc.h>
}

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

namespace morph::video {

namespace {

// Ordered dithering keeps still parts of the picture still from frame to frame, where error
// diffusion makes them crawl; with the colours of a morph, which all come from the same two
// pictures, it costs little quality.
constexpr const char* kPaletteUse = "paletteuse=dither=bayer:bayer_scale=3:diff_mode=rectangle";

std::string Folder() {
    std::error_code error;
    std::filesystem::path folder = std::filesystem::temp_directory_path(error);
    return error ? std::string("/tmp") : folder.string();
}

[[noreturn]] void WorkFileFault(const char* what, int error) {
    throw VideoFault(std::string("the work file for its frames in '") + Folder() + "' " + what +
                     ": " + std::generic_category().message(error));
}

std::string Source(const char* name, int width, int height, AVRational timeBase) {
    return std::string("buffer@") + name + "=video_size=" + std::to_string(width) + "x" +
           std::to_string(height) + ":pix_fmt=bgra:time_base=" + std::to_string(timeBase.num) +
           "/" + std::to_string(timeBase.den) + ":pixel_aspect=1/1";
}

void Push(AVFilterContext* source, AVFrame* frame) {
    const int result = av_buffersrc_add_frame(source, frame);
    if (result < 0) {
        throw VideoFault("the palette filters failed: " + ExplainedError(result));
    }
}

// Takes every frame the sink has ready; false when it has none yet.
bool Pull(AVFilterContext* sink, AVFrame& frame) {
    const int result = av_buffersink_get_frame(sink, &frame);
    if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) {
        return false;
    }
    if (result < 0) {
        throw VideoFault("the palette filters failed: " + ExplainedError(result));
    }
    return true;
}

// Gives `frame` a new buffer: the filters may still hold the last one.
void NewBgraFrame(AVFrame& frame, int width, int height) {
    av_frame_unref(&frame);
    frame.format = AV_PIX_FMT_BGRA;
    frame.width = width;
    frame.height = height;
    if (av_frame_get_buffer(&frame, 0) < 0) {
        throw std::bad_alloc();
    }
}

} // namespace

GifPalette::GifPalette(int width, int height, AVRational timeBase)
    : width_(width), height_(height), timeBase_(timeBase), frame_(NewFrame()) {
    const std::string folder = Folder();
    file_ = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (file_ < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == ENOENT)) {
        // A file system without unnamed files: a named one, unlinked at once.
        std::string name = folder + "/.morph-gif-XXXXXX";
        file_ = ::mkostemp(name.data(), O_CLOEXEC);
        if (file_ >= 0) {
            ::unlink(name.c_str());
        }
    }
    if (file_ < 0) {
        WorkFileFault("cannot be created", errno);
    }
    graph_ = MakeFilterGraph(Source("in", width, height, timeBase) +
                                 ",palettegen=max_colors=256:reserve_transparent=1:stats_mode=full"
                                 ",buffersink@out",
                             "buffer@in", &source_, "buffersink@out", &sink_);
}

GifPalette::~GifPalette() {
    if (file_ >= 0) {
        ::close(file_);
    }
}

void GifPalette::Store(const std::uint8_t* bgra) {
    const std::size_t bytes = std::size_t(width_) * std::size_t(height_) * 4;
    off_t at = off_t(frames_) * off_t(bytes);
    for (std::size_t done = 0; done < bytes;) {
        const ssize_t n = ::pwrite(file_, bgra + done, bytes - done, at);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            WorkFileFault("cannot be written", n < 0 ? errno : ENOSPC);
        }
        done += std::size_t(n);
        at += n;
    }
}

// Fills `frame` with frame `index` as stored.
void GifPalette::Load(int index, AVFrame& frame) {
    NewBgraFrame(frame, width_, height_);
    const std::size_t rowBytes = std::size_t(width_) * 4;
    off_t at = off_t(index) * off_t(rowBytes) * height_;
    for (int y = 0; y < height_; ++y) {
        std::uint8_t* row = frame.data[0] + std::ptrdiff_t(y) * frame.linesize[0];
        for (std::size_t done = 0; done < rowBytes;) {
            const ssize_t n = ::pread(file_, row + done, rowBytes - done, at);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                WorkFileFault("cannot be read", n < 0 ? errno : EIO);
            }
            done += std::size_t(n);
            at += n;
        }
    }
    frame.pts = index;
}

void GifPalette::Add(const std::uint8_t* bgra) {
    Store(bgra);
    NewBgraFrame(*frame_, width_, height_);
    for (int y = 0; y < height_; ++y) {
        std::memcpy(frame_->data[0] + std::ptrdiff_t(y) * frame_->linesize[0],
                    bgra + std::size_t(y) * std::size_t(width_) * 4, std::size_t(width_) * 4);
    }
    frame_->pts = frames_;
    ++frames_;
    Push(source_, frame_.get());
    while (Pull(sink_, *frame_)) {
        av_frame_unref(frame_.get()); // the palette comes only at the end
    }
}

void GifPalette::Replay(const std::function<void(AVFrame&)>& encode,
                        const std::function<void(int)>& step) {
    Push(source_, nullptr);
    FramePtr palette = NewFrame();
    if (!Pull(sink_, *palette)) {
        throw VideoFault("the palette filters gave no palette");
    }

    AVFilterContext* frames = nullptr;
    AVFilterContext* paletteSource = nullptr;
    AVFilterContext* sink = nullptr;
    const std::string description = Source("in", width_, height_, timeBase_) + "[frames];" +
                                    Source("palette", palette->width, palette->height, timeBase_) +
                                    "[palette];[frames][palette]" + kPaletteUse + ",buffersink@out";
    graph_ = MakeFilterGraph(description, "buffer@in", &frames, "buffersink@out", &sink,
                             "buffer@palette", &paletteSource);
    palette->pts = 0;
    Push(paletteSource, palette.get());
    Push(paletteSource, nullptr);

    FramePtr mapped = NewFrame();
    for (int k = 0; k <= frames_; ++k) {
        if (k < frames_) {
            step(k);
            Load(k, *frame_);
            Push(frames, frame_.get());
        } else {
            Push(frames, nullptr);
        }
        while (Pull(sink, *mapped)) {
            encode(*mapped);
            av_frame_unref(mapped.get());
        }
    }
}

} // namespace morph::video
