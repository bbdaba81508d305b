// morph-render end to end: the real executable on pictures and lines written by the tests.
#include "animation/VqvCodec.h"
#include "cli/Render.h"
#include "engine/FrameBuild.h"
#include "platform/QtImageIO.h"
#include "support/AnimationFiles.h"
#include "support/Decoders.h"
#include "support/Faults.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace morph {
namespace {

namespace fs = std::filesystem;

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

Bitmap Picture(int width, int height, int seed) {
    Bitmap bitmap(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            bitmap.setPixel(x, y,
                            RGB(std::uint8_t(x * 9 + seed), std::uint8_t(y * 13 + 3 * seed),
                                std::uint8_t((x ^ y) * 7 + seed * seed)));
        }
    }
    return bitmap;
}

// What a run may set up before morph-render starts.
enum class Fault {
    None,
    FullDisk,      // no file may grow past kFullDiskBytes
    LockedFolders, // permission bits bind, root included
};
// Less than any output of the fixture's pictures, more than any message.
constexpr rlim_t kFullDiskBytes = 120;

constexpr const char* kTwoPairs = "# two pairs\nS 2 2 20 3\nS 4 12 18 10\n"
                                  "T 3 3 21 2\nT 5 11 17 13\n";

class MorphRender : public ::testing::Test {
  protected:
    void SetUp() override {
        source_ = Picture(24, 16, 1);
        target_ = Picture(24, 16, 50);
        SavePng(source_, work_.file("source.png"));
        SavePng(target_, work_.file("target.png"));
        test::WriteAll(work_.file("pairs.lines"), kTwoPairs);
        inputs_ = work_.entries();
    }

    // Runs morph-render in the work folder; "SRC TGT LINES" stand for the usual options.
    // `environment` goes in front of the command ("NAME=value ..."); the fault is set up in
    // the child process before morph-render starts.
    RunResult Run(const std::string& args, Fault fault = Fault::None,
                  const std::string& environment = "") {
        std::string expanded = args;
        const std::string shorthand = "SRC TGT LINES";
        if (const auto at = expanded.find(shorthand); at != std::string::npos) {
            expanded.replace(at, shorthand.size(),
                             "--source source.png --target target.png --lines pairs.lines");
        }
        // morph-render takes the shell's place, so that the watchdog's alarm reaches it.
        const std::string command = "cd '" + work_.file("") + "' && exec env " + environment +
                                    " TMPDIR='" + temp_.file("") + "' '" MORPH_RENDER_EXE "' " +
                                    expanded + " >'" + logs_.file("out") + "' 2>'" +
                                    logs_.file("err") + "' </dev/null";
        const pid_t child = ::fork();
        if (child == 0) {
            if (watchdogSeconds_ > 0) {
                ::alarm(watchdogSeconds_); // outlasts exec: a run that hangs is ended
            }
            if (fault == Fault::FullDisk) {
                test::LimitFileSizeForGood(kFullDiskBytes);
            } else if (fault == Fault::LockedFolders) {
                test::BindPermissionBitsForGood();
            }
            ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        int raw = 0;
        RunResult result;
        if (child > 0 && ::waitpid(child, &raw, 0) == child) {
            result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        }
        result.out = test::ReadAll(logs_.file("out"));
        result.err = test::ReadAll(logs_.file("err"));
        return result;
    }

    // An error run: exit status 1, exactly this message on stderr, and no new files.
    void ExpectRefused(const std::string& args, const std::string& message) {
        SCOPED_TRACE(args);
        const RunResult result = Run(args + " --vqv out.vQv --png-dir frames");
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, message + "\n");
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(work_.entries(), inputs_);
        EXPECT_TRUE(temp_.entries().empty());
    }

    test::TempDir work_;
    test::TempDir logs_;
    test::TempDir temp_;           // the temporary folder of morph-render
    unsigned watchdogSeconds_ = 0; // when not 0, a run taking longer is killed
    Bitmap source_;
    Bitmap target_;
    std::set<std::string> inputs_;
};

TEST_F(MorphRender, WritesTheFramesTheEngineBuildsFromTheSourceToTheTarget) {
    const RunResult result = Run("SRC TGT LINES --frames 4 --a 1.5 --b 2 --p 0.5 --mode middle "
                                 "--threads 1 --vqv out.vQv");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, ""); // no progress bar when stderr is not a terminal
    EXPECT_EQ(fs::file_size(work_.file("out.vQv")), 12u + 4u * 4u * 16u * 24u);

    const std::vector<Bitmap> frames = ReadVqv(work_.file("out.vQv"));
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames.front(), source_);
    EXPECT_EQ(frames.back(), target_);
    EXPECT_NE(frames[1], source_);
    EXPECT_NE(frames[1], frames[2]);

    // Every option reaches the engine: the same build in this process, with the reference
    // warp, gives the same frames, and so does morph-render asked for the reference warp.
    const LinePairs lines = ParseLines(kTwoPairs, "pairs.lines");
    MorphSettings settings;
    settings.frames = 4;
    settings.constants = {1.5, 2.0, 0.5};
    settings.mode = InterpolationMode::MiddlePoints;
    settings.method = WarpMethod::Reference;
    const MorphSequence expected = BuildMorph(
        {source_, target_, lines.source, lines.sourceCount, lines.target, lines.targetCount},
        settings);
    EXPECT_EQ(frames, expected.blends);
    ASSERT_EQ(Run("SRC TGT LINES --frames 4 --a 1.5 --b 2 --p 0.5 --mode middle --warp reference "
                  "--vqv reference.vQv")
                  .status,
              0);
    EXPECT_EQ(ReadVqv(work_.file("reference.vQv")), frames);
}

