#include "cli/Render.h"

#include "animation/VqvCodec.h"
#include "avi/AviWriter.h"
#include "cli/LinesFile.h"
#include "cli/ProgressLine.h"
#include "engine/Influence.h"
#include "platform/Convert.h"
#include "platform/FrameSpill.h"
#include "platform/Memory.h"
#include "platform/MorphError.h"
#include "platform/PngFrames.h"
#include "platform/PngWriter.h"
#include "platform/QtImageIO.h"
#include "video/VideoModule.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <ostream>
#include <system_error>
#include <vector>

#include <unistd.h>

namespace morph {

namespace fs = std::filesystem;

namespace {

std::string Quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

void PrintSummary(std::ostream& out, int first, int count, int frameCount, int width, int height,
                  const std::string& vqvPath, const std::string& pngDir, const std::string& aviPath,
                  const std::string& videoPath) {
    const int last = first + count - 1;
    out << "Rendered " << count << " frames ";
    if (count != frameCount) {
        out << "(" << first << " to " << last << " of " << frameCount << ") ";
    }
    out << "of " << width << " x " << height << " pixels.\n";
    if (!vqvPath.empty()) {
        out << "Wrote " << vqvPath << "\n";
    }
    if (!pngDir.empty()) {
        out << "Wrote " << (fs::path(pngDir) / FramePngName(first, frameCount)).string() << " to "
            << FramePngName(last, frameCount) << "\n";
    }
    if (!aviPath.empty()) {
        out << "Wrote " << aviPath << "\n";
    }
    if (!videoPath.empty()) {
        out << "Wrote " << videoPath << "\n";
    }
}

} // namespace

void CheckAviOptions(const RenderOptions& options) {
    if (!options.aviPath.empty()) {
        TAviWriter writer;
        writer.ChangeWavFileName(options.wavPath);
    }
}

VideoSettings RenderVideoSettings(const RenderOptions& options, int width, int height) {
    VideoSettings settings;
    settings.width = width;
    settings.height = height;
    settings.frameTimeMs = options.frameTime;
    settings.quality = options.quality;
    // The sound also goes into the AVI video, so a GIF, WebP or APNG beside it stays silent.
    if (const std::optional<VideoFormat> format = VideoFormatOfPath(options.videoPath);
        format && FormatInfo(*format).soundEncoder != nullptr) {
        settings.wavPath = options.wavPath;
    }
    return settings;
}

RenderInputs LoadRenderInputs(RenderOptions& options) {
    RenderInputs inputs;
    // Pictures named on the command line are read before the lines file, as a run without a
    // morph file always did; a morph file, or a lines file that must name the pictures, first.
    const std::string& file = options.morphPath.empty() ? options.linesPath : options.morphPath;
    std::optional<MorphSetup> setup;
    if (!options.morphPath.empty() || options.sourcePath.empty() || options.targetPath.empty()) {
        setup = ReadMorphFile(file);
        TakeMorphSetup(options, *setup);
    }
    inputs.source = LoadPicture(options.sourcePath);
    inputs.target = LoadPicture(options.targetPath);
    if (!setup) {
        setup = ReadMorphFile(file);
        TakeMorphSetup(options, *setup);
    }
    inputs.lines = setup->lines;
    return inputs;
}

MorphSettings PrepareRender(const RenderInputs& inputs, const RenderOptions& options) {
    const LinePairs& lines = inputs.lines;
    // The checks of the windows' build in their order: the lines and pictures, then the
    // Frames text; A, B and P are converted only when the warp starts.
    const MorphInputs morph{inputs.source,     inputs.target, lines.source,
                            lines.sourceCount, lines.target,  lines.targetCount};
    CheckLinesAndPictures(morph);
    MorphSettings settings;
    settings.frames = StrToInt(options.frames);
    settings.mode = options.mode;
    settings.refreshStep = kRenderRefreshStep;
    settings.threads = options.threads;
    settings.method = options.warp;
    settings.warpOptions = options.warpOptions;
    settings.keepWarped = false;
    settings.readConstants = [a = options.a, b = options.b, p = options.p] {
        WarpConstants constants;
        constants.a = StrToFloat(a);
        constants.b = StrToFloat(b);
        constants.p = StrToFloat(p);
        return constants;
    };
    CheckMorphInputs(morph, settings);

    // What the outputs cannot hold is refused now rather than after rendering.
    int frames = settings.frames;
    if (const std::optional<FrameRange> range = options.frameRange) {
        if (range->last >= frames) {
            throw MorphError("The frame range " + std::to_string(range->first) + ":" +
                             std::to_string(range->last) + " goes past frame " +
                             std::to_string(frames - 1) + ", the last of " +
                             std::to_string(frames) + " frames");
        }
        frames = range->last - range->first + 1; // all that is written
    }
    const int width = inputs.source.width();
    const int height = inputs.source.height();
    if (!options.vqvPath.empty()) {
        CheckVqvWritable(options.vqvPath, frames, width, height);
    }
    for (const std::string& video : {options.aviPath, options.videoPath}) {
        if (video.empty()) {
            continue;
        }
        const std::int64_t videoFrames =
            std::int64_t(frames) * (options.direction == AviDirection::PingPong ? 2 : 1);
        if (videoFrames > std::numeric_limits<std::int32_t>::max()) {
            throw MorphError("Cannot write the video " + Quoted(video) + ": " +
                             std::to_string(videoFrames) + " frames are more than the " +
                             std::to_string(std::numeric_limits<std::int32_t>::max()) +
                             " a video can hold");
        }
    }
    if (!options.videoPath.empty()) {
        LoadVideoModule(options.videoPath)
            .check(options.videoPath, RenderVideoSettings(options, width, height));
    }

    // Frames are handed to the outputs as they are made: a few frame buffers are held,
    // whatever the frame count, each with its frame's line set (StreamedFrameBuffers; a
    // buffer whose PNG file is being encoded counts, and so does its encoded file, at most
    // three bytes a pixel). The AVI video adds a frame as 24-bit rows. A video played the
    // other way round reads its frames back into one buffer, once the others are gone. (The
    // warp's weight tables, eight bytes per line and pixel of the picture's diagonal, and
    // each thread's rows of mapped pixels are left out: next to the frames they are small.
    // So are the buffers the encoders of the other videos keep, which FFmpeg's libraries
    // size by themselves.)
    const bool png = !options.pngDir.empty();
    const bool influence = !options.influenceDir.empty();
    const std::int64_t buffers =
        StreamedFrameBuffers(WarpThreadCount(settings.threads), png || influence);
    std::int64_t need = PictureBytes(width, height, sizeof(Colour), buffers);
    const auto add = [&need](std::int64_t bytes) {
        need = bytes > std::numeric_limits<std::int64_t>::max() - need
                   ? std::numeric_limits<std::int64_t>::max()
                   : need + bytes;
    };
    add(PictureBytes(buffers, sizeof(LineSet), 1));
    if (png) {
        add(PictureBytes(width, height, 3, buffers));
    }
    if (influence) {
        // Per frame in hand: its two pictures, the displacement lengths they are made from,
        // and both encoded.
        add(PictureBytes(width, height, 2 * sizeof(Colour) + sizeof(double) + 2 * 3, buffers));
    }
    if (!options.aviPath.empty()) {
        add(DibRowBytes(width) * height);
    }
    CheckMemoryFor(need, "This morph of " + std::to_string(frames) + " frames of " +
                             std::to_string(width) + " x " + std::to_string(height) +
                             " pixels needs");
    return settings;
}

namespace {

// The outputs of one run, fed a frame at a time as the frames are rendered.
//
// The .vQv file, the PNG frames and the videos played forwards take each frame as it comes.
// An AVI file or video played backwards or back and forth needs the frames again in the
// other order once the last one is made: those frames also go into a FrameSpill (a work
// file in the temporary folder, as large as a .vQv file of the run), which the end of the
// run reads back from the last frame down. That keeps the memory a run needs the same for
// every direction, at the cost of writing the frames to disk once more.
class StreamedOutputs {
  public:
    StreamedOutputs(const RenderOptions& options, const RenderInputs& inputs,
                    const MorphSettings& settings, FrameRange range)
        : options_(options), inputs_(inputs), settings_(settings), width_(inputs.source.width()),
          height_(inputs.source.height()), sequenceFrames_(settings.frames), first_(range.first),
          count_(range.last - range.first + 1) {}

