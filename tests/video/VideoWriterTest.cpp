// The video export read back with ffprobe and ffmpeg: codec, size, frames, timing, the
// pictures' fidelity, the sound's length, and every failure leaving the folder as it was.
#include "video/VideoWriter.h"
#include "platform/QtImageIO.h"
#include "support/AnimationFiles.h"
#include "support/Decoders.h"
#include "support/Faults.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace morph {
namespace {

namespace fs = std::filesystem;

// Frame k of `count` of the samples' cross-dissolve, cut to width x height from the top left:
// the kind of picture a morph gives, made without the warp.
Bitmap SampleFrame(int k, int count, int width, int height) {
    static const Bitmap source = LoadPicture(std::string(MORPH_SAMPLES_DIR) + "/source.png");
    static const Bitmap target = LoadPicture(std::string(MORPH_SAMPLES_DIR) + "/target.png");
    Bitmap frame(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Colour s = source.pixel(x % source.width(), y % source.height());
            const Colour t = target.pixel(x % target.width(), y % target.height());
            const auto mix = [&](std::uint8_t a, std::uint8_t b) {
                return std::uint8_t((a * (count - 1 - k) + b * k) / std::max(count - 1, 1));
            };
            frame.setPixel(x, y,
                           RGB(mix(RedOf(s), RedOf(t)), mix(GreenOf(s), GreenOf(t)),
                               mix(BlueOf(s), BlueOf(t))));
        }
    }
    return frame;
}

// The RGB bytes of `frame` as a video of coded size w x h shows it: an odd size made even
// repeats the last column and row.
std::string ShownBytes(const Bitmap& frame, int w, int h) {
    Bitmap shown(w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            shown.setPixel(
                x, y, frame.pixel(std::min(x, frame.width() - 1), std::min(y, frame.height() - 1)));
        }
    }
    return test::RgbBytes(shown);
}

// The types of an MP4 file's top-level boxes, in order.
std::vector<std::string> Mp4Boxes(const std::string& mp4) {
    std::vector<std::string> types;
    for (std::size_t at = 0; at + 8 <= mp4.size();) {
        std::uint64_t size = 0;
        for (int i = 0; i < 4; ++i) {
            size = (size << 8) | std::uint8_t(mp4[at + std::size_t(i)]);
        }
        types.push_back(mp4.substr(at + 4, 4));
        if (size < 8) {
            break;
        }
        at += size;
    }
    return types;
}

std::string FailureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const MorphError& e) {
        return e.message();
    }
    return "";
}

// Writes `count` frames, each made just before it is added and gone right after.
void Write(const std::string& path, VideoSettings settings, int count) {
    VideoWriter writer(path, settings);
    for (int k = 0; k < count; ++k) {
        writer.Add(SampleFrame(k, count, settings.width, settings.height));
    }
    writer.Finish();
}

