#include "cli/RenderOptions.h"

#include "platform/Convert.h"
#include "video/VideoFormat.h"

#include <cctype>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace morph {

namespace {

constexpr std::string_view kValueOptions[] = {
    "--source",   "--target",   "--lines",       "--frames",       "--a",
    "--b",        "--p",        "--mode",        "--vqv",          "--png-dir",
    "--threads",  "--avi",      "--wav",         "--frame-time",   "--direction",
    "--warp",     "--video",    "--quality",     "--frame-range",  "--morph",
    "--distance", "--sampling", "--supersample", "--influence-dir"};

// Options that only shape the videos.
constexpr const char* kVideoOnlyOptions[] = {"--wav", "--frame-time", "--direction"};

bool EndsWithAvi(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.size() < 4) {
        return false;
    }
    std::string extension = name.substr(name.size() - 4);
    for (char& c : extension) {
        c = char(std::tolower(static_cast<unsigned char>(c)));
    }
    return extension == ".avi";
}

bool TakesValue(std::string_view name) {
    for (const std::string_view option : kValueOptions) {
        if (option == name) {
            return true;
        }
    }
    return false;
}

void RequireNonEmpty(const std::string& name, const std::string& value) {
    if (value.empty()) {
        throw UsageError("The option " + name + " needs a non-empty value");
    }
}

