#include "cli/RenderOptions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace morph {
namespace {

const std::vector<std::string> kRequired = {"--source", "s.png",   "--target",
                                            "t.bmp",    "--lines", "l.txt"};

std::vector<std::string> With(std::vector<std::string> extra) {
    std::vector<std::string> args = kRequired;
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

// The full-stopped message of the error that parsing raises, "" when none, and whether it
// was a usage error.
struct Refusal {
    std::string message;
    bool usage = false;
};

Refusal Refuse(const std::vector<std::string>& args) {
    try {
        ParseRenderOptions(args);
    } catch (const UsageError& e) {
        return {WithFullStop(e.message()), true};
    } catch (const MorphError& e) {
        return {WithFullStop(e.message()), false};
    }
    return {};
}

TEST(RenderOptions, DefaultsAreThePropertiesStartValues) {
    const RenderOptions options = ParseRenderOptions(kRequired);
    EXPECT_EQ(options.sourcePath, "s.png");
    EXPECT_EQ(options.targetPath, "t.bmp");
    EXPECT_EQ(options.linesPath, "l.txt");
    EXPECT_EQ(options.frames, "2");
    EXPECT_EQ(options.a, "2");
    EXPECT_EQ(options.b, "1");
    EXPECT_EQ(options.p, "0");
    EXPECT_EQ(options.mode, InterpolationMode::EndPoints);
    EXPECT_EQ(options.threads, 0);
    EXPECT_EQ(options.vqvPath, "");
    EXPECT_EQ(options.pngDir, "");
    EXPECT_FALSE(options.demo);
    EXPECT_FALSE(options.help);
}

TEST(RenderOptions, EveryOptionInBothSpellings) {
    const RenderOptions options = ParseRenderOptions(
        With({"--frames", " 12", "--a=-0.5", "--b", "1.5e1", "--p", ".25", "--mode=middle", "--vqv",
              "out.vQv", "--png-dir=frames", "--threads", "3"}));
    EXPECT_EQ(options.frames, " 12");
    EXPECT_EQ(options.a, "-0.5");
    EXPECT_EQ(options.b, "1.5e1");
    EXPECT_EQ(options.p, ".25");
    EXPECT_EQ(options.mode, InterpolationMode::MiddlePoints);
    EXPECT_EQ(options.vqvPath, "out.vQv");
    EXPECT_EQ(options.pngDir, "frames");
    EXPECT_EQ(options.threads, 3);
    EXPECT_EQ(ParseRenderOptions(With({"--mode", "endpoints"})).mode, InterpolationMode::EndPoints);
}

// The frame count and A, B and P are converted where the build reads them (the end-to-end
// tests show the messages); the options of morph-render alone are converted now.
TEST(RenderOptions, SettingsStayTextsAndOnlyTheRunOptionsAreConverted) {
    const RenderOptions options =
        ParseRenderOptions(With({"--frames", "abc", "--a", "1,5", "--b", "", "--p=nan"}));
    EXPECT_EQ(options.frames, "abc");
    EXPECT_EQ(options.a, "1,5");
    EXPECT_EQ(options.b, "");
    EXPECT_EQ(options.p, "nan");
    EXPECT_EQ(Refuse(With({"--threads", "x"})).message, "'x' is not a valid integer value.");
    EXPECT_FALSE(Refuse(With({"--threads", "x"})).usage);
    // Syntax still comes first, whatever the values.
    EXPECT_EQ(Refuse(With({"--frames", "abc", "--bogus"})).message, "Unknown option --bogus.");
    EXPECT_EQ(Refuse(With({"--a", "x", "--a", "y"})).message,
              "The option --a is given more than once.");
    EXPECT_EQ(Refuse(With({"--frames", "x", "--p"})).message, "The option --p needs a value.");
}

TEST(RenderOptions, MalformedCommandLinesAreUsageErrors) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        With({"--bogus"}),
        With({"stray"}),
        With({"--frames"}),
        {"--source", "--target", "t.png", "--lines", "l.txt"},
        {"--source", "s.png", "--target", "t.png"},
        With({"--morph", "m.morph"}),
        {"--morph", ""},
        With({"--frames", "3", "--frames", "4"}),
        With({"--mode", "Middle"}),
        With({"--warp", "literal"}),
        With({"--threads", "0"}),
        With({"--source="}),
        With({"--demo"}),
        {"--demo", "--frames", "3"},
        {"--demo=yes"},
    };
    for (const auto& args : cases) {
        std::string line;
        for (const auto& arg : args) {
            line += arg + " ";
        }
        SCOPED_TRACE(line);
        const Refusal refusal = Refuse(args);
        EXPECT_TRUE(refusal.usage) << refusal.message;
        EXPECT_FALSE(refusal.message.empty());
    }
    EXPECT_EQ(Refuse(With({"--bogus"})).message, "Unknown option --bogus.");
    EXPECT_EQ(Refuse({"--source", "s.png", "--target", "t.png"}).message,
              "The option --lines or --morph is required.");
}