TEST_F(MorphRender, DefaultsGiveTwoFramesAndTheThreadCountDoesNotMatter) {
    ASSERT_EQ(Run("SRC TGT LINES --vqv two.vQv").status, 0);
    EXPECT_EQ(ReadVqv(work_.file("two.vQv")), (std::vector<Bitmap>{source_, target_}));

    ASSERT_EQ(Run("SRC TGT LINES --frames 5 --vqv one.vQv --threads 1").status, 0);
    ASSERT_EQ(Run("SRC TGT LINES --frames 5 --vqv all.vQv").status, 0);
    EXPECT_EQ(test::ReadAll(work_.file("one.vQv")), test::ReadAll(work_.file("all.vQv")));

    // A run without outputs only renders.
    const RunResult bare = Run("SRC TGT LINES");
    EXPECT_EQ(bare.status, 0) << bare.err;
}

// Every output is the same bytes on 1, 3 or 7 threads: the frames' bands and PNG files are
// made in whatever order the threads take them, and each output still gets them in order.
TEST_F(MorphRender, EveryOutputIsTheSameBytesOnAnyThreadCount) {
    // Taller than a band of rows, so that frames are cut into several bands.
    source_ = Picture(40, 150, 3);
    target_ = Picture(40, 150, 77);
    SavePng(source_, work_.file("source.png"));
    SavePng(target_, work_.file("target.png"));
    std::vector<std::string> outputs;
    for (const char* threads : {"1", "3", "7"}) {
        const std::string dir = std::string("t") + threads;
        const RunResult result =
            Run("SRC TGT LINES --frames 9 --a 1 --b 1.5 --p 0.5 --threads " + std::string(threads) +
                " --vqv " + dir + ".vQv --png-dir " + dir + " --avi " + dir +
                ".avi --direction pingpong --video " + dir + ".apng");
        ASSERT_EQ(result.status, 0) << result.err;
        std::string bytes;
        for (const char* extension : {".vQv", ".avi", ".apng"}) {
            bytes += test::ReadAll(work_.file(dir + extension));
        }
        for (int k = 0; k < 9; ++k) {
            bytes += test::ReadAll(work_.file(dir + "/" + FramePngName(k, 9)));
        }
        outputs.push_back(bytes);
    }
    EXPECT_TRUE(outputs[0] == outputs[1]);
    EXPECT_TRUE(outputs[0] == outputs[2]);
    // And the frames are the engine's whole build's.
    const LinePairs lines = ParseLines(kTwoPairs, "pairs.lines");
    MorphSettings settings;
    settings.frames = 9;
    settings.constants = {1.0, 1.5, 0.5};
    const MorphSequence expected = BuildMorph(
        {source_, target_, lines.source, lines.sourceCount, lines.target, lines.targetCount},
        settings);
    EXPECT_EQ(ReadVqv(work_.file("t3.vQv")), expected.blends);
    EXPECT_EQ(LoadPicture(work_.file("t7/" + FramePngName(4, 9))), expected.blends[4]);
}

TEST_F(MorphRender, PngFramesLoadBackIdenticalInAFolderItCreates) {
    const RunResult result = Run("SRC TGT LINES --frames 3 --vqv out.vQv --png-dir new/frames");
    ASSERT_EQ(result.status, 0) << result.err;
    const std::vector<Bitmap> frames = ReadVqv(work_.file("out.vQv"));
    ASSERT_EQ(frames.size(), 3u);
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(work_.file("new/frames"))) {
        names.insert(entry.path().filename().string());
    }
    EXPECT_EQ(names, (std::set<std::string>{"frame_000.png", "frame_001.png", "frame_002.png"}));
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(LoadPicture(work_.file("new/frames/" + FramePngName(k, 3))),
                  frames[std::size_t(k)])
            << k;
    }
}

TEST_F(MorphRender, BuildChecksStopWithTheirMessagesAndNoOutput) {
    SavePng(Picture(23, 16, 9), work_.file("narrow.png"));
    test::WriteAll(work_.file("three.lines"), std::string(kTwoPairs) + "S 1 1 5 5\n");
    test::WriteAll(work_.file("none.lines"), "# nothing drawn yet\n");
    test::WriteAll(work_.file("dot.lines"), "S 5 5 5 5\nT 5 5 5 5\n");
    inputs_ = work_.entries();

    ExpectRefused("--source source.png --target narrow.png --lines pairs.lines",
                  " The Images Must Have the same Height and Width!");
    ExpectRefused("--source source.png --target target.png --lines three.lines",
                  " Different Number of Lines!");
    ExpectRefused("--source source.png --target target.png --lines none.lines",
                  " Draw at Least ONE Line! ");
    ExpectRefused("SRC TGT LINES --frames 1", "Floating point division by zero.");
    ExpectRefused("--source source.png --target target.png --lines dot.lines",
                  "Invalid floating point operation.");
    ExpectRefused("SRC TGT LINES --frames x2", "'x2' is not a valid integer value.");
    ExpectRefused("SRC TGT LINES --b 1e999", "'1e999' is not a valid floating point value.");
}