// A frame number: decimal digits only, within int.
std::optional<int> FrameNumber(std::string_view text) {
    if (text.empty() || text.size() > 9) {
        return std::nullopt;
    }
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace

FrameRange ParseFrameRange(const std::string& text) {
    const std::size_t colon = text.find(':');
    if (colon != std::string::npos) {
        const std::optional<int> first = FrameNumber(std::string_view(text).substr(0, colon));
        const std::optional<int> last = FrameNumber(std::string_view(text).substr(colon + 1));
        if (first && last && *first <= *last) {
            return {*first, *last};
        }
    }
    throw UsageError("The frame range must be FIRST:LAST, two frame numbers from 0 with FIRST "
                     "no larger than LAST, not '" +
                     text + "'");
}

RenderOptions ParseRenderOptions(const std::vector<std::string>& args) {
    RenderOptions options;
    options.frameTime = StrToInt(kDefaultFrameTime);

    if (args.empty()) {
        throw UsageError("No options given");
    }
    std::set<std::string> seen;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        if (const std::size_t equals = name.find('=');
            name.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
        }
        if (name == "--help" || name == "-h" || name == "--demo" || name == "--quiet") {
            if (value) {
                throw UsageError("The option " + name + " takes no value");
            }
        } else if (!TakesValue(name)) {
            throw UsageError(name.rfind("-", 0) == 0 ? "Unknown option " + name
                                                     : "Unexpected argument '" + name + "'");
        } else if (!value) {
            // A following option is never taken for a value; negative numbers start with
            // a single dash and still work.
            if (i + 1 == args.size() || args[i + 1].rfind("--", 0) == 0) {
                throw UsageError("The option " + name + " needs a value");
            }
            value = args[++i];
        }
        if (!seen.insert(name == "-h" ? "--help" : name).second) {
            throw UsageError("The option " + name + " is given more than once");
        }

        if (name == "--help" || name == "-h") {
            options.help = true;
        } else if (name == "--demo") {
            options.demo = true;
        } else if (name == "--quiet") {
            options.quiet = true;
        } else if (name == "--frame-range") {
            options.frameRange = ParseFrameRange(*value);
        } else if (name == "--source") {
            RequireNonEmpty(name, *value);
            options.sourcePath = *value;
        } else if (name == "--target") {
            RequireNonEmpty(name, *value);
            options.targetPath = *value;
        } else if (name == "--lines") {
            RequireNonEmpty(name, *value);
            options.linesPath = *value;
        } else if (name == "--morph") {
            RequireNonEmpty(name, *value);
            options.morphPath = *value;
        } else if (name == "--vqv") {
            RequireNonEmpty(name, *value);
            options.vqvPath = *value;
        } else if (name == "--png-dir") {
            RequireNonEmpty(name, *value);
            options.pngDir = *value;
        } else if (name == "--influence-dir") {
            RequireNonEmpty(name, *value);
            options.influenceDir = *value;
        } else if (name == "--avi") {
            RequireNonEmpty(name, *value);
            // The file handler goes by the extension; say so now rather than after rendering.
            if (!EndsWithAvi(*value)) {
                throw UsageError("The option --avi needs a file name ending in .avi, not '" +
                                 *value + "'");
            }
            options.aviPath = *value;
        } else if (name == "--video") {
            RequireNonEmpty(name, *value);
            if (!VideoFormatOfPath(*value)) {
                throw UsageError("The option --video needs a file name ending in " +
                                 VideoExtensionsText() + ", not '" + *value + "'");
            }
            options.videoPath = *value;
        } else if (name == "--quality") {
            options.quality = StrToInt(*value);
        } else if (name == "--wav") {
            RequireNonEmpty(name, *value);
            options.wavPath = *value;
        } else if (name == "--frame-time") {
            options.frameTime = StrToInt(*value);
            if (options.frameTime < 1) {
                throw UsageError("The frame time must be at least 1 ms, not '" + *value + "'");
            }
        } else if (name == "--direction") {
            if (*value == "forward") {
                options.direction = AviDirection::Forward;
            } else if (*value == "backward") {
                options.direction = AviDirection::Backward;
            } else if (*value == "pingpong") {
                options.direction = AviDirection::PingPong;
            } else {
                throw UsageError("The direction must be forward, backward or pingpong, not '" +
                                 *value + "'");
            }
        } else if (name == "--frames") {
            options.frames = *value;
        } else if (name == "--a") {
            options.a = *value;
        } else if (name == "--b") {
            options.b = *value;
        } else if (name == "--p") {
            options.p = *value;
        } else if (name == "--mode") {
            if (*value == "endpoints") {
                options.mode = InterpolationMode::EndPoints;
            } else if (*value == "middle") {
                options.mode = InterpolationMode::MiddlePoints;
            } else {
                throw UsageError("The mode must be endpoints or middle, not '" + *value + "'");
            }
        } else if (name == "--warp") {
            if (*value == "fast") {
                options.warp = WarpMethod::Fast;
            } else if (*value == "reference") {
                options.warp = WarpMethod::Reference;
            } else {
                throw UsageError("The warp must be fast or reference, not '" + *value + "'");
            }
        } else if (name == "--distance") {
            if (*value == "line") {
                options.warpOptions.distance = WarpDistance::Line;
            } else if (*value == "segment") {
                options.warpOptions.distance = WarpDistance::Segment;
            } else {
                throw UsageError("The distance must be line or segment, not '" + *value + "'");
            }
        } else if (name == "--sampling") {
            if (*value == "nearest") {
                options.warpOptions.sampling = WarpSampling::Nearest;
            } else if (*value == "bilinear") {
                options.warpOptions.sampling = WarpSampling::Bilinear;
            } else {
                throw UsageError("The sampling must be nearest or bilinear, not '" + *value + "'");
            }
        } else if (name == "--supersample") {
            options.warpOptions.supersample = StrToInt(*value);
            if (options.warpOptions.supersample < 1 ||
                options.warpOptions.supersample > kMaxSupersample) {
                throw UsageError("The supersampling must be a whole number from 1 to " +
                                 std::to_string(kMaxSupersample) + ", not '" + *value + "'");
            }
        } else if (name == "--threads") {
            options.threads = StrToInt(*value);
            if (options.threads < 1) {
                throw UsageError("The thread count must be at least 1, not '" + *value + "'");
            }
        }
    }

    options.given = seen;
    if (options.help) {
        return options;
    }
    if (options.demo) {
        for (const std::string& name : seen) {
            if (name != "--demo" && name != "--threads" && name != "--quiet") {
                throw UsageError("The option " + name + " cannot be used with --demo");
            }
        }
        return options;
    }
    // The pictures may come from the lines or morph file; TakeMorphSetup checks them.
    if (!seen.contains("--lines") && !seen.contains("--morph")) {
        throw UsageError("The option --lines or --morph is required");
    }
    if (seen.contains("--lines") && seen.contains("--morph")) {
        throw UsageError("The options --lines and --morph cannot be used together");
    }
    for (const char* videoOnly : kVideoOnlyOptions) {
        if (seen.contains(videoOnly) && !seen.contains("--avi") && !seen.contains("--video")) {
            throw UsageError(std::string("The option ") + videoOnly + " needs --avi or --video");
        }
    }
    if (seen.contains("--quality") && !seen.contains("--video")) {
        throw UsageError("The option --quality needs --video");
    }
    // The sound goes into every video that can carry it; one of them must.
    if (!options.wavPath.empty() && options.aviPath.empty() &&
        FormatInfo(*VideoFormatOfPath(options.videoPath)).soundEncoder == nullptr) {
        throw UsageError("The sound of --wav can go into an AVI, MP4 or WebM video, not into '" +
                         options.videoPath + "'");
    }
    return options;
}