    // Creates every output in the order PNG folder, AVI, video, .vQv, each keeping the file
    // it replaces first, so that their errors come as when the outputs were written one after
    // the other.
    void Begin() {
        for (const std::string& folder : {options_.pngDir, options_.influenceDir}) {
            if (folder.empty()) {
                continue;
            }
            const fs::path dir = folder;
            std::error_code error;
            if (fs::exists(dir, error)) {
                if (!fs::is_directory(dir, error)) {
                    throw MorphError("Cannot write the frames to " + Quoted(dir) +
                                     ": it is not a folder");
                }
            } else {
                outputs_.makeFolder(dir);
            }
        }
        if (!options_.influenceDir.empty()) {
            // The build has converted the constants by now, so their errors came first.
            constants_ = settings_.readConstants ? settings_.readConstants() : settings_.constants;
            const double step = FrameStep(sequenceFrames_);
            double t = 0; // summed as the build sums it, so the frames' lines are the build's
            for (int k = 0; k < first_ + count_; ++k) {
                frameT_.push_back(t);
                t = t + step;
            }
        }
        const bool videos = !options_.aviPath.empty() || !options_.videoPath.empty();
        if (!options_.aviPath.empty()) {
            aviReserved_ = outputs_.reserve(options_.aviPath);
            avi_.emplace();
            avi_->Height = height_;
            avi_->Width = width_;
            avi_->Stretch = false;
            avi_->FrameTime = options_.frameTime;
            avi_->FileName = options_.aviPath;
            Avi([&] {
                avi_->ChangeWavFileName(options_.wavPath);
                avi_->BeginFrames();
            });
        }
        if (!options_.videoPath.empty()) {
            videoReserved_ = outputs_.reserve(options_.videoPath);
            VideoSettings settings = RenderVideoSettings(options_, width_, height_);
            settings.expectedFrames = VideoFrames();
            video_ =
                LoadVideoModule(options_.videoPath).open(options_.videoPath, std::move(settings));
        }
        if (!options_.vqvPath.empty()) {
            vqvReserved_ = outputs_.reserve(options_.vqvPath);
            vqv_.emplace(options_.vqvPath, count_, width_, height_);
        }
        if (videos && options_.direction != AviDirection::Forward) {
            const std::string& video =
                !options_.aviPath.empty() ? options_.aviPath : options_.videoPath;
            try {
                spill_.emplace(width_, height_);
            } catch (const MorphError& e) {
                throw MorphError("Cannot write the video " + Quoted(video) + ": " + e.message());
            }
            spillFor_ = video;
        }
    }