TEST(RenderOptions, WarpOptionsAndTheirRefusals) {
    EXPECT_EQ(ParseRenderOptions(kRequired).warpOptions, WarpOptions{});
    const RenderOptions options = ParseRenderOptions(
        With({"--distance", "segment", "--sampling=bilinear", "--supersample", "4"}));
    EXPECT_EQ(options.warpOptions, (WarpOptions{WarpDistance::Segment, WarpSampling::Bilinear, 4}));
    EXPECT_EQ(
        ParseRenderOptions(With({"--distance=line", "--sampling", "nearest", "--supersample=1"}))
            .warpOptions,
        WarpOptions{});
    const struct {
        std::vector<std::string> args;
        std::string message;
        bool usage;
    } refusals[] = {
        {With({"--distance", "Segment"}), "The distance must be line or segment, not 'Segment'",
         true},
        {With({"--sampling", "cubic"}), "The sampling must be nearest or bilinear, not 'cubic'",
         true},
        {With({"--supersample", "0"}),
         "The supersampling must be a whole number from 1 to 4, not '0'", true},
        {With({"--supersample", "5"}),
         "The supersampling must be a whole number from 1 to 4, not '5'", true},
        {With({"--supersample", "2x"}), "'2x' is not a valid integer value.", false},
        {With({"--supersample"}), "The option --supersample needs a value.", true},
        {{"--demo", "--sampling", "bilinear"},
         "The option --sampling cannot be used with --demo.",
         true},
    };
    for (const auto& r : refusals) {
        const Refusal refusal = Refuse(r.args);
        EXPECT_EQ(refusal.message, r.message);
        EXPECT_EQ(refusal.usage, r.usage) << r.message;
    }
}

TEST(RenderOptions, WarpOptionsComeFromTheMorphFileUnlessTheCommandLineGivesThem) {
    const MorphSetup setup =
        ParseMorph("distance segment\nsampling bilinear\nsupersample 3\n", "m.morph");
    RenderOptions fromFile = ParseRenderOptions(kRequired);
    TakeMorphSetup(fromFile, setup);
    EXPECT_EQ(fromFile.warpOptions,
              (WarpOptions{WarpDistance::Segment, WarpSampling::Bilinear, 3}));

    // Each option the command line gives wins on its own, also when it names the default.
    const struct {
        std::vector<std::string> args;
        WarpOptions expected;
    } cases[] = {
        {{"--distance", "line"}, {WarpDistance::Line, WarpSampling::Bilinear, 3}},
        {{"--sampling", "nearest"}, {WarpDistance::Segment, WarpSampling::Nearest, 3}},
        {{"--supersample", "1"}, {WarpDistance::Segment, WarpSampling::Bilinear, 1}},
    };
    for (const auto& c : cases) {
        RenderOptions options = ParseRenderOptions(With(c.args));
        TakeMorphSetup(options, setup);
        EXPECT_EQ(options.warpOptions, c.expected) << c.args.front();
    }

    // A file without the keys leaves the command line's choices (or the defaults).
    RenderOptions plain = ParseRenderOptions(With({"--sampling", "bilinear"}));
    TakeMorphSetup(plain, ParseMorph("frames 3\n", "m.morph"));
    EXPECT_EQ(plain.warpOptions, (WarpOptions{WarpDistance::Line, WarpSampling::Bilinear, 1}));
}