void TakeMorphSetup(RenderOptions& options, const MorphSetup& setup) {
    const std::string& file = options.morphPath.empty() ? options.linesPath : options.morphPath;
    const auto picture = [&](std::string& path, const std::optional<std::string>& fromFile,
                             const char* option) {
        if (path.empty()) {
            if (!fromFile) {
                throw UsageError(std::string("The option ") + option + " is required: '" + file +
                                 "' names no " + (option[2] == 's' ? "source" : "target") +
                                 " picture");
            }
            path = *fromFile;
        }
    };
    picture(options.sourcePath, setup.sourcePath, "--source");
    picture(options.targetPath, setup.targetPath, "--target");
    const auto setting = [&](std::string& text, const std::optional<std::string>& fromFile,
                             const char* option) {
        if (fromFile && !options.given.contains(option)) {
            text = *fromFile;
        }
    };
    setting(options.frames, setup.frames, "--frames");
    setting(options.a, setup.a, "--a");
    setting(options.b, setup.b, "--b");
    setting(options.p, setup.p, "--p");
    if (setup.mode && !options.given.contains("--mode")) {
        options.mode = *setup.mode;
    }
    if (setup.distance && !options.given.contains("--distance")) {
        options.warpOptions.distance = *setup.distance;
    }
    if (setup.sampling && !options.given.contains("--sampling")) {
        options.warpOptions.sampling = *setup.sampling;
    }
    if (setup.supersample && !options.given.contains("--supersample")) {
        options.warpOptions.supersample = *setup.supersample;
    }
}

std::string RenderSynopsis() {
    return "Usage:\n"
           "  morph-render --source S --target T --lines L [--frames N] [--a A] [--b B]\n"
           "               [--p P] [--mode endpoints|middle] [--vqv OUT.vQv] [--png-dir DIR]\n"
           "               [--avi OUT.avi] [--video OUT.mp4|webm|gif|webp|apng]\n"
           "               [--quality Q] [--wav W.wav] [--frame-time MS]\n"
           "               [--direction forward|backward|pingpong] [--threads K]\n"
           "               [--warp fast|reference] [--distance line|segment]\n"
           "               [--sampling nearest|bilinear] [--supersample K]\n"
           "               [--influence-dir DIR]\n"
           "               [--frame-range FIRST:LAST] [--quiet]\n"
           "  morph-render --morph M.morph [any option above, over the file's]\n"
           "  morph-render --demo [--threads K] [--quiet]\n"
           "  morph-render --help\n";
}

