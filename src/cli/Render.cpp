#include "cli/Render.h"

#include "animation/VqvCodec.h"
#include "avi/AviWriter.h"
#include "cli/LinesFile.h"
#include "platform/MorphError.h"
#include "platform/QtImageIO.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
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

// A bar on stderr, redrawn only when its percentage changes.
class ProgressBar {
  public:
    ProgressBar(int frames, int width, int refreshStep)
        : frames_(frames), perFrame_((std::max(width, 1) - 1) / refreshStep + 1),
          refreshStep_(refreshStep) {}
    ~ProgressBar() { finish(); }

    bool operator()(int frame, int column) {
        const std::int64_t done = std::int64_t{frame} * perFrame_ + column / refreshStep_ + 1;
        const int percent = int(done * 100 / (std::int64_t{frames_} * perFrame_));
        if (percent != shown_) {
            shown_ = percent;
            constexpr int kWidth = 30;
            const int filled = percent * kWidth / 100;
            std::fprintf(stderr, "\rRendering [%s%s] %3d%%  frame %d of %d",
                         std::string(std::size_t(filled), '#').c_str(),
                         std::string(std::size_t(kWidth - filled), '.').c_str(), percent, frame + 1,
                         frames_);
            std::fflush(stderr);
        }
        return false;
    }

    void finish() {
        if (shown_ >= 0) {
            std::fprintf(stderr, "\r%70s\r", "");
            std::fflush(stderr);
            shown_ = -1;
        }
    }

  private:
    int frames_;
    int perFrame_;
    int refreshStep_;
    int shown_ = -1;
};

void PrintSummary(std::ostream& out, const std::vector<Bitmap>& frames, const std::string& vqvPath,
                  const std::string& pngDir, const std::string& aviPath) {
    const int count = int(frames.size());
    const Bitmap& first = frames.front();
    out << "Rendered " << count << " frames of " << first.width() << " x " << first.height()
        << " pixels.\n";
    if (!vqvPath.empty()) {
        out << "Wrote " << vqvPath << "\n";
    }
    if (!pngDir.empty()) {
        out << "Wrote " << (fs::path(pngDir) / FramePngName(0, count)).string() << " to "
            << FramePngName(count - 1, count) << "\n";
    }
    if (!aviPath.empty()) {
        out << "Wrote " << aviPath << "\n";
    }
}

} // namespace

std::string FramePngName(int index, int frameCount) {
    const int digits = std::max<int>(3, int(std::to_string(std::max(frameCount - 1, 0)).size()));
    std::string number = std::to_string(index);
    if (int(number.size()) < digits) {
        number.insert(0, std::size_t(digits) - number.size(), '0');
    }
    return "frame_" + number + ".png";
}

PngFrameWriter::PngFrameWriter(fs::path dir) : dir_(std::move(dir)) {}

PngFrameWriter::~PngFrameWriter() {
    if (!committed_) {
        rollBack();
    }
}

void PngFrameWriter::prepare(const std::vector<Bitmap>& frames) {
    std::error_code error;
    if (fs::exists(dir_, error)) {
        if (!fs::is_directory(dir_, error)) {
            throw MorphError("Cannot write the frames to " + Quoted(dir_) + ": it is not a folder");
        }
    } else {
        // Remember every level made here, so that a failure can take them away again.
        for (fs::path level = dir_; !level.empty() && !fs::exists(level, error);
             level = level.parent_path()) {
            createdDirs_.push_back(level);
            if (level == level.parent_path()) {
                break;
            }
        }
        if (!fs::create_directories(dir_, error) && error) {
            createdDirs_.clear();
            throw MorphError("Cannot create the folder " + Quoted(dir_) + ": " + error.message());
        }
    }

    const std::string prefix = ".morph-render-" + std::to_string(::getpid()) + "-";
    const int count = int(frames.size());
    for (int k = 0; k < count; ++k) {
        const std::string name = FramePngName(k, count);
        temporaries_.push_back(dir_ / (prefix + name));
        finals_.push_back(dir_ / name);
        SavePng(frames[std::size_t(k)], temporaries_.back().string());
    }
}