TEST(VideoWriter, EveryFormatHasItsCodecSizeFramesTimingAndPictures) {
    const struct {
        const char* name;
        int width, height, frameTime, frames;
        const char* codec;
        int shownWidth, shownHeight; // as decoded
        const char* rate;            // frames per second; "": not checked (GIF: see delays)
        double minPsnr;              // 0: not decodable here
        std::vector<int> delays;     // GIF (cs), WebP and APNG (ms); empty: not checked
    } cases[] = {
        {"clip.mp4", 256, 256, 40, 8, "h264", 256, 256, "25/1", 34, {}},
        {"odd.mp4", 165, 101, 33, 5, "h264", 166, 102, "1000/33", 34, {}},
        {"clip.webm", 256, 256, 40, 8, "vp9", 256, 256, "25/1", 34, {}},
        {"odd.webm", 165, 101, 33, 5, "vp9", 165, 101, "1000/33", 34, {}},
        {"clip.gif", 256, 256, 40, 8, "gif", 256, 256, "25/1", 28, {4, 4, 4, 4, 4, 4, 4, 4}},
        // 33 ms rounds to 3 cs; 25 ms to 2 (ties to even); 5 ms is raised to 2.
        {"odd.GIF", 165, 101, 33, 3, "gif", 165, 101, "", 28, {3, 3, 3}},
        {"tie.gif", 32, 16, 25, 2, "gif", 32, 16, "", 28, {2, 2}},
        {"fast.gif", 32, 16, 5, 2, "gif", 32, 16, "", 28, {2, 2}},
        {"one.gif", 32, 16, 40, 1, "gif", 32, 16, "", 28, {4}},
        {"clip.apng", 165, 101, 40, 4, "apng", 165, 101, "25/1", INFINITY, {40, 40, 40, 40}},
        {"clip.webp", 165, 101, 40, 4, "webp", 165, 101, "", 0, {40, 40, 40, 40}},
    };
    const test::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(c.name);
        VideoSettings settings;
        settings.width = c.width;
        settings.height = c.height;
        settings.frameTimeMs = c.frameTime;
        Write(path, settings, c.frames);

        const std::string bytes = test::ReadAll(path);
        if (c.minPsnr > 0) {
            const auto streams = test::ProbeStreams(path);
            ASSERT_EQ(streams.size(), 1u);
            EXPECT_EQ(streams[0].at("codec_name"), c.codec);
            EXPECT_EQ(streams[0].at("width"), std::to_string(c.shownWidth));
            EXPECT_EQ(streams[0].at("height"), std::to_string(c.shownHeight));
            EXPECT_EQ(streams[0].at("nb_read_frames"), std::to_string(c.frames));
            if (*c.rate != '\0') {
                EXPECT_EQ(streams[0].at("r_frame_rate"), c.rate);
            }
            if (c.codec != std::string("apng")) { // its container states no duration
                const double frameSeconds =
                    c.delays.empty() ? c.frameTime / 1000.0 : c.delays.front() / 100.0;
                EXPECT_NEAR(test::ProbeDuration(path), c.frames * frameSeconds, 1e-6);
            }

            const std::string decoded = test::DecodeVideo(path);
            const std::size_t frameBytes = std::size_t(c.shownWidth) * c.shownHeight * 3;
            ASSERT_EQ(decoded.size(), frameBytes * c.frames);
            double lowest = INFINITY;
            for (int k = 0; k < c.frames; ++k) {
                const std::string expected = ShownBytes(SampleFrame(k, c.frames, c.width, c.height),
                                                        c.shownWidth, c.shownHeight);
                const double psnr =
                    test::Psnr(decoded.substr(frameBytes * std::size_t(k), frameBytes), expected);
                EXPECT_GE(psnr, c.minPsnr) << "frame " << k;
                lowest = std::min(lowest, psnr);
            }
            std::printf("%s: %zu bytes, lowest PSNR %.2f dB\n", c.name, bytes.size(), lowest);
        }
        if (c.codec == std::string("h264")) {
            // The index comes first, so that a browser can play the file while it loads.
            EXPECT_EQ(Mp4Boxes(bytes), (std::vector<std::string>{"ftyp", "moov", "free", "mdat"}));
        }
        if (c.codec == std::string("gif")) {
            const test::AnimationTiming t = test::GifTiming(bytes);
            EXPECT_TRUE(t.valid);
            EXPECT_EQ(t.loops, 0);
            EXPECT_EQ(t.delays, c.delays);
        } else if (c.codec == std::string("webp")) {
            const test::AnimationTiming t = test::WebpTiming(bytes);
            EXPECT_TRUE(t.valid);
            EXPECT_EQ(t.width, c.width);
            EXPECT_EQ(t.height, c.height);
            EXPECT_EQ(t.loops, 0);
            EXPECT_EQ(t.delays, c.delays);
        } else if (c.codec == std::string("apng")) {
            const test::AnimationTiming t = test::ApngTiming(bytes);
            EXPECT_TRUE(t.valid);
            EXPECT_EQ(t.loops, 0);
            EXPECT_EQ(t.delays, c.delays);
        }
    }
    // Nothing but the videos is left.
    EXPECT_EQ(dir.entries().size(), std::size(cases));
}

// Root mean square of the samples from `from` to `to` seconds.
double Loudness(const std::vector<std::int16_t>& samples, int rate, double from, double to) {
    double sum = 0;
    const std::size_t first = std::size_t(from * rate);
    const std::size_t last = std::min(samples.size(), std::size_t(to * rate));
    for (std::size_t i = first; i < last; ++i) {
        sum += double(samples[i]) * samples[i];
    }
    return last > first ? std::sqrt(sum / double(last - first)) : 0;
}