TEST(RenderOptions, AviOptionsAndTheirDefaults) {
    const RenderOptions plain = ParseRenderOptions(kRequired);
    EXPECT_EQ(plain.aviPath, "");
    EXPECT_EQ(plain.wavPath, "");
    EXPECT_EQ(plain.frameTime, 50);
    EXPECT_EQ(plain.direction, AviDirection::Forward);

    const RenderOptions all = ParseRenderOptions(With(
        {"--avi", "out/Movie.AVI", "--wav=s.wav", "--frame-time", "40", "--direction=pingpong"}));
    EXPECT_EQ(all.aviPath, "out/Movie.AVI");
    EXPECT_EQ(all.wavPath, "s.wav");
    EXPECT_EQ(all.frameTime, 40);
    EXPECT_EQ(all.direction, AviDirection::PingPong);
    EXPECT_EQ(ParseRenderOptions(With({"--avi", "m.avi", "--direction", "backward"})).direction,
              AviDirection::Backward);

    EXPECT_EQ(Refuse(With({"--wav", "s.wav"})).message, "The option --wav needs --avi or --video.");
    EXPECT_EQ(Refuse(With({"--direction", "forward"})).message,
              "The option --direction needs --avi or --video.");
    EXPECT_EQ(Refuse(With({"--avi", "movie.mp4"})).message,
              "The option --avi needs a file name ending in .avi, not 'movie.mp4'");
    EXPECT_EQ(Refuse(With({"--avi", "avi"})).message,
              "The option --avi needs a file name ending in .avi, not 'avi'");
    EXPECT_EQ(Refuse(With({"--avi", "m.avi", "--frame-time", "0"})).message,
              "The frame time must be at least 1 ms, not '0'");
    EXPECT_EQ(Refuse(With({"--avi", "m.avi", "--direction", "sideways"})).message,
              "The direction must be forward, backward or pingpong, not 'sideways'");
    EXPECT_EQ(Refuse(With({"--avi", "m.avi", "--frame-time", "fast"})).message,
              "'fast' is not a valid integer value.");
    EXPECT_TRUE(Refuse({"--demo", "--avi", "m.avi"}).usage);
}

// --video takes the formats by their extension in any case; the video options then apply to
// it as to --avi, and the sound needs a video that can carry it.
TEST(RenderOptions, VideoOptions) {
    const RenderOptions video =
        ParseRenderOptions(With({"--video", "out/Clip.MP4", "--quality", "23", "--frame-time=40",
                                 "--wav", "s.wav", "--direction", "pingpong"}));
    EXPECT_EQ(video.videoPath, "out/Clip.MP4");
    EXPECT_EQ(video.quality, 23);
    EXPECT_EQ(video.frameTime, 40);
    EXPECT_EQ(video.wavPath, "s.wav");
    EXPECT_EQ(video.direction, AviDirection::PingPong);
    EXPECT_EQ(ParseRenderOptions(kRequired).quality, std::nullopt);
    for (const char* name : {"a.webm", "a.gif", "a.webp", "a.apng", "a.Gif"}) {
        EXPECT_EQ(ParseRenderOptions(With({"--video", name})).videoPath, name);
    }
    // A silent format beside an AVI video: the sound goes into the AVI.
    EXPECT_EQ(
        ParseRenderOptions(With({"--video", "a.gif", "--avi", "a.avi", "--wav", "s.wav"})).wavPath,
        "s.wav");

    const struct {
        std::vector<std::string> args;
        const char* message;
    } refusals[] = {
        {{"--video", "clip.mov"},
         "The option --video needs a file name ending in .mp4, .webm, .gif, .webp or .apng, not "
         "'clip.mov'"},
        {{"--video", ".mp4"},
         "The option --video needs a file name ending in .mp4, .webm, .gif, .webp or .apng, not "
         "'.mp4'"},
        {{"--video", "dir.mp4/"},
         "The option --video needs a file name ending in .mp4, .webm, .gif, .webp or .apng, not "
         "'dir.mp4/'"},
        {{"--quality", "20"}, "The option --quality needs --video."},
        {{"--avi", "a.avi", "--quality", "20"}, "The option --quality needs --video."},
        {{"--frame-time", "20"}, "The option --frame-time needs --avi or --video."},
        {{"--video", "a.gif", "--wav", "s.wav"},
         "The sound of --wav can go into an AVI, MP4 or WebM video, not into 'a.gif'"},
    };
    for (const auto& r : refusals) {
        SCOPED_TRACE(r.message);
        const Refusal refusal = Refuse(With(r.args));
        EXPECT_TRUE(refusal.usage);
        EXPECT_EQ(refusal.message, r.message);
    }
    EXPECT_EQ(Refuse(With({"--video", "a.mp4", "--quality", "good"})).message,
              "'good' is not a valid integer value.");
}

