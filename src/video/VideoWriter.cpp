#include "video/VideoWriter.h"

#include "platform/AtomicFile.h"
#include "video/Encoding.h"
#include "video/FfmpegSupport.h"
#include "video/GifPalette.h"
#include "video/SoundTrack.h"
#include "video/VideoFaults.h"

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/rational.h>
#include <libswscale/swscale.h>
}

#include <atomic>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

namespace morph {

using namespace video;

std::string VideoFormatUnavailable(VideoFormat format, bool withSound) {
    const VideoFormatInfo& info = FormatInfo(format);
    const auto missing = [&info](const char* what, const char* name) {
        return std::string("FFmpeg's libraries here have no ") + name + " " + what + " for " +
               info.noun;
    };
    if (av_guess_format(info.muxer, nullptr, nullptr) == nullptr) {
        return missing("muxer", info.muxer);
    }
    if (avcodec_find_encoder_by_name(info.encoder) == nullptr) {
        return missing("encoder", info.encoder);
    }
    if (withSound && info.soundEncoder != nullptr &&
        avcodec_find_encoder_by_name(info.soundEncoder) == nullptr) {
        return missing("sound encoder", info.soundEncoder);
    }
    return {};
}

namespace {

std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

constexpr int kMaxGifDelay = 65535; // centiseconds, a 16-bit field

// Centiseconds per GIF frame: the frame time rounded to the nearest (ties to even), at least
// 2, as browsers play 0 and 1 as 10.
std::int64_t GifDelay(int frameTimeMs) {
    std::int64_t delay = frameTimeMs / 10;
    const int rest = frameTimeMs % 10;
    if (rest > 5 || (rest == 5 && delay % 2 == 1)) {
        ++delay;
    }
    return std::max<std::int64_t>(delay, 2);
}

// The checks that need no file, in the order a user would fix them. Returns the format.
const VideoFormatInfo& CheckSettings(const std::string& path, const VideoSettings& settings) {
    const std::optional<VideoFormat> format = VideoFormatOfPath(path);
    if (!format) {
        throw VideoFault("its name does not end in " + VideoExtensionsText());
    }
    const VideoFormatInfo& info = FormatInfo(*format);
    const bool sound = !settings.wavPath.empty();
    if (sound && info.soundEncoder == nullptr) {
        throw VideoFault(std::string(info.noun) + " cannot carry the sound of " +
                         Quoted(settings.wavPath));
    }
    if (const std::string missing = VideoFormatUnavailable(*format, sound); !missing.empty()) {
        throw VideoFault(missing);
    }
    if (settings.width < 1 || settings.height < 1) {
        throw VideoFault("a video needs at least 1 x 1 pixels, not " +
                         std::to_string(settings.width) + " x " + std::to_string(settings.height));
    }
    if (settings.frameTimeMs < 1) {
        throw VideoFault("the frame time must be at least 1 ms, not " +
                         std::to_string(settings.frameTimeMs));
    }
    if (info.format == VideoFormat::Gif && GifDelay(settings.frameTimeMs) > kMaxGifDelay) {
        throw VideoFault("a GIF frame lasts at most 655354 ms, not " +
                         std::to_string(settings.frameTimeMs));
    }
    if (settings.quality) {
        if (!info.quality) {
            throw VideoFault(std::string(info.noun) + " has no quality setting");
        }
        const VideoQuality& q = *info.quality;
        if (*settings.quality < q.lowest || *settings.quality > q.highest) {
            throw VideoFault(std::string("the quality of ") + info.noun + " is its " + q.name +
                             ", " + std::to_string(q.lowest) + " to " + std::to_string(q.highest) +
                             ", not " + std::to_string(*settings.quality));
        }
    }
    return info;
}

// Runs `work`, turning the export's own failures into the messages the user sees: the
// video's name, and the sound file's where it is at fault, in front of the reason.
template <class Work>
auto NamingFiles(const std::string& path, const std::string& wav, Work&& work) {
    try {
        return work();
    } catch (const VideoFault& e) {
        throw MorphError("Cannot write the video " + Quoted(path) + ": " + e.what());
    } catch (const SoundFault& e) {
        throw MorphError("Cannot write the video " + Quoted(path) + " with the sound of " +
                         Quoted(wav) + ": " + e.what());
    }
}

struct CloseMuxer {
    void operator()(AVFormatContext* muxer) const {
        // Closes the temporary file too; it is removed by its AtomicFile.
        if (muxer->pb != nullptr) {
            avio_closep(&muxer->pb);
        }
        avformat_free_context(muxer);
    }
};

struct FreeScaler {
    void operator()(SwsContext* scaler) const { sws_freeContext(scaler); }
};

void Set(AVDictionary** options, const char* key, const std::string& value) {
    av_dict_set(options, key, value.c_str(), 0);
}

} // namespace

void CheckVideoSettings(const std::string& path, const VideoSettings& settings) {
    NamingFiles(path, settings.wavPath, [&] {
        KeepLibraryLogQuiet();
        CheckSettings(path, settings);
        if (!settings.wavPath.empty()) {
            SoundTrack sound(settings.wavPath);
        }
    });
}

struct VideoWriter::Impl {
    enum class State { Open, Failed, Finished };