void PngFrameWriter::commit() {
    for (; renamed_ < temporaries_.size(); ++renamed_) {
        std::error_code error;
        fs::rename(temporaries_[renamed_], finals_[renamed_], error);
        if (error) {
            throw MorphError("Cannot write the picture " + Quoted(finals_[renamed_]) + ": " +
                             error.message());
        }
    }
    committed_ = true;
}

void PngFrameWriter::rollBack() noexcept {
    std::error_code error;
    for (std::size_t k = 0; k < temporaries_.size(); ++k) {
        fs::remove(k < renamed_ ? finals_[k] : temporaries_[k], error);
    }
    for (const fs::path& level : createdDirs_) {
        fs::remove(level, error); // only ever removes an empty folder
    }
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
    writer.WriteAviFile();
}

void WriteRenderOutputs(const std::vector<Bitmap>& frames, const RenderOptions& options) {
    std::optional<PngFrameWriter> png;
    if (!options.pngDir.empty()) {
        png.emplace(options.pngDir);
        png->prepare(frames);
    }
    // Files already in place are taken away again when a later output fails.
    std::vector<std::string> written;
    try {
        if (!options.aviPath.empty()) {
            WriteRenderAvi(frames, options);
            written.push_back(options.aviPath);
        }
        if (!options.vqvPath.empty()) {
            WriteVqv(options.vqvPath, frames);
            written.push_back(options.vqvPath);
        }
        if (png) {
            png->commit();
        }
    } catch (...) {
        std::error_code error;
        for (const std::string& path : written) {
            fs::remove(path, error);
        }
        throw;
    }
}

RenderInputs LoadRenderInputs(const RenderOptions& options) {
    RenderInputs inputs;
    inputs.source = LoadPicture(options.sourcePath);
    inputs.target = LoadPicture(options.targetPath);
    inputs.lines = ReadLinesFile(options.linesPath);
    return inputs;
}

std::vector<Bitmap> RenderFrames(const RenderInputs& inputs, const RenderOptions& options,
                                 const BuildProgress& progress) {
    const LinePairs& lines = inputs.lines;
    MorphSettings settings;
    settings.frames = options.frames;
    settings.constants = options.constants;
    settings.mode = options.mode;
    settings.refreshStep = kRenderRefreshStep;
    settings.threads = options.threads;
    settings.keepWarped = false;
    CheckMorphInputs(inputs.source, inputs.target, lines.sourceCount, lines.targetCount, settings);

    MorphSequence sequence =
        BuildMorph(inputs.source, inputs.target, lines.source, lines.sourceCount, lines.target,
                   lines.targetCount, settings, progress);
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
            options.frames = kDemoFrames;
            options.vqvPath = kDemoVqv;
            options.pngDir = kDemoPngDir;
            out << "Rendering the demo morph of " << samples.string() << "\n" << std::flush;
        }

        CheckAviOptions(options);
        const RenderInputs inputs = LoadRenderInputs(options);
        std::optional<ProgressBar> bar;
        BuildProgress progress;
        if (::isatty(STDERR_FILENO) == 1) {
            bar.emplace(options.frames, inputs.source.width(), kRenderRefreshStep);
            progress = [&bar](int frame, int column) { return (*bar)(frame, column); };
        }
        const std::vector<Bitmap> frames = RenderFrames(inputs, options, progress);
        if (bar) {
            bar->finish();
        }
        WriteRenderOutputs(frames, options);
        if (options.demo) {
            const fs::path here = fs::current_path();
            options.vqvPath = (here / kDemoVqv).string();
            options.pngDir = (here / kDemoPngDir).string();
        }
        PrintSummary(out, frames, options.vqvPath, options.pngDir, options.aviPath);
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