    // Encodes the frame's PNG; runs on the render's threads, several frames at once.
    void Prepare(int frame, const Bitmap& blend) {
        if (!options_.influenceDir.empty()) {
            PrepareInfluence(frame);
        }
        if (options_.pngDir.empty()) {
            return;
        }
        const fs::path file = PngPath(frame);
        std::string encoded = EncodePng(blend, file.string());
        const std::lock_guard lock(pngMutex_);
        encoded_[frame] = std::move(encoded);
    }

    // Both line influence pictures of the frame, encoded.
    void PrepareInfluence(int frame) {
        const LinePairs& lines = inputs_.lines;
        const double t = frameT_[std::size_t(frame)];
        const LineSet frameLines =
            BuildFrameLineSet(lines.source, lines.target, t, lines.sourceCount, settings_.mode,
                              frame, sequenceFrames_, width_, height_);
        const WarpInputs in{inputs_.source,
                            inputs_.target,
                            lines.source,
                            lines.target,
                            frameLines,
                            lines.sourceCount,
                            t,
                            settings_.warpOptions};
        const InfluencePictures pictures = LineInfluence(in, constants_);
        std::array<std::string, 2> encoded = {
            EncodePng(pictures.influence, InfluencePath(frame, "influence_").string()),
            EncodePng(pictures.displacement, InfluencePath(frame, "displacement_").string())};
        const std::lock_guard lock(pngMutex_);
        influence_[frame] = std::move(encoded);
    }