std::string RenderUsage() {
    return RenderSynopsis() + "\n" +
           "Renders the morph of picture S into picture T along the line pairs of the lines\n"
           "file L, N frames from S to T, and writes them as an animation file, PNG frames\n"
           "(DIR/frame_000.png, ...), an uncompressed AVI video and/or a video that plays\n"
           "anywhere.\n"
           "\n"
           "  --source S, --target T  pictures of the same size (BMP, PNG, JPEG, ...)\n"
           "  --lines L               UTF-8 text, one line per control line:\n"
           "                            S x1 y1 x2 y2   (a Source line)\n"
           "                            T x1 y1 x2 y2   (a Target line)\n"
           "                          the i-th S and the i-th T line form pair i; blank lines\n"
           "                          and lines starting with # are ignored\n"
           "  --morph M               a morph file: a lines file that may also hold the lines\n"
           "                            source PATH, target PATH (relative to its folder),\n"
           "                            frames N, a A, b B, p P, mode endpoints|middle,\n"
           "                            distance D, sampling S, supersample K\n"
           "                          as the program's Save Morph writes them; options given\n"
           "                          on the command line win (--lines takes one too)\n"
           "  --frames N              frame count, the Source and Target included (2)\n"
           "  --a A, --b B, --p P     weight constants: (length^P / (A + distance))^B (2, 1, 0)\n"
           "  --mode M                line interpolation: endpoints (default) or middle\n"
           "  --vqv OUT.vQv           write the frames as an animation file\n"
           "  --png-dir DIR           write the frames as DIR/frame_000.png, ...\n"
           "  --influence-dir DIR     write for every frame the line pair moving each pixel\n"
           "                          most (DIR/influence_000.png, ...) and how far each\n"
           "                          pixel is read from (DIR/displacement_000.png, ...)\n"
           "  --avi OUT.avi           write the frames as an AVI video, unscaled\n"
           "  --video OUT             write the frames as the video its extension names:\n"
           "                          .mp4 (H.264), .webm (VP9), .gif, .webp or .apng (animated,\n"
           "                          looping); an .mp4 of an odd size gets its last column or\n"
           "                          row repeated to make it even\n"
           "  --quality Q             quality of that video: the CRF of .mp4 (0-51, default 18)\n"
           "                          and .webm (0-63, default 24), lower is better; the quality\n"
           "                          of .webp (0-100, default 90)\n"
           "  --wav W.wav             add the sound of a WAV file to the AVI video and to an .mp4\n"
           "                          (AAC) or .webm (Opus) video, cut or padded to its length\n"
           "  --frame-time MS         milliseconds per video frame (50); a GIF rounds it to\n"
           "                          whole centiseconds, at least 2\n"
           "  --direction D           frame order of the videos: forward (default), backward,\n"
           "                          or pingpong (forward, then backward: 2N frames)\n"
           "  --threads K             use at most K threads (default: every core)\n"
           "  --warp W                fast (default), or reference: the same frames from\n"
           "                          the formulas computed pixel by pixel on one thread,\n"
           "                          far slower; for checking and timing the fast warp\n"
           "  --distance D            distance of a pixel to a line: line (default), to the\n"
           "                          infinite line through it, or segment: past an end, to\n"
           "                          that end point; smoother outlines near short lines\n"
           "  --sampling S            how a colour is read: nearest (default) pixel, or\n"
           "                          bilinear, mixing the four around the read position\n"
           "  --supersample K         K x K samples per pixel, averaged (1 to 4, default 1)\n"
           "                          any of these three off its default warps with real\n"
           "                          positions and distances: smoother, and slower\n"
           "  --frame-range F:L       render only frames F to L (from 0) of the N frames,\n"
           "                          each as a run of all N gives it; PNG frames keep\n"
           "                          their numbers, other outputs hold these frames only\n"
           "  --quiet                 no progress line (only shown on a terminal)\n"
           "  --demo                  render the bundled sample morph to morph-demo.vQv and\n"
           "                          morph-demo/ in the current folder\n"
           "\n"
           "Exit status: 0 on success, 1 on any error (the message goes to stderr).\n";
}

} // namespace morph