// The first error is the one the windows' build would show: the line counts, then no lines,
// then the Frames text, then the line sets, and A, B and P only when the warp starts. What
// the command line says wrong comes before all of them, and what the outputs or the memory
// cannot take comes before anything is rendered.
TEST_F(MorphRender, TheFirstErrorIsTheOneTheBuildMeetsFirst) {
    test::WriteAll(work_.file("three.lines"), std::string(kTwoPairs) + "S 1 1 5 5\n");
    test::WriteAll(work_.file("none.lines"), "");
    // Steep in-between lines a million pixels left of the picture: y beyond 64 bits.
    test::WriteAll(work_.file("far.lines"), "S -999000 10 -1000000 10\nT -1000000 20 -999000 20\n");
    inputs_ = work_.entries();
    const std::string three = "--source source.png --target target.png --lines three.lines";
    const std::string none = "--source source.png --target target.png --lines none.lines";
    const std::string far = "--source source.png --target target.png --lines far.lines";
    const struct {
        std::string args;
        std::string message;
    } cases[] = {
        {three + " --frames abc --a x", " Different Number of Lines!"},
        {none + " --frames abc --a x", " Draw at Least ONE Line! "},
        {"SRC TGT LINES --frames abc --a x", "'abc' is not a valid integer value."},
        {"SRC TGT LINES --frames 0 --a x",
         "A morph needs at least 2 frames; 0 frames cannot be built."},
        {"SRC TGT LINES --frames 1 --a x", "Floating point division by zero."},
        {far + " --frames 13 --mode middle --a x", "Invalid floating point operation."},
        {"SRC TGT LINES --frames 3 --p z --a x --b y", "'x' is not a valid floating point value."},
        {"SRC TGT LINES --frames 3 --p z --b y", "'y' is not a valid floating point value."},
        {"SRC TGT LINES --p z", "'z' is not a valid floating point value."},
        {"SRC TGT LINES --frames 2000000000 --a x --avi big.avi --direction pingpong",
         "Cannot write the video 'big.avi': 4000000000 frames are more than the 2147483647 a "
         "video can hold."},
    };
    for (const auto& c : cases) {
        ExpectRefused(c.args, c.message);
    }
    // Option syntax errors still come first.
    for (const std::string& args :
         {three + " --frames abc --frame 3", three + " --a x --a y", three + " --frames abc --p"}) {
        const RunResult result = Run(args);
        EXPECT_EQ(result.status, 1);
        EXPECT_NE(result.err.find("\nUsage:\n"), std::string::npos) << args << result.err;
    }
}

// Steep in-between lines left of the picture, whose y passes 32 bits (undefined before it
// was computed in 64 bits), land on the picture's corner: a line of no length there, which
// the warp refuses as every zero-length line.
TEST_F(MorphRender, SteepMiddlePointLinesLeftOfThePictureCollapseOntoTheCorner) {
    test::WriteAll(work_.file("steep.lines"), "S -10 -10 -200 -10\nT -200 -20 -10 -20\n");
    inputs_ = work_.entries();
    ExpectRefused("--source source.png --target target.png --lines steep.lines --frames 13 "
                  "--mode middle",
                  "Invalid floating point operation.");
}

TEST_F(MorphRender, UnreadableInputsNameTheFile) {
    test::WriteAll(work_.file("junk.png"), "not a picture at all");
    test::WriteAll(work_.file("bad.lines"), "S 1 2 3 4\n\nT 1 2 3\n");
    inputs_ = work_.entries();

    RunResult result =
        Run("--source junk.png --target target.png --lines pairs.lines --vqv out.vQv");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err.rfind("Cannot read the picture 'junk.png': ", 0), 0u) << result.err;

    result = Run("--source source.png --target target.png --lines bad.lines --vqv out.vQv");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err.rfind("Lines file 'bad.lines', line 3: ", 0), 0u) << result.err;

    result = Run("--source source.png --target missing.png --lines pairs.lines --vqv out.vQv");
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("'missing.png'"), std::string::npos) << result.err;
    EXPECT_EQ(work_.entries(), inputs_);
}

// A FIFO given as a picture or a sound is refused at once: opening it to read would wait for a
// writer that never comes. Nothing here writes to the FIFO; the watchdog ends a run that waits.
TEST_F(MorphRender, InputsThatAreNotRegularFilesAreRefusedWithoutWaiting) {
    ASSERT_EQ(::mkfifo(work_.file("fifo.png").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(work_.file("fifo.wav").c_str(), 0600), 0);
    fs::create_directory(work_.file("folder.png"));
    inputs_ = work_.entries();
    watchdogSeconds_ = 60;
    ExpectRefused("--source fifo.png --target target.png --lines pairs.lines",
                  "Cannot read the picture 'fifo.png': it is not a regular file.");
    ExpectRefused("--source source.png --target fifo.png --lines pairs.lines",
                  "Cannot read the picture 'fifo.png': it is not a regular file.");
    ExpectRefused("--source source.png --target folder.png --lines pairs.lines",
                  "Cannot read the picture 'folder.png': it is a folder.");
    ExpectRefused("SRC TGT LINES --avi out.avi --wav fifo.wav",
                  "Cannot write the video 'out.avi' with the sound of 'fifo.wav': A disk error "
                  "occurred while opening the audio file.");
}

// A reader's complaint reaches the user as the one message naming the picture: libpng prints
// nothing of its own.
TEST_F(MorphRender, ABrokenPictureGivesOnlyOurMessage) {
    const std::string png = test::ReadAll(work_.file("source.png"));
    std::string crc = png;
    crc[29] = char(crc[29] ^ 0x55); // in the CRC of the header chunk
    test::WriteAll(work_.file("crc.png"), crc);
    test::WriteAll(work_.file("cut.png"), png.substr(0, png.size() / 2));
    inputs_ = work_.entries();
    for (const char* name : {"crc.png", "cut.png"}) {
        const RunResult result =
            Run(std::string("--source ") + name + " --target target.png --lines pairs.lines");
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err.rfind("Cannot read the picture '" + std::string(name) + "': ", 0), 0u)
            << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    }
}

// The longest name a folder takes is a name an output may have, new or replacing an older
// file: the temporary and kept names beside it must fit as well.
TEST_F(MorphRender, TheLongestFileNamesAreWrittenAndReplaced) {
    const std::string vqv = std::string(251, 'v') + ".vQv";
    const std::string avi = std::string(251, 'a') + ".avi";
    ASSERT_EQ(vqv.size(), 255u);
    for (const char* round : {"new", "replacing"}) {
        SCOPED_TRACE(round);
        const RunResult result = Run("SRC TGT LINES --vqv " + vqv + " --avi " + avi);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(ReadVqv(work_.file(vqv)).size(), 2u);
        EXPECT_EQ(test::DecodeVideo(work_.file(avi)).size(), 2u * 24u * 16u * 3u);
        std::set<std::string> expected = inputs_;
        expected.insert({vqv, avi});
        EXPECT_EQ(work_.entries(), expected);
    }
}