// A range is FIRST:LAST in plain decimal digits, FIRST no larger than LAST; whether LAST is a
// frame of the morph is checked once the frame count is converted.
TEST(RenderOptions, FrameRangeAndQuiet) {
    const RenderOptions plain = ParseRenderOptions(kRequired);
    EXPECT_EQ(plain.frameRange, std::nullopt);
    EXPECT_FALSE(plain.quiet);
    const struct {
        const char* text;
        FrameRange range;
    } accepted[] = {{"3:7", {3, 7}},
                    {"0:0", {0, 0}},
                    {"12:12", {12, 12}},
                    {"007:010", {7, 10}},
                    {"0:999999999", {0, 999999999}}};
    for (const auto& a : accepted) {
        SCOPED_TRACE(a.text);
        EXPECT_EQ(ParseRenderOptions(With({"--frame-range", a.text})).frameRange, a.range);
        EXPECT_EQ(ParseRenderOptions(With({std::string("--frame-range=") + a.text})).frameRange,
                  a.range);
    }
    for (const char* text :
         {"", "3", "3:", ":7", "7:3", "-1:3", "3:-1", "a:b", "3:7:9", " 3:7", "3:7 ", "+3:7",
          "3.0:7", "1e1:20", "3-7", "0x1:0x2", "1000000000:1000000001"}) {
        SCOPED_TRACE(text);
        const Refusal refusal = Refuse(With({"--frame-range", text}));
        EXPECT_TRUE(refusal.usage);
        EXPECT_EQ(refusal.message, std::string("The frame range must be FIRST:LAST, two frame "
                                               "numbers from 0 with FIRST no larger than LAST, "
                                               "not '") +
                                       text + "'");
    }

    EXPECT_TRUE(ParseRenderOptions(With({"--quiet"})).quiet);
    EXPECT_TRUE(ParseRenderOptions({"--demo", "--quiet"}).quiet);
    EXPECT_EQ(Refuse(With({"--quiet=yes"})).message, "The option --quiet takes no value.");
    EXPECT_EQ(Refuse({"--demo", "--frame-range", "1:2"}).message,
              "The option --frame-range cannot be used with --demo.");
    EXPECT_EQ(Refuse(With({"--frame-range", "1:2", "--frame-range=3:4"})).message,
              "The option --frame-range is given more than once.");
}

TEST(RenderOptions, DemoAndHelpNeedNothingElse) {
    EXPECT_TRUE(ParseRenderOptions({"--help"}).help);
    EXPECT_TRUE(ParseRenderOptions({"--demo"}).demo);
    const RenderOptions demo = ParseRenderOptions({"--threads", "1", "--demo"});
    EXPECT_TRUE(demo.demo);
    EXPECT_EQ(demo.threads, 1);
}

} // namespace
} // namespace morph
