// morph-render's frame ranges end to end: ranges rendered apart make up the whole run, the
// README's GNU parallel recipe and the Slurm script do so too, and the progress line shows
// on a terminal only.
#include "cli/Render.h"
#include "platform/QtImageIO.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

namespace morph {
namespace {

namespace fs = std::filesystem;

constexpr const char* kLines = "S 2 2 20 3\nS 4 12 18 10\nT 3 3 21 2\nT 5 11 17 13\n";

// A picture whose green and blue show the warp and whose red is one value: with 11 frames,
// red 0 blended with red 15 gives the tie 10.5 at frame 7 only for t summed from frame 0
// (7 * 0.1 is a bit more), so a range that multiplied t out would be caught.
Bitmap Picture(int width, int height, std::uint8_t red, int seed) {
    Bitmap bitmap(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            bitmap.setPixel(x, y,
                            RGB(red, std::uint8_t(x * 9 + seed), std::uint8_t(y * 13 + seed)));
        }
    }
    return bitmap;
}

// Every file of a folder by name, with its bytes.
std::map<std::string, std::string> Files(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(dir)) {
        files[entry.path().filename().string()] = test::ReadAll(entry.path().string());
    }
    return files;
}

class FrameRanges : public ::testing::Test {
  protected:
    void SetUp() override {
        SavePng(Picture(24, 16, 0, 1), work_.file("source.png"));
        SavePng(Picture(24, 16, 15, 50), work_.file("target.png"));
        test::WriteAll(work_.file("morph.lines"), kLines);
    }

    struct Result {
        int status = -1;
        std::string out;
        std::string err;
    };

    // Runs a bash script in the work folder, morph-render on its PATH.
    Result Bash(const std::string& script, const std::string& environment = "") {
        test::WriteAll(logs_.file("script.sh"), script);
        const std::string exeDir = fs::path(MORPH_RENDER_EXE).parent_path().string();
        const std::string command = "cd '" + work_.file("") + "' && PATH='" + exeDir +
                                    "':\"$PATH\" " + environment + " bash '" +
                                    logs_.file("script.sh") + "' >'" + logs_.file("out") + "' 2>'" +
                                    logs_.file("err") + "' </dev/null";
        const int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, test::ReadAll(logs_.file("out")),
                test::ReadAll(logs_.file("err"))};
    }

    Result Render(const std::string& args) {
        return Bash("morph-render --source source.png --target target.png --lines morph.lines " +
                    args + "\n");
    }

    // The frames of one run of all 11 into "whole/" and "whole.vQv".
    std::map<std::string, std::string> Whole() {
        const Result whole = Render("--frames 11 --png-dir whole --vqv whole.vQv");
        EXPECT_EQ(whole.status, 0) << whole.err;
        return Files(work_.file("whole"));
    }

    test::TempDir work_;
    test::TempDir logs_;
};

TEST_F(FrameRanges, RangesRenderedApartMakeUpTheWholeRun) {
    const std::map<std::string, std::string> whole = Whole();
    ASSERT_EQ(whole.size(), 11u);
    const std::string wholeVqv = test::ReadAll(work_.file("whole.vQv"));
    const std::size_t frameBytes = 4 * 24 * 16;
    ASSERT_EQ(wholeVqv.size(), 12 + 11 * frameBytes);

    const std::vector<std::vector<std::pair<int, int>>> splits = {
        {{0, 10}},
        {{0, 3}, {4, 7}, {8, 10}},
        {{10, 10}, {1, 9}, {0, 0}},
        {{7, 7}, {0, 6}, {8, 9}, {10, 10}},
    };
    for (std::size_t s = 0; s < splits.size(); ++s) {
        const std::string dir = "split" + std::to_string(s);
        for (const auto& [first, last] : splits[s]) {
            const std::string range = std::to_string(first) + ":" + std::to_string(last);
            SCOPED_TRACE(dir + " " + range);
            const std::string vqv = dir + "-" + std::to_string(first) + ".vQv";
            const Result run = Render("--frames 11 --frame-range " + range + " --png-dir " + dir +
                                      " --vqv " + vqv);
            ASSERT_EQ(run.status, 0) << run.err;
            EXPECT_EQ(run.err, "");
            // The range's .vQv: its own header, then the same frames' bytes of the whole run.
            const int count = last - first + 1;
            std::string expected = wholeVqv.substr(0, 12);
            expected[0] = char(count);
            expected += wholeVqv.substr(12 + std::size_t(first) * frameBytes,
                                        std::size_t(count) * frameBytes);
            EXPECT_EQ(test::ReadAll(work_.file(vqv)), expected);
        }
        EXPECT_EQ(Files(work_.file(dir)), whole) << dir;
    }

    const Result run = Render("--frames 11 --frame-range 4:7 --png-dir part");
    EXPECT_EQ(run.out, "Rendered 4 frames (4 to 7 of 11) of 24 x 16 pixels.\n"
                       "Wrote part/frame_004.png to frame_007.png\n");
    // The names have the digits of the whole sequence's last frame.
    ASSERT_EQ(Render("--frames 1001 --frame-range 999:1000 --png-dir long").status, 0);
    EXPECT_EQ(Files(work_.file("long")).size(), 2u);
    EXPECT_TRUE(fs::exists(work_.file("long/frame_0999.png")));
    EXPECT_TRUE(fs::exists(work_.file("long/frame_1000.png")));
}

