#include "cli/Render.h"

#include "animation/VqvCodec.h"
#include "avi/AviWriter.h"
#include "cli/LinesFile.h"
#include "cli/ProgressLine.h"
#include "platform/Convert.h"
#include "platform/Memory.h"
#include "platform/MorphError.h"
#include "platform/QtImageIO.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <new>
#include <optional>
#include <ostream>
#include <system_error>

#include <unistd.h>

namespace morph {

namespace fs = std::filesystem;

namespace {

std::string Quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

void PrintSummary(std::ostream& out, const std::vector<Bitmap>& frames, int first, int frameCount,
                  const std::string& vqvPath, const std::string& pngDir, const std::string& aviPath,
                  const std::string& videoPath) {
    const int count = int(frames.size());
    const int last = first + count - 1;
    out << "Rendered " << count << " frames ";
    if (count != frameCount) {
        out << "(" << first << " to " << last << " of " << frameCount << ") ";
    }
    out << "of " << frames.front().width() << " x " << frames.front().height() << " pixels.\n";
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

void WritePngFrames(const std::vector<Bitmap>& frames, const fs::path& dir, OutputSet& outputs,
                    int first, int frameCount) {
    std::vector<const Bitmap*> pictures;
    pictures.reserve(frames.size());
    for (const Bitmap& frame : frames) {
        pictures.push_back(&frame);
    }
    WritePngFrames(pictures, dir, outputs, {}, first, frameCount);
}

std::vector<const Bitmap*> AviFrameOrder(const std::vector<Bitmap>& frames,
                                         AviDirection direction) {
    std::vector<const Bitmap*> order;
    if (direction != AviDirection::Backward) {
        for (const Bitmap& frame : frames) {
            order.push_back(&frame);
        }
    }
    if (direction != AviDirection::Forward) {
        for (auto frame = frames.rbegin(); frame != frames.rend(); ++frame) {
            order.push_back(&*frame);
        }
    }
    return order;
}

void CheckAviOptions(const RenderOptions& options) {
    if (!options.aviPath.empty()) {
        TAviWriter writer;
        writer.ChangeWavFileName(options.wavPath);
    }
}

void WriteRenderAvi(const std::vector<Bitmap>& frames, const RenderOptions& options) {
    TAviWriter writer;
    writer.Bitmaps = AviFrameOrder(frames, options.direction);
    writer.Height = frames.empty() ? 0 : frames.front().height();
    writer.Width = frames.empty() ? 0 : frames.front().width();
    writer.Stretch = false;
    writer.FrameTime = options.frameTime;
    writer.FileName = options.aviPath;
    writer.ChangeWavFileName(options.wavPath);
    WriteAviFileNamingFiles(writer);
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

void WriteRenderVideo(const std::vector<Bitmap>& frames, const RenderOptions& options) {
    const int width = frames.empty() ? 0 : frames.front().width();
    const int height = frames.empty() ? 0 : frames.front().height();
    WriteVideo(options.videoPath, RenderVideoSettings(options, width, height),
               AviFrameOrder(frames, options.direction));
}

void WriteRenderOutputs(const std::vector<Bitmap>& frames, const RenderOptions& options, int first,
                        int frameCount) {
    OutputSet outputs;
    if (!options.pngDir.empty()) {
        WritePngFrames(frames, options.pngDir, outputs, first, frameCount);
    }
    if (!options.aviPath.empty()) {
        outputs.write(options.aviPath, [&] { WriteRenderAvi(frames, options); });
    }
    if (!options.videoPath.empty()) {
        outputs.write(options.videoPath, [&] { WriteRenderVideo(frames, options); });
    }
    if (!options.vqvPath.empty()) {
        outputs.write(options.vqvPath, [&] { WriteVqv(options.vqvPath, frames); });
    }
    outputs.keep();
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
    int frames = settings.frames;
    if (const std::optional<FrameRange> range = options.frameRange) {
        if (range->last >= frames) {
            throw MorphError("The frame range " + std::to_string(range->first) + ":" +
                             std::to_string(range->last) + " goes past frame " +
                             std::to_string(frames - 1) + ", the last of " +
                             std::to_string(frames) + " frames");
        }
        frames = range->last - range->first + 1; // all that is held and written
    }

    // What the outputs cannot hold is refused now rather than after rendering.
    const int width = inputs.source.width();
    const int height = inputs.source.height();
    if (!options.vqvPath.empty()) {
        CheckVqvWritable(options.vqvPath, frames, width, height);
    }
    std::int64_t videoFrames = 0;
    for (const std::string& video : {options.aviPath, options.videoPath}) {
        if (video.empty()) {
            continue;
        }
        videoFrames = std::int64_t(frames) * (options.direction == AviDirection::PingPong ? 2 : 1);
        if (videoFrames > std::numeric_limits<std::int32_t>::max()) {
            throw MorphError("Cannot write the video " + Quoted(video) + ": " +
                             std::to_string(videoFrames) + " frames are more than the " +
                             std::to_string(std::numeric_limits<std::int32_t>::max()) +
                             " a video can hold");
        }
    }
    if (!options.videoPath.empty()) {
        CheckVideoSettings(options.videoPath, RenderVideoSettings(options, width, height));
    }

    // Every frame is held until the outputs are written, besides a warped Source and Target
    // picture that each frame is built from, and so is every frame's line set. The AVI video
    // adds a frame at a time as a bitmap and as its 24-bit copy, and the videos, written one
    // after the other, a pointer per frame. (The warp's weight tables, eight bytes per line
    // and pixel of the picture's diagonal, are left out: next to the frames they are small.
    // So are the buffers the encoders of the other videos keep, which FFmpeg's libraries
    // size by themselves.)
    std::int64_t need = PictureBytes(width, height, sizeof(Colour), std::int64_t(frames) + 2);
    const auto add = [&need](std::int64_t bytes) {
        need = bytes > std::numeric_limits<std::int64_t>::max() - need
                   ? std::numeric_limits<std::int64_t>::max()
                   : need + bytes;
    };
    add(PictureBytes(settings.frames, sizeof(LineSet), 1));
    if (!options.aviPath.empty()) {
        add(PictureBytes(width, height, sizeof(Colour)));
        add(DibRowBytes(width) * height);
    }
    if (videoFrames > 0) {
        add(PictureBytes(videoFrames, sizeof(const Bitmap*), 1));
    }
    CheckMemoryFor(need, "This morph of " + std::to_string(frames) + " frames of " +
                             std::to_string(width) + " x " + std::to_string(height) +
                             " pixels needs");
    return settings;
}

std::vector<Bitmap> RenderFrames(const RenderInputs& inputs, const MorphSettings& settings,
                                 int first, int last, const RenderProgress& progress) {
    const LinePairs& lines = inputs.lines;
    const int total = last - first + 1;
    BuildProgress build;
    if (progress) {
        progress(0, total);
        // Column 0 is a progress point of every frame: the frames before it are done.
        build = [&](int frame, int column) {
            if (column == 0) {
                progress(frame - first, total);
            }
            return false;
        };
    }
    MorphSequence sequence = BuildMorphFrames({inputs.source, inputs.target, lines.source,
                                               lines.sourceCount, lines.target, lines.targetCount},
                                              settings, first, last, build);
    if (progress) {
        progress(total, total);
    }
    return std::move(sequence.blends);
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
        RenderProgress progress;
        if (line.active()) {
            progress = [&line](int done, int total) { line.update(done, total); };
        }
        const std::vector<Bitmap> frames =
            RenderFrames(inputs, settings, range.first, range.last, progress);
        line.finish();
        WriteRenderOutputs(frames, options, range.first, settings.frames);
        if (options.demo) {
            const fs::path here = fs::current_path();
            options.vqvPath = (here / kDemoVqv).string();
            options.pngDir = (here / kDemoPngDir).string();
        }
        PrintSummary(out, frames, range.first, settings.frames, options.vqvPath, options.pngDir,
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