// The sound is cut or padded to the video's length, within one encoder frame, in the codec of
// the format, from WAV files of several rates, channel counts and sample sizes.
TEST(VideoWriter, SoundLastsAsLongAsTheVideo) {
    const struct {
        const char* name;
        int rate, channels, bits;
        double wavSeconds;
        const char* codec;
        int frameSamples; // of the encoder, at its rate
    } cases[] = {
        {"short.mp4", 44100, 2, 16, 0.2, "aac", 1024},
        {"long.mp4", 22050, 1, 8, 1.0, "aac", 1024},
        {"short.webm", 44100, 2, 16, 0.2, "opus", 960},
        {"long.webm", 8000, 1, 16, 1.0, "opus", 960},
    };
    const test::TempDir dir;
    constexpr int kFrames = 8;
    constexpr int kFrameTime = 40; // 0.32 s of video
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int wavFrames = int(c.wavSeconds * c.rate);
        test::WriteAll(dir.file("sound.wav"),
                       test::PcmWav(c.rate, c.channels, c.bits,
                                    test::PcmSamples(wavFrames, c.channels, c.bits)));
        VideoSettings settings;
        settings.width = 64;
        settings.height = 48;
        settings.frameTimeMs = kFrameTime;
        settings.wavPath = dir.file("sound.wav");
        Write(dir.file(c.name), settings, kFrames);

        const auto streams = test::ProbeStreams(dir.file(c.name));
        ASSERT_EQ(streams.size(), 2u);
        EXPECT_EQ(streams[0].at("nb_read_frames"), std::to_string(kFrames));
        EXPECT_EQ(streams[1].at("codec_name"), c.codec);
        EXPECT_EQ(streams[1].at("channels"), std::to_string(c.channels));
        const int rate = std::stoi(streams[1].at("sample_rate"));
        const std::vector<std::int16_t> sound = test::DecodeMono(dir.file(c.name));
        const double seconds = double(sound.size()) / rate;
        const double video = kFrames * kFrameTime / 1000.0;
        EXPECT_NEAR(seconds, video, double(c.frameSamples) / rate);
        std::printf("%s: sound %.4f s at %d Hz, video %.4f s\n", c.name, seconds, rate, video);
        // The WAV's noise plays from the start; after a short WAV comes silence.
        EXPECT_GT(Loudness(sound, rate, 0.02, 0.15), 1000);
        if (c.wavSeconds < video) {
            EXPECT_LT(Loudness(sound, rate, 0.25, video), 50);
        }
    }
}

TEST(VideoWriter, ProgressCountsTheFramesOfEachPass) {
    const test::TempDir dir;
    for (const char* name : {"steps.mp4", "steps.gif"}) {
        std::vector<std::string> steps;
        VideoSettings settings;
        settings.width = 16;
        settings.height = 8;
        settings.expectedFrames = 3;
        settings.progress = [&steps](const VideoProgressStep& step) {
            steps.push_back((step.phase == VideoPhase::Encoding ? "E" : "F") +
                            std::to_string(step.done) + "/" + std::to_string(step.total));
            return false;
        };
        Write(dir.file(name), settings, 3);
        const std::vector<std::string> gif = {"E1/3", "E2/3", "E3/3", "F0/3",
                                              "F1/3", "F2/3", "F3/3"};
        const std::vector<std::string> single = {"E1/3", "E2/3", "E3/3", "F3/3"};
        EXPECT_EQ(steps, std::string(name) == "steps.gif" ? gif : single) << name;
    }
}