    // Hands the frame to every output, in the order the frames come.
    void Deliver(int frame, const Bitmap& blend) {
        if (!options_.influenceDir.empty()) {
            std::array<std::string, 2> bytes;
            {
                const std::lock_guard lock(pngMutex_);
                const auto found = influence_.find(frame);
                if (found != influence_.end()) {
                    bytes = std::move(found->second);
                    influence_.erase(found);
                }
            }
            if (bytes[0].empty()) {
                PrepareInfluence(frame);
                const std::lock_guard lock(pngMutex_);
                bytes = std::move(influence_[frame]);
                influence_.erase(frame);
            }
            const fs::path files[2] = {InfluencePath(frame, "influence_"),
                                       InfluencePath(frame, "displacement_")};
            for (int i = 0; i < 2; ++i) {
                outputs_.write(files[i], [&] {
                    WriteFileAtomically(files[i].string(), bytes[std::size_t(i)]);
                });
            }
        }
        if (!options_.pngDir.empty()) {
            std::string bytes;
            {
                const std::lock_guard lock(pngMutex_);
                const auto found = encoded_.find(frame);
                if (found != encoded_.end()) {
                    bytes = std::move(found->second);
                    encoded_.erase(found);
                }
            }
            const fs::path file = PngPath(frame);
            if (bytes.empty()) {
                bytes = EncodePng(blend, file.string());
            }
            outputs_.write(file, [&] { WriteFileAtomically(file.string(), bytes); });
        }
        if (options_.direction != AviDirection::Backward) {
            AddToVideos(blend);
        }
        if (vqv_) {
            vqv_->Add(blend);
        }
        if (spill_) {
            Spilled([&] { spill_->Store(blend); });
        }
    }

    // The frames in the other order where a video needs them, then every file in place (the
    // order of the old one-after-the-other writes: AVI, video, .vQv); the outputs stay.
    void Finish() {
        if (spill_) {
            Bitmap frame;
            for (int index = spill_->Count() - 1; index >= 0; --index) {
                Spilled([&] { spill_->Load(index, frame); });
                AddToVideos(frame);
            }
            spill_.reset();
        }
        if (avi_) {
            outputs_.place(aviReserved_, [&] { Avi([&] { avi_->FinishFrames(); }); });
        }
        if (video_) {
            outputs_.place(videoReserved_, [&] { video_->Finish(); });
        }
        if (vqv_) {
            outputs_.place(vqvReserved_, [&] { vqv_->Commit(); });
        }
        outputs_.keep();
    }

  private:
    fs::path PngPath(int frame) const {
        return fs::path(options_.pngDir) / FramePngName(frame, sequenceFrames_);
    }

    // The frame's PNG name with `prefix` in place of "frame_".
    fs::path InfluencePath(int frame, const std::string& prefix) const {
        return fs::path(options_.influenceDir) /
               (prefix + FramePngName(frame, sequenceFrames_).substr(6));
    }

    int VideoFrames() const {
        return options_.direction == AviDirection::PingPong ? 2 * count_ : count_;
    }

    void AddToVideos(const Bitmap& frame) {
        if (avi_) {
            Avi([&] { avi_->AddFrame(frame); });
        }
        if (video_) {
            video_->Add(frame);
        }
    }

    // Runs a step of the AVI writer, whose messages name no file, with the video's name and
    // the sound file's in front of its message.
    template <typename Step> void Avi(Step step) {
        try {
            step();
        } catch (const MorphError& e) {
            std::string files = Quoted(avi_->FileName);
            if (!avi_->WavFileName().empty()) {
                files += " with the sound of " + Quoted(avi_->WavFileName());
            }
            throw MorphError("Cannot write the video " + files + ": " + e.message());
        }
    }

    template <typename Step> void Spilled(Step step) {
        try {
            step();
        } catch (const MorphError& e) {
            throw MorphError("Cannot write the video " + Quoted(spillFor_) + ": " + e.message());
        }
    }