TEST_F(MorphRender, AFailedPngFolderLeavesNoFramesAndNoAnimationFile) {
    // frame_001.png is taken by a folder, so the last step, renaming the frames, fails.
    fs::create_directories(work_.file("frames/frame_001.png/keep"));
    const RunResult result = Run("SRC TGT LINES --frames 3 --vqv out.vQv --png-dir frames");
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("frame_001.png"), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(work_.file("out.vQv")));
    std::set<std::string> left;
    for (const auto& entry : fs::directory_iterator(work_.file("frames"))) {
        left.insert(entry.path().filename().string());
    }
    EXPECT_EQ(left, (std::set<std::string>{"frame_001.png"}));

    // A folder name taken by a file.
    test::WriteAll(work_.file("plain"), "x");
    const RunResult file = Run("SRC TGT LINES --vqv out.vQv --png-dir plain");
    EXPECT_EQ(file.status, 1);
    EXPECT_EQ(file.err, "Cannot write the frames to 'plain': it is not a folder.\n");
    EXPECT_FALSE(fs::exists(work_.file("out.vQv")));
}

TEST_F(MorphRender, CommandLineErrorsShowTheUsage) {
    RunResult result = Run("SRC TGT LINES --frame 3");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err.rfind("Unknown option --frame.\nUsage:\n", 0), 0u) << result.err;

    result = Run("");
    EXPECT_EQ(result.status, 1);

    result = Run("--help");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out.rfind("Usage:\n", 0), 0u);
    EXPECT_EQ(result.err, "");
}

TEST_F(MorphRender, AviVideoHasTheFramesInTheirDirectionWithTheSound) {
    const std::string samples = test::PcmSamples(5000, 2, 16);
    test::WriteAll(work_.file("sound.wav"), test::PcmWav(22050, 2, 16, samples));
    const RunResult result = Run("SRC TGT LINES --frames 3 --vqv out.vQv --avi out.avi "
                                 "--wav sound.wav --frame-time 40 --direction pingpong");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("Wrote out.avi\n"), std::string::npos) << result.out;
    EXPECT_TRUE(temp_.entries().empty());

    const std::vector<Bitmap> frames = ReadVqv(work_.file("out.vQv"));
    ASSERT_EQ(frames.size(), 3u);
    std::string pingPong;
    for (const int k : {0, 1, 2, 2, 1, 0}) {
        pingPong += test::RgbBytes(frames[std::size_t(k)]);
    }
    const auto streams = test::ProbeStreams(work_.file("out.avi"));
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0].at("width"), "24");
    EXPECT_EQ(streams[0].at("height"), "16");
    EXPECT_EQ(streams[0].at("r_frame_rate"), "25/1");
    EXPECT_EQ(streams[0].at("nb_read_frames"), "6");
    EXPECT_TRUE(test::DecodeVideo(work_.file("out.avi")) == pingPong);
    EXPECT_TRUE(test::DecodeAudio(work_.file("out.avi"), 16) == samples);

    // The defaults: forward at 50 ms a frame, no sound; and backward.
    ASSERT_EQ(Run("SRC TGT LINES --frames 3 --avi forward.AVI").status, 0);
    const auto forward = test::ProbeStreams(work_.file("forward.AVI"));
    ASSERT_EQ(forward.size(), 1u);
    EXPECT_EQ(forward[0].at("r_frame_rate"), "20/1");
    EXPECT_TRUE(test::DecodeVideo(work_.file("forward.AVI")) ==
                test::RgbBytes(frames[0]) + test::RgbBytes(frames[1]) + test::RgbBytes(frames[2]));
    ASSERT_EQ(Run("SRC TGT LINES --frames 3 --avi back.avi --direction backward").status, 0);
    EXPECT_TRUE(test::DecodeVideo(work_.file("back.avi")) ==
                test::RgbBytes(frames[2]) + test::RgbBytes(frames[1]) + test::RgbBytes(frames[0]));
}

TEST_F(MorphRender, AviFailuresShowTheWritersMessageAndLeaveNoOutput) {
    test::WriteAll(work_.file("noise.wav"), "RIFF....WAVEnothing like a sound file");
    inputs_ = work_.entries();
    ExpectRefused("SRC TGT LINES --avi out.avi --wav missing.wav",
                  "Cannot write the video 'out.avi' with the sound of 'missing.wav': A disk error "
                  "occurred while opening the audio file.");
    ExpectRefused("SRC TGT LINES --avi out.avi --wav noise.wav",
                  "Cannot write the video 'out.avi' with the sound of 'noise.wav': The file could "
                  "not be read, indicating a corrupt file or an unrecognized format.");
    ExpectRefused("SRC TGT LINES --avi out.avi --wav song.mp3",
                  "WavFileName must name a file with the .wav extension.");
    ExpectRefused("SRC TGT LINES --avi missing/out.avi",
                  "Cannot write the video 'missing/out.avi': Unable to write output file.");
}