    std::string path;
    VideoSettings settings;
    const VideoFormatInfo* info = nullptr;
    int codedWidth = 0;
    int codedHeight = 0;
    AVPixelFormat pixelFormat = AV_PIX_FMT_NONE;

    // Declared first so that it goes last, after the muxer has closed the file.
    std::unique_ptr<AtomicFile> file;
    std::unique_ptr<AVFormatContext, CloseMuxer> muxer;
    CodecContextPtr encoder;
    AVStream* stream = nullptr;
    std::unique_ptr<SoundTrack> sound;
    std::unique_ptr<GifPalette> gif;
    std::unique_ptr<SwsContext, FreeScaler> scaler;
    FramePtr picture;
    PacketPtr packet;
    std::vector<Colour> padded;      // a frame with an odd size made even
    std::vector<std::uint8_t> bytes; // a frame in the encoder's byte order

    int frames = 0;
    bool headerWritten = false;
    std::atomic<bool> cancelled{false};
    State state = State::Open;

    Impl(std::string target, VideoSettings videoSettings)
        : path(std::move(target)), settings(std::move(videoSettings)) {}

    void Start();
    void StartEncoder();
    void Add(const Bitmap& frame);
    void Finish();
    void Convert(const Bitmap& frame);
    void EncodeVideo(const AVFrame* frame);
    void WriteVideoPacket(AVPacket& packet);
    void WritePacket(AVPacket& packet);
    void CheckFile(int result, const char* step);
    void Report(VideoPhase phase, int done);
    void CheckCancel();
    void Abandon() noexcept;