// Every failure gives its message and leaves the folder as it was: an older file of the name
// keeps its bytes and no temporary stays. Failures of the settings come before any file is
// made, and CheckVideoSettings gives them too.
TEST(VideoWriter, FailuresGiveTheirMessageAndLeaveTheFolderAsItWas) {
    enum Fault {
        None,
        FullDisk,
        Locked,
        CancelByProgress,
        CancelCall,
        CancelSecondPass,
        WrongFrame,
        NoFrames
    };
    const test::TempDir dir;
    const std::string out = dir.file("out");
    const std::string temp = fs::temp_directory_path().string();
    const struct {
        const char* name;
        Fault fault;
        std::string message; // % stands for the output folder
        const char* wav = "";
        std::optional<int> quality = std::nullopt;
        int frameTime = 40;
        int width = 64;
        bool setting = false; // also refused by CheckVideoSettings
    } cases[] = {
        {"clip.mp4", FullDisk, "Cannot write file '%/clip.mp4': File too large"},
        {"clip.webm", FullDisk, "Cannot write file '%/clip.webm': File too large"},
        {"clip.apng", FullDisk, "Cannot write file '%/clip.apng': File too large"},
        {"clip.webp", FullDisk, "Cannot write file '%/clip.webp': File too large"},
        {"clip.gif", FullDisk,
         "Cannot write the video '%/clip.gif': the work file for its frames in '" + temp +
             "' cannot be written: File too large"},
        {"clip.mp4", Locked, "Cannot create file '%/clip.mp4': Permission denied"},
        {"new.gif", Locked, "Cannot create file '%/new.gif': Permission denied"},
        {"clip.mp4", CancelByProgress,
         "Cannot write the video '%/clip.mp4': the export was cancelled"},
        {"clip.webm", CancelCall, "Cannot write the video '%/clip.webm': the export was cancelled"},
        {"clip.gif", CancelSecondPass,
         "Cannot write the video '%/clip.gif': the export was cancelled"},
        {"clip.mp4", WrongFrame,
         "Cannot write the video '%/clip.mp4': frame 2 is 63 x 48 pixels, not 64 x 48 like the "
         "video"},
        {"clip.gif", NoFrames, "Cannot write the video '%/clip.gif': it has no frames"},
        {"clip.mov",
         None,
         "Cannot write the video '%/clip.mov': its name does not end in .mp4, .webm, .gif, .webp "
         "or .apng",
         "",
         {},
         40,
         64,
         true},
        {"clip.mp4",
         None,
         "Cannot write the video '%/clip.mp4' with the sound of '%/noise.wav': it is not a WAV "
         "file that can be read",
         "noise.wav",
         {},
         40,
         64,
         true},
        {"clip.mp4",
         None,
         "Cannot write the video '%/clip.mp4' with the sound of '%/missing.wav': No such file or "
         "directory",
         "missing.wav",
         {},
         40,
         64,
         true},
        {"clip.gif",
         None,
         "Cannot write the video '%/clip.gif': a GIF animation cannot carry the sound of "
         "'%/sound.wav'",
         "sound.wav",
         {},
         40,
         64,
         true},
        {"clip.gif", None,
         "Cannot write the video '%/clip.gif': a GIF animation has no quality "
         "setting",
         "", 5, 40, 64, true},
        {"clip.mp4", None,
         "Cannot write the video '%/clip.mp4': the quality of an MP4 video is "
         "its CRF, 0 to 51, not 52",
         "", 52, 40, 64, true},
        {"clip.webp", None,
         "Cannot write the video '%/clip.webp': the quality of a WebP "
         "animation is its quality, 0 to 100, not -1",
         "", -1, 40, 64, true},
        {"clip.webm",
         None,
         "Cannot write the video '%/clip.webm': the frame time must be at "
         "least 1 ms, not 0",
         "",
         {},
         0,
         64,
         true},
        {"clip.gif",
         None,
         "Cannot write the video '%/clip.gif': a GIF frame lasts at most "
         "655354 ms, not 655355",
         "",
         {},
         655355,
         64,
         true},
        {"clip.apng",
         None,
         "Cannot write the video '%/clip.apng': a video needs at least 1 x 1 "
         "pixels, not 0 x 48",
         "",
         {},
         40,
         0,
         true},
    };
    const auto expand = [&out](std::string text) {
        for (std::size_t at; (at = text.find('%')) != std::string::npos;) {
            text.replace(at, 1, out);
        }
        return text;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " fault " + std::to_string(c.fault));
        fs::remove_all(out);
        fs::create_directories(out);
        for (const char* old : {"clip.mp4", "clip.webm", "clip.gif", "clip.webp", "clip.apng"}) {
            test::WriteAll(out + "/" + old, std::string("older ") + old);
        }
        test::WriteAll(out + "/noise.wav", "RIFF....WAVEnothing like a sound file");
        test::WriteAll(out + "/sound.wav", test::PcmWav(8000, 1, 16, test::PcmSamples(800, 1, 16)));
        const auto before = test::Snapshot(out);

        VideoSettings settings;
        settings.width = c.width;
        settings.height = 48;
        settings.frameTimeMs = c.frameTime;
        settings.quality = c.quality;
        settings.wavPath = *c.wav == '\0' ? "" : out + "/" + c.wav;
        settings.progress = [&c](const VideoProgressStep& step) {
            return (c.fault == CancelByProgress && step.done == 3) ||
                   (c.fault == CancelSecondPass && step.phase == VideoPhase::Finishing &&
                    step.done == 2);
        };
        const std::string path = out + "/" + c.name;
        bool cancelled = false;
        const std::string message = FailureOf([&] {
            try {
                std::optional<test::LockedFolder> locked;
                std::optional<test::PermissionBitsBind> bind;
                std::optional<test::FileSizeLimit> full;
                if (c.fault == Locked) {
                    locked.emplace(out);
                    bind.emplace();
                } else if (c.fault == FullDisk) {
                    full.emplace(200);
                }
                VideoWriter writer(path, settings);
                const int count = c.fault == NoFrames ? 0 : 8;
                for (int k = 0; k < count; ++k) {
                    writer.Add(
                        SampleFrame(k, count, c.width - (c.fault == WrongFrame && k == 2), 48));
                }
                if (c.fault == CancelCall) {
                    writer.Cancel();
                }
                writer.Finish();
            } catch (const VideoCancelled&) {
                cancelled = true;
                throw;
            }
        });
        EXPECT_EQ(message, expand(c.message));
        EXPECT_EQ(cancelled, c.fault == CancelByProgress || c.fault == CancelCall ||
                                 c.fault == CancelSecondPass);
        EXPECT_TRUE(test::Snapshot(out) == before) << "the folder changed";
        if (c.setting) {
            EXPECT_EQ(FailureOf([&] { CheckVideoSettings(path, settings); }), expand(c.message));
        }
    }
}

} // namespace
} // namespace morph