// Every output meets every fault on its way to the disk: a full disk, a folder that takes no
// new files, a folder where a file should go. The run fails with a message naming the file,
// the output folder is left exactly as it was, older outputs included, and no work file stays.
TEST_F(MorphRender, WriteFaultsNameTheFileAndLeaveTheFolderAsItWas) {
    // Frame 0 is the Source picture, so no frame fits on the full disk either.
    ASSERT_GT(fs::file_size(work_.file("source.png")), kFullDiskBytes);
    enum Kind { FullDisk, Locked, FolderInTheWay };
    const struct {
        const char* output;
        Kind kind;
        bool old; // older outputs of those names are there
        const char* message;
    } cases[] = {
        {"--vqv out/clip.vQv", FullDisk, true, "Cannot write file 'out/clip.vQv': File too large."},
        {"--vqv out/clip.vQv", FullDisk, false,
         "Cannot write file 'out/clip.vQv': File too large."},
        {"--vqv out/clip.vQv", Locked, true,
         "Cannot write file 'out/clip.vQv': Permission denied."},
        {"--vqv out/clip.vQv", Locked, false,
         "Cannot create file 'out/clip.vQv': Permission denied."},
        {"--vqv out/clip.vQv", FolderInTheWay, true,
         "Cannot write file 'out/clip.vQv': it is a folder."},
        {"--avi out/clip.avi", FullDisk, true,
         "Cannot write the video 'out/clip.avi': Failed to add frame to AVI. Err=8004406E."},
        {"--avi out/clip.avi", FullDisk, false,
         "Cannot write the video 'out/clip.avi': Failed to add frame to AVI. Err=8004406E."},
        {"--avi out/clip.avi", Locked, true,
         "Cannot write file 'out/clip.avi': Permission denied."},
        {"--avi out/clip.avi", Locked, false,
         "Cannot write the video 'out/clip.avi': Unable to write output file."},
        {"--avi out/clip.avi", FolderInTheWay, true,
         "Cannot write the video 'out/clip.avi': Unable to write output file."},
        {"--video out/clip.mp4", FullDisk, true,
         "Cannot write file 'out/clip.mp4': File too large."},
        {"--video out/clip.mp4", FullDisk, false,
         "Cannot write file 'out/clip.mp4': File too large."},
        {"--video out/clip.mp4", Locked, true,
         "Cannot write file 'out/clip.mp4': Permission denied."},
        {"--video out/clip.mp4", Locked, false,
         "Cannot create file 'out/clip.mp4': Permission denied."},
        {"--video out/clip.mp4", FolderInTheWay, true,
         "Cannot write file 'out/clip.mp4': it is a folder."},
        {"--png-dir out/frames", FullDisk, true,
         "Cannot write file 'out/frames/frame_000.png': File too large."},
        {"--png-dir out/frames", FullDisk, false,
         "Cannot write file 'out/frames/frame_000.png': File too large."},
        {"--png-dir out/frames", Locked, true,
         "Cannot write file 'out/frames/frame_000.png': Permission denied."},
        {"--png-dir out/frames", Locked, false,
         "Cannot create file 'out/frames/frame_000.png': Permission denied."},
        {"--png-dir out/frames", FolderInTheWay, true,
         "Cannot write file 'out/frames/frame_001.png': it is a folder."},
    };
    const std::string out = work_.file("out");
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.output) + " fault " + std::to_string(c.kind) +
                     (c.old ? " over older outputs" : ""));
        fs::remove_all(out);
        fs::create_directories(out + "/frames");
        if (c.old) {
            test::WriteAll(out + "/clip.vQv", "older animation");
            test::WriteAll(out + "/clip.avi", "older video");
            test::WriteAll(out + "/clip.mp4", "older playable video");
            test::WriteAll(out + "/frames/frame_000.png", "older frame");
        }
        if (c.kind == FolderInTheWay) {
            for (const char* name :
                 {"/clip.vQv", "/clip.avi", "/clip.mp4", "/frames/frame_001.png"}) {
                fs::remove(out + name);
                fs::create_directories(out + name + "/inside");
            }
        }
        const auto before = test::Snapshot(out);
        RunResult result;
        if (c.kind == Locked) {
            const test::LockedFolder frames(out + "/frames");
            const test::LockedFolder folder(out);
            result = Run(std::string("SRC TGT LINES --frames 3 ") + c.output, Fault::LockedFolders);
        } else {
            result = Run(std::string("SRC TGT LINES --frames 3 ") + c.output,
                         c.kind == FullDisk ? Fault::FullDisk : Fault::None);
        }
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, std::string(c.message) + "\n");
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(test::Snapshot(out), before);
        EXPECT_TRUE(temp_.entries().empty());
    }
}

// The outputs appear together or not at all: when the last one fails, the ones already written
// go again and the files they replaced come back.
TEST_F(MorphRender, ALaterFailingOutputPutsBackWhatEarlierOnesReplaced) {
    test::WriteAll(work_.file("clip.avi"), "older video");
    fs::create_directories(work_.file("frames"));
    test::WriteAll(work_.file("frames/frame_001.png"), "older frame");
    fs::create_directories(work_.file("clip.vQv/inside"));
    const auto before = test::Snapshot(work_.file(""));
    const RunResult result =
        Run("SRC TGT LINES --frames 3 --png-dir frames --avi clip.avi --vqv clip.vQv");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Cannot write file 'clip.vQv': it is a folder.\n");
    EXPECT_EQ(test::Snapshot(work_.file("")), before);
    EXPECT_TRUE(temp_.entries().empty());

    // Without the folder in the way the same run replaces them all.
    fs::remove_all(work_.file("clip.vQv"));
    ASSERT_EQ(Run("SRC TGT LINES --frames 3 --png-dir frames --avi clip.avi --vqv clip.vQv").status,
              0);
    const std::vector<Bitmap> frames = ReadVqv(work_.file("clip.vQv"));
    EXPECT_EQ(LoadPicture(work_.file("frames/frame_001.png")), frames.at(1));
    EXPECT_EQ(test::DecodeVideo(work_.file("clip.avi")).size(), 3u * 24u * 16u * 3u);
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(work_.file("frames"))) {
        names.insert(entry.path().filename().string());
    }
    EXPECT_EQ(names, (std::set<std::string>{"frame_000.png", "frame_001.png", "frame_002.png"}));
    EXPECT_EQ(work_.entries(), (std::set<std::string>{"clip.avi", "clip.vQv", "frames",
                                                      "pairs.lines", "source.png", "target.png"}));
}