TEST_F(FrameRanges, RangesPastTheLastFrameAreRefusedBeforeRendering) {
    const struct {
        const char* args;
        const char* message;
    } refusals[] = {
        {"--frames 11 --frame-range 3:11", "The frame range 3:11 goes past frame 10, the last of "
                                           "11 frames.\n"},
        {"--frame-range 0:2", "The frame range 0:2 goes past frame 1, the last of 2 frames.\n"},
        // The frame count is read first, as ever.
        {"--frames x --frame-range 0:2", "'x' is not a valid integer value.\n"},
        {"--frames 11 --frame-range 2:1",
         "The frame range must be FIRST:LAST, two frame numbers from 0 with FIRST no larger than "
         "LAST, not '2:1'\n"},
    };
    for (const auto& r : refusals) {
        SCOPED_TRACE(r.args);
        const Result run = Render(std::string(r.args) + " --png-dir frames --vqv out.vQv");
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err.substr(0, run.err.find("Usage:")), r.message);
        EXPECT_EQ(run.out, "");
        EXPECT_FALSE(fs::exists(work_.file("frames")));
        EXPECT_FALSE(fs::exists(work_.file("out.vQv")));
    }
}

// The README's recipe, as written there but with 11 frames in ranges of 3, on two jobs here.
TEST_F(FrameRanges, TheGnuParallelRecipeOfTheReadmeGivesTheWholeRun) {
    if (Bash("command -v parallel\n").status != 0) {
        GTEST_SKIP() << "GNU parallel is not installed";
    }
    const std::string readme = test::ReadAll(MORPH_SAMPLES_DIR "/../README.md");
    // The fenced block that pipes into parallel.
    const std::size_t pipe = readme.find("| parallel ");
    ASSERT_NE(pipe, std::string::npos) << "no parallel recipe in the README";
    const std::size_t start = readme.rfind("```sh\n", pipe) + 6;
    const std::size_t end = readme.find("```", pipe);
    ASSERT_TRUE(start > 6 && end != std::string::npos);
    std::string recipe = readme.substr(start, end - start);
    const std::string sizes = "N=600 CHUNK=20";
    const std::size_t at = recipe.find(sizes);
    ASSERT_NE(at, std::string::npos) << recipe;
    recipe.replace(at, sizes.size(), "N=11 CHUNK=3");
    ASSERT_NE(recipe.find("--jobs 2 "), std::string::npos) << recipe;

    const std::map<std::string, std::string> whole = Whole();
    const Result run = Bash(recipe);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Files(work_.file("frames")), whole);
}

TEST_F(FrameRanges, TheSlurmScriptsTasksGiveTheWholeRun) {
    const std::map<std::string, std::string> whole = Whole();
    const std::string script = MORPH_SAMPLES_DIR "/../scripts/slurm-render.sh";
    // Four tasks cover 11 frames in ranges of 3; a fifth has nothing left to do.
    for (int task = 4; task >= 0; --task) {
        SCOPED_TRACE(task);
        const Result run =
            Bash("bash '" + script + "' source.png target.png morph.lines 11 3 frames\n",
                 "SLURM_ARRAY_TASK_ID=" + std::to_string(task) + " SLURM_CPUS_PER_TASK=1");
        ASSERT_EQ(run.status, 0) << run.err;
    }
    EXPECT_EQ(Files(work_.file("frames")), whole);
}

// morph-render with stderr on a pseudo-terminal: everything that reaches the terminal.
std::string RenderOnTerminal(const std::string& dir, const std::string& args) {
    int master = -1;
    int terminal = -1;
    if (::openpty(&master, &terminal, nullptr, nullptr, nullptr) != 0) {
        return "openpty failed";
    }
    const std::string command =
        "cd '" + dir + "' && exec '" MORPH_RENDER_EXE "' " + args + " >/dev/null </dev/null";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(master);
        ::dup2(terminal, STDERR_FILENO);
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(terminal);
    std::string shown;
    char buffer[4096];
    for (;;) {
        // Once the child is gone the terminal reads end (EIO on Linux).
        const ssize_t got = ::read(master, buffer, sizeof buffer);
        if (got > 0) {
            shown.append(buffer, std::size_t(got));
        } else if (!(got < 0 && errno == EINTR)) {
            break;
        }
    }
    ::close(master);
    int raw = 0;
    ::waitpid(child, &raw, 0);
    return shown;
}

TEST_F(FrameRanges, TheProgressLineShowsOnATerminalUnlessQuiet) {
    const std::string inputs = "--source source.png --target target.png --lines morph.lines ";
    const std::string shown =
        RenderOnTerminal(work_.file(""), inputs + "--frames 11 --frame-range 2:7 --vqv a.vQv");
    EXPECT_EQ(shown.rfind("\rRendering: 0 of 6 frames, ", 0), 0u) << shown;
    EXPECT_NE(shown.find("\rRendering: 6 of 6 frames, "), std::string::npos) << shown;
    EXPECT_EQ(shown.back(), '\r') << shown;
    EXPECT_TRUE(fs::exists(work_.file("a.vQv")));

    EXPECT_EQ(RenderOnTerminal(work_.file(""), inputs + "--frames 11 --quiet --vqv b.vQv"), "");
    EXPECT_TRUE(fs::exists(work_.file("b.vQv")));
}

} // namespace
} // namespace morph