    const RenderOptions& options_;
    const RenderInputs& inputs_;
    const MorphSettings& settings_;
    WarpConstants constants_;
    std::vector<double> frameT_; // t of frames 0 .. the range's last
    int width_;
    int height_;
    int sequenceFrames_;
    int first_;
    int count_;
    OutputSet outputs_; // declared before the writers, so that they go first
    std::optional<TAviWriter> avi_;
    std::unique_ptr<VideoOutput> video_;
    std::optional<VqvWriter> vqv_;
    std::optional<FrameSpill> spill_;
    std::string spillFor_;
    std::size_t aviReserved_ = 0;
    std::size_t videoReserved_ = 0;
    std::size_t vqvReserved_ = 0;
    std::mutex pngMutex_;
    std::map<int, std::string> encoded_;                  // PNG files encoded and not yet written
    std::map<int, std::array<std::string, 2>> influence_; // and the influence pictures
};

} // namespace

void RenderToOutputs(const RenderInputs& inputs, const MorphSettings& settings,
                     const RenderOptions& options, FrameRange range,
                     const std::function<void(int done, int total)>& progress) {
    const LinePairs& lines = inputs.lines;
    const int last = range.last < 0 ? settings.frames - 1 : range.last;
    StreamedOutputs outputs(options, inputs, settings, {range.first, last});
    FrameStream stream;
    stream.begin = [&] { outputs.Begin(); };
    if (!options.pngDir.empty() || !options.influenceDir.empty()) {
        stream.prepare = [&](int frame, const Bitmap& blend) { outputs.Prepare(frame, blend); };
    }
    stream.deliver = [&](int frame, const Bitmap& blend) { outputs.Deliver(frame, blend); };
    stream.progress = progress;
    StreamMorph({inputs.source, inputs.target, lines.source, lines.sourceCount, lines.target,
                 lines.targetCount},
                settings, range, stream);
    outputs.Finish();
}

fs::path FindSamplesDir() {
    const auto usable = [](const fs::path& dir) {
        std::error_code error;
        return fs::is_regular_file(dir / "source.png", error) &&
               fs::is_regular_file(dir / "target.png", error) &&
               fs::is_regular_file(dir / "demo.lines", error);
    };
#ifdef MORPH_SAMPLES_DIR
    if (usable(MORPH_SAMPLES_DIR)) {
        return MORPH_SAMPLES_DIR;
    }
#endif
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    if (!error) {
        for (fs::path dir = exe.parent_path(); !dir.empty(); dir = dir.parent_path()) {
            if (usable(dir / "samples")) {
                return dir / "samples";
            }
            if (dir == dir.parent_path()) {
                break;
            }
        }
    }
    throw MorphError("Cannot find the samples folder with source.png, target.png and "
                     "demo.lines beside morph-render or in its parent folders");
}

int RunMorphRender(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    try {
        RenderOptions options = ParseRenderOptions(args);
        if (options.help) {
            out << RenderUsage();
            return 0;
        }
        if (options.demo) {
            const fs::path samples = FindSamplesDir();
            options.sourcePath = (samples / "source.png").string();
            options.targetPath = (samples / "target.png").string();
            options.linesPath = (samples / "demo.lines").string();
            options.frames = std::to_string(kDemoFrames);
            options.vqvPath = kDemoVqv;
            options.pngDir = kDemoPngDir;
            out << "Rendering the demo morph of " << samples.string() << "\n" << std::flush;
        }

        CheckAviOptions(options);
        const RenderInputs inputs = LoadRenderInputs(options);
        const MorphSettings settings = PrepareRender(inputs, options);
        const FrameRange range = options.frameRange.value_or(FrameRange{0, settings.frames - 1});
        ProgressLine line(STDERR_FILENO, !options.quiet);
        std::function<void(int, int)> progress;
        if (line.active()) {
            progress = [&line](int done, int total) { line.update(done, total); };
            line.update(0, range.last - range.first + 1); // shown while the first frame renders
        }
        RenderToOutputs(inputs, settings, options, range, progress);
        line.finish();
        if (options.demo) {
            const fs::path here = fs::current_path();
            options.vqvPath = (here / kDemoVqv).string();
            options.pngDir = (here / kDemoPngDir).string();
        }
        PrintSummary(out, range.first, range.last - range.first + 1, settings.frames,
                     inputs.source.width(), inputs.source.height(), options.vqvPath, options.pngDir,
                     options.aviPath, options.videoPath);
        return 0;
    } catch (const UsageError& e) {
        err << WithFullStop(e.message()) << "\n"
            << RenderSynopsis() << "Run morph-render --help for the details.\n";
    } catch (const MorphError& e) {
        err << WithFullStop(e.message()) << "\n";
    } catch (const std::bad_alloc&) {
        err << "Out of memory.\n";
    } catch (const std::exception& e) {
        err << WithFullStop(e.what()) << "\n";
    }
    return 1;
}

} // namespace morph