TEST_F(MorphRender, VideoHasTheFramesInTheirDirectionWithTheSound) {
    // APNG is lossless: the frames come back exactly, in the order of the direction.
    RunResult result = Run("SRC TGT LINES --frames 3 --vqv out.vQv --video out.apng "
                           "--frame-time 40 --direction pingpong");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("Wrote out.apng\n"), std::string::npos) << result.out;
    const std::vector<Bitmap> frames = ReadVqv(work_.file("out.vQv"));
    ASSERT_EQ(frames.size(), 3u);
    std::string pingPong;
    for (const int k : {0, 1, 2, 2, 1, 0}) {
        pingPong += test::RgbBytes(frames[std::size_t(k)]);
    }
    EXPECT_TRUE(test::DecodeVideo(work_.file("out.apng")) == pingPong);
    EXPECT_EQ(test::ApngTiming(test::ReadAll(work_.file("out.apng"))).delays,
              (std::vector<int>{40, 40, 40, 40, 40, 40}));

    // The sound goes into the AVI and the WebM video of one run, each as long as its video.
    test::WriteAll(work_.file("sound.wav"),
                   test::PcmWav(22050, 2, 16, test::PcmSamples(2000, 2, 16)));
    result = Run("SRC TGT LINES --frames 3 --avi out.avi --video out.webm --wav sound.wav "
                 "--frame-time 100 --direction backward");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("Wrote out.avi\nWrote out.webm\n"), std::string::npos) << result.out;
    const auto streams = test::ProbeStreams(work_.file("out.webm"));
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0].at("codec_name"), "vp9");
    EXPECT_EQ(streams[0].at("nb_read_frames"), "3");
    EXPECT_EQ(streams[0].at("r_frame_rate"), "10/1");
    EXPECT_EQ(streams[1].at("codec_name"), "opus");
    EXPECT_NEAR(double(test::DecodeMono(work_.file("out.webm")).size()) / 48000, 0.3, 0.02);
    EXPECT_EQ(test::ProbeStreams(work_.file("out.avi")).size(), 2u);
    EXPECT_TRUE(temp_.entries().empty());
}

// FFmpeg's libraries take longer to load than a short morph takes to render: only a run that
// writes a video loads them (the dynamic loader lists every library it opens).
TEST_F(MorphRender, OnlyAVideoLoadsTheVideoLibraries) {
    for (const bool video : {false, true}) {
        SCOPED_TRACE(video);
        const RunResult result =
            Run(std::string("SRC TGT LINES --frames 3 --vqv out.vQv --avi out.avi --png-dir f") +
                    (video ? " --video out.gif" : ""),
                Fault::None, "LD_DEBUG=files");
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.err.find("libavcodec") != std::string::npos, video);
        EXPECT_EQ(result.err.find("libmorph-video.so") != std::string::npos, video);
    }
}

TEST_F(MorphRender, VideoRefusalsComeBeforeRendering) {
    test::WriteAll(work_.file("noise.wav"), "RIFF....WAVEnothing like a sound file");
    inputs_ = work_.entries();
    ExpectRefused("SRC TGT LINES --video out.mp4 --wav noise.wav",
                  "Cannot write the video 'out.mp4' with the sound of 'noise.wav': it is not a "
                  "WAV file that can be read.");
    ExpectRefused("SRC TGT LINES --video out.webm --quality 64",
                  "Cannot write the video 'out.webm': the quality of a WebM video is its CRF, 0 to "
                  "63, not 64.");
    ExpectRefused("SRC TGT LINES --frames 2000000000 --a x --video big.gif --direction pingpong",
                  "Cannot write the video 'big.gif': 4000000000 frames are more than the "
                  "2147483647 a video can hold.");
    const RunResult result = Run("SRC TGT LINES --video out.mkv");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err.rfind("The option --video needs a file name ending in .mp4, .webm, "
                               ".gif, .webp or .apng, not 'out.mkv'\nUsage:\n",
                               0),
              0u)
        << result.err;
    EXPECT_EQ(work_.entries(), inputs_);
}

// The samples made twice as large, and their lines with them.
Bitmap Doubled(const Bitmap& picture) {
    Bitmap big(picture.width() * 2, picture.height() * 2);
    for (int y = 0; y < big.height(); ++y) {
        for (int x = 0; x < big.width(); ++x) {
            // Bilinear, between the pixel centres.
            const int x0 = std::max(x - 1, 0) / 2, y0 = std::max(y - 1, 0) / 2;
            const int x1 = std::min(x0 + 1, picture.width() - 1);
            const int y1 = std::min(y0 + 1, picture.height() - 1);
            const int wx = x == 0 ? 0 : (x % 2 == 1 ? 1 : 3),
                      wy = y == 0 ? 0 : (y % 2 == 1 ? 1 : 3);
            const auto mix = [&](std::uint8_t (*channel)(Colour)) {
                const int top =
                    channel(picture.pixel(x0, y0)) * (4 - wx) + channel(picture.pixel(x1, y0)) * wx;
                const int bottom =
                    channel(picture.pixel(x0, y1)) * (4 - wx) + channel(picture.pixel(x1, y1)) * wx;
                return std::uint8_t((top * (4 - wy) + bottom * wy + 8) / 16);
            };
            big.setPixel(x, y, RGB(mix(RedOf), mix(GreenOf), mix(BlueOf)));
        }
    }
    return big;
}