    template <class Work> void Guarded(Work&& work) {
        if (state != State::Open) {
            throw MorphError("Cannot write the video " + Quoted(path) +
                             (state == State::Failed ? ": it has stopped after an error"
                                                     : ": it is already finished"));
        }
        try {
            NamingFiles(path, settings.wavPath, work);
        } catch (...) {
            Abandon();
            throw;
        }
    }
};

void VideoWriter::Impl::Start() {
    KeepLibraryLogQuiet();
    ClearLibraryMessage();
    info = &CheckSettings(path, settings);
    if (!settings.wavPath.empty()) {
        sound = std::make_unique<SoundTrack>(settings.wavPath);
    }
    picture = NewFrame();
    packet = NewPacket();
    file = std::make_unique<AtomicFile>(path);

    AVFormatContext* context = nullptr;
    avformat_alloc_output_context2(&context, nullptr, info->muxer, file->temporaryPath().c_str());
    if (context == nullptr) {
        throw std::bad_alloc();
    }
    muxer.reset(context);
    StartEncoder();
    stream = avformat_new_stream(context, nullptr);
    if (stream == nullptr) {
        throw std::bad_alloc();
    }
    int result = avcodec_parameters_from_context(stream->codecpar, encoder.get());
    if (result < 0) {
        throw VideoFault("the video stream could not be set up: " + ErrorText(result));
    }
    stream->time_base = encoder->time_base;
    stream->avg_frame_rate = encoder->framerate;
    if (sound) {
        sound->Start(*context, info->soundEncoder, [this](AVPacket& p) { WritePacket(p); });
    }

    result = avio_open(&context->pb, file->temporaryPath().c_str(), AVIO_FLAG_WRITE);
    if (result < 0) {
        throw MorphError("Cannot create file " + Quoted(path) + ": " + ErrorText(result));
    }
    AVDictionary* options = nullptr;
    switch (info->format) {
    case VideoFormat::Mp4:
        // The index goes in front, so that a browser can play the video while it loads.
        Set(&options, "movflags", "+faststart");
        break;
    case VideoFormat::Gif:
        Set(&options, "loop", "0"); // for ever
        // The last frame's delay, which the muxer cannot take from a next frame (it would
        // write 0 for an animation of one frame).
        Set(&options, "final_delay", std::to_string(GifDelay(settings.frameTimeMs)));
        break;
    case VideoFormat::WebP:
        Set(&options, "loop", "0"); // for ever
        break;
    case VideoFormat::Apng:
        Set(&options, "plays", "0"); // for ever
        break;
    case VideoFormat::WebM:
        break;
    }
    ClearLibraryMessage();
    result = avformat_write_header(context, &options);
    av_dict_free(&options);
    headerWritten = result >= 0;
    CheckFile(result, "could not start");
}

void VideoWriter::Impl::StartEncoder() {
    const AVCodec* codec = avcodec_find_encoder_by_name(info->encoder);
    encoder.reset(avcodec_alloc_context3(codec));
    if (!encoder) {
        throw std::bad_alloc();
    }
    AVCodecContext& e = *encoder;
    codedWidth = settings.width;
    codedHeight = settings.height;
    const int quality = settings.quality.value_or(info->quality ? info->quality->standard : 0);
    AVDictionary* options = nullptr;
    // One tick a frame: GIF counts in centiseconds, the others in milliseconds.
    std::int64_t ticks = settings.frameTimeMs;
    std::int64_t perSecond = 1000;
    switch (info->format) {
    case VideoFormat::Mp4:
        // 4:2:0 H.264 needs even sizes; the padding repeats the last column or row.
        codedWidth += codedWidth % 2;
        codedHeight += codedHeight % 2;
        pixelFormat = AV_PIX_FMT_YUV420P;
        Set(&options, "crf", std::to_string(quality));
        Set(&options, "preset", "medium");
        break;
    case VideoFormat::WebM:
        pixelFormat = AV_PIX_FMT_YUV420P;
        // Constant quality: the CRF alone decides, no bit rate.
        e.bit_rate = 0;
        Set(&options, "crf", std::to_string(quality));
        Set(&options, "deadline", "good");
        Set(&options, "cpu-used", "2");
        Set(&options, "row-mt", "1");
        break;
    case VideoFormat::Gif:
        pixelFormat = AV_PIX_FMT_PAL8;
        ticks = GifDelay(settings.frameTimeMs);
        perSecond = 100;
        break;
    case VideoFormat::WebP:
        pixelFormat = AV_PIX_FMT_BGRA;
        Set(&options, "quality", std::to_string(quality));
        Set(&options, "lossless", "0");
        break;
    case VideoFormat::Apng:
        pixelFormat = AV_PIX_FMT_RGB24;
        Set(&options, "pred", "mixed");
        break;
    }
    AVRational timeBase{};
    av_reduce(&timeBase.num, &timeBase.den, ticks, perSecond, INT32_MAX);
    e.width = codedWidth;
    e.height = codedHeight;
    e.pix_fmt = pixelFormat;
    e.time_base = timeBase;
    e.framerate = av_inv_q(timeBase);
    e.sample_aspect_ratio = AVRational{1, 1};
    if ((muxer->oformat->flags & AVFMT_GLOBALHEADER) != 0) {
        e.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (pixelFormat == AV_PIX_FMT_YUV420P) {
        // What the conversion below does: sRGB pictures, BT.601 coefficients, video range.
        e.color_primaries = AVCOL_PRI_BT709;
        e.color_trc = AVCOL_TRC_IEC61966_2_1;
        e.colorspace = AVCOL_SPC_SMPTE170M;
        e.color_range = AVCOL_RANGE_MPEG;
        scaler.reset(sws_getContext(
            codedWidth, codedHeight, AV_PIX_FMT_RGB0, codedWidth, codedHeight, pixelFormat,
            SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP, nullptr, nullptr, nullptr));
        if (!scaler) {
            av_dict_free(&options);
            throw VideoFault("the colour conversion could not be set up");
        }
    }
    ClearLibraryMessage();
    const int result = avcodec_open2(&e, codec, &options);
    av_dict_free(&options);
    if (result < 0) {
        throw VideoFault(std::string("the ") + info->encoder +
                         " encoder could not start: " + ExplainedError(result));
    }
    if (info->format == VideoFormat::Gif) {
        gif = std::make_unique<GifPalette>(codedWidth, codedHeight, timeBase);
    } else {
        picture->format = pixelFormat;
        picture->width = codedWidth;
        picture->height = codedHeight;
        if (av_frame_get_buffer(picture.get(), 0) < 0) {
            throw std::bad_alloc();
        }
    }
}

// A failure of the muxer's file shows as the file's error, like every other writer's; any
// other failure of the muxer names the step.
void VideoWriter::Impl::CheckFile(int result, const char* step) {
    const int fileError = muxer->pb != nullptr ? muxer->pb->error : 0;
    if (fileError < 0) {
        throw MorphError("Cannot write file " + Quoted(path) + ": " + ErrorText(fileError));
    }
    if (result < 0) {
        if (result > -4096) {
            throw MorphError("Cannot write file " + Quoted(path) + ": " + ErrorText(result));
        }
        throw VideoFault(std::string("the ") + info->muxer + " muxer " + step + ": " +
                         ExplainedError(result));
    }
}

void VideoWriter::Impl::WritePacket(AVPacket& p) {
    CheckFile(av_interleaved_write_frame(muxer.get(), &p), "failed");
}

void VideoWriter::Impl::WriteVideoPacket(AVPacket& p) {
    // Every frame lasts one tick; encoders that hold frames back do not always say so.
    if (p.duration == 0) {
        p.duration = 1;
    }
    p.stream_index = stream->index;
    av_packet_rescale_ts(&p, encoder->time_base, stream->time_base);
    WritePacket(p);
}

void VideoWriter::Impl::EncodeVideo(const AVFrame* frame) {
    Encode(*encoder, frame, *packet, [this](AVPacket& p) { WriteVideoPacket(p); });
}

// The frame in the encoder's pixel format, into `picture` (GIF: into `bytes`).
void VideoWriter::Impl::Convert(const Bitmap& frame) {
    const std::size_t width = std::size_t(settings.width);
    const int height = settings.height;
    if (pixelFormat == AV_PIX_FMT_YUV420P) {
        const Colour* pixels = frame.data();
        if (codedWidth != settings.width || codedHeight != settings.height) {
            padded.resize(std::size_t(codedWidth) * std::size_t(codedHeight));
            for (int y = 0; y < codedHeight; ++y) {
                const Colour* from = frame.row(std::min(y, height - 1));
                Colour* to = padded.data() + std::size_t(y) * std::size_t(codedWidth);
                std::copy(from, from + width, to);
                if (std::size_t(codedWidth) > width) {
                    to[width] = from[width - 1];
                }
            }
            pixels = padded.data();
        }
        const std::uint8_t* source[1] = {reinterpret_cast<const std::uint8_t*>(pixels)};
        const int stride[1] = {codedWidth * 4};
        sws_scale(scaler.get(), source, stride, 0, codedHeight, picture->data, picture->linesize);
        return;
    }
    // Byte orders of the packed formats: BGRA for GIF and WebP, RGB for APNG.
    const bool rgb = pixelFormat == AV_PIX_FMT_RGB24;
    const std::size_t pixelBytes = rgb ? 3 : 4;
    const bool intoPicture = info->format != VideoFormat::Gif;
    if (!intoPicture) {
        bytes.resize(width * std::size_t(height) * pixelBytes);
    }
    for (int y = 0; y < height; ++y) {
        std::uint8_t* out = intoPicture
                                ? picture->data[0] + std::ptrdiff_t(y) * picture->linesize[0]
                                : bytes.data() + std::size_t(y) * width * pixelBytes;
        const Colour* in = frame.row(y);
        for (std::size_t x = 0; x < width; ++x, out += pixelBytes) {
            const Colour c = in[x];
            if (rgb) {
                out[0] = RedOf(c);
                out[1] = GreenOf(c);
                out[2] = BlueOf(c);
            } else {
                out[0] = BlueOf(c);
                out[1] = GreenOf(c);
                out[2] = RedOf(c);
                out[3] = 0xFF; // opaque
            }
        }
    }
}

void VideoWriter::Impl::Add(const Bitmap& frame) {
    CheckCancel();
    if (frame.width() != settings.width || frame.height() != settings.height) {
        throw VideoFault("frame " + std::to_string(frames) + " is " +
                         std::to_string(frame.width()) + " x " + std::to_string(frame.height()) +
                         " pixels, not " + std::to_string(settings.width) + " x " +
                         std::to_string(settings.height) + " like the video");
    }
    if (gif) {
        Convert(frame);
        gif->Add(bytes.data());
    } else {
        if (av_frame_make_writable(picture.get()) < 0) {
            throw std::bad_alloc();
        }
        Convert(frame);
        picture->pts = frames;
        EncodeVideo(picture.get());
    }
    ++frames;
    if (sound) {
        sound->EncodeUntil(std::int64_t(frames) * settings.frameTimeMs);
    }
    Report(VideoPhase::Encoding, frames);
}

void VideoWriter::Impl::Finish() {
    CheckCancel();
    if (frames == 0) {
        throw VideoFault("it has no frames");
    }
    if (gif) {
        gif->Replay(
            [this](AVFrame& mapped) {
                mapped.pict_type = AV_PICTURE_TYPE_NONE;
                EncodeVideo(&mapped);
            },
            [this](int k) {
                CheckCancel();
                Report(VideoPhase::Finishing, k);
            });
        gif.reset(); // the work file goes
    }
    EncodeVideo(nullptr);
    if (sound) {
        sound->Finish(std::int64_t(frames) * settings.frameTimeMs);
    }
    CheckCancel();
    ClearLibraryMessage();
    headerWritten = false;
    CheckFile(av_write_trailer(muxer.get()), "could not finish");
    CheckFile(avio_closep(&muxer->pb), "could not finish");
    file->commit();
    state = State::Finished;
    if (settings.progress) {
        settings.progress({VideoPhase::Finishing, frames, frames}); // too late to cancel
    }
}

void VideoWriter::Impl::Report(VideoPhase phase, int done) {
    const int total = phase == VideoPhase::Finishing ? frames : settings.expectedFrames;
    if (settings.progress && settings.progress({phase, done, total})) {
        cancelled = true;
    }
    CheckCancel();
}

void VideoWriter::Impl::CheckCancel() {
    if (cancelled) {
        throw VideoCancelled("Cannot write the video " + Quoted(path) +
                             ": the export was cancelled");
    }
}

void VideoWriter::Impl::Abandon() noexcept {
    state = State::Failed;
    // The GIF muxer holds a frame back until the next one gives its delay, and frees it only
    // when it ends; what it writes then goes with the temporary.
    if (headerWritten && info->format == VideoFormat::Gif) {
        av_write_trailer(muxer.get());
    }
    headerWritten = false;
    gif.reset();
    sound.reset();
    encoder.reset();
    muxer.reset();
    file.reset(); // removes the temporary
}

VideoWriter::VideoWriter(std::string path, VideoSettings settings)
    : impl_(std::make_unique<Impl>(std::move(path), std::move(settings))) {
    impl_->Guarded([this] { impl_->Start(); });
}

VideoWriter::~VideoWriter() {
    impl_->Abandon();
}

void VideoWriter::Add(const Bitmap& frame) {
    impl_->Guarded([&] { impl_->Add(frame); });
}

void VideoWriter::Finish() {
    impl_->Guarded([this] { impl_->Finish(); });
}

void VideoWriter::Cancel() noexcept {
    impl_->cancelled = true;
}

int VideoWriter::FrameCount() const {
    return impl_->frames;
}

const std::string& VideoWriter::Path() const {
    return impl_->path;
}

void WriteVideo(const std::string& path, const VideoSettings& settings,
                const std::vector<const Bitmap*>& frames) {
    VideoWriter writer(path, settings);
    for (const Bitmap* frame : frames) {
        writer.Add(*frame);
    }
    writer.Finish();
}

} // namespace morph