// A 512 x 512 morph of 30 frames: the MP4 holds every frame within 34 dB of the rendered one
// and is at least 50 times smaller than the uncompressed AVI of the same run.
TEST_F(MorphRender, Mp4OfA512SquareMorphIsFarSmallerThanItsAviAndClose) {
    const fs::path samples = MORPH_SAMPLES_DIR;
    SavePng(Doubled(LoadPicture((samples / "source.png").string())), work_.file("big-source.png"));
    SavePng(Doubled(LoadPicture((samples / "target.png").string())), work_.file("big-target.png"));
    const LinePairs lines = ReadLinesFile((samples / "demo.lines").string());
    std::string doubled;
    for (int i = 0; i < lines.sourceCount; ++i) {
        for (const auto& [side, set] :
             {std::pair{"S", lines.source}, std::pair{"T", lines.target}}) {
            const ControlLine& l = set[std::size_t(i)];
            doubled += std::string(side) + " " + std::to_string(2 * l.x1) + " " +
                       std::to_string(2 * l.y1) + " " + std::to_string(2 * l.x2) + " " +
                       std::to_string(2 * l.y2) + "\n";
        }
    }
    test::WriteAll(work_.file("big.lines"), doubled);
    const RunResult result =
        Run("--source big-source.png --target big-target.png --lines big.lines --frames 30 "
            "--png-dir frames --avi big.avi --video big.mp4");
    ASSERT_EQ(result.status, 0) << result.err;

    const auto aviBytes = fs::file_size(work_.file("big.avi"));
    const auto mp4Bytes = fs::file_size(work_.file("big.mp4"));
    std::printf("512 x 512 x 30 frames: AVI %ju bytes, MP4 %ju bytes, %.1f times smaller\n",
                std::uintmax_t(aviBytes), std::uintmax_t(mp4Bytes), double(aviBytes) / mp4Bytes);
    EXPECT_GE(aviBytes, 50 * mp4Bytes);

    const auto streams = test::ProbeStreams(work_.file("big.mp4"));
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].at("codec_name"), "h264");
    EXPECT_EQ(streams[0].at("width"), "512");
    EXPECT_EQ(streams[0].at("height"), "512");
    EXPECT_EQ(streams[0].at("nb_read_frames"), "30");
    EXPECT_EQ(streams[0].at("r_frame_rate"), "20/1");
    EXPECT_NEAR(test::ProbeDuration(work_.file("big.mp4")), 1.5, 1e-6);
    const std::string decoded = test::DecodeVideo(work_.file("big.mp4"));
    const std::size_t frameBytes = 512 * 512 * 3;
    ASSERT_EQ(decoded.size(), 30 * frameBytes);
    double lowest = INFINITY;
    for (int k = 0; k < 30; ++k) {
        const Bitmap frame = LoadPicture(work_.file("frames/" + FramePngName(k, 30)));
        const double psnr = test::Psnr(decoded.substr(std::size_t(k) * frameBytes, frameBytes),
                                       test::RgbBytes(frame));
        EXPECT_GE(psnr, 34) << "frame " << k;
        lowest = std::min(lowest, psnr);
    }
    std::printf("lowest PSNR of a frame: %.2f dB\n", lowest);
}

// Pictures claiming more pixels than are accepted, and a morph or a picture needing more
// memory than the machine has, stop before anything is allocated, stating the size.
TEST_F(MorphRender, MemoryBoundsStopTheRunBeforeItAllocates) {
    test::WriteAll(work_.file("huge.bmp"), test::BmpHeader(100000, 100000));
    inputs_ = work_.entries();
    ExpectRefused("--source huge.bmp --target target.png --lines pairs.lines",
                  "Cannot read the picture 'huge.bmp': 100000 x 100000 pixels is too large.");

    // Three frame buffers of 24 x 16 pixels on one thread, whatever the frame count, each
    // with a line set; an AVI video adds a frame as 24-bit rows of 72 bytes.
    const std::int64_t need = 3 * 24 * 16 * 4 + 3 * std::int64_t(sizeof(LineSet));
    const std::int64_t videoNeed = need + 72 * 16;
    const std::string variable = kAvailableMemoryVariable;
    RunResult result = Run("SRC TGT LINES --frames 50 --threads 1 --vqv out.vQv", Fault::None,
                           variable + "=" + std::to_string(need - 1));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "This morph of 50 frames of 24 x 16 pixels needs " +
                              std::to_string(need) + " bytes, but only " +
                              std::to_string(need - 1) + " bytes of memory is available.\n");
    result =
        Run("SRC TGT LINES --frames 50 --threads 1 --vqv out.vQv", Fault::None, variable + "=5000");
    EXPECT_EQ(result.err, "This morph of 50 frames of 24 x 16 pixels needs 9.2 KiB, but only "
                          "4.9 KiB of memory is available.\n");
    result = Run("SRC TGT LINES --frames 50 --threads 1 --avi out.avi", Fault::None,
                 variable + "=" + std::to_string(videoNeed - 1));
    EXPECT_EQ(result.err, "This morph of 50 frames of 24 x 16 pixels needs " +
                              std::to_string(videoNeed) + " bytes, but only " +
                              std::to_string(videoNeed - 1) + " bytes of memory is available.\n");
    // The need does not grow with the frame count.
    result = Run("SRC TGT LINES --frames 5000 --threads 1 --vqv out.vQv", Fault::None,
                 variable + "=" + std::to_string(need - 1));
    EXPECT_EQ(result.err, "This morph of 5000 frames of 24 x 16 pixels needs " +
                              std::to_string(need) + " bytes, but only " +
                              std::to_string(need - 1) + " bytes of memory is available.\n");
    result = Run("SRC TGT LINES --frames 50 --vqv out.vQv", Fault::None, variable + "=2000");
    EXPECT_EQ(result.err, "Cannot read the picture 'source.png': its 24 x 16 pixels need 2.1 KiB, "
                          "but only 2.0 KiB of memory is available.\n");
    EXPECT_EQ(work_.entries(), inputs_);

    result = Run("SRC TGT LINES --frames 50 --threads 1 --vqv out.vQv", Fault::None,
                 variable + "=" + std::to_string(need));
    EXPECT_EQ(result.status, 0) << result.err;
}

TEST_F(MorphRender, AMorphFileGivesPicturesLinesAndSettingsAndTheCommandLineWins) {
    std::filesystem::create_directories(work_.file("setup"));
    test::WriteAll(work_.file("setup/m.morph"), std::string(kMorphFileHeader) +
                                                    "\nsource ../source.png\ntarget " +
                                                    work_.file("target.png") +
                                                    "\nframes 4\na 1.5\nb 2\np 0.5\n"
                                                    "mode middle\nrefresh 7\n" +
                                                    kTwoPairs);
    const std::string settings = "--frames 4 --a 1.5 --b 2 --p 0.5 --mode middle";
    ASSERT_EQ(Run("SRC TGT LINES " + settings + " --vqv plain.vQv").status, 0);
    ASSERT_EQ(Run("--morph setup/m.morph --vqv morph.vQv").status, 0);
    ASSERT_EQ(Run("--lines setup/m.morph --vqv lines.vQv").status, 0);
    EXPECT_EQ(test::ReadAll(work_.file("morph.vQv")), test::ReadAll(work_.file("plain.vQv")));
    EXPECT_EQ(test::ReadAll(work_.file("lines.vQv")), test::ReadAll(work_.file("plain.vQv")));

    ASSERT_EQ(Run("SRC TGT LINES --frames 3 --a 1.5 --b 1 --p 0.5 --vqv over1.vQv").status, 0);
    ASSERT_EQ(Run("--morph setup/m.morph --frames 3 --b 1 --mode endpoints --vqv over2.vQv").status,
              0);
    EXPECT_EQ(test::ReadAll(work_.file("over1.vQv")), test::ReadAll(work_.file("over2.vQv")));
    ASSERT_EQ(Run("--morph setup/m.morph --source target.png --target source.png --frames 2 "
                  "--vqv swapped.vQv")
                  .status,
              0);
    EXPECT_EQ(ReadVqv(work_.file("swapped.vQv")), (std::vector<Bitmap>{target_, source_}));
}

TEST_F(MorphRender, BadMorphFilesAreRefusedBeforeAnythingIsWritten) {
    std::string tooMany;
    for (int i = 0; i <= MaxLines; ++i) {
        tooMany += "S 1 1 5 5\n";
    }
    const std::string pictures = "source source.png\ntarget target.png\n";
    struct Case {
        std::string text;
        std::string message;
    };
    const Case cases[] = {
        {pictures + "speed 3\n" + kTwoPairs,
         "Morph file 'bad.morph', line 3: unknown key 'speed'; the keys are S, T, source, "
         "target, frames, a, b, p, mode, refresh, distance, sampling and supersample."},
        {pictures + "a 1,5\n", "Morph file 'bad.morph', line 3: '1,5' is not a number."},
        {"source gone.png\ntarget target.png\n" + std::string(kTwoPairs),
         "Cannot read the picture 'gone.png': No such file or directory."},
        {"target target.png\n" + std::string(kTwoPairs),
         "The option --source is required: 'bad.morph' names no source picture."},
        {pictures + tooMany, "Morph file 'bad.morph', line 103: more than 100 Source lines."},
        {std::string("\x89PNG\r\n\x1a\n\0\0", 10), "Morph file 'bad.morph', line 1: unknown key"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        test::WriteAll(work_.file("bad.morph"), c.text);
        inputs_ = work_.entries();
        const RunResult result = Run("--morph bad.morph --vqv out.vQv --png-dir frames");
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err.substr(0, c.message.size()), c.message);
        EXPECT_EQ(work_.entries(), inputs_);
    }
    std::filesystem::remove(work_.file("bad.morph"));
    std::filesystem::create_directories(work_.file("bad.morph"));
    inputs_ = work_.entries();
    ExpectRefused("--morph bad.morph", "Cannot read the morph file 'bad.morph': Is a directory.");
    ExpectRefused("--morph bad.morph --lines pairs.lines",
                  "The options --lines and --morph cannot be used "
                  "together.\n" +
                      RenderSynopsis() + "Run morph-render --help for the details.");
}

TEST_F(MorphRender, DemoRendersTheSamplesIntoTheCurrentFolder) {
    const RunResult result = Run("--demo");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find(work_.file("morph-demo.vQv")), std::string::npos) << result.out;

    const std::vector<Bitmap> frames = ReadVqv(work_.file("morph-demo.vQv"));
    ASSERT_EQ(frames.size(), std::size_t(kDemoFrames));
    const fs::path samples = MORPH_SAMPLES_DIR;
    EXPECT_EQ(frames.front(), LoadPicture((samples / "source.png").string()));
    EXPECT_EQ(frames.back(), LoadPicture((samples / "target.png").string()));
    for (int k = 0; k < kDemoFrames; ++k) {
        EXPECT_EQ(LoadPicture(work_.file("morph-demo/" + FramePngName(k, kDemoFrames))),
                  frames[std::size_t(k)])
            << k;
    }
}

TEST_F(MorphRender, InfluenceDirGetsBothPicturesOfEveryFrameOrNothing) {
    const RunResult result = Run("SRC TGT LINES --frames 3 --influence-dir new/influence");
    ASSERT_EQ(result.status, 0) << result.err;
    for (const char* name :
         {"influence_000.png", "influence_001.png", "influence_002.png", "displacement_000.png",
          "displacement_001.png", "displacement_002.png"}) {
        const Bitmap picture = LoadPicture(work_.file("new/influence/" + std::string(name)));
        EXPECT_EQ(picture.width(), 24) << name;
        EXPECT_EQ(picture.height(), 16) << name;
    }
    // A folder in the way of the influence pictures leaves no other output behind.
    test::WriteAll(work_.file("plain"), "x");
    const RunResult refused = Run("SRC TGT LINES --vqv out.vQv --influence-dir plain");
    EXPECT_NE(refused.status, 0);
    EXPECT_FALSE(fs::exists(work_.file("out.vQv")));
}

TEST(FramePngName, HasThreeDigitsOrAsManyAsTheLastFrameNeeds) {
    EXPECT_EQ(FramePngName(0, 2), "frame_000.png");
    EXPECT_EQ(FramePngName(7, 10), "frame_007.png");
    EXPECT_EQ(FramePngName(999, 1000), "frame_999.png");
    EXPECT_EQ(FramePngName(5, 1001), "frame_0005.png");
    EXPECT_EQ(FramePngName(1000, 1001), "frame_1000.png");
    EXPECT_EQ(FramePngName(12345, 20000), "frame_12345.png");
}

} // namespace
} // namespace morph
